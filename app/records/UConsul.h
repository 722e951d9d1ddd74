#pragma once
// The consultation screen: the consultations of CurrentPatientCode, with
// the patient's exams, history and photos around them. Consultations are
// written with parameterised statements; the number of a new one (the
// highest ID_CONS + 1) is taken under the table's allocation lock, held
// until its row is written, so two workstations never share a number. A
// consultation being modified is held under its record lock, read again
// under it and written through it.
#include <QDialog>

#include "platform/db/dataset/Dataset.h"

struct AppContext;
class QAction;
class TGradient;
class QCloseEvent;
class QLabel;
class QMenu;

namespace Ui {
class TfrmConsul;
}

class TfrmConsul : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConsul(AppContext& context, QWidget* parent = nullptr);
    ~TfrmConsul() override;

    Ui::TfrmConsul* form() const { return ui; }
    QMenu* PopMenu() const { return PopMenu_; }
    QAction* action(const QString& objectName) const;
    QChar ConsState() const { return ConsState_; }
    const QString& ConsId() const { return ConsId_; }
    kdb::QueryDataset& qConsul() { return qConsul_; }
    kdb::QueryDataset& qExRadioBio() { return qExRadioBio_; }
    kdb::QueryDataset& qExBio() { return qExBio_; }
    kdb::QueryDataset& qExRadio() { return qExRadio_; }
    // The slot Image1 .. Image21.
    QLabel* Image(int number) const;
    // The gradient background of the chosen page.
    TGradient* Gradient1() const { return Gradient1_; }

public slots:
    void btnAddClick();
    void btnEditClick();
    void btnPostClick();
    void btnCancelClick();
    void btnDeleteClick();
    void btnGetMotifClick();
    void btnGetDiagClick();
    void btnGetTrtClick();
    void btnGetPatientClick();
    void btnMenuClick();
    void btnDelBioClick();
    void btnDelRadioClick();
    void btnBioClick();
    void btnOrdonnanceClick();
    void btnRadioClick();
    void pgControlChange(int page);
    void btnFermerClick();
    // The print menu: work certificate, medical report of CurrentPatientCode.
    void mnArretTrvClick();
    void mnRapportClick();
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void LoadPatient();
    void OpenHistory();
    // The history read again on the consultation of that ID_CONS (the last
    // one when it is not there), shown in the editors.
    void ReopenHistoryOn(const QString& id);
    // Whether the action on the consultation shown may go on: one another
    // workstation deleted or changed is told and the history read again; a
    // changed one goes on only when changedGoesOn (the history then shows
    // it as it is now).
    bool HistoryRowUpToDate(bool changedGoesOn);
    // The same for the selected row of an exam list (the dates and lists
    // are read again).
    bool ExamRowUpToDate(kdb::QueryDataset& list);
    // The consultation shown, the exam of a list's row, named in the messages.
    QString ConsWhat();
    QString ExamWhat(kdb::QueryDataset& list);
    void ShowConsultation();
    void FillEditors();
    void ReleaseConsLock();
    void UpdateButtons();
    // The editors' texts, trimmed as they are saved, taken when a new
    // consultation or a change starts; whether they differ now (something
    // was typed or chosen).
    QStringList EditorTexts() const;
    bool Typed() const;
    // Before anything that would drop the consultation being typed: asks
    // whether to save it (Yes saves, No drops it, Cancel keeps it). True
    // when the caller may go on.
    bool LeaveConsultation();
    // Whether an event on the history grid would move to another row.
    bool MovesHistory(QObject* watched, QEvent* event) const;
    void PickList(const QString& title, const QString& sql, class QPlainTextEdit* editor);
    void OpenExamDates();
    void qExRadioBioAfterScroll();
    void RefreshExamDates();
    void SetExamButtons();
    void DeleteExam(kdb::QueryDataset& list);
    void OpenTable(const QString& table, const QString& title);
    void OpenExam(const QString& kind, bool change);
    void LoadPhotos();
    // Puts the gradient background on the chosen page, over its whole area.
    void PlaceGradient();
    void ImageDblClick(QLabel* slot);

    AppContext& context_;
    Ui::TfrmConsul* ui;
    QMenu* PopMenu_;
    QMenu* PopMnPrint_;
    TGradient* Gradient1_;
    kdb::QueryDataset qConsul_, Patient_, qExRadioBio_, qExBio_, qExRadio_, qBio_, qRadio_;
    // The consultation being modified, held under its record lock (in Edit)
    // from Modifier until it is saved or the edit ends.
    kdb::TableDataset consEdit_;
    QChar ConsState_ = u'B';
    QString ConsId_;
    QStringList typedFrom_;
    QString examsPatient_ = QStringLiteral("\x01");  // patient of the exam lists
    QString photosPatient_ = QStringLiteral("\x01");
    bool photosLoaded_ = false;
    bool closing_ = false;
};
