// What loading a panel heap asks of the object system: the path of an
// object that takes property calls and the undo records of a loaded heap.
#include <initializer_list>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "panel/objects.h"
#include "panel/transact.h"

namespace {

int32 ExtWord(ObjHeap heap, int32 at) { return int32(GetNative32(*heap + OHWord(heap, kOHExtension) + at)); }
void SetExtWord(ObjHeap heap, int32 at, int32 v) { PutNative32(*heap + OHWord(heap, kOHExtension) + at, uInt32(v)); }

// The owner steps a path walk keeps before it writes them.
constexpr int32 kKeptSteps = 16;

bool IsPanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }

// The blocks the last path walks checked: the object, and at each step up
// from it the owner, the list of the owner's kind that holds the child and
// the owner's part list.  A walk along the same path again reads their
// headers back while no block's layout has changed.
struct StepMemos {
  OHBlockMemo owner, list, parts;
};
thread_local OHBlockMemo gWalkObject;
thread_local StepMemos gWalkSteps[kKeptSteps];

// The list's block checked through the memo when there is one.
[[gnu::always_inline]] inline bool ListBlockRead(OHBlockMemo* memo, ObjHeap heap, int32 list, int32* usable,
                                                 int32* cls) {
  return memo ? OHUsedBlockReadMemo(memo, heap, list, usable, cls) : OHUsedBlockRead(heap, list, usable, cls);
}

// The object's last position in the list in the owner's word (the owner a
// used block of ownerSize usable bytes); -1 when it is not there or the list
// does not fit its block (lists come from files).  The list's block is
// checked through memo when it is not null.
[[gnu::always_inline]] inline int32 LastPosition(ObjHeap heap, int32 owner, int32 ownerSize, int32 word,
                                                int32 object, OHBlockMemo* memo) {
  if (ownerSize < 4 * (word + 1)) return -1;
  const int32 list = ObjWord(heap, owner, word);
  int32 listSize = 0, listClass = 0;
  if (list <= 0 || !ListBlockRead(memo, heap, list, &listSize, &listClass) || listSize < 4) return -1;
  const uChar* const at = *heap + list;
  const int32 count = int32(GetNative32(at));
  if (count < 0 || count > (listSize - 4) / 4) return -1;
  for (int32 i = count - 1; i >= 0; --i)
    if (int32(GetNative32(at + 4 + 4 * i)) == object) return i;
  return -1;
}

// The step by which an owner reaches the object: the panel by its object
// list (mode 1) or, for a data controller, its controller list (mode 3); a
// data controller (mode 0); a cluster's element (mode 1, its position in the
// element list the cluster's do-it walks), an array's element (mode 3, the
// array's element index word), a refnum's inner object (mode 1); a part of a
// data display owner (mode 0, its position in the part list); whatever a
// graph or a listbox holds otherwise (modes 2 and 4).  False, reported, for
// an owner of no such kind.  The lists' blocks are checked through the
// step's memos when it has them.
[[gnu::always_inline]] inline bool OwnerStep(ObjHeap heap, int32 owner, int32 ownerClass, int32 ownerSize,
                                            int32 object, int32 objectClass, TransactionFrame* step,
                                            StepMemos* memos) {
  // The owner is a used block of ownerSize usable bytes (the caller checked it).
  auto word = [&](int32 w) { return ownerSize >= 4 * (w + 1) ? ObjWord(heap, owner, w) : 0; };
  const bool isController = objectClass == kClsFPDataController || objectClass == kClsFPDataController - 1;
  OHBlockMemo* const listMemo = memos ? &memos->list : nullptr;
  if (ownerClass == kClsFrontPanel) {
    *step = {owner, kCatFPSC, isController ? 3 : 1,
             LastPosition(heap, owner, ownerSize, isController ? 10 : kRootObjectListWord, object, listMemo)};
    return true;
  }
  if (ownerClass == kClsFPDataController || ownerClass == kClsFPDataController - 1) {
    *step = {owner, kCatDCO, 0, 0};
    return true;
  }
  int32 at;
  if (ownerClass == kClsCluster && (at = LastPosition(heap, owner, ownerSize, 11, object, listMemo)) >= 0) {
    *step = {owner, kCatDDO, 1, at};
    return true;
  }
  if (ownerClass == kClsArray && word(kPWArrayElement) == object) {
    *step = {owner, kCatDDO, 3, word(kPWArrayShown)};
    return true;
  }
  if (ownerClass == kClsRefNum && word(kPWRefNumContained) == object) {
    *step = {owner, kCatDDO, 1, 0};
    return true;
  }
  if ((at = LastPosition(heap, owner, ownerSize, PartListWord(heap, owner), object,
                        memos ? &memos->parts : nullptr)) >= 0) {
    *step = {owner, kCatDDO, 0, at};
    return true;
  }
  if (ownerClass == kClsGraphChart || ownerClass == kClsListbox) {
    *step = {owner, kCatDDO, ownerClass == kClsGraphChart ? 2 : 4, 0};
    return true;
  }
  // Owners come from the panel's file: one of no such kind is reported, and
  // the object takes no property call.
  DBPrintf("GetObjAttrRec: owner of class %ld holds no path step", long(ownerClass));
  return false;
}

// Writes the steps from the panel's root down to (not including) object at
// the stack top through the stack's checked writer; the frame after them, or
// null when the owner chain does not reach the root (an owner chain longer
// than the heap has blocks loops) or the path would pass the stack's end.
TransactionFrame* WriteOwners(ObjHeap heap, int32 object, int32 objectClass, int32* hidden, int32* greyed,
                              int32 depth) {
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  int32 ownerSize = 0, ownerClass = 0;
  if (!owner || !OHUsedBlockInfo(heap, owner, &ownerSize, &ownerClass) ||
      depth > int32(OHWord(heap, kOHEndOffset) / kOHBlockHeader))
    return nullptr;
  TransactionFrame step;
  if (!OwnerStep(heap, owner, ownerClass, ownerSize, object, objectClass, &step, nullptr)) return nullptr;
  TransactionFrame* at;
  if (ownerClass == kClsFrontPanel) {
    at = static_cast<TransactionFrame*>(TRStackTop());
  } else {
    at = WriteOwners(heap, owner, ownerClass, hidden, greyed, depth + 1);
    if (!at) return nullptr;
    const uInt32 flags = uInt32(ObjWord(heap, owner, kObjFlags / 4));
    *hidden |= (flags & 0x8) ? 1 : 0;
    *greyed |= (flags & 0x80) ? 1 : 0;
  }
  if (!TRPutFrame(at, step.object, step.kind, step.mode, step.index)) return nullptr;
  return at + 1;
}

}  // namespace

int32 GetObjAttrRec(ObjHeap heap, int32 object, int32* hiddenOut, int32* greyedOut) {
  return GetObjAttrPath(heap, object, TRStackTop(), hiddenOut, greyedOut, nullptr);
}

int32 GetObjAttrPath(ObjHeap heap, int32 object, void* stackTop, int32* hiddenOut, int32* greyedOut,
                     AttrPathFacts* facts) {
  int32 hidden = 0, greyed = 0;
  if (hiddenOut) *hiddenOut = 0;
  if (greyedOut) *greyedOut = 0;
  // The object comes from compiled code or a file: it must be a used block
  // holding an object's leading words.
  int32 objectSize = 0, objectClass = 0;
  if (!heap || !*heap || !object || !OHUsedBlockReadMemo(&gWalkObject, heap, object, &objectSize, &objectClass) ||
      objectSize < kObjPartList + 4)
    return 0;
  const uInt32 cat = ClassRecord(objectClass)->categoryB;
  if (cat != kCatDDO && cat != kCatCOSM && cat != FourCC("SCLE") && cat != kCatFPSC) return 0;
  // The flag words of the object and the owners the loop below passes,
  // or'd (the recursive walk gives its owners' bits itself).
  uInt32 flags = uInt32(ObjWord(heap, object, kObjFlags / 4));
  if (!IsPanelHeap(heap)) {
    DBAssert(__FILE__, __LINE__, "GetObjAttrRec: not a front-panel heap");
    return 0;
  }
  auto* const top = static_cast<TransactionFrame*>(stackTop);
  if (!top) {
    DBAssert(__FILE__, __LINE__, "GetObjAttrRec: no transaction path pushed");
    return 0;
  }
  // The steps of the owner chain, kept from the end of the array back (so
  // they lie from the root down), then the path written at once; a chain
  // longer than the steps kept here takes the recursive walk.
  TransactionFrame steps[kKeptSteps + 1];
  int32 n = 0;  // steps kept, in steps[kKeptSteps - n, kKeptSteps)
  TransactionFrame* at = top;
  // The path's first object, and the object the root's step reaches when it
  // is one the root's do-it would find in its object list as it is.
  AttrPathFacts learnt;
  learnt.top = object;
  learnt.topSize = objectSize;
  learnt.topClass = objectClass;
  if (cat != kCatFPSC) {
    const int32 deepest = int32(OHWord(heap, kOHEndOffset) / kOHBlockHeader);
    int32 child = object, childClass = objectClass, childSize = objectSize;
    for (bool reached = false; !reached;) {
      if (n == kKeptSteps) {
        if (!(at = WriteOwners(heap, object, objectClass, &hidden, &greyed, 0))) return 0;
        n = 0;
        learnt = AttrPathFacts{};
        break;
      }
      const int32 owner = ObjWord(heap, child, kObjOwner / 4);
      int32 ownerSize = 0, ownerClass = 0;
      StepMemos& memos = gWalkSteps[n];
      if (!owner || !OHUsedBlockReadMemo(&memos.owner, heap, owner, &ownerSize, &ownerClass) || n > deepest)
        return 0;
      TransactionFrame& step = steps[kKeptSteps - ++n];
      if (!OwnerStep(heap, owner, ownerClass, ownerSize, child, childClass, &step, &memos)) return 0;
      reached = ownerClass == kClsFrontPanel;
      if (!reached) {
        flags |= uInt32(ObjWord(heap, owner, kObjFlags / 4));
      } else if (step.mode == 1 && step.index >= 0 && child > 0 && childSize >= int32(sizeof(ObjLeadingFields))) {
        learnt.rootChild = child;
      }
      learnt.top = owner;
      learnt.topSize = ownerSize;
      learnt.topClass = ownerClass;
      child = owner;
      childClass = ownerClass;
      childSize = ownerSize;
    }
  }
  // The object's own step: its category (-1 for a part 32), and for a part
  // 27 the low half of its owner's element index word.
  const int16 partId = ObjInt16(heap, object, kObjPartId);
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  const int32 index = partId == 27 && owner && OHIsUsedBlock(heap, owner) &&
                              OHBlockSize(heap, owner) >= 4 * (kPWArrayShown + 1)
                          ? int32(uInt32(ObjWord(heap, owner, kPWArrayShown)) & 0xFFFF)
                          : 0;
  steps[kKeptSteps] = TransactionFrame{object, partId == 32 ? 0xFFFFFFFFu : cat, 2, index};
  const TransactionFrame* const path = steps + kKeptSteps - n;
  ++n;
  if (TRFramesLie(at, n + 1)) {
    // The path fits: written here as TRPutFrames writes it.
    for (int32 i = 0; i < n; ++i) at[i] = path[i];
    at[n] = TransactionFrame{0, 0, 0, 0};
  } else if (!TRPutFrames(at, path, n)) {
    return 0;
  }
  if (hiddenOut) *hiddenOut = hidden | ((flags & 0x8) ? 1 : 0);
  if (greyedOut) *greyedOut = greyed | ((flags & 0x80) ? 1 : 0);
  if (facts) *facts = learnt;
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

