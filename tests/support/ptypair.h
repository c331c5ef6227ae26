// The serial test bench: a pseudo-terminal pair that stands in for a tracer on
// a serial line, and a clock that lets the serial code's waits pass without
// real time.
#pragma once

#include "Clock.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The program opens slavePath() as its serial device; the test plays the
// device on the master side (set raw, so bytes pass unchanged).
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return m_master >= 0; }
    const std::string& slavePath() const { return m_slavePath; }
    // A descriptor of the test's own on the program's side, to look at the
    // line settings the program made. Held open for the pair's whole life.
    int slaveFd() const { return m_slave; }

    // The device sends `bytes`. Returns once the program's side counts them in
    // its input queue (which needs the raw mode OpenLink sets), false if that
    // took over 2 s or the write failed.
    bool send(const std::string& bytes);
    // The device sends `bytes` while the program may be reading: no waiting.
    bool sendNow(const std::string& bytes);
    // What the program sent: waits up to timeoutMs for `expected` bytes and
    // returns those that came (at most `expected`).
    std::string received(std::size_t expected, int timeoutMs = 2000);
    // Whatever more arrives within settleMs.
    std::string receivedRest(int settleMs = 100);
    // The device is unplugged: the master side closes and the line hangs up.
    void unplug();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

// Time that moves only when the code under test asks it to: sleep() adds to
// the tick count at once, counts the sleeps and then runs onSleep with the
// sleep's number (1 for the first), for a device that answers after a while.
class FakeClock : public Clock {
public:
    uint32_t tickCount() override;
    void sleep(uint32_t ms) override;

    uint32_t now = 0;
    uint32_t tickStep = 0; // added after every tickCount(): time that passes by itself
    int sleeps = 0;
    uint64_t sleptMs = 0;
    std::function<void(int sleep)> onSleep;
};

// Installs a clock for one scope.
class ClockInstalled {
public:
    explicit ClockInstalled(Clock& clock) { setClockForTesting(&clock); }
    ~ClockInstalled() { setClockForTesting(nullptr); }
    ClockInstalled(const ClockInstalled&) = delete;
    ClockInstalled& operator=(const ClockInstalled&) = delete;
};

// Where a link named `name` is listed as a serial port, for any user: in a
// scratch device folder of this process that port discovery takes as its root
// from the first call on, beside an empty terminal class folder (so that no
// hardware port, the console above all, is ever listed to a test).
std::string listedPortPath(const std::string& name);

// A pseudo-terminal the program lists as a serial port: a link to its slave at
// listedPortPath(`name`), removed again when the object goes, whether the test
// passed or not.
class ListedPort {
public:
    explicit ListedPort(const char* name = "ttyKRVWTEST");
    ~ListedPort();
    ListedPort(const ListedPort&) = delete;
    ListedPort& operator=(const ListedPort&) = delete;

    bool ok() const { return !m_link.empty(); }
    const std::string& path() const { return m_link; }
    PseudoTerminal& terminal() { return m_terminal; }

private:
    PseudoTerminal m_terminal;
    std::string m_link;
};

// A pseudo-terminal whose slave is never unlocked, listed as `name`: opening
// it fails with EIO, for root too (a port the system cannot open).
class LockedListedPort {
public:
    explicit LockedListedPort(const char* name);
    ~LockedListedPort();
    LockedListedPort(const LockedListedPort&) = delete;
    LockedListedPort& operator=(const LockedListedPort&) = delete;

    bool ok() const { return !m_link.empty(); }
    const std::string& path() const { return m_link; }

private:
    int m_master = -1;
    std::string m_link;
};
