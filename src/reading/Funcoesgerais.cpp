#include "Funcoesgerais.h"

#include "Bytes.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

namespace {

// The "C" locale, made once, so that number text never follows the user's locale
// (the application object switches the C library to it).
locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

LineField::LineField() = default;

int LineField::load(const char* text, int length) {
    m_count = 0;
    int j = 0;
    while (j < length) {
        while (j < length && isLineEnd(text[j]))
            ++j;
        if (j >= length)
            break;
        int end = j;
        while (end < length && !isLineEnd(text[end]))
            ++end;
        // Lines past the table's capacity are ignored and longer lines are cut:
        // a caller then misses a label or finds a value that does not match.
        if (m_count < kLineFieldLines) {
            int n = end - j;
            if (n > kLineFieldLineSize - 1)
                n = kLineFieldLineSize - 1;
            m_starts[m_count] = j;
            m_lengths[m_count] = end - j;
            char* line = m_lines[m_count];
            std::memcpy(line, text + j, static_cast<size_t>(n));
            line[n] = '\0';
            const char* separator = static_cast<const char*>(std::memchr(line, m_separator, n));
            if (separator == nullptr) {
                m_labels[m_count][0] = '\0';
                m_values[m_count][0] = '\0';
            } else {
                const int labelLength = static_cast<int>(separator - line);
                std::memcpy(m_labels[m_count], line, static_cast<size_t>(labelLength));
                m_labels[m_count][labelLength] = '\0';
                std::memcpy(m_values[m_count], separator + 1,
                            static_cast<size_t>(n - labelLength - 1));
                m_values[m_count][n - labelLength - 1] = '\0';
            }
            ++m_count;
        }
        j = end + 1;
    }
    return 1;
}

int LineField::find(const char* label) const {
    for (int i = 0; i < m_count; ++i)
        if (std::strcmp(m_labels[i], label) == 0)
            return i;
    return -1;
}

int LineField::findAll(const char* label, int* indexes, int max) const {
    int n = 0;
    for (int i = 0; i < m_count && n < max; ++i)
        if (std::strcmp(m_labels[i], label) == 0)
            indexes[n++] = i;
    return n;
}

int LineField::getValue(const char* label, std::string& out) const {
    const int i = find(label);
    if (i < 0) {
        out.clear();
        return 1;
    }
    out = m_values[i];
    return 0;
}

CSVreader::CSVreader() = default;

int CSVreader::split(const char* text) {
    const size_t length = strnlen(text, kCsvBufferSize);
    if (length >= static_cast<size_t>(kCsvBufferSize))
        return 0;
    int fields = 1;
    for (size_t i = 0; i < length; ++i)
        if (text[i] == m_separator)
            ++fields;
    if (fields > kCsvFields)
        return 0;

    std::memcpy(m_buffer, text, length);
    m_buffer[length] = '\0';
    m_length = static_cast<int>(length) + 1;
    m_count = 0;
    char* start = m_buffer;
    for (size_t i = 0; i <= length; ++i) {
        if (m_buffer[i] == m_separator || m_buffer[i] == '\0') {
            m_buffer[i] = '\0';
            m_fields[m_count++] = start;
            start = m_buffer + i + 1;
        }
    }
    return 1;
}

const char* CSVreader::item(int i) const {
    if (i < 0 || i >= m_count)
        return nullptr;
    return m_fields[i];
}

void intToString(std::string& out, int value) {
    out = std::to_string(value);
}

void formatDouble(std::string& out, double value, const char* format) {
    char text[512];
    const locale_t previous = uselocale(cLocale());
    const int n = std::snprintf(text, sizeof text, format, value);
    uselocale(previous);
    if (n < 0) {
        out.clear();
        return;
    }
    if (static_cast<size_t>(n) < sizeof text) {
        out.assign(text, static_cast<size_t>(n));
        return;
    }
    // A value as large as 1e300 takes more than 300 digits in fixed point.
    out.resize(static_cast<size_t>(n));
    uselocale(cLocale());
    std::snprintf(out.data(), static_cast<size_t>(n) + 1, format, value);
    uselocale(previous);
}

void appendAnsiString(char* buffer, int capacity, const std::string& text) {
    const size_t used = strnlen(buffer, static_cast<size_t>(capacity));
    if (used >= static_cast<size_t>(capacity))
        return;
    size_t n = text.size();
    if (n > static_cast<size_t>(capacity) - 1 - used)
        n = static_cast<size_t>(capacity) - 1 - used;
    std::memcpy(buffer + used, text.data(), n);
    buffer[used + n] = '\0';
}

double cAtof(const char* text) {
    // Only the decimal form: the C library would also take "nan", "inf" and
    // hexadecimal numbers, which are no measures a tracer sends.
    const char* start = skipBlanks(text);
    const char* p = start + (*start == '+' || *start == '-' ? 1 : 0);
    const char* whole = skipDigits(p);
    const char* end = *whole == '.' ? skipDigits(whole + 1) : whole;
    if (end - p == (*whole == '.' ? 1 : 0))
        return 0.0; // no digit
    if (*end == 'e' || *end == 'E') {
        const char* exponent = end + 1 + (end[1] == '+' || end[1] == '-' ? 1 : 0);
        if (const char* after = skipDigits(exponent); after != exponent)
            end = after;
    }
    // A number too large for a double is read as the largest one.
    const double value = strtod_l(std::string(start, end).c_str(), nullptr, cLocale());
    return std::isinf(value) ? std::copysign(std::numeric_limits<double>::max(), value) : value;
}

const char* skipBlanks(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    return text;
}

const char* skipDigits(const char* text) {
    while (*text >= '0' && *text <= '9')
        ++text;
    return text;
}

long cAtol(const char* text) {
    return strtol_l(text, nullptr, 10, cLocale());
}

uint8_t lowByteOfTruncated(double value) {
    return static_cast<uint8_t>(lowBitsOfTruncated(value, 256.0));
}

int16_t low16OfTruncated(double value) {
    return static_cast<int16_t>(static_cast<uint16_t>(lowBitsOfTruncated(value, 65536.0)));
}
