#include "UExComp.h"
#include "ui_UExComp.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UTable.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QShowEvent>

namespace {

constexpr int kResultWidth = 100;

void SetTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::ButtonText, colour);
    p.setColor(QPalette::Disabled, QPalette::Text, colour);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, colour);
    w->setPalette(p);
}

}  // namespace

TfrmExComp::TfrmExComp(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmExComp), qExamen(new kdb::QueryDataset(this))
{
    ui->setupUi(this);
    // A single border: the size of its variant, set when it is shown, stays.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont heading = ui->lExamen->font();
    heading.setBold(true);
    heading.setUnderline(true);
    ui->lExamen->setFont(heading);
    QPalette hp = ui->lExamen->palette();
    hp.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    ui->lExamen->setPalette(hp);
    ui->btnNew->setIcon(kui::ThemeIcon("document-new", QStyle::SP_FileIcon));
    ui->btnEdit->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));
    ui->btnPost->setIcon(kui::ThemeIcon("document-save", QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(kui::ThemeIcon("edit-undo", QStyle::SP_DialogCancelButton));
    ui->cmbExamen->setListSource(qExamen, "CODE", "LIBELLE");
    // The result takes no more than RESULTAT holds.
    kui::SetPlainTextMaxLength(ui->mmResultat, kResultWidth);
    kui::SetCodePage(ui->mmResultat, records::TableCodePage(DataPath, QStringLiteral("EXCOMP.DBF")));

    PopMenu_ = new QMenu(this);
    mnNew = PopMenu_->addAction("Nouveau ", this, &TfrmExComp::btnNewClick);
    mnEdit = PopMenu_->addAction("Modifier les informations", this, &TfrmExComp::btnEditClick);
    mnPost = PopMenu_->addAction("Enregistrer", this, [this] { btnPostClick(); });
    mnCancel = PopMenu_->addAction("Annuler", this, &TfrmExComp::btnCancelClick);
    PopMenu_->addSeparator();
    mnClose = PopMenu_->addAction("Fermer", this, &TfrmExComp::mnCloseClick);

    connect(ui->btnNew, &QToolButton::clicked, this, &TfrmExComp::btnNewClick);
    connect(ui->btnEdit, &QToolButton::clicked, this, &TfrmExComp::btnEditClick);
    connect(ui->btnPost, &QToolButton::clicked, this, [this] { btnPostClick(); });
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmExComp::btnCancelClick);
    connect(ui->btnRadioBio, &QPushButton::clicked, this, &TfrmExComp::btnRadioBioClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmExComp::mnCloseClick);
}

TfrmExComp::~TfrmExComp()
{
    delete ui;
}

TDcLabel* TfrmExComp::lPatient() const
{
    return ui->lPatient;
}
QLabel* TfrmExComp::lExamen() const
{
    return ui->lExamen;
}
QDateEdit* TfrmExComp::edDate() const
{
    return ui->edDate;
}
kui::DataLookupComboBox* TfrmExComp::cmbExamen() const
{
    return ui->cmbExamen;
}
QPlainTextEdit* TfrmExComp::mmResultat() const
{
    return ui->mmResultat;
}
QToolButton* TfrmExComp::btnNew() const
{
    return ui->btnNew;
}
QToolButton* TfrmExComp::btnEdit() const
{
    return ui->btnEdit;
}
QToolButton* TfrmExComp::btnPost() const
{
    return ui->btnPost;
}
QToolButton* TfrmExComp::btnCancel() const
{
    return ui->btnCancel;
}
QPushButton* TfrmExComp::btnRadioBio() const
{
    return ui->btnRadioBio;
}
QPushButton* TfrmExComp::btnClose() const
{
    return ui->btnClose;
}

void TfrmExComp::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmExComp::OpenExamList()
{
    qExamen->close();
    qExamen->setDatabaseName(DataPath.toStdString());
    qExamen->setSql(
        RadioBio == "B" ? "SELECT * FROM FBIO.DBF ORDER BY LIBELLE" : "SELECT * FROM FRADIO.DBF ORDER BY LIBELLE");
    qExamen->open();
}

void TfrmExComp::FormShow()
{
    closing_ = false;
    const bool bio = RadioBio == "B";
    ui->lExamen->setText(bio ? QString::fromUtf8("Examens complémentaires Biologiques")
                             : QString::fromUtf8("Examens complémentaires Radiologiques"));
    ui->btnRadioBio->setText(bio ? "Ex. Bio." : "Ex. Radio.");
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    ui->mmResultat->setFixedHeight(bio ? 21 + 8 : 90);
    resize(width(), bio ? 265 : 335);
    setFixedSize(size());
    kui::CentreOnScreen(this);  // at the variant's size
    bool found = true;
    records::Guarded([&] {
        OpenExamList();
        found = LoadExam(Num);
    });
    if (!found) {
        // Deleted on another workstation since the list showed it: nothing
        // to change, and nothing is recreated.
        ExCompEditing = false;
        DisableEditors();
        UpdateButtons();
        closing_ = true;
        records::CloseOnDeleted(this, ExamWhat());
        return;
    }
    ExCompEditing = true;
    UpdateButtons();
    EnableEditors();
    NoteEditorValues();
    if (!Num.isEmpty())
        ui->mmResultat->setFocus();
    else
        ui->edDate->setFocus();
}

bool TfrmExComp::LoadExam(const QString& num)
{
    bool found = true;
    if (num.isEmpty()) {
        ui->edDate->setDate(QDate::currentDate());
        ui->cmbExamen->setKeyValue(QVariant());
        ui->mmResultat->clear();
        rowWhat_.clear();
    } else {
        kdb::TableDataset FExComp;
        FExComp.setDatabaseName(DataPath.toStdString());
        FExComp.setTableName("EXCOMP.DBF");
        FExComp.open();
        found = FExComp.locate("NUM", num);
        if (found) {
            const QDate day = FExComp.fieldByName("DATE_EX").asDate();
            ui->edDate->setDate(day);
            ui->cmbExamen->setKeyValue(FExComp.fieldByName("CODE").asString());
            ui->mmResultat->setPlainText(FExComp.fieldByName("RESULTAT").asString().trimmed());
            const QString label = ui->cmbExamen->currentText().trimmed();
            const QString patient = records::PatientName(FExComp.fieldByName("PATIENT").asString());
            rowWhat_ = QStringLiteral("L'examen ") + (label.isEmpty() ? num : label) +
                (patient.isEmpty() ? QString() : QStringLiteral(" de ") + patient) + QStringLiteral(" du ") +
                day.toString(QStringLiteral("dd/MM/yyyy"));
        }
        FExComp.close();
    }
    QCoreApplication::processEvents();
    return found;
}

bool TfrmExComp::ReloadExam()
{
    return records::ReloadRow([this] { return LoadExam(Num); }, [this] { return ExamWhat(); }, this);
}

QString TfrmExComp::ExamWhat() const
{
    return rowWhat_.isEmpty() ? QStringLiteral("L'examen n° ") + Num : rowWhat_;
}

void TfrmExComp::SetEditors(bool on)
{
    const QColor colour = on ? palette().color(QPalette::Active, QPalette::WindowText) : QColor(0x80, 0x80, 0x80);
    for (QWidget* w : {static_cast<QWidget*>(ui->edDate), static_cast<QWidget*>(ui->cmbExamen),
             static_cast<QWidget*>(ui->mmResultat)}) {
        w->setEnabled(on);
        SetTextColour(w, colour);
    }
}

void TfrmExComp::EnableEditors()
{
    SetEditors(true);
}

void TfrmExComp::DisableEditors()
{
    SetEditors(false);
}

void TfrmExComp::UpdateButtons()
{
    const bool e = ExCompEditing;
    const bool r = !ui->mmResultat->toPlainText().isEmpty();
    ui->btnNew->setEnabled(!e);
    mnNew->setEnabled(!e);
    ui->btnEdit->setEnabled(!e && r);
    mnEdit->setEnabled(!e && r);
    for (QWidget* w : {ui->btnPost, ui->btnCancel})
        w->setEnabled(e);
    mnPost->setEnabled(e);
    mnCancel->setEnabled(e);
}

void TfrmExComp::btnNewClick()
{
    Num.clear();
    records::Guarded([this] { LoadExam({}); });
    EnableEditors();
    ExCompEditing = true;
    UpdateButtons();
    NoteEditorValues();
    ui->edDate->setFocus();
}

void TfrmExComp::btnEditClick()
{
    if (!ReloadExam())
        return;  // deleted meanwhile: nothing to change
    EnableEditors();
    ExCompEditing = true;
    UpdateButtons();
    NoteEditorValues();
    ui->cmbExamen->setFocus();
}

bool TfrmExComp::ExamExists(const QString& patient, const QDate& date, const QString& code, const QString& kind)
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql("SELECT * FROM EXCOMP WHERE PATIENT=:PATIENT AND       DATE_EX=:DATE_EX AND       CODE=:CODE AND "
             "      RADIOBIO=:RADIOBIO ");
    q.setParamText("PATIENT", patient);
    q.setParamDate("DATE_EX", date);
    q.setParamText("CODE", code);
    q.setParamText("RADIOBIO", kind);
    q.open();
    return !q.isEmpty();
}

bool TfrmExComp::btnPostClick()
{
    const QVariant key = ui->cmbExamen->keyValue();
    if (!key.isValid() || key.isNull()) {
        ShowError(QString::fromUtf8("L'Examen complémentaire est manquant !"));
        ui->cmbExamen->setFocus();
        return false;
    }
    const QString code = key.toString().trimmed();
    ui->mmResultat->setPlainText(ui->mmResultat->toPlainText().trimmed());
    if (ui->mmResultat->toPlainText().isEmpty()) {
        ShowError(QString::fromUtf8("Le résultat de l'examen est manquant !"));
        ui->mmResultat->setFocus();
        return false;
    }
    bool written = false;
    bool duplicate = false;
    bool gone = false;
    QString patientGone;
    records::Guarded([&] {
        const bool allocated = Num.trimmed().isEmpty();
        // A new exam: its number is taken first, so that the lock also
        // covers the check that the exam is not there already.
        if (allocated)
            Num = NextCode("EXCOMP", DataPath, "NUM", 6);
        try {
            if (allocated && ExamExists(Patient, ui->edDate->date(), code, RadioBio)) {
                duplicate = true;
                ReleaseCodeAllocation();
                Num.clear();
                return;
            }
            // The patient stays in its table until the exam is written; one
            // deleted on another workstation takes none.
            const records::PatientHold patient(Patient);
            if (!patient.Present()) {
                patientGone = patient.GoneText();
                if (allocated) {
                    ReleaseCodeAllocation();
                    Num.clear();
                }
                return;
            }
            kdb::TableDataset FExComp;
            FExComp.setDatabaseName(DataPath.toStdString());
            FExComp.setTableName("EXCOMP.DBF");
            FExComp.setFlushOnPost(true);
            if (!records::StartRowWrite(FExComp, "NUM", Num, allocated)) {
                gone = true;  // deleted on another workstation: nothing is written
                return;
            }
            try {
                FExComp.fieldByName("NUM").setAsString(Num);
                FExComp.fieldByName("PATIENT").setAsString(Patient);
                FExComp.fieldByName("DATE_EX").setAsDate(ui->edDate->date());
                FExComp.fieldByName("CODE").setAsString(code);
                FExComp.fieldByName("RADIOBIO").setAsString(RadioBio);
                FExComp.fieldByName("RESULTAT").setAsString(ui->mmResultat->toPlainText().left(kResultWidth));
                FExComp.post();
            } catch (const std::exception& e) {
                FExComp.cancel();
                if (!records::IsRecordDeleted(e))
                    throw;
                gone = true;
                return;
            }
            FExComp.close();
        } catch (...) {
            if (allocated) {
                ReleaseCodeAllocation();
                Num.clear();
            }
            throw;
        }
        if (allocated)
            ReleaseCodeAllocation();
        written = true;
    });
    if (duplicate) {
        ShowError(QString::fromUtf8("Cet examen a déjà été saisi !\rVeuillez vérifier S.V.P."));
        ui->cmbExamen->setFocus();
        return false;
    }
    if (gone) {
        records::WarnElsewhere(records::DeletedElsewhereText(ExamWhat(), false) + records::NotSavedNote(), this);
        return false;
    }
    if (!patientGone.isEmpty()) {
        records::WarnElsewhere(patientGone, this);
        return false;
    }
    if (!written)
        return false;
    records::Guarded([this] { LoadExam(Num); });
    DisableEditors();
    ExCompEditing = false;
    UpdateButtons();
    QCoreApplication::processEvents();
    return true;
}

void TfrmExComp::btnCancelClick()
{
    // A new exam: the close guard asks what becomes of it.
    if (Num.isEmpty()) {
        close();
        return;
    }
    if (ExCompEditing && Typed() && !records::ConfirmDiscard(this))
        return;
    CancelEdit();
}

void TfrmExComp::CancelEdit()
{
    ReloadExam();  // deleted meanwhile: said so, the text stays on the screen
    DisableEditors();
    ExCompEditing = false;
    UpdateButtons();
}

QStringList TfrmExComp::EditorValues() const
{
    return {ui->edDate->date().toString(Qt::ISODate), ui->cmbExamen->keyValue().toString(),
        ui->mmResultat->toPlainText().trimmed()};
}

void TfrmExComp::NoteEditorValues()
{
    typedFrom_ = EditorValues();
}

bool TfrmExComp::Typed() const
{
    return EditorValues() != typedFrom_;
}

void TfrmExComp::btnRadioBioClick()
{
    {
        TfrmTable frm(context_, this);
        const bool bio = RadioBio == "B";
        frm.TableName = bio ? "FBIO" : "FRADIO";
        frm.Title = bio ? "Examens Biologiques" : "Examens Radiologiques";
        frm.DatabaseName = DataPath;
        frm.CodeLength = 3;
        frm.exec();
    }
    const QVariant key = ui->cmbExamen->keyValue();
    records::Guarded([this] { OpenExamList(); });
    ui->cmbExamen->setKeyValue(key);
}

void TfrmExComp::mnCloseClick()
{
    close();
}

void TfrmExComp::closeEvent(QCloseEvent* event)
{
    records::CloseEntryScreen(
        this, event, closing_, ui->btnPost->isEnabled(), [this] { return btnPostClick(); },
        [this] {
            if (!Num.isEmpty())
                CancelEdit();
        },
        [this] { qExamen->close(); }, [this](QCloseEvent* e) { QDialog::closeEvent(e); });
}

void TfrmExComp::keyPressEvent(QKeyEvent* event)
{
    if (!records::EntryScreenKey(this, event, ui->btnPost->isEnabled(), [this] { btnCancelClick(); }))
        QDialog::keyPressEvent(event);
}

void TfrmExComp::contextMenuEvent(QContextMenuEvent* event)
{
    PopMenu_->popup(event->globalPos());
}
