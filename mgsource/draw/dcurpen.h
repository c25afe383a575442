// The current pen as the region and scrolling code sees it: its width and
// brush for framing and filling regions, and painting rectangles in a
// plain colour with the normal pen.  These few calls are the only place
// where that code touches the pen; they read what the device context of the
// drawing state holds, since applying a pen selects its brush and host pen
// into that context.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

// The width of the current pen (that of the host pen selected into the
// device context); 0 without a device context.
int32 DCurPenWidth();
// The brush of the current pen (the one selected into the device context);
// 0 without a device context.
PlatObj DCurPenBrush();
// Paints the rectangles (port coordinates) as the normal pen in colour does
// (bwColour on a black-and-white port): a copy of the plain colour, the
// current pen, brush and colours of the context left as they were.  Empty
// rectangles and a transparent colour paint nothing.
void DPaintRectsInColour(const Rect* rects, int32 n, DColor colour, DColor bwColour);
