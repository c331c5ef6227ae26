// The frame the simulated tracer reports: the built-in lens shape or the
// tracing of a VCA label file. DCS tracers send its label lines; the binary
// tracers (LT980, Takubomatic) send numbers taken from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr int kRight = 0;
constexpr int kLeft = 1;

struct EyeTrace {
    bool hasRadii = false;
    std::vector<int> radii; // 0.01 mm, counter-clockwise from the positive x axis
    bool hasZ = false;
    std::vector<int> z; // 0.01 mm
};

// The measures as whole numbers of the unit the binary tracers carry; a label
// that is missing gives 0.
struct Measures {
    int64_t dbl = 0;       // 0.01 mm
    int64_t fcrv[2] = {};  // 0.1 dioptre
    int64_t circ[2] = {};  // 0.01 mm
    int64_t ztilt[2] = {}; // 0.1 degree
    int64_t hbox[2] = {};  // 0.01 mm
    int64_t vbox[2] = {};  // 0.01 mm
    int64_t fpd = 0;       // 0.01 mm
    bool fpdGiven = false;
    bool vboxGiven = false;
};

struct Frame {
    // Label lines of a DCS tracing record, without REQ, ANS, JOB and CRC lines
    // (the record's own ANS and JOB come first, before these).
    std::vector<std::string> lines;
    EyeTrace eye[2];
    Measures measures;
    bool hasJob = false;   // the file has a JOB line
    bool jobQuoted = true; // its value was in double quotes (the built-in frame quotes)
    std::string job;       // without the quotes
    std::string model;     // the MODEL value; empty when none
    // Measure labels that could not be read; only the binary tracers need them.
    std::vector<std::string> measureProblems;

    // The points per eye: the right eye's count, else the left's.
    int pointCount() const;
    bool hasZ() const { return eye[kRight].hasZ || eye[kLeft].hasZ; }
    // FPD when given, else DBL + the mean of both horizontal boxes (whole hundredths).
    int64_t fpdHundredths() const;
    // The mean of both vertical boxes when VBOX is given, else 0.
    int64_t meanBoxHeight() const;
};

// Reads a VCA label file (Windows-1252 bytes, lines split at CR and/or LF).
// False, with the reason in `error`, when the file cannot be read or a list of
// values does not match the count its header gives.
bool loadLabelFile(const std::string& path, Frame& frame, std::string& error);
// The same from lines already split.
bool frameFromLines(const std::vector<std::string>& lines, Frame& frame, std::string& error);
// The built-in lens: about 52 x 39 mm, `points` per eye, left eye mirrored.
void builtinFrame(int points, Frame& frame);

// Decimal text as a whole number of 10^-places units, exactly and without
// floating point, rounded half up (half away from zero for negative values):
// "4.255" with 2 places gives 426. Blanks around the number are allowed; false
// for any other text.
bool scaledDecimal(std::string_view text, int places, int64_t& value);
// Hundredths as decimal text with two places: 5213 gives "52.13".
std::string hundredthsText(int64_t hundredths);

} // namespace sim
