// The schema text shipped with the program: its layout as the other readers
// rely on it, and the consistency of its declarations.
#include <gtest/gtest.h>

#include "checker/Descriptor.h"
#include "resources/schema/SchemaText.h"

using namespace dbcheck;

namespace {

const std::vector<dbcheck::TableBlock>& blocks()
{
    static const std::vector<dbcheck::TableBlock> parsed = ParseDescriptor(SchemaText());
    return parsed;
}

}  // namespace

TEST(SchemaText, NineTablesReadAlikeByTheParserAndTheLineReaders)
{
    QStringList parsed;
    for (const TableBlock& b : blocks())
        parsed << b.fileName;
    EXPECT_EQ(parsed.size(), 9);

    // The maintenance and backup commands take the text from the 14th
    // character of every line containing "object Table:".
    QStringList byLine;
    for (const QString& line : SchemaText()) {
        if (line.contains(QLatin1String("object Table:")))
            byLine << line.mid(13, 50).trimmed();
    }
    EXPECT_EQ(byLine, parsed);
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
        case kdb::fldZSTRING:
            EXPECT_TRUE(f.subType == 0 && f.units1 >= 1 && f.units1 <= 254);
            break;
        case kdb::fldDATE:
            EXPECT_TRUE(f.subType == 0 && f.units1 == 1);
            break;
        case kdb::fldBLOB:
            EXPECT_TRUE(f.subType == kdb::fldstMEMO && f.units1 == 1);
            break;
        case kdb::fldINT16:
            EXPECT_TRUE(f.subType == 0 && f.units1 == 4);
            break;
        case kdb::fldFLOAT:
            EXPECT_EQ(f.name, "ID_CONS");
            break;
        default:
            ADD_FAILURE() << "unexpected type in " << line.toStdString();
        }
    }
}

TEST(SchemaText, IndexesNameTheirKeysConsistently)
{
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
    EXPECT_GT(indexCount, 0u);
}
