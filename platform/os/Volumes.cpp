// The service in use, and the system's service.
#include "platform/os/Volumes.h"
#include "platform/os/SystemVolumes.h"

#include <QDir>

namespace kos {

namespace {
VolumeService* installed = nullptr;
}  // namespace

QStringList VolumeService::Roots()
{
    QStringList roots{QStringLiteral("/")};
    const QString home = RootOf(QDir::homePath());
    if (!home.isEmpty() && !roots.contains(home))
        roots << home;
    return roots;
}

VolumeService& Volumes()
{
    if (installed)
        return *installed;
    static SystemVolumes system;
    return system;
}

VolumeService* InstallVolumes(VolumeService* service)
{
    VolumeService* previous = installed;
    installed = service;
    return previous;
}

}  // namespace kos
