// Several opens of one table file: a query dataset (re)opened after a change
// made through another open of the file, in this program or another one,
// sees that change, though its table was kept open between uses.
#include <gtest/gtest.h>

#include "tests/db/sql/PracticeFiles.h"
#include "platform/db/database/Database.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdbtest;

namespace {

class SharedFile : public ::testing::Test {
protected:
    // The codes a query dataset shows, in order.
    static std::vector<QString> codes(QueryDataset& q)
    {
        std::vector<QString> out;
        for (q.first(); !q.eof(); q.next())
            out.push_back(q.fieldByName("CODE").asString());
        return out;
    }
    static std::vector<QString> reopened(QueryDataset& q)
    {
        q.close();
        q.open();
        return codes(q);
    }
    // The medicine on a prescription's first line, read by a statement.
    QString medicOf(const std::string& code)
    {
        auto r = sql::execute(*db, "SELECT MEDIC FROM FORD WHERE CODE = '" + code + "' AND NUM = 1");
        return r.result.rows.empty() ? QString() : r.result.rows[0][0].toString();
    }
    // Another program: changes FORD through an open of its own.
    void elsewhere(const std::function<void(Table&)>& change)
    {
        ASSERT_EQ(inOtherProcess([&] {
            auto t = engine::openTable(dir, "FORD", {});
            change(*t);
            t->flush();
        }),
            0);
    }
    // The distinct prescription codes, read by a query dataset kept open.
    void openCodes(QueryDataset& q)
    {
        q.setDatabase(*db);
        q.setSql("SELECT DISTINCT CODE FROM FORD ORDER BY CODE");
        q.open();
    }
    PracticeDir practice;
    const std::string& dir = practice.dir;
    std::unique_ptr<Database> db = std::make_unique<Database>(dir);
};

TEST_F(SharedFile, AQueryReopenedSeesRowsWrittenThroughAnotherOpen)
{
    QueryDataset q;
    openCodes(q);
    const size_t n = codes(q).size();
    ASSERT_GT(n, 0u);

    // A table dataset appends while the query is open.
    TableDataset t;
    t.setDatabase(*db);
    t.setTableName("FORD");
    t.open();
    t.append();
    t.fieldByName("CODE").setAsString("901");
    t.fieldByName("NUM").setAsInteger(1);
    t.fieldByName("MEDIC").setAsString("NOUVEAU");
    t.post();
    t.flushTable();
    auto seen = reopened(q);
    EXPECT_EQ(seen.size(), n + 1);
    EXPECT_EQ(seen.back(), "901");

    // An SQL INSERT, then a query opened afresh through the kept tables.
    EXPECT_EQ(sql::execute(*db, "INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('902', 1, 'AUTRE')").rowsAffected, 1);
    EXPECT_EQ(reopened(q).size(), n + 2);
    QueryDataset fresh;
    openCodes(fresh);
    EXPECT_EQ(codes(fresh).size(), n + 2);

    // An UPDATE of an existing row through the table dataset, then one
    // through SQL, while the query is open: the values are fresh.
    QueryDataset names;
    names.setDatabase(*db);
    names.setSql("SELECT CODE, MEDIC FROM FORD WHERE CODE = '2'");
    names.open();
    ASSERT_EQ(names.fieldByName("MEDIC").asString(), "AMOXICILLINE");
    ASSERT_TRUE(t.locate("CODE", QString("2")));
    t.edit();
    t.fieldByName("MEDIC").setAsString("AMOXIL");
    t.post();
    t.flushTable();
    names.close();
    names.open();
    EXPECT_EQ(names.fieldByName("MEDIC").asString(), "AMOXIL");
    EXPECT_EQ(medicOf("2"), "AMOXIL");
    EXPECT_EQ(sql::execute(*db, "UPDATE FORD SET MEDIC = 'CLAMOXYL' WHERE CODE = '2'").rowsAffected, 1);
    names.close();
    names.open();
    EXPECT_EQ(names.fieldByName("MEDIC").asString(), "CLAMOXYL");

    // A DELETE through SQL.
    EXPECT_EQ(sql::execute(*db, "DELETE FROM FORD WHERE CODE = '902'").rowsAffected, 1);
    EXPECT_EQ(reopened(q).size(), n + 1);
    t.close();
}

TEST_F(SharedFile, KeptTablesSeeAnotherProgramsAppendsAndUpdates)
{
    QueryDataset q;
    openCodes(q);
    const size_t n = codes(q).size();
    EXPECT_EQ(medicOf("10"), "VENTOLINE");
    // A table in use while the other program appends, kept idle afterwards.
    auto kept = db->openTable("FORD", {});
    const uint32_t count = kept->recordCount();
    elsewhere([](Table& t) {
        std::vector<QVariant> row(static_cast<size_t>(t.fieldCount()));
        row[0] = QString("903");
        row[1] = 1;
        t.append(row);
    });
    kept.reset();
    EXPECT_EQ(reopened(q).size(), n + 1);
    EXPECT_EQ(db->openTable("FORD", {})->recordCount(), count + 1);

    // The same size afterwards: only the row's bytes differ.
    elsewhere([](Table& t) {
        for (uint32_t r = 1; r <= t.recordCount(); ++r)
            if (t.value(r, 0).toString() == "10") {
                std::vector<QVariant> row(static_cast<size_t>(t.fieldCount()));
                for (int f = 0; f < t.fieldCount(); ++f)
                    row[static_cast<size_t>(f)] = t.value(r, f);
                row[2] = QString("SALBUTAMOL");
                t.update(r, row);
            }
    });
    EXPECT_EQ(medicOf("10"), "SALBUTAMOL");
}

// A record another program deleted after it was read: its edit is refused
// (the dataset stays in Browse), and a post finding it deleted writes
// nothing and keeps the edits.
TEST_F(SharedFile, ARecordDeletedSinceItWasReadIsNeitherEditedNorWritten)
{
    TableDataset ds;
    ds.setDatabase(*db);
    ds.setTableName("FORD");
    ds.open();
    ASSERT_TRUE(ds.locate("CODE", QString("10")));
    const uint32_t gone = ds.physicalRecNo();
    elsewhere([gone](Table& t) { t.deleteRecord(gone); });
    try {
        ds.edit();
        ADD_FAILURE() << "edit of a deleted record";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), DBERR_RECDELETED);
    }
    EXPECT_EQ(ds.state(), DatasetState::Browse);
    EXPECT_TRUE(ds.currentRowGone());

    // Deleted while this dataset edits it (here through the table it
    // edits with, which holds the record's lock).
    ds.first();
    const uint32_t rec = ds.physicalRecNo();
    const QString before = ds.fieldByName("MEDIC").asString();
    ds.edit();
    ds.fieldByName("MEDIC").setAsString("CHANGED");
    ds.table()->deleteRecord(rec);
    int posts = 0;
    ds.beforePost = [&](Dataset&) { ++posts; };
    try {
        ds.post();
        ADD_FAILURE() << "post into a deleted record";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), DBERR_RECDELETED);
    }
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(ds.state(), DatasetState::Edit);
    EXPECT_EQ(ds.fieldByName("MEDIC").asString(), "CHANGED");
    EXPECT_EQ(ds.table()->value(rec, ds.fieldByName("MEDIC").index()).toString(), before);
    ds.cancel();
}

}  // namespace
