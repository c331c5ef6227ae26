#include "Parametros.h"

#include "Atomicfile.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kDefaultFile = "MODELOTRACER=1\r\nPORTATCP=55555\r\nPORTASERIAL=\r\n"
                                 "BAUDRATE=9600\r\nCAMINHOLEITURA=\r\nNOMSG=0\r\n";
const std::string kM1 = "Arquivo de Parâmetros inválido. Será criado um novo Arquivo de "
                        "Parâmetros com valores padrão.";
const std::string kM2 = "Não foi possível gravar os Parâmetros. Por favor, verifique se "
                        "possui acesso ao diretório.";

class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(iniDir().c_str(), 0700), 0);
        parametros.modeloTracer = 42; // loads must overwrite whatever was there
    }
    void TearDown() override { setFileSystemCallsForTesting(nullptr); }

    std::string iniDir() const { return dir.file("ini"); }
    std::string iniPath() const { return iniDir() + "/krvw.ini"; }
    int load(const std::string& contents) {
        writeFileBytes(iniPath(), contents);
        return LerParametros(parametros, iniPath(), ui);
    }
    void expectDefaults() const {
        EXPECT_EQ(parametros.modeloTracer, 1);
        EXPECT_EQ(parametros.portaTcp, 55555);
        EXPECT_EQ(parametros.portaSerial, "");
        EXPECT_EQ(parametros.baudRate, "9600");
        EXPECT_EQ(parametros.caminhoLeitura, "");
        EXPECT_FALSE(parametros.noMsg);
    }

    ScratchDir dir;
    FakeUi ui;
    struct_parametros parametros;
};

TEST_F(Configuration, MissingFileIsCreatedWithDefaultsSilently) {
    const mode_t before = umask(077); // every user of the lab still reads it
    EXPECT_EQ(LerParametros(parametros, iniPath(), ui), 1);
    umask(before);
    expectDefaults();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(readFileBytes(iniPath()), kDefaultFile);
    struct stat file;
    ASSERT_EQ(stat(iniPath().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0644u);
}

TEST_F(Configuration, EmptyFileIsReplacedSilently) {
    EXPECT_EQ(load(""), 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(readFileBytes(iniPath()), kDefaultFile);
}

TEST_F(Configuration, MissingIniFolderGivesM2AndDefaults) {
    const std::string path = dir.file("nowhere/krvw.ini");
    EXPECT_EQ(LerParametros(parametros, path, ui), 0);
    expectDefaults();
    EXPECT_EQ(ui.messages, std::vector<std::string>{kM2});
}

TEST_F(Configuration, ValidFileIsReadAndLeftAlone) {
    const std::string file = "BAUDRATE=19200\nMODELOTRACER=2\n\n\nPORTATCP=-7\r\n"
                             "PORTASERIAL=/dev/ttyUSB0\rCAMINHOLEITURA=/srv/leituras\r\n"
                             "OUTRA=1\r\nNOMSG=1x\r\nMODELOTRACER=5\r\n";
    EXPECT_EQ(load(file), 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(parametros.modeloTracer, 2);
    EXPECT_EQ(parametros.portaTcp, -7);
    EXPECT_EQ(parametros.portaSerial, "/dev/ttyUSB0");
    EXPECT_EQ(parametros.baudRate, "19200");
    EXPECT_EQ(parametros.caminhoLeitura, "/srv/leituras");
    EXPECT_TRUE(parametros.noMsg);
    EXPECT_EQ(readFileBytes(iniPath()), file);
}

TEST_F(Configuration, NoMsgFollowsTheLeadingNumber) {
    const std::string base = "MODELOTRACER=0\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n"
                             "CAMINHOLEITURA=\r\n";
    for (const auto& [value, expected] :
         std::vector<std::pair<std::string, bool>>{{"NOMSG=1", true},
                                                   {"NOMSG= 1", true},
                                                   {"NOMSG=0", false},
                                                   {"NOMSG=2", false},
                                                   {"NOMSG=yes", false},
                                                   {"NOMSG=", false},
                                                   {"", false}}) {
        EXPECT_EQ(load(base + value + "\r\n"), 1);
        EXPECT_EQ(parametros.noMsg, expected) << value;
    }
    EXPECT_TRUE(ui.messages.empty());
}

// The optional trace format line: read, and written back only as it was read
// (the parameters dialog saves what it loaded), so the default file never has it.
TEST_F(Configuration, DcsFormatLineIsKeptAsRead) {
    const std::string base = "MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n"
                             "CAMINHOLEITURA=\r\nNOMSG=0\r\n";
    for (const auto& [line, expected] :
         std::vector<std::pair<std::string, int>>{{"FORMATODCS=4\r\n", 4},
                                                  {"FORMATODCS=1\r\n", 1},
                                                  {"FORMATODCS=7\r\n", 0},
                                                  {"FORMATODCS= 4\r\n", 0},
                                                  {"", 0}}) {
        EXPECT_EQ(load(base + line), 1);
        EXPECT_EQ(parametros.formatoDcs, expected) << line;
        EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 1);
        EXPECT_EQ(readFileBytes(iniPath()), base + (expected != 0 ? line : "")) << line;
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Configuration, InvalidFilesAreReplacedWithDefaultsAfterM1) {
    const std::vector<std::string> invalid = {
        "MODELOTRACER=2\r\nPORTATCP=abc\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "MODELOTRACER=2\r\nPORTATCP=\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "MODELOTRACER=2x\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "MODELOTRACER=0x1\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "MODELOTRACER=99999999999\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=1\r\n"
        "CAMINHOLEITURA=\r\n",
        "MODELOTRACER = 2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "modelotracer=2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        "MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n", // four lines
        "MODELOTRACER=2\r\nPORTATCP=1\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\n",
        std::string("\x01\x02\xff\xfe=\x00\x10garbage", 14),
        "MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASERIAL=/dev/tt", // cut in the middle of a line
    };
    for (const std::string& file : invalid) {
        ui.messages.clear();
        EXPECT_EQ(load(file), 1);
        EXPECT_EQ(ui.messages, std::vector<std::string>{kM1}) << file;
        expectDefaults();
        EXPECT_EQ(readFileBytes(iniPath()), kDefaultFile);
    }
}

TEST_F(Configuration, OnlyPresenceAndIntegerFormAreChecked) {
    EXPECT_EQ(load("MODELOTRACER=+9\r\nPORTATCP=70000\r\nPORTASERIAL=\r\nBAUDRATE=1234\r\n"
                   "CAMINHOLEITURA=\r\n"),
              1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(parametros.modeloTracer, 9);
    EXPECT_EQ(parametros.portaTcp, 70000);
    EXPECT_EQ(parametros.baudRate, "1234");
}

TEST_F(Configuration, SizeLimitOf1024Bytes) {
    const std::string head = "MODELOTRACER=3\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n"
                             "CAMINHOLEITURA=/x\r\nNOMSG=0\r\nX=";
    std::string exact = head + std::string(1024 - head.size() - 2, 'y') + "\r\n";
    ASSERT_EQ(exact.size(), 1024u);
    EXPECT_EQ(load(exact), 1);
    EXPECT_EQ(parametros.modeloTracer, 3);
    EXPECT_TRUE(ui.messages.empty());

    std::string over = head + std::string(1024 - head.size() - 1, 'y') + "\r\n";
    ASSERT_EQ(over.size(), 1025u);
    EXPECT_EQ(load(over), 1);
    EXPECT_EQ(ui.messages, std::vector<std::string>{kM1});
    expectDefaults();
}

TEST_F(Configuration, WriterProducesTheSixLinesAndDropsUnknownKeys) {
    load("MODELOTRACER=4\r\nPORTATCP=1\r\nPORTASERIAL=/dev/ttyS1\r\nBAUDRATE=38400\r\n"
         "CAMINHOLEITURA=/srv/leituras\r\nOUTRA=9\r\n");
    parametros.noMsg = true;
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 1);
    EXPECT_EQ(readFileBytes(iniPath()),
              "MODELOTRACER=4\r\nPORTATCP=1\r\nPORTASERIAL=/dev/ttyS1\r\nBAUDRATE=38400\r\n"
              "CAMINHOLEITURA=/srv/leituras\r\nNOMSG=1\r\n");
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui, Edicao::Erp), 1);
    EXPECT_EQ(readFileBytes(iniPath()),
              "MODELOTRACER=4\r\nPORTATCP=1\r\nPORTASERIAL=/dev/ttyS1\r\nBAUDRATE=38400\r\n");
}

TEST_F(Configuration, ErpEditionNeedsOnlyFourKeys) {
    EXPECT_EQ(LerParametros(parametros, iniPath(), ui, Edicao::Erp), 1);
    writeFileBytes(iniPath(), "MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n");
    EXPECT_EQ(LerParametros(parametros, iniPath(), ui, Edicao::Erp), 1);
    EXPECT_EQ(parametros.modeloTracer, 2);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Configuration, ReadingFolderWithAccentsRoundTripsAsWindows1252) {
    parametros = {};
    parametros.caminhoLeitura = "/srv/Leituras Ópticas";
    parametros.baudRate = "9600";
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 1);
    EXPECT_NE(readFileBytes(iniPath()).find("CAMINHOLEITURA=/srv/Leituras \xD3pticas\r\n"),
              std::string::npos);
    struct_parametros again;
    EXPECT_EQ(LerParametros(again, iniPath(), ui), 1);
    EXPECT_EQ(again.caminhoLeitura, "/srv/Leituras Ópticas");
}

// Ten bytes go to disk, then the disk is full.
ssize_t tenBytesThenFull(int fd, const void* data, size_t size) {
    static bool wrote = false;
    if (wrote) {
        errno = ENOSPC;
        return -1;
    }
    wrote = true;
    return ::write(fd, data, size > 10 ? 10 : size);
}

TEST_F(Configuration, FailedWriteKeepsTheOldFileAndGivesM2) {
    const std::string previous = "MODELOTRACER=2\r\nPORTATCP=1\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\n"
                                 "CAMINHOLEITURA=\r\n";
    writeFileBytes(iniPath(), previous);
    const FileSystemCalls calls = {tenBytesThenFull, ::fsync, ::close, ::rename};
    setFileSystemCallsForTesting(&calls);
    parametros.modeloTracer = 6;
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 0);
    EXPECT_EQ(ui.messages, std::vector<std::string>{kM2});
    EXPECT_EQ(readFileBytes(iniPath()), previous);
    EXPECT_EQ(listDir(iniDir()), std::vector<std::string>{"krvw.ini"});
}

TEST_F(Configuration, OverlongTextValuesAreNotWritten) {
    parametros = {};
    parametros.caminhoLeitura = std::string(260, 'c');
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 0);
    EXPECT_FALSE(fileExists(iniPath()));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("259"), std::string::npos);
    parametros.caminhoLeitura = std::string(259, 'c');
    EXPECT_EQ(GravarParametros(parametros, iniPath(), ui), 1);
}

TEST(CaminhoIni, BesideTheExecutable) {
    EXPECT_EQ(CaminhoIni("/opt/krvw/bin/krvw"), "/opt/krvw/bin/ini/krvw.ini");
    const std::string own = CaminhoIni();
    EXPECT_EQ(own.substr(own.size() - 13), "/ini/krvw.ini");
    EXPECT_EQ(own[0], '/');
}

TEST(ParseConfigInteger, SignAndDigitsOnly) {
    int v = 0;
    EXPECT_TRUE(parseConfigInteger("-12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(parseConfigInteger("+3", v));
    EXPECT_EQ(v, 3);
    for (const char* bad : {"", "+", "-", " 1", "1 ", "1.0", "+-1", "0x10", "2147483648"})
        EXPECT_FALSE(parseConfigInteger(bad, v)) << bad;
    EXPECT_TRUE(parseConfigInteger("2147483647", v));
}

} // namespace
