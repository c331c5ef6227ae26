// Support tool for reading files: deciphers one, or makes one from a label file.
#include "Funcoesgerais.h"
#include "Labelparser.h"
#include "Readingfile.h"
#include "Rijndael.h"
#include "Userinterface.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kModelTextMax = 99; // as a DCS record's MODEL value is held

bool readWholeFile(const char* path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Deciphers a reading file; returns false with a reason when it is not one.
bool decipherReading(const std::string& cipher, std::string& plain, std::string& reason) {
    if (cipher.empty() || cipher.size() % CRijndael::kBlockSize != 0) {
        reason = "its length (" + std::to_string(cipher.size()) +
                 " bytes) is not a non-zero multiple of 16";
        return false;
    }
    std::vector<unsigned char> out(cipher.size());
    const unsigned char zeroIv[CRijndael::kBlockSize] = {};
    CRijndael aes;
    aes.setKey(reinterpret_cast<const unsigned char*>(kReadingKey), zeroIv, CRijndael::kKeySize,
               CRijndael::kBlockSize);
    aes.decryptCbc(reinterpret_cast<const unsigned char*>(cipher.data()), out.data(),
                   static_cast<int>(out.size()));
    const unsigned padding = out.back();
    if (padding < 1 || padding > CRijndael::kBlockSize) {
        reason = "its padding is invalid (wrong key, or a damaged file)";
        return false;
    }
    for (size_t i = out.size() - padding; i < out.size(); ++i) {
        if (out[i] != padding) {
            reason = "its padding is invalid (wrong key, or a damaged file)";
            return false;
        }
    }
    plain.assign(reinterpret_cast<const char*>(out.data()), out.size() - padding);
    return true;
}

int decode(const char* path) {
    std::string cipher;
    if (!readWholeFile(path, cipher)) {
        std::fprintf(stderr, "krvw-tool: cannot read %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    std::string plain;
    std::string reason;
    if (!decipherReading(cipher, plain, reason)) {
        std::fprintf(stderr, "krvw-tool: %s is not a valid reading file: %s\n", path,
                     reason.c_str());
        return 1;
    }
    std::fwrite(plain.data(), 1, plain.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The tool has no window: messages go to stderr, the picture and clipboard nowhere.
class ConsoleUi : public UserInterface {
public:
    void showMessage(const std::string& text) override { lastMessage = text; }
    void setClipboardText(const std::string&) override {}
    void showImage(const unsigned char*, int) override {}
    std::string lastMessage;
};

std::string modelLabel(const std::string& labels) {
    auto table = std::make_unique<LineField>();
    table->load(labels.data(), static_cast<int>(labels.size()));
    std::string model;
    table->getValue("MODEL", model);
    if (model.size() > kModelTextMax)
        model.resize(kModelTextMax);
    return model;
}

int import(const char* labelFile, const char* directory) {
    std::string labels;
    if (!readWholeFile(labelFile, labels)) {
        std::fprintf(stderr, "krvw-tool: cannot read %s: %s\n", labelFile, std::strerror(errno));
        return 1;
    }
    // The label text is handled as a terminated string, as a received record is.
    labels.resize(strnlen(labels.c_str(), labels.size()));
    auto record = std::make_unique<struct_tracedata>();
    parseTraceLabels(*record, labels.c_str());
    ReadingContext context;
    context.model = modelLabel(labels);
    context.noMsg = true;
    ConsoleUi ui;
    std::string written;
    if (saveReading(*record, directory, context, ui, &written) != kSaved) {
        std::fprintf(stderr, "krvw-tool: %s\n", ui.lastMessage.c_str());
        return 1;
    }
    std::printf("%s\n", written.c_str());
    return 0;
}

void usage(FILE* out) {
    std::fputs("usage: krvw-tool decode FILE\n"
               "           print the plain text of a reading file\n"
               "       krvw-tool import LABELFILE DIR\n"
               "           make a reading file in DIR from a VCA label text\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "decode") == 0)
        return decode(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "import") == 0)
        return import(argv[2], argv[3]);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    usage(stderr);
    return 2;
}
