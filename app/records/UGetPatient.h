#pragma once
// The patient picker: the user types the beginning of a family name, the
// dialog lists the matching patients, a double-click chooses one. Its only
// result is CurrentPatientCode: the chosen patient's CODE, or empty.
// Built on the application context like every screen (app/main/UOption.h).
#include <QDialog>

#include "platform/db/dataset/Dataset.h"

struct AppContext;

namespace Ui {
class TfrmGetPatient;
}
namespace kui {
class DataGrid;
}
class QLineEdit;

class TfrmGetPatient : public QDialog {
    Q_OBJECT
public:
    explicit TfrmGetPatient(AppContext& context, QWidget* parent = nullptr);
    ~TfrmGetPatient() override;

    QLineEdit* edNom() const;
    kui::DataGrid* grdPatient() const;
    kdb::QueryDataset& qPatient() { return qPatient_; }
    QString statusText() const;

public slots:
    void BitBtn1Click();
    void grdPatientDblClick();
    void btnPatientClick();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FormClose(int result);

    AppContext& context_;
    Ui::TfrmGetPatient* ui;
    kdb::QueryDataset qPatient_;
};
