#include "EnginePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "platform/db/engine/Engine.h"

namespace dbcheck {

namespace {

// The directory of a database name: an alias's directory, or the name itself.
QString databaseDirectory(const QString& databaseName)
{
    if (kdb::engine::isAlias(databaseName.toStdString()))
        return GetAliasDirectory(databaseName);
    return AddPathDelimiter(databaseName);
}

// The name up to its last dot (the whole name when it has none).
QString withoutExtension(const QString& name)
{
    const int dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

}  // namespace

QString AddPathDelimiter(const QString& path)
{
    if (path.isEmpty() || path.endsWith(u'/'))
        return path;
    return path + u'/';
}

QString GetAliasDirectory(const QString& alias)
{
    const std::string name = alias.toStdString();
    if (!kdb::engine::isAlias(name))
        return {};
    return AddPathDelimiter(QString::fromStdString(kdb::engine::aliasDirectory(name)));
}

int OpenTableResult(const QString& databaseName, const QString& tableName, const QString& driverType, bool exclusive)
{
    const QString directory = databaseDirectory(databaseName);
    try {
        return kdb::engine::openTableResult(
            directory.toStdString(), tableName.toStdString(), driverType.toStdString(), exclusive);
    } catch (const EDBEngineError& e) {
        // The probe answers codes; an engine that raises anyway is answered so.
        return e.code();
    }
}

bool IsIndexFileExtension(const QString& extension)
{
    static const QRegularExpression index(QStringLiteral("^(MDX|NDX|PX|[XY][0-9A-F]{2}|[XY]G[0-9A-F])$"));
    return index.match(extension.toUpper()).hasMatch();
}

bool DeleteTableCompanionFiles(const QString& databaseName, const QString& tableName)
{
    const QString directory = databaseDirectory(databaseName);
    const QString base = withoutExtension(tableName);
    const QDir dir(directory.isEmpty() ? QStringLiteral(".") : directory);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    bool ok = true;
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        const int dot = name.lastIndexOf(u'.');
        if (dot < 0 || name.left(dot).compare(base, Qt::CaseInsensitive) != 0)
            continue;
        if (!IsIndexFileExtension(name.mid(dot + 1)))
            continue;
        if (ok && !QFile::remove(entry.absoluteFilePath()))
            ok = false;
    }
    return ok;
}

}  // namespace dbcheck
