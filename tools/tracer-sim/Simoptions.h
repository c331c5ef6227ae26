// The simulator's command line.
#pragma once

#include "Tracermodels.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

constexpr int kLaterStepMs = 15000; // every wait after the first contact

struct Options {
    int model = -1;
    std::string link; // the /dev link to make; empty with noLink
    bool noLink = false;
    int baud = 9600;
    bool paced = true;
    std::string labels; // a VCA label file; empty: the built-in frame
    bool jobGiven = false;
    std::string job;
    int count = 1;
    int intervalMs = 1000;
    std::string dialect; // DCS models: trc, 1234 or 1
    int format = 1;      // DCS models: the trace format offered and sent, 1 or 4
    std::string fault = "none";
    int waitMs = 120000; // first contact; for model 1 the connecting
    bool waitGiven = false;
    bool quiet = false;
    std::string replay; // a capture whose device side is played; the model is the capture's
    std::string record; // where this run is written as a capture
    // Model 1, the networked tracer: the program's server and how to talk to it.
    std::string host = "127.0.0.1";
    int port = 0;
    std::vector<std::size_t> pieces; // the Job data written in pieces of these sizes
    bool pair = false;               // Job identification and Job data in one write
    bool askJob = false;             // a Job request after each Job data
    bool drill = false;              // a drill block in the Job data
    bool jobTimes = false;           // a JOBSENT line after each Job data
    bool hangUp = false;             // close at once after the last Accept or a fault's message
};

// What the model played speaks (the number has been checked by parseOptions).
// The networked model connects to the program's TCP server; all others play a
// serial line.
TracerProtocol protocolOf(const Options& options);

enum class Parsed { Run, Help, Wrong };

// Reads the command line into `options`, with the defaults that depend on the
// model filled in. Wrong with the reason in `error`.
Parsed parseOptions(int argc, char** argv, Options& options, std::string& error);
std::string usageText();

} // namespace sim
