// The fields of a dataset: reading and writing the current record's values.
#include "platform/db/dataset/Dataset.h"
#include "platform/db/dataset/DatasetText.h"

namespace kdb {

using detail::textOf;

using detail::isNumberType;
using detail::isTextType;

// ---- Field ---------------------------------------------------------------------

Field::Field(Dataset* owner, int index, FieldInfo info) : owner_(owner), index_(index), info_(std::move(info))
{
    displayLabel = QString::fromStdString(info_.name);
    if (isNumberType(info_.type))
        alignment = Qt::AlignRight | Qt::AlignVCenter;
}

QVariant Field::value() const
{
    return owner_->currentValue(index_);
}

bool Field::isNull() const
{
    QVariant v = value();
    return !v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty());
}

QString Field::asString() const
{
    return textOf(value());
}

int Field::asInteger() const
{
    QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0;
    if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        return v.toInt();
    if (v.typeId() == QMetaType::Double)
        return static_cast<int>(v.toDouble());
    QString t = textOf(v).trimmed();
    if (t.isEmpty())
        return 0;
    bool ok = false;
    int n = t.toInt(&ok);
    if (!ok)
        throw EDatabaseError("'" + t.toStdString() + "' n'est pas un nombre entier valide");
    return n;
}

double Field::asFloat() const
{
    QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0;
    QString t = textOf(v).trimmed();
    if (t.isEmpty())
        return 0;
    bool ok = false;
    double d = t.toDouble(&ok);
    if (!ok)
        throw EDatabaseError("'" + t.toStdString() + "' n'est pas un nombre valide");
    return d;
}

QDate Field::asDate() const
{
    QVariant v = value();
    if (!v.isValid() || v.isNull())
        return {};
    if (v.typeId() == QMetaType::QDate)
        return v.toDate();
    QString t = textOf(v).trimmed();
    if (t.isEmpty())
        return {};
    QDate d = sql::parseDisplayDate(t);
    if (!d.isValid())
        throw EDatabaseError("'" + t.toStdString() + "' n'est pas une date valide");
    return d;
}

void Field::setValue(const QVariant& v)
{
    if (lookup_ || readOnly)
        throw EDatabaseError("Le champ '" + info_.name + "' ne peut pas être modifié");
    owner_->setCurrentValue(index_, Dataset::toColumnValue(v, info_));
}

void Field::setAsString(const QString& s)
{
    if (info_.type == fldDATE) {
        if (s.trimmed().isEmpty()) {
            setValue(QVariant());
            return;
        }
        QDate d = sql::parseDisplayDate(s);
        if (!d.isValid())
            throw EDatabaseError("'" + s.toStdString() + "' n'est pas une date valide");
        setValue(d);
        return;
    }
    if (isNumberType(info_.type)) {
        if (s.trimmed().isEmpty()) {
            setValue(QVariant());
            return;
        }
        bool ok = false;
        double d = s.trimmed().toDouble(&ok);
        if (!ok)
            throw EDatabaseError("'" + s.toStdString() + "' n'est pas un nombre valide");
        setValue(d);
        return;
    }
    setValue(s);
}

void Field::setAsInteger(int v)
{
    if (isTextType(info_.type))
        setValue(QString::number(v));
    else
        setValue(v);
}

void Field::setAsDate(const QDate& d)
{
    if (info_.type == fldDATE)
        setValue(d.isValid() ? QVariant(d) : QVariant());
    else
        setValue(d.isValid() ? d.toString("dd/MM/yyyy") : QString());
}

}  // namespace kdb
