#include "USelectOrd.h"
#include "ui_USelectOrd.h"

#include "RecordsCommon.h"
#include "UOrd.h"
#include "app/global/global.h"
#include "app/reports/URptOrdonnance.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QShowEvent>

TfrmSelectOrd::TfrmSelectOrd(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmSelectOrd), qOrd_(new kdb::QueryDataset(this)),
      qMedic_(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->btnOrd->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));
    QFont bold = ui->edCode->font();
    bold.setBold(true);
    ui->edCode->setFont(bold);
    QPalette cp = ui->edCode->palette();
    cp.setColor(QPalette::Base, records::ReadOnlyGrey);
    ui->edCode->setPalette(cp);

    qOrd_->setSql(QStringList{"SELECT DISTINCT CODE FROM FORD", "ORDER BY CODE"});
    qMedic_->setSql("SELECT * FROM FORD.DBF WHERE CODE=:CODE ORDER BY NUM");
    ui->navOrd->bind(qOrd_);
    qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
    // On light grey, the chosen line white on navy as in the other lists.
    records::ReadOnlyList(ui->grdDetail, ui->grdDetail->bind(qMedic_, TfrmOrd::LineColumns(false)), false);
    QPalette gp = ui->grdDetail->palette();
    gp.setColor(QPalette::Base, QColor(0xEA, 0xEA, 0xEA));
    ui->grdDetail->setPalette(gp);
    ui->edNum->installEventFilter(this);

    connect(ui->edNum, &QLineEdit::textChanged, this, &TfrmSelectOrd::edNumChange);
    connect(ui->btnPrint, &QPushButton::clicked, this, &TfrmSelectOrd::btnPrintClick);
    connect(ui->btnOrd, &QToolButton::clicked, this, &TfrmSelectOrd::btnOrdClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
}

TfrmSelectOrd::~TfrmSelectOrd()
{
    qOrd_->afterScroll = nullptr;
    delete ui;
}

QLineEdit* TfrmSelectOrd::edCode() const
{
    return ui->edCode;
}
QLineEdit* TfrmSelectOrd::edNum() const
{
    return ui->edNum;
}
QDateEdit* TfrmSelectOrd::edDate() const
{
    return ui->edDate;
}
kui::DataGrid* TfrmSelectOrd::grdDetail() const
{
    return ui->grdDetail;
}
QToolButton* TfrmSelectOrd::btnOrd() const
{
    return ui->btnOrd;
}
QPushButton* TfrmSelectOrd::btnPrint() const
{
    return ui->btnPrint;
}
QPushButton* TfrmSelectOrd::btnClose() const
{
    return ui->btnClose;
}

void TfrmSelectOrd::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSelectOrd::FormShow()
{
    ui->edDate->setDate(QDate::currentDate());
    records::Guarded([this] { ReopenOrd({}); });
    ui->edNum->setFocus();
    QCoreApplication::processEvents();
}

void TfrmSelectOrd::ReopenOrd(const QString& code)
{
    qOrd_->afterScroll = nullptr;
    qMedic_->close();
    qOrd_->close();
    qOrd_->setDatabaseName(DataPath.toStdString());
    qOrd_->open();
    if (code.isEmpty() || !qOrd_->locate("CODE", code))
        qOrd_->last();
    qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
    qOrdAfterScroll();
}

void TfrmSelectOrd::qOrdAfterScroll()
{
    unmatched_.clear();
    records::Guarded([this] {
        const QString code = qOrd_->isEmpty() ? QString() : qOrd_->fieldByName("CODE").asString().trimmed();
        ui->edCode->setText(code);
        qMedic_->close();
        qMedic_->setDatabaseName(DataPath.toStdString());
        qMedic_->setParamText("CODE", code);
        qMedic_->open();
    });
}

void TfrmSelectOrd::edNumChange(const QString& text)
{
    unmatched_.clear();
    if (!IsNumeric(text) || !qOrd_->active())
        return;
    records::Guarded([&] {
        kdb::LocateOptions partial;
        partial.caseInsensitive = true;
        partial.partialKey = true;
        if (!qOrd_->locate("CODE", text, partial)) {
            qOrd_->first();
            unmatched_ = text;  // after the move, which forgets it
        }
    });
}

void TfrmSelectOrd::btnPrintClick()
{
    if (!unmatched_.isEmpty()) {
        kui::MsgInformation(QString::fromUtf8("Aucune ordonnance ne porte un numéro commençant par %1.\r"
                                              "Rien n'a été imprimé.")
                                .arg(unmatched_),
            this);
        ui->edNum->setFocus();
        ui->edNum->selectAll();
        return;
    }
    auto* report = new TfrmRptOrdonnance(nullptr);
    frmRptOrdonnance = report;
    report->PatientCode = CurrentPatientCode;
    report->OrdCode = ui->edCode->text();
    report->OrdDate = ui->edDate->date();
    report->Preview(context_);
    delete report;
}

void TfrmSelectOrd::btnOrdClick()
{
    {
        TfrmOrd frm(context_, this);
        // The lists are closed while the editor writes FORD.
        qMedic_->close();
        qOrd_->afterScroll = nullptr;
        qOrd_->close();
        frm.exec();
    }
    const QString shown = ui->edCode->text();
    ui->grdDetail->setUpdatesEnabled(false);
    records::Guarded([&] { ReopenOrd(shown); });
    ui->grdDetail->setUpdatesEnabled(true);
}

void TfrmSelectOrd::closeEvent(QCloseEvent* event)
{
    qOrd_->close();
    qMedic_->close();
    QDialog::closeEvent(event);
}

void TfrmSelectOrd::keyPressEvent(QKeyEvent* event)
{
    // Imprimer is both the default and the cancel button.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        btnPrintClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmSelectOrd::eventFilter(QObject* watched, QEvent* event)
{
    // Only digits and Enter reach the search field; Esc (the window's
    // cancel button) and Tab are keys of the window, not characters.
    if (watched == ui->edNum && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape ||
            key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false;
        const QString text = key->text();
        if (text.size() == 1 && (text[0] < QLatin1Char('0') || text[0] > QLatin1Char('9')))
            return true;
        if (key->key() == Qt::Key_Backspace)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
