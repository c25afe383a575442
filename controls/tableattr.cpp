// The table's properties: visible size, index displays, scroll bars,
// headers, selection colour, edit position, origin, selection, header
// texts, the active cell and its colours and size.  Values come from
// diagrams: every number is pinned before it is stored, and ends, origins
// plus counts are computed in 64 bits.
#include <algorithm>
#include <cstring>
#include <vector>

#include "controls/tableops.h"
#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/textedit.h"
#include "panel/attrtd.h"
#include "panel/ctrl_internal.h"
#include "panel/fppanel.h"
#include "panel/oinval.h"
#include "panel/ooffset.h"
#include "panel/osupport.h"

using ctrl::BoundsOf;
using ctrl::Flags;
using ctrl::Has;
using ctrl::PartOf;

namespace {

const char kSource[] = "tableattr.cpp";
constexpr int32 kTableAttrTable = 20;
constexpr int32 kStdTDStringList = 25;  // the standard 1-D array of strings
constexpr int32 kMaxPixels = 16000;
constexpr int32 kReplyShow = 0x10000, kReplyRedrawn = 0x20000, kReplyResized = 0x80;
constexpr uInt32 kTransparent = 0x1000000;

enum : int32 {
  kVisibleColumns = 0, kVisibleRows, kIndexVisible, kVBarVisible, kHBarVisible, kRowHeadersVisible,
  kColumnHeadersVisible, kSelColour, kEditPosition, kOrigin = 11, kSelStart = 14, kSelSize = 17, kRowHeaders = 20,
  kColumnHeaders, kActiveCell, kTextColour = 25, kBackColour, kCellSize, kCellWidth, kCellHeight, kSelectorCount,
};

// ---- The property table -------------------------------------------------------------------
using namespace attrtd;
const Bytes& Table() {
  static const Bytes t = [] {
    const Bytes u = Num(kTDU32), i = Num(kTDI32);
    return Clu({u, u, Bool(), Bool(), Bool(), Bool(), Bool(), u, Clu({i, i}), Clu({u, u}), Clu({i, i}), Clu({i, i}),
                Arr(Str()), Arr(Str()), Clu({i, i}), u, u, Clu({u, u})});
  }();
  return t;
}

struct Ctx {
  ObjHeap heap;
  int32 table;
  AttrCallRec* rec;
  const TypeDescriptor* td;
  void* value;
};

bool HoldsFocusPart(ObjHeap heap, int32 table) {
  return int32(ctrl::Ext(heap, kHeapExtKeyFocus)) == table && ctrl::Ext(heap, kHeapExtFocusText) != 0;
}

int32 GetU32(const Ctx& c, uInt32 v) {
  AttrGetNum(c.td, c.value, kTDU32, &v);
  return 0;
}
bool TakeU32(const TypeDescriptor* td, void* value, uInt32* v) { return AttrPutNum(td, value, kTDU32, v); }
bool TakeI32(const TypeDescriptor* td, void* value, int32* v) { return AttrPutNum(td, value, kTDI32, v); }

// A pair: both elements for the cluster, or one of them.
int32 GetPair(const Ctx& c, int32 mode, int32 a, int32 b, int32 code) {
  AttrPair pair;
  if (!AttrSplitPair(c.td, c.value, mode, &pair)) return 0;
  const int32 v[2] = {a, b};
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], code, &v[k]);
  return 0;
}
// The pair's elements read into a and b (those the mode names); false when
// the value is no pair of numbers.
bool TakePair(const Ctx& c, int32 mode, int32* a, int32* b, bool unsignedElements) {
  AttrPair pair;
  if (!AttrSplitPair(c.td, c.value, mode, &pair)) return false;
  int32* out[2] = {a, b};
  for (int32 k = 0; k < 2; ++k) {
    if (!pair.td[k]) continue;
    if (unsignedElements) {
      uInt32 u;
      if (!TakeU32(pair.td[k], pair.value[k], &u)) return false;
      *out[k] = int32(u);
    } else if (!TakeI32(pair.td[k], pair.value[k], out[k])) {
      return false;
    }
  }
  return true;
}

// The header list's deep copy into the value, or the value's into the list.
bool StringList(const TypeDescriptor* td) {
  if (!td || td->code != kTDArray || GetNative16(reinterpret_cast<const uChar*>(td)) < 14) return false;
  const uChar* a = reinterpret_cast<const uChar*>(td);
  return int16(GetNative16(a + 4)) == 1 && SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(a + 10))->code == kTDString;
}

// A deep copy of a 1-D array of strings: entries past what the handle
// holds are not read and a damaged string is copied empty.  Null with
// *failed set when memory runs out (nothing left allocated).
UHandle CopyStringList(UHandle list, bool* failed) {
  *failed = false;
  if (!list || !*list || DSGetHandleSize(list) < 4) return nullptr;
  const int32 n = int32(GetNative32(*list));
  if (n < 0 || int64(n) * 4 + 4 > DSGetHandleSize(list)) return nullptr;
  UHandle copy = DSNewHClr(4 + 4 * n);
  if (!copy) return *failed = true, nullptr;
  PutNative32(*copy, uInt32(n));
  for (int32 i = 0; i < n; ++i) {
    UHandle s;
    std::memcpy(&s, *list + 4 + 4 * i, sizeof s);
    const LStr* str = ctrl::CheckedLStr(s);
    if (!str) continue;
    const int32 length = str->cnt;
    UHandle t = DSNewHandle(4 + length);
    if (!t) {
      DisposeData(StdTDTable[kStdTDStringList], &copy, &copy + 1);
      return *failed = true, nullptr;
    }
    // The source string again: the allocation may have moved it.
    std::memcpy(&s, *list + 4 + 4 * i, sizeof s);
    std::memcpy(*t, *s, size_t(4 + length));
    std::memcpy(*copy + 4 + 4 * i, &t, sizeof t);
  }
  return copy;
}

// Disposes a header list from panel data: the entries its handle holds,
// each a live string handle, then the list.
void DisposeStringList(UHandle list) {
  if (!list || DSCheckHandle(list) != kNoErr) return;
  const int32 size = *list ? DSGetHandleSize(list) : 0;
  const int32 n = size >= 4 ? std::clamp<int32>(int32(GetNative32(*list)), 0, (size - 4) / 4) : 0;
  for (int32 i = 0; i < n; ++i) {
    UHandle s;
    std::memcpy(&s, *list + 4 + 4 * i, sizeof s);
    if (s && DSCheckHandle(s) == kNoErr) DSDisposeHandle(s);
  }
  DSDisposeHandle(list);
}

// The look of the active cell.
TableCellFontRec ActiveLook(ObjHeap heap, int32 table, const TableState& st) {
  TableCellFontRec look = kTableDefaultLook;
  look.row = st.activeRow, look.column = st.activeColumn;
  TableCellFormatMerge(heap, table, &look);
  return look;
}

// Visible columns (rows): the frame resized so that count columns fit.
int32 SetVisible(ObjHeap heap, int32 table, bool vertical, uInt32 requested) {
  const int32 count = int32(std::clamp<uInt32>(requested, 1, kMaxPixels));
  const int32 frame = PartOf(heap, table, kTablePartFrame), area = PartOf(heap, table, kTablePartCells);
  if (!frame || !area || !TableStateOf(heap, table)) return 0;
  const Rect f = BoundsOf(heap, frame), a = BoundsOf(heap, area);
  const int32 start = vertical ? a.top : a.left;
  const int32 margin = vertical ? f.bottom - a.bottom : f.right - a.right;
  int32 end = start;
  if (vertical ? (Flags(heap, table) & kTableFlagColumnHeaders) : (Flags(heap, table) & kTableFlagRowHeaders))
    end += (vertical ? TableRowHeight(heap, table, kTableHeader) : TableColumnWidth(heap, table, kTableHeader)) + 1 + 2;
  int32 fit = 0;
  while (fit < count) {
    const int32 step = (vertical ? TableRowHeight(heap, table, fit) : TableColumnWidth(heap, table, fit)) + 1;
    if (end + step - start > kMaxPixels) break;
    end += step, ++fit;
  }
  fit = std::max(fit, 1);
  Rect now = f;
  (vertical ? now.bottom : now.right) = int16(std::clamp(end + margin, -32768, 32767));
  if (std::memcmp(&now, &f, sizeof now) == 0) return 0;
  LastOldBounds = f;
  OInval(heap, table, kInvalAll);
  OSize(heap, frame, &now, 0);
  if (TableState* st = TableStateOf(heap, table)) (vertical ? st->visibleRows : st->visibleColumns) = fit;
  OSize(heap, table, nullptr, kTablePartFrame);
  OInval(heap, table, kInvalAll);
  return 0x30000 | kReplyResized;
}

int32 Read(const Ctx& c, int32 sel, const TableState& st) {
  const ObjHeap heap = c.heap;
  const int32 table = c.table;
  const uInt32 flags = Flags(heap, table);
  switch (sel) {
    case kVisibleColumns: return GetU32(c, uInt32(TableVisible(st.visibleColumns)) + ((flags & kTableFlagRowHeaders) ? 1 : 0));
    case kVisibleRows: return GetU32(c, uInt32(TableVisible(st.visibleRows)) + ((flags & kTableFlagColumnHeaders) ? 1 : 0));
    case kIndexVisible: AttrPutBool(c.td, c.value, !PartIdAllHidden(heap, table, kTablePartIndex)); return 0;
    case kVBarVisible: case kHBarVisible: {
      const int32 bar = PartOf(heap, table, sel == kVBarVisible ? kTablePartVBar : kTablePartHBar);
      AttrPutBool(c.td, c.value, bar && !ctrl::Hidden(heap, bar));
      return 0;
    }
    case kRowHeadersVisible: AttrPutBool(c.td, c.value, flags & kTableFlagRowHeaders); return 0;
    case kColumnHeadersVisible: AttrPutBool(c.td, c.value, flags & kTableFlagColumnHeaders); return 0;
    case kSelColour: return GetU32(c, st.selColor);
    case kEditPosition:
      return GetPair(c, 0, ctrl::WordOr0(heap, table, kTableEditRowWord), ctrl::WordOr0(heap, table, kTableEditColumnWord), kTDI32);
    case kOrigin: return GetPair(c, 0, st.topRow, st.leftColumn, kTDU32);
    case kSelStart: return GetPair(c, 0, st.selRow1, st.selColumn1, kTDI32);
    case kSelSize:
      return GetPair(c, 0, int32(std::clamp<int64>(int64(st.selRow2) - st.selRow1, INT32_MIN, INT32_MAX)),
                     int32(std::clamp<int64>(int64(st.selColumn2) - st.selColumn1, INT32_MIN, INT32_MAX)), kTDI32);
    case kRowHeaders: case kColumnHeaders: {
      if (!StringList(c.td)) return 0;
      bool failed;
      UHandle copy = CopyStringList(sel == kRowHeaders ? st.rowHeaders : st.columnHeaders, &failed);
      if (failed) return kAttrReplyMemFull;
      UHandle* cell = static_cast<UHandle*>(c.value);
      if (*cell) DisposeData(StdTDTable[kStdTDStringList], cell, cell + 1);
      *cell = copy;
      return 0;
    }
    case kActiveCell: return GetPair(c, 0, st.activeRow, st.activeColumn, kTDI32);
    case kTextColour: return GetU32(c, ActiveLook(heap, table, st).textColor);
    case kBackColour: return GetU32(c, ActiveLook(heap, table, st).backColor);
    case kCellSize: case kCellWidth: case kCellHeight: {
      const TableCellFontRec look = ActiveLook(heap, table, st);
      return GetPair(c, sel - kCellSize, look.width, look.height, kTDU32);
    }
    default: break;
  }
  return 0;
}

int32 SetSelection(const Ctx& c, const int32 s[4]) {
  return TableSetSelection(c.heap, c.table, s, 0, c.rec->hidden != 0);
}

}  // namespace

// ---- Showing changes ---------------------------------------------------------------------------

int32 TableShowChange(ObjHeap heap, int32 table, Bool32 displayValue, Bool32 defer, Bool32 noDisplay) {
  if (defer) return kReplyShow;
  if (displayValue && !noDisplay) {
    UHandle* value = TableValue(heap, table);
    return kReplyShow | (value ? oDisplayVal(heap, table, 0, value) : 0);
  }
  OInval(heap, table, kInvalAll);
  return kReplyShow | kReplyRedrawn;
}

void TableShowScrollBar(ObjHeap heap, int32 table, int32 barId, Bool32 show) {
  SetPartIdVisible(heap, table, barId, show);
  const bool vertical = barId == kTablePartVBar;
  const int32 bar = PartOf(heap, table, barId);
  const int32 other = PartOf(heap, table, vertical ? kTablePartHBar : kTablePartVBar);
  const int32 area = PartOf(heap, table, kTablePartCells);
  if (!bar) return;
  const Rect b = BoundsOf(heap, bar);
  if (show && other) OInval(heap, other, kInvalAll);
  const int16 edge = vertical ? (show ? b.left : b.right) : (show ? b.top : b.bottom);
  for (int32 part : {area, other}) {
    if (!part) continue;
    Rect r = BoundsOf(heap, part);
    (vertical ? r.right : r.bottom) = edge;
    ctrl::SetBoundsOf(heap, part, r);
  }
  if (!show && other) OInval(heap, other, kInvalAll);
  if (area) OInval(heap, area, kInvalAll);
}

// ---- The property function ---------------------------------------------------------------------

int32 TableAttr(ObjHeap heap, int32 table, AttrCallRec* rec) {
  if (!rec) return 0;
  const int32 sel = rec->selector;
  const bool addressable = sel >= 0 && sel < kSelectorCount &&
                           (sel <= kEditPosition || sel == kOrigin || sel == kSelStart || sel == kSelSize ||
                            sel == kRowHeaders || sel == kColumnHeaders || sel == kActiveCell || sel >= kTextColour);
  if (!addressable) {
    DBAssert(kSource, __LINE__, "TableAttr: an unknown property index");
    return 0;
  }
  TableState* st = TableStateOf(heap, table);
  if (!st) return 0;
  Ctx c{heap, table, rec, AttrValueTD(rec), rec->value};
  if (!c.td || !c.value) return 0;
  if (rec->read) return Read(c, sel, *st);
  const Bool32 defer = rec->hidden != 0, noDisplay = rec->greyed != 0;
  if ((sel >= kVBarVisible && sel <= kColumnHeadersVisible) || sel == kOrigin)
    if (HoldsFocusPart(heap, table)) FPCommitKeyFocus(heap);
  if (!(st = TableStateOf(heap, table))) return 0;
  const uInt32 flags = Flags(heap, table);
  bool on = false;
  uInt32 u = 0;
  switch (sel) {
    case kVisibleColumns: case kVisibleRows:
      return TakeU32(c.td, c.value, &u) ? SetVisible(heap, table, sel == kVisibleRows, u) : 0;
    case kIndexVisible:
      if (!AttrGetBool(c.td, c.value, &on) || on == !PartIdAllHidden(heap, table, kTablePartIndex)) return 0;
      SetPartIdVisible(heap, table, kTablePartIndex, on);
      return 0x30000 | kReplyResized;
    case kVBarVisible: case kHBarVisible: {
      const int16 id = sel == kVBarVisible ? kTablePartVBar : kTablePartHBar;
      const int32 bar = PartOf(heap, table, id);
      if (!bar || !AttrGetBool(c.td, c.value, &on) || on == !ctrl::Hidden(heap, bar)) return 0;
      TableShowScrollBar(heap, table, id, on);
      return 0x30000;
    }
    case kRowHeadersVisible: case kColumnHeadersVisible: {
      const uInt32 bit = sel == kRowHeadersVisible ? kTableFlagRowHeaders : kTableFlagColumnHeaders;
      if (!AttrGetBool(c.td, c.value, &on) || on == bool(flags & bit)) return 0;
      ctrl::SetFlags(heap, table, flags ^ bit);
      return TableShowChange(heap, table, 0, defer, noDisplay);
    }
    case kSelColour:
      if (!TakeU32(c.td, c.value, &u) || u >= kTransparent) return 0;
      st->selColor = u;
      return TableShowChange(heap, table, 0, defer, noDisplay);
    case kEditPosition: {
      int32 row = 0, column = 0;
      if (!TakePair(c, 0, &row, &column, false)) return 0;
      const bool columnHeaders = flags & kTableFlagColumnHeaders, rowHeaders = flags & kTableFlagRowHeaders;
      row = std::max(row, columnHeaders ? -1 : 0);
      column = std::max(column, rowHeaders && row != -1 ? -1 : 0);
      int32 reply = 0;
      if (row != ctrl::WordOr0(heap, table, kTableEditRowWord) || column != ctrl::WordOr0(heap, table, kTableEditColumnWord)) {
        if (HoldsFocusPart(heap, table)) {
          const int32 part = ctrl::WordOr0(heap, table, kTableEditPartWord);
          if (const TRecord text = ctrl::IsObj(heap, part) && Has(heap, part, 40) ? TCheckedRecord(uInt32(ObjWord(heap, part, 9))) : nullptr)
            TDeactivate(text, 0);
          reply |= TableCommitEdit(heap, table, 0);
        }
        ObjSetWord(heap, table, kTableEditRowWord, row);
        ObjSetWord(heap, table, kTableEditColumnWord, column);
      }
      if (TableScrollToEditCell(heap, table, 0)) reply |= TableShowChange(heap, table, 1, defer, noDisplay);
      if (int32(ctrl::Ext(heap, kHeapExtKeyFocus)) == table) TableActivateEdit(heap, table, nullptr, nullptr);
      return reply;
    }
    case kOrigin: {
      int32 top = st->topRow, left = st->leftColumn;
      if (!TakePair(c, 0, &top, &left, true)) return 0;
      if (!(st = TableStateOf(heap, table))) return 0;
      top = std::max(top, 0), left = std::max(left, 0);
      if (top == st->topRow && left == st->leftColumn) return 0;
      st->topRow = top, st->leftColumn = left;
      return TableShowChange(heap, table, 1, defer, noDisplay);
    }
    case kSelStart: {
      int32 row = 0, column = 0;
      if (!TakePair(c, 0, &row, &column, false) || !(st = TableStateOf(heap, table))) return 0;
      const int64 rows = std::abs(int64(st->selRow2) - st->selRow1), columns = std::abs(int64(st->selColumn2) - st->selColumn1);
      row = std::max(row, 0), column = std::max(column, 0);
      const int32 s[4] = {row, column, int32(std::min<int64>(row + rows, 0x7FFFFFFF)),
                          int32(std::min<int64>(column + columns, 0x7FFFFFFF))};
      return SetSelection(c, s);
    }
    case kSelSize: {
      int32 rows = 0, columns = 0;
      if (!TakePair(c, 0, &rows, &columns, false) || !(st = TableStateOf(heap, table))) return 0;
      const int32 row = std::max(st->selRow1, 0), column = std::max(st->selColumn1, 0);
      const int32 s[4] = {row, column, int32(std::min<int64>(int64(row) + std::max(rows, 0), 0x7FFFFFFF)),
                          int32(std::min<int64>(int64(column) + std::max(columns, 0), 0x7FFFFFFF))};
      return SetSelection(c, s);
    }
    case kRowHeaders: case kColumnHeaders: {
      if (!StringList(c.td)) return 0;
      bool failed;
      UHandle copy = CopyStringList(*static_cast<UHandle*>(c.value), &failed);
      if (failed) return kAttrReplyMemFull;
      if (!(st = TableStateOf(heap, table))) return 0;
      UHandle& list = sel == kRowHeaders ? st->rowHeaders : st->columnHeaders;
      UHandle old = list;
      list = copy;
      DisposeStringList(old);
      return TableShowChange(heap, table, 0, defer, noDisplay);
    }
    case kActiveCell: {
      int32 row = st->activeRow, column = st->activeColumn;
      if (!TakePair(c, 0, &row, &column, false) || !(st = TableStateOf(heap, table))) return 0;
      st->activeRow = std::max<int32>(row, kTableAll), st->activeColumn = std::max<int32>(column, kTableAll);
      return 0;
    }
    case kTextColour: case kBackColour: {
      if (!TakeU32(c.td, c.value, &u)) return 0;
      if (sel == kTextColour ? u >= kTransparent : u > kTransparent) return 0;
      if (!(st = TableStateOf(heap, table))) return 0;
      TableCellFontRec r = kTableDefaultLook;
      r.row = std::max<int32>(st->activeRow, kTableAll), r.column = std::max<int32>(st->activeColumn, kTableAll);
      (sel == kTextColour ? r.textColor : r.backColor) = u;
      const uInt32 mask = sel == kTextColour ? kCellLookText : kCellLookBack;
      r.mask = mask;
      int32 reply = TableSetCellFont(heap, table, &r, int32(mask), 0);
      if ((reply & (kCellChangedLayout | kCellChangedColour)) && !defer)
        reply |= TableInvalCells(heap, table, r.row, r.column, noDisplay);
      return (reply & ~(kCellChangedColour | kCellChangedLayout)) | ((reply & kCellChangedLayout) ? kReplyShow : 0);
    }
    case kCellSize: case kCellWidth: case kCellHeight: {
      int32 width = 0, height = 0;
      if (!TakePair(c, sel - kCellSize, &width, &height, true) || !(st = TableStateOf(heap, table))) return 0;
      const int32 activeRow = std::max<int32>(st->activeRow, kTableAll), activeColumn = std::max<int32>(st->activeColumn, kTableAll);
      int32 reply = 0;
      for (int32 k = 0; k < 2; ++k) {
        if ((k == 0 && sel == kCellHeight) || (k == 1 && sel == kCellWidth)) continue;
        const int32 v = k == 0 ? width : height;
        TableCellFontRec r = kTableDefaultLook;
        r.row = k == 0 ? kTableAll : activeRow, r.column = k == 0 ? activeColumn : kTableAll;
        const uInt32 mask = k == 0 ? kCellLookWidth : kCellLookHeight;
        (k == 0 ? r.width : r.height) = int32(std::clamp<uInt32>(uInt32(v), 2, kMaxPixels));
        r.mask = mask;
        const int32 changed = TableSetCellFont(heap, table, &r, int32(mask), 0);
        if (changed & kCellChangeFailed) reply |= kAttrReplyMemFull;
        if (changed & (kCellChangedLayout | kCellChangedColour))
          reply |= TableShowChange(heap, table, 0, defer, noDisplay) | 0x20000 | kReplyResized;
      }
      return reply;
    }
    default: break;
  }
  return 0;
}

void TableEnterAttrTable() {
  SetAttrTable(kTableAttrTable, reinterpret_cast<const TypeDescriptor*>(Table().data()), &TableAttr);
}
