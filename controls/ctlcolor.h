// Colour changes of the controls' classes (message 19): the scales and the
// colour ramp's scale parts, graphs and charts, listboxes.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "panel/objects.h"

// The graph's colour procedure for a new plot-area background; the graph
// keeps no colour of its own for it, so nothing changes.
QX_EXTERN_C void GraphCursorColorChange(ObjHeap heap, int32 graph, DColor background);
// The methods, joined to the class table at start-up.
QX_EXTERN_C int32 ScaleOColorChangeMethod(ObjHeap heap, int32 scale, int32 partId, int32 partOrder, DColor fore,
                                          DColor back, int32 flags);
QX_EXTERN_C int32 GraphOColorChangeMethod(ObjHeap heap, int32 graph, int32 partId, int32 partOrder, DColor fore,
                                          DColor back, int32 flags);
QX_EXTERN_C int32 ListboxOColorChangeMethod(ObjHeap heap, int32 listbox, int32 partId, int32 partOrder,
                                            DColor fore, DColor back, int32 flags);
void ControlsJoinColourSlot();
