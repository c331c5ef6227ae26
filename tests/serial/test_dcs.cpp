// The VCA DCS label protocol against a tracer played on a real pseudo-terminal,
// with the test clock: the 200 ms settle, the 50 ms polls for the tracer's ACK
// and the 5 s age of a partial record take no real time.
#include "Checksum.h"
#include "Readingfile.h"
#include "Serial.h"
#include "Serialtextdcs.h"

#include "capturedtracer.h"
#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPollsIn6s = 6000 / 50; // SendAndConfirm's wait for a silent tracer
constexpr int kSettleMs = 5;          // real time the tracer gives the program's bytes to cross
const std::string kAckByte(1, static_cast<char>(kAck));
const std::string kNakByte(1, static_cast<char>(kNak));
const std::string kFs(1, '\x1c');
const std::string kGs(1, '\x1d');
const std::string kRs(1, '\x1e');

// CRC-16/XMODEM as a polynomial division, one message bit at a time: a
// formulation of its own, so a fault in ComputeCrc16 cannot hide in both.
uint16_t referenceCrc(const std::string& text) {
    uint32_t remainder = 0;
    for (unsigned char byte : text) {
        for (int bit = 7; bit >= 0; --bit) {
            const uint32_t in = (byte >> bit) & 1u;
            const uint32_t out = (remainder >> 15) & 1u;
            remainder = (remainder << 1) & 0xFFFFu;
            if ((in ^ out) != 0)
                remainder ^= 0x1021u;
        }
    }
    return static_cast<uint16_t>(remainder);
}

// The label lines of a reply, each with CR LF, then RS.
std::string replyText(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text + kRs;
}

// A reply as it goes on the wire.
std::string framed(const std::string& text) {
    return kAckByte + kFs + text + "CRC=" + std::to_string(referenceCrc(text)) + "\r\n" + kGs;
}

std::string record(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

TEST(Crc16, XmodemValues) {
    const auto* digits = reinterpret_cast<const unsigned char*>("123456789");
    EXPECT_EQ(ComputeCrc16(9, 0, digits), 0x31C3);
    // The register carries over: the digits in two pieces give the same value.
    EXPECT_EQ(ComputeCrc16(5, ComputeCrc16(4, 0, digits), digits + 4), 0x31C3);
    EXPECT_EQ(ComputeCrc16(0, 0xBEEF, digits), 0xBEEF);
    EXPECT_EQ(ComputeCrc16(-3, 0x1234, digits), 0x1234);
    EXPECT_EQ(referenceCrc("123456789"), 0x31C3); // the reference itself is right

    const std::string ini = replyText({"ANS=INI", "STATUS=0"});
    const auto* iniBytes = reinterpret_cast<const unsigned char*>(ini.data());
    EXPECT_EQ(ComputeCrc16(static_cast<int>(ini.size()), 0, iniBytes), referenceCrc(ini));
    EXPECT_EQ(referenceCrc(ini), 0xE136);
    const std::string high = "\xff\x80\x01\x1e\x00\x7f" + std::string(300, '\xa5');
    EXPECT_EQ(ComputeCrc16(static_cast<int>(high.size()), 0,
                           reinterpret_cast<const unsigned char*>(high.data())),
              referenceCrc(high));
}

TEST(ChooseTraceFormat, TableOrderDecides) {
    std::string trace = "stale";
    std::string z = "stale";
    const char offers[][kDcsOfferSize] = {"1;400;E;B", "1;360;E;B", "1;1440;E;B"};
    EXPECT_EQ(ChooseTraceFormat(offers, 3, offers, 0, trace, z), 0);
    EXPECT_EQ(trace, "1;1440;E;B");
    EXPECT_EQ(z, "");
    EXPECT_EQ(ChooseTraceFormat(offers, 2, offers, 0, trace, z), 0); // without the 1440
    EXPECT_EQ(trace, "1;400;E;B");

    const char zInTraceFormat[][kDcsOfferSize] = {"1;1000;E;B", "1;1440;E;B"};
    EXPECT_EQ(ChooseTraceFormat(offers, 3, zInTraceFormat, 2, trace, z), 0);
    EXPECT_EQ(z, "1;1440;E;B"); // the trace's own format beats row 0
    const char zByTable[][kDcsOfferSize] = {"1;400;E;B", "1;512;E;B", "9;9"};
    EXPECT_EQ(ChooseTraceFormat(offers, 3, zByTable, 3, trace, z), 0);
    EXPECT_EQ(z, "1;512;E;B");
}

TEST(ChooseTraceFormat, Failures) {
    std::string trace = "stale";
    std::string z = "stale";
    const char none[][kDcsOfferSize] = {"1;1000;E;R;F", "1;1000;e;b", " 1;1000;E;B", "1;1000;E;B "};
    EXPECT_EQ(ChooseTraceFormat(none, 4, none, 0, trace, z), 1); // whole texts, case kept
    EXPECT_EQ(trace, "");
    EXPECT_EQ(z, "");
    const char good[][kDcsOfferSize] = {"1;800;E;B"};
    EXPECT_EQ(ChooseTraceFormat(good, 0, good, 1, trace, z), 1); // no trace offer
    EXPECT_EQ(ChooseTraceFormat(good, 1, none, 4, trace, z), 1); // no usable Z offer
    EXPECT_EQ(trace, "1;800;E;B");
    EXPECT_EQ(z, "");

    // 50 characters without a terminator, and counts beyond the 50 offers a
    // record holds: nothing past the arrays is read (AddressSanitizer watches).
    char full[kDcsMaxOffers][kDcsOfferSize];
    std::memset(full, 'x', sizeof full);
    std::memcpy(full[kDcsMaxOffers - 1], "1;512;E;B", 10);
    EXPECT_EQ(ChooseTraceFormat(full, 60, full, 60, trace, z), 0);
    EXPECT_EQ(trace, "1;512;E;B");
    EXPECT_EQ(z, "1;512;E;B");
}

// A record's labels in; the reply's text before framing (empty: none) and
// whether a tracing is saved out. No port: the decision uses none.
struct ReplyRow {
    std::string labels;
    std::string reply;
    bool tracing = false;
    TraceFormatOrder order = TraceFormatOrder::DecimalFirst;
};

void expectReplies(std::initializer_list<ReplyRow> rows) {
    auto labels = std::make_unique<DcsLabels>();
    for (const ReplyRow& row : rows) {
        SCOPED_TRACE(row.labels);
        ReadDcsLabels(row.labels.c_str(), *labels);
        const DcsReply reply = DecideDcsReply(*labels, row.order);
        EXPECT_EQ(reply.text, row.reply);
        EXPECT_EQ(reply.carriesTracing, row.tracing);
    }
}

// `junk` offers of `label`, then `good`, then `more`.
std::string offers(const char* label, int junk, const std::string& good, int more) {
    std::string text;
    for (int k = 0; k < junk; ++k)
        text += std::string(label) + "=9;" + std::to_string(k) + ";E;B\r\n";
    text += std::string(label) + "=" + good + "\r\n";
    for (int k = 0; k < more; ++k)
        text += std::string(label) + "=8;" + std::to_string(k) + ";E;B\r\n";
    return text;
}

TEST(DcsReply, RuleTable) {
    expectReplies({
        {record({"REQ=INI", "ANS=TRC", "JOB=ABCDE"}), replyText({"ANS=INI", "STATUS=0"})},
        {record({"REQ=1", "JOB=J77", "TRCFMT=1;400;E;B", "ZFMT=1;400;E;B"}),
         replyText({"ANS=1", "JOB=J77", "STATUS=0", "TRCFMT=1;1000;E;B", "ZFMT=1;1000;E;B"})},
        {record({"REQ=1", "TRCFMT=x", "ZFMT=y"}),
         replyText({"ANS=1", "JOB=", "STATUS=0", "TRCFMT=1;1000;E;B", "ZFMT=1;1000;E;B"})},
        {record({"REQ=1234", "JOB=55", "JOB=66"}), replyText({"ANS=1234", "STATUS=0", "JOB=55"})},
        {record({"REQ=1212"}), replyText({"ANS=1212", "STATUS=0"})},
        {record({"REQ=DNL", "ANS=TRC", "TRCFMT=1;4;E;R;F", "R=1;2;3;4"}),
         replyText({"ANS=DNL", "STATUS=5"})},
        {"REQ=1234\rJOB=CR-only\r", replyText({"ANS=1234", "STATUS=0", "JOB=CR-only"})},
        {record({"REQ=1234", "JOB=" + std::string(150, 'J')}),
         replyText({"ANS=1234", "STATUS=0", "JOB=" + std::string(99, 'J')})},
        // Only these answers carry a tracing.
        {record({"ANS=1234", "JOB=123"}), replyText({"ANS=1234", "STATUS=0", "JOB=123"}), true},
        {record({"ANS=TRC"}), replyText({"ANS=TRC", "STATUS=0"}), true},
        {record({"ANS=1212"}), replyText({"ANS=1212", "STATUS=0"}), true},
        {record({"ANS=1"}), replyText({"ANS=1", "STATUS=0"}), true},
        // No reply at all.
        {record({"REQ=1", "TRCFMT=1;1000;E;B", "ZFMT=a", "ZFMT=b"}), ""}, // REQ=1 needs one of each
        {record({"REQ=FOO", "ANS=BAR"}), ""},
        {record({"req=INI", "Ans=TRC"}), ""}, // labels are case-sensitive
        {record({"REQ =INI", "REQINI"}), ""},
        {"", ""},
        {record({"REQ=INI" + std::string(143, ' ')}), ""}, // cut, still not "INI"
    });
}

TEST(DcsReply, FormatNegotiation) {
    expectReplies({
        {record({"REQ=TRC", "TRCFMT=1;400;E;B", "TRCFMT=1;1440;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;1440;E;B"})},
        {record({"REQ=TRC", "TRCFMT=1;400;E;B", "TRCFMT=1;1440;E;B", "ZFMT=1;400;E;B",
                 "ZFMT=1;1440;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;1440;E;B", "ZFMT=1;1440;E;B"})},
        {record({"REQ=TRC", "TRCFMT=1;1440;E;B", "ZFMT=1;512;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;1440;E;B", "ZFMT=1;512;E;B"})},
        {record({"ANS=INI", "REQ=TRC", "TRCFMT=1;800;E;B"}),
         replyText({"ANS=INI", "STATUS=0", "DEF=;1234", "TRCFMT=1;800;E;B"})},
        {record({"REQ=TRC", "TRCFMT=1;360;E;B"}), replyText({"ANS=TRC", "STATUS=17"})},
        {record({"REQ=TRC", "TRCFMT=1;1000;E;B", "ZFMT=1;360;E;B"}),
         replyText({"ANS=TRC", "STATUS=17"})},
        {record({"REQ=TRC", "ZFMT=1;1000;E;B"}), replyText({"ANS=TRC", "STATUS=18"})},
        {record({"ANS=INI"}), replyText({"ANS=INI", "STATUS=18"})},
        // An offer cut to 49 characters can never equal a table row.
        {record({"REQ=TRC", "TRCFMT=1;1000;E;B" + std::string(140, ' ')}),
         replyText({"ANS=TRC", "STATUS=17"})},
        // Offers past the fiftieth are ignored: the 51st of 60, the 50th of 60, a Z 51st.
        {"REQ=TRC\r\n" + offers("TRCFMT", 50, "1;1000;E;B", 9),
         replyText({"ANS=TRC", "STATUS=17"})},
        {"REQ=TRC\r\n" + offers("TRCFMT", 49, "1;500;E;B", 10),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;500;E;B"})},
        {"REQ=TRC\r\nTRCFMT=1;500;E;B\r\n" + offers("ZFMT", 50, "1;400;E;B", 9),
         replyText({"ANS=TRC", "STATUS=17"})},
        // Packed binary (format 4): a format-1 offer still wins; binary only is served.
        {record({"REQ=TRC", "TRCFMT=4;1000;E;B", "TRCFMT=1;400;E;B", "ZFMT=4;1000;E;B",
                 "ZFMT=1;400;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;400;E;B", "ZFMT=1;400;E;B"})},
        {record({"REQ=TRC", "TRCFMT=4;512;E;B", "TRCFMT=4;1440;E;B", "ZFMT=4;512;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=4;1440;E;B", "ZFMT=4;512;E;B"})},
        {record({"REQ=TRC", "TRCFMT=4;400;E;B", "ZFMT=1;800;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=4;400;E;B", "ZFMT=1;800;E;B"})},
        {record({"REQ=TRC", "TRCFMT=4;360;E;B"}), replyText({"ANS=TRC", "STATUS=17"})},
        // Decimal radii with binary z values, once refused (17), are served.
        {record({"REQ=TRC", "TRCFMT=1;1000;E;B", "ZFMT=4;1000;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;1000;E;B", "ZFMT=4;1000;E;B"})},
        // FORMATODCS=4: the format-4 rows first, format 1 when no binary is offered.
        {record({"REQ=TRC", "TRCFMT=1;1000;E;B", "TRCFMT=4;400;E;B", "ZFMT=1;1000;E;B",
                 "ZFMT=4;400;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=4;400;E;B", "ZFMT=4;400;E;B"}),
         false, TraceFormatOrder::PackedFirst},
        {record({"REQ=TRC", "TRCFMT=1;512;E;B", "TRCFMT=1;1000;E;B", "ZFMT=4;1000;E;B"}),
         replyText({"ANS=TRC", "STATUS=0", "DEF=;1234", "TRCFMT=1;1000;E;B", "ZFMT=4;1000;E;B"}),
         false, TraceFormatOrder::PackedFirst},
    });
}

class DcsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        ASSERT_EQ(OpenLink(port, pty.slavePath().c_str(), 9600), 0);
        reading.vendor = "VENDOR";
        reading.model = "MODEL-0";
        frame->dbl = 99; // cleared only when a record is parsed
        clock.now = 1000;
        clock.onSleep = [this](int) { collect(); };
    }

    // The tracer looks at what the program sent and acknowledges each whole reply.
    void collect() {
        const std::string more = pty.receivedRest(kSettleMs);
        sent += more;
        for (char c : more) {
            if (c == kGs[0] && ackReplies) {
                EXPECT_TRUE(pty.send(kAckByte));
            }
        }
    }
    std::string allSent() {
        sent += pty.receivedRest(20);
        return sent;
    }

    // One tick of the reading timer: PollDcs only when bytes are waiting.
    bool tick() {
        uint32_t errors = 0;
        if (port.ClearError(errors) != 0 || port.status.cbInQue == 0)
            return false;
        PollDcs(received, port, *frame, context);
        return true;
    }
    void deliver(const std::string& bytes) {
        ASSERT_TRUE(pty.send(bytes));
        ASSERT_TRUE(tick());
    }
    // Ticks until `sent` holds `expected` or no byte came for a while.
    void tickUntilSent(const std::string& expected, int idleMs = 300) {
        int idle = 0;
        while (sent.size() < expected.size() && idle < idleMs) {
            if (tick()) {
                idle = 0;
            } else {
                usleep(1000);
                ++idle;
            }
        }
    }
    void handle(const std::string& text) { HandleDcsRecord(port, *frame, text, context); }
    uint32_t waiting() {
        uint32_t errors = 0;
        EXPECT_EQ(port.ClearError(errors), 0);
        return port.status.cbInQue;
    }

    PseudoTerminal pty;
    FakeClock clock;
    ClockInstalled installed{clock};
    CommPort port;
    DcsReceiveBuffer received;
    ScratchDir dir;
    FakeUi ui;
    ReadingContext reading;
    DcsContext context{&reading, dir.path(), &ui};
    std::unique_ptr<struct_tracedata> frame = std::make_unique<struct_tracedata>();
    std::string sent;
    bool ackReplies = true;
};

TEST_F(DcsTest, SendDcsRecordFramesTheReply) {
    // The wire bytes are the capture's, their CRCs worked out apart from the code.
    CapturedTracer tracer("dcs-send-replies", pty, clock, CapturedTracer::AnswersOnly);
    EXPECT_EQ(SendDcsRecord(port, replyText({"ANS=INI", "STATUS=0"}).c_str()), 0);
    EXPECT_EQ(waiting(), 0u); // the ACK was taken
    EXPECT_EQ(SendDcsRecord(port, replyText({"ANS=DNL", "STATUS=5"}).c_str()), 0);
    EXPECT_TRUE(tracer.finish());
}

TEST_F(DcsTest, SendDcsRecordWithoutAck) {
    // Each reply goes once, never again: a NAK answers the first, silence the second.
    CapturedTracer tracer("dcs-reply-unacknowledged", pty, clock, CapturedTracer::AnswersOnly);
    const std::string text = replyText({"ANS=DNL", "STATUS=5"});
    EXPECT_EQ(SendDcsRecord(port, text.c_str()), 1);
    EXPECT_EQ(clock.sleeps, 1);
    clock.sleeps = 0;
    EXPECT_EQ(SendDcsRecord(port, text.c_str()), 1);
    EXPECT_EQ(clock.sleeps, kPollsIn6s);

    // Longer than the 1000-byte message: refused, nothing sent.
    EXPECT_EQ(SendDcsRecord(port, (std::string(990, 'A') + kRs).c_str()), 1);
    EXPECT_TRUE(tracer.turn()); // unplugged
    EXPECT_EQ(SendDcsRecord(port, text.c_str()), 1);
    EXPECT_TRUE(tracer.finish());
}

// The tracer leads: each record comes before a tick of the reading timer,
// which takes all of it, and the ACK of a reply during the program's wait.
struct Conversation {
    const char* capture;
    int sleeps;
    uint64_t sleptMs;
};

void PrintTo(const Conversation& row, std::ostream* out) {
    *out << row.capture;
}

// Each tick costs the settle (200 ms), and a reply one look for its ACK (50).
const Conversation kConversations[] = {
    {"dcs-acks-skipped", 5, 3 * 200 + 2 * 50},
    {"dcs-record-over-ticks", 4, 3 * 200 + 50},
    {"dcs-one-record-per-tick", 5, 3 * 200 + 2 * 50},
    {"dcs-framing-errors", 9, 7 * 200 + 2 * 50},
};

class DcsConversation : public DcsTest, public ::testing::WithParamInterface<Conversation> {};

TEST_P(DcsConversation, PlaysTheCapture) {
    CapturedTracer tracer(GetParam().capture, pty, clock, CapturedTracer::AnswersOnly);
    while (tracer.turn()) {
        ASSERT_TRUE(tick());
        EXPECT_EQ(waiting(), 0u);
    }
    EXPECT_TRUE(tracer.finish());
    EXPECT_EQ(clock.sleeps, GetParam().sleeps);
    EXPECT_EQ(clock.sleptMs, GetParam().sleptMs);
}

INSTANTIATE_TEST_SUITE_P(Captures, DcsConversation, ::testing::ValuesIn(kConversations),
                         CapturedTracer::Names());

TEST_F(DcsTest, PollReadsOnlyWhatTheTimerSawWaiting) {
    ASSERT_TRUE(pty.send(kFs + "REQ=IN"));
    clock.onSleep = [this](int sleep) {
        if (sleep == 1) {
            EXPECT_TRUE(pty.send("I\r\n" + kGs)); // comes during the settle
        } else {
            collect();
        }
    };
    ASSERT_TRUE(tick());
    EXPECT_EQ(allSent(), "");
    EXPECT_EQ(waiting(), 4u); // left for the next tick
    ASSERT_TRUE(tick());
    EXPECT_EQ(allSent(), framed(replyText({"ANS=INI", "STATUS=0"})));
}

TEST_F(DcsTest, APartialRecordExpiresAfterFiveSeconds) {
    deliver(kFs + "REQ=IN");
    clock.now += 6000;                  // silence
    deliver(kFs + "REQ=DNL\r\n" + kGs); // would be a second FS if the half were kept
    EXPECT_EQ(allSent(), framed(replyText({"ANS=DNL", "STATUS=5"})));

    sent.clear();
    deliver(kFs + "REQ=IN");
    clock.now += 4000; // with the settle, 4.2 s after the last bytes: still kept
    deliver("I\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=INI", "STATUS=0"})));
}

TEST_F(DcsTest, TheAgeOfAPartialRecordSurvivesTheTickWrap) {
    clock.now = 0xFFFFF000u - 200u; // the first bytes arrive at 0xFFFFF000
    deliver(kFs + "REQ=IN");
    clock.now += 1000; // 1.2 s later the count has wrapped past 0
    deliver("I\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=INI", "STATUS=0"})));

    sent.clear();
    clock.now = 0xFFFFFF00u;
    deliver(kFs + "REQ=IN");
    clock.now += 6000; // wrapped and stale
    deliver(kFs + "REQ=DNL" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=DNL", "STATUS=5"})));
}

TEST_F(DcsTest, EachPortKeepsItsOwnPartialRecord) {
    PseudoTerminal otherPty;
    CommPort otherPort;
    DcsReceiveBuffer otherReceived;
    ASSERT_TRUE(otherPty.ok());
    ASSERT_EQ(OpenLink(otherPort, otherPty.slavePath().c_str(), 9600), 0);
    const auto otherDeliver = [&](const std::string& bytes) {
        uint32_t errors = 0;
        ASSERT_TRUE(otherPty.send(bytes));
        ASSERT_EQ(otherPort.ClearError(errors), 0);
        PollDcs(otherReceived, otherPort, *frame, context);
    };
    // The halves interleave: one shared buffer would see a second FS and drop both.
    deliver(kFs + "REQ=IN");
    otherDeliver(kFs + "REQ=DN");
    deliver("I\r\n" + kGs);
    otherDeliver("L\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=INI", "STATUS=0"})));
    EXPECT_EQ(otherPty.receivedRest(100), framed(replyText({"ANS=DNL", "STATUS=5"})));
}

TEST_F(DcsTest, ModelLabelReplacesTheModelText) {
    handle(record({"REQ=FOO"}));
    handle(record({"MODEL=", "REQ=FOO"})); // empty: kept
    EXPECT_EQ(reading.model, "MODEL-0");
    handle(record({"REQ=FOO", "MODEL=LT-1200", "MODEL=other"}));
    EXPECT_EQ(reading.model, "LT-1200");
    EXPECT_EQ(allSent(), "");
    EXPECT_EQ(clock.sleeps, 0); // no reply, so no wait for an ACK either
    handle(record({"MODEL=HUVITZ CPE", "REQ=DNL"}));
    EXPECT_EQ(reading.model, "HUVITZ CPE");
    EXPECT_EQ(allSent(), framed(replyText({"ANS=DNL", "STATUS=5"})));
    handle(record({"REQ=1234", "MODEL=" + std::string(150, 'M')}));
    EXPECT_EQ(reading.model, std::string(99, 'M'));
    EXPECT_EQ(frame->dbl, 99); // no tracing: nothing parsed or saved
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(DcsTest, TracingRecordsAreParsedAnsweredAndSaved) {
    const char* answers[] = {"1234", "TRC", "1212", "1"};
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        ScratchDir target;
        context.readingDirectory = target.path();
        ui.messages.clear();
        sent.clear();
        frame->dbl = 99;
        handle(record({std::string("ANS=") + answer, "JOB=123", "DBL=18.5", "TRCFMT=1;4;E;R;F",
                       "R=2500;2600;2700;2600", "TRCFMT=1;4;E;L;F", "R=2400;2500;2600;2500"}));
        EXPECT_EQ(allSent(),
                  framed(replyText({std::string("ANS=") + answer, "STATUS=0", "JOB=123"})));
        EXPECT_EQ(frame->dbl, 18.5);
        EXPECT_EQ(frame->right.radiusCount, 4);
        EXPECT_EQ(frame->right.points[2].radius, 2700);
        EXPECT_EQ(frame->left.points[3].radius, 2500);
        // A job of fewer than five characters is not kept: the default file name.
        EXPECT_TRUE(fileExists(target.file("leitura.krvw")));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0], kMessageSaveSucceeded);
    }
}

// Tracings that lost an eye's outline, as real tracers sent them: answered as
// any tracing, but no file is written, and the user hears which eye and why.
TEST_F(DcsTest, UnreadableTracingsAreAnsweredButNotSaved) {
    const struct {
        const char* labels;
        const char* says;
    } rows[] = {
        {"reading/short-list.labels", "\nOlho direito: a quantidade de raios recebidos difere"},
        {"reading/format-6.labels", "\nOlho esquerdo: o formato do contorno"},
        {"reading/no-eye.labels", "nenhum olho tem um contorno que possa ser lido."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.labels);
        sent.clear();
        ui.messages.clear();
        ui.clipboard = "an earlier reading's path";
        handle(readFileBytes(testDataPath(row.labels)));
        EXPECT_EQ(allSent(), framed(replyText({"ANS=TRC", "STATUS=0", "JOB=\"00815\""})));
        EXPECT_TRUE(listDir(dir.path()).empty());
        EXPECT_EQ(ui.clipboard, "");
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].rfind("Não foi possível gravar os dados da leitura: ", 0), 0u);
        EXPECT_NE(ui.messages[0].find(row.says), std::string::npos) << ui.messages[0];
    }
}

TEST_F(DcsTest, AnUnacknowledgedTracingIsSavedAnyway) {
    ackReplies = false;
    handle(record({"ANS=TRC", "JOB=99999", "TRCFMT=1;2;E;R;F", "R=2000;2100"}));
    EXPECT_EQ(allSent(), framed(replyText({"ANS=TRC", "STATUS=0", "JOB=99999"})));
    EXPECT_EQ(clock.sleeps, kPollsIn6s);
    EXPECT_TRUE(fileExists(dir.file("99999.krvw")));
    EXPECT_EQ(frame->right.points[1].radius, 2100);
}

TEST_F(DcsTest, ARealTwoEyeTracingOverTheLine) {
    const std::string labels = readFileBytes(testDataPath("reading/realistic.labels"));
    ASSERT_GT(labels.size(), 10000u); // more than one tick's worth of bytes
    // More than the line holds at once: the tracer writes while the program reads.
    std::thread tracer(
        [this, &labels] { EXPECT_TRUE(pty.sendNow(kAckByte + kFs + labels + kGs)); });
    // The record's JOB value is "00815", quotes included, and is echoed as it came.
    const std::string expected = framed(replyText({"ANS=TRC", "STATUS=0", "JOB=\"00815\""}));
    tickUntilSent(expected);
    tracer.join();
    EXPECT_EQ(allSent(), expected);

    EXPECT_STREQ(frame->job, "00815");
    EXPECT_EQ(reading.model, "CTR-1");
    EXPECT_EQ(frame->right.radiusCount, 1000);
    EXPECT_EQ(frame->left.radiusCount, 1000);
    EXPECT_EQ(frame->right.points[0].radius, 2706);
    EXPECT_EQ(frame->right.points[999].radius, 2706);
    EXPECT_EQ(frame->left.points[0].radius, 2490);
    EXPECT_EQ(frame->left.points[999].radius, 2490);
    EXPECT_EQ(frame->right.points[0].z, -120);
    EXPECT_EQ(frame->left.points[0].z, -56);
    EXPECT_EQ(frame->dbl, 17.5);
    const std::string file = dir.file("815.krvw");
    EXPECT_TRUE(fileExists(file));
    EXPECT_EQ(ui.clipboard, file);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], kMessageSaveSucceeded);
}

// A packed binary list holds raw NUL bytes: the record is bytes from the line
// to the parser, never cut at one.
TEST_F(DcsTest, APackedBinaryTracingOverTheLine) {
    const PackedSample sample = readPackedSample();
    ASSERT_NE(sample.wire.find('\0'), std::string::npos);
    deliver(kFs + "ANS=TRC\r\nJOB=12345\r\n" + sample.header + "\r\nR=" + sample.wire +
            "\r\nDBL=17\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=TRC", "STATUS=0", "JOB=12345"})));
    ASSERT_EQ(frame->right.radiusCount, 512);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(frame->right.points[i].radius, sample.radii[i]) << i;
    EXPECT_EQ(frame->dbl, 17);
    EXPECT_TRUE(fileExists(dir.file("12345.krvw")));
}

TEST_F(DcsTest, AFloodNeverRunsPastTheBuffer) {
    ackReplies = false;
    std::atomic<bool> written{false};
    // A record that starts and never ends, three buffers long.
    std::thread tracer([this, &written] {
        EXPECT_TRUE(pty.sendNow(kFs + std::string(300000, 'x')));
        written = true;
    });
    int idle = 0;
    const auto start = std::chrono::steady_clock::now();
    while (!(written && idle > 200) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        if (tick()) {
            idle = 0;
        } else {
            usleep(1000);
            ++idle;
        }
    }
    tracer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(allSent(), "");

    ackReplies = true;
    const std::string expected = framed(replyText({"ANS=INI", "STATUS=0"}));
    ASSERT_TRUE(pty.send(kFs + "REQ=INI\r\n" + kGs));
    tickUntilSent(expected);
    EXPECT_EQ(allSent(), expected);
}

TEST_F(DcsTest, AFullBufferIsDroppedBeforeTheNextRead) {
    // A record that never ends fills the 100,000 bytes exactly, in reads small
    // enough for the line: one FS and 3,999 bytes, then 24 times 4,000.
    deliver(kFs + std::string(3999, 'x'));
    for (int k = 0; k < 24; ++k)
        deliver(std::string(4000, 'x'));
    EXPECT_EQ(clock.sleptMs, 25u * 200u); // never 5 s without new bytes: nothing expired
    // Nothing more fits: the buffer is emptied first and the record is read.
    deliver(kFs + "REQ=INI\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=INI", "STATUS=0"})));

    // 99,995 bytes in the buffer: of an 11-byte record only 5 fit; the rest is
    // read at the next tick, after the buffer was emptied, and is discarded.
    sent.clear();
    deliver(kFs + std::string(3994, 'x'));
    for (int k = 0; k < 24; ++k)
        deliver(std::string(4000, 'x'));
    deliver(kFs + "REQ=INI\r\n" + kGs);
    EXPECT_EQ(waiting(), 6u);
    deliver(kAckByte); // brings the next tick
    EXPECT_EQ(allSent(), "");
    deliver(kFs + "REQ=DNL\r\n" + kGs);
    EXPECT_EQ(allSent(), framed(replyText({"ANS=DNL", "STATUS=5"})));
}

} // namespace
