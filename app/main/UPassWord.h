#pragma once
#include <QDialog>

#include <exception>
#include <memory>

class QLineEdit;
class QLabel;
class QPushButton;

namespace kdb {
class QueryDataset;
}
namespace Ui {
class TfrmPassWord;
}

// The login dialog (Tag 0) and the password change of the logged-in user
// (any other Tag). Its first showing installs the application's exception
// handler and the database session's password handler for the rest of the
// run.
class TfrmPassWord : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPassWord(QWidget* parent = nullptr);
    ~TfrmPassWord() override;

    int Tag = 0;
    bool IsLoginMode() const { return Tag == 0; }

    // True when the user id exists and the password is its own; sets
    // CurrentUserId. A password still stored in clear is replaced by its
    // hash on success.
    bool CheckUser(const QString& UserId, const QString& Password);

    // The database session's password handler: gives the session the
    // passwords of the user table and asks it to try again.
    static void SessionPassword(bool& Continue);
    // The application's exception handler: the message alone in a plain box.
    static void AppException(const std::exception& E);

    QLineEdit* edUserId() const;
    QLineEdit* edPassword() const;
    QLabel* lblUserId() const;
    QLabel* lblPassword() const;
    QPushButton* btnOk() const;
    QPushButton* btnCancel() const;
    // Failed attempts of this showing.
    static int FailedAttempts();

public slots:
    void btnOkClick();
    void btnCancelClick();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void FormClose();
    void StorePassword(const QString& UserId, const QString& Password);
    void edUserIdEdited(const QString& text);

    std::unique_ptr<Ui::TfrmPassWord> ui;
    kdb::QueryDataset* User;
    bool closed_ = false;
};
