// The NIDEK LT980 (tracer model 0), read on demand: five data blocks, each
// asked for after its own enquiry handshake, over a port the unit opens for
// the reading and closes again afterwards.
#pragma once

#include "Calibration.h"
#include "Tracedata.h"

#include <cstdint>
#include <string>

// A block request: 0x01, 'S', 0x00, 0x01, block number.
constexpr int kLt980RequestSize = 5;
// Payload lengths of the blocks: 1 frame measures, 2 and 3 right and left
// radii, 5 and 6 right and left z values (block 4 is never asked for).
constexpr int kLt980MeasuresSize = 29;
constexpr int kLt980RadiiSize = 1007;
constexpr int kLt980ZSize = 1003;
constexpr int kLt980LargestPayload = kLt980RadiiSize;

// One block: enquiry (r * 1000 + 10), the request confirmed by ACK
// (r * 1000 + 20), the 4-byte header (r * 1000 + 30), whose first two bytes must
// repeat request bytes 3 and 4 (40) and whose big-endian count must equal
// `expected` (50), the payload (r * 1000 + 60), the closing ACK (r * 1000 + 70).
// Only then are the `expected` bytes copied to `destination` (which must hold
// them) and `delivered` set to that count; on failure destination is untouched
// and delivered is 0. A request of other than 5 bytes gives 20, an `expected`
// outside 0..kLt980LargestPayload gives 50, both before anything is sent.
[[nodiscard]] int64_t ExchangeLt980Block(CommPort& port, const unsigned char* request,
                                         int requestLength, int expected,
                                         unsigned char* destination, int& delivered);

// Reads one tracing from an LT980 on `device` (opening and closing the port itself);
// 0 and the frame record filled, or an error number with `detail` describing it.
// The last three digits tell the step: 10 open, 20/30/40/50/60 blocks 1/2/3/5/6,
// 70 close (1070); the digits above them the inner failure. On any failure the
// port is closed and the record is left exactly as it was.
[[nodiscard]] int64_t ReadLt980(struct_tracedata& record, const char* device, int baudRate,
                                std::string& detail);
