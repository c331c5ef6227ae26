// Fills the frame record from a tracer's LABEL=value text (VCA label records).
#pragma once

#include "Tracedata.h"

#include <string>
#include <string_view>

class CSVreader;

constexpr int kJoinBufferSize = 10000; // joined value lines, terminator included

// What became of an eye's radius list (its TRCFMT header and R lines).
enum EyeListState {
    kEyeNotDeclared = 0,         // no TRCFMT header names the eye
    kEyeStored = 1,              // the radii are in the record
    kEyeCountDiffers = 2,        // the R lines hold another number of values than the header
    kEyeFormatNotRead = 3,       // a format other than 1 (decimal text) and 4 (packed binary)
    kEyeHeaderNotUnderstood = 4, // not format;count;angle mode;eye;type with a usable count
    kEyeListTooLong = 5,         // the joined R lines do not fit the join buffer
    kEyeValueOutOfRange = 6,     // a packed binary list leaves the 16-bit range
};

struct TraceOutcome {
    EyeListState right = kEyeNotDeclared;
    EyeListState left = kEyeNotDeclared;
};

// Clears the record and fills it from the labels it knows; every other label is
// ignored and a malformed one leaves its field as cleared. Blanks around the
// fields of a TRCFMT or ZFMT header are ignored, as real tracers put them there.
// Format 1 lists are decimal text over one or more R (Z) lines; a format 4
// list is the packed binary bytes of the one R (Z) line after its header, up
// to the line's end (`text` is bytes: NUL may occur in them). A list that is
// not stored leaves its eye's count at 0. `outcome`, when given, receives what
// became of each eye's radius list. Always returns 0.
int parseTraceLabels(struct_tracedata& record, std::string_view text,
                     TraceOutcome* outcome = nullptr);

// Why a tracing with this outcome must not be saved, as the message the user
// sees (naming the eye and the reason); empty when it may be saved: every eye a
// header declares has its radii, and at least one eye has them.
std::string unreadableTracingMessage(const TraceOutcome& outcome);

// Stores the ';' fields of `joined` as radii (kind 1) or z values (kind 2) of the
// eye's points 0..expectedCount-1. 0 when stored; 1 when the field count differs
// from expectedCount, or expectedCount is outside the eye's point slots (nothing stored).
[[nodiscard]] int storeValueList(CSVreader& csv, const char* joined, int expectedCount,
                                 struct_eyetrace& eye, int kind);
