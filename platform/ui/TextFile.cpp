#include "platform/ui/TextFile.h"

#include "platform/db/core/Codepage.h"

#include <QStringDecoder>

namespace kui {

QString DecodeText(const QByteArray& bytes, TextEncoding* found)
{
    // One leading byte-order mark is dropped, here and only here.
    QStringDecoder utf8(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (found)
            *found = TextEncoding::Utf8;
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    if (found)
        *found = TextEncoding::Windows1252;
    return kdb::fromCp1252(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QByteArray EncodeText(const QString& text, TextEncoding wanted, TextEncoding* used)
{
    if (wanted == TextEncoding::Windows1252) {
        QByteArray out;
        out.reserve(text.size());
        bool whole = true;
        for (const QChar ch : text) {
            char b = 0;
            if (!kdb::byteOfUnit(kdb::kCodePage1252, ch.unicode(), b)) {
                whole = false;
                break;
            }
            out.append(b);
        }
        // Bytes that read back as UTF-8 would change the text on the next read.
        if (whole && DecodeText(out) == text) {
            if (used)
                *used = TextEncoding::Windows1252;
            return out;
        }
    }
    if (used)
        *used = TextEncoding::Utf8;
    // A text that starts with U+FEFF keeps it behind the mark dropped on reading.
    return text.startsWith(QChar(0xFEFF)) ? QByteArray("\xEF\xBB\xBF") + text.toUtf8() : text.toUtf8();
}

QStringList DecodeLines(const QByteArray& bytes, TextEncoding* found)
{
    QStringList lines;
    const QString text = DecodeText(bytes, found);
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

}  // namespace kui
