// Zooming, panning and scrolling a graph's scales, and the precision of a
// scale's format code.  The pixel ranges are mapped to values through the
// scales' own mappings, so linear and logarithmic scales zoom alike.
#include "controls/graphzoom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "controls/graphdraw.h"
#include "controls/graphsupport.h"
#include "controls/scale.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/numconv.h"
#include "panel/numfmt.h"
#include "panel/objects.h"
#include "panel/osupport.h"

namespace {

constexpr const char* kModule = "graphzoom";
constexpr int32 kFloat64Type = 10;
constexpr int32 kShiftModifier = 0x4;
constexpr int32 kCursorZoomIn = 56, kCursorZoomOut = 57;
constexpr int16 kToolZoomIn = 6;

bool IsGraph(ObjHeap heap, int32 graph) {
  return heap && *heap && graph > 0 && OHIsUsedBlock(heap, graph) && OHBlockSize(heap, graph) >= kGraphObjectBytes &&
         GraphTypeOf(heap, graph) != -1;
}
Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
int16 ToolOf(ObjHeap heap, int32 graph) { return int16(GetNative16(*heap + graph + kGraphToolByte)); }

// The scale parts of the id (every order with -1), in part order.
std::vector<int32> ScalesOf(ObjHeap heap, int32 graph, int16 id, int32 order) {
  std::vector<int32> out;
  ForEachPart(heap, graph, [&](int32 part) {
    if (part == graph || ObjInt16(heap, part, kObjPartId) != id) return;
    if (order >= 0 && ObjInt16(heap, part, kObjPartOrder) != order) return;
    if (ScaleRecOf(heap, part)) out.push_back(part);
  });
  return out;
}
int32 FirstScale(ObjHeap heap, int32 graph, int16 id, int32 order) {
  const std::vector<int32> s = ScalesOf(heap, graph, id, std::max(order, 0));
  return s.empty() ? 0 : s.front();
}

// Sets the scale to the values under the two pixels (lo, hi); nothing when
// its pixel span is that already.
MgErr SetFromPixels(ObjHeap heap, int32 scale, int32 lo, int32 hi, bool skipSame) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return kNoErr;
  const int32 a = std::min<int32>(r->pixelStart, r->pixelEnd), b = std::max<int32>(r->pixelStart, r->pixelEnd);
  if (skipSame && a == lo && b == hi) return kNoErr;
  // The pair follows the scale's own pixel direction.
  const bool forward = r->pixelStart <= r->pixelEnd;
  const int16 px[2] = {int16(std::clamp(forward ? lo : hi, -15000, 15000)),
                       int16(std::clamp(forward ? hi : lo, -15000, 15000))};
  float64 v[2] = {0, 0};
  MapPixelsToValues(heap, ObjWord(heap, scale, kScaleObjData), kFloat64Type, px, 1, 2, v, 8);
  Bool32 moved = false;
  return CalcScaleMarkers(heap, scale, v[0], v[1], true, true, &moved);
}

MgErr RedrawAll(ObjHeap heap, int32 graph) {
  return RedrawAfterScaleChange(heap, graph, 0, 0, nullptr, false, false, false, false);
}

int32 MoveEdge(int32 edge, int32 toward, bool in) {
  const int32 d = toward - edge;
  const int32 step = int32(std::lround(0.1 * std::abs(d)));
  const int32 sign = d > 0 ? 1 : d < 0 ? -1 : 0;
  return in ? edge + sign * step : edge - sign * step;
}

}  // namespace

// ---- Zoom and pan ---------------------------------------------------------------------------

MgErr ZoomToRect(ObjHeap heap, int32 graph, int32 a, int32 b, int32 order) {
  if (!IsGraph(heap, graph)) return kNoErr;
  const int32 h1 = std::min(GraphPointH(a), GraphPointH(b)), h2 = std::max(GraphPointH(a), GraphPointH(b));
  const int32 v1 = std::min(GraphPointV(a), GraphPointV(b)), v2 = std::max(GraphPointV(a), GraphPointV(b));
  if (h1 == h2 || v1 == v2) return kNoErr;
  MgErr first = kNoErr;
  for (int32 s : ScalesOf(heap, graph, kGPartXScale, -1))
    if (MgErr e = SetFromPixels(heap, s, h1, h2, true); e && !first) first = e;
  for (int32 s : ScalesOf(heap, graph, kGPartYScale, order))
    if (MgErr e = SetFromPixels(heap, s, v1, v2, true); e && !first) first = e;
  if (MgErr e = RedrawAll(heap, graph); e && !first) first = e;
  return first;
}

MgErr ZoomAtPoint(ObjHeap heap, int32 graph, int32 point, int32 modifiers, int32 order) {
  if (!IsGraph(heap, graph)) return kNoErr;
  const int32 area = FindPart(heap, graph, kGPartPlotArea, std::max(order, 0));
  if (area <= 0) {
    DBAssert(kModule, __LINE__, "zoom without its plot area");
    return kNoErr;
  }
  const Rect r = BoundsOf(heap, area);
  const int32 h = GraphPointH(point), v = GraphPointV(point);
  if (h < r.left || h >= r.right || v < r.top || v >= r.bottom) return kNoErr;
  const bool in = (ToolOf(heap, graph) == kToolZoomIn) != ((modifiers & kShiftModifier) != 0);
  SetCursorByNumber(in ? kCursorZoomIn : kCursorZoomOut, 0);
  const ScaleRec* x = ScaleRecOf(heap, FirstScale(heap, graph, kGPartXScale, 0));
  const int32 ys = FirstScale(heap, graph, kGPartYScale, order);
  const ScaleRec* y = ys ? ScaleRecOf(heap, ys) : nullptr;
  if (!x || !y) {
    DBAssert(kModule, __LINE__, "zoom without its scales");
    return kNoErr;
  }
  const int32 x0 = MoveEdge(x->pixelStart, h, in), x1 = MoveEdge(x->pixelEnd, h, in);
  const int32 y0 = MoveEdge(y->pixelStart, v, in), y1 = MoveEdge(y->pixelEnd, v, in);
  return ZoomToRect(heap, graph, PackGraphPoint(x0, y0), PackGraphPoint(x1, y1), order);
}

MgErr PanScales(ObjHeap heap, int32 graph, int32 dx, int32 dy, int32 order) {
  if (!IsGraph(heap, graph) || (!dx && !dy)) return kNoErr;
  MgErr first = kNoErr;
  auto move = [&](int32 s, int32 by) {
    const ScaleRec* r = ScaleRecOf(heap, s);
    if (!r || !by) return;
    const int32 a = std::min<int32>(r->pixelStart, r->pixelEnd) - by;
    const int32 b = std::max<int32>(r->pixelStart, r->pixelEnd) - by;
    if (MgErr e = SetFromPixels(heap, s, a, b, false); e && !first) first = e;
  };
  for (int32 s : ScalesOf(heap, graph, kGPartXScale, -1)) move(s, dx);
  for (int32 s : ScalesOf(heap, graph, kGPartYScale, order)) move(s, dy);
  if (MgErr e = RedrawAll(heap, graph); e && !first) first = e;
  return first;
}

MgErr SaveScales(ObjHeap heap, int32 graph, int32 order) {
  GraphData* d = IsGraph(heap, graph) ? GraphDataOf(heap, graph) : nullptr;
  if (!d) {
    DBAssert(kModule, __LINE__, "saving the scales without graph data");
    return kNoErr;
  }
  const ScaleRec* x = ScaleRecOf(heap, FirstScale(heap, graph, kGPartXScale, 0));
  const int32 ys = FirstScale(heap, graph, kGPartYScale, order);
  const ScaleRec* y = ys ? ScaleRecOf(heap, ys) : nullptr;
  // The record may have moved with the data space while the scales were read.
  d = GraphDataOf(heap, graph);
  if (!d) return kNoErr;
  d->savedYOrder = order;
  if (x) d->savedXMin = x->min, d->savedXMax = x->max;
  if (y) d->savedYMin = y->min, d->savedYMax = y->max;
  return kNoErr;
}

Bool32 SavedZoomEmpty(ObjHeap heap, int32 graph) {
  const GraphData* d = IsGraph(heap, graph) ? GraphDataOf(heap, graph) : nullptr;
  return !d || d->savedXMin == d->savedXMax || d->savedYMin == d->savedYMax;
}

MgErr UndoZoom(ObjHeap heap, int32 graph) {
  const GraphData* d = IsGraph(heap, graph) ? GraphDataOf(heap, graph) : nullptr;
  if (!d) {
    DBAssert(kModule, __LINE__, "undoing a zoom without graph data");
    return kNoErr;
  }
  const GraphData saved = *d;
  MgErr first = kNoErr;
  Bool32 moved = false;
  if (const int32 x = FirstScale(heap, graph, kGPartXScale, 0))
    first = CalcScaleMarkers(heap, x, saved.savedXMin, saved.savedXMax, true, true, &moved);
  for (int32 y : ScalesOf(heap, graph, kGPartYScale, saved.savedYOrder))
    if (MgErr e = CalcScaleMarkers(heap, y, saved.savedYMin, saved.savedYMax, true, true, &moved); e && !first)
      first = e;
  if (MgErr e = RedrawAll(heap, graph); e && !first) first = e;
  return first;
}

void PinPointToRect(int32 point, const Rect* r, int32* out, Bool32 inset) {
  if (!out) return;
  int32 h = GraphPointH(point), v = GraphPointV(point);
  if (r) {
    // The inset never passes the far edge of a rectangle one pixel wide.
    const int32 add = inset ? 1 : 0;
    if (h < r->left) h = std::max<int32>(r->left, std::min<int32>(r->left + add, r->right - 1));
    else if (h >= r->right) h = std::max<int32>(r->left, r->right - 1);
    if (v < r->top) v = std::max<int32>(r->top, std::min<int32>(r->top + add, r->bottom - 1));
    else if (v >= r->bottom) v = std::max<int32>(r->top, r->bottom - 1);
  }
  *out = PackGraphPoint(h, v);
}

void XorFrameTwo(int32 anchor, int32 oldCorner, int32 newCorner) {
  PenState xorPen{};
  xorPen.mode = 2;
  const int32 pen = DNewPen(kDefaultPenBase, kPenMode | kPenFore, &xorPen);
  if (pen) DSelectPen(pen, 0, 0xFFFFFF);
  for (int32 corner : {oldCorner, newCorner}) {
    const Rect band{int16(std::min(GraphPointV(anchor), GraphPointV(corner))),
                    int16(std::min(GraphPointH(anchor), GraphPointH(corner))),
                    int16(std::max(GraphPointV(anchor), GraphPointV(corner))),
                    int16(std::max(GraphPointH(anchor), GraphPointH(corner)))};
    DFrameRect(&band);
  }
  DSelectNormPen(0, 0);
  if (pen) DDestroyPen(pen);
}

// ---- Format precision ---------------------------------------------------------------------------
// Decimal -64..0 (precision -code), scientific 1..63 (code - 1), engineering
// 100..162 (code - 100), binary, octal and hexadecimal 64..68 (none),
// relative time 200..299 (code - 200), absolute time 512..1536 (the low two
// bits, at most 3).  The precision of a code is NumFormatPrecision's, of
// the numeric formats.

int32 SetFormatPrecision(int32 precision, int32 code) {
  const int32 p = std::max(precision, 0);
  if (code >= -64 && code <= 0) return -std::min(p, 64);
  if (code >= 1 && code <= 63) return 1 + std::min(p, 62);
  if (code >= 64 && code <= 68) return code;
  if (code >= 100 && code <= 162) return 100 + std::min(p, 62);
  if (code >= 200 && code <= 299) return 200 + std::min(p, 99);
  if (code >= 512 && code <= 1536) return (code & ~3) | std::min(p, 3);
  DBAssert(kModule, __LINE__, "unknown format code");
  return 0;
}

// ---- The chart scroll bar -------------------------------------------------------------------------

int32 ChartScrollStep(int32 reply, int32 position, int32 span, Bool32 shift, Bool32* bad) {
  if (bad) *bad = false;
  const int32 line = shift && span >= 8 ? span / 8 : 1;
  const int32 page = std::max(span, 2);
  int64 to = position;
  switch (reply) {
    case 0: case 1: break;
    case 2: case 4: to -= line; break;
    case 3: case 5: to += line; break;
    case 6: case 8: to -= int64(page) + 1; break;
    case 7: case 9: to += int64(page) - 1; break;
    default:
      if (uInt32(reply) & 0x80000000u) to = int32(uInt32(reply) & 0x3FFFFFFF);
      else if (bad) *bad = true;
  }
  return int32(std::clamp<int64>(to, 0, 0x7FFFFFFF));
}

MgErr ChartScrollBy(ObjHeap heap, int32 graph, int32 reply, Bool32 shift) {
  if (!IsGraph(heap, graph)) return kNoErr;
  if (!IsChartType(GraphTypeOf(heap, graph))) {
    DBAssert(kModule, __LINE__, "scroll bar on a graph that is no chart");
    return kNoErr;
  }
  const int32 xs = FirstScale(heap, graph, kGPartXScale, 0);
  const ScaleRec* x = xs ? ScaleRecOf(heap, xs) : nullptr;
  ChartHistoryView h;
  if (!x || !ChartHistoryOf(heap, graph, &h) || !h.count) {
    DBAssert(kModule, __LINE__, "chart scroll bar without its scale or history");
    return kNoErr;
  }
  const float64 spanD = std::fabs(std::round(x->max - x->min)) + 1;
  const int32 span = spanD < 2147483647.0 ? int32(spanD) : 2147483647;
  const int32 first = std::max(0, *h.count - h.bufferSize);
  const int32 position = RndToNearest(x->min) - first;
  Bool32 bad = false;
  const int32 to = ChartScrollStep(reply, position, span, shift, &bad);
  if (bad) {
    DBAssert(kModule, __LINE__, "scroll bar reply without its thumb bit");
    return kNoErr;
  }
  if (to == position) return kNoErr;
  if (MgErr err = ScaleRecalc(heap, xs)) return err;
  x = ScaleRecOf(heap, xs);
  if (!x) return kNoErr;
  const float64 by = float64(to) - float64(position);
  Bool32 moved = false;
  if (MgErr err = CalcScaleMarkers(heap, xs, x->min + by, x->max + by, true, true, &moved)) return err;
  return RedrawAfterScaleChange(heap, graph, kGPartChartScrollbar, 0, nullptr, true, false, false, false);
}
