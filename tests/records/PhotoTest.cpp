// The photo slots driven as a user does: pictures chosen through the
// context's picture step, boxes answered by the recording message service,
// FPHOTO rows and PhotoDir files checked afterwards.
#include "RecordsFixture.h"
#include "app/global/AppContext.h"
#include "app/records/UImage.h"
#include "app/records/UPhoto.h"
#include "platform/ui/Messages.h"
#include "tests/support/ExifJpeg.h"
#include "tests/support/FileSizeLimit.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>

#include <atomic>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

class PhotoTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "DUPONT", "Marie");
        AddPatient("000002", "MARTIN", "Paul");
        CurrentPatientCode = "000001";
        practice_.context().choosePicture = [this](QWidget*) {
            return chosen_.isEmpty() ? QString() : chosen_.takeFirst();
        };
    }

    // A JPEG file of w x h in the camera folder; `tint` tells pictures apart.
    QString Camera(const QString& name, int tint = 0, int w = 64, int h = 48)
    {
        QDir().mkpath(camera_.path() + "/" + QString::number(tint));
        const QString path = camera_.path() + "/" + QString::number(tint) + "/" + name;
        QImage im(w, h, QImage::Format_RGB32);
        im.fill(QColor(tint * 10 % 256, 100, 200));
        EXPECT_TRUE(im.save(path, "JPG"));
        return path;
    }
    void Add(TfrmPhoto& frm, const QString& file)
    {
        chosen_ << file;
        frm.btnAddClick();
    }
    QStringList Photos(const QString& code = "000001")
    {
        return Rows("SELECT NUM, PHOTO FROM FPHOTO WHERE CODE='" + code + "' ORDER BY NUM");
    }
    static QByteArray Bytes(const QString& path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    QStringList chosen_;
    QTemporaryDir camera_;
    kui::ScopedMessageRecorder messages_;
};

}  // namespace

TEST_F(PhotoTest, SlotsFillInContainerOrderThenReplace)
{
    TfrmPhoto frm(practice_.context());
    EXPECT_EQ(frm.lName()->text(), QStringLiteral("000001 - DUPONT, %1").arg(QDate::currentDate().year() - 1960));
    EXPECT_FALSE(frm.btnDelete()->isEnabled());
    EXPECT_FALSE(frm.btnPost()->isEnabled());
    EXPECT_FALSE(frm.btnPrint()->isEnabled());

    for (int i = 0; i < 4; ++i)
        Add(frm, Camera(QStringLiteral("P%1.JPG").arg(i), i));
    EXPECT_EQ(Photos(), QStringList({"1|P0.JPG", "2|P2.JPG", "3|P1.JPG", "4|P3.JPG"}));
    EXPECT_EQ(messages_.Count(), 0);

    for (int i = 4; i < 20; ++i)
        Add(frm, Camera(QStringLiteral("P%1.JPG").arg(i), i));
    Add(frm, Camera("P0.JPG", 0));  // the same file again: reused in a second slot
    EXPECT_EQ(Photos().size(), 21);
    EXPECT_EQ(frm.FirstFreeImage(), nullptr);
    int twin = 0;
    for (int tag = 2; tag <= 21; ++tag)
        if (frm.Image(tag)->FileName == QStringLiteral("P0.JPG"))
            twin = tag;
    ASSERT_NE(twin, 0);

    // All full: the selected slot is replaced on Yes only, its twin keeps its row.
    frm.Image1Click(frm.Image(1));
    messages_.Answer(QMessageBox::No);
    Add(frm, Camera("NEW.JPG", 30));
    EXPECT_EQ(messages_.Last().text, QStringLiteral("Voulez-vous remplacer la photo ?"));
    EXPECT_FALSE(Photos().contains("1|NEW.JPG"));
    messages_.Answer(QMessageBox::Yes);
    Add(frm, Camera("NEW.JPG", 30));
    const QStringList rows = Photos();
    EXPECT_EQ(rows.size(), 21);
    EXPECT_TRUE(rows.contains("1|NEW.JPG"));
    EXPECT_FALSE(rows.contains("1|P0.JPG"));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|P0.JPG").arg(twin)));
    EXPECT_EQ(frm.Image(1)->FileName, QStringLiteral("NEW.JPG"));

    // A reopened screen reads them back into the same slots.
    TfrmPhoto again(practice_.context());
    EXPECT_EQ(again.Image(3)->FileName, QStringLiteral("P1.JPG"));
    EXPECT_TRUE(again.Image(21)->HasPicture());
    // A thumbnail fills its whole slot: the 64 x 48 photo stretched to 51 x 56,
    // its colour in the corners as in the middle.
    const QImage shown = again.Image(21)->grab().toImage();
    ASSERT_EQ(shown.size(), TfrmPhoto::kThumbSize);
    const QColor middle = shown.pixelColor(25, 28);
    EXPECT_LT(middle.green(), 140) << "the photo, not the grey tile";
    for (const QPoint corner : {QPoint(1, 1), QPoint(49, 1), QPoint(1, 54), QPoint(49, 54)}) {
        const QColor c = shown.pixelColor(corner);
        EXPECT_LE(std::abs(c.red() - middle.red()) + std::abs(c.green() - middle.green()) +
                std::abs(c.blue() - middle.blue()),
            30)
            << corner.x() << "," << corner.y();
    }
    EXPECT_EQ(again.ImageX()->pixmap().size(), QSize(64, 48));  // slot 1 at full size
}

TEST_F(PhotoTest, DeleteSaveCancelAndDragDrop)
{
    TfrmPhoto frm(practice_.context());
    for (int i = 0; i < 5; ++i)
        Add(frm, Camera(QStringLiteral("P%1.JPG").arg(i), i));  // slots 1, 3, 2, 4, 5
    frm.Image1Click(frm.Image(2));
    messages_.Answer(QMessageBox::Yes);
    frm.btnDeleteClick();
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    frm.btnCancelClick();
    EXPECT_EQ(frm.Image(2)->FileName, QStringLiteral("P2.JPG"));
    EXPECT_FALSE(frm.btnPost()->isEnabled());

    messages_.Answer(QMessageBox::Yes);
    frm.btnDeleteClick();
    frm.btnPostClick();
    EXPECT_EQ(Photos(), QStringList({"1|P0.JPG", "3|P1.JPG", "4|P3.JPG", "5|P4.JPG"}));
    EXPECT_TRUE(QFile::exists(PhotoDir + "P2.JPG"));  // the file stays

    frm.Image1DragDrop(frm.Image(9), frm.Image(5));
    EXPECT_FALSE(frm.Image(5)->HasPicture());
    EXPECT_TRUE(frm.Image(9)->HasPicture());
    frm.btnPostClick();
    EXPECT_EQ(Photos(), QStringList({"1|P0.JPG", "3|P1.JPG", "4|P3.JPG", "9|P4.JPG"}));
}

TEST_F(PhotoTest, PrintQueue)
{
    TfrmPhoto frm(practice_.context());
    Add(frm, Camera("A.JPG", 1));
    frm.Image1Click(frm.Image(2));
    frm.btnAddtoPrintClick();  // empty slot: nothing
    EXPECT_TRUE(frm.PrintList.isEmpty());
    frm.mnDelFromSpoolClick();
    EXPECT_EQ(messages_.Last().text, QStringLiteral("La photo n'est pas dans la file d'impression !"));

    frm.Image1Click(frm.Image(1));
    frm.btnAddtoPrintClick();
    frm.btnAddtoPrintClick();
    EXPECT_EQ(messages_.Last().text, QStringLiteral("La photo est dèjà dans la file d'impression !"));
    EXPECT_EQ(frm.PrintList, QStringList({"A.JPG"}));
    EXPECT_EQ(frm.StatusPanel(2), QStringLiteral("1 Photos à imprimer"));
    EXPECT_TRUE(frm.btnPrint()->isEnabled());
    frm.mnDelFromSpoolClick();
    EXPECT_EQ(messages_.Last().text, QStringLiteral("La photo est retirée de la file d'impression !"));
    EXPECT_EQ(frm.StatusPanel(2), QStringLiteral("0 Photos à imprimer"));
    EXPECT_FALSE(frm.btnPrint()->isEnabled());

    // A queue of 200: the entry at position 150 is removed like the first.
    for (int i = 0; i < 200; ++i)
        frm.PrintList << QStringLiteral("Q%1.JPG").arg(i);
    frm.Image1Click(frm.Image(1));
    frm.PrintList[150] = "A.JPG";
    frm.mnDelFromSpoolClick();
    EXPECT_EQ(frm.PrintList.size(), 199);
    EXPECT_FALSE(frm.PrintList.contains("A.JPG"));
    EXPECT_EQ(frm.StatusPanel(2), QStringLiteral("199 Photos à imprimer"));

    messages_.Answer(QMessageBox::No);
    frm.mnDelAllClick();
    EXPECT_EQ(frm.PrintList.size(), 199);
    messages_.Answer(QMessageBox::Yes);
    frm.mnDelAllClick();
    EXPECT_TRUE(frm.PrintList.isEmpty());
    EXPECT_EQ(frm.StatusPanel(2), QStringLiteral("0 Photos à imprimer"));
}

TEST_F(PhotoTest, FilesAreCopiedAsTheyAreUnderAFreeName)
{
    // Bytes after the picture's end (as cameras leave) survive: no re-encoding.
    const QString first = Camera("IMG_0001.JPG", 1);
    {
        QFile f(first);
        f.open(QIODevice::Append);
        f.write("trailing camera data");
    }
    {
        TfrmPhoto frm(practice_.context());
        Add(frm, first);
    }
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001.JPG"), Bytes(first));

    // Another patient's camera reuses the name: a free name, the first file kept.
    CurrentPatientCode = "000002";
    const QString second = Camera("IMG_0001.JPG", 2);
    const QString quoted = Camera("l'épaule.jpg", 3);
    const QString longName = Camera(QString(70, 'x') + ".jpg", 4);
    const QString damaged = camera_.path() + "/broken.jpg";
    {
        QFile f(damaged);
        f.open(QIODevice::WriteOnly);
        f.write(Bytes(second).left(200));
    }
    TfrmPhoto frm(practice_.context());
    Add(frm, second);
    Add(frm, quoted);
    Add(frm, longName);
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001.JPG"), Bytes(first));
    const QStringList rows = Photos("000002");
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "1|IMG_0001_1.JPG");
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001_1.JPG"), Bytes(second));
    EXPECT_EQ(rows[1], "2|" + QString(70, 'x').left(TfrmPhoto::kNameWidth - 6) + "_1.jpg");
    EXPECT_EQ(rows[2], QStringLiteral("3|l'épaule.jpg"));
    EXPECT_EQ(Photos("000001"), QStringList({"1|IMG_0001.JPG"}));

    // The same file added again is not copied twice.
    Add(frm, first);
    EXPECT_TRUE(Photos("000002").contains("4|IMG_0001.JPG"));
    EXPECT_FALSE(QFile::exists(PhotoDir + "IMG_0001_2.JPG"));

    // A damaged picture: the message, no row, no file.
    Add(frm, damaged);
    EXPECT_EQ(messages_.Last().text, QStringLiteral("Format d'image incorrect !"));
    EXPECT_EQ(Photos("000002").size(), 4);
    EXPECT_FALSE(QFile::exists(PhotoDir + "broken.jpg"));

    // Reloaded with the quoted name, then saved and read again.
    TfrmPhoto again(practice_.context());
    EXPECT_EQ(again.Image(3)->FileName, QStringLiteral("l'épaule.jpg"));
    again.Image1DragDrop(again.Image(6), again.Image(3));
    again.btnPostClick();
    EXPECT_TRUE(Photos("000002").contains(QStringLiteral("6|l'épaule.jpg")));
}

TEST_F(PhotoTest, PatientWithoutBirthDateAndMissingFiles)
{
    AddPatient("000003", "BERNARD", "Luc", "00/00/1950", "74");
    CurrentPatientCode = "000003";
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000003', '4', 'gone.jpg')");
    QFile junk(PhotoDir + "junk.jpg");
    junk.open(QIODevice::WriteOnly);
    junk.write("not a picture");
    junk.close();
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000003', '5', 'junk.jpg')");
    TfrmPhoto frm(practice_.context());
    EXPECT_EQ(frm.lName()->text(), QStringLiteral("000003 - BERNARD Luc, 74"));
    EXPECT_FALSE(frm.Image(4)->HasPicture());
    EXPECT_FALSE(frm.Image(5)->HasPicture());
    EXPECT_EQ(messages_.Count(), 0);
}

// A name another patient's row holds is not taken, even when its file is
// not in the folder (not copied back after a restore on a new machine); a
// name with letters outside Windows-1252 is recorded, and copied, under a
// name the table holds, so the photo is found again.
TEST_F(PhotoTest, NewPhotosTakeNoNameARowHoldsAndANameTheTableCanHold)
{
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000002', '1', 'IMG_0001.JPG')");
    ASSERT_FALSE(QFile::exists(PhotoDir + "IMG_0001.JPG"));
    const QString camera = Camera("IMG_0001.JPG", 1);
    const QString lodz = Camera(QStringLiteral("Łódź plaie.jpg"), 2);
    {
        TfrmPhoto frm(practice_.context());
        ShowActive(&frm);
        auto* add = frm.findChild<QToolButton*>("btnAdd");
        ASSERT_NE(add, nullptr);
        chosen_ << camera;
        QTest::mouseClick(add, Qt::LeftButton);
        chosen_ << lodz;
        QTest::mouseClick(add, Qt::LeftButton);
    }
    EXPECT_EQ(messages_.Count(), 0);
    EXPECT_EQ(Photos("000001"), (QStringList{"1|IMG_0001_1.JPG", QStringLiteral("3|Lódz plaie.jpg")}));
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001_1.JPG"), Bytes(camera));
    EXPECT_EQ(Bytes(PhotoDir + QStringLiteral("Lódz plaie.jpg")), Bytes(lodz));
    EXPECT_FALSE(QFile::exists(PhotoDir + "IMG_0001.JPG"));
    EXPECT_FALSE(QFile::exists(PhotoDir + QStringLiteral("Łódź plaie.jpg")));

    TfrmPhoto again(practice_.context());
    EXPECT_TRUE(again.Image(1)->HasPicture());
    EXPECT_TRUE(again.Image(3)->HasPicture());
    EXPECT_EQ(again.Image(3)->FileName, QStringLiteral("Lódz plaie.jpg"));
    CurrentPatientCode = "000002";
    TfrmPhoto other(practice_.context());
    EXPECT_FALSE(other.Image(1)->HasPicture());  // the other patient's slot waits for its own file
}

// A copy that fails names the photo folder and why, instead of calling the
// picture's format wrong; nothing is recorded.
TEST_F(PhotoTest, ACopyThatFailsNamesThePhotoFolder)
{
    const QString photo = Camera("IMG_0002.JPG", 3);
    ASSERT_TRUE(QDir(PhotoDir).removeRecursively());
    TfrmPhoto frm(practice_.context());
    ShowActive(&frm);
    auto* add = frm.findChild<QToolButton*>("btnAdd");
    ASSERT_NE(add, nullptr);
    chosen_ << photo;
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text,
        QStringLiteral("La photo n'a pas été ajoutée : le dossier des photos « %1 » n'existe pas.").arg(PhotoDir));
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Warning);
    EXPECT_TRUE(Photos().isEmpty());
    EXPECT_FALSE(frm.Image(1)->HasPicture());

    // A folder that cannot be written into (no mode stops the superuser).
    ASSERT_TRUE(QDir().mkpath(PhotoDir));
    QFile::setPermissions(PhotoDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (!QFileInfo(PhotoDir).isWritable()) {
        chosen_ << photo;
        QTest::mouseClick(add, Qt::LeftButton);
        EXPECT_EQ(messages_.Last().text,
            QStringLiteral("La photo n'a pas été ajoutée : le dossier des photos « %1 » est en lecture seule.")
                .arg(PhotoDir));
        EXPECT_TRUE(Photos().isEmpty());
    }
    QFile::setPermissions(PhotoDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A disk that takes only the first half of the photo (a limit on the
    // size of the files this program writes stands for a full disk): no
    // cut photo is kept in the folder nor named by a row.
    const qint64 size = QFileInfo(photo).size();
    ASSERT_GT(size, 64);
    {
        ScopedFileSizeLimit disk(size / 2);
        chosen_ << photo;
        QTest::mouseClick(add, Qt::LeftButton);
    }
    EXPECT_EQ(messages_.Last().text,
        QStringLiteral("La photo n'a pas été ajoutée : l'écriture dans le dossier des photos « %1 » a échoué.")
            .arg(PhotoDir));
    EXPECT_TRUE(Photos().isEmpty());
    EXPECT_TRUE(QDir(PhotoDir).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(frm.Image(1)->HasPicture());
}

// Two workstations add photos of one name at the same moment: the one whose
// copy takes the name first keeps it; the other's copy, finding the name
// taken meanwhile, takes the next free one. No photo replaces the other's.
TEST_F(PhotoTest, PhotosOfOneNameAddedAtOnceKeepAFileEach)
{
    // A large photo, so that its copy is under way for a while.
    QString photo = Camera("IMG_0001.JPG", 3);
    {
        QFile f(photo);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(16 << 20, '\0'));
    }
    const QByteArray theirs = Bytes(Camera("IMG_0001.JPG", 20));
    // The other workstation: its copy of the same name comes into the
    // folder as soon as this one's copy has begun there.
    const QByteArray folder = QFile::encodeName(PhotoDir);
    const QByteArray target = QFile::encodeName(PhotoDir + "IMG_0001.JPG");
    std::atomic<bool> stop {false}, named {false};
    std::thread other([&] {
        while (!stop && !named) {
            if (DIR* d = ::opendir(folder.constData())) {
                bool copying = false;
                while (const dirent* e = ::readdir(d))
                    copying = copying || (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.'));
                ::closedir(d);
                if (copying) {
                    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                    if (fd >= 0) {
                        (void)!::write(fd, theirs.constData(), static_cast<size_t>(theirs.size()));
                        ::close(fd);
                    }
                    named = true;
                }
            }
        }
    });
    TfrmPhoto frm(practice_.context());
    Add(frm, photo);
    stop = true;
    other.join();
    ASSERT_TRUE(named);
    EXPECT_EQ(messages_.Count(), 0) << messages_.Last().text.toStdString();
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001.JPG"), theirs);
    EXPECT_EQ(Photos(), QStringList{"1|IMG_0001_1.JPG"});
    EXPECT_EQ(Bytes(PhotoDir + "IMG_0001_1.JPG"), Bytes(photo));
    EXPECT_EQ(QDir(PhotoDir).entryList(QDir::Files | QDir::Hidden), (QStringList{"IMG_0001.JPG", "IMG_0001_1.JPG"}));
}

// The photo screen over the program's own context (ProgramContext: no step
// replaced), the screen's own picture-open dialog answered as a user does.
namespace {

class PhotoOwnContextTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "DUPONT", "Marie");
        CurrentPatientCode = "000001";
        ASSERT_FALSE(ProgramContext().choosePicture);
    }
    // Answers the next file dialog, found among the top-level windows, by
    // typing `file` into its name field and pressing Enter (Escape when
    // `file` is empty). `seen` counts the dialogs answered.
    void AnswerFileDialog(const QString& file)
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [this, timer, file] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (!dialog || !dialog->isVisible())
                    continue;
                timer->stop();
                timer->deleteLater();
                ++seen_;
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                if (file.isEmpty() || !name) {
                    QTest::keyClick(dialog, Qt::Key_Escape);
                    return;
                }
                name->setFocus();
                name->setText(file);
                QTest::keyClick(name, Qt::Key_Return);
                return;
            }
        });
        timer->start(10);
    }
    QString Picture(const QString& name, const QByteArray& bytes)
    {
        const QString path = camera_.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static QByteArray Jpeg(const QImage& image, int orientation = 1)
    {
        return testpic::JpegWithOrientation(image, orientation);
    }
    QToolButton* Button(TfrmPhoto& frm, const char* name) { return frm.findChild<QToolButton*>(name); }

    int seen_ = 0;
    QTemporaryDir camera_;
    kui::ScopedMessageRecorder messages_;
};

QImage Halves(QSize size, QColor first, QColor second)
{
    QImage im(size, QImage::Format_RGB32);
    im.fill(second);
    QPainter(&im).fillRect(0, 0, size.width() / 2, size.height(), first);
    return im;
}

}  // namespace

TEST_F(PhotoOwnContextTest, AddPhotoAndItsMenuEntryOpenTheScreensFileDialog)
{
    TfrmPhoto frm(ProgramContext());
    frm.show();
    const QString first = Picture("premiere.jpg", Jpeg(Halves({64, 48}, Qt::red, Qt::blue)));
    AnswerFileDialog(first);
    QTest::mouseClick(Button(frm, "btnAdd"), Qt::LeftButton);
    EXPECT_EQ(seen_, 1);
    EXPECT_EQ(Rows("SELECT NUM, PHOTO FROM FPHOTO WHERE CODE='000001'"), QStringList({"1|premiere.jpg"}));
    EXPECT_TRUE(QFile::exists(PhotoDir + "premiere.jpg"));
    EXPECT_TRUE(frm.Image(1)->HasPicture());

    // The popup menu's entry opens the same dialog.
    const QString second = Picture("seconde.jpg", Jpeg(Halves({64, 48}, Qt::green, Qt::blue)));
    QAction* menuEntry = nullptr;
    for (QAction* a : frm.actions())
        if (a->text() == QStringLiteral("Ajouter une photo"))
            menuEntry = a;
    ASSERT_NE(menuEntry, nullptr);
    AnswerFileDialog(second);
    menuEntry->trigger();
    EXPECT_EQ(seen_, 2);
    EXPECT_EQ(Rows("SELECT NUM, PHOTO FROM FPHOTO WHERE CODE='000001' ORDER BY NUM"),
        QStringList({"1|premiere.jpg", "3|seconde.jpg"}));

    // Cancelled: nothing is added, nothing is said.
    AnswerFileDialog({});
    QTest::mouseClick(Button(frm, "btnAdd"), Qt::LeftButton);
    EXPECT_EQ(seen_, 3);
    EXPECT_EQ(Rows("SELECT NUM FROM FPHOTO WHERE CODE='000001'").size(), 2);
    EXPECT_EQ(messages_.Count(), 0);
}

TEST_F(PhotoOwnContextTest, PhotosStandAsTheCameraWasHeldAndACutFileIsShownWithAWarning)
{
    TfrmPhoto frm(ProgramContext());
    frm.show();
    // Stored 160 x 120 with red on the left, the camera turned a quarter to
    // the right: a portrait photo, red at the top.
    AnswerFileDialog(Picture("portrait.jpg", Jpeg(Halves({160, 120}, Qt::red, Qt::blue), 6)));
    QTest::mouseClick(Button(frm, "btnAdd"), Qt::LeftButton);
    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    const QImage thumb = frm.Image(1)->pixmap().toImage();
    ASSERT_EQ(thumb.size(), TfrmPhoto::kThumbSize);
    EXPECT_GT(QColor(thumb.pixel(25, 5)).red(), 200);
    EXPECT_GT(QColor(thumb.pixel(25, 50)).blue(), 200);
    const QImage big = frm.ImageX()->pixmap().toImage();
    ASSERT_EQ(big.size(), QSize(120, 160));
    EXPECT_GT(QColor(big.pixel(60, 20)).red(), 200);
    EXPECT_GT(QColor(big.pixel(60, 140)).blue(), 200);
    EXPECT_EQ(messages_.Count(), 0);
    EXPECT_EQ(frm.StatusPanel(1), QString());

    // A file cut short: the part that was read is added and shown, with a
    // warning naming the file.
    QImage noise(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x + y * 3) % 256));
    const QByteArray whole = Jpeg(noise);
    AnswerFileDialog(Picture("coupee.jpg", whole.left(whole.size() * 6 / 10)));
    QTest::mouseClick(Button(frm, "btnAdd"), Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Warning);
    EXPECT_TRUE(messages_.Last().text.contains("coupee.jpg")) << messages_.Last().text.toStdString();
    EXPECT_TRUE(messages_.Last().text.contains(QStringLiteral("incomplète")));
    EXPECT_TRUE(Rows("SELECT PHOTO FROM FPHOTO WHERE CODE='000001'").contains("coupee.jpg"));
    TPhotoSlot* cut = nullptr;
    for (int n = 1; n <= TfrmPhoto::kSlots; ++n)
        if (frm.Image(n)->FileName == "coupee.jpg")
            cut = frm.Image(n);
    ASSERT_NE(cut, nullptr);
    EXPECT_TRUE(cut->HasPicture());
    QTest::mouseClick(cut, Qt::LeftButton);
    EXPECT_EQ(frm.ImageX()->pixmap().size(), QSize(320, 240));
    EXPECT_EQ(frm.StatusPanel(1), QStringLiteral("Photo incomplète"));

    // A photo larger than the view is shown whole, reduced to the view.
    AnswerFileDialog(Picture("grande.jpg", Jpeg(Halves({3200, 2400}, Qt::red, Qt::blue))));
    QTest::mouseClick(Button(frm, "btnAdd"), Qt::LeftButton);
    TPhotoSlot* large = nullptr;
    for (int n = 1; n <= TfrmPhoto::kSlots; ++n)
        if (frm.Image(n)->FileName == "grande.jpg")
            large = frm.Image(n);
    ASSERT_NE(large, nullptr);
    QTest::mouseClick(large, Qt::LeftButton);
    auto* view = frm.findChild<QScrollArea*>("sbImage");
    ASSERT_NE(view, nullptr);
    const QSize shown = frm.ImageX()->pixmap().size();
    EXPECT_LE(shown.width(), view->viewport()->width());
    EXPECT_LE(shown.height(), view->viewport()->height());
    EXPECT_TRUE(shown.width() >= view->viewport()->width() - 2 || shown.height() >= view->viewport()->height() - 2);
    EXPECT_NEAR(double(shown.width()) / shown.height(), 4.0 / 3.0, 0.02);
    EXPECT_EQ(frm.StatusPanel(1), QString());
}

TEST_F(PhotoOwnContextTest, TheFullViewFitsAWholeLargePhotoInItsWindow)
{
    const QImage large = Halves({4000, 3000}, Qt::red, Qt::blue);
    TfrmImage view(QPixmap::fromImage(large), "000001 - DUPONT");
    view.show();
    QApplication::processEvents();
    auto* box = view.findChild<QScrollArea*>("ScrollBox1");
    ASSERT_NE(box, nullptr);
    const QSize shown = view.xImage()->pixmap().size();
    EXPECT_LE(view.width(), 640);
    EXPECT_LE(view.height(), 480);
    EXPECT_LE(shown.width(), box->viewport()->width());
    EXPECT_LE(shown.height(), box->viewport()->height());
    EXPECT_NEAR(double(shown.width()) / shown.height(), 4.0 / 3.0, 0.02);
    EXPECT_GT(shown.width(), box->viewport()->width() * 9 / 10);
    EXPECT_EQ(box->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(box->verticalScrollBar()->maximum(), 0);
    // Made larger, the window shows the photo larger.
    view.resize(900, 700);
    QApplication::processEvents();
    EXPECT_GT(view.xImage()->pixmap().width(), shown.width());
}
