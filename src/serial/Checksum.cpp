#include "Checksum.h"

namespace {

constexpr uint16_t kPolynomial = 0x1021; // x^16 + x^12 + x^5 + 1
constexpr uint16_t kTopBit = 0x8000;

} // namespace

uint16_t ComputeCrc16(int count, uint16_t initial, const unsigned char* bytes) {
    uint16_t crc = initial;
    for (int i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(bytes[i]) << 8));
        for (int bit = 0; bit < 8; ++bit) {
            if ((crc & kTopBit) != 0)
                crc = static_cast<uint16_t>((crc << 1) ^ kPolynomial);
            else
                crc = static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}
