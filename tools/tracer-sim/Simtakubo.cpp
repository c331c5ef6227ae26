#include "Simtakubo.h"

#include "Bytes.h"
#include "Simout.h"

#include <optional>

namespace sim {

namespace {

constexpr int kPoints = 400;
constexpr std::size_t kBlockSize = 1697;
// Where the program starts its outline: it reverses the tracer's points and
// starts at the tracer's point 100, a quarter turn on.
constexpr int kStartShift = 100;
constexpr std::size_t kShortBlock = 1000;    // fault short-block: bytes sent of the block
constexpr std::size_t kUnpluggedAfter = 800; // fault unplug: bytes sent before the plug goes

// Offsets in the block: each trace is a 16-bit first value and 399 differences.
constexpr std::size_t kRightRadiiAt = 15;
constexpr std::size_t kRightZAt = 416;
constexpr std::size_t kLeftRadiiAt = 817;
constexpr std::size_t kLeftZAt = 1218;
constexpr std::size_t kFpdAt = 1641;
constexpr std::size_t kRightHboxAt = 1675;
constexpr std::size_t kRightVboxAt = 1677;
constexpr std::size_t kLeftHboxAt = 1681;
constexpr std::size_t kLeftVboxAt = 1683;
constexpr std::size_t kDblAt = 1687;

std::string fixedMessage(const char* number, const char* check) {
    return std::string("\x02\r") + number + "\r" + check + "\r\x03";
}

// 16 bits, low byte first; negative values (z) as two's complement.
bool putLittle16(std::string& block, std::size_t at, int64_t value, bool isSigned,
                 const std::string& what, std::string& error) {
    const int64_t low = isSigned ? -32768 : 0;
    const int64_t high = isSigned ? 32767 : 65535;
    if (value < low || value > high) {
        error = what + " is " + decimal(value) + ", outside " + decimal(low) + ".." +
                decimal(high) + " that the Takubomatic block holds";
        return false;
    }
    writeLittle16(&block[at], static_cast<uint16_t>(value));
    return true;
}

// The outline S in the tracer's order A[j] = S[(100 - j) mod 400]: the first
// value, then the differences A[j + 1] - A[j]. The program rebuilds S from them
// with the step S[101] - S[100] as well, so every step around the outline must
// fit a signed byte.
bool putTrace(std::string& block, std::size_t at, const std::vector<int>& outline, bool isSigned,
              const std::string& what, std::string& error) {
    for (int k = 0; k < kPoints; ++k) {
        const int step = outline[(k + 1) % kPoints] - outline[k];
        if (step < -128 || step > 127) {
            error = what + ": point " + decimal(k) + " to " + decimal((k + 1) % kPoints) +
                    " changes by " + decimal(step) + " hundredths, more than a signed byte holds";
            return false;
        }
    }
    const auto tracer = [&outline](int j) {
        return outline[((kStartShift - j) % kPoints + kPoints) % kPoints];
    };
    if (!putLittle16(block, at, tracer(0), isSigned, "the first of the " + what, error))
        return false;
    for (int j = 0; j + 1 < kPoints; ++j)
        write8(&block[at + 2 + static_cast<std::size_t>(j)],
               static_cast<uint8_t>(tracer(j + 1) - tracer(j)));
    return true;
}

bool eyeTraces(const Frame& frame, int side, std::string& block, std::string& error) {
    const EyeTrace& eye = frame.eye[side];
    const std::string name = side == kRight ? "right" : "left";
    if (!eye.hasRadii || eye.radii.size() != kPoints || (eye.hasZ && eye.z.size() != kPoints)) {
        error = "the Takubomatic sends 400 points per eye; the " + name + " eye has " +
                decimal(static_cast<int64_t>(eye.radii.size())) + " radii and " +
                decimal(static_cast<int64_t>(eye.z.size())) + " z values";
        return false;
    }
    const std::vector<int> flat(kPoints, 0); // no z values: all 0
    return putTrace(block, side == kRight ? kRightRadiiAt : kLeftRadiiAt, eye.radii, false,
                    name + " radii", error) &&
           putTrace(block, side == kRight ? kRightZAt : kLeftZAt, eye.hasZ ? eye.z : flat, true,
                    name + " z values", error);
}

// Reads one request; the first of them waits for the user to press "Leitura".
std::optional<Outcome> takeRequest(SimLine& line, const std::string& request, const char* what,
                                   int firstMs, int64_t* firstAt) {
    Outcome end;
    if (!expectBytes(line, request, what, firstMs, end, firstAt))
        return end;
    say(std::string("GOT ") + what);
    return std::nullopt;
}

std::optional<Outcome> serveReading(SimLine& line, const Options& options, const std::string& block,
                                    int64_t& startMs) {
    const std::string request1 = fixedMessage("0706000106", "10");
    const std::string answer1 = fixedMessage("0807000206", "13");
    const std::string request2 = fixedMessage("0708000306", "14");
    if (auto end = takeRequest(line, request1, "request 1", options.waitMs, &startMs))
        return end;
    if (options.fault == "silent")
        return finishFault(line, options.fault);
    std::string answer = answer1;
    if (options.fault == "wrong-answer")
        answer.back() = static_cast<char>(answer.back() ^ 0x01);
    Outcome end;
    if (!sendBytes(line, answer, end))
        return end;
    say("SENT answer to request 1");
    if (options.fault == "wrong-answer")
        return finishFault(line, options.fault);
    if (auto failure = takeRequest(line, request2, "request 2", kLaterStepMs, nullptr))
        return failure;
    const std::size_t cut = options.fault == "short-block" ? kShortBlock
                            : options.fault == "unplug"    ? kUnpluggedAfter
                                                           : block.size();
    if (!sendBytes(line, block.substr(0, cut), end))
        return end;
    say("SENT block (" + decimal(static_cast<int64_t>(cut)) +
        (cut < block.size() ? " of " + decimal(static_cast<int64_t>(block.size())) : "") +
        " bytes)");
    if (options.fault == "unplug") {
        pullPlug(line);
        return succeeded("fault=unplug");
    }
    if (options.fault == "short-block")
        return finishFault(line, options.fault);
    return std::nullopt;
}

} // namespace

bool buildTakuboBlock(const Frame& frame, std::string& block, std::string& error) {
    const Measures& m = frame.measures;
    block.assign(kBlockSize, '\0');
    return eyeTraces(frame, kRight, block, error) && eyeTraces(frame, kLeft, block, error) &&
           putLittle16(block, kFpdAt, frame.fpdHundredths(), false, "FPD in hundredths", error) &&
           putLittle16(block, kRightHboxAt, m.hbox[kRight], false, "HBOX right in hundredths",
                       error) &&
           putLittle16(block, kRightVboxAt, m.vbox[kRight], false, "VBOX right in hundredths",
                       error) &&
           putLittle16(block, kLeftHboxAt, m.hbox[kLeft], false, "HBOX left in hundredths",
                       error) &&
           putLittle16(block, kLeftVboxAt, m.vbox[kLeft], false, "VBOX left in hundredths",
                       error) &&
           putLittle16(block, kDblAt, m.dbl, false, "DBL in hundredths", error);
}

Outcome runTakubo(SimLine& line, const Options& options, const std::string& block) {
    for (int reading = 1; reading <= options.count; ++reading) {
        line.resetCounters();
        int64_t startMs = nowMs();
        if (auto end = serveReading(line, options, block, startMs)) {
            if (line.sent() + line.received() > 0) // a reading that had begun
                reportStats(line, startMs, nowMs());
            return *end;
        }
        // The reading ends with the last byte of the block on the wire.
        reportStats(line, startMs, nowMs());
    }
    // The block must reach the program before the line goes with the simulator.
    line.waitDrained(kLaterStepMs);
    return succeeded("readings=" + decimal(options.count));
}

} // namespace sim
