// Loading the archive libraries from a program whose search path does not
// hold them: by bare name (missing), from a directory, from a relative
// directory, and the defective stand-ins.
#include "ZipTestSupport.h"

namespace {

QString BuiltLibDir()
{
    return QStringLiteral(KORVALE_BINARY_DIR "/lib");
}

TEST(ZipLoading, MissingLibraryGivesItsMessagesTwiceAndNoJob)
{
    TestApplication();
    QTemporaryDir t;
    PutFile(t.filePath("a.txt"), "a");
    kui::ScopedMessageRecorder boxes;
    TZipArchiver z;
    z.SetDLLDirectory(t.path());  // an absolute directory without the file: the bare name, not found
    z.SetZipFileName(t.filePath("a.zip"));
    z.SetFSpecArgs({t.filePath("a.txt")});
    z.Add();
    QStringList texts;
    for (const auto& r : boxes.Records())
        texts << r.text;
    const QString missing = QString::fromUtf8("ZIPENG.DLL : librairie introuvable!");
    EXPECT_EQ(texts,
        (QStringList{missing, missing + " unloaded", missing, missing + " unloaded",
            QString::fromUtf8("A tenté de charger vieux ZipEng de ")}));
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_FALSE(QFile::exists(t.filePath("a.zip")));
    EXPECT_FALSE(z.ZipEngLoaded());
}

TEST(ZipLoading, DirectoriesAbsoluteAndRelativeToTheProgram)
{
    TestApplication();
    kui::ScopedMessageRecorder boxes;
    TZipArchiver z;
    z.Unattended = true;
    z.SetDLLDirectory(BuiltLibDir() + "/");
    EXPECT_EQ(z.DLLDirectory(), BuiltLibDir());
    EXPECT_GE(z.LoadUnzEng(), 170);
    EXPECT_EQ(z.GetUnzEngPath(nullptr), BuiltLibDir() + "/libunzeng.so");
    z.UnloadUnzEng();
    EXPECT_FALSE(z.UnzEngLoaded());

    // relative to the program's directory (tests/zip in the build tree)
    z.SetDLLDirectory(QStringLiteral("./../../lib"));
    EXPECT_GE(z.LoadZipEng(), 170);
    EXPECT_TRUE(z.GetZipEngPath(nullptr).endsWith("/lib/libzipeng.so"));
    EXPECT_EQ(boxes.Count(), 0);
}

TEST(ZipLoading, DefectiveLibrariesAreRefused)
{
    TestApplication();
    QStringList got;
    TZipArchiver z;
    z.Unattended = true;
    z.OnMessage = [&](TZipArchiver*, int, const QString& m) { got << m; };
    // version 169 under the minimum of 170: refused with its path, job not started
    const QString old = QStringLiteral(KORVALE_BINARY_DIR "/tests/zip/fake-old");
    z.SetDLLDirectory(old);
    z.SetMinZipEngVers(150);
    EXPECT_EQ(z.MinZipEngVers(), 170);
    bool here = true;
    EXPECT_EQ(z.EnsureZipEng(here), 0);
    EXPECT_FALSE(here);
    ASSERT_FALSE(got.isEmpty());
    EXPECT_EQ(got.last(), QString::fromUtf8("A tenté de charger vieux ZipEng de ") + old + "/libzipeng.so");
    EXPECT_FALSE(z.ZipEngLoaded());

    // without its job entry point: 10602, then unloaded
    got.clear();
    z.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/tests/zip/fake-broken"));
    EXPECT_EQ(z.LoadZipEng(), 0);
    EXPECT_EQ(got,
        (QStringList{QString::fromUtf8("ZipEngExec : fonction introuvable dans ZIPENG.DLL!"),
            QString::fromUtf8("ZIPENG.DLL : librairie introuvable! unloaded")}));
    EXPECT_FALSE(z.ZipEngLoaded());
}

}  // namespace
