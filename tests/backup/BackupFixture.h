#pragma once
// A practice with its nine tables and a few rows, a trash of its own, and
// the helpers of the backup tests: the table files as bytes, the listing of
// an archive by the outside unzip.
#include "app/global/global.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPractice.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

// The helper program of the backup tests (RestoreChild.cpp): another
// workstation, or a program killed midway.
inline const QString kChild = QStringLiteral(KORVALE_BINARY_DIR "/tests/backup/backup_test_child");

class BackupFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(practice_.root() + "/share");
        practice_.CreateTables();
        AddPatients(0, 40);
        dest_ = practice_.root() + "/dest/";
        QDir().mkpath(dest_);
    }

    // Appends patients first..first+count-1 (one consultation each).
    void AddPatients(int first, int count);
    // Deletes the first patient and changes the name of the second.
    void ChangeRows();
    // A backup of the practice into dest_ ("Korvale.zip") through the screen.
    void BackupThroughScreen();

    // The files of the data directory (not the sub-directories), by name.
    static QMap<QString, QByteArray> DataFiles();
    // The entry names of an archive as the outside unzip lists them.
    static QStringList ArchiveNames(const QString& archive);
    // An archive of the data directory's table files (plus `extra` files of
    // `extraDir`) made by the outside zip.
    static void ZipWithTool(const QString& archive, const QStringList& extra = {}, const QString& extraDir = {});

    TempPractice practice_;
    ScopedEnv trash_{"XDG_DATA_HOME", practice_.root() + "/share"};
    kui::RecordingMessageService& messages_ = practice_.messages();
    QString dest_;
};
