#include "Simlt980.h"

#include "Bytes.h"
#include "Simout.h"

#include <optional>

namespace sim {

namespace {

constexpr int kPoints = 1000;
constexpr unsigned char kEnq = 0x05;
constexpr unsigned char kAck = 0x06;
constexpr unsigned char kNak = 0x15;
constexpr unsigned char kBlockNumbers[kLt980Blocks] = {1, 2, 3, 5, 6};
// Block 1: frame measures; 2 and 3: radii (unused 5 bytes, first radius, 999
// differences, unused byte); 5 and 6: z (unused byte, first z, 999 differences, unused byte).
constexpr std::size_t kPayloadSizes[kLt980Blocks] = {29, 1007, 1007, 1003, 1003};
constexpr std::size_t kRadiusFirstAt = 5;
constexpr std::size_t kZFirstAt = 1;
constexpr std::size_t kFaultBlock = 2; // the block the header and cut faults touch

bool fits(int64_t value, int64_t low, int64_t high, const std::string& what, std::string& error) {
    if (value >= low && value <= high)
        return true;
    error = what + " is " + decimal(value) + ", outside " + decimal(low) + ".." + decimal(high) +
            " that the LT980 block holds";
    return false;
}

bool putByte(std::string& payload, std::size_t at, int64_t value, const std::string& what,
             std::string& error) {
    if (!fits(value, 0, 255, what, error))
        return false;
    write8(&payload[at], static_cast<uint8_t>(value));
    return true;
}

// 16 bits, high byte first; negative values (z) as two's complement.
bool putBig16(std::string& payload, std::size_t at, int64_t value, bool isSigned,
              const std::string& what, std::string& error) {
    if (!fits(value, isSigned ? -32768 : 0, isSigned ? 32767 : 65535, what, error))
        return false;
    writeBig16(&payload[at], static_cast<uint16_t>(value));
    return true;
}

// The first value at `at`, then the 999 differences as signed bytes.
bool putTrace(std::string& payload, std::size_t at, const std::vector<int>& values, bool isSigned,
              const std::string& what, std::string& error) {
    if (!putBig16(payload, at, values[0], isSigned, "the first of the " + what, error))
        return false;
    for (int i = 0; i + 1 < kPoints; ++i) {
        const int step = values[i + 1] - values[i];
        if (step < -128 || step > 127) {
            error = what + ": point " + decimal(i) + " to " + decimal(i + 1) + " changes by " +
                    decimal(step) + " hundredths, more than a signed byte holds";
            return false;
        }
        write8(&payload[at + 2 + static_cast<std::size_t>(i)], static_cast<uint8_t>(step));
    }
    return true;
}

bool measuresBlock(const Frame& frame, std::string& payload, std::string& error) {
    const Measures& m = frame.measures;
    payload.assign(kPayloadSizes[0], '\0');
    payload[11] = 'F'; // trace type: a full frame
    return putByte(payload, 13, m.ztilt[kRight], "ZTILT right in tenths", error) &&
           putByte(payload, 14, m.fcrv[kRight], "FCRV right in tenths", error) &&
           putByte(payload, 15, m.fcrv[kLeft], "FCRV left in tenths", error) &&
           putBig16(payload, 16, frame.fpdHundredths(), false, "FPD in hundredths", error) &&
           putBig16(payload, 18, frame.meanBoxHeight(), false, "the mean VBOX in hundredths",
                    error) &&
           putBig16(payload, 20, m.dbl, false, "DBL in hundredths", error) &&
           putBig16(payload, 22, m.circ[kRight], false, "CIRC right in hundredths", error) &&
           putBig16(payload, 24, m.circ[kLeft], false, "CIRC left in hundredths", error);
}

bool eyeBlocks(const Frame& frame, int side, std::string& radii, std::string& z,
               std::string& error) {
    const EyeTrace& eye = frame.eye[side];
    const std::string name = side == kRight ? "right" : "left";
    if (!eye.hasRadii || eye.radii.size() != kPoints) {
        error = "the LT980 sends 1000 radii per eye; the " + name + " eye has " +
                decimal(static_cast<int64_t>(eye.radii.size()));
        return false;
    }
    if (eye.hasZ && eye.z.size() != kPoints) {
        error = "the LT980 sends 1000 z values per eye; the " + name + " eye has " +
                decimal(static_cast<int64_t>(eye.z.size()));
        return false;
    }
    radii.assign(kPayloadSizes[1], '\0');
    z.assign(kPayloadSizes[3], '\0');
    const std::vector<int> flat(kPoints, 0); // no z values: all 0
    return putTrace(radii, kRadiusFirstAt, eye.radii, false, name + " radii", error) &&
           putTrace(z, kZFirstAt, eye.hasZ ? eye.z : flat, true, name + " z values", error);
}

std::string request(unsigned char block) {
    return std::string{0x01, 'S', 0x00, 0x01, static_cast<char>(block)};
}

std::string header(unsigned char block, std::size_t length, const std::string& fault) {
    const bool faulty = block == kFaultBlock;
    const std::size_t announced = faulty && fault == "wrong-length" ? length - 1 : length;
    const char second = faulty && fault == "wrong-header" ? 0x03 : static_cast<char>(block);
    std::string bytes{0x01, second, '\0', '\0'};
    writeBig16(&bytes[2], static_cast<uint16_t>(announced));
    return bytes;
}

// One block; nullopt when it went through, else the run's end.
std::optional<Outcome> serveBlock(SimLine& line, const Options& options, int index,
                                  const std::string& payload, int firstMs, int64_t& startMs) {
    const unsigned char block = kBlockNumbers[index];
    const std::string number = decimal(block);
    Outcome end;
    int64_t enqAt = 0;
    if (!expectBytes(line, std::string(1, static_cast<char>(kEnq)), "ENQ for block " + number,
                     firstMs, end, &enqAt))
        return end;
    if (index == 0)
        startMs = enqAt;
    say("GOT ENQ");
    if (options.fault == "silent")
        return finishFault(line, options.fault);
    if (!sendBytes(line, std::string(1, static_cast<char>(kAck)), end))
        return end;
    say("SENT ACK");
    if (!expectBytes(line, request(block), "request for block " + number, kLaterStepMs, end))
        return end;
    say("GOT request for block " + number);
    if (options.fault == "nak-block3" && block == 3) {
        if (!sendBytes(line, std::string(1, static_cast<char>(kNak)), end))
            return end;
        say("SENT NAK to the request for block 3");
        return finishFault(line, options.fault);
    }
    if (!sendBytes(line, std::string(1, static_cast<char>(kAck)), end))
        return end;
    say("SENT ACK");
    const bool cut =
        block == kFaultBlock && (options.fault == "stop-half" || options.fault == "unplug");
    const std::string sent = payload.substr(0, cut ? payload.size() / 2 : payload.size());
    if (!sendBytes(line, header(block, payload.size(), options.fault) + sent, end))
        return end;
    say("SENT block " + number + " (" + decimal(static_cast<int64_t>(sent.size())) +
        (cut ? " of " + decimal(static_cast<int64_t>(payload.size())) : std::string()) + " bytes)");
    if (cut && options.fault == "unplug") {
        pullPlug(line);
        return succeeded("fault=unplug");
    }
    if (block == kFaultBlock && options.fault != "none" && options.fault != "nak-block3")
        return finishFault(line, options.fault);
    if (!expectBytes(line, std::string(1, static_cast<char>(kAck)), "ACK after block " + number,
                     kLaterStepMs, end))
        return end;
    say("GOT ACK");
    return std::nullopt;
}

} // namespace

bool buildLt980Payloads(const Frame& frame, Lt980Payloads& payloads, std::string& error) {
    return measuresBlock(frame, payloads.block[0], error) &&
           eyeBlocks(frame, kRight, payloads.block[1], payloads.block[3], error) &&
           eyeBlocks(frame, kLeft, payloads.block[2], payloads.block[4], error);
}

Outcome runLt980(SimLine& line, const Options& options, const Lt980Payloads& payloads) {
    for (int reading = 1; reading <= options.count; ++reading) {
        line.resetCounters();
        int64_t startMs = nowMs();
        for (int index = 0; index < kLt980Blocks; ++index) {
            // The first block waits for the user to press "Leitura".
            const int firstMs = index == 0 ? options.waitMs : kLaterStepMs;
            if (auto end =
                    serveBlock(line, options, index, payloads.block[index], firstMs, startMs)) {
                if (line.sent() + line.received() > 0) // a reading that had begun
                    reportStats(line, startMs, nowMs());
                return *end;
            }
        }
        reportStats(line, startMs, nowMs());
    }
    return succeeded("readings=" + decimal(options.count));
}

} // namespace sim
