#include "UTable.h"
#include "ui_UTable.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/os/Abort.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSet>
#include <QShowEvent>
#include <QStatusBar>

namespace {

// Width of LIBELLE: a longer label is cut.
constexpr int kLabelWidth = 60;

// The values of the first column of a SELECT, blanks on the right dropped.
QSet<QString> Values(const QString& databaseName, const QString& sql)
{
    kdb::QueryDataset q;
    q.setDatabaseName(databaseName.toStdString());
    q.setSql(sql);
    q.open();
    QSet<QString> values;
    for (q.first(); !q.eof(); q.next()) {
        QString v = q.field(0).asString();
        while (v.endsWith(QLatin1Char(' ')))
            v.chop(1);
        values.insert(v);
    }
    return values;
}

}  // namespace

TfrmTable::TfrmTable(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmTable), qTable_(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    kui::CentreOnScreenWhenShown(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui->btnAdd->setIcon(kui::ThemeIcon("list-add", QStyle::SP_FileIcon));
    ui->btnDelete->setIcon(kui::ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    ui->btnModif->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));

    // The mode banner: white bold underlined on navy.
    QFont banner = ui->lMode->font();
    banner.setBold(true);
    banner.setUnderline(true);
    ui->lMode->setFont(banner);
    ui->lMode->setAutoFillBackground(true);
    QPalette bp = ui->lMode->palette();
    bp.setColor(QPalette::Window, QColor(0x00, 0x00, 0x80));
    bp.setColor(QPalette::WindowText, Qt::white);
    ui->lMode->setPalette(bp);
    QPalette cp = ui->edCode->palette();
    cp.setColor(QPalette::Base, records::ReadOnlyGrey);
    ui->edCode->setPalette(cp);
    records::ForceUpperCase(ui->edDesig);
    ui->edDesig->setMaxLength(kLabelWidth);
    ui->pnlSaisie->hide();

    kui::DatasetModel* model = ui->grdTable->bind(qTable_,
        {{"CODE", "Code", Qt::AlignCenter, Qt::AlignCenter, false, 60},
            {"LIBELLE", QString::fromUtf8("Libellé"), {}, Qt::AlignLeft | Qt::AlignVCenter, false, 400}});
    records::ReadOnlyList(ui->grdTable, model, false);
    ui->grdTable->setCellEdgeLines(true);
    ui->grdTable->horizontalHeader()->setSectionsClickable(true);
    connect(ui->grdTable->horizontalHeader(), &QHeaderView::sectionClicked, this, &TfrmTable::grdTableTitleClick);
    connect(qTable_, &kdb::Dataset::currentChanged, this, &TfrmTable::dsqTableDataChange);
    connect(qTable_, &kdb::Dataset::rowsReset, this, &TfrmTable::dsqTableDataChange);

    PopMenu_ = new QMenu(this);
    mnNew = PopMenu_->addAction("Nouveau", this, &TfrmTable::btnAddClick);
    mnDelete = PopMenu_->addAction("Supprimer", this, &TfrmTable::btnDeleteClick);
    mnModif = PopMenu_->addAction("Modifier", this, &TfrmTable::btnModifClick);
    PopMenu_->addSeparator();
    mnClose = PopMenu_->addAction("Fermer", this, &TfrmTable::mnCloseClick);

    connect(ui->btnAdd, &QToolButton::clicked, this, &TfrmTable::btnAddClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmTable::btnDeleteClick);
    connect(ui->btnModif, &QToolButton::clicked, this, &TfrmTable::btnModifClick);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmTable::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmTable::btnCancelClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmTable::mnCloseClick);
}

TfrmTable::~TfrmTable()
{
    delete ui;
}

kui::DataGrid* TfrmTable::grdTable() const
{
    return ui->grdTable;
}
QWidget* TfrmTable::pnlSaisie() const
{
    return ui->pnlSaisie;
}
QLabel* TfrmTable::lMode() const
{
    return ui->lMode;
}
QLineEdit* TfrmTable::edCode() const
{
    return ui->edCode;
}
QLineEdit* TfrmTable::edDesig() const
{
    return ui->edDesig;
}
QPushButton* TfrmTable::btnOk() const
{
    return ui->btnOk;
}
QPushButton* TfrmTable::btnCancel() const
{
    return ui->btnCancel;
}
QToolButton* TfrmTable::btnAdd() const
{
    return ui->btnAdd;
}
QToolButton* TfrmTable::btnDelete() const
{
    return ui->btnDelete;
}
QToolButton* TfrmTable::btnModif() const
{
    return ui->btnModif;
}
QPushButton* TfrmTable::btnClose() const
{
    return ui->btnClose;
}
QStatusBar* TfrmTable::stBar() const
{
    return ui->stBar;
}

QString TfrmTable::ListSql() const
{
    return "SELECT * FROM " + TableName + " ORDER BY " + order_;
}

void TfrmTable::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmTable::FormShow()
{
    setWindowTitle(Title);
    // The label takes only the letters its table holds.
    kui::SetCodePage(ui->edDesig, records::TableCodePage(DatabaseName, TableName));
    setFixedSize(size());
    records::Guarded([this] {
        qTable_->close();
        qTable_->setDatabaseName(DatabaseName.toStdString());
        qTable_->setSql(ListSql());
        qTable_->open();
    });
    UpdateButtons();
    dsqTableDataChange();
}

void TfrmTable::UpdateButtons()
{
    const bool v = ui->pnlSaisie->isVisible();
    const bool e = !qTable_->active() || qTable_->isEmpty();
    ui->btnAdd->setEnabled(!v);
    mnNew->setEnabled(!v);
    for (QWidget* w : {static_cast<QWidget*>(ui->btnDelete), static_cast<QWidget*>(ui->btnModif)})
        w->setEnabled(!v && !e);
    mnDelete->setEnabled(!v && !e);
    mnModif->setEnabled(!v && !e);
}

void TfrmTable::dsqTableDataChange()
{
    UpdateButtons();
    const int count = qTable_->active() ? qTable_->recordCount() : 0;
    ui->stBar->showMessage(" Nbre Enregistrements : " + QString::number(count));
}

void TfrmTable::grdTableTitleClick(int column)
{
    order_ = column == 0 ? QStringLiteral("Code") : QStringLiteral("Libelle");
    Reopen({});
}

void TfrmTable::Reopen(const QString& code)
{
    records::Guarded([&] {
        qTable_->close();
        qTable_->setDatabaseName(DatabaseName.toStdString());
        qTable_->setSql(ListSql());
        qTable_->open();
        if (code.isEmpty() || !qTable_->locate("CODE", code))
            qTable_->first();
    });
    UpdateButtons();
}

void TfrmTable::btnAddClick()
{
    if (ui->pnlSaisie->isVisible())
        return;
    ui->lMode->setText("INSERTION");
    ui->edCode->clear();
    ui->edDesig->clear();
    desigFrom_ = ui->edDesig->text();
    ui->pnlSaisie->show();
    UpdateButtons();
    ui->edDesig->setFocus();
}

void TfrmTable::btnModifClick()
{
    if (ui->pnlSaisie->isVisible() || !qTable_->active() || qTable_->isEmpty())
        return;
    ui->lMode->setText("MODIFICATION");
    ui->edCode->setText(qTable_->fieldByName("CODE").asString().trimmed());
    ui->edDesig->setText(qTable_->fieldByName("LIBELLE").asString().trimmed());
    desigFrom_ = ui->edDesig->text();
    ui->pnlSaisie->show();
    UpdateButtons();
    ui->edDesig->setFocus();
}

QString TfrmTable::NextFreeCode(const QString& TableName, const QString& DatabaseName, int Width)
{
    QSet<QString> taken = Values(DatabaseName, "SELECT CODE FROM " + TableName);
    // A code still named by exams stays taken, so that those exams never
    // come to show another exam's label.
    const QString kind = TableName.compare("FRADIO", Qt::CaseInsensitive) == 0 ? "R"
        : TableName.compare("FBIO", Qt::CaseInsensitive) == 0                  ? "B"
                                                                               : QString();
    if (!kind.isEmpty()) {
        try {
            taken.unite(Values(DatabaseName, "SELECT DISTINCT CODE FROM EXCOMP WHERE RADIOBIO='" + kind + "'"));
        } catch (const std::exception&) {
            // a directory without exams: nothing more is taken
        }
    }
    QString code = PadLeft("1", "0", Width);
    const QString first = code;
    while (taken.contains(code)) {
        if (!AdvanceCode(code)) {
            ShowError("Code Incorrect ! " + code);
            Abort();
        }
        if (code == first) {
            ShowError("Plus aucun code libre dans la table " + TableName);
            Abort();
        }
    }
    QCoreApplication::processEvents();
    return code;
}

void TfrmTable::btnOkClick()
{
    ui->edDesig->setText(ui->edDesig->text().trimmed());
    if (ui->edDesig->text().isEmpty()) {
        ShowError(QString::fromUtf8("Le libellé est manquant !"));
        ui->edDesig->setFocus();
        return;
    }
    ui->edCode->setText(ui->edCode->text().trimmed());
    bool written = false;
    bool gone = false;
    records::Guarded([&] {
        const bool allocated = ui->edCode->text().isEmpty();
        if (allocated)
            TakeCodeAllocation(TableName, DatabaseName);
        try {
            if (allocated)
                ui->edCode->setText(NextFreeCode(TableName, DatabaseName, CodeLength));
            kdb::TableDataset myTable;
            myTable.setDatabaseName(DatabaseName.toStdString());
            myTable.setTableName(TableName.toStdString());
            myTable.setFlushOnPost(true);
            myTable.open();
            const QString code = ui->edCode->text();
            // A code another workstation deleted while it was changed here
            // is not written again.
            if (!records::StartRowWrite(myTable, "CODE", code, allocated)) {
                gone = true;
                return;
            }
            if (allocated)
                myTable.fieldByName("CODE").setAsString(code);
            myTable.fieldByName("LIBELLE").setAsString(ui->edDesig->text().left(kLabelWidth));
            try {
                myTable.post();
            } catch (...) {
                myTable.cancel();
                throw;
            }
            myTable.close();
        } catch (...) {
            if (allocated) {
                ReleaseCodeAllocation();
                ui->edCode->clear();
            }
            throw;
        }
        if (allocated)
            ReleaseCodeAllocation();
        written = true;
    });
    QCoreApplication::processEvents();
    if (gone) {
        Reopen({});
        records::WarnElsewhere(records::DeletedElsewhereText(QStringLiteral("Le code ") + ui->edCode->text() +
                                       QStringLiteral(" « ") + desigFrom_.trimmed() + QStringLiteral(" »"),
                                   false) +
                records::NotSavedNote() + records::ListUpdatedNote(),
            this);
        UpdateButtons();
        ui->edDesig->setFocus();
        return;
    }
    if (!written)
        return;
    ui->pnlSaisie->hide();
    Reopen(ui->edCode->text());
}

void TfrmTable::btnCancelClick()
{
    // A typed label is dropped only once the user said so.
    if (ui->pnlSaisie->isVisible() && Typed() && !records::ConfirmDiscard(this))
        return;
    ui->pnlSaisie->hide();
    UpdateButtons();
}

void TfrmTable::btnDeleteClick()
{
    if (ui->pnlSaisie->isVisible() || !qTable_->active() || qTable_->isEmpty())
        return;
    QString code = qTable_->fieldByName("CODE").asString().trimmed();
    if (!kui::MsgConfirm(DeleteQuestion(code), this))
        return;
    code.replace("'", "''");
    records::Guarded([&] {
        kdb::QueryDataset q;
        q.setDatabaseName(DatabaseName.toStdString());
        q.setSql("DELETE FROM  " + TableName + " WHERE CODE='" + code + "'");
        q.execSql();
    });
    Reopen({});
}

void TfrmTable::mnCloseClick()
{
    close();
}

bool TfrmTable::Typed() const
{
    return ui->edDesig->text().trimmed() != desigFrom_.trimmed();
}

QString TfrmTable::DeleteQuestion(const QString& code) const
{
    const QString question = QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?");
    const QString kind = TableName.compare("FRADIO", Qt::CaseInsensitive) == 0 ? "R"
        : TableName.compare("FBIO", Qt::CaseInsensitive) == 0                  ? "B"
                                                                               : QString();
    if (kind.isEmpty())
        return question;
    int exams = 0;
    try {
        kdb::QueryDataset q;
        q.setDatabaseName(DatabaseName.toStdString());
        q.setSql("SELECT NUM FROM EXCOMP WHERE RADIOBIO=:RADIOBIO AND CODE=:CODE");
        q.setParamText("RADIOBIO", kind);
        q.setParamText("CODE", code);
        q.open();
        exams = q.recordCount();
    } catch (const std::exception&) {
        return question;  // a directory without exams: the plain question
    }
    if (exams == 0)
        return question;
    return (exams == 1 ? QString::fromUtf8("Ce code est utilisé par 1 examen, qui n'aura plus de nom d'examen.")
                       : QString::fromUtf8("Ce code est utilisé par %1 examens, qui n'auront plus de nom d'examen.")
                             .arg(exams)) +
        "\r" + question;
}

void TfrmTable::closeEvent(QCloseEvent* event)
{
    // Closed with a label typed in the entry panel: asked first.
    if (ui->pnlSaisie->isVisible() && Typed() && !records::ConfirmDiscard(this)) {
        event->ignore();
        return;
    }
    qTable_->close();
    QDialog::closeEvent(event);
}

void TfrmTable::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (ui->pnlSaisie->isVisible())
            btnCancelClick();
        else
            close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmTable::contextMenuEvent(QContextMenuEvent* event)
{
    PopMenu_->popup(event->globalPos());
}
