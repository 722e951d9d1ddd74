#pragma once
// Uses every reading path of a possibly damaged index file, then a few
// changes.  Lets through only what is not an EDBEngineError: a damaged file
// must give clean engine errors, nothing else.

#include <memory>
#include <string>

#include "platform/db/core/DbError.h"
#include "platform/db/mdx/MdxFile.h"

namespace mdxtest {

inline std::string probeKey(const kdb::mdx::TagSpec& t, int i)
{
    using namespace kdb::mdx;
    switch (t.type) {
    case KeyType::Date:
        return encodeDateJdn(2450000.0 + i * 17);
    case KeyType::Numeric:
        return *encodeNumeric(i * 3.5 - 40);
    case KeyType::Character:
        break;
    }
    return encodeCharacter("P" + std::to_string(i * 131), t.keyLength);
}

inline void exerciseFile(const std::string& path)
{
    using namespace kdb::mdx;
    std::unique_ptr<MdxFile> f;
    try {
        f = MdxFile::open(path);
    } catch (const EDBEngineError&) {
        try {
            MdxFile::readTagSpecs(path);
        } catch (const EDBEngineError&) {
        }
        return;
    }
    try {
        f->verify();
    } catch (const EDBEngineError&) {
    }
    std::vector<TagSpec> tags;
    try {
        tags = f->tags();
    } catch (const EDBEngineError&) {
        return;
    }
    for (const TagSpec& t : tags) {
        try {
            f->count(t.name);
        } catch (const EDBEngineError&) {
        }
        try {
            auto c = f->cursor(t.name);
            for (bool ok = c.first(); ok; ok = c.next()) { }
            for (bool ok = c.last(); ok; ok = c.prior()) { }
        } catch (const EDBEngineError&) {
        }
        try {
            auto c = f->cursor(t.name);
            for (int i = 0; i < 20; ++i) {
                c.seek(probeKey(t, i));
                c.next();
                c.seekLast(probeKey(t, i * 7));
                c.prior();
            }
        } catch (const EDBEngineError&) {
        }
        try {
            for (int i = 0; i < 300; ++i)
                f->insert(t.name, probeKey(t, i), static_cast<uint32_t>(100000 + i));
            for (int i = 0; i < 300; i += 2)
                f->remove(t.name, probeKey(t, i), static_cast<uint32_t>(100000 + i));
            f->flush(false);
        } catch (const EDBEngineError&) {
        }
    }
}

}  // namespace mdxtest
