// The list files of the program directory: UTF-8 or Windows-1252 on
// reading, the file's own encoding on writing unless a letter would be lost;
// the corpus files (among them what the fuzz target found) read and write
// back without changing their text.
#include "platform/ui/TextFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

using kui::TextEncoding;

TEST(TextFile, Utf8WhenValidElseWindows1252)
{
    TextEncoding found = TextEncoding::Windows1252;
    EXPECT_EQ(kui::DecodeText(QByteArray("\xEF\xBB\xBF") + "CAF\xC3\x89", &found), QStringLiteral("CAFÉ"));
    EXPECT_EQ(found, TextEncoding::Utf8);
    EXPECT_EQ(kui::DecodeText("B\xC9ZIERS \x80 \x9C", &found), QStringLiteral("BÉZIERS € œ"));
    EXPECT_EQ(found, TextEncoding::Windows1252);
    EXPECT_EQ(kui::DecodeLines("A\r\n\r\nB\xC8\nC", &found), (QStringList{"A", QStringLiteral("BÈ"), "C"}));
    EXPECT_EQ(found, TextEncoding::Windows1252);
    EXPECT_EQ(kui::DecodeLines("", &found), QStringList{});
    EXPECT_EQ(found, TextEncoding::Utf8);
}

TEST(TextFile, WritesInTheWantedEncodingUnlessALetterWouldBeLost)
{
    TextEncoding used = TextEncoding::Utf8;
    EXPECT_EQ(
        kui::EncodeText(QStringLiteral("SÈTE €\n"), TextEncoding::Windows1252, &used), QByteArray("S\xC8TE \x80\n"));
    EXPECT_EQ(used, TextEncoding::Windows1252);
    // A letter Windows-1252 lacks: the whole text goes to UTF-8.
    EXPECT_EQ(kui::EncodeText(QStringLiteral("SÈTE\nŁÓDŹ\n"), TextEncoding::Windows1252, &used),
        QStringLiteral("SÈTE\nŁÓDŹ\n").toUtf8());
    EXPECT_EQ(used, TextEncoding::Utf8);
    // Bytes that would read back as UTF-8 ("Ã©" is C3 A9): UTF-8 as well.
    EXPECT_EQ(kui::EncodeText(QStringLiteral("Ã©"), TextEncoding::Windows1252, &used), QStringLiteral("Ã©").toUtf8());
    EXPECT_EQ(used, TextEncoding::Utf8);
    EXPECT_EQ(kui::EncodeText(QStringLiteral("É"), TextEncoding::Utf8, &used), QByteArray("\xC3\x89"));
    EXPECT_EQ(used, TextEncoding::Utf8);
}

TEST(TextFile, CorpusTextsSurviveAWriteAndARead)
{
    const QDir dir(QStringLiteral(KORVALE_SOURCE_DIR "/tests/ui/text-corpus"));
    const QStringList files = dir.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = f.readAll();
        TextEncoding found = TextEncoding::Utf8;
        const QString text = kui::DecodeText(bytes, &found);
        EXPECT_EQ(kui::DecodeText(kui::EncodeText(text, found)), text) << name.toStdString();
        for (const QString& line : kui::DecodeLines(bytes))
            EXPECT_FALSE(line.isEmpty() || line.contains(u'\n')) << name.toStdString();
    }
}

}  // namespace
