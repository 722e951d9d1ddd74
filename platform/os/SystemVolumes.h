#pragma once
// The volumes of this machine, as the mount table and the file systems
// report them.
#include "platform/os/Volumes.h"

namespace kos {

class SystemVolumes : public VolumeService {
public:
    QString RootOf(const QString& path) override;
    QString CurrentRoot(const QString& root) override;
    DriveType TypeOf(const QString& root) override;
    bool Query(const QString& root, VolumeState& state, VolumeError& error) override;
    bool Space(const QString& root, qint64& free, qint64& total) override;
    bool SetLabel(const QString& root, const QString& label) override;
    int Format(const QString& root, const QString& label) override;
};

}  // namespace kos
