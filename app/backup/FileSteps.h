#pragma once
// The steps on files that the backup and the parts of a restore share
// (gathering the new files beside the directories they go into, checking
// them, the journal's switch). Not for the screens: BackupSet.h is.
#include "app/backup/BackupSet.h"
#include "app/backup/RestoreJournal.h"

#include <QString>
#include <QStringList>

#include <string>
#include <thread>
#include <vector>

namespace backup::steps {

// A directory without its trailing "/" (the root stays "/").
QString WithoutSlash(const QString& dir);
// The system's reason for the last failure (errno), in French; the errno
// it told is kept for ReasonErrno.
QString SystemReason();
// The errno of the last SystemReason (0 after ForgetReason).
int ReasonErrno();
void ForgetReason();
// Forces a file (or a directory's entries) to the disk.
bool SyncPath(const QString& path, bool directory);
std::string Native(const QString& path);
// Every rename of a restore goes through the engine's file system, so that
// a test can stop the program at any one of them.
bool Move(const QString& from, const QString& to);
// Whether anything stands at `path` (a link is not followed).
bool Exists(const QString& path);
QString In(const QString& dir, const QString& name);
// A new directory or file takes the owner, group and mode of `like`.
void CopyAttributes(const QString& like, const QString& path, bool directory);
// Empties a folder but for the entry `keep`.
void ClearFolder(const QString& dir, const QString& keep);

// The removal of replaced sets, away from the user's wait: one at a time,
// waited for before the program ends.
void StartRemoval(const QStringList& dirs);
void WaitRemoval();

// The lock file a restore holds in its temporary folder.
extern const QString kLockName;

// ---- gathering (RestoreGather.cpp)

// The directories a restore replaces files in: the data directory with the
// table files the archive brings back (`restored`: every present file of
// those tables gives way), and, when the archive carries the protocol
// texts, their folder (`texts` replace every present text).
std::vector<RestoreSet> PlanSets(const QString& dataPath, const QStringList& restored, bool withTexts,
    const QString& protDir, const QStringList& texts);

// The new directories beside the present ones: the restored files moved in
// from `tempDir` and forced to the disk; where the directories are to be
// exchanged (`exchange`, set here), the other entries linked in. False,
// with `detail` saying why, when one could not be made whole.
bool Gather(std::vector<RestoreSet>& sets, std::vector<bool>& exchange, bool useExchange, const QString& tempDir,
    QString& detail);

// ---- the journal's switch (RestoreSwitch.cpp)

// Carries out a journal left by a stopped restore, then lets the leftovers
// of stopped restores go. The caller holds the restore lock.
bool Complete(const QString& dataPath, const QString& protDir, QString* failure);

}  // namespace backup::steps

namespace backup {

// The lock every restore holds on its temporary folder from the extraction
// to the end: a second restore, or a start-up's clean-up, on another
// workstation sharing the folder waits for it to end.
struct TableSetRestore::Lock {
    int fd = -1;
    ~Lock();
    // False when another program holds it.
    bool Take(const QString& dir);
};

// The writing of the extracted files to the disk, started by a thread of
// its own while the restore goes on; waited for before they are forced to
// the disk.
struct TableSetRestore::Writeback {
    std::thread thread;
    explicit Writeback(QStringList paths);
    ~Writeback() { Wait(); }
    void Wait()
    {
        if (thread.joinable())
            thread.join();
    }
};

}  // namespace backup
