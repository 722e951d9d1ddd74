// A restore that does not go through, driven through the screen: one box,
// after the questions, that tells what went wrong (the archive damaged, a
// volume missing, the disk full, a wrong password), names the file, entry
// or volume concerned and says that nothing was restored; the data
// directory stays byte for byte what it was.
#include "tests/backup/BackupFixture.h"

#include "app/backup/BackupSet.h"
#include "app/backup/USaveRestore.h"
#include "platform/db/database/Database.h"
#include "tests/support/FakeVolumes.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestFiles.h"
#include "tests/zipeng/OddEntries.h"
#include "zip/ZipArch.h"

#include <QApplication>
#include <QInputDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <clocale>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

QByteArray Bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 Get32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 Get16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
void Put32(QByteArray& b, qsizetype at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}

// Where the records of an archive lie.
struct ZipMap {
    qsizetype end = 0, cdOffset = 0, cdSize = 0;
    struct Entry {
        QString name;
        qsizetype central = 0, local = 0, data = 0;
        quint32 packed = 0;
    };
    QList<Entry> entries;
    explicit ZipMap(const QByteArray& b)
    {
        end = b.lastIndexOf("PK\x05\x06");
        cdSize = Get32(b, end + 12);
        cdOffset = Get32(b, end + 16);
        for (qsizetype p = cdOffset; p < cdOffset + cdSize;) {
            Entry e;
            e.central = p;
            e.name = QString::fromUtf8(b.mid(p + 46, Get16(b, p + 28)));
            e.local = Get32(b, p + 42);
            e.packed = Get32(b, p + 20);
            e.data = e.local + 30 + Get16(b, e.local + 26) + Get16(b, e.local + 28);
            entries << e;
            p += 46 + Get16(b, p + 28) + Get16(b, p + 30) + Get16(b, p + 32);
        }
    }
    const Entry& Of(const QString& name) const
    {
        for (const Entry& e : entries)
            if (e.name == name)
                return e;
        ADD_FAILURE() << "no entry " << name.toStdString();
        return entries.first();
    }
};

// Types a password into the password dialog when it comes, then Enter.
void AnswerPassword(const QString& password, bool& asked)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [poll, password, &asked] {
        // the dialog up, its field holding the focus
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        QWidget* field = QApplication::focusWidget();
        if (!dialog || !field || !dialog->isAncestorOf(field)) {
            QTimer::singleShot(10, *poll);
            return;
        }
        asked = true;
        QTest::keyClicks(field, password);
        QTest::keyClick(field, Qt::Key_Return);
    };
    QTimer::singleShot(0, *poll);
}

}  // namespace

class RestoreFailure : public BackupFixture {
protected:
    // The restore of `archive` through the screen, the questions answered
    // Yes; the last box.
    QString RestoreThroughScreen(const QString& archive)
    {
        messages_.Clear();
        messages_.SetDefaultAnswer(QMessageBox::Yes);
        TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Restore);
        screen.ChooseArchive = [&](QWidget*, QString& name) {
            name = archive;
            return true;
        };
        QTest::mouseClick(screen.btnRestore(), Qt::LeftButton);
        EXPECT_TRUE(screen.btnClose()->isEnabled());
        return messages_.Count() ? messages_.Last().text : QString();
    }
    // The backup, its tables closed after it.
    void Backup()
    {
        BackupThroughScreen();
        kdb::Database::of(DataPath.toStdString()).closeIdleTables();
    }
    // The box says the restore was not made and changed nothing.
    static void ExpectNothingRestored(const QString& box)
    {
        EXPECT_TRUE(box.endsWith("\rLa restauration n'a pas été faite : vos données n'ont pas été modifiées."))
            << box.toStdString();
    }
    // The boxes shown: the questions, then one box of the failure.
    void ExpectOneFailureBox(int questions)
    {
        ASSERT_EQ(messages_.Count(), questions + 1) << messages_.Last().text.toStdString();
        for (int i = 0; i < questions; ++i)
            EXPECT_EQ(messages_.Records()[i].kind, kui::MsgKind::Confirmation)
                << messages_.Records()[i].text.toStdString();
        EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Error);
    }
};

// Damaged archives: the directory cut or lying, an entry's header or data
// damaged. The box calls the archive damaged, never missing, and names the
// entry at fault, not another one.
TEST_F(RestoreFailure, ADamagedArchiveIsNamedWithTheEntryAtFault)
{
    Backup();
    const QString archive = dest_ + "Korvale.zip";
    const QByteArray good = Bytes(archive);
    const ZipMap map(good);
    ChangeRows();
    const auto before = DataFiles();
    struct Case {
        const char* what;
        std::function<QByteArray(QByteArray)> damage;
        QString named;  // the entry the box names; empty: the directory
        int questions;  // before the box: 1 when the directory does not read
        QString shown = {};  // what the box quotes of the damaged bytes (another entry's name)
    };
    const ZipMap::Entry& mdx = map.Of("Patient.MDX");
    const ZipMap::Entry& cons = map.Of("Cons.DBF");
    const QList<Case> cases = {
        {"directory cut short", [&](QByteArray b) { return b.left(map.cdOffset + map.cdSize / 2); }, {}, 1},
        {"directory missing its middle", [&](QByteArray b) { return b.remove(map.cdOffset + map.cdSize / 3, 46); }, {},
            1},
        {"count of entries too high",
            [&](QByteArray b) {
                b[map.end + 10] = char(b[map.end + 10] + 3);
                b[map.end + 8] = char(b[map.end + 8] + 3);
                return b;
            },
            {}, 1},
        {"a central header's signature",
            [&](QByteArray b) {
                b[mdx.central + 1] = 'X';
                return b;
            },
            {}, 1},
        {"directory offset of the end record",
            [&](QByteArray b) {
                Put32(b, map.end + 16, quint32(map.cdOffset - 100));
                return b;
            },
            {}, 2},
        {"local header offset of one entry",
            [&](QByteArray b) {
                Put32(b, mdx.central + 42, quint32(mdx.local + 1));
                return b;
            },
            "Patient.MDX", 2},
        {"local header offset of one entry on the header of another",
            [&](QByteArray b) {
                Put32(b, mdx.central + 42, quint32(cons.local));
                return b;
            },
            "Patient.MDX", 2, "(en-tête local : Cons.DBF)"},
        {"local header offset of one entry inside the header of another",
            [&](QByteArray b) {
                Put32(b, mdx.central + 42, quint32(cons.local + 7));
                return b;
            },
            "Patient.MDX", 2},
        {"data of one entry",
            [&](QByteArray b) {
                for (qsizetype i = mdx.data + 10; i < mdx.data + 20; ++i)
                    b[i] = char(b[i] ^ 0x5A);
                return b;
            },
            "Patient.MDX", 2},
        {"compressed size of one entry",
            [&](QByteArray b) {
                Put32(b, mdx.central + 20, mdx.packed + 5000);
                return b;
            },
            "Patient.MDX", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Touch(archive, c.damage(good));
        const QString box = RestoreThroughScreen(archive);
        ExpectOneFailureBox(c.questions);
        EXPECT_TRUE(box.startsWith("Le fichier de sauvegarde " + archive + " est endommagé : ")) << box.toStdString();
        EXPECT_FALSE(box.contains("introuvable")) << box.toStdString();
        if (!c.named.isEmpty()) {
            EXPECT_TRUE(box.contains(c.named)) << box.toStdString();
        }
        EXPECT_TRUE(c.shown.isEmpty() || box.contains(c.shown)) << box.toStdString();
        for (const ZipMap::Entry& e : map.entries) {
            if (e.name != c.named) {
                EXPECT_FALSE(QString(box).remove(c.shown).contains(e.name)) << box.toStdString();
            }
        }
        ExpectNothingRestored(box);
        EXPECT_EQ(DataFiles(), before);
        EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
    }
    // and a missing one is called missing, with its name
    QFile::remove(archive);
    const QString box = RestoreThroughScreen(archive);
    ExpectOneFailureBox(1);
    EXPECT_TRUE(box.startsWith("Le fichier de sauvegarde est introuvable à l'endroit indiqué ! " + archive))
        << box.toStdString();
    ExpectNothingRestored(box);
}

// The archives with an odd entry: refused by the restore with the reason
// every reader of the program gives; two entries that would both be one
// table file, in two folders, as well.
TEST_F(RestoreFailure, AnArchiveWithAnOddEntryIsRefusedWithItsReason)
{
    ChangeRows();
    const auto before = DataFiles();
    const QString corpus = QStringLiteral(KORVALE_SOURCE_DIR "/tests/zipeng/corpus/");
    for (const OddArchive& odd : OddArchives()) {
        SCOPED_TRACE(odd.file);
        const QString archive = dest_ + "Korvale.zip";
        QFile::remove(archive);
        ASSERT_TRUE(QFile::copy(corpus + QString::fromStdString(odd.file), archive));
        const QString box = RestoreThroughScreen(archive);
        ExpectOneFailureBox(odd.localOnly ? 2 : 1);
        EXPECT_TRUE(box.startsWith("Le fichier de sauvegarde " + archive + " est endommagé : ")) << box.toStdString();
        EXPECT_TRUE(box.contains(QString::fromStdString(odd.reason))) << box.toStdString();
        ExpectNothingRestored(box);
        EXPECT_EQ(DataFiles(), before);
    }

    const QString twice = practice_.root() + "/deux/";
    QDir().mkpath(twice + "Data");
    QDir().mkpath(twice + "ancien");
    ASSERT_TRUE(QFile::copy(DataPath + "Cons.DBF", twice + "Data/Cons.DBF"));
    ASSERT_TRUE(QFile::copy(DataPath + "Cons.DBF", twice + "ancien/CONS.DBF"));
    QProcess zip;
    zip.setWorkingDirectory(twice);
    zip.start("zip", {"-q", "-r", dest_ + "Deux.zip", "Data", "ancien"});
    ASSERT_TRUE(zip.waitForFinished());
    const QString box = RestoreThroughScreen(dest_ + "Deux.zip");
    ExpectOneFailureBox(2);
    EXPECT_TRUE(box.contains("deux entrées pour le même fichier : Data/Cons.DBF et ancien/CONS.DBF"))
        << box.toStdString();
    ExpectNothingRestored(box);
    EXPECT_EQ(DataFiles(), before);
}

// An archive whose files are sound as files (their sizes and CRC those of
// the archive) but are no table the program opens: refused before the
// switch, the entry named; the data directory and its previous set stay.
TEST_F(RestoreFailure, AFileThatIsNoTableIsNeverPutInPlaceOfATable)
{
    ChangeRows();
    const auto before = DataFiles();
    const QString made = practice_.root() + "/faite/";
    struct Case {
        const char* what;
        std::function<void()> change;  // on the copy of the data directory in `made`
        QString named;
    };
    const QList<Case> cases = {
        {"a table of zeros",
            [&] { Touch(made + "Cons.DBF", QByteArray(int(QFileInfo(DataPath + "Cons.DBF").size()), '\0')); },
            "Cons.DBF"},
        {"an index that is no index", [&] { Touch(made + "Patient.MDX", QByteArray(4096, 'x')); }, "Patient.MDX"},
        {"a memo file missing", [&] { QFile::remove(made + "FPROT.DBT"); }, "FPROT.DBF"},
        {"a memo file of zeros",
            [&] { Touch(made + "FPROT.DBT", QByteArray(int(QFileInfo(DataPath + "FPROT.DBT").size()), '\0')); },
            "FPROT.DBT"},
        {"an index without its table", [&] { QFile::remove(made + "Cons.DBF"); }, "Cons.DBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(made).removeRecursively();
        QDir().mkpath(made);
        for (const QString& name : QDir(DataPath).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(DataPath + name, made + name));
        c.change();
        const QString archive = dest_ + "Korvale.zip";
        QFile::remove(archive);
        QProcess zip;
        zip.setWorkingDirectory(made);
        zip.start("zip", QStringList{"-q", archive} + QDir(made).entryList(QDir::Files));
        ASSERT_TRUE(zip.waitForFinished());
        ASSERT_EQ(zip.exitCode(), 0);
        for (bool exchange : {true, false}) {
            backup::TableSetRestore::UseExchange = exchange;
            const QString box = RestoreThroughScreen(archive);
            backup::TableSetRestore::UseExchange = true;
            ExpectOneFailureBox(2);
            EXPECT_TRUE(box.startsWith("Le fichier de sauvegarde " + archive + " est endommagé : l'entrée " + c.named))
                << box.toStdString();
            ExpectNothingRestored(box);
            EXPECT_EQ(DataFiles(), before);
            backup::TableSetRestore::WaitForRemoval();
            EXPECT_FALSE(QFileInfo::exists(backup::StagingDir(DataPath)));
            EXPECT_FALSE(QFileInfo::exists(backup::JournalFile(DataPath)));
        }
    }
}

// A full disk during the restore is no damaged archive: the box says so
// and names the folder whose disk is full. A disk with too few bytes is
// seen before anything is written; one with too few files left (the
// library's writes fail) the same way. A disk that states no size at all
// (a tmpfs without a limit, some shares) is not taken for a full one.
TEST_F(RestoreFailure, AFullDiskIsToldApartFromADamagedArchive)
{
    Backup();
    const auto saved = DataFiles();
    const QString archive = dest_ + "Korvale.zip";
    ChangeRows();
    const auto before = DataFiles();
    const QString temp = AppDir + "Temp";
    QDir().mkpath(temp);
    struct Mounted {
        QByteArray path;
        bool on = false;
        bool Mount(const char* options)
        {
            Unmount();
            on = ::mount("tmpfs", path.constData(), "tmpfs", 0, options) == 0;
            return on;
        }
        void Unmount()
        {
            if (on)
                ::umount2(path.constData(), MNT_DETACH);
            on = false;
        }
        ~Mounted() { Unmount(); }
    } disk{QFile::encodeName(temp)};
    if (!disk.Mount("size=64k"))
        GTEST_SKIP() << "no small disk can be mounted here";
    for (const char* options : {"size=64k", "size=64m,nr_inodes=6"}) {
        SCOPED_TRACE(options);
        ASSERT_TRUE(disk.Mount(options));
        const QString box = RestoreThroughScreen(archive);
        ExpectOneFailureBox(2);
        EXPECT_TRUE(box.startsWith("Il n'y a pas assez de place sur le disque du dossier " + temp + "/"))
            << box.toStdString();
        EXPECT_TRUE(box.contains(archive)) << box.toStdString();
        EXPECT_TRUE(box.contains("le fichier de sauvegarde n'est pas en cause")) << box.toStdString();
        EXPECT_FALSE(box.contains("est endommagé")) << box.toStdString();
        ExpectNothingRestored(box);
        EXPECT_EQ(DataFiles(), before);
    }
    ASSERT_TRUE(disk.Mount("size=0"));
    RestoreThroughScreen(archive);
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_EQ(DataFiles(), saved);
}

// On a machine whose language is not French, the reason the system gives
// for a failure reaches the box in French: a data directory on a read-only
// disk, a disk that takes only so many bytes of a file.
TEST_F(RestoreFailure, TheSystemsReasonReachesTheBoxInFrench)
{
    ScopedEnv language("LC_ALL", "C");
    std::setlocale(LC_MESSAGES, "");
    Backup();
    const QString archive = dest_ + "Korvale.zip";
    ChangeRows();
    const auto before = DataFiles();

    // the data directory made read-only where it stands
    const QByteArray data = QFile::encodeName(DataPath);
    if (::mount(data.constData(), data.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no folder can be mounted here";
    const bool readOnly =
        ::mount(nullptr, data.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    const QString box = readOnly ? RestoreThroughScreen(archive) : QString();
    ::umount2(data.constData(), MNT_DETACH);
    ASSERT_TRUE(readOnly);
    ExpectOneFailureBox(2);
    EXPECT_TRUE(box.startsWith(QString::fromUtf8("Les fichiers n'ont pas pu être remplacés (%1 : disque en lecture seule)")
                                   .arg(DataPath.chopped(1))))
        << box.toStdString();
    EXPECT_FALSE(box.contains("Read-only")) << box.toStdString();
    ExpectNothingRestored(box);
    EXPECT_EQ(DataFiles(), before);

    // a disk that takes only 2 000 bytes of a file: the tables are larger
    QString limited;
    {
        ScopedFileSizeLimit disk(2000);
        limited = RestoreThroughScreen(archive);
    }
    ExpectOneFailureBox(2);
    EXPECT_TRUE(limited.startsWith("Il n'y a pas assez de place sur le disque du dossier " + AppDir + "Temp/"))
        << limited.toStdString();
    EXPECT_TRUE(limited.contains(QString::fromUtf8("(fichier trop volumineux pour le disque)"))) << limited.toStdString();
    EXPECT_FALSE(limited.contains("too large")) << limited.toStdString();
    ExpectNothingRestored(limited);
    EXPECT_EQ(DataFiles(), before);

    // the program's work folder read-only: the folder is at fault, not the
    // archive
    const QString temp = AppDir + "Temp";
    QDir().mkpath(temp);
    const QByteArray work = QFile::encodeName(temp);
    ASSERT_EQ(::mount(work.constData(), work.constData(), nullptr, MS_BIND, nullptr), 0);
    const bool workReadOnly =
        ::mount(nullptr, work.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    const QString unwritable = workReadOnly ? RestoreThroughScreen(archive) : QString();
    ::umount2(work.constData(), MNT_DETACH);
    ASSERT_TRUE(workReadOnly);
    ExpectOneFailureBox(2);
    EXPECT_TRUE(unwritable.startsWith(QString::fromUtf8("Les fichiers de la sauvegarde %1 n'ont pas pu être écrits "
                                                        "dans le dossier %2/")
                                          .arg(archive, temp)))
        << unwritable.toStdString();
    EXPECT_TRUE(unwritable.contains(QString::fromUtf8("disque en lecture seule"))) << unwritable.toStdString();
    EXPECT_TRUE(unwritable.contains(QString::fromUtf8("Le fichier de sauvegarde n'est pas en cause")))
        << unwritable.toStdString();
    EXPECT_FALSE(unwritable.contains(QString::fromUtf8("n'a pas pu être lue"))) << unwritable.toStdString();
    ExpectNothingRestored(unwritable);
    EXPECT_EQ(DataFiles(), before);
}

// A wrong password is no damaged archive: asked once, refused, said as
// such; the right one restores.
TEST_F(RestoreFailure, AWrongPasswordIsToldApartFromADamagedArchive)
{
    const auto saved = DataFiles();
    const QString archive = dest_ + "Korvale.zip";
    QProcess zip;
    zip.setWorkingDirectory(DataPath);
    zip.start("zip", QStringList{"-q", "-P", "secret", archive} + QDir(DataPath).entryList(QDir::Files));
    ASSERT_TRUE(zip.waitForFinished());
    ASSERT_EQ(zip.exitCode(), 0);
    ChangeRows();
    const auto before = DataFiles();
    bool asked = false;
    AnswerPassword("pas le bon", asked);
    const QString box = RestoreThroughScreen(archive);
    EXPECT_TRUE(asked);
    ExpectOneFailureBox(2);
    EXPECT_TRUE(
        box.startsWith("Le mot de passe de la sauvegarde " + archive + " est erroné ou n'a pas été donné (entrée "))
        << box.toStdString();
    EXPECT_TRUE(box.contains("Le fichier de sauvegarde n'est pas endommagé")) << box.toStdString();
    EXPECT_FALSE(box.contains("est endommagé")) << box.toStdString();
    ExpectNothingRestored(box);
    EXPECT_EQ(DataFiles(), before);

    asked = false;
    AnswerPassword("secret", asked);
    RestoreThroughScreen(archive);
    EXPECT_TRUE(asked);
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_EQ(DataFiles(), saved);
}

// An archive whose entries another writer stored by a method the program
// does not read (bzip2, LZMA) is not called damaged: a user would throw a
// sound backup away. The box names the entry and the method.
TEST_F(RestoreFailure, AnArchiveOfAnotherMethodIsNotCalledDamaged)
{
    ChangeRows();
    const auto before = DataFiles();
    for (const auto& [method, named] : {std::pair{"BZIP2", "(bzip2)"}, std::pair{"LZMA", "(LZMA)"}}) {
        SCOPED_TRACE(method);
        const QString archive = dest_ + "Korvale.zip";
        QFile::remove(archive);
        ASSERT_EQ(QProcess::execute("python3",
                      {"-c",
                          QStringLiteral("import zipfile,os,sys\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_%1)\n"
                                         "for n in sorted(os.listdir(sys.argv[2])):\n"
                                         " p=os.path.join(sys.argv[2],n)\n"
                                         " if os.path.isfile(p): z.write(p,n)\nz.close()")
                              .arg(method),
                          archive, DataPath}),
            0);
        const QString box = RestoreThroughScreen(archive);
        ExpectOneFailureBox(2);
        EXPECT_TRUE(box.startsWith("La sauvegarde " + archive + " n'a pas pu être lue : l'entrée Cons.DBF est "
                                   "enregistrée d'une façon que le programme ne lit pas (méthode de compression "))
            << box.toStdString();
        EXPECT_TRUE(box.contains(named)) << box.toStdString();
        EXPECT_FALSE(box.contains("endommagé")) << box.toStdString();
        ExpectNothingRestored(box);
        EXPECT_EQ(DataFiles(), before);
    }
}

// A set of numbered volumes (Korvale001.zip, ...) restores from its last
// file; a volume missing is named, whichever it is.
TEST_F(RestoreFailure, AMissingVolumeOfASetIsNamed)
{
    AddPatients(1000, 1500);
    Backup();
    const auto saved = DataFiles();
    ktest::FakeVolumes volumes(practice_.root() + "/volumes");
    kos::ScopedVolumes use(volumes);
    const QString drive = volumes.AddDrive("d", kos::DriveType::Fixed);
    QDir().mkpath(drive + "Sav");
    {
        TZipArchiver z;
        z.Unattended = true;
        z.MaxVolumeSize = 16384;
        z.MinFreeVolumeSize = 4096;
        ASSERT_EQ(z.WriteSpan(dest_ + "Korvale.zip", drive + "Sav/Korvale.zip"), 0) << z.Message.toStdString();
    }
    const QStringList set = QDir(drive + "Sav").entryList(QDir::Files, QDir::Name);
    ASSERT_GE(set.size(), 3) << set.join(",").toStdString();
    const QString last = drive + "Sav/" + set.last();
    ChangeRows();
    const auto before = DataFiles();

    QFile::rename(drive + "Sav/Korvale002.zip", drive + "Sav/ailleurs.zip");
    QString box = RestoreThroughScreen(last);
    ExpectOneFailureBox(2);
    EXPECT_TRUE(box.startsWith("Le volume Korvale002.zip de la sauvegarde " + last + " est introuvable."))
        << box.toStdString();
    ExpectNothingRestored(box);
    EXPECT_EQ(DataFiles(), before);
    QFile::rename(drive + "Sav/ailleurs.zip", drive + "Sav/Korvale002.zip");

    // the last one gone, the one before it chosen
    QFile::rename(last, drive + "Sav/ailleurs.zip");
    const QString before_last = drive + "Sav/" + set[set.size() - 2];
    box = RestoreThroughScreen(before_last);
    ExpectOneFailureBox(1);
    EXPECT_TRUE(box.startsWith("Le volume " + set.last() + " de la sauvegarde " + before_last + " est introuvable."))
        << box.toStdString();
    ExpectNothingRestored(box);
    EXPECT_EQ(DataFiles(), before);
    QFile::rename(drive + "Sav/ailleurs.zip", last);

    // whole, it restores
    RestoreThroughScreen(last);
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_EQ(DataFiles(), saved);
}
