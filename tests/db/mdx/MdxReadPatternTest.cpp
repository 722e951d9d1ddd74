// Reads of one tag in mixed patterns (lookups between scans, walks in both
// directions, two tags in turn) against the entries put in: the blocks a
// read brings in ahead must never hide or reorder an entry; and the holder
// lock of the table layer must not hide another handle's flushed changes
// once it is given back.
#include <gtest/gtest.h>

#include <random>

#include "MdxTestUtil.h"
#include "platform/db/core/DbError.h"

using namespace kdb::mdx;
using namespace mdxtest;

namespace {

std::string key(int i)
{
    return numberedKey("K", 6, i);
}

}  // namespace

TEST(MdxReadPattern, LookupsScansAndWalksSeeEveryEntryInOrder)
{
    TempDir dir;
    const std::string path = dir.file("READS.MDX");
    const int n = 6000;  // hundreds of leaves per tag
    {
        auto f = MdxFile::create(path, "READS", {charTag("A", 7), charTag("B", 7)});
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i)
            order[static_cast<size_t>(i)] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        for (int i : order) {
            f->insert("A", key(i), static_cast<uint32_t>(i + 1));
            f->insert("B", key(n - 1 - i), static_cast<uint32_t>(i + 1));
        }
        f->flush();
    }
    auto f = MdxFile::open(path, MdxFile::Mode::ReadOnly);
    std::mt19937 rng(3);
    for (int round = 0; round < 3; ++round) {
        // Scattered lookups first, then a whole scan, on alternate tags.
        for (int j = 0; j < 50; ++j) {
            const int i = static_cast<int>(rng() % n);
            auto e = f->findExact(round % 2 ? "B" : "A", key(i));
            ASSERT_TRUE(e.has_value());
            EXPECT_EQ(e->recno, static_cast<uint32_t>(round % 2 ? n - i : i + 1));
        }
        auto c = f->cursor("A");
        int seen = 0;
        for (bool ok = c.first(); ok; ok = c.next()) {
            ASSERT_EQ(c.key(), key(seen));
            ++seen;
            if (seen % 997 == 0) {  // a lookup in the other tag in the middle of the scan
                auto e = f->findExact("B", key(seen));
                ASSERT_TRUE(e.has_value());
            }
        }
        EXPECT_EQ(seen, n);
        auto back = f->cursor("B");
        int left = n;
        for (bool ok = back.last(); ok; ok = back.prior())
            ASSERT_EQ(back.key(), key(--left));
        EXPECT_EQ(left, 0);
    }
    f->verify();
}

TEST(MdxReadPattern, AHoldGivenBackLetsTheNextCallSeeAnotherHandlesChanges)
{
    TempDir dir;
    const std::string path = dir.file("HOLD.MDX");
    MdxFile::create(path, "HOLD", {charTag("A", 7)});
    auto reader = MdxFile::open(path, MdxFile::Mode::ReadOnly);
    auto writer = MdxFile::open(path);
    reader->setLockedByCaller(true);
    EXPECT_FALSE(reader->findExact("A", key(1)).has_value());
    reader->setLockedByCaller(false);
    writer->insert("A", key(1), 1);
    writer->flush(false);
    EXPECT_TRUE(reader->findExact("A", key(1)).has_value());
    // A new hold checks the disk once at its first call.
    writer->insert("A", key(2), 2);
    writer->flush(false);
    reader->setLockedByCaller(true);
    EXPECT_EQ(reader->count("A"), 2u);
    // An explicit refresh always looks, hold or not.
    writer->insert("A", key(3), 3);
    writer->flush(false);
    reader->refresh();
    EXPECT_EQ(reader->count("A"), 3u);
    reader->setLockedByCaller(false);
}
