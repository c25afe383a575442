// The table control: its state and value, cell geometry, drawing, value
// display, scroll bars, data pointers and pop-up items.
#include "controls/table.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrdoit.h"
#include "panel/datamsg.h"
#include "panel/objdraw.h"
#include "panel/oinval.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"

using ctrl::BoundsOf;
using ctrl::Flags;
using ctrl::Has;
using ctrl::PartOf;

namespace {

constexpr char kSource[] = "table.cpp";
constexpr int32 kStdTDStringList = 25;  // the standard 1-D array of strings
constexpr int32 kTextRecordWord = 9;
constexpr uInt32 kVIFlags2Retrieval = 0x800;  // the VI is in datalog retrieval mode

int32 Word(ObjHeap heap, int32 table, int32 word) { return ctrl::WordOr0(heap, table, word); }
void SetWord(ObjHeap heap, int32 table, int32 word, int32 v) {
  if (Has(heap, table, 4 * (word + 1))) ObjSetWord(heap, table, word, v);
}
bool IsTable(ObjHeap heap, int32 table) { return Has(heap, table, 76) && ObjClass(heap, table) == kClsTable; }

// The cell area, 0 without one.
int32 CellArea(ObjHeap heap, int32 table) { return PartOf(heap, table, kTablePartCells); }

// The header list's entry count, -1 when the handle does not hold it.
int32 ListCount(UHandle list) {
  if (!list) return 0;
  if (!*list) return -1;
  const int32 size = DSGetHandleSize(list);
  if (size < 4) return -1;
  const int32 n = int32(GetNative32(*list));
  return n >= 0 && int64(n) * 4 + 4 <= size ? n : -1;
}

// The value's type, a 2-D array of strings; null (reported: the type comes
// from the VI file) for any other, whose elements are never read as strings.
const TypeDescriptor* ValueTD(ObjHeap heap, int32 table) {
  const TypeDescriptor* td = ctrl::DisplayTD(heap, table);
  const uChar* a = reinterpret_cast<const uChar*>(td);
  constexpr int32 kElem = 6 + 4 * 2;  // the element's descriptor after two dimension words
  if (!td || td->code != kTDArray || td->size < kElem + 4 || int16(GetNative16(a + 4)) != 2 ||
      SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(a + kElem))->code != kTDString) {
    DBPrintf("%s: a table's value is no 2-D array of strings", kSource);
    return nullptr;
  }
  return td;
}

struct Headers {
  bool rowHeaders, columnHeaders;
};
Headers HeadersOf(ObjHeap heap, int32 table) {
  const uInt32 f = Flags(heap, table);
  return {(f & kTableFlagRowHeaders) != 0, (f & kTableFlagColumnHeaders) != 0};
}

// The string a cell address names, null for none.
const LStr* CellString(UHandle* slot) { return slot ? ctrl::CheckedLStr(*slot) : nullptr; }

// The table's text record when the panel's key focus is this table's edit
// text, else null.
TRecord FocusEditText(ObjHeap heap, int32 table) {
  if (int32(ctrl::Ext(heap, kHeapExtKeyFocus)) != table) return nullptr;
  const int32 part = Word(heap, table, kTableEditPartWord);
  if (!Has(heap, part, 4 * (kTextRecordWord + 1))) return nullptr;
  const TRecord text = reinterpret_cast<TRecord>(uintptr_t(uInt32(ObjWord(heap, part, kTextRecordWord))));
  return text && ctrl::Ext(heap, kHeapExtFocusText) == uInt32(uintptr_t(text)) ? text : nullptr;
}

void DrawEditText(ObjHeap heap, int32 table) {
  const TRecord text = FocusEditText(heap, table);
  if (!text) return;
  Rect cell;
  if (TableCellRect(heap, table, Word(heap, table, kTableEditRowWord), Word(heap, table, kTableEditColumnWord), &cell) &
      kTableCellHidden)
    return;
  Rect view;
  LRect dest;
  TGetRect(text, &view, &dest);
  if (std::memcmp(&view, &cell, sizeof view) == 0) TDraw(reinterpret_cast<UHandle>(text));
}

void SetCurrent(ObjHeap heap, int32 table, int32 row, int32 column) {
  SetWord(heap, table, kTableCurRowWord, row);
  SetWord(heap, table, kTableCurColumnWord, column);
}

Rect Grow(const Rect& r) { return TableCellFrame(r); }

// Draws the cell's string with its look.
void DrawCellText(const TableLookView& view, const Rect& text, const LStr* s, const TableCellFontRec& look,
                  int32 mode) {
  DColor c[4];
  TableColoursOf(view, &look, mode, c);
  TBox(&text, kTableTextFlags | (look.format & kCellFormatJustify), s->str, s->cnt, look.font, c[0], c[1], c[2],
       c[3]);
}

TableCellFontRec LookOf(const TableLookView& view, int32 row, int32 column) {
  TableCellFontRec look = kTableDefaultLook;
  look.row = row, look.column = column;
  TableLookAt(view, &look);
  return look;
}

// The strings a draw reads, their lists checked once: what TableCellPtr
// gives without growth.
struct CellStrings {
  UHandle value = nullptr, rowHeaders = nullptr, columnHeaders = nullptr;
  int32 rows = 0, columns = 0, nRowHeaders = 0, nColumnHeaders = 0;
  CellStrings(const TableState& st, const void* v, bool strings) {
    if (v && strings && TableValueSize(*static_cast<const UHandle*>(v), &rows, &columns))
      value = *static_cast<const UHandle*>(v);
    if ((nRowHeaders = ListCount(st.rowHeaders)) > 0) rowHeaders = st.rowHeaders;
    if ((nColumnHeaders = ListCount(st.columnHeaders)) > 0) columnHeaders = st.columnHeaders;
  }
  static const LStr* Entry(UHandle list, int32 at) {
    UHandle s;
    std::memcpy(&s, *list + at, sizeof s);
    return ctrl::CheckedLStr(s);
  }
  const LStr* At(int32 r, int32 c) const {
    if (r < -1 || c < -1 || (r == -1 && c == -1)) return nullptr;
    if (c == -1) return rowHeaders && r < nRowHeaders ? Entry(rowHeaders, 4 + 4 * r) : nullptr;
    if (r == -1) return columnHeaders && c < nColumnHeaders ? Entry(columnHeaders, 4 + 4 * c) : nullptr;
    return value && r < rows && c < columns ? Entry(value, 8 + 4 * (r * columns + c)) : nullptr;
  }
};

// A line in the current pen from (h1, v1) to (h2, v2).
void Line(int32 h1, int32 v1, int32 h2, int32 v2) {
  DMoveTo(h1, v1);
  DLineTo(h2, v2);
}

// Lines, frames and paints of the normal pen in one colour, gathered and
// then drawn together: where the port fills straight, as the one-pixel
// strips the pen would cover, in one batch (the grid and the cells'
// backgrounds are hundreds of them); elsewhere, or with a pen that is not
// a plain one-pixel copy, by the calls themselves in their order.
class Strokes {
 public:
  void Line(int32 h1, int32 v1, int32 h2, int32 v2) {
    calls_.push_back({kLine, {}, h1, v1, h2, v2});
    // A line covers both its ends.
    Add(std::min(v1, v2), std::min(h1, h2), std::max(v1, v2) + 1, std::max(h1, h2) + 1);
  }
  void Frame(const Rect& r) {
    calls_.push_back({kFrame, r, 0, 0, 0, 0});
    const int32 t = r.top, l = r.left, b = r.bottom, rt = r.right;
    if (rt <= l || b <= t) return;
    if (rt - l <= 2 || b - t <= 2) return Add(t, l, b, rt);  // the sides meet: filled
    Add(t, l, t + 1, rt - 1);
    Add(t, rt - 1, b - 1, rt);
    Add(b - 1, l + 1, b, rt);
    Add(t + 1, l, b, l + 1);
  }
  void Paint(const Rect& r) {
    calls_.push_back({kPaint, r, 0, 0, 0, 0});
    rects_.push_back(r);
  }
  // Selects the normal pen in colour (bw on a black-and-white port), draws
  // what was gathered and forgets it.
  void Draw(DColor colour, DColor bw) {
    DSelectNormPen(colour, bw);
    if (!rects_.empty()) {
      colours_.assign(rects_.size(), colour);
      if (gDrawState.invisiblePen || !DFillRectsStraight(rects_.data(), colours_.data(), int32(rects_.size()), bw)) {
        for (const Call& c : calls_) {
          if (c.kind == kLine) ::Line(c.h1, c.v1, c.h2, c.v2);
          else if (c.kind == kFrame) DFrameRect(&c.r);
          else DPaintRect(&c.r);
        }
      } else {
        // The pen is left where the last line left it.
        for (size_t i = calls_.size(); i-- > 0;)
          if (calls_[i].kind == kLine) {
            DMoveTo(calls_[i].h2, calls_[i].v2);
            break;
          }
      }
    }
    calls_.clear();
    rects_.clear();
  }

 private:
  enum Kind : uInt8 { kLine, kFrame, kPaint };
  struct Call {
    Kind kind;
    Rect r;
    int32 h1, v1, h2, v2;
  };
  void Add(int32 t, int32 l, int32 b, int32 r) { rects_.push_back(Rect{int16(t), int16(l), int16(b), int16(r)}); }
  std::vector<Call> calls_;
  std::vector<Rect> rects_;
  std::vector<DColor> colours_;
};

// Every shown cell's margin in the background at once, for a draw whose
// grid lines are drawn after it, where the port fills straight.  The
// pixels are those of the cells' frames (and of the whole frames of cells
// without a string) as row by row; the strips only cross grid lines, which
// the grid then covers again: a row's frame tops (and bottoms) as one strip
// across the one-pixel upright lines between them (above the area's bottom,
// where those lines end), and the two margins beside such a line as one
// strip each from the first shown row to the last, across the rows' lines
// and the double line (whose inner line is drawn after too).  Other sides,
// at the ends of a row and beside the double upright line, row by row.
class MarginRuns {
 public:
  // The frames' top and bottom (exclusive) edges of the shown rows, left
  // and right edges of the shown columns, top to bottom, left to right.
  MarginRuns(int32 areaBottom, const std::vector<int32>& top, const std::vector<int32>& bottom,
             const std::vector<int32>& left, const std::vector<int32>& right)
      : areaBottom_(areaBottom), top_(top), bottom_(bottom), left_(left), right_(right) {}
  // Cell (i, j) has no string: its frame is painted whole.
  void Whole(size_t i, size_t j) {
    if (bottom_[i] - top_[i] > 2 && right_[j] - left_[j] > 2) Add(top_[i] + 1, left_[j] + 1, bottom_[i] - 1, right_[j] - 1);
  }
  // Fills the margins in the current pen's colour back; false, nothing
  // drawn, where the port does not fill straight.
  bool Fill(DColor back) {
    const size_t nr = top_.size(), nc = left_.size();
    for (size_t i = 0; i < nr; ++i)
      if (bottom_[i] <= top_[i]) return false;
    for (size_t j = 0; j < nc; ++j)
      if (right_[j] <= left_[j]) return false;
    // Whether the upright line after column j is one pixel between frames.
    auto single = [&](size_t j) { return j + 1 < nc && left_[j + 1] == right_[j] + 1; };
    for (size_t i = 0; i < nr; ++i) {
      const int32 t = top_[i], b = bottom_[i];
      Across(t, t + 1, single);
      if (b - t >= 2) Across(b - 1, b, single);
      if (b - t < 3) continue;
      for (size_t j = 0; j < nc; ++j) {
        if (j == 0 || !single(j - 1)) Add(t + 1, left_[j], b - 1, left_[j] + 1);
        if (!single(j)) Add(t + 1, right_[j] - 1, b - 1, right_[j]);
      }
    }
    const int32 from = top_[0], to = std::min(bottom_[nr - 1], areaBottom_);
    for (size_t j = 0; j + 1 < nc && from < to; ++j)
      if (single(j)) {
        Add(from, right_[j] - 1, to, right_[j]);
        Add(from, left_[j + 1], to, left_[j + 1] + 1);
      }
    if (rects_.empty()) return true;
    colours_.assign(rects_.size(), back);
    return DFillRectsStraight(rects_.data(), colours_.data(), int32(rects_.size()), ctrl::kWhite);
  }

 private:
  void Add(int32 t, int32 l, int32 b, int32 r) { rects_.push_back(Rect{int16(t), int16(l), int16(b), int16(r)}); }
  // The frames' pixel rows [t, b), joined across single upright lines.
  template <typename Single>
  void Across(int32 t, int32 b, Single single) {
    const bool join = b <= areaBottom_;
    for (size_t j = 0; j < left_.size();) {
      size_t k = j;
      while (join && single(k)) ++k;
      Add(t, left_[j], b, right_[k]);
      j = k + 1;
    }
  }
  int32 areaBottom_;
  const std::vector<int32>&top_, &bottom_, &left_, &right_;
  std::vector<Rect> rects_;
  std::vector<DColor> colours_;
};

// Step 2 of the draw: the grid lines, counting the visible rows and
// columns.  Every step is at least 3 pixels, so the walks end at the area.
// With strokes the lines are gathered there (the inner lines of the double
// lines, in the background, into inner) for the caller to draw.
void DrawGrid(ObjHeap heap, int32 table, const Rect& a, const TableLookView& looks, Strokes* grid = nullptr,
              Strokes* inner = nullptr) {
  TableState* st = TableStateOf(heap, table);
  if (!st) return;
  const bool draw = grid != nullptr;
  const Headers e = HeadersOf(heap, table);
  const int32 top = TableOrigin(st->topRow), left = TableOrigin(st->leftColumn);
  const int32 headerHeight = TableLineSize(looks, kTableHeader, true);
  const int32 headerWidth = TableLineSize(looks, kTableHeader, false);
  const DColor back = looks.areaBack;
  // Horizontal lines.
  int32 visibleRows = e.columnHeaders ? 0 : 1;
  int32 y = a.top;
  if (e.columnHeaders) {
    y = a.top + headerHeight;
    if (draw) {
      grid->Line(e.rowHeaders ? a.left + headerWidth + 2 : a.left, y, a.right - 1, y);
      grid->Line(a.left, y + 2, a.right - 1, y + 2);
    }
    y += 2;
    if (y + 1 < a.bottom) ++visibleRows;
  } else {
    y = a.top - 1;
  }
  for (int32 r = top; y < a.bottom; ++r) {
    y += TableLineSize(looks, r, true) + 1;
    if (y >= a.bottom) break;
    if (draw) grid->Line(a.left, y, a.right - 1, y);
    if (y + 1 < a.bottom) ++visibleRows;
  }
  // Vertical lines.
  int32 visibleColumns = e.rowHeaders ? 0 : 1;
  int32 x = a.left;
  if (e.rowHeaders) {
    x = a.left + headerWidth;
    if (draw) {
      grid->Line(x, e.columnHeaders ? a.top + headerHeight + 2 : a.top, x, a.bottom - 1);
      grid->Line(x + 2, a.top, x + 2, a.bottom - 1);
    }
    x += 2;
    if (x + 1 < a.right) ++visibleColumns;
  } else {
    x = a.left - 1;
  }
  for (int32 c = left; x < a.right; ++c) {
    x += TableLineSize(looks, c, false) + 1;
    if (x >= a.right) break;
    if (draw) grid->Line(x, a.top, x, a.bottom - 1);
    if (x + 1 < a.right) ++visibleColumns;
  }
  // The inner line of each double line in the background.
  if (draw && inner && back != kTransparentColor) {
    if (e.columnHeaders) inner->Line(a.left, a.top + headerHeight + 1, a.right - 1, a.top + headerHeight + 1);
    if (e.rowHeaders) inner->Line(a.left + headerWidth + 1, a.top, a.left + headerWidth + 1, a.bottom - 1);
  }
  if ((st = TableStateOf(heap, table))) st->visibleRows = visibleRows, st->visibleColumns = visibleColumns;
}

// The visible rows (columns) of a walk: from -1 with headers, then the
// origin for the visible count.
struct Span {
  int32 first, origin, count;
};
Span RowSpan(const TableState& st, bool headers) {
  const int32 origin = TableOrigin(st.topRow);
  return {headers ? -1 : origin, origin, TableVisible(st.visibleRows)};
}
Span ColumnSpan(const TableState& st, bool headers) {
  const int32 origin = TableOrigin(st.leftColumn);
  return {headers ? -1 : origin, origin, TableVisible(st.visibleColumns)};
}
// The next index of a walk: after the header, the origin.
int32 Next(const Span& s, int32 i) { return i == -1 ? s.origin : i + 1; }
bool InSpan(const Span& s, int32 i) { return i == -1 ? s.first == -1 : i >= s.origin && i < s.origin + s.count; }

// The place of a shown line in its walk (0 for the first).
int32 IndexIn(const Span& s, int32 i) { return i == -1 ? 0 : (s.first == -1 ? 1 : 0) + i - s.origin; }

// The edges of the first count lines of a walk: the header starts one in
// from the area's edge, the first line after it 5 below its end, every other
// line 3 below the one before; each end (exclusive) is its start + size - 2.
// Without arrays only the last line's edges are kept.
void LineEdges(const TableLookView& looks, const Span& s, int32 start, bool vertical, int32 count, int32* first,
               int32* last, std::vector<int32>* firsts = nullptr, std::vector<int32>* lasts = nullptr,
               int32 limit = 0x7FFFFFFF) {
  int32 pos = start + 1, end = pos;
  int32 i = s.first;
  for (int32 k = 0; k < count; ++k, i = Next(s, i)) {
    if (k) pos = end + (k == 1 && s.first == -1 ? 5 : 3);
    if (pos >= limit) break;
    end = pos + TableLineSize(looks, i, vertical) - 2;
    if (firsts) firsts->push_back(pos), lasts->push_back(end);
  }
  *first = pos, *last = end;
}

}  // namespace

// ---- State and value ---------------------------------------------------------------------------

TableState* TableStateOf(ObjHeap heap, int32 table) {
  if (!IsTable(heap, table)) return nullptr;
  const int32 at = ObjWord(heap, table, kTableStateWord);
  if (at <= 0 || (at & 3)) return nullptr;
  UHandle* ds = FPGetDataSpace(heap);
  if (!ds || !*ds || !**ds || int64(at) + int64(sizeof(TableState)) > DSGetHandleSize(*ds)) return nullptr;
  return reinterpret_cast<TableState*>(**ds + at);
}

bool TableValueSize(UHandle array, int32* rows, int32* columns) {
  *rows = *columns = 0;
  if (!array) return true;
  if (!*array) return false;
  const int32 size = DSGetHandleSize(array);
  if (size < 8) return false;
  int32 dims[2] = {int32(GetNative32(*array)), int32(GetNative32(*array + 4))};
  const int32 n = NArrayElts(2, dims);
  if (n < 0 || 8 + int64(n) * 4 > size) return false;
  *rows = dims[0], *columns = dims[1];
  return true;
}

UHandle* TableValue(ObjHeap heap, int32 table) {
  const int32 owner = Word(heap, table, kObjOwner / 4);
  if (!owner || !OHIsUsedBlock(heap, owner)) return nullptr;
  return reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(heap, owner, table, kDataPtrPlain, nullptr))));
}

UHandle* TableCellPtr(ObjHeap heap, int32 table, UHandle* array, int32 grow) {
  const int32 row = Word(heap, table, kTableCurRowWord), column = Word(heap, table, kTableCurColumnWord);
  if ((row == -1 && column == -1) || row < -1 || column < -1) return nullptr;
  TableState* st = TableStateOf(heap, table);
  if (!st) return nullptr;
  if (row == -1 || column == -1) {
    UHandle* list = row == -1 ? &st->columnHeaders : &st->rowHeaders;
    const int32 index = row == -1 ? column : row;
    const int32 n = ListCount(*list);
    if (n < 0) return nullptr;
    if (index >= n) {
      if (!grow || index == 0x7FFFFFFF) return nullptr;
      UHandle h = *list, fill = st->headerFill;
      int32 position = n, count = index - n + 1;  // index < 0x7FFFFFFF here
      if (const MgErr err = ArrayInsertDeleteNDim(StdTDTable[kStdTDStringList], &h, &position, &count, &fill)) {
        DBMgErr(kSource, __LINE__, err, "TableCellPtr: a header list cannot grow");
        return nullptr;
      }
      if (!(st = TableStateOf(heap, table))) return nullptr;
      list = row == -1 ? &st->columnHeaders : &st->rowHeaders;
      *list = h;
      if (ListCount(h) <= index) return nullptr;
    }
    return reinterpret_cast<UHandle*>(**list + 4 + 4 * index);
  }
  if (!array || !ValueTD(heap, table)) return nullptr;
  int32 rows, columns;
  if (!TableValueSize(*array, &rows, &columns)) return nullptr;
  if (row >= rows || column >= columns) {
    if (!grow) return nullptr;
    const TypeDescriptor* td = ValueTD(heap, table);
    UHandle fill = st->valueFill;
    int32 positions[2] = {rows, columns};
    if (row == 0x7FFFFFFF || column == 0x7FFFFFFF) return nullptr;  // no array holds that many
    int32 counts[2] = {std::max(row - rows + 1, 0), std::max(column - columns + 1, 0)};
    if (const MgErr err = ArrayInsertDeleteNDim(td, array, positions, counts, &fill)) {
      DBMgErr(kSource, __LINE__, err, "TableCellPtr: the value cannot grow");
      return nullptr;
    }
    ctrl::SetFlags(heap, table, Flags(heap, table) | kTableFlagGrown);
    if (!TableValueSize(*array, &rows, &columns) || row >= rows || column >= columns) return nullptr;
  }
  return reinterpret_cast<UHandle*>(**array + 8 + 4 * (int64(row) * columns + column));
}

// ---- Geometry ----------------------------------------------------------------------------------

int32 TableCellRect(ObjHeap heap, int32 table, int32 row, int32 column, Rect* rect) {
  *rect = Rect{0, 0, 0, 0};
  const int32 area = CellArea(heap, table);
  const TableState* st = TableStateOf(heap, table);
  if (!area || !st || row < -1 || column < -1) return kTableCellHidden;
  const Headers e = HeadersOf(heap, table);
  const Span rows = RowSpan(*st, e.columnHeaders), columns = ColumnSpan(*st, e.rowHeaders);
  if (!InSpan(rows, row) || !InSpan(columns, column)) return kTableCellHidden;
  const Rect a = BoundsOf(heap, area);
  int32 top, bottom, left, right;
  const TableLookView looks = TableLooksOf(heap, table);
  LineEdges(looks, rows, a.top, true, IndexIn(rows, row) + 1, &top, &bottom);
  LineEdges(looks, columns, a.left, false, IndexIn(columns, column) + 1, &left, &right);
  int32 flags = 0;
  if (bottom > a.bottom) bottom = a.bottom, flags |= kTableCellCutBottom;
  if (right > a.right) right = a.right, flags |= kTableCellCutRight;
  if (top >= a.bottom || left >= a.right) return kTableCellHidden;
  *rect = Rect{int16(top), int16(left), int16(bottom), int16(right)};
  return flags;
}

int32 TableSelKind(int32 row, int32 column, const int32 s[4]) {
  const int32 r1 = std::min(s[0], s[2]), r2 = std::max(s[0], s[2]);
  const int32 c1 = std::min(s[1], s[3]), c2 = std::max(s[1], s[3]);
  if (r1 == r2 && c1 == c2) return row == r1 && column == c1 ? 1 : 0;
  if (r1 < r2 && c1 < c2) return row >= r1 && row < r2 && column >= c1 && column < c2 ? 4 : 0;
  if (c1 == c2) return row >= r1 && row < r2 && column == c1 ? 3 : 0;
  return column >= c1 && column < c2 && row == r1 ? 2 : 0;
}

void TableDrawSelMark(const Rect* r, int32 kind) {
  switch (kind) {
    case 1:
      DMoveTo(r->left + 2, r->top);
      DLineTo(r->left, r->top);
      DLineTo(r->left, r->top + 2);
      break;
    case 2: Line(r->left, r->top, r->right - 1, r->top); break;
    case 3: Line(r->left, r->top, r->left, r->bottom - 1); break;
    case 4: DFrameRect(r); break;
    default: break;
  }
}

// ---- Drawing -----------------------------------------------------------------------------------

void TableDraw(ObjHeap heap, int32 table, const void* previous, const void* value, int32 what, int32 mode) {
  const int32 area = CellArea(heap, table);
  TableState* st = TableStateOf(heap, table);
  if (!area || !st) {
    // A table from a file may lack either: reported, nothing drawn.
    DBPrintf("%s: a table without its state or its cell area", kSource);
    return;
  }
  const Rect a = BoundsOf(heap, area);
  // The port's clip (an empty one clips nothing but the port's bounds)
  // narrowed to the cell area; with nothing of the area inside it only the
  // visible counts are made.
  const Rect saved = gDrawState.clipRect;
  auto holds = [](const Rect& r) { return r.bottom > r.top && r.right > r.left; };
  const Rect limit = holds(saved) ? saved : gDrawState.bounds;
  Rect clip = a;
  if ((holds(limit) && !DSectRect(&limit, &a, &clip)) || !holds(a)) {
    DrawGrid(heap, table, a, TableLooksOf(heap, table));
    return;
  }
  DSetClipRect(&clip);
  const bool drawGrid = (what & (kTableDrawFull | kTableDrawAll)) != 0;
  Strokes lines, inner;
  // The looks, read once: nothing in the draw changes them.
  const TableLookView view = TableLooksOf(heap, table);
  DrawGrid(heap, table, a, view, drawGrid ? &lines : nullptr, &inner);
  const Headers e = HeadersOf(heap, table);
  const DColor back = view.areaBack, grid = TableGridColour(heap, table);
  bool gridDrawn = !drawGrid;
  auto drawGridLines = [&] {
    if (gridDrawn) return;
    gridDrawn = true;
    lines.Draw(grid, ctrl::kBlack);
    if (back != kTransparentColor) inner.Draw(back, ctrl::kWhite);
  };
  const bool showSel = Flags(heap, table) & kTableFlagShowSelection;
  if ((st = TableStateOf(heap, table))) {
    const Span rows = RowSpan(*st, e.columnHeaders), columns = ColumnSpan(*st, e.rowHeaders);
    const int32 sel[4] = {st->selRow1, st->selColumn1, st->selRow2, st->selColumn2};
    // Without a look list every cell has the default look: merged once.
    const bool oneLook = view.count <= 0;
    const TableCellFontRec defaultLook = LookOf(view, kTableAll, kTableAll);
    const bool typed = (value || previous) && ValueTD(heap, table);
    const CellStrings strings(*st, value, typed), oldStrings(*st, previous, typed);
    const DColor selColour = TableCleanColour(st->selColor);
    // Every shown line's edges, walked once.
    const int32 nRows = IndexIn(rows, rows.origin + rows.count), nColumns = IndexIn(columns, columns.origin + columns.count);
    std::vector<int32> tops, bottoms, lefts, rights;
    int32 unused0, unused1;
    LineEdges(view, rows, a.top, true, nRows, &unused0, &unused1, &tops, &bottoms);
    LineEdges(view, columns, a.left, false, nColumns, &unused0, &unused1, &lefts, &rights);
    // Cells wholly outside the clip leave no pixel: the walk skips them, so
    // the work follows what can be drawn, not the area's size.
    const int32 rowEnd = std::min<int32>(a.bottom, clip.bottom + 1), columnEnd = std::min<int32>(a.right, clip.right + 1);
    int32 firstColumn = 0, firstC = columns.first;
    while (firstColumn < nColumns && rights[size_t(firstColumn)] + 1 < clip.left)
      ++firstColumn, firstC = Next(columns, firstC);
    int32 firstRow = 0, firstR = rows.first;
    while (firstRow < nRows && tops[size_t(firstRow)] < rowEnd && bottoms[size_t(firstRow)] + 1 < clip.top)
      ++firstRow, firstR = Next(rows, firstR);
    auto textOf = [&](int32 kr, int32 kc) {
      return Rect{int16(tops[size_t(kr)]), int16(lefts[size_t(kc)]), int16(std::min<int32>(bottoms[size_t(kr)], a.bottom)),
                  int16(std::min<int32>(rights[size_t(kc)], a.right))};
    };
    // The cells drawn, row by row: their strings and selection kinds, read once.
    std::vector<int32> shownRows, shownColumns;
    for (int32 kr = firstRow, r = firstR; kr < nRows && tops[size_t(kr)] < rowEnd; ++kr, r = Next(rows, r))
      shownRows.push_back(r);
    for (int32 kc = firstColumn, c = firstC; kc < nColumns && lefts[size_t(kc)] < columnEnd; ++kc, c = Next(columns, c))
      shownColumns.push_back(c);
    const size_t nr = shownRows.size(), nc = shownColumns.size();
    std::vector<const LStr*> text(nr * nc);
    std::vector<uInt8> kinds(nr * nc);
    bool framed = true;  // every cell with a string has its frame in the background
    for (size_t i = 0; i < nr; ++i)
      for (size_t j = 0; j < nc; ++j) {
        text[i * nc + j] = strings.At(shownRows[i], shownColumns[j]);
        kinds[i * nc + j] = uInt8(TableSelKind(shownRows[i], shownColumns[j], sel));
        if (text[i * nc + j] && kinds[i * nc + j] == 4) framed = false;
      }
    const bool margins = (what & (kTableDrawChanged | kTableDrawAll)) != 0;
    bool marginsDone = false;
    if (margins && drawGrid && framed && back != kTransparentColor && nr && nc) {
      // Every margin at once, before the grid lines, which are then drawn
      // over the grid pixels these runs cross: the same pixels as row by row.
      std::vector<int32> ft(nr), fb(nr), fl(nc), fr(nc);
      for (size_t i = 0; i < nr; ++i) {
        const Rect f = Grow(textOf(firstRow + int32(i), firstColumn));
        ft[i] = f.top, fb[i] = f.bottom;
      }
      for (size_t j = 0; j < nc; ++j) {
        const Rect f = Grow(textOf(firstRow, firstColumn + int32(j)));
        fl[j] = f.left, fr[j] = f.right;
      }
      MarginRuns runs(a.bottom, ft, fb, fl, fr);
      for (size_t i = 0; i < nr; ++i)
        for (size_t j = 0; j < nc; ++j)
          if (!text[i * nc + j]) runs.Whole(i, j);
      DSelectNormPen(back, ctrl::kWhite);
      marginsDone = !gDrawState.invisiblePen && runs.Fill(back);
    }
    drawGridLines();
    Strokes backgrounds;
    for (size_t i = 0; i < nr; ++i) {
      const int32 r = shownRows[i], kr = firstRow + int32(i);
      // The row's backgrounds first, in one pen: a cell's frame lies in its
      // own margin, which no other cell's drawing touches.
      if (margins && !marginsDone) {
        for (size_t j = 0; j < nc; ++j) {
          const Rect cell = Grow(textOf(kr, firstColumn + int32(j)));
          if (!text[i * nc + j]) backgrounds.Paint(cell);
          else if (kinds[i * nc + j] != 4) backgrounds.Frame(cell);
        }
        backgrounds.Draw(back, ctrl::kWhite);
      }
      for (size_t j = 0; j < nc; ++j) {
        const int32 c = shownColumns[j];
        ObjSetWord(heap, table, kTableCurRowWord, r);
        ObjSetWord(heap, table, kTableCurColumnWord, c);
        const LStr* s = text[i * nc + j];
        const LStr* old = previous && s ? oldStrings.At(r, c) : nullptr;
        const Rect t = textOf(kr, firstColumn + int32(j));
        const Rect cell = Grow(t);
        const int32 kind = kinds[i * nc + j];
        if ((what & kTableDrawAll) && r == -1 && c == -1) {
          DSelectNormPen(grid, ctrl::kBlack);
          DMoveTo(cell.right, cell.top);
          DLineTo(cell.right, cell.bottom);
          DLineTo(cell.left, cell.bottom);
        }
        if (drawGrid && showSel && kind) {
          DSelectNormPen(selColour, ctrl::kBlack);
          TableDrawSelMark(&cell, kind);
        }
        if (s && (!previous || !old || LStrCmp(s, old) != 0)) DrawCellText(view, t, s, oneLook ? defaultLook : LookOf(view, r, c), mode);
      }
    }
  }
  drawGridLines();
  DrawEditText(heap, table);
  // Back to the clip the area narrowed: an empty saved clip stands for the
  // port's bounds, and set as it is it would clip away everything drawn
  // after the table into a pixmap or a picture.
  DSetClipRect(&limit);
}

void TableDrawCell(ObjHeap heap, int32 table, int32 row, int32 column) {
  Rect text;
  if (TableCellRect(heap, table, row, column, &text) & kTableCellHidden) return;
  TableDrawCellAt(heap, table, row, column, text);
}

void TableDrawCellAt(ObjHeap heap, int32 table, int32 row, int32 column, const Rect& text) {
  SetCurrent(heap, table, row, column);
  const TableLookView view = TableLooksOf(heap, table);
  const TableCellFontRec look = LookOf(view, row, column);
  if (const LStr* s = CellString(TableCellPtr(heap, table, TableValue(heap, table), 0)))
    DrawCellText(view, text, s, look, kDrawModeNormal);
  if ((Flags(heap, table) & kTableFlagGreyed) || gDeferDrawing) {
    const DColor back = TableAreaBack(heap, table);
    const Rect cell = Grow(text);
    DGrayOutRect(&cell, back == kTransparentColor ? ctrl::kGrey : back);
  }
  DrawEditText(heap, table);
}

void TableShownLines(ObjHeap heap, int32 table, Bool32 vertical, TableLines* out) {
  *out = TableLines{};
  const int32 area = CellArea(heap, table);
  const TableState* st = TableStateOf(heap, table);
  if (!area || !st) return;
  const Headers e = HeadersOf(heap, table);
  const Span s = vertical ? RowSpan(*st, e.columnHeaders) : ColumnSpan(*st, e.rowHeaders);
  const Rect a = BoundsOf(heap, area);
  const int32 start = vertical ? a.top : a.left, end = vertical ? a.bottom : a.right;
  int32 first = 0, last = 0;
  LineEdges(TableLooksOf(heap, table), s, start, vertical, IndexIn(s, s.origin + s.count), &first, &last, &out->first,
            &out->last, end);
  int32 i = s.first;
  for (size_t k = 0; k < out->first.size(); ++k, i = Next(s, i)) {
    if (out->first[k] >= end) {
      out->first.resize(k), out->last.resize(k);
      break;
    }
    out->last[k] = std::min(out->last[k], end);
    out->index.push_back(i);
  }
}

void TableScrollNumbers(ObjHeap heap, int32 table, const void* value, Bool32 vertical, int32* origin,
                        int32* visible, int32* total) {
  *origin = *visible = 0, *total = 1;
  const TableState* st = TableStateOf(heap, table);
  if (!st) return;
  int32 rows = 0, columns = 0;
  if (value) TableValueSize(*static_cast<const UHandle*>(value), &rows, &columns);
  const int32 count = vertical ? rows : columns;
  *origin = TableOrigin(vertical ? st->topRow : st->leftColumn);
  *visible = TableVisible(vertical ? st->visibleRows : st->visibleColumns);
  *total = int32(std::min<int64>(std::max<int64>(int64(count) + 1, int64(*origin) + *visible), 0x7FFFFFFF));
}

void TableDrawSBar(ObjHeap heap, int32 table, const void* value, int32 bar) {
  if (!Has(heap, bar, int32(sizeof(ObjLeadingFields)))) return;
  const Bool32 vertical = ctrl::PartIdOf(heap, bar) == kTablePartVBar;
  int32 origin, visible, total;
  TableScrollNumbers(heap, table, value, vertical, &origin, &visible, &total);
  const Rect r = BoundsOf(heap, bar);
  if (r.bottom <= r.top || r.right <= r.left) return;  // bounds from the file that hold nothing
  DrawSBar(&r, origin, visible, total, nullptr, nullptr, vertical);
}

void TableDrawParts(ObjHeap heap, int32 table, const void* value, int32 mode) {
  const int32 list = Word(heap, table, kObjPartList / 4);
  const int32 n = list ? PanelListCount(heap, list) : 0;
  for (int32 i = n - 1; i >= 0; --i) {
    const int32 part = ObjListGet(heap, list, i);
    if (part == table || !ctrl::IsObj(heap, part) || ctrl::Hidden(heap, part)) continue;
    const int16 id = ctrl::PartIdOf(heap, part);
    const int32 partMode = mode == kDrawModeBlink && !IsBlinkPart(heap, table, id) ? kDrawModeNormal : mode;
    int32 range = 0;
    const void* data = nullptr;
    if (id == kTablePartRange) {
      range = SetRangeFlags(heap, table, value);
      data = &range;
    } else if (id == kTablePartIndex) {
      if (TableState* st = TableStateOf(heap, table))
        data = ctrl::OrderOf(heap, part) != 0 ? &st->topRow : &st->leftColumn;
    }
    ODraw(heap, part, data, int32(0), partMode);
    if (id == kTablePartCells) TableDraw(heap, table, nullptr, value, kTableDrawFull, mode);
    else if (id == kTablePartHBar || id == kTablePartVBar) TableDrawSBar(heap, table, value, part);
  }
}

// ---- Class methods -----------------------------------------------------------------------------

int32 TableODrawMethod(ObjHeap heap, int32 table, const void* value, int32 pass, int32 mode) {
  const Rect bounds = BoundsOf(heap, table);
  if (WNeedsDraw(&bounds)) TableDrawParts(heap, table, value, BlinkPartState(heap, table, mode));
  return DDOODrawMethod(heap, table, value, pass, kDrawModeNormal);
}

int32 TableoDisplayValMethod(ObjHeap heap, int32 table, const void* previous, const void* value) {
  if (!value) {
    DBAssert(kSource, __LINE__, "a table's display has a value");
    return 0;
  }
  if (ctrl::Hidden(heap, table)) return 0;
  if ((Flags(heap, table) & kTableFlagGreyed) || gDeferDrawing) {
    OInval(heap, table, kInvalAll);
    return ctrl::kReplyInvalidated;
  }
  int32 reply = 0;
  if (const int32 area = CellArea(heap, table)) {
    if (Flags(heap, area) & kTablePartNoDrawInPlace) {
      OInval(heap, area, kInvalAll);
      reply |= ctrl::kReplyInvalidated;
    } else {
      TableDraw(heap, table, previous, value, previous ? kTableDrawChanged : kTableDrawAll, kDrawModeNormal);
    }
  }
  int32 rows = 0, columns = 0, oldRows = -1, oldColumns = -1;
  TableValueSize(*static_cast<const UHandle*>(value), &rows, &columns);
  if (previous && !TableValueSize(*static_cast<const UHandle*>(previous), &oldRows, &oldColumns))
    oldRows = oldColumns = -1;
  const struct {
    int16 id;
    bool same;
  } bars[] = {{kTablePartHBar, previous && oldColumns == columns}, {kTablePartVBar, previous && oldRows == rows}};
  for (const auto& b : bars) {
    const int32 bar = PartOf(heap, table, b.id);
    if (!bar || ctrl::Hidden(heap, bar) || b.same) continue;
    if (Flags(heap, bar) & kTablePartNoDrawInPlace) {
      OInval(heap, bar, kInvalAll);
      reply |= ctrl::kReplyInvalidated;
    } else {
      TableDrawSBar(heap, table, value, bar);
    }
  }
  if (!previous) {
    for (int16 order = 0; order < 2; ++order) {
      const int32 index = PartOf(heap, table, kTablePartIndex, order);
      TableState* st = TableStateOf(heap, table);
      if (!index || !st) continue;
      const int32 origin = order ? st->topRow : st->leftColumn;
      reply |= oDisplayVal(heap, index, 0, &origin);
    }
  }
  return reply;
}

int32 TableOGetDataPtrMethod(ObjHeap heap, int32 table, int32 part, int32 kind, UHandle* base) {
  if (base) *base = nullptr;
  const int32 at = Word(heap, table, kTableStateWord);
  TableState* st = TableStateOf(heap, table);
  if (!st) return 0;
  if (part) {
    const int32 list = Word(heap, table, kObjPartList / 4);
    bool listed = false;
    for (int32 i = 0, n = list ? PanelListCount(heap, list) : 0; i < n && !listed; ++i)
      listed = ObjListGet(heap, list, i) == part;
    if (!listed) {
      DBAssert(kSource, __LINE__, "the part is one of the table's");
      return 0;
    }
    if (ctrl::PartIdOf(heap, part) != kTablePartIndex) return 0;
    const int32 field = ctrl::OrderOf(heap, part) != 0 ? offsetof(TableState, topRow)
                                                       : offsetof(TableState, leftColumn);
    if (base) {
      *base = *FPGetDataSpace(heap);
      return at + field;
    }
    return int32(uintptr_t(reinterpret_cast<UPtr>(st) + field));
  }
  if (kind != kDataPtrPlain) {
    // Other kinds ask for the whole value (default data, display data,
    // data-space copies): the owner holds it, as for any display object.
    const int32 owner = Word(heap, table, kObjOwner / 4);
    return owner && OHIsUsedBlock(heap, owner) ? OGetDataPtr(heap, owner, table, kind, base) : 0;
  }
  UHandle* array = TableValue(heap, table);
  UHandle* cell = array ? TableCellPtr(heap, table, array, 1) : nullptr;
  if (!cell) return 0;
  if (base) {
    *base = *array;
    return int32(reinterpret_cast<UPtr>(cell) - **array);
  }
  return int32(uintptr_t(cell));
}

int32 TableOPopupMethod(ObjHeap heap, int32 table, PopupMsgRecord* rec) {
  if (const int32 r = DDOOPopupMethod(heap, table, rec)) return r;
  ++rec->level;
  if (rec->nested || PanelInsideRefNum()) return 0;
  const uInt32 flags = Flags(heap, table);
  if (rec->phase == 0 || rec->phase == kPopupBuild) {
    PopupInsertItem(rec->menu64, rec->level, kPopupSeparator, -1, 1, 0);
    PopupInsertItem(rec->menu64, rec->level, kTablePopupSelScrolling, -1, 1, (flags & kTableFlagSelScrolling) != 0);
    const int32 owner = Word(heap, table, kObjOwner / 4);
    if (owner && OGetDataPtr(heap, owner, table, kDataPtrOperate, nullptr)) {
      const UHandle vi = PanelHeapOwner(heap);
      const bool retrieval = vi && *vi && (VIRec(vi)->flags2 & kVIFlags2Retrieval);
      PopupInsertItem(rec->menu72, rec->level, kPopupSeparator, -1, 1, 0);
      PopupInsertItem(rec->menu72, rec->level, kTablePopupEmpty, -1, !retrieval, 0);
      PopupInsertItem(rec->menu72, rec->level, kPopupShowSelection, -1, 1, (flags & kTableFlagShowSelection) != 0);
    }
    return 0;
  }
  if ((rec->phase != 2 && rec->phase != kPopupRun) || rec->level != 0) return 0;
  switch (rec->item) {
    case kPopupShowSelection:
      ctrl::SetFlags(heap, table, flags ^ kTableFlagShowSelection);
      OInval(heap, table, kInvalAll);
      VIDocMod(PanelHeapOwner(heap), nullptr, kTableDocMod);
      return int32(kCellChangedLayout);
    case kTablePopupEmpty: {
      UHandle* array = TableValue(heap, table);
      const TypeDescriptor* td = array ? ValueTD(heap, table) : nullptr;
      if (td) ReclaimDataMemory(td, array, array + 1);
      if (TableState* st = TableStateOf(heap, table)) st->topRow = st->leftColumn = 0;
      return 8;
    }
    case kTablePopupSelScrolling:
      ctrl::SetFlags(heap, table, flags ^ kTableFlagSelScrolling);
      VIDocMod(PanelHeapOwner(heap), nullptr, kTableDocMod);
      return int32(kCellChangedLayout);
    default: return 0;
  }
}

void ControlsJoinTableSlots() {
  ObjJoinSlot(kMsgODraw, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableODrawMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODisplayVal, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableoDisplayValMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOGetDataPtr, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableOGetDataPtrMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOPopup, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableOPopupMethod) : ObjMethodAddr(nullptr);
  });
}
