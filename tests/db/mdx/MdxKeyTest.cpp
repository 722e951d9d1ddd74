// Key bytes and their order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "MdxTestUtil.h"
#include "platform/db/core/Codepage.h"
#include "platform/db/core/Collation.h"
#include "platform/db/mdx/MdxKey.h"

using namespace kdb::mdx;
using mdxtest::hex;

TEST(MdxKeyCharacter, PadsAndCutsToTheKeyLength)
{
    EXPECT_EQ(encodeCharacter("ABC", 6), "ABC   ");
    EXPECT_EQ(encodeCharacter("ABCDEFGH", 4), "ABCD");
    EXPECT_EQ(encodeCharacter("", 3), "   ");
}

TEST(MdxKeyCharacter, OrderIsBinaryAndShortKeysCompareAsPrefixes)
{
    EXPECT_LT(compareKeys(KeyType::Character, "ABC", "ABD"), 0);
    EXPECT_GT(compareKeys(KeyType::Character, "a", "Z"), 0);  // binary: lower case after upper
    EXPECT_GT(compareKeys(KeyType::Character, "\xE9", "z"), 0);  // high bytes unsigned
    EXPECT_EQ(compareKeys(KeyType::Character, "DUPONT    ", "DUP"), 0);
    EXPECT_LT(compareKeys(KeyType::Character, "DUPONT    ", "DUR"), 0);
}

TEST(MdxKeyCharacter, CollatedOrderKeepsPrefixes)
{
    const kdb::Collation& c = kdb::Collation::forCodePage(kdb::kCodePage1252);
    EXPECT_LT(compareKeys(KeyType::Character, "a", "Z", &c), 0);
    EXPECT_LT(compareKeys(KeyType::Character, "\xC9MILE", "FABIEN", &c), 0);  // ÉMILE
    EXPECT_LT(compareKeys(KeyType::Character, "EVA   ", "\xC9MILE", &c), 0);
    EXPECT_LT(compareKeys(KeyType::Character, "\x8CUVRE", "PAUL  ", &c), 0);  // ŒUVRE
    EXPECT_EQ(compareKeys(KeyType::Character, "D\xDBPONT", "D\xDB", &c), 0);  // DÛ... as a prefix
    EXPECT_GT(compareKeys(KeyType::Character, "D\xDBPONT", "DU", &c), 0);
    // Blanks pad: a shorter name sorts first.
    EXPECT_LT(compareKeys(KeyType::Character, "DUPONT  ", "DUPONTEL", &c), 0);
    // Code page 850 bytes sort as their letters: 0x90 is "É" there.
    const kdb::Collation& c850 = kdb::Collation::forCodePage(kdb::kCodePage850);
    EXPECT_LT(compareKeys(KeyType::Character, "\x90MILE", "FABIEN", &c850), 0);
    EXPECT_GT(compareKeys(KeyType::Character, "\x90MILE", "EVA   ", &c850), 0);
}

TEST(MdxKeyDate, JulianDayNumbersOfKnownDates)
{
    EXPECT_EQ(julianDayNumber(2000, 1, 1), 2451545);
    EXPECT_EQ(julianDayNumber(1970, 1, 1), 2440588);
    EXPECT_EQ(julianDayNumber(1858, 11, 17), 2400001);
    EXPECT_DOUBLE_EQ(decodeDate(encodeDate(2000, 1, 1)), 2451545.0);
    // Little-endian IEEE double of 2451545.0
    EXPECT_EQ(hex(encodeDate(2000, 1, 1)), "000000802cb44241");
}

TEST(MdxKeyDate, CalendarRoundTripAndOrderOverFourCenturies)
{
    int64_t previous = julianDayNumber(1799, 12, 31);
    std::string previousKey = encodeDate(1799, 12, 31);
    for (int64_t jdn = previous + 1; jdn < julianDayNumber(2200, 1, 1); ++jdn) {
        int y, m, d;
        calendarDate(jdn, y, m, d);
        ASSERT_EQ(julianDayNumber(y, m, d), jdn);
        ASSERT_EQ(jdn, previous + 1);
        const std::string key = encodeDate(y, m, d);
        ASSERT_GT(compareKeys(KeyType::Date, key, previousKey), 0);
        previous = jdn;
        previousKey = key;
    }
}

TEST(MdxKeyDate, TextOfTableRecords)
{
    EXPECT_EQ(encodeDateText("20000101"), encodeDate(2000, 1, 1));
    EXPECT_EQ(encodeDateText("19960229"), encodeDate(1996, 2, 29));
    EXPECT_EQ(encodeDateText("        "), encodeBlankDate());
    EXPECT_EQ(encodeDateText("00000000"), encodeBlankDate());
    EXPECT_EQ(encodeDateText(""), encodeBlankDate());
    EXPECT_FALSE(encodeDateText("19970229"));  // not a leap year
    EXPECT_FALSE(encodeDateText("20001301"));
    EXPECT_FALSE(encodeDateText("2000011"));
    EXPECT_FALSE(encodeDateText("2000-1-1"));
    // The blank date sorts before every real date.
    EXPECT_LT(compareKeys(KeyType::Date, encodeBlankDate(), encodeDate(1, 1, 1)), 0);
}

TEST(MdxKeyNumeric, ExamplesOfTheLayout)
{
    EXPECT_EQ(hex(*encodeNumericText("123.45")), "371512345000000000000000");
    EXPECT_EQ(hex(*encodeNumericText("-7")), "358570000000000000000000");
    EXPECT_EQ(hex(*encodeNumericText("0")), "340100000000000000000000");
    EXPECT_EQ(hex(*encodeNumericText("0.05")), "330550000000000000000000");
    EXPECT_EQ(hex(*encodeNumericText("1200")), "380912000000000000000000");
    EXPECT_EQ(hex(*encodeNumericText("-0.5")), "348550000000000000000000");
}

TEST(MdxKeyNumeric, TextForms)
{
    EXPECT_EQ(encodeNumericText("   12.50"), encodeNumericText("12.5"));
    EXPECT_EQ(encodeNumericText("  .50"), encodeNumericText("0.5"));
    EXPECT_EQ(encodeNumericText("+3"), encodeNumericText("3"));
    EXPECT_EQ(encodeNumericText("-0.00"), encodeNumericText("0"));
    EXPECT_EQ(encodeNumericText("        "), encodeNumericText("0"));  // blank counts as zero
    EXPECT_EQ(encodeNumericText("007"), encodeNumericText("7"));
    EXPECT_FALSE(encodeNumericText("1e3"));
    EXPECT_FALSE(encodeNumericText("12a"));
    EXPECT_FALSE(encodeNumericText("-"));
    EXPECT_FALSE(encodeNumericText("+"));
    EXPECT_FALSE(encodeNumericText("."));
    EXPECT_FALSE(encodeNumericText("1.2.3"));
    EXPECT_FALSE(encodeNumericText("123456789012345678901"));  // 21 digits
    EXPECT_TRUE(encodeNumericText("12345678901234567890"));
    EXPECT_FALSE(encodeNumeric(std::nan("")));
    EXPECT_FALSE(encodeNumeric(INFINITY));
    EXPECT_EQ(numericKeyText(*encodeNumericText("-0012.500")), "-12.5");
    EXPECT_EQ(numericKeyText(*encodeNumericText("0.0005")), "0.0005");
    EXPECT_EQ(numericKeyText(*encodeNumericText("1200")), "1200");
    EXPECT_EQ(numericKeyText(*encodeNumericText("0")), "0");
}

TEST(MdxKeyNumeric, OrderMatchesTheNumbers)
{
    std::mt19937 rng(42);
    std::vector<double> values = {0.0, -0.0, 0.05, -0.05, 1, -1, 10, 9.99, 100, 99.5, 1e-9, -1e-9, 123456789.125};
    std::uniform_int_distribution<int> digits(-6, 9);
    std::uniform_int_distribution<int64_t> mant(-99999999, 99999999);
    for (int i = 0; i < 3000; ++i)
        values.push_back(static_cast<double>(mant(rng)) * std::pow(10.0, digits(rng) - 8));
    for (size_t i = 0; i < values.size(); ++i) {
        const auto a = encodeNumeric(values[i]);
        ASSERT_TRUE(a);
        EXPECT_DOUBLE_EQ(decodeNumeric(*a), values[i]);
        const double other = values[(i * 7 + 3) % values.size()];
        const auto b = encodeNumeric(other);
        const int expected = values[i] < other ? -1 : (values[i] > other ? 1 : 0);
        const int got = compareKeys(KeyType::Numeric, *a, *b);
        ASSERT_EQ((got > 0) - (got < 0), expected) << values[i] << " vs " << other;
    }
}

TEST(MdxKeyNumeric, NegativeZeroKeyEqualsZero)
{
    std::string negZero = *encodeNumericText("0");
    negZero[1] = static_cast<char>(0x81);
    EXPECT_EQ(compareKeys(KeyType::Numeric, negZero, *encodeNumericText("0")), 0);
    EXPECT_LT(compareKeys(KeyType::Numeric, *encodeNumericText("-0.001"), negZero), 0);
    EXPECT_GT(compareKeys(KeyType::Numeric, *encodeNumericText("0.001"), negZero), 0);
}
