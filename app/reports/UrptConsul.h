#pragma once
// The medical report: every consultation of the current patient
// (CurrentPatientCode), in the order they were recorded, under the practice
// header and the patient block. A4 portrait, 10 mm margins.
#include <QObject>

#include <memory>

struct AppContext;

namespace kdb {
class TableDataset;
}
namespace krpt {
class Report;
}

class TfrmRptConsul : public QObject {
    Q_OBJECT
public:
    explicit TfrmRptConsul(QObject* parent = nullptr);
    ~TfrmRptConsul() override;

    krpt::Report& rptConsul() { return *rptConsul_; }

private:
    void rptConsulBeforePrint();
    void rptConsulAfterPrint();

    kdb::TableDataset* Consul;
    kdb::TableDataset* Patient;
    std::unique_ptr<krpt::Report> rptConsul_;
};

extern TfrmRptConsul* frmRptConsul;

// Prints the medical report of a patient: CurrentPatientCode := the code,
// then the report is previewed; returns when the preview window is closed.
void PrintMedicalReport(AppContext& context, const QString& patientCode);
