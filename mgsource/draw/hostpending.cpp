// Host port procedures whose drawing is not built yet: each reports one
// assertion failure and returns 0, so a caller sees the missing piece
// without anything being drawn wrongly.
#include "mgsource/draw/hostslots.h"

#include "mgsource/debug.h"

namespace {
int32 Pending(int32 line) { return DBAssert(__FILE__, line, "host drawing procedure not available"); }
}  // namespace

int32 HostSelectNormPen(DColor, DColor) { return Pending(__LINE__); }
int32 HostSelectPen(int32, DColor, DColor) { return Pending(__LINE__); }
int32 HostSetPixel(int32, int32) { return Pending(__LINE__); }
int32 HostMove(int32, int32) { return Pending(__LINE__); }
int32 HostMoveTo(int32, int32) { return Pending(__LINE__); }
int32 HostLine(int32, int32) { return Pending(__LINE__); }
int32 HostLineTo(int32, int32) { return Pending(__LINE__); }
int32 HostMHLine(int32, int32, Bool32) { return Pending(__LINE__); }
int32 HostMHLineTo(int32, int32, Bool32) { return Pending(__LINE__); }
int32 HostPolyLine(const Point*, int32) { return Pending(__LINE__); }
int32 HostPaintPoly(const Point*, int32, int32) { return Pending(__LINE__); }
int32 HostFrameRect(const Rect*) { return Pending(__LINE__); }
int32 HostPaintRect(const Rect*) { return Pending(__LINE__); }
int32 HostFrameRoundRect(const Rect*, int32, int32) { return Pending(__LINE__); }
int32 HostPaintRoundRect(const Rect*, int32, int32) { return Pending(__LINE__); }
int32 HostFrameOval(const Rect*) { return Pending(__LINE__); }
int32 HostPaintOval(const Rect*) { return Pending(__LINE__); }
int32 HostFrameArc(const Rect*, int32, int32) { return Pending(__LINE__); }
int32 HostPaintArc(const Rect*, int32, int32) { return Pending(__LINE__); }
int32 HostGrayOutRect(const Rect*, DColor) { return Pending(__LINE__); }
int32 HostDrawImage(int32, const Rect*, const Rect*, DColor, DColor, DColor, DColor) { return Pending(__LINE__); }
int32 HostDrawBits(const void*, const void*, const void*) { return Pending(__LINE__); }
int32 HostTextBox(const Rect*, int32, const uChar*, int32, int32, DColor, DColor, DColor, DColor) {
  return Pending(__LINE__);
}
int32 HostTextDraw(UHandle) { return Pending(__LINE__); }
int32 HostHiliteRect(const Rect*, DColor, DColor, DColor, DColor, int32) { return Pending(__LINE__); }
int32 PortBounds(Rect* out) {
  if (out) *out = Rect{0, 0, 0, 0};
  return Pending(__LINE__);
}
