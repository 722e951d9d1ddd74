// Binding and conditions of the local SQL statements, and their entry points.
#include "platform/db/sql/Executor.h"

#include <algorithm>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/DbError.h"
#include "platform/db/sql/RawBytes.h"

namespace kdb::sql {

ExecResult Executor::run(bool planOnly)
{
    ExecResult r;
    if (isSelect()) {
        openSelect(planOnly);
        r.isSelect = true;
        if (!planOnly)
            materialise(r.result);
        r.plan = plan_;
        return r;
    }
    planOnly_ = planOnly;
    openTables();
    switch (st_.kind) {
    case Statement::Select:
        break;
    case Statement::Insert:
        insert(r);
        break;
    case Statement::Update:
        update(r);
        break;
    case Statement::Delete:
        remove(r);
        break;
    }
    r.plan = plan_;
    return r;
}

// ---- tables and names --------------------------------------------------
StmtTable::StmtTable(std::shared_ptr<Table> t) : table(std::move(t))
{
    tags = table->tags();
    tagField.reserve(tags.size());
    for (const TagInfo& tag : tags)
        tagField.push_back(table->tagField(tag));
    rawKind.reserve(static_cast<size_t>(table->fieldCount()));
    for (int f = 0; f < table->fieldCount(); ++f)
        rawKind.push_back(table->rawKind(f));
    rawRecords = table->hasDbfLayout();
}

int StmtTable::tagOnField(int field) const
{
    int found = -1;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (tagField[i] != field || tags[i].descending)
            continue;
        if (found < 0 || (tags[i].unique && !tags[static_cast<size_t>(found)].unique))
            found = static_cast<int>(i);
    }
    return found;
}

Executor::~Executor()
{
    for (StmtTable& s : tabs_)
        if (s.releasing)
            s.table->releaseBehindReads(false);
}

void Executor::openTables()
{
    tabs_.reserve(tabs_.size() + st_.tables.size());
    cache_.reserve(cache_.size() + st_.tables.size());
    for (const TableRef& t : st_.tables) {
        TableOpenMode mode;
        mode.readOnly = mode.readsOnly = st_.kind == Statement::Select;
        StmtTable& s = tabs_.emplace_back(db_.openTable(t.name, mode));
        s.name = Database::baseName(t.name);
        s.alias = t.alias;
        RowCache rc;
        rc.values.resize(s.fieldCount());
        rc.have.assign(s.fieldCount(), 0);
        cache_.push_back(std::move(rc));
    }
}

const FieldInfo& Executor::column(int table, int field) const
{
    return tabs_[static_cast<size_t>(table)].field(field);
}

int Executor::tableOfQualifier(const std::string& q) const
{
    for (size_t i = 0; i < tabs_.size(); ++i)
        if (tabs_[i].alias == q || (tabs_[i].alias.empty() && tabs_[i].name == Database::baseName(q)) ||
            tabs_[i].name == q)
            return static_cast<int>(i);
    throw EDBEngineError::unknownTableAlias(q);
}

void Executor::bind(Expr& e)
{
    switch (e.kind) {
    case Expr::Column: {
        if (e.table >= 0 && e.field >= 0)
            return;  // bound already
        if (!e.qualifier.empty()) {
            e.table = tableOfQualifier(e.qualifier);
            e.field = tabs_[static_cast<size_t>(e.table)].table->fieldIndex(e.name);
            if (e.field < 0)
                throw EDBEngineError::unknownField(e.text);
            return;
        }
        for (size_t i = 0; i < tabs_.size(); ++i) {
            int f = tabs_[i].table->fieldIndex(e.name);
            if (f < 0)
                continue;
            if (e.table >= 0)
                throw EDBEngineError::ambiguousField(e.name);
            e.table = static_cast<int>(i);
            e.field = f;
        }
        if (e.table < 0)
            throw EDBEngineError::unknownField(e.name);
        return;
    }
    case Expr::Concat:
    case Expr::Sum: {
        // "+" joins texts or adds numbers; a number and a text (or a date,
        // a logical) have no sum that could be meant: refused.
        bool texts = true, numbers = true;
        for (Expr& p : e.parts) {
            bind(p);
            const Kind k = kindOf(p);
            texts = texts && k == Kind::Text;
            numbers = numbers && k == Kind::Number;
        }
        if (!texts && !numbers)
            throw EDBEngineError::sqlSyntax(
                "'+' joins texts or adds numbers, not values of other kinds, in '" + e.text + "'");
        e.kind = numbers ? Expr::Sum : Expr::Concat;
        return;
    }
    case Expr::Max:
        for (Expr& p : e.parts)
            bind(p);
        return;
    case Expr::Param:
        if (!params_.has(e.name))
            throw EDBEngineError::noParamValue(e.name);
        return;
    case Expr::Literal:
        return;
    }
}

Kind Executor::kindOf(const Expr& e) const
{
    switch (e.kind) {
    case Expr::Column:
        return kindOfColumn(column(e.table, e.field));
    case Expr::Max:
        return kindOf(e.parts[0]);
    case Expr::Param:
        return kindOfVariant(params_.value(e.name));
    case Expr::Literal:
        return e.literalIsText ? Kind::Text : Kind::Number;
    case Expr::Concat:
        return Kind::Text;
    case Expr::Sum:
        return Kind::Number;
    }
    return Kind::Text;
}

bool Executor::hasColumn(const Expr& e)
{
    if (e.kind == Expr::Column)
        return true;
    for (const Expr& p : e.parts)
        if (hasColumn(p))
            return true;
    return false;
}

QVariant Executor::eval(const Expr& e, const Ctx& c)
{
    switch (e.kind) {
    case Expr::Column:
        return columnValue(e.table, e.field, c.rec[e.table]);
    case Expr::Literal:
        return e.literal;
    case Expr::Param:
        return params_.value(e.name);
    case Expr::Concat: {
        QString s;
        for (const Expr& p : e.parts)
            s += displayText(eval(p, c));
        return s;
    }
    case Expr::Sum:
        return sumOf(e, [&](const Expr& p) { return eval(p, c); });
    case Expr::Max: {
        const auto found = maxValues_.find(&e);
        return found == maxValues_.end() ? QVariant() : found->second;
    }
    }
    return {};
}

QVariant Executor::sumOf(const Expr& e, const std::function<QVariant(const Expr&)>& valueOf)
{
    // a blank number has no sum with anything
    double sum = 0;
    for (const Expr& p : e.parts) {
        const QVariant v = coerce(valueOf(p), Kind::Number, e.text);
        if (v.isNull())
            return {};
        sum += v.toDouble();
    }
    return sum;
}

QVariant Executor::columnValue(int table, int field, uint32_t rec)
{
    RowCache& rc = cache_[static_cast<size_t>(table)];
    if (rc.rec != rec) {
        rc.rec = rec;
        std::fill(rc.have.begin(), rc.have.end(), 0);
    }
    size_t f = static_cast<size_t>(field);
    if (!rc.have[f]) {
        StmtTable& s = tabs_[static_cast<size_t>(table)];
        rc.values[f] = s.rawKind[f] == 'C' ? textValue(s, table, field, rec) : s.table->value(rec, field);
        rc.have[f] = 1;
    }
    return rc.values[f];
}

QVariant Executor::textValue(StmtTable& s, int table, int field, uint32_t rec)
{
    return textOf(table, field, rawTrimRight(rawOf(s, rec, field)));
}

QVariant Executor::textOf(int table, int field, std::string_view t)
{
    if (t.empty())
        return {};
    auto& memos = memo_[table];
    if (memos.empty())
        memos.resize(tabs_[static_cast<size_t>(table)].fieldCount());
    TextMemo& m = memos[static_cast<size_t>(field)];
    // a short result repeats few texts: the first ones are made directly
    if (m.off || m.direct < TextMemo::kDirect) {
        ++m.direct;
        return fromCp1252(t);
    }
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
void Executor::dropCache()
{
    for (RowCache& rc : cache_)
        rc.rec = 0;
}

// ---- conditions --------------------------------------------------------
void Executor::compile()
{
    for (Condition& c : st_.where) {
        bind(c.lhs);
        bind(c.rhs);
        Compiled k;
        k.op = c.op;
        k.lhs.expr = &c.lhs;
        k.rhs.expr = &c.rhs;
        // the kind of a column side wins; two columns compare as the left one
        if (c.lhs.kind == Expr::Column)
            k.kind = kindOf(c.lhs);
        else if (c.rhs.kind == Expr::Column)
            k.kind = kindOf(c.rhs);
        else
            k.kind = kindOf(hasColumn(c.lhs) || !hasColumn(c.rhs) ? c.lhs : c.rhs);
        if (k.op == CmpOp::Like)
            k.kind = Kind::Text;
        std::string what = c.lhs.kind == Expr::Column ? c.lhs.name
            : c.rhs.kind == Expr::Column              ? c.rhs.name
                                                      : "comparison";
        for (Side* s : {&k.lhs, &k.rhs}) {
            if (!hasColumn(*s->expr)) {
                s->constant = true;
                const QVariant v = eval(*s->expr, Ctx{});
                // a LIKE pattern keeps its trailing blanks: 'DU %' is not 'DU%'
                s->value = k.op == CmpOp::Like && s == &k.rhs && v.typeId() == QMetaType::QString
                    ? v
                    : coerce(v, k.kind, what);
                s->blank = s->value.isNull() && k.kind != Kind::Text && v.typeId() == QMetaType::QString &&
                    v.toString().trimmed().isEmpty();
            }
        }
        conds_.push_back(std::move(k));
        conds_.back().mask = maskOf(conds_.back());
        prepareRaw(conds_.back());
        if (conds_.back().raw.mode)
            addHot(conds_.back().raw.table, conds_.back().raw.field);
    }
}

// Sets up the test on stored bytes of a column against a constant.
void Executor::prepareRaw(Compiled& k)
{
    const Side* col = nullptr;
    const Side* cst = nullptr;
    CmpOp op = k.op;
    if (k.lhs.expr->kind == Expr::Column && k.rhs.constant) {
        col = &k.lhs;
        cst = &k.rhs;
    } else if (k.rhs.expr->kind == Expr::Column && k.lhs.constant && k.op != CmpOp::Like) {
        col = &k.rhs;
        cst = &k.lhs;
        switch (op) {
        case CmpOp::Lt:
            op = CmpOp::Gt;
            break;
        case CmpOp::Le:
            op = CmpOp::Ge;
            break;
        case CmpOp::Gt:
            op = CmpOp::Lt;
            break;
        case CmpOp::Ge:
            op = CmpOp::Le;
            break;
        default:
            break;
        }
    } else {
        return;
    }
    const int table = col->expr->table, field = col->expr->field;
    const char rk = tabs_[static_cast<size_t>(table)].rawKind[static_cast<size_t>(field)];
    if (cst->blank)
        return;  // against the empty value: tested on values
    RawTest r;
    r.table = table;
    r.field = field;
    r.op = op;
    r.mode = rk;
    if (cst->value.isNull()) {
        r.never = true;  // a comparison with no value is false
    } else if (k.kind == Kind::Text && rk == 'C') {
        if (!toRawText(cst->value.toString(), r.text)) {
            if (op == CmpOp::Eq || op == CmpOp::Like)
                r.never = true;
            else if (op == CmpOp::Ne)
                r.anyValue = true;
            else
                return;  // orders against a character no byte stands for: on values
        }
    } else if (k.kind == Kind::Date && rk == 'D') {
        const QDate d = cst->value.toDate();
        if (!d.isValid() || d.year() < 1000 || d.year() > 9999)
            return;
        r.text = d.toString(QStringLiteral("yyyyMMdd")).toStdString();
    } else if (k.kind == Kind::Number && rk == 'N') {
        r.num = cst->value.toDouble();
    } else {
        return;
    }
    k.raw = std::move(r);
}

// The stored bytes of a field of rawKind() != 0.
std::string_view Executor::rawOf(StmtTable& s, uint32_t rec, int field)
{
    if (s.rawRecords) {
        const FieldInfo& f = s.field(field);
        return std::string_view(s.table->rawRecord(rec) + f.offset, static_cast<size_t>(f.width));
    }
    return s.table->rawField(rec, field);
}

void Executor::addHot(int table, int field)
{
    StmtTable& s = tabs_[static_cast<size_t>(table)];
    if (!s.rawRecords)
        return;
    hot_[table].emplace_back(s.field(field).offset, s.field(field).width);
}

void Executor::prefetchRec(StmtTable& s, int table, uint32_t rec)
{
    if (!s.rawRecords)
        return;
    const char* p = s.table->rawRecord(rec);
    if (!p)
        return;
    __builtin_prefetch(p);
    for (const auto& [off, w] : hot_[table]) {
        __builtin_prefetch(p + off);
        __builtin_prefetch(p + off + w - 1);
    }
}

bool Executor::testRaw(const Compiled& k, const Ctx& c)
{
    const RawTest& r = k.raw;
    if (r.never)
        return false;
    const std::string_view v = rawOf(tabs_[static_cast<size_t>(r.table)], c.rec[r.table], r.field);
    int cmp = 0;
    switch (r.mode) {
    case 'C': {
        if (r.op == CmpOp::Ne && r.text.empty())
            return rawHasText(v);  // COL <> ''
        const std::string_view t = rawTrimRight(v);
        if (t.empty())
            return false;
        if (r.anyValue)
            return true;
        if (r.op == CmpOp::Eq)
            return t == r.text;
        if (r.op == CmpOp::Ne)
            return t != r.text;
        if (r.op == CmpOp::Like)
            return likeMatchRaw(t, r.text);
        cmp = compareRawText(t, r.text);
        break;
    }
    case 'D':
        if (!rawDateValid(v))
            return false;
        cmp = v.compare(r.text);
        break;
    case 'N': {
        double d = 0;
        const int got = rawNumber(v, d);
        if (got < 0)
            return test(k, c);
        if (got == 0)
            return false;
        cmp = d < r.num ? -1 : (d > r.num ? 1 : 0);
        break;
    }
    default:
        return test(k, c);
    }
    switch (r.op) {
    case CmpOp::Eq:
        return cmp == 0;
    case CmpOp::Ne:
        return cmp != 0;
    case CmpOp::Lt:
        return cmp < 0;
    case CmpOp::Le:
        return cmp <= 0;
    case CmpOp::Gt:
        return cmp > 0;
    case CmpOp::Ge:
        return cmp >= 0;
    case CmpOp::Like:
        break;
    }
    return false;
}

bool Executor::test(const Compiled& k, const Ctx& c)
{
    QVariant a = k.lhs.constant ? k.lhs.value : coerce(eval(*k.lhs.expr, c), k.kind, "");
    QVariant b = k.rhs.constant ? k.rhs.value : coerce(eval(*k.rhs.expr, c), k.kind, "");
    if (k.op == CmpOp::Like)
        return !a.isNull() && !b.isNull() && likeMatch(a.toString(), b.toString());
    // A blank value compares with nothing; the empty value of a blank
    // constant is below every other value, as '' is for a text.
    if ((a.isNull() && !k.lhs.blank) || (b.isNull() && !k.rhs.blank))
        return false;
    int r = compareValues(a, b, k.kind);
    switch (k.op) {
    case CmpOp::Eq:
        return r == 0;
    case CmpOp::Ne:
        return r != 0;
    case CmpOp::Lt:
        return r < 0;
    case CmpOp::Le:
        return r <= 0;
    case CmpOp::Gt:
        return r > 0;
    case CmpOp::Ge:
        return r >= 0;
    case CmpOp::Like:
        break;
    }
    return false;
}

// Tables a condition reads.
void Executor::tablesOf(const Expr& e, unsigned& mask)
{
    if (e.kind == Expr::Column)
        mask |= 1u << e.table;
    for (const Expr& p : e.parts)
        tablesOf(p, mask);
}

unsigned Executor::maskOf(const Compiled& k) const
{
    unsigned m = 0;
    tablesOf(*k.lhs.expr, m);
    tablesOf(*k.rhs.expr, m);
    return m;
}

// `met`: a condition the caller made hold already (a join's equality).
bool Executor::passes(const Ctx& c, unsigned available, const Compiled* met)
{
    for (const Compiled& k : conds_) {
        if (&k == met)
            continue;
        unsigned m = k.mask;
        if ((m & available) != m)
            continue;
        if (!(k.raw.mode ? testRaw(k, c) : test(k, c)))
            return false;
    }
    return true;
}

ExecResult execute(Database& db, const std::string& sqlText, const Params& params)
{
    Executor ex(db, sqlText, params);
    return ex.run(false);
}

ExecResult execute(const std::string& directory, const std::string& sqlText, const Params& params)
{
    return execute(Database::of(directory), sqlText, params);
}

std::string explain(Database& db, const std::string& sqlText, const Params& params)
{
    Executor ex(db, sqlText, params);
    return ex.run(true).plan;
}

}  // namespace kdb::sql
