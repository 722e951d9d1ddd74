#include "ReportCommon.h"

#include "UPreview.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/PageStore.h"
#include "platform/report/PreviewView.h"
#include "platform/report/Report.h"
#include "platform/ui/Application.h"

#include <QApplication>
#include <QPointer>
#include <QStringList>

#include <optional>

QString PracticePhoneLine(PhoneLine phone)
{
    const bool email =
        phone == PhoneLine::WithEmail || (phone == PhoneLine::EmailWhenSet && !PracticeEmail.trimmed().isEmpty());
    return email ? PracticePhone + "   Email : " + PracticeEmail : PracticePhone;
}

void FillPracticeHeader(const HeaderLabels& labels, PhoneLine phone)
{
    const auto set = [](krpt::Label* label, const QString& text) {
        if (label)
            label->caption = text;
    };
    set(labels.statut, PractitionerName);
    set(labels.spec, SpecialityLine);
    set(labels.detail, PracticeDetail);
    set(labels.adr, PracticeAddress + ", " + PracticeCity);
    set(labels.tel, PracticePhoneLine(phone));
}

HeaderLabels AddPracticeHeader(
    krpt::Band& band, double x, double y, double width, const QString& suffix, bool withAddress)
{
    const double line = 19;
    HeaderLabels labels;
    labels.statut =
        &band.addLabel("lblStatut" + suffix, {}, {x, y, width, line}, krpt::LayoutFont("Arial", 12, true, true));
    labels.spec = &band.addLabel("lSpec" + suffix, {}, {x, y + line, width, line}, krpt::LayoutFont("Arial", 10, true));
    labels.detail = &band.addLabel("lDetail" + suffix, {}, {x, y + 2 * line, width, line});
    double next = y + 3 * line;
    if (withAddress) {
        band.addLabel("lblAdr" + suffix, "Adresse : ", {x, next, 62, line});
        labels.adr = &band.addLabel("lAdr" + suffix, {}, {x + 62, next, width - 62, line});
        next += line;
    }
    band.addLabel("lblTel" + suffix, "Tél.: ", {x, next, 62, line});
    labels.tel = &band.addLabel("lTel" + suffix, {}, {x + 62, next, width - 62, line});
    return labels;
}

QString PatientNameLine(const QString& sexe, const QString& nom, const QString& prenom)
{
    return (sexe == "F" ? "Mme " : "Mr ") + nom + "  " + prenom;
}

QString AgeText(const QString& dn, const QString& storedAge, const QDate& today)
{
    std::optional<int> age;
    const QDate born = QDate::fromString(dn.trimmed(), "dd/MM/yyyy");
    if (born.isValid()) {
        age = today.year() - born.year();
    } else {
        const QString year = dn.mid(6, 4);
        if (year.size() == 4 && IsNumeric(year) && year.toDouble() != 0)
            age = today.year() - static_cast<int>(year.toDouble());
    }
    if (!age || *age <= 0)
        return storedAge;
    return QString::number(*age) + " Ans";
}

QString PlaceAndDateLine(const QDate& date)
{
    return PracticeCity + ", le " + date.toString("dd/MM/yyyy");
}

QString DocumentFileName(const QString& kind, const QString& nom, const QString& prenom, const QDate& date)
{
    QStringList parts;
    for (const QString& part : {kind, nom, prenom, date.isValid() ? date.toString(Qt::ISODate) : QString()})
        if (!part.simplified().isEmpty())
            parts << part.simplified();
    return parts.join(QLatin1Char(' '));
}

QString DocumentFileName(const QString& kind, kdb::Dataset& patient, const QDate& date)
{
    if (!patient.active() || patient.isEmpty())
        return DocumentFileName(kind, {}, {}, date);
    return DocumentFileName(
        kind, patient.fieldByName("NOM").asString(), patient.fieldByName("PRENOM").asString(), date);
}

void PreviewReport(AppContext& context, krpt::Report& report)
{
    QPointer<TfrmPreview> shown;
    report.onPreview = [&context, &report, &shown](krpt::PageStore& store) {
        auto* window = new TfrmPreview(context, QApplication::activeModalWidget());
        shown = window;
        window->Report = &report;
        window->RptPreview()->attach(&store);
        window->show();
    };
    try {
        report.preview();
    } catch (const std::exception& e) {
        // The window, if any, lets the half-built pages go before they are freed.
        if (shown)
            shown->close();
        kui::TApplication::HandleException(e);
    }
    report.onPreview = nullptr;
    if (report.pageStore())
        report.freePageStore();
}
