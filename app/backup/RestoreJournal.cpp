#include "app/backup/RestoreJournal.h"

#include <QUrl>

namespace backup {

namespace {

const QByteArray kHead = "korvale-restauration 1";

bool PlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
        !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool SoundSet(const RestoreSet& m)
{
    return m.live.startsWith(QLatin1Char('/')) && m.live.size() > 1 && !m.live.endsWith(QLatin1Char('/')) &&
        !m.live.contains(QChar(0)) &&
        ((m.staging == m.live + QStringLiteral(".restaure") && m.previous == m.live + QStringLiteral(".precedent")) ||
            (m.staging == m.live + QStringLiteral("/.restaure") &&
                m.previous == m.live + QStringLiteral("/.precedent")));
}

}  // namespace

QByteArray JournalText(const std::vector<RestoreSet>& sets)
{
    QByteArray text = kHead + '\n';
    for (const RestoreSet& m : sets) {
        text += "dir " + QUrl::toPercentEncoding(m.live) + ' ' + QUrl::toPercentEncoding(m.staging) + ' ' +
            QUrl::toPercentEncoding(m.previous) + ' ' + QByteArray::number(m.dev) + ' ' + QByteArray::number(m.ino) +
            '\n';
        for (const QString& name : m.oldNames)
            text += "old " + QUrl::toPercentEncoding(name) + '\n';
        for (const QString& name : m.newNames)
            text += "new " + QUrl::toPercentEncoding(name) + '\n';
    }
    text += "fin\n";
    return text;
}

bool ParseJournal(const QByteArray& text, std::vector<RestoreSet>& sets)
{
    sets.clear();
    const QList<QByteArray> lines = text.split('\n');
    bool whole = false;
    if (lines.first() == kHead) {
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> words = lines[i].split(' ');
            bool numbers = true;
            if (words.first() == "fin" && words.size() == 1) {
                // Nothing may follow but the last line break.
                whole = i + 1 == lines.size() || (i + 2 == lines.size() && lines.last().isEmpty());
                break;
            }
            if (words.first() == "dir" && words.size() == 6) {
                RestoreSet m;
                m.live = QUrl::fromPercentEncoding(words[1]);
                m.staging = QUrl::fromPercentEncoding(words[2]);
                m.previous = QUrl::fromPercentEncoding(words[3]);
                bool a = false, b = false;
                m.dev = words[4].toULongLong(&a);
                m.ino = words[5].toULongLong(&b);
                numbers = a && b;
                if (!numbers || !SoundSet(m))
                    break;
                sets.push_back(m);
            } else if ((words.first() == "old" || words.first() == "new") && words.size() == 2 && !sets.empty()) {
                const QString name = QUrl::fromPercentEncoding(words[1]);
                if (!PlainName(name))
                    break;
                (words.first() == "old" ? sets.back().oldNames : sets.back().newNames) << name;
            } else {
                break;
            }
        }
    }
    if (!whole || sets.empty()) {
        sets.clear();
        return false;
    }
    return true;
}

}  // namespace backup
