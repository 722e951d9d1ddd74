// The settings file of the decorated controls (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include "platform/ui/IniFile.h"

// ---------------------------------------------------------------------------
// Settings file
// ---------------------------------------------------------------------------

TDcRegIniFile::TDcRegIniFile(QObject* owner) : QObject(owner)
{
}

TDcRegIniFile::~TDcRegIniFile() = default;

void TDcRegIniFile::setPath(const QString& value)
{
    if (StoreChanged(path_, value))
        storageStale_ = true;
}

void TDcRegIniFile::setPathType(TDcPathType value)
{
    if (StoreChanged(pathType_, value))
        storageStale_ = true;
}

void TDcRegIniFile::setRegKey(TDcRegKey value)
{
    if (StoreChanged(regKey_, value))
        storageStale_ = true;
}

void TDcRegIniFile::setRegAccess(TDcRegAccess value)
{
    if (StoreChanged(regAccess_, value))
        storageStale_ = true;
}

void TDcRegIniFile::setRegistryDirectory(const QString& dir)
{
    if (StoreChanged(registryDirectory_, dir))
        storageStale_ = true;
}

kui::TIniFile* TDcRegIniFile::Storage()
{
    if (storageStale_) {
        iniStorage_.reset();
        regStorage_.reset();
        storageStale_ = false;
    }
    if (path_.isEmpty())
        return nullptr;
    if (pathType_ == ptIniFile) {
        if (!iniStorage_)
            iniStorage_ = std::make_unique<kui::TIniFile>(path_);
        return iniStorage_.get();
    }
    if (registryDirectory_.isEmpty())
        return nullptr;
    if (!regStorage_) {
        static const char* const roots[] = {
            "ClassesRoot", "CurrentUser", "LocalMachine", "Users", "PerformanceData", "CurrentConfig", "DynData"};
        regStorage_ = std::make_unique<kui::TIniFile>(
            registryDirectory_ + QLatin1Char('/') + QLatin1String(roots[regKey_]) + QLatin1String(".ini"));
    }
    return regStorage_.get();
}

QString TDcRegIniFile::SectionName(const QString& section) const
{
    if (pathType_ == ptIniFile)
        return section;
    QString key = path_;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (key.startsWith(QLatin1Char('/')))
        key.remove(0, 1);
    while (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    if (key.isEmpty())
        return section;
    return section.isEmpty() ? key : key + QLatin1Char('/') + section;
}
