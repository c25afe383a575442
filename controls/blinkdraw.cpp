#include "controls/blinkdraw.h"
#include "controls/listbox.h"

#include "controls/table.h"

namespace {

std::vector<ControlDrawCall> gCalls;

void Note(const char* entry, int32 object, int32 state) { gCalls.push_back({entry, object, state}); }

// Blinking redraws a table's cells in the blink phase's colours.
void TableBlinkDraw(ObjHeap heap, int32 table, void* data, int32 drawState) {
  const void* value = data ? data : TableValue(heap, table);
  if (TableStateOf(heap, table)) TableDraw(heap, table, nullptr, value, kTableDrawFull, drawState);
}

}  // namespace

void ListboxDrawScrollBar(ObjHeap, int32 listbox, int32 drawState, int32) {
  Note("ListboxDrawScrollBar", listbox, drawState);
}

const std::vector<ControlDrawCall>& ControlDrawCalls() { return gCalls; }
void ClearControlDrawCalls() { gCalls.clear(); }

void ControlsInstallBlinkHooks() {
  SetBlinkControlHooks({.tableSetCellFont = &TableSetCellFont,
                        .tableDrawCells = &TableBlinkDraw,
                        .listboxDrawScrollBar = &ListboxDrawScrollBar,
                        .listboxApplySelection = &ListboxApplySelection,
                        .drawPlotArea = &DrawPlotArea});
}
