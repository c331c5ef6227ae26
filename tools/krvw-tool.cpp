// Support tool for reading files: deciphers one, shows its measures, draws its
// frame picture, or makes one from a label file; draws the picture of a
// capture's tracing.
#include "Atomicfile.h"
#include "Capturepicture.h"
#include "Codepage.h"
#include "Frameimage.h"
#include "Funcoesgerais.h"
#include "Labelparser.h"
#include "Pngfile.h"
#include "Readingfile.h"
#include "Rijndael.h"
#include "Userinterface.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kModelTextMax = 99; // as a DCS record's MODEL value is held

// A reading file is never longer than the cipher buffer the save flow writes it from.
constexpr size_t kReadingFileMax = kReadingTextCapacity;

bool readWholeFile(const char* path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// At most `max` + 1 bytes: enough to tell a file that is too long.
bool readFileUpTo(const char* path, size_t max, std::string& bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    bytes.resize(max + 1);
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    const int savedErrno = errno;
    std::fclose(file);
    bytes.resize(n);
    errno = savedErrno;
    return !failed;
}

// The deciphered text of a reading file; false with a message on stderr.
bool loadPlainText(const char* path, std::string& plain) {
    std::string cipher;
    if (!readFileUpTo(path, kReadingFileMax, cipher)) {
        std::fprintf(stderr, "krvw-tool: cannot read %s: %s\n", path, std::strerror(errno));
        return false;
    }
    std::string reason;
    if (!decipherReading(cipher, plain, reason)) {
        std::fprintf(stderr, "krvw-tool: %s is not a valid reading file: %s\n", path,
                     reason.c_str());
        return false;
    }
    return true;
}

// The plain text of a reading file, split into its lines. Besides a valid
// cipher text, a reading holds text without NUL bytes and the lines the save
// flow writes into every reading file.
bool loadReading(const char* path, std::string& plain, LineField& lines) {
    if (!loadPlainText(path, plain))
        return false;
    std::string problem;
    if (plain.find('\0') != std::string::npos) {
        problem = "its plain text holds NUL bytes";
    } else {
        lines.load(plain.data(), static_cast<int>(plain.size()));
        for (const char* label : {"DBL", "HBOX", "VBOX", "VENDOR", "MODEL"})
            if (problem.empty() && lines.find(label) < 0)
                problem = std::string("its plain text has no ") + label + " line";
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "krvw-tool: %s is not a reading: %s\n", path, problem.c_str());
        return false;
    }
    return true;
}

int decode(const char* path) {
    std::string plain;
    if (!loadPlainText(path, plain))
        return 1;
    std::fwrite(plain.data(), 1, plain.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The BMP bytes of a frame picture, as a PNG file.
int writePicture(const char* source, const std::vector<unsigned char>& bmp, const char* pngPath) {
    RgbImage image;
    std::string reason;
    std::string png;
    if (!bmpToRgb(bmp.data(), bmp.size(), image, reason) || !encodePng(image, png)) {
        std::fprintf(stderr, "krvw-tool: cannot make the frame picture of %s: %s\n", source,
                     reason.empty() ? "no memory" : reason.c_str());
        return 1;
    }
    if (writeFileAtomically(pngPath, png.data(), png.size()) != kWriteDone) {
        std::fprintf(stderr, "krvw-tool: cannot write %s: %s\n", pngPath, std::strerror(errno));
        return 1;
    }
    return 0;
}

// A capture starts with its format line; a reading file is cipher text.
bool isCapture(const char* path) {
    static constexpr char kFirstLine[] = "# krvw-capture:";
    std::string start;
    return readFileUpTo(path, sizeof kFirstLine - 2, start) && start == kFirstLine;
}

// The frame picture of a reading file or of a capture, as a PNG file. A reading
// file keeps no FPD: its eyes are placed by DBL and the box widths. A capture's
// tracing is read by the program's own protocol, so the picture is the one the
// window showed, the eyes placed by FPD where the tracer sent one.
int render(const char* path, const char* pngPath) {
    std::vector<unsigned char> bmp;
    if (isCapture(path)) {
        std::string reason;
        if (!captureFramePicture(path, bmp, reason)) {
            std::fprintf(stderr, "krvw-tool: no frame picture from the capture %s: %s\n", path,
                         reason.c_str());
            return 1;
        }
        return writePicture(path, bmp, pngPath);
    }
    std::string plain;
    auto lines = std::make_unique<LineField>();
    if (!loadReading(path, plain, *lines))
        return 1;
    auto record = std::make_unique<struct_tracedata>();
    parseTraceLabels(*record, plain.c_str());
    if (!framePicture(*record, bmp)) {
        std::fprintf(stderr, "krvw-tool: cannot make the frame picture of %s: no memory\n", path);
        return 1;
    }
    return writePicture(path, bmp, pngPath);
}

// One ';' field of a label's value, or "-" when the label or field is missing.
std::string field(const LineField& lines, CSVreader& csv, const char* label, int index) {
    const int i = lines.find(label);
    if (i < 0 || !csv.split(lines.value(i)) || index >= csv.count())
        return "-";
    return windows1252ToUtf8(csv.item(index));
}

// The point count of each eye from the TRCFMT or ZFMT headers (0 when none).
void pointCounts(const LineField& lines, CSVreader& csv, const char* header, long& right,
                 long& left) {
    right = 0;
    left = 0;
    int found[kLineFieldLines];
    const int n = lines.findAll(header, found, kLineFieldLines);
    for (int h = 0; h < n; ++h) {
        if (!csv.split(lines.value(found[h])) || csv.count() < 4)
            continue;
        if (std::strcmp(csv.item(3), "R") == 0)
            right = cAtol(csv.item(1));
        else if (std::strcmp(csv.item(3), "L") == 0)
            left = cAtol(csv.item(1));
    }
}

void printRow(const char* name, const std::string& right, const std::string& left) {
    if (left.empty())
        std::printf("%-34s %10s\n", name, right.c_str());
    else
        std::printf("%-34s %10s %10s\n", name, right.c_str(), left.c_str());
}

void printValue(const char* name, const std::string& value) {
    std::printf("%-34s %s\n", name, value.empty() ? "-" : value.c_str());
}

// The measures of a reading as the file holds them.
int show(const char* path) {
    std::string plain;
    auto lines = std::make_unique<LineField>();
    if (!loadReading(path, plain, *lines))
        return 1;
    auto csv = std::make_unique<CSVreader>();
    const auto pair = [&](const char* name, const char* label) {
        printRow(name, field(*lines, *csv, label, 0), field(*lines, *csv, label, 1));
    };
    printRow("", "right", "left");
    pair("box width (HBOX, mm)", "HBOX");
    pair("box height (VBOX, mm)", "VBOX");
    pair("diagonal (_DIAG, mm)", "_DIAG");
    long right = 0;
    long left = 0;
    pointCounts(*lines, *csv, "TRCFMT", right, left);
    printRow("radii (TRCFMT)", std::to_string(right), std::to_string(left));
    pointCounts(*lines, *csv, "ZFMT", right, left);
    printRow("z values (ZFMT)", std::to_string(right), std::to_string(left));
    printRow("distance between lenses (DBL, mm)", field(*lines, *csv, "DBL", 0), "");
    std::string text;
    lines->getValue("VENDOR", text);
    printValue("vendor (VENDOR)", windows1252ToUtf8(text));
    text.clear();
    lines->getValue("MODEL", text);
    printValue("model (MODEL)", windows1252ToUtf8(text));
    int drill[kLineFieldLines];
    const int holes = lines->findAll("DRILLE", drill, kLineFieldLines);
    for (int h = 0; h < holes; ++h)
        printValue("drill hole (DRILLE)", windows1252ToUtf8(lines->value(drill[h])));
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Support command: enciphers a plain text as the save flow does (PKCS #7
// padding, AES-128-CBC with the reading key and a zero IV), to make reading
// files of a known text.
int encode(const char* plainPath, const char* outPath) {
    std::string plain;
    // The save flow keeps room for at least one byte of padding.
    if (!readFileUpTo(plainPath, kReadingFileMax - 1, plain)) {
        std::fprintf(stderr, "krvw-tool: cannot read %s: %s\n", plainPath, std::strerror(errno));
        return 1;
    }
    if (plain.size() > kReadingFileMax - 1) {
        std::fprintf(stderr, "krvw-tool: %s is longer than a reading file's text (%zu bytes)\n",
                     plainPath, kReadingFileMax - 1);
        return 1;
    }
    std::vector<unsigned char> text(plain.begin(), plain.end());
    text.resize(plain.size() + CRijndael::kBlockSize);
    std::vector<unsigned char> cipher(text.size());
    int length = 0;
    // It fits: text has a whole block to spare.
    static_cast<void>(encipherReadingText(text.data(), static_cast<int>(plain.size()),
                                          static_cast<int>(text.size()), cipher.data(), length));
    cipher.resize(static_cast<size_t>(length));
    if (writeFileAtomically(outPath, cipher.data(), cipher.size()) != kWriteDone) {
        std::fprintf(stderr, "krvw-tool: cannot write %s: %s\n", outPath, std::strerror(errno));
        return 1;
    }
    return 0;
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
    TraceOutcome outcome;
    parseTraceLabels(*record, labels.c_str(), &outcome);
    // A tracing the program would refuse is refused here too, for the same reason.
    const std::string unreadable = unreadableTracingMessage(outcome);
    if (!unreadable.empty()) {
        std::fprintf(stderr, "krvw-tool: %s\n", unreadable.c_str());
        return 1;
    }
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
               "       krvw-tool show FILE\n"
               "           print the measures of a reading file\n"
               "       krvw-tool render FILE OUT.png\n"
               "           draw the frame picture of a reading file (the eyes placed by DBL:\n"
               "           the file keeps no FPD)\n"
               "       krvw-tool render CAPTURE OUT.png\n"
               "           draw the picture the window showed for the tracing of a capture\n"
               "           (.krvwcap), read by the program's own protocol\n"
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
    if (argc == 3 && std::strcmp(argv[1], "show") == 0)
        return show(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "render") == 0)
        return render(argv[2], argv[3]);
    // Not in the usage text: a support command (README, "krvw-tool").
    if (argc == 4 && std::strcmp(argv[1], "encode") == 0)
        return encode(argv[2], argv[3]);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    usage(stderr);
    return 2;
}
