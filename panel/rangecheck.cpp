#include "panel/rangecheck.h"

#include <algorithm>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/panelplace.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/objlist.h"
#include "panel/datamsg.h"
#include "panel/operate_internal.h"
#include "panel/panel_internal.h"

using opmeth::IsObject;

namespace {

constexpr int32 kElementListWord = 10;  // a cluster's elements, a panel root's data controllers
constexpr int16 kPartArrayElement = kPartDigital;
constexpr int32 kRunSlot = 1, kRunContinuousSlot = 2, kCallChainItemKind = 2;
constexpr uInt32 kHeapFlagAlwaysShow = 0x1000000;

// An object whose block holds the bytes: its header read once for both.
bool Holds(ObjHeap heap, int32 object, int32 bytes) {
  return object > 0 && OHUsedBlockHolds(heap, object, std::max(int32(sizeof(ObjLeadingFields)), bytes));
}
bool IsOut(uInt32 word) { return (word & kRangeStateMask) == kRangeOut; }
void StoreState(ObjHeap heap, int32 object, uInt32 state) {
  SetRangeWord(heap, object, uInt16((RangeWord(heap, object) & ~kRangeStateMask) | (state & kRangeStateMask)));
}
int32 OwnerOf(ObjHeap heap, int32 object) {
  const int32 owner = ObjWord(heap, object, kPWOwner);
  return IsObject(heap, owner) ? owner : 0;
}
// The data an object's owner gives it for operating, null when none.
const void* OwnersData(ObjHeap heap, int32 object) {
  const int32 owner = OwnerOf(heap, object);
  const int32 at = owner ? OGetDataPtr(heap, owner, object, kDataPtrOperate, nullptr) : 0;
  return reinterpret_cast<const void*>(uintptr_t(uInt32(at)));
}
// The panel object an entry stands for: a data controller's display object,
// or the entry itself.
int32 EntryObject(ObjHeap heap, int32 entry) {
  if (ObjClass(heap, entry) != kClsFPDataController) return entry;
  const int32 shown = ObjWord(heap, entry, kPWDCODisplay);
  return IsObject(heap, shown) ? shown : 0;
}
bool EntryIsIndicator(ObjHeap heap, int32 entry) {
  const int32 object = EntryObject(heap, entry);
  return object && (opmeth::Flags(heap, object) & kObjFlagIndicator);
}
// Shows the object's state in its range frame: 1 out of range, 0 otherwise.
int32 ShowRangeState(ObjHeap heap, int32 object) {
  const int32 frame = FindPart(heap, object, kPartRangeFrame, 0);
  if (!TakesRangeState(heap, frame)) return 0;
  const int32 shown = IsOut(RangeWord(heap, object)) ? 1 : 0;
  return oDisplayVal(heap, frame, 0, &shown);
}
void RedrawRunSlots(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  const auto icon = PanelRoutines().statePnlSlotIcon;
  if (!vi || !*vi || !icon) return;
  UpdateToolbarButton(vi, icon(heap, kRunSlot), 0);
  UpdateToolbarButton(vi, icon(heap, kRunContinuousSlot), CallChainMenuState(vi, kCallChainItemKind));
}
// The controller's entry list, 0 when it holds none.
int32 EntryList(ObjHeap heap, int32 controller) {
  return Holds(heap, controller, 4 * (kElementListWord + 1)) ? ObjWord(heap, controller, kElementListWord) : 0;
}
int32 CountBlock(ObjHeap, int32, void* n) {
  ++*static_cast<int32*>(n);
  return 0;
}

}  // namespace

uInt16 RangeWord(ObjHeap heap, int32 object) {
  return Holds(heap, object, kRangeWordByte + 2) ? GetNative16(*heap + object + kRangeWordByte) : 0;
}
void SetRangeWord(ObjHeap heap, int32 object, uInt16 word) {
  if (Holds(heap, object, kRangeWordByte + 2)) PutNative16(*heap + object + kRangeWordByte, word);
}
int16 RangeCheckNumber(ObjHeap heap, int32 object) {
  return Holds(heap, object, kRangeNumberByte + 2) ? int16(GetNative16(*heap + object + kRangeNumberByte)) : 0;
}
bool RangeCheckedData(ObjHeap heap, int32 object) { return (RangeWord(heap, object) & kRangeModeMask) == kRangeChecked; }

int32 PanelListCount(ObjHeap heap, int32 list) {
  if (!heap || !*heap || list <= 0 || !OHIsUsedBlock(heap, list)) return 0;
  const int32 n = ObjListCount(heap, list);
  return n >= 0 && 4 + int64(4) * n <= OHBlockSize(heap, list) ? n : 0;
}

int32 ChkRange(ObjHeap heap, int32 object, const void* data, int32 mode) {
  const int16 number = RangeCheckNumber(heap, object);
  const DataSpace table = number ? FPBoundDataSpace(heap) : nullptr;
  if (!table) return 0;
  return DSCallChkRangeProc(table, number, mode, int32(uintptr_t(data)));
}

int32 SetRangeFlags(ObjHeap heap, int32 object, const void* data) {
  const int32 result = data ? ChkRange(heap, object, data, 0) : 0;
  StoreState(heap, object, uInt32(result));
  return IsOut(uInt32(result)) ? 1 : 0;
}

int32 RecheckArrayEltRange(ObjHeap heap, int32 element) {
  if (!IsObject(heap, element) || ObjInt16(heap, element, kObjPartId) != kPartArrayElement ||
      !(RangeWord(heap, element) & kRangeViaArray))
    return 0;
  int32 blocks = 0;
  OHForEachBlockWith(heap, &CountBlock, &blocks);
  int32 outer = OwnerOf(heap, element);
  for (int32 n = 0; outer && ObjInt16(heap, outer, kObjPartId) == kPartArrayElement; ++n) {
    if (n >= blocks) return 0;  // an owner loop from a file
    outer = OwnerOf(heap, outer);
  }
  if (!outer) return 0;
  SetRangeFlags(heap, outer, OwnersData(heap, outer));
  return 1;
}

int32 UpdateRangeFlags(ObjHeap heap, int32 object, const void* data) {
  const bool out = SetRangeFlags(heap, object, data) != 0;
  return ShowRangeState(heap, object) | (out ? kReplyOutOfRange : 0);
}

int32 CopyRangeFlags(ObjHeap heap, int32 object, int32 source) {
  if (!IsObject(heap, object)) return 0;
  StoreState(heap, object, RangeWord(heap, source));
  return ShowRangeState(heap, object);
}

int32 RangeCheckDataReply(ObjHeap heap, int32 object, const void* data, int32 reply) {
  if (!IsObject(heap, object)) return reply;
  StoreState(heap, object, 0);
  if (reply & kReplyOutOfRange) {
    StoreState(heap, object, kRangeOut);
  } else if (SetRangeFlags(heap, object, data ? data : OwnersData(heap, object))) {
    reply |= kReplyOutOfRange;
  }
  return reply | ShowRangeState(heap, object);
}

int32 RangeCheckReply(ObjHeap heap, int32 controller, int32 entry, int32 reply) {
  if (!IsObject(heap, controller)) return reply;
  StoreState(heap, controller, 0);
  if (!(reply & kReplyOutOfRange)) return ClusterRangeFlags(heap, controller, 0) ? reply | kReplyOutOfRange : reply;
  StoreState(heap, controller, kRangeOut);
  const bool indicator = IsObject(heap, entry) && EntryIsIndicator(heap, entry);
  ObjSetWord(heap, controller, 0,
             int32(opmeth::Flags(heap, controller) | (indicator ? kRangeOutIndicator : kRangeOutControl)));
  RedrawRunSlots(heap);
  return reply;
}

int32 ClusterRangeFlags(ObjHeap heap, int32 controller, int32 recheck) {
  if (!Holds(heap, controller, kRangeWordByte + 2)) return 0;
  uInt32 flags = opmeth::Flags(heap, controller) & ~(kRangeOutControl | kRangeOutIndicator);
  ObjSetWord(heap, controller, 0, int32(flags));
  StoreState(heap, controller, 0);
  const int32 list = EntryList(heap, controller);
  for (int32 i = 0, n = PanelListCount(heap, list); i < n; ++i) {
    const int32 entry = ObjListGet(heap, list, i);
    if (entry == controller || !IsObject(heap, entry) || !(RangeWord(heap, entry) & kRangeChecked)) continue;
    const bool out = recheck ? RecheckControllerEntry(heap, entry) != 0 : IsOut(RangeWord(heap, entry));
    if (!out) continue;
    flags |= EntryIsIndicator(heap, entry) ? kRangeOutIndicator : kRangeOutControl;
    StoreState(heap, controller, kRangeOut);
  }
  ObjSetWord(heap, controller, 0, int32(flags));
  RedrawRunSlots(heap);
  return (flags & (kRangeOutControl | kRangeOutIndicator)) ? 1 : 0;
}

int32 RecheckControllerEntry(ObjHeap heap, int32 entry) {
  if (!IsObject(heap, entry)) return 0;
  const int32 object = EntryObject(heap, entry);
  const void* data = ObjClass(heap, entry) == kClsFPDataController
                         ? reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, entry, 0, kDataPtrOperate, nullptr))))
                         : OwnersData(heap, entry);
  const bool out = object && SetRangeFlags(heap, object, data);
  StoreState(heap, entry, out ? kRangeOut : 0);
  return out ? 1 : 0;
}

int32 CompareRangeState(int32 first, int32 second) {
  const bool a = IsOut(uInt32(first)), b = IsOut(uInt32(second));
  if (!a && b) return 1;
  if (a && !b) return 0;
  return 2;
}

void InitRangeFlags(ObjHeap heap, int32 object, int32 controller) {
  if (!Holds(heap, object, kRangeWordByte + 2)) return;
  uInt16 word = uInt16((RangeWord(heap, object) & ~kRangeModeMask) | kRangeLimitsMask);
  bool any = false, allViaArray = true;
  const int32 list = EntryList(heap, object);
  for (int32 i = 0, n = PanelListCount(heap, list); i < n; ++i) {
    const int32 entry = ObjListGet(heap, list, i);
    if (entry == object || !IsObject(heap, entry)) continue;
    const uInt16 own = RangeWord(heap, entry);
    if (!(own & kRangeChecked)) continue;
    word = uInt16(word & own & kRangeLimitsMask);
    any = true;
    allViaArray = allViaArray && (own & kRangeViaArray);
  }
  if (any) word = uInt16(word | kRangeChecked | (allViaArray ? kRangeViaArray : 0));
  SetRangeWord(heap, object, word);
  if (!controller) return;
  const UHandle vi = PanelHeapOwner(heap);
  if (!vi || !*vi) return;
  VIRecord* r = VIRec(vi);
  const bool bind = (r->flags2 & kVIFlags2LogAtCompletion) || (any && !allViaArray) ||
                    (OHWord(heap, kOHFlags) & kHeapFlagAlwaysShow);
  r->flags = bind ? r->flags | kVIFlagPanelBinding : r->flags & ~kVIFlagPanelBinding;
}

namespace {
struct ClusterAt {
  int32 object, depth;
};
struct ClusterWalk {
  std::vector<ClusterAt> found;
  int32 blocks = 0;
};
int32 NoteCluster(ObjHeap heap, int32 offset, void* context) {
  auto* walk = static_cast<ClusterWalk*>(context);
  if (ObjClass(heap, offset) == kClsCluster && IsObject(heap, offset)) walk->found.push_back({offset, 0});
  return 0;
}
}  // namespace

void InitPanelRangeFlags(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return;
  const int32 root = int32(opmeth::ExtWord(heap, kHeapExtRoot));
  if (!IsObject(heap, root)) return;
  ClusterWalk walk;
  OHForEachBlockWith(heap, &CountBlock, &walk.blocks);
  OHForEachBlockWith(heap, &NoteCluster, &walk);
  // Inner clusters first: an outer one takes its checking from theirs.
  for (ClusterAt& c : walk.found)
    for (int32 o = OwnerOf(heap, c.object); o && c.depth < walk.blocks; o = OwnerOf(heap, o)) ++c.depth;
  std::stable_sort(walk.found.begin(), walk.found.end(),
                   [](const ClusterAt& a, const ClusterAt& b) { return a.depth > b.depth; });
  for (const ClusterAt& c : walk.found) InitRangeFlags(heap, c.object, 0);
  InitRangeFlags(heap, root, 1);
}

bool TakesRangeState(ObjHeap heap, int32 part) {
  if (!part) return false;
  const int32 cls = ObjClass(heap, part);
  if (cls == kClsCosmetic || cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic) return true;
  DBPrintf("range frame of class %ld takes no range state", static_cast<long>(cls));
  return false;
}
