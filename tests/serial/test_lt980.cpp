// The LT980 block protocol against a tracer played from the captures in
// tests/data/captures/protocol (lt980-*) on a pseudo-terminal, with the test
// clock: the 50 ms polls and the 6 s waits take no real time.
#include "Commnavis.h"

#include "Serial.h"
#include "capturedtracer.h"
#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>

namespace {

using Steady = std::chrono::steady_clock;

static_assert(std::is_same_v<decltype(ReadLt980(std::declval<struct_tracedata&>(), "", 0,
                                                std::declval<std::string&>())),
                             int64_t>);

const char kOpenText[] = "Erro na inicialização da conexão com o Tracer.";
const char kBlockText[] = "Erro no recebimento de dados da leitura.";

// The i-th difference byte of an eye in the captures' hand-made tracing: a
// different rule per block, so that a swapped eye or block shows; it covers
// bytes above 0x7F (negative differences).
int8_t difference(int i, const int rule[2]) {
    return static_cast<int8_t>((i * rule[0] + rule[1]) & 0xFF);
}

void expectEye(const struct_eyetrace& eye, int16_t firstRadius, int16_t firstZ,
               const int radiusRule[2], const int zRule[2]) {
    EXPECT_EQ(eye.firstRadius, firstRadius);
    EXPECT_EQ(eye.firstZ, firstZ);
    EXPECT_EQ(eye.radiusCount, 1000);
    EXPECT_EQ(eye.zCount, 1000);
    for (int i = 0; i < 999; ++i) {
        ASSERT_EQ(eye.radiusDelta[i], difference(i, radiusRule)) << "radius difference " << i;
        ASSERT_EQ(eye.zDelta[i], difference(i, zRule)) << "z difference " << i;
    }
    EXPECT_EQ(eye.radiusDelta[999], 0); // the unused last byte (0x7F in the radii) is none
    EXPECT_EQ(eye.zDelta[999], 0);
}

// The record of a whole reading (lt980-reading-*), whose header comment gives
// the tracing, over a record that was all 0xA5 before.
void expectWholeReading(const struct_tracedata& r, char traceType) {
    EXPECT_EQ(r.traceType, traceType);
    EXPECT_EQ(r.deviceFlag, 3);
    EXPECT_EQ(r.tiltTenths, 37);
    EXPECT_EQ(r.right.ztilt, 3.0); // 37 / 10 in whole degrees
    EXPECT_EQ(r.left.ztilt, 3.0);
    EXPECT_EQ(r.right.fcrv, 4.0); // 47 / 10
    EXPECT_EQ(r.left.fcrv, 5.0);  // 52 / 10
    EXPECT_NEAR(r.fpd, 62.50, 1e-9);
    EXPECT_NEAR(r.boxHeightMean, 30.00, 1e-9);
    EXPECT_NEAR(r.dbl, 19.00, 1e-9);
    EXPECT_NEAR(r.right.circ, 450.00, 1e-9); // 45000: above 32767, the measures are unsigned
    EXPECT_NEAR(r.left.circ, 150.00, 1e-9);

    const int rightRadii[2] = {3, 1}, leftRadii[2] = {5, 2}, rightZ[2] = {7, 3}, leftZ[2] = {11, 4};
    expectEye(r.right, 2500, 300, rightRadii, rightZ);
    expectEye(r.left, 2600, -200, leftRadii, leftZ);
    // Spot values: byte 7 of block 2 is 1 (i = 0), byte 7 + 85 is 0x00 (85 * 3 + 1 = 256),
    // and byte 7 + 50 of block 3 is 252 = -4 (50 * 5 + 2).
    EXPECT_EQ(r.right.radiusDelta[0], 1);
    EXPECT_EQ(r.right.radiusDelta[85], 0);
    EXPECT_EQ(r.left.radiusDelta[50], -4);

    // The rest keeps the cleared state.
    EXPECT_EQ(r.job[0], '\0');
    EXPECT_EQ(r.extraLabels[0], '\0');
    EXPECT_EQ(r.right.points[7].radius, 0);
    EXPECT_EQ(r.left.vbox, 0.0);
    EXPECT_EQ(r.right.deviceHbox, 0.0);
}

class Lt980Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        markRecord();
    }

    int64_t read(int baudRate = 9600) {
        return ReadLt980(*record, pty.slavePath().c_str(), baudRate, detail);
    }

    // The reading let go of the device: another program can open it.
    void expectPortReleased() {
        CommPort other;
        EXPECT_EQ(other.Open(pty.slavePath().c_str()), 0);
    }

    // A record full of a marker, and a copy of it to compare with.
    void markRecord() {
        std::memset(record.get(), 0xA5, sizeof(struct_tracedata));
        std::memcpy(before.get(), record.get(), sizeof(struct_tracedata));
    }

    bool recordUnchanged() const {
        return std::memcmp(record.get(), before.get(), sizeof(struct_tracedata)) == 0;
    }

    PseudoTerminal pty;
    FakeClock clock;
    ClockInstalled installed{clock};
    std::string detail;
    std::unique_ptr<struct_tracedata> record = std::make_unique<struct_tracedata>();
    std::unique_ptr<struct_tracedata> before = std::make_unique<struct_tracedata>();
};

// A reading against a capture: its result, then what the record and the port show.
struct Reading {
    const char* capture;
    int baudRate;
    int64_t result;     // failures show kBlockText
    int sleeps;         // of the test clock
    char traceType = 0; // stored by a whole reading; 0: a failure, which changes nothing
};

void PrintTo(const Reading& row, std::ostream* out) {
    *out << row.capture;
}

const Reading kReadings[] = {
    {"lt980-reading-k", 9600, 0, 20, 'P'}, // K is stored as P
    {"lt980-reading-f", 19200, 0, 20, 'F'},
    {"lt980-reading-d", 19200, 0, 20, 'D'},
    {"lt980-reading-p", 19200, 0, 20, 'P'},
    // Block 1 (20), its enquiry (10), whose ACK never came (40030 from SendAndConfirm).
    {"lt980-silent", 9600, 40030010010020, 6000 / 50},
    // Block 3's header in answer to block 2: step 40 of the exchange in step 30 of the
    // reading; a length of 1006 instead of 1007: step 50. No ACK for either block.
    {"lt980-block2-wrong-number", 9600, 40030, 7},
    {"lt980-block2-wrong-length", 9600, 50030, 7},
    // Refused (40) in the request step (20) of block 3 (40).
    {"lt980-nak-block3", 9600, 40020040, 10},
    // A wrong length (50) in block 6 (60): the record stays as it was all the same.
    {"lt980-block6-wrong-length", 9600, 50060, 19},
    // The queue cannot be looked at (10) in the payload step (60) of block 2 (30).
    {"lt980-unplug-block2", 9600, 10060030, 8},
};

class Lt980Reading : public Lt980Test, public ::testing::WithParamInterface<Reading> {};

TEST_P(Lt980Reading, PlaysTheCapture) {
    const Reading& c = GetParam();
    CapturedTracer tracer(c.capture, pty, clock);
    const auto start = Steady::now();
    EXPECT_EQ(read(c.baudRate), c.result) << detail;
    EXPECT_EQ(detail, c.result == 0 ? "" : kBlockText);
    EXPECT_TRUE(tracer.finish());
    EXPECT_EQ(clock.sleeps, c.sleeps);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - start).count(), 3);
    if (c.traceType != 0)
        expectWholeReading(*record, c.traceType);
    else
        EXPECT_TRUE(recordUnchanged());
    if (!tracer.unplugged()) {
        expectPortReleased();
        return;
    }
    // The slave has gone with the master, so the unit's port shows on another
    // device: closed, it gets past the open to the refused rate (50010); left
    // open, OpenLink would give 10 (10010).
    PseudoTerminal another;
    ASSERT_TRUE(another.ok());
    EXPECT_EQ(ReadLt980(*record, another.slavePath().c_str(), 12345, detail), 50010);
}

INSTANTIATE_TEST_SUITE_P(Captures, Lt980Reading, ::testing::ValuesIn(kReadings),
                         CapturedTracer::Names());

TEST_F(Lt980Test, OpenFailures) {
    ScratchDir dir;
    EXPECT_EQ(ReadLt980(*record, dir.file("ttyUSB0").c_str(), 9600, detail), 10010);
    EXPECT_EQ(detail, std::string(kOpenText) + " Porta " + dir.file("ttyUSB0") +
                          ": não está presente (o adaptador foi desconectado?).");
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_TRUE(recordUnchanged());

    // Past the open (the rate is refused in step 50 of OpenLink): closed again.
    detail.clear();
    EXPECT_EQ(read(12345), 50010);
    EXPECT_EQ(detail, kOpenText);
    EXPECT_EQ(pty.receivedRest(), "");
    EXPECT_TRUE(recordUnchanged());

    // So the next reading can open the port.
    detail.clear();
    CapturedTracer tracer("lt980-reading-k", pty, clock);
    EXPECT_EQ(read(), 0) << detail;
    EXPECT_TRUE(tracer.finish());
}

// One block on an open port, to see the steps of the exchange itself.
class Lt980ExchangeTest : public Lt980Test {
protected:
    void SetUp() override {
        Lt980Test::SetUp();
        ASSERT_EQ(OpenLink(port, pty.slavePath().c_str(), 9600), 0);
    }

    // With the request for a block: 0x01 'S' 0x00 0x01 number.
    int64_t exchange(int block, int expected) {
        const unsigned char request[] = {0x01, 0x53, 0x00, 0x01, static_cast<unsigned char>(block)};
        return ExchangeLt980Block(port, request, kLt980RequestSize, expected, destination,
                                  delivered);
    }

    CommPort port;
    unsigned char destination[kLt980LargestPayload + 1];
    int delivered = -1;
};

TEST_F(Lt980ExchangeTest, DeliversThePayloadAfterAcknowledgingIt) {
    std::memset(destination, 0xCC, sizeof destination);
    CapturedTracer tracer("lt980-exchange-block1", pty, clock);
    EXPECT_EQ(exchange(1, kLt980MeasuresSize), 0);
    EXPECT_TRUE(tracer.finish());
    EXPECT_EQ(delivered, 29);
    // What the tracer sent after the ACKs of the enquiry and the request and the header.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(destination), 29),
              tracer.tracerSent().substr(1 + 1 + 4));
    EXPECT_EQ(destination[29], 0xCC); // nothing past the payload
}

TEST_F(Lt980ExchangeTest, FailuresOfEachStep) {
    // Of block 5: the enquiry refused, neither ACK nor NAK to the request, 3 bytes
    // of the header, 1002 of the payload's 1003; each sends what the capture has.
    CapturedTracer tracer("lt980-exchange-failures", pty, clock);
    for (int64_t result : {40010010, 50020, 40030, 40060}) {
        SCOPED_TRACE(result);
        std::memset(destination, 0xCC, sizeof destination);
        EXPECT_EQ(exchange(5, kLt980ZSize), result);
        EXPECT_EQ(delivered, 0);
        EXPECT_EQ(destination[0], 0xCC);     // nothing delivered from a failed block
        ASSERT_EQ(port.Purge(kPurgeAll), 0); // what a failed case left behind
    }
    EXPECT_TRUE(tracer.finish());
}

TEST_F(Lt980ExchangeTest, RefusesWhatCannotBeAskedOrHeld) {
    const unsigned char shortRequest[4] = {0x01, 0x53, 0x00, 0x01};
    EXPECT_EQ(ExchangeLt980Block(port, shortRequest, 4, 29, destination, delivered), 20);
    EXPECT_EQ(exchange(2, kLt980LargestPayload + 1), 50); // more than any block holds
    EXPECT_EQ(exchange(2, -1), 50);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(pty.receivedRest(), ""); // none of them reached the device
    EXPECT_EQ(clock.sleeps, 0);
}

} // namespace
