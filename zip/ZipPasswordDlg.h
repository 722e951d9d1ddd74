#pragma once
// The password dialog of the zip component: a prompt, a hidden edit of at
// most 80 characters and the buttons asked for (OK always, then Cancel,
// Cancel all, Abort), each closing the dialog with its answer: OK 1,
// Cancel 2, Cancel all 9, Abort 3. The dialog is 124 pixels wider for each
// button.
#include "zip/ZipArch.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace Ui {
class TPasswordDlg;
}

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResultCancelAll = 9;
    static constexpr int kResultAbort = 3;
    static constexpr int kWidthPerButton = 124;

    TPasswordDlg(QWidget* parent, TPasswordButtons buttons);
    ~TPasswordDlg() override;

    void SetPrompt(const QString& prompt);
    QLineEdit* edPassword() const;
    QPushButton* Button(TPasswordButton which) const;
    int ButtonCount() const { return buttonCount_; }

private:
    Ui::TPasswordDlg* ui;
    int buttonCount_ = 0;
};
