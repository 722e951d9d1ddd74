#include "UPatient.h"
#include "ui_UPatient.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UConsul.h"
#include "UFind.h"
#include "app/reports/UPrint.h"
#include "app/reports/UrptConsul.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/os/Abort.h"
#include "platform/os/Files.h"
#include "platform/ui/Formats.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/TextFile.h"
#include "platform/ui/data/DataControls.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

namespace {

bool Editing(const kdb::Dataset& ds)
{
    return ds.state() == kdb::DatasetState::Edit || ds.state() == kdb::DatasetState::Insert;
}

bool IsAsciiNumber(const QString& s)
{
    bool ok = false;
    s.toInt(&ok);
    return ok;
}

}  // namespace

TfrmPatient::TfrmPatient(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmPatient), Timer1_(new QTimer(this)),
      PopupMenu1_(new QMenu(this)), PopMenuPrint_(new QMenu(this))
{
    ui->setupUi(this);
    setWindowFlags(
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // Esc is no key of this screen: it neither closes nor posts.
    kui::EscapeDoesNothing(this);

    QStyle* st = style();
    ui->btnPrev->setIcon(st->standardIcon(QStyle::SP_ArrowLeft));
    ui->btnNext->setIcon(st->standardIcon(QStyle::SP_ArrowRight));
    ui->btnAdd->setIcon(st->standardIcon(QStyle::SP_FileIcon));
    ui->btnPost->setIcon(st->standardIcon(QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(st->standardIcon(QStyle::SP_DialogCancelButton));
    ui->btnDelete->setIcon(st->standardIcon(QStyle::SP_TrashIcon));
    ui->btnFind->setIcon(st->standardIcon(QStyle::SP_FileDialogContentsView));
    ui->btnConsul->setIcon(st->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui->btnPrint->setIcon(st->standardIcon(QStyle::SP_DriveHDIcon));
    ui->btnFermer->setIcon(st->standardIcon(QStyle::SP_DialogCloseButton));

    // Editors: the fields, the upper-case ones, the focus colour.
    const struct {
        kui::DataLineEdit* edit;
        const char* field;
        bool upper;
    } edits[] = {{ui->edID, "ID", true}, {ui->edCode, "CODE", false}, {ui->edNom, "NOM", true},
        {ui->edPrenom, "PRENOM", true}, {ui->edDN, "DN", false}, {ui->edAGE, "AGE", false}, {ui->edSexe, "SEXE", true},
        {ui->edGSanguin, "GS", true}, {ui->edTel, "TEL", false}, {ui->edProf, "PROFES", true}};
    for (const auto& e : edits) {
        e.edit->bind(&Patient_, e.field);
        e.edit->setUpperCase(e.upper);
        if (e.edit != ui->edCode)
            e.edit->setFocusColour(records::FocusColour);
        e.edit->installEventFilter(this);
        connect(e.edit, &kui::DataLineEdit::writeFailed, this, [](const QString& m) { ShowError(m); });
    }
    QPalette grey = ui->edCode->palette();
    grey.setColor(QPalette::Base, records::ReadOnlyGrey);
    grey.setColor(QPalette::Text, Qt::gray);
    ui->edCode->setPalette(grey);
    ui->cmbAdr->bind(&Patient_, "ADR");
    ui->cmbAdr->setFocusColour(records::FocusColour);
    ui->cmbAdr->installEventFilter(this);
    if (ui->cmbAdr->lineEdit())
        ui->cmbAdr->lineEdit()->installEventFilter(this);
    connect(ui->cmbAdr, &kui::DataComboBox::writeFailed, this, [](const QString& m) { ShowError(m); });
    ui->mmAntFam->bind(&Patient_, "ANTFAM");
    ui->mmAntPers->bind(&Patient_, "ANTPERS");
    for (kui::DataMemo* m : {ui->mmAntFam, ui->mmAntPers}) {
        m->installEventFilter(this);
        connect(m, &kui::DataMemo::writeFailed, this, [](const QString& msg) { ShowError(msg); });
    }

    // The pop-up menu and the print menu.
    auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& key,
                   void (TfrmPatient::*slot)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        if (slot)
            connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    add(PopupMenu1_, "mnAdd", QStringLiteral("Nouveau patient"), QKeySequence(Qt::CTRL | Qt::Key_Insert),
        &TfrmPatient::btnAddClick);
    add(PopupMenu1_, "mnPost", QStringLiteral("Enregistrer les modifications"), QKeySequence(Qt::CTRL | Qt::Key_S),
        &TfrmPatient::btnPostClick);
    add(PopupMenu1_, "mnCancel", QStringLiteral("Annuler les modifications"), QKeySequence(Qt::CTRL | Qt::Key_A),
        &TfrmPatient::btnCancelClick);
    add(PopupMenu1_, "mnDelete", QStringLiteral("Supprimer l'enregistrement"), QKeySequence(Qt::CTRL | Qt::Key_Delete),
        &TfrmPatient::btnDeleteClick);
    PopupMenu1_->addSeparator();
    add(PopupMenu1_, "mnFind", QStringLiteral("Chercher un patient"), QKeySequence(Qt::Key_F3),
        &TfrmPatient::btnFindClick);
    PopupMenu1_->addSeparator();
    add(PopupMenu1_, "mnPrintReport", QStringLiteral("Imprimer le rapport médical"), QKeySequence(Qt::CTRL | Qt::Key_R),
        &TfrmPatient::mnPrintReportClick);
    add(PopupMenu1_, "mnPrintList", QStringLiteral("Imprimer le listing des patients"),
        QKeySequence(Qt::CTRL | Qt::Key_L), &TfrmPatient::mnPrintListClick);
    PopupMenu1_->addSeparator();
    add(PopupMenu1_, "mnFermer", QStringLiteral("Fermer"), QKeySequence(Qt::Key_F4), &TfrmPatient::btnFermerClick);
    connect(PopMenuPrint_->addAction(QStringLiteral("Rapport Médical")), &QAction::triggered, this,
        &TfrmPatient::mnPrintReportClick);
    connect(PopMenuPrint_->addAction(QStringLiteral("Listing des patients")), &QAction::triggered, this,
        &TfrmPatient::mnPrintListClick);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& p) { PopupMenu1_->popup(mapToGlobal(p)); });

    connect(ui->btnPrev, &QToolButton::clicked, this, &TfrmPatient::btnPrevClick);
    connect(ui->btnNext, &QToolButton::clicked, this, &TfrmPatient::btnNextClick);
    connect(ui->btnAdd, &QToolButton::clicked, this, &TfrmPatient::btnAddClick);
    connect(ui->btnPost, &QToolButton::clicked, this, &TfrmPatient::btnPostClick);
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmPatient::btnCancelClick);
    connect(ui->btnDelete, &QToolButton::clicked, this, &TfrmPatient::btnDeleteClick);
    connect(ui->btnFind, &QToolButton::clicked, this, &TfrmPatient::btnFindClick);
    connect(ui->btnConsul, &QToolButton::clicked, this, &TfrmPatient::btnConsulClick);
    connect(ui->btnPrint, &QToolButton::clicked, this, &TfrmPatient::btnPrintClick);
    connect(ui->btnFermer, &QToolButton::clicked, this, &TfrmPatient::btnFermerClick);

    Timer1_->setInterval(5000);
    connect(Timer1_, &QTimer::timeout, this, &TfrmPatient::Timer1Timer);

    Patient_.beforePost = [this](kdb::Dataset& ds) { PatientBeforePost(ds); };
    Patient_.afterPost = [this](kdb::Dataset& ds) { PatientAfterPost(ds); };
    Patient_.onNewRecord = [this](kdb::Dataset& ds) { PatientNewRecord(ds); };
    Patient_.afterCancel = [this](kdb::Dataset&) {
        IsNewPatient_ = false;
        // the edit of a patient deleted meanwhile, dropped: the next one is shown
        if (Patient_.currentRowGone())
            Patient_.refresh();
    };
    connect(&Patient_, &kdb::Dataset::stateChanged, this, &TfrmPatient::PatientStateChange);
    connect(&Patient_, &kdb::Dataset::stateChanged, this, &TfrmPatient::dsPatientDataChange);
    connect(&Patient_, &kdb::Dataset::currentChanged, this, &TfrmPatient::dsPatientDataChange);
    connect(&Patient_, &kdb::Dataset::rowsReset, this, &TfrmPatient::dsPatientDataChange);

    FormCreate();
}

TfrmPatient::~TfrmPatient()
{
    Timer1_->stop();
    Patient_.close();
    delete ui;
}

QAction* TfrmPatient::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

QString TfrmPatient::statusText() const
{
    return ui->stBar->currentMessage();
}

void TfrmPatient::FormCreate()
{
    AdrFileName = AppDir + QStringLiteral("ADR.TXT");
    LoadAddresses();
    CodePatient.clear();
    records::Guarded([this] {
        Patient_.setDatabaseName(DataPath.toStdString());
        Patient_.setTableName("Patient.DBF");
        Patient_.setIndexFieldNames("NOM");
        Patient_.open();
    });
    IsNewPatient_ = false;
    ShowRecordCount();
    UpdateButtons();
}

// The list of ADR.TXT, sorted; a missing file gives an empty list.
void TfrmPatient::LoadAddresses()
{
    adrList_.clear();
    QFile f(AdrFileName);
    // A file of an older installation may be in Windows-1252.
    adrEncoding_ = kui::TextEncoding::Utf8;
    if (f.open(QIODevice::ReadOnly))
        adrList_ = kui::DecodeLines(f.readAll(), &adrEncoding_);
    adrList_.sort(Qt::CaseInsensitive);
    const QString shown = ui->cmbAdr->currentText();
    ui->cmbAdr->blockSignals(true);
    ui->cmbAdr->clear();
    ui->cmbAdr->addItems(adrList_);
    ui->cmbAdr->setEditText(shown);
    ui->cmbAdr->blockSignals(false);
}

void TfrmPatient::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmPatient::FormShow()
{
    records::Guarded([this] {
        if (Patient_.active() && !LocateCode(CodePatient))
            Patient_.first();
    });
    ui->btnFind->setFocus();
    UpdateButtons();
}

// ---------------------------------------------------------------------------
// Posting.

void TfrmPatient::Failed(QWidget* editor, const QString& message)
{
    if (!message.isEmpty())
        ShowError(message);
    editor->setFocus();
    Abort();
}

bool TfrmPatient::CheckBirthDate(const QString& T)
{
    if (T.trimmed().length() != 10) {
        ShowError(QStringLiteral("La date de naissance doit être sous la forme ") + kui::ShortDateFormat.toUpper());
        return false;
    }
    if (T.at(2) != u'/' || T.at(5) != u'/') {
        ShowError(QStringLiteral("Le séparateur de date doit être la barre oblique '/'."));
        return false;
    }
    const QString day = T.mid(0, 2), month = T.mid(3, 2);
    const QString wrong = QStringLiteral("La date de naissance est incorrecte !");
    if (day != QLatin1String("00") && month == QLatin1String("00")) {
        ShowError(wrong);
        return false;
    }
    if (month < QLatin1String("00") || month > QLatin1String("12")) {
        ShowError(wrong);
        return false;
    }
    if (day == QLatin1String("00") || month == QLatin1String("00"))
        return true;
    if (!records::ReadDate(T).isValid()) {
        ShowError(wrong);
        return false;
    }
    return true;
}

void TfrmPatient::PatientBeforePost(kdb::Dataset& ds)
{
    if (ds.fieldByName("ID").asString().trimmed().isEmpty())
        Failed(ui->edID, QStringLiteral("Le code du patient est manquant !"));
    if (ds.fieldByName("NOM").asString().trimmed().isEmpty())
        Failed(ui->edNom, QStringLiteral("Le nom du patient est manquant !"));
    const QString dn = ds.fieldByName("DN").asString();
    if (!CheckBirthDate(dn))
        Failed(ui->edDN, QString());
    const QDate birth = records::ReadDate(dn);
    if (birth.isValid()) {
        ds.fieldByName("AGE").setAsString(QString::number(YearOf(QDate::currentDate()) - YearOf(birth)));
    } else {
        const QString year = dn.mid(6, 4);
        if (IsAsciiNumber(year) && year.toInt() != 0)
            ds.fieldByName("AGE").setAsString(QString::number(YearOf(QDate::currentDate()) - year.toInt()));
    }
    const QString sexe = ds.fieldByName("SEXE").asString();
    if (sexe != QLatin1String("M") && sexe != QLatin1String("F"))
        Failed(ui->edSexe, QStringLiteral("Le Sexe du patient est erroné !"));
    if (IsNewPatient_ || ds.fieldByName("CODE").asString().trimmed().isEmpty())
        ds.fieldByName("CODE").setAsString(NextCode(QStringLiteral("PATIENT"), DataPath, QStringLiteral("CODE"), 6));
    ds.fieldByName("NOM").setAsString(ds.fieldByName("NOM").asString().trimmed());
    ds.fieldByName("ADR").setAsString(ui->cmbAdr->currentText().toUpper());
    IsNewPatient_ = false;
}

void TfrmPatient::PatientAfterPost(kdb::Dataset&)
{
    // The row carrying a new code is written: another workstation may
    // allocate the next one.
    ReleaseCodeAllocation();
    Patient_.flushTable();
    const QString adr = ui->cmbAdr->currentText().trimmed();
    if (!adr.isEmpty()) {
        const QString upper = ui->cmbAdr->currentText().toUpper();
        if (!adrList_.contains(upper)) {
            adrList_.append(upper);
            adrList_.sort(Qt::CaseInsensitive);
            // Written back in the file's own encoding when it holds every
            // letter, else in UTF-8.
            QString text;
            for (const QString& a : adrList_)
                text += a + u'\n';
            // The whole list or the previous one: a full disk cuts nothing.
            QString error;
            if (!kos::WriteFileWhole(AdrFileName, kui::EncodeText(text, adrEncoding_), &error))
                ShowError(QStringLiteral("La fiche du patient est enregistrée, mais pas la liste des adresses :\r") +
                    error);
            LoadAddresses();
        }
        ui->cmbAdr->setEditText(upper);
    }
    IsNewPatient_ = false;
    QApplication::processEvents();
}

void TfrmPatient::PatientNewRecord(kdb::Dataset&)
{
    IsNewPatient_ = true;
    ui->edID->setFocus();
    QApplication::processEvents();
}

// ---------------------------------------------------------------------------
// Buttons and menu.

void TfrmPatient::btnPrevClick()
{
    GuardedRecord([this] { Patient_.prior(); });
}

void TfrmPatient::btnNextClick()
{
    GuardedRecord([this] { Patient_.next(); });
}

void TfrmPatient::btnAddClick()
{
    GuardedRecord([this] { Patient_.insert(); });
}

void TfrmPatient::btnPostClick()
{
    GuardedRecord([this] {
        if (Editing(Patient_)) {
            try {
                Patient_.post();
            } catch (...) {
                ReleaseCodeAllocation();
                throw;
            }
        }
    });
    QApplication::processEvents();
}

void TfrmPatient::btnCancelClick()
{
    // What was typed is dropped only once the user said so; No leaves the
    // record being typed and the focus as they were.
    if (Editing(Patient_) && Typed() && !records::ConfirmDiscard(this))
        return;
    records::Guarded([this] {
        if (Editing(Patient_))
            Patient_.cancel();
    });
    IsNewPatient_ = false;
}

void TfrmPatient::btnDeleteClick()
{
    records::Guarded([this] {
        if (!Patient_.active() || Patient_.isEmpty())
            return;
        if (Patient_.currentRowGone()) {  // deleted elsewhere: nothing left to delete
            PatientDeleted();
            return;
        }
        const QString code = Patient_.fieldByName("CODE").asString();
        const QString hasConsultations =
            QStringLiteral("Ce patient a déjà eu des consultations !\rSupprimez d'abord ses consultations.");
        if (HasConsultations(code)) {
            ShowError(hasConsultations);
            return;
        }
        Timer1_->stop();
        if (kui::MsgConfirm(QStringLiteral("Etes-vous sûr de vouloir supprimer cet enregistrement ?"), this)) {
            // Looked at again with the patient table held (the consultation
            // screens hold it shared while they write): a consultation saved
            // while the question was asked keeps its patient.
            bool found = false;
            {
                kdb::StatementHold hold(*Patient_.table());
                found = HasConsultations(code);
                // Refused (locked) while another workstation is changing it.
                if (!found)
                    Patient_.remove();
            }
            if (found)
                ShowError(hasConsultations);
        }
        ShowRecordCount();
        UpdateButtons();
    });
    UpdateButtons();
}

// The guard reads the consultations as they are now.
bool TfrmPatient::HasConsultations(const QString& code)
{
    kdb::QueryDataset Consul;
    Consul.setDatabaseName(DataPath.toStdString());
    Consul.setSql(QStringLiteral("SELECT PATIENT FROM CONS.DBF WHERE PATIENT=:PATIENT"));
    Consul.setParamText("PATIENT", code);
    Consul.open();
    for (Consul.first(); !Consul.eof(); Consul.next())
        if (Consul.fieldByName("PATIENT").asString() == code)
            return true;
    return false;
}

void TfrmPatient::btnFindClick()
{
    GuardedRecord([this] {
        Patient_.checkBrowseMode();
        TfrmFind frm(Patient_, this);
        frm.exec();
    });
}

void TfrmPatient::btnConsulClick()
{
    records::Guarded([this] {
        CurrentPatientCode = Patient_.active() ? Patient_.fieldByName("CODE").asString() : QString();
        TfrmConsul frm(context_, this);
        frm.exec();
    });
}

void TfrmPatient::btnPrintClick()
{
    PopMenuPrint_->popup(ui->btnPrint->mapToGlobal(QPoint(0, ui->btnPrint->height())));
}

void TfrmPatient::mnPrintReportClick()
{
    records::Guarded([this] {
        CurrentPatientCode = Patient_.active() ? Patient_.fieldByName("CODE").asString() : QString();
        PrintMedicalReport(context_, CurrentPatientCode);
    });
}

void TfrmPatient::mnPrintListClick()
{
    records::Guarded([this] { PrintPatientList(context_, this); });
}

void TfrmPatient::btnFermerClick()
{
    close();
}

void TfrmPatient::done(int result)
{
    // A record being edited is posted first: a refused check keeps the form.
    bool posted = true;
    GuardedRecord([&] {
        posted = false;
        if (Editing(Patient_)) {
            try {
                Patient_.post();
            } catch (...) {
                ReleaseCodeAllocation();
                throw;
            }
        }
        posted = true;
    });
    if (!posted)
        return;
    Timer1_->stop();
    Patient_.close();
    QDialog::done(result);
}

// ---------------------------------------------------------------------------
// State.

void TfrmPatient::Timer1Timer()
{
    if (Editing(Patient_) || !Patient_.active())
        return;
    // Under another screen (the consultations), the refresh waits until this
    // one is shown again.
    if (QWidget* top = QApplication::activeModalWidget(); top && top != this)
        return;
    // The patient shown, deleted on another workstation, is told by name
    // before the screen shows the one that follows.
    bool gone = false;
    records::Guarded([&] { gone = Patient_.currentRowGone(); });
    if (gone) {
        PatientDeleted();
        return;
    }
    // the rows around the current one, read again through the tag
    records::Guarded([this] { Patient_.refresh(); });
}

// The record of that CODE through the table's tag on CODE (exact).
bool TfrmPatient::LocateCode(const QString& code)
{
    if (code.isEmpty() || !Patient_.active())
        return false;
    kdb::Table* table = Patient_.table();
    if (!table)
        return false;
    const uint32_t rec = table->findKey("CODE", code);
    // A key left by a deleted record: the rows are searched instead.
    return rec && (Patient_.gotoRecord(rec) || Patient_.locate("CODE", code));
}

void TfrmPatient::PatientStateChange()
{
    if (!Editing(Patient_)) {
        startValues_.clear();
        return;
    }
    if (!startValues_.isEmpty())
        return;
    for (int i = 0; i < Patient_.fieldCount(); ++i)
        startValues_ << Patient_.field(i).asString();
}

bool TfrmPatient::Typed()
{
    if (!Editing(Patient_))
        return false;
    for (int i = 0; i < Patient_.fieldCount() && i < startValues_.size(); ++i)
        if (Patient_.field(i).asString() != startValues_.at(i))
            return true;
    return false;
}

void TfrmPatient::ShowRecordCount()
{
    const int count = Patient_.active() ? Patient_.approximateRecordCount() : 0;
    // A currency amount without decimals: blanks between the thousands.
    ui->stBar->showMessage(kui::FormatFloat(count, 0, true) + QStringLiteral("  Enregistrementss"));
}

void TfrmPatient::dsPatientDataChange()
{
    if (IsNewPatient_)
        ShowRecordCount();
    UpdateButtons();
}

void TfrmPatient::UpdateButtons()
{
    const bool editing = Editing(Patient_);
    const bool active = Patient_.active();
    ui->btnPrev->setEnabled(active && !Patient_.isEmpty() && !Patient_.atFirstRow());
    ui->btnNext->setEnabled(active && !Patient_.isEmpty() && !Patient_.atLastRow());
    ui->btnAdd->setEnabled(!editing);
    ui->btnDelete->setEnabled(!editing);
    action(QStringLiteral("mnAdd"))->setEnabled(!editing);
    action(QStringLiteral("mnDelete"))->setEnabled(!editing);
    ui->btnPost->setEnabled(editing);
    ui->btnCancel->setEnabled(editing);
    action(QStringLiteral("mnPost"))->setEnabled(editing);
    action(QStringLiteral("mnCancel"))->setEnabled(editing);
    if (editing || closing_)
        Timer1_->stop();
    else if (!Timer1_->isActive())
        Timer1_->start();
}

// Typing into a record in Browse starts its edit: the record lock is taken
// and the record read again; a record another workstation is changing
// refuses the key with a message.
bool TfrmPatient::StartEditing()
{
    if (!Patient_.active() || Editing(Patient_))
        return true;
    try {
        Patient_.edit();
        return true;
    } catch (const EDBEngineError& e) {
        if (e.code() == kdb::DBERR_RECDELETED) {
            PatientDeleted();
            return false;
        }
        if (e.code() != kdb::DBERR_LOCKED)
            throw;
        kui::MsgWarning(records::LockedRecordMessage(), this);
        return false;
    }
}

void TfrmPatient::GuardedRecord(const std::function<void()>& action)
{
    records::GuardedAgainstDeleted(action, [this] { PatientDeleted(); });
}

void TfrmPatient::PatientDeleted()
{
    const bool typed = Editing(Patient_);
    QString text = records::DeletedElsewhereText(PatientWhat(), PatientFeminine());
    text += typed ? records::NotSavedNote() : records::ListUpdatedNote();
    if (!typed) {
        // Read again first: behind the box, the screen shows the patient
        // that follows. No editor keeps the focus, so that the keys the user
        // goes on typing never change that other patient.
        records::Guarded([this] { Patient_.refresh(); });
        setFocus(Qt::OtherFocusReason);
    }
    kui::MsgWarning(text, this);
    UpdateButtons();
}

QString TfrmPatient::PatientWhat()
{
    if (!Patient_.active() || Patient_.currentRow() < 0)
        return PatientFeminine() ? QStringLiteral("La patiente") : QStringLiteral("Le patient");
    const auto text = [this](const char* field) { return Patient_.fieldByName(field).asString(); };
    return records::PatientWhat(text("CODE"), text("NOM"), text("PRENOM"), PatientFeminine());
}

bool TfrmPatient::PatientFeminine()
{
    return Patient_.active() && Patient_.currentRow() >= 0 &&
        Patient_.fieldByName("SEXE").asString().trimmed() == QLatin1String("F");
}

bool TfrmPatient::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool memo = watched == ui->mmAntFam || watched == ui->mmAntPers;
    if (enter && !memo) {
        if (watched == ui->edGSanguin) {
            btnPostClick();
        } else {
            auto* w = static_cast<QWidget*>(watched);
            if (watched == ui->cmbAdr->lineEdit())
                w = ui->cmbAdr;
            records::NextInTabOrder(w)->setFocus(Qt::TabFocusReason);
        }
        return true;
    }
    const bool changes =
        (!key->text().isEmpty() && key->text().at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier)) ||
        key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace || (enter && memo);
    if (changes && watched != ui->edCode && Patient_.active() && !Editing(Patient_)) {
        // The record read again under its lock shows on the editors; where
        // the value is unchanged the user's selection is kept for the key.
        auto* line = qobject_cast<QLineEdit*>(watched);
        auto* memo = qobject_cast<QPlainTextEdit*>(watched);
        const QString before = line ? line->text() : memo ? memo->toPlainText() : QString();
        const int cursor = line ? line->cursorPosition() : 0;
        const int selStart = line ? line->selectionStart() : -1;
        const int selLength = line ? line->selectionLength() : 0;
        const QTextCursor textCursor = memo ? memo->textCursor() : QTextCursor();
        bool go = true;
        records::Guarded([&] { go = StartEditing(); });
        if (!go)
            return true;
        if (line && line->text() == before) {
            if (selStart >= 0)
                line->setSelection(selStart, selLength);
            else
                line->setCursorPosition(cursor);
        } else if (memo && memo->toPlainText() == before) {
            memo->setTextCursor(textCursor);
        }
    }
    return QDialog::eventFilter(watched, event);
}
