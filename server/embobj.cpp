// The dispatch interface of embedded objects and the automation refnums
// made of it.
#include "server/embobj.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "platform/qx_activate.h"

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

// The other entries, kept apart from the dispatch entry that EmbUpdateDispatch reads.
static std::mutex gProcsLock;
static EmbContainerProcs gProcs{};

EmbContainerProcs EmbSetContainerProcs(const EmbContainerProcs& procs) {
  std::lock_guard<std::mutex> hold(gProcsLock);
  EmbContainerProcs old = gProcs;
  old.getObjectIDispatchSingle = gGetDispatch.exchange(procs.getObjectIDispatchSingle);
  gProcs = procs;
  gProcs.getObjectIDispatchSingle = nullptr;
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

// ---- The object's services -------------------------------------------------------------

namespace {

EmbContainerProcs Procs() {
  std::lock_guard<std::mutex> hold(gProcsLock);
  EmbContainerProcs p = gProcs;
  p.getObjectIDispatchSingle = gGetDispatch.load();
  return p;
}

// The record of the right kind, else null (4000 to the caller).
EmbObjectRec* Object(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  return rec && rec->kind == kEmbObjectKind ? rec : nullptr;
}

PlatWindow HostOf(WindowRef window) { return window ? WHostWindow(window) : 0; }

// Local rectangle of the window to its host window's client coordinates.
PlatRect ToClient(WindowRef window, const Rect& r) {
  Rect port{0, 0, 0, 0};
  if (window) WGetRect(window, &port);
  return PlatRect{r.left - port.left, r.top - port.top, r.right - port.left, r.bottom - port.top};
}
Rect ToLocal(WindowRef window, const PlatRect& r) {
  Rect port{0, 0, 0, 0};
  if (window) WGetRect(window, &port);
  auto pin = [](int32 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); };
  return Rect{pin(r.top + port.top), pin(r.left + port.left), pin(r.bottom + port.top), pin(r.right + port.left)};
}

// The text of a text record as a C string; empty for none.
std::string TextOf(TRecord text) {
  if (!text) return {};
  UHandle h = TGetText(text);
  if (!h) return {};
  const int32 size = MemIsDSHandle(h) ? DSGetHandleSize(h) : AZIsHandle(h) ? AZGetHandleSize(h) : -1;
  if (size < 4 || !*h) return {};
  const LStr* s = reinterpret_cast<const LStr*>(*h);
  const int32 n = LStrLen(s);
  if (size < 4 || n > size - 4) return {};
  return std::string(reinterpret_cast<const char*>(s->str), size_t(n));
}

// Host adapters.
int32 HostLoad(const uChar* state, int32 length, PlatWindow window, const PlatRect* bounds, int32* token,
               uInt32* loadFlags) {
  return bounds ? QxEmbedLoad(state, length, window, *bounds, token, loadFlags) : 1;
}
int32 HostDispatch(int32 token, EmbDispatch** out) { return QxEmbedDispatch(token, out); }
int32 HostActivate(int32 token, int32 on) { return QxEmbedActivate(token, on != 0); }
int32 HostSetBounds(int32 token, const PlatRect* r) { return r ? QxEmbedSetBounds(token, *r) : 1; }
int32 HostFocus(int32 token, int32 backwards) { return QxEmbedFocus(token, backwards != 0); }

}  // namespace

EmbContainerProcs EmbHostProcs() {
  EmbContainerProcs p{};
  p.getObjectIDispatchSingle = &HostDispatch;
  p.loadObject = &HostLoad;
  p.saveObject = &QxEmbedSave;
  p.destroyObject = &QxEmbedDestroy;
  p.activateObject = &HostActivate;
  p.objectMiscFlags = &QxEmbedMiscFlags;
  p.adoptObject = &QxEmbedSetWindow;
  p.setObjectBounds = &HostSetBounds;
  p.getObjectBounds = &QxEmbedGetBounds;
  p.focusObject = &HostFocus;
  p.objectPicture = &QxEmbedGetPicture;
  p.ambientForeground = &QxEmbedAmbientForeground;
  p.ambientBackground = &QxEmbedAmbientBackground;
  p.ambientDisplayName = &QxEmbedAmbientName;
  p.ambientFont = &QxEmbedAmbientFont;
  return p;
}

MgErr EmbLoadFromResource(UHandle saved, UHandle* record, WindowRef window, const EmbAmbientInfo* ambient,
                          const Rect* bounds, int32* flags) {
  EmbObjectRec* rec = record ? Object(*record) : nullptr;
  if (!rec) return kEmbNotAnObject;
  if (!bounds) return kArgErr;
  const EmbContainerProcs p = Procs();
  if (!p.loadObject) return kEmbMissingEntry;
  // The saved state: a count, then at least that many bytes.
  if (!saved || !AZIsHandle(saved) || !*saved) return kArgErr;
  const int32 size = AZGetHandleSize(saved);
  int32 count = 0;
  if (size < 4) return kArgErr;
  std::memcpy(&count, *saved, 4);
  if (count < 0 || count > size - 4) return kArgErr;
  const PlatRect client = ToClient(window, *bounds);
  int32 token = 0;
  uInt32 loadFlags = 0;
  if (int32 err = p.loadObject(*saved + 4, count, HostOf(window), &client, &token, &loadFlags)) return err;
  if (!token) return kArgErr;
  rec = Object(*record);
  rec->token = token;
  rec->miscFlags = p.objectMiscFlags ? int32(p.objectMiscFlags(token)) : 0;
  rec->window = window;
  if (flags) *flags |= int32(loadFlags & kEmbLoadNaturalSize);
  if (ambient) {
    EmbAmbientFGColor(*record, ambient->foreground);
    EmbAmbientBGColor(*record, ambient->background);
    EmbAmbientDisplayName(*record, ambient->textRecord);
    EmbAmbientFont(*record, ambient->textRecord);
  }
  return kNoErr;
}

MgErr EmbSaveObject(UHandle record, UHandle* saved) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  if (!saved) return kArgErr;
  const EmbContainerProcs p = Procs();
  if (!p.saveObject) return kEmbMissingEntry;
  std::vector<uint8_t> state;
  if (!rec->token || p.saveObject(rec->token, &state) != 0) return kArgErr;
  const int32 n = int32(state.size());
  if (!*saved) {
    if (!(*saved = AZNewHandle(n + 4))) return kMemFullErr;
  } else if (!AZIsHandle(*saved) || AZSetHandleSize(*saved, n + 4) != kNoErr) {
    return kMemFullErr;
  }
  std::memcpy(**saved, &n, 4);
  if (n) std::memcpy(**saved + 4, state.data(), size_t(n));
  return kNoErr;
}

MgErr EmbDestroy(UHandle record) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const Cookie ref = Cookie(rec->dispatchRef);
  const int32 token = rec->token;
  rec->dispatchRef = 0;
  rec->token = 0;
  if (ref) AutoRefRelease(ref);
  if (!token) return kNoErr;
  const EmbContainerProcs p = Procs();
  if (!p.destroyObject) return kNoErr;
  return p.destroyObject(token) ? kArgErr : kNoErr;
}

MgErr EmbActivate(UHandle record, int32 on) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  if (!(rec->miscFlags & kEmbMiscInPlace)) return kNoErr;
  const EmbContainerProcs p = Procs();
  if (!p.activateObject) return kEmbMissingEntry;
  return p.activateObject(rec->token, on ? 1 : 0) ? kArgErr : kNoErr;
}

MgErr EmbGetFlags(UHandle record, int32* flags) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  if (flags) *flags = rec->miscFlags;
  return kNoErr;
}

MgErr EmbSetWindow(UHandle record, WindowRef window) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  if (rec->window == window) return kNoErr;
  const EmbContainerProcs p = Procs();
  if (!p.adoptObject) return kEmbMissingEntry;
  if (p.adoptObject(rec->token, HostOf(window))) return kArgErr;
  Object(record)->window = window;
  return kNoErr;
}

MgErr EmbSetBounds(UHandle record, const Rect* bounds) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.setObjectBounds) return kEmbMissingEntry;
  if (!bounds) return kArgErr;
  const PlatRect client = ToClient(rec->window, *bounds);
  return p.setObjectBounds(rec->token, &client) ? kArgErr : kNoErr;
}

MgErr EmbGetBounds(UHandle record, Rect* bounds) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.getObjectBounds) return kEmbMissingEntry;
  PlatRect client{};
  if (!bounds || p.getObjectBounds(rec->token, &client)) return kArgErr;
  *bounds = ToLocal(rec->window, client);
  return kNoErr;
}

MgErr EmbFocus(WindowRef window, UHandle record, int32 on, int32 backwards) {
  if (!on) {
    if (const PlatWindow w = HostOf(window)) PlatSetFocus(w);
    return kNoErr;
  }
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.focusObject) return kEmbMissingEntry;
  return p.focusObject(rec->token, backwards ? 1 : 0) ? kArgErr : kNoErr;
}

MgErr EmbGetPicture(UHandle record, int32* image) {
  if (image) *image = 0;
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.objectPicture) return kEmbMissingEntry;
  QxEmbedPicture pic;
  if (!image || p.objectPicture(rec->token, &pic) || pic.width <= 0 || pic.height <= 0) return kArgErr;
  // The picture records the object's colour filling its size, framed in black.
  const Rect frame{0, 0, int16(std::min(pic.height, 16000)), int16(std::min(pic.width, 16000))};
  QXPict pict = DSNewHandle(4);
  if (!pict) return kMemFullErr;
  std::memset(*pict, 0, 4);
  PictOpArgs fill;
  fill.colours[0] = fill.colours[2] = pic.colour & 0xFFFFFF;
  PictOpArgs black;
  black.colours[0] = black.colours[2] = 0;
  fill.rect = black.rect = frame;
  MgErr err = PictAppendOp(pict, 0, kPictOpNormPen, &fill);
  if (!err) err = PictAppendOp(pict, 0, kPictOpPaintRect, &fill);
  if (!err) err = PictAppendOp(pict, 0, kPictOpNormPen, &black);
  if (!err) err = PictAppendOp(pict, 0, kPictOpFrameRect, &black);
  if (!err) err = ICreatePict(0, &frame, 0, pict, 0, image);
  else DSDisposeHandle(pict);
  return err;
}

MgErr EmbAmbientFGColor(UHandle record, DColor colour) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.ambientForeground) return kEmbMissingEntry;
  return p.ambientForeground(rec->token, colour) ? kArgErr : kNoErr;
}

MgErr EmbAmbientBGColor(UHandle record, DColor colour) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.ambientBackground) return kEmbMissingEntry;
  return p.ambientBackground(rec->token, colour) ? kArgErr : kNoErr;
}

MgErr EmbAmbientDisplayName(UHandle record, TRecord text) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.ambientDisplayName) return kEmbMissingEntry;
  const std::string name = text && !TIsBlank(text) ? TextOf(text) : std::string();
  return p.ambientDisplayName(rec->token, name.empty() ? nullptr : name.c_str()) ? kArgErr : kNoErr;
}

MgErr EmbAmbientFont(UHandle record, TRecord text) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  const EmbContainerProcs p = Procs();
  if (!p.ambientFont) return kEmbMissingEntry;
  uChar face[256] = {0};
  int32 size = 0, style = 0, weight = 0;
  if (text) {
    const int32 font = TGetFont(text);
    if (font && !TGetFontInfo(font, face, &size, &style, &weight)) face[0] = 0, size = 0;
    if (font) TDisposeFont(font);
  }
  const std::string name(reinterpret_cast<const char*>(face + 1), face[0]);
  return p.ambientFont(rec->token, name.c_str(), size) ? kArgErr : kNoErr;
}

MgErr EmbRecordSwap(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  if (!rec) return kEmbNotAnObject;
  uChar* w = *record;
  for (int i = 0; i < 4; ++i) PutNative32(w + 4 * i, GetBE32(w + 4 * i));
  rec = Rec(record);
  rec->token = 0;
  rec->dispatchRef = 0;
  return kNoErr;
}

MgErr EmbDetachWindow(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  if (!rec) return kEmbNotAnObject;
  rec->window = 0;
  return kNoErr;
}

Bool32 EmbHasObject(UHandle record) {
  const EmbObjectRec* rec = Object(record);
  return rec && rec->token != 0;
}

MgErr EmbDisposeRecord(UHandle record) {
  if (!record || !AZIsHandle(record)) return kEmbNotAnObject;
  return AZDisposeHandle(record);
}

MgErr EmbDupRecord(UHandle record, UHandle* copy) {
  if (copy) *copy = nullptr;
  EmbObjectRec* rec = Rec(record);
  if (!rec || !copy) return kEmbNotAnObject;
  UHandle h = AZNewHandle(int32(sizeof(EmbObjectRec)));
  if (!h) return kMemFullErr;
  EmbObjectRec c = *Rec(record);
  c.token = c.dispatchRef = c.window = 0;
  std::memcpy(*h, &c, sizeof c);
  *copy = h;
  return kNoErr;
}

