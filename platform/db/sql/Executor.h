#pragma once
// The executor of one statement (internal to the library): binding,
// conditions (Executor.cpp), access paths and joins (Planner.cpp), SELECT
// (Select.cpp), INSERT, UPDATE and DELETE (Write.cpp).
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sql/Sql.h"
#include "sql/SqlAst.h"
#include "sql/Values.h"

namespace kdb::sql {

struct Ctx {
    uint32_t rec[2] = {0, 0};
};

// Reads of a source's index under one hold (Source::beginIndexRead).
class IndexHold {
public:
    explicit IndexHold(Source& s) : s_(s) { s_.beginIndexRead(); }
    ~IndexHold() { s_.endIndexRead(); }
    IndexHold(const IndexHold&) = delete;
    IndexHold& operator=(const IndexHold&) = delete;

private:
    Source& s_;
};

struct Side {
    const Expr* expr = nullptr;
    bool constant = false;
    QVariant value;  // normalised constant
};

// A condition of one column against a constant, tested on stored bytes.
struct RawTest {
    char mode = 0;        // the field's raw kind; 0 when tested on values
    int table = -1, field = -1;
    CmpOp op = CmpOp::Eq; // with the column on the left
    bool never = false;   // no stored value can pass
    bool anyValue = false;// every stored value passes (a text that has no bytes, with <>)
    std::string text;     // constant text (or "yyyyMMdd")
    double num = 0;
};

struct Compiled {
    Side lhs, rhs;
    CmpOp op = CmpOp::Eq;
    Kind kind = Kind::Text;
    unsigned mask = 0;  // tables the condition reads
    RawTest raw;
};

struct Access {
    enum Type { Scan, Eq, Prefix, Order } type = Scan;
    int tag = -1;
    QVariant key;
    QString prefix;
};

class Executor {
public:
    Executor(const std::string& dir, const std::string& sqlText, const Params& params,
             const Catalog& catalog)
        : dir_(dir), params_(params), catalog_(catalog), st_(parse(sqlText)) {}

    // Runs the statement; with planOnly, only chooses how the tables are read.
    ExecResult run(bool planOnly);

private:
    // ---- tables and names --------------------------------------------------
    void openTables();
    const ColumnInfo& column(int table, int field) const;
    int tableOfQualifier(const std::string& q) const;
    void bind(Expr& e);
    Kind kindOf(const Expr& e) const;
    static bool hasColumn(const Expr& e);
    QVariant eval(const Expr& e, const Ctx& c);
    // Values of the record last read, per table: a row's condition and its
    // output read each field once.
    struct RowCache {
        uint32_t rec = 0;
        std::vector<QVariant> values;
        std::vector<char> have;
    };
    QVariant columnValue(int table, int field, uint32_t rec);
    // A character column's value from its stored bytes. The texts a column
    // repeats (a name, a reason) are made once per statement and shared;
    // a column whose texts seldom repeat stops being remembered.
    struct TextMemo {
        struct Hash {
            using is_transparent = void;
            size_t operator()(std::string_view v) const { return std::hash<std::string_view>{}(v); }
        };
        std::unordered_map<std::string, QVariant, Hash, std::equal_to<>> texts;
        uint32_t lookups = 0, hits = 0;
        bool off = false;
    };
    QVariant textValue(Source& s, int table, int field, uint32_t rec);
    // Forgets what was read (after a write).
    void dropCache();

    // ---- conditions --------------------------------------------------------
    void compile();
    // Sets up the test on stored bytes of a column against a constant.
    void prepareRaw(Compiled& k);
    // The stored bytes of a field of rawKind() != 0.
    std::string_view rawOf(Source& s, uint32_t rec, int field);
    // Scans fetch the bytes they will read a few records ahead: the records
    // are wide, and the memory is read faster when asked for in advance.
    static constexpr uint32_t kAhead = 16;
    void addHot(int table, int field);
    void prefetchRec(Source& s, int table, uint32_t rec);
    bool testRaw(const Compiled& k, const Ctx& c);
    bool test(const Compiled& k, const Ctx& c);
    // Tables a condition reads.
    static void tablesOf(const Expr& e, unsigned& mask);
    unsigned maskOf(const Compiled& k) const;
    // `met`: a condition the caller made hold already (a join's equality).
    bool passes(const Ctx& c, unsigned available, const Compiled* met = nullptr);

    // ---- access paths ------------------------------------------------------
    // A column side of this table against a constant side.
    static bool columnVsConst(const Compiled& k, int table, const Side*& col, const Side*& cst);
    Access chooseAccess(int table, const Expr* orderFirst);
    std::string describe(int table, const Access& a) const;
    // The key just above every key that equals `key` (or starts with it, for
    // a prefix): where a tag walk for that key stops. Null when there is none.
    // A character key stands for itself padded with blanks to the column's
    // width, so the key above it is that padded key with its last blank
    // raised to "!"; a key that fills the width has none.
    static QVariant successor(const QVariant& key, Kind kind, bool prefix, int width);
    // Record numbers an access path yields, in its order, read from the tag
    // alone where the walk's end can be found by a second seek.
    std::vector<uint32_t> candidates(int table, const Access& a);
    // The live records of an access path that `keep` accepts, in the path's
    // order; the records are read in file order.
    std::vector<uint32_t> iterate(int table, const Access& a, const std::function<bool(uint32_t)>& keep);
    // Rows of the FROM clause that pass the WHERE clause, in access order;
    // sets orderedOn when they come ordered by the first ORDER BY column.
    std::vector<Ctx> gather(const Expr* orderFirst, bool& orderedOn);

    // ---- SELECT ------------------------------------------------------------
    void select(ExecResult& out);
    void addColumn(ResultSet& rs, const Expr& e, const std::string& alias);
    void selectMax(ExecResult& out, size_t count);

    // ---- writes ------------------------------------------------------------
    QVariant forColumn(const QVariant& v, const ColumnInfo& ci);
    void insert(ExecResult& out);
    std::vector<uint32_t> matching();
    void update(ExecResult& out);
    void remove(ExecResult& out);

    std::string dir_;
    const Params& params_;
    const Catalog& catalog_;
    Statement st_;
    bool planOnly_ = false;
    std::vector<std::shared_ptr<Source>> src_;
    std::vector<std::string> names_, aliases_;
    std::vector<Compiled> conds_;
    std::vector<RowCache> cache_;
    std::vector<std::pair<int, int>> hot_[2];  // per table: (offset, width) of the fields scans read
    std::vector<TextMemo> memo_[2];            // per table and field
    std::string plan_;
};

}  // namespace kdb::sql
