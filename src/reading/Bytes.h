// Byte access: 8-, 16- and 32-bit fields, little- and big-endian, read and
// written one byte at a time, so that neither the host's byte order nor its
// alignment can change a field. Header-only and without Qt: the device
// protocols, the picture, the cipher, the tools and the tracer simulator all
// lay out their bytes with these functions.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

// A buffer's bytes: unsigned char, or char as a std::string holds them (the
// simulator and the PNG writer build their messages and files in strings).
template <typename T>
concept ByteBuffer = std::is_same_v<T, unsigned char> || std::is_same_v<T, char>;

template <ByteBuffer B> constexpr uint8_t readU8(const B* p) {
    return static_cast<uint8_t>(p[0]);
}
template <ByteBuffer B> constexpr int8_t readS8(const B* p) {
    return static_cast<int8_t>(readU8(p));
}
template <ByteBuffer B> constexpr uint16_t readLittleU16(const B* p) {
    return static_cast<uint16_t>(readU8(p) | readU8(p + 1) << 8);
}
template <ByteBuffer B> constexpr int16_t readLittleS16(const B* p) {
    return static_cast<int16_t>(readLittleU16(p));
}
template <ByteBuffer B> constexpr uint16_t readBigU16(const B* p) {
    return static_cast<uint16_t>(readU8(p) << 8 | readU8(p + 1));
}
template <ByteBuffer B> constexpr int16_t readBigS16(const B* p) {
    return static_cast<int16_t>(readBigU16(p));
}
template <ByteBuffer B> constexpr uint32_t readLittleU32(const B* p) {
    return readLittleU16(p) | static_cast<uint32_t>(readLittleU16(p + 2)) << 16;
}
template <ByteBuffer B> constexpr uint32_t readBigU32(const B* p) {
    return static_cast<uint32_t>(readBigU16(p)) << 16 | readBigU16(p + 2);
}

// The writers take the unsigned value: a signed one goes as its two's
// complement, static_cast to the unsigned type of its width.
template <ByteBuffer B> constexpr void write8(B* p, uint8_t value) {
    p[0] = static_cast<B>(value);
}
template <ByteBuffer B> constexpr void writeLittle16(B* p, uint16_t value) {
    write8(p, static_cast<uint8_t>(value & 0xFFu));
    write8(p + 1, static_cast<uint8_t>(value >> 8));
}
template <ByteBuffer B> constexpr void writeBig16(B* p, uint16_t value) {
    write8(p, static_cast<uint8_t>(value >> 8));
    write8(p + 1, static_cast<uint8_t>(value & 0xFFu));
}
template <ByteBuffer B> constexpr void writeLittle32(B* p, uint32_t value) {
    writeLittle16(p, static_cast<uint16_t>(value & 0xFFFFu));
    writeLittle16(p + 2, static_cast<uint16_t>(value >> 16));
}
template <ByteBuffer B> constexpr void writeBig32(B* p, uint32_t value) {
    writeBig16(p, static_cast<uint16_t>(value >> 16));
    writeBig16(p + 2, static_cast<uint16_t>(value & 0xFFFFu));
}

// The low bits of trunc(value) in two's complement, for any finite double
// (fmod is exact, so no out-of-range conversion takes place); 0 for NaN and
// infinities. `modulus` is 2 to the number of bits kept.
inline long long lowBitsOfTruncated(double value, double modulus) {
    if (!std::isfinite(value))
        return 0;
    double r = std::fmod(std::trunc(value), modulus);
    if (r < 0)
        r += modulus;
    return static_cast<long long>(r);
}

// The networked tracer's 16-bit field: little-endian two's complement; 0 when
// there are no bytes.
constexpr int16_t readInt16(const unsigned char* bytes) {
    return bytes == nullptr ? 0 : readLittleS16(bytes);
}

// `value` truncated toward zero and kept to its low 16 bits into that field:
// 1, or 0 (nothing written) when there are no bytes.
inline int writeInt16(unsigned char* bytes, double value) {
    if (bytes == nullptr)
        return 0;
    writeLittle16(bytes, static_cast<uint16_t>(lowBitsOfTruncated(value, 65536.0)));
    return 1;
}
