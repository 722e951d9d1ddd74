// Memory and time of reading a large result, side by side with SQLite on
// the same practice database (bench/gen):
//
//   bench_memory [scale] [directory] [runs]
//
// scale 1 (default) is the practice of 500 000 consultations; a directory
// holding the practice of the same scale from an earlier run is used as it
// is; runs (default 3) is the number of runs of each measurement.
//
// Measured: "SELECT * FROM Cons" read to its end, and the same ordered by a
// column with a tag (PATIENT) and by one without (MOTIF), through a query dataset (every value of every row
// read), against SQLite reading the same statement (its values turned into
// the same QVariants) once keeping every row in a vector (the memory
// reference) and once not (the time reference). Each run is a process of its
// own: its peak resident set (VmHWM) is counted from the moment the
// statement starts, after the peak of the start-up is reset, and printed with
// the resident set it started from. Goals: the engine's peak at most
// SQLite's keeping every row, its time at most 1.5 times SQLite's.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/gen/PracticeLite.h"
#include "platform/db/dataset/Dataset.h"

namespace {

constexpr double kTimeGoal = 1.5;

struct Statement {
    const char* name;
    const char* engineSql;
    const char* liteSql;
};

const Statement kStatements[] = {
    {"SELECT * FROM Cons", "SELECT * FROM Cons", "SELECT * FROM CONS"},
    {"SELECT * FROM Cons ORDER BY PATIENT (tag)", "SELECT * FROM Cons ORDER BY PATIENT",
        "SELECT * FROM CONS ORDER BY PATIENT"},
    {"SELECT * FROM Cons ORDER BY MOTIF (no tag)", "SELECT * FROM Cons ORDER BY MOTIF",
        "SELECT * FROM CONS ORDER BY MOTIF"},
};

long statusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

// ---- one measurement, in a process of its own -------------------------------

QVariant liteValue(sqlite3_stmt* st, int c)
{
    switch (sqlite3_column_type(st, c)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(st, c)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(st, c));
    case SQLITE_NULL:
        return {};
    default:
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(st, c)), sqlite3_column_bytes(st, c));
    }
}

size_t runEngine(const std::string& dir, const char* sql)
{
    kdb::QueryDataset q;
    q.setDatabaseName(dir);
    q.setSql(QString::fromUtf8(sql));
    q.open();
    size_t rows = 0;
    for (; !q.eof(); q.next(), ++rows)
        for (int f = 0; f < q.fieldCount(); ++f)
            (void)q.field(f).value();
    return rows;
}

size_t runLite(const std::string& dir, const char* sql, bool keep)
{
    kbench::Lite lite(dir + "/practice.sqlite");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(lite.db(), sql, -1, &st, nullptr);
    std::vector<std::vector<QVariant>> kept;
    size_t rows = 0;
    const int columns = sqlite3_column_count(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<QVariant> row;
        row.reserve(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c)
            row.push_back(liteValue(st, c));
        if (keep)
            kept.push_back(std::move(row));
        ++rows;
    }
    sqlite3_finalize(st);
    return rows;
}

int child(const std::string& mode, const std::string& dir, int statement)
{
    const Statement& s = kStatements[statement];
    const long startKb = statusKb("VmRSS");
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";  // the peak starts again from the present resident set
    }
    const auto t0 = std::chrono::steady_clock::now();
    size_t rows = 0;
    try {
        rows = mode == "engine" ? runEngine(dir, s.engineSql) : runLite(dir, s.liteSql, mode == "sqlite-keep");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%.3f %zu %ld %ld\n", ms, rows, statusKb("VmHWM"), startKb);
    return 0;
}

// ---- the parent: runs the measurements and compares -------------------------

struct Figures {
    double ms = 0;  // median time
    size_t rows = 0;
    long peakKb = 0;  // the largest peak of the runs
    long startKb = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One run of one side, in a process of its own, added to that side's figures.
void measure(const QString& self, const std::string& mode, const std::string& dir, int statement, Figures& f,
    std::vector<double>& times)
{
    QProcess p;
    p.start(self,
        {QStringLiteral("--child"), QString::fromStdString(mode), QString::fromStdString(dir),
            QString::number(statement)});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s run failed: %s\n", mode.c_str(), p.readAllStandardError().constData());
        std::exit(1);
    }
    double ms = 0;
    long peak = 0, start = 0;
    size_t rows = 0;
    std::sscanf(p.readAllStandardOutput().constData(), "%lf %zu %ld %ld", &ms, &rows, &peak, &start);
    times.push_back(ms);
    f.ms = median(times);
    f.rows = rows;
    f.peakKb = std::max(f.peakKb, peak);
    f.startKb = start;
}

void line(const char* who, const Figures& f)
{
    std::printf("  %-26s %10.1f ms  peak %8.1f MiB  (from %6.1f MiB)  %8zu rows\n", who, f.ms, f.peakKb / 1024.0,
        f.startKb / 1024.0, f.rows);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--child")
        return child(argv[2], argv[3], std::atoi(argv[4]));
    QCoreApplication app(argc, argv);
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(scale > 0)) {
        std::fprintf(stderr, "bad scale\n");
        return 2;
    }
    QTemporaryDir tmp;
    const std::string dir = argc > 2 ? argv[2] : tmp.path().toStdString();
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    kbench::preparePractice(dir, scale, true);
    const QString self = QCoreApplication::applicationFilePath();

    bool same = true;
    int missed = 0;
    for (int s = 0; s < static_cast<int>(std::size(kStatements)); ++s) {
        std::printf("\n%s (%d runs each)\n", kStatements[s].name, runs);
        // The three sides in turn, run after run, so that the file caches and
        // the machine's load serve every side alike.
        Figures ours, keep, stream;
        std::vector<double> tOurs, tKeep, tStream;
        for (int r = 0; r < runs; ++r) {
            measure(self, "engine", dir, s, ours, tOurs);
            measure(self, "sqlite-keep", dir, s, keep, tKeep);
            measure(self, "sqlite-stream", dir, s, stream, tStream);
        }
        line("engine, query dataset", ours);
        line("sqlite, rows kept", keep);
        line("sqlite, rows not kept", stream);
        const double memRatio = static_cast<double>(ours.peakKb) / static_cast<double>(keep.peakKb);
        const double bestLite = std::min(keep.ms, stream.ms);
        const double timeRatio = ours.ms / bestLite;
        const bool memOk = memRatio <= 1.0, timeOk = timeRatio <= kTimeGoal;
        missed += (memOk ? 0 : 1) + (timeOk ? 0 : 1);
        std::printf("  memory: engine / sqlite keeping the rows = %.2f  (goal at most 1): %s\n", memRatio,
            memOk ? "meets" : "MISSES");
        std::printf("  time:   engine / sqlite's better time    = %.2f  (goal at most 1.5): %s\n", timeRatio,
            timeOk ? "meets" : "MISSES");
        if (ours.rows != keep.rows || ours.rows != stream.rows) {
            std::printf("  ROWS DIFFER\n");
            same = false;
        }
    }
    std::printf("\n%d of %zu goals missed\n", missed, 2 * std::size(kStatements));
    return same ? 0 : 1;
}
