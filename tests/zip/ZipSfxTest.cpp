// Self-extracting programs: the header record, the moved offsets, the stub
// search, the icon, and the made programs run as a user would (unattended,
// then answering on the terminal), damaged ones refused by the program.
#include "ZipTestSupport.h"
#include "zip/sfx/SfxReader.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ScopedEnv.h"
#include "tests/zipeng/OddEntries.h"

#include <QDirIterator>
#include <QProcess>

#include <elf.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>

namespace {

const QString kStub = QStringLiteral(KORVALE_BINARY_DIR "/shipped/SfxStub.bin");

uint32_t Get32(const QByteArray& b, qsizetype at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

QByteArray Le(uint32_t v, int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b += char(v >> (8 * i));
    return b;
}

// A zip archive of stored entries, written field by field, so that a test
// may give it names and sizes no archiver would write.
struct RawEntry {
    QByteArray name, data;
    uint32_t usize = 0xFFFFFFFF;  // the stated size; default: the data's
    uint16_t method = 0;
};
QByteArray RawZip(const QList<RawEntry>& entries)
{
    QByteArray local, central;
    for (const RawEntry& e : entries) {
        const uint32_t crc =
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()), uInt(e.data.size())));
        const uint32_t usize = e.usize == 0xFFFFFFFF ? uint32_t(e.data.size()) : e.usize;
        QByteArray common = Le(20, 2) + Le(0, 2) + Le(e.method, 2) + Le(0x5A210000, 4) + Le(crc, 4) +
            Le(uint32_t(e.data.size()), 4) + Le(usize, 4) + Le(uint32_t(e.name.size()), 2) + Le(0, 2);
        central += Le(0x02014B50, 4) + Le(20, 2) + common + Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0, 4) +
            Le(uint32_t(local.size()), 4) + e.name;
        local += Le(0x04034B50, 4) + common + e.name + e.data;
    }
    return local + central + Le(0x06054B50, 4) + Le(0, 4) + Le(uint32_t(entries.size()), 2) +
        Le(uint32_t(entries.size()), 2) + Le(uint32_t(central.size()), 4) + Le(uint32_t(local.size()), 4) + Le(0, 2);
}

// Where an ELF image holds the section of that name, and its size.
std::pair<qint64, qint64> Section(const QByteArray& image, const char* wanted)
{
    Elf64_Ehdr eh;
    std::memcpy(&eh, image.constData(), sizeof eh);
    auto sh = [&](int i) {
        Elf64_Shdr s;
        std::memcpy(&s, image.constData() + eh.e_shoff + i * eh.e_shentsize, sizeof s);
        return s;
    };
    const Elf64_Shdr names = sh(eh.e_shstrndx);
    for (int i = 0; i < eh.e_shnum; ++i)
        if (std::strcmp(image.constData() + names.sh_offset + sh(i).sh_name, wanted) == 0)
            return {qint64(sh(i).sh_offset), qint64(sh(i).sh_size)};
    return {-1, -1};
}

// An icon file of one 32 x 32 image with that many bits per pixel.
QByteArray IconFile(int bits)
{
    const int palette = 4 << bits, pixels = 32 * 32 * bits / 8, size = 40 + palette + pixels + 128;
    QByteArray image(size, '\0');
    for (int i = 40; i < size; ++i)
        image[i] = char(i * 7 + bits);
    image.replace(0, 4, Le(40, 4));
    return Le(0, 2) + Le(1, 2) + Le(1, 2) + QByteArray("\x20\x20") + char(bits == 4 ? 16 : 0) + '\0' + Le(1, 2) +
        Le(uint32_t(bits), 2) + Le(uint32_t(size), 4) + Le(22, 4) + image;
}

struct Outcome {
    int exit = -1;
    QString out, err;
};

class ZipSfx : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(trash.isValid());
        qputenv("XDG_DATA_HOME", trash.path().toUtf8());
        events.Attach(z);
        z.Unattended = true;
        stub = FileBytes(kStub);
        ASSERT_GT(stub.size(), 1000);
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }
    QString P(const QString& name) const { return dir.filePath(name); }

    // Korvale.zip of a small tree by zip: deflated files, a directory, a stored file.
    void MakeZip()
    {
        QByteArray table;
        for (int i = 0; i < 4000; ++i)
            table += QByteArray::number(i * 7919 % 1000).rightJustified(8, ' ') + "Dupont  ";
        PutFile(P("src/PATIENT.DBF"), table);
        PutFile(P("src/sub/EXAMEN.MDX"), QByteArray(3000, 'x') + "fin");
        PutFile(P("src/photo.jpg"), QByteArray::fromHex("ffd8ffe000104a464946") + QByteArray(500, '\x91'));
        ASSERT_EQ(
            Shell("cd " + P("src") + " && zip -qr ../Korvale.zip PATIENT.DBF sub && zip -q0 ../Korvale.zip photo.jpg"),
            0);
    }
    // The archive converted with the component's current settings; its result.
    int Convert(const QString& zip = QStringLiteral("Korvale.zip"))
    {
        z.SetZipFileName(P(zip));
        events.messages.clear();
        return z.ConvertSFX();
    }
    Outcome Start(const QString& program, const QStringList& args, const QByteArray& input = {})
    {
        QProcess p;
        p.setWorkingDirectory(P("."));
        p.start(program, args);
        p.write(input);
        p.closeWriteChannel();
        Outcome r;
        if (!p.waitForFinished(30000))
            return r;
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    void ExpectSameFiles(const QString& out, const QStringList& names)
    {
        for (const QString& n : names)
            EXPECT_EQ(FileBytes(out + "/" + n), FileBytes(P("src/" + n))) << n.toStdString();
    }
    // Every file below a directory, relative names.
    QStringList Tree(const QString& path)
    {
        QStringList all;
        QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            all << QDir(path).relativeFilePath(it.next());
        all.sort();
        return all;
    }

    QTemporaryDir dir, trash;
    kui::ScopedMessageRecorder boxes;
    TZipArchiver z;
    ZipEvents events;
    QByteArray stub;
};

TEST_F(ZipSfx, ConversionWritesTheHeaderAndMovesEveryOffset)
{
    MakeZip();
    const QByteArray zip = FileBytes(P("Korvale.zip"));
    z.SetZipFileName(P("Korvale.zip"));
    ASSERT_EQ(z.Count(), 3);
    QList<uint32_t> before;
    for (const ZipDirEntry* e : z.ZipContents())
        before << e->LocalHeaderOffset;
    const uint32_t cdBefore = Get32(zip, zip.size() - 6);

    // defaults: the stub found among the shipped files whatever the case of its name
    ASSERT_EQ(z.ConvertSFX(), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(QFileInfo(z.SFXPath).fileName(), "SfxStub.bin");
    EXPECT_TRUE(QFileInfo(z.SFXPath).isFile());
    const QByteArray exe = FileBytes(P("Korvale.exe"));
    const QByteArray expected =
        QByteArray("KZV\0\0\x01\x24\0\x17", 9) + "Self-extracting Archive" + QByteArray(4, '\0');
    EXPECT_EQ(exe.mid(stub.size(), 36).toHex(), expected.toHex());
    EXPECT_EQ(exe.left(stub.size()), stub);
    const int shift = int(stub.size()) + 36;
    EXPECT_EQ(exe.size(), shift + zip.size());
    // the archive to the trash, the name now the program's, listed again without warning
    EXPECT_FALSE(QFile::exists(P("Korvale.zip")));
    EXPECT_EQ(FileBytes(trash.filePath("Trash/files/Korvale.zip")), zip);
    EXPECT_EQ(z.ZipFileName(), P("Korvale.exe"));
    ASSERT_EQ(z.Count(), 3);
    EXPECT_TRUE(events.messages.isEmpty()) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.SFXOffset, shift);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(z.ZipContents()[i]->LocalHeaderOffset, before[i] + shift);
    EXPECT_EQ(Get32(exe, exe.size() - 6), cdBefore + shift);
    EXPECT_EQ(Shell("unzip -tq " + P("Korvale.exe")), 0);
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(P("Korvale.exe")).constData(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0755 & ~mask);

    // options and texts: overwrite never and run afterwards, size not checked
    MakeZip();
    z.SFXOverWriteMode = OvrNever;
    z.SFXOptions = {SFXAutoRun};
    z.SFXCaption = QString::fromUtf8("Dossier médical");
    z.SFXCommandLine = "true";
    ASSERT_EQ(Convert(), 0);
    QByteArray h = FileBytes(P("Korvale.exe")).mid(stub.size(), 36);
    EXPECT_EQ(int(uchar(h[3])), 0x70);
    EXPECT_EQ(int(uchar(h[6])), 32);  // 12 + 15 + 4, rounded up
    EXPECT_EQ(h.mid(8, 16), QByteArray("\x0f") + QString::fromUtf8("Dossier médical").toLatin1());
    EXPECT_EQ(h.mid(24, 6), QByteArray("\0\x04true\0", 7).left(6));

    // four texts of 200 characters fit; one of 256 does not, and nothing is made
    MakeZip();
    z.SFXCaption = z.SFXDefaultDir = z.SFXCommandLine = z.SFXMessage = QString(200, 'm');
    ASSERT_EQ(Convert(), 0);
    h = FileBytes(P("Korvale.exe")).mid(stub.size(), 812);
    EXPECT_EQ(int(uchar(h[6]) | uchar(h[7]) << 8), 812);
    EXPECT_EQ(int(uchar(h[8 + 3 * 201])), 200);
    EXPECT_EQ(h.mid(8 + 3 * 201 + 1), QByteArray(200, 'm'));
    QFile::remove(P("Korvale.exe"));
    MakeZip();
    z.SFXCaption = QString(256, 'c');
    z.SFXDefaultDir = z.SFXCommandLine = z.SFXMessage = QString();
    EXPECT_EQ(Convert(), -9);
    EXPECT_EQ(z.ErrCode, 10801);
    EXPECT_TRUE(z.Message.endsWith("SFXCaption + SFXDefaultDir + SFXCommandLine + SFXMessage = 269"));
    EXPECT_FALSE(QFile::exists(P("Korvale.exe")));
    EXPECT_TRUE(QFile::exists(P("Korvale.zip")));
}

TEST_F(ZipSfx, ProgramExtractsUnattendedAndAsksOnTheTerminal)
{
    MakeZip();
    z.SFXCaption = QString::fromUtf8("Sauvegarde Korvale");
    ASSERT_EQ(Convert(), 0);
    Outcome r = Start(P("Korvale.exe"), {"--dossier", P("out"), "--oui"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QString::fromUtf8("Sauvegarde Korvale\n")));
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("3 fichier(s) extrait(s)")));
    EXPECT_EQ(Tree(P("out")), (QStringList{"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"}));
    ExpectSameFiles(P("out"), {"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"});

    // the message first, the default directory offered, the files chosen by number
    MakeZip();
    z.SFXMessage = QString::fromUtf8("Données du cabinet");
    z.SFXDefaultDir = "defaut";
    z.SFXOptions = {SFXCheckSize, SFXAskFiles};
    ASSERT_EQ(Convert(), 0);
    r = Start(P("Korvale.exe"), {}, "o\n\n4\n\n");
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Données du cabinet")));
    EXPECT_TRUE(r.out.contains("[defaut]"));
    EXPECT_EQ(Tree(P("defaut")), QStringList{"photo.jpg"});
    // declined: nothing written
    r = Start(P("Korvale.exe"), {}, "n\n");
    EXPECT_EQ(r.exit, 3);
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Extraction annulée")));

    // an existing file: asked, kept on "n", replaced by the unattended run
    PutFile(P("out/PATIENT.DBF"), "mine");
    MakeZip();
    ASSERT_EQ(Convert(), 0);
    r = Start(P("Korvale.exe"), {"--dossier", P("out")}, "o\n\nn\n");
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("« PATIENT.DBF » existe déjà")));
    EXPECT_EQ(FileBytes(P("out/PATIENT.DBF")), "mine");
    r = Start(P("Korvale.exe"), {"--dossier", P("out"), "--oui"});
    ASSERT_EQ(r.exit, 0);
    ExpectSameFiles(P("out"), {"PATIENT.DBF"});

    // overwrite never, box hidden, no success message, the command asked for and run there
    PutFile(P("out/PATIENT.DBF"), "mine");
    MakeZip();
    z.SFXMessage.clear();
    z.SFXOverWriteMode = OvrNever;
    z.SFXOptions = {SFXHideOverWriteBox, SFXNoSuccessMsg, SFXAutoRun, SFXAskCmdLine};
    z.SFXCommandLine = "cat sub/EXAMEN.MDX > lance.txt";
    ASSERT_EQ(Convert(), 0);
    r = Start(P("Korvale.exe"), {}, (P("out") + "\no\n").toUtf8());
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QString::fromUtf8("Fichiers déjà présents")));
    EXPECT_FALSE(r.out.contains("extrait(s) dans"));
    EXPECT_EQ(FileBytes(P("out/PATIENT.DBF")), "mine");
    EXPECT_EQ(FileBytes(P("out/lance.txt")), FileBytes(P("src/sub/EXAMEN.MDX")));
}

// A program made from an encrypted archive asks for the password (or takes
// it on its command line) instead of calling the archive damaged; its test
// counts the files as the extraction does, folders left out.
TEST_F(ZipSfx, EncryptedArchiveAsksForThePasswordAndTestCountsFiles)
{
    MakeZip();
    Outcome r;
    ASSERT_EQ(Convert(), 0);
    r = Start(P("Korvale.exe"), {"--test"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Archive intacte : 3 fichier(s)."))) << r.out.toStdString();

    QFile::remove(P("Korvale.zip"));
    ASSERT_EQ(Shell("cd " + P("src") + " && zip -qr -P clef ../Korvale.zip PATIENT.DBF sub photo.jpg"), 0);
    ASSERT_EQ(Convert(), 0) << events.messages.join("|").toStdString();
    // unattended without the password: refused as such, nothing written
    r = Start(P("Korvale.exe"), {"--dossier", P("out"), "--oui"});
    EXPECT_EQ(r.exit, 3);
    EXPECT_FALSE(r.err.contains(QString::fromUtf8("endommagée"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("archive chiffrée, mot de passe absent"))) << r.err.toStdString();
    EXPECT_TRUE(Tree(P("out")).isEmpty());
    // on the command line
    r = Start(P("Korvale.exe"), {"--dossier", P("out"), "--oui", "--mot-de-passe", "clef"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("3 fichier(s) extrait(s)")));
    ExpectSameFiles(P("out"), {"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"});
    // typed on the terminal: a wrong one first, asked again
    r = Start(P("Korvale.exe"), {"--dossier", P("out2")}, "faux\nclef\n\n");
    ASSERT_EQ(r.exit, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Mot de passe de l'archive"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Mot de passe erroné.")));
    ExpectSameFiles(P("out2"), {"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"});
    r = Start(P("Korvale.exe"), {"--test", "--mot-de-passe", "clef"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("Archive intacte : 3 fichier(s).")));
    // three wrong answers: refused, nothing written
    r = Start(P("Korvale.exe"), {"--dossier", P("out3")}, "a\nb\nc\n");
    EXPECT_EQ(r.exit, 3);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("mot de passe erroné"))) << r.err.toStdString();
    EXPECT_TRUE(Tree(P("out3")).isEmpty());
}

// A folder on a file system that states no size (a tmpfs without a limit,
// some shares: every count 0) is not taken for a full disk.
TEST_F(ZipSfx, AFileSystemOfNoStatedSizeIsNotTakenForAFullOne)
{
    MakeZip();
    ASSERT_EQ(Convert(), 0);
    QDir().mkpath(P("sans-taille"));
    const QByteArray where = QFile::encodeName(P("sans-taille"));
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=0") != 0)
        GTEST_SKIP() << "no file system can be mounted here";
    const Outcome r = Start(P("Korvale.exe"), {"--dossier", P("sans-taille/out"), "--oui"});
    const QStringList written = Tree(P("sans-taille/out"));
    ::umount2(where.constData(), MNT_DETACH);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(written, QStringList({"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"}));
}

// On a machine whose language is not French, the program still says in
// French why a file or its folder could not be written.
TEST_F(ZipSfx, TheSystemsReasonIsSaidInFrench)
{
    ScopedEnv language("LC_ALL", "C");
    MakeZip();
    ASSERT_EQ(Convert(), 0);
    // a folder under a file
    PutFile(P("fichier"), "not a folder");
    Outcome r = Start(P("Korvale.exe"), {"--dossier", P("fichier/out"), "--oui"});
    EXPECT_NE(r.exit, 0);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("Erreur : dossier inaccessible « %1 » : un élément du chemin n'est "
                                                 "pas un dossier")
                                   .arg(P("fichier/out"))))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Not a directory")) << r.err.toStdString();
    // a disk that takes no more than 100 bytes of a file
    {
        ScopedFileSizeLimit disk(100);
        r = Start(P("Korvale.exe"), {"--dossier", P("plein"), "--oui"});
    }
    EXPECT_NE(r.exit, 0);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("Erreur : impossible d'écrire « PATIENT.DBF » : fichier trop "
                                                 "volumineux pour le disque")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("too large")) << r.err.toStdString();
}

TEST_F(ZipSfx, ShiftedArchiveIsAppendedAsItIs)
{
    MakeZip();
    const QByteArray shifted = QByteArray(100, 'g') + FileBytes(P("Korvale.zip"));
    PutFile(P("Vieux.zip"), shifted);
    z.SetZipFileName(P("Vieux.zip"));
    EXPECT_TRUE(z.CentralDirShifted);
    ASSERT_EQ(z.ConvertSFX(), 0);
    const QByteArray exe = FileBytes(P("Vieux.exe"));
    EXPECT_EQ(exe.mid(stub.size() + 36), shifted);
    Outcome r = Start(P("Vieux.exe"), {"--dossier", P("out"), "--oui"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    ExpectSameFiles(P("out"), {"PATIENT.DBF", "photo.jpg", "sub/EXAMEN.MDX"});
}

TEST_F(ZipSfx, NewProgramForAnAddToAnExeTarget)
{
    z.SFXCreating = true;
    z.SetZipFileName(P("Neuf.exe"));
    ASSERT_EQ(z.ConvertSFX(), 0);
    z.SFXCreating = false;
    const QByteArray exe = FileBytes(P("Neuf.exe"));
    ASSERT_EQ(exe.size(), stub.size() + 36 + 22);
    EXPECT_EQ(exe.right(22).toHex(),
        (Le(0x06054B50, 4) + QByteArray(12, '\0') + Le(uint32_t(stub.size()) + 36, 4) + QByteArray(2, '\0')).toHex());
    Outcome r = Start(P("Neuf.exe"), {"--test"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("0 fichier(s)"));

    // Add makes it when missing, then the library adds the files behind the
    // program, which still runs
    QFile::remove(P("Neuf.exe"));
    MakeZip();
    z.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
    z.SetZipFileName(P("Neuf.exe"));
    z.RootDir = P("src");
    z.AddOptions = {AddDirNames, AddRecurseDirs};
    z.SetFSpecArgs({"*.DBF"});
    z.Add();
    EXPECT_EQ(z.SuccessCnt, 1) << events.messages.join("|").toStdString();
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ZipContents()[0]->FileName, "PATIENT.DBF");
    EXPECT_EQ(FileBytes(P("Neuf.exe")).left(stub.size()), stub);
    EXPECT_EQ(Shell("unzip -tq " + P("Neuf.exe")), 0);
    r = Start(P("Neuf.exe"), {"--dossier", P("out"), "--oui"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    ExpectSameFiles(P("out"), {"PATIENT.DBF"});
}

TEST_F(ZipSfx, RefusedTargetsAndTheStubSearch)
{
    MakeZip();
    QFile::rename(P("Korvale.zip"), P("Korvale.rar"));
    EXPECT_EQ(Convert("Korvale.rar"), -9);
    EXPECT_EQ(z.ErrCode, 10803);
    EXPECT_TRUE(QFile::exists(P("Korvale.rar")));
    QFile::rename(P("Korvale.rar"), P("Korvale.zip"));

    // nowhere to be found
    QTemporaryDir empty, libs;
    z.SFXSystemDirs = {empty.path()};
    z.SFXPath = P("nulle-part/stub.bin");
    EXPECT_EQ(Convert(), -9);
    EXPECT_EQ(z.ErrCode, 10802);
    EXPECT_FALSE(QFile::exists(P("Korvale.exe")));
    // in the libraries' directory, under another case
    ASSERT_TRUE(QFile::copy(kStub, libs.filePath("sfxstub.bin")));
    z.SetDLLDirectory(libs.path());
    EXPECT_EQ(Convert(), 0);
    EXPECT_EQ(z.SFXPath, libs.filePath("sfxstub.bin"));
}

// The stub comes from the program's own folders: a file of its name in the
// current folder (any case) is never copied in front of the archive.
TEST_F(ZipSfx, AStubInTheCurrentFolderIsNeverTaken)
{
    MakeZip();
    QDir().mkpath(P("courant"));
    PutFile(P("courant/sfxstub.BIN"), "#!/bin/sh\necho pris\n");
    PutFile(P("courant/SfxStub.bin"), "#!/bin/sh\necho pris\n");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(P("courant")));
    const int result = Convert();
    QDir::setCurrent(before);
    ASSERT_EQ(result, 0) << events.messages.join("|").toStdString();
    EXPECT_NE(QFileInfo(z.SFXPath).absolutePath(), P("courant"));
    EXPECT_EQ(FileBytes(P("Korvale.exe")).left(stub.size()), stub);
    const Outcome r = Start(P("Korvale.exe"), {"--test"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("pris"));
}

// An archive of more entries than the program's directory count holds
// (65 540, its 16-bit count wrapped): refused with a message that says
// why; the archive stays, no program is left. The program's reader, given
// such an archive, does not take it for one of 4 entries.
TEST_F(ZipSfx, MoreEntriesThanTheProgramCountsAreRefusedWithAMessage)
{
    ASSERT_EQ(Shell("python3 -c 'import struct,sys\nl=bytearray();c=bytearray()\nfor i in range(65540):\n"
                    " n=b\"e%05d\"%i;o=len(l)\n"
                    " l+=struct.pack(\"<IHHHIIIIHH\",0x04034b50,10,0,0,0x210000,0,0,0,len(n),0)+n\n"
                    " c+=struct.pack(\"<IHHHHIIIIHHHHHII\",0x02014b50,20,10,0,0,0x210000,0,0,0,len(n),0,0,0,0,0,o)+n\n"
                    "e=struct.pack(\"<IHHHHIIH\",0x06054b50,0,0,65540&0xFFFF,65540&0xFFFF,len(c),len(l),0)\n"
                    "open(sys.argv[1],\"wb\").write(l+c+e)' " +
                  P("Korvale.zip")),
        0);
    const QByteArray zip = FileBytes(P("Korvale.zip"));
    EXPECT_EQ(Convert(), -9);
    EXPECT_EQ(z.ErrCode, 10805);
    EXPECT_TRUE(events.messages.join("|").contains("65 535 fichiers")) << events.messages.join("|").toStdString();
    EXPECT_TRUE(events.messages.join("|").contains("65540")) << events.messages.join("|").toStdString();
    EXPECT_EQ(FileBytes(P("Korvale.zip")), zip);
    EXPECT_FALSE(QFile::exists(P("Korvale.exe")));
    const QByteArray image = QByteArray("KZV\0\0\x01\x0c\0\0\0\0\0", 12) + zip;
    EXPECT_THROW(sfx::CheckImage(reinterpret_cast<const unsigned char*>(image.constData()), size_t(image.size())),
        sfx::SfxError);
}

TEST_F(ZipSfx, IconGoesIntoTheStubSection)
{
    MakeZip();
    PutFile(P("k.ico"), IconFile(4));
    TIcon icon;
    ASSERT_TRUE(icon.LoadFromFile(P("k.ico")));
    EXPECT_FALSE(icon.LoadFromBytes("not an icon"));
    z.SetSFXIcon(icon);
    icon.Clear();
    EXPECT_FALSE(z.SFXIcon().Empty());  // the component keeps its own copy
    ASSERT_EQ(Convert(), 0);
    const QByteArray exe = FileBytes(P("Korvale.exe"));
    const auto [at, size] = Section(stub, ".kicon");
    ASSERT_EQ(size, 744);
    EXPECT_EQ(exe.mid(at, 744), IconFile(4).mid(22));
    EXPECT_EQ(exe.left(at) + exe.mid(at + 744, stub.size() - at - 744), stub.left(at) + stub.mid(at + 744));
    EXPECT_EQ(Start(P("Korvale.exe"), {"--test"}).exit, 0);

    // a 256-colour icon: refused, nothing made
    MakeZip();
    ASSERT_TRUE(icon.LoadFromBytes(IconFile(8)));
    z.SetSFXIcon(icon);
    EXPECT_EQ(Convert(), -12);
    EXPECT_FALSE(QFile::exists(P("Korvale.exe")));
    EXPECT_TRUE(QFile::exists(P("Korvale.zip")));
    // stubs without the section: a program of the system, a text
    ASSERT_TRUE(icon.LoadFromBytes(IconFile(4)));
    z.SetSFXIcon(icon);
    for (const QString& other : {QStringLiteral("/bin/true"), P("src/sub/EXAMEN.MDX")}) {
        z.SFXPath = other;
        EXPECT_EQ(Convert(), -10) << other.toStdString();
        EXPECT_FALSE(QFile::exists(P("Korvale.exe")));
        EXPECT_TRUE(QFile::exists(P("Korvale.zip")));
    }
}

TEST_F(ZipSfx, DamagedProgramsAreRefused)
{
    MakeZip();
    ASSERT_EQ(Convert(), 0);
    const QByteArray good = FileBytes(P("Korvale.exe"));
    const qsizetype start = stub.size() + 36;
    QList<std::pair<const char*, QByteArray>> damaged = {
        {"tronque", good.left(good.size() - 30)},
        {"coupe", good.left(start + 2000)},
        {"crc", QByteArray(good).replace(start + 200, 4, "\x11\x22\x33\x44")},
        {"magique", QByteArray(good).replace(stub.size(), 3, "ZIP")},
    };
    // hostile names and sizes, converted by the component as any archive
    const QList<QList<RawEntry>> hostile = {
        {{"ok.txt", "bien"}, {"../evil.txt", "mal"}},
        {{"/tmp/abs-sfx.txt", "mal"}},
        {{"a/../../evil.txt", "mal"}},
        {{"gros.bin", QByteArray(10, '\x03'), 0xFFFFFF00u, 8}},
        {{"un.txt", "mal"}, {"deux.txt", "mal"}},
    };
    for (int i = 0; i < hostile.size(); ++i) {
        QByteArray raw = RawZip(hostile[i]);
        if (i == 4)  // both entries on one local header
            raw.replace(raw.lastIndexOf("PK\x01\x02") + 42, 4, Le(0, 4));
        PutFile(P("h.zip"), raw);
        ASSERT_EQ(Convert("h.zip"), 0) << i;
        damaged.append({"hostile", FileBytes(P("h.exe"))});
    }
    // the component reads a cut program as a damaged archive, and will not
    // make a program of a damaged archive
    PutFile(P("coupe.exe"), damaged[1].second);
    z.SetZipFileName(P("coupe.exe"));
    EXPECT_TRUE(z.ZipFileName().isEmpty());
    EXPECT_NE(z.ErrCode, 0);
    PutFile(P("Abime.zip"), good.mid(start, 3000));
    events.messages.clear();
    z.SetZipFileName(P("Abime.zip"));
    EXPECT_EQ(z.ConvertSFX(), -9);
    EXPECT_EQ(events.messages,
        QStringList({"L'archive sélectionnée n'a pas un format ZIP correct",
            "Erreur - Aucune archive ZIP n'a été spécifiée!"}));
    EXPECT_FALSE(QFile::exists(P("Abime.exe")));
    EXPECT_EQ(FileBytes(P("Abime.zip")), good.mid(start, 3000));
    int n = 0;
    for (const auto& [what, bytes] : damaged) {
        const QString program = P(QStringLiteral("d%1.exe").arg(n++));
        PutFile(program, bytes);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString target = P(QStringLiteral("cible/%1").arg(n));
        QDir().mkpath(target);
        Outcome r = Start(program, {"--dossier", target, "--oui"});
        EXPECT_NE(r.exit, 0) << what;
        EXPECT_NE(r.exit, -1) << what;  // finished
        EXPECT_TRUE(r.err.contains(QString::fromUtf8("Erreur : archive endommagée, extraction refusée"))) << what;
        EXPECT_TRUE(Tree(target).isEmpty()) << what;
    }
    // links in the target directory lead nowhere outside it
    MakeZip();
    ASSERT_EQ(Convert(), 0);
    PutFile(P("ailleurs/PATIENT.DBF"), "autre");
    QDir().mkpath(P("lien"));
    ASSERT_TRUE(QFile::link(P("ailleurs"), P("lien/sub")));
    ASSERT_TRUE(QFile::link(P("ailleurs/PATIENT.DBF"), P("lien/PATIENT.DBF")));
    Outcome r = Start(P("Korvale.exe"), {"--dossier", P("lien"), "--oui"});
    EXPECT_EQ(r.exit, 4);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("impossible d'écrire « sub/EXAMEN.MDX »")));
    EXPECT_EQ(Tree(P("ailleurs")), QStringList{"PATIENT.DBF"});
    EXPECT_EQ(FileBytes(P("ailleurs/PATIENT.DBF")), "autre");
    EXPECT_FALSE(QFileInfo(P("lien/PATIENT.DBF")).isSymLink());  // the link replaced, not followed
    ExpectSameFiles(P("lien"), {"PATIENT.DBF", "photo.jpg"});

    EXPECT_FALSE(QFile::exists(P("cible/evil.txt")));
    EXPECT_FALSE(QFile::exists(P("evil.txt")));
    EXPECT_FALSE(QFile::exists("/tmp/abs-sfx.txt"));
}

// Each kind of odd entry as the component and the self-extracting program
// see it: the directory reader refuses the archive with the reason the
// libraries give (the local names, which it does not read, are judged when
// the archive is tested); the program's reader gives the same reason, and
// the program, run, refuses the archive whole and writes nothing.
TEST_F(ZipSfx, OddEntriesAreRefusedAsTheLibrariesRefuseThem)
{
    const QString corpus = QStringLiteral(KORVALE_SOURCE_DIR "/tests/zipeng/corpus/");
    const QByteArray header("KZV\0\0\x01\x0c\0\0\0\0\0", 12);
    for (const OddArchive& odd : OddArchives()) {
        SCOPED_TRACE(odd.file);
        const QString reason = QString::fromStdString(odd.reason);
        const QString file = corpus + QString::fromStdString(odd.file);
        events.messages.clear();
        z.SetZipFileName(file);
        if (odd.localOnly) {
            ASSERT_EQ(z.ZipFileName(), file);
            z.ExtrOptions = {ExtrTest};
            z.SetFSpecArgs({"*.*"});
            z.Extract();
            EXPECT_EQ(z.SuccessCnt, 0);
        } else {
            EXPECT_TRUE(z.ZipFileName().isEmpty());
        }
        EXPECT_TRUE(events.messages.join("|").contains(reason)) << events.messages.join("|").toStdString();

        const QByteArray archive = FileBytes(file);
        const QByteArray image = header + archive;
        try {
            sfx::CheckImage(reinterpret_cast<const unsigned char*>(image.constData()), size_t(image.size()));
            ADD_FAILURE() << "accepted by the program's reader";
        } catch (const sfx::SfxError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), reason);
        }
        PutFile(P("odd.exe"), stub + image);
        ASSERT_TRUE(QFile::setPermissions(P("odd.exe"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const Outcome r = Start(P("odd.exe"), {"--dossier", P("cible"), "--oui"});
        EXPECT_EQ(r.exit, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
        EXPECT_TRUE(Tree(P("cible")).isEmpty());
    }
}

// The archive reader on the fuzz corpus: "ok-" images read whole, every
// other one is refused with a message, none crashes.
TEST(SfxReader, CorpusReplay)
{
    const QDir corpus(QStringLiteral(KORVALE_SOURCE_DIR "/tests/zip/sfx-corpus"));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_GE(files.size(), 5);
    for (const QString& name : files) {
        const QByteArray b = FileBytes(corpus.filePath(name));
        const auto* data = reinterpret_cast<const unsigned char*>(b.constData());
        if (name.startsWith("ok-")) {
            EXPECT_NO_THROW(sfx::CheckImage(data, size_t(b.size()))) << name.toStdString();
            continue;
        }
        try {
            sfx::CheckImage(data, size_t(b.size()));
            if (name.startsWith("bad-"))
                ADD_FAILURE() << name.toStdString() << " accepted";
        } catch (const sfx::SfxError& e) {
            EXPECT_GT(std::strlen(e.what()), 5u);
        }
    }
}

}  // namespace
