#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/db/core/DbError.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/core/File.h"

#include <sys/stat.h>

using namespace kdb;

class FileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const char* name) const { return dir.path().toStdString() + "/" + name; }
};

TEST_F(FileTest, MissingFileIsNoSuchTable)
{
    try {
        File::open(path("none.dbf"), File::Mode::ReadOnly);
        FAIL() << "opened a missing file";
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.code(), DBERR_NOSUCHTABLE);
    }
}

TEST_F(FileTest, WriteReadAndShortRead)
{
    File f = File::open(path("a.bin"), File::Mode::Create);
    f.writeAt(10, "hello", 5);
    EXPECT_EQ(f.size(), 15u);
    char buf[8] = {};
    EXPECT_EQ(f.readAt(10, buf, 8), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_THROW(f.readExact(12, buf, 8, DBERR_READERR), EDBEngineError);
}

// Locks belong to each open file, also within one process.
TEST_F(FileTest, LocksConflictBetweenOpenFilesOfOneProcess)
{
    File a = File::open(path("l.bin"), File::Mode::Create);
    File b = File::open(path("l.bin"), File::Mode::ReadWrite);
    ASSERT_TRUE(a.tryLock(1000, 1, true));
    EXPECT_FALSE(b.tryLock(1000, 1, true));
    EXPECT_FALSE(b.tryLock(1000, 1, false));
    EXPECT_TRUE(b.tryLock(1001, 1, true));
    {
        // Closing a third descriptor of the same file keeps a's lock.
        File c = File::open(path("l.bin"), File::Mode::ReadOnly);
    }
    EXPECT_FALSE(b.tryLock(1000, 1, true));
    a.unlock(1000, 1);
    EXPECT_TRUE(b.tryLock(1000, 1, true));
}

TEST_F(FileTest, SharedLocksCoexistButBlockExclusive)
{
    File a = File::open(path("s.bin"), File::Mode::Create);
    File b = File::open(path("s.bin"), File::Mode::ReadWrite);
    File c = File::open(path("s.bin"), File::Mode::ReadWrite);
    EXPECT_TRUE(a.tryLock(5, 1, false));
    EXPECT_TRUE(b.tryLock(5, 1, false));
    EXPECT_FALSE(c.tryLock(5, 1, true));
    EXPECT_FALSE(c.lockWait(5, 1, true, 30));
}

TEST_F(FileTest, CompanionPathFindsExistingNameInAnyCase)
{
    File::open(path("Cons.dbf"), File::Mode::Create);
    File::open(path("cons.MDX"), File::Mode::Create);
    EXPECT_EQ(companionPath(path("Cons.dbf"), ".MDX"), path("cons.MDX"));
    EXPECT_EQ(companionPath(path("Cons.dbf"), ".DBT"), path("Cons.dbt"));
    EXPECT_EQ(companionPath(path("Cons.DBF"), ".DBT"), path("Cons.DBT"));
    EXPECT_EQ(findFileNoCase(dir.path().toStdString(), "CONS.DBF"), path("Cons.dbf"));
}

TEST_F(FileTest, NameFoundInAnyCaseFollowsARenameOrARemoval)
{
    const std::string d = dir.path().toStdString();
    File::open(path("Patient.DBF"), File::Mode::Create);
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("Patient.DBF"));
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("Patient.DBF"));  // found again without change
    replaceFile(path("Patient.DBF"), path("patient.dbf"));
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("patient.dbf"));
    removeFile(path("patient.dbf"));
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("PATIENT.DBF"));  // none: the name as given
    // A file of the exact name wins over one found in another case.
    File::open(path("Patient.DBF"), File::Mode::Create);
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("Patient.DBF"));
    File::open(path("PATIENT.DBF"), File::Mode::Create);
    EXPECT_EQ(findFileNoCase(d, "PATIENT.DBF"), path("PATIENT.DBF"));
}

TEST_F(FileTest, NameLookupTellsWhetherTheFileExists)
{
    const std::string d = dir.path().toStdString();
    bool exists = true;
    EXPECT_EQ(findFileNoCase(d, "FRDV.DBF", exists), path("FRDV.DBF"));
    EXPECT_FALSE(exists);
    File::open(path("Frdv.dbf"), File::Mode::Create);
    EXPECT_EQ(findFileNoCase(d, "FRDV.DBF", exists), path("Frdv.dbf"));
    EXPECT_TRUE(exists);
    EXPECT_EQ(findFileNoCase(d, "FRDV.DBF", exists), path("Frdv.dbf"));  // the remembered name
    EXPECT_TRUE(exists);
    removeFile(path("Frdv.dbf"));
    findFileNoCase(d, "FRDV.DBF", exists);
    EXPECT_FALSE(exists);
    QDir(QString::fromStdString(d)).mkdir("EXAMS.DBF");  // a directory is no table file
    findFileNoCase(d, "EXAMS.DBF", exists);
    EXPECT_FALSE(exists);
}

TEST_F(FileTest, ReplaceFileIsARename)
{
    {
        File f = File::open(path("new"), File::Mode::Create);
        f.writeAt(0, "N", 1);
        File g = File::open(path("old"), File::Mode::Create);
        g.writeAt(0, "O", 1);
    }
    replaceFile(path("new"), path("old"));
    EXPECT_FALSE(fileExists(path("new")));
    File f = File::open(path("old"), File::Mode::ReadOnly);
    char c = 0;
    f.readExact(0, &c, 1, DBERR_READERR);
    EXPECT_EQ(c, 'N');
}

// The repairs' copies and logs in a group-shared data directory are shared
// as the directory is (its group rights and setgid bit), so that every
// workstation of the group can log and read them.
TEST_F(FileTest, RepairCopiesAndLogsAreSharedAsTheDataDirectory)
{
    const std::string data = path("Data");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(data)));
    const mode_t old = ::umask(022);
    ASSERT_EQ(::chmod(data.c_str(), 02770), 0);
    {
        File t = File::open(data + "/FRDV.DBF", File::Mode::Create);
        t.writeAt(0, "x", 1);
    }
    ASSERT_TRUE(logDamage(data + "/FRDV.DBF", "réparé"));
    const std::string copy = keepDamagedCopy(data + "/FRDV.DBF");
    ::umask(old);
    auto mode = [](const std::string& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    EXPECT_EQ(mode(data + "/Damaged"), 02770u);
    EXPECT_EQ(mode(damageLogPath(data)), 0660u);
    EXPECT_EQ(mode(copy), 02770u);
    EXPECT_EQ(mode(copy + "/FRDV.DBF"), 0660u);
    EXPECT_EQ(takeDamageLog(data).size(), 1u);
    EXPECT_EQ(mode(data + "/Damaged/repairs-shown.log"), 0660u);
}
