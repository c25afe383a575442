// The dispatch interface of embedded objects and the automation refnums
// made of it.
#include "server/embobj.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

// The library's entries; each is read once per call.
std::atomic<int32 (*)(int32, EmbDispatch**)> gGetDispatch{nullptr};

// The refnum jar, made on first use; gJarLock guards only its creation and
// disposal (the jar serialises its own calls).  Lock order: gJarLock, then
// the jar's own mutex (taken inside the MC* calls); no path takes them the
// other way round.
std::mutex gJarLock;
CookieJar gJar = nullptr;

CookieJar Jar(bool make) {
  std::lock_guard<std::mutex> hold(gJarLock);
  if (!gJar && make) gJar = MCNewJar();
  return gJar;
}

EmbObjectRec* Rec(UHandle record) {
  if (!record || !AZIsHandle(record) || !*record || AZGetHandleSize(record) < int32(sizeof(EmbObjectRec)))
    return nullptr;
  return reinterpret_cast<EmbObjectRec*>(*record);
}

}  // namespace

EmbContainerProcs EmbSetContainerProcs(const EmbContainerProcs& procs) {
  EmbContainerProcs old{gGetDispatch.exchange(procs.getObjectIDispatchSingle)};
  return old;
}

MgErr AutoRefNewForDispatch(EmbDispatch* dispatch, Cookie* refnum) {
  if (refnum) *refnum = 0;
  if (!dispatch || !refnum) return kArgErr;
  CookieJar jar = Jar(true);
  if (!jar) return kMemFullErr;
  Cookie c = MCNewCookie(jar, &dispatch);
  if (!c) return kMemFullErr;
  dispatch->vtbl->addRef(dispatch);
  *refnum = c;
  return kNoErr;
}

Bool32 IsAutomationRefnum(Cookie value) {
  CookieJar jar = value ? Jar(false) : nullptr;
  return jar && MCIsACookie(jar, value);
}

EmbDispatch* AutoRefDispatch(Cookie refnum) {
  CookieJar jar = refnum ? Jar(false) : nullptr;
  EmbDispatch* p = nullptr;
  if (!jar || MCGetCookieInfo(jar, refnum, &p) != kNoErr) return nullptr;
  return p;
}

MgErr AutoRefRelease(Cookie refnum) {
  CookieJar jar = refnum ? Jar(false) : nullptr;
  if (!jar) return kArgErr;
  // Only the caller whose disposal succeeds drops the reference, so two
  // releases of one refnum release the interface once.
  EmbDispatch* p = nullptr;
  if (MCDisposeCookie(jar, refnum, &p) != kNoErr) {
    DBPrintf("Error releasing Cookie");
    return kArgErr;
  }
  if (p) p->vtbl->release(p);
  return kNoErr;
}

void AutoRefReleaseAll() {
  std::lock_guard<std::mutex> hold(gJarLock);
  if (!gJar) return;
  UHandle list = nullptr;
  if (MCGetCookieList(gJar, &list) == kNoErr && list) {
    int32 n = 0;
    std::memcpy(&n, *list, sizeof n);
    for (int32 i = 0; i < n && 4 * (i + 2) <= AZGetHandleSize(list); ++i) {
      Cookie c;
      std::memcpy(&c, *list + 4 * (i + 1), sizeof c);
      EmbDispatch* p = nullptr;
      if (MCDisposeCookie(gJar, c, &p) == kNoErr && p) p->vtbl->release(p);
    }
    AZDisposeHandle(list);
  }
  MCDisposeJar(gJar);
  gJar = nullptr;
}

int32 EmbUpdateDispatch(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  if (!rec || rec->kind != kEmbObjectKind) return 0;
  auto get = gGetDispatch.load();
  EmbDispatch* p = nullptr;
  if (!get || !rec->token || get(rec->token, &p) != 0) p = nullptr;
  Cookie ref = 0;
  if (p) {
    // The library lends the pointer: a local reference holds it while the
    // refnum takes its own.
    p->vtbl->addRef(p);
    Cookie cached = Cookie(rec->dispatchRef);
    // The interface the record already holds a refnum of: that refnum stays
    // (a new one each time would keep a reference per call alive).
    if (cached && AutoRefDispatch(cached) == p)
      ref = cached;
    else if (AutoRefNewForDispatch(p, &ref) != kNoErr)
      ref = 0;
    p->vtbl->release(p);
  }
  rec = Rec(record);
  rec->dispatchRef = int32(ref);
  return int32(ref);
}
