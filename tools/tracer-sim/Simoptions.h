// The simulator's command line.
#pragma once

#include <string>

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
    std::string fault = "none";
    int waitMs = 120000; // first contact
    bool quiet = false;
};

// Models 2, 3, 4 and 6 speak the VCA DCS label protocol.
bool isDcsModel(int model);

enum class Parsed { Run, Help, Wrong };

// Reads the command line into `options`, with the defaults that depend on the
// model filled in. Wrong with the reason in `error`.
Parsed parseOptions(int argc, char** argv, Options& options, std::string& error);
const char* usageText();

} // namespace sim
