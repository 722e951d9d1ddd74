#include "tests/support/FakeVolumes.h"

#include "platform/os/SystemVolumes.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace ktest {

namespace {

qint64 SizeOfTree(const QString& dir)
{
    qint64 n = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        n += QFileInfo(it.next()).size();
    return n;
}

}  // namespace

FakeVolumes::FakeVolumes(const QString& base) : base_(QDir(base).absolutePath() + QLatin1Char('/'))
{
    QDir().mkpath(base_ + QStringLiteral("disks"));
}

FakeVolumes::~FakeVolumes()
{
    for (auto& d : drives_)
        if (d->disk)
            Eject(d->root);
}

QString FakeVolumes::AddDrive(const QString& name, kos::DriveType type)
{
    auto d = std::make_unique<Drive>();
    d->root = base_ + name + QLatin1Char('/');
    d->type = type;
    drives_.push_back(std::move(d));
    QString root = drives_.back()->root;
    if (type == kos::DriveType::Fixed || type == kos::DriveType::Network)
        Insert(root, NewDisk(name, qint64(1) << 40, name.toUpper()));
    return root;
}

FakeDisk* FakeVolumes::NewDisk(const QString& name, qint64 capacity, const QString& label)
{
    auto disk = std::make_unique<FakeDisk>();
    disk->store = base_ + QStringLiteral("disks/") + name;
    disk->capacity = capacity;
    disk->label = label;
    disk->serial = 0x1000u + uint32_t(disks_.size());
    QDir().mkpath(disk->store);
    disks_.push_back(std::move(disk));
    return disks_.back().get();
}

FakeVolumes::Drive* FakeVolumes::Find(const QString& root) const
{
    QString r = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    for (auto& d : drives_)
        if (d->root == r)
            return d.get();
    return nullptr;
}

void FakeVolumes::Insert(const QString& root, FakeDisk* disk)
{
    Drive* d = Find(root);
    if (!d)
        return;
    QString mount = d->root.chopped(1);
    if (d->disk) {
        QDir().rename(mount, d->disk->store);
        d->disk = nullptr;
    }
    if (disk) {
        for (auto& other : drives_)
            if (other->disk == disk)
                Eject(other->root);
        QDir().rename(disk->store, mount);
        d->disk = disk;
    }
}

FakeDisk* FakeVolumes::Disk(const QString& root) const
{
    Drive* d = Find(root);
    return d ? d->disk : nullptr;
}

QString FakeVolumes::FilesOf(const FakeDisk& disk) const
{
    for (auto& d : drives_)
        if (d->disk == &disk)
            return d->root;
    return disk.store + QLatin1Char('/');
}

qint64 FakeVolumes::Used(const FakeDisk& disk) const
{
    return SizeOfTree(FilesOf(disk));
}

QString FakeVolumes::RootOf(const QString& path)
{
    QString p = QDir::cleanPath(QDir(path).absolutePath()) + QLatin1Char('/');
    for (auto& d : drives_)
        if (p.startsWith(d->root))
            return d->root;
    return kos::SystemVolumes().RootOf(path);
}

QString FakeVolumes::CurrentRoot(const QString& root)
{
    Drive* d = Find(root);
    if (!d)
        return kos::SystemVolumes().CurrentRoot(root);
    return d->disk ? d->root : QString();
}

kos::DriveType FakeVolumes::TypeOf(const QString& root)
{
    Drive* d = Find(root);
    return d ? d->type : kos::SystemVolumes().TypeOf(root);
}

bool FakeVolumes::Query(const QString& root, kos::VolumeState& state, kos::VolumeError& error)
{
    Drive* d = Find(root);
    if (!d)
        return kos::SystemVolumes().Query(root, state, error);
    if (!d->disk) {
        error = kos::VolumeError::NoMedium;
        return false;
    }
    if (!d->disk->formatted) {
        error = kos::VolumeError::Unformatted;
        return false;
    }
    state.label = d->disk->label;
    state.serial = d->disk->serial;
    state.total = d->disk->capacity;
    state.free = qMax<qint64>(0, d->disk->capacity - Used(*d->disk));
    error = kos::VolumeError::None;
    return true;
}

bool FakeVolumes::Space(const QString& root, qint64& free, qint64& total)
{
    kos::VolumeState s;
    kos::VolumeError e;
    if (!Query(root, s, e))
        return false;
    free = s.free;
    total = s.total;
    return true;
}

bool FakeVolumes::SetLabel(const QString& root, const QString& label)
{
    ++labelCalls;
    Drive* d = Find(root);
    if (!d)
        return false;
    if (!d->disk || d->disk->readOnly || !d->disk->formatted)
        return false;
    d->disk->label = label;
    return true;
}

int FakeVolumes::Format(const QString& root, const QString& label)
{
    ++formatCalls;
    Drive* d = Find(root);
    if (!d || d->type != kos::DriveType::Removable)
        return -3;
    if (formatAnswer != 0)
        return formatAnswer;
    if (!d->disk)
        return -1;
    QDir(d->root).removeRecursively();
    QDir().mkpath(d->root);
    d->disk->formatted = true;
    d->disk->label = label;
    return 0;
}

QStringList FakeVolumes::Roots()
{
    QStringList roots = kos::SystemVolumes().Roots();
    for (auto& d : drives_)
        if (d->disk && !roots.contains(d->root))
            roots << d->root;
    return roots;
}

}  // namespace ktest
