// One whole DCS reading (a two-eye 1000-point tracing with z values) over a
// pseudo-terminal at 9600 baud, krvw-tracer-sim playing a Huvitz tracer at the
// line's real pace, the program's side run as the main window runs it: the
// port opened by StartTimedReading and looked at every 500 ms.
//
// The simulator reports the bytes exchanged, their wire time (10 bits a byte at
// the baud rate) and the time the reading took; the difference is the program's
// own share, which its fixed waits bound: up to one 500 ms tick before a record
// is seen whole, plus the 200 ms settle of each record.
//
// The same tracing is read in decimal text (trace format 1) and then in packed
// binary (format 4, the simulator's --format 4), and the mean reading times
// compared.
//
// usage: krvw-bench-dcs [SIMULATOR [LABELS [READINGS]]]
#include "Readingfile.h"
#include "Serial.h"
#include "Serialtextdcs.h"
#include "Tracedata.h"
#include "Userinterface.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kBaud = 9600;
constexpr int kTickMs = 500;
constexpr int kSettleMs = 200;
constexpr int kRecordsPerReading = 3; // REQ=INI, REQ=TRC, the tracing
constexpr int kGiveUpMs = 180000;

class SilentUi : public UserInterface {
public:
    void showMessage(const std::string&) override {}
    void setClipboardText(const std::string&) override {}
    void showImage(const unsigned char*, int) override {}
};

struct Simulator {
    pid_t pid = -1;
    int out = -1;
    std::string pending;
};

bool startSimulator(Simulator& sim, const char* program, const char* labels, int readings,
                    int format) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string count = std::to_string(readings);
    const std::string baud = std::to_string(kBaud);
    std::vector<const char*> args = {program,         "--model",    "2",       "--no-link",
                                     "--baud",        baud.c_str(), "--count", count.c_str(),
                                     "--interval-ms", "0",          "--quiet"};
    const std::string formatText = std::to_string(format);
    args.push_back("--format");
    args.push_back(formatText.c_str());
    if (labels != nullptr) {
        args.push_back("--labels");
        args.push_back(labels);
    }
    args.push_back(nullptr);
    const int spawned = posix_spawn(&sim.pid, program, &actions, nullptr,
                                    const_cast<char* const*>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    sim.out = pipeFds[0];
    return spawned == 0;
}

// The next whole line the simulator printed, waiting at most waitMs; empty if none.
std::string nextLine(Simulator& sim, int waitMs) {
    for (;;) {
        const std::size_t end = sim.pending.find('\n');
        if (end != std::string::npos) {
            std::string line = sim.pending.substr(0, end);
            sim.pending.erase(0, end + 1);
            return line;
        }
        pollfd entry{sim.out, POLLIN, 0};
        if (poll(&entry, 1, waitMs) <= 0)
            return {};
        char chunk[512];
        const ssize_t got = read(sim.out, chunk, sizeof chunk);
        if (got <= 0)
            return {};
        sim.pending.append(chunk, static_cast<std::size_t>(got));
    }
}

long field(const std::string& line, const char* name) {
    const std::string key = std::string(name) + "=";
    const std::size_t at = line.find(key);
    return at == std::string::npos ? -1 : std::strtol(line.c_str() + at + key.size(), nullptr, 10);
}

// Reads `readings` tracings in `format`, prints a row for each; the mean
// reading time in `meanMs`. False when a reading failed.
bool readInFormat(const char* program, const char* labels, int readings, int format,
                  double& meanMs) {
    Simulator sim;
    if (!startSimulator(sim, program, labels, readings, format)) {
        std::fprintf(stderr, "cannot start %s\n", program);
        return false;
    }
    const std::string ready = nextLine(sim, 10000);
    if (ready.rfind("PORT ", 0) != 0) {
        std::fprintf(stderr, "the simulator did not come up: %s\n", ready.c_str());
        return false;
    }
    const std::string device = ready.substr(5);
    char folder[] = "/tmp/krvw-bench-dcs-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return false;

    CommPort port;
    std::string detail;
    if (StartTimedReading(port, device.c_str(), kBaud, detail) != 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), detail.c_str());
        return false;
    }
    DcsReceiveBuffer receiveBuffer;
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    ReadingContext reading{"HUVITZ", "", true};
    SilentUi ui;
    DcsContext context{&reading, std::string(folder) + "/", &ui};

    int done = 0;
    long total = 0;
    bool failed = false;
    const auto start = std::chrono::steady_clock::now();
    auto nextTick = start;
    while (done < readings && !failed) {
        nextTick += std::chrono::milliseconds(kTickMs);
        std::this_thread::sleep_until(nextTick);
        uint32_t errors = 0;
        if (port.ClearError(errors) == 0 && port.status.cbInQue > 0)
            PollDcs(receiveBuffer, port, *record, context);
        for (std::string line = nextLine(sim, 0); !line.empty(); line = nextLine(sim, 0)) {
            if (line.rfind("STATS", 0) == 0) {
                const long sent = field(line, "sent");
                const long received = field(line, "received");
                const long wire = field(line, "wire_ms");
                const long elapsed = field(line, "elapsed_ms");
                std::printf("%6d %8ld %8ld %10ld %12ld %12ld %8.3f\n", format, sent, received, wire,
                            elapsed, elapsed - wire,
                            wire > 0 ? double(elapsed) / double(wire) : 0.0);
                total += elapsed;
                ++done;
            } else if (line.rfind("RESULT FAIL", 0) == 0) {
                std::fprintf(stderr, "%s\n", line.c_str());
                failed = true;
            }
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kGiveUpMs))
            failed = true;
    }
    static_cast<void>(StopTimedReading(port, detail)); // the figures are out already
    kill(sim.pid, SIGTERM);
    waitpid(sim.pid, nullptr, 0);
    std::string cleanup = std::string("rm -rf '") + folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder);
    meanMs = done > 0 ? double(total) / done : 0.0;
    return !failed;
}

} // namespace

int main(int argc, char** argv) {
    const char* program = argc > 1 ? argv[1] : KRVW_TRACER_SIM;
    const char* labels = argc > 2 ? argv[2] : KRVW_TEST_DATA "/reading/realistic.labels";
    const int readings = argc > 3 ? std::atoi(argv[3]) : 3;
    std::printf("DCS reading at %d baud, two eyes, 1000 radii and 1000 z values each\n", kBaud);
    std::printf("%6s %8s %8s %10s %12s %12s %8s\n", "format", "sent", "received", "wire ms",
                "reading ms", "program ms", "ratio");
    double decimalMs = 0;
    double packedMs = 0;
    const bool ok = readInFormat(program, labels, readings, 1, decimalMs) &&
                    readInFormat(program, labels, readings, 4, packedMs);
    std::printf("bound of the program's share: one %d ms tick + %d ms for each of %d records = "
                "%d ms\n",
                kTickMs, kSettleMs, kRecordsPerReading, kTickMs + kSettleMs * kRecordsPerReading);
    if (ok && packedMs > 0)
        std::printf("packed binary (format 4) is %.2f times as fast as decimal text (format 1)\n",
                    decimalMs / packedMs);
    return ok ? 0 : 1;
}
