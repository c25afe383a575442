// Graph operations shared by the graph class, its properties, its cursors
// and the plot drawing.  User-interface thread only.  Objects and values
// come from VI files and diagrams: parts, records and types are checked
// before they are read.
#include "controls/graphsupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/ctlsize.h"
#include "controls/graphintensity.h"
#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/numconv.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/fpexec.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "rtlib/chartdata.h"

namespace {

constexpr const char* kModule = "plotsup";
constexpr uInt32 kFlagHeld = 0x20000;          // bit 17: the window is held where the scale put it
constexpr uInt32 kFlagMoreDisplays = 0x40000;  // bit 18: digital displays beyond the plots may show
constexpr uInt32 kFlagMinorXGrid = 0x20000000; // bit 29
constexpr uInt32 kFlagMinorYGrid = 0x40000000; // bit 30
constexpr int32 kGridMode = 9, kGridMinorExtra = 20;
constexpr int32 kPlotAreaDefault = 0;
constexpr int32 kBlinkNone = 4;
constexpr int16 kPaletteParts[] = {33, 34, 35, 36, 37, 77, 78, 42, 74, 75, 76};

uInt32 FlagsOf(ObjHeap heap, int32 o) { return OHWord(heap, uInt32(o)); }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) { OHSetWord(heap, uInt32(o), f); }
bool Usable(ObjHeap heap, int32 o) {
  return heap && *heap && o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= kObjBounds + int32(sizeof(Rect));
}
bool IsGraph(ObjHeap heap, int32 graph) {
  return Usable(heap, graph) && OHBlockSize(heap, graph) >= kGraphObjectBytes && GraphTypeOf(heap, graph) != -1;
}
Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
DColor BackOf(ObjHeap heap, int32 part) {
  return OHBlockSize(heap, part) >= kObjCosmBack + 4 ? DColor(ObjWord(heap, part, kObjCosmBack / 4))
                                                      : kTransparentColor;
}
int32 ScalePart(ObjHeap heap, int32 graph, int16 id, int32 order) {
  const int32 s = FindPart(heap, graph, id, order);
  return s > 0 && ScaleRecOf(heap, s) ? s : 0;
}
// The graph's value as its data controller holds it, or null.
void* ValueOf(ObjHeap heap, int32 graph) {
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}
void UpdateAllWindows() {
  for (WindowRef w = WFirstWindow(); w; w = WNextWindow(w)) WUpdate(w);
}
int32 Redraw(ObjHeap heap, int32 graph, void* value) {
  const int32 r = DrawPlotArea(heap, graph, value, 0, kPlotAreaDefault, kBlinkNone, 1);
  if (r & kPlotResultRedraw) UpdateAllWindows();
  return r;
}

ScaleGridPens gPens{0, 0, 0x000000, 0xFFFFFF};
// The pen exists while the drawing layer that made it does.
int32 LivePen(int32* pen) {
  PenState s{};
  if (*pen && DGetPenState(*pen, kPenFore, &s) == kNoErr) return *pen;
  *pen = DNewPen(kDefaultPenBase, 0, nullptr);
  return *pen;
}

// The walk's procedure between the caller's and the scale: the caller's
// cookie handed on, a horizontal scale's pixel moved by the shift.
struct GridWalk {
  ScaleMarkerProc proc;
  void* cookie;
  int16 shift;
  bool horizontal;
};
int32 ShiftedGridLine(ObjHeap heap, int32 scale, ScaleMarkerRec* marker) {
  auto* w = static_cast<GridWalk*>(marker->cookie);
  const ScaleRec* r = ScaleRecOf(heap, scale);
  // The ends are the plot area's frame, where no grid line goes; a line a
  // scrolled image takes in at its end is drawn where the band lies.
  if (!r || (!w->shift && (marker->pixel == r->pixelStart || marker->pixel == r->pixelEnd))) return 0;
  ScaleMarkerRec m = *marker;
  m.cookie = w->cookie;
  if (w->horizontal) m.pixel = int16(std::clamp(int32(m.pixel) + w->shift, -15000, 15000));
  return w->proc(heap, scale, &m);
}

}  // namespace

// ---- Update mode and palette ---------------------------------------------------------------

int32 SetChartUpdateMode(ObjHeap heap, int32 graph, int32 item, Bool32 suppress, Bool32 invalidate) {
  if (!IsGraph(heap, graph)) return 0;
  const int32 type = GraphTypeOf(heap, graph);
  const bool intensity = type >= kIntensChartFirst && type <= kIntensChartLast;
  int32 next = type;
  if (item >= 1 && item <= 3) next = (intensity ? 107 : 104) - item;
  if (next == type) return 0;
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(next));
  ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
  SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kGraphFlagFullRedraw);
  if (suppress) return 0x10000;
  if (invalidate) {
    OInval(heap, graph, kInvalAll);
    return 0x30000;
  }
  return DrawPlotArea(heap, graph, ValueOf(heap, graph), 0, kPlotAreaDefault, kBlinkNone, 1) | 0x10000;
}

int32 SetPaletteVisible(ObjHeap heap, int32 graph, const int32* wanted) {
  if (!IsGraph(heap, graph) || !wanted) return 0;
  const int32 part = FindPart(heap, graph, kGPartPaletteFirst, 0);
  const int32 hidden = part > 0 && (FlagsOf(heap, part) & kObjFlagHidden) ? 1 : 0;
  if ((*wanted != 0) != (hidden != 0)) return 0;
  for (int16 id : kPaletteParts) SetPartIdVisible(heap, graph, id, *wanted != 0);
  return 0x30080;
}

// ---- Grids -------------------------------------------------------------------------------

const ScaleGridPens& GridPens() { return gPens; }

void SetGridPens(int32 mode, DColor colour) {
  LivePen(&gPens.majorPen);
  LivePen(&gPens.minorPen);
  if (mode & 8) {
    PenState s{};
    s.fore = colour;
    s.back = colour;
    if (gPens.majorPen) DSetPenState(gPens.majorPen, kPenFore | kPenBack, &s);
  }
  if (mode & 16) {
    PenState s{};
    if (DIsBW()) {
      s.fore = 0;
      s.back = gPens.bwBack;
    } else {
      DColor hilite = colour, shadow = colour;
      DGetHilites(colour, &hilite, &shadow);
      s.fore = hilite != colour ? hilite : shadow;
      s.back = colour;
    }
    if (gPens.minorPen) DSetPenState(gPens.minorPen, kPenFore | kPenBack, &s);
  }
}

int32 ScaleDrawGrid(ObjHeap heap, int32 scale, ScaleMarkerProc proc, int16 shift, const Rect* rect, int32 mode,
                    void* cookie, int32 reserved) {
  (void)reserved;
  if (!proc || !rect || !Usable(heap, scale) || !ScaleRecOf(heap, scale)) return 0;
  GridWalk w{proc, cookie, shift, (FlagsOf(heap, scale) & kScaleHorizontal) != 0};
  return ScaleForEachMarker(heap, scale, &ShiftedGridLine, &w, rect, mode, 0, nullptr);
}

void DrawGraphGrids(ObjHeap heap, int32 graph, const Rect* clip, int32 areas, int32 order, int16 value) {
  if (!IsGraph(heap, graph)) return;
  // 1. The two colours.
  const DColor xColour = DColor(ObjWord(heap, graph, kGraphXGridColorWord));
  const DColor yColour = DColor(ObjWord(heap, graph, kGraphYGridColorWord));
  if (xColour == kNoColor && yColour == kNoColor) return;
  // 2.
  const bool intensity = IsIntensityType(GraphTypeOf(heap, graph));
  if (areas < 1) areas = GraphPlotBounds(heap, graph, nullptr);
  const uInt32 flags = FlagsOf(heap, graph);
  // 3. Two passes, X then Y in each.
  for (int32 pass = 0; pass < 2; ++pass) {
    for (int32 axis = 0; axis < 2; ++axis) {
      const DColor colour = axis == 0 ? xColour : yColour;
      if (colour == kNoColor) continue;
      int32 mode = kGridMode;
      if (pass == 0 && (flags & (axis == 0 ? kFlagMinorXGrid : kFlagMinorYGrid))) mode += kGridMinorExtra;
      SetGridPens(mode, colour);
      for (int32 o = 0; o < std::max(areas, 1); ++o) {
        if (order != -1 && o != order) continue;
        const int32 area = FindPart(heap, graph, kGPartPlotArea, o);
        if (!Usable(heap, area) || (FlagsOf(heap, area) & kObjFlagHidden)) continue;
        if (pass == 1 && !intensity && colour == BackOf(heap, area)) continue;
        Rect r = BoundsOf(heap, area);
        DInsetRect(&r, 1, 1);
        if (clip && !DSectRect(&r, clip, &r)) continue;
        const int32 scale = ScalePart(heap, graph, axis == 0 ? kGPartXScale : kGPartYScale, axis == 0 ? 0 : o);
        // A graph without that scale (its scales hidden by the type) has no grid there.
        if (!scale) continue;
        ScaleDrawGrid(heap, scale, &ScaleGridLine, value, &r, mode, &gPens, 0);
      }
    }
  }
}

// ---- Clearing ------------------------------------------------------------------------------

int32 ClearGraphData(ObjHeap heap, int32 graph, void* value) {
  if (!IsGraph(heap, graph)) return 16;
  const int32 type = GraphTypeOf(heap, graph);
  // 1. Charts clear their history.
  if (IsChartType(type)) return ClearChart(heap, graph) ? 16 : 0;
  // 2 and 3. Graphs empty their value in place; XY graphs of type 201 and
  // above too, as every other graph.
  const TypeDescriptor* td = TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
  if (!td) {
    DBPrintf("bad typeCode");
  } else {
    const TypeDescriptor* t = SkipTypedefs(td);
    const TypeDescriptor* handed = t;
    const GraphDataKind kind = ClassifyGraphData(heap, graph, &handed);
    auto* v = static_cast<uChar*>(value);
    auto empty = [](const TypeDescriptor* d, uChar* at) {
      if (d && at) EmptyData(d, at, at + DataSize(d));
    };
    switch (kind) {
      case kKindNone:
        DBPrintf("bad typeCode");
        break;
      case kKindChartPoint: case kKindChartCluster: case kKindChartArray: case kKindChartClusters:
        DBAssert(kModule, __LINE__, "chart data on a graph");
        break;
      case kKindWaveArray: case kKindWaveArrayOfArrays: case kKindWave2D: case kKindXYPoints: case kKindXYPlots:
      case kKindXYArrayPairs: case kKindWaveforms: case kKindIntensChart: case kKindIntensGraph:
      case kKindXYArrays:
        // The top-level array, or both arrays of the {X[], Y[]} cluster.
        empty(t, v);
        break;
      case kKindWaveform: case kKindWaveArrays: case kKindWave2DScaled: {
        // The third element; x0 and dx keep their values.
        if (t->code != kTDCluster) break;
        int32 at = 0;
        for (int32 i = 0; i < 2; ++i) at = AlignDatum(ElemTD(t, i), at) + DataSize(ElemTD(t, i));
        const TypeDescriptor* third = ElemTD(t, 2);
        if (third) empty(third, v ? v + AlignDatum(third, at) : nullptr);
        break;
      }
      default:
        DBPrintf("what type of graph is this");
        break;
    }
  }
  return (Redraw(heap, graph, value) & kPlotResultFailed) ? 16 : 0;
}

MgErr ClearChart(ObjHeap heap, int32 graph) {
  if (!IsGraph(heap, graph)) return kNoErr;
  ChartHistoryPrepare(heap, graph);
  const int32 type = GraphTypeOf(heap, graph);
  if (!IsChartType(type)) return kNoErr;
  if (ChartHistory* rec = ChartRecordOf(heap, graph)) rec->total = rec->pending = rec->writePos = 0;
  ClearChartPlotData(GraphDataOf(heap, graph));
  if (type == kChartSweep || type == kIntensChartLast) {
    ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
    if (const int32 image = ObjWord(heap, graph, kGraphPixmapWord)) {
      if (IKindOf(image) == kImagePixmap) IRelease(image);
      ObjSetWord(heap, graph, kGraphPixmapWord, 0);
    }
  }
  const int32 xScale = ScalePart(heap, graph, kGPartXScale, 0);
  if (!xScale) {
    DBAssert(kModule, __LINE__, "chart without its x scale");
    return kNoErr;
  }
  if (MgErr err = ScaleRecalc(heap, xScale)) return err;
  const ScaleRec* x = ScaleRecOf(heap, xScale);
  const float64 width = std::fabs(std::round(x->min - x->max));
  Bool32 moved = false;
  if (MgErr err = CalcScaleMarkers(heap, xScale, 0, std::isfinite(width) ? width : 0, false, false, &moved))
    return err;
  OInval(heap, graph, kInvalAll);
  return kNoErr;
}

// ---- Redraws after a scale change ----------------------------------------------------------

MgErr RedrawAfterScaleChange(ObjHeap heap, int32 graph, int32 partId, int32 order, const Rect* rect,
                             Bool32 invalidateScrollbar, Bool32 clearHeld, Bool32 noRedraw, Bool32 display2) {
  (void)order;
  (void)rect;
  if (!IsGraph(heap, graph)) return kNoErr;
  const int32 type = GraphTypeOf(heap, graph);
  const bool chart = IsChartType(type);
  // 1. The autoscale switches the change turns off, kept to be put back.
  uInt32 f = FlagsOf(heap, graph);
  const uInt32 saved = f & kGraphAutoscaleMask;
  const bool xOnly = (partId == kGPartXScale || partId == kGPartChartScrollbar) &&
                     (chart || type == kGraphWaveform || type == kGraphWaveformTransposed);
  f &= xOnly ? ~kGraphFlagAutoX : ~kGraphAutoscaleMask;
  f |= kFlagHeld | kGraphFlagFullRedraw;
  SetFlagsOf(heap, graph, f);
  // 2. The cursors follow the scales.
  MgErr err = OffsetGraphCursors(heap, graph);
  if (!err) err = ResnapGraphCursors(heap, graph, chart ? nullptr : ValueOf(heap, graph), noRedraw, display2);
  if (!err) {
    // 3.
    if (!noRedraw) Redraw(heap, graph, ValueOf(heap, graph));
    if (chart && invalidateScrollbar) {
      const int32 bar = FindPart(heap, graph, kGPartChartScrollbar, 0);
      if (bar > 0) OInval(heap, bar, kInvalAll);
    }
  }
  // 4.
  f = FlagsOf(heap, graph) | saved;
  if (clearHeld) f &= ~kFlagHeld;
  SetFlagsOf(heap, graph, f);
  return err;
}

MgErr RedrawZScale(ObjHeap heap, int32 graph, const ScaleRedrawRequest* request, Bool32 skipBitmap,
                   Bool32 noRedraw, Bool32 display2) {
  // An intensity graph that keeps its image shows the new colours from it.
  const int32 type = IsGraph(heap, graph) ? GraphTypeOf(heap, graph) : -1;
  if (!skipBitmap && PrefGet(kPrefKeepIntensityBitmap) && (type == kGraphIntensity || type == kGraphIntensityTransposed)) {
    const int32 z = FindPart(heap, graph, kGPartZScale, 0);
    if (z > 0 && !(FlagsOf(heap, z) & kZScaleStepped)) {
      const int32 r = RedrawIntensityImage(heap, graph);
      if (r & kPlotResultFailed) return kMemFullErr;
      return kNoErr;
    }
  }
  const int32 part = request ? request->partId : 0, order = request ? request->order : 0;
  return RedrawAfterScaleChange(heap, graph, part, order, nullptr, false, false, noRedraw, display2);
}

// ---- Scrolling the scales while dragging ---------------------------------------------------

MgErr AutoScrollScales(ObjHeap heap, int32 graph, const Rect* area, int32 point, int32* offsets, Bool32 redraw,
                       AutoScrollState* state, Bool32 centred) {
  if (!area || !state || !IsGraph(heap, graph)) return kNoErr;
  // 1. The offsets.
  const int32 h = int16(uInt32(point) >> 16), v = int16(point & 0xFFFF);
  int32 dh = 0, dv = 0;
  if (centred) {
    dh = h - (area->left + area->right) / 2;
    dv = v - (area->top + area->bottom) / 2;
  } else {
    dh = h < area->left ? h - area->left : h > area->right ? h - area->right : 0;
    dv = v < area->top ? v - area->top : v > area->bottom ? v - area->bottom : 0;
  }
  // 2.
  if (!dh && !dv) {
    if (offsets) offsets[0] = offsets[1] = 0;
    state->active = false;
    return kNoErr;
  }
  const uInt32 now = MilliSecs();
  const uInt32 interval = uInt32(std::max(PrefGet(kPrefTrackTimeout), 0));
  // 3. Scrolling starts after three intervals.
  if (!state->active) {
    state->active = true;
    state->time = now + 3 * interval;
    return kNoErr;
  }
  // 4. One step an interval.
  if (int32(now - state->time) < 0) {
    if (offsets) offsets[0] = offsets[1] = 0;
    return kNoErr;
  }
  state->time = now + interval;
  MgErr err = kNoErr;
  auto move = [&](int16 id, int32 by) {
    if (!by || err) return;
    const int32 scale = ScalePart(heap, graph, id, 0);
    if (!scale) {
      DBAssert(kModule, __LINE__, "scrolling without its scale");
      return;
    }
    const ScaleRec* r = ScaleRecOf(heap, scale);
    const int16 px[2] = {int16(std::clamp(r->pixelStart + by, -15000, 15000)),
                         int16(std::clamp(r->pixelEnd + by, -15000, 15000))};
    float64 values[2] = {0, 0};
    MapPixelsToValues(heap, ObjWord(heap, scale, kScaleObjData), 10, px, 1, 2, values, 8);
    Bool32 moved = false;
    err = CalcScaleMarkers(heap, scale, values[0], values[1], true, false, &moved);
  };
  move(kGPartXScale, dh);
  move(kGPartYScale, dv);
  if (err) return err;
  if (offsets) offsets[0] = dh, offsets[1] = dv;
  if (redraw) return RedrawAfterScaleChange(heap, graph, 0, 0, nullptr, false, false, false, false);
  return kNoErr;
}

// ---- Digital displays ----------------------------------------------------------------------

int32 HideExtraDigitalDisplays(ObjHeap heap, int32 graph, int32 typeId, Bool32, Bool32) {
  if (!IsGraph(heap, graph)) return 0;
  SetFlagsOf(heap, graph, FlagsOf(heap, graph) & ~kFlagMoreDisplays);
  if (!IsChartType(GraphTypeOf(heap, graph))) return 0;
  const TypeID id = TypeID(typeId ? typeId : ObjWord(heap, graph, kPWDDOTypeId));
  const TypeDescriptor* t = id ? TypeIDGetTD(heap, id, 0) : nullptr;
  int32 plots = 1;
  if (t) {
    t = SkipTypedefs(t);
    int32 dims = 0;
    if (t->code == kTDArray || t->code == kTDArrayView) {
      dims = int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4));
      const TypeDescriptor* e =
          SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(t) + 6 + 4 * dims));
      if (e && e->code == kTDCluster && (dims == 1 || dims == 2)) t = e, dims = 0;
    }
    if (t->code == kTDCluster) plots = int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4));
    else if (dims == 2) plots = PlotLegendRowCount(heap, graph);
  }
  std::vector<int32> parts;
  ForEachPart(heap, graph, [&](int32 part) {
    if (part != graph && Usable(heap, part) && ObjInt16(heap, part, kObjPartId) == kGPartDigitalDisplay &&
        ObjInt16(heap, part, kObjPartOrder) >= plots)
      parts.push_back(part);
  });
  for (int32 part : parts) {
    if (FlagsOf(heap, part) & kObjFlagHidden) continue;
    OInval(heap, part, kInvalAll);
    SetFlagsOf(heap, part, FlagsOf(heap, part) | kObjFlagHidden);
  }
  return 0;
}
