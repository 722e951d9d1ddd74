#include "UListProt.h"
#include "ui_UListProt.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UPROT.h"
#include "app/global/global.h"
#include "app/reports/URptProtocole.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/data/DataGrid.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QShowEvent>

TfrmListProt::TfrmListProt(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmListProt), qPROT_(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    kui::EscapeDoesNothing(this);  // a Close button, no cancel button: Esc does nothing
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    qPROT_->setSql(QStringList{"SELECT * FROM FPROT", "ORDER BY DATE_PRT"});

    ui->btnAdd->setIcon(kui::ThemeIcon("list-add", QStyle::SP_FileIcon));
    ui->btnDelete->setIcon(kui::ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    ui->btnModif->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));

    kui::DatasetModel* model = ui->grdRDV->bind(qPROT_,
        {{"NOM", "Patient", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 172},
            {"DATE_PRT", "Date", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 83},
            {"CLINIQUE", "Heure", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 59},
            {"OPERATEUR", "Motif", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 252}});
    records::ReadOnlyList(ui->grdRDV, model, true);

    PopMnProt_ = new QMenu(this);
    mnNew = PopMnProt_->addAction("Nouveau ", this, &TfrmListProt::btnAddClick);
    mnDelete = PopMnProt_->addAction("Supprimer", this, &TfrmListProt::btnDeleteClick);
    mnModif = PopMnProt_->addAction("Modifier les informations", this, &TfrmListProt::btnModifClick);
    mnPrint = PopMnProt_->addAction("Imprimer", this, &TfrmListProt::mnPrintClick);
    mnClose = PopMnProt_->addAction("Fermer", this, &TfrmListProt::mnCloseClick);

    connect(ui->btnAdd, &QToolButton::clicked, this, &TfrmListProt::btnAddClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmListProt::btnDeleteClick);
    connect(ui->btnModif, &QToolButton::clicked, this, &TfrmListProt::btnModifClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmListProt::mnCloseClick);
    // A double-click anywhere on the grid, below the rows too, opens the
    // current protocol.
    ui->grdRDV->viewport()->installEventFilter(this);
}

TfrmListProt::~TfrmListProt()
{
    delete ui;
}

bool TfrmListProt::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->grdRDV->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        btnModifClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

kui::DataGrid* TfrmListProt::grdRDV() const
{
    return ui->grdRDV;
}
QToolButton* TfrmListProt::btnAdd() const
{
    return ui->btnAdd;
}
QToolButton* TfrmListProt::btnDelete() const
{
    return ui->btnDelete;
}
QToolButton* TfrmListProt::btnModif() const
{
    return ui->btnModif;
}
QPushButton* TfrmListProt::btnClose() const
{
    return ui->btnClose;
}

void TfrmListProt::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmListProt::FormShow()
{
    try {
        qPROT_->close();
        qPROT_->setDatabaseName(DataPath.toStdString());
        qPROT_->open();
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
    UpdateButtons();
}

void TfrmListProt::UpdateButtons()
{
    const bool any = qPROT_->active() && !qPROT_->isEmpty();
    ui->btnDelete->setEnabled(any);
    ui->btnModif->setEnabled(any);
    mnDelete->setEnabled(any);
    mnModif->setEnabled(any);
}

QString TfrmListProt::CurrentNum() const
{
    if (!qPROT_->active() || qPROT_->isEmpty())
        return {};
    return qPROT_->fieldByName("NUM").asString().trimmed();
}

void TfrmListProt::RefreshList(const QString& num)
{
    qPROT_->disableControls();
    try {
        qPROT_->close();
        qPROT_->setDatabaseName(DataPath.toStdString());
        qPROT_->open();
        if (num.isEmpty() || !qPROT_->locate("NUM", num))
            qPROT_->first();
    } catch (const std::exception& e) {
        qPROT_->enableControls();
        kui::TApplication::HandleException(e);
        UpdateButtons();
        return;
    }
    qPROT_->enableControls();
    UpdateButtons();
}

void TfrmListProt::btnAddClick()
{
    QString num;
    {
        TfrmPROT frm(context_, this);
        frm.NumProt.clear();
        frm.exec();
        num = frm.NumProt;
    }
    RefreshList(num);
}

void TfrmListProt::btnModifClick()
{
    const QString num = CurrentNum();
    if (num.isEmpty() || !RowUpToDate())
        return;
    {
        TfrmPROT frm(context_, this);
        frm.NumProt = num;
        frm.exec();
    }
    RefreshList(num);
}

void TfrmListProt::btnDeleteClick()
{
    if (!CurrentNum().isEmpty() && !RowUpToDate())
        return;
    if (!kui::MsgConfirm(QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"), this))
        return;
    const QString num = CurrentNum();
    const QString what = num.isEmpty() ? QString() : RowWhat();
    int deleted = -1;
    try {
        // The row first: a DELETE that fails leaves the protocol with its
        // detail text.
        kdb::QueryDataset query;
        query.setDatabaseName(DataPath.toStdString());
        query.setSql("DELETE FROM FPROT WHERE NUM='" + num + "'");
        deleted = query.execSql();
        const QString file = ProtDir + "PROT" + num + ".RTF";
        if (QFile::exists(file))
            QFile::remove(file);  // a file that stays is no error
        RefreshList({});
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
    if (!num.isEmpty() && deleted == 0)  // deleted on another workstation while the question was asked
        records::WarnElsewhere(records::DeletedElsewhereText(what, false) + records::ListUpdatedNote(), this);
    QCoreApplication::processEvents();
}

void TfrmListProt::mnPrintClick()
{
    if (!CurrentNum().isEmpty() && !RowUpToDate())
        return;
    PrintProtocol(context_, CurrentNum());
}

QString TfrmListProt::RowWhat() const
{
    const auto text = [this](const char* field) { return qPROT_->fieldByName(field).asString().trimmed(); };
    const QString patient = records::FullName(text("NOM"), text("PRENOM"));
    return QStringLiteral("Le protocole n° ") + text("NUM") +
        (patient.isEmpty() ? QString() : QStringLiteral(" de ") + patient) + QStringLiteral(" du ") + text("DATE_PRT");
}

bool TfrmListProt::RowUpToDate()
{
    const QString num = CurrentNum();
    return records::ListRowUpToDate(
        *qPROT_, QStringLiteral("FPROT"), "NUM", [this] { return RowWhat(); }, false,
        [&](records::RowState state) { RefreshList(state == records::RowState::Gone ? QString() : num); }, this);
}

void TfrmListProt::mnCloseClick()
{
    close();
}

void TfrmListProt::closeEvent(QCloseEvent* event)
{
    qPROT_->close();
    QDialog::closeEvent(event);
}

void TfrmListProt::contextMenuEvent(QContextMenuEvent* event)
{
    PopMnProt_->popup(event->globalPos());
}
