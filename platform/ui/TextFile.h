#pragma once
// Plain-text files of the program directory (one entry a line) as older
// installations left them: UTF-8, or Windows-1252.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kui {

enum class TextEncoding { Utf8, Windows1252 };

// The text of a file's bytes: UTF-8 when they are valid UTF-8 (a leading
// byte-order mark dropped), else Windows-1252, where every byte is a
// character; *found tells which.
QString DecodeText(const QByteArray& bytes, TextEncoding* found = nullptr);

// The bytes of a text in the encoding wanted; Windows-1252 only when it
// holds every character of the text, else UTF-8 (*used tells which), so no
// letter is ever lost.
QByteArray EncodeText(const QString& text, TextEncoding wanted, TextEncoding* used = nullptr);

// The lines of a file's bytes, decoded as above (line ends "\n" or
// "\r\n"); empty lines are dropped.
QStringList DecodeLines(const QByteArray& bytes, TextEncoding* found = nullptr);

}  // namespace kui
