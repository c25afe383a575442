// A cursor's pixel position and the invalidation of its pieces.  The cursor
// drawing lays them out; until then a cursor keeps the pixels it has and
// nothing is invalidated.
#include "controls/graphcursors.h"

int32 UpdateCursorPixel(ObjHeap, int32, UPtr, int32) { return 0; }

int32 InvalCursorArea(UPtr, const Rect*, int32, int32) { return 0; }
