// Drops onto panel objects, listbox row counts and the identity routine that
// external code calls.
#include "panel/dataxfer.h"

#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "panel/oinval.h"

namespace {

// The size of a live handle of either zone, -1 for anything else.
int32 LiveHandleSize(const void* h) {
  if (!h) return -1;
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(UHandle(const_cast<void*>(h)));
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(UHandle(const_cast<void*>(h)));
  return -1;
}

// A drag record: a live data-zone handle of two words whose second word
// (the item flags) is a live data-zone handle too.
bool LiveDrag(DragData drag) {
  if (!drag || DSCheckHandle(drag) != kNoErr || DSGetHandleSize(drag) < 8) return false;
  const UHandle flags = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*drag + 4)));
  return flags && DSCheckHandle(flags) == kNoErr;
}

bool IsObjTransfer(const DataXferRec& rec) { return (rec.kind & kDataXferObjKind) != 0; }
int32 DragFlavour(const DataXferRec& rec) { return rec.kind & kDataXferDragKind; }

// The drag's item count, 0 for a drag that is not live or a flavour the
// drag layer does not read.
int32 DragCount(DragData drag, int32 flavour) {
  if (flavour != kDragKindDrop && flavour != kDragKindDataObject) return 0;
  return LiveDrag(drag) ? DragGetItemCount(drag, flavour) : 0;
}

int32 ObjCount(ObjHeap heap, int32 list) { return heap && *heap && list ? ObjListCount(heap, list) : 0; }

// Item index of a drag transfer inside both the record's count and the
// drag's built item flags; the drag layer's readers assert on others.
bool DragItemInRange(const DataXferRec& rec, int32 index) {
  if (index < 0 || index >= rec.count || !LiveDrag(rec.drag)) return false;
  const UHandle flags = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*rec.drag + 4)));
  const int32 size = DSGetHandleSize(flags);
  return size >= 4 && index < int32(GetNative32(*flags)) && 4 + int64(index + 1) * 4 <= size;
}

// The object at index of an object transfer's list: 0 outside the count or
// the list, or for an offset that names no used block.
int32 ObjItem(const DataXferRec& rec, int32 index) {
  if (index < 0 || index >= rec.count || index >= ObjCount(rec.heap, rec.list)) return 0;
  const int32 item = ObjListGet(rec.heap, rec.list, index);
  return item > 0 && OHIsUsedBlock(rec.heap, item) ? item : 0;
}

// The VI an object transfer's item stands for: a type definition's link,
// or the VI owning the heap for its connector pane; null for any other
// item, or a VI that is not a live record.
UHandle ItemVI(const DataXferRec& rec, int32 index) {
  const int32 item = ObjItem(rec, index);
  if (!item) return nullptr;
  UHandle vi = nullptr;
  switch (ObjClass(rec.heap, item)) {
    case kClsTypeDefinition: vi = TypeDefGetLink(rec.heap, item); break;
    case kClsConnectorPane: vi = PanelHeapOwner(rec.heap); break;
    default: return nullptr;
  }
  return LiveHandleSize(vi) >= kVIHeaderSize ? vi : nullptr;
}

// The path of the VI an item stands for, when it is a path.
Path ItemVIPath(const DataXferRec& rec, int32 index) {
  const UHandle vi = ItemVI(rec, index);
  const Path p = vi ? VIRec(vi)->path : nullptr;
  return p && FIsAPath(p) ? p : nullptr;
}

}  // namespace

MgErr DataXferInitObj(ObjHeap heap, int32 list, int32 param, DataXferRec* rec) {
  if (!rec) return kArgErr;
  *rec = DataXferRec{heap, 0, list, ObjCount(heap, list), kDataXferObjKind, nullptr, param};
  return kNoErr;
}

MgErr DataXferInitDrag(DragData drag, int32 flavour, DataXferRec* rec) {
  if (!rec) return kArgErr;
  *rec = DataXferRec{nullptr, 0, 0, 0, flavour & kDataXferDragKind, drag, 0};
  if ((flavour != kDragKindDrop && flavour != kDragKindDataObject) || !LiveDrag(drag)) return kArgErr;
  rec->count = DragGetItemCount(drag, flavour);
  return DragBuildItemFlags(drag, flavour);
}

int32 DataXferSetObject(DataXferRec* rec, int32 list) {
  if (!rec) return 0;
  rec->list = list;
  if (IsObjTransfer(*rec)) rec->count = ObjCount(rec->heap, list);
  else rec->count = DragCount(rec->drag, DragFlavour(*rec));
  return 1;
}

int32 DataXferSetResult(DataXferRec* rec, int32 value) {
  if (!rec) return 0;
  rec->result = value;
  return 1;
}

int32 DataXferIsObjKind(DataXferRec rec, int32, void*) { return IsObjTransfer(rec) ? 1 : 0; }

int32 DataXferItemHasVI(DataXferRec rec, int32 index, void*) {
  if (IsObjTransfer(rec)) return ItemVI(rec, index) ? 1 : 0;
  return DragItemInRange(rec, index) && DragItemIsFile(rec.drag, index) ? 1 : 0;
}

int32 DataXferItemIsPath(DataXferRec rec, int32 index, void*) {
  if (IsObjTransfer(rec)) return ItemVIPath(rec, index) ? 1 : 0;
  return DragItemInRange(rec, index) && DragItemIsFile(rec.drag, index) ? 1 : 0;
}

int32 DataXferPathCheck(DataXferRec rec, int32 index, ObjHeap targetHeap, int32 target) {
  if (!targetHeap || !*targetHeap || target <= 0 || !OHIsUsedBlock(targetHeap, target)) return 0;
  if (ObjClass(targetHeap, target) != kClsPath) return 0;
  return DataXferItemIsPath(rec, index, nullptr);
}

int32 DataXferItemData(DataXferRec rec, int32 index, void* out) {
  if (!out) {
    DBAssert("dragsup", __LINE__, "DataXferItemData: no output");
    return kArgErr;
  }
  if (IsObjTransfer(rec)) return 1;
  if (!DragItemInRange(rec, index) || DSCheckHandle(out) != kNoErr) return kArgErr;
  return DragGetItemText(rec.drag, index, static_cast<LStrHandle>(out), DragFlavour(rec));
}

int32 DataXferItemPath(DataXferRec rec, int32 index, void* out) {
  Path path = static_cast<Path>(out);
  if (LiveHandleSize(path) < 0) return kArgErr;
  if (!IsObjTransfer(rec)) {
    if (!DragItemInRange(rec, index)) return kArgErr;
    return DragGetItemPath(rec.drag, index, &path, DragFlavour(rec));
  }
  const Path from = ItemVIPath(rec, index);
  if (!from) return kArgErr;
  FEmptyPath(path);
  return FPathCpy(path, from);
}

int32 DataXferPassArg2(DataXferRec rec, int32, void*) { return rec.result; }
int32 DataXferPassArg4(DataXferRec rec, int32, void*) { return rec.count; }

uintptr_t IdChk(uintptr_t value) { return value; }
// One routine under both exported names, so either name finds its table entry.
QX_EXTERN_C uintptr_t QXMakeProcInstance(uintptr_t value) __attribute__((alias("IdChk")));

int32 ListboxSetRowCount(ObjHeap heap, int32 listbox, int32 rows) {
  if (!heap || !*heap || listbox <= 0 || !OHIsUsedBlock(heap, listbox) || !ObjIsA(heap, listbox, kClsListbox))
    return 0;
  const int32 visible = ObjInt16(heap, listbox, kListboxVisibleRowsByte);
  if (rows == visible) return 0;
  const int32 height = ObjInt16(heap, listbox, kListboxRowHeightByte);
  const int32 list = FindPart(heap, listbox, kListboxListPart, 0);
  if (rows < 0 || height < 1 || !list) return 0;
  Rect r;
  std::memcpy(&r, *heap + list + kObjBounds, sizeof r);
  if (int64(r.top) + int64(rows) * height >= kCoordinateLimit) rows = (kCoordinateLimit - r.top) / height;
  // A list starting at or below the limit shows none; the count is a 16-bit field.
  rows = rows < 0 ? 0 : rows > 0x7FFF ? 0x7FFF : rows;
  if (rows == visible) return 0;
  const int16 stored = int16(rows);
  std::memcpy(*heap + listbox + kListboxVisibleRowsByte, &stored, sizeof stored);
  r.bottom = int16(r.top + rows * height);
  OInval(heap, listbox, kInvalAll);
  OSize(heap, list, &r, 0);
  OSize(heap, listbox, nullptr, kListboxListPart);
  OInval(heap, listbox, kInvalAll);
  return 1;
}

int32 CompareU32(const void* a, const void* b) {
  uInt32 x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return (x > y) - (x < y);
}
