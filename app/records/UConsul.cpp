#include "UConsul.h"
#include "ui_UConsul.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UGetOldInfos.h"
#include "UGetPatient.h"
#include "app/reports/UArretTrv.h"
#include "UImage.h"
#include "UExComp.h"
#include "USelectOrd.h"
#include "UTable.h"
#include "platform/ui/Picture.h"
#include "app/reports/UrptConsul.h"
#include "controls/Gradient.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/ui/Formats.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/WaitCursor.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>

namespace {

// A text longer than its column of CONS.DBF is cut to the width.
QString Cut(const QString& text, int width)
{
    return text.trimmed().left(width);
}

// The widths of the columns the memos write (the one-line editors have
// theirs in the layout).
constexpr int kMotifWidth = 100;
constexpr int kDiagWidth = 250;
constexpr int kTrtWidth = 250;
constexpr int kNbWidth = 250;

}  // namespace

TfrmConsul::TfrmConsul(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmConsul), PopMenu_(new QMenu(this)),
      PopMnPrint_(new QMenu(QStringLiteral("Imprimer "), this)), Gradient1_(nullptr)
{
    ui->setupUi(this);
    // One gradient band behind the controls of the chosen page.
    Gradient1_ = new TGradient(ui->pgControl->currentWidget());
    Gradient1_->setObjectName(QStringLiteral("Gradient1"));
    Gradient1_->BeginUpdate();
    Gradient1_->setStyle(TGradient::gsReflectedV);
    Gradient1_->setReverse(true);
    Gradient1_->setColorEnd(QColor(0xC0, 0xC0, 0xC0));
    Gradient1_->EndUpdate();
    for (int i = 0; i < ui->pgControl->count(); ++i)
        ui->pgControl->widget(i)->installEventFilter(this);
    PlaceGradient();
    QStyle* st = style();
    ui->btnAdd->setIcon(st->standardIcon(QStyle::SP_FileIcon));
    ui->btnEdit->setIcon(st->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui->btnPost->setIcon(st->standardIcon(QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(st->standardIcon(QStyle::SP_DialogCancelButton));
    ui->btnDelete->setIcon(st->standardIcon(QStyle::SP_TrashIcon));
    ui->btnGetPatient->setIcon(st->standardIcon(QStyle::SP_FileDialogContentsView));
    ui->btnPatient->setIcon(st->standardIcon(QStyle::SP_DirHomeIcon));
    ui->btnOrdonnance->setIcon(st->standardIcon(QStyle::SP_FileDialogInfoView));
    ui->btnBio->setIcon(st->standardIcon(QStyle::SP_FileDialogListView));
    ui->btnRadio->setIcon(st->standardIcon(QStyle::SP_FileDialogListView));
    ui->btnPrint->setIcon(st->standardIcon(QStyle::SP_DriveHDIcon));
    ui->btnFermer->setIcon(st->standardIcon(QStyle::SP_DialogCloseButton));
    QFont bold = ui->lName->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 2);
    ui->lName->setFont(bold);
    ui->lName->installEventFilter(this);
    // A click or a move key on the history while a consultation is typed
    // first asks what becomes of it.
    ui->grdConsul->viewport()->installEventFilter(this);
    ui->grdConsul->installEventFilter(this);
    // Esc is no key of this screen.
    kui::EscapeDoesNothing(this);
    // A memo takes no more than its column holds: the text seen is the text
    // saved.
    kui::SetPlainTextMaxLength(ui->edMotif, kMotifWidth);
    kui::SetPlainTextMaxLength(ui->edDiag, kDiagWidth);
    kui::SetPlainTextMaxLength(ui->edTrt, kTrtWidth);
    kui::SetPlainTextMaxLength(ui->edNB, kNbWidth);
    // Nor a letter its table's code page lacks.
    const int codePage = records::TableCodePage(DataPath, QStringLiteral("CONS.DBF"));
    for (QPlainTextEdit* memo : {ui->edMotif, ui->edDiag, ui->edTrt, ui->edNB})
        kui::SetCodePage(memo, codePage);
    for (QLineEdit* box : {ui->edPoids, ui->edTA, ui->edTemp, ui->edDEP})
        kui::SetCodePage(box, codePage);
    for (QPlainTextEdit* memo : {ui->mmAntFam, ui->mmAntPers}) {
        QPalette p = memo->palette();
        p.setColor(QPalette::Text, records::HistoryRed);
        memo->setPalette(p);
    }
    for (int i = 1; i <= 21; ++i) {
        QLabel* slot = Image(i);
        slot->setProperty("Tag", i);
        slot->installEventFilter(this);
    }

    // Datasets.
    qConsul_.setSql(
        QStringList{QStringLiteral("SELECT * FROM CONS.DBF WHERE PATIENT=:PATIENT"), QStringLiteral("ORDER BY DCONS")});
    Patient_.setSql(QStringLiteral("SELECT *  FROM PATIENT WHERE CODE=:CODE"));
    qExRadioBio_.setSql(QStringList{QStringLiteral("SELECT DISTINCT PATIENT, DATE_EX FROM EXCOMP"),
        QStringLiteral("WHERE PATIENT=:MyPatient"), QStringLiteral("ORDER BY DATE_EX")});
    qExBio_.setSql(QStringList{QStringLiteral("SELECT * FROM EXCOMP"), QStringLiteral("WHERE   RADIOBIO='B' AND "),
        QStringLiteral("PATIENT=:MyPatient AND "), QStringLiteral("DATE_EX=:MyDateEx")});
    qExRadio_.setSql(QStringList{QStringLiteral("SELECT * FROM EXCOMP"), QStringLiteral("WHERE   RADIOBIO='R' AND "),
        QStringLiteral("PATIENT=:MyPatient AND "), QStringLiteral("DATE_EX=:MyDateEx")});
    qBio_.setSql(QStringLiteral("SELECT * FROM FBIO"));
    qRadio_.setSql(QStringLiteral("SELECT * FROM FRADIO"));
    qExBio_.addLookupField("LibExamen", "CODE", &qBio_, "CODE", "LIBELLE", 30);
    qExRadio_.addLookupField("libExamen", "CODE", &qRadio_, "CODE", "LIBELLE", 30);
    for (kdb::QueryDataset* q : {&qConsul_, &Patient_, &qExRadioBio_, &qExBio_, &qExRadio_, &qBio_, &qRadio_})
        q->setDatabaseName(DataPath.toStdString());

    auto grid = [](kui::DataGrid* g, kdb::Dataset* ds, std::vector<kui::GridColumn> cols) {
        kui::DatasetModel* m = g->bind(ds, std::move(cols));
        m->setReadOnly(true);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->verticalHeader()->hide();
    };
    grid(ui->grdConsul, &qConsul_, {{"DCONS", QStringLiteral("Date")}, {"MOTIF", QStringLiteral("Motif")}});
    grid(ui->grdDates, &qExRadioBio_, {{"DATE_EX", QStringLiteral("Date"), Qt::AlignCenter, Qt::AlignCenter}});
    grid(ui->grdBio, &qExBio_, {{"LibExamen", QStringLiteral("Examen")}, {"RESULTAT", QStringLiteral("Résultat")}});
    grid(ui->grdRadio, &qExRadio_, {{"libExamen", QStringLiteral("Examen")}, {"RESULTAT", QStringLiteral("Résultat")}});
    // Every date whole; the reason and the exams' labels readable beside it.
    ui->grdConsul->setColumnWidth(0, ui->grdConsul->cellWidthFor(QStringLiteral("00/00/0000")));
    ui->grdDates->setColumnWidth(0, ui->grdDates->cellWidthFor(QStringLiteral("00/00/0000")));
    for (kui::DataGrid* g : {ui->grdBio, ui->grdRadio})
        g->setColumnWidth(0, g->cellWidthFor(QString(24, QLatin1Char('x'))));
    qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
    qExRadioBio_.afterScroll = [this](kdb::Dataset&) { qExRadioBioAfterScroll(); };

    // The pop-up menu.
    auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& key,
                   void (TfrmConsul::*slot)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
            addAction(a);
        }
        if (slot)
            connect(a, &QAction::triggered, this, slot);
        else
            a->setEnabled(false);  // comes with its own screen
        return a;
    };
    add(PopMenu_, "mnAdd", QStringLiteral("Nouvelle consultation"), QKeySequence(Qt::CTRL | Qt::Key_Insert),
        &TfrmConsul::btnAddClick);
    add(PopMenu_, "mnEdit", QStringLiteral("Modifier"), {}, &TfrmConsul::btnEditClick);
    add(PopMenu_, "mnPost", QStringLiteral("Enregistrer les modifications"), QKeySequence(Qt::CTRL | Qt::Key_S),
        &TfrmConsul::btnPostClick);
    add(PopMenu_, "mnCancel", QStringLiteral("Annuler les modifications"), QKeySequence(Qt::CTRL | Qt::Key_A),
        &TfrmConsul::btnCancelClick);
    add(PopMenu_, "mnDelete", QStringLiteral("Supprimer la consultation"), QKeySequence(Qt::CTRL | Qt::Key_Delete),
        &TfrmConsul::btnDeleteClick);
    PopMenu_->addSeparator();
    add(PopMenu_, "mnGetMotif", QStringLiteral("Afficher les motifs"), {}, &TfrmConsul::btnGetMotifClick);
    add(PopMenu_, "mnGetDiag", QStringLiteral("Afficher les diagnostics"), {}, &TfrmConsul::btnGetDiagClick);
    add(PopMenu_, "mnGetTrt", QStringLiteral("Afficher les traitements"), {}, &TfrmConsul::btnGetTrtClick);
    PopMenu_->addSeparator();
    add(PopMenu_, "mnGetPatient", QStringLiteral("Chercher un patient"), QKeySequence(Qt::Key_F3),
        &TfrmConsul::btnGetPatientClick);
    add(PopMenu_, "mnOrdonnance", QStringLiteral("Ordonnance"), {}, &TfrmConsul::btnOrdonnanceClick);
    add(PopMenu_, "mnBio", QStringLiteral("Examens Biologiques"), {}, &TfrmConsul::btnBioClick);
    add(PopMenu_, "mnRadio", QStringLiteral("Examens Radiologiques"), {}, &TfrmConsul::btnRadioClick);
    PopMenu_->addMenu(PopMnPrint_)->setObjectName(QStringLiteral("mnPrint"));
    add(PopMnPrint_, "mnArretTrv", QStringLiteral("Arrêt de travai / Reprise de travail"), {},
        &TfrmConsul::mnArretTrvClick);
    add(PopMnPrint_, "mnRapport", QStringLiteral("Rapport médical"), {}, &TfrmConsul::mnRapportClick);
    PopMenu_->addSeparator();
    add(PopMenu_, "mnFermer", QStringLiteral("Fermer"), QKeySequence(Qt::Key_F4), &TfrmConsul::btnFermerClick);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(
        this, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { PopMenu_->popup(mapToGlobal(p)); });

    connect(ui->btnAdd, &QToolButton::clicked, this, &TfrmConsul::btnAddClick);
    connect(ui->btnEdit, &QToolButton::clicked, this, &TfrmConsul::btnEditClick);
    connect(ui->btnPost, &QToolButton::clicked, this, &TfrmConsul::btnPostClick);
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmConsul::btnCancelClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmConsul::btnDeleteClick);
    connect(ui->btnGetMotif, &QToolButton::clicked, this, &TfrmConsul::btnGetMotifClick);
    connect(ui->btnGetDiag, &QToolButton::clicked, this, &TfrmConsul::btnGetDiagClick);
    connect(ui->btnGetTrt, &QToolButton::clicked, this, &TfrmConsul::btnGetTrtClick);
    connect(ui->btnGetPatient, &QToolButton::clicked, this, &TfrmConsul::btnGetPatientClick);
    connect(ui->btnPatient, &QToolButton::clicked, this, &TfrmConsul::btnGetPatientClick);
    connect(ui->btnMenu, &QPushButton::clicked, this, &TfrmConsul::btnMenuClick);
    connect(ui->btnDelBio, &QToolButton::clicked, this, &TfrmConsul::btnDelBioClick);
    connect(ui->btnDelRadio, &QToolButton::clicked, this, &TfrmConsul::btnDelRadioClick);
    connect(ui->btnFermer, &QToolButton::clicked, this, &TfrmConsul::btnFermerClick);
    connect(ui->btnBio, &QToolButton::clicked, this, &TfrmConsul::btnBioClick);
    connect(ui->btnOrdonnance, &QToolButton::clicked, this, &TfrmConsul::btnOrdonnanceClick);
    connect(ui->btnAddBio, &QToolButton::clicked, this, [this] { OpenExam(QStringLiteral("B"), false); });
    connect(ui->btnEditBio, &QToolButton::clicked, this, [this] { OpenExam(QStringLiteral("B"), true); });
    connect(ui->btnAddRadio, &QToolButton::clicked, this, [this] { OpenExam(QStringLiteral("R"), false); });
    connect(ui->btnEditRadio, &QToolButton::clicked, this, [this] { OpenExam(QStringLiteral("R"), true); });
    connect(ui->btnRadio, &QToolButton::clicked, this, &TfrmConsul::btnRadioClick);
    connect(ui->btnPrint, &QToolButton::clicked, this,
        [this] { PopMnPrint_->popup(ui->btnPrint->mapToGlobal(QPoint(0, ui->btnPrint->height()))); });
    connect(ui->pgControl, &QTabWidget::currentChanged, this, &TfrmConsul::pgControlChange);
    // The exam change buttons follow the exam lists (SetExamButtons).
    for (QWidget* w : std::initializer_list<QWidget*>{ui->btnEditBio, ui->btnEditRadio})
        w->setEnabled(false);

    FormCreate();
}

TfrmConsul::~TfrmConsul()
{
    for (kdb::QueryDataset* q : {&qConsul_, &Patient_, &qExRadioBio_, &qExBio_, &qExRadio_, &qBio_, &qRadio_})
        q->close();
    delete ui;
}

QAction* TfrmConsul::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

QLabel* TfrmConsul::Image(int number) const
{
    return findChild<QLabel*>(QStringLiteral("Image%1").arg(number));
}

void TfrmConsul::FormCreate()
{
    records::Guarded([this] { LoadPatient(); });
    ui->grdConsul->setMinimumWidthForColumns(16);
    ui->grdDates->setMinimumWidthForColumns(0);
    ui->grdDates->setMaximumWidth(ui->grdDates->minimumWidth());
    ShowConsultation();
    ui->pgControl->setCurrentIndex(0);
    QApplication::processEvents();
}

// ---------------------------------------------------------------------------
// The patient and the history.

void TfrmConsul::OpenHistory()
{
    qConsul_.close();
    qConsul_.setParamText("PATIENT", CurrentPatientCode);
    qConsul_.open();
    qConsul_.last();
}

void TfrmConsul::LoadPatient()
{
    kui::WaitCursor wait;
    OpenHistory();
    ui->lName->clear();
    Patient_.close();
    Patient_.setParamText("CODE", CurrentPatientCode);
    Patient_.open();
    if (!Patient_.isEmpty()) {
        const QDate birth = records::ReadDate(Patient_.fieldByName("DN").asString());
        const QString age = birth.isValid() ? QString::number(YearOf(QDate::currentDate()) - YearOf(birth))
                                            : Patient_.fieldByName("AGE").asString();
        ui->lName->setText(Patient_.fieldByName("CODE").asString() + QStringLiteral(" - ") +
            Patient_.fieldByName("NOM").asString() + QStringLiteral(" ") + Patient_.fieldByName("PRENOM").asString() +
            QStringLiteral(", ") + age);
        ui->mmAntFam->setPlainText(Patient_.fieldByName("ANTFAM").asString());
        ui->mmAntPers->setPlainText(Patient_.fieldByName("ANTPERS").asString());
    } else {
        ui->mmAntFam->clear();
        ui->mmAntPers->clear();
    }
    if (qExRadioBio_.active() && examsPatient_ != CurrentPatientCode)
        OpenExamDates();
    if (photosLoaded_ && photosPatient_ != CurrentPatientCode)
        LoadPhotos();
    UpdateButtons();
}

void TfrmConsul::ShowConsultation()
{
    ReleaseConsLock();
    FillEditors();
    ConsState_ = u'B';
    UpdateButtons();
}

void TfrmConsul::ReleaseConsLock()
{
    if (!consEdit_.active())
        return;
    consEdit_.cancel();
    consEdit_.close();
}

void TfrmConsul::FillEditors()
{
    const bool none = !qConsul_.active() || qConsul_.isEmpty() || qConsul_.recNo() == 0;
    if (none) {
        for (QLineEdit* e : {ui->edDate, ui->edPoids, ui->edTA, ui->edTemp, ui->edDEP})
            e->clear();
        for (QPlainTextEdit* e : {ui->edMotif, ui->edDiag, ui->edTrt, ui->edNB})
            e->clear();
        ConsId_.clear();
    } else {
        auto text = [this](const char* f) { return qConsul_.fieldByName(f).asString(); };
        ui->edDate->setText(kui::DateToStr(qConsul_.fieldByName("DCONS").asDate()));
        ui->edMotif->setPlainText(text("MOTIF"));
        ui->edDiag->setPlainText(text("DIAG"));
        ui->edTrt->setPlainText(text("TRT1"));
        ui->edPoids->setText(text("POIDS"));
        ui->edTA->setText(text("TA"));
        ui->edDEP->setText(text("DEP"));
        ui->edTemp->setText(text("TEMP"));
        ui->edNB->setPlainText(text("NB"));
        ConsId_ = text("ID_CONS");
    }
}

void TfrmConsul::UpdateButtons()
{
    const bool editing = ConsState_ != u'B';
    const bool empty = !qConsul_.active() || qConsul_.isEmpty();
    // A consultation belongs to a patient: none is started without one.
    const bool patient = Patient_.active() && !Patient_.isEmpty();
    ui->btnAdd->setEnabled(!editing && patient);
    action(QStringLiteral("mnAdd"))->setEnabled(!editing && patient);
    ui->btnEdit->setEnabled(!editing && !empty);
    action(QStringLiteral("mnEdit"))->setEnabled(!editing && !empty);
    ui->btnDelete->setEnabled(!editing && !empty);
    action(QStringLiteral("mnDelete"))->setEnabled(!editing);
    for (QWidget* w :
        std::initializer_list<QWidget*>{ui->btnPost, ui->btnCancel, ui->btnGetMotif, ui->btnGetDiag, ui->btnGetTrt})
        w->setEnabled(editing);
    for (const char* name : {"mnPost", "mnCancel", "mnGetMotif", "mnGetDiag", "mnGetTrt"})
        action(QString::fromLatin1(name))->setEnabled(editing);
    const QColor colour = editing ? palette().color(QPalette::Base) : records::LockedEditor;
    for (QLineEdit* e : {ui->edDate, ui->edPoids, ui->edTA, ui->edTemp, ui->edDEP}) {
        e->setReadOnly(!editing);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, colour);
        e->setPalette(p);
    }
    for (QPlainTextEdit* e : {ui->edMotif, ui->edDiag, ui->edTrt, ui->edNB}) {
        e->setReadOnly(!editing);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, colour);
        e->setPalette(p);
    }
}

// ---------------------------------------------------------------------------
// Editing.

void TfrmConsul::btnAddClick()
{
    if (!Patient_.active() || Patient_.isEmpty())
        return;
    ConsState_ = u'I';
    UpdateButtons();
    ConsId_.clear();
    for (QLineEdit* e : {ui->edPoids, ui->edTA, ui->edTemp, ui->edDEP})
        e->clear();
    for (QPlainTextEdit* e : {ui->edMotif, ui->edDiag, ui->edTrt, ui->edNB})
        e->clear();
    ui->edDate->setText(kui::DateToStr(QDate::currentDate()));
    typedFrom_ = EditorTexts();
    ui->edMotif->setFocus();
}

void TfrmConsul::btnEditClick()
{
    if (ConsId_.isEmpty())
        return;
    // A consultation another workstation deleted or changed since the
    // history was read is told first, the history read again; a changed
    // one is then modified from what it is now.
    if (!HistoryRowUpToDate(true))
        return;
    const QString what = ConsWhat();
    bool gone = false;
    // The consultation's record lock is taken first: another workstation
    // changing it is told so; the edits then start from the consultation as
    // it is now (another workstation may have changed it since it was shown).
    records::Guarded([&] {
        const QString id = ConsId_;
        ReleaseConsLock();
        consEdit_.setDatabaseName(DataPath.toStdString());
        consEdit_.setTableName("Cons.DBF");
        consEdit_.setIndexFieldNames("ID_CONS");
        consEdit_.open();
        const uint32_t rec = consEdit_.table()->findKey("ID_CONS", id.toLongLong());
        if (!rec || !consEdit_.gotoRecord(rec) ||
            consEdit_.fieldByName("PATIENT").asString().trimmed() != CurrentPatientCode.trimmed()) {
            consEdit_.close();
            gone = true;  // deleted meanwhile
            return;
        }
        try {
            consEdit_.edit();
        } catch (const std::exception& e) {
            consEdit_.close();
            if (!records::IsRecordDeleted(e))
                throw;
            gone = true;
            return;
        }
        qConsul_.afterScroll = nullptr;
        try {
            OpenHistory();
            for (qConsul_.first(); !qConsul_.eof(); qConsul_.next())
                if (qConsul_.fieldByName("ID_CONS").asString() == id)
                    break;
        } catch (...) {
            qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
            throw;
        }
        qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
        FillEditors();
        if (ConsId_ != id) {
            ShowConsultation();  // not among the patient's consultations any more
            gone = true;
            return;
        }
        ConsState_ = u'E';
        UpdateButtons();
        typedFrom_ = EditorTexts();
        ui->edMotif->setFocus();
    });
    if (gone) {
        records::Guarded([this] { ReopenHistoryOn({}); });
        records::WarnElsewhere(records::DeletedElsewhereText(what, true) + records::ListUpdatedNote(), this);
    }
}

void TfrmConsul::btnCancelClick()
{
    // What was typed is dropped only once the user said so; No leaves the
    // consultation being typed and the focus as they were.
    if (ConsState_ != u'B' && Typed() && !records::ConfirmDiscard(this))
        return;
    ShowConsultation();
}

QStringList TfrmConsul::EditorTexts() const
{
    QStringList texts;
    for (const QLineEdit* e : {ui->edDate, ui->edPoids, ui->edTA, ui->edTemp, ui->edDEP})
        texts << e->text().trimmed();
    for (const QPlainTextEdit* e : {ui->edMotif, ui->edDiag, ui->edTrt, ui->edNB})
        texts << e->toPlainText().trimmed();
    return texts;
}

bool TfrmConsul::Typed() const
{
    return ConsState_ != u'B' && EditorTexts() != typedFrom_;
}

void TfrmConsul::btnPostClick()
{
    if (ConsState_ == u'B')
        return;
    bool dateOk = false;
    const QDate date = kui::StrToDate(ui->edDate->text(), &dateOk);
    if (!dateOk || date.year() < 100) {
        kui::MsgPlain(QStringLiteral("Date de consultation incorrecte !"), this);
        ui->edDate->setFocus();
        return;
    }
    bool gone = false;
    QString patientGone;
    records::Guarded([&] {
        kui::WaitCursor wait;
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        qint64 id = 0;
        const bool inserting = ConsState_ == u'I';
        try {
            // The patient stays in its table until the consultation is
            // written; one deleted on another workstation takes none.
            const records::PatientHold patient(CurrentPatientCode);
            if (!patient.Present()) {
                patientGone = patient.GoneText();
                return;
            }
            if (inserting) {
                // The number is reserved until its row is written.
                TakeCodeAllocation(QStringLiteral("CONS.DBF"), DataPath);
                q.setSql(QStringLiteral("SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS.DBF "));
                q.open();
                const QVariant max = q.isEmpty() ? QVariant() : q.fieldByName("NEXT_ID").value();
                q.close();
                const qint64 highest = max.isNull() ? 0 : static_cast<qint64>(max.toDouble());
                id = highest > 0 ? highest + 1 : 1;
                q.setSql(QStringLiteral(
                    "INSERT INTO CONS.DBF        (ID_CONS, PATIENT, DCONS, MOTIF, TA,         DIAG, TRT1, POIDS, "
                    "DEP, TEMP, NB ) VALUES (:ID_CONS, :PATIENT, :DCONS, :MOTIF, :TA,         :DIAG, :TRT1, :POIDS, "
                    ":DEP, :TEMP, :NB )"));
                q.setParamInteger("ID_CONS", id);
                q.setParamText("PATIENT", CurrentPatientCode.trimmed());
                q.setParamDate("DCONS", date);
                q.setParamText("MOTIF", Cut(ui->edMotif->toPlainText(), kMotifWidth));
                q.setParamText("TA", Cut(ui->edTA->text(), 10));
                q.setParamText("DIAG", Cut(ui->edDiag->toPlainText(), kDiagWidth));
                q.setParamText("TRT1", Cut(ui->edTrt->toPlainText(), kTrtWidth));
                q.setParamText("POIDS", Cut(ui->edPoids->text(), 10));
                q.setParamText("DEP", Cut(ui->edDEP->text(), 20));
                q.setParamText("TEMP", Cut(ui->edTemp->text(), 10));
                q.setParamText("NB", Cut(ui->edNB->toPlainText(), kNbWidth));
                q.execSql();
            } else if (consEdit_.state() == kdb::DatasetState::Edit) {
                // A consultation deleted on another workstation is not
                // written into: the typed text stays, in Edit.
                // written through the record lock the edit holds
                id = ConsId_.toLongLong();
                consEdit_.fieldByName("DCONS").setAsDate(date);
                consEdit_.fieldByName("MOTIF").setAsString(Cut(ui->edMotif->toPlainText(), kMotifWidth));
                consEdit_.fieldByName("TA").setAsString(Cut(ui->edTA->text(), 10));
                consEdit_.fieldByName("DIAG").setAsString(Cut(ui->edDiag->toPlainText(), kDiagWidth));
                consEdit_.fieldByName("TRT1").setAsString(Cut(ui->edTrt->toPlainText(), kTrtWidth));
                consEdit_.fieldByName("POIDS").setAsString(Cut(ui->edPoids->text(), 10));
                consEdit_.fieldByName("DEP").setAsString(Cut(ui->edDEP->text(), 20));
                consEdit_.fieldByName("TEMP").setAsString(Cut(ui->edTemp->text(), 10));
                consEdit_.fieldByName("NB").setAsString(Cut(ui->edNB->toPlainText(), kNbWidth));
                try {
                    consEdit_.post();
                } catch (const std::exception& e) {
                    if (!records::IsRecordDeleted(e))
                        throw;
                    gone = true;
                    return;
                }
                consEdit_.close();
            } else {
                return;  // no lock held: nothing is written
            }
        } catch (...) {
            if (inserting)
                ReleaseCodeAllocation();
            throw;
        }
        if (inserting)
            ReleaseCodeAllocation();
        // Reselect the saved consultation, wherever its date puts it.
        qConsul_.afterScroll = nullptr;
        try {
            OpenHistory();
            for (qConsul_.first(); !qConsul_.eof(); qConsul_.next())
                if (qConsul_.fieldByName("ID_CONS").asString() == QString::number(id))
                    break;
        } catch (...) {
            qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
            throw;
        }
        ShowConsultation();
        qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
    });
    if (gone)
        records::WarnElsewhere(records::DeletedElsewhereText(ConsWhat(), true) + records::NotSavedNote(), this);
    else if (!patientGone.isEmpty())
        records::WarnElsewhere(patientGone, this);
}

void TfrmConsul::btnDeleteClick()
{
    if (ConsId_.isEmpty())
        return;
    if (!HistoryRowUpToDate(false))
        return;
    if (!kui::MsgConfirm(QStringLiteral("Etes-vous sûr de vouloir supprimer cette consultation ?"), this))
        return;
    const QString what = ConsWhat();
    int deleted = -1;
    records::Guarded([&] {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(QStringLiteral("DELETE FROM CONS.DBF WHERE ID_CONS=:ID_CONS AND PATIENT=:PATIENT"));
        q.setParamInteger("ID_CONS", ConsId_.toLongLong());
        q.setParamText("PATIENT", CurrentPatientCode.trimmed());
        deleted = q.execSql();
        OpenHistory();
    });
    UpdateButtons();
    if (deleted == 0)  // deleted on another workstation while the question was asked
        records::WarnElsewhere(records::DeletedElsewhereText(what, true) + records::ListUpdatedNote(), this);
}

void TfrmConsul::ReopenHistoryOn(const QString& id)
{
    qConsul_.afterScroll = nullptr;
    try {
        OpenHistory();
        if (!id.isEmpty()) {
            for (qConsul_.first(); !qConsul_.eof(); qConsul_.next())
                if (qConsul_.fieldByName("ID_CONS").asString() == id)
                    break;
            if (qConsul_.eof())
                qConsul_.last();
        }
    } catch (...) {
        qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
        ShowConsultation();
        throw;
    }
    qConsul_.afterScroll = [this](kdb::Dataset&) { ShowConsultation(); };
    ShowConsultation();
}

QString TfrmConsul::ConsWhat()
{
    QString what = QStringLiteral("La consultation");
    if (qConsul_.active() && !qConsul_.isEmpty())
        what += QStringLiteral(" du ") + qConsul_.fieldByName("DCONS").asString();
    if (Patient_.active() && !Patient_.isEmpty())
        what += QStringLiteral(" de ") +
            records::FullName(Patient_.fieldByName("NOM").asString(), Patient_.fieldByName("PRENOM").asString());
    return what;
}

bool TfrmConsul::HistoryRowUpToDate(bool changedGoesOn)
{
    const QString id = ConsId_;
    return records::ListRowUpToDate(
               qConsul_, QStringLiteral("CONS.DBF"), "ID_CONS", [this] { return ConsWhat(); }, true,
               [&](records::RowState state) { ReopenHistoryOn(state == records::RowState::Gone ? QString() : id); },
               this, changedGoesOn) &&
        ConsId_ == id;
}

void TfrmConsul::PickList(const QString& title, const QString& sql, QPlainTextEdit* editor)
{
    TfrmGetOldInfos frm(this);
    frm.Title = title;
    frm.SQL = sql;
    const int result = frm.exec();
    if (result == QDialog::Accepted && ConsState_ != u'B')
        editor->setPlainText(frm.Selected.trimmed());
}

void TfrmConsul::btnGetMotifClick()
{
    PickList(QStringLiteral("Motifs"),
        QStringLiteral("SELECT DISTINCT MOTIF FROM CONS.DBF WHERE MOTIF <> '' ORDER BY MOTIF"), ui->edMotif);
}

void TfrmConsul::btnGetDiagClick()
{
    PickList(QStringLiteral("Diagnostics"),
        QStringLiteral("SELECT DISTINCT DIAG FROM CONS.DBF WHERE DIAG <> '' ORDER BY DIAG"), ui->edDiag);
}

void TfrmConsul::btnGetTrtClick()
{
    PickList(QStringLiteral("Traitements"),
        QStringLiteral("SELECT DISTINCT TRT1 FROM CONS.DBF WHERE TRT1 <> '' ORDER BY TRT1"), ui->edTrt);
}

void TfrmConsul::btnGetPatientClick()
{
    if (!LeaveConsultation())
        return;
    {
        TfrmGetPatient frm(context_, this);
        frm.exec();
    }
    records::Guarded([this] { LoadPatient(); });
    ShowConsultation();
}

void TfrmConsul::btnMenuClick()
{
    PopMenu_->popup(ui->btnMenu->mapToGlobal(QPoint(0, ui->btnMenu->height() + 5)));
}

void TfrmConsul::mnArretTrvClick()
{
    records::Guarded([this] { PrintWorkCertificate(context_, this); });
}

void TfrmConsul::mnRapportClick()
{
    records::Guarded([this] { PrintMedicalReport(context_, CurrentPatientCode); });
}

void TfrmConsul::btnFermerClick()
{
    close();
}

namespace {

QString SaveQuestion()
{
    return QStringLiteral("Les informations modifiées n'ont pas été enregistrées.\rEnregistrer ?");
}

}  // namespace

bool TfrmConsul::LeaveConsultation()
{
    if (ConsState_ == u'B')
        return true;
    return records::AskUnsavedClose(
               this,
               [this] {
                   btnPostClick();
                   return ConsState_ == u'B';  // a refused date keeps the text
               },
               [this] { ShowConsultation(); }, SaveQuestion()) >= 0;
}

void TfrmConsul::closeEvent(QCloseEvent* event)
{
    records::CloseEntryScreen(
        this, event, closing_, ConsState_ != u'B',
        [this] {
            btnPostClick();
            return ConsState_ == u'B';
        },
        [this] { ShowConsultation(); }, [] {}, [this](QCloseEvent* e) { QDialog::closeEvent(e); }, SaveQuestion());
}

void TfrmConsul::done(int result)
{
    ReleaseConsLock();
    for (kdb::QueryDataset* q : {&qConsul_, &Patient_, &qExRadioBio_, &qExBio_, &qExRadio_, &qBio_, &qRadio_})
        q->close();
    QDialog::done(result);
}

// ---------------------------------------------------------------------------
// Exams.

void TfrmConsul::PlaceGradient()
{
    QWidget* page = ui->pgControl->currentWidget();
    if (!page)
        return;
    if (Gradient1_->parentWidget() != page)
        Gradient1_->setParent(page);
    Gradient1_->setGeometry(page->rect());
    Gradient1_->lower();
    Gradient1_->show();
}

void TfrmConsul::pgControlChange(int page)
{
    PlaceGradient();
    QWidget* w = ui->pgControl->widget(page);
    records::Guarded([&] {
        if (w == ui->tsExams && !qExRadioBio_.active())
            OpenExamDates();
        else if (w == ui->tsPhotos)
            LoadPhotos();
    });
}

void TfrmConsul::OpenExamDates()
{
    if (!qBio_.active())
        qBio_.open();
    if (!qRadio_.active())
        qRadio_.open();
    qExRadioBio_.close();
    qExRadioBio_.setParamText("MyPatient", CurrentPatientCode);
    examsPatient_ = CurrentPatientCode;
    qExRadioBio_.open();
    qExRadioBio_.last();
    if (qExRadioBio_.isEmpty()) {
        qExBio_.close();
        qExRadio_.close();
    }
    SetExamButtons();
}

void TfrmConsul::qExRadioBioAfterScroll()
{
    records::Guarded([this] {
        qExBio_.close();
        qExRadio_.close();
        if (qExRadioBio_.isEmpty() || qExRadioBio_.recNo() == 0)
            return;
        for (kdb::QueryDataset* q : {&qExBio_, &qExRadio_}) {
            q->setParamText("MyPatient", qExRadioBio_.fieldByName("PATIENT").asString());
            q->setParamDate("MyDateEx", qExRadioBio_.fieldByName("DATE_EX").asDate());
            q->open();
        }
    });
    // The exams of the date chosen can be changed and deleted.
    SetExamButtons();
}

void TfrmConsul::SetExamButtons()
{
    ui->btnDelBio->setEnabled(qExBio_.active() && !qExBio_.isEmpty());
    ui->btnDelRadio->setEnabled(qExRadio_.active() && !qExRadio_.isEmpty());
    ui->btnEditBio->setEnabled(ui->btnDelBio->isEnabled());
    ui->btnEditRadio->setEnabled(ui->btnDelRadio->isEnabled());
}

void TfrmConsul::RefreshExamDates()
{
    const QDate remembered =
        qExRadioBio_.active() && !qExRadioBio_.isEmpty() ? qExRadioBio_.fieldByName("DATE_EX").asDate() : QDate();
    qExRadioBio_.afterScroll = nullptr;
    qExRadioBio_.close();
    try {
        qExRadioBio_.open();
    } catch (...) {
        qExRadioBio_.afterScroll = [this](kdb::Dataset&) { qExRadioBioAfterScroll(); };
        throw;
    }
    qExRadioBio_.afterScroll = [this](kdb::Dataset&) { qExRadioBioAfterScroll(); };
    // The remembered date, else the last one; the lists follow the row.
    bool found = false;
    if (remembered.isValid())
        for (qExRadioBio_.first(); !qExRadioBio_.eof(); qExRadioBio_.next())
            if ((found = qExRadioBio_.fieldByName("DATE_EX").asDate() == remembered))
                break;
    if (!found)
        qExRadioBio_.last();
    qExRadioBioAfterScroll();
    SetExamButtons();
}

void TfrmConsul::DeleteExam(kdb::QueryDataset& list)
{
    if (!list.active() || list.isEmpty())
        return;
    if (!ExamRowUpToDate(list))
        return;
    if (!kui::MsgConfirm(QStringLiteral("Etes-vous sûr de vouloir supprimer cet examen ?"), this))
        return;
    const QString what = ExamWhat(list);
    int deleted = -1;
    records::Guarded([&] {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        QString num = list.fieldByName("NUM").asString();
        num.replace(QStringLiteral("'"), QStringLiteral("''"));
        q.setSql(QStringLiteral("DELETE FROM EXCOMP WHERE NUM='") + num + QStringLiteral("'"));
        deleted = q.execSql();
        RefreshExamDates();
    });
    if (deleted == 0)  // deleted on another workstation while the question was asked
        records::WarnElsewhere(records::DeletedElsewhereText(what, false) + records::ListUpdatedNote(), this);
}

QString TfrmConsul::ExamWhat(kdb::QueryDataset& list)
{
    const QString label = list.fieldByName("LibExamen").asString().trimmed();
    return QStringLiteral("L'examen ") + (label.isEmpty() ? list.fieldByName("NUM").asString().trimmed() : label) +
        QStringLiteral(" du ") + list.fieldByName("DATE_EX").asString();
}

bool TfrmConsul::ExamRowUpToDate(kdb::QueryDataset& list)
{
    return records::ListRowUpToDate(
        list, QStringLiteral("EXCOMP"), "NUM", [&] { return ExamWhat(list); }, false,
        [this](records::RowState) { RefreshExamDates(); }, this);
}

void TfrmConsul::btnDelBioClick()
{
    DeleteExam(qExBio_);
}

void TfrmConsul::btnDelRadioClick()
{
    DeleteExam(qExRadio_);
}

void TfrmConsul::OpenExam(const QString& kind, bool change)
{
    kdb::QueryDataset& list = kind == QStringLiteral("B") ? qExBio_ : qExRadio_;
    if (change && (!list.active() || list.isEmpty()))
        return;
    if (change && !ExamRowUpToDate(list))
        return;
    const QDate remembered =
        qExRadioBio_.active() && !qExRadioBio_.isEmpty() ? qExRadioBio_.fieldByName("DATE_EX").asDate() : QDate();
    {
        TfrmExComp frm(context_, this);
        frm.Num = change ? list.fieldByName("NUM").asString().trimmed() : QString();
        frm.Patient = CurrentPatientCode;
        frm.RadioBio = kind;
        frm.lPatient()->setText(ui->lName->text());
        // The exam lists stay closed while the entry writes EXCOMP: a list
        // left open then would not show the new rows when reopened.
        qExRadioBio_.afterScroll = nullptr;
        for (kdb::QueryDataset* q : {&qExRadioBio_, &qExBio_, &qExRadio_})
            q->close();
        frm.exec();
    }
    records::Guarded([&] {
        // The reference lists may have changed under the exam entry.
        for (kdb::QueryDataset* q : {&qBio_, &qRadio_}) {
            q->close();
            q->open();
        }
        qExRadioBio_.setParamText("MyPatient", CurrentPatientCode);
        examsPatient_ = CurrentPatientCode;
        qExRadioBio_.open();
        bool found = false;
        if (remembered.isValid())
            for (qExRadioBio_.first(); !qExRadioBio_.eof(); qExRadioBio_.next())
                if ((found = qExRadioBio_.fieldByName("DATE_EX").asDate() == remembered))
                    break;
        if (!found)
            qExRadioBio_.last();
    });
    qExRadioBio_.afterScroll = [this](kdb::Dataset&) { qExRadioBioAfterScroll(); };
    records::Guarded([this] { RefreshExamDates(); });
}

void TfrmConsul::OpenTable(const QString& table, const QString& title)
{
    TfrmTable frm(context_, this);
    frm.TableName = table;
    frm.DatabaseName = DataPath;
    frm.Title = title;
    frm.CodeLength = 3;
    frm.exec();
}

void TfrmConsul::btnOrdonnanceClick()
{
    TfrmSelectOrd frm(context_, this);
    frm.exec();
}

void TfrmConsul::btnBioClick()
{
    OpenTable(QStringLiteral("FBIO"), QStringLiteral("Examens Biologiques"));
}

void TfrmConsul::btnRadioClick()
{
    OpenTable(QStringLiteral("FRADIO"), QStringLiteral("Examens Radiologiques"));
}

// ---------------------------------------------------------------------------
// Photos.

void TfrmConsul::LoadPhotos()
{
    for (int i = 1; i <= 21; ++i) {
        Image(i)->clear();
        Image(i)->setToolTip(QString());
        Image(i)->setProperty("picture", QVariant());
    }
    photosLoaded_ = true;
    photosPatient_ = CurrentPatientCode;
    kui::WaitCursor wait;
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql(QStringLiteral("SELECT * FROM FPHOTO WHERE CODE=:CODE"));
    q.setParamText("CODE", CurrentPatientCode);
    q.open();
    for (q.first(); !q.eof(); q.next()) {
        const QString name = QStringLiteral("IMAGE") + q.fieldByName("NUM").asString().trimmed();
        const QString file = q.fieldByName("PHOTO").asString().trimmed();
        for (int i = 1; i <= 21; ++i) {
            QLabel* slot = Image(i);
            if (slot->objectName().compare(name, Qt::CaseInsensitive) != 0)
                continue;
            const QString path = PhotoDir + file;
            // The thumbnail is decoded at its own size; the viewer reads the file again.
            const QImage thumb =
                file.isEmpty() || !QFileInfo(path).isFile() ? QImage() : kui::LoadPicture(path, slot->size());
            if (thumb.isNull())
                break;  // a picture that cannot be read is skipped
            slot->setProperty("picture", path);
            slot->setPixmap(QPixmap::fromImage(thumb));
            slot->setToolTip(file);
            break;
        }
    }
}

void TfrmConsul::ImageDblClick(QLabel* slot)
{
    const QString path = slot->property("picture").toString();
    const QPixmap picture = path.isEmpty() ? QPixmap() : QPixmap::fromImage(kui::LoadPicture(path));
    if (picture.isNull())
        return;
    TfrmImage frm(picture, ui->lName->text(), this);
    frm.exec();
}

bool TfrmConsul::MovesHistory(QObject* watched, QEvent* event) const
{
    const int row = qConsul_.active() ? qConsul_.currentRow() : -1;
    if (watched == ui->grdConsul->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        const QModelIndex at = ui->grdConsul->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        return at.isValid() && at.row() != row;
    }
    if (watched == ui->grdConsul && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            // typing on the list searches its rows
            return !key->text().isEmpty() && key->text().at(0).isPrint() &&
                !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        }
    }
    return false;
}

bool TfrmConsul::eventFilter(QObject* watched, QEvent* event)
{
    if (ConsState_ != u'B' && MovesHistory(watched, event) && !LeaveConsultation())
        return true;  // the consultation being typed stays
    if (event->type() == QEvent::Resize && watched == Gradient1_->parentWidget())
        Gradient1_->setGeometry(static_cast<QWidget*>(watched)->rect());

    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == ui->lName) {
            btnGetPatientClick();
            return true;
        }
        if (auto* slot = qobject_cast<QLabel*>(watched); slot && slot->property("Tag").isValid()) {
            ImageDblClick(slot);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
