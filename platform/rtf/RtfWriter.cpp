#include "Rtf.h"
#include "RtfCodePage.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextOption>

#include <cmath>

namespace krtf {

namespace {

struct RunState {
    int font = -1;
    int halfPoints = -1;
    bool bold = false, italic = false, underline = false, strike = false;
    int color = 0;
    int highlight = 0;
    QTextCharFormat::VerticalAlignment script = QTextCharFormat::AlignNormal;
};

// The family of a font without the foundry the font list adds to tell
// apart families of the same name ("C059 [UKWN]").
QString FamilyName(QString family)
{
    static const QRegularExpression foundry(QStringLiteral("\\s*\\[[^\\]]*\\]\\s*$"));
    family.remove(foundry);
    family.remove(QLatin1Char(';'));
    return family;
}

// What a reader that does not know \uN shows instead: the character of
// the code page the character decomposes to ("o" for "ő", "2" for "₂",
// "å" for "ǻ") or looks like ("µ" for "μ", "l" for "ł"), or "?" when there
// is none.
QByteArray Fallback(char16_t c, const QHash<char16_t, unsigned char>& encode)
{
    // Letters and signs that decompose to nothing but have a look-alike.
    static const QHash<char16_t, char16_t> alike = {{u'\u03BC', u'\u00B5'}, {u'\u0142', u'l'}, {u'\u0141', u'L'},
        {u'\u0111', u'd'}, {u'\u0110', u'\u00D0'}, {u'\u0131', u'i'}, {u'\u2010', u'-'}, {u'\u2212', u'-'},
        {u'\u2032', u'\''}, {u'\u2033', u'"'}, {u'\u2044', u'/'}, {u'\u2215', u'/'}};
    const QString d = QChar(c).decomposition();
    const char16_t base = alike.value(c, d.isEmpty() ? char16_t(0) : d.at(0).unicode());
    if (base == 0)
        return "?";
    if (base >= 0x20 && base < 0x7F) {
        if (base == '\\' || base == '{' || base == '}')
            return QByteArray("\\") + static_cast<char>(base);
        return QByteArray(1, static_cast<char>(base));
    }
    if (const auto it = encode.constFind(base); it != encode.cend() && base != 0xA0)
        return "\\'" + QByteArray::number(*it, 16).rightJustified(2, '0');
    return "?";
}

class Writer {
public:
    explicit Writer(const QTextDocument& document) : document_(document)
    {
        const ByteTable& t = CodePageTable(1252);
        for (int b = 0x80; b < 256; ++b)
            encode_.insert(t[b], static_cast<unsigned char>(b));
        out_.reserve(document.characterCount() * 2 + 256);
    }

    QByteArray run()
    {
        // The tables first: every family and colour the text uses.
        QByteArray body;
        body.reserve(document_.characterCount() * 2 + 256);
        std::swap(out_, body);
        for (QTextBlock block = document_.begin(); block.isValid(); block = block.next()) {
            paragraph(block);
            bool any = false;
            if (const QTextList* list = block.textList()) {
                // A list's number or bullet is written as the paragraph's
                // first text, in its first characters' format, before a tab
                // to the text's indent.
                const auto first = block.begin();
                format(!first.atEnd() && first.fragment().isValid() ? first.fragment().charFormat()
                                                                    : block.charFormat());
                text(ListMarker(*list, block) + QLatin1Char('\t'));
                any = true;
            }
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid())
                    continue;
                const QTextCharFormat f = fragment.charFormat();
                const QTextCharFormat::VerticalAlignment v = f.verticalAlignment();
                if (v == QTextCharFormat::AlignSuperScript || v == QTextCharFormat::AlignSubScript) {
                    // A raised or lowered run in a group of its own, which
                    // every reader ends where the group does.
                    const RunState outside = state_;
                    out_ += '{';
                    format(f);
                    text(fragment.text());
                    out_ += '}';
                    state_ = outside;
                } else {
                    format(f);
                    text(fragment.text());
                }
                any = true;
            }
            if (!any)
                format(block.charFormat());
            out_ += "\\par\n";
        }
        std::swap(out_, body);

        out_ += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1036{\\fonttbl";
        if (fonts_.isEmpty())
            fonts_.append(FamilyName(document_.defaultFont().family()));
        for (int i = 0; i < fonts_.size(); ++i) {
            out_ += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
            text(fonts_.at(i));
            out_ += ";}";
        }
        out_ += "}\n";
        if (!colors_.isEmpty()) {
            out_ += "{\\colortbl ;";
            for (const QColor& c : colors_)
                out_ += "\\red" + QByteArray::number(c.red()) + "\\green" + QByteArray::number(c.green()) + "\\blue" +
                    QByteArray::number(c.blue()) + ";";
            out_ += "}\n";
        }
        out_ += "\\viewkind4\\uc1\n";
        out_ += body;
        out_ += "}\n";
        return out_;
    }

private:
    static QByteArray Twips(double px) { return QByteArray::number(qRound(px * 15)); }

    // The text of a list item's number or bullet.
    static QString ListMarker(const QTextList& list, const QTextBlock& block)
    {
        switch (list.format().style()) {
        case QTextListFormat::ListDisc:
            return QString(QChar(0x2022));
        case QTextListFormat::ListCircle:
            return QString(QChar(0x25E6));
        case QTextListFormat::ListSquare:
            return QString(QChar(0x25AA));
        default:
            return list.itemText(block);
        }
    }

    void paragraph(const QTextBlock& block)
    {
        QTextBlockFormat f = block.blockFormat();
        // Block and list indents are written as the left indent they give;
        // a list item hangs its marker in front of its text.
        const double step = document_.indentWidth();
        double left = f.leftMargin() + f.indent() * step;
        if (const QTextList* list = block.textList()) {
            left += std::max(1, list->format().indent()) * step;
            const double hang = std::min(left, step / 2);
            f.setTextIndent(-hang);
            QList<QTextOption::Tab> tabs = f.tabPositions();
            tabs.prepend(QTextOption::Tab(hang, QTextOption::LeftTab));
            f.setTabPositions(tabs);
        }
        f.setLeftMargin(left);
        out_ += "\\pard";
        const Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
        if (a & Qt::AlignHCenter)
            out_ += "\\qc";
        else if (a & Qt::AlignJustify)
            out_ += "\\qj";
        else if (a & Qt::AlignRight)
            out_ += "\\qr";
        if (f.leftMargin() != 0)
            out_ += "\\li" + Twips(f.leftMargin());
        if (f.rightMargin() != 0)
            out_ += "\\ri" + Twips(f.rightMargin());
        if (f.textIndent() != 0)
            out_ += "\\fi" + Twips(f.textIndent());
        if (f.topMargin() != 0)
            out_ += "\\sb" + Twips(f.topMargin());
        if (f.bottomMargin() != 0)
            out_ += "\\sa" + Twips(f.bottomMargin());
        if (f.hasProperty(QTextFormat::LineHeight)) {
            const double h = f.lineHeight();
            switch (f.lineHeightType()) {
            case QTextBlockFormat::ProportionalHeight:
                if (h > 0 && h != 100)
                    out_ += "\\sl" + QByteArray::number(qRound(h * 240 / 100)) + "\\slmult1";
                break;
            case QTextBlockFormat::MinimumHeight:
                if (h > 0)
                    out_ += "\\sl" + Twips(h) + "\\slmult0";
                break;
            case QTextBlockFormat::FixedHeight:
                if (h > 0)
                    out_ += "\\sl-" + Twips(h) + "\\slmult0";
                break;
            default:  // the leading added to each line has no RTF word
                break;
            }
        }
        for (const QTextOption::Tab& tab : f.tabPositions()) {
            if (tab.type == QTextOption::RightTab)
                out_ += "\\tqr";
            else if (tab.type == QTextOption::CenterTab)
                out_ += "\\tqc";
            else if (tab.type == QTextOption::DelimiterTab)
                out_ += "\\tqdec";
            out_ += "\\tx" + Twips(tab.position + f.leftMargin() + f.textIndent());
        }
        out_ += ' ';
    }

    void format(const QTextCharFormat& f)
    {
        const QFont font = f.font().resolve(document_.defaultFont());
        RunState s;
        const QString family = FamilyName(font.family());
        s.font = fonts_.indexOf(family);
        if (s.font < 0) {
            s.font = fonts_.size();
            fonts_.append(family);
        }
        const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 12;
        s.halfPoints = std::max(1, static_cast<int>(std::lround(points * 2)));
        s.bold = font.weight() >= QFont::DemiBold;
        s.italic = font.italic();
        s.underline = font.underline();
        s.strike = font.strikeOut();
        if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush)
            s.color = colorIndex(f.foreground().color());
        if (f.hasProperty(QTextFormat::BackgroundBrush) && f.background().style() != Qt::NoBrush &&
            f.background().color().alpha() > 0)
            s.highlight = colorIndex(f.background().color());
        s.script = f.verticalAlignment();
        if (s.script != QTextCharFormat::AlignSuperScript && s.script != QTextCharFormat::AlignSubScript)
            s.script = QTextCharFormat::AlignNormal;
        QByteArray w;
        if (s.font != state_.font)
            w += "\\f" + QByteArray::number(s.font);
        if (s.halfPoints != state_.halfPoints)
            w += "\\fs" + QByteArray::number(s.halfPoints);
        if (s.bold != state_.bold)
            w += s.bold ? "\\b" : "\\b0";
        if (s.italic != state_.italic)
            w += s.italic ? "\\i" : "\\i0";
        if (s.underline != state_.underline)
            w += s.underline ? "\\ul" : "\\ulnone";
        if (s.strike != state_.strike)
            w += s.strike ? "\\strike" : "\\strike0";
        if (s.color != state_.color)
            w += "\\cf" + QByteArray::number(s.color);
        if (s.highlight != state_.highlight)
            w += "\\highlight" + QByteArray::number(s.highlight);
        if (s.script != state_.script)
            w += s.script == QTextCharFormat::AlignSuperScript ? "\\super"
                : s.script == QTextCharFormat::AlignSubScript  ? "\\sub"
                                                              : "\\nosupersub";
        if (!w.isEmpty()) {
            out_ += w;
            out_ += ' ';
        }
        state_ = s;
    }

    void text(const QString& s)
    {
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t c = s.at(i).unicode();
            if (c == '\\' || c == '{' || c == '}') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c == '\t') {
                out_ += "\\tab ";
            } else if (c == 0x2028 || c == '\n' || c == 0x2029) {
                out_ += "\\line ";
            } else if (c == 0x00A0) {
                out_ += "\\~";
            } else if (c < 0x20 || c == 0xFFFC) {
                // control characters and embedded objects are not text
            } else if (c < 0x80) {
                out_ += static_cast<char>(c);
            } else if (const auto it = encode_.constFind(c); it != encode_.cend()) {
                static const char hex[] = "0123456789abcdef";
                out_ += "\\'";
                out_ += hex[*it >> 4];
                out_ += hex[*it & 15];
            } else {
                // A fallback digit or blank would be read as the number's or
                // the word's end: a blank ends the word first.
                const QByteArray fallback = Fallback(c, encode_);
                out_ += "\\u" + QByteArray::number(static_cast<int16_t>(c));
                if (fallback[0] == ' ' || (fallback[0] >= '0' && fallback[0] <= '9'))
                    out_ += ' ';
                out_ += fallback;
            }
        }
    }

    int colorIndex(QColor c)
    {
        c.setAlpha(255);
        int i = colors_.indexOf(c) + 1;
        if (i == 0) {
            colors_.append(c);
            i = colors_.size();
        }
        return i;
    }

    const QTextDocument& document_;
    QByteArray out_;
    QStringList fonts_;
    QList<QColor> colors_;
    RunState state_;
    QHash<char16_t, unsigned char> encode_;
};

}  // namespace

QByteArray WriteRtf(const QTextDocument& document)
{
    return Writer(document).run();
}

}  // namespace krtf
