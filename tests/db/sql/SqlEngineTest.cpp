// Errors, names, value rules and the planner's choices.
#include <gtest/gtest.h>

#include <random>

#include "PracticeSchema.h"
#include "tests/db/DbTestUtil.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::sql;
using namespace kdbtest;

namespace {

class SqlEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        addPracticeTables(db);
        fillPractice(db);
    }
    ExecResult run(const std::string& s, const Params& p = {}) { return execute(db.database, s, p); }
    std::vector<QString> col0(const std::string& s, const Params& p = {})
    {
        std::vector<QString> out;
        for (const auto& r : run(s, p).result.rows)
            out.push_back(r[0].toString());
        return out;
    }
    MemDatabase db;
    using V = std::vector<QString>;
};

TEST_F(SqlEngine, SyntaxErrorsNameTheToken)
{
    std::string msg;
    EXPECT_EQ(codeOf([&] { run("SELEC * FROM PATIENT"); }, &msg), kSqlSyntax);
    EXPECT_NE(msg.find("'SELEC'"), std::string::npos) << msg;
    EXPECT_EQ(codeOf([&] { run("SELECT CODE PATIENT WHERE"); }, &msg), kSqlSyntax);
    EXPECT_NE(msg.find("WHERE"), std::string::npos) << msg;
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM PATIENT WHERE NOM = 'ABC"); }, &msg), kSqlSyntax);
    EXPECT_NE(msg.find("unterminated"), std::string::npos) << msg;
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM PATIENT WHERE NOM = 'A' OR NOM = 'B'"); }, &msg), kSqlSyntax);
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM PATIENT WHERE NOM ~ 'A'"); }, &msg), kSqlSyntax);
    EXPECT_NE(msg.find("'~'"), std::string::npos) << msg;
    EXPECT_EQ(codeOf([&] { run("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('1')"); }), kSqlSyntax);
    EXPECT_EQ(codeOf([&] { run("SELECT NOM, MAX(CODE) FROM PATIENT"); }), kSqlSyntax);
    EXPECT_EQ(codeOf([&] { run(""); }), kSqlSyntax);
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM PATIENT; SELECT"); }), kSqlSyntax);
}

TEST_F(SqlEngine, UnknownNamesAndMissingValues)
{
    std::string msg;
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM NOWHERE"); }, &msg), DBERR_NOSUCHTABLE);
    EXPECT_NE(msg.find("NOWHERE"), std::string::npos);
    EXPECT_EQ(codeOf([&] { run("SELECT AGEX FROM PATIENT"); }, &msg), kSqlUnknownField);
    EXPECT_NE(msg.find("AGEX"), std::string::npos);
    EXPECT_EQ(
        codeOf([&] { run("SELECT NOM FROM PATIENT, FPROT WHERE PATIENT.CODE = FPROT.CODE"); }, &msg), kSqlAmbiguous);
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM PATIENT WHERE CODE=:CODE"); }, &msg), kSqlNoParamValue);
    EXPECT_NE(msg.find("CODE"), std::string::npos);
    EXPECT_EQ(codeOf([&] { run("SELECT * FROM EXCOMP WHERE DATE_EX='yesterday'"); }, &msg), kSqlTypeMismatch);
    EXPECT_EQ(codeOf([&] { run("DELETE FROM FORD WHERE NUM='one'"); }), kSqlTypeMismatch);
    EXPECT_EQ(codeOf([&] { run("INSERT INTO FORD (CODE, NUM) VALUES ('1', '99999')"); }), kSqlTypeMismatch);
    EXPECT_EQ(codeOf([&] { run("UPDATE FBIO SET NOPE='1'"); }), kSqlUnknownField);
    EXPECT_EQ(db.get("FORD")->recordCount(), 4u);  // nothing written by the failed statements
}

TEST_F(SqlEngine, TableAndColumnNames)
{
    EXPECT_EQ(col0("select nom from patient.dbf where code = '000003'"), (V{"MARTIN"}));
    EXPECT_EQ(col0("SELECT P.NOM FROM PATIENT P WHERE P.CODE='000003'"), (V{"MARTIN"}));
    EXPECT_EQ(col0("SELECT CONS.PATIENT FROM CONS WHERE CONS.DCONS='6/1/2024'"), (V{"000001"}));
    EXPECT_EQ(
        col0("SELECT F.MOTIF, P.NOM FROM FRDV F, PATIENT P WHERE F.PATIENT = P.CODE AND P.NOM='MARTIN'"), (V{"BILAN"}));
    auto r = run("SELECT NOM + ' ' + PRENOM AS FULLNAME, P.* FROM PATIENT P WHERE CODE='000001'");
    EXPECT_EQ(r.result.columns[0].name, "FULLNAME");
    EXPECT_EQ(r.result.rows[0][0].toString(), "DUPONT JEAN");
    EXPECT_EQ(r.result.columns.size(), 15u);

    // The same texts on tables laid out otherwise: their own columns, and
    // the join checked on their own values.
    MemDatabase other;
    other.add("PATIENT", {{"PRENOM", 'C', 10}, {"CODE", 'C', 6}, {"NOM", 'C', 10}})->append({"ANNE", "000003", "ROUX"});
    other.add("FRDV", {{"MOTIF", 'C', 10}, {"PATIENT", 'C', 10}})->append({"SUIVI", "000003"});
    EXPECT_EQ(execute(other.database, "select nom from patient.dbf where code = '000003'").result.rows.at(0).at(0),
        QVariant("ROUX"));
    const std::string join = "SELECT F.MOTIF, P.NOM FROM FRDV F, PATIENT P WHERE F.PATIENT = P.CODE";
    const auto rows = execute(other.database, join).result.rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].toString() + rows[0][1].toString(), "SUIVIROUX");
    // A name given twice gets the next free suffix, whatever the case, and
    // a column named many times still answers every name once.
    const auto named = run("SELECT NOM, nom, NOM AS NOM_1, Nom, PRENOM AS nom_2 FROM PATIENT WHERE CODE='000001'");
    std::vector<std::string> names;
    for (const auto& c : named.result.columns)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"NOM", "NOM_1", "NOM_1_1", "NOM_2", "NOM_2_1"}));
    std::string many = "SELECT NOM";
    for (int i = 1; i < 3000; ++i)
        many += ", NOM";
    const auto wide = run(many + " FROM PATIENT WHERE CODE='000001'");
    ASSERT_EQ(wide.result.columns.size(), 3000u);
    EXPECT_EQ(wide.result.columns.back().name, "NOM_2999");
    EXPECT_EQ(wide.result.rows.at(0).back().toString(), "DUPONT");
    // A text that does not parse fails every time.
    EXPECT_EQ(codeOf([&] { run("SELECT NOM FROM PATIENT WHERE"); }), kSqlSyntax);
    EXPECT_EQ(codeOf([&] { run("SELECT NOM FROM PATIENT WHERE"); }), kSqlSyntax);
}

TEST_F(SqlEngine, ValueRules)
{
    EXPECT_EQ(col0("SELECT CODE FROM PATIENT WHERE NOM = 'MARTIN    '"), (V{"000003"}));  // trailing blanks
    EXPECT_EQ(col0("SELECT CODE FROM PATIENT WHERE NOM = 'martin'"), (V{}));  // case counts
    EXPECT_EQ(col0("SELECT NUM FROM EXCOMP WHERE DATE_EX='03/05/2024' AND RADIOBIO='R'"), (V{"000002"}));
    EXPECT_EQ(col0("SELECT NUM FROM EXCOMP WHERE DATE_EX='2024-04-01'"), (V{"000003"}));
    EXPECT_EQ(col0("SELECT MEDIC FROM FORD WHERE NUM='2'"), (V{"SPASFON"}));
    EXPECT_EQ(col0("SELECT MEDIC FROM FORD WHERE NUM=2.0"), (V{"SPASFON"}));
    EXPECT_EQ(col0("SELECT NOM FROM PATIENT WHERE NOM LIKE '%ON%' ORDER BY NOM"), (V{"DUPONT", "DUPONT"}));
    EXPECT_EQ(col0("SELECT NOM FROM PATIENT WHERE NOM LIKE 'D_RAND'"), (V{"DURAND"}));
    Params p;
    p.setDate("D", QDate(2024, 3, 5));
    p.setInteger("N", 1);
    EXPECT_EQ(col0("SELECT NUM FROM EXCOMP WHERE DATE_EX=:D AND PATIENT='000002'", p), (V{"000004"}));
    EXPECT_EQ(col0("SELECT MEDIC FROM FORD WHERE NUM=:N AND CODE='2'", p), (V{"AMOXICILLINE"}));
    EXPECT_EQ(col0("SELECT DISTINCT PATIENT FROM CONS"), (V{"000001", "000002"}));  // sorted
    run("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('0042', 'L''ANALYSE')");
    EXPECT_EQ(col0("SELECT CODE FROM FBIO WHERE LIBELLE='L''ANALYSE'"), (V{"004"}));  // cut to width
}

TEST_F(SqlEngine, MaxReadsOneKeyAndSkipsDeletedRecords)
{
    EXPECT_EQ(run("SELECT MAX(DCONS) AS D FROM CONS").result.rows[0][0].toDate(), QDate(2024, 6, 1));
    EXPECT_NE(explain(db.database, "SELECT MAX(DCONS) AS D FROM CONS").find("max from tag DCONS"), std::string::npos);
    db.get("CONS")->deleteRecord(4);
    EXPECT_EQ(run("SELECT MAX(DCONS) AS D FROM CONS").result.rows[0][0].toDate(), QDate(2024, 3, 5));
    EXPECT_EQ(
        run("SELECT MAX(DCONS) AS D FROM CONS WHERE PATIENT='000002'").result.rows[0][0].toDate(), QDate(2024, 1, 10));
    EXPECT_EQ(run("SELECT MAX(LIBELLE) AS L FROM FRADIO").result.rows[0][0].toString(), "THORAX");
    EXPECT_TRUE(run("SELECT MAX(DATE_PRT) AS L FROM FPROT WHERE NUM='X'").result.rows[0][0].isNull());
}

// "+" adds numbers and joins texts; a MAX in the select list may be part of
// an expression of the one row. A number and a text, a MAX elsewhere than in
// the select list, a column beside a MAX: refused as the other statements
// outside the dialect are, never a wrong answer.
TEST_F(SqlEngine, PlusAddsNumbersJoinsTextsAndRefusesTheRest)
{
    EXPECT_EQ(run("UPDATE CONS SET ID_CONS = ID_CONS + 1 WHERE ID_CONS = 3").rowsAffected, 1);
    EXPECT_EQ(col0("SELECT ID_CONS FROM CONS ORDER BY ID_CONS"), (V{"1", "2", "4", "4"}));
    const auto next = run("SELECT MAX(ID_CONS) + 1 AS NEXT_ID FROM CONS");
    ASSERT_EQ(next.result.rows.size(), 1u);
    EXPECT_EQ(next.result.rows[0][0].toInt(), 5);
    EXPECT_EQ(next.result.columns[0].name, "NEXT_ID");
    EXPECT_EQ(next.result.columns[0].type, fldFLOAT);
    // through the tag, through a scan (a WHERE clause), both sides of "+"
    EXPECT_EQ(
        run("SELECT 10 + MAX(ID_CONS) + 0.5 FROM CONS WHERE PATIENT = '000001'").result.rows.at(0).at(0).toDouble(),
        14.5);
    EXPECT_EQ(col0("SELECT ID_CONS + ID_CONS FROM CONS WHERE PATIENT = '000002'"), (V{"4"}));
    EXPECT_EQ(col0("SELECT ID_CONS FROM CONS WHERE ID_CONS + 6 > 9 ORDER BY ID_CONS"), (V{"4", "4"}));
    Params p;
    p.setInteger("N", 1);
    EXPECT_EQ(col0("SELECT MEDIC FROM FORD WHERE NUM = :N + 1 AND CODE = '1'", p), (V{"SPASFON"}));
    EXPECT_EQ(col0("SELECT NOM + ', ' + PRENOM FROM PATIENT WHERE CODE='000001'"), (V{"DUPONT, JEAN"}));
    // nothing of these is run
    const uint32_t codes = db.get("FBIO")->recordCount();
    std::string msg;
    for (const char* refused : {"UPDATE CONS SET MOTIF = MOTIF + 1", "SELECT NOM + ID_CONS FROM CONS, PATIENT",
             "SELECT DCONS + 1 FROM CONS", "SELECT MAX(ID_CONS) + ID_CONS FROM CONS",
             "UPDATE CONS SET ID_CONS = MAX(ID_CONS) + 1", "INSERT INTO FBIO (CODE) VALUES (MAX(CODE))",
             "SELECT CODE FROM FBIO WHERE MAX(CODE) + 1 = 2", "SELECT * , MAX(CODE) FROM FBIO"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(codeOf([&] { run(refused); }, &msg), kSqlSyntax) << msg;
    }
    EXPECT_EQ(col0("SELECT MOTIF FROM CONS WHERE ID_CONS = 1"), (V{"FIEVRE"}));
    EXPECT_EQ(db.get("FBIO")->recordCount(), codes);
}

TEST_F(SqlEngine, PlannerUsesTheTags)
{
    auto plan = [&](const std::string& s) { return explain(db.database, s); };
    EXPECT_EQ(plan("SELECT * FROM PATIENT WHERE CODE='000001'"), "PATIENT: seek tag CODE = '000001'");
    EXPECT_EQ(plan("SELECT CODE, NOM FROM PATIENT WHERE NOM LIKE 'DU%' ORDER BY NOM, PRENOM"),
        "PATIENT: seek tag NOM prefix 'DU'; sort within equal keys");
    EXPECT_EQ(plan("SELECT CODE FROM PATIENT ORDER BY CODE"), "PATIENT: read tag CODE in order; order by tag");
    EXPECT_EQ(plan("SELECT * FROM PATIENT WHERE NOM LIKE '%U%'"), "PATIENT: scan");
    EXPECT_EQ(plan("SELECT * FROM CONS WHERE PATIENT='1' ORDER BY DCONS"), "CONS: seek tag PATIENT = '1'; sort");
    EXPECT_EQ(plan("SELECT DISTINCT MOTIF FROM CONS WHERE MOTIF <> '' ORDER BY MOTIF"), "CONS: scan; sort");
    EXPECT_EQ(plan("SELECT * FROM CONS ORDER BY DCONS DESC"), "CONS: scan; sort");
    EXPECT_EQ(plan("SELECT NUM FROM FRDV, PATIENT WHERE PATIENT=CODE ORDER BY DATE_RDV, HRE_RDV"),
        "FRDV: read tag DATE_RDV in order\nPATIENT: seek tag CODE per row of FRDV; sort within equal keys");
    EXPECT_EQ(plan("SELECT FRDV.NUM FROM FRDV, FPHOTO WHERE FRDV.PATIENT=FPHOTO.CODE"),
        "FRDV: scan\nFPHOTO: hash join with FRDV");
    EXPECT_EQ(plan("SELECT FRDV.NUM FROM FPHOTO, FRDV WHERE FPHOTO.CODE=FRDV.PATIENT AND DATE_RDV='3/5/2024'"),
        "FPHOTO: scan\nFRDV: hash join with FPHOTO");
    EXPECT_EQ(plan("DELETE FROM FBIO WHERE CODE='001'"), "FBIO: seek tag CODE = '001'");
}

TEST_F(SqlEngine, ColumnOfTenHoldsTheSixCharacterCode)
{
    // CONS.PATIENT is 10 wide: the join and the equality ignore the blanks after the code
    auto r = run("SELECT ID_CONS, NOM FROM CONS, PATIENT WHERE PATIENT=CODE AND NOM='DURAND'");
    ASSERT_EQ(r.result.rows.size(), 1u);
    EXPECT_EQ(r.result.rows[0][0].toInt(), 2);
}

}  // namespace

namespace {

// Damaged statements: every one ends in a clear engine error or runs; none
// crashes, hangs or changes a table it should not.
TEST_F(SqlEngine, DamagedStatementsFailCleanly)
{
    const std::vector<std::string> seeds = {
        "SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DU%' ORDER BY NOM, PRENOM",
        "SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF, CODE, (NOM + ', ' + PRENOM) FROM FRDV, PATIENT "
        "WHERE PATIENT=CODE ORDER BY DATE_RDV, HRE_RDV",
        "SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS.DBF",
        "SELECT * FROM EXCOMP WHERE PATIENT='000001' AND DATE_EX='3/5/2024' AND CODE='001'",
        "SELECT DISTINCT MOTIF FROM CONS.DBF WHERE MOTIF <> '' ORDER BY MOTIF"};
    std::mt19937 rng(7);
    int errors = 0, runs = 0;
    for (int n = 0; n < 3000; ++n) {
        std::string s = seeds[static_cast<size_t>(n) % seeds.size()];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            size_t at = rng() % s.size();
            switch (rng() % 4) {
            case 0:
                s.erase(at, 1 + rng() % 6);
                break;
            case 1:
                s.insert(at, 1, "'(),.:%*+=<>;\"\x01\xC3"[rng() % 17]);
                break;
            case 2:
                s[at] = static_cast<char>(rng() % 256);
                break;
            default:
                s.insert(at, s.substr(rng() % s.size(), 1 + rng() % 8));
                break;
            }
        }
        try {
            execute(db.database, s);
            ++runs;
        } catch (const EDBEngineError& e) {
            EXPECT_FALSE(std::string(e.what()).empty());
            ++errors;
        }
    }
    EXPECT_GT(errors, 1000);
    EXPECT_GT(runs, 10);
    EXPECT_EQ(db.get("PATIENT")->recordCount(), 5u);  // only SELECTs were damaged
    std::string deep = "SELECT " + std::string(100000, '(') + "NOM" + std::string(100000, ')') + " FROM PATIENT";
    EXPECT_EQ(codeOf([&] { run(deep); }), kSqlSyntax);
}

// The name a statement knows a table by: without folder and extension,
// upper case, whatever the name's form.
TEST(SqlTableNames, ATableIsKnownByItsBaseNameInUpperCase)
{
    EXPECT_EQ(Database::baseName("Cons.DBF"), "CONS");
    EXPECT_EQ(Database::baseName("  cons.dbf\t"), "CONS");
    EXPECT_EQ(Database::baseName("Patient"), "PATIENT");
    EXPECT_EQ(Database::baseName("data/users.Db"), "USERS");
    EXPECT_EQ(Database::baseName("c:\\data\\Fbio.Dbf"), "FBIO");
    EXPECT_EQ(Database::baseName("notes.txt"), "NOTES.TXT");
    EXPECT_EQ(Database::baseName(".DBF"), ".DBF");
    EXPECT_EQ(Database::baseName("a."), "A.");
    EXPECT_EQ(Database::baseName(""), "");
    EXPECT_EQ(Database::baseName("   "), "");
    EXPECT_EQ(Database::baseName("dir/"), "");
    EXPECT_EQ(Database::baseName("\xC3\xA9" "coles.dbf"), "\xC3\x89" "COLES");  // accented, as text
}

}  // namespace

