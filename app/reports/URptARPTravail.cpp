#include "URptARPTravail.h"

#include "ReportCommon.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/Report.h"

TfrmRptARPTravail* frmRptARPTravail = nullptr;

using krpt::BandKind;
using krpt::LayoutFont;

namespace {
const double CopyWidth = 520;
const double SecondCopy = 550;
}  // namespace

TfrmRptARPTravail::TfrmRptARPTravail(QObject* parent)
    : QObject(parent), qPatient(new kdb::QueryDataset(this)), report_(std::make_unique<krpt::Report>())
{
    qPatient->setSql(QStringList{"SELECT CODE, NOM, PRENOM, SEXE FROM PATIENT", "WHERE CODE=:MYCODE"});

    krpt::Report& r = *report_;
    r.title = "Listing des articles";
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A4, true, {100, 2100, 100, 2970, 100, 40, 0});
    r.dataset = qPatient;
    r.beforePrint = [this] {
        qPatient->setDatabaseName(DataPath.toStdString());
        qPatient->setParamText("MYCODE", PatientCode);
        qPatient->open();
        report_->fileName = DocumentFileName(Kind, *qPatient, DateCertif);
    };
    r.afterPrint = [this] { qPatient->close(); };

    // The detail band holds both copies; the page footer their address lines.
    krpt::Band& detail = r.band(BandKind::Detail);
    detail.height = 440;
    krpt::Band& footer = r.band(BandKind::PageFooter);
    footer.height = 26;
    std::vector<HeaderLabels> headers;
    for (const double x : {0.0, SecondCopy}) {
        const QString s = x > 0 ? "1" : "";
        detail.addLabel("lblTitre" + s, "PROLONGATION D'ARRET DE TRAVAIL", {x, 10, CopyWidth, 26},
            LayoutFont("Arial", 14, true, true), Qt::AlignCenter);
        HeaderLabels header = AddPracticeHeader(detail, x, 60, CopyWidth, s, false);
        // The address of each copy prints in the page footer.
        footer.addLabel("lblAdr" + s, "Adresse : ", {x, 4, 62, 19});
        header.adr = &footer.addLabel("lAdr" + s, {}, {x + 62, 4, CopyWidth - 62, 19});
        headers.push_back(header);
        detail.addLabel("lblCertifie" + s, "Je soussigné cerifie que :", {x, 180, CopyWidth, 19});
        detail.addLabel("lNom" + s, {}, {x + 40, 210, CopyWidth - 40, 19}, LayoutFont("Arial", 11, true));
        krpt::Label& libelle = detail.addLabel("lLibelle" + s, {}, {x, 250, CopyWidth, 19});
        libelle.wordWrap = true;
        libelle.autoStretch = true;
        detail.addLabel("lDuree" + s, {}, {x + 40, 275, CopyWidth - 40, 19}, LayoutFont("Arial", 11, true));
        detail.addLabel("libEffet" + s, "A compter du :", {x, 315, 110, 19});
        detail.addLabel("lDateEffet" + s, {}, {x + 110, 315, 150, 19}, LayoutFont("Arial", 10, true));
        detail.addLabel("lDate" + s, {}, {x, 380, CopyWidth, 19}, LayoutFont(), Qt::AlignRight | Qt::AlignTop);
    }
    for (krpt::Band* band : {&detail, &footer}) {
        krpt::Shape& rule =
            band->addShape("shpSep", krpt::Shape::VerticalLine, {(CopyWidth + SecondCopy) / 2 - 1, 0, 2, band->height});
        rule.penColor = Qt::red;
        rule.penStyle = Qt::DotLine;
        rule.stretchToBand = true;
    }
    detail.beforePrint = [this, headers](krpt::Band& band) {
        const QString name = PatientNameLine(qPatient->fieldByName("SEXE").asString().trimmed(),
            qPatient->fieldByName("NOM").asString().trimmed(), qPatient->fieldByName("PRENOM").asString().trimmed());
        for (const QString s : {"", "1"}) {
            FillPracticeHeader(headers[s.isEmpty() ? 0 : 1], PhoneLine::EmailWhenSet);
            band.label("lNom" + s)->caption = name;
            band.label("lLibelle" + s)->caption = Libelle;
            band.label("lDuree" + s)->caption = Duree;
            band.label("lDateEffet" + s)->caption = DateEffet.toString("dd/MM/yyyy");
            band.label("lDateEffet" + s)->enabled = DateEffet.isValid();
            band.label("libEffet" + s)->enabled = DateEffet.isValid();
            band.label("lDate" + s)->caption = PlaceAndDateLine(DateCertif);
        }
    };
}

TfrmRptARPTravail::~TfrmRptARPTravail()
{
    if (frmRptARPTravail == this)
        frmRptARPTravail = nullptr;
}

void TfrmRptARPTravail::Preview(AppContext& context)
{
    PreviewReport(context, *report_);
}
