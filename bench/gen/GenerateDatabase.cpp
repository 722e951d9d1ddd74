// Writes the practice database of the benchmarks through the engine:
//   bench_gen <directory> [scale]
// scale 1 (default): 50 000 patients, 500 000 consultations, 200 000 exams,
// 100 000 appointments (see Practice.h); a smaller scale (e.g. 0.05) divides
// every count. The tables are created as the program's check creates them,
// and the check is run again at the end: it must find nothing to change.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "Practice.h"
#include "platform/db/engine/Engine.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <directory> [scale]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    if (!(scale > 0)) {
        std::fprintf(stderr, "bad scale\n");
        return 2;
    }
    try {
        kbench::writePractice(dir, scale, true);
        // What the table check costs at each start: one probe per table.
        const auto start = std::chrono::steady_clock::now();
        for (const auto& block : kbench::practiceSchema())
            if (const int code = kdb::engine::openTableResult(dir, block.fileName.toStdString(), "DBASE", false)) {
                std::fprintf(stderr, "probe %s: engine code %d\n", qPrintable(block.fileName), code);
                return 1;
            }
        std::printf("probe of the nine tables: %.3f s\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const QStringList changed = kbench::tablesTheCheckWouldChange(dir);
        if (!changed.isEmpty()) {
            std::fprintf(stderr, "the table check would change: %s\n", qPrintable(changed.join(QStringLiteral(", "))));
            return 1;
        }
        std::printf("the table check finds the tables as the schema declares them\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
