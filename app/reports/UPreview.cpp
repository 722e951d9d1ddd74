#include "UPreview.h"
#include "ui_UPreview.h"

#include "app/global/global.h"
#include "controls/Gradient.h"
#include "platform/report/PageStore.h"
#include "platform/report/PreviewView.h"
#include "platform/report/Report.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Printer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QShortcut>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <memory>

TfrmPreview* frmPreview = nullptr;

namespace {
// The standard print dialog, run as it is; it asks itself before a file of
// the name chosen is replaced.
bool ExecPrintDialog(QPrintDialog& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}
}  // namespace

std::function<bool(QPrintDialog&)> TfrmPreview::RunPrintDialog = ExecPrintDialog;

namespace {
const int ZoomPercents[] = {200, 150, 100, 75, 50, 25};
const int PageWidthEntry = 6;

// The name of the PDF file of a document: its title, less the characters a
// file name cannot hold, and ".pdf".
QString OutputFileName(const QString& title)
{
    QString name = title.trimmed();
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : name)
        if (forbidden.contains(c) || c.unicode() < 32)
            c = QLatin1Char('_');
    if (name.isEmpty())
        name = QStringLiteral("Document");
    return name + QStringLiteral(".pdf");
}

// The folder of the last file a document was printed into (kept in the
// user's settings), when it is still there; else the home folder.
QString LastPdfFolder()
{
    const QString folder =
        kui::TIniFile(IniDir + IniKeys::FileName).ReadString(IniKeys::Params, IniKeys::DossierPdf, QString());
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

// The toolbar's icons, read once for every preview window of the session
// (each standard icon decodes its pictures when it is made).
struct ToolIcons {
    QIcon first, previous, next, last, print, close;
};

const ToolIcons& SharedToolIcons()
{
    // Kept to the end of the process, never destroyed after the application.
    static const ToolIcons* icons = new ToolIcons{
        kui::ThemeIcon("go-first", QStyle::SP_MediaSkipBackward),
        kui::ThemeIcon("go-previous", QStyle::SP_MediaSeekBackward),
        kui::ThemeIcon("go-next", QStyle::SP_MediaSeekForward),
        kui::ThemeIcon("go-last", QStyle::SP_MediaSkipForward),
        kui::ThemeIcon("document-print", QStyle::SP_DialogSaveButton),
        kui::ThemeIcon("window-close", QStyle::SP_DialogCloseButton),
    };
    return *icons;
}
}  // namespace

TfrmPreview::TfrmPreview(AppContext& context, QWidget* owner)
    : QWidget(owner, Qt::Window), context_(context), ui(new Ui::TfrmPreview)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The band's pattern is built once, for its final colours and style.
    ui->ToolBar->BeginUpdate();
    ui->ToolBar->setColorBegin(QColor(0xF4, 0xF7, 0xFC));
    ui->ToolBar->setColorEnd(QColor(0x9D, 0xB7, 0xDD));
    ui->ToolBar->setStyle(TGradient::gsLinearV);
    ui->ToolBar->EndUpdate();
    const ToolIcons& icons = SharedToolIcons();
    ui->sbFirstPage->setIcon(icons.first);
    ui->sbPreviousPage->setIcon(icons.previous);
    ui->sbNextPage->setIcon(icons.next);
    ui->sbLastPage->setIcon(icons.last);
    ui->Print->setIcon(icons.print);
    ui->btnClose->setIcon(icons.close);
    panel0_ = new QLabel(this);
    panel0_->setFixedWidth(200);
    panel1_ = new QLabel(this);
    panel1_->setFixedWidth(500);
    ui->stBar->addWidget(panel0_);
    ui->stBar->addWidget(panel1_);

    connect(ui->RptPreview, &krpt::PreviewView::pageAvailable, this, &TfrmPreview::RptPreviewPageAvailable);
    connect(ui->RptPreview, &krpt::PreviewView::pageTurned, this, [this](int page) {
        const QSignalBlocker block(ui->sePage);
        ui->sePage->setValue(page);
        UpdateNavigation();
    });
    connect(ui->sbFirstPage, &QToolButton::clicked, this, &TfrmPreview::sbFirstPageClick);
    connect(ui->sbPreviousPage, &QToolButton::clicked, this, &TfrmPreview::sbPreviousPageClick);
    connect(ui->sbNextPage, &QToolButton::clicked, this, &TfrmPreview::sbNextPageClick);
    connect(ui->sbLastPage, &QToolButton::clicked, this, &TfrmPreview::sbLastPageClick);
    connect(ui->sePage, &QSpinBox::valueChanged, this, &TfrmPreview::sePageChange);
    connect(ui->cmbZoom, &QComboBox::currentIndexChanged, this, &TfrmPreview::cmbZoomChange);
    connect(ui->Print, &QPushButton::clicked, this, &TfrmPreview::PrintClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QWidget::close);
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] { FormShortCut(Qt::Key_F10); });
    // Home and End go to the first and the last page, once every page is
    // there (an edit box with the focus keeps them for its text).
    for (const Qt::Key key : {Qt::Key_Home, Qt::Key_End}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this, key] {
            if (!ui->ToolBar->isEnabled())
                return;
            if (key == Qt::Key_Home)
                sbFirstPageClick();
            else
                sbLastPageClick();
        });
    }
    frmPreview = this;
    FormCreate();
}

TfrmPreview::~TfrmPreview()
{
    if (frmPreview == this)
        frmPreview = nullptr;
    delete ui;
}

krpt::PreviewView* TfrmPreview::RptPreview() const
{
    return ui->RptPreview;
}
QSpinBox* TfrmPreview::sePage() const
{
    return ui->sePage;
}
QSpinBox* TfrmPreview::SpinEditCopies() const
{
    return ui->SpinEditCopies;
}
QComboBox* TfrmPreview::cmbZoom() const
{
    return ui->cmbZoom;
}
QToolButton* TfrmPreview::sbFirstPage() const
{
    return ui->sbFirstPage;
}
QToolButton* TfrmPreview::sbPreviousPage() const
{
    return ui->sbPreviousPage;
}
QToolButton* TfrmPreview::sbNextPage() const
{
    return ui->sbNextPage;
}
QToolButton* TfrmPreview::sbLastPage() const
{
    return ui->sbLastPage;
}
QPushButton* TfrmPreview::Print() const
{
    return ui->Print;
}
QWidget* TfrmPreview::ToolBar() const
{
    return ui->ToolBar;
}
QStatusBar* TfrmPreview::stBar() const
{
    return ui->stBar;
}

QString TfrmPreview::StatusText(int panel) const
{
    return (panel == 0 ? panel0_ : panel1_)->text();
}

void TfrmPreview::FormCreate()
{
    const int entry = kui::TIniFile(AppDir + IniKeys::FileName).ReadInteger(IniKeys::Informations, IniKeys::NbLigne, 3);
    {
        const QSignalBlocker block(ui->cmbZoom);
        ui->cmbZoom->setCurrentIndex(entry >= 0 && entry < ui->cmbZoom->count() ? entry : -1);
    }
    ui->sePage->setMinimum(1);
    // A page number typed beyond either end goes to that end.
    ui->sePage->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setWindowState(windowState() | Qt::WindowMaximized);
    ui->ToolBar->setEnabled(false);
    QApplication::processEvents();
    panel1_->setText("Impression en cours ...");
    setCursor(Qt::WaitCursor);
}

int TfrmPreview::PageCount() const
{
    const krpt::PageStore* store = ui->RptPreview->store();
    return store ? store->pageCount() : 0;
}

void TfrmPreview::RptPreviewPageAvailable(int n)
{
    const krpt::PageStore* store = ui->RptPreview->store();
    const QString title = store ? store->title() : QString();
    setWindowTitle(title + " - " + QString::number(n) + (n <= 1 ? " page" : " pages"));
    if (store && store->finished()) {
        {
            const QSignalBlocker block(ui->sePage);
            ui->sePage->setMaximum(std::max(1, n));
            ui->sePage->setValue(1);
        }
        ShowPage(1);
        if (n == store->pageCount()) {
            ui->ToolBar->setEnabled(true);
            UpdateNavigation();
            panel1_->clear();
            ui->stBar->repaint();
            cmbZoomChange();
            unsetCursor();
            // The page keys and the wheel go to the page.
            ui->RptPreview->setFocus();
        }
    }
}

void TfrmPreview::UpdateNavigation()
{
    const int count = PageCount();
    const int current = ui->RptPreview->pageNumber();
    ui->Print->setEnabled(true);
    ui->SpinEditCopies->setEnabled(true);
    ui->sbPreviousPage->setEnabled(count > 1 && current > 1);
    ui->sbFirstPage->setEnabled(count > 1 && current > 1);
    ui->sbNextPage->setEnabled(count > 1 && count > current);
    ui->sbLastPage->setEnabled(count > 1 && count > current);
    ui->sePage->setEnabled(count > 1);
    panel0_->setText("Page : " + QString::number(current) + "/" + QString::number(count));
}

void TfrmPreview::ShowPage(int page)
{
    ui->RptPreview->setPageNumber(page);
}

void TfrmPreview::sbFirstPageClick()
{
    QApplication::processEvents();
    ui->sePage->setValue(1);
    ShowPage(1);
    UpdateNavigation();
}

void TfrmPreview::sbPreviousPageClick()
{
    QApplication::processEvents();
    if (ui->sePage->value() > 1) {
        ui->sePage->setValue(ui->sePage->value() - 1);
        ShowPage(ui->sePage->value());
        UpdateNavigation();
    }
}

void TfrmPreview::sbNextPageClick()
{
    QApplication::processEvents();
    if (ui->sePage->value() < PageCount()) {
        ui->sePage->setValue(ui->sePage->value() + 1);
        ShowPage(ui->sePage->value());
        UpdateNavigation();
    }
}

void TfrmPreview::sbLastPageClick()
{
    QApplication::processEvents();
    ui->sePage->setValue(PageCount());
    ShowPage(PageCount());
    UpdateNavigation();
}

void TfrmPreview::sePageChange(int value)
{
    // The spin box keeps its value within its bounds: a typed 9 of five
    // pages arrives here as 5, a typed 0 as 1.
    QApplication::processEvents();
    ShowPage(std::clamp(value, ui->sePage->minimum(), ui->sePage->maximum()));
    UpdateNavigation();
}

void TfrmPreview::cmbZoomChange()
{
    const int entry = ui->cmbZoom->currentIndex();
    if (entry < 0)
        return;
    if (entry == PageWidthEntry)
        ui->RptPreview->zoomToWidth();
    else
        ui->RptPreview->setZoom(ZoomPercents[entry]);
}

void TfrmPreview::PrintClick()
{
    krpt::PageStore* store = ui->RptPreview->store();
    // Printing waits for the last page (F10 reaches here while the toolbar
    // is still disabled).
    if (!store || !store->finished() || store->pageCount() == 0)
        return;
    try {
        QPrinter& printer = kui::CurrentPrinter();
        // A file is proposed under the document's own name (its kind, the
        // patient, its date), in the folder of the last file printed into;
        // never the last file itself. The dialog reads the proposal when it
        // is made: as its file when the last print went to a file or there
        // is no printer, else as the file it offers once "print to file" is
        // chosen, the printer staying the one chosen last.
        const QString name = Report && !Report->fileName.isEmpty() ? Report->fileName : store->title();
        const QString proposed = QDir(LastPdfFolder()).filePath(OutputFileName(name));
        printer.setDocName(name);
        if (!printer.outputFileName().isEmpty() || QPrinterInfo::availablePrinterNames().isEmpty())
            printer.setOutputFileName(proposed);
        QPrintDialog dialog(&printer, this);
        if (printer.outputFileName().isEmpty())
            if (auto* file = dialog.findChild<QLineEdit*>(QStringLiteral("filename")))
                file->setText(proposed);
        dialog.setOptions(QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintToFile);
        dialog.setMinMax(1, store->pageCount());
        dialog.setFromTo(1, store->pageCount());
        printer.setCopyCount(ui->SpinEditCopies->value());
        if (!RunPrintDialog(dialog))
            return;
        // A file of that name is replaced only once the user said so (the
        // standard dialog has asked already).
        const auto* runner = RunPrintDialog.target<bool (*)(QPrintDialog&)>();
        const bool dialogAsked = runner && *runner == &ExecPrintDialog;
        const QString file = printer.outputFileName();
        if (!dialogAsked && !file.isEmpty() && QFileInfo::exists(file) &&
            !kui::MsgConfirm(
                QStringLiteral("Le fichier %1 existe déjà.\nVoulez-vous le remplacer ?").arg(QDir::toNativeSeparators(file)),
                this))
            return;
        krpt::PrinterSettings settings;
        settings.printerIndex = printer.outputFileName().isEmpty()
            ? QPrinterInfo::availablePrinterNames().indexOf(printer.printerName())
            : -1;
        settings.copies = printer.copyCount();
        const bool range = dialog.printRange() == QAbstractPrintDialog::PageRange && dialog.fromPage() > 0;
        settings.firstPage = range ? dialog.fromPage() : 1;
        settings.lastPage = range ? dialog.toPage() : store->pageCount();
        if (Report)
            Report->printerSettings = settings;
        store->print(printer, settings);
        if (!file.isEmpty())
            kui::TIniFile(IniDir + IniKeys::FileName)
                .WriteString(IniKeys::Params, IniKeys::DossierPdf, QFileInfo(file).absolutePath());
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
}

bool TfrmPreview::FormShortCut(int key)
{
    if (key != Qt::Key_F10)
        return false;
    PrintClick();
    return true;
}

void TfrmPreview::FormClose()
{
    if (frmPreview == this)
        frmPreview = nullptr;
    ui->RptPreview->detach();
    kui::TIniFile(AppDir + IniKeys::FileName)
        .WriteInteger(IniKeys::Informations, IniKeys::NbLigne, ui->cmbZoom->currentIndex());
}

void TfrmPreview::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}
