#pragma once
// Reading back what was printed into a PDF file: its text as pdftotext
// lays it out (one string per page), its page sizes and its fonts; where
// the ink falls on a page image.
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QStringList>

namespace pdftest {

inline QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text of each page, laid out as on the page.
inline QStringList Pages(const QString& pdf)
{
    QStringList pages = Run("pdftotext", {"-layout", pdf, "-"}).split('\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// The non-empty lines of a page, blanks at both ends removed and inner runs
// of blanks kept.
inline QStringList Lines(const QString& page)
{
    QStringList lines;
    for (const QString& line : page.split('\n'))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines;
}

// The lines with every run of blanks made one blank.
inline QStringList Words(const QString& page)
{
    QStringList lines;
    for (const QString& line : Lines(page))
        lines << line.simplified();
    return lines;
}

// The size of each page in points.
inline QList<QSizeF> PageSizes(const QString& pdf)
{
    QList<QSizeF> sizes;
    const QString info = Run("pdfinfo", {"-f", "1", "-l", "999", pdf});
    static const QRegularExpression re("Page\\s+\\d+ size:\\s+([\\d.]+) x ([\\d.]+) pts");
    for (auto it = re.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        sizes << QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble());
    }
    return sizes;
}

// The font table of pdffonts.
inline QString Fonts(const QString& pdf)
{
    return Run("pdffonts", {pdf});
}

// The bounds of the pixels darker than mid-grey.
inline QRect DarkBounds(const QImage& image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// One run of text of a page with the font it is printed in, as pdftohtml
// reads them back: the text, the font's family and its size.
struct TextRun {
    QString text;
    QString family;
    int size = 0;
};

// The runs of text of every page, in reading order.
inline QList<TextRun> TextRuns(const QString& pdf)
{
    const QString xml = Run("pdftohtml", {"-xml", "-i", "-stdout", "-q", pdf});
    QHash<QString, std::pair<QString, int>> fonts;
    static const QRegularExpression spec("<fontspec id=\"(\\d+)\" size=\"(\\d+)\" family=\"([^\"]*)\"");
    for (auto it = spec.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        fonts.insert(m.captured(1), {m.captured(3), m.captured(2).toInt()});
    }
    QList<TextRun> runs;
    static const QRegularExpression text("<text [^>]*font=\"(\\d+)\"[^>]*>(.*)</text>");
    for (auto it = text.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        QString t = m.captured(2);
        t.remove(QRegularExpression("<[^>]*>"));
        const auto font = fonts.value(m.captured(1));
        runs.append({t.trimmed(), font.first, font.second});
    }
    return runs;
}

}  // namespace pdftest
