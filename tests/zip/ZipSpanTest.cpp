// Multi-volume archives on drives made of directories: sets written over
// several disks with their prompts and labels, joined back and extracted;
// disks too small, wrong, refused or cancelled; numbered files on a fixed
// drive; the erase question and the format; the outside zip tool's split
// archives both ways; the join over the damaged sets of span-corpus/.
#include "SpanFuzzInput.h"
#include "ZipTestSupport.h"
#include "tests/support/FakeVolumes.h"
#include "tests/zipeng/ZipEngTestSupport.h"
#include "zip/ZipRecords.h"

#include "platform/ui/Application.h"

#include <QDateTime>
#include <QDirIterator>

#include <deque>
#include <ostream>
#include <random>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

const QString kCancelled = QString::fromUtf8("Opération annulée par l'utilisateur");

// Answers the boxes as the user at the drive: a disk prompt (OK and Cancel)
// gets the next disk of the queue inserted and OK (a null disk: Cancel);
// any other box the next queued answer, else OK when it has one, else Cancel.
class DiskSwapper : public kui::MessageService {
public:
    struct Box {
        kui::MsgKind kind;
        QString text, caption;
        kui::MsgButtons buttons;
        kui::MsgButton defaultButton;
    };
    DiskSwapper(ktest::FakeVolumes& v, const QString& root)
        : volumes(v), drive(root), previous_(kui::SetMessageService(this))
    {
    }
    ~DiskSwapper() override { kui::SetMessageService(previous_); }

    kui::MsgButton Show(const kui::MsgRequest& r) override
    {
        boxes.append({r.kind, r.text, r.caption, r.buttons, r.defaultButton});
        if (r.buttons == (QMessageBox::Ok | QMessageBox::Cancel)) {
            ktest::FakeDisk* next = disks.empty() ? nullptr : disks.front();
            if (!disks.empty())
                disks.pop_front();
            if (!next)
                return QMessageBox::Cancel;
            volumes.Insert(drive, next);
            return QMessageBox::Ok;
        }
        if (!answers.empty()) {
            kui::MsgButton a = answers.front();
            answers.pop_front();
            return a;
        }
        return r.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Cancel;
    }
    QStringList Texts() const
    {
        QStringList t;
        for (const Box& b : boxes)
            t << b.text;
        return t;
    }

    ktest::FakeVolumes& volumes;
    QString drive;
    std::deque<ktest::FakeDisk*> disks;
    std::deque<kui::MsgButton> answers;
    QVector<Box> boxes;

private:
    kui::MessageService* previous_;
};

QByteArray Noise(int n, unsigned seed)
{
    std::mt19937 g(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (char& c : b)
        c = char(g());
    return b;
}

QString Prompt(int volume, int of, const QString& drive)
{
    return QString::fromUtf8("Insérer le volume n°%1 sur %2\ndans le lecteur: %3").arg(volume).arg(of).arg(drive);
}

class ZipSpan : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        kui::TApplication::SetTitle(QStringLiteral("Suivi des patients"));
        ASSERT_TRUE(dir.isValid());
        events.Attach(z);
        z.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
        z.TempDir = P("tmp");
        QDir().mkpath(z.TempDir);
    }
    QString P(const QString& name) const { return dir.filePath(name); }
    // The files of a practice, and a single-file archive of them made by
    // the add job (outside every fake drive): about 230 000 bytes.
    QString MakeSource()
    {
        PutFile(P("src/PATIENT.DBF"), Noise(150'000, 1));
        PutFile(P("src/CONSULT.DBF"), QByteArray::fromStdString(TableLike(100'000, 2)));
        PutFile(P("src/sub/CONSULT.MDX"), Noise(70'000, 3));
        PutFile(P("src/vide.txt"), QByteArray());
        z.RootDir = P("src");
        z.AddOptions = {AddDirNames, AddRecurseDirs};
        z.SetFSpecArgs({"*.*"});
        z.SetZipFileName(P("source.zip"));
        z.Unattended = true;
        z.Add();
        z.Unattended = false;
        EXPECT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();
        events.messages.clear();
        events.progress.clear();
        return P("source.zip");
    }
    // Extracts every entry of ZipFileName into out/ and compares with the originals.
    void ExtractAndCompare()
    {
        z.ExtrBaseDir = P("out");
        z.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
        z.Extract();
        EXPECT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();
        ExpectExtracted(P("out"));
    }
    void ExpectExtracted(const QString& out)
    {
        for (const char* f : {"PATIENT.DBF", "CONSULT.DBF", "sub/CONSULT.MDX", "vide.txt"}) {
            SCOPED_TRACE(f);
            EXPECT_TRUE(QFile::exists(out + "/" + f));
            EXPECT_EQ(FileBytes(out + "/" + f), FileBytes(P("src/") + f));
        }
    }

    QTemporaryDir dir;
    TZipArchiver z;
    ZipEvents events;
};

// A set over two floppies: the prompts, the labels, the volumes; joined back
// byte for byte (a wrong disk among them), then read and extracted as the
// archive the backup screen opens.
TEST_F(ZipSpan, FloppySetIsWrittenJoinedAndExtracted)
{
    const QString source = MakeSource();
    const QByteArray original = FileBytes(source);
    ASSERT_GT(original.size(), 160'000);
    ASSERT_LT(original.size(), 300'000);
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString a = volumes.AddDrive("a", kos::DriveType::Removable);
    ktest::FakeDisk* d1 = volumes.NewDisk("d1", 160'000, "BLANK");
    ktest::FakeDisk* d2 = volumes.NewDisk("d2", 160'000, "BLANK");
    ktest::FakeDisk* other = volumes.NewDisk("other", 160'000, "VACANCES");
    volumes.Insert(a, d1);  // a blank disk in the drive: its size gives the count of disks
    DiskSwapper user(volumes, a);
    user.disks = {d1, d2};
    QFile::setPermissions(source, QFile::ReadOwner);  // the source is only read

    ASSERT_EQ(z.WriteSpan(source, a + "Korvale.zip"), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(user.Texts(), (QStringList{Prompt(1, 2, a), Prompt(2, 2, a)}));
    EXPECT_EQ(user.boxes[0].kind, kui::MsgKind::Plain);
    EXPECT_EQ(user.boxes[0].caption, kui::DefaultCaption(kui::MsgKind::Plain));
    EXPECT_EQ(d1->label, "PKBACK# 001");
    EXPECT_EQ(d2->label, "PKBACK# 002");
    EXPECT_EQ(z.DiskNr, 1);
    const QString v1 = volumes.FilesOf(*d1) + "Korvale.zip", v2 = volumes.FilesOf(*d2) + "Korvale.zip";
    const QByteArray first = FileBytes(v1), last = FileBytes(v2);
    EXPECT_TRUE(first.startsWith(QByteArray("PK\7\10PK\3\4", 8)));
    EXPECT_LE(first.size(), 160'000);
    EXPECT_GE(first.size(), 150'000);  // filled, but for a header that did not fit
    EXPECT_EQ(first.size() + last.size(), original.size() + 4);
    EXPECT_EQ(QFileInfo(v1).lastModified().toSecsSinceEpoch(), QFileInfo(source).lastModified().toSecsSinceEpoch());
    EXPECT_EQ(QFileInfo(v2).lastModified().toSecsSinceEpoch(), QFileInfo(source).lastModified().toSecsSinceEpoch());
    EXPECT_EQ(original, FileBytes(source));
    EXPECT_TRUE(events.messages.contains(QString::fromUtf8("Copie en cours: sub\\CONSULT.MDX")));
    EXPECT_TRUE(events.messages.contains(QString::fromUtf8("Copie en cours: Répertoire central")));
    EXPECT_EQ(events.progress.last(), "end::0");
    EXPECT_FALSE(z.ZipBusy);

    // joined from the last disk: the first is asked for, a wrong disk makes the prompt come again
    user.boxes.clear();
    user.disks = {other, d1, d2};
    QString joined = P("joined.dat");
    ASSERT_EQ(z.ReadSpan(a + "Korvale.zip", joined), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(joined, P("joined.zip"));
    EXPECT_EQ(FileBytes(joined), original);
    EXPECT_EQ(user.Texts(), (QStringList{Prompt(1, 2, a), Prompt(1, 2, a), Prompt(2, 2, a)}));
    EXPECT_FALSE(z.UnzBusy);

    // the set as the backup screen opens it, extracted through a joined copy in TempDir
    user.boxes.clear();
    z.SetZipFileName(a + "Korvale.zip");
    ASSERT_EQ(z.Count(), 4) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.TotalDisks, 1);
    EXPECT_TRUE(z.IsSpanned);
    user.disks = {d1, d2};
    ExtractAndCompare();
    EXPECT_EQ(user.Texts(), (QStringList{Prompt(1, 2, a), Prompt(2, 2, a)}));
    EXPECT_TRUE(QDir(z.TempDir).isEmpty());

    // the drive empty at the start of a join: the last disk is asked for first, with a stop icon
    user.boxes.clear();
    volumes.Eject(a);
    user.disks = {d2, d1, d2};
    joined.clear();
    ASSERT_EQ(z.ReadSpan(a + "Korvale.zip", joined), 0);
    EXPECT_TRUE(joined.startsWith(z.TempDir));
    EXPECT_EQ(FileBytes(joined), original);
    ASSERT_EQ(user.boxes.size(), 3);
    EXPECT_EQ(user.boxes[0].text, QString::fromUtf8("Insérer le dernier disque\ndans le lecteur: ") + a);
    EXPECT_EQ(user.boxes[0].kind, kui::MsgKind::Error);
    EXPECT_EQ(user.boxes[0].caption, kui::DefaultCaption(kui::MsgKind::Plain));
}

// Disks that do not do: one too small (refused, its file deleted, the same
// volume asked again), the user cancelling a prompt, the owner's handler
// aborting; a set that fits on one disk keeps the archive's name after Add.
TEST_F(ZipSpan, DisksRefusedCancelledOrAborted)
{
    const QString source = MakeSource();
    const QByteArray original = FileBytes(source);
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString a = volumes.AddDrive("a", kos::DriveType::Removable);
    ktest::FakeDisk* d1 = volumes.NewDisk("d1", 160'000);
    ktest::FakeDisk* small = volumes.NewDisk("small", 60'000, "PETIT");
    ktest::FakeDisk* d2 = volumes.NewDisk("d2", 160'000);
    DiskSwapper user(volumes, a);
    user.disks = {d1, small, d2};
    user.answers = {QMessageBox::Retry};
    ASSERT_EQ(z.WriteSpan(source, a + "Korvale.zip"), 0) << events.messages.join("|").toStdString();
    const QString tooSmall = QString::fromUtf8("Espace disque insuffisant sur le disque sélectionné");
    // nothing in the drive at first: the count of disks is not known yet
    EXPECT_EQ(user.Texts(),
        (QStringList{QString::fromUtf8("Insérer le volume n°1\ndans le lecteur: ") + a, Prompt(2, 2, a), tooSmall, user.boxes[3].text}));
    // the count of disks now estimated from the small disk's size
    EXPECT_TRUE(user.boxes[3].text.startsWith(QString::fromUtf8("Insérer le volume n°2 sur ")));
    EXPECT_EQ(user.boxes[2].kind, kui::MsgKind::Error);
    EXPECT_EQ(user.boxes[2].buttons, QMessageBox::Retry | QMessageBox::Cancel);
    EXPECT_TRUE(QDir(volumes.FilesOf(*small)).isEmpty());
    EXPECT_EQ(small->label, "PETIT");
    EXPECT_EQ(d2->label, "PKBACK# 002");
    QString joined = P("j1.zip");
    user.disks = {d1, d2};
    ASSERT_EQ(z.ReadSpan(a + "Korvale.zip", joined), 0);
    EXPECT_EQ(FileBytes(joined), original);

    // the second disk's prompt cancelled: -7, said through OnMessage only, the source as it was;
    // the first disk holds an earlier volume of this very set: the question names it
    user.boxes.clear();
    events.messages.clear();
    user.disks = {d1, nullptr};
    user.answers = {QMessageBox::Yes};
    EXPECT_EQ(z.WriteSpan(source, a + "Korvale.zip"), -7);
    EXPECT_EQ(events.messages.last(), kCancelled);
    EXPECT_EQ(user.Texts(),
        (QStringList{Prompt(1, 2, a),
            QString::fromUtf8(
                "Un fichier %1 est déjà présent.\nEtes-vous sûr de vouloir écraser ce fichier").arg(a + "Korvale.zip"),
            Prompt(2, 2, a)}));
    EXPECT_EQ(user.boxes[1].caption, "Confirm");
    EXPECT_EQ(user.boxes[1].kind, kui::MsgKind::Warning);
    EXPECT_EQ(user.boxes[1].defaultButton, QMessageBox::No);
    EXPECT_EQ(FileBytes(source), original);
    EXPECT_FALSE(z.ZipBusy);

    // the owner's handler instead of the prompt: told the volume, the total and the drive; it aborts
    QStringList asked;
    z.OnGetNextDisk = [&](TZipArchiver*, int seq, int total, const QString& drive, bool& abort) {
        asked << QStringLiteral("%1/%2 %3").arg(seq).arg(total).arg(drive);
        abort = seq == 2;
        if (!abort)
            volumes.Insert(a, d1);
    };
    user.boxes.clear();
    user.answers = {QMessageBox::Yes};
    events.messages.clear();
    EXPECT_EQ(z.WriteSpan(source, a + "Korvale.zip"), -7);
    EXPECT_EQ(asked, (QStringList{"1/2 " + a, "2/2 " + a}));
    EXPECT_EQ(events.messages.last(), kCancelled);
    z.OnGetNextDisk = nullptr;

    // an add cancelled at its first disk: no success, nothing listed, no work file left
    user.disks = {nullptr};
    z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan};
    z.SetFSpecArgs({"*.*"});
    z.SetZipFileName(a + "Nouveau.zip");
    events.dirUpdates = 0;
    z.Add();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_EQ(events.messages.last(), kCancelled);
    EXPECT_EQ(z.ZipFileName(), a + "Nouveau.zip");
    EXPECT_EQ(events.dirUpdates, 0);
    EXPECT_TRUE(QDir(z.TempDir).isEmpty());

    // an add whose archive fits on one disk: one volume, still marked, and the name kept
    ktest::FakeDisk* big = volumes.NewDisk("big", 1'000'000);
    volumes.Insert(a, big);
    user.disks = {big};
    user.boxes.clear();
    z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan};
    z.SetFSpecArgs({"*.*"});
    z.SetZipFileName(a + "Korvale.zip");
    z.Add();
    EXPECT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipFileName(), a + "Korvale.zip");
    EXPECT_EQ(user.Texts(), QStringList{Prompt(1, 1, a)});
    EXPECT_TRUE(FileBytes(a + "Korvale.zip").startsWith(QByteArray("PK\7\10", 4)));
    EXPECT_EQ(z.TotalDisks, 0);
    EXPECT_EQ(z.Count(), 4);
    EXPECT_TRUE(QDir(z.TempDir).isEmpty());  // the add's work file is gone
}

// A removable medium that comes back under another mount point after a
// swap: the set follows it there, written and joined.
class MovingVolumes : public ktest::FakeVolumes {
public:
    using FakeVolumes::FakeVolumes;
    QString from, to;
    QString CurrentRoot(const QString& root) override
    {
        if (root == from && !Disk(from) && Disk(to))
            return to;
        return FakeVolumes::CurrentRoot(root);
    }
};

TEST_F(ZipSpan, DiskMountedElsewhereAfterASwap)
{
    const QString source = MakeSource();
    MovingVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    volumes.from = volumes.AddDrive("a", kos::DriveType::Removable);
    volumes.to = volumes.AddDrive("b", kos::DriveType::Removable);
    ktest::FakeDisk* d1 = volumes.NewDisk("d1", 160'000);
    ktest::FakeDisk* d2 = volumes.NewDisk("d2", 160'000);
    QStringList drives;
    z.OnGetNextDisk = [&](TZipArchiver*, int seq, int, const QString& drive, bool&) {
        drives << drive;
        volumes.Eject(volumes.from);
        volumes.Insert(seq == 1 ? volumes.from : volumes.to, seq == 1 ? d1 : d2);
    };
    kui::ScopedMessageRecorder boxes;
    ASSERT_EQ(z.WriteSpan(source, volumes.from + "Korvale.zip"), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(drives, (QStringList{volumes.from, volumes.from}));
    EXPECT_TRUE(QFile::exists(volumes.to + "Korvale.zip"));
    EXPECT_EQ(d2->label, "PKBACK# 002");

    // joined from the name the user knows: the last disk is found where it is now
    drives.clear();
    z.OnGetNextDisk = [&](TZipArchiver*, int seq, int, const QString& drive, bool&) {
        drives << drive;
        volumes.Insert(volumes.to, seq == 1 ? d1 : d2);
    };
    volumes.Eject(volumes.to);
    QString joined;
    ASSERT_EQ(z.ReadSpan(volumes.from + "Korvale.zip", joined), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(FileBytes(joined), FileBytes(source));
    EXPECT_EQ(drives.first(), volumes.from);
    EXPECT_EQ(drives.last(), volumes.to);
    EXPECT_EQ(boxes.Count(), 0);
}

// Numbered files on a fixed drive: the room of each volume, no prompt, the
// archive named after its last file; joining from the wrong file or with a
// file missing; an add that ends as the last numbered file, then extracted.
TEST_F(ZipSpan, NumberedFilesOnAFixedDrive)
{
    const QString source = MakeSource();
    const QByteArray original = FileBytes(source);
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString d = volumes.AddDrive("d", kos::DriveType::Fixed);
    QDir().mkpath(d + "Sav");
    kui::ScopedMessageRecorder boxes;
    z.MaxVolumeSize = 100'000;
    z.KeepFreeOnDisk1 = 30'000;
    ASSERT_EQ(z.WriteSpan(source, d + "Sav/Korvale.zip"), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(boxes.Count(), 0) << (boxes.Count() ? boxes.Last().text.toStdString() : "");
    EXPECT_EQ(z.DiskNr, 2);
    const QStringList files = QDir(d + "Sav").entryList(QDir::Files);
    EXPECT_EQ(files, (QStringList{"Korvale001.zip", "Korvale002.zip", "Korvale003.zip"}));
    const qint64 s1 = QFileInfo(d + "Sav/Korvale001.zip").size(), s2 = QFileInfo(d + "Sav/Korvale002.zip").size();
    EXPECT_LE(s1, 70'000);
    EXPECT_GT(s1, 60'000);
    EXPECT_LE(s2, 100'000);
    EXPECT_GT(s2, 90'000);

    QString joined;
    ASSERT_EQ(z.ReadSpan(d + "Sav/Korvale003.zip", joined), 0);
    EXPECT_EQ(FileBytes(joined), original);
    EXPECT_EQ(boxes.Count(), 0);

    // the first file named: 11045; a middle one: 11046 with its number; the partial output removed
    joined = P("j.zip");
    EXPECT_EQ(z.ReadSpan(d + "Sav/Korvale001.zip", joined), -7);
    EXPECT_EQ(z.ErrCode, 11045);
    EXPECT_EQ(z.Message, QString::fromUtf8("Ceci est le premier fichier d'une sauvegarde,\nsélectionner le dernier fichier"));
    EXPECT_TRUE(joined.isEmpty());
    EXPECT_FALSE(QFile::exists(P("j.zip")));
    joined = P("j.zip");
    EXPECT_EQ(z.ReadSpan(d + "Sav/Korvale002.zip", joined), -7);
    EXPECT_EQ(z.ErrCode, 11046);
    EXPECT_EQ(z.Message, QString::fromUtf8("Ceci est le fichier n°2 d'une sauvegarde,\nsélectionner le dernier fichier"));
    // a volume missing: 11001, shown
    QFile::rename(d + "Sav/Korvale002.zip", d + "Sav/moved.zip");
    boxes.Clear();
    joined = P("j.zip");
    EXPECT_EQ(z.ReadSpan(d + "Sav/Korvale003.zip", joined), -7);
    EXPECT_EQ(z.ErrCode, 11001);
    EXPECT_EQ(boxes.Count(), 1);
    boxes.Clear();
    EXPECT_FALSE(QFile::exists(P("j.zip")));
    QFile::rename(d + "Sav/moved.zip", d + "Sav/Korvale002.zip");

    // a header group larger than any volume: refused, not an endless row of files
    z.MaxVolumeSize = 70'000;
    z.KeepFreeOnDisk1 = 0;
    z.MinFreeVolumeSize = 100;
    PutFile(P("big/" + QString(200, 'n')), "x");
    QDir().mkpath(d + "Small");
    z.Unattended = true;
    z.MaxVolumeSize = 150;
    z.SetFSpecArgs({P("big/" + QString(200, 'n'))});
    z.AddOptions = {};
    z.SetZipFileName(P("long.zip"));
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 1);
    EXPECT_EQ(z.WriteSpan(P("long.zip"), d + "Small/L.zip"), -7);
    EXPECT_EQ(z.ErrCode, 11032);
    // and the volumes it began are removed
    EXPECT_EQ(QDir(d + "Small").entryList(QDir::Files), QStringList());
    z.Unattended = false;

    // through Add: the name of the last file, listed and extracted
    z.MaxVolumeSize = 100'000;
    z.MinFreeVolumeSize = 65536;
    z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan};
    z.RootDir = P("src");
    z.SetFSpecArgs({"*.*"});
    QDir().mkpath(d + "Bk");
    z.SetZipFileName(d + "Bk/Sauvegarde.zip");
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipFileName(), d + "Bk/Sauvegarde003.zip");
    EXPECT_EQ(z.Count(), 4);
    EXPECT_EQ(z.TotalDisks, 2);
    ExtractAndCompare();
    EXPECT_EQ(boxes.Count(), 0);
}

// AddDiskSpanErase: the disk is emptied only after the user's Yes (a No
// ends the write with nothing deleted), or formatted when FormatErase asks
// for it (an unformatted disk then takes the set).
TEST_F(ZipSpan, DisksErasedOrFormattedFirst)
{
    const QString source = MakeSource();
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString a = volumes.AddDrive("a", kos::DriveType::Removable);
    ktest::FakeDisk* used = volumes.NewDisk("used", 1'000'000, "PHOTOS");
    PutFile(used->store + "/old.txt", "old");
    PutFile(used->store + "/dir/deep/f.bin", Noise(600'000, 9));
    DiskSwapper user(volumes, a);
    z.AddOptions = {AddDiskSpanErase};
    user.disks = {used};
    user.answers = {QMessageBox::No};
    EXPECT_EQ(z.WriteSpan(source, a + "Korvale.zip"), -7);
    EXPECT_EQ(events.messages.last(), kCancelled);
    ASSERT_EQ(user.boxes.size(), 2);
    EXPECT_EQ(user.boxes[1].text, "Erase " + a);
    EXPECT_EQ(user.boxes[1].caption, "Confirm");
    EXPECT_EQ(user.boxes[1].kind, kui::MsgKind::Warning);
    EXPECT_EQ(user.boxes[1].defaultButton, QMessageBox::No);
    EXPECT_EQ(FileBytes(a + "old.txt"), "old");
    EXPECT_TRUE(QFile::exists(a + "dir/deep/f.bin"));
    EXPECT_EQ(used->label, "PHOTOS");

    user.boxes.clear();
    user.disks = {used};
    user.answers = {QMessageBox::Yes};
    ASSERT_EQ(z.WriteSpan(source, a + "Korvale.zip"), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(QDir(a).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Korvale.zip"});
    EXPECT_EQ(used->label, "PKBACK# 001");

    // FormatErase: the disk formatted and labelled, no question; a format the user declines cancels
    ktest::FakeDisk* raw = volumes.NewDisk("raw", 1'000'000);
    raw->formatted = false;
    z.FormatErase = true;
    user.boxes.clear();
    user.disks = {raw};
    ASSERT_EQ(z.WriteSpan(source, a + "Korvale.zip"), 0) << events.messages.join("|").toStdString();
    EXPECT_EQ(volumes.formatCalls, 1);
    EXPECT_TRUE(raw->formatted);
    EXPECT_EQ(raw->label, "PKBACK# 001");
    EXPECT_EQ(user.Texts(), QStringList{Prompt(1, 1, a)});
    EXPECT_EQ(FileBytes(a + "Korvale.zip").size(), FileBytes(source).size() + 4);
    volumes.formatAnswer = -2;
    user.disks = {raw};
    events.messages.clear();
    EXPECT_EQ(z.WriteSpan(source, a + "Korvale.zip"), -7);
    EXPECT_EQ(events.messages.last(), kCancelled);
    EXPECT_TRUE(QFile::exists(a + "Korvale.zip"));
}

// The outside zip tool: our numbered files under its names (X.z01 ... X.zip)
// are joined by it and pass its test; its split archive under our names is
// joined and extracted by the component.
TEST_F(ZipSpan, OutsideToolReadsOurSetsAndWeReadItsSplits)
{
    const QString source = MakeSource();
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString d = volumes.AddDrive("d", kos::DriveType::Fixed);
    kui::ScopedMessageRecorder boxes;
    z.MaxVolumeSize = 80'000;
    ASSERT_EQ(z.WriteSpan(source, d + "K.zip"), 0);
    ASSERT_GE(z.DiskNr, 2);
    QDir().mkpath(P("ext"));
    for (int i = 0; i < z.DiskNr; ++i)
        QFile::copy(TZipArchiver::NumberedName(d + "K.zip", i), P("ext/X.z%1").arg(i + 1, 2, 10, QChar('0')));
    QFile::copy(TZipArchiver::NumberedName(d + "K.zip", z.DiskNr), P("ext/X.zip"));
    ASSERT_EQ(Shell("cd " + P("ext") + " && zip -s 0 X.zip --out joined.zip"), 0);
    EXPECT_EQ(Shell("unzip -t " + P("ext/joined.zip")), 0);
    ASSERT_EQ(Shell("unzip -q " + P("ext/joined.zip") + " -d " + P("ext/out")), 0);
    ExpectExtracted(P("ext/out"));

    // the tool's split of 64 KiB pieces, renamed Y001.zip ... (last = the .zip)
    QDir().mkpath(P("split"));
    ASSERT_EQ(Shell("cd " + P("src") + " && zip -qr -s 64k " + P("split/Y.zip") + " ."), 0);
    const QStringList pieces = QDir(P("split")).entryList({"Y.z??"}, QDir::Files, QDir::Name);
    ASSERT_GE(pieces.size(), 2);
    QDir().mkpath(d + "Y");
    for (int i = 0; i < pieces.size(); ++i)
        QFile::copy(P("split/") + pieces[i], TZipArchiver::NumberedName(d + "Y/Y.zip", i));
    const QString lastName = TZipArchiver::NumberedName(d + "Y/Y.zip", int(pieces.size()));
    QFile::copy(P("split/Y.zip"), lastName);
    z.SetZipFileName(lastName);
    ASSERT_EQ(z.Count(), 4) << events.messages.join("|").toStdString();
    ExtractAndCompare();
    EXPECT_EQ(boxes.Count(), 0);
}

// The join over hostile volume sets (what fuzz_span reads): never a crash or
// a hang; the sound sets of the corpus list as they are and join into an
// archive that lists.
TEST_F(ZipSpan, CorpusReplayThroughTheJoin)
{
    const QDir corpus(QStringLiteral(KORVALE_SOURCE_DIR "/tests/zip/span-corpus"));
    int seen = 0, sound = 0;
    for (const QFileInfo& fi : corpus.entryInfoList(QDir::Files)) {
        SCOPED_TRACE(fi.fileName().toStdString());
        const QByteArray data = FileBytes(fi.absoluteFilePath());
        QTemporaryDir work;
        QString joined;
        int listed = 0;
        const int r = spanfuzz::JoinHostileSet(
            reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()), work.path(), &joined, &listed);
        if (fi.fileName().startsWith("sound")) {
            ++sound;
            EXPECT_EQ(r, 0);
            EXPECT_GT(listed, 0);
            TZipArchiver reader;
            reader.Unattended = true;
            reader.SetZipFileName(joined);
            EXPECT_GT(reader.Count(), 0);
            EXPECT_EQ(reader.TotalDisks, 0);
        } else if (r != 0) {
            EXPECT_TRUE(joined.isEmpty());
        }
        ++seen;
    }
    EXPECT_GE(seen, 6);
    EXPECT_GE(sound, 2);
}

}  // namespace

namespace {

// A backup of a thousand small files over 64 KB volumes: the central
// directory runs over two volumes or more. The set is listed after the add
// and when opened again, extracted, and passes the outside tools once
// joined under their names; the tool's own split of the same files, whose
// directory crosses too, is opened under our names.
TEST_F(ZipSpan, DirectoryCrossingVolumesIsListedAndExtracted)
{
    for (int i = 0; i < 1000; ++i)
        PutFile(P("many/f%1.txt").arg(i, 4, 10, QChar('0')), QByteArray::number(i));
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString d = volumes.AddDrive("d", kos::DriveType::Fixed);
    kui::ScopedMessageRecorder boxes;
    z.Unattended = true;
    z.MaxVolumeSize = 65536;
    z.RootDir = P("many");
    z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan};
    z.SetFSpecArgs({"*.*"});
    z.SetZipFileName(d + "Bk.zip");
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 1000) << events.messages.join("|").toStdString();
    const int last = z.DiskNr;
    ASSERT_GE(last, 1);
    EXPECT_EQ(z.ZipFileName(), TZipArchiver::NumberedName(d + "Bk.zip", last));
    EXPECT_EQ(z.Count(), 1000) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipContents().last()->FileName, "f0999.txt");
    // the end record names a volume before the last one for the directory's start
    const QByteArray lastVolume = FileBytes(z.ZipFileName());
    ASSERT_GE(lastVolume.size(), 22);
    EXPECT_LT(
        ziprec::Get16(reinterpret_cast<const unsigned char*>(lastVolume.constData()) + lastVolume.size() - 16), last);

    TZipArchiver again;
    again.Unattended = true;
    again.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
    again.TempDir = z.TempDir;
    again.SetZipFileName(TZipArchiver::NumberedName(d + "Bk.zip", last));
    ASSERT_EQ(again.Count(), 1000) << again.Message.toStdString();
    EXPECT_EQ(again.TotalDisks, last);
    again.ExtrBaseDir = P("out");
    again.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    again.Extract();
    EXPECT_EQ(again.SuccessCnt, 1000) << again.Message.toStdString();
    EXPECT_EQ(FileBytes(P("out/f0777.txt")), "777");

    // under the outside tool's names: joined by it, tested by it and by Python
    QDir().mkpath(P("ext"));
    for (int i = 0; i < last; ++i)
        QFile::copy(TZipArchiver::NumberedName(d + "Bk.zip", i), P("ext/X.z%1").arg(i + 1, 2, 10, QChar('0')));
    QFile::copy(TZipArchiver::NumberedName(d + "Bk.zip", last), P("ext/X.zip"));
    ASSERT_EQ(Shell("cd " + P("ext") + " && zip -s 0 X.zip --out joined.zip"), 0);
    EXPECT_EQ(Shell("unzip -t " + P("ext/joined.zip")), 0);
    EXPECT_EQ(Shell("7z t " + P("ext/joined.zip")), 0);
    EXPECT_EQ(Shell("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                    "sys.exit(z.testzip() is not None or len(z.namelist()) != 1000)' " +
                  P("ext/joined.zip")),
        0);

    // the tool's split of the same files, 64 KiB pieces, under our names
    QDir().mkpath(P("split"));
    ASSERT_EQ(Shell("cd " + P("many") + " && zip -qr -s 64k " + P("split/Y.zip") + " ."), 0);
    const QStringList pieces = QDir(P("split")).entryList({"Y.z??"}, QDir::Files, QDir::Name);
    ASSERT_GE(pieces.size(), 1);
    QDir().mkpath(d + "Y");
    for (int i = 0; i < pieces.size(); ++i)
        QFile::copy(P("split/") + pieces[i], TZipArchiver::NumberedName(d + "Y/Y.zip", i));
    const QString yLast = TZipArchiver::NumberedName(d + "Y/Y.zip", int(pieces.size()));
    QFile::copy(P("split/Y.zip"), yLast);
    TZipArchiver theirs;
    theirs.Unattended = true;
    theirs.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
    theirs.TempDir = z.TempDir;
    theirs.SetZipFileName(yLast);
    EXPECT_EQ(theirs.Count(), 1000) << theirs.Message.toStdString();
    // and under its own names, Y.z01 ... Y.zip, opened and extracted from the last
    QDir().mkpath(d + "Z");
    for (const QString& piece : QDir(P("split")).entryList(QDir::Files))
        QFile::copy(P("split/") + piece, d + "Z/" + piece);
    theirs.SetZipFileName(d + "Z/Y.zip");
    ASSERT_EQ(theirs.Count(), 1000) << theirs.Message.toStdString();
    theirs.ExtrBaseDir = P("out-theirs");
    theirs.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    theirs.Extract();
    EXPECT_EQ(theirs.SuccessCnt, 1000) << theirs.Message.toStdString();
    EXPECT_EQ(FileBytes(P("out-theirs/f0999.txt")), "999");
    EXPECT_EQ(boxes.Count(), 0);
}

// An encrypted backup over numbered files: each entry's size comes from the
// directory (its local header leaves it to the descriptor); the set joined
// passes the outside unzip's test, 7z's and Python's with the password, and
// the component extracts it.
TEST_F(ZipSpan, EncryptedSetIsWrittenAndReadBack)
{
    PutFile(P("src/PATIENT.DBF"), Noise(150'000, 1));
    PutFile(P("src/CONSULT.DBF"), QByteArray::fromStdString(TableLike(100'000, 2)));
    PutFile(P("src/sub/CONSULT.MDX"), Noise(70'000, 3));
    PutFile(P("src/vide.txt"), QByteArray());
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString d = volumes.AddDrive("d", kos::DriveType::Fixed);
    kui::ScopedMessageRecorder boxes;
    z.Unattended = true;
    z.Password = QStringLiteral("s3cret");
    z.MaxVolumeSize = 65536;
    z.RootDir = P("src");
    z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan, AddEncrypt};
    z.SetFSpecArgs({"*.*"});
    z.SetZipFileName(d + "Chiffre.zip");
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();
    const int last = z.DiskNr;
    ASSERT_GE(last, 2);
    EXPECT_EQ(z.Count(), 4);
    for (const ZipDirEntry* e : z.ZipContents())
        EXPECT_TRUE(e->Encrypted) << e->FileName.toStdString();

    QString joined = P("joined.zip");
    ASSERT_EQ(z.ReadSpan(TZipArchiver::NumberedName(d + "Chiffre.zip", last), joined), 0);
    EXPECT_EQ(Shell("unzip -P s3cret -t " + joined), 0);
    EXPECT_EQ(Shell("7z t -ps3cret " + joined), 0);
    EXPECT_EQ(Shell("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); z.setpassword(b\"s3cret\"); "
                    "sys.exit(z.testzip() is not None)' " +
                  joined),
        0);
    ExtractAndCompare();
    EXPECT_EQ(boxes.Count(), 0);
}

// A set whose end record counts 70 000 entries in 16 bits (4 464): the
// join takes every entry the directory holds, and the joined archive lists
// and tests them all.
TEST_F(ZipSpan, JoinTakesTheWholeDirectoryPastAWrappedCount)
{
    ktest::FakeVolumes volumes(P("vol"));
    kos::ScopedVolumes use(volumes);
    const QString d = volumes.AddDrive("d", kos::DriveType::Fixed);
    ASSERT_EQ(Shell("python3 -c 'import struct,sys\nl=bytearray(struct.pack(\"<I\",0x08074b50));c=bytearray()\n"
                    "for i in range(70000):\n"
                    " n=b\"e%05d\"%i;o=len(l)\n"
                    " l+=struct.pack(\"<IHHHIIIIHH\",0x04034b50,10,0,0,0x210000,0,0,0,len(n),0)+n\n"
                    " c+=struct.pack(\"<IHHHHIIIIHHHHHII\",0x02014b50,20,10,0,0,0x210000,0,0,0,len(n),0,0,0,0,0,o)+n\n"
                    "cut=len(c)//2\nopen(sys.argv[1],\"wb\").write(l+c[:cut])\n"
                    "e=struct.pack(\"<IHHHHIIH\",0x06054b50,1,0,0,70000&0xFFFF,len(c),len(l),0)\n"
                    "open(sys.argv[2],\"wb\").write(c[cut:]+e)' " +
                  TZipArchiver::NumberedName(d + "W.zip", 0) + " " + TZipArchiver::NumberedName(d + "W.zip", 1)),
        0);
    kui::ScopedMessageRecorder boxes;
    z.Unattended = true;
    QString joined = P("joined.zip");
    ASSERT_EQ(z.ReadSpan(TZipArchiver::NumberedName(d + "W.zip", 1), joined), 0) << z.Message.toStdString();
    TZipArchiver reader;
    reader.Unattended = true;
    reader.SetZipFileName(joined);
    EXPECT_EQ(reader.Count(), 70000) << reader.Message.toStdString();
    // the set itself, listed where it lies
    z.SetZipFileName(TZipArchiver::NumberedName(d + "W.zip", 1));
    EXPECT_EQ(z.Count(), 70000) << z.Message.toStdString();
}

}  // namespace
