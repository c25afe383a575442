// The current pen as the region and scrolling code sees it: its width and
// brush for framing and filling regions, and painting rectangles in a
// plain colour with the normal pen.  The brush is the one applying the pen
// selected into the device context of the drawing state.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

// The width of the current pen; 0 without a device context.
int32 DCurPenWidth();
// The brush of the current pen (the one selected into the device context);
// 0 without a device context.
PlatObj DCurPenBrush();
// Paints the rectangles (port coordinates) with the normal pen in colour
// (bwColour on a black-and-white port), then selects the current pen again.
// Empty rectangles and a transparent colour paint nothing.
void DPaintRectsInColour(const Rect* rects, int32 n, DColor colour, DColor bwColour);
// Paints each rectangle (port coordinates) with the normal pen in its own
// colour, as DSelectNormPen(colours[i], bwColour) then DPaintRect(&rects[i])
// in turn would, and leaves the normal pen in the last colour.
void DPaintRectsInColours(const Rect* rects, const DColor* colours, int32 n, DColor bwColour);
// The same, filled straight in the colours without a pen made or selected
// for each (the bands of gradients, the strokes of bevels), where the port
// can: a window or pixmap of more than 256 colours on a screen of at least
// 256 (not a picture or a metafile), every colour a colour and every
// rectangle upright.  False, nothing drawn, elsewhere.
bool DFillRectsStraight(const Rect* rects, const DColor* colours, int32 n, DColor bwColour);
