// Damaged and foreign files: every one gives a clean engine error (or reads),
// never a crash or a hang. The files of corpus/ are replayed, then damaged
// copies of a sound table are made on the fly.
#include <gtest/gtest.h>

#include <random>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "TestTables.h"

using namespace kdb;

namespace {

// Opens the table and reads everything it offers. Answers "ok", or the
// engine code of the first error.
int readEverything(const std::string& path)
{
    try {
        auto t = DbfTable::open(path);
        for (uint32_t r = 1; r <= t->recordCount(); ++r) {
            t->isDeleted(r);
            for (int f = 0; f < t->fieldCount(); ++f) {
                t->rawField(r, f);
                try {
                    t->value(r, f);
                } catch (const EDBEngineError& e) {
                    if (e.code() != DBERR_MEMOCORRUPT)
                        throw;
                }
            }
        }
        for (const auto& tag : t->tags()) {
            auto c = t->openTag(tag.name);
            uint32_t n = 0;
            for (uint32_t r = c->first(); r != 0 && n <= t->recordCount(); r = c->next())
                ++n;
        }
        return 0;
    } catch (const EDBEngineError& e) {
        EXPECT_NE(e.code(), 0);
        EXPECT_NE(std::string(e.what()), "");
        return e.code();
    }
}

// Repairs the table as the maintenance does (when it opens at all): the
// repaired table surveys clean and reads to the end, its index included.
void repairAndRead(const std::string& path)
{
    // A header that does not read is mended first when the rest of it tells
    // how; once mended there is nothing more to mend in it.
    const DbfTable::HeaderRepair header = DbfTable::repairHeader(path, false);
    if (header.repairable) {
        DbfTable::repairHeader(path, true);
        EXPECT_FALSE(DbfTable::repairHeader(path, false).damaged) << header.what;
    }
    std::unique_ptr<DbfTable> t;
    try {
        t = DbfTable::open(path, {.exclusive = true, .forRepair = true});
    } catch (const EDBEngineError& e) {
        EXPECT_TRUE(e.code() == DBERR_HEADERCORRUPT || e.code() == DBERR_READERR) << e.what();
        return;
    }
    const DbfTable::Survey found = t->survey();
    t->repair();
    if (t->hasIndexFlag())
        t->rebuildIndexFromFile();
    const DbfTable::Survey after = t->survey();
    EXPECT_FALSE(after.damaged());
    EXPECT_EQ(after.records, found.records);
    EXPECT_EQ(after.values, found.values);
    t.reset();
    const int code = readEverything(path);
    EXPECT_TRUE(code == 0 || code == DBERR_KEYVIOL) << code;
}

class CorpusTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string copy(const QString& from, const QString& name)
    {
        const QString to = dir.path() + QLatin1Char('/') + name;
        QFile::remove(to);
        QFile::copy(from, to);
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        return to.toStdString();
    }
};

TEST_F(CorpusTest, StoredDamagedFilesGiveEngineErrors)
{
    const QDir corpus(QString::fromLatin1(KORVALE_DBF_TEST_DIR) + QStringLiteral("/corpus"));
    const auto files = corpus.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files)
        copy(corpus.filePath(name), name);
    int opened = 0;
    for (const QString& name : files) {
        if (!name.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive))
            continue;
        SCOPED_TRACE(name.toStdString());
        const std::string path = dir.path().toStdString() + "/" + name.toStdString();
        const int code = readEverything(path);
        if (code == 0)
            ++opened;
        if (name == QLatin1String("good.dbf")) {
            EXPECT_EQ(code, 0);
        } else if (name == QLatin1String("foxpro.dbf") || name == QLatin1String("empty.dbf") ||
            name == QLatin1String("short-header.dbf") || name == QLatin1String("reclen-zero.dbf")) {
            EXPECT_EQ(code, DBERR_HEADERCORRUPT);
        } else if (name == QLatin1String("bad-index.dbf")) {
            EXPECT_EQ(code, DBERR_INDEXOUTOFDATE);
        } else if (name == QLatin1String("memo-missing.dbf") || name == QLatin1String("memo-zeros.dbf") ||
            name == QLatin1String("memo-short.dbf")) {
            EXPECT_EQ(code, DBERR_MEMOCORRUPT);
        } else if (name == QLatin1String("memo-blocksize.dbf")) {
            // A block size that is none: refused; the repair finds the one
            // at which the records find their memos, and they read again.
            EXPECT_EQ(code, DBERR_MEMOCORRUPT);
            const std::string b = copy(corpus.filePath(name), QStringLiteral("B.DBF"));
            copy(corpus.filePath(QStringLiteral("memo-blocksize.dbt")), QStringLiteral("B.DBT"));
            DbfTable::open(b, {.exclusive = true, .forRepair = true})->repair();
            auto t = DbfTable::open(b);
            EXPECT_EQ(t->value(1, 1).toString(), QStringLiteral("un"));
            EXPECT_EQ(t->value(3, 1).toString(), QStringLiteral("trois"));
        } else if (name == QLatin1String("memo-cut.dbf")) {
            // A sound header on a file of 4 blocks, its records pointing to
            // blocks 6, 7 and 8: it opens, those memos read blank, and new
            // memos take blocks 4, 5 and 6 (no longer pointed to), never 7,
            // until the repair blanks the pointers.
            EXPECT_EQ(code, 0);
            const std::string c = copy(corpus.filePath(name), QStringLiteral("C.DBF"));
            copy(corpus.filePath(QStringLiteral("memo-cut.dbt")), QStringLiteral("C.DBT"));
            auto t = DbfTable::open(c);
            for (int block = 4; block <= 7; ++block) {
                SCOPED_TRACE(block);
                const QString text = QStringLiteral("nouveau %1").arg(block);
                try {
                    t->update(1, {QStringLiteral("nom 1"), text});
                    EXPECT_LT(block, 7);
                    EXPECT_EQ(t->rawField(1, 1), std::string(9, ' ') + std::to_string(block));
                    EXPECT_EQ(t->value(1, 1).toString(), text);
                } catch (const EDBEngineError& e) {
                    EXPECT_EQ(block, 7);
                    EXPECT_EQ(e.code(), DBERR_MEMOCORRUPT) << e.what();
                }
                EXPECT_EQ(t->value(2, 1).toString(), QString());
                EXPECT_EQ(t->value(3, 1).toString(), QString());
            }
            t.reset();
            EXPECT_EQ(DbfTable::open(c, {.exclusive = true, .forRepair = true})->repair().badMemoPointers, 2u);
            t = DbfTable::open(c);
            t->update(2, {QStringLiteral("nom 2"), QStringLiteral("deux")});
            EXPECT_EQ(t->value(2, 1).toString(), QStringLiteral("deux"));
            EXPECT_EQ(t->value(1, 1).toString(), QStringLiteral("nouveau 6"));
            EXPECT_EQ(t->value(3, 1).toString(), QString());
        } else if (name.startsWith(QLatin1String("header-plus-")) || name.startsWith(QLatin1String("header-minus-")) ||
            name == QLatin1String("reclen-plus-one.dbf") || name == QLatin1String("type-unknown.dbf")) {
            // What the header promises does not hold: refused; the repair
            // of the header mends all but the unknown type, and the table
            // then reads its two live records as written.
            EXPECT_EQ(code, DBERR_HEADERCORRUPT);
            const std::string h = copy(corpus.filePath(name), QStringLiteral("H.DBF"));
            const DbfTable::HeaderRepair found = DbfTable::repairHeader(h, false);
            EXPECT_TRUE(found.damaged);
            EXPECT_EQ(found.repairable, name != QLatin1String("type-unknown.dbf")) << found.what;
            if (found.repairable) {
                DbfTable::repairHeader(h, true);
                auto t = DbfTable::open(h);
                ASSERT_EQ(t->recordCount(), 3u);
                EXPECT_EQ(t->value(2, 0).toString(), QStringLiteral("MARTIN"));
                EXPECT_EQ(t->value(2, 2).toDouble(), -2.25);
            }
        } else if (name == QLatin1String("count-behind.dbf")) {
            // Records after the count are taken back, the half record goes.
            EXPECT_EQ(code, 0);
            EXPECT_EQ(DbfTable::open(path)->recordCount(), 3u);
        } else if (name == QLatin1String("level7-properties.dbf")) {
            EXPECT_EQ(code, 0);  // field properties after the end mark are no damage
            EXPECT_EQ(DbfTable::open(path)->value(2, 1).toDate(), QDate(1999, 12, 31));
        }
        if (name == QLatin1String("header-too-long.dbf")) {
            // A header length the repair reads again from the field
            // descriptions.
            const std::string h = copy(corpus.filePath(name), QStringLiteral("H.DBF"));
            const DbfTable::HeaderRepair found = DbfTable::repairHeader(h, false);
            EXPECT_TRUE(found.damaged && found.repairable) << found.what;
            DbfTable::repairHeader(h, true);
            EXPECT_EQ(readEverything(h), 0);
        } else if (name == QLatin1String("width-zero.dbf")) {
            // A field without a width in records that leave it none: said
            // so, nothing to mend it from.
            const DbfTable::HeaderRepair found = DbfTable::repairHeader(path, false);
            EXPECT_TRUE(found.damaged && !found.repairable) << found.what;
        }
        repairAndRead(copy(corpus.filePath(name), QStringLiteral("R.DBF")));
    }
    EXPECT_GE(opened, 1);
}

// A file that holds fewer records than its header counts is refused (it is
// neither read nor written) until its repair gives it the count of what it
// holds.
TEST_F(CorpusTest, ACountBeyondTheFileIsRefusedUntilTheRepair)
{
    const QDir corpus(QString::fromLatin1(KORVALE_DBF_TEST_DIR) + QStringLiteral("/corpus"));
    const std::string c = copy(corpus.filePath(QStringLiteral("count-huge.dbf")), QStringLiteral("c.dbf"));
    const std::string u = copy(corpus.filePath(QStringLiteral("truncated-record.dbf")), QStringLiteral("u.dbf"));
    for (const std::string& path : {c, u}) {
        try {
            DbfTable::open(path);
            ADD_FAILURE() << path << " opened";
        } catch (const EDBEngineError& e) {
            EXPECT_EQ(e.code(), DBERR_HEADERCORRUPT) << e.what();
        }
        DbfTable::open(path, {.exclusive = true, .forRepair = true})->repair();
    }
    // Each record cut short is completed with blanks.
    EXPECT_EQ(DbfTable::open(c)->recordCount(), 3u);
    auto t = DbfTable::open(u);
    ASSERT_EQ(t->recordCount(), 2u);
    EXPECT_EQ(t->value(1, 0).toString(), QStringLiteral("abcde"));
}

TEST_F(CorpusTest, EveryTruncationAndRandomDamageOfASoundTable)
{
    const std::string base = dir.path().toStdString() + "/SOUND.DBF";
    DbfTable::create(
        base, kdbtest::sampleFields(true), {{"NOM", "NOM", 'C', false, false}, {"DN", "DN", 'D', false, false}});
    {
        auto t = DbfTable::open(base);
        for (int i = 0; i < 20; ++i)
            t->append({QStringLiteral("nom %1").arg(i), QDate(2000, 1, 1).addDays(i * 37), i, i / 4.0, i % 2 == 0,
                QStringLiteral("mémo %1").arg(i).repeated(i * 10)});
    }
    QFile f(QString::fromStdString(base));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray sound = f.readAll();
    f.close();
    QFile m(QString::fromStdString(dir.path().toStdString() + "/SOUND.DBT"));
    ASSERT_TRUE(m.open(QIODevice::ReadOnly));
    const QByteArray soundMemo = m.readAll();
    m.close();
    const QString mdx = dir.path() + QStringLiteral("/SOUND.MDX");
    const QString savedMdx = dir.path() + QStringLiteral("/saved.mdx");
    QFile::copy(mdx, savedMdx);

    auto writeFiles = [&](const QByteArray& dbf, const QByteArray& dbt) {
        QFile a(QString::fromStdString(base));
        a.open(QIODevice::WriteOnly | QIODevice::Truncate);
        a.write(dbf);
        a.close();
        QFile b(dir.path() + QStringLiteral("/SOUND.DBT"));
        b.open(QIODevice::WriteOnly | QIODevice::Truncate);
        b.write(dbt);
        b.close();
        QFile::remove(mdx);
        QFile::copy(savedMdx, mdx);
    };
    // Truncations of the table file (header and first records).
    for (int len = 0; len < std::min<int>(sound.size(), 600); len += 3) {
        writeFiles(sound.left(len), soundMemo);
        readEverything(base);
        repairAndRead(base);
    }
    // Truncations of the memo file.
    for (int len = 0; len < soundMemo.size(); len += 97) {
        writeFiles(sound, soundMemo.left(len));
        readEverything(base);
    }
    // Random byte damage, fixed seed.
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        QByteArray dbf = sound, dbt = soundMemo;
        QByteArray& target = round % 3 == 0 ? dbt : dbf;
        const int hits = 1 + static_cast<int>(rng() % 6);
        for (int h = 0; h < hits; ++h) {
            // Mostly in the header, where damage matters most.
            const int limit = (round % 2 == 0 && &target == &dbf) ? std::min<int>(target.size(), 300) : target.size();
            target[static_cast<int>(rng() % limit)] = static_cast<char>(rng() & 0xFF);
        }
        writeFiles(dbf, dbt);
        readEverything(base);
        repairAndRead(base);
    }
    // The sound files still read after all that.
    writeFiles(sound, soundMemo);
    EXPECT_EQ(readEverything(base), 0);
}

}  // namespace
