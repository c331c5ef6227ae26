// krvw-tracer-sim: plays one tracer, serial on a pseudo-terminal or networked
// over TCP, for users who want to see a reading without a device and for the
// tests, whose peer it is.
#include "Simcapture.h"
#include "Simdcs.h"
#include "Simframe.h"
#include "Simline.h"
#include "Simlt980.h"
#include "Simnetjob.h"
#include "Simnetrun.h"
#include "Simoptions.h"
#include "Simout.h"
#include "Simreplay.h"
#include "Simtakubo.h"

#include <cstdio>

namespace {

using namespace sim;

constexpr int kUsageError = 2;
constexpr int kBuiltinPoints = 1000;
constexpr int kTakuboPoints = 400;

// The binary encodings of the frame a tracer sends.
struct Encoded {
    Lt980Payloads lt980;
    std::string block; // Takubomatic
    NetJob job;        // model 1
};

// The job texts the networked tracer sends must fit its 16 bytes, the last
// one (counted up from the first) included.
bool jobTextsFit(const Options& options, const Frame& frame, std::string& error) {
    for (const int reading : {1, options.count}) {
        const std::string job = netJobText(options, frame, reading);
        if (job.size() > kJobTextBytes) {
            error =
                "the job \"" + job + "\" is longer than the 16 bytes a Job identification carries";
            return false;
        }
    }
    return true;
}

// The frame and, for the binary tracers, its encoding; false when it cannot be sent.
bool prepareFrame(const Options& options, Frame& frame, Encoded& encoded, std::string& error) {
    if (options.labels.empty())
        builtinFrame(protocolOf(options) == TracerProtocol::Takubomatic ? kTakuboPoints
                                                                        : kBuiltinPoints,
                     frame);
    else if (!loadLabelFile(options.labels, frame, error))
        return false;
    if (protocolOf(options) == TracerProtocol::Dcs)
        return true;
    if (!frame.measureProblems.empty()) {
        error = "a measure cannot be read: " + frame.measureProblems.front();
        return false;
    }
    if (protocolOf(options) == TracerProtocol::Network)
        return jobTextsFit(options, frame, error) &&
               buildNetJob(frame, options.drill, encoded.job, error);
    return protocolOf(options) == TracerProtocol::Lt980
               ? buildLt980Payloads(frame, encoded.lt980, error)
               : buildTakuboBlock(frame, encoded.block, error);
}

// The line lives only while it serves: it closes and its link goes before the
// RESULT line is written, so a reader of that line finds the link gone.
Outcome serve(const Options& options, const Frame& frame, const Encoded& encoded,
              const Capture& capture) {
    SimLine line;
    std::string error;
    if (!line.open(error))
        return failed(error);
    line.setPace(options.baud, options.paced);
    std::string why;
    if (!options.link.empty() && !line.makeLink(options.link, why))
        complain("no link: " + why + "; the port is " + line.slavePath());
    sayAlways("PORT " + line.portPath());
    if (!options.replay.empty())
        return replaySerial(line, options, capture);
    recordPlace("port", line.portPath() + " " + decimal(options.baud) + " 8N1");
    const TracerModel& tracer = kTracerModels[static_cast<std::size_t>(options.model)];
    say("PLAYING model " + decimal(options.model) + " (" + tracer.tracerName + ")" +
        (tracer.protocol == TracerProtocol::Dcs ? ", dialect " + options.dialect : std::string()) +
        ", " + (options.labels.empty() ? std::string("built-in frame") : options.labels) + ", " +
        decimal(frame.pointCount()) + " points, " +
        (options.paced ? decimal(options.baud) + " baud" : std::string("unpaced")) +
        (options.fault == "none" ? std::string() : ", fault " + options.fault));
    switch (tracer.protocol) {
    case TracerProtocol::Lt980:
        return runLt980(line, options, encoded.lt980);
    case TracerProtocol::Takubomatic:
        return runTakubo(line, options, encoded.block);
    case TracerProtocol::Dcs:
        return runDcs(line, options, frame);
    case TracerProtocol::Network:
        break;
    }
    return failed("model " + decimal(options.model) + " plays no serial line");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parseOptions(argc, argv, options, error)) {
    case Parsed::Help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case Parsed::Wrong:
        complain("krvw-tracer-sim: " + error);
        std::fputs(usageText().c_str(), stderr);
        return kUsageError;
    case Parsed::Run:
        break;
    }
    setQuiet(options.quiet);
    Frame frame;
    Encoded encoded;
    Capture capture;
    const bool replay = !options.replay.empty();
    if (replay && !loadCapture(options.replay, capture, error)) {
        complain("krvw-tracer-sim: the capture cannot be played: " + error);
        return kUsageError;
    }
    if (!replay && !prepareFrame(options, frame, encoded, error)) {
        complain("krvw-tracer-sim: the frame cannot be sent: " + error);
        return kUsageError;
    }
    if (!options.record.empty() && !startRecording(options.record, options.model, error)) {
        complain("krvw-tracer-sim: " + error);
        return kUsageError;
    }
    installSignalCleanup();
    Outcome outcome = protocolOf(options) != TracerProtocol::Network
                          ? serve(options, frame, encoded, capture)
                      : replay ? replayNetwork(options, capture)
                               : runNetwork(options, frame, encoded.job);
    if (!finishRecording(error) && outcome.ok)
        outcome = failed(error);
    sayAlways(std::string("RESULT ") + (outcome.ok ? "OK " : "FAIL ") + outcome.text);
    return outcome.ok ? 0 : 1;
}
