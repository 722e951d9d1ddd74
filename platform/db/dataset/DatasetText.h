#pragma once
// The kinds of a column and the text a dataset shows for a value: dates as
// dd/mm/yyyy, whole numbers without decimals.
#include <QDate>
#include <QString>
#include <QVariant>

#include "platform/db/core/EngineTypes.h"

namespace kdb::detail {

inline bool isTextType(uint16_t t)
{
    return t == fldZSTRING || t == fldBLOB || t == fldUNKNOWN;
}
inline bool isNumberType(uint16_t t)
{
    return t == fldINT16 || t == fldINT32 || t == fldFLOAT || t == fldBCD;
}

inline QString textOf(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return {};
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().toString("dd/MM/yyyy");
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? "True" : "False";
    if (v.typeId() == QMetaType::Double) {
        double d = v.toDouble();
        if (d == static_cast<double>(static_cast<qint64>(d)))
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 15);
    }
    return v.toString();
}

}  // namespace kdb::detail
