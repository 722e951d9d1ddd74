#include "UPROT.h"
#include "ui_UPROT.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UGetPatient.h"
#include "UProtText.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "app/reports/ReportCommon.h"
#include "app/reports/URptProtocole.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/rtf/Rtf.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QShowEvent>
#include <QTextEdit>

#include <optional>
#include <stdexcept>

std::function<void(AppContext&, QWidget*)> TfrmPROT::RunPatientPicker;

namespace {

const QColor kGreyText(0x80, 0x80, 0x80);

void SetTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::Disabled, QPalette::Text, colour);
    w->setPalette(p);
}

// The text cut to the column's width.
QString Cut(const QString& text, int width)
{
    return text.left(width);
}

// The widths of the columns the user types (FPROT).
constexpr int kCliniqueWidth = 50;
constexpr int kPractitionerWidth = 40;  // OPERATEUR, AIDE, ANEST

// A detail text left behind by a protocol whose row is gone (a restore of
// an older table, a row deleted without its file) would be shown and
// printed as the text of the new protocol that gets its number. Before the
// number is used, such a file is moved aside: kept, under a name that no
// protocol number gives.
void SetAsideLeftoverText(const QString& num)
{
    const QString file = ProtDir + "PROT" + num + ".RTF";
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return;
    for (int i = 1; i <= 999; ++i) {
        const QString aside =
            ProtDir + "PROT" + num + "_ANCIEN" + (i > 1 ? QString::number(i) : QString()) + ".RTF";
        const QFileInfo other(aside);
        if (other.exists() || other.isSymLink())
            continue;
        if (QFile::rename(file, aside))
            return;
        break;
    }
    throw std::runtime_error(
        QStringLiteral("Le fichier « %1 » d'un ancien protocole n'a pas pu être mis de côté : le protocole n'est "
                       "pas enregistré.")
            .arg(QDir::toNativeSeparators(file))
            .toStdString());
}

}  // namespace

TfrmPROT::TfrmPROT(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmPROT), FPROT(new kdb::TableDataset(this)),
      Patient(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FPROT->setTableName("FPROT.DBF");
    FPROT->setFlushOnPost(true);
    Patient->setSql("SELECT * FROM PATIENT");
    // The typed boxes take no more than their columns hold.
    ui->edClinique->setMaxLength(kCliniqueWidth);
    for (QLineEdit* e : {ui->edOperateur, ui->edAide, ui->edAnest})
        e->setMaxLength(kPractitionerWidth);
    // Nor a letter the table's code page lacks, its memos included.
    const int codePage = records::TableCodePage(DataPath, QStringLiteral("FPROT.DBF"));
    for (QLineEdit* e : {ui->edClinique, ui->edOperateur, ui->edAide, ui->edAnest})
        kui::SetCodePage(e, codePage);
    for (QTextEdit* memo : {ui->edDiag, ui->edInterv})
        kui::SetCodePage(memo, codePage);

    ui->btnNew->setIcon(kui::ThemeIcon("document-new", QStyle::SP_FileIcon));
    ui->btnEdit->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));
    ui->btnPost->setIcon(kui::ThemeIcon("document-save", QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(kui::ThemeIcon("edit-undo", QStyle::SP_DialogCancelButton));
    for (QToolButton* b : {ui->btnNew, ui->btnEdit, ui->btnPost, ui->btnCancel})
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    // The patient boxes: never editable, on light grey.
    for (QLineEdit* e : {ui->edCode, ui->edNom, ui->edPrenom, ui->edAge}) {
        e->setEnabled(false);
        QPalette p = e->palette();
        p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xE6, 0xE6, 0xE6));
        p.setColor(QPalette::Base, QColor(0xE6, 0xE6, 0xE6));
        e->setPalette(p);
    }
    SetTextColour(ui->mmDetail, kGreyText);
    // The one-line edits force upper case, whatever puts the text there (the
    // keyboard, the practitioner's name, a stored protocol), so the boxes
    // show what is stored; Enter moves on.
    for (QLineEdit* e : {ui->edClinique, ui->edOperateur, ui->edAnest, ui->edAide}) {
        connect(e, &QLineEdit::textChanged, e, [e](const QString& text) {
            const QString upper = text.toUpper();
            if (upper != text) {
                const int pos = e->cursorPosition();
                e->setText(upper);
                e->setCursorPosition(pos);
            }
        });
        e->installEventFilter(this);
    }
    ui->edDate_PRT->installEventFilter(this);

    PopMnPrt_ = new QMenu(this);
    mnNew = PopMnPrt_->addAction("Nouveau ", this, &TfrmPROT::btnNewClick);
    mnModif = PopMnPrt_->addAction("Modifier les informations", this, &TfrmPROT::btnEditClick);
    mnPost = PopMnPrt_->addAction("Enregistrer", this, [this] { btnPostClick(); });
    mnCancel = PopMnPrt_->addAction("Annuler", this, &TfrmPROT::btnCancelClick);
    mnModifDesc = PopMnPrt_->addAction("Modifier le texte du protocole", this, &TfrmPROT::btnModifDescClick);
    mnPrint = PopMnPrt_->addAction("Imprimer", this, &TfrmPROT::btnPrintClick);
    mnClose = PopMnPrt_->addAction("Fermer", this, &TfrmPROT::mnCloseClick);

    connect(ui->btnNew, &QToolButton::clicked, this, &TfrmPROT::btnNewClick);
    connect(ui->btnEdit, &QToolButton::clicked, this, &TfrmPROT::btnEditClick);
    connect(ui->btnPost, &QToolButton::clicked, this, [this] { btnPostClick(); });
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmPROT::btnCancelClick);
    connect(ui->btnFindPatient, &QToolButton::clicked, this, &TfrmPROT::btnFindPatientClick);
    connect(ui->btnModifDesc, &QPushButton::clicked, this, &TfrmPROT::btnModifDescClick);
    connect(ui->btnPrint, &QPushButton::clicked, this, &TfrmPROT::btnPrintClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmPROT::mnCloseClick);
}

TfrmPROT::~TfrmPROT()
{
    delete ui;
}

QDateEdit* TfrmPROT::edDate_PRT() const
{
    return ui->edDate_PRT;
}
QLineEdit* TfrmPROT::edClinique() const
{
    return ui->edClinique;
}
QLineEdit* TfrmPROT::edOperateur() const
{
    return ui->edOperateur;
}
QLineEdit* TfrmPROT::edAnest() const
{
    return ui->edAnest;
}
QLineEdit* TfrmPROT::edAide() const
{
    return ui->edAide;
}
QLineEdit* TfrmPROT::edCode() const
{
    return ui->edCode;
}
QLineEdit* TfrmPROT::edNom() const
{
    return ui->edNom;
}
QLineEdit* TfrmPROT::edPrenom() const
{
    return ui->edPrenom;
}
QLineEdit* TfrmPROT::edAge() const
{
    return ui->edAge;
}
QTextEdit* TfrmPROT::edDiag() const
{
    return ui->edDiag;
}
QTextEdit* TfrmPROT::edInterv() const
{
    return ui->edInterv;
}
QTextEdit* TfrmPROT::mmDetail() const
{
    return ui->mmDetail;
}
QToolButton* TfrmPROT::btnNew() const
{
    return ui->btnNew;
}
QToolButton* TfrmPROT::btnEdit() const
{
    return ui->btnEdit;
}
QToolButton* TfrmPROT::btnPost() const
{
    return ui->btnPost;
}
QToolButton* TfrmPROT::btnCancel() const
{
    return ui->btnCancel;
}
QToolButton* TfrmPROT::btnFindPatient() const
{
    return ui->btnFindPatient;
}
QPushButton* TfrmPROT::btnModifDesc() const
{
    return ui->btnModifDesc;
}
QPushButton* TfrmPROT::btnPrint() const
{
    return ui->btnPrint;
}
QPushButton* TfrmPROT::btnClose() const
{
    return ui->btnClose;
}

QList<QWidget*> TfrmPROT::EntryControls() const
{
    return {ui->edDate_PRT, ui->edClinique, ui->edOperateur, ui->edAide, ui->edAnest, ui->edDiag, ui->edInterv};
}

void TfrmPROT::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmPROT::FormShow()
{
    closing_ = false;
    try {
        Patient->close();
        Patient->setDatabaseName(DataPath.toStdString());
        Patient->open();
        FPROT->setDatabaseName(DataPath.toStdString());
        if (!LoadProt()) {
            // Deleted on another workstation since the list showed it:
            // nothing to show, and nothing is recreated.
            ProtEditing = false;
            DisableEdit();
            UpdateButtons();
            closing_ = true;
            records::CloseOnDeleted(this, ProtWhat());
            return;
        }
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
    NoteEditorValues();
    if (NumProt.isEmpty()) {
        ProtEditing = true;
        EnableEdit();
        ui->edDate_PRT->setFocus();
    } else {
        ProtEditing = false;
        DisableEdit();
    }
    UpdateButtons();
}

void TfrmPROT::EnableEdit()
{
    ui->btnFindPatient->setEnabled(true);
    for (QWidget* w : EntryControls()) {
        w->setEnabled(true);
        SetTextColour(w, palette().color(QPalette::Active, QPalette::WindowText));
    }
    for (QLineEdit* e : {ui->edCode, ui->edNom, ui->edPrenom, ui->edAge})
        SetTextColour(e, palette().color(QPalette::Active, QPalette::WindowText));
}

void TfrmPROT::DisableEdit()
{
    ui->btnFindPatient->setEnabled(false);
    for (QWidget* w : EntryControls()) {
        w->setEnabled(false);
        SetTextColour(w, kGreyText);
    }
}

bool TfrmPROT::LoadProt()
{
    // The row first: a protocol deleted meanwhile leaves the screen as it is.
    if (!NumProt.isEmpty()) {
        FPROT->setDatabaseName(DataPath.toStdString());
        FPROT->open();
        if (!FPROT->locate("NUM", NumProt)) {
            FPROT->close();
            QCoreApplication::processEvents();
            return false;
        }
    }
    ui->edDate_PRT->setDate(QDate::currentDate());
    for (QLineEdit* e : {ui->edCode, ui->edNom, ui->edPrenom, ui->edAge, ui->edClinique, ui->edAide, ui->edAnest})
        e->clear();
    ui->edDiag->clear();
    ui->edInterv->clear();
    ui->edOperateur->setText(PractitionerName);

    ProtFileName = "PROT" + NumProt + ".RTF";
    ui->mmDetail->clear();
    // A protocol not yet posted has no text. A text read only in part is
    // shown as far as it could be read, with a warning.
    krtf::RtfDamage damage = krtf::RtfDamage::Whole;
    if (!NumProt.isEmpty() && QFile::exists(ProtDir + ProtFileName))
        krtf::LoadRtfFile(ProtDir + ProtFileName, *ui->mmDetail->document(), nullptr, &damage);
    if (damage == krtf::RtfDamage::Whole) {
        damageShown_.clear();
    } else if (damageShown_ != ProtFileName) {
        damageShown_ = ProtFileName;
        kui::MsgWarning(DamagedProtocolTextMessage(ProtFileName), this);
    }

    rowWhat_.clear();
    if (!NumProt.isEmpty()) {
        {
            const auto text = [this](const char* field) { return FPROT->fieldByName(field).asString().trimmed(); };
            ui->edDate_PRT->setDate(FPROT->fieldByName("DATE_PRT").asDate());
            ui->edCode->setText(text("CODE"));
            ui->edNom->setText(text("NOM"));
            ui->edPrenom->setText(text("PRENOM"));
            ui->edAge->setText(text("AGE"));
            ui->edClinique->setText(text("CLINIQUE"));
            ui->edOperateur->setText(text("OPERATEUR"));
            ui->edAide->setText(text("AIDE"));
            ui->edAnest->setText(text("ANEST"));
            ui->edDiag->setPlainText(FPROT->fieldByName("DIAG").asString());
            ui->edInterv->setPlainText(FPROT->fieldByName("INTERV").asString());
            const QString patient = (text("NOM") + QLatin1Char(' ') + text("PRENOM")).trimmed();
            rowWhat_ = QStringLiteral("Le protocole n° ") + NumProt +
                (patient.isEmpty() ? QString() : QStringLiteral(" de ") + patient) + QStringLiteral(" du ") +
                FPROT->fieldByName("DATE_PRT").asDate().toString(QStringLiteral("dd/MM/yyyy"));
        }
        FPROT->close();
    }
    QCoreApplication::processEvents();
    return true;
}

bool TfrmPROT::ReloadProt()
{
    return records::ReloadRow([this] { return LoadProt(); }, [this] { return ProtWhat(); }, this);
}

QString TfrmPROT::ProtWhat() const
{
    return rowWhat_.isEmpty() ? QStringLiteral("Le protocole n° ") + NumProt : rowWhat_;
}

void TfrmPROT::UpdateButtons()
{
    const bool e = ProtEditing;
    const auto set = [](QWidget* b, QAction* a, bool on) {
        b->setEnabled(on);
        a->setEnabled(on);
    };
    set(ui->btnNew, mnNew, !e);
    set(ui->btnEdit, mnModif, !e && !ui->edClinique->text().isEmpty());
    set(ui->btnPost, mnPost, e);
    set(ui->btnCancel, mnCancel, e);
    set(ui->btnPrint, mnPrint, !e);
    set(ui->btnModifDesc, mnModifDesc, !e);
}

void TfrmPROT::btnNewClick()
{
    EnableEdit();
    NumProt.clear();
    LoadProt();
    NoteEditorValues();
    // The patient is chosen in the picker: whatever patient another screen
    // left current is never taken without it.
    btnFindPatientClick();
    ProtEditing = true;
    UpdateButtons();
    ui->edDate_PRT->setFocus();
}

void TfrmPROT::btnEditClick()
{
    if (!ReloadProt())
        return;  // deleted meanwhile: nothing to change
    NoteEditorValues();
    EnableEdit();
    ProtEditing = true;
    UpdateButtons();
    ui->edClinique->setFocus();
}

void TfrmPROT::btnCancelClick()
{
    // What was typed is dropped only once the user said so.
    if (ProtEditing && Typed() && !records::ConfirmDiscard(this))
        return;
    if (NumProt.isEmpty()) {
        closing_ = true;
        QDialog::reject();
        return;
    }
    CancelEdit();
}

void TfrmPROT::CancelEdit()
{
    ReloadProt();  // deleted meanwhile: said so, the text stays on the screen
    DisableEdit();
    ProtEditing = false;
    UpdateButtons();
}

QStringList TfrmPROT::EditorValues() const
{
    QStringList values{ui->edDate_PRT->date().toString(Qt::ISODate), ui->edDiag->toPlainText().trimmed(),
        ui->edInterv->toPlainText().trimmed()};
    for (const QLineEdit* e : {ui->edClinique, ui->edOperateur, ui->edAide, ui->edAnest, ui->edCode, ui->edNom,
             ui->edPrenom, ui->edAge})
        values << e->text().trimmed();
    return values;
}

void TfrmPROT::NoteEditorValues()
{
    typedFrom_ = EditorValues();
}

bool TfrmPROT::Typed() const
{
    return EditorValues() != typedFrom_;
}

void TfrmPROT::btnFindPatientClick()
{
    if (RunPatientPicker) {
        RunPatientPicker(context_, this);
    } else {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    PatientHandOff();
}

void TfrmPROT::PatientHandOff()
{
    if (!Patient->active() || CurrentPatientCode.isEmpty() || !Patient->locate("CODE", CurrentPatientCode))
        return;
    ui->edCode->setText(Patient->fieldByName("CODE").asString().trimmed());
    ui->edNom->setText(Patient->fieldByName("NOM").asString().trimmed());
    ui->edPrenom->setText(Patient->fieldByName("PRENOM").asString().trimmed());
    ui->edAge->setText(
        AgeText(Patient->fieldByName("DN").asString(), Patient->fieldByName("AGE").asString().trimmed()));
}

bool TfrmPROT::btnPostClick()
{
    // Validation, field after field, on the trimmed texts.
    struct Check {
        QWidget* control;
        const char* message;
        bool focus;
    };
    ui->edDiag->setPlainText(ui->edDiag->toPlainText().trimmed());
    ui->edInterv->setPlainText(ui->edInterv->toPlainText().trimmed());
    for (QLineEdit* e :
        {ui->edClinique, ui->edOperateur, ui->edAnest, ui->edNom, ui->edPrenom, ui->edAge, ui->edAide, ui->edCode})
        e->setText(e->text().trimmed());
    const Check checks[] = {
        {ui->edClinique, "La Clinique est manquante !", true},
        {ui->edOperateur, "L'Opérateur est manquant !", true},
        {ui->edAnest, "L'anésthesiste est manquant !", true},
        {ui->edDiag, "Le Diagnostic est manquant !", true},
        {ui->edInterv, "L'Intervention est manquante !", true},
        {ui->edNom, "Le Nom est manquant !", false},
        {ui->edPrenom, "Le Prénom est manquant !", false},
        {ui->edAge, "L'Age est manquant !", false},
    };
    for (const Check& c : checks) {
        const auto* line = qobject_cast<QLineEdit*>(c.control);
        const QString text = line ? line->text() : static_cast<QTextEdit*>(c.control)->toPlainText();
        if (text.isEmpty()) {
            ShowError(QString::fromUtf8(c.message));
            if (c.focus)
                c.control->setFocus();
            return false;
        }
    }

    QString patientGone;
    try {
        const bool allocated = NumProt.trimmed().isEmpty();
        if (allocated)
            NumProt = NextCode("FPROT", DataPath, "NUM", 6);
        try {
            if (allocated)
                SetAsideLeftoverText(NumProt);
            FPROT->setDatabaseName(DataPath.toStdString());
            if (!records::StartRowWrite(*FPROT, "NUM", NumProt, allocated))
                throw EDBEngineError::recordDeleted("FPROT.DBF", "protocol " + NumProt.toStdString());
            // The patient a protocol is given stays in its table until the
            // protocol is written; one deleted on another workstation takes
            // none. (A protocol keeps its patient's name: one whose patient
            // left the patient file earlier is still changed.)
            const QString code = Cut(ui->edCode->text(), 10);
            std::optional<records::PatientHold> patient;
            if (allocated || FPROT->fieldByName("CODE").asString().trimmed() != code.trimmed())
                patient.emplace(code);
            if (patient && !patient->Present()) {
                patientGone = patient->GoneText();
                throw EDBEngineError::recordDeleted("PATIENT.DBF", "patient " + code.toStdString());
            }
            FPROT->fieldByName("NUM").setAsString(NumProt);
            FPROT->fieldByName("DATE_PRT").setAsDate(ui->edDate_PRT->date());
            FPROT->fieldByName("CODE").setAsString(code);
            FPROT->fieldByName("NOM").setAsString(Cut(ui->edNom->text(), 30));
            FPROT->fieldByName("PRENOM").setAsString(Cut(ui->edPrenom->text(), 30));
            FPROT->fieldByName("AGE").setAsString(Cut(ui->edAge->text(), 3));
            FPROT->fieldByName("CLINIQUE").setAsString(Cut(ui->edClinique->text(), kCliniqueWidth));
            FPROT->fieldByName("OPERATEUR").setAsString(Cut(ui->edOperateur->text(), kPractitionerWidth));
            FPROT->fieldByName("AIDE").setAsString(Cut(ui->edAide->text(), kPractitionerWidth));
            FPROT->fieldByName("ANEST").setAsString(Cut(ui->edAnest->text(), kPractitionerWidth));
            FPROT->fieldByName("DIAG").setAsString(ui->edDiag->toPlainText());
            FPROT->fieldByName("INTERV").setAsString(ui->edInterv->toPlainText());
            FPROT->post();
            FPROT->close();
        } catch (...) {
            if (FPROT->active()) {
                if (FPROT->state() != kdb::DatasetState::Browse)
                    FPROT->cancel();
                FPROT->close();
            }
            if (allocated) {
                ReleaseCodeAllocation();
                NumProt.clear();
            }
            throw;
        }
        if (allocated)
            ReleaseCodeAllocation();
    } catch (const std::exception& e) {
        if (!patientGone.isEmpty())
            records::WarnElsewhere(patientGone, this);
        else if (records::IsRecordDeleted(e))  // deleted on another workstation: nothing written, the text stays
            records::WarnElsewhere(records::DeletedElsewhereText(ProtWhat(), false) + records::NotSavedNote(), this);
        else
            kui::TApplication::HandleException(e);
        return false;
    }
    LoadProt();
    DisableEdit();
    ProtEditing = false;
    UpdateButtons();
    QCoreApplication::processEvents();
    return true;
}

void TfrmPROT::btnModifDescClick()
{
    if (NumProt.isEmpty() || !ReloadProt())
        return;  // no text is written for a protocol deleted meanwhile
    {
        TfrmProtText editor(context_, this);
        editor.FileName = "PROT" + NumProt + ".RTF";
        editor.exec();
    }
    LoadProt();
}

void TfrmPROT::btnPrintClick()
{
    PrintProtocol(context_, NumProt);
}

void TfrmPROT::mnCloseClick()
{
    close();
}

void TfrmPROT::closeEvent(QCloseEvent* event)
{
    records::CloseEntryScreen(
        this, event, closing_, ui->btnPost->isEnabled(), [this] { return btnPostClick(); },
        [this] {
            if (!NumProt.isEmpty())
                CancelEdit();
        },
        [this] { Patient->close(); }, [this](QCloseEvent* e) { QDialog::closeEvent(e); });
}

void TfrmPROT::keyPressEvent(QKeyEvent* event)
{
    if (!records::EntryScreenKey(this, event, ui->btnPost->isEnabled(), [this] { btnCancelClick(); }))
        QDialog::keyPressEvent(event);
}

bool TfrmPROT::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
