#include "PxTestUtil.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/db/engine/Engine.h"

namespace pxtest {

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint16_t u16(const std::vector<uint8_t>& b, size_t off)
{
    return static_cast<uint16_t>(b.at(off) | (b.at(off + 1) << 8));
}
uint32_t u32(const std::vector<uint8_t>& b, size_t off)
{
    return u16(b, off) | (uint32_t{u16(b, off + 2)} << 16);
}
void put16(std::vector<uint8_t>& b, size_t off, uint16_t v)
{
    b.at(off) = static_cast<uint8_t>(v);
    b.at(off + 1) = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t off, uint32_t v)
{
    put16(b, off, static_cast<uint16_t>(v));
    put16(b, off + 2, static_cast<uint16_t>(v >> 16));
}

std::vector<std::string> readAll(kdb::Table& t)
{
    std::vector<std::string> out;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        if (t.isDeleted(r))
            continue;
        std::string line;
        for (int f = 0; f < t.fieldCount(); ++f) {
            (void)t.rawField(r, f);
            const QVariant v = t.value(r, f);
            line += (f ? "|" : "") + (v.isNull() ? std::string("<null>") : v.toString().toStdString());
        }
        out.push_back(line);
    }
    return out;
}

void resetSession()
{
    auto& s = kdb::Session::instance();
    s.removeAllPasswords();
    s.setPasswordHandler({});
}

}  // namespace pxtest
