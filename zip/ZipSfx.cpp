// TZipArchiver: self-extracting programs. A copy of the stub program
// (SfxStub.bin, zip/sfx), the header record that carries its options and
// texts, then the archive with every stored offset moved by what precedes it.
#include "zip/ZipArch.h"
#include "zip/ZipRecords.h"

#include "platform/os/Paths.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <elf.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

namespace {

using ziprec::Get16;
using ziprec::Get32;
using ziprec::kCentralSig;
using ziprec::Put32;

constexpr int kIconFileSize = 766;  // icon-file header and one directory entry (22 bytes), one image
const QString kStubName = QStringLiteral("SFXSTUB.BIN");

// The file a path names, its name matched without regard to case; empty
// when there is none.
QString FindNoCase(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo fi(path);
    if (fi.isFile())
        return path;
    const QDir dir = fi.dir();
    if (!dir.exists())
        return {};
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.compare(fi.fileName(), Qt::CaseInsensitive) == 0)
            return dir.filePath(name);
    return {};
}

// Position in an ELF image of the icon section (".kicon", exactly `size`
// bytes of file data), or -1.
template <typename Ehdr, typename Shdr> qint64 FindSection(const QByteArray& image, const char* wanted, qint64 size)
{
    const auto* b = reinterpret_cast<const unsigned char*>(image.constData());
    const quint64 len = quint64(image.size());
    Ehdr eh;
    if (len < sizeof eh)
        return -1;
    std::memcpy(&eh, b, sizeof eh);
    if (eh.e_shentsize < sizeof(Shdr) || eh.e_shstrndx >= eh.e_shnum || eh.e_shoff > len ||
        quint64(eh.e_shnum) * eh.e_shentsize > len - eh.e_shoff)
        return -1;
    auto section = [&](unsigned i) {
        Shdr sh;
        std::memcpy(&sh, b + eh.e_shoff + quint64(i) * eh.e_shentsize, sizeof sh);
        return sh;
    };
    const Shdr names = section(eh.e_shstrndx);
    if (names.sh_offset > len || names.sh_size > len - names.sh_offset)
        return -1;
    const size_t wantedLen = std::strlen(wanted);
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        const Shdr sh = section(i);
        if (sh.sh_name >= names.sh_size || names.sh_size - sh.sh_name <= wantedLen)
            continue;
        const unsigned char* n = b + names.sh_offset + sh.sh_name;
        if (std::memcmp(n, wanted, wantedLen + 1) != 0)
            continue;
        if (sh.sh_type == SHT_NOBITS || qint64(sh.sh_size) != size || sh.sh_offset > len ||
            sh.sh_size > len - sh.sh_offset)
            continue;
        return qint64(sh.sh_offset);
    }
    return -1;
}

qint64 IconSection(const QByteArray& image, qint64 size)
{
    if (image.size() < EI_NIDENT || std::memcmp(image.constData(), ELFMAG, SELFMAG) != 0 ||
        image[EI_DATA] != ELFDATA2LSB)
        return -1;
    if (image[EI_CLASS] == ELFCLASS64)
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(image, ".kicon", size);
    if (image[EI_CLASS] == ELFCLASS32)
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(image, ".kicon", size);
    return -1;
}

mode_t CurrentUmask()
{
    const mode_t m = umask(0);
    umask(m);
    return m;
}

}  // namespace

int TZipArchiver::ConvertSFX()
{
    int result = -9;
    ShowProgress = false;
    if (zipFileName_.isEmpty() && !SFXCreating) {
        ShowZipMessage(10102);
        return result;
    }
    // the texts: one byte of length each, one byte per character
    const QString* texts[4] = {&SFXCaption, &SFXDefaultDir, &SFXCommandLine, &SFXMessage};
    int length = 12;
    bool tooLong = false;
    for (const QString* t : texts) {
        length += int(t->size());
        tooLong = tooLong || t->size() > 255;
    }
    length = (length + 3) & ~3;
    if (tooLong) {
        ShowZipMessage(10801,
            QStringLiteral("\r\nSFXCaption + SFXDefaultDir + SFXCommandLine + SFXMessage = ") +
                QString::number(length + 1));
        return result;
    }
    // The program reads its archive's directory by the end record's count
    // of entries, 16 bits wide.
    if (!SFXCreating && zipContents_.size() + DirOnlyCount > 65535) {
        ShowZipMessage(10805, QString::number(zipContents_.size() + DirOnlyCount));
        return result;
    }

    // The stub is the program's own: a name that is not a full path is
    // looked for in the program's folders only (the program's, the shipped
    // files', the libraries'), never in the current folder, where anybody
    // may have put a file of that name.
    const QString programDir = QCoreApplication::applicationDirPath();
    QString stubPath = QDir::isAbsolutePath(SFXPath) ? FindNoCase(SFXPath) : QString();
    if (stubPath.isEmpty()) {
        QStringList candidates;
        if (!SFXPath.isEmpty() && !QDir::isAbsolutePath(SFXPath))
            candidates << JoinPath(programDir, SFXPath);
        candidates << JoinPath(programDir, kStubName);
        for (const QString& dir : SFXSystemDirs.isEmpty() ? kos::ShippedDirs() : SFXSystemDirs)
            candidates << JoinPath(dir, kStubName);
        if (!dllDirectory_.isEmpty())
            candidates << JoinPath(
                QDir::isAbsolutePath(dllDirectory_) ? dllDirectory_ : JoinPath(programDir, dllDirectory_), kStubName);
        for (const QString& c : candidates)
            if (QDir::isAbsolutePath(c) && !(stubPath = FindNoCase(c)).isEmpty())
                break;
    }
    if (stubPath.isEmpty()) {
        ShowZipMessage(10802);
        return result;
    }
    SFXPath = stubPath;

    QByteArray header;
    try {
        header = QByteArray(length, '\0');
    } catch (const std::bad_alloc&) {
        ShowZipMessage(10103);
        return result;
    }
    StartWaitCursor();
    auto* h = reinterpret_cast<unsigned char*>(header.data());
    std::memcpy(h, "KZV", 3);
    h[3] = (SFXOptions.Has(SFXAskCmdLine) ? 0x01 : 0) | (SFXOptions.Has(SFXAskFiles) ? 0x02 : 0) |
        (SFXOptions.Has(SFXHideOverWriteBox) ? 0x04 : 0) | (SFXOverWriteMode == OvrAlways ? 0x08 : 0) |
        (SFXOverWriteMode == OvrNever ? 0x10 : 0) | (SFXOptions.Has(SFXCheckSize) ? 0 : 0x20) |
        (SFXOptions.Has(SFXAutoRun) ? 0x40 : 0) | (SFXOptions.Has(SFXNoSuccessMsg) ? 0x80 : 0);
    h[5] = 1;
    h[6] = static_cast<unsigned char>(length);
    h[7] = static_cast<unsigned char>(length >> 8);
    int at = 8;
    for (const QString* t : texts) {
        const QByteArray bytes = t->toLatin1();
        h[at++] = static_cast<unsigned char>(bytes.size());
        std::memcpy(h + at, bytes.constData(), size_t(bytes.size()));
        at += int(bytes.size());
    }

    QString outName = zipFileName_;
    if (!SFXCreating) {
        const QFileInfo zi(zipFileName_);
        if (zi.suffix().toUpper() != QLatin1String("ZIP")) {
            ShowZipMessage(10803);
            StopWaitCursor();
            return result;
        }
        outName = JoinPath(zi.path(), zi.completeBaseName() + QStringLiteral(".exe"));
    }
    if (QFileInfo::exists(outName))
        EraseFile(outName, HowToDelete);

    qint64 stubLength = -1, archiveLength = -1, outLength = -1;
    QFile out(outName);
    if (!out.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        result = -1;
    } else {
        QFile stub(stubPath);
        if (!stub.open(QIODevice::ReadOnly)) {
            result = -3;
        } else {
            result = CopyBuffer(stub, out, -1);
            stubLength = stub.size();
            stub.close();
            if (result == 0 && !sfxIcon_.Empty())
                result = ReplaceIcon(out, stubLength);
        }
        if (result == 0 && out.write(header) != length)
            result = -2;
        if (result == 0 && SFXCreating) {
            unsigned char end[22] = {0x50, 0x4B, 0x05, 0x06};
            Put32(end + 16, uint32_t(stubLength + length));
            if (out.write(reinterpret_cast<const char*>(end), 22) != 22)
                result = -2;
        }
        if (result == 0 && !SFXCreating) {
            try {
                InFileName = zipFileName_;
                unsigned char end[22];
                CheckIfLastDisk(end, true);
                QFile& in = *InHandle;
                if (!in.seek(0))
                    throw EZipArchiver::CreateResDisp(11008, false);
                if (CentralDirShifted) {
                    result = CopyBuffer(in, out, -1);
                } else {
                    result = CopyBuffer(in, out, Get32(end + 16));
                    if (result == 0)
                        result = CopyAndAdjustCentralDir(out, end, stubLength + length);
                }
                archiveLength = in.size();
            } catch (...) {
                result = -3;
            }
            InHandle.reset();
        }
        outLength = out.size();
        out.close();
    }
    if (!SFXCreating && result == 0 &&
        (stubLength < 0 || archiveLength < 0 || outLength < 0 || outLength != stubLength + archiveLength + length)) {
        result = -9;
        ShowZipMessage(10806, outName);
    }
    if (result == 0) {
        ::chmod(QFile::encodeName(outName).constData(), 0755 & ~CurrentUmask());
        if (!SFXCreating) {
            EraseFile(zipFileName_, HowToDelete);
            SetZipFileName(outName);
        }
    } else {
        QFile::remove(outName);
    }
    StopWaitCursor();
    return result;
}

int TZipArchiver::ReplaceIcon(QFile& out, qint64 stubLength)
{
    int result = -10;
    try {
        if (out.seek(0)) {
            const QByteArray stub = out.read(stubLength);
            const qint64 at = stub.size() == stubLength ? IconSection(stub, kSfxIconImageSize) : -1;
            if (at >= 0) {
                QBuffer icon;
                icon.open(QIODevice::WriteOnly);
                sfxIcon_.SaveToStream(icon);
                if (icon.size() != kIconFileSize) {
                    result = -12;
                } else if (out.seek(at) &&
                    out.write(icon.data().constData() + (kIconFileSize - kSfxIconImageSize), kSfxIconImageSize) ==
                        kSfxIconImageSize) {
                    result = 0;
                } else {
                    result = -11;
                }
            }
        }
    } catch (...) {
        result = -11;
    }
    out.seek(out.size());
    return result;
}

int TZipArchiver::CopyAndAdjustCentralDir(QFile& out, const unsigned char endRecord[22], qint64 shift)
{
    auto moved = [shift](uint32_t offset) {
        const quint64 v = quint64(offset) + quint64(shift);
        if (shift < 0 || v > 0xFFFFFFFFu)  // the program would pass 4 GB
            throw EZipArchiver::CreateResDisp(11029, false);
        return uint32_t(v);
    };
    try {
        QFile& in = *InHandle;
        const int total = Get16(endRecord + 10);
        for (int k = 0; k < total; ++k) {
            unsigned char h[46];
            if (in.read(reinterpret_cast<char*>(h), 46) != 46)
                throw EZipArchiver::CreateResDisp(11013, false);
            if (Get32(h) != kCentralSig)
                throw EZipArchiver::CreateResDisp(11015, false);
            Put32(h + 42, moved(Get32(h + 42)));
            if (out.write(reinterpret_cast<const char*>(h), 46) != 46)
                throw EZipArchiver::CreateResDisp(11029, false);
            if (CopyBuffer(in, out, qint64(Get16(h + 28)) + Get16(h + 30) + Get16(h + 32)) != 0)
                throw EZipArchiver::CreateResDisp(11042, false);
        }
        if (in.pos() + 22 > in.size() || !in.seek(in.pos() + 22))
            throw EZipArchiver::CreateResDisp(11043, false);
        unsigned char end[22];
        std::memcpy(end, endRecord, 22);
        Put32(end + 16, moved(Get32(end + 16)));
        if (out.write(reinterpret_cast<const char*>(end), 22) != 22)
            throw EZipArchiver::CreateResDisp(11030, false);
        if (Get16(end + 20) > 0 && CopyBuffer(in, out, Get16(end + 20)) != 0)
            throw EZipArchiver::CreateResDisp(11044, false);
        return 0;
    } catch (...) {
        return -2;
    }
}
