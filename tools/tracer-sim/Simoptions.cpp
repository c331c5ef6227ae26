#include "Simoptions.h"

#include "Simout.h"

#include <charconv>
#include <cstring>
#include <initializer_list>

namespace sim {

namespace {

constexpr int kMaxCount = 1000000;
constexpr int kMaxMs = 24 * 60 * 60 * 1000; // a day

const char* const kDcsFaults[] = {"none", "silent", "garbage", "half",
                                  "nak",  "no-ack", "flood",   "stop"};
const char* const kLt980Faults[] = {"none",         "silent",    "nak-block3", "wrong-header",
                                    "wrong-length", "stop-half", "unplug"};
const char* const kTakuboFaults[] = {"none", "silent", "wrong-answer", "short-block", "unplug"};

bool wholeNumber(const char* text, int low, int high, int& value) {
    const char* end = text + std::strlen(text);
    int parsed = 0;
    const auto [stop, problem] = std::from_chars(text, end, parsed);
    if (problem != std::errc() || stop != end || parsed < low || parsed > high)
        return false;
    value = parsed;
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
    if (name == "--model" && wholeNumber(value, 0, 6, number) && number != 1) {
        options.model = number;
    } else if (name == "--link" && value[0] != '\0') {
        options.link = value;
    } else if (name == "--baud" && wholeNumber(value, 9600, 38400, number) &&
               (number == 9600 || number == 19200 || number == 38400)) {
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
    } else if (name == "--fault" && value[0] != '\0') {
        options.fault = value;
    } else if (name == "--wait-ms" && wholeNumber(value, 1, kMaxMs, number)) {
        options.waitMs = number;
    } else {
        error = "wrong value for " + name + ": \"" + value + "\"";
        return false;
    }
    return true;
}

bool needsValue(const std::string& name) {
    for (const char* option : {"--model", "--link", "--baud", "--labels", "--job", "--count",
                               "--interval-ms", "--dialect", "--fault", "--wait-ms"})
        if (name == option)
            return true;
    return false;
}

// What depends on the model: the default link and dialect, the faults it knows.
bool settle(Options& options, std::string& error) {
    if (options.model < 0) {
        error = "--model is required (0, 2, 3, 4, 5 or 6)";
        return false;
    }
    const bool dcs = isDcsModel(options.model);
    if (!dcs && !options.dialect.empty()) {
        error = "--dialect is for the DCS models 2, 3, 4 and 6 only";
        return false;
    }
    if (options.dialect.empty())
        options.dialect = options.model == 3 ? "1234" : (options.model == 6 ? "1" : "trc");
    const bool known = dcs                  ? listed(kDcsFaults, options.fault)
                       : options.model == 0 ? listed(kLt980Faults, options.fault)
                                            : listed(kTakuboFaults, options.fault);
    if (!known) {
        error = "model " + decimal(options.model) + " knows the faults " +
                (dcs ? joined(kDcsFaults)
                     : (options.model == 0 ? joined(kLt980Faults) : joined(kTakuboFaults)));
        return false;
    }
    if (options.job.find_first_of(std::string("\r\n\x1C\x1D\x1E", 5)) != std::string::npos) {
        error = "--job may not hold CR, LF, FS, GS or RS";
        return false;
    }
    if (!options.noLink && options.link.empty())
        options.link = "/dev/ttyKRVWSIM" + decimal(options.model);
    if (options.noLink)
        options.link.clear();
    return true;
}

} // namespace

bool isDcsModel(int model) {
    return model == 2 || model == 3 || model == 4 || model == 6;
}

Parsed parseOptions(int argc, char** argv, Options& options, std::string& error) {
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
        if (value == nullptr && (name == "--no-link" || name == "--no-pace" || name == "--quiet")) {
            options.noLink = options.noLink || name == "--no-link";
            options.paced = options.paced && name != "--no-pace";
            options.quiet = options.quiet || name == "--quiet";
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
    }
    return settle(options, error) ? Parsed::Run : Parsed::Wrong;
}

const char* usageText() {
    return "usage: krvw-tracer-sim --model N [options]\n"
           "Plays a serial tracer on a pseudo-terminal: model 0 NIDEK LT980, 2 Huvitz,\n"
           "3 TopCom, 4 Essilor, 5 Takubomatic FD-80, 6 NIDEK LT1000/LT1200 (serial).\n"
           "  --link PATH        the link to the port to make (default /dev/ttyKRVWSIM<N>)\n"
           "  --no-link          make no link; the port is the pseudo-terminal itself\n"
           "  --baud B           9600 (default), 19200 or 38400: the line's pace\n"
           "  --no-pace          send as fast as the pseudo-terminal takes it\n"
           "  --labels FILE      send the tracing of this VCA label file\n"
           "  --job TEXT         the job sent in JOB= (DCS models; default the file's, else "
           "00815)\n"
           "  --count K          readings to serve before ending (default 1)\n"
           "  --interval-ms MS   pause between DCS readings (default 1000)\n"
           "  --dialect D        DCS only: trc (models 2, 4), 1234 (model 3), 1 (model 6)\n"
           "  --fault F          misbehave: DCS silent, garbage, half, nak, no-ack, flood, stop;\n"
           "                     LT980 silent, nak-block3, wrong-header, wrong-length,\n"
           "                     stop-half, unplug; Takubomatic silent, wrong-answer,\n"
           "                     short-block, unplug\n"
           "  --wait-ms MS       wait for the program's first contact (default 120000)\n"
           "  --quiet            print only the PORT, STATS and RESULT lines\n";
}

} // namespace sim
