#include "engine/access_code.hpp"

#include <cfloat>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tervan {
namespace {

struct NumberCase {
    std::string text;
    std::optional<double> expected;
};

void ExpectReads(const std::vector<NumberCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("text: \"" + c.text + "\"");
        const std::optional<double> actual = LenientNumber(c.text);
        ASSERT_EQ(actual.has_value(), c.expected.has_value());
        if (actual) {
            EXPECT_EQ(*actual, *c.expected);
        }
    }
}

std::string Repeat(char c, std::size_t count) {
    return std::string(count, c);
}

TEST(LenientNumberTest, DecimalSignPointAndExponent) {
    ExpectReads({
        {"0", 0},        {"7", 7},          {"007", 7},        {"+12", 12},
        {"-12", -12},    {"1.5", 1.5},      {".5", 0.5},       {"5.", 5},
        {"-.25", -0.25}, {"+0.125", 0.125}, {"1E3", 1000},     {"1e3", 1000},
        {"1E+3", 1000},  {"1E-3", 0.001},   {"2.5e-1", 0.25},  {".5E1", 5},
        {"1D3", 1000},   {"1d-2", 0.01},    {"-1.5D+2", -150}, {"1E0000000000000000000003", 1000},
    });
}

TEST(LenientNumberTest, BlanksTabsAndLineFeedsAreSkippedEverywhere) {
    ExpectReads({
        {"  42  ", 42},
        {"50 38 16", 503816},
        {"\t1\n2 3", 123},
        {"- 12", -12},
        {"1 . 5", 1.5},
        {"1E 3", 1000},
        {"1 E - 3", 0.001},
        {"2 . 5 d - 1", 0.25},
        {"    1615 198th Street N.E.", 1615198},
        // Only those three are skipped: a carriage return or an ideographic
        // space ends the number like any other character.
        {"1\r2", 1},
        {"\r12", 0},
        {"\xE3\x80\x80"
         "12",
         0},
    });
}

TEST(LenientNumberTest, ReadingStopsAtTheFirstCharacterThatCannotContinue) {
    ExpectReads({
        {"503816abc", 503816},
        {"24 and 57", 24},
        {"1.2.3", 1.2},
        {"12+34", 12},
        {"1,5", 1},
        {"1E", 1},
        {"1E+", 1},
        {"1E-x", 1},
        {"1EE3", 1},
        {"1E3.5", 1000},
        {"1E3E2", 1000},
        {"1.5E", 1.5},
        {"5%", 5},
        {"503816\xE5\x86\x86", 503816},
    });
}

TEST(LenientNumberTest, TextWithoutALeadingNumberReadsZero) {
    ExpectReads({
        {"", 0},    {"   ", 0}, {"abc", 0},  {"abc503816", 0},
        {"$5", 0},  {"-", 0},   {"+", 0},    {"+-1", 0},
        {"--1", 0}, {".", 0},   {"-.", 0},   {"..5", 0},
        {"E5", 0},  {"&", 0},   {"&H", 0},   {"&O", 0},
        {"&Hx", 0}, {"&O9", 0}, {"&X12", 0}, {"\xEF\xBC\x95", 0}, // full-width digit five
    });
}

TEST(LenientNumberTest, HexadecimalIsASixteenOrThirtyTwoBitSignedInteger) {
    ExpectReads({
        {"&HFF", 255},
        {"&hff", 255},
        {"&H7FFF", 32767},
        {"&H8000", -32768},
        {"&HFFFF", -1},
        {"&H0000FFFF", -1},
        {"&H10000", 65536},
        {"&H7B008", 503816},
        {"&h7b008", 503816},
        {"&H7FFFFFFF", 2147483647},
        {"&H80000000", -2147483648.0},
        {"&HFFFFFFFF", -1},
        {"&H 7B 008", 503816},
        {"& H10", 16},
        {"&H1G", 1},
        {"&H1.5", 1},
        {"&H" + Repeat('0', 40) + "1F", 31},
    });
}

TEST(LenientNumberTest, OctalIsASixteenOrThirtyTwoBitSignedInteger) {
    ExpectReads({
        {"&O17", 15},
        {"&o17", 15},
        {"&O77777", 32767},
        {"&O100000", -32768},
        {"&O177777", -1},
        {"&O200000", 65536},
        {"&O1730010", 503816},
        {"&O17777777777", 2147483647},
        {"&O37777777777", -1},
        {"&O18", 1},
        {"&O 17 3 0010", 503816},
    });
}

TEST(LenientNumberTest, DecimalTextIsCorrectlyRounded) {
    ExpectReads({
        {"5.03816E5", 503816},
        {"5038160E-1", 503816},
        {"0.1", 0.1},
        {"0.3", 0.3},
        {"9007199254740993", 9007199254740992.0}, // halfway: ties to even
        {"9007199254740995", 9007199254740996.0},
        {"2.2250738585072014E-308", DBL_MIN},
        {"4.9406564584124654E-324", DBL_TRUE_MIN},
        {"1.7976931348623157E308", DBL_MAX},
        {"503816.00000000000000000001", 503816},
    });
}

TEST(LenientNumberTest, LongDigitStringsThatFitStillRead) {
    ExpectReads({
        {Repeat('0', 400) + "503816", 503816},
        {"503816." + Repeat('0', 400), 503816},
        {"1" + Repeat('0', 300), 1e300},
        {"1" + Repeat('0', 400) + "E-395", 1e5},
        {"0." + Repeat('0', 300) + "1E305", 1e4},
        {"0." + Repeat('0', 400) + "1", 0}, // too small for a double: zero, not an error
        {"0." + Repeat('0', 400) + "1E5", 0},
        {"1E-999", 0},
        {"-1E-999", 0},
        {"1E-99999999999999999999", 0},
        {"0E99999999999999999999", 0},
    });
}

TEST(LenientNumberTest, OverflowIsNoValue) {
    ExpectReads({
        {"1E999", std::nullopt},
        {"-1E999", std::nullopt},
        {"1E 999", std::nullopt},
        {"1.8E308", std::nullopt},
        {"1D309", std::nullopt},
        {"1E99999999999999999999", std::nullopt},
        {"1" + Repeat('0', 310), std::nullopt},
        {"0." + Repeat('0', 10) + "1E330", std::nullopt},
        {"&H100000000", std::nullopt},
        {"&HFFFFFFFFF", std::nullopt},
        {"&H FFFF FFFF F", std::nullopt},
        {"&O40000000000", std::nullopt},
        {"&H" + Repeat('F', 400), std::nullopt},
    });
}

TEST(IsAccessCodeTest, AcceptsEverySpellingOfTheCode) {
    for (const std::string entry : {
             "503816",     "  503816  ", "0503816",
             "+503816",    "50 38 16",   "\t503816\n",
             "5\t0\n3816", "503816abc",  "503816\xE5\x86\x86",
             "503816.00",  "503816.",    "5.03816E5",
             "5.03816e+5", "5.03816D5",  "5038160E-1",
             "50381.6E1",  "&H7B008",    "&h7b008",
             "&H0007B008", "&O1730010",  "&o1730010",
             "& H 7B 008",
         }) {
        EXPECT_TRUE(IsAccessCode(entry)) << '"' << entry << '"';
    }
}

TEST(IsAccessCodeTest, RejectsEverythingElse) {
    for (const std::string entry : {
             "",
             "   ",
             "0",
             "503817",
             "503815",
             "503816.0001",
             "50381.6",
             "-503816",
             "abc503816",
             "\r503816",
             "503,816",
             "&H7B009",
             "&O1730011",
             "&O17300100",
             "1E999",
             "-1E999",
             "&HFFFFFFFFF",
             "\xEF\xBC\x95\xEF\xBC\x90\xEF\xBC\x93\xEF\xBC\x98\xEF\xBC\x91\xEF\xBC\x96",
         }) {
        EXPECT_FALSE(IsAccessCode(entry)) << '"' << entry << '"';
    }
}

} // namespace
} // namespace tervan
