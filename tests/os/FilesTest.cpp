#include "platform/os/Files.h"
#include "tests/support/FileSizeLimit.h"
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

QByteArray Content(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
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

// A file written whole takes the place of the previous one only once all
// of it is on the disk: a full disk, a read-only file or a missing folder
// leave the previous file as it was, no temporary file behind, and say why.
TEST(WriteFileWhole, ReplacesTheFileWholeOrLeavesItAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("KORVALE.INI");
    const QByteArray before(200, 'a');
    Touch(path, before);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    QString error;
    {
        ScopedFileSizeLimit disk(100);
        EXPECT_FALSE(kos::WriteFileWhole(path, QByteArray(300, 'b'), &error));
    }
    EXPECT_EQ(error, QStringLiteral("Impossible d'enregistrer le fichier « %1 » : le disque est plein.").arg(path));
    EXPECT_EQ(Content(path), before);
    EXPECT_EQ(Entries(dir.path()), QStringList{"KORVALE.INI"});

    EXPECT_TRUE(kos::WriteFileWhole(path, "[PARAMS]\n", &error));
    EXPECT_EQ(Content(path), "[PARAMS]\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(Entries(dir.path()), QStringList{"KORVALE.INI"});

    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0440), 0);
    EXPECT_FALSE(kos::WriteFileWhole(path, "x", &error));
    EXPECT_EQ(error,
        QStringLiteral("Impossible d'enregistrer le fichier « %1 » : le fichier est en lecture seule.").arg(path));
    EXPECT_EQ(Content(path), "[PARAMS]\n");

    const QString absent = dir.filePath("absent/ADR.TXT");
    EXPECT_FALSE(kos::WriteFileWhole(absent, "x", &error));
    EXPECT_EQ(error, QStringLiteral("Impossible d'enregistrer le fichier « %1 » : le dossier « %2 » n'existe pas.")
                         .arg(absent, dir.filePath("absent")));

    // any other reason in French, never the system's English
    const QString tooLong = dir.filePath(QString(300, QLatin1Char('n')));
    EXPECT_FALSE(kos::WriteFileWhole(tooLong, "x", &error));
    EXPECT_EQ(error, QStringLiteral("Impossible d'enregistrer le fichier « %1 » : nom de fichier trop long.").arg(tooLong));
}

// A claimed name is taken only while no file has it, also when another
// program gives it to its own file while this one is being written.
TEST(WriteFileWhole, AClaimNeverReplacesAFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("IMG_0001.JPG");
    const auto bytes = [](const QByteArray& data) {
        return [data, handed = false](QByteArray& chunk) mutable {
            chunk = handed ? QByteArray() : data;
            handed = true;
            return true;
        };
    };
    using kos::WholeFileName;
    using kos::WholeFileResult;
    EXPECT_EQ(kos::WriteFileWhole(path, bytes("mine"), WholeFileName::Claim), WholeFileResult::Written);
    EXPECT_EQ(Content(path), "mine");
    EXPECT_EQ(kos::WriteFileWhole(path, bytes("again"), WholeFileName::Claim), WholeFileResult::NameTaken);
    EXPECT_EQ(Content(path), "mine");

    const QString other = dir.filePath("IMG_0002.JPG");
    int calls = 0;
    const auto racing = [&](QByteArray& chunk) {
        if (++calls == 1)
            Touch(other, "theirs");  // the other workstation's copy, named meanwhile
        chunk = calls == 1 ? QByteArray("mine") : QByteArray();
        return true;
    };
    EXPECT_EQ(kos::WriteFileWhole(other, racing, WholeFileName::Claim), WholeFileResult::NameTaken);
    EXPECT_EQ(Content(other), "theirs");
    EXPECT_EQ(Entries(dir.path()), (QStringList{"IMG_0001.JPG", "IMG_0002.JPG"}));

    // A source that fails leaves nothing.
    QString error;
    EXPECT_EQ(kos::WriteFileWhole(dir.filePath("IMG_0003.JPG"), [](QByteArray&) { return false; },
                  WholeFileName::Claim, &error),
        WholeFileResult::Failed);
    EXPECT_EQ(Entries(dir.path()), (QStringList{"IMG_0001.JPG", "IMG_0002.JPG"}));
}
