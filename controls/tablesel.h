// The table's answer to the edit message: the data commands on its
// selected cells (cut, trim of the clipboard's copy, paste), a move of its
// cell-size handle (the cell area selected on its own: the drag shows more
// or fewer rows and columns), every other code the generic handler's.
// User-interface thread only.
#pragma once
#include "panel/editmsg.h"

QX_EXTERN_C int32 TableOSelectMethod(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec);
// The data codes (24, 25, 26) on the table's selection: 0x8, 0x10 when
// memory ran out, 0 when nothing was done (no state, or a paste of another
// type: that one beeps).
int32 TableBlockData(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec);

// The frame (part 9) that holds the shown rows and columns (from the
// origin, the visible counts) at the sizes their looks give, with the
// headers shown: the frame keeps its top-left and its margins around the
// cell area, the cell area its top-left.  The lines are counted while they
// stay within 16000 pixels; rows and columns get the counts that fit (at
// least 1).  False when the table lacks its frame, cell area or state.
QX_EXTERN_C Bool32 TableFontFitRect(ObjHeap heap, int32 table, Rect* frame, int32* rows, int32* columns);
