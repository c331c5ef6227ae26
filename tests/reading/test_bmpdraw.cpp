#include "Bmpdrawclass.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Point = std::pair<int, int>;
using PointSet = std::set<Point>;

constexpr int kWhite = 0xFFFFFF;
constexpr int kBlack = 0x000000;
constexpr int kHeaderSize = 54;

// Every pixel of the picture that is not white.
PointSet drawnPixels(const BMPDRAW& draw) {
    PointSet drawn;
    for (int y = 0; y < draw.height(); ++y)
        for (int x = 0; x < draw.width(); ++x)
            if (draw.pixel(x, y) != kWhite)
                drawn.insert({x, y});
    return drawn;
}

// The line walk written out step by step, unclipped, kept to the pixels of a
// width x height picture: what drawLine must set.
PointSet referenceLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int width, int height) {
    const int64_t dx = x2 > x1 ? x2 - x1 : x1 - x2;
    const int64_t sx = x1 < x2 ? 1 : -1;
    const int64_t dy = y2 > y1 ? y2 - y1 : y1 - y2;
    const int64_t sy = y1 < y2 ? 1 : -1;
    int64_t err = (dx > dy ? dx : -dy) / 2;
    PointSet points;
    for (;;) {
        if (x1 >= 0 && y1 >= 0 && x1 < width && y1 < height)
            points.insert({static_cast<int>(x1), static_cast<int>(y1)});
        if (x1 == x2 && y1 == y2)
            return points;
        const int64_t e = err;
        if (e > -dx) {
            err -= dy;
            x1 += sx;
        }
        if (e < dy) {
            err += dx;
            y1 += sy;
        }
    }
}

std::vector<unsigned char> fileOf(BMPDRAW& draw) {
    const unsigned char* bytes = nullptr;
    int size = 0;
    EXPECT_EQ(draw.toBmp(bytes, size), 0);
    if (bytes == nullptr)
        return {};
    return std::vector<unsigned char>(bytes, bytes + size);
}

TEST(BmpDrawColour, MakeColourPacksRedGreenBlue) {
    EXPECT_EQ(BMPDRAW::makeColour(0, 0, 0), 0);
    EXPECT_EQ(BMPDRAW::makeColour(255, 255, 255), 0xFFFFFF);
    EXPECT_EQ(BMPDRAW::makeColour(0x12, 0x34, 0x56), 0x123456);
    EXPECT_EQ(BMPDRAW::makeColour(180, 180, 180), 0xB4B4B4);
}

TEST(BmpDrawState, WithoutPixelsNothingIsDrawnOrProduced) {
    BMPDRAW draw;
    EXPECT_EQ(draw.width(), 0);
    EXPECT_EQ(draw.height(), 0);
    EXPECT_EQ(draw.fillRect(0, 0, 0, 0, kBlack), 1);
    EXPECT_EQ(draw.drawLine(0, 0, 10, 10, kBlack), 0);
    draw.setPixel(0, 0, kBlack);
    EXPECT_EQ(draw.pixel(0, 0), -1);
    static const unsigned char previous = 0;
    const unsigned char* bytes = &previous;
    int size = 77;
    EXPECT_EQ(draw.toBmp(bytes, size), 1);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(size, 0);
}

TEST(BmpDrawSize, SetSizeFillsWithWhiteAndSetsTheStride) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(5, 2), 0);
    EXPECT_EQ(draw.width(), 5);
    EXPECT_EQ(draw.height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(draw.pixel(x, y), kWhite) << x << "," << y;
    // 5 pixels of 3 bytes are 15 bytes, padded to 16; two rows.
    const std::vector<unsigned char> file = fileOf(draw);
    ASSERT_EQ(file.size(), static_cast<size_t>(kHeaderSize + 2 * 16));
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(file[kHeaderSize + row * 16 + i], 0xFF) << row << ":" << i;
        EXPECT_EQ(file[kHeaderSize + row * 16 + 15], 0) << "padding of row " << row;
    }
    // Drawing over every pixel leaves the padding alone.
    ASSERT_EQ(draw.fillRect(0, 0, 4, 1, 0xABCDEF), 0);
    const std::vector<unsigned char> filled = fileOf(draw);
    EXPECT_EQ(filled[kHeaderSize + 15], 0);
    EXPECT_EQ(filled[kHeaderSize + 31], 0);
    EXPECT_EQ(filled[kHeaderSize + 16], 0xEF);
}

TEST(BmpDrawSize, StrideIsWidthTimesThreeRoundedUpToFour) {
    BMPDRAW draw;
    // width -> bytes of pixels per row: 3w rounded up to a multiple of 4.
    const std::pair<int, int> cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {512, 1536}};
    for (const auto& [width, stride] : cases) {
        ASSERT_EQ(draw.setSize(width, 3), 0);
        EXPECT_EQ(fileOf(draw).size(), static_cast<size_t>(kHeaderSize + 3 * stride)) << width;
    }
}

TEST(BmpDrawSize, OutOfRangeSizesFailAndLeaveThePictureAlone) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(6, 4), 0);
    draw.setPixel(2, 1, 0x102030);
    const std::vector<unsigned char> before = fileOf(draw);

    EXPECT_EQ(draw.setSize(4097, 10), 1);
    EXPECT_EQ(draw.setSize(-1, 10), 1);
    EXPECT_EQ(draw.setSize(10, -1), 2);
    EXPECT_EQ(draw.setSize(10, 4097), 2);
    EXPECT_EQ(draw.setSize(-1, -1), 1); // the width is checked first

    EXPECT_EQ(draw.width(), 6);
    EXPECT_EQ(draw.height(), 4);
    EXPECT_EQ(draw.pixel(2, 1), 0x102030);
    EXPECT_EQ(fileOf(draw), before);
}

TEST(BmpDrawSize, LargestPictureAndResizeReplaceThePixels) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(4096, 4096), 0);
    EXPECT_EQ(draw.pixel(4095, 4095), kWhite);
    EXPECT_EQ(draw.pixel(4096, 0), -1);
    draw.setPixel(1, 1, kBlack);
    ASSERT_EQ(draw.setSize(3, 3), 0);
    EXPECT_EQ(draw.pixel(1, 1), kWhite); // a new, white picture
    EXPECT_EQ(draw.pixel(3, 0), -1);
}

TEST(BmpDrawSize, ZeroSizedPictureIsAHeaderOnlyFile) {
    BMPDRAW draw;
    for (const auto& [width, height] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 7}}) {
        ASSERT_EQ(draw.setSize(width, height), 0);
        draw.setPixel(0, 0, kBlack);
        EXPECT_EQ(draw.drawLine(-5, -5, 20, 20, kBlack), 0);
        EXPECT_EQ(draw.pixel(0, 0), -1);
        EXPECT_EQ(draw.fillRect(0, 0, 0, 0, kBlack), width == 0 ? 3 : 4);
        const std::vector<unsigned char> file = fileOf(draw);
        ASSERT_EQ(file.size(), static_cast<size_t>(kHeaderSize));
        EXPECT_EQ(file[2], kHeaderSize); // file size
        EXPECT_EQ(file[18], width);
        EXPECT_EQ(file[22], height);
        EXPECT_EQ(file[34], 0); // image size
    }
}

TEST(BmpDrawFile, HeaderOfTheFramePictureByteByByte) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(512, 256), 0);
    const std::vector<unsigned char> file = fileOf(draw);
    // 512 x 256 pixels, rows of 1536 bytes: 393216 = 0x060000 bytes of pixels,
    // 393270 = 0x060036 bytes of file.
    const unsigned char expected[kHeaderSize] = {
        'B',  'M',              // signature
        0x36, 0x00, 0x06, 0x00, // file size
        0,    0,    0,    0,    // reserved
        54,   0,    0,    0,    // data offset
        40,   0,    0,    0,    // info size
        0x00, 0x02, 0x00, 0x00, // width 512
        0x00, 0x01, 0x00, 0x00, // height 256
        1,    0,                // planes
        24,   0,                // bits per pixel
        0,    0,    0,    0,    // no compression
        0x00, 0x00, 0x06, 0x00, // image size
        96,   0,    0,    0,    // x resolution
        96,   0,    0,    0,    // y resolution
        0,    0,    0,    0,    // colours used
        0,    0,    0,    0,    // important colours
    };
    ASSERT_EQ(file.size(), 393270u);
    for (int i = 0; i < kHeaderSize; ++i)
        EXPECT_EQ(file[i], expected[i]) << "offset " << i;
}

TEST(BmpDrawFile, RowsAreStoredBottomUpBlueGreenRed) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(4, 3), 0); // stride 12
    draw.setPixel(1, 0, 0x123456);    // top row: the last stored row
    draw.setPixel(2, 2, 0xA0B0C0);    // bottom row: the first stored row
    const std::vector<unsigned char> file = fileOf(draw);
    ASSERT_EQ(file.size(), static_cast<size_t>(kHeaderSize + 36));
    const size_t top = kHeaderSize + 2 * 12 + 3 * 1;
    EXPECT_EQ(file[top], 0x56);
    EXPECT_EQ(file[top + 1], 0x34);
    EXPECT_EQ(file[top + 2], 0x12);
    const size_t bottom = kHeaderSize + 0 * 12 + 3 * 2;
    EXPECT_EQ(file[bottom], 0xC0);
    EXPECT_EQ(file[bottom + 1], 0xB0);
    EXPECT_EQ(file[bottom + 2], 0xA0);
    EXPECT_EQ(draw.pixel(1, 0), 0x123456);
    EXPECT_EQ(draw.pixel(2, 2), 0xA0B0C0);
    EXPECT_EQ(drawnPixels(draw), (PointSet{{1, 0}, {2, 2}}));
}

TEST(BmpDrawFile, EachCallReplacesTheFileBytes) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(2, 2), 0);
    const std::vector<unsigned char> white = fileOf(draw);
    draw.setPixel(0, 1, kBlack); // bottom left: the first pixel stored
    const std::vector<unsigned char> marked = fileOf(draw);
    ASSERT_EQ(marked.size(), white.size());
    EXPECT_EQ(white[kHeaderSize], 0xFF);
    EXPECT_EQ(marked[kHeaderSize], 0x00);
    ASSERT_EQ(draw.setSize(3, 1), 0);
    EXPECT_EQ(fileOf(draw).size(), static_cast<size_t>(kHeaderSize + 12));
}

TEST(BmpDrawPixel, OutsideIsMinusOneAndIsNeverWritten) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(3, 2), 0);
    const std::vector<unsigned char> before = fileOf(draw);
    for (const Point& p : {Point{-1, 0}, Point{3, 0}, Point{0, -1}, Point{0, 2}, Point{INT_MIN, 0},
                           Point{0, INT_MAX}}) {
        EXPECT_EQ(draw.pixel(p.first, p.second), -1);
        draw.setPixel(p.first, p.second, kBlack);
    }
    EXPECT_EQ(fileOf(draw), before);
    draw.setPixel(2, 1, 0x010203);
    EXPECT_EQ(draw.pixel(2, 1), 0x010203);
}

TEST(BmpDrawFillRect, CodesForBadCorners) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(6, 4), 0);
    EXPECT_EQ(draw.fillRect(-1, 0, 2, 2, kBlack), 2);
    EXPECT_EQ(draw.fillRect(0, -1, 2, 2, kBlack), 2);
    EXPECT_EQ(draw.fillRect(0, 0, -1, 2, kBlack), 2);
    EXPECT_EQ(draw.fillRect(0, 0, 2, -1, kBlack), 2);
    EXPECT_EQ(draw.fillRect(6, 0, 2, 2, kBlack), 3);
    EXPECT_EQ(draw.fillRect(0, 0, 6, 2, kBlack), 3);
    EXPECT_EQ(draw.fillRect(0, 4, 2, 2, kBlack), 4);
    EXPECT_EQ(draw.fillRect(0, 0, 2, 4, kBlack), 4);
    EXPECT_EQ(draw.fillRect(6, 4, 0, 0, kBlack), 3); // x is checked before y
    EXPECT_TRUE(drawnPixels(draw).empty());
    EXPECT_EQ(draw.fillRect(0, 0, 5, 3, kBlack), 0);
    EXPECT_EQ(drawnPixels(draw).size(), 24u);
}

TEST(BmpDrawFillRect, CornersInAnyOrderIncludeBoth) {
    const PointSet expected{{1, 0}, {2, 0}, {3, 0}, {1, 1}, {2, 1}, {3, 1}, {1, 2}, {2, 2}, {3, 2}};
    const int corners[][4] = {{1, 0, 3, 2}, {3, 2, 1, 0}, {3, 0, 1, 2}, {1, 2, 3, 0}};
    for (const auto& c : corners) {
        BMPDRAW draw;
        ASSERT_EQ(draw.setSize(6, 4), 0);
        ASSERT_EQ(draw.fillRect(c[0], c[1], c[2], c[3], 0x336699), 0);
        EXPECT_EQ(drawnPixels(draw), expected) << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
        EXPECT_EQ(draw.pixel(2, 1), 0x336699);
    }
}

// Each expected list was worked out by hand from the integer steps: err starts
// at dx/2 (flat) or -dy/2 truncated toward zero (steep).
TEST(BmpDrawLine, HandWorkedLines) {
    struct Case {
        int x1, y1, x2, y2;
        PointSet pixels;
    };
    const Case cases[] = {
        // dx 5, dy 2, err 2 -> 0/-2+5=3 -> 1 -> -1+5=4 -> 2
        {0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}},
        // dx 4, dy 1, err 2 -> 1 -> 0 -> -1+4=3 -> 2: the y step comes late
        {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}}},
        // the same line walked back steps y earlier: (2,1), not (2,0)
        {4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}},
        // dx 2, dy 5, err -5/2 = -2 (toward zero; -3 would give (1,4))
        {0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}}},
        {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {3, 3, 3, 3, {{3, 3}}},
        {2, 4, 5, 4, {{2, 4}, {3, 4}, {4, 4}, {5, 4}}},
        {1, 5, 1, 3, {{1, 5}, {1, 4}, {1, 3}}},
    };
    for (const Case& c : cases) {
        BMPDRAW draw;
        ASSERT_EQ(draw.setSize(8, 8), 0);
        EXPECT_EQ(draw.drawLine(c.x1, c.y1, c.x2, c.y2, kBlack), 0);
        EXPECT_EQ(drawnPixels(draw), c.pixels) << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2;
        for (const Point& p : c.pixels)
            EXPECT_EQ(draw.pixel(p.first, p.second), kBlack);
    }
}

TEST(BmpDrawLine, PixelsOutsideAreSkippedAndTheLineGoesOn) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(4, 3), 0);
    EXPECT_EQ(draw.drawLine(-2, 1, 6, 1, kBlack), 0);
    EXPECT_EQ(drawnPixels(draw), (PointSet{{0, 1}, {1, 1}, {2, 1}, {3, 1}}));
    ASSERT_EQ(draw.setSize(4, 3), 0);
    EXPECT_EQ(draw.drawLine(-1, -1, 4, 4, kBlack), 0);
    EXPECT_EQ(drawnPixels(draw), (PointSet{{0, 0}, {1, 1}, {2, 2}}));
}

TEST(BmpDrawLine, WholeOutsideLinesDrawNothing) {
    BMPDRAW draw;
    ASSERT_EQ(draw.setSize(10, 6), 0);
    EXPECT_EQ(draw.drawLine(-1, 0, -5, 5, kBlack), 0);   // left
    EXPECT_EQ(draw.drawLine(10, 0, 20, 5, kBlack), 0);   // right
    EXPECT_EQ(draw.drawLine(0, -1, 9, -9, kBlack), 0);   // above
    EXPECT_EQ(draw.drawLine(0, 6, 9, 100, kBlack), 0);   // below
    EXPECT_EQ(draw.drawLine(-20, 3, 3, -20, kBlack), 0); // misses the top left corner
    EXPECT_TRUE(drawnPixels(draw).empty());
}

// Lines crossing a small picture from anywhere around it set exactly the pixels
// of the step-by-step walk.
TEST(BmpDrawLine, MatchesTheStepByStepWalkOnRandomLines) {
    constexpr int kWidth = 40;
    constexpr int kHeight = 24;
    std::mt19937 random(20240607u); // fixed seed: the same lines on every run
    std::uniform_int_distribution<int> near(-60, 100);
    std::uniform_int_distribution<int> far(-3000, 3000);
    BMPDRAW draw;
    for (int i = 0; i < 600; ++i) {
        auto& pick = i % 3 == 0 ? far : near;
        const int x1 = pick(random), y1 = pick(random), x2 = pick(random), y2 = pick(random);
        ASSERT_EQ(draw.setSize(kWidth, kHeight), 0);
        draw.drawLine(x1, y1, x2, y2, kBlack);
        ASSERT_EQ(drawnPixels(draw), referenceLine(x1, y1, x2, y2, kWidth, kHeight))
            << x1 << "," << y1 << "-" << x2 << "," << y2;
    }
}

// Lines millions of pixels long, checked against the walk; then lines between
// the extremes of int, whose walk would take 2^32 steps.
TEST(BmpDrawLine, LongLinesAcrossThePictureAreExact) {
    constexpr int kSide = 16;
    const int lines[][4] = {{-1000000, -3, 1000000, 20}, {1000000, 7, -1000000, 9},
                            {5, -1000000, 11, 1000000},  {-999999, 1000000, 1000003, -999998},
                            {-1000000, 8, 8, 1000000},   {3, 2000000, 9, -2000000}};
    BMPDRAW draw;
    for (const auto& l : lines) {
        ASSERT_EQ(draw.setSize(kSide, kSide), 0);
        draw.drawLine(l[0], l[1], l[2], l[3], kBlack);
        EXPECT_EQ(drawnPixels(draw), referenceLine(l[0], l[1], l[2], l[3], kSide, kSide))
            << l[0] << "," << l[1] << "-" << l[2] << "," << l[3];
    }

    PointSet diagonal;  // y = x
    PointSet middleRow; // y goes 4 -> 12 over the whole int range: 8 near x = 0
    for (int k = 0; k < kSide; ++k) {
        diagonal.insert({k, k});
        middleRow.insert({k, 8});
    }
    struct Extreme {
        int x1, y1, x2, y2;
        PointSet pixels;
    };
    const Extreme extremes[] = {
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, diagonal},
        {INT_MAX, INT_MAX, INT_MIN, INT_MIN, diagonal},
        {INT_MAX, 4, INT_MIN, 12, middleRow},
        {INT_MIN, INT_MAX, INT_MAX, INT_MIN, {}}, // x + y = -1 passes beside the picture
    };
    for (const Extreme& l : extremes) {
        ASSERT_EQ(draw.setSize(kSide, kSide), 0);
        // Walking 2^32 steps one by one would take seconds; the test's time-out catches that.
        draw.drawLine(l.x1, l.y1, l.x2, l.y2, kBlack);
        EXPECT_EQ(drawnPixels(draw), l.pixels) << l.x1 << "," << l.y1 << "-" << l.x2 << "," << l.y2;
    }
}

} // namespace
