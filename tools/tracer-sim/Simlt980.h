// The NIDEK LT980 (model 0): a passive tracer. For each of the blocks 1, 2, 3,
// 5 and 6 the program enquires (ENQ, answered ACK), asks for the block (answered
// ACK), receives a 4-byte header and the payload, and acknowledges it.
#pragma once

#include "Simframe.h"
#include "Simoptions.h"
#include "Simsession.h"

#include <string>

namespace sim {

constexpr int kLt980Blocks = 5;

// The payloads of blocks 1, 2, 3, 5 and 6, in that order.
struct Lt980Payloads {
    std::string block[kLt980Blocks];
};

// Encodes the frame; false with the reason when the LT980 cannot send it (not
// 1000 points per eye, a difference outside a signed byte, a measure too large).
bool buildLt980Payloads(const Frame& frame, Lt980Payloads& payloads, std::string& error);

Outcome runLt980(SimLine& line, const Options& options, const Lt980Payloads& payloads);

} // namespace sim
