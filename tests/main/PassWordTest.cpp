// The login dialog and the password change, on a copy of the user table
// shipped with the program.
#include "app/main/UPassWord.h"
#include "app/main/PasswordHash.h"

#include "app/global/global.h"
#include "platform/db/core/Table.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/engine/Engine.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "tests/support/TempPractice.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

const QString kBadLogin = QStringLiteral("Combinaison Utilisateur et Mot de Passe incorrecte !");

class PassWordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(KORVALE_BINARY_DIR "/shipped/USERS.DB"), AppDir + "USERS.DB"));
        QFile::setPermissions(AppDir + "USERS.DB", QFile::ReadOwner | QFile::WriteOwner);
        CurrentUserId.clear();
        kdb::Session::instance().removeAllPasswords();
        previousHandler_ = kui::TApplication::SetExceptionHandler({});
    }
    void TearDown() override
    {
        kui::TApplication::SetExceptionHandler(previousHandler_);
        kdb::Session::instance().removeAllPasswords();
    }

    // Rows of the user table as USERID -> PW, read straight through the engine.
    QMap<QString, QString> Users()
    {
        auto& session = kdb::Session::instance();
        session.addPassword("/Kelvar/");
        auto table = kdb::engine::openTable(AppDir.toStdString(), "USERS.DB");
        QMap<QString, QString> rows;
        const int id = table->fieldIndex("USERID"), pw = table->fieldIndex("PW");
        for (uint32_t r = 1; r <= table->recordCount(); ++r)
            if (!table->isDeleted(r))
                rows.insert(table->value(r, id).toString(), table->value(r, pw).toString());
        table.reset();
        session.removeAllPasswords();
        return rows;
    }
    void AddUser(const QString& id, const QString& pw)
    {
        kdb::Session::instance().addPassword("/TAVEN/");
        kdb::QueryDataset q;
        q.setDatabaseName(AppDir.toStdString());
        q.setSql("INSERT INTO USERS (USERID, NOM, PRENOM, ACCES, PW) VALUES (:ID, 'X', 'Y', 'Z', :PW)");
        q.setParamText("ID", id);
        q.setParamText("PW", pw);
        q.execSql();
        kdb::Session::instance().removeAllPasswords();
    }
    // Shows a login dialog, types the password and presses OK.
    int Login(const QString& userId, const QString& password)
    {
        TfrmPassWord dlg;
        dlg.Tag = 0;
        dlg.show();
        dlg.edUserId()->setText(userId);
        dlg.edPassword()->setText(password);
        dlg.btnOk()->click();
        return dlg.isVisible() ? -1 : dlg.result();
    }

    TempPractice practice_;
    kui::RecordingMessageService& messages_ = practice_.messages();
    kui::TApplication::ExceptionHandler previousHandler_;
};

TEST_F(PassWordTest, EmptyUserTableGetsManagerWithEmptyPasswordStoredAsHashAtLogin)
{
    EXPECT_EQ(Login("MANAGER", ""), QDialog::Accepted);
    for (const auto& box : messages_.Records())
        ADD_FAILURE() << box.text.toStdString();
    EXPECT_EQ(CurrentUserId, "MANAGER");
    const auto users = Users();
    ASSERT_EQ(users.size(), 1);
    // The clear-text empty password of the new row is replaced by its hash.
    EXPECT_TRUE(IsPasswordHash(users.value("MANAGER"))) << users.value("MANAGER").toStdString();
    // ... which still opens the door, and only to the empty password.
    EXPECT_EQ(Login("MANAGER", ""), QDialog::Accepted);
    EXPECT_EQ(Login("MANAGER", "x"), -1);
    EXPECT_EQ(messages_.Last().text, kBadLogin);
}

TEST_F(PassWordTest, LoginModeLooksAndProposesTheLastUserIdInCapitals)
{
    {
        TfrmPassWord dlg;
        dlg.show();
        EXPECT_EQ(dlg.edUserId()->text(), "MANAGER");  // no settings file yet
        dlg.edUserId()->clear();
        QTest::keyClicks(dlg.edUserId(), "dupont");
        EXPECT_EQ(dlg.edUserId()->text(), "DUPONT");
        dlg.edPassword()->setText("faux");
        dlg.btnOk()->click();
        EXPECT_TRUE(dlg.isVisible());
        dlg.btnCancel()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    // Written at close, whether the login succeeded or not.
    EXPECT_EQ(kui::TIniFile(DataPath + "KORVALE.INI").ReadString("PARAMS", "USERID"), "DUPONT");
    TfrmPassWord next;
    next.show();
    EXPECT_EQ(next.edUserId()->text(), "DUPONT");
    next.reject();
}

TEST_F(PassWordTest, ThirdFailureEndsTheLoginTwoFailuresThenRightOneEnters)
{
    Login("MANAGER", "");  // creates MANAGER
    messages_.Clear();
    {
        TfrmPassWord dlg;
        dlg.show();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            EXPECT_TRUE(dlg.isVisible()) << attempt;
            dlg.edPassword()->setText("mauvais");
            dlg.btnOk()->click();
        }
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        ASSERT_EQ(messages_.Count(), 3);
        for (const auto& box : messages_.Records()) {
            EXPECT_EQ(box.kind, kui::MsgKind::Error);
            EXPECT_EQ(box.text, kBadLogin);
        }
    }
    messages_.Clear();
    TfrmPassWord dlg;
    dlg.show();
    dlg.edPassword()->setText("a");
    dlg.btnOk()->click();
    dlg.edPassword()->setText("b");
    dlg.btnOk()->click();
    EXPECT_TRUE(dlg.isVisible());
    dlg.edPassword()->setText("");
    dlg.btnOk()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(messages_.Count(), 2);
}

TEST_F(PassWordTest, ClearTextPasswordOfAnOlderTableIsAcceptedOnceAndReplacedByItsHash)
{
    AddUser("MARTIN", "ancien");
    EXPECT_EQ(Login("MARTIN", "Ancien"), -1);
    EXPECT_EQ(Users().value("MARTIN"), "ancien");  // a failure changes nothing
    EXPECT_EQ(Login("MARTIN", "ancien"), QDialog::Accepted);
    const QString stored = Users().value("MARTIN");
    EXPECT_TRUE(IsPasswordHash(stored));
    EXPECT_EQ(CheckPassword(stored, "ancien"), PasswordMatch::Yes);
    EXPECT_EQ(Login("MARTIN", "ancien"), QDialog::Accepted);
}

TEST_F(PassWordTest, ChangeModeStoresTheNewPasswordOnlyAfterTheRightOldOne)
{
    AddUser("DUPONT", HashPassword("vieux"));
    ASSERT_EQ(Login("DUPONT", "vieux"), QDialog::Accepted);
    const QString before = Users().value("DUPONT");
    messages_.Clear();
    {
        TfrmPassWord dlg;
        dlg.Tag = 10;
        dlg.show();
        EXPECT_EQ(dlg.lblUserId()->text(), "Ancien mot de passe : ");
        EXPECT_EQ(dlg.edPassword()->echoMode(), QLineEdit::Normal);
        EXPECT_TRUE(dlg.edUserId()->text().isEmpty());
        for (int i = 0; i < 4; ++i) {  // failures are not counted in this mode
            dlg.edUserId()->setText("pas le bon");
            dlg.edPassword()->setText("nouveau");
            dlg.btnOk()->click();
            EXPECT_TRUE(dlg.isVisible());
        }
        EXPECT_EQ(messages_.Count(), 4);
        EXPECT_EQ(Users().value("DUPONT"), before);
        // The old password is typed as it is: small letters are not forced
        // to capitals in this mode.
        dlg.edUserId()->clear();
        QTest::keyClicks(dlg.edUserId(), "vieux");
        EXPECT_EQ(dlg.edUserId()->text(), "vieux");
        dlg.edPassword()->setText("l'Été 2026");  // a quote is stored as typed
        dlg.btnOk()->click();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(IsPasswordHash(Users().value("DUPONT")));
    EXPECT_EQ(Login("DUPONT", "vieux"), -1);
    EXPECT_EQ(Login("DUPONT", "l'été 2026"), -1);
    EXPECT_EQ(Login("DUPONT", "l'Été 2026"), QDialog::Accepted);
}

TEST_F(PassWordTest, InstallsTheHandlersAndEmptiesTheSessionPasswordsAtClose)
{
    {
        TfrmPassWord dlg;
        dlg.show();
        bool retry = false;
        kdb::Session::instance().passwordHandler()(retry);
        EXPECT_TRUE(retry);
        EXPECT_TRUE(kdb::Session::instance().hasPassword("/Kelvar/"));
        EXPECT_TRUE(kdb::Session::instance().hasPassword("/TAVEN/"));
        dlg.reject();
        EXPECT_TRUE(kdb::Session::instance().passwords().empty());
    }
    // The exception handler stays installed after the dialog is gone.
    messages_.Clear();
    kui::TApplication::HandleException(std::runtime_error("Table verrouillée"));
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Plain);
    EXPECT_EQ(messages_.Last().text, "Table verrouillée");
}

TEST_F(PassWordTest, ADamagedUserTableKeepsThePasswordMaskedAndSaysWhichFileToRestore)
{
    {
        QFile f(AppDir + "USERS.DB");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(3000, '\x5a'));
    }
    TfrmPassWord dlg;
    dlg.Tag = 0;
    dlg.show();
    EXPECT_EQ(dlg.edPassword()->echoMode(), QLineEdit::Password);
    ASSERT_EQ(messages_.Count(), 1);
    const QString text = messages_.Last().text;
    EXPECT_TRUE(text.contains(AppDir + "USERS.DB")) << text.toStdString();
    EXPECT_TRUE(text.contains("sauvegarde")) << text.toStdString();
    dlg.reject();
}

TEST(PasswordHash, HashesAreSaltedAndVerified)
{
    const QString a = HashPassword("motdepasse"), b = HashPassword("motdepasse");
    EXPECT_NE(a, b);
    EXPECT_TRUE(IsPasswordHash(a));
    EXPECT_EQ(CheckPassword(b, "motdepasse"), PasswordMatch::Yes);
    EXPECT_EQ(CheckPassword(a, "Motdepasse"), PasswordMatch::No);
    EXPECT_EQ(CheckPassword("clair", "Clair"), PasswordMatch::No);
}

}  // namespace
