#include <gtest/gtest.h>

#include "platform/db/core/Codepage.h"

using namespace kdb;

namespace {
const int kPages[] = {kCodePage437, kCodePage850, kCodePage1252};

std::string allBytes()
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    return all;
}
}  // namespace

TEST(Codepage, FrenchTextInEachCodePage)
{
    const QString text = QStringLiteral("Hélène Çà ÉÈÊ ù «déjà»");
    // The same letters sit on other bytes in the MS-DOS code pages.
    EXPECT_EQ(static_cast<unsigned char>(toCodePage(kCodePage1252, text)[1]), 0xE9);
    EXPECT_EQ(static_cast<unsigned char>(toCodePage(kCodePage850, text)[1]), 0x82);
    EXPECT_EQ(static_cast<unsigned char>(toCodePage(kCodePage437, text)[1]), 0x82);
    EXPECT_EQ(fromCodePage(kCodePage850, "\x90\xD4\xD2"), QStringLiteral("ÉÈÊ"));
    EXPECT_EQ(fromCodePage(kCodePage437, "\x90\x9C"), QStringLiteral("É£"));
    EXPECT_EQ(fromCodePage(kCodePage1252, "\x80\x8C\x92\xC9"), QStringLiteral("€Œ’É"));
    for (int cp : {kCodePage850, kCodePage1252})
        EXPECT_EQ(fromCodePage(cp, toCodePage(cp, text)), text) << cp;
    // Code page 437 has no "È" nor "Ê".
    EXPECT_EQ(fromCodePage(kCodePage437, toCodePage(kCodePage437, text)), QStringLiteral("Hélène Çà É?? ù «déjà»"));
}

TEST(Codepage, EveryByteRoundTripsAndStandsForItsOwnCharacter)
{
    const std::string all = allBytes();
    for (int cp : kPages) {
        const QString text = fromCodePage(cp, all);
        EXPECT_EQ(toCodePage(cp, text), all) << cp;
        for (int b = 0; b < 256; ++b) {
            char back = 0;
            ASSERT_TRUE(byteOfUnit(cp, text[b].unicode(), back)) << cp << " " << b;
            EXPECT_EQ(static_cast<unsigned char>(back), b) << cp;
        }
    }
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);
}

TEST(Codepage, DriverBytes)
{
    EXPECT_EQ(codePageOfDriver(0x01), kCodePage437);
    EXPECT_EQ(codePageOfDriver(0x1B), kCodePage437);
    EXPECT_EQ(codePageOfDriver(0x02), kCodePage850);
    EXPECT_EQ(codePageOfDriver(0x37), kCodePage850);
    for (uint8_t d : {0x00, 0x03, 0x57, 0x58, 0xC8})
        EXPECT_EQ(codePageOfDriver(d), kCodePage1252) << int(d);
}

TEST(Codepage, UnmappableCharacterBecomesQuestionMark)
{
    EXPECT_EQ(toCp1252(QStringLiteral("a\u4e2db")), "a?b");
    EXPECT_EQ(toCodePage(kCodePage850, QStringLiteral("€")), "?");
}

// The text as near as a code page holds it, length for length: the same
// bytes are written for it as for the text itself.
TEST(Codepage, StorableTextKeepsWhatThePageHoldsAndTheNearestOfTheRest)
{
    const QString text = QStringLiteral("Łódź À œuf ≥ 7 € ﬁ");
    EXPECT_EQ(storableText(kCodePage1252, text), QStringLiteral("Lódz À œuf ? 7 € ?"));
    // Code page 437 lacks À, œ and € (but has ≥): the letter without its
    // accent, or "?".
    EXPECT_EQ(storableText(kCodePage437, text), QStringLiteral("Lódz A ?uf ≥ 7 ? ?"));
    EXPECT_EQ(storableText(kCodePage1252, QStringLiteral("a😀b"), QLatin1Char('_')), QStringLiteral("a__b"));
    for (int cp : kPages) {
        const QString held = storableText(cp, text);
        EXPECT_EQ(held.size(), text.size()) << cp;
        EXPECT_EQ(fromCodePage(cp, toCodePage(cp, held)), held) << cp;
    }
}

TEST(Codepage, UpperCaseOfAccentedLetters)
{
    EXPECT_EQ(upperCp1252(0xE9), 0xC9);  // é -> É
    EXPECT_EQ(upperCp1252('z'), 'Z');
    EXPECT_EQ(upperCp1252(0xF7), 0xF7);  // division sign stays
    EXPECT_EQ(upperCp1252(0x9C), 0x8C);  // œ -> Œ
}
