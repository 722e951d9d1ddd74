// The volumes of this machine: mount table, device tree, device links, and
// the desktop's disk service for the changes.
#include "platform/os/SystemVolumes.h"

#include "platform/os/DiskService.h"
#include "platform/os/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/statvfs.h>

#include <cerrno>

namespace kos {

namespace {

QString Slashed(QString root)
{
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    return root;
}

// Path made absolute and clean, without its trailing "/" (but "/").
QString Clean(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

// The deepest existing directory or file on the way to Path, its links resolved.
QString DeepestExisting(const QString& path)
{
    QString p = Clean(path);
    for (;;) {
        const QString real = QFileInfo(p).canonicalFilePath();
        if (!real.isEmpty() || p == QLatin1String("/"))
            return real.isEmpty() ? p : real;
        p = QFileInfo(p).absolutePath();
    }
}

QByteArray ReadSmall(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096).trimmed() : QByteArray();
}

bool IsNetwork(const QString& fsType)
{
    static const QStringList kinds = {
        QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"), QStringLiteral("smb3"),
        QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("9p"), QStringLiteral("afs"),
        QStringLiteral("ceph"), QStringLiteral("glusterfs"), QStringLiteral("lustre"), QStringLiteral("coda"),
        QStringLiteral("davfs"), QStringLiteral("fuse.sshfs"), QStringLiteral("fuse.davfs2"),
        QStringLiteral("fuse.glusterfs"), QStringLiteral("fuse.ceph-fuse"), QStringLiteral("fuse.s3fs"),
        QStringLiteral("fuse.rclone"), QStringLiteral("fuse.smbnetfs"), QStringLiteral("fuse.curlftpfs")};
    return kinds.contains(fsType);
}

// A device link's name with udev's \xHH escapes decoded.
QString DecodeLinkName(const QString& name)
{
    const QByteArray raw = QFile::encodeName(name);
    QByteArray out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        bool ok = false;
        if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
            const int byte = raw.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out += char(byte);
                i += 3;
                continue;
            }
        }
        out += raw[i];
    }
    return QString::fromUtf8(out);
}

// The serial of a file system from its UUID: the first eight hex digits
// ("ABCD-EF01" of a FAT volume is 0xABCDEF01).
uint32_t SerialOf(const QString& uuid)
{
    QString hex;
    for (QChar c : uuid) {
        if (hex.size() == 8)
            break;
        if (c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            hex += c;
    }
    return hex.toUInt(nullptr, 16);
}

// Statvfs of Dir; false with Error set when it fails.
bool Room(const QString& dir, qint64& free, qint64& total, VolumeError& error)
{
    struct statvfs st { };
    if (::statvfs(QFile::encodeName(dir).constData(), &st) != 0) {
        const int e = errno;
        const bool gone = e == ENOENT || e == EIO || e == ENODEV || e == ENXIO || e == ENOTCONN || e == ESTALE
            || e == ENOMEDIUM;
        error = gone ? VolumeError::NoMedium : VolumeError::Other;
        return false;
    }
    free = qint64(st.f_bavail) * qint64(st.f_frsize);
    total = qint64(st.f_blocks) * qint64(st.f_frsize);
    return true;
}

}  // namespace

SystemVolumes::SystemVolumes() : SystemVolumes(Sources()) { }

SystemVolumes::SystemVolumes(Sources sources) : src_(std::move(sources)) { }

std::optional<SystemVolumes::Block> SystemVolumes::BlockNamed(const QString& name) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString dir = QFileInfo(src_.sys + QStringLiteral("/class/block/") + name).canonicalFilePath();
    if (dir.isEmpty())
        return std::nullopt;
    Block b;
    b.name = QFileInfo(dir).fileName();
    b.diskDir = QFileInfo::exists(dir + QStringLiteral("/partition")) ? QFileInfo(dir).absolutePath() : dir;
    b.disk = QFileInfo(b.diskDir).fileName();
    // Where the disk hangs in the device tree tells whether it came by USB.
    static const QRegularExpression usb(QStringLiteral("/usb\\d+/"));
    const QString sysRoot = QFileInfo(src_.sys).canonicalFilePath();
    const QString where = b.diskDir.mid(sysRoot.size()) + QLatin1Char('/');
    b.removable = ReadSmall(b.diskDir + QStringLiteral("/removable")) == "1" || usb.match(where).hasMatch();
    return b;
}

std::optional<SystemVolumes::Block> SystemVolumes::BlockOf(const MountEntry& entry) const
{
    // By the device number where it names a block device, else by the
    // source's name (file systems such as btrfs report a private number).
    if (!entry.device.startsWith(QLatin1String("0:"))) {
        const QString dir = QFileInfo(src_.sys + QStringLiteral("/dev/block/") + entry.device).canonicalFilePath();
        if (!dir.isEmpty())
            if (auto b = BlockNamed(QFileInfo(dir).fileName()))
                return b;
    }
    if (!entry.source.startsWith(QLatin1String("/dev/")))
        return std::nullopt;
    const QString real = QFileInfo(entry.source).canonicalFilePath();
    return BlockNamed(QFileInfo(real.isEmpty() ? entry.source : real).fileName());
}

DriveType SystemVolumes::Classify(const MountEntry& entry, const std::optional<Block>& block)
{
    if (IsNetwork(entry.fsType))
        return DriveType::Network;
    if (entry.fsType == QLatin1String("iso9660") || entry.fsType == QLatin1String("udf")
        || (block && block->disk.startsWith(QLatin1String("sr"))))
        return DriveType::CdRom;
    if (!block)
        return DriveType::Fixed;
    if (block->removable)
        return DriveType::Removable;
    auto asked = askedRemovable_.constFind(block->disk);
    if (asked == askedRemovable_.constEnd()) {
        const auto answer = DiskService(src_.bus, src_.quickTimeoutMs, src_.slowTimeoutMs)
                                .Removable(QStringLiteral("/dev/") + block->name);
        asked = askedRemovable_.insert(block->disk, answer.value_or(false));
    }
    return *asked ? DriveType::Removable : DriveType::Fixed;
}

SystemVolumes::Drive SystemVolumes::Mounted(const MountEntry& entry)
{
    Drive d;
    d.mount = Slashed(entry.mountPoint);
    d.block = BlockOf(entry);
    d.type = Classify(entry, d.block);
    if (d.block)
        seen_.insert(d.mount, Seen {d.block->name, d.block->disk, d.type});
    else
        seen_.remove(d.mount);
    return d;
}

SystemVolumes::Drive SystemVolumes::Resolve(const QString& root)
{
    const QString r = Clean(root);
    const std::vector<MountEntry> mounts = ReadMountInfo(src_.mountInfo);
    if (const MountEntry* e = MountAt(mounts, r))
        return Mounted(*e);
    const auto seen = seen_.constFind(Slashed(r));
    if (seen == seen_.constEnd())
        return {};
    // The root is no longer mounted: the drive's medium may be elsewhere.
    const Seen was = *seen;
    for (const MountEntry& e : mounts) {
        const auto b = BlockOf(e);
        if (b && b->disk == was.disk)
            return Mounted(e);
    }
    Drive d;
    d.type = was.type;
    d.block = BlockNamed(was.device);
    if (!d.block || d.block->disk != was.disk)
        d.block = BlockNamed(was.disk);
    return d;
}

bool SystemVolumes::HasFileSystem(const Block& block) const
{
    QStringList names = {block.disk};
    const QFileInfoList parts = QDir(block.diskDir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& p : parts)
        if (QFileInfo::exists(p.absoluteFilePath() + QStringLiteral("/partition")))
            names += p.fileName();
    for (const QString& n : names)
        if (!LinkTo(QStringLiteral("by-uuid"), n).isEmpty())
            return true;
    return false;
}

QString SystemVolumes::LinkTo(const QString& kind, const QString& device) const
{
    const QFileInfoList links =
        QDir(src_.diskLinks + QLatin1Char('/') + kind).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && QFileInfo(link.symLinkTarget()).fileName() == device)
            return DecodeLinkName(link.fileName());
    return {};
}

QString SystemVolumes::RootOf(const QString& path)
{
    const std::vector<MountEntry> mounts = ReadMountInfo(src_.mountInfo);
    const MountEntry* e = MountHolding(mounts, DeepestExisting(path));
    if (!e)
        return QStringLiteral("/");
    return Mounted(*e).mount;
}

QString SystemVolumes::CurrentRoot(const QString& root)
{
    return Resolve(root).mount;
}

DriveType SystemVolumes::TypeOf(const QString& root)
{
    return Resolve(root).type;
}

bool SystemVolumes::Query(const QString& root, VolumeState& state, VolumeError& error)
{
    const Drive d = Resolve(root);
    if (d.mount.isEmpty()) {
        // A medium in the drive but no file system on it; where the system
        // keeps no device links there is no telling.
        const bool blank = d.block && ReadSmall(d.block->diskDir + QStringLiteral("/size")).toLongLong() > 0
            && QFileInfo(src_.diskLinks + QStringLiteral("/by-uuid")).isDir() && !HasFileSystem(*d.block);
        error = blank ? VolumeError::Unformatted : VolumeError::NoMedium;
        return false;
    }
    VolumeState s;
    if (!Room(d.mount, s.free, s.total, error))
        return false;
    if (d.block) {
        s.label = LinkTo(QStringLiteral("by-label"), d.block->name);
        s.serial = SerialOf(LinkTo(QStringLiteral("by-uuid"), d.block->name));
    }
    state = s;
    error = VolumeError::None;
    return true;
}

bool SystemVolumes::Space(const QString& root, qint64& free, qint64& total)
{
    const Drive d = Resolve(root);
    VolumeError error;
    qint64 f = -1, t = -1;
    if (d.mount.isEmpty() || !Room(d.mount, f, t, error))
        return false;
    free = f;
    total = t;
    return true;
}

bool SystemVolumes::SetLabel(const QString& root, const QString& label)
{
    const Drive d = Resolve(root);
    if (!d.block)
        return false;
    return DiskService(src_.bus, src_.quickTimeoutMs, src_.slowTimeoutMs)
               .SetLabel(QStringLiteral("/dev/") + d.block->name, label)
        == DiskCall::Done;
}

int SystemVolumes::Format(const QString& root, const QString& label)
{
    const Drive d = Resolve(root);
    if (d.type != DriveType::Removable || !d.block)
        return -3;
    QString where;
    switch (DiskService(src_.bus, src_.quickTimeoutMs, src_.slowTimeoutMs)
                .Format(QStringLiteral("/dev/") + d.block->name, label, !d.mount.isEmpty(), where)) {
    case DiskCall::Done:
        // The medium's new root, known as this drive's from now on.
        if (!where.isEmpty())
            seen_.insert(Slashed(Clean(where)), Seen {d.block->name, d.block->disk, d.type});
        return 0;
    case DiskCall::Dismissed:
        return -2;
    case DiskCall::Absent:
        return -3;
    case DiskCall::Failed:
        break;
    }
    return -1;
}

QStringList SystemVolumes::Roots()
{
    QStringList roots = VolumeService::Roots();
    const std::vector<MountEntry> mounts = ReadMountInfo(src_.mountInfo);
    // Loop images (snaps, ...) and memory disks hold no medium a user
    // brings, unless a CD image is mounted from one.
    static const QRegularExpression internal(QStringLiteral("^(loop|ram|zram)\\d"));
    for (const MountEntry& listed : mounts) {
        const QString root = Slashed(listed.mountPoint);
        if (roots.contains(root))
            continue;
        const MountEntry* e = MountAt(mounts, listed.mountPoint);  // the one seen there
        if (!e)
            continue;
        const std::optional<Block> block = BlockOf(*e);
        const bool disc = e->fsType == QLatin1String("iso9660") || e->fsType == QLatin1String("udf");
        if (!IsNetwork(e->fsType) && !disc && (!block || internal.match(block->name).hasMatch()))
            continue;  // a file system of the system (proc, tmpfs, ...)
        const DriveType type = Classify(*e, block);
        if (type == DriveType::Removable || type == DriveType::CdRom || type == DriveType::Network)
            roots << root;
    }
    return roots;
}

}  // namespace kos
