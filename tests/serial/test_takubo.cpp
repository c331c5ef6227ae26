// The Takubomatic FD-80 protocol against a tracer played from the captures in
// tests/data/captures/protocol (takubomatic-*) on a real pseudo-terminal, with
// the test clock: the one-second pauses, the 50 ms polls and the 6 s limits
// take no real time. The expected values are worked out by hand from the
// protocol's rules and the tracing the captures' comments give.
#include "Takubo.h"

#include "Serial.h"
#include "capturedtracer.h"
#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <sys/ioctl.h>
#include <type_traits>

namespace {

using Steady = std::chrono::steady_clock;

// The fixed messages, written out: STX CR digits CR digits CR ETX.
const std::string kRequest1("\x02\r0706000106\r10\r\x03", 17);
const std::string kAnswer1("\x02\r0807000206\r13\r\x03", 17);

constexpr uint32_t kPauseMs = 1000; // before each answer is collected
constexpr int kPollsIn6s = 6000 / 50;

const char* const kOpenText = "Erro na inicialização da conexão com o Tracer.";
const char* const kRequestText = "Erro na solicitação de dados para o Tracer.";
const char* const kReceiveText = "Erro no recebimento de dados da leitura.";

static_assert(std::is_same_v<decltype(ReadTakubomatic(std::declval<struct_tracedata&>(), "", 0,
                                                      std::declval<std::string&>())),
                             int64_t>);

// The fake clock, telling the device which wait the program is in, and letting
// it act when the program looks at the time (as it does before every write).
class TracerClock : public FakeClock {
public:
    uint32_t tickCount() override {
        if (onTick)
            onTick();
        return FakeClock::tickCount();
    }
    void sleep(uint32_t ms) override {
        lastSleepMs = ms;
        if (ms == kPauseMs)
            ++pauses;
        FakeClock::sleep(ms);
    }
    uint32_t lastSleepMs = 0;
    int pauses = 0;
    std::function<void()> onTick;
};

// The stored differences of one trace: 399 as `expected` gives, the rest of the table 0.
void expectTrace(int16_t first, const int8_t* deltas, int16_t expectedFirst,
                 const std::function<int(int)>& expected) {
    EXPECT_EQ(first, expectedFirst);
    int wrong = 0;
    for (int k = 0; k < 399; ++k) {
        if (deltas[k] != expected(k) && ++wrong <= 3)
            ADD_FAILURE() << "difference " << k << " is " << int{deltas[k]} << ", not "
                          << expected(k);
    }
    for (int k = 399; k < kPackedDifferences; ++k)
        wrong += deltas[k] != 0 ? 1 : 0;
    EXPECT_EQ(wrong, 0);
}

// The record of takubomatic-reading: right radii 2000 + 10 i, right z 500 - i,
// left radii a triangle 2500 up to 2700 at point 200 and back to 2501 (a closed
// outline), left z 65520 + i, near the top of the unsigned 16-bit range.
void expectFullReading(struct_tracedata& r) {
    EXPECT_DOUBLE_EQ(r.fpd, 62.50);
    EXPECT_DOUBLE_EQ(r.dbl, 18.50);
    EXPECT_DOUBLE_EQ(r.right.deviceHbox, 52.30);
    EXPECT_DOUBLE_EQ(r.right.deviceVbox, 38.15);
    EXPECT_DOUBLE_EQ(r.left.deviceHbox, 51.90);
    EXPECT_DOUBLE_EQ(r.left.deviceVbox, 37.90);

    // Right radii: first A[100] = 3000; -10 back to A[0]; A[399] - A[0] = 3990 = 0x0F96,
    // whose low byte 0x96 is -106; then -10 again.
    expectTrace(r.right.firstRadius, r.right.radiusDelta, 3000,
                [](int k) { return k == 100 ? -106 : -10; });
    // Right z: first A[100] = 400; +1 back to A[0]; A[399] - A[0] = 101 - 500 = -399,
    // low byte (-399 + 512 = 113); then +1.
    expectTrace(r.right.firstZ, r.right.zDelta, 400, [](int k) { return k == 100 ? 113 : 1; });
    // Left radii: first A[100] = 2600; -1 back to A[0] = 2500; +1 to A[399] = 2501; the
    // rising run from A[399] back up to A[200] = 2700 (positions 101 to 299), then -1
    // down the old rising part to A[101] (positions 300 to 398).
    expectTrace(r.left.firstRadius, r.left.radiusDelta, 2600,
                [](int k) { return k < 100 ? -1 : (k < 300 ? 1 : -1); });
    // Left z: A[100] = 65620 kept to 16 bits: 84; -1 back to A[0]; A[399] - A[0] = 399,
    // low byte 0x8F = -113; then -1.
    expectTrace(r.left.firstZ, r.left.zDelta, 84, [](int k) { return k == 100 ? -113 : -1; });

    for (const struct_eyetrace* eye : {&r.right, &r.left}) {
        EXPECT_EQ(eye->radiusCount, 400);
        EXPECT_EQ(eye->zCount, 400);
        // Cleared, for computeGeometry to fill.
        EXPECT_EQ(eye->points[0].radius, 0);
        EXPECT_EQ(eye->points[399].z, 0);
        EXPECT_EQ(eye->fcrv, 0);
        EXPECT_EQ(eye->hbox, 0);
    }
    EXPECT_EQ(r.traceType, 0);
    EXPECT_EQ(r.boxHeightMean, 0);
    EXPECT_EQ(r.tiltTenths, 0);
    EXPECT_EQ(r.deviceFlag, 0);
    EXPECT_EQ(r.job[0], '\0');
    EXPECT_EQ(r.extraLabels[0], '\0');

    // The stored outline is the tracer's reversed from point 100.
    computeGeometry(r);
    EXPECT_EQ(r.traceType, 'F');
    // The closed left outline: stored point k is old point (100 - k) mod 400.
    const struct_tracepoint* p = r.left.points;
    EXPECT_EQ(p[0].radius, 2600);         // A[100]
    EXPECT_EQ(p[1].radius, 2599);         // A[99]
    EXPECT_EQ(p[100].radius, 2500);       // A[0]
    EXPECT_EQ(p[101].radius, 2501);       // A[399]
    EXPECT_EQ(p[300].radius, 2700);       // A[200], the far end
    EXPECT_EQ(p[399].radius, 2601);       // A[101]
    EXPECT_EQ(r.right.points[99].z, 499); // A[1] = 500 - 1
}

// takubomatic-unsigned-fields: fpd 00 01, dbl FF FF, left hbox 01 80.
void expectUnsignedFields(struct_tracedata& r) {
    EXPECT_DOUBLE_EQ(r.fpd, 2.56);               // 256: the high byte is the upper one
    EXPECT_DOUBLE_EQ(r.dbl, 655.35);             // 65535, not -1
    EXPECT_DOUBLE_EQ(r.left.deviceHbox, 327.69); // 32769
}

class TakuboTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        // Whatever a former reading left: a failure must not touch it.
        std::memset(record.get(), 0x5A, sizeof *record);
        std::memcpy(before.get(), record.get(), sizeof *record);
    }

    int64_t read(int baudRate = 9600) {
        return ReadTakubomatic(*record, pty.slavePath().c_str(), baudRate, detail);
    }

    bool recordUntouched() const {
        return std::memcmp(record.get(), before.get(), sizeof *record) == 0;
    }

    // The reading gave the device back: another program can open it.
    void expectPortReleased() {
        CommPort other;
        EXPECT_EQ(OpenLink(other, pty.slavePath().c_str(), 9600), 0);
        EXPECT_EQ(CloseLink(other), 0);
    }

    PseudoTerminal pty;
    TracerClock clock;
    ClockInstalled installed{clock};
    std::unique_ptr<struct_tracedata> record = std::make_unique<struct_tracedata>();
    std::unique_ptr<struct_tracedata> before = std::make_unique<struct_tracedata>();
    std::string detail;
    std::string sent1;
};

// A reading against a capture: its result, the test clock, the record and the port.
struct Reading {
    const char* capture;
    int64_t result;
    const char* detail;
    int sleeps;
    uint64_t sleptMs;
    int pauses;                                        // of a second: one per request sent
    void (*expectRecord)(struct_tracedata&) = nullptr; // null: a failure leaves it untouched
};

void PrintTo(const Reading& row, std::ostream* out) {
    *out << row.capture;
}

const Reading kReadings[] = {
    // Two pauses, each followed by one poll that found the whole answer.
    {"takubomatic-reading", 0, "", 4, 2 * (kPauseMs + 50), 2, expectFullReading},
    {"takubomatic-unsigned-fields", 0, "", 4, 2 * (kPauseMs + 50), 2, expectUnsignedFields},
    // Nothing within 6 s: ReceiveBlock 40, exchange step 30, reading step 20; sixteen
    // bytes are fewer than asked: the same wait to its end.
    {"takubomatic-answer-silent", 40030020, kRequestText, 1 + kPollsIn6s, kPauseMs + 6000, 1},
    {"takubomatic-answer-short", 40030020, kRequestText, 1 + kPollsIn6s, kPauseMs + 6000, 1},
    // Seventeen bytes that are not the answer: plain 20, after one poll.
    {"takubomatic-answer-last-byte-wrong", 20, kRequestText, 2, kPauseMs + 50, 1},
    {"takubomatic-answer-is-a-request", 20, kRequestText, 2, kPauseMs + 50, 1},
    // No data block, or one byte short: ReceiveBlock 40, exchange 30, reading 30.
    {"takubomatic-block-silent", 40030030, kReceiveText, 1 + 1 + 1 + kPollsIn6s,
     2 * kPauseMs + 50 + 6000, 2},
    {"takubomatic-block-short", 40030030, kReceiveText, 1 + 1 + 1 + kPollsIn6s,
     2 * kPauseMs + 50 + 6000, 2},
    // Unplugged mid-block, the queue cannot be looked at any more: ReceiveBlock 10,
    // exchange 30, reading 30, and no waiting on a tracer that has gone.
    {"takubomatic-unplug-block", 10030030, kReceiveText, 4, 2 * (kPauseMs + 50), 2},
};

class TakuboReading : public TakuboTest, public ::testing::WithParamInterface<Reading> {};

TEST_P(TakuboReading, PlaysTheCapture) {
    const Reading& c = GetParam();
    CapturedTracer tracer(c.capture, pty, clock);
    const auto start = Steady::now();
    EXPECT_EQ(read(), c.result);
    EXPECT_EQ(detail, c.detail);
    EXPECT_TRUE(tracer.finish()); // the requests, and nothing else
    EXPECT_EQ(clock.sleeps, c.sleeps);
    EXPECT_EQ(clock.sleptMs, c.sleptMs);
    EXPECT_EQ(clock.pauses, c.pauses);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count(),
              2000);
    if (c.expectRecord != nullptr)
        c.expectRecord(*record);
    else
        EXPECT_TRUE(recordUntouched());
    if (!tracer.unplugged()) {
        expectPortReleased();
        return;
    }
    // The module's port was closed: a reading on another line works.
    PseudoTerminal next;
    ASSERT_TRUE(next.ok());
    CapturedTracer another("takubomatic-reading", next, clock);
    EXPECT_EQ(ReadTakubomatic(*record, next.slavePath().c_str(), 9600, detail), 0);
    EXPECT_TRUE(another.finish());
    EXPECT_EQ(record->right.firstRadius, 3000);
}

INSTANTIATE_TEST_SUITE_P(Captures, TakuboReading, ::testing::ValuesIn(kReadings),
                         CapturedTracer::Names());

// In these two the line goes when the program looks at the clock, with no sleep
// before its next write: a captured tracer, which plays at sleeps, cannot.
TEST_F(TakuboTest, SendFailuresNestTheSendStep) {
    // The line goes before request 1 is written (writes look at the clock first).
    clock.onTick = [this] { pty.unplug(); };
    EXPECT_EQ(read(), 10020020); // SendBlock 10, exchange 20, reading 20
    EXPECT_EQ(detail, kRequestText);
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_TRUE(recordUntouched());
}

TEST_F(TakuboTest, SendFailureOfRequestTwo) {
    // The line goes once the program has taken the whole answer to request 1,
    // so writing request 2 fails.
    bool answered = false;
    clock.onSleep = [this, &answered](int) {
        if (clock.lastSleepMs == kPauseMs && clock.pauses == 1) {
            sent1 = pty.received(17);
            answered = pty.send(kAnswer1);
        }
    };
    clock.onTick = [this, &answered] {
        int waiting = -1;
        if (answered && ioctl(pty.slaveFd(), FIONREAD, &waiting) == 0 && waiting == 0)
            pty.unplug();
    };
    EXPECT_EQ(read(), 10020030); // SendBlock 10, exchange 20, reading 30
    EXPECT_EQ(detail, kReceiveText);
    EXPECT_EQ(sent1, kRequest1);
    EXPECT_EQ(clock.pauses, 1);
    EXPECT_TRUE(recordUntouched());
}

TEST_F(TakuboTest, OpenFailures) {
    ScratchDir dir;
    EXPECT_EQ(ReadTakubomatic(*record, dir.file("ttyUSB7").c_str(), 9600, detail), 10010);
    EXPECT_EQ(detail, std::string(kOpenText) + " Porta " + dir.file("ttyUSB7") +
                          ": não está presente (o adaptador foi desconectado?).");
    EXPECT_TRUE(recordUntouched());

    // Past the open (an unsupported rate): the port is closed again, nothing sent.
    detail.clear();
    EXPECT_EQ(read(12345), 50010);
    EXPECT_EQ(detail, kOpenText);
    EXPECT_EQ(pty.receivedRest(), "");
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_TRUE(recordUntouched());
    expectPortReleased();

    // Another program holds the device: the open itself fails.
    CommPort holder;
    ASSERT_EQ(OpenLink(holder, pty.slavePath().c_str(), 9600), 0);
    detail.clear();
    EXPECT_EQ(read(), 10010);
    EXPECT_EQ(detail, std::string(kOpenText) + " Porta " + pty.slavePath() +
                          ": em uso por outro programa ou pela sessão de outro usuário.");
    EXPECT_TRUE(holder.isOpen());
}

class ExchangeTest : public TakuboTest {
protected:
    void SetUp() override {
        TakuboTest::SetUp();
        ASSERT_EQ(OpenLink(port, pty.slavePath().c_str(), 9600), 0);
    }
    CommPort port;
};

TEST_F(ExchangeTest, SendsWaitsASecondAndDeliversTheAnswer) {
    CapturedTracer tracer("takubomatic-exchange", pty, clock); // "R\0\xFF", then "12345678"
    const unsigned char request[] = {'R', 0x00, 0xFF};
    unsigned char answer[8] = {};
    int delivered = -1;
    EXPECT_EQ(ExchangeTakubomaticBlock(port, request, 3, 5, answer, delivered), 0);
    EXPECT_EQ(delivered, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), 6), std::string("12345\0", 6));
    // The pause first, then one poll.
    EXPECT_EQ(clock.sleeps, 2);
    EXPECT_EQ(clock.lastSleepMs, 50u);
    EXPECT_EQ(clock.sleptMs, kPauseMs + 50);
    // The surplus stays for whoever reads next.
    int got = 0;
    EXPECT_EQ(ReceiveBlock(port, 3, answer, got), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), 3), "678");
    EXPECT_TRUE(tracer.finish());
}

TEST_F(ExchangeTest, FailuresDeliverNothing) {
    CapturedTracer tracer("takubomatic-exchange-short", pty, clock); // "Q", then "abc"
    const unsigned char request[] = {'Q'};
    unsigned char answer[5] = {'-', '-', '-', '-', '-'};
    int delivered = -1;
    EXPECT_EQ(ExchangeTakubomaticBlock(port, request, 1, 5, answer, delivered), 40030);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), 5), "-----");
    EXPECT_TRUE(tracer.finish());

    EXPECT_EQ(CloseLink(port), 0);
    EXPECT_EQ(ExchangeTakubomaticBlock(port, request, 1, 5, answer, delivered), 10020);
    EXPECT_EQ(delivered, 0);
}
// Reorders a trace given by its absolute points and checks the result.
void expectReorder(const std::function<int(int)>& point, int32_t expectedFirst,
                   const std::function<int(int)>& expectedDifference) {
    int32_t first = point(0);
    int8_t differences[kTakubomaticDifferences];
    for (int i = 0; i < kTakubomaticDifferences; ++i)
        differences[i] = static_cast<int8_t>(point(i + 1) - point(i));
    ReorderTakubomaticTrace(first, differences);
    EXPECT_EQ(first, expectedFirst);
    for (int k = 0; k < kTakubomaticDifferences; ++k) {
        EXPECT_EQ(differences[k], expectedDifference(k)) << "position " << k;
        if (differences[k] != expectedDifference(k))
            break;
    }
}

TEST(ReorderTakubomaticTrace, FollowsTheRules) {
    {
        SCOPED_TRACE("the worked example: A[i] = 2000 + 10 i");
        expectReorder([](int i) { return 2000 + 10 * i; }, 3000,
                      [](int k) { return k == 100 ? -106 : -10; });
    }
    {
        // Negative differences are sign-extended: A[100] = 1000 - 300 = 700. The jump
        // A[399] - A[0] = -1197 = -5 * 256 + 83 keeps its low byte 83.
        SCOPED_TRACE("falling by 3");
        expectReorder([](int i) { return 1000 - 3 * i; }, 700,
                      [](int k) { return k == 100 ? 83 : 3; });
    }
    {
        // The sums are 32-bit and the new first is cut to 16 bits: A[100] = 40000 is
        // -25536 as 16 bits. A[399] - A[0] = 39900 = 155 * 256 + 220, low byte -36.
        SCOPED_TRACE("rising past 16 bits");
        expectReorder([](int i) { return 30000 + 100 * i; }, -25536,
                      [](int k) { return k == 100 ? -36 : -100; });
    }
    {
        // A closed outline with a bump at old points 250 to 259: unchanged differences
        // except reversed, so the bump sits at new points (100 - 259) mod 400 = 241 to 250.
        SCOPED_TRACE("closed outline");
        auto point = [](int i) { return 2400 + (i >= 250 && i < 260 ? 40 : 0); };
        // New difference k leads from old point (100 - k) to old point (99 - k) mod 400:
        // into the bump at k = 240 (old 260 to 259), out of it at k = 250 (old 250 to 249).
        expectReorder(point, 2400, [](int k) { return k == 240 ? 40 : (k == 250 ? -40 : 0); });
    }
}

} // namespace
