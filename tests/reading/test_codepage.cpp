#include "Codepage.h"

#include <gtest/gtest.h>

namespace {

TEST(Codepage, Windows1252AndUtf8RoundTrip) {
    const std::string text =
        windows1252ToUtf8(std::string("Par\xE2metros \xD3ptica \x80 \x93x\x94 \x9F"));
    EXPECT_EQ(text, "Parâmetros Óptica € “x” Ÿ");
    EXPECT_EQ(utf8ToWindows1252(text), "Par\xE2metros \xD3ptica \x80 \x93x\x94 \x9F");
}

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(utf8ToWindows1252(windows1252ToUtf8(all)), all);
}

TEST(Codepage, UnrepresentableAndMalformedTextBecomesQuestionMarks) {
    EXPECT_EQ(utf8ToWindows1252("a\xE4\xB8\xAD"
                                "b"),
              "a?b");                            // a CJK character
    EXPECT_EQ(utf8ToWindows1252("a\xC3"), "a?"); // cut sequence
    EXPECT_EQ(utf8ToWindows1252("\xFF"), "?");
}

} // namespace
