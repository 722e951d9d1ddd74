// Writes a practice-sized database through the engine:
//   gen <directory> [scale]
// scale 1 (default): 50 000 patients, 500 000 consultations, 200 000 exams,
// 100 000 appointments (plus protocols, prescriptions and reference lists);
// a smaller scale (e.g. 0.05) divides every count.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <QDate>
#include <QDir>
#include <QString>

#include "PracticeSchema.h"
#include "core/Table.h"
#include "engine/Engine.h"

using namespace kdb;

namespace {

const char* kNoms[] = {"Martin", "Bernard", "Thomas", "Petit", "Robert", "Richard", "Durand", "Dubois", "Moreau",
                       "Laurent", "Simon", "Michel", "Lefèvre", "Leroy", "Roux", "David", "Bertrand", "Morel",
                       "Fournier", "Girard", "Bonnet", "Dupont", "Lambert", "Fontaine", "Rousseau", "Vincent"};
const char* kPrenoms[] = {"Jean", "Marie", "Pierre", "Françoise", "Michel", "Hélène", "Éric", "Nathalie", "Loïc",
                          "Zoé", "André", "Chloé"};

QString code6(long n) { return QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0')); }

void fill(const std::string& dir, const char* table, long count,
          const std::function<std::vector<QVariant>(long)>& row)
{
    const auto start = std::chrono::steady_clock::now();
    engine::OpenOptions ex;
    ex.exclusive = true;
    auto t = engine::openTable(dir, table, ex);
    for (long i = 0; i < count; ++i)
        t->append(row(i));
    t->flush();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-12s %8ld records  %7.2f s  %9.0f records/s\n", table, count, s, count / (s > 0 ? s : 1e-9));
}

}  // namespace

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
    QDir().mkpath(QString::fromStdString(dir));
    auto n = [&](long full) { return std::max(1L, static_cast<long>(full * scale)); };
    try {
        for (const auto& t : kbench::practiceSchema())
            if (const int code = engine::createTable(dir, t)) {
                std::fprintf(stderr, "create %s: engine code %d\n", t.tableName.c_str(), code);
                return 1;
            }
        std::mt19937 rng(42);
        const long patients = n(50000);
        const QDate base(2000, 1, 1);
        fill(dir, "Patient.DBF", patients, [&](long i) -> std::vector<QVariant> {
            return {code6(i + 1), QString::number(i + 1), QString::fromUtf8(kNoms[rng() % 26]),
                    QString::fromUtf8(kPrenoms[rng() % 12]), QStringLiteral("%1 rue de la République").arg(rng() % 200),
                    QStringLiteral("01%1").arg(rng() % 100000000, 8, 10, QLatin1Char('0')),
                    base.addDays(-static_cast<int>(rng() % 30000)).toString(QStringLiteral("dd/MM/yyyy")),
                    QString::number(rng() % 90), QString::number(150 + rng() % 50), rng() % 2 ? "M" : "F",
                    QStringLiteral("A+"), QStringLiteral("Enseignant"), QStringLiteral("RAS"), QStringLiteral("RAS")};
        });
        fill(dir, "Cons.DBF", n(500000), [&](long i) -> std::vector<QVariant> {
            return {code6(1 + rng() % patients), base.addDays(static_cast<int>(rng() % 9000)), QStringLiteral("37.2"),
                    QStringLiteral("12/8"), QStringLiteral("72"), QString(), QStringLiteral("Contrôle annuel"),
                    QStringLiteral("Examen clinique normal. Pas de plainte particulière."), QString(),
                    QStringLiteral("Paracétamol 1 g si douleur"), QString(), QString::number(i + 1)};
        });
        fill(dir, "EXCOMP.DBF", n(200000), [&](long i) -> std::vector<QVariant> {
            return {code6(i + 1), code6(1 + rng() % patients), base.addDays(static_cast<int>(rng() % 9000)),
                    rng() % 2 ? "B" : "R", QStringLiteral("%1").arg(rng() % 100, 3, 10, QLatin1Char('0')),
                    QStringLiteral("Résultat dans les normes")};
        });
        fill(dir, "FRDV.DBF", n(100000), [&](long i) -> std::vector<QVariant> {
            return {code6(i + 1), code6(1 + rng() % patients), base.addDays(static_cast<int>(rng() % 9500)),
                    QStringLiteral("%1:%2").arg(8 + rng() % 10, 2, 10, QLatin1Char('0')).arg((rng() % 4) * 15, 2, 10, QLatin1Char('0')),
                    QStringLiteral("Consultation")};
        });
        fill(dir, "FPROT.DBF", n(5000), [&](long i) -> std::vector<QVariant> {
            return {code6(i + 1), base.addDays(static_cast<int>(rng() % 9000)), code6(1 + rng() % patients),
                    QString::fromUtf8(kNoms[rng() % 26]), QString::fromUtf8(kPrenoms[rng() % 12]), QStringLiteral("54"),
                    QStringLiteral("Clinique du Parc"), QStringLiteral("Dr Martin"), QStringLiteral("Dr Petit"),
                    QStringLiteral("Dr Roux"), QStringLiteral("Diagnostic préopératoire détaillé. ").repeated(5),
                    QStringLiteral("Compte rendu opératoire. ").repeated(20), QString()};
        });
        const long prescriptions = n(20000);
        fill(dir, "FORD.DBF", prescriptions, [&](long i) -> std::vector<QVariant> {
            return {QStringLiteral("%1").arg(i / 5, 3, 36, QLatin1Char('0')).right(3), static_cast<int>(i % 5 + 1),
                    QStringLiteral("Médicament %1").arg(i % 300), QStringLiteral("Comprimé"), QStringLiteral("500 mg"),
                    QStringLiteral("1 boîte"), QStringLiteral("3 fois par jour")};
        });
        fill(dir, "FBIO.DBF", 300, [&](long i) -> std::vector<QVariant> {
            return {QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("Analyse biologique %1").arg(i)};
        });
        fill(dir, "FRADIO.DBF", 200, [&](long i) -> std::vector<QVariant> {
            return {QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("Examen radiologique %1").arg(i)};
        });
        fill(dir, "FPHOTO.DBF", n(10000), [&](long i) -> std::vector<QVariant> {
            return {code6(1 + i % patients), QString::number(i % 20), QStringLiteral("photo_%1.jpg").arg(i)};
        });
        // What the table check costs at each start: one probe per table.
        const auto start = std::chrono::steady_clock::now();
        for (const auto& t : kbench::practiceSchema())
            if (const int code = engine::openTableResult(dir, t.tableName, "DBASE", false)) {
                std::fprintf(stderr, "probe %s: engine code %d\n", t.tableName.c_str(), code);
                return 1;
            }
        std::printf("probe of the nine tables: %.3f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
