#pragma once
// The A5 prescription sheet: the practice header, the title "Ordonnance",
// the place and date, the patient's name and age, then the medicine lines
// of one prescription, numbered as they print.
#include <QDate>
#include <QObject>

#include <memory>

struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace krpt {
class Band;
class Report;
}  // namespace krpt

class TfrmRptOrdonnance : public QObject {
    Q_OBJECT
public:
    explicit TfrmRptOrdonnance(QObject* parent = nullptr);
    ~TfrmRptOrdonnance() override;

    QString PatientCode;
    QString OrdCode;
    QDate OrdDate;

    krpt::Report& RptOrdonnance() { return *report_; }
    void Preview(AppContext& context);

private:
    void pgHeaderBeforePrint(krpt::Band& band);
    void bdDetailBeforePrint(krpt::Band& band);

    kdb::QueryDataset* qOrd;
    kdb::QueryDataset* qPatient;
    std::unique_ptr<krpt::Report> report_;
    int OrdLineCounter = 0;
};

extern TfrmRptOrdonnance* frmRptOrdonnance;
