// The networked NIDEK tracer's Job data payload: a 2072-byte fixed part with
// both eyes' packed radius traces and the frame measures, then the extended
// blocks (height traces, drill holes), and what the program gives back of it
// when asked for the job.
#pragma once

#include "Simframe.h"

#include <cstddef>
#include <string>

namespace sim {

constexpr std::size_t kJobFixedBytes = 2072;
constexpr std::size_t kJobTextBytes = 16; // the Job identification's payload

struct NetJob {
    std::string fixed;  // the fixed part, kJobFixedBytes
    std::string blocks; // the extended blocks that follow it; empty when none
    std::string payload() const { return fixed + blocks; }
};

// Encodes the frame; false with the reason when the tracer cannot send it (not
// 1000 points per eye, a difference outside a signed byte, a measure outside
// its field). A frame with z values gets a height block; `drill` adds a drill
// block with two holes.
bool buildNetJob(const Frame& frame, bool drill, NetJob& job, std::string& error);

// The fixed part as the program's job relay store holds it and writes it back:
// bytes and traces as they are, scaled fields through a double and truncated
// (the bytes at 2 and 3 rounded), 16-bit fields read as signed.
std::string relayedFixedPart(const std::string& fixed);

// The Job identification payload: the job text, zero-padded to 16 bytes.
std::string jobIdentification(const std::string& job);

} // namespace sim
