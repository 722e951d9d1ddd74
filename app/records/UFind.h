#pragma once
// Find dialog of the patient file: by the beginning of the name (ignoring
// case) or by the exact code, in the edit that has the focus. The located
// record becomes the patient file's current record.
#include <QDialog>

#include "platform/db/dataset/Dataset.h"

namespace Ui {
class TfrmFind;
}
class QLineEdit;

class TfrmFind : public QDialog {
    Q_OBJECT
public:
    TfrmFind(kdb::Dataset& patient, QWidget* parent = nullptr);
    ~TfrmFind() override;

    QLineEdit* sName() const;
    QLineEdit* sCode() const;

public slots:
    void btnFindClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    kdb::Dataset& patient_;
    Ui::TfrmFind* ui;
    QLineEdit* lastEdit_;
};
