#include "Readingfile.h"

#include "Atomicfile.h"
#include "Codepage.h"
#include "Frameimage.h"
#include "Funcoesgerais.h"
#include "Rijndael.h"
#include "Userinterface.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char* const kReadingKey = "mnbvcxzlmnbvcxzl";
const char* const kMessageSaveFailed = "Não foi possível gravar os dados da leitura. Por favor, "
                                       "verifique se possui acesso ao diretório.";
const char* const kMessageSaveSucceeded =
    "Concluído. O caminho do arquivo de leitura foi automaticamente\ncopiado para a Área de "
    "Transferência do Windows.";
const char* const kMessagePathTooLong =
    "Não foi possível gravar os dados da leitura: o caminho do arquivo passa de 259 caracteres. "
    "Por favor, escolha em \"Parâmetros\" um diretório de leitura com um caminho mais curto.";
const char* const kMessageReadingTooLong =
    "Não foi possível gravar os dados da leitura: os dados recebidos do tracer excedem o tamanho "
    "de um arquivo de leitura.";
const char* const kPendingFolder = "krvw/pendentes";

namespace {

constexpr int kWrapAfter = 75; // a value line is ended once it is longer than this

// Appends to a fixed buffer; once something did not fit, it stays failed.
class TextWriter {
public:
    TextWriter(char* buffer, int capacity) : m_buffer(buffer), m_capacity(capacity) {}

    void append(const char* text, size_t n) {
        if (m_failed || n > static_cast<size_t>(m_capacity - m_length)) {
            m_failed = true;
            return;
        }
        std::memcpy(m_buffer + m_length, text, n);
        m_length += static_cast<int>(n);
    }
    void append(const char* text) { append(text, std::strlen(text)); }
    void append(const std::string& text) { append(text.data(), text.size()); }
    void append(char c) { append(&c, 1); }
    void appendInt(int value) {
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        append(digits, static_cast<size_t>(result.ptr - digits));
    }
    void appendMeasure(double value) {
        std::string text;
        formatDouble(text, value, "%.2lf");
        append(text);
    }
    void appendPair(const char* label, double right, double left) {
        append(label);
        appendMeasure(right);
        append(';');
        appendMeasure(left);
        append("\r\n");
    }

    bool failed() const { return m_failed; }
    int length() const { return m_length; }

private:
    char* m_buffer;
    int m_capacity;
    int m_length = 0;
    bool m_failed = false;
};

void appendTraceBlock(TextWriter& text, char* list, const char* header, const char* eyePart,
                      char traceType, const struct_eyetrace& eye, int kind) {
    const int count = kind == kRadiusValues ? eye.radiusCount : eye.zCount;
    if (count <= 0 || formatValueList(list, eye, kind) != 0)
        return;
    text.append(header);
    text.appendInt(kind == kRadiusValues ? usableRadiusCount(eye) : usableZCount(eye));
    text.append(eyePart);
    text.append(traceType);
    text.append("\r\n");
    text.append(list);
    text.append("\r\n");
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    std::string directory = cwd;
    if (directory.back() != '/')
        directory += '/';
    return directory + path;
}

// Why the file `path` could not be written in its folder. A folder with the
// sticky bit lets only a file's owner replace it: that is said as it is.
std::string folderFailureReason(const std::string& path, int error) {
    struct stat folder;
    struct stat existing;
    if ((error == EPERM || error == EACCES) && stat(directoryOf(path).c_str(), &folder) == 0 &&
        (folder.st_mode & S_ISVTX) != 0 && stat(path.c_str(), &existing) == 0 &&
        existing.st_uid != geteuid() && folder.st_uid != geteuid())
        return "o arquivo " + nameOf(path) +
               " já existe e é de outro usuário; nesta pasta, que tem o bit sticky (modo 1777), "
               "só o dono de um arquivo pode substituí-lo";
    return systemReason(error);
}

// A folder and its parents, as mkdir -p makes them.
void makeFolders(const std::string& directory) {
    for (size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1))
        mkdir(directory.substr(0, slash).c_str(), 0777); // an existing one is fine
}

// Keeps the reading's file in the pending folder under a name no other file
// there has (815.krvw, 815-2.krvw, ...): a reading kept earlier is never
// replaced. The sentence for the message: where it was kept, or why it could not be.
std::string keepPending(const std::string& name, const unsigned char* bytes, int length,
                        std::string& keptPath) {
    keptPath.clear();
    const std::string directory = pendingReadingsDirectory();
    if (directory.empty())
        return "A leitura também não pôde ser guardada: a pasta pessoal do usuário não é "
               "conhecida.";
    makeFolders(directory);
    AtomicWriteMode how;
    how.replace = false;
    int error = 0;
    constexpr int kNamesTried = 100;
    for (int n = 1; n <= kNamesTried; ++n) {
        std::string path = directory + name;
        if (n > 1)
            path.append(1, '-').append(std::to_string(n));
        path += ".krvw";
        const AtomicWriteResult result =
            writeFileAtomically(path, bytes, static_cast<size_t>(length), how, &error);
        if (result == kWriteDone) {
            keptPath = path;
            return "A leitura foi guardada em " + path +
                   ". Copie-a para a pasta de leituras quando o acesso for corrigido.";
        }
        if (result != kWriteNameTaken)
            break;
    }
    return "A leitura também não pôde ser guardada em " + directory + " (" + systemReason(error) +
           ").";
}

} // namespace

int formatValueList(char* out, const struct_eyetrace& eye, int kind) {
    const int count = kind == kRadiusValues ? usableRadiusCount(eye) : usableZCount(eye);
    if (count <= 0)
        return 1;
    const char* prefix = kind == kRadiusValues ? "R=" : "Z=";
    // At most 2000 values of 6 characters and a separator, with a 4-character
    // prefix and line end per 76 characters: well inside kValueListSize.
    int length = 0;
    int lineStart = 0;
    std::memcpy(out, prefix, 2);
    length = 2;
    for (int i = 0; i < count; ++i) {
        const int16_t value = kind == kRadiusValues ? eye.points[i].radius : eye.points[i].z;
        if (i > 0) {
            if (length - lineStart > kWrapAfter) {
                out[length++] = '\r';
                out[length++] = '\n';
                lineStart = length;
                std::memcpy(out + length, prefix, 2);
                length += 2;
            } else {
                out[length++] = ';';
            }
        }
        const auto result = std::to_chars(out + length, out + kValueListSize - 1, value);
        length = static_cast<int>(result.ptr - out);
    }
    out[length] = '\0';
    return 0;
}

int buildReadingText(const struct_tracedata& record, const ReadingContext& context, char* text,
                     int capacity, int& length) {
    TextWriter writer(text, capacity);
    auto list = std::make_unique<char[]>(kValueListSize);
    const char traceType = record.traceType != 0 ? record.traceType : 'F';
    appendTraceBlock(writer, list.get(), "TRCFMT=1;", ";E;R;", traceType, record.right,
                     kRadiusValues);
    appendTraceBlock(writer, list.get(), "ZFMT=1;", ";E;R;", traceType, record.right, kZValues);
    appendTraceBlock(writer, list.get(), "TRCFMT=1;", ";E;L;", traceType, record.left,
                     kRadiusValues);
    appendTraceBlock(writer, list.get(), "ZFMT=1;", ";E;L;", traceType, record.left, kZValues);
    writer.appendPair("CIRC=", record.right.circ, record.left.circ);
    writer.append("DBL=");
    writer.appendMeasure(record.dbl);
    writer.append("\r\n");
    writer.appendPair("HBOX=", record.right.hbox, record.left.hbox);
    writer.appendPair("VBOX=", record.right.vbox, record.left.vbox);
    writer.appendPair("ZTILT=", record.right.ztilt, record.left.ztilt);
    writer.appendPair("FCRV=", record.right.fcrv, record.left.fcrv);
    writer.appendPair("_DIAG=", record.right.diag, record.left.diag);
    const size_t extra = strnlen(record.extraLabels, sizeof record.extraLabels);
    if (extra > 0) {
        writer.append(record.extraLabels, extra);
        writer.append("\r\n");
    }
    writer.append("VENDOR=");
    writer.append(context.vendor);
    writer.append("\r\nMODEL=");
    writer.append(context.model);
    writer.append("\r\n");
    length = writer.failed() ? 0 : writer.length();
    return writer.failed() ? 1 : 0;
}

int encipherReadingText(unsigned char* text, int textLength, int capacity, unsigned char* bytes,
                        int& length) {
    length = 0;
    // Padding of PKCS #7: p bytes of value p, 1 <= p <= 16.
    const int padding = CRijndael::kBlockSize - textLength % CRijndael::kBlockSize;
    if (textLength < 0 || textLength + padding > capacity)
        return 1;
    std::memset(text + textLength, padding, static_cast<size_t>(padding));
    const unsigned char zeroIv[CRijndael::kBlockSize] = {};
    try {
        CRijndael cipher;
        cipher.setKey(reinterpret_cast<const unsigned char*>(kReadingKey), zeroIv,
                      CRijndael::kKeySize, CRijndael::kBlockSize);
        cipher.encryptCbc(text, bytes, textLength + padding);
    } catch (const RijndaelError&) {
        return 1; // cannot happen with the fixed key and a padded length
    }
    length = textLength + padding;
    return 0;
}

int buildReadingFile(const struct_tracedata& record, const ReadingContext& context,
                     unsigned char* bytes, int& length) {
    length = 0;
    auto plain = std::make_unique<unsigned char[]>(kReadingTextCapacity);
    int textLength = 0;
    // Room is kept for at least one byte of padding.
    if (buildReadingText(record, context, reinterpret_cast<char*>(plain.get()),
                         kReadingTextCapacity - 1, textLength) != 0)
        return 1;
    return encipherReadingText(plain.get(), textLength, kReadingTextCapacity, bytes, length);
}

std::string readingFileName(const char* job) {
    // The job's leading integer as atol reads it, written back in decimal; but
    // with all its digits, so that two jobs past what 64 bits hold do not both
    // take the name of the largest value, the second replacing the first.
    const char* p = skipBlanks(job);
    if (*p == '-')
        return "leitura"; // not positive
    p += *p == '+' ? 1 : 0;
    while (*p == '0')
        ++p;
    const char* end = skipDigits(p);
    return end > p ? std::string(p, end) : std::string("leitura");
}

std::string readingDirectoryWithSeparator(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/')
        return directory;
    return directory + '/';
}

SaveOutcome saveReading(struct_tracedata& record, const std::string& readingDirectory,
                        const ReadingContext& context, UserInterface& ui,
                        std::string* writtenPath) {
    if (writtenPath != nullptr)
        writtenPath->clear();
    computeGeometry(record);

    auto image = std::make_unique<unsigned char[]>(kFrameImageCapacity);
    int imageSize = 0;
    const bool pictureMade = renderFrameImage(record, image.get(), imageSize) == 0;

    auto cipherText = std::make_unique<unsigned char[]>(kReadingTextCapacity);
    int cipherLength = 0;
    const bool fileBuilt = buildReadingFile(record, context, cipherText.get(), cipherLength) == 0;

    const std::string name = readingFileName(record.job);
    const std::string path =
        absolutePath(readingDirectoryWithSeparator(readingDirectory) + name + ".krvw");

    // The picture is shown whether or not the file can be written; without memory
    // for it the previous picture stays.
    if (pictureMade)
        ui.showImage(image.get(), imageSize);

    if (!fileBuilt) {
        reportReadingNotSaved(ui, kMessageReadingTooLong);
        return kSaveTextTooLong;
    }
    SaveOutcome outcome = kSavePathTooLong;
    std::string message = kMessagePathTooLong;
    if (utf8CharacterCount(path) <= static_cast<size_t>(kReadingPathMax)) {
        int error = 0;
        if (writeFileAtomically(path, cipherText.get(), static_cast<size_t>(cipherLength), {},
                                &error) == kWriteDone) {
            ui.setClipboardText(path);
            if (!context.noMsg)
                ui.showMessage(kMessageSaveSucceeded);
            if (writtenPath != nullptr)
                *writtenPath = path;
            return kSaved;
        }
        outcome = kSaveNotWritten;
        message = std::string(kMessageSaveFailed) + "\n\nPasta: " + directoryOf(path) +
                  "\nMotivo: " + folderFailureReason(path, error) + ".";
    }
    // The tracer has let the reading go: it is kept where the user can always write.
    std::string kept;
    message += "\n\n" + keepPending(name, cipherText.get(), cipherLength, kept);
    if (writtenPath != nullptr)
        *writtenPath = kept;
    reportReadingNotSaved(ui, message);
    return outcome;
}

void reportReadingNotSaved(UserInterface& ui, const std::string& message) {
    ui.setClipboardText(std::string());
    ui.showMessage(message);
}

std::string pendingReadingsDirectory() {
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
        home = variable;
    } else {
        const passwd* user = getpwuid(geteuid());
        if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/')
            return std::string();
        home = user->pw_dir;
    }
    return readingDirectoryWithSeparator(home) + kPendingFolder + "/";
}

std::string systemReason(int error) {
    switch (error) {
    case ENOENT:
        return "a pasta não existe";
    case ENOTDIR:
        return "o caminho não é uma pasta";
    case EACCES:
    case EPERM:
        return "o usuário não tem permissão para gravar na pasta";
    case EROFS:
        return "a pasta está num disco somente para leitura";
    case ENOSPC:
        return "o disco está cheio";
    case EDQUOT:
        return "a cota de disco do usuário acabou";
    case EIO:
        return "erro de entrada e saída no disco";
    case ENAMETOOLONG:
        return "o caminho é longo demais";
    default:
        return "erro do sistema " + std::to_string(error) + ": " + std::strerror(error);
    }
}

ReadingFolderState checkReadingFolder(const std::string& directory) {
    struct stat folder;
    if (stat(directory.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return kFolderMissing;
    // As the user, not as the program's real ids: the ids a file is created with.
    if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return kFolderNotWritable;
    return kFolderUsable;
}

bool decipherReading(const std::string& cipher, std::string& plain, std::string& reason) {
    if (cipher.size() > kReadingTextCapacity) {
        reason = "it is longer than " + std::to_string(kReadingTextCapacity) + " bytes";
        return false;
    }
    if (cipher.empty() || cipher.size() % CRijndael::kBlockSize != 0) {
        reason = "its length (" + std::to_string(cipher.size()) +
                 " bytes) is not a non-zero multiple of 16";
        return false;
    }
    std::vector<unsigned char> out(cipher.size());
    const unsigned char zeroIv[CRijndael::kBlockSize] = {};
    try {
        CRijndael aes;
        aes.setKey(reinterpret_cast<const unsigned char*>(kReadingKey), zeroIv, CRijndael::kKeySize,
                   CRijndael::kBlockSize);
        aes.decryptCbc(reinterpret_cast<const unsigned char*>(cipher.data()), out.data(),
                       static_cast<int>(out.size()));
    } catch (const RijndaelError&) {
        reason = "it cannot be deciphered"; // not with the fixed key and a checked length
        return false;
    }
    const unsigned padding = out.back();
    if (padding < 1 || padding > CRijndael::kBlockSize) {
        reason = "its padding is invalid (wrong key, or a damaged file)";
        return false;
    }
    for (std::size_t i = out.size() - padding; i < out.size(); ++i) {
        if (out[i] != padding) {
            reason = "its padding is invalid (wrong key, or a damaged file)";
            return false;
        }
    }
    plain.assign(reinterpret_cast<const char*>(out.data()), out.size() - padding);
    return true;
}
