// The file manager's host text, name checks, extension tables, errors and
// the operations on open files.
#include "filemgr.h"

#include <errno.h>

#include <cctype>
#include <cstring>
#include <string>

#include "byteorder.h"
#include "counted_strings.h"
#include "debug.h"
#include "extsupport.h"
#include "filemgr_internal.h"
#include "memory.h"
#include "path_internal.h"
#include "support.h"
#include "textoffset.h"
#include "thread.h"
#include "platform/qx_file.h"

using namespace filemgr_detail;

namespace {

// Seconds from 1 January 1904 to 1 January 1970.
constexpr int64 kSecs1904To1970 = 2082844800;
// Characters are stepped under the system font (single-byte for now).
constexpr int32 kSystemFont = 0;
// Tries of an open that meets a sharing violation, and the pause between them.
constexpr int32 kOpenTries = 3;
constexpr int32 kOpenRetryMs = 50;

ThMutex gFileMgrMutex = nullptr;
UHandle gExtTables[2] = {nullptr, nullptr};

bool IsAsciiLetter(uChar c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The extension of a name: the text after the last "." among its last five
// characters, 1 to 4 characters long.  Returns its length (0 for none) and
// its start.
int32 Extension(ConstPStr name, const uChar** ext) {
  int32 len = name ? name[0] : 0;
  int32 lowest = len > 5 ? len - 4 : 1;
  for (int32 i = len; i >= lowest; --i) {
    if (name[i] == '.') {
      int32 n = len - i;
      if (n < 1 || n > 4) return 0;
      *ext = name + i + 1;
      return n;
    }
  }
  return 0;
}

// Entry i of an extension table: its type and its extension (up to 4 bytes,
// ending at a NUL).  The count is pinned to the entries the handle holds.
int32 TableCount(UHandle t) {
  int32 size = path_detail::HandleSize(t);
  if (size < 4) return 0;
  int32 count;
  std::memcpy(&count, *t, 4);
  int32 room = (size - 4) / 8;
  return count < 0 ? 0 : count > room ? room : count;
}

uInt32 EntryType(UHandle t, int32 i) {
  const uChar* e = *t + 4 + 8 * i;
  return GetNative32(e);  // the code's bytes as stored
}

int32 EntryExt(UHandle t, int32 i, const uChar** ext) {
  const uChar* e = *t + 4 + 8 * i + 4;
  *ext = e;
  int32 n = 0;
  while (n < 4 && e[n]) ++n;
  return n;
}

bool SameExt(const uChar* a, int32 na, const uChar* b, int32 nb) {
  return na == nb && StrNCaseCmp(reinterpret_cast<ConstCStr>(a), reinterpret_cast<ConstCStr>(b), na) == 0;
}

MgErr CreateCore(FileRef* ref, Path path, int32 access, int32 deny, int32 disposition) {
  if (!ref) return kArgErr;
  *ref = nullptr;
  if (access < kAccessReadWrite || access > kAccessWrite || deny < kDenyReadWrite || deny > kDenyNone)
    return kArgErr;
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  PlatFile* f = nullptr;
  if (PlatFileOpen(text, disposition, access, deny, &f)) return FLastErrorToMgErr();
  *ref = reinterpret_cast<FileRef>(f);
  return kNoErr;
}

// The open file of a reference, null for null or a value that is none.
PlatFile* Open(FileRef ref) {
  PlatFile* f = Plat(ref);
  return f && PlatFileIsOpen(f) ? f : nullptr;
}

MgErr Result(int32 hostErr) { return hostErr ? HostErrToMgErr(hostErr) : kNoErr; }

}  // namespace

namespace filemgr_detail {

MgErr HostErrToMgErr(int32 code) {
  switch (code) {
    case 0: return kFileIOErr;  // a failure with no host code
    case kPlatErrFileNotFound: case kPlatErrPathNotFound: case kPlatErrDirName: return kFileNotFoundErr;
    case kPlatErrAccessDenied: case kPlatErrSharing: case kPlatErrLock: return kFilePermErr;
    case kPlatErrNoMemory: return kMemFullErr;
    case kPlatErrFileExists: case kPlatErrAlreadyExists: return kDupPathErr;
    case kPlatErrInvalidParam: case kPlatErrInvalidName: case kPlatErrNotLocked: return kArgErr;
    default: return kFileIOErr;
  }
}

uInt32 HostTimeToSecs(int64 unixSecs) {
  int64 s = unixSecs + kSecs1904To1970;
  return s < 0 ? 0u : s > 0xFFFFFFFFll ? 0xFFFFFFFFu : uInt32(s);
}

int64 SecsToHostTime(uInt32 secs) { return int64(secs) - kSecs1904To1970; }

int32 PermissionsOf(bool isDir, bool readOnly) { return isDir ? 0777 : readOnly ? 0444 : 0666; }

}  // namespace filemgr_detail

// ------------------------------------------------------------- host text

MgErr FPathToHostText(Path path, CStr text) {
  if (!text) return kArgErr;
  text[0] = 0;
  int32 type, count;
  const uChar* c;
  if (!path_detail::Components(path, &type, &count, &c)) return kArgErr;
  if ((type != kAbsPath && type != kNetworkPath) || count < 1) return kArgErr;
  char buf[kHostTextBufSize];
  int32 n = 0;
  if (type == kAbsPath) {
    if (c[0] != 1 || !IsAsciiLetter(c[1])) return kArgErr;
    buf[n++] = char(c[1]);
    buf[n++] = ':';
  } else {
    if (c[0] < 3 || c[1] != '\\' || c[2] != '\\' || std::memchr(c + 1, 0, c[0])) return kArgErr;
    std::memcpy(buf, c + 1, c[0]);
    n = c[0];
  }
  if (count == 1) buf[n++] = '\\';
  c += 1 + c[0];
  for (int32 i = 1; i < count; ++i, c += 1 + c[0]) {
    // Empty names, NUL bytes, reserved characters, device names and names
    // ending in "." (so "." and "..") never reach the host.
    if (c[0] == 0 || std::memchr(c + 1, 0, c[0]) || FNameCheck(c, nullptr)) return kArgErr;
    if (n + 1 + c[0] > kMaxHostTextLen) return kArgErr;
    buf[n++] = '\\';
    std::memcpy(buf + n, c + 1, c[0]);
    n += c[0];
  }
  buf[n] = 0;
  FResolveShortcutsInPath(buf);
  std::memcpy(text, buf, std::strlen(buf) + 1);
  return kNoErr;
}

MgErr FLastErrorToMgErr() { return HostErrToMgErr(PlatLastError()); }

MgErr FErrnoToMgErr(int32 err, Bool32 notFoundIsArgErr) {
  switch (err) {
    case 0: return kNoErr;
    case ENOENT: return notFoundIsArgErr ? kArgErr : kFileNotFoundErr;
    case EBADF: case EINVAL: return kArgErr;
    case ENOMEM: return kMemFullErr;
    case EACCES: case EPERM: case EROFS: return kFilePermErr;
    case EEXIST: return kDupPathErr;
    case EMFILE: case ENFILE: return kTooManyFilesErr;
    case ENOSPC: return kDiskFullErr;
    case ESPIPE: return kEOFErr;
    default: return kFileIOErr;
  }
}

// ------------------------------------------------------------------ names

int32 FNameCheck(ConstPStr name, PStr badChars) {
  if (badChars) badChars[0] = 0;
  if (!name) return 0;
  int32 len = name[0];
  const uChar* s = name + 1;
  // Character starts, for stepping back through whole characters.
  int32 starts[256];
  int32 n = 0;
  for (int32 i = 0; i < len;) {
    starts[n++] = i;
    int32 next = TNextCharOffset(s, i, kSystemFont);
    i = next > i ? next : i + 1;
  }
  int32 flags = 0;
  for (int32 k = n - 1; k >= 0; --k) {
    int32 at = starts[k];
    int32 end = k + 1 < n ? starts[k + 1] : len;
    if (end - at != 1) continue;
    uChar c = s[at];
    if (k == n - 1 && c == '.') flags |= kNameEndsWithDot;
    if (IsAlpha(c) || IsDigit(c) || c >= 128) continue;
    if (c != 0 && std::strchr(":\"<>|*?/\\", c)) {
      flags |= kNameBadChar;
      if (badChars && badChars[0] < 255) badChars[++badChars[0]] = c;
    }
  }
  ConstCStr t = reinterpret_cast<ConstCStr>(s);
  if ((len == 3 && (!StrNCaseCmp(t, "AUX", 3) || !StrNCaseCmp(t, "CON", 3) || !StrNCaseCmp(t, "NUL", 3) ||
                    !StrNCaseCmp(t, "PRN", 3))) ||
      (len == 6 && !StrNCaseCmp(t, "CLOCK$", 6)) ||
      (len == 4 && (!StrNCaseCmp(t, "COM", 3) || !StrNCaseCmp(t, "LPT", 3)) && s[3] >= '0' && s[3] <= '9'))
    flags |= kNameReserved;
  return flags;
}

int32 FCheckName(ConstPStr name, Path /*path*/, Bool32 skip, PStr badChars, PStr text) {
  if (badChars) badChars[0] = 0;
  if (text) text[0] = 0;
  if (!name || name[0] == 0) return kNameEmpty;
  if (skip) return 0;
  return FNameCheck(name, badChars);
}

Bool32 FStrFitsPat(const uChar* pattern, const uChar* name, int32 patternLength, int32 nameLength) {
  if (patternLength < 0 || nameLength < 0 || (patternLength && !pattern) || (nameLength && !name)) return 0;
  std::string pat(reinterpret_cast<const char*>(pattern), size_t(patternLength));
  std::string nam(reinterpret_cast<const char*>(name), size_t(nameLength));
  if (pat.find('.') == std::string::npos) pat += ".*";
  if (nam.find('.') == std::string::npos) nam += ".";
  return StrMatchPattern(reinterpret_cast<const uChar*>(pat.data()), reinterpret_cast<const uChar*>(nam.data()),
                         int32(pat.size()), int32(nam.size()), nullptr, 0, 0);
}

// ------------------------------------------------------------ extensions

MgErr FSetResExt(UHandle table1, UHandle table2) {
  UHandle next[2] = {table1, table2};
  for (int i = 0; i < 2; ++i) {
    UHandle old = gExtTables[i];
    if (old && old != next[0] && old != next[1]) {
      if (AZIsHandle(old))
        AZDisposeHandle(old);
      else if (MemIsDSHandle(old))
        DSDisposeHandle(old);
    }
  }
  gExtTables[0] = table1;
  gExtTables[1] = table2;
  return kNoErr;
}

uInt32 PStrHasRezExt(ConstPStr name) {
  const uChar* ext = nullptr;
  int32 n = Extension(name, &ext);
  if (n == 0) return 0;
  for (UHandle t : gExtTables) {
    int32 count = TableCount(t);
    for (int32 i = 0; i < count; ++i) {
      const uChar* e;
      int32 m = EntryExt(t, i, &e);
      if (SameExt(ext, n, e, m)) return EntryType(t, i);
    }
  }
  return 0;
}

uInt32 HasRezExt(Path path) {
  if (!gExtTables[0] && !gExtTables[1]) return 0;
  uChar name[256];
  if (FNamePtr(path, name)) return 0;
  return PStrHasRezExt(name);
}

MgErr PStrAppendRezExt(PStr name, uInt32 type) {
  if (!name) return kArgErr;
  for (UHandle t : gExtTables) {
    int32 count = TableCount(t);
    for (int32 i = 0; i < count; ++i) {
      if (EntryType(t, i) != type) continue;
      const uChar* e;
      int32 m = EntryExt(t, i, &e);
      if (name[0] + 1 + m > 255) return kArgErr;
      name[name[0] + 1] = '.';
      std::memcpy(name + name[0] + 2, e, size_t(m));
      name[0] = uChar(name[0] + 1 + m);
      return kNoErr;
    }
  }
  return kRsrcNotFoundErr;
}

int32 PStrStripRezExt(PStr name, uInt32 type) {
  const uChar* ext = nullptr;
  int32 n = Extension(name, &ext);
  if (n == 0) return 0;
  bool strip = type == 0;
  for (int ti = 0; ti < 2 && !strip; ++ti) {
    UHandle t = gExtTables[ti];
    int32 count = TableCount(t);
    for (int32 i = 0; i < count && !strip; ++i) {
      const uChar* e;
      int32 m = EntryExt(t, i, &e);
      strip = EntryType(t, i) == type && SameExt(ext, n, e, m);
    }
  }
  if (!strip) return 0;
  name[0] = uChar(name[0] - n - 1);
  return n + 1;
}

// ---------------------------------------------------------- manager life

MgErr FInitFileMgr() {
  if (gFileMgrMutex) return kNoErr;
  return ThMutexCreate(&gFileMgrMutex, "FileMgr");
}

void FExitFileMgr() {
  ThMutex m = gFileMgrMutex;
  gFileMgrMutex = nullptr;
  if (m) ThMutexDestroy(m);
}

int32 FGetDefPerm(int32 permissions) {
  ThMutexAcquire(gFileMgrMutex);
  uInt32 mask = PlatGetUmask();
  ThMutexRelease(gFileMgrMutex);
  return permissions & ~int32(mask);
}

LStrHandle FGetDefGroup(LStrHandle group) {
  UHandle h = reinterpret_cast<UHandle>(group);
  if (h) {
    if (path_detail::HandleSize(h) < 0 || path_detail::SetSize(h, 4) != kNoErr) return nullptr;
  } else {
    h = AZNewHandle(4);
    if (!h) return nullptr;
  }
  std::memset(*h, 0, 4);
  return reinterpret_cast<LStrHandle>(h);
}

// ------------------------------------------------------- opening, closing

MgErr FMOpen(FileRef* ref, Path path, int32 access, int32 deny) {
  if (!ref) return kArgErr;
  *ref = nullptr;
  if (access < kAccessReadWrite || access > kAccessWriteTruncate || deny < kDenyReadWrite || deny > kDenyNone)
    return kArgErr;
  if (FDepth(path) == 1) return kArgErr;
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  PlatFile* f = nullptr;
  for (int32 tries = 1;; ++tries) {
    int32 err = PlatFileOpen(text, kPlatOpenExisting, access, deny, &f);
    if (!err) break;
    if (err != kPlatErrSharing || tries >= kOpenTries) return HostErrToMgErr(err);
    WSleep(kOpenRetryMs);
  }
  *ref = reinterpret_cast<FileRef>(f);
  return kNoErr;
}

MgErr FCreate(FileRef* ref, Path path, int32 /*permissions*/, int32 access, int32 deny, PStr /*group*/) {
  return CreateCore(ref, path, access, deny, kPlatCreateNew);
}

MgErr FCreateAlways(FileRef* ref, Path path, int32 /*permissions*/, int32 access, int32 deny, PStr /*group*/) {
  return CreateCore(ref, path, access, deny, kPlatCreateAlways);
}

MgErr FMClose(FileRef ref) {
  PlatFile* f = Open(ref);
  if (!f) return kArgErr;
  return Result(PlatFileClose(f));
}

// ------------------------------------------------------ reading, writing

MgErr FMRead(FileRef ref, int32 count, int32* actual, UPtr buffer) {
  if (actual) *actual = 0;
  PlatFile* f = Open(ref);
  if (!f || count < 0 || (count > 0 && !buffer)) return kArgErr;
  uInt32 done = 0;
  int32 err = PlatFileRead(f, buffer, uInt32(count), &done);
  if (actual) *actual = int32(done);
  if (err) return HostErrToMgErr(err);
  return int32(done) < count ? kEOFErr : kNoErr;
}

MgErr FMWrite(FileRef ref, int32 count, int32* actual, const void* buffer) {
  if (actual) *actual = 0;
  PlatFile* f = Open(ref);
  if (!f || count < 0 || (count > 0 && !buffer)) return kArgErr;
  uInt32 done = 0;
  int32 err = PlatFileWrite(f, buffer, uInt32(count), &done);
  if (actual) *actual = int32(done);
  return Result(err);
}

MgErr FMSeek(FileRef ref, int32 offset, int32 mode) {
  PlatFile* f = Open(ref);
  if (!f) return kArgErr;
  if (mode == kFCurrent && offset == 0) return kNoErr;
  int64 size = -1, base = 0;
  if (mode == kFCurrent) {
    if (int32 err = PlatFileGetPos(f, &base)) return HostErrToMgErr(err);
  } else if (mode != kFStart) {
    if (int32 err = PlatFileGetSize(f, &size)) return HostErrToMgErr(err);
    base = size;
  }
  int64 target = base + offset;
  // The start lies within every file, so only another target asks the size.
  if (target == 0) return Result(PlatFileSetPos(f, 0));
  if (target > 0 && size < 0) {
    if (int32 err = PlatFileGetSize(f, &size)) return HostErrToMgErr(err);
  }
  // Past either end: the position stops at that end.
  if (target > size || target < 0) {
    if (int32 err = PlatFileSetPos(f, target < 0 ? 0 : size)) return HostErrToMgErr(err);
    return kEOFErr;
  }
  return Result(PlatFileSetPos(f, target));
}

MgErr FMTell(FileRef ref, int32* position) {
  PlatFile* f = Open(ref);
  if (!f || !position) return kArgErr;
  int64 pos;
  if (int32 err = PlatFileGetPos(f, &pos)) return HostErrToMgErr(err);
  // The 32-bit interface can't tell a position past 2 GB.
  if (pos > 0x7FFFFFFF) return kArgErr;
  *position = int32(pos);
  return kNoErr;
}

MgErr FGetEOF(FileRef ref, int32* size) {
  PlatFile* f = Open(ref);
  if (!f || !size) return kArgErr;
  int64 s;
  if (int32 err = PlatFileGetSize(f, &s)) return HostErrToMgErr(err);
  if (s > 0x7FFFFFFF) return kArgErr;
  *size = int32(s);
  return kNoErr;
}

MgErr FSetEOF(FileRef ref, int32 size) {
  PlatFile* f = Open(ref);
  if (!f || size < 0) return kArgErr;
  int64 pos;
  if (int32 err = PlatFileGetPos(f, &pos)) return HostErrToMgErr(err);
  if (int32 err = PlatFileSetSize(f, size)) return HostErrToMgErr(err);
  if (pos > size) return Result(PlatFileSetPos(f, size));
  return kNoErr;
}

MgErr FFlush(FileRef ref) {
  PlatFile* f = Open(ref);
  if (!f) return kArgErr;
  return Result(PlatFileFlush(f));
}

MgErr FLockOrUnlockRange(FileRef ref, int32 mode, int32 offset, int32 count, Bool32 lock) {
  PlatFile* f = Open(ref);
  if (!f || mode < kFStart || mode > kFCurrent) return kArgErr;
  int64 base = 0;
  if (mode == kFEnd) {
    if (int32 err = PlatFileGetSize(f, &base)) return HostErrToMgErr(err);
  } else if (mode == kFCurrent) {
    if (int32 err = PlatFileGetPos(f, &base)) return HostErrToMgErr(err);
  }
  return Result(PlatFileLockRange(f, base + offset, count, lock != 0));
}

MgErr FRefreshPathName(Path path) {
  if (!FIsAbsPath(path) || FDepth(path) < 2) return kArgErr;
  if (FExists(path)) return kNoErr;
  Str255 name;
  if (MgErr err = FNamePtr(path, name)) return err;
  Path dir = FEmptyPath(nullptr);
  if (!dir) return kMemFullErr;
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  MgErr err = names ? FDirName(path, dir) : kMemFullErr;
  if (!err) err = FListDir(dir, names, nullptr);
  bool found = false;
  if (!err) {
    const int32 size = AZGetHandleSize(reinterpret_cast<UHandle>(names));
    const uChar* p = reinterpret_cast<const uChar*>(*names);
    for (int32 i = 0, at = 4; i < (*names)->cnt && at < size && at + 1 + p[at] <= size && !found;
         ++i, at += 1 + p[at]) {
      if (p[at] != name[0]) continue;
      bool same = true;
      for (int32 k = 1; k <= name[0] && same; ++k) same = std::tolower(p[at + k]) == std::tolower(name[k]);
      if (same) {
        std::memcpy(name, p + at, size_t(p[at]) + 1);
        found = true;
      }
    }
    if (found) err = FAppendName(dir, name);
    if (found && !err) err = FPathCpy(path, dir);
    if (!found) err = kFileNotFoundErr;
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  FDisposePath(dir);
  return err;
}
