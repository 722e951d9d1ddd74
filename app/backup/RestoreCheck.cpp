// The restore's checking: the archive's tables and protocol texts
// extracted into the temporary folder and each one read back against the
// size and CRC the archive's directory gives.
#include "app/backup/FileSteps.h"

#include "zip/ZipArch.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace backup {

namespace {

// Starts writing a file's data to the disk without waiting: the wait when
// the restored files are gathered then finds most of it done.
void StartWriting(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
}

uint32_t FileCrc(const QString& path, qint64& size)
{
    QFile f(path);
    size = -1;
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    uLong crc = crc32(0, nullptr, 0);
    QByteArray buf(1 << 20, Qt::Uninitialized);
    size = 0;
    for (;;) {
        const qint64 got = f.read(buf.data(), buf.size());
        if (got < 0) {
            size = -1;
            return 0;
        }
        if (got == 0)
            break;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buf.constData()), size_t(got));
        size += got;
    }
    return uint32_t(crc);
}

}  // namespace

TableSetRestore::Result TableSetRestore::Extract(TZipArchiver& zip)
{
    restored_.clear();
    texts_.clear();
    carriesTexts_ = false;
    if (!lock_) {
        lock_ = std::make_unique<Lock>();
        if (!lock_->Take(tempDir_)) {
            lock_.reset();
            return Result::InProgress;
        }
    }
    ClearTemp();
    zip.List();
    struct Expected {
        QString entry;  // the name in the archive
        QString name;  // the file extracted into the temporary folder
        uint32_t crc;
        qint64 size;
        bool text;
    };
    // Only what is restored is extracted: the tables of the schema, and the
    // protocol texts of a "PROT" folder.
    std::vector<Expected> expected;
    QStringList seen;
    bool anyFile = false, anyTable = false;
    for (const ZipDirEntry* e : zip.ZipContents()) {
        QString entry = e->FileName;
        entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
        const QString name = entry.mid(slash + 1);
        const QString folder = slash < 0 ? QString() : entry.left(slash);
        const bool inProt =
            folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1).compare(kProtocolFolder, Qt::CaseInsensitive) == 0;
        if (inProt && !protDir_.isEmpty())
            carriesTexts_ = true;
        if (name.isEmpty())
            continue;
        anyFile = true;
        const bool text = inProt && !protDir_.isEmpty() && IsProtocolTextName(name);
        const bool table = !inProt && IsRestoredName(name, schema_);
        if ((!text && !table) || seen.contains(name, Qt::CaseInsensitive))
            continue;
        seen << name;
        anyTable = anyTable || table;
        expected.push_back({entry, name, e->Crc32, qint64(e->UncompressedSize), text});
    }
    if (!anyFile) {
        detail_ = zip.ZipFileName();
        return Result::Damaged;
    }
    if (!anyTable)
        return Result::NoTables;
    QStringList specs;
    for (const Expected& e : expected)
        specs << e.entry;
    zip.ExtrBaseDir = tempDir_;
    zip.SetFSpecArgs(specs);
    zip.Extract();
    // Every extracted file read back for its check, several at a time, its
    // writing to the disk started meanwhile (no window is touched there).
    std::vector<uint32_t> crcs(expected.size());
    std::vector<qint64> sizes(expected.size(), -1);
    std::atomic<size_t> next{0};
    auto check = [&] {
        for (size_t i; (i = next++) < expected.size();) {
            const QString path = tempDir_ + expected[i].name;
            if (QFileInfo(path).isSymLink())
                continue;  // a link is no table
            crcs[i] = FileCrc(path, sizes[i]);
            StartWriting(path);
        }
    };
    std::vector<std::thread> workers;
    const size_t count = std::min<size_t>(expected.size(), std::max(2u, std::thread::hardware_concurrency()));
    for (size_t i = 1; i < count; ++i)
        workers.emplace_back(check);
    check();
    for (std::thread& w : workers)
        w.join();
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        if (sizes[i] != e.size || crcs[i] != e.crc) {
            detail_ = e.entry;
            ClearTemp();
            return Result::Damaged;
        }
        (e.text ? texts_ : restored_) << e.name;
    }
    return Result::Done;
}
}  // namespace backup
