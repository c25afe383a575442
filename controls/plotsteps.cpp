// Steps of the plot-area drawing that the plot, grid, cursor and intensity
// image code fills in: until then each answers 0 and changes nothing, so
// the drawing frame runs whole around them.
#include "controls/graph.h"

int32 ScanZRange(ObjHeap, int32, UHandle, int32, int32, int32, int32, Bool32, int32* changed) {
  if (changed) *changed = 0;
  return 0;
}
int32 BuildIntensityBitmap(ObjHeap, int32, int32, UHandle, int32, int32, int32, int32, UHandle, const Rect*, int32,
                           Bool32) {
  return 0;
}
int32 DrawIntensChartUpdate(ObjHeap, int32, const Rect*, Bool32) { return 0; }
int32 DrawIntensChartBranch(ObjHeap, int32, PlotDrawState*, const GraphLayout*) { return 0; }
