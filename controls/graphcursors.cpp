#include "controls/graphcursors.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "rtlib/panellocators.h"
#include "rtlib/vistrread.h"

namespace {
constexpr int16 kPartCursorLegend = 8014, kPartText = 11;
constexpr int32 kArrayElementWord = 10, kClusterElementsWord = 10;
}  // namespace

UPtr GetGraphCursorList(ObjHeap heap, int32 graphData, int32* count) {
  if (count) *count = 0;
  UPtr data = graphData ? FPHeapDataPtr(heap, graphData + kGraphCursorListAt) : nullptr;
  if (!data) return nullptr;
  UHandle list;
  std::memcpy(&list, data, sizeof list);
  if (!list || !*list || !MemIsDSHandle(list)) return nullptr;
  const int32 size = DSGetHandleSize(list);
  const int32 n = size >= 4 ? int32(GetNative32(*list)) : 0;
  if (n <= 0 || int64(n) * kGraphCursorBytes > size - 4) return nullptr;
  if (count) *count = n;
  return *list + 4;
}

int32 GetGraphCursorFont(ObjHeap heap, int32 graph) {
  const int32 legend = FindPart(heap, graph, kPartCursorLegend, 0);
  const int32 element = legend ? ObjWord(heap, legend, kArrayElementWord) : 0;
  const int32 list = element && ObjClass(heap, element) == kClsCluster ? ObjWord(heap, element, kClusterElementsWord) : 0;
  for (int32 i = 0; list && i < ObjListCount(heap, list); ++i) {
    const int32 e = ObjListGet(heap, list, i);
    if (!e || ObjClass(heap, e) != kClsString) continue;
    if (TRecord text = PartTextRecord(heap, FindPart(heap, e, kPartText, 0))) return TGetFont(text);
    break;
  }
  return TNewFont(nullptr, 0, 0, 0);
}

int32 MeasureCursorLabel(UPtr cursor, int32 font) {
  if (!cursor) return 0;
  UHandle name;
  std::memcpy(&name, cursor + kGraphCursorName, sizeof name);
  const int32 n = VSLStrLen(name);
  Point size{0, 0};
  TTextSize(n ? VSLStrBytes(name) : nullptr, n, font, &size);
  int16 height, width;
  std::memcpy(&height, cursor + kGraphCursorLabelHeight, 2);
  std::memcpy(&width, cursor + kGraphCursorLabelWidth, 2);
  const bool changed = height != size.v || width != size.h;
  std::memcpy(cursor + kGraphCursorLabelHeight, &size.v, 2);
  std::memcpy(cursor + kGraphCursorLabelWidth, &size.h, 2);
  return changed && (GetNative32(cursor) & kGraphCursorLabelShown) ? 1 : 0;
}
