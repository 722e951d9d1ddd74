#pragma once
// Shared helpers of the checker's engine tests: a scratch data directory and
// a recorder of the checker's events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "checker/DbCheck.h"
#include "checker/Descriptor.h"
#include "resources/schema/SchemaText.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"

namespace checkertest {

// Records every event of a checker as one text: "diff:1:Cons.DBF",
// "create:Cons.DBF", "after:1:Cons.DBF", "error:10024", "complete", ...
class EventLog {
public:
    std::vector<std::string> events;
    bool refuse = false;  // answer OnFoundDiff with Correct = false

    void attach(TDbCheck& chk)
    {
        chk.OnBeforeCheck = [this, &chk](QObject* s, TChkMessage m, const QString& t) {
            EXPECT_EQ(s, &chk);
            add("before:" + std::to_string(m) + ":" + t.toStdString());
        };
        chk.OnAfterCheck = [this, &chk](QObject* s, TChkMessage m, const QString& t) {
            EXPECT_EQ(s, &chk);
            add("after:" + std::to_string(m) + ":" + t.toStdString());
        };
        chk.OnFoundDiff = [this, &chk](QObject* s, TChkMessage m, const QString& t, bool& correct) {
            EXPECT_EQ(s, &chk);
            EXPECT_TRUE(correct);
            add("diff:" + std::to_string(m) + ":" + t.toStdString());
            if (refuse)
                correct = false;
        };
        chk.OnError = [this, &chk](QObject* s, const EDBEngineError& e) {
            EXPECT_EQ(s, &chk);
            EXPECT_STRNE(e.what(), "");
            add("error:" + std::to_string(e.code()));
        };
        chk.OnAddField = [this, &chk](QObject* s, const QString& t, const QString& f) {
            EXPECT_EQ(s, &chk);
            add("addfield:" + t.toStdString() + ":" + f.toStdString());
        };
        chk.OnModifyField = [this, &chk](QObject* s, const QString& t, const QString& f) {
            EXPECT_EQ(s, &chk);
            add("modifyfield:" + t.toStdString() + ":" + f.toStdString());
        };
        chk.OnCreateTable = [this, &chk](QObject* s, const QString& t) {
            EXPECT_EQ(s, &chk);
            add("create:" + t.toStdString());
        };
        chk.OnModifyTable = [this, &chk](QObject* s, const QString& t) {
            EXPECT_EQ(s, &chk);
            add("modifytable:" + t.toStdString());
        };
        // "damage:Cons.DBF:header,taken-back=2,after-count=1,short,memos=1,values=2,stale,tags-lost,cut=3" (what
        // was found), when the copy of the damaged files is there.
        chk.OnDamage = [this, &chk](QObject* s, const kdb::engine::DamageReport& d) {
            EXPECT_EQ(s, &chk);
            const QString table = QString::fromStdString(d.table).section(u'/', -1);
            EXPECT_TRUE(QFile::exists(QString::fromStdString(d.copyDir) + u'/' + table)) << d.copyDir;
            std::vector<std::string> what;
            if (!d.headerDamage.empty())
                what.push_back(d.headerUnrepairable ? "header-unrepaired" : "header");
            if (d.recordsTakenBack)
                what.push_back("taken-back=" + std::to_string(d.recordsTakenBack));
            if (d.recordsAfterCount)
                what.push_back("after-count=" + std::to_string(d.recordsAfterCount));
            if (d.bytesAfterRecords)
                what.push_back("bytes-after=" + std::to_string(d.bytesAfterRecords));
            if (!d.memoHeaderDamage.empty())
                what.push_back(d.memoFileLost ? "memo-header-lost" : "memo-header");
            if (d.badMemoNextFree)
                what.push_back("memo-next-free=" + std::to_string(d.memoNextFree));
            if (d.shortFile())
                what.push_back("short");
            if (d.badMemoPointers)
                what.push_back("memos=" + std::to_string(d.badMemoPointers));
            if (d.unreadableValues)
                what.push_back("values=" + std::to_string(d.unreadableValues));
            if (d.staleIndex)
                what.push_back("stale");
            if (d.indexTagsLost)
                what.push_back("tags-lost");
            if (d.valuesCut)
                what.push_back("cut=" + std::to_string(d.valuesCut));
            std::string text = "damage:" + table.toStdString() + ":";
            for (size_t i = 0; i < what.size(); ++i)
                text += (i ? "," : "") + what[i];
            add(text);
        };
        chk.OnComplete = [this, &chk](QObject* s) {
            EXPECT_EQ(s, &chk);
            add("complete");
        };
    }

    // The events whose text contains part.
    std::vector<std::string> about(const std::string& part) const
    {
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (e.find(part) != std::string::npos)
                out.push_back(e);
        }
        return out;
    }

    void add(std::string e) { events.push_back(std::move(e)); }
};

// The nine table file names of the schema, in order.
inline std::vector<std::string> schemaTables()
{
    std::vector<std::string> names;
    for (const dbcheck::TableBlock& b : dbcheck::ParseDescriptor(SchemaText()))
        names.push_back(b.fileName.toStdString());
    return names;
}

// A checker on a fresh scratch directory with the shipped schema.
class CheckerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + u'/';
        chk.CorrectPath = dir;
        chk.Descriptor = SchemaText();
        log.attach(chk);
    }

    // Runs one check with a fresh event log.
    void check()
    {
        log.events.clear();
        chk.CheckDatabase();
    }

    // The name of the directory entry equal to name ignoring case, or empty.
    QString findFile(const QString& name) const
    {
        for (const QString& entry : QDir(dir).entryList(QDir::Files)) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return entry;
        }
        return {};
    }

    std::unique_ptr<kdb::Table> open(const QString& table, bool exclusive = false)
    {
        kdb::engine::OpenOptions options;
        options.exclusive = exclusive;
        return kdb::engine::openTable(dir.toStdString(), table.toStdString(), options);
    }

    // Replaces one line of the checker's Descriptor.
    void replaceLine(const QString& from, const QString& to)
    {
        const int at = chk.Descriptor.indexOf(from);
        ASSERT_GE(at, 0) << from.toStdString();
        if (to.isNull())
            chk.Descriptor.removeAt(at);
        else
            chk.Descriptor[at] = to;
    }

    QTemporaryDir tmp;
    QString dir;
    TDbCheck chk;
    EventLog log;
};

}  // namespace checkertest
