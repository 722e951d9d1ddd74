#include "UPassWord.h"
#include "ui_UPassWord.h"

#include "app/global/global.h"
#include "app/main/PasswordHash.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/engine/Engine.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"

#include <QApplication>
#include <QLineEdit>
#include <QShowEvent>

namespace {

// Failed attempts of the current showing of the dialog.
int failedAttempts = 0;

const char* const kSelectUsers = "SELECT * FROM USERS";
const char* const kInsertManager =
    "INSERT INTO USERS.DB (USERID, NOM, PRENOM, ACCES, PW)    VALUES ('MANAGER', 'MANAGER', "
    "'MANAGER', 'MANAGER', '')";
const char* const kSelectUsersAgain = "SELECT * FROM USERS.DB ";
const char* const kUpdatePassword = "UPDATE USERS SET PW=:PW WHERE USERID=:USERID";

}  // namespace

TfrmPassWord::TfrmPassWord(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmPassWord>()), User(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Masked from the start: a failure while the dialog is being prepared
    // must not leave the password readable.
    ui->edPassword->setEchoMode(QLineEdit::Password);
    User->setObjectName(QStringLiteral("User"));
    User->setSql(QString::fromLatin1(kSelectUsers));
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmPassWord::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmPassWord::btnCancelClick);
    connect(ui->edUserId, &QLineEdit::textEdited, this, &TfrmPassWord::edUserIdEdited);
    kui::SetFixedBorder(this);
}

TfrmPassWord::~TfrmPassWord() = default;

QLineEdit* TfrmPassWord::edUserId() const
{
    return ui->edUserId;
}
QLineEdit* TfrmPassWord::edPassword() const
{
    return ui->edPassword;
}
QLabel* TfrmPassWord::lblUserId() const
{
    return ui->lblUserId;
}
QLabel* TfrmPassWord::lblPassword() const
{
    return ui->lblPassword;
}
QPushButton* TfrmPassWord::btnOk() const
{
    return ui->btnOk;
}
QPushButton* TfrmPassWord::btnCancel() const
{
    return ui->btnCancel;
}
int TfrmPassWord::FailedAttempts()
{
    return failedAttempts;
}

// In login mode the user id is typed in capitals. In change mode the first
// field holds the old password, which is taken exactly as typed.
void TfrmPassWord::edUserIdEdited(const QString& text)
{
    if (!IsLoginMode())
        return;
    const QString upper = text.toUpper();
    if (upper != text) {
        const int pos = ui->edUserId->cursorPosition();
        ui->edUserId->setText(upper);
        ui->edUserId->setCursorPosition(pos);
    }
}

void TfrmPassWord::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmPassWord::FormShow()
{
    kui::TApplication::SetExceptionHandler(&TfrmPassWord::AppException);
    failedAttempts = 0;
    // The session's password handler goes in before the user table is first
    // opened: the engine has no prompt of its own to ask for the table's
    // password.
    kdb::Session::instance().setPasswordHandler(&TfrmPassWord::SessionPassword);

    User->setDatabaseName(AppDir.toStdString());
    try {
        User->open();
    } catch (const std::exception&) {
        // A table that cannot be read counts as empty.
    }
    if (!User->active() || User->isEmpty()) {
        try {
            User->close();
            User->setSql(QString::fromLatin1(kInsertManager));
            User->execSql();
            QCoreApplication::processEvents();
            User->setSql(QString::fromLatin1(kSelectUsersAgain));
            User->open();
        } catch (const EDBEngineError& e) {
            // The user sees which file to restore.
            if (!e.file().empty())
                throw;
            throw EDBEngineError(e.code(), (AppDir + QStringLiteral("USERS.DB")).toStdString(), e.detail());
        }
    }
    QCoreApplication::processEvents();

    if (IsLoginMode()) {
        setWindowTitle(QStringLiteral("Mot de passe"));
        ui->edPassword->setEchoMode(QLineEdit::Password);
        ui->lblUserId->setText(QStringLiteral("Utilisateur : "));
        ui->lblPassword->setText(QStringLiteral("Mot de passe : "));
        const kui::TIniFile ini(DataPath + IniKeys::FileName);
        QString userId = ini.ReadString(IniKeys::Params, IniKeys::UserId, QStringLiteral("MANAGER"));
        if (userId.trimmed().isEmpty())
            userId = QStringLiteral("MANAGER");
        ui->edUserId->setText(userId);
        ui->edPassword->setFocus();
    } else {
        setWindowTitle(QStringLiteral("Changement du mot de passe"));
        ui->edPassword->setEchoMode(QLineEdit::Normal);
        ui->lblUserId->setText(QStringLiteral("Ancien mot de passe : "));
        ui->lblPassword->setText(QStringLiteral("Nouveau mot de passe : "));
        ui->edUserId->clear();
        ui->edPassword->clear();
        ui->edUserId->setFocus();
    }
}

bool TfrmPassWord::CheckUser(const QString& UserId, const QString& Password)
{
    bool ok = false;
    if (User->active() && User->locate("USERID", UserId)) {
        const QString stored = User->fieldByName("PW").asString();
        const PasswordMatch match = CheckPassword(stored, Password);
        if (match != PasswordMatch::No) {
            CurrentUserId = User->fieldByName("USERID").asString();
            if (match == PasswordMatch::YesClearText)
                StorePassword(CurrentUserId, Password);
            ok = true;
        }
    }
    if (!ok) {
        QApplication::beep();
        ui->edPassword->setFocus();
        ShowError(QStringLiteral("Combinaison Utilisateur et Mot de Passe incorrecte !"));
    }
    return ok;
}

// Writes the hash of the password into the user's row.
void TfrmPassWord::StorePassword(const QString& UserId, const QString& Password)
{
    kdb::QueryDataset update;
    update.setDatabaseName(AppDir.toStdString());
    update.setSql(QString::fromLatin1(kUpdatePassword));
    update.setParamText("PW", HashPassword(Password));
    update.setParamText("USERID", UserId);
    update.execSql();
}

void TfrmPassWord::btnOkClick()
{
    if (IsLoginMode()) {
        if (CheckUser(ui->edUserId->text(), ui->edPassword->text())) {
            accept();
            return;
        }
        ++failedAttempts;
        if (failedAttempts > 2)
            reject();
        return;
    }
    if (!CheckUser(CurrentUserId, ui->edUserId->text()))
        return;
    if (User->locate("USERID", CurrentUserId)) {
        StorePassword(CurrentUserId, ui->edPassword->text());
        QCoreApplication::processEvents();
        accept();
    }
}

void TfrmPassWord::btnCancelClick()
{
    reject();
}

void TfrmPassWord::done(int result)
{
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    QDialog::done(result);
}

void TfrmPassWord::FormClose()
{
    if (IsLoginMode()) {
        kui::TIniFile ini(DataPath + IniKeys::FileName);
        ini.WriteString(IniKeys::Params, IniKeys::UserId, ui->edUserId->text().toUpper());
    }
    User->close();
    kdb::Session::instance().removeAllPasswords();
}

void TfrmPassWord::SessionPassword(bool& Continue)
{
    auto& session = kdb::Session::instance();
    session.addPassword("/Kelvar/");
    session.addPassword("/TAVEN/");
    Continue = true;
}

void TfrmPassWord::AppException(const std::exception& E)
{
    kui::MsgPlain(kui::ExceptionText(E));
}
