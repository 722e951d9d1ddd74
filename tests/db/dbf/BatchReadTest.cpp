// Batched reads: tag walks under one hold of the header per batch, the
// index checked for other programs' changes at each batch and each step,
// and records read through a map of the file.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "TestTables.h"

using namespace kdb;

namespace {

std::vector<DbfTable::FieldSpec> keyFields()
{
    return {{"NUM", 'C', 6, 0, false}, {"TXT", 'C', 200, 0, false}};
}
std::vector<TagInfo> keyTags()
{
    return {{"NUM", "NUM", 'C', true, false}};
}
QString key(int n)
{
    return QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0'));
}

// Runs f in a child process; answers its exit code (0: f returned, 1: it
// raised DBERR_LOCKED, 2: any other error).
int inChild(const std::function<void()>& f)
{
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 0;
        try {
            f();
        } catch (const EDBEngineError& e) {
            code = e.code() == DBERR_LOCKED ? 1 : 2;
        } catch (...) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

class BatchRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.path().toStdString() + "/K.DBF";
        DbfTable::create(path, keyFields(), keyTags());
    }
    void fill(int count, int step)
    {
        auto t = DbfTable::open(path, kdbtest::kExclusive);
        for (int i = 1; i <= count; ++i)
            t->append({key(i * step), QStringLiteral("row %1").arg(i)});
        t->flush();
    }
    QTemporaryDir dir;
    std::string path;
};

TEST_F(BatchRead, ScanForwardVisitsEveryEntryOnceAcrossBatches)
{
    fill(10000, 1);  // more entries than one batch holds
    auto t = DbfTable::open(path);
    auto c = t->openTag("NUM");
    std::vector<uint32_t> stepped;
    for (uint32_t r = c->first(); r; r = c->next())
        stepped.push_back(r);
    ASSERT_EQ(stepped.size(), 10000u);
    std::vector<uint32_t> walked;
    std::string last;
    ASSERT_NE(c->first(), 0u);
    c->scanForward([&](uint32_t r, std::string_view k) {
        EXPECT_LT(last, std::string(k));
        last.assign(k);
        EXPECT_EQ(std::string(k), key(static_cast<int>(r)).toStdString());  // the entry's own key bytes
        walked.push_back(r);
        return true;
    });
    EXPECT_EQ(walked, stepped);
    EXPECT_EQ(c->current(), 0u);  // ran past the last entry
    // Stopped by the visitor: the cursor stays on the last entry visited.
    c->seek(key(500));
    int seen = 0;
    c->scanForward([&](uint32_t, std::string_view) { return ++seen < 3; });
    EXPECT_EQ(c->current(), 502u);
    EXPECT_EQ(std::string(c->currentKey()), key(502).toStdString());
}

TEST_F(BatchRead, AHeldIndexMakesAnotherProgramsChangeWaitAndReleasesIt)
{
    fill(100, 1);
    auto t = DbfTable::open(path);
    t->beginIndexRead();
    t->beginIndexRead();  // nested: one hold
    auto append = [&] {
        DbfTable::setLockTimeout(200);
        auto other = DbfTable::open(path);
        other->append({key(1000), QStringLiteral("late")});
        other->flush();
    };
    EXPECT_EQ(inChild(append), 1);  // refused: the header is held
    t->endIndexRead();
    EXPECT_EQ(inChild(append), 1);  // still held by the outer begin
    // No change through a table while its index is held.
    EXPECT_THROW(t->append({key(2000), QStringLiteral("x")}), EDBEngineError);
    t->endIndexRead();
    EXPECT_EQ(inChild(append), 0);
    t->refresh();
    EXPECT_EQ(t->recordCount(), 101u);
    EXPECT_EQ(t->findKey("NUM", key(1000)), 101u);
}

TEST_F(BatchRead, StepsAndBatchesSeeChangesFlushedByAnotherProgram)
{
    fill(3000, 2);  // even keys
    auto t = DbfTable::open(path);
    auto c = t->openTag("NUM");
    ASSERT_EQ(c->seek(key(2)), 1u);
    // Every node of the tag read once in this program, then another program
    // adds the odd keys between.
    for (uint32_t r = c->first(); r; r = c->next()) { }
    ASSERT_EQ(c->seek(key(2)), 1u);
    ASSERT_EQ(inChild([&] {
        auto other = DbfTable::open(path);
        for (int i = 1; i < 400; i += 2)
            other->append({key(i), QStringLiteral("odd")});
        other->flush();
    }),
        0);
    // The next step sees the new entry right after its position.
    const uint32_t r = c->next();
    ASSERT_NE(r, 0u);
    EXPECT_EQ(std::string(c->currentKey()), key(3).toStdString());
    EXPECT_EQ(t->value(r, 0).toString(), key(3));  // the record appended by the other program
    // So does a walk in batches started after the change.
    std::vector<std::string> keys;
    c->scanForward([&](uint32_t, std::string_view k) {
        keys.emplace_back(k);
        return keys.size() < 8;
    });
    std::vector<std::string> want;
    for (int i = 3; i <= 10; ++i)
        want.push_back(key(i).toStdString());
    EXPECT_EQ(keys, want);
}

TEST_F(BatchRead, MappedRecordsFollowOtherProgramsAndNeverHoldTheTable)
{
    fill(50, 1);
    {
        auto t = DbfTable::open(path);
        EXPECT_EQ(t->value(1, 1).toString(), QStringLiteral("row 1"));
        EXPECT_EQ(std::string(t->rawRecord(2) + t->fields()[0].offset, 6), key(2).toStdString());
        ASSERT_EQ(inChild([&] {
            auto other = DbfTable::open(path);
            other->update(1, {key(1), QStringLiteral("changed")});
            for (int i = 51; i <= 3000; ++i)
                other->append({key(i), QStringLiteral("row %1").arg(i)});
            other->flush();
        }),
            0);
        // A record rewritten in place is seen at once; appended ones after refresh().
        EXPECT_EQ(t->value(1, 1).toString(), QStringLiteral("changed"));
        EXPECT_EQ(t->recordCount(), 50u);
        t->refresh();
        ASSERT_EQ(t->recordCount(), 3000u);
        EXPECT_EQ(t->value(3000, 1).toString(), QStringLiteral("row 3000"));
        EXPECT_EQ(t->rawField(2999, 0), key(2999).toStdString());
    }
    // The table is closed: another program opens it exclusively and packs
    // it into a new file; this program then reads the new file.
    ASSERT_EQ(inChild([&] {
        auto other = DbfTable::open(path, kdbtest::kExclusive);
        for (uint32_t r = 1; r <= 2000; ++r)
            other->deleteRecord(r);
        other->pack();
    }),
        0);
    auto t = DbfTable::open(path);
    ASSERT_EQ(t->recordCount(), 1000u);
    EXPECT_EQ(t->value(1, 0).toString(), key(2001));
    EXPECT_EQ(t->value(1000, 1).toString(), QStringLiteral("row 3000"));
}

}  // namespace
