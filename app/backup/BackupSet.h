#pragma once
// What the backup screens share below the windows: the table files of the
// schema, the consistent reading of a table during a backup, the archive
// written under a temporary name and put in place once complete, and the
// restore that replaces the table files as one set.
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TZipArchiver;

namespace kdb {
class Table;
}

namespace backup {

// The file specifications of the backup, in schema order: for every line of
// the schema holding "object Table:", dataPath + the table's name up to and
// including its first "." + "*" (every file of the table: table, index, memo).
QStringList BackupFileSpecs(const QStringList& schema, const QString& dataPath);

// The table file names of the schema ("Cons.DBF", ...), in schema order.
QStringList SchemaTableNames(const QStringList& schema);

// Whether an archive entry is restored: its name cut back to end at its last
// "." occurs, with the same case, in the schema text ("CONS.MDX": "CONS.").
bool IsRestoredName(const QString& name, const QStringList& schema);

// True for the names the restore list shows: "Korvale??.zip" as the old
// platform matches it (any case; a "?" before the dot may match nothing).
bool IsBackupArchiveName(const QString& name);

// The tables of the schema opened in `dataPath`, each holding its table lock
// (a backup reads each one in a single state) or opened exclusively (a
// restore replaces their files). Released on destruction.
class TableHold {
public:
    enum class Mode { TableLock, Exclusive };
    TableHold();
    ~TableHold();
    TableHold(const TableHold&) = delete;
    TableHold& operator=(const TableHold&) = delete;

    // Takes every table of the schema present in dataPath; false when one
    // is held by another workstation (BusyTable() names it), with nothing
    // kept. A table lock is waited for up to waitMs, events processed.
    bool Take(const QStringList& schema, const QString& dataPath, Mode mode, int waitMs = 5000);
    void Release();
    QString BusyTable() const { return busy_; }

private:
    std::vector<std::unique_ptr<kdb::Table>> tables_;
    QString busy_;
};

// Runs the component's Add into `target` through a temporary archive beside
// it; the previous `target` is moved to the trash and the new one renamed in
// place only once the archive is complete. Specs are set here. False, with
// `failure` saying why, when no complete archive was put in place (the
// previous one is then untouched). With `spanned` the archive is spread over
// the disks of a removable drive under its own name: there is no room for a
// second copy on such a disk, and the component asks before it overwrites
// an archive already there.
bool WriteArchive(
    TZipArchiver& zip, const QStringList& specs, const QString& target, QString& failure, bool spanned = false);

// The restore of a backup archive into the data directory, all or nothing.
class TableSetRestore {
public:
    enum class Result {
        Done,
        Damaged,  // extraction failed or an entry's CRC does not match
        NoTables,  // the archive holds no table of the schema
        TableBusy,  // a table is open on another workstation
        Failed  // the replacement failed; the previous files are back
    };

    TableSetRestore(const QStringList& schema, const QString& dataPath, const QString& tempDir)
        : schema_(schema), dataPath_(dataPath), tempDir_(tempDir)
    {
    }

    // Extracts the archive of zip.ZipFileName() into the temporary folder and
    // checks every entry against the archive's directory.
    Result Extract(TZipArchiver& zip);
    // Replaces the table files of the data directory by the extracted ones
    // as one set, the tables held exclusively meanwhile.
    Result Replace();
    // Empties the temporary folder.
    void ClearTemp() const;
    // The table or entry a failure is about, and the system's reason.
    QString Detail() const { return detail_; }

    // False: the file-by-file replacement even where the file system can
    // exchange the directories (the path of the other file systems).
    static inline bool UseExchange = true;

    // Leftovers of a restore that was stopped (staging directories beside
    // the data directory) are removed.
    static void RemoveLeftovers(const QString& dataPath);
    // A replaced set still beside the data directory (a program stopped
    // while removing it) is removed in the background, as after a restore.
    static void RemoveReplacedSet(const QString& dataPath);
    // Waits for the removal of a replaced set to end.
    static void WaitForRemoval();

private:
    // Renames `dir` (the replaced set, the tables released) beside the data
    // directory and removes it in the background; removed at once where
    // the renaming fails.
    void Discard(const QString& dir);
    bool ExchangeDirectories(const QString& staging);
    bool SwapFileByFile(const QString& staging, const QStringList& newFiles);

    QStringList schema_;
    QString dataPath_, tempDir_;
    QStringList restored_;  // extracted names to restore
    QString detail_;
};

// The staging directory names beside the data directory.
QString StagingDir(const QString& dataPath);
QString PreviousDir(const QString& dataPath);
// Where the set a restore replaced waits for its removal.
QString ReplacedDir(const QString& dataPath);

}  // namespace backup
