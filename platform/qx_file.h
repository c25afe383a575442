// Files, folders and volumes of the host, named by the system's path texts
// ("C:\dir\file", "\\server\share\file"; see qx_drives.h).
//
// Every call returns 0 or one of the host error codes below, which the file
// manager turns into manager errors; the code of the last failure is also
// kept per thread (PlatLastError).  Offsets and sizes are 64-bit.
//
// Opens carry an access and a deny mode.  A process-wide table of open files
// (by device and inode) refuses an open whose access another open denies, or
// whose deny mode refuses an access another open already has (32).  Range
// locks belong to one open file: they conflict with any overlapping lock of
// any open of the same file (33), in this process and, through
// open-file-description locks, in others; only a range locked exactly so by
// the same open can be unlocked (158 otherwise).
#pragma once
#include <cstdint>
#include <string>

enum PlatFileError : int32_t {
  kPlatErrNone = 0,
  kPlatErrFileNotFound = 2,
  kPlatErrPathNotFound = 3,
  kPlatErrTooManyOpen = 4,
  kPlatErrAccessDenied = 5,
  kPlatErrInvalidHandle = 6,
  kPlatErrNoMemory = 8,
  kPlatErrNotSameDevice = 17,
  kPlatErrGeneral = 31,
  kPlatErrSharing = 32,
  kPlatErrLock = 33,
  kPlatErrFileExists = 80,
  kPlatErrInvalidParam = 87,
  kPlatErrDiskFull = 112,
  kPlatErrInvalidName = 123,
  kPlatErrDirNotEmpty = 145,
  kPlatErrNotLocked = 158,
  kPlatErrBusy = 170,
  kPlatErrAlreadyExists = 183,
  kPlatErrDirName = 267,
  kPlatErrUserMappedFile = 1224,  // the size change would cut a mapped view
};

// The host error code of a C library errno value.
int32_t PlatErrnoToError(int err);
int32_t PlatLastError();
void PlatSetLastError(int32_t code);

enum PlatAccess : int32_t {
  kPlatReadWrite = 0,
  kPlatRead = 1,
  kPlatWrite = 2,
  kPlatWriteTruncate = 3,  // write, and cut the file to length 0
};
enum PlatDeny : int32_t {
  kPlatDenyAll = 0,    // no other open
  kPlatDenyWrite = 1,  // others may read
  kPlatDenyNone = 2,   // others may read and write
};
enum PlatDisposition : int32_t {
  kPlatOpenExisting = 0,
  kPlatCreateNew = 1,     // fails with 80 when the file exists
  kPlatCreateAlways = 2,  // creates, or cuts an existing file to length 0
};

struct PlatFile;

// Opens a file; folders are refused with 5.
int32_t PlatFileOpen(const char* text, int32_t disposition, int32_t access, int32_t deny, PlatFile** out);
int32_t PlatFileClose(PlatFile* f);
// True for an open file of this layer (false for null, closed or foreign values).
bool PlatFileIsOpen(PlatFile* f);

// Reads or writes up to count bytes at the current position; *done gets the
// number moved (fewer than count at the end of the file when reading).
int32_t PlatFileRead(PlatFile* f, void* buf, uint32_t count, uint32_t* done);
int32_t PlatFileWrite(PlatFile* f, const void* buf, uint32_t count, uint32_t* done);
int32_t PlatFileGetPos(PlatFile* f, int64_t* pos);
int32_t PlatFileSetPos(PlatFile* f, int64_t pos);
int32_t PlatFileGetSize(PlatFile* f, int64_t* size);
int32_t PlatFileSetSize(PlatFile* f, int64_t size);
int32_t PlatFileFlush(PlatFile* f);

// A fault of this layer, for tests of what callers do when changing a file
// fails part-way.  While one is set, the changes of the file it names (of
// every file when it names none, the writes inside PlatCopy included) are
// counted from 1: writes, size changes and flushes.  The change numbered
// failAt (0: none), and with sticky every later one too, fails with code
// (112, disk full, unless another is chosen) and changes nothing.  A write or
// size change that would reach past byteLimit (a file offset; negative: none)
// fails with that code; a write first writes the bytes below the limit, as a
// full disk does.  With moveAcrossVolumes, PlatMove of a folder fails as a
// move to another volume does (17).
struct PlatFileFault {
  PlatFile* file = nullptr;
  int64_t failAt = 0;
  bool sticky = false;
  int64_t byteLimit = -1;
  int32_t code = 112;
  bool moveAcrossVolumes = false;
};
// Sets the fault (null clears it) and starts counting again.
void PlatFileSetFault(const PlatFileFault* fault);
// The changes counted since the fault was set, and how many of them failed.
int64_t PlatFileFaultChanges();
int64_t PlatFileFaultFailures();
// Read-only mapped views of an open file.  A view starts at a multiple of
// the mapping granularity (the page size) and never reaches past the file's
// end; while this process holds one, cutting the file below the view's end
// fails with 1224.
struct PlatView;
uint32_t PlatMapGranularity();
int32_t PlatFileMapView(PlatFile* f, int64_t offset, uint32_t length, PlatView** view, const uint8_t** address);
void PlatUnmapView(PlatView* view);

// Locks or unlocks count bytes from start (both at least 0, count above 0).
int32_t PlatFileLockRange(PlatFile* f, int64_t start, int64_t count, bool lock);

// What the host says of a file or folder.  Times are Unix seconds.
struct PlatFileAttr {
  bool isDir;
  bool readOnly;  // the owner may not write
  int64_t size;
  int64_t createTime;  // birth time, else the modification time
  int64_t modTime;
  uint32_t mode;       // permission bits
  uint64_t device;     // the file system and the file's number on it: equal
  uint64_t inode;      // pairs name the same file
};
// Attributes of a named entry (symbolic links followed) or of an open file.
int32_t PlatFileAttrOf(const char* text, PlatFileAttr* attr);
int32_t PlatFileAttrOfOpen(PlatFile* f, PlatFileAttr* attr);
// The name the file system stores for the last component of text.
int32_t PlatFileTrueName(const char* text, std::string* name);

// Folder listing: text is a folder text followed by "\" and a pattern of "*"
// and "?" ("*.*" matches every name).  The first call returns the first
// match; "." and ".." come first except at a volume's root.  3 when the
// folder can't be opened, 2 when it exists and nothing matches.
struct PlatFind;
struct PlatFindEntry {
  char name[256];
  bool isDir;  // as the folder reports it, links not followed
  bool isLink = false;  // a symbolic link
};
int32_t PlatFindFirst(const char* text, PlatFind** find, PlatFindEntry* entry);
// 18 (no more files) at the end.
int32_t PlatFindNext(PlatFind* find, PlatFindEntry* entry);
void PlatFindClose(PlatFind* find);
enum : int32_t { kPlatErrNoMoreFiles = 18 };

int32_t PlatMakeFolder(const char* text);
// Removes a file, or a folder that must be empty.  A file open in this
// process can't be removed (32).
int32_t PlatRemove(const char* text);
// Renames or moves; never replaces an existing entry (183).
int32_t PlatMove(const char* from, const char* to);
// Copies a file with its permissions and times; fails with 80 when the
// target exists.  A folder can't be copied (5).
int32_t PlatCopy(const char* from, const char* to);
// Replaces the file to by the file from of the same folder in one step
// (nothing in between where neither exists).  from must be a file that is not
// open here; to, when it exists, must be a file and may stay open: its open
// descriptors keep the replaced file until closed.  Counted as one change of
// the fault seam.
int32_t PlatFileReplace(const char* from, const char* to);

// Permission and time changes answer with an errno value (0 on success), as
// the C library's calls do.
int PlatSetPermissions(const char* text, uint32_t mode);
int PlatSetTimes(const char* text, int64_t accessTime, int64_t modTime);

// Total and free bytes of the volume holding text.
int32_t PlatVolumeSpace(const char* text, uint64_t* total, uint64_t* freeBytes);
// Test hook: a procedure that answers PlatVolumeSpace in place of the host
// (null: the host answers).
typedef int32_t (*PlatVolumeSpaceProc)(const char* text, uint64_t* total, uint64_t* freeBytes);
void PlatSetVolumeSpaceHook(PlatVolumeSpaceProc proc);

// Host paths of the program file, the temporary folder (TMPDIR, else /tmp)
// and the current folder.
bool PlatProgramFile(std::string* hostPath);
bool PlatTempFolder(std::string* hostPath);
bool PlatCurrentFolder(std::string* hostPath);
// Makes a host folder the process's current folder; false when it cannot.
bool PlatSetCurrentFolder(const std::string& hostPath);
// Whether a host path names an existing folder.
bool PlatHostFolderExists(const std::string& hostPath);
// The process's file-creation mask, read without changing it (from the
// process status; where the host doesn't give it there, the mask the process
// started with).  Safe from any thread.
uint32_t PlatGetUmask();
