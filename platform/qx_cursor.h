// Mouse cursors of the platform layer.
//
// A cursor is 32 x 32 pixels made of two planes of 128 bytes (32 rows of 4
// bytes, the high bit of each byte leftmost) and a hot spot.  Each pixel is
// drawn over the screen by its AND bit a and XOR bit x:
//   a=0 x=0 black, a=0 x=1 white, a=1 x=0 the screen, a=1 x=1 the screen inverted.
// Three system cursors always exist and cannot be destroyed: the arrow, the
// wait cursor and the north-west/south-east sizing cursor.  Handles of
// destroyed cursors are never reused for a long time and are refused, as are
// values that were never handles.  The calls are safe from any thread.
#pragma once
#include <cstdint>

#include "platform/qx_surface.h"

// A cursor handle; 0 is none (no cursor shown).
typedef uint32_t PlatCursor;

constexpr int32_t kPlatCursorSize = 32;
constexpr int32_t kPlatCursorPlaneBytes = kPlatCursorSize * kPlatCursorSize / 8;

enum PlatSystemCursor : int32_t {
  kPlatCursorArrow = 1,
  kPlatCursorWait = 2,
  kPlatCursorSizeNWSE = 3,
};
// The handle of a system cursor; 0 (kPlatErrInvalidParam) for another value.
PlatCursor PlatLoadSystemCursor(int32_t which);

// A new cursor from its planes (each kPlatCursorPlaneBytes long) and hot
// spot; 0 with kPlatErrInvalidParam for a null plane or a hot spot outside
// the cursor, kPlatErrNoMemory when no handle is left.
PlatCursor PlatCreateCursor(int32_t hotX, int32_t hotY, const uint8_t* andPlane, const uint8_t* xorPlane);
// Frees a made cursor; false (kPlatErrInvalidHandle) for a system cursor, a
// freed one or a value that is no cursor.  The current cursor cannot be
// destroyed (kPlatErrBusy).
bool PlatDestroyCursor(PlatCursor c);
bool PlatCursorIsValid(PlatCursor c);

// The pixel of the cursor at (x, y) drawn over a screen pixel (0xRRGGBB, any
// alpha kept): black, white, the screen or its inverse.  Outside the cursor,
// or for an invalid handle, the screen pixel.
uint32_t PlatCursorPixel(PlatCursor c, int32_t x, int32_t y, uint32_t screen);
// The cursor's hot spot; false for an invalid handle.
bool PlatCursorHotSpot(PlatCursor c, int32_t* x, int32_t* y);
// Draws the cursor on an Rgb32 surface with its hot spot at (x, y).
bool PlatCursorDraw(PlatCursor c, PlatSurface* s, int32_t x, int32_t y);

// The cursor shown over the windows: sets it and returns the one set before;
// 0 hides the pointer's shape.  An invalid handle is refused: the current
// cursor stays and 0 is returned with kPlatErrInvalidHandle.
PlatCursor PlatSetCursor(PlatCursor c);
PlatCursor PlatGetCursor();
// The display counter: show adds one, hide takes one away; the cursor is
// visible while the counter is at least 0 (it starts at 0).  Returns the new
// counter.
int32_t PlatShowCursor(bool show);
bool PlatCursorVisible();

// Back to the arrow, the counter at 0 and every made cursor destroyed (tests).
void PlatCursorsReset();
