#pragma once
// The mount table as the kernel lists it in /proc/<pid>/mountinfo: one line
// per mount, "id parent major:minor root mount-point options [tags] - type
// source super-options", where spaces, tabs, newlines and backslashes inside
// a field are written as three-digit octal escapes (\040 ...).
#include <QByteArray>
#include <QString>

#include <vector>

namespace kos {

struct MountEntry {
    QString device;  // "major:minor" of the mounted file system
    QString mountPoint;  // absolute, without a trailing "/" (except "/" itself)
    QString fsType;  // "ext4", "vfat", "nfs4", "fuse.sshfs" ...
    QString source;  // "/dev/sdb1", "server:/export", "tmpfs" ...
};

// The mounts of Text in the order listed (a later mount on the same point
// hides an earlier one). Lines that do not follow the format are skipped.
std::vector<MountEntry> ParseMountInfo(const QByteArray& text);

// The mount table at Path (normally /proc/self/mountinfo); empty when it
// cannot be read.
std::vector<MountEntry> ReadMountInfo(const QString& path);

// The entry whose mount point is the deepest one holding the absolute,
// clean Path; nullptr when none does.
const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, const QString& path);

// The entry mounted at Point (the visible one when several are); nullptr
// when Point is no mount point.
const MountEntry* MountAt(const std::vector<MountEntry>& mounts, const QString& point);

}  // namespace kos
