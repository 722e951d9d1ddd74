// The three record screens and their main actions, timed on an empty
// practice and on a generated one, side by side:
//
//   korvale_records_bench [patients] [directory]
//
// patients 50000 (default) is the practice size: ten consultations per
// patient. A directory that already holds the generated practice is used
// as it is. Prints per action the median time on both and their ratio.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "resources/schema/SchemaText.h"
#include "app/global/AppContext.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "app/records/UConsul.h"
#include "app/records/UGetPatient.h"
#include "app/records/UPatient.h"
#include "checker/DbCheck.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "platform/ui/Messages.h"

using Clock = std::chrono::steady_clock;

namespace {

const char* kNoms[] = {"MARTIN", "BERNARD", "THOMAS", "PETIT", "ROBERT", "RICHARD", "DURAND", "DUBOIS", "MOREAU",
    "LAURENT", "SIMON", "MICHEL", "LEFEVRE", "LEROY", "ROUX", "DAVID", "BERTRAND", "MOREL", "FOURNIER", "GIRARD",
    "BONNET", "DUPONT", "LAMBERT", "FONTAINE", "ROUSSEAU", "VINCENT"};

QString Code6(long n)
{
    return QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0'));
}

void UsePractice(const QString& home)
{
    AppDir = home;
    DataPath = home + "Data/";
    PhotoDir = home + "PHOTOS/";
    QDir().mkpath(DataPath);
    QDir().mkpath(PhotoDir);
}

void CreateTables()
{
    TDbCheck check(nullptr);
    check.Descriptor = SchemaText();
    check.CorrectPath = DataPath;
    check.CheckDatabase();
}

bool Filled()
{
    try {
        return kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF")->recordCount() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

void AppendPatient(kdb::Table& t, long n, std::mt19937& rng)
{
    const QString nom = QString::fromLatin1(kNoms[rng() % 26]) + QString::number(rng() % 1000);
    t.append({Code6(n), QString::number(n), nom, QStringLiteral("JEAN"),
        QStringLiteral("%1 RUE HAUTE").arg(rng() % 200), QStringLiteral("0102030405"),
        QDate(2000, 1, 1).addDays(-static_cast<int>(rng() % 30000)).toString(QStringLiteral("dd/MM/yyyy")),
        QStringLiteral("40"), QString(), rng() % 2 ? "M" : "F", QStringLiteral("A+"), QStringLiteral("ENSEIGNANT"),
        QStringLiteral("RAS"), QStringLiteral("RAS")});
}

// The record of a patient of the practice in use.
std::vector<QVariant> PatientRecord(const QString& code)
{
    auto t = kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF");
    for (uint32_t r = 0; r < t->recordCount(); ++r)
        if (t->value(r, 0).toString() == code)
            return t->record(r);
    throw std::runtime_error("patient " + code.toStdString() + " not in the generated practice");
}

// The practice of one patient (the same record as on the big one), without
// any consultation: every action reads or writes the same patient on both.
void FillOnePatient(const std::vector<QVariant>& record)
{
    auto t = kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF");
    t->append(record);
    t->flush();
}

void Fill(long patients)
{
    std::mt19937 rng(7);
    const QDate base(2000, 1, 1);
    kdb::engine::OpenOptions ex;
    ex.exclusive = true;
    {
        auto t = kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF", ex);
        for (long i = 0; i < patients; ++i)
            AppendPatient(*t, i + 1, rng);
        t->flush();
    }
    auto t = kdb::engine::openTable(DataPath.toStdString(), "Cons.DBF", ex);
    for (long i = 0; i < patients * 10; ++i)
        t->append({Code6(1 + static_cast<long>(rng() % patients)), base.addDays(static_cast<int>(rng() % 9000)),
            QStringLiteral("37.2"), QStringLiteral("12/8"), QStringLiteral("72"), QString(),
            QStringLiteral("Contrôle %1").arg(rng() % 50), QStringLiteral("Examen clinique normal."), QString(),
            QStringLiteral("Paracétamol 1 g si douleur"), QString(), static_cast<double>(i + 1)});
    t->flush();
}

double MedianMs(const std::function<void()>& action, int runs = 7)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = Clock::now();
        action();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

struct Action {
    const char* name;
    std::function<void()> run;
};

// The patient of every action: the same record in both practices, the
// middle one of the generated practice.
QString gPatient;
QString gPatientName;

// The actions, each on the practice in use.
std::vector<double> RunActions(const std::vector<Action>& actions)
{
    std::vector<double> ms;
    for (const Action& a : actions)
        ms.push_back(MedianMs(a.run));
    return ms;
}

std::vector<Action> Actions(AppContext& context)
{
    return {
        {"picker: open",
            [&] {
                TfrmGetPatient dlg(context);
                dlg.show();
            }},
        {"picker: search a name",
            [&] {
                TfrmGetPatient dlg(context);
                dlg.edNom()->setText(gPatientName);
                dlg.BitBtn1Click();
            }},
        {"patient file: open on a patient",
            [&] {
                TfrmPatient frm(context);
                frm.CodePatient = gPatient;
                frm.show();
            }},
        {"patient file: next record x10 and refresh",
            [&] {
                TfrmPatient frm(context);
                frm.CodePatient = gPatient;
                frm.show();
                for (int i = 0; i < 10; ++i)
                    frm.btnNextClick();
                frm.Timer1Timer();
            }},
        {"consultations: open for a patient",
            [&] {
                CurrentPatientCode = gPatient;
                TfrmConsul frm(context);
            }},
        {"consultations: save a new one",
            [&] {
                CurrentPatientCode = gPatient;
                TfrmConsul frm(context);
                frm.btnAddClick();
                frm.btnPostClick();
            }},
    };
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const long patients = argc > 1 ? std::max(1L, std::atol(argv[1])) : 50000;
    QTemporaryDir temp;
    const QString bigHome =
        argc > 2 ? QDir(QString::fromLocal8Bit(argv[2])).absolutePath() + "/" : temp.path() + "/big/";
    const QString emptyHome = temp.path() + "/empty/";
    InstallDatabaseKeyColumns();
    kui::ScopedMessageRecorder messages;
    AppContext context;
    try {
        // The generated practice first, for the record of the patient the
        // empty practice then holds alone.
        UsePractice(bigHome);
        CreateTables();
        if (!Filled()) {
            const auto a = Clock::now();
            Fill(patients);
            std::printf("generated %ld patients, %ld consultations in %.1f s\n", patients, patients * 10,
                std::chrono::duration<double>(Clock::now() - a).count());
        }
        gPatient = Code6(patients / 2 + 1);
        const std::vector<QVariant> record = PatientRecord(gPatient);
        gPatientName = record.at(2).toString();
        const std::vector<Action> actions = Actions(context);
        const std::vector<double> big = RunActions(actions);

        UsePractice(emptyHome);
        CreateTables();
        FillOnePatient(record);
        const std::vector<double> empty = RunActions(actions);

        std::printf("%-44s %10s %10s %7s\n", "action", "empty ms", "big ms", "ratio");
        bool met = true;
        for (size_t i = 0; i < actions.size(); ++i) {
            const double ratio = big[i] / std::max(empty[i], 1e-3);
            met = met && ratio <= 1.5;
            std::printf("%-44s %10.3f %10.3f %7.2f%s\n", actions[i].name, empty[i], big[i], ratio,
                ratio <= 1.5 ? "" : "  (above 1.5)");
        }
        std::printf("goal (every ratio at most 1.5): %s\n", met ? "met" : "not met");
        if (messages.Count() > 0)
            std::printf("messages shown: %d, first: %s\n", messages.Count(),
                messages.Records().first().text.toUtf8().constData());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
