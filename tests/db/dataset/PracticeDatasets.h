#pragma once
// The practice tables in memory, filled with the same rows, for the tests of
// the datasets and of the data-aware widgets.
#include <gtest/gtest.h>

#include "platform/db/dataset/Dataset.h"
#include "tests/db/sql/PracticeSchema.h"

namespace kdbtest {

class PracticeDatasets : public ::testing::Test {
protected:
    void SetUp() override
    {
        addPracticeTables(db);
        fillPractice(db);
    }

    // Points `t` at a table of `db`, read in the order of `order`'s tag.
    void prepare(kdb::TableDataset& t, const std::string& table, const std::string& order = {})
    {
        t.setDatabase(db.database);
        t.setTableName(table);
        if (!order.empty())
            t.setIndexFieldNames(order);
    }
    template <class Sql> void prepare(kdb::QueryDataset& q, const Sql& sql)
    {
        q.setDatabase(db.database);
        q.setSql(sql);
    }

    // Opens on `lines` the lines of prescription 1 (two rows) through a
    // filter, the table named as `table`.
    void openPrescriptionOne(kdb::TableDataset& lines, const std::string& table = "FORD.DBF")
    {
        prepare(lines, table);
        lines.setFilter("CODE='1'");
        lines.setFiltered(true);
        lines.open();
    }

    MemDatabase db;
};

}  // namespace kdbtest
