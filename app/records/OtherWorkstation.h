#pragma once
// What another workstation did to a record a screen shows: deleted it, or
// changed it since the screen read it. Screens check before they write into
// a record, and lists before they open, change or delete one of their rows:
// a deleted record is never written into nor recreated, a list out of date
// says so and is read again, and what the user typed stays on the screen.
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace kdb {
class Dataset;
class Table;
class TableDataset;
}  // namespace kdb

namespace records {

// "<what> a été supprimé sur un autre poste." (supprimée when feminine);
// `what` names the record: "Le rendez-vous de DUPONT Jean du 12/05/2026".
QString DeletedElsewhereText(const QString& what, bool feminine);
// "<what> a été modifié sur un autre poste."
QString ChangedElsewhereText(const QString& what, bool feminine);
// The lines added after them: the typed text was not written; the list was
// read again.
QString NotSavedNote();
QString ListUpdatedNote();
// The line added when an action on a changed row stops there.
QString NothingDoneNote();

// Shows the text in a warning box.
void WarnElsewhere(const QString& text, QWidget* parent = nullptr);

// Whether the failure is the engine's "record deleted since it was read".
bool IsRecordDeleted(const std::exception& e);

// Runs an action of a screen as records::Guarded does, but a record found
// deleted since it was read runs deleted() instead of showing the failure.
void GuardedAgainstDeleted(const std::function<void()>& action, const std::function<void()>& deleted);

// An entry screen's record read again by load() (false: it is gone); a
// record deleted meanwhile is told, naming it by what().
bool ReloadRow(const std::function<bool()>& load, const std::function<QString()>& what, QWidget* parent);
// An entry screen opened on a record deleted since its list was read:
// says so, and the screen closes once shown.
void CloseOnDeleted(QDialog* screen, const QString& what);

// The row a list shows, against its table now.
enum class RowState {
    Same,  // still there, every column the list shows as it shows it
    Changed,  // still there, some column different
    Gone  // no row of that key any more
};
// Reads the row of `table` whose `keyField` equals the list's current
// row's, and compares with it every column of the list the table has.
RowState CheckListRow(kdb::Dataset& list, const QString& table, const char* keyField);

// Before an action on the current row of a list: CheckListRow, and true
// when the action may go on. A row deleted or changed elsewhere is told
// (naming it by what(), read before the list is) once refresh has read the
// list again, and stops the action, but for a changed row when
// changedGoesOn. A failure to read is shown and stops it.
bool ListRowUpToDate(kdb::Dataset& list, const QString& table, const char* keyField,
    const std::function<QString()>& what, bool feminine, const std::function<void(RowState)>& refresh, QWidget* parent,
    bool changedGoesOn = false);

// Starts the write of one row of an entry screen on `table` (opened here
// when it is not): the row whose `keyField` is `key` goes into Edit (its
// record lock taken, the row read again under it); a new row (isNew) whose
// key is not there yet goes into Insert. Answers false, with the table in
// Browse and nothing started, when the row of an existing key is gone
// (deleted on another workstation, also between the search and the lock).
bool StartRowWrite(kdb::TableDataset& table, const char* keyField, const QString& key, bool isNew);

// A patient's name then first name as stored, without their blanks:
// "DUPONT Jean"; either alone when the other is empty.
QString FullName(const QString& nom, const QString& prenom);

// A patient named for these messages: "DUPONT Jean"; the code alone when
// the patient is not found; empty for an empty code.
QString PatientName(const QString& code);

// A patient as the patient file names one: "Le patient DUPONT JEAN (code
// 000001)", "La patiente ..." when feminine.
QString PatientWhat(const QString& code, const QString& nom, const QString& prenom, bool feminine);

// The patient a row names (consultation, exam, appointment, protocol,
// photo), held while that row is written: the patient table's changes, a
// deletion on any workstation included, wait for the hold to end, so a row
// is never written for a patient deleted meanwhile. Hold it around the write
// alone (the patient table must not be changed by this program meanwhile).
class PatientHold {
public:
    // Raises what opening or holding the patient table raises.
    explicit PatientHold(const QString& code);
    ~PatientHold();
    PatientHold(const PatientHold&) = delete;
    PatientHold& operator=(const PatientHold&) = delete;

    // Whether a patient of that code is in the table (true for an empty code:
    // the row names nobody).
    bool Present() const { return present_; }
    // When not present: "Le patient DUPONT JEAN (code 000001) a été supprimé
    // sur un autre poste." and the note that nothing was saved, the name read
    // from the deleted record while the table still keeps it.
    QString GoneText() const;

private:
    std::shared_ptr<kdb::Table> table_;
    QString code_, nom_, prenom_;
    bool feminine_ = false;
    bool present_ = true;
};

}  // namespace records
