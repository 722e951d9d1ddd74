// Engine calls: creation of the practice's tables from descriptors, probes,
// descriptors reported back, restructuring, pack, regeneration, session.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/db/core/File.h"
#include "platform/db/core/Table.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/Engine.h"
#include "tests/db/DbTestUtil.h"
#include "tests/support/SchemaTables.h"

using namespace kdb;
using namespace kdb::engine;
using kdbtest::codeOf;
using kdbtest::fieldDesc;

namespace {

FieldDesc C(const char* n, int16_t w)
{
    return fieldDesc(n, fldZSTRING, w);
}
FieldDesc D(const char* n)
{
    return fieldDesc(n, fldDATE, 1);
}
FieldDesc M(const char* n)
{
    return fieldDesc(n, fldBLOB, 1, 0, fldstMEMO);
}

// An index record in the form the schema text gives its indexes.
IndexDesc index(
    const std::string& table, const char* tag, uint16_t keyField, bool unique, uint16_t keyType, const char* expr)
{
    IndexDesc i;
    i.name = "H:\\KORVALE_D7\\DATA\\" + table + ".MDX";
    i.tagName = tag;
    i.fieldsInKey = keyField ? 1 : 0;
    i.keyFields[0] = keyField;
    i.unique = unique ? kTrue : 0;
    i.maintained = kTrue;
    i.expression = keyField ? 0 : kTrue;
    i.format = "BTREE";
    i.keyExpType = keyType;
    i.keyExpr = expr;
    i.restructOp = crADD;
    return i;
}

// The nine tables of the practice, as the schema text declares them.
std::vector<TableDesc> schema()
{
    return kdbtest::schemaTables();
}
TableDesc schemaTable(const std::string& fileName)
{
    for (const TableDesc& t : schema())
        if (t.tableName == fileName)
            return t;
    ADD_FAILURE() << fileName << " not in the schema text";
    return {};
}

class EngineTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::string dir() const { return tmp.path().toStdString(); }
    std::string path(const std::string& name) const { return dir() + "/" + name; }
    void createAll()
    {
        for (const auto& t : schema())
            ASSERT_EQ(createTable(dir(), t), 0) << t.tableName;
    }
};

TEST_F(EngineTest, NineSchemaTablesAreCreatedAsDbaseTablesWithTheirTags)
{
    createAll();
    const QStringList files = QDir(tmp.path()).entryList(QDir::Files, QDir::Name);
    for (const char* f : {"Cons.DBF", "CONS.MDX", "EXCOMP.DBF", "EXCOMP.MDX", "FORD.DBF", "FORD.MDX", "FPHOTO.DBF",
             "FRDV.DBF", "FRDV.MDX", "FBIO.DBF", "FBIO.MDX", "FRADIO.DBF", "FRADIO.MDX", "Patient.DBF", "PATIENT.MDX",
             "FPROT.DBF", "FPROT.MDX", "FPROT.DBT"})
        EXPECT_TRUE(files.contains(QString::fromLatin1(f), Qt::CaseInsensitive)) << f;
    EXPECT_FALSE(files.contains(QStringLiteral("FPHOTO.MDX"), Qt::CaseInsensitive));
    for (const auto& want : schema()) {
        SCOPED_TRACE(want.tableName);
        EXPECT_EQ(openTableResult(dir(), want.tableName, "DBASE", false), 0);
        auto t = openTable(dir(), want.tableName);
        const CursorProps props = cursorProps(*t);
        EXPECT_EQ(props.fieldCount, want.fields.size());
        EXPECT_EQ(props.indexCount, want.indexes.size());
        const auto fields = fieldDescs(*t);
        ASSERT_EQ(fields.size(), want.fields.size());
        for (size_t i = 0; i < fields.size(); ++i) {
            const auto& w = want.fields[i];
            EXPECT_EQ(fields[i].name, w.name);
            EXPECT_EQ(fields[i].type, w.type);
            EXPECT_EQ(fields[i].subType, w.subType);
            EXPECT_EQ(fields[i].units1, w.type == fldZSTRING || w.type == fldFLOAT ? w.units1 : 0);
            EXPECT_EQ(fields[i].units2, w.units2);
        }
        const auto idx = indexDescs(*t);
        ASSERT_EQ(idx.size(), want.indexes.size());
        for (size_t i = 0; i < idx.size(); ++i) {
            const auto& w = want.indexes[i];
            EXPECT_EQ(idx[i].name, w.name.substr(w.name.rfind('\\') + 1));
            EXPECT_EQ(idx[i].tagName, w.tagName);
            EXPECT_EQ(idx[i].keyExpr, w.keyExpr);
            // The text declares the ID_CONS tag, on a numeric column, with
            // character keys (513); the tag is built on the column's numeric
            // keys and reported so (514).
            EXPECT_EQ(idx[i].keyExpType, w.tagName == "ID_CONS" ? 514 : w.keyExpType);
            EXPECT_EQ(idx[i].unique, w.unique);
            EXPECT_EQ(idx[i].expression, w.expression);
            EXPECT_EQ(idx[i].fieldsInKey, w.fieldsInKey);
            EXPECT_EQ(idx[i].keyFields, w.keyFields);
        }
    }
}

TEST_F(EngineTest, Int16ColumnAndExpressionKeyOfThePrescriptionTable)
{
    createAll();
    auto t = openTable(dir(), "FORD");  // no extension: the .DBF
    EXPECT_EQ(fieldDescs(*t)[1].type, fldINT16);
    t->append({QStringLiteral("P01"), 1, QStringLiteral("Doliprane")});
    t->append({QStringLiteral("P01"), 2, QStringLiteral("Spasfon")});
    t->append({QStringLiteral("P02"), 1, QStringLiteral("Augmentin")});
    EXPECT_EQ(codeOf([&] { t->append({QStringLiteral("P01"), 2, QStringLiteral("doublon")}); }), DBERR_KEYVIOL);
    auto c = t->openTag("CODENUM");
    EXPECT_EQ(c->seek(QStringLiteral("P01"), true), 1u);
    EXPECT_EQ(c->next(), 2u);
    EXPECT_EQ(c->next(), 3u);
}

TEST_F(EngineTest, ProbeCodes)
{
    EXPECT_EQ(openTableResult(dir(), "Cons.DBF", "DBASE", false), DBERR_NOSUCHTABLE);
    createAll();
    EXPECT_EQ(openTableResult(dir(), "Cons.DBF", "DBASE", false), 0);
    EXPECT_EQ(openTableResult(dir(), "cons.dbf", "", false), 0);  // any case
    {
        QFile f(QString::fromStdString(path("Cons.MDX")));
        ASSERT_TRUE(f.resize(1024));  // cut inside its tag table
    }
    EXPECT_EQ(openTableResult(dir(), "Cons.DBF", "DBASE", false), DBERR_INDEXOUTOFDATE);
    removeFile(path("Cons.MDX"));
    EXPECT_EQ(openTableResult(dir(), "Cons.DBF", "DBASE", false), 0);
    // A probe leaves nothing open: an exclusive open follows.
    OpenOptions ex;
    ex.exclusive = true;
    EXPECT_NO_THROW(openTable(dir(), "Cons.DBF", ex));
    {
        auto held = openTable(dir(), "Patient.DBF");
        EXPECT_EQ(openTableResult(dir(), "Patient.DBF", "DBASE", true), DBERR_FILELOCKED);
        EXPECT_EQ(openTableResult(dir(), "Patient.DBF", "DBASE", false), 0);
    }
    QFile garbage(QString::fromStdString(path("JUNK.DBF")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("this is not a table at all, only text");
    garbage.close();
    EXPECT_EQ(openTableResult(dir(), "JUNK.DBF", "DBASE", false), DBERR_HEADERCORRUPT);
}

TEST_F(EngineTest, RestructureKeepsDataAndAppliesFieldAndIndexOperations)
{
    createAll();
    {
        auto t = openTable(dir(), "Patient.DBF");
        t->append({QStringLiteral("000001"), QStringLiteral("1"), QStringLiteral("Durand"), QStringLiteral("Éloïse"),
            QStringLiteral("1 rue de la Paix"), QStringLiteral("0102030405"), QStringLiteral("01/02/1960"),
            QStringLiteral("64"), QStringLiteral("170"), QStringLiteral("F"), QStringLiteral("A+")});
        t->append({QStringLiteral("000002"), QStringLiteral("2"), QStringLiteral("Martin"), QStringLiteral("Paul")});
        t->deleteRecord(2);
    }
    // A column not in the request, added by another program, is kept.
    {
        TableDesc extra;
        extra.tableName = "Patient.DBF";
        extra.fields = {C("REMARQUE", 20)};
        ASSERT_EQ(restructureTable(dir(), extra), 0);
        auto t = openTable(dir(), "Patient.DBF");
        ASSERT_EQ(t->fieldCount(), 15);
        EXPECT_EQ(t->value(1, t->fieldIndex("NOM")).toString(), QStringLiteral("Durand"));
        const int rem = t->fieldIndex("REMARQUE");
        ASSERT_GE(rem, 0);
        t->update(1, [&] {
            auto r = t->record(1);
            r[rem] = QStringLiteral("à garder");
            return r;
        }());
    }
    // What the checker sends: NOM widened 30 -> 40, ADR dropped, a new
    // column, NOM tag dropped, a descending tag added; pack requested.
    TableDesc req;
    req.tableName = "Patient.DBF";
    req.tableType = "DBASE";
    req.pack = true;
    // The schema's records carry their positions and no operation.
    const TableDesc patient = schemaTable("Patient.DBF");
    auto want = patient.fields;
    want[2].units1 = 40;
    want[2].restructOp = crMODIFY;
    want[4].restructOp = crDROP;
    auto added = C("MUTUELLE", 30);
    want.push_back(added);
    req.fields = want;
    ASSERT_EQ(patient.indexes.size(), 2u);
    IndexDesc drop = patient.indexes[1];
    ASSERT_EQ(drop.tagName, "NOM");
    drop.restructOp = crDROP;
    IndexDesc desc = index("PATIENT", "PRENOM", 4, false, 513, "PRENOM");
    desc.descending = kTrue;
    req.indexes = {drop, desc};
    ASSERT_EQ(restructureTable(dir(), req), 0);

    auto t = openTable(dir(), "Patient.DBF");
    ASSERT_EQ(t->recordCount(), 1u);  // packed
    EXPECT_EQ(t->fieldIndex("ADR"), -1);
    ASSERT_GE(t->fieldIndex("MUTUELLE"), 0);
    ASSERT_GE(t->fieldIndex("REMARQUE"), 0);
    EXPECT_EQ(t->fields()[t->fieldIndex("NOM")].width, 40);
    EXPECT_EQ(t->value(1, t->fieldIndex("NOM")).toString(), QStringLiteral("Durand"));
    EXPECT_EQ(t->value(1, t->fieldIndex("PRENOM")).toString(), QStringLiteral("Éloïse"));
    EXPECT_EQ(t->value(1, t->fieldIndex("GS")).toString(), QStringLiteral("A+"));
    EXPECT_EQ(t->value(1, t->fieldIndex("REMARQUE")).toString(), QStringLiteral("à garder"));
    EXPECT_TRUE(t->value(1, t->fieldIndex("MUTUELLE")).isNull());
    const auto idx = indexDescs(*t);
    ASSERT_EQ(idx.size(), 2u);
    EXPECT_EQ(idx[0].tagName, "CODE");
    EXPECT_EQ(idx[1].tagName, "PRENOM");
    EXPECT_EQ(idx[1].descending, kTrue);
    EXPECT_EQ(t->findKey("CODE", QStringLiteral("000001")), 1u);
    // The table must not be open elsewhere.
    EXPECT_EQ(restructureTable(dir(), req), DBERR_FILELOCKED);
}

TEST_F(EngineTest, RestructureDroppingAndReaddingTheSameTagsKeepsThem)
{
    createAll();
    {
        auto t = openTable(dir(), "FBIO.DBF");
        t->append({QStringLiteral("B01"), QStringLiteral("Glycémie")});
        t->append({QStringLiteral("B02"), QStringLiteral("Azotémie")});
    }
    // Existing indexes reported under another index name: the request adds
    // the declared ones and drops the existing ones (appended last).
    TableDesc req = schemaTable("FBIO.DBF");
    for (IndexDesc& x : req.indexes)
        x.restructOp = crADD;
    std::vector<IndexDesc> existing;
    {
        auto t = openTable(dir(), "FBIO.DBF");
        existing = indexDescs(*t);
    }
    for (size_t j = 0; j < existing.size(); ++j) {
        existing[j].restructOp = crDROP;
        existing[j].restructNum = static_cast<uint16_t>(j + 1);
        req.indexes.push_back(existing[j]);
    }
    req.pack = true;
    ASSERT_EQ(restructureTable(dir(), req), 0);
    auto t = openTable(dir(), "FBIO.DBF");
    const auto idx = indexDescs(*t);
    ASSERT_EQ(idx.size(), 2u);
    EXPECT_EQ(idx[0].tagName, "NOM");
    EXPECT_EQ(idx[1].tagName, "CODE");
    EXPECT_EQ(idx[1].unique, kTrue);
    EXPECT_EQ(t->findKey("NOM", QStringLiteral("Azot"), true), 2u);
    EXPECT_EQ(t->findKey("CODE", QStringLiteral("B01")), 1u);
}

TEST_F(EngineTest, RestructureConvertsTypesAndMemos)
{
    TableDesc d;
    d.tableName = "CONV.DBF";
    d.fields = {C("A", 10), C("B", 10), M("C"), C("D", 300 / 3)};
    ASSERT_EQ(createTable(dir(), d), 0);
    {
        auto t = openTable(dir(), "CONV.DBF");
        t->append(
            {QStringLiteral("12"), QStringLiteral("20240131"), QStringLiteral("long mémo"), QStringLiteral("texte")});
        t->append({QStringLiteral("abc"), QStringLiteral("pas date"), QVariant(), QString(60, QLatin1Char('z'))});
    }
    TableDesc r;
    r.tableName = "CONV.DBF";
    r.fields = {fieldDesc("A", fldFLOAT, 8, 1), D("B"), C("C", 4), M("D")};
    for (FieldDesc& f : r.fields)
        f.restructOp = crMODIFY;
    ASSERT_EQ(restructureTable(dir(), r), 0);
    auto t = openTable(dir(), "CONV.DBF");
    EXPECT_DOUBLE_EQ(t->value(1, 0).toDouble(), 12.0);
    EXPECT_TRUE(t->value(2, 0).isNull());  // not a number: empty
    EXPECT_EQ(t->value(1, 1).toDate(), QDate(2024, 1, 31));
    EXPECT_TRUE(t->value(2, 1).isNull());
    EXPECT_EQ(t->value(1, 2).toString(), QStringLiteral("long"));
    EXPECT_EQ(t->value(1, 3).toString(), QStringLiteral("texte"));
    EXPECT_EQ(t->value(2, 3).toString(), QString(60, QLatin1Char('z')));
    EXPECT_EQ(fieldDescs(*t)[3].subType, fldstMEMO);
}

TEST_F(EngineTest, PackAndRegenerateNeedExclusiveAccess)
{
    createAll();
    {
        auto t = openTable(dir(), "FRDV.DBF");
        for (int i = 0; i < 30; ++i)
            t->append({QString::number(i), QStringLiteral("P%1").arg(i % 5), QDate(2026, 1, 1).addDays(30 - i),
                QStringLiteral("09:00"), QStringLiteral("contrôle")});
        for (uint32_t r = 1; r <= 30; r += 3)
            t->deleteRecord(r);
        EXPECT_EQ(regenerateIndexes(*t), DBERR_NEEDEXCLACCESS);
        EXPECT_EQ(codeOf([&] { packTable(*t, true); }), DBERR_NEEDEXCLACCESS);
    }
    OpenOptions ex;
    ex.exclusive = true;
    auto t = openTable(dir(), "FRDV.DBF", ex);
    EXPECT_TRUE(cursorProps(*t).exclusive);
    packTable(*t, true);
    EXPECT_EQ(t->recordCount(), 20u);
    EXPECT_EQ(regenerateIndexes(*t), 0);
    // The date tag walks the 20 live records in date order.
    auto c = t->openTag("DATE_RDV");
    QDate prev;
    int n = 0;
    for (uint32_t r = c->first(); r; r = c->next(), ++n) {
        const QDate d = t->value(r, 2).toDate();
        EXPECT_TRUE(!prev.isValid() || prev <= d);
        prev = d;
    }
    EXPECT_EQ(n, 20);
    t.reset();
    EXPECT_EQ(openTableResult(dir(), "FRDV.DBF", "DBASE", false), 0);
}

TEST_F(EngineTest, CreateOverwritesAndHonoursTheExtension)
{
    TableDesc d;
    d.tableName = "NEW.DBF";
    d.tableType = "PARADOX";  // the extension wins
    d.fields = {C("X", 5)};
    ASSERT_EQ(createTable(dir(), d), 0);
    {
        auto t = openTable(dir(), "NEW.DBF");
        EXPECT_EQ(t->tableType(), "DBASE");
        t->append({QStringLiteral("a")});
    }
    ASSERT_EQ(createTable(dir(), d), 0);
    EXPECT_EQ(openTable(dir(), "NEW.DBF")->recordCount(), 0u);
    TableDesc bad;
    bad.tableName = "BAD.DBF";
    bad.fields = {fieldDesc("T", fldTIMESTAMP, 0)};
    EXPECT_NE(createTable(dir(), bad), 0);
    TableDesc noExt;
    noExt.tableName = "PLAIN";
    noExt.tableType = "DBASE";
    noExt.fields = {C("X", 5)};
    ASSERT_EQ(createTable(dir(), noExt), 0);
    EXPECT_TRUE(fileExists(path("PLAIN.DBF")));
}

TEST_F(EngineTest, ParadoxNamesGoToTheParadoxLayer)
{
    TableDesc d;
    d.tableName = "USERS.DB";
    d.tableType = "PARADOX";
    d.fields = {C("USERID", 10), C("NOM", 30), C("PW", 20)};
    const int code = createTable(dir(), d);
    if (code == DBERR_NOTSUPPORTED)
        GTEST_SKIP() << "built without the Paradox layer";
    ASSERT_EQ(code, 0);
    EXPECT_EQ(openTableResult(dir(), "USERS", "PARADOX", false), 0);
    auto t = openTable(dir(), "USERS");  // no extension, no .DBF: the .DB
    EXPECT_EQ(cursorProps(*t).tableType, "PARADOX");
    EXPECT_EQ(t->fieldCount(), 3);
    t.reset();
    TableDesc packOnly;
    packOnly.tableName = "USERS.DB";
    packOnly.tableType = "PARADOX";
    packOnly.pack = true;
    EXPECT_EQ(restructureTable(dir(), packOnly), 0);
}

}  // namespace
