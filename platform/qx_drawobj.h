// Drawing objects: pens, brushes, bitmaps, palettes, fonts, regions and
// drawing contexts, named by 32-bit handles.
//
// A handle is a table index (low 16 bits) and the generation of that slot
// (high 16 bits), so a handle whose object was deleted never names the
// object that reuses its slot.  The table is thread-safe.  A zero, stale,
// foreign or wrong-kind handle fails the call (0 or false) with
// kPlatErrInvalidHandle in PlatLastError, never crashes.
//
// Colours arrive as 0x00BBGGRR; a high byte of 0x02 (palette-relative) is
// taken as the plain colour.
//
// Deleting an object that a drawing context has selected succeeds at once:
// the handle is gone, and the object itself goes when the context lets it
// go (selects another or is deleted).  Stock objects are never freed;
// deleting one succeeds and does nothing.
#pragma once
#include <cstdint>
#include <vector>

using PlatObj = uint32_t;

struct PlatRect {
  int32_t left, top, right, bottom;  // right and bottom excluded
};

enum PlatObjKind : int32_t {
  kPlatObjNone = 0,
  kPlatObjPen = 1,
  kPlatObjBrush = 2,
  kPlatObjBitmap = 3,
  kPlatObjPalette = 4,
  kPlatObjFont = 5,
  kPlatObjRegion = 6,
  kPlatObjDc = 7,
};

enum PlatPenStyle : int32_t {
  kPlatPenSolid = 0,
  kPlatPenDash = 1,        // 12 on, 4 off
  kPlatPenDot = 2,         // 2 on, 2 off
  kPlatPenDashDot = 3,     // 8, 4, 2, 4
  kPlatPenDashDotDot = 4,  // 8, 2, 2, 2, 2, 2
  kPlatPenNull = 5,        // draws nothing
};

enum PlatBrushKind : int32_t {
  kPlatBrushSolid = 0,
  kPlatBrushNull = 1,
  kPlatBrushPattern = 2,
};

enum PlatStockObject : int32_t {
  kPlatStockWhiteBrush = 0,
  kPlatStockBlackPen = 1,
  kPlatStockNullBrush = 2,
  kPlatStockFont = 3,    // variable pitch: "DejaVu Sans Condensed" 13
  kPlatStockFont2 = 4,   // system: "DejaVu Sans Condensed" 16, weight 700
  kPlatStockBitmap = 5,   // the 1 x 1 mono bitmap of a fresh memory context
  kPlatStockPalette = 6,  // black and white, the palette of a fresh context
};

// Pens of styles 0-5: cosmetic (width 0 or 1) or wide.  Wide strokes have
// round caps when solid and flat ones when dashed; flatCap is kept for
// describe.  Null for a style outside 0-5 or a negative width.
PlatObj PlatCreatePen(int32_t style, int32_t width, uint32_t colour, bool flatCap = false);
PlatObj PlatCreateSolidBrush(uint32_t colour);
// A brush of the top-left 8 x 8 pixels of a Mono1 bitmap (a smaller one
// repeats): 0 bits paint the context's text colour, 1 bits its background.
PlatObj PlatCreatePatternBrush(PlatObj bitmap);
PlatObj PlatGetStockObject(int32_t which);

// A bitmap from bits: bitsPerPixel 1 (Mono1, rows padded to 16 bits, high
// bit leftmost, 0 black) or 32 (0x00RRGGBB words); bits may be null
// (black).  Depths 4, 8, 16 and 24 are made without bits and stored as
// Rgb32, keeping their depth for describe and DIB read-back.
PlatObj PlatCreateBitmap(int32_t width, int32_t height, int32_t bitsPerPixel, const void* bits,
                         uint32_t byteCount);
// A bitmap of the format of the context's selected bitmap (a fresh memory
// context holds a 1 x 1 mono one); screen and target contexts give 24 bits.
PlatObj PlatCreateCompatibleBitmap(PlatObj dc, int32_t width, int32_t height);

// The pixels of a bitmap (null for a bad handle); valid while the bitmap
// lives.
struct PlatSurface;
PlatSurface* PlatBitmapSurface(PlatObj bitmap);

// A palette of 0x00BBGGRR colours (1 to 256 of them).
PlatObj PlatCreatePalette(const uint32_t* colours, int32_t count);
// The palette index nearest the colour: least squared RGB distance, the
// lowest index on ties; -1 for a bad handle.
int32_t PlatNearestPaletteIndex(PlatObj palette, uint32_t colour);

bool PlatDeleteObject(PlatObj obj);
// Patterns are read when drawing, so there is nothing to redo: true for a
// live brush.
bool PlatUnrealizeObject(PlatObj obj);

struct PlatObjInfo {
  PlatObjKind kind;
  bool stock;
  int32_t style;      // pen style, or brush kind
  int32_t width;      // pen width, bitmap width, palette entry count
  int32_t height;     // bitmap height
  int32_t format;     // bitmap PlatSurfaceFormat
  int32_t planes;     // bitmap: 1
  int32_t bitsPerPixel;  // bitmap depth
  uint32_t colour;    // pen or solid brush colour (0x00BBGGRR)
  bool flatCap;
  uint8_t pattern[8]; // pattern brush rows, high bit leftmost
};
bool PlatDescribeObject(PlatObj obj, PlatObjInfo* info);
PlatObjKind PlatObjectKind(PlatObj obj);  // kPlatObjNone for a bad handle
