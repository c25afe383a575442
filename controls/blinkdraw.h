// The controls' drawing and cell-look entries that blinking reaches: a
// table's cells and cell looks (the table's own), a listbox's selection
// (its own, listbox.h) and scroll bar, a graph's plot area (DrawPlotArea,
// graph.h).  Until the listbox draws, its scroll-bar entry keeps a record
// of its call and draws nothing.
#pragma once
#include <vector>

#include "controls/graph.h"
#include "panel/blink.h"

QX_EXTERN_C void ListboxDrawScrollBar(ObjHeap heap, int32 listbox, int32 drawState, int32 withScrollBar);
QX_EXTERN_C int32 ListboxApplySelection(ObjHeap heap, int32 listbox, void* value, int32 redraw);

// One recorded call: the entry's name, the object and its draw state (-1
// where there is none).
struct ControlDrawCall {
  const char* entry;
  int32 object;
  int32 state;
};
const std::vector<ControlDrawCall>& ControlDrawCalls();
void ClearControlDrawCalls();
// Gives blinking these entries; called at start-up.
void ControlsInstallBlinkHooks();
