#pragma once
// What every printed document shares: the practice header block, the
// patient name line, the age text, the place-and-date line, and the hand-off
// of a report's pages to the preview window.
#include <QDate>
#include <QString>

class QWidget;
struct AppContext;

namespace kdb {
class Dataset;
}  // namespace kdb

namespace krpt {
class Band;
class Label;
class Report;
}  // namespace krpt

// The header labels of a layout (lblStatut, lSpec, lDetail, lAdr, lTel).
struct HeaderLabels {
    krpt::Label* statut = nullptr;
    krpt::Label* spec = nullptr;
    krpt::Label* detail = nullptr;
    krpt::Label* adr = nullptr;
    krpt::Label* tel = nullptr;
};

// How a document prints the telephone line.
enum class PhoneLine {
    Plain,  // the telephone alone
    WithEmail,  // always followed by "   Email : " and the e-mail
    EmailWhenSet  // the e-mail form only when an e-mail is set
};

// Fills the header labels from the practice values; a missing label is
// skipped.
void FillPracticeHeader(const HeaderLabels& labels, PhoneLine phone);
QString PracticePhoneLine(PhoneLine phone);

// Adds the header block to a band at (x, y): practitioner (bold,
// underlined), speciality, detail, "Adresse : " + address, "Tél.: " +
// telephone, one line each; `suffix` is appended to the labels' names.
// Without `withAddress` the address lines are left out.
HeaderLabels AddPracticeHeader(
    krpt::Band& band, double x, double y, double width, const QString& suffix = {}, bool withAddress = true);

// "Mme " for SEXE "F", otherwise "Mr ", then NOM, two blanks and PRENOM.
QString PatientNameLine(const QString& sexe, const QString& nom, const QString& prenom);

// The age from the birth date DN (dd/mm/yyyy, or a year at positions 7-10)
// as "<n> Ans", or the stored AGE text when there is no positive age.
QString AgeText(const QString& dn, const QString& storedAge, const QDate& today = QDate::currentDate());

// PracticeCity + ", le " + the date as dd/mm/yyyy.
QString PlaceAndDateLine(const QDate& date);

// The name proposed for a file a document is printed into, without its
// extension: its kind, the patient's name and first name and its date as
// yyyy-MM-dd, each left out when empty ("Ordonnance DUPONT JEAN 2026-12-07").
QString DocumentFileName(
    const QString& kind, const QString& nom = {}, const QString& prenom = {}, const QDate& date = {});
// The same, the name and first name read from the current row of `patient`
// (NOM, PRENOM) when it is open on one.
QString DocumentFileName(const QString& kind, kdb::Dataset& patient, const QDate& date);

// The caller's sequence for a report form whose report is set up: previews
// the report in a new preview window and returns once the window has let
// the pages go; then frees the page store. Errors while the pages are built
// are shown through the application's exception handler.
void PreviewReport(AppContext& context, krpt::Report& report);
