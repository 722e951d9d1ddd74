// Statements read on stored bytes (conditions, DISTINCT, MAX, tag walks, the
// join's table of keys) must answer exactly what the same statements answer
// when every field is read as a value. Tables on disk, filled with texts that
// end in blanks, accented letters (also those of bytes 0x80..0x9F), empty
// values, damaged dates and numbers.
#include <gtest/gtest.h>

#include <QDate>
#include <QTemporaryDir>

#include <random>

#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"
#include "MemTable.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::sql;

namespace {

// The same table read through values only: no stored bytes, no raw keys.
class ValuesOnly : public kdbtest::ForwardTable {
public:
    using ForwardTable::ForwardTable;
    bool hasDbfLayout() const override { return false; }
    const char* rawRecord(uint32_t) override { return nullptr; }
};

const std::vector<QString> kTexts = {"ABC", "ABC ", "", " ", "abc", "ÉLAN", "élan", "œuvre", "Œuvre", "€uro", "€",
    "A_C", "A%C", "AB", "ABCD", "Zèbre", "zebre", "ÿ", "Š", "naïve", "MARTIN", "MART", "ABCDEFGHIJ", "A'B"};

class StoredBytes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path().toStdString();
        DbfTable::create(dir + "/T.DBF",
            {{"ID", 'N', 6, 0, false}, {"NAME", 'C', 10, 0, false}, {"DAT", 'D', 8, 0, false},
                {"AMT", 'N', 8, 2, false}, {"CNT", 'N', 6, 0, false}, {"REF", 'C', 6, 0, false}},
            {{"NAME", "NAME", 'C', false, false}, {"DAT", "DAT", 'D', false, false}});
        DbfTable::create(dir + "/U.DBF", {{"KEY", 'C', 6, 0, false}, {"LABEL", 'C', 10, 0, false}},
            {{"KEY", "KEY", 'C', true, false}});
        std::mt19937 rng(7);
        auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
        {
            auto t = DbfTable::open(dir + "/T.DBF");
            for (int i = 1; i <= 300; ++i) {
                QVariant dat =
                    pick(5) == 0 ? QVariant() : QVariant(QDate(2020, 1, 1).addDays(static_cast<int>(pick(40))));
                QVariant amt = pick(6) == 0 ? QVariant() : QVariant((static_cast<double>(pick(400)) - 200.0) / 4.0);
                QVariant cnt = pick(6) == 0 ? QVariant() : QVariant(static_cast<int>(pick(30)) - 10);
                t->append({i, kTexts[pick(kTexts.size())], dat, amt, cnt, kTexts[pick(kTexts.size())].left(6)});
            }
            for (uint32_t r = 5; r <= 300; r += 37)
                t->deleteRecord(r);
            t->flush();
            auto u = DbfTable::open(dir + "/U.DBF");
            int n = 0;
            for (const QString& k : kTexts)
                if (!k.trimmed().isEmpty() && k.size() <= 6 && !u->findKey("KEY", k))
                    u->append({k, QString("L%1").arg(++n)});
            u->flush();
        }
        // Damaged stored values: a date that is no date, a number that is no number.
        File f = File::open(dir + "/T.DBF", File::Mode::ReadWrite);
        auto t = DbfTable::open(dir + "/T.DBF");
        const uint32_t recLen = t->recordSize();
        uint64_t header = 0;
        {
            unsigned char h[12];
            f.readAt(0, h, 12);
            header = h[8] | (h[9] << 8);
        }
        // field offsets count from the record's deletion flag
        auto put = [&](uint32_t rec, int field, const std::string& text) {
            const FieldInfo& fi = t->fields()[static_cast<size_t>(field)];
            std::string b = text;
            b.resize(static_cast<size_t>(fi.width), ' ');
            f.writeAt(header + uint64_t(rec - 1) * recLen + static_cast<uint64_t>(fi.offset), b.data(), b.size());
        };
        put(3, 2, "2024023X");
        put(4, 2, "20240230");
        put(6, 4, "  12a ");
        put(7, 4, "    +7");
        put(8, 3, "  1.5e1 ");
        put(9, 4, "     -");
    }

    // Rows of a statement, as text, read with stored bytes or through values.
    std::vector<std::vector<QString>> rows(const std::string& sql, bool valuesOnly)
    {
        Database byValues(
            dir, [](const std::string& d, const std::string& n, const TableOpenMode& m) -> std::shared_ptr<Table> {
                engine::OpenOptions o;
                o.exclusive = m.exclusive;
                o.readOnly = m.readOnly;
                return std::make_shared<ValuesOnly>(engine::openTable(d, n, o));
            });
        Database byBytes(dir);
        std::vector<std::vector<QString>> out;
        for (const auto& r : execute(valuesOnly ? byValues : byBytes, sql).result.rows) {
            std::vector<QString> row;
            for (const QVariant& v : r)
                row.push_back(v.isNull() ? QStringLiteral("<null>") : v.toString());
            out.push_back(row);
        }
        return out;
    }

    std::vector<QString> ids(const std::string& sql)
    {
        std::vector<QString> out;
        for (const auto& r : rows(sql, false))
            out.push_back(r.at(0));
        return out;
    }

    void agree(const std::string& sql)
    {
        SCOPED_TRACE(sql);
        EXPECT_EQ(rows(sql, false), rows(sql, true));
    }

    QTemporaryDir tmp;
    std::string dir;
};

std::string quoted(const QString& s)
{
    return "'" + QString(s).replace("'", "''").toStdString() + "'";
}

TEST_F(StoredBytes, ConditionsAgreeWithValues)
{
    for (const char* op : {"=", "<>", "<", "<=", ">", ">="}) {
        for (const QString& t : kTexts) {
            agree("SELECT ID FROM T WHERE NAME " + std::string(op) + " " + quoted(t) + " ORDER BY ID");
            agree("SELECT ID FROM T WHERE " + quoted(t) + " " + op + " NAME ORDER BY ID");
        }
        agree("SELECT ID FROM T WHERE NAME " + std::string(op) + " 'ĀB' ORDER BY ID");  // no byte for Ā
        for (const char* d : {"'1/5/2020'", "'2020-01-20'", "''"})
            agree("SELECT ID FROM T WHERE DAT " + std::string(op) + " " + d + " ORDER BY ID");
        for (const char* n : {"0", "-2.5", "12.25", "7", "15", "''"}) {
            agree("SELECT ID FROM T WHERE AMT " + std::string(op) + " " + n + " ORDER BY ID");
            agree("SELECT ID FROM T WHERE CNT " + std::string(op) + " " + n + " ORDER BY ID");
        }
    }
    for (const char* p :
        {"'A%'", "'%C'", "'A_C'", "'É%'", "'œ%'", "'%'", "'_'", "'ABC'", "'€%'", "'%u%'", "'MART%'", "'Ā%'", "'ABC %'"})
        agree(std::string("SELECT ID, NAME FROM T WHERE NAME LIKE ") + p + " ORDER BY NAME, ID");
}

TEST_F(StoredBytes, TagWalksDistinctMaxAndJoinAgreeWithValues)
{
    for (const QString& t : kTexts) {
        agree("SELECT ID FROM T WHERE NAME = " + quoted(t));
        agree("SELECT ID FROM T WHERE NAME LIKE " + quoted(t + "%"));
    }
    agree("SELECT ID, NAME FROM T ORDER BY NAME");
    agree("SELECT ID, AMT FROM T ORDER BY AMT DESC, ID");
    agree("SELECT ID FROM T ORDER BY CNT, NAME DESC, ID");
    agree("SELECT ID, DAT FROM T ORDER BY DAT DESC, REF, ID");
    agree("SELECT DISTINCT NAME FROM T ORDER BY NAME");
    agree("SELECT DISTINCT NAME FROM T WHERE NAME <> '' ORDER BY NAME");
    agree("SELECT DISTINCT NAME, DAT FROM T");
    agree("SELECT DISTINCT DAT FROM T ORDER BY DAT");
    agree("SELECT DISTINCT REF, NAME FROM T");
    for (const char* c : {"NAME", "DAT", "AMT", "CNT", "ID", "REF"}) {
        agree(std::string("SELECT MAX(") + c + ") AS M FROM T");
        agree(std::string("SELECT MAX(") + c + ") AS M FROM T WHERE ID > 150");
    }
    agree("SELECT ID, LABEL FROM T, U WHERE NAME = KEY ORDER BY ID");
    agree("SELECT ID, LABEL FROM T, U WHERE REF = KEY AND CNT > 0 ORDER BY ID");
    agree("SELECT ID, LABEL FROM T, U WHERE KEY = NAME ORDER BY LABEL, ID");
}

TEST_F(StoredBytes, TextRulesOnStoredBytes)
{
    // Trailing blanks are ignored on both sides; blank is no value.
    const auto abc = ids("SELECT NAME FROM T WHERE NAME = 'ABC  '");
    ASSERT_FALSE(abc.empty());
    for (const QString& n : abc)
        EXPECT_EQ(n, "ABC");
    EXPECT_TRUE(ids("SELECT ID FROM T WHERE NAME = ''").empty());
    for (const QString& n : ids("SELECT NAME FROM T WHERE NAME <> ''"))
        EXPECT_FALSE(n.trimmed().isEmpty());
    // Case and accents count; bytes 0x80..0x9F are read as their letters.
    for (const QString& n : ids("SELECT NAME FROM T WHERE NAME LIKE 'œ%'"))
        EXPECT_EQ(n, "œuvre");
    for (const QString& n : ids("SELECT NAME FROM T WHERE NAME = '€'"))
        EXPECT_EQ(n, "€");
    EXPECT_TRUE(ids("SELECT ID FROM T WHERE NAME = 'Ā'").empty());
    // Comparisons follow the collation of the tags (REF has no tag: the
    // rows are sorted): symbols before letters, capitals before small
    // letters, accented letters after their plain letter.
    std::vector<QString> present;
    for (const char* w : {"€", "€uro", "A%C", "A'B", "A_C", "AB", "ABC", "ABCD", "ABCDEF", "abc", "ÉLAN", "élan",
             "MART", "MARTIN", "naïve", "Œuvre", "œuvre", "Š", "ÿ", "Zèbre", "zebre"})
        if (!ids("SELECT ID FROM T WHERE REF = " + quoted(QString::fromUtf8(w))).empty())
            present.push_back(QString::fromUtf8(w));
    ASSERT_GE(present.size(), 6u);
    EXPECT_EQ(ids("SELECT DISTINCT REF FROM T WHERE REF <> '' ORDER BY REF"), present);
    EXPECT_EQ(ids("SELECT MAX(REF) AS M FROM T"), std::vector<QString>{present.back()});
}

TEST_F(StoredBytes, DamagedDatesAndNumbersAreNoValue)
{
    // Record 3 holds no date ("2024023X"), record 4 an impossible one.
    auto withDate = ids("SELECT ID FROM T WHERE DAT >= '1/1/1900' ORDER BY ID");
    EXPECT_EQ(std::count(withDate.begin(), withDate.end(), "3"), 0);
    EXPECT_EQ(std::count(withDate.begin(), withDate.end(), "4"), 0);
    // "  12a " and "     -" are no number; "    +7" is 7; "1.5e1" is 15.
    EXPECT_TRUE(ids("SELECT ID FROM T WHERE ID = 6 AND CNT > -1000").empty());
    EXPECT_TRUE(ids("SELECT ID FROM T WHERE ID = 9 AND CNT > -1000").empty());
    EXPECT_EQ(ids("SELECT ID FROM T WHERE ID = 7 AND CNT = 7"), std::vector<QString>{"7"});
    EXPECT_EQ(ids("SELECT ID FROM T WHERE ID = 8 AND AMT = 15"), std::vector<QString>{"8"});
}

TEST_F(StoredBytes, JoinKeyLongerThanTheColumnMatchesNothing)
{
    // NAME "ABCDEFGHIJ" must not meet KEY "ABCDEF" (no such key) nor any key cut to six letters.
    auto u = DbfTable::open(dir + "/U.DBF");
    u->append({"ABCDEF", "CUT"});
    u->flush();
    u.reset();
    for (bool valuesOnly : {false, true}) {
        auto r = rows("SELECT ID, NAME, LABEL FROM T, U WHERE NAME = KEY", valuesOnly);
        for (const auto& row : r)
            EXPECT_NE(row.at(2), "CUT") << row.at(1).toStdString();
    }
}

}  // namespace
