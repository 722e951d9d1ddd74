// The journal of a restore read back: what the restore writes, the files of
// journal-corpus/ (among them what the fuzz target found), and every cut of
// a whole journal, none of which is taken for a whole one.
#include "app/backup/RestoreJournal.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray Corpus(const QString& name)
{
    QFile f(QStringLiteral(KORVALE_SOURCE_DIR "/tests/backup/journal-corpus/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

}  // namespace

TEST(RestoreJournal, WhatIsWrittenReadsBack)
{
    backup::RestoreSet data{"/srv/cabinet/Mes données", "/srv/cabinet/Mes données.restaure",
        "/srv/cabinet/Mes données.precedent", {"Cons.DBF", "Cons 2.MDX"}, {"Cons.DBF"}, 2049, 131077};
    backup::RestoreSet texts{
        "/srv/cabinet/PROT", "/srv/cabinet/PROT.restaure", "/srv/cabinet/PROT.precedent", {}, {"PROT1.RTF"}, 7, 8};
    std::vector<backup::RestoreSet> read;
    ASSERT_TRUE(backup::ParseJournal(backup::JournalText({data, texts}), read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].live, data.live);
    EXPECT_EQ(read[0].staging, data.staging);
    EXPECT_EQ(read[0].oldNames, data.oldNames);
    EXPECT_EQ(read[0].newNames, data.newNames);
    EXPECT_EQ(read[0].dev, 2049u);
    EXPECT_EQ(read[0].ino, 131077u);
    EXPECT_TRUE(read[1].oldNames.isEmpty());
    EXPECT_EQ(read[1].newNames, QStringList{"PROT1.RTF"});
}

TEST(RestoreJournal, TheCorpusReadsOnlyWhatIsWhole)
{
    std::vector<backup::RestoreSet> sets;
    ASSERT_TRUE(backup::ParseJournal(Corpus("whole.txt"), sets));
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[1].live, "/srv/cabinet/PROT");
    ASSERT_TRUE(backup::ParseJournal(Corpus("encoded.txt"), sets));
    EXPECT_EQ(sets[0].live, QString::fromUtf8("/srv/cabinet/Mes données"));
    const QStringList refused{"cut.txt", "outside-name.txt", "other-staging.txt", "relative.txt", "bad-number.txt",
        "name-before-dir.txt", "after-end.txt", "empty.txt"};
    for (const QString& name : refused) {
        EXPECT_FALSE(backup::ParseJournal(Corpus(name), sets)) << name.toStdString();
        EXPECT_TRUE(sets.empty()) << name.toStdString();
    }
    // Whatever the fuzz target left there reads without harm; what reads
    // as whole is written back the same.
    const QDir dir(QStringLiteral(KORVALE_SOURCE_DIR "/tests/backup/journal-corpus"));
    for (const QString& name : dir.entryList(QDir::Files)) {
        if (backup::ParseJournal(Corpus(name), sets)) {
            std::vector<backup::RestoreSet> again;
            ASSERT_TRUE(backup::ParseJournal(backup::JournalText(sets), again)) << name.toStdString();
            EXPECT_EQ(again.size(), sets.size()) << name.toStdString();
        }
    }
    // No cut of a whole journal passes for one.
    const QByteArray whole = Corpus("whole.txt");
    for (qsizetype n = 0; n + 1 < whole.size(); ++n)
        EXPECT_FALSE(backup::ParseJournal(whole.left(n), sets)) << n;
}
