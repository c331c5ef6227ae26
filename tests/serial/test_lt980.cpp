// The LT980 block protocol against a tracer played on a pseudo-terminal, with
// the test clock: the 50 ms polls and the 6 s waits take no real time.
#include "Commnavis.h"

#include "Serial.h"
#include "ptypair.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

static_assert(std::is_same_v<decltype(ReadLt980(std::declval<struct_tracedata&>(), "", 0,
                                                std::declval<std::string&>())),
                             int64_t>);

constexpr int kPollsIn6s = 6000 / 50;
const std::string kAckByte(1, static_cast<char>(kAck));
const std::string kNakByte(1, static_cast<char>(kNak));
const std::string kEnqByte(1, static_cast<char>(kEnq));
const char kOpenText[] = "Erro na inicialização da conexão com o Tracer.";
const char kBlockText[] = "Erro no recebimento de dados da leitura.";

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

// The request for a block: 0x01 'S' 0x00 0x01 number.
std::string request(int block) {
    return bytes({0x01, 0x53, 0x00, 0x01, block});
}

// The answer header: 0x01 block, then the payload length high byte first.
std::string header(int block, int length) {
    return bytes({0x01, block, length >> 8, length & 0xFF});
}

// The hand-made tracing the device sends in the successful readings.
// Block 1: 11 unused bytes, type, flag, tilt 37 tenths, curves 47 and 52 tenths,
// fpd 0x186A = 6250, box height 0x0BB8 = 3000, dbl 0x076C = 1900, right circ
// 0xAFC8 = 45000 (above 32767: the measures are unsigned), left circ 0x3A98 = 15000.
std::string measuresBlock(char type = 'K') {
    std::string block(11, '\xEE');
    block += type;
    block += bytes({0x03, 37, 47, 52, 0x18, 0x6A, 0x0B, 0xB8, 0x07, 0x6C, 0xAF, 0xC8, 0x3A, 0x98});
    block += std::string(3, '\xEE');
    return block;
}

// The i-th difference byte of an eye; a different rule per block so that a
// swapped eye or block shows. Covers bytes above 0x7F (negative differences).
unsigned char differenceByte(int i, int multiplier, int offset) {
    return static_cast<unsigned char>((i * multiplier + offset) & 0xFF);
}

// Blocks 2 and 3: 5 unused bytes, first radius, 999 differences, 1 unused
// byte (0x7F, so that copying a 1000th difference would show).
std::string radiiBlock(int firstHigh, int firstLow, int multiplier, int offset) {
    std::string block(5, '\x11');
    block += bytes({firstHigh, firstLow});
    for (int i = 0; i < 999; ++i)
        block += static_cast<char>(differenceByte(i, multiplier, offset));
    block += '\x7F';
    return block;
}

// Blocks 5 and 6: 1 unused byte, first z, 999 differences, 1 unused byte.
std::string zBlock(int firstHigh, int firstLow, int multiplier, int offset) {
    std::string block(1, '\x22');
    block += bytes({firstHigh, firstLow});
    for (int i = 0; i < 999; ++i)
        block += static_cast<char>(differenceByte(i, multiplier, offset));
    block += '\x55';
    return block;
}

// Right radius 0x09C4 = 2500, left 0x0A28 = 2600; right z 0x012C = 300, left 0xFF38 = -200.
const std::string kRightRadii = radiiBlock(0x09, 0xC4, 3, 1);
const std::string kLeftRadii = radiiBlock(0x0A, 0x28, 5, 2);
const std::string kRightZ = zBlock(0x01, 0x2C, 7, 3);
const std::string kLeftZ = zBlock(0xFF, 0x38, 11, 4);

// One turn of the device: once the program has sent `expect`, it answers
// `answer`; or, with unplug, it goes away instead (on the next poll).
struct Step {
    std::string expect;
    std::string answer;
    bool unplug = false;
};

class Lt980Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        clock.onSleep = [this](int) { deviceTurn(); };
    }

    // The device looks at the line at every poll of the program and takes at
    // most one turn per poll: each turn needs something new from the program.
    void deviceTurn() {
        if (!unplugged)
            heard += pty.received(4096, 1);
        if (next >= script.size())
            return;
        const Step& step = script[next];
        if (heard.size() - consumed < step.expect.size())
            return;
        EXPECT_EQ(heard.substr(consumed, step.expect.size()), step.expect) << "turn " << next;
        consumed += step.expect.size();
        ++next;
        if (step.unplug) {
            pty.unplug();
            unplugged = true;
            return;
        }
        if (!step.answer.empty()) {
            EXPECT_TRUE(pty.send(step.answer));
        }
    }

    // The turns of one good block: ENQ (after the previous block's ACK), the
    // request, then the header and payload with the request's ACK.
    void addBlock(int block, const std::string& payload, bool first = false) {
        script.push_back({first ? kEnqByte : kAckByte + kEnqByte, kAckByte});
        script.push_back(
            {request(block), kAckByte + header(block, static_cast<int>(payload.size())) + payload});
    }

    void addWholeReading(char type = 'K') {
        addBlock(1, measuresBlock(type), true);
        addBlock(2, kRightRadii);
        addBlock(3, kLeftRadii);
        addBlock(5, kRightZ);
        addBlock(6, kLeftZ);
    }

    // Everything the program sent, once it is done.
    std::string transcript() {
        if (!unplugged)
            heard += pty.receivedRest();
        return heard;
    }

    int64_t read(int baudRate = 9600) {
        return ReadLt980(*record, pty.slavePath().c_str(), baudRate, detail);
    }

    // The reading let go of the device: another program can open it.
    void expectPortReleased() {
        CommPort other;
        EXPECT_EQ(other.Open(pty.slavePath().c_str()), 0);
    }

    // What a whole reading sends: ENQ, request and ACK for each block, the
    // last ACK included although the port is closed right after it.
    void expectWholeTranscript() {
        std::string whole;
        for (int block : {1, 2, 3, 5, 6})
            whole += kEnqByte + request(block) + kAckByte;
        EXPECT_EQ(transcript(), whole);
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
    std::vector<Step> script;
    std::size_t next = 0;
    std::size_t consumed = 0;
    std::string heard;
    bool unplugged = false;
    std::string detail;
    std::unique_ptr<struct_tracedata> record = std::make_unique<struct_tracedata>();
    std::unique_ptr<struct_tracedata> before = std::make_unique<struct_tracedata>();
};

void expectEye(const struct_eyetrace& eye, int16_t firstRadius, int16_t firstZ, int radiusRule[2],
               int zRule[2]) {
    EXPECT_EQ(eye.firstRadius, firstRadius);
    EXPECT_EQ(eye.firstZ, firstZ);
    EXPECT_EQ(eye.radiusCount, 1000);
    EXPECT_EQ(eye.zCount, 1000);
    for (int i = 0; i < 999; ++i) {
        ASSERT_EQ(eye.radiusDelta[i],
                  static_cast<int8_t>(differenceByte(i, radiusRule[0], radiusRule[1])))
            << "radius difference " << i;
        ASSERT_EQ(eye.zDelta[i], static_cast<int8_t>(differenceByte(i, zRule[0], zRule[1])))
            << "z difference " << i;
    }
    EXPECT_EQ(eye.radiusDelta[999], 0); // the unused last byte is not a difference
    EXPECT_EQ(eye.zDelta[999], 0);
}

TEST_F(Lt980Test, AWholeReadingFillsTheRecord) {
    record->right.points[7].radius = 77; // left from an earlier reading
    record->left.vbox = 42;
    std::strcpy(record->job, "OLDJOB");
    std::strcpy(record->extraLabels, "X=1");
    addWholeReading();

    ASSERT_EQ(read(), 0) << detail;
    EXPECT_EQ(detail, "");
    EXPECT_EQ(next, script.size());
    expectWholeTranscript();
    expectPortReleased();

    EXPECT_EQ(record->traceType, 'P'); // K is stored as P
    EXPECT_EQ(record->deviceFlag, 3);
    EXPECT_EQ(record->tiltTenths, 37);
    EXPECT_EQ(record->right.ztilt, 3.0); // 37 / 10 in whole degrees
    EXPECT_EQ(record->left.ztilt, 3.0);
    EXPECT_EQ(record->right.fcrv, 4.0); // 47 / 10
    EXPECT_EQ(record->left.fcrv, 5.0);  // 52 / 10
    EXPECT_NEAR(record->fpd, 62.50, 1e-9);
    EXPECT_NEAR(record->boxHeightMean, 30.00, 1e-9);
    EXPECT_NEAR(record->dbl, 19.00, 1e-9);
    EXPECT_NEAR(record->right.circ, 450.00, 1e-9);
    EXPECT_NEAR(record->left.circ, 150.00, 1e-9);

    int rightRadii[2] = {3, 1}, leftRadii[2] = {5, 2}, rightZ[2] = {7, 3}, leftZ[2] = {11, 4};
    expectEye(record->right, 2500, 300, rightRadii, rightZ);
    expectEye(record->left, 2600, -200, leftRadii, leftZ);
    // Spot values: byte 7 of block 2 is 1 (i = 0), byte 7 + 85 is 0x00 (85 * 3 + 1 = 256),
    // and byte 7 + 50 of block 3 is 252 = -4 (50 * 5 + 2).
    EXPECT_EQ(record->right.radiusDelta[0], 1);
    EXPECT_EQ(record->right.radiusDelta[85], 0);
    EXPECT_EQ(record->left.radiusDelta[50], -4);

    // The rest keeps the cleared state.
    EXPECT_EQ(record->job[0], '\0');
    EXPECT_EQ(record->extraLabels[0], '\0');
    EXPECT_EQ(record->right.points[7].radius, 0);
    EXPECT_EQ(record->left.vbox, 0.0);
    EXPECT_EQ(record->right.deviceHbox, 0.0);
}

TEST_F(Lt980Test, TraceTypeLettersOtherThanKAreKept) {
    for (char type : {'F', 'D', 'P'}) {
        SCOPED_TRACE(type);
        script.clear();
        next = consumed = 0;
        heard.clear();
        addWholeReading(type);
        ASSERT_EQ(read(19200), 0) << detail; // the port was closed by the reading before
        EXPECT_EQ(record->traceType, type);
        expectWholeTranscript();
    }
}

TEST_F(Lt980Test, ASilentTracerEndsAfterOneWait) {
    markRecord();
    const auto start = Steady::now();
    // Block 1 (20), its enquiry (10), whose ACK never came (40030 from SendAndConfirm).
    EXPECT_EQ(read(), 40030010010020);
    EXPECT_EQ(detail, kBlockText);
    EXPECT_EQ(transcript(), kEnqByte);
    EXPECT_EQ(clock.sleeps, kPollsIn6s);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - start).count(), 3);
    EXPECT_TRUE(recordUnchanged());
    expectPortReleased();
}

TEST_F(Lt980Test, ABadHeaderOfBlock2) {
    struct Case {
        std::string header;
        int64_t result;
    };
    // 0x01 0x03 in answer to block 2: step 40 of the exchange in step 30 of the reading.
    // Length 1006 instead of 1007: step 50.
    for (const Case& c : {Case{header(3, 1007), 40030}, Case{header(2, 1006), 50030}}) {
        SCOPED_TRACE(c.result);
        script.clear();
        next = consumed = 0;
        heard.clear();
        detail.clear();
        markRecord();
        addBlock(1, measuresBlock(), true);
        script.push_back({kAckByte + kEnqByte, kAckByte});
        script.push_back({request(2), kAckByte + c.header + kRightRadii});
        EXPECT_EQ(read(), c.result);
        EXPECT_EQ(detail, kBlockText);
        EXPECT_EQ(next, script.size());
        // No ACK for a block whose header was refused.
        EXPECT_EQ(transcript(), kEnqByte + request(1) + kAckByte + kEnqByte + request(2));
        EXPECT_TRUE(recordUnchanged());
        expectPortReleased();
    }
}

TEST_F(Lt980Test, ANakToTheRequestOfBlock3) {
    markRecord();
    addBlock(1, measuresBlock(), true);
    addBlock(2, kRightRadii);
    script.push_back({kAckByte + kEnqByte, kAckByte});
    script.push_back({request(3), kNakByte});
    // Refused (40) in the request step (20) of block 3 (40).
    EXPECT_EQ(read(), 40020040);
    EXPECT_EQ(detail, kBlockText);
    EXPECT_EQ(transcript(), kEnqByte + request(1) + kAckByte + kEnqByte + request(2) + kAckByte +
                                kEnqByte + request(3));
    EXPECT_TRUE(recordUnchanged());
    expectPortReleased();
}

TEST_F(Lt980Test, AFailureInTheLastBlockLeavesTheRecordAsItWas) {
    markRecord();
    addBlock(1, measuresBlock(), true);
    addBlock(2, kRightRadii);
    addBlock(3, kLeftRadii);
    addBlock(5, kRightZ);
    script.push_back({kAckByte + kEnqByte, kAckByte});
    script.push_back({request(6), kAckByte + header(6, 1002) + kLeftZ});
    EXPECT_EQ(read(), 50060); // wrong length (50) in block 6 (60)
    EXPECT_EQ(detail, kBlockText);
    EXPECT_EQ(next, script.size());
    EXPECT_TRUE(recordUnchanged());
    expectPortReleased();
}

TEST_F(Lt980Test, OpenFailures) {
    ScratchDir dir;
    markRecord();
    EXPECT_EQ(ReadLt980(*record, dir.file("ttyUSB0").c_str(), 9600, detail), 10010);
    EXPECT_EQ(detail, kOpenText);
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_TRUE(recordUnchanged());

    // Past the open (the rate is refused in step 50 of OpenLink): closed again.
    detail.clear();
    EXPECT_EQ(read(12345), 50010);
    EXPECT_EQ(detail, kOpenText);
    EXPECT_EQ(transcript(), "");
    EXPECT_TRUE(recordUnchanged());

    // So the next reading can open the port.
    heard.clear();
    detail.clear();
    addWholeReading();
    EXPECT_EQ(read(), 0) << detail;
    expectWholeTranscript();
}

TEST_F(Lt980Test, AnUnpluggedTracerMidBlockEndsTheReading) {
    markRecord();
    addBlock(1, measuresBlock(), true);
    script.push_back({kAckByte + kEnqByte, kAckByte});
    // The request is confirmed; the header and the first 300 bytes come on the
    // next poll (the header's), and the tracer goes on the poll after that.
    script.push_back({request(2), kAckByte});
    script.push_back({"", header(2, 1007) + kRightRadii.substr(0, 300)});
    script.push_back({"", "", true});
    const auto start = Steady::now();
    // The queue cannot be looked at (10) in the payload step (60) of block 2 (30).
    EXPECT_EQ(read(), 10060030);
    EXPECT_EQ(detail, kBlockText);
    EXPECT_EQ(next, script.size());
    EXPECT_LE(clock.sleptMs, 4u * 6000u); // within the waits, far from them in fact
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - start).count(), 3);
    EXPECT_TRUE(recordUnchanged());
    // The slave has gone with the master, so the unit's port shows on another
    // device: closed, it gets past the open to the refused rate (50010); left
    // open, OpenLink would give 10 (10010).
    PseudoTerminal another;
    ASSERT_TRUE(another.ok());
    EXPECT_EQ(ReadLt980(*record, another.slavePath().c_str(), 12345, detail), 50010);
}

// One block on an open port, to see the steps of the exchange itself.
class Lt980ExchangeTest : public Lt980Test {
protected:
    void SetUp() override {
        Lt980Test::SetUp();
        ASSERT_EQ(OpenLink(port, pty.slavePath().c_str(), 9600), 0);
    }

    int64_t exchange(int block, int expected) {
        const std::string req = request(block);
        return ExchangeLt980Block(port, reinterpret_cast<const unsigned char*>(req.data()),
                                  kLt980RequestSize, expected, destination, delivered);
    }

    CommPort port;
    unsigned char destination[kLt980LargestPayload + 1];
    int delivered = -1;
};

TEST_F(Lt980ExchangeTest, DeliversThePayloadAfterAcknowledgingIt) {
    std::memset(destination, 0xCC, sizeof destination);
    addBlock(1, measuresBlock('F'), true);
    EXPECT_EQ(exchange(1, kLt980MeasuresSize), 0);
    EXPECT_EQ(delivered, 29);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(destination), 29), measuresBlock('F'));
    EXPECT_EQ(destination[29], 0xCC); // nothing past the payload
    EXPECT_EQ(transcript(), kEnqByte + request(1) + kAckByte);
}

TEST_F(Lt980ExchangeTest, FailuresOfEachStep) {
    struct Case {
        std::vector<Step> turns;
        int64_t result;
        std::string sent;
    };
    const std::string req = request(5);
    const std::string head = header(5, 1003);
    const Case cases[] = {
        {{{kEnqByte, kNakByte}}, 40010010, kEnqByte},                // enquiry refused
        {{{kEnqByte, kAckByte}, {req, "?"}}, 50020, kEnqByte + req}, // neither ACK nor NAK
        {{{kEnqByte, kAckByte}, {req, kAckByte + head.substr(0, 3)}}, 40030, kEnqByte + req},
        {{{kEnqByte, kAckByte}, {req, kAckByte + head + kRightZ.substr(0, 1002)}},
         40060,
         kEnqByte + req},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        script = c.turns;
        next = consumed = 0;
        heard.clear();
        std::memset(destination, 0xCC, sizeof destination);
        EXPECT_EQ(exchange(5, kLt980ZSize), c.result);
        EXPECT_EQ(delivered, 0);
        EXPECT_EQ(destination[0], 0xCC); // nothing delivered from a failed block
        EXPECT_EQ(transcript(), c.sent);
        ASSERT_EQ(port.Purge(kPurgeAll), 0); // what a failed case left behind
    }
}

TEST_F(Lt980ExchangeTest, RefusesWhatCannotBeAskedOrHeld) {
    const unsigned char shortRequest[4] = {0x01, 0x53, 0x00, 0x01};
    EXPECT_EQ(ExchangeLt980Block(port, shortRequest, 4, 29, destination, delivered), 20);
    EXPECT_EQ(exchange(2, kLt980LargestPayload + 1), 50); // more than any block holds
    EXPECT_EQ(exchange(2, -1), 50);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(transcript(), ""); // none of them reached the device
    EXPECT_EQ(clock.sleeps, 0);
}

} // namespace
