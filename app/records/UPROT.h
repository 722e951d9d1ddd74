#pragma once
// The operative protocol screen: one row of FPROT (date, clinic,
// practitioners, the patient copied from the patient file, diagnosis and
// intervention) and, read-only, its detail text PROT<NUM>.RTF of ProtDir,
// which the detail-text editor changes. Browsing and editing states kept
// in ProtEditing; the caller reads NumProt back after the screen closes.
#include <QDialog>
#include <QStringList>

#include <functional>

class QAction;
class QDateEdit;
class QLineEdit;
class QMenu;
class QPushButton;
class QTextEdit;
class QToolButton;
struct AppContext;

namespace kdb {
class QueryDataset;
class TableDataset;
}  // namespace kdb

namespace Ui {
class TfrmPROT;
}

class TfrmPROT : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPROT(AppContext& context, QWidget* parent = nullptr);
    ~TfrmPROT() override;

    // NUM of the protocol shown; empty for a new protocol.
    QString NumProt;
    bool ProtEditing = false;
    QString ProtFileName;

    // Replaces the patient picker (TfrmGetPatient, shown modally); either
    // leaves the chosen code, or nothing, in CurrentPatientCode.
    static std::function<void(AppContext&, QWidget*)> RunPatientPicker;

    QDateEdit* edDate_PRT() const;
    QLineEdit* edClinique() const;
    QLineEdit* edOperateur() const;
    QLineEdit* edAnest() const;
    QLineEdit* edAide() const;
    QLineEdit* edCode() const;
    QLineEdit* edNom() const;
    QLineEdit* edPrenom() const;
    QLineEdit* edAge() const;
    QTextEdit* edDiag() const;
    QTextEdit* edInterv() const;
    QTextEdit* mmDetail() const;
    QToolButton* btnNew() const;
    QToolButton* btnEdit() const;
    QToolButton* btnPost() const;
    QToolButton* btnCancel() const;
    QToolButton* btnFindPatient() const;
    QPushButton* btnModifDesc() const;
    QPushButton* btnPrint() const;
    QPushButton* btnClose() const;
    QMenu* PopMnPrt() const { return PopMnPrt_; }

public slots:
    void btnNewClick();
    void btnEditClick();
    // True when the row was written.
    bool btnPostClick();
    void btnCancelClick();
    void btnFindPatientClick();
    void btnModifDescClick();
    void btnPrintClick();
    void mnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void EnableEdit();
    void DisableEdit();
    // False when the protocol of NumProt is not there any more (deleted on
    // another workstation): the screen then keeps what it shows.
    bool LoadProt();
    // LoadProt; a protocol deleted meanwhile is told.
    bool ReloadProt();
    // The protocol named in the messages.
    QString ProtWhat() const;
    void UpdateButtons();
    void PatientHandOff();
    QList<QWidget*> EntryControls() const;
    // Back to the stored protocol, the editors closed (Annuler without its
    // question).
    void CancelEdit();
    // The texts of the screen (trimmed, as they are saved) when the edit
    // began; whether they differ now.
    QStringList EditorValues() const;
    void NoteEditorValues();
    bool Typed() const;

    AppContext& context_;
    Ui::TfrmPROT* ui;
    kdb::TableDataset* FPROT;
    kdb::QueryDataset* Patient;
    QMenu* PopMnPrt_;
    QAction *mnNew, *mnModif, *mnPost, *mnCancel, *mnModifDesc, *mnPrint, *mnClose;
    bool closing_ = false;
    QStringList typedFrom_;
    // The detail text file already said to be damaged on this screen: the
    // warning is not repeated each time the text is shown again.
    QString damageShown_;
    QString rowWhat_;  // the protocol as it was read last
};
