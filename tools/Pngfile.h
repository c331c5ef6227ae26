// A self-contained PNG writer for krvw-tool, which has no image library: the
// frame picture's BMP bytes become an 8-bit RGB PNG whose zlib stream holds
// stored (uncompressed) deflate blocks, with the CRC-32 of every chunk and the
// Adler-32 of the stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Top-down rows of width * 3 bytes, red, green, blue.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Reads an uncompressed 24-bit BMP (bottom-up or top-down rows). False with a
// reason when the bytes are not such a picture or its rows lie past the end.
bool bmpToRgb(const unsigned char* bmp, size_t size, RgbImage& image, std::string& reason);

// The whole PNG file for the image (width and height 1..4096).
bool encodePng(const RgbImage& image, std::string& png);

// CRC-32 of ISO 3309 / ITU-T V.42 (reflected polynomial 0xEDB88320), as PNG uses.
uint32_t crc32(const unsigned char* data, size_t size, uint32_t crc = 0);
