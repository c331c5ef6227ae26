#include "Simoptions.h"

#include "Simcapture.h"
#include "Simout.h"

#include <charconv>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace sim {

namespace {

constexpr int kMaxCount = 1000000;
constexpr int kMaxMs = 24 * 60 * 60 * 1000; // a day

const char* const kDcsFaults[] = {"none", "silent", "garbage", "half",
                                  "nak",  "no-ack", "flood",   "stop"};
const char* const kLt980Faults[] = {"none",         "silent",    "nak-block3", "wrong-header",
                                    "wrong-length", "stop-half", "unplug"};
const char* const kTakuboFaults[] = {"none", "silent", "wrong-answer", "short-block", "unplug"};
const char* const kNetFaults[] = {
    "none",  "bad-lead",     "oversized",      "negative-length", "connection-ended",
    "error", "bad-extended", "disconnect-mid", "garbage",         "silent"};
// The options that only the serial models know, and those only model 1 knows.
const char* const kSerialOnly[] = {"--link",        "--no-link", "--baud",  "--no-pace",
                                   "--interval-ms", "--dialect", "--format"};
const char* const kNetworkOnly[] = {"--host",  "--port",    "--pieces",    "--pair",
                                    "--drill", "--ask-job", "--job-times", "--hang-up"};
// What a replay takes from the capture instead: the frame, the readings, the faults, the pace.
const char* const kNotWithReplay[] = {"--labels",  "--job",    "--count",   "--interval-ms",
                                      "--dialect", "--format", "--fault",   "--pieces",
                                      "--pair",    "--drill",  "--ask-job", "--job-times",
                                      "--hang-up", "--record", "--baud"};
constexpr int kNetworkWaitMs = 10000;    // model 1's default for connecting
constexpr std::size_t kJobBytes = 16;    // the Job identification's payload
constexpr std::size_t kMaxPiece = 65535; // a sane bound: pieces beyond the message are cut to it

bool wholeNumber(const char* text, int low, int high, int& value) {
    const char* end = text + std::strlen(text);
    int parsed = 0;
    const auto [stop, problem] = std::from_chars(text, end, parsed);
    if (problem != std::errc() || stop != end || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// Sizes separated by commas, each 1 or more: "1,500,1583".
bool pieceList(const char* text, std::vector<std::size_t>& pieces) {
    std::vector<std::size_t> parsed;
    const char* start = text;
    for (;;) {
        const char* comma = std::strchr(start, ',');
        const char* end = comma == nullptr ? start + std::strlen(start) : comma;
        std::size_t size = 0;
        const auto [stop, problem] = std::from_chars(start, end, size);
        if (problem != std::errc() || stop != end || size == 0 || size > kMaxPiece)
            return false;
        parsed.push_back(size);
        if (comma == nullptr)
            break;
        start = comma + 1;
    }
    pieces = parsed;
    return true;
}

template <std::size_t N> bool listed(const char* const (&names)[N], const std::string& name) {
    for (const char* entry : names)
        if (name == entry)
            return true;
    return false;
}

template <std::size_t N> std::string joined(const char* const (&names)[N]) {
    std::string text;
    for (const char* entry : names)
        text += (text.empty() ? "" : ", ") + std::string(entry);
    return text;
}

// One option with its value; false with the reason when it is wrong.
bool takeOption(const std::string& name, const char* value, Options& options, std::string& error) {
    int number = 0;
    if (name == "--model" &&
        wholeNumber(value, 0, static_cast<int>(kTracerModels.size()) - 1, number)) {
        options.model = number;
    } else if (name == "--link" && value[0] != '\0') {
        options.link = value;
    } else if (name == "--baud" && tracerBaudRateIndex(value) >= 0 &&
               wholeNumber(value, 0, 38400, number)) {
        options.baud = number;
    } else if (name == "--labels" && value[0] != '\0') {
        options.labels = value;
    } else if (name == "--job") {
        options.jobGiven = true;
        options.job = value;
    } else if (name == "--count" && wholeNumber(value, 1, kMaxCount, number)) {
        options.count = number;
    } else if (name == "--interval-ms" && wholeNumber(value, 0, kMaxMs, number)) {
        options.intervalMs = number;
    } else if (name == "--dialect" &&
               (std::strcmp(value, "trc") == 0 || std::strcmp(value, "1234") == 0 ||
                std::strcmp(value, "1") == 0)) {
        options.dialect = value;
    } else if (name == "--format" &&
               (std::strcmp(value, "1") == 0 || std::strcmp(value, "4") == 0)) {
        options.format = value[0] - '0';
    } else if (name == "--fault" && value[0] != '\0') {
        options.fault = value;
    } else if (name == "--wait-ms" && wholeNumber(value, 1, kMaxMs, number)) {
        options.waitMs = number;
        options.waitGiven = true;
    } else if (name == "--host" && value[0] != '\0') {
        options.host = value;
    } else if (name == "--port" && wholeNumber(value, 1, 65535, number)) {
        options.port = number;
    } else if (name == "--pieces" && pieceList(value, options.pieces)) {
        // pieceList has filled options.pieces
    } else if (name == "--replay" && value[0] != '\0') {
        options.replay = value;
    } else if (name == "--record" && value[0] != '\0') {
        options.record = value;
    } else {
        error = "wrong value for " + name + ": \"" + value + "\"";
        return false;
    }
    return true;
}

// An option without a value; false when `name` is none of them.
bool takeFlag(const std::string& name, Options& options) {
    bool* const flags[] = {&options.noLink, &options.quiet,    &options.pair,  &options.askJob,
                           &options.drill,  &options.jobTimes, &options.hangUp};
    const char* const names[] = {"--no-link", "--quiet",     "--pair",   "--ask-job",
                                 "--drill",   "--job-times", "--hang-up"};
    if (name == "--no-pace") {
        options.paced = false;
        return true;
    }
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (name == names[i]) {
            *flags[i] = true;
            return true;
        }
    }
    return false;
}

bool needsValue(const std::string& name) {
    for (const char* option : {"--model", "--link", "--baud", "--labels", "--job", "--count",
                               "--interval-ms", "--dialect", "--format", "--fault", "--wait-ms",
                               "--host", "--port", "--pieces", "--replay", "--record"})
        if (name == option)
            return true;
    return false;
}

// An option given that the model does not know; empty when there is none.
template <std::size_t N>
std::string stranger(const std::vector<std::string>& given, const char* const (&names)[N]) {
    for (const std::string& name : given)
        if (listed(names, name))
            return name;
    return {};
}

// Model 1: the server's port is needed, the wait is for connecting.
bool settleNetwork(Options& options, const std::vector<std::string>& given, std::string& error) {
    if (const std::string name = stranger(given, kSerialOnly); !name.empty()) {
        error = name + " is for the serial models only";
        return false;
    }
    if (options.port == 0) {
        error = "model 1 needs --port, the program's TCP port";
        return false;
    }
    if (!listed(kNetFaults, options.fault)) {
        error = "model 1 knows the faults " + joined(kNetFaults);
        return false;
    }
    if (options.pair && !options.pieces.empty()) {
        error = "--pair and --pieces exclude each other: --pair sends two messages in one write";
        return false;
    }
    if (options.job.size() > kJobBytes) {
        error = "--job may have at most 16 characters: the Job identification carries 16 bytes";
        return false;
    }
    if (!options.waitGiven)
        options.waitMs = kNetworkWaitMs;
    options.link.clear();
    return true;
}

// A replay: the model is the capture's (a --model given must name the same).
bool settleReplay(Options& options, std::vector<std::string>& given, std::string& error) {
    if (const std::string name = stranger(given, kNotWithReplay); !name.empty()) {
        error = name + " does not go with --replay: the capture holds the whole conversation";
        return false;
    }
    // The recorded pace is kept or dropped on either kind of link.
    std::erase(given, std::string("--no-pace"));
    int model = -1;
    if (!captureModel(options.replay, model, error))
        return false;
    if (options.model >= 0 && options.model != model) {
        error = "--model " + decimal(options.model) + " differs from the capture's model " +
                decimal(model);
        return false;
    }
    options.model = model;
    return true;
}

// What depends on the model: the default link and dialect, the faults it knows.
bool settle(Options& options, const std::vector<std::string>& given, std::string& error) {
    if (options.model < 0) {
        error = "--model is required (0 to 6)";
        return false;
    }
    if (options.job.find_first_of(std::string("\r\n\x1C\x1D\x1E", 5)) != std::string::npos) {
        error = "--job may not hold CR, LF, FS, GS or RS";
        return false;
    }
    const TracerProtocol protocol = protocolOf(options);
    if (protocol == TracerProtocol::Network)
        return settleNetwork(options, given, error);
    if (const std::string name = stranger(given, kNetworkOnly); !name.empty()) {
        error = name + " is for model 1 only";
        return false;
    }
    const bool dcs = protocol == TracerProtocol::Dcs;
    if (!dcs && !options.dialect.empty()) {
        error = "--dialect is for the DCS models 2, 3, 4 and 6 only";
        return false;
    }
    if (options.dialect.empty() && dcs)
        options.dialect = kTracerModels[static_cast<std::size_t>(options.model)].dcsRequest;
    if (options.format != 1 && (!dcs || options.dialect != "trc")) {
        error = "--format 4 is for the DCS models that negotiate the format (--dialect trc)";
        return false;
    }
    const bool lt980 = protocol == TracerProtocol::Lt980;
    const bool known = dcs     ? listed(kDcsFaults, options.fault)
                       : lt980 ? listed(kLt980Faults, options.fault)
                               : listed(kTakuboFaults, options.fault);
    if (!known) {
        error = "model " + decimal(options.model) + " knows the faults " +
                (dcs ? joined(kDcsFaults) : (lt980 ? joined(kLt980Faults) : joined(kTakuboFaults)));
        return false;
    }
    if (!options.noLink && options.link.empty())
        options.link = "/dev/ttyKRVWSIM" + decimal(options.model);
    if (options.noLink)
        options.link.clear();
    return true;
}

} // namespace

TracerProtocol protocolOf(const Options& options) {
    return kTracerModels[static_cast<std::size_t>(options.model)].protocol;
}

Parsed parseOptions(int argc, char** argv, Options& options, std::string& error) {
    std::vector<std::string> given; // the options named, for the checks by model
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = nullptr;
        const std::size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1; // --name=value
            name.resize(equals);
        }
        if (name == "--help" || name == "-h")
            return Parsed::Help;
        if (value == nullptr && takeFlag(name, options)) {
            given.push_back(name);
            continue;
        }
        if (!needsValue(name)) {
            error = "unknown option " + std::string(argv[i]);
            return Parsed::Wrong;
        }
        if (value == nullptr) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return Parsed::Wrong;
            }
            value = argv[++i];
        }
        if (!takeOption(name, value, options, error))
            return Parsed::Wrong;
        given.push_back(name);
    }
    if (!options.replay.empty() && !settleReplay(options, given, error))
        return Parsed::Wrong;
    return settle(options, given, error) ? Parsed::Run : Parsed::Wrong;
}

std::string usageText() {
    std::string models;
    for (std::size_t i = 0; i < kTracerModels.size(); ++i) {
        const TracerModel& tracer = kTracerModels[i];
        models += "  " + decimal(static_cast<int64_t>(i)) + "  " + tracer.tracerName +
                  (tracer.protocol == TracerProtocol::Network
                       ? ", connecting to the program's TCP server"
                       : (tracer.protocol == TracerProtocol::Dcs
                              ? std::string(", DCS dialect ") + tracer.dcsRequest
                              : std::string())) +
                  "\n";
    }
    return "usage: krvw-tracer-sim --model N [options]\n"
           "       krvw-tracer-sim --replay FILE [options]\n"
           "Plays a tracer, serial ones on a pseudo-terminal:\n" +
           models +
           "Options:\n"
           "  --link PATH        the link to the port to make (default /dev/ttyKRVWSIM<N>)\n"
           "  --no-link          make no link; the port is the pseudo-terminal itself\n"
           "  --baud B           9600 (default), 19200 or 38400: the line's pace\n"
           "  --no-pace          send as fast as the pseudo-terminal takes it\n"
           "  --labels FILE      send the tracing of this VCA label file\n"
           "  --job TEXT         the job sent (DCS models in JOB=, model 1 in the Job\n"
           "                     identification; default the file's, else 00815)\n"
           "  --count K          readings to serve before ending (default 1)\n"
           "  --interval-ms MS   pause between DCS readings (default 1000)\n"
           "  --dialect D        DCS only: trc, 1234 or 1 (default: the model's own)\n"
           "  --format F         DCS only, with --dialect trc: offer and send the trace in\n"
           "                     format 1 (decimal text, default) or 4 (packed binary)\n"
           "  --fault F          misbehave: DCS silent, garbage, half, nak, no-ack, flood, stop;\n"
           "                     LT980 silent, nak-block3, wrong-header, wrong-length,\n"
           "                     stop-half, unplug; Takubomatic silent, wrong-answer,\n"
           "                     short-block, unplug; model 1 bad-lead, oversized,\n"
           "                     negative-length, connection-ended, error, bad-extended,\n"
           "                     disconnect-mid, garbage, silent\n"
           "  --wait-ms MS       wait for the program's first contact (default 120000);\n"
           "                     model 1: keep trying to connect (default 10000)\n"
           "  --quiet            print only the PORT, CONNECTED, STATS and RESULT lines\n"
           "  --record FILE      write the run's conversation to FILE as a capture\n"
           "  --replay FILE      play the tracer's side of a capture (docs/captures.md)\n"
           "                     against the program and check every byte the program\n"
           "                     sends; the model is the capture's; with --link, --no-link,\n"
           "                     --no-pace, --wait-ms, --port, --host, --quiet\n"
           "Model 1 only:\n"
           "  --port P           the program's TCP port (required)\n"
           "  --host H           the program's host (default 127.0.0.1)\n"
           "  --pieces N1,N2,..  write each Job data in pieces of these sizes, 50 ms apart\n"
           "  --pair             Job identification and Job data in one write\n"
           "  --ask-job          after each Job data, ask for the job back and check it\n"
           "  --drill            add a drill block with two holes to the Job data\n"
           "  --job-times        print JOBSENT <job> <monotonic ns> after each Job data\n"
           "  --hang-up          close the connection at once after the last Accept (no\n"
           "                     End request) or after a fault's message, not waiting for\n"
           "                     the program to close it\n";
}

} // namespace sim
