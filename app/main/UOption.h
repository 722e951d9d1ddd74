#pragma once
#include <QDialog>

class QLineEdit;

namespace Ui {
class TfrmOption;
}

// The practice settings dialog: the five practice details printed in the
// header of every document, beside the practitioner's name and speciality
// (read-only).
class TfrmOption : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOption(QWidget* parent = nullptr);
    ~TfrmOption() override;

    QLineEdit* edDoc() const;
    QLineEdit* edSpec() const;
    QLineEdit* edDet() const;
    QLineEdit* edAdr() const;
    QLineEdit* edVille() const;
    QLineEdit* edTel() const;
    QLineEdit* edEmail() const;

public slots:
    void btnOkClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    // Enter moves the focus to the next control (the seven edits).
    bool edStatutKeyPress(QWidget* edit, int key);

    Ui::TfrmOption* ui;
    QString section_;
    QString fileName_;
};
