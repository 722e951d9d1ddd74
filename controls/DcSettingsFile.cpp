// The settings file of the decorated controls (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include "platform/ui/IniFile.h"

// ---------------------------------------------------------------------------
// Settings file
// ---------------------------------------------------------------------------

TDcRegIniFile::TDcRegIniFile(QObject *owner) : QObject(owner) {}

TDcRegIniFile::~TDcRegIniFile() = default;

void TDcRegIniFile::setPath(const QString &value)
{
    if (StoreChanged(m_path, value))
        m_storageStale = true;
}

void TDcRegIniFile::setPathType(TDcPathType value)
{
    if (StoreChanged(m_pathType, value))
        m_storageStale = true;
}

void TDcRegIniFile::setRegKey(TDcRegKey value)
{
    if (StoreChanged(m_regKey, value))
        m_storageStale = true;
}

void TDcRegIniFile::setRegAccess(TDcRegAccess value)
{
    if (StoreChanged(m_regAccess, value))
        m_storageStale = true;
}

void TDcRegIniFile::setRegistryDirectory(const QString &dir)
{
    if (StoreChanged(m_registryDirectory, dir))
        m_storageStale = true;
}

kui::TIniFile *TDcRegIniFile::Storage()
{
    if (m_storageStale) {
        m_iniStorage.reset();
        m_regStorage.reset();
        m_storageStale = false;
    }
    if (m_path.isEmpty())
        return nullptr;
    if (m_pathType == ptIniFile) {
        if (!m_iniStorage)
            m_iniStorage = std::make_unique<kui::TIniFile>(m_path);
        return m_iniStorage.get();
    }
    if (m_registryDirectory.isEmpty())
        return nullptr;
    if (!m_regStorage) {
        static const char *const roots[] = {"ClassesRoot", "CurrentUser", "LocalMachine", "Users",
                                            "PerformanceData", "CurrentConfig", "DynData"};
        m_regStorage = std::make_unique<kui::TIniFile>(m_registryDirectory + QLatin1Char('/') +
                                                       QLatin1String(roots[m_regKey]) + QLatin1String(".ini"));
    }
    return m_regStorage.get();
}

QString TDcRegIniFile::SectionName(const QString &section) const
{
    if (m_pathType == ptIniFile)
        return section;
    QString key = m_path;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (key.startsWith(QLatin1Char('/')))
        key.remove(0, 1);
    while (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    if (key.isEmpty())
        return section;
    return section.isEmpty() ? key : key + QLatin1Char('/') + section;
}
