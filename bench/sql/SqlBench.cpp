// The screens' statements on the practice database, side by side with
// SQLite holding the same tables, rows and indexes (bench/gen).
//
//   korvale_sql_bench [scale] [directory] [statement number, to profile it [runs]]
//
// scale 1 is the practice size (50 000 patients, 500 000 consultations);
// the default is 0.1. A directory holding the practice of the same scale
// from an earlier run is used as it is.
//
// The engine runs each statement as the program does: a SELECT through a
// query dataset read to its end, every value of every row; a write through
// execSql (which flushes the table), while SQLite commits and syncs each
// write. SQLite runs the same statement and, where another form of it is
// read by a better plan, that form too: the better time counts. The two
// sides run in turn, round after round (bench/gen/Timing.h). Prints, per
// statement, the median times, their ratio and whether it meets the goal
// (at most SQLite's time).
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/gen/Practice.h"
#include "bench/gen/PracticeLite.h"
#include "bench/gen/Timing.h"
#include "app/global/NextCode.h"
#include "app/global/NextCodeDb.h"
#include "platform/db/dataset/Dataset.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoal = 1.0;

double medianMs(const std::function<size_t()>& f, int runs, size_t& rows)
{
    // A short statement runs more often (up to about 50 ms in all), so that
    // its median does not hang on a handful of timer readings.
    if (runs == 5) {
        auto a = Clock::now();
        rows = f();
        const double once = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
        if (once > 0 && once < 10)
            runs = std::clamp(static_cast<int>(50 / once), 5, 1001);
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

struct Statement {
    const char* name;
    QString sql;  // as the screen writes it
    std::vector<std::string> lite;  // SQLite's forms: the same statement first
    kdb::sql::Params params;
    std::vector<std::string> binds;
};

}  // namespace

int measure(int argc, char** argv)
{
    InstallDatabaseKeyColumns();
    const double scale = argc > 1 ? std::atof(argv[1]) : 0.1;
    if (!(scale > 0)) {
        std::fprintf(stderr, "bad scale\n");
        return 2;
    }
    QTemporaryDir tmp;
    const std::string dir = argc > 2 ? argv[2] : tmp.path().toStdString();
    auto t0 = Clock::now();
    kbench::Lite lite(kbench::preparePractice(dir, scale, true));
    std::printf("ready in %.0f ms\n\n", std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

    // Runs a SELECT as a screen does and reads every value of every row.
    auto select = [&](const Statement& s) -> size_t {
        kdb::QueryDataset q;
        q.setDatabaseName(dir);
        q.setSql(s.sql);
        q.params() = s.params;
        q.open();
        size_t n = 0;
        for (; !q.eof(); q.next(), ++n)
            for (int f = 0; f < q.fieldCount(); ++f)
                (void)q.field(f).value();
        return n;
    };

    kdb::sql::Params patient;
    patient.setText("PATIENT", "000042");
    std::vector<Statement> statements = {
        {"picker: NOM LIKE 'DUP%' ORDER BY NOM, PRENOM",
            "SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DUP%' ORDER BY NOM, PRENOM",
            {"SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DUP%' ORDER BY NOM, PRENOM",
                "SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM >= 'DUP' AND NOM < 'DUQ' ORDER BY "
                "NOM, PRENOM"},
            {}, {}},
        {"patient header: CODE=:CODE", "SELECT *  FROM PATIENT WHERE CODE='000042'",
            {"SELECT * FROM PATIENT WHERE CODE='000042'"}, {}, {}},
        {"history: PATIENT=:PATIENT ORDER BY DCONS", "SELECT * FROM CONS.DBF WHERE PATIENT=:PATIENT\r\nORDER BY DCONS",
            {"SELECT * FROM CONS WHERE PATIENT=? ORDER BY DCONS", "SELECT * FROM CONS WHERE PATIENT=? ORDER BY +DCONS"},
            patient, {"000042"}},
        {"SELECT MAX(ID_CONS) (tag)", "SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS.DBF ",
            {"SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS"}, {}, {}},
        {"SELECT MAX(POIDS) (no tag)", "SELECT MAX(POIDS) AS P FROM CONS", {"SELECT MAX(POIDS) AS P FROM CONS"}, {},
            {}},
        {"SELECT MAX(DCONS) (tag)", "SELECT MAX(DCONS) AS D FROM CONS", {"SELECT MAX(DCONS) AS D FROM CONS"}, {}, {}},
        {"pick list MOTIF", "SELECT DISTINCT MOTIF FROM CONS.DBF WHERE MOTIF <> '' ORDER BY MOTIF",
            {"SELECT DISTINCT MOTIF FROM CONS WHERE MOTIF <> '' ORDER BY MOTIF"}, {}, {}},
        {"pick list DIAG", "SELECT DISTINCT DIAG FROM CONS.DBF WHERE DIAG <> '' ORDER BY DIAG",
            {"SELECT DISTINCT DIAG FROM CONS WHERE DIAG <> '' ORDER BY DIAG"}, {}, {}},
        {"pick list TRT1", "SELECT DISTINCT TRT1 FROM CONS.DBF WHERE TRT1 <> '' ORDER BY TRT1",
            {"SELECT DISTINCT TRT1 FROM CONS WHERE TRT1 <> '' ORDER BY TRT1"}, {}, {}},
        {"appointment list join",
            "SELECT NUM, PATIENT, DATE_RDV, HRE_RDV,  \r\n               MOTIF, CODE, (NOM + ', ' + PRENOM)\r\n"
            "FROM FRDV, PATIENT\r\nWHERE PATIENT=CODE\r\n\r\nORDER BY DATE_RDV, HRE_RDV",
            {"SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF, CODE, (NOM || ', ' || PRENOM) "
             "FROM FRDV, PATIENT WHERE PATIENT=CODE ORDER BY DATE_RDV, HRE_RDV",
                "SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF, CODE, (NOM || ', ' || PRENOM) "
                "FROM FRDV, PATIENT WHERE PATIENT=CODE ORDER BY +DATE_RDV, HRE_RDV"},
            {}, {}},
    };

    struct Case {
        const char* name;
        std::function<size_t()> ours;
        std::vector<std::function<size_t()>> theirs;
        std::vector<std::string> liteSql;
    };
    std::vector<Case> cases;
    for (const Statement& s : statements) {
        Case c{s.name, [&, s] { return select(s); }, {}, s.lite};
        for (const std::string& form : s.lite)
            c.theirs.push_back([&, form, binds = s.binds] { return lite.rows(form, binds); });
        cases.push_back(std::move(c));
    }
    // A patient's file posted: each run writes another telephone number, so
    // that every run changes the row (and syncs it).
    int ourRuns = 0, theirRuns = 0;
    auto phone = [](int run) { return QStringLiteral("01020304%1").arg(run % 100, 2, 10, QLatin1Char('0')); };
    cases.push_back({"patient edit: UPDATE PATIENT SET TEL WHERE CODE",
        [&] {
            kdb::QueryDataset q;
            q.setDatabaseName(dir);
            q.setSql(QStringLiteral("UPDATE PATIENT SET TEL=:TEL WHERE CODE=:CODE"));
            q.setParamText("TEL", phone(++ourRuns));
            q.setParamText("CODE", QStringLiteral("000042"));
            return static_cast<size_t>(q.execSql());
        },
        {[&] {
            lite.rows("UPDATE PATIENT SET TEL=? WHERE CODE=?", {phone(++theirRuns).toStdString(), "000042"});
            return static_cast<size_t>(sqlite3_changes(lite.db()));
        }},
        {"UPDATE PATIENT SET TEL=? WHERE CODE=?"}});
    cases.push_back({"NextCode on PATIENT (CODE, width 6)",
        [&] {
            QString code = NextCode("PATIENT", QString::fromStdString(dir), "CODE", 6);
            ReleaseCodeAllocation();
            return static_cast<size_t>(code.toInt());
        },
        {[&] {
            std::string last = lite.first("SELECT CODE FROM PATIENT ORDER BY CODE DESC LIMIT 1");
            const std::string next =
                QString::number(QString::fromStdString(last).toInt() + 1).rightJustified(6, '0').toStdString();
            const size_t taken = lite.rows("SELECT CODE FROM PATIENT WHERE CODE=?", {next});
            return static_cast<size_t>(std::stoi(next)) + taken;
        }},
        {"SELECT CODE FROM PATIENT ORDER BY CODE DESC LIMIT 1"}});

    if (argc > 3) {  // profiling: one statement of ours, many times
        size_t rows = 0;
        const Case& c = cases.at(static_cast<size_t>(std::atoi(argv[3])));
        double t = medianMs(c.ours, argc > 4 ? std::max(1, std::atoi(argv[4])) : 2000, rows);
        std::printf("%s: %.4f ms\n", c.name, t);
        return 0;
    }

    // The grid of the patient file: a table in NOM order, the first
    // screenful, against the same on a practice of a few patients.
    const std::string few = dir + "/few";
    kbench::writePractice(few, 0.001, false);
    auto screenful = [](const std::string& d) {
        kdb::TableDataset t;
        t.setDatabaseName(d);
        t.setTableName("Patient.DBF");
        t.setIndexFieldNames("NOM");
        t.open();
        size_t n = 0;
        for (int r = 0; r < 40 && r < t.loadedRowCount(); ++r, ++n)
            for (int f = 0; f < 5; ++f)
                (void)t.valueAt(r, f);
        return n;
    };
    {
        size_t a = 0, b = 0;
        const double big = medianMs([&] { return screenful(dir); }, 5, a);
        const double small = medianMs([&] { return screenful(few); }, 5, b);
        std::printf("grid: open Patient in NOM order + 40 rows: %.2f ms, %.2f ms on 50 patients (%.2f x)\n\n", big,
            small, small > 0 ? big / small : 0);
    }

    std::printf(
        "%-48s %10s %10s %7s %8s  %s\n", "statement", "engine ms", "sqlite ms", "ratio", "rows", "goal: at most 1 x");
    bool same = true;
    int missed = 0;
    for (const Case& c : cases) {
        // Ours and each of SQLite's forms in turn, round after round.
        std::vector<std::function<size_t()>> sides{c.ours};
        sides.insert(sides.end(), c.theirs.begin(), c.theirs.end());
        const std::vector<kbench::SideTime> t = kbench::interleavedMedians(sides);
        const size_t a = t[0].rows;
        const double ta = t[0].ms;
        double best = 0;
        size_t bestForm = 0;
        bool rowsDiffer = false;
        for (size_t i = 0; i < c.theirs.size(); ++i) {
            rowsDiffer = rowsDiffer || a != t[i + 1].rows;
            if (i == 0 || t[i + 1].ms < best) {
                best = t[i + 1].ms;
                bestForm = i;
            }
        }
        const double ratio = best > 0 ? ta / best : 0;
        const bool meets = ratio <= kGoal;
        missed += meets ? 0 : 1;
        same = same && !rowsDiffer;
        std::printf("%-48s %10.3f %10.3f %7.2f %8zu  %s%s\n", c.name, ta, best, ratio, a, meets ? "meets" : "MISSES",
            rowsDiffer ? "  ROWS DIFFER" : "");
        if (c.theirs.size() > 1)
            for (size_t i = 0; i < c.theirs.size(); ++i)
                std::printf("    sqlite form %zu%s: %.3f ms, plan: %s\n", i + 1, i == bestForm ? " (best)" : "",
                    t[i + 1].ms, lite.plan(c.liteSql[i]).c_str());
    }
    std::printf("\n%zu statements, %d missing the goal%s\n", cases.size(), missed,
        same ? "" : "; some results differ from SQLite's");
    return same ? 0 : 1;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return kbench::insideEventLoop(app, [&] { return measure(argc, argv); });
}
