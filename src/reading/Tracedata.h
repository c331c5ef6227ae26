// The frame record: one tracing of a spectacle frame, both eyes, and the
// measures derived from the outline.
#pragma once

#include <cstdint>

constexpr int kTracePointSlots = 2000;    // outline points per eye
constexpr int kPackedDifferences = 1000;  // packed radius / z differences per eye
constexpr int kJobTextLength = 20;        // characters of job text
constexpr int kExtraLabelsSize = 10000;   // bytes of extra label text, terminator included
constexpr int kDefaultRadiusCount = 1000; // outline size when a protocol gave none

struct struct_tracepoint {
    int16_t radius;  // 0.01 mm; 0 = not given
    double radiusMm; // derived
    double x;        // derived, mm, to the right
    double y;        // derived, mm, upwards
    double angle;    // derived, radians, counter-clockwise from +x
    int16_t z;       // 0.01 mm; 0 = not given
};

struct struct_eyetrace {
    int16_t firstRadius;
    int8_t radiusDelta[kPackedDifferences];
    int16_t firstZ;
    int8_t zDelta[kPackedDifferences];
    double fcrv;
    double circ;
    double ztilt;
    double deviceHbox;
    double deviceVbox;
    double minX, maxX;
    double minY, maxY;
    double vbox;
    double hbox;
    double diag;
    int32_t radiusCount; // 0 = not set
    int32_t zCount;      // 0 = none
    struct_tracepoint points[kTracePointSlots];
};

struct struct_tracedata {
    char job[kJobTextLength + 1];
    char traceType; // 0 = not set, becomes 'F'
    uint8_t deviceFlag;
    uint8_t tiltTenths;
    double dbl;
    double boxHeightMean;
    double fpd;
    char extraLabels[kExtraLabelsSize];
    struct_eyetrace right;
    struct_eyetrace left;
};

// Empties the record before a new reading.
void clearTraceData(struct_tracedata& record);

// Completes the record from what a protocol stored: outline points, extremes,
// boxes, diagonal and, when missing, the distance between lenses. Idempotent.
void computeGeometry(struct_tracedata& record);

// The number of outline points the record really holds for an eye: a count set by a
// device beyond the point slots is limited to them, and a negative one counts as none.
int usableRadiusCount(const struct_eyetrace& eye);
int usableZCount(const struct_eyetrace& eye);
