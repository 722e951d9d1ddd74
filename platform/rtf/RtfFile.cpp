#include "Rtf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextDocument>

#include <fcntl.h>
#include <unistd.h>

namespace krtf {

namespace {

QString Reason(QFileDevice::FileError error, const QString& fileName)
{
    switch (error) {
    case QFileDevice::ResourceError:
        return QStringLiteral("le disque est plein");
    case QFileDevice::PermissionsError:
        return QStringLiteral("accès refusé");
    case QFileDevice::RenameError:
        return QStringLiteral("le fichier existant ne peut pas être remplacé");
    case QFileDevice::WriteError:
        return QStringLiteral("erreur d'écriture sur le disque (disque plein ?)");
    default:
        if (!QFileInfo(QFileInfo(fileName).absolutePath()).isDir())
            return QStringLiteral("le dossier « %1 » n'existe pas")
                .arg(QDir::toNativeSeparators(QFileInfo(fileName).absolutePath()));
        return QStringLiteral("le fichier ne peut pas être créé");
    }
}

void SyncDirectory(const QString& fileName)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(fileName).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

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
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = QStringLiteral("Impossible d'enregistrer le fichier « %1 » : %2.")
                         .arg(QDir::toNativeSeparators(fileName), reason);
        return false;
    };
    // A read-only file stays as it is, whoever runs the program.
    if (QFileInfo::exists(fileName) && !(QFile::permissions(fileName) & QFileDevice::WriteOwner))
        return fail(QStringLiteral("le fichier est en lecture seule"));

    const QByteArray data = WriteRtf(document);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(Reason(file.error(), fileName));
    if (file.write(data) != data.size()) {
        const QFileDevice::FileError e = file.error();
        file.cancelWriting();
        return fail(Reason(e == QFileDevice::NoError ? QFileDevice::WriteError : e, fileName));
    }
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return fail(Reason(QFileDevice::WriteError, fileName));
    }
    if (!file.commit())
        return fail(Reason(file.error(), fileName));
    SyncDirectory(fileName);
    return true;
}

}  // namespace krtf
