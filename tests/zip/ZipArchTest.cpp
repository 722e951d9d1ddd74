// The zip component through its events: the directory reader on archives
// of the Debian tools and on damaged ones, add and extract jobs with their
// checks, messages, password dialog and questions.
#include "ZipTestSupport.h"
#include "tests/zipeng/ZipEngTestSupport.h"
#include "platform/zipeng/ZipEngAbi.h"
#include "zip/ZipJobTexts.h"
#include "zip/ZipPasswordDlg.h"
#include "zip/ZipRecords.h"

#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

class ZipArch : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        ASSERT_TRUE(dir.isValid());
        events.Attach(z);
        z.Unattended = true;
        z.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
    }
    QString P(const QString& name) const { return dir.filePath(name); }
    // A small tree and a zip archive of it made by zip, with a directory entry.
    void MakeZip(const QString& extra = {})
    {
        PutFile(P("src/A.DBF"), QByteArray(5000, 'a'));
        PutFile(P("src/sub/B.MDX"), QByteArray("bbb"));
        ASSERT_EQ(Shell("cd " + P("src") + " && zip -qr ../a.zip A.DBF sub " + extra), 0);
    }

    QTemporaryDir dir;
    kui::ScopedMessageRecorder boxes;
    TZipArchiver z;
    ZipEvents events;
};

TEST_F(ZipArch, ListReadsTheCentralDirectory)
{
    MakeZip();
    z.SetZipFileName(P("a.zip"));
    ASSERT_EQ(z.Count(), 2) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipContents()[0]->FileName, "A.DBF");
    EXPECT_EQ(z.ZipContents()[1]->FileName, "sub\\B.MDX");
    EXPECT_EQ(z.ZipContents()[0]->UncompressedSize, 5000u);
    EXPECT_EQ(z.DirOnlyCount, 1);
    EXPECT_EQ(events.seqNos, (QList<int>{1, 3}));  // the directory entry still counts
    EXPECT_TRUE(events.messages.isEmpty());
    EXPECT_EQ(events.dirUpdates, 1);

    z.UseDirOnlyEntries = true;
    z.List();
    EXPECT_EQ(z.Count(), 3);
    EXPECT_EQ(z.ZipContents()[1]->FileName, "sub\\");

    // a comment of 100 bytes: found by the scan, no warning
    ASSERT_EQ(Shell("printf '%0100d' 0 | zip -qz " + P("a.zip")), 0);
    z.List();
    EXPECT_EQ(z.ZipComment, QString(100, '0'));
    EXPECT_EQ(z.ZipEOC, z.RealFileSize - 122);
    EXPECT_TRUE(events.messages.isEmpty());
}

TEST_F(ZipArch, ListWarnsOnTrailingBytesAndFindsTheStub)
{
    MakeZip();
    QByteArray zip = FileBytes(P("a.zip"));
    PutFile(P("g.zip"), zip + QByteArray(10, 'x'));
    z.SetZipFileName(P("g.zip"));
    EXPECT_EQ(z.Count(), 2);
    EXPECT_EQ(
        events.messages, QStringList{QString::fromUtf8("Avertissement - Symbols incorrects à la fin du fichier ZIP!")});
    EXPECT_EQ(z.FileSize, z.RealFileSize - 10);

    // zero padding to a 512-byte block: silent
    events.messages.clear();
    const int padded = (int(zip.size()) / 512 + 1) * 512;
    PutFile(P("pad.zip"), zip + QByteArray(padded - int(zip.size()), '\0'));
    z.SetZipFileName(P("pad.zip"));
    EXPECT_EQ(z.Count(), 2);
    EXPECT_TRUE(events.messages.isEmpty()) << events.messages.join("|").toStdString();

    // a stub in front of an archive whose offsets were not moved
    PutFile(P("sfx.exe"), QByteArray(777, 'S') + zip);
    z.SetZipFileName(P("sfx.exe"));
    EXPECT_EQ(z.Count(), 2);
    EXPECT_EQ(z.SFXOffset, 777);
    EXPECT_EQ(events.messages.last(), QString::fromUtf8("Avertissement - La structure de l'archive est erronnée!"));
}

TEST_F(ZipArch, ListOfDamagedFilesGivesOneMessageAndForgetsTheName)
{
    const QString wrong = QString::fromUtf8("L'archive sélectionnée n'a pas un format ZIP correct");
    PutFile(P("short.zip"), "PK\5\6 short");
    z.SetZipFileName(P("short.zip"));
    EXPECT_EQ(events.messages, QStringList{wrong});
    EXPECT_TRUE(z.ZipFileName().isEmpty());
    EXPECT_EQ(z.Count(), 0);

    // the first file of a multi-volume set on a fixed disk
    events.messages.clear();
    PutFile(P("vol1.zip"), QByteArray("PK\7\10PK\3\4") + QByteArray(3000, 'v'));
    z.SetZipFileName(P("vol1.zip"));
    EXPECT_EQ(events.messages,
        QStringList{
            QString::fromUtf8("Ceci est le premier fichier d'une sauvegarde,\nsélectionner le dernier fichier")});

    // an end record of 22 bytes alone: an empty archive
    events.messages.clear();
    QByteArray end(22, '\0');
    end[0] = 'P';
    end[1] = 'K';
    end[2] = 5;
    end[3] = 6;
    PutFile(P("empty.zip"), end);
    z.SetZipFileName(P("empty.zip"));
    EXPECT_EQ(z.ZipFileName(), P("empty.zip"));
    EXPECT_EQ(z.Count(), 0);
    EXPECT_EQ(z.SFXOffset, 0);
    EXPECT_TRUE(events.messages.isEmpty());

    // a missing file: no message, one directory update
    events.dirUpdates = 0;
    z.SetZipFileName(P("none.zip"));
    EXPECT_EQ(events.dirUpdates, 1);
    EXPECT_TRUE(events.messages.isEmpty());

    // a central directory that claims more entries than it holds; bit flips anywhere
    MakeZip();
    QByteArray good = FileBytes(P("a.zip"));
    for (int i = 0; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = char(bad[i] ^ 0xA5);
        PutFile(P("bad.zip"), bad);
        z.SetZipFileName(P("bad.zip"));
        EXPECT_LE(z.Count(), 3);
    }
    // with boxes shown: the message is a box too
    z.Unattended = false;
    boxes.Clear();
    z.SetZipFileName(P("short.zip"));
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Last().text, wrong);
}

TEST_F(ZipArch, OemNamesOfFatHostsAreConverted)
{
    // a name byte 0x82 written by a FAT host (version made by 0x0014), not
    // flagged UTF-8 (the flag the writer set for "é" taken off again)
    ASSERT_EQ(
        Shell("python3 -c 'import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],\"w\")\ni=zipfile.ZipInfo(\"caf\\xe9\")\n"
              "i.create_system=0\nz.writestr(i,\"x\")\nz.close()\nd=bytearray(open(sys.argv[1],\"rb\").read())\n"
              "d=d.replace(b\"caf\\xc3\\xa9\",b\"caf\\x82\\x82\")\nd[7]&=0xF7\nc=d.find(b\"PK\\x01\\x02\")\n"
              "d[c+9]&=0xF7\nopen(sys.argv[1],\"wb\").write(d)' " +
            P("oem.zip")),
        0);
    z.SetZipFileName(P("oem.zip"));
    ASSERT_EQ(z.Count(), 1) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipContents()[0]->FileName.left(4), QString::fromUtf8("café"));
    z.CodePage = cpNone;
    z.List();
    EXPECT_NE(z.ZipContents()[0]->FileName.left(4), QString::fromUtf8("café"));
}

TEST_F(ZipArch, AddAndExtractReportThroughTheEvents)
{
    PutFile(P("src/PATIENT.DBF"), QByteArray::fromStdString(TableLike(2'500'000, 3)));
    PutFile(P("src/sub/EXAMEN.MDX"), QByteArray::fromStdString(TableLike(40'000, 4)));
    z.SetZipFileName(P("b.zip"));
    z.RootDir = P("src");
    z.AddOptions = {AddDirNames, AddRecurseDirs};
    z.SetFSpecArgs({"*.DBF", "*.MDX"});
    z.SetFSpecArgsExcl({"nothing*"});
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 2) << events.messages.join("|").toStdString();
    EXPECT_TRUE(z.FSpecArgs().isEmpty());
    EXPECT_TRUE(z.FSpecArgsExcl().isEmpty());
    ASSERT_EQ(z.Count(), 2);
    EXPECT_EQ(z.ZipContents()[1]->FileName, "sub\\EXAMEN.MDX");
    EXPECT_FALSE(z.ZipEngLoaded());  // loaded by the job, unloaded by it
    EXPECT_EQ(Shell("unzip -tq " + P("b.zip")), 0);
    // files and bytes announced, then each file, then the end
    ASSERT_GE(events.progress.size(), 5);
    EXPECT_EQ(events.progress[0], "files::2");
    EXPECT_EQ(events.progress[1], "size::2540000");
    EXPECT_EQ(events.progress[2], "new:PATIENT.DBF:2500000");
    EXPECT_TRUE(events.progress.contains("new:sub\\EXAMEN.MDX:40000"));
    EXPECT_EQ(events.progress.last(), "end::0");

    events.progress.clear();
    z.ExtrBaseDir = P("out");
    z.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    z.SetFSpecArgs({"*.*", "ignored"});
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 2);
    EXPECT_EQ(FileBytes(P("out/PATIENT.DBF")), FileBytes(P("src/PATIENT.DBF")));
    EXPECT_EQ(FileBytes(P("out/sub/EXAMEN.MDX")), FileBytes(P("src/sub/EXAMEN.MDX")));
    EXPECT_TRUE(z.FSpecArgs().isEmpty());
    EXPECT_EQ(events.progress.last(), "end::0");

    // the overwrite question and the skipped entry
    z.ExtrOptions = {ExtrDirNames};
    QStringList asked;
    z.OnExtractOverwrite = [&](TZipArchiver*, const QString& f, bool, bool& doIt, int) {
        asked << f;
        doIt = f.startsWith("sub");
    };
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 1);
    EXPECT_EQ(asked, (QStringList{"PATIENT.DBF", "sub\\EXAMEN.MDX"}));
    EXPECT_EQ(events.skipped, QStringList{"PATIENT.DBF:1"});  // stNoOverwrite

    // a job cancelled from the progress event: nothing extracted, flags cleared
    QDir(P("out")).removeRecursively();
    z.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    z.OnProgress = [&](TZipArchiver* s, ProgressType t, const QString&, qint64) {
        if (t == ProgressUpdate)
            s->Cancel = true;
    };
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_FALSE(QFile::exists(P("out/PATIENT.DBF")));
    EXPECT_FALSE(z.Cancel);
    EXPECT_FALSE(z.UnzBusy);
}

TEST_F(ZipArch, InputChecksKeepTheJobOut)
{
    z.Add();
    EXPECT_EQ(z.ErrCode, 10301);
    z.SetFSpecArgs({"x"});
    z.Add();
    EXPECT_EQ(z.ErrCode, 10102);
    EXPECT_EQ(z.FSpecArgs(), QStringList{"x"});
    z.SetZipFileName(P("c.zip"));
    z.AddOptions = {AddEncrypt};
    z.Add();
    EXPECT_EQ(z.ErrCode, 10302);
    z.AddOptions = {AddDiskSpan, AddUpdate};
    z.Add();
    EXPECT_EQ(z.ErrCode, 10303);
    z.AddOptions = {AddDiskSpanErase};
    z.SetZipFileName(P("c.ExE"));
    z.Add();
    EXPECT_EQ(z.ErrCode, 11041);
    EXPECT_EQ(z.FSpecArgs(), QStringList{"x"});
    EXPECT_EQ(z.SuccessCnt, 0);
    z.SetZipFileName(P("missing.zip"));
    z.Extract();
    EXPECT_EQ(z.ErrCode, 10102);

    // a second add from an event during the first returns at once
    PutFile(P("f.txt"), "f");
    z.AddOptions = {};
    z.SetZipFileName(P("d.zip"));
    z.SetFSpecArgs({P("f.txt")});
    int inner = -1;
    z.OnProgress = [&](TZipArchiver* s, ProgressType t, const QString&, qint64) {
        if (t != NewFile)
            return;
        int before = events.messages.size();
        s->SetFSpecArgs({P("f.txt")});
        s->Add();
        inner = int(events.messages.size()) - before;
    };
    z.Add();
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(z.SuccessCnt, 1);

    // an exception from a handler stops the job and is reported as the library's fatal error
    z.OnProgress = [](TZipArchiver*, ProgressType, const QString&, qint64) { throw std::runtime_error("handler"); };
    z.SetFSpecArgs({P("f.txt")});
    z.Add();
    EXPECT_EQ(z.ErrCode, 10101);
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_TRUE(z.FSpecArgs().isEmpty());
    EXPECT_FALSE(z.ZipBusy);
}

TEST_F(ZipArch, PasswordsDialogRetriesAndUnattendedExtraction)
{
    PutFile(P("src/S.DBF"), QByteArray(3000, 's'));
    ASSERT_EQ(Shell("cd " + P("src") + " && zip -q -P right ../p.zip S.DBF"), 0);
    z.SetZipFileName(P("p.zip"));
    ASSERT_TRUE(z.ZipContents()[0]->Encrypted);
    z.ExtrBaseDir = P("out");
    z.ExtrOptions = {ExtrOverWrite};

    // unattended, no password, no handler: warning, no question, count restored
    z.SetPasswordReqCount(20);
    EXPECT_EQ(z.PasswordReqCount(), 15u);
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_EQ(events.messages.first(),
        QString::fromUtf8("Avertissement - Extraction effectuée sans surveillance: il est possible que certains "
                          "fichiers n'aient pas été extraits"));
    EXPECT_EQ(events.skipped, QStringList{"S.DBF:3"});  // stBadPassword
    EXPECT_EQ(z.PasswordReqCount(), 15u);

    // the handler answers wrong, then right; the wrong answer is one that
    // the archive's check byte refuses (one password in 256 passes it)
    QString wrong = "wrong";
    for (int n = 1; n < 64 && Shell("unzip -t -P " + wrong + " " + P("p.zip") + " 2>&1 | grep -q 'incorrect password'");
         ++n)
        wrong = "wrong" + QString::number(n);
    QStringList answers{wrong, "right"};
    int calls = 0;
    z.OnPasswordError = [&](TZipArchiver*, bool isZip, QString& pw, const QString& file, unsigned& repeat,
                            TPasswordButton&) {
        EXPECT_FALSE(isZip);
        EXPECT_EQ(file, "S.DBF");
        pw = answers[calls++];
        repeat = 20;
    };
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 1);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(FileBytes(P("out/S.DBF")), QByteArray(3000, 's'));

    // the dialog, typed by the user: the extract dialog has three buttons
    z.OnPasswordError = nullptr;
    z.Unattended = false;
    int width3 = 0;
    std::function<void()> type = [&] {
        auto* dlg = qobject_cast<TPasswordDlg*>(QApplication::activeModalWidget());
        if (!dlg) {
            QTimer::singleShot(10, type);
            return;
        }
        width3 = dlg->width();
        EXPECT_EQ(dlg->ButtonCount(), 3);
        dlg->edPassword()->setText("right");
        dlg->Button(pwbOk)->click();
    };
    QTimer::singleShot(0, type);
    QFile::remove(P("out/S.DBF"));
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 1);
    EXPECT_TRUE(QFile::exists(P("out/S.DBF")));

    // the add dialog asks twice; two different answers: message 10104, no archive
    boxes.Clear();
    int shown = 0, width2 = 0;
    std::function<void()> answer = [&] {
        auto* dlg = qobject_cast<TPasswordDlg*>(QApplication::activeModalWidget());
        if (!dlg) {
            QTimer::singleShot(10, answer);
            return;
        }
        width2 = dlg->width();
        dlg->edPassword()->setText(++shown == 1 ? "one" : "two");
        dlg->Button(pwbOk)->click();
        if (shown == 1)
            QTimer::singleShot(0, answer);
    };
    QTimer::singleShot(0, answer);
    z.AddOptions = {AddEncrypt};
    z.SetFSpecArgs({P("src/S.DBF")});
    z.SetZipFileName(P("new.zip"));
    z.Add();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(width3 - width2, TPasswordDlg::kWidthPerButton);
    ASSERT_GE(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QString::fromUtf8("Erreur - mots de passe différents\nMot de passe ignoré"));
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_FALSE(QFile::exists(P("new.zip")));
}

TEST_F(ZipArch, EraseFileAndTemporaryNames)
{
    PutFile(P("gone.zip"), "x");
    QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    EXPECT_EQ(z.EraseFile("gone.zip", htdFinal), 0);
    QDir::setCurrent(cwd);
    EXPECT_FALSE(QFile::exists(P("gone.zip")));
    EXPECT_EQ(z.EraseFile(P("gone.zip"), htdFinal), -1);
    // with undo allowed: to the trash
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    PutFile(P("old.zip"), "old");
    EXPECT_EQ(z.EraseFile(P("old.zip"), htdAllowUndo), 0);
    EXPECT_FALSE(QFile::exists(P("old.zip")));
    EXPECT_EQ(FileBytes(home.filePath("Trash/files/old.zip")), "old");
    qunsetenv("XDG_DATA_HOME");

    z.TempDir = dir.path();
    QString t = z.MakeTempFileName();
    EXPECT_EQ(z.TempDir, dir.path() + "/");
    EXPECT_TRUE(t.startsWith(dir.path() + "/zip"));
    EXPECT_TRUE(t.endsWith(".zip"));
    EXPECT_FALSE(QFile::exists(t));

    // the chunked copy: a length, then to the end
    PutFile(P("in.bin"), QByteArray(20000, 'c'));
    QFile in(P("in.bin")), out(P("out.bin"));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
    EXPECT_EQ(z.CopyBuffer(in, out, 9000), 0);
    EXPECT_EQ(out.size(), 9000);
    EXPECT_EQ(z.CopyBuffer(in, out, -1), 0);
    out.close();
    EXPECT_EQ(FileBytes(P("out.bin")), QByteArray(20000, 'c'));
}

// The directory reader on the fuzz corpus: valid archives keep their name,
// damaged ones end as one message and an empty name.
TEST_F(ZipArch, CorpusReplayThroughList)
{
    QDir corpus(QStringLiteral(KORVALE_SOURCE_DIR "/tests/zipeng/corpus"));
    // the named ones are sound enough to list; the others (cut, lying, found by fuzzing) may fail
    const QStringList valid{"7z.zip", "zip_plain.zip", "zip_comment.zip", "zip_crypt.zip", "zip_descriptor.zip",
        "end_only.zip", "py_hostile_names.zip", "py_bomb.zip", "py_overlap.zip", "zip64_small.zip"};
    int seen = 0;
    for (const QFileInfo& fi : corpus.entryInfoList(QDir::Files)) {
        SCOPED_TRACE(fi.fileName().toStdString());
        events.messages.clear();
        z.SetZipFileName(fi.absoluteFilePath());
        if (valid.contains(fi.fileName())) {
            EXPECT_EQ(z.ZipFileName(), fi.absoluteFilePath()) << events.messages.join("|").toStdString();
        } else if (z.ZipFileName().isEmpty()) {
            EXPECT_GE(events.messages.size(), 1);  // a damaged file: at least its error
        }
        ++seen;
    }
    EXPECT_GE(seen, 10);
    z.SetZipFileName(corpus.filePath("zip_comment.zip"));
    EXPECT_EQ(z.ZipComment.toStdString(), "un commentaire");
}

TEST_F(ZipArch, BlocksCarryTheOptionsAndTheFileMasks)
{
    TZipArchiver::JobTexts texts;
    zipeng::ZipParams p{};
    z.AddOptions = {AddFreshen, AddUpdate, AddEncrypt, AddRecurseDirs};
    z.Password = "pw";
    z.RootDir = dir.path();
    z.SetFSpecArgs({">*.DBF<own", "|sub/*.MDX<", "plain"});
    z.SetZipSwitches(p, texts, "x.zip", 171);
    z.FillZipSpecs(p, texts);
    EXPECT_EQ(p.freshen, 0);  // update wins
    ASSERT_NE(p.fileSpecs, nullptr);
    EXPECT_STREQ(p.fileSpecs[0].fileSpec, "*.DBF");
    EXPECT_STREQ(p.fileSpecs[0].password, "own");
    EXPECT_EQ(p.fileSpecs[0].encrypt, 65535);
    EXPECT_EQ(p.fileSpecs[0].recurse, 0xFFFF);
    EXPECT_STREQ(p.fileSpecs[1].fileSpec, "sub/*.MDX");
    EXPECT_EQ(p.fileSpecs[1].password, nullptr);
    EXPECT_EQ(p.fileSpecs[1].encrypt, 0);
    EXPECT_EQ(p.fileSpecs[1].recurse, 0);
    EXPECT_STREQ(p.fileSpecs[2].password, "pw");
    EXPECT_EQ(p.fileSpecs[2].encrypt, -1);
    EXPECT_STREQ(p.fileSpecs[2].rootDir, dir.path().toUtf8().constData());
    EXPECT_EQ(TZipArchiver::StoreSuffixList({assGZIP}), ".gzip");
}

TEST_F(ZipArch, CallbackAnswersPasswordsAndFollowsCancel)
{
    zipeng::CallbackRecord r{};
    r.caller = &z;
    r.action = zipeng::actPassword;
    r.value2 = 3;
    EXPECT_EQ(TZipArchiver::ZCallback(&r), 0);  // unattended, no handler: no dialog
    EXPECT_EQ(r.value1, 0);
    EXPECT_EQ(r.value2, 0);
    EXPECT_EQ(z.ErrCode, 10151);
    r.value1 = 1;
    TZipArchiver::ZCallback(&r);
    EXPECT_EQ(z.ErrCode, 10150);

    z.OnPasswordError = [](TZipArchiver*, bool, QString& pw, const QString&, unsigned& repeat, TPasswordButton& a) {
        pw = "typed";
        repeat = 20;
        a = pwbOk;
    };
    r = {};
    r.caller = &z;
    r.action = zipeng::actPassword;
    TZipArchiver::ZCallback(&r);
    EXPECT_STREQ(r.text, "typed");
    EXPECT_EQ(r.value1, 1);
    EXPECT_EQ(r.value2, 15);
    z.OnPasswordError = [](TZipArchiver*, bool, QString&, const QString&, unsigned&, TPasswordButton& a) {
        a = pwbAbort;
    };
    EXPECT_EQ(TZipArchiver::ZCallback(&r), -1);
    EXPECT_TRUE(z.Cancel);
    r.action = 14;
    EXPECT_EQ(TZipArchiver::ZCallback(&r), -1);
    z.Cancel = false;
    EXPECT_EQ(TZipArchiver::ZCallback(&r), 0);

    // a library message keeps its code, and names files as the system
    // does (it is shown as it is)
    r = {};
    r.caller = &z;
    r.action = zipeng::actMessage;
    r.value1 = 0x1234;
    std::strcpy(r.text, "dir/name  \n");
    TZipArchiver::ZCallback(&r);
    EXPECT_EQ(z.ErrCode, 0x34);
    EXPECT_EQ(z.FullErrCode, 0x1234);
    EXPECT_EQ(z.Message, "dir/name");
}

TEST_F(ZipArch, ExceptionsRecordListAndWaitCursor)
{
    EXPECT_EQ(EZipArchiver::CreateResFmtInt(11038, 3).Message(),
        QString::fromUtf8("Ceci est le 3ème disque d'une sauvegarde,\ninsérer le dernier disque"));
    EZipArchiver missing = EZipArchiver::CreateResDisp(10304, false);
    EXPECT_EQ(missing.Message(), QString::fromUtf8(kZipMissingText) + "10304");
    EXPECT_FALSE(missing.DisplayMsg);
    EXPECT_EQ(EZipArchiver::CreateResFmtStr(11004, "/mnt").Message(), "Lecteur non défini: /mnt");

    TMZipDataList list(3);
    std::strcpy(reinterpret_cast<char*>(list.GetItem(2) + 10), "Cons.DBF");
    EXPECT_EQ(list.IndexOf("CONS.dbf"), 2);
    try {
        list.IndexOf("other");
        ADD_FAILURE();
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.ResId, 11026);
    }
    try {
        list.GetItem(3);
        ADD_FAILURE();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Index (3) outside range 1..2");
    }

    // nested waits restore the cursor at the outermost stop only; a stray stop changes nothing
    z.StopWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    z.StartWaitCursor();
    z.StartWaitCursor();
    z.StopWaitCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    z.StopWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // with the designer flag, setting the name reads nothing
    MakeZip();
    z.Designing = true;
    z.SetZipFileName(P("a.zip"));
    EXPECT_EQ(z.Count(), 0);
    EXPECT_EQ(events.dirUpdates, 0);
}

}  // namespace

namespace {

// Python's zipfile as an outside reader: its exit status says whether the
// archive opens and every entry checks; Extra is more of its code, run with
// the archive open as z.
int PythonReads(const QString& archive, const QString& extra = {}, const QString& password = {})
{
    return Shell("python3 -c 'import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n" +
        (password.isEmpty() ? QString() : "z.setpassword(b\"" + password + "\")\n") +
        "sys.exit(1 if z.testzip() is not None else 0)' " + archive + (extra.isEmpty() ? QString() : " && " + extra));
}

// Names and comments as the outside readers take them: a name that is no
// UTF-8 is not flagged so (Python refused the whole archive) and goes in the
// OEM code page; a comment read from the archive comes back byte for byte
// at every add, whatever its encoding.
TEST_F(ZipArch, NamesAndCommentsKeepTheirBytesForOutsideReaders)
{
    PutFile(P("src/caf\xc3\xa9.txt"), "utf");
    ASSERT_EQ(Shell("cd " + P("src") + " && (printf latin > \"$(printf '\\351t\\351.txt')\")"), 0);
    z.SetZipFileName(P("n.zip"));
    z.RootDir = P("src");
    z.SetFSpecArgs({"*.*"});
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 2) << events.messages.join("|").toStdString();
    EXPECT_EQ(PythonReads(P("n.zip")), 0);
    EXPECT_EQ(Shell("python3 -c 'import sys,zipfile\nn=sorted(zipfile.ZipFile(sys.argv[1]).namelist())\n"
                    "sys.exit(n!=[\"caf\\u00e9.txt\",\"\\u00e9t\\u00e9.txt\"])' " +
                  P("n.zip")),
        0);
    EXPECT_EQ(Shell("unzip -tq " + P("n.zip")), 0);
    EXPECT_EQ(Shell("7z t " + P("n.zip")), 0);
    QStringList names;
    for (const ZipDirEntry* e : z.ZipContents())
        names << e->FileName;
    names.sort();
    EXPECT_EQ(names, (QStringList{QString::fromUtf8("café.txt"), QString::fromUtf8("été.txt")}));
    // extracted under its name in UTF-8
    z.ExtrBaseDir = P("out");
    z.ExtrOptions = {ExtrOverWrite};
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 2);
    EXPECT_EQ(FileBytes(P("out/") + QString::fromUtf8("été.txt")), "latin");

    // an accented comment written by zip, in UTF-8, then one in the OEM code page
    PutFile(P("k/a.txt"), "a");
    ASSERT_EQ(Shell("cd " + P("k") + " && zip -q ../k.zip a.txt"), 0);
    for (const QByteArray& comment : {QByteArray("d\xc3\xa9"
                                                 "cembre"),
             QByteArray("d\x82"
                        "cembre")}) {
        SCOPED_TRACE(comment.toHex().toStdString());
        PutFile(P("c.txt"), comment);
        ASSERT_EQ(Shell("zip -qz " + P("k.zip") + " < " + P("c.txt")), 0);
        TZipArchiver fresh;
        fresh.Unattended = true;
        fresh.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
        fresh.SetZipFileName(P("k.zip"));
        EXPECT_EQ(fresh.ZipComment, QString::fromUtf8("décembre"));
        for (int round = 0; round < 2; ++round) {
            PutFile(P("src/r%1.txt").arg(round), "r");
            fresh.RootDir = P("src");
            fresh.SetFSpecArgs({QStringLiteral("r%1.txt").arg(round)});
            fresh.Add();
            ASSERT_EQ(fresh.SuccessCnt, 1) << fresh.Message.toStdString();
        }
        EXPECT_TRUE(FileBytes(P("k.zip")).endsWith(comment));
        EXPECT_EQ(PythonReads(P("k.zip")), 0);
        EXPECT_EQ(Shell("unzip -tq " + P("k.zip")), 0);
        QFile::remove(P("src/r0.txt"));
        QFile::remove(P("src/r1.txt"));
    }
}

// The directory read to the end its size gives: an archive of 70 000 entries
// whose 16-bit count wrapped (no 64-bit record) lists and tests them all; a
// small archive in the 64-bit format lists, extracts and takes an add.
TEST_F(ZipArch, CountPastSixteenBitsAndSmallSixtyFourBitArchives)
{
    ASSERT_EQ(Shell("python3 -c 'import struct,zlib,sys\nl=bytearray();c=bytearray()\nfor i in range(70000):\n"
                    " n=b\"e%05d\"%i;o=len(l)\n"
                    " l+=struct.pack(\"<IHHHIIIIHH\",0x04034b50,10,0,0,0x210000,0,0,0,len(n),0)+n\n"
                    " c+=struct.pack(\"<IHHHHIIIIHHHHHII\",0x02014b50,20,10,0,0,0x210000,0,0,0,len(n),0,0,0,0,0,o)+n\n"
                    "e=struct.pack(\"<IHHHHIIH\",0x06054b50,0,0,70000&0xFFFF,70000&0xFFFF,len(c),len(l),0)\n"
                    "open(sys.argv[1],\"wb\").write(l+c+e)' " +
                  P("wrap.zip")),
        0);
    z.SetZipFileName(P("wrap.zip"));
    EXPECT_EQ(z.Count(), 70000) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipContents().last()->FileName, "e69999");
    z.ExtrOptions = {ExtrTest};
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 70000) << z.Message.toStdString();
    // the same count with entries missing from the directory: refused, not half read
    QByteArray cut = FileBytes(P("wrap.zip"));
    const int cdAt = int(cut.indexOf(QByteArray("PK\1\2", 4)));
    ASSERT_GT(cdAt, 0);
    cut.remove(cdAt, 52 * 3);
    auto* end = reinterpret_cast<unsigned char*>(cut.data()) + cut.size() - 22;
    ziprec::Put32(end + 12, ziprec::Get32(end + 12) - 52 * 3);
    PutFile(P("short.zip"), cut);
    z.SetZipFileName(P("short.zip"));
    EXPECT_TRUE(z.ZipFileName().isEmpty());
    EXPECT_EQ(z.ErrCode, 11013);
    // and by the library (the file changed under a listed name)
    z.SetZipFileName(P("wrap.zip"));
    PutFile(P("wrap.zip"), cut);
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_EQ(z.Message, QString::fromUtf8("le nombre d'entrées ne correspond pas au répertoire central"));

    // zip's forced 64-bit format on two small files
    PutFile(P("src/a.txt"), "hello\n");
    PutFile(P("src/b.txt"), QByteArray::fromStdString(TableLike(20'000, 7)));
    ASSERT_EQ(Shell("cd " + P("src") + " && zip -q -fz ../z64.zip a.txt b.txt"), 0);
    events.messages.clear();
    z.SetZipFileName(P("z64.zip"));
    ASSERT_EQ(z.Count(), 2) << events.messages.join("|").toStdString();
    EXPECT_TRUE(events.messages.isEmpty()) << events.messages.join("|").toStdString();
    EXPECT_EQ(z.ZipContents()[0]->UncompressedSize, 6u);
    EXPECT_EQ(z.SFXOffset, 0);
    z.ExtrBaseDir = P("out64");
    z.ExtrOptions = {ExtrOverWrite};
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 2) << z.Message.toStdString();
    EXPECT_EQ(FileBytes(P("out64/b.txt")), FileBytes(P("src/b.txt")));
    PutFile(P("src/c.txt"), "third");
    z.RootDir = P("src");
    z.SetFSpecArgs({"c.txt"});
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 1) << z.Message.toStdString();
    EXPECT_EQ(z.Count(), 3);
    EXPECT_EQ(Shell("unzip -tq " + P("z64.zip")), 0);
    EXPECT_EQ(Shell("7z t " + P("z64.zip")), 0);
    EXPECT_EQ(PythonReads(P("z64.zip")), 0);
    // its directory is classic now: no 64-bit field is left in it
    for (const ZipDirEntry* e : z.ZipContents()) {
        const auto* x = reinterpret_cast<const unsigned char*>(e->ExtraData.constData());
        for (qsizetype i = 0; i + 4 <= e->ExtraData.size(); i += 4 + ziprec::Get16(x + i + 2))
            EXPECT_NE(ziprec::Get16(x + i), 1) << e->FileName.toStdString();
    }
}

// A file that does not compress, larger than one chunk of the add job, is
// stored: its entry is no larger than the file.
TEST_F(ZipArch, IncompressibleFileIsStored)
{
    QByteArray noise(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    PutFile(P("src/PHOTO.JPG"), noise);
    z.SetZipFileName(P("s.zip"));
    z.RootDir = P("src");
    z.SetFSpecArgs({"PHOTO.JPG"});
    z.Add();
    ASSERT_EQ(z.SuccessCnt, 1) << events.messages.join("|").toStdString();
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ZipContents()[0]->Method, 0);
    EXPECT_EQ(z.ZipContents()[0]->CompressedSize, uint32_t(noise.size()));
    EXPECT_LT(QFileInfo(P("s.zip")).size(), noise.size() + 200);
    EXPECT_EQ(Shell("unzip -tq " + P("s.zip")), 0);
    EXPECT_EQ(Shell("7z t " + P("s.zip")), 0);
    EXPECT_EQ(PythonReads(P("s.zip")), 0);
}

// What the libraries say reaches the user in French, naming the entry: an
// entry encrypted with AES (method 99) is refused as such.
TEST_F(ZipArch, LibraryMessagesAreFrenchAndNameTheEntry)
{
    PutFile(P("src/ORDONNANCE.RTF"), "{\\rtf1 secret}");
    ASSERT_EQ(Shell("cd " + P("src") + " && 7z a -tzip -mem=AES256 -pclef " + P("aes.zip") + " ORDONNANCE.RTF"), 0);
    z.SetZipFileName(P("aes.zip"));
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ZipContents()[0]->Method, 99);
    z.Password = QStringLiteral("clef");
    z.ExtrBaseDir = P("out");
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_EQ(events.skipped, QStringList{"ORDONNANCE.RTF:5"});  // stCompressionUnknown
    EXPECT_TRUE(events.messages.contains(
        QString::fromUtf8("10c:méthode de compression 99 (chiffrement AES) non prise en charge : ORDONNANCE.RTF")))
        << events.messages.join("|").toStdString();
    EXPECT_FALSE(QFile::exists(P("out/ORDONNANCE.RTF")));

    // a file that is no archive: the library's own words, in French
    PutFile(P("faux.zip"), QByteArray(100, 'x'));
    events.messages.clear();
    z.SetZipFileName(P("aes.zip"));
    QFile::remove(P("aes.zip"));
    QFile::copy(P("faux.zip"), P("aes.zip"));
    z.Extract();
    EXPECT_EQ(z.SuccessCnt, 0);
    EXPECT_EQ(z.Message, QString::fromUtf8("ce n'est pas une archive zip (fin du répertoire central introuvable)"));
}

// Links made by earlier entries are never followed when later ones are
// written, with the directory names kept: a link to "." then a link to ".."
// through it would have taken the next entries out of the target.
TEST_F(ZipArch, LinkChainsNeverLeadOutOfTheTarget)
{
    ASSERT_EQ(
        Shell("python3 -c 'import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],\"w\")\n"
              "def link(n,t):\n i=zipfile.ZipInfo(n);i.create_system=3;i.external_attr=0o120777<<16;z.writestr(i,t)\n"
              "link(\"x\",\".\")\nlink(\"x/l\",\"..\")\nz.writestr(\"x/l/evil/f.txt\",\"out\")\n"
              "z.writestr(\"x/l/g.txt\",\"out\")\nz.writestr(\"l/h.txt\",\"out\")\n"
              "z.writestr(\"x/l/newdir/\",\"\")\nlink(\"d/up\",\"../ok.txt\")\n"
              "z.writestr(\"ok.txt\",\"fine\")\nz.close()' " +
            P("chain.zip")),
        0);
    QDir().mkpath(P("target"));
    z.SetZipFileName(P("chain.zip"));
    z.ExtrBaseDir = P("target");
    z.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    z.Extract();
    for (const char* outside : {"evil", "g.txt", "h.txt", "newdir", "l"}) {
        SCOPED_TRACE(outside);
        EXPECT_FALSE(QFileInfo::exists(P(outside)));
        EXPECT_FALSE(QFileInfo(P(outside)).isSymLink());
    }
    EXPECT_EQ(FileBytes(P("target/ok.txt")), "fine");
    EXPECT_EQ(QFileInfo(P("target/d/up")).symLinkTarget(), P("target/ok.txt"));
    EXPECT_EQ(FileBytes(P("target/d/up")), "fine");
    // no link out of the target is left behind either
    for (QDirIterator it(
             P("target"), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo fi(it.next());
        if (fi.isSymLink()) {
            EXPECT_TRUE(fi.symLinkTarget().startsWith(P("target"))) << fi.filePath().toStdString();
        }
    }
    EXPECT_EQ(z.SuccessCnt, 4) << events.messages.join("|").toStdString();  // x, l/h.txt, d/up, ok.txt
    EXPECT_EQ(FileBytes(P("target/l/h.txt")), "out");
}

}  // namespace
