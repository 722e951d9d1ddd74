#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kui {

// A settings file of sections in brackets and key=value lines, stored as
// UTF-8 text. Every operation opens the file, does its work and releases it;
// nothing is cached. Section and key names are compared without regard to
// case. Reads never fail: a missing file, section or key gives the default.
// Writes keep every other line (other sections, other keys, comments) in its
// place and replace the file whole or not at all (a temporary file forced to
// the disk, then renamed over it): a full disk leaves the previous file.
class TIniFile {
public:
    explicit TIniFile(const QString& fileName) : fileName_(fileName) { }

    const QString& FileName() const { return fileName_; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    // Decimal text; missing or not a whole number gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Read as an integer; any value other than 0 is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Write operations return false when the file could not be written;
    // ErrorText() then says why in French, naming the file.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);  // "1" or "0"
    // Several keys of one section in one write: all of them or none.
    bool WriteStrings(const QString& section, const QList<QPair<QString, QString>>& entries);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSections() const;
    QStringList ReadSection(const QString& section) const;  // key names, in file order
    bool EraseSection(const QString& section);
    bool DeleteKey(const QString& section, const QString& key);

    const QString& ErrorText() const { return error_; }

private:
    QString fileName_;
    QString error_;
};

}  // namespace kui
