// A packed binary value list, whatever its bytes and count: the decoder reads
// only the bytes it is given (an exact copy, so a read past them is caught)
// and writes only within the capacity it is given.
#include "Packedtrace.h"
#include "Tracedata.h"

#include "fuzzsupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // Counts up to a little past the point slots, so that refusals are met too.
    const int count = (data[0] | (data[1] << 8)) % (kTracePointSlots + 64);
    const size_t length = size - 2;
    auto bytes = std::make_unique<unsigned char[]>(length);
    std::copy(data + 2, data + size, bytes.get());
    const int capacity = count < 16 ? count : kTracePointSlots; // exactly full, or the slots
    auto values = std::make_unique<int16_t[]>(static_cast<size_t>(capacity));
    const PackedTraceStatus status =
        decodePackedTrace(bytes.get(), length, count, values.get(), capacity);
    check(status >= kPackedDecoded && status <= kPackedNoRoom);
    check((status == kPackedNoRoom) == (count > capacity));
    // No list of n values is shorter than its first absolute value.
    if (status == kPackedDecoded && count > 0)
        check(length >= 2);
    return 0;
}
