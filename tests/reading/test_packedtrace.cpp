#include "Packedtrace.h"

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

} // namespace
