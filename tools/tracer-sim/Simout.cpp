#include "Simout.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace sim {

namespace {

bool g_quiet = false;

// Longer dumps say how much they left out: a flood of 150,000 bytes helps nobody.
constexpr std::size_t kDumpLimit = 4096;
constexpr std::size_t kDumpRow = 16;

void emit(std::FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

const char* controlName(unsigned char byte) {
    switch (byte) {
    case 0x01:
        return "SOH";
    case 0x02:
        return "STX";
    case 0x03:
        return "ETX";
    case 0x05:
        return "ENQ";
    case 0x06:
        return "ACK";
    case 0x0A:
        return "LF";
    case 0x0D:
        return "CR";
    case 0x15:
        return "NAK";
    case 0x1C:
        return "FS";
    case 0x1D:
        return "GS";
    case 0x1E:
        return "RS";
    default:
        return nullptr;
    }
}

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0x0Fu];
}

} // namespace

void setQuiet(bool quiet) {
    g_quiet = quiet;
}

void say(const std::string& line) {
    if (!g_quiet)
        emit(stdout, line);
}

void sayAlways(const std::string& line) {
    emit(stdout, line);
}

void complain(const std::string& text) {
    emit(stderr, text);
}

void dumpHex(const std::string& title, const std::string& bytes) {
    emit(stderr, title + " (" + decimal(static_cast<int64_t>(bytes.size())) + " bytes):");
    const std::size_t shown = bytes.size() < kDumpLimit ? bytes.size() : kDumpLimit;
    for (std::size_t row = 0; row < shown; row += kDumpRow) {
        std::string line = "  ";
        for (int shift = 12; shift >= 0; shift -= 4)
            line += hexDigit(static_cast<unsigned>(row >> shift));
        line += "  ";
        std::string text;
        for (std::size_t i = row; i < row + kDumpRow; ++i) {
            if (i < shown) {
                const auto byte = static_cast<unsigned char>(bytes[i]);
                line += hexDigit(byte >> 4u);
                line += hexDigit(byte);
                line += ' ';
                text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
            } else {
                line += "   ";
            }
        }
        emit(stderr, line + " |" + text + "|");
    }
    if (shown < bytes.size())
        emit(stderr,
             "  ... " + decimal(static_cast<int64_t>(bytes.size() - shown)) + " more bytes");
}

std::string hexText(const std::string& bytes) {
    constexpr std::size_t kShown = 16;
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text += (i == 0 ? "" : " ") +
                std::string{"0123456789abcdef"[byte >> 4u], "0123456789abcdef"[byte & 0x0Fu]};
    }
    return bytes.size() > kShown ? text + " ..." : text;
}

std::string readable(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (const char* name = controlName(byte)) {
            text += '<';
            text += name;
            text += '>';
        } else if (byte < 0x20 || byte == 0x7F) {
            text += "<0x";
            text += hexDigit(byte >> 4u);
            text += hexDigit(byte);
            text += '>';
        } else {
            text += c;
        }
    }
    return text;
}

std::string decimal(int64_t value) {
    // Digits by hand: printf would follow a locale with other digits or signs.
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? "-" + digits : digits;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int64_t ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace sim
