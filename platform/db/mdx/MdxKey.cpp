#include "MdxKey.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/db/core/Collation.h"

namespace kdb::mdx {

namespace {

constexpr int kExponentBias = 0x34;
constexpr int kMaxDigits = 20;  // ten bytes of packed digits

int signum(int v)
{
    return (v > 0) - (v < 0);
}

// A numeric key split into its parts; nullopt when the bytes are no numeric key.
struct Bcd {
    bool negative = false;
    bool zero = true;
    uint8_t exponent = 0;
    const uint8_t* digits = nullptr;  // 10 bytes
};

Bcd splitBcd(std::string_view key)
{
    Bcd b;
    auto p = reinterpret_cast<const uint8_t*>(key.data());
    b.exponent = p[0];
    b.digits = p + 2;
    for (int i = 0; i < 10; ++i)
        if (b.digits[i] != 0) {
            b.zero = false;
            break;
        }
    b.negative = !b.zero && (p[1] & 0x80) != 0;
    return b;
}

int compareBytes(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0)
        return signum(c);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

std::string encodeCharacter(std::string_view text, int keyLength)
{
    if (keyLength < 0)
        keyLength = 0;
    std::string out(text.substr(0, static_cast<size_t>(keyLength)));
    out.resize(static_cast<size_t>(keyLength), ' ');
    return out;
}

int64_t julianDayNumber(int year, int month, int day)
{
    const int64_t y = year, m = month, d = day;
    const int64_t a = (14 - m) / 12;
    const int64_t yy = y + 4800 - a;
    const int64_t mm = m + 12 * a - 3;
    // Floor divisions; yy >= 88 for year >= -4712 so plain division is exact.
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void calendarDate(int64_t jdn, int& year, int& month, int& day)
{
    const int64_t a = jdn + 32044;
    const int64_t b = (4 * a + 3) / 146097;
    const int64_t c = a - 146097 * b / 4;
    const int64_t d = (4 * c + 3) / 1461;
    const int64_t e = c - 1461 * d / 4;
    const int64_t m = (5 * e + 2) / 153;
    day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m + 3 - 12 * (m / 10));
    year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

std::string encodeDateJdn(double jdn)
{
    std::string out(kDateKeyLen, '\0');
    std::memcpy(out.data(), &jdn, sizeof jdn);  // the host is little-endian
    return out;
}

std::string encodeDate(int year, int month, int day)
{
    return encodeDateJdn(static_cast<double>(julianDayNumber(year, month, day)));
}

std::string encodeBlankDate()
{
    return encodeDateJdn(0.0);
}

std::optional<std::string> encodeDateText(std::string_view s)
{
    bool blank = true;
    for (char c : s)
        if (c != ' ' && c != '\0' && c != '0') {
            blank = false;
            break;
        }
    if (blank)
        return encodeBlankDate();
    if (s.size() != 8)
        return std::nullopt;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return std::nullopt;
        v[i] = s[i] - '0';
    }
    const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    const int month = v[4] * 10 + v[5];
    const int day = v[6] * 10 + v[7];
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int maxDay = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > maxDay)
        return std::nullopt;
    return encodeDate(year, month, day);
}

double decodeDate(std::string_view key)
{
    double v = 0.0;
    if (key.size() == sizeof v)
        std::memcpy(&v, key.data(), sizeof v);
    return v;
}

std::optional<std::string> encodeNumericText(std::string_view text)
{
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\0'))
        ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\0'))
        --n;
    bool negative = false, sign = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        sign = true;
        ++i;
    }
    std::string intPart, fracPart;
    bool point = false, anyDigit = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            (point ? fracPart : intPart).push_back(c);
            anyDigit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit && (point || sign))
        return std::nullopt;

    // Significant digits and the decimal exponent of 0.d1d2d3... x 10^exp.
    size_t lead = 0;
    while (lead < intPart.size() && intPart[lead] == '0')
        ++lead;
    std::string digits;
    long exponent = 0;
    if (lead < intPart.size()) {
        digits = intPart.substr(lead) + fracPart;
        exponent = static_cast<long>(intPart.size() - lead);
    } else {
        size_t z = 0;
        while (z < fracPart.size() && fracPart[z] == '0')
            ++z;
        digits = fracPart.substr(z);
        exponent = -static_cast<long>(z);
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();

    std::string key(kNumericKeyLen, '\0');
    if (digits.empty()) {  // zero (also blank and "-0")
        key[0] = static_cast<char>(kExponentBias);
        key[1] = 0x01;
        return key;
    }
    if (digits.size() > static_cast<size_t>(kMaxDigits))
        return std::nullopt;
    const long biased = exponent + kExponentBias;
    if (biased < 0 || biased > 255)
        return std::nullopt;
    key[0] = static_cast<char>(biased);
    key[1] = static_cast<char>((negative ? 0x80 : 0x00) | (digits.size() << 2) | 0x01);
    for (size_t d = 0; d < digits.size(); ++d) {
        const int nibble = digits[d] - '0';
        auto& byte = key[2 + d / 2];
        byte = static_cast<char>(static_cast<uint8_t>(byte) | (d % 2 == 0 ? nibble << 4 : nibble));
    }
    return key;
}

std::optional<std::string> encodeNumeric(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (r.ec != std::errc())
        return std::nullopt;
    return encodeNumericText(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

std::string numericKeyText(std::string_view key)
{
    if (key.size() != static_cast<size_t>(kNumericKeyLen))
        return "0";
    const Bcd b = splitBcd(key);
    if (b.zero)
        return "0";
    std::string digits;
    for (int d = 0; d < kMaxDigits; ++d) {
        const uint8_t byte = b.digits[d / 2];
        digits.push_back(static_cast<char>('0' + (d % 2 == 0 ? byte >> 4 : byte & 0x0F) % 10));
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    const long exponent = static_cast<long>(b.exponent) - kExponentBias;
    std::string out = b.negative ? "-" : "";
    if (exponent <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent), '0');
        out += digits;
    } else if (static_cast<size_t>(exponent) >= digits.size()) {
        out += digits;
        out.append(static_cast<size_t>(exponent) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<size_t>(exponent));
        out += '.';
        out += digits.substr(static_cast<size_t>(exponent));
    }
    return out;
}

double decodeNumeric(std::string_view key)
{
    const std::string text = numericKeyText(key);
    double v = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

int compareKeys(KeyType type, std::string_view a, std::string_view b, const Collation* collation)
{
    switch (type) {
    case KeyType::Character: {
        const size_t n = std::min(a.size(), b.size());
        if (collation)
            return collation->compare(a.substr(0, n), b.substr(0, n));
        const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
        return signum(c);
    }
    case KeyType::Date: {
        if (a.size() != sizeof(double) || b.size() != sizeof(double))
            return compareBytes(a, b);
        const double x = decodeDate(a), y = decodeDate(b);
        if (std::isnan(x) || std::isnan(y))
            return compareBytes(a, b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case KeyType::Numeric: {
        if (a.size() != static_cast<size_t>(kNumericKeyLen) || b.size() != static_cast<size_t>(kNumericKeyLen))
            return compareBytes(a, b);
        const Bcd x = splitBcd(a), y = splitBcd(b);
        const int cx = x.zero ? 0 : (x.negative ? -1 : 1);
        const int cy = y.zero ? 0 : (y.negative ? -1 : 1);
        if (cx != cy)
            return cx < cy ? -1 : 1;
        if (cx == 0)
            return 0;
        int c = x.exponent < y.exponent ? -1 : (x.exponent > y.exponent ? 1 : 0);
        if (c == 0)
            c = signum(std::memcmp(x.digits, y.digits, 10));
        return cx < 0 ? -c : c;
    }
    }
    return compareBytes(a, b);
}

int fixedKeyLength(KeyType type)
{
    switch (type) {
    case KeyType::Date:
        return kDateKeyLen;
    case KeyType::Numeric:
        return kNumericKeyLen;
    case KeyType::Character:
        return 0;
    }
    return 0;
}

}  // namespace kdb::mdx
