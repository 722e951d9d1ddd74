#include "platform/db/sql/RawBytes.h"

#include <QDate>

#include <array>
#include <cstring>
#include <unordered_map>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/Collation.h"
#include "platform/db/sql/Values.h"

namespace kdb::sql {

namespace {

// The UTF-16 unit of each Windows-1252 byte, and the byte of each unit.
struct Cp1252Units {
    std::array<char16_t, 256> unit{};
    std::unordered_map<char16_t, char> byte;
    Cp1252Units()
    {
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            unit[static_cast<size_t>(b)] = fromCp1252(std::string_view(&c, 1)).at(0).unicode();
            byte[unit[static_cast<size_t>(b)]] = c;
        }
    }
};
const Cp1252Units& cp1252()
{
    static const Cp1252Units u;
    return u;
}

}  // namespace

// Without its trailing blanks (and NULs); eight bytes at a time, as wide
// character columns are mostly blanks.
std::string_view rawTrimRight(std::string_view s)
{
    size_t n = s.size();
    while (n >= 32) {  // four words at a time
        uint64_t w[4];
        std::memcpy(w, s.data() + n - 32, 32);
        if (((w[0] | w[1] | w[2] | w[3]) & 0xDFDFDFDFDFDFDFDFull) != 0)
            break;
        n -= 32;
    }
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + n - 8, 8);
        if ((w & 0xDFDFDFDFDFDFDFDFull) != 0)
            break;  // a byte other than ' ' or NUL
        n -= 8;
    }
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}

// True when the bytes hold something besides blanks (and NULs).
bool rawHasText(std::string_view s)
{
    for (char c : s)
        if (c != ' ' && c != '\0')
            return true;
    return false;
}

// Text as stored bytes; false when a character has no byte.
bool toRawText(const QString& s, std::string& out)
{
    const Cp1252Units& u = cp1252();
    out.clear();
    out.reserve(static_cast<size_t>(s.size()));
    for (const QChar ch : s) {
        const char16_t c = ch.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto it = u.byte.find(c);
        if (it == u.byte.end())
            return false;
        out.push_back(it->second);
    }
    return true;
}

// Orders two stored texts as their decoded texts order.
int compareRawText(std::string_view a, std::string_view b)
{
    static const Collation& c = Collation::forCodePage(kCodePage1252);
    return c.compare(a, b);
}

void rawToUtf16(std::string_view s, char16_t* out)
{
    const auto& unit = cp1252().unit;
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = unit[static_cast<unsigned char>(s[i])];
}

void appendRawText(QString& out, std::string_view s)
{
    const qsizetype at = out.size();
    out.resize(at + static_cast<qsizetype>(s.size()));
    rawToUtf16(s, reinterpret_cast<char16_t*>(out.data() + at));
}

bool likeMatchRaw(std::string_view s, std::string_view p)
{
    size_t si = 0, pi = 0, mark = 0;
    long star = -1;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '_' || (p[pi] != '%' && p[pi] == s[si]))) {
            ++si;
            ++pi;
        } else if (pi < p.size() && p[pi] == '%') {
            star = static_cast<long>(pi++);
            mark = si;
        } else if (star >= 0) {
            pi = static_cast<size_t>(star) + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}

bool rawDateValid(std::string_view s)
{
    if (s.size() != 8)
        return false;
    int v[3] = {0, 0, 0};
    const int len[3] = {4, 2, 2};
    size_t pos = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < len[k]; ++i, ++pos) {
            if (s[pos] < '0' || s[pos] > '9')
                return false;
            v[k] = v[k] * 10 + (s[pos] - '0');
        }
    return QDate::isValid(v[0], v[1], v[2]);
}

// A stored number: 1 with its value, 0 for no value, -1 when its text
// needs the full reading (decimals, exponent, anything unusual).
int rawNumber(std::string_view s, double& out)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0'))
        s.remove_prefix(1);
    if (s.empty())
        return 0;
    bool neg = false;
    if (s.front() == '-' || s.front() == '+') {
        neg = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 18)
        return -1;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    out = static_cast<double>(neg ? -v : v);
    return 1;
}

}  // namespace kdb::sql
