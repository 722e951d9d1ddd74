// Speed of the index file on a 500 000-key tag: bulk build, random seeks,
// ordered scans, single inserts and removals.  Run on demand:
//   mdx_bench [keys] [directory]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/db/mdx/MdxFile.h"

using namespace kdb::mdx;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string keyOf(uint32_t i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "NOM%09u", (i * 2654435761u) % 1000000000u);
    return buf;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::stoul(argv[1])) : 500000;
    const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    const std::string path = dir + "/mdx_bench.mdx";
    const TagSpec spec{"NOM", "NOM", "", KeyType::Character, 30, false, false, true};

    auto t0 = Clock::now();
    uint32_t next = 1;
    auto f = MdxFile::rebuild(path, "BENCH", {spec}, [&](RecordKeys& rec) {
        if (next > n)
            return false;
        rec.recno = next;
        rec.keys = {keyOf(next)};
        ++next;
        return true;
    });
    std::printf(
        "bulk build      %u keys: %.3f s, file %.1f MB\n", n, since(t0), std::filesystem::file_size(path) / 1e6);

    std::mt19937 rng(1);
    const int seeks = 200000;
    auto c = f->cursor("NOM");
    c.first();  // loads the cache
    t0 = Clock::now();
    uint64_t found = 0;
    for (int i = 0; i < seeks; ++i)
        found += c.seekExact(encodeCharacter(keyOf(rng() % n + 1), 30));
    double s = since(t0);
    std::printf("seekExact       %d: %.3f us each (%llu found)\n", seeks, s * 1e6 / seeks,
        static_cast<unsigned long long>(found));

    t0 = Clock::now();
    uint64_t count = 0;
    for (bool ok = c.first(); ok; ok = c.next())
        ++count;
    s = since(t0);
    std::printf("ordered scan    %llu entries: %.3f s (%.1f M entries/s)\n", static_cast<unsigned long long>(count), s,
        count / s / 1e6);

    t0 = Clock::now();
    count = 0;
    for (bool ok = c.last(); ok; ok = c.prior())
        ++count;
    s = since(t0);
    std::printf("reverse scan    %llu entries: %.3f s\n", static_cast<unsigned long long>(count), s);

    f.reset();
    t0 = Clock::now();
    f = MdxFile::open(path);
    c = f->cursor("NOM");
    count = 0;
    for (bool ok = c.first(); ok; ok = c.next())
        ++count;
    std::printf("cold open+scan  %.3f s\n", since(t0));

    const int changes = 50000;
    t0 = Clock::now();
    for (int i = 0; i < changes; ++i)
        f->insert("NOM", keyOf(n + 1 + static_cast<uint32_t>(i)), n + 1 + static_cast<uint32_t>(i));
    f->flush(false);
    s = since(t0);
    std::printf("insert          %d: %.3f us each\n", changes, s * 1e6 / changes);

    t0 = Clock::now();
    for (int i = 0; i < changes; ++i)
        f->remove("NOM", keyOf(static_cast<uint32_t>(i) + 1), static_cast<uint32_t>(i) + 1);
    f->flush(true);
    s = since(t0);
    std::printf("remove          %d: %.3f us each\n", changes, s * 1e6 / changes);

    t0 = Clock::now();
    for (int i = 0; i < 200; ++i) {
        f->insert("NOM", keyOf(900000000u + static_cast<uint32_t>(i)), 2000000 + static_cast<uint32_t>(i));
        f->flush(true);
    }
    std::printf("insert+fsync    200: %.3f ms each\n", since(t0) * 1e3 / 200);

    t0 = Clock::now();
    f->verify();
    std::printf("verify          %.3f s\n", since(t0));
    f.reset();
    std::filesystem::remove(path);
    return 0;
}
