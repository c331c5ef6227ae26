// The networked tracers' messages written as text, and the tables of cases
// under tests/data/network that are written with it: each case a list of steps,
// each step a call, a message, what happened and what the record then holds.
// The notation and the table layout are described in that folder's README.md.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace netmsg {

using Bytes = std::vector<unsigned char>;

// The bytes a message expression stands for ("16 01 00 ...", "job(fixed)");
// throws std::invalid_argument saying what is wrong and where.
Bytes parse(const std::string& expression);
// Two lowercase hex digits a byte, spaced, as the captures write them.
std::string hex(const Bytes& bytes);

// One row of a table: `call [key=value...] | message | result; ... | key=value ...`.
struct Step {
    std::string where; // file:line, for the failure's trace
    std::string call;
    std::map<std::string, std::string> options;
    Bytes message;
    std::vector<std::string> result; // a "> EXPR" item held as "> " and its hex
    std::map<std::string, std::string> checks;
};

// A `[Name]` line and the rows under it, played on a fresh fixture.
struct Case {
    std::string name;
    std::vector<Step> steps;
    std::string error; // a table that cannot be read is one case holding why
};

// The cases of tests/data/network/<file>.
std::vector<Case> loadCases(const std::string& file);

// The test of a case is named after it, and printed as its name.
std::string caseName(const ::testing::TestParamInfo<Case>& info);
void PrintTo(const Case& c, std::ostream* os);

} // namespace netmsg
