// Numbers in files and device text must not follow the user's locale: the
// desktop's application object switches the C library to it. These tests run
// with a Brazilian locale active, where printf writes a decimal comma.
#include "Funcoesgerais.h"
#include "Labelparser.h"
#include "Readingfile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

TEST(UserLocale, IsReallyActive) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", 1.5);
    EXPECT_STREQ(text, "1,50") << "the test locale did not take effect";
}

TEST(UserLocale, NumbersAreWrittenAndReadWithAPoint) {
    std::string s;
    formatDouble(s, 1234.5, "%.2lf");
    EXPECT_EQ(s, "1234.50");
    EXPECT_DOUBLE_EQ(cAtof("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(cAtof("1,5"), 1.0);
}

TEST(UserLocale, ReadingTextIsTheSameUnderAnyLocale) {
    auto record = std::make_unique<struct_tracedata>();
    parseTraceLabels(*record, "CIRC=150.20;150.40\r\nDBL=17.5\r\nFCRV=4.25;4.3\r\n"
                              "TRCFMT=1;2;E;R;F\r\nR=2500;2400\r\n");
    EXPECT_DOUBLE_EQ(record->right.circ, 150.2);
    computeGeometry(*record);
    auto text = std::make_unique<char[]>(kReadingTextCapacity);
    int length = 0;
    ASSERT_EQ(buildReadingText(*record, {}, text.get(), kReadingTextCapacity, length), 0);
    const std::string plain(text.get(), static_cast<size_t>(length));
    EXPECT_NE(plain.find("\r\nCIRC=150.20;150.40\r\nDBL=17.50\r\nHBOX=24.00;0.00\r\n"),
              std::string::npos);
    EXPECT_NE(plain.find("\r\nFCRV=4.25;4.30\r\n_DIAG=49.00;0.00\r\n"), std::string::npos);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char* name = std::getenv("KRVW_TEST_LOCALE");
    if (name == nullptr || std::setlocale(LC_ALL, name) == nullptr) {
        std::fprintf(stderr, "cannot switch to the test locale %s\n", name ? name : "(unset)");
        return 1;
    }
    return RUN_ALL_TESTS();
}
