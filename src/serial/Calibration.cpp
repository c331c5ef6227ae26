#include "Calibration.h"

#include "Clock.h"
#include "Tracercapture.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

struct SpeedEntry {
    uint32_t baud;
    speed_t speed;
};

// The rates termios has a constant for.
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedOf(uint32_t baud, speed_t& speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

uint32_t baudOf(speed_t speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.speed == speed)
            return entry.baud;
    }
    return 0;
}

// A pseudo-terminal has no modem lines: its driver refuses the modem ioctls
// with one of these, which means "nothing to do", not a failure.
bool noModemControl(int error) {
    return error == ENOTTY || error == EINVAL;
}

// The time left of a total timeout started at `start`, or -1 for no limit.
// Unsigned subtraction keeps the elapsed time right across a wrap of the tick count.
int remainingMs(bool limited, uint64_t total, uint32_t start) {
    if (!limited)
        return -1;
    const uint32_t elapsed = activeClock().tickCount() - start;
    if (elapsed >= total)
        return 0;
    const uint64_t left = total - elapsed;
    return left > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(left);
}

// Waits up to waitMs (-1: no limit) for `events`. 0 when the time ran out,
// 1 when the device is ready (or hung up: the next read or write tells), else -errno.
int waitReady(int fd, short events, int waitMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, waitMs);
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -errno;
    }
}

// Unix98 pseudo-terminal slaves have the majors 136 to 143.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

bool isPseudoTerminal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned deviceMajor = major(info.st_rdev);
    return deviceMajor >= kPtySlaveMajorFirst && deviceMajor <= kPtySlaveMajorLast;
}

// Waits until the driver has sent every written byte, checking every few
// milliseconds, for at most waitMs (-1: no limit): until the queue is empty,
// the time ran out (the bytes then still go out), or the queue can no longer be
// looked at. That last is no failure of the write: its bytes were taken, and a
// device that hung up right after receiving them (a tracer switched off after
// its last block) does not undo them.
void drainOutput(int fd, int waitMs) {
    constexpr uint32_t kCheckMs = 2;
    const uint32_t start = activeClock().tickCount();
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return;
        if (waitMs >= 0 && activeClock().tickCount() - start >= static_cast<uint32_t>(waitMs))
            return;
        activeClock().sleep(kCheckMs);
    }
}

// A read that returns at once with the bytes already waiting, never waiting itself.
bool returnsAtOnce(const CommTimeouts& limits) {
    return limits.ReadIntervalTimeout == kReadReturnImmediately &&
           limits.ReadTotalTimeoutMultiplier == 0 && limits.ReadTotalTimeoutConstant == 0;
}

bool hungUp(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int dataBits(uint8_t byteSize, tcflag_t& size) {
    switch (byteSize) {
    case 5:
        size = CS5;
        return 0;
    case 6:
        size = CS6;
        return 0;
    case 7:
        size = CS7;
        return 0;
    case 8:
        size = CS8;
        return 0;
    default:
        return EINVAL;
    }
}

// The terminal settings for `dcb`: raw bytes both ways, the line format and
// speed of the record, and the device's hardware flow control left as found.
// Software flow control is switched off: a terminal starts with IXON on, which
// would swallow the bytes 0x11 and 0x13 of the tracers' binary blocks (a radius
// of 44 mm starts with 0x11) and stop our output at a received 0x13.
int rawSettings(const LineSettings& dcb, termios& tio) {
    speed_t speed = B0;
    tcflag_t size = CS8;
    if (!speedOf(dcb.BaudRate, speed) || dataBits(dcb.ByteSize, size) != 0 ||
        dcb.Parity > kEvenParity || (dcb.StopBits != kOneStopBit && dcb.StopBits != kTwoStopBits))
        return EINVAL;
    tio = dcb.settings;
    // As cfmakeraw(), and no XON/XOFF either way.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= size | CLOCAL | CREAD;
    if (dcb.Parity == kOddParity)
        tio.c_cflag |= PARENB | PARODD;
    else if (dcb.Parity == kEvenParity)
        tio.c_cflag |= PARENB;
    if (dcb.StopBits == kTwoStopBits)
        tio.c_cflag |= CSTOPB;
    // Read() waits with poll() and its own deadline; read() itself never blocks.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
        return EINVAL;
    return 0;
}

// Fills the line-format fields of `dcb` from its terminal settings.
void describe(LineSettings& dcb) {
    const termios& tio = dcb.settings;
    dcb.BaudRate = baudOf(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if ((tio.c_cflag & PARENB) == 0)
        dcb.Parity = kNoParity;
    else
        dcb.Parity = (tio.c_cflag & PARODD) != 0 ? kOddParity : kEvenParity;
    dcb.StopBits = (tio.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
}

int modemLines(int fd, unsigned long request, int bits) {
    if (ioctl(fd, request, &bits) == 0 || noModemControl(errno))
        return 0;
    return errno;
}

int g_openRefusal = 0; // see SetOpenRefusalForTesting

} // namespace

void SetOpenRefusalForTesting(int error) {
    g_openRefusal = error;
}

CommPort::CommPort() = default;

CommPort::~CommPort() {
    if (m_isOpen)
        static_cast<void>(Close()); // a destructor has no one to tell
}

int CommPort::Open(const char* name) {
    if (m_isOpen)
        return -1;
    if (name == nullptr)
        return EINVAL;
    if (g_openRefusal != 0)
        return g_openRefusal;
    // O_NONBLOCK only for the open itself: it must not wait for a carrier line.
    const int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // flock keeps out every other opener, root included; TIOCEXCL alone does not.
    int error = 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0)
        error = errno;
    if (error == 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
    }
    if (error != 0) {
        close(fd);
        return error;
    }
    m_fd = fd;
    m_isOpen = true;
    m_pseudoTerminal = isPseudoTerminal(fd);
    status.cbInQue = 0;
    m_capture = TracerCapture::serial(name);
    return 0;
}

int CommPort::Close() {
    if (!m_isOpen)
        return -1;
    // Lets the next program in: the exclusive flag belongs to the terminal and
    // would outlive this descriptor while someone else holds the device open.
    ioctl(m_fd, TIOCNXCL);
    if (m_capture) {
        m_capture->closed();
        m_capture.reset();
    }
    const int result = close(m_fd) == 0 ? 0 : errno;
    m_fd = -1;
    m_isOpen = false;
    return result;
}

int CommPort::GetProperties() {
    if (!m_isOpen)
        return -1;
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return errno;
    properties.currentBaud = baudOf(cfgetospeed(&tio));
    int bits = 0;
    if (ioctl(m_fd, TIOCMGET, &bits) == 0)
        properties.modemLines = true;
    else if (noModemControl(errno))
        properties.modemLines = false;
    else
        return errno;
    return 0;
}

int CommPort::GetModemStatus() {
    if (!m_isOpen)
        return -1;
    int bits = 0;
    if (ioctl(m_fd, TIOCMGET, &bits) == 0)
        modemStatus = static_cast<uint32_t>(bits);
    else if (noModemControl(errno))
        modemStatus = 0;
    else
        return errno;
    return 0;
}

int CommPort::GetState() {
    if (!m_isOpen)
        return -1;
    if (tcgetattr(m_fd, &dcb.settings) != 0)
        return errno;
    describe(dcb);
    return 0;
}

int CommPort::SetState() {
    if (!m_isOpen)
        return -1;
    termios tio{};
    const int invalid = rawSettings(dcb, tio);
    if (invalid != 0)
        return invalid;
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return errno;
    // tcsetattr succeeds when any part was taken; the record shows what the device took.
    if (tcgetattr(m_fd, &dcb.settings) != 0)
        return errno;
    if (m_capture)
        m_capture->lineSettings(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits);
    return 0;
}

int CommPort::SetTimeouts() {
    if (!m_isOpen)
        return -1;
    m_active = timeouts;
    return 0;
}

int CommPort::SetMask(uint32_t mask) {
    if (!m_isOpen)
        return -1;
    eventMask = mask;
    return 0;
}

int CommPort::Setup(uint32_t, uint32_t) {
    // The kernel's terminal queues have a fixed size.
    return m_isOpen ? 0 : -1;
}

int CommPort::Escape(int function) {
    if (!m_isOpen)
        return -1;
    switch (function) {
    case SETRTS:
        return modemLines(m_fd, TIOCMBIS, TIOCM_RTS);
    case CLRRTS:
        return modemLines(m_fd, TIOCMBIC, TIOCM_RTS);
    case SETDTR:
        return modemLines(m_fd, TIOCMBIS, TIOCM_DTR);
    case CLRDTR:
        return modemLines(m_fd, TIOCMBIC, TIOCM_DTR);
    case SETXOFF:
        return tcflow(m_fd, TCOOFF) == 0 ? 0 : errno;
    case SETXON:
        return tcflow(m_fd, TCOON) == 0 ? 0 : errno;
    case SETBREAK:
        return ioctl(m_fd, TIOCSBRK) == 0 ? 0 : errno;
    case CLRBREAK:
        return ioctl(m_fd, TIOCCBRK) == 0 ? 0 : errno;
    default:
        return EINVAL;
    }
}

int CommPort::Purge(uint32_t flags) {
    if (!m_isOpen)
        return -1;
    if ((flags & ~kPurgeAll) != 0)
        return EINVAL;
    const bool input = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    // Flushing the output drops bytes not yet transmitted. A pseudo-terminal has
    // none: its bytes are in the other side's input at once, and a flush there
    // would take back what the other side has received but not read yet (the
    // last ACK of a reading, followed at once by the close).
    const bool output = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0 && !m_pseudoTerminal;
    if (!input && !output)
        return 0;
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return tcflush(m_fd, queue) == 0 ? 0 : errno;
}

int CommPort::ClearError(uint32_t& errors) {
    errors = 0;
    if (!m_isOpen)
        return -1;
    // An unplugged device may still answer FIONREAD; the hang-up tells it has gone.
    if (hungUp(m_fd)) {
        if (m_capture)
            m_capture->hangUp();
        return EIO;
    }
    int waiting = 0;
    if (ioctl(m_fd, FIONREAD, &waiting) != 0)
        return errno;
    status.cbInQue = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    return 0;
}

int CommPort::Read(void* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (!m_isOpen)
        return -1;
    // Non-blocking while reading: before SetState the terminal may still be in
    // line mode, where a blocking read() would wait for a whole line.
    const int flags = fcntl(m_fd, F_GETFL);
    if (flags < 0 || fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    const int result = readWithin(static_cast<unsigned char*>(buffer), count, done);
    fcntl(m_fd, F_SETFL, flags);
    if (m_capture)
        captureRead(result, count, done);
    return result;
}

// The events of a read for the capture; its bytes went in as they came.
void CommPort::captureRead(int result, uint32_t count, uint32_t done) {
    if (result == EIO)
        m_capture->hangUp();
    if (result != 0 || done > 0 || count == 0 || returnsAtOnce(m_active))
        return;
    // The allowance, not the time measured: what the read was set to wait.
    const uint64_t allowed =
        uint64_t{m_active.ReadTotalTimeoutMultiplier} * count + m_active.ReadTotalTimeoutConstant;
    m_capture->timeout(allowed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(allowed));
}

int CommPort::readWithin(unsigned char* bytes, uint32_t count, uint32_t& done) {
    const CommTimeouts& limits = m_active;
    const bool immediate = returnsAtOnce(limits);
    const bool limited =
        limits.ReadTotalTimeoutMultiplier != 0 || limits.ReadTotalTimeoutConstant != 0;
    const uint64_t total =
        uint64_t{limits.ReadTotalTimeoutMultiplier} * count + limits.ReadTotalTimeoutConstant;
    const uint32_t start = activeClock().tickCount();
    bool hangUpSeen = false;
    while (done < count) {
        const ssize_t got = read(m_fd, bytes + done, count - done);
        if (got > 0) {
            if (m_capture)
                m_capture->fromDevice(bytes + done, static_cast<std::size_t>(got));
            done += static_cast<uint32_t>(got);
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return errno;
        if (hangUpSeen)
            return EIO; // nothing more will come: the device has gone
        if (immediate)
            return 0;
        int waitMs = remainingMs(limited, total, start);
        if (waitMs == 0)
            return 0;
        // Once bytes have come, a gap longer than the interval ends the read.
        const uint32_t interval = limits.ReadIntervalTimeout;
        if (done > 0 && interval != 0 && interval <= 0x7FFFFFFFu &&
            (waitMs < 0 || interval < static_cast<uint32_t>(waitMs)))
            waitMs = static_cast<int>(interval);
        const int ready = waitReady(m_fd, POLLIN, waitMs);
        if (ready < 0)
            return -ready;
        if (ready == 0)
            return 0; // the time allowed went by without a byte
        hangUpSeen = hungUp(m_fd);
    }
    return 0;
}

int CommPort::Write(const void* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (!m_isOpen)
        return -1;
    const bool limited =
        m_active.WriteTotalTimeoutMultiplier != 0 || m_active.WriteTotalTimeoutConstant != 0;
    const uint64_t total =
        uint64_t{m_active.WriteTotalTimeoutMultiplier} * count + m_active.WriteTotalTimeoutConstant;
    const uint32_t start = activeClock().tickCount();
    // Non-blocking while writing, so a device that stops taking bytes cannot
    // hold the call past its timeout.
    const int flags = fcntl(m_fd, F_GETFL);
    if (flags < 0 || fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int result = 0;
    while (done < count) {
        const ssize_t put = write(m_fd, bytes + done, count - done);
        if (put > 0) {
            if (m_capture)
                m_capture->toDevice(bytes + done, static_cast<std::size_t>(put));
            done += static_cast<uint32_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            result = errno;
            break;
        }
        const int waitMs = remainingMs(limited, total, start);
        const int ready = waitMs == 0 ? 0 : waitReady(m_fd, POLLOUT, waitMs);
        if (ready <= 0) {
            result = -ready; // 0: timed out with fewer bytes written, which is no error
            break;
        }
    }
    // A write is done when its bytes are on the line, as a device's blocking
    // write is: a flush or a close that follows cannot take them back.
    if (result == 0 && done == count && count > 0)
        drainOutput(m_fd, remainingMs(limited, total, start));
    fcntl(m_fd, F_SETFL, flags);
    if (result == EIO && m_capture)
        m_capture->hangUp();
    return result;
}
