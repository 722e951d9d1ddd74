#pragma once
// The patient-list print dialog: letters the family names start with, or a
// name prefix; Print previews the list and the dialog stays open.
#include <QDialog>

class QLineEdit;
class QToolButton;
struct AppContext;

namespace Ui {
class TfrmPrint;
}

class TfrmPrint : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPrint(AppContext& context, QWidget* parent = nullptr);
    ~TfrmPrint() override;

    // The toggle button of a letter ('A' to 'Z').
    QToolButton* btnLetter(QChar letter) const;
    QLineEdit* edTextSearch() const;

public slots:
    void BitBtn1Click();

private:
    void btnLetterClick(QToolButton* button);

    AppContext& context_;
    Ui::TfrmPrint* ui;
    QToolButton* letters_[26];
};

// The dialog shown, read by the patient list report; null when none.
extern TfrmPrint* frmPrint;

// Shows the patient-list print dialog modally.
void PrintPatientList(AppContext& context, QWidget* parent = nullptr);
