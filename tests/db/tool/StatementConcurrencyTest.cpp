// Statements of several workstations at one table, each workstation a
// process with opens of its own: an UPDATE changes only rows that match its
// WHERE clause when it writes them, a statement waits for another one
// instead of failing, an edit's lock refuses it at once, and a reader sees
// each statement of the others wholly or not at all (a failed one not at
// all).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/db/database/Database.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/sql/Sql.h"
#include "tests/db/DbTestUtil.h"
#include "tests/db/fault/FaultFileSystem.h"

using namespace kdb;

namespace {

// A workstation: a child process with a database of its own that runs
// step(db, n) for n = 0, 1, ... until the step answers false or the parent
// stops it. It exits with the number of its statements that failed (at
// most 100); the first failure is written on standard error.
class Workstation {
public:
    Workstation(const std::string& dir, const std::function<bool(Database&, int)>& step)
    {
        // the parent's word to stop, in memory the two processes share
        void* shared = ::mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED)
            return;
        stop_ = static_cast<volatile int*>(shared);
        *stop_ = 0;
        pid_ = fork();
        if (pid_ != 0)
            return;
        int failed = 0;
        {
            Database db(dir);
            for (int n = 0; !*stop_; ++n) {
                try {
                    if (!step(db, n))
                        break;
                } catch (const std::exception& e) {
                    if (failed++ == 0)
                        std::fprintf(stderr, "workstation: %s\n", e.what());
                }
            }
        }
        _exit(std::min(failed, 100));
    }
    ~Workstation()
    {
        stop();
        wait();
        if (stop_)
            ::munmap(const_cast<int*>(stop_), sizeof(int));
    }
    Workstation(const Workstation&) = delete;
    Workstation& operator=(const Workstation&) = delete;

    void stop()
    {
        if (stop_)
            *stop_ = 1;
    }
    // Waits for its end; answers its exit status, the statements that
    // failed (-1 when it did not end normally).
    int wait()
    {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        const pid_t p = pid_;
        pid_ = -1;
        return waitpid(p, &status, 0) == p && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    volatile int* stop_ = nullptr;
    pid_t pid_ = -1;
};

class StatementConcurrency : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    std::string dir() const { return tmp_.path().toStdString(); }
    std::string path(const char* table) const { return dir() + "/" + table + ".DBF"; }
    // Runs korvale-sql as another program would.
    QString tool(const QString& statement, int* status = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral(KORVALE_SQL_TOOL), {tmp_.path(), statement});
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        if (status)
            *status = p.exitCode();
        return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    }
    // CNT: two counters at 0, ID 1 and 2.
    void makeCounters()
    {
        DbfTable::create(
            path("CNT"), {{"ID", 'N', 6, 0, false}, {"N", 'N', 10, 0, false}}, {{"ID", "ID", 'N', true, false}});
        auto t = DbfTable::open(path("CNT"), {true, false});
        t->append({1, 0});
        t->append({2, 0});
        t->flush();
    }
    QTemporaryDir tmp_;
};

// Two workstations keep marking the rows of one name while a third moves
// the rows to another name one by one, clearing the mark: a row moved is
// never marked afterwards (which no order of the statements could give),
// and no statement fails.
TEST_F(StatementConcurrency, AnUpdateChangesOnlyRowsThatMatchItsConditionWhenItWritesThem)
{
    constexpr int kRows = 120;
    DbfTable::create(path("PROT"),
        {{"NUM", 'N', 6, 0, false}, {"NOM", 'C', 20, 0, false}, {"AIDE", 'C', 20, 0, false},
            {"NOTE", 'M', 10, 0, false}},
        {{"NUM", "NUM", 'N', false, false}});
    {
        auto t = DbfTable::open(path("PROT"), {true, false});
        for (int i = 1; i <= kRows; ++i)
            t->append({i, QStringLiteral("MATCH"), QString(), QStringLiteral("protocole %1").arg(i)});
        t->flush();
    }
    int marked = 0, rounds = 0;
    for (; rounds < 2 && marked == 0; ++rounds) {
        {
            auto t = DbfTable::open(path("PROT"), {true, false});
            for (uint32_t r = 1; r <= kRows; ++r)
                t->updateFields(r, {{1, QStringLiteral("MATCH")}, {2, QString()}});
            t->flush();
        }
        auto mark = [](Database& db, int) {
            sql::execute(db, "UPDATE PROT SET AIDE='hit' WHERE NOM='MATCH'");
            return true;
        };
        Workstation a(dir(), mark), b(dir(), mark);
        Workstation mover(dir(), [](Database& db, int n) {
            if (n >= kRows)
                return false;
            sql::execute(db, "UPDATE PROT SET NOM='OTHER', AIDE='' WHERE NUM=" + std::to_string(n + 1));
            return true;
        });
        EXPECT_EQ(mover.wait(), 0);
        a.stop();
        b.stop();
        EXPECT_EQ(a.wait(), 0);
        EXPECT_EQ(b.wait(), 0);
        auto t = DbfTable::open(path("PROT"));
        for (uint32_t r = 1; r <= kRows; ++r) {
            EXPECT_EQ(t->value(r, 1).toString().toStdString(), "OTHER") << r;
            marked += t->value(r, 2).toString() == QStringLiteral("hit");
        }
    }
    EXPECT_EQ(marked, 0) << "rows moved, then marked, in round " << rounds;
}

// Six workstations add one to the same row 100 times each: every statement
// waits for the others' instead of failing, and every addition counts.
TEST_F(StatementConcurrency, EveryAdditionOfSixWorkstationsToOneRowCounts)
{
    makeCounters();
    std::vector<std::unique_ptr<Workstation>> adders;
    for (int w = 0; w < 6; ++w)
        adders.push_back(std::make_unique<Workstation>(dir(), [](Database& db, int n) {
            if (n >= 100)
                return false;
            if (sql::execute(db, "UPDATE CNT SET N = N + 1 WHERE ID = 1").rowsAffected != 1)
                throw std::runtime_error("the row was not changed");
            return true;
        }));
    for (auto& w : adders)
        EXPECT_EQ(w->wait(), 0);
    auto t = DbfTable::open(path("CNT"));
    EXPECT_EQ(t->value(1, 1).toInt(), 600);
    EXPECT_EQ(t->value(2, 1).toInt(), 0);
}

// A statement of another workstation holds the table for a while: the next
// statement waits for it, then runs. A record an edit holds (a screen's
// lock) refuses the statement at once, with the code the screens show as
// "Enregistrement verrouillé...", and the table is left as it was.
TEST_F(StatementConcurrency, AStatementWaitsForAnotherOneButNotForAnEdit)
{
    makeCounters();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    Workstation slow(dir(), [&](Database&, int n) {
        if (n > 0)
            return false;
        auto t = DbfTable::open(path("CNT"));
        StatementHold hold(*t);
        t->updateFields(1, {{1, 100}});
        const char c = 'r';
        (void)!::write(ready[1], &c, 1);
        ::usleep(800 * 1000);  // a long statement
        t->flush();
        return true;
    });
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    QElapsedTimer waited;
    waited.start();
    int status = -1;
    EXPECT_EQ(tool(QStringLiteral("UPDATE CNT SET N = N + 1 WHERE ID = 1"), &status), QStringLiteral("1\n"));
    EXPECT_EQ(status, 0);
    EXPECT_GE(waited.elapsed(), 500);
    EXPECT_EQ(slow.wait(), 0);
    EXPECT_EQ(tool(QStringLiteral("SELECT N FROM CNT WHERE ID = 1")), QStringLiteral("N\n101\n"));

    int editing[2];
    ASSERT_EQ(::pipe(editing), 0);
    Workstation editor(dir(), [&](Database&, int n) {
        if (n > 0)
            return false;
        ::close(editing[1]);
        auto t = DbfTable::open(path("CNT"));
        if (!t->lockRecord(2))
            throw std::runtime_error("record 2 not locked");
        const char r = 'r';
        (void)!::write(ready[1], &r, 1);
        char e;
        (void)!::read(editing[0], &e, 1);  // the user edits until the parent lets go
        return false;
    });
    ::close(editing[0]);
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    waited.restart();
    const QString refused = tool(QStringLiteral("UPDATE CNT SET N = N + 1"), &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(refused.startsWith(QStringLiteral("error %1: ").arg(DBERR_LOCKED))) << refused.toStdString();
    EXPECT_LT(waited.elapsed(), 3000);  // the lock timeout is 15 s
    EXPECT_EQ(tool(QStringLiteral("SELECT N FROM CNT ORDER BY ID")), QStringLiteral("N\n101\n0\n"));
    ::close(editing[1]);
    EXPECT_EQ(editor.wait(), 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// While a workstation changes every row again and again (a statement of 300
// rows, each third one failing half way for a disk that refuses a write,
// and undone), each read sees all rows before a statement or all after it,
// never rows a failed statement wrote: through korvale-sql, a query dataset
// handing its rows on as a grid needs them, a walk of a tag.
TEST_F(StatementConcurrency, AReaderSeesAStatementOfAnotherWorkstationWhollyOrNotAtAll)
{
    constexpr int kRows = 300;
    DbfTable::create(path("T"), {{"CODE", 'C', 6, 0, false}, {"V", 'C', 10, 0, false}, {"NOTE", 'M', 10, 0, false}},
        {{"CODE", "CODE", 'C', true, false}});
    {
        auto t = DbfTable::open(path("T"), {true, false});
        for (int i = 1; i <= kRows; ++i)
            t->append({QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("A"), QStringLiteral("A")});
        t->flush();
    }
    int rounds[2];
    ASSERT_EQ(::pipe2(rounds, O_NONBLOCK), 0);
    Workstation writer(dir(), [&](Database& db, int n) {
        const char v = "BAC"[n % 3];
        const std::string st = std::string("UPDATE T SET V='") + v + "', NOTE='" + v + "'";
        if (v != 'C') {
            sql::execute(db, st);
        } else {
            kdbtest::FaultFileSystem fs;  // the 150th record's write refused, once
            fs.add({kdbtest::FaultFileSystem::Op::Write, ".DBF", 150, EIO, -1, false});
            ScopedFileSystem use(fs);
            if (kdbtest::codeOf([&] { sql::execute(db, st); }) != DBERR_WRITEERR)
                throw std::runtime_error("the statement did not fail");
        }
        const char c = v;
        (void)!::write(rounds[1], &c, 1);
        return true;
    });
    auto whole = [](const QStringList& values, QString& seen) {
        if (values.size() != kRows)
            return false;
        seen = values.first();
        for (const QString& v : values)
            if (v != seen || (v != QStringLiteral("A|A") && v != QStringLiteral("B|B")))
                return false;
        return true;
    };
    int reads = 0, torn = 0;
    QSet<QString> seen;
    for (; reads < 90; ++reads) {
        QStringList values;
        if (reads % 3 == 0) {
            QStringList lines =
                tool(QStringLiteral("SELECT V, NOTE FROM T")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            if (!lines.isEmpty())
                lines.removeFirst();
            for (const QString& l : lines)
                values << QString(l).replace(QLatin1Char('\t'), QLatin1Char('|'));
        } else {
            QueryDataset q;
            q.setDatabaseName(dir());
            q.setSql(reads % 3 == 1 ? QStringLiteral("SELECT V, NOTE FROM T")
                                    : QStringLiteral("SELECT V, NOTE FROM T ORDER BY CODE"));
            q.open();
            for (; !q.eof(); q.next())
                values << q.fieldByName("V").asString() + "|" + q.fieldByName("NOTE").asString();
        }
        QString one;
        if (!whole(values, one)) {
            ++torn;
            ADD_FAILURE() << "read " << reads << " saw " << values.count(QStringLiteral("A|A")) << " A, "
                          << values.count(QStringLiteral("B|B")) << " B, " << values.count(QStringLiteral("C|C"))
                          << " C of " << values.size() << " rows";
        }
        seen << one;
    }
    writer.stop();
    EXPECT_EQ(writer.wait(), 0);
    char done[4096];
    const ssize_t statements = ::read(rounds[0], done, sizeof done);
    ::close(rounds[0]);
    ::close(rounds[1]);
    EXPECT_EQ(torn, 0);
    EXPECT_GE(statements, 6);  // the writer did run meanwhile
    EXPECT_EQ(seen.size(), 2);
}

}  // namespace
