#include "URDV.h"
#include "ui_URDV.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UGetPatient.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QShowEvent>

namespace {

const QColor kGreyText(0x80, 0x80, 0x80);

void SetTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::Disabled, QPalette::Text, colour);
    w->setPalette(p);
}

// A time alone: blanks before each number, an optional AM/PM marker before
// or after.
bool ReadTimePart(const QString& text, QTime& time)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(?:(AM|PM)\\s*)?(\\d+)(?:\\s*:\\s*(\\d+)(?:\\s*:\\s*(\\d+)(?:\\s*\\.\\s*(\\d+))?)?)?"
                       "\\s*(AM|PM)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(text);
    if (!m.hasMatch() || (m.capturedLength(1) > 0 && m.capturedLength(6) > 0))
        return false;
    const auto number = [&m](int i) { return m.capturedLength(i) > 0 ? m.captured(i).toLongLong() : 0LL; };
    qint64 h = number(2);
    const qint64 min = number(3), s = number(4), ms = number(5);
    const QString marker = (m.captured(1) + m.captured(6)).toUpper();
    if (!marker.isEmpty()) {
        if (h < 1 || h > 12)
            return false;
        h = h % 12 + (marker == QLatin1String("PM") ? 12 : 0);
    }
    if (h > 23 || min > 59 || s > 59 || ms > 999)
        return false;
    time = QTime(int(h), int(min), int(s), int(ms));
    return time.isValid();
}

}  // namespace

bool ReadTimeOfDay(const QString& text, QTime& time)
{
    static const QRegularExpression date(
        QStringLiteral("^\\s*(\\d+)\\s*/\\s*(\\d+)(?:\\s*/\\s*(\\d+))?(?:\\s+(.*))?$"));
    const auto m = date.match(text);
    if (!m.hasMatch())
        return ReadTimePart(text, time);
    int year = QDate::currentDate().year();
    if (m.capturedLength(3) > 0) {
        year = m.captured(3).toInt();
        if (m.capturedLength(3) <= 2)
            year += QDate::currentDate().year() / 100 * 100;
    }
    if (!QDate(year, m.captured(2).toInt(), m.captured(1).toInt()).isValid())
        return false;
    if (m.captured(4).trimmed().isEmpty()) {
        time = QTime(0, 0);
        return true;
    }
    return ReadTimePart(m.captured(4), time);
}

TfrmRDV::TfrmRDV(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmRDV), Patient(new kdb::QueryDataset(this)),
      FRDV(new kdb::TableDataset(this))
{
    ui->setupUi(this);
    kui::CentreOnScreenWhenShown(this);
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowTitleHint |
        Qt::WindowCloseButtonHint);
    Patient->setSql("SELECT * FROM PATIENT");
    FRDV->setTableName("FRDV.DBF");
    FRDV->setFlushOnPost(true);

    QFont heading = ui->lTitle->font();
    heading.setBold(true);
    heading.setUnderline(true);
    heading.setPointSize(heading.pointSize() + 4);
    ui->lTitle->setFont(heading);
    QPalette navy = ui->lTitle->palette();
    navy.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    ui->lTitle->setPalette(navy);

    QPalette grey = ui->edCode->palette();
    grey.setColor(QPalette::Base, records::ReadOnlyGrey);
    ui->edCode->setPalette(grey);

    ui->btnNew->setIcon(kui::ThemeIcon("document-new", QStyle::SP_FileIcon));
    ui->btnEdit->setIcon(kui::ThemeIcon("document-edit", QStyle::SP_FileDialogDetailedView));
    ui->btnPost->setIcon(kui::ThemeIcon("document-save", QStyle::SP_DialogSaveButton));
    ui->btnCancel->setIcon(kui::ThemeIcon("edit-undo", QStyle::SP_DialogCancelButton));
    for (QToolButton* b : {ui->btnNew, ui->btnEdit, ui->btnPost, ui->btnCancel})
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    for (QWidget* w : {static_cast<QWidget*>(ui->edCode), static_cast<QWidget*>(ui->edDate),
             static_cast<QWidget*>(ui->edHre), static_cast<QWidget*>(ui->edMotif)})
        w->installEventFilter(this);

    connect(ui->btnNew, &QToolButton::clicked, this, &TfrmRDV::btnNewClick);
    connect(ui->btnEdit, &QToolButton::clicked, this, &TfrmRDV::btnEditClick);
    connect(ui->btnPost, &QToolButton::clicked, this, [this] { btnPostClick(); });
    connect(ui->btnCancel, &QToolButton::clicked, this, &TfrmRDV::btnCancelClick);
    connect(ui->btnFindPatient, &QToolButton::clicked, this, &TfrmRDV::btnFindPatientClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->edMotif, &QLineEdit::textChanged, this, &TfrmRDV::UpdateButtons);
    // The reason takes only the letters its table holds.
    kui::SetCodePage(ui->edMotif, records::TableCodePage(DataPath, QStringLiteral("FRDV.DBF")));
    // A single border, at a size that shows every caption whole.
    kui::SetFixedBorder(this);
}

TfrmRDV::~TfrmRDV()
{
    delete ui;
}

TDcLabel* TfrmRDV::lPatient() const
{
    return ui->lPatient;
}
QLineEdit* TfrmRDV::edCode() const
{
    return ui->edCode;
}
QDateEdit* TfrmRDV::edDate() const
{
    return ui->edDate;
}
QLineEdit* TfrmRDV::edHre() const
{
    return ui->edHre;
}
QLineEdit* TfrmRDV::edMotif() const
{
    return ui->edMotif;
}
QToolButton* TfrmRDV::btnFindPatient() const
{
    return ui->btnFindPatient;
}
QToolButton* TfrmRDV::btnNew() const
{
    return ui->btnNew;
}
QToolButton* TfrmRDV::btnEdit() const
{
    return ui->btnEdit;
}
QToolButton* TfrmRDV::btnPost() const
{
    return ui->btnPost;
}
QToolButton* TfrmRDV::btnCancel() const
{
    return ui->btnCancel;
}
QPushButton* TfrmRDV::btnClose() const
{
    return ui->btnClose;
}

void TfrmRDV::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmRDV::FormShow()
{
    closing_ = false;
    try {
        Patient->close();
        Patient->setDatabaseName(DataPath.toStdString());
        Patient->open();
        FRDV->setDatabaseName(DataPath.toStdString());
        if (!LoadRdv(NumRDV)) {
            // Deleted on another workstation since the list showed it:
            // nothing to change, and nothing is recreated.
            RdvEditing = false;
            DisableEdit();
            UpdateButtons();
            closing_ = true;
            records::CloseOnDeleted(this, RdvWhat());
            return;
        }
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
    }
    RdvEditing = true;
    UpdateButtons();
    EnableEdit();
    ui->edCode->setText(CodePatient);
    if (!CodePatient.isEmpty())
        ShowPatient(CodePatient);
    NoteEditorValues();
    if (!NumRDV.isEmpty())
        ui->edHre->setFocus();
    else
        btnFindPatientClick();
}

bool TfrmRDV::LoadRdv(const QString& num)
{
    bool found = true;
    if (num.isEmpty()) {
        ui->edDate->setDate(QDate::currentDate());
        ui->edHre->setText(QStringLiteral("09:00"));
        ui->edMotif->clear();
        rowWhat_.clear();
    } else {
        FRDV->setDatabaseName(DataPath.toStdString());
        FRDV->open();
        found = FRDV->locate("NUM", num);
        if (found) {
            const QDate day = FRDV->fieldByName("DATE_RDV").asDate();
            const QString time = FRDV->fieldByName("HRE_RDV").asString().trimmed();
            ui->edDate->setDate(day);
            ui->edHre->setText(time);
            ui->edMotif->setText(FRDV->fieldByName("MOTIF").asString().trimmed());
            const QString patient = records::PatientName(FRDV->fieldByName("PATIENT").asString());
            rowWhat_ = QStringLiteral("Le rendez-vous ") +
                (patient.isEmpty() ? QString() : QStringLiteral("de ") + patient + QLatin1Char(' ')) +
                QStringLiteral("du ") + day.toString(QStringLiteral("dd/MM/yyyy")) + QStringLiteral(" à ") + time;
        }
        FRDV->close();
    }
    QCoreApplication::processEvents();
    return found;
}

bool TfrmRDV::ReloadRdv()
{
    return records::ReloadRow([this] { return LoadRdv(NumRDV); }, [this] { return RdvWhat(); }, this);
}

QString TfrmRDV::RdvWhat() const
{
    return rowWhat_.isEmpty() ? QStringLiteral("Le rendez-vous n° ") + NumRDV : rowWhat_;
}

void TfrmRDV::ShowPatient(const QString& code)
{
    ui->lPatient->setText(QString());
    if (!Patient->active() || !Patient->locate("CODE", code))
        return;
    const auto text = [this](const char* field) { return Patient->fieldByName(field).asString().trimmed(); };
    // The age in years from the birth date when it reads as a date, else
    // the stored age.
    const QDate born = records::ReadDate(text("DN"));
    const QString age = born.isValid() ? QString::number(QDate::currentDate().year() - born.year()) : text("AGE");
    ui->lPatient->setText(text("CODE") + " - " + text("NOM") + ", " + age);
}

void TfrmRDV::EnableEdit()
{
    ui->btnFindPatient->setEnabled(true);
    for (QWidget* w :
        {static_cast<QWidget*>(ui->edDate), static_cast<QWidget*>(ui->edHre), static_cast<QWidget*>(ui->edMotif)}) {
        w->setEnabled(true);
        SetTextColour(w, palette().color(QPalette::Active, QPalette::WindowText));
    }
}

void TfrmRDV::DisableEdit()
{
    ui->btnFindPatient->setEnabled(false);
    for (QWidget* w :
        {static_cast<QWidget*>(ui->edDate), static_cast<QWidget*>(ui->edHre), static_cast<QWidget*>(ui->edMotif)}) {
        w->setEnabled(false);
        SetTextColour(w, kGreyText);
    }
}

void TfrmRDV::UpdateButtons()
{
    const bool e = RdvEditing;
    ui->btnNew->setEnabled(!e);
    ui->btnEdit->setEnabled(!e && !ui->edMotif->text().isEmpty());
    ui->btnPost->setEnabled(e);
    ui->btnCancel->setEnabled(e);
}

void TfrmRDV::btnFindPatientClick()
{
    CurrentPatientCode.clear();
    {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    ui->edCode->setText(CurrentPatientCode);
    if (!CurrentPatientCode.isEmpty())
        ShowPatient(CurrentPatientCode);
    ui->edDate->setFocus();
}

void TfrmRDV::btnNewClick()
{
    EnableEdit();
    NumRDV.clear();
    records::Guarded([this] { LoadRdv({}); });
    NoteEditorValues();
    btnFindPatientClick();
    RdvEditing = true;
    UpdateButtons();
    ui->edDate->setFocus();
}

void TfrmRDV::btnEditClick()
{
    if (!ReloadRdv())
        return;  // deleted meanwhile: nothing to change
    EnableEdit();
    RdvEditing = true;
    UpdateButtons();
    NoteEditorValues();
    ui->edHre->setFocus();
}

void TfrmRDV::btnCancelClick()
{
    // A new appointment: the close guard asks what becomes of it.
    if (NumRDV.isEmpty()) {
        close();
        return;
    }
    if (RdvEditing && Typed() && !records::ConfirmDiscard(this))
        return;
    CancelEdit();
}

void TfrmRDV::CancelEdit()
{
    ReloadRdv();  // deleted meanwhile: said so, the text stays on the screen
    DisableEdit();
    RdvEditing = false;
    UpdateButtons();
}

QStringList TfrmRDV::EditorValues() const
{
    return {ui->edCode->text().trimmed(), ui->edDate->date().toString(Qt::ISODate), ui->edHre->text().trimmed(),
        ui->edMotif->text().trimmed()};
}

void TfrmRDV::NoteEditorValues()
{
    typedFrom_ = EditorValues();
}

bool TfrmRDV::Typed() const
{
    return EditorValues() != typedFrom_;
}

bool TfrmRDV::RdvExists(const QString& num, const QString& dateText, const QString& timeText)
{
    kdb::QueryDataset query;
    query.setDatabaseName(DataPath.toStdString());
    query.setSql(QStringLiteral("SELECT * FROM FRDV WHERE NUM<>'") + num + "' AND " + "      DATE_RDV='" + dateText +
        "' AND " + "      HRE_RDV='" + timeText + "' ");
    query.open();
    return !query.isEmpty();
}

bool TfrmRDV::WriteRdv(const QString& code, bool isNew, QString* patientGone)
{
    FRDV->setDatabaseName(DataPath.toStdString());
    // The patient stays in its table until the appointment is written; one
    // deleted on another workstation takes none.
    const records::PatientHold patient(code);
    if (!patient.Present()) {
        *patientGone = patient.GoneText();
        return false;
    }
    try {
        if (!records::StartRowWrite(*FRDV, "NUM", NumRDV, isNew)) {
            FRDV->close();
            return false;
        }
        FRDV->fieldByName("NUM").setAsString(NumRDV);
        FRDV->fieldByName("PATIENT").setAsString(code);
        FRDV->fieldByName("DATE_RDV").setAsDate(ui->edDate->date());
        FRDV->fieldByName("HRE_RDV").setAsString(ui->edHre->text());
        FRDV->fieldByName("MOTIF").setAsString(ui->edMotif->text());
        FRDV->post();
    } catch (const std::exception& e) {
        if (FRDV->state() != kdb::DatasetState::Browse)
            FRDV->cancel();
        FRDV->close();
        if (records::IsRecordDeleted(e))
            return false;
        throw;
    }
    FRDV->close();
    return true;
}

bool TfrmRDV::btnPostClick()
{
    const QString patient = ui->edCode->text().trimmed();
    ui->edCode->setText(patient);
    if (patient.isEmpty()) {
        ShowError(QStringLiteral("Le patient est manquant !"));
        ui->edCode->setFocus();
        return false;
    }
    QTime time;
    if (!ReadTimeOfDay(ui->edHre->text().trimmed(), time)) {
        ShowError(QStringLiteral("L'Heure du Rendez-vous est incorrecte !"));
        ui->edHre->setFocus();
        return false;
    }
    ui->edHre->setText(time.toString(QStringLiteral("hh:mm")));
    ui->edMotif->setText(ui->edMotif->text().trimmed());
    if (ui->edMotif->text().isEmpty()) {
        ShowError(QStringLiteral("Le motif du rendez-vous est manquant !"));
        ui->edMotif->setFocus();
        return false;
    }

    // The slot is checked and the row written under the table's allocation
    // lock: another workstation booking the same slot meanwhile waits, then
    // finds this appointment.
    bool taken = false;
    bool gone = false;
    QString patientGone;
    try {
        const bool isNew = NumRDV.trimmed().isEmpty();
        QString num = NumRDV;
        if (isNew)
            num = NextCode(QStringLiteral("FRDV"), DataPath, QStringLiteral("NUM"), 6);
        else
            TakeCodeAllocation(QStringLiteral("FRDV"), DataPath);
        try {
            taken = RdvExists(NumRDV, DateToSqlString(ui->edDate->date()), ui->edHre->text());
            if (!taken) {
                NumRDV = num;
                gone = !WriteRdv(patient, isNew, &patientGone);
                if (gone && isNew)
                    NumRDV.clear();  // still a new appointment
            }
        } catch (...) {
            ReleaseCodeAllocation();
            if (isNew)
                NumRDV.clear();
            throw;
        }
        ReleaseCodeAllocation();
    } catch (const std::exception& e) {
        kui::TApplication::HandleException(e);
        return false;
    }
    if (taken) {
        ShowError(QString::fromUtf8("Ce rendez-vous a déjà été pris !\rVeuillez vérifier S.V.P."));
        ui->edDate->setFocus();
        return false;
    }
    if (!patientGone.isEmpty()) {
        records::WarnElsewhere(patientGone, this);
        return false;
    }
    if (gone) {
        records::WarnElsewhere(records::DeletedElsewhereText(RdvWhat(), false) + records::NotSavedNote(), this);
        return false;
    }
    records::Guarded([this] { LoadRdv(NumRDV); });
    DisableEdit();
    RdvEditing = false;
    UpdateButtons();
    QCoreApplication::processEvents();
    return true;
}

void TfrmRDV::closeEvent(QCloseEvent* event)
{
    records::CloseEntryScreen(
        this, event, closing_, ui->btnPost->isEnabled(), [this] { return btnPostClick(); },
        [this] {
            if (!NumRDV.isEmpty())
                CancelEdit();
        },
        [this] { Patient->close(); }, [this](QCloseEvent* e) { QDialog::closeEvent(e); });
}

void TfrmRDV::keyPressEvent(QKeyEvent* event)
{
    if (!records::EntryScreenKey(this, event, ui->btnPost->isEnabled(), [this] { btnCancelClick(); }))
        QDialog::keyPressEvent(event);
}

bool TfrmRDV::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            records::NextInTabOrder(static_cast<QWidget*>(watched))->setFocus();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
