#pragma once
// The practice settings dialog, and the model every screen of the program
// follows:
//
// - Layout, texts and tab order live in the .ui file (UOption.ui); the
//   class adds only what the designer cannot say (colours of the gradient,
//   the grey read-only fields, the key handling).
// - The screen is built on the application context and an optional parent:
//   `TfrmOption(AppContext&, QWidget*)`. It reaches the engine session, the
//   catalog, the message service and the outside steps only through the
//   context, and the shared variables of app/global/global.h by name; a
//   test builds it over a temporary practice in two lines:
//       TempPractice practice;
//       TfrmOption dlg(practice.context());
// - Event code is named after the window event or after the component and
//   its event: FormCreate, FormShow, btnOkClick, edStatutKeyPress. Slots are
//   public so that a test or the caller can run them as a user click would.
// - A screen that edits records keeps an editing flag, switches its
//   controls with Enable() and Disable(), and sets its buttons in
//   UpdateButtons() from the flag and the dataset's state (btnPostClick,
//   btnCancelClick, ...). A non-modal screen that lives for the run has one
//   global instance, `frm<Role>` (frmMain), null while it does not exist;
//   a modal dialog such as this one is created by its caller on the stack.
// - Every message box goes through the message service (platform/ui/
//   Messages.h), so the test answers it; exceptions are caught before they
//   reach the event loop.
// - Its test (tests/main/OptionTest.cpp) drives it as a user does: keys and
//   clicks in, the settings file and the shared variables checked out.
#include <QDialog>

class QLineEdit;
struct AppContext;

namespace Ui {
class TfrmOption;
}

// The practice settings dialog: the five practice details printed in the
// header of every document, beside the practitioner's name and speciality
// (read-only).
class TfrmOption : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOption(AppContext& context, QWidget* parent = nullptr);
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

    AppContext& context_;
    Ui::TfrmOption* ui;
    QString section_;
    QString fileName_;
};
