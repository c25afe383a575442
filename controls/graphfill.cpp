// A plot's fill-style word, its property fields, and the painting of the
// fill (to zero, to either end of the value scale, or to another plot) and
// of the bars, in the plot area and in the plot's legend sample.
//
// Pixel arrays hold 15005 for points that are not drawn: such a point
// never becomes a polygon vertex; it ends the polygon, and the next drawn
// point starts a new one.
#include "controls/graphfill.h"

#include <algorithm>
#include <cstdlib>

#include "controls/graphdraw.h"
#include "controls/scale.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/objects.h"

namespace {

constexpr char kSource[] = "graphfill.cpp";
// Polygons are painted in chunks of this many points of each plot.
constexpr int32 kChunk = 500;
// The graph's flag: each plot has its own plot area and Y scale.
constexpr uInt32 kStackedPlots = 0x80000;
constexpr int32 kPixelLimit = 32767;

bool Drawn(int16 h, int16 v) { return h != kPlotGap && v != kPlotGap; }
bool Steps(int32 interpolation) { return interpolation == 1 || interpolation == 3; }
int16 Pin(int64 v) { return int16(std::clamp<int64>(v, -kPixelLimit, kPixelLimit)); }
Point Pt(int32 h, int32 v) { return Point{Pin(v), Pin(h)}; }

// A record's pixel arrays and the points both of them hold.
struct Coords {
  const int16* hs = nullptr;
  const int16* vs = nullptr;
  int32 n = 0;
};
Coords CoordsOf(const PlotRec& p) {
  Coords c;
  if (!p.xs || !p.ys || !*p.xs || !*p.ys) return c;
  const int32 held = std::min(DSGetHandleSize(p.xs), DSGetHandleSize(p.ys));
  c.n = std::clamp<int32>(p.count, 0, std::max(0, (held - 4) / 2));
  c.hs = reinterpret_cast<const int16*>(*p.xs + 4);
  c.vs = reinterpret_cast<const int16*>(*p.ys + 4);
  return c;
}

// The runs of consecutive drawn points in first .. last (last exclusive),
// as test(i) tells, cut into chunks of at most kChunk points that share
// their end points; each chunk of two or more points goes to paint.
template <typename Test, typename Paint>
void ForEachChunk(int32 count, Test drawn, Paint paint) {
  int32 i = 0;
  while (i < count) {
    while (i < count && !drawn(i)) ++i;
    int32 end = i;
    while (end < count && drawn(end)) ++end;
    for (int32 s = i; end - s >= 2;) {
      const int32 k = std::min(kChunk, end - s);
      paint(s, k);
      if (s + k >= end) break;
      s += k - 1;
    }
    i = end;
  }
}

// A polygon being built: at most four points for each of kChunk points
// of two plots.
class Poly {
 public:
  void Add(int32 h, int32 v) {
    if (n_ < kCapacity) pts_[n_++] = Pt(h, v);
  }
  // Points from first for k points, straight or as steps (1: the vertical
  // edge first, 3: the horizontal one); backward from the last point to
  // the first along the same shape.
  void Trace(const int16* hs, const int16* vs, int32 first, int32 k, int32 interpolation, bool backward) {
    const bool steps = Steps(interpolation), verticalFirst = interpolation == 1;
    for (int32 j = 0; j < k; ++j) {
      const int32 i = backward ? first + k - 1 - j : first + j;
      if (j > 0 && steps) {
        // The corner between point a and the later point b of the pair.
        const int32 a = backward ? i : i - 1, b = a + 1;
        if (verticalFirst) Add(hs[a], vs[b]);
        else Add(hs[b], vs[a]);
      }
      Add(hs[i], vs[i]);
    }
  }
  int32 Count() const { return n_; }
  // DPaintPoly takes the index of the last point.
  void Paint() {
    if (n_ >= 3) DPaintPoly(pts_, n_ - 1, 0);
    n_ = 0;
  }

 private:
  static constexpr int32 kCapacity = 4 * kChunk;
  Point pts_[kCapacity];
  int32 n_ = 0;
};

// Fill of a plot's points to a baseline row, by interpolation: lines for 0;
// on graphs above type 0 the outline closed by two baseline corners, on XY
// graphs one four-cornered area per pair of points.
void FillToBaseline(int32 graphType, const int16* hs, const int16* vs, int32 n, int32 baseline,
                    int32 interpolation) {
  if (interpolation == 0) {
    for (int32 i = 0; i < n; ++i)
      if (Drawn(hs[i], vs[i])) {
        DMoveTo(hs[i], vs[i]);
        DLineTo(hs[i], baseline);
      }
    return;
  }
  if (interpolation < 1 || interpolation > 3) return;
  Poly poly;
  if (graphType <= kGraphXY) {
    for (int32 i = 1; i < n; ++i) {
      if (!Drawn(hs[i - 1], vs[i - 1]) || !Drawn(hs[i], vs[i])) continue;
      const int32 left = hs[i - 1], right = hs[i];
      const int32 vl = interpolation == 1 ? vs[i] : vs[i - 1];
      const int32 vr = interpolation == 3 ? vs[i - 1] : vs[i];
      poly.Add(left, baseline);
      poly.Add(left, vl);
      poly.Add(right, vr);
      poly.Add(right, baseline);
      poly.Paint();
    }
    return;
  }
  ForEachChunk(n, [&](int32 i) { return Drawn(hs[i], vs[i]); },
               [&](int32 s, int32 k) {
                 poly.Trace(hs, vs, s, k, interpolation, false);
                 poly.Add(hs[s + k - 1], baseline);
                 poly.Add(hs[s], baseline);
                 poly.Paint();
               });
}

// Fill between this plot and its target: this plot's points forward, the
// target's backward, in chunks following the smaller count.
void FillToPlot(const Coords& me, int32 myInterpolation, const Coords& target, int32 targetInterpolation) {
  const int32 mode = FillPairMode(myInterpolation, targetInterpolation);
  const int32 mine = mode == 1 || mode == 3 ? myInterpolation : 2;
  const int32 theirs = mode == 1 || mode == 2 ? targetInterpolation : 2;
  const int32 n = std::min(me.n, target.n);
  Poly poly;
  ForEachChunk(n, [&](int32 i) { return Drawn(me.hs[i], me.vs[i]) && Drawn(target.hs[i], target.vs[i]); },
               [&](int32 s, int32 k) {
                 poly.Trace(me.hs, me.vs, s, k, mine, false);
                 poly.Trace(target.hs, target.vs, s, k, theirs, true);
                 poly.Paint();
               });
}

// XY bars of kinds 2 and 3: each bar as wide as its nearest drawn
// neighbour along the bar axis is far.
void DrawOwnWidthBars(const int16* hs, const int16* vs, int32 n, int32 baseline, int32 kind, bool horizontal) {
  const int16* axis = horizontal ? vs : hs;
  const int16* value = horizontal ? hs : vs;
  int32 previous = -1;
  for (int32 i = 0; i < n; ++i) {
    if (!Drawn(hs[i], vs[i])) continue;
    int32 next = i + 1;
    while (next < n && !Drawn(hs[next], vs[next])) ++next;
    int32 w = 1;
    if (next < n) {
      w = std::abs(axis[next] - axis[i]);
      if (previous >= 0) w = std::min(w, std::abs(axis[i] - axis[previous]));
    } else if (previous >= 0) {
      w = std::abs(axis[i] - axis[previous]);
    }
    w = std::max(w, 1);
    if (kind == kFillBarGaps) w = std::max(std::min(4 * w / 5, w - 1), 1);
    const int32 p = axis[i];
    const int32 from = p - (w - w / 2), to = p + w / 2 + 1;
    const int32 lo = std::min<int32>(value[i], baseline), hi = std::max<int32>(value[i], baseline) + 1;
    const Rect r = horizontal ? Rect{Pin(from), Pin(lo), Pin(to), Pin(hi)} : Rect{Pin(lo), Pin(from), Pin(hi), Pin(to)};
    DPaintRect(&r);
    previous = i;
  }
}

}  // namespace

// ---- The word and its fields ---------------------------------------------------------

Bool32 FillWordValid(int32 word) {
  if (word == 0 || (word >= kFillToPlot && word <= 32767)) return 1;
  if (word < 0 || word > 0x7F) return 0;
  const int32 orient = word & kFillOrientMask, base = word & kFillBaseMask;
  if (orient == kFillOrientMask) return 0;
  if (base != 0 && base != kFillToZero && base != kFillToPlusInf && base != kFillToMinusInf) return 0;
  if (orient != 0 && (word & kFillBarKindMask) == 0) return 0;  // bars without a width
  return 1;
}

int32 GetFillStyleField(int32 word, int32 selector) {
  if (selector == kFillSelBarStyle) {
    if (word <= 0 || word >= kFillToPlot) return 0;
    const int32 kind = word & kFillBarKindMask;
    switch (word & kFillOrientMask) {
      case kFillBarsVertical: return kind;
      case kFillBarsHorizontal: return kind ? kind + 3 : 0;
      default: return 0;
    }
  }
  if (selector == kFillSelFillTo) {
    if (word >= kFillToPlot) return word - 251;
    if (word <= 0) return 0;
    switch (word & kFillBaseMask) {
      case kFillToZero: return 1;
      case kFillToPlusInf: return 3;
      case kFillToMinusInf: return 2;
      default: return 0;
    }
  }
  return 0;
}

MgErr SetFillStyleField(PlotRec* plot, int32 code, int32 selector) {
  if (!plot) return kArgErr;
  if (selector == kFillSelLegendChoice) {
    plot->fillStyle = 0;
    plot->interpolation = 0;
    plot->lineStyle = 0;
    plot->pointStyle = 0;
    plot->lineWidth = 1;
    switch (code) {
      case 0: plot->interpolation = 2; break;
      case 1: plot->pointStyle = 8; break;
      case 2:
        plot->pointStyle = 8;
        plot->interpolation = 2;
        break;
      case 3:
        plot->interpolation = 2;
        plot->fillStyle = kFillToZero;
        break;
      case 4: plot->fillStyle = kFillToZero | kFillBarsVertical | kFillBarThin; break;
      case 5: plot->fillStyle = kFillToZero | kFillBarsVertical | kFillBarTouching; break;
      default: break;
    }
    return kNoErr;
  }
  // A plot target (or a negative word) holds no fields to keep.
  const int32 word = plot->fillStyle >= kFillToPlot || plot->fillStyle < 0 ? 0 : plot->fillStyle;
  if (selector == kFillSelBarStyle) {
    if (code < 0 || code > 6) return kArgErr;
    int32 w = word & ~(kFillBarKindMask | kFillOrientMask);
    if (code >= 1 && code <= 3) w |= kFillBarsVertical | code;
    else if (code >= 4) w |= kFillBarsHorizontal | (code - 3);
    // Bars stand on zero unless the word names another baseline.
    if (!(w & kFillBaseMask)) w |= kFillToZero;
    plot->fillStyle = int16(w);
    return kNoErr;
  }
  if (selector == kFillSelFillTo) {
    if (code < 0 || code > 32767 - kFillToPlot + 4) return kArgErr;
    int32 w = word & ~kFillBaseMask;
    switch (code) {
      case 0: w = 0; break;
      case 1: w |= kFillToZero; break;
      case 2: w |= kFillToMinusInf; break;
      case 3: w |= kFillToPlusInf; break;
      default: w = kFillToPlot + code - 4; break;
    }
    plot->fillStyle = int16(w);
    return kNoErr;
  }
  return kArgErr;
}

// ---- Baselines ------------------------------------------------------------------------

int32 FillScalePart(ObjHeap heap, int32 graph, int32 index, Bool32 horizontal) {
  if (horizontal) return FindPart(heap, graph, kGPartXScale, 0);
  int32 order = 0;
  if (OHWord(heap, uInt32(graph)) & kStackedPlots)
    order = std::max(0, std::min(index, GraphPlotBounds(heap, graph, nullptr)));
  const int32 part = FindPart(heap, graph, kGPartYScale, order);
  // A slot past the last plot area has no scale of its own.
  return part > 0 || order == 0 ? part : FindPart(heap, graph, kGPartYScale, 0);
}

int32 ScaleEndPixel(ObjHeap heap, int32 scale, int32 which) {
  if (scale <= 0) return 0;
  const ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  if (which == 0) {
    const float64 zero = 0;
    int16 px = 0;
    MapValuesToPixels(heap, ObjWord(heap, scale, kScaleObjData), 10, &zero, int32(sizeof zero), 1, &px, 2);
    return px;
  }
  const bool rising = r->min < r->max;
  if (which > 0) return rising ? r->pixelEnd : r->pixelStart;
  return rising ? r->pixelStart : r->pixelEnd;
}

PlotRec* FillBaseline(ObjHeap heap, int32 graph, int32 index, PlotRec* plot, const Rect* legend, int32 count,
                      Bool32* valid, int32* baseline) {
  *valid = plot && count > 0;
  *baseline = 0;
  if (!*valid) return nullptr;
  const int32 word = plot->fillStyle;
  if (word >= kFillToPlot) {
    if (legend) {
      *baseline = legend->bottom;
      return nullptr;
    }
    int32 n = 0;
    PlotRec* plots = GraphPlots(GraphDataOf(heap, graph), &n);
    const int32 target = word - kFillToPlot;
    if (!plots || target >= n) {
      *valid = 0;
      return nullptr;
    }
    return plots + target;
  }
  const int32 base = word & kFillBaseMask;
  const bool horizontal = (word & kFillOrientMask) == kFillBarsHorizontal;
  if (legend && horizontal) {
    // Horizontal bars stand on a column: the sample's left end for minus
    // infinity, its right end for plus infinity, else its middle.
    *baseline = base == kFillToPlusInf ? legend->right
                : base == kFillToMinusInf ? legend->left
                                          : (legend->left + legend->right) / 2;
    return nullptr;
  }
  if (legend) {
    *baseline = base == kFillToPlusInf ? legend->top
                : base == kFillToMinusInf ? legend->bottom
                                          : (legend->top + legend->bottom) / 2;
    return nullptr;
  }
  const int32 part = FillScalePart(heap, graph, index, horizontal);
  if (part <= 0) {
    *valid = 0;
    return nullptr;
  }
  // Bars without a baseline stand on zero.
  const int32 which = base == kFillToPlusInf ? 1 : base == kFillToMinusInf ? -1 : 0;
  *baseline = ScaleEndPixel(heap, part, which);
  // A scale that maps zero to no pixel (equal or unusable ends) gives
  // nothing to fill to.
  if (*baseline == kPlotGap) *valid = 0;
  return nullptr;
}

int32 FillPairMode(int32 thisInterpolation, int32 targetInterpolation) {
  const bool mine = Steps(thisInterpolation), theirs = Steps(targetInterpolation);
  return mine && theirs ? 1 : theirs ? 2 : mine ? 3 : 0;
}

// ---- Bars -----------------------------------------------------------------------------

int32 BarWidth(int32 graphType, int32 word, const int16* hs, const int16* vs, int32 kind, int32 count) {
  DBPrintf("plotype = %d, fillStyle = %d", int(graphType), int(word));
  if (kind == kFillBarThin || !hs || !vs) return 1;
  const int16* axis = (word & kFillOrientMask) == kFillBarsHorizontal ? vs : hs;
  int32 first = -1, w = 1;
  for (int32 i = 0; i < count; ++i) {
    if (!Drawn(hs[i], vs[i])) continue;
    if (first < 0) {
      first = i;
      continue;
    }
    w = std::abs(axis[i] - axis[first]);
    break;
  }
  if (kind == kFillBarGaps) w = std::max(std::min(4 * w / 5, w - 1), 1);
  return std::max(w, 1);
}

Bool32 ChartFillClipRect(int32 graphType, const int16* hs, int32 width, int32 count, Rect* out) {
  if (!IsChartType(graphType) || width < 2 || !hs || count < 1 || !out) return 0;
  int32 first = 0;
  while (first < count && hs[first] == kPlotGap) ++first;
  for (int32 i = first + 1; i < count; ++i) {
    if (hs[i] == kPlotGap || hs[i] == hs[first]) continue;
    const bool rising = hs[i] > hs[first];
    *out = rising ? Rect{-kPixelLimit, hs[first], kPixelLimit, kPixelLimit}
                  : Rect{-kPixelLimit, -kPixelLimit, kPixelLimit, hs[first]};
    return 1;
  }
  return 0;
}

void DrawVBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count) {
  for (int32 i = 0; i < count; ++i) {
    if (!Drawn(hs[i], vs[i])) continue;
    if (width <= 1) {
      DMoveTo(hs[i], vs[i]);
      DLineTo(hs[i], baseline);
      continue;
    }
    const int32 left = hs[i] - (width - 1) / 2, right = int64(hs[i]) + width - (width - 1) / 2 + 1;
    const Rect r{Pin(std::min<int32>(vs[i], baseline)), Pin(left), Pin(std::max<int32>(vs[i], baseline) + 1),
                 Pin(right)};
    DPaintRect(&r);
  }
}

void DrawHBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count) {
  if (width != 1) {
    DBAssert(kSource, __LINE__, "DrawHBars: horizontal bars are one pixel wide");
    return;
  }
  for (int32 i = 0; i < count; ++i) {
    if (!Drawn(hs[i], vs[i])) continue;
    DMoveTo(hs[i], vs[i]);
    DLineTo(baseline, vs[i]);
  }
}

void DrawBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count, Bool32 horizontal) {
  if (!hs || !vs || count <= 0) return;
  if (horizontal) DrawHBars(hs, vs, baseline, width, count);
  else DrawVBars(hs, vs, baseline, width, count);
}

// ---- The plot's fill ------------------------------------------------------------------

int32 DrawFilledPlot(PlotRec* plot, const Rect* legend, ObjHeap heap, int32 graph, int32 index) {
  if (!plot) return 0;
  // The record lies in the plot list's handle: its fields are read before
  // anything is allocated.
  PlotRec me = *plot;
  const int32 word = me.fillStyle;
  if (word == 0 || me.pointColor == uInt32(kNoColor)) return 0;
  if (!FillWordValid(word)) return 0;
  if (!legend && (!me.xs || !me.ys)) {
    DBAssert(kSource, __LINE__, "DrawFilledPlot: a plot record without its coordinate arrays");
    return 0;
  }
  const int32 type = GraphTypeOf(heap, graph);
  const int32 orient = word < kFillToPlot ? word & kFillOrientMask : 0;
  const bool horizontal = orient == kFillBarsHorizontal;
  if (horizontal && type != kGraphXY) return 0;
  if (word >= kFillToPlot && !legend && (OHWord(heap, uInt32(graph)) & kStackedPlots)) return 0;

  int16* zigH = nullptr;
  int16* zigV = nullptr;
  Coords c;
  Rect sample{}, savedClip{0, 0, 0, 0};
  bool clipped = false;
  if (legend) {
    if (!MakeLegendZigzag(me.lineWidth, *legend, &zigH, &zigV, &c.n, &sample)) return kPlotResultFailed;
    c.hs = zigH;
    c.vs = zigV;
    WLimitClip(legend, &savedClip);
    clipped = true;
  } else {
    c = CoordsOf(me);
  }
  Bool32 valid = 0;
  int32 baseline = 0;
  PlotRec* target = FillBaseline(heap, graph, index, &me, legend ? &sample : nullptr, c.n, &valid, &baseline);
  if (valid) {
    DSelectNormPen(DColor(me.pointColor), DColor(me.pointColor));
    if (orient) {
      const int32 kind = word & kFillBarKindMask;
      if (type <= kGraphXY && kind != kFillBarThin) {
        DrawOwnWidthBars(c.hs, c.vs, c.n, baseline, kind, horizontal);
      } else {
        const int32 w = BarWidth(type, word, c.hs, c.vs, kind, c.n);
        Rect half;
        if (ChartFillClipRect(type, c.hs, w, c.n, &half)) {
          if (clipped) {
            Rect inner;
            WLimitClip(&half, &inner);  // the legend's clip stays saved
          } else {
            WLimitClip(&half, &savedClip);
            clipped = true;
          }
        }
        DrawBars(c.hs, c.vs, baseline, w, c.n, horizontal);
      }
    } else if (target) {
      FillToPlot(c, me.interpolation, CoordsOf(*target), target->interpolation);
    } else {
      FillToBaseline(type, c.hs, c.vs, c.n, baseline, me.interpolation);
    }
    DSelectNormPen(0, 0);
  }
  if (clipped) WRestoreClip(&savedClip);
  if (zigH) DSDisposePtr(reinterpret_cast<UPtr>(zigH));
  if (zigV) DSDisposePtr(reinterpret_cast<UPtr>(zigV));
  return 0;
}
