#include "Simnetrun.h"

#include "Simdcs.h"
#include "Simnet.h"
#include "Simout.h"

#include <random>
#include <time.h>
#include <vector>

namespace sim {

namespace {

// Word A of the k-th message sent on the connection is 0x0100 + k, word B
// 0x2000 + k (both kept to 16 bits): every reply names the message it answers.
constexpr uint16_t kWordABase = 0x0100;
constexpr uint16_t kWordBBase = 0x2000;
constexpr int kReplyMs = kLaterStepMs;
// The program closes a connection it gives up on right after it has looked at
// the bytes (and its message about it, when one is shown, has been answered).
constexpr int kCloseMs = 5000;
constexpr int kPieceGapMs = 50;
constexpr int kLeftoverMs = 100; // bytes following a wrong reply, for the dump
constexpr int kHalfGapMs = 100;  // lets the half Job data arrive before the close
constexpr std::size_t kGarbageBytes = 10 * 1024 * 1024;
constexpr std::size_t kGarbageWrite = 64 * 1024;
constexpr uint32_t kGarbageSeed = 20240611; // the same noise on every run
// Beyond the program's 10,000-byte message buffer, and negative when read as i16.
constexpr uint16_t kOversizedLength = 20000;
constexpr uint16_t kNegativeLength = 0x8001;
// After a bad header: enough bytes for the program to look at it (12 at least).
constexpr std::size_t kAfterBadHeader = 12;
constexpr std::size_t kBadExtendedTotal = 2100; // above 2092: blocks must follow the fixed part
constexpr std::size_t kJobRequestPayload = 16;
constexpr char kBadLead = 0x41;
const char* const kDefaultJob = "00815";

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string hex4(uint16_t value) {
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(value >> shift) & 0x0Fu];
    return text;
}

std::string wordsText(Words words) {
    return "words " + hex4(words.a) + " " + hex4(words.b);
}

std::size_t firstDifference(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return at;
}

class NetTracer {
public:
    NetTracer(const Options& options, const Frame& frame, const NetJob& job)
        : m_options(options), m_frame(frame), m_job(job) {}

    Outcome run();

private:
    Words nextWords();
    bool writeOut(const std::string& bytes, const std::string& what, bool inPieces,
                  Outcome& failure);
    bool expect(const std::string& expected, const std::string& what, Outcome& failure);
    bool request(unsigned char type, const std::string& payload, Outcome& failure);
    bool sendJob(const std::string& job, Outcome& failure);
    bool askJob(Outcome& failure);
    void jobSent(const std::string& job);
    Outcome readings();
    Outcome fault();
    Outcome faultInJob();
    Outcome expectClosed(const std::string& after);
    Outcome garbage();
    Outcome silent();
    void stats(int64_t startMs) const;

    const Options& m_options;
    const Frame& m_frame;
    const NetJob& m_job;
    NetLink m_link;
    uint16_t m_count = 0; // messages sent on this connection
};

Words NetTracer::nextWords() {
    const Words words{static_cast<uint16_t>(kWordABase + m_count),
                      static_cast<uint16_t>(kWordBBase + m_count)};
    ++m_count;
    return words;
}

// Sends `bytes`: in one write, or in the pieces asked for, 50 ms apart.
bool NetTracer::writeOut(const std::string& bytes, const std::string& what, bool inPieces,
                         Outcome& failure) {
    std::size_t done = 0;
    Net io = Net::Ok;
    const std::vector<std::size_t> none;
    for (const std::size_t piece : inPieces ? m_options.pieces : none) {
        if (done >= bytes.size() || io != Net::Ok)
            break;
        const std::size_t size = piece < bytes.size() - done ? piece : bytes.size() - done;
        io = m_link.write(bytes.substr(done, size), kLaterStepMs);
        if (io == Net::Ok) {
            say("SENT " + decimal(static_cast<int64_t>(size)) + " bytes of the " + what);
            done += size;
            sleepMs(kPieceGapMs);
        }
    }
    if (io == Net::Ok && done < bytes.size())
        io = m_link.write(bytes.substr(done), kLaterStepMs);
    if (io == Net::Ok)
        return true;
    failure = failed(io == Net::Closed
                         ? "the program closed the connection while the " + what + " was being sent"
                         : m_link.error() + " while sending the " + what);
    return false;
}

// Reads as many bytes as `expected` holds and compares them byte for byte.
bool NetTracer::expect(const std::string& expected, const std::string& what, Outcome& failure) {
    std::string got;
    const Net io = m_link.readExact(expected.size(), got, kReplyMs);
    if (io == Net::Ok && got == expected)
        return true;
    const std::string count = decimal(static_cast<int64_t>(got.size())) + " of " +
                              decimal(static_cast<int64_t>(expected.size())) + " bytes";
    if (io == Net::Ok) {
        m_link.readAny(got, kLeftoverMs); // what follows belongs in the dump
        failure = failed("wrong " + what + ": it differs from byte " +
                         decimal(static_cast<int64_t>(firstDifference(got, expected))));
    } else if (io == Net::Closed) {
        failure = failed("the program closed the connection while the " + what + " was due (" +
                         count + " came)");
    } else if (io == Net::Timeout) {
        failure = failed(got.empty() ? "no " + what + " within " + decimal(kReplyMs) + " ms"
                                     : what + " incomplete: " + count);
    } else {
        failure = failed(m_link.error() + " while waiting for the " + what);
    }
    if (!got.empty() || io == Net::Ok) {
        dumpHex("expected " + what, expected);
        dumpHex("received", got);
    }
    return false;
}

// One message of ours and the program's reply to it.
bool NetTracer::request(unsigned char type, const std::string& payload, Outcome& failure) {
    const Words words = nextWords();
    const std::string name = messageName(type);
    if (!writeOut(message(type, words, payload), name, false, failure))
        return false;
    say("SENT " + name + " (" + wordsText(words) + ")");
    const std::string reply = type == kEndRequest ? "End request reply" : "Accept";
    if (!expect(expectedReply(type, words), reply + " to the " + name, failure))
        return false;
    say("GOT " + reply);
    return true;
}

void NetTracer::jobSent(const std::string& job) {
    const int64_t at = monotonicNs();
    if (m_options.jobTimes)
        sayAlways("JOBSENT " + job + " " + decimal(at));
}

// Job identification and Job data, each answered by an Accept; with --pair
// both go out in one write and both Accepts are read after it.
bool NetTracer::sendJob(const std::string& job, Outcome& failure) {
    const std::string data = m_job.payload();
    if (!m_options.pair) {
        if (!request(kJobIdentification, jobIdentification(job), failure))
            return false;
        const Words words = nextWords();
        if (!writeOut(message(kJobData, words, data), "Job data", true, failure))
            return false;
        jobSent(job);
        say("SENT Job data for job " + job + " (" + wordsText(words) + ", " +
            decimal(static_cast<int64_t>(data.size() + kMessageFramingBytes)) + " bytes)");
        if (!expect(expectedReply(kJobData, words), "Accept to the Job data", failure))
            return false;
        say("GOT Accept");
        return true;
    }
    const Words identWords = nextWords();
    const Words dataWords = nextWords();
    const std::string both = message(kJobIdentification, identWords, jobIdentification(job)) +
                             message(kJobData, dataWords, data);
    if (!writeOut(both, "Job identification and Job data", false, failure))
        return false;
    jobSent(job);
    say("SENT Job identification and Job data for job " + job + " in one write (" +
        decimal(static_cast<int64_t>(both.size())) + " bytes)");
    if (!expect(expectedReply(kJobIdentification, identWords), "Accept to the Job identification",
                failure) ||
        !expect(expectedReply(kJobData, dataWords), "Accept to the Job data", failure))
        return false;
    say("GOT both Accepts");
    return true;
}

// A Job request: the Accept, then the job the program holds, which must be
// the fixed part just sent as its relay store writes it back.
bool NetTracer::askJob(Outcome& failure) {
    const Words words = nextWords();
    if (!writeOut(message(kJobRequest, words, std::string(kJobRequestPayload, '\0')), "Job request",
                  false, failure))
        return false;
    say("SENT Job request (" + wordsText(words) + ")");
    if (!expect(expectedReply(kJobRequest, words), "Accept to the Job request", failure))
        return false;
    const std::string job =
        message(kJobData, Words{words.b, words.a}, relayedFixedPart(m_job.fixed));
    if (!expect(job, "Job data sent back", failure))
        return false;
    say("GOT Accept and the job back (" + decimal(static_cast<int64_t>(job.size())) + " bytes)");
    return true;
}

void NetTracer::stats(int64_t startMs) const {
    const int64_t endMs = nowMs();
    sayAlways("STATS sent=" + decimal(static_cast<int64_t>(m_link.sent())) +
              " received=" + decimal(static_cast<int64_t>(m_link.received())) +
              " elapsed_ms=" + decimal(endMs >= startMs ? endMs - startMs : 0));
}

Outcome NetTracer::readings() {
    Outcome failure;
    for (int reading = 1; reading <= m_options.count; ++reading) {
        m_link.resetCounters();
        const int64_t startMs = nowMs();
        const bool done = (reading > 1 || request(kStartRequest, std::string(), failure)) &&
                          sendJob(netJobText(m_options, m_frame, reading), failure) &&
                          (!m_options.askJob || askJob(failure));
        if (m_link.sent() + m_link.received() > 0)
            stats(startMs);
        if (!done)
            return failure;
    }
    if (m_options.hangUp) {
        m_link.close();
        say("HUNG UP after the last Accept");
        return succeeded("readings=" + decimal(m_options.count));
    }
    if (!request(kEndRequest, std::string(), failure))
        return failure;
    m_link.close();
    say("CLOSED the connection");
    return succeeded("readings=" + decimal(m_options.count));
}

// The program must close the connection without answering (with --hang-up
// the tracer does not wait for that: it closes its side at once).
Outcome NetTracer::expectClosed(const std::string& after) {
    if (m_options.hangUp) {
        m_link.close();
        say("HUNG UP after " + after);
        return succeeded("fault=" + m_options.fault);
    }
    say("SENT " + after + ": waiting for the program to close the connection");
    std::string got;
    const Net io = m_link.waitClosed(kCloseMs, got);
    if (!got.empty()) {
        dumpHex("received after " + after, got);
        return failed("the program answered " + after + " with " +
                      decimal(static_cast<int64_t>(got.size())) +
                      " bytes instead of closing the connection");
    }
    if (io == Net::Timeout)
        return failed("the program did not close the connection within " + decimal(kCloseMs) +
                      " ms after " + after);
    if (io == Net::Failed)
        return failed(m_link.error());
    say("the program has closed the connection");
    return succeeded("fault=" + m_options.fault);
}

// 10 MB of noise in 64 KB writes; a program that closes the connection on
// the way has done right, and so has one that takes it all.
Outcome NetTracer::garbage() {
    std::mt19937 random(kGarbageSeed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string chunk(kGarbageWrite, '\0');
    std::size_t sent = 0;
    while (sent < kGarbageBytes) {
        for (char& c : chunk)
            c = static_cast<char>(byte(random));
        const Net io = m_link.write(chunk, kLaterStepMs);
        if (io == Net::Closed) {
            say("the program closed the connection after " + decimal(static_cast<int64_t>(sent)) +
                " bytes of garbage");
            return succeeded("fault=garbage");
        }
        if (io != Net::Ok)
            return failed(m_link.error() + " after " + decimal(static_cast<int64_t>(sent)) +
                          " bytes of garbage");
        sent += chunk.size();
    }
    say("SENT " + decimal(static_cast<int64_t>(sent)) + " bytes of garbage");
    m_link.close();
    return succeeded("fault=garbage");
}

// Connected and silent: the program, which never speaks first, must neither
// send anything nor drop the connection.
Outcome NetTracer::silent() {
    say("SILENT for " + decimal(m_options.waitMs) + " ms");
    std::string got;
    const Net io = m_link.waitClosed(m_options.waitMs, got);
    if (!got.empty()) {
        dumpHex("received from the program", got);
        return failed("the program sent " + decimal(static_cast<int64_t>(got.size())) +
                      " bytes to a tracer that said nothing");
    }
    if (io == Net::Closed)
        return failed("the program closed the connection of a tracer that said nothing");
    if (io == Net::Failed)
        return failed(m_link.error());
    m_link.close();
    say("CLOSED the connection");
    return succeeded("fault=silent");
}

Outcome NetTracer::fault() {
    const std::string& fault = m_options.fault;
    if (fault == "garbage")
        return garbage();
    if (fault == "silent")
        return silent();
    Outcome failure;
    if (fault == "bad-lead") {
        std::string bytes = message(kStartRequest, nextWords(), std::string());
        bytes[0] = kBadLead;
        return writeOut(bytes, "message", false, failure) ? expectClosed("a lead byte 0x41")
                                                          : failure;
    }
    if (fault == "oversized" || fault == "negative-length") {
        const uint16_t length = fault == "oversized" ? kOversizedLength : kNegativeLength;
        const std::string bytes = messageHeader(kLeadRequest, kJobData, nextWords(), length) +
                                  std::string(kAfterBadHeader, '\0');
        const std::string what =
            fault == "oversized"
                ? "a Job data header announcing " + decimal(length) + " bytes"
                : "a Job data header whose length 0x" + hex4(length) + " reads negative";
        return writeOut(bytes, "header", false, failure) ? expectClosed(what) : failure;
    }
    if (!request(kStartRequest, std::string(), failure))
        return failure;
    if (fault == "connection-ended" || fault == "error") {
        const unsigned char type = fault == "error" ? kErrorMessage : kConnectionEnded;
        const std::string payload = fault == "error" ? std::string{'\x01', '\0'} : std::string();
        return writeOut(message(type, nextWords(), payload), messageName(type), false, failure)
                   ? expectClosed((type == kErrorMessage ? "an " : "a ") + messageName(type) +
                                  " message")
                   : failure;
    }
    return faultInJob();
}

// The faults that come after the job is named: a Job data that is wrong, or cut.
Outcome NetTracer::faultInJob() {
    Outcome failure;
    if (!request(kJobIdentification, jobIdentification(netJobText(m_options, m_frame, 1)), failure))
        return failure;
    if (m_options.fault == "bad-extended") {
        std::string payload = m_job.fixed;
        payload.resize(kBadExtendedTotal - kMessageFramingBytes, '\0');
        return writeOut(message(kJobData, nextWords(), payload), "Job data", false, failure)
                   ? expectClosed("a 2100-byte Job data without \"EXTENDED\" after its fixed part")
                   : failure;
    }
    const std::string data = message(kJobData, nextWords(), m_job.payload()); // disconnect-mid
    if (!writeOut(data.substr(0, data.size() / 2), "Job data", false, failure))
        return failure;
    say("SENT " + decimal(static_cast<int64_t>(data.size() / 2)) + " of " +
        decimal(static_cast<int64_t>(data.size())) + " bytes of a Job data");
    sleepMs(kHalfGapMs);
    m_link.close();
    say("CLOSED the connection");
    return succeeded("fault=disconnect-mid");
}

Outcome NetTracer::run() {
    std::string error;
    if (!m_link.connect(m_options.host, m_options.port, m_options.waitMs, error))
        return failed(error);
    sayAlways("CONNECTED " + m_options.host + ":" + decimal(m_options.port));
    say("PLAYING model 1 (NIDEK LT1000/LT1200/ICE, network), " +
        (m_options.labels.empty() ? std::string("built-in frame") : m_options.labels) + ", " +
        decimal(m_frame.pointCount()) + " points, Job data of " +
        decimal(static_cast<int64_t>(m_job.payload().size() + kMessageFramingBytes)) + " bytes" +
        (m_options.fault == "none" ? std::string() : ", fault " + m_options.fault));
    if (m_options.fault == "none")
        return readings();
    const int64_t startMs = nowMs();
    Outcome outcome = fault();
    if (m_link.sent() + m_link.received() > 0)
        stats(startMs);
    return outcome;
}

} // namespace

std::string netJobText(const Options& options, const Frame& frame, int reading) {
    const std::string base = options.jobGiven ? options.job
                             : frame.hasJob   ? frame.job
                                              : std::string(kDefaultJob);
    return nextJob(base, reading - 1);
}

Outcome runNetwork(const Options& options, const Frame& frame, const NetJob& job) {
    NetTracer tracer(options, frame, job);
    return tracer.run();
}

} // namespace sim
