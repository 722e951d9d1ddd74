#pragma once
// TIcon: the program icon of a self-extracting archive, kept as the bytes of
// an icon file (header, directory of images, images) so that it saves back
// exactly as it was loaded, 16-colour images included.
#include <QByteArray>
#include <QString>

class QIODevice;

class TIcon {
public:
    bool Empty() const { return data_.isEmpty(); }
    // Reads an icon file; false (and the icon unchanged) when the file cannot
    // be read or is no icon file.
    bool LoadFromFile(const QString& path);
    // The same from bytes held in memory.
    bool LoadFromBytes(const QByteArray& bytes);
    void SaveToStream(QIODevice& stream) const;
    QByteArray Bytes() const { return data_; }
    void Assign(const TIcon& other) { data_ = other.data_; }
    void Clear() { data_.clear(); }

private:
    QByteArray data_;
};
