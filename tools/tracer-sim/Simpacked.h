// The packed binary trace format (DCS format 4) as a tracer writes it: the
// bytes that follow "R=" (or "Z=") on a record line, up to its CR.
#pragma once

#include <string>
#include <vector>

namespace sim {

// Encodes `values` (hundredths of a millimetre) as nibbles in the three modes
// (absolute, difference, second difference), choosing for each value the
// cheapest mode that carries it, and escapes the bytes a record's framing
// would take for its own. False when a value cannot be carried (outside
// -32767..32767 without a difference that reaches it).
bool encodePacked(const std::vector<int>& values, std::string& bytes);

// The bytes escaped as a tracer sends them: ACK, LF, CR, XON, XOFF, NAK, ESC,
// FS, GS and RS become ESC followed by the byte with its top bit set.
std::string escapePacked(const std::string& raw);

} // namespace sim
