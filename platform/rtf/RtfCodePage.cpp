#include "RtfCodePage.h"

#include <QByteArray>
#include <QStringDecoder>

#include <map>
#include <memory>

namespace krtf {

namespace {

ByteTable Windows1252()
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
        0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    ByteTable t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<char16_t>(b);
    for (int b = 0; b < 32; ++b)
        t[0x80 + b] = high[b];
    return t;
}

QByteArray DecoderName(int codePage)
{
    switch (codePage) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 10000:
        return "macintosh";
    case 874:
        return "windows-874";
    default:
        if (codePage >= 1250 && codePage <= 1258)
            return "windows-" + QByteArray::number(codePage);
        return {};
    }
}

}  // namespace

const ByteTable& CodePageTable(int codePage)
{
    static const ByteTable cp1252 = Windows1252();
    static std::map<int, std::unique_ptr<ByteTable>> tables;
    if (codePage == 1252 || codePage <= 0)
        return cp1252;
    auto it = tables.find(codePage);
    if (it != tables.end())
        return it->second ? *it->second : cp1252;
    std::unique_ptr<ByteTable> table;
    const QByteArray name = DecoderName(codePage);
    if (!name.isEmpty()) {
        QStringDecoder decoder(name.constData());
        if (decoder.isValid()) {
            table = std::make_unique<ByteTable>(cp1252);
            for (int b = 0x80; b < 256; ++b) {
                const char byte = static_cast<char>(b);
                const QString s = decoder.decode(QByteArrayView(&byte, 1));
                if (s.size() == 1)
                    (*table)[b] = s.at(0).unicode();
                decoder.resetState();
            }
        }
    }
    const ByteTable& result = table ? *table : cp1252;
    tables.emplace(codePage, std::move(table));
    return result;
}

int CharsetCodePage(int charset)
{
    switch (charset) {
    case 0:
        return 1252;
    case 77:
        return 10000;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0;
    }
}

}  // namespace krtf
