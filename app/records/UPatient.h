#pragma once
// The patient file: creates, edits, browses and deletes the records of
// Patient.DBF in name order. Every way of posting (button, menu, Enter on
// the blood group, closing the form) runs the checks of PatientBeforePost.
// Starting to type in a record takes its record lock and reads it again, so
// two workstations never overwrite each other's changes; the refresh timer
// shows the other workstations' changes every 5 s while nothing is edited.
#include <QDialog>
#include <QStringList>

#include <functional>

#include "platform/db/dataset/Dataset.h"
#include "platform/ui/TextFile.h"

struct AppContext;
class QAction;
class QMenu;
class QTimer;
class QToolButton;

namespace Ui {
class TfrmPatient;
}
namespace kui {
class DataLineEdit;
class DataComboBox;
class DataMemo;
}  // namespace kui

class TfrmPatient : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPatient(AppContext& context, QWidget* parent = nullptr);
    ~TfrmPatient() override;

    // The CODE shown when the form opens; set by the caller before showing it.
    QString CodePatient;

    kdb::TableDataset& Patient() { return Patient_; }
    Ui::TfrmPatient* form() const { return ui; }
    QMenu* PopupMenu1() const { return PopupMenu1_; }
    QMenu* PopMenuPrint() const { return PopMenuPrint_; }
    QAction* action(const QString& objectName) const;
    QTimer* Timer1() const { return Timer1_; }
    bool IsNewPatient() const { return IsNewPatient_; }
    QString statusText() const;
    QStringList addresses() const { return adrList_; }

    // Birth-date check: text of the form dd/mm/yyyy, where "00" stands for an
    // unknown day or an unknown day and month. Shows its own message.
    static bool CheckBirthDate(const QString& T);

public slots:
    void btnPrevClick();
    void btnNextClick();
    void btnAddClick();
    void btnPostClick();
    void btnCancelClick();
    void btnDeleteClick();
    void btnFindClick();
    void btnConsulClick();
    void btnPrintClick();
    // The medical report of the shown patient; the patient-list dialog.
    void mnPrintReportClick();
    void mnPrintListClick();
    void btnFermerClick();
    void Timer1Timer();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void PatientBeforePost(kdb::Dataset& ds);
    void PatientAfterPost(kdb::Dataset& ds);
    void PatientNewRecord(kdb::Dataset& ds);
    void dsPatientDataChange();
    void UpdateButtons();
    void ShowRecordCount();
    bool LocateCode(const QString& code);
    void LoadAddresses();
    bool StartEditing();
    void Failed(QWidget* editor, const QString& message);
    // Runs an action that may edit or post the record: a patient another
    // workstation deleted is told (PatientDeleted), any other failure shown
    // as records::Guarded does.
    void GuardedRecord(const std::function<void()>& action);
    // A patient deleted on another workstation: said so; what was typed
    // stays on the screen, unsaved; a patient merely shown gives way to the
    // one that follows it.
    void PatientDeleted();
    QString PatientWhat();
    bool PatientFeminine();
    // Whether CONS.DBF holds a consultation of that patient now.
    static bool HasConsultations(const QString& code);
    // The values of the record when its edit or insert began; whether any
    // differs now (something was typed).
    void PatientStateChange();
    bool Typed();

    AppContext& context_;
    Ui::TfrmPatient* ui;
    kdb::TableDataset Patient_;
    QTimer* Timer1_;
    QMenu* PopupMenu1_;
    QMenu* PopMenuPrint_;
    bool IsNewPatient_ = false;
    QString AdrFileName;
    QStringList adrList_;
    QStringList startValues_;
    kui::TextEncoding adrEncoding_ = kui::TextEncoding::Utf8;
    bool closing_ = false;
};
