#include "Descriptor.h"

#include <limits>
#include <optional>

namespace dbcheck {

const QString kKeywordDelimiters = QStringLiteral(" \t(");
const QString kBlankDelimiters = QStringLiteral(" \t");

namespace {

QString withLine(int line, const QString& message)
{
    if (line < 0)
        return QStringLiteral("Descripteur : %1").arg(message);
    return QStringLiteral("Descripteur, ligne %1 : %2").arg(line + 1).arg(message);
}

// Decimal integer text: an optional sign and digits, nothing else (blanks
// belong to the value and make it no integer). Empty when the text is not
// an integer or does not fit 32 bits.
std::optional<int32_t> toInteger(const QString& text)
{
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::array<uint16_t, kdb::kMaxKeyFields> keyFieldList(const QString& text, int lineNo)
{
    std::array<uint16_t, kdb::kMaxKeyFields> keys{};
    const QStringList entries = text.split(u',');
    if (static_cast<size_t>(entries.size()) > kdb::kMaxKeyFields)
        throw EDescriptorError(lineNo,
            QStringLiteral("liste de champs de clé de plus de %1 entrées : \"%2\"").arg(kdb::kMaxKeyFields).arg(text));
    for (int i = 0; i < entries.size(); ++i) {
        const int32_t v = toInteger(entries[i]).value_or(0);
        if (v < 0 || v > std::numeric_limits<uint16_t>::max())
            throw EDescriptorError(
                lineNo, QStringLiteral("numéro de champ de clé hors limites : \"%1\"").arg(entries[i]));
        keys[static_cast<size_t>(i)] = static_cast<uint16_t>(v);
    }
    return keys;
}

// The arguments of a line with the defaults of missing positions.
class Arguments {
public:
    Arguments(const QString& line, int lineNo) : args_(LineArguments(line)), lineNo_(lineNo) { }

    QString text(int pos, size_t maxLen, const char* what) const
    {
        const QString value = pos <= args_.size() ? args_[pos - 1] : QString();
        if (static_cast<size_t>(value.size()) > maxLen)
            throw EDescriptorError(lineNo_,
                QStringLiteral("%1 trop long (%2 caractères au plus) : \"%3\"")
                    .arg(QString::fromUtf8(what))
                    .arg(maxLen)
                    .arg(value));
        return value;
    }

    int32_t integer(int pos, int32_t defaultValue) const
    {
        if (pos > args_.size())
            return defaultValue;
        return toInteger(args_[pos - 1]).value_or(defaultValue);
    }

    uint16_t word(int pos, int32_t defaultValue, const char* what) const
    {
        const int32_t v = integer(pos, defaultValue);
        if (v < 0 || v > std::numeric_limits<uint16_t>::max())
            throw outOfRange(pos, what);
        return static_cast<uint16_t>(v);
    }

    int16_t smallInt(int pos, int32_t defaultValue, const char* what) const
    {
        const int32_t v = integer(pos, defaultValue);
        if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
            throw outOfRange(pos, what);
        return static_cast<int16_t>(v);
    }

    // True when the low 8 bits of the integer are not zero.
    uint16_t flag(int pos) const { return (integer(pos, 0) & 0xFF) != 0 ? kdb::kTrue : 0; }

    const QStringList& all() const { return args_; }

private:
    EDescriptorError outOfRange(int pos, const char* what) const
    {
        return EDescriptorError(
            lineNo_, QStringLiteral("%1 hors limites : \"%2\"").arg(QString::fromUtf8(what)).arg(args_[pos - 1]));
    }

    QStringList args_;
    int lineNo_;
};

void need(const QStringList& lines, int p, const TableBlock& block)
{
    if (p >= lines.size())
        throw EDescriptorError(block.tableLine,
            QStringLiteral("le bloc de la table \"%1\" se termine sans ligne end").arg(block.fileName));
}

}  // namespace

EDescriptorError::EDescriptorError(int line, const QString& message)
    : std::runtime_error(withLine(line, message).toStdString()), line_(line)
{
}

int WordPosition(int n, const QString& text, const QString& delimiters)
{
    if (n < 1)
        return 0;
    int count = 0;
    int i = 0;
    while (i < text.size()) {
        while (i < text.size() && delimiters.contains(text[i]))
            ++i;
        if (i == text.size())
            break;
        if (++count == n)
            return i + 1;
        while (i < text.size() && !delimiters.contains(text[i]))
            ++i;
    }
    return 0;
}

QString ExtractWordN(int n, const QString& text, const QString& delimiters)
{
    const int start = WordPosition(n, text, delimiters);
    if (start == 0)
        return {};
    int end = start - 1;
    while (end < text.size() && !delimiters.contains(text[end]))
        ++end;
    return text.mid(start - 1, end - (start - 1));
}

QString LineKeyword(const QString& line)
{
    return ExtractWordN(1, line, kKeywordDelimiters).toUpper();
}

std::array<uint16_t, kdb::kMaxKeyFields> ParseKeyFieldList(const QString& text)
{
    return keyFieldList(text, -1);
}

QStringList LineArguments(const QString& line)
{
    QStringList args;
    const int open = line.indexOf(u'(');
    if (open < 0)
        return args;
    int pos = open + 1;
    while (pos < line.size()) {
        int sep = pos;
        while (sep < line.size() && line[sep] != u';' && line[sep] != u')')
            ++sep;
        args << line.mid(pos, sep - pos);
        pos = sep + 1;
    }
    return args;
}

QString TableFileName(const QString& tableLine)
{
    return ExtractWordN(3, tableLine, kBlankDelimiters);
}

QString DriverForTable(const QString& fileName)
{
    const int dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString ext = fileName.mid(dot).toUpper();
    if (ext == QLatin1String(".DBF"))
        return QStringLiteral("DBASE");
    if (ext == QLatin1String(".DB"))
        return QStringLiteral("PARADOX");
    return {};
}

kdb::FieldDesc ParseFieldLine(const QString& line, int lineNo)
{
    const Arguments a(line, lineNo);
    kdb::FieldDesc f;
    f.name = a.text(1, kdb::kMaxNameLen, "nom de champ").toStdString();
    f.type = a.word(3, 0, "type de champ");
    f.subType = a.word(4, 0, "sous-type de champ");
    f.units1 = a.smallInt(5, 1, "taille de champ");
    f.units2 = a.smallInt(6, 0, "décimales de champ");
    f.restructOp = kdb::crNOOP;
    return f;
}

kdb::IndexDesc ParseIndexLine(const QString& line, int lineNo)
{
    const Arguments a(line, lineNo);
    kdb::IndexDesc x;
    x.name = a.text(1, kdb::kMaxPathLen, "nom d'index").toStdString();
    x.tagName = a.text(2, kdb::kMaxNameLen, "nom d'étiquette").toStdString();
    x.fieldsInKey = a.word(3, 0, "nombre de champs de clé");
    if (a.all().size() >= 4)
        x.keyFields = keyFieldList(a.all()[3], lineNo);
    if (x.fieldsInKey > kdb::kMaxKeyFields)
        throw EDescriptorError(
            lineNo, QStringLiteral("plus de %1 champs de clé : \"%2\"").arg(kdb::kMaxKeyFields).arg(x.fieldsInKey));
    x.primary = a.flag(5);
    x.unique = a.flag(6);
    x.descending = a.flag(7);
    x.maintained = a.flag(8);
    x.caseInsensitive = a.flag(9);
    x.expression = a.flag(10);
    x.subset = a.flag(11);
    x.tagName = a.text(12, kdb::kMaxNameLen, "nom d'étiquette").toStdString();
    x.format = a.text(13, kdb::kMaxNameLen, "format d'index").toStdString();
    x.keyExpType = a.word(14, 0, "type d'expression de clé");
    x.keyExpr = a.text(15, kdb::kMaxKeyExprLen, "expression de clé").toStdString();
    x.keyCond = a.text(16, kdb::kMaxKeyExprLen, "condition de clé").toStdString();
    x.restructOp = kdb::crNOOP;
    return x;
}

bool ParseTableDescriptor(const QStringList& lines, int& pos, TableBlock& block)
{
    block = TableBlock();
    if (pos < 0 || pos >= lines.size())
        throw EDescriptorError(pos, QStringLiteral("ligne de table attendue après la fin du texte"));
    if (LineKeyword(lines[pos]) != QLatin1String("OBJECT"))
        return false;

    block.tableLine = pos;
    block.fileName = TableFileName(lines[pos]);
    if (block.fileName.isEmpty())
        throw EDescriptorError(pos, QStringLiteral("nom de fichier de table manquant : \"%1\"").arg(lines[pos]));

    const auto countFits = [&](size_t n) {
        if (n >= std::numeric_limits<uint16_t>::max())
            throw EDescriptorError(block.tableLine, QStringLiteral("trop de lignes dans le bloc"));
    };

    int p = pos + 1;
    for (;;) {
        need(lines, p, block);
        if (LineKeyword(lines[p]) == QLatin1String("END"))
            break;
        bool progressed = false;
        if (LineKeyword(lines[p]) == QLatin1String("FIELD")) {
            countFits(block.fields.size());
            kdb::FieldDesc f = ParseFieldLine(lines[p], p);
            f.fieldNum = static_cast<uint16_t>(block.fields.size() + 1);
            block.fields.push_back(std::move(f));
            ++p;
            progressed = true;
            need(lines, p, block);
        }
        if (LineKeyword(lines[p]) == QLatin1String("INDEX")) {
            countFits(block.indexes.size());
            kdb::IndexDesc x = ParseIndexLine(lines[p], p);
            x.indexId = static_cast<uint16_t>(block.indexes.size() + 1);
            block.indexes.push_back(std::move(x));
            ++p;
            progressed = true;
        }
        if (!progressed)
            throw EDescriptorError(p,
                QStringLiteral("ligne hors grammaire dans le bloc de la table \"%1\" : \"%2\"")
                    .arg(block.fileName, lines[p]));
    }
    block.endLine = p;
    pos = p;
    return true;
}

std::vector<TableBlock> ParseDescriptor(const QStringList& lines)
{
    std::vector<TableBlock> blocks;
    int pos = 0;
    while (pos < lines.size()) {
        TableBlock block;
        if (!ParseTableDescriptor(lines, pos, block))
            throw EDescriptorError(pos, QStringLiteral("ligne de table (object) attendue : \"%1\"").arg(lines[pos]));
        blocks.push_back(std::move(block));
        ++pos;
    }
    return blocks;
}

}  // namespace dbcheck
