#include "platform/os/Files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using kos::MatchesDosMask;

namespace {

void Touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(content);
}

QStringList Entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

TEST(DosMask, StarDotStarMatchesEveryNameWithOrWithoutDot)
{
    EXPECT_TRUE(MatchesDosMask("README", "*.*"));
    EXPECT_TRUE(MatchesDosMask("a.b.c", "*.*"));
    EXPECT_TRUE(MatchesDosMask(".hidden", "*.*"));
    EXPECT_FALSE(MatchesDosMask("", "*.*"));
}

TEST(DosMask, PrefixMasksOfTheEngineFiles)
{
    EXPECT_TRUE(MatchesDosMask("_QSQ0001.DBF", "_QS*.*"));
    EXPECT_TRUE(MatchesDosMask("_qs12", "_QS*.*"));
    EXPECT_FALSE(MatchesDosMask("Q_QS.DBF", "_QS*.*"));
    EXPECT_TRUE(MatchesDosMask("DelTemp.tmp", "Del*.*"));
    EXPECT_TRUE(MatchesDosMask("DELETE", "Del*.*"));
    EXPECT_FALSE(MatchesDosMask("Model.txt", "Del*.*"));
    EXPECT_TRUE(MatchesDosMask("_anything", "_*.*"));
    EXPECT_FALSE(MatchesDosMask("Patient.DBF", "_*.*"));
}

TEST(DosMask, NameDotStarMatchesTheBareNameAndAnyExtension)
{
    EXPECT_TRUE(MatchesDosMask("PDOXUSRS.NET", "PDOXUSRS.*"));
    EXPECT_TRUE(MatchesDosMask("pdoxusrs.lck", "PDOXUSRS.*"));
    EXPECT_TRUE(MatchesDosMask("PDOXUSRS", "PDOXUSRS.*"));
    EXPECT_FALSE(MatchesDosMask("PDOXUSRS2.NET", "PDOXUSRS.*"));
    EXPECT_FALSE(MatchesDosMask("XPARADOX.LCK", "PARADOX.*"));
}

TEST(DosMask, QuestionMarkTakesExactlyOneCharacter)
{
    EXPECT_TRUE(MatchesDosMask("Korvale01.zip", "Korvale??.zip"));
    EXPECT_FALSE(MatchesDosMask("Korvale1.zip", "Korvale??.zip"));
    EXPECT_FALSE(MatchesDosMask("Korvale123.zip", "Korvale??.zip"));
}

TEST(DosMask, CharactersThatAreSpecialElsewhereAreLiteral)
{
    EXPECT_TRUE(MatchesDosMask("[a].txt", "[a].*"));
    EXPECT_FALSE(MatchesDosMask("a.txt", "[a].*"));
    EXPECT_TRUE(MatchesDosMask("a+b(1).txt", "a+b(1).TXT"));
}

TEST(DeleteFilesByMask, DeletesOnlyMatchingEntriesAndSkipsDirectories)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    Touch(dir + "_QS1.DBF");
    Touch(dir + "_qs2");
    Touch(dir + "Patient.DBF");
    Touch(dir + "PDOXUSRS.NET");
    Touch(dir + "PDOXUSRS");
    Touch(dir + "paradox.lck");
    ASSERT_TRUE(QDir().mkdir(dir + "_QSDIR"));

    kos::DeleteFilesByMask(dir, "_QS*.*");
    kos::DeleteFilesByMask(dir, "PDOXUSRS.*");
    kos::DeleteFilesByMask(dir, "PARADOX.*");

    EXPECT_EQ(Entries(dir), (QStringList{"Patient.DBF", "_QSDIR"}));
}

TEST(DeleteFilesByMask, StarDotStarEmptiesTheDirectoryIncludingHiddenAndReadOnlyFiles)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    Touch(dir + "a.txt");
    Touch(dir + "noext");
    Touch(dir + ".hidden");
    Touch(dir + "ro.dat");
    QFile::setPermissions(dir + "ro.dat", QFile::ReadOwner);

    kos::DeleteFilesByMask(dir, "*.*");

    EXPECT_TRUE(Entries(dir).isEmpty()) << Entries(dir).join(",").toStdString();
}

TEST(DeleteFilesByMask, MissingDirectoryOrLinkTargetsAreLeftAlone)
{
    kos::DeleteFilesByMask("/nonexistent/korvale/", "*.*");
    kos::DeleteFilesByMask("", "*.*");

    QTemporaryDir outside, inside;
    ASSERT_TRUE(outside.isValid() && inside.isValid());
    Touch(outside.path() + "/keep.txt");
    ASSERT_TRUE(QFile::link(outside.path() + "/keep.txt", inside.path() + "/link.txt"));
    kos::DeleteFilesByMask(inside.path() + "/", "*.*");
    EXPECT_TRUE(QFileInfo::exists(outside.path() + "/keep.txt"));
    EXPECT_TRUE(Entries(inside.path()).isEmpty());
}

TEST(ClearReadOnlyFlags, GivesWritePermissionOnlyToReadOnlyFiles)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    Touch(dir + "ro.dbf");
    Touch(dir + "rw.dbf");
    ::chmod(QFile::encodeName(dir + "ro.dbf").constData(), 0444);
    ::chmod(QFile::encodeName(dir + "rw.dbf").constData(), 0640);

    kos::ClearReadOnlyFlags(dir);

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir + "ro.dbf").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(::stat(QFile::encodeName(dir + "rw.dbf").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ClearReadOnlyFlags, DoesNotFollowLinksOutOfTheDirectory)
{
    QTemporaryDir outside, inside;
    ASSERT_TRUE(outside.isValid() && inside.isValid());
    const QString target = outside.path() + "/target";
    Touch(target);
    ::chmod(QFile::encodeName(target).constData(), 0444);
    ASSERT_TRUE(QFile::link(target, inside.path() + "/link"));

    kos::ClearReadOnlyFlags(inside.path() + "/");

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(EnsureDirectory, CreatesMissingDirectoriesWithTheirParents)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/a/b/c/";
    EXPECT_TRUE(kos::EnsureDirectory(dir));
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_TRUE(kos::EnsureDirectory(dir)); // already there
}

TEST(EnsureDirectory, FailsWhereAFileStandsOrNothingCanBeCreated)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    Touch(tmp.path() + "/file");
    EXPECT_FALSE(kos::EnsureDirectory(tmp.path() + "/file/"));
    EXPECT_FALSE(kos::EnsureDirectory(tmp.path() + "/file/sub/"));
    EXPECT_FALSE(kos::EnsureDirectory(QString()));
}

TEST(EnsureDirectory, PrivateDirectoryIsOwnerOnlyAndNeverALink)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString priv = tmp.path() + "/private/";
    ASSERT_TRUE(kos::EnsureDirectory(priv, true));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(priv).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Loosened permissions are tightened again.
    ::chmod(QFile::encodeName(priv).constData(), 0777);
    ASSERT_TRUE(kos::EnsureDirectory(priv, true));
    ASSERT_EQ(::stat(QFile::encodeName(priv).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link planted in its place is refused.
    ASSERT_TRUE(QDir().mkdir(tmp.path() + "/elsewhere"));
    ASSERT_TRUE(QFile::link(tmp.path() + "/elsewhere", tmp.path() + "/planted"));
    EXPECT_FALSE(kos::EnsureDirectory(tmp.path() + "/planted/", true));
    EXPECT_TRUE(kos::EnsureDirectory(tmp.path() + "/planted/", false));
}

TEST(CopyMissingShippedFiles, CopiesOnlyMissingMatchingFilesFirstSourceFirst)
{
    QTemporaryDir first, second, dest;
    ASSERT_TRUE(first.isValid() && second.isValid() && dest.isValid());
    Touch(first.path() + "/USERS.DB", "first");
    Touch(second.path() + "/USERS.DB", "second");
    Touch(second.path() + "/USERS.PX", "index");
    Touch(second.path() + "/OTHER.DB", "other");
    Touch(dest.path() + "/USERS.VAL", "kept");
    QFile::setPermissions(first.path() + "/USERS.DB", QFile::ReadOwner);

    const int copied =
        kos::CopyMissingShippedFiles("USERS.*", dest.path() + "/", {first.path(), second.path()});
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(Entries(dest.path()), (QStringList{"USERS.DB", "USERS.PX", "USERS.VAL"}));
    QFile db(dest.path() + "/USERS.DB");
    ASSERT_TRUE(db.open(QIODevice::ReadOnly));
    EXPECT_EQ(db.readAll(), QByteArray("first"));
    EXPECT_TRUE(QFileInfo(dest.path() + "/USERS.DB").permissions() & QFile::WriteOwner);

    // An existing user table is never overwritten.
    Touch(first.path() + "/USERS.DB", "newer");
    EXPECT_EQ(kos::CopyMissingShippedFiles("USERS.*", dest.path() + "/", {first.path()}), 0);
    QFile again(dest.path() + "/USERS.DB");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), QByteArray("first"));
}
