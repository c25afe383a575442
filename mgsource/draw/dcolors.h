// Colours and the application palette.
//
// The system draws with its own palette: a 5 x 5 x 5 cube and 4 greys (129
// entries) on 4-bit screens, a 6 x 6 x 6 cube and 5 greys (221 entries) on
// screens of 8 bits and more.  Colours other than black and white are
// snapped to that palette before they reach the host.  Colours are also
// kept as colour-map indexes (MIndex, read through maps the shell loads);
// this module converts between the forms, derives highlight and shadow
// colours, and converts RGB to hue, lightness and saturation and back.
//
// The palette table: entry i holds the colour of drawing-palette index i
// at depth 4 and at depth 8.  Until the shell installs the application's
// table the built-in one (DDefaultPaletteTable) stands in.
#pragma once
#include <vector>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

struct DPaletteEntry {
  DColor depth4;
  DColor depth8;
};
enum : int32 { kDPaletteCount8 = 221, kDPaletteCount4 = 129, kDCubeCount8 = 216 };

// Keeps the palette table (u32 count, then count pairs of u32 colours, host
// order) and the colour lists for the conversions, and builds the host
// palette for the screen depth.  1 for a null list or table, a table whose
// count is below the palette size or whose handle is shorter than 4 + 8 x
// count (nothing is kept then); 2 out of memory; else 0.
QX_EXTERN_C MgErr DSetAppColors(UHandle colourList, UHandle paletteTable, UHandle preferred);
QX_EXTERN_C int32 DAllocAppColor(DColor colour);  // 0

// The host form 0x02BBGGRR of a colour snapped to the palette (black and
// white unchanged), and back to 0x00RRGGBB.
QX_EXTERN_C uInt32 DColorToGDIColor(DColor colour);
QX_EXTERN_C DColor DGDIColorToColor(uInt32 hostColour);

// The drawing-palette index of a colour at a depth; matched (may be null)
// gets the palette colour it stands for.
QX_EXTERN_C int32 DColorToIndex(DColor colour, int32 depth, DColor* matched);
// Changes whenever the palette table is replaced: what DColorToIndex
// answered before stays true while it is the same.
uInt32 DPaletteGeneration();
QX_EXTERN_C DColor DIndexToColor(int32 index, int32 depth);

QX_EXTERN_C DColor MIndexToDColor(int32 mIndex, int32 depth);
QX_EXTERN_C int32 DColorToMIndex(DColor colour, int32 depth);
QX_EXTERN_C int32 MIndexToIndex(int32 mIndex, int32 depth);

QX_EXTERN_C void DCalcHiliteColor(DColor colour, DColor* hilite, DColor* shadow);
// The same by the depth of the current window (fixed greys at depth 4,
// black below).
QX_EXTERN_C void DGetHilites(DColor colour, DColor* hilite, DColor* shadow);

// Hue in degrees (-1 for greys), lightness and saturation 0 to 1.
QX_EXTERN_C void rgb2hls(DColor colour, float32* hue, float32* lightness, float32* saturation);
QX_EXTERN_C void hls2rgb(float32 hue, float32 lightness, float32 saturation, DColor* colour);

// The colour maps.  Colour tables give the DColor of an MIndex (u32 each);
// the others are a byte each: drawing index to MIndex, MIndex to drawing
// index.  A map is installed from a copy of the handle's host-order data;
// a handle shorter than the map's entries is refused (1, with a debug
// line) and the map stays as it was; null unloads it.
enum DColorMap : int32 {
  kDMapColors4 = 0,  // 4BCT 401: 16 colours
  kDMapColors8 = 1,  // 8BCT 800: 256 colours
  kDMapToM4 = 2,     // 4BIT 401: 129 drawing indexes to MIndex
  kDMapToM8 = 3,     // 8BIT 800: 221 drawing indexes to MIndex
  kDMapToD4 = 4,     // 4BIT 410: 16 MIndexes to drawing index
  kDMapToD8 = 5,     // 8BIT 810: 256 MIndexes to drawing index
  kDMapCount = 6,
};
MgErr DSetColorMap(int32 map, UHandle data);
int32 DColorMapEntries(int32 map);  // the entries a map must have

// Set by default: the start-up loads the full-colour variants of the 8-bit
// index maps; clear, their fewer-colour variants.
extern Bool32 gDManyColors;

// The number of palette entries for a depth: 2 below 4, 129 at 4, 221 at 8
// and above; depths 5 to 7 are reported and give 0.
int32 DPaletteSize(int32 depth);
// The logical palette made for a depth from the installed table: its
// version (0x300) and entries (0x00RRGGBB, flags 0).
struct DLogPalette {
  uInt16 version;
  uInt16 count;
  std::vector<DColor> entries;
};
void DBuildLogPalette(int32 depth, DLogPalette* out);
// The host palette made by DSetAppColors (0 before).
PlatObj DAppPalette();
// Deletes that palette (the tear-down, once no context holds it); the
// colour tables stay.
void DDisposeAppPalette();

// The built-in tables, from which the run-time resource file's colour
// resources are written: the palette table, the colour maps, and the 16
// standard colours.
const std::vector<DPaletteEntry>& DDefaultPaletteTable();
std::vector<uInt32> DDefaultColorMap(int32 map);
std::vector<DColor> DStandardColors();
// Quits the colour module's state (tests): the built-in table, no maps, no
// host palette.
void DResetColors();
