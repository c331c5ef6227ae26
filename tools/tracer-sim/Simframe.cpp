#include "Simframe.h"

#include "Simout.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace sim {

namespace {

constexpr int kMaxWholeDigits = 12; // far beyond any measure, far below int64's reach
constexpr int kHundredths = 2;
constexpr int kTenths = 1;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> fields(std::string_view value) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t end = value.find(';');
        parts.push_back(value.substr(0, end));
        if (end == std::string_view::npos)
            return parts;
        value.remove_prefix(end + 1);
    }
}

void splitLine(const std::string& line, std::string_view& label, std::string_view& value) {
    const std::size_t equals = line.find('=');
    const std::string_view whole(line);
    label = equals == std::string::npos ? std::string_view() : whole.substr(0, equals);
    value = equals == std::string::npos ? whole : whole.substr(equals + 1);
}

// A list value as the program reads it: the integer part, cut toward zero
// (2600.7 is 2600, where rounding would give 2601).
bool wholeValue(std::string_view field, int64_t& value) {
    int64_t rounded = 0;
    if (!scaledDecimal(field, 0, rounded))
        return false;
    const std::string_view text = trimmed(field);
    std::string whole(text.substr(0, text.find('.')));
    if (whole.empty() || whole == "-" || whole == "+")
        whole += '0';
    return scaledDecimal(whole, 0, value);
}

bool listValues(const std::string& joined, std::vector<int>& values) {
    values.clear();
    if (joined.empty())
        return true;
    for (const std::string_view field : fields(joined)) {
        int64_t value = 0;
        if (!wholeValue(field, value) || value < -32768 || value > 65535)
            return false;
        values.push_back(static_cast<int>(value));
    }
    return true;
}

// The measure labels: one value (DBL, FPD) or a right;left pair.
struct MeasureLabel {
    const char* label;
    int places;
    int64_t* right;
    int64_t* left; // nullptr for a single value
    bool* given;
};

void readMeasure(const MeasureLabel& measure, std::string_view value, Frame& frame) {
    const std::vector<std::string_view> parts = fields(value);
    const std::size_t wanted = measure.left == nullptr ? 1 : 2;
    int64_t first = 0;
    int64_t second = 0;
    if (parts.size() != wanted || !scaledDecimal(parts[0], measure.places, first) ||
        (wanted == 2 && !scaledDecimal(parts[1], measure.places, second))) {
        frame.measureProblems.push_back(
            std::string(measure.label) + "=" + std::string(value) +
            (wanted == 1 ? ": wants one number" : ": wants two numbers, right;left"));
        return;
    }
    *measure.right = first;
    if (measure.left != nullptr)
        *measure.left = second;
    if (measure.given != nullptr)
        *measure.given = true;
}

// A TRCFMT or ZFMT header at `index` with the value lines after it; false with
// the reason when the header or its list is not right.
bool readList(const std::vector<std::string>& lines, std::size_t index, bool radii, Frame& frame,
              std::string& error) {
    std::string_view label;
    std::string_view value;
    splitLine(lines[index], label, value);
    const std::string where =
        "line " + decimal(static_cast<int64_t>(index + 1)) + " (" + lines[index] + ")";
    const std::vector<std::string_view> parts = fields(value);
    int64_t count = 0;
    if (parts.size() != 5 || !scaledDecimal(parts[1], 0, count) || count <= 0 ||
        (parts[3] != "R" && parts[3] != "L")) {
        error = where + ": a header must read 1;<count>;E;R|L;F";
        return false;
    }
    const std::string_view continuation = radii ? "R" : "Z";
    std::string joined;
    for (std::size_t next = index + 1; next < lines.size(); ++next) {
        std::string_view nextLabel;
        std::string_view nextValue;
        splitLine(lines[next], nextLabel, nextValue);
        if (nextLabel != continuation)
            break;
        if (!joined.empty())
            joined += ';';
        joined += nextValue;
    }
    EyeTrace& eye = frame.eye[parts[3] == "R" ? kRight : kLeft];
    std::vector<int>& values = radii ? eye.radii : eye.z;
    if (!listValues(joined, values)) {
        error = where + ": its " + std::string(continuation) + "= lines hold a value that is " +
                "not a whole number of 0.01 mm";
        return false;
    }
    if (static_cast<int64_t>(values.size()) != count) {
        error = where + ": its " + std::string(continuation) + "= lines hold " +
                decimal(static_cast<int64_t>(values.size())) + " values, the header says " +
                decimal(count);
        return false;
    }
    (radii ? eye.hasRadii : eye.hasZ) = true;
    return true;
}

void readJob(std::string_view value, Frame& frame) {
    frame.hasJob = true;
    frame.jobQuoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    frame.job = std::string(frame.jobQuoted ? value.substr(1, value.size() - 2) : value);
}

bool forbiddenByte(const std::string& line) {
    // NUL ends the program's record text; FS, GS and RS belong to the framing.
    for (const char c : line)
        if (c == '\0' || c == '\x1C' || c == '\x1D' || c == '\x1E')
            return true;
    return false;
}

} // namespace

int Frame::pointCount() const {
    const EyeTrace& first = eye[kRight].hasRadii ? eye[kRight] : eye[kLeft];
    return static_cast<int>(first.radii.size());
}

int64_t Frame::fpdHundredths() const {
    if (measures.fpdGiven)
        return measures.fpd;
    return measures.dbl + (measures.hbox[kRight] + measures.hbox[kLeft]) / 2;
}

int64_t Frame::meanBoxHeight() const {
    return measures.vboxGiven ? (measures.vbox[kRight] + measures.vbox[kLeft]) / 2 : 0;
}

bool scaledDecimal(std::string_view text, int places, int64_t& value) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > kMaxWholeDigits)
        return false;
    int64_t result = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    // The kept places, then the first dropped digit decides the rounding.
    for (int i = 0; i <= places; ++i) {
        const char c = static_cast<std::size_t>(i) < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9')
            return false;
        if (i < places)
            result = result * 10 + (c - '0');
        else if (c >= '5')
            ++result;
    }
    for (std::size_t i = static_cast<std::size_t>(places) + 1; i < fraction.size(); ++i)
        if (fraction[i] < '0' || fraction[i] > '9')
            return false;
    value = negative ? -result : result;
    return true;
}

bool frameFromLines(const std::vector<std::string>& lines, Frame& frame, std::string& error) {
    frame = Frame{};
    Measures& m = frame.measures;
    const MeasureLabel measureLabels[] = {
        {"DBL", kHundredths, &m.dbl, nullptr, nullptr},
        {"FPD", kHundredths, &m.fpd, nullptr, &m.fpdGiven},
        {"FCRV", kTenths, &m.fcrv[kRight], &m.fcrv[kLeft], nullptr},
        {"CIRC", kHundredths, &m.circ[kRight], &m.circ[kLeft], nullptr},
        {"ZTILT", kTenths, &m.ztilt[kRight], &m.ztilt[kLeft], nullptr},
        {"HBOX", kHundredths, &m.hbox[kRight], &m.hbox[kLeft], nullptr},
        {"VBOX", kHundredths, &m.vbox[kRight], &m.vbox[kLeft], &m.vboxGiven},
    };
    std::vector<std::string> seen; // measures count from their first line only
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (forbiddenByte(line)) {
            error = "line " + decimal(static_cast<int64_t>(i + 1)) +
                    " holds a NUL, FS, GS or RS byte, which a record cannot carry";
            return false;
        }
        std::string_view label;
        std::string_view value;
        splitLine(line, label, value);
        if (label == "JOB" && !frame.hasJob)
            readJob(value, frame);
        if (label == "MODEL" && frame.model.empty())
            frame.model = std::string(value);
        if (label != "REQ" && label != "ANS" && label != "JOB" && label != "CRC")
            frame.lines.push_back(line);
        if ((label == "TRCFMT" || label == "ZFMT") &&
            !readList(lines, i, label == "TRCFMT", frame, error))
            return false;
        for (const MeasureLabel& measure : measureLabels) {
            if (label == measure.label && !std::count(seen.begin(), seen.end(), measure.label)) {
                seen.push_back(measure.label);
                readMeasure(measure, value, frame);
            }
        }
    }
    if (!frame.eye[kRight].hasRadii && !frame.eye[kLeft].hasRadii) {
        error = "it holds no tracing (no TRCFMT header with its R= lines)";
        return false;
    }
    return true;
}

bool loadLabelFile(const std::string& path, Frame& frame, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find_first_of("\r\n", start);
        const std::size_t stop = end == std::string::npos ? bytes.size() : end;
        if (stop > start)
            lines.push_back(bytes.substr(start, stop - start));
        start = stop + 1;
    }
    if (!frameFromLines(lines, frame, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string hundredthsText(int64_t hundredths) {
    const bool negative = hundredths < 0;
    const int64_t magnitude = negative ? -hundredths : hundredths;
    const int64_t cents = magnitude % 100;
    return (negative ? "-" : "") + decimal(magnitude / 100) + "." + (cents < 10 ? "0" : "") +
           decimal(cents);
}

} // namespace sim
