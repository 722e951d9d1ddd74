// SELECT: the result columns and rows, DISTINCT, ORDER BY and MAX.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/db/core/DbError.h"
#include "platform/db/sql/Executor.h"
#include "platform/db/sql/RawBytes.h"

namespace kdb::sql {

namespace {

// The greatest value of a column on stored bytes: the record holding it
// (the first one met on a tie).
struct RawMax {
    char rk = 0;
    int field = -1;
    uint32_t bestRec = 0;
    std::string bestText;
    double bestNum = 0;
    void add(Table& t, uint32_t r, std::string_view v)
    {
        if (rk == 'C') {
            v = rawTrimRight(v);
            if (v.empty())
                return;
            if (bestRec == 0 || compareRawText(v, bestText) > 0) {
                bestRec = r;
                bestText.assign(v);
            }
        } else if (rk == 'D') {
            if (!rawDateValid(v))
                return;
            if (bestRec == 0 || v.compare(bestText) > 0) {
                bestRec = r;
                bestText.assign(v);
            }
        } else {
            double d = 0;
            const int got = rawNumber(v, d);
            if (got == 0)
                return;
            if (got < 0) {  // a text that needs the full reading
                const QVariant x = t.value(r, field);
                if (x.isNull())
                    return;
                d = x.toDouble();
            }
            if (bestRec == 0 || d > bestNum) {
                bestRec = r;
                bestNum = d;
            }
        }
    }
};

}  // namespace

// A SELECT keeps its rows as the record numbers they come from (Ctx) with
// the bytes of the columns it shows, all read at the first fetch under one
// hold of the table. Where the order of the access path is the result's
// order (one table, no DISTINCT, no sort) they are taken as the path gives
// them; otherwise they are gathered, then deduplicated and sorted on keys
// made of stored bytes.

void Executor::openSelect(bool planOnly)
{
    planOnly_ = planOnly;
    openTables();
    addFilterCondition();
    compile();
    // select list
    size_t maxCount = 0;
    for (SelectItem& si : st_.items) {
        if (si.star) {
            for (size_t t = 0; t < tabs_.size(); ++t) {
                if (!si.starQualifier.empty() && tableOfQualifier(si.starQualifier) != static_cast<int>(t))
                    continue;
                const auto& cols = tabs_[t].table->fields();
                for (size_t f = 0; f < cols.size(); ++f) {
                    Expr& e = starExprs_.emplace_back();
                    e.kind = Expr::Column;
                    e.name = cols[f].name;
                    e.text = cols[f].name;
                    e.table = static_cast<int>(t);
                    e.field = static_cast<int>(f);
                    items_.push_back(&e);
                    addColumn(e, "");
                }
            }
            continue;
        }
        bind(si.expr);
        if (hasMax(si.expr))
            ++maxCount;
        items_.push_back(&si.expr);
        addColumn(si.expr, si.alias);
    }
    // MAX gives one row: every column of the list must be under a MAX
    // (MAX(ID_CONS) + 1 is that row's greatest value plus one).
    if (maxCount > 0)
        for (const SelectItem& si : st_.items)
            if (si.star || hasColumnOutsideMax(si.expr))
                throw EDBEngineError::sqlSyntax("MAX cannot be mixed with plain columns");
    for (OrderItem& o : st_.orderBy)
        bind(o.column);

    if (maxCount > 0) {
        isMax_ = true;
        // the greatest values of one moment, none half written
        std::vector<std::unique_ptr<IndexReadHold>> holds;
        if (!planOnly_)
            for (StmtTable& s : tabs_)
                holds.push_back(std::make_unique<IndexReadHold>(*s.table));
        selectMax();
        rows_.assign(planOnly_ ? 0 : 1, Ctx{});
        done_ = true;
        return;
    }
    for (size_t t = 0; t < tabs_.size(); ++t)
        slotOf_[t].assign(tabs_[t].fieldCount(), -1);
    for (const Expr* e : items_)
        addSlots(*e);
    const Expr* orderFirst = st_.orderBy.empty() || st_.orderBy[0].descending ? nullptr : &st_.orderBy[0].column;
    if (tabs_.size() == 1 && !st_.distinct) {
        const Access a = chooseAccess(0, orderFirst);
        const bool orderedOn = orderedBy(0, a, orderFirst);
        if (st_.orderBy.empty() || (orderedOn && st_.orderBy.size() == 1)) {
            plan_ = tabs_[0].name + ": " + describe(0, a);
            if (!st_.orderBy.empty())
                plan_ += "; order by tag";
            stream_ = a;
            done_ = planOnly_;
            return;
        }
    }
    gatherAll(orderFirst);
}

void Executor::addFilterCondition()
{
    if (filter_.column.empty())
        return;
    for (const SelectItem& si : st_.items)
        if (!si.star && hasMax(si.expr))
            return;
    Expr col;
    bool found = false;
    for (const SelectItem& si : st_.items) {
        if (si.star)
            continue;
        const std::string name = !si.alias.empty() ? si.alias
            : si.expr.kind == Expr::Column         ? si.expr.name
                                                   : si.expr.text;
        if (!sameName(name, filter_.column))
            continue;
        if (si.expr.kind != Expr::Column)
            return;
        col = si.expr;
        found = true;
        break;
    }
    if (!found) {
        bool star = false;
        for (const SelectItem& si : st_.items)
            star = star || si.star;
        if (!star)
            return;
        col.kind = Expr::Column;
        col.name = QString::fromStdString(filter_.column).toUpper().toStdString();
        col.text = filter_.column;
    }
    try {
        bind(col);
    } catch (const EDBEngineError&) {
        return;  // not a column of one table: the caller filters
    }
    Expr value;
    value.kind = Expr::Literal;
    const Kind kind = kindOfColumn(column(col.table, col.field));
    if (kind == Kind::Date) {
        const QDate d = parseDisplayDate(filter_.value);
        if (!d.isValid())
            return;
        value.literal = d;
        filterDate_ = d;
    } else if (kind == Kind::Text &&
        tabs_[static_cast<size_t>(col.table)].rawKind[static_cast<size_t>(col.field)] == 'C') {
        const QString text = trimRight(filter_.value);
        if (text.isEmpty())
            return;
        value.literal = text;
        value.literalIsText = true;
    } else {
        return;
    }
    Condition c;
    c.lhs = std::move(col);
    c.rhs = std::move(value);
    st_.where.push_back(std::move(c));
}

bool Executor::orderedBy(int table, const Access& a, const Expr* orderFirst) const
{
    if (a.type == Access::Order)
        return true;
    return orderFirst && orderFirst->table == table && a.type != Access::Scan &&
        a.tag == tabs_[static_cast<size_t>(table)].tagOnField(orderFirst->field);
}

size_t Executor::fetch(size_t count)
{
    // Every row at the first fetch, under one hold of the table: the rows
    // of one moment, before or after each statement of another program,
    // never in the middle of one.
    (void)count;
    if (!done_)
        streamRest();
    return rows_.size();
}

void Executor::streamRest()
{
    StmtTable& s = tabs_[0];
    Table& t = *s.table;
    // Only a walk in file order gives back the memory behind it: a tag's
    // order jumps about the file and would read the released pages again.
    const bool fileOrder = stream_.type == Access::Scan;
    auto take = [&](uint32_t r) {
        Ctx c;
        c.rec[0] = r;
        if (!passes(c, 1u))
            return;
        rows_.push_back(c);
        if (fileOrder)
            noteRows(s, rows_.size(), r);
        capture(rows_.size() - 1);
    };
    switch (stream_.type) {
    case Access::Scan: {  // file order, from where a failed fetch stopped
        // the records read under a hold of the table: no change of another
        // program is seen half written
        IndexReadHold hold(t);
        const uint32_t n = t.recordCount();
        const bool raw = s.rawRecords;
        uint32_t r = nextRec_;
        for (; r <= n; ++r) {
            if (raw && r + kAhead <= n)
                prefetchRec(s, 0, r + kAhead);
            if (!(raw ? *t.rawRecord(r) == '*' : t.isDeleted(r)))
                take(r);
        }
        nextRec_ = r;
        done_ = r > n;
        return;
    }
    case Access::Order: {
        // The tag is read whole, then its records, under one hold of the
        // index: the rows are those of one moment, each once, whatever
        // other programs change meanwhile.
        IndexReadHold hold(t);
        if (!walked_) {
            walkRecs_ = candidates(0, stream_);
            walked_ = true;
        }
        while (walkPos_ < walkRecs_.size()) {
            if (!releaseBehind_) {
                const uint32_t r = walkRecs_[walkPos_++];
                if (!t.isDeleted(r))
                    take(r);
                continue;
            }
            // Rows kept for later: the entries left are read in file order,
            // so that each page of the table is read once and a long result
            // gives back the table's memory behind its reads; the rows keep
            // the tag's order.
            takeInFileOrder(walkPos_, walkRecs_.size() - walkPos_);
            walkPos_ = walkRecs_.size();
        }
        done_ = walkPos_ >= walkRecs_.size();
        if (done_)
            std::vector<uint32_t>().swap(walkRecs_);
        return;
    }
    case Access::Eq:
    case Access::Prefix: {  // a seek and a short walk: every row at once
        IndexReadHold hold(t);
        for (uint32_t r : iterate(0, stream_, [&](uint32_t r) {
                 Ctx c;
                 c.rec[0] = r;
                 return passes(c, 1u);
             })) {
            Ctx c;
            c.rec[0] = r;
            rows_.push_back(c);
            capture(rows_.size() - 1);
        }
        done_ = true;
        return;
    }
    }
}

void Executor::gatherAll(const Expr* orderFirst)
{
    if (st_.distinct && tabs_.size() == 1)
        for (const Expr* e : items_)
            if (e->kind == Expr::Column)
                addHot(0, e->field);
    // The rows found and their bytes read under a hold of each table, taken
    // where the table is first read and kept until all is read: the rows of
    // one moment (nothing changes in either table from the second hold on),
    // none seen half written by another program. A join whose first table
    // gives no row does not hold the other one at all.
    struct Holds {
        Executor& e;
        explicit Holds(Executor& ex) : e(ex) { e.holding_ = true; }
        ~Holds() { e.releaseHolds(); }
    } holds(*this);
    if (tabs_.size() == 1)
        holdTable(0);
    bool orderedOn = false;
    rows_ = gather(orderFirst, orderedOn);
    done_ = true;
    if (st_.distinct)
        distinctRows();
    // the rows' bytes, kept in the order the rows were read (file order for
    // a scan); a sort moves them with their rows. A table whose records
    // are read in file order gives back the memory behind them; one read in
    // a tag's order (or as a join's inner table) jumps about its file and
    // keeps it.
    for (size_t t = 0; t < tabs_.size(); ++t) {
        bool fileOrder = true;
        for (size_t j = 1; j < rows_.size() && fileOrder; ++j)
            fileOrder = rows_[j - 1].rec[t] <= rows_[j].rec[t];
        if (fileOrder)
            noteRows(tabs_[t], rows_.size(), tabs_[t].table->recordCount());
    }
    for (size_t j = 0; j < rows_.size(); ++j) {
        if (tabs_.size() == 1 && j + kAhead < rows_.size())
            prefetchRec(tabs_[0], 0, rows_[j + kAhead].rec[0]);
        capture(j);
    }
    releaseHolds();

    std::vector<SortKey> keys;
    if (st_.distinct && st_.orderBy.empty()) {
        // DISTINCT without ORDER BY returns its rows sorted on every column.
        for (const Expr* e : items_)
            keys.push_back({e, kindOf(*e), false});
        plan_ += "; sort";
        sortRows(keys, false);
    } else if (!st_.orderBy.empty()) {
        for (const OrderItem& o : st_.orderBy)
            keys.push_back({&o.column, kindOf(o.column), o.descending});
        if (orderedOn && keys.size() == 1) {
            plan_ += "; order by tag";
        } else if (orderedOn) {
            plan_ += "; sort within equal keys";
            sortRows(keys, true);
        } else {
            plan_ += "; sort";
            sortRows(keys, false);
        }
    }
}

void Executor::addSlots(const Expr& e)
{
    if (e.kind == Expr::Column) {
        const StmtTable& s = tabs_[static_cast<size_t>(e.table)];
        char rk = s.rawKind[static_cast<size_t>(e.field)];
        // a memo is kept as its block pointer (a changed memo goes to new
        // blocks), a logical as its byte: the row's values are then all of
        // the record as it was read
        const char native = s.field(e.field).nativeType;
        if (!rk && (native == 'M' || native == 'B' || native == 'G' || native == 'L'))
            rk = 'V';
        int& slot = slotOf_[e.table][static_cast<size_t>(e.field)];
        if (rk && s.rawRecords && slot < 0) {
            slot = static_cast<int>(slots_.size());
            slots_.push_back({e.table, e.field, rk});
        }
    }
    for (const Expr& p : e.parts)
        addSlots(p);
}

void Executor::holdTable(int table)
{
    if (!holding_ || (heldMask_ & (1u << table)) != 0)
        return;
    holds_.push_back(std::make_unique<IndexReadHold>(*tabs_[static_cast<size_t>(table)].table));
    heldMask_ |= 1u << table;
}

void Executor::releaseHolds()
{
    holding_ = false;
    heldMask_ = 0;
    while (!holds_.empty())
        holds_.pop_back();  // the last taken given back first
}

void Executor::takeInFileOrder(size_t from, size_t n)
{
    StmtTable& s = tabs_[0];
    Table& t = *s.table;
    if (!s.releasing && rows_.size() + n >= kLongResult) {
        t.releaseBehindReads(true);
        s.releasing = true;
    }
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(),
        [&](uint32_t a, uint32_t b) { return walkRecs_[from + a] < walkRecs_[from + b]; });
    std::vector<const char*> bytes(n, nullptr);
    std::vector<char> kept(n, 0);
    // the bytes of the records ahead fetched only where they lie close
    // together (a few records apart: the walk goes on forward)
    const bool ahead = s.rawRecords && uint64_t(n) * 4 >= t.recordCount();
    for (size_t k = 0; k < n; ++k) {
        const uint32_t i = order[k];
        if (ahead && k + kAhead < n)
            prefetchRec(s, 0, walkRecs_[from + order[k + kAhead]]);
        Ctx c;
        c.rec[0] = walkRecs_[from + i];
        if (t.isDeleted(c.rec[0]) || !passes(c, 1u))
            continue;
        kept[i] = 1;
        bytes[i] = captureBytes(c);
    }
    for (size_t i = 0; i < n; ++i) {
        if (!kept[i])
            continue;
        Ctx c;
        c.rec[0] = walkRecs_[from + i];
        rows_.push_back(c);
        at_.resize(rows_.size(), nullptr);
        at_.back() = bytes[i];
    }
}

// A row's bytes: per slot, a two-byte length and the bytes.
void Executor::capture(size_t row)
{
    if (at_.size() <= row)
        at_.resize(std::max(row + 1, rows_.size()), nullptr);
    at_[row] = captureBytes(rows_[row]);
}

const char* Executor::captureBytes(const Ctx& c)
{
    if (slots_.empty())
        return nullptr;
    scratch_.clear();
    size_t need = 0;
    // each table's record read once for its slots (slots are of tables
    // with the .DBF layout)
    const char* record[2] = {nullptr, nullptr};
    for (const Slot& sl : slots_) {
        StmtTable& s = tabs_[static_cast<size_t>(sl.table)];
        const char*& r = record[sl.table];
        if (!r)
            r = s.table->rawRecord(c.rec[sl.table]);
        const FieldInfo& f = s.field(sl.field);
        std::string_view v(r + f.offset, static_cast<size_t>(f.width));
        if (sl.kind == 'C')
            v = rawTrimRight(v);
        scratch_.push_back(v);
        need += 2 + v.size();
    }
    if (blocks_.empty() || blockSize_ - blockUsed_ < need) {
        // blocks grow from a small one (a statement of a few rows) to 1 MiB
        blockSize_ = std::max(std::min<size_t>(blockSize_ ? blockSize_ * 2 : 4096, size_t(1) << 20), need);
        blocks_.emplace_back(new char[blockSize_]);
        blockUsed_ = 0;
    }
    char* const at = blocks_.back().get() + blockUsed_;
    char* p = at;
    for (std::string_view v : scratch_) {
        const auto n = static_cast<uint16_t>(v.size());
        std::memcpy(p, &n, 2);
        std::memcpy(p + 2, v.data(), v.size());
        p += 2 + v.size();
    }
    blockUsed_ += need;
    return at;
}

std::string_view Executor::slotBytes(size_t row, int slot)
{
    // the fields of a row are mostly read in order: go on from the last one
    const char* p = at_[row];
    int k = 0;
    if (lastRow_ == row && lastSlot_ <= slot) {
        p = lastAt_;
        k = lastSlot_;
    }
    uint16_t n;
    for (; k < slot; ++k) {
        std::memcpy(&n, p, 2);
        p += 2 + n;
    }
    lastRow_ = row;
    lastSlot_ = slot;
    lastAt_ = p;
    std::memcpy(&n, p, 2);
    return std::string_view(p + 2, n);
}

QVariant Executor::rowValue(const Expr& e, size_t row)
{
    switch (e.kind) {
    case Expr::Column: {
        const int slot = slotOf_[e.table][static_cast<size_t>(e.field)];
        if (slot < 0 || row >= at_.size() || !at_[row])
            return columnValue(e.table, e.field, rows_[row].rec[e.table]);
        const std::string_view v = slotBytes(row, slot);
        if (slots_[static_cast<size_t>(slot)].kind == 'C')
            return textOf(e.table, e.field, v);
        return tabs_[static_cast<size_t>(e.table)].table->valueOf(e.field, v);
    }
    case Expr::Concat: {
        // the kept bytes of character columns and the texts written in the
        // statement are appended as they are, without a value of their own
        QString s;
        for (const Expr& p : e.parts) {
            if (p.kind == Expr::Literal && p.literal.typeId() == QMetaType::QString) {
                s += *static_cast<const QString*>(p.literal.constData());
                continue;
            }
            if (p.kind == Expr::Column && row < at_.size() && at_[row]) {
                const int slot = slotOf_[p.table][static_cast<size_t>(p.field)];
                if (slot >= 0 && slots_[static_cast<size_t>(slot)].kind == 'C') {
                    appendRawText(s, slotBytes(row, slot));
                    continue;
                }
            }
            s += displayText(rowValue(p, row));
        }
        return s;
    }
    case Expr::Sum:
        return sumOf(e, [&](const Expr& p) { return rowValue(p, row); });
    default:
        return eval(e, Ctx{});
    }
}

// Keeps the first row of each list of values, in the rows' order.
void Executor::distinctRows()
{
    // on stored bytes where every item is a character or date column of
    // the one table
    bool rawDistinct = tabs_.size() == 1;
    for (const Expr* e : items_)
        rawDistinct = rawDistinct && e->kind == Expr::Column &&
            (tabs_[0].rawKind[static_cast<size_t>(e->field)] == 'C' ||
                tabs_[0].rawKind[static_cast<size_t>(e->field)] == 'D');
    size_t kept = 0;
    if (rawDistinct) {
        StmtTable& s = tabs_[0];
        std::unordered_set<std::string> seen;
        std::string sig;
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (i + kAhead < rows_.size())
                prefetchRec(s, 0, rows_[i + kAhead].rec[0]);
            sig.clear();
            for (const Expr* e : items_) {
                std::string_view v = rawOf(s, rows_[i].rec[0], e->field);
                if (s.rawKind[static_cast<size_t>(e->field)] == 'C')
                    v = rawTrimRight(v);
                else if (!rawDateValid(v))
                    v = {};
                // length first: no two lists of values give the same text
                const size_t n = v.empty() ? 0xFFFF : v.size();
                sig.push_back(static_cast<char>(n >> 8));
                sig.push_back(static_cast<char>(n & 0xFF));
                sig.append(v);
            }
            if (seen.insert(sig).second)
                rows_[kept++] = rows_[i];
        }
    } else {
        std::unordered_set<QString> seen;
        for (size_t i = 0; i < rows_.size(); ++i) {
            QString sig;
            if (items_.size() == 1) {
                const QVariant v = eval(*items_[0], rows_[i]);
                sig = v.isNull() ? QString(QChar(0x1E)) : displayText(v);
            } else {
                for (const Expr* e : items_) {
                    const QVariant v = eval(*e, rows_[i]);
                    if (v.isNull())
                        sig += QChar(0x1E);
                    else
                        sig += displayText(v);
                    sig += QChar(0x1F);
                }
            }
            if (seen.insert(sig).second)
                rows_[kept++] = rows_[i];
        }
    }
    rows_.resize(kept);
}

QVariant Executor::value(size_t row, int column)
{
    if (isMax_)
        return maxRow_.at(static_cast<size_t>(column));
    if (row >= rows_.size())
        throw EDBEngineError::invalidParam(std::string(), "no such row");
    return rowValue(*items_.at(static_cast<size_t>(column)), row);
}

void Executor::materialise(ResultSet& out)
{
    fetch(SIZE_MAX);
    out.columns = columns_;
    out.rows.assign(rows_.size(), {});
    for (size_t j = 0; j < rows_.size(); ++j) {
        auto& row = out.rows[j];
        row.reserve(items_.size());
        for (size_t c = 0; c < items_.size(); ++c)
            row.push_back(value(j, static_cast<int>(c)));
    }
}

void Executor::addColumn(const Expr& e, const std::string& alias)
{
    FieldInfo rc;
    if (e.kind == Expr::Column || e.kind == Expr::Max) {
        const Expr& c = e.kind == Expr::Max ? e.parts[0] : e;
        rc = column(c.table, c.field);
        rc.name = alias.empty() ? (e.kind == Expr::Max ? "MAX OF " + rc.name : rc.name) : alias;
    } else {
        rc.name = alias;
        Kind k = kindOf(e);
        rc.type = k == Kind::Date ? fldDATE : k == Kind::Number ? fldFLOAT : fldZSTRING;
        if (k == Kind::Number)
            rc.decimals = decimalsOf(e);
        if (rc.name.empty())
            rc.name = e.text;
    }
    // a name already taken gets a numbered suffix: the next one not taken
    // since the last time that name was given one
    auto key = [](std::string n) {
        for (char& ch : n)
            if (ch >= 'a' && ch <= 'z')
                ch = static_cast<char>(ch - 'a' + 'A');
        return n;
    };
    const std::string base = rc.name;
    if (!takenNames_.insert(key(rc.name)).second) {
        int& n = nextSuffix_[key(base)];
        do
            rc.name = base + "_" + std::to_string(++n);
        while (!takenNames_.insert(key(rc.name)).second);
    }
    columns_.push_back(rc);
}

int Executor::decimalsOf(const Expr& e) const
{
    switch (e.kind) {
    case Expr::Column:
        return kindOfColumn(column(e.table, e.field)) == Kind::Number ? column(e.table, e.field).decimals : 0;
    case Expr::Literal: {
        const auto dot = e.text.find('.');
        return e.literalIsText || dot == std::string::npos ? 0 : static_cast<int>(e.text.size() - dot - 1);
    }
    case Expr::Param:
        return 0;
    case Expr::Max:
    case Expr::Concat:
    case Expr::Sum:
        break;
    }
    int most = 0;
    for (const Expr& p : e.parts)
        most = std::max(most, decimalsOf(p));
    return most;
}

// The greatest value of each MAX of the select list (maxValues_), then the
// one row: each item computed from them.
void Executor::selectMax()
{
    std::vector<const Expr*> maxes;
    const std::function<void(const Expr&)> collect = [&](const Expr& e) {
        if (e.kind == Expr::Max)
            maxes.push_back(&e);
        for (const Expr& p : e.parts)
            collect(p);
    };
    for (const Expr* e : items_)
        collect(*e);
    computeMax(maxes);
    if (planOnly_)
        return;
    maxRow_.clear();
    for (const Expr* e : items_)
        maxRow_.push_back(eval(*e, Ctx{}));
}

void Executor::computeMax(const std::vector<const Expr*>& maxes)
{
    std::vector<QVariant> values(maxes.size());
    std::vector<const Expr*> cols;
    for (const Expr* m : maxes)
        cols.push_back(&m->parts[0]);
    auto keep = [&] {
        for (size_t i = 0; i < maxes.size(); ++i)
            maxValues_[maxes[i]] = values[i];
    };
    // One table, no WHERE, every MAX on an ascending tag: read the last key.
    StmtTable& s = tabs_[0];
    Table& t = *s.table;
    bool fromTags = tabs_.size() == 1 && conds_.empty();
    for (const Expr* c : cols)
        fromTags = fromTags && s.tagOnField(c->field) >= 0;
    if (fromTags) {
        plan_ = s.name + ": max from tag";
        for (const Expr* c : cols)
            plan_ += " " + s.tags[static_cast<size_t>(s.tagOnField(c->field))].name;
        if (planOnly_)
            return;
        IndexReadHold hold(t);
        for (size_t i = 0; i < cols.size(); ++i) {
            auto it = t.openTag(s.tags[static_cast<size_t>(s.tagOnField(cols[i]->field))].name);
            Kind k = kindOf(*cols[i]);
            for (uint32_t r = it->last(); r; r = it->prior()) {
                if (t.isDeleted(r))
                    continue;
                QVariant v = t.value(r, cols[i]->field);
                if (v.isNull() && k == Kind::Number)
                    continue;  // a blank number, keyed as 0
                if (v.isNull() || (k == Kind::Text && v.toString().isEmpty()))
                    break;
                values[i] = v;
                break;
            }
        }
        keep();
        return;
    }
    // Every MAX on a column of the one table read on stored bytes: one
    // pass over the records, only the records holding the results are
    // read as values.
    bool allRaw = tabs_.size() == 1;
    for (const Expr* c : cols) {
        if (!allRaw)
            break;
        const Kind k = kindOf(*c);
        const char rk = s.rawKind[static_cast<size_t>(c->field)];
        allRaw = allRaw &&
            ((k == Kind::Text && rk == 'C') || (k == Kind::Date && rk == 'D') || (k == Kind::Number && rk == 'N'));
    }
    if (allRaw) {
        for (const Expr* c : cols)
            addHot(0, c->field);
        Access a = chooseAccess(0, nullptr);
        plan_ = s.name + ": " + describe(0, a);
        if (planOnly_)
            return;
        std::vector<RawMax> acc;
        for (const Expr* c : cols) {
            RawMax m;
            m.rk = s.rawKind[static_cast<size_t>(c->field)];
            m.field = c->field;
            acc.push_back(m);
        }
        iterate(0, a, [&](uint32_t r) {
            Ctx c;
            c.rec[0] = r;
            if (!passes(c, 1u))
                return false;
            for (RawMax& m : acc)
                m.add(t, r, rawOf(s, r, m.field));
            return false;  // nothing to keep
        });
        for (size_t i = 0; i < cols.size(); ++i)
            values[i] = acc[i].bestRec ? t.value(acc[i].bestRec, cols[i]->field) : QVariant();
        keep();
        return;
    }
    bool ordered = false;
    std::vector<Ctx> rows = gather(nullptr, ordered);
    if (planOnly_)
        return;
    for (size_t i = 0; i < cols.size(); ++i) {
        Kind k = kindOf(*cols[i]);
        QVariant best;
        for (const Ctx& c : rows) {
            QVariant v = eval(*cols[i], c);
            if (v.isNull() || (k == Kind::Text && v.toString().isEmpty()))
                continue;
            if (best.isNull() || compareValues(coerce(v, k, ""), coerce(best, k, ""), k) > 0)
                best = v;
        }
        values[i] = best;
    }
    keep();
}

// ---- Query --------------------------------------------------------------

Query::Query(Database& db, const std::string& sqlText, const Params& params, const ColumnFilter* filter)
    : params_(params), ex_(std::make_unique<Executor>(db, sqlText, params_))
{
    ex_->keepRowsForLater();
    if (filter)
        ex_->filterOn(*filter);
    if (ex_->isSelect())
        ex_->openSelect(false);
}

Query::~Query() = default;

bool Query::isSelect() const
{
    return ex_->isSelect();
}
const std::vector<FieldInfo>& Query::columns() const
{
    return ex_->columns();
}
size_t Query::fetch(size_t count)
{
    return ex_->fetch(count);
}
bool Query::complete() const
{
    return ex_->complete();
}
QVariant Query::value(size_t row, int column)
{
    return ex_->value(row, column);
}
const std::string& Query::plan() const
{
    return ex_->plan();
}

QDate Query::filterDate() const
{
    return ex_->filterDate();
}

}  // namespace kdb::sql
