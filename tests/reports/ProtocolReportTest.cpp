// The printed operative protocol, printed from the protocol list through
// the preview's Print button into a PDF.
#include "ReportsFixture.h"
#include "app/reports/URptProtocole.h"
#include "app/records/UListProt.h"
#include "platform/rtf/Rtf.h"

#include <QFileInfo>
#include <QTextCursor>
#include <QTextDocument>

namespace {

class ProtocolReportTest : public ReportsFixture {
protected:
    static void AddProtocol(const QString& num, const QDate& date, const QString& diag, const QString& interv)
    {
        Exec(
            "INSERT INTO FPROT (NUM, DATE_PRT, CODE, NOM, PRENOM, AGE, CLINIQUE, OPERATEUR, AIDE, ANEST, DIAG, INTERV) "
            "VALUES (:N, :D, '000123', 'DURAND', 'PAUL', '47', 'CLINIQUE DU PARC', 'DR MARTIN', 'DR AIDE', "
            "'DR SOMMEIL', :G, :I)",
            {{"N", num}, {"D", date}, {"G", diag}, {"I", interv}});
    }
    // The detail text as the editor writes it.
    static void WriteDetail(const QString& num, int paragraphs)
    {
        QTextDocument doc;
        QTextCursor c(&doc);
        QTextCharFormat plain;
        plain.setFontFamilies({"Verdana"});
        plain.setFontPointSize(10);
        QTextCharFormat bold = plain;
        bold.setFontWeight(QFont::Bold);
        for (int i = 1; i <= paragraphs; ++i) {
            if (i > 1)
                c.insertBlock();
            c.insertText("Temps " + QString::number(i) + " : ", bold);
            c.insertText(QString::fromUtf8("incision, dissection prudente et hémostase soigneuse."), plain);
        }
        ASSERT_TRUE(krtf::SaveRtfFile(ProtDir + "PROT" + num + ".RTF", doc));
    }
};

TEST_F(ProtocolReportTest, HeadingBlockWrappedTextsDetailAndSignature)
{
    const QString diag = QString("Appendicite aigue compliquee d'un plastron ").repeated(6).trimmed();
    AddProtocol("000001", QDate(2007, 6, 15), "Hernie inguinale", "Cure de hernie");
    AddProtocol("000002", QDate(2007, 6, 16), diag, "Appendicectomie\tpar voie de Mac Burney");
    WriteDetail("000002", 3);

    TfrmListProt list(practice_.context());
    list.show();
    list.RefreshList("000002");
    QString caption;
    const QStringList pages =
        PrintedPages([&] { list.mnPrintClick(); }, "protocole", [&](TfrmPreview& w) { caption = w.windowTitle(); });
    ASSERT_EQ(pages.size(), 1);
    EXPECT_TRUE(caption.startsWith("Listing des articles")) << caption.toStdString();
    const QStringList lines = pdftest::Words(pages[0]);
    // The heading: the e-mail part is always there.
    ASSERT_GE(lines.size(), 12) << pages[0].toStdString();
    EXPECT_EQ(lines.mid(0, 5),
        (QStringList{"Dr Martin", "Chirurgie générale", "Cabinet des Tilleuls", "Adresse : 1 rue Haute, Lyon",
            "Tél.: 0400000000 Email :"}));
    EXPECT_TRUE(lines.contains("Protocole Opératoire"));
    EXPECT_TRUE(lines.contains("Code : 000123/2007") || pages[0].contains(QRegularExpression("Code :\\s+000123/2007")));
    EXPECT_TRUE(pages[0].contains("CLINIQUE DU PARC"));
    EXPECT_TRUE(pages[0].contains("DR SOMMEIL"));
    // The long diagnosis is printed whole, on several lines, and pushes the
    // intervention below it; the detail text follows, then the signature.
    const QString text = pages[0];
    EXPECT_EQ(text.count("plastron"), 6);
    const int lastDiag = text.lastIndexOf("plastron");
    const int interv = text.indexOf("Intervention :");
    EXPECT_LT(lastDiag, interv);
    EXPECT_LT(interv, text.indexOf("Appendicectomie"));
    EXPECT_LT(text.indexOf("Appendicectomie"), text.indexOf("Détails :"));
    EXPECT_LT(text.indexOf("Détails :"), text.indexOf("Temps 1"));
    EXPECT_LT(text.indexOf("Temps 1"), text.indexOf("Temps 3"));
    EXPECT_EQ(text.count("hémostase soigneuse"), 3);
    EXPECT_GT(text.lastIndexOf("Dr Martin"), text.indexOf("Temps 3"));
    EXPECT_EQ(lines.last(), "1");
    // The signature line is right-aligned.
    const QString signature = text.mid(text.indexOf("Temps 3")).section("Dr Martin", 0, 0).section('\n', -1);
    EXPECT_GT(signature.size(), 40) << "the signature starts right of the middle";
}

TEST_F(ProtocolReportTest, ShortTextsKeepTheDesignedLayoutAndAnUnknownNumberPrintsNoValues)
{
    AddProtocol("000001", QDate(2024, 1, 2), "Hernie", "Cure");
    TfrmRptProtocole form;
    form.ProtNum = "000001";
    // Building the pages runs the title band's layout.
    krpt::Report& report = form.RptProtocole();
    report.build();
    krpt::Band& title = report.band(krpt::BandKind::Title);
    const double designed = title.height;

    // A long diagnosis: the intervention 5 pixels under it, the band grown
    // by as much as the diagnosis.
    AddProtocol("000002", QDate(2024, 1, 3), QString("tres long diagnostic ").repeated(40), "Cure");
    form.ProtNum = "000002";
    report.build();
    const double grown = title.find("dbDiag")->rect.height() - 20;
    EXPECT_GT(grown, 20);
    EXPECT_EQ(title.find("dbInterv")->rect.top(), title.find("dbDiag")->rect.bottom() + 5);
    EXPECT_EQ(title.find("lInterv")->rect.top(), title.find("dbInterv")->rect.top());
    EXPECT_EQ(title.height, designed + grown);

    // Without a detail file the band prints its label alone.
    const QStringList plain = PrintedPages([&] { PrintProtocol(practice_.context(), "000001"); }, "plain");
    ASSERT_EQ(plain.size(), 1);
    EXPECT_EQ(pdftest::Words(plain[0]).mid(pdftest::Words(plain[0]).indexOf("Détails :")),
        (QStringList{"Détails :", "Dr Martin", "1"}));

    const QStringList pages = PrintedPages([&] { PrintProtocol(practice_.context(), "999999"); }, "none");
    ASSERT_EQ(pages.size(), 1);
    EXPECT_TRUE(pages[0].contains("Protocole Opératoire"));
    EXPECT_FALSE(pages[0].contains("000123"));
    EXPECT_FALSE(pages[0].contains("Détails"));
}

TEST_F(ProtocolReportTest, ALongDetailTextFlowsOverThePagesBeforeTheSignature)
{
    AddProtocol("000005", QDate(2024, 1, 2), "Hernie", "Cure");
    WriteDetail("000005", 150);
    const QStringList pages = PrintedPages([&] { PrintProtocol(practice_.context(), "000005"); }, "long");
    ASSERT_GE(pages.size(), 3);
    int next = 1;
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList lines = pdftest::Words(pages[p]);
        EXPECT_EQ(lines.last(), QString::number(p + 1)) << "page number on every page";
        EXPECT_EQ(lines.contains("Protocole Opératoire"), p == 0);
        static const QRegularExpression paragraph("Temps (\\d+) :");
        for (const QString& line : lines) {
            if (const auto m = paragraph.match(line); m.hasMatch()) {
                EXPECT_EQ(m.captured(1).toInt(), next++) << line.toStdString();
            }
        }
    }
    EXPECT_EQ(next, 151) << "every paragraph printed once, in order";
    const QString last = pages.last();
    EXPECT_GT(last.indexOf("Dr Martin"), last.indexOf("Temps 150"));
    EXPECT_EQ(QString(pages.join("")).count("Détails :"), 1);
}

// The protocol is proposed a file of its kind, its patient and its date.
TEST_F(ProtocolReportTest, TheProtocolIsProposedAFileOfItsPatientAndDate)
{
    AddProtocol("000004", QDate(2007, 6, 16), "Hernie inguinale", "Cure de hernie");
    TfrmListProt list(practice_.context());
    list.show();
    list.RefreshList("000004");
    const QString proposed = ProposedFile([&] { list.mnPrintClick(); });
    EXPECT_EQ(QFileInfo(proposed).fileName(), QString::fromUtf8("Protocole opératoire DURAND PAUL 2007-06-16.pdf"));
}

}  // namespace
