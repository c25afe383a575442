// The file-refnum jar, the refnum tests and open, create and close.
#include "rtlib/filerefnum.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "engine/exec/execrec.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/flatten.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/cookie.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "platform/qx_file.h"

namespace {

// Made at start-up, before any diagram runs; disposed at shut-down.
CookieJar gJar = nullptr;

// Calls on one open file of the process run one at a time: the refnums that
// name the same file (by device and file number) share one of these.
struct FileCalls {
  std::recursive_mutex m;
  int32 refs = 0;  // refnums sharing it; under gCallsLock
  std::pair<uInt64, uInt64> id{0, 0};
  bool shared = false;  // in gCallsByFile
};

std::mutex gCallsLock;
std::map<std::pair<uInt64, uInt64>, FileCalls*> gCallsByFile;

// The calls lock of an open file, shared with the other refnums of the same
// file; a file whose identity the host does not give gets one of its own.
FileCalls* CallsFor(FileRef file) {
  PlatFileAttr a{};
  const bool known = file && PlatFileAttrOfOpen(reinterpret_cast<PlatFile*>(file), &a) == 0;
  std::lock_guard<std::mutex> g(gCallsLock);
  if (known) {
    auto it = gCallsByFile.find({a.device, a.inode});
    if (it != gCallsByFile.end()) {
      ++it->second->refs;
      return it->second;
    }
  }
  FileCalls* c = new (std::nothrow) FileCalls;
  if (!c) return nullptr;
  c->refs = 1;
  if (known) {
    c->id = {a.device, a.inode};
    c->shared = true;
    gCallsByFile[c->id] = c;
  }
  return c;
}

void ReleaseCalls(FileCalls* c) {
  std::lock_guard<std::mutex> g(gCallsLock);
  if (--c->refs > 0) return;
  if (c->shared) gCallsByFile.erase(c->id);
  delete c;
}

// The block of a refnum's handle: the record the jar's information names,
// then what keeps the refnum whole while threads use it.
struct RefnumEntry {
  FileRefnumRec rec;
  FileCalls* calls;  // held across each call on the file
  int32 users;       // calls holding the entry; under the jar's mutex
  Bool32 removed;    // the cookie is gone; under the jar's mutex
  Bool32 closed;     // the file went with a close; under calls->m
};

typedef RefnumEntry** FileRefnumHandle;

// Holds the jar's mutex for the lifetime of the object.
class JarLock {
 public:
  JarLock() : mutex_(gJar ? (*gJar)->mutex : nullptr) {
    if (mutex_) ThMutexAcquire(mutex_);
  }
  ~JarLock() {
    if (mutex_) ThMutexRelease(mutex_);
  }
  JarLock(const JarLock&) = delete;
  JarLock& operator=(const JarLock&) = delete;

 private:
  ThMutex mutex_;
};

// The record of a refnum, with the jar's mutex held; null for a value that
// is not a refnum of the jar.
FileRefnumHandle RecordLocked(FileRefnum refnum) {
  if (!gJar || !refnum) return nullptr;
  FileRefnumHandle h = nullptr;
  if (MCGetCookieInfo(gJar, refnum, &h) != kNoErr || !h) return nullptr;
  return h;
}

// Runs use on the refnum's record with the jar's mutex held: use's answer,
// or 1 for a value that is not a refnum of the jar.
template <class Use>
MgErr WithRecord(FileRefnum refnum, Use&& use) {
  JarLock lock;
  FileRefnumHandle h = RecordLocked(refnum);
  return h ? use((**h).rec) : kArgErr;
}

// Frees an entry that no call holds any more.
void FreeEntry(FileRefnumHandle h) {
  if ((*h)->calls) ReleaseCalls((*h)->calls);
  FDisposePath((*h)->rec.path);
  AZDisposeHandle(reinterpret_cast<UHandle>(h));
}

// Takes a use of the refnum's entry (null for a value that is not a refnum),
// and, with `remove`, takes the cookie out of the jar so that no later call
// finds it.
FileRefnumHandle Hold(FileRefnum refnum, bool remove) {
  JarLock lock;
  FileRefnumHandle h = RecordLocked(refnum);
  if (!h) return nullptr;
  ++(*h)->users;
  if (remove) {
    MCDisposeCookie(gJar, refnum, nullptr);
    (*h)->removed = 1;
  }
  return h;
}

// Gives a use back; the last use of a removed entry frees it.
void Unhold(FileRefnumHandle h) {
  bool last;
  {
    JarLock lock;
    last = --(*h)->users == 0 && (*h)->removed;
  }
  if (last) FreeEntry(h);
}

// Removes the refnum: the call under way on its file, if any, ends first;
// later calls find no refnum.  The file is handed back (null when a failed
// conversion left the refnum without one).
MgErr DisposeRefnum(FileRefnum refnum, FileRef* file) {
  if (file) *file = nullptr;
  FileRefnumHandle h = Hold(refnum, true);
  if (!h) return kArgErr;
  if (FileCalls* c = (*h)->calls) c->m.lock();
  (*h)->closed = 1;
  if (file) *file = (*h)->rec.file;
  if (FileCalls* c = (*h)->calls) c->m.unlock();
  Unhold(h);
  return kNoErr;
}

// The type descriptor at a handle's block plus an offset, or none.
const TypeDescriptor* TDAt(UHandle h, int32 offset) {
  if (!h || !*h || offset < 0) return nullptr;
  return reinterpret_cast<const TypeDescriptor*>(*h + offset);
}

bool ModesOk(int32 access, int32 deny) { return access >= 0 && access <= 3 && deny >= 0 && deny <= 2; }

// Registers the refnum's close with the top-level VI of the calling
// diagram's hierarchy.  A call made outside any running diagram (external
// code at start-up, a tool) has no VI to close it and registers nothing.
void RegisterClose(FileRefnum refnum) {
  ExecContext* ctx = GetCurExecContext();
  if (!ctx || !ctx->current.load()) return;
  RTSetCleanupProc(&RTFPCloseProc, reinterpret_cast<void*>(uintptr_t(refnum)), kCleanupTopVI);
}

void UnregisterClose(FileRefnum refnum) {
  RTSetCleanupProc(&RTFPCloseProc, reinterpret_cast<void*>(uintptr_t(refnum)), kCleanupRemove);
}

// Closes the refnum's file and disposes the refnum; a refnum whose file a
// failed conversion left without one is only disposed.
void CloseAndDispose(FileRefnum refnum) {
  FileRef file = nullptr;
  if (DisposeRefnum(refnum, &file) == kNoErr && file) FMClose(file);
}

// Opens the file, checks a record type and makes the refnum: 0, -1 for a
// version-2 datalog (the refnum is made), or an error with nothing open.
MgErr OpenCore(Path path, int32 access, int32 deny, const TypeDescriptor* recordType, FileRefnum* refnumOut) {
  FileRef file = nullptr;
  if (MgErr err = FMOpen(&file, path, access, deny)) return err;
  int32 version = 3;
  if (recordType) {
    if (MgErr err = Datalog().checkType(file, recordType, &version)) {
      FMClose(file);
      return err;
    }
  }
  if (MgErr err = FNewRefNum(path, file, refnumOut)) {
    FMClose(file);
    return err;
  }
  return version == 2 ? -1 : kNoErr;
}

}  // namespace

// ---- The jar --------------------------------------------------------------------------

MgErr FRefNumJarCreate() {
  if (gJar) return kNoErr;
  gJar = MCNewJar();
  return gJar ? kNoErr : kMemFullErr;
}

MgErr FRefNumJarDispose() {
  if (!gJar) return kNoErr;
  UHandle list = nullptr;
  {
    JarLock lock;
    MCGetCookieList(gJar, &list);
  }
  if (list) {
    int32 n = 0;
    std::memcpy(&n, *list, sizeof n);
    for (int32 i = 0; i < n; ++i) {
      Cookie c;
      std::memcpy(&c, *list + 4 + i * int32(sizeof(Cookie)), sizeof c);
      CloseAndDispose(c);
    }
    AZDisposeHandle(list);
  }
  MCDisposeJar(gJar);
  gJar = nullptr;
  return kNoErr;
}

// ---- Refnums ----------------------------------------------------------------------------

MgErr FNewRefNum(Path path, FileRef file, FileRefnum* refnumOut) {
  if (!refnumOut) return kArgErr;
  *refnumOut = 0;
  if (!gJar) return kMemFullErr;
  FileRefnumHandle h = reinterpret_cast<FileRefnumHandle>(AZNewHClr(sizeof(RefnumEntry)));
  if (!h) return kMemFullErr;
  Path copy = path;
  if (FPathToPath(&copy) != kNoErr || !copy) {
    AZDisposeHandle(reinterpret_cast<UHandle>(h));
    return kMemFullErr;
  }
  (*h)->rec.path = copy;
  (*h)->rec.file = file;
  (*h)->rec.currentRecord = 0;
  FileCalls* calls = CallsFor(file);
  (*h)->calls = calls;
  Cookie c = 0;
  if (calls) {
    JarLock lock;
    c = MCNewCookie(gJar, &h);
  }
  if (!c) {
    FreeEntry(h);
    return kMemFullErr;
  }
  *refnumOut = c;
  return kNoErr;
}

MgErr FDisposeRefNum(FileRefnum refnum) { return DisposeRefnum(refnum, nullptr); }

FileRefnumUse::FileRefnumUse(FileRefnum refnum) {
  FileRefnumHandle h = Hold(refnum, false);
  if (!h) return;
  (*h)->calls->m.lock();
  if ((*h)->closed) {
    // Closed while this call waited for the one before it.
    (*h)->calls->m.unlock();
    Unhold(h);
    return;
  }
  entry_ = h;
  file_ = (*h)->rec.file;
}

FileRefnumUse::~FileRefnumUse() {
  if (!entry_) return;
  FileRefnumHandle h = static_cast<FileRefnumHandle>(entry_);
  (*h)->calls->m.unlock();
  Unhold(h);
}

Bool32 FIsARefNum(FileRefnum value) { return FPIsARefnum(value, kRefnumByteStream, 0); }

MgErr FRefNumToFD(FileRefnum refnum, FileRef* fileOut) {
  if (!fileOut) return kArgErr;
  *fileOut = nullptr;
  return WithRecord(refnum, [&](FileRefnumRec& r) {
    *fileOut = r.file;
    return kNoErr;
  });
}

MgErr FRefNumToPath(FileRefnum refnum, Path path) {
  if (!path) return kArgErr;
  const MgErr err = WithRecord(refnum, [&](FileRefnumRec& r) { return FPathCpy(path, r.path); });
  if (err) FNotAPath(path);
  return err;
}

MgErr FPRefnumToPath(FileRefnum refnum, Path* pathOut) {
  if (!pathOut) return kArgErr;
  if (!*pathOut && !(*pathOut = FEmptyPath(nullptr))) return kMemFullErr;
  MgErr err = FRefNumToPath(refnum, *pathOut);
  return err == kArgErr ? kNoErr : err;
}

Bool32 FPIsARefnum(uInt32 value, int32 kind, int32 subKind) {
  const RefnumKindHooks& k = RefnumKinds();
  switch (kind) {
    case 0: return 0;
    case kRefnumDatalog:
    case kRefnumByteStream: {
      JarLock lock;
      return gJar && value && MCIsACookie(gJar, value) ? 1 : 0;
    }
    case 3:
    case 4: return value != 0;
    case 5: return k.isNetConnection(value) ? 1 : 0;
    case kRefnumNamed6:
    case kRefnumNamed10: return value != 0 && k.isVisaSession(value) ? 1 : 0;
    case kRefnumAutomation: return k.isAutomationRefnum(value) ? 1 : 0;
    case kRefnumObject:
      if (subKind == 1) return k.isAppRefnum(value) ? 1 : 0;
      if (subKind == 2) return k.isVIRefnum(value) ? 1 : 0;
      DBAssert(__FILE__, __LINE__, "FPIsARefnum: bad object refnum subkind");
      return 0;
    case kRefnumMenu: return FileShell().isMenuRefnum(value) ? 1 : 0;
    default:
      DBAssert(__FILE__, __LINE__, "FPIsARefnum: bad refnum kind");
      return 0;
  }
}

MgErr FRefNumGetRecord(FileRefnum refnum, int32* record) {
  if (!record) return kArgErr;
  *record = 0;
  return WithRecord(refnum, [&](FileRefnumRec& r) {
    *record = r.currentRecord;
    return kNoErr;
  });
}

MgErr FRefNumSetRecord(FileRefnum refnum, int32 record) {
  return WithRecord(refnum, [&](FileRefnumRec& r) {
    r.currentRecord = record;
    return kNoErr;
  });
}

MgErr FRefNumSetFD(FileRefnum refnum, FileRef file) {
  return WithRecord(refnum, [&](FileRefnumRec& r) {
    r.file = file;
    return kNoErr;
  });
}

// ---- Open, create, close ----------------------------------------------------------------

MgErr RTFPOpen(Path path, int32 access, int32 deny, UHandle recordType, int32 recordTypeOffset,
               FileRefnum* refnumOut, Bool32 convert) {
  if (!refnumOut) return kArgErr;
  if (convert) {
    const FileRefnum refnum = *refnumOut;
    if (!FIsARefNum(refnum)) {
      *refnumOut = 0;
      return kArgErr;
    }
    if (MgErr err = Datalog().convert(refnum, access, deny)) {
      // The file is closed with the refnum, so that its deny mode does not
      // outlive it.
      CloseAndDispose(refnum);
      *refnumOut = 0;
      return err;
    }
    RegisterClose(refnum);
    return kNoErr;
  }
  *refnumOut = 0;
  if (!FIsAPath(path) || !ModesOk(access, deny)) return kArgErr;
  const TypeDescriptor* rec = TDAt(recordType, recordTypeOffset);
  const MgErr err = OpenCore(path, access, deny, rec, refnumOut);
  if (err == kNoErr) RegisterClose(*refnumOut);
  return err;
}

MgErr OpenDatalogAsk(Path path, int32 access, int32 deny, UHandle recordType, int32 recordTypeOffset,
                     FileRefnum* refnumOut) {
  if (!refnumOut) return kArgErr;
  *refnumOut = 0;
  if (!FIsAPath(path) || !ModesOk(access, deny)) return kArgErr;
  FileRefnum refnum = 0;
  const MgErr err = OpenCore(path, access, deny, TDAt(recordType, recordTypeOffset), &refnum);
  if (err != -1) {
    *refnumOut = refnum;
    return err;
  }
  Str255 text, button;
  DatalogConvertQuestion(path, text, button);
  if (FileShell().twoButtonAlert(kAlertPStr, text, button, nullptr, 1, kAlertDefaultPos, kAlertDefaultPos) != 1) {
    CloseAndDispose(refnum);
    return kCancelErr;
  }
  if (MgErr cerr = Datalog().convert(refnum, access, deny)) {
    CloseAndDispose(refnum);
    return cerr;
  }
  *refnumOut = refnum;
  return kNoErr;
}

MgErr RTFPNewFile(Path path, int32 deny, LStrHandle group, int32 permissions, int32 recordTypeOffset,
                  UHandle recordType, FileRefnum* refnumOut, Bool32 replace) {
  if (!refnumOut) return kArgErr;
  *refnumOut = 0;
  if (!FIsAPath(path) || deny < 0 || deny > 2) return kArgErr;
  if (group && *group && (*group)->cnt < 0) return kArgErr;
  Str255 groupName = {0};
  if (group && *group) {
    const int32 n = (*group)->cnt > 255 ? 255 : (*group)->cnt;
    groupName[0] = uChar(n);
    std::memcpy(groupName + 1, (*group)->str, size_t(n));
  }
  const int32 mode = FGetDefPerm(permissions ? permissions : 0666);
  FileRef file = nullptr;
  MgErr err = replace ? FCreateAlways(&file, path, mode, kAccessReadWrite, deny, groupName)
                      : FCreate(&file, path, mode, kAccessReadWrite, deny, groupName);
  if (err) return err;
  if (const TypeDescriptor* rec = TDAt(recordType, recordTypeOffset)) {
    if ((err = Datalog().create(file, rec)) != kNoErr) {
      FMClose(file);
      FRemove(path);
      return err;
    }
  }
  if ((err = FNewRefNum(path, file, refnumOut)) != kNoErr) {
    FMClose(file);
    return err;
  }
  RegisterClose(*refnumOut);
  return kNoErr;
}

int32 RTFPCloseProc(void* refnum) {
  FileRef file = nullptr;
  MgErr err = DisposeRefnum(FileRefnum(uintptr_t(refnum)), &file);
  if (err) return err;
  return file ? FMClose(file) : kNoErr;
}

MgErr RTFPClose(FileRefnum refnum) {
  if (!FIsARefNum(refnum)) return kArgErr;
  UnregisterClose(refnum);
  return RTFPCloseProc(reinterpret_cast<void*>(uintptr_t(refnum)));
}

MgErr FPFlush(FileRefnum refnum) {
  FileRefnumUse use(refnum);
  if (!use.file()) return kArgErr;
  return FFlush(use.file());
}

namespace {
void LogAlertText(int32 index, Str255 out) {
  if (RGetIndString(RunTimeRsrcFile(), out, kLogAlertListId, index) == kNoErr) return;
  const char* t = RunTextOf(kLogAlertListId, index);
  const size_t n = t ? std::strlen(t) : 0;
  out[0] = uChar(n > 255 ? 255 : n);
  if (n) std::memcpy(out + 1, t, out[0]);
}
}  // namespace

void DatalogConvertQuestion(Path path, Str255 text, Str255 button) {
  constexpr int32 kQuestionItem = 8, kButtonItem = 12;
  Str255 format;
  LogAlertText(kQuestionItem, format);
  LogAlertText(kButtonItem, button);
  char cformat[256];
  std::memcpy(cformat, format + 1, format[0]);
  cformat[format[0]] = 0;
  PPrintf(text, cformat, path);
}
