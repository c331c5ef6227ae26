// The link operations every serial tracer protocol is built on: open and
// configure, close, send, send and wait for the device's acknowledgement,
// wait for and receive a block, and the enquiry handshake.
//
// Each returns an error number: 0 for success, else the code of the step that
// failed (10, 20, 30, ...). When a step fails because an operation it called
// failed with r, the result is r * 1000 + the step's code, so the inner
// failure stays readable in the upper digits. Nested device protocols reach 14
// decimal digits: always hold these in 64 bits.
#pragma once

#include "Calibration.h"

#include <cstdint>
#include <string>

// The error number of a step that failed because an operation it called
// failed with `inner`.
constexpr int64_t NestedError(int64_t inner, int64_t step) {
    return inner * 1000 + step;
}

// What the user reads about a failed link, in every serial reading.
extern const char* const kLinkOpenFailed;    // "Erro na inicialização da conexão com o Tracer."
extern const char* const kLinkCloseFailed;   // "Erro no encerramento da conexão com o Tracer."
extern const char* const kLinkReceiveFailed; // "Erro no recebimento de dados da leitura."

// Opens `device` and sets it up: 8N1 at baudRate, raw bytes, device flow
// control as found, reads of up to 5 s, writes of up to 1 s per byte, both
// queues flushed, DTR and RTS raised. 10 open failed (also when the port is
// open already: the port stays as it was); 20 properties; 30 modem status;
// 40 reading the line settings; 50 writing them (e.g. an unsupported rate);
// 80 timeouts; 90 event mask; 100 queue sizes; 110 flush; 70 DTR/RTS.
// Any code above 10 leaves the device open: the caller closes it with CloseLink.
// `openError`, when given, gets the system's error number of a failed open
// (step 10), else 0.
[[nodiscard]] int64_t OpenLink(CommPort& port, const char* device, int baudRate,
                               int* openError = nullptr);

// Why a port could not be opened, in the user's words, from the system's
// error number: no permission, held by another program or session, not
// present, else the system's own text (not translated).
std::string OpenFailureCause(int error);

// Flushes both directions and closes. 1 when closing failed (also when the
// port was not open), else 0.
[[nodiscard]] int64_t CloseLink(CommPort& port);

// 10 the write failed; 20 fewer than `count` bytes went out in time.
[[nodiscard]] int64_t SendBlock(CommPort& port, const unsigned char* bytes, int count);

// SendBlock, then one answer byte: ACK 0, NAK 40, any other byte 50;
// r * 1000 + 30 when receiving it failed with r (silence gives 40030).
[[nodiscard]] int64_t SendAndConfirm(CommPort& port, const unsigned char* bytes, int count);

// Waits up to 6 s, polling every 50 ms, for `wanted` bytes and reads them into
// `destination`; `got` is the count of bytes read there. More waiting bytes
// than wanted stay queued. 10 the queue could not be looked at; 20 the read
// failed; 30 the read gave fewer bytes than were waiting; 40 fewer than
// `wanted` came in time (those that came are in `destination`).
[[nodiscard]] int64_t ReceiveBlock(CommPort& port, int wanted, unsigned char* destination,
                                   int& got);

// Sends ENQ and waits for ACK: r * 1000 + 10 when that failed with r; then
// flushes both directions: 20 when that failed.
[[nodiscard]] int64_t Enquire(CommPort& port);

// A reading's open: 0, or r * 1000 + 10 after OpenLink failed with r, the
// device closed again if the open itself had succeeded, `detail` the open text
// followed, when the open itself failed, by the port and the cause.
[[nodiscard]] int64_t OpenLinkForReading(CommPort& port, const char* device, int baudRate,
                                         std::string& detail, int* openError = nullptr);
// A reading's close: 0, or `failure` with the close text in `detail` when
// closing failed (also when the port was not open).
[[nodiscard]] int64_t CloseLinkAfterReading(CommPort& port, int64_t failure, std::string& detail);

// The port of the timer-driven readings. StartTimedReading opens it as a
// reading does; StopTimedReading closes it, 1070 when that failed. On failure
// `detail` gets the text for the user.
[[nodiscard]] int64_t StartTimedReading(CommPort& port, const char* device, int baudRate,
                                        std::string& detail, int* openError = nullptr);
[[nodiscard]] int64_t StopTimedReading(CommPort& port, std::string& detail);
