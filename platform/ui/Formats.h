#pragma once
#include <QDate>
#include <QString>
#include <QTime>

// The process-wide formats, used by every conversion of the program between
// dates, times, numbers and text: dates dd/mm/yyyy, times hh:mm, "." as the
// decimal separator and a blank as the thousands separator, whatever the
// user's own locale says.
namespace kui {

inline constexpr char16_t DateSeparator = u'/';
inline constexpr char16_t TimeSeparator = u':';
inline constexpr char16_t DecimalSeparator = u'.';
inline constexpr char16_t ThousandSeparator = u' ';
inline constexpr int CurrencyDecimals = 2;
inline const QString ShortDateFormat = QStringLiteral("dd/MM/yyyy");
inline const QString ShortTimeFormat = QStringLiteral("hh:mm");
inline const QString CurrencyString = QStringLiteral(" ");

// Sets up the process for these formats: the default locale becomes French
// (France) for day and month names shown by the standard widgets. Numbers
// must go through the routines below, not through the locale. The C
// library's numeric conventions are set back to "." by the application
// object (kui::TApplication), whatever the desktop's locale.
void InstallProcessFormats();

// "05/12/2026"; an invalid date gives an empty text.
QString DateToStr(const QDate& date);
// Day/month/year with "/" separators; day and month of one or two digits,
// year of four digits or of two (taken in the current century). Blanks
// around the text are ignored. An invalid or malformed text gives an
// invalid date and ok = false.
QDate StrToDate(const QString& text, bool* ok = nullptr);

// "08:05"; an invalid time gives an empty text.
QString TimeToStr(const QTime& time);
// h:mm or h:mm:ss; invalid text gives an invalid time and ok = false.
QTime StrToTime(const QString& text, bool* ok = nullptr);

// "05/12/2026 08:05".
QString DateTimeToStr(const QDateTime& dateTime);

// Shortest text of the number with up to 15 significant digits ("12.5").
QString FloatToStr(double value);
// Fixed number of decimals, optionally with blanks between thousands
// ("1 234.50").
QString FormatFloat(double value, int decimals, bool thousands = false);
// A decimal number with "." as separator and an optional exponent; blanks
// around the text are ignored; anything else (a comma, thousands blanks,
// an empty text, "inf", "nan") is refused with ok = false and 0 returned.
double StrToFloat(const QString& text, bool* ok = nullptr);

QString IntToStr(qint64 value);
// Optional sign and decimal digits, blanks around ignored.
qint64 StrToInt(const QString& text, bool* ok = nullptr);

}  // namespace kui
