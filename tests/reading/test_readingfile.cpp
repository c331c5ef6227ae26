#include "Readingfile.h"

#include "Atomicfile.h"
#include "Labelparser.h"
#include "Rijndael.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<struct_tracedata> emptyRecord() {
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    return record;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string readingText(const struct_tracedata& record, const ReadingContext& context = {}) {
    auto text = std::make_unique<char[]>(kReadingTextCapacity);
    int length = 0;
    EXPECT_EQ(buildReadingText(record, context, text.get(), kReadingTextCapacity, length), 0);
    return std::string(text.get(), static_cast<size_t>(length));
}

// Deciphers a reading file and checks its padding; the plain text, or "<bad>".
std::string decipher(const std::string& cipher) {
    if (cipher.empty() || cipher.size() % 16 != 0)
        return "<bad length>";
    std::string plain(cipher.size(), '\0');
    const unsigned char iv[16] = {};
    CRijndael aes;
    aes.setKey(reinterpret_cast<const unsigned char*>("mnbvcxzlmnbvcxzl"), iv, 16, 16);
    aes.decryptCbc(reinterpret_cast<const unsigned char*>(cipher.data()),
                   reinterpret_cast<unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    const auto p = static_cast<unsigned char>(plain.back());
    if (p < 1 || p > 16 ||
        plain.find_first_not_of(static_cast<char>(p), plain.size() - p) != std::string::npos)
        return "<bad padding>";
    return plain.substr(0, plain.size() - p);
}

TEST(FormatValueList, WrapsOnceALineIsLongerThanSeventyFiveCharacters) {
    auto record = emptyRecord();
    record->right.radiusCount = 1000;
    for (int i = 0; i < 1000; ++i)
        record->right.points[i].radius = static_cast<int16_t>(2000 + i % 500);
    auto out = std::make_unique<char[]>(kValueListSize);
    ASSERT_EQ(formatValueList(out.get(), record->right, kRadiusValues), 0);
    const std::string text = out.get();
    ASSERT_NE(text.substr(text.size() - 2), "\r\n");
    const auto lines = linesOf(text + "\r\n");
    ASSERT_EQ(lines.size(), 67u); // 66 full lines of 15 values, then 10
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 76u) << i;
        EXPECT_EQ(lines[i].substr(0, 2), "R=");
        EXPECT_NE(lines[i].back(), ';');
    }
    EXPECT_EQ(lines.back(), "R=2490;2491;2492;2493;2494;2495;2496;2497;2498;2499");
}

TEST(FormatValueList, LinesOfMixedWidthsStayWithinSeventySixToEightyTwo) {
    auto record = emptyRecord();
    record->left.zCount = 700;
    for (int i = 0; i < 700; ++i)
        record->left.points[i].z = static_cast<int16_t>(i % 7 == 0 ? -32768 : (i % 3) * 7);
    auto out = std::make_unique<char[]>(kValueListSize);
    ASSERT_EQ(formatValueList(out.get(), record->left, kZValues), 0);
    const auto lines = linesOf(std::string(out.get()) + "\r\n");
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].substr(0, 2), "Z=");
        if (i + 1 < lines.size()) {
            EXPECT_GE(lines[i].size(), 76u);
            EXPECT_LE(lines[i].size(), 82u);
        }
        joined += (i ? ";" : "") + lines[i].substr(2);
    }
    std::string expected;
    for (int i = 0; i < 700; ++i)
        expected += (i ? ";" : "") + std::to_string(record->left.points[i].z);
    EXPECT_EQ(joined, expected);
}

TEST(FormatValueList, EmptyListLeavesTheOutputAlone) {
    auto record = emptyRecord();
    char out[8] = "keep";
    EXPECT_EQ(formatValueList(out, record->right, kZValues), 1);
    record->right.zCount = -5;
    EXPECT_EQ(formatValueList(out, record->right, kZValues), 1);
    EXPECT_STREQ(out, "keep");
}

TEST(ReadingText, BlocksInFileOrderWithZForTheRightEyeOnly) {
    auto record = emptyRecord();
    record->right.radiusCount = 2;
    record->right.points[0].radius = 2500;
    record->right.points[1].radius = 2400;
    record->right.zCount = 2;
    record->right.points[0].z = -3;
    record->right.points[1].z = 4;
    record->right.circ = 150.2;
    record->left.circ = 150.4;
    record->right.fcrv = -3.5;
    record->dbl = 17;
    computeGeometry(*record);
    const auto lines = linesOf(readingText(*record, {"HUVITZ", "", false}));
    const std::vector<std::string> head = {"TRCFMT=1;2;E;R;F", "R=2500;2400", "ZFMT=1;2;E;R;F",
                                           "Z=-3;4", "TRCFMT=1;1000;E;L;F"};
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), head);
    size_t i = 5;
    while (lines[i].rfind("R=", 0) == 0) {
        EXPECT_EQ(lines[i].find_first_not_of("R=0;"), std::string::npos);
        ++i;
    }
    const std::vector<std::string> tail = {
        "CIRC=150.20;150.40", "DBL=17.00",       "HBOX=24.00;0.00",
        "VBOX=0.00;0.00",     "ZTILT=0.00;0.00", "FCRV=-3.50;0.00",
        "_DIAG=49.00;0.00",   "VENDOR=HUVITZ",   "MODEL="};
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end()), tail);
}

TEST(ReadingText, TraceTypeAndExtraLabels) {
    auto record = emptyRecord();
    record->traceType = 'P';
    std::strcpy(record->extraLabels, "DRILLE=R;C;12.5;-8.3;2.5;0;0;3;1;F\r\nDRILLE=L;C;1;F");
    computeGeometry(*record);
    const std::string text = readingText(*record, {"NIDEK", "LT1000", false});
    EXPECT_NE(text.find("TRCFMT=1;1000;E;R;P\r\n"), std::string::npos);
    EXPECT_NE(text.find("TRCFMT=1;1000;E;L;P\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n_DIAG=0.00;0.00\r\nDRILLE=R;C;12.5;-8.3;2.5;0;0;3;1;F\r\n"
                        "DRILLE=L;C;1;F\r\nVENDOR=NIDEK\r\nMODEL=LT1000\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("ZFMT"), std::string::npos);
}

TEST(ReadingText, TextThatDoesNotFitIsRefused) {
    auto record = emptyRecord();
    computeGeometry(*record);
    char small[100];
    int length = 7;
    EXPECT_EQ(buildReadingText(*record, {}, small, sizeof small, length), 1);
    EXPECT_EQ(length, 0);
}

TEST(ReadingFile, PaddingAlwaysAddsOneToSixteenBytes) {
    auto record = emptyRecord();
    computeGeometry(*record);
    auto bytes = std::make_unique<unsigned char[]>(kReadingTextCapacity);
    bool sawWholeBlock = false;
    for (int extra = 0; extra < 16; ++extra) {
        const ReadingContext context{std::string(static_cast<size_t>(extra), 'V'), "", false};
        const std::string text = readingText(*record, context);
        int length = 0;
        ASSERT_EQ(buildReadingFile(*record, context, bytes.get(), length), 0);
        const size_t padding = 16 - text.size() % 16;
        sawWholeBlock |= padding == 16;
        ASSERT_EQ(static_cast<size_t>(length), text.size() + padding);
        const std::string file(reinterpret_cast<char*>(bytes.get()), static_cast<size_t>(length));
        EXPECT_EQ(decipher(file), text);
    }
    EXPECT_TRUE(sawWholeBlock);
}

TEST(ReadingFile, FileNamesFromTheJob) {
    EXPECT_EQ(readingFileName("12345"), "12345");
    EXPECT_EQ(readingFileName("00815"), "815");
    EXPECT_EQ(readingFileName("123A5"), "123");
    EXPECT_EQ(readingFileName(""), "leitura");
    EXPECT_EQ(readingFileName("00000"), "leitura");
    EXPECT_EQ(readingFileName("ABCDE"), "leitura");
    EXPECT_EQ(readingFileName("-12345"), "leitura");
    EXPECT_EQ(readingFileName(" +0815"), "815");
    // Past 64 bits, each job keeps a name of its own.
    EXPECT_EQ(readingFileName("00099999999999999999999"), "99999999999999999999");
    EXPECT_EQ(readingFileName("99999999999999999998"), "99999999999999999998");
    EXPECT_EQ(readingDirectoryWithSeparator("/srv/leituras"), "/srv/leituras/");
    EXPECT_EQ(readingDirectoryWithSeparator("/srv/leituras/"), "/srv/leituras/");
}

class SaveReading : public ::testing::Test {
protected:
    void TearDown() override { setFileSystemCallsForTesting(nullptr); }

    std::unique_ptr<struct_tracedata> tracing(const char* job) {
        auto record = emptyRecord();
        parseTraceLabels(*record, (std::string("JOB=") + job +
                                   "\r\nTRCFMT=1;4;E;R;F\r\nR=2500;2400;2500;2400\r\n")
                                      .c_str());
        return record;
    }

    // Every failed save below keeps its reading in the pending folder, when it can.
    void expectNotSaved(const std::string& messageHas) {
        EXPECT_EQ(ui.clipboard, "");
        EXPECT_EQ(ui.clipboardSets, 1);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].rfind("Não foi possível gravar os dados da leitura", 0), 0u);
        EXPECT_NE(ui.messages[0].find(messageHas), std::string::npos) << ui.messages[0];
    }

    FakeUi ui;
    ScratchDir dir;
    ScratchHome home;
};

TEST_F(SaveReading, WritesTheFileCopiesThePathAndTellsTheUser) {
    auto record = tracing("00815");
    std::string written;
    EXPECT_EQ(saveReading(*record, dir.path(), {"HUVITZ", "", false}, ui, &written), kSaved);
    const std::string path = dir.path() + "/815.krvw";
    EXPECT_EQ(written, path);
    EXPECT_EQ(ui.clipboard, path);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Concluído. O caminho do arquivo de leitura foi automaticamente\n"
                              "copiado para a Área de Transferência do Windows.");
    EXPECT_EQ(ui.imagesShown, 1);
    EXPECT_EQ(ui.image.size(), 393270u);
    const std::string plain = decipher(readFileBytes(path));
    EXPECT_EQ(
        plain.rfind("TRCFMT=1;4;E;R;F\r\nR=2500;2400;2500;2400\r\nTRCFMT=1;1000;E;L;F\r\n", 0), 0u);
    EXPECT_NE(plain.find("\r\nVENDOR=HUVITZ\r\nMODEL=\r\n"), std::string::npos);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"815.krvw"});
}

TEST_F(SaveReading, SameRecordSameFileAndTrailingSeparatorMakesNoDifference) {
    auto record = tracing("12345");
    ASSERT_EQ(saveReading(*record, dir.path(), {}, ui), kSaved);
    const std::string first = readFileBytes(dir.file("12345.krvw"));
    ASSERT_EQ(saveReading(*record, dir.path() + "/", {}, ui), kSaved);
    EXPECT_EQ(readFileBytes(dir.file("12345.krvw")), first);
    EXPECT_EQ(ui.clipboard, dir.file("12345.krvw"));
    auto unnamed = tracing("ABCDE");
    ASSERT_EQ(saveReading(*unnamed, dir.path(), {}, ui), kSaved);
    EXPECT_TRUE(fileExists(dir.file("leitura.krvw")));
}

TEST_F(SaveReading, NoMessageWhenTheUserAskedForNone) {
    auto record = tracing("12345");
    EXPECT_EQ(saveReading(*record, dir.path(), {"", "", true}, ui), kSaved);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.clipboard, dir.file("12345.krvw"));
}

TEST_F(SaveReading, AMissingDirectoryEmptiesTheClipboardAndKeepsTheReadingElsewhere) {
    auto record = tracing("12345");
    ASSERT_EQ(saveReading(*record, dir.path(), {"", "", true}, ui), kSaved);
    const std::string saved = readFileBytes(dir.file("12345.krvw"));
    ui.messages.clear();
    ui.clipboardSets = 0;
    ui.imagesShown = 0;
    std::string kept;
    EXPECT_EQ(saveReading(*record, dir.file("missing"), {}, ui, &kept), kSaveNotWritten);
    EXPECT_EQ(kept, home.pending() + "/12345.krvw");
    expectNotSaved("verifique se possui acesso ao diretório.\n\nPasta: " + dir.path() +
                   "/missing/\nMotivo: a pasta não existe.\n\nA leitura foi guardada em " + kept);
    EXPECT_EQ(readFileBytes(kept), saved);
    EXPECT_EQ(ui.imagesShown, 1); // the picture is shown all the same
    // A reading kept earlier is never replaced.
    EXPECT_EQ(saveReading(*record, dir.file("missing"), {}, ui, &kept), kSaveNotWritten);
    EXPECT_EQ(kept, home.pending() + "/12345-2.krvw");
    EXPECT_EQ(readFileBytes(home.pending() + "/12345.krvw"), saved);
}

TEST_F(SaveReading, ReadingsAreReadableByOthersWhateverTheUmask) {
    auto record = tracing("12345");
    const mode_t before = umask(077);
    const SaveOutcome outcome = saveReading(*record, dir.path(), {"", "", true}, ui);
    umask(before);
    ASSERT_EQ(outcome, kSaved);
    struct stat file;
    ASSERT_EQ(stat(dir.file("12345.krvw").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0644u);
}

// A disk that fills up after `room` bytes.
size_t g_room = 0;
ssize_t writeUntilFull(int fd, const void* data, size_t size) {
    if (g_room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const size_t n = size < g_room ? size : g_room;
    g_room -= n;
    return ::write(fd, data, n);
}
int failingFsync(int) {
    errno = EIO;
    return -1;
}

TEST_F(SaveReading, FullDiskLeavesNoFileAndNoClipboard) {
    const FileSystemCalls calls = {writeUntilFull, ::fsync, ::close, ::rename};
    setFileSystemCallsForTesting(&calls);
    auto record = tracing("12345");
    // An older reading of the same job stays as it was.
    writeFileBytes(dir.file("12345.krvw"), "old reading");
    g_room = 100;
    EXPECT_EQ(saveReading(*record, dir.path(), {}, ui), kSaveNotWritten);
    // The pending folder is on the same full disk.
    expectNotSaved("Motivo: o disco está cheio.\n\nA leitura também não pôde ser guardada em " +
                   home.pending() + "/ (o disco está cheio).");
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"12345.krvw"});
    EXPECT_EQ(readFileBytes(dir.file("12345.krvw")), "old reading");
}

TEST_F(SaveReading, FailedFlushIsAFailedSave) {
    const FileSystemCalls calls = {::write, failingFsync, ::close, ::rename};
    setFileSystemCallsForTesting(&calls);
    auto record = tracing("12345");
    EXPECT_EQ(saveReading(*record, dir.path(), {}, ui), kSaveNotWritten);
    expectNotSaved("Motivo: erro de entrada e saída no disco.");
    EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(SaveReading, PathsLongerThan259CharactersAreRefused) {
    auto record = tracing("12345");
    // dir + '/' + name + "/12345.krvw" (11): choose name so the path is 260 long.
    const size_t nameLength = 260 - dir.path().size() - 1 - 11;
    const std::string deep = dir.file(std::string(nameLength, 'd'));
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    EXPECT_EQ(saveReading(*record, deep, {}, ui), kSavePathTooLong);
    expectNotSaved("259 caracteres");
    EXPECT_TRUE(fileExists(home.pending() + "/12345.krvw"));

    const std::string fits = dir.file(std::string(nameLength - 1, 'e'));
    ASSERT_EQ(mkdir(fits.c_str(), 0700), 0);
    EXPECT_EQ(saveReading(*record, fits, {"", "", true}, ui), kSaved);
}

TEST_F(SaveReading, RealisticTwoEyeReadingMatchesItsExpectedText) {
    const std::string labels = readFileBytes(testDataPath("reading/realistic.labels"));
    const std::string expected = readFileBytes(testDataPath("reading/realistic.expected"));
    ASSERT_FALSE(labels.empty());
    ASSERT_FALSE(expected.empty());
    auto record = emptyRecord();
    parseTraceLabels(*record, labels.c_str());
    std::string written;
    ASSERT_EQ(saveReading(*record, dir.path(), {"", "CTR-1", true}, ui, &written), kSaved);
    EXPECT_EQ(written, dir.file("815.krvw"));
    const std::string plain = decipher(readFileBytes(written));
    EXPECT_EQ(linesOf(plain), linesOf(expected));
    EXPECT_EQ(plain, expected);
}

TEST_F(SaveReading, OneEyeReadingMatchesItsExpectedText) {
    const std::string labels = readFileBytes(testDataPath("reading/edge.labels"));
    const std::string expected = readFileBytes(testDataPath("reading/edge.expected"));
    ASSERT_FALSE(labels.empty());
    auto record = emptyRecord();
    parseTraceLabels(*record, labels.c_str());
    ASSERT_EQ(saveReading(*record, dir.path(), {"HUVITZ", "", true}, ui), kSaved);
    const std::string plain = decipher(readFileBytes(dir.file("leitura.krvw")));
    EXPECT_EQ(linesOf(plain), linesOf(expected));
}

} // namespace
