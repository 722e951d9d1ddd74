#pragma once
// Call interface of the two archive libraries (libzipeng.so: add, update,
// move, encrypt; libunzeng.so: extract, test), included by both libraries
// and by the component that loads them.
//
// The blocks keep the field order and meaning of the original 32-bit layout
// (its offsets are given in the comments as "old NNN"); on a 64-bit system
// pointers and handles take their native width, so the offsets of this
// build are the ones the static_asserts below check. Each block is
// allocated zero-filled; a 4-byte flag is -1 for true and 0 for false, a
// 2-byte flag 0xFFFF or 0; a text is a zero-terminated string owned by the
// caller.
#include <cstddef>
#include <cstdint>

namespace zipeng {

constexpr int kVersion = 171;  // reported by both libraries
constexpr int32_t kBlockCheck = 7;  // written last into every block

struct CallbackRecord;
using Callback = int32_t (*)(CallbackRecord*);

// One file specification of an add job.
struct ZipFileSpec {
    const char* fileSpec;  // old 0: the fileSpec (mask or file), no prefix, no password
    char reserved1[8];  // old 4..11
    const char* password;  // old 12: this fileSpec's password, or null
    int32_t encrypt;  // old 16: the block's flag, 65535 with an own password, 0 with an empty one
    uint16_t recurse;  // old 20: 0xFFFF recurse into sub-directories
    char reserved2[14];  // old 22..35
    const char* rootDir;  // old 36: base directory (full path), or null
    char reserved3[64];  // old 40..103
};

// The add job's block.
struct ZipParams {
    void* handle;  // old 0: window for the library's own windows, or null
    void* caller;  // old 4: returned in every callback record
    int32_t version;  // old 8
    int32_t pad0;
    Callback callback;  // old 12
    int32_t trace;  // old 16
    int32_t pad1;
    const char* password;  // old 20: null when none
    const char* storeSuffixes;  // old 24: ".gif:.png:..." or null
    int32_t encrypt;  // old 28
    int32_t hiddenFiles;  // old 32
    int32_t volume;  // old 36
    int32_t unused40;  // old 40
    int32_t noDirEntries;  // old 44: no separate directory entries
    int32_t fromDate;  // old 48: only files dated from `date`
    int32_t verbose;  // old 52
    int32_t always56;  // old 56: -1
    int32_t level;  // old 60: 0..9
    int32_t unused64;  // old 64
    int32_t unused68;  // old 68
    int32_t junkDirs;  // old 72: names stored without their directories
    uint16_t recurse;  // old 76: 2-byte flag
    uint16_t unused78;
    int32_t always80;  // old 80: -1
    int32_t forceDos;  // old 84
    int32_t move;  // old 88: delete the files once archived
    int32_t unused92;  // old 92
    int32_t update;  // old 96
    int32_t freshen;  // old 100
    int32_t unused104;  // old 104
    int32_t zipTime;  // old 108: archive dated as its newest entry
    char date[8];  // old 112: "mm dd yy", no terminator
    int32_t specCount;  // old 120
    int32_t pad2;
    const char* archive;  // old 124
    const char* tempDir;  // old 128: null for the system's
    const char* comment;  // old 132: archive comment, null for none
    uint16_t archiveOnly;  // old 136: 1 or 0
    uint16_t resetArchive;  // old 138: 1 or 0
    int32_t pad3;
    ZipFileSpec* fileSpecs;  // old 140
    int32_t unused144;  // old 144
    int32_t exclCount;  // old 148
    const char* const* excl;  // old 152
    char reserved156[32];  // old 156..187
    int32_t howToDelete;  // old 188: -1 allow undo
    uint16_t codePage;  // old 192: 2 = OEM
    char reserved194[18];  // old 194..211
    int32_t check;  // old 212: kBlockCheck
};

// One file specification of an extract job.
struct UnzFileSpec {
    const char* fileSpec;  // old 0
    char reserved[68];  // old 4..71
};

// The extract job's block.
struct UnzParams {
    void* handle;  // old 0
    void* caller;  // old 4
    int32_t version;  // old 8
    int32_t pad0;
    Callback callback;  // old 12
    int32_t trace;  // old 16
    int32_t unused20;  // old 20
    const char* password;  // old 24: never null
    int32_t test;  // old 28
    int32_t unused32;  // old 32
    int32_t unused36;  // old 36
    int32_t always40;  // old 40: -1
    int32_t verbose;  // old 44
    int32_t update;  // old 48
    int32_t freshen;  // old 52
    int32_t dirNames;  // old 56
    int32_t overwrite;  // old 60
    int32_t specCount;  // old 64: 0 = every entry
    const char* archive;  // old 68
    UnzFileSpec* fileSpecs;  // old 72
    char reserved76[28];  // old 76..103
    int32_t passwordReqCount;  // old 104
    int32_t pad2;
    const char* baseDir;  // old 108: null for the current directory
    char reserved112[32];  // old 112..143
    int32_t check;  // old 144: kBlockCheck
};

// Filled by the library for each callback. value2 holds a size, a count or
// (action 13) an address, hence its native width.
struct CallbackRecord {
    void* handle;  // old 0
    void* caller;  // old 4
    int32_t version;  // old 8
    int32_t isZip;  // old 12: non-zero in an add job
    int32_t action;  // old 16: 1..13
    int32_t value1;  // old 20: error code, status or flags; answer
    intptr_t value2;  // old 24: size, count, number or address; answer
    char text[512];  // old 28: name, message or answer
    char reserved[8];
};
constexpr int kCommentByte = 256;  // text[256]: old offset 284, the initial comment of action 12

// Callback actions.
enum Action : int32_t {
    actNewFile = 1,
    actProgress = 2,
    actEndOfBatch = 3,
    actMessage = 4,
    actTotalFiles = 5,
    actTotalSize = 6,
    actNewName = 7,
    actPassword = 8,
    actCrcError = 9,
    actOverwrite = 10,
    actSkipped = 11,
    actComment = 12,
    actBuffer = 13
};

// Skip reasons of action 11 (value2: reason + 1).
enum SkipReason : int32_t {
    skipOnFreshen = 1,
    skipNoOverwrite,
    skipFileExists,
    skipBadPassword,
    skipNoEncryption,
    skipCompressionUnknown,
    skipUnknownHost,
    skipFormatWrong,
    skipGeneralError
};

// Error codes of action 4 (value1) and 11; low byte is what the component keeps.
enum ErrorCode : int32_t {
    errNone = 0,
    errOpen = 0x101,
    errRead = 0x102,
    errWrite = 0x103,
    errFormat = 0x104,
    errLimit = 0x105,
    errCrc = 0x106,
    errPassword = 0x107,
    errUnsafeName = 0x108,
    errSpace = 0x109,
    errNothing = 0x10A,
    errCancelled = 0x10B,
    errMethod = 0x10C,
    errSize = 0x10D,
    errParams = 0x10E
};

#define ZE_OFF(T, f, n) static_assert(offsetof(T, f) == (n), #T "." #f)
static_assert(sizeof(void*) == 8, "the offsets below are those of a 64-bit system");
ZE_OFF(ZipFileSpec, fileSpec, 0);
ZE_OFF(ZipFileSpec, password, 16);
ZE_OFF(ZipFileSpec, encrypt, 24);
ZE_OFF(ZipFileSpec, recurse, 28);
ZE_OFF(ZipFileSpec, rootDir, 48);
static_assert(sizeof(ZipFileSpec) == 120);
ZE_OFF(ZipParams, handle, 0);
ZE_OFF(ZipParams, caller, 8);
ZE_OFF(ZipParams, version, 16);
ZE_OFF(ZipParams, callback, 24);
ZE_OFF(ZipParams, trace, 32);
ZE_OFF(ZipParams, password, 40);
ZE_OFF(ZipParams, storeSuffixes, 48);
ZE_OFF(ZipParams, encrypt, 56);
ZE_OFF(ZipParams, hiddenFiles, 60);
ZE_OFF(ZipParams, volume, 64);
ZE_OFF(ZipParams, unused40, 68);
ZE_OFF(ZipParams, noDirEntries, 72);
ZE_OFF(ZipParams, fromDate, 76);
ZE_OFF(ZipParams, verbose, 80);
ZE_OFF(ZipParams, always56, 84);
ZE_OFF(ZipParams, level, 88);
ZE_OFF(ZipParams, unused64, 92);
ZE_OFF(ZipParams, unused68, 96);
ZE_OFF(ZipParams, junkDirs, 100);
ZE_OFF(ZipParams, recurse, 104);
ZE_OFF(ZipParams, always80, 108);
ZE_OFF(ZipParams, forceDos, 112);
ZE_OFF(ZipParams, move, 116);
ZE_OFF(ZipParams, unused92, 120);
ZE_OFF(ZipParams, update, 124);
ZE_OFF(ZipParams, freshen, 128);
ZE_OFF(ZipParams, unused104, 132);
ZE_OFF(ZipParams, zipTime, 136);
ZE_OFF(ZipParams, date, 140);
ZE_OFF(ZipParams, specCount, 148);
ZE_OFF(ZipParams, archive, 160);
ZE_OFF(ZipParams, tempDir, 168);
ZE_OFF(ZipParams, comment, 176);
ZE_OFF(ZipParams, archiveOnly, 184);
ZE_OFF(ZipParams, resetArchive, 186);
ZE_OFF(ZipParams, fileSpecs, 192);
ZE_OFF(ZipParams, unused144, 200);
ZE_OFF(ZipParams, exclCount, 204);
ZE_OFF(ZipParams, excl, 208);
ZE_OFF(ZipParams, reserved156, 216);
ZE_OFF(ZipParams, howToDelete, 248);
ZE_OFF(ZipParams, codePage, 252);
ZE_OFF(ZipParams, check, 272);
static_assert(sizeof(ZipParams) == 280);
ZE_OFF(UnzFileSpec, fileSpec, 0);
static_assert(sizeof(UnzFileSpec) == 80);
ZE_OFF(UnzParams, handle, 0);
ZE_OFF(UnzParams, caller, 8);
ZE_OFF(UnzParams, version, 16);
ZE_OFF(UnzParams, callback, 24);
ZE_OFF(UnzParams, trace, 32);
ZE_OFF(UnzParams, password, 40);
ZE_OFF(UnzParams, test, 48);
ZE_OFF(UnzParams, always40, 60);
ZE_OFF(UnzParams, verbose, 64);
ZE_OFF(UnzParams, update, 68);
ZE_OFF(UnzParams, freshen, 72);
ZE_OFF(UnzParams, dirNames, 76);
ZE_OFF(UnzParams, overwrite, 80);
ZE_OFF(UnzParams, specCount, 84);
ZE_OFF(UnzParams, archive, 88);
ZE_OFF(UnzParams, fileSpecs, 96);
ZE_OFF(UnzParams, passwordReqCount, 132);
ZE_OFF(UnzParams, baseDir, 144);
ZE_OFF(UnzParams, check, 184);
static_assert(sizeof(UnzParams) == 192);
ZE_OFF(CallbackRecord, handle, 0);
ZE_OFF(CallbackRecord, caller, 8);
ZE_OFF(CallbackRecord, version, 16);
ZE_OFF(CallbackRecord, isZip, 20);
ZE_OFF(CallbackRecord, action, 24);
ZE_OFF(CallbackRecord, value1, 28);
ZE_OFF(CallbackRecord, value2, 32);
ZE_OFF(CallbackRecord, text, 40);
static_assert(sizeof(CallbackRecord) == 560);
#undef ZE_OFF

}  // namespace zipeng

extern "C" {
int32_t ZipEngExec(zipeng::ZipParams* params);
int32_t GetZipEngVersion();
int32_t UnzEngExec(zipeng::UnzParams* params);
int32_t GetUnzEngVersion();
}
