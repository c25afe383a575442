// The graph class's pop-up menu: its own items after the generic data
// display items (clearing, the autoscale switches, intensity colours, the
// chart update mode or smooth updates) and the "Show" sub-menu of its
// parts; the chosen command toggles the flag or the parts it names.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/graphintensity.h"
#include "controls/graphsupport.h"
#include "controls/graphzoom.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/ctrdoit.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

constexpr const char* kModule = "graphpopup";
// Item codes of string list 300.
enum : int32 {
  kItemDigitalDisplay = 28,
  kItemScrollbar = 21,
  kItemUpdateMode = 105,
  kItemXScale = 107,
  kItemYScale = 108,
  kItemLegend = 119,
  kItemPalette = 127,
  kItemAutoX = 150,
  kItemAutoY = 151,
  kItemAutoZ = 152,
  kItemZScale = 153,
  kItemClearGraph = 155,
  kItemClearChart = 156,
  kItemSmooth = 158,
  kItemUnitLabel = 173,
  kItemInterpolate = 184,
  kItemCursorDisplay = 187,
  kItemShow = 190,
  kItemIgnoreColours = 210,
  kItemScaleLegend = 300,
};
constexpr int32 kUpdateModeMenuId = 43;
constexpr uInt32 kFlagFullRepaint = 0x100000;  // bit 20
constexpr uInt32 kVIClearDisabled = 0x800;
constexpr uInt32 kGraphDocMod = 0x80000100;
constexpr int32 kReplyAppearance = 0x80, kReplyFailedBit = 0x10, kReplyUpdateNow = 0x20000;
constexpr int32 kPhaseRunQuiet = 3;

bool IsGraph(ObjHeap heap, int32 graph) {
  return heap && *heap && graph > 0 && OHIsUsedBlock(heap, graph) && OHBlockSize(heap, graph) >= kGraphObjectBytes &&
         GraphTypeOf(heap, graph) != -1;
}
uInt32 FlagsOf(ObjHeap heap, int32 o) { return OHWord(heap, uInt32(o)); }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) { OHSetWord(heap, uInt32(o), f); }
// Whether the graph has a part of the id, of any order.
bool Has(ObjHeap heap, int32 graph, int32 id) {
  bool any = false;
  ForEachPart(heap, graph, [&](int32 p) { any = any || (p != graph && ObjInt16(heap, p, kObjPartId) == id); });
  return any;
}
bool Shown(ObjHeap heap, int32 graph, int32 id) { return !PartIdAllHidden(heap, graph, id); }
void* ValueOf(ObjHeap heap, int32 graph) {
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}
int32 RedrawPlotArea(ObjHeap heap, int32 graph) {
  const int32 r = DrawPlotArea(heap, graph, ValueOf(heap, graph), 0, 0, 4, 1);
  return r & kReplyFailedBit;
}

// The "Show" sub-menu and the item codes its items stand for.
MenuHandle gShow = nullptr;
std::vector<int32> gShowCodes;
MenuHandle ShowMenu() {
  if (!gShow) {
    static const uChar kTitle[] = "\x04Show";
    if (MNewLMenu(&gShow, kTitle, 0) != kNoErr) gShow = nullptr;
  }
  return gShow;
}
void AddShow(MenuHandle show, int32 level, int32 code, bool enabled, bool checked) {
  if (PopupInsertItem(show, level, code, -1, enabled, checked)) gShowCodes.push_back(code);
}

int32 UpdateModeItem(int32 type) {
  if (type == 103 || type == 106) return 1;
  if (type == 102 || type == 105) return 2;
  return 3;
}

void Build(ObjHeap heap, int32 graph, PopupMsgRecord* rec) {
  MenuHandle menu = rec->menu64;
  if (!menu) return;
  const int32 level = rec->level;
  const int32 type = GraphTypeOf(heap, graph);
  const bool chart = IsChartType(type), intensity = IsIntensityType(type);
  const uInt32 flags = FlagsOf(heap, graph);
  MenuHandle show = nullptr;
  if (rec->phase == 1) {
    show = ShowMenu();
    if (show) {
      MDeleteAllItems(show);
      gShowCodes.clear();
      if (const int32 item = PopupInsertItem(menu, level, kItemShow, -1, 1, 0))
        PopupAttachSubmenu(menu, item, level, show);
    }
  }
  // 1. Clearing.
  PopupInsertItem(menu, level, kPopupSeparator, -1, 1, 0);
  const UHandle vi = PanelHeapOwner(heap);
  const bool locked = !chart && vi && *vi && (VIRec(vi)->flags2 & kVIClearDisabled);
  PopupInsertItem(menu, level, chart ? kItemClearChart : kItemClearGraph, -1, !locked, 0);
  // 2., 3. Autoscaling and the colour scale.
  PopupInsertItem(menu, level, kItemAutoX, -1, 1, (flags & kGraphFlagAutoX) != 0);
  PopupInsertItem(menu, level, kItemAutoY, -1, 1, (flags & kGraphFlagAutoY) != 0);
  if (intensity) {
    PopupInsertItem(menu, level, kItemAutoZ, -1, 1, (flags & kGraphFlagAutoZ) != 0);
    const int32 z = FindPart(heap, graph, kGPartZScale, 0);
    const uInt32 zf = z > 0 ? FlagsOf(heap, z) : 0;
    PopupInsertItem(menu, level, kItemIgnoreColours, -1, 1, (zf & kZScaleIgnoreColorArray) != 0);
    PopupInsertItem(menu, level, kItemInterpolate, -1, 1, !(zf & kZScaleStepped));
  }
  // 4. The update mode or smooth updates.
  if (chart) {
    const int32 item = PopupInsertItem(menu, level, kItemUpdateMode, -1, 1, 0);
    MenuHandle modes = PanelShell().standardMenu ? PanelShell().standardMenu(kUpdateModeMenuId) : nullptr;
    if (item && modes) {
      for (int32 k = 1; k <= MCountItems(modes); ++k) MCheckItem(modes, k, k == UpdateModeItem(type));
      PopupAttachSubmenu(menu, item, level, modes);
    }
  } else {
    PopupInsertItem(menu, level, kItemSmooth, -1, 1, (flags & kGraphFlagSmooth) != 0);
  }
  if (!show) return;
  // The "Show" sub-menu.
  if (!intensity) AddShow(show, level, kItemLegend, true, Shown(heap, graph, kGPartPlotLegend));
  if (PrefGet(kPrefEnableMultiScales))
    AddShow(show, level, kItemScaleLegend, true, Shown(heap, graph, kGPartScaleLegend));
  AddShow(show, level, kItemPalette, true, Shown(heap, graph, kGPartPaletteFirst));
  if (chart && !intensity)
    AddShow(show, level, kItemDigitalDisplay, Has(heap, graph, kGPartDigitalDisplay),
            Shown(heap, graph, kGPartDigitalDisplay));
  if (chart) AddShow(show, level, kItemScrollbar, true, Shown(heap, graph, kGPartChartScrollbar));
  if (!chart)
    AddShow(show, level, kItemCursorDisplay, Has(heap, graph, kGPartCursorLegend),
            Shown(heap, graph, kGPartCursorLegend));
  const struct {
    int32 code, id;
  } scales[] = {{kItemXScale, kGPartXScale}, {kItemYScale, kGPartYScale}, {kItemZScale, kGPartZScale}};
  for (const auto& s : scales)
    if (Has(heap, graph, s.id)) AddShow(show, level, s.code, true, Shown(heap, graph, s.id));
  bool anyLabel = false, anyShown = false;
  for (int32 id = kGPartUnitLabelFirst; id <= kGPartUnitLabelLast; ++id) {
    anyLabel = anyLabel || Has(heap, graph, id);
    anyShown = anyShown || (Has(heap, graph, id) && Shown(heap, graph, id));
  }
  AddShow(show, level, kItemUnitLabel, anyLabel, anyShown);
}

// Toggles the visibility of every part of the ids together.
int32 ToggleParts(ObjHeap heap, int32 graph, std::initializer_list<int32> ids) {
  const bool show = PartIdAllHidden(heap, graph, *ids.begin()) != 0;
  for (int32 id : ids) SetPartIdVisible(heap, graph, id, show);
  return kReplyAppearance;
}

// The colour scale's range from its first to its last colour marker.
MgErr ZRangeFromMarkers(ObjHeap heap, int32 z) {
  const ScaleRec* r = ScaleRecOf(heap, z);
  const UHandle m = r ? r->markers : nullptr;
  if (!m || !*m || !MemIsDSHandle(m) || DSGetHandleSize(m) < 4) return kNoErr;
  const int32 n = int32(GetNative32(*m));
  if (n < 1 || int64(DSGetHandleSize(m)) < 4 + int64(n) * kScaleMarkerEntry) return kNoErr;
  float64 lo, hi;
  std::memcpy(&lo, *m + 4, 8);
  std::memcpy(&hi, *m + 4 + (n - 1) * kScaleMarkerEntry, 8);
  Bool32 moved = false;
  return CalcScaleMarkers(heap, z, lo, hi, true, true, &moved);
}

int32 Run(ObjHeap heap, int32 graph, PopupMsgRecord* rec) {
  int32 code = rec->item;
  if (rec->menuId == kUpdateModeMenuId) return SetChartUpdateMode(heap, graph, rec->item, false, false);
  // A choice in the "Show" sub-menu names its item's position there.
  if (gShow && rec->menuId != kPopupMenuId && rec->menuId == MGetMenuID(gShow)) {
    if (rec->item < 1 || rec->item > int32(gShowCodes.size())) return 0;
    code = gShowCodes[size_t(rec->item - 1)];
  }
  const uInt32 flags = FlagsOf(heap, graph);
  const int32 z = FindPart(heap, graph, kGPartZScale, 0);
  switch (code) {
    case kItemLegend: return ToggleParts(heap, graph, {kGPartPlotLegend});
    case kItemPalette: {
      const int32 wanted = PartIdAllHidden(heap, graph, kGPartPaletteFirst) ? 1 : 0;
      return SetPaletteVisible(heap, graph, &wanted);
    }
    case kItemAutoX: case kItemAutoY: {
      const bool x = code == kItemAutoX;
      const uInt32 bit = x ? kGraphFlagAutoX : kGraphFlagAutoY;
      SetFlagsOf(heap, graph, flags ^ bit);
      for (int32 id : {x ? 34 : 35, x ? 36 : 37})
        if (const int32 p = FindPart(heap, graph, id, 0); p > 0) OInval(heap, p, kInvalAll);
      return (flags & bit) ? 0 : RedrawPlotArea(heap, graph);
    }
    case kItemAutoZ:
      SetFlagsOf(heap, graph, flags ^ kGraphFlagAutoZ);
      return (flags & kGraphFlagAutoZ) ? 0 : RedrawPlotArea(heap, graph);
    case kItemClearGraph: case kItemClearChart:
      return ClearGraphData(heap, graph, ValueOf(heap, graph)) ? kReplyFailedBit : 0;
    case kItemSmooth:
      SetFlagsOf(heap, graph, flags ^ kGraphFlagSmooth);
      return 0;
    case kItemUnitLabel: {
      bool allHidden = true;
      for (int32 id = kGPartUnitLabelFirst; id <= kGPartUnitLabelLast; ++id)
        allHidden = allHidden && PartIdAllHidden(heap, graph, id);
      for (int32 id = kGPartUnitLabelFirst; id <= kGPartUnitLabelLast; ++id) SetPartIdVisible(heap, graph, id, allHidden);
      return kReplyAppearance;
    }
    case kItemInterpolate: {
      if (z <= 0) {
        DBAssert(kModule, __LINE__, "colour command without a colour scale");
        return 0;
      }
      SetFlagsOf(heap, z, FlagsOf(heap, z) ^ kZScaleStepped);
      SetFlagsOf(heap, graph, flags | kFlagFullRepaint);
      if (const int32 ramp = FindPart(heap, graph, kGPartZRamp, 0); ramp > 0) OInval(heap, ramp, kInvalAll);
      if (!(FlagsOf(heap, z) & kZScaleIgnoreColorArray) && BuildColorTable(heap, graph)) return kReplyFailedBit;
      return RedrawPlotArea(heap, graph);
    }
    case kItemIgnoreColours: {
      if (z <= 0) {
        DBAssert(kModule, __LINE__, "colour command without a colour scale");
        return 0;
      }
      const uInt32 zf = FlagsOf(heap, z) ^ kZScaleIgnoreColorArray;
      SetFlagsOf(heap, z, zf);
      SetFlagsOf(heap, graph, flags | kFlagFullRepaint);
      if (!(zf & kZScaleIgnoreColorArray)) {
        if (ZRangeFromMarkers(heap, z) || BuildColorTable(heap, graph)) return kReplyFailedBit;
      }
      OInval(heap, z, kInvalAll);
      return RedrawPlotArea(heap, graph);
    }
    case kItemCursorDisplay: {
      const bool show = PartIdAllHidden(heap, graph, kGPartCursorLegend) != 0;
      if (show && !Has(heap, graph, kGPartCursorLegend)) return kReplyFailedBit;
      return ToggleParts(heap, graph, {kGPartCursorLegend, kGPartCursorMover});
    }
    case kItemScaleLegend:
      ToggleParts(heap, graph, {kGPartScaleLegend});
      return 0;
    case kItemDigitalDisplay: {
      const bool show = PartIdAllHidden(heap, graph, kGPartDigitalDisplay) != 0;
      SetPartIdVisible(heap, graph, kGPartDigitalDisplay, show);
      // Shown: only as many as the chart has plots.
      if (show) HideExtraDigitalDisplays(heap, graph, 0, false, false);
      return kReplyAppearance;
    }
    case kItemScrollbar: return ToggleParts(heap, graph, {kGPartChartScrollbar});
    default: return -1;
  }
}

void UpdateAllWindows() {
  for (WindowRef w = WFirstWindow(); w; w = WNextWindow(w)) WUpdate(w);
}

}  // namespace

int32 StdGraphOPopup(ObjHeap heap, int32 graph, PopupMsgRecord* rec) {
  if (!rec) return 0;
  if (const int32 r = DDOOPopupMethod(heap, graph, rec)) return r;
  ++rec->level;
  if (rec->nested || PanelInsideRefNum() || !IsGraph(heap, graph)) return 0;
  if (rec->phase == 0 || rec->phase == 1) {
    Build(heap, graph, rec);
    return 0;
  }
  if (rec->level != 0) return 0;
  int32 reply = Run(heap, graph, rec);
  if (reply < 0) return 0;  // not a command of the graph
  if (rec->phase != kPhaseRunQuiet) VIDocMod(PanelHeapOwner(heap), nullptr, kGraphDocMod);
  if ((reply & kReplyUpdateNow) && !(reply & kReplyAppearance)) UpdateAllWindows();
  return reply;
}

namespace {

// The cursors' side of the graph's click and do-it: a press finds the
// cursor under it, a drag's steps move it (the drag phases are the action's
// sub-events), the legend and the movement control take their own do-it.
int32 TrackCursorStep(ObjHeap heap, int32 graph, int32 cursor, int32, ActionParams* p) {
  const GraphTrackRec track{p->eventCode, 1, p->point};
  return TrackGraphCursor(heap, graph, cursor, kDoitTrackCursor, &track, 0);
}
int32 CursorLegendStep(ObjHeap heap, int32 graph, int32 part, int32 reason, ActionParams* p) {
  const CursorDoitRec rec{p->partId, p->point, p->flags};
  return CursorLegendDoit(heap, graph, part, reason, &rec, 0);
}

}  // namespace

void ControlsJoinGraphClickSlots() {
  GraphCursorHooks cursors;
  cursors.hitTest = &HitTestGraphCursors;
  cursors.track = &TrackCursorStep;
  cursors.legendDoit = &CursorLegendStep;
  SetGraphCursorHooks(cursors);
  ObjJoinSlot(kMsgOClick, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&StdGraphOClick) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODoit, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&StdGraphODoit) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOPopup, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&StdGraphOPopup) : ObjMethodAddr(nullptr);
  });
}
