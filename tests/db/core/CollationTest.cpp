#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/Collation.h"

using namespace kdb;

namespace {
int sign(int v)
{
    return (v > 0) - (v < 0);
}
}  // namespace

TEST(Collation, FrenchNamesInTheDocumentedOrder)
{
    const std::vector<QString> expected = {// Character by character: at the first difference a capital comes
        // before its small letter and a plain letter before its accented forms.
        "D'ARC", "D’ARC", "DA", "DUPONT", "DUPONTEL", "Dupont", "DÛPONT", "dupont", "EVA", "ÈVE", "ÉMILE", "Émile",
        "FABIEN", "MORAND", "ŒUVRE", "œuvre", "PAUL", "SYLVIE", "ŠKODA", "TANIA", "YVES", "ŸVON", "ZOÉ", "ŽELKO"};
    std::vector<QString> shuffled = expected;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
    std::sort(
        shuffled.begin(), shuffled.end(), [](const QString& a, const QString& b) { return compareCollated(a, b) < 0; });
    EXPECT_EQ(shuffled, expected);
    // Blanks sort below everything, so a padded value sorts as itself.
    EXPECT_LT(compareCollated(u"AB  ", u"AB\u0001"), 0);
    EXPECT_LT(compareCollated(u"A B", u"AB"), 0);
    EXPECT_LT(compareCollated(u"9", u"A"), 0);
    EXPECT_LT(compareCollated(u"€", u"0"), 0);
}

TEST(Collation, BytesOfEveryCodePageSortAsTheirCharacters)
{
    for (int cp : {kCodePage437, kCodePage850, kCodePage1252}) {
        const Collation& c = Collation::forCodePage(cp);
        ASSERT_EQ(c.codePage(), cp);
        for (int x = 0; x < 256; ++x)
            for (int y = 0; y < 256; ++y) {
                const std::string a(1, static_cast<char>(x)), b(1, static_cast<char>(y));
                const int bytes = sign(c.compare(a + "Z", b));
                ASSERT_EQ(bytes, sign(compareCollated(fromCodePage(cp, a + "Z"), fromCodePage(cp, b))))
                    << cp << " " << x << " " << y;
                // Distinct bytes never compare equal.
                ASSERT_EQ(c.compare(a, b) == 0, x == y);
            }
    }
}

TEST(Collation, TextsSharingAStartSitTogether)
{
    // Everything that starts with "DU" lies between "DU" and the next
    // text that does not: a seek on "DU" and LIKE 'DU%' read one range.
    const Collation& c = Collation::forCodePage(kCodePage1252);
    std::vector<std::string> keys;
    for (int x = 0x20; x < 256; ++x)
        for (const char* start : {"DU", "Du", "D\xDB", "DV", "D"})
            keys.push_back(std::string(start) + static_cast<char>(x));
    std::sort(
        keys.begin(), keys.end(), [&](const std::string& a, const std::string& b) { return c.compare(a, b) < 0; });
    size_t first = keys.size(), last = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i].compare(0, 2, "DU") == 0) {
            first = std::min(first, i);
            last = i;
        }
    for (size_t i = first; i <= last; ++i)
        EXPECT_EQ(keys[i].compare(0, 2, "DU"), 0) << i;
}
