#include "Pngfile.h"

#include "Bytes.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr int kMaxSide = 4096;            // as the drawing class accepts
constexpr size_t kBmpHeaderSize = 54;     // 14-byte file header + 40-byte info header
constexpr int kBytesPerPixel = 3;         // 24 bits
constexpr size_t kStoredBlockMax = 65535; // a stored deflate block's LEN is 16 bits
constexpr uint32_t kAdlerModulus = 65521; // the largest prime below 2^16

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

uint32_t adler32(const unsigned char* data, size_t size) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % kAdlerModulus;
        b = (b + a) % kAdlerModulus;
    }
    return (b << 16) | a;
}

// PNG's numbers are big-endian 32-bit fields, appended as the file grows.
void putBe32(std::string& out, uint32_t value) {
    char field[4];
    writeBig32(field, value);
    out.append(field, sizeof field);
}

// Length, type, data, and the CRC of type and data.
void putChunk(std::string& png, const char* type, const std::string& data) {
    putBe32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.append(type, 4);
    png += data;
    putBe32(png,
            crc32(reinterpret_cast<const unsigned char*>(png.data() + start), png.size() - start));
}

// The zlib stream of `raw`: header 78 01 (deflate, 32 KB window, no
// dictionary; 0x7801 is a multiple of 31), stored blocks, Adler-32.
std::string zlibStored(const std::vector<unsigned char>& raw) {
    std::string out = {'\x78', '\x01'};
    size_t at = 0;
    do {
        const size_t n = std::min(kStoredBlockMax, raw.size() - at);
        const bool last = at + n == raw.size();
        out.push_back(last ? '\x01' : '\x00'); // BFINAL, BTYPE 00
        char lengths[4]; // LEN and its complement NLEN, little-endian as deflate has them
        writeLittle16(lengths, static_cast<uint16_t>(n));
        writeLittle16(lengths + 2, static_cast<uint16_t>(~n));
        out.append(lengths, sizeof lengths);
        out.append(reinterpret_cast<const char*>(raw.data() + at), n);
        at += n;
    } while (at < raw.size());
    putBe32(out, adler32(raw.data(), raw.size()));
    return out;
}

} // namespace

uint32_t crc32(const unsigned char* data, size_t size, uint32_t crc) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

bool bmpToRgb(const unsigned char* bmp, size_t size, RgbImage& image, std::string& reason) {
    if (size < kBmpHeaderSize || bmp[0] != 'B' || bmp[1] != 'M' || readLittleU32(bmp + 14) < 40) {
        reason = "not a BMP file";
        return false;
    }
    const auto width = static_cast<int32_t>(readLittleU32(bmp + 18));
    const auto height = static_cast<int32_t>(readLittleU32(bmp + 22));
    const bool topDown = height < 0;
    const int64_t rows = topDown ? -static_cast<int64_t>(height) : height;
    if (readLittleU16(bmp + 26) != 1 || readLittleU16(bmp + 28) != 24 ||
        readLittleU32(bmp + 30) != 0) {
        reason = "not an uncompressed 24-bit BMP";
        return false;
    }
    if (width < 1 || width > kMaxSide || rows < 1 || rows > kMaxSide) {
        reason = "picture size out of range";
        return false;
    }
    // Rows are padded to whole 32-bit words.
    const size_t stride = (static_cast<size_t>(width) * kBytesPerPixel + 3) / 4 * 4;
    const size_t offset = readLittleU32(bmp + 10);
    if (offset > size || (size - offset) / stride < static_cast<size_t>(rows)) {
        reason = "pixel rows past the end of the file";
        return false;
    }
    image.width = width;
    image.height = static_cast<int>(rows);
    image.pixels.assign(static_cast<size_t>(width) * kBytesPerPixel * static_cast<size_t>(rows), 0);
    for (int64_t y = 0; y < rows; ++y) {
        const int64_t sourceRow = topDown ? y : rows - 1 - y;
        const unsigned char* from = bmp + offset + static_cast<size_t>(sourceRow) * stride;
        unsigned char* to =
            image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
        for (int x = 0; x < width; ++x) {
            to[3 * x] = from[3 * x + 2]; // BMP keeps blue, green, red
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    return true;
}

bool encodePng(const RgbImage& image, std::string& png) {
    if (image.width < 1 || image.width > kMaxSide || image.height < 1 || image.height > kMaxSide ||
        image.pixels.size() !=
            static_cast<size_t>(image.width) * kBytesPerPixel * static_cast<size_t>(image.height))
        return false;
    // Every row behind filter type 0 (none).
    const size_t rowBytes = static_cast<size_t>(image.width) * kBytesPerPixel;
    std::vector<unsigned char> raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes) * y;
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    std::string header;
    putBe32(header, static_cast<uint32_t>(image.width));
    putBe32(header, static_cast<uint32_t>(image.height));
    // Bit depth 8, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
    header += std::string("\x08\x02\x00\x00\x00", 5);

    png.assign("\x89PNG\r\n\x1a\n", 8);
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlibStored(raw));
    putChunk(png, "IEND", std::string());
    return true;
}
