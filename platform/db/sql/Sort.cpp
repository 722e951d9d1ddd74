// ORDER BY and the sorted output of DISTINCT: every row's keys are made once
// into bytes (a text as UTF-16, a date's "yyyyMMdd", a number in an
// order-keeping binary form), then the rows are ordered on them, texts
// through compareText. The rows stay record numbers; a key of a few bytes per row is all
// the sort holds besides them.
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/db/sql/Executor.h"
#include "platform/db/sql/RawBytes.h"

namespace kdb::sql {

namespace {

constexpr uint32_t kNull = 0xFFFFFFFF;

// Big-endian bytes of a double that order as the numbers do.
void putNumber(std::string& out, double d)
{
    if (d == 0)
        d = 0;  // -0 orders with 0
    uint64_t bits = std::bit_cast<uint64_t>(d);
    bits = (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<char>((bits >> (i * 8)) & 0xFF));
}

void putLength(std::string& out, uint32_t n)
{
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
}

uint32_t getLength(const char*& p)
{
    uint32_t n;
    std::memcpy(&n, p, sizeof n);
    p += sizeof n;
    return n;
}

}  // namespace

// How a key is made and compared: 'C' from a character column's stored
// bytes, 'U' from a value, both UTF-16 texts; 'B' bytes compared as they are.
char Executor::keyForm(const SortKey& k) const
{
    if (k.expr->kind == Expr::Column) {
        const char rk = tabs_[static_cast<size_t>(k.expr->table)].rawKind[static_cast<size_t>(k.expr->field)];
        if (k.kind == Kind::Text && rk == 'C')
            return 'C';
    }
    return k.kind == Kind::Text ? 'U' : 'B';
}

void Executor::appendKey(std::string& out, const SortKey& k, char form, const Ctx& c)
{
    const Expr& e = *k.expr;
    if (e.kind == Expr::Column) {
        StmtTable& s = tabs_[static_cast<size_t>(e.table)];
        const char rk = s.rawKind[static_cast<size_t>(e.field)];
        const uint32_t rec = c.rec[e.table];
        if (form == 'C') {  // as UTF-16 text: compared without decoding again
            const std::string_view t = rawTrimRight(rawOf(s, rec, e.field));
            if (t.empty())
                return putLength(out, kNull);
            putLength(out, static_cast<uint32_t>(t.size() * 2));
            const size_t at = out.size();
            out.resize(at + t.size() * 2);
            rawToUtf16(t, reinterpret_cast<char16_t*>(out.data() + at));
            return;
        }
        if (k.kind == Kind::Date && rk == 'D') {
            const std::string_view t = rawOf(s, rec, e.field);
            if (!rawDateValid(t))
                return putLength(out, kNull);
            putLength(out, 8);
            out.append(t);
            return;
        }
        if (k.kind == Kind::Number && rk == 'N') {
            double d = 0;
            const int got = rawNumber(rawOf(s, rec, e.field), d);
            if (got == 0)
                return putLength(out, kNull);
            if (got < 0) {  // a text that needs the full reading
                const QVariant v = s.table->value(rec, e.field);
                if (v.isNull())
                    return putLength(out, kNull);
                d = v.toDouble();
            }
            putLength(out, 8);
            putNumber(out, d);
            return;
        }
    }
    const QVariant v = coerce(eval(e, c), k.kind, "");
    if (v.isNull())
        return putLength(out, kNull);
    switch (k.kind) {
    case Kind::Text: {
        const QString t = v.toString();
        putLength(out, static_cast<uint32_t>(t.size() * 2));
        out.append(reinterpret_cast<const char*>(t.utf16()), static_cast<size_t>(t.size()) * 2);
        return;
    }
    case Kind::Date:
        putLength(out, 8);
        putNumber(out, static_cast<double>(v.toDate().toJulianDay()));
        return;
    case Kind::Number:
        putLength(out, 8);
        putNumber(out, v.toDouble());
        return;
    case Kind::Bool:
        putLength(out, 1);
        out.push_back(v.toBool() ? 1 : 0);
        return;
    }
}

void Executor::sortRows(const std::vector<SortKey>& keys, bool withinFirst)
{
    if (rows_.empty())
        return;
    std::vector<char> forms;
    for (const SortKey& k : keys)
        forms.push_back(keyForm(k));
    // the keys of every row, one row after the other, made in file order
    // where there is one table
    std::string arena;
    std::vector<size_t> at(rows_.size());
    std::vector<uint32_t> len(rows_.size());
    std::vector<uint32_t> perm(rows_.size());
    for (uint32_t i = 0; i < perm.size(); ++i)
        perm[i] = i;
    auto byRecord = [&](uint32_t x, uint32_t y) { return rows_[x].rec[0] < rows_[y].rec[0]; };
    if (tabs_.size() == 1 && !std::is_sorted(perm.begin(), perm.end(), byRecord))
        std::sort(perm.begin(), perm.end(), byRecord);
    for (size_t j = 0; j < perm.size(); ++j) {
        if (tabs_.size() == 1 && j + kAhead < perm.size())
            prefetchRec(tabs_[0], 0, rows_[perm[j + kAhead]].rec[0]);
        const uint32_t i = perm[j];
        at[i] = arena.size();
        for (size_t k = 0; k < keys.size(); ++k)
            appendKey(arena, keys[k], forms[k], rows_[i]);
        len[i] = static_cast<uint32_t>(arena.size() - at[i]);
    }
    std::vector<uint32_t>().swap(perm);
    // Compares keys `from`.. of two rows' keys; 0 when they agree.
    auto compareAt = [&](const char* p, const char* q, size_t from, size_t to) {
        for (size_t k = 0; k < to; ++k) {
            const uint32_t n = getLength(p), m = getLength(q);
            const std::string_view a(p, n == kNull ? 0 : n), b(q, m == kNull ? 0 : m);
            p += a.size();
            q += b.size();
            if (k < from)
                continue;
            int c;
            if (n == kNull || m == kNull)
                c = n == kNull ? (m == kNull ? 0 : -1) : 1;
            else if (forms[k] != 'B')
                c = compareText(
                    QStringView(reinterpret_cast<const char16_t*>(a.data()), static_cast<qsizetype>(a.size() / 2)),
                    QStringView(reinterpret_cast<const char16_t*>(b.data()), static_cast<qsizetype>(b.size() / 2)));
            else
                c = a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
            if (keys[k].descending)
                c = -c;
            if (c != 0)
                return c;
        }
        return 0;
    };
    auto compare = [&](uint32_t x, uint32_t y, size_t from, size_t to) {
        return compareAt(arena.data() + at[x], arena.data() + at[y], from, to);
    };
    std::vector<uint32_t> order(rows_.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto less = [&](size_t from) {
        return [&, from](uint32_t x, uint32_t y) {
            const int c = compare(x, y, from, keys.size());
            return c != 0 ? c < 0 : x < y;  // equal keys keep the rows' order
        };
    };
    // Short keys are sorted where they stand, next to their row's number:
    // the sort then reads its memory in order.
    struct Short {
        char key[28];
        uint32_t row;
    };
    bool allShort = !withinFirst;
    for (size_t i = 0; allShort && i < len.size(); ++i)
        allShort = len[i] <= sizeof(Short::key);
    if (allShort) {
        std::vector<Short> shorts(rows_.size());
        for (uint32_t i = 0; i < shorts.size(); ++i) {
            std::memcpy(shorts[i].key, arena.data() + at[i], len[i]);
            shorts[i].row = i;
        }
        std::string().swap(arena);
        std::sort(shorts.begin(), shorts.end(), [&](const Short& a, const Short& b) {
            const int c = compareAt(a.key, b.key, 0, keys.size());
            return c != 0 ? c < 0 : a.row < b.row;
        });
        for (size_t i = 0; i < shorts.size(); ++i)
            order[i] = shorts[i].row;
    } else if (withinFirst) {
        // the rows come ordered on the first key: sort each run of equal
        // first keys on the others
        size_t i = 0;
        while (i < order.size()) {
            size_t j = i + 1;
            while (j < order.size() && compare(order[i], order[j], 0, 1) == 0)
                ++j;
            if (j - i > 1)
                std::sort(order.begin() + static_cast<long>(i), order.begin() + static_cast<long>(j), less(1));
            i = j;
        }
    } else {
        std::sort(order.begin(), order.end(), less(0));
    }
    std::vector<Ctx> sorted;
    sorted.reserve(rows_.size());
    for (uint32_t i : order)
        sorted.push_back(rows_[i]);
    rows_ = std::move(sorted);
    if (!at_.empty()) {  // the rows' bytes go with them
        std::vector<const char*> moved;
        moved.reserve(at_.size());
        for (uint32_t i : order)
            moved.push_back(at_[i]);
        at_ = std::move(moved);
        lastRow_ = SIZE_MAX;
    }
}

}  // namespace kdb::sql
