// The journal of a statement killed half way: what is written reads back,
// nothing cut short or damaged reads as a journal, and the journals of
// journal-corpus/ (the fuzz target's seeds and finds) are put back, or set
// aside with a copy and a line of the repair log, at the next open: never
// left for later, never applied to a table of another shape.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

#include "platform/db/core/DamageLog.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/dbf/StatementJournal.h"

using namespace kdb;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The table of the fuzz target: eight records C1/1 ... C8/8.
void makeTable(const std::string& path, bool indexed)
{
    std::vector<TagInfo> tags;
    if (indexed)
        tags.push_back({"CODE", "CODE", 'C', true, false});
    DbfTable::create(path, {{"CODE", 'C', 6, 0, false}, {"NUM", 'N', 4, 0, false}}, tags);
    auto t = DbfTable::open(path, {true, false});
    for (int i = 1; i <= 8; ++i)
        t->append({QString("C%1").arg(i), i});
    t->flush();
}

// Every record as "CODE/NUM", a deleted one with a star.
std::vector<std::string> recordsOf(const std::string& path)
{
    auto t = DbfTable::open(path);
    std::vector<std::string> out;
    for (uint32_t r = 1; r <= t->recordCount(); ++r)
        out.push_back((t->isDeleted(r) ? "*" : "") + t->value(r, 0).toString().toStdString() + "/" +
            t->value(r, 1).toString().toStdString());
    return out;
}

}  // namespace

TEST(StatementJournal, WhatIsWrittenReadsBackAndNothingCutOrChangedDoes)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/T.JNL";
    {
        journal::Writer w(path, 97, 11, 8, 2);
        w.add(3, std::string(11, 'a'));
        w.add(8, std::string(11, 'b'));
        w.finish();
    }
    const std::string bytes = readFile(path);
    const auto j = journal::decode(bytes);
    ASSERT_TRUE(j);
    EXPECT_EQ(j->headerLength, 97);
    EXPECT_EQ(j->recordLength, 11);
    EXPECT_EQ(j->recordCount, 8u);
    ASSERT_EQ(j->images.size(), 2u);
    EXPECT_EQ(j->images[1].recNo, 8u);
    EXPECT_EQ(j->images[1].bytes, std::string(11, 'b'));
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(journal::decode(std::string_view(bytes).substr(0, n))) << "cut to " << n;
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x10);
        EXPECT_FALSE(journal::decode(changed)) << "byte " << at;
    }
    EXPECT_EQ(journal::pathFor("/d/Patient.DBF"), "/d/Patient.JNL");
    EXPECT_EQ(journal::pathFor("/d/cons.dbf"), "/d/cons.jnl");
    EXPECT_EQ(journal::pathFor("/d.x/T"), "/d.x/T.JNL");
}

TEST(StatementJournal, TheCorpusIsPutBackOrSetAsideAtTheNextOpen)
{
    const QDir corpus(QString::fromLatin1(KORVALE_DBF_TEST_DIR) + QStringLiteral("/journal-corpus"));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_GE(files.size(), 10);
    const std::vector<std::string> sound = {"C1/1", "C2/2", "C3/3", "C4/4", "C5/5", "C6/6", "C7/7", "C8/8"};
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir tmp;
        const std::string dir = tmp.path().toStdString();
        const std::string input = readFile(corpus.filePath(name).toStdString());
        ASSERT_FALSE(input.empty());
        const bool indexed = input[0] & 1;
        makeTable(dir + "/J.DBF", indexed);
        {
            std::ofstream out(dir + "/J.JNL", std::ios::binary);
            out << input.substr(1);
        }
        try {
            DbfTable::open(dir + "/J.DBF", {true, false}).reset();
        } catch (const EDBEngineError& e) {
            ADD_FAILURE() << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(dir + "/J.JNL"));
        const std::string log = readFile(damageLogPath(dir));
        const auto found = recordsOf(dir + "/J.DBF");
        if (name == QStringLiteral("whole.jnl")) {
            EXPECT_EQ(found,
                (std::vector<std::string>{"C1/1", "OLD2/20", "C3/3", "OLD4/40", "C5/5", "C6/6", "*OLD7/70", "C8/8"}));
            EXPECT_NE(log.find("3 enregistrements remis comme avant elle"), std::string::npos) << log;
        } else if (name == QStringLiteral("past-count.jnl")) {
            std::vector<std::string> one = sound;
            one[2] = "OLD3/30";
            EXPECT_EQ(found, one);
            EXPECT_NE(log.find("1 enregistrement remis comme avant elle"), std::string::npos) << log;
        } else {
            EXPECT_EQ(found, sound);
            // set aside with a copy when it read as a journal, else dropped
            if (name.startsWith(QStringLiteral("other-")) || name == QStringLiteral("whole-indexed.jnl")) {
                EXPECT_NE(log.find("retiré sans être appliqué ; copie du journal dans"), std::string::npos) << log;
            } else {
                EXPECT_EQ(log, "");
            }
        }
    }
}

// A file far longer than a journal of the table is not read whole: set
// aside, with its copy.
TEST(StatementJournal, AFileTooLongForTheTableIsSetAside)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    makeTable(dir + "/J.DBF", false);
    {
        std::ofstream out(dir + "/J.JNL", std::ios::binary);
        out << std::string(1 << 20, 'x');
    }
    auto t = DbfTable::open(dir + "/J.DBF");
    EXPECT_EQ(t->recordCount(), 8u);
    t->beginIndexRead();  // the first hold of a shared open looks
    t->endIndexRead();
    EXPECT_FALSE(std::filesystem::exists(dir + "/J.JNL"));
    EXPECT_NE(readFile(damageLogPath(dir)).find("trop long pour un journal de la table retiré"), std::string::npos);
}
