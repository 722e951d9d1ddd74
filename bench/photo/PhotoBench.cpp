// The photo screen opened for a patient with 21 photos of 12 megapixels
// (generated JPEG files), against decoding the same 21 files at full size
// with Qt's image reader, as a page holding the full pictures would:
//
//   korvale_photo_bench [megapixels]
//
// Prints the median times, their ratio, and the memory each needs (growth of
// the peak resident size). Goals: at least 4x faster, at most a quarter of
// the memory.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "resources/schema/SchemaText.h"
#include "app/global/AppContext.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "app/records/UPhoto.h"
#include "checker/DbCheck.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Picture.h"

using Clock = std::chrono::steady_clock;

namespace {

long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string k = key;
    while (std::getline(in, line))
        if (line.compare(0, k.size(), k) == 0)
            return std::atol(line.c_str() + k.size());
    return 0;
}

// The growth of the peak resident size while `action` runs, in MB.
double PeakGrowthMb(const std::function<void()>& action)
{
    {
        std::ofstream("/proc/self/clear_refs") << "5";
    }  // resets the peak
    const long before = StatusKb("VmRSS:");
    action();
    return (StatusKb("VmHWM:") - before) / 1024.0;
}

double MedianMs(const std::function<void()>& action, int runs = 5)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = Clock::now();
        action();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void Exec(const QString& sql)
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql(sql);
    q.execSql();
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const double mp = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 12.0;
    const int w = int(std::sqrt(mp * 1e6 * 4 / 3)), h = w * 3 / 4;
    QTemporaryDir temp;
    AppDir = temp.path() + "/";
    DataPath = AppDir + "Data/";
    PhotoDir = AppDir + "PHOTOS/";
    QDir().mkpath(DataPath);
    QDir().mkpath(PhotoDir);
    InstallDatabaseKeyColumns();
    kui::ScopedMessageRecorder messages;
    AppContext context;
    try {
        TDbCheck check(nullptr);
        check.Descriptor = SchemaText();
        check.CorrectPath = DataPath;
        check.CheckDatabase();
        Exec("INSERT INTO PATIENT (CODE, NOM, PRENOM, DN) VALUES ('000001', 'MARTIN', 'JEAN', '01/02/1960')");
        QStringList files;
        for (int i = 1; i <= TfrmPhoto::kSlots; ++i) {
            QImage im(w, h, QImage::Format_RGB32);
            QPainter p(&im);
            QLinearGradient g(0, 0, w, h);
            g.setColorAt(0, QColor::fromHsv(i * 17 % 360, 200, 230));
            g.setColorAt(1, QColor::fromHsv(i * 53 % 360, 150, 90));
            p.fillRect(im.rect(), g);
            for (int k = 0; k < 400; ++k)
                p.drawEllipse(QPoint(k * 7919 % w, k * 104729 % h), 40 + k % 90, 30 + k % 70);
            p.end();
            const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
            im.save(PhotoDir + name, "JPG", 90);
            files << PhotoDir + name;
            Exec(
                QStringLiteral("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '%1', '%2')").arg(i).arg(name));
        }
        CurrentPatientCode = "000001";
        std::printf("21 photos of %d x %d (%.1f megapixels)\n", w, h, w * h / 1e6);

        const auto openScreen = [&] { TfrmPhoto frm(context); };
        const auto decodeAll = [&] {
            std::vector<QImage> pictures;
            for (const QString& f : files) {
                QImageReader reader(f);
                reader.setAllocationLimit(0);
                pictures.push_back(reader.read());
            }
        };
        int loaded = 0;
        const double screenMb = PeakGrowthMb([&] {
            TfrmPhoto frm(context);
            for (int i = 1; i <= TfrmPhoto::kSlots; ++i)
                loaded += frm.Image(i)->HasPicture() ? 1 : 0;
        });
        const double fullMb = PeakGrowthMb(decodeAll);
        const double screenMs = MedianMs(openScreen);
        const double fullMs = MedianMs(decodeAll, 3);
        const double thumbsMs = MedianMs([&] { kui::LoadPictures(files, TfrmPhoto::kThumbSize); });
        const double bigMs = MedianMs([&] { kui::LoadPicture(files[0]); });
        const double speed = fullMs / std::max(screenMs, 1e-3);
        const double memory = screenMb / std::max(fullMb, 1e-3);
        std::printf("%-40s %10s %10s\n", "", "ms", "peak MB");
        std::printf("%-40s %10.1f %10.1f   (%d slots filled)\n", "photo screen opened", screenMs, screenMb, loaded);
        std::printf("%-40s %10.1f %10.1f\n", "21 files decoded at full size (Qt)", fullMs, fullMb);
        std::printf("%-40s %10.1f\n", "  of which 21 thumbnails (side by side)", thumbsMs);
        std::printf("%-40s %10.1f\n", "  of which slot 1 at full size", bigMs);
        std::printf("speed: %.1fx faster (goal 4x): %s\n", speed, speed >= 4 ? "met" : "not met");
        std::printf("memory: %.3f of the full decode (goal 0.25): %s\n", memory, memory <= 0.25 ? "met" : "not met");
        if (messages.Count() > 0)
            std::printf("messages shown: %d\n", messages.Count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
