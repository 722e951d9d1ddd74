// Table and query datasets: states, events, filters, locate and lookups,
// driven the way the screens drive them.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "tests/db/dataset/PracticeDatasets.h"
#include "tests/db/sql/MemTable.h"
#include "tests/db/sql/PracticeFiles.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/engine/Engine.h"
#include "platform/os/Abort.h"

using namespace kdb;
using namespace kdbtest;

namespace {

using DatasetLayer = PracticeDatasets;

// The values of a column, row by row from the first.
QStringList column(Dataset& d, const char* field)
{
    QStringList out;
    for (d.first(); !d.eof(); d.next())
        out << d.fieldByName(field).asString();
    return out;
}

// A screen in miniature: an editing flag and the button states that follow
// the dataset, as the record screens keep them.
struct FakeScreen {
    explicit FakeScreen(Dataset& ds) : ds(ds)
    {
        QObject::connect(&ds, &Dataset::stateChanged, [this] { updateButtons(); });
        ds.afterScroll = [this](Dataset& d) {
            shownName = d.fieldByName("NOM").asString();
            ++scrolls;
        };
        updateButtons();
    }
    void updateButtons()
    {
        bool editing = ds.state() == DatasetState::Edit || ds.state() == DatasetState::Insert;
        newEnabled = !editing;
        postEnabled = editing;
    }
    Dataset& ds;
    bool newEnabled = false, postEnabled = false;
    QString shownName;
    int scrolls = 0;
};

TEST_F(DatasetLayer, TableInIndexOrderNavigates)
{
    TableDataset t;
    prepare(t, "Patient", "NOM");
    FakeScreen screen(t);
    t.open();
    EXPECT_EQ(t.state(), DatasetState::Browse);
    EXPECT_EQ(screen.shownName, "D'ARC");  // opening scrolls to the first row
    EXPECT_TRUE(t.bof());
    EXPECT_FALSE(t.eof());
    EXPECT_EQ(column(t, "NOM"), (QStringList{"D'ARC", "DUPONT", "DUPONT", "DURAND", "MARTIN"}));
    EXPECT_EQ(t.recordCount(), 5);
    EXPECT_EQ(t.recNo(), 5);
    t.prior();
    EXPECT_EQ(t.fieldByName("NOM").asString(), "DURAND");
    EXPECT_EQ(t.physicalRecNo(), 2u);
    t.last();
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(screen.shownName, "MARTIN");
    EXPECT_THROW(t.fieldByName("NOPE"), EDatabaseError);
}

TEST_F(DatasetLayer, OpeningFailuresAreClear)
{
    TableDataset t;
    prepare(t, "NOTHERE.DBF");
    EXPECT_THROW(t.open(), EDBEngineError);
    EXPECT_FALSE(t.active());
    EXPECT_TRUE(t.isEmpty());
    t.setTableName("Patient.DBF");
    t.setIndexFieldNames("PRENOM");  // no tag on it: the engine's error, naming the table
    try {
        t.open();
        ADD_FAILURE() << "opened without its index";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), kdb::DBERR_NOSUCHINDEX);
        EXPECT_NE(e.file().find("Patient.DBF"), std::string::npos) << e.file();
    }
    EXPECT_FALSE(t.active());
    TableDataset empty;
    prepare(empty, "USERS.DB");
    empty.open();
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(empty.eof());
    EXPECT_TRUE(empty.bof());
    EXPECT_EQ(empty.recNo(), 0);
}

TEST_F(DatasetLayer, LocateExactOrCaseInsensitivePrefix)
{
    TableDataset t;
    prepare(t, "PATIENT.DBF", "NOM");
    t.open();
    EXPECT_TRUE(t.locate("CODE", "000003"));
    EXPECT_EQ(t.fieldByName("NOM").asString(), "MARTIN");
    EXPECT_FALSE(t.locate("NOM", "dup"));  // exact and case-sensitive: no match, cursor stays
    EXPECT_EQ(t.fieldByName("NOM").asString(), "MARTIN");
    EXPECT_TRUE(t.locate("NOM", "dur", {true, true}));
    EXPECT_EQ(t.fieldByName("CODE").asString(), "000002");
    EXPECT_TRUE(t.locate("NOM", "DUPONT"));
    EXPECT_EQ(t.fieldByName("PRENOM").asString(), "JEAN");  // first in tag order: record 1 was written first
}

TEST_F(DatasetLayer, EditPostFlushAndCutToWidth)
{
    TableDataset t;
    prepare(t, "Patient");
    t.setFlushOnPost(true);
    FakeScreen screen(t);
    int afterPosts = 0;
    t.afterPost = [&](Dataset&) { ++afterPosts; };
    t.open();
    t.locate("CODE", "000003");
    t.edit();
    EXPECT_TRUE(screen.postEnabled);
    EXPECT_FALSE(screen.newEnabled);
    t.fieldByName("SEXE").setAsString("MF");  // one character wide
    t.fieldByName("PROFES").setAsString("INFORMATICIEN");
    t.post();
    EXPECT_EQ(afterPosts, 1);
    EXPECT_TRUE(screen.newEnabled);
    EXPECT_EQ(db.get("PATIENT")->flushes, 1);
    EXPECT_EQ(db.get("PATIENT")->value(3, 9).toString(), "M");
    EXPECT_EQ(t.fieldByName("PROFES").asString(), "INFORMATICIEN");
    EXPECT_EQ(t.fieldByName("CODE").asString(), "000003");  // still on the posted row
    EXPECT_THROW(t.fieldByName("NOM").setAsString("X"), EDatabaseError);  // browse state
}

TEST_F(DatasetLayer, SilentAbortInBeforePostKeepsTheEdits)
{
    TableDataset t;
    prepare(t, "Patient");
    int afterPosts = 0;
    t.beforePost = [](Dataset& d) {
        if (d.fieldByName("ID").asString().isEmpty())
            Abort();
    };
    t.afterPost = [&](Dataset&) { ++afterPosts; };
    t.open();
    t.insert();
    t.fieldByName("CODE").setAsString("000006");
    t.fieldByName("NOM").setAsString("NOUVEAU");
    EXPECT_THROW(t.post(), EAbort);
    EXPECT_EQ(t.state(), DatasetState::Insert);
    EXPECT_EQ(t.fieldByName("NOM").asString(), "NOUVEAU");
    EXPECT_EQ(afterPosts, 0);
    EXPECT_EQ(db.get("PATIENT")->recordCount(), 5u);
    t.fieldByName("ID").setAsString("B6");
    t.post();
    EXPECT_EQ(afterPosts, 1);
    EXPECT_EQ(t.state(), DatasetState::Browse);
    EXPECT_EQ(t.fieldByName("CODE").asString(), "000006");
    EXPECT_EQ(t.recordCount(), 6);
}

TEST_F(DatasetLayer, InsertNewRecordEventAndCancel)
{
    TableDataset t;
    prepare(t, "Patient", "NOM");
    int cancels = 0;
    t.onNewRecord = [](Dataset& d) { d.fieldByName("SEXE").setAsString("F"); };
    t.afterCancel = [&](Dataset&) { ++cancels; };
    t.open();
    t.locate("NOM", "MARTIN");
    t.insert();
    EXPECT_EQ(t.fieldByName("SEXE").asString(), "F");
    EXPECT_EQ(t.loadedRowCount(), 6);
    t.cancel();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(t.fieldByName("NOM").asString(), "MARTIN");
    EXPECT_EQ(t.recordCount(), 5);
    // an untouched inserted record is dropped when the cursor moves; a touched one is posted
    t.append();
    t.first();
    EXPECT_EQ(t.recordCount(), 5);
    t.append();
    t.fieldByName("CODE").setAsString("000007");
    t.fieldByName("NOM").setAsString("AAA");
    t.last();
    EXPECT_EQ(t.recordCount(), 6);
    t.first();
    EXPECT_EQ(t.fieldByName("NOM").asString(), "AAA");  // placed by its key
}

TEST_F(DatasetLayer, PostedRecordKeepsOrMovesToItsPlace)
{
    TableDataset t;
    prepare(t, "Patient", "NOM");
    t.open();
    t.locate("CODE", "000002");  // DURAND, fourth by name
    ASSERT_EQ(t.recNo(), 4);
    t.edit();
    t.fieldByName("PROFES").setAsString("RETRAITEE");
    t.post();
    EXPECT_EQ(t.recNo(), 4);
    EXPECT_EQ(t.fieldByName("PROFES").asString(), "RETRAITEE");
    t.edit();
    t.fieldByName("NOM").setAsString("ABADIE");  // a new key: first by name now
    t.post();
    EXPECT_EQ(t.recNo(), 1);
    EXPECT_EQ(t.fieldByName("CODE").asString(), "000002");
    t.next();
    EXPECT_EQ(t.fieldByName("NOM").asString(), "D'ARC");

    TableDataset lines;  // a post that takes the record out of the filter
    openPrescriptionOne(lines, "FORD");
    lines.edit();
    lines.fieldByName("CODE").setAsString("3");
    lines.post();
    EXPECT_EQ(lines.recordCount(), 1);
    EXPECT_EQ(lines.fieldByName("MEDIC").asString(), "SPASFON");
}

TEST_F(DatasetLayer, FilterTextAndRecordFilter)
{
    TableDataset lines;
    openPrescriptionOne(lines);
    EXPECT_EQ(lines.recordCount(), 2);
    int scrolls = 0;
    lines.afterScroll = [&](Dataset&) { ++scrolls; };
    lines.setFilter("CODE='10'");
    EXPECT_EQ(scrolls, 1);
    EXPECT_EQ(lines.recordCount(), 1);
    EXPECT_EQ(lines.fieldByName("MEDIC").asString(), "VENTOLINE");
    EXPECT_EQ(lines.fieldByName("NUM").asInteger(), 1);

    TableDataset patients;
    prepare(patients, "Patient", "NOM");
    patients.onFilterRecord = [](Dataset& d) { return d.fieldByName("NOM").asString().startsWith('M'); };
    patients.setFiltered(true);
    patients.open();
    EXPECT_EQ(patients.recordCount(), 1);
    EXPECT_EQ(patients.fieldByName("NOM").asString(), "MARTIN");
}

TEST_F(DatasetLayer, DeleteMovesToTheNextRow)
{
    TableDataset t;
    prepare(t, "FBIO", "CODE");
    t.setFlushOnPost(true);
    t.open();
    t.remove();
    EXPECT_EQ(t.recordCount(), 1);
    EXPECT_EQ(t.fieldByName("CODE").asString(), "002");
    EXPECT_TRUE(db.get("FBIO")->isDeleted(1));
    EXPECT_GE(db.get("FBIO")->flushes, 1);
}

TEST_F(DatasetLayer, QueryParametersFieldsAndFailures)
{
    QueryDataset q;
    prepare(q, "SELECT * FROM CONS.DBF WHERE PATIENT=:PATIENT\r\nORDER BY DCONS");
    q.setParamText("PATIENT", "000001");
    q.open();
    EXPECT_EQ(q.recordCount(), 3);
    EXPECT_EQ(q.fieldByName("DCONS").asDate(), QDate(2023, 12, 1));
    EXPECT_EQ(q.fieldByName("DCONS").asString(), "01/12/2023");
    EXPECT_EQ(q.fieldByName("ID_CONS").asInteger(), 3);
    EXPECT_THROW(q.edit(), EDatabaseError);
    EXPECT_TRUE(q.locate("ID_CONS", "4"));
    EXPECT_EQ(q.recNo(), 3);

    QueryDataset bad;
    prepare(bad, "SELECT * FROM NOWHERE");
    EXPECT_THROW(bad.open(), EDBEngineError);
    EXPECT_TRUE(bad.isEmpty());
    EXPECT_EQ(bad.recordCount(), 0);
    EXPECT_TRUE(bad.eof());

    QueryDataset dn;
    prepare(dn, "SELECT DN FROM PATIENT WHERE CODE='000002'");
    dn.open();
    EXPECT_EQ(dn.fieldByName("DN").asString(), "00/00/1975");
    EXPECT_THROW(dn.fieldByName("DN").asDate(), EDatabaseError);

    QueryDataset ins;
    prepare(ins, "INSERT INTO FBIO (CODE, LIBELLE) VALUES ('003', 'UREE')");
    EXPECT_EQ(ins.execSql(), 1);
    ins.setSql("SELECT * FROM FBIO ORDER BY LIBELLE");
    ins.open();
    EXPECT_EQ(ins.recordCount(), 3);
    EXPECT_NE(ins.plan().find("read tag NOM"), std::string::npos);
}

TEST_F(DatasetLayer, LookupFieldTakesItsLabelFromAnotherDataset)
{
    QueryDataset bio;
    prepare(bio, "SELECT * FROM FBIO");
    bio.open();
    TableDataset exams;
    prepare(exams, "EXCOMP");
    exams.addLookupField("LIBELLE", "CODE", &bio, "CODE", "LIBELLE", 60);
    exams.open();
    EXPECT_EQ(exams.fieldByName("LIBELLE").asString(), "NFS");
    exams.next();
    EXPECT_EQ(exams.fieldByName("LIBELLE").asString(), "GLYCEMIE");
    EXPECT_EQ(bio.recNo(), 1);  // the lookup does not move the other cursor
    exams.edit();
    exams.fieldByName("CODE").setAsString("001");
    EXPECT_EQ(exams.fieldByName("LIBELLE").asString(), "NFS");  // follows the edit buffer
    EXPECT_THROW(exams.fieldByName("LIBELLE").setAsString("X"), EDatabaseError);
    exams.cancel();
}

TEST_F(DatasetLayer, NotificationsForTheWidgets)
{
    TableDataset t;
    prepare(t, "FBIO");
    QSignalSpy reset(&t, &Dataset::rowsReset);
    QSignalSpy current(&t, &Dataset::currentChanged);
    t.open();
    EXPECT_EQ(reset.count(), 1);
    int before = current.count();
    t.next();
    EXPECT_GT(current.count(), before);
    t.disableControls();
    int resets = reset.count();
    t.close();
    t.open();
    EXPECT_EQ(reset.count(), resets);
    t.enableControls();
    EXPECT_EQ(reset.count(), resets + 1);
}

// The same uses on table files created through the engine.
TEST(DatasetOnFiles, TableAndQueryOverEngineTables)
{
    PracticeDir practice;
    const std::string& dir = practice.dir;

    TableDataset t;
    t.setDatabaseName(dir);
    t.setTableName("patient");  // any case, no extension
    t.setIndexFieldNames("NOM");
    t.setFlushOnPost(true);
    t.open();
    EXPECT_EQ(column(t, "NOM"), (QStringList{"D'ARC", "DUPONT", "DUPONT", "DURAND", "MARTIN"}));
    EXPECT_TRUE(t.locate("NOM", "mar", {true, true}));
    t.insert();
    t.fieldByName("CODE").setAsString("000006");
    t.fieldByName("NOM").setAsString("BERNARD");
    t.post();
    EXPECT_EQ(t.recNo(), 1);
    t.append();
    t.fieldByName("CODE").setAsString("000006");
    EXPECT_THROW(t.post(), EDBEngineError);  // unique CODE tag
    EXPECT_EQ(t.state(), DatasetState::Insert);
    t.cancel();
    EXPECT_TRUE(t.locate("CODE", "000004"));
    t.remove();
    EXPECT_EQ(t.recordCount(), 5);
    t.close();

    QueryDataset q;
    q.setDatabaseName(dir);
    q.setSql("SELECT CODE, NOM FROM PATIENT ORDER BY NOM");
    q.open();
    EXPECT_EQ(q.recordCount(), 5);
    EXPECT_EQ(q.fieldByName("NOM").asString(), "BERNARD");

    TableDataset lines;
    lines.setDatabaseName(dir);
    lines.setTableName("FORD.DBF");
    lines.setFilter("CODE='1'");
    lines.setFiltered(true);
    lines.open();
    EXPECT_EQ(lines.recordCount(), 2);
    lines.edit();
    lines.fieldByName("POSOLOGIE").setAsString("MATIN ET SOIR");
    lines.post();
    QueryDataset check;
    check.setDatabaseName(dir);
    check.setSql("SELECT POSOLOGIE FROM FORD WHERE CODE='1' AND NUM=1");
    check.open();
    EXPECT_EQ(check.fieldByName("POSOLOGIE").asString(), "MATIN ET SOIR");
}

// A query reads its rows as the cursor needs them, each row keeping what
// its record held when it was read; a statement that returns no rows is not
// run by open().
TEST(DatasetOnFiles, QueryRowsAreReadOnDemandAndKeepWhatTheyRead)
{
    PracticeDir practice;
    const std::string& dir = practice.dir;
    {
        auto ex = engine::openTable(dir, "EXCOMP");
        for (int i = 5; i <= 400; ++i)
            ex->append({QString::number(i).rightJustified(6, '0'), "000003", QDate(2024, 5, 1), "B", "001", "RAS"});
        ex->flush();
    }
    QueryDataset q;
    q.setDatabaseName(dir);
    q.setSql("SELECT NUM, RESULTAT, DATE_EX FROM EXCOMP");
    q.open();
    EXPECT_FALSE(q.allRowsLoaded());
    EXPECT_EQ(q.fieldByName("RESULTAT").asString(), "NORMAL");
    EXPECT_EQ(q.recordCount(), 400);
    QueryDataset change;
    change.setDatabaseName(dir);
    change.setSql("UPDATE EXCOMP SET RESULTAT='REVU' WHERE NUM='000001'");
    EXPECT_EQ(change.execSql(), 1);
    q.first();
    EXPECT_EQ(q.fieldByName("RESULTAT").asString(), "NORMAL");
    EXPECT_EQ(q.fieldByName("DATE_EX").asDate(), QDate(2024, 3, 5));
    q.last();
    EXPECT_EQ(q.fieldByName("NUM").asString(), "000400");
    q.close();  // run again: the rows as the table holds them now
    q.open();
    EXPECT_EQ(q.fieldByName("RESULTAT").asString(), "REVU");

    QueryDataset notRows;
    notRows.setDatabaseName(dir);
    notRows.setSql("DELETE FROM EXCOMP");
    EXPECT_THROW(notRows.open(), EDatabaseError);
    EXPECT_EQ(sql::execute(dir, "SELECT NUM FROM EXCOMP").result.rows.size(), 400u);
}

// A filter COLUMN='value' on a query is read through the column's tag: the
// join reads that day's appointments only, and switching the filter off or
// to another day gives the other rows back.
TEST_F(DatasetLayer, QueryFilterIsReadThroughTheTag)
{
    QueryDataset q;
    prepare(q,
        QStringList{"SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF, CODE, (NOM + ', ' + PRENOM)", "FROM FRDV, PATIENT",
            "WHERE PATIENT=CODE", "ORDER BY DATE_RDV, HRE_RDV"});
    q.setFilter("DATE_RDV='05/03/2024'");
    q.setFiltered(true);
    q.open();
    const auto nums = [&q] { return column(q, "NUM"); };
    EXPECT_EQ(nums(), (QStringList{"000002", "000001"}));
    EXPECT_NE(q.plan().find("FRDV: seek tag DATE_RDV"), std::string::npos) << q.plan();
    q.setFilter("DATE_RDV='01/03/2024'");
    EXPECT_EQ(nums(), QStringList{"000004"});
    q.setFiltered(false);
    EXPECT_EQ(nums(), (QStringList{"000004", "000002", "000001"}));  // 000003 has no patient
    EXPECT_EQ(q.plan().find("seek tag DATE_RDV"), std::string::npos) << q.plan();
    // A filter on a computed column or a text the statement cannot say is
    // still applied by the dataset.
    q.setFilter("MOTIF='BILAN'");
    q.setFiltered(true);
    EXPECT_EQ(nums(), QStringList{"000004"});
    q.setFilter("(NOM + ', ' + PRENOM)='DUPONT, JEAN'");
    EXPECT_EQ(nums(), QStringList{"000002"});
    EXPECT_THROW(q.setFilter("DATE_RDV='31/02/2024'"), EDatabaseError);  // no such date
}

// The same filter on a table, read through its tag: physical order kept,
// the tag's order kept, a deleted record left out, another order's tag
// filtered row by row.
TEST_F(DatasetLayer, TableFilterIsReadThroughTheTag)
{
    sql::execute(db.database,
        "INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES "
        "('000005', '000003', '3/5/2024', '07:00', 'PREMIER')");
    sql::execute(db.database,
        "INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES "
        "('000006', '000003', '3/5/2024', '07:30', 'ANNULE')");
    sql::execute(db.database, "DELETE FROM FRDV WHERE NUM='000006'");
    for (const char* order : {"", "DATE_RDV"}) {
        TableDataset t;
        prepare(t, "FRDV");
        t.setIndexFieldNames(order);
        t.setFilter("DATE_RDV='05/03/2024'");
        t.setFiltered(true);
        t.open();
        EXPECT_EQ(column(t, "NUM"), (QStringList{"000001", "000002", "000005"})) << order;
        t.setFilter("DATE_RDV='04/03/2024'");
        EXPECT_EQ(t.recordCount(), 1);
        EXPECT_EQ(t.fieldByName("MOTIF").asString(), "ORPHELIN");
    }
    TableDataset t;
    prepare(t, "FRDV");
    t.setFilter("PATIENT='000003'");  // no tag on it
    t.setFiltered(true);
    t.open();
    EXPECT_EQ(t.recordCount(), 2);
}

// A table whose tag cursors count the index entries they reach.
class CountingTable : public ForwardTable {
public:
    using ForwardTable::ForwardTable;
    std::unique_ptr<TagCursor> openTag(std::string_view tag) override
    {
        return std::make_unique<Cursor>(ForwardTable::openTag(tag), entries);
    }
    long entries = 0;

private:
    class Cursor : public TagCursor {
    public:
        Cursor(std::unique_ptr<TagCursor> c, long& n) : c_(std::move(c)), n_(n) { }
        uint32_t first() override { return step(c_->first()); }
        uint32_t last() override { return step(c_->last()); }
        uint32_t next() override { return step(c_->next()); }
        uint32_t prior() override { return step(c_->prior()); }
        uint32_t current() const override { return c_->current(); }
        uint32_t seek(const QVariant& key, bool partial) override { return step(c_->seek(key, partial)); }
        std::string_view currentKey() const override { return c_->currentKey(); }

    private:
        uint32_t step(uint32_t r)
        {
            ++n_;
            return r;
        }
        std::unique_ptr<TagCursor> c_;
        long& n_;
    };
};

// A large table in name order: moving to a record, going on either way
// from it, refreshing and counting read a bounded part of the tag.
TEST(DatasetOnLargeTable, PositioningByKeyReadsABoundedPartOfTheTag)
{
    constexpr int kRows = 50000;
    MemDatabase mem;
    auto big = mem.add("BIG", {{"CODE", 'C', 6}, {"NOM", 'C', 20}}, {{"NOM", "NOM"}});
    std::vector<std::pair<QString, uint32_t>> order;  // (name, record) in name order
    for (int i = 0; i < kRows; ++i) {
        const QString nom = QString("NOM%1").arg((i * 7919) % 20000, 5, 10, QChar('0'));  // names shared by 2 or 3
        const uint32_t r = big->append({QString::number(i + 1).rightJustified(6, '0'), nom});
        order.push_back({nom, r});
    }
    big->deleteRecord(order[100].second);
    std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.first < b.first; });
    order.erase(
        std::remove_if(order.begin(), order.end(), [&](auto& e) { return big->isDeleted(e.second); }), order.end());
    std::shared_ptr<CountingTable> counting;
    Database db("/mem", [&](const std::string&, const std::string&, const TableOpenMode&) {
        counting = std::make_shared<CountingTable>(big);
        return counting;
    });
    TableDataset t;
    t.setDatabase(db);
    t.setTableName("BIG");
    t.setIndexFieldNames("NOM");
    t.open();
    QSignalSpy resets(&t, &Dataset::rowsReset);

    // the second record of a name shared by several, in the middle of the tag
    size_t at = kRows / 2;
    while (order[at].first != order[at - 1].first)
        ++at;
    counting->entries = 0;
    ASSERT_TRUE(t.gotoRecord(order[at].second));
    EXPECT_LT(counting->entries, 200);
    EXPECT_EQ(t.physicalRecNo(), order[at].second);
    EXPECT_GE(resets.count(), 1);

    // going on both ways from it follows the tag's order
    counting->entries = 0;
    for (int i = 1; i <= 70; ++i) {
        t.prior();
        ASSERT_EQ(t.physicalRecNo(), order[at - i].second) << i;
    }
    EXPECT_FALSE(t.atFirstRow());
    for (int i = -69; i <= 80; ++i) {
        t.next();
        ASSERT_EQ(t.physicalRecNo(), order[at + i].second) << i;
    }
    EXPECT_LT(counting->entries, 600);

    // another program appends a record that comes first and deletes the
    // current one: the refresh stays on the one that followed it
    const uint32_t cur = t.physicalRecNo();
    big->append({"999999", "AAA"});
    big->deleteRecord(cur);
    counting->entries = 0;
    t.refresh();
    EXPECT_LT(counting->entries, 800);
    EXPECT_EQ(t.physicalRecNo(), order[at + 81].second);
    t.prior();
    EXPECT_EQ(t.physicalRecNo(), order[at + 79].second);

    counting->entries = 0;
    EXPECT_EQ(t.approximateRecordCount(), kRows + 1);  // records deleted elsewhere are counted
    EXPECT_EQ(counting->entries, 0);
    t.first();
    EXPECT_EQ(t.fieldByName("NOM").asString(), "AAA");
    EXPECT_TRUE(t.atFirstRow());
    EXPECT_LT(counting->entries, 200);
    EXPECT_EQ(t.recordCount(), kRows - 1);  // the exact count reads them all
}

// The order in which a table's records are looked at.
class ReadOrderTable : public ForwardTable {
public:
    using ForwardTable::ForwardTable;
    bool isDeleted(uint32_t r) override
    {
        looked.push_back(r);
        return ForwardTable::isDeleted(r);
    }
    std::vector<uint32_t> looked;
};

// A long read in a tag's order looks at the table's records in file order,
// a batch at a time (a long result then holds no more of the table than a
// read in file order), and gives its rows in the tag's order, without the
// deleted records and those the WHERE clause leaves out.
TEST(DatasetOnLargeTable, ALongReadInATagsOrderLooksAtTheRecordsInFileOrder)
{
    constexpr int kRows = 20000;
    MemDatabase mem;
    auto big = mem.add("BIG", {{"CODE", 'C', 6}, {"NOM", 'C', 20}, {"VILLE", 'C', 10}}, {{"NOM", "NOM"}});
    std::vector<std::pair<QString, uint32_t>> order;  // (name, record) in the tag's order
    for (int i = 0; i < kRows; ++i) {
        const QString nom = QString("NOM%1").arg((i * 7919) % 9000, 5, 10, QChar('0'));
        const uint32_t r =
            big->append({QString::number(i + 1).rightJustified(6, '0'), nom, i % 7 == 0 ? "LYON" : "PARIS"});
        order.push_back({nom, r});
    }
    for (uint32_t r = 3; r <= kRows; r += 101)
        big->deleteRecord(r);
    std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.first < b.first; });
    QStringList expected;
    for (const auto& [nom, r] : order)
        if (!big->isDeleted(r) && (r - 1) % 7 != 0)
            expected << QString::number(r).rightJustified(6, '0');
    std::shared_ptr<ReadOrderTable> table;
    Database db("/mem", [&](const std::string&, const std::string&, const TableOpenMode&) {
        table = std::make_shared<ReadOrderTable>(big);
        return table;
    });
    QueryDataset q;
    q.setDatabase(db);
    q.setSql("SELECT CODE, NOM FROM BIG WHERE VILLE <> 'LYON' ORDER BY NOM");
    q.open();
    EXPECT_EQ(column(q, "CODE"), expected);
    ASSERT_TRUE(table);
    EXPECT_GE(table->looked.size(), static_cast<size_t>(expected.size()));
    // each batch walks forward through the file: a step back starts the next one
    int stepsBack = 0;
    for (size_t i = 1; i < table->looked.size(); ++i)
        stepsBack += table->looked[i] < table->looked[i - 1] ? 1 : 0;
    EXPECT_LT(stepsBack, 20);
}

}  // namespace

