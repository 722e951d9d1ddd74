#pragma once
// What the engine keeps of damage it finds in a table and mends: a copy of
// the table's files as they were, in "Damaged/<yyyy-MM-dd>" beside the
// table, and one line per repair in the repair log "Damaged/repairs.log",
// which the maintenance commands read and show. Repairs made while the
// program runs (an update another workstation left unfinished, say) are
// written there so that the user learns of them at the next maintenance.
#include <string>
#include <vector>

namespace kdb {

// Copies the table file and its memo and index files, as they are, into
// "Damaged/<yyyy-MM-dd>" beside the table (a new "-2", "-3" ... directory
// when the last one of the day holds the table's files already, so that
// the copies of a table follow each other in the order of the names).
// Answers the directory. Raises EDBEngineError when the copy cannot be made.
// The copies of each table are kept within a bound: the last
// kDamagedCopiesKept of them; the older ones go (a directory left empty
// with them).
std::string keepDamagedCopy(const std::string& tablePath);
// The same for some of the table's files only (those a repair changes).
std::string keepDamagedFiles(const std::string& tablePath, const std::vector<std::string>& files);
inline constexpr int kDamagedCopiesKept = 5;
// The repair log and the log of the lines shown stay within this size: the
// oldest lines go once it is passed (the newest half is kept).
inline constexpr long kDamageLogMaxBytes = 1024 * 1024;

// The repair log of the directory that holds the tables.
std::string damageLogPath(const std::string& directory);

// Adds a line to the repair log of the table's directory: the date and the
// time, the table's file name, then text (UTF-8, one line). Several programs
// may write at once: each line is written whole under a lock of the log.
// Answers false when the line could not be written (nothing is raised: the
// repair it tells of is done).
bool logDamage(const std::string& tablePath, const std::string& text);

// The lines of the repair log not shown yet, in order; they are moved to
// "Damaged/repairs-shown.log" so that the next call answers only the lines
// added since. Answers nothing when there is no log; raises nothing.
std::vector<std::string> takeDamageLog(const std::string& directory);

}  // namespace kdb
