// Writes a whole file so that a reader sees either no file (or the previous one)
// or the complete new content, never a part of it.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

enum AtomicWriteResult {
    kWriteDone = 0,
    kWriteCannotCreate = 1, // the temporary file cannot be made in the directory
    kWriteFailed = 2,       // a write failed or stopped short (disk full, I/O error)
    kWriteNotFlushed = 3,   // flushing or closing failed
    kWriteNotRenamed = 4,   // the finished file cannot take its name
    kWriteNameTaken = 5,    // a file of that name exists and was not to be replaced
};

// Readable by every user who may read the folder, whatever the umask: the lab
// system reads the readings as another user, and every user the configuration.
constexpr mode_t kSharedFileMode = 0644;

// How the new file takes its place.
struct AtomicWriteMode {
    mode_t mode = kSharedFileMode; // the permissions of the new file, whatever the umask
    bool keepExistingMode = false; // a file being replaced keeps its own permissions
    bool replace = true;           // false: an existing file of the name stays (kWriteNameTaken)
};

// The folder part of `path`, with its trailing '/' ("" when it has none), and
// the name after it.
std::string directoryOf(const std::string& path);
std::string nameOf(const std::string& path);

// The data goes to a hidden temporary file beside `path`, is flushed to disk,
// and then renamed to `path`. On failure nothing is left behind, and
// `systemError`, when given, receives the errno of the step that failed.
[[nodiscard]] AtomicWriteResult writeFileAtomically(const std::string& path, const void* data,
                                                    size_t size, const AtomicWriteMode& how = {},
                                                    int* systemError = nullptr);

// The system calls the writer uses; tests replace them to act out a full disk.
struct FileSystemCalls {
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
};
// Null restores the real calls.
void setFileSystemCallsForTesting(const FileSystemCalls* calls);
