#include "app/backup/USaveRestore.h"
#include "ui_USaveRestore.h"

#include "app/backup/BackupProgress.h"
#include "app/backup/BackupSet.h"
#include "app/backup/URestorFiles.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "controls/Gradient.h"
#include "platform/os/Paths.h"
#include "platform/os/Volumes.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/WaitCursor.h"
#include "zip/ZipArch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>

#include <optional>

std::function<std::function<void()>()> CloseAppointmentListForRestore;

namespace {

QString WithSlash(const QString& dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

}  // namespace

TfrmSaveRestore::TfrmSaveRestore(AppContext& context, Mode mode, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmSaveRestore), zip_(std::make_unique<TZipArchiver>(this))
{
    ui->setupUi(this);
    kui::EscapeDoesNothing(this);  // a Close button, no cancel button: Esc does nothing
    ui->Gradient1->setStyle(TGradient::gsReflectedV);
    ui->Gradient1->setReverse(true);
    ui->Gradient1->setColorEnd(QColor(0xC0, 0xC0, 0xC0));
    connect(ui->btnSave, &QPushButton::clicked, this, &TfrmSaveRestore::btnSaveClick);
    connect(ui->btnRestore, &QPushButton::clicked, this, &TfrmSaveRestore::btnRestoreClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    FormCreate();
    const bool backup = mode == Mode::Backup;
    setWindowTitle(backup ? QStringLiteral("Sauvegarde") : QStringLiteral("Restaure"));
    ui->btnSave->setVisible(backup);
    ui->btnRestore->setVisible(!backup);
}

TfrmSaveRestore::~TfrmSaveRestore()
{
    FormClose();
    delete ui;
}

QPushButton* TfrmSaveRestore::btnSave() const
{
    return ui->btnSave;
}
QPushButton* TfrmSaveRestore::btnRestore() const
{
    return ui->btnRestore;
}
QPushButton* TfrmSaveRestore::btnClose() const
{
    return ui->btnClose;
}

void TfrmSaveRestore::FormCreate()
{
    pBar_ = new QProgressBar(ui->stBar);
    pBar_->setObjectName(QStringLiteral("pBar"));
    pBar_->setMinimum(0);
    pBar_->setTextVisible(false);
    pBar_->hide();
    ui->stBar->addWidget(pBar_, 1);
    progress_ = std::make_unique<backup::Progress>(pBar_);
    zip_->AddCompLevel = 9;
    // The archive libraries come from the program's own library directory,
    // never from the practice's folder (shared, writable by its users).
    zip_->SetDLLDirectory(kos::ProgramLibraryDir());
    zip_->OnProgress = [this](TZipArchiver*, ProgressType type, const QString&, qint64 size) {
        progress_->Event(type, size);
    };
    zip_->OnMessage = [](TZipArchiver*, int, const QString&) { QCoreApplication::processEvents(); };
    zip_->LoadZipEng();
    zip_->LoadUnzEng();
    ChooseFolder = [](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Choisir l'endroit où sauvegarder."), start);
    };
    ChooseArchive = [](QWidget* parent, QString& fileName) {
        TfrmRestorFiles dialog(parent);
        const bool ok = dialog.exec() == QDialog::Accepted;
        fileName = ok ? dialog.FileName : QString();
        return ok;
    };
}

void TfrmSaveRestore::FormClose()
{
    zip_->UnloadZipEng();
    zip_->UnloadUnzEng();
}

void TfrmSaveRestore::closeEvent(QCloseEvent* event)
{
    // No closing while the work runs.
    if (!ui->btnClose->isEnabled()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmSaveRestore::reject()
{
    // Nothing closes the screen while the work runs.
    if (ui->btnClose->isEnabled())
        QDialog::reject();
}

void TfrmSaveRestore::Busy(bool busy)
{
    ui->btnSave->setEnabled(!busy);
    ui->btnRestore->setEnabled(!busy);
    ui->btnClose->setEnabled(!busy);
    pBar_->setVisible(busy);
    QCoreApplication::processEvents();
}

void TfrmSaveRestore::btnSaveClick()
{
    DoBackup();
}

void TfrmSaveRestore::DoBackup()
{
    const QString folder = ChooseFolder ? ChooseFolder(this, DataPath) : QString();
    if (folder.isEmpty())
        return;
    // A folder on a removable volume takes the disk question, and the
    // archive is spread over as many disks as it needs.
    kos::VolumeService& volumes = kos::Volumes();
    const QString root = volumes.RootOf(folder);
    const bool removable = volumes.TypeOf(root) == kos::DriveType::Removable;
    if (removable) {
        QApplication::beep();
        for (;;) {
            if (kui::ShowMessageBox(kui::MsgKind::Information,
                    QStringLiteral("Insérer une disquette dans le lecteur SVP."), QMessageBox::Ok | QMessageBox::Cancel,
                    {}, this) != QMessageBox::Ok)
                return;
            QCoreApplication::processEvents();
            qint64 free = -1, total = -1;
            const QString now = volumes.CurrentRoot(root);
            if (!now.isEmpty() && volumes.Space(now, free, total) && free >= 0)
                break;
        }
    }
    QString failure;
    bool ok = false;
    const QString target = WithSlash(folder) + QStringLiteral("Korvale.zip");
    const bool hadArchive = QFileInfo::exists(target);
    {
        kui::WaitCursor wait;
        Busy(true);
        backup::TableHold hold;
        if (!hold.Take(context_.schema, DataPath, backup::TableHold::Mode::TableLock))
            failure =
                QStringLiteral("la table %1 est en cours de modification sur un autre poste").arg(hold.BusyTable());
        else
            ok = backup::WriteArchive(
                *zip_, backup::BackupFileSpecs(context_.schema, DataPath), target, failure, removable, ProtDir);
        QCoreApplication::processEvents();
        pBar_->hide();
        ui->btnClose->setEnabled(true);
    }
    // One backup per opening of the screen.
    ui->btnSave->setEnabled(false);
    if (!ok) {
        // The previous archive is spoken of only when there is one.
        const QString after = removable
            ? QStringLiteral("\rLes disques déjà écrits ne forment pas une sauvegarde complète.")
            : hadArchive ? QStringLiteral("\rL'ancienne sauvegarde reste en place.")
                         : QString();
        kui::MsgError(QStringLiteral("La sauvegarde n'a pas été faite : %1.").arg(failure) + after, this);
    }
}

void TfrmSaveRestore::btnRestoreClick()
{
    if (!kui::MsgConfirm(QStringLiteral("Etes-vous sûr de vouloir procéder à la restauration ?"), this))
        return;
    QString fileName;
    const bool chosen = ChooseArchive && ChooseArchive(this, fileName);
    zip_->SetZipFileName(chosen ? fileName : QString());
    if (!chosen)
        return;
    std::function<void()> reopen;
    if (CloseAppointmentListForRestore)
        reopen = CloseAppointmentListForRestore();
    DoRestore();
    if (reopen)
        reopen();
}

void TfrmSaveRestore::DoRestore()
{
    const QString archive = zip_->ZipFileName();
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        kui::MsgError(QStringLiteral("Le fichier de sauvegarde est introuvable à l'endroit indiqué ! ") + archive +
                QLatin1Char('\r'),
            this);
        return;
    }
    const QString temp = AppDir + QStringLiteral("Temp/");
    if (!QFileInfo(temp).isDir() && !QDir().mkpath(temp)) {
        kui::MsgError(QStringLiteral("Impossible de créer le répertoire : ") + temp + QLatin1Char('\r'), this);
        return;
    }
    if (!kui::MsgConfirm(QStringLiteral("Toutes les données seront remplacées par celles contenues dans le fichier !") +
                QStringLiteral("\r\r") + QStringLiteral("Procéder à la restauration ?"),
            this))
        return;
    using Result = backup::TableSetRestore::Result;
    backup::TableSetRestore restore(context_.schema, DataPath, temp, ProtDir);
    Result result;
    {
        kui::WaitCursor wait;
        Busy(true);
        result = restore.Extract(*zip_);
        if (result == Result::Done)
            result = restore.Replace();
        restore.ClearTemp();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        Busy(false);
    }
    const QString untouched =
        QStringLiteral("\rLa restauration n'a pas été faite : vos données n'ont pas été modifiées.");
    switch (result) {
    case Result::Done:
        break;
    case Result::Damaged:
        kui::MsgError(
            QStringLiteral("Le fichier de sauvegarde est endommagé (%1).").arg(restore.Detail()) + untouched, this);
        break;
    case Result::NoTables:
        kui::MsgError(
            QStringLiteral("Le fichier de sauvegarde ne contient aucune table de la base de données.") + untouched,
            this);
        break;
    case Result::TableBusy:
        kui::MsgError(QStringLiteral("La table %1 est ouverte sur un autre poste.\rFermez le programme sur les autres "
                                     "postes puis recommencez.")
                          .arg(restore.Detail()) +
                untouched,
            this);
        break;
    case Result::TableBusyHere:
        kui::MsgError(QStringLiteral("La table %1 est encore ouverte dans ce programme.\rFermez les fenêtres qui "
                                     "l'utilisent puis recommencez.")
                          .arg(restore.Detail()) +
                untouched,
            this);
        break;
    case Result::InProgress:
        kui::MsgError(QStringLiteral("Une restauration est déjà en cours sur un autre poste.\rAttendez qu'elle soit "
                                     "terminée puis recommencez.") +
                untouched,
            this);
        break;
    case Result::Failed:
        kui::MsgError(
            QStringLiteral("Les fichiers n'ont pas pu être remplacés (%1).").arg(restore.Detail()) + untouched, this);
        break;
    }
}
