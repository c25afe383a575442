#include "server/appserve.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "engine/datamgr.h"
#include "engine/membertab.h"
#include "mgsource/cookie.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/thread.h"
#include "server/viref.h"

ThMutex gVIRefMutex = nullptr;
uInt32 gVIRefReleaseEpoch = 0;

namespace {

static_assert(sizeof(void*) == 4, "the jars' 4 information bytes hold a record pointer");

CookieJar gVIJar = nullptr;
CookieJar gAppJar = nullptr;

// Holds "gVIRefMutex" (when it exists) for a scope.
class RefLock {
 public:
  RefLock() : m_(gVIRefMutex) { ThMutexLock(m_); }
  ~RefLock() { ThMutexUnlock(m_); }
  RefLock(const RefLock&) = delete;
  RefLock& operator=(const RefLock&) = delete;

 private:
  ThMutex m_;
};

uInt32 Identity(uInt32 value) { return value; }
MgErr ThisApp_ReleaseAppRef(AppRecord*, AppRef) { return kNoErr; }

AppRecord gThisApp{{&ThisApp_OpenByName, &ThisApp_OpenByPath, &ThisApp_ReleaseRef, &Identity, &ThisApp_VIAttrVector,
                    &ThisApp_AppAttrVector, &ThisApp_VIDoMethod, &ThisApp_KillAsyncRef, &ThisApp_ReleaseAppRef,
                    &ThisApp_AppDoMethod},
                   reinterpret_cast<ConstPStr>("\007ThisApp"),
                   nullptr,
                   0,
                   0,
                   0,
                   nullptr,
                   {0}};

// The records of operations that complete later, so that an address from a
// caller is refused unless it is one of them.  A leaf lock: nothing else is
// taken while it is held.
std::mutex gAsyncLock;
std::set<AsyncRef>& LiveAsyncRefs() {
  static auto* s = new std::set<AsyncRef>;
  return *s;
}

// A counted-string text the caller may not have given: cleared first.
class TextOut {
 public:
  explicit TextOut(PStr text) : p_(text ? text : local_) { p_[0] = 0; }
  PStr get() { return p_; }

 private:
  Str255 local_;
  PStr p_;
};

void ClearAsync(AsyncRef* async) {
  if (async) *async = nullptr;
}

void ReportMissingVIRef(VIRef ref) {
  DBPrintf("ResolveVIRef: couldn't find 0x%lx in cookie jar", static_cast<unsigned long>(uInt32(ref)));
}

// The record of a VI refnum; "gVIRefMutex" is held.
inline __attribute__((always_inline)) VIRefRecord* ResolveLocked(VIRef ref) {
  const uChar* info = gVIJar ? MCLiveCookieInfo(gVIJar, Cookie(ref)) : nullptr;
  if (!info) return nullptr;
  VIRefRecord* record = nullptr;
  std::memcpy(&record, info, sizeof record);
  return record;
}

// A usable VI reference: resolved and not being released.
VIRefRecord* UsableVIRef(VIRef ref) {
  VIRefRecord* r = nullptr;
  {
    RefLock lock;
    r = ResolveLocked(ref);
    if (r && !(r->flags & kVIRefReleasePending)) return r;
  }
  if (!r) ReportMissingVIRef(ref);
  return nullptr;
}

bool Untrusted(const AppRecord* app, int32 options) { return app == &gThisApp && !(options & kVIRefOptTrusted); }
int32 PropFlags(int32 cls, int32 selector) {
  const AutoPropInfo* p = PropInfoLookup(cls, selector);
  return p ? p->flags : 0;
}
int32 MethodFlags(int32 cls, int32 method) {
  const AutoMethodInfo* m = MethodInfoLookup(cls, method);
  return m ? m->flags : 0;
}
constexpr int32 kRemoteForbidden = 0x08;
constexpr int32 kRunVIMethod = 1003;

// After a vector that failed (or whose entry failed), the values the get
// entries from the failing one on hold are freed, by their types, and left
// empty: the caller gets no half-built outputs and no handle it could free
// twice.
void CleanUpVector(int32 cls, int32 count, AttrEntry* vector, MgErr result, MgErr error, int32 index) {
  if ((result == kNoErr && error == kNoErr) || count <= 0 || !vector) return;
  for (int32 i = index > 0 ? index - 1 : 0; i < count; ++i) {
    const AttrEntry& e = vector[i];
    if (!e.get || !e.value) continue;
    const TypeDescriptor* td = PropInfoTypeDesc(cls, e.selector);
    if (!td || DataShape(td) == 0) continue;
    uChar* start = static_cast<uChar*>(e.value);
    DisposeData(td, start, start + DataSize(td));
  }
}

// One property through a one-entry vector of the record.
MgErr OneVIEntry(VIRefRecord* r, int32 get, int32 selector, void* value, int32 options, PStr text,
                 AsyncCompletion completion, AsyncRef* async) {
  AttrEntry e{get, selector, value};
  MgErr error = kNoErr;
  int32 index = 0;
  const MgErr result = r->app->methods.viAttrVector(r, 1, &e, options, &error, &index, text, completion, async);
  if (result == kVIRefPendingErr) return result;
  CleanUpVector(kAutoClassVI, 1, &e, result, error, index);
  return result ? result : error;
}

MgErr OneAppEntry(AppRecord* a, AppRef app, int32 get, int32 selector, void* value, int32 options, PStr text,
                  AsyncCompletion completion, AsyncRef* async) {
  AttrEntry e{get, selector, value};
  MgErr error = kNoErr;
  int32 index = 0;
  const MgErr result = a->methods.appAttrVector(a, app, 1, &e, options, &error, &index, text, completion, async);
  if (result == kVIRefPendingErr) return result;
  CleanUpVector(kAutoClassApp, 1, &e, result, error, index);
  return result ? result : error;
}

MgErr Refused(const char* text) {
  DBPrintf("%s", text);
  return kVIRefAccessErr;
}

}  // namespace

// ---- Operations that complete later ------------------------------------------------------

const char* AsyncOpName(int32 op) {
  static const char* const kNames[] = {"kAsyncGetAppRefOp",      "kAsyncGetVIRefOp",  "kAsyncAppAttrVectOp",
                                       "kAsyncVIAttrVectOp",     "kAsyncNonNativeCallVIOp",
                                       "kAsyncAppDoMethodOp",    "kAsyncVIDoMethodOp", "kAsyncCallVIPxCalleeOp"};
  return op >= 0 && op < int32(sizeof kNames / sizeof kNames[0]) ? kNames[op] : "Unknown asyncOp";
}

AsyncRef NewAsyncRef(int32 op, AppRecord* app) {
  auto* a = reinterpret_cast<AsyncRef>(AZNewPClr(int32(sizeof(AsyncRefRec))));
  if (!a) return nullptr;
  a->op = op;
  a->app = app;
  std::lock_guard<std::mutex> g(gAsyncLock);
  LiveAsyncRefs().insert(a);
  return a;
}

void FreeAsyncRef(AsyncRef async) {
  if (!async) return;
  {
    std::lock_guard<std::mutex> g(gAsyncLock);
    if (!LiveAsyncRefs().erase(async)) {
      DBAssert(__FILE__, __LINE__, "FreeAsyncRef: not a live asyncRef");
      return;
    }
  }
  if (async->op == kAsyncNonNativeCallVIOp && async->terminals) AZDisposePtr(async->terminals);
  AZDisposePtr(reinterpret_cast<UPtr>(async));
}

Bool32 IsLiveAsyncRef(AsyncRef async) {
  std::lock_guard<std::mutex> g(gAsyncLock);
  return async && LiveAsyncRefs().count(async) ? 1 : 0;
}

void AppendAsyncRef(AppRecord* app, AsyncRef async) {
  if (!app || !async) return;
  async->app = app;
  async->next = nullptr;
  AsyncRef* p = &app->asyncList;
  while (*p) p = &(*p)->next;
  *p = async;
}

Bool32 UnlinkAsyncRef(AppRecord* app, AsyncRef async) {
  if (!app || !async) return 0;
  for (AsyncRef* p = &app->asyncList; *p; p = &(*p)->next)
    if (*p == async) {
      *p = async->next;
      async->next = nullptr;
      return 1;
    }
  return 0;
}

MgErr KillQXObjAsyncRef(AsyncRef async) {
  // The record is read only once it is known to be live: a freed or foreign
  // address is refused by its value alone.
  if (!IsLiveAsyncRef(async) || !async->app) return kArgErr;
  AppRecord* app = async->app;
  return app->methods.killAsync(app, async);
}

// ---- The jars ------------------------------------------------------------------------------

AppRecord* ThisAppRecord() { return &gThisApp; }

MgErr VIRefInit() {
  if (gVIJar && gAppJar && gVIRefMutex) return kNoErr;
  CookieJar vi = MCNewBigJar(4);
  CookieJar app = vi ? MCNewBigJar(4) : nullptr;
  ThMutex m = nullptr;
  if (!app || ThMutexCreate(&m, "gVIRefMutex") != kNoErr) {
    if (app) MCDisposeJar(app);
    if (vi) MCDisposeJar(vi);
    return kMemFullErr;
  }
  gVIJar = vi;
  gAppJar = app;
  gVIRefMutex = m;
  gThisApp.flags |= kAppRecInitialised;
  return kNoErr;
}

void VIRefExit() {
  std::vector<VIRef> refs(256);
  refs.resize(size_t(std::max<int32>(0, std::min<int32>(VIRefList(refs.data(), int32(refs.size())), 256))));
  while (!refs.empty()) {
    for (VIRef ref : refs) VIRefRelease(ref);
    // A release waiting for a native call leaves its cookie: those are
    // forgotten with the jar.
    std::vector<VIRef> left(256);
    left.resize(size_t(std::max<int32>(0, std::min<int32>(VIRefList(left.data(), int32(left.size())), 256))));
    if (left == refs) break;
    refs = left;
  }
  DropSpareVIRefRecords();
  DropKeptControlValue();
  gThisApp.flags &= ~kAppRecInitialised;
  while (AsyncRef a = gThisApp.asyncList) {
    gThisApp.asyncList = a->next;
    FreeAsyncRef(a);
  }
  __atomic_store_n(&gVIRefReleaseEpoch, gVIRefReleaseEpoch + 1, __ATOMIC_RELEASE);
  if (gVIJar) MCDisposeJar(gVIJar);
  if (gAppJar) MCDisposeJar(gAppJar);
  if (gVIRefMutex) ThMutexDestroy(gVIRefMutex);
  gVIJar = gAppJar = nullptr;
  gVIRefMutex = nullptr;
}

AppRecord* ResolveQXAppRef(AppRef app) {
  if (app == kNoAppRef) return nullptr;
  if (app == kLocalAppRef) return (gThisApp.flags & kAppRecInitialised) ? &gThisApp : nullptr;
  AppRecord* record = nullptr;
  {
    RefLock lock;
    if (gAppJar && MCGetCookieInfo(gAppJar, app, &record) != kNoErr) record = nullptr;
  }
  if (!record) DBPrintf("ResolveQXAppRef: couldn't find 0x%lx in cookie jar", static_cast<unsigned long>(app));
  return record;
}

VIRefRecord* ResolveVIRef(VIRef ref) {
  VIRefRecord* record = nullptr;
  {
    RefLock lock;
    record = ResolveLocked(ref);
  }
  if (!record) ReportMissingVIRef(ref);
  return record;
}

Bool32 IsAppRefnum(uInt32 value) {
  RefLock lock;
  return value && gAppJar && MCIsACookie(gAppJar, value) ? 1 : 0;
}

Bool32 IsVIRefnum(uInt32 value) {
  RefLock lock;
  return value && gVIJar && MCIsACookie(gVIJar, value) ? 1 : 0;
}

VIRef NewVIRefCookie(VIRefRecord* record) {
  RefLock lock;
  return gVIJar ? VIRef(MCNewCookie(gVIJar, &record)) : 0;
}

MgErr DisposeVIRefCookie(VIRef ref) {
  RefLock lock;
  // A record goes only after its cookie: what a thread remembers of a
  // record is no longer trusted from here on.
  __atomic_store_n(&gVIRefReleaseEpoch, gVIRefReleaseEpoch + 1, __ATOMIC_RELEASE);
  return gVIJar ? MCDisposeCookie(gVIJar, Cookie(ref), nullptr) : kArgErr;
}

AppRef NewAppRefCookie(AppRecord* record) {
  RefLock lock;
  return gAppJar ? AppRef(MCNewCookie(gAppJar, &record)) : 0;
}

MgErr DisposeAppRefCookie(AppRef ref) {
  RefLock lock;
  return gAppJar ? MCDisposeCookie(gAppJar, ref, nullptr) : kArgErr;
}

int32 VIRefList(VIRef* out, int32 max) {
  UHandle list = nullptr;
  int32 n = 0;
  {
    RefLock lock;
    if (!gVIJar || MCGetCookieList(gVIJar, &list) != kNoErr) list = nullptr;
  }
  if (!list) return 0;
  if (AZGetHandleSize(list) >= 4) {
    std::memcpy(&n, *list, sizeof n);
    const int32 room = (AZGetHandleSize(list) - 4) / 4;
    if (n > room) n = room;
    if (n < 0) n = 0;
    for (int32 i = 0; i < n && i < max; ++i) std::memcpy(&out[i], *list + 4 + 4 * i, sizeof(VIRef));
  }
  AZDisposeHandle(list);
  return n;
}

void WithVIRefMutex(void (*proc)(void* context), void* context) {
  RefLock lock;
  proc(context);
}

VIRefRecord* ResolveVIRefHeld(VIRef ref) { return ResolveLocked(ref); }

VIRefRecord* VIRefLockResolve(VIRef ref) {
  ThMutexLock(gVIRefMutex);
  return ResolveLocked(ref);
}

// ---- The server switches -------------------------------------------------------------------

Bool32 ServerVICallsAllowed() { return PrefGet(kPrefServerVICallsEnabled) ? 1 : 0; }
Bool32 ServerVIOpsAllowed() { return PrefGet(kPrefServerVIPropertiesEnabled) ? 1 : 0; }
Bool32 ServerAppOpsAllowed() { return PrefGet(kPrefServerAppPropertiesEnabled) ? 1 : 0; }

// ---- The front door --------------------------------------------------------------------------

MgErr QXAppRefRelease(AppRef app) {
  AppRecord* a = ResolveQXAppRef(app);
  return a ? a->methods.releaseAppRef(a, app) : kArgErr;
}

MgErr AppOpenVIRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  if (out) *out = 0;
  if (!name || !name[0]) return kArgErr;
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (!out) return kArgErr;
  return a->methods.openByName(app, name, connType, options, password, out, t.get(), completion, async);
}

MgErr AppOpenVIRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  if (out) *out = 0;
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (!out || !path) return kArgErr;
  return a->methods.openByPath(app, path, connType, options, password, out, t.get(), completion, async);
}

MgErr VIRefRelease(VIRef ref) {
  VIRefRecord* r = nullptr;
  bool deferred = false;
  {
    RefLock lock;
    r = ResolveLocked(ref);
    if (!r || (r->flags & kVIRefReleasePending)) {
      if (!r) ReportMissingVIRef(ref);
      return kVIRefInvalidErr;
    }
    // The release bit joins the finished count in one atomic step: a native
    // call finishing before it is counted here, one finishing after it sees
    // the bit and has the user-interface thread look again.
    r->flags |= kVIRefReleasePending;
    const uInt32 done = __atomic_fetch_or(&r->nativeDone, kVIRefDoneReleaseBit, __ATOMIC_ACQ_REL);
    deferred = r->nativeCalls - int32(done & ~kVIRefDoneReleaseBit) > 0;
    __atomic_store_n(&gVIRefReleaseEpoch, gVIRefReleaseEpoch + 1, __ATOMIC_RELEASE);
  }
  // The last native call ends the release.
  if (deferred) return kNoErr;
  return r->app->methods.releaseRef(r);
}

MgErr VIRefSetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text,
                         AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  VIRefRecord* r = UsableVIRef(ref);
  if (!r) return kVIRefInvalidErr;
  if (Untrusted(r->app, options) &&
      (!ServerVIOpsAllowed() || (PropFlags(kAutoClassVI, selector) & kRemoteForbidden)))
    return Refused("A remote app tried to set a VI property (which is forbidden)!!");
  return OneVIEntry(r, 0, selector, value, options, t.get(), completion, async);
}

MgErr VIRefGetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text,
                         AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  VIRefRecord* r = UsableVIRef(ref);
  if (!r) return kVIRefInvalidErr;
  if (Untrusted(r->app, options) &&
      (!ServerVIOpsAllowed() || (PropFlags(kAutoClassVI, selector) & kRemoteForbidden)))
    return Refused("A remote app tried to get a VI property (which is forbidden)!!");
  return OneVIEntry(r, 1, selector, value, options, t.get(), completion, async);
}

MgErr VIRefAttrVector(VIRef ref, int32 count, AttrEntry* vector, int32 options, MgErr* error, int32* index,
                      PStr text, AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  MgErr localError = kNoErr;
  int32 localIndex = 0;
  if (!error) error = &localError;
  if (!index) index = &localIndex;
  *error = kNoErr;
  *index = 0;
  VIRefRecord* r = UsableVIRef(ref);
  if (!r) return kVIRefInvalidErr;
  if (Untrusted(r->app, options) && !ServerVIOpsAllowed()) return kVIRefAccessErr;
  const MgErr result = r->app->methods.viAttrVector(r, count, vector, options, error, index, t.get(), completion, async);
  if (result != kVIRefPendingErr) CleanUpVector(kAutoClassVI, count, vector, result, *error, *index);
  return result;
}

MgErr AppSetAttribute(AppRef app, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                      AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (Untrusted(a, options) && (!ServerAppOpsAllowed() || (PropFlags(kAutoClassApp, selector) & kRemoteForbidden)))
    return Refused("A remote app tried to set an app property (which is forbidden)!!");
  return OneAppEntry(a, app, 0, selector, value, options, t.get(), completion, async);
}

MgErr AppGetAttribute(AppRef app, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                      AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (Untrusted(a, options) && (!ServerAppOpsAllowed() || (PropFlags(kAutoClassApp, selector) & kRemoteForbidden)))
    return Refused("A remote app tried to get an app property (which is forbidden)!!");
  return OneAppEntry(a, app, 1, selector, value, options, t.get(), completion, async);
}

MgErr AppAttrVector(AppRef app, int32 count, AttrEntry* vector, int32 options, MgErr* error, int32* index,
                    PStr text, AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  MgErr localError = kNoErr;
  int32 localIndex = 0;
  if (!error) error = &localError;
  if (!index) index = &localIndex;
  *error = kNoErr;
  *index = 0;
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (Untrusted(a, options) && !ServerAppOpsAllowed())
    return Refused("A remote app tried to do a forbidden app attrVector!!");
  const MgErr result =
      a->methods.appAttrVector(a, app, count, vector, options, error, index, t.get(), completion, async);
  if (result != kVIRefPendingErr) CleanUpVector(kAutoClassApp, count, vector, result, *error, *index);
  return result;
}

MgErr VIRefDoMethod(VIRef ref, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                    AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  VIRefRecord* r = UsableVIRef(ref);
  if (!r) return kVIRefInvalidErr;
  if (Untrusted(r->app, options)) {
    const Bool32 allowed = method == kRunVIMethod ? ServerVICallsAllowed() : ServerVIOpsAllowed();
    if (!allowed || (MethodFlags(kAutoClassVI, method) & kRemoteForbidden))
      return Refused("A remote app tried to do a forbidden call!!");
  }
  return r->app->methods.viMethod(r, method, count, params, options, t.get(), completion, async);
}

MgErr AppDoMethod(AppRef app, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                  AsyncCompletion completion, AsyncRef* async) {
  TextOut t(text);
  ClearAsync(async);
  AppRecord* a = ResolveQXAppRef(app);
  if (!a) return kAppRefInvalidErr;
  if (Untrusted(a, options) && (!ServerAppOpsAllowed() || (MethodFlags(kAutoClassApp, method) & kRemoteForbidden)))
    return Refused("A remote app tried to do an app method (which is forbidden!!)");
  return a->methods.appMethod(a, app, method, count, params, options, t.get(), completion, async);
}
