#pragma once
// The patient list: code, name and age of the patients chosen in the print
// dialog (frmPrint), in name order, on alternating white and grey rows.
// A4 portrait, margins 10 mm top and bottom, 30 mm left, 20 mm right.
#include <QObject>
#include <QStringList>

#include <memory>

struct AppContext;

namespace kdb {
class TableDataset;
class Dataset;
}  // namespace kdb
namespace krpt {
class Report;
}

class TfrmRptListPatient : public QObject {
    Q_OBJECT
public:
    explicit TfrmRptListPatient(QObject* parent = nullptr);
    ~TfrmRptListPatient() override;

    krpt::Report& RptListPatient() { return *report_; }
    // The caller's sequence: preview, return once the preview is closed.
    void Preview(AppContext& context);

private:
    void RptListPatientBeforePrint();
    void RptListPatientAfterPrint();
    bool PatientFilterRecord(kdb::Dataset& dataset) const;

    kdb::TableDataset* Patient;
    std::unique_ptr<krpt::Report> report_;
    std::unique_ptr<QStringList> SelectedLetters;
    QString SearchText;
    int ListRowCounter = 0;
};

extern TfrmRptListPatient* frmRptListPatient;
