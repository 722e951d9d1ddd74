#pragma once
// TZipArchiver: the zip component of the backup screens. It keeps the
// settings of an archive job, reads the directory of an archive itself
// (List), hands add and extract jobs to the two archive libraries it loads
// at run time (libzipeng.so, libunzeng.so: platform/zipeng/ZipEngAbi.h),
// and reports through its events and one message mechanism. Everything
// runs on the GUI thread; the libraries call back on it during a job.
#include "zip/ZipIcon.h"

#include <QByteArray>
#include <QCursor>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/os/Volumes.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace zipeng {
struct CallbackRecord;
struct ZipParams;
struct UnzParams;
}  // namespace zipeng

// The component's exception: a message id of its table, and whether the
// text is meant for a box.
class EZipArchiver : public std::runtime_error {
public:
    static EZipArchiver CreateResDisp(int id, bool display);
    static EZipArchiver CreateResFmtInt(int id, int arg);
    static EZipArchiver CreateResFmtStr(int id, const QString& arg);
    // The text of the id followed by " : " and the file it is about.
    static EZipArchiver CreateResDispFile(int id, const QString& file);
    // An id whose text in the table is meant for another use, with its own
    // text for this one; for a box.
    static EZipArchiver CreateText(int id, const QString& text) { return EZipArchiver(id, text, true); }
    QString Message() const { return message_; }
    bool DisplayMsg = false;
    int ResId = 0;

private:
    EZipArchiver(int id, const QString& text, bool display);
    QString message_;
};

// One central-directory entry as List keeps it.
struct ZipDirEntry {
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t ModDateTime = 0;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;
    uint16_t CommentLength = 0;
    uint16_t DiskStart = 0;
    uint16_t InternalAttrs = 0;
    uint32_t ExternalAttrs = 0;
    uint32_t LocalHeaderOffset = 0;
    QString FileName;  // "/" turned into "\"
    QString FileComment;
    bool Encrypted = false;
    QByteArray ExtraData;  // empty when ExtraLength is 0
};

// A memory stream the libraries may write into (callback action 13).
class TZipStream {
public:
    bool SetSize(qint64 size);
    void SetPointer(void* address, qint64 size);
    void* Memory() { return external_ ? external_ : static_cast<void*>(buffer_.data()); }
    qint64 Size() const { return external_ ? externalSize_ : buffer_.size(); }

private:
    QByteArray buffer_;
    void* external_ = nullptr;
    qint64 externalSize_ = 0;
};

// Fixed records of 284 bytes for the multi-volume code: the entry name
// from byte 10, zero-terminated, at most 255 characters.
class TMZipDataList {
public:
    static constexpr int kRecordSize = 284;
    explicit TMZipDataList(int count);
    unsigned char* GetItem(int index);
    int IndexOf(const QString& name) const;
    int Count() const { return int(records_.size()); }

private:
    std::vector<std::unique_ptr<unsigned char[]>> records_;
};

enum AddOptsEnum {
    AddDirNames,
    AddRecurseDirs,
    AddMove,
    AddFreshen,
    AddUpdate,
    AddZipTime,
    AddForceDOS,
    AddHiddenFiles,
    AddArchiveOnly,
    AddResetArchive,
    AddEncrypt,
    AddSeparateDirs,
    AddVolume,
    AddFromDate,
    AddDiskSpan,
    AddDiskSpanErase
};
enum ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };
enum AddStoreSuffixEnum {
    assGIF,
    assPNG,
    assZ,
    assZIP,
    assZOO,
    assARC,
    assLZH,
    assARJ,
    assTAZ,
    assTGZ,
    assLHA,
    assRAR,
    assACE,
    assCAB,
    assGZ,
    assGZIP,
    assJAR,
    assEXE
};
enum CodePageOpts { cpAuto, cpNone, cpOEM };
enum DeleteOpts { htdFinal, htdAllowUndo };
enum ProgressType { NewFile, ProgressUpdate, EndOfBatch, TotalFiles2Process, TotalSize2Process };
enum UnZipSkipTypes {
    stOnFreshen,
    stNoOverwrite,
    stFileExists,
    stBadPassword,
    stNoEncryptionDLL,
    stCompressionUnknown,
    stUnknownZipHost,
    stZipFileFormatWrong,
    stGeneralExtractError
};
enum TPasswordButton { pwbOk, pwbCancel, pwbCancelAll, pwbAbort };
enum ZipDiskStatusEnum { zdsEmpty, zdsHasFiles, zdsPreviousDisk, zdsSameFileName, zdsNotEnoughSpace };
enum TZipDiskAction { zdaOk, zdaErase, zdaReject, zdaCancel };
enum SFXOptsEnum { SFXAskCmdLine, SFXAskFiles, SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize, SFXNoSuccessMsg };
enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };

// A set of enumeration members, a member's bit being its ordinal.
template <typename E> struct ZSet {
    uint32_t bits = 0;
    ZSet() = default;
    ZSet(std::initializer_list<E> l)
    {
        for (E e : l)
            bits |= 1u << e;
    }
    bool Has(E e) const { return bits & (1u << e); }
    ZSet& operator<<(E e)
    {
        bits |= 1u << e;
        return *this;
    }
    ZSet& operator>>(E e)
    {
        bits &= ~(1u << e);
        return *this;
    }
    bool operator==(const ZSet&) const = default;
    bool Empty() const { return bits == 0; }
};
using AddOpts = ZSet<AddOptsEnum>;
using ExtrOpts = ZSet<ExtrOptsEnum>;
using AddStoreExts = ZSet<AddStoreSuffixEnum>;
using TPasswordButtons = ZSet<TPasswordButton>;
using TZipDiskStatus = ZSet<ZipDiskStatusEnum>;
using SFXOpts = ZSet<SFXOptsEnum>;

class TZipArchiver : public QObject {
    Q_OBJECT
public:
    explicit TZipArchiver(QObject* owner = nullptr);
    ~TZipArchiver() override;

    // --- published properties (defaults as set by the constructor)
    bool Verbose = false;
    bool Trace = false;
    int AddCompLevel = 9;
    AddOpts AddOptions;
    QDate AddFrom;
    QString ExtrBaseDir;
    ExtrOpts ExtrOptions;
    bool Unattended = false;
    // The owner says every failure in its own words, in one box: the
    // component's messages reach OnMessage and Message only, never a box of
    // their own. Its questions (the disks, the passwords) are still asked.
    bool QuietMessages = false;
    QString Password;  // at most 255 characters
    QString TempDir;
    CodePageOpts CodePage = cpAuto;
    DeleteOpts HowToDelete = htdAllowUndo;
    AddStoreExts AddStoreSuffixes;
    bool UseDirOnlyEntries = false;
    QString RootDir;
    bool ConfirmErase = true;
    bool FormatErase = false;
    int KeepFreeOnDisk1 = 0;
    int MaxVolumeSize = 0;
    int MinFreeVolumeSize = 65536;
    QString SFXCaption = QStringLiteral("Self-extracting Archive");
    QString SFXCommandLine;
    QString SFXDefaultDir;
    const TIcon& SFXIcon() const { return sfxIcon_; }
    void SetSFXIcon(const TIcon& icon) { sfxIcon_.Assign(icon); }
    QString SFXMessage;
    SFXOpts SFXOptions{SFXCheckSize};
    OvrOpts SFXOverWriteMode = OvrConfirm;
    QString SFXPath = QStringLiteral("SfxStub.bin");

    const QStringList& FSpecArgs() const { return fspecArgs_; }
    QStringList& FSpecArgsRef() { return fspecArgs_; }
    void SetFSpecArgs(const QStringList& l) { fspecArgs_ = l; }
    const QStringList& FSpecArgsExcl() const { return fspecArgsExcl_; }
    void SetFSpecArgsExcl(const QStringList& l) { fspecArgsExcl_ = l; }
    QString ZipFileName() const { return zipFileName_; }
    void SetZipFileName(const QString& name);
    QString DLLDirectory() const { return dllDirectory_; }
    void SetDLLDirectory(const QString& dir);
    int MinZipEngVers() const { return minZipEngVers_; }
    void SetMinZipEngVers(int v)
    {
        if (v >= 170)
            minZipEngVers_ = v;
    }
    int MinUnzEngVers() const { return minUnzEngVers_; }
    void SetMinUnzEngVers(int v)
    {
        if (v >= 170)
            minUnzEngVers_ = v;
    }
    QString VersionInfo() const { return QStringLiteral("1.70"); }
    void SetVersionInfo(const QString&) { }
    unsigned PasswordReqCount() const { return passwordReqCount_; }
    void SetPasswordReqCount(unsigned v) { passwordReqCount_ = qMin(v, 15u); }
    // The form designer flag: nothing is read while it is set.
    bool Designing = false;

    // --- events (all optional)
    std::function<void(TZipArchiver*)> OnDirUpdate;
    std::function<void(TZipArchiver*, ProgressType, const QString& fileName, qint64 fileSize)> OnProgress;
    std::function<void(TZipArchiver*, int errCode, const QString& message)> OnMessage;
    std::function<void(TZipArchiver*, QString& oldFileName, bool& isChanged)> OnSetNewName;
    std::function<void(TZipArchiver*, int seqNo, const ZipDirEntry& entry)> OnNewName;
    std::function<void(TZipArchiver*, const QString& forFile, uint32_t foundCrc, uint32_t expectedCrc, bool& doExtract)>
        OnCRC32Error;
    std::function<void(TZipArchiver*, bool isZipAction, QString& newPassword, const QString& forFile,
        unsigned& repeatCount, TPasswordButton& action)>
        OnPasswordError;
    std::function<void(TZipArchiver*, const QString& forFile, bool isOlder, bool& doOverwrite, int dirIndex)>
        OnExtractOverwrite;
    std::function<void(TZipArchiver*, const QString& forFile, UnZipSkipTypes skipType, int extError)> OnExtractSkipped;
    std::function<void(TZipArchiver*, const QString& forFile, bool& doOverwrite)> OnCopyZipOverwrite;
    std::function<void(TZipArchiver*, const QString& forFile, QString& fileComment, bool& isChanged)> OnFileComment;
    std::function<void(TZipArchiver*, int diskSeqNo, int diskTotal, const QString& drive, bool& abortAction)>
        OnGetNextDisk;
    std::function<void(
        TZipArchiver*, int previousDisk, const QString& previousFile, TZipDiskStatus status, TZipDiskAction& action)>
        OnStatusDisk;

    // --- public state
    void* Handle = nullptr;
    int ErrCode = 0;
    int FullErrCode = 0;
    QString Message;
    int SuccessCnt = 0;
    bool Cancel = false;
    bool ZipBusy = false;
    bool UnzBusy = false;
    const QList<ZipDirEntry*>& ZipContents() const { return zipContents_; }
    int Count() const { return zipFileName_.isEmpty() ? 0 : int(zipContents_.size()); }
    QString ZipComment;
    bool IsSpanned = false;
    int DirOnlyCount = 0;
    qint64 SFXOffset = 0, ZipEOC = 0, ZipSOC = 0, FileSize = 0, RealFileSize = 0;
    int TotalDisks = 0;
    bool OffsetsDiffer = false;
    int DiskNr = 0;
    QString Drive, VolumeLabel, InFileName;
    std::unique_ptr<QFile> InHandle;
    qint64 DiskFree = 0, DiskSize = 0;  // of the disk in Drive; DiskFree: room left on the open volume
    uint32_t VolumeSerial = 0;
    bool ShowProgress = false;
    int HostSystem = 0, HostVersion = 0;
    qint64 TotalSizeToProcess = 0;
    TZipStream ZipStream;

    // --- operations
    void List();
    bool CheckIfLastDisk(unsigned char endRecord[22], bool raise);
    void Add();
    void Extract();
    int EraseFile(const QString& name, DeleteOpts how);
    QString MakeTempFileName(const QString& prefix = {}, const QString& extension = {});
    int CopyBuffer(QFile& in, QFile& out, qint64 length);

    // Multi-volume archives (ZipSpan.cpp): the volumes of a set as disks of a
    // removable drive, all under the archive's name and labelled "PKBACK# 001",
    // "PKBACK# 002"...; or as numbered files (Korvale001.zip...) on a fixed
    // or network drive. Results 0, -7 (component error), -8 (memory), -9.
    // The disks (ZipDisk.cpp): Drive is the root of the volume holding the set.
    void DiskFreeAndSize(int which);  // 1: DiskFree, 2: DiskSize
    kos::DriveType AskForDisk(bool forWriting);
    bool IsRightDisk(kos::DriveType type);
    int ClearFloppy();
    int FormatFloppy(const QString& drive);
    void EraseFloppyFiles(const QString& dir);
    static QString AppendSlash(const QString& dir);
    static QString SlashToBackslash(const QString& name);
    static QString BufferToString(const char* buffer, int n);
    // The three digits of volume DiskNr (from 0): 001 for the first, 000 for the 1000th.
    static QString VolumeDigits(int diskNr);
    // Name with the digits of volume DiskNr inserted before its extension.
    static QString NumberedName(const QString& name, int diskNr);

    void ShowZipMessage(int id, const QString& extra = {});
    static QString LoadZipStr(int id, const QString& defaultText);
    void TraceMessage(const QString& text);
    void ShowExceptionError(const EZipArchiver& e);
    QString ConvertOemName(const QByteArray& name, bool toOem) const;
    void StartWaitCursor();
    void StopWaitCursor();

    int LoadZipEng();
    int LoadUnzEng();
    void UnloadZipEng();
    void UnloadUnzEng();
    int EnsureZipEng(bool& loadedHere);
    int EnsureUnzEng(bool& loadedHere);
    QString GetZipEngPath(void* module);
    QString GetUnzEngPath(void* module);
    static QString JoinPath(const QString& dir, const QString& name);
    bool ZipEngLoaded() const { return zipLib_.module != nullptr; }
    bool UnzEngLoaded() const { return unzLib_.module != nullptr; }

    // The password dialogs of the callback's password request.
    QString GetPassword(const QString& title, const QString& prompt, TPasswordButtons buttons, TPasswordButton& answer);
    QString GetAddPassword();
    QString GetExtrPassword();

    // The callback of both libraries.
    static int32_t ZCallback(zipeng::CallbackRecord* record);

    // Multi-volume and self-extractor steps; they come with their own code.
    bool CheckForDisk();
    void GetNewDisk(int diskSeq);
    int WriteSpan(const QString& inFile, const QString& outFile);
    int ReadSpan(const QString& inFile, QString& outFile);
    int ConvertSFX();
    bool SFXCreating = false;

    // Block filling (exposed to check the layout).
    struct JobTexts;
    void SetZipSwitches(zipeng::ZipParams& p, JobTexts& texts, const QString& archive, int version);
    void SetUnzSwitches(zipeng::UnzParams& p, JobTexts& texts, const QString& archive, int version);
    static QString StoreSuffixList(AddStoreExts set);
    void FillZipSpecs(zipeng::ZipParams& p, JobTexts& texts);

    // Self-extracting programs (ZipSfx.cpp). The directory reader's flag that
    // the central directory is not where the end record says.
    bool& CentralDirShifted = OffsetsDiffer;
    // The directories that stand for the system's in the stub search; empty:
    // the shipped-files directories (kos::ShippedDirs).
    QStringList SFXSystemDirs;
    // Size of the program icon's image: one 32 x 32 image with 16 colours,
    // held in the stub's ELF section ".kicon".
    static constexpr int kSfxIconImageSize = 744;
    int ReplaceIcon(QFile& out, qint64 stubLength);
    int CopyAndAdjustCentralDir(QFile& out, const unsigned char endRecord[22], qint64 shift);

private:
    void FreeContents();
    int LoadLib(bool zip);
    void UnloadLib(bool zip);
    int EnsureLib(bool zip, bool& loadedHere);
    QString LibPath(bool zip, void* module);
    void DoCallback(zipeng::CallbackRecord* r);

    struct Lib {
        void* module = nullptr;
        void* exec = nullptr;
        void* version = nullptr;
    };
    Lib zipLib_, unzLib_;
    QStringList fspecArgs_, fspecArgsExcl_;
    QString zipFileName_;
    QString dllDirectory_;
    int minZipEngVers_ = 170, minUnzEngVers_ = 170;
    unsigned passwordReqCount_ = 1;
    QList<ZipDirEntry*> zipContents_;
    QByteArray commentBytes_;  // the archive comment as List found it
    QString commentRead_;  // and as it was shown in ZipComment
    // Spanning state of one WriteSpan or ReadSpan.
    QString SpanOutName;
    std::unique_ptr<QFile> SpanOutHandle;
    QDateTime SpanDateStamp;
    qint64 BytesOnVolume = 0;
    bool NewDiskWanted = false;
    TZipDiskStatus DiskStatus;
    TZipDiskAction DiskAction = zdaOk;
    QStringList spanWritten_;  // the volume files WriteSpan opened
    void WriteSplit(const char* buffer, qint64 length, qint64 minRoom);
    void RWSplitData(qint64 length, int errorId);
    void WriteJoin(const char* buffer, qint64 length, int errorId);
    void RWJoinData(qint64 length, int errorId);
    void OpenVolume();
    void CloseVolume(bool check);
    bool ReadAcross(char* buffer, qint64 length);
    void FollowMedium();
    int waitCount_ = 0;
    int lastModalResult_ = 0;
    std::exception_ptr pending_;  // raised by an event handler during a library call
    TIcon sfxIcon_;
};

// The message table: the text of an id, or a null string when it has none.
QString ZipMessageText(int id);
// The text shown for an id without text.
extern const char* const kZipMissingText;
