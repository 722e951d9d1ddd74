// The index file through its public interface: tags, entries, seeks, cursors,
// unique tags, durability marks and regeneration.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "MdxTestUtil.h"
#include "platform/db/core/Codepage.h"
#include "platform/db/core/DbError.h"

using namespace kdb::mdx;
using namespace mdxtest;

namespace {

std::string code(int i)
{
    return numberedKey("P", 5, i);
}

}  // namespace

TEST(MdxTags, CreateListReopenAndDescriptions)
{
    TempDir dir;
    const std::string path = dir.file("PATIENT.MDX");
    {
        TagSpec expr{"codenum", "CODE+NUM", "", KeyType::Character, 9, true, false, false};
        auto f = MdxFile::create(path, "Patient.DBF",
            {charTag("CODE", 6, true), charTag("NOM", 30), expr, dateTag("DN", false, true), numTag("AGE")});
        EXPECT_EQ(f->tagCount(), 5);
        EXPECT_EQ(f->dataFileName(), "Patient");
    }
    auto f = MdxFile::open(path);
    const auto tags = f->tags();
    ASSERT_EQ(tags.size(), 5u);
    EXPECT_EQ(tags[2].name, "CODENUM");
    EXPECT_EQ(tags[2].expression, "CODE+NUM");
    EXPECT_TRUE(tags[2].unique);
    EXPECT_FALSE(tags[2].isField);
    EXPECT_EQ(tags[2].keyLength, 9);
    EXPECT_TRUE(tags[3].descending);
    EXPECT_EQ(tags[3].keyLength, 8);
    EXPECT_EQ(tags[4].type, KeyType::Numeric);
    EXPECT_EQ(tags[4].keyLength, 12);
    EXPECT_TRUE(f->hasTag("nom"));
    EXPECT_FALSE(f->hasTag("PRENOM"));
    EXPECT_EQ(f->count("CODE"), 0u);
    EXPECT_EQ(codeOf([&] { f->count("PRENOM"); }), kdb::DBERR_NOSUCHINDEX);
    f->verify();
}

TEST(MdxTags, CharacterTagsRecordTheCollationOfTheirOrder)
{
    TempDir dir;
    const std::string path = dir.file("NOMS.MDX");
    TagSpec dos = charTag("DOS", 6), bytes = charTag("BYTES", 6);
    dos.codePage = kdb::kCodePage850;
    bytes.codePage = 0;
    // "EVA", "ÉMILE" and "FABIEN" in Windows-1252 and in code page 850.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"FABIEN", "FABIEN"}, {"\xC9MILE", "\x90MILE"}, {"EVA   ", "EVA   "}, {"zo\xE9  ", "zo\x82  "}};
    {
        auto f = MdxFile::create(path, "NOMS", {charTag("NOM", 6), dos, bytes, numTag("N")});
        for (uint32_t r = 1; r <= names.size(); ++r)
            f->insertRecord({"NOM", "DOS", "BYTES", "N"},
                {names[r - 1].first, names[r - 1].second, names[r - 1].first, *encodeNumeric(r)}, r);
        f->flush();
    }
    auto recnos = [](MdxFile& f, const std::string& tag) {
        std::vector<uint32_t> out;
        for (const Entry& e : scan(f, tag))
            out.push_back(e.recno);
        return out;
    };
    {
        auto f = MdxFile::open(path);
        const auto tags = f->tags();
        EXPECT_EQ(tags[0].codePage, kdb::kCodePage1252);
        EXPECT_EQ(tags[1].codePage, kdb::kCodePage850);
        EXPECT_EQ(tags[2].codePage, 0);
        EXPECT_EQ(recnos(*f, "NOM"), (std::vector<uint32_t>{3, 2, 1, 4}));
        EXPECT_EQ(recnos(*f, "DOS"), (std::vector<uint32_t>{3, 2, 1, 4}));
        EXPECT_EQ(recnos(*f, "BYTES"), (std::vector<uint32_t>{3, 1, 4, 2}));
        f->verify();
    }
    // Without its mark the NOM tag reads as byte order: its keys are then
    // out of order, which the check reports instead of using them.
    auto data = readAll(path);
    const uint32_t headerPage = data[544] | data[545] << 8 | data[546] << 16 | uint32_t(data[547]) << 24;
    std::fill_n(data.begin() + headerPage * 512 + kCollationMarkOffset, 4, 0);
    writeAll(path, data);
    auto f = MdxFile::open(path);
    EXPECT_EQ(f->tags()[0].codePage, 0);
    EXPECT_EQ(codeOf([&] { f->verify(); }), kdb::DBERR_INDEXOUTOFDATE);
}

TEST(MdxTags, BadDescriptionsAreRefusedBeforeAnyFileIsWritten)
{
    TempDir dir;
    const std::string path = dir.file("X.MDX");
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {charTag("TOOLONGNAME1", 5)}); }), kdb::DBERR_INVALIDTAG);
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {charTag("A B", 5)}); }), kdb::DBERR_INVALIDTAG);
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {charTag("A", 0)}); }), kdb::DBERR_INVALIDTAG);
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {charTag("A", 101)}); }), kdb::DBERR_INVALIDTAG);
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {charTag("A", 5), charTag("a", 5)}); }), kdb::DBERR_DUPTAG);
    TagSpec badDate = dateTag("D");
    badDate.keyLength = 10;
    EXPECT_EQ(codeOf([&] { MdxFile::create(path, "X", {badDate}); }), kdb::DBERR_INVALIDTAG);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(codeOf([&] { MdxFile::open(path); }), kdb::DBERR_NOSUCHFILE);
}

TEST(MdxTags, AddAndDropKeepOtherTagsAndFreeBlocks)
{
    TempDir dir;
    const std::string path = dir.file("T.MDX");
    auto f = MdxFile::create(path, "T", {charTag("B", 8), charTag("A", 8)});
    for (int i = 1; i <= 3000; ++i) {
        f->insert("A", code(i), static_cast<uint32_t>(i));
        f->insert("B", code(3001 - i), static_cast<uint32_t>(i));
    }
    f->addTag(numTag("N"));
    for (int i = 1; i <= 100; ++i)
        f->insert("N", *encodeNumeric(i), static_cast<uint32_t>(i));
    f->dropTag("A");
    EXPECT_EQ(codeOf([&] { f->addTag(charTag("B", 3)); }), kdb::DBERR_DUPTAG);
    f->flush();
    f->verify();
    const auto sizeAfterDrop = std::filesystem::file_size(path);
    // The dropped tag's blocks are used again before the file grows.
    f->addTag(charTag("C", 8));
    for (int i = 1; i <= 3000; ++i)
        f->insert("C", code(i), static_cast<uint32_t>(i));
    f->flush();
    EXPECT_EQ(std::filesystem::file_size(path), sizeAfterDrop);
    f.reset();

    // The tag table's threads form a search tree by name, entry 1 the root:
    // B (1) has N (2) on its right, N has C (3) on its left.
    const auto raw = readAll(path);
    auto entry = [&](int i, int off) { return static_cast<int>(raw[544 + 32 * (i - 1) + off]); };
    EXPECT_EQ(entry(1, 16), 0);
    EXPECT_EQ(entry(1, 17), 2);
    EXPECT_EQ(entry(2, 16), 3);
    EXPECT_EQ(entry(2, 18), 1);
    EXPECT_EQ(entry(3, 18), 2);
    EXPECT_EQ(entry(4, 4), 0);  // no fourth entry left behind by the drop

    auto g = MdxFile::open(path);
    EXPECT_EQ(g->tagNames(), (std::vector<std::string>{"B", "N", "C"}));
    EXPECT_EQ(g->count("B"), 3000u);
    EXPECT_EQ(g->count("N"), 100u);
    EXPECT_EQ(g->count("C"), 3000u);
    g->verify();
    const auto entries = scan(*g, "B");
    EXPECT_EQ(entries.front().key, "P00001  ");
    EXPECT_EQ(entries.front().recno, 3000u);
}

TEST(MdxTags, FortySevenTagsAtMost)
{
    TempDir dir;
    std::vector<TagSpec> specs;
    for (int i = 0; i < kMaxTags; ++i)
        specs.push_back(charTag("T" + std::to_string(i), 4));
    auto f = MdxFile::create(dir.file("M.MDX"), "M", specs);
    EXPECT_EQ(codeOf([&] { f->addTag(charTag("ONEMORE", 4)); }), kdb::DBERR_TOOMANYTAGS);
    f->dropTag("T20");
    f->addTag(charTag("ONEMORE", 4));
    f->insert("ONEMORE", "ab", 1);
    f->flush();
    auto g = MdxFile::open(dir.file("M.MDX"));
    EXPECT_EQ(g->tagCount(), kMaxTags);
    EXPECT_EQ(g->findExact("ONEMORE", "ab")->recno, 1u);
}

TEST(MdxEntries, DuplicatesStayInRecordOrderAndRemoveIsExact)
{
    TempDir dir;
    auto f = MdxFile::create(dir.file("D.MDX"), "D", {charTag("NOM", 10)});
    // Many duplicates spread over several blocks, inserted in a scrambled order.
    for (uint32_t i = 0; i < 2000; ++i) {
        const uint32_t r = (i * 769) % 2000 + 1;
        f->insert("NOM", r % 3 == 0 ? "MARTIN" : "DURAND", r);
    }
    f->insert("NOM", "MARTIN", 3);  // the same entry again changes nothing
    EXPECT_EQ(f->count("NOM"), 2000u);
    f->verify();
    auto all = scan(*f, "NOM");
    ASSERT_EQ(all.size(), 2000u);
    for (size_t i = 1; i < all.size(); ++i)
        if (all[i].key == all[i - 1].key) {
            ASSERT_LT(all[i - 1].recno, all[i].recno);
        }
    EXPECT_TRUE(f->contains("NOM", "MARTIN", 999));
    EXPECT_FALSE(f->contains("NOM", "MARTIN", 998));
    EXPECT_FALSE(f->remove("NOM", "MARTIN", 998));
    EXPECT_TRUE(f->remove("NOM", "MARTIN", 999));
    EXPECT_FALSE(f->contains("NOM", "MARTIN", 999));
    EXPECT_EQ(f->count("NOM"), 1999u);
    // Empty the tag completely, then fill it again.
    for (const Entry& e : all)
        f->remove("NOM", e.key, e.recno);
    EXPECT_EQ(f->count("NOM"), 0u);
    f->verify();
    auto c = f->cursor("NOM");
    EXPECT_FALSE(c.first());
    EXPECT_FALSE(c.last());
    f->insert("NOM", "X", 7);
    EXPECT_TRUE(c.first());
    EXPECT_EQ(c.recno(), 7u);
    f->verify();
}

TEST(MdxEntries, WrongKeysAreRefused)
{
    TempDir dir;
    auto f = MdxFile::create(dir.file("K.MDX"), "K", {charTag("C", 4), dateTag("D"), numTag("N")});
    EXPECT_EQ(codeOf([&] { f->insert("C", "TOOLONG", 1); }), kdb::DBERR_INVALIDKEY);
    EXPECT_EQ(codeOf([&] { f->insert("D", "1234", 1); }), kdb::DBERR_INVALIDKEY);
    EXPECT_EQ(codeOf([&] { f->insert("N", encodeDate(2000, 1, 1), 1); }), kdb::DBERR_INVALIDKEY);
    EXPECT_EQ(codeOf([&] { f->insert("C", "AB", 0); }), kdb::DBERR_INVALIDKEY);
    EXPECT_EQ(codeOf([&] { f->insert("Z", "AB", 1); }), kdb::DBERR_NOSUCHINDEX);
    EXPECT_EQ(f->count("C"), 0u);
    f->insert("C", "AB", 1);  // short character keys are padded
    EXPECT_EQ(f->findExact("C", "AB  ")->recno, 1u);
}

TEST(MdxUnique, DuplicateKeyIsAViolationNamingTheTagAndChangesNothing)
{
    TempDir dir;
    auto f = MdxFile::create(dir.file("U.MDX"), "U", {charTag("CODE", 6, true), charTag("NOM", 10)});
    f->insertRecord({"CODE", "NOM"}, {code(1), std::string("DUPONT")}, 1);
    f->insertRecord({"CODE", "NOM"}, {code(2), std::string("DURAND")}, 2);
    EXPECT_TRUE(f->wouldViolate("CODE", code(1)));
    EXPECT_FALSE(f->wouldViolate("CODE", code(1), 1));  // the record's own key
    EXPECT_FALSE(f->wouldViolate("CODE", code(3)));
    EXPECT_FALSE(f->wouldViolate("NOM", "DUPONT"));  // not unique
    std::string message;
    EXPECT_EQ(codeOf([&] { f->insertRecord({"NOM", "CODE"}, {std::string("MARTIN"), code(1)}, 3); }, &message), 9729);
    EXPECT_NE(message.find("CODE"), std::string::npos);
    // Neither tag got the refused record.
    EXPECT_EQ(f->count("NOM"), 2u);
    EXPECT_FALSE(f->findExact("NOM", "MARTIN"));
    EXPECT_EQ(codeOf([&] { f->insert("CODE", code(2), 4); }), kdb::DBERR_KEYVIOL);
    EXPECT_EQ(f->count("CODE"), 2u);

    // Update: moving record 2 onto record 1's key is refused, its own key is fine.
    EXPECT_EQ(codeOf([&] {
        f->updateRecord({"CODE", "NOM"}, {code(2), std::string("DURAND")}, {code(1), std::string("DURANT")}, 2);
    }),
        kdb::DBERR_KEYVIOL);
    EXPECT_TRUE(f->findExact("NOM", "DURAND"));
    f->updateRecord({"CODE", "NOM"}, {code(2), std::string("DURAND")}, {code(2), std::string("DURANT")}, 2);
    EXPECT_FALSE(f->findExact("NOM", "DURAND"));
    EXPECT_EQ(f->findExact("NOM", "DURANT")->recno, 2u);
    f->updateRecord({"CODE"}, {code(2)}, {code(9)}, 2);
    EXPECT_FALSE(f->wouldViolate("CODE", code(2)));
    EXPECT_EQ(f->findExact("CODE", code(9))->recno, 2u);
    f->verify();
}

TEST(MdxSeek, AscendingCharacterTag)
{
    TempDir dir;
    auto f = MdxFile::create(dir.file("S.MDX"), "S", {charTag("NOM", 10)});
    const std::vector<std::string> names = {"BERNARD", "DUBOIS", "DUPONT", "DUPUIS", "DURAND", "MARTIN", "PETIT"};
    uint32_t r = 1;
    for (int copy = 0; copy < 300; ++copy)
        for (const auto& n : names)
            f->insert("NOM", n, r++);
    auto c = f->cursor("NOM");
    ASSERT_TRUE(c.seek("DUP"));
    EXPECT_EQ(c.key(), "DUPONT    ");
    EXPECT_EQ(c.recno(), 3u);  // the first record of the key
    ASSERT_TRUE(c.seekPrefix("DUP"));
    EXPECT_FALSE(c.seekPrefix("DUQ"));
    EXPECT_TRUE(c.valid());  // positioned on the following entry
    EXPECT_EQ(c.key(), "DURAND    ");
    EXPECT_FALSE(c.seekExact("DUP"));
    ASSERT_TRUE(c.seekLast("DUP"));
    EXPECT_EQ(c.key(), "DUPUIS    ");
    EXPECT_EQ(c.recno(), 4u + 7u * 299u);
    ASSERT_TRUE(c.next());
    EXPECT_EQ(c.key(), "DURAND    ");
    EXPECT_EQ(c.recno(), 5u);
    EXPECT_FALSE(c.seek("ZZZ"));
    EXPECT_TRUE(c.prior());  // from past the end back onto the last entry
    EXPECT_EQ(c.key(), "PETIT     ");
    EXPECT_FALSE(c.seekLast("AAA"));
    EXPECT_TRUE(c.next());
    EXPECT_EQ(c.key(), "BERNARD   ");
    EXPECT_TRUE(c.seek("DURAND", 6));
    EXPECT_EQ(c.key(), "DURAND    ");
    EXPECT_EQ(c.recno(), 12u);
    EXPECT_EQ(f->findFirstNotBefore("NOM", "E")->key, "MARTIN    ");
}

TEST(MdxSeek, DescendingTagsRunFromHighToLow)
{
    TempDir dir;
    auto f = MdxFile::create(
        dir.file("S.MDX"), "S", {dateTag("D", false, true), charTag("C", 4, false, true), numTag("N", true, true)});
    for (int i = 1; i <= 500; ++i) {
        f->insert("D", encodeDate(2020, 1, 1 + i % 28), static_cast<uint32_t>(i));
        f->insert("C", code(i).substr(2), static_cast<uint32_t>(i));
        f->insert("N", *encodeNumeric(i * 0.5 - 100), static_cast<uint32_t>(i));
    }
    auto d = scan(*f, "D");
    ASSERT_EQ(d.size(), 500u);
    EXPECT_EQ(d.front().key, encodeDate(2020, 1, 28));
    EXPECT_EQ(d.back().key, encodeDate(2020, 1, 1));
    for (size_t i = 1; i < d.size(); ++i)
        ASSERT_GE(decodeDate(d[i - 1].key), decodeDate(d[i].key));
    auto c = f->cursor("N");
    ASSERT_TRUE(c.first());
    EXPECT_DOUBLE_EQ(decodeNumeric(c.key()), 150.0);
    ASSERT_TRUE(c.seek(*encodeNumeric(0.25)));  // not before 0.25 in descending order: 0
    EXPECT_DOUBLE_EQ(decodeNumeric(c.key()), 0.0);
    ASSERT_TRUE(c.next());
    EXPECT_DOUBLE_EQ(decodeNumeric(c.key()), -0.5);
    auto cc = f->cursor("C");
    ASSERT_TRUE(cc.seekPrefix("01"));
    EXPECT_EQ(cc.key(), "0199");
    ASSERT_TRUE(cc.seekLast("01"));
    EXPECT_EQ(cc.key(), "0100");
    EXPECT_EQ(codeOf([&] { f->insert("N", *encodeNumeric(0), 999); }), kdb::DBERR_KEYVIOL);
}

TEST(MdxCursor, WalksBothWaysAndSurvivesChanges)
{
    TempDir dir;
    auto f = MdxFile::create(dir.file("C.MDX"), "C", {charTag("K", 6)});
    for (int i = 0; i < 5000; i += 2)
        f->insert("K", code(i), static_cast<uint32_t>(i + 1));
    auto c = f->cursor("K");
    EXPECT_FALSE(c.valid());
    ASSERT_TRUE(c.last());
    int seen = 1;
    while (c.prior())
        ++seen;
    EXPECT_EQ(seen, 2500);
    EXPECT_FALSE(c.valid());
    EXPECT_TRUE(c.next());  // from before the start onto the first entry
    EXPECT_EQ(c.key(), code(0));

    ASSERT_TRUE(c.seekExact(code(1000)));
    // Remove the current entry and insert one right after it: the cursor
    // continues from where it stood.
    f->remove("K", code(1000), 1001);
    f->insert("K", code(1001), 1002);
    ASSERT_TRUE(c.next());
    EXPECT_EQ(c.key(), code(1001));
    ASSERT_TRUE(c.prior());
    EXPECT_EQ(c.key(), code(998));
    // Thousands of inserts that split blocks around the cursor.
    for (int i = 1; i < 5000; i += 2)
        f->insert("K", code(i), static_cast<uint32_t>(i + 1));
    ASSERT_TRUE(c.next());
    EXPECT_EQ(c.key(), code(999));
    f->verify();
    // A moved cursor goes on from where it stood.
    MdxCursor moved = std::move(c);
    EXPECT_EQ(moved.tagName(), "K");
    ASSERT_TRUE(moved.next());
    EXPECT_EQ(moved.key(), code(1001));
}

TEST(MdxDurability, ProgramKilledBeforeFlushLeavesAFileThatIsRefused)
{
    TempDir dir;
    const std::string path = dir.file("P.MDX");
    {
        auto f = MdxFile::create(path, "P", {charTag("K", 6, true)});
        f->insert("K", code(1), 1);
    }
    ASSERT_EQ(kdbtest::inOtherProcess([&] {
        auto f = MdxFile::open(path);
        for (int i = 2; i < 3000; ++i)
            f->insert("K", code(i), static_cast<uint32_t>(i));
        f->flush(false);
        f->insert("K", code(5000), 5000);  // the table wrote its record; then the program dies
        ::_exit(0);
    }),
        0);
    EXPECT_EQ(codeOf([&] { MdxFile::open(path); }), kdb::DBERR_INDEXOUTOFDATE);
    EXPECT_EQ(codeOf([&] { MdxFile::open(path, MdxFile::Mode::ReadOnly); }), kdb::DBERR_INDEXOUTOFDATE);
    // The tag descriptions are still readable, and a rebuild gives a sound file.
    const auto specs = MdxFile::readTagSpecs(path);
    ASSERT_EQ(specs.size(), 1u);
    EXPECT_TRUE(specs[0].unique);
    uint32_t next = 1;
    RegenerateResult result;
    auto f = MdxFile::rebuild(
        path, "P", specs,
        [&](RecordKeys& rec) {
            if (next > 10)
                return false;
            rec.recno = next;
            rec.keys = {code(next == 10 ? 1 : static_cast<int>(next))};
            ++next;
            return true;
        },
        &result);
    f->verify();
    EXPECT_EQ(f->count("K"), 9u);
    ASSERT_EQ(result.duplicatesDropped.size(), 1u);
    EXPECT_EQ(result.duplicatesDropped[0], 1u);
    EXPECT_EQ(f->findExact("K", code(1))->recno, 1u);  // the first record keeps the key
}

TEST(MdxDurability, KilledAtRandomMomentsNeverLeavesASilentlyWrongFile)
{
    TempDir dir;
    const std::string path = dir.file("K.MDX");
    MdxFile::create(path, "K", {charTag("K", 8), numTag("N", true)});
    int refused = 0, sound = 0;
    for (int round = 0; round < 12; ++round) {
        // Start from a sound file each round.
        if (codeOf([&] { MdxFile::open(path); }) != 0)
            MdxFile::create(path, "K", {charTag("K", 8), numTag("N", true)});
        const uint64_t before = MdxFile::open(path)->count("K");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto f = MdxFile::open(path);
            for (uint32_t i = 1;; ++i) {
                const uint32_t r = static_cast<uint32_t>(before) + i;
                f->insertRecord({"K", "N"}, {code(static_cast<int>(r * 7919 % 100000)), *encodeNumeric(r)}, r);
                if (i % 50 == 0)
                    f->flush(true);
            }
        }
        ::usleep(static_cast<useconds_t>(2000 + round * 3000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::unique_ptr<MdxFile> f;
        const int code = codeOf([&] { f = MdxFile::open(path); });
        if (code != 0) {
            EXPECT_EQ(code, kdb::DBERR_INDEXOUTOFDATE);
            ++refused;
            continue;
        }
        // Opened: then it must be whole, at a flushed state.
        f->verify();
        const uint64_t n = f->count("K");
        EXPECT_EQ((n - before) % 50, 0u);
        EXPECT_EQ(f->count("N"), n);
        ++sound;
    }
    EXPECT_EQ(refused + sound, 12);
}

TEST(MdxDurability, ReadOnlyOpenRefusesChanges)
{
    TempDir dir;
    const std::string path = dir.file("O.MDX");
    MdxFile::create(path, "O", {charTag("K", 6)})->insert("K", "A", 1);
    auto f = MdxFile::open(path, MdxFile::Mode::ReadOnly);
    EXPECT_TRUE(f->readOnly());
    EXPECT_EQ(f->count("K"), 1u);
    EXPECT_EQ(codeOf([&] { f->insert("K", "B", 2); }), kdb::DBERR_READONLY);
    EXPECT_EQ(codeOf([&] { f->addTag(charTag("X", 2)); }), kdb::DBERR_READONLY);
    EXPECT_EQ(f->count("K"), 1u);
}

TEST(MdxSharing, ChangesOfAnotherHandleAreSeenAfterTheirFlush)
{
    TempDir dir;
    const std::string path = dir.file("S.MDX");
    auto writer = MdxFile::create(path, "S", {charTag("K", 6), charTag("L", 6)});
    writer->insert("K", "A", 1);
    writer->flush();
    auto reader = MdxFile::open(path, MdxFile::Mode::ReadOnly);
    EXPECT_EQ(reader->count("K"), 1u);
    for (int i = 2; i <= 3000; ++i)
        writer->insert("K", code(i), static_cast<uint32_t>(i));
    writer->flush();
    EXPECT_EQ(reader->count("K"), 3000u);
    EXPECT_EQ(reader->findExact("K", code(2500))->recno, 2500u);

    // A regeneration replaces the file; the reader follows it.
    auto cur = reader->cursor("L");
    uint32_t n = 0;
    writer->regenerateTag("L", [&](std::string& key, uint32_t& recno) {
        if (n >= 50)
            return false;
        ++n;
        key = code(static_cast<int>(100 - n));
        recno = n;
        return true;
    });
    EXPECT_EQ(reader->count("L"), 50u);
    EXPECT_EQ(reader->count("K"), 3000u);
    ASSERT_TRUE(cur.first());
    EXPECT_EQ(cur.key(), code(50));
    reader->verify();
    writer->verify();

    // Another file put in place under the same name (as a restore does).
    const std::string other = dir.file("OTHER.MDX");
    MdxFile::create(other, "S", {charTag("K", 6)})->insert("K", "ZZ", 77);
    std::filesystem::rename(other, path);
    EXPECT_EQ(reader->count("K"), 1u);
    EXPECT_FALSE(reader->hasTag("L"));
    EXPECT_EQ(reader->findExact("K", "ZZ")->recno, 77u);
}

TEST(MdxRegenerate, RegenerateAllBuildsCompactTreesWithTheSameAnswers)
{
    TempDir dir;
    const std::string path = dir.file("G.MDX");
    auto f = MdxFile::create(path, "G", {charTag("K", 8), numTag("N", false, true), charTag("U", 6, true)});
    std::vector<std::pair<std::string, std::string>> recs;  // record keys (K, N)
    for (int i = 1; i <= 30000; ++i) {
        const std::string k = code((i * 37) % 9000);
        const std::string nk = *encodeNumeric((i % 1000) - 500.25);
        recs.emplace_back(k, nk);
        f->insertRecord({"K", "N", "U"}, {k, nk, code(i)}, static_cast<uint32_t>(i));
    }
    f->flush();
    const auto beforeK = scan(*f, "K");
    const auto beforeN = scan(*f, "N");
    const auto sizeBefore = std::filesystem::file_size(path);
    size_t i = 0;
    const auto result = f->regenerateAll([&](RecordKeys& rec) {
        if (i >= recs.size())
            return false;
        rec.recno = static_cast<uint32_t>(i + 1);
        rec.keys = {recs[i].first, recs[i].second, code(static_cast<int>(i + 1))};
        ++i;
        return true;
    });
    EXPECT_EQ(result.tags, (std::vector<std::string>{"K", "N", "U"}));
    EXPECT_EQ(result.entries, (std::vector<uint64_t>{30000, 30000, 30000}));
    f->verify();
    EXPECT_LT(std::filesystem::file_size(path), sizeBefore);
    const auto afterK = scan(*f, "K");
    const auto afterN = scan(*f, "N");
    ASSERT_EQ(afterK.size(), beforeK.size());
    for (size_t j = 0; j < afterK.size(); ++j) {
        ASSERT_EQ(afterK[j].key, beforeK[j].key);
        ASSERT_EQ(afterK[j].recno, beforeK[j].recno);
        ASSERT_EQ(afterN[j].key, beforeN[j].key);
        ASSERT_EQ(afterN[j].recno, beforeN[j].recno);
    }
    // The compact tree still takes changes.
    f->insert("K", "AAAAAAAA", 40000);
    f->remove("K", beforeK[100].key, beforeK[100].recno);
    f->flush();
    f->verify();
    EXPECT_EQ(scan(*f, "K").front().recno, 40000u);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}
