#include "platform/db/core/Collation.h"

#include <memory>
#include <vector>

#include "platform/db/core/Codepage.h"

namespace kdb {

namespace {

// The letters in order: each base letter, then its variants.
constexpr char16_t kLetters[] = u"AaÀàÁáÂâÃãÄäÅåÆæ"
                                u"Bb"
                                u"CcÇç"
                                u"DdÐð"
                                u"EeÈèÉéÊêËë"
                                u"Ffƒ"
                                u"Gg"
                                u"Hh"
                                u"IiÌìÍíÎîÏïı"
                                u"Jj"
                                u"Kk"
                                u"Ll"
                                u"Mm"
                                u"NnÑñ"
                                u"OoÒòÓóÔôÕõÖöØøŒœ"
                                u"Pp"
                                u"Qq"
                                u"Rr"
                                u"SsŠšß"
                                u"TtÞþ"
                                u"UuÙùÚúÛûÜü"
                                u"Vv"
                                u"Ww"
                                u"Xx"
                                u"YyÝýŸÿ"
                                u"ZzŽž";

constexpr uint32_t kDigitBase = 0x10001;  // above every symbol (1 + unit)
constexpr uint32_t kLetterBase = 0x10100;  // above the digits

struct Weights {
    std::vector<uint32_t> w;
    Weights() : w(0x10000)
    {
        for (uint32_t u = 0; u < 0x10000; ++u)
            w[u] = 1 + u;
        w[' '] = 0;
        for (uint32_t d = 0; d < 10; ++d)
            w['0' + d] = kDigitBase + d;
        uint32_t rank = 0;
        for (const char16_t* p = kLetters; *p; ++p)
            w[*p] = kLetterBase + rank++;
    }
};

const std::vector<uint32_t>& weights()
{
    static const Weights w;
    return w.w;
}

int threeWay(uint32_t x, uint32_t y)
{
    return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace

uint32_t collationWeight(char16_t unit)
{
    return weights()[unit];
}

int compareCollated(QStringView a, QStringView b)
{
    const auto& w = weights();
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x != y)
            return threeWay(w[x], w[y]);
    }
    return threeWay(static_cast<uint32_t>(a.size()), static_cast<uint32_t>(b.size()));
}

Collation::Collation(int codePage) : codePage_(codePage)
{
    const auto& units = codePageUnits(codePage);
    for (size_t b = 0; b < 256; ++b)
        weight_[b] = collationWeight(units[b]);
}

const Collation& Collation::forCodePage(int codePage)
{
    static const Collation c437(kCodePage437), c850(kCodePage850), c1252(kCodePage1252);
    switch (codePage) {
    case kCodePage437:
        return c437;
    case kCodePage850:
        return c850;
    default:
        return c1252;
    }
}

int Collation::compare(std::string_view a, std::string_view b) const
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return threeWay(weight_[static_cast<unsigned char>(a[i])], weight_[static_cast<unsigned char>(b[i])]);
    return threeWay(static_cast<uint32_t>(a.size()), static_cast<uint32_t>(b.size()));
}

}  // namespace kdb
