#include "controls/tablesel.h"

#include <cstring>

#include "controls/table.h"
#include "engine/typemgr.h"
#include "mgsource/debug.h"
#include "mgsource/walert.h"
#include "panel/blockdata.h"
#include "panel/datamsg.h"

namespace {

constexpr int32 kReplyFail = 0x10, kReplyData = 0x8;
constexpr int32 kTDCompareMask = 0x7FC0, kTDRepr = 0x10;

const TypeDescriptor* TypeOfObject(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}

}  // namespace

int32 TableBlockData(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec) {
  const TypeDescriptor* td = TypeOfObject(heap, table);
  UHandle* value = TableValue(heap, table);
  const TableState* st = TableStateOf(heap, table);
  if (!td || td->code != kTDArray || !value || !st) return 0;
  DataBlock block{{st->selRow1, st->selColumn1}, {st->selRow2, st->selColumn2}};
  int32 reply = 0;
  switch (code) {
    case kEditCutData: reply = BlockCut(td, value, &block); break;
    case kEditCopyData: reply = BlockTrim(td, value, &block); break;
    case kEditPasteData: {
      // The types are compared before the block is resized: a paste that
      // cannot be written leaves both the value and its size.
      const TypeDescriptor* src =
          rec && rec->sourceHeap && rec->sourceType ? TypeIDToTD(rec->sourceHeap, rec->sourceType) : nullptr;
      const int32 diff = src ? TDCompare(td, src) : kTDCompareMask;
      if ((diff & kTDCompareMask) || !rec->sourceData) {
        WBeep();
        return 0;
      }
      if (diff & kTDRepr) {
        DBPrintf("TableOSelectMethod: paste of another representation, nothing written");
        return 0;
      }
      UHandle source;
      std::memcpy(&source, rec->sourceData, sizeof source);
      reply = BlockPaste(td, value, &block, source);
      break;
    }
    default: return 0;
  }
  // The state is taken anew: the data space may have moved meanwhile.
  if (TableState* now = TableStateOf(heap, table)) {
    now->selRow1 = block.start[0], now->selColumn1 = block.start[1];
    now->selRow2 = block.end[0], now->selColumn2 = block.end[1];
  }
  return reply & kReplyFail ? reply : reply | kReplyData;
}

int32 TableOSelectMethod(ObjHeap heap, int32 table, int32 code, EditMsgRecord* rec) {
  if ((code == kEditCutData || code == kEditCopyData || code == kEditPasteData) && IsObjSelected(heap, table) &&
      rec->flags == 0) {
    const int32 reply = TableBlockData(heap, table, code, rec);
    rec->hitPartId = ObjInt16(heap, table, kObjPartId);
    rec->hitPartOrder = ObjInt16(heap, table, kObjPartOrder);
    return reply;
  }
  return DDOOSelectMethod(heap, table, code, rec);
}
