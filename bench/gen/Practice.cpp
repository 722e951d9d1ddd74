#include "Practice.h"

#include <QDate>
#include <QDir>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>

#include "checker/DbCheck.h"
#include "resources/schema/SchemaText.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"

namespace kbench {

namespace {

const char* const kNoms[] = {"MARTIN", "BERNARD", "THOMAS", "PETIT", "ROBERT", "RICHARD", "DURAND", "DUBOIS", "MOREAU",
    "LAURENT", "SIMON", "MICHEL", "LEFÈVRE", "LEROY", "ROUX", "DAVID", "BERTRAND", "MOREL", "FOURNIER", "GIRARD",
    "BONNET", "DUPONT", "LAMBERT", "FONTAINE", "ROUSSEAU", "DUVAL"};
const char* const kPrenoms[] = {
    "Jean", "Marie", "Pierre", "Françoise", "Michel", "Hélène", "Éric", "Nathalie", "Loïc", "Zoé", "André", "Chloé"};
const char* const kMotifs[] = {"FIÈVRE", "TOUX", "CONTRÔLE", "DOULEUR", "VACCIN", "BILAN", "", "FATIGUE"};

QString code6(long n)
{
    return QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0'));
}

struct Counts {
    long patients, consultations, exams, appointments, protocols, prescriptions, photos;
    explicit Counts(double scale)
    {
        auto n = [&](long full) { return std::max(1L, static_cast<long>(static_cast<double>(full) * scale)); };
        patients = n(50000);
        consultations = n(500000);
        exams = n(200000);
        appointments = n(100000);
        protocols = n(5000);
        prescriptions = n(20000);
        photos = n(10000);
    }
};

// One table's rows; the random sequence of each table is its own.
long tableRows(const QString& table, const Counts& c, const RowSink& sink)
{
    const QString name = table.section(u'.', 0, 0).toUpper();
    unsigned seed = 2166136261u;  // FNV-1a of the name: the same in every run
    for (const QChar ch : name)
        seed = (seed ^ ch.unicode()) * 16777619u;
    std::mt19937 rng(seed);
    auto rnd = [&](long n) { return static_cast<long>(rng() % static_cast<unsigned long>(n)); };
    const QDate base(2000, 1, 1);
    auto day = [&](long span) { return base.addDays(rnd(span)); };
    auto produce = [&](long count, const std::function<Row(long)>& row) {
        if (sink)
            for (long i = 0; i < count; ++i)
                sink(row(i));
        return count;
    };
    if (name == u"PATIENT")
        return produce(c.patients, [&](long i) -> Row {
            return {code6(i + 1), QString::number(i + 1), QString::fromUtf8(kNoms[rnd(26)]),
                QString::fromUtf8(kPrenoms[rnd(12)]), QStringLiteral("%1 rue de la République").arg(rnd(200)),
                QStringLiteral("01%1").arg(rnd(100000000), 8, 10, QLatin1Char('0')),
                base.addDays(-rnd(30000)).toString(QStringLiteral("dd/MM/yyyy")), QString::number(rnd(90)),
                QString::number(150 + rnd(50)), rnd(2) ? QStringLiteral("M") : QStringLiteral("F"),
                QStringLiteral("A+"), QStringLiteral("Enseignant"), QStringLiteral("RAS"), QString()};
        });
    if (name == u"CONS")
        return produce(c.consultations, [&](long i) -> Row {
            QString motif = QString::fromUtf8(kMotifs[rnd(8)]);
            if (!motif.isEmpty() && rnd(4) == 0)
                motif += QStringLiteral(" %1").arg(rnd(200));
            return {code6(1 + rnd(c.patients)), day(9000), QStringLiteral("37.2"), QStringLiteral("12/8"),
                QString::number(50 + rnd(50)), QString(), motif,
                QStringLiteral("Diagnostic %1 : examen clinique sans particularité").arg(rnd(300)), QString(),
                QStringLiteral("Traitement %1 : paracétamol 1 g si douleur").arg(rnd(300)), QString(),
                static_cast<int>(i + 1)};
        });
    if (name == u"EXCOMP")
        return produce(c.exams, [&](long i) -> Row {
            return {code6(i + 1), code6(1 + rnd(c.patients)), day(9000),
                rnd(2) ? QStringLiteral("B") : QStringLiteral("R"),
                QStringLiteral("%1").arg(rnd(100), 3, 10, QLatin1Char('0')),
                QStringLiteral("Résultat dans les normes")};
        });
    if (name == u"FRDV")  // some appointments are for people without a file yet
        return produce(c.appointments, [&](long i) -> Row {
            return {code6(i + 1), code6(1 + rnd(c.patients + c.patients / 20)), day(9500),
                QStringLiteral("%1:%2")
                    .arg(8 + rnd(10), 2, 10, QLatin1Char('0'))
                    .arg(rnd(4) * 15, 2, 10, QLatin1Char('0')),
                QStringLiteral("Consultation")};
        });
    if (name == u"FPROT")
        return produce(c.protocols, [&](long i) -> Row {
            return {code6(i + 1), day(9000), code6(1 + rnd(c.patients)), QString::fromUtf8(kNoms[rnd(26)]),
                QString::fromUtf8(kPrenoms[rnd(12)]), QStringLiteral("54"), QStringLiteral("Clinique du Parc"),
                QStringLiteral("Dr Martin"), QStringLiteral("Dr Petit"), QStringLiteral("Dr Roux"),
                QStringLiteral("Diagnostic préopératoire détaillé. ").repeated(5),
                QStringLiteral("Compte rendu opératoire.\r\n").repeated(20), QString()};
        });
    if (name == u"FORD")
        return produce(c.prescriptions, [&](long i) -> Row {
            return {QStringLiteral("%1").arg(i / 5, 3, 36, QLatin1Char('0')).right(3), static_cast<int>(i % 5 + 1),
                QStringLiteral("Médicament %1").arg(i % 300), QStringLiteral("Comprimé"), QStringLiteral("500 mg"),
                QStringLiteral("1 boîte"), QStringLiteral("3 fois par jour")};
        });
    if (name == u"FBIO" || name == u"FRADIO") {
        const QString what =
            name == u"FBIO" ? QStringLiteral("Analyse biologique") : QStringLiteral("Examen radiologique");
        return produce(name == u"FBIO" ? 300 : 200, [&](long i) -> Row {
            return {QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("%1 %2").arg(what).arg(i)};
        });
    }
    if (name == u"FPHOTO")
        return produce(c.photos, [&](long i) -> Row {
            return {code6(1 + i % c.patients), QString::number(i % 20), QStringLiteral("photo_%1.jpg").arg(i)};
        });
    throw std::runtime_error("no rows are generated for " + table.toStdString());
}

}  // namespace

const std::vector<dbcheck::TableBlock>& practiceSchema()
{
    static const std::vector<dbcheck::TableBlock> blocks = dbcheck::ParseDescriptor(SchemaText());
    return blocks;
}

void removePracticeTables(const std::string& directory)
{
    const QDir dir(QString::fromStdString(directory));
    for (const dbcheck::TableBlock& block : practiceSchema()) {
        const QString base = block.fileName.section(u'.', 0, 0);
        for (const QString& f : dir.entryList({base + QStringLiteral(".*")}, QDir::Files))
            if (f.section(u'.', 0, 0).compare(base, Qt::CaseInsensitive) == 0)
                QFile::remove(dir.filePath(f));
    }
}

void createPracticeTables(const std::string& directory)
{
    QDir().mkpath(QString::fromStdString(directory));
    TDbCheck check;
    check.CorrectPath = QString::fromStdString(directory);
    check.Descriptor = SchemaText();
    std::string failure;
    check.OnFoundDiff = [](QObject*, TChkMessage, const QString&, bool& correct) { correct = true; };
    check.OnError = [&](QObject*, const EDBEngineError& e) { failure = e.what(); };
    check.CheckDatabase();
    if (!failure.empty())
        throw std::runtime_error("creating the tables: " + failure);
}

QStringList tablesTheCheckWouldChange(const std::string& directory)
{
    TDbCheck check;
    check.CorrectPath = QString::fromStdString(directory);
    check.Descriptor = SchemaText();
    QStringList changed;
    check.OnFoundDiff = [&](QObject*, TChkMessage, const QString& table, bool& correct) {
        changed << table;
        correct = false;
    };
    check.CheckDatabase();
    return changed;
}

void generatePractice(
    double scale, const std::function<void(const dbcheck::TableBlock&, long)>& begin, const RowSink& sink)
{
    const Counts counts(scale);
    for (const dbcheck::TableBlock& block : practiceSchema()) {
        const size_t width = block.fields.size();
        if (begin)
            begin(block, tableRows(block.fileName, counts, {}));
        tableRows(block.fileName, counts, [&](const Row& row) {
            if (row.size() != width)
                throw std::runtime_error("generated row does not match the schema of " + block.fileName.toStdString());
            sink(row);
        });
    }
}

void writePractice(const std::string& directory, double scale, bool verbose, PracticeCopy* copy)
{
    removePracticeTables(directory);
    createPracticeTables(directory);
    std::unique_ptr<kdb::Table> table;
    QString name;
    long rows = 0;
    auto start = std::chrono::steady_clock::now();
    auto finish = [&] {
        if (!table)
            return;
        table->flush();
        table.reset();
        if (copy)
            copy->end();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (verbose)
            std::printf("%-12s %8ld records%s  %7.2f s  %9.0f records/s\n", qPrintable(name), rows,
                copy ? " (and the copy)" : "", s, rows / (s > 0 ? s : 1e-9));
    };
    generatePractice(
        scale,
        [&](const dbcheck::TableBlock& block, long n) {
            finish();
            kdb::engine::OpenOptions exclusive;
            exclusive.exclusive = true;
            table = kdb::engine::openTable(directory, block.fileName.toStdString(), exclusive);
            name = block.fileName;
            rows = n;
            start = std::chrono::steady_clock::now();
            if (copy)
                copy->begin(block);
        },
        [&](const Row& row) {
            table->append(row);
            if (copy)
                copy->row(row);
        });
    finish();
}

}  // namespace kbench
