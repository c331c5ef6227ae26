// The label tables on any text: LineField::load splits the input into lines and
// label/value pairs, CSVreader::split cuts the whole input (as a C string) and
// every stored value into ';' fields. The tables must stay inside their fixed
// capacities and keep the promises their callers rely on; a broken promise
// stops the run.
#include "Funcoesgerais.h"

#include "fuzzsupport.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Splits `text` and checks the fields against the text: one more field than
// separators, each field free of separators, and nothing past the count.
void splitAndCheck(CSVreader& csv, const char* text) {
    const size_t length = std::strlen(text);
    const int before = csv.count();
    if (csv.split(text) == 0) {
        check(csv.count() == before);
        return;
    }
    check(length < static_cast<size_t>(kCsvBufferSize));
    size_t separators = 0;
    for (size_t i = 0; i < length; ++i)
        separators += text[i] == ';' ? 1 : 0;
    check(static_cast<size_t>(csv.count()) == separators + 1);
    size_t joined = 0;
    for (int i = 0; i < csv.count(); ++i) {
        const char* field = csv.item(i);
        check(field != nullptr && std::strchr(field, ';') == nullptr);
        joined += std::strlen(field);
    }
    check(joined + separators == length);
    check(csv.item(csv.count()) == nullptr && csv.item(-1) == nullptr);
}

// A line may hold NUL bytes from the input; the checks look at the C strings.
void checkLines(const LineField& lines) {
    check(lines.count() >= 0 && lines.count() <= kLineFieldLines);
    for (int i = 0; i < lines.count(); ++i) {
        const char* line = lines.line(i);
        const size_t length = strnlen(line, kLineFieldLineSize);
        check(length < static_cast<size_t>(kLineFieldLineSize));
        check(std::strpbrk(line, "\r\n") == nullptr);
        const char* label = lines.label(i);
        const char* value = lines.value(i);
        check(std::strchr(label, '=') == nullptr);
        const auto* separator = static_cast<const char*>(std::memchr(line, '=', length));
        if (separator != nullptr) {
            // label '=' value gives the line back.
            const auto labelLength = static_cast<size_t>(separator - line);
            check(std::strlen(label) == labelLength);
            check(std::strncmp(line, label, labelLength) == 0);
            check(std::strcmp(separator + 1, value) == 0);
        } else {
            // No separator, or one only behind a NUL byte.
            check(label[0] == '\0' || std::strcmp(label, line) == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // 7.5 MB: made once, as a parse would hold it for one record.
    static auto lines = std::make_unique<LineField>();
    static auto csv = std::make_unique<CSVreader>();
    static int indexes[kLineFieldLines];

    const auto* text = reinterpret_cast<const char*>(data);
    const int length = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    check(lines->load(text, length) == 1);
    checkLines(*lines);

    // Every label found is found first where it first occurs, and findAll
    // lists its lines in order.
    for (const char* label : {"R", "TRCFMT", "ZFMT", "JOB", "", "MODELOTRACER"}) {
        const int first = lines->find(label);
        const int n = lines->findAll(label, indexes, kLineFieldLines);
        check((first < 0) == (n == 0));
        for (int k = 0; k < n; ++k) {
            check(std::strcmp(lines->label(indexes[k]), label) == 0);
            check(k == 0 ? indexes[k] == first : indexes[k] > indexes[k - 1]);
        }
        std::string value;
        check(lines->getValue(label, value) == (first < 0 ? 1 : 0));
    }
    const int limited = lines->findAll("R", indexes, 3);
    check(limited >= 0 && limited <= 3);

    // The whole input as one value, then each stored value.
    std::vector<char> copy(data, data + size);
    copy.push_back('\0');
    splitAndCheck(*csv, copy.data());
    for (int i = 0; i < lines->count(); ++i)
        splitAndCheck(*csv, lines->value(i));
    return 0;
}
