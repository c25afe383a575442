#include "shell/statepnl.h"

#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"

namespace {

VIWindMetrics gMetrics = {16, 20};

const uChar kUseWindowMenuBarsKey[] = "\x11" "useWindowMenuBars";

uInt32 ExtWord(ObjHeap panel, int32 at) {
  const int32 ext = int32(OHWord(panel, kOHExtension));
  return ext > 0 ? GetNative32(*panel + ext + at) : 0;
}

// The kinds the tool bar tells apart besides controls.
constexpr int16 kKindGlobal = 4, kKindFive = 5;

// Execution states and the VI's words the slots read.
enum : uInt32 {
  kTextEntryFlag = 0x80000,      // panel heap header: text entry under way
  kRootRangeError = 0x20000,     // root object flags: bit 17
  kW2Paused = 0x40, kW2Stepping = 0x80, kW2PauseAllowed = 0x200, kW2RunContinuously = 0x400,
  kW2Retrieval = 0x800, kW2Confirm = 0x400000, kW2Customize = 0x4000000,
  kDSDoNotPause = 0x10,          // the panel data space's flags
};
// The tool-bar option word: buttons left out.
enum : uInt16 { kNoRun = 1, kNoPause = 8, kNoRunContinuously = 32, kNoAbort = 128 };

struct SlotState {
  const VIRecord* vi;
  ObjHeap panel;
  uInt32 e;       // execution state
  int16 kind;
  uInt32 w;       // flags2
  uInt16 o;       // tool-bar options
  bool r17;       // a data range error on the panel
  bool frontPanel;
  DataSpace ds;   // the data space the panel shows
};

bool ShowsFirstDataSpace(const SlotState& s) {
  return s.ds && reinterpret_cast<UHandle>(s.ds) == s.vi->dataSpace;
}

int32 Slot1(const SlotState& s) {
  if (s.w & kW2Confirm) return ExtWord(s.panel, kHeapExtConfirm) ? 10 : 51;
  if (s.w & kW2Retrieval) return s.frontPanel ? 45 : 51;
  if (s.kind == kVIKindControl || s.kind == kKindGlobal) return s.e == 0 ? 44 : s.e == 4 ? 2 : 43;
  if (s.kind == kKindFive) return 40;
  if (((s.o & kNoRun) && s.e != 0 && s.e != 7) || s.vi->panelHeap != s.panel || !ExtWord(s.panel, kHeapExtWindow))
    return 51;
  switch (s.e) {
    case 0: return 4;
    case 1: return s.r17 ? 5 : 0;
    case 2: case 9: return (s.w & kW2Stepping) ? 50 : 1;
    case 4: return 2;
    case 5: return ShowsFirstDataSpace(s) ? 18 : 2;
    case 6: case 14: return 19;
    case 7: return s.r17 ? 5 : 18;
    case 8: case 12: return (s.w & kW2Stepping) ? 19 : 3;
    case 13:
      if (ShowsFirstDataSpace(s)) return 18;
      // A caller is inside the VI: it runs as a subVI, else it waits.
      return s.ds && *s.ds && reinterpret_cast<const DataSpaceHeader*>(*s.ds)->busy ? 3 : 2;
    default: return 51;
  }
}

int32 Slot2(const SlotState& s) {
  // The confirm record's value lists are not compared here: a panel in
  // confirm mode shows its plain confirm image.
  if (s.w & kW2Confirm) return ExtWord(s.panel, kHeapExtConfirm) ? 17 : 52;
  if (s.kind == kVIKindControl) return (s.w & kW2Customize) ? 23 : 22;
  // The retrieval display's deletion marks belong to the datalog display:
  // the current record shows as kept.
  if (s.w & kW2Retrieval) return s.frontPanel ? 20 : 52;
  if (s.e == 7) return 49;
  if (s.e == 9) return 48;
  if ((s.o & (kNoRun | kNoRunContinuously)) || (s.e & 4) || s.r17) return 52;
  return (s.w & kW2RunContinuously) ? 7 : 6;
}

int32 Slot4(const SlotState& s) {
  if ((s.w & kW2Retrieval) || (s.o & kNoPause) || !(s.w & kW2PauseAllowed) || (s.vi->flags & 0x20)) return 55;
  if (s.w & kW2Paused) return (s.w & kW2Stepping) ? 47 : 16;
  const bool doNotPause = s.ds && *s.ds && (reinterpret_cast<const DataSpaceHeader*>(*s.ds)->dsFlags & kDSDoNotPause);
  return doNotPause ? 46 : 15;
}

}  // namespace

int32 StatePnlSlotIcon(ObjHeap panel, int32 slot) {
  UHandle owner = panel && *panel ? reinterpret_cast<UHandle>(uintptr_t(ExtWord(panel, kHeapExtOwner))) : nullptr;
  if (slot < 0 || slot > 8 || !owner || !*owner) {
    DBPrintf("slot #%lx", uInt32(slot));
    return -1;
  }
  SlotState s{};
  s.vi = reinterpret_cast<const VIRecord*>(*owner);
  s.panel = panel;
  s.e = s.vi->eState & kVIStateMask;
  s.kind = s.vi->viKind;
  s.w = s.vi->flags2;
  s.o = s.vi->stored84;
  const int32 root = int32(ExtWord(panel, kHeapExtRoot));
  s.r17 = root > 0 && (GetNative32(*panel + root) & kRootRangeError);
  s.frontPanel = OHWord(panel, kOHKind) == kPanelHeapKind;
  if (s.frontPanel && root > 0 && OHBlockSize(panel, root) >= 4 * (kPanelRootDataSpaceWord + 1))
    s.ds = reinterpret_cast<DataSpace>(uintptr_t(GetNative32(*panel + root + 4 * kPanelRootDataSpaceWord)));
  switch (slot) {
    case 0:
      // The retrieval display's record field is the datalog display's: its
      // edited state is not read here.
      return (OHWord(panel, kOHFlags) & kTextEntryFlag) ? 39 : 59;
    case 1: return Slot1(s);
    case 2: return Slot2(s);
    case 3: return (s.w & kW2Retrieval) ? (s.frontPanel ? 24 : 54) : ((s.o & kNoAbort) ? 54 : 37);
    case 4: return Slot4(s);
    default: return 53 + (slot == 5 ? 0 : slot - 3);  // 53, 56, 57, 58: blank
  }
}

void VIWindSetMetrics(const VIWindMetrics* metrics) {
  gMetrics = metrics ? *metrics : VIWindMetrics{16, 20};
  if (gMetrics.vScrollWidth < 8) gMetrics.vScrollWidth = 8;
}

int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon) {
  const Rect none{0, 0, 0, 0};
  if (pane) *pane = none;
  if (icon) *icon = none;
  if (!panel || !*panel || OHWord(panel, kOHExtension) == 0) return 0;
  const int32 ext = int32(OHWord(panel, kOHExtension));
  const int32 parts = GetNative16(*panel + ext + kHeapExtWindowParts);
  if (!(parts & kVIWindIconPane)) return 0;
  Rect c;
  std::memcpy(&c, *panel + ext + kHeapExtContentRect, sizeof c);
  const int32 toolBar = (parts & kVIWindMenuBar) ? 21 : 34;
  Bool32 windowMenuBars = 1;
  CfgGetDefault(kCfgBool, kUseWindowMenuBarsKey, &windowMenuBars);
  const int32 menuBar = windowMenuBars ? gMetrics.menuBarHeight : 34 - toolBar;
  int32 height = ((parts & kVIWindMenuBar) ? menuBar : 0) + ((parts & kVIWindToolBar) ? toolBar + 1 : 0);
  if (height < 34) height = 35;
  Rect p;
  p.top = int16(c.top - height);
  p.bottom = (c.top >= c.bottom || c.left >= c.right) ? int16(c.bottom + 1) : c.top;
  p.right = int16(c.right + ((parts & kVIWindVScroll) ? gMetrics.vScrollWidth - 1 : 0));
  p.left = int16(p.right - 35);
  if (pane) *pane = p;
  if (icon) {
    icon->top = int16(p.top + (height - 33) / 2);
    icon->left = int16(p.left + 2);
    icon->bottom = int16(icon->top + 32);
    icon->right = int16(icon->left + 32);
  }
  return 1;
}

void ShellInstallPanelRoutineHooks() {
  PanelRoutineHooks h = PanelRoutines();
  h.statePnlSlotIcon = &StatePnlSlotIcon;
  h.iconPaneRect = [](ObjHeap panel, Rect* pane, Rect* icon) { VIWindIconPaneRect(panel, pane, icon); };
  SetPanelRoutineHooks(&h);
}
