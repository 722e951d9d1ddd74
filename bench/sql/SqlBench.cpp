// The screens' statements on a generated practice database, side by side
// with SQLite holding the same rows and the same indexes.
//
//   korvale_sql_bench [patients] [directory] [statement number, to profile it [runs]]
//
// patients 50000 is the practice size: 500 000 consultations, 200 000
// exams, 100 000 appointments (ten, four and two per patient).
// Prints, per statement, the median time of both and their ratio.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PracticeFiles.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "dataset/Dataset.h"
#include "sql/Sql.h"

using namespace kdb::sql;
using Clock = std::chrono::steady_clock;

namespace {

double medianMs(const std::function<size_t()>& f, int runs, size_t& rows) {
    // A short statement runs more often (up to about 50 ms in all), so that
    // its median does not hang on a handful of timer readings.
    if (runs == 5) {
        auto a = Clock::now();
        rows = f();
        const double once = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
        if (once > 0 && once < 10) runs = std::clamp(static_cast<int>(50 / once), 5, 1001);
    }
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        rows = f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

struct Lite {
    sqlite3* db = nullptr;
    explicit Lite(const std::string& path) { sqlite3_open(path.c_str(), &db); }
    ~Lite() { sqlite3_close(db); }
    void exec(const std::string& s) {
        char* err = nullptr;
        if (sqlite3_exec(db, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite: %s in %s\n", err ? err : "?", s.c_str());
            sqlite3_free(err);
            std::exit(1);
        }
    }
    // Runs a query and reads every value, as a dataset would.
    size_t rows(const std::string& s, const std::vector<std::string>& binds = {}) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, s.c_str(), -1, &st, nullptr);
        for (size_t i = 0; i < binds.size(); ++i)
            sqlite3_bind_text(st, static_cast<int>(i + 1), binds[i].c_str(), -1, SQLITE_TRANSIENT);
        size_t n = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) (void)sqlite3_column_text(st, c);
            ++n;
        }
        sqlite3_finalize(st);
        return n;
    }
    std::string first(const std::string& s) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, s.c_str(), -1, &st, nullptr);
        std::string v;
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return v;
    }
};

std::string q(const QString& s) { return "'" + QString(s).replace("'", "''").toStdString() + "'"; }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    InstallDatabaseKeyColumns();
    const int patients = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
    QTemporaryDir tmp;
    std::string dir = argc > 2 ? argv[2] : tmp.path().toStdString();
    QDir().mkpath(QString::fromStdString(dir));

    const std::vector<QString> noms = {"DUPONT", "DURAND", "DUVAL", "MARTIN", "BERNARD", "PETIT", "ROBERT",
                                       "RICHARD", "MOREAU", "SIMON", "LAURENT", "LEFEBVRE", "MICHEL", "GARCIA"};
    const std::vector<QString> prenoms = {"JEAN", "MARIE", "PAUL", "ANNE", "LUC", "SOPHIE", "PIERRE", "CLAIRE"};
    const std::vector<QString> motifs = {"FIEVRE", "TOUX", "CONTROLE", "DOULEUR", "VACCIN", "BILAN", "", "FATIGUE"};
    std::mt19937 rng(42);
    auto rnd = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

    QFile::remove(QString::fromStdString(dir + "/bench.sqlite"));
    Lite lite(dir + "/bench.sqlite");
    lite.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
    lite.exec("CREATE TABLE PATIENT (CODE TEXT, NOM TEXT, PRENOM TEXT, DN TEXT, ADR TEXT, PROFES TEXT)");
    lite.exec("CREATE UNIQUE INDEX P_CODE ON PATIENT(CODE); CREATE INDEX P_NOM ON PATIENT(NOM)");
    lite.exec("CREATE TABLE CONS (ID_CONS INTEGER, PATIENT TEXT, DCONS TEXT, MOTIF TEXT, DIAG TEXT, TRT1 TEXT)");
    lite.exec("CREATE INDEX C_DCONS ON CONS(DCONS)");
    lite.exec("CREATE TABLE FRDV (NUM TEXT, PATIENT TEXT, DATE_RDV TEXT, HRE_RDV TEXT, MOTIF TEXT)");
    lite.exec("CREATE INDEX R_DATE ON FRDV(DATE_RDV)");
    lite.exec("CREATE TABLE EXCOMP (NUM TEXT, PATIENT TEXT, DATE_EX TEXT, RADIOBIO TEXT, CODE TEXT, RESULTAT TEXT)");
    lite.exec("CREATE INDEX E_DATE ON EXCOMP(DATE_EX)");

    std::printf("generating %d patients, %d consultations, %d exams, %d appointments in %s\n", patients,
                patients * 10, patients * 4, patients * 2, dir.c_str());
    if (kdbtest::createPracticeFiles(dir) != 0) {
        std::fprintf(stderr, "cannot create the tables\n");
        return 1;
    }
    auto t0 = Clock::now();
    {
        auto pat = kdb::engine::openTable(dir, "PATIENT");
        auto cons = kdb::engine::openTable(dir, "CONS");
        auto rdv = kdb::engine::openTable(dir, "FRDV");
        auto ex = kdb::engine::openTable(dir, "EXCOMP");
        lite.exec("BEGIN");
        for (int i = 1; i <= patients; ++i) {
            QString code = QString::number(i).rightJustified(6, '0');
            QString nom = noms[static_cast<size_t>(rnd(14))] + (rnd(3) ? QString() : QString::number(rnd(50)));
            QString prenom = prenoms[static_cast<size_t>(rnd(8))];
            QString dn = QDate(1940, 1, 1).addDays(rnd(25000)).toString("dd/MM/yyyy");
            pat->append({code, "", nom, prenom, "RUE " + QString::number(i), "", dn, "", "", "M", "", "PROF"});
            lite.exec("INSERT INTO PATIENT VALUES (" + q(code) + "," + q(nom) + "," + q(prenom) + "," + q(dn) + "," +
                      q("RUE " + QString::number(i)) + ",'PROF')");
        }
        for (int i = 1; i <= patients * 10; ++i) {
            QString p = QString::number(1 + rnd(patients)).rightJustified(6, '0');
            QDate d = QDate(2015, 1, 1).addDays(rnd(3000));
            QString m = motifs[static_cast<size_t>(rnd(8))];
            if (!m.isEmpty() && rnd(4) == 0) m += " " + QString::number(rnd(200));
            QString diag = "DIAG " + QString::number(rnd(300)), trt = "TRT " + QString::number(rnd(300));
            cons->append({p, d, "", "", "", "", m, diag, "", trt, "", i});
            lite.exec("INSERT INTO CONS VALUES (" + std::to_string(i) + "," + q(p) + "," + q(d.toString("yyyy-MM-dd")) +
                      "," + (m.isEmpty() ? std::string("NULL") : q(m)) + "," + q(diag) + "," + q(trt) + ")");
        }
        for (int i = 1; i <= patients * 4; ++i) {
            QString num = QString::number(i).rightJustified(6, '0');
            QString p = QString::number(1 + rnd(patients)).rightJustified(6, '0');
            QDate d = QDate(2015, 1, 1).addDays(rnd(3000));
            QString rb = rnd(2) ? "B" : "R", code = QString::number(rnd(100)).rightJustified(3, '0');
            ex->append({num, p, d, rb, code, "NORMAL"});
            lite.exec("INSERT INTO EXCOMP VALUES (" + q(num) + "," + q(p) + "," + q(d.toString("yyyy-MM-dd")) + "," +
                      q(rb) + "," + q(code) + ",'NORMAL')");
        }
        for (int i = 1; i <= patients * 2; ++i) {
            QString num = QString::number(i).rightJustified(6, '0');
            QString p = QString::number(1 + rnd(patients + patients / 20)).rightJustified(6, '0');
            QDate d = QDate(2024, 1, 1).addDays(rnd(365));
            QString h = QString("%1:%2").arg(8 + rnd(10), 2, 10, QChar('0')).arg(rnd(4) * 15, 2, 10, QChar('0'));
            rdv->append({num, p, d, h, "RDV"});
            lite.exec("INSERT INTO FRDV VALUES (" + q(num) + "," + q(p) + "," + q(d.toString("yyyy-MM-dd")) + "," + q(h) +
                      ",'RDV')");
        }
        lite.exec("COMMIT");
        pat->flush();
        cons->flush();
        rdv->flush();
        ex->flush();
    }
    std::printf("generated in %.0f ms\n\n", std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

    struct Case {
        const char* name;
        std::function<size_t()> ours, theirs;
        bool indexed;
    };
    auto run = [&](const std::string& s, const Params& p = {}) { return execute(dir, s, p).result.rows.size(); };
    Params pp;
    pp.setText("PATIENT", "000042");
    std::vector<Case> cases = {
        {"picker: NOM LIKE 'DUP%' ORDER BY NOM, PRENOM",
         [&] { return run("SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DUP%' ORDER BY NOM, PRENOM"); },
         [&] { return lite.rows("SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DUP%' ORDER BY NOM, PRENOM"); },
         true},
        {"patient header: CODE=:CODE",
         [&] { return run("SELECT *  FROM PATIENT WHERE CODE='000042'"); },
         [&] { return lite.rows("SELECT * FROM PATIENT WHERE CODE='000042'"); }, true},
        {"history: PATIENT=:PATIENT ORDER BY DCONS",
         [&] { return run("SELECT * FROM CONS.DBF WHERE PATIENT=:PATIENT\r\nORDER BY DCONS", pp); },
         [&] { return lite.rows("SELECT * FROM CONS WHERE PATIENT=? ORDER BY DCONS", {"000042"}); }, false},
        {"SELECT MAX(ID_CONS) (no tag)",
         [&] { return run("SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS.DBF "); },
         [&] { return lite.rows("SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS"); }, false},
        {"SELECT MAX(DCONS) (tag)",
         [&] { return run("SELECT MAX(DCONS) AS D FROM CONS"); },
         [&] { return lite.rows("SELECT MAX(DCONS) AS D FROM CONS"); }, true},
        {"pick list MOTIF",
         [&] { return run("SELECT DISTINCT MOTIF FROM CONS.DBF WHERE MOTIF <> '' ORDER BY MOTIF"); },
         [&] { return lite.rows("SELECT DISTINCT MOTIF FROM CONS WHERE MOTIF <> '' ORDER BY MOTIF"); }, false},
        {"pick list DIAG",
         [&] { return run("SELECT DISTINCT DIAG FROM CONS.DBF WHERE DIAG <> '' ORDER BY DIAG"); },
         [&] { return lite.rows("SELECT DISTINCT DIAG FROM CONS WHERE DIAG <> '' ORDER BY DIAG"); }, false},
        {"pick list TRT1",
         [&] { return run("SELECT DISTINCT TRT1 FROM CONS.DBF WHERE TRT1 <> '' ORDER BY TRT1"); },
         [&] { return lite.rows("SELECT DISTINCT TRT1 FROM CONS WHERE TRT1 <> '' ORDER BY TRT1"); }, false},
        {"appointment list join",
         [&] {
             return run("SELECT NUM, PATIENT, DATE_RDV, HRE_RDV,  \r\n               MOTIF, CODE, (NOM + ', ' + PRENOM)\r\n"
                        "FROM FRDV, PATIENT\r\nWHERE PATIENT=CODE\r\n\r\nORDER BY DATE_RDV, HRE_RDV");
         },
         [&] {
             return lite.rows("SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF, CODE, (NOM || ', ' || PRENOM) "
                              "FROM FRDV, PATIENT WHERE PATIENT=CODE ORDER BY DATE_RDV, HRE_RDV");
         },
         true},
        {"NextCode on PATIENT (CODE, width 6)",
         [&] {
             QString code = NextCode("PATIENT", QString::fromStdString(dir), "CODE", 6);
             ReleaseCodeAllocation();
             return static_cast<size_t>(code.toInt());
         },
         [&] {
             std::string last = lite.first("SELECT CODE FROM PATIENT ORDER BY CODE DESC LIMIT 1");
             QString next = QString::number(QString::fromStdString(last).toInt() + 1).rightJustified(6, '0');
             size_t taken = lite.rows("SELECT CODE FROM PATIENT WHERE CODE=" + q(next));
             return static_cast<size_t>(next.toInt()) + taken;
         },
         true},
    };
    if (argc > 3) {  // profiling: one statement of ours, many times
        size_t rows = 0;
        const Case& c = cases.at(static_cast<size_t>(std::atoi(argv[3])));
        double t = medianMs(c.ours, argc > 4 ? std::max(1, std::atoi(argv[4])) : 2000, rows);
        std::printf("%s: %.4f ms\n", c.name, t);
        return 0;
    }
    std::printf("%-46s %10s %10s %8s %8s\n", "statement", "engine ms", "sqlite ms", "ratio", "rows");
    // The grid of the patient file: a table in NOM order, the first screenful.
    std::string few = dir + "/few";
    QDir().mkpath(QString::fromStdString(few));
    kdbtest::createPracticeFiles(few);
    {
        auto pat = kdb::engine::openTable(few, "PATIENT");
        for (int i = 1; i <= 50; ++i)
            pat->append({QString::number(i).rightJustified(6, '0'), "", noms[static_cast<size_t>(i % 14)], "JEAN"});
        pat->flush();
    }
    auto screenful = [](const std::string& d) {
        kdb::TableDataset t;
        t.setDatabaseName(d);
        t.setTableName("Patient.DBF");
        t.setIndexFieldNames("NOM");
        t.open();
        size_t n = 0;
        for (int r = 0; r < 40 && r < t.loadedRowCount(); ++r, ++n)
            for (int f = 0; f < 5; ++f) (void)t.valueAt(r, f);
        return n;
    };
    {
        size_t a = 0, b = 0;
        double big = medianMs([&] { return screenful(dir); }, 5, a);
        double small = medianMs([&] { return screenful(few); }, 5, b);
        std::printf("%-46s %10.2f %10.2f %8.2f %8zu  (%d rows against 50)\n", "grid: open in NOM order + 40 rows", big,
                    small, small > 0 ? big / small : 0, a, patients);
    }
    bool ok = true;
    for (const Case& c : cases) {
        size_t a = 0, b = 0;
        double ta = medianMs(c.ours, 5, a);
        double tb = medianMs(c.theirs, 5, b);
        double ratio = tb > 0 ? ta / tb : 0;
        std::printf("%-46s %10.3f %10.3f %8.2f %8zu%s%s\n", c.name, ta, tb, ratio, a, a != b ? "  ROWS DIFFER" : "",
                    c.indexed ? "  (indexed)" : "");
        ok = ok && a == b;
    }
    return ok ? 0 : 1;
}
