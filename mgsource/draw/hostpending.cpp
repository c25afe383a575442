// Host port procedures whose drawing is not built yet: each reports one
// assertion failure and returns 0, so a caller sees the missing piece
// without anything being drawn wrongly.
#include "mgsource/draw/hostslots.h"

#include "mgsource/debug.h"

namespace {
int32 Pending(int32 line) { return DBAssert(__FILE__, line, "host drawing procedure not available"); }
}  // namespace

int32 HostDrawImage(int32, const Rect*, const Rect*, DColor, DColor, DColor, DColor) { return Pending(__LINE__); }
int32 HostDrawBits(const void*, const void*, const void*) { return Pending(__LINE__); }
int32 HostTextBox(const Rect*, int32, const uChar*, int32, int32, DColor, DColor, DColor, DColor) {
  return Pending(__LINE__);
}
int32 HostTextDraw(UHandle) { return Pending(__LINE__); }
int32 PortBounds(Rect* out) {
  if (out) *out = Rect{0, 0, 0, 0};
  return Pending(__LINE__);
}
