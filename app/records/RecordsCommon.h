#pragma once
// Small pieces the record screens share.
#include <QColor>
#include <QDate>
#include <QString>

#include <functional>

class QCloseEvent;
class QDialog;

class QKeyEvent;
class QLineEdit;
class QWidget;

namespace kui {
class DataGrid;
class DatasetModel;
}  // namespace kui

namespace records {

// Colours of the screens (the designer's $BBGGRR values as RGB).
inline const QColor ReadOnlyGrey(0xE6, 0xE6, 0xE6);  // $E6E6E6
inline const QColor FocusColour(0xAA, 0xEE, 0xFF);  // $FFEEAA
inline const QColor LockedEditor(0xEC, 0xEB, 0xEA);  // $EAEBEC
inline const QColor HistoryRed(Qt::red);

// The message shown when another workstation is changing the record.
QString LockedRecordMessage();

// Every letter typed into the edit comes out in upper case (accented ones
// included); the cursor stays where it was.
void ForceUpperCase(QLineEdit* edit);

// Runs an action of a screen: the silent abort ends it quietly, any other
// failure is shown in the error box, so no exception leaves the slot.
void Guarded(const std::function<void()>& action);

// Before a cancel drops what the user typed: asks "Abandonner les
// modifications ?" (Yes/No, No by default). True for Yes; on No the focus
// is back where it was.
bool ConfirmDiscard(QWidget* parent);

// The close guard of an entry screen whose edits are not saved: asks
// "Les informations modifiées n'ont pas été enregistrées.\rEnregister ?"
// (warning, Yes/No/Cancel). Yes runs save (false: the screen stays), No
// runs discard. Answers the dialog's result (Accepted for Yes, Rejected
// for No), or -1 when the screen stays open. A screen may ask its own
// question instead.
int AskUnsavedClose(QWidget* parent, const std::function<bool()>& save, const std::function<void()>& discard,
    const QString& question = QString());

// The close of an entry screen. A screen that is not editing (or is already
// closing) runs release and closes. Otherwise it asks AskUnsavedClose; on
// Cancel, or a failed save, the close is refused and the screen stays; else
// release runs, the screen closes (baseClose: the screen's own close) and the
// answer becomes its result. `closing` is set before discard runs.
void CloseEntryScreen(QDialog* screen, QCloseEvent* event, bool& closing, bool editing,
    const std::function<bool()>& save, const std::function<void()>& discard, const std::function<void()>& release,
    const std::function<void(QCloseEvent*)>& baseClose, const QString& question = QString());

// Esc and Enter on an entry screen: Esc runs cancel while an edit is under
// way (editing) and closes the screen otherwise; Enter never posts and is
// swallowed. Answers whether the key was one of these (the event is then
// accepted).
bool EntryScreenKey(QWidget* screen, QKeyEvent* event, bool editing, const std::function<void()>& cancel);

// The grid of a list screen: read-only, rows in alternate colours, titles
// shown; wholeRows selects whole rows.
void ReadOnlyList(kui::DataGrid* grid, kui::DatasetModel* model, bool wholeRows);

// The code page of a table of `directory` (Windows-1252, the one the
// program creates, when it cannot be read): the editors of its text take
// only what it holds (kui::SetCodePage).
int TableCodePage(const QString& directory, const QString& table);

// A day of the calendar from dd/mm/yyyy; invalid when the text is none.
QDate ReadDate(const QString& text);

// The next control in tab order after w that takes the focus, inside the
// same window; w itself when there is none.
QWidget* NextInTabOrder(QWidget* w);

}  // namespace records
