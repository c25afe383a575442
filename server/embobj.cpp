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

// The refnum jar, made on first use, and the interface table its refnums
// use (null: they hold the pointers).  The jar's calls take no lock of their
// own: gJarLock is held across every call on it, so that two releases of
// one refnum cannot both find it live.  The interfaces' own counts are
// changed outside it, except where a reference is added for a caller (the
// jar's reference must not go before) and by AutoRefReleaseAll, which
// alone calls the table under it (the jar's lock first, then the table's).
std::mutex gJarLock;
CookieJar gJar = nullptr;
PlatComInterfaceTable* gTable = nullptr;

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

MgErr AutoRefJarOpen(PlatComInterfaceTable* table) {
  std::lock_guard<std::mutex> hold(gJarLock);
  if (gJar && table != gTable) {
    int32 live = 0;
    if (MCJarSize(gJar, &live) != kNoErr || live > 0) return kArgErr;
  }
  if (!gJar) gJar = MCNewJar();
  if (!gJar) return kMemFullErr;
  gTable = table;
  return kNoErr;
}

MgErr AutoRefNewForDispatch(EmbDispatch* dispatch, Cookie* refnum) {
  if (refnum) *refnum = 0;
  if (!dispatch || !refnum) return kArgErr;
  PlatComInterfaceTable* table = WithJar(true, [](CookieJar) { return gTable; });
  uInt32 info = 0;
  if (table) {
    if (!PlatSucceeded(table->slots->registerInterface(table, PlatAsUnknown(dispatch), &kPlatIidDispatch, &info)))
      return kMemFullErr;
  } else {
    info = uInt32(reinterpret_cast<uintptr_t>(dispatch));
  }
  Cookie c = WithJar(true, [&](CookieJar jar) { return jar ? MCNewCookie(jar, &info) : Cookie(0); });
  if (!c) {
    if (table) table->slots->revokeInterface(table, info);
    return kMemFullErr;
  }
  if (!table) PlatComAddRef(dispatch);
  *refnum = c;
  return kNoErr;
}

Bool32 IsAutomationRefnum(Cookie value) {
  return value && WithJar(false, [&](CookieJar jar) { return jar && MCIsACookie(jar, value); });
}

MgErr AutoRefGetDispatch(Cookie refnum, EmbDispatch** out) {
  if (!out) return kArgErr;
  *out = nullptr;
  uInt32 info = 0;
  PlatComInterfaceTable* table = nullptr;
  const bool live = refnum && WithJar(false, [&](CookieJar jar) {
    if (!jar || MCGetCookieInfo(jar, refnum, &info) != kNoErr) return false;
    table = gTable;
    if (!table) PlatComAddRef(reinterpret_cast<void*>(uintptr_t(info)));
    return true;
  });
  if (!live) return kArgErr;
  if (!table) {
    *out = reinterpret_cast<EmbDispatch*>(uintptr_t(info));
    return kNoErr;
  }
  void* p = nullptr;
  if (!PlatSucceeded(table->slots->getInterface(table, info, &kPlatIidDispatch, &p)) || !p) return kArgErr;
  *out = static_cast<EmbDispatch*>(p);
  return kNoErr;
}

MgErr AutoRefRelease(Cookie refnum) {
  // Only the caller whose disposal succeeds drops the reference, so two
  // releases of one refnum release the interface once.
  uInt32 info = 0;
  PlatComInterfaceTable* table = nullptr;
  int disposed = refnum ? WithJar(false, [&](CookieJar jar) {
    if (!jar) return -1;
    table = gTable;
    return MCDisposeCookie(jar, refnum, &info) == kNoErr ? 1 : 0;
  }) : -1;
  if (disposed < 0) return kArgErr;
  if (!disposed) {
    DBPrintf("Error releasing Cookie");
    return kArgErr;
  }
  if (table) table->slots->revokeInterface(table, info);
  else if (info) PlatComRelease(reinterpret_cast<void*>(uintptr_t(info)));
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
      uInt32 info = 0;
      if (MCDisposeCookie(gJar, c, &info) != kNoErr) continue;
      if (gTable) gTable->slots->revokeInterface(gTable, info);
      else if (info) PlatComRelease(reinterpret_cast<void*>(uintptr_t(info)));
    }
    AZDisposeHandle(list);
  }
  MCDisposeJar(gJar);
  gJar = nullptr;
  gTable = nullptr;
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
    PlatComAddRef(p);
    Cookie cached = Cookie(rec->dispatchRef);
    // The interface the record already holds a refnum of: that refnum stays
    // (a new one each time would keep a reference per call alive).
    EmbDispatch* held = nullptr;
    if (cached && AutoRefGetDispatch(cached, &held) == kNoErr && held == p)
      ref = cached;
    else if (AutoRefNewForDispatch(p, &ref) != kNoErr)
      ref = 0;
    if (held) PlatComRelease(held);
    PlatComRelease(p);
  }
  rec = Rec(record);
  rec->dispatchRef = int32(ref);
  return int32(ref);
}
