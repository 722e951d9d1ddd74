// Access paths of the local SQL: scans, tag seeks and walks, joins.
#include <algorithm>
#include <unordered_map>

#include "platform/db/sql/Executor.h"
#include "platform/db/sql/RawBytes.h"

namespace kdb::sql {

// ---- access paths ------------------------------------------------------
// A column side of this table against a constant side.
bool Executor::columnVsConst(const Compiled& k, int table, const Side*& col, const Side*& cst)
{
    if (k.lhs.expr->kind == Expr::Column && k.lhs.expr->table == table && k.rhs.constant) {
        col = &k.lhs;
        cst = &k.rhs;
        return true;
    }
    if (k.rhs.expr->kind == Expr::Column && k.rhs.expr->table == table && k.lhs.constant && k.op != CmpOp::Like) {
        col = &k.rhs;
        cst = &k.lhs;
        return true;
    }
    return false;
}

Access Executor::chooseAccess(int table, const Expr* orderFirst)
{
    const StmtTable& s = tabs_[static_cast<size_t>(table)];
    const auto& tags = s.tags;
    Access best;
    bool otherEquality = false;
    for (const Compiled& k : conds_) {
        const Side* col = nullptr;
        const Side* cst = nullptr;
        if (!columnVsConst(k, table, col, cst))
            continue;
        int tag = s.tagOnField(col->expr->field);
        if (k.op == CmpOp::Eq) {
            if (tag < 0) {
                otherEquality = true;
                continue;
            }
            if (cst->value.isNull())
                continue;
            bool better = best.type != Access::Eq ||
                (tags[static_cast<size_t>(tag)].unique && !tags[static_cast<size_t>(best.tag)].unique);
            if (better) {
                best.type = Access::Eq;
                best.tag = tag;
                best.key = cst->value;
            }
        } else if (k.op == CmpOp::Like && tag >= 0 && best.type == Access::Scan &&
            kindOfColumn(s.field(col->expr->field)) == Kind::Text && !cst->value.isNull()) {
            QString p = likePrefix(cst->value.toString());
            if (!p.isEmpty()) {
                best.type = Access::Prefix;
                best.tag = tag;
                best.prefix = p;
            }
        }
    }
    if (best.type == Access::Scan && orderFirst && orderFirst->table == table && !otherEquality) {
        int tag = s.tagOnField(orderFirst->field);
        if (tag >= 0) {
            best.type = Access::Order;
            best.tag = tag;
        }
    }
    return best;
}

std::string Executor::describe(int table, const Access& a) const
{
    const StmtTable& s = tabs_[static_cast<size_t>(table)];
    std::string tag = a.tag >= 0 ? s.tags[static_cast<size_t>(a.tag)].name : "";
    switch (a.type) {
    case Access::Scan:
        return "scan";
    case Access::Eq:
        return "seek tag " + tag + " = '" + displayText(a.key).toStdString() + "'";
    case Access::Prefix:
        return "seek tag " + tag + " prefix '" + a.prefix.toStdString() + "'";
    case Access::Order:
        return "read tag " + tag + " in order";
    }
    return {};
}

// The key just above every key that equals `key` (or starts with it, for
// a prefix): where a tag walk for that key stops. Null when there is none.
// Character keys have none here: the key next above a text in the tags'
// collation depends on the table's code page, so their walks compare the
// keys they read.
QVariant Executor::successor(const QVariant& key, Kind kind, bool prefix, int width)
{
    (void)width;
    if (kind == Kind::Date && !prefix)
        return key.toDate().addDays(1);
    return {};
}

// Record numbers an access path yields, in its order, read from the tag
// alone where the walk's end can be found by a second seek.
std::vector<uint32_t> Executor::candidates(int table, const Access& a)
{
    StmtTable& s = tabs_[static_cast<size_t>(table)];
    std::vector<uint32_t> out;
    if (a.type == Access::Scan) {
        uint32_t n = s.table->recordCount();
        out.reserve(n);
        for (uint32_t r = 1; r <= n; ++r)
            out.push_back(r);
        return out;
    }
    const TagInfo& tag = s.tags[static_cast<size_t>(a.tag)];
    const int field = s.tagField[static_cast<size_t>(a.tag)];
    auto it = s.table->openTag(tag.name);
    if (a.type == Access::Order) {
        // A blank number has the key of 0 in a numeric tag: such records
        // come first, as a blank value sorts before every number.
        std::string zero;
        if (tag.keyType == 'N' && field >= 0 && it->seek(QVariant(0)))
            zero.assign(it->currentKey());
        std::vector<uint32_t> blanks;
        it->first();
        it->scanForward([&](uint32_t r, std::string_view key) {
            if (!zero.empty() && key == zero && s.table->value(r, field).isNull())
                blanks.push_back(r);
            else
                out.push_back(r);
            return true;
        });
        if (!blanks.empty())
            out.insert(out.begin(), blanks.begin(), blanks.end());
        return out;
    }
    Kind kind = kindOfColumn(s.field(field));
    if (a.type == Access::Eq && tag.unique) {
        if (const uint32_t r = it->seek(a.key))
            out.push_back(r);
        return out;
    }
    const QVariant start = a.type == Access::Eq ? a.key : QVariant(a.prefix);
    // A character tag holding the field's bytes: the walk stops on the
    // first key that no longer matches.
    std::string rawStart;
    if (s.table->tagKeysAreFieldBytes(a.tag) && toRawText(start.toString(), rawStart)) {
        const bool prefix = a.type == Access::Prefix;
        it->seek(start);
        it->scanForward([&](uint32_t r, std::string_view key) {
            const std::string_view k =
                prefix ? key.substr(0, std::min(key.size(), rawStart.size())) : rawTrimRight(key);
            if (k != rawStart)
                return false;
            out.push_back(r);
            return true;
        });
        return out;
    }
    const QVariant end = successor(start, kind, a.type == Access::Prefix, s.field(field).width);
    if (!end.isNull()) {
        auto bound = s.table->openTag(tag.name);
        bound->seek(end);
        const uint32_t endRec = bound->current();
        it->seek(start);
        it->scanForward([&](uint32_t r, std::string_view) {
            if (r == endRec)
                return false;
            out.push_back(r);
            return true;
        });
        return out;
    }
    it->seek(start);
    for (uint32_t r = it->current(); r; r = it->next()) {  // compare every key read
        QVariant k = coerce(s.table->value(r, field), kind, "");
        if (k.isNull() && kind == Kind::Number)
            continue;  // a blank number, keyed as 0 among the zeros
        bool in = a.type == Access::Eq ? compareValues(k, a.key, kind) == 0 : k.toString().startsWith(a.prefix);
        if (!in)
            break;
        out.push_back(r);
    }
    return out;
}

// The live records of an access path that `keep` accepts, in the path's
// order; the records are read in file order.
std::vector<uint32_t> Executor::iterate(int table, const Access& a, const std::function<bool(uint32_t)>& keep)
{
    StmtTable& s = tabs_[static_cast<size_t>(table)];
    Table& t = *s.table;
    if (a.type == Access::Scan) {  // file order: nothing to sort
        std::vector<uint32_t> out;
        const uint32_t n = t.recordCount();
        const bool raw = s.rawRecords;
        for (uint32_t r = 1; r <= n; ++r) {
            if (raw && r + kAhead <= n)
                prefetchRec(s, table, r + kAhead);
            const bool deleted = raw ? *t.rawRecord(r) == '*' : t.isDeleted(r);
            if (!deleted && keep(r)) {
                out.push_back(r);
                if (!st_.distinct)
                    noteRows(s, out.size(), r);  // DISTINCT keeps few of what it reads
            }
        }
        return out;
    }
    // The walk and the reads of its records under one hold of the index:
    // the rows of one moment, each once, whatever other programs change.
    IndexReadHold hold(t);
    std::vector<uint32_t> recs = candidates(table, a);
    std::vector<char> ok(recs.size(), 0);
    std::vector<size_t> perm(recs.size());
    for (size_t i = 0; i < perm.size(); ++i)
        perm[i] = i;
    if (a.type != Access::Scan)
        std::sort(perm.begin(), perm.end(), [&](size_t x, size_t y) { return recs[x] < recs[y]; });
    for (size_t i : perm)
        ok[i] = !t.isDeleted(recs[i]) && keep(recs[i]);
    std::vector<uint32_t> out;
    for (size_t i = 0; i < recs.size(); ++i)
        if (ok[i])
            out.push_back(recs[i]);
    return out;
}

// Rows of the FROM clause that pass the WHERE clause, in access order;
// sets orderedOn when they come ordered by the first ORDER BY column.
std::vector<Ctx> Executor::gather(const Expr* orderFirst, bool& orderedOn)
{
    orderedOn = false;
    std::vector<Ctx> rows;
    if (tabs_.size() == 1) {
        Access a = chooseAccess(0, orderFirst);
        plan_ = tabs_[0].name + ": " + describe(0, a);
        orderedOn = a.type == Access::Order ||
            (orderFirst && a.type != Access::Scan && a.tag == tabs_[0].tagOnField(orderFirst->field) &&
                orderFirst->table == 0);
        if (planOnly_)
            return rows;
        for (uint32_t r : iterate(0, a, [&](uint32_t r) {
                 Ctx c;
                 c.rec[0] = r;
                 return passes(c, 1u);
             })) {
            Ctx c;
            c.rec[0] = r;
            rows.push_back(c);
        }
        return rows;
    }
    // Two tables: find an equality between a column of each.
    int outer = 0, inner = 1;
    const Compiled* join = nullptr;
    int innerTag = -1;
    for (const Compiled& k : conds_) {
        if (k.op != CmpOp::Eq || k.lhs.expr->kind != Expr::Column || k.rhs.expr->kind != Expr::Column)
            continue;
        int tl = k.lhs.expr->table, tr = k.rhs.expr->table;
        if (tl == tr)
            continue;
        for (int cand : {tr, tl}) {
            const Expr* e = cand == tl ? k.lhs.expr : k.rhs.expr;
            const StmtTable& ct = tabs_[static_cast<size_t>(cand)];
            int tag = ct.tagOnField(e->field);
            if (tag >= 0 && (innerTag < 0 || ct.tags[static_cast<size_t>(tag)].unique)) {
                join = &k;
                inner = cand;
                outer = 1 - cand;
                innerTag = tag;
            }
        }
        if (!join)
            join = &k;
    }
    Access oa = chooseAccess(outer, orderFirst);
    orderedOn = orderFirst && orderFirst->table == outer &&
        (oa.type == Access::Order ||
            (oa.type != Access::Scan && oa.tag == tabs_[static_cast<size_t>(outer)].tagOnField(orderFirst->field)));
    const Expr* outerCol = nullptr;
    const Expr* innerCol = nullptr;
    if (join) {
        outerCol = join->lhs.expr->table == outer ? join->lhs.expr : join->rhs.expr;
        innerCol = join->lhs.expr->table == inner ? join->lhs.expr : join->rhs.expr;
    }
    Kind innerKind = innerCol ? kindOfColumn(column(inner, innerCol->field)) : Kind::Text;
    StmtTable& os = tabs_[static_cast<size_t>(outer)];
    StmtTable& is = tabs_[static_cast<size_t>(inner)];
    Table& in = *is.table;
    std::string innerDesc;
    if (join && innerTag >= 0)
        innerDesc = "seek tag " + is.tags[static_cast<size_t>(innerTag)].name + " per row of " + os.name;
    else if (join)
        innerDesc = "hash join with " + os.name;
    else
        innerDesc = "scan per row of " + os.name;
    plan_ = os.name + ": " + describe(outer, oa) + "\n" + is.name + ": " + innerDesc;
    if (planOnly_)
        return rows;

    const unsigned outerMask = 1u << outer;
    // inner rows that pass their own conditions, for the hash join or the plain loop
    std::vector<uint32_t> innerRows;
    std::unordered_multimap<QString, uint32_t> hash;
    if (innerTag < 0) {
        holdTable(inner);
        Access all;
        iterate(inner, all, [&](uint32_t r) {
            Ctx c;
            c.rec[inner] = r;
            if (!passes(c, 1u << inner))
                return false;
            if (join)
                hash.emplace(coerce(eval(*innerCol, c), innerKind, "").toString(), r);
            else
                innerRows.push_back(r);
            return true;
        });
    }
    // The inner tag is opened where it is first read, within the hold of
    // the seeks (no outer row: not at all).
    std::unique_ptr<TagCursor> it;
    const bool innerUnique = innerTag >= 0 && is.tags[static_cast<size_t>(innerTag)].unique;
    auto openInner = [&] {
        holdTable(inner);
        if (!it)
            it = in.openTag(is.tags[static_cast<size_t>(innerTag)].name);
    };
    holdTable(outer);
    std::vector<uint32_t> outerRecs = iterate(outer, oa, [&](uint32_t r) {
        Ctx c;
        c.rec[outer] = r;
        return passes(c, outerMask);
    });
    // Many outer rows against a character tag that holds the inner
    // column's bytes: the tag is read once into a table of keys, each
    // outer row then finds its inner rows there without a seek.
    std::string rawKey;
    bool keyTable = join && innerTag >= 0 && in.tagKeysAreFieldBytes(innerTag) &&
        uint64_t(outerRecs.size()) * 16 >= uint64_t(in.recordCount());
    std::vector<uint32_t> byKey;  // inner records in tag order
    std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> keyRange;  // key -> [begin, end) in byKey
    if (keyTable) {
        plan_ += " (keys read once)";
        keyRange.reserve(in.recordCount());
        std::pair<uint32_t, uint32_t>* cur = nullptr;
        std::string last;
        openInner();
        it->first();
        it->scanForward([&](uint32_t ir, std::string_view key) {
            const std::string_view k = rawTrimRight(key);
            if (k.empty())
                return true;  // a blank key joins nothing
            if (!cur || k != last) {
                last.assign(k);
                const auto pos = static_cast<uint32_t>(byKey.size());
                cur = &keyRange.try_emplace(last, pos, pos).first->second;
                // entries of one key are adjacent in the tag
                if (cur->second != pos)
                    cur = nullptr;
            }
            if (cur) {
                byKey.push_back(ir);
                ++cur->second;
            }
            return true;
        });
    }
    const char outerRaw = outerCol ? os.rawKind[static_cast<size_t>(outerCol->field)] : 0;
    // Two character columns: a pair whose stored texts are the same bytes
    // meets the join's equality without reading values.
    const bool rawPairs = outerRaw == 'C' && innerCol && is.rawKind[static_cast<size_t>(innerCol->field)] == 'C';
    std::string outerText;
    size_t sinceHold = 0;
    bool held = false;
    auto releaseHold = [&] {
        if (held)
            in.endIndexRead();
        held = false;
    };
    try {
        for (uint32_t r : outerRecs) {
            Ctx c;
            c.rec[outer] = r;
            // the table of keys matches on the whole stored text: the join's
            // equality holds for its pairs; a seek's pairs are checked again,
            // on their stored bytes first (a copy: the record's bytes last
            // until the next read of the table)
            outerText.clear();
            if (rawPairs && !keyTable)
                outerText.assign(rawTrimRight(rawOf(os, r, outerCol->field)));
            auto addPair = [&](uint32_t ir) {
                c.rec[inner] = ir;
                const bool met = keyTable ||
                    (!outerText.empty() && rawTrimRight(rawOf(is, ir, innerCol->field)) == outerText);
                if (passes(c, 3u, met ? join : nullptr))
                    rows.push_back(c);
            };
            if (!join) {
                for (uint32_t ir : innerRows)
                    addPair(ir);
                continue;
            }
            if (keyTable) {
                std::string_view k;
                if (outerRaw == 'C' && innerKind == Kind::Text) {
                    k = rawTrimRight(rawOf(os, r, outerCol->field));
                } else {
                    QVariant key = coerce(eval(*outerCol, c), innerKind, "");
                    if (key.isNull() || !toRawText(key.toString(), rawKey))
                        continue;
                    k = rawKey;
                }
                if (k.empty())
                    continue;
                if (k.data() != rawKey.data())
                    rawKey.assign(k);
                auto found = keyRange.find(rawKey);
                if (found == keyRange.end())
                    continue;
                for (uint32_t i = found->second.first; i < found->second.second; ++i)
                    if (!in.isDeleted(byKey[i]))
                        addPair(byKey[i]);
                continue;
            }
            QVariant key = coerce(eval(*outerCol, c), innerKind, "");
            if (key.isNull())
                continue;
            if (innerTag >= 0) {
                // the seeks of a batch of outer rows share one hold of the index
                holdTable(inner);
                if (!held || ++sinceHold >= 512) {
                    releaseHold();
                    in.beginIndexRead();
                    held = true;
                    sinceHold = 0;
                }
                openInner();
                const uint32_t first = it->seek(key);
                if (!first)
                    continue;
                if (!in.isDeleted(first))
                    addPair(first);
                if (innerUnique)
                    continue;  // one entry per key
                for (uint32_t ir = it->next(); ir; ir = it->next()) {
                    const QVariant v = coerce(in.value(ir, innerCol->field), innerKind, "");
                    if (v.isNull() && innerKind == Kind::Number)
                        continue;  // a blank number, keyed as 0 among the zeros
                    if (compareValues(v, key, innerKind) != 0)
                        break;
                    if (!in.isDeleted(ir))
                        addPair(ir);
                }
            } else {
                auto range = hash.equal_range(key.toString());
                std::vector<uint32_t> matches;
                for (auto m = range.first; m != range.second; ++m)
                    matches.push_back(m->second);
                std::sort(matches.begin(), matches.end());
                for (uint32_t ir : matches)
                    addPair(ir);
            }
        }
    } catch (...) {
        releaseHold();
        throw;
    }
    releaseHold();
    return rows;
}

}  // namespace kdb::sql
