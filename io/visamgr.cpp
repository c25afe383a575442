// The VISA library binding and its sessions.
//
// Locks: the VISA mutex serialises loading and the making of unit-access
// records; the jar's own "JarRights" mutex serialises the jar's calls and
// guards a record's flags; gUseLock guards the use counts.  Order: the VISA
// mutex, then the jar's, then gUseLock, never the other way round.
//
// A record lives until its cookie is gone from the jar and no call uses it:
// a call that works on a record past the jar's mutex counts itself a user
// (SesnHold) while the cookie is still in the jar; disposal takes the cookie
// out, then waits for the users to end before freeing the record.
#include "io/visamgr.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/exec/callchain.h"
#include "engine/omid.h"
#include "engine/stdize.h"
#include "io/gpibsup.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "platform/instr/qxvisa.h"
#include "rtlib/arraysize.h"
#include "rtlib/filehooks.h"

namespace {

constexpr int32 kSyncVisaKey = 193, kCleanupVisaKey = 194;
constexpr uInt32 kAttrIntfType = 0x3FFF0171, kAttrIntfNum = 0x3FFF0176, kAttrVxiBoard = 0x3FFF0101;
constexpr uInt16 kIntfGPIB = 1, kIntfGPIBVXI = 3;
constexpr int32 kDescBuffer = 257;
const uChar kRMName[] = "\x02RM";
const uChar kRMType[] = "\x10Resource Manager";

#define QX_VISA_ENTRY_NAME(name) #name,
const char* const kEntryNames[kVisaEntryCount] = {QX_VISA_ENTRIES(QX_VISA_ENTRY_NAME)};
#undef QX_VISA_ENTRY_NAME

typedef int32(QX_VISA_CALL* OpenDefaultRMProc)(uInt32* rm);
typedef int32(QX_VISA_CALL* OpenProc)(uInt32 rm, const char* name, uInt32 mode, uInt32 timeout, uInt32* vi);
typedef int32(QX_VISA_CALL* CloseProc)(uInt32 vi);
typedef int32(QX_VISA_CALL* FindRsrcProc)(uInt32 rm, const char* expr, uInt32* list, uInt32* count, char* desc);
typedef int32(QX_VISA_CALL* FindNextProc)(uInt32 list, char* desc);
typedef int32(QX_VISA_CALL* GetAttributeProc)(uInt32 vi, uInt32 attr, void* value);

// Module state.  The entries and the resource-manager session are written
// under the VISA mutex and read without it once the session is seen.
ThMutex gMutex = nullptr;
CookieJar gJar = nullptr;
ExtLibModule gModule = nullptr;
std::atomic<void*> gEntries[kVisaEntryCount];
std::atomic<uInt32> gRM{0};
std::atomic<bool> gSync{false}, gAutoClose{false};
std::string gTestLibrary;

template <class Proc>
Proc Entry(int32 index) {
  return reinterpret_cast<Proc>(gEntries[index].load(std::memory_order_acquire));
}

// The jar's calls under its mutex.
struct JarHold {
  ThMutex m;
  JarHold() : m(gJar ? (*gJar)->mutex : nullptr) {
    if (m) ThMutexAcquire(m);
  }
  ~JarHold() {
    if (m) ThMutexRelease(m);
  }
};

// The users of each record that has any, under gUseLock; gIdle is signalled
// when a record's last user ends.
std::mutex gUseLock;
std::condition_variable gIdle;
std::unordered_map<const VSesn*, uInt32> gUses;

// Takes a session's cookie out of the jar: no call finds the record after
// this.  The record, or null when the cookie was none.
VSesn* TakeOut(Cookie c) {
  if (!c || !gJar) return nullptr;
  JarHold hold;
  VSesn* s = nullptr;
  if (MCGetCookieInfo(gJar, c, &s) != kNoErr || !s) return nullptr;
  MCDisposeCookie(gJar, c, nullptr);
  return s;
}

// Frees a record and what it holds; the cookie is the caller's to dispose.
void FreeRecord(VSesn* s) {
  if (!s) return;
  if (s->name) AZDisposePtr(s->name);
  if (s->omid) AZDisposePtr(s->omid);
  if (s->unitAccess) DisposeUnitAccessRec(s->unitAccess);
  AZDisposePtr(reinterpret_cast<UPtr>(s));
}

// Frees a record taken out of the jar once its last user has ended.
void FreeWhenIdle(VSesn* s) {
  if (!s) return;
  {
    std::unique_lock<std::mutex> uses(gUseLock);
    gIdle.wait(uses, [s] { return gUses.find(s) == gUses.end(); });
  }
  FreeRecord(s);
}

void ClearEntries() {
  for (auto& e : gEntries) e.store(nullptr, std::memory_order_relaxed);
}

bool PrefBool(int32 key) {
  int32 v = 0;
  CfgGetDefault(kCfgBool, CfgKeyName(key), &v);
  return v != 0;
}

}  // namespace

SesnHold::SesnHold(Cookie c) {
  if (!gJar) return;
  JarHold hold;
  VSesn* s = nullptr;
  if (MCGetCookieInfo(gJar, c, &s) != kNoErr || !s) return;
  session_ = s->session;
  flags_ = s->flags;
  std::lock_guard<std::mutex> uses(gUseLock);
  ++gUses[s];
  s_ = s;
}

SesnHold::~SesnHold() {
  if (!s_) return;
  std::lock_guard<std::mutex> uses(gUseLock);
  auto it = gUses.find(s_);
  if (--it->second == 0) {
    gUses.erase(it);
    gIdle.notify_all();
  }
}

ThMutex VisaMutex() { return gMutex; }

void VisaChangeFlags(VSesn* s, uInt32 set, uInt32 clear) {
  JarHold hold;
  s->flags = (s->flags & ~clear) | set;
}

bool VisaCString(LStrHandle h, std::string* out) {
  out->clear();
  if (!h || !*h) return true;
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  int32 n = (*h)->cnt;
  if (size < 4 || n <= 0) return true;
  if (n > size - 4) n = size - 4;
  out->assign(reinterpret_cast<const char*>((*h)->str), size_t(n));
  return out->find('\0') == std::string::npos;
}

MgErr VisaSetString(LStrHandle* h, const char* text, int32 n) {
  if (!*h) {
    *h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
    if (!*h) return kMemFullErr;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(*h), 4 + n) != kNoErr) {
    return kMemFullErr;
  }
  (**h)->cnt = n;
  if (n) std::memcpy((**h)->str, text, size_t(n));
  return kNoErr;
}

namespace {

int32 CloseLibrarySession(uInt32 vi) {
  CloseProc close = Entry<CloseProc>(kVisaEntry_viClose);
  return close ? close(vi) : kVisaStatNoEntry;
}

// A session's close and disposal; the clean-up entry goes too unless the
// clean-up itself is what closes it.
int32 CloseSession(Cookie c, bool fromCleanup);
int32 CloseOnCleanup(void* cookie) {
  CloseSession(Cookie(reinterpret_cast<uintptr_t>(cookie)), true);
  return 0;
}

int32 CloseSession(Cookie c, bool fromCleanup) {
  if (int32 st = VisaLoadLibrary()) return st;
  // Out of the jar first, so two closes of one session close it once.
  VSesn* s = TakeOut(c);
  if (!s) return kVisaStatNotASession;
  int32 status = CloseLibrarySession(s->session);
  FreeWhenIdle(s);
  if (!fromCleanup && gAutoClose.load()) {
    RTSetCleanupProc(&CloseOnCleanup, reinterpret_cast<void*>(uintptr_t(c)), kCleanupRemove);
  }
  return status;
}

}  // namespace

const char* VisaEntryName(int32 index) { return index >= 0 && index < kVisaEntryCount ? kEntryNames[index] : ""; }

void* VisaEntry(int32 index) {
  return index >= 0 && index < kVisaEntryCount ? gEntries[index].load(std::memory_order_acquire) : nullptr;
}

bool VisaSynchronous() { return gSync.load(); }
uInt32 VisaDefaultRM() { return gRM.load(); }

void VisaSetLibraryForTest(const char* name) { gTestLibrary = name ? name : ""; }

MgErr VisaInit() {
  gSync.store(PrefBool(kSyncVisaKey));
  gAutoClose.store(PrefBool(kCleanupVisaKey));
  if (!gMutex && ThMutexCreate(&gMutex, "VISA") != kNoErr) gMutex = nullptr;
  if (!gJar) gJar = MCNewBigJar(int32(sizeof(VSesn*)));
  return gJar ? kNoErr : kMemFullErr;
}

int32 VisaLoadLibrary() {
  if (gRM.load(std::memory_order_acquire)) return 0;
  if (!gMutex) return kMemFullErr;  // VisaInit could not make the mutex
  ThMutexAcquire(gMutex);
  int32 status = 0;
  if (!gRM.load()) {
    const char* name = gTestLibrary.empty() ? kQXVISALibraryName : gTestLibrary.c_str();
    if (!gModule) {
      MgErr err = LoadExternalLib(reinterpret_cast<ConstCStr>(name), &gModule, nullptr);
      if (err) status = err == kFileNotFoundErr ? kVisaStatNoLibrary : err;
    }
    if (!status) {
      for (int32 i = 0; i < kVisaEntryCount; ++i) {
        void* proc = nullptr;
        LoadExternalFunc(reinterpret_cast<ConstCStr>(kEntryNames[i]), &gModule, &proc);
        gEntries[i].store(proc, std::memory_order_release);
      }
      if (!gEntries[kVisaEntry_viReadAsync].load() || !gEntries[kVisaEntry_viWriteAsync].load()) gSync.store(true);
      if (gSync.load()) DBPrintf("VISA Read/Write operations will be synchronous.");
      OpenDefaultRMProc open = Entry<OpenDefaultRMProc>(kVisaEntry_viOpenDefaultRM);
      uInt32 rm = 0;
      status = open ? open(&rm) : kVisaStatNoEntry;
      if (status >= 0 && rm) {
        status = 0;
        gRM.store(rm, std::memory_order_release);
      } else if (status >= 0) {
        status = kVisaStatNoEntry;
      }
    }
    // A failed load leaves nothing behind: the next call starts again.
    if (status && gModule) {
      UnloadExternalLib(gModule);
      gModule = nullptr;
      ClearEntries();
    }
  }
  ThMutexRelease(gMutex);
  return status;
}

int32 VisaCloseAll() {
  int32 result = 0;
  bool loaded = gRM.load() != 0;
  if (gJar) {
    UHandle list = nullptr;
    {
      JarHold hold;
      result = MCGetCookieList(gJar, &list);
    }
    int32 n = 0;
    if (!result && list) std::memcpy(&n, *list, sizeof n);
    for (int32 i = 0; i < n; ++i) {
      Cookie c = 0;
      std::memcpy(&c, *list + 4 + 4 * i, sizeof c);
      VSesn* s = TakeOut(c);
      if (!s) {
        result = kArgErr;  // closed by another thread meanwhile
        continue;
      }
      if (loaded) CloseLibrarySession(s->session);
      FreeWhenIdle(s);
    }
    if (list) AZDisposeHandle(list);
  }
  if (loaded) {
    CloseLibrarySession(gRM.load());
    UnloadExternalLib(gModule);
  }
  if (gJar) MCDisposeJar(gJar);
  gJar = nullptr;
  gRM.store(0);
  gModule = nullptr;
  ClearEntries();
  if (gMutex) ThMutexDestroy(gMutex);
  gMutex = nullptr;
  return result;
}

int32 VNewSesn(ConstPStr name, const uChar* omid, uInt32 librarySession, Cookie* session) {
  if (!librarySession || !session) return kArgErr;
  *session = 0;
  if (!gJar) return kMemFullErr;
  auto* s = reinterpret_cast<VSesn*>(AZNewPClr(int32(sizeof(VSesn))));
  if (!s) return kMemFullErr;
  int32 nameBytes = 1 + (name ? name[0] : 0);
  s->name = AZNewPClr(nameBytes);
  if (s->name && name) std::memcpy(s->name, name, size_t(nameBytes));
  if (omid) s->omid = CopyOMId(omid);
  s->session = librarySession;
  Cookie c = 0;
  if (s->name && (!omid || s->omid)) {
    JarHold hold;
    c = MCNewCookie(gJar, &s);
    if (c) s->cookie = c;
  }
  if (!c) {
    FreeRecord(s);
    return kMemFullErr;
  }
  *session = c;
  return 0;
}

int32 VNewRMSesn(Cookie* session) {
  if (!session) return kArgErr;
  *session = 0;
  if (int32 st = VisaLoadLibrary()) return st;
  OpenDefaultRMProc open = Entry<OpenDefaultRMProc>(kVisaEntry_viOpenDefaultRM);
  if (!open) return kVisaStatNoEntry;
  uInt32 rm = 0;
  int32 status = open(&rm);
  if (status < 0) return status;
  // The class word in memory order, then the type part.
  uChar omid[2 + sizeof kRMType] = {};
  int16 cls = kRefnumNamed6;
  std::memcpy(omid, &cls, 2);
  std::memcpy(omid + 2, kRMType, sizeof kRMType);
  int32 err = VNewSesn(kRMName, omid, rm, session);
  if (err) {
    if (rm) CloseLibrarySession(rm);
    return err;
  }
  return status;
}

int32 VDisposeSesn(Cookie session) {
  VSesn* s = TakeOut(session);
  if (!s) return kArgErr;
  FreeWhenIdle(s);
  return 0;
}

int32 VCookieToSesn(Cookie session, uInt32* librarySession) {
  if (!session || !librarySession) return kArgErr;
  *librarySession = 0;
  if (!gJar) return kArgErr;
  SesnHold held(session);
  if (!held.record()) return kArgErr;
  *librarySession = held.session();
  return 0;
}

int32 VGetAllOpenSessions(UHandle list) {
  if (!list) return kArgErr;
  JarHold hold;
  return MCGetCookieList(gJar, &list);
}

VSesn* VisaSessionRecord(Cookie session) {
  if (!gJar) return nullptr;
  JarHold hold;
  VSesn* s = nullptr;
  return MCGetCookieInfo(gJar, session, &s) == kNoErr ? s : nullptr;
}

int32 VisaOpen(LStrHandle name, uInt32 accessMode, uInt32 openTimeout, const TypeDescriptor* refnumTD,
               Cookie* session) {
  if (session) *session = 0;
  if (int32 st = VisaLoadLibrary()) return st;
  std::string text;
  if (!VisaCString(name, &text)) return kVisaStatNotFound;
  OpenProc open = Entry<OpenProc>(kVisaEntry_viOpen);
  if (!open) return kVisaStatNoEntry;
  uInt32 vi = 0;
  int32 status = open(gRM.load(), text.c_str(), accessMode, openTimeout, &vi);
  if (status < 0) return status;
  // The library refuses names over 255 bytes, so an opened one fits.
  uChar pname[256];
  pname[0] = uChar(text.size() > 255 ? 255 : text.size());
  std::memcpy(pname + 1, text.data(), pname[0]);
  Cookie c = 0;
  int32 err = VNewSesn(pname, refnumTD ? TDGetOMId(refnumTD) : nullptr, vi, session ? &c : nullptr);
  if (err) {
    // No refnum holds the library's session: it is closed here.
    if (vi) CloseLibrarySession(vi);
    return err;
  }
  *session = c;
  if (status != 0) return status;
  GetAttributeProc get = Entry<GetAttributeProc>(kVisaEntry_viGetAttribute);
  uInt16 type = 0, board = 0;
  // The GPIB detection is optional: a failed read leaves the flags alone.
  if (get && get(vi, kAttrIntfType, &type) == 0) {
    uInt32 attr = type == kIntfGPIB ? kAttrIntfNum : type == kIntfGPIBVXI ? kAttrVxiBoard : 0;
    // Boards past 255 do not fit the flags; such a session arbitrates alone.
    if (attr && get(vi, attr, &board) == 0 && board <= 0xFF) {
      // Set in the jar's mutex: the session may already be closed.
      JarHold hold;
      VSesn* s = nullptr;
      if (MCGetCookieInfo(gJar, c, &s) == kNoErr && s) s->flags |= kVSesnOnGPIB | (uInt32(board) << kVSesnBoardShift);
    }
  }
  if (gAutoClose.load()) RTSetCleanupProc(&CloseOnCleanup, reinterpret_cast<void*>(uintptr_t(c)), kCleanupTopVI);
  return 0;
}

int32 VisaClose(Cookie session) { return CloseSession(session, false); }

int32 VisaFindRsrc(LStrHandle expression, ArrayHandle* list, int32* count) {
  if (int32 st = VisaLoadLibrary()) return st;
  if (!list || !count) return kArgErr;
  *count = 0;
  std::string text;
  uInt32 found = 0;
  char desc[kDescBuffer] = {};
  int32 status;
  FindRsrcProc find = Entry<FindRsrcProc>(kVisaEntry_viFindRsrc);
  if (!VisaCString(expression, &text)) status = kVisaStatNotFound;
  else if (!find) status = kVisaStatNoEntry;
  else status = find(gRM.load(), text.c_str(), &found, reinterpret_cast<uInt32*>(count), desc);
  // A failed search leaves no count behind, whatever the library wrote.
  if (status < 0 || *count < 0) *count = 0;
  int32* countPtr = count;
  MgErr err = VectorResize(StdTDTable[kStdTDString], list, &countPtr);
  if (err && status == 0) status = err;
  if (status == 0) {
    FindNextProc next = Entry<FindNextProc>(kVisaEntry_viFindNext);
    for (int32 i = 0; i < *count; ++i) {
      desc[kDescBuffer - 1] = '\0';
      LStrHandle h = *reinterpret_cast<LStrHandle*>(**list + 4 + 4 * i);
      if (VisaSetString(&h, desc, int32(std::strlen(desc))) != kNoErr) {
        status = kMemFullErr;
        break;
      }
      *reinterpret_cast<LStrHandle*>(**list + 4 + 4 * i) = h;
      if (i + 1 < *count) {
        status = next ? next(found, desc) : kVisaStatNoEntry;
        if (status) break;
      }
    }
    if (status == kVisaStatNotFound) status = 0;
  }
  if (found) CloseLibrarySession(found);
  return status;
}

int32 VisaFindNext(uInt32 findList, LStrHandle description) {
  if (int32 st = VisaLoadLibrary()) return st;
  FindNextProc next = Entry<FindNextProc>(kVisaEntry_viFindNext);
  if (!next) return kVisaStatNoEntry;
  char desc[kDescBuffer] = {};
  int32 status = next(findList, desc);
  desc[kDescBuffer - 1] = '\0';
  if (status == 0 && description && VisaSetString(&description, desc, int32(std::strlen(desc))) != kNoErr) {
    return kMemFullErr;
  }
  return status;
}

int32 VisaAccess(Cookie session, int32* result, QueueElement* qe, int32 op) {
  if (int32 st = VisaLoadLibrary()) return st;
  // The record and its unit-access record stay alive until this returns.
  SesnHold held(session);
  VSesn* s = held.record();
  if (!s) {
    if (result) *result = kUnitNothing;
    return kVisaStatNotASession;
  }
  if (held.flags() & kVSesnOnGPIB) return GPIBUnitAccess(int32(held.flags() >> kVSesnBoardShift), result, qe, op);
  ThMutexAcquire(gMutex);
  if (!s->unitAccess) s->unitAccess = NewUnitAccessRec(int32(sizeof(UnitAccessRec)), kUnitAccessLevels, -1, 1);
  UnitAccessRec* record = s->unitAccess;
  ThMutexRelease(gMutex);
  if (!record) {
    if (result) *result = kUnitNothing;
    return kMemFullErr;
  }
  int32 r = UnitAccess(record, qe, op);
  if (result) *result = r;
  return 0;
}

Bool32 VisaIsASession(uInt32 refnum) {
  if (!refnum || !gJar) return 0;
  JarHold hold;
  return MCIsACookie(gJar, refnum) ? 1 : 0;
}

int32 VisaSessionGPIBBoard(Cookie session, int32* board) {
  if (int32 st = VisaLoadLibrary()) return st;
  if (!board) return kArgErr;
  *board = -1;
  SesnHold held(session);
  if (!held.record()) return kVisaStatNotASession;
  if (held.flags() & kVSesnOnGPIB) *board = int32(held.flags() >> kVSesnBoardShift);
  return 0;
}

int32 OpenShowObj(int32, int32, int32, int32) { return 0; }

void VisaInstallRefnumHook() {
  RefnumKindHooks kinds = RefnumKinds();
  kinds.isVisaSession = &VisaIsASession;
  SetRefnumKindHooks(&kinds);
}
