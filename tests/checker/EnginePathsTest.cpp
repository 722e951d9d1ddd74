// The checker's path and table-probe routines.
#include <unistd.h>

#include <sys/stat.h>

#include "CheckerFixture.h"
#include "checker/EnginePaths.h"
#include "tests/support/TestFiles.h"

using namespace checkertest;
using namespace dbcheck;

TEST(CheckerPaths, DelimiterIsAppendedOnlyWhenMissing)
{
    EXPECT_EQ(AddPathDelimiter(QString()), QString());
    EXPECT_EQ(AddPathDelimiter(QStringLiteral("/data/")), QStringLiteral("/data/"));
    // A single letter is a relative directory, not a drive.
    EXPECT_EQ(AddPathDelimiter(QStringLiteral("C")), QStringLiteral("C/"));
}

TEST_F(CheckerTest, ProbeAnswersTheEngineCodesAndLeavesNothingOpen)
{
    EXPECT_EQ(OpenTableResult(dir, QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), false), kdb::DBERR_NOSUCHTABLE);
    check();
    EXPECT_EQ(OpenTableResult(dir, QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), false), 0);
    // The directory given without its delimiter works as well.
    EXPECT_EQ(OpenTableResult(tmp.path(), QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), false), 0);
    EXPECT_EQ(OpenTableResult(dir, QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), true), 0);
    // Nothing stayed open: an exclusive open succeeds.
    EXPECT_NO_THROW(open(QStringLiteral("Cons.DBF"), true));

    const QString mdx = dir + findFile(QStringLiteral("CONS.MDX"));
    QFile f(mdx);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(600, '\x01'));
    f.close();
    EXPECT_EQ(
        OpenTableResult(dir, QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), false), kdb::DBERR_INDEXOUTOFDATE);
    EXPECT_TRUE(DeleteTableCompanionFiles(dir, QStringLiteral("Cons.DBF")));
    EXPECT_EQ(OpenTableResult(dir, QStringLiteral("Cons.DBF"), QStringLiteral("DBASE"), false), 0);
}

TEST_F(CheckerTest, CompanionFilesGoButTableMemoAndOtherFilesStay)
{
    const QStringList kept{"Cons.DBF", "Cons.DB", "Cons.DBT", "CONS.MB", "Cons.VAL", "Cons.TXT", "Consult.MDX",
        "Cons.old.MDX", "Other.MDX", "Cons"};
    const QStringList removed{"CONS.MDX", "cons.px", "Cons.X02", "CONS.YG1", "Cons.NDX"};
    for (const QString& name : kept + removed)
        Touch(dir + name);
    const QString table = QStringLiteral("Cons.DBF");

    EXPECT_TRUE(DeleteTableCompanionFiles(dir, table));
    QStringList left = QDir(dir).entryList(QDir::Files);
    left.sort();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(left, expected);

    // Nothing left to delete: no failure either.
    EXPECT_TRUE(DeleteTableCompanionFiles(dir, table));
}

TEST_F(CheckerTest, CompanionFileThatCannotBeDeletedIsReported)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    Touch(dir + QStringLiteral("Cons.DBF"));
    Touch(dir + QStringLiteral("CONS.MDX"));
    ASSERT_EQ(::chmod(dir.toLocal8Bit().constData(), 0555), 0);
    const bool ok = DeleteTableCompanionFiles(dir, QStringLiteral("Cons.DBF"));
    ::chmod(dir.toLocal8Bit().constData(), 0755);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(findFile(QStringLiteral("CONS.MDX")).isEmpty());
}

TEST(CheckerPaths, IndexFileExtensions)
{
    for (const char* ext : {"mdx", "PX", "Y0F", "yg9"})
        EXPECT_TRUE(IsIndexFileExtension(QString::fromLatin1(ext))) << ext;
    for (const char* ext : {"DBT", "MB", "X", "X123", "XGG", ""})
        EXPECT_FALSE(IsIndexFileExtension(QString::fromLatin1(ext))) << ext;
}

TEST(CheckerCompare, FieldsCompareSizesOnlyWhereTheEngineReportsThem)
{
    kdb::FieldDesc wanted;
    wanted.name = "DCONS";
    wanted.type = kdb::fldDATE;
    wanted.units1 = 1;
    kdb::FieldDesc reported = wanted;
    reported.name = "dcons";
    reported.units1 = 0;
    EXPECT_TRUE(SameFieldDesc(wanted, reported));
    reported.subType = kdb::fldstMEMO;
    EXPECT_FALSE(SameFieldDesc(wanted, reported));

    kdb::FieldDesc text;
    text.name = "NOM";
    text.type = kdb::fldZSTRING;
    text.units1 = 30;
    kdb::FieldDesc wider = text;
    wider.units1 = 40;
    EXPECT_FALSE(SameFieldDesc(text, wider));
    kdb::FieldDesc number = text;
    number.type = kdb::fldFLOAT;
    kdb::FieldDesc decimals = number;
    decimals.units2 = 2;
    EXPECT_FALSE(SameFieldDesc(number, decimals));

    const std::vector<kdb::FieldDesc> existing{wider, reported, text};
    EXPECT_EQ(FindFieldByName(existing, text), 0);
    EXPECT_EQ(FindFieldByName(existing, wanted), 1);
    kdb::FieldDesc none;
    none.name = "AUTRE";
    EXPECT_EQ(FindFieldByName(existing, none), -1);
}

TEST(CheckerCompare, IndexesAreKnownByTheirFileNameAndTag)
{
    kdb::IndexDesc declared;
    declared.name = "H:\\KORVALE_D7\\DATA\\CONS.MDX";
    declared.tagName = "DCONS";
    declared.fieldsInKey = 1;
    declared.keyFields[0] = 2;
    declared.maintained = kdb::kTrue;
    declared.format = "BTREE";
    declared.keyExpType = 528;
    declared.keyExpr = "DCONS";
    declared.indexId = 1;

    kdb::IndexDesc reported = declared;
    reported.name = "cons.mdx";
    reported.maintained = 0;  // not compared
    reported.keyLen = 8;  // not compared
    reported.keyExpr = "dcons";
    EXPECT_EQ(IndexFileName(declared.name), QStringLiteral("CONS.MDX"));
    EXPECT_EQ(IndexFileName("/data/CONS.MDX"), QStringLiteral("CONS.MDX"));
    EXPECT_TRUE(SameIndexDesc(declared, reported));

    const auto differs = [&](auto change) {
        kdb::IndexDesc other = reported;
        change(other);
        return !SameIndexDesc(declared, other);
    };
    EXPECT_TRUE(differs([](kdb::IndexDesc& x) { x.name = "OTHER.MDX"; }));
    EXPECT_TRUE(differs([](kdb::IndexDesc& x) { x.keyFields[15] = 1; }));
    EXPECT_TRUE(differs([](kdb::IndexDesc& x) { x.outOfDate = kdb::kTrue; }));
    EXPECT_TRUE(differs([](kdb::IndexDesc& x) { x.keyCond = "DCONS>1"; }));
    EXPECT_FALSE(differs([](kdb::IndexDesc& x) { x.format = "btree"; }));
    kdb::IndexDesc flagged = declared;
    flagged.unique = kdb::kTrue;
    kdb::IndexDesc flaggedOther = reported;
    flaggedOther.unique = 33;  // any non-zero value is true
    EXPECT_TRUE(SameIndexDesc(flagged, flaggedOther));
}

TEST(CheckerCompare, IndexOperationsAndTheirRestructureNumbers)
{
    TDbCheck chk;
    const auto index = [](const char* file, const char* tag, const char* expr) {
        kdb::IndexDesc x;
        x.name = file;
        x.tagName = tag;
        x.keyExpr = expr;
        x.format = "BTREE";
        return x;
    };
    const std::vector<kdb::IndexDesc> existing{
        index("FBIO.MDX", "CODE", "CODE"), index("FBIO.MDX", "OLD", "OLD"), index("FBIO.MDX", "NOM", "LIBELLE")};
    std::vector<kdb::IndexDesc> wanted{index("H:\\X\\FBIO.MDX", "NOM", "LIBELLE"),
        index("H:\\X\\FBIO.MDX", "CODE", "CODE+LIBELLE"), index("H:\\X\\FBIO.MDX", "NEW", "NEW")};
    EXPECT_FALSE(chk.CompareIndexes(wanted, existing));
    ASSERT_EQ(wanted.size(), 4u);
    EXPECT_EQ(wanted[0].restructOp, kdb::crNOOP);
    EXPECT_EQ(wanted[0].restructNum, 3);  // its position among the existing indexes
    EXPECT_EQ(wanted[1].restructOp, kdb::crMODIFY);
    EXPECT_EQ(wanted[1].restructNum, 1);
    EXPECT_EQ(wanted[2].restructOp, kdb::crADD);
    EXPECT_EQ(wanted[2].restructNum, 0);
    EXPECT_EQ(wanted[3].restructOp, kdb::crDROP);
    EXPECT_EQ(wanted[3].tagName, "OLD");
    EXPECT_EQ(wanted[3].restructNum, 2);

    std::vector<kdb::IndexDesc> same{
        index("H:\\X\\FBIO.MDX", "CODE", "CODE"), index("fbio.mdx", "OLD", "OLD"), index("FBIO.MDX", "nom", "LIBELLE")};
    EXPECT_TRUE(chk.CompareIndexes(same, existing));
    EXPECT_EQ(same.size(), 3u);
}

TEST(CheckerCompare, FieldOperationsFollowNamesAndPositions)
{
    TDbCheck chk;
    std::vector<std::string> events;
    chk.OnAddField = [&](QObject*, const QString&, const QString& f) { events.push_back("add:" + f.toStdString()); };
    chk.OnModifyField = [&](QObject*, const QString&, const QString& f) {
        events.push_back("modify:" + f.toStdString());
    };
    const auto field = [](const char* name, uint16_t type, int16_t width) {
        kdb::FieldDesc f;
        f.name = name;
        f.type = type;
        f.units1 = width;
        return f;
    };
    const std::vector<kdb::FieldDesc> existing{field("CODE", kdb::fldZSTRING, 6), field("EXTRA", kdb::fldZSTRING, 3),
        field("NOM", kdb::fldZSTRING, 30), field("DN", kdb::fldDATE, 0)};
    std::vector<kdb::FieldDesc> wanted{field("CODE", kdb::fldZSTRING, 6), field("NOM", kdb::fldZSTRING, 30),
        field("NEW", kdb::fldZSTRING, 5), field("DN", kdb::fldDATE, 1)};
    wanted[1].subType = kdb::fldstAUTOINC;
    EXPECT_FALSE(chk.CompareFields(wanted, existing));
    EXPECT_EQ(events, (std::vector<std::string>{"modify:NOM", "add:NEW"}));
    EXPECT_EQ(wanted[0].restructOp, kdb::crNOOP);
    EXPECT_EQ(wanted[0].fieldNum, 1);
    EXPECT_EQ(wanted[1].restructOp, kdb::crMODIFY);  // stands elsewhere
    EXPECT_EQ(wanted[1].fieldNum, 3);
    EXPECT_EQ(wanted[1].rights, 1);
    EXPECT_EQ(wanted[2].restructOp, kdb::crADD);
    EXPECT_EQ(wanted[2].fieldNum, 0);
    EXPECT_EQ(wanted[3].restructOp, kdb::crNOOP);  // the date's size is not compared
    EXPECT_EQ(wanted[3].fieldNum, 4);

    std::vector<kdb::FieldDesc> prefix{field("CODE", kdb::fldZSTRING, 6)};
    events.clear();
    EXPECT_TRUE(chk.CompareFields(prefix, existing));
    EXPECT_TRUE(events.empty());
}
