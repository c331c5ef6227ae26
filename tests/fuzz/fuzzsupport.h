// What the fuzz targets share: a quiet user interface, one scratch folder per
// process, the test clock installed once, a pseudo-terminal that plays the
// tracer's side of a serial line, and a reader that cuts the fuzzer's input
// into the values a target needs.
#pragma once

#include "Userinterface.h"
#include "ptypair.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A broken promise of the code under test: the run stops with a finding.
inline void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Takes every message, clipboard text and picture and drops it.
class QuietUi : public UserInterface {
public:
    void showMessage(const std::string& text) override;
    void setClipboardText(const std::string& text) override;
    void showImage(const unsigned char* bmp, int size) override;

    int messages = 0;
};

// A folder of this process under /dev/shm (else the system's temporary folder),
// made on first use and removed when the process exits. No trailing separator.
const std::string& fuzzScratchDir();
// Removes whatever the last input left in the scratch folder (reading files).
void emptyFuzzScratchDir();

// The test clock, installed for the whole process on first use: the serial
// code's 50 ms polls, 200 ms settles and 1 s pauses cost no real time.
FakeClock& fuzzClock();

// The tracer's side of a pseudo-terminal. The program opens slavePath() as its
// serial device; the fuzzer's bytes go in through the master side.
class TracerLine {
public:
    TracerLine();
    ~TracerLine();
    TracerLine(const TracerLine&) = delete;
    TracerLine& operator=(const TracerLine&) = delete;

    bool ok() const { return m_master >= 0; }
    const std::string& slavePath() const { return m_slavePath; }

    // Bytes the program's side can take at once: the terminal's input queue
    // holds 4095 bytes, and a feed waits until its bytes are counted there.
    static constexpr int kMaxFeed = 3000;

    // Sends up to kMaxFeed bytes (fewer when the queue is fuller) and returns
    // once the program's side counts them waiting: the count sent.
    int feed(const unsigned char* bytes, int count);
    // Takes everything the program has sent so far: the count of bytes.
    int drain(std::string* into = nullptr);
    // Bytes waiting on the program's side.
    int waiting() const;

private:
    int m_master = -1;
    int m_slave = -1; // held open so the line stays up between the program's opens
    std::string m_slavePath;
};

// One tracer line for the whole process, made on first use; the run stops when
// no pseudo-terminal can be had.
TracerLine& sharedTracerLine();

// Whether a reading's error number is 0 or ends in one of its steps 10, 20, ...
// up to `lastStep`.
bool endsInAStep(int64_t result, int lastStep);

class InputReader;

// A tracer that speaks only when spoken to: each time the program has sent
// something since the tracer's last turn, the tracer sends the next answer of
// its script. Install turn() as the clock's onSleep, so the tracer looks at the
// line at every wait of the program. Each answer in the script is a 16-bit
// little-endian length (up to TracerLine::kMaxFeed) and that many bytes.
class ScriptedTracer {
public:
    explicit ScriptedTracer(TracerLine& line) : m_line(line) {}

    void start(InputReader& script);
    void turn();
    int answersSent() const { return m_answers; }

private:
    TracerLine& m_line;
    InputReader* m_script = nullptr;
    int m_answers = 0;
};

// Cuts an input into values, front to back; past the end every read gives 0.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t word() {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    // The next up to `wanted` bytes: their count, `bytes` pointing at them.
    size_t take(size_t wanted, const uint8_t*& bytes) {
        const size_t n = wanted < left() ? wanted : left();
        bytes = m_data + m_at;
        m_at += n;
        return n;
    }
    size_t left() const { return m_size - m_at; }
    const uint8_t* rest() const { return m_data + m_at; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};
