#include "URptPhotos.h"

#include "ReportCommon.h"
#include "app/global/global.h"
#include "platform/report/Report.h"
#include "platform/ui/Picture.h"

#include <QFileInfo>

#include <cmath>

using krpt::BandKind;
using krpt::LayoutFont;

const double TfrmRptPhotos::kImageWidth = 365;
const double TfrmRptPhotos::kImageHeight = 378;

namespace {

struct Position {
    double x, y;
};
// Image corners; each frame lies 2 pixels further left and up.
constexpr Position kImages[4] = {{4, 72}, {380, 72}, {4, 497}, {384, 497}};

}  // namespace

TfrmRptPhotos::TfrmRptPhotos(const QStringList& printList, QObject* parent)
    : QObject(parent), printList_(printList), RptPhotos_(std::make_unique<krpt::Report>())
{
    krpt::Report& r = *RptPhotos_;
    r.title = "Impression de Photos";
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A4, false, {100, 2970, 100, 2100, 100, 0, 0});
    r.beforePrint = [this] { RptPhotosBeforePrint(); };
    r.needData = [this] { return RptPhotosNeedData(); };
    const double width = r.page.contentRect().width();

    krpt::Band& header = r.band(BandKind::PageHeader);
    header.height = 104;
    const HeaderLabels labels = AddPracticeHeader(header, 0, 0, width);
    labels.statut->font = LayoutFont("Arial", 14, true, true);
    labels.statut->alignment = Qt::AlignHCenter | Qt::AlignTop;
    header.addShape("shpRule1", krpt::Shape::HorizontalLine, {0, 96, width, 1}).penWidth = 1;
    header.addShape("shpRule2", krpt::Shape::HorizontalLine, {0, 99, width, 4}).penWidth = 4;
    header.beforePrint = [this](krpt::Band& band) { pgHeaderBeforePrint(band); };

    krpt::Band& detail = r.band(BandKind::Detail);
    detail_ = &detail;
    detail.height = 941;
    const QFont font = LayoutFont("Verdana", 10);
    detail.addLabel("lblPatient", "Patient : ", {0, 10, 70, 19}, font);
    detail.addLabel("lPatient", {}, {70, 10, 450, 19}, LayoutFont("Verdana", 10, true));
    detail.addLabel("lblAge", "Age : ", {0, 32, 70, 19}, font);
    detail.addLabel("lAge", {}, {70, 32, 200, 19}, LayoutFont("Verdana", 10, true));
    for (int p = 0; p < 4; ++p) {
        const Position at = kImages[p];
        krpt::Shape& frame = detail.addShape(QStringLiteral("RptShape%1").arg(p), krpt::Shape::Rectangle,
            {at.x - 2, at.y - 2, kImageWidth + 5, kImageHeight + 5});
        frame.penWidth = p == 2 ? 1 : 2;
        detail.add<krpt::Image>(QStringLiteral("RptImage%1").arg(p), {at.x, at.y, kImageWidth, kImageHeight});
    }
    detail.beforePrint = [this](krpt::Band& band) { bdDetailBeforePrint(band); };
}

TfrmRptPhotos::~TfrmRptPhotos() = default;

void TfrmRptPhotos::RptPhotosBeforePrint()
{
    PhotoIndex = 0;
    PhotosLeft = int(printList_.size());
}

bool TfrmRptPhotos::RptPhotosNeedData()
{
    return PhotosLeft > 0;
}

void TfrmRptPhotos::pgHeaderBeforePrint(krpt::Band& band)
{
    FillPracticeHeader(
        {band.label("lblStatut"), band.label("lSpec"), band.label("lDetail"), band.label("lAdr"), band.label("lTel")},
        PhoneLine::EmailWhenSet);
    if (krpt::Label* l = detail_->label("lPatient"))
        l->caption = PatientText;
    if (krpt::Label* l = detail_->label("lAge"))
        l->caption = AgeText;
}

QSize TfrmRptPhotos::FitSize(int w, int h, int W, int H)
{
    if (w <= W && h <= H)
        return {w, h};
    // The proportion in ten-thousandths, halves to the even neighbour.
    const long ratio = std::lrint(double(w) / h * 10000);
    int nw = W;
    auto height = [&] { return int(double(nw) / ratio * 10000); };
    int nh = height();
    while (nh > H && nw > 1) {
        --nw;
        nh = height();
    }
    return {nw, std::max(nh, 1)};
}

void TfrmRptPhotos::bdDetailBeforePrint(krpt::Band& band)
{
    // Each page starts again from the designed places.
    for (int p = 0; p < 4; ++p) {
        const Position at = kImages[p];
        if (auto* image = dynamic_cast<krpt::Image*>(band.find(QStringLiteral("RptImage%1").arg(p)))) {
            image->setPicture({});
            image->source = nullptr;
            image->stretch = false;
            image->rect = {at.x, at.y, kImageWidth, kImageHeight};
        }
        if (krpt::Element* frame = band.find(QStringLiteral("RptShape%1").arg(p)))
            frame->rect = {at.x - 2, at.y - 2, kImageWidth + 5, kImageHeight + 5};
    }
    for (int p = 0; p < 4 && PhotoIndex < printList_.size(); ++p) {
        auto* image = dynamic_cast<krpt::Image*>(band.find(QStringLiteral("RptImage%1").arg(p)));
        krpt::Element* frame = band.find(QStringLiteral("RptShape%1").arg(p));
        const QString file = PhotoDir + printList_[PhotoIndex];
        if (image && QFileInfo(file).isFile()) {
            const QSize size = kui::PictureSize(file);
            const int W = int(image->rect.width()), H = int(image->rect.height());
            if (size.isValid() && size.width() > 0 && size.height() > 0) {
                const QSize fit = FitSize(size.width(), size.height(), W, H);
                const QImage picture = kui::LoadPicture(file, fit);
                if (!picture.isNull()) {
                    image->setPicture(picture);
                    // Printed from the file at the printer's resolution.
                    image->source = [file](QSize device) { return kui::LoadPicture(file, device); };
                    image->stretch = W < size.width() || H < size.height();
                    image->rect.setSize(fit);
                    if (frame)
                        frame->rect.setSize(QSizeF(fit.width() + 5, fit.height() + 5));
                }
            }
        }
        ++PhotoIndex;
        --PhotosLeft;
    }
}

void PrintPhotos(AppContext& context, const QStringList& printList, const QString& patientText, const QString& ageText)
{
    TfrmRptPhotos report(printList);
    report.PatientText = patientText;
    report.AgeText = ageText;
    // The name line without its title ("Mr ", "Mme ").
    QString name = patientText.simplified();
    for (const QString& title : {QStringLiteral("Mr "), QStringLiteral("Mme ")})
        if (name.startsWith(title))
            name = name.mid(title.size());
    report.RptPhotos().fileName = DocumentFileName("Photos", name, {}, QDate::currentDate());
    PreviewReport(context, report.RptPhotos());
}
