// The library mutex, the open-library cache with its nesting counter, the
// shared chunk buffer and small handle helpers of the VI-library code.
#include <cstring>

#include "archive_internal.h"
#include "mgsource/config.h"
#include "mgsource/memory.h"
#include "mgsource/path_internal.h"
#include "mgsource/thread.h"
#include "rtrsrc.h"

using namespace archfmt;

namespace archive {

namespace {

// The cache's states.
enum : int32 {
  kClosed = 0,
  kOpenByCache = 1,  // opened here; closed when the outermost operation ends
  kHeld = 2,         // the run-time resource file, which belongs to the shell
};

// The open-library cache: the last library opened read-only.
struct Cache {
  RsrcFileRef ref = 0;
  Path path = nullptr;
  uInt32 fileType = 0;
  uInt32 creator = 0;
  int32 state = kClosed;
};

// Guarded by the library mutex.
Cache gCache;
int32 gNesting = 0;
uChar* gChunk = nullptr;

ThMutex LibraryMutex() {
  // Made by the first library operation; the thread manager is running by then.
  static ThMutex mutex = [] {
    ThMutex m = nullptr;
    ThMutexCreate(&m, "ArchiveRights");
    return m;
  }();
  return mutex;
}

void CloseCache() {
  if (gCache.state == kOpenByCache) RCloseFile(gCache.ref);
  if (gCache.path) FDisposePath(gCache.path);
  gCache = Cache{};
}

// True when path names the program file itself.
bool IsProgramFile(Path path) {
  Path self = nullptr;
  if (FAppFilePath(&self) != kNoErr) return false;
  const bool same = FPathCmp(self, path) == 0;
  FDisposePath(self);
  return same;
}

}  // namespace

Scope::Scope() {
  ThMutexLock(LibraryMutex());
  ++gNesting;
}

Scope::~Scope() {
  if (--gNesting == 0) CloseCache();
  ThMutexUnlock(LibraryMutex());
}

MgErr OpenCached(Path library, RsrcFileRef* ref) {
  *ref = 0;
  if (!FIsAbsPath(library)) return kArgErr;
  if (gCache.state != kClosed && FPathCmp(gCache.path, library) == 0) {
    *ref = gCache.ref;
    return kNoErr;
  }
  CloseCache();
  Cache c;
  c.path = library;
  if (FPathToPath(&c.path) != kNoErr) return kMemFullErr;
  MgErr err;
  if (IsBuiltApp() && RunTimeRsrcFile() && IsProgramFile(library)) {
    c.ref = RunTimeRsrcFile();
    c.fileType = kFileType;
    c.creator = kCreator;
    c.state = kHeld;
    err = kNoErr;
  } else {
    err = ROpenFile(library, kRsrcReadOnly, &c.ref, &c.fileType, &c.creator);
    c.state = kOpenByCache;
  }
  if (err) {
    FDisposePath(c.path);
    return err;
  }
  gCache = c;
  *ref = c.ref;
  return kNoErr;
}

void DropCachedCopy(Path library) {
  if (gCache.state == kOpenByCache && FPathCmp(gCache.path, library) == 0) CloseCache();
}

MgErr OpenWritable(Path library, RsrcFileRef* ref, uInt32* fileType) {
  *ref = 0;
  DropCachedCopy(library);
  return ROpenFile(library, kRsrcReadWrite, ref, fileType, nullptr);
}

RsrcFileRef CachedLibrary() {
  ThMutexLock(LibraryMutex());
  RsrcFileRef ref = gCache.state == kClosed ? 0 : gCache.ref;
  ThMutexUnlock(LibraryMutex());
  return ref;
}

uChar* ChunkBuffer() {
  if (!gChunk) gChunk = AZNewPtr(kChunkSize);
  return gChunk;
}

void FreeChunkBuffer() {
  if (gChunk) AZDisposePtr(gChunk);
  gChunk = nullptr;
  CloseCache();
}

MgErr NewHandleOf(const std::vector<uChar>& bytes, UHandle* out) {
  *out = AZNewHandle(int32(bytes.size()));
  if (!*out) return kMemFullErr;
  if (!bytes.empty()) std::memcpy(**out, bytes.data(), bytes.size());
  return kNoErr;
}

MgErr SetHandleBytes(UHandle h, const std::vector<uChar>& bytes) {
  if (MgErr err = path_detail::SetSize(h, int32(bytes.size()))) return err;
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return kNoErr;
}

void AppendPStr(std::vector<uChar>* bytes, const std::string& text) {
  const size_t n = text.size() < 255 ? text.size() : 255, at = bytes->size();
  bytes->resize(at + 1 + n);
  (*bytes)[at] = uChar(n);
  if (n) std::memcpy(bytes->data() + at + 1, text.data(), n);
}

MgErr RemoveResource(RsrcFileRef library, uInt32 type, int32 id) {
  UHandle h = nullptr;
  MgErr err = RGet(library, type, id, &h);
  if (err == kRsrcNotFoundErr) return kNoErr;
  if (err) return err;
  if ((err = RRemove(h, library))) return err;
  AZDisposeHandle(h);
  return kNoErr;
}

MgErr AddResource(RsrcFileRef library, uInt32 type, int32 id, ConstPStr name, const std::vector<uChar>& bytes) {
  UHandle h = nullptr;
  if (MgErr err = NewHandleOf(bytes, &h)) return err;
  MgErr err = RAdd(h, library, type, id, name);
  if (err) AZDisposeHandle(h);
  return err;
}

}  // namespace archive

void ArchiveHoldLibraries() {
  ThMutexLock(archive::LibraryMutex());
  ++archive::gNesting;
  ThMutexUnlock(archive::LibraryMutex());
}

void ArchiveReleaseLibraries() {
  ThMutexLock(archive::LibraryMutex());
  if (archive::gNesting > 0 && --archive::gNesting == 0) archive::CloseCache();
  ThMutexUnlock(archive::LibraryMutex());
}
