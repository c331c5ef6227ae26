// What the simulator tells its user: one line per event on stdout, flushed at
// once (tests read these lines while the simulator runs), and the reasons of
// failures with hex dumps on stderr.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Progress lines are left out when quiet; PORT, STATS and RESULT lines never are.
void setQuiet(bool quiet);
void say(const std::string& line);
void sayAlways(const std::string& line);
// A reason or a warning on stderr.
void complain(const std::string& text);
// `bytes` as offset, hex and printable columns on stderr, under `title`.
void dumpHex(const std::string& title, const std::string& bytes);

// Bytes as readable text for a progress line: control bytes by name (<FS>, <CR>...).
std::string readable(const std::string& bytes);
// The first 16 bytes in hex, spaced, and " ..." when there are more: for a reason.
std::string hexText(const std::string& bytes);
// Decimal text of a number, independent of the locale.
std::string decimal(int64_t value);

// Monotonic milliseconds, and a sleep of that many.
int64_t nowMs();
void sleepMs(int64_t ms);

} // namespace sim
