#include "platform/os/MountTable.h"
#include "platform/os/SystemVolumes.h"
#include "tests/os/FakeMachine.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

using kos::DriveType;
using kos::SystemVolumes;
using kos::VolumeError;
using kos::VolumeState;

namespace {

// What `stat` (an outside program) says about Path, by Format.
QString Stat(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("stat"), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Free and total bytes of the file system holding Path, as `stat -f` tells.
void StatFs(const QString& path, qint64& free, qint64& total)
{
    const QStringList f = Stat({QStringLiteral("-f"), QStringLiteral("-c"), QStringLiteral("%S %a %b"), path})
                              .split(QLatin1Char(' '));
    ASSERT_EQ(f.size(), 3);
    free = f[0].toLongLong() * f[1].toLongLong();
    total = f[0].toLongLong() * f[2].toLongLong();
}

}  // namespace

TEST(MountTable, FieldsWithEscapesOptionalTagsAndBrokenLines)
{
    const auto mounts = kos::ParseMountInfo(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "36 22 8:17 / /media/u/MY\\040DISK rw,nosuid shared:7 master:2 propagate_from:3 - vfat /dev/sdb1 rw\n"
        "this line is not a mount\n"
        "37 22 0:50 /sub /srv/back\\134slash\\011tab\\012nl rw - fuse.sshfs me@host:/home\\040dir rw\n"
        "38 22 0:51 / /cut rw -\n"
        "39 22 0:52 / /srv/\\0401 rw - ext4 /dev/sdc1 rw\n");
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[1].mountPoint, "/media/u/MY DISK");
    EXPECT_EQ(mounts[1].device, "8:17");
    EXPECT_EQ(mounts[1].fsType, "vfat");
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");
    EXPECT_EQ(mounts[2].mountPoint, "/srv/back\\slash\ttab\nnl");
    EXPECT_EQ(mounts[2].fsType, "fuse.sshfs");
    EXPECT_EQ(mounts[2].source, "me@host:/home dir");
    // An escape followed by a digit ends after three digits.
    EXPECT_EQ(mounts[3].mountPoint, "/srv/ 1");
}

TEST(SystemVolumesTest, RootOfIsTheDeepestMountHoldingThePathThroughLinks)
{
    FakeMachine m;
    const QString outer = m.Dir(QStringLiteral("a b"));
    const QString inner = m.Dir(QStringLiteral("a b/in\\ner"));
    m.Dir(QStringLiteral("a b/in\\ner/deep"));
    const QString sibling = m.Dir(QStringLiteral("a b2"));
    QFile::link(inner + QStringLiteral("/deep"), m.base + QStringLiteral("/link"));
    m.Mounts({FakeMachine::Line(QStringLiteral("/"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1")),
        FakeMachine::Line(outer, QStringLiteral("ext4"), QStringLiteral("/dev/sda2")),
        FakeMachine::Line(inner, QStringLiteral("vfat"), QStringLiteral("/dev/sdb1"))});
    SystemVolumes v(m.Sources());

    EXPECT_EQ(v.RootOf(inner + QStringLiteral("/not/yet/there.zip")), inner + QLatin1Char('/'));
    EXPECT_EQ(v.RootOf(inner), inner + QLatin1Char('/'));
    EXPECT_EQ(v.RootOf(outer + QStringLiteral("/file")), outer + QLatin1Char('/'));
    EXPECT_EQ(v.RootOf(sibling + QStringLiteral("/x")), QStringLiteral("/"));
    EXPECT_EQ(v.RootOf(m.base + QStringLiteral("/link/new/file")), inner + QLatin1Char('/'));
    EXPECT_EQ(v.RootOf(outer + QStringLiteral("/../a b/in\\ner/../x")), outer + QLatin1Char('/'));
}

TEST(SystemVolumesTest, KindOfDriveFromFileSystemAndDeviceTree)
{
    FakeMachine m;
    m.Disk(QStringLiteral("sda"), FakeMachine::kSata, false);
    m.Partition(QStringLiteral("sda"), QStringLiteral("sda1"));
    m.Disk(QStringLiteral("sdb"), FakeMachine::kUsb, false);  // a stick that calls itself fixed
    m.Partition(QStringLiteral("sdb"), QStringLiteral("sdb1"));
    m.Disk(QStringLiteral("sdc"), FakeMachine::kCardReader, true);
    m.Disk(QStringLiteral("sr0"), FakeMachine::kSata, true);
    m.Mounts({FakeMachine::Line(QStringLiteral("/"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1")),
        FakeMachine::Line(QStringLiteral("/media/u/STICK"), QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")),
        FakeMachine::Line(QStringLiteral("/media/u/CARD"), QStringLiteral("exfat"), QStringLiteral("/dev/sdc")),
        FakeMachine::Line(QStringLiteral("/media/u/DVD"), QStringLiteral("udf"), QStringLiteral("/dev/sr0")),
        FakeMachine::Line(QStringLiteral("/mnt/iso"), QStringLiteral("iso9660"), QStringLiteral("/dev/loop0")),
        FakeMachine::Line(QStringLiteral("/mnt/nfs"), QStringLiteral("nfs4"), QStringLiteral("srv:/export")),
        FakeMachine::Line(QStringLiteral("/mnt/smb"), QStringLiteral("cifs"), QStringLiteral("//srv/share")),
        FakeMachine::Line(QStringLiteral("/mnt/ssh"), QStringLiteral("fuse.sshfs"), QStringLiteral("me@srv:")),
        FakeMachine::Line(QStringLiteral("/tmp"), QStringLiteral("tmpfs"), QStringLiteral("tmpfs"))});
    SystemVolumes v(m.Sources());

    EXPECT_EQ(v.TypeOf(QStringLiteral("/")), DriveType::Fixed);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/media/u/STICK/")), DriveType::Removable);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/media/u/CARD")), DriveType::Removable);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/media/u/DVD/")), DriveType::CdRom);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/mnt/iso/")), DriveType::CdRom);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/mnt/nfs/")), DriveType::Network);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/mnt/smb/")), DriveType::Network);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/mnt/ssh/")), DriveType::Network);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/tmp/")), DriveType::Fixed);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/media/u/")), DriveType::NoRoot);
    EXPECT_EQ(v.TypeOf(QStringLiteral("/media/u/STICK/sub/")), DriveType::NoRoot);
}

// The volumes offered for choosing a folder: the root, the home folder's,
// then what a user brings or reaches over the network, each once, the
// system's own file systems left out.
TEST(SystemVolumesTest, RootsToChooseAFolderOn)
{
    FakeMachine m;
    m.Disk(QStringLiteral("sda"), FakeMachine::kSata, false);
    m.Partition(QStringLiteral("sda"), QStringLiteral("sda1"));
    m.Partition(QStringLiteral("sda"), QStringLiteral("sda2"));
    m.Disk(QStringLiteral("sdb"), FakeMachine::kUsb, false);
    m.Partition(QStringLiteral("sdb"), QStringLiteral("sdb1"));
    m.Disk(QStringLiteral("sr0"), FakeMachine::kSata, true);
    m.Disk(QStringLiteral("loop3"), FakeMachine::kSata, false);
    const QString home = m.Dir(QStringLiteral("home"));
    ScopedEnv homeEnv("HOME", home + QStringLiteral("/u"));
    m.Dir(QStringLiteral("home/u"));
    m.Mounts({FakeMachine::Line(QStringLiteral("/"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1")),
        FakeMachine::Line(QStringLiteral("/proc"), QStringLiteral("proc"), QStringLiteral("proc")),
        FakeMachine::Line(QStringLiteral("/run"), QStringLiteral("tmpfs"), QStringLiteral("tmpfs")),
        FakeMachine::Line(home, QStringLiteral("ext4"), QStringLiteral("/dev/sda2")),
        FakeMachine::Line(QStringLiteral("/boot"), QStringLiteral("ext4"), QStringLiteral("/dev/sda2")),
        FakeMachine::Line(QStringLiteral("/snap/core/1"), QStringLiteral("squashfs"), QStringLiteral("/dev/loop3")),
        FakeMachine::Line(QStringLiteral("/media/u/CLE USB"), QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")),
        FakeMachine::Line(QStringLiteral("/media/u/DVD"), QStringLiteral("udf"), QStringLiteral("/dev/sr0")),
        FakeMachine::Line(QStringLiteral("/mnt/cabinet"), QStringLiteral("cifs"), QStringLiteral("//srv/cabinet")),
        FakeMachine::Line(QStringLiteral("/mnt/cabinet"), QStringLiteral("cifs"), QStringLiteral("//srv/cabinet"))});
    SystemVolumes v(m.Sources());

    EXPECT_EQ(v.Roots(),
        (QStringList{QStringLiteral("/"), home + QStringLiteral("/"), QStringLiteral("/media/u/CLE USB/"),
            QStringLiteral("/media/u/DVD/"), QStringLiteral("/mnt/cabinet/")}));
}

TEST(SystemVolumesTest, LabelSerialAndRoomOfTheMediumMountedThere)
{
    FakeMachine m;
    m.Disk(QStringLiteral("sda"), FakeMachine::kSata, false);
    m.Partition(QStringLiteral("sda"), QStringLiteral("sda1"));
    m.Disk(QStringLiteral("sdb"), FakeMachine::kUsb, true);
    m.Partition(QStringLiteral("sdb"), QStringLiteral("sdb1"));
    m.Link(QStringLiteral("by-label"), QStringLiteral("OTHER"), QStringLiteral("sdc1"));
    m.Link(QStringLiteral("by-label"), QStringLiteral("MY\\x20DISK\\x2f2"), QStringLiteral("sdb1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("0123-4567"), QStringLiteral("sdc1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("ABCD-EF01"), QStringLiteral("sdb1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("f81d4fae-7dec-11d0-a765-00a0c91e6bf6"), QStringLiteral("sda1"));
    const QString stick = m.Dir(QStringLiteral("MY DISK"));
    const QString system = m.Dir(QStringLiteral("system"));
    m.Mounts({FakeMachine::Line(stick, QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")),
        FakeMachine::Line(system, QStringLiteral("ext4"), QStringLiteral("/dev/sda1"))});
    SystemVolumes v(m.Sources());

    VolumeState s;
    VolumeError e = VolumeError::Other;
    ASSERT_TRUE(v.Query(stick + QLatin1Char('/'), s, e));
    EXPECT_EQ(e, VolumeError::None);
    EXPECT_EQ(s.label, QStringLiteral("MY DISK/2"));
    EXPECT_EQ(s.serial, 0xABCDEF01u);
    qint64 free = 0, total = 0;
    StatFs(stick, free, total);
    EXPECT_EQ(s.total, total);
    EXPECT_NEAR(double(s.free), double(free), 64.0 * 1024 * 1024);  // the disk is shared

    ASSERT_TRUE(v.Query(system, s, e));
    EXPECT_EQ(s.label, QString());
    EXPECT_EQ(s.serial, 0xf81d4faeu);

    // A directory that is no mount point holds no medium of its own.
    EXPECT_FALSE(v.Query(m.base, s, e));
    EXPECT_EQ(e, VolumeError::NoMedium);
    EXPECT_FALSE(v.Space(m.base, free, total));
}

TEST(SystemVolumesTest, SwappedMediumIsFoundWhereverItIsMounted)
{
    FakeMachine m;
    m.Disk(QStringLiteral("sdb"), FakeMachine::kUsb, false);
    m.Partition(QStringLiteral("sdb"), QStringLiteral("sdb1"));
    m.Disk(QStringLiteral("sdc"), FakeMachine::kUsb, false);
    m.Partition(QStringLiteral("sdc"), QStringLiteral("sdc1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("1111-1111"), QStringLiteral("sdb1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("3333-3333"), QStringLiteral("sdc1"));
    const QString disk1 = m.Dir(QStringLiteral("media/DISK1"));
    const QString disk2 = m.Dir(QStringLiteral("media/DISK2"));
    const QString other = m.Dir(QStringLiteral("media/OTHER"));
    m.Mounts({FakeMachine::Line(disk1, QStringLiteral("vfat"), QStringLiteral("/dev/sdb1"))});
    SystemVolumes v(m.Sources());
    const QString root = v.RootOf(disk1 + QStringLiteral("/backup/Korvale.zip"));
    ASSERT_EQ(root, disk1 + QLatin1Char('/'));
    EXPECT_EQ(v.CurrentRoot(root), root);

    // Ejected; another disk's medium comes and goes elsewhere meanwhile.
    m.Medium(QStringLiteral("sdb"), 0);
    m.Mounts({FakeMachine::Line(other, QStringLiteral("vfat"), QStringLiteral("/dev/sdc1"))});
    VolumeState s;
    VolumeError e = VolumeError::None;
    EXPECT_EQ(v.CurrentRoot(root), QString());
    EXPECT_EQ(v.TypeOf(root), DriveType::Removable);
    EXPECT_FALSE(v.Query(root, s, e));
    EXPECT_EQ(e, VolumeError::NoMedium);

    // A blank medium: present, no file system, nothing mounted.
    m.Medium(QStringLiteral("sdb"), 2880);
    m.Unlink(QStringLiteral("by-uuid"), QStringLiteral("1111-1111"));
    EXPECT_FALSE(v.Query(root, s, e));
    EXPECT_EQ(e, VolumeError::Unformatted);

    // The next medium, mounted under its own label.
    m.Link(QStringLiteral("by-label"), QStringLiteral("DISK2"), QStringLiteral("sdb1"));
    m.Link(QStringLiteral("by-uuid"), QStringLiteral("2222-2222"), QStringLiteral("sdb1"));
    m.Mounts({FakeMachine::Line(other, QStringLiteral("vfat"), QStringLiteral("/dev/sdc1")),
        FakeMachine::Line(disk2, QStringLiteral("vfat"), QStringLiteral("/dev/sdb1"))});
    EXPECT_EQ(v.CurrentRoot(root), disk2 + QLatin1Char('/'));
    ASSERT_TRUE(v.Query(root, s, e));
    EXPECT_EQ(s.label, QStringLiteral("DISK2"));
    EXPECT_EQ(s.serial, 0x22222222u);

    // A service that never saw the drive knows nothing of the old root.
    SystemVolumes fresh(m.Sources());
    EXPECT_EQ(fresh.CurrentRoot(root), QString());
    EXPECT_EQ(fresh.TypeOf(root), DriveType::NoRoot);
}

TEST(SystemVolumesTest, ThisMachinesMountTableAndRoom)
{
    QTemporaryDir tmp;
    const QString dir = QDir(tmp.path()).canonicalPath();
    SystemVolumes v;
    const QString root = v.RootOf(dir + QStringLiteral("/not/yet"));
    QString mountPoint = Stat({QStringLiteral("-c"), QStringLiteral("%m"), dir});
    if (!mountPoint.endsWith(QLatin1Char('/')))
        mountPoint += QLatin1Char('/');
    EXPECT_EQ(root, mountPoint);
    EXPECT_NE(v.TypeOf(root), DriveType::NoRoot);
    EXPECT_EQ(v.CurrentRoot(root), root);
    qint64 free = -1, total = -1, statFree = 0, statTotal = 0;
    ASSERT_TRUE(v.Space(root, free, total));
    StatFs(dir, statFree, statTotal);
    EXPECT_EQ(total, statTotal);
    EXPECT_NEAR(double(free), double(statFree), 64.0 * 1024 * 1024);
}
