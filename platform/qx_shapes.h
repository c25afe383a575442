// Curves of a context: ellipses, round rectangles, arcs and pies, drawn with
// the selected pen (outline) and brush (inside), each combined by the
// context's ROP2.  Every pixel of a figure is painted once, so an XOR figure
// drawn twice restores the surface.
//
// Rectangles (l, t, r, b) with r <= l or b <= t draw nothing; extents above
// 65,535 and pens wider than 65,535 fail with kPlatErrInvalidParam.
//
// Cosmetic pens (width 0 or 1; every style draws solid), with F the pixel set
// of the elliptic (round-rectangle) region of the rectangle: the outline is
// the pixels of F with a 4-neighbour outside F, the brush fills the rest of
// F (all of F with the null pen).
//
// Wide pens (width w >= 2), in doubled coordinates where pixel (x, y) has
// its centre at (2x + 1, 2y + 1): the figure's corner box runs from (2l, 2t)
// to (2r - 2, 2b - 2); its ellipse has centre C and semi-axes A, B.  The
// outline is the pixels whose centre lies strictly inside the figure grown
// by w/2 (sides and corner semi-axes) and not strictly inside the figure
// shrunk by w/2 (nothing when a shrunk semi-axis or side is <= 0); the brush
// fills strictly inside the shrunk one.
//
// Arcs and pies keep the outline pixels whose direction from C lies in the
// counter-clockwise sweep (as seen on screen) from the ray through the
// centre of pixel (sx, sy) to the ray through that of (ex, ey), both
// included; equal rays give the whole figure.  A pie also fills the brush
// part of the figure in that sweep and draws two cosmetic radii from the
// pixel at C to, per ray, the outline pixel in the sweep whose centre lies
// nearest the ray (ties: the one farther from C).  That pixel is chosen
// from the whole outline, whatever the clip or the surface's size, so a
// partial repaint paints the pixels of a whole one.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"

bool PlatEllipse(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b);
// Corners are quarter ellipses of (ew, eh), clamped to the rectangle.
bool PlatRoundRect(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew, int32_t eh);
bool PlatArc(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t sx, int32_t sy,
             int32_t ex, int32_t ey);
bool PlatPie(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t sx, int32_t sy,
             int32_t ex, int32_t ey);
