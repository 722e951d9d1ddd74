// A table dataset over the practice's files, driven as the entry screens
// drive theirs: rows written and flushed at once, rows found by a text
// column.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "tests/db/fault/FaultFileSystem.h"
#include "tests/db/sql/PracticeFiles.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdbtest;

namespace {

// Notes the mark each header written to an index file carries (byte 47:
// 0 clear, 1 "in update", 3 "pending", readable by the others).
class IndexHeaderWatch : public TrackingFileSystem {
public:
    ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) override
    {
        if (offset == 0 && n > 47 && pathOf(fd).ends_with(".MDX")) {
            std::lock_guard<std::mutex> g(m_);
            marks_.push_back(static_cast<const unsigned char*>(buf)[47]);
        }
        return TrackingFileSystem::pwrite(fd, buf, n, offset);
    }
    std::vector<int> marks()
    {
        std::lock_guard<std::mutex> g(m_);
        return marks_;
    }

private:
    std::mutex m_;
    std::vector<int> marks_;
};

class TableFile : public ::testing::Test {
protected:
    void openPatients(TableDataset& t, bool flushOnPost = false)
    {
        t.setDatabaseName(dir);
        t.setTableName("PATIENT.DBF");
        t.setFlushOnPost(flushOnPost);
        t.open();
    }
    // A column of the patients, as another program's statement reads it.
    std::vector<QString> column(const std::string& field)
    {
        std::vector<QString> out;
        for (const auto& row : sql::execute(dir, "SELECT " + field + " FROM PATIENT ORDER BY CODE").result.rows)
            out.push_back(row[0].toString());
        return out;
    }
    PracticeDir practice;
    const std::string& dir = practice.dir;
};

}  // namespace

// A row posted and flushed at once (a new patient, a name changed) is
// written and forced under one hold of the table: the index is given its
// mark, then the header that clears it, never a "pending" header through
// which another program would read the row before it is on the disk.
TEST_F(TableFile, APostFlushedAtOnceReachesTheOthersOnlyOnTheDisk)
{
    TableDataset t;
    openPatients(t, true);
    IndexHeaderWatch watch;
    {
        ScopedFileSystem use(watch);
        t.append();
        t.fieldByName("CODE").setAsString("000006");
        t.fieldByName("NOM").setAsString("LEFEBVRE");
        t.fieldByName("PRENOM").setAsString("ANNE");
        t.post();
        ASSERT_TRUE(t.locate("CODE", "000003"));
        t.edit();
        t.fieldByName("NOM").setAsString("MARTINEZ");
        t.post();
    }
    EXPECT_EQ(watch.marks(), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(column("NOM"),
        (std::vector<QString>{"DUPONT", "DURAND", "MARTINEZ", "D'ARC", "DUPONT", "LEFEBVRE"}));
}

// A look-up of a text column of the table compares the stored bytes; it
// finds what a look-up of the values finds (those of a query holding the
// same rows in the same order), for accented letters, trailing blanks, an
// empty value, a prefix, the case kept or not, a letter the table's code
// page lacks, and a number or a date given for a text.
TEST_F(TableFile, ALookUpOfATextColumnFindsWhatTheValuesSay)
{
    sql::execute(dir, "UPDATE PATIENT SET PRENOM = 'Łukasz' WHERE CODE = '000004'");  // stored as "?ukasz"
    sql::execute(dir, "UPDATE PATIENT SET TEL = '15/08/1990' WHERE CODE = '000005'");
    sql::execute(dir, "UPDATE PATIENT SET ADR = '42' WHERE CODE = '000002'");
    TableDataset t;
    openPatients(t);
    QueryDataset q;
    q.setDatabaseName(dir);
    q.setSql("SELECT * FROM PATIENT");
    q.open();
    struct Probe {
        const char* field;
        QVariant value;
        LocateOptions options;
        const char* code;  // the patient found ("" for none)
    };
    const std::vector<Probe> probes = {
        {"PROFES", QString("MAÇON"), {}, "000001"},
        {"PROFES", QString("MAÇON   "), {}, "000001"},
        {"PROFES", QString("maçon"), {}, ""},
        {"PROFES", QString("maçon"), {true, false}, "000001"},
        {"PROFES", QString("INSTIT"), {false, true}, "000002"},
        {"PROFES", QString("INSTIT"), {}, ""},
        {"PROFES", QString(""), {}, "000003"},
        {"PROFES", QString(""), {false, true}, "000001"},
        {"NOM", QString("D'ARC"), {}, "000004"},
        {"NOM", QString("DUPONT"), {}, "000001"},
        {"NOM", QString("DUPONT "), {false, true}, ""},
        {"PRENOM", QString("Łukasz"), {}, ""},
        {"PRENOM", QString("?ukasz"), {}, "000004"},
        {"TEL", QDate(1990, 8, 15), {}, "000005"},
        {"ADR", 42, {}, "000002"},
        {"CODE", QString("000005"), {}, "000005"},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(std::string(p.field) + " = '" + p.value.toString().toStdString() + "'" +
            (p.options.caseInsensitive ? " case ignored" : "") + (p.options.partialKey ? " prefix" : ""));
        const bool inTable = t.locate(p.field, p.value, p.options);
        const bool inQuery = q.locate(p.field, p.value, p.options);
        EXPECT_EQ(inTable, *p.code != '\0');
        EXPECT_EQ(inQuery, inTable);
        if (inTable) {
            EXPECT_EQ(t.fieldByName("CODE").asString(), p.code);
            EXPECT_EQ(q.fieldByName("CODE").asString(), p.code);
        }
        if (!p.options.caseInsensitive && !p.options.partialKey) {  // lookup() compares so
            EXPECT_EQ(t.lookup(p.field, p.value, "CODE").toString(), QString(p.code));
            EXPECT_EQ(q.lookup(p.field, p.value, "CODE").toString(), QString(p.code));
        }
    }
}
