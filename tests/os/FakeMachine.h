#pragma once
// A machine made of files for the volume service: a mount table, a device
// tree (/sys) with disks on a bus, device links (/dev/disk) and real
// directories to mount on, all under one temporary directory.
#include "platform/os/SystemVolumes.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class FakeMachine {
public:
    // Bus paths of the device tree: where a disk hangs tells how it came.
    static constexpr const char* kSata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
    static constexpr const char* kUsb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
    static constexpr const char* kCardReader = "pci0000:00/0000:00:1c.0/0000:02:00.0/host7/target7:0:0/7:0:0:0";

    FakeMachine()
    {
        base = QDir(tmp_.path()).canonicalPath();
        QDir().mkpath(base + QStringLiteral("/sys/class/block"));
        QDir().mkpath(base + QStringLiteral("/dev/disk/by-label"));
        QDir().mkpath(base + QStringLiteral("/dev/disk/by-uuid"));
        Mounts({});
    }

    // The sources of a volume service reading this machine, on no bus.
    kos::SystemVolumes::Sources Sources() const
    {
        kos::SystemVolumes::Sources s;
        s.mountInfo = base + QStringLiteral("/mountinfo");
        s.sys = base + QStringLiteral("/sys");
        s.diskLinks = base + QStringLiteral("/dev/disk");
        s.bus = QStringLiteral("korvale-no-bus");
        return s;
    }

    // A whole disk on Bus with a medium of Sectors (0: none).
    void Disk(const QString& name, const char* bus, bool removable, qint64 sectors = 2880)
    {
        const QString dir = base + QStringLiteral("/sys/devices/") + QLatin1String(bus) + QStringLiteral("/block/") + name;
        QDir().mkpath(dir);
        Touch(dir + QStringLiteral("/removable"), removable ? "1\n" : "0\n");
        QFile::link(dir, base + QStringLiteral("/sys/class/block/") + name);
        Medium(name, sectors);
    }
    void Medium(const QString& disk, qint64 sectors)
    {
        Touch(DirOf(disk) + QStringLiteral("/size"), QByteArray::number(sectors) + '\n');
    }
    void Partition(const QString& disk, const QString& name)
    {
        const QString dir = DirOf(disk) + QLatin1Char('/') + name;
        QDir().mkpath(dir);
        Touch(dir + QStringLiteral("/partition"), "1\n");
        QFile::link(dir, base + QStringLiteral("/sys/class/block/") + name);
    }
    // A device link as udev makes them: by-label/<name> -> ../../<device>.
    void Link(const QString& kind, const QString& name, const QString& device)
    {
        QFile::link(QStringLiteral("../../") + device, base + QStringLiteral("/dev/disk/") + kind + QLatin1Char('/') + name);
    }
    void Unlink(const QString& kind, const QString& name)
    {
        QFile::remove(base + QStringLiteral("/dev/disk/") + kind + QLatin1Char('/') + name);
    }
    // A real directory under the machine (to mount on); returns its path.
    QString Dir(const QString& name)
    {
        QDir().mkpath(base + QLatin1Char('/') + name);
        return base + QLatin1Char('/') + name;
    }
    // Replaces the mount table by Lines, written as the kernel writes them.
    void Mounts(const QStringList& lines)
    {
        Touch(base + QStringLiteral("/mountinfo"), lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    // One line of the table: Source of Type mounted at Point.
    static QString Line(const QString& point, const QString& type, const QString& source, const QString& dev = "0:99")
    {
        QString escaped = point;
        escaped.replace(QLatin1Char('\\'), QStringLiteral("\\134")).replace(QLatin1Char(' '), QStringLiteral("\\040"));
        return QStringLiteral("40 1 %1 / %2 rw,relatime shared:1 - %3 %4 rw").arg(dev, escaped, type, source);
    }

    QString base;

private:
    QString DirOf(const QString& disk) const
    {
        return QFileInfo(base + QStringLiteral("/sys/class/block/") + disk).canonicalFilePath();
    }
    QTemporaryDir tmp_;
};
