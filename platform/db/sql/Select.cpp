// SELECT: the result columns and rows, DISTINCT, ORDER BY and MAX.
#include <algorithm>
#include <unordered_set>

#include "core/DbError.h"
#include "sql/Executor.h"
#include "sql/RawBytes.h"

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
    void add(Source& s, uint32_t r, std::string_view v) {
        if (rk == 'C') {
            v = rawTrimRight(v);
            if (v.empty()) return;
            if (bestRec == 0 || compareRawText(v, bestText) > 0) { bestRec = r; bestText.assign(v); }
        } else if (rk == 'D') {
            if (!rawDateValid(v)) return;
            if (bestRec == 0 || v.compare(bestText) > 0) { bestRec = r; bestText.assign(v); }
        } else {
            double d = 0;
            const int got = rawNumber(v, d);
            if (got == 0) return;
            if (got < 0) {  // a text that needs the full reading
                const QVariant x = s.value(r, field);
                if (x.isNull()) return;
                d = x.toDouble();
            }
            if (bestRec == 0 || d > bestNum) { bestRec = r; bestNum = d; }
        }
    }
};

}  // namespace

// ---- SELECT ------------------------------------------------------------
void Executor::select(ExecResult& out) {
    compile();
    // select list
    struct Item { const Expr* expr; };
    std::vector<Expr> starExprs;
    std::vector<Item> items;
    size_t maxCount = 0;
    for (SelectItem& si : st_.items) {
        if (si.star) {
            for (size_t t = 0; t < src_.size(); ++t) {
                if (!si.starQualifier.empty() && tableOfQualifier(si.starQualifier) != static_cast<int>(t))
                    continue;
                const auto& cols = src_[t]->columns();
                for (size_t f = 0; f < cols.size(); ++f) {
                    Expr e;
                    e.kind = Expr::Column;
                    e.name = cols[f].name;
                    e.text = cols[f].name;
                    e.table = static_cast<int>(t);
                    e.field = static_cast<int>(f);
                    starExprs.push_back(e);
                }
            }
        } else {
            bind(si.expr);
            if (si.expr.kind == Expr::Max) ++maxCount;
        }
    }
    size_t starPos = 0;
    for (SelectItem& si : st_.items) {
        ResultColumn rc;
        if (si.star) {
            size_t count = 0;
            for (size_t t = 0; t < src_.size(); ++t)
                if (si.starQualifier.empty() || tableOfQualifier(si.starQualifier) == static_cast<int>(t))
                    count += src_[t]->columns().size();
            for (size_t k = 0; k < count; ++k, ++starPos) {
                const Expr& e = starExprs[starPos];
                items.push_back({&e});
                addColumn(out.result, e, "");
            }
            continue;
        }
        items.push_back({&si.expr});
        addColumn(out.result, si.expr, si.alias);
    }
    if (maxCount > 0 && maxCount != items.size())
        throw EDBEngineError::sqlSyntax("MAX cannot be mixed with plain columns");
    for (OrderItem& o : st_.orderBy) bind(o.column);

    if (maxCount > 0) {
        selectMax(out, items.size());
        return;
    }

    if (st_.distinct && src_.size() == 1)
        for (const Item& it : items)
            if (it.expr->kind == Expr::Column) addHot(0, it.expr->field);
    const Expr* orderFirst = st_.orderBy.empty() || st_.orderBy[0].descending ? nullptr
                                                                             : &st_.orderBy[0].column;
    bool orderedOn = false;
    std::vector<Ctx> rows = gather(orderFirst, orderedOn);

    // DISTINCT without ORDER BY returns its rows sorted on every column.
    std::vector<OrderItem> order = st_.orderBy;
    bool sortOnOutput = st_.distinct && order.empty();

    struct Row {
        std::vector<QVariant> values;
        std::vector<QVariant> keys;
    };
    std::vector<Row> result;
    result.reserve(std::min<size_t>(rows.size(), 4096));
    std::vector<Kind> orderKinds;
    for (const OrderItem& o : order) orderKinds.push_back(kindOf(o.column));
    // An ORDER BY column that is also selected is sorted on its value.
    std::vector<int> orderFrom(order.size(), -1), keyPos(order.size(), -1);
    for (size_t i = 0, k = 0; i < order.size(); ++i) {
        const Expr& oc = order[i].column;
        for (size_t j = 0; j < items.size() && oc.kind == Expr::Column; ++j)
            if (items[j].expr->kind == Expr::Column && items[j].expr->table == oc.table &&
                items[j].expr->field == oc.field) {
                orderFrom[i] = static_cast<int>(j);
                break;
            }
        if (orderFrom[i] < 0) keyPos[i] = static_cast<int>(k++);
    }
    auto keyOf = [&](const Row& r, size_t i) -> const QVariant& {
        return orderFrom[i] >= 0 ? r.values[static_cast<size_t>(orderFrom[i])]
                                 : r.keys[static_cast<size_t>(keyPos[i])];
    };
    // DISTINCT on stored bytes where every item is a character or date
    // column of the one table: only the rows kept are read as values.
    std::vector<char> keep(rows.size(), 1);
    bool rawDistinct = st_.distinct && src_.size() == 1;
    for (const Item& it : items)
        rawDistinct = rawDistinct && it.expr->kind == Expr::Column &&
                      (src_[0]->rawKind(it.expr->field) == 'C' || src_[0]->rawKind(it.expr->field) == 'D');
    if (rawDistinct) {
        Source& s = *src_[0];
        std::unordered_set<std::string> seenRaw;
        std::string sig;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (i + kAhead < rows.size()) prefetchRec(s, 0, rows[i + kAhead].rec[0]);
            sig.clear();
            for (const Item& it : items) {
                std::string_view v = rawOf(s, rows[i].rec[0], it.expr->field);
                if (s.rawKind(it.expr->field) == 'C') v = rawTrimRight(v);
                else if (!rawDateValid(v)) v = {};
                // length first: no two lists of values give the same text
                const size_t n = v.empty() ? 0xFFFF : v.size();
                sig.push_back(static_cast<char>(n >> 8));
                sig.push_back(static_cast<char>(n & 0xFF));
                sig.append(v);
            }
            keep[i] = seenRaw.insert(sig).second ? 1 : 0;
        }
    }
    // values are read in file order, then kept in the rows' order
    std::vector<size_t> kept;
    kept.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        if (keep[i]) kept.push_back(i);
    std::vector<Row> all(kept.size());
    {
        std::vector<size_t> perm(kept.size());
        for (size_t j = 0; j < perm.size(); ++j) perm[j] = j;
        if (src_.size() == 1)
            std::sort(perm.begin(), perm.end(),
                      [&](size_t x, size_t y) { return rows[kept[x]].rec[0] < rows[kept[y]].rec[0]; });
        for (size_t j : perm) {
            Row& row = all[j];
            const Ctx& c = rows[kept[j]];
            row.values.reserve(items.size());
            for (const Item& it : items) row.values.push_back(eval(*it.expr, c));
            for (size_t i = 0; i < order.size(); ++i)
                if (orderFrom[i] < 0) row.keys.push_back(eval(order[i].column, c));
        }
    }
    std::unordered_set<QString> seen;
    for (Row& row : all) {
        if (st_.distinct && !rawDistinct) {
            QString sig;
            if (row.values.size() == 1 && (row.values[0].isNull() || row.values[0].typeId() == QMetaType::QString)) {
                sig = row.values[0].isNull() ? QString(QChar(0x1E)) : row.values[0].toString();
            } else {
                for (const QVariant& v : row.values) {
                    if (v.isNull()) sig += QChar(0x1E);
                    else sig += displayText(v);
                    sig += QChar(0x1F);
                }
            }
            if (!seen.insert(sig).second) continue;
        }
        result.push_back(std::move(row));
    }

    if (sortOnOutput) {
        std::vector<Kind> kinds;
        for (const Item& it : items) kinds.push_back(kindOf(*it.expr));
        std::stable_sort(result.begin(), result.end(), [&](const Row& a, const Row& b) {
            for (size_t i = 0; i < kinds.size(); ++i) {
                int c = compareValues(coerce(a.values[i], kinds[i], ""), coerce(b.values[i], kinds[i], ""), kinds[i]);
                if (c != 0) return c < 0;
            }
            return false;
        });
        plan_ += "; sort";
    } else if (!order.empty()) {
        auto less = [&](size_t from) {
            return [&, from](const Row& a, const Row& b) {
                for (size_t i = from; i < order.size(); ++i) {
                    int c = compareValues(keyOf(a, i), keyOf(b, i), orderKinds[i]);
                    if (order[i].descending) c = -c;
                    if (c != 0) return c < 0;
                }
                return false;
            };
        };
        if (orderedOn && order.size() == 1) {
            plan_ += "; order by tag";
        } else if (orderedOn) {
            plan_ += "; sort within equal keys";
            size_t i = 0;
            while (i < result.size()) {
                size_t j = i + 1;
                while (j < result.size() &&
                       compareValues(keyOf(result[i], 0), keyOf(result[j], 0), orderKinds[0]) == 0)
                    ++j;
                if (j - i > 1) std::stable_sort(result.begin() + static_cast<long>(i),
                                                result.begin() + static_cast<long>(j), less(1));
                i = j;
            }
        } else {
            plan_ += "; sort";
            std::stable_sort(result.begin(), result.end(), less(0));
        }
    }
    out.result.rows.reserve(result.size());
    for (Row& r : result) out.result.rows.push_back(std::move(r.values));
}

void Executor::addColumn(ResultSet& rs, const Expr& e, const std::string& alias) {
    ResultColumn rc;
    rc.name = alias;
    if (e.kind == Expr::Column || e.kind == Expr::Max) {
        const Expr& c = e.kind == Expr::Max ? e.parts[0] : e;
        const ColumnInfo& ci = column(c.table, c.field);
        rc.type = ci.type;
        rc.subType = ci.subType;
        rc.width = ci.width;
        rc.decimals = ci.decimals;
        if (rc.name.empty()) rc.name = e.kind == Expr::Max ? "MAX OF " + ci.name : ci.name;
    } else {
        Kind k = kindOf(e);
        rc.type = k == Kind::Date ? fldDATE : k == Kind::Number ? fldFLOAT : fldZSTRING;
        if (rc.name.empty()) rc.name = e.text;
    }
    // a name already taken gets a numbered suffix
    std::string base = rc.name;
    for (int n = 1; rs.columnIndex(rc.name) >= 0; ++n) rc.name = base + "_" + std::to_string(n);
    rs.columns.push_back(rc);
}

void Executor::selectMax(ExecResult& out, size_t count) {
    std::vector<QVariant> values(count);
    std::vector<const Expr*> cols;
    for (const SelectItem& si : st_.items) cols.push_back(&si.expr.parts[0]);
    // One table, no WHERE, every MAX on an ascending tag: read the last key.
    bool fromTags = src_.size() == 1 && conds_.empty();
    for (const Expr* c : cols) fromTags = fromTags && src_[0]->tagOnField(c->field) >= 0;
    if (fromTags) {
        plan_ = names_[0] + ": max from tag";
        for (const Expr* c : cols) plan_ += " " + src_[0]->tags()[static_cast<size_t>(src_[0]->tagOnField(c->field))].name;
        if (planOnly_) return;
        IndexHold hold(*src_[0]);
        for (size_t i = 0; i < cols.size(); ++i) {
            auto it = src_[0]->openTag(src_[0]->tagOnField(cols[i]->field));
            Kind k = kindOf(*cols[i]);
            for (bool ok = it->last(); ok; ok = it->prior()) {
                if (src_[0]->isDeleted(it->recNo())) continue;
                QVariant v = src_[0]->value(it->recNo(), cols[i]->field);
                if (v.isNull() || (k == Kind::Text && v.toString().isEmpty())) break;
                values[i] = v;
                break;
            }
        }
        out.result.rows.push_back(values);
        return;
    }
    // Every MAX on a column of the one table read on stored bytes: one
    // pass over the records, only the records holding the results are
    // read as values.
    bool allRaw = src_.size() == 1;
    for (const Expr* c : cols) {
        if (!allRaw) break;
        const Kind k = kindOf(*c);
        const char rk = src_[0]->rawKind(c->field);
        allRaw = allRaw && ((k == Kind::Text && rk == 'C') || (k == Kind::Date && rk == 'D') ||
                            (k == Kind::Number && rk == 'N'));
    }
    if (allRaw) {
        for (const Expr* c : cols) addHot(0, c->field);
        Access a = chooseAccess(0, nullptr);
        plan_ = names_[0] + ": " + describe(0, a);
        if (planOnly_) return;
        std::vector<RawMax> acc;
        for (const Expr* c : cols) {
            RawMax m;
            m.rk = src_[0]->rawKind(c->field);
            m.field = c->field;
            acc.push_back(m);
        }
        Source& s = *src_[0];
        iterate(0, a, [&](uint32_t r) {
            Ctx c;
            c.rec[0] = r;
            if (!passes(c, 1u)) return false;
            for (RawMax& m : acc) m.add(s, r, rawOf(s, r, m.field));
            return false;  // nothing to keep
        });
        for (size_t i = 0; i < cols.size(); ++i)
            values[i] = acc[i].bestRec ? s.value(acc[i].bestRec, cols[i]->field) : QVariant();
        out.result.rows.push_back(values);
        return;
    }
    bool ordered = false;
    std::vector<Ctx> rows = gather(nullptr, ordered);
    if (planOnly_) return;
    for (size_t i = 0; i < cols.size(); ++i) {
        Kind k = kindOf(*cols[i]);
        QVariant best;
        for (const Ctx& c : rows) {
            QVariant v = eval(*cols[i], c);
            if (v.isNull() || (k == Kind::Text && v.toString().isEmpty())) continue;
            if (best.isNull() || compareValues(coerce(v, k, ""), coerce(best, k, ""), k) > 0) best = v;
        }
        values[i] = best;
    }
    out.result.rows.push_back(values);
}

}  // namespace kdb::sql
