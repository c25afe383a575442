// Regions: sets of pixels for clipping, hit testing and filling, kept as
// pixman regions behind drawing-object handles (kPlatObjRegion).
//
// Shapes of (l, t, r, b) with r <= l or b <= t are empty.  Ellipses and round
// rectangles are exact integer pixel sets and accept extents (r - l, b - t)
// up to 65,535; wider ones fail with kPlatErrInvalidParam.  Moves and shapes
// whose coordinates would leave int32 fail the same way.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/qx_drawobj.h"

enum PlatRgnOp : int32_t {
  kPlatRgnAnd = 0,
  kPlatRgnCopy = 1,
  kPlatRgnDiff = 2,  // a minus b
  kPlatRgnOr = 3,
  kPlatRgnXor = 4,
};

enum PlatRgnKind : int32_t {
  kPlatRgnError = 0,
  kPlatRgnEmpty = 1,
  kPlatRgnSimple = 2,   // one rectangle
  kPlatRgnComplex = 3,
};

PlatObj PlatCreateRectRgn(int32_t l, int32_t t, int32_t r, int32_t b);
// Pixel (x, y) is inside when
// (2x+1-l-r)^2 (b-t)^2 + (2y+1-t-b)^2 (r-l)^2 <= (r-l)^2 (b-t)^2.
PlatObj PlatCreateEllipticRgn(int32_t l, int32_t t, int32_t r, int32_t b);
// The rectangle with quarter ellipses of the (ew, eh) box, clamped to the
// rectangle, at its corners.
PlatObj PlatCreateRoundRectRgn(int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew,
                               int32_t eh);
bool PlatSetRectRgn(PlatObj rgn, int32_t l, int32_t t, int32_t r, int32_t b);
bool PlatSetEmptyRgn(PlatObj rgn);

// dst = a op b (b is not read for Copy); dst may be a or b.  The kind of the
// result, kPlatRgnError for a bad handle or op.
int32_t PlatCombineRgn(PlatObj dst, PlatObj a, PlatObj b, int32_t op);
int32_t PlatOffsetRgn(PlatObj rgn, int32_t dx, int32_t dy);
bool PlatPtInRegion(PlatObj rgn, int32_t x, int32_t y);
// True when the rectangle and the region share at least one pixel.
bool PlatRectInRegion(PlatObj rgn, const PlatRect& rect);
// The bounding box (empty: all zero) and the kind.
int32_t PlatGetRgnBox(PlatObj rgn, PlatRect* box);
// Its rectangles, in bands from the top.
int32_t PlatGetRgnRects(PlatObj rgn, std::vector<PlatRect>* rects);
bool PlatRgnIsEmpty(PlatObj rgn);
