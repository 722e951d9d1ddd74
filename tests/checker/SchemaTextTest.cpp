// The schema text shipped with the program: its layout as the other readers
// rely on it, and the consistency of its declarations.
#include <gtest/gtest.h>

#include <set>

#include "Descriptor.h"
#include "SchemaText.h"

using namespace dbcheck;

namespace {

const std::vector<dbcheck::TableBlock>& blocks()
{
    static const std::vector<dbcheck::TableBlock> parsed = ParseDescriptor(SchemaText());
    return parsed;
}

const TableBlock& table(const QString& name)
{
    for (const TableBlock& b : blocks()) {
        if (b.fileName == name)
            return b;
    }
    throw std::runtime_error("no table " + name.toStdString());
}

const kdb::FieldDesc& field(const TableBlock& b, const std::string& name)
{
    for (const kdb::FieldDesc& f : b.fields) {
        if (f.name == name)
            return f;
    }
    throw std::runtime_error("no field " + name);
}

}  // namespace

TEST(SchemaText, NineTablesInOrderReadableByTheLineReaders)
{
    const QStringList expected{"Cons.DBF", "EXCOMP.DBF", "FORD.DBF", "FPHOTO.DBF", "FRDV.DBF",
                               "FBIO.DBF", "FRADIO.DBF", "Patient.DBF", "FPROT.DBF"};
    QStringList parsed;
    for (const TableBlock& b : blocks())
        parsed << b.fileName;
    EXPECT_EQ(parsed, expected);

    // The maintenance and backup commands take the text from the 14th
    // character of every line containing "object Table:".
    QStringList byLine;
    for (const QString& line : SchemaText()) {
        if (line.contains(QLatin1String("object Table:")))
            byLine << line.mid(13, 50).trimmed();
    }
    EXPECT_EQ(byLine, expected);
}

TEST(SchemaText, LinesAreWrittenAtTheirMargins)
{
    for (const QString& line : SchemaText()) {
        const QString keyword = LineKeyword(line);
        if (keyword == QLatin1String("OBJECT") || keyword == QLatin1String("END")) {
            EXPECT_FALSE(line.startsWith(u' ')) << line.toStdString();
        } else {
            EXPECT_TRUE(line.startsWith(QLatin1String("  ")) && !line.startsWith(QLatin1String("   ")))
                << line.toStdString();
        }
        EXPECT_FALSE(line.trimmed().isEmpty()) << "no empty line";
        EXPECT_FALSE(line.endsWith(u' ')) << line.toStdString();
    }
}

TEST(SchemaText, FieldLinesRepeatTheNameAndUseTheKnownKinds)
{
    for (const QString& line : SchemaText()) {
        if (LineKeyword(line) != QLatin1String("FIELD"))
            continue;
        const QStringList args = LineArguments(line);
        ASSERT_EQ(args.size(), 6) << line.toStdString();
        EXPECT_EQ(args[0], args[1]) << line.toStdString();
        EXPECT_EQ(args[5], QStringLiteral("0")) << line.toStdString();
        const kdb::FieldDesc f = ParseFieldLine(line, 0);
        switch (f.type) {
        case kdb::fldZSTRING: EXPECT_TRUE(f.subType == 0 && f.units1 >= 1 && f.units1 <= 254); break;
        case kdb::fldDATE: EXPECT_TRUE(f.subType == 0 && f.units1 == 1); break;
        case kdb::fldBLOB: EXPECT_TRUE(f.subType == kdb::fldstMEMO && f.units1 == 1); break;
        case kdb::fldINT16: EXPECT_TRUE(f.subType == 0 && f.units1 == 4); break;
        case kdb::fldFLOAT: EXPECT_EQ(f.name, "ID_CONS"); break;
        default: ADD_FAILURE() << "unexpected type in " << line.toStdString();
        }
    }
}

TEST(SchemaText, WidthsThatStoredDataRestOn)
{
    EXPECT_EQ(field(table("Cons.DBF"), "PATIENT").units1, 10);
    EXPECT_EQ(field(table("EXCOMP.DBF"), "PATIENT").units1, 6);
    EXPECT_EQ(field(table("FRDV.DBF"), "PATIENT").units1, 6);
    EXPECT_EQ(field(table("FPROT.DBF"), "CODE").units1, 10);
    EXPECT_EQ(field(table("FPHOTO.DBF"), "CODE").units1, 6);
    EXPECT_EQ(field(table("Patient.DBF"), "CODE").units1, 6);
    EXPECT_EQ(field(table("FORD.DBF"), "NUM").type, kdb::fldINT16);
    EXPECT_EQ(field(table("FPROT.DBF"), "DIAG").subType, kdb::fldstMEMO);
    EXPECT_EQ(field(table("FPROT.DBF"), "INTERV").subType, kdb::fldstMEMO);
    EXPECT_EQ(table("Patient.DBF").fields.size(), 14u);
    EXPECT_EQ(table("FPROT.DBF").fields.size(), 13u);
}

TEST(SchemaText, ConsultationNumberIsANumericColumnAfterTheDeclaredOnes)
{
    const TableBlock& cons = table("Cons.DBF");
    const kdb::FieldDesc& id = field(cons, "ID_CONS");
    EXPECT_EQ(id.type, kdb::fldFLOAT);
    EXPECT_EQ(id.units1, 10);
    EXPECT_EQ(id.units2, 0);
    // Appended last: the other columns keep their positions (the DCONS key
    // names field 2).
    EXPECT_EQ(id.fieldNum, cons.fields.size());
    EXPECT_EQ(field(cons, "DCONS").fieldNum, 2);
}

TEST(SchemaText, IndexesNameTheirKeysConsistently)
{
    std::set<std::string> uniqueTags;
    size_t indexCount = 0;
    for (const TableBlock& b : blocks()) {
        const QString mdx = QStringLiteral("H:\\KORVALE_D7\\DATA\\") +
                            b.fileName.left(b.fileName.indexOf(u'.')).toUpper() + QStringLiteral(".MDX");
        for (const kdb::IndexDesc& x : b.indexes) {
            ++indexCount;
            SCOPED_TRACE(b.fileName.toStdString() + " " + x.tagName);
            EXPECT_EQ(QString::fromStdString(x.name), mdx);
            EXPECT_EQ(x.format, "BTREE");
            EXPECT_EQ(x.maintained, kdb::kTrue);
            EXPECT_EQ(x.keyCond, "");
            if (x.unique)
                uniqueTags.insert(b.fileName.toStdString() + "." + x.tagName);
            if (x.expression) {
                EXPECT_EQ(x.fieldsInKey, 0);
                EXPECT_EQ(x.keyFields, (std::array<uint16_t, kdb::kMaxKeyFields>{}));
                continue;
            }
            // A single-field key names, by number, the field its expression names.
            ASSERT_EQ(x.fieldsInKey, 1);
            ASSERT_GE(x.keyFields[0], 1);
            ASSERT_LE(x.keyFields[0], b.fields.size());
            const kdb::FieldDesc& key = b.fields[x.keyFields[0] - 1];
            EXPECT_EQ(key.name, x.keyExpr);
            EXPECT_EQ(x.keyExpType, key.type == kdb::fldDATE ? 528 : 513);
        }
    }
    EXPECT_EQ(indexCount, 11u);
    EXPECT_TRUE(table("FPHOTO.DBF").indexes.empty());
    EXPECT_EQ(uniqueTags, (std::set<std::string>{"FORD.DBF.CODENUM", "FBIO.DBF.CODE", "FRADIO.DBF.CODE",
                                                 "Patient.DBF.CODE"}));
    const kdb::IndexDesc& codenum = table("FORD.DBF").indexes.at(0);
    EXPECT_EQ(codenum.keyExpr, "CODE+NUM");
    EXPECT_EQ(codenum.keyExpType, 513);
    const kdb::IndexDesc& prot = table("FPROT.DBF").indexes.at(0);
    EXPECT_EQ(prot.tagName, "DATE_RDV");
    EXPECT_EQ(prot.keyExpr, "DATE_PRT");
}

TEST(SchemaText, ConsultationIndexLineReadsAsWritten)
{
    const QStringList lines = SchemaText();
    EXPECT_TRUE(lines.contains(QStringLiteral(
        "  index(H:\\KORVALE_D7\\DATA\\CONS.MDX;DCONS;1;2;0;0;0;1;0;0;0;DCONS;BTREE;528;DCONS;)")));
    EXPECT_TRUE(lines.contains(QStringLiteral("  field(DCONS;DCONS;2;0;1;0)")));
    EXPECT_EQ(lines.first(), QStringLiteral("object Table: Cons.DBF"));
    EXPECT_EQ(lines.last(), QStringLiteral("end"));
}
