// Fills the frame record from a tracer's LABEL=value text (VCA label records).
#pragma once

#include "Tracedata.h"

class CSVreader;

constexpr int kJoinBufferSize = 10000; // joined value lines, terminator included

// Clears the record and fills it from the labels it knows; every other label is
// ignored and a malformed one leaves its field as cleared. Always returns 0.
int parseTraceLabels(struct_tracedata& record, const char* text);

// Stores the ';' fields of `joined` as radii (kind 1) or z values (kind 2) of the
// eye's points 0..expectedCount-1. 0 when stored; 1 when the field count differs
// from expectedCount, or expectedCount is outside the eye's point slots (nothing stored).
[[nodiscard]] int storeValueList(CSVreader& csv, const char* joined, int expectedCount,
                                 struct_eyetrace& eye, int kind);
