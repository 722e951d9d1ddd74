#include "platform/zipeng/EntryRules.h"

#include <sys/stat.h>

namespace zipeng {

namespace {

constexpr unsigned kUnixHost = 3;

uint16_t Get16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

bool IsFolderName(const std::string& name)
{
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

std::string Named(const char* reason, const std::string& raw)
{
    return std::string(reason) + " : " + ShownName(raw);
}

}  // namespace

bool IsUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
        if (n == 9 || b == 0xC0 || b == 0xC1 || b > 0xF4 || i + n >= s.size())
            return false;
        char32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = c << 6 | (t & 0x3F);
        }
        // no overlong form, no surrogate, nothing past U+10FFFF
        if ((n == 2 && c < 0x800) || (n == 3 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string ShownName(const std::string& raw)
{
    if (IsUtf8(raw))
        return raw;
    std::string out;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string EntryRefusal(const EntryFacts& e)
{
    if ((e.flags & 0x800) && !IsUtf8(e.name))
        return Named("nom marqué UTF-8 mais invalide", e.name);
    // An empty stored file is no data; the deflated form of nothing, or the
    // encryption header of nothing, takes a few bytes.
    if (IsFolderName(e.name) && (e.usize != 0 || (e.method == 0 && !(e.flags & 1) && e.csize != 0)))
        return Named("dossier portant des données", e.name);
    // A pipe is what zip writes for its standard input ("-"): its data are
    // a file's. A device or a socket has none that a file could hold.
    if ((e.madeBy >> 8) == kUnixHost) {
        const uint32_t type = (e.externalAttrs >> 16) & S_IFMT;
        if (type == S_IFCHR || type == S_IFBLK || type == S_IFSOCK)
            return Named("entrée de périphérique refusée", e.name);
    }
    const auto* x = reinterpret_cast<const unsigned char*>(e.extra.data());
    for (size_t i = 0; i + 4 <= e.extra.size();) {
        const size_t length = Get16(x + i + 2);
        if (length > e.extra.size() - i - 4)
            return Named("champ complémentaire dépassant sa longueur", e.name);
        i += 4 + length;
    }
    return {};
}

std::string LocalNameRefusal(const std::string& centralName, const std::string& localName)
{
    if (centralName == localName)
        return {};
    return Named("noms local et central différents", centralName) + " (en-tête local : " + ShownName(localName) + ")";
}

std::string PastDirectoryRefusal(const std::string& name)
{
    return Named("en-tête central dépassant la fin du répertoire central", name);
}

std::string EntryNames::Add(const std::string& name)
{
    std::string key = name;
    for (char& c : key)
        if (c == '\\')
            c = '/';
    while (!key.empty() && key.back() == '/')
        key.pop_back();
    if (seen_.insert(key).second)
        return {};
    return Named("nom en double dans l'archive", name);
}

}  // namespace zipeng
