// TZipArchiver: the add and extract jobs, the password dialogs, EraseFile,
// the temporary names and the chunked copy.
#include "zip/ZipArch.h"
#include "zip/ZipJobTexts.h"
#include "zip/ZipRecords.h"
#include "zip/ZipPasswordDlg.h"

#include "platform/zipeng/ZipEngAbi.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

using ZipExecFn = int32_t (*)(zipeng::ZipParams*);
using UnzExecFn = int32_t (*)(zipeng::UnzParams*);

QString Upper(const QString& name)
{
    return QFileInfo(name).suffix().toUpper();
}

}  // namespace

void TZipArchiver::Add()
{
    SuccessCnt = 0;
    if (fspecArgs_.isEmpty()) {
        ShowZipMessage(10301);
        return;
    }
    if (zipFileName_.isEmpty()) {
        ShowZipMessage(10102);
        return;
    }
    if (Unattended && AddOptions.Has(AddEncrypt) && Password.isEmpty()) {
        ShowZipMessage(10302);
        return;
    }
    const bool spanned = AddOptions.Has(AddDiskSpan) || AddOptions.Has(AddDiskSpanErase);
    QString workFile = zipFileName_;
    if (spanned) {
        if (AddOptions.Has(AddFreshen) || AddOptions.Has(AddUpdate)) {
            ShowZipMessage(10303);
            return;
        }
        if (Upper(zipFileName_) == QLatin1String("EXE")) {
            ShowZipMessage(11041);
            return;
        }
        workFile = MakeTempFileName();
        if (Verbose && OnMessage)
            OnMessage(this, 0, QStringLiteral("Temporary zipfile: ") + workFile);
    }
    if (ZipBusy)
        return;
    if (Upper(zipFileName_) == QLatin1String("EXE") && SFXOffset == 0 && !QFileInfo::exists(zipFileName_)) {
        SFXCreating = true;
        int r = ConvertSFX();
        SFXCreating = false;
        if (r != 0) {
            ShowExceptionError(EZipArchiver::CreateResFmtInt(10304, r));
            return;
        }
    }
    bool loadedHere = false;
    int version = EnsureZipEng(loadedHere);
    if (version == 0)
        return;
    ZipBusy = true;
    Cancel = false;
    {
        JobTexts texts;
        try {
            zipeng::ZipParams block{};
            SetZipSwitches(block, texts, workFile, version);
            FillZipSpecs(block, texts);
            block.check = zipeng::kBlockCheck;
            block.specCount = int32_t(fspecArgs_.size());
            pending_ = nullptr;
            SuccessCnt = reinterpret_cast<ZipExecFn>(zipLib_.exec)(&block);
            if (pending_) {
                SuccessCnt = 0;
                std::rethrow_exception(std::exchange(pending_, nullptr));
            }
            if (spanned && SuccessCnt > 0) {
                int r = WriteSpan(workFile, zipFileName_);
                if (r == 0) {
                    // numbered files on a fixed or network drive: the archive is the last of them;
                    // on disks, the name under which the last disk is now mounted
                    zipFileName_ = ziprec::FixedOrNetwork(kos::Volumes().TypeOf(Drive))
                        ? NumberedName(SpanOutName, DiskNr)
                        : SpanOutName;
                } else {
                    SuccessCnt = 0;
                }
                QFile::remove(workFile);
            }
        } catch (...) {
            ShowZipMessage(10101);
        }
        fspecArgs_.clear();
        fspecArgsExcl_.clear();
    }
    if (loadedHere)
        UnloadZipEng();
    Cancel = false;
    ZipBusy = false;
    if (SuccessCnt > 0)
        List();
}

void TZipArchiver::Extract()
{
    SuccessCnt = 0;
    const unsigned savedCount = passwordReqCount_;
    if (zipFileName_.isEmpty() || !QFileInfo(zipFileName_).isFile()) {
        ShowZipMessage(10102);
        return;
    }
    if (UnzBusy)
        return;
    const bool restore = Unattended && Password.isEmpty() && !OnPasswordError;
    if (restore) {
        passwordReqCount_ = 0;
        ShowZipMessage(10502);
    }
    Cancel = false;
    UnzBusy = true;
    bool loadedHere = false;
    auto finish = [&] {
        if (restore)
            passwordReqCount_ = savedCount;
        if (loadedHere)
            UnloadUnzEng();
        Cancel = false;
        UnzBusy = false;
    };
    QString archive = zipFileName_;
    if (TotalDisks != 0) {
        archive = TempDir.isEmpty() ? QDir::tempPath() + QLatin1Char('/') : AppendSlash(TempDir);
        if (ReadSpan(zipFileName_, archive) != 0) {
            finish();
            return;
        }
    }
    int version = EnsureUnzEng(loadedHere);
    if (version == 0) {
        finish();
        return;
    }
    {
        JobTexts texts;
        try {
            zipeng::UnzParams block{};
            SetUnzSwitches(block, texts, archive, version);
            block.baseDir = ExtrBaseDir.isEmpty() ? nullptr : texts.Text(ExtrBaseDir);
            if (!fspecArgs_.isEmpty() && fspecArgs_.first() != QLatin1String("*.*")) {
                texts.unzSpecs.assign(size_t(fspecArgs_.size()), zipeng::UnzFileSpec{});
                for (int i = 0; i < fspecArgs_.size(); ++i)
                    texts.unzSpecs[size_t(i)].fileSpec = texts.Text(fspecArgs_[i]);
                block.fileSpecs = texts.unzSpecs.data();
                block.specCount = int32_t(fspecArgs_.size());
            } else {
                block.specCount = 0;
            }
            block.check = zipeng::kBlockCheck;
            pending_ = nullptr;
            SuccessCnt = reinterpret_cast<UnzExecFn>(unzLib_.exec)(&block);
            if (TotalDisks > 0)
                QFile::remove(archive);
            if (pending_) {
                SuccessCnt = 0;
                std::rethrow_exception(std::exchange(pending_, nullptr));
            }
        } catch (...) {
            ShowZipMessage(10501);
        }
        fspecArgs_.clear();
    }
    finish();
}

// ---------------------------------------------------------------- passwords

QString TZipArchiver::GetPassword(
    const QString& title, const QString& prompt, TPasswordButtons buttons, TPasswordButton& answer)
{
    TPasswordDlg dlg(qobject_cast<QWidget*>(parent()), buttons);
    dlg.setWindowTitle(title);
    dlg.SetPrompt(prompt);
    int result = dlg.exec();
    lastModalResult_ = result;
    answer = result == QDialog::Accepted           ? pwbOk
        : result == 2                              ? pwbCancel
        : result == TPasswordDlg::kResultCancelAll ? pwbCancelAll
                                                   : pwbAbort;
    return answer == pwbOk ? dlg.edPassword()->text() : QString();
}

QString TZipArchiver::GetAddPassword()
{
    if (Unattended) {
        ShowZipMessage(10150);
        return {};
    }
    const QString title = LoadZipStr(10154, QString::fromUtf8(kZipMissingText));
    TPasswordButton answer;
    QString first = GetPassword(title, LoadZipStr(10155, QString()), {pwbOk, pwbCancel}, answer);
    if (answer != pwbOk || first.isEmpty())
        return {};
    QString second = GetPassword(title, LoadZipStr(10156, QString()), {pwbOk, pwbCancel}, answer);
    if (answer != pwbOk || second.isEmpty())
        return {};
    if (first != second) {
        ShowZipMessage(10104);
        return {};
    }
    return first;
}

QString TZipArchiver::GetExtrPassword()
{
    if (Unattended) {
        ShowZipMessage(10151);
        return {};
    }
    TPasswordButton answer;
    return GetPassword(LoadZipStr(10154, QString::fromUtf8(kZipMissingText)), LoadZipStr(10155, QString()),
        {pwbOk, pwbCancel, pwbCancelAll}, answer);
}

// ---------------------------------------------------------------- files

int TZipArchiver::EraseFile(const QString& name, DeleteOpts how)
{
    QString full = name;
    if (!name.contains(QLatin1Char('/')))
        full = QDir::currentPath() + QLatin1Char('/') + name;
    QFileInfo fi(full);
    if (!fi.exists() && !fi.isSymLink())
        return -1;
    if (how != htdAllowUndo)
        return QFile::remove(full) ? 0 : (errno ? errno : 1);
    // The trash lives in the user's data folder: without that folder the
    // system's trash would take the current directory for it, and the file
    // would go there.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return EACCES;
    QString trashed;
    if (!QFile::moveToTrash(full, &trashed))
        return errno ? errno : 1;
    if (!QDir::isAbsolutePath(trashed)) {
        // a trash the system made of the current directory: put back
        QFile::rename(trashed, full);
        return EACCES;
    }
    return 0;
}

QString TZipArchiver::MakeTempFileName(const QString& prefix, const QString& extension)
{
    const QString pre = prefix.isEmpty() ? QStringLiteral("zip") : prefix;
    const QString ext = extension.isEmpty() ? QStringLiteral(".zip") : extension;
    QString dir;
    if (!TempDir.isEmpty()) {
        if (!TempDir.endsWith(QLatin1Char('/')))
            TempDir += QLatin1Char('/');
        dir = TempDir;
    } else {
        dir = QDir::tempPath() + QLatin1Char('/');
    }
    QByteArray tmpl = QFile::encodeName(dir + pre + QStringLiteral("XXXXXX"));
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return {};
    close(fd);
    QString made = QFile::decodeName(tmpl);
    QFile::remove(made);
    return made + ext;
}

int TZipArchiver::CopyBuffer(QFile& in, QFile& out, qint64 length)
{
    try {
        QByteArray buf(8192, Qt::Uninitialized);
        qint64 left = length;
        for (;;) {
            qint64 want = left < 0 ? 8192 : qMin<qint64>(8192, left);
            qint64 got = in.read(buf.data(), want);
            if (got < 0)
                got = 0;
            if (out.write(buf.constData(), got) < got)
                return -2;
            if (ShowProgress && OnProgress)
                OnProgress(this, ProgressUpdate, QString(), got);
            if (left > 0)
                left -= got;
            QCoreApplication::processEvents();
            if (left == 0 || got < want)
                return 0;
        }
    } catch (...) {
        return -2;
    }
}
