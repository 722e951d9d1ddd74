#include "platform/ui/Picture.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
#include <system_error>
#include <thread>
#include <vector>

namespace kui {

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    bool damaged = false;  // a warning that the picture lacks some of its data
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegSilent(j_common_ptr)
{
}

// Warnings are counted, not shown; those about the data (cut short, a
// corrupt segment) tell that the picture decoded only in part, unlike the
// harmless ones (padding before a marker, a newer header version).
void JpegWarning(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // trace messages
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    const int code = err->mgr.msg_code;
    if (code != JWRN_EXTRANEOUS_DATA && code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM)
        err->damaged = true;
    ++err->mgr.num_warnings;
}

// A progressive stream may carry thousands of tiny scans, each a pass over
// the whole coefficient buffer: more than this many is refused.
constexpr int kMaxScans = 500;

void JpegProgress(j_common_ptr common)
{
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->is_decompressor && cinfo->input_scan_number > kMaxScans)
        JpegErrorExit(common);
}

bool SizeAllowed(qint64 w, qint64 h)
{
    return w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && w * h <= kMaxPicturePixels;
}

// The denominator d in {8, 4, 2, 1}, largest first, whose 1/d scale still
// covers the reduction that fits w x h into `fit`.
int ScaleDenominator(int w, int h, QSize fit)
{
    if (fit.isEmpty())
        return 1;
    const double s = std::min(double(fit.width()) / w, double(fit.height()) / h);
    for (int d : {8, 4, 2})
        if (1.0 / d >= s)
            return d;
    return 1;
}

QImage Reduce(QImage image, QSize fit)
{
    if (image.isNull() || fit.isEmpty())
        return image;
    if (image.width() <= fit.width() && image.height() <= fit.height())
        return image;
    return image.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The orientation a camera wrote in the picture's Exif block (1 to 8; 1,
// the stored rows as they are, when there is none or it cannot be read).
// Only the markers before the image data are looked at.
int JpegOrientation(const QByteArray& data)
{
    const auto* d = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype n = data.size();
    qsizetype at = 2;
    while (at + 4 <= n && d[at] == 0xFF) {
        const uchar marker = d[at + 1];
        if (marker == 0xDA || marker == 0xD9)
            break;  // the image data: no Exif block before it
        const qsizetype length = (qsizetype(d[at + 2]) << 8) | d[at + 3];
        if (length < 2 || at + 2 + length > n)
            break;
        const uchar* seg = d + at + 4;
        const qsizetype segLen = length - 2;
        if (marker == 0xE1 && segLen >= 14 && std::memcmp(seg, "Exif\0\0", 6) == 0) {
            const uchar* tiff = seg + 6;
            const qsizetype tiffLen = segLen - 6;
            const bool little = tiff[0] == 'I' && tiff[1] == 'I';
            if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
                return 1;
            const auto u16 = [&](qsizetype o) -> quint32 {
                return little ? quint32(tiff[o] | (tiff[o + 1] << 8)) : quint32((tiff[o] << 8) | tiff[o + 1]);
            };
            const auto u32 = [&](qsizetype o) -> quint32 {
                return little ? quint32(u16(o)) | (quint32(u16(o + 2)) << 16)
                              : (quint32(u16(o)) << 16) | quint32(u16(o + 2));
            };
            const qsizetype ifd = u32(4);
            if (ifd < 8 || ifd + 2 > tiffLen)
                return 1;
            const quint32 entries = u16(ifd);
            for (quint32 i = 0; i < entries; ++i) {
                const qsizetype e = ifd + 2 + qsizetype(i) * 12;
                if (e + 12 > tiffLen)
                    return 1;
                if (u16(e) == 0x0112) {  // Orientation, a SHORT
                    const quint32 value = u16(e + 8);
                    return value >= 1 && value <= 8 ? int(value) : 1;
                }
            }
            return 1;
        }
        at += 2 + length;
    }
    return 1;
}

// Orientations 5 to 8 turn the picture a quarter: its sides swap.
bool SwapsSides(int orientation)
{
    return orientation >= 5;
}

// The stored rows turned as the camera was held.
QImage Orient(QImage image, int orientation)
{
    if (image.isNull() || orientation <= 1 || orientation > 8)
        return image;
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    }
    return image;
}

// setjmp/longjmp: no object with a destructor may live between the two,
// hence the plain output buffer filled here and wrapped afterwards.
bool DecodeJpeg(const QByteArray& data, QSize fit, QImage& out, bool& partial)
{
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.output_message = JpegSilent;
    err.mgr.emit_message = JpegWarning;
    progress.progress_monitor = JpegProgress;
    QImage* volatile image = nullptr;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete image;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(
        &cinfo, reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (!SizeAllowed(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // The rows land in QImage::Format_RGB32 (0xffRRGGBB words) as they are.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif
    cinfo.scale_num = 1;
    // The fit is of the turned picture: the stored rows may lie across it.
    if (SwapsSides(JpegOrientation(data)))
        fit.transpose();
    cinfo.scale_denom = static_cast<unsigned>(ScaleDenominator(int(cinfo.image_width), int(cinfo.image_height), fit));
    // A reduced picture is scaled again afterwards: the fast transform and
    // plain upsampling lose nothing visible there.
    const bool reduced = cinfo.scale_denom > 1;
    cinfo.dct_method = reduced ? JDCT_IFAST : JDCT_ISLOW;
    cinfo.do_fancy_upsampling = reduced ? FALSE : TRUE;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    image = new QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB32);
    if (image->isNull()) {
        delete image;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    // A stream cut short or damaged in its data decodes what it holds, the
    // rest grey; the reader warned each time.
    partial = err.damaged;
    const bool adobeInverted = cinfo.saw_Adobe_marker;
    jpeg_destroy_decompress(&cinfo);
    if (cmyk) {
        // Adobe writes CMYK inverted: each byte is 255 - ink.
        for (int y = 0; y < image->height(); ++y) {
            uchar* p = image->scanLine(y);
            auto* px = reinterpret_cast<QRgb*>(p);
            for (int x = 0; x < image->width(); ++x, p += 4) {
                int c = p[0], m = p[1], yy = p[2], k = p[3];
                if (!adobeInverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                px[x] = qRgb(c * k / 255, m * k / 255, yy * k / 255);
            }
        }
    }
    out = std::move(*image);
    delete image;
    return true;
}

QImage DecodeOther(const QByteArray& data, QSize fit)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(int(kMaxPicturePixels * 4 / (1 << 20)) + 1);
    const QSize size = reader.size();
    if (size.isValid() && !SizeAllowed(size.width(), size.height()))
        return {};
    // A picture turned on reading is scaled before it is turned.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        fit.transpose();
    if (size.isValid() && !fit.isEmpty() && (size.width() > fit.width() || size.height() > fit.height()) &&
        reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(size.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image))
        return {};
    if (!SizeAllowed(image.width(), image.height()))
        return {};
    return image;
}

}  // namespace

bool IsJpeg(const QByteArray& data)
{
    return data.size() >= 3 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xD8 && uchar(data[2]) == 0xFF;
}

QImage ReadPicture(const QByteArray& data, QSize fit, bool* partial)
{
    if (partial)
        *partial = false;
    if (data.isEmpty() || data.size() > kMaxPictureFileBytes)
        return {};
    if (IsJpeg(data)) {
        QImage image;
        bool cut = false;
        if (!DecodeJpeg(data, fit, image, cut))
            return {};
        if (partial)
            *partial = cut;
        return Reduce(Orient(std::move(image), JpegOrientation(data)), fit);
    }
    return Reduce(DecodeOther(data, fit), fit);
}

QImage LoadPicture(const QString& path, QSize fit, bool* partial)
{
    if (partial)
        *partial = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPictureFileBytes)
        return {};
    return ReadPicture(file.readAll(), fit, partial);
}

QList<QImage> LoadPictures(const QStringList& paths, QSize fit)
{
    QList<QImage> images(paths.size());
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i = next++; i < paths.size(); i = next++) {
            try {
                images[i] = LoadPicture(paths[i], fit);
            } catch (const std::exception&) {
                // out of memory: that picture stays null
            }
        }
    };
    const qsizetype count = std::min<qsizetype>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> workers;
    try {
        for (qsizetype i = 1; i < count; ++i)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // fewer workers: the others share the remaining pictures
    }
    work();  // the calling thread takes its share
    for (std::thread& t : workers)
        t.join();
    return images;
}

QSize PictureSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.peek(3);
    if (!IsJpeg(head)) {
        QImageReader reader(&file);
        reader.setAutoTransform(true);
        QSize size = reader.size();
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            size.transpose();
        return size;
    }
    const QByteArray data = file.readAll();
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.output_message = JpegSilent;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(
        &cinfo, reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    QSize size(int(cinfo.image_width), int(cinfo.image_height));
    jpeg_destroy_decompress(&cinfo);
    if (SwapsSides(JpegOrientation(data)))
        size.transpose();
    return size;
}

}  // namespace kui
