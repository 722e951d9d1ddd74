// Character values answer in one order whether a tag serves the statement
// or not: the same rows in the same order from a table with tags on its
// names and from the same rows without any tag, for names holding every
// byte 0x80..0xFF.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <random>

#include "platform/db/core/Codepage.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;
using namespace kdb::sql;

namespace {

class SqlCollation : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path().toStdString();
        const std::vector<DbfTable::FieldSpec> fields = {
            {"ID", 'N', 6, 0, false}, {"NOM", 'C', 12, 0, false}, {"PRENOM", 'C', 10, 0, false}};
        DbfTable::create(
            dir + "/TAGGED.DBF", fields, {{"NOM", "NOM", 'C', false, false}, {"PRENOM", "PRENOM", 'C', false, false}});
        DbfTable::create(dir + "/PLAIN.DBF", fields, {});
        // Every byte of the upper half, first and inside a name, beside
        // plain names and names differing only by case.
        std::vector<QString> noms = {"DUPONT", "Dupont", "dupont", "DA", "D", "EVA", "FABIEN", "ÉMILE", "ŒUVRE",
            "OZANNE", "PAUL", "SYLVIE", "TANIA", "D'ARC", "D’ARC", "ZOÉ"};
        for (int b = 0x80; b <= 0xFF; ++b) {
            const QString c = fromCp1252(std::string(1, static_cast<char>(b)));
            noms.push_back(c + "NOM");
            noms.push_back("D" + c + "X");
            noms.push_back(QStringLiteral("MA") + c);
        }
        const std::vector<QString> prenoms = {"Émile", "Eva", "eva", "Zoé", "Œdipe", "Ève", "", "Luc", "Šimon"};
        std::mt19937 rng(11);
        auto tagged = DbfTable::open(dir + "/TAGGED.DBF");
        auto plain = DbfTable::open(dir + "/PLAIN.DBF");
        for (int i = 1; i <= 900; ++i) {  // every name once, then some twice
            const QString& nom = static_cast<size_t>(i) <= noms.size() ? noms[i - 1] : noms[rng() % noms.size()];
            const std::vector<QVariant> rec = {i, nom, prenoms[rng() % prenoms.size()]};
            tagged->append(rec);
            plain->append(rec);
        }
        tagged->flush();
        plain->flush();
    }

    // Rows of a statement on one table ("%T" stands for its name), as text.
    std::vector<QStringList> rows(std::string sql, const std::string& table, std::string* plan = nullptr)
    {
        sql.replace(sql.find("%T"), 2, table);
        const ExecResult r = execute(dir, sql);
        if (plan)
            *plan = r.plan;
        std::vector<QStringList> out;
        for (const auto& row : r.result.rows) {
            QStringList l;
            for (const QVariant& v : row)
                l << (v.isNull() ? QStringLiteral("<null>") : v.toString());
            out.push_back(l);
        }
        return out;
    }

    // The statement answers alike on both tables, the tagged one reading
    // a tag; its rows.
    std::vector<QStringList> same(const std::string& sql)
    {
        SCOPED_TRACE(sql);
        std::string plan;
        const auto withTag = rows(sql, "TAGGED", &plan);
        EXPECT_NE(plan.find("tag"), std::string::npos) << sql << ": " << plan;
        EXPECT_EQ(withTag, rows(sql, "PLAIN"));
        return withTag;
    }

    QTemporaryDir tmp;
    std::string dir;
};

}  // namespace

TEST_F(SqlCollation, SameRowsInTheSameOrderWithAndWithoutTags)
{
    same("SELECT ID, NOM FROM %T ORDER BY NOM, ID");
    same("SELECT NOM, PRENOM, ID FROM %T WHERE NOM LIKE 'D%' ORDER BY NOM, PRENOM, ID");
    for (const char* p : {"É", "Œ", "Š", "€", "’", "d", "DU", "MA", "ÿ", "Ž"}) {
        const std::string q = QString::fromUtf8(p).toStdString();
        same("SELECT ID, NOM FROM %T WHERE NOM LIKE '" + q + "%' ORDER BY NOM, ID");
        same("SELECT ID FROM %T WHERE NOM = '" + q + "NOM' ORDER BY ID");
        for (const char* op : {"<", ">="})
            same("SELECT ID, NOM FROM %T WHERE NOM " + std::string(op) + " 'D" + q + "X' ORDER BY NOM, ID");
    }
    same("SELECT PRENOM, ID FROM %T WHERE PRENOM LIKE 'É%' ORDER BY PRENOM, ID");
}

TEST_F(SqlCollation, DistinctAndMaxFollowTheDocumentedOrder)
{
    const auto distinct = same("SELECT DISTINCT NOM FROM %T ORDER BY NOM");
    std::vector<QString> noms;
    for (const auto& r : distinct)
        noms.push_back(r.at(0));
    auto at = [&](const char* name) {
        return std::find(noms.begin(), noms.end(), QString::fromUtf8(name)) - noms.begin();
    };
    // Accented capitals with their letter, ligatures after theirs, the
    // apostrophe and the euro sign among the symbols before the letters.
    EXPECT_LT(at("EVA"), at("ÉMILE"));
    EXPECT_LT(at("ÉMILE"), at("FABIEN"));
    EXPECT_LT(at("OZANNE"), at("ŒUVRE"));
    EXPECT_LT(at("ŒUVRE"), at("PAUL"));
    EXPECT_LT(at("SYLVIE"), at("ŠNOM"));
    EXPECT_LT(at("ŠNOM"), at("TANIA"));
    EXPECT_LT(at("D’ARC"), at("DA"));
    EXPECT_LT(at("€NOM"), at("DA"));
    EXPECT_LT(at("DUPONT"), at("Dupont"));
    EXPECT_LT(at("Dupont"), at("dupont"));
    for (size_t i = 1; i < noms.size(); ++i)
        ASSERT_NE(noms[i - 1], noms[i]);
    // MAX is the last of that order, with or without a tag.
    for (const char* t : {"TAGGED", "PLAIN"}) {
        const auto max = rows("SELECT MAX(NOM) AS M FROM %T", t);
        ASSERT_EQ(max.size(), 1u);
        EXPECT_EQ(max[0].at(0), noms.back()) << t;
    }
    EXPECT_EQ(noms.back(), QStringLiteral("žNOM"));
}
