// What loading a panel heap asks of the object system: the path of an
// object that takes property calls and the undo records of a loaded heap.
#include <initializer_list>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "panel/objects.h"
#include "panel/transact.h"

namespace {

int32 ExtWord(ObjHeap heap, int32 at) { return int32(GetNative32(*heap + OHWord(heap, kOHExtension) + at)); }
void SetExtWord(ObjHeap heap, int32 at, int32 v) { PutNative32(*heap + OHWord(heap, kOHExtension) + at, uInt32(v)); }

bool IsPanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }

uInt32 Category(ObjHeap heap, int32 object) { return ClassRecord(ObjClass(heap, object))->categoryB; }

// Writes the steps from the panel's root down to (not including) object at
// the stack top through the stack's checked writer; the frame after them, or
// null when the owner chain does not reach the root (an owner chain longer
// than the heap has blocks loops) or the path would pass the stack's end.
TransactionFrame* WriteOwners(ObjHeap heap, int32 object, int32* hidden, int32* greyed, int32 depth) {
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  if (!owner || depth > int32(OHWord(heap, kOHEndOffset) / kOHBlockHeader)) return nullptr;
  // A data controller serves one display object and keeps no part list;
  // the panel finds a controller in its controller list (word 10, level 3),
  // its other objects in its object list (level 1).
  const int32 ownerClass = ObjClass(heap, owner);
  const bool controller = ownerClass == kClsFPDataController || ownerClass == kClsFPDataController + 1;
  const bool viaController = ownerClass == kClsFrontPanel && (ObjClass(heap, object) == kClsFPDataController ||
                                                              ObjClass(heap, object) == kClsFPDataController + 1);
  const int32 list = controller ? 0 : ObjWord(heap, owner, viaController ? 10 : PartListWord(heap, owner));
  const int32 index = controller ? 0 : list ? OHListFind(heap, list, object) : -1;
  const int32 level = viaController ? 3 : 1;
  TransactionFrame* at;
  if (ownerClass == kClsFrontPanel) {
    at = static_cast<TransactionFrame*>(TRStackTop());
  } else {
    at = WriteOwners(heap, owner, hidden, greyed, depth + 1);
    if (!at) return nullptr;
    const uInt32 flags = uInt32(ObjWord(heap, owner, kObjFlags / 4));
    *hidden |= (flags & 0x8) ? 1 : 0;
    *greyed |= (flags & 0x80) ? 1 : 0;
  }
  if (!TRPutFrame(at, owner, Category(heap, owner), level, index)) return nullptr;
  return at + 1;
}

}  // namespace

int32 GetObjAttrRec(ObjHeap heap, int32 object, int32* hiddenOut, int32* greyedOut) {
  int32 hidden = 0, greyed = 0;
  if (hiddenOut) *hiddenOut = 0;
  if (greyedOut) *greyedOut = 0;
  if (!heap || !*heap || !object) return 0;
  const uInt32 cat = Category(heap, object);
  if (cat != kCatDDO && cat != kCatCOSM && cat != FourCC("SCLE") && cat != kCatFPSC) return 0;
  const uInt32 flags = uInt32(ObjWord(heap, object, kObjFlags / 4));
  hidden = (flags & 0x8) ? 1 : 0;
  greyed = (flags & 0x80) ? 1 : 0;
  if (!IsPanelHeap(heap)) {
    DBAssert(__FILE__, __LINE__, "GetObjAttrRec: not a front-panel heap");
    return 0;
  }
  auto* top = static_cast<TransactionFrame*>(TRStackTop());
  if (!top) {
    DBAssert(__FILE__, __LINE__, "GetObjAttrRec: no transaction path pushed");
    return 0;
  }
  TransactionFrame* at = top;
  if (cat != kCatFPSC && !(at = WriteOwners(heap, object, &hidden, &greyed, 0))) return 0;
  if (!TRPutFrame(at, object, cat, 2, 0)) return 0;
  if (hiddenOut) *hiddenOut = hidden;
  if (greyedOut) *greyedOut = greyed;
  return 1;
}

void ClearUndoRecords(ObjHeap heap) {
  if (!IsPanelHeap(heap)) return;
  SetExtWord(heap, kHeapExtUndo28, 0);
  for (int32 at : {kHeapExtUndo30, kHeapExtUndo31}) {
    if (ExtWord(heap, at) != 0) DBAssert("undo", __LINE__, "ClearUndoRecords: an undo record is set");
    SetExtWord(heap, at, 0);
  }
}

