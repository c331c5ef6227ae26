#include "Commnavis.h"

#include "Bytes.h"
#include "Serial.h"

#include <array>
#include <cstring>

namespace {

constexpr unsigned char kRequestStart = 0x01;
constexpr unsigned char kRequestLetter = 0x53; // 'S'
constexpr int kHeaderSize = 4;                 // 2 bytes echo of the request, 2 bytes length

// Block 1: the offsets of the measures in the payload.
constexpr int kTraceTypeAt = 11;
constexpr int kDeviceFlagAt = 12;
constexpr int kTiltAt = 13;
constexpr int kRightCurveAt = 14;
constexpr int kLeftCurveAt = 15;
constexpr int kFpdAt = 16;
constexpr int kBoxHeightAt = 18;
constexpr int kDblAt = 20;
constexpr int kRightCircAt = 22;
constexpr int kLeftCircAt = 24;
constexpr double kHundredths = 0.01; // the 16-bit measures are in 0.01 mm
constexpr int kTenths = 10;          // tilt and curves come in tenths, kept whole

// Blocks 2, 3 (radii) and 5, 6 (z): the first value, then the differences.
constexpr int kFirstRadiusAt = 5;
constexpr int kRadiusDeltasAt = kFirstRadiusAt + 2;
constexpr int kFirstZAt = 1;
constexpr int kZDeltasAt = kFirstZAt + 2;
constexpr int kDifferences = 999;               // per eye, after the first value
constexpr int kPointsPerEye = kDifferences + 1; // 1000 outline points
static_assert(kDifferences <= kPackedDifferences, "the record holds every difference");
static_assert(kPointsPerEye <= kTracePointSlots, "the record holds every point");
// The differences end one byte before the end of their block.
static_assert(kRadiusDeltasAt + kDifferences == kLt980RadiiSize - 1);
static_assert(kZDeltasAt + kDifferences == kLt980ZSize - 1);

// The payloads of one reading, kept apart until every block has come.
struct Lt980Blocks {
    unsigned char measures[kLt980MeasuresSize];
    unsigned char rightRadii[kLt980RadiiSize];
    unsigned char leftRadii[kLt980RadiiSize];
    unsigned char rightZ[kLt980ZSize];
    unsigned char leftZ[kLt980ZSize];
};

void storeMeasures(const unsigned char* block, struct_tracedata& record) {
    const char type = static_cast<char>(block[kTraceTypeAt]);
    record.traceType = type == 'K' ? 'P' : type;
    record.deviceFlag = block[kDeviceFlagAt];
    record.tiltTenths = block[kTiltAt];
    // Integer division: whole degrees and whole curves, as the tracer's software keeps them.
    record.right.ztilt = record.left.ztilt = block[kTiltAt] / kTenths;
    record.right.fcrv = block[kRightCurveAt] / kTenths;
    record.left.fcrv = block[kLeftCurveAt] / kTenths;
    record.fpd = readBigU16(block + kFpdAt) * kHundredths;
    record.boxHeightMean = readBigU16(block + kBoxHeightAt) * kHundredths;
    record.dbl = readBigU16(block + kDblAt) * kHundredths;
    record.right.circ = readBigU16(block + kRightCircAt) * kHundredths;
    record.left.circ = readBigU16(block + kLeftCircAt) * kHundredths;
}

void storeEye(const unsigned char* radii, const unsigned char* z, struct_eyetrace& eye) {
    eye.firstRadius = readBigS16(radii + kFirstRadiusAt);
    eye.firstZ = readBigS16(z + kFirstZAt);
    for (int i = 0; i < kDifferences; ++i) {
        eye.radiusDelta[i] = readS8(radii + kRadiusDeltasAt + i);
        eye.zDelta[i] = readS8(z + kZDeltasAt + i);
    }
    eye.radiusCount = kPointsPerEye;
    eye.zCount = kPointsPerEye;
}

void storeBlocks(const Lt980Blocks& blocks, struct_tracedata& record) {
    clearTraceData(record);
    storeMeasures(blocks.measures, record);
    storeEye(blocks.rightRadii, blocks.rightZ, record.right);
    storeEye(blocks.leftRadii, blocks.leftZ, record.left);
}

} // namespace

int64_t ExchangeLt980Block(CommPort& port, const unsigned char* request, int requestLength,
                           int expected, unsigned char* destination, int& delivered) {
    delivered = 0;
    if (request == nullptr || requestLength != kLt980RequestSize)
        return 20;
    if (destination == nullptr || expected < 0 || expected > kLt980LargestPayload)
        return 50;

    const int64_t enquired = Enquire(port);
    if (enquired != 0)
        return NestedError(enquired, 10);
    const int64_t confirmed = SendAndConfirm(port, request, requestLength);
    if (confirmed != 0)
        return NestedError(confirmed, 20);

    unsigned char header[kHeaderSize] = {};
    int got = 0;
    const int64_t headerResult = ReceiveBlock(port, kHeaderSize, header, got);
    if (headerResult != 0)
        return NestedError(headerResult, 30);
    if (header[0] != request[3] || header[1] != request[4])
        return 40;
    if (readBigU16(header + 2) != expected)
        return 50;

    std::array<unsigned char, kLt980LargestPayload> payload{};
    const int64_t payloadResult = ReceiveBlock(port, expected, payload.data(), got);
    if (payloadResult != 0)
        return NestedError(payloadResult, 60);
    const int64_t acknowledged = SendBlock(port, &kAck, 1);
    if (acknowledged != 0)
        return NestedError(acknowledged, 70);

    std::memcpy(destination, payload.data(), static_cast<std::size_t>(expected));
    delivered = expected;
    return 0;
}

int64_t ReadLt980(struct_tracedata& record, const char* device, int baudRate, std::string& detail) {
    CommPort port; // open only while the reading runs
    if (const int64_t opened = OpenLinkForReading(port, device, baudRate, detail); opened != 0)
        return opened;

    Lt980Blocks blocks{};
    struct Step {
        unsigned char number;
        int length;
        unsigned char* destination;
        int64_t code;
    };
    const Step steps[] = {
        {1, kLt980MeasuresSize, blocks.measures, 20}, {2, kLt980RadiiSize, blocks.rightRadii, 30},
        {3, kLt980RadiiSize, blocks.leftRadii, 40},   {5, kLt980ZSize, blocks.rightZ, 50},
        {6, kLt980ZSize, blocks.leftZ, 60},
    };
    for (const Step& step : steps) {
        const unsigned char request[kLt980RequestSize] = {kRequestStart, kRequestLetter, 0x00, 0x01,
                                                          step.number};
        int delivered = 0;
        const int64_t exchanged = ExchangeLt980Block(port, request, kLt980RequestSize, step.length,
                                                     step.destination, delivered);
        if (exchanged != 0) {
            static_cast<void>(CloseLink(port)); // the exchange's failure is the one to tell
            detail = kLinkReceiveFailed;
            return NestedError(exchanged, step.code);
        }
    }

    if (const int64_t closed = CloseLinkAfterReading(port, 1070, detail); closed != 0)
        return closed;
    storeBlocks(blocks, record);
    return 0;
}
