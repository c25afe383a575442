// Cursors answering the operator and the data: the cursor under the mouse,
// its drag (free, or snapped to the nearest point), the selected cursors
// moved by the movement control, and snapped cursors put back onto their
// points when the data changes.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/graphsupport.h"
#include "controls/pointlookup.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/debug.h"
#include "mgsource/prefs.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/osupport.h"

namespace {

int32 Size() { return GraphCursorFields()->size; }
int32 Signed(const uChar* c, GraphCursorField f) { return int32(CursorU32(c, f)); }

// The graph's value as its data controller holds it.
const void* GraphValue(ObjHeap heap, int32 graph) {
  return reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
}
// The plot kind of the value on the graph.
GraphDataKind KindOf(ObjHeap heap, int32 graph, const void* value) {
  GraphLayout l;
  const TypeDescriptor* td = TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
  return td && value ? GraphLayoutOf(heap, graph, td, value, &l) : kKindNone;
}
bool SinglePlotKind(GraphDataKind k) {
  return k == kKindWaveArray || k == kKindXYPoints || k == kKindXYArrays || k == kKindWaveform;
}
bool IsWaveformGraph(int32 type) { return type == kGraphWaveform || type == kGraphWaveformTransposed; }
bool IsIntensityGraph(int32 type) { return type == kGraphIntensity || type == kGraphIntensityTransposed; }

// The floor (or truncation) of a value as an index, saturating; NaN gives
// the smallest index, which no lookup finds.
int32 ToIndex(float64 x, bool floor) {
  if (std::isnan(x)) return INT32_MIN;
  const float64 f = floor ? std::floor(x) : std::trunc(x);
  return f <= float64(INT32_MIN) ? INT32_MIN : f >= float64(INT32_MAX) ? INT32_MAX : int32(f);
}
// z of an intensity graph at (plot, index); 0 when the lookup fails.
float64 IntensityZ(ObjHeap heap, int32 graph, const void* value, int32 plot, int32 index) {
  float64 z = 0;
  return GetPlotPointValues(heap, graph, value, plot, index, nullptr, nullptr, &z) == kPointFound ? z : 0;
}
bool HasDrawing(const uChar* c) {
  return (CursorU32(c, kGCFlags) & (kCursorHLineMask | kCursorVLineMask | kCursorShowLabel)) ||
         CursorU32(c, kGCPointStyle) != 0;
}
void MoveLabel(uChar* c, int32 dh, int32 dv) {
  SetCursorI16(c, kGCLabelH, int16(CursorI16(c, kGCLabelH) + dh));
  SetCursorI16(c, kGCLabelV, int16(CursorI16(c, kGCLabelV) + dv));
}
int32 Legend(ObjHeap heap, int32 graph) { return FindPart(heap, graph, kGPartCursorLegend, 0); }
int32 LegendElement(ObjHeap heap, int32 legend) {
  return legend > 0 && OHBlockSize(heap, legend) >= 44 ? ObjWord(heap, legend, 10) : 0;
}
bool Shown(ObjHeap heap, int32 o) {
  return o > 0 && OHIsUsedBlock(heap, o) && !(OHWord(heap, uInt32(o)) & kObjFlagHidden);
}

// What one drag keeps between its phases.
struct DragState {
  Bool32 rowVisible = false;
  Bool32 scrolled = false;
  AutoScrollState scroll{};
};
DragState gDrag;

}  // namespace

int32 CursorHitDistance(const uChar* c, Point pt) {
  if (!c || !GraphCursorFields()) return kCursorNoHitDistance;
  const uInt32 flags = CursorU32(c, kGCFlags);
  if (flags & (kCursorNoDrag | kCursorNoHit)) return kCursorNoHitDistance;
  const int32 dh = std::abs(int32(CursorI16(c, kGCH)) - pt.h), dv = std::abs(int32(CursorI16(c, kGCV)) - pt.v);
  const bool drawn = CursorU32(c, kGCPointStyle) != 0 || (flags & (kCursorHLineMask | kCursorVLineMask));
  if (drawn && dh <= 5 && dv <= 5) return std::max(dh, dv);
  if (dh < 5 && (flags & 0x2)) return dh + 6;
  if (dv < 5 && (flags & 0x8)) return dv + 6;
  return kCursorNoHitDistance;
}

int32 HitTestGraphCursors(ObjHeap heap, int32 graph, Point pt, uInt32* flagsOut) {
  int32 n = 0;
  UPtr list = GraphCursorsOf(heap, graph, &n);
  if (flagsOut) *flagsOut = 0;
  if (!list) return -1;
  // 1.
  for (int32 i = 0; i < n; ++i)
    SetCursorU32(list + i * Size(), kGCFlags, CursorU32(list + i * Size(), kGCFlags) & ~(kCursorHoldH | kCursorHoldV));
  const int32 type = GraphTypeOf(heap, graph);
  const bool waveform = IsWaveformGraph(type);
  const bool single = waveform && [&] {
    const GraphDataKind k = KindOf(heap, graph, GraphValue(heap, graph));
    return k == kKindWaveArray || k == kKindWaveform;
  }();
  list = GraphCursorsOf(heap, graph, &n);
  if (!list) return -1;
  // 2. The nearest eligible cursor, the earlier of equals.
  int32 best = kCursorNoHitDistance, found = -1;
  for (int32 i = 0; i < n; ++i) {
    const uChar* c = list + i * Size();
    const uInt32 f = CursorU32(c, kGCFlags);
    const int32 d = CursorHitDistance(c, pt);
    const int32 dh = std::abs(int32(CursorI16(c, kGCH)) - pt.h);
    const bool eligible = !((f & kCursorSnapped) && waveform && (single || (f & kCursorLockedToPlot))) || dh < 5;
    if (d < best && eligible) best = d, found = i;
  }
  if (found < 0) return -1;
  // 3. A line was taken: the cursor moves along it only.
  uChar* c = list + found * Size();
  if (best > 5) {
    const int32 dh = std::abs(int32(CursorI16(c, kGCH)) - pt.h);
    SetCursorU32(c, kGCFlags, CursorU32(c, kGCFlags) | (dh < 5 ? kCursorHoldV : kCursorHoldH));
  }
  if (flagsOut) *flagsOut = CursorU32(c, kGCFlags);
  return found;
}

MgErr SnapCursorToData(ObjHeap heap, int32 graph, UPtr c, Bool32* snapped, const Point* pixel, int32 cursorIndex,
                       Bool32* valuesChanged) {
  if (snapped) *snapped = false;
  if (valuesChanged) *valuesChanged = false;
  if (!c || !GraphCursorFields()) return kArgErr;
  const uInt32 flags = CursorU32(c, kGCFlags);
  const int32 type = GraphTypeOf(heap, graph);
  const void* value = GraphValue(heap, graph);
  const Point p = pixel ? *pixel : Point{CursorI16(c, kGCV), CursorI16(c, kGCH)};
  // 1. Free cursors stay; intensity graphs read z under them.
  if (!(flags & kCursorSnapped)) {
    if (IsIntensityGraph(type)) {
      float64 x = CursorF64(c, kGCX), y = CursorF64(c, kGCY);
      if (snapped)
        if (MgErr err = CursorPixelToValues(heap, graph, p, 0, &x, 0, &y)) return err;
      SetCursorF64(c, kGCZ, IntensityZ(heap, graph, value, ToIndex(y, true), ToIndex(x, true)));
    }
    return kNoErr;
  }
  // 2.
  const int32 plot = Signed(c, kGCPlot);
  const bool limit = (flags & kCursorLockedToPlot) || (IsWaveformGraph(type) && (flags & kCursorHoldV));
  const int32 mode = (flags & kCursorHoldV) ? kDistanceHorizontal : (flags & kCursorHoldH) ? kDistanceVertical : 0;
  // 3.
  int32 foundPlot = -1, foundIndex = -1;
  const int32 status = FindNearestPlotPoint(heap, graph, value, p, limit ? plot : -1, &foundPlot, &foundIndex, mode);
  if (snapped) *snapped = true;
  if (status == kPointNoData || (status == kPointNone && SinglePlotKind(KindOf(heap, graph, value))) ||
      foundPlot < 0 || foundIndex < 0)
    return kNoErr;
  float64 x = 0, y = 0, z = 0;
  GetPlotPointValues(heap, graph, value, foundPlot, foundIndex, &x, &y, &z);
  const bool xy = x != CursorF64(c, kGCX) || y != CursorF64(c, kGCY);
  const bool any = xy || z != CursorF64(c, kGCZ) || foundPlot != plot || foundIndex != Signed(c, kGCIndex);
  if (cursorIndex != -2 && any) {
    SetCursorF64(c, kGCX, x);
    SetCursorF64(c, kGCY, y);
    SetCursorF64(c, kGCZ, z);
    SetCursorU32(c, kGCPlot, uInt32(foundPlot));
    SetCursorU32(c, kGCIndex, uInt32(foundIndex));
  }
  if (valuesChanged) *valuesChanged = xy;
  return kNoErr;
}

int32 TrackGraphCursor(ObjHeap heap, int32 graph, int32 index, int32 code, const GraphTrackRec* track, int32 result) {
  if (code != kDoitTrackCursor || !track || (track->kind != 1 && track->kind != 2)) return result;
  auto cursorAt = [&]() -> UPtr {
    int32 n = 0;
    UPtr list = GraphCursorsOf(heap, graph, &n);
    return list && index >= 0 && index < n ? list + index * Size() : nullptr;
  };
  const int32 phase = track->phase;
  if (phase == kTrackEnd || phase == kTrackAbort) {
    // 3.
    if (UPtr c = cursorAt()) SetCursorU32(c, kGCFlags, CursorU32(c, kGCFlags) & ~(kCursorHoldH | kCursorHoldV));
    SetTrackObject(nullptr, 0, nullptr, nullptr, true);
    TrackState(0, nullptr, true);
    gDrag = DragState{};
    return result & ~kTrackResultTracking;
  }
  UPtr c = cursorAt();
  if (!c) return kTrackResultFailed;
  if (phase == kTrackStart) {
    // 1.
    ObjHeap th = nullptr;
    int32 to = 0;
    SetTrackObject(nullptr, 0, &th, &to, false);
    QX_ASSERT_MSG(to == 0 || (th == heap && to == graph), "another object is tracked");
    SetTrackObject(heap, graph, nullptr, nullptr, true);
    const Point offset{int16(CursorI16(c, kGCV) - track->mouse.v), int16(CursorI16(c, kGCH) - track->mouse.h)};
    TrackState(int32(uInt32(uInt16(offset.h)) << 16 | uInt16(offset.v)), nullptr, true);
    int32 n = 0;
    UPtr list = GraphCursorsOf(heap, graph, &n);
    bool lost = false;
    for (int32 i = 0; i < n; ++i) {
      uChar* o = list + i * Size();
      if (i == index) continue;
      lost |= CursorBool(o, kGCSelected) != 0;
      SetCursorBool(o, kGCSelected, false);
    }
    SetCursorBool(c, kGCSelected, true);
    gDrag = DragState{};
    if (const int32 legend = Legend(heap, graph)) {
      gDrag.rowVisible = ShowCursorLegendRow(heap, legend, index, nullptr);
      if (lost) UpdateCursorLegendValues(heap, graph, kLegendRowSelected | kLegendRowForce);
    }
    return result | kTrackResultTracking;
  }
  if (phase != kTrackMove && phase != kTrackIdle) return result | kTrackResultTracking;
  // 2.
  int32 state = 0;
  TrackState(0, &state, false);
  const int32 offH = int16(uInt32(state) >> 16), offV = int16(uInt32(state) & 0xFFFF);
  const uInt32 flags = CursorU32(c, kGCFlags);
  const int32 h0 = CursorI16(c, kGCH), v0 = CursorI16(c, kGCV);
  const int32 h = (flags & kCursorHoldH) ? h0 : std::clamp(track->mouse.h + offH, -32768, 32767);
  const int32 v = (flags & kCursorHoldV) ? v0 : std::clamp(track->mouse.v + offV, -32768, 32767);
  if (h != h0 || v != v0 || (phase == kTrackIdle && gDrag.scrolled)) {
    const float64 x0 = CursorF64(c, kGCX), y0 = CursorF64(c, kGCY), z0 = CursorF64(c, kGCZ);
    const Point to{int16(v), int16(h)};
    Bool32 snapped = false;
    if (SnapCursorToData(heap, graph, c, &snapped, &to, index, nullptr)) return kTrackResultFailed;
    if (!snapped) {
      float64 x = x0, y = y0;
      if (CursorPixelToValues(heap, graph, to, 0, (flags & kCursorHoldH) ? nullptr : &x, 0,
                              (flags & kCursorHoldV) ? nullptr : &y))
        return kTrackResultFailed;
      SetCursorF64(c, kGCX, x);
      SetCursorF64(c, kGCY, y);
    }
    const int32 changes = (CursorF64(c, kGCX) != x0 ? kCursorChangedX : 0) |
                          (CursorF64(c, kGCY) != y0 ? kCursorChangedY : 0) |
                          (CursorF64(c, kGCZ) != z0 ? kCursorChangedZ : 0);
    if (changes & (kCursorChangedX | kCursorChangedY)) {
      if (UpdateCursorPixel(heap, graph, c, index)) return kTrackResultFailed;
      ScrollCursorDrawing(heap, graph, c, CursorI16(c, kGCH) - h0, CursorI16(c, kGCV) - v0, true);
    }
    if (changes && gDrag.rowVisible) {
      const int32 legend = Legend(heap, graph);
      if (UPtr cc = cursorAt()) UpdateCursorLegendRow(heap, LegendElement(heap, legend), cc, changes);
    }
  }
  // The scales scroll while the mouse is outside the plot; the drag goes on
  // where the scales moved to even while the mouse rests.
  if (PrefGet(kPrefScrollGraphCursors)) {
    Rect plot;
    if (!CursorPlotRect(heap, graph, &plot)) return kTrackResultFailed;
    int32 offsets[2] = {0, 0};
    const int32 point = int32(uInt32(uInt16(track->mouse.h)) << 16 | uInt16(track->mouse.v));
    if (AutoScrollScales(heap, graph, &plot, point, offsets, true, &gDrag.scroll, false)) return kTrackResultFailed;
    if (offsets[0] || offsets[1]) gDrag.scrolled = true;
  }
  return result | kTrackResultTracking;
}

MgErr MoveSelectedCursors(ObjHeap heap, int32 graph, int32 /*unused*/, Point delta) {
  int32 n = 0;
  if ((delta.h == 0 && delta.v == 0) || !GraphCursorsOf(heap, graph, &n) || n <= 0) return kNoErr;
  const bool intensity = IsIntensityGraph(GraphTypeOf(heap, graph));
  const void* value = GraphValue(heap, graph);
  const int32 dh = delta.h, dv = delta.v;
  bool redraw = false;
  int32 changes = 0;
  for (int32 i = 0; i < n; ++i) {
    int32 count = 0;
    UPtr list = GraphCursorsOf(heap, graph, &count);
    if (!list || i >= count) break;
    uChar* c = list + i * Size();
    if (!CursorBool(c, kGCSelected)) continue;
    const int32 h0 = CursorI16(c, kGCH), v0 = CursorI16(c, kGCV);
    if (!(CursorU32(c, kGCFlags) & kCursorSnapped)) {
      // Free: by pixels.
      const Point to{int16(std::clamp(v0 + dv, -32768, 32767)), int16(std::clamp(h0 + dh, -32768, 32767))};
      SetCursorI16(c, kGCH, to.h);
      SetCursorI16(c, kGCV, to.v);
      float64 x = CursorF64(c, kGCX), y = CursorF64(c, kGCY);
      if (MgErr err = CursorPixelToValues(heap, graph, to, 0, dh ? &x : nullptr, 0, dv ? &y : nullptr)) return err;
      SetCursorF64(c, kGCX, x);
      SetCursorF64(c, kGCY, y);
      changes |= (dh ? kCursorChangedX : 0) | (dv ? kCursorChangedY : 0);
      if (intensity) {
        SetCursorF64(c, kGCZ, IntensityZ(heap, graph, value, ToIndex(y, false), ToIndex(x, false)));
        changes |= kCursorChangedZ;
      }
    } else {
      // Snapped: along the data and between plots; a part that would go
      // below 0 is dropped, and nothing is stored unless the point exists.
      int32 index = Signed(c, kGCIndex), plot = Signed(c, kGCPlot);
      const int64 ni = int64(index) + dh, np = int64(plot) - dv;
      if (ni >= 0 && ni <= INT32_MAX) index = int32(ni);
      if (np >= 0 && np <= INT32_MAX) plot = int32(np);
      float64 x = 0, y = 0, z = 0;
      if (GetPlotPointValues(heap, graph, value, plot, index, &x, &y, &z) != kPointFound) continue;
      SetCursorU32(c, kGCPlot, uInt32(plot));
      SetCursorU32(c, kGCIndex, uInt32(index));
      SetCursorF64(c, kGCX, x);
      SetCursorF64(c, kGCY, y);
      SetCursorF64(c, kGCZ, z);
      changes |= kCursorChangedX | kCursorChangedY | kCursorChangedZ;
      if (MgErr err = CursorValuesToPixel(heap, graph, 0, 0, c)) return err;
    }
    const int32 mh = CursorI16(c, kGCH) - h0, mv = CursorI16(c, kGCV) - v0;
    MoveLabel(c, mh, mv);
    if (HasDrawing(c)) {
      ScrollCursorDrawing(heap, graph, c, mh, mv, false);
      redraw = true;
    }
  }
  if (redraw) DrawCursorsInPlot(heap, graph, kCursorDrawBoth);
  UpdateCursorLegendValues(heap, graph, changes);
  return kNoErr;
}

MgErr ResnapGraphCursors(ObjHeap heap, int32 graph, const void* value, Bool32 noLegend, Bool32 /*flag*/) {
  int32 n = 0;
  if (!GraphCursorsOf(heap, graph, &n) || n <= 0) return kNoErr;
  const int32 legend = Legend(heap, graph);
  const int32 element = LegendElement(heap, legend);
  const bool rows = !noLegend && Shown(heap, legend) && Shown(heap, element);
  int32 shownBefore = -1;
  if (rows) ShowCursorLegendRow(heap, legend, -1, &shownBefore);
  const GraphDataKind kind = KindOf(heap, graph, value);
  for (int32 i = 0; i < n; ++i) {
    int32 count = 0;
    UPtr list = GraphCursorsOf(heap, graph, &count);
    if (!list || i >= count) break;
    uChar* c = list + i * Size();
    const uInt32 flags = CursorU32(c, kGCFlags);
    if (!(flags & kCursorSnapped)) continue;
    int32 plot = Signed(c, kGCPlot), index = Signed(c, kGCIndex);
    float64 x = 0, y = 0, z = 0;
    const int32 st = GetPlotPointValues(heap, graph, value, plot, index, &x, &y, &z);
    // Values of a point the lookup named (the nearer end of a plot too).
    bool have = st == kPointFound || st == kPointIndexMoved || st == kPointPlotMoved;
    if ((st == kPointNone || st == kPointIndexMoved || st == kPointPlotMoved) &&
        (st != kPointNone || (!SinglePlotKind(kind) && !(flags & kCursorLockedToPlot)))) {
      int32 fp = -1, fi = -1;
      const Point at{CursorI16(c, kGCV), CursorI16(c, kGCH)};
      FindNearestPlotPoint(heap, graph, value, at, st == kPointIndexMoved ? plot : -1, &fp, &fi, 0);
      if (fp >= 0 && fi >= 0) {
        plot = fp, index = fi;
        GetPlotPointValues(heap, graph, value, plot, index, &x, &y, &z);
        have = true;
      }
    }
    if (!have) x = CursorF64(c, kGCX), y = CursorF64(c, kGCY), z = CursorF64(c, kGCZ);
    if (!have) plot = Signed(c, kGCPlot), index = Signed(c, kGCIndex);
    const int32 changes = (x != CursorF64(c, kGCX) ? kCursorChangedX : 0) |
                          (y != CursorF64(c, kGCY) ? kCursorChangedY : 0) |
                          (z != CursorF64(c, kGCZ) ? kCursorChangedZ : 0);
    if (changes || plot != Signed(c, kGCPlot) || index != Signed(c, kGCIndex)) {
      SetCursorF64(c, kGCX, x);
      SetCursorF64(c, kGCY, y);
      SetCursorF64(c, kGCZ, z);
      SetCursorU32(c, kGCPlot, uInt32(plot));
      SetCursorU32(c, kGCIndex, uInt32(index));
      if (rows && ShowCursorLegendRow(heap, legend, i, nullptr)) {
        list = GraphCursorsOf(heap, graph, &count);
        if (list && i < count) UpdateCursorLegendRow(heap, element, list + i * Size(), changes | kLegendRowForce);
      }
    }
    list = GraphCursorsOf(heap, graph, &count);
    if (!list || i >= count) break;
    if (MgErr err = UpdateCursorPixel(heap, graph, list + i * Size(), i)) return err;
  }
  if (rows && shownBefore >= 0) ShowCursorLegendRow(heap, legend, shownBefore, nullptr);
  return kNoErr;
}
