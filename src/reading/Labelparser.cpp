#include "Labelparser.h"

#include "Funcoesgerais.h"

#include <cstring>
#include <memory>

namespace {

constexpr int kRadiusList = 1;
constexpr int kZList = 2;
constexpr int kTraceHeaderFields = 5; // format;count;angle mode;eye;type

// Both eyes' value of a two-field measure, from the first line with the label.
bool readEyePair(const LineField& lines, CSVreader& csv, const char* label, double& right,
                 double& left) {
    right = 0;
    left = 0;
    const int i = lines.find(label);
    if (i < 0 || !csv.split(lines.value(i)) || csv.count() != 2)
        return false;
    right = cAtof(csv.item(0));
    left = cAtof(csv.item(1));
    return true;
}

void readJob(const LineField& lines, struct_tracedata& record) {
    const int i = lines.find("JOB");
    if (i < 0)
        return;
    const char* value = lines.value(i);
    size_t length = std::strlen(value);
    if (length > 0 && value[0] == '"') {
        ++value;
        --length;
    }
    if (length > 0 && value[length - 1] == '"')
        --length;
    if (length > 4 && length <= static_cast<size_t>(kJobTextLength)) {
        std::memcpy(record.job, value, length);
        record.job[length] = '\0';
    }
}

// Joins the values of the `continuation` lines right after line `header` with ';'.
// Returns false when the joined text would not fit the join buffer.
bool joinValueLines(const LineField& lines, int header, const char* continuation, char* joined) {
    size_t used = 0;
    joined[0] = '\0';
    for (int i = header + 1; i < lines.count() && std::strcmp(lines.label(i), continuation) == 0;
         ++i) {
        const char* value = lines.value(i);
        const size_t n = std::strlen(value);
        const size_t separator = used > 0 ? 1 : 0;
        if (used + separator + n >= static_cast<size_t>(kJoinBufferSize))
            return false;
        if (separator)
            joined[used++] = ';';
        std::memcpy(joined + used, value, n);
        used += n;
        joined[used] = '\0';
    }
    return true;
}

// The radius lists (TRCFMT / R) or the z lists (ZFMT / Z) of one or two eyes.
void readValueLists(const LineField& lines, CSVreader& csv, struct_tracedata& record,
                    const char* headerLabel, const char* continuation, int kind) {
    int headers[kLineFieldLines];
    const int found = lines.findAll(headerLabel, headers, kLineFieldLines);
    if (found != 1 && found != 2)
        return;
    auto joined = std::make_unique<char[]>(kJoinBufferSize);
    for (int h = 0; h < found; ++h) {
        if (!csv.split(lines.value(headers[h])) || csv.count() != kTraceHeaderFields)
            continue;
        struct_eyetrace* eye = nullptr;
        if (std::strcmp(csv.item(3), "R") == 0)
            eye = &record.right;
        else if (std::strcmp(csv.item(3), "L") == 0)
            eye = &record.left;
        else
            continue;
        const long count = cAtol(csv.item(1));
        // A count the point slots cannot hold is not a tracing we can keep.
        if (count < 0 || count > kTracePointSlots)
            continue;
        if (kind == kRadiusList)
            eye->radiusCount = static_cast<int32_t>(count);
        else
            eye->zCount = static_cast<int32_t>(count);
        if (joinValueLines(lines, headers[h], continuation, joined.get()))
            // A list of another length leaves the eye's values as cleared.
            static_cast<void>(
                storeValueList(csv, joined.get(), static_cast<int>(count), *eye, kind));
    }
}

} // namespace

int storeValueList(CSVreader& csv, const char* joined, int expectedCount, struct_eyetrace& eye,
                   int kind) {
    if (expectedCount < 0 || expectedCount > kTracePointSlots)
        return 1;
    if (!csv.split(joined) || csv.count() != expectedCount)
        return 1;
    for (int i = 0; i < expectedCount; ++i) {
        const auto value = static_cast<int16_t>(cAtol(csv.item(i)));
        if (kind == kRadiusList)
            eye.points[i].radius = value;
        else
            eye.points[i].z = value;
    }
    return 0;
}

int parseTraceLabels(struct_tracedata& record, const char* text) {
    auto lines = std::make_unique<LineField>();
    auto csv = std::make_unique<CSVreader>();
    clearTraceData(record);
    lines->load(text, static_cast<int>(std::strlen(text)));

    readEyePair(*lines, *csv, "FCRV", record.right.fcrv, record.left.fcrv);
    readEyePair(*lines, *csv, "CIRC", record.right.circ, record.left.circ);
    record.tiltTenths = 0;
    if (readEyePair(*lines, *csv, "ZTILT", record.right.ztilt, record.left.ztilt))
        record.tiltTenths = lowByteOfTruncated(record.right.ztilt * 10);

    record.dbl = 0;
    const int dbl = lines->find("DBL");
    if (dbl >= 0 && csv->split(lines->value(dbl)) && csv->count() == 1)
        record.dbl = cAtof(csv->item(0));

    record.boxHeightMean = 0;
    double rightHbox = 0;
    double leftHbox = 0;
    if (readEyePair(*lines, *csv, "HBOX", rightHbox, leftHbox)) {
        record.right.deviceHbox = rightHbox;
        record.left.deviceHbox = leftHbox;
    }

    readJob(*lines, record);
    readValueLists(*lines, *csv, record, "TRCFMT", "R", kRadiusList);
    readValueLists(*lines, *csv, record, "ZFMT", "Z", kZList);
    return 0;
}
