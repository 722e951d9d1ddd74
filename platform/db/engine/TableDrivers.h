#pragma once
// How the engine reaches the table kinds it knows.
//
// dBASE tables: dbf/DbfTable.h (this engine's own layer).
//
// Paradox tables: the Paradox layer (target korvale_paradox, header
// paradox/ParadoxTable.h) provides
//
//   namespace kdb {
//   class ParadoxTable : public Table {
//   public:
//       // Opens the .DB file at path; raises EDBEngineError (DBERR_NOSUCHTABLE,
//       // DBERR_FILELOCKED, ...). A password-protected table consults
//       // Session::instance() (passwords, password handler).
//       static std::unique_ptr<Table> open(const std::string& path, const TableOpenMode& mode);
//       // Creates (overwrites) the .DB file at path from the descriptors;
//       // raises EDBEngineError.
//       static void create(const std::string& path, const TableDesc& desc);
//   };
//   }
//
// When the target exists the engine links it and dispatches ".DB" names to
// it; without it a Paradox table gives DBERR_NOTSUPPORTED.
#include <memory>
#include <string>

#include "platform/db/core/Table.h"

namespace kdb::engine {

// Opens the table file at path (full path with extension), choosing the
// layer by driverType ("DBASE", "PARADOX") or, when empty, by the extension.
std::unique_ptr<Table> openTableFile(const std::string& path, const std::string& driverType, const TableOpenMode& mode);

}  // namespace kdb::engine
