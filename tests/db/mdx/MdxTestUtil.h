#pragma once
// Helpers shared by the index file tests.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/mdx/MdxFile.h"
#include "tests/db/DbTestUtil.h"

namespace mdxtest {

// A fresh directory removed at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "mdxtest-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<unsigned char> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const std::string& path, const std::vector<unsigned char>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline kdb::mdx::TagSpec charTag(const std::string& name, int len, bool unique = false, bool desc = false)
{
    return kdb::mdx::TagSpec{name, name, "", kdb::mdx::KeyType::Character, len, unique, desc, true};
}
inline kdb::mdx::TagSpec dateTag(const std::string& name, bool unique = false, bool desc = false)
{
    return kdb::mdx::TagSpec{name, name, "", kdb::mdx::KeyType::Date, 0, unique, desc, true};
}
inline kdb::mdx::TagSpec numTag(const std::string& name, bool unique = false, bool desc = false)
{
    return kdb::mdx::TagSpec{name, name, "", kdb::mdx::KeyType::Numeric, 0, unique, desc, true};
}

// All entries of a tag in order, through a cursor.
inline std::vector<kdb::mdx::Entry> scan(kdb::mdx::MdxFile& f, const std::string& tag)
{
    std::vector<kdb::mdx::Entry> out;
    auto c = f.cursor(tag);
    for (bool ok = c.first(); ok; ok = c.next())
        out.push_back(c.entry());
    return out;
}

// Key number i as text: prefix and i with leading zeros to width digits.
inline std::string numberedKey(const char* prefix, int width, int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%0*d", prefix, width, i);
    return buf;
}

using kdbtest::codeOf;

inline std::string hex(const std::string& s)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace mdxtest
