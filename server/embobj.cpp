// The dispatch interface of embedded objects and the automation refnums
// made of it.
#include "server/embobj.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include <unistd.h>

#include <cstdio>

#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/extload.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "platform/qx_comvar.h"
#include "platform/qx_file.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "platform/qx_activate.h"
#include "platform/qx_paint.h"

namespace {


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

// The library's table and module.
static std::mutex gProcsLock;
static EmbContainerProcs gProcs{};
static ExtLibModule gModule = 0;
static std::atomic<bool> gFailTempName{false};

EmbContainerProcs EmbSetContainerProcs(const EmbContainerProcs& procs) {
  std::lock_guard<std::mutex> hold(gProcsLock);
  EmbContainerProcs old = gProcs;
  gProcs = procs;
  return old;
}

static EmbContainerProcs Procs() {
  std::lock_guard<std::mutex> hold(gProcsLock);
  return gProcs;
}
template <class F>
static F Slot(const EmbContainerProcs& p, EmbSlot slot) {
  return reinterpret_cast<F>(p.slots[slot]);
}

MgErr EmbLoadContainerLibrary(const char* name) {
  std::lock_guard<std::mutex> hold(gProcsLock);
  if (gModule) return kNoErr;
  const char* file = name ? name : kQxContainerLibName;
  ExtLibModule module = 0;
  MgErr err = name && std::strchr(name, '/') ? LoadExternalLib(file, &module, nullptr) : LoadAppDirLib(file, &module);
  if (err || !module) err = LoadExternalLib(file, &module, nullptr);
  if (err || !module) return err ? err : kFileNotFoundErr;
  EmbContainerProcs procs{};
  for (int i = 0; i < kQxContainerSlots; ++i) {
    void* proc = nullptr;
    if (LoadExternalFunc(kQxContainerNames[i], &module, &proc) != kNoErr || !proc) {
      DBPrintf("Container library function load failed : %s", kQxContainerNames[i]);
      proc = nullptr;
    }
    procs.slots[i] = proc;
  }
  gModule = module;
  gProcs = procs;
  return kNoErr;
}

void EmbUnloadContainerLibrary() {
  std::lock_guard<std::mutex> hold(gProcsLock);
  if (!gModule) return;
  gProcs = EmbContainerProcs{};
  UnloadExternalLib(gModule);
  gModule = 0;
}

void EmbFailNextTempName() { gFailTempName = true; }

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
  auto get = Slot<QxcDispatchProc>(Procs(), kEmbSlotDispatchSingle);
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

// The record of the right kind, else null (4000 to the caller).
EmbObjectRec* Object(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  return rec && rec->kind == kEmbObjectKind ? rec : nullptr;
}

PlatWindow HostOf(WindowRef window) { return window ? WHostWindow(window) : 0; }

// The origin of a window: where its local coordinates start in its host
// window's client area (the root window: (0, 0)).
void OriginOf(WindowRef window, int32* ox, int32* oy) {
  Rect port{0, 0, 0, 0};
  if (window) WGetRect(window, &port);
  *ox = port.left;
  *oy = port.top;
}

// A new empty file of a unique name "qxemb<number>.tmp" in the
// temporary-files folder, made with default permissions: 0 with its path
// text; 2 without the folder, 75 without a name.
MgErr TempFile(std::string* out) {
  Path folder = FEmptyPath(nullptr);
  if (!folder) return kMemFullErr;
  char host[kHostTextBufSize] = {0};
  const bool haveFolder = GetTempDirPath(folder) == kNoErr && FPathToHostText(folder, host) == kNoErr && host[0];
  FDisposePath(folder);
  if (!haveFolder) return kMemFullErr;
  if (gFailTempName.exchange(false)) return kCINTempLibErr;
  std::string base(host);
  if (base.back() != '\\') base += '\\';
  static std::atomic<uInt32> next{0};
  const uInt32 start = uInt32(getpid()) * 7919u;
  // Numbers are tried until a file of that name can be made.
  for (int tries = 0; tries < 1000; ++tries) {
    char name[32];
    std::snprintf(name, sizeof name, "qxemb%04X.tmp", (start + next++) & 0xFFFF);
    PlatFile* f = nullptr;
    const int32 e = PlatFileOpen((base + name).c_str(), kPlatCreateNew, kAccessReadWrite, 0, &f);
    if (e == kPlatErrFileExists || e == kPlatErrAlreadyExists) continue;
    if (e) return kCINTempLibErr;
    PlatFileClose(f);
    *out = base + name;
    return kNoErr;
  }
  return kCINTempLibErr;
}

// A host error of the file layer as the file manager reports it.
MgErr HostErrToMgErr(int32 e) {
  if (!e) return kNoErr;
  PlatSetLastError(e);
  return FLastErrorToMgErr();
}

MgErr WriteAll(const std::string& file, const uChar* bytes, int32 n) {
  PlatFile* f = nullptr;
  if (int32 e = PlatFileOpen(file.c_str(), kPlatOpenExisting, kAccessReadWrite, 0, &f)) return HostErrToMgErr(e);
  uint32_t done = 0;
  int32 e = n ? PlatFileWrite(f, bytes, uint32_t(n), &done) : 0;
  if (!e && done != uint32_t(n)) e = kPlatErrDiskFull;
  const int32 c = PlatFileClose(f);
  return (e || c) ? HostErrToMgErr(e ? e : c) : kNoErr;
}

// The file into *saved as {count, bytes}; 2 when it does not fit a handle.
MgErr ReadInto(const std::string& file, UHandle* saved) {
  PlatFile* f = nullptr;
  if (int32 e = PlatFileOpen(file.c_str(), kPlatOpenExisting, kAccessRead, 0, &f)) return HostErrToMgErr(e);
  int64_t size = 0;
  MgErr err = HostErrToMgErr(PlatFileGetSize(f, &size));
  if (!err && (size < 0 || size > 0x7FFFFFFF - 4)) err = kMemFullErr;
  const int32 n = err ? 0 : int32(size);
  if (!err) {
    if (!*saved) err = (*saved = AZNewHandle(n + 4)) ? kNoErr : kMemFullErr;
    else if (!AZIsHandle(*saved) || AZSetHandleSize(*saved, n + 4) != kNoErr) err = kMemFullErr;
  }
  uint32_t done = 0;
  if (!err && n) err = HostErrToMgErr(PlatFileRead(f, **saved + 4, uint32_t(n), &done));
  PlatFileClose(f);
  if (err) return err;
  // The file may have shrunk since it was sized: the count says what was read.
  if (int32(done) != n && AZSetHandleSize(*saved, int32(done) + 4) != kNoErr) return kMemFullErr;
  const int32 count = int32(done);
  std::memcpy(**saved, &count, 4);
  return kNoErr;
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
  if (n < 0 || n > size - 4) return {};
  return std::string(reinterpret_cast<const char*>(s->str), size_t(n));
}

// The engine colour as the palette-relative colour objects are given.
uInt32 PaletteRelative(DColor c) {
  const uInt32 r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  return 0x02000000u | b << 16 | g << 8 | r;
}
constexpr DColor kNoColour = 0x1000000;
// The character set of the system's default interface font.
constexpr int16 kEmbDefaultCharset = 0;

MgErr Ambient(UHandle record, DColor colour, EmbSlot slot) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcColourProc>(Procs(), slot);
  if (!proc) return kEmbMissingEntry;
  if (colour == kNoColour) return kNoErr;
  return proc(rec->token, PaletteRelative(colour)) ? kArgErr : kNoErr;
}

}  // namespace

MgErr EmbLoadFromResource(UHandle saved, UHandle* record, WindowRef window, const EmbAmbientInfo* ambient,
                          const Rect* bounds, int32* flags) {
  EmbObjectRec* rec = record ? Object(*record) : nullptr;
  if (!rec) return kEmbNotAnObject;
  if (!bounds) return kArgErr;
  const EmbContainerProcs p = Procs();
  auto load = Slot<QxcLoadProc>(p, kEmbSlotLoad);
  if (!load) return kEmbMissingEntry;
  // The saved state: a count, then at least that many bytes; nothing is
  // written for a count beyond the handle.
  if (!saved || !AZIsHandle(saved) || !*saved) return kArgErr;
  const int32 size = AZGetHandleSize(saved);
  int32 count = 0;
  if (size < 4) return kArgErr;
  std::memcpy(&count, *saved, 4);
  if (count < 0 || count > size - 4) return kArgErr;
  std::string file;
  if (MgErr err = TempFile(&file)) return err;
  MgErr err = WriteAll(file, *saved + 4, count);
  int32 token = 0, loadFlags = 0;
  if (!err) {
    int32 ox = 0, oy = 0;
    OriginOf(window, &ox, &oy);
    const Rect r = *bounds;
    const int32 result = load(&token, HostOf(window), r.top, r.left, r.bottom - r.top, r.right - r.left, ox, oy,
                              file.c_str(), &loadFlags);
    if (result) err = result;
    else if (!token) err = kArgErr;
  }
  PlatRemove(file.c_str());
  if (err) return err;
  rec = Object(*record);
  rec->token = token;
  auto misc = Slot<QxcTokenProc>(p, kEmbSlotMiscFlags);
  rec->miscFlags = misc ? misc(token) : 0;
  rec->window = window;
  if (auto reg = Slot<QxcSetTokenProc>(p, kEmbSlotSetToken)) reg(token, *record);
  if (flags) *flags |= loadFlags & kEmbLoadNaturalSize;
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
  auto save = Slot<QxcSaveProc>(Procs(), kEmbSlotSave);
  if (!save) return kEmbMissingEntry;
  const int32 token = rec->token;
  std::string file;
  if (MgErr err = TempFile(&file)) return err;
  MgErr err = save(token, file.c_str()) ? kNoErr : kArgErr;
  if (!err) err = ReadInto(file, saved);
  PlatRemove(file.c_str());
  return err;
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
  auto destroy = Slot<QxcTokenProc>(Procs(), kEmbSlotDestroy);
  if (!destroy) return kNoErr;
  return destroy(token) ? kNoErr : kArgErr;
}

MgErr EmbActivate(UHandle record, int32 on) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  if (!(rec->miscFlags & kEmbMiscInPlace)) return kNoErr;
  auto proc = Slot<QxcTokenProc>(Procs(), on ? kEmbSlotActivate : kEmbSlotDeactivate);
  if (!proc) return kEmbMissingEntry;
  return proc(rec->token) ? kArgErr : kNoErr;
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
  auto adopt = Slot<QxcAdoptProc>(Procs(), kEmbSlotAdopt);
  if (!adopt) return kEmbMissingEntry;
  int32 ox = 0, oy = 0;
  OriginOf(window, &ox, &oy);
  // The record names the new window only once the object is in it.
  if (adopt(rec->token, HostOf(window), ox, oy)) return kArgErr;
  Object(record)->window = window;
  return kNoErr;
}

MgErr EmbSetBounds(UHandle record, const Rect* bounds) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcSetBoundsProc>(Procs(), kEmbSlotSetBounds);
  if (!proc) return kEmbMissingEntry;
  if (!bounds) return kArgErr;
  const Rect r = *bounds;
  return proc(rec->token, r.top, r.left, r.bottom - r.top, r.right - r.left) ? kArgErr : kNoErr;
}

MgErr EmbGetBounds(UHandle record, Rect* bounds) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcGetBoundsProc>(Procs(), kEmbSlotGetBounds);
  if (!proc) return kEmbMissingEntry;
  int32 height = 0, width = 0;
  if (!bounds || proc(rec->token, &height, &width)) return kArgErr;
  // The library answers the extent only: a rectangle of that size at (0, 0).
  auto pin = [](int32 v) { return int16(v < 0 ? 0 : v > 32767 ? 32767 : v); };
  *bounds = Rect{0, 0, pin(height), pin(width)};
  return kNoErr;
}

MgErr EmbFocus(WindowRef window, UHandle record, int32 on, int32 word) {
  if (!on) {
    if (const PlatWindow w = HostOf(window)) PlatSetFocus(w);
    return kNoErr;
  }
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcFocusProc>(Procs(), kEmbSlotFocus);
  if (!proc) return kEmbMissingEntry;
  return proc(rec->token, word) ? kArgErr : kNoErr;
}

MgErr EmbGetPicture(UHandle record, int32* image) {
  if (image) *image = 0;
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcPictureProc>(Procs(), kEmbSlotPicture);
  if (!proc) return kEmbMissingEntry;
  QxEmbedPicture pic;
  if (!image || proc(rec->token, &pic) || pic.width <= 0 || pic.height <= 0) return kArgErr;
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

MgErr EmbAmbientFGColor(UHandle record, DColor colour) { return Ambient(record, colour, kEmbSlotAmbientFG); }
MgErr EmbAmbientBGColor(UHandle record, DColor colour) { return Ambient(record, colour, kEmbSlotAmbientBG); }

MgErr EmbAmbientDisplayName(UHandle record, TRecord text) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcNameProc>(Procs(), kEmbSlotAmbientName);
  if (!proc) return kEmbMissingEntry;
  const std::string name = text && !TIsBlank(text) ? TextOf(text) : std::string();
  PlatBstr wide = name.empty() ? nullptr : PlatBstrFromText(name.data(), uint32_t(name.size()));
  const int32 result = proc(rec->token, wide);
  if (wide) PlatBstrFree(wide);
  return result ? kArgErr : kNoErr;
}

MgErr EmbAmbientFont(UHandle record, TRecord text) {
  EmbObjectRec* rec = Object(record);
  if (!rec) return kEmbNotAnObject;
  auto proc = Slot<QxcFontProc>(Procs(), kEmbSlotAmbientFont);
  if (!proc) return kEmbMissingEntry;
  uChar face[256] = {0};
  int32 size = 0, style = 0, weight = 0;
  if (text) {
    const int32 font = TGetFont(text);
    if (font && !TGetFontInfo(font, face, &size, &style, &weight)) face[0] = 0, size = 0;
    if (font) TDisposeFont(font);
  }
  uint16_t wide[256] = {0};
  for (int i = 0; i < face[0]; ++i) wide[i] = face[1 + i];
  QxEmbedFontDesc desc{};
  desc.size = sizeof desc;
  desc.face = wide;
  desc.sizeLow = uInt32(size);
  desc.sizeHigh = 0;
  desc.weight = int16(weight);
  desc.charset = kEmbDefaultCharset;
  desc.italic = desc.underline = desc.strikethrough = 0;
  return proc(rec->token, desc) ? kArgErr : kNoErr;
}

MgErr EmbRecordSwap(UHandle record) {
  EmbObjectRec* rec = Rec(record);
  if (!rec) return kEmbNotAnObject;
  uChar* w = *record;
  for (int i = 0; i < 4; ++i) PutNative32(w + 4 * i, GetBE32(w + 4 * i));
  rec = Rec(record);
  rec->token = 0;
  rec->dispatchRef = 0;
  rec->window = 0;
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

// ---- Objects in child windows ----------------------------------------------------------

namespace {

std::vector<PlatWindow> ChildrenOf(PlatWindow hwnd) {
  std::vector<PlatWindow> out(16);
  for (;;) {
    const int32 n = PlatGetChildWindows(hwnd, out.data(), int32(out.size()));
    if (n <= int32(out.size())) {
      out.resize(size_t(std::max(n, int32(0))));
      return out;
    }
    out.resize(size_t(n));
  }
}

}  // namespace

void EmbWindowScroll(PlatWindow hwnd, int32 originH, int32 originV) {
  auto setOrigin = Slot<QxcSetOriginProc>(Procs(), kEmbSlotSetOrigin);
  if (!hwnd || !setOrigin) return;
  for (PlatWindow child : ChildrenOf(hwnd)) {
    PlatRect before{}, after{};
    if (!PlatGetWindowRect(child, &before)) continue;
    setOrigin(child, originH, originV);
    if (!PlatGetWindowRect(child, &after)) continue;  // the library let it go
    if (std::memcmp(&before, &after, sizeof before) == 0) continue;
    // The child draws itself anew where it is; what it covered before is
    // the parent's to draw again.
    PlatInvalidateWithChildren(child, false);
    int32_t x = before.left, y = before.top;
    PlatScreenToClient(hwnd, &x, &y);
    const PlatRect old{x, y, x + (before.right - before.left), y + (before.bottom - before.top)};
    PlatInvalidateRect(hwnd, &old, true);
  }
}

void EmbWindowClosing(PlatWindow hwnd) {
  auto tokenOf = Slot<QxcGetTokenProc>(Procs(), kEmbSlotGetToken);
  if (!hwnd || !tokenOf) return;
  // A move takes the object's window out of the list, so the children are
  // asked again after each one; a child already tried is not tried again,
  // so an object that cannot move cannot keep the loop going.
  std::vector<PlatWindow> tried;
  for (;;) {
    PlatWindow next = 0;
    void* record = nullptr;
    for (PlatWindow child : ChildrenOf(hwnd)) {
      if (std::find(tried.begin(), tried.end(), child) != tried.end()) continue;
      tried.push_back(child);
      void* r = nullptr;
      if (tokenOf(child, &r) == 0 && r) {
        next = child;
        record = r;
        break;
      }
    }
    if (!next) return;
    if (const MgErr err = EmbSetWindow(static_cast<UHandle>(record), 0))
      DBPrintf("Embedded object of a closing window not moved: error %d", int(err));
  }
}
