#pragma once
// The appointment entry: books or changes one row of FRDV (patient, day,
// time of day, reason). Opens in editing; a new appointment starts with the
// patient picker. A slot (day and time) holds one appointment: the check
// and the write run under the table's allocation lock, so two workstations
// cannot book the same slot. The caller reads NumRDV back after the close.
#include <QDialog>
#include <QStringList>
#include <QTime>

#include "controls/DcLabel.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
struct AppContext;

namespace kdb {
class QueryDataset;
class TableDataset;
}  // namespace kdb

namespace Ui {
class TfrmRDV;
}

// Reads a time of day as the program's general date-and-time reader does:
// hours[:minutes[:seconds[.milliseconds]]] with an optional AM/PM marker,
// or a day/month[/year] date optionally followed by a blank and such a time
// (a date alone is 00:00). False when the text is none of these.
bool ReadTimeOfDay(const QString& text, QTime& time);

class TfrmRDV : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRDV(AppContext& context, QWidget* parent = nullptr);
    ~TfrmRDV() override;

    // FRDV.NUM of the appointment (empty for a new one); after a save, the
    // number of the saved appointment.
    QString NumRDV;
    // CODE of a patient shown at start.
    QString CodePatient;
    bool RdvEditing = false;

    TDcLabel* lPatient() const;
    QLineEdit* edCode() const;
    QDateEdit* edDate() const;
    QLineEdit* edHre() const;
    QLineEdit* edMotif() const;
    QToolButton* btnFindPatient() const;
    QToolButton* btnNew() const;
    QToolButton* btnEdit() const;
    QToolButton* btnPost() const;
    QToolButton* btnCancel() const;
    QPushButton* btnClose() const;

    // True when another appointment than `num` holds the day (month/day/year
    // text) and time.
    static bool RdvExists(const QString& num, const QString& dateText, const QString& timeText);

public slots:
    void btnFindPatientClick();
    void btnNewClick();
    void btnEditClick();
    // True when the row was written.
    bool btnPostClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    // False when the appointment of a number is not there any more (deleted
    // on another workstation): the editors then keep what they show.
    bool LoadRdv(const QString& num);
    // LoadRdv of NumRDV; an appointment deleted meanwhile is told.
    bool ReloadRdv();
    // The appointment named in the messages.
    QString RdvWhat() const;
    void ShowPatient(const QString& code);
    void EnableEdit();
    void DisableEdit();
    void UpdateButtons();
    // False, nothing written, when the appointment being changed was
    // deleted on another workstation, or its patient was (*patientGone then
    // says so).
    bool WriteRdv(const QString& code, bool isNew, QString* patientGone);
    // Back to the stored appointment, the editors closed (Annuler without
    // its question).
    void CancelEdit();
    // The patient, date, time and reason (trimmed, as they are saved) when
    // the editors opened; whether they differ now.
    QStringList EditorValues() const;
    void NoteEditorValues();
    bool Typed() const;

    AppContext& context_;
    Ui::TfrmRDV* ui;
    kdb::QueryDataset* Patient;
    kdb::TableDataset* FRDV;
    bool closing_ = false;
    QString rowWhat_;  // the appointment as it was read last
    QStringList typedFrom_;
};
