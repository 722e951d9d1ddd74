// Damaged and foreign files: always a clean engine error, never a crash or hang.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "MdxExercise.h"
#include "MdxTestUtil.h"

using namespace kdb::mdx;
using namespace mdxtest;

namespace {

uint32_t rd32(const std::vector<unsigned char>& d, size_t off)
{
    uint32_t v;
    std::memcpy(&v, d.data() + off, 4);
    return v;
}
void wr32(std::vector<unsigned char>& d, size_t off, uint32_t v)
{
    std::memcpy(d.data() + off, &v, 4);
}

// A sound file with three tags several levels deep and some free blocks.
std::string makeSample(const TempDir& dir)
{
    const std::string path = dir.file("SAMPLE.MDX");
    auto f = MdxFile::create(path, "SAMPLE", {charTag("NOM", 20), dateTag("D", false, true), numTag("N", true)});
    for (int i = 1; i <= 4000; ++i) {
        f->insert("NOM", "N" + std::to_string(i * 7 % 1500), static_cast<uint32_t>(i));
        f->insert("D", encodeDateJdn(2450000.0 + i % 900), static_cast<uint32_t>(i));
        f->insert("N", *encodeNumeric(i * 1.5), static_cast<uint32_t>(i));
    }
    for (int i = 1; i <= 4000; i += (i < 1500 ? 1 : 4))
        f->remove("N", *encodeNumeric(i * 1.5), static_cast<uint32_t>(i));
    f->flush();
    f->verify();
    return path;
}

// The page of the first tag's header and of its root node.
void firstTagPages(const std::vector<unsigned char>& d, uint32_t& header, uint32_t& root)
{
    header = rd32(d, 544);
    root = rd32(d, size_t(header) * 512);
}

}  // namespace

TEST(MdxDamage, TruncatedAtEveryBlockBoundaryIsRefused)
{
    TempDir dir;
    const auto good = readAll(makeSample(dir));
    ASSERT_EQ(good.size() % 1024, 0u);
    const std::string copy = dir.file("CUT.MDX");
    for (size_t cut = 0; cut < good.size(); cut += 512) {
        writeAll(copy, std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(cut)));
        ASSERT_EQ(codeOf([&] { MdxFile::open(copy); }), kdb::DBERR_INDEXOUTOFDATE) << "cut at " << cut;
        exerciseFile(copy);
    }
    for (size_t cut : {size_t(1), size_t(47), size_t(2047), good.size() - 1}) {
        writeAll(copy, std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(cut)));
        EXPECT_EQ(codeOf([&] { MdxFile::open(copy); }), kdb::DBERR_INDEXOUTOFDATE);
    }
}

TEST(MdxDamage, RandomByteFlipsGiveCleanErrors)
{
    TempDir dir;
    const auto good = readAll(makeSample(dir));
    const std::string copy = dir.file("FLIP.MDX");
    std::mt19937 rng(99);
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        auto bad = good;
        const int flips = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < flips; ++k) {
            // Half of the damage goes to the headers and the first blocks.
            const size_t limit = (rng() % 2) ? std::min<size_t>(bad.size(), 8192) : bad.size();
            bad[rng() % limit] ^= static_cast<unsigned char>(1 + rng() % 255);
        }
        writeAll(copy, bad);
        exerciseFile(copy);
        if (codeOf([&] { MdxFile::open(copy)->verify(); }) == kdb::DBERR_INDEXOUTOFDATE)
            ++refused;
    }
    EXPECT_GT(refused, 100);  // most damage is noticed by open or verify
}

TEST(MdxDamage, LoopsInNodePointersAreDetected)
{
    TempDir dir;
    const auto good = readAll(makeSample(dir));
    uint32_t header, root;
    firstTagPages(good, header, root);
    const size_t rootOff = size_t(root) * 512;
    const uint32_t n = rd32(good, rootOff);
    ASSERT_GT(n, 0u);
    ASSERT_NE(rd32(good, rootOff + 8 + 24 * n), 0u) << "root must be an interior node";
    const std::string copy = dir.file("LOOP.MDX");

    // First child pointing back at the root itself.
    auto selfLoop = good;
    wr32(selfLoop, rootOff + 8, root);
    writeAll(copy, selfLoop);
    {
        auto f = MdxFile::open(copy);
        EXPECT_EQ(codeOf([&] { f->verify(); }), kdb::DBERR_INDEXOUTOFDATE);
        EXPECT_EQ(codeOf([&] { f->cursor("NOM").first(); }), kdb::DBERR_INDEXOUTOFDATE);
        EXPECT_EQ(codeOf([&] { f->count("NOM"); }), kdb::DBERR_INDEXOUTOFDATE);
        EXPECT_EQ(codeOf([&] { f->insert("NOM", "A", 1); }), kdb::DBERR_INDEXOUTOFDATE);
    }
    exerciseFile(copy);

    // Every child pointing at the same leaf: a scan would see the same entries again.
    auto shared = good;
    const uint32_t firstChild = rd32(good, rootOff + 8);
    for (uint32_t i = 0; i <= n; ++i)
        wr32(shared, rootOff + 8 + 24 * i, firstChild);
    writeAll(copy, shared);
    {
        auto f = MdxFile::open(copy);
        EXPECT_EQ(codeOf([&] { f->verify(); }), kdb::DBERR_INDEXOUTOFDATE);
        EXPECT_EQ(codeOf([&] {
            auto c = f->cursor("NOM");
            for (bool ok = c.first(); ok; ok = c.next()) { }
        }),
            kdb::DBERR_INDEXOUTOFDATE);
    }
    exerciseFile(copy);

    // A free list that loops.
    auto freeLoop = good;
    const uint32_t freeHead = rd32(good, 36);
    ASSERT_NE(freeHead, 0u);
    wr32(freeLoop, size_t(freeHead) * 512 + 4, freeHead);
    wr32(freeLoop, 40, 1000);
    writeAll(copy, freeLoop);
    EXPECT_EQ(codeOf([&] { MdxFile::open(copy)->verify(); }), kdb::DBERR_INDEXOUTOFDATE);
    exerciseFile(copy);
}

// A free-block list that runs back into itself hands the same block out
// twice: the tags that get it overwrite each other. The open refuses it
// (the tags still read, for the regeneration).
TEST(MdxDamage, AFreeListThatRunsIntoItselfIsRefusedAtOpen)
{
    TempDir dir;
    const auto good = readAll(makeSample(dir));
    const uint32_t freeHead = rd32(good, 36), count = rd32(good, 40);
    ASSERT_GE(count, 3u);
    const std::string copy = dir.file("LOOP.MDX");
    // The first free block linked to itself, the count left as it was.
    auto self = good;
    wr32(self, size_t(freeHead) * 512 + 4, freeHead);
    writeAll(copy, self);
    EXPECT_EQ(codeOf([&] { MdxFile::open(copy); }), kdb::DBERR_INDEXOUTOFDATE);
    EXPECT_EQ(MdxFile::readTagSpecs(copy).size(), 3u);
    // The third linked back to the first.
    auto back = good;
    const uint32_t second = rd32(good, size_t(freeHead) * 512 + 4);
    const uint32_t third = rd32(good, size_t(second) * 512 + 4);
    ASSERT_NE(third, 0u);
    wr32(back, size_t(third) * 512 + 4, freeHead);
    writeAll(copy, back);
    EXPECT_EQ(codeOf([&] { MdxFile::open(copy); }), kdb::DBERR_INDEXOUTOFDATE);
    // The sound file opens and takes inserts.
    writeAll(copy, good);
    auto f = MdxFile::open(copy);
    for (uint32_t i = 1; i <= 300; ++i)
        f->insert("NOM", "X" + std::to_string(i), 5000 + i);
    f->verify();
}

TEST(MdxDamage, ForeignFilesAreRefused)
{
    TempDir dir;
    const std::string path = dir.file("F.MDX");
    std::vector<unsigned char> table(4096, 0);
    table[0] = 0x03;  // looks like a table file
    table[8] = 0x61;
    writeAll(path, table);
    EXPECT_EQ(codeOf([&] { MdxFile::open(path); }), kdb::DBERR_INDEXOUTOFDATE);
    std::vector<unsigned char> text(5000, 'x');
    writeAll(path, text);
    EXPECT_EQ(codeOf([&] { MdxFile::open(path); }), kdb::DBERR_INDEXOUTOFDATE);
    EXPECT_EQ(codeOf([&] { MdxFile::readTagSpecs(path); }), kdb::DBERR_INDEXOUTOFDATE);
    writeAll(path, {});
    EXPECT_EQ(codeOf([&] { MdxFile::open(path); }), kdb::DBERR_INDEXOUTOFDATE);
}

TEST(MdxDamage, CorpusOfDamagedFilesReplays)
{
    const std::filesystem::path corpus = std::filesystem::path(MDX_TEST_DIR) / "corpus";
    TempDir dir;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        // Work on a copy: the exercise changes the file.
        const std::string copy = dir.file("C.MDX");
        writeAll(copy, readAll(entry.path().string()));
        SCOPED_TRACE(entry.path().filename().string());
        exerciseFile(copy);
        ++files;
    }
    EXPECT_GT(files, 0);
}
