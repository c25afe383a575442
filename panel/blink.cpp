// Blinking of panel objects: the blink entry, the panels' blink lists, the
// root-window timer that toggles the phase, and the classes' OBlink methods
// that draw an object's normal or blink look.
#include "panel/blink.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/prefs.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/ctrldraw.h"

namespace {

// Reports name this source.
const char kSource[] = "blink";

// The entry and every panel's blink list are read and changed under this
// mutex.  Lock order: it is taken after the drawing mutex (draw code asks
// BlinkPartState while its window is set up) and before the memory
// manager's master-pointer lock (a list that grows resizes the heap inside
// it).  Nothing else is called while it is held: timers, reports, drawing
// and object messages all come after it is released.
std::mutex gMutex;
BlinkEntry gEntry{0, 0, kBlinkPhaseNormal};
BlinkControlHooks gControls{};

// VI kind and run-state bits under which a panel blinks.
constexpr int16 kBlinkVIKind = kVIKindDatalog;
constexpr uInt32 kVIRunningBits = 0x2 | 0x8;
// Object flag bit 2: the overlap mark.
constexpr uInt32 kObjFlagOverlap = 0x4;
constexpr DColor kTransparent = 0x1000000;
// Parts the listbox and graph methods work on.
constexpr int32 kPartListboxRows = 26, kPartPlotArea = 28;
// The table's state in the panel data space: 16 words; the active cell's row
// and column are words 12 and 13, the cell-look list's handle word 14.
constexpr int32 kTableStateBytes = 64, kTableActiveRow = 44, kTableActiveColumn = 48, kTableCellLooks = 52;

void Assert(int32 line, const char* text) { DBAssert(kSource, line, text); }

bool IsFrontPanel(ObjHeap heap) {
  return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind && OHWord(heap, kOHExtension) != 0;
}
int32 Ext(ObjHeap heap, int32 at) { return int32(GetNative32(*heap + OHWord(heap, kOHExtension) + at)); }
void SetExt(ObjHeap heap, int32 at, int32 v) { PutNative32(*heap + OHWord(heap, kOHExtension) + at, uInt32(v)); }

UHandle OwnerVI(ObjHeap heap) { return reinterpret_cast<UHandle>(uintptr_t(uInt32(Ext(heap, kHeapExtOwner)))); }
bool VIBlinks(ObjHeap heap) {
  UHandle vi = OwnerVI(heap);
  return vi && *vi && VIRec(vi)->viKind == kBlinkVIKind;
}
bool VIRunning(ObjHeap heap) {
  UHandle vi = OwnerVI(heap);
  return vi && *vi && (VIRec(vi)->eState & kVIRunningBits);
}

// The panel's blink list when its word names a list block that holds its
// count; 0 otherwise.  Under the mutex.
int32 ListOf(ObjHeap heap) {
  const int32 list = Ext(heap, kHeapExtBlinkList);
  const int32 end = int32(OHWord(heap, kOHEndOffset));
  if (list < int32(kOHHeaderSize + kOHBlockHeader) || list > end - 4 || OHBlockClass(heap, list) != kClsList) return 0;
  const int32 count = ObjListCount(heap, list);
  return count >= 0 && count <= (OHBlockSize(heap, list) - 4) / 4 ? list : 0;
}
bool InList(ObjHeap heap, int32 object) {
  const int32 list = ListOf(heap);
  return list && object && OHListFind(heap, list, object) >= 0;
}

// The interval in ms; a negative "blinkSpeed" (from a hand-edited file)
// counts as 0, as the preferences dialog stores it.
int32 Speed() {
  const int32 ms = PrefGet(kPrefBlinkSpeed);
  return ms > 0 ? ms : 0;
}

// ---- The classes that blink -------------------------------------------------------
enum class Look { kValue, kTable, kListbox, kGraph, kPlain };
typedef void (*ValueDraw)(ObjHeap, int32, void*, int32);
template <int32 (*F)(ObjHeap, int32, const void*, int32, Bool32)>
void Draw(ObjHeap heap, int32 object, void* data, int32 state) {
  F(heap, object, data, state, 0);
}
void DrawSlide(ObjHeap heap, int32 object, void* data, int32 state) { DrawSlideValue(heap, object, data, state, 0, 0); }

struct BlinkClass {
  int16 cls;
  int16 parts[4];  // zero-ended
  Look look;
  ValueDraw draw;
};
const BlinkClass kClasses[] = {
    {kClsBoolean, {21, 22, 25, 0}, Look::kValue, &Draw<DrawBooleanValue>},
    {kClsNumeric, {10, 41, 0}, Look::kValue, &Draw<DrawNumericValue>},
    {kClsColorBox, {10, 41, 0}, Look::kValue, &Draw<DrawNumericValue>},
    {kClsString, {11, 0}, Look::kValue, &Draw<DrawStringValue>},
    {kClsTag, {11, 0}, Look::kValue, &Draw<DrawStringValue>},
    {kClsRing, {10, 14, 12, 0}, Look::kValue, &Draw<DrawRingValue>},
    {kClsSlide, {8001, 23, 31, 0}, Look::kValue, &DrawSlide},
    {kClsKnob, {8001, 23, 31, 0}, Look::kValue, &DrawSlide},
    {kClsPath, {11, 0}, Look::kValue, &Draw<DrawPathValue>},
    {kClsTable, {8001, 0}, Look::kTable, nullptr},
    {kClsGraphChart, {8001, 0}, Look::kGraph, nullptr},
    {kClsColorRamp, {10, 41, 0}, Look::kValue, &Draw<DrawColorRampValue>},
    {kClsListbox, {0}, Look::kListbox, nullptr},
};
// Classes that blink by drawing or invalidating the whole object; they have
// no blink parts.
constexpr int16 kPlainClasses[] = {kClsDataDisplayObject, kClsPicture, kClsUserItem, kClsTypeDefinition};

const BlinkClass* ClassRow(int32 cls) {
  for (const BlinkClass& c : kClasses)
    if (c.cls == cls) return &c;
  return nullptr;
}
bool HasPart(const BlinkClass& c, int32 partId) {
  for (int16 p : c.parts) {
    if (!p) return false;
    if (p == partId) return true;
  }
  return false;
}
uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, kObjFlags / 4)); }
Rect Bounds(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
bool Hidden(ObjHeap heap, int32 object) { return Flags(heap, object) & kObjFlagHidden; }
// Step 1 of every method: a hidden object, or one outside the area being
// redrawn, is left alone.
bool Skipped(ObjHeap heap, int32 object, int32 area) {
  if (Hidden(heap, object)) return true;
  const Rect r = Bounds(heap, area);
  return !WNeedsDraw(&r);
}
// The blink parts of the object, in part-list order.
std::vector<int32> BlinkParts(ObjHeap heap, int32 object, const BlinkClass& c) {
  std::vector<int32> parts;
  ForEachPart(heap, object, [&](int32 part) {
    if (HasPart(c, ObjInt16(heap, part, kObjPartId))) parts.push_back(part);
  });
  return parts;
}
// Step 2: an overlapped object with an overlapped blink part is redrawn
// through the window's update instead of straight onto the window.
bool InvalidatedForOverlap(ObjHeap heap, int32 object, const BlinkClass& c) {
  if (!(Flags(heap, object) & kObjFlagOverlap)) return false;
  for (int32 part : BlinkParts(heap, object, c)) {
    if (Flags(heap, part) & kObjFlagOverlap) {
      OInval(heap, object, 0);
      return true;
    }
  }
  return false;
}
int32 StateFor(int32 mode) { return mode == kBlinkModeBlink ? kDrawStateBlink : kDrawStateNormal; }

// ---- OBlink methods (heap, object, data, mode) ------------------------------------------
int32 ValueOBlinkMethod(ObjHeap heap, int32 object, void* data, int32 mode) {
  const BlinkClass* c = ClassRow(ObjClass(heap, object));
  if (!c || !c->draw || Skipped(heap, object, object) || InvalidatedForOverlap(heap, object, *c)) return 0;
  if (mode == kBlinkModeBlink &&
      (uInt32(PrefGet(kPrefBlinkFG)) == kTransparent || uInt32(PrefGet(kPrefBlinkBG)) == kTransparent)) {
    // A transparent blink colour: the visible blink parts are drawn again
    // by the update, last part first.
    std::vector<int32> parts = BlinkParts(heap, object, *c);
    for (auto p = parts.rbegin(); p != parts.rend(); ++p)
      if (!Hidden(heap, *p)) OInval(heap, *p, 0);
    return 0;
  }
  c->draw(heap, object, data, StateFor(mode));
  return 0;
}

int32 TableOBlinkMethod(ObjHeap heap, int32 object, void* data, int32 mode) {
  const BlinkClass* c = ClassRow(kClsTable);
  if (Skipped(heap, object, object) || InvalidatedForOverlap(heap, object, *c)) return 0;
  if (gControls.tableDrawCells) gControls.tableDrawCells(heap, object, data, StateFor(mode));
  return 0;
}

int32 ListboxOBlinkMethod(ObjHeap heap, int32 object, void* data, int32 mode) {
  const int32 rows = FindPart(heap, object, kPartListboxRows, 0);
  if (!rows || Skipped(heap, object, rows)) return 0;
  if (gControls.listboxDrawScrollBar) gControls.listboxDrawScrollBar(heap, object, StateFor(mode), 1);
  if (gControls.listboxApplySelection) gControls.listboxApplySelection(heap, object, data, 1);
  return 0;
}

int32 GraphOBlinkMethod(ObjHeap heap, int32 object, void* data, int32 mode) {
  const BlinkClass* c = ClassRow(kClsGraphChart);
  if (Skipped(heap, object, object) || InvalidatedForOverlap(heap, object, *c)) return 0;
  const int32 plot = FindPart(heap, object, kPartPlotArea, 0);
  const int32 kind = OHBlockSize(heap, object) >= kPanelGraphRecSize
                         ? int32(uInt16(ObjInt16(heap, object, kPanelGraphKindByte)))
                         : 0;
  const bool invalidates = kind == 3 || kind == 4 || (kind >= 104 && kind <= 106);
  if (invalidates && mode == kBlinkModeBlink) {
    OInval(heap, plot ? plot : object, 0);
    return 0;
  }
  const int32 state = invalidates ? kDrawStateNormal : StateFor(mode);
  if (gControls.drawPlotArea) gControls.drawPlotArea(heap, object, data, 1, plot, state, 1);
  return 0;
}

int32 DDOOBlinkMethod(ObjHeap heap, int32 object, void* data, int32 mode) {
  if (Hidden(heap, object)) return 0;
  if (mode == kBlinkModeNormal) {
    ODraw(heap, object, data, 0, kDrawStatePlain);
  } else if (mode == kBlinkModeBlink) {
    OInval(heap, object, 0);
  } else {
    Assert(__LINE__, "OBlink: unknown mode");
  }
  return 0;
}

// Sends OBlink to each object of the panel's list; whether any was sent.
bool BlinkList(ObjHeap heap, int32 mode) {
  if (!IsFrontPanel(heap)) {
    Assert(__LINE__, "blinking a heap that is not a front panel");
    return false;
  }
  std::vector<int32> objects;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (const int32 list = ListOf(heap))
      for (int32 i = 0; i < ObjListCount(heap, list); ++i) objects.push_back(ObjListGet(heap, list, i));
  }
  if (objects.empty()) return false;
  Rect content;
  std::memcpy(&content, *heap + OHWord(heap, kOHExtension) + kHeapExtContentRect, sizeof content);
  if (content.bottom <= content.top || content.right <= content.left) {
    Assert(__LINE__, "blinking a panel with an empty content rectangle");
    return false;
  }
  WPortState saved;
  WSetup(WindowRef(Ext(heap, kHeapExtWindow)), &saved);
  Rect savedClip;
  WSetClipRect(&content, &savedClip);
  bool sent = false;
  for (int32 object : objects) {
    if (!object || !OHIsUsedBlock(heap, object)) continue;
    const int32 owner = ObjWord(heap, object, kPWOwner);
    if (!owner || !OHIsUsedBlock(heap, owner)) continue;
    void* data = reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, owner, object, kDataPtrPlain, nullptr))));
    if (!data) continue;
    OBlink(heap, object, data, mode);
    sent = true;
  }
  WRestoreClip(&savedClip);
  WRestore(&saved);
  return sent;
}

// The table's state in the panel data space, null when it has none.
UPtr TableState(ObjHeap heap, int32 table) {
  if (OHBlockSize(heap, table) < 4 * (kPWTableData + 1)) return nullptr;
  const int32 at = ObjWord(heap, table, kPWTableData);
  UHandle* ds = at > 0 ? FPGetDataSpace(heap) : nullptr;
  if (!ds || !*ds || !**ds || int64(at) + kTableStateBytes > DSGetHandleSize(*ds)) return nullptr;
  return **ds + at;
}
// Whether any cell look of the table still carries the blink marker.
bool TableHasBlinkingCell(ObjHeap heap, int32 table) {
  UPtr state = TableState(heap, table);
  UHandle looks = state ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(state + kTableCellLooks))) : nullptr;
  if (!looks || !*looks) return false;
  const int32 size = DSGetHandleSize(looks);
  const int32 count = size >= 4 ? int32(GetNative32(*looks)) : 0;
  if (count < 0 || int64(count) * int32(sizeof(TableCellFontRec)) > size - 4) return false;
  for (int32 i = 0; i < count; ++i) {
    TableCellFontRec r;
    std::memcpy(&r, *looks + 4 + i * int32(sizeof r), sizeof r);
    if ((r.mask & kCellLookBlink) && r.blink == kCellBlinking) return true;
  }
  return false;
}

}  // namespace

// ---- The entry and the lists ------------------------------------------------------------
void BlinkInit() {
  std::lock_guard<std::mutex> lock(gMutex);
  gEntry = BlinkEntry{0, 0, kBlinkPhaseNormal};
}

BlinkEntry BlinkState() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gEntry;
}

void BlinkAddHeap(ObjHeap panelHeap) {
  if (!IsFrontPanel(panelHeap)) {
    Assert(__LINE__, "BlinkAddHeap: not a front-panel heap");
    return;
  }
  std::lock_guard<std::mutex> lock(gMutex);
  if (const int32 list = ListOf(panelHeap)) gEntry.count += ObjListCount(panelHeap, list);
}

int32 BlinkFindObject(ObjHeap panelHeap, int32 object) {
  if (!IsFrontPanel(panelHeap) || !VIBlinks(panelHeap)) return 0;
  std::lock_guard<std::mutex> lock(gMutex);
  return InList(panelHeap, object) ? kBlinkEntry : 0;
}

int32 ObjIsBlinking(ObjHeap panelHeap, int32 object) { return BlinkFindObject(panelHeap, object); }

Bool32 HeapHasBlinkers(ObjHeap panelHeap) {
  if (!IsFrontPanel(panelHeap) || !VIBlinks(panelHeap)) return 0;
  std::lock_guard<std::mutex> lock(gMutex);
  const int32 list = ListOf(panelHeap);
  return list && ObjListCount(panelHeap, list) > 0;
}

int32 PanelCanBlink(ObjHeap panelHeap) { return IsFrontPanel(panelHeap) && VIBlinks(panelHeap) ? 1 : 0; }

MgErr SetObjBlinking(ObjHeap panelHeap, int32 object, int32 value) {
  if (!IsFrontPanel(panelHeap) || !object || !OHIsUsedBlock(panelHeap, object)) {
    Assert(__LINE__, "SetObjBlinking: not an object of a front-panel heap");
    return kArgErr;
  }
  const bool start = value > 0;
  if (ObjClass(panelHeap, object) == kClsTable) {
    // A table blinks by cells: its active cell (or every cell) is marked.
    TableCellFontRec look{};
    look.row = look.column = -2;
    if (UPtr state = TableState(panelHeap, object)) {
      look.row = int32(GetNative32(state + kTableActiveRow));
      look.column = int32(GetNative32(state + kTableActiveColumn));
    }
    look.blink = start ? kCellBlinking : 0;
    look.mask = kCellLookBlink;
    if (gControls.tableSetCellFont) gControls.tableSetCellFont(panelHeap, object, &look, kCellLookBlink, 0);
    if (!start && TableHasBlinkingCell(panelHeap, object)) return kNoErr;
  }
  if (start && !VIBlinks(panelHeap)) {
    Assert(__LINE__, "SetObjBlinking: the panel's VI does not blink");
    return kArgErr;
  }
  bool failed = false, startTimer = false, removed = false, negative = false;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    const int32 before = gEntry.count;
    bool changed = false;
    if (start) {
      int32 list = ListOf(panelHeap);
      if (!InList(panelHeap, object)) {
        if (!list && !(list = OHNewBlock(panelHeap, kObjListNewSize, kObjClassList))) {
          failed = true;
        } else if (OHListInsert(panelHeap, &list, object, kObjListAppend) != kNoErr) {
          failed = true;
        } else {
          ++gEntry.count;
          changed = true;
        }
        if (list) SetExt(panelHeap, kHeapExtBlinkList, list);
      }
      startTimer = before == 0 && gEntry.count > 0;
    } else if (const int32 list = ListOf(panelHeap); list && ObjListRemove(panelHeap, list, object)) {
      // Only an object that was in the list lowers the count: stopping one
      // that does not blink leaves the others blinking.
      removed = changed = true;
      if (gEntry.count > 0) --gEntry.count;
      else negative = true;
    }
    if (changed && gEntry.count == 0) gEntry.stopRequested = 1;
  }
  if (failed) Assert(__LINE__, "SetObjBlinking: the blink list cannot grow");
  if (negative) Assert(__LINE__, "SetObjBlinking: the blink count is not positive");
  if (removed) OInval(panelHeap, object, 0);
  if (startTimer) BlinkStartTimer(kBlinkEntry);
  return failed ? kMemFullErr : kNoErr;
}

// ---- The timer --------------------------------------------------------------------------
void BlinkStartTimer(int32 n) {
  if (n != kBlinkEntry) {
    Assert(__LINE__, "BlinkStartTimer: not the blink entry");
    return;
  }
  bool none;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    none = gEntry.count < 1;
    if (!none) gEntry.stopRequested = 0;
  }
  if (none) {
    Assert(__LINE__, "BlinkStartTimer: no object blinks");
    return;
  }
  WStartTimer(kWRootWindow, Speed(), kBlinkTimerId);
}

void BlinkTimerEvent(int32 timerId) {
  const int32 entry = timerId - 200;
  if (entry < 0 || entry > 199) {
    Assert(__LINE__, "BlinkTimerEvent: not a blink timer");
    return;
  }
  bool kill = false, stop = false;
  int32 mode = kBlinkModeNormal;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gEntry.stopRequested) {
      gEntry.stopRequested = 0;
      kill = true;
      stop = gEntry.phase == kBlinkPhaseNormal;
    }
    if (!stop) {
      gEntry.phase = gEntry.phase == kBlinkPhaseNormal ? kBlinkPhaseBlink : kBlinkPhaseNormal;
      mode = gEntry.phase == kBlinkPhaseBlink ? kBlinkModeBlink : kBlinkModeNormal;
    }
  }
  if (kill) WKillTimer(kWRootWindow, timerId);
  if (stop) return;
  bool running = false;
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next) {
    ObjHeap heap = VIRec(vi)->panelHeap;
    if (VIRec(vi)->viKind != kBlinkVIKind || !(VIRec(vi)->eState & kVIRunningBits) || !heap) continue;
    running = true;
    const WindowRef window = IsFrontPanel(heap) ? WindowRef(Ext(heap, kHeapExtWindow)) : 0;
    if (!window || !WIsVisible(window)) continue;
    if (BlinkList(heap, mode)) {
      HeapStashText(heap, 0);
      WUpdate(window);
    }
  }
  if (running) WStartTimer(kWRootWindow, Speed(), timerId);
}

void BlinkRedrawHeap(ObjHeap panelHeap) {
  if (!IsFrontPanel(panelHeap)) {
    Assert(__LINE__, "BlinkRedrawHeap: not a front-panel heap");
    return;
  }
  const WindowRef window = WindowRef(Ext(panelHeap, kHeapExtWindow));
  if (!window) return;
  BlinkList(panelHeap, kBlinkModeNormal);
  WUpdate(window);
}

// ---- What the draw code asks ------------------------------------------------------------
Bool32 IsBlinkPart(ObjHeap panelHeap, int32 object, int32 partId) {
  const BlinkClass* c = panelHeap && *panelHeap && object ? ClassRow(ObjClass(panelHeap, object)) : nullptr;
  if (!c) {
    Assert(__LINE__, "IsBlinkPart: a class that does not blink");
    return 0;
  }
  return HasPart(*c, partId);
}

int32 BlinkPartState(ObjHeap panelHeap, int32 object, int32 drawState) {
  if (drawState == kDrawStateBlink || drawState == kDrawStateNormal) return drawState;
  if (drawState != kDrawStatePlain) {
    Assert(__LINE__, "BlinkPartState: not a draw state");
    return kDrawStatePlain;
  }
  if (!BlinkFindObject(panelHeap, object)) return kDrawStatePlain;
  const int16 phase = BlinkState().phase;
  if (phase == kBlinkPhaseBlink && VIRunning(panelHeap)) return kDrawStateBlink;
  return phase == kBlinkPhaseNormal ? kDrawStateNormal : kDrawStatePlain;
}

Bool32 PartOrderIsCurrent(ObjHeap panelHeap, int32 object, int32 part) {
  if (!panelHeap || !*panelHeap || !object || !part || OHBlockSize(panelHeap, object) < 4 * (kPWActiveElement + 1))
    return 0;
  return ObjInt16(panelHeap, part, kObjPartOrder) == ObjWord(panelHeap, object, kPWActiveElement);
}

ObjMethodAddr OBlinkMethodFor(int32 cls) {
  auto addr = [](int32 (*m)(ObjHeap, int32, void*, int32)) { return reinterpret_cast<ObjMethodAddr>(m); };
  for (int16 plain : kPlainClasses)
    if (plain == cls) return addr(&DDOOBlinkMethod);
  const BlinkClass* c = ClassRow(cls);
  if (!c) return nullptr;
  switch (c->look) {
    case Look::kTable: return addr(&TableOBlinkMethod);
    case Look::kListbox: return addr(&ListboxOBlinkMethod);
    case Look::kGraph: return addr(&GraphOBlinkMethod);
    default: return addr(&ValueOBlinkMethod);
  }
}

void SetBlinkControlHooks(const BlinkControlHooks& hooks) { gControls = hooks; }
const BlinkControlHooks& BlinkControlHooksInUse() { return gControls; }
