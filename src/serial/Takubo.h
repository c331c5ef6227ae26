// The Takubomatic FD-80 tracer (tracer model 5), read on demand: two fixed
// requests, a fixed answer to the first and one data block of 1697 bytes with
// both eyes' outlines to the second. No ENQ/ACK handshake: each request goes
// out plainly and the tracer gets one second before its answer is collected.
#pragma once

#include "Calibration.h"
#include "Tracedata.h"

#include <cstdint>
#include <string>

constexpr int kTakubomaticMessageSize = 17; // each fixed request and the fixed answer
constexpr int kTakubomaticBlockSize = 1697; // the data block answering request 2
constexpr int kTakubomaticPoints = 400;     // points of every radius and z trace
constexpr int kTakubomaticDifferences = kTakubomaticPoints - 1; // after the first value

// Sends `request` (`length` bytes), waits one second, then receives `wanted` bytes
// (waiting up to about 6 s more) and copies them to `destination`, which must hold
// `wanted` bytes; `delivered` is the count copied there (0 on failure). At most
// kTakubomaticBlockSize bytes are received: a larger `wanted` shows as a smaller
// count. 0, or r * 1000 + 20 when sending failed with r, r * 1000 + 30 when
// receiving failed with r.
[[nodiscard]] int64_t ExchangeTakubomaticBlock(CommPort& port, const unsigned char* request,
                                               int length, int wanted, unsigned char* destination,
                                               int& delivered);

// Reads one tracing from a Takubomatic FD-80 on `device` (opening and closing the port
// itself); 0 and the frame record filled, or an error number with `detail` describing it.
// On failure the record is left as it was.
[[nodiscard]] int64_t ReadTakubomatic(struct_tracedata& record, const char* device, int baudRate,
                                      std::string& detail);

// The tracer's 400 points A[0] = first, A[i + 1] = A[i] + differences[i], in reverse
// order and started at the old point 100: afterwards first = A[100] (its low 16 bits,
// sign-extended) and the differences lead through A[99], ..., A[0], A[399], ..., A[101],
// each cut to its low 8 bits.
void ReorderTakubomaticTrace(int32_t& first, int8_t (&differences)[kTakubomaticDifferences]);
