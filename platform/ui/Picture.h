#pragma once
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

namespace kui {

// Picture files of the screens: JPEG through the JPEG library, decoded at the
// smallest of its scales (1/1, 1/2, 1/4, 1/8) that still covers the size the
// picture is shown at; the bitmap formats through Qt's image reader.
// A damaged or hostile file gives a null image: its dimensions are checked
// against kMaxPictureSide / kMaxPicturePixels before anything is allocated.

inline constexpr int kMaxPictureSide = 30000;
inline constexpr qint64 kMaxPicturePixels = 120'000'000;  // 120 megapixels
inline constexpr qint64 kMaxPictureFileBytes = 256LL << 20;

// Reads the picture held in `data`, turned as the camera was held (the
// orientation of its Exif block). `fit` empty: full size. Otherwise the
// picture is reduced (proportions kept) to fit within `fit`; it is never
// enlarged. `partial`, when given, tells whether the picture decoded only
// in part (a JPEG file cut short or damaged inside: its missing rows grey).
QImage ReadPicture(const QByteArray& data, QSize fit = {}, bool* partial = nullptr);

// The same for a file; a missing, unreadable or over-large file gives a null image.
QImage LoadPicture(const QString& path, QSize fit = {}, bool* partial = nullptr);

// LoadPicture for each of `paths`, decoded side by side on worker threads
// (images only); returns once all are done, the images in the order of `paths`.
QList<QImage> LoadPictures(const QStringList& paths, QSize fit = {});

// The picture's size as it is shown, turned as the camera was held (no
// decoding); invalid when unknown.
QSize PictureSize(const QString& path);

// True when the data begin like a JPEG stream.
bool IsJpeg(const QByteArray& data);

}  // namespace kui
