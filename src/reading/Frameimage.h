// The 512 x 256 picture of both lens outlines shown after each reading.
#pragma once

#include "Tracedata.h"

constexpr int kFrameImageWidth = 512;
constexpr int kFrameImageHeight = 256;
constexpr int kFrameImageCapacity = 500000; // bytes of BMP the caller provides

// Draws the record (after computeGeometry) and copies the BMP bytes into `out`,
// which has room for kFrameImageCapacity bytes. Returns 0, or 1 when the picture
// could not be made (no memory); then outSize is 0.
[[nodiscard]] int renderFrameImage(const struct_tracedata& record, unsigned char* out,
                                   int& outSize);
