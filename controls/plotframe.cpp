#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <vector>

#include "controls/ctlsize.h"
#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"

int32 GraphPlotBounds(ObjHeap heap, int32 graph, Rect* out) {
  int32 areas = 0;
  Rect u{0, 0, 0, 0};
  if (heap && *heap && graph > 0 && OHIsUsedBlock(heap, graph)) {
    ForEachPart(heap, graph, [&](int32 part) {
      if (OHBlockSize(heap, part) < kObjBounds + int32(sizeof(Rect))) return;
      if (ObjInt16(heap, part, kObjPartId) != kGPartPlotArea || (OHWord(heap, uInt32(part)) & kObjFlagHidden)) return;
      const int32 order = ObjInt16(heap, part, kObjPartOrder);
      if (order < 0) return;
      Rect r;
      std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
      DUnionRect(&r, &u);
      areas = std::max(areas, order + 1);
    });
  }
  if (out) *out = u;
  return areas;
}

void MarkFillTargets(UHandle plots) {
  if (!plots || !*plots || !MemIsDSHandle(plots)) return;
  const int32 size = DSGetHandleSize(plots);
  const int32 n = size >= 4 ? int32(GetNative32(*plots)) : 0;
  if (n <= 0 || int64(n) * kPlotRecBytes > size - 4) return;
  auto* p = reinterpret_cast<PlotRec*>(*plots + 4);
  for (int32 i = 0; i < n; ++i) p[i].fillTarget &= ~1;
  for (int32 i = 0; i < n; ++i) {
    const int32 target = int32(p[i].fillStyle) - 255;
    if (target >= 0 && target < n && target != i) p[target].fillTarget |= 1;
  }
}

MgErr ChartIndexRange(ObjHeap heap, int32 scale, int32* low, int32* high, int16* lowPixel, int16* highPixel,
                      Bool32 autoscale, int32* changed) {
  if (changed) *changed = 0;
  *lowPixel = *highPixel = 0;
  if (autoscale && *low <= *high && *high >= 1) {
    Bool32 moved = false;
    if (MgErr e = CalcScaleMarkers(heap, scale, float64(*low), float64(*high), false, false, &moved)) return e;
    if (changed) *changed = moved ? 1 : 0;
  }
  const ScaleRec* rec = ScaleRecOf(heap, scale);
  if (!rec) return kArgErr;
  const float64 a = std::floor(rec->min), b = std::floor(rec->max);
  if (!std::isfinite(a) || !std::isfinite(b)) return kNoErr;
  const float64 lo = std::max(float64(*low), std::min(a, b));
  const float64 hi = std::min(float64(*high) - 1, std::max(a, b));
  if (lo > hi) return kNoErr;
  *low = int32(lo);
  *high = int32(hi);
  const int32 data = ObjWord(heap, scale, kScaleObjData);
  const float64 values[3] = {lo, hi, hi + 1};
  int16 px[3];
  MapValuesToPixels(heap, data, 10, values, int32(sizeof(float64)), 3, px, int32(sizeof(int16)));
  int16 lp = px[0], hp = px[2];
  if (hp > px[1]) --hp;
  else if (hp < px[1]) ++hp;
  if (hp < lp) {
    std::swap(*low, *high);
    std::swap(lp, hp);
  }
  *lowPixel = lp;
  *highPixel = int16(hp + 1);
  return kNoErr;
}

// ---- The plot-area drawing ---------------------------------------------------------------
namespace {

constexpr const char* kModule = "plotsup2";
constexpr int16 kPartPlotFrame = 9;  // painted into the pixmap with the plot areas
constexpr int32 kDrawModeNormal = 4;

PlotHighlight gHighlight;
GraphTrack gTrack;

uInt32 FlagsOf(ObjHeap heap, int32 o) { return OHWord(heap, uInt32(o)); }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) { OHSetWord(heap, uInt32(o), f); }
bool Hidden(ObjHeap heap, int32 o) { return (FlagsOf(heap, o) & kObjFlagHidden) != 0; }
Rect Bounds(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
bool IsPart(ObjHeap heap, int32 o, int16 id) {
  return o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= kObjBounds + int32(sizeof(Rect)) &&
         ObjInt16(heap, o, kObjPartId) == id;
}
DColor Background(ObjHeap heap, int32 part) {
  return OHBlockSize(heap, part) >= kObjCosmBack + 4 ? DColor(ObjWord(heap, part, kObjCosmBack / 4))
                                                     : kTransparentColor;
}
WindowRef WindowOf(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || !OHIsUsedBlock(heap, ext) || OHBlockSize(heap, ext) < kHeapExtWindow + 4) return 0;
  return WindowRef(GetNative32(*heap + ext + kHeapExtWindow));
}
int16 ToolOf(ObjHeap heap, int32 graph) { return ObjInt16(heap, graph, kGraphToolByte); }

// The data of a chart whose newest points are not drawn yet.
bool ChartPending(ObjHeap heap, int32 graph) {
  const int32 at = ObjWord(heap, graph, kGraphHistoryWord);
  if (at <= 0 || !FPHeapDataPtr(heap, at + 7)) return false;
  const auto* rec = static_cast<const uChar*>(FPHeapDataPtr(heap, at));
  return int32(GetNative32(rec + 4)) > 0;
}

// The scale parts of the graph by order.
struct ScaleParts {
  std::vector<int32> x, y;
  int32 colour = 0;
  GraphScaleTables Tables() const {
    return {x.data(), int32(x.size()), y.data(), int32(y.size()), colour};
  }
};
ScaleParts CollectScales(ObjHeap heap, int32 graph) {
  ScaleParts s;
  ForEachPart(heap, graph, [&](int32 part) {
    if (OHBlockSize(heap, part) < kObjBounds + int32(sizeof(Rect))) return;
    const int16 id = ObjInt16(heap, part, kObjPartId);
    const int32 order = ObjInt16(heap, part, kObjPartOrder);
    // Only scale objects are scales, whatever id a stored part carries.
    if (ObjClass(heap, part) != kClsScale) return;
    std::vector<int32>* table = id == kGPartXScale ? &s.x : id == kGPartYScale ? &s.y : nullptr;
    if (id == kGPartZScale && order == 0 && !s.colour) s.colour = part;
    if (!table || order < 0) return;
    if (int32(table->size()) <= order) table->resize(size_t(order) + 1, 0);
    if (!(*table)[size_t(order)]) (*table)[size_t(order)] = part;
  });
  return s;
}
int32 ScaleAt(const int32* table, int32 n, int32 order) {
  return order >= 0 && order < n ? table[order] : 0;
}
// The plot's scale of that order, else the first (the default).
int32 PlotScale(const int32* table, int32 n, int32 order) {
  if (const int32 s = ScaleAt(table, n, order)) return s;
  return ScaleAt(table, n, 0);
}
int32 ScaleData(ObjHeap heap, int32 scale) { return ObjWord(heap, scale, kScaleObjData); }
bool LogScale(ObjHeap heap, int32 scale) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  return r && r->mapping == kScaleLog;
}

// Sets a scale's range from what was found; a failure ends the drawing.
bool SetRange(ObjHeap heap, int32 scale, float64 lo, float64 hi, PlotDrawState* st) {
  Bool32 moved = false;
  if (CalcScaleMarkers(heap, scale, lo, hi, false, false, &moved) != kNoErr) return false;
  if (moved) st->scaleChanged = true;
  return true;
}

// ---- Graph branches (kinds 3 to 9) ---------------------------------------------------------

bool IsWaveKind(GraphDataKind k) { return k == kKindWaveArray || k == kKindWaveArrayOfArrays || k == kKindWave2D; }

// The points of plot p that its x scale shows (waveforms: the window of
// x0 = 0, dx = 1 on the scale).
void VisibleWindow(ObjHeap heap, int32 graph, int32 xScale, PlotSeries* s, int32* skip) {
  *skip = 0;
  if (!xScale) return;
  float64 x0 = 0;
  int32 n = s->count;
  const int32 k = ClipWaveformToScale(heap, graph, ScaleData(heap, xScale), &x0, &n, 1);
  if (k < 0 || k > s->count || n < 0 || n > s->count - k) return;
  *skip = k;
  s->count = n;
}

int32 AutoscaleGraph(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout& l, const PlotRec* plots) {
  const GraphScaleTables& t = st->scales;
  const bool wave = IsWaveKind(l.kind);
  auto usesX = [&](int32 p, int32 order) { return PlotScale(t.x, t.xCount, plots[p].xScale) == t.x[order]; };
  auto usesY = [&](int32 p, int32 order) { return PlotScale(t.y, t.yCount, plots[p].yScale) == t.y[order]; };
  auto scaleX = [&](int32 o) {
    if (!ScaleAt(t.x, t.xCount, o)) return true;
    const int32 scale = t.x[o];
    float64 lo = 0, hi = 0;
    int16 found = 0;
    int32 m = 0;
    for (int32 p = 0; p < l.plots; ++p) {
      PlotSeries s;
      if (!usesX(p, o) || !GraphLayoutPlot(&l, p, &s)) continue;
      if (wave) m = std::max(m, s.count);
      else ScanNumericRange(s.x, s.xStride, s.count, s.xType, &lo, &hi, &found, LogScale(heap, scale));
    }
    if (wave) return m == 0 || SetRange(heap, scale, 0, float64(m - 1), st);
    return !found || SetRange(heap, scale, lo, hi, st);
  };
  auto scaleY = [&](int32 o) {
    if (!ScaleAt(t.y, t.yCount, o)) return true;
    const int32 scale = t.y[o];
    float64 lo = 0, hi = 0;
    int16 found = 0;
    for (int32 p = 0; p < l.plots; ++p) {
      PlotSeries s;
      if (!usesY(p, o) || !GraphLayoutPlot(&l, p, &s)) continue;
      int32 skip = 0;
      if (wave) VisibleWindow(heap, graph, PlotScale(t.x, t.xCount, plots[p].xScale), &s, &skip);
      ScanNumericRange(s.y ? s.y + int64(skip) * s.yStride : nullptr, s.yStride, s.count, s.yType, &lo, &hi, &found,
                       LogScale(heap, scale));
    }
    return !found || SetRange(heap, scale, lo, hi, st);
  };
  const bool autoX = st->autoscaleMask & kGraphFlagAutoX, autoY = st->autoscaleMask & kGraphFlagAutoY;
  if (l.kind == kKindXYPlots || l.kind == kKindXYArrayPairs) {
    // Scale pairs in order, up to the first order neither table has.
    for (int32 o = 0; o < std::max(t.xCount, t.yCount); ++o) {
      if (!ScaleAt(t.x, t.xCount, o) && !ScaleAt(t.y, t.yCount, o)) break;
      if ((autoX && !scaleX(o)) || (autoY && !scaleY(o))) return kPlotResultFailed;
    }
    return 0;
  }
  for (int32 o = 0; autoX && o < t.xCount; ++o)
    if (!scaleX(o)) return kPlotResultFailed;
  for (int32 o = 0; autoY && o < t.yCount; ++o)
    if (!scaleY(o)) return kPlotResultFailed;
  return 0;
}

int32 DrawGraphBranch(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout& l) {
  if (ResizePlotList(heap, graph, l.plots, st->minPlots, false) != kNoErr) return kPlotResultFailed;
  int32 count = 0;
  PlotRec* plots = GraphPlots(GraphDataOf(heap, graph), &count);
  if (count < l.plots) {
    DBAssert(kModule, __LINE__, "plot list shorter than the value's plots");
    return kPlotResultFailed;
  }
  if (st->autoscaleMask & (kGraphFlagAutoX | kGraphFlagAutoY))
    if (const int32 r = AutoscaleGraph(heap, graph, st, l, plots)) return r;
  // A stored graph may lack its scales: its plots then have nowhere to go.
  const GraphScaleTables& t = st->scales;
  if (!ScaleAt(t.x, t.xCount, 0) || !ScaleAt(t.y, t.yCount, 0)) return 0;
  // Waveforms: the x values once per x scale, as long as its longest plot.
  const bool wave = IsWaveKind(l.kind);
  struct Ramp {
    int32 scale = 0;
    void* values = nullptr;
    int32 size = 0, type = 0, count = 0;
  };
  std::vector<Ramp> ramps;
  if (wave) {
    for (int32 p = 0; p < l.plots; ++p) {
      PlotSeries s;
      GraphLayoutPlot(&l, p, &s);
      const int32 xs = PlotScale(t.x, t.xCount, plots[p].xScale);
      auto it = std::find_if(ramps.begin(), ramps.end(), [&](const Ramp& r) { return r.scale == xs; });
      if (it == ramps.end()) it = ramps.insert(ramps.end(), Ramp{xs});
      it->count = std::max(it->count, s.count);
    }
    for (Ramp& r : ramps) r.values = MakeRampArray(0, 1, r.count, true, &r.size, &r.type);
  }
  int32 result = 0;
  for (int32 p = 0; p < count && !result; ++p) {
    // Re-read: the mapping may move the data space.
    plots = GraphPlots(GraphDataOf(heap, graph), &count);
    if (!plots || p >= count) break;
    PlotRec* rec = plots + p;
    const int32 xs = PlotScale(t.x, t.xCount, rec->xScale), ys = PlotScale(t.y, t.yCount, rec->yScale);
    PlotSeries s;
    const bool has = p < l.plots && GraphLayoutPlot(&l, p, &s);
    if (!has) s = PlotSeries{};
    if (wave) {
      int32 skip = 0;
      const Ramp* ramp = nullptr;
      for (const Ramp& r : ramps)
        if (r.scale == xs) ramp = &r;
      if (has) VisibleWindow(heap, graph, xs, &s, &skip);
      const uChar* x = ramp && ramp->values ? static_cast<const uChar*>(ramp->values) + int64(skip) * ramp->size
                                             : nullptr;
      const uChar* y = s.y ? s.y + int64(skip) * s.yStride : nullptr;
      result = MapPlotToPixelsDecimated(heap, graph, xs, ys, rec, x, y, ramp ? ramp->size : 0, s.yStride, s.count,
                                        ramp ? ramp->type : 0, s.yType);
    } else {
      result = MapPlotToPixels(heap, graph, xs, ys, rec, s.x, s.y, s.xStride, s.yStride, s.count, s.xType, s.yType);
    }
  }
  for (Ramp& r : ramps)
    if (r.values) DSDisposePtr(static_cast<UPtr>(r.values));
  st->newData = true;
  st->fullRedraw = true;
  return result ? kPlotResultFailed : 0;
}

// ---- The intensity graph (kind 17) ---------------------------------------------------------

int32 DrawIntensityGraph(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout& l) {
  const GraphScaleTables& t = st->scales;
  const int32 xScale = ScaleAt(t.x, t.xCount, 0), yScale = ScaleAt(t.y, t.yCount, 0);
  if (!xScale || !yScale || !t.colour) {
    st->fullRedraw = true;  // a stored graph without its scales shows no image
    return 0;
  }
  int32 first = 0, second = 0;
  GraphLayoutDims(&l, &first, &second);
  const bool transposed = l.graphType == kGraphIntensityTransposed;
  // x runs along the first dimension, y along the second (swapped when transposed).
  int32 xl = 0, xh = transposed ? second : first, yl = 0, yh = transposed ? first : second;
  int16 left = 0, right = 0, top = 0, bottom = 0;
  int32 changed = 0;
  if (ChartIndexRange(heap, xScale, &xl, &xh, &left, &right, (st->autoscaleMask & kGraphFlagAutoX) != 0, &changed))
    return kPlotResultFailed;
  if (changed) st->scaleChanged = true;
  if (ChartIndexRange(heap, yScale, &yl, &yh, &top, &bottom, (st->autoscaleMask & kGraphFlagAutoY) != 0, &changed))
    return kPlotResultFailed;
  if (changed) st->scaleChanged = true;
  // The index ranges come ordered by pixel: xl at the left, yl at the top.
  Rect pixels{top, left, bottom, right};
  if (!first || !second || DEmptyRect(&pixels)) {
    st->fullRedraw = true;
    return 0;
  }
  UHandle data = nullptr;
  std::memcpy(&data, l.value, sizeof data);
  // x walks the outer indexes, y the inner ones; the transposed graph takes
  // its outer indexes from the second dimension.
  const int32 fo = xl, lo = xh, fi = yl, li = yh;
  if (st->autoscaleMask & kGraphFlagAutoZ) {
    int32 zChanged = 0;
    if (ScanZRange(heap, graph, data, fi, fo, li, lo, transposed, &zChanged)) return kPlotResultFailed;
    if (zChanged) st->scaleChanged = true;
  }
  Rect clipped;
  if (!DSectRect(&pixels, &st->inner, &clipped)) {
    st->fullRedraw = true;
    return 0;
  }
  const int32 at = ObjWord(heap, graph, kGraphImageWord);
  auto* rec = at > 0 && FPHeapDataPtr(heap, at + int32(sizeof(IntensityRec)) - 1)
                  ? reinterpret_cast<IntensityRec*>(FPHeapDataPtr(heap, at))
                  : nullptr;
  if (!rec || !rec->colorTable || !rec->image) {
    DBAssert(kModule, __LINE__, "intensity graph without its colour table or image");
    return kPlotResultFailed;
  }
  rec->SetDrawn(clipped);
  if (const int32 r =
          BuildIntensityBitmap(heap, graph, t.colour, data, fi, fo, li, lo, rec->image, &clipped, &pixels, transposed))
    return r;
  const int32 drawn = DrawIntensChartUpdate(heap, graph, nullptr, false);
  if (drawn & kPlotResultRedraw) {
    st->newData = true;
    st->workFlags |= kPlotWorkCircular;
  }
  st->fullRedraw = false;
  return 0;
}

void FrameTrackedRect(ObjHeap heap, int32 graph) {
  ObjHeap th = nullptr;
  int32 to = 0, state = 0;
  SetTrackObject(nullptr, 0, &th, &to, 0);
  TrackState(0, &state, 0);
  const int16 tool = ToolOf(heap, graph);
  if (th != heap || to != graph || !state || tool < 2 || tool > 4) return;
  // The tracking pen inverts: framing the same rectangle again takes it away.
  PenState xorPen{};
  xorPen.mode = 2;
  const int32 pen = DNewPen(kDefaultPenBase, kPenMode | kPenFore, &xorPen);
  Rect r;
  DPt2Rect(gTrack.anchor, gTrack.current, &r);
  if (pen) DSelectPen(pen, 0, 0xFFFFFF);
  DFrameRect(&r);
  DSelectNormPen(0, 0);
  if (pen) DDestroyPen(pen);
}

}  // namespace

const PlotHighlight& CurrentPlotHighlight() { return gHighlight; }
void SetGraphTrack(const GraphTrack& track) { gTrack = track; }
const GraphTrack& CurrentGraphTrack() { return gTrack; }

Bool32 IsChartScrollTracked(ObjHeap heap, int32 graph) {
  ObjHeap th = nullptr;
  int32 to = 0;
  SetTrackObject(nullptr, 0, &th, &to, 0);
  if (!heap || th != heap || to != graph || gTrack.partId != kGPartChartScrollbar) return false;
  if (FlagsOf(heap, graph) & kGraphFlagScrollHeld) return true;
  DBPrintf("stop the press");
  return false;
}

void PaintPlotAreas(ObjHeap heap, int32 graph, const int16* pair, const Rect* clip, Bool32 intoPixmap) {
  if (clip && DEmptyRect(clip)) return;
  if (GraphTypeOf(heap, graph) == -1) return;
  Rect saved{0, 0, 0, 0};
  const bool limit = intoPixmap && clip;
  if (limit) WLimitClip(clip, &saved);
  std::vector<int32> parts;
  ForEachPart(heap, graph, [&](int32 part) { parts.push_back(part); });
  auto paint = [&](int32 part, DColor colour) {
    Rect r = Bounds(heap, part);
    DInsetRect(&r, 1, 1);
    if (clip && !DSectRect(&r, clip, &r)) return;
    if (colour == kTransparentColor) return;
    DSelectNormPen(colour, colour);
    DPaintRect(&r);
  };
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const int32 part = *it;
    if (!OHIsUsedBlock(heap, part) || Hidden(heap, part)) continue;
    if (intoPixmap && IsPart(heap, part, kPartPlotFrame)) paint(part, Background(heap, part));
    if (!IsPart(heap, part, kGPartPlotArea)) continue;
    // The image keeps whatever was last drawn into it: its background is
    // painted in the part's colour first, then the part's own look (its
    // image, which may be none) goes over it.
    paint(part, Background(heap, part));
    if (intoPixmap) ODrawObj(heap, part, 0, 0, kDrawModeNormal);
    DrawGraphGrids(heap, graph, clip, 0, ObjInt16(heap, part, kObjPartOrder), pair ? pair[1] : 0);
  }
  if (limit) WRestoreClip(&saved);
}

int32 DrawPlotArea(ObjHeap heap, int32 graph, void* value, int32 updateDraw, int32 plotArea, int32 blinkMode,
                   int32 allowAutoscale) {
  // 1. Hidden objects draw nothing.
  const int32 type = GraphTypeOf(heap, graph);
  if (type == -1 || OHBlockSize(heap, graph) < kGraphObjectBytes) return 0;
  if (Hidden(heap, graph)) return 0;
  if (!plotArea) plotArea = FindPart(heap, graph, kGPartPlotArea, 0);
  if (plotArea && !IsPart(heap, plotArea, kGPartPlotArea)) plotArea = 0;
  PlotDrawState st{};
  st.updateDraw = updateDraw != 0;
  ClearChartRangeMark();
  // 2. The plot areas, their union and the plot list's minimum.
  st.areas = GraphPlotBounds(heap, graph, &st.bounds);
  st.inner = st.bounds;
  DInsetRect(&st.inner, 1, 1);
  st.minPlots = std::max(PlotLegendRowCount(heap, graph), st.areas);
  // 3. Transparent or flagged plot areas.
  auto note = [&](int32 part) {
    if (Background(heap, part) == kTransparentColor) st.workFlags |= kPlotWorkTransparent;
    if (FlagsOf(heap, part) & kPlotAreaFlagged) st.workFlags |= kPlotWorkFlagged;
  };
  if (plotArea) note(plotArea);
  if (st.areas > 1)
    ForEachPart(heap, graph, [&](int32 part) {
      if (IsPart(heap, part, kGPartPlotArea) && !Hidden(heap, part)) note(part);
    });
  const bool immediate = !updateDraw;
  const bool chart = IsChartType(type);
  const bool sweep = type == kChartSweep || type == kIntensChartLast;
  const WindowRef window = WindowOf(heap);
  const uInt32 flagsBefore = FlagsOf(heap, graph);
  int32 result = 0;
  ScaleParts scales;
  const bool screen = DIsScreenPort() != 0;
  // 4. An immediate draw cannot draw over a transparent or flagged area.
  if (immediate && window &&
      ((!chart && (st.workFlags & (kPlotWorkTransparent | kPlotWorkFlagged))) ||
       (sweep && (st.workFlags & kPlotWorkFlagged) && ChartPending(heap, graph)))) {
    SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kGraphFlagPending);
    WInvalRect(window, &st.inner);
    result = kPlotResultRedraw;
    goto frame;
  }
  {
    // 5. The scale parts by order.
    scales = CollectScales(heap, graph);
    st.scales = scales.Tables();
    // 6. Strip charts scroll their pixels only over an opaque, unflagged area.
    st.stripScroll =
        PrefGet(kPrefScrollingStripCharts) && !(st.workFlags & (kPlotWorkTransparent | kPlotWorkFlagged));
    // 7. Autoscaling.
    if ((immediate || (flagsBefore & kGraphFlagPending)) && allowAutoscale)
      st.autoscaleMask = flagsBefore & kGraphAutoscaleMask;
    // 8. The offscreen pixmap.
    const bool wanted = PrefGet(kPrefOffscreenUpdates) || (flagsBefore & kGraphFlagSmooth);
    const bool opaqueSweep = sweep && !st.stripScroll && !(st.workFlags & kPlotWorkTransparent);
    // Only a pixmap is the cache; any other word is forgotten.
    if (const int32 cached = ObjWord(heap, graph, kGraphPixmapWord); cached && IKindOf(cached) != kImagePixmap)
      ObjSetWord(heap, graph, kGraphPixmapWord, 0);
    if (!screen || !window ||
        ((!wanted || (st.workFlags & (kPlotWorkTransparent | kPlotWorkFlagged))) && !opaqueSweep)) {
      if (const int32 cached = ObjWord(heap, graph, kGraphPixmapWord)) {
        IRelease(cached);
        ObjSetWord(heap, graph, kGraphPixmapWord, 0);
      }
    } else {
      st.pixmap = ObjWord(heap, graph, kGraphPixmapWord);
      if (!st.pixmap) {
        int32 image = 0;
        if (ICreatePixmap(window, &st.bounds, 0, &image) != kNoErr || !image) {
          DBPrintf("couldn't create pixmap of bnds %R", &st.bounds);
        } else {
          st.pixmap = image;
          ObjSetWord(heap, graph, kGraphPixmapWord, image);
          if ((type >= kChartSweep && type <= kIntensChartLast) || type == kGraphIntensity ||
              type == kGraphIntensityTransposed) {
            ImageSaveRecord save{};
            IOpen(image, &save);
            PaintPlotAreas(heap, graph, nullptr, nullptr, true);
            IClose(image, &save);
          }
        }
      }
    }
    // 9. The highlighted plot, in blink mode 1 only.
    gHighlight = PlotHighlight{blinkMode == 1, blinkMode == 1 ? ObjInt16(heap, graph, kGraphHighlightPlotByte) : -1};
    // 10. Fill targets.
    GraphData* data = GraphDataOf(heap, graph);
    if (!data) {
      DBAssert(kModule, __LINE__, "graph without its plot list");
      result = kPlotResultFailed;
      goto frame;
    }
    MarkFillTargets(data->plots);
    // 11. The plots by kind.
    // A stored type ID that names nothing gives a value that cannot be plotted.
    const TypeDescriptor* td = TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
    GraphLayout layout;
    const GraphDataKind kind = GraphLayoutOf(heap, graph, td, value, &layout);
    st.fullRedraw = true;
    switch (kind) {
      case kKindChartPoint: case kKindChartCluster: case kKindChartArray: case kKindChartClusters:
      case kKindChart2D:
        result = DrawChartBranch(heap, graph, &st, &layout);
        break;
      case kKindWaveArray: case kKindWaveArrayOfArrays: case kKindWave2D: case kKindXYPoints:
      case kKindXYPlots: case kKindXYArrays: case kKindXYArrayPairs:
        result = DrawGraphBranch(heap, graph, &st, layout);
        break;
      case kKindWaveform: case kKindWaveforms: case kKindWaveArrays: case kKindWave2DScaled:
        st.newData = true;
        result = PrepareWaveformPlots(heap, graph, &st, &layout);
        break;
      case kKindIntensChart:
        result = DrawIntensChartBranch(heap, graph, &st, &layout);
        break;
      case kKindIntensGraph:
        result = layout.value ? DrawIntensityGraph(heap, graph, &st, layout) : 0;
        break;
      default:
        DBPrintf("bad plot type");
        break;
    }
    if (result & kPlotResultFailed) goto frame;
    // 12. Cursors follow new scales, then the plots are drawn.
    if (plotArea) {
      if (st.updateDraw) st.workFlags |= kPlotWorkUpdate;
      if (st.newData) st.workFlags |= kPlotWorkNewData;
      if (st.fullRedraw) st.workFlags |= kPlotWorkFullRedraw;
      // Snapped cursors follow new data as well as new scales.
      if (!chart && (st.scaleChanged || st.newData) &&
          ((st.scaleChanged && OffsetGraphCursors(heap, graph) != kNoErr) ||
           ResnapGraphCursors(heap, graph, value, false, false) != kNoErr)) {
        result = kPlotResultFailed;
        goto frame;
      }
      data = GraphDataOf(heap, graph);
      result = RefreshPlotImage(heap, graph, &st.bounds, &st.inner, st.workFlags, data ? data->plots : nullptr,
                                st.areas);
    }
    // 13. The object's redraw marks.
    uInt32 f = FlagsOf(heap, graph);
    if (immediate) f = (result & kPlotResultRedraw) ? f | kGraphFlagPending : f & ~kGraphFlagPending;
    // A branch that left its drawing to the next update keeps the mark.
    const bool keepFull = ((flagsBefore & kGraphFlagFullRedraw) && (f & kGraphFlagPending)) || st.markFullRedraw;
    f = keepFull || !screen ? f | kGraphFlagFullRedraw : f & ~kGraphFlagFullRedraw;
    SetFlagsOf(heap, graph, f);
    if (st.scaleChanged) result |= kPlotResultRedraw;
  }
frame:
  // 14. The rectangle a zoom tool drags, on every path.
  FrameTrackedRect(heap, graph);
  return result;
}
