#pragma once
// The tables of the program's schema text in the engine's terms, read the
// way the table checker reads them: file name, driver, and the field and
// index records of each block in line order.
#include <string>
#include <vector>

#include "checker/Descriptor.h"
#include "resources/schema/SchemaText.h"

namespace kdbtest {

inline std::vector<kdb::TableDesc> schemaTables()
{
    std::vector<kdb::TableDesc> tables;
    for (const dbcheck::TableBlock& block : dbcheck::ParseDescriptor(SchemaText()))
        tables.push_back({block.fileName.toStdString(), dbcheck::DriverForTable(block.fileName).toStdString(), false,
            block.fields, block.indexes});
    return tables;
}

}  // namespace kdbtest
