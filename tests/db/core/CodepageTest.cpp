#include <gtest/gtest.h>

#include "core/Codepage.h"

using namespace kdb;

TEST(Codepage, FrenchAccentsRoundTrip)
{
    const QString text = QStringLiteral("Hélène Çà œuvre € – «déjà» ÿ");
    const std::string bytes = toCp1252(text);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(text.size()));
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xE9);   // é
    EXPECT_EQ(static_cast<unsigned char>(bytes[bytes.find('\x80')]), 0x80);  // €
    EXPECT_EQ(fromCp1252(bytes), text);
}

TEST(Codepage, EveryByteRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);
}

TEST(Codepage, UnmappableCharacterBecomesQuestionMark)
{
    EXPECT_EQ(toCp1252(QStringLiteral("a\u4e2db")), "a?b");
}

TEST(Codepage, UpperCaseOfAccentedLetters)
{
    EXPECT_EQ(upperCp1252(0xE9), 0xC9);  // é -> É
    EXPECT_EQ(upperCp1252('z'), 'Z');
    EXPECT_EQ(upperCp1252(0xF7), 0xF7);  // division sign stays
    EXPECT_EQ(upperCp1252(0x9C), 0x8C);  // œ -> Œ
}
