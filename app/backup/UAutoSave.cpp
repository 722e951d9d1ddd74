#include "app/backup/UAutoSave.h"
#include "ui_UAutoSave.h"

#include "app/backup/BackupProgress.h"
#include "app/backup/BackupSet.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "controls/Gradient.h"
#include "platform/os/Abort.h"
#include "platform/os/Paths.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WaitCursor.h"
#include "zip/ZipArch.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

TfrmAutoSave::TfrmAutoSave(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), context_(context), ui(new Ui::TfrmAutoSave),
      zip_(std::make_unique<TZipArchiver>(this))
{
    ui->setupUi(this);
    ui->Gradient1->setStyle(TGradient::gsReflectedH);
    ui->Gradient1->setColorEnd(QColor(0xC0, 0xC0, 0xC0));
    ui->Panel1->setStyleSheet(QStringLiteral("#Panel1 { background: silver; }"));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    progress_ = std::make_unique<backup::Progress>(ui->pBar);
    zip_->AddCompLevel = 9;
    zip_->SetDLLDirectory(kos::ProgramLibraryDir());
    zip_->OnProgress = [this](TZipArchiver*, ProgressType type, const QString&, qint64 size) {
        progress_->Event(type, size);
    };
    base_ = ArchiveBaseName(QCoreApplication::applicationFilePath());
}

TfrmAutoSave::~TfrmAutoSave()
{
    delete ui;
}

QProgressBar* TfrmAutoSave::pBar() const
{
    return ui->pBar;
}
QLabel* TfrmAutoSave::lPbar() const
{
    return ui->lPbar;
}

QString TfrmAutoSave::ArchiveBaseName(const QString& programFile)
{
    const QString name = QFileInfo(programFile).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString TfrmAutoSave::SlotName(const QString& folder, const QString& base, int slot)
{
    return folder + base + QLatin1Char('_') + QString::number(slot) + QStringLiteral(".zip");
}

int TfrmAutoSave::ChooseSlot(const QString& folder, const QString& base)
{
    if (!QFileInfo::exists(SlotName(folder, base, 0)))
        return 0;
    for (int k = 1; k <= 9; ++k)
        if (!QFileInfo::exists(SlotName(folder, base, k)))
            return k;
    const QDateTime first = QFileInfo(SlotName(folder, base, 0)).lastModified();
    for (int k = 1; k <= 9; ++k)
        if (QFileInfo(SlotName(folder, base, k)).lastModified() < first)
            return k;
    return 0;
}

bool TfrmAutoSave::DoAutoSave()
{
    const QString folder = DataPath + DayNames[size_t(DayOfWeek(QDate::currentDate()))] + QLatin1Char('/');
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        kui::MsgError(QStringLiteral("Impossible de créer le répertoire : ") + folder + QLatin1Char('\r'), this);
        Abort();
    }
    const int slot = ChooseSlot(folder, base_);
    QString failure;
    bool ok = false;
    {
        kui::WaitCursor wait;
        ui->pBar->setMinimum(0);
        ui->pBar->setValue(0);
        ui->lPbar->setText(QStringLiteral("Sauvegarde en cours ..."));
        QCoreApplication::processEvents();
        backup::TableHold hold;
        if (!hold.Take(context_.schema, DataPath, backup::TableHold::Mode::TableLock))
            failure =
                QStringLiteral("la table %1 est en cours de modification sur un autre poste").arg(hold.BusyTable());
        else
            ok = backup::WriteArchive(*zip_, backup::BackupFileSpecs(context_.schema, DataPath),
                SlotName(folder, base_, slot), failure, false, ProtDir);
        QCoreApplication::processEvents();
    }
    if (!ok)
        kui::MsgError(QStringLiteral("La sauvegarde n'a pas été faite : %1.").arg(failure), this);
    return ok;
}

void RunAutoSave(AppContext& context, QWidget* owner)
{
    TfrmAutoSave window(context, owner);
    window.show();
    window.DoAutoSave();
    QCoreApplication::processEvents();
}
