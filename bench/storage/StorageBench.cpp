// The storage engine side by side with SQLite on the same rows, in the same
// run: append with flush, seek through an index, full scan, pack, index
// regeneration.   bench_storage [rows] [directory]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <QDate>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "platform/db/core/Table.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/Engine.h"

using namespace kdb;

namespace {

double seconds(const std::function<void()>& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, long ops, double engine, double sqlite)
{
    std::printf("%-28s %8ld ops  engine %9.4f s (%10.0f ops/s)  sqlite %9.4f s (%10.0f ops/s)  ratio %.2f\n", what, ops,
        engine, ops / engine, sqlite, ops / sqlite, engine / sqlite);
}

void exec(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s (%s)\n", err ? err : "?", sql);
        std::exit(1);
    }
}

struct Row {
    std::string code, nom, prenom, adr;
    QDate dn;
    int nb;
};

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 50000;
    QTemporaryDir tmp;
    const std::string dir = argc > 2 ? std::string(argv[2]) : tmp.path().toStdString();
    QDir().mkpath(QString::fromStdString(dir));
    std::mt19937 rng(7);
    const char* noms[] = {"Martin", "Bernard", "Durand", "Lefèvre", "Dupont", "Moreau", "Roux", "Girard", "Fontaine"};
    std::vector<Row> data;
    for (long i = 0; i < rows + 2000; ++i) {
        char code[24];
        std::snprintf(code, sizeof code, "%06ld", i + 1);
        data.push_back({code, std::string(noms[rng() % 9]) + std::to_string(rng() % 1000), "Prénom",
            std::to_string(rng() % 300) + " rue de la Paix", QDate(1930, 1, 1).addDays(rng() % 30000),
            static_cast<int>(rng() % 1000)});
    }
    auto values = [](const Row& r) -> std::vector<QVariant> {
        return {QString::fromStdString(r.code), QString::fromUtf8(r.nom.c_str()), QString::fromUtf8(r.prenom.c_str()),
            QString::fromStdString(r.adr), r.dn, r.nb};
    };

    // ---- set-up: the same rows in both -----------------------------------------
    const std::string tablePath = dir + "/BENCH.DBF";
    DbfTable::create(tablePath,
        {{"CODE", 'C', 6, 0, false}, {"NOM", 'C', 30, 0, false}, {"PRENOM", 'C', 30, 0, false},
            {"ADR", 'C', 40, 0, false}, {"DN", 'D', 8, 0, false}, {"NB", 'N', 6, 0, false}},
        {{"CODE", "CODE", 'C', true, false}, {"NOM", "NOM", 'C', false, false}});
    const std::string sqlPath = dir + "/bench.sqlite";
    QFile::remove(QString::fromStdString(sqlPath));
    sqlite3* db = nullptr;
    sqlite3_open(sqlPath.c_str(), &db);
    exec(db, "CREATE TABLE p(code TEXT, nom TEXT, prenom TEXT, adr TEXT, dn TEXT, nb INTEGER)");
    exec(db, "CREATE UNIQUE INDEX p_code ON p(code)");
    exec(db, "CREATE INDEX p_nom ON p(nom)");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO p VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
    auto sqlInsert = [&](const Row& r) {
        sqlite3_bind_text(ins, 1, r.code.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(ins, 2, r.nom.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(ins, 3, r.prenom.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(ins, 4, r.adr.c_str(), -1, SQLITE_STATIC);
        const std::string dn = r.dn.toString(QStringLiteral("yyyyMMdd")).toStdString();
        sqlite3_bind_text(ins, 5, dn.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 6, r.nb);
        if (sqlite3_step(ins) != SQLITE_DONE)
            std::exit(1);
        sqlite3_reset(ins);
    };
    std::printf("rows: %ld   directory: %s\n", rows, dir.c_str());
    {
        TableOpenMode ex;
        ex.exclusive = true;
        auto t = DbfTable::open(tablePath, ex);
        const double e = seconds([&] {
            for (long i = 0; i < rows; ++i)
                t->append(values(data[i]));
            t->flush();
        });
        const double s = seconds([&] {
            exec(db, "BEGIN");
            for (long i = 0; i < rows; ++i)
                sqlInsert(data[i]);
            exec(db, "COMMIT");
        });
        report("bulk load (one flush)", rows, e, s);
    }

    // ---- append with flush (shared open, as the screens post) -------------------
    {
        const long n = std::min<long>(500, 2000);
        auto t = DbfTable::open(tablePath);
        const double e = seconds([&] {
            for (long i = 0; i < n; ++i) {
                t->append(values(data[rows + i]));
                t->flush();
            }
        });
        const double s = seconds([&] {
            for (long i = 0; i < n; ++i)
                sqlInsert(data[rows + 1000 + i]);  // autocommit: one journal transaction each
        });
        report("append + flush (default journal)", n, e, s);
    }

    // ---- seeks ------------------------------------------------------------------
    {
        const long n = 50000;
        std::vector<std::string> keys;
        for (long i = 0; i < n; ++i)
            keys.push_back(data[rng() % rows].code);
        auto t = DbfTable::open(tablePath);
        auto cursor = t->openTag("CODE");
        size_t found = 0, sfound = 0;
        const double e = seconds([&] {
            for (const auto& k : keys) {
                const uint32_t r = cursor->seek(QString::fromLatin1(k.c_str()));
                if (r)
                    found += t->rawField(r, 1).size();
            }
        });
        sqlite3_stmt* sel = nullptr;
        sqlite3_prepare_v2(db, "SELECT nom FROM p WHERE code = ?", -1, &sel, nullptr);
        const double s = seconds([&] {
            for (const auto& k : keys) {
                sqlite3_bind_text(sel, 1, k.c_str(), -1, SQLITE_STATIC);
                if (sqlite3_step(sel) == SQLITE_ROW)
                    sfound += 30;  // the stored column width, as the table gives it
                sqlite3_reset(sel);
            }
        });
        sqlite3_finalize(sel);
        if (found != sfound)
            std::printf("  (seek results differ: %zu vs %zu)\n", found, sfound);
        report("seek by unique key", n, e, s);
    }

    // ---- full scans -------------------------------------------------------------
    {
        auto t = DbfTable::open(tablePath);
        size_t a = 0, b = 0;
        const uint32_t count = t->recordCount();
        const double raw = seconds([&] {
            for (uint32_t r = 1; r <= count; ++r)
                a += t->rawField(r, 1).find_last_not_of(' ') + 1;
        });
        const double val = seconds([&] {
            for (uint32_t r = 1; r <= count; ++r)
                b += static_cast<size_t>(t->value(r, 1).toString().size());
        });
        sqlite3_stmt* sel = nullptr;
        sqlite3_prepare_v2(db, "SELECT nom FROM p", -1, &sel, nullptr);
        size_t c = 0;
        const double s = seconds([&] {
            while (sqlite3_step(sel) == SQLITE_ROW)
                c += static_cast<size_t>(sqlite3_column_bytes(sel, 0));
        });
        sqlite3_finalize(sel);
        report("full scan (raw bytes)", count, raw, s);
        report("full scan (QString values)", count, val, s);
    }

    // ---- pack -------------------------------------------------------------------
    {
        TableOpenMode ex;
        ex.exclusive = true;
        auto t = DbfTable::open(tablePath, ex);
        for (uint32_t r = 10; r <= t->recordCount(); r += 10)
            t->deleteRecord(r);
        exec(db, "DELETE FROM p WHERE rowid % 10 = 0");
        const double e = seconds([&] { t->pack(); });
        const double s = seconds([&] { exec(db, "VACUUM"); });
        report("pack / vacuum", t->recordCount(), e, s);
        const double e2 = seconds([&] { t->regenerateIndexes(); });
        const double s2 = seconds([&] { exec(db, "REINDEX"); });
        report("regenerate indexes / reindex", t->recordCount(), e2, s2);
    }
    {
        const double p = seconds([&] { engine::openTableResult(dir, "BENCH.DBF", "DBASE", false); });
        std::printf("%-28s %8s      engine %9.4f s\n", "probe (openTableResult)", "", p);
    }
    sqlite3_finalize(ins);
    sqlite3_close(db);
    return 0;
}
