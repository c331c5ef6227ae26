#include "netmessages.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace netmsg {

namespace {

// Payloads named in the notation, written in it.
const std::map<std::string, std::string> kPayloads = {
    // A plausible fixed part of a Job data message: type 'K', tilt 37 tenths,
    // curve 52 tenths, fpd 50000 (above 32767: read unsigned), circumferences,
    // dbl, and two traces whose steps go both ways.
    {"fixed", R"("K" 42 25 34 w50000 w2512 (03 fe)*499 03 @1012 w15020 w45000 @1028 w1875
                 @1070 w2498 (80 05 05)*333 @2072)"},
    // Type 'F', a circle of 25 mm for both eyes, dbl 18.
    {"circle", R"("F" @6 w2500 @1028 w1800 @1070 w2500 @2072)"},
};

// Frames around a group: what comes before the group's length, and after the group.
const std::map<std::string, std::pair<std::string, std::string>> kFrames = {
    {"len", {"", ""}},
    {"block", {R"("EXTENDED")", ""}},
    {"job", {"16 04 00 0b 0a 0d 0c", "00 00 19"}},
};

void put16(Bytes& b, std::size_t at, long value) {
    b[at] = static_cast<unsigned char>(value & 0xFF);
    b[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    Bytes all() {
        Bytes b = sequence({});
        if (peek() != '\0')
            fail("unexpected ')'");
        return b;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::invalid_argument(what + " at column " + std::to_string(m_at + 1) + " of '" +
                                    m_text + "'");
    }
    char peek() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }
    void expect(char c) {
        if (peek() != c)
            fail(std::string("expected '") + c + "'");
        ++m_at;
    }
    std::string word() {
        peek();
        const std::size_t start = m_at;
        while (m_at < m_text.size() && (std::isalnum(static_cast<unsigned char>(m_text[m_at])) ||
                                        m_text[m_at] == '-' || m_text[m_at] == '_'))
            ++m_at;
        if (m_at == start)
            fail("expected an item");
        return m_text.substr(start, m_at - start);
    }
    long number(const std::string& w) {
        char* fim = nullptr;
        const long v = std::strtol(w.c_str(), &fim, 10);
        if (w.empty() || *fim != '\0')
            fail("'" + w + "' is not a number");
        return v;
    }

    // Items up to ')' or the end, written over `base` from its first byte; `@N`
    // goes on writing at offset N (zeros up to it when the bytes are fewer).
    Bytes sequence(Bytes base) {
        std::size_t at = 0;
        for (char c = peek(); c != '\0' && c != ')'; c = peek()) {
            if (c == '@') {
                ++m_at;
                at = static_cast<std::size_t>(number(word()));
                if (base.size() < at)
                    base.resize(at, 0);
                continue;
            }
            const Bytes b = item();
            if (base.size() < at + b.size())
                base.resize(at + b.size(), 0);
            std::copy(b.begin(), b.end(), base.begin() + static_cast<long>(at));
            at += b.size();
        }
        return base;
    }
    // An atom, then any number of `*N` (N times) and `[from:to]` (those bytes).
    Bytes item() {
        Bytes b = atom();
        for (;;) {
            if (peek() == '*') {
                ++m_at;
                const long n = number(word());
                Bytes r;
                for (long i = 0; i < n; ++i)
                    r.insert(r.end(), b.begin(), b.end());
                b = std::move(r);
            } else if (peek() == '[') {
                ++m_at;
                const long size = static_cast<long>(b.size());
                const long from = peek() == ':' ? 0 : number(word());
                expect(':');
                const long to = peek() == ']' ? size : number(word());
                expect(']');
                if (from < 0 || to > size || from > to)
                    fail("slice out of range");
                b = Bytes(b.begin() + from, b.begin() + to);
            } else {
                return b;
            }
        }
    }
    Bytes atom() {
        const char c = peek();
        if (c == '"') {
            const std::size_t fim = m_text.find('"', m_at + 1);
            if (fim == std::string::npos)
                fail("unterminated text");
            Bytes b(m_text.begin() + static_cast<long>(m_at) + 1,
                    m_text.begin() + static_cast<long>(fim));
            m_at = fim + 1;
            return b;
        }
        if (c == '(') {
            ++m_at;
            Bytes b = sequence({});
            expect(')');
            return b;
        }
        const std::string w = word();
        if (w.size() == 2 && std::isxdigit(static_cast<unsigned char>(w[0])) &&
            std::isxdigit(static_cast<unsigned char>(w[1])))
            return {static_cast<unsigned char>(std::stoi(w, nullptr, 16))};
        if (w.size() > 1 && w[0] == 'w') {
            const long v = number(w.substr(1));
            if (v < -32768 || v > 65535)
                fail("'" + w + "' does not fit 16 bits");
            Bytes b(2);
            put16(b, 0, v);
            return b;
        }
        if (const auto named = kPayloads.find(w); named != kPayloads.end()) {
            Bytes b = Parser(named->second).all();
            if (peek() == '(') {
                ++m_at;
                b = sequence(std::move(b));
                expect(')');
            }
            return b;
        }
        const auto frame = kFrames.find(w);
        if (w != "drill" && frame == kFrames.end())
            fail("'" + w + "' is neither a byte nor a name");
        expect('(');
        Bytes b(32, 0xEE);
        if (frame == kFrames.end()) {
            // Values 1 to 5, the eye, values 6 and 7, at their offsets; the
            // bytes never read carry noise.
            for (int at : {0, 2, 10, 4, 6, 8, 20, 24})
                put16(b, static_cast<std::size_t>(at), number(word()));
        } else {
            const Bytes inner = sequence({});
            b = Parser(frame->second.first).all();
            b.resize(b.size() + 2);
            put16(b, b.size() - 2, static_cast<long>(inner.size()));
            b.insert(b.end(), inner.begin(), inner.end());
            const Bytes after = Parser(frame->second.second).all();
            b.insert(b.end(), after.begin(), after.end());
        }
        expect(')');
        return b;
    }

    std::string m_text;
    std::size_t m_at = 0;
};

const char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> split(const std::string& s, char at) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, at);)
        parts.push_back(trim(part));
    return parts;
}

// `key=value` words; a value in quotes may hold spaces, and \r\n for a line break.
std::map<std::string, std::string> keyValues(const std::string& s) {
    std::map<std::string, std::string> kv;
    for (std::size_t i = s.find_first_not_of(' '); i != std::string::npos;) {
        const std::size_t igual = s.find('=', i);
        const bool aspas = igual != std::string::npos && s.compare(igual + 1, 1, "\"") == 0;
        const std::size_t fim =
            aspas ? s.find('"', igual + 2) : std::min(s.find(' ', igual), s.size());
        if (igual == std::string::npos || fim == std::string::npos)
            throw std::invalid_argument("'" + s.substr(i) + "' is not key=value");
        std::string value = s.substr(igual + 1 + aspas, fim - igual - 1 - aspas);
        for (std::size_t e; (e = value.find("\\r\\n")) != std::string::npos;)
            value.replace(e, 4, "\r\n");
        kv[s.substr(i, igual - i)] = value;
        i = s.find_first_not_of(' ', fim + aspas);
    }
    return kv;
}

Step readStep(const std::string& line) {
    const std::vector<std::string> columns = split(line, '|');
    if (columns.size() > 4)
        throw std::invalid_argument("more than four columns");
    Step step;
    std::stringstream call(columns[0]);
    call >> step.call;
    std::string options;
    std::getline(call, options);
    step.options = keyValues(options);
    if (columns.size() > 1)
        step.message = parse(columns[1]);
    if (columns.size() > 2) {
        for (const std::string& item : split(columns[2], ';')) {
            if (item.rfind('>', 0) == 0)
                step.result.push_back("> " + hex(parse(item.substr(1))));
            else if (!item.empty())
                step.result.push_back(item);
        }
    }
    if (columns.size() > 3)
        step.checks = keyValues(columns[3]);
    return step;
}

} // namespace

Bytes parse(const std::string& expression) {
    return Parser(expression).all();
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string t;
    for (unsigned char b : bytes) {
        if (!t.empty())
            t += ' ';
        t += digits[b >> 4];
        t += digits[b & 0x0F];
    }
    return t;
}

std::vector<Case> loadCases(const std::string& file) {
    const std::string path = std::string(KRVW_TEST_DATA) + "/network/" + file;
    std::ifstream in(path);
    std::vector<Case> cases;
    std::set<std::string> names;
    int number = 0;
    try {
        if (!in)
            throw std::invalid_argument("cannot be read");
        for (std::string line; std::getline(in, line);) {
            ++number;
            const std::string t = trim(line);
            if (t.empty() || t[0] == '#')
                continue;
            if (t.front() == '[' && t.back() == ']') {
                cases.push_back(Case{t.substr(1, t.size() - 2), {}, {}});
                const std::string& name = cases.back().name;
                if (name.empty() || name.find_first_not_of(kNameChars) != std::string::npos ||
                    !names.insert(name).second)
                    throw std::invalid_argument("a case name is letters, digits and _, once");
                continue;
            }
            if (cases.empty())
                throw std::invalid_argument("a row before the first [Name]");
            cases.back().steps.push_back(readStep(t));
            cases.back().steps.back().where = path + ":" + std::to_string(number);
        }
    } catch (const std::exception& e) {
        return {
            Case{"TableCannotBeRead", {}, path + ":" + std::to_string(number) + ": " + e.what()}};
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

} // namespace netmsg
