#include "Takubo.h"

#include "Bytes.h"
#include "Clock.h"
#include "Serial.h"

#include <cstring>

namespace {

constexpr unsigned char kStx = 0x02;
constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kEtx = 0x03;

// STX, CR, ten digits, CR, two digits, CR, ETX: 17 bytes.
constexpr unsigned char kRequest1[kTakubomaticMessageSize] = {
    kStx, kCr, '0', '7', '0', '6', '0', '0', '0', '1', '0', '6', kCr, '1', '0', kCr, kEtx};
constexpr unsigned char kAnswer1[kTakubomaticMessageSize] = {
    kStx, kCr, '0', '8', '0', '7', '0', '0', '0', '2', '0', '6', kCr, '1', '3', kCr, kEtx};
constexpr unsigned char kRequest2[kTakubomaticMessageSize] = {
    kStx, kCr, '0', '7', '0', '8', '0', '0', '0', '3', '0', '6', kCr, '1', '4', kCr, kEtx};

constexpr uint32_t kAnswerDelayMs = 1000; // the tracer's time to prepare an answer

// The data block. Each trace is a 16-bit first value and 399 signed byte
// differences: 2 + 399 = 401 bytes, the four traces following one another.
constexpr int kTraceBytes = 2 + kTakubomaticDifferences;
constexpr int kRightRadii = 15;
constexpr int kRightZ = kRightRadii + kTraceBytes; // 416
constexpr int kLeftRadii = kRightZ + kTraceBytes;  // 817
constexpr int kLeftZ = kLeftRadii + kTraceBytes;   // 1218
constexpr int kFpd = 1641;                         // after 22 unused bytes from 1619
constexpr int kRightHbox = 1675;
constexpr int kRightVbox = 1677;
constexpr int kLeftHbox = 1681;
constexpr int kLeftVbox = 1683;
constexpr int kDbl = 1687;
static_assert(kLeftZ + kTraceBytes == 1619);
static_assert(kDbl + 2 + 8 == kTakubomaticBlockSize);
static_assert(kTakubomaticDifferences <= kPackedDifferences);
static_assert(kTakubomaticPoints <= kTracePointSlots);

constexpr double kHundredthsToMm = 0.01;

const char* const kRequestText = "Erro na solicitação de dados para o Tracer.";

double hundredths(const unsigned char* block, int offset) {
    return readLittleU16(block + offset) * kHundredthsToMm;
}

// Reorders one trace of the block and stores it as the eye's first value and
// its differences 0 to 398.
void storeTrace(const unsigned char* block, int offset, int16_t& first, int8_t* deltas) {
    int32_t value = readLittleU16(block + offset);
    int8_t differences[kTakubomaticDifferences];
    for (int i = 0; i < kTakubomaticDifferences; ++i)
        differences[i] = readS8(block + offset + 2 + i);
    ReorderTakubomaticTrace(value, differences);
    first = static_cast<int16_t>(value); // already within 16 bits
    std::memcpy(deltas, differences, sizeof differences);
}

void fillRecord(struct_tracedata& record, const unsigned char* block) {
    clearTraceData(record);
    record.fpd = hundredths(block, kFpd);
    record.right.deviceHbox = hundredths(block, kRightHbox);
    record.right.deviceVbox = hundredths(block, kRightVbox);
    record.left.deviceHbox = hundredths(block, kLeftHbox);
    record.left.deviceVbox = hundredths(block, kLeftVbox);
    record.dbl = hundredths(block, kDbl);
    storeTrace(block, kRightRadii, record.right.firstRadius, record.right.radiusDelta);
    storeTrace(block, kRightZ, record.right.firstZ, record.right.zDelta);
    storeTrace(block, kLeftRadii, record.left.firstRadius, record.left.radiusDelta);
    storeTrace(block, kLeftZ, record.left.firstZ, record.left.zDelta);
    for (struct_eyetrace* eye : {&record.right, &record.left}) {
        eye->radiusCount = kTakubomaticPoints;
        eye->zCount = kTakubomaticPoints;
    }
}

// Request 1 and its fixed answer: 0, or the error number of step 20.
int64_t requestData(CommPort& port) {
    unsigned char answer[kTakubomaticMessageSize] = {};
    int got = 0;
    const int64_t exchanged =
        ExchangeTakubomaticBlock(port, kRequest1, sizeof kRequest1, sizeof answer, answer, got);
    if (exchanged != 0)
        return NestedError(exchanged, 20);
    if (got < kTakubomaticMessageSize || std::memcmp(answer, kAnswer1, sizeof answer) != 0)
        return 20;
    return 0;
}

// Request 2 and the data block: 0, or the error number of step 30.
int64_t receiveBlock(CommPort& port, unsigned char* block) {
    int got = 0;
    const int64_t exchanged = ExchangeTakubomaticBlock(port, kRequest2, sizeof kRequest2,
                                                       kTakubomaticBlockSize, block, got);
    if (exchanged != 0)
        return NestedError(exchanged, 30);
    return got < kTakubomaticBlockSize ? 30 : 0;
}

} // namespace

int64_t ExchangeTakubomaticBlock(CommPort& port, const unsigned char* request, int length,
                                 int wanted, unsigned char* destination, int& delivered) {
    delivered = 0;
    const int64_t sent = SendBlock(port, request, length);
    if (sent != 0)
        return NestedError(sent, 20);
    activeClock().sleep(kAnswerDelayMs);
    // Received here first, so a failed exchange leaves the destination alone.
    unsigned char received[kTakubomaticBlockSize];
    const int take =
        wanted < 0 ? 0 : (wanted > kTakubomaticBlockSize ? kTakubomaticBlockSize : wanted);
    int got = 0;
    const int64_t result = ReceiveBlock(port, take, received, got);
    if (result != 0)
        return NestedError(result, 30);
    std::memcpy(destination, received, static_cast<std::size_t>(got));
    delivered = got;
    return 0;
}

int64_t ReadTakubomatic(struct_tracedata& record, const char* device, int baudRate,
                        std::string& detail) {
    CommPort port; // open only while the reading runs
    if (const int64_t opened = OpenLinkForReading(port, device, baudRate, detail); opened != 0)
        return opened;
    const int64_t requested = requestData(port);
    if (requested != 0) {
        static_cast<void>(CloseLink(port)); // the request's failure is the one to tell
        detail = kRequestText;
        return requested;
    }
    unsigned char block[kTakubomaticBlockSize] = {};
    const int64_t received = receiveBlock(port, block);
    if (received != 0) {
        static_cast<void>(CloseLink(port)); // the block's failure is the one to tell
        detail = kLinkReceiveFailed;
        return received;
    }
    if (const int64_t closed = CloseLinkAfterReading(port, 1040, detail); closed != 0)
        return closed;
    fillRecord(record, block);
    return 0;
}

void ReorderTakubomaticTrace(int32_t& first, int8_t (&differences)[kTakubomaticDifferences]) {
    // 32-bit sums of the sign-extended differences; unsigned so that a device's
    // nonsense cannot overflow a signed integer.
    uint32_t points[kTakubomaticPoints];
    points[0] = static_cast<uint32_t>(first);
    for (int i = 0; i < kTakubomaticDifferences; ++i)
        points[i + 1] = points[i] + static_cast<uint32_t>(int32_t{differences[i]});
    // New point k is old point (100 - k) mod 400.
    constexpr int kNewStart = 100;
    auto stored = [&points](int k) {
        return points[(kNewStart - k + kTakubomaticPoints) % kTakubomaticPoints];
    };
    first = static_cast<int16_t>(static_cast<uint16_t>(stored(0) & 0xFFFFu));
    for (int k = 0; k < kTakubomaticDifferences; ++k)
        differences[k] =
            static_cast<int8_t>(static_cast<uint8_t>((stored(k + 1) - stored(k)) & 0xFFu));
}
