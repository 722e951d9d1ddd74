#pragma once
#include <QString>
#include <QStringList>

namespace kos {

// The practice's home directory (settings, Data, PROT, PHOTOS, USERS.DB):
// $KORVALE_HOME when set and not empty, else $XDG_DATA_HOME/korvale, else
// ~/.local/share/korvale. Always absolute, always with a trailing "/".
QString ProgramHomeDir();

// Home of the first settings file: $XDG_CONFIG_HOME/korvale/, else
// ~/.config/korvale/. Trailing "/".
QString ConfigHomeDir();

// The user's private work directory under the system temporary directory:
// <temp>/korvale-<uid>/. Trailing "/". Not created here (see EnsureDirectory).
QString PrivateTempDir();

// The work directory of this process inside the private one:
// <temp>/korvale-<uid>/<pid>/, so that two programs of one user never share
// work files. Trailing "/". Not created here.
QString ProcessTempDir();

// Removes, inside the private work directory, the work directories of
// processes that have ended, with their content. Those of running programs
// and anything not named after a process are left alone.
void RemoveEndedProcessTempDirs();

// Directories searched for the files that are installed with the program
// (the user table): the build tree's directory given at compile time, then
// <program dir>/../share/korvale/. Only existing directories are listed;
// every entry ends with "/".
QStringList ShippedDirs();

// The directory of the libraries installed with the program (the archive
// libraries): the build tree's, given at compile time, when it exists, else
// <program dir>/../lib/korvale/. Never a directory of the practice: a
// library put there is never loaded. Ends with "/"; empty when none exists.
QString ProgramLibraryDir();

// Appends a "/" to a non-empty path that lacks one.
QString WithTrailingSlash(const QString& path);

}  // namespace kos
