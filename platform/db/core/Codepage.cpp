#include "platform/db/core/Codepage.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kdb {

namespace {

// Code points of the bytes 0x80..0x9F of Windows-1252; the rest of the
// table equals Latin-1.
constexpr std::array<char16_t, 32> k1252High = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

// Code points of the bytes 0x80..0xFF of the two MS-DOS code pages.
constexpr std::array<char16_t, 128> k437High = {
    0x00C7,
    0x00FC,
    0x00E9,
    0x00E2,
    0x00E4,
    0x00E0,
    0x00E5,
    0x00E7,
    0x00EA,
    0x00EB,
    0x00E8,
    0x00EF,
    0x00EE,
    0x00EC,
    0x00C4,
    0x00C5,
    0x00C9,
    0x00E6,
    0x00C6,
    0x00F4,
    0x00F6,
    0x00F2,
    0x00FB,
    0x00F9,
    0x00FF,
    0x00D6,
    0x00DC,
    0x00A2,
    0x00A3,
    0x00A5,
    0x20A7,
    0x0192,
    0x00E1,
    0x00ED,
    0x00F3,
    0x00FA,
    0x00F1,
    0x00D1,
    0x00AA,
    0x00BA,
    0x00BF,
    0x2310,
    0x00AC,
    0x00BD,
    0x00BC,
    0x00A1,
    0x00AB,
    0x00BB,
    0x2591,
    0x2592,
    0x2593,
    0x2502,
    0x2524,
    0x2561,
    0x2562,
    0x2556,
    0x2555,
    0x2563,
    0x2551,
    0x2557,
    0x255D,
    0x255C,
    0x255B,
    0x2510,
    0x2514,
    0x2534,
    0x252C,
    0x251C,
    0x2500,
    0x253C,
    0x255E,
    0x255F,
    0x255A,
    0x2554,
    0x2569,
    0x2566,
    0x2560,
    0x2550,
    0x256C,
    0x2567,
    0x2568,
    0x2564,
    0x2565,
    0x2559,
    0x2558,
    0x2552,
    0x2553,
    0x256B,
    0x256A,
    0x2518,
    0x250C,
    0x2588,
    0x2584,
    0x258C,
    0x2590,
    0x2580,
    0x03B1,
    0x00DF,
    0x0393,
    0x03C0,
    0x03A3,
    0x03C3,
    0x00B5,
    0x03C4,
    0x03A6,
    0x0398,
    0x03A9,
    0x03B4,
    0x221E,
    0x03C6,
    0x03B5,
    0x2229,
    0x2261,
    0x00B1,
    0x2265,
    0x2264,
    0x2320,
    0x2321,
    0x00F7,
    0x2248,
    0x00B0,
    0x2219,
    0x00B7,
    0x221A,
    0x207F,
    0x00B2,
    0x25A0,
    0x00A0,
};
constexpr std::array<char16_t, 128> k850High = {
    0x00C7,
    0x00FC,
    0x00E9,
    0x00E2,
    0x00E4,
    0x00E0,
    0x00E5,
    0x00E7,
    0x00EA,
    0x00EB,
    0x00E8,
    0x00EF,
    0x00EE,
    0x00EC,
    0x00C4,
    0x00C5,
    0x00C9,
    0x00E6,
    0x00C6,
    0x00F4,
    0x00F6,
    0x00F2,
    0x00FB,
    0x00F9,
    0x00FF,
    0x00D6,
    0x00DC,
    0x00F8,
    0x00A3,
    0x00D8,
    0x00D7,
    0x0192,
    0x00E1,
    0x00ED,
    0x00F3,
    0x00FA,
    0x00F1,
    0x00D1,
    0x00AA,
    0x00BA,
    0x00BF,
    0x00AE,
    0x00AC,
    0x00BD,
    0x00BC,
    0x00A1,
    0x00AB,
    0x00BB,
    0x2591,
    0x2592,
    0x2593,
    0x2502,
    0x2524,
    0x00C1,
    0x00C2,
    0x00C0,
    0x00A9,
    0x2563,
    0x2551,
    0x2557,
    0x255D,
    0x00A2,
    0x00A5,
    0x2510,
    0x2514,
    0x2534,
    0x252C,
    0x251C,
    0x2500,
    0x253C,
    0x00E3,
    0x00C3,
    0x255A,
    0x2554,
    0x2569,
    0x2566,
    0x2560,
    0x2550,
    0x256C,
    0x00A4,
    0x00F0,
    0x00D0,
    0x00CA,
    0x00CB,
    0x00C8,
    0x0131,
    0x00CD,
    0x00CE,
    0x00CF,
    0x2518,
    0x250C,
    0x2588,
    0x2584,
    0x00A6,
    0x00CC,
    0x2580,
    0x00D3,
    0x00DF,
    0x00D4,
    0x00D2,
    0x00F5,
    0x00D5,
    0x00B5,
    0x00FE,
    0x00DE,
    0x00DA,
    0x00DB,
    0x00D9,
    0x00FD,
    0x00DD,
    0x00AF,
    0x00B4,
    0x00AD,
    0x00B1,
    0x2017,
    0x00BE,
    0x00B6,
    0x00A7,
    0x00F7,
    0x00B8,
    0x00B0,
    0x00A8,
    0x00B7,
    0x00B9,
    0x00B3,
    0x00B2,
    0x25A0,
    0x00A0,
};

// One code page both ways: the unit of each byte, and the bytes of the
// units above 0x7F sorted by unit.
struct Table {
    std::array<char16_t, 256> unit{};
    std::array<std::pair<char16_t, char>, 128> byUnit{};
    // `high` holds the units of the bytes from 0x80 on; the bytes after
    // it stand for the Latin-1 character of their number.
    template <size_t N> explicit Table(const std::array<char16_t, N>& high)
    {
        for (int b = 0; b < 256; ++b)
            unit[static_cast<size_t>(b)] = static_cast<char16_t>(b);
        for (size_t i = 0; i < N; ++i)
            unit[0x80 + i] = high[i];
        for (size_t b = 0x80; b < 0x100; ++b)
            byUnit[b - 0x80] = {unit[b], static_cast<char>(b)};
        std::sort(byUnit.begin(), byUnit.end());
    }
    bool byteOf(char16_t u, char& b) const
    {
        if (u < 0x80) {
            b = static_cast<char>(u);
            return true;
        }
        auto it = std::lower_bound(byUnit.begin(), byUnit.end(), std::pair<char16_t, char>(u, '\0'),
            [](const auto& x, const auto& y) { return x.first < y.first; });
        if (it == byUnit.end() || it->first != u)
            return false;
        b = it->second;
        return true;
    }
};

const Table& table(int codePage)
{
    static const Table t437(k437High), t850(k850High), t1252(k1252High);
    switch (codePage) {
    case kCodePage437:
        return t437;
    case kCodePage850:
        return t850;
    default:
        return t1252;
    }
}

}  // namespace

int codePageOfDriver(uint8_t driver)
{
    switch (driver) {
    case 0x01:
    case 0x1B:
        return kCodePage437;
    case 0x02:
    case 0x37:
        return kCodePage850;
    default:
        return kCodePage1252;
    }
}

const std::array<char16_t, 256>& codePageUnits(int codePage)
{
    return table(codePage).unit;
}

bool plainAscii(std::string_view bytes)
{
    // eight bytes at a time
    uint64_t high = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, bytes.data() + i, 8);
        high |= w;
    }
    for (; i < bytes.size(); ++i)
        high |= static_cast<unsigned char>(bytes[i]);
    return (high & 0x8080808080808080ull) == 0;
}

QString fromCodePage(int codePage, std::string_view bytes)
{
    // ASCII text (most of it) is Latin-1 as well
    if (plainAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const auto& unit = table(codePage).unit;
    QString out;
    out.resize(static_cast<qsizetype>(bytes.size()));
    QChar* d = out.data();
    for (size_t i = 0; i < bytes.size(); ++i)
        d[i] = QChar(unit[static_cast<unsigned char>(bytes[i])]);
    return out;
}

std::string toCodePage(int codePage, const QString& text)
{
    const Table& t = table(codePage);
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (const QChar ch : text) {
        char b = '?';
        t.byteOf(ch.unicode(), b);
        out.push_back(b);
    }
    return out;
}

bool byteOfUnit(int codePage, char16_t unit, char& byte)
{
    return table(codePage).byteOf(unit, byte);
}

QString storableText(int codePage, const QString& text, QChar fallback)
{
    // Letters without a decomposition, and the Latin letter they are read as.
    static const std::array<std::pair<char16_t, char16_t>, 13> nearest = {{{u'Ł', u'L'}, {u'ł', u'l'},
        {u'Đ', u'D'}, {u'đ', u'd'}, {u'Ħ', u'H'}, {u'ħ', u'h'}, {u'ı', u'i'}, {u'Ŧ', u'T'}, {u'ŧ', u't'},
        {u'Ŀ', u'L'}, {u'ŀ', u'l'}, {u'Ø', u'O'}, {u'ø', u'o'}}};
    const Table& t = table(codePage);
    char byte = 0;
    QString out = text;
    for (QChar& c : out) {
        if (t.byteOf(c.unicode(), byte))
            continue;
        QChar plain = fallback;
        if (!c.isSurrogate()) {
            QString base;
            for (const QChar d : c.decomposition())
                if (d.category() != QChar::Mark_NonSpacing)
                    base += d;
            if (base.size() == 1 && t.byteOf(base.at(0).unicode(), byte)) {
                plain = base.at(0);
            } else {
                for (const auto& [letter, latin] : nearest)
                    if (letter == c.unicode() && t.byteOf(latin, byte))
                        plain = QChar(latin);
            }
        }
        c = plain;
    }
    return out;
}

QString fromCp1252(std::string_view bytes)
{
    return fromCodePage(kCodePage1252, bytes);
}

std::string toCp1252(const QString& text)
{
    return toCodePage(kCodePage1252, text);
}

unsigned char upperCp1252(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<unsigned char>(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E)
        return static_cast<unsigned char>(c - 16);
    if (c == 0xFF)
        return 0x9F;
    return c;
}

}  // namespace kdb
