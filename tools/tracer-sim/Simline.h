// The simulator's serial line: a pseudo-terminal whose slave the program opens
// as its serial port, while the simulator plays the tracer on the master.
//
// The simulator keeps a descriptor of the slave of its own for its whole life,
// so the master never hangs up between the program's open and close; it never
// locks that descriptor (no TIOCEXCL, no flock), so the program's exclusive
// open succeeds. Through it the simulator also watches the line settings the
// program makes and the bytes still waiting for the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

enum class Io {
    Ok,
    Timeout, // the time allowed went by
    Gone,    // the line failed; error() says how
};

class SimLine {
public:
    SimLine() = default;
    ~SimLine(); // closes the line and removes the link
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates the pseudo-terminal; false with the reason in `error`.
    bool open(std::string& error);
    // Makes `path` a symbolic link to the slave, replacing only a dangling link;
    // false with the reason in `why`. The link goes when the simulator ends, also
    // on SIGINT, SIGTERM and SIGHUP.
    bool makeLink(const std::string& path, std::string& why);
    // What the program opens: the link, else the slave itself.
    const std::string& portPath() const { return m_link.empty() ? m_slavePath : m_link; }
    const std::string& slavePath() const { return m_slavePath; }

    // Paced: the average rate is baud / 10 bytes per second (8N1: 10 bits a byte).
    void setPace(int baud, bool paced);
    int baud() const { return m_baud; }

    // Puts the slave back in the state of an unconfigured port (line mode with
    // echo), so that the program's raw mode shows when it configures the port.
    void markUnconfigured();
    // Whether the program has configured the port: line mode and echo both off.
    bool programConfigured() const;
    // Waits up to timeoutMs for that, looking every 20 ms.
    bool waitProgramConfigured(int timeoutMs);
    // 1 when another process holds the slave open, 0 when none does, -1 when
    // that cannot be told (processes of other users hidden).
    int otherOpeners() const;
    // Waits up to timeoutMs until the program has read every byte sent to it.
    bool waitDrained(int timeoutMs) const;
    // Waits up to timeoutMs until the program has taken what it is going to:
    // the count of bytes waiting for it has not changed for stableMs.
    void waitTaken(int stableMs, int timeoutMs) const;

    // Sends all of `bytes`, at the line's pace; Timeout when the program took
    // none of them for 15 s.
    Io write(const std::string& bytes);
    // Reads exactly `count` bytes: the first within firstMs, all within restMs
    // after the first came. `out` holds what came, also on Timeout; `firstAt`
    // (when given) the time the first byte came.
    Io readExact(std::size_t count, std::string& out, int firstMs, int restMs,
                 int64_t* firstAt = nullptr);
    // Whatever comes within timeoutMs, appended to `out`; Ok when something came.
    Io readAny(std::string& out, int timeoutMs);
    // Reads until the program has sent nothing for quietMs or has closed the
    // port (`closed` says which); what came is appended to `got`. Gone only
    // when the line failed.
    Io waitQuietOrClosed(int quietMs, std::string& got, bool& closed);
    // The tracer is unplugged: the master closes and the program's side hangs up.
    void unplug();
    // The tracer has stayed silent for ms on purpose, so that a wait of the
    // program runs out: a timeout line of the recording (--record).
    void noteTimeout(int ms);

    // Bytes written and read since the last reset.
    uint64_t sent() const { return m_sent; }
    uint64_t received() const { return m_received; }
    void resetCounters();
    const std::string& error() const { return m_error; }

private:
    Io writeNow(const char* bytes, std::size_t count);
    Io waitReadable(int64_t deadline);
    void removeLink();
    // The recording's opened and closed lines, each once per open of the program.
    void noteOpen();
    void noteClosed();

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_link;
    int m_baud = 9600;
    bool m_paced = true;
    bool m_openSeen = false; // the recording has the program's open of the port
    uint64_t m_sent = 0;
    uint64_t m_received = 0;
    std::string m_error;
};

// SIGINT, SIGTERM and SIGHUP remove the link, say RESULT FAIL and end the
// simulator; SIGPIPE is ignored (a reader of stdout that went away ends nothing).
void installSignalCleanup();

} // namespace sim
