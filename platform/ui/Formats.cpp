#include "platform/ui/Formats.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace kui {

void InstallProcessFormats()
{
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
}

QString DateToStr(const QDate& date)
{
    return date.isValid() ? date.toString(ShortDateFormat) : QString();
}

QDate StrToDate(const QString& text, bool* ok)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4}|\\d{2})$"));
    const auto m = re.match(text.trimmed());
    QDate result;
    if (m.hasMatch()) {
        int year = m.captured(3).toInt();
        if (m.capturedLength(3) == 2)
            year += (QDate::currentDate().year() / 100) * 100;
        result = QDate(year, m.captured(2).toInt(), m.captured(1).toInt());
    }
    if (ok)
        *ok = result.isValid();
    return result.isValid() ? result : QDate();
}

QString TimeToStr(const QTime& time)
{
    return time.isValid() ? time.toString(ShortTimeFormat) : QString();
}

QTime StrToTime(const QString& text, bool* ok)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?$"));
    const auto m = re.match(text.trimmed());
    QTime result;
    if (m.hasMatch())
        result =
            QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.capturedLength(3) > 0 ? m.captured(3).toInt() : 0);
    if (ok)
        *ok = result.isValid();
    return result.isValid() ? result : QTime();
}

QString DateTimeToStr(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return {};
    return DateToStr(dateTime.date()) + QLatin1Char(' ') + TimeToStr(dateTime.time());
}

QString FloatToStr(double value)
{
    if (!std::isfinite(value))
        return {};
    return QString::number(value, 'g', 15);
}

QString FormatFloat(double value, int decimals, bool thousands)
{
    if (!std::isfinite(value))
        return {};
    if (decimals < 0)
        decimals = 0;
    QString text = QString::number(value, 'f', decimals);
    if (!thousands)
        return text;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text.remove(0, 1);
    qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point < 0)
        point = text.size();
    for (qsizetype i = point - 3; i > 0; i -= 3)
        text.insert(i, QChar(ThousandSeparator));
    return negative ? QLatin1Char('-') + text : text;
}

double StrToFloat(const QString& text, bool* ok)
{
    static const QRegularExpression re(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = text.trimmed();
    bool good = re.match(t).hasMatch();
    double value = 0;
    if (good) {
        value = t.toDouble(&good);
        good = good && std::isfinite(value);
    }
    if (ok)
        *ok = good;
    return good ? value : 0.0;
}

QString IntToStr(qint64 value)
{
    return QString::number(value);
}

qint64 StrToInt(const QString& text, bool* ok)
{
    static const QRegularExpression re(QStringLiteral("^[+-]?\\d+$"));
    const QString t = text.trimmed();
    bool good = re.match(t).hasMatch();
    qint64 value = 0;
    if (good)
        value = t.toLongLong(&good, 10);
    if (ok)
        *ok = good;
    return good ? value : 0;
}

}  // namespace kui
