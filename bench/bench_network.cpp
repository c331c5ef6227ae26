// The program's TCP server under load: the program runs from a scratch folder
// as a user runs it (offscreen), ten networked tracers (krvw-tracer-sim --model
// 1) connect at once and send 100 tracings each, every Job identification and
// its Job data in one write, the next pair after both Accepts. The tracers'
// jobs are all distinct (10000 to 10099, 20000 to 20099, ... 100000 to 100099),
// so every tracing must end as a reading file of its own name.
//
// The latency of a tracing runs from the moment the tracer wrote the last byte
// of its Job data (the simulator's JOBSENT line, CLOCK_MONOTONIC) to the moment
// the reading file appeared under its name (inotify, the same clock): the
// program's Accept goes out before it saves, so the tracer does not wait for it.
//
// usage: krvw-bench-network [PROGRAM [SIMULATOR [TRACERS]]] (TRACERS 1 to 10, default 10)
#include "Readingfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

int g_tracers = 10; // tracers at once (the third argument)
constexpr int kJobsPerTracer = 100;
int jobs() {
    return g_tracers * kJobsPerTracer;
}
constexpr long kJobBaseStep = 10000; // tracer t sends the jobs (t + 1) * 10000 + 0..99
constexpr int kListenWaitMs = 20000; // for the program to start listening
constexpr int kRunLimitMs = 300000;  // for all tracers to end
constexpr int kLateFileMs = 5000;    // for the files of the last tracings after the tracers end
constexpr int kStopWaitMs = 3000;    // between SIGTERM and SIGKILL
constexpr double kTargetJobsPerSecond = 500;
constexpr double kTargetMedianMs = 5;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t elapsedMs(int64_t sinceNs) {
    return (monotonicNs() - sinceNs) / 1000000;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeWholeFile(const std::string& path, const std::string& bytes, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && ok;
}

// A port nobody listens on now: the one the system hands out for port 0.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

bool accepting(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return connected;
}

// The moment each reading file appeared under its own name. The program
// writes a hidden temporary file and renames it (IN_MOVED_TO); a file written
// in place shows as IN_CLOSE_WRITE. Only the first arrival of a name counts.
class ArrivalWatch {
public:
    bool start(const std::string& folder) {
        m_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd < 0 || inotify_add_watch(m_fd, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
            return false;
        m_thread = std::thread([this] { watch(); });
        return true;
    }
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    std::map<std::string, int64_t> arrivals() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals.size();
    }

private:
    void watch() {
        alignas(inotify_event) char buffer[64 * 1024];
        while (!m_stop) {
            pollfd entry{m_fd, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0)
                continue;
            const ssize_t got = read(m_fd, buffer, sizeof buffer);
            const int64_t now = monotonicNs();
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len == 0 || event->name[0] == '.')
                    continue;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_arrivals.emplace(event->name, now);
            }
        }
    }

    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::map<std::string, int64_t> m_arrivals;
};

struct Tracer {
    pid_t pid = -1;
    int out = -1;
    std::string pending;
    std::string result;
};

bool spawnTracer(Tracer& tracer, const char* simulator, int port, long base) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const std::string portText = std::to_string(port);
    const std::string count = std::to_string(kJobsPerTracer);
    const std::string labels = KRVW_TEST_DATA "/reading/realistic.labels";
    const std::string job = std::to_string(base);
    const char* args[] = {simulator,  "--model",      "1",      "--port",      portText.c_str(),
                          "--count",  count.c_str(),  "--pair", "--job-times", "--quiet",
                          "--labels", labels.c_str(), "--job",  job.c_str(),   nullptr};
    const int spawned = posix_spawn(&tracer.pid, simulator, &actions, nullptr,
                                    const_cast<char* const*>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    tracer.out = pipeFds[0];
    return spawned == 0;
}

// The program from the scratch folder, with its output in program.log there.
pid_t spawnProgram(const std::string& scratch) {
    std::vector<std::string> variables = {"QT_QPA_PLATFORM=offscreen",
                                          "XDG_RUNTIME_DIR=" + scratch + "/xdg"};
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "QT_QPA_PLATFORM=", 16) != 0 &&
            std::strncmp(*entry, "XDG_RUNTIME_DIR=", 16) != 0)
            variables.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = scratch + "/program.log";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const std::string program = scratch + "/krvw";
    char* const args[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// The scratch folder with the program beside its ini/krvw.ini; the port in `port`.
bool prepareScratch(const std::string& scratch, const char* program, int& port) {
    std::string binary;
    port = freePort();
    if (port == 0 || !readWholeFile(program, binary) ||
        !writeWholeFile(scratch + "/krvw", binary, 0755))
        return false;
    for (const char* folder : {"/ini", "/leituras", "/xdg"})
        if (mkdir((scratch + folder).c_str(), 0700) != 0)
            return false;
    const std::string ini = "MODELOTRACER=1\r\nPORTATCP=" + std::to_string(port) +
                            "\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=" + scratch +
                            "/leituras\r\nNOMSG=1\r\n";
    return writeWholeFile(scratch + "/ini/krvw.ini", ini, 0644);
}

bool waitListening(pid_t program, int port) {
    const int64_t start = monotonicNs();
    while (elapsedMs(start) < kListenWaitMs) {
        if (waitpid(program, nullptr, WNOHANG) == program)
            return false; // it ended
        if (accepting(port))
            return true;
        usleep(2000);
    }
    return false;
}

void stopProcess(pid_t pid) {
    kill(pid, SIGTERM);
    const int64_t start = monotonicNs();
    while (elapsedMs(start) < kStopWaitMs) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// One line a tracer printed: JOBSENT <job> <ns>, or its RESULT line.
void takeLine(Tracer& tracer, const std::string& line, std::map<std::string, int64_t>& sent) {
    if (line.rfind("JOBSENT ", 0) == 0) {
        const std::size_t space = line.find(' ', 8);
        if (space != std::string::npos)
            sent[line.substr(8, space - 8)] = std::strtoll(line.c_str() + space + 1, nullptr, 10);
    } else if (line.rfind("RESULT ", 0) == 0) {
        tracer.result = line;
    }
}

// What a tracer printed since the last look; false at its end of output.
bool readTracer(Tracer& tracer, std::map<std::string, int64_t>& sent) {
    char chunk[4096];
    const ssize_t got = read(tracer.out, chunk, sizeof chunk);
    if (got <= 0)
        return got < 0 && errno == EINTR;
    tracer.pending.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = tracer.pending.find('\n')) != std::string::npos;) {
        takeLine(tracer, tracer.pending.substr(0, end), sent);
        tracer.pending.erase(0, end + 1);
    }
    return true;
}

// Reads every tracer's lines until all have ended (or the run limit passes).
void collect(std::vector<Tracer>& tracers, std::map<std::string, int64_t>& sent) {
    const int64_t start = monotonicNs();
    for (;;) {
        std::vector<pollfd> entries;
        std::vector<Tracer*> owners;
        for (Tracer& tracer : tracers) {
            if (tracer.out >= 0) {
                entries.push_back({tracer.out, POLLIN, 0});
                owners.push_back(&tracer);
            }
        }
        if (entries.empty() || elapsedMs(start) > kRunLimitMs)
            break;
        if (poll(entries.data(), entries.size(), 1000) < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].revents != 0 && !readTracer(*owners[i], sent)) {
                close(owners[i]->out);
                owners[i]->out = -1;
            }
        }
    }
    for (Tracer& tracer : tracers) {
        if (tracer.out >= 0) { // past the run limit
            kill(tracer.pid, SIGKILL);
            close(tracer.out);
            tracer.out = -1;
        }
        waitpid(tracer.pid, nullptr, 0);
    }
}

struct Check {
    int present = 0;
    int exact = 0;
    std::vector<std::string> problems;
};

// Every file there, deciphered, the same text as `expected` (or, when that is
// empty, as the first file's).
Check checkFiles(const std::string& folder, std::string expected) {
    Check check;
    for (int t = 0; t < g_tracers; ++t) {
        for (int i = 0; i < kJobsPerTracer; ++i) {
            const std::string name = std::to_string((t + 1) * kJobBaseStep + i) + ".krvw";
            std::string cipher;
            std::string plain;
            if (!readWholeFile(folder + "/" + name, cipher)) {
                check.problems.push_back(name + " is missing");
                continue;
            }
            ++check.present;
            if (std::string reason; !decipherReading(cipher, plain, reason)) {
                check.problems.push_back(name + " does not decipher");
                continue;
            }
            if (expected.empty())
                expected = plain;
            if (plain == expected)
                ++check.exact;
            else
                check.problems.push_back(name + " differs from the expected text");
        }
    }
    return check;
}

// The p-th percentile (nearest rank) of sorted values.
double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const auto rank =
        static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

std::vector<double> latencies(const std::map<std::string, int64_t>& sent,
                              const std::map<std::string, int64_t>& arrivals) {
    std::vector<double> ms;
    for (const auto& [job, at] : sent) {
        const auto arrival = arrivals.find(job + ".krvw");
        if (arrival != arrivals.end())
            ms.push_back(static_cast<double>(arrival->second - at) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

struct Run {
    std::map<std::string, int64_t> sent;
    std::map<std::string, int64_t> arrivals;
    int failedTracers = 0;
    double seconds = 0;
};

// The ten tracers at once, and the files they cause.
bool runTracers(const char* simulator, int port, const std::string& folder, Run& run) {
    ArrivalWatch watch;
    if (!watch.start(folder)) {
        std::fprintf(stderr, "cannot watch %s: %s\n", folder.c_str(), std::strerror(errno));
        return false;
    }
    std::vector<Tracer> tracers(static_cast<std::size_t>(g_tracers));
    const int64_t start = monotonicNs();
    for (int t = 0; t < g_tracers; ++t) {
        if (!spawnTracer(tracers[t], simulator, port, (t + 1) * kJobBaseStep)) {
            std::fprintf(stderr, "cannot start %s\n", simulator);
            return false;
        }
    }
    collect(tracers, run.sent);
    int64_t end = monotonicNs();
    const int64_t tracersEnded = end;
    while (watch.count() < static_cast<std::size_t>(jobs()) &&
           elapsedMs(tracersEnded) < kLateFileMs)
        usleep(1000);
    watch.stop();
    run.arrivals = watch.arrivals();
    for (const auto& [name, at] : run.arrivals)
        end = std::max(end, at);
    run.seconds = static_cast<double>(end - start) / 1e9;
    for (std::size_t t = 0; t < tracers.size(); ++t) {
        if (tracers[t].result.rfind("RESULT OK", 0) != 0) {
            ++run.failedTracers;
            std::fprintf(stderr, "tracer %zu (jobs %ld..): %s\n", t + 1,
                         static_cast<long>(t + 1) * kJobBaseStep,
                         tracers[t].result.empty() ? "no RESULT line" : tracers[t].result.c_str());
        }
    }
    return true;
}

bool report(const Run& run, const Check& check, bool haveExpected) {
    const std::vector<double> ms = latencies(run.sent, run.arrivals);
    const double perSecond = run.seconds > 0 ? jobs() / run.seconds : 0;
    std::printf("network load: %d tracers at once, %d tracings each, Job identification and Job "
                "data in one write\n",
                g_tracers, kJobsPerTracer);
    std::printf("  jobs                    %d (%zu JOBSENT lines)\n", jobs(), run.sent.size());
    std::printf("  files present           %d\n", check.present);
    std::printf("  byte-exact              %d (%s)\n", check.exact,
                haveExpected ? "against serial/network.expected"
                             : "serial/network.expected not found: compared with each other only");
    std::printf("  total                   %.3f s\n", run.seconds);
    std::printf("  jobs per second         %.1f   (target: at least %.0f)\n", perSecond,
                kTargetJobsPerSecond);
    std::printf("  file arrival - JOBSENT  median %.3f ms (target: under %.0f ms), "
                "99th percentile %.3f ms, over %zu tracings\n",
                percentile(ms, 50), kTargetMedianMs, percentile(ms, 99), ms.size());
    for (std::size_t i = 0; i < check.problems.size() && i < 10; ++i)
        std::printf("  %s\n", check.problems[i].c_str());
    if (check.problems.size() > 10)
        std::printf("  ... and %zu more problems\n", check.problems.size() - 10);
    return check.present == jobs() && check.exact == jobs() && run.failedTracers == 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* program = argc > 1 && argv[1][0] != 0 ? argv[1] : KRVW_PROGRAM;
    const char* simulator = argc > 2 && argv[2][0] != 0 ? argv[2] : KRVW_TRACER_SIM;
    if (argc > 3)
        g_tracers = std::clamp(std::atoi(argv[3]), 1, 10);
    signal(SIGPIPE, SIG_IGN);
    char folder[] = "/tmp/krvw-bench-network-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string scratch = folder;
    int port = 0;
    if (!prepareScratch(scratch, program, port)) {
        std::fprintf(stderr, "cannot prepare %s with %s\n", folder, program);
        return 1;
    }
    const pid_t pid = spawnProgram(scratch);
    if (pid < 0 || !waitListening(pid, port)) {
        std::fprintf(stderr, "the program did not listen on port %d within %d ms; see %s\n", port,
                     kListenWaitMs, (scratch + "/program.log").c_str());
        if (pid > 0)
            stopProcess(pid);
        return 1;
    }
    Run run;
    const bool ran = runTracers(simulator, port, scratch + "/leituras", run);
    stopProcess(pid);
    if (!ran)
        return 1;
    std::string expected;
    const bool haveExpected =
        readWholeFile(KRVW_TEST_DATA "/serial/network.expected", expected) && !expected.empty();
    const Check check = checkFiles(scratch + "/leituras", haveExpected ? expected : std::string());
    const bool ok = report(run, check, haveExpected);
    if (!ok) {
        std::printf("the files and the program's output are kept in %s\n", folder);
        return 1;
    }
    std::error_code ignored; // a scratch folder left behind in /tmp harms nothing
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
