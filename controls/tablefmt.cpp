// The looks of a table's cells: the sorted list of look records in the
// table's state (all cells, a row, a column or one cell each, setting only
// the fields of its mask), the merge that gives a cell its look, the setters
// with their redraw replies, the table's font list and the colours a cell's
// text is drawn in.
//
// Lists come from the panel's data: a count that its handle does not hold
// makes the list count as empty for reading and refuses a change (0x10).
#include <algorithm>
#include <cstring>
#include <vector>

#include "controls/table.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/objdraw.h"
#include "panel/paneldisplay.h"

namespace {

constexpr int32 kRecBytes = int32(sizeof(TableCellFontRec));
constexpr int32 kMinSize = 2;

typedef std::vector<TableCellFontRec> Looks;

// The list's count, -1 when the handle does not hold it.
int32 LooksCount(UHandle h) {
  if (!h) return 0;
  if (!*h) return -1;
  const int32 size = DSGetHandleSize(h);
  if (size < 4) return -1;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && 4 + int64(n) * kRecBytes <= size ? n : -1;
}
// The list's records; false when the handle does not hold its count.
bool ReadLooks(UHandle h, Looks* out) {
  out->clear();
  const int32 n = LooksCount(h);
  if (n < 0) return false;
  out->resize(size_t(n));
  if (n) std::memcpy(out->data(), *h + 4, size_t(n) * kRecBytes);
  return true;
}

UHandle LooksHandle(ObjHeap heap, int32 table) {
  const TableState* st = TableStateOf(heap, table);
  return st ? st->cellFormats : nullptr;
}

// Writes the records back (the handle made or resized as needed); false,
// nothing changed, when memory is short.
bool WriteLooks(ObjHeap heap, int32 table, const Looks& looks) {
  TableState* st = TableStateOf(heap, table);
  if (!st) return false;
  UHandle h = st->cellFormats;
  const int32 bytes = 4 + int32(looks.size()) * kRecBytes;
  if (!h) {
    if (!(h = DSNewHandle(bytes))) return false;
    if (!(st = TableStateOf(heap, table))) {
      DSDisposeHandle(h);
      return false;
    }
    st->cellFormats = h;
  } else if (DSGetHandleSize(h) != bytes && DSSetHandleSize(h, bytes) != kNoErr) {
    return false;
  }
  PutNative32(*h, uInt32(looks.size()));
  if (!looks.empty()) std::memcpy(*h + 4, looks.data(), looks.size() * kRecBytes);
  return true;
}

bool IsAll(const TableCellFontRec& r) { return r.row == kTableAll && r.column == kTableAll; }
bool IsRowLine(const TableCellFontRec& r) { return r.row != kTableAll && r.column == kTableAll; }
bool IsColumnLine(const TableCellFontRec& r) { return r.row == kTableAll && r.column != kTableAll; }
bool IsCell(const TableCellFontRec& r) { return r.row != kTableAll && r.column != kTableAll; }

// Field i (0 font .. 6 blink) of a record, the field of mask bit 1 << i.
int32& Field(TableCellFontRec& r, int32 i) {
  switch (i) {
    case 0: return r.font;
    case 1: return r.format;
    case 2: return reinterpret_cast<int32&>(r.textColor);
    case 3: return reinterpret_cast<int32&>(r.backColor);
    case 4: return r.width;
    case 5: return r.height;
    default: return r.blink;
  }
}
int32 FieldOf(const TableCellFontRec& r, int32 i) { return Field(const_cast<TableCellFontRec&>(r), i); }

void Merge(const TableCellFontRec* looks, int32 n, TableCellFontRec* rec) {
  rec->mask = 0;
  for (int32 i = 0; i < n; ++i) {
    TableCellFontRec r;
    std::memcpy(&r, &looks[i], sizeof r);
    const bool applies = IsAll(r) || (r.row == rec->row && r.column == kTableAll) ||
                         (r.row == kTableAll && r.column == rec->column) ||
                         (r.row == rec->row && r.column == rec->column);
    if (!applies) continue;
    for (int32 i = 0; i < 7; ++i)
      if (r.mask & (1u << i)) Field(*rec, i) = FieldOf(r, i);
    rec->mask |= r.mask & kCellLookAll;
  }
}

// The font list's count, -1 when the handle does not hold it.
int32 FontCount(UHandle fonts) {
  if (!fonts) return 0;
  if (!AZIsHandle(fonts) || AZGetHandleSize(fonts) < 4) return -1;
  const int32 n = int32(GetNative32(*fonts));
  return n >= 0 && 4 + int64(n) * 4 <= AZGetHandleSize(fonts) ? n : -1;
}
UHandle FontList(ObjHeap heap, int32 table) {
  return reinterpret_cast<UHandle>(uintptr_t(uInt32(ctrl::WordOr0(heap, table, kTableFontListWord))));
}

// The look a cell would have without its own record: the merge over the
// list with that record's mask cleared.
TableCellFontRec Inherited(const Looks& looks, size_t self, const TableCellFontRec& target) {
  Looks without = looks;
  without[self].mask = 0;
  TableCellFontRec r = kTableDefaultLook;
  r.row = target.row, r.column = target.column;
  Merge(without.data(), int32(without.size()), &r);
  return r;
}

// A font derived from the cell's font by the change word.
int32 DerivedFont(int32 current, int32 given, int32 change) {
  Str255 name{0};
  int32 size = 0, style = 0, weight = 0;
  TGetFontInfo(given, name, &size, &style, &weight);
  return TModifyFont(current, name, size, style, weight, change);
}

}  // namespace

namespace {
void MergeIn(const TableLookView& v, TableCellFontRec* rec);
}  // namespace

// ---- Sizes and colours -------------------------------------------------------------------------

int32 TableColumnWidth(ObjHeap heap, int32 table, int32 column) {
  TableCellFontRec r = kTableDefaultLook;
  r.column = column;
  TableCellFormatMerge(heap, table, &r);
  return std::clamp(r.width, kMinSize, 16000);
}

int32 TableLineSize(const TableLookView& view, int32 index, Bool32 vertical) {
  TableCellFontRec r = kTableDefaultLook;
  (vertical ? r.row : r.column) = index;
  MergeIn(view, &r);
  return std::clamp(vertical ? r.height : r.width, kMinSize, 16000);
}

int32 TableRowHeight(ObjHeap heap, int32 table, int32 row) {
  TableCellFontRec r = kTableDefaultLook;
  r.row = row;
  TableCellFormatMerge(heap, table, &r);
  return std::clamp(r.height, kMinSize, 16000);
}

DColor TableGridColour(ObjHeap heap, int32 table) {
  const int32 area = ctrl::PartOf(heap, table, kTablePartCells);
  if (!area) return ctrl::kBlack;
  const DColor fore = ctrl::PartFore(heap, area);
  return TableCleanColour(fore == kTransparentColor ? ctrl::PartBack(heap, area) : fore);
}

DColor TableAreaBack(ObjHeap heap, int32 table) {
  const int32 area = ctrl::PartOf(heap, table, kTablePartCells);
  return area ? TableCleanColour(ctrl::PartBack(heap, area)) : kTransparentColor;
}

void TableColoursOf(const TableLookView& view, const TableCellFontRec* look, int32 mode, DColor c[4]) {
  c[2] = gImageColours.bwFore;
  c[3] = gImageColours.bwBack;
  const DColor area = view.areaBack;
  if (mode == kDrawModeBlink && (look->mask & kCellLookBlink) && look->blink == kCellBlinking) {
    const DColor fore = DColor(PrefGet(kPrefBlinkFG));
    c[0] = fore != kTransparentColor ? fore : area != kTransparentColor ? area : 0;
    c[1] = DColor(PrefGet(kPrefBlinkBG));
    return;
  }
  c[0] = TableCleanColour(look->textColor);
  c[1] = look->backColor == kTransparentColor ? area : TableCleanColour(look->backColor);
}

void TableCellColors(ObjHeap heap, int32 table, const TableCellFontRec* look, int32 mode, DColor c[4]) {
  TableLookView view;
  view.areaBack = TableAreaBack(heap, table);
  TableColoursOf(view, look, mode, c);
}

// ---- Lookup ------------------------------------------------------------------------------------

TableLookView TableLooksOf(ObjHeap heap, int32 table) {
  TableLookView v;
  v.looks = LooksHandle(heap, table);
  v.count = std::max(LooksCount(v.looks), 0);
  v.fonts = FontList(heap, table);
  v.fontCount = std::max(FontCount(v.fonts), 0);
  v.areaBack = TableAreaBack(heap, table);
  return v;
}

namespace {
void MergeIn(const TableLookView& v, TableCellFontRec* rec) {
  if (v.count <= 0) {
    const int32 row = rec->row, column = rec->column;
    *rec = kTableDefaultLook;
    rec->row = row, rec->column = column;
    return;
  }
  Merge(reinterpret_cast<const TableCellFontRec*>(*v.looks + 4), v.count, rec);
}
}  // namespace

void TableLookAt(const TableLookView& v, TableCellFontRec* rec) {
  MergeIn(v, rec);
  const int32 index = rec->font;
  rec->font = v.fontCount > 0 ? int32(GetNative32(*v.fonts + 4 + 4 * (index >= 0 && index < v.fontCount ? index : 0)))
                              : kAppFont;
}

void TableCellFormatMerge(ObjHeap heap, int32 table, TableCellFontRec* rec) {
  TableLookView v;
  v.looks = LooksHandle(heap, table);
  v.count = LooksCount(v.looks);
  MergeIn(v, rec);
}

void TableCellFontLookup(ObjHeap heap, int32 table, TableCellFontRec* rec) {
  TableLookAt(TableLooksOf(heap, table), rec);
}

int32 TableCellFormatApply(const TableCellFontRec* source, TableCellFontRec* target, uInt32 mask) {
  int32 changes = 0;
  for (int32 i = 0; i < 7; ++i) {
    if (!(mask & (1u << i)) || FieldOf(*source, i) == FieldOf(*target, i)) continue;
    Field(*target, i) = FieldOf(*source, i);
    changes |= i == 2 || i == 3 ? kCellChangedColour : kCellChangedLayout;
  }
  target->mask |= mask & kCellLookAll;
  return changes;
}

int32 TableCellFormatCompare(const void* pa, const void* pb) {
  TableCellFontRec a, b;
  std::memcpy(&a, pa, sizeof a);
  std::memcpy(&b, pb, sizeof b);
  auto group = [](const TableCellFontRec& r) {
    return !(r.mask & kCellLookAll) ? 4 : IsAll(r) ? 0 : IsRowLine(r) ? 1 : IsColumnLine(r) ? 2 : 3;
  };
  const int32 ga = group(a), gb = group(b);
  if (ga != gb) return ga < gb ? -1 : 1;
  auto cmp = [](int32 x, int32 y) { return x < y ? -1 : x > y ? 1 : 0; };
  switch (ga) {
    case 1: return cmp(a.row, b.row);
    case 2: return cmp(a.column, b.column);
    case 3: return a.column != b.column ? cmp(b.column, a.column) : cmp(a.row, b.row);
    default: return 0;
  }
}

// ---- Storing -----------------------------------------------------------------------------------

int32 TableFontIndex(ObjHeap heap, int32 table, int32 font) {
  UHandle fonts = FontList(heap, table);
  const int32 n = FontCount(fonts);
  if (n < 0) return -1;
  for (int32 i = 0; i < n; ++i)
    if (int32(GetNative32(*fonts + 4 + 4 * i)) == font) return i;
  if (!fonts) {
    if (!(fonts = AZNewHandle(8))) return -1;
    ObjSetWord(heap, table, kTableFontListWord, int32(uintptr_t(fonts)));
  } else if (AZSetHandleSize(fonts, 8 + 4 * n) != kNoErr) {
    return -1;
  }
  TAddFontReference(font);
  PutNative32(*fonts + 4 + 4 * n, uInt32(font));
  PutNative32(*fonts, uInt32(n + 1));
  return n;
}

int32 TableSetCellFormat(ObjHeap heap, int32 table, const TableCellFontRec* given, uInt32 mask) {
  Looks looks;
  if (!TableStateOf(heap, table) || !ReadLooks(LooksHandle(heap, table), &looks)) return kCellChangeFailed;
  TableCellFontRec rec = *given;
  mask &= kCellLookAll;
  int32 changes = 0;
  // 1. The font as its index in the font list.
  if (mask & kCellLookFont) {
    rec.font = TableFontIndex(heap, table, given->font);
    if (rec.font < 0) return kCellChangeFailed;
  }
  // An empty list stands for the default look of every cell: it becomes the
  // all-cells record first; a stored list out of order has its all-cells
  // record brought first.
  // Fields a stored all-cells record lacks take the default look, which is
  // what every lookup gives for them, so that record never sorts away.
  const auto allCells = std::find_if(looks.begin(), looks.end(), IsAll);
  if (allCells == looks.end()) looks.insert(looks.begin(), kTableDefaultLook);
  else std::rotate(looks.begin(), allCells, allCells + 1);
  for (int32 i = 0; i < 6; ++i)
    if (!(looks[0].mask & (1u << i))) Field(looks[0], i) = FieldOf(kTableDefaultLook, i);
  looks[0].mask |= kTableDefaultLook.mask;
  // 2. The target, and what the new setting overrides.
  const bool all = IsAll(rec);
  size_t target = all ? 0 : looks.size();
  for (size_t i = 1; i < looks.size() && !all; ++i)
    if (looks[i].row == rec.row && looks[i].column == rec.column) target = i;
  const uInt32 removed = mask & ~kCellLookFont;
  for (size_t i = 1; i < looks.size(); ++i) {
    TableCellFontRec& r = looks[i];
    const bool overridden = all || (IsColumnLine(rec) && IsCell(r) && r.column == rec.column) ||
                            (IsRowLine(rec) && IsCell(r) && r.row == rec.row);
    if (overridden && i != target) r.mask &= ~removed;
  }
  // 3. A new record, empty.
  if (target == looks.size()) {
    TableCellFontRec fresh{};
    fresh.row = rec.row, fresh.column = rec.column;
    looks.push_back(fresh);
  }
  // 4. The fields.
  changes |= TableCellFormatApply(&rec, &looks[target], mask);
  // 5. Bits equal to what the cell inherits are left to the records above.
  if (!all) {
    const TableCellFontRec inherited = Inherited(looks, target, looks[target]);
    for (int32 i = 0; i < 7; ++i)
      if ((looks[target].mask & (1u << i)) && FieldOf(looks[target], i) == FieldOf(inherited, i))
        looks[target].mask &= ~(1u << i);
  }
  // 6. Sorted, records without a field dropped.
  std::stable_sort(looks.begin(), looks.end(), [](const TableCellFontRec& a, const TableCellFontRec& b) {
    return TableCellFormatCompare(&a, &b) < 0;
  });
  size_t keep = looks.size();
  while (keep > 0 && !(looks[keep - 1].mask & kCellLookAll)) --keep;
  if (keep < looks.size()) {
    looks.resize(keep);
    changes |= kCellChangedLayout;
  }
  if (!WriteLooks(heap, table, looks)) return kCellChangeFailed;
  return changes;
}

int32 TableSetCellFont(ObjHeap heap, int32 table, TableCellFontRec* rec, int32 mask, int32 fontChange) {
  const uInt32 m = uInt32(mask) & kCellLookAll;
  if (IsAll(*rec) || IsCell(*rec)) {
    if (!(m & kCellLookFont)) return TableSetCellFormat(heap, table, rec, m);
    const int32 given = rec->font;
    TableCellFontLookup(heap, table, rec);
    const int32 font = DerivedFont(rec->font, given, fontChange);
    rec->font = font;
    const int32 changes = TableSetCellFormat(heap, table, rec, m);
    TDisposeFont(font);
    return changes;
  }
  int32 changes = 0;
  if (m & (kCellLookWidth | kCellLookHeight))
    changes |= TableSetCellFormat(heap, table, rec, m & (kCellLookWidth | kCellLookHeight));
  if (m & ~(kCellLookWidth | kCellLookHeight))
    changes |= TableSetLineFormat(heap, table, rec, m & ~(kCellLookWidth | kCellLookHeight), fontChange);
  return changes;
}

int32 TableSetLineFormat(ObjHeap heap, int32 table, const TableCellFontRec* given, uInt32 mask, int32 fontChange) {
  TableCellFontRec rec = *given;
  // Stores the record for its row, column or cell, a font derived from
  // that place's own with the font bit.
  auto store = [&](TableCellFontRec r) {
    if (!(mask & kCellLookFont)) return TableSetCellFormat(heap, table, &r, mask);
    TableCellFontRec look = r;
    TableCellFontLookup(heap, table, &look);
    const int32 font = DerivedFont(look.font, given->font, fontChange);
    look.font = font;
    const int32 changes = TableSetCellFormat(heap, table, &look, mask);
    TDisposeFont(font);
    return changes;
  };
  // 2. The crossing lines with settings of their own.
  Looks looks;
  ReadLooks(LooksHandle(heap, table), &looks);
  const bool column = IsColumnLine(rec);
  UHandle lines = DSNewHandle(4);
  if (!lines) {
    DBPrintf("Low memory: table fonts may not be correct");
    return store(rec) | kCellChangeFailed;
  }
  int32 count = 0;
  for (const TableCellFontRec& r : looks) {
    if (!(r.mask & mask)) continue;
    int32 line;
    if (column) {
      if (IsRowLine(r) || (IsCell(r) && r.column == rec.column)) line = r.row;
      else continue;
    } else {
      if (IsColumnLine(r) || (IsCell(r) && r.row == rec.row)) line = r.column;
      else continue;
    }
    bool seen = false;
    for (int32 i = 0; i < count && !seen; ++i) seen = int32(GetNative32(*lines + 4 + 4 * i)) == line;
    if (seen) continue;
    if (DSSetHandleSize(lines, 8 + 4 * count) != kNoErr) {
      DSDisposeHandle(lines);
      DBPrintf("Low memory: table fonts may not be correct");
      return store(rec) | kCellChangeFailed;
    }
    PutNative32(*lines + 4 + 4 * count++, uInt32(line));
  }
  PutNative32(*lines, uInt32(count));
  // 1. The line itself.
  int32 changes = store(rec);
  // 3. Each crossing cell, so the line wins over what crosses it.
  for (int32 i = 0; i < count; ++i) {
    const int32 line = int32(GetNative32(*lines + 4 + 4 * i));
    TableCellFontRec cell = rec;
    if (column) cell.row = line;
    else cell.column = line;
    changes |= store(cell);
  }
  DSDisposeHandle(lines);
  return changes;
}

// ---- Showing a change --------------------------------------------------------------------------

int32 TableInvalCells(ObjHeap heap, int32 table, int32 row, int32 column, Bool32 defer) {
  const int32 area = ctrl::PartOf(heap, table, kTablePartCells);
  if (!area) return 0;
  const bool invalidate = ctrl::Flags(heap, area) & kTablePartNoDrawInPlace;
  const WindowRef w = WindowRef(ctrl::Ext(heap, kHeapExtWindow)) ? WindowRef(ctrl::Ext(heap, kHeapExtWindow))
                                                                  : WCurrentPort();
  if (row == kTableAll && column == kTableAll) {
    if (invalidate || defer) {
      const Rect r = ctrl::BoundsOf(heap, area);
      if (w) WInvalRect(w, &r);
      return ctrl::kReplyInvalidated;
    }
    const UHandle* value = TableValue(heap, table);
    return value ? oDisplayVal(heap, table, 0, value) : 0;
  }
  if (!TableStateOf(heap, table)) return 0;
  // The named line, or the visible ones from the header when it is shown;
  // the edges are walked once for all of them.
  TableLines rows, columns;
  TableShownLines(heap, table, 1, &rows);
  TableShownLines(heap, table, 0, &columns);
  int32 reply = 0;
  for (size_t k = 0; k < rows.index.size(); ++k) {
    if (row != kTableAll && rows.index[k] != row) continue;
    for (size_t m = 0; m < columns.index.size(); ++m) {
      if (column != kTableAll && columns.index[m] != column) continue;
      const Rect text{int16(rows.first[k]), int16(columns.first[m]), int16(rows.last[k]), int16(columns.last[m])};
      if (invalidate) {
        const Rect cell = TableCellFrame(text);
        if (w) WInvalRect(w, &cell);
        reply |= ctrl::kReplyInvalidated;
      } else {
        TableDrawCellAt(heap, table, rows.index[k], columns.index[m], text);
      }
      if (!TableStateOf(heap, table)) return reply;
    }
  }
  return reply;
}
