// The Takubomatic FD-80 exchange against a tracer whose answers are the
// fuzzer's: after each request the program sends, the tracer sends the next
// answer of the input. The first byte chooses between a whole reading
// (ReadTakubomatic, which opens and closes the line itself), single exchanges
// with the wanted length from the input, and the reordering of one trace
// (ReorderTakubomaticTrace on the input's bytes, checked against the plain
// definition: the 400 points reversed and started at the old point 100).
#include "Serial.h"
#include "Takubo.h"
#include "Tracedata.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void wholeReading(struct_tracedata& record, struct_tracedata& before) {
    std::memcpy(&before, &record, sizeof record);
    std::string detail;
    const int64_t result =
        ReadTakubomatic(record, sharedTracerLine().slavePath().c_str(), 9600, detail);
    check(endsInAStep(result, 40));
    if (result != 0) {
        check(!detail.empty());
        check(std::memcmp(&before, &record, sizeof record) == 0);
        return;
    }
    check(record.right.radiusCount == kTakubomaticPoints);
    check(record.left.zCount == kTakubomaticPoints);
}

void singleExchanges(InputReader& in, ScriptedTracer& tracer) {
    static CommPort port;
    if (OpenLink(port, sharedTracerLine().slavePath().c_str(), 9600) != 0)
        std::abort();
    static unsigned char destination[kTakubomaticBlockSize + 1];
    for (int k = 0; k < 3 && in.left() > 0; ++k) {
        const unsigned char request[] = {0x02, 0x0D, in.byte(), 0x0D, 0x03};
        const int wanted = static_cast<int>(in.word() % 1800) - 40;
        destination[kTakubomaticBlockSize] = 0xA5;
        int delivered = -1;
        tracer.start(in);
        const int64_t result =
            ExchangeTakubomaticBlock(port, request, sizeof request, wanted, destination, delivered);
        check(result == 0 || result % 1000 == 20 || result % 1000 == 30);
        check(delivered >= 0 && delivered <= kTakubomaticBlockSize);
        check(result == 0 || delivered == 0);
        check(destination[kTakubomaticBlockSize] == 0xA5);
    }
    check(CloseLink(port) == 0);
}

// S[k] = A[(100 - k) mod 400], first as 16 bits, differences as 8 bits.
void reorder(InputReader& in) {
    uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw = raw << 8 | in.byte();
    int32_t first = static_cast<int32_t>(raw);
    int8_t differences[kTakubomaticDifferences];
    for (int8_t& d : differences)
        d = static_cast<int8_t>(in.byte());

    uint32_t a[kTakubomaticPoints];
    a[0] = raw;
    for (int i = 0; i < kTakubomaticDifferences; ++i)
        a[i + 1] = a[i] + static_cast<uint32_t>(static_cast<int32_t>(differences[i]));
    const auto s = [&a](int k) { return a[(100 - k + kTakubomaticPoints) % kTakubomaticPoints]; };

    ReorderTakubomaticTrace(first, differences);
    check(first == static_cast<int16_t>(static_cast<uint16_t>(s(0) & 0xFFFFu)));
    for (int k = 0; k < kTakubomaticDifferences; ++k)
        check(differences[k] ==
              static_cast<int8_t>(static_cast<uint8_t>((s(k + 1) - s(k)) & 0xFFu)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto record = std::make_unique<struct_tracedata>();
    static auto before = std::make_unique<struct_tracedata>();
    static ScriptedTracer tracer(sharedTracerLine());
    FakeClock& clock = fuzzClock();
    clock.onSleep = [](int) { tracer.turn(); };

    InputReader in(data, size);
    switch (in.byte() % 3) {
    case 0:
        tracer.start(in);
        wholeReading(*record, *before);
        break;
    case 1:
        singleExchanges(in, tracer);
        break;
    default:
        reorder(in);
        break;
    }
    sharedTracerLine().drain();
    return 0;
}
