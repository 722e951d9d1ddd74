#include "Startup.h"

#include "UMain.h"
#include "UPassWord.h"

#include "app/backup/BackupSet.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "checker/DbCheck.h"
#include "controls/DcLabel.h"
#include "platform/db/core/Session.h"
#include "platform/os/Abort.h"
#include "platform/os/Files.h"
#include "platform/os/Paths.h"
#include "platform/ui/Application.h"
#include "platform/ui/Formats.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WaitCursor.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>

#include <stdexcept>

TStartup::TStartup(AppContext& context, TfrmMain& window) : context_(context), window_(window)
{
}

void TStartup::Run()
{
    try {
        ReadDisplaySetting();
        FindProgramDirectory();
        OpenDataDirectory();
        EnsureWorkDirectories();
        CleanUpEngineLeftovers();
        SetSessionDirectories();
        ShowPractitioner();
        Login();
        ReadPracticeSettings();
        ShowCaptionAndStatus();
        LoadWelcomePicture();
        ClearReadOnlyFlags();
        Maximise();
        window_.creationCompleted_ = true;
    } catch (...) {
        // A start-up abandoned before the login would open the window
        // without anyone logged in: the program ends instead.
        if (!loggedIn_)
            window_.RequestTerminate();
        kui::TApplication::HandleCurrentException();
    }
}

void TStartup::EnsureDir(const QString& dir, bool privateDir)
{
    if (kos::EnsureDirectory(dir, privateDir))
        return;
    ShowError(QStringLiteral("Impossible de créer le répertoire : ") + dir + QLatin1Char('\r'));
    Abort();
}

void TStartup::ReadDisplaySetting()
{
    IniDir = kos::ConfigHomeDir();
    EnsureDir(IniDir);
    DisplayRdv = kui::TIniFile(IniDir + IniKeys::FileName).ReadBool(IniKeys::Params, IniKeys::DisplayRdv, true);
}

void TStartup::FindProgramDirectory()
{
    AppDir = kos::ProgramHomeDir();
    EnsureDir(AppDir);
    kos::CopyMissingShippedFiles(QStringLiteral("USERS.*"), AppDir);
}

void TStartup::OpenDataDirectory()
{
    DataPath = AppDir + QStringLiteral("Data/");
    if (QFileInfo(DataPath).isDir())
        return;
    EnsureDir(DataPath);
    CreateDatabase();
}

void TStartup::CreateDatabase()
{
    bool checked = false;
    {
        kui::WaitCursor wait;
        if (!DataPath.isEmpty()) {
            if (context_.checkDatabase) {
                context_.checkDatabase();
            } else {
                window_.DbCheckData->CorrectPath = DataPath;
                window_.DbCheckData->CheckDatabase();
            }
            checked = true;
        }
    }
    if (checked) {
        kui::MsgInformation(QStringLiteral("Création de la base de données terminée !"), &window_);
        QCoreApplication::processEvents();
    }
}

void TStartup::EnsureWorkDirectories()
{
    ProtDir = AppDir + QStringLiteral("PROT/");
    EnsureDir(ProtDir);
    PhotoDir = AppDir + QStringLiteral("PHOTOS/");
    EnsureDir(PhotoDir);
    // This program's own work directory inside the user's private one: a
    // second program of the same user works beside it.
    EnsureDir(kos::PrivateTempDir(), true);
    TempPath = kos::ProcessTempDir();
    EnsureDir(TempPath, true);
}

void TStartup::CleanUpEngineLeftovers()
{
    kos::RemoveEndedProcessTempDirs();
    CleanUpEngineFiles(true);
    // A restore stopped midway (program killed, power cut) is finished from
    // its journal, so that the data directory and the protocol texts hold
    // one whole set; the files it left in the temporary folder go.
    QString failure;
    if (!backup::TableSetRestore::Recover(DataPath, ProtDir, AppDir + QStringLiteral("Temp/"), &failure))
        ShowError(QStringLiteral("La restauration interrompue n'a pas pu être terminée (%1).\rElle sera reprise au "
                                 "prochain démarrage ; n'utilisez pas les données d'ici là.")
                      .arg(failure));
}

void TStartup::SetSessionDirectories()
{
    QString privateDir = TempPath;
    if (privateDir.endsWith(QLatin1Char('/')))
        privateDir.chop(1);
    context_.session->setPrivateDir(privateDir.toStdString());
    context_.session->setNetDir(AppDir.toStdString());
}

void TStartup::ShowPractitioner()
{
    const kui::TIniFile appIni(AppDir + IniKeys::FileName);
    PractitionerName = appIni.ReadString(IniKeys::Params, IniKeys::Docteur);
    SpecialityLine = appIni.ReadString(IniKeys::Params, IniKeys::Specialite);
    window_.UserLabel()->setText(PractitionerName);
}

void TStartup::Login()
{
    QCoreApplication::processEvents();
    if (context_.login) {
        loggedIn_ = context_.login();
    } else {
        TfrmPassWord dialog;
        dialog.Tag = 0;
        QCoreApplication::processEvents();
        loggedIn_ = dialog.exec() == QDialog::Accepted;
    }
    // A refusal ends the program once the sequence is done.
    if (!loggedIn_)
        window_.RequestTerminate();
}

void TStartup::ReadPracticeSettings()
{
    const kui::TIniFile ini(AppDir + IniKeys::FileName);
    imageName_ = ini.ReadString(IniKeys::Params, IniKeys::Image);
    PracticeDetail = ini.ReadString(IniKeys::Params, IniKeys::Detail);
    PracticeAddress = ini.ReadString(IniKeys::Params, IniKeys::Adresse);
    PracticeCity = ini.ReadString(IniKeys::Params, IniKeys::Ville);
    PracticePhone = ini.ReadString(IniKeys::Params, IniKeys::Tel);
    PracticeEmail = ini.ReadString(IniKeys::Params, IniKeys::Email);
}

void TStartup::ShowCaptionAndStatus()
{
    window_.setWindowTitle(QStringLiteral("Suivi des patients - ") + AppVersion);
    window_.statusPanels_[0]->setText(kui::DateToStr(QDate::currentDate()));
    window_.statusPanels_[2]->setText(AppVersion);
}

void TStartup::LoadWelcomePicture()
{
    if (imageName_.isEmpty())
        return;
    // Only a file of the program directory is taken.
    const QString path = AppDir + QFileInfo(imageName_).fileName();
    QImage picture;
    if (!picture.load(path))
        throw std::runtime_error((QStringLiteral("Impossible de charger l'image d'accueil : ") + path).toStdString());
    window_.SetBackground(picture);
}

void TStartup::ClearReadOnlyFlags()
{
    kui::WaitCursor wait;
    kos::ClearReadOnlyFlags(AppDir);
    kos::ClearReadOnlyFlags(DataPath);
}

void TStartup::Maximise()
{
    window_.setWindowState(window_.windowState() | Qt::WindowMaximized);
}

void CleanUpEngineFiles(bool emptyTempPath)
{
    try {
        DeleteFilesByMask(AppDir, QStringLiteral("_QS*.*"));
        DeleteFilesByMask(AppDir, QStringLiteral("Del*.*"));
        DeleteFilesByMask(DataPath, QStringLiteral("_*.*"));
        DeleteFilesByMask(DataPath, QStringLiteral("Del*.*"));
        DeleteFilesByMask(AppDir, QStringLiteral("PDOXUSRS.*"));
        DeleteFilesByMask(AppDir, QStringLiteral("PARADOX.*"));
        DeleteFilesByMask(DataPath, QStringLiteral("PDOXUSRS.*"));
        DeleteFilesByMask(DataPath, QStringLiteral("PARADOX.*"));
        DeleteFilesByMask(IniDir, QStringLiteral("PDOXUSRS.*"));
        DeleteFilesByMask(IniDir, QStringLiteral("PARADOX.*"));
        if (emptyTempPath)
            DeleteFilesByMask(TempPath, QStringLiteral("*.*"));
    } catch (...) {
        // Clean-up failures are ignored.
    }
}
