// The controls' drawing and cell-look entries that blinking reaches: a
// table's cells and cell looks, a listbox's selection and scroll bar, a
// graph's plot area (DrawPlotArea, graph.h).  The listbox's selection is
// its own (listbox.h).  Until the table and the listbox draw, each of their
// drawing entries keeps a record of its call and draws nothing.
#pragma once
#include <vector>

#include "controls/graph.h"
#include "panel/blink.h"

QX_EXTERN_C int32 TableSetCellFont(ObjHeap heap, int32 table, TableCellFontRec* record, int32 mask,
                                   int32 fontChange);
QX_EXTERN_C void TableDrawCells(ObjHeap heap, int32 table, void* data, int32 drawState);
QX_EXTERN_C void ListboxDrawScrollBar(ObjHeap heap, int32 listbox, int32 drawState, int32 withScrollBar);
QX_EXTERN_C int32 ListboxApplySelection(ObjHeap heap, int32 listbox, void* value, int32 redraw);

// One recorded call: the entry's name, the object and its draw state (the
// blink marker for TableSetCellFont, -1 where there is none).
struct ControlDrawCall {
  const char* entry;
  int32 object;
  int32 state;
};
const std::vector<ControlDrawCall>& ControlDrawCalls();
void ClearControlDrawCalls();
// Gives blinking these entries; called at start-up.
void ControlsInstallBlinkHooks();
