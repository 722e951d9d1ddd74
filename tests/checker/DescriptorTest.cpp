// The schema Descriptor reader: words, keywords, arguments, field and index
// lines, table blocks, and the text that falls outside the grammar.
#include <gtest/gtest.h>

#include "checker/Descriptor.h"

using namespace dbcheck;

namespace {

const QString kConsIndex =
    QStringLiteral("  index(H:\\KORVALE_D7\\DATA\\CONS.MDX;DCONS;1;2;0;0;0;1;0;0;0;DCONS;BTREE;528;DCONS;)");

// The message of the error raised by f (empty when none is raised).
template <typename F> std::string errorOf(F f)
{
    try {
        f();
    } catch (const EDescriptorError& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(DescriptorWords, PositionsAndWordsSkipLeadingAndRepeatedDelimiters)
{
    const QString text = QStringLiteral("  object   Table:  Cons.DBF ");
    EXPECT_EQ(WordPosition(2, text, kBlankDelimiters), 12);
    EXPECT_EQ(WordPosition(4, text, kBlankDelimiters), 0);
    EXPECT_EQ(ExtractWordN(3, text, kBlankDelimiters), QStringLiteral("Cons.DBF"));
    EXPECT_EQ(ExtractWordN(2, QStringLiteral("a=b|c"), QStringLiteral("=|")), QStringLiteral("b"));
    EXPECT_EQ(ExtractWordN(2, QStringLiteral("FBIO="), QStringLiteral("=|")), QString());
}

TEST(DescriptorWords, KeywordIsTheFirstWordUpperCased)
{
    EXPECT_EQ(LineKeyword(QStringLiteral("  field(PATIENT;PATIENT;1;0;10;0)")), QStringLiteral("FIELD"));
    EXPECT_EQ(LineKeyword(QStringLiteral("\tIndex (x)")), QStringLiteral("INDEX"));
    EXPECT_EQ(LineKeyword(QStringLiteral("(field")), QStringLiteral("FIELD"));
}

TEST(DescriptorWords, TableFileNameAndDriver)
{
    EXPECT_EQ(TableFileName(QStringLiteral("object    Table:     Patient.DBF   ")), QStringLiteral("Patient.DBF"));
    EXPECT_EQ(TableFileName(QStringLiteral("object Table:")), QString());
    EXPECT_EQ(DriverForTable(QStringLiteral("cons.dbf")), QStringLiteral("DBASE"));
    EXPECT_EQ(DriverForTable(QStringLiteral("users.db")), QStringLiteral("PARADOX"));
    EXPECT_EQ(DriverForTable(QStringLiteral("OLD.DB.BAK")), QString());
}

TEST(DescriptorArguments, RunsBetweenSeparatorsKeepBlanksAndEmptyRuns)
{
    EXPECT_EQ(LineArguments(QStringLiteral("field(A; B ;;x)")),
        (QStringList{QStringLiteral("A"), QStringLiteral(" B "), QString(), QStringLiteral("x")}));
    // Characters after ")" are read as further arguments.
    EXPECT_EQ(LineArguments(QStringLiteral("field(A;A)1;0")),
        (QStringList{QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("0")}));
    EXPECT_TRUE(LineArguments(QStringLiteral("field")).isEmpty());
    // Only the first "(" opens the arguments.
    EXPECT_EQ(LineArguments(QStringLiteral("index(a(b;c)")), (QStringList{QStringLiteral("a(b"), QStringLiteral("c")}));
}

TEST(DescriptorKeyFields, ListFillsTheLeadingEntries)
{
    const auto mixed = ParseKeyFieldList(QStringLiteral("1,,x,4, 5"));
    EXPECT_EQ(mixed[0], 1);
    EXPECT_EQ(mixed[1], 0);
    EXPECT_EQ(mixed[2], 0);
    EXPECT_EQ(mixed[3], 4);
    EXPECT_EQ(mixed[4], 0);  // " 5" is not integer text
}

TEST(DescriptorKeyFields, SixteenEntriesFitAndSeventeenAreRejected)
{
    QStringList sixteen;
    for (int i = 1; i <= 16; ++i)
        sixteen << QString::number(i);
    const auto keys = ParseKeyFieldList(sixteen.join(u','));
    EXPECT_EQ(keys[15], 16);
    EXPECT_NE(errorOf([&] { ParseKeyFieldList(sixteen.join(u',') + QStringLiteral(",17")); }), "");
    EXPECT_NE(errorOf([] { ParseKeyFieldList(QStringLiteral("70000")); }), "");
    EXPECT_NE(errorOf([] { ParseKeyFieldList(QStringLiteral("-1")); }), "");
}

TEST(DescriptorFieldLine, AllArgumentsAreStored)
{
    const kdb::FieldDesc f = ParseFieldLine(QStringLiteral("  field(DIAG;DIAG;3;22;1;0)"), 0);
    EXPECT_EQ(f.name, "DIAG");
    EXPECT_EQ(f.type, kdb::fldBLOB);
    EXPECT_EQ(f.subType, kdb::fldstMEMO);
    const kdb::FieldDesc n = ParseFieldLine(QStringLiteral("field(AMOUNT;X;7;0;12;2)"), 0);
    EXPECT_EQ(n.type, kdb::fldFLOAT);
    EXPECT_EQ(n.units1, 12);
    EXPECT_EQ(n.units2, 2);
}

TEST(DescriptorFieldLine, MissingAndMalformedArgumentsTakeTheirDefaults)
{
    const kdb::FieldDesc bad = ParseFieldLine(QStringLiteral("field(NOTE;NOTE;one;;ten; 2)"), 0);
    EXPECT_EQ(bad.type, 0);
    EXPECT_EQ(bad.subType, 0);
    EXPECT_EQ(bad.units1, 1);
    EXPECT_EQ(bad.units2, 0);  // " 2": blanks belong to the value

    // Blanks are part of the name.
    EXPECT_EQ(ParseFieldLine(QStringLiteral("field( NOM ;x;1;0;5;0)"), 0).name, " NOM ");
}

TEST(DescriptorFieldLine, ValuesThatDoNotFitTheRecordAreRejectedNamingTheLine)
{
    const QString name31(31, u'A');
    EXPECT_EQ(ParseFieldLine(QStringLiteral("field(%1;x;1;0;5;0)").arg(name31), 0).name.size(), 31u);

    const std::string tooLong =
        errorOf([] { ParseFieldLine(QStringLiteral("field(%1;x;1;0;5;0)").arg(QString(32, u'A')), 6); });
    EXPECT_NE(tooLong.find("ligne 7"), std::string::npos) << tooLong;

    EXPECT_NE(errorOf([] { ParseFieldLine(QStringLiteral("field(A;A;1;0;70000;0)"), 0); }).find("ligne 1"),
        std::string::npos);
    EXPECT_NE(errorOf([] { ParseFieldLine(QStringLiteral("field(A;A;-1;0;5;0)"), 0); }), "");
    EXPECT_NE(errorOf([] { ParseFieldLine(QStringLiteral("field(A;A;1;65536;5;0)"), 0); }), "");
    // A number beyond 32 bits is no integer: the default applies.
    EXPECT_EQ(ParseFieldLine(QStringLiteral("field(A;A;1;0;99999999999;0)"), 0).units1, 1);
}

TEST(DescriptorIndexLine, EveryPositionLandsInItsMember)
{
    const kdb::IndexDesc x = ParseIndexLine(kConsIndex, 0);
    EXPECT_EQ(x.name, "H:\\KORVALE_D7\\DATA\\CONS.MDX");
    EXPECT_EQ(x.keyFields[0], 2);
    EXPECT_EQ(x.maintained, kdb::kTrue);
    EXPECT_EQ(x.format, "BTREE");
    EXPECT_EQ(x.keyExpType, 528);
    EXPECT_EQ(x.keyExpr, "DCONS");

    const kdb::IndexDesc all =
        ParseIndexLine(QStringLiteral("index(F.MDX;A;2;1,3;1;1;1;0;1;1;1;B;BTREE;513;X+Y;X>1)"), 0);
    EXPECT_EQ(all.tagName, "B");  // position 12 overwrites position 2
    EXPECT_EQ(all.primary, kdb::kTrue);
    EXPECT_EQ(all.maintained, 0);
    EXPECT_EQ(all.subset, kdb::kTrue);
    EXPECT_EQ(all.keyFields[1], 3);
    EXPECT_EQ(all.keyCond, "X>1");
}

TEST(DescriptorIndexLine, FlagsUseTheLowEightBits)
{
    const auto unique = [](const char* flag) {
        return ParseIndexLine(
            QStringLiteral("index(F.MDX;T;1;1;0;%1;0;1;0;0;0;T;BTREE;513;A;)").arg(QString::fromLatin1(flag)), 0)
            .unique;
    };
    for (auto [flag, set] : {std::pair{"33", true}, {"-1", true}, {"256", false}, {"yes", false}})
        EXPECT_EQ(unique(flag), set ? kdb::kTrue : 0) << flag;
}

TEST(DescriptorIndexLine, MissingArgumentsAreZeroOrEmpty)
{
    const kdb::IndexDesc x = ParseIndexLine(QStringLiteral("index(F.MDX;TAG)"), 0);
    EXPECT_EQ(x.name, "F.MDX");
    EXPECT_EQ(x.tagName, "");  // position 12, absent, overwrites the tag
    EXPECT_EQ(x.maintained, 0);
    EXPECT_EQ(x.keyFields, (std::array<uint16_t, kdb::kMaxKeyFields>{}));
}

TEST(DescriptorIndexLine, OverlongMembersAreRejected)
{
    const auto line = [](const QString& name, const QString& tag, const QString& expr, const QString& keys) {
        return QStringLiteral("index(%1;%2;1;%4;0;0;0;1;0;0;0;%2;BTREE;513;%3;)").arg(name, tag, expr, keys);
    };
    const QString ok = QStringLiteral("T");
    EXPECT_NO_THROW(ParseIndexLine(line(QString(260, u'p'), QString(31, u't'), QString(220, u'e'), "1"), 0));
    EXPECT_NE(
        errorOf([&] { ParseIndexLine(line(QString(261, u'p'), ok, ok, "1"), 2); }).find("ligne 3"), std::string::npos);
    EXPECT_NE(errorOf([&] { ParseIndexLine(line("F", QString(32, u't'), ok, "1"), 0); }), "");
    EXPECT_NE(errorOf([&] { ParseIndexLine(line("F", ok, QString(221, u'e'), "1"), 0); }), "");
    EXPECT_NE(errorOf([&] {
        ParseIndexLine(line("F", ok, ok, "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"), 4);
    }).find("ligne 5"),
        std::string::npos);
    EXPECT_NE(errorOf([] { ParseIndexLine(QStringLiteral("index(F;T;17;1)"), 0); }), "");
}

TEST(DescriptorBlock, FieldsAndIndexesInLineOrderWithTheirNumbers)
{
    const QStringList lines{QStringLiteral("object Table: Cons.DBF"),
        QStringLiteral("  field(PATIENT;PATIENT;1;0;10;0)"),
        QStringLiteral("  index(CONS.MDX;P;1;1;0;0;0;1;0;0;0;P;BTREE;513;PATIENT;)"),
        QStringLiteral("  FIELD(DCONS;DCONS;2;0;1;0)"), kConsIndex, QStringLiteral("END"),
        QStringLiteral("object Table: Other.DBF")};
    int pos = 0;
    TableBlock block;
    ASSERT_TRUE(ParseTableDescriptor(lines, pos, block));
    EXPECT_EQ(pos, 5);
    EXPECT_EQ(block.endLine, 5);
    ASSERT_EQ(block.fields.size(), 2u);
    EXPECT_EQ(block.fields[1].fieldNum, 2);
    EXPECT_EQ(block.fields[1].name, "DCONS");
    ASSERT_EQ(block.indexes.size(), 2u);
    EXPECT_EQ(block.indexes[1].indexId, 2);
    EXPECT_EQ(block.indexes[1].tagName, "DCONS");
}

TEST(DescriptorBlock, ALineThatIsNoTableLineParsesNothing)
{
    const QStringList lines{QStringLiteral("  field(A;A;1;0;5;0)"), QStringLiteral("end")};
    int pos = 0;
    TableBlock block;
    block.fileName = QStringLiteral("stale");
    EXPECT_FALSE(ParseTableDescriptor(lines, pos, block));
    EXPECT_EQ(pos, 0);
    EXPECT_TRUE(block.fields.empty());
    EXPECT_TRUE(block.fileName.isEmpty());
}

TEST(DescriptorBlock, TextOutsideTheGrammarIsAnErrorNamingItsLine)
{
    const auto parse = [](const QStringList& lines) {
        return errorOf([&] {
            int pos = 0;
            TableBlock block;
            ParseTableDescriptor(lines, pos, block);
        });
    };
    // A block whose text ends before its "end" line names the table line.
    const std::string unterminated =
        parse({QStringLiteral("object Table: A.DBF"), QStringLiteral("  field(A;A;1;0;5;0)")});
    EXPECT_NE(unterminated.find("ligne 1"), std::string::npos) << unterminated;
    EXPECT_NE(unterminated.find("A.DBF"), std::string::npos) << unterminated;
    EXPECT_NE(parse({QStringLiteral("object Table: A.DBF")}), "");
    EXPECT_NE(parse({QStringLiteral("object Table: A.DBF"), kConsIndex}), "");

    const std::string stray = parse({QStringLiteral("object Table: A.DBF"), QStringLiteral("  field(A;A;1;0;5;0)"),
        QStringLiteral("  key(A)"), QStringLiteral("end")});
    EXPECT_NE(stray.find("ligne 3"), std::string::npos) << stray;
    const std::string empty = parse({QStringLiteral("object Table: A.DBF"), QString(), QStringLiteral("end")});
    EXPECT_NE(empty.find("ligne 2"), std::string::npos) << empty;
    EXPECT_NE(parse({QStringLiteral("object Table:"), QStringLiteral("end")}), "");
}

TEST(DescriptorWhole, BlocksFollowOneAnother)
{
    const QStringList lines{QStringLiteral("object Table: A.DBF"), QStringLiteral("  field(A;A;1;0;5;0)"),
        QStringLiteral("end"), QStringLiteral("object Table: B.DB"), QStringLiteral("end")};
    const auto blocks = ParseDescriptor(lines);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].fileName, QStringLiteral("B.DB"));
    EXPECT_EQ(blocks[1].endLine, 4);

    const std::string between = errorOf([&] { ParseDescriptor(QStringList(lines) << QString()); });
    EXPECT_NE(between.find("ligne 6"), std::string::npos) << between;
    EXPECT_NE(errorOf([] { ParseDescriptor({QStringLiteral("end")}); }), "");
}

TEST(DescriptorWhole, DamagedTextGivesADescriptorErrorOrAParse)
{
    // Random damage to a valid block (fixed seed): every outcome is either a
    // parse or a Descriptor error, never another failure.
    const QStringList valid{QStringLiteral("object Table: Cons.DBF"),
        QStringLiteral("  field(PATIENT;PATIENT;1;0;10;0)"), kConsIndex, QStringLiteral("end")};
    const QString alphabet = QStringLiteral("();,:. \t0123456789-AZaz\\");
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    int parsed = 0, rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        QStringList lines = valid;
        for (int edits = 1 + int(next(4)); edits > 0; --edits) {
            QString& line = lines[int(next(uint32_t(lines.size())))];
            const int at = line.isEmpty() ? 0 : int(next(uint32_t(line.size())));
            switch (next(4)) {
            case 0:
                line.insert(at, alphabet[int(next(uint32_t(alphabet.size())))]);
                break;
            case 1:
                line.remove(at, 1);
                break;
            case 2:
                line.insert(at, QString(int(next(300)), alphabet[int(next(uint32_t(alphabet.size())))]));
                break;
            default:
                lines.removeAt(int(next(uint32_t(lines.size()))));
                break;
            }
            if (lines.isEmpty())
                break;
        }
        try {
            ParseDescriptor(lines);
            ++parsed;
        } catch (const EDescriptorError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Descripteur", 0), 0u);
            ++rejected;
        }
    }
    EXPECT_GT(parsed, 0);
    EXPECT_GT(rejected, 0);
}
