#include "URptOrdonnance.h"

#include "ReportCommon.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/Report.h"

TfrmRptOrdonnance* frmRptOrdonnance = nullptr;

using krpt::BandKind;
using krpt::LayoutFont;

TfrmRptOrdonnance::TfrmRptOrdonnance(QObject* parent)
    : QObject(parent), qOrd(new kdb::QueryDataset(this)), qPatient(new kdb::QueryDataset(this)),
      report_(std::make_unique<krpt::Report>())
{
    // In line-number order, the order in which the choice screen shows them.
    qOrd->setSql(QStringList{"SELECT * FROM FORD", "WHERE CODE=:MYCODE", "ORDER BY NUM"});
    qPatient->setSql(QStringList{"SELECT CODE, NOM, PRENOM, SEXE, DN, AGE FROM PATIENT", "WHERE CODE=:MYCODE"});

    krpt::Report& r = *report_;
    r.title = "Listing des articles";
    // A5 portrait: bottom 10, length 210, top 5, width 148, left 10, right 10 mm.
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A5, false, {100, 2100, 50, 1480, 100, 100, 0});
    r.dataset = qOrd;
    r.beforePrint = [this] {
        OrdLineCounter = 0;
        for (kdb::QueryDataset* q : {qOrd, qPatient}) {
            q->close();
            q->setDatabaseName(DataPath.toStdString());
        }
        qOrd->setParamText("MYCODE", OrdCode);
        qOrd->open();
        qPatient->setParamText("MYCODE", PatientCode);
        qPatient->open();
        report_->fileName = DocumentFileName("Ordonnance", *qPatient, OrdDate);
    };
    r.afterPrint = [this] {
        qOrd->close();
        qPatient->close();
    };
    const double width = r.page.contentRect().width();

    krpt::Band& header = r.band(BandKind::PageHeader);
    header.height = 250;
    const HeaderLabels labels = AddPracticeHeader(header, 0, 0, width, {}, false);
    labels.statut->font = LayoutFont("Arial", 14, true, true);
    labels.statut->rect.setHeight(24);
    labels.spec->rect.moveTop(24);
    labels.detail->rect.moveTop(43);
    header.addShape("shpRule1", krpt::Shape::HorizontalLine, {0, 88, width, 2}).penWidth = 1;
    header.addShape("shpRule2", krpt::Shape::HorizontalLine, {0, 92, width, 4}).penWidth = 4;
    for (const char* name : {"lblTel", "lTel"}) {
        krpt::Element* e = header.find(name);
        e->rect.moveTop(100);
        static_cast<krpt::Label*>(e)->font = LayoutFont("Arial", 8);
    }
    header.addLabel("lTitre", "Ordonnance", {0, 130, width, 32}, LayoutFont("Arial", 18, true, true),
        Qt::AlignHCenter | Qt::AlignTop);
    header.addLabel("lDate", {}, {0, 170, width, 19}, LayoutFont("Arial", 10), Qt::AlignRight | Qt::AlignTop);
    header.addLabel("lNom", {}, {0, 200, width - 120, 19}, LayoutFont("Arial", 10, true));
    header.addLabel("lAge", {}, {width - 120, 200, 120, 19}, LayoutFont("Arial", 10, true));
    header.beforePrint = [this, labels](krpt::Band& band) {
        FillPracticeHeader(labels, PhoneLine::EmailWhenSet);
        pgHeaderBeforePrint(band);
    };

    krpt::Band& detail = r.band(BandKind::Detail);
    detail.height = 24;
    detail.addLabel("lNo", {}, {0, 2, 40, 19}, LayoutFont("Arial", 10), Qt::AlignRight | Qt::AlignTop);
    krpt::Label& medic = detail.addLabel("lMedic", {}, {44, 2, width - 44, 19}, LayoutFont("Arial", 10));
    medic.wordWrap = true;
    medic.autoStretch = true;
    detail.beforePrint = [this](krpt::Band& band) { bdDetailBeforePrint(band); };

    krpt::Band& footer = r.band(BandKind::PageFooter);
    footer.height = 24;
    footer.addShape("shpFooter", krpt::Shape::HorizontalLine, {0, 0, width, 2}).penWidth = 2;
    footer.addLabel("lAdr", {}, {0, 4, width, 18}, LayoutFont("Arial", 8));
    footer.beforePrint = [](krpt::Band& band) { band.label("lAdr")->caption = PracticeAddress + ", " + PracticeCity; };
}

TfrmRptOrdonnance::~TfrmRptOrdonnance()
{
    if (frmRptOrdonnance == this)
        frmRptOrdonnance = nullptr;
}

void TfrmRptOrdonnance::pgHeaderBeforePrint(krpt::Band& band)
{
    const bool found = qPatient->active() && !qPatient->isEmpty();
    const auto text = [&](const char* field) {
        return found ? qPatient->fieldByName(field).asString().trimmed() : QString();
    };
    band.label("lDate")->caption = PlaceAndDateLine(OrdDate);
    band.label("lNom")->caption = found ? PatientNameLine(text("SEXE"), text("NOM"), text("PRENOM")) : QString();
    band.label("lAge")->caption = found ? AgeText(qPatient->fieldByName("DN").asString(), text("AGE")) : QString();
}

void TfrmRptOrdonnance::bdDetailBeforePrint(krpt::Band& band)
{
    ++OrdLineCounter;
    band.label("lNo")->caption = QString::number(OrdLineCounter) + " - ";
    QString line = qOrd->fieldByName("MEDIC").asString().trimmed();
    for (const char* field : {"FORME", "DOSAGE", "QTE", "POSOLOGIE"}) {
        const QString part = qOrd->fieldByName(field).asString().trimmed();
        if (!part.isEmpty())
            line += ", " + part;
    }
    band.label("lMedic")->caption = line;
}

void TfrmRptOrdonnance::Preview(AppContext& context)
{
    PreviewReport(context, *report_);
}
