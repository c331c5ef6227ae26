// Fixed-capacity tables that split LABEL=value text, and the number helpers
// shared by the reading file, the configuration and the device protocols.
#pragma once

#include <cstdint>
#include <string>

constexpr int kLineFieldLines = 5000;   // lines per table
constexpr int kLineFieldLineSize = 500; // 499 characters + terminator
constexpr int kCsvBufferSize = 10000;   // texts of 10000 characters or more are refused
constexpr int kCsvFields = 2000;        // one field per outline point slot

// Splits a text into lines and each line into label and value at the first '='.
// Lines longer than 499 characters are cut; lines past the 5000th are ignored.
// Large (7.5 MB): create it on the heap for the duration of one parse.
class LineField {
public:
    LineField();

    // Replaces the content with the lines of the first `length` characters of `text`.
    int load(const char* text, int length);
    int find(const char* label) const;
    int findAll(const char* label, int* indexes, int max) const;
    int getValue(const char* label, std::string& out) const;

    int count() const { return m_count; }
    const char* line(int i) const { return m_lines[i]; }
    const char* label(int i) const { return m_labels[i]; }
    const char* value(int i) const { return m_values[i]; }
    // Where line i begins in the loaded text, and its whole length there (a
    // line's bytes may go past the 499 characters kept, and hold NUL bytes).
    int start(int i) const { return m_starts[i]; }
    int length(int i) const { return m_lengths[i]; }

private:
    char m_lines[kLineFieldLines][kLineFieldLineSize];
    char m_labels[kLineFieldLines][kLineFieldLineSize];
    char m_values[kLineFieldLines][kLineFieldLineSize];
    int m_starts[kLineFieldLines];
    int m_lengths[kLineFieldLines];
    int m_count = 0;
    char m_separator = '=';
};

// Splits one value into its ';'-separated fields, in place in its own buffer.
class CSVreader {
public:
    CSVreader();

    // 1 on success; 0 when the text is 10000 characters or longer, or has more
    // than kCsvFields fields (then nothing is split and count keeps its value).
    [[nodiscard]] int split(const char* text);
    const char* item(int i) const;
    int count() const { return m_count; }

private:
    char m_buffer[kCsvBufferSize + 1];
    int m_length = 0;
    char* m_fields[kCsvFields];
    int m_count = 0;
    char m_separator = ';';
};

void intToString(std::string& out, int value);
// printf-style formatting that always writes '.' as the decimal point.
void formatDouble(std::string& out, double value, const char* format);
void appendAnsiString(char* buffer, int capacity, const std::string& text);

// The C library's atof and atol, read as in the "C" locale whatever the
// user's locale is: leading blanks, optional sign, digits (for cAtof also a '.'
// decimal point and an exponent; never "nan", "inf" or hexadecimal), stop at
// the first other character; 0 when there is no number. Both saturate instead
// of overflowing.
double cAtof(const char* text);
// Past the leading blanks (space, tab, CR, LF, VT, FF), and past a run of decimal digits.
const char* skipBlanks(const char* text);
const char* skipDigits(const char* text);
long cAtol(const char* text);

// A double truncated toward zero and kept to its low 8 or 16 bits, as a
// two's-complement integer would be; NaN and infinities give 0.
uint8_t lowByteOfTruncated(double value);
int16_t low16OfTruncated(double value);
