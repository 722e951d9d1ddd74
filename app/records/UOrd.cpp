#include "UOrd.h"
#include "ui_UOrd.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/os/Abort.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSet>
#include <QShowEvent>
#include <QTimer>

namespace {

// CODE holds at most three digits.
constexpr int kLastOrdCode = 999;

QString Quoted(QString text)
{
    return text.replace("'", "''");
}

}  // namespace

TfrmOrd::TfrmOrd(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmOrd), qOrd_(new kdb::QueryDataset(this)),
      tMedic_(new kdb::TableDataset(this))
{
    ui->setupUi(this);
    kui::CentreOnScreenWhenShown(this);
    kui::EscapeDoesNothing(this);  // a Close button, no cancel button: Esc does nothing
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
        Qt::WindowCloseButtonHint);
    ui->btnNew->setIcon(kui::ThemeIcon("document-new", QStyle::SP_FileIcon));
    ui->btnDelete->setIcon(kui::ThemeIcon("edit-delete", QStyle::SP_TrashIcon));
    ui->btnPost->setIcon(kui::ThemeIcon("document-save", QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(kui::ThemeIcon("edit-undo", QStyle::SP_DialogCancelButton));
    QFont bold = ui->edCode->font();
    bold.setBold(true);
    ui->edCode->setFont(bold);
    QPalette cp = ui->edCode->palette();
    cp.setColor(QPalette::Base, records::ReadOnlyGrey);
    ui->edCode->setPalette(cp);

    qOrd_->setSql(QStringList{"SELECT DISTINCT CODE FROM FORD", "ORDER BY CODE"});
    tMedic_->setTableName("FORD.DBF");
    tMedic_->setFlushOnPost(true);
    ui->navOrd->bind(qOrd_);
    // The line being typed belongs to the prescription shown: it is written
    // there before the navigator shows another one.
    ui->navOrd->beforeMove = [this] { SavePendingLine(); };
    connect(ui->navOrd, &kui::DataNavigator::moveFailed, this, &TfrmOrd::LineFailed);
    qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
    tMedic_->onNewRecord = [this](kdb::Dataset&) { tMedicNewRecord(); };
    tMedic_->beforePost = [this](kdb::Dataset&) { tMedicBeforePost(); };
    tMedic_->afterPost = [this](kdb::Dataset&) {
        // The list of numbers, closed while the line was written, comes
        // back on the number shown.
        records::Guarded([this] {
            qOrd_->open();
            if (!qOrd_->locate("CODE", ui->edCode->text()))
                qOrd_->last();
        });
        qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
        if (holdsLock_) {
            ReleaseCodeAllocation();
            holdsLock_ = false;
        }
        if (OrdIsNew)
            newOrdWritten_ = true;
        // A line written under another number than the one shown: the
        // screen follows it.
        if (tMedic_->filter() != "CODE='" + Quoted(ui->edCode->text()) + "'")
            QTimer::singleShot(0, this, [this] { records::Guarded([this] { ShowLinesOf(ui->edCode->text()); }); });
        UpdateButtons();
    };
    tMedic_->afterCancel = [this](kdb::Dataset&) { tMedicAfterCancel(); };
    connect(tMedic_, &kdb::Dataset::stateChanged, this, &TfrmOrd::UpdateButtons);

    kui::DatasetModel* model = ui->grdDetail->bind(tMedic_, LineColumns(true));
    model->setRowPaint(kui::alternateRowColors());
    ui->grdDetail->setCellEdgeLines(true);
    ui->grdDetail->horizontalHeader()->setVisible(true);
    ui->grdDetail->setSelectionBehavior(QAbstractItemView::SelectItems);
    ui->grdDetail->installEventFilter(this);
    connect(ui->grdDetail, &kui::DataGrid::moveFailed, this, &TfrmOrd::LineFailed);

    PopMenu_ = new QMenu(this);
    mnNew = PopMenu_->addAction("Nouvelle ", this, &TfrmOrd::btnNewClick);
    mnDelete = PopMenu_->addAction("Supprimer", this, &TfrmOrd::btnDeleteClick);
    mnPost = PopMenu_->addAction("Enregistrer", this, &TfrmOrd::btnPostClick);
    mnCancel = PopMenu_->addAction("Annuler", this, &TfrmOrd::btnCancelClick);
    PopMenu_->addSeparator();
    mnAddLine = PopMenu_->addAction(QString::fromUtf8("Ajouter un médicament"), this, &TfrmOrd::btnAddLineClick);
    mnDelLine = PopMenu_->addAction(QString::fromUtf8("Supprimer un médicament"), this, &TfrmOrd::btnDelLineClick);
    PopMenu_->addSeparator();
    mnClose = PopMenu_->addAction("Fermer", this, &TfrmOrd::mnCloseClick);

    connect(ui->btnNew, &QToolButton::clicked, this, &TfrmOrd::btnNewClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmOrd::btnDeleteClick);
    connect(ui->btnPost, &QToolButton::clicked, this, &TfrmOrd::btnPostClick);
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmOrd::btnCancelClick);
    connect(ui->btnAddLine, &QToolButton::clicked, this, &TfrmOrd::btnAddLineClick);
    connect(ui->btnDelLine, &QToolButton::clicked, this, &TfrmOrd::btnDelLineClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmOrd::mnCloseClick);
    // A single border, at a size that shows every button whole.
    kui::SetFixedBorder(this);
}

TfrmOrd::~TfrmOrd()
{
    if (holdsLock_)
        ReleaseCodeAllocation();
    tMedic_->beforePost = nullptr;
    tMedic_->afterPost = nullptr;
    tMedic_->afterCancel = nullptr;
    tMedic_->onNewRecord = nullptr;
    qOrd_->afterScroll = nullptr;
    ui->navOrd->beforeMove = nullptr;
    delete ui;
}

QLineEdit* TfrmOrd::edCode() const
{
    return ui->edCode;
}
kui::DataGrid* TfrmOrd::grdDetail() const
{
    return ui->grdDetail;
}
kui::DataNavigator* TfrmOrd::navOrd() const
{
    return ui->navOrd;
}
QToolButton* TfrmOrd::btnNew() const
{
    return ui->btnNew;
}
QToolButton* TfrmOrd::btnDelete() const
{
    return ui->btnDelete;
}
QToolButton* TfrmOrd::btnPost() const
{
    return ui->btnPost;
}
QToolButton* TfrmOrd::btnCancel() const
{
    return ui->btnCancel;
}
QToolButton* TfrmOrd::btnAddLine() const
{
    return ui->btnAddLine;
}
QToolButton* TfrmOrd::btnDelLine() const
{
    return ui->btnDelLine;
}
QPushButton* TfrmOrd::btnClose() const
{
    return ui->btnClose;
}

std::vector<kui::GridColumn> TfrmOrd::LineColumns(bool editable)
{
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
    return {{"MEDIC", QString::fromUtf8("Médicament"), {}, left, editable, 220},
        {"FORME", "Forme", {}, left, editable, 100}, {"DOSAGE", "Dosage", {}, left, editable, 100},
        {"QTE", QString::fromUtf8("Quantité"), {}, left, editable, 80},
        {"POSOLOGIE", "Posologie", {}, left, editable, 140}};
}

int TfrmOrd::NewOrdCode()
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql("SELECT DISTINCT CODE FROM FORD");
    q.open();
    QSet<int> taken;
    int greatest = 0;
    for (q.first(); !q.eof(); q.next()) {
        const QString code = q.field(0).asString().trimmed();
        bool ok = false;
        const int n = code.toInt(&ok);
        if (ok && IsNumeric(code)) {
            taken.insert(n);
            greatest = std::max(greatest, n);
        }
    }
    q.close();
    int code = greatest + 1;
    if (code > kLastOrdCode) {
        code = 1;
        while (code <= kLastOrdCode && taken.contains(code))
            ++code;
        if (code > kLastOrdCode) {
            ShowError("Plus aucun code libre dans la table FORD");
            Abort();
        }
    }
    QCoreApplication::processEvents();
    return code;
}

int TfrmOrd::NewLineNum(const QString& code)
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql("SELECT MAX(NUM) AS myNUM FROM FORD WHERE CODE='" + Quoted(code) + "'");
    q.open();
    const QString max = q.isEmpty() ? QString() : q.fieldByName("myNUM").asString().trimmed();
    return IsNumeric(max) ? static_cast<int>(max.toDouble()) + 1 : 1;
}

void TfrmOrd::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmOrd::FormShow()
{
    records::Guarded([this] {
        tMedic_->close();
        tMedic_->setDatabaseName(DataPath.toStdString());
        tMedic_->setFilter("CODE=''");
        tMedic_->setFiltered(true);
        qOrd_->close();
        qOrd_->setDatabaseName(DataPath.toStdString());
        qOrd_->open();
        tMedic_->open();
        qOrd_->last();
        qOrdAfterScroll();
    });
    OrdIsNew = false;
    UpdateButtons();
    // The lines are typed straight away.
    if (ui->grdDetail->isEnabled())
        ui->grdDetail->setFocus();
}

void TfrmOrd::ShowLinesOf(const QString& code)
{
    ui->edCode->setText(code);
    tMedic_->setFilter("CODE='" + Quoted(code) + "'");
}

// Writes the line being typed (the cell editor's text included) into the
// prescription shown, or drops a new line nothing was typed in.
void TfrmOrd::SavePendingLine()
{
    if (!tMedic_->active())
        return;
    tMedic_->checkBrowseMode();
}

void TfrmOrd::qOrdAfterScroll()
{
    const QString code = qOrd_->isEmpty() ? QString() : qOrd_->fieldByName("CODE").asString().trimmed();
    records::Guarded([&] { ShowLinesOf(code); });
    UpdateButtons();
}

void TfrmOrd::UpdateButtons()
{
    const kdb::DatasetState s = tMedic_->state();
    const bool e = s == kdb::DatasetState::Edit || s == kdb::DatasetState::Insert;
    const bool l = tMedic_->active() && !tMedic_->isEmpty();
    const bool p = qOrd_->active() && !qOrd_->isEmpty();
    ui->btnNew->setEnabled(!e);
    mnNew->setEnabled(!e);
    ui->btnDelete->setEnabled(!e && l);
    mnDelete->setEnabled(!e);
    for (QWidget* w : {ui->btnPost, ui->btnCancel})
        w->setEnabled(e);
    mnPost->setEnabled(e);
    mnCancel->setEnabled(e);
    ui->btnAddLine->setEnabled(p);
    mnAddLine->setEnabled(p);
    ui->btnDelLine->setEnabled(l);
    mnDelLine->setEnabled(l);
    ui->grdDetail->setEnabled(!ui->edCode->text().isEmpty());
}

void TfrmOrd::btnNewClick()
{
    if (!ui->btnNew->isEnabled())
        return;
    GuardedLine([this] {
        SavePendingLine();
        const int code = NewOrdCode();
        OrdIsNew = true;
        newOrdWritten_ = false;
        ShowLinesOf(QString::number(code));
        UpdateButtons();
        tMedic_->append();
    });
}

void TfrmOrd::btnAddLineClick()
{
    GuardedLine([this] {
        tMedic_->checkBrowseMode();
        tMedic_->append();
    });
}

void TfrmOrd::tMedicNewRecord()
{
    UpdateButtons();
    ui->grdDetail->setFocus();
    QTimer::singleShot(0, this, [this] {
        const int row = tMedic_->insertRow();
        if (row < 0)
            return;
        const QModelIndex index = ui->grdDetail->model()->index(row, 0);
        ui->grdDetail->setCurrentIndex(index);
        ui->grdDetail->edit(index);
    });
}

void TfrmOrd::tMedicBeforePost()
{
    // The numbers are taken under FORD's allocation lock, given back once
    // the line is written (afterPost) or at the next allocation.
    TakeCodeAllocation("FORD", DataPath);
    holdsLock_ = true;
    // A prescription shown with its lines and deleted whole on another
    // workstation since takes no new line: that would bring its number back
    // with this line alone. The line typed stays on the screen.
    bool deleted = false;
    try {
        deleted = tMedic_->state() == kdb::DatasetState::Insert && !OrdIsNew &&
            !ui->edCode->text().trimmed().isEmpty() && tMedic_->recordCount() > 0 &&
            NewLineNum(ui->edCode->text().trimmed()) == 1;
    } catch (...) {
        ReleaseCodeAllocation();
        holdsLock_ = false;
        throw;
    }
    if (deleted) {
        ReleaseCodeAllocation();
        holdsLock_ = false;
        kui::MsgWarning(records::DeletedElsewhereText(
                            QStringLiteral("L'ordonnance n° ") + ui->edCode->text().trimmed(), true) +
                records::NotSavedNote(),
            this);
        Abort();
    }
    // A list left open while FORD is written would not show the new rows
    // when reopened: it is closed until the line is written.
    qOrd_->afterScroll = nullptr;
    qOrd_->close();
    try {
        ui->edCode->setText(ui->edCode->text().trimmed());
        // A new prescription's number, taken by another workstation since
        // it was shown, is replaced by the next free one.
        bool taken = false;
        if (OrdIsNew && !newOrdWritten_ && !ui->edCode->text().isEmpty())
            taken = NewLineNum(ui->edCode->text()) > 1;
        if (ui->edCode->text().isEmpty() || taken) {
            const QString code = QString::number(NewOrdCode());
            ui->edCode->setText(code);
        }
        const QString code = ui->edCode->text();
        tMedic_->fieldByName("CODE").setAsString(code);
        tMedic_->fieldByName("NUM").setAsInteger(NewLineNum(code));
        QString medic = tMedic_->fieldByName("MEDIC").asString();
        for (QChar& c : medic)
            if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                c = QChar(c.unicode() - 'a' + 'A');
        tMedic_->fieldByName("MEDIC").setAsString(medic.left(40));
    } catch (...) {
        ReleaseCodeAllocation();
        holdsLock_ = false;
        throw;
    }
}

void TfrmOrd::ReopenOrd(const QString& code)
{
    qOrd_->afterScroll = nullptr;
    try {
        qOrd_->close();
        qOrd_->open();
        if (code.isEmpty() || !qOrd_->locate("CODE", code))
            qOrd_->last();
    } catch (...) {
        qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
        throw;
    }
    qOrd_->afterScroll = [this](kdb::Dataset&) { qOrdAfterScroll(); };
    qOrdAfterScroll();
}

void TfrmOrd::btnPostClick()
{
    GuardedLine([this] {
        ui->edCode->setText(ui->edCode->text().trimmed());
        if (ui->edCode->text().isEmpty())
            ui->edCode->setText(QString::number(NewOrdCode()));
        // the text of a cell editor still open is part of the line
        if (!ui->grdDetail->commitCellEditor())
            Abort();
        const kdb::DatasetState s = tMedic_->state();
        if (s == kdb::DatasetState::Edit || s == kdb::DatasetState::Insert)
            tMedic_->post();
        ReopenOrd(ui->edCode->text());
    });
    OrdIsNew = false;
    UpdateButtons();
}

void TfrmOrd::btnCancelClick()
{
    if (!kui::MsgConfirm(QString::fromUtf8("Etes-vous sûr de vouloir annuler ?"), this))
        return;
    ui->grdDetail->dropCellEditor();  // its text goes with the line
    const kdb::DatasetState s = tMedic_->state();
    if (s == kdb::DatasetState::Edit || s == kdb::DatasetState::Insert)
        tMedic_->cancel();
}

void TfrmOrd::tMedicAfterCancel()
{
    if (OrdIsNew && !newOrdWritten_)
        records::Guarded([this] { ReopenOrd({}); });
    OrdIsNew = false;
    UpdateButtons();
}

void TfrmOrd::btnDelLineClick()
{
    if (!tMedic_->active() || tMedic_->isEmpty())
        return;
    if (!kui::MsgConfirm(QString::fromUtf8("Etes-vous sûr de vouloir supprimer ce médicament ?"), this))
        return;
    ui->grdDetail->dropCellEditor();
    records::Guarded([this] {
        // The line being added is not in FORD yet: it alone is dropped, not
        // the line shown before it.
        if (tMedic_->state() == kdb::DatasetState::Insert) {
            tMedic_->cancel();
            return;
        }
        if (tMedic_->state() != kdb::DatasetState::Browse)
            tMedic_->cancel();
        const int num = tMedic_->fieldByName("NUM").asInteger();
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql("DELETE FROM FORD.DBF WHERE CODE='" + Quoted(ui->edCode->text()) + "' AND       NUM=:NUM");
        q.setParamInteger("NUM", num);
        q.execSql();
        tMedic_->refresh();
        tMedic_->first();
    });
    OrdIsNew = false;
    UpdateButtons();
}

void TfrmOrd::btnDeleteClick()
{
    if (!kui::MsgConfirm(QString::fromUtf8("Etes-vous sûr de vouloir supprimer cette Ordonnance ?"), this))
        return;
    if (!kui::MsgConfirm(QString::fromUtf8("Confirmer la suppression de cette Ordonnance ?"), this))
        return;
    ui->grdDetail->dropCellEditor();
    records::Guarded([this] {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql("DELETE FROM FORD.DBF WHERE CODE='" + Quoted(ui->edCode->text()) + "'");
        q.execSql();
        OrdIsNew = false;
        tMedic_->refresh();
        ReopenOrd({});
    });
    UpdateButtons();
}

void TfrmOrd::mnCloseClick()
{
    close();
}

void TfrmOrd::closeEvent(QCloseEvent* event)
{
    // Nothing typed is lost: the line being typed is written into its
    // prescription; when it cannot be, the screen stays open.
    bool saved = false;
    GuardedLine([&] {
        SavePendingLine();
        saved = true;
    });
    if (!saved) {
        event->ignore();
        return;
    }
    qOrd_->close();
    tMedic_->close();
    QDialog::closeEvent(event);
}

void TfrmOrd::hideEvent(QHideEvent* event)
{
    // Closed by its result rather than by close(): the line being typed is
    // written all the same.
    if (!event->spontaneous() && tMedic_->active())
        GuardedLine([this] { SavePendingLine(); });
    QDialog::hideEvent(event);
}

bool TfrmOrd::eventFilter(QObject* watched, QEvent* event)
{
    // Down past the last line appends one.
    if (watched == ui->grdDetail && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down && tMedic_->active()) {
        const int row = ui->grdDetail->currentIndex().row();
        if (row >= 0 && row == ui->grdDetail->model()->rowCount() - 1) {
            // a changed line is written first; an untouched new one stays
            GuardedLine([this] {
                tMedic_->checkBrowseMode();
                if (tMedic_->state() != kdb::DatasetState::Insert)
                    tMedic_->append();
            });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOrd::GuardedLine(const std::function<void()>& action)
{
    records::GuardedAgainstDeleted(action, [this] { LineDeleted(); });
}

void TfrmOrd::LineFailed(const QString& message)
{
    bool gone = false;
    records::Guarded([&] { gone = tMedic_->currentRowGone(); });
    if (gone)
        LineDeleted();
    else
        ShowError(message);
}

void TfrmOrd::LineDeleted()
{
    const kdb::DatasetState s = tMedic_->state();
    const bool typed = s == kdb::DatasetState::Edit;
    const QString medic = tMedic_->active() ? tMedic_->fieldByName("MEDIC").asString().trimmed() : QString();
    QString text = records::DeletedElsewhereText(QStringLiteral("Le médicament ") +
            (medic.isEmpty() ? QString() : medic + QLatin1Char(' ')) + QStringLiteral("de l'ordonnance n° ") +
            ui->edCode->text().trimmed(),
        false);
    if (typed)
        text += records::NotSavedNote();
    kui::MsgWarning(text, this);
    if (!typed)  // once the grid has closed its cell editor
        QTimer::singleShot(0, this, [this] {
            records::Guarded([this] {
                if (tMedic_->active() && tMedic_->state() == kdb::DatasetState::Browse)
                    tMedic_->refresh();
            });
            UpdateButtons();
        });
}

void TfrmOrd::contextMenuEvent(QContextMenuEvent* event)
{
    PopMenu_->popup(event->globalPos());
}
