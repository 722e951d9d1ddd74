// TZipArchiver: the disks of a multi-volume archive. Drive is the root of
// the volume that holds the set ("/" ended); on a removable drive the user
// (or OnGetNextDisk) swaps disks, each labelled "PKBACK# " and its number.
#include "zip/ZipArch.h"
#include "zip/ZipRecords.h"

#include "platform/os/Volumes.h"
#include "platform/ui/Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstring>

using ziprec::FixedOrNetwork;

namespace {

// A table text with one or two numbers ("%.1d", "%d").
QString Numbers(const QString& text, int a, int b = 0)
{
    return QString::asprintf(text.toUtf8().constData(), a, b);
}

}  // namespace

QString TZipArchiver::AppendSlash(const QString& dir)
{
    return dir.isEmpty() || dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString TZipArchiver::SlashToBackslash(const QString& name)
{
    return QString(name).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString TZipArchiver::BufferToString(const char* buffer, int n)
{
    const int used = int(strnlen(buffer, size_t(qMax(n, 0))));
    return QString::fromLocal8Bit(buffer, used) + QString(n - used, QChar(0));
}

QString TZipArchiver::VolumeDigits(int diskNr)
{
    return QString::number(diskNr + 1001).mid(1, 3);
}

QString TZipArchiver::NumberedName(const QString& name, int diskNr)
{
    const ziprec::NumberField field(name);
    return name.left(field.end) + VolumeDigits(diskNr) + name.mid(field.end);
}

void TZipArchiver::DiskFreeAndSize(int which)
{
    qint64 free = -1, total = -1;
    if (!kos::Volumes().Space(Drive, free, total))
        free = total = -1;
    if (which & 1)
        DiskFree = free;
    if (which & 2)
        DiskSize = total;
}

bool TZipArchiver::CheckForDisk()
{
    DiskSize = 0;
    VolumeLabel.clear();
    if (Drive.isEmpty() || QDir::isRelativePath(Drive))
        throw EZipArchiver::CreateResFmtStr(11003, Drive);
    kos::VolumeService& volumes = kos::Volumes();
    const kos::DriveType type = volumes.TypeOf(Drive);
    if (type == kos::DriveType::NoRoot)
        throw EZipArchiver::CreateResFmtStr(11004, Drive);
    kos::VolumeState state;
    kos::VolumeError error = kos::VolumeError::None;
    if (volumes.Query(Drive, state, error)) {
        VolumeLabel = state.label;
        VolumeSerial = state.serial;
        DiskFreeAndSize(3);
        return type == kos::DriveType::Network || DiskSize != -1;
    }
    return error == kos::VolumeError::Unformatted && AddOptions.Has(AddDiskSpanErase);
}

// A removable medium may come back under another root after a swap: the
// names of the set follow it, relative to the drive.
void TZipArchiver::FollowMedium()
{
    const QString now = kos::Volumes().CurrentRoot(Drive);
    if (now.isEmpty() || now == Drive)
        return;
    for (QString* name : {&InFileName, &SpanOutName})
        if (name->startsWith(Drive))
            *name = now + name->mid(Drive.size());
    Drive = now;
}

kos::DriveType TZipArchiver::AskForDisk(bool forWriting)
{
    QCoreApplication::processEvents();
    const kos::DriveType type = kos::Volumes().TypeOf(Drive);
    bool ok = true;
    while ((ok && !CheckForDisk()) || NewDiskWanted) {
        if (FixedOrNetwork(type)) {
            NewDiskWanted = false;
            break;
        }
        if (Unattended)
            throw EZipArchiver::CreateResDisp(11025, true);
        kui::MsgKind kind = kui::MsgKind::Plain;
        QString text;
        if (DiskNr < 0) {
            text = LoadZipStr(11033, QStringLiteral("Please insert last disk in set"));
            kind = kui::MsgKind::Error;
        } else if (forWriting) {
            qint64 size = DiskSize;
            if (MaxVolumeSize != 0 && MaxVolumeSize < DiskSize)
                size = MaxVolumeSize;
            TotalDisks = DiskNr;
            if (size > 0) {
                const qint64 estimate = (FileSize + 4 + KeepFreeOnDisk1) / size;
                if (DiskNr < estimate)
                    TotalDisks = int(estimate);
                text = Numbers(LoadZipStr(11034, QStringLiteral("Please insert disk volume %.1d of %.1d")), DiskNr + 1,
                    TotalDisks + 1);
            } else {
                text = Numbers(LoadZipStr(11046, QStringLiteral("Please insert disk volume %.1d")), DiskNr + 1);
            }
        } else {
            text = Numbers(LoadZipStr(11034, QStringLiteral("Please insert disk volume %.1d of %.1d")), DiskNr + 1,
                TotalDisks + 1);
        }
        text += LoadZipStr(11035, QStringLiteral("\r\nin drive: %s")).replace(QLatin1String("%s"), Drive);
        if (OnGetNextDisk) {
            bool abort = false;
            OnGetNextDisk(this, DiskNr + 1, TotalDisks + 1, Drive, abort);
            ok = !abort;
        } else {
            ok = kui::ShowMessageBox(kind, text, QMessageBox::Ok | QMessageBox::Cancel,
                     kui::DefaultCaption(kui::MsgKind::Plain), qobject_cast<QWidget*>(parent())) == QMessageBox::Ok;
        }
        NewDiskWanted = false;
        if (ok)
            FollowMedium();
    }
    if (!ok)
        throw EZipArchiver::CreateResDisp(11007, false);
    return type;
}

void TZipArchiver::GetNewDisk(int diskSeq)
{
    InHandle.reset();
    DiskNr = diskSeq;
    for (;;) {
        kos::DriveType type;
        do {
            NewDiskWanted = true;
            type = AskForDisk(false);
        } while (!IsRightDisk(type));
        InHandle = std::make_unique<QFile>(InFileName);
        if (InHandle->open(QIODevice::ReadOnly))
            return;
        InHandle.reset();
        // the volume the set lacks, by its name
        if (FixedOrNetwork(type))
            throw EZipArchiver::CreateResDispFile(11001, InFileName);
        ShowZipMessage(11001, QStringLiteral(" : ") + InFileName);
    }
}

bool TZipArchiver::IsRightDisk(kos::DriveType type)
{
    if (FixedOrNetwork(type) || type == kos::DriveType::CdRom) {
        const ziprec::NumberField field(InFileName);
        const QString numbered = InFileName.left(field.start) + VolumeDigits(DiskNr) + InFileName.mid(field.end);
        // a split set made by another tool: NAME.z01, NAME.z02 ... and NAME.zip the last
        const QFileInfo fi(InFileName);
        const QString suffix = fi.suffix();
        bool digits = suffix.size() >= 3 && suffix.front().toLower() == QLatin1Char('z');
        for (qsizetype i = 1; digits && i < suffix.size(); ++i)
            digits = suffix[i].isDigit();
        const QString base = fi.path() + QLatin1Char('/') + fi.completeBaseName() + QLatin1Char('.');
        if ((digits || suffix.compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0) &&
            !QFileInfo::exists(numbered) && QFileInfo::exists(base + QStringLiteral("z01"))) {
            if (DiskNr < TotalDisks)
                InFileName = base + QStringLiteral("z%1").arg(DiskNr + 1, 2, 10, QLatin1Char('0'));
            else if (!digits)
                InFileName = fi.filePath();
            else
                InFileName = base + QStringLiteral("zip");
            return true;
        }
        InFileName = numbered;
        return true;
    }
    return VolumeLabel == QLatin1String("PKBACK# ") + VolumeDigits(DiskNr);
}

int TZipArchiver::ClearFloppy()
{
    int r = -3;
    if (FormatErase)
        r = FormatFloppy(Drive);
    if (r == -3) {
        if (kui::ShowMessageBox(kui::MsgKind::Warning, QStringLiteral("Erase ") + Drive,
                QMessageBox::Yes | QMessageBox::No, QStringLiteral("Confirm"), qobject_cast<QWidget*>(parent()),
                QMessageBox::No) != QMessageBox::Yes)
            return -2;
        EraseFloppyFiles(Drive);
        r = 0;
    }
    if (r == 0)
        kos::Volumes().SetLabel(Drive, VolumeLabel.left(11));
    return r;
}

int TZipArchiver::FormatFloppy(const QString& drive)
{
    if (drive.isEmpty() || kos::Volumes().TypeOf(drive) != kos::DriveType::Removable)
        return -3;
    return kos::Volumes().Format(drive, VolumeLabel.left(11));
}

void TZipArchiver::EraseFloppyFiles(const QString& dir)
{
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
        QString full = dir + fi.fileName();
        if (fi.isDir() && !fi.isSymLink()) {
            full += QLatin1Char('/');
            EraseFloppyFiles(full);
            TraceMessage(QStringLiteral("EraseFloopy - Removing ") + full);
            QCoreApplication::processEvents();
            QDir().rmdir(full);
        } else if (fi.absoluteFilePath() != QFileInfo(InFileName).absoluteFilePath()) {
            // the archive being split stays, should it lie on the disk
            TraceMessage(QStringLiteral("EraseFloopy - Deleting ") + full);
            QFile::remove(full);
        }
    }
}
