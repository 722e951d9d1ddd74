// Several programs on one table: a writer killed at random instants, and
// two writers appending at the same time.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/db/core/File.h"
#include "TestTables.h"
#include "tests/db/DbTestUtil.h"

using namespace kdb;

namespace {

std::vector<DbfTable::FieldSpec> crashFields()
{
    return {{"NUM", 'C', 6, 0, false}, {"DATE_PRT", 'D', 8, 0, false}, {"DIAG", 'M', 10, 0, false},
        {"N", 'N', 8, 0, false}};
}

std::vector<TagInfo> crashTags()
{
    return {
        {"NUM", "NUM", 'C', true, false}, {"DATE_RDV", "DATE_PRT", 'D', false, false}, {"N", "N", 'N', false, false}};
}

QString memoOf(uint32_t n)
{
    return QStringLiteral("diagnostic n°%1 ").arg(n).repeated(static_cast<int>(n % 97));
}

std::vector<QVariant> rowOf(uint32_t n)
{
    return {QString::number(n), QDate(2000, 1, 1).addDays(static_cast<int>(n % 5000)), memoOf(n), static_cast<int>(n)};
}

// Child: appends (and flushes) forever, or packs and regenerates forever;
// reports each flushed record count through the pipe.
[[noreturn]] void writer(const std::string& path, int fd, int mode, unsigned seed)
{
    try {
        std::mt19937 rng(seed);
        if (mode == 2) {
            auto t = DbfTable::open(path, kdbtest::kExclusive);
            for (;;) {
                if (rng() % 2)
                    t->pack();
                else
                    t->regenerateIndexes();
            }
        }
        if (mode == 3) {
            // Restructure back and forth: the numeric column 8 <-> 9 wide.
            auto t = DbfTable::open(path, kdbtest::kExclusive);
            for (int width = 9;; width = width == 9 ? 8 : 9) {
                auto fields = crashFields();
                fields[3].width = width;
                t->restructure(fields, {0, 1, 2, 3}, crashTags(), rng() % 2 == 0);
            }
        }
        auto t = DbfTable::open(path);
        for (;;) {
            const uint32_t n = t->recordCount() + 1;
            t->append(rowOf(n));
            if (mode == 1 && n > 1) {
                // Rewrite an older record with the same values (exercises
                // the update path and its index change).
                const uint32_t r = 1 + rng() % (n - 1);
                t->update(r, rowOf(r));
            }
            t->flush();
            const uint32_t flushed = t->recordCount();
            if (write(fd, &flushed, sizeof flushed) != sizeof flushed)
                _exit(3);
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "writer: %s\n", e.what());
        _exit(2);
    }
}

class ProcessTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
};

TEST_F(ProcessTest, WriterKilledAtRandomInstantsLosesNoFlushedRecord)
{
    const std::string p = path("FPROT.DBF");
    DbfTable::create(p, crashFields(), crashTags());
    std::mt19937 rng(777);
    uint32_t lastFlushed = 0;
    int outOfDate = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // Appends; appends with updates; pack and regeneration; restructuring.
        const int mode = round % 5 == 4 ? 2 : round % 5 == 3 ? 3 : static_cast<int>(round % 2);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            writer(p, fds[1], mode, static_cast<unsigned>(round));
        }
        close(fds[1]);
        usleep(2000 + rng() % 40000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;
        uint32_t v = 0;
        while (read(fds[0], &v, sizeof v) == sizeof v)
            lastFlushed = std::max(lastFlushed, v);
        close(fds[0]);

        int code = DbfTable::probe(p, false);
        if (code == DBERR_INDEXOUTOFDATE) {
            // What the checker does: remove the index, open, rebuild.
            ++outOfDate;
            removeFile(path("FPROT.MDX"));
            code = DbfTable::probe(p, false);
            ASSERT_EQ(code, 0);
            DbfTable::open(p, kdbtest::kExclusive)->setTags(crashTags());
        }
        ASSERT_EQ(code, 0);
        auto t = DbfTable::open(p);
        ASSERT_GE(t->recordCount(), lastFlushed);
        for (uint32_t r = 1; r <= t->recordCount(); ++r) {
            ASSERT_EQ(t->value(r, 0).toString(), QString::number(r));
            ASSERT_EQ(t->value(r, 2).toString(), memoOf(r).isEmpty() ? QString() : memoOf(r));
        }
        ASSERT_EQ(t->findKey("NUM", QString::number(t->recordCount())), t->recordCount());
        lastFlushed = t->recordCount();
    }
    // The writers got on (each flush forces the index's mark, the memo file,
    // the table and the index: on a busy machine a round may flush nothing).
    EXPECT_GT(lastFlushed, 0u);
    fprintf(stderr, "records %u, index rebuilt %d times\n", lastFlushed, outOfDate);
}

TEST_F(ProcessTest, TwoProcessesAppendingLoseAndDoubleNothing)
{
    const std::string p = path("BOTH.DBF");
    DbfTable::create(
        p, {{"WHO", 'C', 1, 0, false}, {"SEQ", 'N', 6, 0, false}}, {{"WHOSEQ", "WHO+SEQ", 'C', true, false}});
    const int perWriter = 400;
    std::vector<pid_t> pids;
    for (const char* who : {"A", "B"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                {
                    auto t = DbfTable::open(p);
                    for (int i = 0; i < perWriter; ++i)
                        t->append({QString::fromLatin1(who), i});
                }  // closed: its changes forced (a program gone without it leaves the index to remake)
                _exit(0);
            } catch (const std::exception& e) {
                fprintf(stderr, "%s\n", e.what());
                _exit(1);
            }
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto t = DbfTable::open(p);
    ASSERT_EQ(t->recordCount(), 2u * perWriter);
    std::set<std::pair<QString, int>> seen;
    for (uint32_t r = 1; r <= t->recordCount(); ++r)
        seen.insert({t->value(r, 0).toString(), t->value(r, 1).toInt()});
    EXPECT_EQ(seen.size(), 2u * perWriter);
    auto c = t->openTag("WHOSEQ");
    uint32_t n = 0;
    for (uint32_t r = c->first(); r; r = c->next())
        ++n;
    EXPECT_EQ(n, 2u * perWriter);
    EXPECT_EQ(DbfTable::probe(p, false), 0);
}

TEST_F(ProcessTest, ReaderSeesAConsistentIndexWhileAnotherProcessWrites)
{
    const std::string p = path("LIVE.DBF");
    DbfTable::create(p, crashFields(), crashTags());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto t = DbfTable::open(p);
            for (uint32_t n = 1; n <= 400; ++n) {
                t->append(rowOf(n));
                if (n > 1)
                    t->update(n - 1, rowOf(n - 1));  // rewrites keys of an older record
            }
            _exit(0);
        } catch (const std::exception& e) {
            fprintf(stderr, "writer: %s\n", e.what());
            _exit(1);
        }
    }
    auto t = DbfTable::open(p);
    int checks = 0;
    for (;;) {
        int status = 0;
        const bool done = waitpid(pid, &status, WNOHANG) == pid;
        t->refresh();
        const uint32_t n = t->recordCount();
        if (n > 0) {
            // Every record counted is in the unique tag, at its own key.
            ASSERT_EQ(t->findKey("NUM", QString::number(n)), n);
            ASSERT_EQ(t->findKey("NUM", QString::number(1 + n / 2)), 1 + n / 2);
            ++checks;
        }
        if (done) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            break;
        }
    }
    EXPECT_EQ(t->recordCount(), 400u);
    EXPECT_GT(checks, 5);  // the reader did get turns while the writer ran
    fprintf(stderr, "reader checks: %d\n", checks);
    uint32_t entries = 0;
    auto c = t->openTag("DATE_RDV");
    for (uint32_t r = c->first(); r; r = c->next())
        ++entries;
    EXPECT_EQ(entries, 400u);
}

TEST_F(ProcessTest, AnOpenTableSeesWhatAnotherProcessAppendedAtItsNextRead)
{
    const std::string p = path("SEEN.DBF");
    DbfTable::create(p, crashFields(), crashTags());
    auto t = DbfTable::open(p);
    EXPECT_EQ(t->findKey("NUM", QString::number(1)), 0u);
    auto appendInChild = [&](uint32_t n) {
        ASSERT_EQ(kdbtest::inOtherProcess([&] {
            auto w = DbfTable::open(p);
            w->append(rowOf(n));
            w->flush();
        }),
            0);
    };
    appendInChild(1);
    t->refresh();
    EXPECT_EQ(t->findKey("NUM", QString::number(1)), 1u);
    // A batch of reads given back, then another process's append: the next
    // batch and a tag opened afterwards both see it.
    t->beginIndexRead();
    EXPECT_EQ(t->findKey("NUM", QString::number(2)), 0u);
    t->endIndexRead();
    appendInChild(2);
    t->refresh();
    t->beginIndexRead();
    EXPECT_EQ(t->findKey("NUM", QString::number(2)), 2u);
    t->endIndexRead();
    appendInChild(3);
    t->refresh();
    auto c = t->openTag("NUM");
    EXPECT_EQ(c->last(), 3u);
}

// A workstation killed in the middle of a change while another keeps
// writing: the other never fails, the next statement works, every row a
// writer was told it had written is there, once, and found through the
// tags; each update left unfinished was mended and logged.
std::vector<DbfTable::FieldSpec> sharedFields()
{
    return {{"WHO", 'C', 12, 0, false}, {"DATE_PRT", 'D', 8, 0, false}, {"DIAG", 'M', 10, 0, false},
        {"N", 'N', 8, 0, false}};
}

std::vector<QVariant> sharedRow(const std::string& who, uint32_t n)
{
    return {QString::fromStdString(who + "-" + std::to_string(n)), QDate(2000, 1, 1).addDays(static_cast<int>(n % 300)),
        memoOf(n), static_cast<int>(n)};
}

// Child: appends rows of its own (and rewrites the number of an older one
// now and then), flushing each, and reports each flushed row; on any
// failure it ends with status 2.
[[noreturn]] void sharedWriter(const std::string& path, int fd, const std::string& who, unsigned seed)
{
    try {
        std::mt19937 rng(seed);
        auto t = DbfTable::open(path);
        std::vector<uint32_t> mine;
        for (uint32_t n = 1;; ++n) {
            mine.push_back(t->append(sharedRow(who, n)));
            if (rng() % 3 == 0) {
                const size_t k = rng() % mine.size();
                t->updateFields(mine[k], {{3, static_cast<int>(k + 1 + 1000 * (rng() % 50))}});
            }
            t->flush();
            if (write(fd, &n, sizeof n) != sizeof n)
                _exit(3);
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "%s: %s\n", who.c_str(), e.what());
        _exit(2);
    }
}

std::vector<uint32_t> drain(int fd)
{
    std::vector<uint32_t> out;
    uint32_t v = 0;
    while (read(fd, &v, sizeof v) == sizeof v)
        out.push_back(v);
    close(fd);
    return out;
}

size_t logLines(const std::string& dir)
{
    QFile f(QString::fromStdString(dir + "/Damaged/repairs.log"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<size_t>(f.readAll().count('\n'));
}

TEST_F(ProcessTest, AWriterGetsItsTurnAmongReadersThatNeverAllStop)
{
    // Two programs read the index in batches that overlap, so that the
    // header is nearly never free of them; a change waiting for it must
    // still get it before its lock timeout.
    const std::string p = path("BUSY.DBF");
    DbfTable::create(p, crashFields(), crashTags());
    DbfTable::open(p)->append(rowOf(1));
    std::vector<pid_t> readers;
    for (int r = 0; r < 2; ++r) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                auto t = DbfTable::open(p);  // may write: it goes through the turnstile
                for (int n = 0;; ++n) {
                    IndexReadHold hold(*t);
                    usleep(static_cast<useconds_t>(1500 + 700 * r + (n % 3) * 100));
                }
            } catch (const std::exception& e) {
                fprintf(stderr, "reader: %s\n", e.what());
                _exit(1);
            }
        }
        readers.push_back(pid);
    }
    usleep(50000);  // both readers at work
    DbfTable::setLockTimeout(2000);
    uint32_t written = 0;
    std::string failure;
    try {
        auto t = DbfTable::open(p);
        for (uint32_t n = 2; n <= 21; ++n) {
            t->append(rowOf(n));
            t->flush();
            ++written;
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    DbfTable::setLockTimeout(15000);
    for (pid_t pid : readers) {
        int status = 0;
        const bool gone = waitpid(pid, &status, WNOHANG) == pid;
        EXPECT_FALSE(gone) << "a reader stopped";
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_EQ(failure, "");
    EXPECT_EQ(written, 20u);
    EXPECT_EQ(DbfTable::open(p)->recordCount(), 21u);
}

TEST_F(ProcessTest, AWriterKilledInTheMiddleHoldsNobodyUp)
{
    const std::string p = path("FRDV.DBF");
    DbfTable::create(p, sharedFields(),
        {{"WHO", "WHO", 'C', true, false}, {"DATE_RDV", "DATE_PRT", 'D', false, false}, {"N", "N", 'N', false, false}});
    std::map<std::string, uint32_t> told;  // writer -> rows it was told are written
    int survivorPipe[2];
    ASSERT_EQ(pipe(survivorPipe), 0);
    const pid_t survivor = fork();
    ASSERT_GE(survivor, 0);
    if (survivor == 0) {
        close(survivorPipe[0]);
        sharedWriter(p, survivorPipe[1], "S", 1);
    }
    close(survivorPipe[1]);
    std::mt19937 rng(4242);
    int rounds = 0;
    for (; rounds < 300 && (rounds < 20 || logLines(dir.path().toStdString()) < 3); ++rounds) {
        SCOPED_TRACE(rounds);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const std::string who = "V" + std::to_string(rounds);
        const pid_t victim = fork();
        ASSERT_GE(victim, 0);
        if (victim == 0) {
            close(fds[0]);
            close(survivorPipe[0]);
            sharedWriter(p, fds[1], who, static_cast<unsigned>(rounds + 7));
        }
        close(fds[1]);
        usleep(3000 + rng() % 30000);
        kill(victim, SIGKILL);
        int status = 0;
        waitpid(victim, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;
        const auto rows = drain(fds[0]);
        told[who] = rows.empty() ? 0 : rows.back();
        // The next statement of another workstation works.
        {
            auto t = DbfTable::open(p);
            const uint32_t r = t->append(sharedRow("P", static_cast<uint32_t>(rounds + 1)));
            t->flush();
            ASSERT_EQ(t->findKey("WHO", QString::fromStdString("P-" + std::to_string(rounds + 1))), r);
        }
        told["P"] = static_cast<uint32_t>(rounds + 1);
        // The other writer is still at work.
        ASSERT_EQ(waitpid(survivor, &status, WNOHANG), 0) << "the other writer failed, status " << status;
    }
    kill(survivor, SIGKILL);
    int status = 0;
    waitpid(survivor, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the other writer failed, status " << status;
    const auto survivorRows = drain(survivorPipe[0]);
    ASSERT_FALSE(survivorRows.empty());
    told["S"] = survivorRows.back();

    auto t = DbfTable::open(p);
    ASSERT_EQ(DbfTable::probe(p, false), 0);
    size_t expected = 0;
    for (const auto& [who, last] : told) {
        for (uint32_t n = 1; n <= last; ++n) {
            const QString name = QString::fromStdString(who + "-" + std::to_string(n));
            const uint32_t r = t->findKey("WHO", name);
            ASSERT_NE(r, 0u) << name.toStdString();
            ASSERT_EQ(t->value(r, 0).toString(), name);
            ASSERT_EQ(t->value(r, 2).toString(), memoOf(n).isEmpty() ? QString() : memoOf(n));
            ++expected;
        }
    }
    // Each record once in the unique tag (no row twice), none left out.
    std::set<QString> names;
    for (uint32_t r = 1; r <= t->recordCount(); ++r)
        ASSERT_TRUE(names.insert(t->value(r, 0).toString()).second);
    EXPECT_GE(names.size(), expected);
    auto c = t->openTag("N");
    uint32_t entries = 0;
    for (uint32_t r = c->first(); r; r = c->next())
        ++entries;
    EXPECT_EQ(entries, t->recordCount());
    // The updates left unfinished were mended and logged, with the files
    // kept as found.
    const size_t repaired = logLines(dir.path().toStdString());
    EXPECT_GE(repaired, 3u);
    EXPECT_TRUE(QDir(dir.path() + "/Damaged").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 0);
    fprintf(stderr, "rounds %d, repairs logged %zu, rows %u\n", rounds, repaired, t->recordCount());
}

}  // namespace
