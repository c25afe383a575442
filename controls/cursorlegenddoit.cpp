// What the operator does in the cursor legend and the cursor movement
// control: the lock and style menus of a row, names and values edited in a
// row, and the arrow buttons that move the selected cursors.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/graphdraw.h"
#include "controls/graphsupport.h"
#include "controls/pointlookup.h"
#include "controls/scale.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/printf.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "panel/clipmenu.h"
#include "panel/colorpal.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"
#include "rtlib/vistrread.h"

namespace {

// Do-it codes the legend tells apart.
enum : int32 { kDoitMenuChoice = 4, kDoitValueSet = 24, kDoitValueSetDone = 26 };
// Members of the element cluster (0-based).
enum : int32 { kMemberName = 4, kMemberX = 5, kMemberY = 6, kMemberZ = 7, kMemberStyle = 18, kMemberLock = 19 };
// The style menu and its submenus.
enum : int32 {
  kCursorStyleMenuId = 80, kCursorStyleSubId = 79, kPointStyleSubId = 47, kColourSubId = 65,
  kItemShowName = 4, kItemBringToCenter = 5, kItemGoToCursor = 6,
};
constexpr int32 kLockMenuId = 81, kFirstPlotItem = 5;
constexpr uInt32 kOwnerModeFlag = 0x80000;
constexpr int32 kColourRequestFlags = 0x900;
constexpr int32 kFarFromCentre = 1000;
constexpr int32 kFailed = 16;
// A point style that names the marker box alone to the erasing.
constexpr int32 kEraseMarkerBox = 0x10;

int32 Size() { return GraphCursorFields()->size; }
int32 Signed(const uChar* c, GraphCursorField f) { return int32(CursorU32(c, f)); }
bool Live(ObjHeap heap, int32 o, int32 bytes) {
  return o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= bytes;
}
int32 OwnerOf(ObjHeap heap, int32 o) { return Live(heap, o, kObjOwner + 4) ? ObjWord(heap, o, kObjOwner / 4) : 0; }
int32 ElementOf(ObjHeap heap, int32 legend) {
  return Live(heap, legend, 4 * (kPWArrayElement + 1)) ? ObjWord(heap, legend, kPWArrayElement) : 0;
}
int32 MemberList(ObjHeap heap, int32 cluster) {
  return Live(heap, cluster, 4 * (kPWClusterElements + 1)) && ObjClass(heap, cluster) == kClsCluster
             ? ObjWord(heap, cluster, kPWClusterElements)
             : 0;
}
int32 Member(ObjHeap heap, int32 cluster, int32 m) {
  const int32 list = MemberList(heap, cluster);
  return list > 0 && m >= 0 && m < ObjListCount(heap, list) ? ObjListGet(heap, list, m) : 0;
}
const void* GraphValue(ObjHeap heap, int32 graph) {
  return reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}
// The cursor at an index of the list, found afresh (menus and drawing may
// have moved memory since).
uChar* CursorAt(ObjHeap heap, int32 graph, int32 index) {
  int32 n = 0;
  UPtr list = GraphCursorsOf(heap, graph, &n);
  return list && index >= 0 && index < n ? list + index * Size() : nullptr;
}
// The index of the cursor the legend's element stands for, -1 for none.
int32 ShownCursor(ObjHeap heap, int32 graph, int32 legend) {
  const GraphData* d = GraphDataOf(heap, graph);
  int32 n = 0;
  UPtr first = GraphCursorsOf(heap, graph, &n);
  if (!d || !first) return -1;
  UHandle list = d->cursors;
  UPtr rec = ArrayDisplayEltPtr(heap, legend, &list, false);
  if (!rec || rec < first || (rec - first) % Size() != 0) return -1;
  const int32 i = int32((rec - first) / Size());
  return i < n ? i : -1;
}
uInt32 OwnerModeOf(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? VIRec(vi)->flags2 : 0;
}
MenuHandle StandardMenu(int32 id) { return PanelShell().standardMenu ? PanelShell().standardMenu(id) : nullptr; }

// Moves the cursor's drawing after its pixel position changed from (h0, v0).
void MoveDrawing(ObjHeap heap, int32 graph, uChar* c, int32 h0, int32 v0) {
  ScrollCursorDrawing(heap, graph, c, CursorI16(c, kGCH) - h0, CursorI16(c, kGCV) - v0, true);
}
void RefreshRow(ObjHeap heap, int32 element, uChar* c) {
  UpdateCursorLegendRow(heap, element, c, kLegendRowX | kLegendRowY | kLegendRowZ | kLegendRowForce);
}
// Stores the point's values when the lookup finds it; the change bits.
int32 TakePoint(ObjHeap heap, int32 graph, uChar* c, int32 plot, int32 index, bool* ok) {
  float64 x = 0, y = 0, z = 0;
  *ok = GetPlotPointValues(heap, graph, GraphValue(heap, graph), plot, index, &x, &y, &z) == kPointFound;
  if (!*ok) return 0;
  const int32 changes = (x != CursorF64(c, kGCX) ? kCursorChangedX : 0) | (y != CursorF64(c, kGCY) ? kCursorChangedY : 0) |
                        (z != CursorF64(c, kGCZ) ? kCursorChangedZ : 0);
  SetCursorF64(c, kGCX, x);
  SetCursorF64(c, kGCY, y);
  SetCursorF64(c, kGCZ, z);
  return changes;
}

// ---- The lock button -------------------------------------------------------------
// The lock menu: the modes, then one item per plot; 0 (nothing chosen) or
// the item, -1 when the menu cannot be built.
int32 PopUpLockMenu(ObjHeap heap, int32 graph, const uChar* c, Point where) {
  MenuHandle menu = nullptr;
  if (MNewLMenuFromStrings(RunTimeRsrcFile(), kLockedStyleMenuList, kLockMenuId, &menu) != kNoErr || !menu) return -1;
  int32 plots = 0;
  const PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &plots);
  if (p && plots > 0) {
    MInsertLSeparator(menu, nullptr, -1, 0);
    for (int32 i = 0; i < plots; ++i) {
      p = GraphPlots(GraphDataOf(heap, graph), &plots);
      if (!p || i >= plots) break;
      Str255 name;
      const int32 len = p[i].name && MemIsDSHandle(p[i].name) ? std::min<int32>(VSLStrLen(p[i].name), 255) : 0;
      name[0] = uChar(len);
      if (len) std::memcpy(name + 1, VSLStrBytes(p[i].name), size_t(len));
      Str255 item;
      PPrintf(item, "__%p", name);
      MInsertLItem(menu, item, nullptr, 0, nullptr, 0, -1, uInt32(kFirstPlotItem + i - 1));
    }
    MCheckItem(menu, Signed(c, kGCPlot) + kFirstPlotItem, true);
  }
  MCheckItem(menu, CursorLockMode(CursorU32(c, kGCFlags)) + 1, true);
  if (CursorU32(c, kGCFlags) & kCursorNoDrag) MDisableMenu(menu);
  int32 id = 0, item = 0;
  MPopUpMenuAt(menu, where, &id, &item, 0, 0, 0);
  MDisposeMenu(menu);
  return id == kLockMenuId ? item : 0;
}

int32 LockButton(ObjHeap heap, int32 graph, int32 element, int32 index, Point where, int32 result) {
  uChar* c = CursorAt(heap, graph, index);
  const uInt32 before = CursorU32(c, kGCFlags);
  const int32 type = GraphTypeOf(heap, graph);
  int32 item = 0;
  if (type == kGraphIntensity || type == kGraphIntensityTransposed) {
    item = (before & kCursorSnapped) ? 1 : 2;
  } else {
    item = PopUpLockMenu(heap, graph, c, where);
    if (item < 0) {
      DbgPrintf("Couldn't load mLockedStyle");
      return result;
    }
    c = CursorAt(heap, graph, index);
    if (!c) return result;
  }
  uInt32 flags = before;
  if (item >= 1 && item <= 3) flags = CursorFlagsWithLock(flags, item - 1);
  else if (item >= kFirstPlotItem) SetCursorU32(c, kGCPlot, uInt32(item - kFirstPlotItem));
  SetCursorU32(c, kGCFlags, flags);
  SetCursorBool(c, kGCLockButton, (flags & kCursorSnapped) != 0);
  if (const int32 button = Member(heap, element, kMemberLock)) {
    const uChar b = (flags & kCursorSnapped) ? 1 : 0;
    ODisplayValObj(heap, button, 0, &b);
  }
  if (item <= 0 || !(flags & kCursorSnapped)) return result;
  c = CursorAt(heap, graph, index);
  if (!c) return result;
  // A cursor snapped before keeps its plot and index; a free one takes the
  // nearest point.
  int32 plot = Signed(c, kGCPlot), at = Signed(c, kGCIndex);
  if (!(before & kCursorSnapped)) {
    int32 fp = -1, fi = -1;
    const Point pixel{CursorI16(c, kGCV), CursorI16(c, kGCH)};
    const int32 st = FindNearestPlotPoint(heap, graph, GraphValue(heap, graph), pixel,
                                          (before & kCursorLockedToPlot) ? plot : -1, &fp, &fi, 0);
    if (st == kPointNoData || fp < 0 || fi < 0) return result;
    plot = fp, at = fi;
    SetCursorU32(c, kGCPlot, uInt32(plot));
    SetCursorU32(c, kGCIndex, uInt32(at));
  }
  bool ok = false;
  TakePoint(heap, graph, c, plot, at, &ok);
  if (!ok) return result;
  const int32 h0 = CursorI16(c, kGCH), v0 = CursorI16(c, kGCV);
  if (UpdateCursorPixel(heap, graph, c, index)) return kFailed;
  MoveDrawing(heap, graph, c, h0, v0);
  if ((c = CursorAt(heap, graph, index))) RefreshRow(heap, element, c);
  return result;
}

// ---- The style button ---------------------------------------------------------------
// The colour chosen with the palette for the request (the cursor's own
// when none was).
struct StyleChoice {
  int32 menu = 0;
  int32 item = 0;
  DColor colour = 0;
};

StyleChoice PopUpStyleMenu(ObjHeap heap, [[maybe_unused]] int32 graph, const uChar* c, Point where) {
  StyleChoice choice;
  choice.colour = CursorU32(c, kGCColour);
  MenuHandle menu = StandardMenu(kCursorStyleMenuId);
  if (!menu) return choice;
  MenuHandle styles = StandardMenu(kCursorStyleSubId), points = StandardMenu(kPointStyleSubId);
  const uInt32 flags = CursorU32(c, kGCFlags);
  const int32 style = CursorStyleOfFlags(flags) + 1, point = int32(CursorU32(c, kGCPointStyle)) + 1;
  MCheckItem(menu, kItemShowName, (flags & kCursorShowLabel) != 0);
  if (styles) MCheckItem(styles, style, true);
  if (points) MCheckItem(points, point, true);
  if (!(flags & kCursorNoDrag) || (OwnerModeOf(heap) & kOwnerModeFlag)) MEnableItem(menu, kItemBringToCenter);
  else MDisableItem(menu, kItemBringToCenter);
  // The "Color" item's request: foreground only, the cursor's colour.
  ActionParams request{};
  request.point = where;
  request.partId = kGPartCursorLegend;
  int32* words = reinterpret_cast<int32*>(&request);
  words[3] = kColourRequestFlags;
  words[4] = words[5] = int32(choice.colour);
  ColorMenuTrack(heap, graph, &request, nullptr);
  MPopUpMenuAt(menu, where, &choice.menu, &choice.item, 0, 0, 0);
  DoColorPalette(choice.menu, choice.item);
  choice.colour = DColor(words[4]);
  MCheckItem(menu, kItemShowName, false);
  if (styles) MCheckItem(styles, style, false);
  if (points) MCheckItem(points, point, false);
  return choice;
}

// Moves the cursor to the middle of the first scales' ranges (snapped
// cursors to the nearest point there).
int32 BringToCenter(ObjHeap heap, int32 graph, int32 element, int32 index) {
  uChar* c = CursorAt(heap, graph, index);
  const int32 xs = FindPart(heap, graph, kGPartXScale, 0), ys = FindPart(heap, graph, kGPartYScale, 0);
  const ScaleRec* xr = xs > 0 ? ScaleRecOf(heap, xs) : nullptr;
  const ScaleRec* yr = ys > 0 ? ScaleRecOf(heap, ys) : nullptr;
  if (!c || !xr || !yr) return kFailed;
  const int32 h0 = CursorI16(c, kGCH), v0 = CursorI16(c, kGCV);
  SetCursorF64(c, kGCX, (xr->min + xr->max) * xr->multiplier / 2 + xr->offset);
  SetCursorF64(c, kGCY, (yr->min + yr->max) * yr->multiplier / 2 + yr->offset);
  if (UpdateCursorPixel(heap, graph, c, index)) return kFailed;
  if (CursorU32(c, kGCFlags) & kCursorSnapped) {
    int32 fp = -1, fi = -1;
    const Point pixel{CursorI16(c, kGCV), CursorI16(c, kGCH)};
    const int32 st = FindNearestPlotPoint(heap, graph, GraphValue(heap, graph), pixel,
                                          (CursorU32(c, kGCFlags) & kCursorLockedToPlot) ? Signed(c, kGCPlot) : -1,
                                          &fp, &fi, 0);
    bool ok = false;
    if (st != kPointNoData && fp >= 0 && fi >= 0) TakePoint(heap, graph, c, fp, fi, &ok);
    if (ok) {
      SetCursorU32(c, kGCPlot, uInt32(fp));
      SetCursorU32(c, kGCIndex, uInt32(fi));
      if (UpdateCursorPixel(heap, graph, c, index)) return kFailed;
    }
  }
  MoveDrawing(heap, graph, c, h0, v0);
  if (ShowCursorLegendRow(heap, OwnerOf(heap, element), index, nullptr) && (c = CursorAt(heap, graph, index)))
    RefreshRow(heap, element, c);
  return 0;
}

// Brings the scales to a cursor far off the plot area, then scrolls it in.
int32 GoToCursor(ObjHeap heap, int32 graph, int32 index) {
  uChar* c = CursorAt(heap, graph, index);
  const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
  if (!c || !Live(heap, area, kObjBounds + 8)) return kFailed;
  Rect bounds;
  std::memcpy(&bounds, *heap + area + kObjBounds, sizeof bounds);
  const int32 ch = (bounds.left + bounds.right) / 2, cv = (bounds.top + bounds.bottom) / 2;
  if (std::abs(CursorI16(c, kGCH) - ch) > kFarFromCentre || std::abs(CursorI16(c, kGCV) - cv) > kFarFromCentre) {
    const struct {
      int16 id;
      GraphCursorField field;
    } axes[] = {{kGPartXScale, kGCX}, {kGPartYScale, kGCY}};
    for (const auto& a : axes) {
      const int32 s = FindPart(heap, graph, a.id, 0);
      const ScaleRec* r = s > 0 ? ScaleRecOf(heap, s) : nullptr;
      c = CursorAt(heap, graph, index);
      if (!r || !c) return kFailed;
      const float64 m = r->multiplier != 0 ? r->multiplier : 1;
      const float64 low = (CursorF64(c, a.field) - r->offset) / m, span = r->max - r->min;
      Bool32 changed = false;
      if (CalcScaleMarkers(heap, s, low, low + span, true, true, &changed)) return kFailed;
    }
    if (!(c = CursorAt(heap, graph, index)) || UpdateCursorPixel(heap, graph, c, index)) return kFailed;
  }
  // One scrolling step, due now, toward the cursor.
  AutoScrollState state{true, MilliSecs()};
  int32 offsets[2] = {0, 0};
  const int32 point = int32(uInt32(uInt16(CursorI16(c, kGCH))) << 16 | uInt16(CursorI16(c, kGCV)));
  return AutoScrollScales(heap, graph, &bounds, point, offsets, true, &state, false) ? kFailed : 0;
}

int32 StyleButton(ObjHeap heap, int32 graph, int32 element, int32 index, Point where, int32 result) {
  uChar* c = CursorAt(heap, graph, index);
  SetCursorBool(c, kGCStyleButton, false);
  const StyleChoice choice = PopUpStyleMenu(heap, graph, c, where);
  if (!(c = CursorAt(heap, graph, index))) return result;
  const uInt32 flags = CursorU32(c, kGCFlags);
  switch (choice.menu) {
    case kPointStyleSubId:
      if (choice.item < 1) break;
      SetCursorU32(c, kGCPointStyle, uInt32(choice.item - 1));
      EraseGraphCursor(heap, graph, c, kEraseMarkerBox, 0, kCursorDrawDraggable, false);
      break;
    case kColourSubId:
      SetCursorU32(c, kGCColour, choice.colour);
      EraseGraphCursor(heap, graph, c, int32(CursorU32(c, kGCPointStyle)), int32(flags), kCursorDrawDraggable, false);
      break;
    case kCursorStyleSubId: {
      const int32 bits = CursorStyleFlags(choice.item - 1);
      if (bits < 0) break;
      const uInt32 lines = kCursorHLineMask | kCursorVLineMask;
      const int32 changed = int32((flags ^ uInt32(bits)) & lines);
      SetCursorU32(c, kGCFlags, (flags & ~lines) | uInt32(bits));
      EraseGraphCursor(heap, graph, c, 0, changed, kCursorDrawDraggable, false);
      break;
    }
    case kCursorStyleMenuId:
      if (choice.item == kItemShowName) {
        SetCursorU32(c, kGCFlags, flags ^ kCursorShowLabel);
        EraseGraphCursor(heap, graph, c, 0, kCursorPieceLabel, kCursorDrawDraggable, false);
      } else if (choice.item == kItemBringToCenter) {
        if (BringToCenter(heap, graph, element, index)) return kFailed;
      } else if (choice.item == kItemGoToCursor) {
        if (GoToCursor(heap, graph, index)) return kFailed;
      }
      break;
    default:
      break;
  }
  return result;
}

}  // namespace

int32 CursorLegendDoit(ObjHeap heap, int32 graph, int32 target, int32 code, const CursorDoitRec* rec, int32 result) {
  if (!rec || !GraphCursorFields()) return result;
  if (rec->partId == kGPartCursorLegend) {
    // 1.
    if (((result & kDoitResultActive) && (code == kDoitValueSetDone || code == kDoitValueSet)) ||
        (code == kDoitMenuChoice && !(result & kDoitResultNoRedraw))) {
      OInval(heap, graph, kInvalAll);
      return result;
    }
    // 2.
    const int32 legend = FindPart(heap, graph, kGPartCursorLegend, 0);
    const int32 element = ElementOf(heap, legend);
    const int32 list = MemberList(heap, element);
    if (!element || !list || OwnerOf(heap, target) != element) {
      InvalCursorLegendIcons(heap, graph);
      return result;
    }
    const int32 m = OHListFind(heap, list, target);
    if (!(result & kDoitResultActive) && !(m == kMemberName && (result & kDoitResultEdit))) return result;
    if (m < 0 || m >= kGCFieldCount) {
      QX_ASSERT_MSG(false, "a cursor legend member beyond the record");
      return result;
    }
    const int32 index = ShownCursor(heap, graph, legend);
    uChar* c = CursorAt(heap, graph, index);
    if (!c) return result;
    const int32 h0 = CursorI16(c, kGCH), v0 = CursorI16(c, kGCV);
    switch (m) {
      case kMemberLock:  // 3.
        if (LockButton(heap, graph, element, index, rec->click, result) == kFailed) return kFailed;
        break;
      case kMemberStyle:  // 4.
        if (StyleButton(heap, graph, element, index, rec->click, result) == kFailed) return kFailed;
        break;
      case kMemberX: case kMemberY: case kMemberZ: {  // 5.
        if (UpdateCursorPixel(heap, graph, c, index)) return kFailed;
        Bool32 changed = false;
        if (SnapCursorToData(heap, graph, c, nullptr, nullptr, -1, &changed)) return kFailed;
        if (changed && UpdateCursorPixel(heap, graph, c, index)) return kFailed;
        MoveDrawing(heap, graph, c, h0, v0);
        if ((c = CursorAt(heap, graph, index))) RefreshRow(heap, element, c);
        break;
      }
      case kMemberName: {  // 6.
        const bool shown = (CursorU32(c, kGCFlags) & kCursorShowLabel) != 0;
        if (shown) EraseGraphCursor(heap, graph, c, 0, kCursorPieceLabel, 0, false);
        if (MeasureAllCursorLabels(heap, graph, 0, nullptr)) return kFailed;
        if (shown) DrawCursorsInPlot(heap, graph, kCursorDrawDraggable);
        break;
      }
      default:
        break;
    }
    // 7.
    DrawCursorLegendIcons(heap, graph);
    return result;
  }
  // 8. The movement control.
  if (rec->partId != kGPartCursorMover || !(result & kDoitResultActive)) return result;
  const int32 step = code == kDoitTrackCursor && (rec->flags & 0x2) ? 2 : 1;
  const int32 mover = FindPart(heap, graph, kGPartCursorMover, 0);
  const int32 list = MemberList(heap, mover);
  const int32 pos = list > 0 ? OHListFind(heap, list, target) : -1;
  Point delta{0, 0};
  switch (pos) {
    case 0: delta.v = int16(-step); break;
    case 1: delta.v = int16(step); break;
    case 2: delta.h = int16(-step); break;
    case 3: delta.h = int16(step); break;
    default: return result;
  }
  const GraphData* d = GraphDataOf(heap, graph);
  if (d && d->moverButtons[pos] && MoveSelectedCursors(heap, graph, 0, delta)) return kFailed;
  return result;
}
