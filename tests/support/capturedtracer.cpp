#include "capturedtracer.h"

#include "Simcapture.h"
#include "Simout.h"
#include "testsupport.h"

#include <algorithm>

CapturedTracer::CapturedTracer(const std::string& name, PseudoTerminal& pty, FakeClock& clock,
                               Sleeps sleeps)
    : m_name("captures/protocol/" + name + ".krvwcap"), m_pty(pty), m_clock(clock),
      m_sleeps(sleeps) {
    sim::Capture capture;
    std::string error;
    if (!sim::loadCapture(testDataPath(m_name), capture, error))
        fail(nullptr, error);
    // The program's own events are neither played nor checked.
    for (const sim::CaptureItem& item : capture.items) {
        using Kind = sim::CaptureItem::Kind;
        const char kind = item.kind == Kind::Device    ? '<'
                          : item.kind == Kind::Program ? '>'
                          : item.event == "hang-up"    ? 'h'
                                                       : 0;
        if (kind != 0)
            m_lines.push_back({item.line, kind, item.ms, item.bytes});
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
        fail(&first, "the program sent " + sim::hexText(m_heard.substr(m_matched)) + " before it");
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
            fail(&line, "the program sent " + sim::hexText(m_heard.substr(m_matched, have)) +
                            ", the capture has " + sim::hexText(line.bytes));
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
        fail(nullptr, "the program sent more than the capture holds: " +
                          sim::hexText(m_heard.substr(m_matched)));
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
