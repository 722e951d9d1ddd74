#pragma once
// The choice of the backup archive to restore: the archives named like
// "Korvale??.zip" of a folder, and the last volume of a set of numbered
// ones ("Korvale003.zip"), newest first. The folder is chosen on a mounted
// volume (the drive combo), in the folder tree of that volume, or with the
// folder browser.
#include <QDialog>

#include <functional>

class QComboBox;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace Ui {
class TfrmRestorFiles;
}

class TfrmRestorFiles : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRestorFiles(QWidget* parent = nullptr);
    ~TfrmRestorFiles() override;

    // Results once closed with OK.
    QString FileName;
    QString DateText;

    QTreeWidget* myListView() const;
    // The folder tree: the way from the volume's root down to the listed
    // folder (the current item), then its sub-folders.
    QTreeWidget* DirList() const;
    // The mounted volumes, each with its root as item data.
    QComboBox* cmbDrive() const;
    QPushButton* btnOk() const;
    QAction* mnSelect() const { return mnSelect_; }

    // The folder whose archives are listed (trailing "/").
    QString Directory() const { return directory_; }
    // Changes the folder and fills the list again.
    void SetDirectory(const QString& dir);

    // The folder browser ("" = cancelled); the dialog by default.
    std::function<QString(QWidget* parent)> ChooseFolder;

public slots:
    void ListBackupFiles();
    void btnGetDirClick();
    void cmbDriveChange(int index);
    void btnOkClick();
    void myListViewSelectItem();
    void Annuler1Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDirList();
    // The entry of the volume at Root (added when it is not listed yet).
    int DriveIndex(const QString& root);
    Ui::TfrmRestorFiles* ui;
    QString directory_;
    QMenu* menu_ = nullptr;
    QAction* mnSelect_ = nullptr;
};
