// Captures of a tracer's conversation (docs/captures.md): the simulator reads
// them to replay the device's side (--replay), and writes its own run as one
// (--record), so that every model and fault mode has a capture without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One line of a capture after the header.
struct CaptureItem {
    enum class Kind { Device, Program, Event };
    Kind kind = Kind::Event;
    int line = 0;          // in the file, from 1
    int64_t ms = 0;        // since the session started
    std::string bytes;     // Device (<) and Program (>) lines
    std::string event;     // opened, closed, hang-up or timeout
    int64_t timeoutMs = 0; // of a timeout
};

struct Capture {
    int model = -1;
    std::vector<CaptureItem> items;
};

// The whole capture at `path`; false with the reason (and its line) in `error`.
bool loadCapture(const std::string& path, Capture& capture, std::string& error);
// Only the model its header names, for the command line's checks.
bool captureModel(const std::string& path, int& model, std::string& error);

// The recording of this run, one for the whole process. Until startRecording
// the record calls do nothing, so the lines and links call them unconditionally.
bool startRecording(const std::string& path, int model, std::string& error);
bool recording();
// The header's `port` (serial) or `peer` (TCP) line; the header is written with it.
void recordPlace(const char* key, const std::string& value);
// Bytes from the device ('<') or from the program ('>'), as they went.
void recordBytes(char direction, const char* bytes, std::size_t count);
void recordEvent(const std::string& event);
// Closes the file; false with the reason when any of it could not be written.
bool finishRecording(std::string& error);

} // namespace sim
