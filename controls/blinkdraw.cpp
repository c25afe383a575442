#include "controls/blinkdraw.h"
#include "controls/listbox.h"

namespace {

std::vector<ControlDrawCall> gCalls;

void Note(const char* entry, int32 object, int32 state) { gCalls.push_back({entry, object, state}); }

}  // namespace

int32 TableSetCellFont(ObjHeap, int32 table, TableCellFontRec* record, int32, int32) {
  Note("TableSetCellFont", table, record ? record->blink : -1);
  return 0;
}
void TableDrawCells(ObjHeap, int32 table, void*, int32 drawState) { Note("TableDrawCells", table, drawState); }
void ListboxDrawScrollBar(ObjHeap, int32 listbox, int32 drawState, int32) {
  Note("ListboxDrawScrollBar", listbox, drawState);
}

const std::vector<ControlDrawCall>& ControlDrawCalls() { return gCalls; }
void ClearControlDrawCalls() { gCalls.clear(); }

void ControlsInstallBlinkHooks() {
  SetBlinkControlHooks({.tableSetCellFont = &TableSetCellFont,
                        .tableDrawCells = &TableDrawCells,
                        .listboxDrawScrollBar = &ListboxDrawScrollBar,
                        .listboxApplySelection = &ListboxApplySelection,
                        .drawPlotArea = &DrawPlotArea});
}
