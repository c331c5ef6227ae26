#include "Frameimage.h"

#include "Bmpdrawclass.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPixelsPerMm = 3.0;
constexpr double kRightQuarter = 0.25; // right eye centre, fraction of the width
constexpr double kLeftQuarter = 0.75;  // left eye centre, fraction of the width
constexpr double kHalf = 0.5;
constexpr double kCrossOverhang = 5.0; // pixels the cross reaches past the box
constexpr int kGreyLevel = 180;

// Far enough outside the 512 x 256 picture to be clipped, small enough that
// differences of two such values stay well inside an int.
constexpr double kPixelLimit = 1 << 29;

// Every position becomes a pixel here. Measures from a device may be absurd
// (huge, infinite, NaN), and converting such a double to int is undefined, so
// the value is clamped first; NaN lands outside the picture.
int toPixel(double position) {
    if (std::isnan(position))
        return -static_cast<int>(kPixelLimit);
    if (position > kPixelLimit)
        position = kPixelLimit;
    if (position < -kPixelLimit)
        position = -kPixelLimit;
    return static_cast<int>(position); // truncates toward zero
}

struct Centre {
    double x; // mm from the picture's left edge
    double y; // mm from the picture's top edge
};

void drawOutline(BMPDRAW& draw, const struct_eyetrace& eye, Centre c, int colour) {
    const int n = usableRadiusCount(eye);
    if (n == 0)
        return;
    const auto column = [&](int i) { return toPixel((c.x + eye.points[i].x) * kPixelsPerMm); };
    const auto row = [&](int i) { return toPixel((c.y - eye.points[i].y) * kPixelsPerMm); };
    // Starting from the last point closes the outline with the line n-1 -> 0.
    int px = column(n - 1);
    int py = row(n - 1);
    for (int i = 0; i < n; ++i) {
        const int x = column(i);
        const int y = row(i);
        draw.drawLine(px, py, x, y, colour);
        px = x;
        py = y;
    }
}

void drawCross(BMPDRAW& draw, const struct_eyetrace& eye, Centre c, int colour) {
    const int centreRow = toPixel(c.y * kPixelsPerMm);
    draw.drawLine(toPixel((c.x + eye.minX) * kPixelsPerMm - kCrossOverhang), centreRow,
                  toPixel((c.x + eye.maxX) * kPixelsPerMm + kCrossOverhang), centreRow, colour);
    const int centreColumn = toPixel(c.x * kPixelsPerMm);
    draw.drawLine(centreColumn, toPixel((c.y + eye.minY) * kPixelsPerMm - kCrossOverhang),
                  centreColumn, toPixel((c.y + eye.maxY) * kPixelsPerMm + kCrossOverhang), colour);
}

} // namespace

int renderFrameImage(const struct_tracedata& record, unsigned char* out, int& outSize) {
    outSize = 0;
    BMPDRAW draw;
    const int grey = BMPDRAW::makeColour(kGreyLevel, kGreyLevel, kGreyLevel);
    const int black = BMPDRAW::makeColour(0, 0, 0);
    if (draw.setSize(kFrameImageWidth, kFrameImageHeight) != 0)
        return 1;

    const double middle = kFrameImageWidth * kHalf / kPixelsPerMm;
    Centre right{kFrameImageWidth * kRightQuarter / kPixelsPerMm,
                 kFrameImageHeight * kHalf / kPixelsPerMm};
    Centre left{kFrameImageWidth * kLeftQuarter / kPixelsPerMm, right.y};
    if (record.fpd != 0) {
        right.x = middle - record.fpd * kHalf;
        left.x = middle + record.fpd * kHalf;
    } else if (record.dbl != 0) {
        right.x = middle - (record.dbl + record.right.hbox) * kHalf;
        left.x = middle + (record.dbl + record.left.hbox) * kHalf;
    }

    drawOutline(draw, record.right, right, black);
    drawOutline(draw, record.left, left, black);
    // After the outlines, so the crosses stay visible where they meet them.
    drawCross(draw, record.right, right, grey);
    drawCross(draw, record.left, left, grey);

    const unsigned char* bytes = nullptr;
    int size = 0;
    if (draw.toBmp(bytes, size) != 0 || size > kFrameImageCapacity)
        return 1;
    std::memcpy(out, bytes, static_cast<size_t>(size));
    outSize = size;
    return 0;
}
