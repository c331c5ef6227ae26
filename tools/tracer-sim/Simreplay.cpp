#include "Simreplay.h"

#include "Simnet.h"
#include "Simout.h"

#include <algorithm>
#include <optional>

namespace sim {

namespace {

// The program flushes both queues right after it configures the port.
constexpr int kSettleAfterConfigureMs = 300;
// Beyond a recorded timeout: the program's own wait began a little after the
// tracer's last line, and must have run out before the tracer speaks again.
constexpr int kTimeoutMarginMs = 250;
constexpr int kTrailingMs = 200;   // bytes the program might send after the capture's last line
constexpr int kTakenAfterMs = 700; // as pullPlug: bytes left this long are not going to be taken
constexpr int kCloseLookMs = 100;  // between two looks at who holds the port open

enum class Flow { Ok, Timeout, Closed, Failed };

// The link to the program as a replay uses it, serial or TCP.
class Side {
public:
    virtual ~Side() = default;
    // The program has opened the port, or the connection to it is made.
    virtual bool ready(int waitMs, std::string& why) = 0;
    virtual Flow send(const std::string& bytes) = 0;
    // Whatever comes within ms, appended to `got`.
    virtual Flow receive(std::string& got, int ms) = 0;
    // Waits up to ms for the program to close; what it sends meanwhile is appended.
    virtual Flow awaitClose(std::string& got, int ms) = 0;
    virtual void hangUp() = 0;
    // The program closes its end within ms (what it sends meanwhile is appended).
    virtual bool closedByProgram(std::string& /*got*/, int /*ms*/) { return false; }
    // Waits until the program has read what was sent last.
    virtual void finish() {}
    virtual std::string error() const = 0;
    virtual const char* what() const = 0;
};

class SerialSide : public Side {
public:
    explicit SerialSide(SimLine& line) : m_line(line) { m_line.setPace(m_line.baud(), false); }

    bool ready(int waitMs, std::string& why) override {
        if (m_line.programConfigured())
            return true;
        say("waiting for the program to open the port");
        if (!m_line.waitProgramConfigured(waitMs)) {
            why = "the program did not configure the port within " + decimal(waitMs) + " ms";
            return false;
        }
        say("the program has configured the port");
        sleepMs(kSettleAfterConfigureMs);
        return true;
    }
    Flow send(const std::string& bytes) override {
        return m_line.write(bytes) == Io::Ok ? Flow::Ok : Flow::Failed;
    }
    Flow receive(std::string& got, int ms) override {
        const Io io = m_line.readAny(got, ms);
        return io == Io::Ok ? Flow::Ok : io == Io::Timeout ? Flow::Timeout : Flow::Failed;
    }
    Flow awaitClose(std::string& got, int ms) override {
        const int64_t deadline = nowMs() + ms;
        for (;;) {
            const int openers = m_line.otherOpeners();
            if (openers == 0) {
                m_line.markUnconfigured(); // so that the program's next open shows
                return Flow::Closed;
            }
            const int64_t left = deadline - nowMs();
            if (left <= 0 && openers < 0)
                m_error = "cannot tell whether the program has closed the port: its processes "
                          "are hidden from this user";
            if (left <= 0)
                return openers < 0 ? Flow::Failed : Flow::Timeout;
            if (receive(got, static_cast<int>(std::min<int64_t>(left, kCloseLookMs))) ==
                Flow::Failed)
                return Flow::Failed;
        }
    }
    void hangUp() override {
        m_line.waitTaken(kTakenAfterMs, kLaterStepMs);
        m_line.unplug();
    }
    void finish() override { m_line.waitDrained(kLaterStepMs); }
    std::string error() const override { return m_error.empty() ? m_line.error() : m_error; }
    const char* what() const override { return "port"; }

private:
    SimLine& m_line;
    std::string m_error;
};

class NetSide : public Side {
public:
    explicit NetSide(const Options& options) : m_options(options) {}

    bool ready(int waitMs, std::string& why) override {
        if (m_connected)
            return true;
        if (!m_link.connect(m_options.host, m_options.port, waitMs, why))
            return false;
        m_connected = true;
        sayAlways("CONNECTED " + m_options.host + ":" + decimal(m_options.port));
        return true;
    }
    Flow send(const std::string& bytes) override { return flow(m_link.write(bytes, kLaterStepMs)); }
    Flow receive(std::string& got, int ms) override { return flow(m_link.readAny(got, ms)); }
    Flow awaitClose(std::string& got, int ms) override { return flow(m_link.waitClosed(ms, got)); }
    void hangUp() override { m_link.close(); }
    bool closedByProgram(std::string& got, int ms) override {
        return m_link.readAny(got, ms) == Net::Closed;
    }
    std::string error() const override { return m_link.error(); }
    const char* what() const override { return "connection"; }

private:
    static Flow flow(Net net) {
        return net == Net::Ok        ? Flow::Ok
               : net == Net::Timeout ? Flow::Timeout
               : net == Net::Closed  ? Flow::Closed
                                     : Flow::Failed;
    }

    const Options& m_options;
    NetLink m_link;
    bool m_connected = false;
};

class Player {
public:
    Player(Side& side, const Options& options, const Capture& capture)
        : m_side(side), m_options(options), m_items(capture.items) {}

    Outcome run();

private:
    using Step = std::optional<Outcome>; // nullopt: go on
    Step device(std::size_t& index);
    Step program(const CaptureItem& item);
    Step event(std::size_t& index);
    Step connect(const CaptureItem& item);
    Step silence(const CaptureItem& item);
    Step closing(const CaptureItem& item);
    Outcome at(const CaptureItem& item, const std::string& what) const {
        return failed("line " + decimal(item.line) + ": " + what);
    }
    int64_t gap(const CaptureItem& item) const { return std::max<int64_t>(0, item.ms - m_lastMs); }
    // How long the program may take to do what `item` records.
    int allowance(const CaptureItem& item) const {
        return static_cast<int>(std::min<int64_t>(kLaterStepMs + gap(item), 24 * 3600 * 1000));
    }
    bool continues(std::size_t index) const {
        return index > 0 && m_items[index - 1].kind == m_items[index].kind &&
               m_items[index - 1].ms == m_items[index].ms;
    }
    void paced(const CaptureItem& item) const {
        if (m_options.paced)
            sleepMs(m_lastAt + gap(item) - nowMs());
    }
    void played(const CaptureItem& item) {
        m_lastAt = nowMs();
        m_lastMs = item.ms;
    }

    Side& m_side;
    const Options& m_options;
    const std::vector<CaptureItem>& m_items;
    std::string m_got;    // the program's bytes not yet matched to a line
    int64_t m_lastAt = 0; // when the line before was played (monotonic ms)
    int64_t m_lastMs = 0; // and its recorded time
    bool m_ready = false; // the program has the port open, or the connection is made
    bool m_heard = false; // the first open is behind: a later one is a step's wait
    bool m_hungUp = false;
    bool m_programClosed = false;
    int m_chunks = 0;
};

Outcome Player::run() {
    m_lastAt = nowMs();
    for (std::size_t index = 0; index < m_items.size();) {
        const CaptureItem& item = m_items[index];
        Step end = item.kind == CaptureItem::Kind::Device    ? device(index)
                   : item.kind == CaptureItem::Kind::Program ? program(item)
                                                             : event(index);
        if (end)
            return *end;
        if (item.kind == CaptureItem::Kind::Program)
            ++index;
    }
    if (m_ready && !m_hungUp && !m_programClosed) {
        m_side.finish();
        const Flow flow = m_side.receive(m_got, kTrailingMs);
        if (flow == Flow::Failed)
            return failed(m_side.error() + " after the capture's last line");
        // A capture that ends with the connection open: the program keeps it.
        if (flow == Flow::Closed)
            return failed(std::string("the program closed the ") + m_side.what() +
                          " after the capture's last line, which leaves it open");
    }
    if (!m_got.empty()) {
        dumpHex("received after the capture's last line", m_got);
        return failed("after line " + decimal(m_items.empty() ? 0 : m_items.back().line) +
                      ", the last: the program sent " +
                      decimal(static_cast<int64_t>(m_got.size())) +
                      " bytes more than the capture holds: " + hexText(m_got));
    }
    return succeeded("replay=" + decimal(m_chunks) + " chunks");
}

// Before the first chunk either way the program must have opened the port (a
// tracer's bytes before that are lost) or the connection must be made.
Player::Step Player::connect(const CaptureItem& item) {
    if (m_ready)
        return std::nullopt;
    std::string why;
    if (!m_side.ready(m_heard ? allowance(item) : m_options.waitMs, why))
        return at(item, why);
    m_ready = true;
    m_heard = true;
    m_programClosed = false;
    return std::nullopt;
}

// One chunk of the tracer's: its lines of the same time, sent in one write.
Player::Step Player::device(std::size_t& index) {
    const CaptureItem& first = m_items[index];
    std::string bytes;
    std::size_t next = index;
    for (;
         next < m_items.size() && m_items[next].kind == first.kind && m_items[next].ms == first.ms;
         ++next)
        bytes += m_items[next].bytes;
    if (m_hungUp)
        return at(first, "the tracer sends after it has hung up");
    if (auto end = connect(first))
        return end;
    paced(first);
    const Flow flow = m_side.send(bytes);
    if (flow == Flow::Closed) {
        // The program closed while the tracer was still sending: that is what
        // the capture has when only the tracer's chunks stand before its closed line.
        std::size_t after = next;
        while (after < m_items.size() && m_items[after].kind == CaptureItem::Kind::Device)
            ++after;
        if (after == m_items.size() || m_items[after].event != "closed")
            return at(first, "the program closed the connection while the tracer was sending");
        say("the program has closed the connection (line " + decimal(m_items[after].line) + ")");
        m_programClosed = true;
        played(m_items[after]);
        index = after + 1;
        return std::nullopt;
    }
    if (flow != Flow::Ok)
        return at(first, m_side.error());
    played(first);
    ++m_chunks;
    say("SENT " + decimal(static_cast<int64_t>(bytes.size())) + " bytes (line " +
        decimal(first.line) + ")");
    index = next;
    return std::nullopt;
}

// A line of the program's bytes: they must come, and be those.
Player::Step Player::program(const CaptureItem& item) {
    if (m_hungUp)
        return at(item, "the capture has bytes of the program after the tracer hung up");
    if (auto end = connect(item))
        return end;
    const int limit = allowance(item);
    const int64_t deadline = nowMs() + limit;
    const std::size_t count = item.bytes.size();
    while (m_got.size() < count) {
        const int64_t left = deadline - nowMs();
        const Flow flow = left > 0 ? m_side.receive(m_got, static_cast<int>(left)) : Flow::Timeout;
        if (flow == Flow::Closed)
            m_programClosed = true;
        if (flow == Flow::Ok)
            continue;
        if (flow == Flow::Failed)
            return at(item, m_side.error());
        const std::string came = decimal(static_cast<int64_t>(m_got.size())) + " of " +
                                 decimal(static_cast<int64_t>(count)) + " bytes came";
        if (!m_got.empty())
            dumpHex("received", m_got);
        return at(item, flow == Flow::Closed
                            ? "the program closed the connection instead of sending " +
                                  hexText(item.bytes) + " (" + came + ")"
                            : "the program did not send " + hexText(item.bytes) + " within " +
                                  decimal(limit) + " ms (" + came + ")");
    }
    if (m_got.compare(0, count, item.bytes) != 0) {
        std::size_t differs = 0;
        while (m_got[differs] == item.bytes[differs])
            ++differs;
        dumpHex("expected (line " + decimal(item.line) + ")", item.bytes);
        dumpHex("received", m_got);
        return at(item, "the program sent " + hexText(m_got.substr(0, count)) +
                            " where the capture has " + hexText(item.bytes) + " (from byte " +
                            decimal(static_cast<int64_t>(differs) + 1) + " of the line)");
    }
    m_got.erase(0, count);
    if (!continues(static_cast<std::size_t>(&item - m_items.data())))
        ++m_chunks;
    played(item);
    return std::nullopt;
}

Player::Step Player::event(std::size_t& index) {
    const CaptureItem& item = m_items[index++];
    Step end;
    if (item.event == "opened") {
        end = connect(item);
    } else if (item.event == "closed") {
        end = closing(item);
    } else if (item.event == "timeout") {
        end = silence(item);
    } else { // hang-up
        paced(item);
        // Up to the recorded gap (at most kTrailingMs), even unpaced: the
        // program kept the connection while the tracer was still there.
        if (m_ready && !m_hungUp && !m_programClosed &&
            m_side.closedByProgram(m_got,
                                   static_cast<int>(std::min<int64_t>(gap(item), kTrailingMs))))
            return at(item, std::string("the program closed the ") + m_side.what() +
                                " before the tracer hung up");
        if (m_ready && !m_hungUp)
            m_side.hangUp();
        m_hungUp = true;
        say("HUNG UP (line " + decimal(item.line) + ")");
    }
    if (!end)
        played(item);
    return end;
}

// The program must close the port or the connection, having sent nothing more.
// A tracer that has hung up cannot see it any more.
Player::Step Player::closing(const CaptureItem& item) {
    if (m_hungUp || m_programClosed || !m_ready)
        return std::nullopt;
    const Flow flow = m_side.awaitClose(m_got, allowance(item));
    if (flow == Flow::Failed)
        return at(item, m_side.error());
    if (flow == Flow::Timeout)
        return at(item, std::string("the program did not close the ") + m_side.what() + " within " +
                            decimal(allowance(item)) + " ms");
    m_programClosed = true;
    m_ready = false;
    say(std::string("the program has closed the ") + m_side.what() + " (line " +
        decimal(item.line) + ")");
    if (m_got.empty())
        return std::nullopt;
    dumpHex("received before the close", m_got);
    return at(item, "the program sent " + decimal(static_cast<int64_t>(m_got.size())) +
                        " bytes more before closing: " + hexText(m_got));
}

// The tracer says nothing while one of the program's waits runs out, as long
// as the capture's line says (or longer, when the line came later), plus a
// margin; what the program sends meanwhile waits for the lines that follow.
Player::Step Player::silence(const CaptureItem& item) {
    const int64_t until =
        m_lastAt + std::max<int64_t>(item.timeoutMs, gap(item)) + kTimeoutMarginMs;
    say("SILENT " + decimal(until - nowMs()) + " ms (line " + decimal(item.line) + ")");
    for (int64_t left = until - nowMs(); left > 0; left = until - nowMs()) {
        if (!m_ready || m_hungUp || m_programClosed) {
            sleepMs(left);
            break;
        }
        const Flow flow = m_side.receive(m_got, static_cast<int>(left));
        if (flow == Flow::Closed)
            m_programClosed = true;
        if (flow == Flow::Failed)
            return at(item, m_side.error());
    }
    return std::nullopt;
}

Outcome play(Side& side, const Options& options, const Capture& capture) {
    const TracerModel& tracer = kTracerModels[static_cast<std::size_t>(capture.model)];
    say("PLAYING capture " + options.replay + ", model " + decimal(capture.model) + " (" +
        tracer.tracerName + "), " + decimal(static_cast<int64_t>(capture.items.size())) +
        " lines, " + (options.paced ? "at the recorded pace" : "unpaced"));
    Player player(side, options, capture);
    return player.run();
}

} // namespace

Outcome replaySerial(SimLine& line, const Options& options, const Capture& capture) {
    SerialSide side(line);
    return play(side, options, capture);
}

Outcome replayNetwork(const Options& options, const Capture& capture) {
    NetSide side(options);
    return play(side, options, capture);
}

} // namespace sim
