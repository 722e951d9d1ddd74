#include "app/global/NextCode.h"
#include "platform/os/Abort.h"
#include "platform/ui/Messages.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>
#include <set>

using kui::MsgKind;
using kui::ScopedMessageRecorder;

namespace {

// A key column held in memory, sorted as the table's index sorts it.
class MemoryColumn : public KeyColumn {
public:
    explicit MemoryColumn(QStringList values) : values_(std::move(values)) { values_.sort(); }
    QString LastValue() override { return values_.isEmpty() ? QString() : values_.last().trimmed(); }
    bool Contains(const QString& value) override
    {
        ++lookups;
        return values_.contains(value);
    }
    int lookups = 0;

private:
    QStringList values_;
};

QString Next(QStringList values, int width = 6)
{
    MemoryColumn column(std::move(values));
    return NextCodeIn(column, "PATIENT", width);
}

class NextCodeTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    ScopedMessageRecorder messages;
};

}  // namespace

TEST_F(NextCodeTest, EmptyTableGivesThePaddedOne)
{
    EXPECT_EQ(Next({}), "000001");
    EXPECT_EQ(Next({}, 3), "001");
    EXPECT_EQ(messages.Count(), 0);
}

TEST_F(NextCodeTest, FollowsTheGreatestValueSkippingTakenOnes)
{
    EXPECT_EQ(Next({"000001", "000041"}), "000042");
    EXPECT_EQ(Next({"000041"}), "000042");
    EXPECT_EQ(Next({"000041", "000042"}), "000043");
    EXPECT_EQ(Next({"000039", "000040", "000041", "000042", "000043"}), "000044");
}

TEST_F(NextCodeTest, OneLookupPerCandidate)
{
    MemoryColumn column({"000041", "000042", "000043"});
    EXPECT_EQ(NextCodeIn(column, "PATIENT", 6), "000044");
    EXPECT_EQ(column.lookups, 2);  // 000043 taken, 000044 free
}

TEST_F(NextCodeTest, DigitsAndLettersKeepTheirClassWithCarry)
{
    EXPECT_EQ(Next({"00009Z"}), "00010A");
    EXPECT_EQ(Next({"A9"}, 2), "B0");
    EXPECT_EQ(Next({"ZZ"}, 2), "AA");
    EXPECT_EQ(Next({"0A9Z"}, 4), "0B0A");
    EXPECT_EQ(Next({"000199"}), "000200");
}

TEST_F(NextCodeTest, WrapsRoundToTheFirstValueOfTheWidth)
{
    EXPECT_EQ(Next({"999999"}), "000000");
    // 000000 taken as well: the next free one after the wrap.
    EXPECT_EQ(Next({"000000", "999999"}), "000001");
}

TEST_F(NextCodeTest, TheGreatestIsTakenInTextOrder)
{
    // "9" sorts after "10": the search starts from 9, padded to 000009,
    // which the column does not hold as such.
    EXPECT_EQ(Next({"9", "10"}), "000009");
    EXPECT_EQ(Next({"000009", "000010"}), "000011");
}

TEST_F(NextCodeTest, AShortGreatestValueIsPaddedBeforeTheSearch)
{
    EXPECT_EQ(Next({"42"}), "000042");
    EXPECT_EQ(Next({"  42  "}), "000042");  // trimmed first
}

TEST_F(NextCodeTest, ASmallLetterPaddedAndAbsentIsReturnedAsItIs)
{
    EXPECT_EQ(Next({"12a"}), "00012a");
    EXPECT_EQ(messages.Count(), 0);
}

TEST_F(NextCodeTest, ACharacterOutsideTheClassesStopsWithTheErrorAndTheSilentAbort)
{
    EXPECT_THROW(Next({"00012a"}), EAbort);
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().kind, MsgKind::Error);
    EXPECT_EQ(messages.Last().text, "Code Incorrect ! 00012a");

    // The message shows the code as far as it was advanced.
    messages.Clear();
    EXPECT_THROW(Next({"0-9"}, 3), EAbort);
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().text, "Code Incorrect ! 0-0");
}

TEST_F(NextCodeTest, AFullCodeSpaceEndsWithAClearErrorInsteadOfLoopingForever)
{
    QStringList all;
    for (int i = 0; i < 100; ++i)
        all << QString("%1").arg(i, 2, 10, QChar('0'));
    MemoryColumn column(all);
    EXPECT_THROW(NextCodeIn(column, "FRDV", 2), EAbort);
    EXPECT_EQ(column.lookups, 100);
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().kind, MsgKind::Error);
    EXPECT_EQ(messages.Last().text, "Plus aucun code libre dans la table FRDV");

    // One hole anywhere is found.
    messages.Clear();
    all.removeAll("37");
    EXPECT_EQ(Next(all, 2), "37");
    EXPECT_EQ(messages.Count(), 0);
}

TEST_F(NextCodeTest, AFullLetterSpaceIsDetectedToo)
{
    QStringList all;
    for (char a = 'A'; a <= 'Z'; ++a)
        for (char b = '0'; b <= '9'; ++b)
            all << QString("%1%2").arg(QChar(a)).arg(QChar(b));
    EXPECT_THROW(Next(all, 2), EAbort);
    EXPECT_EQ(messages.Last().text, "Plus aucun code libre dans la table PATIENT");
}

TEST(AdvanceCode, StepsCarriesAndRefusals)
{
    QString code = "0009";
    EXPECT_TRUE(AdvanceCode(code));
    EXPECT_EQ(code, "0010");
    code = "Z9";
    EXPECT_TRUE(AdvanceCode(code));
    EXPECT_EQ(code, "A0");
    code = "1 9";
    EXPECT_FALSE(AdvanceCode(code));
    EXPECT_EQ(code, "1 0");
    code = "é";
    EXPECT_FALSE(AdvanceCode(code));
}

TEST(NextCodeBinding, OpensTheColumnThroughTheOpenerAndPassesDatabaseErrors)
{
    TestApplication();
    QStringList calls;
    SetKeyColumnOpener([&](const QString& table, const QString& db, const QString& field) {
        calls << table + "|" + db + "|" + field;
        if (table == "MISSING")
            throw std::runtime_error("Table introuvable");
        return std::make_unique<MemoryColumn>(QStringList{"000007"});
    });
    EXPECT_EQ(NextCode("EXCOMP", "/data/", "NUM", 6), "000008");
    EXPECT_EQ(calls, (QStringList{"EXCOMP|/data/|NUM"}));
    EXPECT_THROW(NextCode("MISSING", "/data/", "NUM", 6), std::runtime_error);
    SetKeyColumnOpener(nullptr);
    EXPECT_THROW(NextCode("EXCOMP", "/data/", "NUM", 6), std::logic_error);
}
