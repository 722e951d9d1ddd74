// INSERT, UPDATE and DELETE.
#include <algorithm>
#include <cmath>

#include "platform/db/core/DbError.h"
#include "platform/db/sql/Executor.h"

namespace kdb::sql {

// ---- writes ------------------------------------------------------------
QVariant Executor::forColumn(const QVariant& v, const FieldInfo& ci)
{
    if (v.isNull())
        return {};
    switch (ci.type) {
    case fldBLOB:
        return displayText(v);
    case fldZSTRING: {
        QString t = trimRight(displayText(v));
        return ci.width > 0 && t.size() > ci.width ? t.left(ci.width) : t;
    }
    case fldDATE:
        return coerce(v, Kind::Date, ci.name);
    case fldINT16:
    case fldINT32: {
        QVariant n = coerce(v, Kind::Number, ci.name);
        if (n.isNull())
            return {};
        double d = n.toDouble();
        double lim = ci.type == fldINT16 ? 32767.0 : 2147483647.0;
        if (d != static_cast<double>(static_cast<qint64>(d)) || d > lim || d < -lim - 1)
            mismatch(v, ci.name);
        return static_cast<int>(d);
    }
    case fldFLOAT:
    case fldBCD: {
        QVariant n = coerce(v, Kind::Number, ci.name);
        if (n.isNull())
            return {};
        double d = n.toDouble();
        if (ci.decimals == 0 && d == static_cast<double>(static_cast<qint64>(d)) && std::abs(d) < 2e9)
            return static_cast<int>(d);
        return d;
    }
    case fldBOOL:
        return coerce(v, Kind::Bool, ci.name);
    default:
        return v;
    }
}

void Executor::insert(ExecResult& out)
{
    Table& s = *tabs_[0].table;
    std::vector<QVariant> values(s.fields().size());
    for (size_t i = 0; i < st_.insertColumns.size(); ++i) {
        int f = s.fieldIndex(st_.insertColumns[i]);
        if (f < 0)
            throw EDBEngineError::unknownField(st_.insertColumns[i]);
        Expr& e = st_.insertValues[i];
        bind(e);
        if (hasColumn(e))
            throw EDBEngineError::sqlSyntax("a column name in VALUES near '" + e.text + "'");
        values[static_cast<size_t>(f)] = forColumn(eval(e, Ctx{}), s.fields()[static_cast<size_t>(f)]);
    }
    plan_ = tabs_[0].name + ": append";
    if (planOnly_)
        return;
    s.append(values);
    s.flush();
    out.rowsAffected = 1;
}

std::vector<uint32_t> Executor::matching()
{
    compile();
    bool ordered = false;
    std::vector<Ctx> rows = gather(nullptr, ordered);
    std::vector<uint32_t> recs;
    recs.reserve(rows.size());
    for (const Ctx& c : rows)
        recs.push_back(c.rec[0]);
    std::sort(recs.begin(), recs.end());  // written in file order
    return recs;
}

namespace {

// The records a statement changes change all together or not at all: each
// is locked before the first write (a lock this open held already stays
// held afterwards), each is kept as stored before it is written (and kept
// by the table where the recovery after a crash finds it), and a write that
// fails puts back every record written before it. Under the statement's
// hold of the table, a record found locked is held by an edit (a screen's,
// for as long as its user edits it): refused at once.
class StatementWrite {
public:
    StatementWrite(Table& t, const std::vector<uint32_t>& recs) : t_(t)
    {
        for (uint32_t r : recs) {
            if (t.holdsRecordLock(r))
                continue;
            if (!t.lockRecord(r)) {
                release();
                throw EDBEngineError::locked(
                    t.filePath(), "record " + std::to_string(r) + " is locked by another user");
            }
            taken_.push_back(r);
        }
        try {
            t.keepForRecovery(recs);
        } catch (...) {
            release();
            throw;
        }
    }
    ~StatementWrite() { release(); }
    StatementWrite(const StatementWrite&) = delete;
    StatementWrite& operator=(const StatementWrite&) = delete;

    // Runs the write of one record, kept first; a failure puts back what
    // the statement wrote and raises the failure.
    // A deletion (flagOnly) is undone by bringing the record back.
    template <class F> void write(uint32_t r, bool flagOnly, F change)
    {
        Kept k;
        k.rec = r;
        k.flagOnly = flagOnly;
        if (!flagOnly)
            k.stored = t_.storedRecord(r);
        if (!flagOnly && k.stored.empty()) {
            k.deleted = t_.isDeleted(r);
            k.values = t_.record(r);
        }
        try {
            kept_.push_back(std::move(k));
            change();
        } catch (...) {
            undo();
            throw;
        }
    }

    // The changes forced to the disk; when that fails, the records are put
    // back and the failure raised.
    void flush()
    {
        try {
            t_.flush();
        } catch (...) {
            undo();
            throw;
        }
    }

private:
    struct Kept {
        uint32_t rec = 0;
        bool flagOnly = false;
        std::string stored;
        bool deleted = false;
        std::vector<QVariant> values;
    };
    void undo() noexcept
    {
        bool whole = true;
        for (auto k = kept_.rbegin(); k != kept_.rend(); ++k) {
            try {
                if (k->flagOnly) {
                    t_.undeleteRecord(k->rec);
                    continue;
                }
                if (!k->stored.empty()) {
                    t_.restoreRecord(k->rec, k->stored);
                    continue;
                }
                if (t_.isDeleted(k->rec) != k->deleted) {
                    if (k->deleted)
                        t_.deleteRecord(k->rec);
                    else
                        t_.undeleteRecord(k->rec);
                }
                t_.update(k->rec, k->values);
            } catch (const std::exception&) {
                whole = false;
            }
        }
        kept_.clear();
        // Every record back: flushed (what the table kept for a recovery
        // goes). Otherwise the table puts them back from what it kept when
        // the statement ends, or the next program at it does.
        if (!whole)
            return;
        try {
            t_.flush();
        } catch (const std::exception&) {
        }
    }
    void release() noexcept
    {
        for (uint32_t r : taken_) {
            try {
                t_.unlockRecord(r);
            } catch (const std::exception&) {
            }
        }
        taken_.clear();
    }
    Table& t_;
    std::vector<uint32_t> taken_;
    std::vector<Kept> kept_;
};

}  // namespace

void Executor::update(ExecResult& out)
{
    Table& s = *tabs_[0].table;
    std::vector<int> fields;
    for (Assignment& a : st_.assignments) {
        int f = s.fieldIndex(a.column);
        if (f < 0)
            throw EDBEngineError::unknownField(a.column);
        bind(a.value);
        fields.push_back(f);
    }
    if (planOnly_) {
        matching();
        return;
    }
    // The rows found, tested against the WHERE clause, read for their new
    // values and changed under one hold of the table: none changes between
    // its test and its write, and the others see all of the statement or
    // none of it.
    StatementHold hold(s);
    std::vector<uint32_t> recs = matching();
    // Every row's new values first: a value that does not fit its column
    // fails the statement before anything is written.
    std::vector<std::vector<std::pair<int, QVariant>>> changes(recs.size());
    for (size_t j = 0; j < recs.size(); ++j) {
        Ctx c;
        c.rec[0] = recs[j];
        for (size_t i = 0; i < fields.size(); ++i)
            changes[j].emplace_back(
                fields[i], forColumn(eval(st_.assignments[i].value, c), s.fields()[static_cast<size_t>(fields[i])]));
    }
    dropCache();
    // Every row checked against its columns and the unique tags, every
    // record locked, before the first write.
    std::set<std::string> taken;
    for (size_t j = 0; j < recs.size(); ++j)
        s.checkFields(recs[j], changes[j], taken);
    StatementWrite w(s, recs);
    for (size_t j = 0; j < recs.size(); ++j)
        w.write(recs[j], false, [&] { s.updateFields(recs[j], changes[j]); });
    if (!recs.empty())
        w.flush();
    out.rowsAffected = static_cast<int>(recs.size());
}

void Executor::remove(ExecResult& out)
{
    Table& s = *tabs_[0].table;
    if (planOnly_) {
        matching();
        return;
    }
    StatementHold hold(s);  // as for an UPDATE
    std::vector<uint32_t> recs = matching();
    StatementWrite w(s, recs);
    int deleted = 0;
    for (uint32_t r : recs) {
        if (s.isDeleted(r))
            continue;  // by another program before the locks were taken
        w.write(r, true, [&] { s.deleteRecord(r); });
        ++deleted;
    }
    if (deleted > 0)
        w.flush();
    out.rowsAffected = deleted;
}

}  // namespace kdb::sql
