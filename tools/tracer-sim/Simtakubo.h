// The Takubomatic FD-80 (model 5): a passive tracer. The program sends request
// 1 and gets a fixed answer, then request 2 and gets one 1697-byte block with
// both eyes' outlines and the frame measures.
#pragma once

#include "Simframe.h"
#include "Simoptions.h"
#include "Simsession.h"

#include <string>

namespace sim {

// Encodes the frame into the data block; false with the reason when the
// Takubomatic cannot send it (not 400 points per eye, a difference outside a
// signed byte, a measure too large).
bool buildTakuboBlock(const Frame& frame, std::string& block, std::string& error);

Outcome runTakubo(SimLine& line, const Options& options, const std::string& block);

} // namespace sim
