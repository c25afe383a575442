// A cursor's pixel position and its values through the graph's scales, and
// free cursors kept on their values when the plot area moves.
#include <cmath>

#include "controls/cursordraw.h"
#include "controls/scale.h"
#include "mgsource/debug.h"
#include "panel/objects.h"

namespace {

constexpr int32 kFloat64Type = 10;

// The scale part to use: the one given, else the first of the id.
int32 ScaleOrFirst(ObjHeap heap, int32 graph, int32 scale, int16 id) {
  if (scale > 0) return scale;
  const int32 s = FindPart(heap, graph, id, 0);
  return s > 0 && ScaleRecOf(heap, s) ? s : 0;
}

// The pixel of a user-unit value on the scale: (value - offset) / multiplier
// mapped; false without the scale's record.
bool ValueToPixel(ObjHeap heap, int32 scale, float64 value, int16* pixel) {
  const ScaleRec* r = scale > 0 ? ScaleRecOf(heap, scale) : nullptr;
  if (!r) return false;
  const float64 m = r->multiplier != 0 ? r->multiplier : 1;
  const float64 v = (value - r->offset) / m;
  MapValuesToPixels(heap, ObjWord(heap, scale, kScaleObjData), kFloat64Type, &v, 8, 1, pixel, 1);
  return true;
}

}  // namespace

MgErr CursorPixelToValues(ObjHeap heap, int32 graph, Point pt, int32 xScale, float64* x, int32 yScale, float64* y) {
  struct Axis {
    float64* out;
    int32 scale;
    int16 id;
    int16 pixel;
  } axes[2] = {{x, xScale, kGPartXScale, pt.h}, {y, yScale, kGPartYScale, pt.v}};
  for (Axis& a : axes) {
    if (!a.out) continue;
    const int32 s = ScaleOrFirst(heap, graph, a.scale, a.id);
    const ScaleRec* r = s ? ScaleRecOf(heap, s) : nullptr;
    if (!r) return kArgErr;
    const float64 m = r->multiplier, off = r->offset;
    float64 v = 0;
    MapPixelsToValues(heap, ObjWord(heap, s, kScaleObjData), kFloat64Type, &a.pixel, 1, 1, &v, 8);
    *a.out = v * m + off;
  }
  return kNoErr;
}

MgErr CursorValuesToPixel(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, UPtr cursor) {
  if (!cursor || !GraphCursorFields()) return kArgErr;
  int16 h = 0, v = 0;
  if (!ValueToPixel(heap, ScaleOrFirst(heap, graph, xScale, kGPartXScale), CursorF64(cursor, kGCX), &h) ||
      !ValueToPixel(heap, ScaleOrFirst(heap, graph, yScale, kGPartYScale), CursorF64(cursor, kGCY), &v))
    return kArgErr;
  SetCursorI16(cursor, kGCH, h);
  SetCursorI16(cursor, kGCV, v);
  return kNoErr;
}

int32 UpdateCursorPixel(ObjHeap heap, int32 graph, UPtr cursor, int32 /*index*/) {
  if (!cursor || !GraphCursorFields()) return kArgErr;
  const int16 h0 = CursorI16(cursor, kGCH), v0 = CursorI16(cursor, kGCV);
  if (MgErr err = CursorValuesToPixel(heap, graph, 0, 0, cursor)) return err;
  // The label keeps its place relative to the cursor.
  const int32 dh = CursorI16(cursor, kGCH) - h0, dv = CursorI16(cursor, kGCV) - v0;
  SetCursorI16(cursor, kGCLabelH, int16(CursorI16(cursor, kGCLabelH) + dh));
  SetCursorI16(cursor, kGCLabelV, int16(CursorI16(cursor, kGCLabelV) + dv));
  return kNoErr;
}

MgErr OffsetGraphCursors(ObjHeap heap, int32 graph) {
  if (!GraphDataOf(heap, graph)) {
    DbgPrintf("we are messing up our cursors because we are moving without private data");
    return kNoErr;
  }
  int32 n = 0;
  UPtr list = GraphCursorsOf(heap, graph, &n);
  const int32 size = list ? GraphCursorFields()->size : 0;
  for (int32 i = 0; i < n; ++i) {
    UPtr c = list + i * size;
    if (CursorU32(c, kGCFlags) & kCursorSnapped) continue;
    if (MgErr err = UpdateCursorPixel(heap, graph, c, i)) return err;
  }
  return kNoErr;
}
