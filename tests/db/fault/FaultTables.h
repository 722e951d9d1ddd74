#pragma once
// A small indexed table for the failure tests, and the checks that a table
// came out of a failure whole: its records, an index that matches them.
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QVariant>

#include "platform/db/core/DbError.h"
#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/mdx/MdxFile.h"

namespace kdbtest {

inline std::vector<kdb::DbfTable::FieldSpec> faultFields()
{
    return {{"CODE", 'C', 8, 0, false}, {"NOM", 'C', 30, 0, false}, {"NUM", 'N', 6, 0, false}};
}

inline std::vector<kdb::TagInfo> faultTags()
{
    return {
        {"CODE", "CODE", 'C', true, false}, {"NOM", "NOM+CODE", 'C', false, false}, {"NUM", "NUM", 'N', false, false}};
}

inline std::vector<QVariant> faultRecord(int i)
{
    return {QString("C%1").arg(i, 6, 10, QChar('0')), QString("Nom %1").arg((i * 7919) % 1000, 4, 10, QChar('0')),
        (i * 37) % 500};
}

// Live records by code (field values as text), as a table holds them.
using Records = std::map<std::string, std::vector<std::string>>;

inline Records recordsOf(kdb::Table& t)
{
    Records out;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        if (t.isDeleted(r))
            continue;
        std::vector<std::string> v;
        for (int f = 0; f < t.fieldCount(); ++f)
            v.push_back(t.value(r, f).toString().toStdString());
        out[v[0]] = v;
    }
    return out;
}

// Every tag holds one entry per record under its key, a deleted record's
// too (kept until a pack), but that a unique tag may have given a deleted
// record's key to a live record.
inline void expectIndexMatches(kdb::DbfTable& t)
{
    uint32_t live = 0;
    for (uint32_t r = 1; r <= t.recordCount(); ++r)
        live += t.isDeleted(r) ? 0 : 1;
    const auto tags = t.tags();
    ASSERT_FALSE(tags.empty()) << t.filePath();
    for (size_t i = 0; i < tags.size(); ++i) {
        auto cursor = t.openTag(tags[i].name);
        std::set<uint32_t> seen;
        uint32_t liveSeen = 0;
        cursor->first();
        cursor->scanForward([&](uint32_t recNo, std::string_view key) {
            EXPECT_TRUE(recNo >= 1 && recNo <= t.recordCount()) << tags[i].name << " " << recNo;
            if (recNo >= 1 && recNo <= t.recordCount()) {
                liveSeen += t.isDeleted(recNo) ? 0 : 1;
                EXPECT_EQ(std::string(key), t.keyOf(static_cast<int>(i), t.rawRecord(recNo)))
                    << tags[i].name << " " << recNo;
            }
            EXPECT_TRUE(seen.insert(recNo).second) << tags[i].name << " " << recNo;
            return true;
        });
        EXPECT_EQ(liveSeen, live) << "tag " << tags[i].name;
        if (!tags[i].unique) {
            EXPECT_EQ(seen.size(), t.recordCount()) << "tag " << tags[i].name;
        }
    }
}

// Opens the table as the program would after a failure: an index found out
// of date (DBERR_INDEXOUTOFDATE, nothing else) is deleted and made again.
inline std::unique_ptr<kdb::DbfTable> reopen(const std::string& path, bool* wasOutOfDate = nullptr)
{
    if (wasOutOfDate)
        *wasOutOfDate = false;
    try {
        return kdb::DbfTable::open(path, {true, false});
    } catch (const EDBEngineError& e) {
        if (e.code() != kdb::DBERR_INDEXOUTOFDATE)
            throw;
        if (wasOutOfDate)
            *wasOutOfDate = true;
    }
    std::filesystem::remove(kdb::companionPath(path, ".MDX"));
    auto t = kdb::DbfTable::open(path, {true, false});
    t->setTags(faultTags());
    return t;
}

// The files of a directory, by name.
inline std::set<std::string> filesIn(const std::string& dir)
{
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.insert(e.path().filename().string());
    return out;
}

}  // namespace kdbtest
