#pragma once
// The work certificate dialog: sick leave, prolonged sick leave or return
// to work for the current patient (CurrentPatientCode). OK previews the
// certificate, then the dialog closes.
#include <QDialog>

class QComboBox;
class QDateEdit;
class QLineEdit;
struct AppContext;

namespace Ui {
class TfrmArretTrv;
}

class TfrmArretTrv : public QDialog {
    Q_OBJECT
public:
    explicit TfrmArretTrv(AppContext& context, QWidget* parent = nullptr);
    ~TfrmArretTrv() override;

    QComboBox* cmbType() const;
    QLineEdit* edNbDays() const;
    QComboBox* cmbDays() const;
    QDateEdit* edDate() const;
    QDateEdit* edDateEtab() const;

public slots:
    void cmbTypeChange();
    void btnOkClick();

private:
    AppContext& context_;
    Ui::TfrmArretTrv* ui;
};

// Shows the certificate dialog modally.
void PrintWorkCertificate(AppContext& context, QWidget* parent = nullptr);
