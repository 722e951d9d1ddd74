// Random insert/remove/seek sequences against an ordered reference model,
// with reopening and regeneration in between.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "MdxTestUtil.h"
#include "platform/db/core/DbError.h"

using namespace kdb::mdx;
using namespace mdxtest;

namespace {

struct Config {
    const char* name;
    TagSpec spec;
    int keySpace;  // distinct keys drawn from
};

void PrintTo(const Config& c, std::ostream* os)
{
    *os << c.name;
}

// Key i of a configuration (i < keySpace), encoded for the tag's type.
std::string keyOf(const TagSpec& s, int i)
{
    switch (s.type) {
    case KeyType::Character: {
        // Variable-length texts so that prefixes and padding matter.
        std::string t = "K" + std::to_string(i * 7 % 1000);
        if (i % 3 == 0)
            t += "Z";
        return encodeCharacter(t, s.keyLength);
    }
    case KeyType::Date:
        return i == 0 ? encodeBlankDate() : encodeDateJdn(2440000.0 + i * 3);
    case KeyType::Numeric:
        return *encodeNumeric((i - 500) * 0.75);
    }
    return {};
}

// Reference model: a set of (key, recno) ordered like the tag.
struct Less {
    const TagSpec* spec;
    bool operator()(const Entry& a, const Entry& b) const
    {
        int c = compareKeys(spec->type, a.key, b.key);
        if (spec->descending)
            c = -c;
        if (c != 0)
            return c < 0;
        return a.recno < b.recno;
    }
};
using Model = std::set<Entry, Less>;

void checkSame(MdxFile& f, const std::string& tag, const Model& model)
{
    const auto got = scan(f, tag);
    ASSERT_EQ(got.size(), model.size());
    size_t i = 0;
    for (const Entry& e : model) {
        ASSERT_EQ(hex(got[i].key), hex(e.key)) << "position " << i;
        ASSERT_EQ(got[i].recno, e.recno) << "position " << i;
        ++i;
    }
    // Backwards too.
    auto c = f.cursor(tag);
    auto it = model.rbegin();
    for (bool ok = c.last(); ok; ok = c.prior(), ++it) {
        ASSERT_NE(it, model.rend());
        ASSERT_EQ(c.recno(), it->recno);
    }
    ASSERT_EQ(it, model.rend());
    EXPECT_EQ(f.count(tag), model.size());
}

class MdxRandom : public ::testing::TestWithParam<Config> { };

TEST_P(MdxRandom, MatchesTheReferenceModel)
{
    const Config cfg = GetParam();
    const TagSpec& spec = cfg.spec;
    TempDir dir;
    const std::string path = dir.file("R.MDX");
    auto f = MdxFile::create(path, "R", {spec});
    Model model(Less{&spec});
    std::map<uint32_t, std::string> live;  // recno -> key
    std::mt19937 rng(1234 + static_cast<unsigned>(cfg.keySpace));
    uint32_t nextRecno = 1;

    for (int op = 0; op < 40000; ++op) {
        const int what = static_cast<int>(rng() % 100);
        if (what < 55 || live.empty()) {
            const std::string key = keyOf(spec, static_cast<int>(rng() % static_cast<unsigned>(cfg.keySpace)));
            const uint32_t recno = (rng() % 4 == 0) ? static_cast<uint32_t>(rng() % 200000 + 1) : nextRecno++;
            if (live.count(recno))
                continue;
            if (!spec.unique) {
                f->insert(spec.name, key, recno);
                model.insert(Entry{key, recno});
                live[recno] = key;
            } else {
                // Unique: the model decides whether the file must refuse.
                const Entry probe{key, 0};
                auto it = model.lower_bound(probe);
                const bool dup = it != model.end() && compareKeys(spec.type, it->key, key) == 0;
                ASSERT_EQ(f->wouldViolate(spec.name, key), dup);
                ASSERT_EQ(codeOf([&] { f->insert(spec.name, key, recno); }), dup ? kdb::DBERR_KEYVIOL : 0);
                if (!dup) {
                    model.insert(Entry{key, recno});
                    live[recno] = key;
                }
            }
        } else if (what < 90) {
            auto it = live.begin();
            std::advance(it, static_cast<long>(rng() % live.size()));
            ASSERT_TRUE(f->remove(spec.name, it->second, it->first));
            model.erase(Entry{it->second, it->first});
            live.erase(it);
        } else if (what < 97) {
            // Seek: first entry not before a random key, and last not after it.
            const std::string key = keyOf(spec, static_cast<int>(rng() % static_cast<unsigned>(cfg.keySpace)));
            auto c = f->cursor(spec.name);
            auto it = model.lower_bound(Entry{key, 0});
            ASSERT_EQ(c.seek(key), it != model.end());
            if (it != model.end()) {
                ASSERT_EQ(c.recno(), it->recno);
                ASSERT_EQ(hex(c.key()), hex(it->key));
            }
            auto up = model.upper_bound(Entry{key, 0xFFFFFFFFu});
            const bool any = up != model.begin();
            ASSERT_EQ(c.seekLast(key), any);
            if (any) {
                ASSERT_EQ(c.recno(), std::prev(up)->recno);
            }
            ASSERT_FALSE(f->remove(spec.name, key, 0xFFFFFF00u));
        } else if (what < 99) {
            f.reset();
            f = MdxFile::open(path);
        } else {
            f->flush(false);
            f->verify();
        }
    }
    f->verify();
    checkSame(*f, spec.name, model);

    // Regeneration from the live records gives the same answers.
    std::vector<std::pair<uint32_t, std::string>> recs(live.begin(), live.end());
    size_t i = 0;
    f->regenerateTag(spec.name, [&](std::string& key, uint32_t& recno) {
        if (i >= recs.size())
            return false;
        recno = recs[i].first;
        key = recs[i].second;
        ++i;
        return true;
    });
    f->verify();
    checkSame(*f, spec.name, model);
    f.reset();
    f = MdxFile::open(path);
    checkSame(*f, spec.name, model);
}

INSTANTIATE_TEST_SUITE_P(KeyKinds, MdxRandom,
    ::testing::Values(Config{"CharAsc", charTag("NOM", 12), 300},
        Config{"CharDescUnique", charTag("CODE", 6, true, true), 5000},
        Config{"CharWideUnique", charTag("LONG", 100, true), 800}, Config{"DateAsc", dateTag("D"), 400},
        Config{"DateDescUnique", dateTag("DU", true, true), 3000}, Config{"NumAsc", numTag("N"), 1000},
        Config{"NumDesc", numTag("ND", false, true), 50}),
    [](const ::testing::TestParamInfo<Config>& info) { return std::string(info.param.name); });

}  // namespace
