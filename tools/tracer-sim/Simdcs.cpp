#include "Simdcs.h"

#include "Simdcsrules.h"
#include "Simout.h"
#include "Simpacked.h"

#include <optional>
#include <random>
#include <vector>

namespace sim {

namespace {

// The program flushes both queues right after it configures the port.
constexpr int kSettleAfterConfigureMs = 300;
// Longer than the program's wait for a record to be continued (5 s) or for the
// ACK of its reply (6 s), so each of those waits runs out first.
constexpr int kOutwaitMs = 6500;
// Longer than the program's 500 ms tick plus its 200 ms settle, so that what
// was sent before is taken and thrown away on a tick of its own.
constexpr int kTickApartMs = 1500;
constexpr std::size_t kGarbageBytes = 200;
constexpr std::size_t kFloodBytes = 150000;
constexpr int kExtraReplyMs = 100; // bytes the program might send after its reply
constexpr std::size_t kSummaryLines = 6;
const char* const kDefaultJob = "00815";
constexpr std::size_t kJobNamesFileMin = 5; // the program names the file after such a job
constexpr std::size_t kJobNamesFileMax = 20;

std::string stripQuotes(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

std::string summary(const std::vector<std::string>& lines, std::size_t bytes) {
    std::string text;
    const std::size_t shown = lines.size() <= kSummaryLines ? lines.size() : 2;
    for (std::size_t i = 0; i < shown; ++i)
        text += (i == 0 ? "" : " ") + lines[i];
    if (shown < lines.size())
        text += " + " + decimal(static_cast<int64_t>(lines.size() - shown)) + " lines";
    return text + " (" + decimal(static_cast<int64_t>(bytes)) + " bytes)";
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The tracing's label lines with every list in packed binary: each TRCFMT
// (ZFMT) header names format 4, and the R (Z) lines after it become one line
// of the list's encoded bytes. False when a list cannot be encoded.
bool packedLines(const Frame& frame, std::vector<std::string>& out) {
    out.clear();
    for (std::size_t i = 0; i < frame.lines.size(); ++i) {
        const std::string& line = frame.lines[i];
        const bool radii = line.rfind("TRCFMT=", 0) == 0;
        if (!radii && line.rfind("ZFMT=", 0) != 0) {
            out.push_back(line);
            continue;
        }
        // format;count;angle mode;eye;type: the format becomes 4, the eye says whose list.
        const std::size_t equals = line.find('=');
        std::vector<std::string> fields;
        for (std::size_t at = equals; at != std::string::npos;) {
            const std::size_t next = line.find(';', at + 1);
            fields.push_back(line.substr(at + 1, next == std::string::npos ? next : next - at - 1));
            at = next;
        }
        if (fields.size() < 4 || (trimmed(fields[3]) != "R" && trimmed(fields[3]) != "L"))
            return false;
        const EyeTrace& eye = frame.eye[trimmed(fields[3]) == "R" ? kRight : kLeft];
        std::string bytes;
        if (!encodePacked(radii ? eye.radii : eye.z, bytes))
            return false;
        std::string header = line.substr(0, equals + 1) + "4";
        for (std::size_t f = 1; f < fields.size(); ++f)
            header += ";" + fields[f];
        const char* continuation = radii ? "R=" : "Z=";
        out.push_back(header);
        out.push_back(continuation + bytes);
        while (i + 1 < frame.lines.size() && frame.lines[i + 1].rfind(continuation, 0) == 0)
            ++i;
    }
    return true;
}

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : " ") + line;
    return text;
}

class DcsTracer {
public:
    DcsTracer(SimLine& line, const Options& options, const Frame& frame)
        : m_line(line), m_options(options), m_frame(frame), m_random(std::random_device{}()) {}

    Outcome run();

private:
    Outcome stayingSilent();
    bool waitForProgram(int reading);
    std::optional<Outcome> reading(int number);
    std::optional<Outcome> agreeFormat();
    std::optional<Outcome> exchange(const std::vector<std::string>& lines, bool tracing,
                                    std::vector<std::string>& reply);
    std::optional<Outcome> sendRecord(const std::vector<std::string>& lines, bool tracing);
    std::optional<Outcome> answerReply();
    std::optional<Outcome> sendNoise(std::size_t count, const char* what);
    std::string jobLabel(int reading) const;
    std::string ownFormat() const {
        return decimal(m_options.format) + ";" + decimal(m_frame.pointCount()) + ";E;B";
    }
    // A silence that lets one of the program's waits run out; a replay of the
    // recording keeps it, also unpaced.
    void outwait(int ms) {
        sleepMs(ms);
        m_line.noteTimeout(ms);
    }

    SimLine& m_line;
    const Options& m_options;
    const Frame& m_frame;
    std::mt19937 m_random;
    bool m_firstRecord = true;
    int64_t m_startMs = 0;
    int64_t m_endMs = 0;
};

Outcome DcsTracer::run() {
    if (m_options.fault == "silent")
        return stayingSilent();
    const std::string firstJob = stripQuotes(jobLabel(1));
    if (firstJob.size() < kJobNamesFileMin || firstJob.size() > kJobNamesFileMax)
        complain("note: the job \"" + firstJob + "\" is not 5 to 20 characters long: the " +
                 "program does not name the reading file after it");
    for (int number = 1; number <= m_options.count; ++number) {
        if (number > 1)
            sleepMs(m_options.intervalMs);
        if (!waitForProgram(number))
            return failed("the program did not configure the port within " +
                          decimal(m_options.waitMs) + " ms");
        m_line.resetCounters();
        m_startMs = 0;
        if (auto end = reading(number)) {
            if (m_startMs != 0)
                reportStats(m_line, m_startMs, nowMs());
            return *end;
        }
        reportStats(m_line, m_startMs, m_endMs);
    }
    // The last ACK must reach the program before the line goes with the simulator.
    m_line.waitDrained(kLaterStepMs);
    // A fault run that went as asked says which fault, as every fault run does.
    return succeeded(m_options.fault == "none" ? "readings=" + decimal(m_options.count)
                                               : "fault=" + m_options.fault);
}

Outcome DcsTracer::stayingSilent() {
    say("FAULT silent: sending nothing for " + decimal(m_options.waitMs) + " ms");
    const int64_t deadline = nowMs() + m_options.waitMs;
    std::string got;
    for (int64_t left = deadline - nowMs(); left > 0; left = deadline - nowMs()) {
        if (m_line.readAny(got, static_cast<int>(left)) == Io::Gone)
            return failed(m_line.error());
    }
    if (!got.empty())
        say("GOT " + readable(got) + " while silent");
    else
        m_line.noteTimeout(m_options.waitMs);
    return succeeded("fault=silent");
}

// The program is ready when it has configured the port (raw mode). It may have
// closed the port since the last reading (model 4 reads only between "Leitura"
// and "Parar"): then the port is marked unconfigured again so that its next
// open shows.
bool DcsTracer::waitForProgram(int reading) {
    if (reading > 1 && m_line.otherOpeners() == 0) {
        m_line.markUnconfigured();
        say("the program has closed the port");
    }
    if (m_line.programConfigured())
        return true;
    say("waiting for the program to open the port");
    if (!m_line.waitProgramConfigured(m_options.waitMs))
        return false;
    say("the program has configured the port");
    sleepMs(kSettleAfterConfigureMs);
    return true;
}

std::string DcsTracer::jobLabel(int reading) const {
    const std::string base = m_options.jobGiven ? stripQuotes(m_options.job)
                             : m_frame.hasJob   ? m_frame.job
                                                : std::string(kDefaultJob);
    // Quoted as in the file; the built-in frame and files without JOB quote.
    const bool quoted = (m_frame.hasJob ? m_frame.jobQuoted : true) ||
                        (m_options.jobGiven && stripQuotes(m_options.job) != m_options.job);
    const std::string job = nextJob(base, reading - 1);
    return job.empty() || !quoted ? job : "\"" + job + "\"";
}

std::optional<Outcome> DcsTracer::reading(int number) {
    const std::string job = "JOB=" + jobLabel(number);
    std::vector<std::string> reply;
    if (auto end = exchange({"REQ=INI"}, false, reply))
        return end;
    std::string word = "TRC";
    if (m_options.dialect == "trc") {
        if (auto end = agreeFormat())
            return end;
    } else if (m_options.dialect == "1234") {
        word = "1234";
        if (auto end = exchange({"REQ=1234", job}, false, reply))
            return end;
    } else {
        word = "1";
        if (auto end =
                exchange({"REQ=1", job, "TRCFMT=1;1000;E;B", "ZFMT=1;1000;E;B"}, false, reply))
            return end;
    }
    std::vector<std::string> tracing = {"ANS=" + word, job};
    std::vector<std::string> lines = m_frame.lines;
    if (m_options.format == 4 && !packedLines(m_frame, lines))
        return failed("the tracing cannot be sent in packed binary");
    tracing.insert(tracing.end(), lines.begin(), lines.end());
    return exchange(tracing, true, reply);
}

// Offers the frame's own format and, to show that the program's table decides
// and not the order of the offers, 400 points before it. A frame whose count
// is not in the program's table is offered alone: the program would pick 400
// points, which the simulator cannot send.
std::optional<Outcome> DcsTracer::agreeFormat() {
    const std::string own = ownFormat();
    std::string chosen;
    std::string unusedZ;
    const bool inTable = chooseTraceFormat({own}, {}, chosen, unusedZ) == 0;
    std::vector<std::string> offers = {decimal(m_options.format) + ";400;E;B", own};
    if (!inTable || own == offers[0])
        offers.erase(offers.begin());
    std::vector<std::string> record = {"REQ=TRC"};
    for (const std::string& offer : offers)
        record.push_back("TRCFMT=" + offer);
    if (m_frame.hasZ())
        for (const std::string& offer : offers)
            record.push_back("ZFMT=" + offer);
    std::vector<std::string> reply;
    if (auto end = exchange(record, false, reply))
        return end;
    const bool accepted = reply.size() >= 4 && reply[1] == "STATUS=0" &&
                          reply[3] == "TRCFMT=" + own &&
                          (!m_frame.hasZ() || (reply.size() >= 5 && reply[4] == "ZFMT=" + own));
    if (!accepted)
        return failed("format not accepted");
    return std::nullopt;
}

std::optional<Outcome> DcsTracer::exchange(const std::vector<std::string>& lines, bool tracing,
                                           std::vector<std::string>& reply) {
    if (auto end = sendRecord(lines, tracing))
        return end;
    if (!expectedReplyLines(lines, reply))
        return failed("the program answers no record of " + lines[0]); // not sent by this tracer
    uint16_t crc = 0;
    const std::string message = replyMessage(reply, crc);
    Outcome end;
    if (!expectBytes(m_line, message, "reply to " + lines[0], kLaterStepMs, end))
        return end;
    std::string extra;
    if (m_line.readAny(extra, kExtraReplyMs) == Io::Ok) {
        dumpHex("expected reply to " + lines[0], message);
        dumpHex("received", message + extra);
        return failed("the reply to " + lines[0] + " is longer than expected");
    }
    say("GOT " + joinedLines(reply) + " (reply exact, CRC " + decimal(crc) + " ok)");
    return answerReply();
}

std::optional<Outcome> DcsTracer::sendRecord(const std::vector<std::string>& lines, bool tracing) {
    const std::string record = tracerRecord(lines);
    const std::string& fault = m_options.fault;
    if (fault == "garbage" || (fault == "flood" && m_firstRecord)) {
        if (auto end = sendNoise(fault == "flood" ? kFloodBytes : kGarbageBytes, fault.c_str()))
            return end;
    }
    if (fault == "garbage") {
        const std::string broken = std::string(1, kFs) + "REQ=INI\r\n" + kFs + "junk" + kGs;
        Outcome end;
        if (!sendBytes(m_line, broken, end))
            return end;
        say("SENT a broken record " + readable(broken));
        m_line.waitDrained(kLaterStepMs);
        outwait(kTickApartMs);
    }
    if (m_startMs == 0)
        m_startMs = nowMs(); // the reading's first byte: that of its REQ=INI
    Outcome end;
    const bool cut = (fault == "half" && m_firstRecord) || (fault == "stop" && tracing);
    m_firstRecord = false;
    if (cut) {
        const std::size_t half = record.size() / 2;
        if (!sendBytes(m_line, record.substr(0, half), end))
            return end;
        say("SENT the first " + decimal(static_cast<int64_t>(half)) + " bytes of " +
            summary(lines, record.size()));
        if (fault == "stop") {
            pullPlug(m_line);
            return succeeded("fault=stop");
        }
        m_line.waitDrained(kLaterStepMs);
        outwait(kOutwaitMs);
    }
    if (!sendBytes(m_line, record, end))
        return end;
    say("SENT " + summary(lines, record.size()));
    return std::nullopt;
}

std::optional<Outcome> DcsTracer::answerReply() {
    Outcome end;
    m_endMs = nowMs();
    if (m_options.fault == "no-ack") {
        say("kept the ACK back");
        outwait(kOutwaitMs);
        return std::nullopt;
    }
    const bool nak = m_options.fault == "nak";
    if (!sendBytes(m_line, std::string(1, nak ? kNakByte : kAckByte), end))
        return end;
    m_endMs = nowMs();
    say(nak ? "SENT NAK" : "SENT ACK");
    return std::nullopt;
}

// Random bytes with no FS, GS or ACK in them, so that the program can only
// throw them away, then a pause so it does that on ticks of their own.
std::optional<Outcome> DcsTracer::sendNoise(std::size_t count, const char* what) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string noise;
    while (noise.size() < count) {
        const char c = static_cast<char>(byte(m_random));
        if (c != kFs && c != kGs && c != kAckByte)
            noise += c;
    }
    Outcome end;
    if (!sendBytes(m_line, noise, end))
        return end;
    say("SENT " + decimal(static_cast<int64_t>(count)) + " bytes of " + what);
    m_line.waitDrained(kLaterStepMs);
    outwait(kTickApartMs);
    return std::nullopt;
}

bool numeric(const std::string& text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

std::string nextJob(std::string job, int step) {
    if (!numeric(job))
        return job;
    int carry = step;
    for (std::size_t i = job.size(); i-- > 0 && carry != 0;) {
        const int digit = (job[i] - '0') + carry;
        job[i] = static_cast<char>('0' + digit % 10);
        carry = digit / 10;
    }
    return carry != 0 ? decimal(carry) + job : job;
}

Outcome runDcs(SimLine& line, const Options& options, const Frame& frame) {
    DcsTracer tracer(line, options, frame);
    return tracer.run();
}

} // namespace sim
