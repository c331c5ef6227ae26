#include "Frameimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <utility>

namespace {

using Point = std::pair<int, int>;
using PointSet = std::set<Point>;

constexpr int kWhite = 0xFFFFFF;
constexpr int kBlack = 0x000000;
constexpr int kGrey = 0xB4B4B4; // 180, 180, 180
constexpr int kHeaderSize = 54;
constexpr int kStride = 512 * 3;              // already a multiple of 4
constexpr int kFileSize = 54 + kStride * 256; // 393270
constexpr unsigned char kUntouched = 0xA5;

// Picture coordinates of the centres: 512 / 4, 512 * 3 / 4 and 256 / 2.
constexpr int kRightCentreX = 128;
constexpr int kLeftCentreX = 384;
constexpr int kCentreY = 128;

std::unique_ptr<struct_tracedata> emptyRecord() {
    auto record = std::make_unique<struct_tracedata>();
    clearTraceData(*record);
    return record;
}

// An eye of one outline point at its centre and a zero box, set directly.
void pointEye(struct_eyetrace& eye) {
    eye.radiusCount = 1;
    eye.points[0].x = 0;
    eye.points[0].y = 0;
    eye.minX = eye.maxX = eye.minY = eye.maxY = 0;
}

// The rendered file, read back from its bytes with the BMP layout alone.
class Rendered {
public:
    explicit Rendered(const struct_tracedata& record)
        : m_bytes(std::make_unique<unsigned char[]>(kFrameImageCapacity)) {
        std::memset(m_bytes.get(), kUntouched, kFrameImageCapacity);
        m_result = renderFrameImage(record, m_bytes.get(), m_size);
    }
    int result() const { return m_result; }
    int size() const { return m_size; }
    const unsigned char* bytes() const { return m_bytes.get(); }
    uint32_t u32(int at) const {
        return m_bytes[at] | m_bytes[at + 1] << 8 | m_bytes[at + 2] << 16 |
               static_cast<uint32_t>(m_bytes[at + 3]) << 24;
    }
    int colour(int x, int y) const {
        const unsigned char* p = m_bytes.get() + kHeaderSize + (255 - y) * kStride + 3 * x;
        return p[2] << 16 | p[1] << 8 | p[0];
    }
    PointSet pixelsOf(int colourWanted) const {
        PointSet found;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 512; ++x)
                if (colour(x, y) == colourWanted)
                    found.insert({x, y});
        return found;
    }
    // Every pixel is white, black or grey.
    bool onlyThreeColours() const {
        return pixelsOf(kWhite).size() + pixelsOf(kBlack).size() + pixelsOf(kGrey).size() ==
               512u * 256u;
    }

private:
    std::unique_ptr<unsigned char[]> m_bytes;
    int m_size = -1;
    int m_result = -1;
};

PointSet horizontal(int x1, int x2, int y) {
    PointSet s;
    for (int x = x1; x <= x2; ++x)
        s.insert({x, y});
    return s;
}

PointSet vertical(int x, int y1, int y2) {
    PointSet s;
    for (int y = y1; y <= y2; ++y)
        s.insert({x, y});
    return s;
}

PointSet unite(std::initializer_list<PointSet> sets) {
    PointSet all;
    for (const PointSet& s : sets)
        all.insert(s.begin(), s.end());
    return all;
}

PointSet minus(const PointSet& a, const PointSet& b) {
    PointSet rest;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(rest, rest.end()));
    return rest;
}

// The cross of an eye with a zero box: 5 pixels each way from its centre.
PointSet smallCross(int cx, int cy) {
    return unite({horizontal(cx - 5, cx + 5, cy), vertical(cx, cy - 5, cy + 5)});
}

TEST(FrameImageFile, IsA512By256BmpWrittenWithinItsLength) {
    auto record = emptyRecord();
    computeGeometry(*record);
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    ASSERT_EQ(image.size(), kFileSize);
    EXPECT_EQ(image.bytes()[0], 'B');
    EXPECT_EQ(image.bytes()[1], 'M');
    EXPECT_EQ(image.u32(2), 393270u);
    EXPECT_EQ(image.u32(10), 54u);
    EXPECT_EQ(image.u32(18), 512u);
    EXPECT_EQ(image.u32(22), 256u);
    EXPECT_EQ(image.bytes()[28], 24);
    EXPECT_EQ(image.u32(34), 393216u);
    for (int i = kFileSize; i < kFrameImageCapacity; i += 997)
        ASSERT_EQ(image.bytes()[i], kUntouched) << i;
    EXPECT_EQ(image.bytes()[kFrameImageCapacity - 1], kUntouched);
}

TEST(FrameImageFile, FirstStoredRowIsTheBottomRow) {
    auto record = emptyRecord();
    pointEye(record->right);
    // Row trunc((256 / 6 + 42.5) * 3) = trunc(255.5): the bottom row.
    record->right.points[0].y = -42.5;
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    const unsigned char* firstStored = image.bytes() + kHeaderSize;
    const unsigned char* lastStored = image.bytes() + kHeaderSize + 255 * kStride;
    int darkFirst = 0;
    for (int i = 0; i < kStride; ++i) {
        darkFirst += firstStored[i] == 0;
        EXPECT_EQ(lastStored[i], 0xFF) << i;
    }
    EXPECT_EQ(darkFirst, 3); // blue, green and red of one black pixel
    EXPECT_EQ(firstStored[3 * kRightCentreX], 0);
    EXPECT_EQ(firstStored[3 * kRightCentreX + 2], 0);
}

TEST(FrameImagePicture, EmptyRecordShowsOnlyTwoGreyCrosses) {
    auto record = emptyRecord();
    computeGeometry(*record); // 1000 points of radius 0 per eye, a zero box
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    const PointSet crosses =
        unite({smallCross(kRightCentreX, kCentreY), smallCross(kLeftCentreX, kCentreY)});
    ASSERT_EQ(crosses.size(), 42u); // 2 x (11 + 11 - 1)
    EXPECT_EQ(image.pixelsOf(kGrey), crosses);
    EXPECT_TRUE(image.pixelsOf(kBlack).empty()); // the outline pixel is under the cross
    EXPECT_EQ(image.pixelsOf(kWhite).size(), 512u * 256u - 42u);
}

TEST(FrameImagePicture, CentresFollowFpdThenDbl) {
    struct Case {
        double fpd, dbl;
        int rightX, leftX;
    };
    // fpd 61: 256 -+ 61 * 1.5 = 164.5 and 347.5, truncated.
    // dbl 17.5 with boxes 50 and 52: 256 - 67.5 * 1.5 = 154.75, 256 + 69.5 * 1.5 = 360.25.
    const Case cases[] = {
        {0, 0, kRightCentreX, kLeftCentreX},
        {61, 0, 164, 347},
        {61, 17.5, 164, 347}, // fpd wins over dbl
        {0, 17.5, 154, 360},
    };
    for (const Case& c : cases) {
        auto record = emptyRecord();
        pointEye(record->right);
        pointEye(record->left);
        record->fpd = c.fpd;
        record->dbl = c.dbl;
        record->right.hbox = 50;
        record->left.hbox = 52;
        const Rendered image(*record);
        ASSERT_EQ(image.result(), 0);
        EXPECT_EQ(image.pixelsOf(kGrey),
                  unite({smallCross(c.rightX, kCentreY), smallCross(c.leftX, kCentreY)}))
            << "fpd " << c.fpd << " dbl " << c.dbl;
        EXPECT_TRUE(image.pixelsOf(kBlack).empty());
    }
}

// The arms reach 5 pixels past the box; the vertical one is laid from minY to
// maxY in picture rows, as the horizontal one from minX to maxX.
TEST(FrameImagePicture, CrossArmsSpanTheBoxPlusFivePixels) {
    auto record = emptyRecord();
    pointEye(record->right);
    record->right.minX = -15.1; // trunc((128 / 3 - 15.1) * 3 - 5) = trunc(77.7)
    record->right.maxX = 12.1;  // trunc((128 / 3 + 12.1) * 3 + 5) = trunc(169.3)
    record->right.minY = -8.1;  // trunc((128 / 3 - 8.1) * 3 - 5) = trunc(98.7)
    record->right.maxY = 12.1;  // trunc((128 / 3 + 12.1) * 3 + 5) = trunc(169.3)
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    EXPECT_EQ(image.pixelsOf(kGrey),
              unite({horizontal(77, 169, kCentreY), vertical(kRightCentreX, 98, 169),
                     smallCross(kLeftCentreX, kCentreY)}));
}

// A square of side 20.2 mm around the right centre: +-10.1 mm land on pixels
// trunc((128 / 3 -+ 10.1) * 3) = 97 and 158 on both axes.
void squareEye(struct_eyetrace& eye, int count) {
    const double corners[4][2] = {{-10.1, -10.1}, {10.1, -10.1}, {10.1, 10.1}, {-10.1, 10.1}};
    for (int i = 0; i < 4; ++i) {
        eye.points[i].x = corners[i][0];
        eye.points[i].y = corners[i][1];
    }
    eye.points[4].x = 30; // past the count: never drawn
    eye.points[4].y = 30;
    eye.radiusCount = count;
    eye.minX = eye.minY = -10.1;
    eye.maxX = eye.maxY = 10.1;
}

// Cross of the square: trunc(97.7 - 5) = 92 to trunc(158.3 + 5) = 163.
PointSet squareCross() {
    return unite({horizontal(92, 163, kCentreY), vertical(kRightCentreX, 92, 163)});
}

TEST(FrameImageOutline, FourPointsDrawFourLinesClosingTheSquare) {
    auto record = emptyRecord();
    squareEye(record->right, 4);
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    const PointSet grey = unite({squareCross(), smallCross(kLeftCentreX, kCentreY)});
    const PointSet square = unite({horizontal(97, 158, 158), vertical(158, 97, 158),
                                   horizontal(97, 158, 97), vertical(97, 97, 158)});
    EXPECT_EQ(image.pixelsOf(kGrey), grey);
    EXPECT_EQ(image.pixelsOf(kBlack), minus(square, grey));
    EXPECT_EQ(minus(square, grey).size(), 244u - 4u); // the cross hides 4 outline pixels
    EXPECT_TRUE(image.onlyThreeColours());
}

TEST(FrameImageOutline, ThreePointsCloseFromTheLastPointToTheFirst) {
    auto record = emptyRecord();
    squareEye(record->right, 3);
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    PointSet closing; // (158, 97) down to (97, 158): one step on both axes each time
    for (int k = 0; k <= 61; ++k)
        closing.insert({158 - k, 97 + k});
    const PointSet triangle = unite({horizontal(97, 158, 158), vertical(158, 97, 158), closing});
    const PointSet grey = unite({squareCross(), smallCross(kLeftCentreX, kCentreY)});
    EXPECT_EQ(image.pixelsOf(kBlack), minus(triangle, grey));
    EXPECT_EQ(image.colour(97, 120), kWhite); // no left side: 3 -> 0 is not drawn
}

TEST(FrameImageOutline, CountsOutsideTheSlotsAreLimited) {
    // Slot 1999 is the last drawn: a spoke from the centre to 10.1 mm right,
    // trunc((128 / 3 + 10.1) * 3) = 158, and back to the centre.
    const PointSet spoke =
        minus(horizontal(kRightCentreX, 158, kCentreY), smallCross(kRightCentreX, kCentreY));
    for (const int count : {2000, 2001, 1000000000}) {
        auto record = emptyRecord();
        record->right.radiusCount = count;
        record->right.points[1999].x = 10.1;
        const Rendered image(*record);
        ASSERT_EQ(image.result(), 0) << count;
        EXPECT_EQ(image.pixelsOf(kBlack), spoke) << count;
    }
}

TEST(FrameImageOutline, NoOutlineForAZeroOrNegativeCount) {
    for (const int count : {0, -5, -2147483647 - 1}) {
        auto record = emptyRecord();
        record->right.radiusCount = count;
        record->left.radiusCount = count;
        record->right.points[0].x = 10.1; // would be pixel (158, 128)
        record->left.points[0].x = 10.1;  // would be pixel (414, 128)
        const Rendered image(*record);
        ASSERT_EQ(image.result(), 0) << count;
        EXPECT_TRUE(image.pixelsOf(kBlack).empty()) << count;
        EXPECT_EQ(image.pixelsOf(kGrey),
                  unite({smallCross(kRightCentreX, kCentreY), smallCross(kLeftCentreX, kCentreY)}));
    }
}

// 1000 radii of 20 mm: circles of 60 pixels round both centres.
std::unique_ptr<struct_tracedata> circleRecord() {
    auto record = emptyRecord();
    for (struct_eyetrace* eye : {&record->right, &record->left}) {
        eye->firstRadius = 2000; // 0.01 mm
        eye->radiusCount = 1000;
    }
    computeGeometry(*record);
    return record;
}

TEST(FrameImageOutline, CircleOfAThousandPointsLiesAtItsRadius) {
    const auto record = circleRecord();
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    EXPECT_TRUE(image.onlyThreeColours());
    // A point's pixel holds it in [c, c + 1) on both axes, so the pixel's middle
    // is within sqrt(0.5) of the circle; neighbouring points are 0.38 pixels apart.
    constexpr double kRadius = 60;
    constexpr double kTolerance = 0.75;
    const auto distance = [](const Point& p, int cx) {
        return std::hypot(p.first + 0.5 - cx, p.second + 0.5 - kCentreY);
    };
    const PointSet black = image.pixelsOf(kBlack);
    EXPECT_GT(black.size(), 600u); // two rings of about 340 pixels, less the crosses
    for (const Point& p : black) {
        const int cx = p.first < 256 ? kRightCentreX : kLeftCentreX;
        EXPECT_NEAR(distance(p, cx), kRadius, kTolerance) << p.first << "," << p.second;
    }
    for (const Point& p : image.pixelsOf(kGrey))
        EXPECT_TRUE(p.second == kCentreY || p.first == kRightCentreX || p.first == kLeftCentreX)
            << p.first << "," << p.second;
    // No gap: every degree round each centre has a drawn pixel next to the circle.
    for (const int cx : {kRightCentreX, kLeftCentreX}) {
        for (int degree = 0; degree < 360; ++degree) {
            const double a = degree * 3.141592653589793 / 180;
            const int x = static_cast<int>(std::floor(cx + kRadius * std::cos(a)));
            const int y = static_cast<int>(std::floor(kCentreY - kRadius * std::sin(a)));
            bool drawn = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    drawn = drawn || image.colour(x + dx, y + dy) != kWhite;
            EXPECT_TRUE(drawn) << cx << " at " << degree << " degrees";
        }
    }
}

TEST(FrameImageAbsurd, MeasuresFarOffThePictureLeaveItWhite) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double fpd, dbl;
    };
    const Case cases[] = {{1e300, 0}, {-1e300, 0}, {nan, 0}, {kInf, 0},
                          {-kInf, 0}, {0, 1e300},  {0, nan}, {1e10, 0}};
    for (const Case& c : cases) {
        const auto record = circleRecord();
        record->fpd = c.fpd;
        record->dbl = c.dbl;
        const Rendered image(*record);
        ASSERT_EQ(image.result(), 0) << c.fpd << " " << c.dbl;
        ASSERT_EQ(image.size(), kFileSize);
        EXPECT_EQ(image.bytes()[0], 'B');
        EXPECT_EQ(image.u32(2), 393270u);
        // Both eyes and their crosses lie beyond the sides.
        EXPECT_EQ(image.pixelsOf(kWhite).size(), 512u * 256u) << c.fpd << " " << c.dbl;
    }
}

TEST(FrameImageAbsurd, ABoxBeyondThePictureIsCutAtItsEdges) {
    auto record = emptyRecord();
    pointEye(record->right);
    pointEye(record->left);
    record->right.minX = -1e300;
    record->right.maxX = std::numeric_limits<double>::infinity();
    record->left.minY = std::numeric_limits<double>::quiet_NaN();
    record->left.maxY = 1e12;
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    // The right horizontal runs over the whole middle row; the left vertical from
    // outside the picture down over the whole column.
    const PointSet grey = unite({horizontal(0, 511, kCentreY), vertical(kRightCentreX, 123, 133),
                                 horizontal(kLeftCentreX - 5, kLeftCentreX + 5, kCentreY),
                                 vertical(kLeftCentreX, 0, 255)});
    EXPECT_EQ(image.pixelsOf(kGrey), grey);
    EXPECT_TRUE(image.pixelsOf(kBlack).empty());
}

TEST(FrameImageAbsurd, GarbageOutlinePointsAreSkipped) {
    auto record = emptyRecord();
    pointEye(record->right);
    record->right.radiusCount = 3;
    record->right.points[1].x = std::numeric_limits<double>::quiet_NaN();
    record->right.points[2].y = -std::numeric_limits<double>::infinity();
    const Rendered image(*record);
    ASSERT_EQ(image.result(), 0);
    EXPECT_EQ(image.size(), kFileSize);
    EXPECT_TRUE(image.onlyThreeColours());
    // 2 -> 0 runs up the centre column from below the picture, 0 -> 1 along the
    // middle row from the centre to beyond the left side; 1 -> 2 passes far below.
    const PointSet outline =
        unite({vertical(kRightCentreX, kCentreY, 255), horizontal(0, kRightCentreX, kCentreY)});
    EXPECT_EQ(image.pixelsOf(kBlack), minus(outline, smallCross(kRightCentreX, kCentreY)));
}

} // namespace
