#include "app/global/global.h"

#include "platform/os/Files.h"
#include "platform/ui/Formats.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"

#include <QWidget>

QString AppDir;
QString DataPath;
QString ProtDir;
QString PhotoDir;
QString IniDir;
QString TempPath;
QString AppVersion;
QString CurrentPatientCode;
QString CurrentUserId;
QString PractitionerName;
QString SpecialityLine;
QString PracticeDetail;
QString PracticeAddress;
QString PracticeCity;
QString PracticePhone;
QString PracticeEmail;
bool DisplayRdv = false;

const std::array<QString, 8> DayNames = {
    QString(),
    QStringLiteral("Dimanche"),
    QStringLiteral("Lundi"),
    QStringLiteral("Mardi"),
    QStringLiteral("Mercredi"),
    QStringLiteral("Jeudi"),
    QStringLiteral("Vendredi"),
    QStringLiteral("Samedi"),
};

int DayOfWeek(const QDate& date)
{
    // Monday 1 .. Sunday 7 becomes Sunday 1 .. Saturday 7.
    return date.isValid() ? date.dayOfWeek() % 7 + 1 : 0;
}

QString DamagedProtocolTextMessage(const QString& fileName, bool printed)
{
    QString num = fileName;
    if (num.startsWith(QStringLiteral("PROT"), Qt::CaseInsensitive) &&
        num.endsWith(QStringLiteral(".RTF"), Qt::CaseInsensitive))
        num = num.mid(4, num.size() - 8);
    return QStringLiteral("Le texte du protocole n° %1 (%2) est endommagé : seule sa partie lisible est %3.")
        .arg(num, fileName, printed ? QStringLiteral("imprimée") : QStringLiteral("affichée"));
}

QString PadLeft(const QString& S, const QString& Pad, int Width)
{
    QString result = S;
    for (qsizetype i = S.size(); i < Width; ++i)
        result.prepend(Pad);
    return result;
}

bool IsNumeric(const QString& S)
{
    bool ok = false;
    kui::StrToFloat(S, &ok);
    return ok;
}

int YearOf(const QDate& date)
{
    return date.year();
}

QString DateToSqlString(const QDate& date)
{
    return QString::number(date.month()) + QLatin1Char('/') + QString::number(date.day()) + QLatin1Char('/') +
        QString::number(date.year());
}

void ShowError(const QString& Msg)
{
    kui::MsgError(Msg);
}

namespace {

QString SectionOf(QWidget* form)
{
    QString name = form->objectName();
    if (name.isEmpty())
        name = QString::fromLatin1(form->metaObject()->className());
    return name;
}

bool HasFixedBorder(const QWidget* form)
{
    return form->minimumSize() == form->maximumSize();
}

}  // namespace

void SaveFormPosition(QWidget* Form)
{
    if (!Form)
        return;
    kui::TIniFile ini(AppDir + IniKeys::FileName);
    const QString section = SectionOf(Form);
    ini.WriteInteger(section, IniKeys::Top, Form->y());
    ini.WriteInteger(section, IniKeys::Left, Form->x());
    ini.WriteInteger(section, IniKeys::Width, Form->width());
    ini.WriteInteger(section, IniKeys::Height, Form->height());
}

void RestoreFormPosition(QWidget* Form)
{
    if (!Form)
        return;
    const kui::TIniFile ini(AppDir + IniKeys::FileName);
    const QString section = SectionOf(Form);
    const int top = ini.ReadInteger(section, IniKeys::Top, Form->y());
    const int left = ini.ReadInteger(section, IniKeys::Left, Form->x());
    Form->move(left, top);
    if (!HasFixedBorder(Form)) {
        const int width = ini.ReadInteger(section, IniKeys::Width, Form->width());
        const int height = ini.ReadInteger(section, IniKeys::Height, Form->height());
        Form->resize(width, height);
    }
}
