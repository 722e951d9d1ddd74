#pragma once
// The zip records' fields and signatures (shared with the archive
// libraries), the number in a volume file's name, and the drive of a file.
#include "platform/os/Volumes.h"
#include "platform/zipeng/ZipCore.h"

#include <QFileInfo>
#include <QString>

namespace ziprec {

using zipeng::Get16;
using zipeng::Get32;
using zipeng::kCentralSig;
using zipeng::kEndSig;
using zipeng::kLocalSig;
using zipeng::Put16;
using zipeng::Put32;
constexpr uint32_t kSpanSig = zipeng::kDescriptorSig;  // also the first 4 bytes of the first volume of a set

// Where the three digits of a volume file's number lie in Name: the three
// characters before the extension (fewer when the base name is shorter).
struct NumberField {
    int start = 0;
    int end = 0;  // the extension's dot, or the end of the name
    explicit NumberField(const QString& name)
    {
        const int slash = int(name.lastIndexOf(QLatin1Char('/')));
        end = int(name.lastIndexOf(QLatin1Char('.')));
        if (end <= slash + 1)
            end = int(name.size());
        start = end - 3 > slash + 1 ? end - 3 : slash + 1;
    }
};

// Volume files on these drives are numbered files side by side; elsewhere
// each disk holds the archive under its own name.
inline bool FixedOrNetwork(kos::DriveType type)
{
    return type == kos::DriveType::Fixed || type == kos::DriveType::Network;
}

// The root of the volume that holds File's folder.
inline QString DriveOf(const QString& file)
{
    return kos::Volumes().RootOf(QFileInfo(file).absolutePath());
}

}  // namespace ziprec
