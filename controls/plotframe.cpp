#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "controls/graph.h"
#include "controls/scale.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "panel/objects.h"

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
