// Damaged, truncated and hostile files open as far as they can be read:
// the files of corpus/ (among them what the fuzz target found), every cut
// of a sound file, and files built to hurt.
#include "platform/rtf/Rtf.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTextDocument>

#include <random>

namespace {

// Reads the data, writes what was read and reads that again: the second
// reading is whole and gives the same text.
QString ReadAndRewrite(const QByteArray& data, krtf::RtfDamage* damage = nullptr)
{
    QTextDocument doc;
    const krtf::RtfDamage found = krtf::ReadRtf(data, doc);
    if (damage)
        *damage = found;
    QTextDocument again;
    EXPECT_EQ(krtf::ReadRtf(krtf::WriteRtf(doc), again), krtf::RtfDamage::Whole);
    EXPECT_EQ(again.toPlainText().toStdString(), doc.toPlainText().toStdString());
    return doc.toPlainText();
}

const QByteArray kSound = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Verdana;}}"
                          "{\\colortbl ;\\red0\\green0\\blue255;}\\uc1\\pard\\f0\\fs16 Incision m\\'e9diane\\par"
                          "{\\b\\i suture \\u8364?} \\cf1 fin\\tab x\\line y\\par}";

}  // namespace

TEST(RtfDamage, CorpusFilesOpen)
{
    TestApplication();
    const QDir dir(KORVALE_RTF_TEST_DIR "/corpus");
    const QStringList files = dir.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        SCOPED_TRACE(name.toStdString());
        krtf::RtfDamage damage;
        ReadAndRewrite(f.readAll(), &damage);
        if (name.startsWith("damaged-")) {
            EXPECT_NE(damage, krtf::RtfDamage::Whole);
        }
    }
}

// What the reader says of damaged data, and what it keeps of it.
TEST(RtfDamage, DamageIsReportedWithWhatCouldBeRead)
{
    TestApplication();
    using krtf::RtfDamage;
    const auto read = [](const QByteArray& data, RtfDamage expected) {
        RtfDamage damage;
        const QString text = ReadAndRewrite(data, &damage);
        EXPECT_EQ(damage, expected) << data.left(60).toStdString();
        return text;
    };
    const auto corpus = [](const char* name) {
        QFile f(QString(KORVALE_RTF_TEST_DIR "/corpus/") + name);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        return f.readAll();
    };
    // Whole: a sound file, what the writer writes, an empty file.
    read(kSound, RtfDamage::Whole);
    read("", RtfDamage::Whole);
    read(" \r\n", RtfDamage::Whole);
    read("{\\rtf1 a}\r\n", RtfDamage::Whole);
    // Plain text, in Windows-1252 or UTF-8.
    EXPECT_EQ(read(corpus("damaged-plain-text.rtf"), RtfDamage::NotRtf),
        QString::fromUtf8("Incision médiane sus-ombilicale.\nFermeture plan par plan.\n"));
    EXPECT_EQ(read("Plaie suturée\n", RtfDamage::NotRtf), QString::fromUtf8("Plaie suturée\n"));
    // A group that is no RTF document.
    read("{\"num\": 3}", RtfDamage::NotRtf);
    // Binary data: its readable runs only, no control characters.
    const QString binary = read(corpus("damaged-binary.rtf"), RtfDamage::Binary);
    EXPECT_TRUE(binary.contains(QString::fromUtf8("Compte rendu opératoire"))) << binary.toStdString();
    for (const QChar c : binary)
        EXPECT_TRUE(c == u'\n' || c.unicode() >= 0x20) << int(c.unicode());
    // Cut in a group, in a control word, in an escape, in \bin data.
    EXPECT_EQ(read(corpus("damaged-truncated.rtf"), RtfDamage::Truncated),
        QString::fromUtf8("Incision médiane\nFermeture plan par plan\nDrain de Re"));
    EXPECT_EQ(read(corpus("damaged-cut-control-word.rtf"), RtfDamage::Truncated),
        QString::fromUtf8("Suture cutanée\nPansement sec"));
    read("{\\rtf1 a}\\", RtfDamage::Truncated);
    read("{\\rtf1 a\\'e", RtfDamage::Truncated);
    read("{\\rtf1 a\\bin99 xy}", RtfDamage::Truncated);
    // Every cut of a sound file before its last brace.
    for (int n = 1; n < kSound.size(); ++n)
        read(kSound.left(n), RtfDamage::Truncated);
    // Braces that close nothing, escapes that are no bytes.
    EXPECT_EQ(read(corpus("damaged-extra-braces.rtf"), RtfDamage::Broken), "a b");
    read("{\\rtf1 x\\'zz}", RtfDamage::Broken);
}

TEST(RtfDamage, TruncatedFileKeepsWhatCameBeforeTheCut)
{
    TestApplication();
    const QString whole = ReadAndRewrite(kSound);
    ASSERT_EQ(whole, QString::fromUtf8("Incision médiane\nsuture € fin\tx\ny"));
    for (int n = 0; n < kSound.size(); ++n) {
        const QString part = ReadAndRewrite(kSound.left(n));
        // Text only ever grows with the cut, and never shows control words.
        EXPECT_FALSE(part.contains('\\')) << n;
        EXPECT_LE(part.size(), whole.size() + 1) << n;
    }
    // Cut in the middle of the second paragraph: the first one is whole.
    EXPECT_TRUE(ReadAndRewrite(kSound.left(kSound.indexOf("suture") + 3))
                    .startsWith(QString::fromUtf8("Incision médiane\nsut")));
}

TEST(RtfDamage, HostileFilesOpen)
{
    TestApplication();
    // Unbalanced braces: extra closing ones are ignored, missing ones end
    // the groups.
    EXPECT_EQ(ReadAndRewrite("{\\rtf1 a}}}} b{{{{\\b c"), "a bc");
    // Very deep nesting.
    QByteArray deep = "{\\rtf1 ";
    deep += QByteArray(200000, '{') + "profond" + QByteArray(200000, '}') + " fin}";
    EXPECT_EQ(ReadAndRewrite(deep), "profond fin");
    // Huge numbers and long words.
    EXPECT_EQ(ReadAndRewrite("{\\rtf1\\fs99999999999999999999 a\\li-99999999999 b\\uc1\\u99999999999 c"
                             "\\f-2147483648 d\\" +
                  QByteArray(100000, 'x') + "12 e\\bin99999999999}"),
        QString("ab") + QChar(0xFFFD) + "de");
    // \bin data with braces and backslashes inside.
    EXPECT_EQ(ReadAndRewrite("{\\rtf1 a{\\*\\blip\\bin6 }}{\\x}}b}"), "ab");
    EXPECT_EQ(ReadAndRewrite(QByteArray("{\\rtf1 a\\bin4 \x00\x01}\\b}", 20)), "ab");
    // A colour and a font that are not in their tables.
    EXPECT_EQ(ReadAndRewrite("{\\rtf1{\\colortbl;}\\cf200\\f77 x\\'zz\\'4}"), "xzz4");
    // Random bytes after a sound start, with a fixed seed.
    std::mt19937 rng(20260);
    for (int round = 0; round < 200; ++round) {
        QByteArray data = kSound;
        for (int k = 0; k < 8; ++k)
            data[static_cast<int>(rng() % data.size())] = static_cast<char>(rng() % 256);
        ReadAndRewrite(data);
    }
}
