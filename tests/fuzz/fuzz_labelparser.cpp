// A tracer's LABEL=value record, whatever it says, through everything that
// follows a DCS tracing: parseTraceLabels fills the frame record, then the
// geometry, the value lists, the plain text and the enciphered bytes of the
// reading file, and the frame picture are made from it. Counts, lists and
// measures come straight from the input, so none of them may lead a write or
// a read past a buffer, or into undefined arithmetic.
#include "Frameimage.h"
#include "Funcoesgerais.h"
#include "Labelparser.h"
#include "Readingfile.h"
#include "Tracedata.h"

#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Buffers {
    struct_tracedata record;
    unsigned char image[kFrameImageCapacity];
    unsigned char file[kReadingTextCapacity];
    char text[kReadingTextCapacity];
    char list[kValueListSize];
};

void checkEye(const struct_eyetrace& eye) {
    // The parser keeps only counts the point slots can hold.
    check(eye.radiusCount >= 0 && eye.radiusCount <= kTracePointSlots);
    check(eye.zCount >= 0 && eye.zCount <= kTracePointSlots);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto buffers = std::make_unique<Buffers>();
    static const ReadingContext context{"VENDOR", "MODEL", true};
    struct_tracedata& record = buffers->record;

    // Bytes, not a C string: a packed binary list may hold NUL. An exact copy,
    // so that a read past the record is caught.
    std::vector<char> text(data, data + size);
    check(parseTraceLabels(record, std::string_view(text.data(), text.size())) == 0);
    checkEye(record.right);
    checkEye(record.left);
    check(strnlen(record.job, sizeof record.job) <= static_cast<size_t>(kJobTextLength));

    computeGeometry(record);
    for (const struct_eyetrace* eye : {&record.right, &record.left}) {
        for (int kind : {kRadiusValues, kZValues}) {
            if (formatValueList(buffers->list, *eye, kind) == 0)
                check(strnlen(buffers->list, kValueListSize) < static_cast<size_t>(kValueListSize));
        }
    }

    int length = -1;
    if (buildReadingText(record, context, buffers->text, kReadingTextCapacity, length) == 0)
        check(length > 0 && length <= kReadingTextCapacity);
    else
        check(length == 0);
    int fileLength = -1;
    if (buildReadingFile(record, context, buffers->file, fileLength) == 0)
        check(fileLength > 0 && fileLength % 16 == 0 && fileLength <= kReadingTextCapacity);

    int imageSize = -1;
    if (renderFrameImage(record, buffers->image, imageSize) == 0)
        check(imageSize > 0 && imageSize <= kFrameImageCapacity);

    return 0;
}
