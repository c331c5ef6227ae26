#include "Simnetjob.h"

#include "Bytes.h"
#include "Simnet.h"
#include "Simout.h"

#include <cstdint>

namespace sim {

namespace {

constexpr int kPoints = 1000;
// A packed trace: the first value as i16, then the 999 steps as signed bytes.
constexpr std::size_t kPackedTraceBytes = 2 + (kPoints - 1);

// The fixed part's fields (offsets within the payload).
constexpr std::size_t kTraceTypeAt = 0;
constexpr std::size_t kTiltAt = 2;
constexpr std::size_t kFcrvAt = 3;
constexpr std::size_t kFpdAt = 4;
constexpr std::size_t kRightTraceAt = 6;
constexpr std::size_t kRightUnreadAt = kRightTraceAt + kPackedTraceBytes; // 1007
constexpr std::size_t kRightCircAt = 1012;
constexpr std::size_t kLeftCircAt = 1014;
constexpr std::size_t kDblAt = 1028;
constexpr std::size_t kTenthsAt = 1052; // u8 tenths, written back without rounding
constexpr std::size_t kSignedTenthsAt = 1061;
constexpr std::size_t kLeftTraceAt = 1070;
constexpr std::size_t kLeftUnreadAt = kLeftTraceAt + kPackedTraceBytes; // 2071
// Every 16-bit field of the fixed part; the relay store reads each as i16 hundredths.
constexpr std::size_t kSixteenBitFields[] = {4,    1008, 1010, 1012, 1014, 1020, 1022,
                                             1024, 1026, 1028, 1030, 1032, 1034, 1036,
                                             1040, 1042, 1044, 1046, 1054, 1056, 1058};

// An extended block: "EXTENDED", u16 length B (the type field and the data),
// u16 type, then the data; the whole block is B + 10 bytes.
const char* const kExtendedMark = "EXTENDED";
constexpr std::size_t kBlockLengthAt = 8;
constexpr std::size_t kBlockTypeAt = 10;
constexpr std::size_t kBlockFieldsBeforeLength = 10; // the mark and the length field
constexpr uint16_t kHeightType = 10;
constexpr uint16_t kDrillType = 2;
constexpr std::size_t kRightZAt = 28;                                   // within the height block
constexpr std::size_t kLeftZAt = 1044;                                  // within the height block
constexpr std::size_t kHeightBlockBytes = kLeftZAt + kPackedTraceBytes; // 2045
constexpr std::size_t kDrillRecordBytes = 32;
constexpr std::size_t kDrillRecords = 2;
constexpr std::size_t kBlockHeadBytes = 12; // mark, length, type
constexpr std::size_t kDrillBlockBytes = kBlockHeadBytes + kDrillRecords * kDrillRecordBytes;

// The two drill holes, as i16 values at their offsets within a record. The
// program turns them into DRILLE=R;C;12.5;-8.3;2.5;0;0;3;1;F and
// DRILLE=L;C;-12.5;-8.3;2.5;3;4.15;2.5;2;F.
struct DrillField {
    std::size_t at;
    int16_t right;
    int16_t left;
};
constexpr DrillField kDrillFields[] = {
    {0, 1250, -1250}, {2, -830, -830}, {4, 0, 300},  {6, 0, 415},
    {8, 0, 1},        {10, 250, 250},  {20, 30, 25}, {24, 1, 2},
};

bool fits(int64_t value, int64_t low, int64_t high, const std::string& what, std::string& error) {
    if (value >= low && value <= high)
        return true;
    error = what + " is " + decimal(value) + ", outside " + decimal(low) + ".." + decimal(high) +
            " that the Job data field holds";
    return false;
}

bool putByte(std::string& bytes, std::size_t at, int64_t value, const std::string& what,
             std::string& error) {
    if (!fits(value, 0, 255, what, error))
        return false;
    write8(&bytes[at], static_cast<uint8_t>(value));
    return true;
}

bool putUnsigned16(std::string& bytes, std::size_t at, int64_t value, const std::string& what,
                   std::string& error) {
    if (!fits(value, 0, 65535, what, error))
        return false;
    writeLittle16(&bytes[at], static_cast<uint16_t>(value));
    return true;
}

// The first value as i16, then the 999 differences as signed bytes.
bool putPackedTrace(std::string& bytes, std::size_t at, const std::vector<int>& values,
                    const std::string& what, std::string& error) {
    if (!fits(values[0], -32768, 32767, "the first of the " + what, error))
        return false;
    writeLittle16(&bytes[at], static_cast<uint16_t>(values[0]));
    for (int i = 0; i + 1 < kPoints; ++i) {
        const int step = values[i + 1] - values[i];
        if (step < -128 || step > 127) {
            error = what + ": point " + decimal(i) + " to " + decimal(i + 1) + " changes by " +
                    decimal(step) + " hundredths, more than a signed byte holds";
            return false;
        }
        write8(&bytes[at + 2 + static_cast<std::size_t>(i)], static_cast<uint8_t>(step));
    }
    return true;
}

std::string eyeName(int side) {
    return side == kRight ? "right" : "left";
}

bool checkEye(const EyeTrace& eye, int side, std::string& error) {
    if (!eye.hasRadii || eye.radii.size() != kPoints) {
        error = "the networked tracer sends 1000 radii per eye; the " + eyeName(side) +
                " eye has " + decimal(static_cast<int64_t>(eye.radii.size()));
        return false;
    }
    if (eye.hasZ && eye.z.size() != kPoints) {
        error = "the networked tracer sends 1000 z values per eye; the " + eyeName(side) +
                " eye has " + decimal(static_cast<int64_t>(eye.z.size()));
        return false;
    }
    return true;
}

bool fixedPart(const Frame& frame, std::string& fixed, std::string& error) {
    const Measures& m = frame.measures;
    fixed.assign(kJobFixedBytes, '\0');
    fixed[kTraceTypeAt] = 'F'; // a full frame
    return putByte(fixed, kTiltAt, m.ztilt[kRight], "ZTILT right in tenths", error) &&
           putByte(fixed, kFcrvAt, m.fcrv[kRight], "FCRV right in tenths", error) &&
           putUnsigned16(fixed, kFpdAt, frame.fpdHundredths(), "FPD in hundredths", error) &&
           putPackedTrace(fixed, kRightTraceAt, frame.eye[kRight].radii, "right radii", error) &&
           putUnsigned16(fixed, kRightCircAt, m.circ[kRight], "CIRC right in hundredths", error) &&
           putUnsigned16(fixed, kLeftCircAt, m.circ[kLeft], "CIRC left in hundredths", error) &&
           putUnsigned16(fixed, kDblAt, m.dbl, "DBL in hundredths", error) &&
           putPackedTrace(fixed, kLeftTraceAt, frame.eye[kLeft].radii, "left radii", error);
}

std::string blockHead(std::size_t blockBytes, uint16_t type) {
    std::string head(kExtendedMark);
    head.resize(kBlockHeadBytes, '\0');
    writeLittle16(&head[kBlockLengthAt],
                  static_cast<uint16_t>(blockBytes - kBlockFieldsBeforeLength));
    writeLittle16(&head[kBlockTypeAt], type);
    return head;
}

// Both eyes' z traces; an eye without z values sends a flat one.
bool heightBlock(const Frame& frame, std::string& block, std::string& error) {
    block = blockHead(kHeightBlockBytes, kHeightType);
    block.resize(kHeightBlockBytes, '\0');
    const std::vector<int> flat(kPoints, 0);
    const EyeTrace& right = frame.eye[kRight];
    const EyeTrace& left = frame.eye[kLeft];
    return putPackedTrace(block, kRightZAt, right.hasZ ? right.z : flat, "right z values", error) &&
           putPackedTrace(block, kLeftZAt, left.hasZ ? left.z : flat, "left z values", error);
}

std::string drillBlock() {
    std::string block = blockHead(kDrillBlockBytes, kDrillType);
    block.resize(kDrillBlockBytes, '\0');
    for (const DrillField& field : kDrillFields) {
        writeLittle16(&block[kBlockHeadBytes + field.at], static_cast<uint16_t>(field.right));
        writeLittle16(&block[kBlockHeadBytes + kDrillRecordBytes + field.at],
                      static_cast<uint16_t>(field.left));
    }
    return block;
}

} // namespace

bool buildNetJob(const Frame& frame, bool drill, NetJob& job, std::string& error) {
    job = NetJob{};
    if (!checkEye(frame.eye[kRight], kRight, error) || !checkEye(frame.eye[kLeft], kLeft, error) ||
        !fixedPart(frame, job.fixed, error))
        return false;
    if (frame.hasZ() && !heightBlock(frame, job.blocks, error))
        return false;
    if (drill)
        job.blocks += drillBlock();
    return true;
}

// Each scaled field goes through a double as the program holds it, and back
// with the same operations in the same order, so that a value whose binary
// form lies just below its decimal (0.29 as i16 29 times 0.01) comes back one
// unit lower exactly when the program's does.
std::string relayedFixedPart(const std::string& fixed) {
    std::string back = fixed; // bytes and the two traces come back as they are
    back[kRightUnreadAt] = '\0';
    back[kLeftUnreadAt] = '\0';
    for (const std::size_t at : {kTiltAt, kFcrvAt}) {
        const double held = readU8(&fixed[at]) * 0.1;
        write8(&back[at], static_cast<uint8_t>(static_cast<int>(held * 10 + 0.5)));
    }
    const double tenths = readU8(&fixed[kTenthsAt]) * 0.1;
    write8(&back[kTenthsAt], static_cast<uint8_t>(static_cast<int>(tenths * 10)));
    const double signedTenths = readS8(&fixed[kSignedTenthsAt]) * 0.1;
    write8(&back[kSignedTenthsAt], static_cast<uint8_t>(static_cast<int>(signedTenths * 10)));
    // The bytes at 1053 and 1062 to 1069 are held as whole numbers and come back unchanged.
    for (const std::size_t at : kSixteenBitFields) {
        const double held = readLittleS16(&fixed[at]) * 0.01;
        writeLittle16(&back[at], static_cast<uint16_t>(static_cast<int>(held * 100)));
    }
    return back;
}

std::string jobIdentification(const std::string& job) {
    std::string payload = job.substr(0, kJobTextBytes);
    payload.resize(kJobTextBytes, '\0');
    return payload;
}

} // namespace sim
