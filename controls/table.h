// The table control: a two-dimensional array of strings shown as a grid of
// text cells with an optional row-header column and column-header row, two
// scroll bars and two index displays.  Its run-time state lives in the
// panel's data space; every cell, row and column may have a look of its own
// (font, justification, colours, size, blink marker), kept sparsely as a
// sorted list of records in that state.
//
// The state, the look list, the header lists, the font list and the value
// come from VI files: offsets are checked against the data space, counts
// against their handles and font indexes against the font list before
// anything is read; a stored width or height below 2 is taken as 2, so no
// walk over the grid stalls.  User-interface thread only.
#pragma once
#include <cstddef>
#include <vector>

#include "mgsource/draw/dcolor.h"
#include "mgsource/rects.h"
#include "panel/blink.h"
#include "panel/objects.h"
#include "panel/popup.h"

// The table's run-time state in the panel's data space (all fields 32-bit).
struct TableState {
  int32 topRow;          // first data row shown (at least 0)
  int32 leftColumn;      // first data column shown
  int32 visibleRows;     // data rows at least partly inside the cell area
  int32 visibleColumns;
  int32 selRow1, selColumn1, selRow2, selColumn2;  // ends exclusive, corners in any order
  uInt32 selColor;
  UHandle rowHeaders;    // 1-D array of strings, entry r for row r
  UHandle columnHeaders;
  int32 activeRow, activeColumn;  // the cell the look properties address (-2: all)
  UHandle cellFormats;   // i32 count, then TableCellFontRec records
  UHandle headerFill;    // empty string: fill of a growing header list
  UHandle valueFill;     // empty string: fill of a growing value, shown outside it
};
static_assert(sizeof(void*) != 4 ||
                  (sizeof(TableState) == 64 && offsetof(TableState, selColor) == 32 &&
                   offsetof(TableState, rowHeaders) == 36 && offsetof(TableState, activeRow) == 44 &&
                   offsetof(TableState, cellFormats) == 52 && offsetof(TableState, valueFill) == 60),
              "table state layout");

// The table words: 32-bit words of the object after the data display
// object's fields.
enum : int32 {
  kTableStateWord = 10,   // offset of the TableState in the panel data space (0: none)
  kTableUnusedWord = 11,
  kTableCurRowWord = 12,  // the cell being drawn or addressed
  kTableCurColumnWord = 13,
  kTableEditRowWord = 14, // the cell taking text entry
  kTableEditColumnWord = 15,
  kTableEditPartWord = 16,  // the part whose word 9 is the edit text record
  kTableFontListWord = 17,  // handle: i32 count, then font numbers
  kTableUnusedWord2 = 18,
};
static_assert(4 * (kTableUnusedWord2 + 1) == 76, "table instance size");

// Rows and columns: -1 the headers, -2 every row or column.
enum : int32 { kTableHeader = -1, kTableAll = -2 };

// Flag bits of the table's flag word.
enum : uInt32 {
  kTableFlagHidden = 0x8,
  kTableFlagFocus = 0x40,
  kTableFlagGreyed = 0x80,
  kTableFlagGrown = 0x10000,
  kTableFlagShowSelection = 0x20000,
  kTableFlagColumnHeaders = 0x40000,
  kTableFlagRowHeaders = 0x80000,
  kTableFlagSelScrolling = 0x200000,
};
// A part drawn only through invalidation (the cell area, the bars).
constexpr uInt32 kTablePartNoDrawInPlace = 0x4;

// Part ids of a table.
enum : int16 {
  kTablePartFrame = 9,
  kTablePartRange = 20,
  kTablePartCells = 28,
  kTablePartHBar = 38,
  kTablePartVBar = 39,
  kTablePartCellBack = 44,
  kTablePartIndex = 8001,  // order 0 the left column, order 1 the top row
};

// TableCellRect's flags.
enum : int32 { kTableCellHidden = 1, kTableCellCutBottom = 2, kTableCellCutRight = 4 };
// TableDraw's what bits.
enum : int32 { kTableDrawFull = 0x1, kTableDrawChanged = 0x2, kTableDrawAll = 0x4 };
// The text flags every cell is drawn with.
constexpr int32 kTableTextFlags = 0x408;

// The look fields' mask bits and the format word's justification bits.
enum : uInt32 {
  kCellLookFont = 0x1,
  kCellLookFormat = 0x2,
  kCellLookText = 0x4,
  kCellLookBack = 0x8,
  kCellLookWidth = 0x10,
  kCellLookHeight = 0x20,
  kCellLookAll = 0x7F,
};
constexpr int32 kCellFormatJustify = 0x30;
// Change flags of the look setters.
enum : int32 { kCellChangedLayout = 0x10000, kCellChangedColour = 0x100, kCellChangeFailed = 0x10 };

// The pop-up items of tables and the menu of the scrolling item.
constexpr int32 kTablePopupEmpty = 170, kTablePopupSelScrolling = 247;
constexpr int32 kTablePopupMenu64 = 64;
// The modification mask of a pop-up setting.
constexpr uInt32 kTableDocMod = 0x80000100u;

// An origin and a visible count of the state as the walks take them:
// stored numbers are pinned so that no walk past them overflows (an area
// shows at most 21,846 lines).
constexpr int32 kTableMaxVisible = 0x8000, kTableMaxOrigin = 0x7FFFFFFF - 2 * kTableMaxVisible;
inline int32 TableOrigin(int32 v) { return v < 0 ? 0 : v > kTableMaxOrigin ? kTableMaxOrigin : v; }
inline int32 TableVisible(int32 v) { return v < 0 ? 0 : v > kTableMaxVisible ? kTableMaxVisible : v; }

// A colour word from the file as the drawing takes it: transparent stays,
// anything else keeps its 24 colour bits.
inline DColor TableCleanColour(uInt32 c) { return c == 0x1000000u ? c : c & 0xFFFFFFu; }

// A cell's rectangle: its text rectangle one pixel larger each way, kept
// inside the 16-bit range.
inline Rect TableCellFrame(const Rect& r) {
  auto pin = [](int32 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); };
  return Rect{pin(r.top - 1), pin(r.left - 1), pin(r.bottom + 1), pin(r.right + 1)};
}

// ---- The table's state and value ---------------------------------------------------------
// The table's state in the data space, null when the offset is 0 or names
// no 64 aligned bytes inside it.  The address moves when the data space
// does: taken anew after anything that may allocate.
TableState* TableStateOf(ObjHeap heap, int32 table);
// The value's rows and columns, false when the handle does not hold them
// (null is the empty array).
bool TableValueSize(UHandle array, int32* rows, int32* columns);
// The table's value (the address of its array handle) from its owner, null
// without one.
UHandle* TableValue(ObjHeap heap, int32 table);

// ---- Geometry and drawing ---------------------------------------------------------------------
// The address of the current cell's string handle (table words 12 and 13)
// in the header lists or the value; null for the corner and for a cell past
// them unless grow is set: then the list or array is enlarged by the missing
// rows and columns with the state's fill string (a grown value also sets
// flag 0x10000); a failed growth is reported and gives null.
QX_EXTERN_C UHandle* TableCellPtr(ObjHeap heap, int32 table, UHandle* array, int32 grow);
// The text rectangle of the cell and its flags: 1 not visible (empty
// rectangle), 2 cut at the bottom, 4 cut at the right.
QX_EXTERN_C int32 TableCellRect(ObjHeap heap, int32 table, int32 row, int32 column, Rect* rect);
// 1 the insertion mark's cell, 2 a selected column's top cell, 3 a selected
// row's left cell, 4 inside a selection of rows and columns; else 0.
QX_EXTERN_C int32 TableSelKind(int32 row, int32 column, const int32 selection[4]);
// Draws the mark of that kind on the cell's rectangle in the current pen.
QX_EXTERN_C void TableDrawSelMark(const Rect* rect, int32 kind);
// Grid, cells, selection marks and the edit text (what: 0x1 full, 0x2 the
// cells whose string changed from the previous value, 0x4 all cells).
// previous and value: addresses of array handles (either may be null).
QX_EXTERN_C void TableDraw(ObjHeap heap, int32 table, const void* previous, const void* value, int32 what,
                           int32 mode);
QX_EXTERN_C void TableDrawCell(ObjHeap heap, int32 table, int32 row, int32 column);
// The same for a cell whose text rectangle is known.
void TableDrawCellAt(ObjHeap heap, int32 table, int32 row, int32 column, const Rect& text);
// The shown rows (columns) from the header or the origin, for the visible
// count but no further than the cell area: their numbers and text edges
// (cut at the area).
struct TableLines {
  std::vector<int32> index, first, last;
};
void TableShownLines(ObjHeap heap, int32 table, Bool32 vertical, TableLines* out);
// The parts, the grid and the bars.
QX_EXTERN_C void TableDrawParts(ObjHeap heap, int32 table, const void* value, int32 mode);
// A bar's numbers: the origin among max(count + 1, origin + visible) with
// the visible count as the page.  The vertical bar shows rows.
QX_EXTERN_C void TableScrollNumbers(ObjHeap heap, int32 table, const void* value, Bool32 vertical, int32* origin,
                                    int32* visible, int32* total);
QX_EXTERN_C void TableDrawSBar(ObjHeap heap, int32 table, const void* value, int32 bar);

// ---- Class methods ---------------------------------------------------------------------------
QX_EXTERN_C int32 TableODrawMethod(ObjHeap heap, int32 table, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 TableoDisplayValMethod(ObjHeap heap, int32 table, const void* previous, const void* value);
QX_EXTERN_C int32 TableOGetDataPtrMethod(ObjHeap heap, int32 table, int32 part, int32 kind, UHandle* base);
QX_EXTERN_C int32 TableOPopupMethod(ObjHeap heap, int32 table, PopupMsgRecord* rec);
// Enters the table's methods in its class record (start-up).
void ControlsJoinTableSlots();

// ---- Cell looks ----------------------------------------------------------------------------
// The look of a cell with an empty list.
constexpr TableCellFontRec kTableDefaultLook = {kTableAll, kTableAll, 0, 0, 0, 0xB3B3B3, 30, 16, 0, 0x3F};
// Merges the records that apply to the record's cell into it (all cells,
// its row, its column, itself, in list order); its mask gets their bits.
QX_EXTERN_C void TableCellFormatMerge(ObjHeap heap, int32 table, TableCellFontRec* rec);
// The look of the record's cell with the font index turned into the font.
QX_EXTERN_C void TableCellFontLookup(ObjHeap heap, int32 table, TableCellFontRec* rec);
// Copies the masked fields that differ; the change flags.
QX_EXTERN_C int32 TableCellFormatApply(const TableCellFontRec* source, TableCellFontRec* target, uInt32 mask);
// Stores the masked fields for the record's cell, row, column or all
// cells; the change flags (0x10 when the list could not grow).
QX_EXTERN_C int32 TableSetCellFormat(ObjHeap heap, int32 table, const TableCellFontRec* rec, uInt32 mask);
// The font's index in the table's font list (appended when missing); -1
// when the list cannot grow.
QX_EXTERN_C int32 TableFontIndex(ObjHeap heap, int32 table, int32 font);
// The order of the list (qsort form).
QX_EXTERN_C int32 TableCellFormatCompare(const void* a, const void* b);
QX_EXTERN_C int32 TableSetCellFont(ObjHeap heap, int32 table, TableCellFontRec* rec, int32 mask, int32 fontChange);
QX_EXTERN_C int32 TableSetLineFormat(ObjHeap heap, int32 table, const TableCellFontRec* rec, uInt32 mask,
                                     int32 fontChange);
// Text, background and the black-and-white pair for the cell's text.
QX_EXTERN_C void TableCellColors(ObjHeap heap, int32 table, const TableCellFontRec* look, int32 mode,
                                 DColor colours[4]);
// Shows a look change of a cell, row, column or all cells (reply flags).
QX_EXTERN_C int32 TableInvalCells(ObjHeap heap, int32 table, int32 row, int32 column, Bool32 defer);
// A draw's view of the looks: the look list, the font list and the cell
// area's background read once (nothing may change them while it is used).
struct TableLookView {
  UHandle looks = nullptr;
  int32 count = 0;
  UHandle fonts = nullptr;
  int32 fontCount = 0;
  DColor areaBack = 0x1000000;
};
TableLookView TableLooksOf(ObjHeap heap, int32 table);
// TableCellFontLookup and TableCellColors through the view.
void TableLookAt(const TableLookView& view, TableCellFontRec* rec);
void TableColoursOf(const TableLookView& view, const TableCellFontRec* look, int32 mode, DColor colours[4]);
// The look's width and height as the grid walks take them (at least 2).
int32 TableColumnWidth(ObjHeap heap, int32 table, int32 column);
int32 TableRowHeight(ObjHeap heap, int32 table, int32 row);
// A row's height (vertical) or a column's width through the view.
int32 TableLineSize(const TableLookView& view, int32 index, Bool32 vertical);
// The cell area's grid and background colours.
DColor TableGridColour(ObjHeap heap, int32 table);
DColor TableAreaBack(ObjHeap heap, int32 table);
