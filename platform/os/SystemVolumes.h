#pragma once
// The volumes of this machine, as the kernel's mount table, its device tree
// (/sys) and the device links of /dev/disk report them. A "drive" is the
// block device behind a mount point: the root last seen on a device stays
// that device's name after its medium is unmounted, so a swapped medium is
// found wherever the desktop mounts it. Labelling and formatting go through
// the desktop's disk service (DiskService.h).
#include "platform/os/Volumes.h"

#include <QHash>

#include <optional>

namespace kos {

struct MountEntry;

class SystemVolumes : public VolumeService {
public:
    // Where the service reads; a test points them at a tree of its own.
    struct Sources {
        QString mountInfo = QStringLiteral("/proc/self/mountinfo");
        QString sys = QStringLiteral("/sys");
        QString diskLinks = QStringLiteral("/dev/disk");  // by-label/, by-uuid/
        // A connection made with QDBusConnection::connectToBus; empty for the
        // system bus.
        QString bus;
        int quickTimeoutMs = 5000;  // look-ups on the bus
        int slowTimeoutMs = 60000;  // changes, which may wait for the user's authorisation
    };

    SystemVolumes();
    explicit SystemVolumes(Sources sources);

    QString RootOf(const QString& path) override;
    QString CurrentRoot(const QString& root) override;
    DriveType TypeOf(const QString& root) override;
    bool Query(const QString& root, VolumeState& state, VolumeError& error) override;
    bool Space(const QString& root, qint64& free, qint64& total) override;
    bool SetLabel(const QString& root, const QString& label) override;
    int Format(const QString& root, const QString& label) override;
    QStringList Roots() override;

private:
    // A block device as /sys shows it.
    struct Block {
        QString name;  // "sdb1"
        QString disk;  // the whole disk: "sdb"
        QString diskDir;  // the disk's directory under /sys
        bool removable = false;  // the disk says so, or sits on a USB bus
    };
    // The drive last seen at a root, and where its medium is now.
    struct Drive {
        QString mount;  // the mount point ("/" ended) of its medium; empty when none
        std::optional<Block> block;
        DriveType type = DriveType::NoRoot;
    };
    struct Seen {
        QString device;
        QString disk;
        DriveType type;
    };

    Drive Resolve(const QString& root);
    Drive Mounted(const MountEntry& entry);
    std::optional<Block> BlockNamed(const QString& name) const;
    std::optional<Block> BlockOf(const MountEntry& entry) const;
    DriveType Classify(const MountEntry& entry, const std::optional<Block>& block);
    QString LinkTo(const QString& kind, const QString& device) const;
    bool HasFileSystem(const Block& block) const;

    Sources src_;
    QHash<QString, Seen> seen_;  // root → device
    QHash<QString, bool> askedRemovable_;  // disk → the disk service's answer
};

}  // namespace kos
