// Steps of the plot-area drawing that the plot, grid, cursor and intensity
// image code fills in: until then each answers 0 and changes nothing, so
// the drawing frame runs whole around them.
#include "controls/graph.h"

MgErr ResnapGraphCursors(ObjHeap, int32, const void*, Bool32, Bool32) { return 0; }
