#include <algorithm>
#include <cstring>

#include "controls/graph.h"
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
