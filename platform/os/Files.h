#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kos {

// True when Name matches the old-style mask: "*" any run of characters,
// "?" one character, letters compared without regard to case. A mask ending
// in ".*" also matches names without any dot ("*.*" matches every name,
// "PDOXUSRS.*" matches "PDOXUSRS" and "pdoxusrs.net").
bool MatchesDosMask(const QString& name, const QString& mask);

// Deletes every entry of Dir whose name matches Mask (hidden entries
// included; "." and ".." skipped), addressing each as Dir + name. Dir ends
// with "/". Failures (directories, protected files) are ignored silently.
void DeleteFilesByMask(const QString& dir, const QString& mask);

// Gives the owner write permission on every regular file of Dir that lacks
// it (the read-only state of the file). Symbolic links and sub-directories
// are left alone; failures are ignored.
void ClearReadOnlyFlags(const QString& dir);

// Makes sure a directory exists. When it has to be created, the missing
// parents are created too. With privateDir set the directory is created with
// mode 0700 and an existing one must be a real directory (not a link) owned
// by the current user, otherwise it counts as not created. Returns false
// when the directory cannot be had.
bool EnsureDirectory(const QString& dir, bool privateDir = false);

// Copies into destDir every file of the source directories (by default the
// shipped directories) whose name matches mask and that destDir does not
// have yet (the first directory wins). Returns the number of files copied.
// Copied files are made writable by their owner.
int CopyMissingShippedFiles(const QString& mask, const QString& destDir, const QStringList& sourceDirs);
int CopyMissingShippedFiles(const QString& mask, const QString& destDir);

// How a file written whole takes its name.
enum class WholeFileName {
    Replace,  // the file of that name, if any, gives way to it
    Claim  // only while no file has that name: no other file is ever replaced
};
enum class WholeFileResult { Written, NameTaken, Failed };

// Writes a file whole or not at all. The bytes `next` hands, chunk after
// chunk until an empty one (false: their source failed), go into a new file
// beside fileName, are forced to the disk, and only then does that file take
// the name. A failure at any step (a full disk, a folder that is missing or
// cannot be written, a read-only file to replace) removes it: the file of
// that name, if any, stays as it was. *error then says why in French, naming
// the file ("Impossible d'enregistrer le fichier « … » : le disque est
// plein."). A link is followed: its file is the one replaced. Claim answers
// NameTaken, writing nothing, when a file has that name already, also one
// another program gave it a moment before.
WholeFileResult WriteFileWhole(const QString& fileName, const std::function<bool(QByteArray& chunk)>& next,
    WholeFileName how, QString* error = nullptr);
// The same for bytes at hand, replacing the file; false when it failed.
bool WriteFileWhole(const QString& fileName, const QByteArray& data, QString* error = nullptr);

}  // namespace kos
