// The chart branch of the plot-area drawing (charts of numbers, clusters
// and arrays): the newest points of the history are mapped onto the pixel
// arrays of the plots, the x scale follows them, and the plot area is
// swept, redrawn or scrolled as the chart's update mode asks; and the
// scrolling of the plots' stored pixels.  Histories come from diagrams:
// every point read lies inside the history handle.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "mgsource/draw/image.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/objects.h"
#include "panel/oinit.h"

namespace {

constexpr const char* kModule = "plotsup2";

// A plot's pixel arrays when both hold its point count.
struct Pixels {
  int16* x = nullptr;
  int16* y = nullptr;
  int32 count = 0;
};
Pixels PixelsOf(PlotRec& p) {
  Pixels px;
  if (!p.xs || !p.ys || !*p.xs || !*p.ys || !MemIsDSHandle(p.xs) || !MemIsDSHandle(p.ys)) return px;
  const int32 room = std::min(DSGetHandleSize(p.xs), DSGetHandleSize(p.ys)) - 4;
  if (room < 0) return px;
  px.count = std::clamp(p.count, 0, room / 2);
  px.x = reinterpret_cast<int16*>(*p.xs + 4);
  px.y = reinterpret_cast<int16*>(*p.ys + 4);
  return px;
}
void SetCount(PlotRec& p, int32 n) {
  p.count = n;
  if (p.xs && *p.xs && DSGetHandleSize(p.xs) >= 4) PutNative32(*p.xs, uInt32(n));
  if (p.ys && *p.ys && DSGetHandleSize(p.ys) >= 4) PutNative32(*p.ys, uInt32(n));
}
PlotRec* Plots(ObjHeap heap, int32 graph, int32* n) { return GraphPlots(GraphDataOf(heap, graph), n); }
WindowRef WindowOf(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || !OHIsUsedBlock(heap, ext) || OHBlockSize(heap, ext) < kHeapExtWindow + 4) return 0;
  return WindowRef(GetNative32(*heap + ext + kHeapExtWindow));
}

// The width of the first plot area's inside (the circular image's width).
int32 PlotAreaWidth(ObjHeap heap, int32 graph) {
  const int32 part = FindPart(heap, graph, kGPartPlotArea, 0);
  if (part <= 0 || OHBlockSize(heap, part) < kObjBounds + int32(sizeof(Rect))) return 0;
  Rect r;
  std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
  return std::max(0, r.right - r.left - 2);
}

int32 XWidth(const ScaleRec* x) { return std::abs(int32(x->pixelEnd) - int32(x->pixelStart)); }
bool Reversed(const ScaleRec* x) { return (x->pixelStart < x->pixelEnd) != (x->min < x->max); }

// The first and last drawn x pixels of plot 0 (false when it holds none).
bool FirstLastX(ObjHeap heap, int32 graph, int16* first, int16* last) {
  int32 n = 0;
  PlotRec* p = Plots(heap, graph, &n);
  if (!p || n < 1) return false;
  const Pixels px = PixelsOf(p[0]);
  if (px.count < 1) return false;
  *first = px.x[0];
  *last = px.x[px.count - 1];
  return true;
}

void MoveAllX(ObjHeap heap, int32 graph, int32 by) {
  int32 n = 0;
  PlotRec* p = Plots(heap, graph, &n);
  for (int32 i = 0; p && i < n; ++i) {
    const Pixels px = PixelsOf(p[i]);
    for (int32 k = 0; k < px.count; ++k)
      if (px.x[k] != kPlotGap) px.x[k] = int16(std::clamp(int32(px.x[k]) - by, -15000, 15000));
  }
}

// Where each plot's number lies inside a point, with its numeric type.
struct Element {
  int32 offset;
  int32 type;
};
// The plots of a chart value: the point's stride and one element a plot;
// false for a point the branch cannot read.
bool PointElements(const GraphLayout* layout, int32 historyPlots, std::vector<Element>* out, int32* stride) {
  const TypeDescriptor* t = layout->td;
  if (!t) return false;
  const uChar* b = reinterpret_cast<const uChar*>(t);
  auto skip = [](const TypeDescriptor* d) { return d ? SkipTypedefs(d) : nullptr; };
  if (layout->kind == kKindChartArray || layout->kind == kKindChartClusters || layout->kind == kKindChart2D) {
    if (t->code != kTDArray && t->code != kTDArrayView) return false;
    const int32 dims = int16(GetNative16(b + 4));
    t = skip(reinterpret_cast<const TypeDescriptor*>(b + 6 + 4 * dims));
  }
  if (!t) return false;
  out->clear();
  if (layout->kind == kKindChartCluster || layout->kind == kKindChartClusters) {
    if (t->code != kTDCluster) return false;
    const int32 count = int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4));
    int32 at = 0;
    for (int32 i = 0; i < count; ++i) {
      const TypeDescriptor* e = ElemTD(t, i);
      if (!e) return false;
      at = AlignDatum(e, at);
      out->push_back({at, skip(e)->code & ~0x10});
      at += DataSize(e);
    }
    *stride = DataSize(t);
  } else {
    const int32 size = DataSize(t);
    const int32 plots = layout->kind == kKindChart2D ? historyPlots : 1;
    if (plots < 1 || plots > 0x10000 || size <= 0) return false;
    for (int32 i = 0; i < plots; ++i) out->push_back({i * size, t->code & ~0x10});
    *stride = size * plots;
  }
  return *stride > 0 && !out->empty();
}

}  // namespace

int32 DrawChartBranch(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout* layout) {
  // 1. The chart record, the history and the x scale.
  ChartHistory* rec = ChartRecordOf(heap, graph);
  const int32 xScale = st->scales.xCount > 0 ? st->scales.x[0] : 0;
  const ScaleRec* x = xScale ? ScaleRecOf(heap, xScale) : nullptr;
  if (!rec || !x) {
    DBAssert(kModule, __LINE__, "chart without its record or x scale");
    return 0;
  }
  // A pending count the writers could not have left is held to what was written.
  rec->pending = std::clamp(rec->pending, 0, std::max(rec->total, 0));
  ChartHistoryPoints hist;
  const bool twoD = layout->kind == kKindChart2D;
  if (!ChartHistoryPointsOf(rec->buffer, twoD, &hist)) {
    st->fullRedraw = true;
    return 0;
  }
  const int32 L = hist.length;
  rec->pending = int32(std::min<int64>(rec->pending, L));
  std::vector<Element> elements;
  int32 stride = 0;
  if (!PointElements(layout, hist.plots, &elements, &stride)) return 0;
  // Only the whole points the handle holds are read.
  if (int64(L) * stride > hist.bytes) {
    DBPrintf("chart history smaller than its length");
    return 0;
  }
  const int32 type = GraphTypeOf(heap, graph);
  const int32 mode = ChartModeOf(type);
  const bool immediate = !st->updateDraw;
  const bool screen = DIsScreenPort() != 0;
  const bool opaque = !(st->workFlags & kPlotWorkTransparent);
  const bool flagged = (st->workFlags & kPlotWorkFlagged) != 0;
  const bool redrawPending = (OHWord(heap, uInt32(graph)) & kGraphFlagPending) != 0;
  const int32 xData = ObjWord(heap, xScale, kScaleObjData);
  const int64 total = std::max(rec->total, 0);
  rec->pending = int32(std::clamp<int64>(rec->pending, 0, std::min<int64>(total, L)));

  // 2. A transparent or flagged area is drawn again from one pixel back.
  bool backedUp = false;
  if (immediate && rec->pending > 0 &&
      ((flagged && mode != kChartModeC) || ((st->workFlags & kPlotWorkTransparent) && mode == kChartModeA))) {
    const float64 index = float64(total - rec->pending - 1);
    int16 px = 0;
    MapValuesToPixels(heap, xData, 10, &index, 8, 1, &px, 2);
    px = int16(px + (Reversed(x) ? 1 : -1));
    float64 value = 0;
    MapPixelsToValues(heap, xData, 10, &px, 1, 1, &value, 8);
    if (!(value > 0)) value = 0;
    rec->pending = int32(std::clamp<int64>(total - int64(std::floor(std::min(value, 1e15))), 0,
                                           std::min<int64>(total, L)));
    backedUp = true;
  }

  // 3 to 5. The window.
  const ChartWindowOptions options{kGraphFlagAutoX | kGraphFlagAutoY, false};
  ChartWindow win;
  if (int32 r = ChartUpdateWindow(heap, graph, st, xScale, rec, L, &options, &win)) return r;
  if (backedUp) win.emptyPlots = true;
  int32 n = win.n;
  const int32 pendingNow = rec->pending;

  // 6.
  if (st->updateDraw && mode != kChartModeA && rec->pending == 0) st->fullRedraw = false;

  int32 result = 0;
  int32 scroll = 0;
  float64 xShift = 0;
  x = ScaleRecOf(heap, xScale);
  if (!x) return kPlotResultFailed;
  if (n == 0) {
    // 7. Nothing new.
    int16 first = 0, last = 0;
    const bool any = FirstLastX(heap, graph, &first, &last);
    if (mode == kChartModeC && st->updateDraw && screen && opaque) {
      st->workFlags = st->stripScroll ? st->workFlags & ~kPlotWorkCircular : st->workFlags | kPlotWorkCircular;
    } else if (!any) {
      st->fullRedraw = st->updateDraw || st->scaleChanged;
      st->newData = false;
    } else if (immediate && !win.follow) {
      ClearChartPlotData(GraphDataOf(heap, graph));
    } else if (immediate) {
      st->fullRedraw = false;
    } else if (mode == kChartModeA && redrawPending) {
      int32 amount = 0;
      if (first < st->inner.left) amount = -XWidth(x);
      if (last > st->inner.right) amount = XWidth(x);
      int32 plots = 0;
      Plots(heap, graph, &plots);
      if (amount) result |= ScrollChartPlots(heap, graph, &st->inner, amount, plots, st->areas, st->workFlags);
      if (FirstLastX(heap, graph, &first, &last)) {
        st->inner.left = int16(first - 1);
        st->inner.right = int16(last + 1);
      }
    }
  } else {
    // 8. New points.
    st->newData = true;
    const int32 plots = int32(elements.size());
    if (ResizePlotList(heap, graph, plots, st->minPlots, false) != kNoErr) return kPlotResultFailed;
    int32 have = 0;
    PlotRec* p = Plots(heap, graph, &have);
    if (!p || have < plots) return kPlotResultFailed;
    const int32 startSlot = int32(((int64(total) - pendingNow) % L + L) % L);
    if (st->autoscaleMask & kGraphFlagAutoY) {
      for (int32 order = 0; order < st->scales.yCount; ++order) {
        const int32 yScale = st->scales.y[order];
        if (!yScale) continue;
        const ScaleRec* yr = ScaleRecOf(heap, yScale);
        if (!yr) continue;
        const bool positive = yr->mapping == 1;
        float64 lo = 0, hi = 0;
        int16 found = 0;
        for (int32 i = 0; i < plots; ++i) {
          p = Plots(heap, graph, &have);
          const int32 uses = (layout->kind == kKindChartPoint || layout->kind == kKindChartArray) ? p[0].yScale
                                                                                                 : p[i].yScale;
          if (uses != order || (i > 0 && (layout->kind == kKindChartPoint || layout->kind == kKindChartArray)))
            continue;
          const uChar* base = hist.points + elements[size_t(i)].offset;
          const int32 first = std::min(n, L - startSlot);
          float64 a = 0, b = 0;
          int16 got = 0;
          ScanNumericRange(base + int64(startSlot) * stride, stride, first, elements[size_t(i)].type, &a, &b, &got,
                           positive);
          if (got) lo = found ? std::min(lo, a) : a, hi = found ? std::max(hi, b) : b, found = 1;
          if (n > first) {
            got = 0;
            ScanNumericRange(base, stride, n - first, elements[size_t(i)].type, &a, &b, &got, positive);
            if (got) lo = found ? std::min(lo, a) : a, hi = found ? std::max(hi, b) : b, found = 1;
          }
        }
        if (found) {
          Bool32 moved = false;
          if (CalcScaleMarkers(heap, yScale, lo, hi, false, false, &moved) != kNoErr) return kPlotResultFailed;
          if (moved) st->scaleChanged = true;
        }
      }
    }
    int32 firstIndex = int32(total - pendingNow);
    if (!st->scaleChanged && win.c > 0 && (immediate || (mode == kChartModeC && opaque))) {
      const int32 c = std::min(win.c, n);
      rec->pending -= c;
      n -= c;
      firstIndex += c;
    }
    if (win.emptyPlots || (win.emptyOnChange && st->scaleChanged)) ClearChartPlotData(GraphDataOf(heap, graph));
    if (mode == kChartModeC && !st->stripScroll && st->pixmap && st->scaleChanged && !win.repainted &&
        IKindOf(st->pixmap) == kImagePixmap) {
      ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
      ImageSaveRecord save{};
      IOpen(st->pixmap, &save);
      PaintPlotAreas(heap, graph, nullptr, nullptr, true);
      IClose(st->pixmap, &save);
    }
    for (int32 i = 0; i < plots && n > 0; ++i) {
      p = Plots(heap, graph, &have);
      if (!p || i >= have) return kPlotResultFailed;
      const int32 yScale = st->scales.yCount > 0
                               ? st->scales.y[std::clamp<int32>(p[i].yScale, 0, st->scales.yCount - 1)]
                               : 0;
      if (!yScale) continue;
      int32 shift = 0, changed = 0;
      float64 value = 0;
      result |= ChartAppendPixels(heap, graph, xScale, yScale, &p[i], L, n, firstIndex,
                                  hist.points + elements[size_t(i)].offset, stride, &shift, &value,
                                  elements[size_t(i)].type, &changed);
      // Only the last plot follows the newest point; a shift counts only
      // past the scale's pixel end.
      if (i == plots - 1 && win.follow) {
        x = ScaleRecOf(heap, xScale);
        const bool past = x && (x->pixelEnd >= x->pixelStart ? shift > 0 : shift < 0);
        if (past && mode == kChartModeC) {
          scroll = shift, xShift = value;
        } else if (past) {
          // Sweeps and windows move up by whole spans until the newest point
          // lies inside; the picture moves by as many pixel widths.
          const float64 top = std::max(x->min, x->max), span = std::fabs(x->max - x->min);
          const float64 last = float64(firstIndex) + n - 1;
          if (span > 0 && std::isfinite(span) && last >= top) {
            const float64 steps = std::floor((last - top) / span) + 1;
            xShift = steps * span;
            const float64 perUnit = (float64(x->pixelEnd) - x->pixelStart) / (x->max - x->min);
            scroll = int32(std::clamp(std::round(xShift * perUnit), -30000.0, 30000.0));
          }
        }
      }
    }
    if (result & kPlotResultFailed) return result;
  }
  // 9. The x scale moves with the newest point.
  if (xShift != 0) result |= ChartShiftXScale(heap, graph, xScale, xShift, st->updateDraw, redrawPending);
  x = ScaleRecOf(heap, xScale);
  if (!x) return kPlotResultFailed;
  int32 plotCount = 0;
  Plots(heap, graph, &plotCount);
  if (mode == kChartModeC) {
    // 10.
    // The stored pixels follow the scroll first: the circular image takes
    // the new pixels where the scroll left them, at the area's right end.
    if (scroll) MoveAllX(heap, graph, scroll);
    if (opaque && screen && !st->stripScroll) {
      if (n > 0) {
        // The band of new pixels lies at the area's right end only when the
        // chart scrolled; points that land inside the area (the first pass,
        // or after the scale moved) are shown by drawing the image again
        // whole from the plots, from position 0.
        int32 shift = scroll;
        const int32 width = scroll ? 0 : PlotAreaWidth(heap, graph);
        if (width > 0) {
          ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
          shift = width;
        }
        DrawScrollingChart(heap, graph, GraphDataOf(heap, graph)->plots, shift, st->areas);
      }
      st->workFlags |= kPlotWorkCircular;
      st->fullRedraw = flagged;
    } else if (st->stripScroll) {
      if (scroll) {
        const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
        const DColor back = area > 0 && OHBlockSize(heap, area) >= kObjCosmBack + 4
                                ? DColor(ObjWord(heap, area, kObjCosmBack / 4))
                                : DColor(0xFFFFFF);
        DScrollRect(&st->inner, -scroll, 0, false, back, back);
        const int32 w = std::abs(scroll) + 1;
        if (scroll > 0) st->inner.left = int16(std::max<int32>(st->inner.left, st->inner.right - w));
        else st->inner.right = int16(std::min<int32>(st->inner.right, st->inner.left + w));
        DrawGraphGrids(heap, graph, &st->inner, st->areas, -1, 0);
      }
      st->fullRedraw = st->scaleChanged;
    } else if (!opaque && !st->scaleChanged && !scroll && !flagged) {
      st->fullRedraw = false;
    }
    st->newData = !(immediate && (n == 0 || (flagged && !opaque && scroll)));
  } else {
    // 11.
    if (immediate && (flagged || (!opaque && mode == kChartModeA))) st->newData = false;
    if (ChartRangeMarked() && xShift == 0) {
      ScaleRec* xs = ScaleRecOf(heap, xScale);
      const float64 w = std::fabs(xs->max - xs->min);
      xs->min += w;
      xs->max += w;
      scroll = XWidth(xs);
    }
    ClearChartRangeMark();
    int16 first = 0, last = 0;
    if (!scroll) {
      const bool allPending = pendingNow >= std::min<int64>(total, L) && total > 0;
      if ((allPending && (st->updateDraw || st->scaleChanged)) ||
          (mode == kChartModeA && IsChartScrollTracked(heap, graph))) {
        if (FirstLastX(heap, graph, &first, &last)) {
          Rect beyond = st->inner;
          if (Reversed(x)) beyond.right = std::min<int16>(beyond.right, last);
          else beyond.left = std::max<int16>(beyond.left, int16(last + 1));
          if (beyond.left < beyond.right) {
            if (!st->newData) {
              if (const WindowRef w = WindowOf(heap)) WInvalRect(w, &beyond);
            } else {
              PaintPlotAreas(heap, graph, nullptr, &beyond, false);
            }
          }
        }
      } else if (!st->scaleChanged) {
        st->fullRedraw = false;
      } else if (mode == kChartModeA && FirstLastX(heap, graph, &first, &last)) {
        st->inner.left = std::min(first, last);
        st->inner.right = std::max(first, last);
      }
    } else {
      int32 wf = st->workFlags;
      if (st->updateDraw) wf |= kPlotWorkUpdate;
      if (st->newData) wf |= kPlotWorkNewData;
      if (st->fullRedraw && st->scaleChanged) wf |= kPlotWorkFullRedraw;
      result |= ScrollChartPlots(heap, graph, &st->inner, scroll, plotCount, st->areas, wf);
      // A window that moved on starts a new page.
      if (mode == kChartModeB) st->fullRedraw = true;
    }
    if ((mode == kChartModeA && !(result & kPlotResultRedraw)) ||
        (immediate && flagged && !st->scaleChanged && !scroll)) {
      if (FirstLastX(heap, graph, &first, &last)) {
        st->inner.left = std::min(first, last);
        st->inner.right = std::max(first, last);
        st->fullRedraw = first != last;
      }
    }
    if (mode != kChartModeA && !scroll) {
      int32 n0 = 0;
      PlotRec* p = Plots(heap, graph, &n0);
      int32 top = INT32_MAX, bottom = INT32_MIN;
      const int32 count = n0 > 0 ? PixelsOf(p[0]).count : 0;
      for (int32 i = 0; i < n0; ++i) {
        const Pixels px = PixelsOf(p[i]);
        for (int32 k = 0; k < std::min(count, px.count); ++k) {
          if (px.y[k] == kPlotGap) continue;
          top = std::min<int32>(top, px.y[k]);
          bottom = std::max<int32>(bottom, px.y[k]);
        }
      }
      if (top <= bottom) {
        st->inner.top = int16(top);
        st->inner.bottom = int16(bottom + 1);
      }
    }
  }
  // 12.
  rec->pending = std::max(0, rec->pending - n);
  if (st->updateDraw) st->scaleChanged = false;
  return result;
}

int32 ScrollChartPlots(ObjHeap heap, int32 graph, Rect* rect, int32 scroll, int32 plots, int32 areas, int32 workFlags) {
  // 1. The first x scale and the plots holding as many points as plot 0.
  const int32 xScale = FindPart(heap, graph, kGPartXScale, 0);
  const ScaleRec* x = xScale > 0 ? ScaleRecOf(heap, xScale) : nullptr;
  int32 have = 0;
  PlotRec* p = Plots(heap, graph, &have);
  if (!x || !p || !rect) {
    DBAssert(kModule, __LINE__, "chart scroll without its x scale or plots");
    return 0;
  }
  plots = std::clamp(plots, 0, have);
  if (plots < 1) return 0;
  const Pixels p0 = PixelsOf(p[0]);
  const int32 count = p0.count;
  for (int32 i = 1; i < plots; ++i)
    if (PixelsOf(p[i]).count != count) {
      plots = i;
      break;
    }
  const bool modeA = ChartModeOf(GraphTypeOf(heap, graph)) == kChartModeA;
  // 2. The first point outside the rectangle on the side the plots leave by.
  int32 k = count;
  for (int32 i = 0; i < count; ++i)
    if (scroll <= 0 ? p0.x[i] < rect->left : p0.x[i] > rect->right) {
      k = i;
      break;
    }
  // 3. The plots drawn as they are, up to the point that left.
  int32 result = 0;
  if (k == 0 || k > 3 || modeA) {
    if (k == 0) {
      const int32 width = XWidth(x);
      const int32 move = scroll > 0 ? scroll - (width + 1) : scroll + width + 1;
      for (int32 i = 0; i < plots; ++i) {
        const Pixels px = PixelsOf(p[i]);
        for (int32 j = 0; j < px.count; ++j)
          if (px.x[j] != kPlotGap) px.x[j] = int16(std::clamp(int32(px.x[j]) - move, -15000, 15000));
      }
      scroll -= move;
    } else {
      for (int32 i = 0; i < plots; ++i) SetCount(p[i], std::min(k, PixelsOf(p[i]).count));
    }
    Rect r = *rect;
    if (modeA && count > 0) {
      if (scroll > 0) r.left = p0.x[0];
      else r.right = p0.x[0];
      if (r.left != r.right) {
        workFlags |= kPlotWorkFullRedraw;
        if (r.left > r.right) std::swap(r.left, r.right);
      }
    }
    if (workFlags & kPlotWorkUpdate) DInsetRect(&r, -1, 0);
    Rect bounds;
    GraphPlotBounds(heap, graph, &bounds);
    result = RefreshPlotImage(heap, graph, &bounds, &r, workFlags, GraphDataOf(heap, graph)->plots, areas);
    p = Plots(heap, graph, &have);
    if (!p) return result;
    plots = std::min(plots, have);
    for (int32 i = 0; i < plots; ++i) {
      const int32 room = PixelsOf(p[i]).x ? int32((std::min(DSGetHandleSize(p[i].xs), DSGetHandleSize(p[i].ys)) - 4) / 2)
                                          : 0;
      SetCount(p[i], std::min(count, room));
    }
  }
  const Pixels q = PixelsOf(p[0]);
  // 4. Back to the last point that stays inside after the shift.
  k = std::min(k, q.count - 1);
  while (k > 0 && (scroll > 0 ? q.x[k] >= rect->left + scroll : q.x[k] <= rect->right + scroll)) --k;
  if (k < 0) return result;
  // 5. A sweep asked to redraw keeps its plots.
  if ((result & kPlotResultRedraw) && modeA) {
    rect->left = int16(q.x[k] - scroll);
    rect->right = int16(q.x[q.count - 1] - scroll);
    return result;
  }
  // 6. Every plot drops its first k points; the rest move with the scroll.
  for (int32 i = 0; i < plots; ++i) {
    const Pixels px = PixelsOf(p[i]);
    const int32 drop = std::min(k, px.count);
    const int32 keep = px.count - drop;
    std::memmove(px.x, px.x + drop, size_t(keep) * 2);
    std::memmove(px.y, px.y + drop, size_t(keep) * 2);
    for (int32 j = 0; j < keep; ++j)
      if (px.x[j] != kPlotGap) px.x[j] = int16(std::clamp(int32(px.x[j]) - scroll, -15000, 15000));
    SetCount(p[i], keep);
  }
  return result;
}
