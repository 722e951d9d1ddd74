#include "platform/os/Files.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <initializer_list>
#include <vector>

using kos::MatchesDosMask;

namespace {

// The permission bits of a file.
unsigned ModeOf(const QString& path)
{
    struct stat st { };
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 0777;
}

QStringList Entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Makes an empty-ish file of each name in dir.
void TouchAll(const QString& dir, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        Touch(dir + name);
}

}  // namespace

TEST(DosMask, MatchesLikeTheOlderSystemsFileSearch)
{
    const struct {
        const char* mask;
        std::vector<const char*> matching, other;
    } cases[] = {
        // "*.*" takes every name, with or without a dot.
        {"*.*", {"README", "a.b.c", ".hidden"}, {""}},
        // Prefix masks of the engine files, any case.
        {"_QS*.*", {"_QSQ0001.DBF", "_qs12"}, {"Q_QS.DBF"}},
        {"Del*.*", {"DelTemp.tmp", "DELETE"}, {"Model.txt"}},
        {"_*.*", {"_anything"}, {"Patient.DBF"}},
        // "NAME.*" takes the bare name and any extension.
        {"PDOXUSRS.*", {"PDOXUSRS.NET", "pdoxusrs.lck", "PDOXUSRS"}, {"PDOXUSRS2.NET"}},
        {"PARADOX.*", {}, {"XPARADOX.LCK"}},
        // "?" takes exactly one character.
        {"Korvale??.zip", {"Korvale01.zip"}, {"Korvale1.zip", "Korvale123.zip"}},
        // Characters that are special elsewhere are literal.
        {"[a].*", {"[a].txt"}, {"a.txt"}},
        {"a+b(1).TXT", {"a+b(1).txt"}, {}},
    };
    for (const auto& c : cases) {
        for (const char* name : c.matching)
            EXPECT_TRUE(MatchesDosMask(name, c.mask)) << name << " ~ " << c.mask;
        for (const char* name : c.other)
            EXPECT_FALSE(MatchesDosMask(name, c.mask)) << name << " ~ " << c.mask;
    }
}

TEST(DeleteFilesByMask, DeletesOnlyMatchingEntriesAndSkipsDirectories)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    TouchAll(dir, {"_QS1.DBF", "_qs2", "Patient.DBF", "PDOXUSRS.NET", "PDOXUSRS", "paradox.lck"});
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
    TouchAll(dir, {"a.txt", "noext", ".hidden", "ro.dat"});
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
    TouchAll(dir, {"ro.dbf", "rw.dbf"});
    ::chmod(QFile::encodeName(dir + "ro.dbf").constData(), 0444);
    ::chmod(QFile::encodeName(dir + "rw.dbf").constData(), 0640);

    kos::ClearReadOnlyFlags(dir);

    EXPECT_EQ(ModeOf(dir + "ro.dbf"), 0644u);
    EXPECT_EQ(ModeOf(dir + "rw.dbf"), 0640u);
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

    EXPECT_EQ(ModeOf(target), 0444u);
}

TEST(EnsureDirectory, CreatesMissingDirectoriesWithTheirParents)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/a/b/c/";
    EXPECT_TRUE(kos::EnsureDirectory(dir));
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_TRUE(kos::EnsureDirectory(dir));  // already there
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
    EXPECT_EQ(ModeOf(priv), 0700u);

    // Loosened permissions are tightened again.
    ::chmod(QFile::encodeName(priv).constData(), 0777);
    ASSERT_TRUE(kos::EnsureDirectory(priv, true));
    EXPECT_EQ(ModeOf(priv), 0700u);

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

    const int copied = kos::CopyMissingShippedFiles("USERS.*", dest.path() + "/", {first.path(), second.path()});
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
