// The controls' drawing and cell-look entries that blinking reaches: a
// table's cells and cell looks (the table's own), a listbox's selection
// (its own, listbox.h) and scroll bar, a graph's plot area (DrawPlotArea,
// graph.h).
#pragma once
#include <vector>

#include "controls/graph.h"
#include "panel/blink.h"

QX_EXTERN_C void ListboxDrawScrollBar(ObjHeap heap, int32 listbox, int32 drawState, int32 withScrollBar);
QX_EXTERN_C int32 ListboxApplySelection(ObjHeap heap, int32 listbox, void* value, int32 redraw);

// Gives blinking these entries; called at start-up.
void ControlsInstallBlinkHooks();
