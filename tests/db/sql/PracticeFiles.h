#pragma once
// The practice tables as files: created through the engine from the same
// definitions, filled with the same rows.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "PracticeSchema.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/database/Database.h"
#include "tests/db/DbTestUtil.h"

namespace kdbtest {

inline kdb::TableDesc descOf(const TableDef& t)
{
    kdb::TableDesc d;
    d.tableName = t.name;
    d.tableType = QString::fromStdString(t.name).endsWith(".DB") ? "PARADOX" : "DBASE";
    for (const MemColumn& c : t.columns) {
        kdb::FieldDesc f;
        f.name = c.name;
        switch (c.kind) {
        case 'C':
            f.type = kdb::fldZSTRING;
            f.units1 = static_cast<int16_t>(c.width);
            break;
        case 'D':
            f.type = kdb::fldDATE;
            f.units1 = 1;
            break;
        case 'M':
            f.type = kdb::fldBLOB;
            f.subType = kdb::fldstMEMO;
            f.units1 = 1;
            break;
        case 'I':
            f.type = kdb::fldINT16;
            f.units1 = 4;
            break;
        default:
            f.type = kdb::fldFLOAT;
            f.units1 = static_cast<int16_t>(c.width);
            break;
        }
        d.fields.push_back(f);
    }
    std::string base = kdb::Database::baseName(t.name);
    for (const MemTag& tag : t.tags) {
        kdb::IndexDesc i;
        i.name = base + ".MDX";
        i.tagName = tag.name;
        i.keyExpr = tag.field;
        i.unique = tag.unique ? 33 : 0;
        i.maintained = 1;
        i.format = "BTREE";
        d.indexes.push_back(i);
    }
    return d;
}

// Creates the tables in dir; answers the first engine code that is not 0.
inline int createPracticeFiles(const std::string& dir)
{
    for (const TableDef& t : practiceTables()) {
        int rc = kdb::engine::createTable(dir, descOf(t));
        if (rc != 0)
            return rc;
    }
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
