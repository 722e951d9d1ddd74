#pragma once
// The photo sheets: the photos of the photo screen's print queue, four to an
// A4 page in a two-by-two grid of frames, each reduced to its frame with its
// proportions kept, under the practice heading and the patient and age lines.
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

struct AppContext;

namespace krpt {
class Band;
class Report;
}  // namespace krpt

class TfrmRptPhotos : public QObject {
    Q_OBJECT
public:
    // The queue is read while the report runs: its owner outlives the report.
    explicit TfrmRptPhotos(const QStringList& printList, QObject* parent = nullptr);
    ~TfrmRptPhotos() override;

    QString PatientText;
    QString AgeText;

    krpt::Report& RptPhotos() { return *RptPhotos_; }

    // The designed place of an image (position 0 to 3) in the detail band.
    static const double kImageWidth;
    static const double kImageHeight;

    // The size a w x h picture prints at in a W x H position.
    static QSize FitSize(int w, int h, int W, int H);

private:
    void RptPhotosBeforePrint();
    bool RptPhotosNeedData();
    void pgHeaderBeforePrint(krpt::Band& band);
    void bdDetailBeforePrint(krpt::Band& band);

    const QStringList& printList_;
    std::unique_ptr<krpt::Report> RptPhotos_;
    krpt::Band* detail_ = nullptr;
    int PhotoIndex = 0;
    int PhotosLeft = 0;
};

// Previews the sheets of the queue; returns when the preview window is closed.
void PrintPhotos(AppContext& context, const QStringList& printList, const QString& patientText, const QString& ageText);
