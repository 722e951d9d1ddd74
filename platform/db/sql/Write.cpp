// INSERT, UPDATE and DELETE.
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
    return recs;
}

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
    std::vector<uint32_t> recs = matching();
    if (planOnly_)
        return;
    for (uint32_t r : recs) {
        Ctx c;
        c.rec[0] = r;
        std::vector<std::pair<int, QVariant>> changes;
        for (size_t i = 0; i < fields.size(); ++i)
            changes.emplace_back(
                fields[i], forColumn(eval(st_.assignments[i].value, c), s.fields()[static_cast<size_t>(fields[i])]));
        s.updateFields(r, changes);
    }
    if (!recs.empty())
        s.flush();
    out.rowsAffected = static_cast<int>(recs.size());
}

void Executor::remove(ExecResult& out)
{
    Table& s = *tabs_[0].table;
    std::vector<uint32_t> recs = matching();
    if (planOnly_)
        return;
    for (uint32_t r : recs)
        s.deleteRecord(r);
    if (!recs.empty())
        s.flush();
    out.rowsAffected = static_cast<int>(recs.size());
}

}  // namespace kdb::sql
