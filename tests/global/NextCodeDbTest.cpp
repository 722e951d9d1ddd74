// NextCode on real tables of a data directory, and its allocation lock.
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/core/File.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "platform/os/Abort.h"
#include "platform/ui/Messages.h"
#include "tests/support/TempPractice.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

class NextCodeDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        practice_.CreateTables();
        InstallDatabaseKeyColumns();
        SetCodeAllocationTimeout(300);
    }
    void TearDown() override
    {
        ReleaseCodeAllocation();
        SetCodeAllocationTimeout(15000);
    }
    void AddPatients(std::initializer_list<const char*> codes)
    {
        auto t = kdb::engine::openTable(data_.toStdString(), "Patient.DBF");
        for (const char* c : codes)
            t->append({QString(c), QString("X")});
        t->flush();
    }
    QString Next() { return NextCode("PATIENT", data_, "CODE", 6); }

    TempPractice practice_;
    const QString data_ = DataPath;
    kui::RecordingMessageService& messages_ = practice_.messages();
};

TEST_F(NextCodeDbTest, FollowsTheGreatestCodeOfTheTable)
{
    EXPECT_EQ(Next(), "000001");
    AddPatients({"000001", "000041", "000007"});
    EXPECT_EQ(Next(), "000042");
    AddPatients({"000042"});
    EXPECT_EQ(Next(), "000043");
    AddPatients({"00009Z"});
    EXPECT_EQ(Next(), "00010A");
}

TEST_F(NextCodeDbTest, AColumnWithoutATagIsReadThroughTheOrderedQuery)
{
    // EXCOMP.NUM has no tag.
    EXPECT_EQ(NextCode("EXCOMP", data_, "NUM", 6), "000001");
    auto t = kdb::engine::openTable(data_.toStdString(), "EXCOMP.DBF");
    for (const char* num : {"000010", "000003", "000011"})
        t->append({QString(num), QString("000001")});
    t->flush();
    t.reset();
    EXPECT_EQ(NextCode("EXCOMP", data_, "NUM", 6), "000012");
}

TEST_F(NextCodeDbTest, CodesDifferingOnlyByCaseAreDifferentValues)
{
    AddPatients({"0000AZ", "0000Az"});  // "0000Az" sorts last in byte order
    EXPECT_THROW(Next(), EAbort);  // ... and holds a small letter
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Code Incorrect ! 0000Az");
}

TEST_F(NextCodeDbTest, ASmallLetterStopsWithCodeIncorrect)
{
    AddPatients({"00012a"});
    EXPECT_THROW(Next(), EAbort);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Code Incorrect ! 00012a");
    // The failed allocation gave its lock back.
    auto path = kdb::engine::openTable(data_.toStdString(), "Patient.DBF")->filePath();
    auto other = kdb::File::open(path, kdb::File::Mode::ReadWrite);
    EXPECT_TRUE(other.tryLock(CodeAllocationLockOffset(), 1, true));
}

TEST_F(NextCodeDbTest, AnotherProgramsAllocationIsWaitedForUntilItsRowIsWritten)
{
    const std::string path = kdb::engine::openTable(data_.toStdString(), "Patient.DBF")->filePath();
    // "Another program" holds the allocation of the patient table.
    auto other = kdb::File::open(path, kdb::File::Mode::ReadWrite);
    ASSERT_TRUE(other.tryLock(CodeAllocationLockOffset(), 1, true));
    try {
        Next();
        FAIL() << "allocated while another program was allocating";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), kdb::DBERR_LOCKED);
    }
    // It writes its row with 000001 and lets go: we get the next code.
    AddPatients({"000001"});
    other.unlock(CodeAllocationLockOffset(), 1);
    EXPECT_EQ(Next(), "000002");
    // Our allocation now holds the lock until the row is written.
    EXPECT_FALSE(other.tryLock(CodeAllocationLockOffset(), 1, true));
    ReleaseCodeAllocation();
    EXPECT_TRUE(other.tryLock(CodeAllocationLockOffset(), 1, true));
}

}  // namespace
