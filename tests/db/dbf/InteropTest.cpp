// Tables written by the engine read by two independent Python readers, and
// a table written by one of them read by the engine.
#include <gtest/gtest.h>

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "TestTables.h"

using namespace kdb;

namespace {

QJsonObject dump(const char* script, const std::string& path)
{
    bool ok = false;
    const QByteArray out = kdbtest::runScript(script, {QString::fromStdString(path)}, ok);
    EXPECT_TRUE(ok) << script;
    return QJsonDocument::fromJson(out).object();
}

class InteropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kdbtest::pythonPath().empty())
            GTEST_SKIP() << "python3 missing";
    }
    QTemporaryDir dir;
    std::string path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    // Writes the engine's sample table and answers the expected rows.
    std::string writeSample(bool memo)
    {
        const std::string p = path(memo ? "MEMO.DBF" : "PLAIN.DBF");
        DbfTable::create(p, kdbtest::sampleFields(memo), {});
        auto t = DbfTable::open(p);
        std::vector<QVariant> r1 = {QStringLiteral("Hélène Œuvre"), QDate(1960, 10, 7), 42, -12.5, true};
        std::vector<QVariant> r2 = {QStringLiteral("Zoé"), QVariant(), QVariant(), 0.25, false};
        std::vector<QVariant> r3 = {QStringLiteral("supprimé"), QDate(2001, 1, 2), 7, 1.0, QVariant()};
        if (memo) {
            r1.push_back(QStringLiteral("Première ligne\r\nsuite é"));
            r2.push_back(QVariant());
            r3.push_back(QStringLiteral("x"));
        }
        t->append(r1);
        t->append(r2);
        t->append(r3);
        t->deleteRecord(3);
        t->flush();
        return p;
    }

    void checkSample(const QJsonObject& o, bool memo)
    {
        const QJsonArray fields = o.value(QStringLiteral("fields")).toArray();
        ASSERT_EQ(fields.size(), memo ? 6 : 5);
        EXPECT_EQ(fields[0].toArray()[0].toString(), QStringLiteral("NOM"));
        EXPECT_EQ(fields[0].toArray()[2].toInt(), 20);
        EXPECT_EQ(fields[2].toArray()[1].toString(), QStringLiteral("N"));
        EXPECT_EQ(fields[2].toArray()[2].toInt(), 6);
        EXPECT_EQ(fields[3].toArray()[3].toInt(), 2);
        const QJsonArray recs = o.value(QStringLiteral("records")).toArray();
        ASSERT_EQ(recs.size(), 2);  // the deleted record is not shown
        const QJsonArray a = recs[0].toArray();
        EXPECT_EQ(a[0].toString(), QStringLiteral("Hélène Œuvre"));
        EXPECT_EQ(a[1].toString(), QStringLiteral("1960-10-07"));
        EXPECT_EQ(a[2].toInt(), 42);
        EXPECT_DOUBLE_EQ(a[3].toDouble(), -12.5);
        EXPECT_EQ(a[4].toBool(), true);
        if (memo) {
            EXPECT_EQ(a[5].toString(), QStringLiteral("Première ligne\r\nsuite é"));
        }
        const QJsonArray b = recs[1].toArray();
        EXPECT_EQ(b[0].toString(), QStringLiteral("Zoé"));
        EXPECT_TRUE(b[1].isNull());
        EXPECT_TRUE(b[2].isNull());
        EXPECT_DOUBLE_EQ(b[3].toDouble(), 0.25);
        EXPECT_EQ(b[4].toBool(), false);
    }
};

TEST_F(InteropTest, EngineTablesReadByDbfread)
{
    if (!kdbtest::pythonModuleAvailable("dbfread"))
        GTEST_SKIP() << "dbfread missing";
    checkSample(dump("dump_dbfread.py", writeSample(false)), false);
    checkSample(dump("dump_dbfread.py", writeSample(true)), true);
}

TEST_F(InteropTest, EngineTableReadByDbfModule)
{
    if (!kdbtest::pythonModuleAvailable("dbf"))
        GTEST_SKIP() << "dbf module missing";
    // That module reads tables without memo in this level (its memo support
    // covers only the older memo layout).
    checkSample(dump("dump_dbf.py", writeSample(false)), false);
}

TEST_F(InteropTest, TableWrittenByDbfModuleReadByEngine)
{
    if (!kdbtest::pythonModuleAvailable("dbf"))
        GTEST_SKIP() << "dbf module missing";
    const std::string p = path("W.DBF");
    bool ok = false;
    kdbtest::runScript("write_dbf.py", {QString::fromStdString(p)}, ok);
    ASSERT_TRUE(ok);
    auto t = DbfTable::open(p);
    ASSERT_EQ(t->recordCount(), 3u);
    EXPECT_EQ(t->fields()[5].subType, fldstMEMO);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("Hélène Müller"));
    EXPECT_EQ(t->value(1, 1).toDate(), QDate(1960, 10, 7));
    EXPECT_EQ(t->value(1, 2).toInt(), 42);
    EXPECT_DOUBLE_EQ(t->value(1, 3).toDouble(), -12.5);
    EXPECT_EQ(t->value(1, 4), QVariant(true));
    EXPECT_EQ(t->value(1, 5).toString(), QStringLiteral("Première ligne\r\nsuite é"));
    EXPECT_TRUE(t->value(2, 1).isNull());
    EXPECT_TRUE(t->value(2, 2).isNull());
    EXPECT_EQ(t->value(2, 4), QVariant(false));
    EXPECT_TRUE(t->isDeleted(3));
    EXPECT_FALSE(t->isDeleted(1));
    // The engine writes into it and the other reader still reads it.
    t->update(2, {QStringLiteral("Zoé modifiée"), QDate(2000, 2, 29), 5, 1.5, true, QStringLiteral("mémo ajouté")});
    t->append({QStringLiteral("Nouveau"), QDate(1999, 12, 31), 1, 2.0, false, QStringLiteral("fin")});
    t.reset();
    if (!kdbtest::pythonModuleAvailable("dbfread"))
        return;
    const QJsonArray recs = dump("dump_dbfread.py", p).value(QStringLiteral("records")).toArray();
    ASSERT_EQ(recs.size(), 3);
    EXPECT_EQ(recs[1].toArray()[0].toString(), QStringLiteral("Zoé modifiée"));
    EXPECT_EQ(recs[1].toArray()[5].toString(), QStringLiteral("mémo ajouté"));
    EXPECT_EQ(recs[2].toArray()[1].toString(), QStringLiteral("1999-12-31"));
    EXPECT_EQ(recs[2].toArray()[5].toString(), QStringLiteral("fin"));
}

TEST_F(InteropTest, IndexedTableReadAlikeByEngineAndBothReaders)
{
    if (!kdbtest::pythonModuleAvailable("dbf") || !kdbtest::pythonModuleAvailable("dbfread"))
        GTEST_SKIP() << "python modules missing";
    const std::string p = path("IDX.DBF");
    DbfTable::create(
        p, kdbtest::sampleFields(false), {{"NOM", "NOM", 'C', false, false}, {"NB", "NB", 'N', true, false}});
    auto t = DbfTable::open(p);
    for (int i = 0; i < 200; ++i)
        t->append(
            {QStringLiteral("Nom n°%1").arg(i * 7 % 200), QDate(1950, 1, 1).addDays(i * 91), i, i * 1.25, i % 3 == 0});
    for (uint32_t r = 5; r <= 200; r += 17)
        t->deleteRecord(r);
    t->flush();
    const QJsonArray a = dump("dump_dbf.py", p).value(QStringLiteral("records")).toArray();
    const QJsonArray b = dump("dump_dbfread.py", p).value(QStringLiteral("records")).toArray();
    EXPECT_EQ(a, b);
    int k = 0;
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        if (t->isDeleted(r))
            continue;
        ASSERT_LT(k, b.size());
        const QJsonArray row = b[k++].toArray();
        EXPECT_EQ(row[0].toString(), t->value(r, 0).toString());
        EXPECT_EQ(row[1].toString(), t->value(r, 1).toDate().toString(Qt::ISODate));
        EXPECT_EQ(row[2].toInt(), t->value(r, 2).toInt());
        EXPECT_DOUBLE_EQ(row[3].toDouble(), t->value(r, 3).toDouble());
        EXPECT_EQ(row[4].toBool(), t->value(r, 4).toBool());
    }
    EXPECT_EQ(k, b.size());
}

}  // namespace
