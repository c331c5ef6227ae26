#include "Packedtrace.h"

namespace {

constexpr int kSwitchToDifference = 0x8000; // in absolute mode
constexpr int kSwitchToSecond = 0x80;       // in difference mode
constexpr int kSwitchToAbsolute = 0x81;     // in difference mode
constexpr int kSecondSwitch = 0x8;          // in second-difference mode

// The unescaped bytes of the list as nibbles, high nibble first.
class NibbleReader {
public:
    NibbleReader(const unsigned char* bytes, size_t length) : m_bytes(bytes), m_length(length) {}

    // The next nibble; false when the bytes ran out.
    bool next(int& nibble) {
        if (m_lowPending) {
            m_lowPending = false;
            nibble = m_byte & 0x0F;
            return true;
        }
        if (!nextByte(m_byte))
            return false;
        m_lowPending = true;
        nibble = m_byte >> 4;
        return true;
    }

    // `n` nibbles as one unsigned number, the first one highest.
    bool read(int n, int& value) {
        value = 0;
        for (int k = 0; k < n; ++k) {
            int nibble = 0;
            if (!next(nibble))
                return false;
            value = (value << 4) | nibble;
        }
        return true;
    }

    // Whole bytes are left after the current one.
    bool bytesLeft() const { return m_pos < m_length; }

private:
    bool nextByte(int& byte) {
        if (m_pos >= m_length)
            return false;
        unsigned char b = m_bytes[m_pos++];
        if (b == kPackedEscape) {
            if (m_pos >= m_length)
                return false; // an escape cut by the end of the line
            b = static_cast<unsigned char>(m_bytes[m_pos++] & 0x7F);
        }
        byte = b;
        return true;
    }

    const unsigned char* m_bytes;
    size_t m_length;
    size_t m_pos = 0;
    int m_byte = 0;
    bool m_lowPending = false;
};

int signedBits(int value, int bits) {
    const int top = 1 << (bits - 1);
    return value >= top ? value - (top << 1) : value;
}

} // namespace

PackedTraceStatus decodePackedTrace(const unsigned char* bytes, size_t length, int count,
                                    int16_t* values, int capacity) {
    if (count < 0 || count > capacity)
        return kPackedNoRoom;
    enum Mode { kAbsolute, kDifference, kSecond } mode = kAbsolute;
    NibbleReader in(bytes, length);
    int previous = 0; // a list that starts with a difference adds it to 0
    int step = 0;     // last value minus the one before; 0 before the second value
    int stored = 0;
    while (stored < count) {
        int code = 0;
        int value = 0;
        if (mode == kAbsolute) {
            if (!in.read(4, code))
                return kPackedEndsEarly;
            const int low = code >> 8; // the first byte read is the low byte
            const int raw = ((code & 0xFF) << 8) | low;
            if (raw == kSwitchToDifference) {
                mode = kDifference;
                continue;
            }
            value = signedBits(raw, 16);
        } else if (mode == kDifference) {
            if (!in.read(2, code))
                return kPackedEndsEarly;
            if (code == kSwitchToSecond || code == kSwitchToAbsolute) {
                mode = code == kSwitchToSecond ? kSecond : kAbsolute;
                continue;
            }
            value = previous + signedBits(code, 8);
        } else {
            if (!in.read(1, code))
                return kPackedEndsEarly;
            if (code == kSecondSwitch) {
                mode = kDifference;
                continue;
            }
            value = previous + step + signedBits(code, 4);
        }
        if (value < INT16_MIN || value > INT16_MAX)
            return kPackedOutOfRange;
        if (stored > 0)
            step = value - previous;
        previous = value;
        values[stored++] = static_cast<int16_t>(value);
    }
    return in.bytesLeft() ? kPackedPastCount : kPackedDecoded;
}
