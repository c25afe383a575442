// The file manager: files, folders and volumes named by Paths.
//
// Every operation on a path first turns it into host text (FPathToHostText):
// the path must be absolute (type 0 or 3); a drive is one letter; each
// further component must pass the name check; the text is at most 260
// characters.  Anything else gives 1 before the host is asked.  Host failures
// come back as manager errors through FLastErrorToMgErr.
#pragma once
#include "extcode.h"
#include "path.h"

// An open file; null is never a valid reference.
struct FileRefRec;
typedef FileRefRec* FileRef;

enum : int32 {
  kMaxHostTextLen = 260,
  kHostTextBufSize = 264,  // the buffer of FPathToHostText
};

// Access modes of FMOpen, FCreate and FCreateAlways.
enum : int32 { kAccessReadWrite = 0, kAccessRead = 1, kAccessWrite = 2, kAccessWriteTruncate = 3 };
// Deny modes.
enum : int32 { kDenyReadWrite = 0, kDenyWrite = 1, kDenyNone = 2 };
// Seek and lock origins.
enum : int32 { kFStart = 1, kFEnd = 2, kFCurrent = 3 };

// The information record of FGetInfo and FSetInfo.
struct FileInfoRec {
  uInt32 type;         // four characters, the first in the high byte
  uInt32 creator;
  int32 permissions;
  int32 size;          // bytes of a file (0x7FFFFFFF from 4 GB on), entries of a folder, drives of the volume list
  int32 reserved1;     // not filled for files and folders; 0 for the volume list
  uInt32 cdate;        // seconds since 1904
  uInt32 mdate;
  uInt8 folder;        // 1 for a folder
  uInt8 pad[3];
  int32 reserved2;     // set to 0
  int16 location[2];   // 0 for the volume list
  Str255 owner;        // always empty
  Str255 group;        // always empty
};
static_assert(sizeof(FileInfoRec) == 552 && offsetof(FileInfoRec, cdate) == 20 &&
                  offsetof(FileInfoRec, folder) == 28 && offsetof(FileInfoRec, reserved2) == 32 &&
                  offsetof(FileInfoRec, location) == 36 && offsetof(FileInfoRec, owner) == 40 &&
                  offsetof(FileInfoRec, group) == 296,
              "file information record");

// One entry of a listing's types.
struct DirEntryType {
  int32 flags;
  uInt32 type;  // the resource file's type, or the drive's kind
};
static_assert(sizeof(DirEntryType) == 8, "listing entry");
typedef DirEntryType** DirEntryTypeHandle;

enum : int32 {
  kIsFile = 1,
  kRecognizedType = 2,  // a resource file of a registered kind, or a drive: the type is meaningful
  kIsLink = 4,          // reached through a shortcut file
  kErrGettingType = 32, // the attributes can't be read
};

// Option of FListDirEx: tell resource files by their header, not their extension.
enum : int32 { kListByHeader = 1 };

// Flags of FNameCheck and FCheckName.
enum : int32 {
  kNameEmpty = 2,
  kNameBadChar = 8,
  kNameReserved = 16,
  kNameEndsWithDot = 64,
};

// Volume sizes of FGetVolInfo, each 0xFFFFFFFF when it doesn't fit.
struct VolInfoRec {
  uInt32 total;
  uInt32 used;
  uInt32 free;
};
static_assert(sizeof(VolInfoRec) == 12, "volume information");

// Opening and closing.
QX_EXTERN_C MgErr FMOpen(FileRef* ref, Path path, int32 access, int32 deny);
QX_EXTERN_C MgErr FCreate(FileRef* ref, Path path, int32 permissions, int32 access, int32 deny, PStr group);
QX_EXTERN_C MgErr FCreateAlways(FileRef* ref, Path path, int32 permissions, int32 access, int32 deny, PStr group);
QX_EXTERN_C MgErr FMClose(FileRef ref);

// Reading and writing.
QX_EXTERN_C MgErr FMRead(FileRef ref, int32 count, int32* actual, UPtr buffer);
QX_EXTERN_C MgErr FMWrite(FileRef ref, int32 count, int32* actual, const void* buffer);
QX_EXTERN_C MgErr FMSeek(FileRef ref, int32 offset, int32 mode);
QX_EXTERN_C MgErr FMTell(FileRef ref, int32* position);
QX_EXTERN_C MgErr FGetEOF(FileRef ref, int32* size);
QX_EXTERN_C MgErr FSetEOF(FileRef ref, int32 size);
QX_EXTERN_C MgErr FFlush(FileRef ref);
QX_EXTERN_C MgErr FLockOrUnlockRange(FileRef ref, int32 mode, int32 offset, int32 count, Bool32 lock);

// Information.
QX_EXTERN_C int32 FExists(Path path);  // 0 absent, 1 a file, 2 a folder
QX_EXTERN_C MgErr FGetInfo(Path path, FileInfoRec* info);
QX_EXTERN_C MgErr FSetInfo(Path path, const FileInfoRec* info);
QX_EXTERN_C MgErr FGetAccessRights(Path path, PStr owner, PStr group, int32* permissions);
QX_EXTERN_C MgErr FSetAccessRights(Path path, ConstPStr owner, ConstPStr group, const int32* permissions);
QX_EXTERN_C int32 FGetDefPerm(int32 permissions);
QX_EXTERN_C LStrHandle FGetDefGroup(LStrHandle group);
QX_EXTERN_C MgErr FGetModDate(Path path, FileRef ref, uInt32* date, Bool32* readOnly);
QX_EXTERN_C MgErr FGetVolInfo(Path path, VolInfoRec* info);
QX_EXTERN_C MgErr FMGetVolInfo(Path path, float64* freeBytes, float64* totalBytes);
QX_EXTERN_C MgErr FMGetVolPath(Path path, Path* volume);

// Folders and files.
QX_EXTERN_C MgErr FListDir(Path path, CPStrHandle names, DirEntryTypeHandle types);
QX_EXTERN_C MgErr FListDirEx(Path path, CPStrHandle names, DirEntryTypeHandle types, int32 options);
QX_EXTERN_C MgErr FListVolumes(CPStrHandle names, DirEntryTypeHandle types);
QX_EXTERN_C MgErr FNewDir(Path path);
QX_EXTERN_C MgErr FRemove(Path path);
QX_EXTERN_C MgErr FMove(Path from, Path to);
QX_EXTERN_C MgErr FCopy(Path from, Path to);

// Names.
QX_EXTERN_C int32 FCheckName(ConstPStr name, Path path, Bool32 skip, PStr badChars, PStr text);
QX_EXTERN_C int32 FNameCheck(ConstPStr name, PStr badChars);
QX_EXTERN_C Bool32 FStrFitsPat(const uChar* pattern, const uChar* name, int32 patternLength, int32 nameLength);

// Folders of the program and the host.
QX_EXTERN_C MgErr FAppPath(Path* path);
QX_EXTERN_C MgErr FAppFilePath(Path* path);
// Respells the path's last component as its folder spells it (the first
// entry equal but for case) when no entry has the name as given: 0, or the
// error of reading the folder (1 for a path that is no absolute path, 7
// when no entry matches).
QX_EXTERN_C MgErr FRefreshPathName(Path path);
// The program file's text into buffer (at most size bytes with the NUL).
QX_EXTERN_C MgErr FAppFileText(CStr buffer, int32 size);
QX_EXTERN_C MgErr FCurrentDirPath(Path* path);
QX_EXTERN_C MgErr FTempDirPath(Path* path);
QX_EXTERN_C MgErr FTrueNamePath(Path path);
QX_EXTERN_C Path FHostPath(Path h, Path path);
QX_EXTERN_C MgErr FDirExistsErr(Path path);  // 0 a folder, 1 a file, 7 absent
QX_EXTERN_C MgErr FGetOSFolderPath(int32 folder, Path* path);

// Extensions of resource files.  Each table is a handle holding a 32-bit
// count and 8-byte entries: a four-character file type (in character order)
// and a NUL-terminated extension of up to 3 characters.  The file manager
// keeps the handles.
QX_EXTERN_C MgErr FSetResExt(UHandle table1, UHandle table2);
QX_EXTERN_C uInt32 PStrHasRezExt(ConstPStr name);
QX_EXTERN_C uInt32 HasRezExt(Path path);
QX_EXTERN_C MgErr PStrAppendRezExt(PStr name, uInt32 type);
QX_EXTERN_C int32 PStrStripRezExt(PStr name, uInt32 type);

// Host text of a path into text (kHostTextBufSize bytes).
QX_EXTERN_C MgErr FPathToHostText(Path path, CStr text);
QX_EXTERN_C MgErr FLastErrorToMgErr();
// A C library error number as a manager error; no such file gives 1 instead
// of 7 when notFoundIsArgErr is set.
QX_EXTERN_C MgErr FErrnoToMgErr(int32 err, Bool32 notFoundIsArgErr);

QX_EXTERN_C MgErr FInitFileMgr();
QX_EXTERN_C void FExitFileMgr();
