#include "platform/db/dbf/DbfTable.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- damage: survey and repair ---------------------------------------------------

bool DbfTable::Survey::damaged() const
{
    return countInHeader != recordsInFile || badMemoPointers > 0 || unreadableValues > 0 || memoFileLost;
}

// The files a pack, a restructure or a creation writes beside the table and
// renames over it when complete: one left behind by a program killed before
// the rename is only a part of the work (the table is still the old one).
void DbfTable::removeLeftovers()
{
    for (const std::string& tmp : {path_ + ".tmp~", indexPath() + ".tmp~"})
        if (fileExists(tmp))
            removeFile(tmp);
}

// Walks the records as stored (the partial record a short file ends with
// included); calls visit with each record's bytes and its number (0 for the
// partial one).
DbfTable::Survey DbfTable::walkStored(const std::function<void(uint32_t recNo, std::string& rec)>& visit)
{
    Survey s;
    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    s.countInHeader = le32(c);
    const uint64_t fsize = file_.size();
    const uint64_t body = fsize > headerLen_ ? fsize - headerLen_ : 0;
    s.recordsInFile = static_cast<uint32_t>(std::min<uint64_t>(body / recLen_, UINT32_MAX));
    count_ = std::min(s.countInHeader, s.recordsInFile);
    invalidateCache();
    // The bytes of a record the file ends inside of (an end marker alone is
    // no record).
    std::string partial;
    if (s.countInHeader > s.recordsInFile) {
        partial.resize(static_cast<size_t>(body - uint64_t(s.recordsInFile) * recLen_));
        if (!partial.empty())
            file_.readExact(
                headerLen_ + uint64_t(s.recordsInFile) * recLen_, partial.data(), partial.size(), DBERR_FILECORRUPT);
        if (partial.size() == 1 && partial[0] == 0x1A)
            partial.clear();
        s.partialRecord = !partial.empty();
    }
    s.memoFileLost = !dbt_.isOpen() && std::any_of(fields_.begin(), fields_.end(), dbfimpl::inMemoFile);
    std::string rec;
    auto look = [&](uint32_t recNo) {
        for (const FieldInfo& f : fields_) {
            const std::string_view raw(rec.data() + f.offset, static_cast<size_t>(f.width));
            if (dbfimpl::inMemoFile(f)) {
                bool bad = false;
                const bool some = !memoText(raw, &bad).empty();
                s.badMemoPointers += bad;
                s.values += some;
            } else if (!fieldReadable(f, raw)) {
                ++s.unreadableValues;
            } else if (!trim(raw).empty()) {
                ++s.values;
            }
        }
        ++s.records;
        visit(recNo, rec);
    };
    for (uint32_t r = 1; r <= count_; ++r) {
        rec.assign(recordPtr(r), recLen_);
        look(r);
    }
    if (s.partialRecord) {
        rec = partial;
        rec.resize(recLen_, ' ');
        look(0);
    }
    return s;
}

DbfTable::Survey DbfTable::survey()
{
    return walkStored([](uint32_t, std::string&) {});
}

DbfTable::Survey DbfTable::repair()
{
    requireExclusive("Repair");
    const bool memo = std::any_of(fields_.begin(), fields_.end(), dbfimpl::inMemoFile);
    if (memo && !dbt_.isOpen()) {
        // A memo file that is missing or does not open: a new empty one (every
        // pointer is bad and blanked below).
        dbt_ = DbtFile::create(companionPath(path_, ".DBT"), baseNameOf(path_));
    }
    uint32_t partialAt = 0;
    const Survey s = walkStored([&](uint32_t recNo, std::string& rec) {
        std::string fixed = rec;
        for (const FieldInfo& f : fields_) {
            char* dst = fixed.data() + f.offset;
            const std::string_view raw(rec.data() + f.offset, static_cast<size_t>(f.width));
            bool bad = false;
            if (dbfimpl::inMemoFile(f))
                memoText(raw, &bad);
            else
                bad = !fieldReadable(f, raw);
            if (bad)
                std::memset(dst, f.nativeType == 'I' || f.nativeType == '+' || f.nativeType == 'O' ? 0 : ' ',
                    static_cast<size_t>(f.width));
        }
        if (recNo == 0) {
            // The partial record the file ends with, completed with blanks.
            fixed.push_back(0x1A);
            partialAt = 1;
            file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, fixed.data(), fixed.size());
        } else if (fixed != rec) {
            file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, fixed.data(), recLen_);
        }
    });
    if (s.countInHeader > s.recordsInFile) {
        if (!partialAt) {
            const char eof = 0x1A;
            file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, &eof, 1);
        }
        writeCount(s.records);
    } else if (s.recordsInFile > s.countInHeader) {
        // Records nobody counted: the file ends with the counted ones.
        const uint64_t end = headerLen_ + uint64_t(s.countInHeader) * recLen_;
        const char eof = 0x1A;
        file_.writeAt(end, &eof, 1);
        file_.truncate(end + 1);
    }
    if (dbt_.isOpen())
        dbt_.sync();
    file_.sync();
    count_ = s.records;
    invalidateCache();
    dropMap();
    mapFailed_ = false;
    if (mdx_)
        regenerateIndexes();
    return s;
}

// An index that does not open (damaged, half written, out of date): rebuilt
// from the tag descriptions its file still holds; without readable ones (or
// with tags that no longer fit the table) the index file is removed. Answers
// whether the tags were kept.
bool DbfTable::rebuildIndexFromFile()
{
    requireExclusive("Index regeneration");
    std::vector<TagInfo> specs;
    bool kept = false;
    try {
        specs = tagInfosOf(indexPath());
        std::vector<Tag> compiled;
        compileTags(specs, compiled);
        kept = !specs.empty();
    } catch (const EDBEngineError&) {
        specs.clear();
    }
    setTags(specs);
    return kept;
}

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
    auto* b = reinterpret_cast<unsigned char*>(h.data());
    const int level = h.size() >= 32 ? (b[0] & 0x07) : 0;
    if (level != 3 && level != 4)
        return out;  // no table header to read anything from
    const bool level7 = level == 4;
    const size_t descStart = level7 ? 68 : 32, descLen = level7 ? 48 : 32;
    size_t end = descStart;
    while (end + descLen <= h.size() && b[end] != 0x0D)
        end += descLen;
    const uint16_t headerLen = le16(b + 8), recLen = le16(b + 10);
    std::vector<std::string> wrong;
    bool repairable = end < h.size() && b[end] == 0x0D && end > descStart;
    uint16_t newHeaderLen = headerLen;
    if (headerLen < descStart + 1 || headerLen > fsize) {
        wrong.push_back("longueur d'en-tête impossible (" + std::to_string(headerLen) + ")" +
            (repairable ? ", relue à la fin des descriptions des champs : " + std::to_string(end + 1) : std::string()));
        newHeaderLen = static_cast<uint16_t>(end + 1);
    }
    // Fields without a width.
    const size_t fieldsEnd = repairable ? end : descStart;
    std::vector<std::pair<size_t, int>> widths;  // descriptor offset, width to write
    int used = 1;
    std::vector<size_t> open;  // text or number fields without a width
    auto widthAt = [&](size_t p) {
        const char type = static_cast<char>(std::toupper(b[p + (level7 ? 32 : 11)]));
        return type == 'C' && !level7 ? (b[p + 16] | (b[p + 17] << 8)) : b[p + (level7 ? 33 : 16)];
    };
    for (size_t p = descStart; p < fieldsEnd; p += descLen) {
        const char type = static_cast<char>(std::toupper(b[p + (level7 ? 32 : 11)]));
        std::string name(reinterpret_cast<const char*>(b + p), level7 ? 32 : 11);
        name = std::string(trim(name.substr(0, name.find('\0'))));
        const int w = widthAt(p);
        if (w > 0) {
            used += w;
            continue;
        }
        int fixed = 0;
        switch (type) {
        case 'D':
        case 'O':
        case '@':
            fixed = 8;
            break;
        case 'L':
            fixed = 1;
            break;
        case 'M':
        case 'B':
        case 'G':
            fixed = 10;
            break;
        case 'I':
        case '+':
            fixed = 4;
            break;
        default:
            break;
        }
        if (fixed > 0) {
            widths.emplace_back(p, fixed);
            used += fixed;
            wrong.push_back("champ " + name + " sans largeur, remis à " + std::to_string(fixed));
        } else {
            open.push_back(p);
            wrong.push_back("champ " + name + " sans largeur");
        }
    }
    if (open.size() == 1 && recLen > used) {
        const int w = recLen - used;
        const char type = static_cast<char>(std::toupper(b[open[0] + (level7 ? 32 : 11)]));
        if ((type == 'C' && w <= (level7 ? 255 : 65535)) || ((type == 'N' || type == 'F') && w <= 20)) {
            widths.emplace_back(open[0], w);
            wrong.back() += ", remis à " + std::to_string(w) + " (ce que la longueur des enregistrements lui laisse)";
            open.clear();
        }
    }
    repairable = repairable && open.empty();
    out.damaged = !wrong.empty();
    out.repairable = out.damaged && repairable;
    for (size_t i = 0; i < wrong.size(); ++i)
        out.what += (i ? " ; " : "") + wrong[i];
    if (!write || !out.repairable)
        return out;
    unsigned char two[2];
    put16(two, newHeaderLen);
    f.writeAt(8, two, 2);
    for (const auto& [p, w] : widths) {
        const char type = static_cast<char>(std::toupper(b[p + (level7 ? 32 : 11)]));
        if (level7) {
            const unsigned char one = static_cast<unsigned char>(w);
            f.writeAt(p + 33, &one, 1);
        } else {
            unsigned char wb[2] = {
                static_cast<unsigned char>(w & 0xFF), static_cast<unsigned char>(type == 'C' ? (w >> 8) : b[p + 17])};
            f.writeAt(p + 16, wb, 2);
        }
    }
    f.sync();
    return out;
}

}  // namespace kdb
