// krvw-tracer-sim: plays one serial tracer on a pseudo-terminal, for users who
// want to see a reading without a device and for the tests, whose peer it is.
#include "Simdcs.h"
#include "Simframe.h"
#include "Simline.h"
#include "Simlt980.h"
#include "Simoptions.h"
#include "Simout.h"
#include "Simtakubo.h"

#include <cstdio>

namespace {

using namespace sim;

constexpr int kUsageError = 2;
constexpr int kBuiltinPoints = 1000;
constexpr int kTakuboPoints = 400;

const char* tracerName(int model) {
    switch (model) {
    case 0:
        return "NIDEK LT980";
    case 2:
        return "Huvitz";
    case 3:
        return "TopCom";
    case 4:
        return "Essilor";
    case 5:
        return "Takubomatic FD-80";
    default:
        return "NIDEK LT1000/LT1200 (serial)";
    }
}

// The frame and, for the binary tracers, its blocks; false when it cannot be sent.
bool prepareFrame(const Options& options, Frame& frame, Lt980Payloads& lt980, std::string& block,
                  std::string& error) {
    if (options.labels.empty())
        builtinFrame(options.model == 5 ? kTakuboPoints : kBuiltinPoints, frame);
    else if (!loadLabelFile(options.labels, frame, error))
        return false;
    if (isDcsModel(options.model))
        return true;
    if (!frame.measureProblems.empty()) {
        error = "a measure cannot be read: " + frame.measureProblems.front();
        return false;
    }
    return options.model == 0 ? buildLt980Payloads(frame, lt980, error)
                              : buildTakuboBlock(frame, block, error);
}

// The line lives only while it serves: it closes and its link goes before the
// RESULT line is written, so a reader of that line finds the link gone.
Outcome serve(const Options& options, const Frame& frame, const Lt980Payloads& lt980,
              const std::string& block) {
    SimLine line;
    std::string error;
    if (!line.open(error))
        return failed(error);
    line.setPace(options.baud, options.paced);
    std::string why;
    if (!options.link.empty() && !line.makeLink(options.link, why))
        complain("no link: " + why + "; the port is " + line.slavePath());
    sayAlways("PORT " + line.portPath());
    say("PLAYING model " + decimal(options.model) + " (" + tracerName(options.model) + ")" +
        (isDcsModel(options.model) ? ", dialect " + options.dialect : std::string()) + ", " +
        (options.labels.empty() ? std::string("built-in frame") : options.labels) + ", " +
        decimal(frame.pointCount()) + " points, " +
        (options.paced ? decimal(options.baud) + " baud" : std::string("unpaced")) +
        (options.fault == "none" ? std::string() : ", fault " + options.fault));
    if (options.model == 0)
        return runLt980(line, options, lt980);
    if (options.model == 5)
        return runTakubo(line, options, block);
    return runDcs(line, options, frame);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parseOptions(argc, argv, options, error)) {
    case Parsed::Help:
        std::fputs(usageText(), stdout);
        return 0;
    case Parsed::Wrong:
        complain("krvw-tracer-sim: " + error);
        std::fputs(usageText(), stderr);
        return kUsageError;
    case Parsed::Run:
        break;
    }
    setQuiet(options.quiet);
    Frame frame;
    Lt980Payloads lt980;
    std::string block;
    if (!prepareFrame(options, frame, lt980, block, error)) {
        complain("krvw-tracer-sim: the frame cannot be sent: " + error);
        return kUsageError;
    }
    installSignalCleanup();
    const Outcome outcome = serve(options, frame, lt980, block);
    sayAlways(std::string("RESULT ") + (outcome.ok ? "OK " : "FAIL ") + outcome.text);
    return outcome.ok ? 0 : 1;
}
