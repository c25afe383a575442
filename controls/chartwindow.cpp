// The x window of a chart update: which history indexes the chart shows,
// how many of the newest points are drawn now and which older ones are
// drawn again, and when the x scale follows the newest point.  Number
// charts and intensity charts share it.  Chart records and histories live
// in the panel data space and are written by diagrams: counts are held to
// what the history can hold and the arithmetic is done in 64 bits.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/chartupdate.h"
#include "controls/scale.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"

namespace {

constexpr int16 kPartScaleText = 27;  // the scale's label text while it is edited
constexpr int32 kDrawModeNormal = 4;
constexpr uInt32 kScaleFlagSkipDraw = 0x4, kScaleFlagRecalc = 0x1000000, kScaleFlagDeferred = 0x4000000;

uInt32 FlagsOf(ObjHeap heap, int32 o) { return OHWord(heap, uInt32(o)); }
bool Usable(ObjHeap heap, int32 o) { return heap && *heap && o > 0 && OHIsUsedBlock(heap, o); }
// Doubles from a scale record held to a range the window arithmetic keeps exact.
int64 Whole(float64 v, bool up) {
  if (!std::isfinite(v)) return 0;
  v = std::clamp(v, -1e15, 1e15);
  return int64(up ? std::ceil(v) : std::floor(v));
}
int32 Clamp32(int64 v) { return int32(std::clamp<int64>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

int32 ChartModeOf(int32 type) {
  if (type == 101 || type == 104) return kChartModeA;
  if (type == 103 || type == 106) return kChartModeC;
  return kChartModeB;
}

ChartHistory* ChartRecordOf(ObjHeap heap, int32 graph) {
  if (!Usable(heap, graph) || OHBlockSize(heap, graph) < 4 * (kGraphHistoryWord + 2)) return nullptr;
  const int32 at = ObjWord(heap, graph, kGraphHistoryWord);
  if (at <= 0 || !PanelEntryTD(heap, at, ObjWord(heap, graph, kGraphHistoryWord + 1), int32(sizeof(ChartHistory))) ||
      !FPHeapDataPtr(heap, at + int32(sizeof(ChartHistory)) - 1))
    return nullptr;
  return reinterpret_cast<ChartHistory*>(FPHeapDataPtr(heap, at));
}

Bool32 ChartHistoryPointsOf(UHandle history, Bool32 withPlotCount, ChartHistoryPoints* out) {
  *out = ChartHistoryPoints{};
  if (!history || !*history || !MemIsDSHandle(history)) return false;
  const int32 header = withPlotCount ? 8 : 4;
  const int32 size = DSGetHandleSize(history);
  if (size < header) return false;
  const int32 length = int32(GetNative32(*history + kChartHistCapacity));
  if (length < 1) return false;
  out->length = length;
  out->plots = withPlotCount ? int32(GetNative32(*history + kChartHistPlots)) : 1;
  out->points = reinterpret_cast<const uChar*>(*history) + header;
  out->bytes = size - header;
  return true;
}

int32 ChartFollowNewest(ObjHeap heap, int32 xScale, int64 total, int64 span) {
  Bool32 moved = false;
  if (CalcScaleMarkers(heap, xScale, float64(total - 1 - span), float64(total - 1), false, false, &moved) != kNoErr)
    return kPlotResultFailed;
  return 0;
}

int32 ChartUpdateWindow(ObjHeap heap, int32 graph, PlotDrawState* st, int32 xScale, ChartHistory* rec, int32 length,
                        const ChartWindowOptions* options, ChartWindow* out) {
  *out = ChartWindow{};
  const ScaleRec* x = ScaleRecOf(heap, xScale);
  if (!x || !rec || length < 1) return 0;
  const int32 type = GraphTypeOf(heap, graph);
  const int32 mode = ChartModeOf(type);
  const bool immediate = !st->updateDraw;
  const bool screen = DIsScreenPort() != 0;
  const bool opaque = !(st->workFlags & kPlotWorkTransparent);
  uInt32 flags = FlagsOf(heap, graph);
  // Off screen the object is drawn whole.
  if (!screen) flags |= kGraphFlagFullRedraw;
  const bool redrawPending = (flags & kGraphFlagPending) != 0;
  const bool scrollsOffscreen = mode == kChartModeC && !st->stripScroll && opaque;
  const int64 total = std::max<int64>(rec->total, 0);
  int64 pending = std::clamp<int64>(rec->pending, 0, std::min<int64>(total, length));
  const int64 span = std::min<int64>(Whole(std::fabs(x->max - x->min), false), int64(1) << 40);
  const uInt32 mask = options ? options->simpleMask : (kGraphFlagAutoX | kGraphFlagAutoY);
  const bool held = (flags & (kGraphFlagScrollHeld | kGraphFlagFullRedraw)) != 0;
  int64 lo = 0, hi = 0, n = 0, c = 0;

  out->simple = !held && (immediate || (redrawPending && mode != kChartModeC) || scrollsOffscreen) &&
                (!(st->autoscaleMask & mask) || (st->updateDraw && !redrawPending));
  if (out->simple) {
    out->follow = immediate || redrawPending;
    const int64 w = span + 1;
    if (pending >= w) {
      // An update draw does not follow, yet it draws the newest w points: a
      // scale showing other points moves to them too (else they all lie
      // off the area and nothing shows until an immediate draw), and is
      // drawn again with its new markers.
      const float64 first = float64(total - 1 - span), last = float64(total - 1);
      const bool onScale = std::min(x->min, x->max) == first && std::max(x->min, x->max) == last;
      if (out->follow || !onScale) {
        if (ChartFollowNewest(heap, xScale, total, span)) return kPlotResultFailed;
        st->scaleChanged = true;
        if (!out->follow) OInval(heap, xScale, kInvalAll);
      }
      pending = w;
      out->emptyPlots = true;
    }
    n = pending;
    lo = total - pending;
    hi = total - 1;
  } else {
    // (a) The object's marks.
    out->follow = !held;
    if (flags & kGraphFlagFullRedraw) {
      st->scaleChanged = true;
      if (scrollsOffscreen && st->pixmap && screen && IKindOf(st->pixmap) == kImagePixmap) {
        ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
        ImageSaveRecord save{};
        IOpen(st->pixmap, &save);
        PaintPlotAreas(heap, graph, nullptr, nullptr, true);
        IClose(st->pixmap, &save);
        out->repainted = true;
      }
      OHSetWord(heap, uInt32(graph), OHWord(heap, uInt32(graph)) & ~kGraphFlagFullRedraw);
    }
    if (st->updateDraw && !redrawPending) out->follow = false;
    // (b) The window from the scale, or from the history with x autoscale.
    bool mustSet = false;
    if (!(st->autoscaleMask & kGraphFlagAutoX)) {
      lo = Whole(std::min(x->min, x->max), false);
      hi = Whole(std::max(x->min, x->max), !(options && options->floorHigh));
    } else {
      hi = std::max<int64>(total - 1, 0);
      lo = std::max<int64>(hi - length + 1, 0);
      mustSet = hi - lo != span;
    }
    // (c) No wider than the history.
    if (hi - lo > length - 1) hi = lo + length - 1;
    // (d) A window left behind starts at the oldest point kept.
    if (!out->follow && lo < total - 1 - length) {
      const int64 d = total - 1 - length - lo;
      lo += d;
      hi += d;
    }
    // (e) The scale takes the window.
    if (mustSet) {
      ScaleRecalc(heap, xScale);
      Bool32 moved = false;
      if (CalcScaleMarkers(heap, xScale, float64(lo), float64(hi), false, false, &moved) != kNoErr)
        return kPlotResultFailed;
      st->scaleChanged = true;
      if (const int32 bar = FindPart(heap, graph, kChartPartScrollbar, 0); bar > 0) OInval(heap, bar, kInvalAll);
    }
    // (f) A sweep starts its pass where the newest point falls.
    if (mode == kChartModeA && !IsChartScrollTracked(heap, graph) && total > lo && total < hi) lo = total - span - 1;
    // (g)
    lo = std::max<int64>(lo, 0);
    if (!out->follow) {
      // (h) The window stays; what it holds of the history is drawn.
      if (total - 1 >= lo) {
        hi = std::min(hi, total - 1);
        n = total == 0 ? 0 : hi - lo + 1;
        c = std::min<int64>((total - pending) - lo, length);
      }
    } else {
      // (i) The window follows the newest point.
      n = std::max<int64>(total - lo, 0);
      c = (total - pending) - lo;
      if (hi < total - 1) --n, --c;
      const int64 v = hi - lo + 1;
      if (n > v) {
        if (pending > v) {
          if (ChartFollowNewest(heap, xScale, total, span)) return kPlotResultFailed;
          st->scaleChanged = true;
          out->emptyPlots = true;
          pending = v;
        }
        n = v;
        c = v - pending;
      }
    }
    pending = std::max<int64>(pending + c, 0);
    // (j)
    if (!out->emptyPlots) {
      if (immediate || scrollsOffscreen) out->emptyOnChange = true;
      else out->emptyPlots = true;
    }
  }
  // Nothing is drawn from before the history's oldest point or past its newest.
  pending = std::clamp<int64>(pending, 0, std::min<int64>(total, length));
  n = std::clamp<int64>(n, 0, pending);
  rec->pending = int32(pending);
  out->lo = Clamp32(lo);
  out->hi = Clamp32(hi);
  out->n = int32(n);
  out->c = Clamp32(c);
  return 0;
}

int32 ChartShiftXScale(ObjHeap heap, int32 graph, int32 xScale, float64 shift, Bool32 updateDraw,
                       Bool32 redrawPending) {
  ScaleRec* x = ScaleRecOf(heap, xScale);
  if (!x || shift == 0 || !std::isfinite(shift)) return 0;
  x->min += shift;
  x->max += shift;
  if (x->increment > 0 && std::isfinite(x->increment)) {
    // At most as many steps as markers could fit: a start far below the
    // range jumps by whole increments first.
    const float64 low = std::min(x->min, x->max);
    if (x->start < low) {
      const float64 steps = std::floor((low - x->start) / x->increment);
      if (steps > 1) x->start += (steps - 1) * x->increment;
      while (x->start < x->min && x->start < x->max) x->start += x->increment;
    }
  }
  const uInt32 f = FlagsOf(heap, xScale);
  if (f & kObjFlagHidden) return 0;
  int32 focus = 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext > 0 && OHIsUsedBlock(heap, ext) && OHBlockSize(heap, ext) >= kHeapExtKeyFocus + 4)
    focus = int32(GetNative32(*heap + ext + kHeapExtKeyFocus));
  const bool editing = focus > 0 && focus == FindPart(heap, xScale, kPartScaleText, 0);
  (void)graph;
  if ((updateDraw && !redrawPending) || !((f & kScaleFlagSkipDraw) || (f & kScaleFlagDeferred) || editing)) {
    ODrawObj(heap, xScale, 0, 0, kDrawModeNormal);
    return 0;
  }
  if (f & (kScaleFlagRecalc | kScaleFlagDeferred)) {
    ScaleRecalc(heap, xScale);
    OInval(heap, xScale, kInvalAll);
    return kPlotResultRedraw;
  }
  return 0;
}
