// The volumes of this machine: roots and room from the mount table.
#include "platform/os/SystemVolumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace kos {

namespace {

QString DeepestExisting(const QString& path)
{
    QFileInfo fi(QDir::cleanPath(QDir(path).absolutePath()));
    while (!fi.exists() && fi.absoluteFilePath() != QLatin1String("/"))
        fi = QFileInfo(fi.absolutePath());
    return fi.absoluteFilePath();
}

QString Slashed(QString root)
{
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    return root;
}

}  // namespace

QString SystemVolumes::RootOf(const QString& path)
{
    QStorageInfo si(DeepestExisting(path));
    return Slashed(si.isValid() ? si.rootPath() : QStringLiteral("/"));
}

QString SystemVolumes::CurrentRoot(const QString& root)
{
    return QStorageInfo(root).isValid() ? root : QString();
}

DriveType SystemVolumes::TypeOf(const QString& root)
{
    return QStorageInfo(root).isValid() ? DriveType::Fixed : DriveType::NoRoot;
}

bool SystemVolumes::Query(const QString& root, VolumeState& state, VolumeError& error)
{
    QStorageInfo si(root);
    if (!si.isValid() || !si.isReady()) {
        error = VolumeError::NoMedium;
        return false;
    }
    state.label = si.name();
    state.serial = 0;
    state.free = si.bytesAvailable();
    state.total = si.bytesTotal();
    error = VolumeError::None;
    return true;
}

bool SystemVolumes::Space(const QString& root, qint64& free, qint64& total)
{
    QStorageInfo si(root);
    if (!si.isValid() || !si.isReady())
        return false;
    free = si.bytesAvailable();
    total = si.bytesTotal();
    return true;
}

bool SystemVolumes::SetLabel(const QString&, const QString&)
{
    return false;
}

int SystemVolumes::Format(const QString&, const QString&)
{
    return -3;
}

}  // namespace kos
