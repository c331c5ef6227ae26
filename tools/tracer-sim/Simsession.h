// What every simulated tracer does alike: the outcome of a run, the STATS line
// of a reading, the exchange of expected bytes and the end of a fault run.
#pragma once

#include "Simline.h"

#include <cstdint>
#include <string>

namespace sim {

// RESULT OK <text> or RESULT FAIL <text>.
struct Outcome {
    bool ok = false;
    std::string text;
};

inline Outcome succeeded(const std::string& text) {
    return {true, text};
}
inline Outcome failed(const std::string& text) {
    return {false, text};
}

// STATS sent=.. received=.. wire_ms=.. elapsed_ms=.. for the reading that
// started at startMs and ended at endMs (monotonic milliseconds).
void reportStats(const SimLine& line, int64_t startMs, int64_t endMs);

// Reads as many bytes as `expected` holds and compares them: the first within
// firstMs, the rest within 15 s. False with `failure` set (and both byte runs
// dumped on stderr) when they did not come or differ. `firstAt`: when the first came.
bool expectBytes(SimLine& line, const std::string& expected, const std::string& what, int firstMs,
                 Outcome& failure, int64_t* firstAt = nullptr);

// Sends `bytes`; false with `failure` set when the line would not take them.
bool sendBytes(SimLine& line, const std::string& bytes, Outcome& failure);

// Unplugs the tracer once the program has taken what it is going to of the
// bytes sent last, so that it fails inside the step those bytes belong to.
void pullPlug(SimLine& line);

// The end of a fault run whose misbehaviour is done: waits until the program
// has sent nothing for 8 s or has closed the port, then RESULT OK fault=<fault>.
Outcome finishFault(SimLine& line, const std::string& fault);

} // namespace sim
