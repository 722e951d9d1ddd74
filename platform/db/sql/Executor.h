#pragma once
// The executor of one statement (internal to the library): binding,
// conditions (Executor.cpp), access paths and joins (Planner.cpp), SELECT
// (Select.cpp), INSERT, UPDATE and DELETE (Write.cpp).
#include <QVariant>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/db/sql/Sql.h"
#include "platform/db/sql/SqlAst.h"
#include "platform/db/sql/Values.h"
#include "platform/db/database/Database.h"

namespace kdb::sql {

struct Ctx {
    uint32_t rec[2] = {0, 0};
};

// A table of the statement, with what the executor asks of it at every row.
struct StmtTable {
    std::shared_ptr<Table> table;
    std::string name;  // base name, upper case
    std::string alias;  // upper case, empty when none
    std::vector<TagInfo> tags;
    std::vector<int> tagField;  // per tag: the field of a key on one field, -1 for an expression
    std::vector<char> rawKind;  // per field: Table::rawKind
    bool rawRecords = false;  // rawRecord() answers (the .DBF layout)
    bool releasing = false;  // Table::releaseBehindReads is on

    explicit StmtTable(std::shared_ptr<Table> t);
    const FieldInfo& field(int f) const { return table->fields()[static_cast<size_t>(f)]; }
    size_t fieldCount() const { return table->fields().size(); }
    // See Table::tagOnField.
    int tagOnField(int field) const;
};

struct Side {
    const Expr* expr = nullptr;
    bool constant = false;
    QVariant value;  // normalised constant
    // A constant text of no characters (or blanks only) against a column
    // of another kind: the empty value, below every other one (value null).
    bool blank = false;
};

// A condition of one column against a constant, tested on stored bytes.
struct RawTest {
    char mode = 0;  // the field's raw kind; 0 when tested on values
    int table = -1, field = -1;
    CmpOp op = CmpOp::Eq;  // with the column on the left
    bool never = false;  // no stored value can pass
    bool anyValue = false;  // every stored value passes (a text that has no bytes, with <>)
    std::string text;  // constant text (or "yyyyMMdd")
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
    Executor(Database& db, const std::string& sqlText, const Params& params)
        : db_(db), params_(params), st_(parse(sqlText))
    {
    }
    ~Executor();
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    // The rows are kept for a reader that goes through them after the
    // statement (a query dataset): once a result grows long, the scans give
    // back the tables' memory behind them (Table::releaseBehindReads), as
    // the rows' own bytes hold what is read; a short result keeps the map
    // warm for the next statement. Set before openSelect().
    void keepRowsForLater() { releaseBehind_ = true; }
    // The rows whose result column equals the value (see Query); set
    // before openSelect().
    void filterOn(const ColumnFilter& filter) { filter_ = filter; }
    // The day a date column's filter became a condition of the statement
    // for (null: none did).
    const QDate& filterDate() const { return filterDate_; }

    // Runs the statement; with planOnly, only chooses how the tables are read.
    ExecResult run(bool planOnly);

    // ---- SELECT read on demand (Select.cpp) -------------------------------
    bool isSelect() const { return st_.kind == Statement::Select; }
    // Opens the tables and plans the SELECT; reads no row yet (but the one
    // row of MAX).
    void openSelect(bool planOnly);
    // Answers how many rows are read: the first call reads every row (the
    // rows of one moment), whatever `count` asks for.
    size_t fetch(size_t count);
    bool complete() const { return done_; }
    QVariant value(size_t row, int column);
    const std::vector<FieldInfo>& columns() const { return columns_; }
    const std::string& plan() const { return plan_; }

private:
    // ---- tables and names --------------------------------------------------
    void openTables();
    // Adds the condition of filter_ to the WHERE clause when it can be one.
    void addFilterCondition();
    const FieldInfo& column(int table, int field) const;
    int tableOfQualifier(const std::string& q) const;
    void bind(Expr& e);
    Kind kindOf(const Expr& e) const;
    static bool hasColumn(const Expr& e);
    QVariant eval(const Expr& e, const Ctx& c);
    // The numbers of a Sum added, each part's value from valueOf (null
    // when one is blank).
    static QVariant sumOf(const Expr& e, const std::function<QVariant(const Expr&)>& valueOf);
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
        static constexpr uint32_t kDirect = 64;
        uint32_t direct = 0;  // texts made without the memo
        uint32_t lookups = 0, hits = 0;
        bool off = false;
    };
    QVariant textValue(StmtTable& s, int table, int field, uint32_t rec);
    // A character column's value from its stored bytes without their
    // trailing blanks.
    QVariant textOf(int table, int field, std::string_view trimmed);
    // Forgets what was read (after a write).
    void dropCache();

    // ---- conditions --------------------------------------------------------
    void compile();
    // Sets up the test on stored bytes of a column against a constant.
    void prepareRaw(Compiled& k);
    // The stored bytes of a field of rawKind() != 0.
    std::string_view rawOf(StmtTable& s, uint32_t rec, int field);
    // Scans fetch the bytes they will read a few records ahead: the records
    // are wide, and the memory is read faster when asked for in advance.
    static constexpr uint32_t kAhead = 16;
    void addHot(int table, int field);
    // A result of `rows` rows taken from the first `walked` records of the
    // table, read in file order: a long one that takes a good part of what
    // it walks gives back the memory behind its scans (see
    // keepRowsForLater). A sparse one keeps it: its rows are few to a page,
    // and the next statement would read those pages again.
    static constexpr size_t kLongResult = 4096;
    void noteRows(StmtTable& s, size_t rows, size_t walked)
    {
        if (releaseBehind_ && !s.releasing && rows >= kLongResult && rows * 4 >= walked) {
            s.table->releaseBehindReads(true);
            s.releasing = true;
        }
    }
    void prefetchRec(StmtTable& s, int table, uint32_t rec);
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
    // Whether an access path gives the rows in the order of `orderFirst`.
    bool orderedBy(int table, const Access& a, const Expr* orderFirst) const;
    // Reads the rows of the path stream_ left to read (all of them, but
    // after a fetch that failed).
    void streamRest();
    void gatherAll(const Expr* orderFirst);
    // While gatherAll runs: holds a table for the rest of it (once), where it
    // is first read; releaseHolds() gives them all back.
    void holdTable(int table);
    void releaseHolds();
    void distinctRows();
    void materialise(ResultSet& out);
    // The value of an item for a row.
    QVariant rowValue(const Expr& e, size_t row);

    // ---- rows kept as stored bytes (Select.cpp) ---------------------------
    // The fields a result reads that have stored bytes (Table::rawKind) are
    // kept with each row when it is read, a character field without its
    // trailing blanks: a row's values are then made from its own bytes,
    // whatever the table holds later and without reading it again. A memo
    // is kept as its stored block pointer and a logical as its byte (kind
    // 'V': read through Table::valueOf).
    struct Slot {
        int table;
        int field;
        char kind;  // the field's raw kind, or 'V'
    };
    void addSlots(const Expr& e);
    void capture(size_t row);  // keeps the slots' bytes of rows_[row]
    const char* captureBytes(const Ctx& c);  // the same for a row, answering where they are
    // The walk's entries [from, from + n) read in file order; the rows that
    // pass are added in the walk's order.
    void takeInFileOrder(size_t from, size_t n);
    std::string_view slotBytes(size_t row, int slot);
    void addColumn(const Expr& e, const std::string& alias);
    // The decimals a number computed by the expression shows (the most of
    // its columns and written numbers).
    int decimalsOf(const Expr& e) const;
    void selectMax();
    void computeMax(const std::vector<const Expr*>& maxes);

    // ---- sorting (Sort.cpp) ------------------------------------------------
    struct SortKey {
        const Expr* expr;
        Kind kind;
        bool descending;
    };
    // Orders rows_ on the keys; withinFirst: the rows come ordered on the
    // first key already, only each run of equal first keys is sorted.
    void sortRows(const std::vector<SortKey>& keys, bool withinFirst);
    char keyForm(const SortKey& k) const;
    void appendKey(std::string& out, const SortKey& k, char form, const Ctx& c);

    // ---- writes ------------------------------------------------------------
    QVariant forColumn(const QVariant& v, const FieldInfo& ci);
    void insert(ExecResult& out);
    std::vector<uint32_t> matching();
    void update(ExecResult& out);
    void remove(ExecResult& out);

    Database& db_;
    const Params& params_;
    Statement st_;
    bool planOnly_ = false;
    bool releaseBehind_ = false;
    ColumnFilter filter_;
    QDate filterDate_;
    std::vector<StmtTable> tabs_;
    std::vector<Compiled> conds_;
    std::vector<RowCache> cache_;
    std::vector<std::pair<int, int>> hot_[2];  // per table: (offset, width) of the fields scans read
    std::vector<TextMemo> memo_[2];  // per table and field
    std::string plan_;
    // the SELECT's result
    std::deque<Expr> starExprs_;  // the columns of * and T.*
    std::vector<const Expr*> items_;  // one per result column
    std::vector<FieldInfo> columns_;
    std::unordered_set<std::string> takenNames_;  // the columns' names, upper case
    std::unordered_map<std::string, int> nextSuffix_;  // per name given a suffix: the last suffix tried
    std::vector<Ctx> rows_;  // the rows read so far
    bool isMax_ = false;
    std::vector<QVariant> maxRow_;  // the one row of MAX
    std::unordered_map<const Expr*, QVariant> maxValues_;  // each MAX of the select list, once computed
    bool done_ = false;  // every row is in rows_
    Access stream_;  // rows read on demand on this path
    uint32_t nextRec_ = 1;  // a scan's next record
    std::vector<uint32_t> walkRecs_;  // a tag walk's records, read at the first fetch
    size_t walkPos_ = 0;  // the next of walkRecs_
    bool walked_ = false;
    bool holding_ = false;  // gatherAll runs: tables are held where first read
    unsigned heldMask_ = 0;
    std::vector<std::unique_ptr<IndexReadHold>> holds_;
    std::vector<Slot> slots_;
    std::vector<int> slotOf_[2];  // per table and field: its slot, -1 for none
    std::vector<std::unique_ptr<char[]>> blocks_;  // the rows' bytes
    size_t blockSize_ = 0, blockUsed_ = 0;
    std::vector<const char*> at_;  // per row: its bytes (null before capture)
    std::vector<std::string_view> scratch_;
    size_t lastRow_ = SIZE_MAX;  // the slot read last (slotBytes)
    int lastSlot_ = 0;
    const char* lastAt_ = nullptr;
};

}  // namespace kdb::sql
