#include "Serialtextdcs.h"

#include "Checksum.h"
#include "Clock.h"
#include "Funcoesgerais.h"
#include "Labelparser.h"
#include "Serial.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <iterator>
#include <memory>

namespace {

// The trace formats the system accepts, in order of preference: decimal text,
// then packed binary (the order FORMATODCS=4 turns round). A chosen entry is
// sent back to the tracer unchanged.
constexpr const char* kTraceFormatTable[] = {
    "1;1000;E;B", "1;1440;E;B", "1;800;E;B", "1;512;E;B", "1;500;E;B", "1;400;E;B",
    "4;1000;E;B", "4;1440;E;B", "4;800;E;B", "4;512;E;B", "4;500;E;B", "4;400;E;B",
};
constexpr int kTraceFormatRows = static_cast<int>(std::size(kTraceFormatTable));
constexpr int kDecimalFormatRows = 6; // the format-1 rows come first in the table

// Row k of the table in the order asked for.
const char* traceFormatRow(int k, TraceFormatOrder order) {
    const int shift = order == TraceFormatOrder::PackedFirst ? kDecimalFormatRows : 0;
    return kTraceFormatTable[(k + shift) % kTraceFormatRows];
}

// Copies `source` into `destination` of `size` characters, cutting what does not fit.
void copyCut(char* destination, int size, const char* source) {
    const size_t length = strnlen(source, static_cast<size_t>(size - 1));
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}

void firstValue(const LineField& lines, const char* label, char* out) {
    const int i = lines.find(label);
    copyCut(out, kDcsValueSize, i >= 0 ? lines.value(i) : "");
}

int allOffers(const LineField& lines, const char* label, char offers[][kDcsOfferSize]) {
    int indexes[kDcsMaxOffers];
    const int found = lines.findAll(label, indexes, kDcsMaxOffers);
    for (int k = 0; k < found; ++k)
        copyCut(offers[k], kDcsOfferSize, lines.value(indexes[k]));
    return found;
}

bool is(const char* value, const char* text) {
    return std::strcmp(value, text) == 0;
}

// An offer equals a table entry as a whole text; it need not be terminated.
bool offerEquals(const char* offer, const char* entry) {
    const size_t length = strnlen(offer, kDcsOfferSize);
    return length == std::strlen(entry) && std::memcmp(offer, entry, length) == 0;
}

bool anyOfferEquals(const char offers[][kDcsOfferSize], int count, const char* entry) {
    for (int k = 0; k < count; ++k)
        if (offerEquals(offers[k], entry))
            return true;
    return false;
}

int limitedCount(int count) {
    return std::clamp(count, 0, kDcsMaxOffers);
}

// One label line of a reply, ended by CR LF.
void line(std::string& reply, const char* label, const char* value = "") {
    reply += label;
    reply += value;
    reply += "\r\n";
}

std::string statusLines(const char* answer, const char* status, const char* job) {
    std::string reply;
    line(reply, "ANS=", answer);
    line(reply, "STATUS=", status);
    if (job[0] != '\0')
        line(reply, "JOB=", job);
    return reply;
}

std::string negotiationLines(const DcsLabels& labels, TraceFormatOrder order) {
    const char* word = is(labels.ans, "INI") ? "INI" : labels.req;
    if (labels.traceOfferCount == 0)
        return statusLines(word, "18", "");
    std::string traceFormat;
    std::string zFormat;
    if (ChooseTraceFormat(labels.traceOffers, labels.traceOfferCount, labels.zOffers,
                          labels.zOfferCount, traceFormat, zFormat, order) != 0)
        return statusLines(word, "17", "");
    std::string reply;
    line(reply, "ANS=", word);
    line(reply, "STATUS=0");
    line(reply, "DEF=;1234");
    line(reply, "TRCFMT=", traceFormat.c_str());
    if (labels.zOfferCount > 0)
        line(reply, "ZFMT=", zFormat.c_str());
    return reply;
}

// The lines of the replies that need no tracing; empty when none of them applies.
std::string requestLines(const DcsLabels& labels, TraceFormatOrder order) {
    if (is(labels.req, "INI"))
        return statusLines("INI", "0", "");
    if (is(labels.req, "1") && labels.traceOfferCount == 1 && labels.zOfferCount == 1) {
        std::string reply;
        line(reply, "ANS=1");
        line(reply, "JOB=", labels.job); // also when empty
        line(reply, "STATUS=0");
        line(reply, "TRCFMT=1;1000;E;B");
        line(reply, "ZFMT=1;1000;E;B");
        return reply;
    }
    if (is(labels.req, "1234") || is(labels.req, "1212"))
        return statusLines(labels.req, "0", labels.job);
    if (is(labels.req, "DNL"))
        return statusLines("DNL", "5", "");
    if (is(labels.ans, "INI") || is(labels.req, "TRC"))
        return negotiationLines(labels, order);
    return {};
}

bool carriesTracing(const DcsLabels& labels) {
    return is(labels.ans, "1234") || is(labels.ans, "TRC") || is(labels.ans, "1212") ||
           is(labels.ans, "1");
}

} // namespace

void ResetDcsBuffer(DcsReceiveBuffer& in) {
    in.readPos = 0;
    in.fill = 0;
    in.lastReceipt = 0;
}

bool PollDcs(DcsReceiveBuffer& in, CommPort& port, struct_tracedata& record, DcsContext& context) {
    const uint32_t waiting = port.status.cbInQue; // as the timer's ClearError found it
    Clock& clock = activeClock();
    // Unsigned difference: right across the wrap of the tick count.
    if (in.lastReceipt != 0 && clock.tickCount() - in.lastReceipt > kDcsStaleAfterMs)
        ResetDcsBuffer(in);
    if (in.readPos >= in.fill)
        ResetDcsBuffer(in);
    clock.sleep(kDcsSettleMs);

    // Full without a complete record: what is there can never become one.
    if (in.fill >= kDcsBufferSize)
        ResetDcsBuffer(in);
    const uint32_t room = static_cast<uint32_t>(kDcsBufferSize - in.fill);
    const uint32_t take = std::min(waiting, room);
    uint32_t done = 0;
    if (take == 0 || port.Read(in.bytes.get() + in.fill, take, done) != 0 || done == 0)
        return false;
    in.fill += static_cast<int32_t>(done);
    in.lastReceipt = clock.tickCount();

    while (in.readPos < in.fill && in.bytes[in.readPos] == kAck)
        ++in.readPos;
    if (in.readPos >= in.fill)
        return false;
    if (in.bytes[in.readPos] != kDcsFs) {
        ResetDcsBuffer(in);
        return false;
    }
    int32_t end = in.readPos + 1;
    for (; end < in.fill && in.bytes[end] != kDcsGs; ++end) {
        if (in.bytes[end] == kDcsFs) {
            ResetDcsBuffer(in);
            return false;
        }
    }
    if (end >= in.fill)
        return false; // the rest comes with a later tick
    // The record's bytes stay where they are until the next tick reads.
    const std::string_view text(reinterpret_cast<const char*>(&in.bytes[in.readPos + 1]),
                                static_cast<size_t>(end - in.readPos - 1));
    // Past the record before handling it: the next tick starts after it.
    in.readPos = end + 1;
    return HandleDcsRecord(port, record, text, context);
}

void ReadDcsLabels(std::string_view text, DcsLabels& labels) {
    auto lines = std::make_unique<LineField>();
    lines->load(text.data(), static_cast<int>(std::min<size_t>(text.size(), INT_MAX)));
    firstValue(*lines, "REQ", labels.req);
    firstValue(*lines, "ANS", labels.ans);
    firstValue(*lines, "JOB", labels.job);
    firstValue(*lines, "MODEL", labels.model);
    labels.traceOfferCount = allOffers(*lines, "TRCFMT", labels.traceOffers);
    labels.zOfferCount = allOffers(*lines, "ZFMT", labels.zOffers);
}

DcsReply DecideDcsReply(const DcsLabels& labels, TraceFormatOrder order) {
    DcsReply reply;
    // The request rules come first: a record one of them answers is never saved,
    // whatever its ANS.
    reply.text = requestLines(labels, order);
    if (reply.text.empty() && carriesTracing(labels)) {
        reply.text = statusLines(labels.ans, "0", labels.job);
        reply.carriesTracing = true;
    }
    if (!reply.text.empty())
        reply.text += static_cast<char>(kDcsRs);
    return reply;
}

bool HandleDcsRecord(CommPort& port, struct_tracedata& record, std::string_view text,
                     DcsContext& context) {
    auto labels = std::make_unique<DcsLabels>();
    ReadDcsLabels(text, *labels);
    if (labels->model[0] != '\0' && context.reading != nullptr)
        context.reading->model.assign(labels->model, strnlen(labels->model, kReadingLabelTextMax));
    const DcsReply reply = DecideDcsReply(*labels, context.formatOrder);
    if (reply.text.empty())
        return false;
    TraceOutcome outcome;
    if (reply.carriesTracing)
        parseTraceLabels(record, text, &outcome);
    // The reply goes out before the save flow; a tracing the tracer never
    // acknowledged is saved all the same.
    static_cast<void>(SendDcsRecord(port, reply.text.c_str()));
    if (!reply.carriesTracing)
        return false;
    // An eye whose outline was lost, or no outline at all: no file a lens could
    // be cut by; the user hears which eye and why.
    const std::string unreadable = unreadableTracingMessage(outcome);
    if (context.reading == nullptr || context.ui == nullptr)
        return unreadable.empty();
    if (!unreadable.empty()) {
        reportReadingNotSaved(*context.ui, unreadable);
        return false;
    }
    static_cast<void>(saveReading(record, context.readingDirectory, *context.reading,
                                  *context.ui)); // it tells the user how it went
    return true;
}

int ChooseTraceFormat(const char offers[][kDcsOfferSize], int offerCount,
                      const char zOffers[][kDcsOfferSize], int zOfferCount,
                      std::string& traceFormat, std::string& zFormat, TraceFormatOrder order) {
    traceFormat.clear();
    zFormat.clear();
    offerCount = limitedCount(offerCount);
    zOfferCount = limitedCount(zOfferCount);
    // The table's order decides, not the order of the offers.
    for (int k = 0; k < kTraceFormatRows; ++k) {
        const char* entry = traceFormatRow(k, order);
        if (anyOfferEquals(offers, offerCount, entry)) {
            traceFormat = entry;
            break;
        }
    }
    if (traceFormat.empty())
        return 1;
    if (zOfferCount == 0)
        return 0;
    // Z values in the trace's own format come first, then the table's order.
    if (anyOfferEquals(zOffers, zOfferCount, traceFormat.c_str())) {
        zFormat = traceFormat;
        return 0;
    }
    for (int k = 0; k < kTraceFormatRows; ++k) {
        const char* entry = traceFormatRow(k, order);
        if (anyOfferEquals(zOffers, zOfferCount, entry)) {
            zFormat = entry;
            return 0;
        }
    }
    return 1;
}

int SendDcsRecord(CommPort& port, const char* replyText) {
    const size_t textLength = std::strlen(replyText);
    const auto* text = reinterpret_cast<const unsigned char*>(replyText);
    constexpr char kCrcLabel[] = "CRC=";
    constexpr size_t kCrcLabelLength = sizeof kCrcLabel - 1;
    constexpr size_t kCrcDigitsMax = 5; // 65535
    // ACK FS text CRC=ddddd CR LF GS
    if (textLength > kDcsMessageSize - (2 + kCrcLabelLength + kCrcDigitsMax + 3))
        return 1;
    const uint16_t crc = ComputeCrc16(static_cast<int>(textLength), 0, text);

    unsigned char message[kDcsMessageSize];
    size_t n = 0;
    message[n++] = kAck;
    message[n++] = kDcsFs;
    std::memcpy(message + n, text, textLength);
    n += textLength;
    std::memcpy(message + n, kCrcLabel, kCrcLabelLength);
    n += kCrcLabelLength;
    char digits[kCrcDigitsMax];
    const auto converted = std::to_chars(digits, digits + sizeof digits, crc);
    const auto digitCount = static_cast<size_t>(converted.ptr - digits);
    std::memcpy(message + n, digits, digitCount);
    n += digitCount;
    message[n++] = '\r';
    message[n++] = '\n';
    message[n++] = kDcsGs;
    return SendAndConfirm(port, message, static_cast<int>(n)) == 0 ? 0 : 1;
}
