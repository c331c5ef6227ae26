// The VCA DCS label protocol of the Huvitz, TopCom, Essilor and NIDEK serial
// tracers. The tracer is the active party: it sends records of LABEL=value
// lines framed by FS ... GS; the system answers every record it understands
// with a reply record (ACK FS text CRC=n CR LF GS) and, when a record carries
// a tracing, fills the frame record and saves the reading.
//
// Everything here runs on the user-interface thread from the reading timer.
#pragma once

#include "Calibration.h"
#include "Readingfile.h"
#include "Tracedata.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class UserInterface;

// Control bytes of the label protocol (ACK and NAK are the link layer's).
constexpr unsigned char kDcsFs = 0x1C; // start of a record
constexpr unsigned char kDcsGs = 0x1D; // end of a record
constexpr unsigned char kDcsRs = 0x1E; // end of the label lines of a reply, inside the CRC

constexpr int kDcsBufferSize = 100000;      // bytes of the receive buffer and of one record
constexpr int kDcsMessageSize = 1000;       // bytes of a framed reply
constexpr int kDcsValueSize = 100;          // REQ/ANS/JOB/MODEL: 99 characters + terminator
constexpr int kDcsOfferSize = 50;           // one TRCFMT/ZFMT offer: 49 characters + terminator
constexpr int kDcsMaxOffers = 50;           // offers kept per label; later ones are ignored
constexpr uint32_t kDcsStaleAfterMs = 5000; // a partial record older than this is dropped
constexpr uint32_t kDcsSettleMs = 200;      // wait before reading, so a record comes in whole

// Which trace formats the negotiation prefers: decimal text (format 1) rows
// first, as always, or packed binary (format 4) rows first, for labs that set
// FORMATODCS=4 (several times less on the wire).
enum class TraceFormatOrder { DecimalFirst, PackedFirst };

// What a DCS tracing needs besides the port and the record: where it is saved,
// how the user hears of it, and which trace formats to ask for.
struct DcsContext {
    ReadingContext* reading;      // vendor/model/noMsg; a MODEL label replaces reading->model
    std::string readingDirectory; // passed to saveReading
    UserInterface* ui;            // passed to saveReading
    TraceFormatOrder formatOrder = TraceFormatOrder::DecimalFirst;
};

// The labels of one record that decide the reply: the first REQ, ANS, JOB and
// MODEL values and the first fifty TRCFMT and ZFMT offers, each cut to its
// array. Some 5 KB: better on the heap.
struct DcsLabels {
    char req[kDcsValueSize];
    char ans[kDcsValueSize];
    char job[kDcsValueSize];
    char model[kDcsValueSize];
    char traceOffers[kDcsMaxOffers][kDcsOfferSize];
    int traceOfferCount;
    char zOffers[kDcsMaxOffers][kDcsOfferSize];
    int zOfferCount;
};

// What a record brings back. Apart from the port, so that every rule can be
// checked without a tracer on the line.
struct DcsReply {
    std::string text;            // label lines with CR LF, then RS, before framing; empty: no reply
    bool carriesTracing = false; // parse the record and run the save flow after the reply
};

// Reads the labels of one record (its bytes between FS and GS).
void ReadDcsLabels(std::string_view text, DcsLabels& labels);

// The reply to a record with these labels, and whether it carries a tracing.
[[nodiscard]] DcsReply DecideDcsReply(const DcsLabels& labels,
                                      TraceFormatOrder order = TraceFormatOrder::DecimalFirst);

// What one DCS port has received between timer ticks: a record may take
// several ticks to come in. Each timer-driven port has its own; it starts
// empty. The bytes are on the heap, apart from the positions, so that a write
// past their end could never pass for a change of the positions.
struct DcsReceiveBuffer {
    std::unique_ptr<unsigned char[]> bytes = std::make_unique<unsigned char[]>(kDcsBufferSize);
    int32_t readPos = 0;      // first byte not yet consumed
    int32_t fill = 0;         // valid bytes
    uint32_t lastReceipt = 0; // tick count of the last read that delivered bytes; 0 = none
};

// Empties the receive buffer (the timer does this whenever it starts).
void ResetDcsBuffer(DcsReceiveBuffer& in);

// One timer tick with received bytes waiting: called only after
// port.ClearError succeeded with port.status.cbInQue > 0. Reads those bytes
// into `in` (after a 200 ms settle), cuts out at most one complete record and
// handles it; what HandleDcsRecord returned for it (false when no record was
// complete).
bool PollDcs(DcsReceiveBuffer& in, CommPort& port, struct_tracedata& record, DcsContext& context);

// Answers one record (its bytes between FS and GS: a packed binary list may
// hold NUL bytes) and, when it carries a tracing, fills `record` and runs the
// save flow. True when it carried a tracing whose outline can be read: it is
// in `record`, and saved when the context has a reading context and a user
// interface (without them, as for krvw-tool, the record is only filled).
bool HandleDcsRecord(CommPort& port, struct_tracedata& record, std::string_view text,
                     DcsContext& context);

// Picks the trace format (and, when Z formats were offered, the Z format) from
// the tracer's offers, by the table's order: the six format-1 rows, then the
// six format-4 rows (or these first, by `order`). 0 when chosen; 1 otherwise.
// Offers need not be terminated within their 50 characters; counts outside
// 0..50 are limited to it.
[[nodiscard]] int ChooseTraceFormat(const char offers[][kDcsOfferSize], int offerCount,
                                    const char zOffers[][kDcsOfferSize], int zOfferCount,
                                    std::string& traceFormat, std::string& zFormat,
                                    TraceFormatOrder order = TraceFormatOrder::DecimalFirst);

// Frames `replyText` (label lines with CR LF, ending with RS) with ACK, FS, the
// CRC line and GS, sends it and waits for the tracer's ACK. 0 when it came;
// 1 otherwise, also when the framed reply would not fit kDcsMessageSize (then
// nothing is sent). Nothing is ever resent.
[[nodiscard]] int SendDcsRecord(CommPort& port, const char* replyText);
