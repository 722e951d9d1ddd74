#include "tests/backup/BackupFixture.h"

#include "app/backup/USaveRestore.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/engine/Engine.h"

void BackupFixture::AddPatients(int first, int count)
{
    auto patients = kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF");
    auto cons = kdb::engine::openTable(DataPath.toStdString(), "Cons.DBF");
    for (int i = first; i < first + count; ++i) {
        const QString code = QString::number(100000 + i);
        patients->append({code, code, QStringLiteral("NOM%1").arg(i), QStringLiteral("Prénom %1").arg(i)});
        cons->append({code, QDate(2020, 1, 1).addDays(i), QStringLiteral("37")});
    }
    patients->flush();
    cons->flush();
}

void BackupFixture::ChangeRows()
{
    auto patients = kdb::engine::openTable(DataPath.toStdString(), "Patient.DBF");
    patients->deleteRecord(1);
    patients->updateFields(2, {{patients->fieldIndex("NOM"), QStringLiteral("CHANGÉ")}});
    patients->flush();
    kdb::Database::of(DataPath.toStdString()).closeIdleTables();
}

void BackupFixture::BackupThroughScreen()
{
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
    screen.DoBackup();
    ASSERT_TRUE(QFileInfo::exists(dest_ + "Korvale.zip"));
}

QMap<QString, QByteArray> BackupFixture::DataFiles()
{
    QMap<QString, QByteArray> files;
    for (const QFileInfo& fi : QDir(DataPath).entryInfoList(QDir::Files)) {
        QFile f(fi.filePath());
        f.open(QIODevice::ReadOnly);
        files.insert(fi.fileName(), f.readAll());
    }
    return files;
}

QStringList BackupFixture::ArchiveNames(const QString& archive)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    p.waitForFinished();
    QStringList names = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}

void BackupFixture::ZipWithTool(const QString& archive, const QStringList& extra, const QString& extraDir)
{
    QStringList args{QStringLiteral("-q"), QStringLiteral("-j"), archive};
    for (const QString& name : QDir(DataPath).entryList(QDir::Files))
        args << DataPath + name;
    for (const QString& name : extra)
        args << extraDir + name;
    ASSERT_EQ(QProcess::execute(QStringLiteral("zip"), args), 0);
}
