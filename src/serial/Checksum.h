// The 16-bit check value that protects the replies of the label protocol.
#pragma once

#include <cstdint>

// CRC-16/XMODEM: polynomial 0x1021, most significant bit first, no reflection,
// no final XOR, started from `initial` (0 for the label replies). A count of 0
// or less leaves `initial` unchanged. Check value 0x31C3 over "123456789".
uint16_t ComputeCrc16(int count, uint16_t initial, const unsigned char* bytes);
