// TZipArchiver: multi-volume archives. WriteSpan copies a single-file
// archive record by record onto the volumes of a set (the zip format's own
// split form: a spanning signature first, disk numbers in the central
// directory and the end record); ReadSpan joins such a set back into one
// file. Headers never straddle two volumes when written; data may.
#include "zip/ZipArch.h"
#include "zip/ZipRecords.h"

#include "platform/os/SystemError.h"
#include "platform/os/Volumes.h"
#include "platform/ui/Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <cstring>
#include <new>

using namespace ziprec;

namespace {

// The fields of a TMZipDataList record.
constexpr int kRecVolume = 0;  // 16-bit: volume of the local header
constexpr int kRecOffset = 2;  // 32-bit: its offset in that volume (or the joined file)
constexpr int kRecNameLength = 6;  // 16-bit
constexpr int kRecName = 10;  // zero-terminated, 255 characters kept
constexpr int kRecNameRoom = 255;
constexpr int kRecCompressed = 268;  // 32-bit: compressed size from the central directory

constexpr qint64 kBlock = 8192;

// The table's lookup by name in one step: not case-sensitive, on the 255
// characters the table keeps, the first of equal names winning (as
// TMZipDataList::IndexOf, which would scan the table for every entry).
class NameIndex {
public:
    void Add(const QByteArray& name, int index)
    {
        const QString key = Key(name);
        if (!index_.contains(key))
            index_.insert(key, index);
    }
    int Find(const QByteArray& name) const
    {
        const auto it = index_.constFind(Key(name));
        if (it == index_.cend())
            throw EZipArchiver::CreateResDisp(11026, true);
        return *it;
    }

private:
    static QString Key(const QByteArray& name)
    {
        return TZipArchiver::BufferToString(name.constData(), int(qMin<qsizetype>(name.size(), kRecNameRoom)))
            .section(QChar(0), 0, 0)
            .toCaseFolded();
    }
    QHash<QString, int> index_;
};

// The fixed part of the next central directory header (46 bytes, into h)
// and the entry's name that follows it.
QByteArray ReadCentralHeader(QIODevice& in, unsigned char* h)
{
    if (in.read(reinterpret_cast<char*>(h), 46) != 46)
        throw EZipArchiver::CreateResDisp(11013, true);
    if (Get32(h) != kCentralSig)
        throw EZipArchiver::CreateResDisp(11015, true);
    QByteArray name = in.read(Get16(h + 28));
    if (name.size() != Get16(h + 28))
        throw EZipArchiver::CreateResDisp(11017, true);
    return name;
}

void KeepName(unsigned char* rec, const QByteArray& name)
{
    Put16(rec + kRecNameLength, uint16_t(name.size()));
    std::memcpy(rec + kRecName, name.constData(), size_t(qMin<qsizetype>(name.size(), kRecNameRoom)));
}

QString ShownName(const QByteArray& name)
{
    return TZipArchiver::SlashToBackslash(QString::fromLocal8Bit(name));
}

void Fire(TZipArchiver& z, ProgressType type, const QString& name, qint64 size)
{
    if (z.OnProgress)
        z.OnProgress(&z, type, name, size);
}

bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo fa(a), fb(b);
    return fa.exists() && fb.exists() && fa.canonicalFilePath() == fb.canonicalFilePath();
}

bool SameStamp(const QDateTime& a, const QDateTime& b)
{
    return a.isValid() && b.isValid() && a.toSecsSinceEpoch() == b.toSecsSinceEpoch();
}

// Reports the exception being handled: -7 for an error of the component,
// -8 when memory ran out, -9 for anything else.
int Reported(TZipArchiver& z)
{
    try {
        throw;
    } catch (const EZipArchiver& e) {
        z.ShowExceptionError(e);
        return -7;
    } catch (const std::bad_alloc&) {
        z.ShowZipMessage(10103);
        return -8;
    } catch (const std::exception& e) {
        z.ShowZipMessage(11024, QStringLiteral(" : ") + QString::fromStdString(kos::ExceptionReason(e)));
        return -9;
    } catch (...) {
        z.ShowZipMessage(11024);
        return -9;
    }
}

}  // namespace

// ---------------------------------------------------------------- writing

int TZipArchiver::WriteSpan(const QString& inFile, const QString& outFile)
{
    ZipBusy = true;
    SpanOutName = QFileInfo(outFile).absoluteFilePath();
    Drive = DriveOf(SpanOutName);
    DiskNr = 0;
    DiskFree = 0;
    NewDiskWanted = true;
    BytesOnVolume = 0;
    InFileName = inFile;
    SpanOutHandle.reset();
    ShowProgress = false;
    StartWaitCursor();
    int result = 0;
    std::unique_ptr<TMZipDataList> table;
    spanWritten_.clear();
    try {
        if (!QFileInfo(inFile).isFile())
            throw EZipArchiver::CreateResDispFile(11001, inFile);
        unsigned char end[22];
        CheckIfLastDisk(end, true);
        QFile& in = *InHandle;
        SpanDateStamp = in.fileTime(QFileDevice::FileModificationTime);
        if (!in.seek(0))
            throw EZipArchiver::CreateResDisp(11008, true);
        const int total = Get16(end + 10);
        const qint64 cdSize = Get32(end + 12);
        const int commentLength = Get16(end + 20);
        table = std::make_unique<TMZipDataList>(total);

        // The directory first: it holds the size of every entry's data, which
        // an entry followed by a data descriptor (an encrypted one) leaves out
        // of its local header. Its entries are found again by the offset of
        // their local header.
        const qint64 cdStart = ZipEOC - cdSize;
        const qint64 shift = cdStart - qint64(Get32(end + 16));
        if (cdStart < 0 || !in.seek(cdStart))
            throw EZipArchiver::CreateResDisp(11008, true);
        QHash<qint64, int> byOffset;
        for (int i = 0; i < total; ++i) {
            unsigned char h[46];
            const QByteArray name = ReadCentralHeader(in, h);
            if (!in.seek(in.pos() + Get16(h + 30) + Get16(h + 32)))
                throw EZipArchiver::CreateResDisp(11008, true);
            unsigned char* rec = table->GetItem(i);
            KeepName(rec, name);
            Put32(rec + kRecCompressed, Get32(h + 20));
            byOffset.insert(qint64(Get32(h + 42)) + shift, i);
        }
        if (!in.seek(0))
            throw EZipArchiver::CreateResDisp(11008, true);

        unsigned char sig[4];
        Put32(sig, kSpanSig);
        WriteSplit(reinterpret_cast<const char*>(sig), 4, 0);
        ShowProgress = true;
        Fire(*this, TotalFiles2Process, QString(), total);
        Fire(*this, TotalSize2Process, QString(), FileSize);

        const QString copying = LoadZipStr(10105, QStringLiteral("Copying: "));
        for (int i = 0; i < total; ++i) {
            const auto found = byOffset.constFind(in.pos());
            if (found == byOffset.cend())
                throw EZipArchiver::CreateResDisp(11026, true);
            unsigned char* rec = table->GetItem(*found);
            unsigned char h[30];
            if (in.read(reinterpret_cast<char*>(h), 30) != 30)
                throw EZipArchiver::CreateResDisp(11012, true);
            if (Get32(h) != kLocalSig)
                throw EZipArchiver::CreateResDisp(11014, true);
            const int nameLength = Get16(h + 26), extraLength = Get16(h + 28);
            const QByteArray name = in.read(nameLength);
            if (name.size() != nameLength)
                throw EZipArchiver::CreateResDisp(11016, true);
            const bool descriptor = Get16(h + 6) & 8;
            const qint64 compressed = Get32(rec + kRecCompressed);
            // a descriptor has its signature, or not
            qint64 descriptorLength = 0;
            if (descriptor) {
                const qint64 data = in.pos() + extraLength;
                unsigned char d[4];
                descriptorLength = in.seek(data + compressed) && in.read(reinterpret_cast<char*>(d), 4) == 4 &&
                        Get32(d) == zipeng::kDescriptorSig
                    ? 16
                    : 12;
                if (!in.seek(data - extraLength))
                    throw EZipArchiver::CreateResDisp(11008, true);
            }
            const QString shown = ShownName(name);
            if (OnMessage)
                OnMessage(this, 0, copying + shown);
            Fire(*this, NewFile, shown, 30 + nameLength + extraLength + compressed + descriptorLength);
            WriteSplit(reinterpret_cast<const char*>(h), 30, 30 + nameLength + extraLength);
            Put16(rec + kRecVolume, uint16_t(DiskNr));
            Put32(rec + kRecOffset, uint32_t(BytesOnVolume - 30));
            WriteSplit(name.constData(), nameLength, 0);
            RWSplitData(extraLength, 11018);
            RWSplitData(compressed, 11021);
            RWSplitData(descriptorLength, 11020);
        }

        const QString central = LoadZipStr(11047, QStringLiteral("Central directory"));
        if (OnMessage)
            OnMessage(this, 0, copying + central);
        Fire(*this, NewFile, central, cdSize + 22 + commentLength);
        if (!in.seek(ZipEOC - cdSize))
            throw EZipArchiver::CreateResDisp(11008, true);
        int cdDisk = DiskNr;
        qint64 cdOffset = BytesOnVolume;
        for (int i = 0; i < total; ++i) {
            unsigned char h[46];
            const QByteArray name = ReadCentralHeader(in, h);
            const int nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLen = Get16(h + 32);
            const unsigned char* rec = table->GetItem(i);
            Put16(h + 34, Get16(rec + kRecVolume));
            Put32(h + 42, Get32(rec + kRecOffset));
            WriteSplit(reinterpret_cast<const char*>(h), 46, 46 + nameLength + extraLength + commentLen);
            if (i == 0) {
                cdDisk = DiskNr;
                cdOffset = BytesOnVolume - 46;
            }
            WriteSplit(name.constData(), nameLength, 0);
            RWSplitData(extraLength, 11019);
            RWSplitData(commentLen, 11022);
        }

        // the end record goes where it fits with the comment, and names that volume
        WriteSplit(nullptr, 0, 22 + commentLength);
        Put16(end + 4, uint16_t(DiskNr));
        Put16(end + 6, uint16_t(cdDisk));
        Put32(end + 16, uint32_t(cdOffset));
        WriteSplit(reinterpret_cast<const char*>(end), 22, 22 + commentLength);
        if (!in.seek(ZipEOC + 22))
            throw EZipArchiver::CreateResDisp(11008, true);
        RWSplitData(commentLength, 11023);
        ShowProgress = false;
        CloseVolume(true);
    } catch (...) {
        result = Reported(*this);
    }
    ShowProgress = false;
    Fire(*this, EndOfBatch, QString(), 0);
    table.reset();
    const QString partial = SpanOutHandle ? SpanOutHandle->fileName() : QString();
    CloseVolume(false);
    if (result != 0) {
        // a set that failed restores nothing: its numbered files go; of a set
        // on disks, the volume left half written on the disk in the drive
        if (FixedOrNetwork(kos::Volumes().TypeOf(Drive))) {
            for (const QString& name : std::as_const(spanWritten_))
                QFile::remove(name);
        } else if (!partial.isEmpty()) {
            QFile::remove(partial);
        }
    }
    spanWritten_.clear();
    InHandle.reset();
    ZipBusy = false;
    StopWaitCursor();
    return result;
}

void TZipArchiver::WriteSplit(const char* buffer, qint64 length, qint64 minRoom)
{
    for (;;) {
        QCoreApplication::processEvents();
        if (Cancel)
            throw EZipArchiver::CreateResDisp(11007, false);
        if (!SpanOutHandle)
            OpenVolume();
        if (minRoom > 0 && minRoom > DiskFree) {
            // a fresh numbered file that cannot hold the group: every next one would be as small
            if (BytesOnVolume == 0 && FixedOrNetwork(kos::Volumes().TypeOf(Drive)))
                throw EZipArchiver::CreateResDisp(11032, true);
            CloseVolume(true);
            BytesOnVolume = 0;
            NewDiskWanted = true;
            ++DiskNr;
            continue;
        }
        const qint64 n = qMax<qint64>(0, qMin(length, DiskFree));
        if (n > 0 && SpanOutHandle->write(buffer, n) != n)
            throw EZipArchiver::CreateResDisp(11010, true);
        if (ShowProgress && n > 0)
            Fire(*this, ProgressUpdate, QString(), n);
        BytesOnVolume += n;
        DiskFree -= n;
        if (n == length)
            return;
        CloseVolume(true);
        DiskFree = 0;
        BytesOnVolume = 0;
        ++DiskNr;
        NewDiskWanted = true;
        buffer += n;
        length -= n;
    }
}

void TZipArchiver::RWSplitData(qint64 length, int errorId)
{
    char buffer[kBlock];
    while (length > 0) {
        const qint64 n = qMin(length, kBlock);
        if (InHandle->read(buffer, n) != n)
            throw EZipArchiver::CreateResDisp(errorId, true);
        WriteSplit(buffer, n, 0);
        length -= n;
    }
}

void TZipArchiver::CloseVolume(bool check)
{
    if (!SpanOutHandle)
        return;
    SpanOutHandle->setFileTime(SpanDateStamp, QFileDevice::FileModificationTime);
    SpanOutHandle->close();
    const bool failed = SpanOutHandle->error() != QFileDevice::NoError;
    SpanOutHandle.reset();
    if (check && failed)
        throw EZipArchiver::CreateResDisp(11010, true);
}

// Opens the next volume of the set being written: asks for the disk,
// prepares it, and settles an existing file of the same name or a disk
// with too little room with the user.
void TZipArchiver::OpenVolume()
{
    for (;;) {
        const kos::DriveType type = AskForDisk(true);
        const bool fixed = FixedOrNetwork(type);
        const QString name = fixed ? NumberedName(SpanOutName, DiskNr) : SpanOutName;
        if (!fixed && AddOptions.Has(AddDiskSpanErase) && (!OnGetNextDisk || DiskAction == zdaErase)) {
            VolumeLabel = QStringLiteral("PKBACK# ") + VolumeDigits(DiskNr);
            const int r = ClearFloppy();
            if (r == -2 || r == -1)
                throw EZipArchiver::CreateResDisp(11007, r == -1);
            FollowMedium();
        }
        bool ok = false;
        int number = VolumeLabel.mid(8, 3).toInt(&ok);
        if (!ok)
            number = 1;
        if (QFileInfo::exists(name)) {
            if (Unattended)
                throw EZipArchiver::CreateResDisp(11025, true);
            QString question;
            if (SameStamp(QFileInfo(name).lastModified(), SpanDateStamp) && number - 1 < DiskNr) {
                DiskStatus = {zdsPreviousDisk};
                question = QString::asprintf(
                    LoadZipStr(11040, QStringLiteral("Overwrite previous disk no %d")).toUtf8().constData(), number);
            } else {
                DiskStatus = {zdsSameFileName};
                question =
                    LoadZipStr(11039, QStringLiteral("Overwrite previous file %s")).replace(QLatin1String("%s"), name);
            }
            DiskStatus << (DiskSize != DiskFree ? zdsHasFiles : zdsEmpty);
            bool another = false;
            if (OnStatusDisk) {
                DiskAction = zdaOk;
                OnStatusDisk(this, number, name, DiskStatus, DiskAction);
                if (DiskAction == zdaCancel)
                    throw EZipArchiver::CreateResDisp(11007, false);
                another = DiskAction == zdaReject;
            } else {
                const kui::MsgButton b = kui::ShowMessageBox(kui::MsgKind::Warning, question,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QStringLiteral("Confirm"),
                    qobject_cast<QWidget*>(parent()), QMessageBox::No);
                if (b != QMessageBox::Yes && b != QMessageBox::No)
                    throw EZipArchiver::CreateResDisp(11007, false);
                another = b == QMessageBox::No;
            }
            if (another) {
                BytesOnVolume = 0;
                NewDiskWanted = true;
                continue;
            }
            if (SameFile(name, InFileName))  // the archive being split is never overwritten
                throw EZipArchiver::CreateResDisp(11009, true);
        }
        // A fresh disk does not have the archive's folder yet.
        if (!fixed)
            QDir().mkpath(QFileInfo(name).absolutePath());
        SpanOutHandle = std::make_unique<QFile>(name);
        if (!SpanOutHandle->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            SpanOutHandle.reset();
            throw EZipArchiver::CreateResDisp(11009, true);
        }
        spanWritten_.removeAll(name);
        spanWritten_ << name;
        DiskFreeAndSize(1);
        if (MaxVolumeSize > 0 && MaxVolumeSize < DiskFree)
            DiskFree = MaxVolumeSize;
        if (DiskNr == 0)
            DiskFree -= KeepFreeOnDisk1;
        if (DiskFree < qMax(MinFreeVolumeSize, 1)) {
            SpanOutHandle->close();
            SpanOutHandle.reset();
            QFile::remove(name);
            if (Unattended)
                throw EZipArchiver::CreateResDisp(11025, true);
            if (OnStatusDisk) {
                DiskAction = zdaOk;
                DiskStatus = {zdsNotEnoughSpace};
                OnStatusDisk(this, number, name, DiskStatus, DiskAction);
                if (DiskAction == zdaCancel)
                    throw EZipArchiver::CreateResDisp(11007, false);
            } else {
                const kui::MsgButton b = kui::ShowMessageBox(kui::MsgKind::Error,
                    LoadZipStr(11032, QStringLiteral("This disk has not enough free space available")),
                    QMessageBox::Retry | QMessageBox::Cancel, kui::DefaultCaption(kui::MsgKind::Plain),
                    qobject_cast<QWidget*>(parent()));
                if (b == QMessageBox::Cancel)
                    throw EZipArchiver::CreateResDisp(11007, false);
                if (b != QMessageBox::Retry)
                    throw EZipArchiver::CreateResDisp(11006, true);
            }
            BytesOnVolume = 0;
            NewDiskWanted = true;
            continue;
        }
        if (!fixed) {
            VolumeLabel = QStringLiteral("PKBACK# ") + VolumeDigits(DiskNr);
            if (!kos::Volumes().SetLabel(Drive, VolumeLabel))
                throw EZipArchiver::CreateResDisp(11005, true);
        }
        return;
    }
}

// ---------------------------------------------------------------- joining

int TZipArchiver::ReadSpan(const QString& inFile, QString& outFile)
{
    UnzBusy = true;
    InFileName = QFileInfo(inFile).absoluteFilePath();
    Drive = DriveOf(InFileName);
    DiskNr = -1;
    NewDiskWanted = false;
    ShowProgress = false;
    InHandle.reset();
    StartWaitCursor();
    int result = 0;
    std::unique_ptr<TMZipDataList> table;
    NameIndex names;
    SpanOutHandle.reset();
    try {
        if (outFile.isEmpty() || outFile.endsWith(QLatin1Char('/')) || QFileInfo(outFile).isDir()) {
            const QString saved = TempDir;
            if (!outFile.isEmpty())
                TempDir = outFile;
            outFile = MakeTempFileName();
            TempDir = saved;
            if (outFile.isEmpty())
                throw EZipArchiver::CreateResDisp(11027, true);
        } else {
            const QFileInfo target(outFile);
            outFile = target.absolutePath() + QLatin1Char('/') + target.completeBaseName() + QStringLiteral(".zip");
            // the set itself is never the target
            if (SameFile(target.absoluteFilePath(), InFileName) || SameFile(outFile, InFileName)) {
                outFile.clear();
                throw EZipArchiver::CreateResDisp(11009, true);
            }
            EraseFile(target.absoluteFilePath(), HowToDelete);
        }
        SpanOutHandle = std::make_unique<QFile>(outFile);
        if (!SpanOutHandle->open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw EZipArchiver::CreateResDisp(11009, true);

        // the last volume: asked for on removable disks until one holds the end record
        unsigned char end[22];
        kos::DriveType type = kos::DriveType::Removable;
        for (bool first = true;; first = false) {
            if (!first && FixedOrNetwork(type)) {
                const NumberField field(InFileName);
                const int number = InFileName.mid(field.start, field.end - field.start).toInt();
                if (number == 1)
                    throw EZipArchiver::CreateResDisp(11045, true);
                // a middle file of the set: its number, and what to choose
                // instead (the table's 11046 is the prompt for a disk)
                throw EZipArchiver::CreateText(11046,
                    QString::fromUtf8("Ceci est le fichier n°%1 d'une sauvegarde,\nsélectionner le dernier fichier")
                        .arg(number));
            }
            type = AskForDisk(false);
            NewDiskWanted = true;
            if (CheckIfLastDisk(end, false))
                break;
        }
        SpanDateStamp = InHandle->fileTime(QFileDevice::FileModificationTime);
        TotalDisks = Get16(end + 4);
        DiskNr = TotalDisks;
        int total = Get16(end + 10);
        const int cdDisk = Get16(end + 6);
        const int commentLength = Get16(end + 20);
        if (cdDisk != TotalDisks)
            GetNewDisk(cdDisk);
        if (!InHandle->seek(Get32(end + 16)))
            throw EZipArchiver::CreateResDisp(11008, true);

        // a central header and its name, wherever the volumes cut them
        auto readCentral = [this](unsigned char* h) {
            if (!ReadAcross(reinterpret_cast<char*>(h), 46))
                throw EZipArchiver::CreateResDisp(11013, true);
            if (Get32(h) != kCentralSig)
                throw EZipArchiver::CreateResDisp(11015, true);
            QByteArray name(Get16(h + 28), Qt::Uninitialized);
            if (!ReadAcross(name.data(), name.size()))
                throw EZipArchiver::CreateResDisp(11017, true);
            return name;
        };
        // the directory is read to the end its size gives: the end record's
        // count of entries has 16 bits, and some writers let it wrap
        const qint64 cdSize = Get32(end + 12);
        QList<std::pair<QByteArray, uint32_t>> found;  // name, compressed size
        qint64 byteTotal = 0, consumed = 0;
        for (;;) {
            if (found.size() >= total && consumed + 46 > cdSize)
                break;
            unsigned char h[46];
            if (found.size() >= total) {
                // past the count: only whole headers the directory's size holds
                if (!ReadAcross(reinterpret_cast<char*>(h), 46) || Get32(h) != kCentralSig)
                    break;
                QByteArray rest(Get16(h + 28), Qt::Uninitialized);
                if (!ReadAcross(rest.data(), rest.size()))
                    throw EZipArchiver::CreateResDisp(11017, true);
                found.append({rest, Get32(h + 20)});
            } else {
                found.append({readCentral(h), Get32(h + 20)});
            }
            const int nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLen = Get16(h + 32);
            consumed += 46 + nameLength + extraLength + commentLen;
            byteTotal += nameLength + extraLength + commentLen + qint64(Get32(h + 20));
            QByteArray skipped(extraLength + commentLen, Qt::Uninitialized);
            if (!ReadAcross(skipped.data(), skipped.size()))
                throw EZipArchiver::CreateResDisp(11008, true);
        }
        if ((found.size() - total) % 65536 != 0)
            throw EZipArchiver::CreateResDisp(11013, true);
        total = int(found.size());
        table = std::make_unique<TMZipDataList>(total);
        for (int i = 0; i < total; ++i) {
            unsigned char* rec = table->GetItem(i);
            KeepName(rec, found[i].first);
            names.Add(found[i].first, i);
            Put32(rec + kRecCompressed, found[i].second);
        }
        found.clear();

        GetNewDisk(0);
        ShowProgress = true;
        Fire(*this, TotalFiles2Process, QString(), total);
        Fire(*this, TotalSize2Process, QString(), byteTotal);
        unsigned char sig[4];
        if (InHandle->read(reinterpret_cast<char*>(sig), 4) != 4 || Get32(sig) != kSpanSig)
            throw EZipArchiver::CreateResDisp(11031, true);

        const QString copying = LoadZipStr(10105, QStringLiteral("Copying: "));
        for (int i = 0; i < total; ++i) {
            unsigned char h[30];
            if (!ReadAcross(reinterpret_cast<char*>(h), 30))
                throw EZipArchiver::CreateResDisp(11012, true);
            if (Get32(h) != kLocalSig)
                throw EZipArchiver::CreateResDisp(11014, true);
            const int nameLength = Get16(h + 26), extraLength = Get16(h + 28);
            QByteArray name(nameLength, Qt::Uninitialized);
            if (!ReadAcross(name.data(), nameLength))
                throw EZipArchiver::CreateResDisp(11016, true);
            unsigned char* rec = table->GetItem(names.Find(name));
            Put16(rec + kRecVolume, 0);
            Put32(rec + kRecOffset, uint32_t(SpanOutHandle->pos()));
            const bool descriptor = Get16(h + 6) & 8;
            qint64 compressed = Get32(h + 18);
            const QString shown = ShownName(name);
            if (OnMessage)
                OnMessage(this, 0, copying + shown);
            Fire(*this, NewFile, shown, 30 + nameLength + extraLength + compressed + (descriptor ? 16 : 0));
            WriteJoin(reinterpret_cast<const char*>(h), 30, 11028);
            WriteJoin(name.constData(), nameLength, 11028);
            RWJoinData(extraLength, 11018);
            if (compressed == 0)
                compressed = Get32(rec + kRecCompressed);
            RWJoinData(compressed, 11021);
            if (descriptor)
                RWJoinData(16, 11020);
        }
        ShowProgress = false;

        qint64 cdOffset = SpanOutHandle->pos();
        for (int i = 0; i < total; ++i) {
            unsigned char h[46];
            const QByteArray name = readCentral(h);
            const int nameLength = int(name.size()), extraLength = Get16(h + 30), commentLen = Get16(h + 32);
            if (i == 0)
                cdOffset = SpanOutHandle->pos();
            const unsigned char* rec = table->GetItem(names.Find(name));
            Put32(h + 42, Get32(rec + kRecOffset));
            Put16(h + 34, 0);
            WriteJoin(reinterpret_cast<const char*>(h), 46, 11029);
            WriteJoin(name.constData(), nameLength, 11029);
            RWJoinData(extraLength, 11019);
            RWJoinData(commentLen, 11022);
        }

        // one file now: every entry of the directory lies on its only disk
        Put16(end + 4, 0);
        Put16(end + 6, 0);
        Put16(end + 8, uint16_t(total));
        Put32(end + 16, uint32_t(cdOffset));
        WriteJoin(reinterpret_cast<const char*>(end), 22, 11030);
        char skipped[22];
        if (!ReadAcross(skipped, 22))
            throw EZipArchiver::CreateResDisp(11008, true);
        RWJoinData(commentLength, 11023);
    } catch (...) {
        result = Reported(*this);
    }
    ShowProgress = false;
    Fire(*this, EndOfBatch, QString(), 0);
    table.reset();
    InHandle.reset();
    if (SpanOutHandle) {
        if (result == 0 && !SpanOutHandle->flush()) {
            ShowExceptionError(EZipArchiver::CreateResDisp(11010, true));
            result = -7;
        }
        SpanOutHandle->setFileTime(SpanDateStamp, QFileDevice::FileModificationTime);
        SpanOutHandle->close();
        if (result != 0)
            SpanOutHandle->remove();
        SpanOutHandle.reset();
    }
    if (result != 0)
        outFile.clear();
    UnzBusy = false;
    StopWaitCursor();
    return result;
}

// Reads Length bytes of the set, going on with the next volume at the end
// of one; false when they cannot all be read.
bool TZipArchiver::ReadAcross(char* buffer, qint64 length)
{
    while (length > 0) {
        qint64 got = InHandle->read(buffer, length);
        if (got < 0)
            got = 0;
        buffer += got;
        length -= got;
        if (length == 0)
            return true;
        if (InHandle->pos() < InHandle->size() || DiskNr >= TotalDisks)
            return false;
        GetNewDisk(DiskNr + 1);
    }
    return true;
}

void TZipArchiver::WriteJoin(const char* buffer, qint64 length, int errorId)
{
    if (SpanOutHandle->write(buffer, length) != length)
        throw EZipArchiver::CreateResDisp(errorId, true);
    if (ShowProgress)
        Fire(*this, ProgressUpdate, QString(), length);
}

void TZipArchiver::RWJoinData(qint64 length, int errorId)
{
    char buffer[kBlock];
    while (length > 0) {
        const qint64 n = qMin(length, kBlock);
        qint64 got = InHandle->read(buffer, n);
        if (got < 0)
            got = 0;
        if (got > 0)
            WriteJoin(buffer, got, errorId);
        length -= got;
        if (got < n) {
            if (InHandle->pos() < InHandle->size() || DiskNr >= TotalDisks)
                throw EZipArchiver::CreateResDisp(errorId, true);
            GetNewDisk(DiskNr + 1);
        }
    }
}
