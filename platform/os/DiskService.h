#pragma once
// The desktop's disk service (UDisks2 on the system bus): it labels, formats
// and mounts the media of the user's removable drives without root, asking
// the user for an authorisation where its rules want one. Every call waits
// a bounded time: a service that does not answer is a failure, not a hang.
#include <QString>

#include <optional>

namespace kos {

enum class DiskCall {
    Done,
    Failed,  // the service refused or failed
    Dismissed,  // the user dismissed the authorisation
    Absent,  // no service (no bus, or nobody owns the name)
};

class DiskService {
public:
    // Bus: the name of a connection made with QDBusConnection::connectToBus;
    // empty for the system bus. QuickMs bounds the look-ups, SlowMs the
    // changes (they may wait for the user's authorisation).
    DiskService(const QString& bus, int quickMs, int slowMs);

    // Whether the drive holding Device ("/dev/sdb1") or its medium can be
    // removed; nullopt when the service cannot tell.
    std::optional<bool> Removable(const QString& device);
    DiskCall SetLabel(const QString& device, const QString& label);
    // Unmounts Device when Mounted, gives it an empty FAT file system
    // labelled Label, and mounts it; Where receives the new mount point.
    // A failed format mounts the old file system back.
    DiskCall Format(const QString& device, const QString& label, bool mounted, QString& where);

private:
    QString bus_;
    int quickMs_;
    int slowMs_;
};

}  // namespace kos
