#include "Simpacked.h"

#include <cstdint>

namespace sim {

namespace {

constexpr char kEscape = 0x1B;

// Nibbles collected in order, then paired into bytes, the first of a pair high.
class Nibbles {
public:
    void add(int nibble) { m_nibbles.push_back(static_cast<uint8_t>(nibble & 0x0F)); }
    void addByte(int byte) {
        add(byte >> 4);
        add(byte);
    }
    // A 16-bit field: its low byte first, as the format lays it out.
    void addWord(int word) {
        addByte(word & 0xFF);
        addByte((word >> 8) & 0xFF);
    }
    std::string bytes() const {
        std::string out;
        for (std::size_t i = 0; i < m_nibbles.size(); i += 2) {
            const int low = i + 1 < m_nibbles.size() ? m_nibbles[i + 1] : 0; // pad: 0
            out += static_cast<char>((m_nibbles[i] << 4) | low);
        }
        return out;
    }

private:
    std::vector<uint8_t> m_nibbles;
};

enum class Mode { Absolute, Difference, Second };

// The switch codes of each mode.
constexpr int kAbsoluteToDifference = 0x8000;
constexpr int kDifferenceToSecond = 0x80;
constexpr int kDifferenceToAbsolute = 0x81;
constexpr int kSecondToDifference = 0x8;

void switchMode(Nibbles& out, Mode& mode, Mode wanted) {
    while (mode != wanted) {
        if (mode == Mode::Absolute) {
            out.addWord(kAbsoluteToDifference);
            mode = Mode::Difference;
        } else if (mode == Mode::Second) {
            out.add(kSecondToDifference);
            mode = Mode::Difference;
        } else if (wanted == Mode::Second) {
            out.addByte(kDifferenceToSecond);
            mode = Mode::Second;
        } else {
            out.addByte(kDifferenceToAbsolute);
            mode = Mode::Absolute;
        }
    }
}

} // namespace

std::string escapePacked(const std::string& raw) {
    static const std::string kEscaped("\x06\x0A\x0D\x11\x13\x15\x1B\x1C\x1D\x1E", 10);
    std::string out;
    for (const char c : raw) {
        if (kEscaped.find(c) != std::string::npos) {
            out += kEscape;
            out += static_cast<char>(static_cast<unsigned char>(c) | 0x80);
        } else {
            out += c;
        }
    }
    return out;
}

bool encodePacked(const std::vector<int>& values, std::string& bytes) {
    Nibbles out;
    Mode mode = Mode::Absolute; // every list starts so
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int value = values[i];
        const int step = i > 0 ? value - values[i - 1] : 0;
        // Second differences only once there is a step to build on.
        const int change = i > 1 ? step - (values[i - 1] - values[i - 2]) : 99;
        if (i > 1 && change >= -7 && change <= 7) {
            switchMode(out, mode, Mode::Second);
            out.add(change);
        } else if (i > 0 && step >= -126 && step <= 127) {
            switchMode(out, mode, Mode::Difference);
            out.addByte(step & 0xFF);
        } else {
            if (value < -32767 || value > 32767)
                return false; // -32768 is the switch code
            switchMode(out, mode, Mode::Absolute);
            out.addWord(value & 0xFFFF);
        }
    }
    bytes = escapePacked(out.bytes());
    return true;
}

} // namespace sim
