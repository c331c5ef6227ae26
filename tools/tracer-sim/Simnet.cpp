#include "Simnet.h"

#include "Bytes.h"
#include "Simcapture.h"
#include "Simout.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr unsigned char kTerminator = 0x19;
constexpr std::size_t kTypeAt = 1;
constexpr std::size_t kWordAAt = 3;
constexpr std::size_t kWordBAt = 5;
constexpr std::size_t kLengthAt = 7;
constexpr int kRetryMs = 20;              // between two tries to connect
constexpr std::size_t kReadChunk = 65536; // at most this much read at a time

std::string systemError(const char* what, int code) {
    return std::string(what) + ": " + std::strerror(code);
}

// The program closing its side shows as an end of stream, or as a reset when
// it closed with bytes of ours still unread.
bool closedByPeer(int code) {
    return code == ECONNRESET || code == EPIPE;
}

// One try at every address of `host`; the descriptor, or -1 with the reason.
int tryConnect(const addrinfo* addresses, int64_t deadline, std::string& why) {
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (fd < 0) {
            why = systemError("socket", errno);
            continue;
        }
        int code = 0;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            code = errno;
            if (code == EINPROGRESS) {
                pollfd entry{fd, POLLOUT, 0};
                const int64_t left = deadline - nowMs();
                socklen_t size = sizeof code;
                if (::poll(&entry, 1, static_cast<int>(left > 0 ? left : 0)) <= 0)
                    code = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
                    code = errno;
            }
        }
        if (code == 0) {
            // A tracer's message goes out as it is written, not held back to be merged.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        why = systemError("connect", code);
        ::close(fd);
    }
    return -1;
}

// The tracer's own address, as the program sees its peer: "127.0.0.1:40312".
std::string localAddress(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, port,
                      sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    const std::string name = host;
    return (name.find(':') == std::string::npos ? name : "[" + name + "]") + ":" + port;
}

} // namespace

std::string messageHeader(unsigned char lead, unsigned char type, Words words, uint16_t length) {
    std::string header(kMessageHeaderBytes, '\0');
    header[0] = static_cast<char>(lead);
    header[kTypeAt] = static_cast<char>(type);
    writeLittle16(&header[kWordAAt], words.a);
    writeLittle16(&header[kWordBAt], words.b);
    writeLittle16(&header[kLengthAt], length);
    return header;
}

std::string message(unsigned char type, Words words, const std::string& payload) {
    const unsigned char lead = type == kAccept ? kLeadAccept : kLeadRequest;
    return messageHeader(lead, type, words, static_cast<uint16_t>(payload.size())) + payload +
           std::string{'\0', '\0', static_cast<char>(kTerminator)};
}

std::string expectedReply(unsigned char requestType, Words words) {
    if (requestType == kEndRequest)
        return message(kEndRequest, Words{words.b, 0}, std::string());
    return message(kAccept, Words{words.b, words.a}, std::string());
}

std::string messageName(unsigned char type) {
    switch (type) {
    case kStartRequest:
        return "Start request";
    case kAccept:
        return "Accept";
    case kJobRequest:
        return "Job request";
    case kJobData:
        return "Job data";
    case kEndRequest:
        return "End request";
    case kConnectionEnded:
        return "Connection ended";
    case kErrorMessage:
        return "Error";
    case kJobIdentification:
        return "Job identification";
    default:
        return "message of type " + decimal(type);
    }
}

NetLink::~NetLink() {
    close();
}

bool NetLink::connect(const std::string& host, int port, int waitMs, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const std::string service = decimal(port);
    if (const int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
        code != 0) {
        error = "cannot resolve " + host + ": " + ::gai_strerror(code);
        return false;
    }
    const int64_t deadline = nowMs() + waitMs;
    std::string why = "no address";
    for (;;) {
        m_fd = tryConnect(addresses, deadline, why);
        if (m_fd >= 0 || nowMs() >= deadline)
            break;
        sleepMs(kRetryMs);
    }
    ::freeaddrinfo(addresses);
    if (m_fd < 0) {
        error = "cannot connect to " + host + ":" + service + " within " + decimal(waitMs) +
                " ms (" + why + ")";
        return false;
    }
    m_peerClosed = false;
    if (recording()) {
        recordPlace("peer", localAddress(m_fd));
        recordEvent("opened");
    }
    return true;
}

Net NetLink::waitReady(short events, int64_t deadline) {
    for (;;) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return Net::Timeout;
        pollfd entry{m_fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return Net::Ok; // errors and hang-ups show in the read or write that follows
        if (ready < 0 && errno != EINTR) {
            m_error = systemError("poll", errno);
            return Net::Failed;
        }
    }
}

Net NetLink::write(const std::string& bytes, int stallMs) {
    if (m_fd < 0) {
        m_error = "the connection is closed";
        return Net::Failed;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (wrote > 0) {
            recordBytes('<', bytes.data() + done, static_cast<std::size_t>(wrote));
            done += static_cast<std::size_t>(wrote);
            m_sent += static_cast<uint64_t>(wrote);
            continue;
        }
        const int code = errno;
        if (wrote < 0 && closedByPeer(code)) {
            notePeerClosed();
            return Net::Closed;
        }
        if (wrote < 0 && code != EAGAIN && code != EINTR) {
            m_error = systemError("send", code);
            return Net::Failed;
        }
        if (const Net ready = waitReady(POLLOUT, nowMs() + stallMs); ready != Net::Ok) {
            if (ready == Net::Timeout)
                m_error = "the program took no byte for " + decimal(stallMs) + " ms";
            return ready;
        }
    }
    return Net::Ok;
}

Net NetLink::readSome(std::string& out, std::size_t most) {
    char chunk[kReadChunk];
    const std::size_t wanted = most < sizeof chunk ? most : sizeof chunk;
    const ssize_t got = ::recv(m_fd, chunk, wanted, 0);
    if (got > 0) {
        recordBytes('>', chunk, static_cast<std::size_t>(got));
        out.append(chunk, static_cast<std::size_t>(got));
        m_received += static_cast<uint64_t>(got);
        return Net::Ok;
    }
    const int code = errno;
    if (got == 0 || closedByPeer(code)) {
        notePeerClosed();
        return Net::Closed;
    }
    if (code == EAGAIN || code == EINTR)
        return Net::Timeout; // nothing yet: the caller waits again
    m_error = systemError("recv", code);
    return Net::Failed;
}

Net NetLink::readExact(std::size_t count, std::string& out, int timeoutMs) {
    out.clear();
    if (m_fd < 0) {
        m_error = "the connection is closed";
        return Net::Failed;
    }
    const int64_t deadline = nowMs() + timeoutMs;
    while (out.size() < count) {
        if (const Net ready = waitReady(POLLIN, deadline); ready != Net::Ok)
            return ready;
        const Net got = readSome(out, count - out.size());
        if (got == Net::Closed || got == Net::Failed)
            return got;
    }
    return Net::Ok;
}

Net NetLink::readAny(std::string& out, int timeoutMs) {
    if (m_fd < 0) {
        m_error = "the connection is closed";
        return Net::Failed;
    }
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        if (const Net ready = waitReady(POLLIN, deadline); ready != Net::Ok)
            return ready;
        const Net got = readSome(out, kReadChunk);
        if (got != Net::Timeout)
            return got;
    }
}

Net NetLink::waitClosed(int timeoutMs, std::string& got) {
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - nowMs();
        const Net io = readAny(got, static_cast<int>(left > 0 ? left : 0));
        if (io == Net::Timeout)
            recordEvent("timeout " + decimal(timeoutMs));
        if (io != Net::Ok)
            return io;
    }
}

void NetLink::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        if (!m_peerClosed)
            recordEvent("hang-up"); // the tracer went away first
    }
    m_fd = -1;
}

void NetLink::notePeerClosed() {
    if (!m_peerClosed)
        recordEvent("closed");
    m_peerClosed = true;
}

void NetLink::resetCounters() {
    m_sent = 0;
    m_received = 0;
}

} // namespace sim
