// The protocol detail-text editor driven as a user does: typing, styles
// from the tool panel, the font and size boxes following the caret, the
// saves on Esc and on the Save button, and a save that cannot be written.
#include "app/records/UProtText.h"
#include "app/global/global.h"
#include "platform/rtf/Rtf.h"
#include "tests/support/TempPractice.h"
#include "tests/support/TextFormats.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMimeData>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QPushButton>
#include <QKeyEvent>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace {

QTextDocument* Read(const QString& file, QTextDocument& doc)
{
    EXPECT_TRUE(krtf::LoadRtfFile(file, doc));
    return &doc;
}

QFont FontAt(const QTextDocument& doc, int position)
{
    const QTextBlock b = doc.findBlock(position);
    for (auto it = b.begin(); !it.atEnd(); ++it)
        if (it.fragment().contains(position))
            return it.fragment().charFormat().font().resolve(doc.defaultFont());
    return {};
}

// Types the text as key presses carrying their characters (accents too).
void Type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &release);
    }
}

// Shows a window as the active one, so that its focus and keys work.
void ShowActive(QWidget* w)
{
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    (void)QTest::qWaitForWindowActive(w, 1000);
}

void Select(QTextEdit* edit, int from, int to)
{
    QTextCursor c = edit->textCursor();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    edit->setTextCursor(c);
}

}  // namespace

class ProtTextTest : public ::testing::Test {
protected:
    TempPractice practice_;
    QString File(const QString& name = "PROT000007.RTF") const { return ProtDir + name; }
};

TEST_F(ProtTextTest, TypingThenEscWritesTheFileWithoutAQuestion)
{
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000007.RTF";
    frm.show();
    EXPECT_TRUE(frm.RichDesc()->toPlainText().isEmpty());
    EXPECT_FALSE(frm.btnSave()->isEnabled());
    // Closing without a change writes nothing.
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_FALSE(QFile::exists(File()));

    frm.show();
    Type(frm.RichDesc(), QString::fromUtf8("Anesthésie générale"));
    EXPECT_TRUE(frm.btnSave()->isEnabled());
    QTest::keyClick(frm.RichDesc(), Qt::Key_Escape);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(practice_.messages().Count(), 0);
    QTextDocument saved;
    EXPECT_EQ(Read(File(), saved)->toPlainText(), QString::fromUtf8("Anesthésie générale"));
    // Written in the editor's default font.
    EXPECT_EQ(FontAt(saved, 1).family(), "Verdana");
    EXPECT_EQ(FontAt(saved, 1).pointSizeF(), 8);
    EXPECT_EQ(QDir(ProtDir).entryList(QDir::Files), QStringList{"PROT000007.RTF"});

    // Opened again: the text is there; Save, then close: written once.
    frm.show();
    EXPECT_EQ(frm.RichDesc()->toPlainText(), QString::fromUtf8("Anesthésie générale"));
    QTest::keyClick(frm.RichDesc(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(frm.RichDesc(), " OK");
    QTest::mouseClick(frm.btnSave(), Qt::LeftButton);
    EXPECT_FALSE(frm.btnSave()->isEnabled());
    QFile::remove(File());
    QTest::mouseClick(frm.BitBtn1(), Qt::LeftButton);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_FALSE(QFile::exists(File())) << "closing after a save writes nothing more";
}

TEST_F(ProtTextTest, StylesCombineAndTheBoxesFollowTheSelection)
{
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000007.RTF";
    frm.show();
    QTextEdit* edit = frm.RichDesc();
    QTest::keyClicks(edit, "abcdef ghij");

    // Bold, italic, underline on "cdef"; italic released: bold and
    // underline stay.
    Select(edit, 2, 6);
    QTest::mouseClick(frm.btnGras(), Qt::LeftButton);
    QTest::mouseClick(frm.btnItalic(), Qt::LeftButton);
    QTest::mouseClick(frm.btnSouligne(), Qt::LeftButton);
    Select(edit, 3, 5);
    EXPECT_TRUE(frm.btnGras()->isChecked() && frm.btnItalic()->isChecked() && frm.btnSouligne()->isChecked());
    QTest::mouseClick(frm.btnItalic(), Qt::LeftButton);

    // "ghij" in another size through the size box.
    Select(edit, 7, 11);
    frm.cmbSize()->setCurrentIndex(frm.cmbSize()->findText("14"));
    frm.cmbSizeChange();
    Select(edit, 0, 1);
    EXPECT_EQ(frm.cmbSize()->currentText(), "8");
    EXPECT_FALSE(frm.btnGras()->isChecked());
    Select(edit, 8, 9);
    EXPECT_EQ(frm.cmbSize()->currentText(), "14");
    // A selection over both sizes leaves the box on its last item.
    Select(edit, 0, 10);
    EXPECT_EQ(frm.cmbSize()->currentText(), "14");
    EXPECT_FALSE(frm.btnGras()->isChecked());
    // A size outside the list (20) leaves the box as it was.
    Select(edit, 0, 1);
    QTextCharFormat big;
    big.setFontPointSize(20);
    edit->mergeCurrentCharFormat(big);
    Select(edit, 7, 8);
    Select(edit, 0, 1);
    EXPECT_EQ(frm.cmbSize()->currentText(), "14");

    QTest::keyClick(edit, Qt::Key_Escape);
    QTextDocument saved;
    Read(File(), saved);
    EXPECT_EQ(saved.toPlainText(), "abcdef ghij");
    const QFont styled = FontAt(saved, 4);
    EXPECT_TRUE(styled.bold());
    EXPECT_FALSE(styled.italic());
    EXPECT_TRUE(styled.underline());
    EXPECT_FALSE(FontAt(saved, 1).bold());
    EXPECT_EQ(FontAt(saved, 0).pointSizeF(), 20);
    EXPECT_EQ(FontAt(saved, 1).pointSizeF(), 8);
    EXPECT_EQ(FontAt(saved, 9).pointSizeF(), 14);
    EXPECT_FALSE(FontAt(saved, 9).bold());
}

TEST_F(ProtTextTest, AFailedSaveKeepsTheEditorOpenWithItsText)
{
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000009.RTF";
    frm.show();
    Type(frm.RichDesc(), QString::fromUtf8("texte précieux"));
    ASSERT_TRUE(QDir(ProtDir).removeRecursively());

    QTest::keyClick(frm.RichDesc(), Qt::Key_Escape);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.RichDesc()->toPlainText(), QString::fromUtf8("texte précieux"));
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_TRUE(practice_.messages().Last().text.startsWith("Impossible d'enregistrer le fichier"))
        << practice_.messages().Last().text.toStdString();
    EXPECT_TRUE(frm.btnSave()->isEnabled());
    EXPECT_FALSE(frm.btnSaveClick());

    // Once the directory is back, closing writes the text.
    QDir().mkpath(ProtDir);
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    QTextDocument saved;
    EXPECT_EQ(Read(File("PROT000009.RTF"), saved)->toPlainText(), QString::fromUtf8("texte précieux"));
}

namespace {

// A detail text as another word processor writes it: superscript and
// subscript, highlighting, right alignment (the last paragraph without its
// mark), a bulleted list with hanging indents, line spacing.
const char* const kTheirText =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Verdana;}}"
    "{\\colortbl ;\\red255\\green255\\blue0;}\r\n"
    "\\viewkind4\\uc1\\pard\\qr\\f0\\fs16 Lyon, le 3 mai\\par\r\n"
    "\\pard\\sb120\\sa240\\sl360\\slmult1 Surface de 4 m\\super 2\\nosupersub , SpO\\sub 2\\nosupersub  "
    "{\\highlight1 normale}\\par\r\n"
    "\\pard{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnindent0{\\pntxtb\\'95}}\\fi-360\\li720 premier temps\\par\r\n"
    "{\\pntext\\'95\\tab}second temps\\par\r\n"
    "\\pard\\qr Dr Martin}";

}  // namespace

TEST_F(ProtTextTest, WhatTheEditorShowsIsWhatItSaves)
{
    {
        QFile file(File());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kTheirText);
    }
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000007.RTF";
    ShowActive(&frm);
    ASSERT_EQ(QApplication::focusWidget(), frm.RichDesc());
    const QTextDocument& shown = *frm.RichDesc()->document();
    ASSERT_EQ(shown.blockCount(), 5);
    EXPECT_EQ(shown.lastBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    const QStringList opened = textformats::Shown(shown);
    EXPECT_EQ(opened.filter(" v1 ").size(), 1) << opened.join('\n').toStdString();
    EXPECT_EQ(opened.filter(" v2 ").size(), 1);
    EXPECT_EQ(opened.filter("bg #ffff00").size(), 1);

    // A word typed at the end, then Esc: the text is saved as it shows.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
    Type(QApplication::focusWidget(), ", chirurgien");
    const QStringList beforeSave = textformats::Shown(shown);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(frm.isVisible());
    QTextDocument saved;
    Read(File(), saved);
    EXPECT_EQ(textformats::Shown(saved), beforeSave);

    // Opened again: the same; an outside reader sees the scripts too.
    ShowActive(&frm);
    EXPECT_EQ(textformats::Shown(*frm.RichDesc()->document()), beforeSave);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(frm.isVisible());
    QTextDocument again;
    Read(File(), again);
    EXPECT_EQ(textformats::Shown(again), beforeSave) << "closing without a change keeps the text as it was";
    if (const QString pandoc = QStandardPaths::findExecutable("pandoc"); !pandoc.isEmpty()) {
        QProcess p;
        p.start(pandoc, {"-f", "rtf", "-t", "markdown", File()});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString markdown = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(markdown.contains("m^2^")) << markdown.toStdString();
        EXPECT_TRUE(markdown.contains("SpO~2~")) << markdown.toStdString();
    }
}

TEST_F(ProtTextTest, APastedListIsSavedIndentedWithItsBullets)
{
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000007.RTF";
    ShowActive(&frm);
    Type(QApplication::focusWidget(), "Temps :");
    auto* mime = new QMimeData;
    mime->setHtml("<ul><li>incision</li><li>fermeture<ol><li>plan profond</li></ol></li></ul>");
    QApplication::clipboard()->setMimeData(mime);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(frm.RichDesc()->toPlainText().contains("plan profond")) << "pasted";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(frm.isVisible());

    QTextDocument saved;
    Read(File(), saved);
    QStringList lines;
    for (QTextBlock b = saved.begin(); b.isValid(); b = b.next())
        if (!b.text().isEmpty())
            lines << b.text();
    EXPECT_EQ(lines, (QStringList{"Temps :", QString::fromUtf8("•\tincision"), QString::fromUtf8("•\tfermeture"),
                         "1.\tplan profond"}));
    // Each item where the editor showed its text: the bullet hangs in front.
    for (QTextBlock b = saved.begin(); b.isValid(); b = b.next()) {
        if (b.text().startsWith(QString::fromUtf8("•"))) {
            EXPECT_EQ(b.blockFormat().leftMargin(), 40);
        } else if (b.text().startsWith("1.")) {
            EXPECT_EQ(b.blockFormat().leftMargin(), 80);
        }
    }
}

TEST_F(ProtTextTest, TheFontBoxListsFamiliesAndTheFileNamesThem)
{
    QString withFoundry;
    for (const QString& family : QFontDatabase::families())
        if (family.contains(" [")) {
            withFoundry = family;
            break;
        }
    TfrmProtText frm(practice_.context());
    frm.FileName = "PROT000007.RTF";
    ShowActive(&frm);
    QStringList items;
    for (int i = 0; i < frm.cmbFont()->count(); ++i)
        items << frm.cmbFont()->itemText(i);
    EXPECT_FALSE(items.isEmpty());
    EXPECT_TRUE(items.filter("[").isEmpty()) << items.filter("[").join(", ").toStdString();
    EXPECT_EQ(QSet<QString>(items.begin(), items.end()).size(), items.size()) << "each family once";
    if (withFoundry.isEmpty())
        GTEST_SKIP() << "no font family here is listed with its foundry";
    const QString family = withFoundry.section(" [", 0, 0);
    ASSERT_TRUE(items.contains(family));

    // A word in that family, chosen in the box with the keyboard.
    Type(QApplication::focusWidget(), "Texte ");
    frm.cmbFont()->setFocus();
    const int target = items.indexOf(family);
    if (frm.cmbFont()->currentIndex() == target)
        QTest::keyClick(QApplication::focusWidget(), target > 0 ? Qt::Key_Up : Qt::Key_Down);
    while (frm.cmbFont()->currentIndex() < target)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    while (frm.cmbFont()->currentIndex() > target)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    frm.RichDesc()->setFocus();
    Type(QApplication::focusWidget(), "choisi");
    QTest::mouseClick(frm.btnSave(), Qt::LeftButton);
    QFile file(File());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray rtf = file.readAll();
    EXPECT_TRUE(rtf.contains(" " + family.toLatin1() + ";}")) << rtf.constData();
    EXPECT_FALSE(rtf.contains('[')) << rtf.constData();
    QTextDocument saved;
    Read(File(), saved);
    EXPECT_EQ(FontAt(saved, 8).family(), family);
    EXPECT_EQ(FontAt(saved, 1).family(), "Verdana");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
}
