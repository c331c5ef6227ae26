#include "Simcapture.h"

#include "Simout.h"
#include "Tracermodels.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

namespace sim {

namespace {

constexpr int kFormatVersion = 1;
constexpr std::size_t kBytesPerLine = 16;

// ---- reading ----

bool number(const std::string& text, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    return problem == std::errc() && stop == end && value >= 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "<ms> <rest>" after the direction or event sign; false when no time leads.
bool splitTime(const std::string& text, int64_t& ms, std::string& rest) {
    if (text.size() < 3 || text[1] != ' ')
        return false;
    const std::size_t space = text.find(' ', 2);
    if (space == std::string::npos || !number(text.substr(2, space - 2), ms))
        return false;
    rest = text.substr(space + 1);
    return true;
}

// Hex bytes separated by single spaces, up to the printable column (which is
// for the reader only, and may be left out by one who writes a capture by hand).
bool hexBytes(const std::string& text, std::string& bytes) {
    std::size_t at = 0;
    while (at < text.size() && text[at] != '|') {
        if (at + 2 > text.size() || hexValue(text[at]) < 0 || hexValue(text[at + 1]) < 0)
            return false;
        bytes += static_cast<char>(hexValue(text[at]) * 16 + hexValue(text[at + 1]));
        at += 2;
        if (at < text.size() && text[at] != ' ')
            return false;
        ++at;
    }
    return !bytes.empty();
}

bool event(const std::string& text, CaptureItem& item) {
    const std::size_t space = text.find(' ');
    item.event = text.substr(0, space);
    if (item.event == "timeout")
        return space != std::string::npos && number(text.substr(space + 1), item.timeoutMs);
    return space == std::string::npos &&
           (item.event == "opened" || item.event == "closed" || item.event == "hang-up");
}

// One line after the header; false when it is none of the capture's lines.
bool itemLine(const std::string& text, CaptureItem& item) {
    std::string rest;
    if (text.empty() || !splitTime(text, item.ms, rest))
        return false;
    if (text[0] == '=') {
        item.kind = CaptureItem::Kind::Event;
        return event(rest, item);
    }
    if (text[0] != '<' && text[0] != '>')
        return false;
    item.kind = text[0] == '<' ? CaptureItem::Kind::Device : CaptureItem::Kind::Program;
    return hexBytes(rest, item.bytes);
}

// A header line "# key: value"; false for a comment.
bool headerLine(const std::string& text, std::string& key, std::string& value) {
    if (text.rfind("# ", 0) != 0)
        return false;
    const std::size_t colon = text.find(": ", 2);
    if (colon == std::string::npos)
        return false;
    key = text.substr(2, colon - 2);
    value = text.substr(colon + 2);
    return key.find(' ') == std::string::npos;
}

// Reads the file; with `headerOnly` it stops at the first line after the header.
bool readCapture(const std::string& path, bool headerOnly, Capture& capture, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    int version = -1;
    bool inHeader = true;
    std::string text;
    for (int line = 1; std::getline(file, text); ++line) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back(); // edited on Windows
        const std::string where = path + " line " + decimal(line) + ": ";
        std::string key;
        std::string value;
        if (inHeader && headerLine(text, key, value)) {
            int64_t n = -1;
            const std::string lead = value.substr(0, value.find(' '));
            if (key == "krvw-capture")
                version = number(value, n) ? static_cast<int>(n) : 0;
            if (key == "model" &&
                (!number(lead, n) || tracerModel(static_cast<int>(n)) == nullptr)) {
                error = where + "no tracer model " + value;
                return false;
            }
            if (key == "model")
                capture.model = static_cast<int>(n);
            continue;
        }
        if (text.empty() || text[0] == '#')
            continue;
        if (inHeader && (version != kFormatVersion || capture.model < 0)) {
            error = version < 0 ? path + " is no capture: its header has no krvw-capture line"
                    : version != kFormatVersion
                        ? path + " is a capture of version " + decimal(version) +
                              "; this simulator plays version 1"
                        : path + ": the header names no model";
            return false;
        }
        inHeader = false;
        if (headerOnly)
            return true;
        CaptureItem item;
        item.line = line;
        if (!itemLine(text, item)) {
            error = where + "not a chunk or an event: " + text.substr(0, 60);
            return false;
        }
        capture.items.push_back(item);
    }
    if (inHeader && (version != kFormatVersion || capture.model < 0)) {
        error = path + " is no capture of version 1 naming a model";
        return false;
    }
    return true;
}

// ---- writing ----

struct Recorder {
    std::FILE* file = nullptr;
    std::string path;
    int model = -1;
    int64_t startMs = 0;
    std::time_t startUtc = 0;
    bool headerDone = false;
    int problem = 0; // the errno of the first failed write; then nothing more is written
};

Recorder g_recorder;

void put(const std::string& text) {
    Recorder& r = g_recorder;
    if (r.file == nullptr || r.problem != 0)
        return;
    if (std::fwrite(text.data(), 1, text.size(), r.file) != text.size() ||
        std::fflush(r.file) !=
            0) // line by line: a simulator stopped by a signal leaves a whole file
        r.problem = errno != 0 ? errno : EIO;
}

void writeHeader(const char* key, const std::string& value) {
    Recorder& r = g_recorder;
    if (r.headerDone)
        return;
    r.headerDone = true;
    char start[32] = "";
    std::tm utc{};
    if (gmtime_r(&r.startUtc, &utc) != nullptr)
        std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string text = "# krvw-capture: " + decimal(kFormatVersion) +
                       "\n# program: krvw-tracer-sim " KRVW_SIM_VERSION "\n# start: " + start +
                       "\n# model: " + decimal(r.model) + " " +
                       kTracerModels[static_cast<std::size_t>(r.model)].tracerName + "\n";
    if (key != nullptr)
        text += std::string("# ") + key + ": " + value + "\n";
    // The other side of the conversation is the simulator: say so to the reader.
    put(text + "# recorded by the tracer simulator: < what it sent as the tracer, > the "
               "program's bytes\n");
}

std::string elapsed() {
    return decimal(nowMs() - g_recorder.startMs);
}

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0x0Fu];
}

} // namespace

bool loadCapture(const std::string& path, Capture& capture, std::string& error) {
    capture = Capture{};
    return readCapture(path, false, capture, error);
}

bool captureModel(const std::string& path, int& model, std::string& error) {
    Capture capture;
    if (!readCapture(path, true, capture, error))
        return false;
    model = capture.model;
    return true;
}

bool startRecording(const std::string& path, int model, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    g_recorder = Recorder{file, path, model, nowMs(), std::time(nullptr)};
    return true;
}

bool recording() {
    return g_recorder.file != nullptr;
}

void recordPlace(const char* key, const std::string& value) {
    if (recording())
        writeHeader(key, value);
}

void recordBytes(char direction, const char* bytes, std::size_t count) {
    if (!recording() || count == 0)
        return;
    writeHeader(nullptr, {});
    const std::string lead = std::string(1, direction) + " " + elapsed() + " ";
    std::string text;
    for (std::size_t row = 0; row < count; row += kBytesPerLine) {
        std::string hex;
        std::string printable;
        for (std::size_t i = row; i < count && i < row + kBytesPerLine; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            hex += (i == row ? "" : " ") + std::string{hexDigit(byte >> 4u), hexDigit(byte)};
            printable += byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
        }
        text += lead + hex + " |" + printable + "|\n";
    }
    put(text);
}

void recordEvent(const std::string& event) {
    if (!recording())
        return;
    writeHeader(nullptr, {});
    put("= " + elapsed() + " " + event + "\n");
}

bool finishRecording(std::string& error) {
    Recorder& r = g_recorder;
    if (r.file == nullptr)
        return true;
    writeHeader(nullptr, {});
    if (std::fclose(r.file) != 0 && r.problem == 0)
        r.problem = errno != 0 ? errno : EIO;
    r.file = nullptr;
    if (r.problem == 0)
        return true;
    error = "the capture " + r.path + " could not be written: " + std::strerror(r.problem);
    return false;
}

} // namespace sim
