#include "Packedtrace.h"

#include "Simpacked.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PackedTraceStatus decode(const std::string& wire, int count, std::vector<int16_t>& values,
                         int capacity = 2000) {
    values.assign(static_cast<size_t>(capacity), 0);
    return decodePackedTrace(reinterpret_cast<const unsigned char*>(wire.data()), wire.size(),
                             count, values.data(), capacity);
}

TEST(PackedTrace, RealTracersListDecodesToItsRadii) {
    const PackedSample sample = readPackedSample();
    ASSERT_EQ(sample.radii.size(), 512u);
    std::vector<int16_t> values;
    ASSERT_EQ(decode(sample.wire, 512, values), kPackedDecoded);
    EXPECT_EQ(std::vector<int>(values.begin(), values.begin() + 512), sample.radii);
    // Every byte counts: one less ends early; whole bytes after the count run past it.
    EXPECT_EQ(decode(sample.wire.substr(0, sample.wire.size() - 1), 512, values), kPackedEndsEarly);
    EXPECT_EQ(decode(sample.wire, 500, values), kPackedPastCount);
}

TEST(PackedTrace, BrokenListsAreRefused) {
    struct Row {
        const char* what;
        std::string wire;
        int count;
        int capacity;
        PackedTraceStatus status;
    };
    const Row rows[] = {
        {"empty", "", 1, 10, kPackedEndsEarly},
        {"nothing wanted", "", 0, 10, kPackedDecoded},
        {"half an absolute value", "\x5d", 1, 10, kPackedEndsEarly},
        {"an escape at the end", std::string("\x5d\x1b", 2), 1, 10, kPackedEndsEarly},
        {"switches only", std::string("\x00\x80\x80\x81", 4), 1, 10, kPackedEndsEarly},
        {"more than the capacity", "\x5d\x09", 11, 10, kPackedNoRoom},
        {"negative count", "", -1, 10, kPackedNoRoom},
        // 32767, then difference mode and +1.
        {"past 16 bits", std::string("\xff\x7f\x00\x80\x01", 5), 2, 10, kPackedOutOfRange},
        // 0x0001, then a second-difference nibble and its pad: done.
        {"pad nibble", std::string("\x01\x00\x00\x80\x80\x00", 6), 2, 10, kPackedDecoded},
    };
    for (const Row& row : rows) {
        std::vector<int16_t> values;
        EXPECT_EQ(decode(row.wire, row.count, values, row.capacity), row.status) << row.what;
    }
}

// The simulator's encoder, written from the format's description on its own,
// and the program's decoder agree: every list comes back as it went, and the
// encoded bytes hold no byte a record's framing takes for its own.
TEST(PackedTrace, SimulatorsEncoderAndTheDecoderAgree) {
    std::vector<int> smooth;
    for (int i = 0; i < 1440; ++i)
        smooth.push_back(2500 + (i * 37 % 400) / 10 - (i % 90 == 0 ? 300 : 0));
    const PackedSample sample = readPackedSample();
    const struct {
        const char* what;
        std::vector<int> values;
        std::string holds; // bytes the encoded list must hold
    } rows[] = {
        // absolute -> difference -> second -> difference -> absolute -> second -> absolute
        {"every mode and switch",
         {2000, 2010, 2020, 2031, 2041, 2141, 2100, 9000, 9001, 9002, 9003, 20, 21, 22},
         ""},
        {"steps at the edges", {1000, 874, 1001, 1001, 1008, 1008, 1001, 874, 1000, 872}, ""},
        {"near 0 and 32767", {0, 1, -1, 32767, 32766, 32767, -32767, 0, 32767}, ""},
        {"escaped bytes", {3338, 7197, 1553, 5395, 6942}, "\x1b"},
        {"NUL bytes", {0, 0, 0, 256, 256, 256, 0}, std::string(1, '\0')},
        {"a real tracer's list", std::vector<int>(sample.radii), ""},
        {"1440 points", smooth, ""},
        {"one point", {2500}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string bytes;
        ASSERT_TRUE(sim::encodePacked(row.values, bytes));
        EXPECT_EQ(bytes.find_first_of(std::string("\x06\x0a\x0d\x11\x13\x15\x1c\x1d\x1e", 9)),
                  std::string::npos);
        EXPECT_NE(bytes.find(row.holds), std::string::npos);
        std::vector<int16_t> values;
        const int count = static_cast<int>(row.values.size());
        ASSERT_EQ(decode(bytes, count, values), kPackedDecoded);
        EXPECT_EQ(std::vector<int>(values.begin(), values.begin() + count), row.values);
    }
    std::string bytes;
    EXPECT_FALSE(sim::encodePacked({0, 30000, -32768}, bytes)); // the switch code is no value
}

} // namespace
