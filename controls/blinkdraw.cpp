#include "controls/blinkdraw.h"
#include "controls/listbox.h"

#include "controls/table.h"

namespace {

// Blinking redraws a table's cells in the blink phase's colours.
void TableBlinkDraw(ObjHeap heap, int32 table, void* data, int32 drawState) {
  const void* value = data ? data : TableValue(heap, table);
  if (TableStateOf(heap, table)) TableDraw(heap, table, nullptr, value, kTableDrawFull, drawState);
}

}  // namespace

void ControlsInstallBlinkHooks() {
  SetBlinkControlHooks({.tableSetCellFont = &TableSetCellFont,
                        .tableDrawCells = &TableBlinkDraw,
                        .listboxDrawScrollBar = &ListboxDrawScrollBar,
                        .listboxApplySelection = &ListboxApplySelection,
                        .drawPlotArea = &DrawPlotArea});
}
