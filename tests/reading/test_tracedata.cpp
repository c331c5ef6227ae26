#include "Tracedata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<struct_tracedata> emptyRecord() {
    auto record = std::make_unique<struct_tracedata>();
    std::memset(record.get(), 0x5A, sizeof *record); // what a previous reading left
    clearTraceData(*record);
    return record;
}

void setCircle(struct_eyetrace& eye, int count, int16_t radius) {
    eye.radiusCount = count;
    for (int i = 0; i < count; ++i)
        eye.points[i].radius = radius;
}

TEST(ClearTraceData, EmptiesEveryField) {
    auto record = emptyRecord();
    EXPECT_STREQ(record->job, "");
    EXPECT_EQ(record->traceType, 0);
    EXPECT_EQ(record->tiltTenths, 0);
    EXPECT_EQ(record->fpd, 0.0);
    EXPECT_STREQ(record->extraLabels, "");
    for (const struct_eyetrace* eye : {&record->right, &record->left}) {
        EXPECT_EQ(eye->radiusCount, 0);
        EXPECT_EQ(eye->zCount, 0);
        EXPECT_EQ(eye->radiusDelta[999], 0);
        EXPECT_EQ(eye->points[1999].radius, 0);
        EXPECT_EQ(eye->points[1999].x, 0.0);
        EXPECT_EQ(eye->points[1999].z, 0);
        EXPECT_EQ(eye->diag, 0.0);
    }
}

TEST(ComputeGeometry, PackedDifferencesFillMissingRadiiAndZ) {
    auto record = emptyRecord();
    record->right.firstRadius = 2500;
    record->right.firstZ = -40;
    for (int k = 0; k < kPackedDifferences; ++k) {
        record->right.radiusDelta[k] = static_cast<int8_t>(k % 2 == 0 ? 3 : -2);
        record->right.zDelta[k] = 1;
    }
    record->right.zCount = 1000;
    computeGeometry(*record);
    EXPECT_EQ(record->right.points[0].radius, 2500);
    EXPECT_EQ(record->right.points[1].radius, 2503);
    EXPECT_EQ(record->right.points[2].radius, 2501);
    EXPECT_EQ(record->right.points[999].radius, 2500 + 500 * 3 - 499 * 2);
    EXPECT_EQ(record->right.points[0].z, -40);
    EXPECT_EQ(record->right.points[999].z, -40 + 999);
    EXPECT_EQ(record->right.radiusCount, 1000);
}

TEST(ComputeGeometry, GivenRadiiWinOverDifferencesAndZerosRepeatThePrevious) {
    auto record = emptyRecord();
    setCircle(record->right, 4, 1000);
    record->right.points[2].radius = 0;
    record->right.radiusDelta[1] = 50; // used only for the missing radius
    record->right.radiusDelta[0] = 90; // ignored: radius 1 is given
    record->right.points[0].z = 7;
    computeGeometry(*record);
    EXPECT_EQ(record->right.points[1].radius, 1000);
    EXPECT_EQ(record->right.points[2].radius, 1050);
    EXPECT_EQ(record->right.points[3].radius, 1000);
    EXPECT_EQ(record->right.points[3].z, 7);
}

TEST(ComputeGeometry, CircleOfTwentyFiveMillimetres) {
    auto record = emptyRecord();
    setCircle(record->right, 1000, 2500);
    setCircle(record->left, 1000, 2500);
    computeGeometry(*record);
    const struct_eyetrace& eye = record->right;
    EXPECT_NEAR(eye.minX, -25.0, 1e-9);
    EXPECT_NEAR(eye.maxX, 25.0, 0.001); // point 0 is not in the extremes
    EXPECT_NEAR(eye.hbox, 50.0, 0.001);
    EXPECT_NEAR(eye.vbox, 50.0, 0.001);
    EXPECT_NEAR(eye.diag, 50.0, 1e-9);
    EXPECT_NEAR(record->boxHeightMean, 50.0, 0.001);
    EXPECT_DOUBLE_EQ(eye.points[250].angle, 250 * (6.283185307179586 / 1000));
    EXPECT_DOUBLE_EQ(eye.points[1].radiusMm, 25.0);
    EXPECT_EQ(record->traceType, 'F');
}

TEST(ComputeGeometry, FourHundredPointsUseOnlyTheirSlots) {
    auto record = emptyRecord();
    setCircle(record->right, 400, 2000);
    record->right.points[400].radius = 3000; // beyond the count: not part of the outline
    computeGeometry(*record);
    EXPECT_EQ(record->right.radiusCount, 400);
    EXPECT_DOUBLE_EQ(record->right.points[100].angle, 100 * (6.283185307179586 / 400));
    EXPECT_NEAR(record->right.vbox, 40.0, 1e-9);
    EXPECT_EQ(record->right.points[400].x, 0.0);
    EXPECT_NEAR(record->right.diag, 40.0, 1e-9);
}

TEST(ComputeGeometry, ExtremesNeverCrossZero) {
    auto record = emptyRecord();
    // Only a quarter of the outline lies away from the centre.
    record->right.radiusCount = 8;
    record->right.points[0].radius = 1;
    record->right.points[1].radius = 1000;
    for (int i = 2; i < 8; ++i)
        record->right.points[i].radius = 1;
    computeGeometry(*record);
    EXPECT_GT(record->right.maxX, 7.0);
    EXPECT_LE(record->right.minX, 0.0);
    EXPECT_LE(record->right.minY, 0.0);
    EXPECT_GE(record->right.maxY, 0.0);
}

TEST(ComputeGeometry, PointZeroTakesPartInTheDiagonalButNotInTheBox) {
    auto record = emptyRecord();
    setCircle(record->right, 4, 1000);
    record->right.points[0].radius = 3000; // sticks out to the right
    computeGeometry(*record);
    EXPECT_NEAR(record->right.maxX, 0.0, 1e-9); // point 2 lies at x = -10 only
    EXPECT_NEAR(record->right.minX, -10.0, 1e-9);
    EXPECT_NEAR(record->right.hbox, 10.0, 1e-9);
    EXPECT_NEAR(record->right.diag, 40.0, 1e-9); // from point 0 to point 2
}

TEST(ComputeGeometry, DistanceBetweenLensesFromFramePd) {
    auto record = emptyRecord();
    setCircle(record->right, 1000, 2500);
    setCircle(record->left, 1000, 2500);
    record->fpd = 66.0;
    computeGeometry(*record);
    // 66 - maxX(right) + minX(left); maxX misses point 0 by a hair.
    EXPECT_NEAR(record->dbl, 66.0 - record->right.maxX - 25.0, 1e-9);
    EXPECT_NEAR(record->dbl, 16.0, 0.001);

    auto tilted = emptyRecord();
    setCircle(tilted->right, 1000, 2500);
    setCircle(tilted->left, 1000, 2500);
    tilted->fpd = 66.0;
    tilted->tiltTenths = 100; // 10 degrees
    computeGeometry(*tilted);
    const double c = std::cos(10.0 * 3.141592653589793 / 180.0);
    EXPECT_NEAR(tilted->dbl, 66.0 - c * tilted->right.maxX + c * tilted->left.minX, 1e-9);

    auto given = emptyRecord();
    given->fpd = 66.0;
    given->dbl = 18.0;
    computeGeometry(*given);
    EXPECT_EQ(given->dbl, 18.0);
}

TEST(ComputeGeometry, DeviceValuesStay) {
    auto record = emptyRecord();
    record->traceType = 'P';
    record->boxHeightMean = 33.0;
    computeGeometry(*record);
    EXPECT_EQ(record->traceType, 'P');
    EXPECT_EQ(record->boxHeightMean, 33.0);
}

TEST(ComputeGeometry, AllZeroTracingHasZeroSize) {
    auto record = emptyRecord();
    computeGeometry(*record);
    EXPECT_EQ(record->right.radiusCount, 1000);
    EXPECT_EQ(record->left.radiusCount, 1000);
    EXPECT_EQ(record->right.hbox, 0.0);
    EXPECT_EQ(record->left.diag, 0.0);
    EXPECT_EQ(record->boxHeightMean, 0.0);
}

TEST(ComputeGeometry, RunningTwiceGivesTheSameRecord) {
    auto record = emptyRecord();
    record->right.firstRadius = 2400;
    for (int k = 0; k < kPackedDifferences; ++k)
        record->right.radiusDelta[k] = static_cast<int8_t>((k / 100) % 2 == 0 ? 1 : -1);
    setCircle(record->left, 400, 2200);
    record->fpd = 64.0;
    computeGeometry(*record);
    auto copy = std::make_unique<struct_tracedata>(*record);
    computeGeometry(*record);
    EXPECT_EQ(std::memcmp(copy.get(), record.get(), sizeof *record), 0);
}

TEST(ComputeGeometry, CountsBeyondTheSlotsAreLimited) {
    auto record = emptyRecord();
    record->right.radiusCount = 5000;
    record->right.zCount = 5000;
    record->left.radiusCount = -3;
    record->left.zCount = -1;
    computeGeometry(*record); // must not read or write past the 2000 slots
    EXPECT_EQ(record->right.radiusCount, kTracePointSlots);
    EXPECT_EQ(record->right.zCount, kTracePointSlots);
    EXPECT_EQ(record->left.radiusCount, kDefaultRadiusCount);
    EXPECT_EQ(record->left.zCount, 0);
    EXPECT_EQ(usableRadiusCount(record->right), kTracePointSlots);
}

TEST(ComputeGeometry, DiagonalOfLongOutlinesTakesEveryPoint) {
    auto record = emptyRecord();
    // 1440 points: a circle of 20 mm whose only long radius lies past slot 1000.
    setCircle(record->right, 1440, 2000);
    record->right.points[1080].radius = 3000; // at 270 degrees, straight down
    computeGeometry(*record);
    // Chord from the 30 mm point down to the 20 mm point straight up: 50 mm.
    EXPECT_NEAR(record->right.diag, 50.0, 1e-9);
    EXPECT_NEAR(record->right.vbox, 50.0, 1e-9);
}

// The diagonal search skips pairs that cannot be the longest; what it finds
// must be exactly what a search of every pair of slots finds.
TEST(ComputeGeometry, DiagonalEqualsTheSearchOfEveryPair) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 60; ++round) {
        auto record = emptyRecord();
        struct_eyetrace& eye = record->right;
        const int count = std::uniform_int_distribution<int>(3, kTracePointSlots)(random);
        eye.radiusCount = count;
        const int base = std::uniform_int_distribution<int>(500, 3000)(random);
        const int spread = round % 3 == 0 ? 2500 : 300; // spiky or lens-like
        std::uniform_int_distribution<int> jitter(-spread, spread);
        for (int i = 0; i < count; ++i)
            eye.points[i].radius = static_cast<int16_t>(std::max(1, base + jitter(random)));
        computeGeometry(*record);
        const int slots = std::max(count, 1000);
        double best = 0;
        for (int i = 0; i < slots; ++i)
            for (int j = i + 1; j < slots; ++j) {
                const double dx = eye.points[i].x - eye.points[j].x;
                const double dy = eye.points[i].y - eye.points[j].y;
                best = std::max(best, dx * dx + dy * dy);
            }
        ASSERT_EQ(eye.diag, std::sqrt(best)) << "round " << round << ", " << count << " points";
    }
}

} // namespace
