// Another reader of the format must walk our tags and find the same keys in
// the same order: the Perl module XBase::Index, driven by print_tag_keys.pl.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "MdxTestUtil.h"

using namespace kdb::mdx;
using namespace mdxtest;

namespace {

bool readerAvailable()
{
    return std::system("perl -MXBase::Index -e 1 >/dev/null 2>&1") == 0;
}

// Lines "hexkey<TAB>recno" printed by the other reader for one tag.
std::vector<std::string> otherReader(const std::string& file, const std::string& tag)
{
    const std::string cmd = std::string("perl '") + MDX_TEST_DIR + "/print_tag_keys.pl' '" + file + "' " + tag;
    std::vector<std::string> lines;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return lines;
    std::string cur;
    int ch;
    while ((ch = std::fgetc(p)) != EOF) {
        if (ch == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(ch));
        }
    }
    EXPECT_EQ(::pclose(p), 0) << cmd;
    return lines;
}

void expectSameAsOtherReader(MdxFile& f, const std::string& file, const std::string& tag)
{
    std::vector<std::string> ours;
    for (const Entry& e : scan(f, tag))
        ours.push_back(hex(e.key) + "\t" + std::to_string(e.recno));
    const auto theirs = otherReader(file, tag);
    ASSERT_EQ(theirs.size(), ours.size()) << tag;
    for (size_t i = 0; i < ours.size(); ++i)
        ASSERT_EQ(theirs[i], ours[i]) << tag << " entry " << i;
}

// The six-digit code of record i.
std::string codeKey(int i, int factor)
{
    return numberedKey("", 6, static_cast<int>((int64_t(i) * factor) % 1000000));
}

std::string name(int i)
{
    // Windows-1252 bytes: "ÉMILE", "ŒUVRE", "D’ARC" sort with their letters.
    static const char* first[] = {"BERNARD", "DUBOIS", "DURAND", "LEROY", "MARTIN", "MOREAU", "PETIT", "ROUX",
        "\xC9MILE", "\x8CUVRE",
        "D\x92"
        "ARC",
        "zo\xE9"};
    return std::string(first[i % 12]) + " " + std::to_string(i / 12);
}

}  // namespace

class MdxInterop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!readerAvailable())
            GTEST_SKIP() << "perl or XBase::Index missing";
    }
};

TEST_F(MdxInterop, TagsBuiltByInsertsAndRemovalsReadTheSame)
{
    TempDir dir;
    const std::string path = dir.file("CONS.MDX");
    auto f = MdxFile::create(path, "CONS",
        {charTag("NOM", 30), dateTag("DCONS"), numTag("MONTANT"), charTag("CODE", 6, true),
            charTag("WIDE", 100, true, true), dateTag("DDESC", false, true), numTag("NDESC", true, true)});
    std::mt19937 rng(7);
    const int n = 6000;
    std::vector<uint32_t> order(n);
    for (int i = 0; i < n; ++i)
        order[i] = static_cast<uint32_t>(i + 1);
    std::shuffle(order.begin(), order.end(), rng);
    for (uint32_t r : order) {
        const int i = static_cast<int>(r);
        const std::string code = codeKey(i, 7919);
        f->insertRecord({"NOM", "DCONS", "MONTANT", "CODE", "WIDE", "DDESC", "NDESC"},
            {name(i % 700), encodeDate(1995 + i % 25, 1 + i % 12, 1 + i % 28), *encodeNumeric((i % 400) * 2.5 - 300),
                code, std::string(80, 'W') + code, encodeDate(2001, 1 + i % 12, 1 + i % 28),
                *encodeNumeric(i * -0.125)},
            r);
    }
    // Removals free blocks and move separators.
    for (int i = 1; i <= n; i += 3)
        f->remove("WIDE", std::string(80, 'W') + codeKey(i, 7919), static_cast<uint32_t>(i));
    f->flush();
    f->verify();
    for (const char* tag : {"NOM", "DCONS", "MONTANT", "CODE", "WIDE", "DDESC", "NDESC"})
        expectSameAsOtherReader(*f, path, tag);
}

TEST_F(MdxInterop, RegeneratedTagsReadTheSame)
{
    TempDir dir;
    const std::string path = dir.file("PATIENT.MDX");
    std::vector<std::pair<std::string, std::string>> recs;
    for (int i = 1; i <= 20000; ++i)
        recs.emplace_back(codeKey(i, 104729), name(i));
    size_t i = 0;
    auto f = MdxFile::rebuild(path, "Patient", {charTag("CODE", 6, true), charTag("NOM", 30)}, [&](RecordKeys& rec) {
        if (i >= recs.size())
            return false;
        rec.recno = static_cast<uint32_t>(i + 1);
        rec.keys = {recs[i].first, recs[i].second};
        ++i;
        return true;
    });
    f->verify();
    expectSameAsOtherReader(*f, path, "CODE");
    expectSameAsOtherReader(*f, path, "NOM");
}
