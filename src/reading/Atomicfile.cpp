#include "Atomicfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const FileSystemCalls kRealCalls = {::write, ::fsync, ::close, ::rename};
const FileSystemCalls* g_calls = &kRealCalls;

// A hidden name that a lab system watching for *.krvw does not pick up.
int createTemporary(const std::string& path, std::string& temporary) {
    const std::string stem = directoryOf(path) + "." + nameOf(path) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = g_calls->write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC; // no progress: as good as a full disk
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void syncDirectory(const std::string& path) {
    const std::string directory = directoryOf(path);
    const int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd); // best effort: the rename itself is already done
        ::close(fd);
    }
}

// Gives the finished temporary file the name `path` without replacing a file
// of that name: a hard link fails when the name is taken. A file system without
// hard links gets the name by a rename once no file has it.
AtomicWriteResult linkWithoutReplacing(const std::string& temporary, const std::string& path) {
    if (link(temporary.c_str(), path.c_str()) == 0) {
        unlink(temporary.c_str());
        return kWriteDone;
    }
    if (errno == EEXIST)
        return kWriteNameTaken;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return kWriteNotRenamed;
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0) {
        errno = EEXIST;
        return kWriteNameTaken;
    }
    return g_calls->rename(temporary.c_str(), path.c_str()) == 0 ? kWriteDone : kWriteNotRenamed;
}

} // namespace

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

AtomicWriteResult writeFileAtomically(const std::string& path, const void* data, size_t size,
                                      const AtomicWriteMode& how, int* systemError) {
    if (systemError != nullptr)
        *systemError = 0;
    std::string temporary;
    const int fd = createTemporary(path, temporary);
    if (fd < 0) {
        if (systemError != nullptr)
            *systemError = errno;
        return kWriteCannotCreate;
    }
    // The mode is set outright, so the umask does not take the others' read
    // access away; a file being replaced may keep its own (a shared configuration).
    mode_t mode = how.mode;
    struct stat existing;
    if (how.keepExistingMode && stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;
    fchmod(fd, mode);
    AtomicWriteResult result = kWriteDone;
    int error = 0;
    if (!writeAll(fd, static_cast<const unsigned char*>(data), size))
        result = kWriteFailed;
    else if (g_calls->fsync(fd) != 0)
        result = kWriteNotFlushed;
    if (result != kWriteDone)
        error = errno;
    if (g_calls->close(fd) != 0 && result == kWriteDone) {
        result = kWriteNotFlushed;
        error = errno;
    }
    if (result == kWriteDone) {
        if (how.replace)
            result = g_calls->rename(temporary.c_str(), path.c_str()) == 0 ? kWriteDone
                                                                           : kWriteNotRenamed;
        else
            result = linkWithoutReplacing(temporary, path);
        if (result != kWriteDone)
            error = errno;
    }
    if (result != kWriteDone) {
        unlink(temporary.c_str());
        if (systemError != nullptr)
            *systemError = error;
        return result;
    }
    syncDirectory(path);
    return kWriteDone;
}

void setFileSystemCallsForTesting(const FileSystemCalls* calls) {
    g_calls = calls != nullptr ? calls : &kRealCalls;
}
