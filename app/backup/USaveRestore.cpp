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
#include <QInputDialog>
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
    FormCreate(mode);
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

void TfrmSaveRestore::FormCreate(Mode mode)
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
    // Its work files (an archive spread over disks is written whole first)
    // go into the program's own work folder, never the system's: what a
    // backup stopped midway leaves there goes at the next start.
    zip_->TempDir = TempPath;
    zip_->OnProgress = [this](TZipArchiver*, ProgressType type, const QString&, qint64 size) {
        progress_->Event(type, size);
    };
    zip_->OnMessage = [](TZipArchiver*, int, const QString&) { QCoreApplication::processEvents(); };
    if (mode == Mode::Restore) {
        // One box per failure, the screen's: it tells what went wrong and
        // that nothing was restored. A protected archive's password is
        // asked in French.
        zip_->QuietMessages = true;
        zip_->OnPasswordError = [this](TZipArchiver*, bool, QString& password, const QString&, unsigned&,
                                    TPasswordButton& action) {
            bool ok = false;
            password = QInputDialog::getText(this, QStringLiteral("Sauvegarde protégée"),
                QStringLiteral("Cette sauvegarde est protégée par un mot de passe.\nMot de passe :"),
                QLineEdit::Password, QString(), &ok);
            action = ok ? pwbOk : pwbCancelAll;
        };
    }
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
    chosen_ = chosen ? fileName : QString();
    zip_->SetZipFileName(chosen_);
    if (!chosen)
        return;
    std::function<void()> reopen;
    if (CloseAppointmentListForRestore)
        reopen = CloseAppointmentListForRestore();
    DoRestore();
    if (reopen)
        reopen();
}

namespace {

// The box of a restore that did not go through: what went wrong, named,
// and that nothing was changed.
QString RestoreFailureText(
    backup::TableSetRestore::Result result, const backup::TableSetRestore& restore, const QString& archive)
{
    using Result = backup::TableSetRestore::Result;
    const QString detail = restore.Detail(), reason = restore.Reason();
    QString text;
    switch (result) {
    case Result::Done:
        return {};
    case Result::NotFound:
        text = QStringLiteral("Le fichier de sauvegarde est introuvable à l'endroit indiqué ! ") + archive;
        break;
    case Result::Damaged:
        text = QStringLiteral("Le fichier de sauvegarde %1 est endommagé : ").arg(archive) +
            (detail.isEmpty() ? reason : QStringLiteral("l'entrée %1 ne se lit pas (%2)").arg(detail, reason)) +
            QStringLiteral(".");
        break;
    case Result::WrongPassword:
        text = QStringLiteral("Le mot de passe de la sauvegarde %1 est erroné ou n'a pas été donné (%2).\rLe fichier "
                              "de sauvegarde n'est pas endommagé : recommencez avec le bon mot de passe.")
                   .arg(archive, detail.isEmpty() ? reason : QStringLiteral("entrée ") + detail);
        break;
    case Result::NoSpace:
        text = QStringLiteral("Il n'y a pas assez de place sur le disque du dossier %1 pour restaurer la sauvegarde "
                              "%2%3.\rLibérez de la place sur ce disque puis recommencez : le fichier de sauvegarde "
                              "n'est pas en cause.")
                   .arg(detail, archive, reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + ")");
        break;
    case Result::VolumeMissing:
        text = (detail.isEmpty()
                       ? QStringLiteral("Un volume de la sauvegarde %1 est introuvable (%2).").arg(archive, reason)
                       : QStringLiteral("Le volume %1 de la sauvegarde %2 est introuvable.").arg(detail, archive)) +
            QStringLiteral("\rRéunissez tous les volumes de la sauvegarde dans le même dossier, ou insérez le disque "
                           "demandé, puis recommencez.");
        break;
    case Result::Cancelled:
        text = detail.isEmpty()
            ? QStringLiteral("La restauration a été annulée.")
            : QStringLiteral("La restauration a été annulée : le volume %1 de la sauvegarde n'a pas été inséré.")
                  .arg(detail);
        break;
    case Result::CannotRead:
        text = QStringLiteral("La sauvegarde %1 n'a pas pu être lue : %2.").arg(archive, reason);
        break;
    case Result::CannotWrite:
        text = QStringLiteral("Les fichiers de la sauvegarde %1 n'ont pas pu être écrits dans le dossier %2 : %3.\r"
                              "Le fichier de sauvegarde n'est pas en cause.")
                   .arg(archive, detail, reason);
        break;
    case Result::NoTables:
        text = QStringLiteral("Le fichier de sauvegarde ne contient aucune table de la base de données.");
        break;
    case Result::TableBusy:
        text = QStringLiteral("La table %1 est ouverte sur un autre poste.\rFermez le programme sur les autres "
                              "postes puis recommencez.")
                   .arg(detail);
        break;
    case Result::TableBusyHere:
        text = QStringLiteral("La table %1 est encore ouverte dans ce programme.\rFermez les fenêtres qui "
                              "l'utilisent puis recommencez.")
                   .arg(detail);
        break;
    case Result::InProgress:
        text = QStringLiteral("Une restauration est déjà en cours sur un autre poste.\rAttendez qu'elle soit "
                              "terminée puis recommencez.");
        break;
    case Result::Failed:
        text = QStringLiteral("Les fichiers n'ont pas pu être remplacés (%1).").arg(detail);
        break;
    }
    return text + QStringLiteral("\rLa restauration n'a pas été faite : vos données n'ont pas été modifiées.");
}

}  // namespace

void TfrmSaveRestore::DoRestore()
{
    using Result = backup::TableSetRestore::Result;
    const QString archive = chosen_.isEmpty() ? zip_->ZipFileName() : chosen_;
    const QString temp = AppDir + QStringLiteral("Temp/");
    backup::TableSetRestore restore(context_.schema, DataPath, temp, ProtDir);
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        kui::MsgError(RestoreFailureText(Result::NotFound, restore, archive), this);
        return;
    }
    if (!QFileInfo(temp).isDir() && !QDir().mkpath(temp)) {
        kui::MsgError(QStringLiteral("Impossible de créer le répertoire : ") + temp + QLatin1Char('\r'), this);
        return;
    }
    // The archive's directory did not read when it was chosen: said before
    // the question, and only once.
    if (zip_->ZipFileName().isEmpty()) {
        kui::MsgError(RestoreFailureText(restore.Unreadable(*zip_, archive), restore, archive), this);
        return;
    }
    if (!kui::MsgConfirm(QStringLiteral("Toutes les données seront remplacées par celles contenues dans le fichier !") +
                QStringLiteral("\r\r") + QStringLiteral("Procéder à la restauration ?"),
            this))
        return;
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
    if (result != Result::Done)
        kui::MsgError(RestoreFailureText(result, restore, archive), this);
}
