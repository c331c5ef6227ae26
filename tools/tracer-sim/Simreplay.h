// --replay: the tracer's side of a capture played against the running
// program. Each chunk the tracer sent goes out once the program has sent every
// byte the capture has before it, at the recorded gap since the line before
// (at once unpaced); every byte the program sends is checked against the
// capture's; a timeout line is a silence kept also unpaced, for the program's
// own waits to run out as they did.
#pragma once

#include "Simcapture.h"
#include "Simline.h"
#include "Simoptions.h"
#include "Simsession.h"

namespace sim {

// A serial capture on `line`, open and named to the user already.
Outcome replaySerial(SimLine& line, const Options& options, const Capture& capture);
// A TCP capture over a connection to the program's server.
Outcome replayNetwork(const Options& options, const Capture& capture);

} // namespace sim
