#include "UrptConsul.h"

#include "ReportCommon.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/Report.h"

TfrmRptConsul* frmRptConsul = nullptr;

using krpt::BandKind;
using krpt::LayoutFont;

TfrmRptConsul::TfrmRptConsul(QObject* parent)
    : QObject(parent), Consul(new kdb::TableDataset(this)), Patient(new kdb::TableDataset(this)),
      rptConsul_(std::make_unique<krpt::Report>())
{
    Consul->setTableName("Cons.DBF");
    Patient->setTableName("Patient.DBF");

    krpt::Report& r = *rptConsul_;
    r.title = "Rapport médical";
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A4, false, {100, 2970, 100, 2100, 100, 100, 0});
    r.dataset = Consul;
    r.beforePrint = [this] { rptConsulBeforePrint(); };
    r.afterPrint = [this] { rptConsulAfterPrint(); };
    const double width = r.page.contentRect().width();  // 718 px

    // Title band: header, date, the boxed title, the patient block, column titles.
    krpt::Band& title = r.band(BandKind::Title);
    title.height = 300;
    const HeaderLabels header = AddPracticeHeader(title, 0, 0, 470);
    title.addLabel(
        "lblDate", {}, {width - 200, 0, 200, 19}, LayoutFont("Arial", 10, true), Qt::AlignRight | Qt::AlignTop);
    krpt::Shape& box = title.addShape("shpTitre", krpt::Shape::Rectangle, {width / 2 - 150, 110, 300, 32});
    box.penWidth = 2;
    title.addLabel(
        "lblTitre", "RAPPORT MEDICAL", {width / 2 - 150, 110, 300, 32}, LayoutFont("Arial", 14, true), Qt::AlignCenter);
    const auto field = [&](const QString& caption, const std::string& column, double x, double y, double w) {
        title.addLabel("lbl" + QString::fromStdString(column), caption, {x, y, 80, 19});
        title.addDbText(
            "db" + QString::fromStdString(column), Patient, column, {x + 80, y, w, 19}, LayoutFont("Arial", 10, true));
    };
    field("Nom : ", "NOM", 0, 160, 320);
    field("Sexe : ", "SEXE", 420, 160, 120);
    field("Adresse : ", "ADR", 0, 182, 600);
    field("Age : ", "AGE", 0, 204, 200);
    field("G.Sanguin : ", "GS", 420, 204, 120);
    title.addShape("shpRule1", krpt::Shape::HorizontalLine, {0, 236, width, 2}).penWidth = 1.5;
    const QFont columns = LayoutFont("Arial", 10, true);
    title.addLabel("lblColDate", "Date", {0, 250, 85, 19}, columns);
    title.addLabel("lblColMotif", "Motif", {95, 250, 190, 19}, columns);
    title.addLabel("lblColDiag", "Diagnostic", {295, 250, 200, 19}, columns);
    title.addLabel("lblColTrt", "Traitement", {505, 250, width - 505, 19}, columns);
    title.addShape("shpRule2", krpt::Shape::HorizontalLine, {0, 276, width, 2}).penWidth = 1.5;
    title.beforePrint = [header](krpt::Band& band) {
        FillPracticeHeader(header, PhoneLine::WithEmail);
        band.label("lblDate")->caption = "Le " + QDate::currentDate().toString("dd/MM/yyyy");
    };

    // Detail band: one consultation.
    krpt::Band& detail = r.band(BandKind::Detail);
    detail.height = 24;
    detail.addDbText("dbDCONS", Consul, "DCONS", {0, 3, 85, 18}, LayoutFont("Arial", 10, false, true));
    detail.addDbText("dbMOTIF", Consul, "MOTIF", {95, 3, 190, 18});
    detail.addDbText("dbDIAG", Consul, "DIAG", {295, 3, 200, 18});
    krpt::Label& trt = detail.addLabel("lTrt", {}, {505, 3, width - 505, 18});
    trt.wordWrap = true;
    trt.autoStretch = true;
    krpt::Shape& rule = detail.addShape("shpVRule", krpt::Shape::VerticalLine, {88, 0, 2, 24});
    rule.stretchToBand = true;
    detail.beforePrint = [this](krpt::Band& band) {
        band.label("lTrt")->caption = Consul->fieldByName("TRT1").asString().trimmed();
    };

    krpt::Band& footer = r.band(BandKind::PageFooter);
    footer.height = 24;
    footer.add<krpt::PageNumber>("lblPage", {0, 4, width, 18}).alignment = Qt::AlignCenter;
}

TfrmRptConsul::~TfrmRptConsul()
{
    if (frmRptConsul == this)
        frmRptConsul = nullptr;
}

void TfrmRptConsul::rptConsulBeforePrint()
{
    Patient->setDatabaseName(DataPath.toStdString());
    Consul->setDatabaseName(DataPath.toStdString());
    Patient->open();
    Consul->setFilter("PATIENT='" + CurrentPatientCode + "'");
    Consul->setFiltered(true);
    Consul->onFilterRecord = [](kdb::Dataset&) { return true; };
    Consul->open();
    // A patient that is not there gives an empty block, never another
    // patient's details.
    if (!Patient->locate("CODE", CurrentPatientCode))
        Patient->close();
    rptConsul_->title =
        "Rapport médical de " + (Patient->active() ? Patient->fieldByName("NOM").asString().trimmed() : QString());
    rptConsul_->fileName = DocumentFileName(QString::fromUtf8("Rapport médical"), *Patient, QDate::currentDate());
}

void TfrmRptConsul::rptConsulAfterPrint()
{
    Consul->close();
    Patient->close();
}

void PrintMedicalReport(AppContext& context, const QString& patientCode)
{
    CurrentPatientCode = patientCode;
    auto* form = new TfrmRptConsul();
    frmRptConsul = form;
    PreviewReport(context, form->rptConsul());
    delete form;
}
