#include "platform/ui/IniFile.h"

#include "platform/os/Files.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace kui {

namespace {

// Files larger than this are not settings files; they are read as empty.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

// ok is false when the file exists but cannot be read whole: a write must
// not replace such a file with a shortened copy.
QStringList LoadLines(const QString& fileName, bool* ok = nullptr)
{
    if (ok)
        *ok = true;
    QFile f(fileName);
    if (!f.exists())
        return {};
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFileSize) {
        if (ok)
            *ok = false;
        return {};
    }
    QByteArray data = f.readAll();
    f.close();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QString text = QString::fromUtf8(data);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The file replaced whole, or left as it was when the write fails.
bool SaveLines(const QString& fileName, const QStringList& lines, QString* error)
{
    QByteArray out;
    for (const QString& line : lines) {
        out += line.toUtf8();
        out += '\n';
    }
    return kos::WriteFileWhole(fileName, out, error);
}

QString UnreadableText(const QString& fileName)
{
    return QStringLiteral("Impossible de lire le fichier « %1 » : il n'a pas été modifié.")
        .arg(QDir::toNativeSeparators(fileName));
}

// The section name of a "[name]" line, or nothing.
std::optional<QString> SectionOf(const QString& line)
{
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return std::nullopt;
}

bool IsComment(const QString& line)
{
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Key and raw value of a "key=value" line.
bool SplitEntry(const QString& line, QString& key, QString& value)
{
    if (IsComment(line))
        return false;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    return !key.isEmpty();
}

bool Same(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString Unquote(const QString& value)
{
    if (value.size() >= 2 &&
        ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) ||
            (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))))
        return value.mid(1, value.size() - 2);
    return value;
}

// Line breaks would cut the value and make new lines of the file.
QString OneLine(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\r\n"), QLatin1String(" "));
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}

// Index range [begin, end) of the lines of the first section of that name;
// begin is the header line. Returns false when absent.
bool FindSection(const QStringList& lines, const QString& section, int& begin, int& end)
{
    begin = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const auto s = SectionOf(lines[i]);
        if (!s)
            continue;
        if (begin >= 0) {
            end = i;
            return true;
        }
        if (Same(*s, section))
            begin = i;
    }
    if (begin < 0)
        return false;
    end = lines.size();
    return true;
}

std::optional<QString> Lookup(const QString& fileName, const QString& section, const QString& key)
{
    const QStringList lines = LoadLines(fileName);
    int begin = 0, end = 0;
    if (!FindSection(lines, section, begin, end))
        return std::nullopt;
    for (int i = begin + 1; i < end; ++i) {
        QString k, v;
        if (SplitEntry(lines[i], k, v) && Same(k, key))
            return Unquote(v);
    }
    return std::nullopt;
}

}  // namespace

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return Lookup(fileName_, section, key).value_or(defaultValue);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    const auto value = Lookup(fileName_, section, key);
    if (!value)
        return defaultValue;
    bool ok = false;
    const int result = value->toInt(&ok, 10);
    return ok ? result : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

namespace {

// The line key=value in its section, the section added at the end when the
// file has none.
void SetEntry(QStringList& lines, const QString& section, const QString& key, const QString& value)
{
    const QString entry = key + QLatin1Char('=') + OneLine(value);
    int begin = 0, end = 0;
    if (!FindSection(lines, section, begin, end)) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(entry);
        return;
    }
    int lastEntry = begin;
    for (int i = begin + 1; i < end; ++i) {
        QString k, v;
        if (SplitEntry(lines[i], k, v)) {
            if (Same(k, key)) {
                lines[i] = entry;
                return;
            }
            lastEntry = i;
        }
    }
    // New key: after the last entry of the section, before trailing blanks.
    lines.insert(lastEntry + 1, entry);
}

}  // namespace

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    return WriteStrings(section, {{key, value}});
}

bool TIniFile::WriteStrings(const QString& section, const QList<QPair<QString, QString>>& entries)
{
    const QString cleanSection = OneLine(section).trimmed();
    if (cleanSection.isEmpty())
        return false;
    for (const auto& [key, value] : entries) {
        const QString cleanKey = OneLine(key).trimmed();
        if (cleanKey.isEmpty() || cleanKey.contains(QLatin1Char('=')))
            return false;
    }
    bool readable = false;
    QStringList lines = LoadLines(fileName_, &readable);
    if (!readable) {
        error_ = UnreadableText(fileName_);
        return false;
    }
    for (const auto& [key, value] : entries)
        SetEntry(lines, cleanSection, OneLine(key).trimmed(), value);
    return SaveLines(fileName_, lines, &error_);
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniFile::SectionExists(const QString& section) const
{
    int begin = 0, end = 0;
    return FindSection(LoadLines(fileName_), section, begin, end);
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const
{
    return Lookup(fileName_, section, key).has_value();
}

QStringList TIniFile::ReadSections() const
{
    QStringList result;
    for (const QString& line : LoadLines(fileName_)) {
        if (const auto s = SectionOf(line)) {
            bool seen = false;
            for (const QString& r : result)
                seen = seen || Same(r, *s);
            if (!seen)
                result << *s;
        }
    }
    return result;
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    const QStringList lines = LoadLines(fileName_);
    QStringList result;
    int begin = 0, end = 0;
    if (!FindSection(lines, section, begin, end))
        return result;
    for (int i = begin + 1; i < end; ++i) {
        QString k, v;
        if (SplitEntry(lines[i], k, v))
            result << k;
    }
    return result;
}

namespace {

// Loads the file and, when the section exists, lets edit change its lines
// [begin, end); the file is saved when edit answers that it changed them.
// False when the file cannot be read or written.
template <typename Edit>
bool EditSection(const QString& fileName, const QString& section, QString* error, Edit edit)
{
    bool readable = false;
    QStringList lines = LoadLines(fileName, &readable);
    if (!readable) {
        *error = UnreadableText(fileName);
        return false;
    }
    int begin = 0, end = 0;
    if (!FindSection(lines, section, begin, end))
        return true;
    return !edit(lines, begin, end) || SaveLines(fileName, lines, error);
}

}  // namespace

bool TIniFile::EraseSection(const QString& section)
{
    return EditSection(fileName_, section, &error_, [](QStringList& lines, int begin, int end) {
        lines.erase(lines.begin() + begin, lines.begin() + end);
        return true;
    });
}

bool TIniFile::DeleteKey(const QString& section, const QString& key)
{
    return EditSection(fileName_, section, &error_, [&](QStringList& lines, int begin, int end) {
        for (int i = begin + 1; i < end; ++i) {
            QString k, v;
            if (SplitEntry(lines[i], k, v) && Same(k, key)) {
                lines.removeAt(i);
                return true;
            }
        }
        return false;
    });
}

}  // namespace kui
