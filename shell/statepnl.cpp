#include "shell/statepnl.h"

#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "shell/viwindow.h"

namespace {

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
  RecordField record;  // the retrieval display (retrieval mode)
};

// A handle of the memory manager holding at least size bytes, or null.
const uChar* HandleBytes(UHandle h, int32 size) {
  return h && AZIsHandle(h) && *h && AZGetHandleSize(h) >= size ? *h : nullptr;
}

// Whether the values of the panel's confirm record differ from the saved
// ones (a record that is not a live handle compares equal).
bool ConfirmedValuesDiffer(ObjHeap panel) {
  UHandle rec = reinterpret_cast<UHandle>(uintptr_t(ExtWord(panel, kHeapExtConfirm)));
  const uChar* p = HandleBytes(rec, int32(sizeof(ConfirmRecord)));
  if (!p) return false;
  ConfirmRecord c;
  std::memcpy(&c, p, sizeof c);
  const int32 n = c.current && AZIsHandle(c.current) ? AZGetHandleSize(c.current) : -1;
  const int32 m = c.saved && AZIsHandle(c.saved) ? AZGetHandleSize(c.saved) : -1;
  if (n != m) return true;
  return n > 0 && std::memcmp(*c.current, *c.saved, size_t(n)) != 0;
}

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
  if (s.w & kW2Confirm) return !ExtWord(s.panel, kHeapExtConfirm) ? 52 : ConfirmedValuesDiffer(s.panel) ? 9 : 17;
  if (s.kind == kVIKindControl) return (s.w & kW2Customize) ? 23 : 22;
  // Delete or restore the record shown, by its deletion mark.
  if (s.w & kW2Retrieval) return !s.frontPanel ? 52 : s.record.mark ? 21 : 20;
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
  if ((s.w & kW2Retrieval) && s.frontPanel) VIRecordField(owner, &s.record);
  switch (slot) {
    case 0:
      if (OHWord(panel, kOHFlags) & kTextEntryFlag) return 39;
      // An edited record number offers to display its record.
      return (s.w & kW2Retrieval) && s.frontPanel && s.record.stamped && s.record.edited ? 38 : 59;
    case 1: return Slot1(s);
    case 2: return Slot2(s);
    case 3: return (s.w & kW2Retrieval) ? (s.frontPanel ? 24 : 54) : ((s.o & kNoAbort) ? 54 : 37);
    case 4: return Slot4(s);
    default: return 53 + (slot == 5 ? 0 : slot - 3);  // 53, 56, 57, 58: blank
  }
}

namespace {

// The slot of each image, 0 to 60.
constexpr int8_t kImageSlot[61] = {
    1, 1, 1, 1, 1, 1, 2, 2, 0, 2,  // 0-9
    1, 6, 7, 8, 1, 4, 4, 2, 1, 1,  // 10-19
    2, 2, 2, 2, 3, 3, 3, 4, 4, 6,  // 20-29
    6, 7, 7, 5, 5, 5, 5, 3, 0, 0,  // 30-39
    1, 8, 8, 1, 1, 1, 4, 4, 2, 2,  // 40-49
    1, 1, 2, 5, 3, 4, 6, 7, 8, 0,  // 50-59
    0,
};
// The slots' left edges; each is 20 x 19 pixels from its top of 1.
constexpr int16 kSlotLeft[9] = {4, 28, 47, 71, 90, 114, 138, 157, 176};

}  // namespace

int32 StatePnlImageSlot(int32 image) { return image >= 0 && image <= 60 ? kImageSlot[image] : -1; }

Rect StatePnlSlotRect(int32 slot) {
  if (slot < 0 || slot > 8) return Rect{0, 0, 0, 0};
  return Rect{1, kSlotLeft[slot], 20, int16(kSlotLeft[slot] + 20)};
}

void ShellInstallPanelRoutineHooks() {
  PanelRoutineHooks h = PanelRoutines();
  h.statePnlSlotIcon = &StatePnlSlotIcon;
  h.iconPaneRect = [](ObjHeap panel, Rect* pane, Rect* icon) { VIWindIconPaneRect(panel, pane, icon); };
  SetPanelRoutineHooks(&h);
}
