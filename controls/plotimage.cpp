// Waveform plots prepared from their x0, dx and y values, and the plots
// shown in the plot area: background, chart marker line, the plots drawn
// last to first into the cached image or the port, and the circular image
// of scrolling charts.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "controls/scale.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/osupport.h"

namespace {

constexpr DColor kMarkerLineColour = 0xFF0000;

WindowRef WindowOf(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || !OHIsUsedBlock(heap, ext) || OHBlockSize(heap, ext) < kHeapExtWindow + 4) return 0;
  return WindowRef(GetNative32(*heap + ext + kHeapExtWindow));
}

// The records of a plot list handle (a count, then records) when the
// handle holds them all.
PlotRec* ListPlots(UHandle plots, int32* n) {
  *n = 0;
  if (!plots || !*plots || !MemIsDSHandle(plots)) return nullptr;
  const int32 size = DSGetHandleSize(plots);
  const int32 count = size >= 4 ? int32(GetNative32(*plots)) : 0;
  if (count <= 0 || int64(count) * kPlotRecBytes > size - 4) return nullptr;
  *n = count;
  return reinterpret_cast<PlotRec*>(*plots + 4);
}

// Plot area of an order, inset by one; the union when there is none.
Rect AreaOf(ObjHeap heap, int32 graph, int32 order, const Rect& fallback) {
  const int32 part = FindPart(heap, graph, kGPartPlotArea, order);
  if (part <= 0 || OHBlockSize(heap, part) < kObjBounds + int32(sizeof(Rect))) return fallback;
  Rect r;
  std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
  DInsetRect(&r, 1, 1);
  return r;
}

// The plot's scale of that order in a table, else the table's first.
int32 PlotScale(const int32* table, int32 n, int32 order) {
  if (order >= 0 && order < n && table[order]) return table[order];
  return n > 0 ? table[0] : 0;
}

// Colours that stand out against the plot's own: each channel inverted.
uInt32 HighlightOf(uInt32 c) { return c == uInt32(kNoColor) ? c : (c ^ 0xFFFFFF) & 0xFFFFFF; }

void DrawOnePlot(ObjHeap heap, int32 graph, UHandle plots, int32 i, Bool32 pattern) {
  int32 n = 0;
  PlotRec* p = ListPlots(plots, &n);
  if (!p || i >= n) return;
  DrawFilledPlot(p + i, nullptr, heap, graph, i);
  // The fill may move the list.
  p = ListPlots(plots, &n);
  if (p && i < n) DrawPointStyle(p + i, nullptr, pattern);
}

}  // namespace

void DrawPlotsShifted(UHandle plots, int32 shift, int32 plot, ObjHeap heap, int32 graph) {
  int32 n = 0;
  if (!ListPlots(plots, &n)) return;
  auto move = [&](int32 i, int32 by) {
    int32 m = 0;
    PlotRec* p = ListPlots(plots, &m);
    if (!p || i >= m || !p[i].xs || !*p[i].xs) return;
    const int32 held = std::min(p[i].count, (DSGetHandleSize(p[i].xs) - 4) / 2);
    auto* h = reinterpret_cast<int16*>(*p[i].xs + 4);
    for (int32 k = 0; k < held; ++k)
      if (h[k] != kPlotGap) h[k] = int16(std::clamp<int32>(h[k] + by, -15000, 15000));
  };
  const int32 first = plot < 0 ? n - 1 : plot, last = plot < 0 ? 0 : plot;
  if (plot >= n) return;
  for (int32 i = first; i >= last; --i) {
    move(i, shift);
    DrawOnePlot(heap, graph, plots, i, false);
    move(i, -shift);
  }
}

int32 RefreshPlotImage(ObjHeap heap, int32 graph, Rect* area, const Rect* update, int32 flags, UHandle plots,
                       int32 areas) {
  if (!heap || !area || !update) return 0;
  const Rect whole = *area;
  DInsetRect(area, 1, 1);
  const int32 type = GraphTypeOf(heap, graph);
  const bool chart = IsChartType(type);
  const bool intensityChart = type >= kIntensChartFirst && type <= kIntensChartLast;
  const int32 image = ObjWord(heap, graph, kGraphPixmapWord);
  const bool pixmap = image && IKindOf(image) == kImagePixmap;
  const bool cacheable = pixmap && DIsScreenPort() && !chart &&
                   ((OHWord(heap, uInt32(graph)) & kGraphFlagSmooth) || PrefGet(kPrefOffscreenUpdates));
  const WindowRef window = WindowOf(heap);
  // The image is drawn into only while a window is current to open it in.
  int32 target = 0, targetWindow = 0;
  IGetCurrentTarget(&target, &targetWindow);
  const bool use = cacheable && targetWindow != 0;
  // Without a window there is no later update to wait for: draw now.
  const bool drawNow = !(flags & (kPlotWorkTransparent | kPlotWorkFlagged)) || (flags & kPlotWorkUpdate) || !window;
  auto invalidate = [&] {
    if (window) WInvalRect(window, update);
    *area = whole;
    return int32(kPlotResultRedraw);
  };
  // 1 and 2. The background.
  if (!(flags & kPlotWorkFullRedraw)) {
    if (flags & kPlotWorkUpdate)
      for (int32 o = 0; o < std::max(areas, 1); ++o) DrawGraphGrids(heap, graph, update, areas, o, 0);
  } else if (type == 101 || type == 104 ||
             ((type == 102 || type == 105) && (flags & kPlotWorkFlagged) && !(flags & kPlotWorkScrolled))) {
    Rect u = *update;
    int32 x;
    if (intensityChart) {
      x = area->left + 1;
    } else if (u.left <= u.right) {
      x = u.right + 1;
      if (!(flags & kPlotWorkScrolled)) u.left = int16(u.left + 1);
      u.right = int16(u.right + 3);
    } else {
      x = u.right - 1;
      u = Rect{u.top, int16(u.right - 2), u.bottom, u.left};
    }
    if (!drawNow) return invalidate();
    Rect band;
    if ((flags & (kPlotWorkScrolled | kPlotWorkNewData)) && DSectRect(&u, area, &band))
      PaintPlotAreas(heap, graph, nullptr, &band, false);
    DSelectNormPen(kMarkerLineColour, kMarkerLineColour);
    for (int32 o = 0; o < std::max(areas, 1); ++o) {
      const Rect r = areas > 1 ? AreaOf(heap, graph, o, *area) : *area;
      // The marker stays inside the plot area: past its end it would stand
      // on the frame, where no later band takes it away.
      if (r.bottom <= r.top || x < r.left || x >= r.right) continue;
      DMoveTo(x, r.top);
      DLineTo(x, r.bottom - 1);
    }
    DSelectNormPen(0, 0);
  } else {
    if (!drawNow) return invalidate();
    if (use) {
      ImageSaveRecord save{};
      IOpen(image, &save);
      PaintPlotAreas(heap, graph, nullptr, update, true);
      IClose(image, &save);
    } else {
      PaintPlotAreas(heap, graph, nullptr, update, false);
    }
  }
  // 3. The plots.
  if (!(flags & kPlotWorkNewData)) {
    if (use) IDraw(image, area, area, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  } else if (!(flags & kPlotWorkCircular)) {
    ImageSaveRecord save{};
    if (use) IOpen(image, &save);
    int32 n = 0;
    PlotRec* p = ListPlots(plots, &n);
    const PlotHighlight& hl = CurrentPlotHighlight();
    if (p && hl.on && hl.plot >= 0 && hl.plot < n)
      SetPlotHighlightColours({p + hl.plot, HighlightOf(uInt32(p[hl.plot].lineColor)), HighlightOf(p[hl.plot].pointColor)});
    for (int32 i = n - 1; i >= 0; --i) {
      p = ListPlots(plots, &n);
      if (!p || i >= n) break;
      const int32 order = std::clamp<int32>(p[i].yScale, 0, std::max(areas - 1, 0));
      const Rect clip = areas > 1 ? AreaOf(heap, graph, order, *area) : *area;
      Rect savedClip;
      WLimitClip(&clip, &savedClip);
      DrawOnePlot(heap, graph, plots, i, false);
      WRestoreClip(&savedClip);
    }
    SetPlotHighlightColours({nullptr, 0, 0});
    // Cursors that cannot be dragged may live in the image with the plots.
    if (use && !chart) DrawCursorsInPlot(heap, graph, kCursorDrawFixed);
    if (use) {
      IClose(image, &save);
      IDraw(image, area, area, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    }
  } else if (pixmap) {
    // The circular image: from the position to its right end first, then
    // from its left end to the position.
    // The image's inside, as wide as the bands drawn into it.
    Rect r = *area;
    const int32 width = r.right - r.left;
    const int32 pos = ObjWord(heap, graph, kGraphPixmapPosWord);
    if (pos <= 0 || pos >= width) {
      IDraw(image, &r, &r, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    } else {
      const Rect src1{r.top, int16(r.left + pos), r.bottom, r.right};
      const Rect dst1{r.top, r.left, r.bottom, int16(r.right - pos)};
      const Rect src2{r.top, r.left, r.bottom, int16(r.left + pos)};
      const Rect dst2{r.top, int16(r.right - pos), r.bottom, r.right};
      IDraw(image, &src1, &dst1, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
      IDraw(image, &src2, &dst2, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    }
  }
  // 4. The cursors over the plots.
  if (!chart) {
    if (!use) DrawCursorsInPlot(heap, graph, kCursorDrawFixed);
    DrawCursorsInPlot(heap, graph, kCursorDrawDraggable);
  }
  *area = whole;
  return 0;
}

// ---- Waveforms with their own x0 and dx ----------------------------------------------------
namespace {

bool SetRange(ObjHeap heap, int32 scale, float64 lo, float64 hi, PlotDrawState* st) {
  Bool32 moved = false;
  if (CalcScaleMarkers(heap, scale, lo, hi, false, false, &moved) != kNoErr) return false;
  if (moved) st->scaleChanged = true;
  return true;
}
bool LogScale(ObjHeap heap, int32 scale) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  return r && r->mapping == kScaleLog;
}

}  // namespace

int32 PrepareWaveformPlots(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout* l) {
  if (!st || !l) return 0;
  if (!l->value || l->plots <= 0) {
    st->newData = false;
    return 0;
  }
  if (ResizePlotList(heap, graph, l->plots, st->minPlots, false) != kNoErr) return kPlotResultFailed;
  const GraphScaleTables& t = st->scales;
  if (!t.xCount || !t.yCount || !t.x[0] || !t.y[0]) return 0;
  std::vector<PlotSeries> series(size_t(l->plots));
  std::vector<bool> has(size_t(l->plots));
  for (int32 p = 0; p < l->plots; ++p) has[size_t(p)] = GraphLayoutPlot(l, p, &series[size_t(p)]);
  auto scaleOf = [&](int32 p, bool x) {
    int32 n = 0;
    const PlotRec* rec = GraphPlots(GraphDataOf(heap, graph), &n);
    const int32 order = rec && p < n ? (x ? rec[p].xScale : rec[p].yScale) : 0;
    return x ? PlotScale(t.x, t.xCount, order) : PlotScale(t.y, t.yCount, order);
  };
  // 1. X ranges from each plot's first and last x.
  if (st->autoscaleMask & kGraphFlagAutoX) {
    for (int32 o = 0; o < t.xCount; ++o) {
      if (!t.x[o]) continue;
      float64 lo = 0, hi = 0;
      bool found = false;
      for (int32 p = 0; p < l->plots; ++p) {
        const PlotSeries& s = series[size_t(p)];
        if (!has[size_t(p)] || s.count <= 0 || scaleOf(p, true) != t.x[o]) continue;
        float64 x0 = s.x0, dx = s.dx;
        if (l->kind == kKindWaveforms) {
          if (!std::isfinite(x0)) x0 = 0;
          if (!std::isfinite(dx)) dx = 0;
          if (dx == 0) dx = 1;
        }
        if (!std::isfinite(x0) || !std::isfinite(dx)) continue;
        const float64 end = x0 + float64(s.count - 1) * dx;
        const float64 a = std::min(x0, end), b = std::max(x0, end);
        if (!std::isfinite(a) || !std::isfinite(b)) continue;
        lo = found ? std::min(lo, a) : a;
        hi = found ? std::max(hi, b) : b;
        found = true;
      }
      if (found && !SetRange(heap, t.x[o], lo, hi, st)) return kPlotResultFailed;
    }
  }
  // 2. Y ranges from the points each plot's x scale shows.
  if (st->autoscaleMask & kGraphFlagAutoY) {
    for (int32 o = 0; o < t.yCount; ++o) {
      if (!t.y[o]) continue;
      float64 lo = 0, hi = 0;
      int16 found = 0;
      for (int32 p = 0; p < l->plots; ++p) {
        const PlotSeries& s = series[size_t(p)];
        if (!has[size_t(p)] || s.count <= 0 || !s.y || scaleOf(p, false) != t.y[o]) continue;
        float64 x0 = s.x0;
        int32 n = s.count;
        const int32 skip =
            ClipWaveformToScale(heap, graph, ObjWord(heap, scaleOf(p, true), kScaleObjData), &x0, &n, s.dx);
        if (n <= 0 || skip < 0 || skip >= s.count) continue;
        ScanNumericRange(s.y + int64(skip) * s.yStride, s.yStride, std::min(n, s.count - skip), s.yType, &lo, &hi,
                         &found, LogScale(heap, t.y[o]));
      }
      if (found && !SetRange(heap, t.y[o], lo, hi, st)) return kPlotResultFailed;
    }
  }
  // 3. Each plot clipped, its x ramp made, mapped and reduced.
  int32 count = 0;
  GraphPlots(GraphDataOf(heap, graph), &count);
  for (int32 p = 0; p < count; ++p) {
    PlotSeries s{};
    if (p < l->plots && has[size_t(p)]) s = series[size_t(p)];
    const int32 xs = scaleOf(p, true), ys = scaleOf(p, false);
    float64 x0 = s.x0;
    int32 n = s.count;
    const int32 skip = n > 0 ? ClipWaveformToScale(heap, graph, ObjWord(heap, xs, kScaleObjData), &x0, &n, s.dx) : 0;
    if (n <= 0 || skip < 0 || skip >= s.count) n = 0;
    n = std::min(n, s.count - skip);
    int32 size = 0, type = 0;
    void* ramp = n > 0 ? MakeRampArray(x0, s.dx, n, true, &size, &type) : nullptr;
    const uChar* y = n > 0 && s.y ? s.y + int64(skip) * s.yStride : nullptr;
    int32 n2 = 0;
    PlotRec* rec = GraphPlots(GraphDataOf(heap, graph), &n2);
    const int32 r = rec && p < n2 ? MapPlotToPixelsDecimated(heap, graph, xs, ys, rec + p, ramp, y, size, s.yStride,
                                                             n, type, s.yType)
                                  : 0;
    FreeAndClearPtr(&ramp);
    if (r) return kPlotResultFailed;
  }
  st->newData = true;
  st->fullRedraw = true;
  return 0;
}

// ---- Charts: appended points and the circular image ---------------------------------------
namespace {

bool gRangeMoved = false;

bool Reducible(const PlotRec* p) {
  return p->fillStyle < 255 && !(p->fillTarget & 1) && p->pointStyle == 0 && (p->fillStyle & 3) == 0;
}

}  // namespace

void ClearChartRangeMark() { gRangeMoved = false; }
Bool32 ChartRangeMarked() { return gRangeMoved; }

int32 ChartAppendPixels(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot, int32 length,
                        int32 newPoints, int32 firstSeq, const void* history, int32 stride, int32* pixelShift,
                        float64* valueShift, int32 type, int32* changed) {
  if (pixelShift) *pixelShift = 0;
  if (valueShift) *valueShift = 0;
  if (changed) *changed = 0;
  if (!plot || !plot->xs || !plot->ys || length <= 0 || length > 0x3FFFFFF0) return kPlotResultFailed;
  for (UHandle h : {plot->xs, plot->ys})
    if (!MemIsDSHandle(h) || DSSetHandleSize(h, 2 * length + 4) != kNoErr) return kPlotResultFailed;
  const int32 chart = GraphTypeOf(heap, graph);
  ScaleRec* xr = ScaleRecOf(heap, xScale);
  if (!xr) return kPlotResultFailed;
  // Strip charts start over one window to the left once per drawing pass
  // when the newest points lie before the range.
  if ((chart == 101 || chart == 104) && !IsChartScrollTracked(heap, graph) && !gRangeMoved) {
    const float64 a = xr->min, b = xr->max, w = std::fabs(b - a);
    if (firstSeq < a && firstSeq < b && w <= a && w <= b) {
      Bool32 moved = false;
      if (CalcScaleMarkers(heap, xScale, a - w, b - w, false, false, &moved) != kNoErr) return kPlotResultFailed;
      gRangeMoved = true;
      xr = ScaleRecOf(heap, xScale);
      if (!xr) return kPlotResultFailed;
    }
  }
  newPoints = std::clamp(newPoints, 0, length);
  int16* h = reinterpret_cast<int16*>(*plot->xs + 4);
  int16* v = reinterpret_cast<int16*>(*plot->ys + 4);
  int32 held = std::clamp(plot->count, 0, length);
  // Only the segment being appended is held, with the points it joins.
  if (newPoints >= length) {
    held = 0;
  } else if (newPoints == length - 1) {
    if (held > 0) h[0] = h[held - 1], v[0] = v[held - 1], held = 1;
  } else if (held > 2) {
    const int32 keep = h[held - 1] == h[held - 2] ? 2 : 1;
    std::memmove(h, h + held - keep, 2 * size_t(keep));
    std::memmove(v, v + held - keep, 2 * size_t(keep));
    held = keep;
  }
  const bool reduce = Reducible(plot);
  const int32 xData = ObjWord(heap, xScale, kScaleObjData), yData = ObjWord(heap, yScale, kScaleObjData);
  const auto* data = static_cast<const uChar*>(history);
  type = type >= 0x19 && type <= 0x1B ? type - 0x10 : type;
  const bool mappable = data && type >= 1 && type <= 11 && type != 4 && type != 8;
  bool any = false;
  // The block's pixels are mapped at once: x from the point numbers, y from
  // the history in at most two runs (up to its end, then from its start).
  thread_local std::vector<int32> seqs;
  thread_local std::vector<int16> xPixels, yPixels;
  seqs.resize(size_t(newPoints));
  xPixels.assign(size_t(newPoints), kPlotGap);
  yPixels.assign(size_t(newPoints), kPlotGap);
  for (int32 k = 0; k < newPoints; ++k) seqs[size_t(k)] = int32(int64(firstSeq) + k);
  if (newPoints > 0) {
    MapValuesToPixels(heap, xData, 3, seqs.data(), 4, newPoints, xPixels.data(), 2);
    if (mappable) {
      const int32 slot = int32(((int64(firstSeq) % length) + length) % length);
      const int32 first = std::min(newPoints, length - slot);
      MapValuesToPixels(heap, yData, type, data + int64(slot) * stride, stride, first, yPixels.data(), 2);
      if (newPoints > first)
        MapValuesToPixels(heap, yData, type, data, stride, newPoints - first, yPixels.data() + first, 2);
    }
  }
  for (int32 k = 0; k < newPoints; ++k) {
    const int16 x = xPixels[size_t(k)], y = yPixels[size_t(k)];
    if (reduce && held >= 2 && h[held - 1] == x && h[held - 2] == x && y != kPlotGap) {
      // A third point in the column only widens the column's span.
      const int32 lo = v[held - 2] <= v[held - 1] ? held - 2 : held - 1, hi = lo == held - 1 ? held - 2 : held - 1;
      if (y < v[lo]) v[lo] = y, any = true;
      else if (y > v[hi]) v[hi] = y, any = true;
      continue;
    }
    if (held >= length) break;
    h[held] = x;
    v[held] = y;
    ++held;
    any = true;
  }
  plot->count = held;
  PutNative32(*plot->xs, uInt32(held));
  PutNative32(*plot->ys, uInt32(held));
  if (changed) *changed = any ? 1 : 0;
  if (held > 0 && h[held - 1] != kPlotGap) {
    const int32 over = int32(h[held - 1]) - xr->pixelEnd;
    const float64 span = float64(xr->pixelEnd) - float64(xr->pixelStart);
    if (pixelShift) *pixelShift = over;
    if (valueShift && span != 0) *valueShift = float64(over) * (xr->max - xr->min) / span;
  }
  return 0;
}

int32 DrawScrollingChart(ObjHeap heap, int32 graph, UHandle plots, int32 shift, int32 areas) {
  const int32 image = ObjWord(heap, graph, kGraphPixmapWord);
  if (!image || IKindOf(image) != kImagePixmap) return 0;
  const Rect all = AreaOf(heap, graph, 0, Rect{0, 0, 0, 0});
  const int32 width = all.right - all.left;
  if (width <= 0) return 0;
  int32 pos = ObjWord(heap, graph, kGraphPixmapPosWord);
  pos = ((pos % width) + width) % width;
  const int32 band = std::clamp(shift, 0, width);
  ImageSaveRecord save{};
  IOpen(image, &save);
  for (int32 o = 0; o < std::max(areas, 1); ++o) {
    const Rect r = AreaOf(heap, graph, o, all);
    // The new pixels lie at the plot's right end; each piece moves its part
    // of them to the position, the second piece wrapping to the start.
    const int32 first = std::min(band, width - pos), second = band - first;
    struct Piece {
      int32 from, to, moveBy;
    } pieces[2] = {{pos, pos + first, pos - (width - band)}, {0, second, -(width - band + first)}};
    for (const Piece& pc : pieces) {
      if (pc.to <= pc.from) continue;
      const Rect clip{r.top, int16(r.left + pc.from), r.bottom, int16(r.left + pc.to)};
      Rect saved;
      WLimitClip(&clip, &saved);
      const int32 part = FindPart(heap, graph, kGPartPlotArea, o);
      const DColor back = part > 0 && OHBlockSize(heap, part) >= kObjCosmBack + 4
                              ? DColor(ObjWord(heap, part, kObjCosmBack / 4))
                              : kTransparentColor;
      if (back != kTransparentColor) {
        DSelectNormPen(back, back);
        DPaintRect(&clip);
      }
      DrawGraphGrids(heap, graph, &clip, areas, o, int16(pc.moveBy));
      int32 n = 0;
      ListPlots(plots, &n);
      for (int32 i = n - 1; i >= 0; --i) {
        int32 m = 0;
        const PlotRec* p = ListPlots(plots, &m);
        if (!p || i >= m) break;
        if (areas > 1 && std::clamp<int32>(p[i].yScale, 0, areas - 1) != o) continue;
        DrawPlotsShifted(plots, pc.moveBy, i, heap, graph);
      }
      WRestoreClip(&saved);
    }
  }
  IClose(image, &save);
  ObjSetWord(heap, graph, kGraphPixmapPosWord, (((pos + shift) % width) + width) % width);
  return 0;
}
