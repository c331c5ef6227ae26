#include "Tracedata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

constexpr double kHundredthsToMm = 0.01;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kTenthsOfDegreeToHalfTurns = 1.0 / 1800.0;
// Pairs of slots searched for the diagonal: at least the 1000 slots that every
// outline of up to 1000 points is measured over, more when the outline is longer.
constexpr int kDiagonalSlots = 1000;

int clampCount(int32_t count) {
    if (count < 0)
        return 0;
    return count > kTracePointSlots ? kTracePointSlots : count;
}

void clearEye(struct_eyetrace& eye) {
    eye.firstRadius = 0;
    eye.firstZ = 0;
    std::memset(eye.radiusDelta, 0, sizeof eye.radiusDelta);
    std::memset(eye.zDelta, 0, sizeof eye.zDelta);
    eye.fcrv = eye.circ = eye.ztilt = 0;
    eye.deviceHbox = eye.deviceVbox = 0;
    eye.minX = eye.maxX = eye.minY = eye.maxY = 0;
    eye.vbox = eye.hbox = eye.diag = 0;
    eye.radiusCount = 0;
    eye.zCount = 0;
    for (struct_tracepoint& p : eye.points)
        p = struct_tracepoint{};
}

// The packed difference between point i-1 and point i; none exists past the table.
int difference(const int8_t* deltas, int i) {
    return i - 1 < kPackedDifferences ? deltas[i - 1] : 0;
}

void completeOutline(struct_eyetrace& eye) {
    struct_tracepoint& first = eye.points[0];
    if (first.radius == 0)
        first.radius = eye.firstRadius;
    first.radiusMm = first.radius * kHundredthsToMm;
    first.x = first.radiusMm;
    first.y = 0;
    first.angle = 0;
    if (first.z == 0)
        first.z = eye.firstZ;

    // A count from a device beyond the point slots cannot be honoured; a negative
    // one means the device gave none.
    eye.radiusCount = clampCount(eye.radiusCount);
    eye.zCount = clampCount(eye.zCount);
    if (eye.radiusCount == 0)
        eye.radiusCount = kDefaultRadiusCount;

    const double step = kTwoPi / eye.radiusCount;
    for (int i = 1; i < eye.radiusCount; ++i) {
        struct_tracepoint& p = eye.points[i];
        const struct_tracepoint& previous = eye.points[i - 1];
        if (p.radius == 0)
            p.radius = static_cast<int16_t>(previous.radius + difference(eye.radiusDelta, i));
        p.radiusMm = p.radius * kHundredthsToMm;
        p.angle = i * step;
        p.x = std::cos(p.angle) * p.radiusMm;
        p.y = std::sin(p.angle) * p.radiusMm;
        if (p.z == 0)
            p.z = static_cast<int16_t>(previous.z + difference(eye.zDelta, i));
        if (p.x < eye.minX)
            eye.minX = p.x;
        if (p.x > eye.maxX)
            eye.maxX = p.x;
        if (p.y < eye.minY)
            eye.minY = p.y;
        if (p.y > eye.maxY)
            eye.maxY = p.y;
    }
    eye.hbox = std::fabs(eye.maxX) + std::fabs(eye.minX);
    eye.vbox = std::fabs(eye.maxY) + std::fabs(eye.minY);
}

// Largest distance between two point slots. Squared distances are compared and
// the root taken once: the root is monotonic, so the result is the same.
//
// Not every pair needs a look. With c the middle of the slots' box and r(i) the
// distance of slot i from c, slots i and j lie at most r(i) + r(j) apart. The
// slots are ordered from the farthest from c inwards and each is paired with
// those after it, so both r(i) + r(j) along a row and the bound of each row's
// first pair only fall: a row stops at the first pair whose bound squared is
// below the best square found, and the search at the first such row. The bound
// carries a margin far above the rounding of r, and every pair looked at gives
// the very same square as in a search of all pairs, so the result is exactly
// that search's.
double largestChord(const struct_eyetrace& eye) {
    const int slots = eye.radiusCount > kDiagonalSlots ? eye.radiusCount : kDiagonalSlots;
    double minX = eye.points[0].x, maxX = minX;
    double minY = eye.points[0].y, maxY = minY;
    for (int i = 1; i < slots; ++i) {
        minX = std::fmin(minX, eye.points[i].x);
        maxX = std::fmax(maxX, eye.points[i].x);
        minY = std::fmin(minY, eye.points[i].y);
        maxY = std::fmax(maxY, eye.points[i].y);
    }
    const double cx = (minX + maxX) / 2;
    const double cy = (minY + maxY) / 2;
    int order[kTracePointSlots];
    double reachOf[kTracePointSlots];
    for (int i = 0; i < slots; ++i) {
        order[i] = i;
        reachOf[i] = std::hypot(eye.points[i].x - cx, eye.points[i].y - cy);
    }
    std::sort(order, order + slots, [&reachOf](int a, int b) { return reachOf[a] > reachOf[b]; });
    double xs[kTracePointSlots];
    double ys[kTracePointSlots];
    double reach[kTracePointSlots];
    for (int k = 0; k < slots; ++k) {
        xs[k] = eye.points[order[k]].x;
        ys[k] = eye.points[order[k]].y;
        reach[k] = reachOf[order[k]];
    }
    constexpr double kMargin = 1.0 + 1e-9;
    const auto beyondBest = [](double bound, double best) {
        return bound * bound * kMargin < best;
    };
    double best = 0;
    for (int k = 0; k + 1 < slots && !beyondBest(reach[k] + reach[k + 1], best); ++k) {
        const double xk = xs[k];
        const double yk = ys[k];
        for (int j = k + 1; j < slots && !beyondBest(reach[k] + reach[j], best); ++j) {
            const double dx = xk - xs[j];
            const double dy = yk - ys[j];
            const double d2 = dx * dx + dy * dy;
            best = d2 > best ? d2 : best;
        }
    }
    return std::sqrt(best);
}

} // namespace

int usableRadiusCount(const struct_eyetrace& eye) {
    return clampCount(eye.radiusCount);
}
int usableZCount(const struct_eyetrace& eye) {
    return clampCount(eye.zCount);
}

void clearTraceData(struct_tracedata& record) {
    std::memset(record.job, 0, sizeof record.job);
    record.traceType = 0;
    record.deviceFlag = 0;
    record.tiltTenths = 0;
    record.dbl = 0;
    record.boxHeightMean = 0;
    record.fpd = 0;
    std::memset(record.extraLabels, 0, sizeof record.extraLabels);
    clearEye(record.right);
    clearEye(record.left);
}

void computeGeometry(struct_tracedata& record) {
    for (struct_eyetrace* eye : {&record.right, &record.left}) {
        eye->minX = eye->maxX = eye->minY = eye->maxY = 0;
        eye->diag = 0;
    }
    if (record.traceType == 0)
        record.traceType = 'F';
    completeOutline(record.right);
    completeOutline(record.left);

    if (record.boxHeightMean == 0)
        record.boxHeightMean = (record.right.vbox + record.left.vbox) * 0.5;
    if (record.dbl == 0 && record.fpd != 0) {
        const double t = record.tiltTenths * kTenthsOfDegreeToHalfTurns * kPi;
        record.dbl = record.fpd - std::cos(t) * record.right.maxX + std::cos(t) * record.left.minX;
    }
    record.right.diag = largestChord(record.right);
    record.left.diag = largestChord(record.left);
}
