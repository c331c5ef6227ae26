// One serial device of the system, and the primitives the link layer builds on.
// The primitives keep the shape of the Windows communications calls the device
// protocols were written against, mapped onto a POSIX terminal device.
//
// Every primitive returns 0 on success, -1 when the port is not open (for Open:
// when it is open already), otherwise the errno of the failed system call.
#pragma once

#include <cstdint>
#include <memory>
#include <termios.h>

class TracerCapture;

// Control bytes of the link layer.
constexpr unsigned char kEnq = 0x05;
constexpr unsigned char kAck = 0x06;
constexpr unsigned char kNak = 0x15;

// Line functions of Escape.
constexpr int SETXOFF = 1;
constexpr int SETXON = 2;
constexpr int SETRTS = 3;
constexpr int CLRRTS = 4;
constexpr int SETDTR = 5;
constexpr int CLRDTR = 6;
constexpr int SETBREAK = 8;
constexpr int CLRBREAK = 9;

// Flags of Purge.
constexpr uint32_t kPurgeTxAbort = 1;
constexpr uint32_t kPurgeRxAbort = 2;
constexpr uint32_t kPurgeTxClear = 4;
constexpr uint32_t kPurgeRxClear = 8;
constexpr uint32_t kPurgeAll = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;

// Parity and stop-bit codes of the line settings.
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kTwoStopBits = 2;

// ReadIntervalTimeout with both read totals 0: a read returns at once with the
// bytes already waiting.
constexpr uint32_t kReadReturnImmediately = 0xFFFFFFFFu;

// Line settings. GetState fills them from the device, SetState writes them.
struct LineSettings {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = kNoParity;
    uint8_t StopBits = kOneStopBit;
    // No terminal counterpart: kept as written, without effect on the line.
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    unsigned char ErrorChar = 0;
    unsigned char EofChar = 0;
    unsigned char EvtChar = 0;
    // The terminal settings as the device reported them (GetState) or as they
    // were read back after SetState. Flow control (CRTSCTS, IXON, IXOFF) is
    // carried over from here unchanged.
    termios settings{};
};

// Read and write timeouts in milliseconds. A read of n bytes returns when they
// are there or after ReadTotalTimeoutMultiplier * n + ReadTotalTimeoutConstant
// (both 0: no limit); a write of n bytes gives up after
// WriteTotalTimeoutMultiplier * n + WriteTotalTimeoutConstant (both 0: no limit).
// A timeout is no error: the call succeeds with fewer bytes done.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// What GetProperties learns about the device.
struct CommProperties {
    uint32_t currentBaud = 0; // the output speed the device is set to
    bool modemLines = false;  // false for a pseudo-terminal: no DTR/RTS/CTS/DSR
};

// Makes every Open fail with `error` (0: open as usual), for tests of the
// refusals root never meets, such as a user outside the dialout group.
void SetOpenRefusalForTesting(int error);

class CommPort {
public:
    CommPort();  // out of line, as the destructor: the capture's type is only declared here
    ~CommPort(); // closes the device if it is still open
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    // Opens the device exclusively (no second opener, root included) for
    // blocking reads and writes. -1 if open already.
    [[nodiscard]] int Open(const char* name);
    // Closes the device. The descriptor is gone afterwards even when close()
    // reports an error, so the port counts as closed in every case.
    [[nodiscard]] int Close();
    [[nodiscard]] int GetProperties();
    [[nodiscard]] int GetModemStatus();
    [[nodiscard]] int GetState();
    [[nodiscard]] int SetState();
    [[nodiscard]] int SetTimeouts();
    [[nodiscard]] int SetMask(uint32_t mask);
    [[nodiscard]] int Setup(uint32_t inQueue, uint32_t outQueue);
    [[nodiscard]] int Escape(int function);
    // Drops received bytes (RX flags) and bytes not yet transmitted (TX flags).
    // A pseudo-terminal transmits at once, so TX flags drop nothing there.
    [[nodiscard]] int Purge(uint32_t flags);
    // Fails when the device has gone (hung up); else status.cbInQue is the
    // count of received bytes waiting. errors is always 0.
    [[nodiscard]] int ClearError(uint32_t& errors);
    [[nodiscard]] int Read(void* buffer, uint32_t count, uint32_t& done);
    // Returns when the bytes are on the line (the driver's queue drained) or the
    // write timeout ran out.
    [[nodiscard]] int Write(const void* buffer, uint32_t count, uint32_t& done);

    bool isOpen() const { return m_isOpen; }
    int handle() const { return m_fd; } // meaningful only while isOpen()

    LineSettings dcb;
    CommTimeouts timeouts;
    CommProperties properties;
    uint32_t modemStatus = 0; // TIOCM_* bits; 0 without modem lines
    uint32_t eventMask = 0;   // stored by SetMask, no effect
    struct {
        uint32_t cbInQue = 0;
    } status;

private:
    int readWithin(unsigned char* bytes, uint32_t count, uint32_t& done);
    void captureRead(int result, uint32_t count, uint32_t done);

    int m_fd = -1;
    bool m_isOpen = false;
    bool m_pseudoTerminal = false; // no transmit queue: output purges have nothing to drop
    CommTimeouts m_active;         // the timeouts in force since the last SetTimeouts
    // The session's capture file, from Open to Close; null unless support asked for one.
    std::unique_ptr<TracerCapture> m_capture;
};
