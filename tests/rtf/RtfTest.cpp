// Rich-text files: our own files read back as written, the files of a
// rich-edit control and of an independent converter read with their text
// and styles, ours read by that converter, and a save that never leaves
// half a file.
#include "platform/rtf/Rtf.h"
#include "tests/support/TextFormats.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>

namespace {

struct Span {
    QString text;
    QString family;
    double points;
    bool bold, italic, underline;
    QColor color;
};

// The document as runs of equal format (text, font, size, styles, colour),
// paragraph by paragraph.
QList<QList<Span>> Spans(const QTextDocument& doc)
{
    QList<QList<Span>> result;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QList<Span> line;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            const QFont font = f.font().resolve(doc.defaultFont());
            Span s{it.fragment().text(), font.family(), font.pointSizeF(), font.bold(), font.italic(), font.underline(),
                f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color() : QColor()};
            if (!line.isEmpty() && line.last().family == s.family && line.last().points == s.points &&
                line.last().bold == s.bold && line.last().italic == s.italic && line.last().underline == s.underline &&
                line.last().color == s.color)
                line.last().text += s.text;
            else
                line.append(s);
        }
        result.append(line);
    }
    return result;
}

void ExpectSameDocument(const QTextDocument& a, const QTextDocument& b)
{
    ASSERT_EQ(a.toPlainText(), b.toPlainText());
    const auto sa = Spans(a), sb = Spans(b);
    ASSERT_EQ(sa.size(), sb.size());
    for (int p = 0; p < sa.size(); ++p) {
        ASSERT_EQ(sa[p].size(), sb[p].size()) << "paragraph " << p;
        for (int i = 0; i < sa[p].size(); ++i) {
            const Span &x = sa[p][i], &y = sb[p][i];
            EXPECT_EQ(x.text, y.text);
            EXPECT_EQ(x.family, y.family) << x.text.toStdString();
            EXPECT_EQ(x.points, y.points) << x.text.toStdString();
            EXPECT_EQ(x.bold, y.bold) << x.text.toStdString();
            EXPECT_EQ(x.italic, y.italic) << x.text.toStdString();
            EXPECT_EQ(x.underline, y.underline) << x.text.toStdString();
            EXPECT_EQ(x.color, y.color) << x.text.toStdString();
        }
    }
    for (QTextBlock x = a.begin(), y = b.begin(); x.isValid() && y.isValid(); x = x.next(), y = y.next()) {
        const QTextBlockFormat fx = x.blockFormat(), fy = y.blockFormat();
        EXPECT_EQ(fx.alignment() & Qt::AlignHorizontal_Mask, fy.alignment() & Qt::AlignHorizontal_Mask);
        EXPECT_EQ(fx.leftMargin(), fy.leftMargin());
        EXPECT_EQ(fx.textIndent(), fy.textIndent());
        EXPECT_EQ(fx.tabPositions().size(), fy.tabPositions().size());
    }
}

QTextCharFormat Fmt(
    const QString& family, double points, bool bold = false, bool italic = false, bool underline = false)
{
    QTextCharFormat f;
    f.setFontFamilies({family});
    f.setFontPointSize(points);
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(italic);
    f.setFontUnderline(underline);
    return f;
}

// A document with what the editor can give a text, and what a pasted text
// brings.
void BuildSample(QTextDocument& doc)
{
    QTextCursor c(&doc);
    c.insertText("Compte rendu opératoire", Fmt("Verdana", 14, true, false, true));
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.setBlockFormat(centred);
    QTextBlockFormat indented;
    indented.setLeftMargin(48);
    indented.setTextIndent(-24);
    indented.setTabPositions({QTextOption::Tab(96, QTextOption::LeftTab)});
    c.insertBlock(indented);
    c.insertText("Incision\tà 3 cm, ", Fmt("Verdana", 8));
    c.insertText("gras-italique ", Fmt("Verdana", 8, true, true));
    c.insertText("souligné", Fmt("Arial", 10.5, false, false, true));
    QTextCharFormat red = Fmt("Arial", 10);
    red.setForeground(QColor(200, 0, 0));
    c.insertText(" rouge {accolades} \\ ", red);
    c.insertBlock(QTextBlockFormat());
    c.insertBlock(QTextBlockFormat());
    c.insertText(QString::fromUtf8("Œdème, 5 € — α β, ligne") + QChar(0x2028) + QString::fromUtf8("suite 😀 ç"),
        Fmt("Courier New", 12, false, true));
}

}  // namespace

class RtfTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
};

TEST_F(RtfTest, OurFilesReadBackAsWritten)
{
    QTextDocument doc;
    BuildSample(doc);
    const QByteArray rtf = krtf::WriteRtf(doc);
    // Plain 7-bit output: accents as code-page escapes, the rest as \u.
    for (const char c : rtf)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80u);
    EXPECT_TRUE(rtf.contains("\\'e0")) << rtf.constData();

    QTextDocument back;
    krtf::ReadRtf(rtf, back);
    ExpectSameDocument(doc, back);
    // Written again, the same bytes.
    EXPECT_EQ(krtf::WriteRtf(back), rtf);

    // An empty text stays empty.
    QTextDocument empty, emptyBack;
    krtf::ReadRtf(krtf::WriteRtf(empty), emptyBack);
    EXPECT_EQ(emptyBack.toPlainText(), QString());
    EXPECT_EQ(emptyBack.blockCount(), 1);
}

TEST_F(RtfTest, RichEditFileShowsAccentsSizesAndBreaks)
{
    // As a rich-edit control of the practice writes it (cp1252 accents,
    // Verdana at 8 points), with the things word processors add.
    const QByteArray file =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1036{\\fonttbl{\\f0\\fswiss\\fcharset0 Verdana;}"
        "{\\f1\\fnil\\fcharset0 Arial;}{\\f2\\froman\\fcharset204{\\*\\panose 02020603050405020304}Times New Roman "
        "CYR;}}\r\n"
        "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
        "{\\*\\generator Riched20 10.0.19041}{\\info{\\author Dr X}{\\title Secret}}\\viewkind4\\uc1 \r\n"
        "\\pard\\f0\\fs16 Op\\'e9r\\'e9 \\'e0 l'h\\'f4pital, le\\tab gar\\'e7on\\par\r\n"
        "\\b Gras \\b0\\i italique\\i0  \\ul soulign\\'e9\\ulnone  \\cf1 rouge\\cf0\\par\r\n"
        "\\pard\\qc\\li720\\fi-360\\f1\\fs24 centr\\'e9\\line suite\\par\r\n"
        "\\pard\\f2\\fs20 \\'c4\\'e0 {\\pict\\wmetafile8\\picw10 0102ff7d7b}\\u8364\\'80 \\uc2\\u945 "
        "xyz\\emdash\\foo12 fin\\par\r\n"
        "}\r\n";
    QTextDocument doc;
    krtf::ReadRtf(file, doc);
    QStringList lines;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        lines.append(b.text());
    ASSERT_EQ(lines.size(), 4) << doc.toPlainText().toStdString();
    EXPECT_EQ(lines[0], QString::fromUtf8("Opéré à l'hôpital, le\tgarçon"));
    EXPECT_EQ(lines[1], QString::fromUtf8("Gras italique souligné rouge"));
    EXPECT_EQ(lines[2], QString::fromUtf8("centré") + QChar(0x2028) + "suite");
    // Cyrillic font charset, no picture bytes, € without its fallback,
    // \uc2 skipping two bytes, an unknown word ignored.
    EXPECT_EQ(lines[3], QString::fromUtf8("Да € αz—fin"));

    const auto spans = Spans(doc);
    EXPECT_EQ(spans[0][0].family, "Verdana");
    EXPECT_EQ(spans[0][0].points, 8);
    ASSERT_GE(spans[1].size(), 4);
    EXPECT_TRUE(spans[1][0].bold);
    EXPECT_FALSE(spans[1][0].italic);
    EXPECT_TRUE(spans[1][1].italic);
    EXPECT_FALSE(spans[1][1].bold);
    EXPECT_TRUE(spans[1][3].underline);
    EXPECT_EQ(spans[1].last().color, QColor(255, 0, 0));
    EXPECT_EQ(spans[2][0].family, "Arial");
    EXPECT_EQ(spans[2][0].points, 12);
    EXPECT_EQ(spans[3][0].family, "Times New Roman CYR");

    const QTextBlockFormat centred = doc.findBlockByNumber(2).blockFormat();
    EXPECT_EQ(centred.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(centred.leftMargin(), 48);
    EXPECT_EQ(centred.textIndent(), -24);
    // \pard gives the next paragraph back its defaults.
    EXPECT_EQ(doc.findBlockByNumber(3).blockFormat().leftMargin(), 0);
}

TEST_F(RtfTest, FileThatIsNoRtfOpensAsText)
{
    QTextDocument doc;
    krtf::ReadRtf("Ligne \xe9t\xe9\r\nDeux", doc);
    EXPECT_EQ(doc.toPlainText(), QString::fromUtf8("Ligne été\nDeux"));
}

namespace {
QString Pandoc()
{
    return QStandardPaths::findExecutable("pandoc");
}

QByteArray RunPandoc(const QStringList& args, const QByteArray& input)
{
    QProcess p;
    p.start(Pandoc(), args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}
}  // namespace

TEST_F(RtfTest, ConverterFilesOpenAndOursReadThere)
{
    if (Pandoc().isEmpty())
        GTEST_SKIP() << "pandoc is not installed";
    // The converter's RTF: text, bold, italic, accents and a symbol.
    const QByteArray md = QString::fromUtf8("Suites **simples**, *drain* retiré à J2 — 5 €.\n\n"
                                            "Deuxième paragraphe ***très*** net.\n")
                              .toUtf8();
    const QByteArray theirs = RunPandoc({"-f", "markdown", "-t", "rtf", "-s"}, md);
    ASSERT_FALSE(theirs.isEmpty());
    QTextDocument doc;
    krtf::ReadRtf(theirs, doc);
    const QStringList paragraphs = doc.toPlainText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(paragraphs.size(), 2) << doc.toPlainText().toStdString();
    EXPECT_EQ(paragraphs[0], QString::fromUtf8("Suites simples, drain retiré à J2 — 5 €."));
    EXPECT_EQ(paragraphs[1], QString::fromUtf8("Deuxième paragraphe très net."));
    bool boldSimple = false, italicDrain = false, both = false, plainSuites = false;
    for (const auto& line : Spans(doc))
        for (const Span& s : line) {
            if (s.text.contains("simples"))
                boldSimple = s.bold && !s.italic;
            if (s.text.contains("drain"))
                italicDrain = s.italic && !s.bold;
            if (s.text.contains(QString::fromUtf8("très")))
                both = s.bold && s.italic;
            if (s.text.startsWith("Suites"))
                plainSuites = !s.bold && !s.italic;
        }
    EXPECT_TRUE(boldSimple && italicDrain && both && plainSuites);

    // Ours, read by the converter: the same text and emphasis.
    QTextDocument ours;
    QTextCursor c(&ours);
    c.insertText("Suites ", Fmt("Verdana", 8));
    c.insertText("simples", Fmt("Verdana", 8, true));
    c.insertText(QString::fromUtf8(", drain "), Fmt("Verdana", 8));
    c.insertText(QString::fromUtf8("retiré"), Fmt("Verdana", 8, false, true));
    c.insertText(QString::fromUtf8(" à J2 — 5 €."), Fmt("Verdana", 8));
    c.insertBlock();
    c.insertText(QString::fromUtf8("Œil"), Fmt("Arial", 12));
    const QString markdown =
        QString::fromUtf8(RunPandoc({"-f", "rtf", "-t", "markdown-smart", "--wrap=none"}, krtf::WriteRtf(ours)));
    EXPECT_EQ(markdown.trimmed().toStdString(), "Suites **simples**, drain *retiré* à J2 — 5 €.\n\nŒil");
}

TEST_F(RtfTest, SaveReplacesTheFileWholeOrNotAtAll)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("PROT000001.RTF");
    QTextDocument first, second;
    QTextCursor(&first).insertText("premier", Fmt("Verdana", 8));
    QTextCursor(&second).insertText(QString::fromUtf8("deuxième"), Fmt("Verdana", 8, true));
    QString error;
    ASSERT_TRUE(krtf::SaveRtfFile(name, first, &error)) << error.toStdString();
    ASSERT_TRUE(krtf::SaveRtfFile(name, second, &error)) << error.toStdString();
    QTextDocument back;
    ASSERT_TRUE(krtf::LoadRtfFile(name, back));
    ExpectSameDocument(second, back);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"PROT000001.RTF"});

    // A read-only file is left as it was, with the reason in French.
    QFile::setPermissions(name, QFile::ReadOwner | QFile::ReadUser);
    EXPECT_FALSE(krtf::SaveRtfFile(name, first, &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8("lecture seule"))) << error.toStdString();
    ASSERT_TRUE(krtf::LoadRtfFile(name, back));
    EXPECT_EQ(back.toPlainText(), QString::fromUtf8("deuxième"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"PROT000001.RTF"});

    // A missing directory.
    EXPECT_FALSE(krtf::SaveRtfFile(dir.filePath("absent/PROT1.RTF"), first, &error));
    EXPECT_TRUE(error.startsWith("Impossible d'enregistrer")) << error.toStdString();
    EXPECT_FALSE(krtf::LoadRtfFile(dir.filePath("absent/PROT1.RTF"), back));
}


TEST_F(RtfTest, EveryFormatThatShowsIsWrittenAndReadBack)
{
    // As another word processor writes it: superscript and subscript,
    // highlighting, right alignment (the last paragraph without its mark),
    // a bulleted list with hanging indents, line spacing.
    const QByteArray theirs =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Verdana;}}"
        "{\\colortbl ;\\red255\\green255\\blue0;\\red0\\green0\\blue255;}\r\n"
        "\\viewkind4\\uc1\\pard\\qr\\f0\\fs16 Lyon, le 3 mai\\par\r\n"
        "\\pard\\sb120\\sa240\\sl360\\slmult1 Surface de 4 m\\super 2\\nosupersub , SpO\\sub 2\\nosupersub  "
        "{\\highlight1 normale}, {\\cb2 bleu}\\par\r\n"
        "\\pard{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnindent0{\\pntxtb\\'95}}\\fi-360\\li720 premier temps\\par\r\n"
        "{\\pntext\\'95\\tab}second temps\\par\r\n"
        "\\pard\\qr Dr Martin}";
    QTextDocument doc;
    krtf::ReadRtf(theirs, doc);
    ASSERT_EQ(doc.blockCount(), 5) << doc.toPlainText().toStdString();
    EXPECT_EQ(doc.findBlockByNumber(0).blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(doc.findBlockByNumber(4).blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    const QTextBlockFormat spaced = doc.findBlockByNumber(1).blockFormat();
    EXPECT_EQ(spaced.lineHeightType(), QTextBlockFormat::ProportionalHeight);
    EXPECT_EQ(spaced.lineHeight(), 150);
    const QStringList shown = textformats::Shown(doc);
    EXPECT_TRUE(shown.filter("[2] Verdana 8 b0 i0 u0 s0 v1").size() == 1) << shown.join('\n').toStdString();
    EXPECT_TRUE(shown.filter("[2] Verdana 8 b0 i0 u0 s0 v2").size() == 1) << shown.join('\n').toStdString();
    EXPECT_TRUE(shown.filter(QRegularExpression("\\[normale\\].*bg #ffff00")).size() == 1);
    EXPECT_TRUE(shown.filter(QRegularExpression("\\[bleu\\].*bg #0000ff")).size() == 1);
    // The bullet's tab reaches the left indent, where the next lines start.
    const QTextBlockFormat item = doc.findBlockByNumber(2).blockFormat();
    EXPECT_EQ(item.leftMargin(), 48);
    EXPECT_EQ(item.textIndent(), -24);
    ASSERT_EQ(item.tabPositions().size(), 1);
    EXPECT_EQ(item.tabPositions()[0].position, 24) << "from where the first line starts";

    // Written and read again: the same.
    const QByteArray ours = krtf::WriteRtf(doc);
    QTextDocument back;
    krtf::ReadRtf(ours, back);
    EXPECT_EQ(textformats::Shown(back), shown) << ours.constData();
    EXPECT_EQ(krtf::WriteRtf(back), ours);
    EXPECT_TRUE(ours.contains("{\\super 2}")) << ours.constData();
    EXPECT_TRUE(ours.contains("{\\sub 2}")) << ours.constData();
    EXPECT_TRUE(ours.contains("\\tx720 \\'95\\tab")) << ours.constData();

    // A list made in the editor (pasted) is written as the indented
    // paragraphs it shows, with its bullets and numbers.
    QTextDocument list;
    list.setDefaultFont(QFont("Verdana", 8));
    QTextCursor c(&list);
    c.insertText("Temps :");
    QTextListFormat bullets;
    bullets.setStyle(QTextListFormat::ListDisc);
    c.insertBlock();
    c.createList(bullets);
    c.insertText("incision");
    c.insertBlock();
    c.insertText("fermeture");
    QTextListFormat numbers;
    numbers.setStyle(QTextListFormat::ListDecimal);
    numbers.setIndent(2);
    c.insertBlock();
    c.createList(numbers);
    c.insertText("points");
    QTextBlockFormat quoted;
    quoted.setIndent(1);
    c.insertBlock(quoted);
    c.insertText("cité");
    QTextDocument listBack;
    krtf::ReadRtf(krtf::WriteRtf(list), listBack);
    QStringList lines;
    for (QTextBlock b = listBack.begin(); b.isValid(); b = b.next())
        lines << b.text();
    EXPECT_EQ(lines, (QStringList{"Temps :", QString::fromUtf8("•\tincision"), QString::fromUtf8("•\tfermeture"),
                         "1.\tpoints", QString::fromUtf8("cité")}));
    EXPECT_EQ(listBack.findBlockByNumber(1).blockFormat().leftMargin(), 40);
    EXPECT_EQ(listBack.findBlockByNumber(3).blockFormat().leftMargin(), 80);
    EXPECT_EQ(listBack.findBlockByNumber(4).blockFormat().leftMargin(), 40);

    // Lowered and raised by a distance; single lines given as such.
    QTextDocument moved;
    krtf::ReadRtf("{\\rtf1\\pard\\sl240\\slmult1 H{\\dn 2}O x{\\up4 2}\\par}", moved);
    const QStringList movedShown = textformats::Shown(moved);
    EXPECT_EQ(movedShown.filter(" v2 ").size(), 1) << movedShown.join('\n').toStdString();
    EXPECT_EQ(movedShown.filter(" v1 ").size(), 1);
    EXPECT_FALSE(moved.begin().blockFormat().hasProperty(QTextFormat::LineHeight));

    // Characters outside the code page: \uN, then what a reader that skips
    // \uN shows: the letter they decompose to, "?" without one.
    QTextDocument symbols;
    symbols.setPlainText(QString::fromUtf8("ő ₂ α ǻ\u2007| 5 μg ł"));
    const QByteArray written = krtf::WriteRtf(symbols);
    EXPECT_TRUE(written.contains("\\u337o \\u8322 2 \\u945? \\u507\\'e5\\u8199  | 5 \\u956\\'b5g \\u322l"))
        << written.constData();
    QTextDocument symbolsBack;
    krtf::ReadRtf(written, symbolsBack);
    EXPECT_EQ(symbolsBack.toPlainText(), QString::fromUtf8("ő ₂ α ǻ\u2007| 5 μg ł"));
    // A reader that skips \uN shows the fallbacks.
    QByteArray skipped = written;
    skipped.replace("\\uc1", "\\uc0");
    static const QRegularExpression unicode("\\\\u\\d+ ?");
    QTextDocument fallbacks;
    krtf::ReadRtf(QString::fromLatin1(skipped).remove(unicode).toLatin1(), fallbacks);
    EXPECT_EQ(fallbacks.toPlainText(), QString::fromUtf8("o 2 ? å | 5 µg l"));
}
