#include "Bmpdrawclass.h"

#include "Bytes.h"

#include <cstring>
#include <new>

namespace {

constexpr int kMaxSide = 4096;       // largest width or height accepted
constexpr int kBytesPerPixel = 3;    // 24 bits: blue, green, red
constexpr int kRowAlignment = 4;     // BMP rows are padded to whole 32-bit words
constexpr uint32_t kHeaderSize = 54; // 14-byte file header + 40-byte info header

void storeColour(unsigned char* at, int colour) {
    at[0] = static_cast<unsigned char>(colour & 0xFF);
    at[1] = static_cast<unsigned char>((colour >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>((colour >> 16) & 0xFF);
}

// Number of y steps (x steps for a steep line) the line has made after `k` steps
// along its major axis, and the error term then. The major axis moves on every
// step and the error term stays in [0, dx) for a flat line and in (-dy, 0] for a
// steep one, so both follow from one division; k * minor fits in 64 unsigned bits
// because both factors are below 2^32.
struct Advance {
    int64_t minorSteps;
    int64_t err;
};

Advance advanceFlat(int64_t err, int64_t dx, int64_t dy, int64_t k) {
    const uint64_t product = static_cast<uint64_t>(k) * static_cast<uint64_t>(dy);
    const auto quotient = static_cast<int64_t>(product / static_cast<uint64_t>(dx));
    const auto remainder = static_cast<int64_t>(product % static_cast<uint64_t>(dx));
    if (err < remainder)
        return {quotient + 1, err - remainder + dx};
    return {quotient, err - remainder};
}

Advance advanceSteep(int64_t err, int64_t dx, int64_t dy, int64_t k) {
    const uint64_t product = static_cast<uint64_t>(k) * static_cast<uint64_t>(dx);
    const auto quotient = static_cast<int64_t>(product / static_cast<uint64_t>(dy));
    const auto remainder = static_cast<int64_t>(product % static_cast<uint64_t>(dy));
    if (remainder + err > 0)
        return {quotient + 1, remainder + err - dy};
    return {quotient, remainder + err};
}

// Steps along an axis before a coordinate moving by `step` (+1 or -1) reaches
// [0, size); 0 when it starts inside or moves away from the range.
int64_t stepsToEnter(int64_t from, int64_t step, int64_t size) {
    if (step > 0 && from < 0)
        return -from;
    if (step < 0 && from > size - 1)
        return from - (size - 1);
    return 0;
}

// True once a monotonic coordinate has gone past the far edge of [0, size): no
// later point of the line can be inside the picture again.
bool pastFarEdge(int64_t at, int64_t step, int64_t size) {
    return step > 0 ? at > size - 1 : at < 0;
}

} // namespace

BMPDRAW::~BMPDRAW() {
    delete[] m_pixels;
    delete[] m_fileBytes;
}

int BMPDRAW::setSize(int width, int height) {
    if (width < 0 || width > kMaxSide)
        return 1;
    if (height < 0 || height > kMaxSide)
        return 2;
    const int stride = (width * kBytesPerPixel + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const int pixelSize = stride * height;
    // A zero-sized picture still gets its (empty) buffer, so that it is a picture
    // and toBmp can produce its header.
    auto* pixels = new (std::nothrow) unsigned char[static_cast<size_t>(pixelSize)];
    delete[] m_pixels;
    m_pixels = pixels;
    if (pixels == nullptr) {
        m_width = m_height = m_stride = m_pixelSize = 0;
        return 3;
    }
    m_width = width;
    m_height = height;
    m_stride = stride;
    m_pixelSize = pixelSize;
    if (height == 0)
        return 0;
    // One row is built (padding zero), then copied to the others.
    std::memset(pixels, 0, static_cast<size_t>(stride));
    for (int x = 0; x < width; ++x)
        storeColour(pixels + x * kBytesPerPixel, m_background);
    for (int y = 1; y < height; ++y)
        std::memcpy(pixels + y * stride, pixels, static_cast<size_t>(stride));
    return 0;
}

void BMPDRAW::setPixel(int x, int y, int colour) {
    if (m_pixels == nullptr || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    storeColour(m_pixels + (m_height - y - 1) * m_stride + kBytesPerPixel * x, colour);
}

int BMPDRAW::pixel(int x, int y) const {
    if (m_pixels == nullptr || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return -1;
    const unsigned char* at = m_pixels + (m_height - y - 1) * m_stride + kBytesPerPixel * x;
    return at[2] * 65536 + at[1] * 256 + at[0];
}

// Bresenham with an integer error term. The work is done in 64 bits so that any
// pair of int end points is handled without overflow, and it is bounded by the
// picture rather than by the length of the line: the part before the picture is
// skipped in one step and the walk ends once the line has left it. The pixels
// set are exactly those of the plain step-by-step walk.
int BMPDRAW::drawLine(int x1, int y1, int x2, int y2, int colour) {
    if (m_pixels == nullptr)
        return 0;
    const int64_t w = m_width;
    const int64_t h = m_height;
    if ((x1 < 0 && x2 < 0) || (x1 >= w && x2 >= w) || (y1 < 0 && y2 < 0) || (y1 >= h && y2 >= h))
        return 0;

    int64_t x = x1;
    int64_t y = y1;
    const int64_t dx = x2 > x1 ? int64_t{x2} - x1 : int64_t{x1} - x2;
    const int64_t sx = x1 < x2 ? 1 : -1;
    const int64_t dy = y2 > y1 ? int64_t{y2} - y1 : int64_t{y1} - y2;
    const int64_t sy = y1 < y2 ? 1 : -1;
    int64_t err = (dx > dy ? dx : -dy) / 2;

    if (dx > dy) {
        const int64_t k = stepsToEnter(x, sx, w);
        const Advance a = advanceFlat(err, dx, dy, k);
        x += sx * k;
        y += sy * a.minorSteps;
        err = a.err;
    } else if (dy > 0) {
        const int64_t k = stepsToEnter(y, sy, h);
        const Advance a = advanceSteep(err, dx, dy, k);
        y += sy * k;
        x += sx * a.minorSteps;
        err = a.err;
    }

    for (;;) {
        if (pastFarEdge(x, sx, w) || pastFarEdge(y, sy, h))
            return 0;
        setPixel(static_cast<int>(x), static_cast<int>(y), colour);
        if (x == x2 && y == y2)
            return 0;
        const int64_t e = err;
        if (e > -dx) {
            err -= dy;
            x += sx;
        }
        if (e < dy) {
            err += dx;
            y += sy;
        }
    }
}

int BMPDRAW::fillRect(int x1, int y1, int x2, int y2, int colour) {
    if (m_pixels == nullptr)
        return 1;
    if (x1 < 0 || y1 < 0 || x2 < 0 || y2 < 0)
        return 2;
    if (x1 >= m_width || x2 >= m_width)
        return 3;
    if (y1 >= m_height || y2 >= m_height)
        return 4;
    const int left = x1 < x2 ? x1 : x2;
    const int right = x1 < x2 ? x2 : x1;
    const int top = y1 < y2 ? y1 : y2;
    const int bottom = y1 < y2 ? y2 : y1;
    for (int y = top; y <= bottom; ++y) {
        unsigned char* row = m_pixels + (m_height - y - 1) * m_stride;
        for (int x = left; x <= right; ++x)
            storeColour(row + kBytesPerPixel * x, colour);
    }
    return 0;
}

int BMPDRAW::toBmp(const unsigned char*& bytes, int& size) {
    bytes = nullptr;
    size = 0;
    if (m_pixels == nullptr)
        return 1;
    const int fileSize = static_cast<int>(kHeaderSize) + m_pixelSize;
    auto* file = new (std::nothrow) unsigned char[static_cast<size_t>(fileSize)];
    delete[] m_fileBytes;
    m_fileBytes = file;
    m_fileBytesSize = 0;
    if (file == nullptr)
        return 1;
    m_imageSize = static_cast<uint32_t>(m_pixelSize);
    m_fileSize = kHeaderSize + m_imageSize;

    // The header field by field, little-endian, so that neither the host's byte
    // order nor a compiler's struct padding can change the file.
    file[0] = static_cast<unsigned char>(m_signature[0]);
    file[1] = static_cast<unsigned char>(m_signature[1]);
    writeLittle32(file + 2, m_fileSize);
    writeLittle16(file + 6, m_reserved1);
    writeLittle16(file + 8, m_reserved2);
    writeLittle32(file + 10, m_dataOffset);
    writeLittle32(file + 14, m_infoSize);
    writeLittle32(file + 18, static_cast<uint32_t>(m_width));
    writeLittle32(file + 22, static_cast<uint32_t>(m_height));
    writeLittle16(file + 26, m_planes);
    writeLittle16(file + 28, m_bitsPerPixel);
    writeLittle32(file + 30, m_compression);
    writeLittle32(file + 34, m_imageSize);
    writeLittle32(file + 38, static_cast<uint32_t>(m_xResolution));
    writeLittle32(file + 42, static_cast<uint32_t>(m_yResolution));
    writeLittle32(file + 46, m_coloursUsed);
    writeLittle32(file + 50, m_coloursImportant);
    if (m_pixelSize > 0)
        std::memcpy(file + kHeaderSize, m_pixels, static_cast<size_t>(m_pixelSize));

    m_fileBytesSize = fileSize;
    bytes = m_fileBytes;
    size = m_fileBytesSize;
    return 0;
}
