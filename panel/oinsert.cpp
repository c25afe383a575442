// Placing objects on a front panel.
//
// Every change an insertion makes is recorded as it is made: when a later
// step runs out of memory the record undoes them all, so a failed insertion
// leaves the heap as it found it (no controller left behind whose display
// object still names it as owner).
#include "panel/oinsert.h"

#include <cstring>
#include <vector>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "panel/oinit.h"

namespace {

const char kSourceFile[] = "oinsert";

constexpr int32 kControllerListWord = kRootItemList / 4;  // word 10: key focus and data transfer order
constexpr int32 kObjectListWord = kRootObjectListWord;    // word 11: z-order, front first
constexpr uInt32 kFlagWrapped = 0x8000, kFlagPlacing = 0x100;
constexpr int16 kPanelKindRoot = 3;
constexpr int32 kMaxGrouperDepth = 32;  // groupers from files may nest themselves

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}

// A list's count when its block holds that many entries, else 0.
int32 CheckedCount(ObjHeap heap, int32 list) {
  if (!Live(heap, list, 4) || ObjClass(heap, list) != kObjClassList) return 0;
  const int32 n = int32(OHWord(heap, uInt32(list)));
  return n > 0 && n <= (OHBlockSize(heap, list) - 4) / 4 ? n : 0;
}

uInt32 CategoryOf(ObjHeap heap, int32 object) { return ClassRecord(ObjClass(heap, object))->categoryB; }

// What an insertion changed, to be undone when a later step fails.
struct Journal {
  ObjHeap heap = nullptr;
  int32 panel = 0;
  struct Controller { int32 controller, display, oldOwner; };
  struct ListSwap { int32 grouper, oldList, newList; };
  struct OwnerChange { int32 object, oldOwner; };
  std::vector<Controller> controllers;
  std::vector<ListSwap> swaps;
  std::vector<OwnerChange> owners;
  int32 depth = 0;

  void SetOwner(int32 object, int32 owner) {
    owners.push_back({object, ObjWord(heap, object, kPWOwner)});
    ObjSetWord(heap, object, kPWOwner, owner);
  }
  void Undo() {
    for (auto it = owners.rbegin(); it != owners.rend(); ++it) ObjSetWord(heap, it->object, kPWOwner, it->oldOwner);
    for (auto it = swaps.rbegin(); it != swaps.rend(); ++it) {
      ObjSetWord(heap, it->grouper, kObjPartList / 4, it->oldList);
      OHDisposeBlock(heap, it->newList);
    }
    for (auto it = controllers.rbegin(); it != controllers.rend(); ++it) {
      const int32 list = ObjWord(heap, panel, kControllerListWord);
      if (Live(heap, list, 4)) ObjListRemove(heap, list, it->controller);
      ObjSetWord(heap, it->display, kPWOwner, it->oldOwner);
      DisposeController(it->controller);
    }
  }
  // The controller's type and cross list go with it.
  void DisposeController(int32 controller) {
    if (const TypeID t = TypeID(ObjWord(heap, controller, kPWDCOTypeId))) ReleaseTypeID(heap, t);
    if (const int32 cross = ObjWord(heap, controller, kDCOCrossList / 4); Live(heap, cross, 0))
      OHDisposeBlock(heap, cross);
    OHDisposeBlock(heap, controller);
  }
  // The lists the groupers held before they took their copies.
  void Commit() {
    for (const ListSwap& s : swaps) OHDisposeBlock(heap, s.oldList);
  }
};

// The panel's list in that word, made empty when the panel has none.
bool EnsureList(ObjHeap heap, int32 panel, int32 word) {
  if (Live(heap, ObjWord(heap, panel, word), 4)) return true;
  const int32 list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
  if (!list) return false;
  std::memset(*heap + list, 0, kObjListNewSize);
  ObjSetWord(heap, panel, word, list);
  return true;
}

MgErr ListInsert(ObjHeap heap, int32 panel, int32 word, int32 value, int32 position) {
  if (!EnsureList(heap, panel, word)) return kMemFullErr;
  int32 list = ObjWord(heap, panel, word);
  const MgErr err = OHListInsert(heap, &list, value, position);
  if (!err) ObjSetWord(heap, panel, word, list);
  return err;
}

// A new panel data controller around the display object, owned by the
// panel and entered in its controller list at the position; 0 when memory
// ran out (nothing left behind).
int32 WrapInController(Journal& j, int32 display, int32 position) {
  ObjHeap heap = j.heap;
  const int32 size = ClassRecord(kClsFPDataController)->instanceSize;
  const int32 dco = OHNewBlock(heap, size, kClsFPDataController);
  if (!dco) return 0;
  std::memset(*heap + dco, 0, size_t(size));
  ObjSetWord(heap, dco, kPWOwner, j.panel);
  const int32 oldOwner = ObjWord(heap, display, kPWOwner);
  // The controller's initialisation takes the display object in place of a point.
  Point carried;
  static_assert(sizeof carried == sizeof display, "a point carries the display object");
  std::memcpy(&carried, &display, sizeof carried);
  const int32 controller = OInit(heap, dco, carried, 0);
  if (!controller) return 0;  // the initialisation disposed it
  j.controllers.push_back({controller, display, oldOwner});
  if (ListInsert(heap, j.panel, kControllerListWord, controller, position) != kNoErr) return 0;
  return controller;
}

// Wraps every display object among the grouper's members (groupers among
// them recursively), gives the grouper its owner and fits it to its members.
int32 InsertGrouper(Journal& j, int32 container, int32 grouper, int32 position) {
  ObjHeap heap = j.heap;
  if (j.depth >= kMaxGrouperDepth) {
    DBAssert(kSourceFile, __LINE__, "groupers nest too deep");
    return kInsertMemFull;
  }
  for (const Journal::ListSwap& s : j.swaps)
    if (s.grouper == grouper) {
      DBAssert(kSourceFile, __LINE__, "a grouper holds itself");
      return kInsertMemFull;
    }
  const int32 list = ObjWord(heap, grouper, kObjPartList / 4);
  if (const int32 n = CheckedCount(heap, list)) {
    const int32 copy = OHCopyBlock(heap, list, heap);
    if (!copy) {
      DBAssert(kSourceFile, __LINE__, "a grouper's part list cannot be copied");
      return kInsertMemFull;
    }
    j.swaps.push_back({grouper, list, copy});
    for (int32 i = 0; i < n; ++i) {
      const int32 part = ObjListGet(heap, copy, i);
      if (!Live(heap, part, kObjPartList + 4)) continue;
      const int32 cls = ObjClass(heap, part);
      if (ClassIsKindOf(cls, kClsDataController)) {
        DBAssert(kSourceFile, __LINE__, "a grouper's member is a data controller already");
        continue;
      }
      if (CategoryOf(heap, part) != kCatDDO) continue;
      if (cls == kClsGrouperObject) {
        ++j.depth;
        const int32 r = InsertGrouper(j, grouper, part, position);
        --j.depth;
        if (r == kInsertMemFull) return r;
        continue;
      }
      if (ObjWord(heap, part, kPWOwner) != grouper) DBAssert(kSourceFile, __LINE__, "a member owned elsewhere");
      const int32 controller = WrapInController(j, part, position);
      if (!controller) return kInsertMemFull;
      ObjListSet(heap, copy, i, controller);
      ObjSetWord(heap, controller, kPWOwner, grouper);
    }
    ObjSetWord(heap, grouper, kObjPartList / 4, copy);
  }
  j.SetOwner(grouper, container);
  return OSize(heap, grouper, nullptr, 0) == kInsertMemFull ? kInsertMemFull : kInsertDone;
}

int32 FrontPanelInsert(ObjHeap heap, int32 panel, int32 object, int32 position) {
  if (!Live(heap, panel, 4 * (kObjectListWord + 1)) || !Live(heap, object, kObjBounds)) {
    DBAssert(kSourceFile, __LINE__, "OInsert: no such object");
    return kInsertRefused;
  }
  Journal j;
  j.heap = heap, j.panel = panel;
  const uInt32 oldFlags = uInt32(ObjWord(heap, object, kObjFlags));
  int32 top = object;  // what joins the object list
  int32 r = kInsertDone;
  const uInt32 category = CategoryOf(heap, object);
  if (category == kCatDDO && ObjClass(heap, object) == kClsGrouperObject) {
    r = InsertGrouper(j, panel, object, position);
  } else if (category == kCatDDO) {
    top = WrapInController(j, object, position);
    if (!top) r = kInsertMemFull;
    else ObjSetWord(heap, object, kObjFlags, int32(oldFlags | kFlagWrapped));
  } else if (category == kCatCOSM) {
    j.SetOwner(object, panel);
  } else {
    DBAssert(kSourceFile, __LINE__, "OInsert: an object of no panel category");
    return kInsertRefused;
  }
  if (r == kInsertDone && ListInsert(heap, panel, kObjectListWord, top, 0) != kNoErr) r = kInsertMemFull;
  if (r != kInsertDone) {
    j.Undo();
    ObjSetWord(heap, object, kObjFlags, int32(oldFlags));
    return r;
  }
  j.Commit();
  const UHandle vi = PanelHeapOwner(heap);
  const int16 kind = vi && *vi ? VIRec(vi)->viKind : 0;
  uInt32 flags = uInt32(ObjWord(heap, object, kObjFlags));
  if ((flags & kFlagPlacing) && kind != kPanelKindRoot)
    DBAssert(kSourceFile, __LINE__, "OInsert: an object still being placed");
  if (kind != 0) flags &= ~kObjFlagHidden;
  ObjSetWord(heap, object, kObjFlags, int32(flags & ~kFlagPlacing));
  std::memset(*heap + object + kObjPartId, 0, 8);  // part id, order and the two half-words after them
  return kInsertDone;
}

// Containers take their elements otherwise: an insertion is a caller's fault
// that does no harm.
int32 ContainerInsert(ObjHeap, int32, int32, int32) {
  DBAssert(kSourceFile, __LINE__, "OInsert into a container control");
  return kInsertDone;
}

int32 RefusedInsert(ObjHeap, int32, int32, int32) {
  DBAssert(kSourceFile, __LINE__, "OInsert into an object that holds no panel objects");
  return kInsertRefused;
}

}  // namespace

ObjMethodAddr OInsertMethodFor(int32 cls) {
  if (cls == kClsFrontPanel) return reinterpret_cast<ObjMethodAddr>(&FrontPanelInsert);
  if (cls == kClsCluster || cls == kClsRefNum || cls == kClsArray)
    return reinterpret_cast<ObjMethodAddr>(&ContainerInsert);
  // By id: the class table asks while it is being built.  The data
  // controllers and the data display classes.
  if (cls == kClsDataController || cls == kClsFPDataController || (cls >= kClsDataDisplayObject && cls <= 105) ||
      cls == kClsTag || cls == kClsOleVariant)
    return reinterpret_cast<ObjMethodAddr>(&RefusedInsert);
  return nullptr;
}
