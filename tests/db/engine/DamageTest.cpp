// Damaged tables at the engine's level: an UPDATE statement writes only the
// columns it names; a repair keeps a copy of the damaged files beside the
// data and reports what was wrong and what was kept; a restructure that cuts
// values keeps a copy too.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/db/core/DamageLog.h"
#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::engine;

namespace {

// T.DBF: NOM C10 (tag NOM), DN D8, NB N6, NOTE M.
constexpr int kHeader = 32 + 4 * 32 + 1;
constexpr int kRecLen = 1 + 10 + 8 + 6 + 10;

class EngineDamageTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::string dir() const { return tmp.path().toStdString(); }
    QString file(const char* name) const { return tmp.path() + "/" + name; }
    QByteArray bytes(const QString& f) const
    {
        QFile in(f);
        in.open(QIODevice::ReadOnly);
        return in.readAll();
    }
    void patch(uint32_t recNo, int offset, const QByteArray& b) const
    {
        QFile f(file("T.DBF"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(kHeader + qint64(recNo - 1) * kRecLen + offset);
        f.write(b);
    }
    void SetUp() override
    {
        DbfTable::create(dir() + "/T.DBF",
            {{"NOM", 'C', 10, 0, false}, {"DN", 'D', 8, 0, false}, {"NB", 'N', 6, 0, false},
                {"NOTE", 'M', 10, 0, false}},
            {{"NOM", "NOM", 'C', false, false}});
        auto t = DbfTable::open(dir() + "/T.DBF");
        for (int i = 1; i <= 4; ++i)
            t->append({QStringLiteral("nom%1").arg(i), QDate(2020, 2, i), i * 10, QStringLiteral("mémo %1").arg(i)});
    }
    QString today() const { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }
};

TEST_F(EngineDamageTest, AnUpdateStatementWritesOnlyTheColumnsItNames)
{
    patch(2, 11, "20231399");
    patch(3, 19, "******");
    patch(4, 19, " 1.2.3");
    const QByteArray before = bytes(file("T.DBF"));
    const auto r = sql::execute(dir(), "UPDATE T SET NOM = 'Neuf'");
    EXPECT_EQ(r.rowsAffected, 4);
    const QByteArray after = bytes(file("T.DBF"));
    for (int rec = 0; rec < 4; ++rec) {
        const qsizetype at = kHeader + rec * kRecLen;
        EXPECT_EQ(after.mid(at + 1, 10), QByteArray("Neuf      "));
        EXPECT_EQ(after.mid(at + 11, kRecLen - 11), before.mid(at + 11, kRecLen - 11)) << rec;
    }
}

TEST_F(EngineDamageTest, ARepairKeepsACopyOfTheDamagedFilesAndSaysWhatWasKept)
{
    patch(2, 25, "   7777777");  // memo pointer beyond the memo file
    patch(3, 11, "2023AB01");  // date that does not read
    ASSERT_TRUE(QFile::resize(file("T.DBF"), kHeader + 3 * kRecLen + 12));  // the fourth cut short
    const QByteArray dbf = bytes(file("T.DBF")), dbt = bytes(file("T.DBT")), mdx = bytes(file("T.MDX"));

    const DamageReport d = repairTable(dir(), "t.dbf");
    ASSERT_TRUE(d.damaged());
    EXPECT_EQ(d.error, 0);
    EXPECT_EQ(d.recordsAnnounced, 4u);
    EXPECT_EQ(d.recordsInFile, 3u);
    EXPECT_TRUE(d.partialRecord);
    EXPECT_EQ(d.badMemoPointers, 1u);
    EXPECT_EQ(d.unreadableValues, 2u);  // the third's date, and the "2" the fourth's date was cut to
    EXPECT_EQ(d.records, 4u);
    EXPECT_EQ(d.values, 4u * 4 - 1 - 1 - 3);  // the fourth keeps its name only
    const QString copy = tmp.path() + "/Damaged/" + today();
    EXPECT_EQ(QString::fromStdString(d.copyDir), copy);
    EXPECT_EQ(bytes(copy + "/T.DBF"), dbf);
    EXPECT_EQ(bytes(copy + "/T.DBT"), dbt);
    EXPECT_EQ(bytes(copy + "/T.MDX"), mdx);

    EXPECT_EQ(openTableResult(dir(), "T.DBF", "DBASE", false), 0);
    {
        auto t = openTable(dir(), "T.DBF");
        ASSERT_EQ(t->recordCount(), 4u);
        EXPECT_EQ(t->value(1, 3).toString(), QStringLiteral("mémo 1"));
        EXPECT_TRUE(t->value(2, 3).isNull());
        EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom4")), 4u);
    }
    // Sound now: nothing found, no second copy.
    EXPECT_FALSE(repairTable(dir(), "T.DBF").damaged());
    EXPECT_FALSE(QDir(copy + "-2").exists());

    // An index that missed a record: rebuilt with its tags, copied first.
    DbfTable::open(dir() + "/T.DBF", {.exclusive = true, .forRepair = true})->append({QStringLiteral("oublié")});
    ASSERT_EQ(openTableResult(dir(), "T.DBF", "DBASE", false), DBERR_INDEXOUTOFDATE);
    const DamageReport stale = repairTable(dir(), "T.DBF", true);
    EXPECT_TRUE(stale.staleIndex);
    EXPECT_FALSE(stale.indexTagsLost);
    EXPECT_EQ(QString::fromStdString(stale.copyDir), copy + "-2");
    EXPECT_EQ(openTableResult(dir(), "T.DBF", "DBASE", false), 0);
    EXPECT_EQ(openTable(dir(), "T.DBF")->findKey("NOM", QStringLiteral("oublié")), 5u);
}

TEST_F(EngineDamageTest, ARestructureThatCutsValuesKeepsACopyAndCountsThem)
{
    TableDesc req;
    req.tableName = "T.DBF";
    req.tableType = "DBASE";
    FieldDesc nom;
    nom.name = "NOM";
    nom.type = fldZSTRING;
    nom.units1 = 3;
    nom.fieldNum = 1;
    nom.restructOp = crMODIFY;
    req.fields = {nom};
    const QByteArray before = bytes(file("T.DBF"));
    DamageReport d;
    ASSERT_EQ(restructureTable(dir(), req, &d), 0);
    EXPECT_EQ(d.valuesCut, 4u);
    EXPECT_EQ(d.records, 4u);
    EXPECT_EQ(bytes(QString::fromStdString(d.copyDir) + "/T.DBF"), before);
    auto t = openTable(dir(), "T.DBF");
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("nom"));
    EXPECT_EQ(t->value(2, 1).toDate(), QDate(2020, 2, 2));

    // Widened again: nothing cut, no report, no copy.
    t.reset();
    nom.units1 = 12;
    req.fields = {nom};
    DamageReport none;
    ASSERT_EQ(restructureTable(dir(), req, &none), 0);
    EXPECT_FALSE(none.damaged());
    EXPECT_TRUE(none.copyDir.empty());
}

// The memo file's next-free block beyond its end, and memo pointers beyond
// it: the check says both, sets the block to the end of the file, blanks the
// pointers, and the memos written afterwards go to the end of the file.
TEST_F(EngineDamageTest, AMemoFileNextFreeBlockThatCannotBeIsReportedAndSetToTheEnd)
{
    patch(3, 25, "    123456");  // beyond the memo file
    QFile m(file("T.DBT"));
    ASSERT_TRUE(m.open(QIODevice::ReadWrite));
    m.write("\xFF\xFF\xFF\xFF", 4);
    m.close();
    const qint64 blocks = QFileInfo(file("T.DBT")).size() / 512;

    const DamageReport d = repairTable(dir(), "T.DBF");
    EXPECT_EQ(d.error, 0);
    EXPECT_TRUE(d.badMemoNextFree);
    EXPECT_EQ(d.memoNextFree, 0xFFFFFFFFu);
    EXPECT_EQ(d.badMemoPointers, 1u);
    EXPECT_EQ(bytes(QString::fromStdString(d.copyDir) + "/T.DBT").left(4), QByteArray("\xFF\xFF\xFF\xFF", 4));
    const QByteArray head = bytes(file("T.DBT")).left(4);
    EXPECT_EQ(head, QByteArray::fromRawData(reinterpret_cast<const char*>(&blocks), 4));
    EXPECT_FALSE(repairTable(dir(), "T.DBF").damaged());
    auto t = openTable(dir(), "T.DBF");
    t->update(3, {QStringLiteral("nom3"), QDate(2020, 2, 3), 30, QStringLiteral("mémo neuf")});
    EXPECT_EQ(t->value(3, 3).toString(), QStringLiteral("mémo neuf"));
    EXPECT_EQ(t->value(4, 3).toString(), QStringLiteral("mémo 4"));
}

// A memo file of 1024-byte blocks whose header lost its block size: the
// check finds the size at which the records find their memos, writes the
// header anew with it and keeps a copy; every memo reads as before. One of
// zeros saves nothing: said so, made anew, the pointers blanked.
TEST_F(EngineDamageTest, AMemoHeaderWithoutABlockSizeIsRebuiltFromWhatTheRecordsFind)
{
    {
        DbtFile m = DbtFile::create(dir() + "/T.DBT", "T", 1024);
        for (int i = 1; i <= 4; ++i)
            ASSERT_EQ(m.append(QStringLiteral("mémo %1").arg(i).toLatin1().toStdString()), uint32_t(i));
    }
    EXPECT_EQ(openTable(dir(), "T.DBF")->value(3, 3).toString(), QStringLiteral("mémo 3"));
    QByteArray damaged = bytes(file("T.DBT"));
    damaged[20] = damaged[21] = 0;
    {
        QFile m(file("T.DBT"));
        ASSERT_TRUE(m.open(QIODevice::WriteOnly));
        m.write(damaged);
    }
    EXPECT_EQ(DbfTable::probe(dir() + "/T.DBF", false), DBERR_MEMOCORRUPT);

    DamageReport d = repairTable(dir(), "T.DBF");
    EXPECT_EQ(d.error, 0);
    EXPECT_EQ(d.memoHeaderDamage, "taille de bloc impossible (0)");
    EXPECT_FALSE(d.memoFileLost);
    EXPECT_EQ(d.badMemoPointers, 0u);
    EXPECT_EQ(bytes(QString::fromStdString(d.copyDir) + "/T.DBT"), damaged);
    const QByteArray rebuilt = bytes(file("T.DBT"));
    EXPECT_EQ(rebuilt.mid(20, 2), QByteArray("\x00\x04", 2));
    EXPECT_EQ(rebuilt.mid(1024), damaged.mid(1024));
    EXPECT_FALSE(repairTable(dir(), "T.DBF").damaged());
    {
        auto t = openTable(dir(), "T.DBF");
        for (uint32_t r = 1; r <= 4; ++r)
            EXPECT_EQ(t->value(r, 3).toString(), QStringLiteral("mémo %1").arg(r));
        t->update(2, {QStringLiteral("nom2"), QDate(2020, 2, 2), 20, QStringLiteral("mémo neuf")});
        EXPECT_EQ(t->value(2, 3).toString(), QStringLiteral("mémo neuf"));
    }

    const QByteArray zeros(bytes(file("T.DBT")).size(), '\0');
    {
        QFile m(file("T.DBT"));
        ASSERT_TRUE(m.open(QIODevice::WriteOnly));
        m.write(zeros);
    }
    d = repairTable(dir(), "T.DBF");
    EXPECT_EQ(d.error, 0);
    EXPECT_FALSE(d.memoHeaderDamage.empty());
    EXPECT_TRUE(d.memoFileLost);
    EXPECT_EQ(d.badMemoPointers, 4u);
    EXPECT_EQ(bytes(QString::fromStdString(d.copyDir) + "/T.DBT"), zeros);
    EXPECT_EQ(QFileInfo(file("T.DBT")).size(), 512);
    auto t = openTable(dir(), "T.DBF");
    EXPECT_EQ(t->value(1, 3).toString(), QString());
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("nom1"));
}

// Copies of the damaged files stay within their bound: the last five of
// each table; the copies of another table are not touched.
TEST_F(EngineDamageTest, TheCopiesOfATableStayWithinTheirBoundAndTheLogsTooBound)
{
    const std::string other = dir() + "/U.DBF";
    DbfTable::create(other, {{"NOM", 'C', 10, 0, false}}, {});
    keepDamagedCopy(other);
    std::vector<std::string> copies;
    for (int i = 0; i < 8; ++i)
        copies.push_back(keepDamagedCopy(dir() + "/T.DBF"));
    keepDamagedCopy(other);
    const QString day = tmp.path() + "/Damaged/" + today();
    EXPECT_EQ(QString::fromStdString(copies[0]), day);
    EXPECT_EQ(QString::fromStdString(copies[7]), day + "-8");
    QStringList kept = QDir(tmp.path() + "/Damaged").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    kept.sort();
    // the folders emptied go; the first keeps the other table's first copy
    EXPECT_EQ(kept,
        (QStringList{today(), today() + "-4", today() + "-5", today() + "-6", today() + "-7", today() + "-8"}));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(QFile::exists(QString::fromStdString(copies[i]) + "/T.DBF"), i >= 3) << i;
    EXPECT_TRUE(QFile::exists(day + "/U.DBF"));
    EXPECT_TRUE(QFile::exists(day + "-8/U.DBF"));  // the last folder of the day did not hold it

    // The log keeps its newest lines under its bound.
    const std::string line(200, 'x');
    for (int i = 0; i < 6000; ++i)
        ASSERT_TRUE(logDamage(dir() + "/T.DBF", line + " " + std::to_string(i)));
    EXPECT_LE(QFileInfo(QString::fromStdString(damageLogPath(dir()))).size(), kDamageLogMaxBytes);
    const std::vector<std::string> shown = takeDamageLog(dir());
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown.back().ends_with(" 5999")) << shown.back();
    EXPECT_NE(shown.front().find("T.DBF : " + line), std::string::npos) << shown.front();
    for (int i = 0; i < 6000; ++i)
        logDamage(dir() + "/T.DBF", line);
    takeDamageLog(dir());
    EXPECT_LE(QFileInfo(tmp.path() + "/Damaged/repairs-shown.log").size(), kDamageLogMaxBytes);
}

}  // namespace
