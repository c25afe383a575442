// The intensity-chart branch of the plot-area drawing: the chart keeps
// columns of numbers in a circular history and shows them as a colour
// image.  The x window is the number charts' one; this branch then decides
// which columns and which pixel rectangle are drawn now, moves the x scale
// when new columns pass its end, and hands the block to the intensity image
// routines.  Histories come from diagrams: the columns read lie inside the
// history handle.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/chartupdate.h"
#include "controls/graphintensity.h"
#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"

namespace {

constexpr const char* kModule = "plotsup2";

bool Reversed(const ScaleRec* x) { return (x->pixelStart < x->pixelEnd) != (x->min < x->max); }

int32 Pixel(ObjHeap heap, int32 xData, float64 v) {
  int16 px = 0;
  MapValuesToPixels(heap, xData, 10, &v, int32(sizeof v), 1, &px, int32(sizeof px));
  return px;
}
float64 ValueAt(ObjHeap heap, int32 xData, int32 pixel) {
  const int16 px = int16(std::clamp(pixel, -15000, 15000));
  float64 v = 0;
  MapPixelsToValues(heap, xData, 10, &px, 1, 1, &v, int32(sizeof v));
  return v;
}
// Indexes from scale values, held where the arithmetic stays exact.
int64 Whole(float64 v, bool up) {
  if (!std::isfinite(v)) return 0;
  v = std::clamp(v, -1e15, 1e15);
  return int64(up ? std::ceil(v) : std::floor(v));
}
int32 Clamp32(int64 v) { return int32(std::clamp<int64>(v, INT32_MIN, INT32_MAX)); }

// The history's rows per column, when the handle holds its L columns of
// R elements of the chart's element type.
int32 HistoryRows(ObjHeap heap, int32 graph, UHandle history, int32 length) {
  if (!history || !*history || !MemIsDSHandle(history) || DSGetHandleSize(history) < 8) return 0;
  const int32 rows = int32(GetNative32(*history + kChartHistPlots));
  const TypeDescriptor* td = TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
  td = td ? SkipTypedefs(td) : nullptr;
  if (!td || (td->code != kTDArray && td->code != kTDArrayView)) return 0;
  const int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  const TypeDescriptor* elem =
      SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4 * dims));
  const int32 size = elem ? DataSize(elem) : 0;
  if (rows < 1 || size <= 0 ||
      int64(AlignDatum(elem, 8)) + int64(length) * rows * size > DSGetHandleSize(history))
    return 0;
  return rows;
}

}  // namespace

int32 DrawIntensChartBranch(ObjHeap heap, int32 graph, PlotDrawState* st, const GraphLayout*) {
  ChartHistory* rec = ChartRecordOf(heap, graph);
  const int32 xScale = st->scales.xCount > 0 ? st->scales.x[0] : 0;
  const int32 yScale = st->scales.yCount > 0 ? st->scales.y[0] : 0;
  const int32 zScale = st->scales.colour;
  if (!rec || !xScale || !ScaleRecOf(heap, xScale) || !zScale || !IntensityRecOf(heap, graph)) {
    DBAssert(kModule, __LINE__, "intensity chart without its record, x scale or colour scale");
    return 0;
  }
  // Counts from a damaged data space: nothing pending below 0 or beyond
  // what was written (nor, below, beyond what the history holds).
  rec->pending = std::clamp(rec->pending, 0, std::max(rec->total, 0));
  ChartHistoryPoints hist;
  const int32 rows = ChartHistoryPointsOf(rec->buffer, true, &hist) ? HistoryRows(heap, graph, rec->buffer, hist.length)
                                                                     : 0;
  if (!rows) {
    st->fullRedraw = true;
    return 0;
  }
  const int32 L = hist.length;
  const int32 mode = ChartModeOf(GraphTypeOf(heap, graph));
  const bool immediate = !st->updateDraw;
  const bool opaque = !(st->workFlags & kPlotWorkTransparent);
  const bool flagged = (st->workFlags & kPlotWorkFlagged) != 0;
  const uInt32 flagsBefore = OHWord(heap, uInt32(graph));
  const bool redrawPending = (flagsBefore & kGraphFlagPending) != 0;
  const int32 xData = ObjWord(heap, xScale, kScaleObjData);

  // 1. The window, as number charts choose it, with every autoscale bit
  // sending it down the window path and both fixed ends rounded down.
  const ChartWindowOptions options{kGraphAutoscaleMask, true};
  ChartWindow win;
  const bool changedBefore = st->scaleChanged;
  st->scaleChanged = false;
  if (const int32 r = ChartUpdateWindow(heap, graph, st, xScale, rec, L, &options, &win)) return r;
  const bool windowChanged = st->scaleChanged;
  st->scaleChanged = st->scaleChanged || changedBefore;
  if (!win.simple && windowChanged) st->fullRedraw = true;
  int64 n = win.n;
  int64 c = win.c;
  const int64 total = std::max(rec->total, 0);
  int32 result = 0;

  // 2. No columns to draw.
  if (n == 0) {
    if (immediate) {
      if (!win.follow) {
        const DColor back = [&] {
          const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
          return area > 0 && OHBlockSize(heap, area) >= kObjCosmBack + 4 ? DColor(ObjWord(heap, area, kObjCosmBack / 4))
                                                                          : kTransparentColor;
        }();
        if (back != kTransparentColor) {
          DSelectNormPen(back, back);
          DPaintRect(&st->inner);
        }
        DrawGraphGrids(heap, graph, &st->inner, st->areas, 0, 0);
      } else {
        st->fullRedraw = false;
      }
    } else {
      if (st->pixmap && opaque) {
        st->workFlags |= kPlotWorkCircular;
        st->newData = true;
      }
      DrawGraphGrids(heap, graph, &st->inner, st->areas, 0, 0);
    }
    if (st->updateDraw) st->scaleChanged = false;
    return 0;
  }

  // 3. Columns to draw: the plots give way to the image.
  if (ResizePlotList(heap, graph, 0, 0, false) != kNoErr) return kPlotResultFailed;
  const int32 usable = std::max(1, st->bounds.right - st->bounds.left - 2);
  int64 first = total - rec->pending;
  int64 last = first + n - 1;
  Bool32& need = st->fullRedraw;
  need = !(!(flagsBefore & kGraphFlagFullRedraw) && !windowChanged &&
           (immediate || (opaque && st->updateDraw && redrawPending)));

  // 4. x autoscale shows the history's columns.
  const ScaleRec* x = ScaleRecOf(heap, xScale);
  if (st->autoscaleMask & kGraphFlagAutoX) {
    const int64 span = Whole(std::fabs(x->max - x->min), false);
    if (!(total > L && span + 1 == L)) {
      ScaleRecalc(heap, xScale);
      Bool32 moved = false;
      if (CalcScaleMarkers(heap, xScale, float64(std::max<int64>(0, total - L)), float64(std::max<int64>(1, total - 1)),
                           false, false, &moved) != kNoErr)
        return kPlotResultFailed;
      if (moved) {
        st->scaleChanged = true;
        if (const int32 bar = FindPart(heap, graph, kGPartChartScrollbar, 0); bar > 0) OInval(heap, bar, kInvalAll);
      }
    }
  }

  // 5. The visible rows, the first at the top pixel.
  int32 rowTop = 0, rowBottom = rows;
  int16 top = 0, bottom = 0;
  if (yScale) {
    int32 moved = 0;
    if (ChartIndexRange(heap, yScale, &rowTop, &rowBottom, &top, &bottom, (st->autoscaleMask & kGraphFlagAutoY) != 0,
                        &moved) != kNoErr)
      return kPlotResultFailed;
    if (moved) st->scaleChanged = true;
  }

  // 6. z autoscale over the new columns.
  if (st->autoscaleMask & kGraphFlagAutoZ) {
    int32 moved = 0;
    if (ScanZRange(heap, graph, rec->buffer, rowTop, Clamp32(first), rowBottom, Clamp32(last), false, &moved))
      return kPlotResultFailed;
    if (moved) st->scaleChanged = true;
  }

  // 7. Nothing moved: the columns drawn again to catch up are dropped.
  if ((st->autoscaleMask & kGraphAutoscaleMask) && !st->scaleChanged && !(flagsBefore & kGraphFlagFullRedraw) &&
      (opaque || mode != kChartModeC)) {
    c = std::clamp<int64>(c, 0, n);
    rec->pending = Clamp32(std::max<int64>(rec->pending - c, 0));
    n -= c;
    first += c;
    if (n > 0) st->newData = true;
    need = !((immediate || redrawPending) && c != 0);
  }

  // 8. New columns past the x scale's upper end.
  x = ScaleRecOf(heap, xScale);
  const float64 upper = std::max(x->min, x->max);
  const int32 edge = x->min < x->max ? x->pixelEnd : x->pixelStart;
  float64 shift = 0;
  int32 scroll = 0;
  if (win.follow && last >= Whole(upper, true)) {
    if (mode == kChartModeC) {
      const int32 at = Pixel(heap, xData, float64(last));
      scroll = at - edge;
      if (scroll) shift = ValueAt(heap, xData, at) - upper;
    } else {
      const float64 span = std::fabs(x->max - x->min);
      float64 end = upper;
      if (span > 0 && std::isfinite(span)) {
        // Whole spans until the window passes the newest column.
        end += (std::floor((float64(last) - upper) / span) + 1) * span;
        while (end <= float64(last)) end += span;
      }
      shift = end - upper;
      scroll = Pixel(heap, xData, end) - edge;
      if (mode == kChartModeB && scroll) need = true;
      const float64 low = std::min(x->min, x->max) + shift;
      if (low < float64(first)) first = int64(std::trunc(low));
    }
    if (shift != 0) result |= ChartShiftXScale(heap, graph, xScale, shift, st->updateDraw, redrawPending);
    if (mode == kChartModeC && opaque && scroll) {
      if (!st->pixmap) {
        ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
        const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
        const DColor back = area > 0 && OHBlockSize(heap, area) >= kObjCosmBack + 4
                                ? DColor(ObjWord(heap, area, kObjCosmBack / 4))
                                : kTransparentColor;
        DScrollRect(&st->inner, -scroll, 0, false, back, back);
      } else {
        int64 pos = int64(ObjWord(heap, graph, kGraphPixmapPosWord)) + scroll;
        // A negative position wraps by its magnitude, then counts from the end.
        pos = pos >= 0 ? pos % usable : (usable - (-pos) % usable) % usable;
        ObjSetWord(heap, graph, kGraphPixmapPosWord, int32(pos));
      }
    }
  } else {
    last = std::min<int64>(last, Whole(upper, true));
  }

  // 9. The lowest visible column.
  x = ScaleRecOf(heap, xScale);
  const int64 lowest = mode == kChartModeA ? Whole(float64(last) - std::fabs(x->max - x->min), false)
                                           : Whole(std::min(x->min, x->max), false);
  if (lowest < first) {
    if (mode == kChartModeC && shift != 0) --first;
    first = std::max(lowest, Whole(ValueAt(heap, xData, Pixel(heap, xData, float64(first))), false));
    // The strip the scroll exposed is drawn whole: the column straddling
    // the edge before the scroll was drawn only up to the edge.
    if (mode == kChartModeC && scroll && opaque) {
      const bool reversed = Reversed(x);
      const int32 reach = reversed ? st->bounds.left + 1 + std::abs(scroll) - 1 : st->bounds.right - 1 - std::abs(scroll);
      for (int32 k = 0; k < 64 && first > lowest; ++k) {
        const int32 px = Pixel(heap, xData, float64(first));
        if (reversed ? px >= reach : px <= reach) break;
        --first;
      }
    }
  } else {
    first = lowest;
  }

  // Only columns the history still holds are drawn: none before the first
  // written or the oldest kept (a window reaching below them shows nothing
  // there).
  first = std::max(first, std::max<int64>(0, total - L));
  const bool none = first > last;

  // 10. The pixels, half-open, in the direction of the scale.
  int32 left = Pixel(heap, xData, float64(first));
  const int32 lastPixel = Pixel(heap, xData, float64(last));
  int32 right = Pixel(heap, xData, float64(last + 1));
  if (right > lastPixel) --right;
  else if (right < lastPixel) ++right;
  int64 from = first, to = last;
  if (Reversed(x)) {
    std::swap(from, to);
    std::swap(left, right);
  }
  ++right;

  // 11. One pixel inside the plot bounds.
  const Rect image{top, int16(std::clamp(left, -15000, 15000)), bottom, int16(std::clamp(right, -15000, 15000))};
  Rect clipped = none ? Rect{0, 0, 0, 0} : image;
  clipped.top = int16(std::max<int32>(clipped.top, st->bounds.top + 1));
  clipped.bottom = int16(std::min<int32>(clipped.bottom, st->bounds.bottom - 1));
  if (mode == kChartModeC) {
    clipped.left = int16(std::max<int32>(clipped.left, st->bounds.left + 1));
    clipped.right = int16(std::min<int32>(clipped.right, st->bounds.right - 1));
  }

  // 12. What is drawn now.
  if (st->updateDraw) {
    if (n > 0) st->newData = true;
  } else if (opaque && !flagged) {
    if (n > 0) st->newData = true;
  } else {
    // Over a transparent or flagged area the window's update draws it.
    if (need) {
      OHSetWord(heap, uInt32(graph), OHWord(heap, uInt32(graph)) | kGraphFlagFullRedraw);
      st->markFullRedraw = true;
    } else if (mode == kChartModeB) {
      st->inner = clipped;
    } else if (mode == kChartModeA) {
      st->inner.left = clipped.left;
      st->inner.right = clipped.right;
      if (Reversed(x)) --st->inner.left;
      else ++st->inner.right;
    }
    need = true;
    n = 0;
    st->newData = false;
  }

  // 13. The image of the block.
  if (st->newData && !DEmptyRect(&clipped) && IntensityRecOf(heap, graph)) {
    IntensityRecOf(heap, graph)->SetDrawn(clipped);
    if (const int32 r = BuildIntensityBitmap(heap, graph, zScale, rec->buffer, rowTop, Clamp32(from), rowBottom,
                                             Clamp32(to), IntensityRecOf(heap, graph)->image, &clipped, &image, false))
      return r;
    const int32 drawn = DrawIntensChartUpdate(heap, graph, nullptr, need);
    if (drawn & kPlotResultFailed) return drawn;
    if (drawn & kPlotResultRedraw) {
      st->workFlags |= kPlotWorkCircular;
    } else {
      need = false;
      st->workFlags &= ~kPlotWorkCircular;
      st->newData = false;
    }
  } else {
    st->workFlags &= ~kPlotWorkCircular;
  }

  // 14.
  rec = ChartRecordOf(heap, graph);
  if (rec) rec->pending = Clamp32(std::max<int64>(rec->pending - n, 0));
  if (st->updateDraw) st->scaleChanged = false;
  return result;
}
