// Damaged and foreign files: a clear engine error, never a crash or a hang.
#include <filesystem>
#include <functional>
#include <random>

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <gtest/gtest.h>

#include "PxTestUtil.h"
#include "platform/db/core/DbError.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/paradox/ParadoxTable.h"

using kdb::ParadoxTable;
using namespace pxtest;

namespace {

// Opens, reads every value, then appends, updates and deletes; answers the
// engine code of the first failure, 0 when all went through.
int exercise(const std::string& file)
{
    return codeOf([&] {
        auto t = ParadoxTable::open(file);
        (void)readAll(*t);
        const uint32_t n = t->recordCount();
        t->append({});
        if (n > 0) {
            t->update(1, t->record(1));
            t->deleteRecord(n);
        }
        t->refresh();
        (void)readAll(*t);
    });
}

class ParadoxDamagedTableTest : public PxTest {
protected:
    void SetUp() override
    {
        PxTest::SetUp();
        file = path("T.DB");
        // 1 KiB blocks, 64-byte records: 15 records per block, 40 records.
        ParadoxTable::create(file, Fields{{"NOM", 'A', 56}, {"N", 'I', 0}, {"D", 'D', 0}}, {{}, 1});
        auto t = ParadoxTable::open(file);
        for (int i = 0; i < 40; ++i)
            t->append({QString("enregistrement %1").arg(i), i});
        t.reset();
        good = readFile(file);
        headerSize = u16(good, 2);
    }

    int codeAfter(const std::function<void(std::vector<uint8_t>&)>& damage)
    {
        auto bytes = good;
        damage(bytes);
        writeFile(file, bytes);
        return exercise(file);
    }
    size_t block(size_t n) const { return headerSize + (n - 1) * 1024; }

    std::string file;
    std::vector<uint8_t> good;
    size_t headerSize = 0;
};

using ParadoxKeptCorpus = PxTest;

}  // namespace

TEST_F(ParadoxDamagedTableTest, BlockChainFaultsAreReported)
{
    EXPECT_EQ(codeAfter([](auto&) {}), 0);
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, block(3), 1); }), kdb::DBERR_FILECORRUPT) << "loop";
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, block(1), 1); }), kdb::DBERR_FILECORRUPT) << "self loop";
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, block(2), 900); }), kdb::DBERR_FILECORRUPT) << "beyond the file";
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, 0x0E, 77); }), kdb::DBERR_FILECORRUPT) << "first block";
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, block(2) + 4, 5); }), kdb::DBERR_FILECORRUPT) << "odd record size";
    EXPECT_EQ(codeAfter([&](auto& b) { put16(b, block(2) + 4, 20 * 64); }), kdb::DBERR_FILECORRUPT)
        << "more records than fit";
    EXPECT_EQ(codeAfter([&](auto& b) { b.resize(block(3) + 100); }), kdb::DBERR_FILECORRUPT) << "truncated";
}

TEST_F(ParadoxDamagedTableTest, CountsThatLieAreCorrectedFromTheChain)
{
    auto bytes = good;
    put32(bytes, 0x06, 1000000);
    put16(bytes, 0x0C, 1);  // fewer blocks than the chain uses
    put16(bytes, 0x10, 1);  // wrong last block
    put16(bytes, 0x4D, 2);  // a "free" block that is in use
    writeFile(file, bytes);
    {
        auto t = ParadoxTable::open(file);
        EXPECT_EQ(t->recordCount(), 40u);
        for (int i = 0; i < 20; ++i)
            t->append({QString("neuf %1").arg(i), 100 + i});
    }
    auto t = ParadoxTable::open(file);
    ASSERT_EQ(t->recordCount(), 60u);
    EXPECT_EQ(t->value(2, 0).toString(), QString("enregistrement 1")) << "block 2 was not reused";
    EXPECT_EQ(t->value(60, 1).toInt(), 119);
    const auto after = readFile(file);
    EXPECT_EQ(u32(after, 0x06), 60u);
}

TEST_F(ParadoxDamagedTableTest, HeaderFaultsAreReported)
{
    EXPECT_EQ(codeAfter([](auto& b) { b.resize(30); }), kdb::DBERR_HEADERCORRUPT);
    EXPECT_EQ(codeAfter([](auto& b) { b.clear(); }), kdb::DBERR_HEADERCORRUPT);
    EXPECT_EQ(codeAfter([](auto& b) { b.resize(0x500); }), kdb::DBERR_HEADERCORRUPT) << "header cut";
    EXPECT_EQ(codeAfter([](auto& b) { put16(b, 0x21, 0); }), kdb::DBERR_HEADERCORRUPT) << "no fields";
    EXPECT_EQ(codeAfter([](auto& b) { put16(b, 0x21, 4000); }), kdb::DBERR_HEADERCORRUPT);
    EXPECT_EQ(codeAfter([](auto& b) { b[0x39] = 99; }), kdb::DBERR_HEADERCORRUPT) << "version";
    EXPECT_EQ(codeAfter([](auto& b) { b[0x04] = 1; }), kdb::DBERR_NOTSUPPORTED) << "an index file";
    EXPECT_EQ(codeAfter([](auto& b) { put32(b, 0x5C, 0x12345678); }), kdb::DBERR_NOTSUPPORTED)
        << "protected by an unknown scheme";
    EXPECT_EQ(codeAfter([](auto& b) {
        b.assign(4096, 0);
        std::string text = "Ceci n'est pas une table.";
        std::copy(text.begin(), text.end(), b.begin());
    }),
        kdb::DBERR_HEADERCORRUPT);
}

TEST_F(ParadoxDamagedTableTest, KeyedTablesReadButRefuseWrites)
{
    auto bytes = good;
    bytes[0x04] = 0;  // keyed
    put16(bytes, 0x23, 1);
    writeFile(file, bytes);
    EXPECT_EQ(exercise(file), kdb::DBERR_NOTSUPPORTED);
    auto t = ParadoxTable::open(file);
    EXPECT_EQ(t->recordCount(), 40u);
    EXPECT_EQ(t->value(40, 1).toInt(), 39);
}

TEST_F(ParadoxDamagedTableTest, EveryTruncationAndRandomDamageEndsCleanly)
{
    for (size_t len = 0; len <= good.size(); len += 97) {
        auto bytes = good;
        bytes.resize(len);
        writeFile(file, bytes);
        const int code = exercise(file);
        EXPECT_TRUE(code == 0 || code == kdb::DBERR_HEADERCORRUPT || code == kdb::DBERR_FILECORRUPT)
            << len << " " << code;
    }
    std::mt19937 rng(77);
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly the fixed header and block headers, where damage matters.
            size_t at = rng() % 3 == 0 ? rng() % 0x78 : rng() % bytes.size();
            if (rng() % 3 == 0)
                at = block(1 + rng() % 3) + rng() % 6;
            bytes[at] = static_cast<uint8_t>(rng());
        }
        writeFile(file, bytes);
        (void)exercise(file);  // any engine code, no crash, no hang
    }
}

TEST_F(ParadoxKeptCorpus, ValidFilesOpenWithTheirRecordsAndBadOnesAreRefused)
{
    kdb::Session::instance().addPassword("/Kelvar/");  // valid-protected-*
    const std::string work = path("C.DB");
    int valid = 0, bad = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PX_CORPUS_DIR)) {
        if (!entry.is_regular_file())
            continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        writeFile(work, readFile(entry.path().string()));
        if (name.rfind("valid-", 0) == 0) {
            ++valid;
            const auto dash = name.rfind('-'), dot = name.rfind('.');
            const size_t expected = std::stoul(name.substr(dash + 1, dot - dash - 1));
            {
                auto t = ParadoxTable::open(work, {false, true});
                EXPECT_EQ(readAll(*t).size(), expected);
            }
            EXPECT_EQ(exercise(work), 0);
        } else if (name.rfind("bad-", 0) == 0) {
            ++bad;
            EXPECT_NE(exercise(work), 0);
        } else {
            (void)exercise(work);  // found by fuzzing: any engine code, no crash
        }
    }
    EXPECT_GT(valid, 0);
    EXPECT_GT(bad, 0);
}

TEST_F(ParadoxKeptCorpus, OlderAndNewerLayoutsReadTheirValues)
{
    const std::string corpus = PX_CORPUS_DIR;
    {
        // 3.0 layout whose chain runs through the blocks out of file order.
        auto t = ParadoxTable::open(corpus + "/valid-v3-chain-order-30.DB", {false, true});
        ASSERT_EQ(t->recordCount(), 30u);
        EXPECT_EQ(t->value(13, 0).toString(), QString("Patient 12"));
        EXPECT_EQ(t->value(13, 1).toInt(), 7);
        EXPECT_DOUBLE_EQ(t->value(13, 2).toDouble(), 18.0);
        EXPECT_EQ(t->value(13, 3).toDate(), QDate(1996, 5, 16));
        EXPECT_EQ(t->value(1, 1).toInt(), -5);
    }
    for (const char* name : {"/valid-v7-header4k-25.DB", "/valid-v7-slot271-25.DB"}) {
        SCOPED_TRACE(name);
        auto t = ParadoxTable::open(corpus + name, {false, true});
        ASSERT_EQ(t->fieldCount(), 8);
        EXPECT_EQ(t->fields()[7].name, "LIB");
        EXPECT_EQ(t->fields()[5].type, kdb::fldBCD);
        EXPECT_EQ(t->value(4, 0).toInt(), 4);
        EXPECT_DOUBLE_EQ(t->value(4, 1).toDouble(), 30.75);
        EXPECT_EQ(t->value(4, 2).toBool(), false);
        EXPECT_EQ(t->value(4, 3).toTime(), QTime(3, 0));
        EXPECT_EQ(t->value(4, 4).toDateTime(), QDateTime(QDate(2003, 7, 17), QTime(0, 0)));
        EXPECT_DOUBLE_EQ(t->value(4, 5).toDouble(), 1.03);
        EXPECT_EQ(t->value(4, 6).toString(), QString("memo 3"));
        EXPECT_EQ(t->value(4, 7).toString(), QString::fromUtf8("Libellé 3"));
    }
}
