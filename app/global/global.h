#pragma once
#include <QDate>
#include <QString>

#include <array>

#include "app/global/NextCode.h"
#include "platform/os/Files.h"

class QWidget;

// The process-wide variables every screen reads, filled by the start-up,
// the login, the settings dialog and the patient picker.
extern QString AppDir;  // program home, trailing "/"
extern QString DataPath;  // AppDir + "Data/"
extern QString ProtDir;  // AppDir + "PROT/"
extern QString PhotoDir;  // AppDir + "PHOTOS/"
extern QString IniDir;  // home of the first settings file, trailing "/"
extern QString TempPath;  // the engine's private directory, trailing "/"
extern QString AppVersion;  // "Korvale 3.1"
extern QString CurrentPatientCode;  // CODE of the current patient, or empty
extern QString CurrentUserId;  // USERID of the logged-in user
extern QString PractitionerName;
extern QString SpecialityLine;
extern QString PracticeDetail;
extern QString PracticeAddress;
extern QString PracticeCity;
extern QString PracticePhone;
extern QString PracticeEmail;
extern bool DisplayRdv;

// Day names, index 1 Sunday to 7 Saturday (index 0 unused).
extern const std::array<QString, 8> DayNames;
// Index into DayNames of a date's weekday (1 = Sunday).
int DayOfWeek(const QDate& date);

// Names of the settings files and of their sections and keys.
namespace IniKeys {
inline const QString FileName = QStringLiteral("KORVALE.INI");
inline const QString Params = QStringLiteral("PARAMS");
inline const QString Informations = QStringLiteral("INFORMATIONS");
inline const QString DisplayRdv = QStringLiteral("DISPLAYRDV");  // IniDir file
inline const QString DossierPdf = QStringLiteral("DOSSIERPDF");  // IniDir file: folder of the last PDF
inline const QString Image = QStringLiteral("IMAGE");  // AppDir file
inline const QString Detail = QStringLiteral("DETAIL");
inline const QString Adresse = QStringLiteral("ADRESSE");
inline const QString Ville = QStringLiteral("VILLE");
inline const QString Tel = QStringLiteral("TEL");
inline const QString Email = QStringLiteral("EMAIL");
inline const QString Docteur = QStringLiteral("DOCTEUR");  // practitioner's name
inline const QString Specialite = QStringLiteral("SPECIALITE");  // speciality line
inline const QString NbLigne = QStringLiteral("NBLIGNE");  // INFORMATIONS section
inline const QString UserId = QStringLiteral("USERID");  // DataPath file
inline const QString Top = QStringLiteral("TOP");
inline const QString Left = QStringLiteral("LEFT");
inline const QString Width = QStringLiteral("WIDTH");
inline const QString Height = QStringLiteral("HEIGHT");
}  // namespace IniKeys

// S with Pad put in front of it (Width - length of S) times when positive;
// never cut.
QString PadLeft(const QString& S, const QString& Pad, int Width);

// True when S converts as a number under the process formats ("." decimal).
bool IsNumeric(const QString& S);

int YearOf(const QDate& date);

// month/day/year without leading zeros: the form of a date in SQL text.
QString DateToSqlString(const QDate& date);

// Error box with one OK button.
void ShowError(const QString& Msg);

// The warning for a protocol's detail text file ("PROT<NUM>.RTF", its name
// without directory) that could be read only in part: its readable part is
// shown, or printed.
QString DamagedProtocolTextMessage(const QString& fileName, bool printed = false);

// Deletes the entries of Dir matching Mask; Dir ends with "/"; failures
// are ignored. The one routine is the platform's.
using kos::DeleteFilesByMask;

// Saves / restores a window's position and size in AppDir + "KORVALE.INI",
// in a section named after the window's object name. A window of fixed size
// (minimum size equal to maximum size: the fixed dialog border) gets only
// its position back.
void SaveFormPosition(QWidget* Form);
void RestoreFormPosition(QWidget* Form);
