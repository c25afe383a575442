// The colour palette: the pop-up grid of colour cells with which the
// operator recolours panel objects.  One palette menu (id 65) with a
// procedure of its own sizes the grid, draws the cells (from a cached
// pixmap) and the captions with the current colours, answers hit tests,
// mouse steps and keys, keeps the recently chosen colours, and offers the
// R, G, B dialog for an exact colour.  User-interface thread only.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/memory.h"
#include "panel/clipmenu.h"
#include "panel/objects.h"

// State flags of the palette record (the choice flags of clipmenu.h too).
enum : uInt32 {
  kPalNoSizing = 0x80,
  kPalForeground = 0x100,
  kPalBackground = 0x200,
  kPalBoth = 0x300,
  kPalSwitchKeys = 0x400,
  kPalSingle = 0x800,
  kPalNoCaptions = 0x1000,
  kPalNoMore = 0x2000,
  kPalUndithered = 0x4000,
  kPalSkipTransparent = 0xC000,
  kPalFinal = 0x10000,
  kPalDialog = 0x20000,
  kPalFromGrid = 0x40000,
};
// Results of the hit test besides cell numbers.
constexpr int32 kPalNoColour = 2001, kPalMoreItem = 10000;
// Sizes: cells are 9 pixels square.
constexpr int32 kPalCell = 9;
// The colour-table resources, by table: 1-bit, 4-bit, 8-bit, 4-bit
// without dithering; the caption list; the R, G, B dialog.
constexpr int32 kPalTableIds[4] = {2001, 2004, 2008, 2041};
constexpr int32 kColorMenuListId = 306, kColorDialogId = 1200;
enum : int32 {
  kPalCapForeground = 1, kPalCapBackground, kPalCapColour, kPalCapBoth, kPalCapMore, kPalCapAll, kPalCapToggle,
};

// The palette record: held as the palette menu's procedure data.
struct ColorPaletteRecord {
  uInt32 flags;
  UHandle tables[4];  // "CLR#": columns, count, colours, native order; null: missing
  int32 layout[4];    // the creation's grid layout words
  DColor shown[2];    // foreground and background at opening
  DColor current[2];
  int16 recentCapacity;
  int16 recentFirst;   // the first recent colour shown
  int16 recentNewest;  // index of the newest, -1 when the list is empty
  UHandle recent;      // colour words, oldest first; null when the capacity is 0
  int32 cache;         // the cached cell pixmap, 0 none
  ColorPaletteProc proc;
  int32 argument;
  // The run's layout, set by sizing, and the cache's key.
  int32 depth;
  int32 table;       // index into tables, -1 none
  int32 cellWidth;
  Rect grid;         // the cells, in the menu's window
  Rect more;         // the "More..." entry, empty without one
  Rect swatch[2];    // foreground and background swatches, empty when not shown
  int32 cacheKey[3];  // table, cell width, depth of the cached image
};

// Creates the record and the four tables, sizes the recent list and the
// menu "Colors" with the palette's procedure; stores the "More..." item
// code in the menu.  2 when memory is short (nothing is left).  A missing
// or malformed table is reported and left out.
QX_EXTERN_C MgErr InitColorPalette(int32 menuId, ConstPStr title, const int32* layout, uInt32 flags,
                                   MenuHandle* menu);
// Frees the palette's record and tables (shut-down, before its menu is
// disposed: the menu must get no more messages).
void DisposeColorPalette();
// The shell's hook: the palette of id 65, titled "Colors".
QX_EXTERN_C MgErr InitPanelColorPalette(MenuHandle* menu);
// The palette's menu procedure and its record (null before InitColorPalette).
QX_EXTERN_C int32 ColorPaletteMenuProc(MenuProcMsg* msg, MenuHandle menu);
ColorPaletteRecord* ColorPalette();
MenuHandle ColorPaletteMenu();
// Rows of a table: its count divided by its columns, rounded up; 0 for a
// table without columns.
QX_EXTERN_C int32 PaletteRows(UHandle table);
// The colour of a cell number (table colours, then the recent colours shown,
// newest last), mapped through the menu colour index with 0x4000; the
// transparent colour for a number that names no cell.
QX_EXTERN_C DColor PaletteCellColor(ColorPaletteRecord* pal, int32 cell);
// The hit test: a cell number, 2001, 10000 or 0 (outside).
int32 PaletteHitTest(const ColorPaletteRecord* pal, Point where);
// Prepares the palette for an object: the record's colour request (word 3
// the flags, words 4 and 5 the colours) and the object tracking procedure,
// which recolours the object through action 6 of frame.
QX_EXTERN_C void ColorMenuTrack(ObjHeap heap, int32 object, ActionParams* record, void* frame);
// Pops the palette up beside the record's point for the path's object and
// runs it: DoColorPalette's answer.
QX_EXTERN_C int32 PopUpColorPalette(ObjHeap heap, void* frame, ActionParams* record);
// The R, G, B dialog: nonzero with *out set when confirmed.  Run by the
// shell's dialog manager through the hook; without one nothing is chosen.
QX_EXTERN_C int32 RunColorDialog(ConstPStr caption, DColor colour, DColor* out);
typedef int32 (*ColorDialogProc)(ConstPStr caption, DColor colour, DColor* out);
void SetColorDialogProc(ColorDialogProc proc);
// The colour-display switch: off, every depth uses the 1-bit table.
void SetPaletteColourDisplay(Bool32 on);
// The palette's menu draws itself into the current port (tests and the
// speed figure): the cells from the cache when useCache, else drawn anew.
void DrawColorPaletteCells(ColorPaletteRecord* pal, Bool32 useCache);
