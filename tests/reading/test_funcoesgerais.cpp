#include "Bytes.h"
#include "Funcoesgerais.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace {

std::unique_ptr<LineField> loaded(const std::string& text) {
    auto lines = std::make_unique<LineField>();
    lines->load(text.data(), static_cast<int>(text.size()));
    return lines;
}

TEST(LineField, SplitsLinesAtAnyLineEndAndLabelsAtFirstSeparator) {
    auto lines = loaded("A=1\r\n\r\nB=2=3\nC\rD=");
    ASSERT_EQ(lines->count(), 4);
    EXPECT_STREQ(lines->label(0), "A");
    EXPECT_STREQ(lines->value(0), "1");
    EXPECT_STREQ(lines->label(1), "B");
    EXPECT_STREQ(lines->value(1), "2=3");
    EXPECT_STREQ(lines->line(2), "C");
    EXPECT_STREQ(lines->label(2), "");
    EXPECT_STREQ(lines->value(2), "");
    EXPECT_STREQ(lines->label(3), "D");
    EXPECT_STREQ(lines->value(3), "");
}

TEST(LineField, OnlyLineEndsGiveNoLinesAndBlanksAreKept) {
    EXPECT_EQ(loaded("\r\n\n\r\r\n")->count(), 0);
    EXPECT_EQ(loaded("")->count(), 0);
    auto lines = loaded(" A = 1 ");
    EXPECT_STREQ(lines->label(0), " A ");
    EXPECT_STREQ(lines->value(0), " 1 ");
}

TEST(LineField, LoadReplacesThePreviousContent) {
    auto lines = loaded("A=1\r\nB=2\r\n");
    const std::string next = "C=3";
    lines->load(next.data(), static_cast<int>(next.size()));
    EXPECT_EQ(lines->count(), 1);
    EXPECT_EQ(lines->find("A"), -1);
    EXPECT_EQ(lines->find("C"), 0);
}

TEST(LineField, LengthLimitsTheTextRead) {
    const std::string text = "A=1\r\nB=2";
    auto lines = std::make_unique<LineField>();
    lines->load(text.data(), 3);
    ASSERT_EQ(lines->count(), 1);
    EXPECT_STREQ(lines->value(0), "1");
}

TEST(LineField, FindMatchesWholeLabelsCaseSensitively) {
    auto lines = loaded("RAD=9\r\nTRCFMT=x\r\nR=1;2\r\nR=3;4\r\nZFMT=y\r\nr=5\r\n");
    EXPECT_EQ(lines->find("R"), 2);
    EXPECT_EQ(lines->find("RA"), -1);
    EXPECT_EQ(lines->find("r"), 5);
    int found[5];
    ASSERT_EQ(lines->findAll("R", found, 5), 2);
    EXPECT_EQ(found[0], 2);
    EXPECT_EQ(found[1], 3);
    EXPECT_EQ(lines->findAll("R", found, 1), 1);
    EXPECT_EQ(found[0], 2);
}

TEST(LineField, GetValueTellsAbsentLabels) {
    auto lines = loaded("A=1\r\nA=2\r\n");
    std::string value = "old";
    EXPECT_EQ(lines->getValue("A", value), 0);
    EXPECT_EQ(value, "1");
    EXPECT_EQ(lines->getValue("B", value), 1);
    EXPECT_EQ(value, "");
}

TEST(LineField, LongLinesAreCutAndLinesPastCapacityIgnored) {
    const std::string longValue(600, 'x');
    auto lines = loaded("A=" + longValue + "\r\nB=1\r\n");
    ASSERT_EQ(lines->count(), 2);
    EXPECT_EQ(std::string(lines->line(0)).size(), 499u);
    EXPECT_EQ(std::string(lines->value(0)).size(), 497u);
    EXPECT_STREQ(lines->value(1), "1");

    std::string many;
    for (int i = 0; i < kLineFieldLines + 10; ++i)
        many += "L" + std::to_string(i) + "=v\n";
    auto table = loaded(many);
    EXPECT_EQ(table->count(), kLineFieldLines);
    EXPECT_EQ(table->find("L4999"), 4999);
    EXPECT_EQ(table->find("L5000"), -1);
}

TEST(CSVreader, SplitsFieldsIncludingEmptyOnes) {
    CSVreader csv;
    ASSERT_EQ(csv.split("2512;2513;2514"), 1);
    ASSERT_EQ(csv.count(), 3);
    EXPECT_STREQ(csv.item(0), "2512");
    EXPECT_STREQ(csv.item(2), "2514");
    EXPECT_EQ(csv.item(3), nullptr);
    EXPECT_EQ(csv.item(-1), nullptr);

    ASSERT_EQ(csv.split(""), 1);
    ASSERT_EQ(csv.count(), 1);
    EXPECT_STREQ(csv.item(0), "");

    ASSERT_EQ(csv.split("a;"), 1);
    ASSERT_EQ(csv.count(), 2);
    EXPECT_STREQ(csv.item(1), "");

    ASSERT_EQ(csv.split(";;"), 1);
    EXPECT_EQ(csv.count(), 3);
}

TEST(CSVreader, RefusesTextsOfTenThousandCharactersKeepingTheCount) {
    CSVreader csv;
    ASSERT_EQ(csv.split("1;2"), 1);
    EXPECT_EQ(csv.split(std::string(10000, '7').c_str()), 0);
    EXPECT_EQ(csv.count(), 2);
    EXPECT_STREQ(csv.item(1), "2");
    EXPECT_EQ(csv.split(std::string(9999, '7').c_str()), 1);
    EXPECT_EQ(csv.count(), 1);
}

TEST(CSVreader, HoldsAFieldPerPointSlotAndRefusesMore) {
    auto csv = std::make_unique<CSVreader>();
    std::string list = "1";
    for (int i = 1; i < kCsvFields; ++i)
        list += ";1";
    ASSERT_EQ(csv->split(list.c_str()), 1);
    EXPECT_EQ(csv->count(), kCsvFields);
    EXPECT_EQ(csv->split((list + ";1").c_str()), 0);
    EXPECT_EQ(csv->count(), kCsvFields);
}

TEST(NumberHelpers, FormatIntegersAndDoubles) {
    std::string s;
    intToString(s, -5);
    EXPECT_EQ(s, "-5");
    intToString(s, 0);
    EXPECT_EQ(s, "0");
    formatDouble(s, 150.2, "%.2lf");
    EXPECT_EQ(s, "150.20");
    formatDouble(s, -3.5, "%.2lf");
    EXPECT_EQ(s, "-3.50");
    formatDouble(s, 1e300, "%.2lf");
    EXPECT_EQ(s.size(), 304u); // 301 digits, the point and two decimals
    EXPECT_EQ(s.substr(s.size() - 3), ".00");
}

TEST(Bytes, FieldsKeepTheirByteOrderAndTheNetworkedOnesAreTruncated) {
    const unsigned char bytes[4] = {0x34, 0x12, 0xFE, 0xFF};
    EXPECT_EQ(readInt16(nullptr), 0);
    EXPECT_EQ(readLittleU32(bytes), 0xFFFE1234u);
    unsigned char out[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    writeBig32(out, 0x3412FEFFu);
    EXPECT_EQ(readLittleU32(out), 0xFFFE1234u);
    // Written as the networked tracer's field: truncated toward zero, kept to 16 bits.
    const struct {
        double value;
        int16_t back;
    } rows[] = {{12.9, 12}, {-1.5, -1}, {70000.0, 4464}, {std::nan(""), 0}};
    for (const auto& row : rows) {
        EXPECT_EQ(writeInt16(out, row.value), 1);
        EXPECT_EQ(readInt16(out), row.back);
        EXPECT_EQ(out[4], 0xAA);
    }
    EXPECT_EQ(writeInt16(nullptr, 1.0), 0);
}

TEST(NumberHelpers, LowBitsOfTruncatedFollowTwosComplement) {
    EXPECT_EQ(lowByteOfTruncated(52.5), 52);
    EXPECT_EQ(lowByteOfTruncated(-10.0), 246);
    EXPECT_EQ(lowByteOfTruncated(-10.9), 246);
    EXPECT_EQ(lowByteOfTruncated(256.0 + 7), 7);
    EXPECT_EQ(lowByteOfTruncated(1e300), 0);
    EXPECT_EQ(lowByteOfTruncated(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(low16OfTruncated(-32769.0), 32767);
}

TEST(NumberHelpers, AtofAndAtolReadLikeTheCLibrary) {
    EXPECT_DOUBLE_EQ(cAtof("  150.20xyz"), 150.2);
    EXPECT_DOUBLE_EQ(cAtof("-1e2"), -100.0);
    EXPECT_DOUBLE_EQ(cAtof("abc"), 0.0);
    EXPECT_DOUBLE_EQ(cAtof(""), 0.0);
    EXPECT_EQ(cAtol(" 00123A"), 123);
    EXPECT_EQ(cAtol("-12345"), -12345);
    EXPECT_EQ(cAtol("+7"), 7);
    EXPECT_EQ(cAtol("x1"), 0);
    EXPECT_EQ(cAtol("99999999999999999999999"), std::numeric_limits<long>::max());
}

// Decimal numbers only: no NaN, infinity or hexadecimal reaches a reading file.
TEST(NumberHelpers, AtofReadsOnlyTheDecimalForm) {
    const std::pair<const char*, double> casos[] = {
        {"nan", 0},      {"-nan(123)", 0},   {"INF", 0},
        {"infinity", 0}, {"0x10", 0},        {"0x1p4", 0},
        {"1e2", 100},    {"-1.5E-1", -0.15}, {"+.5;", 0.5},
        {"7.", 7},       {"-.", 0},          {"2e", 2},
        {"2e+x", 2},     {"\t3E1x", 30},     {"1e999", std::numeric_limits<double>::max()},
    };
    for (const auto& [texto, valor] : casos)
        EXPECT_DOUBLE_EQ(cAtof(texto), valor) << texto;
}

TEST(NumberHelpers, AppendAnsiStringStopsAtCapacity) {
    char buffer[8] = "ab";
    appendAnsiString(buffer, sizeof buffer, "cde");
    EXPECT_STREQ(buffer, "abcde");
    appendAnsiString(buffer, sizeof buffer, "fghij");
    EXPECT_STREQ(buffer, "abcdefg");
}

} // namespace
