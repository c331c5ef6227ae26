// The VCA DCS records on the wire, and the program's reply rules as the
// simulator expects them: it works out for itself what the program must
// answer to each record it sends, and compares that byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr char kAckByte = 0x06;
constexpr char kNakByte = 0x15;
constexpr char kFs = 0x1C; // starts a record
constexpr char kGs = 0x1D; // ends a record
constexpr char kRs = 0x1E; // ends the label lines, inside the CRC

// CRC-16/XMODEM: polynomial 0x1021, most significant bit first, start 0, no
// final XOR; "123456789" gives 0x31C3.
uint16_t crc16Xmodem(const std::string& bytes);

// A tracer's record: FS, each line with CR LF, RS, "CRC=" and the decimal CRC
// of the bytes from the first line through RS, CR LF, GS.
std::string tracerRecord(const std::vector<std::string>& lines);

// The reply lines the program sends to a record of `lines` (its reply rules 1
// to 6); false when no rule gives a reply.
bool expectedReplyLines(const std::vector<std::string>& lines, std::vector<std::string>& reply);

// The program's reply on the wire: ACK, FS, each line with CR LF, RS, "CRC=" and
// the decimal CRC (also returned in `crc`), CR LF, GS.
std::string replyMessage(const std::vector<std::string>& reply, uint16_t& crc);

// The trace format the program picks from `offers` by its table's order, and
// the Z format (the trace format when offered, else the table's order).
// 0 when a trace format (and, with Z offers, a Z format) was chosen, else 1.
int chooseTraceFormat(const std::vector<std::string>& offers,
                      const std::vector<std::string>& zOffers, std::string& trace, std::string& z);

} // namespace sim
