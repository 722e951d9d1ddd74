// Tables kept open between statements: they must behave exactly as a fresh
// open would (other programs' changes seen, replaced or damaged files noticed)
// and leave the file free for other programs while idle.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "PracticeFiles.h"
#include "tests/db/DbTestUtil.h"
#include "platform/db/core/DbError.h"
#include "platform/db/core/File.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::sql;
using namespace kdbtest;

namespace {

// Counts, per file name, the calls that look at a file or move data.
class CountingFileSystem : public FileSystem {
public:
    struct Calls {
        int opens = 0, stats = 0, reads = 0, writes = 0, syncs = 0;
    };
    int open(const std::string& path, int flags, mode_t mode) override
    {
        const int fd = FileSystem::open(path, flags, mode);
        std::lock_guard<std::mutex> g(m_);
        calls_[nameOf(path)].opens++;
        if (fd >= 0)
            names_[fd] = nameOf(path);
        return fd;
    }
    int close(int fd) override
    {
        {
            std::lock_guard<std::mutex> g(m_);
            names_.erase(fd);
        }
        return FileSystem::close(fd);
    }
    ssize_t pread(int fd, void* buf, size_t n, off_t offset) override
    {
        count(fd).reads++;
        return FileSystem::pread(fd, buf, n, offset);
    }
    ssize_t preadv(int fd, const struct iovec* iov, int n, off_t offset) override
    {
        count(fd).reads++;
        return FileSystem::preadv(fd, iov, n, offset);
    }
    ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) override
    {
        count(fd).writes++;
        return FileSystem::pwrite(fd, buf, n, offset);
    }
    int fsync(int fd) override
    {
        count(fd).syncs++;
        return FileSystem::fsync(fd);
    }
    int fdatasync(int fd) override
    {
        count(fd).syncs++;
        return FileSystem::fdatasync(fd);
    }
    int fstat(int fd, struct stat* st) override
    {
        count(fd).stats++;
        return FileSystem::fstat(fd, st);
    }
    int stat(const std::string& path, struct stat* st) override
    {
        {
            std::lock_guard<std::mutex> g(m_);
            calls_[nameOf(path)].stats++;
        }
        return FileSystem::stat(path, st);
    }
    Calls of(const std::string& name)
    {
        std::lock_guard<std::mutex> g(m_);
        return calls_[name];
    }

private:
    static std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
    Calls& count(int fd)
    {
        std::lock_guard<std::mutex> g(m_);
        auto it = names_.find(fd);
        if (it == names_.end()) {  // opened before this file system was put in place
            char target[4096];
            const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
            it = names_.emplace(fd, nameOf(std::string(target, n > 0 ? static_cast<size_t>(n) : 0))).first;
        }
        return calls_[it->second];
    }
    std::mutex m_;
    std::map<int, std::string> names_;
    std::map<std::string, Calls> calls_;
};

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
    // Another program: appends one patient through an exclusive open;
    // answers its exit status (1: the exclusive open was refused).
    int appendThroughExclusiveOpen(const std::string& code, bool exclusive = true)
    {
        return inOtherProcess([&] {
            engine::OpenOptions ex;
            ex.exclusive = exclusive;
            auto t = engine::openTable(dir, "PATIENT", ex);
            std::vector<QVariant> row(static_cast<size_t>(t->fieldCount()));
            row[0] = QString::fromStdString(code);
            t->append(row);
            t->flush();
        });
    }
    void appendElsewhere(const std::string& code)
    {
        ASSERT_EQ(appendThroughExclusiveOpen(code), 0) << "the exclusive open in the other process failed";
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

// A one-row statement on a kept table looks at each file's path once (when
// it takes the table back from idle), reads the index's header once under
// its lock, and a change of a column no tag holds leaves the index file
// alone and forces the table once: it is still on the disk when the call
// returns. Another program's change is seen all the same.
TEST_F(IdleTable, AOneRowStatementLooksAtEachFileOnceAndForcesTheTableAlone)
{
    ASSERT_EQ(byCode("000001"), 1u);  // the table kept from here on
    const std::string table = dbf.substr(dbf.find_last_of('/') + 1), index = mdx.substr(mdx.find_last_of('/') + 1);
    {
        CountingFileSystem fs;
        ScopedFileSystem use(fs);
        ASSERT_EQ(byCode("000001"), 1u);
        EXPECT_EQ(fs.of(table).stats, 1);
        EXPECT_EQ(fs.of(index).stats, 1);
        EXPECT_EQ(fs.of(index).reads, 1);
    }
    ASSERT_EQ(execute(dir, "UPDATE PATIENT SET TEL='0102030405' WHERE CODE='000001'").rowsAffected, 1);
    {
        CountingFileSystem fs;
        ScopedFileSystem use(fs);
        ASSERT_EQ(execute(dir, "UPDATE PATIENT SET TEL='0607080910' WHERE CODE='000001'").rowsAffected, 1);
        EXPECT_EQ(fs.of(index).stats, 1);
        EXPECT_EQ(fs.of(index).writes, 0);
        EXPECT_EQ(fs.of(index).syncs, 0);
        EXPECT_EQ(fs.of(table).writes, 1);
        EXPECT_EQ(fs.of(table).syncs, 1);
    }
    appendElsewhere("900004");
    EXPECT_EQ(byCode("900004"), 1u);
    EXPECT_EQ(execute(dir, "SELECT TEL FROM PATIENT WHERE CODE='000001'").result.rows.at(0).at(0).toString(),
        QStringLiteral("0607080910"));
}

// A change made through another open of the file in this program (the
// record rewritten in place: same size, and most likely within the same
// tick of the file's time) is read by the kept table at once, which takes
// its files back without opening them again.
TEST_F(IdleTable, AChangeThroughAnotherOpenOfThisProgramIsReadWithoutOpeningTheFilesAgain)
{
    const auto tel = [&] {
        return execute(dir, "SELECT TEL FROM PATIENT WHERE CODE='000001'").result.rows.at(0).at(0).toString();
    };
    const QString before = tel();  // the table kept from here on, its record read
    const QString changed =
        before == QStringLiteral("0102030405") ? QStringLiteral("0504030201") : QStringLiteral("0102030405");
    {
        auto t = engine::openTable(dir, "PATIENT", {});
        const int code = t->fieldIndex("CODE"), phone = t->fieldIndex("TEL");
        uint32_t rec = 0;
        for (uint32_t r = 1; r <= t->recordCount() && !rec; ++r)
            if (t->value(r, code).toString().trimmed() == QStringLiteral("000001"))
                rec = r;
        ASSERT_NE(rec, 0u);
        t->updateFields(rec, {{phone, changed}});
        std::vector<QVariant> row(static_cast<size_t>(t->fieldCount()));
        row[static_cast<size_t>(code)] = QStringLiteral("900005");
        t->append(row);
        t->flush();
    }
    CountingFileSystem fs;
    ScopedFileSystem use(fs);
    EXPECT_EQ(tel(), changed);
    EXPECT_EQ(byCode("900005"), 1u);
    EXPECT_EQ(fs.of(dbf.substr(dbf.find_last_of('/') + 1)).opens, 0);
    EXPECT_EQ(fs.of(mdx.substr(mdx.find_last_of('/') + 1)).opens, 0);
}

// Whether the file is mapped into this process.
bool mapped(const std::string& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(QString::fromStdString(path)));
}

// A one-row statement on a table just opened (a program that has just
// started) reads its record through the table's own open: the file is not
// opened a second time to be mapped. A scan maps it.
TEST_F(IdleTable, AOneRowStatementOnATableJustOpenedDoesNotMapIt)
{
    ASSERT_FALSE(mapped(dbf));
    EXPECT_EQ(execute(dir, "UPDATE PATIENT SET TEL='0102030405' WHERE CODE='000002'").rowsAffected, 1);
    EXPECT_EQ(execute(dir, "SELECT TEL FROM PATIENT WHERE CODE='000002'").result.rows.at(0).at(0).toString(),
        QStringLiteral("0102030405"));
    EXPECT_FALSE(mapped(dbf));
    EXPECT_GT(patients(), 0u);
    EXPECT_TRUE(mapped(dbf));
}

// A join whose first table gives no row reads nothing of the other one: its
// index is not read (nor held). With rows, both are read.
TEST_F(IdleTable, AJoinWithoutRowsInItsFirstTableLeavesTheOtherAlone)
{
    const std::string join = "SELECT NUM, NOM FROM FRDV, PATIENT WHERE PATIENT=CODE AND NUM='";
    ASSERT_EQ(execute(dir, join + "000001'").result.rows.size(), 1u);  // both tables kept
    const std::string index = mdx.substr(mdx.find_last_of('/') + 1);
    {
        CountingFileSystem fs;
        ScopedFileSystem use(fs);
        EXPECT_EQ(execute(dir, join + "999999'").result.rows.size(), 0u);
        EXPECT_EQ(fs.of(index).reads, 0);
    }
    CountingFileSystem fs;
    ScopedFileSystem use(fs);
    const auto rows = execute(dir, join + "000002'").result.rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1].toString(), QStringLiteral("DUPONT"));
    EXPECT_GE(fs.of(index).reads, 1);
}

// A read after a write goes through the open the write kept: neither the
// table's files nor its index are opened or read anew.
TEST_F(IdleTable, AReadAfterAWriteGoesThroughTheOpenTheWriteKept)
{
    ASSERT_EQ(execute(dir, "UPDATE PATIENT SET TEL='0102030405' WHERE CODE='000001'").rowsAffected, 1);
    const std::string table = dbf.substr(dbf.find_last_of('/') + 1), index = mdx.substr(mdx.find_last_of('/') + 1);
    CountingFileSystem fs;
    ScopedFileSystem use(fs);
    EXPECT_EQ(execute(dir, "SELECT TEL FROM PATIENT WHERE CODE='000001'").result.rows.at(0).at(0).toString(),
        QStringLiteral("0102030405"));
    EXPECT_EQ(fs.of(table).opens, 0);
    EXPECT_EQ(fs.of(index).opens, 0);
    EXPECT_EQ(fs.of(index).reads, 1);  // its header, under the lock
}

// While the program is at work on an event of its event loop, a kept table
// keeps its shared open: the next statements take it back without looking
// at its files, and another program cannot open the table exclusively
// meanwhile (as while a statement runs). An exclusive open made in this
// program is not refused because of it. Once the event loop has nothing
// left to do, the open is given back: the other program gets in, and the
// next statement sees what it changed.
TEST_F(IdleTable, WhileTheProgramIsBusyAKeptTableKeepsItsOpenUntilTheEventLoopWaits)
{
    static int argc = 1;
    static char name[] = "korvale-sql-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // kept for the other tests of this program
    const std::string table = dbf.substr(dbf.find_last_of('/') + 1), index = mdx.substr(mdx.find_last_of('/') + 1);
    const size_t n = patients();
    QEventLoop loop;
    bool busyPartRan = false;
    QTimer::singleShot(0, &loop, [&] {
        busyPartRan = true;
        ASSERT_EQ(byCode("000001"), 1u);  // the table kept with its open
        {
            CountingFileSystem fs;
            ScopedFileSystem use(fs);
            ASSERT_EQ(byCode("000001"), 1u);
            EXPECT_EQ(fs.of(table).stats, 0);
            EXPECT_EQ(fs.of(index).stats, 0);
            EXPECT_EQ(fs.of(table).opens, 0);
            EXPECT_EQ(fs.of(index).opens, 0);
        }
        EXPECT_EQ(appendThroughExclusiveOpen("900006"), 1) << "another program opened the kept table exclusively";
        // Another program's change made beside the kept open is seen.
        ASSERT_EQ(appendThroughExclusiveOpen("900007", false), 0);
        EXPECT_EQ(patients(), n + 1);
        EXPECT_EQ(byCode("900007"), 1u);
        EXPECT_EQ(engine::openTableResult(dir, "PATIENT", "", true), 0) << "refused here because of the kept table";
        EXPECT_EQ(patients(), n + 1);
        EXPECT_EQ(appendThroughExclusiveOpen("900006"), 1) << "another program opened the kept table exclusively";
        // Let the event loop wait: the open is given back before it does.
        QTimer::singleShot(20, &loop, [&] {
            EXPECT_EQ(appendThroughExclusiveOpen("900006"), 0) << "the kept table's open was not given back";
            EXPECT_EQ(byCode("900006"), 1u);
            EXPECT_EQ(patients(), n + 2);
            loop.quit();
        });
    });
    QTimer::singleShot(10000, &loop, [&] { loop.quit(); });
    loop.exec();
    EXPECT_TRUE(busyPartRan);
}

}  // namespace
