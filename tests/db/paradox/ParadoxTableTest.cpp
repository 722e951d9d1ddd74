// Tables written and read back through kdb::Table: values, block chains,
// deletions, the autoincrement counter, open modes.
#include <map>
#include <random>
#include <set>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDate>

#include "PxTestUtil.h"
#include "platform/db/core/DbError.h"
#include "platform/db/paradox/ParadoxTable.h"

using kdb::ParadoxField;
using kdb::ParadoxTable;
using namespace pxtest;

namespace {

using ParadoxTableTest = PxTest;

const std::vector<ParadoxField> kAllTypes = {
    {"NOM", 'A', 30},
    {"DN", 'D', 0},
    {"AGE", 'S', 0},
    {"POIDS", 'I', 0},
    {"TAILLE", 'N', 0},
    {"PRIX", '$', 0},
    {"ACTIF", 'L', 0},
    {"NUM", '+', 0},
};

int32_t counterAt73(const std::string& file)
{
    return static_cast<int32_t>(u32(readFile(file), 73));
}

}  // namespace

TEST_F(ParadoxTableTest, ValuesOfEveryWrittenTypeSurviveReopening)
{
    const auto p = path("PATIENT.DB");
    ParadoxTable::create(p, kAllTypes);
    {
        auto t = ParadoxTable::open(p);
        EXPECT_EQ(t->append({QString::fromUtf8("Hélène Dupré"), QDate(1961, 12, 31), 63, 70500, 1.68, 45.5, true}), 1u);
        EXPECT_EQ(t->append({QString("Martin"), QVariant(), QVariant(), -5, QVariant(), QVariant(), false}), 2u);
        t->flush();
    }
    auto t = ParadoxTable::open(p, {false, true});
    ASSERT_EQ(t->recordCount(), 2u);
    const auto& f = t->fields();
    ASSERT_EQ(f.size(), kAllTypes.size());
    EXPECT_EQ(f[2].type, kdb::fldINT16);
    EXPECT_EQ(f[7].subType, kdb::fldstAUTOINC);
    EXPECT_EQ(t->recordSize(), 30u + 4 + 2 + 4 + 8 + 8 + 1 + 4);
    EXPECT_EQ(t->fieldIndex("poids"), 3);

    EXPECT_EQ(t->value(1, 0).toString(), QString::fromUtf8("Hélène Dupré"));
    EXPECT_EQ(t->value(1, 1).toDate(), QDate(1961, 12, 31));
    EXPECT_EQ(t->value(1, 2).toInt(), 63);
    EXPECT_EQ(t->value(1, 3).toInt(), 70500);
    EXPECT_DOUBLE_EQ(t->value(1, 4).toDouble(), 1.68);
    EXPECT_DOUBLE_EQ(t->value(1, 5).toDouble(), 45.5);
    EXPECT_EQ(t->value(1, 6).toBool(), true);
    EXPECT_EQ(t->value(1, 7).toInt(), 1);
    EXPECT_TRUE(t->value(2, 1).isNull());
    EXPECT_TRUE(t->value(2, 2).isNull());
    EXPECT_EQ(t->value(2, 3).toInt(), -5);
    EXPECT_EQ(t->value(2, 6).toBool(), false);
    EXPECT_FALSE(t->value(2, 6).isNull());
    EXPECT_EQ(t->value(2, 7).toInt(), 2);
    EXPECT_EQ(t->rawField(1, 2), std::string_view("\x80\x3F", 2));

    EXPECT_THROW(t->value(3, 0), EDBEngineError);
    EXPECT_THROW(t->value(1, 8), EDBEngineError);
    EXPECT_EQ(codeOf([&] { t->append({QString("x")}); }), kdb::DBERR_NOTSUFFTABLERIGHTS)
        << "read-only table accepted a record";
}

TEST_F(ParadoxTableTest, TextLongerThanItsColumnIsCutAndBadValuesAppendNothing)
{
    const auto p = path("T.DB");
    ParadoxTable::create(p, Fields{{"CODE", 'A', 6}, {"N", 'S', 0}});
    auto t = ParadoxTable::open(p);
    t->append({QString("ABCDEFGHIJ"), 1});
    EXPECT_THROW(t->append({QString("X"), QString("beaucoup")}), EDBEngineError);
    EXPECT_THROW(t->update(1, {QString("Y"), 99999}), EDBEngineError);
    auto again = ParadoxTable::open(p);
    ASSERT_EQ(again->recordCount(), 1u);
    EXPECT_EQ(again->value(1, 0).toString(), QString("ABCDEF"));
    EXPECT_EQ(again->value(1, 1).toInt(), 1);
}

TEST_F(ParadoxTableTest, RecordsSpreadOverBlocksFollowARandomHistory)
{
    // 1 KiB blocks of 100-byte records: 10 records per block.
    const auto p = path("HIST.DB");
    ParadoxTable::create(p, Fields{{"TXT", 'A', 96}, {"N", 'I', 0}}, {{}, 1});
    std::mt19937 rng(1234);
    std::vector<std::pair<std::string, int>> model;
    int serial = 0;
    for (int round = 0; round < 6; ++round) {
        auto t = ParadoxTable::open(p);
        ASSERT_EQ(t->recordCount(), model.size());
        for (int op = 0; op < 150; ++op) {
            const int kind = static_cast<int>(rng() % 10);
            if (model.empty() || kind < 5) {
                const std::string s = "rec" + std::to_string(++serial);
                t->append({QString::fromStdString(s), serial});
                model.emplace_back(s, serial);
            } else if (kind < 7) {
                const size_t i = rng() % model.size();
                model[i].first += "u";
                t->update(static_cast<uint32_t>(i + 1), {QString::fromStdString(model[i].first), model[i].second});
            } else {
                const size_t i = rng() % model.size();
                t->deleteRecord(static_cast<uint32_t>(i + 1));
                EXPECT_TRUE(t->isDeleted(static_cast<uint32_t>(i + 1)));
                model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
                t->refresh();  // numbers follow the file again
            }
        }
        t.reset();
        auto r = ParadoxTable::open(p, {false, true});
        std::vector<std::string> expected;
        for (const auto& [s, n] : model)
            expected.push_back(s + "|" + std::to_string(n));
        ASSERT_EQ(readAll(*r), expected) << "round " << round;
        const auto bytes = readFile(p);
        EXPECT_EQ(u32(bytes, 0x06), model.size()) << "header record count";
    }

    // Every block in the file is either in the chain or on the free list.
    const auto bytes = readFile(p);
    const size_t headerSize = u16(bytes, 2), blockSize = 1024;
    const size_t fileBlocks = u16(bytes, 0x0C);
    ASSERT_EQ(bytes.size(), headerSize + fileBlocks * blockSize);
    std::map<size_t, int> seen;
    size_t records = 0, prev = 0;
    for (size_t b = u16(bytes, 0x0E); b != 0; b = u16(bytes, headerSize + (b - 1) * blockSize)) {
        ASSERT_EQ(seen[b]++, 0) << "block " << b << " twice";
        const size_t at = headerSize + (b - 1) * blockSize;
        EXPECT_EQ(u16(bytes, at + 2), prev) << "previous-block word";
        records += static_cast<size_t>(static_cast<int16_t>(u16(bytes, at + 4)) + 100) / 100;
        prev = b;
    }
    EXPECT_EQ(u16(bytes, 0x10), prev) << "last block";
    EXPECT_EQ(records, model.size());
    for (size_t b = u16(bytes, 0x4D); b != 0; b = u16(bytes, headerSize + (b - 1) * blockSize))
        ASSERT_EQ(seen[b]++, 0) << "free block " << b << " also in use";
    EXPECT_EQ(seen.size(), fileBlocks);
}

TEST_F(ParadoxTableTest, DeletedRecordKeepsItsNumberUntilRefresh)
{
    const auto p = path("D.DB");
    ParadoxTable::create(p, Fields{{"NOM", 'A', 10}});
    auto t = ParadoxTable::open(p);
    for (const char* s : {"un", "deux", "trois", "quatre"})
        t->append({QString(s)});
    t->deleteRecord(2);
    EXPECT_EQ(t->recordCount(), 4u);
    EXPECT_TRUE(t->isDeleted(2));
    EXPECT_EQ(t->value(2, 0).toString(), QString("deux")) << "a deleted record still reads";
    EXPECT_EQ(t->value(3, 0).toString(), QString("trois"));
    t->update(4, {QString("QUATRE")});
    EXPECT_THROW(t->update(2, {QString("x")}), EDBEngineError);
    {
        auto other = ParadoxTable::open(p, {false, true});
        EXPECT_EQ(readAll(*other), (std::vector<std::string>{"un", "trois", "QUATRE"}));
    }
    t->undeleteRecord(2);
    EXPECT_FALSE(t->isDeleted(2));
    EXPECT_EQ(t->value(2, 0).toString(), QString("deux"));
    t->refresh();
    EXPECT_EQ(readAll(*t), (std::vector<std::string>{"un", "trois", "QUATRE", "deux"}))
        << "an undeleted record comes back at the end";
    for (uint32_t r = 4; r >= 1; --r)
        t->deleteRecord(r);
    t->refresh();
    EXPECT_EQ(t->recordCount(), 0u);
    t->append({QString("encore")});
    auto r = ParadoxTable::open(p);
    EXPECT_EQ(readAll(*r), std::vector<std::string>{"encore"});
}

TEST_F(ParadoxTableTest, RecordWriteAfterAnotherHandleRenumberedIsRefusedOnce)
{
    const auto p = path("R.DB");
    ParadoxTable::create(p, Fields{{"NOM", 'A', 10}});
    auto a = ParadoxTable::open(p);
    for (const char* s : {"un", "deux", "trois"})
        a->append({QString(s)});
    ParadoxTable::open(p)->deleteRecord(1);  // the file's records move up one place
    EXPECT_EQ(codeOf([&] { a->update(2, {QString("x")}); }), kdb::DBERR_LOCKED);
    EXPECT_EQ(readAll(*a), (std::vector<std::string>{"deux", "trois"})) << "nothing written, numbers follow the file";
    a->update(1, {QString("DEUX")});
    EXPECT_EQ(readAll(*a), (std::vector<std::string>{"DEUX", "trois"}));
}

TEST_F(ParadoxTableTest, AutoIncrementCounterAtOffset73HoldsTheLastValueHandedOut)
{
    const auto p = path("A.DB");
    ParadoxTable::create(p, Fields{{"NUM", '+', 0}, {"NOM", 'A', 10}});
    EXPECT_EQ(counterAt73(p), 0);
    {
        auto t = ParadoxTable::open(p);
        for (const char* s : {"a", "b", "c"})
            t->append({QVariant(), QString(s)});
        EXPECT_EQ(t->value(3, 0).toInt(), 3);
    }
    EXPECT_EQ(counterAt73(p), 3);
    {
        auto t = ParadoxTable::open(p);
        t->append({10, QString("d")});  // an explicit value raises the counter
        t->append({QVariant(), QString("e")});
        EXPECT_EQ(t->value(5, 0).toInt(), 11);
        t->append({4, QString("f")});  // a lower explicit value leaves it
        t->update(1, {QVariant(), QString("A")});
        EXPECT_EQ(t->value(1, 0).toInt(), 1) << "a blank on update keeps the stored number";
        t->deleteRecord(5);
    }
    EXPECT_EQ(counterAt73(p), 11) << "deleting does not lower the counter";

    // A counter that was raised by hand (as the table checker repairs it).
    auto bytes = readFile(p);
    put32(bytes, 73, 40);
    writeFile(p, bytes);
    auto t = ParadoxTable::open(p);
    t->append({QVariant(), QString("g")});
    EXPECT_EQ(t->value(t->recordCount(), 0).toInt(), 41);
    EXPECT_EQ(counterAt73(p), 41);
}

TEST_F(ParadoxTableTest, OpenModesAndLocksExcludeOtherOpens)
{
    const auto p = path("L.DB");
    ParadoxTable::create(p, Fields{{"NOM", 'A', 10}});
    {
        auto excl = ParadoxTable::open(p, {true, false});
        EXPECT_TRUE(excl->isExclusive());
        EXPECT_EQ(codeOf([&] { ParadoxTable::open(p); }), kdb::DBERR_FILELOCKED) << "opened beside an exclusive open";
    }
    auto a = ParadoxTable::open(p);
    auto b = ParadoxTable::open(p);
    EXPECT_THROW(ParadoxTable::open(p, {true, false}), EDBEngineError);
    a->append({QString("un")});
    a->append({QString("deux")});
    b->refresh();
    EXPECT_EQ(b->recordCount(), 2u);
    ASSERT_TRUE(a->lockRecord(1));
    EXPECT_FALSE(b->lockRecord(1));
    EXPECT_TRUE(b->lockRecord(2));
    a->unlockRecord(1);
    EXPECT_TRUE(b->lockRecord(1));
    ASSERT_TRUE(a->lockTable());
    EXPECT_FALSE(b->lockTable());
    EXPECT_THROW(b->append({QString("refusé")}), EDBEngineError);
    a->append({QString("trois")});  // the holder of the table lock still appends
    a->unlockTable();
    b->append({QString("quatre")});
    EXPECT_EQ(b->recordCount(), 4u) << "an append first takes in the records appended by others";
    EXPECT_EQ(b->value(3, 0).toString(), QString("trois"));
    EXPECT_TRUE(b->tags().empty());
    EXPECT_THROW(b->openTag("NOM"), EDBEngineError);
}

TEST_F(ParadoxTableTest, CreationRefusesWhatItCannotWrite)
{
    const auto p = path("X.DB");
    EXPECT_EQ(codeOf([&] { ParadoxTable::open(path("ABSENT.DB")); }), kdb::DBERR_NOSUCHTABLE);
    EXPECT_THROW(ParadoxTable::create(p, Fields{}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"A", 'A', 0}}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"A", 'A', 256}}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"NOM", 'A', 5}, {"nom", 'S', 0}}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"UN_NOM_BEAUCOUP_TROP_LONG_", 'A', 5}}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"M", 'M', 20}}), EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p,
                     Fields{{"A", 'A', 200}, {"B", 'A', 200}, {"C", 'A', 200}, {"D", 'A', 200}, {"E", 'A', 200},
                         {"F", 'A', 200}},
                     {{}, 1}),
        EDBEngineError);
    EXPECT_THROW(ParadoxTable::create(p, Fields{{"A", 'A', 5}}, {{"1", "2", "3"}, 2}), EDBEngineError);

    kdb::TableDesc desc;
    desc.tableName = "X.DB";
    desc.fields = {{0, "USERID", kdb::fldZSTRING, 0, 20}, {0, "N", kdb::fldINT32, kdb::fldstAUTOINC}};
    ParadoxTable::create(p, desc);
    auto t = ParadoxTable::open(p);
    ASSERT_EQ(t->fieldCount(), 2);
    EXPECT_EQ(t->fields()[0].width, 20);
    EXPECT_EQ(t->fields()[1].nativeType, '+');
    desc.fields.push_back({0, "M", kdb::fldBLOB, kdb::fldstMEMO});
    EXPECT_THROW(ParadoxTable::create(path("Y.DB"), desc), EDBEngineError);
}

TEST_F(ParadoxTableTest, TwoProcessesAppendingTogetherLoseAndDoubleNothing)
{
    const auto p = path("MP.DB");
    ParadoxTable::create(p, Fields{{"WHO", 'A', 12}, {"N", '+', 0}}, {{}, 1});
    constexpr int kEach = 3000;
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int rc = 0;
        try {
            auto t = ParadoxTable::open(p);
            char c = 0;
            if (write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) != 1)
                _exit(2);
            for (int i = 0; i < kEach; ++i)
                t->append({QString("c%1").arg(i)});
        } catch (...) {
            rc = 1;
        }
        _exit(rc);
    }
    {
        auto t = ParadoxTable::open(p);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        ASSERT_EQ(write(go[1], "g", 1), 1);  // both start together
        for (int i = 0; i < kEach; ++i)
            t->append({QString("p%1").arg(i)});
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto t = ParadoxTable::open(p, {false, true});
    ASSERT_EQ(t->recordCount(), 2u * kEach);
    std::set<QString> names;
    std::set<int> numbers;
    int lastC = -1, lastP = -1;
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        const QString who = t->value(r, 0).toString();
        names.insert(who);
        numbers.insert(t->value(r, 1).toInt());
        int& last = who.startsWith('c') ? lastC : lastP;
        EXPECT_EQ(who.mid(1).toInt(), last + 1) << "each program's records in its own order";
        last = who.mid(1).toInt();
    }
    EXPECT_EQ(names.size(), 2u * kEach);
    EXPECT_EQ(numbers.size(), 2u * kEach) << "no autoincrement value handed out twice";
    EXPECT_EQ(counterAt73(p), 2 * kEach);
}

TEST_F(ParadoxTableTest, AWriterKilledAtAnyMomentLeavesAReadableTableWithEveryFlushedRecord)
{
    const auto p = path("K.DB");
    ParadoxTable::create(p, Fields{{"TXT", 'A', 40}, {"N", '+', 0}}, {{}, 1});
    std::mt19937 rng(99);
    int confirmedTotal = 0;
    for (int round = 0; round < 8; ++round) {
        int progress[2];
        ASSERT_EQ(pipe(progress), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(progress[0]);
            try {
                auto t = ParadoxTable::open(p);
                for (int i = 0;; ++i) {
                    t->append({QString("r%1-%2").arg(round).arg(i)});
                    if (i % 3 == 0)
                        t->deleteRecord(t->recordCount());  // block boundaries move both ways
                    t->flush();
                    const int done = i;
                    if (write(progress[1], &done, sizeof(done)) != sizeof(done))
                        _exit(3);
                }
            } catch (...) {
                _exit(1);
            }
        }
        close(progress[1]);
        usleep(static_cast<useconds_t>(2000 + rng() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";
        int last = -1, v = 0;
        while (read(progress[0], &v, sizeof(v)) == sizeof(v))
            last = v;
        close(progress[0]);

        auto t = ParadoxTable::open(p, {false, true});
        int kept = 0;
        for (uint32_t r = 1; r <= t->recordCount(); ++r) {
            const QString s = t->value(r, 0).toString();
            if (s.startsWith(QString("r%1-").arg(round)))
                ++kept;
        }
        // Records 0, 1, 2 of every three survive (the third is deleted), so
        // after flushed record `last` at least this many are in the table.
        const int flushedLive = last < 0 ? 0 : (last + 1) - ((last / 3) + 1);
        EXPECT_GE(kept, flushedLive) << "round " << round;
        EXPECT_LE(kept, flushedLive + 1) << "round " << round;
        confirmedTotal += kept;
        EXPECT_EQ(static_cast<int>(t->recordCount()), confirmedTotal);
    }
}
