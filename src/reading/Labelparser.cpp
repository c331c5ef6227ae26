#include "Labelparser.h"

#include "Funcoesgerais.h"
#include "Packedtrace.h"

#include <climits>
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

constexpr int kHeaderFieldSize = 16; // a header field a rule can accept is far shorter

// A header field without the blanks around it; one too long for `out` becomes
// "?", which no rule accepts.
void trimmedField(const char* field, char (&out)[kHeaderFieldSize]) {
    const char* start = skipBlanks(field);
    const char* end = start + std::strlen(start);
    while (end > start && std::strchr(" \t\r\n\v\f", end[-1]) != nullptr)
        --end;
    const auto length = static_cast<size_t>(end - start);
    if (length >= sizeof out) {
        std::strcpy(out, "?");
        return;
    }
    std::memcpy(out, start, length);
    out[length] = '\0';
}

// The count field of a header, read as atol reads it, within the eye's point slots.
bool readCount(const char* field, int& count) {
    const long value = cAtol(field);
    if (value <= 0 || value > kTracePointSlots)
        return false;
    count = static_cast<int>(value);
    return true;
}

// A packed binary (format 4) list: the bytes of the one `continuation` line
// right after line `header`, past its "R=" (or "Z="), up to the line's end.
EyeListState readPackedList(const LineField& lines, std::string_view text, int header,
                            const char* continuation, int count, struct_eyetrace& eye, int kind) {
    const int i = header + 1;
    if (i >= lines.count() || std::strcmp(lines.label(i), continuation) != 0)
        return kEyeCountDiffers; // no list: not one value of the count came
    const size_t prefix = std::strlen(continuation) + 1;
    const auto* bytes =
        reinterpret_cast<const unsigned char*>(text.data()) + lines.start(i) + prefix;
    const size_t length = static_cast<size_t>(lines.length(i)) - prefix;
    int16_t values[kTracePointSlots];
    switch (decodePackedTrace(bytes, length, count, values, kTracePointSlots)) {
    case kPackedDecoded:
        break;
    case kPackedOutOfRange:
        return kEyeValueOutOfRange;
    default:
        return kEyeCountDiffers; // ends early, runs past its count
    }
    for (int k = 0; k < count; ++k) {
        if (kind == kRadiusList)
            eye.points[k].radius = values[k];
        else
            eye.points[k].z = values[k];
    }
    return kEyeStored;
}

// The radius lists (TRCFMT / R) or the z lists (ZFMT / Z) of one or two eyes.
// The radius lists' states go into `outcome`.
void readValueLists(const LineField& lines, std::string_view text, CSVreader& csv,
                    struct_tracedata& record, const char* headerLabel, const char* continuation,
                    int kind, TraceOutcome& outcome) {
    int headers[kLineFieldLines];
    const int found = lines.findAll(headerLabel, headers, kLineFieldLines);
    if (found != 1 && found != 2)
        return;
    auto joined = std::make_unique<char[]>(kJoinBufferSize);
    for (int h = 0; h < found; ++h) {
        if (!csv.split(lines.value(headers[h])) || csv.count() < 4)
            continue;
        // The fields without their blanks, copied out before the csv splits the list.
        char fields[kTraceHeaderFields][kHeaderFieldSize] = {};
        for (int f = 0; f < kTraceHeaderFields && f < csv.count(); ++f)
            trimmedField(csv.item(f), fields[f]);
        const bool fiveFields = csv.count() == kTraceHeaderFields;
        struct_eyetrace* eye = nullptr;
        EyeListState* state = nullptr;
        if (std::strcmp(fields[3], "R") == 0) {
            eye = &record.right;
            state = &outcome.right;
        } else if (std::strcmp(fields[3], "L") == 0) {
            eye = &record.left;
            state = &outcome.left;
        } else {
            continue; // no eye named: not a list of this record
        }
        EyeListState zListState = kEyeNotDeclared;
        if (kind != kRadiusList)
            state = &zListState; // a z list that is not stored is left out, nothing more
        int& count = kind == kRadiusList ? eye->radiusCount : eye->zCount;
        count = 0;
        int declared = 0;
        if (!fiveFields || !readCount(fields[1], declared)) {
            *state = kEyeHeaderNotUnderstood;
        } else if (std::strcmp(fields[0], "4") == 0) {
            *state = readPackedList(lines, text, headers[h], continuation, declared, *eye, kind);
            if (*state == kEyeStored)
                count = declared;
        } else if (std::strcmp(fields[0], "1") != 0) {
            *state = kEyeFormatNotRead; // another format's values would be read as radii
        } else if (!joinValueLines(lines, headers[h], continuation, joined.get())) {
            *state = kEyeListTooLong;
        } else if (storeValueList(csv, joined.get(), declared, *eye, kind) != 0) {
            *state = kEyeCountDiffers;
        } else {
            *state = kEyeStored;
            count = declared;
        }
    }
}

const char* eyeReason(EyeListState state) {
    switch (state) {
    case kEyeCountDiffers:
        return "a quantidade de raios recebidos difere da informada no cabeçalho TRCFMT";
    case kEyeFormatNotRead:
        return "o formato do contorno informado no cabeçalho TRCFMT não é lido por este programa";
    case kEyeHeaderNotUnderstood:
        return "o cabeçalho TRCFMT não foi entendido";
    case kEyeListTooLong:
        return "a lista de raios é longa demais para ser lida";
    case kEyeValueOutOfRange:
        return "a lista de raios em formato binário tem um valor fora da faixa";
    default:
        return nullptr;
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

int parseTraceLabels(struct_tracedata& record, std::string_view text, TraceOutcome* outcome) {
    TraceOutcome states;
    auto lines = std::make_unique<LineField>();
    auto csv = std::make_unique<CSVreader>();
    clearTraceData(record);
    // A record is far shorter than INT_MAX; a longer text is read to that point.
    text = text.substr(0, static_cast<size_t>(INT_MAX));
    lines->load(text.data(), static_cast<int>(text.size()));

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
    readValueLists(*lines, text, *csv, record, "TRCFMT", "R", kRadiusList, states);
    readValueLists(*lines, text, *csv, record, "ZFMT", "Z", kZList, states);
    if (outcome != nullptr)
        *outcome = states;
    return 0;
}

std::string unreadableTracingMessage(const TraceOutcome& outcome) {
    const char* const notSaved = "Não foi possível gravar os dados da leitura: ";
    const char* const readAgain =
        "\nNenhum arquivo foi gravado. Por favor, leia a armação de novo.";
    std::string eyes;
    if (const char* reason = eyeReason(outcome.right))
        eyes += std::string("\nOlho direito: ") + reason + ".";
    if (const char* reason = eyeReason(outcome.left))
        eyes += std::string("\nOlho esquerdo: ") + reason + ".";
    if (!eyes.empty())
        return notSaved + std::string("o contorno recebido do tracer não pôde ser lido.") + eyes +
               readAgain;
    if (outcome.right != kEyeStored && outcome.left != kEyeStored)
        return notSaved + std::string("nenhum olho tem um contorno que possa ser lido.") +
               readAgain;
    return std::string();
}
