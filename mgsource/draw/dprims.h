// The host port's drawing primitives (slots 5 to 22 and 28): points, lines,
// rectangles, ovals, arcs, round rectangles, polygons, gray-outs and
// highlights, drawn with the current pen into the device context of the
// drawing state.  A line covers both of its end points and a shape the
// pixels inside its rectangle; the host leaves out the last pixel of a line,
// so each primitive adjusts what it hands on.  Every coordinate handed to
// the host is the port coordinate minus the drawing origin.  While the
// normal pen is invisible (transparent), lines only move the pen location
// and shapes draw nothing.
//
// User-interface thread only.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// Draws a 5 x 5 marker at each of n points (hs[i], vs[i]): pattern holds 5
// bytes, one per column offset -2 to 2; in each byte the bits 0x80, 0x40,
// 0x20, 0x10 and 0x08 stand for the row offsets -2 to 2.  The pen location
// becomes the last point.  A null pattern or rect is reported.
void DDrawMarkers(const uChar* pattern, int32 n, const int16* hs, const int16* vs, const Rect* rect);
// Inverts the pixels of a rectangle; the colours do not change what the
// host port draws.  Without a target window it is reported.
QX_EXTERN_C void DInvertRect(const Rect* r, DColor colour, DColor back, DColor bwColour, DColor bwBack);
// Sizes the point buffer of polylines and polygons to exactly n points (0
// frees it).  A failure shows the alert "WPoint memory allocation failed"
// and returns the memory error (2); a negative count is 1.
MgErr DSetPointBuf(int32 n);
// The capacity of the point buffer, in points.
int32 DPointBufCapacity();

// tan (i degrees) for i = 0 to 45, filled at the drawing manager's start.
void DFillTangentTable();
// The host point of an arc's end at an angle (degrees clockwise from
// twelve o'clock, any value) on the rectangle (l, t, r, b).
void DArcPoint(int32 l, int32 t, int32 r, int32 b, int32 angle, int32* h, int32* v);
