// The graph's own drawing and value display (messages 18 and 39): its
// parts last first, the plot area's contents through DrawPlotArea, the plot
// legend's rows, the chart's scroll bar and digital displays; and clearing
// a chart's history on request.  Objects come from VI files: every part and
// record is checked before it is read.  User-interface thread only.
#include "controls/graphdraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/ctrl_internal.h"
#include "panel/fpexec.h"
#include "panel/objdraw.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/transact.h"
#include "rtlib/chartdata.h"
#include "rtlib/panellocators.h"

using namespace ctrl;

namespace {

constexpr const char* kSource = "graphdraw";
constexpr uInt32 kFlagClearHistory = 0x1000000;
constexpr int32 kDrawNormal = 4;
constexpr int16 kPartGraphFrame = 9;
constexpr int16 kPartXButton = 34, kPartYButton = 35, kPartXLock = 36, kPartYLock = 37;
constexpr int16 kPartPanTool = 74, kPartZoomTool = 75, kPartOperateTool = 76, kPartTool77 = 77, kPartTool78 = 78;

bool Meets(ObjHeap heap, int32 o) {
  const Rect r = BoundsOf(heap, o);
  return WNeedsDraw(&r) != 0;
}
int32 GraphType(ObjHeap heap, int32 graph) { return GraphTypeOf(heap, graph); }
// The value of a chart's digital display: only charts of numbers keep one
// per plot, and only with their history record.
UPtr DisplayData(ObjHeap heap, int32 graph, const void* value, int32 part);

std::vector<int32> PartsLastFirst(ObjHeap heap, int32 object) {
  std::vector<int32> parts;
  ForEachPart(heap, object, [&](int32 part) {
    if (part != object && IsObj(heap, part)) parts.push_back(part);
  });
  std::reverse(parts.begin(), parts.end());
  return parts;
}

}  // namespace

namespace {
UPtr DisplayData(ObjHeap heap, int32 graph, const void* value, int32 part) {
  const int32 type = GraphType(heap, graph);
  ChartHistoryView h;
  if (!value || !IsChartType(type) || (type >= kIntensChartFirst && type <= kIntensChartLast) ||
      !ChartHistoryOf(heap, graph, &h))
    return nullptr;
  return GraphPartDataOffset(heap, graph, static_cast<UPtr>(const_cast<void*>(value)), OrderOf(heap, part));
}
}  // namespace

bool ChartHistoryOf(ObjHeap heap, int32 graph, ChartHistoryView* out) {
  *out = ChartHistoryView{};
  // The record must be the entry its descriptor word names, as large as a record.
  const int32 at = WordOr0(heap, graph, kGraphHistoryWord);
  if (at <= 0 || !PanelEntryTD(heap, at, WordOr0(heap, graph, kGraphHistoryWord + 1), int32(sizeof(ChartHistory))) ||
      !FPHeapDataPtr(heap, at + int32(sizeof(ChartHistory)) - 1))
    return false;
  auto* rec = reinterpret_cast<ChartHistory*>(FPHeapDataPtr(heap, at));
  out->count = &rec->total;
  const UHandle h = rec->buffer;
  if (h && *h && MemIsDSHandle(h) && DSGetHandleSize(h) >= 4)
    out->bufferSize = std::max(0, int32(GetNative32(*h + kChartHistCapacity)));
  return true;
}

void ChartScrollNumbers(const ScaleRec& x, const ChartHistoryView& h, int32* position, int32* page, int32* total) {
  const float64 span = std::fabs(x.max - x.min) + 1;
  *page = span < 2147483647.0 ? int32(span) : 2147483647;
  *total = h.bufferSize;
  const int32 firstKept = std::max(0, *h.count - h.bufferSize);
  *position = RndToNearest(x.min) - firstKept;
}

int32 ChartClearHistory(ObjHeap heap, int32 graph) {
  if (!IsObj(heap, graph)) return 0;
  SetFlags(heap, graph, Flags(heap, graph) & ~kFlagClearHistory);
  if (!IsChartType(GraphType(heap, graph))) return 0;
  ChartHistoryView h;
  const int32 xScale = FindPart(heap, graph, kGPartXScale, 0);
  ScaleRec* x = xScale && ObjClass(heap, xScale) == kClsScale ? ScaleRecOf(heap, xScale) : nullptr;
  // A stored chart whose history type holds no record, or without its x
  // scale, has nothing to clear.
  if (!ChartHistoryOf(heap, graph, &h) || !x) return 0;
  *h.count = 0;
  // The range keeps its span and starts over at the history's beginning.
  const float64 span = std::fabs(x->max - x->min);
  const float64 lower = *h.count < span ? 0 : *h.count - span - 1;
  if (x->min <= x->max) {
    x->min = lower;
    x->max = lower + span;
  } else {
    x->max = lower;
    x->min = lower + span;
  }
  x->start = x->min;
  ScaleRecalc(heap, xScale);
  ClearChartPlotData(GraphDataOf(heap, graph));
  return 0;
}

int32 GraphODisplayValMethod(ObjHeap heap, int32 graph, const void* old, const void* value) {
  (void)old;
  if (!IsObj(heap, graph) || Hidden(heap, graph) || GraphType(heap, graph) == -1) return 0;
  if (Greyed(heap, graph) || gDeferDrawing) {
    OInval(heap, graph, 1);
    return kReplyInvalidated;
  }
  const int32 type = GraphType(heap, graph);
  const bool chart = IsChartType(type);
  int32 scrollbar = 0;
  ScaleRec* x = nullptr;
  ChartHistoryView h;
  if (chart) {
    ChartHistoryPrepare(heap, graph);
    if (Flags(heap, graph) & kFlagClearHistory) ChartClearHistory(heap, graph);
    scrollbar = PartOf(heap, graph, kGPartChartScrollbar);
    if (scrollbar && Hidden(heap, scrollbar)) scrollbar = 0;
    if (scrollbar) {
      const int32 xScale = FindPart(heap, graph, kGPartXScale, 0);
      if (xScale && ObjClass(heap, xScale) == kClsScale) {
        x = ScaleRecOf(heap, xScale);
        if (!ChartHistoryOf(heap, graph, &h)) x = nullptr;  // a stored history type without the record
      }
    }
  } else if (!value) {
    DBAssert(kSource, __LINE__, "graph display without a value");
    return 0;
  }
  int32 oldPos = 0, page = 0, total = 0;
  if (x) ChartScrollNumbers(*x, h, &oldPos, &page, &total);
  const int32 area = PartOf(heap, graph, kGPartPlotArea);
  const bool bracket = (type == 101 || type == 102 || type == 104 || type == 105) && area &&
                       (Flags(heap, area) & kFlagNoDrawInPlace);
  if (bracket) WUpdate(WCurrentPort());
  int32 reply = DrawPlotArea(heap, graph, const_cast<void*>(value), 0, area, BlinkPartState(heap, graph, kDrawNormal), 1);
  if (bracket) {
    if (reply & kReplyInvalidated) WUpdate(WCurrentPort());
    reply &= ~kReplyInvalidated;
  }
  if (!chart) return reply;
  for (int32 part : PartsLastFirst(heap, graph)) {
    if (PartIdOf(heap, part) != kGPartDigitalDisplay || Hidden(heap, part)) continue;
    static const uChar kZeros[10] = {};
    const UPtr data = DisplayData(heap, graph, value, part);
    reply |= ODisplayValObj(heap, part, 0, data ? static_cast<const void*>(data) : kZeros);
  }
  if (scrollbar) {
    if (Flags(heap, scrollbar) & kFlagNoDrawInPlace) {
      OInval(heap, scrollbar, 0);
      reply |= kReplyInvalidated;
    } else if (x) {
      int32 pos = 0;
      ChartScrollNumbers(*x, h, &pos, &page, &total);
      const Rect r = BoundsOf(heap, scrollbar);
      const DColor glyph = PartFore(heap, scrollbar), face = PartBack(heap, scrollbar);
      UpdateSBar(&r, pos, page, total, oldPos, page, total, &glyph, &face, false);
    }
  }
  return reply;
}

// ---- The plot legend ----------------------------------------------------------------------
namespace {

void DrawLegend(ObjHeap heap, int32 graph, int32 legend) {
  const int32 label = WordOr0(heap, graph, kGraphLegendLabelWord);
  if (!IsObj(heap, label)) return;
  const Rect lb = BoundsOf(heap, label);
  const int32 rowHeight = lb.bottom - lb.top + 6;
  if (rowHeight <= 0) return;
  Rect lr = BoundsOf(heap, legend);
  int32 plots = 0;
  GraphPlots(GraphDataOf(heap, graph), &plots);
  const int32 height = lr.bottom - lr.top;
  int32 rows = std::max(0, height / rowHeight);
  if (height > 0 && height % rowHeight && plots > rows) ++rows;
  lr.bottom = int16(std::clamp<int64>(int64(lr.top) + int64(rows) * rowHeight, -32768, 32767));
  SetBoundsOf(heap, legend, lr);
  if (plots < rows && ResizePlotList(heap, graph, rows, 0, false) != kNoErr) return;
  ODrawObj(heap, legend, 0, 0, kDrawNormal);
  // The background of the samples: the first plot area's colour, or each
  // row that of the plot area of its order when several areas differ.
  const int32 indent = WordOr0(heap, graph, kGraphLegendNameWidthWord);
  Rect area = Inset(lr, 2);
  area.left = int16(std::clamp<int64>(int64(area.left) + indent, -32768, 32767));
  ++area.top;
  --area.bottom;
  const int32 areas = GraphPlotBounds(heap, graph, nullptr);
  const int32 first = PartOf(heap, graph, kGPartPlotArea);
  bool differ = false;
  for (int32 o = 1; o < areas && first; ++o)
    if (const int32 a = PartOf(heap, graph, kGPartPlotArea, o); a && PartBack(heap, a) != PartBack(heap, first))
      differ = true;
  auto paint = [&](int32 part, const Rect& r) {
    const DColor c = part ? PartBack(heap, part) : kTransparentColor;
    if (c == kTransparentColor || DEmptyRect(&r)) return;
    DSelectNormPen(c, c);
    DPaintRect(&r);
  };
  if (!differ) paint(first, area);
  Rect saved;
  WLimitClip(&area, &saved);
  ObjHeap trackHeap = nullptr;
  int32 tracked = 0;
  SetTrackObject(nullptr, 0, &trackHeap, &tracked, 0);
  TRecord text = PartTextRecord(heap, label);
  for (int32 row = 0; row < rows; ++row) {
    Rect sample, name;
    PlotLegendRowRect(heap, graph, row, &sample, &name);
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
    if (!p || row >= n) break;
    if (differ) {
      Rect band = area;
      band.top = int16(std::max<int32>(area.top, sample.top - 2));
      band.bottom = int16(std::min<int32>(area.bottom, sample.top - 2 + rowHeight));
      paint(PartOf(heap, graph, kGPartPlotArea, std::min(row, areas - 1)), band);
    }
    if (!DEmptyRect(&sample)) {
      DrawFilledPlot(p + row, &sample, heap, graph, row);
      p = GraphPlots(GraphDataOf(heap, graph), &n);
      if (p) DrawPointStyle(p + row, &sample, false);
    }
    name.left = int16(name.left - 2);
    name.right = int16(name.right + 2);
    name.top = int16(name.top + 1);
    name.bottom = int16(name.bottom + 1);
    if (trackHeap == heap && tracked == label) {
      ODrawObj(heap, label, 0, 0, kDrawNormal);
      continue;
    }
    p = GraphPlots(GraphDataOf(heap, graph), &n);
    if (!p || DEmptyRect(&name) || !text) continue;
    const UHandle s = p[row].name;
    if (!s || !*s || !MemIsDSHandle(s) || DSGetHandleSize(s) < 4) continue;
    const int32 len = std::clamp<int32>(int32(GetNative32(*s)), 0, DSGetHandleSize(s) - 4);
    DColor fore = kBlack, back = kTransparentColor;
    TGetColors(text, &fore, &back);
    const int32 font = TGetFont(text);
    TBox(&name, int32(TGetMode(text)), *s + 4, len, font, fore, back, kBlack, kWhite);
    TDisposeFont(font);
  }
  WRestoreClip(&saved);
}

// The 32-bit state of a graph button part.
int32 ButtonState(ObjHeap heap, int32 graph, int32 part, int16 id, ObjHeap trackHeap, int32 tracked, int32 trackState) {
  const uInt32 f = Flags(heap, graph);
  const bool isTracked = trackHeap == heap && tracked == part;
  const bool axisTracked = trackHeap == heap && tracked && IsObj(heap, tracked) &&
                           ObjWord(heap, tracked, kObjOwner / 4) == graph &&
                           (PartIdOf(heap, tracked) == kPartXButton || PartIdOf(heap, tracked) == kPartYButton);
  const int16 tool = ObjInt16(heap, graph, kGraphToolByte);
  switch (id) {
    case kPartXButton: return isTracked || (f & kGraphFlagAutoX) ? 1 : 0;
    case kPartYButton: return isTracked || (f & kGraphFlagAutoY) ? 1 : 0;
    case kPartXLock: return ((axisTracked ? uInt32(trackState) : f) & kGraphFlagAutoX) ? 1 : 0;
    case kPartYLock: return ((axisTracked ? uInt32(trackState) : f) & kGraphFlagAutoY) ? 1 : 0;
    case kPartPanTool: return tool == 1 ? 1 : 0;
    case kPartZoomTool: return (tool >= 2 && tool <= 7) || isTracked ? 1 : 0;
    case kPartOperateTool: return tool <= 0 ? 1 : 0;
    default: return isTracked ? 1 : 0;  // 77 and 78
  }
}

}  // namespace

int32 GraphODrawMethod(ObjHeap heap, int32 graph, const void* value, int32 pass, int32 mode) {
  if (!IsObj(heap, graph) || Hidden(heap, graph) || GraphType(heap, graph) == -1 || !Meets(heap, graph)) return 0;
  ObjHeap trackHeap = nullptr;
  int32 tracked = 0, trackState = 0;
  SetTrackObject(nullptr, 0, &trackHeap, &tracked, 0);
  TrackState(0, &trackState, 0);
  // 1. The data block; a cached plot image of another depth is made again.
  GraphData* data = GraphDataOf(heap, graph);
  if (!data) DBAssert(kSource, __LINE__, "graph without its data block");
  if (const int32 pixmap = WordOr0(heap, graph, kGraphPixmapWord); pixmap && IKindOf(pixmap) == kImagePixmap && IGetDepth(pixmap) != DGetDepth()) {
    Rect bounds;
    GraphPlotBounds(heap, graph, &bounds);
    ISetPixmapBounds(pixmap, WCurrentPort(), &bounds, 0, false);
    SetFlags(heap, graph, Flags(heap, graph) | kGraphFlagFullRedraw);
  }
  if (IsChartType(GraphType(heap, graph))) {
    ChartHistoryPrepare(heap, graph);
    if (Flags(heap, graph) & kFlagClearHistory) ChartClearHistory(heap, graph);
  }
  // 2. Scales clipped to the frame.
  const int32 frame = PartOf(heap, graph, kPartGraphFrame);
  const Rect scaleClip = frame ? Inset(BoundsOf(heap, frame), 1) : Rect{};
  // 3 to 9. Parts last first.
  int32 pendingArea = 0;
  auto flush = [&] {
    if (pendingArea && value)
      DrawPlotArea(heap, graph, const_cast<void*>(value), 1, pendingArea, BlinkPartState(heap, graph, mode), 1);
    pendingArea = 0;
  };
  for (int32 part : PartsLastFirst(heap, graph)) {
    if (!IsObj(heap, part) || Hidden(heap, part)) continue;
    const int16 id = PartIdOf(heap, part);
    if (id != kGPartPlotArea) flush();
    switch (id) {
      case kGPartPlotArea:
        if (!Meets(heap, part)) break;
        flush();
        ODrawObj(heap, part, 0, 0, kDrawNormal);
        pendingArea = part;
        break;
      case kGPartXScale: case kGPartYScale: {
        Rect saved;
        if (frame) WLimitClip(&scaleClip, &saved);
        ODrawObj(heap, part, 0, 0, kDrawNormal);
        if (frame) WRestoreClip(&saved);
        break;
      }
      case kGPartPlotLegend:
        if (Meets(heap, part)) DrawLegend(heap, graph, part);
        break;
      case kGPartDigitalDisplay:
        ODraw(heap, part, DisplayData(heap, graph, value, part), 0, kDrawNormal);
        break;
      case kGPartChartScrollbar: {
        const int32 xScale = FindPart(heap, graph, kGPartXScale, 0);
        if (!xScale || ObjClass(heap, xScale) != kClsScale) break;
        ChartHistoryView h;
        const ScaleRec* x = ScaleRecOf(heap, xScale);
        if (!x || !ChartHistoryOf(heap, graph, &h)) break;
        int32 pos = 0, page = 0, total = 0;
        ChartScrollNumbers(*x, h, &pos, &page, &total);
        const Rect r = BoundsOf(heap, part);
        const DColor glyph = PartFore(heap, part), face = PartBack(heap, part);
        DrawSBar(&r, pos, page, total, &glyph, &face, false);
        break;
      }
      case kGPartCursorMover: case kGPartCursorLegend:
        ODraw(heap, part, data ? (id == kGPartCursorMover ? static_cast<void*>(data->moverButtons)
                                                          : static_cast<void*>(&data->cursors))
                               : nullptr,
              0, kDrawNormal);
        if (id == kGPartCursorLegend) DrawCursorLegendIcons(heap, graph);
        break;
      case kPartXButton: case kPartYButton: case kPartXLock: case kPartYLock: case kPartPanTool:
      case kPartZoomTool: case kPartOperateTool: case kPartTool77: case kPartTool78: {
        int32 state = ButtonState(heap, graph, part, id, trackHeap, tracked, trackState);
        ODraw(heap, part, &state, 0, kDrawNormal);
        break;
      }
      default:
        ODraw(heap, part, nullptr, 0, kDrawNormal);
        break;
    }
  }
  flush();
  return DDOODrawMethod(heap, graph, value, pass, mode);
}


void ControlsJoinGraphDrawSlots() {
  ObjJoinSlot(kMsgODraw, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&GraphODrawMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODisplayVal, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&GraphODisplayValMethod) : ObjMethodAddr(nullptr);
  });
}
