// Decodes a packed binary value list (DCS trace format 4): the bytes a tracer
// sends after "R=" or "Z=" up to the CR that ends the line.
//
// The bytes come escaped: ESC x stands for x & 0x7F, so that no framing byte
// (CR, LF, FS, GS, ACK, ...) occurs inside the list; NUL may come raw. The
// unescaped bytes are a stream of 4-bit nibbles, high nibble first, read in
// one of three modes, starting in absolute mode:
//
//   absolute           4 nibbles: two bytes, low byte first, a signed 16-bit
//                      value; 0x8000 switches to difference mode
//   difference         2 nibbles: a signed byte added to the previous value;
//                      0x80 switches to second-difference mode, 0x81 to absolute
//   second difference  1 nibble, signed (-8..7): the previous step (last value
//                      minus the one before) plus it is added to the previous
//                      value; 0x8 switches to difference mode
//
// The list ends when the header's count of values has been read; at most the
// rest of the last byte may follow.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned char kPackedEscape = 0x1B;

enum PackedTraceStatus {
    kPackedDecoded = 0,    // exactly `count` values, nothing left but the rest of the last byte
    kPackedEndsEarly = 1,  // the bytes (or an ESC at their end) ran out before `count` values
    kPackedPastCount = 2,  // whole bytes follow the last value
    kPackedOutOfRange = 3, // a value left the signed 16-bit range
    kPackedNoRoom = 4,     // `count` is negative or more than `capacity`: nothing decoded
};

// Decodes `count` values from the `length` bytes at `bytes` into
// values[0..count-1]. Never reads past `length` nor writes past `capacity`.
// Values written before a failure are of no use.
[[nodiscard]] PackedTraceStatus decodePackedTrace(const unsigned char* bytes, size_t length,
                                                  int count, int16_t* values, int capacity);
