#include "ptypair.h"

#include "Serialports.h"
#include "testsupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kVisibleWithinMs = 2000;

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

int queued(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return;
    char name[256] = {};
    const int slave =
        grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0
            ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)
            : -1;
    if (slave < 0) {
        close(master);
        return;
    }
    termios tio{};
    if (tcgetattr(master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
}

PseudoTerminal::~PseudoTerminal() {
    unplug();
    if (m_slave >= 0)
        close(m_slave);
}

bool PseudoTerminal::sendNow(const std::string& bytes) {
    if (m_master < 0)
        return false;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = write(m_master, bytes.data() + sent, bytes.size() - sent);
        if (put < 0 && errno != EINTR)
            return false;
        if (put > 0)
            sent += static_cast<std::size_t>(put);
    }
    return true;
}

bool PseudoTerminal::send(const std::string& bytes) {
    const int before = queued(m_slave);
    if (!sendNow(bytes))
        return false;
    // Bytes cross a pseudo-terminal through a kernel work queue, so they show
    // up on the program's side a moment after the write returns.
    const auto start = std::chrono::steady_clock::now();
    while (queued(m_slave) < before + static_cast<int>(bytes.size())) {
        if (millisecondsSince(start) > kVisibleWithinMs)
            return false;
        usleep(1000);
    }
    return true;
}

std::string PseudoTerminal::received(std::size_t expected, int timeoutMs) {
    std::string bytes;
    if (m_master < 0)
        return bytes;
    const auto start = std::chrono::steady_clock::now();
    while (bytes.size() < expected) {
        const int64_t left = timeoutMs - millisecondsSince(start);
        if (left <= 0)
            break;
        pollfd entry{m_master, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left)) <= 0 || (entry.revents & POLLIN) == 0)
            break;
        char chunk[256];
        const std::size_t want = std::min(sizeof chunk, expected - bytes.size());
        const ssize_t got = read(m_master, chunk, want);
        if (got <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::string PseudoTerminal::receivedRest(int settleMs) {
    std::string rest;
    for (;;) {
        const std::string more = received(4096, settleMs);
        if (more.empty())
            return rest;
        rest += more;
    }
}

void PseudoTerminal::unplug() {
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

uint32_t FakeClock::tickCount() {
    const uint32_t tick = now;
    now += tickStep;
    return tick;
}

void FakeClock::sleep(uint32_t ms) {
    now += ms;
    sleptMs += ms;
    ++sleeps;
    if (onSleep)
        onSleep(sleeps);
}

std::string listedPortPath(const std::string& name) {
    static const ScratchDir roots;
    static const bool made =
        mkdir(roots.file("tty").c_str(), 0700) == 0 && mkdir(roots.file("dev").c_str(), 0700) == 0;
    if (made)
        SetSerialPortRootsForTesting(roots.file("tty").c_str(), roots.file("dev").c_str());
    return roots.file("dev/" + name);
}

ListedPort::ListedPort(const char* name) {
    const std::string link = listedPortPath(name);
    if (m_terminal.ok() && symlink(m_terminal.slavePath().c_str(), link.c_str()) == 0)
        m_link = link;
}

ListedPort::~ListedPort() {
    if (!m_link.empty())
        unlink(m_link.c_str());
}

LockedListedPort::LockedListedPort(const char* name) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char* slave = m_master >= 0 ? ptsname(m_master) : nullptr; // no unlockpt
    const std::string link = listedPortPath(name);
    if (slave != nullptr && symlink(slave, link.c_str()) == 0)
        m_link = link;
}

LockedListedPort::~LockedListedPort() {
    if (!m_link.empty())
        unlink(m_link.c_str());
    if (m_master >= 0)
        close(m_master);
}
