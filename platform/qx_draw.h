// Drawing calls of a context: fills, inversion, regions, lines and polygons.
//
// Pixel (x, y) covers [x, x+1) x [y, y+1); a rectangle (l, t, r, b) covers
// l <= x < r, t <= y < b.  What is painted is limited by the context's
// effective clip; shapes are clipped before they are rasterised, so any
// int32 coordinates are safe.  Failures (a bad handle, a bad argument) give
// false with the host error in PlatLastError.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"
#include "platform/qx_text.h"

struct PlatPoint {
  int32_t x, y;
};

// Fills x <= px < x + w, y <= py < y + h (a negative w covers [x + w, x),
// h likewise) with the selected brush and the ROP3 code.  Brush colour at
// (px, py): bit (px + ox) mod 8, from the left, of pattern row (py + oy)
// mod 8, with (ox, oy) the brush origin; 0 bits take the text colour and 1
// bits the background colour.  Codes whose function reads a source fail.
// With the null brush, codes whose function reads the pattern paint
// nothing; those that read none (0x00, 0x55, 0xAA, 0xFF) still apply.
bool PlatPatBlt(PlatObj dc, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop3);
// Fills each of the n rectangles (l <= px < r, t <= py < b; an empty or
// inverted one paints nothing) in its own colour (0x00BBGGRR), as
// PlatPatBlt with the pattern copy and a solid brush of that colour would,
// without a brush made or selected for each: the bands of a gradient.  The
// selected brush stays.  The trace shows what the calls would: for each
// rectangle that is not empty, the selection of a solid brush of its colour
// and the fill; then the selection of the brush that stays.
bool PlatFillSolidRects(PlatObj dc, const PlatRect* rects, const uint32_t* colours, int32_t n);
// XORs 0xFFFFFF into the rectangle.
bool PlatInvertRect(PlatObj dc, const PlatRect& rect);
// The region (in the context's coordinates) with the brush, combined by the
// context's ROP2.
bool PlatFillRgn(PlatObj dc, PlatObj rgn, PlatObj brush);
// The region minus its erosion: a pixel of the region stays unpainted when
// the w pixels left and right of it and the h above and below are in it too.
bool PlatFrameRgn(PlatObj dc, PlatObj rgn, PlatObj brush, int32_t w, int32_t h);
// Nothing is batched: the target is told to show what was drawn.
bool PlatFlush(PlatObj dc);

// Moves the position; the previous one in *old when given.
bool PlatMoveTo(PlatObj dc, int32_t x, int32_t y, PlatPoint* old);
// A cosmetic line from the position to (x, y) with the pen and ROP2, then
// the position is (x, y).  With n = max(|dx|, |dy|), pixel i = 0 .. n - 1
// lies i steps along the major axis and sign(m) floor((2 i |m| + n) / 2n)
// along the minor one (m the minor delta); the end point is not drawn.
// Dashed pens (styles 1-4) of width 0 or 1 start "on" at each call, one
// unit a pixel; their gaps take the background colour, or stay untouched
// with a transparent background.  Pens of width 2 or more draw as wide
// strokes (see qx_shapes_internal.h): round caps and joins when solid,
// flat-capped cosmetic dashes otherwise, each pixel once; their gaps stay
// unpainted whatever the background mode.
bool PlatLineTo(PlatObj dc, int32_t x, int32_t y);
// PlatMoveTo(x, y), then PlatLineTo to each of the n points in turn, in one
// call: what is drawn, the position left and the trace are the same.
bool PlatMoveLineTo(PlatObj dc, int32_t x, int32_t y, const PlatPoint* to, int32_t n);
// Segments between n points in order, each without its end point; the
// dashes run on across the joints.  The polyline is the union of its
// segments: a pixel they share is painted once (on wins over a gap).  The position is not used or changed.
bool PlatPolyline(PlatObj dc, const PlatPoint* points, int32_t n);
// Vertices at pixel corners; a pixel is inside when the edges crossing the
// horizontal through its centre at or left of the centre number odd
// (alternate) or wind non-zero (winding).  The brush fills the inside with
// the ROP2, then the pen draws the closed polyline through the vertices.
bool PlatPolygon(PlatObj dc, const PlatPoint* points, int32_t n);
