#pragma once
// Test pictures as cameras write them: a JPEG file carrying an Exif block
// whose orientation tells how the camera was held.
#include <QBuffer>
#include <QByteArray>
#include <QImage>

namespace testpic {

// The JPEG of `image` with an Exif block (little-endian, one entry) giving
// `orientation` (1 to 8) right after the start marker.
inline QByteArray JpegWithOrientation(const QImage& image, int orientation, int quality = 90)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    tiff += QByteArray("\x01\0", 2);  // one entry
    tiff += QByteArray("\x12\x01\x03\0\x01\0\0\0", 8);  // Orientation, SHORT, count 1
    tiff += char(orientation);
    tiff += QByteArray(3, '\0');
    tiff += QByteArray(4, '\0');  // no next directory
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(body.size()) + 2;
    QByteArray app1("\xFF\xE1", 2);
    app1 += char(length >> 8);
    app1 += char(length & 0xFF);
    app1 += body;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

}  // namespace testpic
