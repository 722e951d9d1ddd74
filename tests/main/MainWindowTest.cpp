#include "MainFixture.h"
#include "tests/support/ScopedEnv.h"

#include "app/main/UCalendar.h"
#include "platform/ui/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QPointer>
#include <QTest>
#include <QToolButton>

namespace {

int CalendarCount()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TfrmCalendar*>(w))
            ++n;
    return n;
}

TfrmCalendar* Calendar()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<TfrmCalendar*>(w))
            return c;
    return nullptr;
}

void DeleteCalendars()
{
    // Collected first: deleting a window deletes its own popups, which are
    // top-level widgets too.
    QList<QPointer<QWidget>> calendars;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TfrmCalendar*>(w))
            calendars << w;
    for (const QPointer<QWidget>& w : calendars)
        delete w.data();
}

}  // namespace

class MainWindowTest : public MainFixture {
protected:
    // The practice has no tables here: the appointment list is not opened
    // when the window is shown.
    TfrmMain& Create()
    {
        TfrmMain& frm = MainFixture::Create();
        DisplayRdv = false;
        return frm;
    }
    void TearDown() override
    {
        MainFixture::TearDown();
        DeleteCalendars();
    }
};

TEST_F(MainWindowTest, TheCloseButtonAsksForABackupAndRunsItOnYes)
{
    TfrmMain& frm = Create();
    messages_.Clear();
    steps_.clear();
    frm.show();
    messages_.Answer(QMessageBox::Yes);
    frm.findChild<QToolButton*>("btnFermer")->click();
    EXPECT_FALSE(frm.isVisible());
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Confirmation);
    EXPECT_EQ(messages_.Last().text, "Voulez-vous faire une sauvegarde ?");
    EXPECT_EQ(messages_.Last().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(steps_, QStringList{"backup"});
}

TEST_F(MainWindowTest, ClosingWithNoEndsWithoutBackupButCleansUp)
{
    TfrmMain& frm = Create();
    QFile lock(AppDir + "PDOXUSRS.LCK");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    QFile work(TempPath + "keep.tmp");
    ASSERT_TRUE(work.open(QIODevice::WriteOnly));
    work.close();
    steps_.clear();
    frm.show();
    messages_.Answer(QMessageBox::No);
    EXPECT_TRUE(frm.close());
    EXPECT_TRUE(steps_.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(AppDir + "PDOXUSRS.LCK"));
    EXPECT_TRUE(QFileInfo::exists(TempPath + "keep.tmp"));  // kept at close
}

TEST_F(MainWindowTest, AFailingBackupKeepsTheWindowOpenAndReportsTheError)
{
    practice_.context().autoBackup = [] { throw std::runtime_error("Disque plein"); };
    TfrmMain& frm = Create();
    messages_.Clear();
    frm.show();
    messages_.Answer(QMessageBox::Yes);
    EXPECT_FALSE(frm.close());
    EXPECT_TRUE(frm.isVisible());
    ASSERT_EQ(messages_.Count(), 2);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Plain);
    EXPECT_EQ(messages_.Last().text, "Disque plein");
}

TEST_F(MainWindowTest, F6CreatesTheCalendarOnce)
{
    DeleteCalendars();
    TfrmMain& frm = Create();
    frm.show();
    QTest::keyClick(&frm, Qt::Key_F6);
    ASSERT_EQ(CalendarCount(), 1);
    TfrmCalendar* cal = Calendar();
    EXPECT_TRUE(cal->isVisible());
    EXPECT_EQ(cal->myCalend()->selectedDate(), QDate::currentDate());

    QTest::keyClick(&frm, Qt::Key_F6);
    EXPECT_EQ(CalendarCount(), 1);

    // Closing only hides it; F6 shows the same window again.
    cal->myCalend()->setSelectedDate(QDate(2020, 1, 1));
    cal->close();
    EXPECT_FALSE(cal->isVisible());
    EXPECT_EQ(CalendarCount(), 1);
    EXPECT_TRUE(frm.FormShortCut(Qt::Key_F6));
    EXPECT_EQ(CalendarCount(), 1);
    EXPECT_EQ(Calendar(), cal);
    EXPECT_TRUE(cal->isVisible());
    EXPECT_EQ(cal->myCalend()->selectedDate(), QDate(2020, 1, 1));
    // A double-clicked day closes it.
    emit cal->myCalend()->activated(QDate::currentDate());
    EXPECT_FALSE(cal->isVisible());
}

TEST_F(MainWindowTest, F5ShowsTheMessageOfEachCalculatorStartFailure)
{
    QTemporaryDir empty;
    ScopedEnv path("PATH", empty.path());
    TfrmMain& frm = Create();
    messages_.Clear();
    frm.show();
    QTest::keyClick(&frm, Qt::Key_F5);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Error);
    EXPECT_EQ(messages_.Last().text, "Le fichier : 'Calc.exe' est introuvable.");
    // A calculator file that is no program.
    QFile broken(empty.path() + "/xcalc");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray(64, '\x01'));
    broken.close();
    broken.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QTest::keyClick(&frm, Qt::Key_F5);
    ASSERT_EQ(messages_.Count(), 2);
    EXPECT_EQ(messages_.Last().text, "Ce programme ne peut pas être exécuté par Microsoft Windows.");
}

TEST_F(MainWindowTest, ToolbarGlyphsComeFromTheIconThemeOnePerCommand)
{
    const QStringList buttons{"btnPatient", "btnRDV", "btnConsul", "btnPhoto", "btnRadio", "btnBio", "btnFermer"};
    const auto images = [&](TfrmMain& frm) {
        QList<QImage> list;
        for (const QString& name : buttons) {
            auto* b = frm.findChild<QToolButton*>(name);
            list << (b ? b->icon().pixmap(16, 16).toImage() : QImage());
        }
        return list;
    };
    // No theme: the style's pictures, all different.
    const QList<QImage> plain = images(Create());
    for (int i = 0; i < plain.size(); ++i) {
        EXPECT_FALSE(plain[i].isNull()) << buttons[i].toStdString();
        for (int j = 0; j < i; ++j)
            EXPECT_NE(plain[i], plain[j]) << buttons[i].toStdString() << " " << buttons[j].toStdString();
    }
    frm_.reset();

    // A theme that has the exit glyph: the close button takes it.
    const QString themes = practice_.root() + "/icons";
    ASSERT_TRUE(QDir().mkpath(themes + "/essai/16x16/actions"));
    QFile index(themes + "/essai/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=essai\nDirectories=16x16/actions\n\n[16x16/actions]\nSize=16\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(themes + "/essai/16x16/actions/application-exit.png"));
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes});
    QIcon::setThemeName("essai");
    const QList<QImage> themed = images(Create());
    QIcon::setThemeSearchPaths(savedPaths);
    QIcon::setThemeName(savedTheme);
    EXPECT_EQ(themed.last().pixelColor(8, 8), QColor(Qt::red));
    EXPECT_EQ(themed.first(), plain.first());  // not in the theme: the style's picture
}

TEST_F(MainWindowTest, ChangingAndRestoringTheWelcomePicture)
{
    QTemporaryDir pictures;
    QImage picture(9, 4, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(pictures.path() + "/mur.bmp", "BMP"));
    QFile junk(pictures.path() + "/faux.bmp");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("garbage");
    junk.close();

    QString chosen = pictures.path() + "/mur.bmp";
    practice_.context().choosePicture = [&](QWidget*) { return chosen; };
    TfrmMain& frm = Create();
    messages_.Clear();
    frm.findChild<QAction*>("mnChangerImage")->trigger();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Information);
    EXPECT_EQ(messages_.Last().text, "L'image sera active au prochain démarrage du programme");
    EXPECT_TRUE(QImage(AppDir + "mur.bmp").size() == QSize(9, 4));
    EXPECT_EQ(kui::TIniFile(AppDir + "KORVALE.INI").ReadString("PARAMS", "IMAGE"), "mur.bmp");

    chosen = pictures.path() + "/faux.bmp";
    frm.findChild<QAction*>("mnChangerImage")->trigger();
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Warning);
    EXPECT_EQ(messages_.Last().text, "Format d'image incorrect !");
    EXPECT_EQ(kui::TIniFile(AppDir + "KORVALE.INI").ReadString("PARAMS", "IMAGE"), "mur.bmp");

    frm.findChild<QAction*>("mnRestaurerImage")->trigger();
    EXPECT_EQ(messages_.Last().text, "L'image sera active au prochain démarrage du programme");
    EXPECT_TRUE(kui::TIniFile(AppDir + "KORVALE.INI").ValueExists("PARAMS", "IMAGE"));
    EXPECT_EQ(kui::TIniFile(AppDir + "KORVALE.INI").ReadString("PARAMS", "IMAGE", "x"), "");
}

TEST_F(MainWindowTest, TheHiddenCleanUpCommandIsNotAvailable)
{
    TfrmMain& frm = Create();
    messages_.Clear();
    frm.mnEpurationClick();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Plain);
    EXPECT_EQ(messages_.Last().text, "Menu non disponible !");
}
