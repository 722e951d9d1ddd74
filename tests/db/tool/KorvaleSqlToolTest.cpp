// korvale-sql as a user of the command line sees it: its output, its error
// messages and its exit status, each statement in a process of its own.
#include <gtest/gtest.h>

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <random>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/Damage.h"
#include "platform/db/engine/Engine.h"
#include "tests/db/DbTestUtil.h"

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

using kdbtest::fieldDesc;

class KorvaleSqlTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        kdb::TableDesc d;
        d.tableName = "VISITE.DBF";
        d.tableType = "DBASE";
        d.fields = {fieldDesc("NOM", kdb::fldZSTRING, 20), fieldDesc("DV", kdb::fldDATE, 1),
            fieldDesc("MONTANT", kdb::fldFLOAT, 8, 2), fieldDesc("NUM", kdb::fldFLOAT, 10),
            fieldDesc("NOTE", kdb::fldBLOB, 1, 0, kdb::fldstMEMO)};
        ASSERT_EQ(kdb::engine::createTable(dir_.path().toStdString(), d), 0);
    }

    Outcome run(const QStringList& statement, const QByteArray& input = {})
    {
        QProcess p;
        p.start(QStringLiteral(KORVALE_SQL_TOOL), QStringList{dir_.path()} + statement);
        EXPECT_TRUE(p.waitForStarted());
        if (!input.isEmpty())
            p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        return {
            p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    Outcome run(const QString& statement) { return run(QStringList{statement}); }

    std::string tablePath(const char* name) const { return dir_.path().toStdString() + "/" + name + ".DBF"; }

    // A patient table: a unique code, a name, a number, a date (each with a
    // tag when `tagged`), two texts and a memo; rows in the field order.
    void makePatients(const char* name, bool tagged, const std::vector<std::vector<QVariant>>& rows)
    {
        std::vector<kdb::TagInfo> tags;
        if (tagged)
            tags = {{"CODE", "CODE", 'C', true, false}, {"NOM", "NOM", 'C', false, false},
                {"NUM", "NUM", 'N', false, false}, {"DV", "DV", 'D', false, false}};
        kdb::DbfTable::create(tablePath(name),
            {{"CODE", 'C', 6, 0, false}, {"NOM", 'C', 20, 0, false}, {"NUM", 'N', 6, 0, false},
                {"DV", 'D', 8, 0, false}, {"TXT", 'C', 10, 0, false}, {"BIG", 'C', 10, 0, false},
                {"NOTE", 'M', 10, 0, false}},
            tags);
        auto t = kdb::DbfTable::open(tablePath(name));
        for (const auto& r : rows)
            t->append(r);
        t->flush();
    }

    QTemporaryDir dir_;
};

// Lines of a result without its header line.
QStringList rowsOf(const Outcome& o)
{
    QStringList lines = o.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

// Another program at the files: a child process that runs `work` (which
// calls ready() once it is at work, and may go on until stopAsked()), then
// waits until the parent lets it end (finish()).
class OtherProgram {
public:
    explicit OtherProgram(const std::function<void(OtherProgram& self)>& work)
    {
        if (::pipe(ready_) != 0 || ::pipe(stop_) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            ::close(ready_[0]);
            ::close(stop_[1]);
            int code = 0;
            try {
                work(*this);
            } catch (...) {
                code = 1;
            }
            ready();
            char b;
            while (!stopped_ && ::read(stop_[0], &b, 1) < 0) { }
            _exit(code);
        }
        ::close(ready_[1]);
        ::close(stop_[0]);
    }
    ~OtherProgram() { finish(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // In the parent: waits until the child is at work.
    bool waitReady()
    {
        char c;
        return pid_ > 0 && ::read(ready_[0], &c, 1) == 1;
    }
    // In the parent: lets the child end; answers its exit status (0: its
    // work ran through).
    int finish()
    {
        if (pid_ <= 0)
            return -1;
        const char c = 's';
        (void)!::write(stop_[1], &c, 1);
        ::close(stop_[1]);
        ::close(ready_[0]);
        int status = 0;
        const pid_t p = pid_;
        pid_ = -1;
        if (waitpid(p, &status, 0) != p || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }
    // In the child: tells the parent it is at work (once).
    void ready()
    {
        if (told_)
            return;
        told_ = true;
        const char c = 'r';
        (void)!::write(ready_[1], &c, 1);
    }
    // In the child: whether the parent asked it to stop.
    bool stopAsked()
    {
        if (!stopped_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(stop_[0], &set);
            timeval tv{0, 0};
            stopped_ = ::select(stop_[0] + 1, &set, nullptr, nullptr, &tv) > 0;
        }
        return stopped_;
    }

private:
    int ready_[2] = {-1, -1};
    int stop_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool stopped_ = false;
    bool told_ = false;
};

std::vector<QVariant> patient(const QString& code, const QString& nom, const QVariant& num, const QVariant& dv = {},
    const QString& txt = {}, const QString& big = {}, const QString& note = {})
{
    return {code, nom, num, dv, txt, big, note};
}

// Writes in one process and reads in the next: every write is on disk when
// its process ends, and the values come back in the agreed text forms.
TEST_F(KorvaleSqlTool, WritesOfOneRunAreReadByTheNextInTheirTextForms)
{
    Outcome ins = run(QStringLiteral("INSERT INTO VISITE (NOM, DV, MONTANT, NUM, NOTE) "
                                     "VALUES ('Hélène', '2024-03-01', 12.5, 42, 'ligne 1\nligne\t2 \\ fin')"));
    EXPECT_EQ(ins.status, 0) << ins.err.toStdString();
    EXPECT_EQ(ins.out, QStringLiteral("1\n"));
    EXPECT_EQ(run(QStringLiteral("INSERT INTO VISITE (NOM) VALUES ('Zoë')")).out, QStringLiteral("1\n"));

    Outcome sel = run(QStringLiteral("SELECT NOM, DV, MONTANT, NUM, NOTE FROM VISITE ORDER BY NOM"));
    EXPECT_EQ(sel.status, 0) << sel.err.toStdString();
    EXPECT_EQ(sel.out,
        QStringLiteral("NOM\tDV\tMONTANT\tNUM\tNOTE\n"
                       "Hélène\t2024-03-01\t12.50\t42\tligne 1\\nligne\\t2 \\\\ fin\n"
                       "Zoë\t\t\t\t\n"));
    EXPECT_TRUE(sel.err.isEmpty());

    Outcome none = run(QStringLiteral("SELECT NOM FROM VISITE WHERE NUM > 100"));
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, QStringLiteral("NOM\n"));
}

// Lines of the standard input run in turn; the first failure stops the run
// with the engine's code on standard error and status 1.
TEST_F(KorvaleSqlTool, StandardInputRunsEachLineAndStopsAtTheFirstFailure)
{
    Outcome r = run({},
        "INSERT INTO VISITE (NOM, MONTANT) VALUES ('A', 7)\n"
        "\n"
        "INSERT INTO VISITE (NOM, MONTANT) VALUES ('B', 3)\r\n"
        "UPDATE VISITE SET MONTANT = 4 WHERE MONTANT < 5\n"
        "SELECT NOM, MONTANT FROM VISITE ORDER BY MONTANT\n"
        "SELECT * FROM ABSENTE\n"
        "DELETE FROM VISITE\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QStringLiteral("1\n1\n1\nNOM\tMONTANT\nB\t4.00\nA\t7.00\n"));
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("error %1: ").arg(kdb::DBERR_NOSUCHTABLE))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("ABSENTE"), Qt::CaseInsensitive)) << r.err.toStdString();
    // the DELETE after the failure did not run
    EXPECT_EQ(run(QStringLiteral("SELECT NOM FROM VISITE ORDER BY NOM")).out, QStringLiteral("NOM\nA\nB\n"));

    Outcome bad = run(QStringLiteral("SELEC NOM FROM VISITE"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.startsWith(QStringLiteral("error 11790: "))) << bad.err.toStdString();

    Outcome unknown = run(QStringLiteral("UPDATE VISITE SET ABSENT = 1"));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.startsWith(QStringLiteral("error 11791: "))) << unknown.err.toStdString();
}

// "+" on numbers adds them and a MAX within an expression gives one row
// (the next consultation number), "+" joins texts as the screens' statements
// do, and a number added to a text is refused with the code of the other
// statements outside the dialect, changing nothing.
TEST_F(KorvaleSqlTool, PlusAddsNumbersAndJoinsTextsOrIsRefused)
{
    for (const char* values : {"('DUPONT', 5)", "('MARTIN', 7)", "('PETIT', 9)"})
        ASSERT_EQ(run(QStringLiteral("INSERT INTO VISITE (NOM, NUM) VALUES %1").arg(QLatin1String(values))).status, 0);
    const Outcome up = run(QStringLiteral("UPDATE VISITE SET NUM = NUM + 1 WHERE NUM = 7"));
    EXPECT_EQ(up.status, 0) << up.err.toStdString();
    EXPECT_EQ(up.out, QStringLiteral("1\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT NOM, NUM FROM VISITE ORDER BY NUM")).out,
        QStringLiteral("NOM\tNUM\nDUPONT\t5\nMARTIN\t8\nPETIT\t9\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT MAX(NUM) + 1 FROM VISITE")).out, QStringLiteral("MAX(NUM) + 1\n10\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT MAX(NUM) + 1 AS SUIVANT FROM VISITE WHERE NOM <> 'PETIT'")).out,
        QStringLiteral("SUIVANT\n9\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT NOM + ' (' + NOM + ')' AS N, MONTANT + 0.25 FROM VISITE WHERE NUM = 5")).out,
        QStringLiteral("N\tMONTANT + 0.25\nDUPONT (DUPONT)\t\n"));
    for (const char* refused : {"UPDATE VISITE SET NOM = NOM + NUM", "SELECT NOM + 1 FROM VISITE",
             "SELECT MAX(NUM) + NUM FROM VISITE", "UPDATE VISITE SET NUM = MAX(NUM) + 1"}) {
        SCOPED_TRACE(refused);
        const Outcome o = run(QLatin1String(refused));
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        EXPECT_TRUE(o.err.startsWith(QStringLiteral("error 11790: "))) << o.err.toStdString();
    }
    EXPECT_EQ(run(QStringLiteral("SELECT NOM, NUM FROM VISITE ORDER BY NUM")).out,
        QStringLiteral("NOM\tNUM\nDUPONT\t5\nMARTIN\t8\nPETIT\t9\n"));
}

// A number is written with its column's decimals rounded half away from
// zero as the decimal number it is: a sum of 1092.07 and -485.795 is 606.275
// (held in binary a little under it) and is written 606.28, a typed 1.005 is
// 1.01 and 9.995 is 10.00.
TEST_F(KorvaleSqlTool, ANumberIsWrittenRoundedAsTheDecimalNumberItIs)
{
    kdb::DbfTable::create(tablePath("MESURE"),
        {{"ID", 'N', 4, 0, false}, {"A", 'N', 10, 2, false}, {"B", 'N', 8, 3, false}, {"F", 'N', 12, 4, false},
            {"E", 'N', 6, 0, false}},
        {});
    for (const char* values : {"(1, 1092.07, -485.795)", "(2, 9.994, 0.001)", "(3, 1.105, 1.395)", "(4, 0, -0.004)"})
        ASSERT_EQ(
            run(QStringLiteral("INSERT INTO MESURE (ID, F, B) VALUES %1").arg(QLatin1String(values))).status, 0);
    const Outcome up = run(QStringLiteral("UPDATE MESURE SET A = F + B, E = F + B"));
    EXPECT_EQ(up.status, 0) << up.err.toStdString();
    EXPECT_EQ(run(QStringLiteral("SELECT ID, A, E FROM MESURE")).out,
        QStringLiteral("ID\tA\tE\n1\t606.28\t606\n2\t10.00\t10\n3\t2.50\t3\n4\t0.00\t0\n"));
    ASSERT_EQ(run(QStringLiteral("INSERT INTO MESURE (ID, A, B, E) VALUES (5, 1.005, -2.0005, -2.5)")).status, 0);
    EXPECT_EQ(run(QStringLiteral("SELECT A, B, E FROM MESURE WHERE ID = 5")).out,
        QStringLiteral("A\tB\tE\n1.01\t-2.001\t-3\n"));
}

// --help (or -h) prints the usage and reads no statement; another option
// is refused with the usage.
TEST_F(KorvaleSqlTool, HelpPrintsTheUsage)
{
    for (const char* option : {"--help", "-h"}) {
        QProcess p;
        p.start(QStringLiteral(KORVALE_SQL_TOOL), {QLatin1String(option)});
        ASSERT_TRUE(p.waitForStarted());
        // no statement is waited for on the standard input, left open
        ASSERT_TRUE(p.waitForFinished(10000)) << option;
        EXPECT_EQ(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(out.startsWith(QStringLiteral("usage: "))) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("DIR [STATEMENT]"))) << out.toStdString();
        p.kill();
    }
    QProcess p;
    p.start(QStringLiteral(KORVALE_SQL_TOOL), {QStringLiteral("--aide")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("unknown option --aide")));
}

// A statement that fails on one of its rows changes none of them: a value
// of the wrong type, a value too wide for its column, a key its unique tag
// refuses, a record another program has locked.
TEST_F(KorvaleSqlTool, AFailingUpdateOrDeleteChangesNoRow)
{
    makePatients("PAT", true,
        {patient("P1", "DUBOIS", 11, {}, "1", "1"), patient("P2", "MARTIN", 12, {}, "2", "2"),
            patient("P3", "PETIT", 13, {}, "3", "3"), patient("P4", "MARTIN", 14, {}, "4", "4"),
            patient("P5", "ROUX", 15, {}, "cinq", "9999999"), patient("P6", "MARTIN", 16, {}, "6", "6")});
    const QString all = QStringLiteral("SELECT CODE, NOM, NUM FROM PAT ORDER BY CODE");
    const Outcome before = run(all);
    ASSERT_EQ(rowsOf(before).size(), 6) << before.out.toStdString();

    const QString failing[] = {
        QStringLiteral("UPDATE PAT SET NUM = TXT"),  // "cinq" is no number
        QStringLiteral("UPDATE PAT SET NUM = BIG"),  // 9999999 does not fit N(6)
        QStringLiteral("UPDATE PAT SET CODE = 'DUP' WHERE NOM = 'MARTIN'"),  // the unique code
        QStringLiteral("UPDATE PAT SET NOM = 'DUP', CODE = 'P1' WHERE CODE > 'P3'"),
    };
    for (const QString& st : failing) {
        SCOPED_TRACE(st.toStdString());
        const Outcome o = run(st);
        EXPECT_EQ(o.status, 1) << o.out.toStdString();
        EXPECT_TRUE(o.err.startsWith(QStringLiteral("error "))) << o.err.toStdString();
        EXPECT_EQ(run(all).out.toStdString(), before.out.toStdString());
    }

    // Record 3 locked by another program: neither statement writes a row.
    OtherProgram holder([&](OtherProgram&) {
        // the open and its lock kept until the process ends
        static std::unique_ptr<kdb::DbfTable> t = kdb::DbfTable::open(tablePath("PAT"));
        if (!t->lockRecord(3))
            throw std::runtime_error("record 3 not locked");
    });
    ASSERT_TRUE(holder.waitReady());
    for (const QString& st : {QStringLiteral("UPDATE PAT SET NUM = 0"), QStringLiteral("DELETE FROM PAT")}) {
        SCOPED_TRACE(st.toStdString());
        const Outcome o = run(st);
        EXPECT_EQ(o.status, 1) << o.out.toStdString();
        EXPECT_TRUE(o.err.startsWith(QStringLiteral("error %1: ").arg(kdb::DBERR_LOCKED))) << o.err.toStdString();
        EXPECT_EQ(run(all).out.toStdString(), before.out.toStdString());
    }
    EXPECT_EQ(holder.finish(), 0);
    // once the lock is gone the same statement runs
    EXPECT_EQ(run(QStringLiteral("UPDATE PAT SET NUM = 0 WHERE NOM = 'MARTIN'")).out, QStringLiteral("3\n"));
}

// While another program keeps changing the names (the sorted column) and
// the memos, each read lists every patient once, and each row's memo is the
// one written with its other fields.
TEST_F(KorvaleSqlTool, AReadDuringAnotherProgramsUpdatesSeesEachRowOnceAndWhole)
{
    const int count = 6000;  // more entries than one batch of the tag walk
    const QStringList noms = {QStringLiteral("BERNARD"), QStringLiteral("DUBOIS"), QStringLiteral("MARTIN"),
        QStringLiteral("PETIT"), QStringLiteral("ROUX"), QStringLiteral("ZOLA")};
    std::vector<std::vector<QVariant>> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back(patient(QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')),
            noms[i % noms.size()] + QString::number(i % 97), i, {}, QStringLiteral("v0"), {}, QStringLiteral("v0")));
    makePatients("PAT", true, rows);

    OtherProgram writer([&](OtherProgram& self) {
        auto t = kdb::DbfTable::open(tablePath("PAT"));
        std::mt19937 rng(7);
        for (int n = 1; !self.stopAsked(); ++n) {
            const uint32_t r = 1 + rng() % count;
            const QString v = QStringLiteral("v%1").arg(n);
            // a name from one end of the order to the other
            const QString nom = (n % 2 ? QStringLiteral("AAA") : QStringLiteral("ZZZ")) + QString::number(n);
            t->updateFields(r, {{1, nom}, {4, v}, {6, v}});
            if (n == 20)
                self.ready();
        }
    });
    ASSERT_TRUE(writer.waitReady());
    int doubled = 0, short_ = 0, torn = 0;
    for (int i = 0; i < 12; ++i) {
        const Outcome byName = run(QStringLiteral("SELECT CODE FROM PAT ORDER BY NOM"));
        ASSERT_EQ(byName.status, 0) << byName.err.toStdString();
        const QStringList codes = rowsOf(byName);
        const QSet<QString> distinct(codes.begin(), codes.end());
        doubled += codes.size() != distinct.size();
        short_ += distinct.size() != count;
        for (const char* st : {"SELECT TXT, NOTE FROM PAT ORDER BY NOM", "SELECT TXT, NOTE FROM PAT",
                 "SELECT TXT, NOTE FROM PAT ORDER BY TXT"}) {
            const Outcome whole = run(QLatin1String(st));
            ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
            for (const QString& line : rowsOf(whole)) {
                const QStringList f = line.split(QLatin1Char('\t'));
                if (f.size() != 2 || f[0] != f[1]) {
                    ++torn;
                    ADD_FAILURE() << st << ": " << line.toStdString();
                }
            }
        }
    }
    EXPECT_EQ(writer.finish(), 0);
    EXPECT_EQ(doubled, 0);
    EXPECT_EQ(short_, 0);
    EXPECT_EQ(torn, 0);
    // the writer did change rows meanwhile
    EXPECT_LT(rowsOf(run(QStringLiteral("SELECT CODE FROM PAT WHERE TXT = 'v0'"))).size(), count);
}

// Through a tag or without one, a statement answers the same rows in the
// same order: a blank number is no zero and comes first, as a blank date
// does; a blank constant stands for the empty value whatever the column's
// type; a LIKE pattern keeps its trailing blanks.
TEST_F(KorvaleSqlTool, BlankValuesReadTheSameThroughATagAndWithout)
{
    const std::vector<std::vector<QVariant>> rows = {patient("P1", "DU PONT", {}, {}, {}),
        patient("P2", "DUPONT", 0, QDate(2024, 1, 2), "a"), patient("P3", "DU", -1, {}, {}),
        patient("P4", "MARTIN", {}, QDate(2023, 5, 6), "b"), patient("P5", "DURAND", 5, QDate(2024, 1, 2), {}),
        patient("P6", "PETIT", 0, {}, "c")};
    makePatients("PAT", true, rows);
    makePatients("PATB", false, rows);
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT CODE, NUM FROM %1 WHERE NUM = 0", "P2\t0\nP6\t0\n"},
        {"SELECT CODE, NUM FROM %1 ORDER BY NUM", "P1\t\nP4\t\nP3\t-1\nP2\t0\nP6\t0\nP5\t5\n"},
        {"SELECT CODE FROM %1 WHERE NUM <= 0 ORDER BY NUM", "P3\nP2\nP6\n"},
        {"SELECT CODE, DV FROM %1 ORDER BY DV", "P1\t\nP3\t\nP6\t\nP4\t2023-05-06\nP2\t2024-01-02\nP5\t2024-01-02\n"},
        {"SELECT CODE FROM %1 WHERE DV <> '' ORDER BY CODE", "P2\nP4\nP5\n"},
        {"SELECT CODE FROM %1 WHERE TXT <> '' ORDER BY CODE", "P2\nP4\nP6\n"},
        {"SELECT CODE FROM %1 WHERE NUM <> '' ORDER BY CODE", "P2\nP3\nP5\nP6\n"},
        {"SELECT CODE FROM %1 WHERE DV > '' ORDER BY CODE", "P2\nP4\nP5\n"},
        {"SELECT CODE FROM %1 WHERE DV = '' ORDER BY CODE", ""},
        {"SELECT CODE FROM %1 WHERE TXT = '' ORDER BY CODE", ""},
        {"SELECT CODE FROM %1 WHERE NOM LIKE 'DU %' ORDER BY NOM", "P1\n"},
        {"SELECT CODE FROM %1 WHERE NOM LIKE 'DU ' ORDER BY NOM", ""},
        {"SELECT CODE FROM %1 WHERE NOM LIKE 'DU' ORDER BY NOM", "P3\n"},
    };
    // the greatest of numbers below zero, a blank after them in the tag
    const std::vector<std::vector<QVariant>> negative = {patient("N1", "A", -3), patient("N2", "B", {})};
    makePatients("NEG", true, negative);
    makePatients("NEGB", false, negative);
    for (const char* table : {"NEG", "NEGB"}) {
        SCOPED_TRACE(table);
        EXPECT_EQ(run(QStringLiteral("SELECT MAX(NUM) FROM %1").arg(QLatin1String(table))).out.toStdString(),
            "MAX OF NUM\n-3\n");
    }
    for (const auto& [sql, expected] : cases) {
        for (const char* table : {"PAT", "PATB"}) {
            const QString st = QString::fromLatin1(sql).arg(QLatin1String(table));
            SCOPED_TRACE(st.toStdString());
            const Outcome o = run(st);
            EXPECT_EQ(o.status, 0) << o.err.toStdString();
            const QString got = rowsOf(o).join(QLatin1Char('\n')) + (rowsOf(o).isEmpty() ? "" : "\n");
            EXPECT_EQ(got.toStdString(), expected);
        }
    }
}

// The entries of one tag as another reader of the format walks them:
// "hexkey<TAB>recno" lines; empty when that reader is missing.
QStringList otherReadersWalk(const std::string& mdx, const char* tag)
{
    if (std::system("perl -MXBase::Index -e 1 >/dev/null 2>&1") != 0)
        return {};
    QProcess p;
    p.start(QStringLiteral("perl"), {QStringLiteral(PRINT_TAG_KEYS), QString::fromStdString(mdx), QLatin1String(tag)});
    p.waitForFinished(60000);
    return QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::vector<uint32_t> enginesWalk(kdb::Table& t, const char* tag)
{
    std::vector<uint32_t> out;
    auto c = t.openTag(tag);
    for (uint32_t r = c->first(); r; r = c->next())
        out.push_back(r);
    return out;
}

// A deleted record keeps its entries until the table is packed, as other
// programs of the format expect (one that brings the record back finds it
// in its index); every read skips it, and its unique code goes to a new
// record that takes it.
TEST_F(KorvaleSqlTool, DeletedRecordsStayInTheTagsUntilAPack)
{
    makePatients("PAT", true,
        {patient("P1", "BERNARD", 1), patient("P2", "DUBOIS", 2), patient("P3", "MARTIN", 3),
            patient("P4", "PETIT", 4)});
    EXPECT_EQ(run(QStringLiteral("DELETE FROM PAT WHERE NOM = 'DUBOIS'")).out, QStringLiteral("1\n"));
    const std::string mdx = dir_.path().toStdString() + "/PAT.MDX";
    {
        auto t = kdb::DbfTable::open(tablePath("PAT"));
        EXPECT_EQ(enginesWalk(*t, "NOM"), (std::vector<uint32_t>{1, 2, 3, 4}));
        EXPECT_EQ(enginesWalk(*t, "NUM"), (std::vector<uint32_t>{1, 2, 3, 4}));
        EXPECT_EQ(t->findKey("CODE", QStringLiteral("P2")), 0u);
        EXPECT_EQ(t->findKey("NOM", QStringLiteral("DUB"), true), 0u);
    }
    const QStringList theirs = otherReadersWalk(mdx, "NOM");
    if (!theirs.isEmpty()) {
        ASSERT_EQ(theirs.size(), 4);
        EXPECT_TRUE(theirs[1].endsWith(QStringLiteral("\t2"))) << theirs[1].toStdString();
    }
    // every read skips it: a walk in order, a seek, a scan
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT ORDER BY NOM")).out, QStringLiteral("CODE\nP1\nP3\nP4\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT ORDER BY NUM, NOM")).out, QStringLiteral("CODE\nP1\nP3\nP4\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT WHERE CODE = 'P2'")).out, QStringLiteral("CODE\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT WHERE NOM LIKE 'DU%'")).out, QStringLiteral("CODE\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT WHERE NUM = 2")).out, QStringLiteral("CODE\n"));
    // its code taken by a new patient: found through the unique tag
    EXPECT_EQ(
        run(QStringLiteral("INSERT INTO PAT (CODE, NOM, NUM) VALUES ('P2', 'ROUX', 5)")).out, QStringLiteral("1\n"));
    EXPECT_EQ(run(QStringLiteral("SELECT NOM FROM PAT WHERE CODE = 'P2'")).out, QStringLiteral("NOM\nROUX\n"));
    {
        auto t = kdb::DbfTable::open(tablePath("PAT"));
        EXPECT_EQ(kdbtest::codeOf([&] { t->undeleteRecord(2); }), kdb::DBERR_KEYVIOL);
        EXPECT_EQ(enginesWalk(*t, "NOM"), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    }
    // a second deletion: the unique tag holds one deleted record, not the
    // other, and the table's check finds nothing wrong
    EXPECT_EQ(run(QStringLiteral("DELETE FROM PAT WHERE CODE = 'P3'")).out, QStringLiteral("1\n"));
    EXPECT_EQ(kdb::DbfTable::probe(tablePath("PAT"), false), 0);
    {
        auto t = kdb::DbfTable::open(tablePath("PAT"), {true, false});
        t->pack();
        EXPECT_EQ(enginesWalk(*t, "NOM"), (std::vector<uint32_t>{1, 2, 3}));
        EXPECT_EQ(t->value(2, 1).toString(), QStringLiteral("PETIT"));
    }
    if (!theirs.isEmpty()) {
        EXPECT_EQ(otherReadersWalk(mdx, "NOM").size(), 3);
    }
    EXPECT_EQ(run(QStringLiteral("SELECT CODE FROM PAT ORDER BY NOM")).out, QStringLiteral("CODE\nP1\nP4\nP2\n"));
}

// The bytes of a file, and writing them back.
QByteArray fileBytes(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
void setFileBytes(const std::string& path, const QByteArray& b)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(b), b.size());
}
void put16(QByteArray& b, int at, int v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A header that does not say what the file holds (its length off by a field
// description either way or beyond the file, the record length one short):
// every statement is refused with the damaged table's error naming it, none
// writes a byte; the table check repairs it from the rest of the header,
// keeping a copy, and the rows read as before.
TEST_F(KorvaleSqlTool, AWrongHeaderIsRefusedByEveryStatementUntilTheCheckRepairsIt)
{
    std::vector<std::vector<QVariant>> rows;
    for (int i = 1; i <= 5; ++i)
        rows.push_back(patient(QStringLiteral("P%1").arg(i), QStringLiteral("NOM%1").arg(i), i, QDate(2024, 1, i),
            QStringLiteral("T%1").arg(i), {}, QStringLiteral("note %1").arg(i)));
    makePatients("PATIENT", true, rows);
    const QString all = QStringLiteral("SELECT CODE, NOM, NUM, DV, NOTE FROM PATIENT ORDER BY CODE");
    const Outcome before = run(all);
    ASSERT_EQ(rowsOf(before).size(), 5) << before.err.toStdString();
    const std::string path = tablePath("PATIENT");
    const QByteArray sound = fileBytes(path);
    const int header = 32 + 7 * 32 + 1, recLen = 1 + 6 + 20 + 6 + 8 + 10 + 10 + 10;

    const std::pair<const char*, std::function<void(QByteArray&)>> damages[] = {
        {"header length 32 too long", [&](QByteArray& b) { put16(b, 8, header + 32); }},
        {"header length 0xFFFF", [&](QByteArray& b) { put16(b, 8, 0xFFFF); }},
        {"header length 32 short", [&](QByteArray& b) { put16(b, 8, header - 32); }},
        {"record length one short", [&](QByteArray& b) { put16(b, 10, recLen - 1); }},
    };
    for (const auto& [what, make] : damages) {
        SCOPED_TRACE(what);
        QByteArray damaged = sound;
        make(damaged);
        setFileBytes(path, damaged);
        for (const QString& st : {all, QStringLiteral("UPDATE PATIENT SET NOM = 'X'"),
                 QStringLiteral("INSERT INTO PATIENT (CODE, NOM) VALUES ('P9', 'NEUF')"),
                 QStringLiteral("DELETE FROM PATIENT WHERE CODE = 'P1'")}) {
            const Outcome o = run(st);
            EXPECT_EQ(o.status, 1) << st.toStdString() << "\n" << o.out.toStdString();
            EXPECT_TRUE(o.err.startsWith(QStringLiteral("error %1: ").arg(kdb::DBERR_HEADERCORRUPT)))
                << o.err.toStdString();
            EXPECT_TRUE(o.err.contains(QStringLiteral("PATIENT.DBF"))) << o.err.toStdString();
            EXPECT_EQ(fileBytes(path), damaged) << st.toStdString();
        }
        const kdb::engine::DamageReport r = kdb::engine::repairTable(dir_.path().toStdString(), "PATIENT.DBF");
        EXPECT_EQ(r.error, 0);
        EXPECT_FALSE(r.headerDamage.empty());
        EXPECT_EQ(fileBytes(r.copyDir + "/PATIENT.DBF"), damaged);
        EXPECT_EQ(fileBytes(path), sound);
        EXPECT_EQ(run(all).out.toStdString(), before.out.toStdString());
    }
}

// A count that stays behind the records the file holds (another program
// appended them and never wrote its count): a look-up through the index
// finds them, a read lists them, an insert goes after them; nothing is
// written over them, and the change is logged with a copy of the files.
TEST_F(KorvaleSqlTool, RecordsAfterTheCountAreReadAndNeverWrittenOver)
{
    std::vector<std::vector<QVariant>> rows;
    for (int i = 1; i <= 500; ++i)
        rows.push_back(patient(QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("NOM%1").arg(i), i));
    makePatients("PATIENT", true, rows);
    const std::string path = tablePath("PATIENT");
    const QByteArray sound = fileBytes(path);
    auto countOf = [&](uint32_t count) {
        QByteArray b = sound;
        put32(b, 4, count);
        setFileBytes(path, b);
    };

    countOf(100);
    const Outcome found = run(QStringLiteral("SELECT NOM FROM PATIENT WHERE CODE = '000150'"));
    EXPECT_EQ(found.status, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, QStringLiteral("NOM\nNOM150\n"));
    EXPECT_EQ(fileBytes(path), sound);  // the count written back

    countOf(0);
    const Outcome listed = run(QStringLiteral("SELECT CODE FROM PATIENT"));
    EXPECT_EQ(rowsOf(listed).size(), 500) << listed.err.toStdString();

    countOf(0);
    const Outcome ins = run(QStringLiteral("INSERT INTO PATIENT (CODE, NOM, NUM) VALUES ('000501', 'NOUVEAU', 501)"));
    EXPECT_EQ(ins.status, 0) << ins.err.toStdString();
    EXPECT_EQ(run(QStringLiteral("SELECT NOM FROM PATIENT WHERE CODE = '000001'")).out, QStringLiteral("NOM\nNOM1\n"));
    EXPECT_EQ(rowsOf(run(QStringLiteral("SELECT CODE FROM PATIENT"))).size(), 501);
    EXPECT_EQ(fileBytes(path).left(sound.size() - 1).mid(32), sound.left(sound.size() - 1).mid(32));

    QFile log(dir_.path() + QStringLiteral("/Damaged/repairs.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("PATIENT.DBF : 400 enregistrements après la fin annoncée de la table")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral("500 enregistrements après la fin annoncée")))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral("copie des fichiers trouvés dans "))) << lines[2].toStdString();
}

// A memo file whose next-free block lies beyond its end (a damaged header):
// a memo is still written, at the end of the file, and the header mended.
TEST_F(KorvaleSqlTool, AMemoFileWhoseNextFreeBlockCannotBeStillTakesMemos)
{
    makePatients("PATIENT", false, {patient("P1", "DUBOIS", 1, {}, {}, {}, QStringLiteral("premier"))});
    const std::string dbt = dir_.path().toStdString() + "/PATIENT.DBT";
    QByteArray memo = fileBytes(dbt);
    put32(memo, 0, 0xFFFFFFFF);
    setFileBytes(dbt, memo);

    const Outcome up = run(QStringLiteral("UPDATE PATIENT SET NOTE = 'second' WHERE CODE = 'P1'"));
    EXPECT_EQ(up.status, 0) << up.err.toStdString();
    EXPECT_EQ(run(QStringLiteral("SELECT NOTE FROM PATIENT")).out, QStringLiteral("NOTE\nsecond\n"));
    const QByteArray after = fileBytes(dbt);
    const uint32_t next = static_cast<unsigned char>(after[0]) | (static_cast<unsigned char>(after[1]) << 8) |
        (static_cast<unsigned char>(after[2]) << 16) | (uint32_t(static_cast<unsigned char>(after[3])) << 24);
    EXPECT_EQ(next, static_cast<uint32_t>(after.size() / 512));
    QFile log(dir_.path() + QStringLiteral("/Damaged/repairs.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("premier bloc libre impossible (4294967295")));
}

// A memo file that is no memo file the engine wrote (zeros, a block size that
// is none, shorter than its header, a next-free block inside the header or
// beyond the end): every statement on its table is refused with the damaged
// memo file's error naming it, none writes a byte of either file; the table
// check repairs it, keeping a copy, and saves the memos the records still
// find.
TEST_F(KorvaleSqlTool, AMemoFileThatDoesNotReadIsRefusedByEveryStatementUntilTheCheckRepairsIt)
{
    std::vector<std::vector<QVariant>> rows;
    for (int i = 1; i <= 5; ++i)
        rows.push_back(patient(QStringLiteral("P%1").arg(i), QStringLiteral("NOM%1").arg(i), i, {}, {}, {},
            QStringLiteral("note %1").arg(i)));
    makePatients("PATIENT", true, rows);
    const QString all = QStringLiteral("SELECT CODE, NOTE FROM PATIENT ORDER BY CODE");
    const Outcome before = run(all);
    ASSERT_EQ(rowsOf(before).size(), 5) << before.err.toStdString();
    const std::string path = tablePath("PATIENT"), dbt = dir_.path().toStdString() + "/PATIENT.DBT";
    const QByteArray table = fileBytes(path), sound = fileBytes(dbt);
    const QString blank = QStringLiteral("CODE\tNOTE\nP1\t\nP2\t\nP3\t\nP4\t\nP5\t\n");

    struct Damage {
        const char* what;
        std::function<void(QByteArray&)> make;
        bool saved;  // the check finds the memos again
    };
    const Damage damages[] = {
        {"zeros", [](QByteArray& b) { b.fill('\0'); }, false},
        {"block size 1000", [](QByteArray& b) { put16(b, 20, 1000); }, true},
        {"shorter than its header", [](QByteArray& b) { b.truncate(100); }, false},
        {"next free block 0", [](QByteArray& b) { put32(b, 0, 0); }, true},
        {"next free block beyond the end", [](QByteArray& b) { put32(b, 0, 50); }, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        setFileBytes(path, table);
        QByteArray damaged = sound;
        d.make(damaged);
        setFileBytes(dbt, damaged);
        for (const QString& st : {all, QStringLiteral("SELECT CODE FROM PATIENT"),
                 QStringLiteral("UPDATE PATIENT SET NOM = 'X'"),
                 QStringLiteral("UPDATE PATIENT SET NOTE = 'nouvelle' WHERE CODE = 'P2'"),
                 QStringLiteral("INSERT INTO PATIENT (CODE, NOM, NOTE) VALUES ('P9', 'NEUF', 'neuve')"),
                 QStringLiteral("DELETE FROM PATIENT WHERE CODE = 'P1'")}) {
            const Outcome o = run(st);
            EXPECT_EQ(o.status, 1) << st.toStdString() << "\n" << o.out.toStdString();
            EXPECT_TRUE(o.err.startsWith(QStringLiteral("error %1: ").arg(kdb::DBERR_MEMOCORRUPT)))
                << o.err.toStdString();
            EXPECT_TRUE(o.err.contains(QStringLiteral("PATIENT.DBT"))) << o.err.toStdString();
            EXPECT_EQ(fileBytes(dbt), damaged) << st.toStdString();
            EXPECT_EQ(fileBytes(path), table) << st.toStdString();
        }
        const kdb::engine::DamageReport r = kdb::engine::repairTable(dir_.path().toStdString(), "PATIENT.DBF");
        EXPECT_EQ(r.error, 0);
        EXPECT_TRUE(r.damaged());
        EXPECT_EQ(fileBytes(r.copyDir + "/PATIENT.DBT"), damaged);
        EXPECT_EQ(r.memoFileLost, !d.saved);
        EXPECT_EQ(r.badMemoPointers, d.saved ? 0u : 5u);
        EXPECT_EQ(run(all).out.toStdString(), (d.saved ? before.out : blank).toStdString());
        EXPECT_FALSE(kdb::engine::repairTable(dir_.path().toStdString(), "PATIENT.DBF").damaged());
        // and the table takes memos again
        const Outcome up = run(QStringLiteral("UPDATE PATIENT SET NOTE = 'après' WHERE CODE = 'P2'"));
        EXPECT_EQ(up.status, 0) << up.err.toStdString();
        EXPECT_EQ(run(QStringLiteral("SELECT NOTE FROM PATIENT WHERE CODE = 'P2'")).out, QStringLiteral("NOTE\naprès\n"));
    }
}

// A memo file cut short, its header sound (the next-free block within what
// is left): the records that point beyond its end read blank, and no memo
// is written there, where one of them would read it as its own: a write of
// a memo is refused, naming the memo file, until the check blanks those
// pointers (the other columns still take writes). A next-free block lower
// than a record's memo in a whole file is no damage: a new memo goes to the
// end of the file.
TEST_F(KorvaleSqlTool, ANewMemoNeverLandsOnABlockARecordPointsTo)
{
    std::vector<std::vector<QVariant>> rows;
    for (int i = 1; i <= 5; ++i)
        rows.push_back(patient(QStringLiteral("P%1").arg(i), QStringLiteral("NOM%1").arg(i), i, {}, {}, {},
            i == 3 ? QStringLiteral("long ").repeated(300) : QStringLiteral("note %1").arg(i)));
    makePatients("PATIENT", false, rows);
    const std::string dbt = dir_.path().toStdString() + "/PATIENT.DBT";
    const QString all = QStringLiteral("SELECT CODE, NOTE FROM PATIENT ORDER BY CODE");
    const QString first = QStringLiteral("UPDATE PATIENT SET NOTE = 'texte du premier' WHERE CODE = 'P1'");
    const QString sixth = QStringLiteral("INSERT INTO PATIENT (CODE, NOM, NOTE) VALUES ('P6', 'NEUF', 'texte du sixième')");

    // Blocks: P1 1, P2 2, P3 3 to 5, P4 6, P5 7. The next-free block set
    // back to 2.
    const QByteArray whole = fileBytes(dbt), table = fileBytes(tablePath("PATIENT"));
    QByteArray memo = whole;
    put32(memo, 0, 2);
    setFileBytes(dbt, memo);
    EXPECT_EQ(run(first).status, 0);
    EXPECT_EQ(run(all).out.toStdString(), QStringLiteral("CODE\tNOTE\nP1\ttexte du premier\nP2\tnote 2\nP3\t%1\nP4\tnote 4\n"
                                                         "P5\tnote 5\n")
                                              .arg(QStringLiteral("long ").repeated(300))
                                              .toStdString());
    EXPECT_EQ(fileBytes(dbt).mid(4, whole.size() - 4), whole.mid(4));

    // Cut inside P3's memo, the next-free block left behind as a killed
    // append leaves it.
    setFileBytes(tablePath("PATIENT"), table);
    memo = whole.left(3 * 512 + 700);
    put32(memo, 0, 4);
    setFileBytes(dbt, memo);
    const QString left = QStringLiteral("CODE\tNOTE\nP1\tnote 1\nP2\tnote 2\nP3\t\nP4\t\nP5\t\n");
    ASSERT_EQ(run(all).out, left);
    for (const QString& st : {first, sixth}) {
        const Outcome o = run(st);
        EXPECT_EQ(o.status, 1) << st.toStdString();
        EXPECT_TRUE(o.err.startsWith(QStringLiteral("error %1: ").arg(kdb::DBERR_MEMOCORRUPT))) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(QStringLiteral("PATIENT.DBT"))) << o.err.toStdString();
        EXPECT_EQ(fileBytes(dbt), memo);
    }
    EXPECT_EQ(run(QStringLiteral("UPDATE PATIENT SET NOM = 'AUTRE' WHERE CODE = 'P4'")).status, 0);
    EXPECT_EQ(run(all).out, left);

    const kdb::engine::DamageReport r = kdb::engine::repairTable(dir_.path().toStdString(), "PATIENT.DBF");
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.badMemoPointers, 3u);
    EXPECT_EQ(fileBytes(r.copyDir + "/PATIENT.DBT"), memo);
    for (const QString& st : {first, sixth}) {
        const Outcome o = run(st);
        EXPECT_EQ(o.status, 0) << st.toStdString() << "\n" << o.err.toStdString();
    }
    EXPECT_EQ(run(all).out, QStringLiteral("CODE\tNOTE\nP1\ttexte du premier\nP2\tnote 2\nP3\t\nP4\t\nP5\t\n"
                                           "P6\ttexte du sixième\n"));
}

}  // namespace
