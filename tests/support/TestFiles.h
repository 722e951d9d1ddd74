#pragma once
// Small files made by the tests.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes `content` into a new (or emptied) file; a file that cannot be
// written fails the test.
inline void Touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(content);
}
