// The detail text of a protocol as it is printed from the protocol screen:
// the text of the protocol itself, never one left by another, with the
// formats the editor showed.
#include "ReportsFixture.h"
#include "app/global/NextCodeDb.h"
#include "app/records/UPROT.h"
#include "app/records/UProtText.h"
#include "platform/rtf/Rtf.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace {

// A printed word and its box on the page, in points.
struct Word {
    QString text;
    double xMin, yMin, xMax, yMax;
};

QList<Word> PrintedWords(const QString& pdf)
{
    QList<Word> words;
    const QString html = pdftest::Run("pdftotext", {"-bbox", pdf, "-"});
    static const QRegularExpression re(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>");
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
            m.captured(4).toDouble()});
    }
    return words;
}

Word Find(const QList<Word>& words, const QString& text)
{
    for (const Word& w : words)
        if (w.text == text)
            return w;
    ADD_FAILURE() << "not printed: " << text.toStdString();
    return {text, 0, 0, 0, 0};
}

// Runs act on the next modal window of class T once it is shown.
template <class T> void OnModal(std::function<void(T&)> act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            w->activateWindow();
            QApplication::setActiveWindow(w);
            act(*w);
        }
    });
    timer->start(5);
}

void Type(QWidget* w, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

class ProtocolTextPrintTest : public ReportsFixture {
protected:
    void SetUp() override
    {
        ReportsFixture::SetUp();
        InstallDatabaseKeyColumns();
        AddPatient("000300", QString::fromUtf8("GARÇON"), "Luc", "M", "44 Ans", "12/04/1980");
        TfrmPROT::RunPatientPicker = [](AppContext&, QWidget*) { CurrentPatientCode = "000300"; };
    }
    void TearDown() override
    {
        TfrmPROT::RunPatientPicker = nullptr;
        ReportsFixture::TearDown();
    }
    // A new protocol for the patient, posted from the screen.
    void PostNew(TfrmPROT& frm)
    {
        frm.show();
        QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
        frm.edClinique()->setText("CLINIQUE DU PARC");
        frm.edAnest()->setText("DR SOMMEIL");
        frm.edDiag()->setPlainText("Hernie");
        frm.edInterv()->setPlainText("Cure");
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        ASSERT_FALSE(frm.ProtEditing) << practice_.messages().Last().text.toStdString();
    }
};

TEST_F(ProtocolTextPrintTest, ANewProtocolPrintsItsOwnTextOnly)
{
    // Left by a protocol whose row a restore took away.
    QTextDocument old;
    old.setPlainText(QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    ASSERT_TRUE(krtf::SaveRtfFile(ProtDir + "PROT000001.RTF", old));

    TfrmPROT frm(practice_.context());
    PostNew(frm);
    ASSERT_EQ(frm.NumProt, "000001");
    QString printed = PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "new").join("");
    EXPECT_TRUE(printed.contains(QString::fromUtf8("GARÇON"))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QString::fromUtf8("LÉVÊQUE"))) << printed.toStdString();

    // Its own text, one paragraph as the editor writes it, is printed.
    OnModal<TfrmProtText>([](TfrmProtText&) {
        Type(QApplication::focusWidget(), QString::fromUtf8("Texte de GARÇON, un seul paragraphe"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
    printed = PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "own").join("");
    EXPECT_TRUE(printed.contains(QString::fromUtf8("Texte de GARÇON, un seul paragraphe"))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QString::fromUtf8("LÉVÊQUE")));
}

TEST_F(ProtocolTextPrintTest, ThePrintKeepsAlignmentIndentsAndSpacing)
{
    TfrmPROT frm(practice_.context());
    PostNew(frm);
    // A text from another word processor, opened and saved by the editor.
    {
        QFile file(ProtDir + "PROT" + frm.NumProt + ".RTF");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Verdana;}}\r\n"
                   "\\viewkind4\\uc1\\pard\\qr\\f0\\fs20 Lyon, le 3 mai\\par\r\n"
                   "\\pard\\sb240\\sa240\\sl480\\slmult1 Surface de 4 m\\super 2\\nosupersub\\par\r\n"
                   "\\pard{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnindent0{\\pntxtb\\'95}}\\fi-360\\li720 premier "
                   "temps\\par\r\n"
                   "{\\pntext\\'95\\tab}second temps\\par\r\n"
                   "\\pard\\qr Dr Durand}");
    }
    OnModal<TfrmProtText>([](TfrmProtText&) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
        Type(QApplication::focusWidget(), ", chirurgien");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
    ASSERT_TRUE(frm.mmDetail()->toPlainText().endsWith("Dr Durand, chirurgien"));

    const QStringList pages = PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "formats");
    ASSERT_EQ(pages.size(), 1);
    const QList<Word> words = PrintedWords(Pdf("formats"));
    const Word details = Find(words, "Détails");
    const Word mai = Find(words, "mai"), lyon = Find(words, "Lyon,");
    const Word surface = Find(words, "Surface"), premier = Find(words, "premier"), second = Find(words, "second");
    const Word chirurgien = Find(words, "chirurgien");
    // Right alignment: both right-aligned lines end at the text's right
    // edge, far right of where the text starts.
    EXPECT_NEAR(mai.xMax, chirurgien.xMax, 2);
    EXPECT_GT(lyon.xMin, surface.xMin + 250);
    EXPECT_GT(mai.xMax, details.xMax + 400);
    // The list's text starts at its indent (720 twips: half an inch, 36
    // points), its bullet hangs in front of it; the next item under it.
    EXPECT_NEAR(premier.xMin - surface.xMin, 36, 2);
    EXPECT_NEAR(second.xMin, premier.xMin, 1);
    // Spacing: 12 points above and below the paragraph, and its lines
    // double (two lines of Verdana at 10 points: 24 points at least).
    const double plainStep = second.yMin - premier.yMin;
    EXPECT_NEAR(surface.yMin - mai.yMin, plainStep + 12, 1);
    EXPECT_GE(premier.yMin - surface.yMin, 24 + 12 - 1) << premier.yMin << " " << surface.yMin;
}

}  // namespace

// A detail text cut short is printed as far as it could be read, with a
// warning naming its file: never a page presented as the whole text.
TEST_F(ProtocolTextPrintTest, ADamagedTextPrintsItsReadablePartWithAWarning)
{
    TfrmPROT frm(practice_.context());
    PostNew(frm);
    ASSERT_EQ(frm.NumProt, "000001");
    {
        QFile f(ProtDir + "PROT000001.RTF");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1\\ansi{\\fonttbl{\\f0 Verdana;}}\\f0\\fs20 Incision m\\'e9diane\\par {\\b Suture");
    }
    const int before = practice_.messages().Count();
    const QString printed =
        PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "damaged").join("");
    EXPECT_TRUE(printed.contains(QString::fromUtf8("Incision médiane"))) << printed.toStdString();
    EXPECT_TRUE(printed.contains("Suture")) << printed.toStdString();
    bool warned = false;
    for (int i = before; i < practice_.messages().Count(); ++i)
        warned = warned || practice_.messages().Records()[i].text ==
                               QString::fromUtf8("Le texte du protocole n° 000001 (PROT000001.RTF) est endommagé : "
                                                 "seule sa partie lisible est imprimée.");
    EXPECT_TRUE(warned);
}
