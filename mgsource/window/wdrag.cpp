// Files dropped on windows: drop data, its readers and the delivery to the
// window's drop handler.
#include "mgsource/window/wdrag.h"

#include <strings.h>

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "mgsource/window/wport.h"
#include "platform/qx_drop.h"

namespace {

constexpr int32 kDragMaxName = 260;

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

}  // namespace

void DragAcceptWindow(WindowRef window, WDropHandler handler) {
  WindowRecord* r = Record(window);
  if (!r || !r->hwnd) return;
  if (handler) r->dropHandler = handler;
  PlatDragAcceptFiles(r->hwnd, true);
}

int32 DragRefuseWindow(WindowRef window) {
  WindowRecord* r = Record(window);
  if (!r) return 0;
  r->dropHandler = nullptr;
  if (r->hwnd) PlatDragAcceptFiles(r->hwnd, false);
  return 0;
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
  if (kind != kDragKindDrop) return kMemFullErr;
  char name[kDragMaxName + 2] = {};
  const uInt32 length = PlatDragQueryFile(Source(data), uInt32(index), nullptr, 0);
  if (length == 0 || length > kDragMaxName) return kFileNotFoundErr;
  PlatDragQueryFile(Source(data), uInt32(index), name, sizeof name);
  const size_t n = std::strlen(name);
  if (n >= 4 && strcasecmp(name + n - 4, ".LNK") == 0)
    FResolveShortcut(name);
  return FTextToPath(reinterpret_cast<const uChar*>(name), int32(std::strlen(name)), path);
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
