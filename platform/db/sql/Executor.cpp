// Binding, planning and running of the local SQL statements.
#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "core/DbError.h"
#include "sql/Sql.h"
#include "sql/SqlAst.h"

namespace kdb::sql {

// ---- helpers shared with the datasets --------------------------------------

QString trimRight(const QString& s) {
    int n = s.size();
    while (n > 0 && (s[n - 1] == QLatin1Char(' ') || s[n - 1] == QChar(0))) --n;
    return n == s.size() ? s : s.left(n);
}

namespace {
QDate dateFromParts(const QStringList& parts, int d, int m, int y) {
    bool ok1, ok2, ok3;
    int day = parts[d].toInt(&ok1), month = parts[m].toInt(&ok2), year = parts[y].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || parts[y].size() < 1) return {};
    return QDate(year, month, day);
}
}  // namespace

QDate parseSqlDate(const QString& text) {
    QString t = text.trimmed();
    if (t.contains('-')) {
        QStringList p = t.split('-');
        if (p.size() == 3 && p[0].size() == 4) return dateFromParts(p, 2, 1, 0);
        return {};
    }
    QStringList p = t.split('/');
    if (p.size() != 3) return {};
    return dateFromParts(p, 1, 0, 2);
}

QDate parseDisplayDate(const QString& text) {
    QStringList p = text.trimmed().split('/');
    if (p.size() != 3) return {};
    return dateFromParts(p, 0, 1, 2);
}

// ---- parameters and results ------------------------------------------------

namespace {
std::string upper(const std::string& s) { return QString::fromStdString(s).toUpper().toStdString(); }
}  // namespace

void Params::setText(const std::string& name, const QString& value) { values_[upper(name)] = value; }
void Params::setInteger(const std::string& name, qint64 value) { values_[upper(name)] = value; }
void Params::setDate(const std::string& name, const QDate& value) { values_[upper(name)] = value; }
void Params::set(const std::string& name, const QVariant& value) { values_[upper(name)] = value; }
bool Params::has(const std::string& name) const { return values_.count(upper(name)) > 0; }
QVariant Params::value(const std::string& name) const {
    auto it = values_.find(upper(name));
    return it == values_.end() ? QVariant() : it->second;
}

int ResultSet::columnIndex(const std::string& name) const {
    QString n = QString::fromStdString(name);
    for (size_t i = 0; i < columns.size(); ++i)
        if (QString::fromStdString(columns[i].name).compare(n, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

namespace {

enum class Kind { Text, Number, Date, Bool };

Kind kindOfColumn(const ColumnInfo& c) {
    switch (c.type) {
        case fldDATE: return Kind::Date;
        case fldINT16: case fldINT32: case fldFLOAT: case fldBCD: return Kind::Number;
        case fldBOOL: return Kind::Bool;
        default: return Kind::Text;
    }
}

[[noreturn]] void mismatch(const QVariant& v, const std::string& what) {
    throw EDBEngineError(kSqlTypeMismatch, "Type mismatch in expression: '" +
                                               v.toString().toStdString() + "' for " + what);
}

bool isNumberVariant(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int: case QMetaType::LongLong: case QMetaType::UInt:
        case QMetaType::ULongLong: case QMetaType::Double: case QMetaType::Float:
            return true;
        default: return false;
    }
}

QString displayText(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QDate) return v.toDate().toString("dd/MM/yyyy");
    if (v.typeId() == QMetaType::Double) {
        double d = v.toDouble();
        if (d == static_cast<double>(static_cast<qint64>(d))) return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 15);
    }
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? "T" : "F";
    return v.toString();
}

// Normalises a value for comparison in the given kind; throws on a value
// that cannot be read in that kind.
QVariant coerce(const QVariant& v, Kind k, const std::string& what) {
    if (v.isNull()) return {};
    switch (k) {
        case Kind::Text:
            if (v.typeId() == QMetaType::QString) {
                const QString s = v.toString();
                return s.isEmpty() || s.back() != QLatin1Char(' ') ? v : QVariant(trimRight(s));
            }
            return trimRight(displayText(v));
        case Kind::Date: {
            if (v.typeId() == QMetaType::QDate) return v;
            if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date();
            QString t = v.toString().trimmed();
            if (t.isEmpty()) return {};
            QDate d = parseSqlDate(t);
            if (!d.isValid()) mismatch(v, what);
            return d;
        }
        case Kind::Number: {
            if (isNumberVariant(v)) return v.toDouble();
            QString t = v.toString().trimmed();
            if (t.isEmpty()) return {};
            bool ok = false;
            double d = t.toDouble(&ok);
            if (!ok) mismatch(v, what);
            return d;
        }
        case Kind::Bool: {
            if (v.typeId() == QMetaType::Bool) return v;
            QString t = v.toString().trimmed().toUpper();
            if (t.isEmpty()) return {};
            if (t == "T" || t == "TRUE" || t == "Y" || t == "1") return true;
            if (t == "F" || t == "FALSE" || t == "N" || t == "0") return false;
            mismatch(v, what);
        }
    }
    return {};
}

// Orders two normalised values of one kind; a null sorts first.
int compareValues(const QVariant& a, const QVariant& b, Kind k) {
    if (a.isNull() || b.isNull()) return a.isNull() ? (b.isNull() ? 0 : -1) : 1;
    switch (k) {
        case Kind::Text: {
            int c = QString::compare(a.toString(), b.toString(), Qt::CaseSensitive);
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case Kind::Date: {
            QDate x = a.toDate(), y = b.toDate();
            return x < y ? -1 : (y < x ? 1 : 0);
        }
        case Kind::Number: {
            double x = a.toDouble(), y = b.toDouble();
            return x < y ? -1 : (y < x ? 1 : 0);
        }
        case Kind::Bool: return static_cast<int>(a.toBool()) - static_cast<int>(b.toBool());
    }
    return 0;
}

Kind kindOfVariant(const QVariant& v) {
    if (v.typeId() == QMetaType::QDate) return Kind::Date;
    if (isNumberVariant(v)) return Kind::Number;
    if (v.typeId() == QMetaType::Bool) return Kind::Bool;
    return Kind::Text;
}

bool likeMatch(const QString& s, const QString& p) {
    int si = 0, pi = 0, star = -1, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '_' || (p[pi] != '%' && p[pi] == s[si]))) {
            ++si; ++pi;
        } else if (pi < p.size() && p[pi] == '%') {
            star = pi++;
            mark = si;
        } else if (star >= 0) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%') ++pi;
    return pi == p.size();
}

QString likePrefix(const QString& pattern) {
    int i = 0;
    while (i < pattern.size() && pattern[i] != '%' && pattern[i] != '_') ++i;
    return pattern.left(i);
}

struct Ctx {
    uint32_t rec[2] = {0, 0};
};

struct Side {
    const Expr* expr = nullptr;
    bool constant = false;
    QVariant value;  // normalised constant
};

struct Compiled {
    Side lhs, rhs;
    CmpOp op = CmpOp::Eq;
    Kind kind = Kind::Text;
    unsigned mask = 0;  // tables the condition reads
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

    ExecResult run(bool planOnly) {
        planOnly_ = planOnly;
        openTables();
        ExecResult r;
        switch (st_.kind) {
            case Statement::Select: r.isSelect = true; select(r); break;
            case Statement::Insert: insert(r); break;
            case Statement::Update: update(r); break;
            case Statement::Delete: remove(r); break;
        }
        r.plan = plan_;
        return r;
    }

private:
    // ---- tables and names --------------------------------------------------
    void openTables() {
        for (const TableRef& t : st_.tables) {
            OpenMode mode;
            mode.readOnly = st_.kind == Statement::Select;
            src_.push_back(catalog_.open(dir_, t.name, mode));
            names_.push_back(Catalog::baseName(t.name));
            aliases_.push_back(t.alias);
            RowCache rc;
            rc.values.resize(src_.back()->columns().size());
            rc.have.assign(src_.back()->columns().size(), 0);
            cache_.push_back(std::move(rc));
        }
    }

    const ColumnInfo& column(int table, int field) const {
        return src_[static_cast<size_t>(table)]->columns()[static_cast<size_t>(field)];
    }

    int tableOfQualifier(const std::string& q) const {
        for (size_t i = 0; i < names_.size(); ++i)
            if (aliases_[i] == q || (aliases_[i].empty() && names_[i] == Catalog::baseName(q)) ||
                names_[i] == q)
                return static_cast<int>(i);
        throw EDBEngineError(kSqlUnknownField, "Unknown table or alias: " + q);
    }

    void bind(Expr& e) {
        switch (e.kind) {
            case Expr::Column: {
                if (!e.qualifier.empty()) {
                    e.table = tableOfQualifier(e.qualifier);
                    e.field = src_[static_cast<size_t>(e.table)]->fieldIndex(e.name);
                    if (e.field < 0)
                        throw EDBEngineError(kSqlUnknownField, "Invalid field name: " + e.text);
                    return;
                }
                for (size_t i = 0; i < src_.size(); ++i) {
                    int f = src_[i]->fieldIndex(e.name);
                    if (f < 0) continue;
                    if (e.table >= 0)
                        throw EDBEngineError(kSqlAmbiguous, "Ambiguous field name: " + e.name);
                    e.table = static_cast<int>(i);
                    e.field = f;
                }
                if (e.table < 0) throw EDBEngineError(kSqlUnknownField, "Invalid field name: " + e.name);
                return;
            }
            case Expr::Concat:
            case Expr::Max:
                for (Expr& p : e.parts) bind(p);
                return;
            case Expr::Param:
                if (!params_.has(e.name))
                    throw EDBEngineError(kSqlNoParamValue, "No value for parameter: " + e.name);
                return;
            case Expr::Literal: return;
        }
    }

    Kind kindOf(const Expr& e) const {
        switch (e.kind) {
            case Expr::Column: return kindOfColumn(column(e.table, e.field));
            case Expr::Max: return kindOf(e.parts[0]);
            case Expr::Param: return kindOfVariant(params_.value(e.name));
            case Expr::Literal: return e.literalIsText ? Kind::Text : Kind::Number;
            case Expr::Concat: return Kind::Text;
        }
        return Kind::Text;
    }

    static bool hasColumn(const Expr& e) {
        if (e.kind == Expr::Column) return true;
        for (const Expr& p : e.parts) if (hasColumn(p)) return true;
        return false;
    }

    QVariant eval(const Expr& e, const Ctx& c) {
        switch (e.kind) {
            case Expr::Column: return columnValue(e.table, e.field, c.rec[e.table]);
            case Expr::Literal: return e.literal;
            case Expr::Param: return params_.value(e.name);
            case Expr::Concat: {
                QString s;
                for (const Expr& p : e.parts) s += displayText(eval(p, c));
                return s;
            }
            case Expr::Max: return {};
        }
        return {};
    }

    // Values of the record last read, per table: a row's condition and its
    // output read each field once.
    struct RowCache {
        uint32_t rec = 0;
        std::vector<QVariant> values;
        std::vector<char> have;
    };
    QVariant columnValue(int table, int field, uint32_t rec) {
        RowCache& rc = cache_[static_cast<size_t>(table)];
        if (rc.rec != rec) {
            rc.rec = rec;
            std::fill(rc.have.begin(), rc.have.end(), 0);
        }
        size_t f = static_cast<size_t>(field);
        if (!rc.have[f]) {
            rc.values[f] = src_[static_cast<size_t>(table)]->value(rec, field);
            rc.have[f] = 1;
        }
        return rc.values[f];
    }
    // Forgets what was read (after a write).
    void dropCache() {
        for (RowCache& rc : cache_) rc.rec = 0;
    }

    // ---- conditions --------------------------------------------------------
    void compile() {
        for (Condition& c : st_.where) {
            bind(c.lhs);
            bind(c.rhs);
            Compiled k;
            k.op = c.op;
            k.lhs.expr = &c.lhs;
            k.rhs.expr = &c.rhs;
            // the kind of a column side wins; two columns compare as the left one
            if (c.lhs.kind == Expr::Column) k.kind = kindOf(c.lhs);
            else if (c.rhs.kind == Expr::Column) k.kind = kindOf(c.rhs);
            else k.kind = hasColumn(c.lhs) || hasColumn(c.rhs) ? Kind::Text : kindOf(c.lhs);
            if (k.op == CmpOp::Like) k.kind = Kind::Text;
            std::string what = c.lhs.kind == Expr::Column ? c.lhs.name
                               : c.rhs.kind == Expr::Column ? c.rhs.name : "comparison";
            for (Side* s : {&k.lhs, &k.rhs}) {
                if (!hasColumn(*s->expr)) {
                    s->constant = true;
                    s->value = coerce(eval(*s->expr, Ctx{}), k.kind, what);
                }
            }
            conds_.push_back(std::move(k));
            conds_.back().mask = maskOf(conds_.back());
        }
    }

    bool test(const Compiled& k, const Ctx& c) {
        QVariant a = k.lhs.constant ? k.lhs.value : coerce(eval(*k.lhs.expr, c), k.kind, "");
        QVariant b = k.rhs.constant ? k.rhs.value : coerce(eval(*k.rhs.expr, c), k.kind, "");
        if (k.op == CmpOp::Like) return !a.isNull() && !b.isNull() && likeMatch(a.toString(), b.toString());
        if (a.isNull() || b.isNull()) return false;
        int r = compareValues(a, b, k.kind);
        switch (k.op) {
            case CmpOp::Eq: return r == 0;
            case CmpOp::Ne: return r != 0;
            case CmpOp::Lt: return r < 0;
            case CmpOp::Le: return r <= 0;
            case CmpOp::Gt: return r > 0;
            case CmpOp::Ge: return r >= 0;
            case CmpOp::Like: break;
        }
        return false;
    }

    // Tables a condition reads.
    static void tablesOf(const Expr& e, unsigned& mask) {
        if (e.kind == Expr::Column) mask |= 1u << e.table;
        for (const Expr& p : e.parts) tablesOf(p, mask);
    }
    unsigned maskOf(const Compiled& k) const {
        unsigned m = 0;
        tablesOf(*k.lhs.expr, m);
        tablesOf(*k.rhs.expr, m);
        return m;
    }

    bool passes(const Ctx& c, unsigned available) {
        for (const Compiled& k : conds_) {
            unsigned m = k.mask;
            if ((m & available) != m) continue;
            if (!test(k, c)) return false;
        }
        return true;
    }

    // ---- access paths ------------------------------------------------------
    // A column side of this table against a constant side.
    static bool columnVsConst(const Compiled& k, int table, const Side*& col, const Side*& cst) {
        if (k.lhs.expr->kind == Expr::Column && k.lhs.expr->table == table && k.rhs.constant) {
            col = &k.lhs; cst = &k.rhs; return true;
        }
        if (k.rhs.expr->kind == Expr::Column && k.rhs.expr->table == table && k.lhs.constant &&
            k.op != CmpOp::Like) {
            col = &k.rhs; cst = &k.lhs; return true;
        }
        return false;
    }

    Access chooseAccess(int table, const Expr* orderFirst) {
        Source& s = *src_[static_cast<size_t>(table)];
        const auto tags = s.tags();
        Access best;
        bool otherEquality = false;
        for (const Compiled& k : conds_) {
            const Side* col = nullptr;
            const Side* cst = nullptr;
            if (!columnVsConst(k, table, col, cst)) continue;
            int tag = s.tagOnField(col->expr->field);
            if (k.op == CmpOp::Eq) {
                if (tag < 0) { otherEquality = true; continue; }
                if (cst->value.isNull()) continue;
                bool better = best.type != Access::Eq ||
                              (tags[static_cast<size_t>(tag)].unique && !tags[static_cast<size_t>(best.tag)].unique);
                if (better) { best.type = Access::Eq; best.tag = tag; best.key = cst->value; }
            } else if (k.op == CmpOp::Like && tag >= 0 && best.type == Access::Scan &&
                       kindOfColumn(s.columns()[static_cast<size_t>(col->expr->field)]) == Kind::Text &&
                       !cst->value.isNull()) {
                QString p = likePrefix(cst->value.toString());
                if (!p.isEmpty()) { best.type = Access::Prefix; best.tag = tag; best.prefix = p; }
            }
        }
        if (best.type == Access::Scan && orderFirst && orderFirst->table == table && !otherEquality) {
            int tag = s.tagOnField(orderFirst->field);
            if (tag >= 0) { best.type = Access::Order; best.tag = tag; }
        }
        return best;
    }

    std::string describe(int table, const Access& a) const {
        const Source& s = *src_[static_cast<size_t>(table)];
        std::string tag = a.tag >= 0 ? s.tags()[static_cast<size_t>(a.tag)].name : "";
        switch (a.type) {
            case Access::Scan: return "scan";
            case Access::Eq: return "seek tag " + tag + " = '" + displayText(a.key).toStdString() + "'";
            case Access::Prefix: return "seek tag " + tag + " prefix '" + a.prefix.toStdString() + "'";
            case Access::Order: return "read tag " + tag + " in order";
        }
        return {};
    }

    // The key just above every key that equals `key` (or starts with it, for
    // a prefix): where a tag walk for that key stops. Null when there is none.
    // A character key stands for itself padded with blanks to the column's
    // width, so the key above it is that padded key with its last blank
    // raised to "!"; a key that fills the width has none.
    static QVariant successor(const QVariant& key, Kind kind, bool prefix, int width) {
        if (kind == Kind::Date && !prefix) return key.toDate().addDays(1);
        if (kind != Kind::Text) return {};
        QString k = key.toString();
        if (!prefix) {
            if (width <= 0 || k.size() >= width) return {};
            return k + QString(width - k.size() - 1, QLatin1Char(' ')) + QLatin1Char('!');
        }
        while (!k.isEmpty() && k.back().unicode() == 0xFFFF) k.chop(1);
        if (k.isEmpty()) return {};
        k.back() = QChar(k.back().unicode() + 1);
        return k;
    }

    // Record numbers an access path yields, in its order, read from the tag
    // alone where the walk's end can be found by a second seek.
    std::vector<uint32_t> candidates(int table, const Access& a) {
        Source& s = *src_[static_cast<size_t>(table)];
        std::vector<uint32_t> out;
        if (a.type == Access::Scan) {
            uint32_t n = s.recordCount();
            out.reserve(n);
            for (uint32_t r = 1; r <= n; ++r) out.push_back(r);
            return out;
        }
        const TagInfo tag = s.tags()[static_cast<size_t>(a.tag)];
        auto it = s.openTag(a.tag);
        if (a.type == Access::Order) {
            for (bool ok = it->first(); ok; ok = it->next()) out.push_back(it->recNo());
            return out;
        }
        Kind kind = kindOfColumn(s.columns()[static_cast<size_t>(tag.field)]);
        if (a.type == Access::Eq && tag.unique) {
            if (it->seekExact(a.key)) out.push_back(it->recNo());
            return out;
        }
        const QVariant start = a.type == Access::Eq ? a.key : QVariant(a.prefix);
        const QVariant end = successor(start, kind, a.type == Access::Prefix,
                                       s.columns()[static_cast<size_t>(tag.field)].width);
        if (!end.isNull()) {
            uint32_t endRec = 0;
            auto bound = s.openTag(a.tag);
            if (bound->seek(end)) endRec = bound->recNo();
            for (bool ok = it->seek(start); ok && it->recNo() != endRec; ok = it->next())
                out.push_back(it->recNo());
            return out;
        }
        for (bool ok = it->seek(start); ok; ok = it->next()) {  // compare every key read
            QVariant k = coerce(it->key(), kind, "");
            bool in = a.type == Access::Eq ? compareValues(k, a.key, kind) == 0
                                           : k.toString().startsWith(a.prefix);
            if (!in) break;
            out.push_back(it->recNo());
        }
        return out;
    }

    // The live records of an access path that `keep` accepts, in the path's
    // order; the records are read in file order.
    std::vector<uint32_t> iterate(int table, const Access& a, const std::function<bool(uint32_t)>& keep) {
        Source& s = *src_[static_cast<size_t>(table)];
        std::vector<uint32_t> recs = candidates(table, a);
        std::vector<char> ok(recs.size(), 0);
        std::vector<size_t> perm(recs.size());
        for (size_t i = 0; i < perm.size(); ++i) perm[i] = i;
        if (a.type != Access::Scan)
            std::sort(perm.begin(), perm.end(), [&](size_t x, size_t y) { return recs[x] < recs[y]; });
        for (size_t i : perm) ok[i] = !s.isDeleted(recs[i]) && keep(recs[i]);
        std::vector<uint32_t> out;
        for (size_t i = 0; i < recs.size(); ++i)
            if (ok[i]) out.push_back(recs[i]);
        return out;
    }

    // Rows of the FROM clause that pass the WHERE clause, in access order;
    // sets orderedOn when they come ordered by the first ORDER BY column.
    std::vector<Ctx> gather(const Expr* orderFirst, bool& orderedOn) {
        orderedOn = false;
        std::vector<Ctx> rows;
        if (src_.size() == 1) {
            Access a = chooseAccess(0, orderFirst);
            plan_ = names_[0] + ": " + describe(0, a);
            orderedOn = a.type == Access::Order || (orderFirst && a.type != Access::Scan &&
                                                    a.tag == src_[0]->tagOnField(orderFirst->field) &&
                                                    orderFirst->table == 0);
            if (planOnly_) return rows;
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
            if (tl == tr) continue;
            for (int cand : {tr, tl}) {
                const Expr* e = cand == tl ? k.lhs.expr : k.rhs.expr;
                int tag = src_[static_cast<size_t>(cand)]->tagOnField(e->field);
                if (tag >= 0 && (innerTag < 0 || src_[static_cast<size_t>(cand)]->tags()[static_cast<size_t>(tag)].unique)) {
                    join = &k; inner = cand; outer = 1 - cand; innerTag = tag;
                }
            }
            if (!join) join = &k;
        }
        Access oa = chooseAccess(outer, orderFirst);
        orderedOn = orderFirst && orderFirst->table == outer &&
                    (oa.type == Access::Order ||
                     (oa.type != Access::Scan && oa.tag == src_[static_cast<size_t>(outer)]->tagOnField(orderFirst->field)));
        const Expr* outerCol = nullptr;
        const Expr* innerCol = nullptr;
        if (join) {
            outerCol = join->lhs.expr->table == outer ? join->lhs.expr : join->rhs.expr;
            innerCol = join->lhs.expr->table == inner ? join->lhs.expr : join->rhs.expr;
        }
        Kind innerKind = innerCol ? kindOfColumn(column(inner, innerCol->field)) : Kind::Text;
        std::string innerDesc;
        if (join && innerTag >= 0)
            innerDesc = "seek tag " + src_[static_cast<size_t>(inner)]->tags()[static_cast<size_t>(innerTag)].name +
                        " per row of " + names_[static_cast<size_t>(outer)];
        else if (join)
            innerDesc = "hash join with " + names_[static_cast<size_t>(outer)];
        else
            innerDesc = "scan per row of " + names_[static_cast<size_t>(outer)];
        plan_ = names_[static_cast<size_t>(outer)] + ": " + describe(outer, oa) + "\n" +
                names_[static_cast<size_t>(inner)] + ": " + innerDesc;
        if (planOnly_) return rows;

        const unsigned outerMask = 1u << outer;
        // inner rows that pass their own conditions, for the hash join or the plain loop
        std::vector<uint32_t> innerRows;
        std::unordered_multimap<QString, uint32_t> hash;
        if (innerTag < 0) {
            Access all;
            iterate(inner, all, [&](uint32_t r) {
                Ctx c;
                c.rec[inner] = r;
                if (!passes(c, 1u << inner)) return false;
                if (join) hash.emplace(coerce(eval(*innerCol, c), innerKind, "").toString(), r);
                else innerRows.push_back(r);
                return true;
            });
        }
        std::unique_ptr<TagIterator> it;
        bool innerUnique = false;
        if (innerTag >= 0) {
            it = src_[static_cast<size_t>(inner)]->openTag(innerTag);
            innerUnique = src_[static_cast<size_t>(inner)]->tags()[static_cast<size_t>(innerTag)].unique;
        }
        Source& in = *src_[static_cast<size_t>(inner)];
        std::vector<uint32_t> outerRecs = iterate(outer, oa, [&](uint32_t r) {
            Ctx c;
            c.rec[outer] = r;
            return passes(c, outerMask);
        });
        for (uint32_t r : outerRecs) {
            Ctx c;
            c.rec[outer] = r;
            auto addPair = [&](uint32_t ir) {
                c.rec[inner] = ir;
                if (passes(c, 3u)) rows.push_back(c);
            };
            if (!join) {
                for (uint32_t ir : innerRows) addPair(ir);
                continue;
            }
            QVariant key = coerce(eval(*outerCol, c), innerKind, "");
            if (key.isNull()) continue;
            if (innerTag >= 0) {
                if (!it->seekExact(key)) continue;
                if (!in.isDeleted(it->recNo())) addPair(it->recNo());
                if (innerUnique) continue;  // one entry per key
                while (it->next() && compareValues(coerce(it->key(), innerKind, ""), key, innerKind) == 0)
                    if (!in.isDeleted(it->recNo())) addPair(it->recNo());
            } else {
                auto range = hash.equal_range(key.toString());
                std::vector<uint32_t> matches;
                for (auto m = range.first; m != range.second; ++m) matches.push_back(m->second);
                std::sort(matches.begin(), matches.end());
                for (uint32_t ir : matches) addPair(ir);
            }
        }
        return rows;
    }

    // ---- SELECT ------------------------------------------------------------
    void select(ExecResult& out) {
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
            throw EDBEngineError(kSqlSyntax, "Invalid SQL syntax: MAX cannot be mixed with plain columns");
        for (OrderItem& o : st_.orderBy) bind(o.column);

        if (maxCount > 0) {
            selectMax(out, items.size());
            return;
        }

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
        result.reserve(rows.size());
        std::vector<Kind> orderKinds;
        for (const OrderItem& o : order) orderKinds.push_back(kindOf(o.column));
        // values are read in file order, then kept in the rows' order
        std::vector<Row> all(rows.size());
        {
            std::vector<size_t> perm(rows.size());
            for (size_t i = 0; i < perm.size(); ++i) perm[i] = i;
            if (src_.size() == 1)
                std::sort(perm.begin(), perm.end(), [&](size_t x, size_t y) { return rows[x].rec[0] < rows[y].rec[0]; });
            for (size_t i : perm) {
                Row& row = all[i];
                row.values.reserve(items.size());
                for (const Item& it : items) row.values.push_back(eval(*it.expr, rows[i]));
                for (const OrderItem& o : order) row.keys.push_back(eval(o.column, rows[i]));
            }
        }
        std::unordered_set<QString> seen;
        for (Row& row : all) {
            if (st_.distinct) {
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
                        int c = compareValues(a.keys[i], b.keys[i], orderKinds[i]);
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
                           compareValues(result[i].keys[0], result[j].keys[0], orderKinds[0]) == 0)
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

    void addColumn(ResultSet& rs, const Expr& e, const std::string& alias) {
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

    void selectMax(ExecResult& out, size_t count) {
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

    // ---- writes ------------------------------------------------------------
    QVariant forColumn(const QVariant& v, const ColumnInfo& ci) {
        if (v.isNull()) return {};
        switch (ci.type) {
            case fldBLOB: return displayText(v);
            case fldZSTRING: {
                QString t = trimRight(displayText(v));
                return ci.width > 0 && t.size() > ci.width ? t.left(ci.width) : t;
            }
            case fldDATE: return coerce(v, Kind::Date, ci.name);
            case fldINT16: case fldINT32: {
                QVariant n = coerce(v, Kind::Number, ci.name);
                if (n.isNull()) return {};
                double d = n.toDouble();
                double lim = ci.type == fldINT16 ? 32767.0 : 2147483647.0;
                if (d != static_cast<double>(static_cast<qint64>(d)) || d > lim || d < -lim - 1) mismatch(v, ci.name);
                return static_cast<int>(d);
            }
            case fldFLOAT: case fldBCD: {
                QVariant n = coerce(v, Kind::Number, ci.name);
                if (n.isNull()) return {};
                double d = n.toDouble();
                if (ci.decimals == 0 && d == static_cast<double>(static_cast<qint64>(d)) && std::abs(d) < 2e9)
                    return static_cast<int>(d);
                return d;
            }
            case fldBOOL: return coerce(v, Kind::Bool, ci.name);
            default: return v;
        }
    }

    void insert(ExecResult& out) {
        Source& s = *src_[0];
        std::vector<QVariant> values(s.columns().size());
        for (size_t i = 0; i < st_.insertColumns.size(); ++i) {
            int f = s.fieldIndex(st_.insertColumns[i]);
            if (f < 0) throw EDBEngineError(kSqlUnknownField, "Invalid field name: " + st_.insertColumns[i]);
            Expr& e = st_.insertValues[i];
            bind(e);
            if (hasColumn(e))
                throw EDBEngineError(kSqlSyntax, "Invalid SQL syntax: a column name in VALUES near '" + e.text + "'");
            values[static_cast<size_t>(f)] = forColumn(eval(e, Ctx{}), s.columns()[static_cast<size_t>(f)]);
        }
        plan_ = names_[0] + ": append";
        if (planOnly_) return;
        s.append(values);
        s.flush();
        out.rowsAffected = 1;
    }

    std::vector<uint32_t> matching() {
        compile();
        bool ordered = false;
        std::vector<Ctx> rows = gather(nullptr, ordered);
        std::vector<uint32_t> recs;
        recs.reserve(rows.size());
        for (const Ctx& c : rows) recs.push_back(c.rec[0]);
        return recs;
    }

    void update(ExecResult& out) {
        Source& s = *src_[0];
        std::vector<int> fields;
        for (Assignment& a : st_.assignments) {
            int f = s.fieldIndex(a.column);
            if (f < 0) throw EDBEngineError(kSqlUnknownField, "Invalid field name: " + a.column);
            bind(a.value);
            fields.push_back(f);
        }
        std::vector<uint32_t> recs = matching();
        if (planOnly_) return;
        for (uint32_t r : recs) {
            Ctx c;
            c.rec[0] = r;
            std::vector<std::pair<int, QVariant>> changes;
            for (size_t i = 0; i < fields.size(); ++i)
                changes.emplace_back(fields[i], forColumn(eval(st_.assignments[i].value, c),
                                                          s.columns()[static_cast<size_t>(fields[i])]));
            s.update(r, changes);
        }
        if (!recs.empty()) s.flush();
        out.rowsAffected = static_cast<int>(recs.size());
    }

    void remove(ExecResult& out) {
        Source& s = *src_[0];
        std::vector<uint32_t> recs = matching();
        if (planOnly_) return;
        for (uint32_t r : recs) s.remove(r);
        if (!recs.empty()) s.flush();
        out.rowsAffected = static_cast<int>(recs.size());
    }

    std::string dir_;
    const Params& params_;
    const Catalog& catalog_;
    Statement st_;
    bool planOnly_ = false;
    std::vector<std::shared_ptr<Source>> src_;
    std::vector<std::string> names_, aliases_;
    std::vector<Compiled> conds_;
    std::vector<RowCache> cache_;
    std::string plan_;
};

}  // namespace

ExecResult execute(const std::string& directory, const std::string& sqlText, const Params& params,
                   const Catalog& catalog) {
    Executor ex(directory, sqlText, params, catalog);
    return ex.run(false);
}

std::string explain(const std::string& directory, const std::string& sqlText, const Params& params,
                    const Catalog& catalog) {
    Executor ex(directory, sqlText, params, catalog);
    return ex.run(true).plan;
}

}  // namespace kdb::sql
