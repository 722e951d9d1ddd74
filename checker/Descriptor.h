#pragma once
// The schema Descriptor: a list of text lines declaring, table by table, the
// table's file name, its fields and its indexes in the engine's own terms.
//
//   object Table: Cons.DBF
//     field(PATIENT;PATIENT;1;0;10;0)
//     index(H:\KORVALE_D7\DATA\CONS.MDX;DCONS;1;2;0;0;0;1;0;0;0;DCONS;BTREE;528;DCONS;)
//   end
//
// This reader needs no engine: it turns one table block into the engine's
// field and index records (core/EngineTypes.h). Lines outside the grammar,
// values that do not fit their record member and a block without its "end"
// line raise EDescriptorError, whose message names the line (1-based).
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "platform/db/core/EngineTypes.h"

namespace dbcheck {

// A Descriptor that does not follow the grammar.
class EDescriptorError : public std::runtime_error {
public:
    // line: 0-based position of the offending line, or -1 when none.
    EDescriptorError(int line, const QString& message);
    int line() const noexcept { return line_; }

private:
    int line_;
};

// Delimiters of the line keyword: blanks and "(".
extern const QString kKeywordDelimiters;
// Delimiters of the table line's words: blanks alone.
extern const QString kBlankDelimiters;

// 1-based start of the n-th word of text (words are maximal runs of
// characters not in delimiters); 0 when there are fewer than n words.
int WordPosition(int n, const QString& text, const QString& delimiters);
// The n-th word, empty when there is none.
QString ExtractWordN(int n, const QString& text, const QString& delimiters);

// The keyword of a line: its first word (blanks and "(" delimit), upper-cased.
QString LineKeyword(const QString& line);

// The 16-entry key field array from a comma-separated list of integers;
// an entry that is not an integer gives 0. More than 16 entries, or an
// entry beyond 65535, raises EDescriptorError (line -1).
std::array<uint16_t, kdb::kMaxKeyFields> ParseKeyFieldList(const QString& text);

// The arguments of a field or index line: the runs of characters after the
// first "(" up to each ";" or ")" (blanks kept).
QStringList LineArguments(const QString& line);

// The table's file name of a table line (third blank-delimited word).
QString TableFileName(const QString& tableLine);
// The engine driver for a table file name: "DBASE" for .DBF, "PARADOX" for
// .DB (either case), empty otherwise.
QString DriverForTable(const QString& fileName);

// Field and index lines on their own (lineNo only names the line in errors).
kdb::FieldDesc ParseFieldLine(const QString& line, int lineNo);
kdb::IndexDesc ParseIndexLine(const QString& line, int lineNo);

// One parsed table block: the records in line order.
struct TableBlock {
    QString fileName;  // as the table line writes it
    int tableLine = -1;  // 0-based line of the table line
    int endLine = -1;  // 0-based line of its "end" line
    std::vector<kdb::FieldDesc> fields;
    std::vector<kdb::IndexDesc> indexes;
};

// Parses the block whose table line is at pos. When that line's keyword is
// not "OBJECT" nothing is parsed, pos is unchanged and false is answered.
// Otherwise the block is read up to its "end" line, pos is left on that line
// and true is answered. A line inside the block that is neither a field, an
// index nor the end line, a table line without a file name, a value too long
// for its record member, or text that ends before the "end" line raises
// EDescriptorError.
bool ParseTableDescriptor(const QStringList& lines, int& pos, TableBlock& block);

// Every block of a Descriptor, checked from its first line to its last: each
// block must start on a table line right after the previous block's "end".
std::vector<TableBlock> ParseDescriptor(const QStringList& lines);

}  // namespace dbcheck
