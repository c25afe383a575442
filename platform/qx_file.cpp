#include "qx_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "qx_charcase.h"
#include "qx_drives.h"

namespace {

thread_local int32_t tLastError = 0;

int32_t Fail(int32_t code) {
  tLastError = code;
  return code;
}
int32_t FailErrno(int err) { return Fail(PlatErrnoToError(err)); }

struct FileKey {
  dev_t dev;
  ino_t ino;
  bool operator<(const FileKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

struct LockRange {
  int64_t start;
  int64_t count;
};

}  // namespace

struct PlatFile {
  int fd;
  FileKey key;
  bool canRead;
  bool canWrite;
  int32_t deny;
  // For a regular file, the descriptor's offset as this layer last moved it:
  // only the calls below move it (the descriptor is never shared), so reads,
  // writes and seeks keep it exact and a tell needs no system call.
  bool regular;
  std::atomic<int64_t> pos{0};
  std::vector<LockRange> locks;
};

struct PlatView {
  void* base;
  uint32_t length;
  FileKey key;
  int64_t end;  // of the viewed range in the file
};

struct PlatFind {
  std::vector<PlatFindEntry> entries;
  size_t next;
};

namespace {

// The open files of the process, by file and by value.
std::mutex gTableLock;
std::map<FileKey, std::vector<PlatFile*>> gOpen;
std::unordered_set<PlatFile*> gLive;
// The mapped views of the process, by file.
std::map<FileKey, std::vector<PlatView*>> gViews;

bool SharesRead(int32_t deny) { return deny == kPlatDenyWrite || deny == kPlatDenyNone; }
bool SharesWrite(int32_t deny) { return deny == kPlatDenyNone; }

bool Conflicts(const PlatFile& o, bool read, bool write, int32_t deny) {
  return (read && !SharesRead(o.deny)) || (write && !SharesWrite(o.deny)) || (o.canRead && !SharesRead(deny)) ||
         (o.canWrite && !SharesWrite(deny));
}

// True when an open of this process holds the file (caller holds the lock).
bool IsOpenLocked(const FileKey& k) {
  auto it = gOpen.find(k);
  return it != gOpen.end() && !it->second.empty();
}

int32_t Resolve(const char* text, std::string* host, bool* isRoot = nullptr) {
  int32_t err = PlatResolveSysText(text, host, isRoot);
  return err ? Fail(err) : 0;
}

bool Overlaps(const LockRange& a, int64_t start, int64_t count) {
  return start < a.start + a.count && a.start < start + count;
}

bool ValidFile(PlatFile* f) {
  if (!f) return false;
  std::lock_guard<std::mutex> g(gTableLock);
  return gLive.count(f) != 0;
}

// Case-insensitive wildcard match of "*" and "?".
bool WildMatch(const char* p, const char* n) {
  const char* star = nullptr;
  const char* mark = nullptr;
  while (*n) {
    if (*p == '?' || (*p && *p != '*' && PlatCharUpper(uint8_t(*p)) == PlatCharUpper(uint8_t(*n)))) {
      ++p;
      ++n;
    } else if (*p == '*') {
      star = p++;
      mark = n;
    } else if (star) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

bool MatchesAll(const char* pattern) { return !std::strcmp(pattern, "*") || !std::strcmp(pattern, "*.*"); }

void FillAttr(const struct stat& st, PlatFileAttr* attr) {
  attr->isDir = S_ISDIR(st.st_mode);
  attr->readOnly = (st.st_mode & S_IWUSR) == 0;
  attr->size = int64_t(st.st_size);
  attr->modTime = int64_t(st.st_mtim.tv_sec);
  attr->createTime = attr->modTime;
  attr->mode = uint32_t(st.st_mode & 07777);
  attr->device = uint64_t(st.st_dev);
  attr->inode = uint64_t(st.st_ino);
}

// The birth time where the file system keeps one.
void AddBirthTime(int dirfd, const char* path, int flags, PlatFileAttr* attr) {
  struct statx sx;
  if (statx(dirfd, path, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    attr->createTime = int64_t(sx.stx_btime.tv_sec);
}

int64_t FaultAllows(PlatFile* f, int64_t end);
int32_t FaultCode();

// Copies the rest of in to out: 0, an errno value, or -1 when the fault of
// this layer failed a write (its code in *faultCode).
int CopyContents(int in, int out, int32_t* faultCode) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (FaultAllows(nullptr, -1) < 0) {
      *faultCode = FaultCode();
      return -1;
    }
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf + off, size_t(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      off += w;
    }
  }
}

}  // namespace

int32_t PlatErrnoToError(int err) {
  switch (err) {
    case 0: return kPlatErrNone;
    case ENOENT: return kPlatErrFileNotFound;
    case ENOTDIR: return kPlatErrPathNotFound;
    case EACCES: case EPERM: case EROFS: case EISDIR: return kPlatErrAccessDenied;
    case ENOMEM: return kPlatErrNoMemory;
    case EEXIST: return kPlatErrFileExists;
    case EINVAL: return kPlatErrInvalidParam;
    case ENAMETOOLONG: return kPlatErrInvalidName;
    case ENOSPC: case EDQUOT: return kPlatErrDiskFull;
    case ENOTEMPTY: return kPlatErrDirNotEmpty;
    case EMFILE: case ENFILE: return kPlatErrTooManyOpen;
    case EBADF: return kPlatErrInvalidHandle;
    case EXDEV: return kPlatErrNotSameDevice;
    case EBUSY: return kPlatErrBusy;
    default: return kPlatErrGeneral;
  }
}

int32_t PlatLastError() { return tLastError; }
void PlatSetLastError(int32_t code) { tLastError = code; }

int32_t PlatFileOpen(const char* text, int32_t disposition, int32_t access, int32_t deny, PlatFile** out) {
  if (!out) return Fail(kPlatErrInvalidParam);
  *out = nullptr;
  if (access < kPlatReadWrite || access > kPlatWriteTruncate || deny < kPlatDenyAll || deny > kPlatDenyNone ||
      disposition < kPlatOpenExisting || disposition > kPlatCreateAlways)
    return Fail(kPlatErrInvalidParam);
  std::string host;
  bool isRoot = false;
  if (int32_t err = Resolve(text, &host, &isRoot)) return err;
  if (isRoot) return Fail(kPlatErrAccessDenied);
  bool read = access == kPlatReadWrite || access == kPlatRead;
  bool write = access != kPlatRead;
  int flags = O_CLOEXEC | O_NONBLOCK | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  if (disposition == kPlatCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == kPlatCreateAlways) flags |= O_CREAT;
  int fd;
  do {
    fd = open(host.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FailErrno(errno);
  // Non-blocking only so that opening a pipe never waits.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int e = errno;
    close(fd);
    return FailErrno(e);
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return Fail(kPlatErrAccessDenied);
  }
  PlatFile* f = new (std::nothrow) PlatFile;
  if (!f) {
    close(fd);
    return Fail(kPlatErrNoMemory);
  }
  f->fd = fd;
  f->key = FileKey{st.st_dev, st.st_ino};
  f->canRead = read;
  f->canWrite = write;
  f->deny = deny;
  f->regular = S_ISREG(st.st_mode);
  const bool cut = S_ISREG(st.st_mode) && (access == kPlatWriteTruncate || disposition == kPlatCreateAlways);
  int cutErr = 0;
  {
    std::lock_guard<std::mutex> g(gTableLock);
    auto& list = gOpen[f->key];
    for (PlatFile* o : list) {
      if (Conflicts(*o, read, write, deny)) {
        close(fd);
        delete f;
        return Fail(kPlatErrSharing);
      }
    }
    // A mapped view of this process keeps the file from being cut.
    if (cut && gViews.count(f->key)) {
      if (list.empty()) gOpen.erase(f->key);
      close(fd);
      delete f;
      return Fail(kPlatErrUserMappedFile);
    }
    list.push_back(f);
    gLive.insert(f);
    if (cut && ftruncate(fd, 0) != 0) cutErr = errno;
  }
  if (cutErr) {
    PlatFileClose(f);
    return FailErrno(cutErr);
  }
  *out = f;
  return 0;
}

int32_t PlatFileClose(PlatFile* f) {
  {
    std::lock_guard<std::mutex> g(gTableLock);
    if (!f || !gLive.erase(f)) return Fail(kPlatErrInvalidHandle);
    auto it = gOpen.find(f->key);
    if (it != gOpen.end()) {
      auto& list = it->second;
      for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == f) {
          list.erase(list.begin() + long(i));
          break;
        }
      }
      if (list.empty()) gOpen.erase(it);
    }
  }
  int rc = close(f->fd);
  int e = errno;
  delete f;
  return rc == 0 ? 0 : FailErrno(e);
}

bool PlatFileIsOpen(PlatFile* f) { return ValidFile(f); }

namespace {

std::mutex gFaultLock;
// Read without the lock first: a write with no fault set takes no mutex.
std::atomic<bool> gFaultArmed{false};
bool gFaultSet = false;
PlatFileFault gFault;
int64_t gFaultChanges = 0, gFaultFailures = 0;

// Counts a change of the file that would reach end (a flush: -1) and says
// how much of it may be done: all of it (INT64_MAX), the bytes up to the
// limit (a file offset), or nothing (-1).
int64_t FaultAllows(PlatFile* f, int64_t end) {
  if (!gFaultArmed.load(std::memory_order_acquire)) return INT64_MAX;
  std::lock_guard<std::mutex> g(gFaultLock);
  if (!gFaultSet || (gFault.file && gFault.file != f)) return INT64_MAX;
  const int64_t n = ++gFaultChanges;
  int64_t allowed = INT64_MAX;
  if (gFault.failAt > 0 && (n == gFault.failAt || (gFault.sticky && n > gFault.failAt)))
    allowed = -1;
  else if (end >= 0 && gFault.byteLimit >= 0 && end > gFault.byteLimit)
    allowed = gFault.byteLimit;
  if (allowed != INT64_MAX) ++gFaultFailures;
  return allowed;
}

int32_t FaultCode() {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gFault.code ? gFault.code : int32_t(kPlatErrDiskFull);
}

bool FaultMovesAcrossVolumes() {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gFaultSet && gFault.moveAcrossVolumes;
}

}  // namespace

void PlatFileSetFault(const PlatFileFault* fault) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gFaultSet = fault != nullptr;
  gFaultArmed.store(gFaultSet, std::memory_order_release);
  gFault = fault ? *fault : PlatFileFault();
  gFaultChanges = gFaultFailures = 0;
}

int64_t PlatFileFaultChanges() {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gFaultChanges;
}

int64_t PlatFileFaultFailures() {
  std::lock_guard<std::mutex> g(gFaultLock);
  return gFaultFailures;
}

int32_t PlatFileRead(PlatFile* f, void* buf, uint32_t count, uint32_t* done) {
  uint32_t total = 0;
  if (done) *done = 0;
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (!f->canRead) return Fail(kPlatErrAccessDenied);
  char* p = static_cast<char*>(buf);
  while (total < count) {
    uint32_t chunk = count - total > (1u << 30) ? (1u << 30) : count - total;
    ssize_t n = read(f->fd, p + total, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      if (done) *done = total;
      return FailErrno(e);
    }
    if (n == 0) break;
    total += uint32_t(n);
    if (f->regular) f->pos.fetch_add(n, std::memory_order_relaxed);
  }
  if (done) *done = total;
  return 0;
}

namespace {
// Writes count bytes at the current position.
int32_t WriteAll(PlatFile* f, const char* p, uint32_t count, uint32_t* done) {
  uint32_t total = 0;
  int32_t rc = 0;
  while (total < count) {
    uint32_t chunk = count - total > (1u << 30) ? (1u << 30) : count - total;
    ssize_t n = write(f->fd, p + total, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      rc = n < 0 ? FailErrno(errno) : Fail(kPlatErrDiskFull);
      break;
    }
    total += uint32_t(n);
    if (f->regular) f->pos.fetch_add(n, std::memory_order_relaxed);
  }
  if (done) *done = total;
  return rc;
}
}  // namespace

int32_t PlatFileWrite(PlatFile* f, const void* buf, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (!f->canWrite) return Fail(kPlatErrAccessDenied);
  const char* p = static_cast<const char*>(buf);
  const int64_t at = f->regular ? f->pos.load(std::memory_order_relaxed) : int64_t(lseek(f->fd, 0, SEEK_CUR));
  const int64_t allowed = FaultAllows(f, at < 0 ? 0 : int64_t(at) + count);
  if (allowed < 0) return Fail(FaultCode());
  if (allowed != INT64_MAX) {
    // The bytes below the limit, then a full disk.
    const uint32_t part = allowed > int64_t(at) ? uint32_t(allowed - int64_t(at)) : 0;
    int32_t rc = WriteAll(f, p, part, done);
    return rc ? rc : Fail(FaultCode());
  }
  return WriteAll(f, p, count, done);
}

int32_t PlatFileGetPos(PlatFile* f, int64_t* pos) {
  if (!ValidFile(f) || !pos) return Fail(kPlatErrInvalidHandle);
  if (f->regular) {
    *pos = f->pos.load(std::memory_order_relaxed);
    return 0;
  }
  off_t o = lseek(f->fd, 0, SEEK_CUR);
  if (o < 0) return FailErrno(errno);
  *pos = int64_t(o);
  return 0;
}

int32_t PlatFileSetPos(PlatFile* f, int64_t pos) {
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (pos < 0) return Fail(kPlatErrInvalidParam);
  if (f->regular && f->pos.load(std::memory_order_relaxed) == pos) return 0;
  if (lseek(f->fd, off_t(pos), SEEK_SET) < 0) return FailErrno(errno);
  if (f->regular) f->pos.store(pos, std::memory_order_relaxed);
  return 0;
}

int32_t PlatFileGetSize(PlatFile* f, int64_t* size) {
  if (!ValidFile(f) || !size) return Fail(kPlatErrInvalidHandle);
  struct stat st;
  if (fstat(f->fd, &st) != 0) return FailErrno(errno);
  *size = int64_t(st.st_size);
  return 0;
}

int32_t PlatFileSetSize(PlatFile* f, int64_t size) {
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (size < 0) return Fail(kPlatErrInvalidParam);
  if (!f->canWrite) return Fail(kPlatErrAccessDenied);
  if (FaultAllows(f, size) != INT64_MAX) return Fail(FaultCode());
  std::lock_guard<std::mutex> g(gTableLock);
  auto views = gViews.find(f->key);
  if (views != gViews.end())
    for (const PlatView* v : views->second)
      if (v->end > size) return Fail(kPlatErrUserMappedFile);
  int rc;
  do {
    rc = ftruncate(f->fd, off_t(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : FailErrno(errno);
}

uint32_t PlatMapGranularity() {
  long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? uint32_t(page) : 4096u;
}

int32_t PlatFileMapView(PlatFile* f, int64_t offset, uint32_t length, PlatView** view, const uint8_t** address) {
  if (!view || !address) return Fail(kPlatErrInvalidParam);
  *view = nullptr;
  *address = nullptr;
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (!f->canRead) return Fail(kPlatErrAccessDenied);
  if (offset < 0 || length == 0 || offset % PlatMapGranularity() != 0) return Fail(kPlatErrInvalidParam);
  // Checked and mapped under the table lock, so no size change of this
  // process comes between: touching a page past the end would raise SIGBUS.
  std::lock_guard<std::mutex> g(gTableLock);
  struct stat st;
  if (fstat(f->fd, &st) != 0) return FailErrno(errno);
  if (offset + int64_t(length) > int64_t(st.st_size)) return Fail(kPlatErrInvalidParam);
  PlatView* v = new (std::nothrow) PlatView{nullptr, length, f->key, offset + int64_t(length)};
  if (!v) return Fail(kPlatErrNoMemory);
  v->base = mmap(nullptr, length, PROT_READ, MAP_SHARED, f->fd, off_t(offset));
  if (v->base == MAP_FAILED) {
    int e = errno;
    delete v;
    return FailErrno(e);
  }
  gViews[v->key].push_back(v);
  *view = v;
  *address = static_cast<const uint8_t*>(v->base);
  return 0;
}

void PlatUnmapView(PlatView* view) {
  if (!view) return;
  {
    std::lock_guard<std::mutex> g(gTableLock);
    auto it = gViews.find(view->key);
    if (it != gViews.end()) {
      auto& list = it->second;
      for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == view) {
          list.erase(list.begin() + long(i));
          break;
        }
      if (list.empty()) gViews.erase(it);
    }
  }
  munmap(view->base, view->length);
  delete view;
}

int32_t PlatFileFlush(PlatFile* f) {
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  if (!f->canWrite) return 0;
  if (FaultAllows(f, -1) < 0) return Fail(FaultCode());
  if (fsync(f->fd) != 0 && errno != EINVAL) return FailErrno(errno);
  return 0;
}

int32_t PlatFileLockRange(PlatFile* f, int64_t start, int64_t count, bool lock) {
  if (start < 0 || count <= 0 || start > INT64_MAX - count) return Fail(kPlatErrInvalidParam);
  std::lock_guard<std::mutex> g(gTableLock);
  if (!f || !gLive.count(f)) return Fail(kPlatErrInvalidHandle);
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(start);
  fl.l_len = off_t(count);
  if (!lock) {
    for (size_t i = 0; i < f->locks.size(); ++i) {
      if (f->locks[i].start == start && f->locks[i].count == count) {
        fl.l_type = F_UNLCK;
        fcntl(f->fd, F_OFD_SETLK, &fl);
        f->locks.erase(f->locks.begin() + long(i));
        return 0;
      }
    }
    return Fail(kPlatErrNotLocked);
  }
  for (PlatFile* o : gOpen[f->key])
    for (const LockRange& r : o->locks)
      if (Overlaps(r, start, count)) return Fail(kPlatErrLock);
  // Another process's locks: a read-only open can only take a shared lock.
  fl.l_type = f->canWrite ? F_WRLCK : F_RDLCK;
  if (fcntl(f->fd, F_OFD_SETLK, &fl) != 0) {
    if (errno == EAGAIN || errno == EACCES) return Fail(kPlatErrLock);
    if (errno != EINVAL && errno != ENOLCK) return FailErrno(errno);
    // The file system keeps no locks: this process's table alone decides.
  }
  f->locks.push_back(LockRange{start, count});
  return 0;
}

int32_t PlatFileAttrOf(const char* text, PlatFileAttr* attr) {
  std::string host;
  if (int32_t err = Resolve(text, &host)) return err;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return FailErrno(errno);
  FillAttr(st, attr);
  AddBirthTime(AT_FDCWD, host.c_str(), 0, attr);
  return 0;
}

int32_t PlatFileAttrOfOpen(PlatFile* f, PlatFileAttr* attr) {
  if (!ValidFile(f)) return Fail(kPlatErrInvalidHandle);
  struct stat st;
  if (fstat(f->fd, &st) != 0) return FailErrno(errno);
  FillAttr(st, attr);
  AddBirthTime(f->fd, "", AT_EMPTY_PATH, attr);
  return 0;
}

int32_t PlatFileTrueName(const char* text, std::string* name) {
  std::string host;
  bool isRoot = false;
  if (int32_t err = Resolve(text, &host, &isRoot)) return err;
  if (isRoot) return Fail(kPlatErrInvalidParam);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return FailErrno(errno);
  *name = host.substr(host.rfind('/') + 1);
  return 0;
}

int32_t PlatFindFirst(const char* text, PlatFind** find, PlatFindEntry* entry) {
  if (!text || !find || !entry) return Fail(kPlatErrInvalidParam);
  *find = nullptr;
  const char* slash = std::strrchr(text, '\\');
  if (!slash) return Fail(kPlatErrInvalidName);
  std::string folderText(text, size_t(slash - text));
  if (folderText.size() == 2 && folderText[1] == ':') folderText += '\\';
  const char* pattern = slash + 1;
  std::string host;
  bool isRoot = false;
  if (int32_t err = Resolve(folderText.c_str(), &host, &isRoot)) return err;
  DIR* d = opendir(host.c_str());
  if (!d) {
    int e = errno;
    return Fail(e == ENOENT || e == ENOTDIR ? kPlatErrPathNotFound : PlatErrnoToError(e));
  }
  PlatFind* fnd = new (std::nothrow) PlatFind;
  if (!fnd) {
    closedir(d);
    return Fail(kPlatErrNoMemory);
  }
  fnd->next = 0;
  bool all = MatchesAll(pattern);
  if (!isRoot) {
    for (const char* dots : {".", ".."}) {
      if (all || WildMatch(pattern, dots)) {
        PlatFindEntry e;
        std::strcpy(e.name, dots);
        e.isDir = true;
        fnd->entries.push_back(e);
      }
    }
  }
  while (struct dirent* de = readdir(d)) {
    if (!std::strcmp(de->d_name, ".") || !std::strcmp(de->d_name, "..")) continue;
    size_t len = std::strlen(de->d_name);
    if (len > 255 || !(all || WildMatch(pattern, de->d_name))) continue;
    PlatFindEntry e;
    std::memcpy(e.name, de->d_name, len + 1);
    if (de->d_type == DT_UNKNOWN) {
      struct stat st;
      std::string full = host == "/" ? "/" + std::string(de->d_name) : host + "/" + de->d_name;
      const bool known = lstat(full.c_str(), &st) == 0;
      e.isDir = known && S_ISDIR(st.st_mode);
      e.isLink = !known || S_ISLNK(st.st_mode);
    } else {
      e.isDir = de->d_type == DT_DIR;
      e.isLink = de->d_type == DT_LNK;
    }
    fnd->entries.push_back(e);
  }
  closedir(d);
  if (fnd->entries.empty()) {
    delete fnd;
    return Fail(kPlatErrFileNotFound);
  }
  *entry = fnd->entries[0];
  fnd->next = 1;
  *find = fnd;
  return 0;
}

int32_t PlatFindNext(PlatFind* find, PlatFindEntry* entry) {
  if (!find || !entry) return Fail(kPlatErrInvalidParam);
  if (find->next >= find->entries.size()) return Fail(kPlatErrNoMoreFiles);
  *entry = find->entries[find->next++];
  return 0;
}

void PlatFindClose(PlatFind* find) { delete find; }

int32_t PlatMakeFolder(const char* text) {
  std::string host;
  bool isRoot = false;
  if (int32_t err = Resolve(text, &host, &isRoot)) return err;
  if (isRoot) return Fail(kPlatErrAlreadyExists);
  if (mkdir(host.c_str(), 0777) != 0) return FailErrno(errno);
  return 0;
}

int32_t PlatRemove(const char* text) {
  std::string host;
  bool isRoot = false;
  if (int32_t err = Resolve(text, &host, &isRoot)) return err;
  if (isRoot) return Fail(kPlatErrAccessDenied);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return FailErrno(errno);
  if (S_ISDIR(st.st_mode)) return rmdir(host.c_str()) == 0 ? 0 : FailErrno(errno);
  std::lock_guard<std::mutex> g(gTableLock);
  if (IsOpenLocked(FileKey{st.st_dev, st.st_ino})) return Fail(kPlatErrSharing);
  return unlink(host.c_str()) == 0 ? 0 : FailErrno(errno);
}

int32_t PlatMove(const char* from, const char* to) {
  std::string src, dst;
  bool srcRoot = false, dstRoot = false;
  if (int32_t err = Resolve(from, &src, &srcRoot)) return err;
  if (int32_t err = Resolve(to, &dst, &dstRoot)) return err;
  if (srcRoot || dstRoot) return Fail(kPlatErrAccessDenied);
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return FailErrno(errno);
  if (src == dst) {
    // A change of letter case only: the target keeps the name as given.
    const char* slash = std::strrchr(to, '\\');
    dst = dst.substr(0, dst.rfind('/') + 1) + (slash ? slash + 1 : to);
    if (dst == src) return 0;
    if (rename(src.c_str(), dst.c_str()) != 0) return FailErrno(errno);
    return 0;
  }
  {
    std::lock_guard<std::mutex> g(gTableLock);
    if (!S_ISDIR(st.st_mode) && IsOpenLocked(FileKey{st.st_dev, st.st_ino})) return Fail(kPlatErrSharing);
  }
  if (S_ISDIR(st.st_mode) && FaultMovesAcrossVolumes()) return Fail(kPlatErrNotSameDevice);
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int e = errno;
  if (e == EINVAL || e == ENOSYS) {
    struct stat dt;
    if (lstat(dst.c_str(), &dt) == 0) return Fail(kPlatErrAlreadyExists);
    if (rename(src.c_str(), dst.c_str()) == 0) return 0;
    e = errno;
  }
  if (e == EEXIST) return Fail(kPlatErrAlreadyExists);
  if (e == EXDEV && S_ISREG(st.st_mode)) {
    if (int32_t err = PlatCopy(from, to)) return err;
    if (unlink(src.c_str()) != 0) return FailErrno(errno);
    return 0;
  }
  return FailErrno(e);
}

int32_t PlatFileReplace(const char* from, const char* to) {
  std::string src, dst;
  bool srcRoot = false, dstRoot = false;
  if (int32_t err = Resolve(from, &src, &srcRoot)) return err;
  if (int32_t err = Resolve(to, &dst, &dstRoot)) return err;
  if (srcRoot || dstRoot) return Fail(kPlatErrAccessDenied);
  struct stat st, dt;
  if (lstat(src.c_str(), &st) != 0) return FailErrno(errno);
  if (!S_ISREG(st.st_mode)) return Fail(kPlatErrAccessDenied);
  if (lstat(dst.c_str(), &dt) == 0 && !S_ISREG(dt.st_mode)) return Fail(kPlatErrAccessDenied);
  {
    std::lock_guard<std::mutex> g(gTableLock);
    if (IsOpenLocked(FileKey{st.st_dev, st.st_ino})) return Fail(kPlatErrSharing);
  }
  if (FaultAllows(nullptr, -1) < 0) return Fail(FaultCode());
  if (rename(src.c_str(), dst.c_str()) != 0) return FailErrno(errno);
  return 0;
}

int32_t PlatCopy(const char* from, const char* to) {
  std::string src, dst;
  bool dstRoot = false;
  if (int32_t err = Resolve(from, &src)) return err;
  if (int32_t err = Resolve(to, &dst, &dstRoot)) return err;
  if (dstRoot) return Fail(kPlatErrAccessDenied);
  int in = open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return FailErrno(errno);
  struct stat st;
  if (fstat(in, &st) != 0) {
    int e = errno;
    close(in);
    return FailErrno(e);
  }
  if (!S_ISREG(st.st_mode)) {
    close(in);
    return Fail(kPlatErrAccessDenied);
  }
  {
    std::lock_guard<std::mutex> g(gTableLock);
    auto it = gOpen.find(FileKey{st.st_dev, st.st_ino});
    if (it != gOpen.end())
      for (PlatFile* o : it->second)
        if (!SharesRead(o->deny)) {
          close(in);
          return Fail(kPlatErrSharing);
        }
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    int e = errno;
    close(in);
    return FailErrno(e);
  }
  int32_t faultCode = 0;
  int e = CopyContents(in, out, &faultCode);
  if (!e) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    fchmod(out, st.st_mode & 0777);
    futimens(out, times);
  }
  close(in);
  if (close(out) != 0 && !e) e = errno;
  if (e) {
    unlink(dst.c_str());
    return e < 0 ? Fail(faultCode) : FailErrno(e);
  }
  return 0;
}

int PlatSetPermissions(const char* text, uint32_t mode) {
  std::string host;
  if (int32_t err = Resolve(text, &host)) return err == kPlatErrPathNotFound ? ENOENT : EINVAL;
  return chmod(host.c_str(), mode_t(mode & 07777)) == 0 ? 0 : errno;
}

int PlatSetTimes(const char* text, int64_t accessTime, int64_t modTime) {
  std::string host;
  if (int32_t err = Resolve(text, &host)) return err == kPlatErrPathNotFound ? ENOENT : EINVAL;
  struct timespec times[2];
  times[0].tv_sec = time_t(accessTime);
  times[0].tv_nsec = 0;
  times[1].tv_sec = time_t(modTime);
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, host.c_str(), times, 0) == 0 ? 0 : errno;
}

namespace {
std::atomic<PlatVolumeSpaceProc> gVolumeSpaceHook{nullptr};
}  // namespace

void PlatSetVolumeSpaceHook(PlatVolumeSpaceProc proc) { gVolumeSpaceHook.store(proc); }

int32_t PlatVolumeSpace(const char* text, uint64_t* total, uint64_t* freeBytes) {
  if (PlatVolumeSpaceProc hook = gVolumeSpaceHook.load()) return hook(text, total, freeBytes);
  std::string host;
  if (int32_t err = Resolve(text, &host)) return err;
  struct statvfs sv;
  if (statvfs(host.c_str(), &sv) != 0) return FailErrno(errno);
  if (total) *total = uint64_t(sv.f_blocks) * sv.f_frsize;
  if (freeBytes) *freeBytes = uint64_t(sv.f_bavail) * sv.f_frsize;
  return 0;
}

namespace {

// The program's file as the kernel names it: an absolute path, or empty.
std::string ReadProgramLink() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = 0;
  if (buf[0] == '/') return std::string(buf, size_t(n));
  // An emulator may answer with the path the program was started by, relative
  // to the folder it was started in.
  char* full = realpath(buf, nullptr);
  std::string s = full ? full : "";
  std::free(full);
  return s;
}

// Taken while the start-up folder is still current: an emulator resolves the
// link against the current folder, which the program may later leave.
const std::string gProgramAtStart = ReadProgramLink();

}  // namespace

bool PlatProgramFile(std::string* hostPath) {
  std::string path = ReadProgramLink();
  if (path.empty()) path = gProgramAtStart;
  if (path.empty()) return false;
  *hostPath = std::move(path);
  return true;
}

bool PlatTempFolder(std::string* hostPath) {
  const char* t = std::getenv("TMPDIR");
  *hostPath = (t && t[0] == '/') ? t : "/tmp";
  while (hostPath->size() > 1 && hostPath->back() == '/') hostPath->pop_back();
  return true;
}

bool PlatCurrentFolder(std::string* hostPath) {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return false;
  *hostPath = buf;
  return true;
}

bool PlatSetCurrentFolder(const std::string& hostPath) { return chdir(hostPath.c_str()) == 0; }

bool PlatHostFolderExists(const std::string& hostPath) {
  struct stat st;
  return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The mask as the process started with it.  Taken while the program is still
// one thread (static initialisation), the only time setting and restoring it
// cannot leave another thread's files with a wrong mode.
uint32_t MaskBySetting() {
  mode_t m = umask(0);
  umask(m);
  return uint32_t(m);
}
const uint32_t gStartMask = MaskBySetting();

// The "Umask:" line of the process status, which kernels since 4.7 give.
bool MaskFromStatus(uint32_t* mask) {
  int fd;
  do {
    fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  char buf[4096];
  size_t used = 0;
  while (used < sizeof buf - 1) {
    ssize_t n = read(fd, buf + used, sizeof buf - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += size_t(n);
  }
  close(fd);
  buf[used] = 0;
  static const char kKey[] = "\nUmask:";
  const char* at = std::strstr(buf, kKey);
  if (!at) return false;
  at += sizeof kKey - 1;
  while (*at == ' ' || *at == '\t') ++at;
  uint32_t m = 0;
  int digits = 0;
  for (; *at >= '0' && *at <= '7' && digits < 5; ++at, ++digits) m = m * 8 + uint32_t(*at - '0');
  if (digits == 0 || *at != '\n' || m > 0777) return false;
  *mask = m;
  return true;
}

}  // namespace

uint32_t PlatGetUmask() {
  uint32_t m;
  return MaskFromStatus(&m) ? m : gStartMask;
}
