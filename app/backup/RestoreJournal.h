#pragma once
// The journal of a restore: written beside the data directory once every
// new file is gathered and before the first one moves, it says which files
// of which directory give way to which. A restore stopped midway is
// finished from it (app/backup/BackupSet.h).
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace backup {

// One directory whose files a restore replaces: the files `oldNames` of
// `live` give way to the files `newNames` gathered in `staging`; the
// replaced ones wait in `previous` (`live` + ".precedent", or inside `live`)
// when the files are moved one by one. `dev` and `ino` name the staging directory, which
// stands where `live` was once the two are exchanged.
struct RestoreSet {
    QString live, staging, previous;
    QStringList oldNames, newNames;
    quint64 dev = 0, ino = 0;
};

// The journal's text for these sets.
QByteArray JournalText(const std::vector<RestoreSet>& sets);

// The sets of a journal's text. False, with no set, when the text is no
// whole journal: cut short or damaged, a directory that is not absolute or
// whose staging and previous directories are not the ones beside it (or
// inside it, as StagingDir puts them where nothing can be made beside), or a
// file name that is not a plain name of that directory.
bool ParseJournal(const QByteArray& text, std::vector<RestoreSet>& sets);

}  // namespace backup
