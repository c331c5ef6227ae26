// The networked NIDEK LT1000/LT1200/ICE (model 1): an active tracer that
// connects to the program's TCP server. It opens with a Start request, then for
// each reading names the job (Job identification) and sends the tracing (Job
// data); the program answers every message with an Accept that carries the
// message's two words exchanged. After the last reading an End request, then
// the tracer closes the connection.
#pragma once

#include "Simframe.h"
#include "Simnetjob.h"
#include "Simoptions.h"
#include "Simsession.h"

#include <string>

namespace sim {

// The job text of reading `reading` (1 for the first): --job, else the label
// file's JOB, else 00815; a numeric job counts up from one reading to the next.
std::string netJobText(const Options& options, const Frame& frame, int reading);

Outcome runNetwork(const Options& options, const Frame& frame, const NetJob& job);

} // namespace sim
