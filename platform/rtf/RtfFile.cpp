#include "Rtf.h"

#include "platform/os/Files.h"

#include <QDir>
#include <QFile>
#include <QTextDocument>

namespace krtf {

bool LoadRtfFile(const QString& fileName, QTextDocument& document, QString* error, RtfDamage* damage)
{
    if (damage)
        *damage = RtfDamage::Whole;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        document.clear();
        if (error)
            *error = QStringLiteral("Impossible de lire le fichier « %1 ».").arg(QDir::toNativeSeparators(fileName));
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        document.clear();
        if (error)
            *error = QStringLiteral("Impossible de lire le fichier « %1 ».").arg(QDir::toNativeSeparators(fileName));
        return false;
    }
    const RtfDamage found = ReadRtf(data, document);
    if (damage)
        *damage = found;
    return true;
}

bool SaveRtfFile(const QString& fileName, const QTextDocument& document, QString* error)
{
    return kos::WriteFileWhole(fileName, WriteRtf(document), error);
}

}  // namespace krtf
