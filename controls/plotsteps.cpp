// Steps of the plot-area drawing that the plot, grid, cursor and intensity
// image code fills in: until then each answers 0 and changes nothing, so
// the drawing frame runs whole around them.
#include "controls/graph.h"

int32 RefreshPlotImage(ObjHeap, int32, Rect*, const Rect*, int32, UHandle, int32) { return 0; }
int32 MapPlotToPixels(ObjHeap, int32, int32, int32, PlotRec*, const void*, const void*, int32, int32, int32, int32,
                      int32) {
  return 0;
}
int32 MapPlotToPixelsDecimated(ObjHeap, int32, int32, int32, PlotRec*, const void*, const void*, int32, int32, int32,
                               int32, int32) {
  return 0;
}
int32 PrepareWaveformPlots(ObjHeap, int32, PlotDrawState*, const GraphLayout*) { return 0; }
void ScanNumericRange(const void*, int32, int32, int32, float64*, float64*, int16*, Bool32) {}
int32 ClipWaveformToScale(ObjHeap, int32, int32, float64*, int32*, float64) { return 0; }
void* MakeRampArray(float64, float64, int32, Bool32, int32* elementSize, int32* type) {
  if (elementSize) *elementSize = 0;
  if (type) *type = 0;
  return nullptr;
}
void DrawGraphGrids(ObjHeap, int32, const Rect*, int32, int32, int16) {}
MgErr ResnapGraphCursors(ObjHeap, int32, const void*, Bool32, Bool32) { return 0; }
int32 ScanZRange(ObjHeap, int32, UHandle, int32, int32, int32, int32, Bool32, int32* changed) {
  if (changed) *changed = 0;
  return 0;
}
int32 BuildIntensityBitmap(ObjHeap, int32, int32, UHandle, int32, int32, int32, int32, UHandle, const Rect*, int32,
                           Bool32) {
  return 0;
}
int32 DrawIntensChartUpdate(ObjHeap, int32, const Rect*, Bool32) { return 0; }
int32 DrawChartBranch(ObjHeap, int32, PlotDrawState*, const GraphLayout*) { return 0; }
int32 DrawIntensChartBranch(ObjHeap, int32, PlotDrawState*, const GraphLayout*) { return 0; }
