#include "platform/db/core/Table.h"

#include <QString>

#include "platform/db/core/Codepage.h"

namespace kdb {

bool sameName(std::string_view a, std::string_view b)
{
    // Plain ASCII names (nearly all of them) compared in place, without
    // the locale; a name with other characters is compared as text.
    const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; };
    bool ascii = true;
    if (a.size() == b.size()) {
        for (size_t i = 0; i < a.size(); ++i) {
            const auto x = static_cast<unsigned char>(a[i]);
            const auto y = static_cast<unsigned char>(b[i]);
            if ((x | y) >= 0x80) {
                ascii = false;
                break;
            }
            if (x != y && upper(x) != upper(y))
                return false;  // the same up to here, in ASCII: no other folding can make them equal
        }
    } else {
        ascii = plainAscii(a) && plainAscii(b);
    }
    if (ascii)
        return a.size() == b.size();
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())), Qt::CaseInsensitive) == 0;
}

std::string Table::fileName() const
{
    const std::string p = filePath();
    const auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

int Table::fieldIndex(std::string_view name) const
{
    // Two ASCII names of different lengths never match: most fields are
    // passed over on their length.
    const bool ascii = plainAscii(name);
    const auto& f = fields();
    for (size_t i = 0; i < f.size(); ++i)
        if ((f[i].name.size() == name.size() || !ascii || !plainAscii(f[i].name)) && sameName(f[i].name, name))
            return static_cast<int>(i);
    return -1;
}

std::vector<QVariant> Table::record(uint32_t recNo)
{
    std::vector<QVariant> out;
    const int n = fieldCount();
    out.reserve(n);
    for (int i = 0; i < n; ++i)
        out.push_back(value(recNo, i));
    return out;
}

void Table::updateFields(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values)
{
    std::vector<QVariant> rec = record(recNo);
    for (const auto& [field, v] : values)
        rec.at(static_cast<size_t>(field)) = v;
    update(recNo, rec);
}

void Table::restoreRecord(uint32_t recNo, const std::string& stored)
{
    (void)recNo;
    (void)stored;
    throw EDBEngineError::notSupported(filePath(), "records are put back from their values");
}

int Table::tagIndex(std::string_view tagName) const
{
    const auto t = tags();
    for (size_t i = 0; i < t.size(); ++i)
        if (sameName(t[i].name, tagName))
            return static_cast<int>(i);
    return -1;
}

QVariant Table::valueOf(int field, std::string_view stored) const
{
    (void)field;
    (void)stored;
    throw EDBEngineError::notSupported(filePath(), "values are read from the records");
}

char Table::rawKind(int field) const
{
    if (!hasDbfLayout())
        return 0;
    switch (fields().at(static_cast<size_t>(field)).nativeType) {
    case 'C':
        return 'C';
    case 'D':
        return 'D';
    case 'N':
    case 'F':
        return 'N';
    default:
        return 0;
    }
}

int Table::tagOnField(int field) const
{
    int found = -1;
    bool foundUnique = false;
    const auto all = tags();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].descending || tagField(all[i]) != field)
            continue;
        if (found < 0 || (all[i].unique && !foundUnique)) {
            found = static_cast<int>(i);
            foundUnique = all[i].unique;
        }
    }
    return found;
}

bool Table::tagKeysAreFieldBytes(int tag) const
{
    const auto all = tags();
    const TagInfo& t = all.at(static_cast<size_t>(tag));
    const int f = tagField(t);
    return f >= 0 && t.keyType == 'C' && !t.descending && rawKind(f) == 'C';
}

void TagCursor::scanForward(const std::function<bool(uint32_t recNo, std::string_view key)>& visit)
{
    for (uint32_t r = current(); r; r = next())
        if (!visit(r, currentKey()))
            return;
}

uint32_t Table::findKey(std::string_view tagName, const QVariant& key, bool partial)
{
    auto cursor = openTag(tagName);
    IndexReadHold hold(*this);
    uint32_t r = cursor->seek(key, partial);
    if (!r || !isDeleted(r))
        return r;
    // A deleted record keeps its entries until a pack: the next live record
    // of a matching key, if any.
    const int tag = tagIndex(tagName);
    const int field = tag >= 0 ? tagField(tags()[static_cast<size_t>(tag)]) : -1;
    const std::string firstKey(cursor->currentKey());
    const QVariant firstValue = field >= 0 ? value(r, field) : QVariant();
    for (r = cursor->next(); r; r = cursor->next()) {
        bool match = false;
        if (partial) {
            if (field < 0)
                return 0;
            const FieldInfo& f = fields()[static_cast<size_t>(field)];
            match = value(r, field).toString().leftJustified(f.width).startsWith(key.toString());
        } else if (!firstKey.empty()) {
            match = cursor->currentKey() == firstKey;
        } else {
            match = field >= 0 && value(r, field) == firstValue;
        }
        if (!match)
            return 0;
        if (!isDeleted(r))
            return r;
    }
    return 0;
}

}  // namespace kdb
