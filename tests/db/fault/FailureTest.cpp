// A disk that refuses a write, fills up, reads short, or fails a sync or a
// rename: the change fails with an engine error naming the file, and the
// table comes out whole: every record it held (those written just before
// the failure too), an index that matches them, no half-written file left.
#include <filesystem>
#include <functional>

#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include "FaultFileSystem.h"
#include "FaultTables.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/database/Database.h"
#include "platform/db/mdx/MdxFile.h"
#include "platform/db/paradox/ParadoxTable.h"
#include "platform/db/sql/Sql.h"
#include "tests/db/DbTestUtil.h"

using namespace kdb;
using namespace kdbtest;
using Op = FaultFileSystem::Op;

namespace {

struct Case {
    const char* name;
    bool exclusive;
    FaultFileSystem::Rule rule;
    std::function<void(DbfTable&)> change;  // what the disk refuses
    int code;  // the error it raises
    const char* file;  // the end of the file name the error names
    bool outOfDateAfter = false;  // the next open finds the index left unfinished: mends it, or finds it out of date
};

bool endsWithNoCase(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), s.rbegin(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
}

FaultFileSystem::Rule rule(
    Op op, const char* path, int err = EIO, int64_t bytes = -1, bool lasting = true, int after = 0)
{
    return {op, path, after, err, bytes, lasting};
}

void run(const Case& c)
{
    SCOPED_TRACE(c.name);
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    const std::string path = dir + "/PATIENT.DBF";
    DbfTable::create(path, faultFields(), faultTags());
    {
        auto t = DbfTable::open(path, {true, false});
        for (int i = 1; i <= 200; ++i)
            t->append(faultRecord(i));
        for (uint32_t r = 10; r <= 50; r += 10)
            t->deleteRecord(r);
        t->flush();
    }
    auto t = DbfTable::open(path, {c.exclusive, false});
    // Written just before the failure, not flushed.
    t->append(faultRecord(900));
    t->update(2, faultRecord(901));
    const Records expected = recordsOf(*t);

    FaultFileSystem fs;
    fs.add(c.rule);
    {
        ScopedFileSystem use(fs);
        try {
            c.change(*t);
            ADD_FAILURE() << "the change did not fail";
        } catch (const EDBEngineError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
            EXPECT_TRUE(endsWithNoCase(e.file(), c.file)) << e.what();
        }
        EXPECT_GT(fs.faults(), 0);
    }
    t.reset();
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"PATIENT.DBF", "PATIENT.MDX"}));  // before the next open
    bool outOfDate = false;
    auto back = reopen(path, &outOfDate);
    const bool mended = std::filesystem::exists(damageLogPath(dir));
    EXPECT_EQ(outOfDate || mended, c.outOfDateAfter);
    EXPECT_FALSE(outOfDate && mended);
    EXPECT_EQ(recordsOf(*back), expected);
    expectIndexMatches(*back);
}

void append(DbfTable& t)
{
    t.append(faultRecord(999));
}
void update(DbfTable& t)
{
    t.update(3, faultRecord(998));
}
void deleteOne(DbfTable& t)
{
    t.deleteRecord(4);
}
void flush(DbfTable& t)
{
    t.flush();
}
void pack(DbfTable& t)
{
    t.pack();
}
void regenerate(DbfTable& t)
{
    t.regenerateIndexes();
}
void restructure(DbfTable& t)
{
    auto fields = faultFields();
    fields.push_back({"VILLE", 'C', 20, 0, false});
    t.restructure(fields, {0, 1, 2, -1}, faultTags(), true);
}

}  // namespace

TEST(FailureTest, PostsRefusedByTheDiskLeaveTheTableAndItsIndexAsTheyWere)
{
    for (const Case& c : {
             Case{"append, write refused", false, rule(Op::Write, ".DBF"), append, DBERR_WRITEERR, "PATIENT.DBF"},
             Case{"append, disk full in the record", true, rule(Op::Write, ".DBF", ENOSPC, 10), append, DBERR_WRITEERR,
                 "PATIENT.DBF"},
             Case{"update, write refused", false, rule(Op::Write, ".DBF"), update, DBERR_WRITEERR, "PATIENT.DBF"},
             Case{"update, part of the record written", true, rule(Op::Write, ".DBF", EIO, 10, false), update,
                 DBERR_WRITEERR, "PATIENT.DBF"},
             Case{"update, short read", false, rule(Op::Read, ".DBF", EIO, 2), update, DBERR_HEADERCORRUPT,
                 "PATIENT.DBF"},
             Case{"delete, write refused", false, rule(Op::Write, ".DBF"), deleteOne, DBERR_WRITEERR, "PATIENT.DBF"},
             // The index takes its mark, then refuses its blocks: the post
             // does not happen, the index is made again at the next open.
             Case{"append, index write refused", false, rule(Op::Write, ".MDX", EIO, -1, true, 1), append,
                 DBERR_WRITEERR, "PATIENT.MDX", true},
             Case{"update, index write refused", false, rule(Op::Write, ".MDX", EIO, -1, true, 1), update,
                 DBERR_WRITEERR, "PATIENT.MDX", true},
         })
        run(c);
}

TEST(FailureTest, AFailedFlushLosesNothing)
{
    for (const Case& c : {
             Case{"shared, table sync refused", false, rule(Op::Sync, ".DBF"), flush, DBERR_WRITEERR, "PATIENT.DBF"},
             Case{"exclusive, table sync refused", true, rule(Op::Sync, ".DBF"), flush, DBERR_WRITEERR, "PATIENT.DBF"},
             // The index refused: it keeps its mark (the system may have
             // dropped the pages it could not write) and is made again.
             Case{"shared, index sync refused", false, rule(Op::Sync, ".MDX"), flush, DBERR_WRITEERR, "PATIENT.MDX",
                 true},
             Case{"exclusive, index write refused", true, rule(Op::Write, ".MDX"), flush, DBERR_WRITEERR, "PATIENT.MDX",
                 true},
             Case{"exclusive, index sync refused", true, rule(Op::Sync, ".MDX"), flush, DBERR_WRITEERR, "PATIENT.MDX",
                 true},
         })
        run(c);
}

TEST(FailureTest, PackRestructureAndRegenerationFailCleanly)
{
    for (const Case& c : {
             Case{"pack, disk full in the new table", true, rule(Op::Write, ".tmp~", ENOSPC, 5000), pack,
                 DBERR_WRITEERR, ".DBF.tmp~"},
             Case{"pack, new table not synced", true, rule(Op::Sync, ".tmp~"), pack, DBERR_WRITEERR, ".DBF.tmp~"},
             Case{"pack, rename refused", true, rule(Op::Rename, ".tmp~"), pack, DBERR_WRITEERR, "PATIENT.DBF"},
             // The table is packed; its index is made again at the next open.
             Case{"pack, disk full in the new index", true, rule(Op::Write, ".MDX.new", ENOSPC, 3000), pack,
                 DBERR_WRITEERR, "PATIENT.MDX.new", true},
             Case{"restructure, write refused", true, rule(Op::Write, ".tmp~"), restructure, DBERR_WRITEERR,
                 ".DBF.tmp~"},
             Case{"restructure, rename refused", true, rule(Op::Rename, ".tmp~"), restructure, DBERR_WRITEERR,
                 "PATIENT.DBF"},
             Case{"regeneration, disk full", true, rule(Op::Write, ".MDX.new", ENOSPC, 3000), regenerate,
                 DBERR_WRITEERR, "PATIENT.MDX.new", true},
             Case{"regeneration, rename refused", true, rule(Op::Rename, ".MDX"), regenerate, DBERR_WRITEERR,
                 "PATIENT.MDX", true},
         })
        run(c);
}

// After a refused write the open table goes on: the next changes reach the
// table and its index.
TEST(FailureTest, TheTableGoesOnAfterARefusedWrite)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/PATIENT.DBF";
    DbfTable::create(path, faultFields(), faultTags());
    auto t = DbfTable::open(path, {false, false});
    for (int i = 1; i <= 50; ++i)
        t->append(faultRecord(i));
    FaultFileSystem fs;
    fs.add(rule(Op::Write, ".DBF", EIO, -1, false));
    {
        ScopedFileSystem use(fs);
        EXPECT_THROW(t->update(7, faultRecord(700)), EDBEngineError);
        t->update(8, faultRecord(800));  // the fault was a passing one
        t->append(faultRecord(801));
        t->flush();
    }
    Records expected = recordsOf(*t);
    EXPECT_EQ(expected.count("C000800"), 1u);
    EXPECT_EQ(expected.count("C000700"), 0u);
    t.reset();
    auto back = DbfTable::open(path, {true, false});
    EXPECT_EQ(recordsOf(*back), expected);
    expectIndexMatches(*back);
}

namespace {
// The table of the statements' tests: 50 patients; answers them.
Records fiftyPatients(const std::string& path)
{
    DbfTable::create(path, faultFields(), faultTags());
    auto t = DbfTable::open(path, {true, false});
    for (int i = 1; i <= 50; ++i)
        t->append(faultRecord(i));
    t->flush();
    return recordsOf(*t);
}
}  // namespace

// A statement whose write the disk refuses part-way puts back the rows it
// wrote before: every row as it was, an index that matches them.
TEST(FailureTest, AStatementRefusedPartWayLeavesEveryRowAsItWas)
{
    for (const char* st :
        {"UPDATE PATIENT SET NUM = 7, NOM = 'Autre' WHERE NUM < 300", "DELETE FROM PATIENT WHERE NUM < 300"}) {
        SCOPED_TRACE(st);
        QTemporaryDir tmp;
        const std::string dir = tmp.path().toStdString();
        const std::string path = dir + "/PATIENT.DBF";
        const Records expected = fiftyPatients(path);
        FaultFileSystem fs;
        fs.add(rule(Op::Write, ".DBF", EIO, -1, false, 3));  // the fourth row's write, once
        {
            ScopedFileSystem use(fs);
            std::string message;
            EXPECT_EQ(kdbtest::codeOf([&] { sql::execute(dir, st); }, &message), DBERR_WRITEERR) << message;
            EXPECT_GT(fs.faults(), 0);
        }
        auto back = DbfTable::open(path, {true, false});
        EXPECT_EQ(recordsOf(*back), expected);
        expectIndexMatches(*back);
    }
}

// A statement whose journal the disk refuses, or whose flush fails, puts
// back what it wrote: every row as it was (at once, or, when the disk keeps
// refusing, at the next open of the table), no journal left beside it.
TEST(FailureTest, AStatementWhoseJournalOrFlushFailsLeavesEveryRowAsItWas)
{
    struct Refusal {
        const char* what;
        FaultFileSystem::Rule rule;
        const char* file;
    };
    for (const Refusal& r : {Refusal{"journal write refused", rule(Op::Write, ".JNL"), "PATIENT.JNL"},
             Refusal{"journal sync refused", rule(Op::Sync, ".JNL"), "PATIENT.JNL"},
             Refusal{"table sync refused once", rule(Op::Sync, ".DBF", EIO, -1, false), "PATIENT.DBF"},
             Refusal{"table sync refused", rule(Op::Sync, ".DBF"), "PATIENT.DBF"}}) {
        for (const char* st : {"UPDATE PATIENT SET NUM = 7, NOM = 'Autre' WHERE NUM < 300",
                 "DELETE FROM PATIENT WHERE NUM < 300", "UPDATE PATIENT SET NUM = 8 WHERE CODE = 'C000003'"}) {
            SCOPED_TRACE(std::string(r.what) + ": " + st);
            QTemporaryDir tmp;
            const std::string dir = tmp.path().toStdString();
            const std::string path = dir + "/PATIENT.DBF";
            const Records expected = fiftyPatients(path);
            FaultFileSystem fs;
            fs.add(r.rule);
            {
                ScopedFileSystem use(fs);
                Database db(dir);
                std::string message;
                const int code = codeOf([&] { sql::execute(db, st); }, &message);
                if (std::string(st).find("CODE =") != std::string::npos && r.file == std::string("PATIENT.JNL")) {
                    EXPECT_EQ(code, 0) << message;  // one record keeps no journal
                    continue;
                }
                EXPECT_EQ(code, DBERR_WRITEERR) << message;
                EXPECT_NE(message.find(r.file), std::string::npos) << message;
            }
            auto back = DbfTable::open(path, {true, false});
            EXPECT_EQ(recordsOf(*back), expected);
            expectIndexMatches(*back);
            EXPECT_FALSE(std::filesystem::exists(dir + "/PATIENT.JNL"));
        }
    }
}

// A regeneration whose new file cannot take the old one's place leaves the
// old index in use, for this handle and for any other.
TEST(FailureTest, ARefusedIndexReplacementLeavesTheOldIndexInUse)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/T.MDX";
    mdx::TagSpec spec;
    spec.name = "K";
    spec.expression = "K";
    spec.keyLength = 8;
    auto f = mdx::MdxFile::create(path, "T", {spec});
    for (uint32_t i = 1; i <= 100; ++i)
        f->insert("K", "K" + std::to_string(1000 + i), i);
    f->flush();
    uint32_t next = 0;
    const mdx::RecordSource half = [&](mdx::RecordKeys& r) {
        if (++next > 50)
            return false;
        r.recno = next;
        r.keys = {std::string("K") + std::to_string(1000 + next)};
        return true;
    };
    FaultFileSystem fs;
    fs.add(rule(Op::Rename, ".MDX"));
    {
        ScopedFileSystem use(fs);
        try {
            f->regenerateAll(half);
            ADD_FAILURE() << "the regeneration did not fail";
        } catch (const EDBEngineError& e) {
            EXPECT_EQ(e.code(), DBERR_WRITEERR);
            EXPECT_EQ(e.file(), path);
        }
    }
    EXPECT_EQ(f->count("K"), 100u);
    auto other = mdx::MdxFile::open(path);
    EXPECT_EQ(other->count("K"), 100u);
    other->verify();
    EXPECT_EQ(filesIn(tmp.path().toStdString()), std::set<std::string>{"T.MDX"});
}

// A Paradox table: a post the disk refuses, part-written or not at all,
// leaves every record as it was.
TEST(FailureTest, AParadoxPostRefusedByTheDiskLosesNothing)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/USERS.DB";
    ParadoxTable::create(path, std::vector<ParadoxField>{{"NOM", 'A', 20}, {"NUM", 'I', 0}});
    Records expected;
    {
        auto t = ParadoxTable::open(path, {false, false});
        for (int i = 1; i <= 120; ++i)
            t->append({QString("U%1").arg(i, 4, 10, QChar('0')), i});
        t->update(5, {QString("U9005"), 9005});
        expected = recordsOf(*t);
        const std::function<void()> posts[] = {[&] {
                                                   t->append({QString("U0999"), 999});
                                               },
            [&] {
                t->update(7, {QString("U0998"), 998});
            }};
        for (const auto& r : {rule(Op::Write, ".DB"), rule(Op::Write, ".DB", ENOSPC, 30, false)}) {
            for (const auto& post : posts) {
                FaultFileSystem fs;
                fs.add(r);
                ScopedFileSystem use(fs);
                try {
                    post();
                    ADD_FAILURE() << "the post did not fail";
                } catch (const EDBEngineError& e) {
                    EXPECT_EQ(e.code(), DBERR_WRITEERR);
                    EXPECT_EQ(e.file(), path);
                }
                EXPECT_GT(fs.faults(), 0);
            }
        }
        // The table goes on.
        t->append({QString("U1000"), 1000});
        expected["U1000"] = {"U1000", "1000"};
        EXPECT_EQ(recordsOf(*t), expected);
    }
    auto back = ParadoxTable::open(path, {true, false});
    EXPECT_EQ(recordsOf(*back), expected);
    EXPECT_EQ(filesIn(tmp.path().toStdString()), std::set<std::string>{"USERS.DB"});
}

// Opens the system's files, but lets `first` run once just before the first
// index file is opened: another workstation opening the table at that
// instant.
namespace {
class IndexOpenHook : public FileSystem {
public:
    std::function<void()> first;
    int open(const std::string& path, int flags, mode_t mode) override
    {
        if (first && endsWithNoCase(path, ".MDX"))
            std::exchange(first, nullptr)();
        return FileSystem::open(path, flags, mode);
    }
};
}  // namespace

// A program killed after its changes but before they were forced leaves the
// index "pending"; the next open finds itself alone at the table and mends
// it, or, when another program opened the table in the meantime, takes the
// index as that one does. Neither fails.
TEST(FailureTest, AnIndexLeftPendingOpensWhileAnotherProgramOpensTheTable)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/PATIENT.DBF";
    const std::string ipath = tmp.path().toStdString() + "/PATIENT.MDX";
    DbfTable::create(path, faultFields(), faultTags());
    {
        auto t = DbfTable::open(path);
        for (int i = 1; i <= 10; ++i)
            t->append(faultRecord(i));
        t->flush();
    }
    const pid_t killed = fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        auto t = DbfTable::open(path);
        t->append(faultRecord(11));
        _exit(0);  // no flush, no close: as a kill leaves it
    }
    int status = 0;
    ASSERT_EQ(waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(mdx::MdxFile::markOf(ipath), mdx::MdxFile::Mark::Pending);

    int ready[2], stop[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(stop), 0);
    pid_t other = -1;
    IndexOpenHook fs;
    fs.first = [&] {
        other = fork();
        if (other == 0) {
            installFileSystem(nullptr);
            close(ready[0]);
            close(stop[1]);
            int code = 0;
            std::unique_ptr<DbfTable> t;
            try {
                t = DbfTable::open(path);
            } catch (...) {
                code = 1;
            }
            char c = 'r';
            (void)!write(ready[1], &c, 1);
            (void)!read(stop[0], &c, 1);
            _exit(code);
        }
        char c;
        (void)!read(ready[0], &c, 1);
    };
    std::unique_ptr<DbfTable> t;
    {
        ScopedFileSystem use(fs);
        EXPECT_NO_THROW(t = DbfTable::open(path));
    }
    ASSERT_GT(other, 0);
    close(stop[1]);
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other program could not open the table";
    close(ready[0]);
    close(ready[1]);
    close(stop[0]);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->recordCount(), 11u);
    EXPECT_EQ(t->findKey("CODE", faultRecord(11)[0].toString()), 11u);
    expectIndexMatches(*t);
}

// The pack of a table with memos writes a new table and a new memo file
// beside the old ones, marks the old table, then renames the memo file and
// the table over the old ones. Refused before the mark (the memo file's
// rename): the old files stay, nothing left behind. Refused between the two
// renames: the next open puts the new table in place (its index then to be
// made again, as after any pack stopped before its index), and the records
// read with their memos.
TEST(FailureTest, APackOfMemosStoppedBetweenItsRenamesIsFinishedByTheNextOpen)
{
    for (const bool betweenRenames : {false, true}) {
        SCOPED_TRACE(betweenRenames ? "table rename refused" : "memo file rename refused");
        QTemporaryDir tmp;
        const std::string dir = tmp.path().toStdString();
        const std::string path = dir + "/FPROT.DBF";
        auto fields = faultFields();
        fields.push_back({"DIAG", 'M', 10, 0, false});
        DbfTable::create(path, fields, faultTags());
        Records expected;
        {
            auto t = DbfTable::open(path, {true, false});
            for (int i = 1; i <= 30; ++i) {
                auto rec = faultRecord(i);
                rec.push_back(QString("diagnostic %1").arg(i));
                t->append(rec);
            }
            for (int round = 0; round < 20; ++round)
                for (uint32_t r = 1; r <= 30; ++r)
                    t->updateFields(r, {{3, QString("diagnostic %1, tour %2").arg(r).arg(round)}});
            t->deleteRecord(5);
            t->flush();
            expected = recordsOf(*t);
        }
        const std::string dbt = dir + "/FPROT.DBT";
        const auto grown = std::filesystem::file_size(dbt);
        const QByteArray before = [&] {
            QFile f(QString::fromStdString(path));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        FaultFileSystem fs;
        fs.add(rule(Op::Rename, betweenRenames ? "FPROT.DBF.tmp~" : "FPROT.DBT.tmp~"));
        {
            auto t = DbfTable::open(path, {true, false});
            ScopedFileSystem use(fs);
            EXPECT_EQ(kdbtest::codeOf([&] { t->pack(); }), DBERR_WRITEERR);
        }
        if (!betweenRenames) {
            EXPECT_EQ(filesIn(dir), (std::set<std::string>{"FPROT.DBF", "FPROT.DBT", "FPROT.MDX"}));
            QFile f(QString::fromStdString(path));
            f.open(QIODevice::ReadOnly);
            EXPECT_EQ(f.readAll(), before);
            EXPECT_EQ(std::filesystem::file_size(dbt), grown);
        } else {
            EXPECT_TRUE(filesIn(dir).count("FPROT.DBF.tmp~"));
            EXPECT_FALSE(filesIn(dir).count("FPROT.DBT.tmp~"));  // in place already
        }
        bool outOfDate = false;
        auto back = reopen(path, &outOfDate);
        EXPECT_EQ(outOfDate, betweenRenames);
        EXPECT_EQ(recordsOf(*back), expected);
        expectIndexMatches(*back);
        if (betweenRenames) {
            EXPECT_EQ(back->recordCount(), 29u);  // packed
            EXPECT_LT(std::filesystem::file_size(dbt), grown / 10);
            QFile log(QString::fromStdString(damageLogPath(dir)));
            ASSERT_TRUE(log.open(QIODevice::ReadOnly));
            EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains("compactage interrompu"));
        }
        EXPECT_EQ(filesIn(dir).count("FPROT.DBF.tmp~"), 0u);
    }
}
