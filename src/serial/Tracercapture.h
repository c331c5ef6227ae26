// Support's record of what goes over the line between a tracer and the
// program: one capture file per serial port session (open to close) and per
// TCP connection (accept to release), in the format of docs/captures.md.
//
// Off unless the environment variable KRVW_CAPTURE_DIR names a folder, read
// once, at the first session. Off, a session is a null pointer and every hook
// is one test of it. A capture never fails a reading: when a file cannot be
// made or written, one line goes to standard error and nothing more is
// captured in the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

// The `program` header's value.
extern const char* const kCaptureProgram;

class TracerCapture {
public:
    // A session on the serial device `device` (its line settings follow with
    // lineSettings) or with the TCP peer `peer` ("address:port"), starting
    // now. Null when capturing is off, or its file could not be made.
    [[nodiscard]] static std::unique_ptr<TracerCapture> serial(const char* device);
    [[nodiscard]] static std::unique_ptr<TracerCapture> tcp(const std::string& peer);

    // Closes the file, with a closed event when neither end was recorded.
    ~TracerCapture();
    TracerCapture(const TracerCapture&) = delete;
    TracerCapture& operator=(const TracerCapture&) = delete;

    // The line settings the port took, with LineSettings' codes (Calibration.h).
    // The header goes out with the first of them, or with the first line
    // recorded when the settings never came.
    void lineSettings(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

    // A chunk of bytes, as one read or write of the port or the socket took them.
    void fromDevice(const unsigned char* bytes, std::size_t count);
    void toDevice(const unsigned char* bytes, std::size_t count);

    // The events. closed and hangUp are recorded once each, whoever reports them.
    void closed();
    void hangUp();
    void timeout(uint32_t waitedMs); // a read given waitedMs got nothing
    bool closedRecorded() const { return m_closed; }

private:
    [[nodiscard]] static std::unique_ptr<TracerCapture> begin(bool serialPort, std::string where);
    TracerCapture(std::FILE* file, std::string path, std::string head, std::string where);

    void chunk(char direction, const unsigned char* bytes, std::size_t count);
    void event(const char* text, uint32_t value, bool withValue);
    void writeHeader();
    void append(bool flush);
    void fail();
    uint32_t elapsedMs() const;

    std::FILE* m_file;
    std::string m_path;
    std::string m_head;  // the header lines before the port or peer line
    std::string m_where; // that line's value, settings still to come for a port
    std::string m_text;  // the lines of one append, kept for its capacity
    uint32_t m_startTick;
    bool m_headerWritten = false;
    bool m_closed = false;
    bool m_hungUp = false;
};

// True while sessions are captured: the environment (or setCaptureFolder)
// named a folder, and no capture has failed.
bool capturing();

// The configured tracer model, named in the header of every session that
// starts from now on. The main window tells it whenever it applies a model.
void setCaptureModel(int number);

// Captures into `folder` from now on, the environment no longer read; null or
// empty: off. The count in the file names starts again from 1, and a stop
// after a failure is forgotten. For tests and tools.
void setCaptureFolder(const char* folder);

// The wall clock of the `start` header and the file names; null restores time().
void setCaptureWallClockForTesting(std::time_t (*now)());
