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
