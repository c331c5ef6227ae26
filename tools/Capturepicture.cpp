#include "Capturepicture.h"

#include "Commnavis.h"
#include "Frameimage.h"
#include "Irxserver.h"
#include "Serial.h"
#include "Serialtextdcs.h"
#include "Simcapture.h"
#include "Simout.h"
#include "Takubo.h"
#include "Tracermodels.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBaudRate = 9600;    // a pseudo-terminal keeps no pace: any rate the models use
constexpr int kHearMs = 10000;     // for bytes of the program's: longer than its own waits
constexpr int kTickMs = 50;        // between looks at the DCS port, as the timer's ticks
constexpr int kLastBytesMs = 1000; // the program's last reply may still be on its way

// A pseudo-terminal whose slave the program opens as its serial port, and the
// tracer's side of the capture played on its master from another thread: the
// device's chunks go out once the program has sent every byte the capture
// has before them, each byte the program sends is checked, a hang-up closes
// the master. The program's own events are not played.
class PlayedTracer {
public:
    explicit PlayedTracer(const sim::Capture& capture) : m_capture(capture) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[256] = {};
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
            ptsname_r(m_master, name, sizeof name) != 0)
            return;
        // Held open, and raw from the start, so that no byte is echoed or changed
        // before the program sets the line up.
        m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
            return;
        cfmakeraw(&tio);
        if (tcsetattr(m_slave, TCSANOW, &tio) == 0 && tcgetattr(m_master, &tio) == 0) {
            cfmakeraw(&tio);
            if (tcsetattr(m_master, TCSANOW, &tio) == 0)
                m_slavePath = name;
        }
    }
    ~PlayedTracer() {
        if (m_player.joinable())
            m_player.join();
        closeMaster();
        if (m_slave >= 0)
            close(m_slave);
    }
    PlayedTracer(const PlayedTracer&) = delete;
    PlayedTracer& operator=(const PlayedTracer&) = delete;

    // Empty when no pseudo-terminal could be made.
    const std::string& slavePath() const { return m_slavePath; }
    void start() {
        m_player = std::thread([this] { play(); });
    }
    bool done() const { return m_done; }
    // Once the program is done: empty, or the first difference from the capture.
    std::string finish() {
        if (m_player.joinable())
            m_player.join();
        return m_failure;
    }

private:
    void play() {
        for (const sim::CaptureItem& item : m_capture.items) {
            using Kind = sim::CaptureItem::Kind;
            const std::string at = "line " + std::to_string(item.line) + ": ";
            if (item.kind == Kind::Device && !send(item.bytes)) {
                m_failure = at + "the program no longer took the tracer's bytes";
            } else if (item.kind == Kind::Program) {
                const std::string heard = hear(item.bytes.size());
                if (heard != item.bytes)
                    m_failure = at + "the program sent " +
                                (heard.empty() ? std::string("nothing") : sim::hexText(heard)) +
                                ", the capture has " + sim::hexText(item.bytes);
            } else if (item.kind == Kind::Event && item.event == "hang-up") {
                closeMaster();
            }
            if (!m_failure.empty()) {
                closeMaster(); // the program's wait ends at once
                break;
            }
        }
        m_done = true;
    }
    bool send(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t put = write(m_master, bytes.data() + sent, bytes.size() - sent);
            if (put < 0 && errno != EINTR)
                return false;
            sent += put > 0 ? static_cast<std::size_t>(put) : 0;
        }
        return true;
    }
    std::string hear(std::size_t count) {
        std::string bytes;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHearMs);
        while (bytes.size() < count && m_master >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd entry{m_master, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0 ||
                (entry.revents & POLLIN) == 0)
                break;
            char chunk[4096];
            const ssize_t got = read(m_master, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got <= 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    void closeMaster() {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

    const sim::Capture& m_capture;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::thread m_player;
    std::atomic<bool> m_done{false};
    std::string m_failure;
};

// A reading run to its end on "Leitura" (LT980, Takubomatic), as the window runs it.
using SyncReading = int64_t (*)(struct_tracedata&, const char*, int, std::string&);

bool playSyncReading(const sim::Capture& capture, SyncReading reading,
                     std::vector<unsigned char>& bmp, std::string& reason) {
    PlayedTracer tracer(capture);
    if (tracer.slavePath().empty()) {
        reason = "no pseudo-terminal to play the tracer on";
        return false;
    }
    tracer.start();
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    std::string detail;
    const int64_t number = reading(*record, tracer.slavePath().c_str(), kBaudRate, detail);
    reason = tracer.finish();
    if (!reason.empty())
        return false;
    if (number != 0) {
        reason = "the reading failed with error " + std::to_string(number) + ": " + detail;
        return false;
    }
    if (!framePicture(*record, bmp)) {
        reason = "no memory for the picture";
        return false;
    }
    return true;
}

// The DCS tracers: the port looked at as the reading timer does, each record
// handled by the protocol; the picture of every tracing it hands over.
bool playDcs(const sim::Capture& capture, std::vector<unsigned char>& bmp, std::string& reason) {
    PlayedTracer tracer(capture);
    if (tracer.slavePath().empty()) {
        reason = "no pseudo-terminal to play the tracer on";
        return false;
    }
    CommPort port;
    std::string detail;
    if (const int64_t opened =
            StartTimedReading(port, tracer.slavePath().c_str(), kBaudRate, detail);
        opened != 0) {
        reason = "the port did not open (" + std::to_string(opened) + "): " + detail;
        return false;
    }
    DcsReceiveBuffer received;
    tracer.start(); // the tracer speaks first: only once the port is set up
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    DcsContext context{nullptr, {}, nullptr}; // the record is filled, nothing saved
    bool pictured = false;
    int quietMs = 0;
    for (;;) {
        uint32_t errors = 0;
        if (port.ClearError(errors) != 0)
            break; // the tracer hung up
        if (port.status.cbInQue > 0) {
            quietMs = 0;
            if (PollDcs(received, port, *record, context)) {
                if (!framePicture(*record, bmp)) {
                    reason = "no memory for the picture";
                    break;
                }
                pictured = true;
            }
            continue;
        }
        if (tracer.done() && (quietMs += kTickMs) > kLastBytesMs)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
    static_cast<void>(StopTimedReading(port, detail));
    const std::string failure = tracer.finish();
    if (!failure.empty())
        reason = failure;
    else if (reason.empty() && !pictured)
        reason = "it holds no tracing the program would save";
    return reason.empty();
}

// The networked tracers: the device's bytes, one whole message at a time, to
// the message handler, as the server takes them out of the connection's ring.
bool playNetwork(const sim::Capture& capture, std::vector<unsigned char>& bmp,
                 std::string& reason) {
    std::string stream;
    for (const sim::CaptureItem& item : capture.items)
        if (item.kind == sim::CaptureItem::Kind::Device)
            stream += item.bytes;
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    auto reply = std::make_unique<unsigned char[]>(kTamanhoBufferMensagem);
    bool pictured = false;
    for (std::size_t at = 0; stream.size() - at >= static_cast<std::size_t>(kTamanhoMoldura);) {
        // What the server closes the connection on ends the conversation here too.
        const int total = TamanhoDaMensagem(bytes + at);
        if (total < 0 || stream.size() - at < static_cast<std::size_t>(total))
            break;
        int replySize = 0;
        const int outcome = TratarMensagem(bytes + at, total, reply.get(), replySize, *record);
        at += static_cast<std::size_t>(total);
        if (outcome == kResultadoTracado) {
            if (!framePicture(*record, bmp)) {
                reason = "no memory for the picture";
                return false;
            }
            pictured = true;
        }
        if (outcome < 0)
            break;
    }
    if (!pictured)
        reason = "it holds no tracing the program would save";
    return pictured;
}

} // namespace

bool framePicture(struct_tracedata& record, std::vector<unsigned char>& bmp) {
    computeGeometry(record);
    bmp.resize(kFrameImageCapacity);
    int size = 0;
    if (renderFrameImage(record, bmp.data(), size) != 0)
        return false;
    bmp.resize(static_cast<std::size_t>(size));
    return true;
}

bool captureFramePicture(const std::string& path, std::vector<unsigned char>& bmp,
                         std::string& reason) {
    sim::Capture capture;
    if (!sim::loadCapture(path, capture, reason))
        return false;
    const TracerModel* model = tracerModel(capture.model);
    if (model == nullptr) {
        reason = "it names no tracer model";
        return false;
    }
    // Playing a capture is no session of a tracer's: none is captured again.
    unsetenv("KRVW_CAPTURE_DIR");
    switch (model->protocol) {
    case TracerProtocol::Lt980:
        return playSyncReading(capture, ReadLt980, bmp, reason);
    case TracerProtocol::Takubomatic:
        return playSyncReading(capture, ReadTakubomatic, bmp, reason);
    case TracerProtocol::Dcs:
        return playDcs(capture, bmp, reason);
    case TracerProtocol::Network:
        return playNetwork(capture, bmp, reason);
    }
    reason = "its tracer model has no protocol";
    return false;
}
