// Reading and writing a long protocol text (RTF), against pandoc doing the
// same (RTF in, RTF out) on the same file:
//
//   korvale_rtf_bench [pages] [runs]      (default: 200 pages, 5 runs)
//
// The document: paragraphs of French text with accents, bold, italic,
// underline, two fonts and three sizes, about 45 lines of 90 characters a
// page. Prints the file size, the best time of the runs for our reading,
// our writing, both together, pandoc's conversion, and the ratio.
#include "platform/rtf/Rtf.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

void Build(QTextDocument& doc, int pages)
{
    static const char* words[] = {"incision", "médiane", "sus-ombilicale", "hémostase", "soigneuse", "à",
        "l'électrocoagulation", "péritoine", "ouvert", "sans", "difficulté", "caecum", "extériorisé", "appendice",
        "inflammatoire", "lié", "et", "sectionné", "moignon", "enfoui", "fermeture", "plan", "par", "plan", "drain",
        "de", "Redon", "ç"};
    const int nWords = sizeof words / sizeof *words;
    QTextCursor c(&doc);
    QTextCharFormat plain;
    plain.setFontFamilies({"Verdana"});
    plain.setFontPointSize(8);
    QTextCharFormat bold = plain;
    bold.setFontWeight(QFont::Bold);
    bold.setFontPointSize(10);
    QTextCharFormat italic = plain;
    italic.setFontItalic(true);
    italic.setFontFamilies({"Arial"});
    QTextCharFormat under = plain;
    under.setFontUnderline(true);
    under.setFontPointSize(12);
    const QTextCharFormat* formats[] = {&plain, &plain, &plain, &bold, &italic, &under};
    unsigned seed = 1;
    const int lines = pages * 45;
    for (int line = 0; line < lines; ++line) {
        if (line % 5 == 0 && line > 0)
            c.insertBlock();
        QString text;
        while (text.size() < 90) {
            seed = seed * 1103515245 + 12345;
            text += QString::fromUtf8(words[(seed >> 16) % nWords]) + ' ';
        }
        c.insertText(text, *formats[(seed >> 8) % 6]);
    }
}

double BestMs(int runs, const std::function<void()>& step)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        step();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    QTextDocument source;
    Build(source, pages);
    const QByteArray rtf = krtf::WriteRtf(source);
    QTemporaryDir dir;
    const QString file = dir.filePath("PROT000001.RTF");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(rtf) != rtf.size())
            return 1;
    }
    std::printf("document: %d pages, %lld characters, RTF %.1f KiB\n", pages,
        static_cast<long long>(source.characterCount()), rtf.size() / 1024.0);

    QTextDocument read;
    const double readMs = BestMs(runs, [&] { krtf::LoadRtfFile(file, read); });
    QByteArray written;
    const double writeMs = BestMs(runs, [&] { written = krtf::WriteRtf(read); });
    const double bothMs = BestMs(runs, [&] {
        QTextDocument doc;
        krtf::LoadRtfFile(file, doc);
        krtf::SaveRtfFile(dir.filePath("out.rtf"), doc);
    });
    std::printf("korvale: read %.1f ms, write %.1f ms, read + save %.1f ms (same text back: %s)\n", readMs, writeMs,
        bothMs, read.toPlainText() == source.toPlainText() ? "yes" : "NO");

    const QString pandoc = QStandardPaths::findExecutable("pandoc");
    if (pandoc.isEmpty()) {
        std::printf("pandoc: not installed, no comparison\n");
        return 0;
    }
    const double pandocMs = BestMs(std::min(runs, 3), [&] {
        QProcess p;
        p.start(pandoc, {"-f", "rtf", "-t", "rtf", "-s", "-o", dir.filePath("pandoc.rtf"), file});
        p.waitForFinished(-1);
    });
    std::printf("pandoc (rtf -> rtf): %.1f ms\n", pandocMs);
    std::printf("ratio pandoc / korvale (read + save): %.1fx (goal: at least 10x)\n", pandocMs / bothMs);
    return 0;
}
