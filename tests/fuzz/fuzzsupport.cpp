#include "fuzzsupport.h"

#include "Clock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

void QuietUi::showMessage(const std::string&) {
    ++messages;
}
void QuietUi::setClipboardText(const std::string&) {}
void QuietUi::showImage(const unsigned char*, int) {}

namespace {

std::string makeScratchDir() {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec))
        base = std::filesystem::temp_directory_path(ec);
    std::string pattern = (base / "krvw-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort(); // nowhere to write: the target cannot run
    return pattern;
}

std::string g_scratch;

void removeScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
}

// Bytes a pseudo-terminal carries through a kernel work queue: they are
// counted on the other side a moment after the write returns.
constexpr int kVisibleWithinMs = 2000;
// The raw input queue of a terminal holds this many bytes (N_TTY_BUF_SIZE less one).
constexpr int kTerminalQueue = 4095;

int queued(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

} // namespace

const std::string& fuzzScratchDir() {
    if (g_scratch.empty()) {
        g_scratch = makeScratchDir();
        std::atexit(removeScratchDir);
    }
    return g_scratch;
}

void emptyFuzzScratchDir() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fuzzScratchDir(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

FakeClock& fuzzClock() {
    static FakeClock clock;
    static const bool installed = [] {
        setClockForTesting(&clock);
        return true;
    }();
    static_cast<void>(installed);
    return clock;
}

TracerLine::TracerLine() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0)
        return;
    char name[256] = {};
    const int slave =
        grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0
            ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)
            : -1;
    if (slave < 0) {
        close(master);
        return;
    }
    // Raw in both directions before the program opens the line: no echo, no
    // line editing, every byte passes unchanged.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
}

TracerLine::~TracerLine() {
    if (m_master >= 0)
        close(m_master);
    if (m_slave >= 0)
        close(m_slave);
}

int TracerLine::waiting() const {
    return queued(m_slave);
}

int TracerLine::feed(const unsigned char* bytes, int count) {
    if (m_master < 0 || count <= 0)
        return 0;
    const int before = queued(m_slave);
    if (before < 0)
        return 0;
    int n = count < kMaxFeed ? count : kMaxFeed;
    if (n > kTerminalQueue - before)
        n = kTerminalQueue - before;
    if (n <= 0)
        return 0;
    int sent = 0;
    while (sent < n) {
        const ssize_t put = write(m_master, bytes + sent, static_cast<size_t>(n - sent));
        if (put > 0)
            sent += static_cast<int>(put);
        else if (put < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    const auto start = std::chrono::steady_clock::now();
    while (queued(m_slave) < before + sent) {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kVisibleWithinMs))
            break; // they come later, or the program's side dropped them
        usleep(10);
    }
    return sent;
}

int TracerLine::drain(std::string* into) {
    if (m_master < 0)
        return 0;
    int total = 0;
    char chunk[4096];
    for (;;) {
        // A read that finds nothing waits for the kernel's queued work first,
        // so what the program wrote before is always seen here.
        const ssize_t got = read(m_master, chunk, sizeof chunk);
        if (got <= 0)
            break;
        if (into != nullptr)
            into->append(chunk, static_cast<size_t>(got));
        total += static_cast<int>(got);
    }
    return total;
}

void ScriptedTracer::start(InputReader& script) {
    m_script = &script;
    m_answers = 0;
    m_line.drain();
}

void ScriptedTracer::turn() {
    if (m_line.drain() == 0 || m_script == nullptr || m_script->left() == 0)
        return;
    const int length = m_script->word() % (TracerLine::kMaxFeed + 1);
    const uint8_t* answer = nullptr;
    const size_t n = m_script->take(static_cast<size_t>(length), answer);
    m_line.feed(answer, static_cast<int>(n));
    ++m_answers;
}

TracerLine& sharedTracerLine() {
    static TracerLine* made = [] {
        auto* line = new TracerLine;
        if (!line->ok())
            std::abort(); // no pseudo-terminal: nothing here can run
        return line;
    }();
    return *made;
}

bool endsInAStep(int64_t result, int lastStep) {
    const int64_t step = result % 1000;
    return result == 0 || (result > 0 && step >= 10 && step <= lastStep && step % 10 == 0);
}
