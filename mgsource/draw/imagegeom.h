// Image geometry and hit testing, the messages of procedural images, the
// colour choice of image drawing, and the pixel routines of raw bits
// (grey levels, ordered dithering to one bit, colour tables).
// User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// The parameter block of every message to a procedural image.
struct PictMessageBlock {
  Rect* rect;        // the image's rectangle (messages 4, 5 and 14 write it)
  Rect* otherRect;   // the rectangle to test (3) or the previous one (5)
  DColor foreColor;
  DColor backColor;
  Point point;       // the point to hit-test (2)
  int32 result;      // answer of 2, 3, 7 and 10
  uInt32 version;    // 10, 12
  int32 shapeKind;   // answer of 7: 0 rectangular, 1 oval, 2 other
  Point point1;      // 13, 14
  Point point2;
  UHandle stateHandle;  // 11, 12
};
static_assert(sizeof(void*) != 4 || (sizeof(PictMessageBlock) == 44 && offsetof(PictMessageBlock, point) == 16 &&
                                     offsetof(PictMessageBlock, shapeKind) == 28 &&
                                     offsetof(PictMessageBlock, stateHandle) == 40),
              "picture message block");
// What a procedure is given of its entry: the style word and two state
// words.
struct PictStyleBlock {
  uInt32 style;
  uInt32 state1;
  uInt32 state2;
};
static_assert(sizeof(PictStyleBlock) == 12, "picture style block");
typedef int32 (*PictureProc)(int32 message, PictStyleBlock* style, PictMessageBlock* block);

// Sends any message: 53 for id 0 or another kind (nothing called), else 0
// whatever the procedure answered.
QX_EXTERN_C MgErr IProcImageMessage(int32 image, int32 message, void* block);
// Message 7 with the colours (two DColors, both 0 when null): the shape
// kind, the answer stored in *opaque when given; 0 for another kind.
QX_EXTERN_C int32 IProcImageIsOpaque(int32 image, int32* opaque, const DColor* colours);
// Message 13: the end points as the corners of rect; 53 for another kind.
QX_EXTERN_C MgErr IProcImageQueryRect(int32 image, Rect* rect);
// Message 14 with the two points; rect gets the bounds written back; the
// procedure's status, 53 for another kind.
QX_EXTERN_C MgErr IProcImageBounds(int32 image, Point point1, Point point2, Rect* rect);
// The procedure of a procedural image and its style block (null for
// another kind).
PictureProc IProcOf(int32 image, PictStyleBlock** style);

// The bounds of an image by kind: 1, or 0 for a procedural image; cursors
// and DIB kinds leave rect as it was.
QX_EXTERN_C int32 IGetRect(int32 image, Rect* rect);
// Whether the point hits the image drawn in rect (null: its own bounds).
QX_EXTERN_C Bool32 IPtInImage(Point point, int32 image, const Rect* rect);
// The tight bounds of an icon family's mask mapped into drawRect (null: not
// mapped); 42 for other kinds.
QX_EXTERN_C MgErr IGetMaskBounds(int32 image, const Rect* drawRect, Rect* bounds);
// colours: fore, back, alternate fore, alternate back; the back becomes
// the colour the image is erased with.  0.
QX_EXTERN_C MgErr IGetEraseColor(int32 image, DColor* colours);
// A colour other than transparent becomes the alternate on a
// black-and-white port; transparent does so only as a foreground.
QX_EXTERN_C DColor IChooseColor(DColor colour, DColor alternate, Bool32 isForeground);

// Each 0x00RRGGBB colour as R/4 + R/8 + G/2 + B/8.
void IColorsToGrey(const DColor* colours, uInt8* grey, int32 count);
// Ordered dithering of rows of depth 24, 8 or 4 (input rows of width x 3
// bytes, width rounded up to even, to a multiple of 4 pixels) into 1-bit
// rows ending on 16 bits; a set bit is black.  colourTable: 0x00RRGGBB
// words indexed by the pixels of depths 8 and 4 (colourCount of them;
// indexes past them read as black).
void IDitherToOne(int32 depth, const uInt8* source, uInt8* dest, int32 width, int32 rows, const DColor* colourTable,
                  int32 colourCount);
// The bytes of one dithered row.
inline int32 IDitherRowBytes(int32 width) { return (width + 15) / 16 * 2; }
// The input bytes of one row for IDitherToOne.
int32 IDitherSourceRowBytes(int32 depth, int32 width);
// Entries of 8 bytes (u16 index, red, green, blue) into 0x00RRGGBB words,
// the byte at the higher offset of each component.
void IColorTableToRGB(const uInt8* table, int32 count, DColor* colours);
