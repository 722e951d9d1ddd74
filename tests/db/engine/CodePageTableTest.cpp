// A table in code page 850 (language driver 0x02): its text read and written
// in that code page, its tags in the order of that code page's letters (also
// for the statements of the local SQL), an
// index ordered for another code page refused, and a restructure into the
// engine's own driver converting the text, memos included.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/db/core/DbError.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/mdx/MdxKey.h"
#include "platform/db/sql/Sql.h"

using namespace kdb;

namespace {

QByteArray readFile(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const std::string& path, const QByteArray& data)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// Sets the code page recorded in every tag header of an index file.
void setTagCodePage(const std::string& mdx, uint16_t codePage)
{
    QByteArray d = readFile(mdx);
    const auto* u = reinterpret_cast<const unsigned char*>(d.constData());
    const int tags = u[28] | u[29] << 8;
    for (int i = 0; i < tags; ++i) {
        const unsigned char* e = u + 544 + 32 * i;
        const qsizetype at =
            qsizetype(e[0] | e[1] << 8 | e[2] << 16 | uint32_t(e[3]) << 24) * 512 + mdx::kCollationMarkOffset + 2;
        d[at] = static_cast<char>(codePage & 0xFF);
        d[at + 1] = static_cast<char>(codePage >> 8);
    }
    writeFile(mdx, d);
}

std::vector<QString> walk(Table& t, const char* tag)
{
    std::vector<QString> out;
    auto c = t.openTag(tag);
    for (uint32_t r = c->first(); r != 0; r = c->next())
        out.push_back(t.value(r, 0).toString());
    return out;
}

}  // namespace

TEST(CodePageTable, Cp850TableIsReadWrittenAndRestructuredWithItsAccents)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string dir = tmp.path().toStdString(), dbf = dir + "/DOS.DBF", mdx = dir + "/DOS.MDX";
    DbfTable::create(
        dbf, {{"NOM", 'C', 10, 0, false}, {"NOTE", 'M', 10, 0, false}}, {{"NOM", "NOM", 'C', false, false}});
    QByteArray h = readFile(dbf);
    h[29] = 0x02;  // code page 850
    writeFile(dbf, h);
    // Its index is ordered for Windows-1252: out of date for this table.
    EXPECT_EQ(engine::openTableResult(dir, "DOS.DBF", "DBASE", false), DBERR_INDEXOUTOFDATE);
    setTagCodePage(mdx, 850);

    const std::vector<QString> names = {"FABIEN", "ÉMILE", "EVA", "zoé", "ÇA"};
    {
        auto t = DbfTable::open(dbf);
        for (const QString& n : names)
            t->append({n, n + " – «note» ÿ"});
        t->flush();
        EXPECT_EQ(t->rawField(2, 0).substr(0, 5), "\x90MILE");
        EXPECT_EQ(t->value(2, 0).toString(), "ÉMILE");
        EXPECT_EQ(t->value(5, 1).toString(), "ÇA ? «note» ÿ");  // code page 850 has no "–"
        EXPECT_EQ(walk(*t, "NOM"), (std::vector<QString>{"ÇA", "EVA", "ÉMILE", "FABIEN", "zoé"}));
        EXPECT_EQ(t->findKey("NOM", QStringLiteral("ÉMILE")), 2u);
    }
    // Statements read the tag of such a table in the same order as they sort.
    auto noms = [&](const std::string& sql) {
        const sql::ExecResult r = sql::execute(dir, sql);
        EXPECT_NE(r.plan.find("tag NOM"), std::string::npos) << sql << ": " << r.plan;
        std::vector<QString> out;
        for (const auto& row : r.result.rows)
            out.push_back(row.at(0).toString());
        return out;
    };
    EXPECT_EQ(noms("SELECT NOM FROM DOS ORDER BY NOM"), (std::vector<QString>{"ÇA", "EVA", "ÉMILE", "FABIEN", "zoé"}));
    EXPECT_EQ(noms("SELECT NOM FROM DOS WHERE NOM LIKE 'É%' ORDER BY NOM"), std::vector<QString>{"ÉMILE"});
    EXPECT_EQ(noms("SELECT NOM FROM DOS WHERE NOM = 'zoé'"), std::vector<QString>{"zoé"});
    // The bytes are code page 850 ones, as an outside reader that follows
    // the language-driver byte also finds.
    EXPECT_TRUE(readFile(dbf).contains("\x90MILE"));
    // (python3-dbfread, when installed, picks the code page from that byte)
    QProcess py;
    py.start("/usr/bin/python3",
        {"-c",
            "import dbfread, json, sys; "
            "print(json.dumps([r['NOM'] for r in dbfread.DBF(sys.argv[1])]))",
            QString::fromStdString(dbf)});
    if (py.waitForFinished(30000) && py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0) {
        EXPECT_EQ(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
            QStringLiteral("[\"FABIEN\", \"\\u00c9MILE\", \"EVA\", \"zo\\u00e9\", \"\\u00c7A\"]"));
    }
    EXPECT_TRUE(readFile(dir + "/DOS.DBT")
                    .contains("\x80"
                              "A ? \xAEnote\xAF \x98"));

    TableDesc keep;
    keep.tableName = "DOS.DBF";
    keep.tableType = "DBASE";
    ASSERT_EQ(engine::restructureTable(dir, keep), 0);
    EXPECT_EQ(static_cast<unsigned char>(readFile(dbf)[29]), 0x57);
    auto t = DbfTable::open(dbf);
    ASSERT_EQ(t->recordCount(), names.size());
    for (uint32_t r = 1; r <= names.size(); ++r) {
        EXPECT_EQ(t->value(r, 0).toString(), names[r - 1]);
        EXPECT_EQ(t->value(r, 1).toString(), names[r - 1] + " ? «note» ÿ");
    }
    EXPECT_EQ(t->rawField(2, 0).substr(0, 5), "\xC9MILE");
    EXPECT_EQ(walk(*t, "NOM"), (std::vector<QString>{"ÇA", "EVA", "ÉMILE", "FABIEN", "zoé"}));
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("zoé")), 4u);
}
