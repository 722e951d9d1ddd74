#pragma once
// The printed operative protocol: the practice heading, the title, the
// patient and the practitioners, the diagnosis and the intervention as
// paragraphs that push the rest down, the detail text PROT<NUM>.RTF of
// ProtDir (flowing over as many pages as it needs), and the practitioner's
// name as the signature line. A4
// portrait, 10 mm margins.
#include <QObject>
#include <QString>

#include <memory>

class QTextDocument;

struct AppContext;

namespace kdb {
class QueryDataset;
}
namespace krpt {
class Band;
class Report;
}  // namespace krpt

class TfrmRptProtocole : public QObject {
    Q_OBJECT
public:
    explicit TfrmRptProtocole(QObject* parent = nullptr);
    ~TfrmRptProtocole() override;

    // NUM of the protocol to print.
    QString ProtNum;

    krpt::Report& RptProtocole() { return *RptProtocole_; }

private:
    void RptProtocoleBeforePrint();
    void RptProtocoleAfterPrint();
    void bdTitleBeforePrint(krpt::Band& band);
    void bdDetailBeforePrint(krpt::Band& band);
    bool RptProtocoleNeedData();

    kdb::QueryDataset* qProt;
    std::unique_ptr<krpt::Report> RptProtocole_;
    // The detail text, printed one paragraph a band so that a long text
    // flows over the pages.
    std::unique_ptr<QTextDocument> detail_;
    bool hasDetail_ = false;
    QString damageShown_;  // the damaged file already warned of
    int paragraph_ = -1, paragraphs_ = 0;
};

// Previews the protocol NUM; returns when the preview window is closed.
void PrintProtocol(AppContext& context, const QString& num);
