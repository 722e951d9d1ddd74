#pragma once
#include <QString>
#include <QStringList>

namespace kui {

// A settings file of sections in brackets and key=value lines, stored as
// UTF-8 text. Every operation opens the file, does its work and releases it;
// nothing is cached. Section and key names are compared without regard to
// case. Reads never fail: a missing file, section or key gives the default.
// Writes keep every other line (other sections, other keys, comments) in its
// place and replace the file atomically (a temporary file renamed over it).
class TIniFile {
public:
    explicit TIniFile(const QString& fileName) : fileName_(fileName) { }

    const QString& FileName() const { return fileName_; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    // Decimal text; missing or not a whole number gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Read as an integer; any value other than 0 is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Write operations return false when the file could not be written.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);  // "1" or "0"

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSections() const;
    QStringList ReadSection(const QString& section) const;  // key names, in file order
    bool EraseSection(const QString& section);
    bool DeleteKey(const QString& section, const QString& key);

private:
    QString fileName_;
};

}  // namespace kui
