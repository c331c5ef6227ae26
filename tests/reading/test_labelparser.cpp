#include "Labelparser.h"

#include "Funcoesgerais.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace std::string_literals;

std::unique_ptr<struct_tracedata> parsed(const std::string& text, TraceOutcome* outcome = nullptr) {
    auto record = std::make_unique<struct_tracedata>();
    std::memset(record.get(), 0x33, sizeof *record); // the parser must clear it first
    parseTraceLabels(*record, text, outcome);        // bytes: a packed list may hold NUL
    return record;
}

std::string valueList(int count, int first) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? ";" : "") + std::to_string(first + i);
    return list;
}

TEST(ParseTraceLabels, RadiusListJoinedFromConsecutiveLines) {
    auto record = parsed("TRCFMT=1;4;E;R;F\r\nR=100;200\r\nR=300;400\r\n");
    EXPECT_EQ(record->right.radiusCount, 4);
    EXPECT_EQ(record->right.points[0].radius, 100);
    EXPECT_EQ(record->right.points[3].radius, 400);
    EXPECT_EQ(record->left.radiusCount, 0);
    EXPECT_EQ(record->traceType, 0);
}

TEST(ParseTraceLabels, CountMismatchStoresNothing) {
    TraceOutcome outcome;
    auto record = parsed("TRCFMT=1;4;E;R;F\r\nR=100;200;300\r\n", &outcome);
    EXPECT_EQ(outcome.right, kEyeCountDiffers);
    EXPECT_EQ(outcome.left, kEyeNotDeclared);
    EXPECT_EQ(record->right.radiusCount, 0);
    EXPECT_EQ(record->right.points[0].radius, 0);
}

TEST(ParseTraceLabels, BlanksAroundHeaderFieldsAreIgnored) {
    const std::string lists = "\r\nR=100;200;300;400\r\nZFMT= 1 ;4;E ;R ;F\r\nZ=1;2;3;4\r\n";
    auto plain = parsed("TRCFMT=1;4;E;R;F" + lists);
    ASSERT_EQ(plain->right.radiusCount, 4);
    ASSERT_EQ(plain->right.zCount, 4);
    TraceOutcome outcome;
    auto spaced = parsed("TRCFMT=  1;4 ;E; R;F" + lists, &outcome);
    EXPECT_EQ(outcome.right, kEyeStored);
    EXPECT_EQ(std::memcmp(plain.get(), spaced.get(), sizeof *plain), 0);
}

TEST(ParseTraceLabels, MalformedHeadersAreIgnored) {
    EXPECT_EQ(parsed("TRCFMT=1;4;E;B;F\r\nR=1;2;3;4\r\n")->right.radiusCount, 0);
    EXPECT_EQ(parsed("TRCFMT=1;4;E;R\r\nR=1;2;3;4\r\n")->right.radiusCount, 0);
    // Three headers: every radius list is ignored.
    auto three = parsed("TRCFMT=1;2;E;R;F\r\nR=1;2\r\nTRCFMT=1;2;E;L;F\r\nR=3;4\r\n"
                        "TRCFMT=1;2;E;L;F\r\nR=5;6\r\n");
    EXPECT_EQ(three->right.radiusCount, 0);
    EXPECT_EQ(three->left.radiusCount, 0);
}

TEST(ParseTraceLabels, HeaderFollowedByAnotherLabelGivesAnEmptyList) {
    auto record = parsed("TRCFMT=1;3;E;R;F\r\nZFMT=1;3;E;R;F\r\nR=1;2;3\r\n");
    EXPECT_EQ(record->right.radiusCount, 0);
    EXPECT_EQ(record->right.points[0].radius, 0);
    // The z header has no Z lines either: no z list, rather than one of zeros.
    EXPECT_EQ(record->right.zCount, 0);
}

TEST(ParseTraceLabels, BothEyesWithZValuesAndTheLaterEyeWins) {
    auto record = parsed("TRCFMT=1;2;E;L;F\r\nR=10;20\r\nTRCFMT=1;2;E;R;F\r\nR=30;40\r\n"
                         "ZFMT=1;2;E;R;F\r\nZ=-5;6\r\n");
    EXPECT_EQ(record->left.points[1].radius, 20);
    EXPECT_EQ(record->right.points[0].radius, 30);
    EXPECT_EQ(record->right.zCount, 2);
    EXPECT_EQ(record->right.points[0].z, -5);
    EXPECT_EQ(record->right.points[1].z, 6);

    auto twice = parsed("TRCFMT=1;2;E;R;F\r\nR=1;2\r\nTRCFMT=1;3;E;R;F\r\nR=7;8;9\r\n");
    EXPECT_EQ(twice->right.radiusCount, 3);
    EXPECT_EQ(twice->right.points[0].radius, 7);
}

TEST(ParseTraceLabels, ValuesAreKeptToSixteenBits) {
    auto record = parsed("TRCFMT=1;3;E;R;F\r\nR=70000;-1;12abc\r\n");
    EXPECT_EQ(record->right.points[0].radius, 4464); // 70000 - 65536
    EXPECT_EQ(record->right.points[1].radius, -1);
    EXPECT_EQ(record->right.points[2].radius, 12);
}

TEST(ParseTraceLabels, PerEyeMeasuresNeedExactlyTwoFields) {
    auto record = parsed("CIRC=150.20;150.40\r\nFCRV=4.25;4.5\r\nFCRV=9;9\r\nHBOX=52.1;52\r\n");
    EXPECT_DOUBLE_EQ(record->right.circ, 150.2);
    EXPECT_DOUBLE_EQ(record->left.circ, 150.4);
    EXPECT_DOUBLE_EQ(record->right.fcrv, 4.25); // the first FCRV line counts
    EXPECT_DOUBLE_EQ(record->right.deviceHbox, 52.1);
    EXPECT_DOUBLE_EQ(record->left.deviceHbox, 52.0);
    EXPECT_EQ(record->right.hbox, 0.0); // derived later, never from the device

    auto one = parsed("CIRC=150.20\r\ncirc=1;2\r\n");
    EXPECT_EQ(one->right.circ, 0.0);
    EXPECT_EQ(one->left.circ, 0.0);
}

TEST(ParseTraceLabels, TiltTenthsFromTheRightEye) {
    EXPECT_EQ(parsed("ZTILT=5.25;5.00\r\n")->tiltTenths, 52);
    EXPECT_EQ(parsed("ZTILT=-1.0;0\r\n")->tiltTenths, 246);
    EXPECT_EQ(parsed("ZTILT=5.25\r\n")->tiltTenths, 0);
    EXPECT_EQ(parsed("ZTILT=1e300;0\r\n")->tiltTenths, 0);
}

TEST(ParseTraceLabels, DistanceBetweenLensesNeedsOneField) {
    EXPECT_DOUBLE_EQ(parsed("DBL=17.5\r\n")->dbl, 17.5);
    EXPECT_EQ(parsed("DBL=17.5;18\r\n")->dbl, 0.0);
}

TEST(ParseTraceLabels, JobOfFiveToTwentyCharactersWithoutQuotes) {
    EXPECT_STREQ(parsed("JOB=\"12345\"\r\n")->job, "12345");
    EXPECT_STREQ(parsed("JOB=12345\r\n")->job, "12345");
    EXPECT_STREQ(parsed("JOB=1234\r\n")->job, "");
    EXPECT_STREQ(parsed("JOB=\"1234\"\r\n")->job, "");
    EXPECT_STREQ(parsed("JOB=12345678901234567890\r\n")->job, "12345678901234567890");
    EXPECT_STREQ(parsed("JOB=123456789012345678901\r\n")->job, "");
    EXPECT_STREQ(parsed("JOB=\"\"\r\n")->job, "");
    EXPECT_STREQ(parsed("JOB=\"\r\n")->job, "");
}

TEST(ParseTraceLabels, CountsBeyondThePointSlotsAreRefused) {
    auto big = parsed("TRCFMT=1;5000;E;R;F\r\nR=1;2\r\n");
    EXPECT_EQ(big->right.radiusCount, 0);
    auto negative = parsed("ZFMT=1;-4;E;R;F\r\nZ=1\r\n");
    EXPECT_EQ(negative->right.zCount, 0);
}

TEST(ParseTraceLabels, ListsOfTheLargestNegotiatedFormatAreStored) {
    // 1440 points, as a tracer offering the largest format sends them.
    std::string text = "TRCFMT=1;1440;E;L;F\r\n";
    for (int line = 0; line < 144; ++line)
        text += "R=" + valueList(10, 2000 + line * 10) + "\r\n";
    auto record = parsed(text);
    EXPECT_EQ(record->left.radiusCount, 1440);
    EXPECT_EQ(record->left.points[0].radius, 2000);
    EXPECT_EQ(record->left.points[1439].radius, 3439);
}

TEST(ParseTraceLabels, JoinedListsOfTenThousandCharactersAreNotStored) {
    // 2000 values of four digits and a separator: 9999 characters fit, one more does not.
    std::string text = "TRCFMT=1;2000;E;R;F\r\n";
    for (int line = 0; line < 200; ++line)
        text += "R=" + valueList(10, 1000) + "\r\n";
    EXPECT_EQ(parsed(text)->right.points[5].radius, 1005);

    std::string longer = "TRCFMT=1;2000;E;R;F\r\nR=10000";
    for (int line = 0; line < 200; ++line)
        longer += (line ? "\r\nR=" : ";") + valueList(line ? 10 : 9, 1000);
    longer += "\r\n";
    TraceOutcome outcome;
    auto record = parsed(longer, &outcome);
    EXPECT_EQ(outcome.right, kEyeListTooLong);
    EXPECT_EQ(record->right.radiusCount, 0);
    EXPECT_EQ(record->right.points[1].radius, 0);
}

// Packed binary (format 4) lists: the real tracer's 512 radii (raw NUL bytes
// and escapes in them), and lists that must not be stored.
TEST(ParseTraceLabels, PackedBinaryLists) {
    const PackedSample sample = readPackedSample();
    const std::string wire = sample.wire;
    const std::string right = sample.header + "\r\nR=";
    const std::string left = "TRCFMT=4;512;E;L;F\r\nR=";
    const struct {
        std::string text;
        EyeListState right, left;
    } rows[] = {
        {right + wire + "\r\n" + left + wire + "\r\nDBL=17\r\n", kEyeStored, kEyeStored},
        {right + wire.substr(0, wire.size() - 2) + "\r\n", kEyeCountDiffers, kEyeNotDeclared},
        {right + wire + "\x01\x02\r\n", kEyeCountDiffers, kEyeNotDeclared},
        {right + wire.substr(0, wire.find('\x1b') + 1) + "\r\n", kEyeCountDiffers, kEyeNotDeclared},
        {right.substr(0, right.size() - 2) + "DBL=17\r\n", kEyeCountDiffers, kEyeNotDeclared},
        {"TRCFMT=4;2;E;R;F\r\nR=\xff\x7f\x00\x80\x01\r\n"s, kEyeValueOutOfRange, kEyeNotDeclared},
    };
    for (const auto& row : rows) {
        TraceOutcome outcome;
        auto record = parsed(row.text, &outcome);
        EXPECT_EQ(outcome.right, row.right) << row.text;
        EXPECT_EQ(outcome.left, row.left) << row.text;
        EXPECT_EQ(record->right.radiusCount, row.right == kEyeStored ? 512 : 0);
        if (row.right != kEyeStored)
            continue;
        for (int i = 0; i < 512; ++i) {
            ASSERT_EQ(record->right.points[i].radius, sample.radii[i]) << i;
            ASSERT_EQ(record->left.points[i].radius, sample.radii[i]) << i;
        }
        EXPECT_EQ(record->dbl, 17);
    }
    // z values in format 4 beside radii in format 1.
    auto z = parsed("TRCFMT=1;2;E;R;F\r\nR=2000;2001\r\nZFMT=4;2;E;R;F\r\nZ=" +
                    "\xf6\xff\x00\x80\x05\r\n"s);
    EXPECT_EQ(z->right.zCount, 2);
    EXPECT_EQ(z->right.points[0].z, -10);
    EXPECT_EQ(z->right.points[1].z, -5);
}

TEST(StoreValueList, StoresOnlyMatchingCountsWithinTheSlots) {
    auto csv = std::make_unique<CSVreader>();
    auto eye = std::make_unique<struct_eyetrace>();
    *eye = struct_eyetrace{};
    EXPECT_EQ(storeValueList(*csv, "5;6;7", 3, *eye, 2), 0);
    EXPECT_EQ(eye->points[2].z, 7);
    EXPECT_EQ(eye->points[2].radius, 0);
    EXPECT_EQ(storeValueList(*csv, "5;6;7", 2, *eye, 1), 1);
    EXPECT_EQ(eye->points[0].radius, 0);
    EXPECT_EQ(storeValueList(*csv, "5", -1, *eye, 1), 1);
    EXPECT_EQ(storeValueList(*csv, "5", 2001, *eye, 1), 1);
}

} // namespace
