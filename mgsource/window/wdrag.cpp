// Files and text dropped on windows: drop data, its readers, the drop
// target of accepting windows and the delivery to the window's drop handler.
#include "mgsource/window/wdrag.h"

#include <strings.h>

#include <atomic>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/counted_strings.h"
#include "mgsource/support.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wservices.h"
#include "platform/qx_drop.h"
#include "platform/qx_droptarget.h"

namespace {

constexpr int32 kDragMaxName = 260;
constexpr int32 kRevokeFailed = 80;

bool gOleStarted = false;
DragContainerProc gContainerStartup = nullptr;
DragContainerProc gContainerShutdown = nullptr;

WindowRecord* Record(WindowRef w) { return w ? WRecord(w) : nullptr; }

uInt32 Source(DragData d) { return GetNative32(*d); }
UHandle Flags(DragData d) {
  UHandle f;
  std::memcpy(&f, *d + 4, sizeof f);
  return f;
}

// The item's flag word; 0 after a report for an index outside the count.
uInt32 ItemFlags(DragData d, int32 index) {
  UHandle f = d && *d ? Flags(d) : nullptr;
  const int32 size = f && *f ? DSGetHandleSize(f) : 0;
  const int32 count = size >= 4 ? int32(GetNative32(*f)) : 0;
  if (index < 0 || index >= count || 4 + int64(index + 1) * 4 > size) {
    DBAssert(__FILE__, __LINE__, "drag item index out of range");
    return 0;
  }
  return GetNative32(*f + 4 + index * 4);
}

PlatDataObject* DataObjectOf(DragData d) {
  return d && *d ? reinterpret_cast<PlatDataObject*>(uintptr_t(Source(d))) : nullptr;
}

PlatFormat FormatOf(uint32_t format) { return PlatFormat{format, 0, kPlatAspectContent, -1, kPlatMediumGlobal}; }

bool Offers(DragData d, uint32_t format) {
  PlatDataObject* o = DataObjectOf(d);
  return o && o->QueryGetData(FormatOf(format)) == kPlatOleOk;
}

// The data object's file-list or text block, released when it goes.
struct Medium {
  PlatMedium m{};
  Medium(DragData d, uint32_t format) {
    if (PlatDataObject* o = DataObjectOf(d)) o->GetData(FormatOf(format), &m);
  }
  ~Medium() { PlatReleaseMedium(&m); }
  Medium(const Medium&) = delete;
  Medium& operator=(const Medium&) = delete;
  PlatGlobal Block() const { return m.medium == kPlatMediumGlobal ? m.global : 0; }
};

// The name of item index of a drop handle (kind 1) or a file-list block.
uint32_t QueryName(uInt32 drop, PlatGlobal list, uint32_t index, char* buffer, uint32_t size) {
  return list ? PlatFileListQuery(list, index, buffer, size) : PlatDragQueryFile(drop, index, buffer, size);
}

int32 Deliver(WindowRef w, WEventRecord* event) {
  WindowRecord* r = Record(w);
  if (!r || !r->dropHandler) return 1;
  const WDropHandler handler = r->dropHandler;
  const uInt32 refCon = r->refCon;
  WPortState saved;
  WSetup(w, &saved);
  const int32 result = handler(event, refCon);
  WRestore(&saved);
  return result;
}

// A window's drop target: turns a drag between programs into drop events to
// the window's drop handler.  It keeps the data object of the drag in
// progress with a reference from DragEnter or Drop until DragLeave or Drop
// ends; the registration, the external lock and the window record each hold
// a reference, so a call in progress never loses the object.
class DropTarget final : public PlatCounted<PlatDropTarget, kPlatIidDropTarget> {
 public:
  explicit DropTarget(PlatWindow hwnd) : PlatCounted(0), hwnd_(hwnd) {}

  PlatOleResult DragEnter(PlatDataObject* data, uint32_t, PlatScreenPoint at, uint32_t* effect) override {
    if (!data) return kPlatOleInvalidArg;
    Keep(data);
    Send(kWEvDragEnter, at, effect);
    return kPlatOleOk;
  }
  PlatOleResult DragOver(uint32_t, PlatScreenPoint at, uint32_t* effect) override {
    Send(kWEvDragOver, at, effect);
    return kPlatOleOk;
  }
  PlatOleResult DragLeave() override {
    if (kept_) Send(kWEvDragLeave, PlatScreenPoint{}, nullptr);
    Keep(nullptr);
    return kPlatOleOk;
  }
  PlatOleResult Drop(PlatDataObject* data, uint32_t, PlatScreenPoint at, uint32_t* effect) override {
    if (!data) return kPlatOleInvalidArg;
    Keep(data);
    Send(kWEvDrop, at, effect);
    Keep(nullptr);
    return kPlatOleOk;
  }

 private:
  ~DropTarget() override { Keep(nullptr); }

  // Keeps data (with a reference) in place of the one kept before.
  void Keep(PlatDataObject* data) {
    if (data) data->AddRef();
    if (kept_) kept_->Release();
    kept_ = data;
  }

  // The event for the kept data object; the effect is copy when the
  // handler took it (0), else none.
  void Send(int32 code, PlatScreenPoint at, uint32_t* effect) {
    if (effect) *effect = kPlatDropEffectNone;
    DragData data = nullptr;
    if (!kept_ || DragNewData(&data, uInt32(reinterpret_cast<uintptr_t>(kept_))) != kNoErr) return;
    WEventRecord event{};
    event.modifiers = WModifiers(reinterpret_cast<uintptr_t>(data));
    const int32 result = DragSendEvent(&event, code, kDragKindDataObject, hwnd_, Point{int16(at.y), int16(at.x)});
    if (effect && result == 0) *effect = kPlatDropEffectCopy;
    DragDisposeData(data);
  }

  const PlatWindow hwnd_;
  PlatDataObject* kept_ = nullptr;
};

}  // namespace

void DragInit() {
  if (!gOleStarted) gOleStarted = PlatOleSucceeded(PlatOleInit());
  if (gContainerStartup) gContainerStartup();
}

void DragShutdown() {
  ComCounterUndo();
  // The container's objects go while OLE still runs.
  if (gContainerShutdown) gContainerShutdown();
  if (gOleStarted) PlatOleUninit();
  gOleStarted = false;
}

DragContainerProc DragContainerStartupInUse() { return gContainerStartup; }
DragContainerProc DragContainerShutdownInUse() { return gContainerShutdown; }
void DragSetContainerProcs(DragContainerProc startup, DragContainerProc shutdown) {
  gContainerStartup = startup;
  gContainerShutdown = shutdown;
}

bool DragOleStarted() { return gOleStarted; }

void DragAcceptWindow(WindowRef window, WDropHandler handler) {
  WindowRecord* r = Record(window);
  if (!r || !r->hwnd) return;
  if (handler) r->dropHandler = handler;
  if (gOleStarted && !r->dropTarget) {
    auto* target = new DropTarget(r->hwnd);
    target->AddRef();
    PlatLockObjectExternal(target, true);
    if (PlatOleSucceeded(PlatRegisterDropTarget(r->hwnd, target))) {
      r->dropTarget = static_cast<PlatDropTarget*>(target);
    } else {
      PlatLockObjectExternal(target, false);
      target->Release();
    }
  }
  PlatDragAcceptFiles(r->hwnd, true);
}

int32 DragRefuseWindow(WindowRef window) {
  WindowRecord* r = Record(window);
  if (!r) return 0;
  r->dropHandler = nullptr;
  int32 result = 0;
  if (auto* target = static_cast<PlatDropTarget*>(r->dropTarget)) {
    r->dropTarget = nullptr;
    const bool revoked = PlatOleSucceeded(PlatRevokeDropTarget(r->hwnd));
    const bool unlocked = PlatOleSucceeded(PlatLockObjectExternal(target, false));
    target->Release();
    if (!revoked || !unlocked) result = kRevokeFailed;
  }
  if (r->hwnd) PlatDragAcceptFiles(r->hwnd, false);
  return result;
}

MgErr DragNewData(DragData* out, uInt32 source) {
  if (!out) return kArgErr;
  *out = nullptr;
  DragData d = DSNewHandle(8);
  UHandle flags = d ? DSNewHClr(4) : nullptr;
  if (!flags) {
    if (d) DSDisposeHandle(d);
    return kMemFullErr;
  }
  PutNative32(*d, source);
  std::memcpy(*d + 4, &flags, sizeof flags);
  *out = d;
  return kNoErr;
}

void DragDisposeData(DragData data) {
  if (!data || !*data) return;
  if (UHandle f = Flags(data)) DSDisposeHandle(f);
  DSDisposeHandle(data);
}

int32 DragGetItemCount(DragData data, int32 kind) {
  if (!data || !*data) return 0;
  if (kind == kDragKindDataObject) {
    if (!Offers(data, kPlatCfFileList)) return 1;
    const Medium list(data, kPlatCfFileList);
    return list.Block() ? int32(PlatFileListQuery(list.Block(), kPlatDropCount, nullptr, 0)) : 0;
  }
  if (kind != kDragKindDrop) {
    DBAssert(__FILE__, __LINE__, "unknown drag kind");
    return 0;
  }
  return int32(PlatDragQueryFile(Source(data), kPlatDropCount, nullptr, 0));
}

MgErr DragBuildItemFlags(DragData data, int32 kind) {
  if (!data || !*data || !Flags(data)) return 1;
  const int32 count = DragGetItemCount(data, kind);
  UHandle f = Flags(data);
  if (MgErr err = DSSetHandleSize(f, 4 + count * 4)) return err;
  PutNative32(*f, uInt32(count));
  if (kind == kDragKindDataObject) {
    const uInt32 flags = (Offers(data, kPlatCfFileList) ? uInt32(kDragItemFile) : 0u) |
                         (Offers(data, kPlatCfText) ? uInt32(kDragItemText) : 0u);
    for (int32 i = 0; i < count; ++i) PutNative32(*f + 4 + i * 4, flags);
    return kNoErr;
  }
  for (int32 i = 0; i < count; ++i) {
    const bool file = PlatDragQueryFile(Source(data), uInt32(i), nullptr, 0) > 0;
    PutNative32(*f + 4 + i * 4, file ? uInt32(kDragItemFile) : 0u);
  }
  return kNoErr;
}

Bool32 DragItemIsFile(DragData data, int32 index) { return (ItemFlags(data, index) & kDragItemFile) != 0; }
Bool32 DragItemIsText(DragData data, int32 index) { return (ItemFlags(data, index) & kDragItemText) != 0; }

MgErr DragGetItemPath(DragData data, int32 index, Path* path, int32 kind) {
  if (!data || !*data || !path || index < 0) return kFileNotFoundErr;
  if (kind != kDragKindDrop && kind != kDragKindDataObject) return kMemFullErr;
  const Medium list(kind == kDragKindDataObject ? data : nullptr, kPlatCfFileList);
  if (kind == kDragKindDataObject && !list.Block()) return kMemFullErr;
  char name[kDragMaxName + 2] = {};
  const uInt32 length = QueryName(Source(data), list.Block(), uInt32(index), nullptr, 0);
  if (length == 0 || length > kDragMaxName) return kFileNotFoundErr;
  QueryName(Source(data), list.Block(), uInt32(index), name, sizeof name);
  const size_t n = std::strlen(name);
  if (n >= 4 && strcasecmp(name + n - 4, ".LNK") == 0)
    FResolveShortcut(name);
  return FTextToPath(reinterpret_cast<const uChar*>(name), int32(std::strlen(name)), path);
}

MgErr DragGetItemText(DragData data, int32 /*index*/, LStrHandle text, int32 kind) {
  if (kind != kDragKindDataObject) return kNoErr;
  if (!data || !*data || !text) return kMemFullErr;
  const Medium block(data, kPlatCfText);
  if (!block.Block()) return kMemFullErr;
  const uint32_t size = PlatGlobalSize(block.Block());
  const char* p = static_cast<const char*>(PlatGlobalLock(block.Block()));
  if (!p && size) return kMemFullErr;
  const int32 length = size ? int32(strnlen(p, size)) : 0;
  MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(text), int32(sizeof(int32)) + length);
  if (err == kNoErr) {
    if (length) std::memcpy(LStrBuf(*text), p, size_t(length));
    (*text)->cnt = length;
    err = StrHConvertFromNative(text, 0, 0);
  }
  PlatGlobalUnlock(block.Block());
  return err ? kMemFullErr : kNoErr;
}

int32 DragSendEvent(WEventRecord* event, int32 code, int32 kind, PlatWindow hwnd, Point globalPoint) {
  if (!event) return 1;
  const WindowRef w = WFindWindowByHwnd(hwnd);
  event->window = w;
  event->code = code;
  event->character = kind;
  if (code != kWEvDragLeave) {
    Point local = globalPoint;
    event->globalWhere = int32(uInt16(globalPoint.v)) | int32(uInt32(uInt16(globalPoint.h)) << 16);
    if (w) WGlobalToLocal(w, &local);
    event->where = int32(uInt16(local.v)) | int32(uInt32(uInt16(local.h)) << 16);
  }
  return Deliver(w, event);
}

void DragDropFiles(WindowRef window, uInt32 drop) {
  WindowRecord* r = Record(window);
  if (!r) {
    PlatDragFinish(drop);
    return;
  }
  WBringToFront(window);
  int32 x = 0, y = 0;
  PlatDragQueryPoint(drop, &x, &y);
  Point local{int16(y), int16(x)}, global = local;
  WLocalToGlobal(window, &global);
  DragData data = nullptr;
  if (DragNewData(&data, drop) == kNoErr) {
    WEventRecord event{};
    event.code = kWEvDrop;
    event.window = window;
    event.modifiers = WModifiers(reinterpret_cast<uintptr_t>(data));
    event.character = kDragKindDrop;
    event.where = int32(uInt16(local.v)) | int32(uInt32(uInt16(local.h)) << 16);
    event.globalWhere = int32(uInt16(global.v)) | int32(uInt32(uInt16(global.h)) << 16);
    Deliver(window, &event);
    DragDisposeData(data);
  }
  PlatDragFinish(drop);
}
