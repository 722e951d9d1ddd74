// Every statement of the screens runs on the practice tables with the
// results the screens expect.
#include <gtest/gtest.h>

#include "CorpusLoader.h"
#include "PracticeFiles.h"

using namespace kdb::sql;
using namespace kdbtest;

namespace {

// Runs on in-memory tables and on table files created through the engine.
class SqlCorpus : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        files = GetParam();
        if (files) {
            ASSERT_TRUE(tmp.isValid());
            dir = tmp.path().toStdString();
            files_ = std::make_unique<kdb::Database>(dir);
            database = files_.get();
            ASSERT_EQ(createPracticeFiles(dir), 0);
            fillPracticeFiles(dir);
        } else {
            dir = "/data";
            addPracticeTables(db);
            fillPractice(db);
            database = &db.database;
        }
        corpus = loadCorpus(QString(KORVALE_SOURCE_DIR) + "/tests/db/sql/data/corpus.sql");
    }
    ExecResult run(const std::string& name)
    {
        auto it = corpus.find(name);
        if (it == corpus.end())
            throw std::runtime_error("no statement " + name);
        return execute(*database, it->second.sql, it->second.params);
    }
    // A stored value, read back from the table.
    QVariant cell(const std::string& table, uint32_t rec, int field)
    {
        return database->openTable(table)->value(rec, field);
    }
    bool files = false;
    QTemporaryDir tmp;
    std::string dir;
    // One column of a result as texts.
    static std::vector<QString> col(const ExecResult& r, const std::string& name)
    {
        int c = r.result.columnIndex(name);
        EXPECT_GE(c, 0) << name;
        std::vector<QString> out;
        for (const auto& row : r.result.rows)
            out.push_back(row[static_cast<size_t>(c)].toString());
        return out;
    }
    using V = std::vector<QString>;
    MemDatabase db;
    std::unique_ptr<kdb::Database> files_;
    kdb::Database* database = nullptr;
    std::map<std::string, CorpusEntry> corpus;
};

TEST_P(SqlCorpus, EveryStatementParses)
{
    ASSERT_GE(corpus.size(), 50u);
    for (const auto& [name, e] : corpus)
        EXPECT_NO_THROW(explain(*database, e.sql, e.params)) << name;
}

TEST_P(SqlCorpus, PatientPickerAndPatientQueries)
{
    auto r = run("picker_du");
    EXPECT_EQ(col(r, "NOM"), (V{"DUPONT", "DUPONT", "DURAND"}));
    EXPECT_EQ(col(r, "PRENOM"), (V{"ALAIN", "JEAN", "MARIE"}));
    EXPECT_EQ(r.result.columns.size(), 6u);
    EXPECT_EQ(col(run("picker_quote"), "NOM"), (V{"D'ARC"}));
    EXPECT_EQ(col(run("nextcode_patient"), "CODE"), (V{"000001", "000002", "000003", "000004", "000005"}));
    EXPECT_EQ(col(run("consul_patient"), "NOM"), (V{"DUPONT"}));
    EXPECT_EQ(col(run("certificate_patient"), "PRENOM"), (V{"PAUL"}));
    auto rp = run("ord_report_patient");
    EXPECT_EQ(col(rp, "DN"), (V{"00/00/1975"}));
    EXPECT_EQ(run("all_patients").result.rows.size(), 5u);
    EXPECT_EQ(col(run("photo_patient"), "CODE"), (V{"000001"}));
    EXPECT_EQ(run("patient_delete_guard").result.rows.size(), 4u);
}

TEST_P(SqlCorpus, ConsultationScreen)
{
    auto h = run("consul_history");
    EXPECT_EQ(col(h, "ID_CONS"), (V{"3", "1", "4"}));
    EXPECT_EQ(h.result.rows[0][static_cast<size_t>(h.result.columnIndex("DCONS"))].toDate(), QDate(2023, 12, 1));

    auto dates = run("consul_exam_dates");
    ASSERT_EQ(dates.result.rows.size(), 2u);  // two exams on 5 March count once
    EXPECT_EQ(dates.result.rows[0][1].toDate(), QDate(2024, 3, 5));
    EXPECT_EQ(dates.result.rows[1][1].toDate(), QDate(2024, 4, 1));

    EXPECT_EQ(col(run("consul_exam_bio"), "NUM"), (V{"000001"}));
    EXPECT_EQ(run("consul_fbio").result.rows.size(), 2u);
    EXPECT_EQ(run("consul_fradio").result.rows.size(), 2u);

    auto mx = run("consul_max_id");
    ASSERT_EQ(mx.result.rows.size(), 1u);
    EXPECT_EQ(mx.result.columns[0].name, "NEXT_ID");
    EXPECT_EQ(mx.result.rows[0][0].toInt(), 4);

    EXPECT_EQ(run("consul_insert").rowsAffected, 1);
    EXPECT_EQ(run("consul_max_id").result.rows[0][0].toInt(), 5);
    if (!files) {
        EXPECT_GE(db.get("CONS")->flushes, 1);
    }
    EXPECT_EQ(cell("CONS", 5, 1).toDate(), QDate(2024, 7, 14));
    EXPECT_EQ(cell("CONS", 5, 6).toString(), "CEPHALEES");
    EXPECT_TRUE(cell("CONS", 5, 5).isNull());  // DEP given as an empty text

    EXPECT_EQ(run("consul_update").rowsAffected, 1);
    EXPECT_EQ(cell("CONS", 5, 1).toDate(), QDate(2024, 7, 15));
    EXPECT_EQ(cell("CONS", 5, 10).toString(), "A REVOIR");
    EXPECT_EQ(cell("CONS", 2, 6).toString(), "TOUX");  // other rows untouched
}

TEST_P(SqlCorpus, PickListsSpanAllPatientsSortedWithoutBlanks)
{
    EXPECT_EQ(col(run("picklist_motif"), "MOTIF"), (V{"FIEVRE", "TOUX"}));
    EXPECT_EQ(col(run("picklist_diag"), "DIAG"), (V{"ANGINE", "GRIPPE"}));
    EXPECT_EQ(col(run("picklist_trt"), "TRT1"), (V{"AMOXICILLINE", "REPOS", "SIROP"}));
}

TEST_P(SqlCorpus, ExamsAndReferenceTables)
{
    EXPECT_EQ(run("exam_exists").result.rows.size(), 1u);
    EXPECT_EQ(run("exam_exists_not").result.rows.size(), 0u);
    EXPECT_EQ(run("exam_delete").rowsAffected, 1);
    EXPECT_EQ(run("consul_exam_dates").result.rows.size(), 1u);
    EXPECT_EQ(col(run("reftable_list"), "LIBELLE"), (V{"GLYCEMIE", "NFS"}));
    EXPECT_EQ(col(run("reftable_by_code"), "CODE"), (V{"001", "002"}));
    EXPECT_EQ(col(run("exam_list_radio"), "LIBELLE"), (V{"ABDOMEN", "THORAX"}));
    EXPECT_EQ(run("reftable_delete").rowsAffected, 1);
    EXPECT_EQ(col(run("exam_list_bio"), "LIBELLE"), (V{"NFS"}));
}

TEST_P(SqlCorpus, Prescriptions)
{
    EXPECT_EQ(col(run("ord_numbers"), "CODE"), (V{"1", "10", "2"}));  // text order
    auto next = run("ord_next_line");
    EXPECT_EQ(next.result.columns[0].name, "MYNUM");
    EXPECT_EQ(next.result.rows[0][0].toInt(), 2);
    auto none = run("ord_next_line_none");
    ASSERT_EQ(none.result.rows.size(), 1u);
    EXPECT_TRUE(none.result.rows[0][0].isNull());  // no row: an empty value
    EXPECT_EQ(col(run("ord_lines"), "MEDIC"), (V{"DOLIPRANE", "SPASFON"}));
    EXPECT_EQ(col(run("ord_report"), "MEDIC"), (V{"AMOXICILLINE"}));
    EXPECT_EQ(run("ord_delete_line").rowsAffected, 1);  // integer column against '1'
    EXPECT_EQ(col(run("ord_lines"), "MEDIC"), (V{"SPASFON"}));
    EXPECT_EQ(run("ord_delete").rowsAffected, 1);
    EXPECT_EQ(col(run("ord_numbers"), "CODE"), (V{"1", "2"}));
}

TEST_P(SqlCorpus, AppointmentsJoinAndExistence)
{
    auto r = run("rdv_list");
    EXPECT_EQ(col(r, "NUM"), (V{"000004", "000002", "000001"}));  // the orphan appointment is left out
    ASSERT_EQ(r.result.columns.size(), 7u);
    EXPECT_EQ(r.result.rows[0][6].toString(), "MARTIN, PAUL");
    EXPECT_EQ(r.result.rows[0][5].toString(), "000003");
    EXPECT_NE(r.plan.find("seek tag CODE"), std::string::npos) << r.plan;
    EXPECT_EQ(run("rdv_exists").result.rows.size(), 1u);
    EXPECT_EQ(run("rdv_exists_other").result.rows.size(), 0u);  // the appointment itself is excluded
    EXPECT_EQ(run("rdv_delete").rowsAffected, 1);
    EXPECT_EQ(run("rdv_list").result.rows.size(), 2u);
}

TEST_P(SqlCorpus, ProtocolsAndPhotos)
{
    EXPECT_EQ(col(run("prot_list"), "NUM"), (V{"000002", "000001"}));
    auto rep = run("prot_report");
    EXPECT_EQ(col(rep, "DIAG"), (V{"APPENDICITE"}));  // memo as plain text
    EXPECT_EQ(run("prot_delete").rowsAffected, 1);
    EXPECT_EQ(col(run("prot_list"), "NUM"), (V{"000001"}));

    EXPECT_EQ(col(run("photos_select"), "PHOTO"), (V{"A.JPG", "B.JPG"}));
    EXPECT_EQ(run("photos_delete_all").rowsAffected, 2);
    EXPECT_EQ(run("photos_insert").rowsAffected, 1);
    EXPECT_EQ(col(run("photos_select"), "NUM"), (V{"2"}));
    EXPECT_EQ(run("photos_delete_replaced").rowsAffected, 1);
}

// Equal keys of a tag that is not unique, on both kinds of tables: the
// walk stops after the last equal key, before longer names that begin alike.
TEST_P(SqlCorpus, EqualKeysOfATagThatIsNotUnique)
{
    execute(*database, "INSERT INTO PATIENT (CODE, NOM, PRENOM) VALUES ('000006', 'DUPONT JEAN', 'X')");
    execute(*database, "INSERT INTO PATIENT (CODE, NOM, PRENOM) VALUES ('000007', 'DUPONT!', 'Y')");
    execute(
        *database, "INSERT INTO PATIENT (CODE, NOM, PRENOM) VALUES ('000008', 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123', 'Z')");
    auto r = execute(*database, "SELECT CODE FROM PATIENT WHERE NOM = 'DUPONT' ORDER BY CODE");
    EXPECT_NE(r.plan.find("seek tag NOM"), std::string::npos) << r.plan;
    EXPECT_EQ(col(r, "CODE"), (V{"000001", "000005"}));
    EXPECT_EQ(col(execute(*database, "SELECT CODE FROM PATIENT WHERE NOM = 'DUPONT JEAN'"), "CODE"), (V{"000006"}));
    EXPECT_EQ(col(execute(*database, "SELECT CODE FROM PATIENT WHERE NOM = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123'"), "CODE"),
        (V{"000008"}));  // a key as wide as the column
    EXPECT_EQ(col(execute(*database, "SELECT CODE FROM PATIENT WHERE NOM LIKE 'DUPONT%' ORDER BY CODE"), "CODE"),
        (V{"000001", "000005", "000006", "000007"}));
    EXPECT_EQ(col(execute(*database, "SELECT NUM FROM EXCOMP WHERE DATE_EX = '3/5/2024' ORDER BY NUM"), "NUM"),
        (V{"000001", "000002", "000004"}));
}

TEST_P(SqlCorpus, LoginTable)
{
    EXPECT_EQ(run("users_select").result.rows.size(), 0u);
    EXPECT_EQ(run("users_insert_manager").rowsAffected, 1);
    auto r = run("users_select_again");
    ASSERT_EQ(r.result.rows.size(), 1u);
    EXPECT_EQ(col(r, "USERID"), (V{"MANAGER"}));
    EXPECT_TRUE(r.result.rows[0][static_cast<size_t>(r.result.columnIndex("PW"))].isNull());
    EXPECT_EQ(run("users_update_pw").rowsAffected, 1);
    EXPECT_EQ(col(run("users_select"), "PW"), (V{"SECRET"}));
}

INSTANTIATE_TEST_SUITE_P(Tables, SqlCorpus, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Files" : "Memory"; });

}  // namespace
