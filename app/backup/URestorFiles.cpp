#include "app/backup/URestorFiles.h"
#include "ui_URestorFiles.h"

#include "app/backup/BackupSet.h"
#include "app/global/global.h"
#include "platform/os/Volumes.h"
#include "platform/ui/Formats.h"
#include "platform/ui/Messages.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>

TfrmRestorFiles::TfrmRestorFiles(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmRestorFiles)
{
    ui->setupUi(this);
    for (const QString& root : kos::Volumes().Roots())
        DriveIndex(root);
    connect(ui->cmbDrive, &QComboBox::activated, this, &TfrmRestorFiles::cmbDriveChange);
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
    // The name column wide enough for any archive's name, its caption above it.
    const int nameWidth = ui->myListView->fontMetrics().horizontalAdvance(QStringLiteral("KORVALE_99.ZIP")) + 16;
    ui->myListView->setColumnWidth(0, nameWidth);
    ui->Panel2->setFixedWidth(ui->myListView->frameWidth() + nameWidth);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmRestorFiles::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnGetDir, &QToolButton::clicked, this, &TfrmRestorFiles::btnGetDirClick);
    // The whole way down to the listed folder is always shown: no branch folds.
    ui->DirList->setItemsExpandable(false);
    ui->DirList->setRootIsDecorated(false);
    connect(ui->DirList, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem* item) { SetDirectory(item->data(0, Qt::UserRole).toString()); });
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
QTreeWidget* TfrmRestorFiles::DirList() const
{
    return ui->DirList;
}
QComboBox* TfrmRestorFiles::cmbDrive() const
{
    return ui->cmbDrive;
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
    const QSignalBlocker quiet(ui->cmbDrive);
    ui->cmbDrive->setCurrentIndex(DriveIndex(kos::Volumes().RootOf(directory_)));
    FillDirList();
    ListBackupFiles();
}

int TfrmRestorFiles::DriveIndex(const QString& root)
{
    const int found = ui->cmbDrive->findData(root);
    if (found >= 0)
        return found;
    QString text = root.size() > 1 && root.endsWith(QLatin1Char('/')) ? root.chopped(1) : root;
    switch (kos::Volumes().TypeOf(root)) {
    case kos::DriveType::Removable:
        text += QStringLiteral(" (amovible)");
        break;
    case kos::DriveType::CdRom:
        text += QStringLiteral(" (CD)");
        break;
    case kos::DriveType::Network:
        text += QStringLiteral(" (réseau)");
        break;
    default:
        break;
    }
    ui->cmbDrive->addItem(text, root);
    return ui->cmbDrive->count() - 1;
}

// A volume chosen in the combo: its folder tree from its root. A medium
// taken out meanwhile is followed where it is mounted now, or reported.
void TfrmRestorFiles::cmbDriveChange(int index)
{
    const QString root = ui->cmbDrive->itemData(index).toString();
    if (root.isEmpty() || root == kos::Volumes().RootOf(directory_))
        return;
    const QString now = kos::Volumes().CurrentRoot(root);
    if (now.isEmpty() || !QFileInfo(now).isDir()) {
        kui::MsgError(QStringLiteral("Le volume %1 n'est pas accessible : aucun support lisible.").arg(root), this);
        const QSignalBlocker quiet(ui->cmbDrive);
        ui->cmbDrive->setCurrentIndex(DriveIndex(kos::Volumes().RootOf(directory_)));
        return;
    }
    SetDirectory(now);
}

// The folder tree: from the root of the folder's volume down to the folder,
// which is the current item, then its sub-folders beneath it.
void TfrmRestorFiles::FillDirList()
{
    ui->DirList->clear();
    ui->DirList->setToolTip(directory_);
    const QString folder = QDir::cleanPath(directory_);
    QString root = QDir::cleanPath(kos::Volumes().RootOf(directory_));
    if (root != QLatin1String("/") && folder != root && !folder.startsWith(root + QLatin1Char('/')))
        root = QStringLiteral("/");
    QStringList way{folder};
    while (way.first() != root && way.first() != QLatin1String("/"))
        way.prepend(QFileInfo(way.first()).absolutePath());

    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QTreeWidgetItem* item = nullptr;
    for (const QString& path : way) {
        item = item ? new QTreeWidgetItem(item) : new QTreeWidgetItem(ui->DirList);
        item->setText(0, item->parent() ? QFileInfo(path).fileName() : path);
        item->setIcon(0, open);
        item->setData(0, Qt::UserRole, path);
    }
    const QStringList subDirs = QDir(directory_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subDirs) {
        auto* sub = new QTreeWidgetItem(item, {name});
        sub->setIcon(0, closed);
        sub->setData(0, Qt::UserRole, QDir(folder).filePath(name));
    }
    ui->DirList->expandAll();
    ui->DirList->setCurrentItem(item);
    ui->DirList->scrollToItem(item);
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
