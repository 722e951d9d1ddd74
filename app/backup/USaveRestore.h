#pragma once
// The backup and restore screen: one screen, two modes. In backup mode it
// writes every table file of the schema into "Korvale.zip" in a folder the
// user picks; in restore mode it lets the user pick a backup archive
// (TfrmRestorFiles) and puts its tables back into the data directory as one
// set. Built like the settings dialog (app/main/UOption.h).
#include <QDialog>

#include <functional>
#include <memory>

class QProgressBar;
class QPushButton;
class TZipArchiver;
struct AppContext;

namespace backup {
class Progress;
}

namespace Ui {
class TfrmSaveRestore;
}

// Closes the appointment list window before a restore, when it is open, so
// that it no longer holds its tables, and answers what shows it again once
// the restore is over (empty when no list was open). Set by the main window.
extern std::function<std::function<void()>()> CloseAppointmentListForRestore;

class TfrmSaveRestore : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Backup, Restore };
    // The screen as the main window opens it: caption and action button of
    // the mode.
    TfrmSaveRestore(AppContext& context, Mode mode, QWidget* parent = nullptr);
    ~TfrmSaveRestore() override;

    QPushButton* btnSave() const;
    QPushButton* btnRestore() const;
    QPushButton* btnClose() const;
    QProgressBar* pBar() const { return pBar_; }
    TZipArchiver* ZipArchiver1() const { return zip_.get(); }

    // The folder browser of the backup ("" = cancelled); the dialog by default.
    std::function<QString(QWidget* parent, const QString& start)> ChooseFolder;
    // The choice of the archive to restore: true with its full name when
    // chosen; TfrmRestorFiles by default.
    std::function<bool(QWidget* parent, QString& fileName)> ChooseArchive;

public slots:
    void btnSaveClick();
    void btnRestoreClick();
    void DoBackup();
    void DoRestore();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void FormCreate(Mode mode);
    void FormClose();
    void Busy(bool busy);

    AppContext& context_;
    Ui::TfrmSaveRestore* ui;
    QProgressBar* pBar_ = nullptr;
    std::unique_ptr<TZipArchiver> zip_;
    std::unique_ptr<backup::Progress> progress_;
    QString chosen_;  // the archive chosen for the restore
};
