// TZipArchiver: properties, messages, name conversion, wait cursor and the
// archive directory reader (List, CheckIfLastDisk).
#include "zip/ZipArch.h"
#include "zip/ZipRecords.h"
#include "platform/os/SystemError.h"
#include "platform/zipeng/EntryRules.h"
#include "platform/zipeng/Oem850.h"

#include "platform/ui/Messages.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstring>
#include <new>

namespace {

using ziprec::Get16;
using ziprec::Get32;
using ziprec::kCentralSig;
using ziprec::kEndSig;

using zipcp::kOem850;

// The 64-bit values of an entry (extra field 1) for the fields of its
// header at their largest value, in their order; a value that needs more
// than 32 bits leaves its field at the largest value.
void TakeZip64Values(ZipDirEntry& e)
{
    const auto* x = reinterpret_cast<const unsigned char*>(e.ExtraData.constData());
    const qsizetype n = e.ExtraData.size();
    for (qsizetype i = 0; i + 4 <= n;) {
        const int id = Get16(x + i), len = Get16(x + i + 2);
        if (i + 4 + len > n)
            return;
        if (id == 1) {
            const unsigned char* v = x + i + 4;
            int left = len;
            for (uint32_t* field : {&e.UncompressedSize, &e.CompressedSize, &e.LocalHeaderOffset}) {
                if (*field != 0xFFFFFFFF)
                    continue;
                if (left < 8)
                    return;
                if (Get32(v + 4) == 0 && Get32(v) != 0xFFFFFFFF)
                    *field = Get32(v);
                v += 8;
                left -= 8;
            }
            return;
        }
        i += 4 + len;
    }
}

QString Fallback(int id)
{
    return QString::fromUtf8(kZipMissingText) + QString::number(id);
}

}  // namespace

// ---------------------------------------------------------------- exception

EZipArchiver::EZipArchiver(int id, const QString& text, bool display)
    : std::runtime_error(text.toStdString()), DisplayMsg(display), ResId(id), message_(text)
{
}

EZipArchiver EZipArchiver::CreateResDisp(int id, bool display)
{
    QString t = ZipMessageText(id);
    return EZipArchiver(id, t.isNull() ? Fallback(id) : t, display);
}

EZipArchiver EZipArchiver::CreateResFmtInt(int id, int arg)
{
    QString t = ZipMessageText(id);
    if (t.isNull())
        return EZipArchiver(id, Fallback(id), true);
    return EZipArchiver(id, QString::asprintf(t.toUtf8().constData(), arg), true);
}

EZipArchiver EZipArchiver::CreateResFmtStr(int id, const QString& arg)
{
    QString t = ZipMessageText(id);
    if (t.isNull())
        return EZipArchiver(id, Fallback(id), true);
    return EZipArchiver(id, QString(t).replace(QStringLiteral("%s"), arg), true);
}

EZipArchiver EZipArchiver::CreateResDispFile(int id, const QString& file)
{
    QString t = ZipMessageText(id);
    return EZipArchiver(id, (t.isNull() ? Fallback(id) : t) + QStringLiteral(" : ") + file, true);
}

// ---------------------------------------------------------------- helpers

bool TZipStream::SetSize(qint64 size)
{
    try {
        external_ = nullptr;
        buffer_.resize(size);
        return buffer_.size() == size;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TZipStream::SetPointer(void* address, qint64 size)
{
    external_ = address;
    externalSize_ = size;
}

TMZipDataList::TMZipDataList(int count)
{
    records_.reserve(size_t(qMax(count, 0)));
    for (int i = 0; i < count; ++i) {
        records_.emplace_back(new unsigned char[kRecordSize]);
        std::memset(records_.back().get(), 0, kRecordSize);
    }
}

unsigned char* TMZipDataList::GetItem(int index)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range(QString::asprintf("Index (%d) outside range 1..%d", index, Count() - 1).toStdString());
    return records_[size_t(index)].get();
}

int TMZipDataList::IndexOf(const QString& name) const
{
    for (int i = 0; i < Count(); ++i) {
        const char* n = reinterpret_cast<const char*>(records_[size_t(i)].get() + 10);
        if (QString::fromLocal8Bit(n, int(strnlen(n, 255))).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw EZipArchiver::CreateResDisp(11026, true);
}

// ---------------------------------------------------------------- component

TZipArchiver::TZipArchiver(QObject* owner) : QObject(owner)
{
    for (int e = assGIF; e < assEXE; ++e)
        AddStoreSuffixes << AddStoreSuffixEnum(e);
    Handle = QApplication::activeWindow();
}

TZipArchiver::~TZipArchiver()
{
    UnloadZipEng();
    UnloadUnzEng();
    FreeContents();
}

void TZipArchiver::FreeContents()
{
    while (!zipContents_.isEmpty())
        delete zipContents_.takeLast();
}

void TZipArchiver::SetZipFileName(const QString& name)
{
    zipFileName_ = name;
    if (!Designing)
        List();
}

void TZipArchiver::SetDLLDirectory(const QString& dir)
{
    if (dir == dllDirectory_)
        return;
    QString d = dir;
    if (d.endsWith(QLatin1Char('/')) || d.endsWith(QLatin1Char('\\')))
        d.chop(1);
    dllDirectory_ = d;
}

void TZipArchiver::ShowZipMessage(int id, const QString& extra)
{
    QString text = ZipMessageText(id);
    if (text.isNull())
        text = Fallback(id);
    text += extra;
    Message = text;
    ErrCode = id;
    if (!Unattended && !QuietMessages)
        kui::MsgPlain(text);
    if (OnMessage)
        OnMessage(this, 0, text);
}

QString TZipArchiver::LoadZipStr(int id, const QString& defaultText)
{
    QString t = ZipMessageText(id);
    return t.isNull() ? defaultText : t;
}

void TZipArchiver::TraceMessage(const QString& text)
{
    if (Trace && OnMessage)
        OnMessage(this, 0, text);
}

void TZipArchiver::ShowExceptionError(const EZipArchiver& e)
{
    if (e.DisplayMsg && !Unattended && !QuietMessages)
        kui::MsgPlain(e.Message());
    ErrCode = e.ResId;
    Message = e.Message();
    if (OnMessage)
        OnMessage(this, 0, e.Message());
}

QString TZipArchiver::ConvertOemName(const QByteArray& name, bool toOem) const
{
    bool convert = CodePage == cpOEM || HostSystem == 6 || (HostSystem == 11 && HostVersion == 50) ||
        (HostSystem == 0 && CodePage == cpAuto);
    if (!convert) {
        if (toOem)
            return QString::fromLatin1(name);
        QString utf = QString::fromUtf8(name);
        return utf.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(name) : utf;
    }
    QString out;
    out.reserve(name.size());
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 128) {
            out += QChar(b);
            continue;
        }
        if (!toOem) {
            out += QChar(kOem850[b - 128]);
            continue;
        }
        // the Latin-1 character b as its OEM byte, kept as a character of the same code
        const char16_t* hit = std::char_traits<char16_t>::find(kOem850, 128, char16_t(b));
        out += hit ? QChar(ushort(128 + (hit - kOem850))) : QChar('_');
    }
    return out;
}

void TZipArchiver::StartWaitCursor()
{
    if (waitCount_ == 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    ++waitCount_;
}

void TZipArchiver::StopWaitCursor()
{
    if (waitCount_ <= 0)
        return;
    if (--waitCount_ == 0)
        QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------- directory reader

bool TZipArchiver::CheckIfLastDisk(unsigned char endRecord[22], bool raise)
{
    ZipComment.clear();
    commentBytes_.clear();
    commentRead_.clear();
    bool firstVolume = false;
    int volume = 0;
    ZipEOC = 0;
    InHandle = std::make_unique<QFile>(InFileName);
    if (!InHandle->open(QIODevice::ReadOnly)) {
        InHandle.reset();
        if (raise)
            throw EZipArchiver::CreateResDispFile(11001, InFileName);
        ShowZipMessage(11002);
        return false;
    }
    QFile& f = *InHandle;
    if (VolumeLabel.startsWith(QLatin1String("PKBACK# ")))
        volume = VolumeLabel.mid(8, 3).toInt();
    unsigned char sig[4];
    if (f.read(reinterpret_cast<char*>(sig), 4) == 4 && Get32(sig) == ziprec::kSpanSig &&
        f.read(reinterpret_cast<char*>(sig), 4) == 4 && Get32(sig) == ziprec::kLocalSig) {
        firstVolume = true;
        IsSpanned = true;
    }
    qint64 size = f.size();
    if (size >= 22 && f.seek(size - 22)) {
        FileSize = RealFileSize = size;
        if (f.read(reinterpret_cast<char*>(endRecord), 22) == 22 && Get32(endRecord) == kEndSig) {
            ZipEOC = size - 22;
            return true;
        }
    }
    FileSize = RealFileSize = size;
    try {
        qint64 n = qMin<qint64>(65557, FileSize);
        if (!f.seek(FileSize - n))
            throw EZipArchiver::CreateResDisp(11008, true);
        QByteArray buf = f.read(n);
        if (buf.size() != n)
            throw EZipArchiver::CreateResDisp(11011, true);
        const auto* b = reinterpret_cast<const unsigned char*>(buf.constData());
        for (qint64 i = n - 23; i >= 0; --i) {
            if (Get32(b + i) != kEndSig)
                continue;
            ZipEOC = FileSize - n + i;
            std::memcpy(endRecord, b + i, 22);
            qint64 commentLen = Get16(b + i + 20);
            qint64 d = (i + 22 + commentLen) - n;
            if (d != 0) {
                FileSize += d;
                bool padding =
                    RealFileSize % 512 == 0 && RealFileSize - FileSize >= 1 && RealFileSize - FileSize <= 511;
                for (qint64 k = i + 22 + commentLen; padding && k < n; ++k)
                    padding = b[k] == 0;
                if (!padding)
                    ShowZipMessage(10204);
            }
            if (commentLen != 0) {
                qint64 avail = qMin(commentLen, n - i - 22);
                const char* c = reinterpret_cast<const char*>(b + i + 22);
                // the bytes are kept for the next add, which writes them back as they were
                commentBytes_ = QByteArray(c, int(strnlen(c, size_t(avail))));
                QStringDecoder utf8(QStringDecoder::Utf8);
                const QString decoded = utf8(commentBytes_);
                ZipComment = utf8.hasError() ? ConvertOemName(commentBytes_, false) : decoded;
                commentRead_ = ZipComment;
            }
            return true;
        }
    } catch (const EZipArchiver&) {
        if (raise)
            throw;
        return false;
    }
    if (!raise)
        return false;
    if (!firstVolume && volume != 0)
        throw EZipArchiver::CreateResFmtInt(11038, volume);
    if (!firstVolume)
        throw EZipArchiver::CreateResDisp(11036, true);
    throw EZipArchiver::CreateResDisp(volume == 1 ? 11037 : 11045, true);
}

void TZipArchiver::List()
{
    if (Designing)
        return;
    FreeContents();
    RealFileSize = ZipSOC = SFXOffset = 0;
    ZipComment.clear();
    IsSpanned = false;
    DirOnlyCount = 0;
    OffsetsDiffer = false;
    if (zipFileName_.isEmpty() || !QFileInfo(zipFileName_).isFile()) {
        if (OnDirUpdate)
            OnDirUpdate(this);
        return;
    }
    StartWaitCursor();
    bool failed = false;
    qint64 p = 0, recorded = 0;
    try {
        InFileName = QFileInfo(zipFileName_).absoluteFilePath();
        Drive = ziprec::DriveOf(InFileName);
        if (!CheckForDisk())
            throw EZipArchiver::CreateResFmtStr(11004, Drive);
        unsigned char end[22];
        CheckIfLastDisk(end, true);
        TotalDisks = Get16(end + 4);
        DiskNr = TotalDisks;
        if (TotalDisks != 0)
            IsSpanned = true;
        qint64 cdSize = Get32(end + 12);
        recorded = Get32(end + 16);
        qint64 total = Get16(end + 10);
        // a 64-bit end record and its locator between the directory and the end
        // record: a classic field at its largest value is taken from it
        bool zip64 = false;
        if (Get16(end + 6) == Get16(end + 4)) {
            unsigned char z64[56];
            zip64 = ZipEOC >= 76 && InHandle->seek(ZipEOC - 20) &&
                InHandle->read(reinterpret_cast<char*>(z64), 4) == 4 && Get32(z64) == 0x07064B50 &&
                InHandle->seek(ZipEOC - 76) && InHandle->read(reinterpret_cast<char*>(z64), 56) == 56 &&
                Get32(z64) == 0x06064B50;
            auto get64 = [](const unsigned char* v) { return qint64(Get32(v)) | qint64(Get32(v + 4)) << 32; };
            if (zip64) {
                if (total == 0xFFFF)
                    total = get64(z64 + 32);
                if (cdSize == 0xFFFFFFFF)
                    cdSize = get64(z64 + 40);
                if (recorded == 0xFFFFFFFF)
                    recorded = get64(z64 + 48);
                if (total < 0 || cdSize < 0 || recorded < 0 || total > cdSize / 46)
                    throw EZipArchiver::CreateResDisp(10201, true);
            }
        }
        if (Get16(end + 6) != Get16(end + 4)) {
            GetNewDisk(Get16(end + 6));
            FileSize = InHandle->size();
            p = recorded;
        } else {
            p = FileSize - cdSize - 22 - Get16(end + 20) - (zip64 ? 76 : 0);
        }
        ZipSOC = p;
        SFXOffset = FileSize == 22 ? 0 : FileSize;
        if (recorded != p) {
            OffsetsDiffer = true;
            ShowZipMessage(10203);
        }
        // every read goes on with the next volume where one ends: the directory
        // of a set may begin on one volume and end on another
        if (p < 0 || !InHandle->seek(p))
            throw EZipArchiver::CreateResDisp(10201, true);
        // The directory is read to the end its size gives: the end record keeps
        // the count of entries in 16 bits, which some writers let wrap past
        // 65 535; the entries found must agree with it.
        qint64 consumed = 0, k = 1;
        zipeng::EntryNames names;
        // an odd entry refuses the archive, as every reader of the program
        // refuses it (platform/zipeng/EntryRules.h)
        auto refuse = [](const std::string& why) {
            if (!why.empty())
                throw EZipArchiver::CreateResFmtStr(10205, QString::fromStdString(why));
        };
        for (;; ++k) {
            unsigned char h[46];
            if (k > total) {
                if (consumed + 46 > cdSize || !ReadAcross(reinterpret_cast<char*>(h), 46) || Get32(h) != kCentralSig)
                    break;
            } else if (!ReadAcross(reinterpret_cast<char*>(h), 46)) {
                throw EZipArchiver::CreateResDisp(11013, true);
            }
            if (Get32(h) != kCentralSig)
                throw EZipArchiver::CreateResDisp(11015, true);
            consumed += 46 + Get16(h + 28) + Get16(h + 30) + Get16(h + 32);
            auto e = std::make_unique<ZipDirEntry>();
            const unsigned char* r = h + 4;
            e->VersionMadeBy = Get16(r);
            e->VersionNeeded = Get16(r + 2);
            e->Flags = Get16(r + 4);
            e->Method = Get16(r + 6);
            e->ModDateTime = Get32(r + 8);
            e->Crc32 = Get32(r + 12);
            e->CompressedSize = Get32(r + 16);
            e->UncompressedSize = Get32(r + 20);
            e->NameLength = Get16(r + 24);
            e->ExtraLength = Get16(r + 26);
            e->CommentLength = Get16(r + 28);
            e->DiskStart = Get16(r + 30);
            e->InternalAttrs = Get16(r + 32);
            e->ExternalAttrs = Get32(r + 34);
            e->LocalHeaderOffset = Get32(r + 38);
            QByteArray name(e->NameLength, Qt::Uninitialized);
            if (!ReadAcross(name.data(), name.size()))
                throw EZipArchiver::CreateResDisp(11017, true);
            if (consumed > cdSize)
                refuse(zipeng::PastDirectoryRefusal(name.toStdString()));
            HostVersion = h[4];
            HostSystem = h[5];
            // a name flagged UTF-8 is UTF-8, whatever its host, when it decodes
            QStringDecoder utf8(QStringDecoder::Utf8);
            e->FileName = (e->Flags & 0x800) ? utf8(name) : QString();
            if (!(e->Flags & 0x800) || utf8.hasError())
                e->FileName = ConvertOemName(name, false);
            e->FileName.replace(QLatin1Char('/'), QLatin1Char('\\'));
            e->Encrypted = e->Flags & 1;
            if (e->ExtraLength > 0) {
                e->ExtraData = QByteArray(e->ExtraLength, Qt::Uninitialized);
                if (!ReadAcross(e->ExtraData.data(), e->ExtraLength))
                    throw EZipArchiver::CreateResDisp(10201, true);
                TakeZip64Values(*e);
            }
            std::string refused = zipeng::EntryRefusal({e->VersionMadeBy, e->Flags, e->Method, e->ExternalAttrs,
                e->CompressedSize, e->UncompressedSize, name.toStdString(), e->ExtraData.toStdString()});
            refuse(refused.empty() ? names.Add(name.toStdString()) : refused);
            if (e->CommentLength > 0) {
                QByteArray c(e->CommentLength, Qt::Uninitialized);
                if (!ReadAcross(c.data(), c.size()))
                    throw EZipArchiver::CreateResDisp(11022, true);
                e->FileComment = ConvertOemName(c, false);
            }
            SFXOffset = qMin<quint64>(quint64(SFXOffset), e->LocalHeaderOffset);
            if (!UseDirOnlyEntries &&
                (e->FileName.isEmpty() || e->FileName.endsWith(QLatin1Char('\\')) ||
                    e->FileName.endsWith(QLatin1Char(':')))) {
                ++DirOnlyCount;
                continue;
            }
            zipContents_.append(e.release());
            if (OnNewName)
                OnNewName(this, int(k), *zipContents_.last());
        }
        if ((k - 1 - total) % 65536 != 0)
            throw EZipArchiver::CreateResDisp(11013, true);
        TotalDisks = Get16(end + 4);
    } catch (const EZipArchiver& e) {
        failed = true;
        ShowExceptionError(e);
    } catch (const std::bad_alloc&) {
        failed = true;
        ShowZipMessage(10103);
    } catch (const std::exception& e) {
        failed = true;
        ShowZipMessage(10202, QStringLiteral(" : ") + QString::fromStdString(kos::ExceptionReason(e)));
    }
    StopWaitCursor();
    InHandle.reset();
    if (failed) {
        zipFileName_.clear();
        SFXOffset = 0;
    } else {
        SFXOffset += p - recorded;
    }
    if (OnDirUpdate)
        OnDirUpdate(this);
}
