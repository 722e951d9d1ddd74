#pragma once
// The practice tables as files: created through the engine from the schema
// text, filled with the same rows as the in-memory ones.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "PracticeSchema.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/database/Database.h"
#include "tests/db/DbTestUtil.h"

namespace kdbtest {

// Creates the tables in dir, those of the schema text as it declares them;
// answers the first engine code that is not 0.
inline int createPracticeFiles(const std::string& dir)
{
    std::vector<kdb::TableDesc> tables = schemaTables();
    kdb::TableDesc& users = tables.emplace_back();
    users.tableName = "USERS.DB";
    users.tableType = "PARADOX";
    const std::vector<TableDef> defs = practiceTables();
    for (const MemColumn& c : defs.back().columns)
        users.fields.push_back(fieldDesc(c.name.c_str(), kdb::fldZSTRING, static_cast<int16_t>(c.width)));
    for (const kdb::TableDesc& t : tables)
        if (const int rc = kdb::engine::createTable(dir, t))
            return rc;
    return 0;
}

inline void fillPracticeFiles(const std::string& dir)
{
    std::map<std::string, std::unique_ptr<kdb::Table>> open;
    fillPractice([&](const std::string& t, const std::vector<QVariant>& v) {
        auto& s = open[t];
        if (!s)
            s = kdb::engine::openTable(dir, t);
        s->append(v);
    });
    for (auto& [n, s] : open)
        s->flush();
}

// The practice tables as files in a temporary directory.
struct PracticeDir {
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    PracticeDir()
    {
        EXPECT_TRUE(tmp.isValid());
        EXPECT_EQ(createPracticeFiles(dir), 0);
        fillPracticeFiles(dir);
    }
};

}  // namespace kdbtest
