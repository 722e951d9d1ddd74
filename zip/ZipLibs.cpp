// TZipArchiver: loading the two archive libraries, filling their blocks,
// and the callback through which they report during a job.
#include "zip/ZipArch.h"
#include "zip/ZipJobTexts.h"

#include "platform/zipeng/ZipEngAbi.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <dlfcn.h>
#include <link.h>

namespace {

const char* const kLibFile[2] = {"libunzeng.so", "libzipeng.so"};
const char* const kExecName[2] = {"UnzEngExec", "ZipEngExec"};
const char* const kVersionName[2] = {"GetUnzEngVersion", "GetZipEngVersion"};
const int kIdBase[2] = {10700, 10600};

using VersionFn = int32_t (*)();

const char* const kSuffix[18] = {"gif", "png", "z", "zip", "zoo", "arc", "lzh", "arj", "taz", "tgz", "lha", "rar",
    "ace", "cab", "gz", "gzip", "jar", "exe"};

}  // namespace

QString TZipArchiver::JoinPath(const QString& dir, const QString& name)
{
    if (dir.isEmpty() || name.isEmpty() || dir.endsWith(QLatin1Char(':')))
        return dir + name;
    bool a = dir.endsWith(QLatin1Char('/')), b = name.startsWith(QLatin1Char('/'));
    if (!a && !b)
        return dir + QLatin1Char('/') + name;
    if (a && b)
        return dir + name.mid(1);
    return dir + name;
}

int TZipArchiver::LoadLib(bool zip)
{
    Lib& lib = zip ? zipLib_ : unzLib_;
    const QString file = QString::fromLatin1(kLibFile[zip]);
    QString path;
    if (!dllDirectory_.isEmpty()) {
        path = JoinPath(dllDirectory_, QLatin1Char('/') + file);
        if (!QFileInfo::exists(path)) {
            path = JoinPath(QCoreApplication::applicationDirPath(), path);
            if (!(dllDirectory_.startsWith(QLatin1Char('.')) && QFileInfo::exists(path)))
                path.clear();
        }
    }
    if (path.isEmpty())
        path = file;
    try {
        void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (h) {
            lib.module = h;
            if (Trace)
                ShowZipMessage(kIdBase[zip] + 1, QLatin1Char(' ') + LibPath(zip, h));
            lib.exec = dlsym(h, kExecName[zip]);
            if (!lib.exec)
                ShowZipMessage(kIdBase[zip] + 2);
            lib.version = dlsym(h, kVersionName[zip]);
            if (!lib.version)
                ShowZipMessage(kIdBase[zip] + 3);
        } else {
            lib.module = nullptr;
            ShowZipMessage(kIdBase[zip] + 4);
        }
    } catch (...) {
    }
    int version = lib.module && lib.exec && lib.version ? reinterpret_cast<VersionFn>(lib.version)() : 0;
    if (version == 0) {
        UnloadLib(zip);
        ShowZipMessage(kIdBase[zip] + 4, QStringLiteral(" unloaded"));
    }
    return version;
}

void TZipArchiver::UnloadLib(bool zip)
{
    Lib& lib = zip ? zipLib_ : unzLib_;
    if (lib.module)
        dlclose(lib.module);
    lib = Lib{};
}

int TZipArchiver::EnsureLib(bool zip, bool& loadedHere)
{
    Lib& lib = zip ? zipLib_ : unzLib_;
    loadedHere = false;
    int version;
    if (!lib.module) {
        version = LoadLib(zip);
        loadedHere = version != 0;
    } else {
        version = lib.version ? reinterpret_cast<VersionFn>(lib.version)() : 0;
    }
    if (version < (zip ? minZipEngVers_ : minUnzEngVers_)) {
        ShowZipMessage(kIdBase[zip] + 5, LibPath(zip, lib.module));
        UnloadLib(zip);
        loadedHere = false;
        return 0;
    }
    if (Verbose && OnMessage)
        OnMessage(this, 0,
            QStringLiteral("Loaded %1 ver: %2 from %3")
                .arg(zip ? QStringLiteral("ZipEng") : QStringLiteral("UnzEng"))
                .arg(version)
                .arg(LibPath(zip, lib.module)));
    return version;
}

QString TZipArchiver::LibPath(bool zip, void* module)
{
    if (!module) {
        if ((zip ? zipLib_ : unzLib_).module)
            return LibPath(zip, (zip ? zipLib_ : unzLib_).module);
        if (LoadLib(zip) == 0)
            return {};
        QString p = LibPath(zip, (zip ? zipLib_ : unzLib_).module);
        UnloadLib(zip);
        return p;
    }
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return QFileInfo(QFile::decodeName(map->l_name)).absoluteFilePath().left(4096);
}

int TZipArchiver::LoadZipEng()
{
    return LoadLib(true);
}
int TZipArchiver::LoadUnzEng()
{
    return LoadLib(false);
}
void TZipArchiver::UnloadZipEng()
{
    UnloadLib(true);
}
void TZipArchiver::UnloadUnzEng()
{
    UnloadLib(false);
}
int TZipArchiver::EnsureZipEng(bool& loadedHere)
{
    return EnsureLib(true, loadedHere);
}
int TZipArchiver::EnsureUnzEng(bool& loadedHere)
{
    return EnsureLib(false, loadedHere);
}
QString TZipArchiver::GetZipEngPath(void* module)
{
    return LibPath(true, module);
}
QString TZipArchiver::GetUnzEngPath(void* module)
{
    return LibPath(false, module);
}

// ---------------------------------------------------------------- blocks

QString TZipArchiver::StoreSuffixList(AddStoreExts set)
{
    QString s;
    for (int e = assGIF; e <= assEXE; ++e)
        if (set.Has(AddStoreSuffixEnum(e)))
            s += QLatin1Char('.') + QLatin1String(kSuffix[e]) + QLatin1Char(':');
    s.chop(s.isEmpty() ? 0 : 1);
    return s;
}

void TZipArchiver::SetZipSwitches(zipeng::ZipParams& p, JobTexts& t, const QString& archive, int version)
{
    auto flag = [](bool b) { return b ? -1 : 0; };
    const AddOpts& o = AddOptions;
    p.handle = Unattended ? nullptr : Handle;
    p.caller = this;
    p.version = version;
    p.callback = &TZipArchiver::ZCallback;
    p.trace = flag(Trace);
    p.password = Password.isEmpty() ? nullptr : t.Text(Password.left(81));
    QString suffixes = StoreSuffixList(AddStoreSuffixes);
    p.storeSuffixes = suffixes.isEmpty() ? nullptr : t.Text(suffixes);
    p.encrypt = flag(o.Has(AddEncrypt));
    p.hiddenFiles = flag(o.Has(AddHiddenFiles));
    p.volume = flag(o.Has(AddVolume));
    p.noDirEntries = flag(!o.Has(AddSeparateDirs));
    p.fromDate = flag(o.Has(AddFromDate));
    p.verbose = flag(Verbose || Trace);
    p.always56 = -1;
    p.level = AddCompLevel;
    p.junkDirs = flag(!o.Has(AddDirNames));
    p.recurse = o.Has(AddRecurseDirs) ? 0xFFFF : 0;
    p.always80 = -1;
    p.forceDos = flag(o.Has(AddForceDOS));
    p.move = flag(o.Has(AddMove));
    p.update = flag(o.Has(AddUpdate));
    p.freshen = flag(o.Has(AddFreshen) && !o.Has(AddUpdate));
    p.zipTime = flag(o.Has(AddZipTime));
    QDate d = AddFrom.isValid() ? AddFrom : QDate(1899, 12, 30);
    QByteArray date = d.toString(QStringLiteral("MM dd yy")).toLatin1().leftJustified(8, ' ', true);
    std::memcpy(p.date, date.constData(), 8);
    p.archive = t.Text(archive);
    p.tempDir = TempDir.isEmpty() ? nullptr : t.Text(TempDir);
    // the comment read from the archive goes back byte for byte; one the
    // owner set is written in UTF-8
    if (ZipComment.isEmpty()) {
        p.comment = nullptr;
    } else if (ZipComment == commentRead_ && !commentBytes_.isEmpty()) {
        t.texts.push_back(commentBytes_);
        p.comment = t.texts.back().constData();
    } else {
        p.comment = t.Text(ZipComment);
    }
    p.archiveOnly = o.Has(AddArchiveOnly) ? 1 : 0;
    p.resetArchive = o.Has(AddResetArchive) ? 1 : 0;
    p.exclCount = int32_t(fspecArgsExcl_.size());
    for (const QString& line : fspecArgsExcl_)
        t.excl.push_back(t.Text(line));
    p.excl = t.excl.empty() ? nullptr : t.excl.data();
    p.howToDelete = HowToDelete == htdAllowUndo ? -1 : 0;
    p.codePage = CodePage == cpOEM ? 2 : 0;
}

void TZipArchiver::FillZipSpecs(zipeng::ZipParams& p, JobTexts& t)
{
    t.zipSpecs.assign(size_t(fspecArgs_.size()), zipeng::ZipFileSpec{});
    const char* root = RootDir.isEmpty() ? nullptr : t.Text(QFileInfo(RootDir).absoluteFilePath());
    for (int i = 0; i < fspecArgs_.size(); ++i) {
        zipeng::ZipFileSpec& s = t.zipSpecs[size_t(i)];
        QString line = fspecArgs_[i];
        s.recurse = p.recurse;
        if (line.startsWith(QLatin1Char('>'))) {
            s.recurse = 0xFFFF;
            line.remove(0, 1);
        } else if (line.startsWith(QLatin1Char('|'))) {
            s.recurse = 0;
            line.remove(0, 1);
        }
        s.encrypt = p.encrypt;
        s.password = p.password ? t.Text(QString::fromUtf8(p.password)) : nullptr;
        int lt = line.indexOf(QLatin1Char('<'));
        if (lt >= 0) {
            QString pw = line.mid(lt + 1);
            s.password = nullptr;
            if (!pw.isEmpty()) {
                s.password = t.Text(pw);
                s.encrypt = 65535;
            } else
                s.encrypt = 0;
            line.truncate(lt);
        }
        s.fileSpec = t.Text(line);
        s.rootDir = root;
    }
    p.fileSpecs = t.zipSpecs.empty() ? nullptr : t.zipSpecs.data();
}

void TZipArchiver::SetUnzSwitches(zipeng::UnzParams& p, JobTexts& t, const QString& archive, int version)
{
    auto flag = [](bool b) { return b ? -1 : 0; };
    const ExtrOpts& o = ExtrOptions;
    p.handle = Unattended ? nullptr : Handle;
    p.caller = this;
    p.version = version;
    p.callback = &TZipArchiver::ZCallback;
    p.trace = flag(Trace);
    p.password = t.Text(Password);
    p.test = flag(o.Has(ExtrTest));
    p.always40 = -1;
    p.verbose = flag(Verbose || Trace);
    p.update = flag(o.Has(ExtrUpdate));
    p.freshen = flag(o.Has(ExtrFreshen) && !o.Has(ExtrUpdate));
    p.dirNames = flag(o.Has(ExtrDirNames));
    p.overwrite = flag(o.Has(ExtrOverWrite));
    p.archive = t.Text(archive);
    p.passwordReqCount = int32_t(passwordReqCount_);
}

// ---------------------------------------------------------------- callback

int32_t TZipArchiver::ZCallback(zipeng::CallbackRecord* r)
{
    // No exception may cross the library: one raised here is kept, the job
    // is stopped, and the component raises it again once the library returns.
    auto* self = r ? qobject_cast<TZipArchiver*>(static_cast<QObject*>(r->caller)) : nullptr;
    if (!self)
        return -1;
    try {
        self->DoCallback(r);
    } catch (...) {
        self->pending_ = std::current_exception();
        return -1;
    }
    int32_t result = self->Cancel ? -1 : 0;
    QCoreApplication::processEvents();
    return result;
}

void TZipArchiver::DoCallback(zipeng::CallbackRecord* r)
{
    QString name = QString::fromUtf8(r->text, int(strnlen(r->text, sizeof r->text)));
    while (!name.isEmpty() && name.back().unicode() <= 32)
        name.chop(1);
    // A message names files as the system does: only the entry names the
    // events carry take the backslashes of the component's interface.
    const QString text = name;
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    auto writeText = [r](const QString& s, int max) {
        QByteArray b = s.toUtf8().left(max);
        std::memset(r->text, 0, sizeof r->text);
        std::memcpy(r->text, b.constData(), size_t(b.size()));
    };
    switch (r->action) {
    case zipeng::actNewFile:
        if (OnProgress)
            OnProgress(this, NewFile, name, r->value2);
        break;
    case zipeng::actProgress:
        if (OnProgress)
            OnProgress(this, ProgressUpdate, QString(), r->value2);
        break;
    case zipeng::actEndOfBatch:
        if (OnProgress)
            OnProgress(this, EndOfBatch, QString(), 0);
        break;
    case zipeng::actMessage:
        Message = text;
        if (r->value1 != 0) {
            ErrCode = r->value1 & 0xFF;
            FullErrCode = r->value1;
        }
        if (OnMessage)
            OnMessage(this, r->value1, text);
        break;
    case zipeng::actTotalFiles:
        if (OnProgress)
            OnProgress(this, TotalFiles2Process, QString(), r->value2);
        break;
    case zipeng::actTotalSize:
        TotalSizeToProcess = r->value2;
        if (OnProgress)
            OnProgress(this, TotalSize2Process, QString(), r->value2);
        break;
    case zipeng::actNewName:
        if (OnSetNewName) {
            bool changed = false;
            QString n = name;
            OnSetNewName(this, n, changed);
            if (changed) {
                writeText(n, 511);
                r->value1 = 1;
            } else
                r->value1 = 0;
        }
        break;
    case zipeng::actPassword: {
        QString pw;
        unsigned repeat = unsigned(r->value2);
        bool cancelAll = false, abort = false;
        if (OnPasswordError) {
            TPasswordButton action = pwbOk;
            OnPasswordError(this, r->isZip != 0, pw, name, repeat, action);
            if (action != pwbOk)
                pw.clear();
            cancelAll = action == pwbCancelAll;
            abort = action == pwbAbort;
        } else {
            lastModalResult_ = 0;
            pw = (r->value1 & 1) ? GetAddPassword() : GetExtrPassword();
            cancelAll = lastModalResult_ == 9;
            abort = lastModalResult_ == 3;
        }
        if (!pw.isEmpty()) {
            writeText(pw, 80);
            r->value1 = 1;
        } else {
            r->value1 = 0;
            repeat = 0;
        }
        r->value2 = intptr_t(qMin(repeat, 15u));
        if (cancelAll)
            r->action = 0;
        if (abort)
            Cancel = true;
        break;
    }
    case zipeng::actCrcError: {
        bool doExtract = true;
        if (OnCRC32Error) {
            OnCRC32Error(this, name, uint32_t(r->value1), uint32_t(r->value2), doExtract);
            r->value1 = doExtract ? 1 : 0;
        } else {
            r->value1 = 2;
        }
        break;
    }
    case zipeng::actOverwrite:
        if (OnExtractOverwrite) {
            bool doOverwrite = (r->value2 & 0xFF) != 0;
            OnExtractOverwrite(this, name, (r->value1 >> 16) & 1, doOverwrite, r->value1 & 0xFFFF);
            r->value2 = doOverwrite ? 1 : 0;
        }
        break;
    case zipeng::actSkipped:
        if (r->value1 != 0) {
            ErrCode = r->value1 & 0xFF;
            FullErrCode = r->value1;
        }
        if (OnExtractSkipped)
            OnExtractSkipped(this, name, UnZipSkipTypes((r->value2 & 0xFF) - 1), r->value1);
        break;
    case zipeng::actComment:
        if (OnFileComment) {
            QString comment(QChar(uchar(r->text[zipeng::kCommentByte])));
            bool changed = false;
            OnFileComment(this, name, comment, changed);
            QByteArray b = comment.toUtf8().left(511);
            writeText(changed && !comment.isEmpty() ? comment : QString(), 511);
            r->value1 = changed ? 1 : 0;
            r->value2 = qMin<intptr_t>(b.size(), 511);
        }
        break;
    case zipeng::actBuffer:
        if (ZipStream.SetSize(r->value2)) {
            if (r->value1 != 1)
                r->value2 = reinterpret_cast<intptr_t>(ZipStream.Memory());
        } else {
            r->value1 = 1;
            r->value2 = 0;
        }
        break;
    default:
        break;
    }
}
