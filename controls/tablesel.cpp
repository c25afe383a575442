#include "controls/tablesel.h"

#include <algorithm>
#include <cstring>

#include "controls/table.h"
#include "controls/tableops.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/walert.h"
#include "panel/blockdata.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/oinval.h"
#include "panel/ooffset.h"

namespace {

constexpr int32 kReplyFail = 0x10, kReplyData = 0x8;
constexpr int32 kTDCompareMask = 0x7FC0, kTDRepr = 0x10;

const TypeDescriptor* TypeOfObject(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}

// ---- The cell-size handle ----------------------------------------------------------------------
constexpr int32 kMaxPixels = 16000;
// A count the handle changes stays at 3 lines or more; at most as many
// lines as 16000 pixels could hold (each at least 3 pixels with its line).
constexpr int32 kMinShown = 3, kMaxShown = kMaxPixels / 3;
constexpr int32 kReplyShow = 0x10000;
constexpr uInt32 kModMoved = 0x80001000u;

// The pixels that the header and count lines from the origin take (each
// line its size and one grid pixel), stopping before 16000; *fit the lines
// counted (at least 1).
int32 LinesExtent(ObjHeap heap, int32 table, bool vertical, int32 origin, int32 count, int32* fit) {
  const uInt32 flags = ctrl::Flags(heap, table);
  int32 used = 0;
  if (flags & (vertical ? kTableFlagColumnHeaders : kTableFlagRowHeaders))
    used += (vertical ? TableRowHeight(heap, table, kTableHeader) : TableColumnWidth(heap, table, kTableHeader)) + 1 + 2;
  int32 n = 0;
  for (const int32 want = std::max(count, 1); n < want; ++n) {
    const int32 step = (vertical ? TableRowHeight(heap, table, origin + n) : TableColumnWidth(heap, table, origin + n)) + 1;
    if (used + step > kMaxPixels) break;
    used += step;
  }
  *fit = std::max(n, 1);
  return used;
}

// Whole lines in a drag of offset pixels over lines of pitch pixels, to the
// nearest line.
int32 WholeLines(int32 offset, int32 pitch) {
  return (offset + (offset < 0 ? -pitch / 2 : pitch / 2)) / pitch;
}

// The new lines from..to (from the origin) of one dimension take the look
// of the active cell: its font and its row height (rows) or column width
// (columns).  The change flags.
int32 LookToLines(ObjHeap heap, int32 table, const TableCellFontRec& look, bool vertical, int32 from, int32 to) {
  int32 changes = 0;
  for (int32 i = from; i < to && !(changes & kCellChangeFailed); ++i) {
    TableCellFontRec line = look;
    (vertical ? line.row : line.column) = i;
    (vertical ? line.column : line.row) = kTableAll;
    changes |= TableSetCellFont(heap, table, &line, int32(kCellLookFont | (vertical ? kCellLookHeight : kCellLookWidth)),
                                kFontModifyMask);
  }
  return changes;
}

// The handle dragged by the record's offset: the visible counts change by
// the whole rows and columns of the offset (measured in the last shown
// row's height and column's width), the lines that come into view take the
// active cell's look, the frame is fitted to the shown lines and the value
// shown again.  The handle itself stays: the table is laid out around it.
int32 CellSizeMove(ObjHeap heap, int32 table, int32 handle, const EditMsgRecord* rec) {
  const TableState* st = TableStateOf(heap, table);
  const int32 frame = ctrl::PartOf(heap, table, kTablePartFrame);
  if (!st || !frame) return 0;
  const int32 top = TableOrigin(st->topRow), left = TableOrigin(st->leftColumn);
  const int32 rows0 = std::max(TableVisible(st->visibleRows), 1), columns0 = std::max(TableVisible(st->visibleColumns), 1);
  TableCellFontRec look = kTableDefaultLook;
  look.row = st->activeRow, look.column = st->activeColumn;
  const int32 dRows = WholeLines(rec->offset.v, TableRowHeight(heap, table, top + rows0 - 1) + 1);
  const int32 dColumns = WholeLines(rec->offset.h, TableColumnWidth(heap, table, left + columns0 - 1) + 1);
  const int32 rows = dRows ? std::clamp(rows0 + dRows, kMinShown, kMaxShown) : rows0;
  const int32 columns = dColumns ? std::clamp(columns0 + dColumns, kMinShown, kMaxShown) : columns0;
  TableCellFontLookup(heap, table, &look);
  int32 changes = LookToLines(heap, table, look, true, top + rows0, top + rows);
  changes |= LookToLines(heap, table, look, false, left + columns0, left + columns);
  if (TableState* now = TableStateOf(heap, table)) now->visibleRows = rows, now->visibleColumns = columns;
  Rect fitted;
  int32 fitRows = rows, fitColumns = columns;
  if (TableFontFitRect(heap, table, &fitted, &fitRows, &fitColumns)) {
    if (TableState* now = TableStateOf(heap, table)) now->visibleRows = fitRows, now->visibleColumns = fitColumns;
    const Rect f = ctrl::BoundsOf(heap, frame);
    if (std::memcmp(&f, &fitted, sizeof f) != 0) {
      LastOldBounds = f;
      OInval(heap, table, kInvalAll);
      OSize(heap, frame, &fitted, 0);
      OSize(heap, table, nullptr, kTablePartFrame);
      OInval(heap, table, kInvalAll);
    }
  }
  // Marked as moved, as the generic move marks its objects: the walk over
  // the parts that follows leaves it where it is.
  OHSetWord(heap, uInt32(handle + kObjCopyForwardWord), uInt32(handle));
  VIDocMod(nullptr, heap, kModMoved);
  // The handle's geometry reply becomes a redraw of the whole table.
  const int32 reply = kReplyShow | (changes & kCellChangeFailed);
  return reply | TableShowChange(heap, table, 1, 0, 0);
}

// The cell-size handle when this move drags it: the cell area selected on
// its own (the table not), moved within its heap and owner, not moved yet.
int32 DraggedHandle(ObjHeap heap, int32 table, int32 code, const EditMsgRecord* rec) {
  if (code != kEditMove || !rec || rec->targetHeap || (rec->flags && rec->flags != table) || IsObjSelected(heap, table))
    return 0;
  const int32 handle = ctrl::PartOf(heap, table, kTablePartCells);
  if (!handle || !IsObjSelected(heap, handle) || OHWord(heap, uInt32(handle + kObjCopyForwardWord))) return 0;
  return handle;
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
  if (const int32 handle = DraggedHandle(heap, table, code, rec)) {
    const int32 reply = CellSizeMove(heap, table, handle, rec);
    rec->hitPartId = kTablePartCells, rec->hitPartOrder = ObjInt16(heap, handle, kObjPartOrder);
    // The other selected parts move as they would.
    return reply | DDOOSelectMethod(heap, table, code, rec);
  }
  return DDOOSelectMethod(heap, table, code, rec);
}

Bool32 TableFontFitRect(ObjHeap heap, int32 table, Rect* frame, int32* rows, int32* columns) {
  const int32 f = ctrl::PartOf(heap, table, kTablePartFrame), a = ctrl::PartOf(heap, table, kTablePartCells);
  const TableState* st = TableStateOf(heap, table);
  if (!f || !a || !st || !frame) return 0;
  const int32 top = TableOrigin(st->topRow), left = TableOrigin(st->leftColumn);
  const int32 shownRows = TableVisible(st->visibleRows), shownColumns = TableVisible(st->visibleColumns);
  int32 fitRows = 0, fitColumns = 0;
  const int32 height = LinesExtent(heap, table, true, top, shownRows, &fitRows);
  const int32 width = LinesExtent(heap, table, false, left, shownColumns, &fitColumns);
  const Rect fr = ctrl::BoundsOf(heap, f), ar = ctrl::BoundsOf(heap, a);
  auto pin = [](int32 v) { return int16(std::clamp(v, -32768, 32767)); };
  *frame = fr;
  frame->bottom = pin(ar.top + height + (fr.bottom - ar.bottom));
  frame->right = pin(ar.left + width + (fr.right - ar.right));
  if (rows) *rows = fitRows;
  if (columns) *columns = fitColumns;
  return 1;
}
