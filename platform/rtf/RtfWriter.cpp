#include "Rtf.h"
#include "RtfCodePage.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextOption>

#include <cmath>

namespace krtf {

namespace {

struct RunState {
    int font = -1;
    int halfPoints = -1;
    bool bold = false, italic = false, underline = false, strike = false;
    int color = 0;
};

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
            paragraph(block.blockFormat());
            bool any = false;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid())
                    continue;
                format(fragment.charFormat());
                text(fragment.text());
                any = true;
            }
            if (!any)
                format(block.charFormat());
            out_ += "\\par\n";
        }
        std::swap(out_, body);

        out_ += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1036{\\fonttbl";
        if (fonts_.isEmpty())
            fonts_.append(document_.defaultFont().family());
        for (int i = 0; i < fonts_.size(); ++i) {
            out_ += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
            QString name = fonts_.at(i);
            name.remove(QLatin1Char(';'));
            text(name);
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

    void paragraph(const QTextBlockFormat& f)
    {
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
        for (const QTextOption::Tab& tab : f.tabPositions()) {
            if (tab.type == QTextOption::RightTab)
                out_ += "\\tqr";
            else if (tab.type == QTextOption::CenterTab)
                out_ += "\\tqc";
            else if (tab.type == QTextOption::DelimiterTab)
                out_ += "\\tqdec";
            out_ += "\\tx" + Twips(tab.position);
        }
        out_ += ' ';
    }

    void format(const QTextCharFormat& f)
    {
        const QFont font = f.font().resolve(document_.defaultFont());
        RunState s;
        const QString family = font.family();
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
        if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
            const QColor c = f.foreground().color();
            s.color = colors_.indexOf(c) + 1;
            if (s.color == 0) {
                colors_.append(c);
                s.color = colors_.size();
            }
        }
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
                out_ += "\\u" + QByteArray::number(static_cast<int16_t>(c)) + "?";
            }
        }
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
