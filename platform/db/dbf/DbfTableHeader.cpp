// What the header of a table file promises, held against itself and against
// the file: the field descriptions end with 0x0D where the header length
// says, each description's type is a dBASE type and its width one that
// type can have, the record length is 1 + the widths, and (at the open)
// the file holds the records the header counts. The open refuses a header
// that breaks any of these (DbfTable::readHeader); the repair tells what
// can be made of it from the rest of the header (DbfTable::repairHeader).
#include "platform/db/dbf/DbfTable.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

namespace dbfimpl {

int typeWidth(char type)
{
    switch (type) {
    case 'C':
    case 'N':
    case 'F':
        return 0;
    case 'D':
    case 'O':
    case '@':
        return 8;
    case 'L':
        return 1;
    case 'M':
    case 'B':
    case 'G':
        return 10;
    case 'I':
    case '+':
        return 4;
    default:
        return -1;
    }
}

HeaderScan scanHeader(const unsigned char* b, size_t n)
{
    HeaderScan s;
    if (n < 32)
        return s;
    const int level = b[0] & 0x07;
    s.table = level == 3 || level == 4;
    if (!s.table)
        return s;
    s.level7 = level == 4;
    s.descStart = s.level7 ? 68 : 32;
    s.descLen = s.level7 ? 48 : 32;
    s.count = le32(b + 4);
    s.headerLen = le16(b + 8);
    s.recLen = le16(b + 10);
    uint32_t widths = 1;
    for (size_t p = s.descStart; p < n; p += s.descLen) {
        if (b[p] == 0x0D) {
            s.end = p;
            break;
        }
        if (p + s.descLen > n)
            break;
        const unsigned char* d = b + p;
        HeaderScan::Field f;
        f.at = p;
        const size_t nameMax = s.level7 ? 32 : 11;
        size_t len = 0;
        while (len < nameMax && d[len] != 0)
            ++len;
        f.name = upper(std::string(trim(std::string_view(reinterpret_cast<const char*>(d), len))));
        f.type = static_cast<char>(std::toupper(d[s.level7 ? 32 : 11]));
        f.width = s.level7 ? d[33] : d[16];
        f.decimals = s.level7 ? d[34] : d[17];
        if (f.type == 'C' && !s.level7)
            f.width = d[16] | (d[17] << 8), f.decimals = 0;  // long character fields use both bytes
        f.int16 = !s.level7 && (f.type == 'N' || f.type == 'F') && f.decimals == 0 && f.width <= 6 &&
            d[kInt16MarkerOffset] == kInt16Marker;
        widths += static_cast<uint32_t>(f.width);
        s.fields.push_back(std::move(f));
    }
    s.widths = widths;
    return s;
}

bool widthFits(const HeaderScan::Field& f)
{
    const int fixed = typeWidth(f.type);
    if (fixed < 0 || f.width <= 0)
        return false;
    if (fixed > 0)
        return f.width == fixed;
    if (f.type == 'N' || f.type == 'F')
        return f.width <= 32 && f.decimals <= f.width;
    return true;
}

bool headerLengthEndsDescriptions(const HeaderScan& s, const unsigned char* b, size_t n)
{
    if (s.end == 0 || s.end >= s.headerLen || s.headerLen > n)
        return false;
    const size_t from = s.end + 1, gap = s.headerLen - from;
    if (gap == 0)
        return true;
    // Bytes between the end mark and the first record: blanks of an older
    // writer (NUL bytes), or the field properties of a level 7 table (its
    // size at offset 14, padded with NUL or end-of-file bytes). Anything
    // else is the start of the records, or of a record cut in two.
    auto padding = [&](size_t at) {
        for (size_t i = at; i < s.headerLen; ++i)
            if (b[i] != 0 && !(s.level7 && b[i] == 0x1A))
                return false;
        return true;
    };
    if (padding(from))
        return true;
    if (!s.level7 || gap < 16)
        return false;
    const size_t size = le16(b + from + 14);
    return size >= 16 && size <= gap && padding(from + size);
}

std::string headerFault(const HeaderScan& s, const unsigned char* b, size_t n)
{
    if (s.end == 0)
        return "field descriptions without their end mark (0x0D) within the header length";
    if (!headerLengthEndsDescriptions(s, b, n))
        return "the header length (" + std::to_string(s.headerLen) + ") does not end at the field descriptions";
    if (s.fields.empty())
        return "no fields";
    for (const HeaderScan::Field& f : s.fields) {
        if (typeWidth(f.type) < 0)
            return "field " + f.name + " of an unknown type";
        if (f.width <= 0)
            return "field " + f.name + " has no width";
        if (!widthFits(f))
            return "field " + f.name + ": a width of " + std::to_string(f.width) + " (" + std::to_string(f.decimals) +
                " decimals) its type cannot have";
    }
    if (s.recLen != s.widths)
        return "record length " + std::to_string(s.recLen) + " is not 1 + the fields' widths (" +
            std::to_string(s.widths) + ")";
    return {};
}

}  // namespace dbfimpl

namespace {

// Whether records of recLen bytes after a header of headerLen bytes fill the
// file to its end (an end mark aside) and hold the counted ones.
bool recordsFit(uint64_t fsize, uint32_t count, uint32_t headerLen, uint32_t recLen)
{
    if (recLen < 2 || fsize < headerLen)
        return false;
    const uint64_t body = fsize - headerLen;
    return body % recLen <= 1 && body / recLen >= count;
}

}  // namespace

DbfTable::HeaderRepair DbfTable::repairHeader(const std::string& path, bool write)
{
    HeaderRepair out;
    File f = File::open(path, write ? File::Mode::ReadWrite : File::Mode::ReadOnly);
    if (!(write ? f.tryLock(kLockOpen, 1, true) : f.tryLock(kLockOpen, 1, false)) ||
        (!write && f.lockedByOthers(kLockOpen, 1)))
        throw EDBEngineError::tableInUse(path);
    const uint64_t fsize = f.size();
    std::string h(static_cast<size_t>(std::min<uint64_t>(fsize, 65536)), '\0');
    h.resize(h.empty() ? 0 : f.readAt(0, h.data(), h.size()));
    const auto* b = reinterpret_cast<const unsigned char*>(h.data());
    const HeaderScan s = scanHeader(b, h.size());
    if (!s.table)
        return out;  // no table header to read anything from
    const bool headerLenPossible = s.headerLen >= s.descStart + 1 && s.headerLen <= fsize;
    if (headerLenPossible && headerFault(s, b, h.size()).empty())
        return out;  // sound (what the records hold is the survey's)

    std::vector<std::string> wrong;
    bool repairable = s.end > s.descStart;
    std::string fixed = h;  // the header with the fixes below
    auto* fb = reinterpret_cast<unsigned char*>(fixed.data());

    // The header length: where the field descriptions end (one NUL byte
    // after the end mark, as older writers leave, when the records fit
    // only so).
    uint16_t headerLen = s.headerLen;
    if (!headerLenPossible || !headerLengthEndsDescriptions(s, b, h.size())) {
        if (repairable) {
            headerLen = static_cast<uint16_t>(s.end + 1);
            if (!s.level7 && s.end + 1 < h.size() && b[s.end + 1] == 0 &&
                !recordsFit(fsize, s.count, headerLen, s.recLen) &&
                recordsFit(fsize, s.count, headerLen + 1, s.recLen))
                ++headerLen;
            // A level 7 table's field properties follow the end mark: what
            // they are once the header length is lost is not known here.
            if (s.level7 && s.end + 1 < h.size() && b[s.end + 1] != ' ' && b[s.end + 1] != '*' &&
                b[s.end + 1] != 0x1A)
                repairable = false;
        }
        wrong.push_back(
            (headerLenPossible ? "longueur d'en-tête (" + std::to_string(s.headerLen) +
                        ") qui ne finit pas sur la fin des descriptions des champs"
                               : "longueur d'en-tête impossible (" + std::to_string(s.headerLen) + ")") +
            (repairable ? ", relue à la fin des descriptions des champs : " + std::to_string(headerLen)
                        : std::string()));
        put16(fb + 8, headerLen);
    }

    // The fields: a width their type fixes, or (one text or number field
    // without a width) what the record length leaves.
    const size_t widthAt = s.level7 ? 33 : 16;
    auto putWidth = [&](const HeaderScan::Field& fld, int w) {
        if (s.level7)
            fb[fld.at + 33] = static_cast<unsigned char>(w);
        else if (fld.type == 'C')
            put16(fb + fld.at + 16, static_cast<uint16_t>(w));
        else
            fb[fld.at + widthAt] = static_cast<unsigned char>(w);
    };
    uint32_t used = 1;
    std::vector<const HeaderScan::Field*> open;  // text or number fields without a width
    for (const HeaderScan::Field& fld : s.fields) {
        const int fixedWidth = typeWidth(fld.type);
        if (fixedWidth < 0) {
            wrong.push_back("champ " + fld.name + " d'un type inconnu");
            repairable = false;
            continue;
        }
        if (widthFits(fld)) {
            used += static_cast<uint32_t>(fld.width);
            continue;
        }
        if (fixedWidth > 0) {
            putWidth(fld, fixedWidth);
            used += static_cast<uint32_t>(fixedWidth);
            wrong.push_back("champ " + fld.name +
                (fld.width == 0 ? std::string(" sans largeur")
                                : " d'une largeur (" + std::to_string(fld.width) + ") que son type ne peut avoir") +
                ", remis à " + std::to_string(fixedWidth));
        } else if (fld.width == 0) {
            open.push_back(&fld);
            wrong.push_back("champ " + fld.name + " sans largeur");
        } else {
            wrong.push_back("champ " + fld.name + " d'une largeur (" + std::to_string(fld.width) + ", " +
                std::to_string(fld.decimals) + " décimales) que son type ne peut avoir");
            repairable = false;
        }
    }
    if (open.size() == 1 && s.recLen > used) {
        const int w = static_cast<int>(s.recLen - used);
        const char type = open[0]->type;
        if ((type == 'C' && w <= (s.level7 ? 255 : 65535)) || ((type == 'N' || type == 'F') && w <= 20)) {
            putWidth(*open[0], w);
            used += static_cast<uint32_t>(w);
            for (std::string& line : wrong)
                if (line == "champ " + open[0]->name + " sans largeur")
                    line += ", remis à " + std::to_string(w) + " (ce que la longueur des enregistrements lui laisse)";
            open.clear();
        }
    }
    repairable = repairable && open.empty() && !s.fields.empty();

    // The record length: 1 + the widths, unless the file is laid out in
    // records of the stored length and not in records of that one (a width
    // is then wrong, and which one is not known).
    if (repairable && used != s.recLen) {
        const bool widthsFit = recordsFit(fsize, s.count, headerLen, used);
        const bool storedFits = recordsFit(fsize, s.count, headerLen, s.recLen);
        if (!widthsFit && storedFits) {
            wrong.push_back("longueur des enregistrements (" + std::to_string(s.recLen) +
                ") différente de 1 + la somme des largeurs des champs (" + std::to_string(used) +
                ") : la largeur en faute ne se laisse pas trouver");
            repairable = false;
        } else if (used <= 65535) {
            wrong.push_back("longueur des enregistrements (" + std::to_string(s.recLen) +
                ") différente de 1 + la somme des largeurs des champs, remise à " + std::to_string(used));
            put16(fb + 10, static_cast<uint16_t>(used));
        } else {
            repairable = false;
        }
    }

    // Repairable only when the fixed header reads as a whole.
    if (repairable) {
        const HeaderScan after = scanHeader(fb, fixed.size());
        repairable = after.headerLen <= fsize && headerFault(after, fb, fixed.size()).empty();
    }
    out.damaged = true;
    out.repairable = repairable;
    for (size_t i = 0; i < wrong.size(); ++i)
        out.what += (i ? " ; " : "") + wrong[i];
    if (out.what.empty())
        out.what = "en-tête illisible";
    if (!write || !out.repairable)
        return out;
    const size_t changedEnd = s.end + 1;
    f.writeAt(0, fb, std::min(changedEnd, fixed.size()));
    f.sync();
    return out;
}

}  // namespace kdb
