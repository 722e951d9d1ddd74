#pragma once
// The practice database of the benchmarks: its tables as the program's
// schema text declares them (resources/schema), and generated rows.
//
// Scale 1: 50 000 patients, 500 000 consultations (ten a patient), 200 000
// exams, 100 000 appointments, 5 000 operative protocols, 20 000
// prescription lines, 10 000 photos, and the two reference lists; a smaller
// scale divides every count but the reference lists'.
#include <QStringList>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

#include "checker/Descriptor.h"

namespace kbench {

// The table blocks of the schema text the program carries.
const std::vector<dbcheck::TableBlock>& practiceSchema();

// Removes the files of the practice's tables from `directory`.
void removePracticeTables(const std::string& directory);

// Creates the missing tables of the schema in `directory` as the program's
// table check does at start. Throws std::runtime_error on failure.
void createPracticeTables(const std::string& directory);

// The tables the program's check would create or restructure in `directory`
// (empty when the tables are as the schema declares them).
QStringList tablesTheCheckWouldChange(const std::string& directory);

using Row = std::vector<QVariant>;
using RowSink = std::function<void(const Row&)>;

// Generates the rows of every table, table after table in the schema's
// order: `begin` is told each table and its row count before its rows go to
// `sink`. The same scale always gives the same rows.
void generatePractice(
    double scale, const std::function<void(const dbcheck::TableBlock& table, long rows)>& begin, const RowSink& sink);

// Another store given the same rows as the engine's tables, table by table.
class PracticeCopy {
public:
    virtual ~PracticeCopy() = default;
    virtual void begin(const dbcheck::TableBlock& table) = 0;
    virtual void row(const Row& row) = 0;
    virtual void end() = 0;
};

// Writes the practice's tables anew in `directory` with the generated rows,
// one flush per table, and the same rows into `copy` when given; prints a
// line per table when verbose.
void writePractice(const std::string& directory, double scale, bool verbose, PracticeCopy* copy = nullptr);

}  // namespace kbench
