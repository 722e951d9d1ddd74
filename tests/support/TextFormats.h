#pragma once
// A text document's formats as lines of text, paragraph by paragraph and
// run by run: alignment, indents, spacing, tab stops; font, size, styles,
// superscript and subscript, colour and highlighting. Two documents that
// give the same lines show the same.
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace textformats {

inline QStringList Shown(const QTextDocument& doc)
{
    QStringList shown;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QTextBlockFormat f = b.blockFormat();
        QStringList tabs;
        for (const QTextOption::Tab& t : f.tabPositions())
            tabs << QString::number(qRound(t.position));
        shown << QString("¶ align %1 left %2 first %3 right %4 above %5 below %6 line %7/%8 tabs %9")
                     .arg(int(f.alignment() & Qt::AlignHorizontal_Mask))
                     .arg(f.leftMargin() + f.indent() * doc.indentWidth())
                     .arg(f.textIndent())
                     .arg(f.rightMargin())
                     .arg(f.topMargin())
                     .arg(f.bottomMargin())
                     .arg(f.lineHeightType())
                     .arg(f.lineHeight())
                     .arg(tabs.join(','));
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat c = it.fragment().charFormat();
            const QFont font = c.font().resolve(doc.defaultFont());
            shown << QString("  [%1] %2 %3 b%4 i%5 u%6 s%7 v%8 fg %9 bg %10")
                         .arg(it.fragment().text(), font.family())
                         .arg(font.pointSizeF())
                         .arg(font.bold())
                         .arg(font.italic())
                         .arg(font.underline())
                         .arg(font.strikeOut())
                         .arg(int(c.verticalAlignment()))
                         .arg(c.hasProperty(QTextFormat::ForegroundBrush) ? c.foreground().color().name() : "-")
                         .arg(c.hasProperty(QTextFormat::BackgroundBrush) ? c.background().color().name() : "-");
        }
    }
    return shown;
}


}  // namespace textformats
