#include "UListRDV.h"
#include "ui_UListRDV.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "URDV.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QShowEvent>

#include <algorithm>

TfrmListRDV* frmListRDV = nullptr;

namespace {

const QString kNameColumn = QStringLiteral("(NOM + ', ' + PRENOM)");

// Keeps a new child window in the middle of the main window's client area
// until the user moves it: at start the main window may still be growing to
// its maximised size when the list opens.
class KeepCentred : public QObject {
public:
    KeepCentred(QMdiSubWindow* window, QMdiArea* area) : QObject(window), window_(window), area_(area)
    {
        area->viewport()->installEventFilter(this);
        Centre();
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && area_ && window_->pos() == placed_)
            Centre();
        return false;
    }

private:
    void Centre()
    {
        const QSize room = area_->viewport()->size();
        placed_ = QPoint(std::max(0, (room.width() - window_->width()) / 2),
            std::max(0, (room.height() - window_->height()) / 2));
        window_->move(placed_);
    }
    QMdiSubWindow* window_;
    QPointer<QMdiArea> area_;
    QPoint placed_;
};

}  // namespace

TfrmListRDV::TfrmListRDV(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context), ui(new Ui::TfrmListRDV), qRDV_(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    qRDV_->setSql(
        QStringList{"SELECT NUM, PATIENT, DATE_RDV, HRE_RDV,  ", "               MOTIF, CODE, (NOM + ', ' + PRENOM)",
            "FROM FRDV, PATIENT", "WHERE PATIENT=CODE", "", "ORDER BY DATE_RDV, HRE_RDV"});

    ui->btnAdd->setIcon(kui::ThemeIcon("list-add", QStyle::SP_FileIcon));
    ui->btnDelete->setIcon(kui::ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    ui->btnModif->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));

    kui::DatasetModel* model = ui->grdRDV->bind(qRDV_,
        {{kNameColumn.toStdString(), "Patient", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 172},
            {"DATE_RDV", "Date", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 83},
            {"HRE_RDV", "Heure", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 59},
            {"MOTIF", "Motif", {}, Qt::AlignLeft | Qt::AlignVCenter, false, 252}});
    records::ReadOnlyList(ui->grdRDV, model, true);

    PopMnRDV_ = new QMenu(this);
    mnNew_ = PopMnRDV_->addAction("Nouveau ", this, &TfrmListRDV::btnAddClick);
    mnNew_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnDelete_ = PopMnRDV_->addAction("Supprimer l'enregistrement", this, &TfrmListRDV::btnDeleteClick);
    mnDelete_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    mnModif_ = PopMnRDV_->addAction("Modifier les informations", this, &TfrmListRDV::btnModifClick);
    PopMnRDV_->addSeparator();
    mnAll_ = PopMnRDV_->addAction("Afficher tous les RDV", this, [this] {
        ui->btnAll->setChecked(!ui->btnAll->isChecked());
        btnAllClick();
    });
    mnAll_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    PopMnRDV_->addSeparator();
    mnAutoDisplay_ = PopMnRDV_->addAction(
        QString::fromUtf8("Afficher automatiquement au démarrage"), this, &TfrmListRDV::mnAutoDisplayClick);
    mnAutoDisplay_->setCheckable(true);
    PopMnRDV_->addSeparator();
    mnClose_ = PopMnRDV_->addAction("Fermer", this, &TfrmListRDV::CloseWindow);
    // The shortcuts work while the window has the focus, the menu closed.
    for (QAction* a : {mnNew_, mnDelete_, mnAll_}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }
    connect(PopMnRDV_, &QMenu::aboutToShow, this, &TfrmListRDV::PopMnRDVPopup);

    connect(ui->btnAdd, &QToolButton::clicked, this, &TfrmListRDV::btnAddClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmListRDV::btnDeleteClick);
    connect(ui->btnModif, &QToolButton::clicked, this, &TfrmListRDV::btnModifClick);
    connect(ui->btnAll, &QPushButton::clicked, this, &TfrmListRDV::btnAllClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmListRDV::CloseWindow);
    connect(ui->edDate, &QDateEdit::userDateChanged, this, &TfrmListRDV::edDateChange);
    // A double click anywhere on the grid's rows area acts as Modifier, also
    // below the last row and on an empty list (a new appointment then).
    ui->grdRDV->viewport()->installEventFilter(this);
}

TfrmListRDV::~TfrmListRDV()
{
    if (frmListRDV == this)
        frmListRDV = nullptr;
    delete ui;
}

kui::DataGrid* TfrmListRDV::grdRDV() const
{
    return ui->grdRDV;
}
QToolButton* TfrmListRDV::btnAdd() const
{
    return ui->btnAdd;
}
QToolButton* TfrmListRDV::btnDelete() const
{
    return ui->btnDelete;
}
QToolButton* TfrmListRDV::btnModif() const
{
    return ui->btnModif;
}
QPushButton* TfrmListRDV::btnAll() const
{
    return ui->btnAll;
}
QPushButton* TfrmListRDV::btnClose() const
{
    return ui->btnClose;
}
QDateEdit* TfrmListRDV::edDate() const
{
    return ui->edDate;
}
QLabel* TfrmListRDV::lDate() const
{
    return ui->lDate;
}

void TfrmListRDV::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && !qRDV_->active())
        FormShow();
}

QString TfrmListRDV::DayFilter() const
{
    return "DATE_RDV='" + ui->edDate->date().toString(QStringLiteral("dd/MM/yyyy")) + "'";
}

void TfrmListRDV::FormShow()
{
    {
        const QSignalBlocker quiet(ui->edDate);
        ui->edDate->setDate(QDate::currentDate());
    }
    try {
        qRDV_->close();
        qRDV_->setDatabaseName(DataPath.toStdString());
        qRDV_->setFilter(DayFilter());
        qRDV_->setFiltered(!ui->btnAll->isChecked());
        qRDV_->open();
        qRDV_->first();
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
    UpdateButtons();
}

void TfrmListRDV::UpdateButtons()
{
    const bool any = qRDV_->active() && !qRDV_->isEmpty();
    ui->btnDelete->setEnabled(any);
    ui->btnModif->setEnabled(any);
    mnDelete_->setEnabled(any);
    mnModif_->setEnabled(any);
}

void TfrmListRDV::edDateChange()
{
    records::Guarded([this] {
        qRDV_->setFilter(DayFilter());
        qRDV_->first();
    });
    // Modifier and Supprimer follow the rows now shown.
    UpdateButtons();
}

void TfrmListRDV::ApplyView()
{
    const bool all = ui->btnAll->isChecked();
    records::Guarded([this, all] {
        qRDV_->setFiltered(!all);
        qRDV_->first();
    });
    UpdateButtons();
    ui->edDate->setEnabled(!all);
    ui->lDate->setEnabled(!all);
    const QString caption = all ? QStringLiteral("RDV du jour") : QStringLiteral("Tous les RDV");
    ui->btnAll->setText(caption);
    mnAll_->setText(caption);
    QPalette p = ui->btnAll->palette();
    p.setColor(QPalette::ButtonText, all ? QColor(0xFF, 0x00, 0x00) : palette().color(QPalette::WindowText));
    ui->btnAll->setPalette(p);
}

void TfrmListRDV::btnAllClick()
{
    ApplyView();
}

void TfrmListRDV::EditRdv(const QString& num, const QString& patient, QString* saved)
{
    TfrmRDV frm(context_, this);
    frm.NumRDV = num;
    frm.CodePatient = patient;
    frm.exec();
    if (saved)
        *saved = frm.NumRDV;
}

void TfrmListRDV::btnAddClick()
{
    const bool any = qRDV_->active() && !qRDV_->isEmpty();
    const QString patient = any ? qRDV_->fieldByName("PATIENT").asString().trimmed() : QString();
    QString num;
    EditRdv({}, patient, &num);
    RefreshList(num);
}

void TfrmListRDV::btnModifClick()
{
    const bool any = qRDV_->active() && !qRDV_->isEmpty();
    const QString num = any ? qRDV_->fieldByName("NUM").asString().trimmed() : QString();
    const QString patient = any ? qRDV_->fieldByName("PATIENT").asString().trimmed() : QString();
    if (any && !RowUpToDate())
        return;
    EditRdv(num, patient, nullptr);
    RefreshList(num);
}

void TfrmListRDV::btnDeleteClick()
{
    const bool any = qRDV_->active() && !qRDV_->isEmpty();
    if (any && !RowUpToDate())
        return;
    if (!kui::MsgConfirm(QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"), this))
        return;
    const QString num = any ? qRDV_->fieldByName("NUM").asString().trimmed() : QString();
    const QString what = any ? RowWhat() : QString();
    int deleted = -1;
    records::Guarded([&] {
        kdb::QueryDataset query;
        query.setDatabaseName(DataPath.toStdString());
        query.setSql("DELETE FROM FRDV WHERE NUM='" + num + "'");
        deleted = query.execSql();
    });
    RefreshList({});
    if (any && deleted == 0)  // deleted on another workstation while the question was asked
        records::WarnElsewhere(records::DeletedElsewhereText(what, false) + records::ListUpdatedNote(), this);
    QCoreApplication::processEvents();
}

QString TfrmListRDV::RowWhat() const
{
    const QString patient = records::PatientName(qRDV_->fieldByName("PATIENT").asString());
    return QStringLiteral("Le rendez-vous ") +
        (patient.isEmpty() ? QString() : QStringLiteral("de ") + patient + QLatin1Char(' ')) + QStringLiteral("du ") +
        qRDV_->fieldByName("DATE_RDV").asString() + QStringLiteral(" à ") +
        qRDV_->fieldByName("HRE_RDV").asString().trimmed();
}

bool TfrmListRDV::RowUpToDate()
{
    const QString num = qRDV_->fieldByName("NUM").asString().trimmed();
    return records::ListRowUpToDate(
        *qRDV_, QStringLiteral("FRDV"), "NUM", [this] { return RowWhat(); }, false,
        [&](records::RowState state) { RefreshList(state == records::RowState::Gone ? QString() : num); }, this);
}

void TfrmListRDV::RefreshList(const QString& num)
{
    qRDV_->disableControls();
    records::Guarded([&] {
        qRDV_->close();
        qRDV_->setDatabaseName(DataPath.toStdString());
        qRDV_->open();
        if (num.isEmpty() || !qRDV_->locate("NUM", num))
            qRDV_->first();
    });
    qRDV_->enableControls();
    UpdateButtons();
}

void TfrmListRDV::mnAutoDisplayClick()
{
    DisplayRdv = !DisplayRdv;
    mnAutoDisplay_->setChecked(DisplayRdv);
    kui::TIniFile ini(IniDir + IniKeys::FileName);
    if (!ini.WriteBool(IniKeys::Params, IniKeys::DisplayRdv, DisplayRdv))
        kui::MsgWarning(ini.ErrorText() + QStringLiteral("\rLe choix vaut jusqu'à la fermeture du programme."), this);
}

void TfrmListRDV::PopMnRDVPopup()
{
    mnAutoDisplay_->setChecked(DisplayRdv);
}

void TfrmListRDV::CloseWindow()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TfrmListRDV::closeEvent(QCloseEvent* event)
{
    qRDV_->close();
    QWidget::closeEvent(event);
}

bool TfrmListRDV::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->grdRDV->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        btnModifClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmListRDV::contextMenuEvent(QContextMenuEvent* event)
{
    PopMnRDV_->popup(event->globalPos());
}

TfrmListRDV* ShowAppointmentList(AppContext& context, QMdiArea* area)
{
    if (!frmListRDV) {
        frmListRDV = new TfrmListRDV(context);
        if (area) {
            // The list at its designed size, framed, in the middle of the area.
            // A single border: the frame keeps that size and offers no
            // maximise button.
            const QSize designed = frmListRDV->size().expandedTo(frmListRDV->minimumSizeHint());
            QMdiSubWindow* sub = area->addSubWindow(frmListRDV,
                Qt::SubWindow | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                    Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
            sub->setAttribute(Qt::WA_DeleteOnClose);
            sub->resize(designed + (sub->sizeHint() - frmListRDV->sizeHint()));
            sub->setFixedSize(sub->size());
            new KeepCentred(sub, area);
        } else {
            frmListRDV->setAttribute(Qt::WA_DeleteOnClose);
            kui::SetFixedBorder(frmListRDV);
        }
    }
    QWidget* window = frmListRDV->parentWidget() ? frmListRDV->parentWidget() : frmListRDV;
    window->show();
    window->raise();
    frmListRDV->show();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window); sub && area)
        area->setActiveSubWindow(sub);
    else
        frmListRDV->activateWindow();
    return frmListRDV;
}

void ShowAppointmentList(AppContext& context, QMdiArea* area, const AppointmentListView& view)
{
    if (!view.open)
        return;
    TfrmListRDV* list = ShowAppointmentList(context, area);
    if (view.day.isValid())
        list->edDate()->setDate(view.day);
    if (view.all != list->btnAll()->isChecked()) {
        list->btnAll()->setChecked(view.all);
        list->btnAllClick();
    }
}

AppointmentListView ReleaseAppointmentList()
{
    if (!frmListRDV)
        return {};
    TfrmListRDV* list = frmListRDV;
    const AppointmentListView view{true, list->edDate()->date(), list->btnAll()->isChecked()};
    frmListRDV = nullptr;
    list->qRDV()->close();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(list->parentWidget()))
        delete sub;
    else
        delete list;
    return view;
}
