#pragma once
// Drives made of directories, for the tests of everything that asks for
// disks. A drive is a mount directory with a kind; a disk is a directory of
// its own with a capacity, a label and a serial. Inserting a disk moves its
// directory onto the drive's mount directory, ejecting moves it back, so a
// test swaps disks as a user swaps floppies. Fixed and network drives always
// hold their one disk. Paths outside every drive are left to the system.
#include "platform/os/Volumes.h"

#include <QString>

#include <memory>
#include <vector>

namespace ktest {

struct FakeDisk {
    QString store;  // where the disk's files live while it is out of the drive
    qint64 capacity = 1457664;
    QString label;
    uint32_t serial = 0;
    bool formatted = true;
    bool readOnly = false;
};

class FakeVolumes : public kos::VolumeService {
public:
    // Base: a directory (existing) under which drives and disks are made.
    explicit FakeVolumes(const QString& base);
    ~FakeVolumes() override;

    // A drive mounted at Base + name + "/"; returns its root.
    QString AddDrive(const QString& name, kos::DriveType type);
    // A disk kept at Base + "disks/" + name; a fixed or network drive gets
    // one inserted by AddDrive (call Disk(root) to change its capacity).
    FakeDisk* NewDisk(const QString& name, qint64 capacity, const QString& label = {});
    // Puts Disk into the drive (ejecting what is there); nullptr empties it.
    void Insert(const QString& root, FakeDisk* disk);
    void Eject(const QString& root) { Insert(root, nullptr); }
    FakeDisk* Disk(const QString& root) const;
    // Bytes of the files on the disk now in the drive (or on Disk).
    qint64 Used(const FakeDisk& disk) const;
    // Where Disk's files are now: the drive's root when inserted, its store otherwise.
    QString FilesOf(const FakeDisk& disk) const;

    // What Format answers (0 formats; -1, -2, -3 refuse), and the calls seen.
    int formatAnswer = 0;
    int formatCalls = 0;
    int labelCalls = 0;

    QString RootOf(const QString& path) override;
    QString CurrentRoot(const QString& root) override;
    kos::DriveType TypeOf(const QString& root) override;
    bool Query(const QString& root, kos::VolumeState& state, kos::VolumeError& error) override;
    bool Space(const QString& root, qint64& free, qint64& total) override;
    bool SetLabel(const QString& root, const QString& label) override;
    int Format(const QString& root, const QString& label) override;
    // The system's roots, then the drives holding a disk.
    QStringList Roots() override;

private:
    struct Drive {
        QString root;
        kos::DriveType type;
        FakeDisk* disk = nullptr;
    };
    Drive* Find(const QString& root) const;
    QString base_;
    std::vector<std::unique_ptr<Drive>> drives_;
    std::vector<std::unique_ptr<FakeDisk>> disks_;
};

}  // namespace ktest
