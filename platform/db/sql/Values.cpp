// Values of the local SQL: parameters, dates, the kinds values compare in.
#include "platform/db/sql/Values.h"

#include <QStringList>

#include "platform/db/core/Collation.h"
#include "platform/db/core/DbError.h"

namespace kdb::sql {

// ---- helpers shared with the datasets --------------------------------------

QString trimRight(const QString& s)
{
    int n = s.size();
    while (n > 0 && (s[n - 1] == QLatin1Char(' ') || s[n - 1] == QChar(0)))
        --n;
    return n == s.size() ? s : s.left(n);
}

namespace {
QDate dateFromParts(const QStringList& parts, int d, int m, int y)
{
    bool ok1, ok2, ok3;
    int day = parts[d].toInt(&ok1), month = parts[m].toInt(&ok2), year = parts[y].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || parts[y].size() < 1)
        return {};
    return QDate(year, month, day);
}
}  // namespace

QDate parseSqlDate(const QString& text)
{
    QString t = text.trimmed();
    if (t.contains('-')) {
        QStringList p = t.split('-');
        if (p.size() == 3 && p[0].size() == 4)
            return dateFromParts(p, 2, 1, 0);
        return {};
    }
    QStringList p = t.split('/');
    if (p.size() != 3)
        return {};
    return dateFromParts(p, 1, 0, 2);
}

QDate parseDisplayDate(const QString& text)
{
    QStringList p = text.trimmed().split('/');
    if (p.size() != 3)
        return {};
    return dateFromParts(p, 0, 1, 2);
}

// ---- names, parameters and results ------------------------------------------------

namespace {
std::string upper(const std::string& s)
{
    return QString::fromStdString(s).toUpper().toStdString();
}
}  // namespace

void Params::setText(const std::string& name, const QString& value)
{
    values_[upper(name)] = value;
}
void Params::setInteger(const std::string& name, qint64 value)
{
    values_[upper(name)] = value;
}
void Params::setDate(const std::string& name, const QDate& value)
{
    values_[upper(name)] = value;
}
void Params::set(const std::string& name, const QVariant& value)
{
    values_[upper(name)] = value;
}
bool Params::has(const std::string& name) const
{
    return values_.count(upper(name)) > 0;
}
QVariant Params::value(const std::string& name) const
{
    auto it = values_.find(upper(name));
    return it == values_.end() ? QVariant() : it->second;
}

int ResultSet::columnIndex(const std::string& name) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (sameName(columns[i].name, name))
            return static_cast<int>(i);
    return -1;
}

Kind kindOfColumn(const FieldInfo& c)
{
    switch (c.type) {
    case fldDATE:
        return Kind::Date;
    case fldINT16:
    case fldINT32:
    case fldFLOAT:
    case fldBCD:
        return Kind::Number;
    case fldBOOL:
        return Kind::Bool;
    default:
        return Kind::Text;
    }
}

[[noreturn]] void mismatch(const QVariant& v, const std::string& what)
{
    throw EDBEngineError::typeMismatch(v.toString().toStdString(), what);
}

bool isNumberVariant(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

QString displayText(const QVariant& v)
{
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().toString("dd/MM/yyyy");
    if (v.typeId() == QMetaType::Double) {
        double d = v.toDouble();
        if (d == static_cast<double>(static_cast<qint64>(d)))
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 15);
    }
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? "T" : "F";
    return v.toString();
}

// Normalises a value for comparison in the given kind; throws on a value
// that cannot be read in that kind.
QVariant coerce(const QVariant& v, Kind k, const std::string& what)
{
    if (v.isNull())
        return {};
    switch (k) {
    case Kind::Text:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString();
            return s.isEmpty() || s.back() != QLatin1Char(' ') ? v : QVariant(trimRight(s));
        }
        return trimRight(displayText(v));
    case Kind::Date: {
        if (v.typeId() == QMetaType::QDate)
            return v;
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().date();
        QString t = v.toString().trimmed();
        if (t.isEmpty())
            return {};
        QDate d = parseSqlDate(t);
        if (!d.isValid())
            mismatch(v, what);
        return d;
    }
    case Kind::Number: {
        if (isNumberVariant(v))
            return v.toDouble();
        QString t = v.toString().trimmed();
        if (t.isEmpty())
            return {};
        bool ok = false;
        double d = t.toDouble(&ok);
        if (!ok)
            mismatch(v, what);
        return d;
    }
    case Kind::Bool: {
        if (v.typeId() == QMetaType::Bool)
            return v;
        QString t = v.toString().trimmed().toUpper();
        if (t.isEmpty())
            return {};
        if (t == "T" || t == "TRUE" || t == "Y" || t == "1")
            return true;
        if (t == "F" || t == "FALSE" || t == "N" || t == "0")
            return false;
        mismatch(v, what);
    }
    }
    return {};
}

// The order of the tags (core/Collation.h).
int compareText(QStringView a, QStringView b)
{
    const int c = compareCollated(a, b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Orders two normalised values of one kind; a null sorts first.
int compareValues(const QVariant& a, const QVariant& b, Kind k)
{
    if (a.isNull() || b.isNull())
        return a.isNull() ? (b.isNull() ? 0 : -1) : 1;
    switch (k) {
    case Kind::Text:
        if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)  // no copies
            return compareText(
                *static_cast<const QString*>(a.constData()), *static_cast<const QString*>(b.constData()));
        return compareText(a.toString(), b.toString());
    case Kind::Date: {
        QDate x = a.toDate(), y = b.toDate();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    case Kind::Number: {
        double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    case Kind::Bool:
        return static_cast<int>(a.toBool()) - static_cast<int>(b.toBool());
    }
    return 0;
}

Kind kindOfVariant(const QVariant& v)
{
    if (v.typeId() == QMetaType::QDate)
        return Kind::Date;
    if (isNumberVariant(v))
        return Kind::Number;
    if (v.typeId() == QMetaType::Bool)
        return Kind::Bool;
    return Kind::Text;
}

bool likeMatch(const QString& s, const QString& p)
{
    int si = 0, pi = 0, star = -1, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '_' || (p[pi] != '%' && p[pi] == s[si]))) {
            ++si;
            ++pi;
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
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}

QString likePrefix(const QString& pattern)
{
    int i = 0;
    while (i < pattern.size() && pattern[i] != '%' && pattern[i] != '_')
        ++i;
    return pattern.left(i);
}

}  // namespace kdb::sql
