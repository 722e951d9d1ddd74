#include "Rtf.h"
#include "RtfCodePage.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace krtf {

namespace {

// Groups nested deeper than this share the state of the deepest one kept.
constexpr int kMaxDepth = 512;
// The longest control word kept; longer words are read and ignored.
constexpr int kMaxWord = 32;
// Twips kept in a length (22 inches either way).
constexpr int kMaxTwips = 31680;

enum class Dest { Text, Skip, FontTable, ColorTable };

struct CharState {
    int font = -1;
    int halfPoints = 24;
    bool bold = false, italic = false, underline = false, strike = false, hidden = false;
    int color = 0;
    int highlight = 0;  // background: an entry of the colour table, 0 for none
    QTextCharFormat::VerticalAlignment script = QTextCharFormat::AlignNormal;
    bool operator==(const CharState&) const = default;
};

struct ParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int li = 0, ri = 0, fi = 0, sb = 0, sa = 0;
    // Line spacing: 0 single; a multiple of single lines in 240ths with
    // \slmult1; else at least sl twips, or exactly -sl twips when negative.
    int sl = 0;
    bool slMult = false;
    QList<QTextOption::Tab> tabs;
    QTextOption::TabType nextTab = QTextOption::LeftTab;
};

struct State {
    CharState ch;
    ParaState para;
    Dest dest = Dest::Text;
    int uc = 1;
};

struct Font {
    QString name;
    int codePage = 0;
};

int Clamp(int64_t v, int lo, int hi)
{
    return static_cast<int>(std::clamp<int64_t>(v, lo, hi));
}

// \uN: a signed 16-bit value; anything beyond is no character.
char16_t UnicodeValue(int v)
{
    if (v < -32768 || v > 65535)
        return u'\uFFFD';
    return static_cast<char16_t>(v < 0 ? v + 65536 : v);
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The destinations whose text is not shown.
bool IsSkippedDestination(const char* w)
{
    static const char* const words[] = {"stylesheet", "info", "pict", "object", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "nonshppict", "listtable",
        "listoverridetable", "revtbl", "rsidtbl", "xmlnstbl", "themedata", "colorschememapping", "latentstyles",
        "datastore", "filetbl", "generator", "txe", "xe", "tc", "userprops", "docvar", "template", "comment",
        "annotation", "atnid", "atnauthor", "private", "bkmkstart", "bkmkend", "objdata", "result", "shpinst", "sp",
        "sn", "sv", "fontemb", "fontfile", "mmathPr", "pgdsctbl", "protusertbl", "ftnsep", "ftnsepc", "ftncn",
        "aftnsep", "aftnsepc", "aftncn", "wgrffmtfilter", "passwordhash", "defchp", "defpap", "title", "author",
        "operator"};
    for (const char* word : words)
        if (std::strcmp(w, word) == 0)
            return true;
    return false;
}

class Reader {
public:
    Reader(const QByteArray& data, QTextDocument& document)
        : p_(data.constData()), end_(data.constData() + data.size()), cursor_(&document)
    {
        stack_.reserve(64);
        stack_.push_back(State{});
    }

    RtfDamage run()
    {
        while (p_ < end_) {
            const char c = *p_++;
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                control();
                break;
            case '\r':
            case '\n':
                break;
            case '\t':
                symbol(u'\t');
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20)
                    byte(static_cast<unsigned char>(c));
                break;
            }
        }
        finish();
        return damage_;
    }

private:
    // What was wrong, the worst kept: data cut short hides more than a
    // stray brace.
    void damaged(RtfDamage d)
    {
        if (damage_ == RtfDamage::Whole || d == RtfDamage::Truncated)
            damage_ = d;
    }

    State& st() { return stack_.back(); }

    void openGroup()
    {
        ucSkip_ = 0;
        if (static_cast<int>(stack_.size()) >= kMaxDepth) {
            ++overflow_;
            return;
        }
        stack_.push_back(stack_.back());
    }

    void closeGroup()
    {
        ucSkip_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (stack_.size() <= 1) {
            damaged(RtfDamage::Broken);  // a brace too many: ignored
            return;
        }
        if (st().dest == Dest::FontTable)
            commitFont();
        if (stack_.size() == 2 && st().dest == Dest::Text)
            closingPara_ = st().para;
        const Dest closed = st().dest;
        stack_.pop_back();
        if (closed == Dest::ColorTable && st().dest != Dest::ColorTable)
            commitColor(false);
    }

    // A character of the text, given as a byte of the current code page.
    void byte(unsigned char b)
    {
        if (ucSkip_ > 0) {
            --ucSkip_;
            return;
        }
        switch (st().dest) {
        case Dest::Text:
            if (b >= 0x20)
                append(QChar(table()[b]));
            else if (b == '\t')
                append(QChar(u'\t'));
            break;
        case Dest::FontTable:
            if (b == ';')
                commitFont();
            else
                fontName_.append(QChar(fontTable()[b]));
            break;
        case Dest::ColorTable:
            if (b == ';')
                commitColor(true);
            break;
        case Dest::Skip:
            break;
        }
    }

    // A character given by a control word or its Unicode value.
    void symbol(char16_t u)
    {
        if (ucSkip_ > 0) {
            --ucSkip_;
            return;
        }
        // Control characters and the characters a text document keeps for
        // its own structure (objects, frames) are not text.
        if ((u < 0x20 && u != u'\t') || u == 0xFFFC || u == 0xFDD0 || u == 0xFDD1)
            return;
        if (u == 0x2029)
            u = 0x2028;
        if (st().dest == Dest::Text)
            append(QChar(u));
        else if (st().dest == Dest::FontTable)
            fontName_.append(QChar(u));
    }

    const ByteTable& table()
    {
        const int f = st().ch.font;
        if (f != lastFont_) {
            lastFont_ = f;
            const auto it = fonts_.constFind(f);
            currentTable_ = &CodePageTable(it != fonts_.cend() && it->codePage ? it->codePage : codePage_);
        }
        return *currentTable_;
    }
    const ByteTable& fontTable() { return CodePageTable(fontCodePage_ ? fontCodePage_ : codePage_); }

    void control()
    {
        if (p_ >= end_) {
            damaged(RtfDamage::Truncated);
            return;
        }
        const char c = *p_;
        if (!IsLetter(c)) {
            ++p_;
            controlSymbol(c);
            return;
        }
        char word[kMaxWord + 1];
        int n = 0;
        while (p_ < end_ && IsLetter(*p_)) {
            if (n < kMaxWord)
                word[n++] = *p_;
            ++p_;
        }
        word[n] = '\0';
        bool hasParam = false;
        int64_t value = 0;
        bool negative = false;
        if (p_ < end_ && *p_ == '-' && p_ + 1 < end_ && *(p_ + 1) >= '0' && *(p_ + 1) <= '9') {
            negative = true;
            ++p_;
        }
        int digits = 0;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            if (digits < 10)
                value = value * 10 + (*p_ - '0');
            ++digits;
            ++p_;
        }
        if (digits > 0) {
            hasParam = true;
            value = std::clamp<int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX);
        }
        if (p_ < end_ && *p_ == ' ')
            ++p_;
        if (ucSkip_ > 0 && std::strcmp(word, "bin") != 0) {
            --ucSkip_;
            return;
        }
        controlWord(word, hasParam, static_cast<int>(value));
    }

    void controlSymbol(char c)
    {
        switch (c) {
        case '\'': {
            int v = -1;
            if (end_ - p_ >= 2) {
                const int h = HexValue(p_[0]), l = HexValue(p_[1]);
                if (h >= 0 && l >= 0)
                    v = h * 16 + l;
            }
            if (v < 0) {
                damaged(end_ - p_ < 2 ? RtfDamage::Truncated : RtfDamage::Broken);
                return;
            }
            p_ += 2;
            byte(static_cast<unsigned char>(v));
            return;
        }
        case '*':
            st().dest = Dest::Skip;
            return;
        case '\\':
        case '{':
        case '}':
            byte(static_cast<unsigned char>(c));
            return;
        case '~':
            symbol(u'\u00A0');
            return;
        case '_':
            symbol(u'\u2011');
            return;
        case '\r':
        case '\n':
            if (ucSkip_ > 0) {
                --ucSkip_;
                return;
            }
            paragraph();
            return;
        default:  // \- \: \| and anything else: nothing shown
            if (ucSkip_ > 0)
                --ucSkip_;
            return;
        }
    }

    void controlWord(const char* w, bool hasParam, int v)
    {
        State& s = st();
        const bool on = !hasParam || v != 0;
        const auto is = [w](const char* name) { return std::strcmp(w, name) == 0; };

        // Binary data: skipped whatever the destination.
        if (is("bin")) {
            if (hasParam && v > 0) {
                if (v > end_ - p_)
                    damaged(RtfDamage::Truncated);
                p_ += std::min<int64_t>(v, end_ - p_);
            }
            return;
        }
        // Destinations.
        if (is("fonttbl")) {
            s.dest = s.dest == Dest::Skip ? Dest::Skip : Dest::FontTable;
            fontId_ = -1;
            fontName_.clear();
            return;
        }
        if (is("colortbl")) {
            s.dest = s.dest == Dest::Skip ? Dest::Skip : Dest::ColorTable;
            red_ = green_ = blue_ = 0;
            colorSet_ = false;
            return;
        }
        if (IsSkippedDestination(w)) {
            s.dest = Dest::Skip;
            return;
        }
        if (s.dest == Dest::Skip)
            return;
        if (s.dest == Dest::FontTable) {
            if (is("f")) {
                if (!fontName_.isEmpty())
                    commitFont();
                fontId_ = v;
                fontCodePage_ = 0;
            } else if (is("fcharset")) {
                fontCodePage_ = CharsetCodePage(v);
            } else if (is("cpg")) {
                fontCodePage_ = v;
            } else if (is("u") && hasParam) {
                symbol(UnicodeValue(v));
                ucSkip_ = s.uc;
            }
            return;
        }
        if (s.dest == Dest::ColorTable) {
            if (is("red"))
                red_ = Clamp(v, 0, 255), colorSet_ = true;
            else if (is("green"))
                green_ = Clamp(v, 0, 255), colorSet_ = true;
            else if (is("blue"))
                blue_ = Clamp(v, 0, 255), colorSet_ = true;
            return;
        }

        // Document.
        if (is("ansi")) {
            codePage_ = 1252;
            lastFont_ = INT32_MIN;
            return;
        }
        if (is("ansicpg")) {
            codePage_ = v;
            lastFont_ = INT32_MIN;
            return;
        }
        if (is("mac")) {
            codePage_ = 10000;
            lastFont_ = INT32_MIN;
            return;
        }
        if (is("pc")) {
            codePage_ = 437;
            lastFont_ = INT32_MIN;
            return;
        }
        if (is("pca")) {
            codePage_ = 850;
            lastFont_ = INT32_MIN;
            return;
        }
        if (is("deff")) {
            defaultFont_ = v;
            for (State& each : stack_)
                if (each.ch.font == -1)
                    each.ch.font = v;
            return;
        }
        // Unicode.
        if (is("u")) {
            if (!hasParam)
                return;
            symbol(UnicodeValue(v));
            ucSkip_ = s.uc;
            return;
        }
        if (is("uc")) {
            s.uc = Clamp(v, 0, 8);
            return;
        }
        // Characters.
        if (is("par") || is("sect") || is("page") || is("row") || is("nestrow")) {
            paragraph();
            return;
        }
        if (is("line")) {
            symbol(u'\u2028');
            return;
        }
        if (is("tab") || is("cell") || is("nestcell")) {
            symbol(u'\t');
            return;
        }
        if (is("emdash")) {
            symbol(u'\u2014');
            return;
        }
        if (is("endash")) {
            symbol(u'\u2013');
            return;
        }
        if (is("bullet")) {
            symbol(u'\u2022');
            return;
        }
        if (is("lquote")) {
            symbol(u'\u2018');
            return;
        }
        if (is("rquote")) {
            symbol(u'\u2019');
            return;
        }
        if (is("ldblquote")) {
            symbol(u'\u201C');
            return;
        }
        if (is("rdblquote")) {
            symbol(u'\u201D');
            return;
        }
        if (is("emspace")) {
            symbol(u'\u2003');
            return;
        }
        if (is("enspace")) {
            symbol(u'\u2002');
            return;
        }
        if (is("qmspace")) {
            symbol(u'\u2005');
            return;
        }
        // Characters' format.
        if (is("plain")) {
            s.ch = CharState{};
            s.ch.font = defaultFont_;
            return;
        }
        if (is("f")) {
            s.ch.font = v;
            return;
        }
        if (is("fs")) {
            s.ch.halfPoints = hasParam && v > 0 ? Clamp(v, 2, 3276) : 24;
            return;
        }
        if (is("b")) {
            s.ch.bold = on;
            return;
        }
        if (is("i")) {
            s.ch.italic = on;
            return;
        }
        if (is("strike")) {
            s.ch.strike = on;
            return;
        }
        if (is("v")) {
            s.ch.hidden = on;
            return;
        }
        if (is("ulnone")) {
            s.ch.underline = false;
            return;
        }
        if (w[0] == 'u' && w[1] == 'l' && !is("ulc")) {
            s.ch.underline = on;
            return;
        }
        if (is("cf")) {
            s.ch.color = std::max(v, 0);
            return;
        }
        if (is("highlight") || is("cb") || is("chcbpat")) {
            s.ch.highlight = std::max(v, 0);
            return;
        }
        if (is("super")) {
            s.ch.script = on ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignNormal;
            return;
        }
        if (is("sub")) {
            s.ch.script = on ? QTextCharFormat::AlignSubScript : QTextCharFormat::AlignNormal;
            return;
        }
        if (is("nosupersub")) {
            s.ch.script = QTextCharFormat::AlignNormal;
            return;
        }
        if (is("up") || is("dn")) {
            const int amount = hasParam ? v : 6;  // half-points
            const int raise = w[0] == 'u' ? amount : -amount;
            s.ch.script = raise > 0 ? QTextCharFormat::AlignSuperScript
                : raise < 0         ? QTextCharFormat::AlignSubScript
                                    : QTextCharFormat::AlignNormal;
            return;
        }
        // Paragraphs' format.
        if (is("pard")) {
            s.para = ParaState{};
            return;
        }
        if (is("ql")) {
            s.para.alignment = Qt::AlignLeft;
            return;
        }
        if (is("qr")) {
            s.para.alignment = Qt::AlignRight;
            return;
        }
        if (is("qc")) {
            s.para.alignment = Qt::AlignHCenter;
            return;
        }
        if (is("qj") || is("qd")) {
            s.para.alignment = Qt::AlignJustify;
            return;
        }
        if (is("li") || is("lin")) {
            s.para.li = Clamp(v, -kMaxTwips, kMaxTwips);
            return;
        }
        if (is("ri") || is("rin")) {
            s.para.ri = Clamp(v, -kMaxTwips, kMaxTwips);
            return;
        }
        if (is("fi")) {
            s.para.fi = Clamp(v, -kMaxTwips, kMaxTwips);
            return;
        }
        if (is("sb")) {
            s.para.sb = Clamp(v, 0, kMaxTwips);
            return;
        }
        if (is("sa")) {
            s.para.sa = Clamp(v, 0, kMaxTwips);
            return;
        }
        if (is("sl")) {
            s.para.sl = Clamp(v, -kMaxTwips, kMaxTwips);
            return;
        }
        if (is("slmult")) {
            s.para.slMult = on;
            return;
        }
        if (is("tqr")) {
            s.para.nextTab = QTextOption::RightTab;
            return;
        }
        if (is("tqc")) {
            s.para.nextTab = QTextOption::CenterTab;
            return;
        }
        if (is("tqdec")) {
            s.para.nextTab = QTextOption::DelimiterTab;
            return;
        }
        if (is("tx") || is("tb")) {
            if (s.para.tabs.size() < 64) {
                QTextOption::Tab tab(Clamp(v, 0, kMaxTwips) / 15.0, s.para.nextTab);
                if (tab.type == QTextOption::DelimiterTab)
                    tab.delimiter = QLatin1Char('.');
                s.para.tabs.append(tab);
            }
            s.para.nextTab = QTextOption::LeftTab;
            return;
        }
        // Anything else is ignored.
    }

    void commitFont()
    {
        if (fontId_ != INT32_MIN) {
            Font f;
            f.name = fontName_.trimmed();
            f.codePage = fontCodePage_;
            if (!fonts_.contains(fontId_) || !f.name.isEmpty())
                fonts_.insert(fontId_, f);
        }
        fontName_.clear();
        fontCodePage_ = 0;
        lastFont_ = INT32_MIN;
    }

    void commitColor(bool fromSemicolon)
    {
        if (fromSemicolon)
            colors_.append(colorSet_ ? QColor(red_, green_, blue_) : QColor());
        red_ = green_ = blue_ = 0;
        colorSet_ = false;
    }

    // Text of the document.
    void append(QChar c)
    {
        if (st().ch.hidden)
            return;
        if (pendingBreak_)
            realizeBreak();
        if (!(st().ch == runState_)) {
            flushRun();
            runState_ = st().ch;
        }
        // A surrogate that is not half of a pair is no character.
        const bool afterHigh = !run_.isEmpty() && run_.back().isHighSurrogate();
        if (c.isLowSurrogate()) {
            if (afterHigh) {
                run_.append(c);
                return;
            }
            c = QChar(u'\uFFFD');
        } else if (afterHigh) {
            run_.back() = QChar(u'\uFFFD');
        }
        run_.append(c);
    }

    void flushRun()
    {
        if (run_.isEmpty())
            return;
        if (run_.back().isHighSurrogate())
            run_.back() = QChar(u'\uFFFD');
        cursor_.insertText(run_, charFormat(runState_));
        run_.clear();
    }

    QTextCharFormat charFormat(const CharState& c)
    {
        QTextCharFormat f;
        const auto it = fonts_.constFind(c.font);
        const QString family =
            it != fonts_.cend() && !it->name.isEmpty() ? it->name : QStringLiteral("Times New Roman");
        f.setFontFamilies({family});
        f.setFontPointSize(c.halfPoints / 2.0);
        f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(c.italic);
        f.setFontUnderline(c.underline);
        f.setFontStrikeOut(c.strike);
        if (c.color > 0 && c.color < colors_.size() && colors_.at(c.color).isValid())
            f.setForeground(colors_.at(c.color));
        if (c.highlight > 0 && c.highlight < colors_.size() && colors_.at(c.highlight).isValid())
            f.setBackground(colors_.at(c.highlight));
        if (c.script != QTextCharFormat::AlignNormal)
            f.setVerticalAlignment(c.script);
        return f;
    }

    QTextBlockFormat blockFormat(const ParaState& p) const
    {
        QTextBlockFormat f;
        f.setAlignment(p.alignment);
        f.setLeftMargin(p.li / 15.0);
        f.setRightMargin(p.ri / 15.0);
        f.setTextIndent(p.fi / 15.0);
        f.setTopMargin(p.sb / 15.0);
        f.setBottomMargin(p.sa / 15.0);
        // RTF measures tab stops from the margin, the text layout from where
        // the line starts (the first line at the left and first-line
        // indents). A hanging first line without tab stops tabs to the left
        // indent, as a list's bullet does.
        const double lineStart = (p.li + p.fi) / 15.0;
        QList<QTextOption::Tab> tabs;
        for (QTextOption::Tab tab : p.tabs) {
            tab.position -= lineStart;
            if (tab.position > 0)
                tabs.append(tab);
        }
        if (p.tabs.isEmpty() && p.fi < 0)
            tabs.append(QTextOption::Tab(-p.fi / 15.0, QTextOption::LeftTab));
        std::stable_sort(tabs.begin(), tabs.end(),
            [](const QTextOption::Tab& x, const QTextOption::Tab& y) { return x.position < y.position; });
        if (!tabs.isEmpty())
            f.setTabPositions(tabs);
        if (p.sl > 0 && p.slMult) {
            if (p.sl != 240)  // 240: single lines
                f.setLineHeight(p.sl * 100.0 / 240, QTextBlockFormat::ProportionalHeight);
        } else if (p.sl > 0)
            f.setLineHeight(p.sl / 15.0, QTextBlockFormat::MinimumHeight);
        else if (p.sl < 0)
            f.setLineHeight(-p.sl / 15.0, QTextBlockFormat::FixedHeight);
        return f;
    }

    // The end of a paragraph: the next one starts with the next text.
    void paragraph()
    {
        if (st().dest != Dest::Text)
            return;
        if (pendingBreak_)
            realizeBreak();
        flushRun();
        pendingFormat_ = blockFormat(st().para);
        pendingCharFormat_ = charFormat(st().ch);
        pendingBreak_ = true;
    }

    void realizeBreak()
    {
        flushRun();
        cursor_.setBlockFormat(pendingFormat_);
        cursor_.setBlockCharFormat(pendingCharFormat_);
        cursor_.insertBlock();
        pendingBreak_ = false;
    }

    // The last paragraph mark ends the last paragraph: it opens no empty
    // one after it.
    void finish()
    {
        // Groups left open: the data ends before the document does.
        if (stack_.size() > 1 || overflow_ > 0)
            damaged(RtfDamage::Truncated);
        flushRun();
        if (pendingBreak_) {
            cursor_.setBlockFormat(pendingFormat_);
            cursor_.setBlockCharFormat(pendingCharFormat_);
        } else {
            // A last paragraph without its mark has the format in force
            // where the document's group closed.
            cursor_.setBlockFormat(blockFormat(stack_.size() > 1 || !closingPara_ ? st().para : *closingPara_));
        }
        // Giving the last paragraph its formats once its text is in leaves
        // it without lines in a document already laid out (a text edit's):
        // it is laid out again, or a text of one paragraph shows nothing.
        const QTextBlock last = cursor_.block();
        cursor_.document()->markContentsDirty(last.position(), last.length());
    }

    const char* p_;
    const char* end_;
    QTextCursor cursor_;
    std::vector<State> stack_;
    int overflow_ = 0;
    RtfDamage damage_ = RtfDamage::Whole;
    int ucSkip_ = 0;
    int codePage_ = 1252;
    int defaultFont_ = -1;
    QHash<int, Font> fonts_;
    int fontId_ = INT32_MIN;
    int fontCodePage_ = 0;
    QString fontName_;
    QList<QColor> colors_;
    int red_ = 0, green_ = 0, blue_ = 0;
    bool colorSet_ = false;
    int lastFont_ = INT32_MIN;
    const ByteTable* currentTable_ = nullptr;
    CharState runState_;
    QString run_;
    bool pendingBreak_ = false;
    std::optional<ParaState> closingPara_;
    QTextBlockFormat pendingFormat_;
    QTextCharFormat pendingCharFormat_;
};

int SkipBlanks(const QByteArray& data, int i = 0)
{
    while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
        ++i;
    return i;
}

// A file that opens a group is read as RTF, however damaged its header.
bool LooksLikeRtf(const QByteArray& data)
{
    const int i = SkipBlanks(data);
    return i < data.size() && data[i] == '{';
}

// The group opens with \rtf, as every RTF document does.
bool HasRtfHeader(const QByteArray& data)
{
    const int i = SkipBlanks(data, SkipBlanks(data) + 1);
    return data.mid(i, 4) == "\\rtf";
}

// No text: a zero byte, or control characters other than tabs, line and
// page breaks in more than one byte in twenty.
bool IsBinary(const QByteArray& data)
{
    qsizetype controls = 0;
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0)
            return true;
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f')
            ++controls;
    }
    return controls * 20 > data.size();
}

// The runs of at least four readable characters (ASCII and the accented
// letters of Windows-1252) of binary data, one to a line.
QString ReadableRuns(const QByteArray& data)
{
    const ByteTable& t = CodePageTable(1252);
    QString text, run;
    const auto endRun = [&] {
        const QString kept = run.trimmed();
        if (kept.size() >= 4) {
            if (!text.isEmpty())
                text.append(QChar(u'\n'));
            text.append(kept);
        }
        run.clear();
    };
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 0x20 && b < 0x7F) || b >= 0xC0)
            run.append(QChar(t[b]));
        else
            endRun();
    }
    endRun();
    return text;
}

// Plain text: UTF-8 when it is valid UTF-8, else Windows-1252; carriage
// returns and control characters dropped.
QString PlainText(const QByteArray& data)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(data);
    if (utf8.hasError()) {
        const ByteTable& t = CodePageTable(1252);
        decoded.clear();
        decoded.reserve(data.size());
        for (const char c : data)
            decoded.append(QChar(t[static_cast<unsigned char>(c)]));
    }
    QString text;
    text.reserve(decoded.size());
    for (const QChar c : decoded)
        if (c == u'\n' || c == u'\t' || (c.unicode() >= 0x20 && c != QChar(0xFEFF)))
            text.append(c);
    return text;
}

}  // namespace

RtfDamage ReadRtf(const QByteArray& data, QTextDocument& document)
{
    document.clear();
    if (SkipBlanks(data) == data.size())
        return RtfDamage::Whole;
    if (!LooksLikeRtf(data)) {
        if (IsBinary(data)) {
            document.setPlainText(ReadableRuns(data));
            return RtfDamage::Binary;
        }
        document.setPlainText(PlainText(data));
        return RtfDamage::NotRtf;
    }
    Reader reader(data, document);
    const RtfDamage damage = reader.run();
    return damage == RtfDamage::Whole && !HasRtfHeader(data) ? RtfDamage::NotRtf : damage;
}

}  // namespace krtf
