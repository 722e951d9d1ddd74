// korvale-sql as a user of the command line sees it: its output, its error
// messages and its exit status, each statement in a process of its own.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

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

    QTemporaryDir dir_;
};

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

}  // namespace
