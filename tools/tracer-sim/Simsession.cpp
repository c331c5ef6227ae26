#include "Simsession.h"

#include "Simoptions.h"
#include "Simout.h"

namespace sim {

namespace {

constexpr int kQuietMs = 8000;          // a program that sent nothing this long has given up
constexpr int kBitsPerByte = 10;        // 8N1
constexpr std::size_t kShownBytes = 80; // of unexpected bytes in a progress line
// The program looks at the line every 50 ms (500 ms between DCS ticks): bytes
// left alone this long are not going to be taken.
constexpr int kTakenAfterMs = 700;

} // namespace

void reportStats(const SimLine& line, int64_t startMs, int64_t endMs) {
    const uint64_t bytes = line.sent() + line.received();
    const uint64_t wireMs = bytes * kBitsPerByte * 1000 / static_cast<uint64_t>(line.baud());
    sayAlways("STATS sent=" + decimal(static_cast<int64_t>(line.sent())) +
              " received=" + decimal(static_cast<int64_t>(line.received())) +
              " wire_ms=" + decimal(static_cast<int64_t>(wireMs)) +
              " elapsed_ms=" + decimal(endMs >= startMs ? endMs - startMs : 0));
}

bool expectBytes(SimLine& line, const std::string& expected, const std::string& what, int firstMs,
                 Outcome& failure, int64_t* firstAt) {
    std::string got;
    const Io io = line.readExact(expected.size(), got, firstMs, kLaterStepMs, firstAt);
    if (io == Io::Gone) {
        failure = failed(line.error() + " while waiting for " + what);
        return false;
    }
    if (io == Io::Timeout) {
        failure = failed(
            got.empty() ? "no " + what + " within " + decimal(firstMs) + " ms"
                        : what + " incomplete: " + decimal(static_cast<int64_t>(got.size())) +
                              " of " + decimal(static_cast<int64_t>(expected.size())) + " bytes");
        if (!got.empty()) {
            dumpHex("expected " + what, expected);
            dumpHex("received", got);
        }
        return false;
    }
    if (got != expected) {
        failure = failed("wrong " + what);
        dumpHex("expected " + what, expected);
        dumpHex("received", got);
        return false;
    }
    return true;
}

bool sendBytes(SimLine& line, const std::string& bytes, Outcome& failure) {
    if (line.write(bytes) == Io::Ok)
        return true;
    failure = failed(line.error());
    return false;
}

void pullPlug(SimLine& line) {
    line.waitTaken(kTakenAfterMs, kLaterStepMs);
    line.unplug();
    say("UNPLUGGED");
}

Outcome finishFault(SimLine& line, const std::string& fault) {
    say("FAULT " + fault + " done: waiting until the program gives up");
    std::string got;
    bool closed = false;
    const Io io = line.waitQuietOrClosed(kQuietMs, got, closed);
    if (!got.empty())
        say("GOT " + readable(got.substr(0, kShownBytes)) +
            (got.size() > kShownBytes ? " ..." : "") + " (" +
            decimal(static_cast<int64_t>(got.size())) + " bytes after the fault)");
    if (io == Io::Gone)
        return failed(line.error());
    say(closed ? "the program has closed the port" : "the program has been quiet for 8 s");
    return succeeded("fault=" + fault);
}

} // namespace sim
