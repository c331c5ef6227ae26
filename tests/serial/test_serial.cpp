// The link operations against a device played on a real pseudo-terminal, with
// the test clock: the 50 ms polls and the 6 s limit take no real time.
#include "Serial.h"

#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <termios.h>
#include <type_traits>

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPollsIn6s = 6000 / 50;
const std::string kAckByte(1, static_cast<char>(kAck));
const std::string kNakByte(1, static_cast<char>(kNak));
const std::string kEnqByte(1, static_cast<char>(kEnq));

static_assert(std::is_same_v<decltype(OpenLink(std::declval<CommPort&>(), "", 0)), int64_t>);
static_assert(std::is_same_v<decltype(Enquire(std::declval<CommPort&>())), int64_t>);

long long msSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()) << "no pseudo-terminal"; }

    void open(int baudRate = 9600) {
        ASSERT_EQ(OpenLink(port, pty.slavePath().c_str(), baudRate), 0);
    }

    // The device answers `answer` once it has the `expected` bytes the program sent.
    void answerAfter(std::size_t expected, const std::string& answer) {
        const int next = clock.sleeps + 1; // the first poll of the coming ReceiveBlock
        clock.onSleep = [this, expected, answer, next](int sleep) {
            if (sleep != next)
                return;
            sent = pty.received(expected);
            if (!answer.empty()) {
                EXPECT_TRUE(pty.send(answer));
            }
        };
    }

    uint32_t waiting() {
        uint32_t errors = 0;
        EXPECT_EQ(port.ClearError(errors), 0);
        return port.status.cbInQue;
    }

    PseudoTerminal pty;
    FakeClock clock;
    ClockInstalled installed{clock};
    CommPort port;
    std::string sent;
};

class OpenLinkSpeed : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(OpenLinkSpeed, SetsRaw8N1AtTheRate) {
    open(GetParam());
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &tio), 0); // read back on a descriptor of our own
    const speed_t expected = GetParam() == 9600 ? B9600 : (GetParam() == 19200 ? B19200 : B38400);
    EXPECT_EQ(cfgetospeed(&tio), expected);
    EXPECT_EQ(cfgetispeed(&tio), expected);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(port.dcb.BaudRate, static_cast<uint32_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(ConfiguredRates, OpenLinkSpeed, ::testing::Values(9600, 19200, 38400));

TEST_F(LinkTest, OpenLinkWritesTheRecordsAndFlushesStaleInput) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &tio), 0);
    cfmakeraw(&tio); // so the stale bytes count as waiting
    tio.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &tio), 0);
    ASSERT_TRUE(pty.send("stale"));

    open();
    EXPECT_EQ(waiting(), 0u);
    EXPECT_EQ(port.dcb.ByteSize, 8);
    EXPECT_EQ(port.dcb.StopBits, kOneStopBit);
    EXPECT_EQ(port.dcb.XonLim, 2048);
    EXPECT_EQ(port.dcb.XoffLim, 512);
    EXPECT_EQ(port.dcb.ErrorChar, 0xFF);
    EXPECT_EQ(port.dcb.EofChar, 0xFF);
    EXPECT_EQ(port.dcb.EvtChar, 0xFF);
    EXPECT_EQ(port.timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 5000u);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, 1000u);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(port.eventMask, 0u);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST_F(LinkTest, OpenLinkFailures) {
    ScratchDir dir;
    EXPECT_EQ(OpenLink(port, dir.file("ttyUSB9").c_str(), 9600), 10);
    EXPECT_FALSE(port.isOpen()); // nothing for the caller to close

    open();
    EXPECT_EQ(OpenLink(port, pty.slavePath().c_str(), 9600), 10); // open already
    EXPECT_TRUE(port.isOpen());

    CommPort other; // a second program on the same device
    EXPECT_EQ(OpenLink(other, pty.slavePath().c_str(), 9600), 10);
    EXPECT_FALSE(other.isOpen());
}

TEST_F(LinkTest, AnUnsupportedRateFailsAtSetStateAndLeavesThePortOpen) {
    EXPECT_EQ(OpenLink(port, pty.slavePath().c_str(), 12345), 50);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(CloseLink(port), 0);
    EXPECT_FALSE(port.isOpen());
}

TEST_F(LinkTest, CloseLink) {
    EXPECT_EQ(CloseLink(port), 1); // not open
    open();
    EXPECT_EQ(CloseLink(port), 0);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(CloseLink(port), 1);
    CommPort next; // the device is free again
    EXPECT_EQ(OpenLink(next, pty.slavePath().c_str(), 9600), 0);
}

TEST_F(LinkTest, SendBlock) {
    open();
    const unsigned char bytes[] = {'R', 'E', 'Q', 0x00, 0xFF, '\r', '\n'};
    EXPECT_EQ(SendBlock(port, bytes, sizeof bytes), 0);
    EXPECT_EQ(pty.received(sizeof bytes), std::string(reinterpret_cast<const char*>(bytes), 7));
    EXPECT_EQ(pty.receivedRest(), "");
    pty.unplug();
    EXPECT_EQ(SendBlock(port, bytes, sizeof bytes), 10);
    CommPort closed;
    EXPECT_EQ(SendBlock(closed, bytes, sizeof bytes), 10);
}

TEST_F(LinkTest, ReceiveBlockTakesWhatCameWithinSixSeconds) {
    open();
    const std::string twelve = "ABCDEFGHIJKL";
    ASSERT_TRUE(pty.send(twelve));
    unsigned char block[29] = {};
    int got = -1;
    const auto start = Steady::now();
    EXPECT_EQ(ReceiveBlock(port, 29, block, got), 40);
    EXPECT_EQ(got, 12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 12), twelve);
    EXPECT_EQ(block[12], 0);
    EXPECT_EQ(clock.sleeps, kPollsIn6s);
    EXPECT_EQ(clock.sleptMs, 6000u);
    EXPECT_LT(msSince(start), 2000); // fake time only
}

TEST_F(LinkTest, ReceiveBlockLeavesSurplusBytesQueued) {
    open();
    ASSERT_TRUE(pty.send("0123456789"));
    unsigned char block[10] = {};
    int got = 0;
    EXPECT_EQ(ReceiveBlock(port, 4, block, got), 0);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 4), "0123");
    EXPECT_EQ(clock.sleeps, 1); // found at the first look, 50 ms after the call
    EXPECT_EQ(waiting(), 6u);
    EXPECT_EQ(ReceiveBlock(port, 6, block, got), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 6), "456789");
}

TEST_F(LinkTest, ReceiveBlockWaitsForBytesThatComeLater) {
    open();
    clock.onSleep = [this](int sleep) {
        if (sleep == 3) {
            EXPECT_TRUE(pty.send("xyz"));
        }
    };
    unsigned char block[3] = {};
    int got = 0;
    EXPECT_EQ(ReceiveBlock(port, 3, block, got), 0);
    EXPECT_EQ(got, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 3), "xyz");
    EXPECT_EQ(clock.sleeps, 3);
    EXPECT_EQ(clock.sleptMs, 150u);
}

TEST_F(LinkTest, ReceiveBlockFailsWhenTheQueueCannotBeRead) {
    unsigned char block[4] = {};
    int got = 5;
    EXPECT_EQ(ReceiveBlock(port, 4, block, got), 10); // not open
    EXPECT_EQ(got, 0);
    open();
    pty.unplug();
    EXPECT_EQ(ReceiveBlock(port, 4, block, got), 10);
    EXPECT_EQ(clock.sleeps, 2); // one look each: no waiting on a device that has gone
}

TEST_F(LinkTest, SendAndConfirmAnswers) {
    open();
    const unsigned char request[] = {'C', 'M', 'D', 0x0D};
    const std::string requestText(reinterpret_cast<const char*>(request), sizeof request);
    struct Case {
        std::string answer;
        int64_t result;
    };
    for (const Case& c : {Case{kAckByte, 0}, Case{kNakByte, 40}, Case{"?", 50}}) {
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c.answer[0])));
        answerAfter(sizeof request, c.answer);
        EXPECT_EQ(SendAndConfirm(port, request, sizeof request), c.result);
        EXPECT_EQ(sent, requestText);
        EXPECT_EQ(waiting(), 0u);
    }
}

TEST_F(LinkTest, SendAndConfirmWithoutAnswer) {
    open();
    const unsigned char request[] = {'X'};
    answerAfter(1, "");
    EXPECT_EQ(SendAndConfirm(port, request, 1), 40030); // ReceiveBlock's 40 in step 30
    EXPECT_EQ(sent, "X");
    EXPECT_EQ(clock.sleeps, kPollsIn6s);
    pty.unplug();
    EXPECT_EQ(SendAndConfirm(port, request, 1), 10);
}

TEST_F(LinkTest, EnquireSendsEnqAndFlushesAfterTheAck) {
    open();
    answerAfter(1, kAckByte + "junk");
    EXPECT_EQ(Enquire(port), 0);
    EXPECT_EQ(sent, kEnqByte);
    EXPECT_EQ(waiting(), 0u); // the final purge dropped what followed the ACK
    EXPECT_EQ(pty.receivedRest(), "");
}

TEST_F(LinkTest, EnquireFailuresNestTheInnerNumbers) {
    open();
    answerAfter(1, kNakByte);
    EXPECT_EQ(Enquire(port), 40010);

    answerAfter(1, "");
    const int64_t silent = Enquire(port);
    EXPECT_EQ(silent, int64_t{40030} * 1000 + 10);
    EXPECT_EQ(sent, kEnqByte);
    // A protocol step that nests this once more leaves 32 bits behind.
    const int64_t inStep = silent * 1000 + 20;
    EXPECT_EQ(inStep, 40030010020);
    EXPECT_GT(inStep, int64_t{UINT32_MAX});
}

TEST_F(LinkTest, TimedReadingStartAndStop) {
    std::string detail;
    EXPECT_EQ(StartTimedReading(port, pty.slavePath().c_str(), 19200, detail), 0);
    EXPECT_EQ(detail, "");
    EXPECT_TRUE(port.isOpen());
    ASSERT_TRUE(pty.send("frame"));
    EXPECT_EQ(waiting(), 5u); // what the timer's tick finds

    EXPECT_EQ(StopTimedReading(port, detail), 0);
    EXPECT_EQ(detail, "");
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(StopTimedReading(port, detail), 1070); // a second stop only reports
    EXPECT_EQ(detail, "Erro no encerramento da conexão com o Tracer.");
}

// Why an open failed, in the user's words, whatever the locale.
TEST(OpenFailureCause, InTheUsersWords) {
    const std::string semPermissao = "sem permissão: o usuário precisa pertencer ao grupo dialout "
                                     "(depois de incluído, saia da sessão e entre de novo)";
    const std::string emUso = "em uso por outro programa ou pela sessão de outro usuário";
    const std::string ausente = "não está presente (o adaptador foi desconectado?)";
    const struct {
        int error;
        std::string cause;
    } rows[] = {{EACCES, semPermissao}, {EPERM, semPermissao},      {EWOULDBLOCK, emUso},
                {EBUSY, emUso},         {ENOENT, ausente},          {ENODEV, ausente},
                {ENXIO, ausente},       {EIO, "Input/output error"}};
    for (const auto& row : rows)
        EXPECT_EQ(OpenFailureCause(row.error), row.cause) << row.error;
}

TEST_F(LinkTest, TimedReadingStartFailures) {
    ScratchDir dir;
    std::string detail;
    int error = 0;
    EXPECT_EQ(StartTimedReading(port, dir.file("ttyACM0").c_str(), 9600, detail, &error), 10010);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(detail, "Erro na inicialização da conexão com o Tracer. Porta " +
                          dir.file("ttyACM0") +
                          ": não está presente (o adaptador foi desconectado?).");
    EXPECT_FALSE(port.isOpen());

    // Past the open: the port is closed again.
    detail.clear();
    EXPECT_EQ(StartTimedReading(port, pty.slavePath().c_str(), 12345, detail), 50010);
    EXPECT_EQ(detail, "Erro na inicialização da conexão com o Tracer.");
    EXPECT_FALSE(port.isOpen());

    // Open already gives 10: that port is left alone.
    open();
    EXPECT_EQ(StartTimedReading(port, pty.slavePath().c_str(), 9600, detail), 10010);
    EXPECT_TRUE(port.isOpen());
}

TEST_F(LinkTest, AnUnpluggedDeviceStopsTheTimedReading) {
    std::string detail;
    ASSERT_EQ(StartTimedReading(port, pty.slavePath().c_str(), 9600, detail), 0);
    uint32_t errors = 0;
    EXPECT_EQ(port.ClearError(errors), 0);
    pty.unplug();
    EXPECT_NE(port.ClearError(errors), 0);
    EXPECT_EQ(StopTimedReading(port, detail), 0);
}

} // namespace
