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

// The refnum jar, made on first use.  The jar's calls take no lock of their
// own: gJarLock is held across every call on it, so that two releases of one
// refnum cannot both find it live.  The interfaces' own counts are changed
// outside it, except by AutoRefReleaseAll.
std::mutex gJarLock;
CookieJar gJar = nullptr;

// Runs f(jar) under the lock; the jar is made first when `make` is set.
// Without a jar f gets null.
template <class F>
auto WithJar(bool make, F f) {
  std::lock_guard<std::mutex> hold(gJarLock);
  if (!gJar && make) gJar = MCNewJar();
  return f(gJar);
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
  Cookie c = WithJar(true, [&](CookieJar jar) { return jar ? MCNewCookie(jar, &dispatch) : Cookie(0); });
  if (!c) return kMemFullErr;
  dispatch->vtbl->addRef(dispatch);
  *refnum = c;
  return kNoErr;
}

Bool32 IsAutomationRefnum(Cookie value) {
  return value && WithJar(false, [&](CookieJar jar) { return jar && MCIsACookie(jar, value); });
}

EmbDispatch* AutoRefDispatch(Cookie refnum) {
  EmbDispatch* p = nullptr;
  if (!refnum || !WithJar(false, [&](CookieJar jar) { return jar && MCGetCookieInfo(jar, refnum, &p) == kNoErr; }))
    return nullptr;
  return p;
}

MgErr AutoRefRelease(Cookie refnum) {
  // Only the caller whose disposal succeeds drops the reference, so two
  // releases of one refnum release the interface once.
  EmbDispatch* p = nullptr;
  int disposed = refnum ? WithJar(false, [&](CookieJar jar) {
    return !jar ? -1 : MCDisposeCookie(jar, refnum, &p) == kNoErr ? 1 : 0;
  }) : -1;
  if (disposed < 0) return kArgErr;
  if (!disposed) {
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
