// The capture files support asks for: a serial session on a pseudo-terminal
// and a TCP connection over a fake, their exact text with the test clocks; and
// a folder that cannot be written, which costs the readings nothing.
#include "Conexoesrede.h"
#include "Serial.h"
#include "Servidorrede.h"
#include "Tracercapture.h"

#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::time_t fixedStart() {
    return 1796738591; // 2026-12-08T14:03:11Z
}

// A DCS request as a tracer sends it: 23 bytes, so two lines of the file.
const std::string kRequest = "\x1cREQ=INI\r\n\x1e"
                             "CRC=12345\r\n\x1d";

class Peer : public ConexaoCliente {
public:
    bool conectada() const override { return true; }
    int receber(unsigned char* destino, int) override { // fewer than the 10,000 asked for
        std::copy(arriving.begin(), arriving.end(), destino);
        return static_cast<int>(arriving.size());
    }
    bool enviar(const unsigned char*, int) override { return true; }
    void fechar() override {}
    std::string enderecoRemoto() const override { return "192.168.0.20:40312"; }
    std::string arriving;
};

struct Bench {
    ScratchDir dir;
    PseudoTerminal pty;
    FakeClock clock;
    ClockInstalled installed{clock};
    CommPort port;
    unsigned char buffer[64] = {};
    uint32_t done = 0;
};

struct Row {
    const char* name;
    void (*session)(Bench&);
    const char* fileName;
    const char* lines; // after the header's first four lines; {port} is the pty's path
};

const Row kRows[] = {
    {"SerialReading",
     [](Bench& b) {
         b.clock.now = 5000;
         ASSERT_EQ(OpenLink(b.port, b.pty.slavePath().c_str(), 9600), 0);
         b.clock.now = 5812;
         ASSERT_TRUE(b.pty.send(kRequest));
         ASSERT_EQ(b.port.Read(b.buffer, 23, b.done), 0);
         b.clock.now = 6015;
         ASSERT_EQ(SendBlock(b.port, b.buffer + 22, 1), 0);
         b.port.timeouts.ReadTotalTimeoutConstant = 30;
         ASSERT_EQ(b.port.SetTimeouts(), 0);
         ASSERT_EQ(b.port.Read(b.buffer, 1, b.done), 0);
         b.clock.now = 7000;
         ASSERT_EQ(CloseLink(b.port), 0);
     },
     "20261208-140311-serial-1.krvwcap",
     "# port: {port} 9600 8N1\n= 0 opened\n"
     "< 812 1c 52 45 51 3d 49 4e 49 0d 0a 1e 43 52 43 3d 31 |.REQ=INI...CRC=1|\n"
     "< 812 32 33 34 35 0d 0a 1d |2345...|\n> 1015 1d |.|\n= 1015 timeout 30\n= 2000 closed\n"},
    {"SerialUnplugged",
     [](Bench& b) {
         ASSERT_EQ(OpenLink(b.port, b.pty.slavePath().c_str(), 19200), 0);
         b.pty.unplug();
         b.clock.now = 40;
         EXPECT_NE(b.port.ClearError(b.done), 0);
         EXPECT_NE(b.port.ClearError(b.done), 0);
         ASSERT_EQ(CloseLink(b.port), 0);
     },
     "20261208-140311-serial-1.krvwcap",
     "# port: {port} 19200 8N1\n= 0 opened\n= 40 hang-up\n= 40 closed\n"},
    {"TcpPeerGone",
     [](Bench& b) {
         InicializarTabelaDeConexoes();
         Peer peer;
         b.clock.now = 100;
         ServerSocketZURServerClientConnect(peer);
         peer.arriving = kRequest;
         b.clock.now = 150;
         ContextoRede semRegistro{};
         ServerSocketZURServerClientRead(peer, semRegistro);
         std::string error;
         ASSERT_EQ(EnviarAoDispositivo(b.buffer, 2, peer, error), 0);
         b.clock.now = 300;
         ServerSocketZURServerClientDisconnect(peer);
     },
     "20261208-140311-tcp-1.krvwcap",
     "# peer: 192.168.0.20:40312\n= 0 opened\n"
     "< 50 1c 52 45 51 3d 49 4e 49 0d 0a 1e 43 52 43 3d 31 |.REQ=INI...CRC=1|\n"
     "< 50 32 33 34 35 0d 0a 1d |2345...|\n> 50 00 00 |..|\n= 200 hang-up\n"},
};

class CaptureFile : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        ASSERT_TRUE(bench.pty.ok()) << "no pseudo-terminal";
        setCaptureWallClockForTesting(fixedStart);
        setCaptureModel(2);
    }
    void TearDown() override {
        setCaptureFolder(nullptr);
        setCaptureWallClockForTesting(nullptr);
        setCaptureModel(-1);
    }
    Bench bench;
};

TEST_P(CaptureFile, HoldsTheSessionExactly) {
    setCaptureFolder(bench.dir.path().c_str());
    GetParam().session(bench);
    std::string lines = GetParam().lines;
    if (const std::size_t at = lines.find("{port}"); at != std::string::npos)
        lines.replace(at, 6, bench.pty.slavePath());
    EXPECT_EQ(listDir(bench.dir.path()), std::vector<std::string>{GetParam().fileName});
    EXPECT_EQ(readFileBytes(bench.dir.file(GetParam().fileName)),
              std::string("# krvw-capture: 1\n# program: ") + kCaptureProgram +
                  "\n# start: 2026-12-08T14:03:11Z\n# model: 2 Huvitz\n" + lines);
}

INSTANTIATE_TEST_SUITE_P(Sessions, CaptureFile, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(CaptureFile, UnwritableFolderTellsOnceAndReadingsGoOn) {
    writeFileBytes(bench.dir.file("plain"), "x");
    setCaptureFolder((bench.dir.file("plain") + "/captures").c_str());
    ::testing::internal::CaptureStderr();
    for (int session = 0; session < 2; ++session) {
        EXPECT_EQ(OpenLink(bench.port, bench.pty.slavePath().c_str(), 9600), 0);
        EXPECT_EQ(SendBlock(bench.port, bench.buffer, 4), 0);
        EXPECT_EQ(CloseLink(bench.port), 0);
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(said.rfind("krvw: captures stopped: cannot write ", 0), 0u) << said;
    EXPECT_EQ(listDir(bench.dir.path()), std::vector<std::string>{"plain"});
}

} // namespace
