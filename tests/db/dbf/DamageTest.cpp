// Damaged values and files: writes keep the stored bytes of what they do not
// change, a bad memo pointer reads as empty, a survey finds the damage and a
// repair mends it; leftovers of a killed rewrite go at the exclusive open.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/db/core/File.h"
#include "platform/db/mdx/MdxFile.h"
#include "TestTables.h"

using namespace kdb;
using kdbtest::sampleFields;

namespace {

// sampleFields(true): NOM C20, DN D8, NB N6 (16-bit), PRIX N8.2, OK L1, NOTE M10.
constexpr int kHeader = 32 + 6 * 32 + 1;
constexpr int kRecLen = 1 + 20 + 8 + 6 + 8 + 1 + 10;
constexpr int kOffDn = 21, kOffNb = 29, kOffPrix = 35, kOffNote = 44;
// sampleFields(false): the same without NOTE.
constexpr int kHeaderNoMemo = kHeader - 32;
constexpr int kRecLenNoMemo = kRecLen - 10;

class DamageTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string p = dir.path().toStdString() + "/D.DBF";

    std::string bytes() const
    {
        QFile f(QString::fromStdString(p));
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }
    void patch(uint32_t recNo, int offset, const std::string& b) const
    {
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(kHeader + qint64(recNo - 1) * kRecLen + offset);
        f.write(b.data(), static_cast<qint64>(b.size()));
    }
    // The file's bytes replaced, in place (the same file).
    void rewrite(const std::string& b) const
    {
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(b.data(), static_cast<qint64>(b.size()));
    }
    std::string record(uint32_t recNo) const { return bytes().substr(kHeader + (recNo - 1) * kRecLen, kRecLen); }
    // Three records; the second holds a date, two numbers and a memo pointer
    // that do not read.
    void makeDamaged()
    {
        DbfTable::create(p, sampleFields(true), {{"NOM", "NOM", 'C', false, false}});
        {
            auto t = DbfTable::open(p);
            for (int i = 1; i <= 3; ++i)
                t->append({QStringLiteral("nom%1").arg(i), QDate(2020, 1, i), i, i * 1.5, true,
                    QStringLiteral("mémo %1").arg(i)});
        }
        patch(2, kOffDn, "20231399");
        patch(2, kOffNb, " 1.2.3");
        patch(2, kOffPrix, "********");
        patch(2, kOffNote, "     99999");
    }
    static TableOpenMode exclusive(bool forRepair = false) { return {.exclusive = true, .forRepair = forRepair}; }
};

TEST_F(DamageTest, WritesKeepTheStoredBytesOfWhatTheyDoNotChange)
{
    makeDamaged();
    auto t = DbfTable::open(p);
    // The record reads (a bad memo as empty) and its list does not fail.
    EXPECT_TRUE(t->value(2, 1).isNull());
    EXPECT_TRUE(t->value(2, 3).isNull());
    EXPECT_TRUE(t->value(2, 5).isNull());
    EXPECT_EQ(t->value(3, 5).toString(), QStringLiteral("mémo 3"));
    const std::string before = record(2);

    // One field assigned: every other field keeps its bytes.
    t->updateFields(2, {{0, QStringLiteral("Dupont")}});
    std::string after = record(2);
    EXPECT_EQ(after.substr(1, 20), std::string("Dupont") + std::string(14, ' '));
    EXPECT_EQ(after.substr(21), before.substr(21));

    // The whole record handed back as read: the values that do not read stay.
    auto rec = t->record(2);
    rec[0] = QStringLiteral("Durand");
    t->update(2, rec);
    after = record(2);
    EXPECT_EQ(after.substr(21), before.substr(21));
    EXPECT_EQ(t->value(2, 0).toString(), QStringLiteral("Durand"));
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("Durand")), 2u);

    // Assigned fields are written, the memo behind a bad pointer included.
    t->updateFields(2, {{1, QDate(2023, 12, 13)}, {5, QStringLiteral("réparé")}});
    EXPECT_EQ(t->value(2, 1).toDate(), QDate(2023, 12, 13));
    EXPECT_EQ(t->value(2, 5).toString(), QStringLiteral("réparé"));
    EXPECT_EQ(record(2).substr(kOffNb, 14), before.substr(kOffNb, 14));
    EXPECT_THROW(t->updateFields(2, {{9, 1}}), EDBEngineError);
}

TEST_F(DamageTest, RestructureCopiesUnchangedColumnsAsStoredAndCountsCutValues)
{
    makeDamaged();
    patch(1, 1, "un nom bien plus long");
    auto t = DbfTable::open(p, exclusive());
    const std::string before = record(2);
    // NOM narrowed to 5, DN, NB, PRIX, OK and NOTE unchanged, a new column.
    std::vector<DbfTable::FieldSpec> f = sampleFields(true);
    f[0].width = 5;
    f.push_back({"EXTRA", 'C', 4, 0, false});
    std::string seen;
    const uint32_t cut = t->restructure(f, {0, 1, 2, 3, 4, 5, -1}, {}, false, [&](uint32_t n) {
        seen = bytes();  // still the old file
        EXPECT_EQ(n, 1u);
    });
    EXPECT_EQ(cut, 1u);  // "un nom bien plus long" (the others fit)
    EXPECT_EQ(seen.substr(kHeader + 1, 21), "un nom bien plus long");
    // The new record: flag, NOM(5), then the unchanged columns as stored.
    const int newHeader = 32 + 7 * 32 + 1, newLen = kRecLen - 15 + 4;
    const std::string rec2 = bytes().substr(newHeader + newLen, newLen);
    EXPECT_EQ(rec2.substr(6, 33), before.substr(21, 33));
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("un no"));
    EXPECT_EQ(t->value(3, 5).toString(), QStringLiteral("mémo 3"));
}

TEST_F(DamageTest, SurveyAndRepairOfATruncatedTableWithBadValues)
{
    makeDamaged();
    {
        // Two records appended later, the file then cut inside the fourth.
        auto t = DbfTable::open(p);
        t->append({QStringLiteral("nom4"), QDate(2021, 4, 4), 4, 4.0, false, QVariant()});
        t->append({QStringLiteral("nom5"), QDate(2021, 5, 5), 5, 5.0, false, QVariant()});
    }
    ASSERT_TRUE(QFile::resize(QString::fromStdString(p), kHeader + 3 * kRecLen + 25));
    // Fewer records than counted: refused until repaired.
    EXPECT_THROW(DbfTable::open(p), EDBEngineError);
    {
        auto t = DbfTable::open(p, {.exclusive = true, .forRepair = true});
        EXPECT_EQ(t->recordCount(), 3u);  // the whole records only
        const DbfTable::Survey s = t->survey();
        EXPECT_EQ(s.countInHeader, 5u);
        EXPECT_EQ(s.recordsInFile, 3u);
        EXPECT_TRUE(s.partialRecord);
        EXPECT_EQ(s.badMemoPointers, 1u);
        EXPECT_EQ(s.unreadableValues, 4u);  // the fourth: a date cut short ("2021")
        EXPECT_TRUE(s.damaged());
    }
    {
        auto t = DbfTable::open(p, exclusive(true));
        const DbfTable::Survey s = t->repair();
        EXPECT_EQ(s.records, 4u);
    }
    auto t = DbfTable::open(p);
    ASSERT_EQ(t->recordCount(), 4u);
    EXPECT_EQ(t->value(4, 0).toString(), QStringLiteral("nom4"));
    EXPECT_TRUE(t->value(4, 1).isNull());
    EXPECT_EQ(t->rawField(2, 1), "        ");
    EXPECT_EQ(t->rawField(2, 5), "          ");
    EXPECT_EQ(t->value(3, 5).toString(), QStringLiteral("mémo 3"));
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom4")), 4u);
    EXPECT_EQ(bytes().size(), size_t(kHeader + 4 * kRecLen + 1));
    EXPECT_FALSE(t->survey().damaged());
}

TEST_F(DamageTest, LeftoversOfAKilledRewriteGoAtTheExclusiveOpen)
{
    DbfTable::create(p, sampleFields(false), {{"NOM", "NOM", 'C', false, false}});
    const QString tmp = QString::fromStdString(p + ".tmp~");
    const QString itmp = QString::fromStdString(companionPath(p, ".MDX") + ".tmp~");
    const QString mtmp = QString::fromStdString(companionPath(p, ".DBT") + ".tmp~");  // a pack of memos
    for (const QString& f : {tmp, itmp, mtmp}) {
        QFile out(f);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("half");
    }
    DbfTable::open(p);
    EXPECT_TRUE(QFile::exists(tmp));  // a shared open may meet a rewrite under way
    DbfTable::open(p, exclusive());
    EXPECT_FALSE(QFile::exists(tmp));
    EXPECT_FALSE(QFile::exists(itmp));
    EXPECT_FALSE(QFile::exists(mtmp));
}

// What a workstation killed in the middle of a change leaves, mended by the
// next statement of another one: the index marked "in update" (here with
// the entry of an appended record the table never counted, the record
// written after the count), or marked only.
class UnfinishedTest : public DamageTest {
protected:
    std::string log() const
    {
        QFile f(dir.path() + "/Damaged/repairs.log");
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }
    long lines() const
    {
        const std::string text = log();
        return std::count(text.begin(), text.end(), '\n');
    }
    void mark(uint8_t value) const
    {
        QFile f(dir.path() + "/D.MDX");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(47);
        f.write(reinterpret_cast<const char*>(&value), 1);
    }
    void make()
    {
        DbfTable::create(p, sampleFields(false), {{"NOM", "NOM", 'C', false, false}, {"DN", "DN", 'D', false, false}});
        auto t = DbfTable::open(p);
        for (int i = 1; i <= 40; ++i)
            t->append({QStringLiteral("nom%1").arg(i), QDate(2020, 1, 1 + i % 28), i, i * 1.5, true});
        t->deleteRecord(7);
    }
};

TEST_F(UnfinishedTest, AnAppendKilledBeforeItCountedItsRecordIsUndoneAndTheIndexMadeAgain)
{
    make();
    const std::string before = bytes();
    {
        // The record written after the count, its keys in the index.
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray last = f.readAll().mid(static_cast<int>(before.size() - 1 - kRecLenNoMemo), kRecLenNoMemo);
        f.seek(static_cast<qint64>(before.size() - 1));
        f.write(QByteArray(last).replace("nom40", "nom41"));
        f.write("\x1A", 1);
    }
    {
        auto m = mdx::MdxFile::open(dir.path().toStdString() + "/D.MDX");
        std::string key = "nom41";
        key.resize(20, ' ');
        m->insert("NOM", key, 41);
        m->flush(false);
    }
    mark(1);
    ASSERT_EQ(DbfTable::probe(p, false), 0);  // the probe itself mends
    EXPECT_EQ(bytes(), before);  // the uncounted record is gone
    const std::string line = log();
    EXPECT_NE(line.find("D.DBF : mise à jour interrompue par l'arrêt d'un programme ; 1 enregistrement inachevé "
                        "après la fin de la table retiré ; index reconstruit à partir de la table (étiquette NOM : "
                        "entrée de l'enregistrement 41 au-delà de la fin de la table)"),
        std::string::npos)
        << line;
    const std::string copy =
        dir.path().toStdString() + "/Damaged/" + QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    EXPECT_TRUE(fileExists(copy + "/D.DBF"));
    EXPECT_TRUE(fileExists(copy + "/D.MDX"));
    auto t = DbfTable::open(p);
    EXPECT_EQ(t->recordCount(), 40u);
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom41")), 0u);
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom40")), 40u);
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom7")), 0u);  // deleted
    EXPECT_EQ(t->append({QStringLiteral("nom42"), QDate(2021, 1, 1), 1, 1.0, false}), 41u);
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom42")), 41u);
}

TEST_F(UnfinishedTest, AnOpenTableMeetingTheMarkMendsItAndGoesOn)
{
    make();
    auto reader = DbfTable::open(p);
    auto writer = DbfTable::open(p);
    EXPECT_EQ(reader->findKey("NOM", QStringLiteral("nom3")), 3u);
    mark(1);  // a third workstation killed in the middle of a change
    // A read mends it (the index matches the table: checked, kept, unmarked).
    EXPECT_EQ(reader->findKey("NOM", QStringLiteral("nom5")), 5u);
    EXPECT_NE(log().find("index comparé à la table, entrée par entrée : conforme, remis en service"), std::string::npos)
        << log();
    EXPECT_EQ(mdx::MdxFile::markOf(dir.path().toStdString() + "/D.MDX"), mdx::MdxFile::Mark::Clean);
    // A write of another open meets it in a batch of reads too.
    mark(1);
    writer->beginIndexRead();
    EXPECT_EQ(writer->findKey("DN", QDate(2020, 1, 9)), 8u);
    writer->endIndexRead();
    writer->update(8, {QStringLiteral("huit"), QDate(2020, 1, 9), 8, 12.0, true});
    EXPECT_EQ(reader->findKey("NOM", QStringLiteral("huit")), 8u);
    // "Pending" (killed after its change, before forcing it) is left to
    // the others while someone is at the table...
    EXPECT_EQ(lines(), 2);
    reader.reset();
    writer.reset();
    mark(3);
    {
        auto a = DbfTable::open(p);
        mark(3);
        auto b = DbfTable::open(p);
        EXPECT_EQ(b->findKey("NOM", QStringLiteral("nom9")), 9u);
        EXPECT_EQ(lines(), 3);  // a's open: alone
    }
    // ... and an index whose tags no longer read is said so, for the
    // maintenance, with the files kept.
    {
        QFile f(dir.path() + "/D.MDX");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(544 + 4);
        f.write("\x01\x02", 2);  // the first tag's name
    }
    mark(1);
    try {
        DbfTable::open(p);
        ADD_FAILURE() << "opened";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), DBERR_INDEXOUTOFDATE);
    }
    EXPECT_NE(log().find("ses étiquettes ne se lisent plus : il doit être reconstruit par Outils / Réindexation"),
        std::string::npos)
        << log();
}

// The repair log is shown to the user by the next maintenance command: what
// the index was found to lack or hold wrongly is said in French.
TEST_F(UnfinishedTest, WhatTheIndexLackedIsSaidInTheLogInFrench)
{
    make();
    {
        auto m = mdx::MdxFile::open(dir.path().toStdString() + "/D.MDX");
        std::string key = "nom12";
        key.resize(20, ' ');
        ASSERT_TRUE(m->remove("NOM", key, 12));
        m->flush(true);
    }
    mark(1);
    ASSERT_EQ(DbfTable::probe(p, false), 0);
    EXPECT_NE(log().find("D.DBF : mise à jour interrompue par l'arrêt d'un programme ; index reconstruit à partir "
                         "de la table (étiquette NOM : enregistrement 12 absent de l'index)"),
        std::string::npos)
        << log();
    EXPECT_EQ(DbfTable::open(p)->findKey("NOM", QStringLiteral("nom12")), 12u);
    {
        auto m = mdx::MdxFile::open(dir.path().toStdString() + "/D.MDX");
        std::string key = "nom3";
        key.resize(20, ' ');
        m->insert("NOM", key, 5);  // record 5 under another's key
        m->flush(true);
    }
    mark(1);
    ASSERT_EQ(DbfTable::probe(p, false), 0);
    const std::string last = log().substr(log().rfind("D.DBF"));
    EXPECT_NE(last.find("index reconstruit à partir de la table (étiquette NOM : clé de l'enregistrement 5 "
                        "différente de la table)"),
        std::string::npos)
        << last;
    for (const char* english : {"tag ", "record", "missing", "differs", "entry"})
        EXPECT_EQ(last.find(english), std::string::npos) << english << " in " << last;
    EXPECT_EQ(DbfTable::open(p)->findKey("NOM", QStringLiteral("nom3")), 3u);
}

// A writer at work holds the header while its mark is set: the others wait
// for it, and take nothing for damage.
TEST_F(UnfinishedTest, AWriterStillAtWorkIsWaitedForNotTakenForDamage)
{
    make();
    auto reader = DbfTable::open(p);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        File f = File::open(p, File::Mode::ReadWrite);
        if (!f.tryLock(DbfTable::kLockOpen, 1, false) || !f.tryLock(DbfTable::kLockHeader, 1, true))
            _exit(1);
        mark(1);  // its change under way
        if (write(fds[1], "x", 1) != 1)
            _exit(2);
        usleep(300000);
        mark(0);  // done
        _exit(0);
    }
    close(fds[1]);
    char c = 0;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    close(fds[0]);
    {
        auto fresh = DbfTable::open(p);
        EXPECT_EQ(fresh->findKey("NOM", QStringLiteral("nom4")), 4u);
    }
    EXPECT_EQ(reader->findKey("NOM", QStringLiteral("nom5")), 5u);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(lines(), 0);
    EXPECT_FALSE(QDir(dir.path() + "/Damaged").exists());
}

}  // namespace

// What a header promises, held at every open: a header length off by a
// descriptor either way or that cannot be, a record length that is not
// 1 + the widths, a type or width no field can have, a count the file does
// not hold. Each is refused, nothing written; the repair of the header puts
// back what the rest of the header and the file's size tell, and the table
// reads as it did.
class HeaderTest : public DamageTest {
protected:
    std::string sound;
    void SetUp() override
    {
        DbfTable::create(p, sampleFields(true), {{"NOM", "NOM", 'C', false, false}});
        {
            auto t = DbfTable::open(p);
            for (int i = 1; i <= 6; ++i)
                t->append({QStringLiteral("nom%1").arg(i), QDate(2020, 1, i), i, i * 1.5, i % 2 == 0,
                    QStringLiteral("mémo %1").arg(i)});
        }
        sound = bytes();
    }
    static void put16(std::string& b, size_t at, uint16_t v)
    {
        b[at] = static_cast<char>(v & 0xFF);
        b[at + 1] = static_cast<char>(v >> 8);
    }
};

TEST_F(HeaderTest, AWrongHeaderIsRefusedNeverWrittenAndRepairedFromTheRestOfIt)
{
    struct Damage {
        const char* what;
        std::function<void(std::string&)> make;
        bool repairable;
    };
    const Damage damages[] = {
        {"header length 32 too long", [](std::string& b) { put16(b, 8, kHeader + 32); }, true},
        {"header length 0xFFFF", [](std::string& b) { put16(b, 8, 0xFFFF); }, true},
        {"header length 32 short", [](std::string& b) { put16(b, 8, kHeader - 32); }, true},
        {"record length one too long", [](std::string& b) { put16(b, 10, kRecLen + 1); }, true},
        {"record length one short", [](std::string& b) { put16(b, 10, kRecLen - 1); }, true},
        {"date width 10", [](std::string& b) { b[32 + 32 + 16] = 10; }, true},
        {"a type no field has", [](std::string& b) { b[32 + 2 * 32 + 11] = 'Q'; }, false},
        {"numbers 40 wide", [](std::string& b) { b[32 + 3 * 32 + 16] = 40; }, false},
        {"the end mark gone", [](std::string& b) { b[kHeader - 1] = ' '; }, false},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string damaged = sound;
        d.make(damaged);
        rewrite(damaged);
        try {
            DbfTable::open(p);
            ADD_FAILURE() << "opened";
        } catch (const EDBEngineError& e) {
            EXPECT_EQ(e.code(), DBERR_HEADERCORRUPT) << e.what();
            EXPECT_EQ(e.file(), p);
        }
        EXPECT_EQ(DbfTable::probe(p, false), DBERR_HEADERCORRUPT);
        EXPECT_EQ(bytes(), damaged);
        const DbfTable::HeaderRepair found = DbfTable::repairHeader(p, false);
        EXPECT_TRUE(found.damaged);
        EXPECT_EQ(found.repairable, d.repairable) << found.what;
        EXPECT_FALSE(found.what.empty());
        if (!d.repairable)
            continue;
        DbfTable::repairHeader(p, true);
        EXPECT_FALSE(DbfTable::repairHeader(p, false).damaged);
        EXPECT_EQ(bytes(), sound) << found.what;
        auto t = DbfTable::open(p);
        ASSERT_EQ(t->recordCount(), 6u);
        EXPECT_EQ(t->value(6, 0).toString(), QStringLiteral("nom6"));
        EXPECT_EQ(t->value(6, 5).toString(), QStringLiteral("mémo 6"));
    }

    // A count of more records than the file holds: refused too; the repair
    // of the records gives the count of those it holds.
    std::string counted = sound;
    counted[4] = 9;
    rewrite(counted);
    EXPECT_THROW(DbfTable::open(p), EDBEngineError);
    EXPECT_FALSE(DbfTable::repairHeader(p, false).damaged);  // the header holds together
    EXPECT_EQ(DbfTable::open(p, exclusive(true))->repair().records, 6u);
    EXPECT_EQ(DbfTable::open(p)->recordCount(), 6u);
}

// Bytes an older writer leaves after the end mark, and a level 7 table's
// field properties, are no damage.
TEST_F(HeaderTest, NulBytesAfterTheEndMarkAreNoDamage)
{
    std::string padded = sound.substr(0, kHeader) + '\0' + sound.substr(kHeader);
    put16(padded, 8, kHeader + 1);
    rewrite(padded);
    {
        auto t = DbfTable::open(p);
        ASSERT_EQ(t->recordCount(), 6u);
        EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("nom1"));
    }
    EXPECT_FALSE(DbfTable::repairHeader(p, false).damaged);
}

// Records after the count, found by a look-up through the index of a table
// already open: taken back (the record the index names is read), kept in a
// copy with a line in the repair log; what follows them and does not read
// as a record goes.
TEST_F(UnfinishedTest, ALookUpThroughTheIndexTakesBackTheRecordsAfterTheCount)
{
    make();
    const std::string before = bytes();
    // The table opened with twenty records, its index naming forty; then
    // another program writes the other twenty and the rest of a record,
    // leaving its count behind.
    std::string twenty = before.substr(0, kHeaderNoMemo + 20 * kRecLenNoMemo) + '\x1A';
    twenty.replace(4, 4, std::string("\x14\0\0\0", 4));
    rewrite(twenty);
    auto t = DbfTable::open(p);
    ASSERT_EQ(t->recordCount(), 20u);
    std::string behind = before.substr(0, before.size() - 1) + "  half a record";
    behind.replace(4, 4, std::string("\x14\0\0\0", 4));
    rewrite(behind);

    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom30")), 30u);
    EXPECT_EQ(t->value(30, 0).toString(), QStringLiteral("nom30"));
    EXPECT_EQ(t->recordCount(), 40u);
    EXPECT_EQ(bytes(), before);
    EXPECT_NE(log().find("D.DBF : 20 enregistrements après la fin annoncée de la table (compte de l'en-tête en "
                         "retard) repris ; 15 octets après les enregistrements, qui ne se lisent pas comme des "
                         "enregistrements, retirés ; index comparé à la table, entrée par entrée : conforme"),
        std::string::npos)
        << log();
    const std::string copy =
        dir.path().toStdString() + "/Damaged/" + QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    QFile kept(QString::fromStdString(copy + "/D.DBF"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll().toStdString(), behind);
}

// Before a write too: the append goes after the records the count left
// behind, never over them; those that do not read stay in the copy only.
TEST_F(UnfinishedTest, AnAppendGoesAfterTheRecordsTheCountLeftBehind)
{
    make();
    auto t = DbfTable::open(p);
    {
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(4);
        f.write("\0\0\0\0", 4);
        // the 39th and 40th records do not read as records
        f.seek(kHeaderNoMemo + 38 * kRecLenNoMemo);
        f.write(std::string(2 * kRecLenNoMemo, '\0').data(), 2 * kRecLenNoMemo);
    }
    EXPECT_EQ(t->append({QStringLiteral("nouveau"), QDate(2022, 2, 2), 2, 2.0, false}), 39u);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("nom1"));
    EXPECT_EQ(t->value(38, 0).toString(), QStringLiteral("nom38"));
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("nouveau")), 39u);
    EXPECT_EQ(lines(), 1);
    EXPECT_NE(log().find("38 enregistrements après la fin annoncée de la table"), std::string::npos) << log();
}

// The pack writes a memo file holding only the memos of the records it
// keeps: a memo changed many times leaves no trace of its older texts.
TEST_F(DamageTest, APackKeepsOnlyTheMemosOfTheRecordsItKeeps)
{
    DbfTable::create(p, sampleFields(true), {{"NOM", "NOM", 'C', false, false}});
    const QString dbt = dir.path() + "/D.DBT";
    {
        auto t = DbfTable::open(p);
        for (int i = 1; i <= 10; ++i)
            t->append({QStringLiteral("nom%1").arg(i), QDate(2020, 1, i), i, 1.0, true, QStringLiteral("texte")});
        for (int round = 0; round < 50; ++round)
            for (uint32_t r = 1; r <= 10; ++r)
                t->updateFields(r, {{5, QStringLiteral("texte %1 du tour %2 ").arg(r).arg(round).repeated(20)}});
        t->deleteRecord(4);
    }
    const qint64 grown = QFileInfo(dbt).size();
    EXPECT_GT(grown, 500 * 512);
    {
        auto t = DbfTable::open(p, exclusive());
        t->pack();
        EXPECT_EQ(t->recordCount(), 9u);
        EXPECT_EQ(t->value(4, 5).toString(), QStringLiteral("texte 5 du tour 49 ").repeated(20));
        // and it goes on
        t->updateFields(1, {{5, QStringLiteral("après")}});
    }
    // the header block, nine memos of a block, the memo written after
    EXPECT_LE(QFileInfo(dbt).size(), (1 + 9 + 1) * 512);
    auto t = DbfTable::open(p);
    EXPECT_EQ(t->value(1, 5).toString(), QStringLiteral("après"));
    for (uint32_t r = 2; r <= 9; ++r) {
        const int was = r < 4 ? int(r) : int(r) + 1;
        EXPECT_EQ(t->value(r, 5).toString(), QStringLiteral("texte %1 du tour 49 ").arg(was).repeated(20)) << r;
        EXPECT_EQ(t->findKey("NOM", QStringLiteral("nom%1").arg(was)), r);
    }
    EXPECT_FALSE(t->survey().damaged());
}
