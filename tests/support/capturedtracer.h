// A tracer played from a capture (docs/captures.md) on a pseudo-terminal, for
// the protocol tests: the conversation is data in tests/data/captures/protocol.
//
// Each turn reads what the program has sent and checks it against the `>`
// lines; then, once every `>` byte before them has come, it plays the tracer's
// next lines of one time stamp: its `<` chunks in one write, a `hang-up` by
// unplugging. A later time stamp waits for another turn. The program's events
// (opened, closed, timeout) are neither played nor checked. A difference is a
// test failure naming the line, and ends the play.
#pragma once

#include "ptypair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class CapturedTracer {
public:
    // PlayAll: every sleep of the clock is a turn (the program leads).
    // AnswersOnly: a sleep plays only bytes in reply to what the program sent
    // since; the test plays the rest, records and hang-ups, with turn().
    enum Sleeps { PlayAll, AnswersOnly };

    // Plays protocol/<name>.krvwcap on `pty`, taking the clock's sleeps until it goes.
    CapturedTracer(const std::string& name, PseudoTerminal& pty, FakeClock& clock,
                   Sleeps sleeps = PlayAll);
    ~CapturedTracer() { m_clock.onSleep = nullptr; }

    bool turn() { return play(false); } // true when it played something
    // Once the program is done: success when every line was played, and the
    // program sent no more than the capture holds.
    ::testing::AssertionResult finish();

    const std::string& tracerSent() const { return m_said; }
    bool unplugged() const { return m_unplugged; }
    // Names the tests of a table by their rows' captures: lt980_nak_block3.
    struct Names {
        template <class Info> std::string operator()(const Info& info) const {
            std::string name = info.param.capture;
            std::replace(name.begin(), name.end(), '-', '_');
            return name;
        }
    };

private:
    struct Line {
        int number; // in the file, from 1
        char kind;  // '<', '>' or 'h' (hang-up)
        int64_t ms;
        std::string bytes;
    };

    bool play(bool atSleep);
    void hear(std::size_t most, int waitMs);
    void match();
    void fail(const Line* line, const std::string& what);

    std::string m_name;
    PseudoTerminal& m_pty;
    FakeClock& m_clock;
    Sleeps m_sleeps;
    std::vector<Line> m_lines;
    std::size_t m_next = 0;    // the first line not played or heard yet
    std::size_t m_matched = 0; // of m_heard, the bytes of whole `>` lines
    std::string m_heard;
    std::string m_said;
    std::string m_failure; // the first difference, reported once
    bool m_finishing = false;
    bool m_answerDue = false;
    bool m_unplugged = false;
};
