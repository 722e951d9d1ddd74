// Binding, planning and running of the local SQL statements.
#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "core/Codepage.h"
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
    for (size_t i = 0; i < columns.size(); ++i)
        if (sameName(columns[i].name, name)) return static_cast<int>(i);
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
            if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {  // no copies
                int c = QString::compare(*static_cast<const QString*>(a.constData()),
                                         *static_cast<const QString*>(b.constData()), Qt::CaseSensitive);
                return c < 0 ? -1 : (c > 0 ? 1 : 0);
            }
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

// ---- stored bytes ----------------------------------------------------------
// Conditions, DISTINCT and MAX read the stored bytes of the fields where the
// source gives them, with the rules of the values they stand for: a
// character field is its text with trailing blanks ignored (all blanks: no
// value), texts order by their UTF-16 units; a date is "yyyyMMdd" (anything
// else: no date); a number is its ASCII text (blank: no value).

// The UTF-16 unit of each Windows-1252 byte, and the byte of each unit.
struct Cp1252Units {
    std::array<char16_t, 256> unit{};
    std::unordered_map<char16_t, char> byte;
    Cp1252Units() {
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            unit[static_cast<size_t>(b)] = fromCp1252(std::string_view(&c, 1)).at(0).unicode();
            byte[unit[static_cast<size_t>(b)]] = c;
        }
    }
};
const Cp1252Units& cp1252() {
    static const Cp1252Units u;
    return u;
}

// Without its trailing blanks (and NULs); eight bytes at a time, as wide
// character columns are mostly blanks.
std::string_view rawTrimRight(std::string_view s) {
    size_t n = s.size();
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + n - 8, 8);
        if ((w & 0xDFDFDFDFDFDFDFDFull) != 0) break;  // a byte other than ' ' or NUL
        n -= 8;
    }
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return s.substr(0, n);
}

// True when the bytes hold something besides blanks (and NULs).
bool rawHasText(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\0') return true;
    return false;
}

// Text as stored bytes; false when a character has no byte.
bool toRawText(const QString& s, std::string& out) {
    const Cp1252Units& u = cp1252();
    out.clear();
    out.reserve(static_cast<size_t>(s.size()));
    for (const QChar ch : s) {
        const char16_t c = ch.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto it = u.byte.find(c);
        if (it == u.byte.end()) return false;
        out.push_back(it->second);
    }
    return true;
}

// Orders two stored texts as their decoded texts order.
int compareRawText(std::string_view a, std::string_view b) {
    const auto& unit = cp1252().unit;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const char16_t x = unit[static_cast<unsigned char>(a[i])], y = unit[static_cast<unsigned char>(b[i])];
        return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool likeMatchRaw(std::string_view s, std::string_view p) {
    size_t si = 0, pi = 0, mark = 0;
    long star = -1;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '_' || (p[pi] != '%' && p[pi] == s[si]))) {
            ++si; ++pi;
        } else if (pi < p.size() && p[pi] == '%') {
            star = static_cast<long>(pi++);
            mark = si;
        } else if (star >= 0) {
            pi = static_cast<size_t>(star) + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%') ++pi;
    return pi == p.size();
}

bool rawDateValid(std::string_view s) {
    if (s.size() != 8) return false;
    int v[3] = {0, 0, 0};
    const int len[3] = {4, 2, 2};
    size_t pos = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < len[k]; ++i, ++pos) {
            if (s[pos] < '0' || s[pos] > '9') return false;
            v[k] = v[k] * 10 + (s[pos] - '0');
        }
    return QDate::isValid(v[0], v[1], v[2]);
}

// A stored number: 1 with its value, 0 for no value, -1 when its text
// needs the full reading (decimals, exponent, anything unusual).
int rawNumber(std::string_view s, double& out) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
    if (s.empty()) return 0;
    bool neg = false;
    if (s.front() == '-' || s.front() == '+') {
        neg = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 18) return -1;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    out = static_cast<double>(neg ? -v : v);
    return 1;
}

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
            Source& s = *src_[static_cast<size_t>(table)];
            rc.values[f] = s.rawKind(field) == 'C' ? textValue(s, table, field, rec) : s.value(rec, field);
            rc.have[f] = 1;
        }
        return rc.values[f];
    }

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
    QVariant textValue(Source& s, int table, int field, uint32_t rec) {
        const std::string_view t = rawTrimRight(rawOf(s, rec, field));
        if (t.empty()) return {};
        auto& memos = memo_[table];
        if (memos.empty()) memos.resize(s.columns().size());
        TextMemo& m = memos[static_cast<size_t>(field)];
        if (m.off) return fromCp1252(t);
        ++m.lookups;
        if (auto it = m.texts.find(t); it != m.texts.end()) {
            ++m.hits;
            return it->second;
        }
        QVariant v = fromCp1252(t);
        if (m.lookups >= 1024 && m.hits * 4 < m.lookups) {
            m.off = true;
            m.texts.clear();
        } else if (m.texts.size() < 4096) {
            m.texts.emplace(std::string(t), v);
        }
        return v;
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
            prepareRaw(conds_.back());
            if (conds_.back().raw.mode) addHot(conds_.back().raw.table, conds_.back().raw.field);
        }
    }

    // Sets up the test on stored bytes of a column against a constant.
    void prepareRaw(Compiled& k) {
        const Side* col = nullptr;
        const Side* cst = nullptr;
        CmpOp op = k.op;
        if (k.lhs.expr->kind == Expr::Column && k.rhs.constant) {
            col = &k.lhs; cst = &k.rhs;
        } else if (k.rhs.expr->kind == Expr::Column && k.lhs.constant && k.op != CmpOp::Like) {
            col = &k.rhs; cst = &k.lhs;
            switch (op) {
                case CmpOp::Lt: op = CmpOp::Gt; break;
                case CmpOp::Le: op = CmpOp::Ge; break;
                case CmpOp::Gt: op = CmpOp::Lt; break;
                case CmpOp::Ge: op = CmpOp::Le; break;
                default: break;
            }
        } else {
            return;
        }
        const int table = col->expr->table, field = col->expr->field;
        const char rk = src_[static_cast<size_t>(table)]->rawKind(field);
        RawTest r;
        r.table = table;
        r.field = field;
        r.op = op;
        r.mode = rk;
        if (cst->value.isNull()) {
            r.never = true;  // a comparison with no value is false
        } else if (k.kind == Kind::Text && rk == 'C') {
            if (!toRawText(cst->value.toString(), r.text)) {
                if (op == CmpOp::Eq || op == CmpOp::Like) r.never = true;
                else if (op == CmpOp::Ne) r.anyValue = true;
                else return;  // orders against a character no byte stands for: on values
            }
        } else if (k.kind == Kind::Date && rk == 'D') {
            const QDate d = cst->value.toDate();
            if (!d.isValid() || d.year() < 1000 || d.year() > 9999) return;
            r.text = d.toString(QStringLiteral("yyyyMMdd")).toStdString();
        } else if (k.kind == Kind::Number && rk == 'N') {
            r.num = cst->value.toDouble();
        } else {
            return;
        }
        k.raw = std::move(r);
    }

    // The stored bytes of a field of rawKind() != 0.
    std::string_view rawOf(Source& s, uint32_t rec, int field) {
        if (const char* p = s.rawRecord(rec))
            return std::string_view(p + s.rawOffset(field),
                                    static_cast<size_t>(s.columns()[static_cast<size_t>(field)].width));
        return s.rawField(rec, field);
    }

    // Scans fetch the bytes they will read a few records ahead: the records
    // are wide, and the memory is read faster when asked for in advance.
    static constexpr uint32_t kAhead = 16;
    void addHot(int table, int field) {
        Source& s = *src_[static_cast<size_t>(table)];
        const int off = s.rawOffset(field);
        if (off < 0) return;
        hot_[table].emplace_back(off, s.columns()[static_cast<size_t>(field)].width);
    }
    void prefetchRec(Source& s, int table, uint32_t rec) {
        const char* p = s.rawRecord(rec);
        if (!p) return;
        __builtin_prefetch(p);
        for (const auto& [off, w] : hot_[table]) {
            __builtin_prefetch(p + off);
            __builtin_prefetch(p + off + w - 1);
        }
    }

    bool testRaw(const Compiled& k, const Ctx& c) {
        const RawTest& r = k.raw;
        if (r.never) return false;
        Source& s = *src_[static_cast<size_t>(r.table)];
        const std::string_view v = rawOf(s, c.rec[r.table], r.field);
        int cmp = 0;
        switch (r.mode) {
            case 'C': {
                if (r.op == CmpOp::Ne && r.text.empty()) return rawHasText(v);  // COL <> ''
                const std::string_view t = rawTrimRight(v);
                if (t.empty()) return false;
                if (r.anyValue) return true;
                if (r.op == CmpOp::Eq) return t == r.text;
                if (r.op == CmpOp::Ne) return t != r.text;
                if (r.op == CmpOp::Like) return likeMatchRaw(t, r.text);
                cmp = compareRawText(t, r.text);
                break;
            }
            case 'D':
                if (!rawDateValid(v)) return false;
                cmp = v.compare(r.text);
                break;
            case 'N': {
                double d = 0;
                const int got = rawNumber(v, d);
                if (got < 0) return test(k, c);
                if (got == 0) return false;
                cmp = d < r.num ? -1 : (d > r.num ? 1 : 0);
                break;
            }
            default: return test(k, c);
        }
        switch (r.op) {
            case CmpOp::Eq: return cmp == 0;
            case CmpOp::Ne: return cmp != 0;
            case CmpOp::Lt: return cmp < 0;
            case CmpOp::Le: return cmp <= 0;
            case CmpOp::Gt: return cmp > 0;
            case CmpOp::Ge: return cmp >= 0;
            case CmpOp::Like: break;
        }
        return false;
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

    // `met`: a condition the caller made hold already (a join's equality).
    bool passes(const Ctx& c, unsigned available, const Compiled* met = nullptr) {
        for (const Compiled& k : conds_) {
            if (&k == met) continue;
            unsigned m = k.mask;
            if ((m & available) != m) continue;
            if (!(k.raw.mode ? testRaw(k, c) : test(k, c))) return false;
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
            if (it->first())
                it->scanForward([&](uint32_t r, std::string_view) { out.push_back(r); return true; });
            return out;
        }
        Kind kind = kindOfColumn(s.columns()[static_cast<size_t>(tag.field)]);
        if (a.type == Access::Eq && tag.unique) {
            if (it->seekExact(a.key)) out.push_back(it->recNo());
            return out;
        }
        const QVariant start = a.type == Access::Eq ? a.key : QVariant(a.prefix);
        // A character tag holding the field's bytes: the walk stops on the
        // first key that no longer matches.
        std::string rawStart;
        if (s.rawKeysOf(a.tag) && toRawText(start.toString(), rawStart)) {
            const bool prefix = a.type == Access::Prefix;
            if (it->seek(start))
                it->scanForward([&](uint32_t r, std::string_view key) {
                    const std::string_view k = prefix ? key.substr(0, std::min(key.size(), rawStart.size()))
                                                      : rawTrimRight(key);
                    if (k != rawStart) return false;
                    out.push_back(r);
                    return true;
                });
            return out;
        }
        const QVariant end = successor(start, kind, a.type == Access::Prefix,
                                       s.columns()[static_cast<size_t>(tag.field)].width);
        if (!end.isNull()) {
            uint32_t endRec = 0;
            auto bound = s.openTag(a.tag);
            if (bound->seek(end)) endRec = bound->recNo();
            if (it->seek(start))
                it->scanForward([&](uint32_t r, std::string_view) {
                    if (r == endRec) return false;
                    out.push_back(r);
                    return true;
                });
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
        if (a.type == Access::Scan) {  // file order: nothing to sort
            std::vector<uint32_t> out;
            const uint32_t n = s.recordCount();
            const bool raw = n > 0 && s.rawRecord(1) != nullptr;
            for (uint32_t r = 1; r <= n; ++r) {
                if (raw && r + kAhead <= n) prefetchRec(s, table, r + kAhead);
                const bool deleted = raw ? *s.rawRecord(r) == '*' : s.isDeleted(r);
                if (!deleted && keep(r)) out.push_back(r);
            }
            return out;
        }
        std::vector<uint32_t> recs;
        if (a.type == Access::Order) {
            recs = candidates(table, a);  // a long walk: read in batches
        } else {
            // a seek and the short walk after it under one hold of the index
            IndexHold hold(s);
            recs = candidates(table, a);
        }
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
        // Many outer rows against a character tag that holds the inner
        // column's bytes: the tag is read once into a table of keys, each
        // outer row then finds its inner rows there without a seek.
        std::string rawKey;
        bool keyTable = join && innerTag >= 0 && in.rawKeysOf(innerTag) &&
                        uint64_t(outerRecs.size()) * 16 >= uint64_t(in.recordCount());
        std::vector<uint32_t> byKey;  // inner records in tag order
        std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> keyRange;  // key -> [begin, end) in byKey
        if (keyTable) {
            plan_ += " (keys read once)";
            keyRange.reserve(in.recordCount());
            std::pair<uint32_t, uint32_t>* cur = nullptr;
            std::string last;
            if (it->first())
                it->scanForward([&](uint32_t ir, std::string_view key) {
                    const std::string_view k = rawTrimRight(key);
                    if (k.empty()) return true;  // a blank key joins nothing
                    if (!cur || k != last) {
                        last.assign(k);
                        const auto pos = static_cast<uint32_t>(byKey.size());
                        cur = &keyRange.try_emplace(last, pos, pos).first->second;
                        // entries of one key are adjacent in the tag
                        if (cur->second != pos) cur = nullptr;
                    }
                    if (cur) {
                        byKey.push_back(ir);
                        ++cur->second;
                    }
                    return true;
                });
        }
        const char outerRaw = outerCol ? src_[static_cast<size_t>(outer)]->rawKind(outerCol->field) : 0;
        size_t sinceHold = 0;
        bool held = false;
        auto releaseHold = [&] {
            if (held) in.endIndexRead();
            held = false;
        };
        try {
        for (uint32_t r : outerRecs) {
            Ctx c;
            c.rec[outer] = r;
            // the table of keys matches on the whole stored text: the join's
            // equality holds for its pairs; a seek's pairs are checked again
            auto addPair = [&](uint32_t ir) {
                c.rec[inner] = ir;
                if (passes(c, 3u, keyTable ? join : nullptr)) rows.push_back(c);
            };
            if (!join) {
                for (uint32_t ir : innerRows) addPair(ir);
                continue;
            }
            if (keyTable) {
                std::string_view k;
                if (outerRaw == 'C' && innerKind == Kind::Text) {
                    k = rawTrimRight(rawOf(*src_[static_cast<size_t>(outer)], r, outerCol->field));
                } else {
                    QVariant key = coerce(eval(*outerCol, c), innerKind, "");
                    if (key.isNull() || !toRawText(key.toString(), rawKey)) continue;
                    k = rawKey;
                }
                if (k.empty()) continue;
                if (k.data() != rawKey.data()) rawKey.assign(k);
                auto found = keyRange.find(rawKey);
                if (found == keyRange.end()) continue;
                for (uint32_t i = found->second.first; i < found->second.second; ++i)
                    if (!in.isDeleted(byKey[i])) addPair(byKey[i]);
                continue;
            }
            QVariant key = coerce(eval(*outerCol, c), innerKind, "");
            if (key.isNull()) continue;
            if (innerTag >= 0) {
                // the seeks of a batch of outer rows share one hold of the index
                if (!held || ++sinceHold >= 512) {
                    releaseHold();
                    in.beginIndexRead();
                    held = true;
                    sinceHold = 0;
                }
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
        } catch (...) {
            releaseHold();
            throw;
        }
        releaseHold();
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
    std::vector<std::pair<int, int>> hot_[2];  // per table: (offset, width) of the fields scans read
    std::vector<TextMemo> memo_[2];            // per table and field
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
