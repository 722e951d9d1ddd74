#include "platform/ui/IniFile.h"
#include "tests/support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using kui::TIniFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString Path() const { return dir_.path() + "/KORVALE.INI"; }
    void Write(const QByteArray& text)
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray Read() const
    {
        QFile f(Path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir_;
};

}  // namespace

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("INFORMATIONS", "NBLIGNE", 3), 3);
    EXPECT_FALSE(QFileInfo::exists(Path()));  // reading creates nothing

    Write("[PARAMS]\nDETAIL=x\n");
    EXPECT_EQ(ini.ReadString("OTHER", "DETAIL", "d"), "d");
    EXPECT_EQ(ini.ReadString("PARAMS", "VILLE"), "");
}

TEST_F(IniFileTest, SectionsAndKeysAreFoundWhateverTheirCase)
{
    Write("[params]\r\nVille = Lyon \r\n[INFORMATIONS]\r\nnbligne=5\r\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("PARAMS", "VILLE"), "Lyon");
    EXPECT_EQ(ini.ReadInteger("INFORMATIONS", "NBLIGNE", 3), 5);
}

TEST_F(IniFileTest, IntegersAreDecimalAndBadTextGivesTheDefault)
{
    Write("[S]\nA=42\nB=-7\nC=abc\nD=12abc\nE=\nF=99999999999\nG=0x10\n");
    TIniFile ini(Path());
    for (auto [key, value] : {std::pair{"A", 42}, {"B", -7}, {"C", 1}, {"D", 1}, {"E", 1}, {"F", 1}, {"G", 1}})
        EXPECT_EQ(ini.ReadInteger("S", key, 1), value) << key;
}

TEST_F(IniFileTest, BooleansAreWrittenAsOneOrZeroAndReadAsIntegers)
{
    TIniFile ini(Path());
    ASSERT_TRUE(ini.WriteBool("PARAMS", "DISPLAYRDV", false));
    EXPECT_EQ(ini.ReadString("PARAMS", "DISPLAYRDV"), "0");
    EXPECT_FALSE(ini.ReadBool("PARAMS", "DISPLAYRDV", true));
    ASSERT_TRUE(ini.WriteBool("PARAMS", "DISPLAYRDV", true));
    EXPECT_EQ(ini.ReadString("PARAMS", "DISPLAYRDV"), "1");

    Write("[PARAMS]\nA=2\nB=-1\nC=yes\nD=0\n");
    EXPECT_TRUE(ini.ReadBool("PARAMS", "B", false));
    EXPECT_TRUE(ini.ReadBool("PARAMS", "C", true));  // not a number: default
    EXPECT_FALSE(ini.ReadBool("PARAMS", "D", true));
}

TEST_F(IniFileTest, WritingKeepsOtherSectionsKeysCommentsAndTheirOrder)
{
    Write("; practice settings\n[PARAMS]\nIMAGE=fond.bmp\nDETAIL=old\nVILLE=Nice\n\n[frmChoix]\nTOP=10\n");
    TIniFile ini(Path());
    ASSERT_TRUE(ini.WriteString("PARAMS", "DETAIL", "Médecine générale"));
    ASSERT_TRUE(ini.WriteString("PARAMS", "EMAIL", "cabinet@example.org"));
    ASSERT_TRUE(ini.WriteInteger("frmChoix", "LEFT", 20));
    ASSERT_TRUE(ini.WriteString("INFORMATIONS", "NBLIGNE", "4"));
    EXPECT_EQ(QString::fromUtf8(Read()),
        QString("; practice settings\n[PARAMS]\nIMAGE=fond.bmp\nDETAIL=Médecine générale\nVILLE=Nice\n"
                "EMAIL=cabinet@example.org\n\n[frmChoix]\nTOP=10\nLEFT=20\n\n[INFORMATIONS]\nNBLIGNE=4\n"));
    EXPECT_EQ(ini.ReadSections(), (QStringList{"PARAMS", "frmChoix", "INFORMATIONS"}));
    EXPECT_EQ(ini.ReadSection("PARAMS"), (QStringList{"IMAGE", "DETAIL", "VILLE", "EMAIL"}));
}

TEST_F(IniFileTest, TextRoundTripsAsUtf8AndLineBreaksCannotSplitAValue)
{
    TIniFile ini(Path());
    ASSERT_TRUE(ini.WriteString("PARAMS", "ADRESSE", "12, rue de l'Église\r\n[EVIL]\nX=1"));
    EXPECT_EQ(ini.ReadString("PARAMS", "ADRESSE"), "12, rue de l'Église [EVIL] X=1");
    EXPECT_FALSE(ini.SectionExists("EVIL"));
    ASSERT_TRUE(ini.WriteString("PARAMS", "EMAIL", ""));
    EXPECT_TRUE(ini.ValueExists("PARAMS", "EMAIL"));
    EXPECT_EQ(ini.ReadString("PARAMS", "EMAIL", "default"), "");
}

TEST_F(IniFileTest, BadNamesAreRefusedAndTheFileKeptIntact)
{
    Write("[PARAMS]\nA=1\n");
    TIniFile ini(Path());
    EXPECT_FALSE(ini.WriteString("", "A", "2"));
    EXPECT_FALSE(ini.WriteString("PARAMS", "", "2"));
    EXPECT_FALSE(ini.WriteString("PARAMS", "A=B", "2"));
    EXPECT_EQ(Read(), QByteArray("[PARAMS]\nA=1\n"));
}

TEST_F(IniFileTest, AnUnwritableLocationReportsFailureWithoutCrashing)
{
    TIniFile ini(dir_.path() + "/missing/dir/KORVALE.INI");
    EXPECT_FALSE(ini.WriteString("PARAMS", "A", "1"));
    EXPECT_EQ(ini.ReadString("PARAMS", "A", "d"), "d");
}

TEST_F(IniFileTest, AnUnreadableFileIsNeverReplaced)
{
    Write("[PARAMS]\nA=1\n");
    QFile::setPermissions(Path(), QFile::WriteOwner);
    if (QFile(Path()).open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running with rights that read every file";
    TIniFile ini(Path());
    EXPECT_FALSE(ini.WriteString("PARAMS", "B", "2"));
    QFile::setPermissions(Path(), QFile::WriteOwner | QFile::ReadOwner);
    EXPECT_EQ(Read(), QByteArray("[PARAMS]\nA=1\n"));
}

TEST_F(IniFileTest, EraseSectionAndDeleteKey)
{
    Write("[A]\nX=1\nY=2\n[B]\nZ=3\n");
    TIniFile ini(Path());
    ASSERT_TRUE(ini.DeleteKey("A", "x"));
    EXPECT_FALSE(ini.ValueExists("A", "X"));
    EXPECT_EQ(ini.ReadString("A", "Y"), "2");
    ASSERT_TRUE(ini.EraseSection("a"));
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_EQ(ini.ReadString("B", "Z"), "3");
}

TEST_F(IniFileTest, ByteOrderMarkAndQuotedValues)
{
    Write("\xEF\xBB\xBF[PARAMS]\nDETAIL=\"  spaced  \"\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("PARAMS", "DETAIL"), "  spaced  ");
}

TEST_F(IniFileTest, AFileTooLargeToBeSettingsIsReadAsEmptyAndNeverRewritten)
{
    QByteArray big("[PARAMS]\nA=1\n");
    big.append(QByteArray(17 * 1024 * 1024, ';'));
    Write(big);
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("PARAMS", "A", "d"), "d");
    EXPECT_FALSE(ini.WriteString("PARAMS", "B", "2"));
    EXPECT_EQ(QFileInfo(Path()).size(), big.size());
}

// A write the disk cannot take whole leaves the previous file as it was and
// says why, naming the file; several keys go in one write, all or none.
TEST_F(IniFileTest, AFullDiskLeavesThePreviousFileWholeAndSaysSo)
{
    const QByteArray before = "[PARAMS]\nDETAIL=Cabinet\nVILLE=Lyon\n";
    Write(before);
    TIniFile ini(Path());
    {
        ScopedFileSizeLimit disk(before.size());
        EXPECT_FALSE(ini.WriteString("PARAMS", "VILLE", "Villeurbanne"));
        EXPECT_EQ(ini.ErrorText(),
            QStringLiteral("Impossible d'enregistrer le fichier « %1 » : le disque est plein.").arg(Path()));
        EXPECT_FALSE(ini.WriteStrings("PARAMS", {{"DETAIL", "Cabinet du lac"}, {"TEL", "0400000000"}}));
    }
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KORVALE.INI"});
    EXPECT_TRUE(ini.WriteStrings("PARAMS", {{"DETAIL", "Cabinet du lac"}, {"TEL", "0400000000"}}));
    EXPECT_EQ(Read(), QByteArray("[PARAMS]\nDETAIL=Cabinet du lac\nVILLE=Lyon\nTEL=0400000000\n"));
}
