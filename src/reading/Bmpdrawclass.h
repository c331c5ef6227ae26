// A small 24-bit drawing surface that produces BMP file bytes.
#pragma once

#include <cstdint>

class BMPDRAW {
public:
    BMPDRAW() = default;
    ~BMPDRAW();
    BMPDRAW(const BMPDRAW&) = delete;
    BMPDRAW& operator=(const BMPDRAW&) = delete;

    static int makeColour(int r, int g, int b) { return r * 65536 + g * 256 + b; }

    // 0 on success; 1 width outside 0..4096; 2 height outside 0..4096;
    // 3 no memory for the pixels. Fills the picture with the background.
    [[nodiscard]] int setSize(int width, int height);
    // Bresenham line, both end points included; pixels outside are skipped. Returns 0.
    int drawLine(int x1, int y1, int x2, int y2, int colour);
    // 0; 1 no pixels; 2 negative coordinate; 3 x past width; 4 y past height.
    [[nodiscard]] int fillRect(int x1, int y1, int x2, int y2, int colour);
    // Builds the BMP file (54-byte header + pixel rows); 0, or 1 with no pixels.
    // The bytes stay owned by the object until the next toBmp or its destruction.
    [[nodiscard]] int toBmp(const unsigned char*& bytes, int& size);

    void setPixel(int x, int y, int colour);
    int pixel(int x, int y) const; // -1 outside the picture
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    char m_signature[2] = {'B', 'M'};
    uint32_t m_fileSize = 0;
    uint16_t m_reserved1 = 0, m_reserved2 = 0;
    uint32_t m_dataOffset = 54;
    uint32_t m_infoSize = 40;
    int32_t m_width = 0;
    int32_t m_height = 0;
    uint16_t m_planes = 1;
    uint16_t m_bitsPerPixel = 24;
    uint32_t m_compression = 0;
    uint32_t m_imageSize = 0;
    int32_t m_xResolution = 96, m_yResolution = 96;
    uint32_t m_coloursUsed = 0, m_coloursImportant = 0;
    unsigned char* m_pixels = nullptr;
    int32_t m_pixelSize = 0;
    int32_t m_stride = 0;
    unsigned char* m_fileBytes = nullptr;
    int32_t m_fileBytesSize = 0;
    int m_background = 0xFFFFFF;
};
