// Tables kept open between statements: they must behave exactly as a fresh
// open would (other programs' changes seen, replaced or damaged files noticed)
// and leave the file free for other programs while idle.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include "PracticeFiles.h"
#include "tests/db/DbTestUtil.h"
#include "platform/db/core/DbError.h"
#include "platform/db/core/File.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::sql;
using namespace kdbtest;

namespace {

class IdleTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto t = engine::openTable(dir, "PATIENT", {});
        dbf = t->filePath();
        mdx = companionPath(dbf, ".MDX");
    }
    size_t patients() { return execute(dir, "SELECT * FROM PATIENT").result.rows.size(); }
    size_t byCode(const std::string& code)
    {
        return execute(dir, "SELECT * FROM PATIENT WHERE CODE = '" + code + "'").result.rows.size();
    }
    // Another program: appends one patient through an exclusive open.
    void appendElsewhere(const std::string& code)
    {
        ASSERT_EQ(inOtherProcess([&] {
            engine::OpenOptions ex;
            ex.exclusive = true;
            auto t = engine::openTable(dir, "PATIENT", ex);
            std::vector<QVariant> row(static_cast<size_t>(t->fieldCount()));
            row[0] = QString::fromStdString(code);
            t->append(row);
            t->flush();
        }),
            0)
            << "the exclusive open in the other process failed";
    }
    PracticeDir practice;
    const std::string& dir = practice.dir;
    std::string dbf, mdx;
};

TEST_F(IdleTable, LeavesTheTableFreeAndSeesAnotherProgramsAppends)
{
    const size_t n = patients();
    ASSERT_GT(n, 0u);
    EXPECT_EQ(byCode("900001"), 0u);
    appendElsewhere("900001");  // opens exclusively: fails if our idle table held a lock
    EXPECT_EQ(patients(), n + 1);
    EXPECT_EQ(byCode("900001"), 1u);
    // Exclusive in this process as well, and seen again after it closes.
    EXPECT_EQ(engine::openTableResult(dir, "PATIENT", "", true), 0);
    appendElsewhere("900002");
    EXPECT_EQ(byCode("900002"), 1u);
    EXPECT_EQ(patients(), n + 2);
}

TEST_F(IdleTable, AFileReplacedByARenameIsReadAfresh)
{
    ASSERT_TRUE(QFile::copy(QString::fromStdString(dbf), QString::fromStdString(dbf + ".keep")));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(mdx), QString::fromStdString(mdx + ".keep")));
    const size_t n = patients();
    appendElsewhere("900003");
    EXPECT_EQ(byCode("900003"), 1u);
    replaceFile(dbf + ".keep", dbf);
    replaceFile(mdx + ".keep", mdx);
    EXPECT_EQ(patients(), n);
    EXPECT_EQ(byCode("900003"), 0u);
}

TEST_F(IdleTable, ADamagedIndexIsReportedAsBeforeByTheProbeAndTheStatement)
{
    ASSERT_EQ(byCode("000001"), 1u);  // read through the tag, the table kept
    {
        QFile f(QString::fromStdString(mdx));
        ASSERT_TRUE(f.resize(1024));  // cut inside its tag table
    }
    EXPECT_EQ(codeOf([&] { byCode("000001"); }), DBERR_INDEXOUTOFDATE);
    EXPECT_EQ(engine::openTableResult(dir, "PATIENT", "", false), DBERR_INDEXOUTOFDATE);
}

TEST_F(IdleTable, AnIndexChangedInPlaceWithoutItsCounterIsNotTrustedFromMemory)
{
    ASSERT_EQ(byCode("000001"), 1u);  // read once, the table kept
    // Every block past the file header overwritten with garbage, the header
    // (and its change counter) and the size left alone: a kept table must
    // look at the file again, as a fresh open would.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the file time's granularity
    {
        QFile f(QString::fromStdString(mdx));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        ASSERT_GT(size, 2048);
        f.seek(2048);
        ASSERT_EQ(f.write(QByteArray(static_cast<int>(size - 2048), '\xEE')), size - 2048);
    }
    EXPECT_EQ(codeOf([&] { byCode("000001"); }), DBERR_INDEXOUTOFDATE);
}

}  // namespace
