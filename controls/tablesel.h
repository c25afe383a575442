// The table's answer to the edit message: the data commands on its
// selected cells (cut, trim of the clipboard's copy, paste), every other
// code the generic handler's.  User-interface thread only.
#pragma once
#include "panel/editmsg.h"

QX_EXTERN_C int32 TableOSelectMethod(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec);
// The data codes (24, 25, 26) on the table's selection: 0x8, 0x10 when
// memory ran out, 0 when nothing was done (no state, or a paste of another
// type: that one beeps).
int32 TableBlockData(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec);
