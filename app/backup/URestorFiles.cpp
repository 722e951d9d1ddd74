#include "app/backup/URestorFiles.h"
#include "ui_URestorFiles.h"

#include "app/backup/BackupSet.h"
#include "app/global/global.h"
#include "platform/ui/Formats.h"
#include "platform/ui/Messages.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

TfrmRestorFiles::TfrmRestorFiles(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmRestorFiles)
{
    ui->setupUi(this);
    for (const QFileInfo& drive : QDir::drives())
        ui->cmbDrive->addItem(drive.absoluteFilePath().toUpper());
    menu_ = new QMenu(this);
    mnSelect_ = menu_->addAction(QStringLiteral("Sélectionner"), this, &TfrmRestorFiles::btnOkClick);
    mnSelect_->setObjectName(QStringLiteral("mnSelect"));
    mnSelect_->setEnabled(false);
    menu_->addAction(QStringLiteral("Annuler"), this, &TfrmRestorFiles::Annuler1Click)
        ->setObjectName(QStringLiteral("Annuler1"));
    connect(ui->myListView, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { menu_->popup(ui->myListView->viewport()->mapToGlobal(pos)); });
    connect(ui->myListView, &QTreeWidget::itemSelectionChanged, this, &TfrmRestorFiles::myListViewSelectItem);
    ui->myListView->viewport()->installEventFilter(this);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmRestorFiles::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnGetDir, &QToolButton::clicked, this, &TfrmRestorFiles::btnGetDirClick);
    connect(ui->DirList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        SetDirectory(QDir(directory_ + item->data(Qt::UserRole).toString()).absolutePath());
    });
    ChooseFolder = [](QWidget* parent) {
        return QFileDialog::getExistingDirectory(parent, QString(), QDir::rootPath());
    };
}

TfrmRestorFiles::~TfrmRestorFiles()
{
    delete ui;
}

QTreeWidget* TfrmRestorFiles::myListView() const
{
    return ui->myListView;
}
QListWidget* TfrmRestorFiles::DirList() const
{
    return ui->DirList;
}
QPushButton* TfrmRestorFiles::btnOk() const
{
    return ui->btnOk;
}

bool TfrmRestorFiles::eventFilter(QObject* watched, QEvent* event)
{
    // A double click, on a row or on empty space, is the OK button.
    if (watched == ui->myListView->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        btnOkClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmRestorFiles::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (directory_.isEmpty())
        SetDirectory(DataPath);
}

void TfrmRestorFiles::SetDirectory(const QString& dir)
{
    directory_ = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    FillDirList();
    ListBackupFiles();
}

// The directory list: the parent folder and the sub-folders.
void TfrmRestorFiles::FillDirList()
{
    ui->DirList->clear();
    ui->DirList->setToolTip(directory_);
    if (!QDir(directory_).isRoot()) {
        auto* up = new QListWidgetItem(QStringLiteral(".."), ui->DirList);
        up->setData(Qt::UserRole, QStringLiteral(".."));
    }
    const QStringList subDirs =
        QDir(directory_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subDirs) {
        auto* item = new QListWidgetItem(name, ui->DirList);
        item->setData(Qt::UserRole, name);
    }
}

void TfrmRestorFiles::ListBackupFiles()
{
    ui->myListView->clear();
    QFileInfoList archives = backup::BackupArchives(directory_);
    std::stable_sort(archives.begin(), archives.end(),
        [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() > b.lastModified(); });
    for (const QFileInfo& fi : archives)
        new QTreeWidgetItem(ui->myListView, {fi.fileName(), kui::DateTimeToStr(fi.lastModified())});
    myListViewSelectItem();
}

void TfrmRestorFiles::btnGetDirClick()
{
    const QString dir = ChooseFolder ? ChooseFolder(this) : QString();
    if (dir.isEmpty())
        return;
    SetDirectory(dir);
}

void TfrmRestorFiles::myListViewSelectItem()
{
    const bool selected = !ui->myListView->selectedItems().isEmpty();
    ui->btnOk->setEnabled(selected);
    mnSelect_->setEnabled(selected);
}

void TfrmRestorFiles::btnOkClick()
{
    const QList<QTreeWidgetItem*> selected = ui->myListView->selectedItems();
    if (selected.isEmpty()) {
        kui::MsgError(QStringLiteral("Veuillez sélectionner un fichier SVP !"), this);
        return;
    }
    FileName = directory_ + selected.first()->text(0);
    DateText = selected.first()->text(1);
    accept();
}

void TfrmRestorFiles::Annuler1Click()
{
    reject();
}
