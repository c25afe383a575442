#include "panel/paneldisplay.h"
#include "panel/ctrldisplay.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/datatype.h"
#include "engine/exec/panelplace.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/panelcells.h"
#include "panel/rangecheck.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"

using opmeth::BoundsOf;
using opmeth::Flags;
using opmeth::IsObject;

int32 gForceDisplay = 0, gDeferDrawing = 0, gDDODrawEnabled = 1, gAllowFocusTextDisplay = 0;

namespace {

const char kSourceFile[] = "paneldisplay";

constexpr int32 kReplyMemFull = 0x10, kReplyResized = 0x80, kReplyInvalidated = 0x20000;
constexpr uInt32 kHeapFlagAlwaysShow = 0x1000000;
constexpr uInt32 kOwnerModePrinting = 0x8000;
constexpr int16 kPartContent = 28;
constexpr int32 kRecordHeadBytes = 12, kRecordRangeWord = 8;  // the data record's head, its third word
constexpr int32 kElementListWord = 10;                         // a cluster's elements, a panel's controllers
constexpr DColor kWhite = 0xFFFFFF, kBlack = 0x000000;

PanelDisplayHooks gHooks;
std::atomic<decltype(PanelDisplayObservers::display)> gDisplay{nullptr};

int32 Addr(const void* p) { return int32(uintptr_t(p)); }

// The display type of a data display object or controller (its typedefs
// looked through), null when its type ID names none.
const TypeDescriptor* DisplayType(ObjHeap heap, int32 object) {
  return OHBlockSize(heap, object) >= 4 * (kPWDDOTypeId + 1) ? PanelTypeOf(heap, DDOTypeID(heap, object)) : nullptr;
}
int32 ElementCount(const TypeDescriptor* td) { return int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)); }

// The panel's data space (the root's), asserted to exist.
UHandle PanelData(ObjHeap heap, const char* who) { return PanelDataSpaceOrAssert(heap, kSourceFile, __LINE__, who); }

void SetKeepState(ObjHeap heap, int32 object, bool on) {
  const uInt16 w = RangeWord(heap, object);
  // A word that already says so is left as it is.
  const uInt16 now = uInt16(on ? w | kRangeKeepState : w & ~kRangeKeepState);
  if (now != w) SetRangeWord(heap, object, now);
}
void CopyKeepState(ObjHeap heap, int32 from, int32 to) {
  SetKeepState(heap, to, (RangeWord(heap, from) & kRangeKeepState) != 0);
}

bool Hidden(ObjHeap heap, int32 object) { return Flags(heap, object) & kObjFlagHidden; }
bool Greyed(ObjHeap heap, int32 object) { return Flags(heap, object) & kObjFlagGreyed; }

}  // namespace

PanelDisplayHooks SetPanelDisplayHooks(const PanelDisplayHooks& hooks) {
  const PanelDisplayHooks old = gHooks;
  if (hooks.closedWindow) gHooks.closedWindow = hooks.closedWindow;
  if (hooks.setCDReg) gHooks.setCDReg = hooks.setCDReg;
  return old;
}

WindowRef PanelClosedWindow() { return gHooks.closedWindow ? gHooks.closedWindow() : 0; }

void SetPanelDisplayObservers(const PanelDisplayObservers& observers) {
  gDisplay.store(observers.display);
  gPanelPropertyObserver.store(observers.property);
}

MgErr PanelDisplayValues(ObjHeap heap, int32 object, const void* old, const void* value) {
  if (auto observe = gDisplay.load()) observe(heap, object, old, value);
  if (!IsObject(heap, object)) return kNoErr;
  const WindowRef window = WindowRef(opmeth::ExtWord(heap, kHeapExtWindow));
  const uInt32 heapFlags = OHWord(heap, kOHFlags);
  if (!window && OHWord(heap, kOHKind) == kPanelHeapKind && !(heapFlags & kHeapFlagAlwaysShow) &&
      !(opmeth::OwnerMode(heap) & kOwnerModePrinting))
    return kNoErr;
  WPortState port;
  WSetup(window ? window : PanelClosedWindow(), &port);
  // While a frame part is tracked the clip is the tracking code's: draw
  // inside the content only.
  const bool clipped = window && (heapFlags & kPanelHeapTracking);
  Rect savedClip{0, 0, 0, 0};
  if (clipped) {
    const uInt32 corners[2] = {opmeth::ExtWord(heap, kHeapExtContentRect), opmeth::ExtWord(heap, kHeapExtContentRect + 4)};
    Rect content;
    std::memcpy(&content, corners, sizeof content);
    WSetClipRect(&content, &savedClip);
  }
  const int32 reply = oDisplayVal(heap, object, Addr(old), value);
  if (window) {
    if ((reply & kReplyInvalidated) && gHooks.setCDReg) gHooks.setCDReg(0);
    if (clipped) WRestoreClip(&savedClip);
    if (gFlushDrawing) DFlush();
  }
  WRestore(&port);
  if (reply & kReplyMemFull) {
    DBPrintf("!!! not enough memory for oDisplayVal to complete");
    MemFullReset();
  }
  if (reply & kReplyResized) PanelInvalBounds(heap);
  return kNoErr;
}

bool DDODisplayPrologue(ObjHeap heap, int32 object, const void* old, const void* value, int32* reply) {
  *reply = 0;
  if (!value) {
    DBAssert(kSourceFile, __LINE__, "oDisplayVal: no value to display");
    return false;
  }
  if (!IsObject(heap, object) || Hidden(heap, object)) return false;
  const bool greyed = Greyed(heap, object);
  const uInt16 range = RangeWord(heap, object);
  if ((range & kRangeChecked) && !(range & kRangeKeepState)) {
    DisplaySwitchScope defer(gDeferDrawing, greyed ? 1 : gDeferDrawing);
    *reply |= UpdateRangeFlags(heap, object, value);
  }
  if (old) {
    const TypeDescriptor* td = DisplayType(heap, object);
    const int32 size = td ? DataSize(td) : 0;
    if (size > 0 && std::memcmp(old, value, size_t(size)) == 0) return false;
  }
  if (greyed || gDeferDrawing) {
    OInval(heap, object, kInvalValue);
    *reply |= kReplyInvalidated;
    return false;
  }
  return true;
}

// ---- The containers -------------------------------------------------------------------------

int32 FPODisplayValMethod(ObjHeap heap, int32 panel, const void*, const void*) {
  const UHandle ds = PanelData(heap, "FPODisplayValMethod: the panel has no data space");
  if (!ds || !IsObject(heap, panel) || OHBlockSize(heap, panel) < 4 * (kElementListWord + 1)) return 0;
  const int32 list = ObjWord(heap, panel, kElementListWord);
  int32 reply = 0;
  for (int32 i = 0, n = PanelListCount(heap, list); i < n; ++i) {
    const int32 controller = ObjWord(heap, panel, kElementListWord) == list ? ObjListGet(heap, list, i) : 0;
    if (!IsObject(heap, controller) || ObjClass(heap, controller) != kClsFPDataController) continue;
    const TypeDescriptor* td = PanelTypeOf(heap, DCOTypeID(heap, controller));
    const int32 record = ObjWord(heap, controller, kPWDCORecord);
    if (!td || record <= 0) continue;
    const int32 at = AlignDatum(td, record + kRecordHeadBytes);
    if (!PanelInData(ds, at, DataSize(td))) continue;
    reply |= oDisplayVal(heap, controller, 0, *ds + at);
  }
  return reply;
}

int32 DCOODisplayValMethod(ObjHeap heap, int32 controller, const void* old, const void* value) {
  if (!value) {
    DBAssert(kSourceFile, __LINE__, "DCOODisplayValMethod: no value to display");
    return 0;
  }
  // The controller checked and sized by one read of its block's header,
  // which also tells whether it holds its range word.
  int32 usable = 0;
  if (controller <= 0 || !OHUsedBlockInfo(heap, controller, &usable, nullptr) ||
      usable < std::max(int32(sizeof(ObjLeadingFields)), int32(4 * (kPWDCORecord + 1))))
    return 0;
  const int32 control = ObjWord(heap, controller, kPWDCODisplay);
  if (!IsObject(heap, control)) return 0;
  SetKeepState(heap, control, false);
  const uInt16 range = usable >= kRangeWordByte + 2 ? GetNative16(*heap + controller + kRangeWordByte) : 0;
  if ((range & kRangeModeMask) == kRangeChecked) {
    // The value's range state as the diagram left it in the record's head.
    const UHandle ds = PanelData(heap, "DCOODisplayValMethod: the panel has no data space");
    const int32 record = ObjWord(heap, controller, kPWDCORecord);
    if (PanelInData(ds, record, kRecordHeadBytes)) {
      const uInt16 before = RangeWord(heap, controller);
      const uInt16 now = uInt16((before & ~kRangeStateMask) |
                                (GetNative32(*ds + record + kRecordRangeWord) & kRangeStateMask));
      SetRangeWord(heap, controller, now);
      if (CompareRangeState(before, now) == 2) SetKeepState(heap, control, true);
    }
  }
  const int32 reply = oDisplayVal(heap, control, Addr(old), value);
  SetKeepState(heap, control, false);
  return reply;
}

int32 ClusterODisplayValMethod(ObjHeap heap, int32 cluster, const void* old, const void* value) {
  if (!value) {
    DBAssert(kSourceFile, __LINE__, "ClusterODisplayValMethod: no value to display");
    return 0;
  }
  if (!IsObject(heap, cluster) || Hidden(heap, cluster)) return 0;
  const TypeDescriptor* td = DisplayType(heap, cluster);
  if (!td || td->code != kTDCluster) return 0;
  if (old && std::memcmp(old, value, size_t(DataSize(td))) == 0) return 0;
  const int32 content = FindPart(heap, cluster, kPartContent, 0);
  if (!IsObject(heap, content)) return 0;
  const Rect limit = BoundsOf(heap, content);
  Rect savedClip;
  WLimitClip(&limit, &savedClip);
  DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, cluster) ? 1 : gDeferDrawing);
  const auto* o = static_cast<const uChar*>(old);
  const auto* v = static_cast<const uChar*>(value);
  const int32 list = OHBlockSize(heap, cluster) >= 4 * (kElementListWord + 1) ? ObjWord(heap, cluster, kElementListWord) : 0;
  const int32 n = std::min(PanelListCount(heap, list), ElementCount(td));
  int32 reply = 0, at = 0;
  bool resized = false;
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* etd = ElemTD(td, i);
    at = AlignDatum(etd, at);
    const int32 element = ObjListGet(heap, list, i);
    if (IsObject(heap, element)) {
      CopyKeepState(heap, cluster, element);
      const int32 r = oDisplayVal(heap, element, o ? Addr(o + at) : 0, v + at);
      SetKeepState(heap, element, false);
      resized = resized || (r & kReplyResized);
      reply |= r;
    }
    at += DataSize(etd);
  }
  WRestoreClip(&savedClip);
  if (resized && ClusterFitFrame(heap, cluster, 0)) reply |= kReplyResized;
  if (RangeCheckedData(heap, cluster)) reply = RangeCheckDataReply(heap, cluster, value, reply);
  return reply;
}

namespace {

// The values the cells show: ArrayDisplayEltPtr, with the control's type
// and its indexes handle looked up at the first lookup of the walk instead
// of at every cell (where a lookup fails, each later cell looks up and
// reports as before).
class CellValues {
 public:
  CellValues(ObjHeap heap, int32 array) : heap_(heap), array_(array) {}
  UPtr Of(UHandle handle) {
    if (!handle) return nullptr;
    switch (state_) {
      case kUnknown:
        if (!ArrayDisplayEltTypeOf(heap_, array_, &type_)) {
          state_ = kNoType;
          return nullptr;
        }
        indexes_ = ArrayDisplayIndexes(heap_, array_, type_);
        state_ = indexes_ ? kKnown : kNoIndexes;
        return indexes_ ? ArrayDisplayEltPtrAt(heap_, array_, type_, indexes_, &handle, 0) : nullptr;
      case kKnown: return ArrayDisplayEltPtrAt(heap_, array_, type_, indexes_, &handle, 0);
      case kNoIndexes: return ArrayDisplayEltPtrOfType(heap_, array_, type_, &handle, 0);
      default: return ArrayDisplayEltPtr(heap_, array_, &handle, 0);
    }
  }

 private:
  ObjHeap heap_;
  int32 array_;
  enum { kUnknown, kKnown, kNoIndexes, kNoType } state_ = kUnknown;
  ArrayDisplayEltType type_{};
  UHandle indexes_ = nullptr;
};
int32 DefaultElementOffset(ObjHeap heap, int32 array, UHandle ds) {
  return ArrayDefaultElementOffset(heap, array, ds, kSourceFile, __LINE__,
                                   "ArrayODisplayValMethod: the array has no selection record");
}

// The walk of the array's element over the visible cells (steps 3 to 8).
int32 WalkCells(ObjHeap heap, int32 array, const void* old, const void* value) {
  const int32 content = FindPart(heap, array, kPartContent, 0);
  if (!IsObject(heap, content)) return 0;
  if (Flags(heap, content) & kObjFlagNoDrawInPlace) {
    OInval(heap, content, kInvalValue);
    return kReplyInvalidated;
  }
  const int32 element = ObjWord(heap, array, kPWArrayElement);
  if (!IsObject(heap, element) || ObjWord(heap, element, kPWOwner) != array || element == array) return 0;
  DisplaySwitchScope force(gForceDisplay, 1);
  const uInt32 flags = Flags(heap, array);
  const bool wide = flags & kArrayWideCells, selection = flags & kArrayShowsSelection;
  const Rect first = ArrayCellRect(heap, element, wide);
  const int32 pitchV = first.bottom - first.top, pitchH = first.right - first.left;
  CopyKeepState(heap, array, element);
  // Cleared after each cell's display, set only when the array's was.
  const bool keeps = RangeWord(heap, element) & kRangeKeepState;
  const UHandle ds = PanelData(heap, "ArrayODisplayValMethod: the panel has no data space");
  const int32 defaultAt = DefaultElementOffset(heap, array, ds);
  if (defaultAt < 0) return 0;
  UHandle oldArray = nullptr, newArray = nullptr;
  if (old) std::memcpy(&oldArray, old, sizeof oldArray);
  std::memcpy(&newArray, value, sizeof newArray);
  const WindowRef window = WindowRef(opmeth::ExtWord(heap, kHeapExtWindow));
  const TRecord pending = TRecord(uintptr_t(opmeth::ExtWord(heap, kHeapExtStashedText)));

  const CellWalkSaved saved = BeginCellWalk();

  ArrayGrid g = ArrayGridOf(heap, array);
  const int32 visits = g.rows * g.columns;
  const Rect area = BoundsOf(heap, content);
  int32 reply = 0, textRow = -1, textColumn = -1;
  Rect cell = first;
  CellValues values(heap, array);
  for (int32 visit = 1; visit <= visits; ++visit) {
    if (++g.column >= g.columns) {
      g.column = 0;
      if (++g.row >= g.rows) g.row = 0;
    }
    const Rect at = BoundsOf(heap, element);
    const int32 dv = area.top + g.row * pitchV - at.top, dh = area.left + g.column * pitchH - at.left;
    if (dv || dh)
      OOffsetObj(heap, element, Point{int16(std::clamp(dv, -32768, 32767)), int16(std::clamp(dh, -32768, 32767))});
    SetArrayShownCell(heap, array, g.row, g.column);
    if (visit == visits) EndCellWalk(saved);
    cell = ArrayCellRect(heap, element, wide);
    const DColor background = PartBackColour(heap, content);
    const UPtr now = values.Of(newArray);
    // The same handle shows the same cell: looked up once.
    const UPtr before = !old ? nullptr : oldArray == newArray ? now : values.Of(oldArray);
    const UPtr shown = now ? now : *ds + defaultAt;
    if (!now != !before) {
      if (background == kTransparentColor || gDeferDrawing) {
        OInval(heap, element, kInvalAll);
        reply |= kReplyInvalidated;
      } else {
        DSelectNormPen(background, kWhite);
        DPaintRect(&cell);
        if (!Hidden(heap, element)) ODrawObj(heap, element, Addr(shown), 0, 4);
        if (before) GreyArrayCell(cell, background);
      }
    } else if (gDeferDrawing) {
      OInval(heap, element, kInvalValue);
      reply |= kReplyInvalidated;
    } else if (!(old && !now)) {
      if (selection && ArrayEltLayout(heap, array, ds) == 0) {
        // A selection frame left on a cell that is no longer selected.
        if (!wide) {
          ODrawObj(heap, element, Addr(shown), 0, 4);
        } else if (background != kTransparentColor) {
          DSelectNormPen(background, kBlack);
          DFrameRect(&cell);
        } else if (window) {
          WInvalRect(window, &cell);
        }
      }
      reply |= oDisplayVal(heap, element, Addr(before), shown);
      if (!before) GreyArrayCell(cell, background);
      if (keeps) SetKeepState(heap, element, false);
    }
    if (selection) DrawCellSelection(heap, array, ds, cell);
    if (pending && textRow < 0) textRow = g.row, textColumn = g.column;
  }
  if (pending && textRow >= 0) {
    // The text being edited follows the element back to its cell.
    FollowPendingText(heap, element, pending, (g.column - textColumn) * pitchH, (g.row - textRow) * pitchV, cell);
  }
  return reply;
}

}  // namespace

int32 ArrayODisplayValMethod(ObjHeap heap, int32 array, const void* old, const void* value) {
  if (!value) {
    DBAssert(kSourceFile, __LINE__, "ArrayODisplayValMethod: no value to display");
    return 0;
  }
  if (!IsObject(heap, array) || OHBlockSize(heap, array) < int32(sizeof(PanelArrayRec)) || Hidden(heap, array))
    return 0;
  DisplaySwitchScope defer(gDeferDrawing, Greyed(heap, array) ? 1 : gDeferDrawing);
  int32 reply = WalkCells(heap, array, old, value);
  if (RangeCheckedData(heap, array)) reply = RangeCheckDataReply(heap, array, value, reply);
  return reply;
}

ObjMethodAddr ODisplayValMethodFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel: return reinterpret_cast<ObjMethodAddr>(&FPODisplayValMethod);
    case kClsFPDataController: return reinterpret_cast<ObjMethodAddr>(&DCOODisplayValMethod);
    case kClsCluster: return reinterpret_cast<ObjMethodAddr>(&ClusterODisplayValMethod);
    case kClsArray: return reinterpret_cast<ObjMethodAddr>(&ArrayODisplayValMethod);
    default: return CtrlODisplayValMethodFor(cls);
  }
}

std::atomic<decltype(PanelDisplayObservers::property)> gPanelPropertyObserver{nullptr};

void PanelObserveProperty(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                          int32 property, void* value) {
  if (auto observe = gPanelPropertyObserver.load())
    observe(heap, object, types, typeOffset, read, last, property, int32(uintptr_t(value)));
}
