// The reading file: the plain LABEL=value text of a tracing, padded and
// enciphered with AES-128-CBC, and the save flow that writes it.
#pragma once

#include "Tracedata.h"

#include <string>

class UserInterface;

constexpr int kValueListSize = 20000;        // characters of one eye's value lines
constexpr int kReadingTextCapacity = 100000; // plain text plus padding, and ciphertext
constexpr int kReadingPathMax = 259;         // characters of the whole file path
constexpr int kReadingLabelTextMax = 254;    // characters of the vendor and model texts

constexpr int kRadiusValues = 1;
constexpr int kZValues = 2;

// The texts written as VENDOR= and MODEL= into every reading file (Windows-1252
// bytes, as the file holds them), and whether the success message is shown.
struct ReadingContext {
    std::string vendor;
    std::string model;
    bool noMsg = false;
};

extern const char* const kReadingKey; // 16 ASCII characters, no terminator used
extern const char* const kMessageSaveFailed;
extern const char* const kMessageSaveSucceeded;
extern const char* const kMessagePathTooLong;
extern const char* const kMessageReadingTooLong;
extern const char* const kPendingFolder; // under the user's home: where a refused reading is kept

// The R= or Z= lines of one eye into `out` (room for kValueListSize characters),
// without CR LF after the last line. 0, or 1 when the list is empty (out unchanged).
[[nodiscard]] int formatValueList(char* out, const struct_eyetrace& eye, int kind);

// The plain text of the reading (blocks in file order, CR LF lines). 0, or 1 when
// it would not fit `capacity` bytes (then `length` is 0).
[[nodiscard]] int buildReadingText(const struct_tracedata& record, const ReadingContext& context,
                                   char* text, int capacity, int& length);

// Pads the `textLength` bytes of `text` (which holds `capacity`) as PKCS #7 in
// place and enciphers them into `bytes` (room for the padded length) with the
// reading key. 0, or 1 when the padding does not fit.
[[nodiscard]] int encipherReadingText(unsigned char* text, int textLength, int capacity,
                                      unsigned char* bytes, int& length);

// Plain text, padded and enciphered into `bytes` (room for kReadingTextCapacity).
// 0, or 1 when the text is too long for the buffer.
[[nodiscard]] int buildReadingFile(const struct_tracedata& record, const ReadingContext& context,
                                   unsigned char* bytes, int& length);

// "<n>" for a job whose leading integer is positive (all its digits, leading
// zeros removed, however many), else "leitura".
std::string readingFileName(const char* job);
// The directory with exactly one trailing '/' (an empty one gives "/").
std::string readingDirectoryWithSeparator(const std::string& directory);

enum SaveOutcome {
    kSaved = 0,
    kSaveNotWritten = 1, // the file could not be written completely
    kSavePathTooLong = 2,
    kSaveTextTooLong = 3,
};

// The save flow: geometry, picture, reading file, clipboard and message.
// `writtenPath`, when given, receives the path of the file written: in the
// reading directory (kSaved), or, when the directory refused it, in the pending
// folder, where the reading is kept whole (empty when it could not be kept).
// Whatever failed, the clipboard is emptied, so that no earlier reading's path
// stays there to be taken for this one.
[[nodiscard]] SaveOutcome saveReading(struct_tracedata& record, const std::string& readingDirectory,
                                      const ReadingContext& context, UserInterface& ui,
                                      std::string* writtenPath = nullptr);

// A reading that is not saved: the clipboard is emptied, then the message shown.
void reportReadingNotSaved(UserInterface& ui, const std::string& message);

// "<home>/krvw/pendentes/" of the user running the program; empty when the
// home folder is not known.
std::string pendingReadingsDirectory();

// The system's reason for a failed file operation (an errno value), in Portuguese.
std::string systemReason(int error);

enum ReadingFolderState {
    kFolderUsable = 0,
    kFolderMissing = 1,     // no such folder (or not a folder)
    kFolderNotWritable = 2, // this user cannot make files in it
};

// Whether this user can write readings into `directory`.
[[nodiscard]] ReadingFolderState checkReadingFolder(const std::string& directory);

// The plain text of a reading file's bytes (the reverse of buildReadingFile, for
// the support tools: the program itself never reads a reading file back). False,
// with the reason, for bytes that are not a reading file: too long, a length that
// is not a non-zero multiple of 16, or padding that does not check.
[[nodiscard]] bool decipherReading(const std::string& cipher, std::string& plain,
                                   std::string& reason);
