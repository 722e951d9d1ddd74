#pragma once
// The entry of one complementary exam of a patient (EXCOMP): its date, the
// exam picked from the radiology or biology list and its result. Opens in
// editing; a new exam's NUM is taken by NextCode under the table's
// allocation lock, held until the row is written, and the check that the
// same exam was not entered already runs under that lock too.
#include <QDialog>
#include <QStringList>

#include "controls/DcLabel.h"

class QAction;
class QDate;
class QDateEdit;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace kui {
class DataLookupComboBox;
}
namespace Ui {
class TfrmExComp;
}

class TfrmExComp : public QDialog {
    Q_OBJECT
public:
    explicit TfrmExComp(AppContext& context, QWidget* parent = nullptr);
    ~TfrmExComp() override;

    QString Num;  // EXCOMP.NUM of the exam; empty for a new one
    QString Patient;  // the patient's CODE
    QString RadioBio;  // "R" or "B"
    bool ExCompEditing = false;

    // True when the patient has an exam of that code and kind on that date.
    static bool ExamExists(const QString& patient, const QDate& date, const QString& code, const QString& kind);

    TDcLabel* lPatient() const;
    QLabel* lExamen() const;
    QDateEdit* edDate() const;
    kui::DataLookupComboBox* cmbExamen() const;
    QPlainTextEdit* mmResultat() const;
    QToolButton* btnNew() const;
    QToolButton* btnEdit() const;
    QToolButton* btnPost() const;
    QToolButton* btnCancel() const;
    QPushButton* btnRadioBio() const;
    QPushButton* btnClose() const;
    QMenu* PopMenu() const { return PopMenu_; }

public slots:
    void btnNewClick();
    void btnEditClick();
    // True when the exam was written.
    bool btnPostClick();
    void btnCancelClick();
    void btnRadioBioClick();
    void mnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormShow();
    void OpenExamList();
    // False when the exam of a number is not there any more (deleted on
    // another workstation): the editors then keep what they show.
    bool LoadExam(const QString& num);
    // LoadExam of Num; an exam deleted meanwhile is told.
    bool ReloadExam();
    // The exam named in the messages.
    QString ExamWhat() const;
    void EnableEditors();
    void DisableEditors();
    void SetEditors(bool on);
    void UpdateButtons();
    // Back to the stored exam, the editors closed (Annuler without its
    // question).
    void CancelEdit();
    // The date, exam and result (trimmed, as it is saved) when the editors
    // opened; whether they differ now.
    QStringList EditorValues() const;
    void NoteEditorValues();
    bool Typed() const;

    AppContext& context_;
    Ui::TfrmExComp* ui;
    kdb::QueryDataset* qExamen;
    QMenu* PopMenu_;
    QAction *mnNew, *mnEdit, *mnPost, *mnCancel, *mnClose;
    bool closing_ = false;
    QString rowWhat_;  // the exam as it was read last
    QStringList typedFrom_;
};
