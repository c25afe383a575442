// Regions: arbitrary pixel areas for clipping, hit testing and drawing,
// kept as the platform layer's region objects.  Whoever makes a region
// destroys it with DDestroyRgn.  Region coordinates are port coordinates as
// the caller gives them: framing and painting hand the region to the device
// context as it stands, without the drawing origin.
//
// Also here: the drawing origin and the black-and-white switch of the
// drawing state, and the host port's clip and scroll procedures.  All of it
// runs on the user-interface thread.
#pragma once
#include "mgsource/draw/dport.h"

// A new region of the rectangle, rounded rectangle or ellipse; a null
// rectangle gives an empty region.  0 when no region can be had.
QX_EXTERN_C DRgn DRectRgn(const Rect* r);
QX_EXTERN_C DRgn DRoundRectRgn(const Rect* r, int32 ovalWidth, int32 ovalHeight);
QX_EXTERN_C DRgn DOvalRgn(const Rect* r);
// The region becomes the rectangle (a null one: empty), or empty.
QX_EXTERN_C void DSetRectRgn(DRgn rgn, const Rect* r);
QX_EXTERN_C void DSetEmptyRgn(DRgn rgn);
QX_EXTERN_C void DDestroyRgn(DRgn rgn);
// The point is packed in 32 bits: vertical in the low half, horizontal in
// the high half.  A null region contains nothing.
QX_EXTERN_C Bool32 DPtInRgn(int32 point, DRgn rgn);
// True when any pixel of the rectangle lies in the region.
QX_EXTERN_C Bool32 DRectInRgn(const Rect* r, DRgn rgn);
QX_EXTERN_C Bool32 DEmptyRgn(DRgn rgn);
// dst = a op b: 0 intersection, 1 a copy of a, 2 a minus b, 3 union, any
// other value exclusive or.  The kind of the result: 0 error, 1 empty, 2
// one rectangle, 3 more.
enum : int32 { kDRgnSect = 0, kDRgnCopy = 1, kDRgnDiff = 2, kDRgnUnion = 3 };
QX_EXTERN_C int32 DCombineRgn(DRgn dst, DRgn a, DRgn b, int32 op);
QX_EXTERN_C void DOffsetRgn(DRgn rgn, int32 dh, int32 dv);
// Leaves the region as it is and returns d.
QX_EXTERN_C int32 DInsetRgn(DRgn rgn, int32 d);
// Frame (as wide and as high as the pen) and fill with the current pen's
// brush; nothing while the pen is invisible.
QX_EXTERN_C void DFrameRgn(DRgn rgn);
QX_EXTERN_C void DPaintRgn(DRgn rgn);
// The bounding rectangle (empty: all 0), pinned to 16-bit coordinates.
void DRgnBounds(DRgn rgn, Rect* out);

// The drawing origin from a packed point: horizontal the high half,
// vertical the low half, each a signed 16-bit value.
QX_EXTERN_C void DSetOrigin(int32 point);
// Sets the black-and-white flag, when the target's depth is above 1.
QX_EXTERN_C void DSetBWDrawing(Bool32 on);
