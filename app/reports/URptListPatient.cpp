#include "URptListPatient.h"

#include "ReportCommon.h"
#include "UPrint.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/Report.h"

#include <QApplication>
#include <QLineEdit>
#include <QToolButton>

TfrmRptListPatient* frmRptListPatient = nullptr;

using krpt::BandKind;
using krpt::LayoutFont;

TfrmRptListPatient::TfrmRptListPatient(QObject* parent)
    : QObject(parent), Patient(new kdb::TableDataset(this)), report_(std::make_unique<krpt::Report>())
{
    Patient->setTableName("Patient.DBF");
    Patient->setIndexFieldNames("NOM");
    Patient->onFilterRecord = [this](kdb::Dataset& d) { return PatientFilterRecord(d); };

    krpt::Report& r = *report_;
    r.title = "Listing des articles";
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A4, false, {100, 2970, 100, 2100, 300, 200, 0});
    r.beforePrint = [this] { RptListPatientBeforePrint(); };
    r.afterPrint = [this] { RptListPatientAfterPrint(); };
    const double width = r.page.contentRect().width();  // 605 px

    krpt::Band& title = r.band(BandKind::Title);
    title.height = 190;
    const HeaderLabels header = AddPracticeHeader(title, 0, 0, width);
    for (krpt::Label* hidden : {header.spec, header.detail, header.adr, header.tel})
        hidden->enabled = false;
    for (const char* fixed : {"lblAdr", "lblTel"})
        title.find(fixed)->enabled = false;
    title.addLabel(
        "lblTitre", "Listing des patients", {0, 110, width, 30}, LayoutFont("Arial", 16, true), Qt::AlignCenter);
    krpt::Shape& bar = title.addShape("shpBar", krpt::Shape::Rectangle, {0, 160, width, 24});
    bar.fill = QColor(0xC0, 0xC0, 0xC0);
    bar.penColor = QColor(0xC0, 0xC0, 0xC0);
    const QFont columns = LayoutFont("Arial", 10, true);
    title.addLabel("lblColCode", "Code", {6, 163, 90, 19}, columns);
    title.addLabel("lblColNom", "Nom et prénom", {110, 163, 360, 19}, columns);
    title.addLabel("lblColAge", "Age", {480, 163, 110, 19}, columns, Qt::AlignHCenter | Qt::AlignTop);
    title.beforePrint = [this, header](krpt::Band&) {
        FillPracticeHeader(header, PhoneLine::Plain);
        ListRowCounter = 0;
    };

    krpt::Band& rows = r.band(BandKind::SubDetail);
    rows.dataset = Patient;
    rows.height = 20;
    rows.addDbText("dbCODE", Patient, "CODE", {6, 1, 90, 18}).autoStretch = false;
    rows.addDbText("dbNOM", Patient, "NOM", {110, 1, 360, 18}).autoStretch = false;
    krpt::DbText& age = rows.addDbText("dbAGE", Patient, "AGE", {480, 1, 110, 18});
    age.autoStretch = false;
    age.alignment = Qt::AlignHCenter | Qt::AlignTop;
    rows.beforePrint = [this](krpt::Band& band) {
        ++ListRowCounter;
        band.background = ListRowCounter % 2 == 1 ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xE5, 0xE5, 0xE5);
    };

    krpt::Band& footer = r.band(BandKind::PageFooter);
    footer.height = 24;
    footer.add<krpt::PageNumber>("lblPage", {0, 4, width, 18}).alignment = Qt::AlignHCenter | Qt::AlignTop;
    footer.add<krpt::PrintDate>("lblDateHeure", {0, 4, 200, 18});
}

TfrmRptListPatient::~TfrmRptListPatient()
{
    if (frmRptListPatient == this)
        frmRptListPatient = nullptr;
}

void TfrmRptListPatient::Preview(AppContext& context)
{
    PreviewReport(context, *report_);
}

void TfrmRptListPatient::RptListPatientBeforePrint()
{
    Patient->setDatabaseName(DataPath.toStdString());
    SelectedLetters = std::make_unique<QStringList>();
    SearchText = frmPrint ? frmPrint->edTextSearch()->text().toUpper() : QString();
    for (char c = 'A'; c <= 'Z'; ++c)
        if (frmPrint && frmPrint->btnLetter(QChar(c))->isChecked())
            SelectedLetters->append(QString(QChar(c)));
    QApplication::processEvents();
    Patient->setFilter({});
    Patient->setFiltered(true);
    Patient->open();
    report_->fileName = DocumentFileName("Listing des patients", {}, {}, QDate::currentDate());
}

void TfrmRptListPatient::RptListPatientAfterPrint()
{
    Patient->close();
    SelectedLetters.reset();
}

bool TfrmRptListPatient::PatientFilterRecord(kdb::Dataset& dataset) const
{
    const QString nom = dataset.fieldByName("NOM").asString();
    if (!SearchText.isEmpty())
        return nom.left(SearchText.size()).toUpper() == SearchText;
    if (SelectedLetters && !SelectedLetters->isEmpty())
        return !nom.isEmpty() && SelectedLetters->contains(nom.left(1).toUpper());
    return true;
}
