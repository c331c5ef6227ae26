// The VCA DCS label protocol as a tracer drives it. Two bytes lead the input:
// the size of the pieces the rest arrives in (1 to 2,922 bytes, larger for a
// long input) and whether the tracer acknowledges the program's replies, then
// how much time passes between pieces. The rest is what the tracer sends:
//  - first, cut at its FS and GS bytes, each slice goes to HandleDcsRecord
//    as a record;
//  - then the whole of it goes down a real pseudo-terminal in pieces, and after
//    each piece the reading timer's tick runs: ClearError, and PollDcs when
//    bytes are waiting.
// The tracer's side drains every reply and, when told to, answers it with ACK.
// Records that carry a tracing run the save flow into a scratch folder. The
// test clock makes the 200 ms settles and the 6 s waits for an ACK free.
#include "Serial.h"
#include "Serialtextdcs.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records handled directly per input; each one builds a 7.5 MB label table.
constexpr int kMaxSlices = 16;
// Timer ticks per input: a long input in small pieces comes in larger ones, so
// that no input takes seconds (a record that carries a tracing costs some
// 30 ms under the sanitizers: parse, geometry, picture, file).
constexpr size_t kMaxTicks = 64;

struct Tracer {
    TracerLine line;
    CommPort port;
    DcsReceiveBuffer received;
    bool ackReplies = false;
    std::string heard;
};

Tracer& tracer() {
    static Tracer* t = [] {
        auto* made = new Tracer;
        if (!made->line.ok() || OpenLink(made->port, made->line.slavePath().c_str(), 9600) != 0)
            std::abort(); // no pseudo-terminal: nothing here can run
        return made;
    }();
    return *t;
}

// At every wait of the program the tracer takes what was sent and, for each
// whole reply (ending with GS), answers ACK when it is told to.
void tracerTurn() {
    Tracer& t = tracer();
    t.heard.clear();
    t.line.drain(&t.heard);
    if (!t.ackReplies)
        return;
    const unsigned char ack = kAck;
    for (char c : t.heard)
        if (static_cast<unsigned char>(c) == kDcsGs)
            t.line.feed(&ack, 1);
}

// The reading timer's tick: ClearError, then PollDcs only with bytes waiting.
void tick(Tracer& t, struct_tracedata& record, DcsContext& context) {
    uint32_t errors = 0;
    if (t.port.ClearError(errors) != 0 || t.port.status.cbInQue == 0)
        return;
    PollDcs(t.received, t.port, record, context);
}

// The input cut at FS and GS: what lies between them is a record as PollDcs
// would cut it out, NUL bytes included; the rest tries the handler with
// anything else.
void handleSlices(const uint8_t* data, size_t size, Tracer& t, struct_tracedata& record,
                  DcsContext& context) {
    const auto* text = reinterpret_cast<const char*>(data);
    int handled = 0;
    for (size_t start = 0; start < size && handled < kMaxSlices;) {
        size_t end = start;
        while (end < size && data[end] != kDcsFs && data[end] != kDcsGs)
            ++end;
        if (end > start) {
            HandleDcsRecord(t.port, record, std::string_view(text + start, end - start), context);
            ++handled;
        }
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto record = std::make_unique<struct_tracedata>();
    static ReadingContext reading;
    static QuietUi ui;
    static DcsContext context{&reading, fuzzScratchDir(), &ui};
    Tracer& t = tracer();
    FakeClock& clock = fuzzClock();
    clock.onSleep = [](int) { tracerTurn(); };

    InputReader in(data, size);
    const uint8_t shape = in.byte();
    size_t piece = 1 + (shape & 0x7Fu) * 23u; // 1 .. 2,922 bytes
    t.ackReplies = (shape & 0x80) != 0;
    const uint32_t pauseMs = in.byte() * 100u; // up to 25.5 s: partial records go stale

    reading.vendor = "VENDOR";
    reading.model = "MODEL";
    reading.noMsg = true;
    ResetDcsBuffer(t.received);
    clock.now = 1000;

    handleSlices(in.rest(), in.left(), t, *record, context);
    if (in.left() > piece * kMaxTicks)
        piece = (in.left() + kMaxTicks - 1) / kMaxTicks;

    while (in.left() > 0) {
        const uint8_t* bytes = nullptr;
        const size_t n = in.take(piece, bytes);
        size_t fed = 0;
        while (fed < n) {
            const int put = t.line.feed(bytes + fed, static_cast<int>(n - fed));
            if (put <= 0)
                break; // the program's queue is full: its next tick reads it
            fed += static_cast<size_t>(put);
        }
        clock.now += pauseMs;
        tick(t, *record, context);
        // What did not fit is offered again after the tick made room.
        if (fed < n) {
            t.line.feed(bytes + fed, static_cast<int>(n - fed));
            tick(t, *record, context);
        }
    }
    // A last tick for bytes still waiting (an ACK nobody asked for, a second record).
    tick(t, *record, context);
    t.line.drain();
    // Best effort between inputs: the checks of this input are done.
    uint32_t errors = 0;
    static_cast<void>(t.port.ClearError(errors));
    static_cast<void>(t.port.Purge(kPurgeAll));
    emptyFuzzScratchDir();
    return 0;
}
