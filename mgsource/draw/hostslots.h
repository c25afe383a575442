// The host port's procedures, one per slot, built with the pens, regions
// and primitives, the image and picture layers; the text box and text
// record slots are the text drawing's (mgsource/window/textdraw.cpp).
#pragma once
#include "mgsource/draw/dport.h"

int32 HostGetDepth();
int32 HostIsBW();
int32 HostIsScreenPort();
int32 HostSelectNormPen(DColor colour, DColor bwColour);
int32 HostSelectPen(int32 pen, DColor bwFore, DColor bwBack);
int32 HostSetPixel(int32 h, int32 v);
int32 HostMove(int32 dh, int32 dv);
int32 HostMoveTo(int32 h, int32 v);
int32 HostLine(int32 dh, int32 dv);
int32 HostLineTo(int32 h, int32 v);
int32 HostMHLine(int32 dh, int32 dv, Bool32 verticalFirst);
int32 HostMHLineTo(int32 h, int32 v, Bool32 verticalFirst);
int32 HostPolyLine(const Point* points, int32 n);
int32 HostPaintPoly(const Point* points, int32 n, int32 flag);
int32 HostFrameRect(const Rect* r);
int32 HostPaintRect(const Rect* r);
int32 HostFrameRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight);
int32 HostPaintRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight);
int32 HostFrameOval(const Rect* r);
int32 HostPaintOval(const Rect* r);
int32 HostFrameArc(const Rect* r, int32 startAngle, int32 arcAngle);
int32 HostPaintArc(const Rect* r, int32 startAngle, int32 arcAngle);
int32 HostGrayOutRect(const Rect* r, DColor colour);
int32 HostSetClip(const Rect* r);
int32 HostDrawImage(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                    DColor bwBack);
int32 HostDrawBits(const void* descriptor, const void* colourTable, const void* bits);
int32 HostTextBox(const Rect* r, int32 justification, const uChar* text, int32 length, int32 font, DColor fore,
                  DColor back, DColor bwFore, DColor bwBack);
int32 HostTextDraw(UHandle textRecord);
int32 HostHiliteRect(const Rect* r, DColor colour, DColor back, DColor bwColour, DColor bwBack, int32 extra);
int32 HostScrollRect(const Rect* r, int32 dh, int32 dv, Bool32 invalidate, DColor fill, DColor bwFill);
int32 HostFlush();
int32 HostAttach(int32 image);
// Shared with the null port.
int32 PortBounds(Rect* out);
