#include "Simline.h"

#include "Simcapture.h"
#include "Simout.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t kPaceChunk = 8;    // bytes written at a time when paced
constexpr int kBitsPerByte = 10;         // 8N1: start bit, 8 data bits, stop bit
constexpr int kConfiguredCheckMs = 20;   // how often the program's line settings are looked at
constexpr int kDrainCheckMs = 20;        // how often the bytes waiting for the program are counted
constexpr int64_t kWriteStallMs = 15000; // a program that takes no byte for this long is gone
constexpr int kQuietSliceMs = 200;       // between two looks at who holds the port open

// The link for the signal handler, which may use only async-signal-safe calls:
// plain arrays, filled before the link is made and emptied after it is removed.
char g_linkPath[PATH_MAX];
char g_linkTarget[PATH_MAX];

bool sameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Removes the link only while it still leads to this simulator's slave: someone
// may have replaced it with a link of their own.
void removeOwnLink() {
    if (g_linkPath[0] == '\0')
        return;
    char target[PATH_MAX];
    const ssize_t length = readlink(g_linkPath, target, sizeof target - 1);
    if (length > 0) {
        target[length] = '\0';
        if (sameText(target, g_linkTarget))
            unlink(g_linkPath);
    }
    g_linkPath[0] = '\0';
}

void onSignal(int signal) {
    removeOwnLink();
    const char* text = "RESULT FAIL stopped by SIGTERM\n";
    if (signal == SIGINT)
        text = "RESULT FAIL stopped by SIGINT\n";
    else if (signal == SIGHUP)
        text = "RESULT FAIL stopped by SIGHUP\n";
    const ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(1);
}

bool copyInto(char (&destination)[PATH_MAX], const std::string& text) {
    if (text.size() >= sizeof destination)
        return false;
    std::memcpy(destination, text.c_str(), text.size() + 1);
    return true;
}

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool allDigits(const char* text) {
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// 1 when one of the process's descriptors is `path`, 0 when none, -1 when its
// descriptors cannot be seen.
int holds(const std::string& pid, const std::string& path) {
    const std::string folder = "/proc/" + pid + "/fd";
    DIR* descriptors = opendir(folder.c_str());
    if (descriptors == nullptr)
        return errno == ENOENT ? 0 : -1; // ENOENT: the process has just ended
    int found = 0;
    char target[PATH_MAX];
    while (const dirent* entry = readdir(descriptors)) {
        const std::string name = folder + "/" + entry->d_name;
        const ssize_t length = readlink(name.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        if (path == target) {
            found = 1;
            break;
        }
    }
    closedir(descriptors);
    return found;
}

} // namespace

void installSignalCleanup() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

SimLine::~SimLine() {
    if (m_master >= 0)
        close(m_master);
    if (m_slave >= 0)
        close(m_slave);
    removeLink();
}

bool SimLine::open(std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    char name[PATH_MAX] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = systemError("preparing the pseudo-terminal's slave");
        close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const int flags = fcntl(master, F_GETFL);
    if (slave < 0 || flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("opening the pseudo-terminal's slave");
        if (slave >= 0)
            close(slave);
        close(master);
        return false;
    }
    // Run as root (to make the link under /dev), the slave would be root's
    // alone; the program usually runs as a user of its own.
    if (geteuid() == 0)
        fchmod(slave, 0666);
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
    // The master's own side is raw from the start on Linux. Its termios calls
    // reach the slave, though: making the master raw with cfmakeraw would make
    // the slave raw too and hide the moment the program configures the port.
    markUnconfigured();
    return true;
}

bool SimLine::makeLink(const std::string& path, std::string& why) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            why = path + " exists and is not a link";
            return false;
        }
        if (stat(path.c_str(), &info) == 0) {
            why = path + " already leads to a terminal in use (another simulator?)";
            return false;
        }
        unlink(path.c_str()); // dangling: left by a simulator that was killed
    }
    if (!copyInto(g_linkTarget, m_slavePath) || !copyInto(g_linkPath, path)) {
        why = "the path is too long";
        g_linkPath[0] = '\0';
        return false;
    }
    if (symlink(m_slavePath.c_str(), path.c_str()) != 0) {
        why = std::string("cannot make ") + path + ": " + std::strerror(errno) +
              (errno == EACCES || errno == EPERM ? " (links under /dev need root)" : "");
        g_linkPath[0] = '\0';
        return false;
    }
    m_link = path;
    return true;
}

void SimLine::removeLink() {
    if (m_link.empty())
        return;
    removeOwnLink();
    m_link.clear();
}

void SimLine::setPace(int baud, bool paced) {
    m_baud = baud;
    m_paced = paced;
}

void SimLine::markUnconfigured() {
    noteClosed(); // only ever called once the program has closed the port it opened
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return;
    // Back to a fresh terminal's line mode (XON/XOFF included): the program
    // must set the port up itself.
    tio.c_lflag |= ICANON | ECHO;
    tio.c_iflag |= IXON;
    tcsetattr(m_slave, TCSANOW, &tio);
}

bool SimLine::programConfigured() const {
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return false;
    return (tio.c_lflag & (ICANON | ECHO)) == 0;
}

bool SimLine::waitProgramConfigured(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    while (!programConfigured()) {
        if (nowMs() >= deadline)
            return false;
        sleepMs(kConfiguredCheckMs);
    }
    noteOpen();
    return true;
}

int SimLine::otherOpeners() const {
    DIR* processes = opendir("/proc");
    if (processes == nullptr)
        return -1;
    const std::string self = decimal(getpid());
    const uid_t user = geteuid();
    int result = 0;
    while (const dirent* entry = readdir(processes)) {
        if (!allDigits(entry->d_name) || self == entry->d_name)
            continue;
        // Not root, the terminal is ours alone (mode 0620): another user's
        // processes, whose descriptors we may not see, cannot hold it.
        struct stat owner {};
        if (user != 0 && stat(("/proc/" + std::string(entry->d_name)).c_str(), &owner) == 0 &&
            owner.st_uid != user)
            continue;
        const int held = holds(entry->d_name, m_slavePath);
        if (held == 1) {
            result = 1;
            break;
        }
        if (held < 0)
            result = -1; // unless another process is seen holding it
    }
    closedir(processes);
    return result;
}

bool SimLine::waitDrained(int timeoutMs) const {
    const int64_t deadline = nowMs() + timeoutMs;
    int emptyLooks = 0;
    // Twice empty in a row: bytes on their way through the kernel show up late.
    while (emptyLooks < 2) {
        int waiting = 0;
        if (m_slave < 0 || ioctl(m_slave, FIONREAD, &waiting) != 0)
            return false;
        emptyLooks = waiting == 0 ? emptyLooks + 1 : 0;
        if (emptyLooks < 2) {
            if (nowMs() >= deadline)
                return false;
            sleepMs(kDrainCheckMs);
        }
    }
    return true;
}

void SimLine::waitTaken(int stableMs, int timeoutMs) const {
    const int64_t deadline = nowMs() + timeoutMs;
    int last = -1;
    int64_t since = nowMs();
    for (;;) {
        int waiting = 0;
        if (m_slave < 0 || ioctl(m_slave, FIONREAD, &waiting) != 0)
            return;
        const int64_t now = nowMs();
        if (waiting != last) {
            last = waiting;
            since = now;
        }
        if (now - since >= stableMs || now >= deadline)
            return;
        sleepMs(kDrainCheckMs);
    }
}

void SimLine::resetCounters() {
    m_sent = 0;
    m_received = 0;
}

void SimLine::unplug() {
    if (m_master >= 0) {
        close(m_master);
        recordEvent("hang-up");
    }
    m_master = -1;
}

void SimLine::noteTimeout(int ms) {
    noteOpen();
    recordEvent("timeout " + decimal(ms));
}

// The program's open shows only as its line settings: it is noted when seen
// first, at the latest with the first byte either way.
void SimLine::noteOpen() {
    if (!recording() || m_openSeen || !programConfigured())
        return;
    m_openSeen = true;
    recordEvent("opened");
}

void SimLine::noteClosed() {
    if (!m_openSeen)
        return;
    m_openSeen = false;
    recordEvent("closed");
}

Io SimLine::write(const std::string& bytes) {
    if (!m_paced)
        return writeNow(bytes.data(), bytes.size());
    using Clock = std::chrono::steady_clock;
    // Every chunk leaves at its own time measured from the start, so the
    // sleeps' overshoot does not add up over a long record.
    const auto start = Clock::now();
    const auto lineTime = [this](std::size_t count) {
        return std::chrono::nanoseconds(static_cast<int64_t>(count) * kBitsPerByte * 1000000000LL /
                                        m_baud);
    };
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPaceChunk) {
        std::this_thread::sleep_until(start + lineTime(offset));
        const Io io = writeNow(bytes.data() + offset, std::min(kPaceChunk, bytes.size() - offset));
        if (io != Io::Ok)
            return io;
    }
    // The last chunk is on the wire until its last bit has gone.
    std::this_thread::sleep_until(start + lineTime(bytes.size()));
    return Io::Ok;
}

Io SimLine::writeNow(const char* bytes, std::size_t count) {
    std::size_t done = 0;
    int64_t lastProgress = nowMs();
    while (done < count) {
        if (m_master < 0) {
            m_error = "the line is unplugged";
            return Io::Gone;
        }
        const ssize_t put = ::write(m_master, bytes + done, count - done);
        if (put > 0) {
            noteOpen();
            recordBytes('<', bytes + done, static_cast<std::size_t>(put));
            done += static_cast<std::size_t>(put);
            m_sent += static_cast<uint64_t>(put);
            lastProgress = nowMs();
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            m_error = systemError("writing to the line");
            return Io::Gone;
        }
        // The pseudo-terminal holds a few kilobytes; the rest waits for the program.
        const int64_t left = lastProgress + kWriteStallMs - nowMs();
        if (left <= 0) {
            m_error = "the program took no byte for 15 s";
            return Io::Timeout;
        }
        pollfd entry{m_master, POLLOUT, 0};
        if (poll(&entry, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
            m_error = systemError("waiting to write");
            return Io::Gone;
        }
    }
    return Io::Ok;
}

Io SimLine::waitReadable(int64_t deadline) {
    for (;;) {
        if (m_master < 0) {
            m_error = "the line is unplugged";
            return Io::Gone;
        }
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return Io::Timeout;
        pollfd entry{m_master, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            m_error = systemError("waiting to read");
            return Io::Gone;
        }
        if (ready == 0)
            return Io::Timeout;
        if ((entry.revents & POLLIN) != 0)
            return Io::Ok;
        // With the simulator's own slave descriptor open this cannot happen; if it
        // does, say so instead of spinning on a line that will never read again.
        m_error = "the line hung up although the simulator holds its slave open";
        return Io::Gone;
    }
}

Io SimLine::readExact(std::size_t count, std::string& out, int firstMs, int restMs,
                      int64_t* firstAt) {
    out.clear();
    int64_t deadline = nowMs() + firstMs;
    char chunk[4096];
    while (out.size() < count) {
        const Io io = waitReadable(deadline);
        if (io != Io::Ok)
            return io;
        const ssize_t got = read(m_master, chunk, std::min(sizeof chunk, count - out.size()));
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0) {
            m_error = got == 0 ? std::string("the line closed") : systemError("reading the line");
            return Io::Gone;
        }
        noteOpen();
        recordBytes('>', chunk, static_cast<std::size_t>(got));
        if (out.empty()) {
            const int64_t now = nowMs();
            if (firstAt != nullptr)
                *firstAt = now;
            deadline = now + restMs;
        }
        out.append(chunk, static_cast<std::size_t>(got));
        m_received += static_cast<uint64_t>(got);
    }
    return Io::Ok;
}

Io SimLine::readAny(std::string& out, int timeoutMs) {
    const Io io = waitReadable(nowMs() + timeoutMs);
    if (io != Io::Ok)
        return io;
    char chunk[4096];
    bool any = false;
    for (;;) {
        const ssize_t got = read(m_master, chunk, sizeof chunk);
        if (got > 0) {
            noteOpen();
            recordBytes('>', chunk, static_cast<std::size_t>(got));
            out.append(chunk, static_cast<std::size_t>(got));
            m_received += static_cast<uint64_t>(got);
            any = true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return any ? Io::Ok : Io::Timeout;
        m_error = got == 0 ? std::string("the line closed") : systemError("reading the line");
        return Io::Gone;
    }
}

Io SimLine::waitQuietOrClosed(int quietMs, std::string& got, bool& closed) {
    closed = false;
    int64_t lastByte = nowMs();
    for (;;) {
        if (otherOpeners() == 0) {
            closed = true;
            noteClosed();
            return Io::Ok;
        }
        const int64_t left = lastByte + quietMs - nowMs();
        if (left <= 0) {
            noteTimeout(quietMs);
            return Io::Ok;
        }
        const Io io = readAny(got, static_cast<int>(std::min<int64_t>(left, kQuietSliceMs)));
        if (io == Io::Gone)
            return io;
        if (io == Io::Ok)
            lastByte = nowMs();
    }
}

} // namespace sim
