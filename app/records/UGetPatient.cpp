#include "UGetPatient.h"
#include "ui_UGetPatient.h"

#include "RecordsCommon.h"
#include "UPatient.h"
#include "app/global/global.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/WaitCursor.h"
#include "platform/ui/data/DataGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QShowEvent>

TfrmGetPatient::TfrmGetPatient(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmGetPatient)
{
    ui->setupUi(this);
    QFont big = ui->edNom->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    ui->edNom->setFont(big);
    records::ForceUpperCase(ui->edNom);

    qPatient_.setFieldDisplay("DN", QString(), Qt::AlignCenter);
    kui::DatasetModel* model = ui->grdPatient->bind(&qPatient_,
        {{"NOM", QStringLiteral("Nom")}, {"PRENOM", QStringLiteral("Prénom")},
            {"DN", QStringLiteral("Date Nais."), Qt::AlignCenter, Qt::AlignCenter},
            {"PROFES", QStringLiteral("Profession")}, {"ADR", QStringLiteral("Adresse")}});
    model->setReadOnly(true);
    model->setRowPaint(kui::selectedRowColors());
    ui->grdPatient->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->grdPatient->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->grdPatient->verticalHeader()->hide();

    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmGetPatient::BitBtn1Click);
    connect(ui->btnPatient, &QPushButton::clicked, this, &TfrmGetPatient::btnPatientClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    // A double-click anywhere on the grid chooses its current row, and so
    // does Enter on a row (Enter in the search edit searches).
    ui->grdPatient->viewport()->installEventFilter(this);
    ui->grdPatient->installEventFilter(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // The Close button is no cancel button: Esc does nothing.
    kui::EscapeDoesNothing(this);
}

TfrmGetPatient::~TfrmGetPatient()
{
    qPatient_.close();
    delete ui;
}

QLineEdit* TfrmGetPatient::edNom() const
{
    return ui->edNom;
}
kui::DataGrid* TfrmGetPatient::grdPatient() const
{
    return ui->grdPatient;
}

QString TfrmGetPatient::statusText() const
{
    return ui->stBar->currentMessage();
}

void TfrmGetPatient::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmGetPatient::FormShow()
{
    ui->edNom->clear();
    ui->edNom->setFocus();
}

void TfrmGetPatient::BitBtn1Click()
{
    records::Guarded([this] {
        kui::WaitCursor wait;
        qPatient_.close();
        // The typed text with "%" appended, as a literal: every quote doubled.
        QString pattern = ui->edNom->text() + QStringLiteral("%");
        pattern.replace(QStringLiteral("'"), QStringLiteral("''"));
        qPatient_.setDatabaseName(DataPath.toStdString());
        qPatient_.setSql(QStringLiteral("SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE '") +
            pattern + QStringLiteral("' ORDER BY NOM, PRENOM"));
        qPatient_.open();
        const int count = qPatient_.recordCount();
        qPatient_.first();
        if (count == 0)
            ui->edNom->setFocus();
        else
            ui->grdPatient->setFocus();
        ui->stBar->showMessage(QStringLiteral("  %1 Patients").arg(count));
    });
    QApplication::processEvents();
}

bool TfrmGetPatient::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->grdPatient->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        grdPatientDblClick();
        return true;
    }
    if (watched == ui->grdPatient && event->type() == QEvent::KeyPress) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        const int key = keyEvent->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && qPatient_.active() && !qPatient_.isEmpty()) {
            event->accept();
            grdPatientDblClick();
            return true;
        }
        // Letters typed on the grid start the next search, so that a name
        // typed after a search and Enter never choose the row highlighted.
        const QString text = keyEvent->text();
        if (!(keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
            text.size() == 1 && text.at(0).isPrint() && !text.at(0).isSpace()) {
            ui->edNom->clear();
            ui->edNom->setFocus();
            ui->edNom->insert(text);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmGetPatient::grdPatientDblClick()
{
    accept();
}

void TfrmGetPatient::btnPatientClick()
{
    records::Guarded([this] {
        const QString code =
            qPatient_.active() && !qPatient_.isEmpty() ? qPatient_.fieldByName("CODE").asString() : QString();
        TfrmPatient frm(context_, this);
        frm.CodePatient = code;
        frm.exec();
    });
}

void TfrmGetPatient::done(int result)
{
    FormClose(result);
    QDialog::done(result);
}

void TfrmGetPatient::FormClose(int result)
{
    CurrentPatientCode.clear();
    // Only a listed row can be chosen.
    if (result == QDialog::Accepted && qPatient_.active() && !qPatient_.isEmpty() && qPatient_.recNo() > 0)
        CurrentPatientCode = qPatient_.fieldByName("CODE").asString();
    qPatient_.close();
}
