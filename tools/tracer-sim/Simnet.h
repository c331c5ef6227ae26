// The networked NIDEK tracer's side of the program's TCP server: the
// connection, and the binary messages it carries. A message is a 9-byte header
// (lead byte, type, 0x00, word A, word B, payload length; 16-bit fields
// little-endian), the payload, two check bytes 00 00 and the terminator 0x19.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

constexpr unsigned char kLeadRequest = 0x16; // every message type but the Accept
constexpr unsigned char kLeadAccept = 0x17;
constexpr std::size_t kMessageHeaderBytes = 9;
constexpr std::size_t kMessageFramingBytes = 12; // header 9 + check bytes 2 + terminator 1

enum MessageType : unsigned char {
    kStartRequest = 1,
    kAccept = 2,
    kJobRequest = 3,
    kJobData = 4,
    kEndRequest = 5,
    kConnectionEnded = 6,
    kErrorMessage = 7,
    kJobIdentification = 8,
};

// The two words a message carries; a reply carries those of its request exchanged.
struct Words {
    uint16_t a = 0;
    uint16_t b = 0;
};

// The header alone, with any lead byte and any announced length (the faults
// announce lengths no whole message has).
std::string messageHeader(unsigned char lead, unsigned char type, Words words, uint16_t length);
// A whole message: lead 0x17 for an Accept, 0x16 for every other type.
std::string message(unsigned char type, Words words, const std::string& payload);
// What the program must answer to a request sent with `words`: an Accept, or
// for an End request an End request whose word B is 0.
std::string expectedReply(unsigned char requestType, Words words);
// The name of a message type for progress lines and reasons.
std::string messageName(unsigned char type);

enum class Net {
    Ok,
    Timeout, // the time allowed went by
    Closed,  // the program closed the connection (end of stream, or a reset)
    Failed,  // the socket failed otherwise; error() says how
};

// One TCP connection to the program. Every wait is bounded; nothing blocks
// longer than the time each call is given.
class NetLink {
public:
    NetLink() = default;
    ~NetLink();
    NetLink(const NetLink&) = delete;
    NetLink& operator=(const NetLink&) = delete;

    // Connects to host:port, trying again every 20 ms until waitMs has gone by
    // (the program may still be starting); false with the reason in `error`.
    bool connect(const std::string& host, int port, int waitMs, std::string& error);
    // Writes all of `bytes` in one write() where the socket takes them; Timeout
    // when the program took nothing for stallMs.
    Net write(const std::string& bytes, int stallMs);
    // Reads exactly `count` bytes within timeoutMs; `out` holds what came, also
    // when less came.
    Net readExact(std::size_t count, std::string& out, int timeoutMs);
    // Whatever comes within timeoutMs, appended to `out`; Ok when something came.
    Net readAny(std::string& out, int timeoutMs);
    // Waits up to timeoutMs for the program to close the connection; what it
    // sends meanwhile is appended to `got`. Closed when it did.
    Net waitClosed(int timeoutMs, std::string& got);
    void close();

    // Bytes written and read since the last reset.
    uint64_t sent() const { return m_sent; }
    uint64_t received() const { return m_received; }
    void resetCounters();
    const std::string& error() const { return m_error; }

private:
    // Waits until the socket is ready for `events` or `deadline` (monotonic ms) passes.
    Net waitReady(short events, int64_t deadline);
    Net readSome(std::string& out, std::size_t most);
    // The program has closed the connection: the recording's closed line, once.
    void notePeerClosed();

    int m_fd = -1;
    bool m_peerClosed = false;
    uint64_t m_sent = 0;
    uint64_t m_received = 0;
    std::string m_error;
};

} // namespace sim
