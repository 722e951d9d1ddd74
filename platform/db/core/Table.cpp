#include "core/Table.h"

#include <cctype>

namespace kdb {

namespace {
bool sameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

std::string Table::fileName() const
{
    const std::string p = filePath();
    const auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

int Table::fieldIndex(std::string_view name) const
{
    const auto& f = fields();
    for (size_t i = 0; i < f.size(); ++i)
        if (sameNoCase(f[i].name, name))
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

int Table::tagIndex(std::string_view tagName) const
{
    const auto t = tags();
    for (size_t i = 0; i < t.size(); ++i)
        if (sameNoCase(t[i].name, tagName))
            return static_cast<int>(i);
    return -1;
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
    return cursor->seek(key, partial);
}

}  // namespace kdb
