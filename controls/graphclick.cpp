// The graph class's click and do-it: the plot attributes menu of a legend
// row, the palette tools over the plot area (pan, zoom at a point, zoom to a
// rectangle), the momentary and locked autoscale buttons, the zoom tool
// menu and the chart scroll bar.  The click records what follows in the
// action record's words; the do-it carries it out.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/graphcursors.h"
#include "controls/graphfill.h"
#include "controls/graphintensity.h"
#include "controls/graphsupport.h"
#include "controls/graphzoom.h"
#include "controls/scale.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/textrec.h"
#include "panel/clipmenu.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/numfmt.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "rtlib/objunits.h"

namespace {

constexpr const char* kModule = "graphclick";
constexpr int32 kPointStyleMenu = 47, kLineStyleMenu = 48, kInterpMenu = 58, kColourMenu = 65, kAttrMenu = 71,
                kZoomMenu = 91, kLineWidthMenu = 93, kCommonMenu = 94, kBarMenu = 95, kFillToMenu = 96,
                kXScaleMenu = 117, kYScaleMenu = 118, kFormatMenu = 70, kFormatKindMenu = 76, kPrecisionMenu = 75,
                kMappingMenu = 59;
constexpr int32 kSelLegend = -1, kSelCursorA = -3, kSelCursorB = -4, kSelTool = -5;
constexpr int32 kReplyMenuChoice = 22, kResultFailed = 16;
constexpr uInt32 kFlagHeld = 0x20000;           // bit 17
constexpr uInt32 kFlagSeparateAreas = 0x80000;  // bit 19
constexpr uInt32 kFlagRepaint = 0x100000;       // bit 20
constexpr int32 kShift = 0x4;
constexpr int32 kRectSlack = 15;

GraphClickWords* Words(ActionParams* p) { return reinterpret_cast<GraphClickWords*>(p->words20); }

bool IsGraph(ObjHeap heap, int32 graph) {
  return heap && *heap && graph > 0 && OHIsUsedBlock(heap, graph) && OHBlockSize(heap, graph) >= kGraphObjectBytes &&
         GraphTypeOf(heap, graph) != -1;
}
uInt32 FlagsOf(ObjHeap heap, int32 o) { return OHWord(heap, uInt32(o)); }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) { OHSetWord(heap, uInt32(o), f); }
Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
int16 ToolOf(ObjHeap heap, int32 graph) { return int16(GetNative16(*heap + graph + kGraphToolByte)); }
void SetTool(ObjHeap heap, int32 graph, int32 tool) { PutNative16(*heap + graph + kGraphToolByte, uInt16(tool)); }
MenuHandle Menu(int32 id) { return PanelShell().standardMenu ? PanelShell().standardMenu(id) : nullptr; }
void* ValueOf(ObjHeap heap, int32 graph) {
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}
bool InRect(int32 pt, const Rect& r) {
  const int32 h = GraphPointH(pt), v = GraphPointV(pt);
  return h >= r.left && h < r.right && v >= r.top && v < r.bottom;
}

GraphCursorHooks gCursor;
Point PointOf(int32 word) {
  Point pt;
  std::memcpy(&pt, &word, sizeof pt);
  return pt;
}

// ---- The pointer shapes of the tools ------------------------------------------------------
int32 ToolShape(int32 tool, bool shift) {
  switch (tool) {
    case 1: return 42;
    case 2: case 5: return 53;
    case 3: return 54;
    case 4: return 55;
    case 6: return shift ? 57 : 56;
    case 7: return shift ? 56 : 57;
    default: return 0;
  }
}

// ---- The plot attributes menu ----------------------------------------------------------------
void Check(int32 menu, int32 item, bool on) {
  if (MenuHandle m = Menu(menu); m && item >= 1 && item <= MCountItems(m)) MCheckItem(m, item, on);
}
void ClearChecks(int32 menu) {
  if (MenuHandle m = Menu(menu))
    for (int32 k = 1; k <= MCountItems(m); ++k) MCheckItem(m, k, false);
}
void SetEnabled(MenuHandle m, int32 item, bool on) {
  if (!m || item < 1 || item > MCountItems(m)) return;
  if (on) MEnableItem(m, item);
  else MDisableItem(m, item);
}
// An item "__" + text (cut to 253 characters), or "(%ld)" of n when empty.
void AppendNamed(MenuHandle m, const uChar* text, int32 n) {
  uChar item[256];
  if (text && text[0]) {
    const int32 len = std::min<int32>(text[0], 253);
    item[0] = uChar(len + 2);
    item[1] = item[2] = '_';
    std::memcpy(item + 3, text + 1, size_t(len));
  } else {
    char buf[24];
    const int len = std::snprintf(buf, sizeof buf, "(%ld)", long(n));
    item[0] = uChar(len);
    std::memcpy(item + 1, buf, size_t(len));
  }
  MInsertLItem(m, item, nullptr, 0, nullptr, 0, -1, 0);
}

MenuHandle gFillTo = nullptr;

}  // namespace

GraphCursorHooks SetGraphCursorHooks(const GraphCursorHooks& hooks) {
  const GraphCursorHooks old = gCursor;
  gCursor = hooks;
  return old;
}

void BuildScaleMenu(ObjHeap heap, int32 graph, int32 partId, MenuHandle menu, int32 item, int32 current) {
  if (!menu || !IsGraph(heap, graph)) return;
  MDeleteAllItems(menu);
  std::vector<int32> scales;
  ForEachPart(heap, graph, [&](int32 p) {
    if (p != graph && ObjInt16(heap, p, kObjPartId) == partId) scales.push_back(p);
  });
  std::sort(scales.begin(), scales.end(),
            [&](int32 a, int32 b) { return ObjInt16(heap, a, kObjPartOrder) < ObjInt16(heap, b, kObjPartOrder); });
  for (int32 s : scales) {
    const int32 order = ObjInt16(heap, s, kObjPartOrder);
    const uChar* label = GetCtrlLabel(heap, s);
    AppendNamed(menu, label, order);
    if (order == current) MCheckItem(menu, MCountItems(menu), true);
  }
  if (MenuHandle attr = Menu(kAttrMenu); attr && item >= 1 && item <= MCountItems(attr))
    MSetLItemSubmenu(attr, item, menu);
}

int32 CheckedFillItem(const PlotRec& plot) {
  const int32 code = GetFillStyleField(plot.fillStyle, kFillSelFillTo);
  return code < 4 ? code + 1 : code + 2;
}

// The fill-to menu for the row: 0, or 1 when the list cannot be loaded.
static int32 BuildFillTo(ObjHeap heap, int32 graph, int32 row, const PlotRec* plots, int32 n) {
  if (gFillTo) MDisposeMenu(gFillTo), gFillTo = nullptr;
  if (MNewLMenuFromStrings(RunTimeRsrcFile(), kFillToMenu, kFillToMenu, &gFillTo) != kNoErr || !gFillTo) {
    gFillTo = nullptr;
    DBPrintf("Couldn't load mFillTo");
    DBAssert(kModule, __LINE__, "Couldn't load mFillTo");
    return 1;
  }
  const bool separate = FlagsOf(heap, graph) & kFlagSeparateAreas;
  if (!separate) {
    MInsertLSeparator(gFillTo, nullptr, -1, 0);
    for (int32 j = 0; j < n; ++j) {
      const UHandle name = plots[j].name;
      const uChar* text = name && *name && DSGetHandleSize(name) >= 1 ? *name : nullptr;
      uChar buf[256] = {0};
      if (text) {
        const int32 len = std::min<int32>(text[0], int32(DSGetHandleSize(name)) - 1);
        buf[0] = uChar(std::max(0, len));
        std::memcpy(buf + 1, text + 1, size_t(buf[0]));
      }
      AppendNamed(gFillTo, buf, j);
    }
    SetEnabled(gFillTo, row + 6, false);
  }
  const int32 item = CheckedFillItem(plots[row]);
  if (separate && item > 4) DBAssert(kModule, __LINE__, "fill to a plot with separate plot areas");
  else if (item >= 1 && item <= MCountItems(gFillTo)) MCheckItem(gFillTo, item, true);
  if (MenuHandle attr = Menu(kAttrMenu); attr && MCountItems(attr) >= 6) MSetLItemSubmenu(attr, 6, gFillTo);
  return 0;
}

namespace {

int32 gChosenLine = 0, gChosenPoint = 0;
int32 ColourReply(int32 fore, int32 back, int32, int32) {
  gChosenLine = fore, gChosenPoint = back;
  return 0;
}

int32 LegendClick(ObjHeap heap, int32 graph, int32 legend, TransactionState* click, ActionParams* p) {
  int32 n = 0;
  PlotRec* plots = GraphPlots(GraphDataOf(heap, graph), &n);
  if (!plots || n <= 0) {
    DBAssert(kModule, __LINE__, "legend without plots");
    return 0;
  }
  const int32 label = ObjWord(heap, graph, kGraphLegendLabelWord);
  int32 rowHeight = 0;
  if (label > 0 && OHIsUsedBlock(heap, label)) {
    const Rect lr = BoundsOf(heap, label);
    rowHeight = lr.bottom - lr.top;
  }
  if (rowHeight <= 0) rowHeight = 1;
  const int32 v = GraphPointV(click->point);
  const int32 row = std::clamp((v - BoundsOf(heap, legend).top) / rowHeight, 0, n - 1);
  if (click->mode != kClickPopup && click->mode != kClickPress) return -1;
  FPReleaseKeyFocus(heap);
  if (PanelShell().menuReleaseTracked) PanelShell().menuReleaseTracked();
  const PlotRec rec = plots[row];
  Check(kPointStyleMenu, rec.pointStyle + 1, true);
  Check(kLineStyleMenu, rec.lineStyle + 1, true);
  Check(kLineWidthMenu, rec.lineWidth + 1, true);
  Check(kInterpMenu, rec.interpolation + 1, true);
  const int32 bars = GetFillStyleField(rec.fillStyle, kFillSelBarStyle);
  Check(kBarMenu, bars ? bars + 3 : 1, true);
  const bool xy = GraphTypeOf(heap, graph) == kGraphXY;
  for (int32 k = 7; k <= 9; ++k) SetEnabled(Menu(kBarMenu), k, xy);
  if (BuildFillTo(heap, graph, row, plots, n)) return 0;
  MenuHandle attr = Menu(kAttrMenu);
  if (PrefGet(kPrefEnableMultiScales)) BuildScaleMenu(heap, graph, kGPartXScale, Menu(kXScaleMenu), 9, rec.xScale);
  else SetEnabled(attr, 9, false);
  BuildScaleMenu(heap, graph, kGPartYScale, Menu(kYScaleMenu), 10, rec.yScale);
  gChosenLine = rec.lineColor, gChosenPoint = int32(rec.pointColor);
  PrepareColorPalette(rec.lineColor, int32(rec.pointColor), 0x700, 0, &ColourReply, graph);
  int32 menuId = 0, item = 0;
  const int32 chosen = attr ? MPopUpMenuAt(attr, PointOf(click->point), &menuId, &item, 0, 0, 0) : 0;
  if (chosen && menuId == kColourMenu) DoColorPalette(menuId, item);
  // The record's own colours stand again; the checks go.
  if (PlotRec* again = GraphPlots(GraphDataOf(heap, graph), &n); again && row < n) {
    again[row].lineColor = rec.lineColor;
    again[row].pointColor = rec.pointColor;
  }
  for (int32 m : {kPointStyleMenu, kLineStyleMenu, kLineWidthMenu, kInterpMenu, kBarMenu, kXScaleMenu, kYScaleMenu})
    ClearChecks(m);
  if (gFillTo) ClearChecks(kFillToMenu);
  if (!chosen) return 1;
  p->partId = kGPartPlotLegend;
  GraphClickWords* w = Words(p);
  w->selector = kSelLegend;
  w->index = row;
  w->choice = (item << 16) | (menuId & 0xFFFF);
  w->lineColour = gChosenLine;
  w->pointColour = gChosenPoint;
  return kReplyMenuChoice;
}

}  // namespace

int32 StdGraphOClick(ObjHeap heap, int32 graph, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  const int32 result = DDOOClickMethod(heap, graph, click, frame, p);
  if (!click || !p || !IsGraph(heap, graph) || !result) return result;
  const int32 part = p->partId;
  if (part == kGPartPlotLegend) {
    const int32 legend = FindPart(heap, graph, kGPartPlotLegend, 0);
    if (legend <= 0) {
      DBAssert(kModule, __LINE__, "legend click without its part");
      return result;
    }
    const int32 answer = LegendClick(heap, graph, legend, click, p);
    return answer < 0 ? result : answer;
  }
  if (part == kGPartPlotArea) {
    const int32 tool = ToolOf(heap, graph);
    if (tool < 0 || tool > 7) return result;
    if (click->mode == kClickPress) {
      GraphClickWords* w = Words(p);
      if (tool >= 1) {
        w->selector = kSelTool;
        p->dragObject = graph;
        return kClickTrack;
      }
      uInt32 flags = 0;
      const int32 hit = gCursor.hitTest ? gCursor.hitTest(heap, graph, PointOf(click->point), &flags) : -1;
      if (hit >= 0) {
        w->selector = kSelCursorB;
        w->index = hit;
        p->dragObject = graph;
        return kClickTrack;
      }
      return result;
    }
    if (click->mode == kClickCursor) {
      int32 shape = ToolShape(tool, click->modifiers & kShift);
      if (tool == 0 && gCursor.hitShape) shape = gCursor.hitShape(heap, graph, PointOf(click->point));
      if (shape) SetCursorByNumber(shape, 0);
      CursorAnswer* a = CursorOf(p);
      const Point pt = PointOf(click->point);
      a->rect = Rect{pt.v, pt.h, int16(pt.v + 1), int16(pt.h + 1)};
      a->cursor = shape;
      return kClickCursorAnswer;
    }
  }
  // Editing a unit label starts: its text is kept to convert from when the
  // edit is applied.
  if (result == kClickOperate && part >= kGPartUnitLabelFirst && part <= kGPartUnitLabelLast)
    if (const int32 label = FindPart(heap, graph, part, p->partOrder); label > 0) GetCachedUnitLabel(heap, label);
  return result;
}

// ---- Do-it ------------------------------------------------------------------------------------

namespace {

struct TrackRec {
  int32 anchor;
  int32 last;
};
TrackRec* gTrack = nullptr;
int32 gLock = 0;  // 0 none yet, 1 horizontal, 2 vertical, 3 both
int32 gTrackOrder = -1;
uInt32 gLastStep = 0;

int32 PlotOrderAt(ObjHeap heap, int32 graph, int32 pt) {
  int32 order = -1;
  ForEachPart(heap, graph, [&](int32 part) {
    if (order < 0 && part != graph && ObjInt16(heap, part, kObjPartId) == kGPartPlotArea &&
        InRect(pt, BoundsOf(heap, part)))
      order = ObjInt16(heap, part, kObjPartOrder);
  });
  return order;
}
Rect AreaOf(ObjHeap heap, int32 graph, int32 order) {
  const int32 a = FindPart(heap, graph, kGPartPlotArea, std::max(order, 0));
  return a > 0 ? BoundsOf(heap, a) : Rect{0, 0, 0, 0};
}

bool StartRecord(ObjHeap heap, int32 graph, int32 pt) {
  if (gTrack) DSDisposePtr(UPtr(gTrack)), gTrack = nullptr;
  gTrack = reinterpret_cast<TrackRec*>(DSNewPClr(int32(sizeof(TrackRec))));
  if (!gTrack) return false;
  gTrack->anchor = gTrack->last = pt;
  SetTrackObject(heap, graph, nullptr, nullptr, true);
  return true;
}
void EndRecord(ObjHeap heap, int32 graph) {
  if (gTrack) DSDisposePtr(UPtr(gTrack)), gTrack = nullptr;
  SetFlagsOf(heap, graph, FlagsOf(heap, graph) & ~kFlagHeld);
}

int32 TrackTool(ObjHeap heap, int32 graph, ActionParams* p) {
  const int32 tool = ToolOf(heap, graph);
  const int32 phase = p->eventCode;
  const int32 pt = p->localPoint ? p->localPoint : int32((uInt32(uInt16(p->point.h)) << 16) | uInt16(p->point.v));
  const bool start = phase == kSubPress, end = phase == kSubRelease || phase == kSubEnd;
  const bool separate = FlagsOf(heap, graph) & kFlagSeparateAreas;
  if (tool == 6 || tool == 7) {
    if (start) gTrackOrder = std::max(0, PlotOrderAt(heap, graph, pt));
    if (end) return 0;
    const uInt32 now = MilliSecs();
    if (!start && !IntervalElapsed(gLastStep, uInt32(std::max(PrefGet(kPrefTrackTimeout), 0)))) return kReplyTracking;
    gLastStep = now;
    return ZoomAtPoint(heap, graph, pt, p->modifiers, gTrackOrder) ? kResultFailed : kReplyTracking;
  }
  if (tool < 1 || tool > 5) return 0;
  if (start) {
    gTrackOrder = PlotOrderAt(heap, graph, pt);
    if (!StartRecord(heap, graph, pt)) return 0;
    SaveScales(heap, graph, std::max(gTrackOrder, 0));
    if (tool == 1) {
      if (IsChartType(GraphTypeOf(heap, graph))) SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kFlagHeld);
      SetCursorByNumber(43, 0);
      gLock = (p->modifiers & kShift) ? 0 : 3;
    }
    return kReplyTracking;
  }
  if (!gTrack) return 0;  // no record: no tracking
  const Rect area = AreaOf(heap, graph, gTrackOrder);
  int32 reply = kReplyTracking;
  if (tool == 1) {
    if (!end && InRect(pt, area)) {
      int32 dx = GraphPointH(pt) - GraphPointH(gTrack->last), dy = GraphPointV(pt) - GraphPointV(gTrack->last);
      if (!gLock && (dx || dy)) gLock = std::abs(dy) > std::abs(dx) ? 2 : 1;
      if (gLock == 1) dy = 0;
      if (gLock == 2) dx = 0;
      if (PanScales(heap, graph, dx, dy, separate ? std::max(gTrackOrder, 0) : -1)) reply = kResultFailed;
      gTrack->last = pt;
    }
    if (end) {
      EndRecord(heap, graph);
      SetCursorByNumber(42, 0);
      return 0;
    }
    return reply;
  }
  // The zoom rectangle.
  const Rect slack{int16(area.top - kRectSlack), int16(area.left - kRectSlack), int16(area.bottom + kRectSlack),
                   int16(area.right + kRectSlack)};
  if (!end) {
    if (InRect(pt, slack)) {
      int32 a = gTrack->anchor, b = 0;
      PinPointToRect(pt, &area, &b, false);
      if (tool == 3) a = PackGraphPoint(GraphPointH(a), area.top + 1), b = PackGraphPoint(GraphPointH(b), area.bottom - 1);
      if (tool == 4) a = PackGraphPoint(area.left + 1, GraphPointV(a)), b = PackGraphPoint(area.right - 1, GraphPointV(b));
      gTrack->anchor = a;
      XorFrameTwo(a, gTrack->last == a ? a : gTrack->last, b);
      gTrack->last = b;
    }
    return reply;
  }
  int32 a = gTrack->anchor, b = gTrack->last;
  PinPointToRect(a, &area, &a, true);
  PinPointToRect(b, &area, &b, true);
  const int32 order = separate ? std::max(gTrackOrder, 0) : -1;
  if (tool == 3) {
    const int32 y = FindPart(heap, graph, kGPartYScale, std::max(gTrackOrder, 0));
    if (const ScaleRec* r = y > 0 ? ScaleRecOf(heap, y) : nullptr)
      a = PackGraphPoint(GraphPointH(a), r->pixelStart), b = PackGraphPoint(GraphPointH(b), r->pixelEnd);
  } else if (tool == 4) {
    const int32 x = FindPart(heap, graph, kGPartXScale, 0);
    if (const ScaleRec* r = x > 0 ? ScaleRecOf(heap, x) : nullptr)
      a = PackGraphPoint(r->pixelStart, GraphPointV(a)), b = PackGraphPoint(r->pixelEnd, GraphPointV(b));
  }
  const MgErr err = ZoomToRect(heap, graph, a, b, order);
  EndRecord(heap, graph);
  return err ? kResultFailed : 0;
}

int32 RedrawArea(ObjHeap heap, int32 graph) {
  return DrawPlotArea(heap, graph, ValueOf(heap, graph), 0, 0, 4, 1) & kResultFailed;
}

uInt32 gSavedFlags = 0;

}  // namespace

void PrepareZoomMenu(ObjHeap heap, int32 graph, MenuHandle m) {
  if (!m || !IsGraph(heap, graph)) return;
  const int32 tool = ToolOf(heap, graph);
  static const int32 kItemOfTool[8] = {0, 0, 1, 2, 3, 0, 5, 6};
  for (int32 k = 1; k <= MCountItems(m); ++k) MCheckItem(m, k, tool >= 0 && tool <= 7 && k == kItemOfTool[tool]);
  SetEnabled(m, 4, !SavedZoomEmpty(heap, graph));
}

namespace {

// The format menu of the X (part 77) or Y (78) scale: kind, precision and,
// where the scale applies to the graph's kind, the mapping.
int32 FormatMenu(ObjHeap heap, int32 graph, bool x, ActionParams* p) {
  const int32 scale = FindPart(heap, graph, x ? kGPartXScale : kGPartYScale, 0);
  ScaleRec* r = scale > 0 ? ScaleRecOf(heap, scale) : nullptr;
  MenuHandle m = Menu(kFormatMenu);
  if (!r || !m) {
    if (!r) DBAssert(kModule, __LINE__, "format menu without its scale");
    return 0;
  }
  const int32 code = ObjInt16(heap, scale, kScaleObjFormat);
  int16 kind = 0, precision = 0;
  DecodeNumFormat(code, &kind, &precision);
  ClearChecks(kFormatKindMenu);
  ClearChecks(kPrecisionMenu);
  ClearChecks(kMappingMenu);
  Check(kFormatKindMenu, kind + 1, true);
  Check(kPrecisionMenu, precision + 1, true);
  SetEnabled(m, 3, GraphPartApplies(heap, scale));
  Check(kMappingMenu, r->mapping == kScaleLog ? 2 : 1, true);
  int32 menuId = 0, item = 0;
  if (!MPopUpMenuAt(m, p->point, &menuId, &item, 0, 0, 0)) return 0;
  int32 newCode = code;
  bool mappingChanged = false;
  if (menuId == kPrecisionMenu) {
    newCode = SetFormatPrecision(item - 1, code);
  } else if (menuId == kFormatKindMenu) {
    NumFormatCode c = NumFormatCode(code);
    if (EncodeNumFormat(&c, int16(item - 1), precision) || EncodeNumFormat(&c, int16(item - 1), 0)) newCode = c;
  } else if (menuId == kMappingMenu && (item == 1 || item == 2)) {
    mappingChanged = r->mapping != ScaleMapping(item - 1);
    r->mapping = ScaleMapping(item - 1);
  } else {
    return 0;
  }
  if (newCode == code && !mappingChanged) return 0;
  // The scale and, for Y, every stacked plot area's Y scale take the code.
  std::vector<int32> scales{scale};
  if (!x)
    ForEachPart(heap, graph, [&](int32 s) {
      if (s != graph && s != scale && ObjInt16(heap, s, kObjPartId) == kGPartYScale) scales.push_back(s);
    });
  const ScaleMapping mapping = r->mapping;
  for (int32 s : scales) {
    if (OHBlockSize(heap, s) >= kScaleObjFormat + 2) PutNative16(*heap + s + kScaleObjFormat, uInt16(int16(newCode)));
    if (ScaleRec* sr = ScaleRecOf(heap, s)) sr->mapping = mapping;
    ScaleSetRangeValue(heap, s, -2, 0, nullptr);
    if (ScaleRecalc(heap, s)) return kResultFailed;
    OInval(heap, s, kInvalAll);
  }
  const bool gridded = DColor(ObjWord(heap, graph, x ? kGraphXGridColorWord : kGraphYGridColorWord)) != kNoColor;
  if (gridded || mappingChanged || !x)
    return RedrawAfterScaleChange(heap, graph, 0, 0, nullptr, false, false, false, false) ? kResultFailed : 0;
  return 0;
}

int32 Palette(ObjHeap heap, int32 graph, int32 part, ActionParams* p) {
  const uInt32 flags = FlagsOf(heap, graph);
  switch (part) {
    case 34: case 35: {
      const uInt32 bit = part == 34 ? kGraphFlagAutoX : kGraphFlagAutoY;
      if (p->eventCode == kSubPress) {
        gSavedFlags = flags;
        SetFlagsOf(heap, graph, (flags & ~(kGraphFlagAutoX | kGraphFlagAutoY)) | bit | kFlagHeld);
        const int32 r = RedrawArea(heap, graph);
        SetFlagsOf(heap, graph, gSavedFlags | bit);
        return r;
      }
      if (p->eventCode == kSubRelease || p->eventCode == kSubEnd) SetFlagsOf(heap, graph, gSavedFlags);
      return 0;
    }
    case 36: case 37: {
      const uInt32 bit = part == 36 ? kGraphFlagAutoX : kGraphFlagAutoY;
      SetFlagsOf(heap, graph, flags ^ bit);
      if (const int32 b = FindPart(heap, graph, part - 2, 0); b > 0) OInval(heap, b, kInvalAll);
      if (flags & bit) return 0;
      if (part == 37) SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kFlagHeld);
      const int32 r = RedrawArea(heap, graph);
      if (part == 37) SetFlagsOf(heap, graph, FlagsOf(heap, graph) & ~kFlagHeld);
      return r;
    }
    case 74: case 76: {
      SetTool(heap, graph, part == 74 ? 1 : 0);
      for (int32 id : {74, 75, 76})
        if (const int32 b = FindPart(heap, graph, id, 0); b > 0) OInval(heap, b, kInvalAll);
      return 0;
    }
    case 75: {
      MenuHandle m = Menu(kZoomMenu);
      if (!m) return 0;
      PrepareZoomMenu(heap, graph, m);
      int32 menuId = 0, item = 0;
      if (!MPopUpMenuAt(m, p->point, &menuId, &item, 0, 0, 0)) return 0;
      if (item == 4) return UndoZoom(heap, graph) ? kResultFailed : 0;
      static const int32 kToolOfItem[7] = {0, 2, 3, 4, 0, 6, 7};
      if (item >= 1 && item <= 6) SetTool(heap, graph, kToolOfItem[item]);
      return 0;
    }
    case 77: case 78: return FormatMenu(heap, graph, part == 77, p);
    default: return -1;
  }
}

// The legend's rows (their samples and names) are drawn again.
void InvalLegend(ObjHeap heap, int32 graph) {
  if (const int32 legend = FindPart(heap, graph, kGPartPlotLegend, 0); legend > 0) OInval(heap, legend, kInvalAll);
}

// The plot names are drawn in the legend's colours: its text record takes
// the legend's foreground and background.
void SetLegendTextColours(ObjHeap heap, int32 graph) {
  const int32 legend = FindPart(heap, graph, kGPartPlotLegend, 0);
  const int32 label = ObjWord(heap, graph, kGraphLegendLabelWord);
  if (legend <= 0 || label <= 0 || !OHIsUsedBlock(heap, label)) return;
  const TRecord text = PartTextRecord(heap, label);
  if (!text) return;
  const DColor fore = ctrl::PartFore(heap, legend), back = ctrl::PartBack(heap, legend);
  TSetColors(text, &fore, &back, false);
  InvalLegend(heap, graph);
}

int32 LegendDoit(ObjHeap heap, int32 graph, int32 reason, ActionParams* p) {
  GraphClickWords* w = Words(p);
  int32 n = 0;
  PlotRec* plots = GraphPlots(GraphDataOf(heap, graph), &n);
  if (!plots || n <= 0) return 0;
  const int32 row = std::clamp(w->index, 0, n - 1);
  PlotRec& rec = plots[row];
  Rect sample{};
  PlotLegendRowRect(heap, graph, row, &sample, nullptr);
  int32 reply = 0;
  if (reason == kActColourChange) {
    const bool final = p->flags & 0x10000;
    if (rec.lineColor == w->lineColour && int32(rec.pointColor) == w->pointColour && !final) return 0;
    rec.lineColor = w->lineColour;
    rec.pointColor = uInt32(w->pointColour);
    InvalLegend(heap, graph);
    reply = 0x100;
    if (final) {
      OInval(heap, graph, kInvalAll);
      SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kFlagRepaint);
      reply |= 0x10000;
    }
    return reply;
  }
  const int32 menu = int16(w->choice & 0xFFFF), item = int32(uInt32(w->choice) >> 16);
  switch (menu) {
    case kPointStyleMenu: rec.pointStyle = int16(item - 1); break;
    case kLineStyleMenu: rec.lineStyle = int16(item - 1); break;
    case kInterpMenu:
      rec.interpolation = int16(item - 1);
      if (rec.interpolation == 0 && rec.pointStyle == 0) rec.pointStyle = 13;
      break;
    case kColourMenu:
      rec.lineColor = w->lineColour;
      rec.pointColor = uInt32(w->pointColour);
      break;
    case kLineWidthMenu: rec.lineWidth = int16(item - 1); break;
    case kCommonMenu: SetFillStyleField(&rec, item - 1, kFillSelLegendChoice); break;
    case kBarMenu: SetFillStyleField(&rec, std::max(0, item - 3), kFillSelBarStyle); break;
    case kFillToMenu:
      if (item >= 1 && item <= 4) SetFillStyleField(&rec, item - 1, kFillSelFillTo);
      else if (item - 6 >= 0 && item - 6 < n) SetFillStyleField(&rec, item - 6 + 4, kFillSelFillTo);
      MarkFillTargets(GraphDataOf(heap, graph)->plots);
      break;
    case kXScaleMenu: rec.xScale = int16(item - 1); break;
    case kYScaleMenu: rec.yScale = int16(item - 1); break;
    default: return 0;
  }
  if (sample.bottom > sample.top && sample.right > sample.left) InvalLegend(heap, graph);
  reply = 0x10000;
  if (menu != kColourMenu) {
    OInval(heap, graph, kInvalAll);
    SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kFlagRepaint);
  }
  return reply;
}

}  // namespace

int32 StdGraphODoit(ObjHeap heap, int32 graph, TransactionFrame* frame, int32 reason, ActionParams* p) {
  if (!p || !IsGraph(heap, graph)) return 0;
  if (!GraphDataOf(heap, graph)) DBAssert(kModule, __LINE__, "do-it without graph data");
  GraphClickWords* w = Words(p);
  const int32 part = p->partId;
  if (part == kGPartPlotLegend && w->selector == kSelLegend && (reason == kActColourChange || reason == kReplyMenuChoice))
    return LegendDoit(heap, graph, reason, p);
  if ((w->selector == kSelCursorA || w->selector == kSelCursorB) && reason == kActTrack) {
    if (!gCursor.track) return 0;
    return gCursor.track(heap, graph, w->index, reason, p);
  }
  if (w->selector == kSelTool && reason == kActTrack && part == kGPartPlotArea) return TrackTool(heap, graph, p);
  if (reason == kActTrack || reason == kActOperate) {
    if (const int32 r = Palette(heap, graph, part, p); r >= 0) return r;
    if (part == kGPartChartScrollbar) {
      const uInt32 now = MilliSecs();
      if (p->eventCode != kSubPress && !IntervalElapsed(gLastStep, uInt32(std::max(PrefGet(kPrefTrackTimeout), 0))))
        return kReplyTracking;
      gLastStep = now;
      return ChartScrollBy(heap, graph, p->eventData[0], p->modifiers & kShift) ? kResultFailed : kReplyTracking;
    }
  }
  if ((part == kGPartCursorLegend || part == kGPartCursorMover) && gCursor.legendDoit)
    return gCursor.legendDoit(heap, graph, part, reason, p);
  int32 reply = DDOODoitMethod(heap, graph, frame, reason, p);
  if (part >= kGPartUnitLabelFirst && part <= kGPartUnitLabelLast && (reply & 0x8)) {
    ClearUnitLabelCache();
    SetPartIdVisible(heap, graph, part, true);
    const int32 scaleId = part == 71 ? kGPartXScale : part == 72 ? kGPartYScale : kGPartZScale;
    if (const int32 s = FindPart(heap, graph, scaleId, 0); s > 0 && ScaleRecalc(heap, s)) reply |= kResultFailed;
    OInval(heap, graph, kInvalAll);
    reply |= 0x80;
  }
  if (part == kGPartZScale && (reply & 0x200)) {
    const int32 z = FindPart(heap, graph, kGPartZScale, 0);
    if (z > 0 && !(FlagsOf(heap, z) & kZScaleIgnoreColorArray) && BuildColorTable(heap, graph)) reply |= kResultFailed;
  }
  const bool scalePart = part == kGPartXScale || part == kGPartYScale || part == kGPartZScale;
  const bool gridded =
      (part == kGPartXScale && DColor(ObjWord(heap, graph, kGraphXGridColorWord)) != kNoColor) ||
      (part == kGPartYScale && DColor(ObjWord(heap, graph, kGraphYGridColorWord)) != kNoColor);
  if (scalePart && ((reply & 0x200) || ((reply & 0x80) && gridded))) {
    const Rect rect = LastChangedPartRect();
    const bool recorded = rect.bottom > rect.top && rect.right > rect.left;
    if (PrefGet(kPrefEnableAutoScales) && !recorded) {
      DBPrintf("about to use scaleR when it wasn't initialized");
      DBAssert(kModule, __LINE__, "about to use scaleR when it wasn't initialized");
    }
    // Without a recorded rectangle the whole graph is redrawn.
    if (RedrawAfterScaleChange(heap, graph, part, p->partOrder, recorded ? &rect : nullptr, false, false, false, false))
      reply |= kResultFailed;
  }
  if (part == kGPartPlotArea && (reply & 0x100)) {
    // The legend's names are drawn over the plot area's colour.
    SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kFlagRepaint);
    InvalLegend(heap, graph);
    // The cursors are drawn again over the new colour.
    int32 cursors = 0;
    const int32 area = FindPart(heap, graph, kGPartPlotArea, p->partOrder);
    if (GraphCursorsOf(heap, graph, &cursors) && cursors > 0 && area > 0 && !(FlagsOf(heap, area) & kObjFlagHidden))
      DrawCursorsInPlot(heap, graph, kCursorDrawBoth);
  }
  if (part == kGPartPlotLegend && (reply & 0x100)) SetLegendTextColours(heap, graph);
  return reply;
}
