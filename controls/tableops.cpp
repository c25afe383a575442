// Working a table: hit tests, the selection, the edit text over the edit
// cell, the click, tracking, scroll bars, index displays and keys.
#include "controls/tableops.h"

#include <algorithm>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/methsupport.h"
#include "panel/objdraw.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"
#include "engine/vi/virecord.h"
#include "mgsource/window/window.h"
#include "panel/oinval.h"
#include "panel/operate.h"

using ctrl::BoundsOf;
using ctrl::Flags;
using ctrl::Has;
using ctrl::PartOf;

namespace {

constexpr char kSource[] = "tableops.cpp";
constexpr int32 kTextRecordWord = 9;
constexpr int32 kLevelPart = 0, kLevelTarget = 2;
constexpr int32 kModShift = 0x2, kModEndTracking = 0x100;
constexpr int32 kClickKindLineCursor = 5;
constexpr int32 kReplyShow = 0x10000;
constexpr uInt32 kOwnerOperating = 0x80000;  // the owning VI's mode bit: clicks act while disabled
constexpr uInt32 kTableFlagSelecting = 0x200;
constexpr int32 kEditMode = 0x2 | 0x400, kEditFontMask = 141;
constexpr uInt32 kColourRequestBack = 0x200;
constexpr int32 kMaxCount = 0x7FFFFFFF;
// The walk's state bits: on the header, lines are zones of their own, on a line.
constexpr int32 kOnHeader = 0x1, kLinesCount = 0x2, kOnLine = 0x4;
constexpr int32 kBoundary[8] = {2, 4, 0, 1, 0, 0, 1, 0};
constexpr int32 kNextZone[8] = {3, 5, 1, 1, 3, 5, 1, 1};

bool IsTable(ObjHeap heap, int32 table) { return Has(heap, table, 76) && ObjClass(heap, table) == kClsTable; }
int32 Word(ObjHeap heap, int32 table, int32 word) { return ctrl::WordOr0(heap, table, word); }
void SetWord(ObjHeap heap, int32 table, int32 word, int32 v) {
  if (Has(heap, table, 4 * (word + 1))) ObjSetWord(heap, table, word, v);
}
int32 CellArea(ObjHeap heap, int32 table) { return PartOf(heap, table, kTablePartCells); }
bool ColumnHeaders(ObjHeap heap, int32 table) { return Flags(heap, table) & kTableFlagColumnHeaders; }
bool RowHeaders(ObjHeap heap, int32 table) { return Flags(heap, table) & kTableFlagRowHeaders; }
int32 Pin(int64 v, int32 lo = 0) { return int32(std::clamp<int64>(v, lo, kMaxCount)); }
Point PointOfWord(int32 w) {
  Point p;
  std::memcpy(&p, &w, sizeof p);
  return p;
}
bool Inside(Point p, const Rect& r) { return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right; }

// The edit text's part and record, null without them.
int32 EditPart(ObjHeap heap, int32 table) {
  const int32 part = Word(heap, table, kTableEditPartWord);
  return Has(heap, part, 4 * (kTextRecordWord + 1)) ? part : 0;
}
TRecord EditText(ObjHeap heap, int32 table) {
  const int32 part = EditPart(heap, table);
  return part ? TCheckedRecord(uInt32(ObjWord(heap, part, kTextRecordWord))) : nullptr;
}
bool HoldsFocus(ObjHeap heap, int32 table) { return int32(ctrl::Ext(heap, kHeapExtKeyFocus)) == table; }
bool FocusPart(ObjHeap heap) { return ctrl::Ext(heap, kHeapExtFocusText) != 0; }
WindowRef PanelWindow(ObjHeap heap) { return WindowRef(ctrl::Ext(heap, kHeapExtWindow)); }

int32 Origin(const TableState& st, bool vertical) { return TableOrigin(vertical ? st.topRow : st.leftColumn); }
int32 Visible(const TableState& st, bool vertical) { return TableVisible(vertical ? st.visibleRows : st.visibleColumns); }
int32 Size(ObjHeap heap, int32 table, bool vertical, int32 i) {
  return vertical ? TableRowHeight(heap, table, i) : TableColumnWidth(heap, table, i);
}

// One direction of the hit test: from the area's edge through the header
// and the lines from the origin, cell zone, line zone, cell zone ... until
// the boundary lies past the coordinate.
struct AxisHit {
  int32 index;
  bool onLine, headerLine;
  int32 lo, hi;  // the zone, hi exclusive
};
AxisHit WalkAxis(ObjHeap heap, int32 table, const TableState& st, bool vertical, int32 coord, int32 edge, int32 far,
                 int32 mode, bool showSel) {
  const bool headers = vertical ? ColumnHeaders(heap, table) : RowHeaders(heap, table);
  const int32 origin = Origin(st, vertical);
  int32 state = headers ? kOnHeader : 0;
  if (mode == kTableHitLines || (mode == kTableHitHeaderLines && headers && showSel)) state |= kLinesCount;
  int32 index = headers ? -1 : origin;
  int32 lo = edge + 1, hi = edge + Size(heap, table, vertical, index) - 1;
  // Every step moves the zone on by at least one pixel: the walk ends at
  // the area's far edge.
  while (lo < far) {
    int32 boundary = hi + kBoundary[state];
    if (boundary == far - 1) boundary = far;
    if (coord < boundary) break;
    const int32 before = state;
    const int32 start = hi + kNextZone[before];
    if (state & kLinesCount) state ^= kOnLine;
    if ((state & kLinesCount) && (state & kOnLine)) {
      lo = start, hi = start + ((state & kOnHeader) ? 3 : 1);
      continue;
    }
    // Leaving a cell (or the line after it): the next line.
    if (index == kMaxCount) break;
    index = index == -1 ? origin : index + 1;
    state &= ~kOnHeader;
    if (mode == kTableHitHeaderLines) state &= ~kLinesCount;
    lo = start, hi = start + Size(heap, table, vertical, index) - 2;
  }
  return {index, (state & kOnLine) != 0, (state & (kOnLine | kOnHeader)) == (kOnLine | kOnHeader), lo, hi};
}

Rect Cut(Rect r, const Rect& a) {
  auto pin = [](int32 v, int32 lo, int32 hi) { return int16(std::clamp(v, lo, hi)); };
  return Rect{pin(r.top, a.top, a.bottom), pin(r.left, a.left, a.right), pin(r.bottom, a.top, a.bottom),
              pin(r.right, a.left, a.right)};
}
Rect MakeRect(int32 t, int32 l, int32 b, int32 r) {
  auto pin = [](int32 v) { return int16(std::clamp(v, -32768, 32767)); };
  return Rect{pin(t), pin(l), pin(b), pin(r)};
}

// The value the owner holds, null without one.
UHandle* ValueOf(ObjHeap heap, int32 table) { return TableValue(heap, table); }
void ValueCounts(ObjHeap heap, int32 table, int32* rows, int32* columns) {
  *rows = *columns = 0;
  if (UHandle* v = ValueOf(heap, table)) TableValueSize(*v, rows, columns);
}

// The normalised selection of the state.
void SelectionOf(const TableState& st, int32 s[4]) {
  s[0] = st.selRow1, s[1] = st.selColumn1, s[2] = st.selRow2, s[3] = st.selColumn2;
}

// Shows the value again (its reply).
int32 DisplayValue(ObjHeap heap, int32 table) {
  UHandle* v = ValueOf(heap, table);
  return v ? oDisplayVal(heap, table, 0, v) : 0;
}

// The cell area drawn again at once, or invalidated when it is drawn only
// by updates.
void RedrawCells(ObjHeap heap, int32 table) {
  const int32 area = CellArea(heap, table);
  if (!area) return;
  if ((Flags(heap, area) & kTablePartNoDrawInPlace) || !PanelWindow(heap)) {
    OInval(heap, area, kInvalAll);
    return;
  }
  WPortState saved{};
  WSetup(PanelWindow(heap), &saved);
  TableDraw(heap, table, nullptr, ValueOf(heap, table), kTableDrawAll, kDrawModeNormal);
  WRestore(&saved);
}

// The index display of a direction shown again (or invalidated).
void ShowIndexDisplay(ObjHeap heap, int32 table, bool vertical) {
  const int32 display = PartOf(heap, table, kTablePartIndex, vertical ? 1 : 0);
  const TableState* st = TableStateOf(heap, table);
  if (!display || !st) return;
  if (Flags(heap, display) & kTablePartNoDrawInPlace) {
    OInval(heap, display, kInvalAll);
    return;
  }
  const int32 origin = vertical ? st->topRow : st->leftColumn;
  oDisplayVal(heap, display, 0, &origin);
}

// Redraws one cell's text from the value, or paints it in the area's
// background when it has no string.
void RedrawCell(ObjHeap heap, int32 table, int32 row, int32 column) {
  Rect text;
  if (TableCellRect(heap, table, row, column, &text) & kTableCellHidden) return;
  if (!PanelWindow(heap)) {
    const Rect cell = TableCellFrame(text);
    InvalPanelRect(heap, &cell);
    return;
  }
  WPortState saved{};
  WSetup(PanelWindow(heap), &saved);
  SetWord(heap, table, kTableCurRowWord, row);
  SetWord(heap, table, kTableCurColumnWord, column);
  UHandle* slot = TableCellPtr(heap, table, ValueOf(heap, table), 0);
  if (slot && ctrl::CheckedLStr(*slot)) {
    TableDrawCellAt(heap, table, row, column, text);
  } else {
    const DColor back = TableAreaBack(heap, table);
    const Rect cell = TableCellFrame(text);
    DSelectNormPen(back == kTransparentColor ? ctrl::kWhite : back, ctrl::kWhite);
    DPaintRect(&cell);
  }
  WRestore(&saved);
}

}  // namespace

// ---- Hit test ------------------------------------------------------------------------------------

int32 TableHitTest(ObjHeap heap, int32 table, Point point, Rect* rect, int32* row, int32* column, int32 mode) {
  *rect = Rect{0, 0, 0, 0};
  *row = *column = 0;
  const int32 area = CellArea(heap, table);
  const TableState* st = TableStateOf(heap, table);
  if (!area || !st) return kTableHitCell;
  const TableState s = *st;
  const Rect a = BoundsOf(heap, area);
  const bool showSel = Flags(heap, table) & kTableFlagShowSelection;
  const AxisHit h = WalkAxis(heap, table, s, false, point.h, a.left, a.right, mode, showSel);
  const AxisHit v = WalkAxis(heap, table, s, true, point.v, a.top, a.bottom, mode, showSel);
  *row = v.index, *column = h.index;
  const int32 headerWidth = TableColumnWidth(heap, table, kTableHeader);
  const int32 headerHeight = TableRowHeight(heap, table, kTableHeader);
  if (mode != kTableHitLines && h.index == -1 && v.index == -1) {
    *rect = Cut(MakeRect(a.top, a.left, a.top + headerHeight + 3, a.left + headerWidth + 3), a);
    return kTableHitCell;
  }
  int32 hit = kTableHitCell;
  Rect r = MakeRect(v.lo, h.lo, v.hi, h.hi);
  if (h.onLine) {
    hit = h.headerLine ? kTableHitRowHeaderLine : kTableHitVLine;
    r = MakeRect(a.top, h.lo, a.bottom, h.hi);
    if (hit == kTableHitRowHeaderLine && ColumnHeaders(heap, table)) r.top = int16(std::min<int32>(a.top + headerHeight + 3, 32767));
  } else if (v.onLine) {
    hit = v.headerLine ? kTableHitColumnHeaderLine : kTableHitHLine;
    r = MakeRect(v.lo, a.left, v.hi, a.right);
    if (hit == kTableHitColumnHeaderLine && RowHeaders(heap, table)) r.left = int16(std::min<int32>(a.left + headerWidth + 3, 32767));
  }
  *rect = Cut(r, a);
  return hit;
}

// ---- Selection -----------------------------------------------------------------------------------

int32 TableSetSelection(ObjHeap heap, int32 table, const int32 selection[4], Bool32 noDraw, Bool32 defer) {
  TableState* st = TableStateOf(heap, table);
  if (!st) return 0;
  const int32 now[4] = {std::max(selection[0], 0), std::max(selection[1], 0), std::max(selection[2], 0),
                        std::max(selection[3], 0)};
  int32 old[4];
  SelectionOf(*st, old);
  if (std::equal(now, now + 4, old)) return 0;
  const uInt32 flags = Flags(heap, table);
  const int32 area = CellArea(heap, table);
  if ((flags & kTableFlagShowSelection) && !noDraw && !(flags & kTableFlagHidden) && area) {
    if ((Flags(heap, area) & kTablePartNoDrawInPlace) || defer || (flags & kTableFlagGreyed) || !PanelWindow(heap)) {
      OInval(heap, area, kInvalAll);
    } else {
      WPortState saved{};
      WSetup(PanelWindow(heap), &saved);
      const Rect clipBefore = gDrawState.clipRect;
      const Rect a = BoundsOf(heap, area);
      DSetClipRect(&a);
      TableLines rows, columns;
      TableShownLines(heap, table, 1, &rows);
      TableShownLines(heap, table, 0, &columns);
      const DColor back = TableAreaBack(heap, table);
      st = TableStateOf(heap, table);
      const DColor selColour = st ? TableCleanColour(st->selColor) : 0;
      for (size_t kr = 0; kr < rows.index.size(); ++kr) {
        if (rows.index[kr] < 0) continue;
        for (size_t kc = 0; kc < columns.index.size(); ++kc) {
          if (columns.index[kc] < 0) continue;
          const int32 r = rows.index[kr], c = columns.index[kc];
          const int32 was = TableSelKind(r, c, old), will = TableSelKind(r, c, now);
          if (was == will) continue;
          const Rect cell = TableCellFrame(MakeRect(rows.first[kr], columns.first[kc], rows.last[kr], columns.last[kc]));
          if (!(will == 4 || (will && !was))) {
            DSelectNormPen(back == kTransparentColor ? ctrl::kWhite : back, ctrl::kWhite);
            TableDrawSelMark(&cell, was);
          }
          if (will) {
            DSelectNormPen(selColour, ctrl::kBlack);
            TableDrawSelMark(&cell, will);
          }
        }
      }
      DSetClipRect(&clipBefore);
      WRestore(&saved);
    }
  }
  if ((st = TableStateOf(heap, table))) st->selRow1 = now[0], st->selColumn1 = now[1], st->selRow2 = now[2], st->selColumn2 = now[3];
  return kReplyShow;
}

// ---- The edit text -------------------------------------------------------------------------------

void TablePrepareEdit(ObjHeap heap, int32 table, int32 row, int32 column, const Rect* rect, Bool32 drawNow) {
  SetWord(heap, table, kTableEditRowWord, row);
  SetWord(heap, table, kTableEditColumnWord, column);
  SetWord(heap, table, kTableCurRowWord, row);
  SetWord(heap, table, kTableCurColumnWord, column);
  const int32 part = EditPart(heap, table);
  const TRecord text = EditText(heap, table);
  TableState* st = TableStateOf(heap, table);
  if (!part || !text || !st) return;
  // The cell's string, or the empty string shown outside the array.
  UHandle* slot = TableCellPtr(heap, table, ValueOf(heap, table), 0);
  const LStr* s = slot ? ctrl::CheckedLStr(*slot) : nullptr;
  if (!slot && (st = TableStateOf(heap, table))) s = ctrl::CheckedLStr(st->valueFill);
  WPortState saved{};
  const bool port = drawNow && PanelWindow(heap);
  if (port) WSetup(PanelWindow(heap), &saved);
  Rect cell{0, 0, 0, 0};
  if (rect) cell = *rect;
  else TableCellRect(heap, table, row, column, &cell);
  const Rect outer = TableCellFrame(cell);
  OSize(heap, part, &outer, 0);
  Rect view;
  LRect dest;
  TGetRect(text, &view, &dest);
  if (std::memcmp(&view, &cell, sizeof view) != 0) TSetRect(text, &cell);
  // A copy: the replacement may move the blocks.
  std::vector<uChar> bytes;
  if (s) bytes.assign(s->str, s->str + s->cnt);
  TReplaceText(text, bytes.data(), int32(bytes.size()));
  TSelectText(text, 0, kMaxCount);
  OInval(heap, part, kInvalAll);
  TableCellFontRec look = kTableDefaultLook;
  look.row = row, look.column = column;
  TableCellFontLookup(heap, table, &look);
  DColor colours[4];
  TableCellColors(heap, table, &look, kDrawModeNormal, colours);
  TSetColors(text, &colours[0], &colours[1], 0);
  const uInt32 mode = (TGetMode(text) & kTRModeInvalOnDeactivate) | (uInt32(look.format) & 0x4030) | kEditMode;
  TSetMode(text, mode, 0);
  TSetFont(text, look.font, kEditFontMask, 0);
  if (port) WRestore(&saved);
}

void TableActivateEdit(ObjHeap heap, int32 table, const Rect* rect, const int32* range) {
  TablePrepareEdit(heap, table, Word(heap, table, kTableEditRowWord), Word(heap, table, kTableEditColumnWord), rect, 1);
  const TRecord text = EditText(heap, table);
  if (!text) return;
  TSelectText(text, range ? range[0] : 0, range ? range[1] : kMaxCount);
  if (PanelWindow(heap)) {
    WPortState saved{};
    WSetup(PanelWindow(heap), &saved);
    TActivate(text, 1);
    WRestore(&saved);
  }
  FPKeyFocusUpdate(heap, table, 1, text);
}

int32 TableCommitEdit(ObjHeap heap, int32 table, Bool32 force) {
  const int32 row = Word(heap, table, kTableEditRowWord), column = Word(heap, table, kTableEditColumnWord);
  SetWord(heap, table, kTableCurRowWord, row);
  SetWord(heap, table, kTableCurColumnWord, column);
  const int32 part = EditPart(heap, table);
  const TRecord text = EditText(heap, table);
  if (!part || !text || !TableStateOf(heap, table)) return 0;
  const bool header = row == -1 || column == -1;
  if (!force && !(Flags(heap, part) & kObjFlagTextPending)) {
    RedrawCell(heap, table, row, column);
    return 0;
  }
  ctrl::SetFlags(heap, part, Flags(heap, part) & ~kObjFlagTextPending);
  UHandle* value = ValueOf(heap, table);
  const UHandle typed = TGetText(text);
  const int32 length = typed && *typed ? std::min<int32>(int32(GetNative32(*typed)), DSGetHandleSize(typed) - 4) : 0;
  int32 reply = 0;
  SetWord(heap, table, kTableCurRowWord, row);
  SetWord(heap, table, kTableCurColumnWord, column);
  UHandle* slot = TableCellPtr(heap, table, value, length > 0);
  if (!slot) {
    // An empty text outside the array leaves the array as it was.
    if (length > 0) reply |= ctrl::kReplyFailed;
  } else {
    const LStr* now = ctrl::CheckedLStr(*slot);
    const int32 nowLength = now ? now->cnt : 0;
    const bool differs = nowLength != length ||
                         (length && std::memcmp(now->str, *TGetText(text) + 4, size_t(length)) != 0);
    if (differs) {
      UHandle s = *slot;
      bool stored = false;
      if (s && now) {
        stored = DSSetHandleSize(s, length + 4) == kNoErr;
      } else if ((s = DSNewHandle(length + 4))) {
        // The slot may have moved with the allocation.
        SetWord(heap, table, kTableCurRowWord, row);
        SetWord(heap, table, kTableCurColumnWord, column);
        if ((slot = TableCellPtr(heap, table, ValueOf(heap, table), 0))) *slot = s, stored = true;
        else DSDisposeHandle(s);
      }
      if (stored) {
        PutNative32(*s, uInt32(length));
        if (length) std::memcpy(*s + 4, *TGetText(text) + 4, size_t(length));
        reply |= header ? kReplyShow : kReplyChanged;
      } else {
        // Memory is short: the cell keeps its old text.
        reply |= ctrl::kReplyFailed;
      }
    }
  }
  RedrawCell(heap, table, row, column);
  if (Flags(heap, table) & kTableFlagGrown) {
    ctrl::SetFlags(heap, table, Flags(heap, table) & ~kTableFlagGrown);
    reply |= DisplayValue(heap, table);
  }
  return reply;
}

// ---- Scrolling to the edit cell -----------------------------------------------------------------

namespace {
// The new origin of one direction, or the old one.
int32 FollowEdit(ObjHeap heap, int32 table, bool vertical, int32 edit, int32 origin, int32 visible, bool cut,
                 bool noScroll, int32 areaSize) {
  if (edit < 0) return origin;
  if (!noScroll && edit >= origin && (int64(edit) >= int64(origin) + visible || cut)) {
    const bool headers = vertical ? ColumnHeaders(heap, table) : RowHeaders(heap, table);
    const int32 limit = areaSize - (headers ? Size(heap, table, vertical, kTableHeader) + 3 : 0);
    int64 sum = Size(heap, table, vertical, edit) - 1;
    if (sum >= limit) return edit;
    // Each line adds at least 3 pixels: the walk ends within the area.
    for (int32 r = edit - 1; r >= 0; --r) {
      sum += Size(heap, table, vertical, r) + 1;
      if (sum >= limit) return r + 1;
    }
    return 0;
  }
  if (edit < origin || noScroll) return edit;
  return origin;
}
}  // namespace

int32 TableScrollToEditCell(ObjHeap heap, int32 table, Bool32 noScroll) {
  TableState* st = TableStateOf(heap, table);
  const int32 area = CellArea(heap, table);
  if (!st || !area) return 0;
  const int32 row = Word(heap, table, kTableEditRowWord), column = Word(heap, table, kTableEditColumnWord);
  const int32 top = Origin(*st, true), left = Origin(*st, false);
  if (row == top && column == left) return 0;
  Rect r;
  const int32 flags = TableCellRect(heap, table, row, column, &r);
  if (flags == 0) return 0;
  const Rect a = BoundsOf(heap, area);
  const int32 newTop = FollowEdit(heap, table, true, row, top, Visible(*st, true), flags & kTableCellCutBottom, noScroll,
                                  a.bottom - a.top);
  const int32 newLeft = FollowEdit(heap, table, false, column, left, Visible(*st, false), flags & kTableCellCutRight,
                                   noScroll, a.right - a.left);
  if (!(st = TableStateOf(heap, table))) return 0;
  const bool moved = newTop != st->topRow || newLeft != st->leftColumn;
  st->topRow = TableOrigin(newTop), st->leftColumn = TableOrigin(newLeft);
  return moved ? 1 : 0;
}

int32 TableScrollStep(int32 result, int32 origin, int32 visible) {
  int64 now = origin;
  if (result < 0) now = result & 0x3FFFFFFF;
  else if (result == 2 || result == 4) now = int64(origin) - 1;
  else if (result == 3 || result == 5) now = int64(origin) + 1;
  else if (result == 6 || result == 8) now = int64(origin) - (int64(visible) + 1);
  else if (result == 7 || result == 9) now = int64(origin) + visible - 1;
  return TableOrigin(Pin(now));
}

// ---- Keys ------------------------------------------------------------------------------------------

namespace {
bool FocusKey(int32 code) { return code == kKeyTab || code == kKeyShiftTab || code == kKeyReadBack || code == 43; }
bool IsReturn(const ActionParams* p) { return p->keyCode == vkAscii && p->character == 10; }

// The visible block: the shown data rows and columns less a cut last one.
struct Block {
  int32 top, bottom, left, right;  // inclusive
};
Block VisibleBlock(ObjHeap heap, int32 table, const TableState& st) {
  const int32 top = Origin(st, true), left = Origin(st, false);
  Block b{top, int32(std::min<int64>(int64(top) + std::max(Visible(st, true), 1) - 1, kMaxCount)), left,
          int32(std::min<int64>(int64(left) + std::max(Visible(st, false), 1) - 1, kMaxCount))};
  Rect r;
  if (b.bottom > b.top && (TableCellRect(heap, table, b.bottom, b.left, &r) & kTableCellCutBottom)) --b.bottom;
  if (b.right > b.left && (TableCellRect(heap, table, b.top, b.right, &r) & kTableCellCutRight)) --b.right;
  return b;
}

// Gives the focus to an index display: action 15 with Tab and its whole
// text selected.
int32 FocusDisplay(ObjHeap heap, int32 table, int32 order, TransactionFrame* frame, ActionParams* p) {
  ActionParams q = *p;
  q.eventCode = kSubKeyDown;
  q.keyCode = kKeyTab;
  q.modifiers = 0;
  q.selStart = 0, q.selEnd = kMaxCount;
  return FocusPartByOrder(heap, table, kTablePartIndex, order, frame, &q);
}
}  // namespace

int32 TableKey(ObjHeap heap, int32 table, int32 reply, int32 flags, TransactionFrame* frame, ActionParams* p) {
  if (!IsTable(heap, table) || !p || !TableStateOf(heap, table)) return reply & ~kReplyPassFocus;
  const int32 focus = int32(ctrl::Ext(heap, kHeapExtKeyFocus));
  const int32 rowDisplay = PartOf(heap, table, kTablePartIndex, 1), columnDisplay = PartOf(heap, table, kTablePartIndex, 0);
  if (focus != table) {
    if (!focus || ObjWord(heap, focus, kObjOwner / 4) != table) DBAssert(kSource, __LINE__, "the key focus is one of the table's parts");
  } else if (const TRecord text = EditText(heap, table)) {
    if (PanelWindow(heap)) {
      WPortState saved{};
      WSetup(PanelWindow(heap), &saved);
      TDeactivate(text, 1);
      WRestore(&saved);
    }
    if (uInt32(uintptr_t(text)) == ctrl::Ext(heap, kHeapExtFocusText)) reply |= TableCommitEdit(heap, table, 0);
  }
  TableState* st = TableStateOf(heap, table);
  if (!st) return reply & ~kReplyPassFocus;
  const Block block = VisibleBlock(heap, table, *st);
  const int32 code = p->keyCode;
  const bool ctrlDown = code == kKeyCtrlDown && !(flags & kTableKeyFocusPart);
  const bool focusKey = FocusKey(code);
  int32 row = Word(heap, table, kTableEditRowWord), column = Word(heap, table, kTableEditColumnWord);
  const bool displays = rowDisplay && columnDisplay && !ctrl::Hidden(heap, rowDisplay) && !ctrl::Hidden(heap, columnDisplay);
  bool displayTook = false;
  if (displays && (focusKey || ctrlDown)) {
    int32 to = -1;  // the display that takes the focus (its order)
    if (focus == rowDisplay) {
      if (code == kKeyShiftTab) row = block.bottom, column = block.right == kMaxCount ? block.right : block.right + 1;
      else to = 0;
    } else if (focus == columnDisplay) {
      if (code == kKeyShiftTab) to = 1;
      else row = block.top, column = block.left - 1;
    } else if (code == kKeyShiftTab && row == block.top && column == block.left) {
      to = 0;
    } else if (code == kKeyTab && row == block.bottom && column == block.right) {
      to = 1;
    } else if (ctrlDown) {
      to = 1;
    }
    if (to >= 0) {
      FocusDisplay(heap, table, to, frame, p);
      return reply & ~kReplyPassFocus;
    }
  }
  const bool columnHeaders = ColumnHeaders(heap, table), rowHeaders = RowHeaders(heap, table);
  int32 sel[4];
  SelectionOf(*st, sel);
  const int32 r1 = std::min(sel[0], sel[2]), r2 = std::max(sel[0], sel[2]);
  const int32 c1 = std::min(sel[1], sel[3]), c2 = std::max(sel[1], sel[3]);
  const bool inSelection = int64(r2 - int64(r1)) * (int64(c2) - c1) > 1 && row >= r1 && row < r2 && column >= c1 && column < c2;
  auto up = [](int32 v) { return v == kMaxCount ? v : v + 1; };
  if (ctrlDown) {
    row = block.top, column = block.left;
  } else if (code == vkUp) {
    if (row > 0) --row;
    else if (row == 0 && columnHeaders && column >= 0) row = -1;
  } else if (code == vkDown) {
    row = row == -1 ? block.top : up(row);
  } else if (code == vkLeft) {
    if (column > 0) --column;
    else if (column == 0 && rowHeaders && row >= 0) column = -1;
  } else if (code == vkRight) {
    column = column == -1 ? block.left : up(column);
  } else if (IsReturn(p)) {
    if (row == -1) {
      column = up(column);
    } else if (inSelection) {
      if (++row >= r2) {
        row = r1;
        if (++column >= c2) column = c1;
      }
    } else {
      row = up(row);
    }
  } else if (code == kKeyTab) {
    if (column < block.left) column = block.left;
    else if (column >= block.right) column = block.left, row = row >= block.bottom || row < block.top ? block.top : row + 1;
    else ++column;
  } else if (code == kKeyShiftTab) {
    if (column > block.right) column = block.right;
    else if (column <= block.left) column = block.right, row = row <= block.top || row > block.bottom ? block.bottom : row - 1;
    else --column;
  }
  // The corner is never edited.
  if (row == -1 && column == -1) column = rowHeaders ? 0 : std::max(block.left, 0);
  row = std::max(row, columnHeaders ? -1 : 0), column = std::max(column, rowHeaders ? -1 : 0);
  SetWord(heap, table, kTableEditRowWord, row);
  SetWord(heap, table, kTableEditColumnWord, column);
  if (TableScrollToEditCell(heap, table, 0)) reply |= DisplayValue(heap, table) | kReplyShow;
  if (focusKey) {
    ctrl::SetFlags(heap, table, Flags(heap, table) | kTableFlagFocus);
    if (!displayTook) OInval(heap, table, kInvalFrame);
    if (frame) frame->mode = kLevelTarget;
    reply |= kActionTracking;
  }
  TableActivateEdit(heap, table, nullptr, nullptr);
  return reply & ~kReplyPassFocus;
}

// ---- Click --------------------------------------------------------------------------------------

namespace {
// The selection an insertion line before a row (or column) takes: the line
// over all columns (rows).
void InsertionLine(int32 row, int32 column, int32 rows, int32 columns, int32 s[4]) {
  if (row >= 0) s[0] = s[2] = row, s[1] = 0, s[3] = columns;
  else s[1] = s[3] = column, s[0] = 0, s[2] = rows;
}
int32 SelectFlags(ObjHeap heap, int32 table) {
  return kTableTrackSelect | ((Flags(heap, table) & kTableFlagSelScrolling) ? kTableTrackScroll : 0);
}
void EndAtTable(TransactionFrame* frame, int32 table) {
  *frame = TransactionFrame{table, uInt32(kCatDDO), kLevelTarget, 0};
  frame[1].kind = 0;
}
}  // namespace

int32 TableOClickMethod(ObjHeap heap, int32 table, TransactionState* click, TransactionFrame* frame, ActionParams* p) {
  const int32 generic = DDOOClickMethod(heap, table, click, frame, p);
  if (!generic || !IsTable(heap, table) || !click || !p) return generic;
  const UHandle vi = PanelHeapOwner(heap);
  const uInt32 ownerMode = vi && *vi ? VIRec(vi)->flags2 : 0;
  if (!(ownerMode & kOwnerOperating) && (Flags(heap, table) & (kTableFlagGreyed | kTableFlagSelecting))) return kClickAbsorbed;
  const bool value = TableValue(heap, table) != nullptr &&
                     OGetDataPtr(heap, Word(heap, table, kObjOwner / 4), table, kDataPtrOperate, nullptr) != 0;
  const int32 kind = click->mode;
  const Point point = PointOfWord(click->point);
  const int32 part = p->partId;
  TableTrackWords* t = TableTrackOf(p);
  const bool showSel = Flags(heap, table) & kTableFlagShowSelection;
  int32 rows, columns;
  ValueCounts(heap, table, &rows, &columns);
  if (part == kTablePartCells) {
    Rect hitRect;
    int32 row, column;
    const int32 hit = TableHitTest(heap, table, point, &hitRect, &row, &column,
                                   kind == kClickPress || kind == kClickCursor ? kTableHitHeaderLines : kTableHitLines);
    if (generic != kClickCursorAnswer || !value) {
      if ((kind != kClickPress && kind != kClickLabelPress) || !value) return value ? generic : kClickAbsorbed;
      EndAtTable(frame, table);
      if (hit == kTableHitRowHeaderLine || hit == kTableHitColumnHeaderLine) {
        int32 s[4];
        InsertionLine(row, column, rows, columns, s);
        TableSetSelection(heap, table, s, 0, 0);
        p->dragObject = table;
        t->anchorRow = row, t->anchorColumn = column;
        t->flags = SelectFlags(heap, table);
      } else if (hit == kTableHitVLine || hit == kTableHitHLine) {
        return generic;
      } else if (row == -1 && column == -1) {
        if (kind != kClickPress) return generic;
        if (showSel) {
          const int32 all[4] = {0, 0, rows, columns};
          TableSetSelection(heap, table, all, 0, 0);
        }
        return kClickAbsorbed;
      } else {
        // The point pinned into the cell.
        Point pinned = point;
        pinned.v = int16(std::clamp<int32>(pinned.v, hitRect.top, std::max<int32>(hitRect.top, hitRect.bottom - 1)));
        pinned.h = int16(std::clamp<int32>(pinned.h, hitRect.left, std::max<int32>(hitRect.left, hitRect.right - 1)));
        p->point = pinned;
        p->dragObject = table;
        if (row >= 0 && column >= 0 && kind != kClickLabelPress) {
          t->anchorRow = row, t->anchorColumn = column;
          t->flags = kTableTrackEdit | SelectFlags(heap, table);
        } else {
          t->flags = kTableTrackEdit;
        }
      }
      return kClickTrack;
    }
    CursorAnswer* c = CursorOf(p);
    if (!(Flags(heap, CellArea(heap, table)) & kTablePartNoDrawInPlace)) c->rect = hitRect;
    if (kind == kClickKindLineCursor) {
      if (hit == kTableHitVLine || hit == kTableHitRowHeaderLine) c->cursor = kTableCursorVLine;
      else if (hit == kTableHitHLine || hit == kTableHitColumnHeaderLine) c->cursor = kTableCursorHLine;
    } else if (kind == kClickCursor) {
      if (row == -1 && column == -1 && hit == kTableHitCell) c->cursor = showSel ? int32(kTableCursorCorner) : int32(kCursorStandard);
      else if (hit == kTableHitCell) c->cursor = kTableCursorCell;
      else if (hit == kTableHitRowHeaderLine) c->cursor = kTableCursorRowSep;
      else if (hit == kTableHitColumnHeaderLine) c->cursor = kTableCursorColumnSep;
    }
    return generic;
  }
  if ((part == kTablePartHBar || part == kTablePartVBar) && generic == kClickTrack && value) {
    int32 origin;
    TableScrollNumbers(heap, table, TableValue(heap, table), part == kTablePartVBar, &origin, &t->visible, &t->total);
    return generic;
  }
  if (part == kTablePartFrame && value && showSel && (kind == kClickPress || kind == kClickCursor)) {
    const int32 area = CellArea(heap, table);
    const TableState* st = TableStateOf(heap, table);
    if (!area || !st) return generic;
    const Rect a = BoundsOf(heap, area);
    int32 zone = 0;
    if (point.v < a.top && point.h < a.left) zone = 3;
    else if (point.v < a.top) zone = 1;
    else if (point.h < a.left) zone = 2;
    Rect unused;
    int32 row, column;
    TableHitTest(heap, table, point, &unused, &row, &column, kTableHitLines);
    st = TableStateOf(heap, table);
    if (!st) return generic;
    if (zone == 1) {
      if (int64(column) >= int64(Origin(*st, false)) + Visible(*st, false)) zone = 0;
      else if (column < Origin(*st, false) && column != 0) zone = 3;
    } else if (zone == 2) {
      if (int64(row) >= int64(Origin(*st, true)) + Visible(*st, true)) zone = 0;
      else if (row < Origin(*st, true) && row != 0) zone = 3;
    }
    if (!zone) return generic;
    if (generic == kClickCursorAnswer) {
      CursorOf(p)->cursor = kTableCursorHLine + zone;
      return generic;
    }
    int32 s[4];
    if (zone == 3) s[0] = 0, s[1] = 0, s[2] = rows, s[3] = columns;
    else InsertionLine(zone == 2 ? row : -1, zone == 1 ? column : -1, rows, columns, s);
    TableSetSelection(heap, table, s, 0, 0);
    EndAtTable(frame, table);
    p->dragObject = table;
    t->anchorRow = zone == 2 ? row : -1;
    t->anchorColumn = zone == 1 ? column : -1;
    t->flags = SelectFlags(heap, table);
    return zone == 3 ? kClickAbsorbed : kClickTrack;
  }
  return generic;
}

// ---- Do-it --------------------------------------------------------------------------------------

namespace {

// The span [lo, hi) of one direction of a drag.
void DragSpan(int32 anchor, int32 hit, int32* lo, int32* hi) {
  *lo = std::min(anchor, hit);
  *hi = Pin(int64(std::max(anchor, hit)) + 1);
}

int32 Track(ObjHeap heap, int32 table, ActionParams* p) {
  TableTrackWords* t = TableTrackOf(p);
  const int32 area = CellArea(heap, table);
  TableState* st = TableStateOf(heap, table);
  if (!area || !st) return 0;
  int32 reply = 0;
  const int32 event = p->eventCode;
  Point point = PointOfWord(p->localPoint);
  const Rect a = BoundsOf(heap, area);
  if ((t->flags & kTableTrackScroll) && !Inside(point, a) && a.bottom > a.top && a.right > a.left) {
    const int32 top = st->topRow, left = st->leftColumn;
    if (point.v >= a.bottom) st->topRow = TableOrigin(Pin(int64(TableOrigin(top)) + 1)), point.v = int16(a.bottom - 1);
    else if (point.v < a.top) st->topRow = TableOrigin(top) > 0 ? TableOrigin(top) - 1 : 0, point.v = a.top;
    if (point.h >= a.right) st->leftColumn = TableOrigin(Pin(int64(TableOrigin(left)) + 1)), point.h = int16(a.right - 1);
    else if (point.h < a.left) st->leftColumn = TableOrigin(left) > 0 ? TableOrigin(left) - 1 : 0, point.h = a.left;
    if (st->topRow != top || st->leftColumn != left) {
      if (ctrl::Ext(heap, kHeapExtKeyFocus)) FPCommitKeyFocus(heap);
      reply |= DisplayValue(heap, table);
    }
  }
  Rect hitRect;
  int32 row, column;
  TableHitTest(heap, table, point, &hitRect, &row, &column, kTableHitNoLines);
  if (!(st = TableStateOf(heap, table))) return 0;
  int32 s[4];
  SelectionOf(*st, s);
  if (event == kSubPress) {
    // The corner is never edited.
    if ((t->flags & kTableTrackEdit) && !(row == -1 && column == -1)) {
      if (Word(heap, table, kTableEditRowWord) != row || Word(heap, table, kTableEditColumnWord) != column ||
          !HoldsFocus(heap, table)) {
        if (HoldsFocus(heap, table)) reply |= TableCommitEdit(heap, table, 0);
        SetWord(heap, table, kTableEditRowWord, row);
        SetWord(heap, table, kTableEditColumnWord, column);
        TableActivateEdit(heap, table, &hitRect, nullptr);
      }
      if (const TRecord text = EditText(heap, table)) {
        if (PanelWindow(heap)) {
          WPortState saved{};
          WSetup(PanelWindow(heap), &saved);
          TClick(text, point, p->modifiers);
          WRestore(&saved);
        }
      }
    }
    if (t->flags & kTableTrackSelect) {
      for (int32 d = 0; d < 2; ++d) {
        int32& anchor = d == 0 ? t->anchorRow : t->anchorColumn;
        const int32 hit = d == 0 ? row : column;
        int32& first = s[d];
        int32& end = s[d + 2];
        if (anchor == -1) continue;
        if (p->modifiers & kModShift) {
          if (hit >= first) anchor = first, end = Pin(int64(hit) + 1);
          else anchor = end - 1, first = hit;
        } else {
          anchor = hit, first = end = std::max(hit, 0);
        }
      }
      reply |= TableSetSelection(heap, table, s, 0, 0);
    }
    p->dragObject = table;
  } else if (event == kSubMove) {
    if ((t->flags & kTableTrackEdit) && HoldsFocus(heap, table)) {
      if (const TRecord text = EditText(heap, table)) {
        if (PanelWindow(heap)) {
          WPortState saved{};
          WSetup(PanelWindow(heap), &saved);
          TTrackTo(text, point, event);
          WRestore(&saved);
        }
      }
    }
    if (t->flags & kTableTrackSelect) {
      if (t->anchorRow != -1) DragSpan(t->anchorRow, std::max(row, 0), &s[0], &s[2]);
      if (t->anchorColumn != -1) DragSpan(t->anchorColumn, std::max(column, 0), &s[1], &s[3]);
      reply |= TableSetSelection(heap, table, s, 0, 0);
    }
  }
  if (event == kSubRelease || (p->modifiers & kModEndTracking)) {
    p->dragObject = 0;
    return reply & ~kActionTracking;
  }
  return reply | kActionTracking;
}

int32 ScrollBar(ObjHeap heap, int32 table, int32 barId, ActionParams* p) {
  if (HoldsFocus(heap, table)) FPCommitKeyFocus(heap);
  const int32 event = p->eventCode;
  const int32 bar = PartOf(heap, table, barId);
  TableState* st = TableStateOf(heap, table);
  if (!bar || !st) return 0;
  const bool vertical = barId == kTablePartVBar;
  int32 reply = kActionTracking;
  bool step = true;
  if (event == kSubPress) IntervalElapsed(MilliSecs(), uInt32(WTrackTimeout()));
  else if (event == kSubMove || event == 4) step = IntervalElapsed(0, uInt32(WTrackTimeout())) != 0;
  int32 origin, visible, total;
  UHandle* value = TableValue(heap, table);
  TableScrollNumbers(heap, table, value, vertical, &origin, &visible, &total);
  const Rect r = BoundsOf(heap, bar);
  // Bounds from the file that hold nothing are not tracked (nor drawn).
  if (r.bottom <= r.top || r.right <= r.left) step = false;
  if (step) {
    const DColor colours[2] = {ctrl::PartFore(heap, bar), ctrl::PartBack(heap, bar)};
    const int32 result = TrackSBarEvent(&r, PointOfWord(p->localPoint), event, origin, visible, total, &colours[0],
                                        &colours[1], vertical);
    const int32 moved = TableScrollStep(result, origin, visible);
    if ((st = TableStateOf(heap, table)) && moved != origin) {
      (vertical ? st->topRow : st->leftColumn) = moved;
      ShowIndexDisplay(heap, table, vertical);
      RedrawCells(heap, table);
    }
  }
  if (event == kSubRelease) {
    if ((Flags(heap, bar) & kTablePartNoDrawInPlace) || !PanelWindow(heap)) {
      OInval(heap, bar, kInvalAll);
    } else {
      WPortState saved{};
      WSetup(PanelWindow(heap), &saved);
      TableDrawSBar(heap, table, TableValue(heap, table), bar);
      WRestore(&saved);
    }
    reply = kReplyShow;
  }
  return reply;
}

// The part the frame names at level 0, 0 otherwise.
int32 FramePart(ObjHeap heap, int32 table, const TransactionFrame* frame) {
  if (frame->mode != kLevelPart) return 0;
  const int32 list = Word(heap, table, kObjPartList / 4);
  if (!list || frame->index < 0 || frame->index >= PanelListCount(heap, list)) return 0;
  return ObjListGet(heap, list, frame->index);
}

bool ArrowWithShift(const ActionParams* p) {
  return (p->modifiers & kModShift) && p->keyCode >= vkUp && p->keyCode <= vkRight;
}

int32 Key(ObjHeap heap, int32 table, TransactionFrame* frame, ActionParams* p, int32 reply) {
  const int32 code = p->keyCode;
  const bool focusPart = HoldsFocus(heap, table) && FocusPart(heap);
  if (FocusKey(code)) {
    if (ObjClickOperates(heap, table)) {
      if (focusPart) return TableKey(heap, table, reply, kTableKeyFocusPart, frame, p);
      OInval(heap, table, kInvalAll);
      return reply;
    }
    if (const TRecord text = EditText(heap, table); text && (TRData(text)->flags & kTRFlagActive)) {
      TDeactivate(text, 1);
      TableCommitEdit(heap, table, 0);
    }
    return kReplyPassFocus;
  }
  if (code == kKeyCtrlDown && !focusPart) return TableKey(heap, table, reply, 0, frame, p);
  if ((reply & kReplyKeyUsed) && FocusPart(heap)) {
    if (const TRecord text = EditText(heap, table)) TDeactivate(text, 1);
    reply |= TableCommitEdit(heap, table, 0);
    if (ObjClickOperates(heap, table)) reply = FPFocusObject(heap, table, frame, reply);
    return reply;
  }
  if (!focusPart) return reply;
  if (ArrowWithShift(p) || IsReturn(p)) return TableKey(heap, table, reply, kTableKeyFocusPart, frame, p);
  const int32 part = EditPart(heap, table);
  if (!part) return reply;
  const int32 text = ObjTextActivate(heap, table, part, 0, p, reply & kActionTracking);
  reply = (reply & ~kActionTracking) | text;
  if ((text & kReplyCommitted) || code == 2 || code == vkFinish) {
    reply |= TableCommitEdit(heap, table, (text & kReplyCommitted) != 0);
    reply &= ~kReplyCommitted;
  }
  return reply;
}

}  // namespace

int32 TableODoitMethod(ObjHeap heap, int32 table, TransactionFrame* frame, int32 action, ActionParams* p) {
  if (!IsTable(heap, table) || !p || !frame) return DDOODoitMethod(heap, table, frame, action, p);
  const bool key = action == kActOperate && (p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat);
  const int32 part = FramePart(heap, table, frame);
  const int16 partId = part ? ctrl::PartIdOf(heap, part) : 0;
  const DColor oldBack = TableAreaBack(heap, table);
  // The focus highlight survives the generic handling of the focus keys.
  const uInt32 focusBefore = Flags(heap, table) & kTableFlagFocus;
  const bool keepFocus = key && HoldsFocus(heap, table) && FocusKey(p->keyCode);
  int32 reply = DDOODoitMethod(heap, table, frame, action, p);
  if (keepFocus && IsTable(heap, table))
    ctrl::SetFlags(heap, table, (Flags(heap, table) & ~kTableFlagFocus) | focusBefore);
  if (reply & kReplyFailed) return reply;
  if (!IsTable(heap, table)) return reply;
  // Colour follow-up: the all-cells background follows the cell area's.
  if (partId == kTablePartCells && (reply & kReplyModified) && (p->eventCode & kColourRequestBack)) {
    TableCellFontRec all = kTableDefaultLook;
    TableCellFormatMerge(heap, table, &all);
    const DColor now = TableAreaBack(heap, table);
    if (all.backColor == oldBack && now != oldBack) {
      TableCellFontRec rec = all;
      rec.row = rec.column = kTableAll, rec.backColor = now;
      TableSetCellFont(heap, table, &rec, kCellLookBack, 0);
    }
    if (const int32 back = PartOf(heap, table, kTablePartCellBack)) {
      ctrl::SetPartColours(heap, back, now, now);
      OInval(heap, back, kInvalAll);
    }
  }
  if (frame->mode == kLevelPart) {
    if ((partId == kTablePartHBar || partId == kTablePartVBar) && action == kActTrack) return ScrollBar(heap, table, partId, p);
    if (partId == kTablePartIndex) {
      if (reply & kReplyChanged) {
        // The display wrote the origin word itself: no origin below 0.
        if (TableState* st = TableStateOf(heap, table)) st->topRow = TableOrigin(st->topRow), st->leftColumn = TableOrigin(st->leftColumn);
        reply = (reply & ~kReplyChanged) | kReplyShow | DisplayValue(heap, table);
      }
      if (reply & kReplyKeyUsed) {
        // The focus goes to the table itself: its path ends at it.
        EndAtTable(frame, table);
        reply = FPFocusObject(heap, table, frame, reply);
      }
      if (reply & kReplyPassFocus) reply = TableKey(heap, table, reply, 0, frame, p);
    }
    return reply;
  }
  if (frame->mode != kLevelTarget) return reply;
  if (action == kActTrack) return Track(heap, table, p);
  if (key) return Key(heap, table, frame, p, reply);
  if (action == kActPopupChoice && (reply & kReplyChanged)) reply |= DisplayValue(heap, table);
  return reply;
}

void ControlsJoinTableOpSlots() {
  ObjJoinSlot(kMsgOClick, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableOClickMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODoit, [](int32 cls) {
    return cls == kClsTable ? reinterpret_cast<ObjMethodAddr>(&TableODoitMethod) : ObjMethodAddr(nullptr);
  });
  TableEnterAttrTable();
}
