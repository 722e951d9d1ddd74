#include "UMain.h"
#include "ui_UMain.h"

#include "Startup.h"
#include "UCalendar.h"
#include "UOption.h"
#include "UPassWord.h"
#include "USplashEx.h"

#include "app/backup/UAutoSave.h"
#include "app/backup/USaveRestore.h"
#include "app/global/AppContext.h"
#include "app/records/UConsul.h"
#include "app/records/UGetPatient.h"
#include "app/records/UPatient.h"
#include "app/records/UPhoto.h"
#include "app/global/global.h"
#include "app/records/UListProt.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/UTable.h"
#include "checker/DbCheck.h"
#include "platform/db/engine/Engine.h"
#include "controls/DcLabel.h"
#include "controls/Gradient.h"
#include "platform/os/Calculator.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Printer.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QPrintDialog>
#include <QStatusBar>
#include <QStyle>

static void InitMainResources()
{
    Q_INIT_RESOURCE(korvale);
}

TfrmMain* frmMain = nullptr;

namespace {

const QString kBuiltInPicture = QStringLiteral(":/korvale/welcome.png");

}  // namespace

TfrmMain::TfrmMain(AppContext& context, QWidget* parent) : QMainWindow(parent), context_(context), ui(new Ui::TfrmMain)
{
    InitMainResources();
    ui->setupUi(this);
    frmMain = this;

    // The table checker and the schema it keeps the data directory in line with.
    DbCheckData = new TDbCheck(this);
    DbCheckData->setObjectName(QStringLiteral("DbCheckData"));
    DbCheckData->Descriptor = context_.schema;
    DbCheckData->OnFoundDiff = [this](QObject*, TChkMessage message, const QString& tableName, bool& correct) {
        DbCheckDataFoundDiff(message, tableName, correct);
    };
    DbCheckData->OnError = [this](
                               QObject*, const EDBEngineError& error) { DbCheckDataError(kui::ExceptionText(error)); };

    // The toolbar and the banner.
    ui->pnlButton->setColorBegin(QColor(0xE8, 0xEE, 0xF8));
    ui->pnlButton->setColorEnd(QColor(0x6F, 0x8F, 0xC0));
    ui->pnlButton->setStyle(TGradient::gsLinearV);
    ui->Panel1->setColorBegin(QColor(Qt::red));
    ui->Panel1->setColorEnd(QColor(Qt::black));
    ui->Panel1->setStyle(TGradient::gsLinearH);
    ui->lUser->setTransparent(true);
    ui->lUser->setAlignment(TDcLabel::taCenter);
    ui->lUser->setLayout(TDcLabel::tlCenter);
    ui->lUser->setFontColor(QColor(Qt::white));
    ui->lUser->setShadowColor(QColor(Qt::black));
    ui->lUser->setTextStyle(TDcLabel::tsShadow);
    QFont bannerFont = ui->lUser->font();
    bannerFont.setBold(true);
    bannerFont.setPointSize(12);
    ui->lUser->setFont(bannerFont);

    // One glyph per command, from the desktop's icon theme.
    ui->btnPatient->setIcon(kui::ThemeIcon(QStringLiteral("x-office-address-book"), QStyle::SP_FileDialogDetailedView));
    ui->btnRDV->setIcon(kui::ThemeIcon(QStringLiteral("x-office-calendar"), QStyle::SP_FileDialogInfoView));
    ui->btnConsul->setIcon(kui::ThemeIcon(QStringLiteral("x-office-document"), QStyle::SP_FileDialogContentsView));
    ui->btnPhoto->setIcon(kui::ThemeIcon(QStringLiteral("camera-photo"), QStyle::SP_DesktopIcon));
    ui->btnRadio->setIcon(kui::ThemeIcon(QStringLiteral("image-x-generic"), QStyle::SP_FileDialogListView));
    ui->btnBio->setIcon(kui::ThemeIcon(QStringLiteral("x-office-spreadsheet"), QStyle::SP_FileIcon));
    ui->btnFermer->setIcon(kui::ThemeIcon(QStringLiteral("application-exit"), QStyle::SP_DialogCloseButton));

    // The separator after "Restaurer l'image d'accueil" is hidden with it.
    const QList<QAction*> fileActions = ui->mnFichier->actions();
    const qsizetype restoreIndex = fileActions.indexOf(ui->mnRestaurerImage);
    if (restoreIndex >= 0 && restoreIndex + 1 < fileActions.size() && fileActions[restoreIndex + 1]->isSeparator())
        fileActions[restoreIndex + 1]->setVisible(false);

    // The status bar: four panels of 100, 50, 150 and 150 pixels, the
    // first three centred.
    const int widths[4] = {100, 50, 150, 150};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(ui->stBar);
        panel->setObjectName(QStringLiteral("stBarPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(i < 3 ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
        ui->stBar->addWidget(panel);
        statusPanels_[i] = panel;
    }

    connect(ui->btnPatient, &QToolButton::clicked, this, &TfrmMain::btnPatientClick);
    connect(ui->btnRDV, &QToolButton::clicked, this, &TfrmMain::mnRDVClick);
    connect(ui->btnConsul, &QToolButton::clicked, this, &TfrmMain::btnConsulClick);
    connect(ui->btnPhoto, &QToolButton::clicked, this, &TfrmMain::mnPhotoClick);
    connect(ui->btnRadio, &QToolButton::clicked, this, &TfrmMain::mnExRadioClick);
    connect(ui->btnBio, &QToolButton::clicked, this, &TfrmMain::mnExBioClick);
    connect(ui->btnFermer, &QToolButton::clicked, this, &TfrmMain::btnFermerClick);

    connect(ui->mnPatients, &QAction::triggered, this, &TfrmMain::btnPatientClick);
    connect(ui->mnExRadio, &QAction::triggered, this, &TfrmMain::mnExRadioClick);
    connect(ui->mnExBio, &QAction::triggered, this, &TfrmMain::mnExBioClick);
    connect(ui->mnOrdonnances, &QAction::triggered, this, &TfrmMain::mnOrdonnancesClick);
    connect(ui->mnPhoto, &QAction::triggered, this, &TfrmMain::mnPhotoClick);
    connect(ui->mnImprimer, &QAction::triggered, this, &TfrmMain::mnImprimerClick);
    connect(ui->Configurationdelimprimante1, &QAction::triggered, this, &TfrmMain::Configurationdelimprimante1Click);
    connect(ui->mnChangerImage, &QAction::triggered, this, &TfrmMain::mnChangerImageClick);
    connect(ui->mnRestaurerImage, &QAction::triggered, this, &TfrmMain::mnRestaurerImageClick);
    connect(ui->mnQuitter, &QAction::triggered, this, &TfrmMain::mnQuitterClick);
    connect(ui->mnConsultations, &QAction::triggered, this, &TfrmMain::btnConsulClick);
    connect(ui->mnRDV, &QAction::triggered, this, &TfrmMain::mnRDVClick);
    connect(ui->mnProtocole, &QAction::triggered, this, &TfrmMain::mnProtocoleClick);
    connect(ui->mnParametres, &QAction::triggered, this, &TfrmMain::mnParametresClick);
    connect(ui->mnSaveRestore, &QAction::triggered, this, &TfrmMain::mnSaveRestoreClick);
    connect(ui->Restaurer1, &QAction::triggered, this, &TfrmMain::Restaurer1Click);
    connect(ui->mnEpuration, &QAction::triggered, this, &TfrmMain::mnEpurationClick);
    connect(ui->mnReindexation, &QAction::triggered, this, &TfrmMain::mnReindexationClick);
    connect(ui->mnCheckDB, &QAction::triggered, this, &TfrmMain::mnCheckDBClick);
    connect(ui->mnChangePassword, &QAction::triggered, this, &TfrmMain::mnChangePasswordClick);
    connect(ui->mnAide, &QAction::triggered, this, &TfrmMain::mnAideClick);
    connect(ui->Apropos1, &QAction::triggered, this, &TfrmMain::Apropos1Click);

    // Every key goes first to the main window's function keys.
    qApp->installEventFilter(this);

    // The restore closes the appointment list (it holds its tables) and
    // shows it again once done.
    CloseAppointmentListForRestore = [this]() -> std::function<void()> {
        if (!frmListRDV)
            return {};
        const AppointmentListView view = ReleaseAppointmentList();
        return [this, view] { ShowAppointmentList(context_, ui->ClientArea, view); };
    };

    SetBackground(QImage(kBuiltInPicture));
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    if (frmMain == this)
        CloseAppointmentListForRestore = nullptr;
    FormDestroy();
    if (frmMain == this)
        frmMain = nullptr;
    delete ui;
}

QMdiArea* TfrmMain::ClientArea() const
{
    return ui->ClientArea;
}
QStatusBar* TfrmMain::StatusBar() const
{
    return ui->stBar;
}
TDcLabel* TfrmMain::UserLabel() const
{
    return ui->lUser;
}

QString TfrmMain::StatusPanelText(int index) const
{
    return index >= 0 && index < 4 ? statusPanels_[index]->text() : QString();
}

void TfrmMain::RequestTerminate()
{
    terminateRequested_ = true;
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Creation sequence.

void TfrmMain::FormCreate()
{
    TStartup(context_, *this).Run();
}

void TfrmMain::SetBackground(const QImage& picture)
{
    if (picture.isNull())
        return;
    backGround_ = picture;
    // The brush tiles the picture from the top-left corner of the area.
    ui->ClientArea->setBackground(QBrush(QPixmap::fromImage(backGround_)));
}

// ---------------------------------------------------------------------------
// Showing, closing, destruction.

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmMain::FormShow()
{
    QCoreApplication::processEvents();
    if (DisplayRdv)
        mnRDVClick();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    CleanUpEngineFiles(false);
    if (kui::MsgConfirm(QStringLiteral("Voulez-vous faire une sauvegarde ?"), this)) {
        try {
            AutoBackup();
            QCoreApplication::processEvents();
        } catch (...) {
            // The window stays open; the message goes to the handler.
            event->ignore();
            kui::TApplication::HandleCurrentException();
            return;
        }
    }
    // The calendar must not keep the program alive.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TfrmCalendar*>(w))
            w->hide();
    event->accept();
}

void TfrmMain::AutoBackup()
{
    if (context_.autoBackup)
        context_.autoBackup();
    else
        RunAutoSave(context_, this);
}

void TfrmMain::FormDestroy()
{
    qApp->removeEventFilter(this);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TfrmCalendar*>(w))
            w->deleteLater();
}

// ---------------------------------------------------------------------------
// Function keys.

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_F5 || key->key() == Qt::Key_F6))
            return FormShortCut(key->key());
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TfrmMain::FormShortCut(int key)
{
    if (key == Qt::Key_F5) {
        RunCalculator();
        return true;
    }
    if (key == Qt::Key_F6)
        return ShowCalendar();
    return false;
}

void TfrmMain::RunCalculator()
{
    switch (kos::StartCalculator()) {
    case kos::CalculatorStart::Started:
        break;
    case kos::CalculatorStart::NotFound:
        kui::MsgError(QStringLiteral("Le fichier : 'Calc.exe' est introuvable."), this);
        break;
    case kos::CalculatorStart::OutOfMemory:
        kui::MsgError(QStringLiteral("Mémoire insuffisante pour cette opération."), this);
        break;
    case kos::CalculatorStart::CannotRun:
        kui::MsgError(QStringLiteral("Ce programme ne peut pas être exécuté par Microsoft Windows."), this);
        break;
    }
}

bool TfrmMain::ShowCalendar()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* calendar = qobject_cast<TfrmCalendar*>(w)) {
            // A closed calendar is only hidden: F6 brings it back.
            if (calendar->isVisible())
                return false;
            calendar->show();
            calendar->raise();
            calendar->activateWindow();
            return true;
        }
    }
    auto* calendar = new TfrmCalendar(nullptr);
    calendar->show();
    return true;
}

// ---------------------------------------------------------------------------
// Commands.

void TfrmMain::btnPatientClick()
{
    // Patient picker, then the patient file.
    {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    if (CurrentPatientCode.isEmpty())
        return;
    TfrmPatient frm(context_, this);
    // A patient table that does not open was said so (which table, and what
    // to do): no empty patient file is shown in its place.
    if (!frm.Patient().active())
        return;
    frm.CodePatient = CurrentPatientCode;
    frm.exec();
}

void TfrmMain::btnConsulClick()
{
    // Patient picker, then the consultation screen.
    {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    if (CurrentPatientCode.isEmpty())
        return;
    TfrmConsul frm(context_, this);
    frm.exec();
}

void TfrmMain::mnPhotoClick()
{
    // Patient picker, then the photo slots.
    {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    if (CurrentPatientCode.isEmpty())
        return;
    TfrmPhoto frm(context_, this);
    frm.exec();
}

void TfrmMain::mnExRadioClick()
{
    TfrmTable frm(context_, this);
    frm.TableName = "FRADIO";
    frm.DatabaseName = DataPath;
    frm.Title = "Examens Radiologiques";
    frm.CodeLength = 3;
    frm.exec();
}

void TfrmMain::mnExBioClick()
{
    TfrmTable frm(context_, this);
    frm.TableName = "FBIO";
    frm.DatabaseName = DataPath;
    frm.Title = "Examens Biologiques";
    frm.CodeLength = 3;
    frm.exec();
}

void TfrmMain::mnOrdonnancesClick()
{
    TfrmOrd frm(context_, this);
    frm.exec();
}

void TfrmMain::mnRDVClick()
{
    ShowAppointmentList(context_, ui->ClientArea);
}

void TfrmMain::mnProtocoleClick()
{
    TfrmListProt list(context_, nullptr);
    list.exec();
}

void TfrmMain::mnSaveRestoreClick()
{
    TfrmSaveRestore screen(context_, TfrmSaveRestore::Mode::Backup, nullptr);
    screen.exec();
}

void TfrmMain::Restaurer1Click()
{
    TfrmSaveRestore screen(context_, TfrmSaveRestore::Mode::Restore, nullptr);
    screen.exec();
}

void TfrmMain::mnChangePasswordClick()
{
    TfrmPassWord dialog;
    dialog.Tag = 10;
    dialog.exec();
}

void TfrmMain::mnImprimerClick()
{
}

void TfrmMain::mnAideClick()
{
}

void TfrmMain::mnEpurationClick()
{
    kui::MsgPlain(QStringLiteral("Menu non disponible !"), this);
}

void TfrmMain::mnParametresClick()
{
    TfrmOption dialog(context_, nullptr);
    dialog.exec();
}

void TfrmMain::Apropos1Click()
{
    TfrmSplashEx about(nullptr);
    about.exec();
}

void TfrmMain::Configurationdelimprimante1Click()
{
    QPrintDialog dialog(&kui::CurrentPrinter(), this);
    dialog.setWindowTitle(QStringLiteral("Configuration de l'imprimante"));
    dialog.exec();
}

void TfrmMain::mnChangerImageClick()
{
    QString fileName;
    if (context_.choosePicture)
        fileName = context_.choosePicture(this);
    else
        fileName =
            QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("Fichiers bitmap (*.bmp *.BMP)"));
    if (fileName.isEmpty())
        return;
    QImage picture;
    const QString name = QFileInfo(fileName).fileName();
    const QString target = AppDir + name;
    bool ok = picture.load(fileName);
    if (ok) {
        QCoreApplication::processEvents();
        const bool samePlace = QFileInfo(fileName).canonicalFilePath() == QFileInfo(target).canonicalFilePath();
        ok = samePlace || picture.save(target, "BMP");
    }
    kui::TIniFile ini(AppDir + IniKeys::FileName);
    if (!ok) {
        kui::MsgWarning(QStringLiteral("Format d'image incorrect !"), this);
    } else if (!ini.WriteString(IniKeys::Params, IniKeys::Image, name)) {
        kui::MsgWarning(ini.ErrorText(), this);
    } else {
        SetBackground(picture);
        kui::MsgInformation(QStringLiteral("L'image sera active au prochain démarrage du programme"), this);
    }
    QCoreApplication::processEvents();
}

void TfrmMain::mnRestaurerImageClick()
{
    kui::TIniFile ini(AppDir + IniKeys::FileName);
    if (ini.WriteString(IniKeys::Params, IniKeys::Image, QString()))
        kui::MsgInformation(QStringLiteral("L'image sera active au prochain démarrage du programme"), this);
    else
        kui::MsgWarning(ini.ErrorText(), this);
}

void TfrmMain::mnQuitterClick()
{
    close();
}

void TfrmMain::btnFermerClick()
{
    close();
}

void TfrmMain::DbCheckDataFoundDiff(int /*message*/, const QString& /*tableName*/, bool& correct)
{
    correct = true;
    QCoreApplication::processEvents();
}

void TfrmMain::DbCheckDataError(const QString& message)
{
    kui::ShowMessageBox(
        kui::MsgKind::Error, QStringLiteral("[Error] %1").arg(message), QMessageBox::Ok, QStringLiteral("Error"), this);
}
