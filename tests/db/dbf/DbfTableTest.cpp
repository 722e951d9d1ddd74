// Reading and writing dBASE tables and memo files.
#include <gtest/gtest.h>

#include <QDate>
#include <QTemporaryDir>

#include "platform/db/core/File.h"
#include "TestTables.h"
#include "tests/db/DbTestUtil.h"

using namespace kdb;
using kdbtest::codeOf;
using kdbtest::sampleFields;

namespace {

class DbfTableTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    std::string readBytes(const std::string& p)
    {
        QFile f(QString::fromStdString(p));
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }
};

TEST_F(DbfTableTest, RoundTripOfEveryColumnKind)
{
    const std::string p = path("T.DBF");
    DbfTable::create(p, sampleFields(true), {});
    {
        auto t = DbfTable::open(p);
        EXPECT_EQ(t->append({QStringLiteral("Hélène"), QDate(1960, 10, 7), 42, 12.5, true,
                      QStringLiteral("ligne 1\r\nligne 2 é")}),
            1u);
        EXPECT_EQ(t->append({QStringLiteral("  espaces  "), QVariant(), -32768, -0.25, false, QVariant()}), 2u);
        EXPECT_EQ(t->append({}), 3u);
        t->flush();
    }
    auto t = DbfTable::open(p);
    ASSERT_EQ(t->recordCount(), 3u);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("Hélène"));
    EXPECT_EQ(t->value(1, 1).toDate(), QDate(1960, 10, 7));
    EXPECT_EQ(t->value(1, 2), QVariant(42));
    EXPECT_DOUBLE_EQ(t->value(1, 3).toDouble(), 12.5);
    EXPECT_EQ(t->value(1, 4), QVariant(true));
    EXPECT_EQ(t->value(1, 5).toString(), QStringLiteral("ligne 1\r\nligne 2 é"));
    EXPECT_EQ(t->value(2, 0).toString(), QStringLiteral("  espaces"));  // leading blanks kept
    EXPECT_TRUE(t->value(2, 1).isNull());
    EXPECT_EQ(t->value(2, 2).toInt(), -32768);
    EXPECT_DOUBLE_EQ(t->value(2, 3).toDouble(), -0.25);
    EXPECT_EQ(t->value(2, 4), QVariant(false));
    EXPECT_TRUE(t->value(2, 5).isNull());
    for (int f = 0; f < t->fieldCount(); ++f)
        EXPECT_TRUE(t->value(3, f).isNull()) << f;
    EXPECT_EQ(t->rawField(1, 2), "    42");
    EXPECT_EQ(t->rawField(1, 3), "   12.50");
}

TEST_F(DbfTableTest, HeaderIsLevelFourWithLanguageDriverAndInt16Marker)
{
    const std::string p = path("H.DBF");
    DbfTable::create(p, sampleFields(true), {});
    std::string b = readBytes(p);
    ASSERT_GE(b.size(), 32u + 6 * 32 + 2);
    EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x8B);
    EXPECT_EQ(static_cast<unsigned char>(b[29]), 0x57);
    EXPECT_EQ(b[32 + 6 * 32], '\x0D');
    EXPECT_EQ(b.back(), '\x1A');
    DbfTable::create(p, sampleFields(false), {});
    b = readBytes(p);
    EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x03);
    EXPECT_FALSE(fileExists(path("H.DBT")));  // overwritten without memo
    auto t = DbfTable::open(p);
    EXPECT_EQ(t->fields()[2].type, fldINT16);
    EXPECT_EQ(t->fields()[3].type, fldFLOAT);
    EXPECT_EQ(t->fieldIndex("prix"), 3);
    EXPECT_EQ(t->fieldIndex("absent"), -1);
}

TEST_F(DbfTableTest, LongTextIsCutToTheColumnWidth)
{
    const std::string p = path("C.DBF");
    DbfTable::create(p, {{"CODE", 'C', 3, 0, false}}, {});
    auto t = DbfTable::open(p);
    t->append({QStringLiteral("ABCDEFG")});
    t->update(1, {QStringLiteral("éèàù")});
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("éèà"));
}

TEST_F(DbfTableTest, BadValuesAreRefusedWithoutChangingTheTable)
{
    const std::string p = path("V.DBF");
    DbfTable::create(p, sampleFields(false), {});
    auto t = DbfTable::open(p);
    t->append({QStringLiteral("x"), QDate(2020, 1, 2), 1, 1.0, true});
    EXPECT_THROW(t->append({QStringLiteral("y"), QStringLiteral("pas une date")}), EDBEngineError);
    EXPECT_THROW(t->append({QStringLiteral("y"), QVariant(), 40000}), EDBEngineError);  // beyond 16 bits
    EXPECT_THROW(t->append({QStringLiteral("y"), QVariant(), 1, 123456789.0}), EDBEngineError);  // too wide
    EXPECT_THROW(t->append({QStringLiteral("y"), QVariant(), QStringLiteral("douze")}), EDBEngineError);
    EXPECT_THROW(t->update(1, {QStringLiteral("y"), QVariant(), 1, 1.0, QStringLiteral("peut-être")}), EDBEngineError);
    EXPECT_EQ(t->recordCount(), 1u);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("x"));
    EXPECT_THROW(t->value(2, 0), EDBEngineError);
    EXPECT_THROW(t->value(0, 0), EDBEngineError);
    EXPECT_THROW(t->value(1, 9), EDBEngineError);
    // Lenient conversions.
    t->append({42, QStringLiteral("2021-03-04"), QStringLiteral(" 12 "), QStringLiteral("3,5"), QStringLiteral("O")});
    EXPECT_EQ(t->value(2, 0).toString(), QStringLiteral("42"));
    EXPECT_EQ(t->value(2, 1).toDate(), QDate(2021, 3, 4));
    EXPECT_EQ(t->value(2, 2).toInt(), 12);
    EXPECT_DOUBLE_EQ(t->value(2, 3).toDouble(), 3.5);
    EXPECT_EQ(t->value(2, 4), QVariant(true));
}

TEST_F(DbfTableTest, DeleteUndeleteAndUpdateKeepUnchangedMemo)
{
    const std::string p = path("M.DBF");
    DbfTable::create(p, sampleFields(true), {});
    auto t = DbfTable::open(p);
    const QString big(3000, QLatin1Char('x'));
    t->append({QStringLiteral("a"), QVariant(), 1, 1.0, true, big});
    t->append({QStringLiteral("b"), QVariant(), 2, 2.0, true, QStringLiteral("court")});
    const auto sizeBefore = QFile(QString::fromStdString(path("M.DBT"))).size();
    auto rec = t->record(1);
    rec[0] = QStringLiteral("a2");
    t->update(1, rec);  // memo unchanged: no new memo blocks
    EXPECT_EQ(QFile(QString::fromStdString(path("M.DBT"))).size(), sizeBefore);
    rec[5] = QStringLiteral("nouveau");
    t->update(1, rec);
    EXPECT_EQ(t->value(1, 5).toString(), QStringLiteral("nouveau"));
    EXPECT_EQ(t->value(2, 5).toString(), QStringLiteral("court"));
    EXPECT_FALSE(t->isDeleted(2));
    t->deleteRecord(2);
    EXPECT_TRUE(t->isDeleted(2));
    t->undeleteRecord(2);
    EXPECT_FALSE(t->isDeleted(2));
    // The memo file stays a whole number of blocks.
    EXPECT_EQ(QFile(QString::fromStdString(path("M.DBT"))).size() % 512, 0);
}

TEST_F(DbfTableTest, PackRemovesDeletedRecordsAndKeepsMemos)
{
    const std::string p = path("P.DBF");
    DbfTable::create(p, sampleFields(true), {});
    {
        auto t = DbfTable::open(p);
        for (int i = 0; i < 10; ++i)
            t->append({QStringLiteral("n%1").arg(i), QVariant(), i, 0.0, true, QStringLiteral("memo %1").arg(i)});
        for (uint32_t r : {1u, 4u, 10u})
            t->deleteRecord(r);
        EXPECT_THROW(t->pack(), EDBEngineError);  // not exclusive
    }
    auto t = DbfTable::open(p, kdbtest::kExclusive);
    t->pack();
    ASSERT_EQ(t->recordCount(), 7u);
    QStringList names;
    for (uint32_t r = 1; r <= 7; ++r) {
        names << t->value(r, 0).toString();
        EXPECT_EQ(t->value(r, 5).toString(), QStringLiteral("memo ") + t->value(r, 0).toString().mid(1));
    }
    EXPECT_EQ(names.join(QLatin1Char(',')), QStringLiteral("n1,n2,n4,n5,n6,n7,n8"));
    t.reset();
    EXPECT_EQ(DbfTable::open(p)->recordCount(), 7u);
}

TEST_F(DbfTableTest, ExclusiveOpenConflicts)
{
    const std::string p = path("X.DBF");
    DbfTable::create(p, sampleFields(false), {});
    {
        auto shared = DbfTable::open(p);
        EXPECT_EQ(codeOf([&] { DbfTable::open(p, kdbtest::kExclusive); }), DBERR_FILELOCKED);
        EXPECT_NO_THROW(DbfTable::open(p));
    }
    auto excl = DbfTable::open(p, kdbtest::kExclusive);
    EXPECT_EQ(codeOf([&] { DbfTable::open(p); }), DBERR_FILELOCKED);
    EXPECT_THROW(DbfTable::create(p, sampleFields(false), {}), EDBEngineError);
}

TEST_F(DbfTableTest, RecordAndTableLocksBetweenTwoOpenings)
{
    const std::string p = path("L.DBF");
    DbfTable::create(p, sampleFields(false), {});
    auto a = DbfTable::open(p);
    auto b = DbfTable::open(p);
    a->append({QStringLiteral("un")});
    b->refresh();
    ASSERT_EQ(b->recordCount(), 1u);
    ASSERT_TRUE(a->lockRecord(1));
    EXPECT_FALSE(b->lockRecord(1));
    EXPECT_EQ(codeOf([&] { b->update(1, {QStringLiteral("deux")}); }), DBERR_LOCKED);
    a->update(1, {QStringLiteral("trois")});
    a->unlockRecord(1);
    EXPECT_TRUE(b->lockRecord(1));
    EXPECT_EQ(b->value(1, 0).toString(), QStringLiteral("trois"));
    b->unlockRecord(1);
    ASSERT_TRUE(a->lockTable());
    EXPECT_FALSE(b->lockTable());
    // Others still read while the table is locked, but change nothing.
    EXPECT_EQ(b->value(1, 0).toString(), QStringLiteral("trois"));
    DbfTable::setLockTimeout(50);
    EXPECT_EQ(codeOf([&] { b->append({QStringLiteral("refusé")}); }), DBERR_LOCKED);
    EXPECT_THROW(b->deleteRecord(1), EDBEngineError);
    DbfTable::setLockTimeout(15000);
    a->append({QStringLiteral("quatre")});  // the holder writes
    a->unlockTable();
    EXPECT_TRUE(b->lockTable());
    b->append({QStringLiteral("cinq")});
    b->unlockTable();
    a->refresh();
    EXPECT_EQ(a->recordCount(), 3u);
}

TEST_F(DbfTableTest, ReadsOldMemoLayoutAndLevelSeven)
{
    // An old-layout memo table written by hand: header 0x83, memo at block 1.
    const std::string p = path("OLD.DBF");
    std::string h(32 + 32 + 1, '\0');
    h[0] = '\x83';
    h[4] = 1;
    h[8] = static_cast<char>(h.size());
    h[10] = 11;
    std::memcpy(&h[32], "TXT", 3);
    h[32 + 11] = 'M';
    h[32 + 16] = 10;
    h[64] = '\x0D';
    std::string rec = " " + std::string("         1") + "\x1A";
    {
        File f = File::open(p, File::Mode::Create);
        f.writeAt(0, h.data(), h.size());
        f.writeAt(h.size(), rec.data(), rec.size());
        File m = File::open(path("OLD.DBT"), File::Mode::Create);
        std::string block0(512, '\0');
        block0[0] = 2;
        m.writeAt(0, block0.data(), 512);
        const std::string text = "ancien texte \xE9\x1A\x1A";
        m.writeAt(512, text.data(), text.size());
    }
    auto t = DbfTable::open(p);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("ancien texte é"));
    t->update(1, {QStringLiteral("réécrit")});
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("réécrit"));
    t.reset();
    EXPECT_EQ(DbfTable::open(p)->value(1, 0).toString(), QStringLiteral("réécrit"));

    // Level 7: 68-byte header, 48-byte descriptors, an I column.
    const std::string p7 = path("L7.DBF");
    std::string h7(68 + 2 * 48 + 1, '\0');
    h7[0] = 0x04;
    h7[4] = 1;
    h7[8] = static_cast<char>(h7.size() & 0xFF);
    h7[9] = static_cast<char>(h7.size() >> 8);
    h7[10] = 1 + 5 + 4;
    std::memcpy(&h7[68], "NOM_LONG_DE_CHAMP", 17);
    h7[68 + 32] = 'C';
    h7[68 + 33] = 5;
    std::memcpy(&h7[68 + 48], "N", 1);
    h7[68 + 48 + 32] = 'I';
    h7[68 + 48 + 33] = 4;
    h7[68 + 96] = '\x0D';
    const std::string r7 = std::string(" abc  ") + std::string("\x80\x00\x00\x07", 4) + "\x1A";
    {
        File f = File::open(p7, File::Mode::Create);
        f.writeAt(0, h7.data(), h7.size());
        f.writeAt(h7.size(), r7.data(), r7.size());
    }
    auto t7 = DbfTable::open(p7);
    EXPECT_EQ(t7->fields()[0].name, "NOM_LONG_DE_CHAMP");
    EXPECT_EQ(t7->value(1, 0).toString(), QStringLiteral("abc"));
    EXPECT_EQ(t7->value(1, 1).toInt(), 7);
    EXPECT_EQ(t7->fields()[1].type, fldINT32);
}

TEST_F(DbfTableTest, CreateRefusesBadStructures)
{
    const std::string p = path("B.DBF");
    EXPECT_THROW(DbfTable::create(p, {}, {}), EDBEngineError);
    EXPECT_THROW(DbfTable::create(p, {{"NOM_TROP_LONG", 'C', 5, 0, false}}, {}), EDBEngineError);
    EXPECT_THROW(DbfTable::create(p, {{"A", 'C', 300, 0, false}}, {}), EDBEngineError);
    EXPECT_THROW(DbfTable::create(p, {{"A", 'C', 3, 0, false}, {"a", 'C', 3, 0, false}}, {}), EDBEngineError);
    EXPECT_THROW(DbfTable::create(p, {{"A", 'X', 3, 0, false}}, {}), EDBEngineError);
    EXPECT_THROW(DbfTable::create(p, {{"A", 'C', 3, 0, false}}, {{"T", "ABSENT", 'C', false, false}}), EDBEngineError);
    EXPECT_FALSE(fileExists(p));
}

}  // namespace
