#pragma once
// Disks and volumes. There are no drive letters here: the "drive" of a file
// is the mounted volume that holds it, named by its root directory (the
// mount point, with a trailing "/"). The archive code asks this service for
// the kind of drive, the medium in it (label, serial, room), and for the
// preparation of a removable medium (label, format). One service is in use
// at a time: the system's, or one installed by a test.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace kos {

// Kinds of drive, with the numbers the archive code has always used.
enum class DriveType { Unknown = 0, NoRoot = 1, Removable = 2, Fixed = 3, Network = 4, CdRom = 5 };

// What a readable medium tells about itself.
struct VolumeState {
    QString label;
    uint32_t serial = 0;
    qint64 free = -1;  // bytes the caller may still write, -1 when unknown
    qint64 total = -1;  // size of the volume, -1 when unknown
};

// Why Query found no readable medium.
enum class VolumeError { None = 0, NoMedium = 21, Unformatted = 31, Other = 1 };

class VolumeService {
public:
    virtual ~VolumeService() = default;
    // The root of the volume that holds Path ("/" ended). Path need not exist
    // yet: its deepest existing parent decides.
    virtual QString RootOf(const QString& path) = 0;
    // The root under which the medium now in the drive last seen at Root can
    // be reached (a removable medium may be mounted elsewhere after a swap);
    // Root itself when nothing moved, empty when the drive holds no medium.
    virtual QString CurrentRoot(const QString& root) = 0;
    virtual DriveType TypeOf(const QString& root) = 0;
    // Reads the medium in the drive: true with State filled when it is
    // readable, false with Error saying why otherwise.
    virtual bool Query(const QString& root, VolumeState& state, VolumeError& error) = 0;
    // Free and total bytes of the volume; false when they cannot be read.
    virtual bool Space(const QString& root, qint64& free, qint64& total) = 0;
    // Gives the medium a new label; false when it cannot be done.
    virtual bool SetLabel(const QString& root, const QString& label) = 0;
    // Formats the removable medium at Root with a new, empty file system
    // labelled Label. 0 when done, -1 after an error, -2 when the user
    // declined, -3 when this drive cannot be formatted here.
    virtual int Format(const QString& root, const QString& label) = 0;
    // The roots of the mounted volumes a folder may be chosen on, each once:
    // the root of the system, the home folder's volume, then the removable
    // media, CDs and network shares. By default the first two.
    virtual QStringList Roots();
};

// The service in use.
VolumeService& Volumes();
// Puts Service in use (nullptr puts the system's back); returns the previous
// one. The caller keeps ownership.
VolumeService* InstallVolumes(VolumeService* service);

// Installs a service for the lifetime of the object.
class ScopedVolumes {
public:
    explicit ScopedVolumes(VolumeService& service) : previous_(InstallVolumes(&service)) { }
    ~ScopedVolumes() { InstallVolumes(previous_); }
    ScopedVolumes(const ScopedVolumes&) = delete;
    ScopedVolumes& operator=(const ScopedVolumes&) = delete;

private:
    VolumeService* previous_;
};

}  // namespace kos
