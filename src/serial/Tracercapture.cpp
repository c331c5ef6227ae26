#include "Tracercapture.h"

#include "Bytes.h"
#include "Calibration.h"
#include "Clock.h"
#include "Tracermodels.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const kCaptureProgram = "krvw " KRVW_VERSION; // the build's project version

namespace {

constexpr const char* kFolderVariable = "KRVW_CAPTURE_DIR";
constexpr std::size_t kBytesPerLine = 16;
// A chunk line at most: "< " (2) + ms (up to 10) + 16 x " hh" (48) + " |" (2) +
// 16 printable + "|\n" (2) = 80, rounded up.
constexpr std::size_t kMaxLineLength = 96;

struct CaptureSwitch {
    bool decided = false; // the environment was read, or a folder was set
    bool on = false;
    bool failed = false; // a file could not be written: nothing more this run
    std::string folder;
    unsigned count = 0; // captures started in this run
    int model = -1;
    std::time_t (*wallClock)() = nullptr;
};

CaptureSwitch& captureSwitch() {
    static CaptureSwitch state;
    return state;
}

} // namespace

bool capturing() {
    CaptureSwitch& state = captureSwitch();
    if (!state.decided) {
        state.decided = true;
        const char* folder = std::getenv(kFolderVariable);
        state.folder = folder != nullptr ? folder : "";
        state.on = !state.folder.empty();
    }
    return state.on && !state.failed;
}

namespace {

// The numbers of the file are written digit by digit: no locale reaches them.
void appendDecimal(std::string& out, uint64_t value) {
    char digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        out += digits[--n];
}

void appendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

// yyyymmdd-hhmmss for the file name (compact) or yyyy-mm-ddThh:mm:ssZ.
void appendUtc(std::string& out, const std::tm& utc, bool compact) {
    appendDecimal(out, static_cast<uint64_t>(utc.tm_year + 1900));
    if (!compact)
        out += '-';
    appendTwoDigits(out, utc.tm_mon + 1);
    if (!compact)
        out += '-';
    appendTwoDigits(out, utc.tm_mday);
    out += compact ? '-' : 'T';
    appendTwoDigits(out, utc.tm_hour);
    if (!compact)
        out += ':';
    appendTwoDigits(out, utc.tm_min);
    if (!compact)
        out += ':';
    appendTwoDigits(out, utc.tm_sec);
    if (!compact)
        out += 'Z';
}

void reportFailure(const std::string& path, int error) {
    CaptureSwitch& state = captureSwitch();
    if (state.failed)
        return;
    state.failed = true;
    std::fprintf(stderr, "krvw: captures stopped: cannot write %s: %s\n", path.c_str(),
                 std::strerror(error));
}

// The capture's file, new in the folder (made when missing): null, with the
// failure reported, when it cannot be.
std::FILE* createFile(const std::string& path) {
    const std::string& folder = captureSwitch().folder;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        reportFailure(folder, errno);
        return nullptr;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    std::FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        reportFailure(path, error);
    }
    return file;
}

} // namespace

std::unique_ptr<TracerCapture> TracerCapture::serial(const char* device) {
    return capturing() ? begin(true, device != nullptr ? device : "") : nullptr;
}

std::unique_ptr<TracerCapture> TracerCapture::tcp(const std::string& peer) {
    if (!capturing())
        return nullptr;
    std::unique_ptr<TracerCapture> capture = begin(false, peer);
    // A peer is known whole at once; a port's line settings are still to come.
    if (capture != nullptr)
        capture->writeHeader();
    return capture;
}

std::unique_ptr<TracerCapture> TracerCapture::begin(bool serialPort, std::string where) {
    CaptureSwitch& state = captureSwitch();
    const std::time_t now = state.wallClock != nullptr ? state.wallClock() : std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::string path = state.folder + "/";
    appendUtc(path, utc, true);
    path += serialPort ? "-serial-" : "-tcp-";
    appendDecimal(path, ++state.count);
    path += ".krvwcap";
    std::FILE* file = createFile(path);
    if (file == nullptr)
        return nullptr;

    std::string head = "# krvw-capture: 1\n# program: ";
    head += kCaptureProgram;
    head += "\n# start: ";
    appendUtc(head, utc, false);
    head += "\n# model: ";
    if (const TracerModel* model = tracerModel(state.model); model != nullptr) {
        appendDecimal(head, static_cast<uint64_t>(state.model));
        head += ' ';
        head += model->tracerName;
    } else {
        head += "unknown";
    }
    head += serialPort ? "\n# port: " : "\n# peer: ";
    return std::unique_ptr<TracerCapture>(
        new TracerCapture(file, std::move(path), std::move(head), std::move(where)));
}

TracerCapture::TracerCapture(std::FILE* file, std::string path, std::string head, std::string where)
    : m_file(file), m_path(std::move(path)), m_head(std::move(head)), m_where(std::move(where)),
      m_startTick(activeClock().tickCount()) {}

TracerCapture::~TracerCapture() {
    // Dropped with neither end recorded: its owner went away and closed the
    // port or the socket with it (the window destroyed with connections open).
    if (!m_closed && !m_hungUp)
        closed();
    if (m_file != nullptr && std::fclose(m_file) != 0)
        reportFailure(m_path, errno);
}

void TracerCapture::lineSettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                                 uint8_t stopBits) {
    if (m_headerWritten)
        return;
    m_where += ' ';
    appendDecimal(m_where, baudRate);
    m_where += ' ';
    appendDecimal(m_where, byteSize);
    m_where += parity == kOddParity ? 'O' : (parity == kEvenParity ? 'E' : 'N');
    m_where += stopBits == kTwoStopBits ? '2' : '1';
    writeHeader();
}

void TracerCapture::fromDevice(const unsigned char* bytes, std::size_t count) {
    chunk('<', bytes, count);
}

void TracerCapture::toDevice(const unsigned char* bytes, std::size_t count) {
    chunk('>', bytes, count);
}

void TracerCapture::closed() {
    if (m_closed)
        return;
    m_closed = true;
    event("closed", 0, false);
}

void TracerCapture::hangUp() {
    if (m_hungUp)
        return;
    m_hungUp = true;
    event("hang-up", 0, false);
}

void TracerCapture::timeout(uint32_t waitedMs) {
    event("timeout ", waitedMs, true);
}

void TracerCapture::writeHeader() {
    m_headerWritten = true;
    m_text = m_head;
    m_text += m_where;
    m_text += "\n= 0 opened\n";
    append(true);
}

void TracerCapture::chunk(char direction, const unsigned char* bytes, std::size_t count) {
    if (m_file == nullptr || count == 0)
        return;
    if (!m_headerWritten)
        writeHeader();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string stamp(1, direction);
    stamp += ' ';
    appendDecimal(stamp, elapsedMs());
    m_text.clear();
    m_text.reserve((count + kBytesPerLine - 1) / kBytesPerLine * kMaxLineLength);
    for (std::size_t first = 0; first < count; first += kBytesPerLine) {
        const std::size_t size = count - first < kBytesPerLine ? count - first : kBytesPerLine;
        m_text += stamp;
        for (std::size_t i = first; i < first + size; ++i) {
            const uint8_t byte = readU8(bytes + i);
            m_text += ' ';
            m_text += kHex[byte >> 4];
            m_text += kHex[byte & 0x0Fu];
        }
        m_text += " |";
        for (std::size_t i = first; i < first + size; ++i) {
            const uint8_t byte = readU8(bytes + i);
            m_text += byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
        }
        m_text += "|\n";
    }
    append(false);
}

void TracerCapture::event(const char* text, uint32_t value, bool withValue) {
    if (m_file == nullptr)
        return;
    if (!m_headerWritten)
        writeHeader();
    m_text = "= ";
    appendDecimal(m_text, elapsedMs());
    m_text += ' ';
    m_text += text;
    if (withValue)
        appendDecimal(m_text, value);
    m_text += '\n';
    // Flushed, so that a crash leaves every event up to it in the file.
    append(true);
}

// One write of m_text to the file. A failure anywhere stops this capture and
// every other: the reading goes on without them.
void TracerCapture::append(bool flush) {
    if (m_file == nullptr)
        return;
    if (captureSwitch().failed) {
        static_cast<void>(std::fclose(m_file)); // captures have stopped: nothing to tell
        m_file = nullptr;
        return;
    }
    if (std::fwrite(m_text.data(), 1, m_text.size(), m_file) != m_text.size() ||
        (flush && std::fflush(m_file) != 0))
        fail();
}

void TracerCapture::fail() {
    reportFailure(m_path, errno);
    static_cast<void>(std::fclose(m_file)); // already reported
    m_file = nullptr;
}

uint32_t TracerCapture::elapsedMs() const {
    // Unsigned: right across a wrap of the tick count.
    return activeClock().tickCount() - m_startTick;
}

void setCaptureModel(int number) {
    captureSwitch().model = number;
}

void setCaptureFolder(const char* folder) {
    CaptureSwitch& state = captureSwitch();
    state.decided = true;
    state.folder = folder != nullptr ? folder : "";
    state.on = !state.folder.empty();
    state.failed = false;
    state.count = 0;
}

void setCaptureWallClockForTesting(std::time_t (*now)()) {
    captureSwitch().wallClock = now;
}
