// The port primitives over a real pseudo-terminal, and the clock seam.
#include "Calibration.h"
#include "Clock.h"

#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

long long msSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

// A port opened on the pseudo-terminal and set to raw 9600 8N1, as OpenLink leaves it.
class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        ASSERT_EQ(port.Open(pty.slavePath().c_str()), 0);
        ASSERT_EQ(port.GetState(), 0);
        port.dcb.BaudRate = 9600;
        ASSERT_EQ(port.SetState(), 0);
    }

    termios deviceSettings() const {
        termios tio{};
        EXPECT_EQ(tcgetattr(pty.slaveFd(), &tio), 0);
        return tio;
    }

    void setTimeouts(uint32_t interval, uint32_t perByte, uint32_t constant) {
        port.timeouts = CommTimeouts{interval, perByte, constant, 0, 0};
        ASSERT_EQ(port.SetTimeouts(), 0);
    }

    PseudoTerminal pty;
    CommPort port;
};

TEST(CommPortClosed, EveryPrimitiveRefusesAClosedPort) {
    CommPort port;
    EXPECT_FALSE(port.isOpen());
    uint32_t errors = 7;
    uint32_t done = 7;
    char byte = 0;
    EXPECT_EQ(port.Close(), -1);
    EXPECT_EQ(port.GetProperties(), -1);
    EXPECT_EQ(port.GetModemStatus(), -1);
    EXPECT_EQ(port.GetState(), -1);
    EXPECT_EQ(port.SetState(), -1);
    EXPECT_EQ(port.SetTimeouts(), -1);
    EXPECT_EQ(port.SetMask(0), -1);
    EXPECT_EQ(port.Setup(8192, 8192), -1);
    EXPECT_EQ(port.Escape(SETDTR), -1);
    EXPECT_EQ(port.Purge(kPurgeAll), -1);
    EXPECT_EQ(port.ClearError(errors), -1);
    EXPECT_EQ(port.Read(&byte, 1, done), -1);
    EXPECT_EQ(done, 0u);
    done = 7;
    EXPECT_EQ(port.Write(&byte, 1, done), -1);
    EXPECT_EQ(done, 0u);
}

TEST(CommPortOpen, FailuresGiveTheErrnoAndLeaveThePortClosed) {
    ScratchDir dir;
    CommPort port;
    EXPECT_EQ(port.Open(dir.file("ttyNONE").c_str()), ENOENT);
    EXPECT_FALSE(port.isOpen());
    // A file that is no terminal cannot be a serial line.
    writeFileBytes(dir.file("plain"), "x");
    EXPECT_EQ(port.Open(dir.file("plain").c_str()), ENOTTY);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.Open(nullptr), EINVAL);
    EXPECT_FALSE(port.isOpen());
}

TEST(CommPortOpen, IsExclusiveAndReleasedByClose) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    CommPort first;
    CommPort second;
    ASSERT_EQ(first.Open(pty.slavePath().c_str()), 0);
    EXPECT_TRUE(first.isOpen());
    EXPECT_EQ(first.Open(pty.slavePath().c_str()), -1); // open already
    EXPECT_TRUE(first.isOpen());

    // flock turns away even root (EWOULDBLOCK); TIOCEXCL others (EBUSY).
    const int refused = second.Open(pty.slavePath().c_str());
    EXPECT_TRUE(refused == EWOULDBLOCK || refused == EBUSY) << refused;
    EXPECT_FALSE(second.isOpen());

    int exclusive = -1;
    ASSERT_EQ(ioctl(pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    EXPECT_EQ(first.Close(), 0);
    EXPECT_FALSE(first.isOpen());
    // The terminal's exclusive flag outlives a descriptor: Close must clear it,
    // or nobody but root could open the device while anyone else holds it.
    ASSERT_EQ(ioctl(pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(second.Open(pty.slavePath().c_str()), 0);
    const int nowRefused = first.Open(pty.slavePath().c_str());
    EXPECT_TRUE(nowRefused == EWOULDBLOCK || nowRefused == EBUSY) << nowRefused;
}

TEST_F(CommPortTest, ModemCallsSucceedWithoutModemLines) {
    port.modemStatus = 99;
    EXPECT_EQ(port.GetProperties(), 0);
    EXPECT_FALSE(port.properties.modemLines);
    EXPECT_EQ(port.properties.currentBaud, 9600u);
    EXPECT_EQ(port.GetModemStatus(), 0);
    EXPECT_EQ(port.modemStatus, 0u);
    EXPECT_EQ(port.Escape(SETDTR), 0);
    EXPECT_EQ(port.Escape(SETRTS), 0);
    EXPECT_EQ(port.Escape(99), EINVAL);
    EXPECT_EQ(port.SetMask(0), 0);
    EXPECT_EQ(port.Setup(8192, 8192), 0);
}

TEST_F(CommPortTest, AnUnpluggedDeviceMakesTheCallsFail) {
    pty.unplug();
    uint32_t errors = 0;
    uint32_t done = 0;
    char buffer[4] = {};
    EXPECT_EQ(port.ClearError(errors), EIO);
    EXPECT_EQ(port.GetModemStatus(), EIO);
    EXPECT_EQ(port.Escape(SETDTR), EIO);
    EXPECT_EQ(port.Escape(SETRTS), EIO);
    port.timeouts = CommTimeouts{0, 0, 5000, 1000, 0};
    ASSERT_EQ(port.SetTimeouts(), 0);
    const auto start = Steady::now();
    EXPECT_EQ(port.Read(buffer, 4, done), EIO);
    EXPECT_LT(msSince(start), 1000); // no waiting out the 5 s on a line that has gone
    EXPECT_NE(port.Write("abc", 3, done), 0);
    EXPECT_EQ(port.Close(), 0);
}

TEST(CommPortState, ReadsAndWritesTheLineSettingsKeepingHardwareFlowControl) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_cflag |= CSTOPB | CRTSCTS;
    before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_lflag |= ICANON | ECHO;
    before.c_oflag |= OPOST;
    cfsetspeed(&before, B38400);
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);

    CommPort port;
    ASSERT_EQ(port.Open(pty.slavePath().c_str()), 0);
    ASSERT_EQ(port.GetState(), 0);
    EXPECT_EQ(port.dcb.BaudRate, 38400u);
    EXPECT_EQ(port.dcb.StopBits, kTwoStopBits);
    EXPECT_EQ(port.dcb.ByteSize, 8);

    port.dcb.BaudRate = 19200;
    port.dcb.StopBits = kOneStopBit;
    ASSERT_EQ(port.SetState(), 0);
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&after), static_cast<speed_t>(B19200));
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (CSTOPB | PARENB), 0u);
    EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    EXPECT_EQ(after.c_iflag & ICRNL, 0u);
    // The device's hardware flow control stays as it was; XON/XOFF is off.
    EXPECT_NE(after.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(after.c_cc[VMIN], 0);
    // The record holds what the device took.
    EXPECT_EQ(cfgetospeed(&port.dcb.settings), static_cast<speed_t>(B19200));
}

// A terminal starts with XON/XOFF on; the binary blocks of the tracers carry
// the bytes 0x11 and 0x13 as data, which must arrive, both ways.
TEST(CommPortState, XonAndXoffBytesPassAsData) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    termios start{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &start), 0);
    start.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &start), 0);
    CommPort port;
    ASSERT_EQ(port.Open(pty.slavePath().c_str()), 0);
    ASSERT_EQ(port.GetState(), 0);
    port.dcb.BaudRate = 9600;
    ASSERT_EQ(port.SetState(), 0);
    port.timeouts = CommTimeouts{0, 0, 2000, 1000, 0};
    ASSERT_EQ(port.SetTimeouts(), 0);

    const std::string block("\x11\x13\x11"
                            "a"
                            "\x13",
                            5);
    ASSERT_TRUE(pty.send(block));
    char got[8] = {};
    uint32_t done = 0;
    ASSERT_EQ(port.Read(got, 5, done), 0);
    EXPECT_EQ(std::string(got, done), block);
    // After a received XOFF the output still flows.
    ASSERT_EQ(port.Write(block.data(), 5, done), 0);
    EXPECT_EQ(pty.received(5), block);
}

TEST_F(CommPortTest, RefusesSettingsTheLineCannotTake) {
    port.dcb.BaudRate = 12345;
    EXPECT_EQ(port.SetState(), EINVAL);
    EXPECT_EQ(cfgetospeed(&port.dcb.settings), static_cast<speed_t>(B9600));
    port.dcb.BaudRate = 9600;
    port.dcb.ByteSize = 9;
    EXPECT_EQ(port.SetState(), EINVAL);
    port.dcb.ByteSize = 8;
    port.dcb.StopBits = 1; // one and a half: no terminal has it
    EXPECT_EQ(port.SetState(), EINVAL);
    const termios device = deviceSettings();
    EXPECT_EQ(cfgetospeed(&device), static_cast<speed_t>(B9600));
}

TEST_F(CommPortTest, ClearErrorCountsWaitingBytesAndPurgeDropsThem) {
    uint32_t errors = 5;
    ASSERT_EQ(port.ClearError(errors), 0);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(port.status.cbInQue, 0u);
    ASSERT_TRUE(pty.send("hello"));
    ASSERT_EQ(port.ClearError(errors), 0);
    EXPECT_EQ(port.status.cbInQue, 5u);
    EXPECT_EQ(port.Purge(kPurgeTxAbort | kPurgeTxClear), 0); // output only: input stays
    ASSERT_EQ(port.ClearError(errors), 0);
    EXPECT_EQ(port.status.cbInQue, 5u);
    EXPECT_EQ(port.Purge(0), 0);
    EXPECT_EQ(port.Purge(16), EINVAL);
    EXPECT_EQ(port.Purge(kPurgeRxClear), 0);
    ASSERT_EQ(port.ClearError(errors), 0);
    EXPECT_EQ(port.status.cbInQue, 0u);
}

TEST_F(CommPortTest, ReadTakesWhatIsAskedAndLeavesTheRest) {
    setTimeouts(0, 0, 5000);
    ASSERT_TRUE(pty.send("0123456789"));
    char buffer[16] = {};
    uint32_t done = 0;
    ASSERT_EQ(port.Read(buffer, 4, done), 0);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    ASSERT_EQ(port.Read(buffer, 6, done), 0);
    EXPECT_EQ(std::string(buffer, done), "456789");
    ASSERT_EQ(port.Read(buffer, 0, done), 0);
    EXPECT_EQ(done, 0u);
}

TEST_F(CommPortTest, ReadEndsAtTheTotalTimeoutOnTheClock) {
    FakeClock clock;
    clock.tickStep = 6000; // every look at the clock finds 6 s gone
    ClockInstalled installed(clock);
    setTimeouts(0, 0, 5000);
    ASSERT_TRUE(pty.send("abc"));
    char buffer[16] = {};
    uint32_t done = 0;
    const auto start = Steady::now();
    EXPECT_EQ(port.Read(buffer, 10, done), 0); // a timeout is no error
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_LT(msSince(start), 1000);
}

TEST_F(CommPortTest, ReadWaitsInRealTimeAtMostTheTimeout) {
    setTimeouts(0, 0, 150);
    char buffer[4] = {};
    uint32_t done = 9;
    const auto start = Steady::now();
    EXPECT_EQ(port.Read(buffer, 4, done), 0);
    const long long waited = msSince(start);
    EXPECT_EQ(done, 0u);
    EXPECT_GE(waited, 140);
    EXPECT_LT(waited, 2000);

    // Bytes that come while the read waits are taken.
    setTimeouts(0, 0, 5000);
    bool delivered = false;
    std::thread device([this, &delivered] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delivered = pty.sendNow("wxyz");
    });
    const auto reading = Steady::now();
    EXPECT_EQ(port.Read(buffer, 4, done), 0);
    const long long tookMs = msSince(reading);
    device.join();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(std::string(buffer, done), "wxyz");
    EXPECT_LT(tookMs, 2000); // back when the bytes were there, not at the 5 s
}

TEST_F(CommPortTest, ReadIntervalAndImmediateModes) {
    char buffer[16] = {};
    uint32_t done = 0;
    // Immediate: what is waiting, at once.
    setTimeouts(kReadReturnImmediately, 0, 0);
    auto start = Steady::now();
    EXPECT_EQ(port.Read(buffer, 8, done), 0);
    EXPECT_EQ(done, 0u);
    ASSERT_TRUE(pty.send("ab"));
    EXPECT_EQ(port.Read(buffer, 8, done), 0);
    EXPECT_EQ(std::string(buffer, done), "ab");
    EXPECT_LT(msSince(start), 1000);

    // Interval: a 100 ms gap after the first bytes ends a read allowed 5 s.
    setTimeouts(100, 0, 5000);
    ASSERT_TRUE(pty.send("cd"));
    start = Steady::now();
    EXPECT_EQ(port.Read(buffer, 8, done), 0);
    EXPECT_EQ(std::string(buffer, done), "cd");
    EXPECT_LT(msSince(start), 2000);
}

TEST_F(CommPortTest, WriteSendsTheBytesUnchanged) {
    port.timeouts = CommTimeouts{0, 0, 5000, 1000, 0};
    ASSERT_EQ(port.SetTimeouts(), 0);
    const std::string bytes("\x05line\r\n\x00\xFF\x11\x13", 12);
    uint32_t done = 0;
    ASSERT_EQ(port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), done), 0);
    EXPECT_EQ(done, bytes.size());
    EXPECT_EQ(pty.received(bytes.size()), bytes);
    EXPECT_EQ(pty.receivedRest(), "");
    ASSERT_EQ(port.Write(bytes.data(), 0, done), 0);
    EXPECT_EQ(done, 0u);
}

TEST_F(CommPortTest, WriteGivesUpWhenTheDeviceStopsTakingBytes) {
    // Nobody reads the device side: the kernel's queues fill and the write
    // must end at its timeout instead of blocking.
    port.timeouts = CommTimeouts{0, 0, 5000, 0, 200};
    ASSERT_EQ(port.SetTimeouts(), 0);
    const std::vector<char> block(8u << 20, 'x');
    uint32_t done = 0;
    const auto start = Steady::now();
    EXPECT_EQ(port.Write(block.data(), static_cast<uint32_t>(block.size()), done), 0);
    EXPECT_GT(done, 0u);
    EXPECT_LT(done, block.size());
    EXPECT_LT(msSince(start), 3000);
}

TEST(ClockSeam, SystemClockAndTestClock) {
    Clock& real = systemClock();
    EXPECT_EQ(&activeClock(), &real);
    const uint32_t before = real.tickCount();
    real.sleep(30);
    const uint32_t elapsed = real.tickCount() - before;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 2000u);

    FakeClock fake;
    fake.now = 0xFFFFFFF0u; // sleeps wrap the tick count like GetTickCount
    {
        ClockInstalled installed(fake);
        EXPECT_EQ(&activeClock(), &fake);
        activeClock().sleep(50);
        EXPECT_EQ(activeClock().tickCount(), 0x22u);
        EXPECT_EQ(fake.sleeps, 1);
    }
    EXPECT_EQ(&activeClock(), &real);
    setClockForTesting(&fake);
    setClockForTesting(nullptr);
    EXPECT_EQ(&activeClock(), &real);
}

} // namespace
