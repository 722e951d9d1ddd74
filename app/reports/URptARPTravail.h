#pragma once
// The work certificate: two identical copies side by side on one landscape
// A4 sheet. Nothing is stored.
#include <QDate>
#include <QObject>

#include <memory>

struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace krpt {
class Report;
}

class TfrmRptARPTravail : public QObject {
    Q_OBJECT
public:
    explicit TfrmRptARPTravail(QObject* parent = nullptr);
    ~TfrmRptARPTravail() override;

    QString PatientCode;
    QString Libelle;  // the certificate phrase
    QString Duree;  // the duration, or the return date as text
    QDate DateCertif;  // the date the certificate is made out
    QDate DateEffet;  // start date; invalid: the start-date lines do not print
    QString Kind = QStringLiteral("Certificat");  // first words of a file it is printed into

    krpt::Report& RptARPTravail() { return *report_; }
    void Preview(AppContext& context);

private:
    kdb::QueryDataset* qPatient;
    std::unique_ptr<krpt::Report> report_;
};

extern TfrmRptARPTravail* frmRptARPTravail;
