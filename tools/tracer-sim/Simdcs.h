// The VCA DCS tracers (models 2, 3, 4 and 6): active tracers. Each reading
// opens with REQ=INI, then agrees on the format (dialect trc), announces the
// job (dialect 1234) or both (dialect 1), then sends the tracing; every record
// is answered by the program and the answer acknowledged.
#pragma once

#include "Simframe.h"
#include "Simoptions.h"
#include "Simsession.h"

#include <string>

namespace sim {

Outcome runDcs(SimLine& line, const Options& options, const Frame& frame);

// A numeric job plus `step`, keeping its width and leading zeros (00815, 00816);
// other jobs stay as they are.
std::string nextJob(std::string job, int step);

} // namespace sim
