// The service in use, and the system's service.
#include "platform/os/Volumes.h"
#include "platform/os/SystemVolumes.h"

namespace kos {

namespace {
VolumeService* installed = nullptr;
}  // namespace

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
