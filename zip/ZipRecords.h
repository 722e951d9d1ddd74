#pragma once
// Little-endian fields of the zip records, and their signatures.
#include <cstdint>

namespace ziprec {

constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kSpanSig = 0x08074B50;  // first 4 bytes of the first volume of a set

inline uint16_t Get16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Put16(unsigned char* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

}  // namespace ziprec

#include <QString>

namespace ziprec {

// Where the three digits of a volume file's number lie in Name: the three
// characters before the extension (fewer when the base name is shorter).
struct NumberField {
    int start = 0;
    int end = 0;  // the extension's dot, or the end of the name
    explicit NumberField(const QString& name)
    {
        const int slash = int(name.lastIndexOf(QLatin1Char('/')));
        end = int(name.lastIndexOf(QLatin1Char('.')));
        if (end <= slash + 1)
            end = int(name.size());
        start = end - 3 > slash + 1 ? end - 3 : slash + 1;
    }
};

}  // namespace ziprec
