#pragma once
// What the backup screens share below the windows: the table files of the
// schema, the consistent reading of a table during a backup, the archive
// written under a temporary name and put in place once complete, and the
// restore that replaces the table files as one set.
#include <QFileInfoList>
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

// The archives of a folder the restore list offers: those of
// IsBackupArchiveName, and of a set of numbered volumes the program wrote
// on a fixed or network disk ("Korvale001.zip", "Korvale002.zip", ...) the
// last one, the file a restore opens.
QFileInfoList BackupArchives(const QString& dir);

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
// an archive already there. With `protDir` the protocol texts of that folder
// go into the archive too, under "PROT/".
bool WriteArchive(TZipArchiver& zip, const QStringList& specs, const QString& target, QString& failure,
    bool spanned = false, const QString& protDir = {});

// The archive folder of the protocol texts ("PROT"), and whether a file
// name is one of them ("PROT<NUM>.RTF" with a number, any case).
extern const QString kProtocolFolder;
bool IsProtocolTextName(const QString& name);

// The protocol texts of `protDir` ("PROT<NUM>.RTF"), by name.
QStringList ProtocolTexts(const QString& protDir);

// The restore of a backup archive into the data directory, with the
// protocol texts the archive carries, all or nothing.
//
// The new files are first gathered beside each directory they go into (a
// staging directory); then a journal beside the data directory records what
// replaces what, and only then do the renames start. A restore stopped
// during the renames is completed from the journal by Recover (at start-up
// and before the next restore), so that the data directory and the protocol
// texts always hold one whole set.
class TableSetRestore {
public:
    // What ended the restore. Every result but Done leaves the data
    // directory and the protocol texts as they were; Detail() names the
    // file, entry, volume or folder concerned, Reason() says why.
    enum class Result {
        Done,
        NotFound,  // the archive is not where it was chosen
        Damaged,  // its directory, one of its entries or a table it holds does not read
        WrongPassword,  // an encrypted entry: the password is wrong or was not given
        NoSpace,  // no room left on the disk of the folder Detail() names
        VolumeMissing,  // a volume of a set spread over several is missing
        Cancelled,  // the user stopped it (a disk not inserted)
        CannotRead,  // the archive does not open or reads in a way the program does not (Reason() says why)
        CannotWrite,  // its files cannot be written into the folder Detail() names (Reason() says why)
        NoTables,  // the archive holds no table of the schema
        TableBusy,  // a table is open on another workstation
        TableBusyHere,  // a table is still open in this program
        InProgress,  // a restore runs on another workstation
        Failed  // the replacement failed; the previous files are back
    };

    // protDir: the folder of the protocol texts (empty: they are left alone).
    TableSetRestore(
        const QStringList& schema, const QString& dataPath, const QString& tempDir, const QString& protDir = {});
    ~TableSetRestore();
    TableSetRestore(const TableSetRestore&) = delete;
    TableSetRestore& operator=(const TableSetRestore&) = delete;

    // Extracts the tables and protocol texts of the archive of
    // zip.ZipFileName() into the temporary folder and checks every one
    // against the archive's directory.
    Result Extract(TZipArchiver& zip);
    // Replaces the table files of the data directory (and the protocol
    // texts, when the archive carries them) by the extracted ones as one
    // set, the tables held exclusively meanwhile.
    Result Replace();
    // Empties the temporary folder.
    void ClearTemp() const;
    // What a failure is about (a table, an entry, a volume, a folder; empty
    // for the archive's directory), and why (in French).
    QString Detail() const { return detail_; }
    QString Reason() const { return reason_; }
    // The result of an archive whose directory the component could not
    // read (List left ZipFileName empty): damaged, missing, a volume
    // missing, stopped by the user.
    Result Unreadable(const TZipArchiver& zip, const QString& archive);
    // Whether the extracted archive carries the protocol texts (a "PROT"
    // folder); archives without it leave the texts as they are.
    bool CarriesProtocolTexts() const { return carriesTexts_; }

    // False: the file-by-file replacement even where the file system can
    // exchange the directories (the path of the other file systems).
    static inline bool UseExchange = true;

    // Completes a restore that was stopped during its renames (its journal
    // beside the data directory), removes what a stopped restore left
    // (staging directories, replaced sets, the temporary folder's files),
    // unless a restore is running on another workstation. False, with
    // `failure` saying why, when the journal could not be carried out: it
    // stays for the next try.
    static bool Recover(
        const QString& dataPath, const QString& protDir, const QString& tempDir, QString* failure = nullptr);
    // Waits for the background removal of replaced sets to end.
    static void WaitForRemoval();

private:
    struct Lock;
    struct Writeback;
    // The result of a failure the archive library reported (its code, its
    // text, the entry it skipped).
    Result LibraryFailed(int32_t code, const QString& text, const QString& entry);
    // Every restored table opened as the engine opens it (its header,
    // records, memo file and index), in the staging directory `dir`, before
    // anything of the present set moves.
    Result CheckTables(const QString& dir);
    QStringList schema_;
    QString dataPath_, tempDir_, protDir_;
    QStringList restored_;  // extracted table files to restore
    QStringList restoredEntries_;  // and their names in the archive
    QStringList texts_;  // extracted protocol texts to restore
    bool carriesTexts_ = false;
    QString detail_, reason_;
    std::unique_ptr<Lock> lock_;
    std::unique_ptr<Writeback> writeback_;  // the extracted files' writing to the disk, started
};

// The directory a path names, its symbolic links followed.
QString RealDir(const QString& dir);
// The staging directory names of a directory (the data directory or the
// protocol texts' folder, its links followed): beside it ("Data.restaure"),
// or inside it ("Data/.restaure") when nothing can be made beside it (its
// parent on another file system, or not writable by this user).
QString StagingDir(const QString& dir);
QString PreviousDir(const QString& dir);
// Where the sets a restore replaced wait for their removal: this name
// followed by a dot and a name of their own.
QString ReplacedDir(const QString& dir);
// Whether `path` stands inside the directory `dir` (its links followed).
bool InsideDir(const QString& path, const QString& dir);
// What restores left beside a directory, or inside it: a staging
// directory, a directory of previous files, replaced sets (waiting for, or
// in, their removal).
QStringList RestoreLeftovers(const QString& dir);
// The journal of a restore, beside the data directory (or inside it, as
// the staging directory); JournalFiles adds the other place, where a restore
// made when the rights or the mounts were not the same left it.
QString JournalFile(const QString& dataPath);
QStringList JournalFiles(const QString& dataPath);

}  // namespace backup
