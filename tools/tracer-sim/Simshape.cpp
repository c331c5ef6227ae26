// The built-in lens shape: a rounded rectangle drawn a little out of square,
// as real lens openings are, with z values on the frame's base curve.
#include "Simframe.h"

#include "Simout.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfWidthMm = 26.0;  // 52 mm wide
constexpr double kHalfHeightMm = 19.5; // 39 mm high
// The superellipse |x/a|^p + |y/b|^p = 1: p = 2 is an ellipse, a large p a
// rectangle; 3.2 gives the rounded corners of a common rectangular frame.
constexpr double kExponent = 3.2;
// Upper-outer and lower-inner corners drawn out by up to 3 %, so that the
// left lens, the mirror image, really differs from the right one.
constexpr double kSkew = 0.03;
// Base curve 4.25 D on the reference index 1.523: sphere radius (n - 1) * 1000 / D mm.
constexpr double kBaseCurveRadiusMm = 0.523 * 1000.0 / 4.25;
constexpr int kValuesPerLine = 10;

double rightRadiusMm(double angle) {
    const double c = std::fabs(std::cos(angle)) / kHalfWidthMm;
    const double s = std::fabs(std::sin(angle)) / kHalfHeightMm;
    const double r = std::pow(std::pow(c, kExponent) + std::pow(s, kExponent), -1.0 / kExponent);
    return r * (1.0 + kSkew * std::sin(2.0 * angle));
}

double sagMm(double radiusMm) {
    return kBaseCurveRadiusMm -
           std::sqrt(kBaseCurveRadiusMm * kBaseCurveRadiusMm - radiusMm * radiusMm);
}

struct EyeShape {
    std::vector<int> radii; // 0.01 mm
    std::vector<int> z;     // 0.01 mm
    int64_t hbox = 0;       // 0.01 mm
    int64_t vbox = 0;
    int64_t circ = 0;
};

EyeShape shapeOf(int points, bool left) {
    EyeShape eye;
    std::vector<double> x;
    std::vector<double> y;
    double sagSum = 0.0;
    for (int i = 0; i < points; ++i) {
        const double angle = 2.0 * kPi * i / points;
        // The left lens is the right one seen in a mirror: angle a there is pi - a here.
        const double radius = rightRadiusMm(left ? kPi - angle : angle);
        const int hundredths = static_cast<int>(std::lround(radius * 100.0));
        eye.radii.push_back(hundredths);
        x.push_back(hundredths * std::cos(angle));
        y.push_back(hundredths * std::sin(angle));
        sagSum += sagMm(hundredths / 100.0);
    }
    // z about the mean sag: the groove rises and falls a little around the lens.
    const double meanSag = sagSum / points;
    double perimeter = 0.0;
    for (int i = 0; i < points; ++i) {
        eye.z.push_back(
            static_cast<int>(std::lround((sagMm(eye.radii[i] / 100.0) - meanSag) * 100.0)));
        const int next = (i + 1) % points;
        perimeter += std::hypot(x[next] - x[i], y[next] - y[i]);
    }
    eye.hbox =
        std::lround(*std::max_element(x.begin(), x.end()) - *std::min_element(x.begin(), x.end()));
    eye.vbox =
        std::lround(*std::max_element(y.begin(), y.end()) - *std::min_element(y.begin(), y.end()));
    eye.circ = std::lround(perimeter);
    return eye;
}

void addList(std::vector<std::string>& lines, const char* label, const std::vector<int>& values) {
    for (std::size_t start = 0; start < values.size(); start += kValuesPerLine) {
        std::string line = label;
        const std::size_t end = std::min(values.size(), start + kValuesPerLine);
        for (std::size_t i = start; i < end; ++i) {
            if (i != start)
                line += ';';
            line += decimal(values[i]);
        }
        lines.push_back(line);
    }
}

std::string pair(int64_t right, int64_t left) {
    return hundredthsText(right) + ";" + hundredthsText(left);
}

} // namespace

void builtinFrame(int points, Frame& frame) {
    const EyeShape right = shapeOf(points, false);
    const EyeShape left = shapeOf(points, true);
    std::vector<std::string> lines = {
        "DBL=18.00",
        "FCRV=4.25;4.25",
        "CIRC=" + pair(right.circ, left.circ),
        "ZTILT=5.00;5.00",
        "HBOX=" + pair(right.hbox, left.hbox),
        "VBOX=" + pair(right.vbox, left.vbox),
    };
    const std::string count = decimal(points);
    for (const EyeShape* eye : {&right, &left}) {
        const char* side = eye == &right ? "R" : "L";
        lines.push_back("TRCFMT=1;" + count + ";E;" + side + ";F");
        addList(lines, "R=", eye->radii);
        lines.push_back("ZFMT=1;" + count + ";E;" + side + ";F");
        addList(lines, "Z=", eye->z);
    }
    std::string error;
    frameFromLines(lines, frame, error); // the lines above are always well formed
    frame.hasJob = false;
    frame.jobQuoted = true;
}

} // namespace sim
