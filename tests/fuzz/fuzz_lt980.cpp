// The NIDEK LT980 block protocol against a tracer whose answers are the
// fuzzer's: after each thing the program sends (ENQ, a block request, the ACK
// that closes a block), the tracer sends the next answer of the input. The
// first byte chooses between a whole reading (ReadLt980, which opens and closes
// the line itself) and single block exchanges on an open line with the block
// number and the expected length taken from the input. A reading either fills
// the record completely or leaves it exactly as it was, and its error number
// always ends in the code of a step.
#include "Commnavis.h"
#include "Serial.h"
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
    const int64_t result = ReadLt980(record, sharedTracerLine().slavePath().c_str(), 9600, detail);
    check(endsInAStep(result, 70));
    if (result != 0) {
        check(!detail.empty());
        check(std::memcmp(&before, &record, sizeof record) == 0);
        return;
    }
    check(record.right.radiusCount == 1000 && record.left.radiusCount == 1000);
    check(record.right.zCount == 1000 && record.left.zCount == 1000);
    check(record.traceType != 'K');
}

void singleBlocks(InputReader& in, ScriptedTracer& tracer) {
    static CommPort port;
    if (OpenLink(port, sharedTracerLine().slavePath().c_str(), 9600) != 0)
        std::abort();
    unsigned char destination[kLt980LargestPayload + 1];
    for (int k = 0; k < 3 && in.left() > 0; ++k) {
        const unsigned char request[kLt980RequestSize] = {0x01, 0x53, 0x00, 0x01, in.byte()};
        const int length = in.byte() % 8 == 0 ? in.byte() % 7 : kLt980RequestSize;
        const int expected = static_cast<int>(in.word() % 1100) - 40;
        destination[kLt980LargestPayload] = 0xA5;
        int delivered = -1;
        tracer.start(in);
        const int64_t result =
            ExchangeLt980Block(port, request, length, expected, destination, delivered);
        check(endsInAStep(result, 70));
        check(result == 0 ? delivered == expected : delivered == 0);
        check(destination[kLt980LargestPayload] == 0xA5);
    }
    check(CloseLink(port) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto record = std::make_unique<struct_tracedata>();
    static auto before = std::make_unique<struct_tracedata>();
    static ScriptedTracer tracer(sharedTracerLine());
    FakeClock& clock = fuzzClock();
    clock.onSleep = [](int) { tracer.turn(); };

    InputReader in(data, size);
    if ((in.byte() & 1) == 0) {
        tracer.start(in);
        wholeReading(*record, *before);
    } else {
        singleBlocks(in, tracer);
    }
    sharedTracerLine().drain();
    return 0;
}
