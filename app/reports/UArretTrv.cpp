#include "UArretTrv.h"
#include "ui_UArretTrv.h"

#include "URptARPTravail.h"
#include "app/global/global.h"
#include "platform/ui/Application.h"

TfrmArretTrv::TfrmArretTrv(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmArretTrv)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->edDateEtab->setDate(QDate::currentDate());
    ui->cmbType->setCurrentIndex(0);
    ui->edDate->setDate(QDate::currentDate().addDays(1));
    ui->cmbDays->setCurrentIndex(0);
    connect(ui->cmbType, &QComboBox::currentIndexChanged, this, &TfrmArretTrv::cmbTypeChange);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmArretTrv::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    ui->edNbDays->setFocus();
    kui::SetFixedBorder(this);
}

TfrmArretTrv::~TfrmArretTrv()
{
    delete ui;
}

QComboBox* TfrmArretTrv::cmbType() const
{
    return ui->cmbType;
}
QLineEdit* TfrmArretTrv::edNbDays() const
{
    return ui->edNbDays;
}
QComboBox* TfrmArretTrv::cmbDays() const
{
    return ui->cmbDays;
}
QDateEdit* TfrmArretTrv::edDate() const
{
    return ui->edDate;
}
QDateEdit* TfrmArretTrv::edDateEtab() const
{
    return ui->edDateEtab;
}

void TfrmArretTrv::cmbTypeChange()
{
    const bool duration = ui->cmbType->currentIndex() != 2;
    for (QWidget* w :
        {static_cast<QWidget*>(ui->lDe), static_cast<QWidget*>(ui->edNbDays), static_cast<QWidget*>(ui->cmbDays)})
        w->setEnabled(duration);
}

void TfrmArretTrv::btnOkClick()
{
    const int type = ui->cmbType->currentIndex();
    const QString days = ui->edNbDays->text();
    QString unit;
    if (type != 2) {
        if (!IsNumeric(days)) {
            ShowError("Le nombre de jours ou de mois doit être numérique !");
            ui->edNbDays->setFocus();
            return;
        }
        unit = ui->cmbDays->currentText();
        if (unit == "Jours") {
            // A number of days is whole: 1.5 is refused with a message
            // rather than failing in the conversion below.
            bool whole = false;
            const int count = days.trimmed().toInt(&whole);
            if (!whole) {
                ShowError("Le nombre de jours doit être un nombre entier !");
                ui->edNbDays->setFocus();
                return;
            }
            if (count < 2)
                unit = "Jour";
        }
    }
    auto* form = new TfrmRptARPTravail();
    frmRptARPTravail = form;
    form->PatientCode = CurrentPatientCode;
    form->DateCertif = ui->edDateEtab->date();
    switch (type) {
    case 0:
        form->Libelle = "Nécessite un arrêt de travail de : ";
        form->Kind = "Arrêt de travail";
        form->Duree = days + "  " + unit;
        form->DateEffet = ui->edDate->date();
        break;
    case 1:
        form->Libelle = "Nécessite une prolongation d'arrêt de travail de : ";
        form->Kind = "Prolongation d'arrêt de travail";
        form->Duree = days + "  " + unit;
        form->DateEffet = ui->edDate->date();
        break;
    default:
        form->Libelle = "Nécessite une reprise de travail à partir du : ";
        form->Kind = "Reprise de travail";
        form->Duree = ui->edDate->date().toString("dd/MM/yyyy");
        break;
    }
    form->Preview(context_);
    delete form;
    accept();
}

void PrintWorkCertificate(AppContext& context, QWidget* parent)
{
    TfrmArretTrv dialog(context, parent);
    dialog.exec();
}
