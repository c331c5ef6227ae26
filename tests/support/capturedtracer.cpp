#include "capturedtracer.h"

#include "testsupport.h"

#include <algorithm>
#include <sstream>

namespace {

const std::string kEvents = " opened closed timeout "; // the program's
const char kHexDigits[] = "0123456789abcdefABCDEF";
constexpr auto npos = std::string::npos;

std::string hex(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < 16; ++i)
        text += (i == 0 ? "" : " ") + std::string{"0123456789abcdef"[(bytes[i] >> 4) & 0x0F],
                                                  "0123456789abcdef"[bytes[i] & 0x0F]};
    return bytes.empty() ? "nothing" : (bytes.size() > 16 ? text + " ..." : text);
}

} // namespace

CapturedTracer::CapturedTracer(const std::string& name, PseudoTerminal& pty, FakeClock& clock,
                               Sleeps sleeps)
    : m_name("captures/protocol/" + name + ".krvwcap"), m_pty(pty), m_clock(clock),
      m_sleeps(sleeps) {
    std::istringstream file(readFileBytes(testDataPath(m_name)));
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        if (text.empty() || text[0] == '#')
            continue;
        std::istringstream in(text);
        Line line{number, 0, -1, {}};
        std::string word;
        if (!(in >> line.kind >> line.ms >> word) || line.ms < 0)
            line.kind = 0;
        else if (line.kind == '=')
            line.kind =
                word == "hang-up" ? 'h' : (kEvents.find(" " + word + " ") != npos ? '#' : 0);
        else if (line.kind != '<' && line.kind != '>')
            line.kind = 0;
        for (bool more = line.kind == '<' || line.kind == '>'; more;
             more = in >> word && word[0] != '|') {
            if (word.size() != 2 || word.find_first_not_of(kHexDigits) != npos)
                line.kind = 0;
            else
                line.bytes += static_cast<char>(std::stoi(word, nullptr, 16));
        }
        if (line.kind == 0)
            fail(&line, "not a chunk or an event: " + text.substr(0, 60));
        else if (line.kind != '#')
            m_lines.push_back(line);
    }
    if (m_lines.empty())
        fail(nullptr, "nothing to play: is it there?");
    m_clock.onSleep = [this](int) { play(true); };
}

bool CapturedTracer::play(bool atSleep) {
    hear(4096, 1);
    // A line heard in part: its rest is on its way.
    if (m_next < m_lines.size() && m_lines[m_next].kind == '>' && m_matched < m_heard.size())
        hear(m_lines[m_next].bytes.size() - (m_heard.size() - m_matched), 200);
    if (!m_failure.empty() || m_next == m_lines.size() || m_lines[m_next].kind == '>' ||
        (atSleep && m_sleeps == AnswersOnly && (!m_answerDue || m_lines[m_next].kind == 'h')))
        return false;
    const Line& first = m_lines[m_next];
    if (m_matched < m_heard.size()) {
        fail(&first, "the program sent " + hex(m_heard.substr(m_matched)) + " before it");
        return false;
    }
    m_answerDue = false;
    std::string chunk;
    bool hangUp = false;
    for (; m_next < m_lines.size() && m_lines[m_next].kind != '>' && m_lines[m_next].ms == first.ms;
         ++m_next) {
        chunk += m_lines[m_next].bytes;
        hangUp = hangUp || m_lines[m_next].kind == 'h';
    }
    m_said += chunk;
    if (!chunk.empty() && (m_unplugged || !m_pty.send(chunk)))
        fail(&first, "the tracer's bytes did not reach the program");
    if (hangUp)
        m_pty.unplug();
    m_unplugged = m_unplugged || hangUp;
    return true;
}

// Takes what the program sent, and checks every whole `>` line it makes up.
void CapturedTracer::hear(std::size_t most, int waitMs) {
    if (!m_unplugged && m_failure.empty())
        m_heard += m_pty.received(most, waitMs);
    match();
}

void CapturedTracer::match() {
    for (; m_failure.empty() && m_next < m_lines.size() && m_lines[m_next].kind == '>'; ++m_next) {
        const Line& line = m_lines[m_next];
        const std::size_t have = std::min(m_heard.size() - m_matched, line.bytes.size());
        if (m_heard.compare(m_matched, have, line.bytes, 0, have) != 0)
            fail(&line, "the program sent " + hex(m_heard.substr(m_matched, have)) +
                            ", the capture has " + hex(line.bytes));
        if (have < line.bytes.size())
            return;
        m_matched += have;
        m_answerDue = true;
    }
}

::testing::AssertionResult CapturedTracer::finish() {
    const bool reported = !m_failure.empty();
    m_finishing = true; // what it finds goes in its result
    if (!m_unplugged && !reported)
        m_heard += m_pty.receivedRest(20);
    match();
    if (m_next < m_lines.size())
        fail(&m_lines[m_next], m_lines[m_next].kind == '>' ? "the program did not send it"
                                                           : "not played: the program was done");
    if (m_matched < m_heard.size())
        fail(nullptr,
             "the program sent more than the capture holds: " + hex(m_heard.substr(m_matched)));
    if (m_failure.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (reported ? "(reported above) " : "") << m_failure;
}

void CapturedTracer::fail(const Line* line, const std::string& what) {
    if (!m_failure.empty())
        return;
    m_failure = m_name + (line ? " line " + std::to_string(line->number) : "") + ": " + what;
    if (!m_finishing)
        ADD_FAILURE() << m_failure;
}
