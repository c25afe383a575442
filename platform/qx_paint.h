// Painting windows.
//
// Each window keeps the pixels of its client area in a retained surface, so
// windows covering one another never need repainting.  What needs painting
// is the update region (client coordinates): invalidation adds to it, also
// while the window is hidden; showing a window invalidates all of it; a
// client area that grows is invalidated, and whitened, in the strips it
// gains.  While the region is not empty the window's thread retrieves one
// Paint (qx_msgqueue.h), topmost window first.  Begin-paint hands out a
// drawing context clipped to the region and its bounding box, and empties
// the region; the background is erased first (EraseBackground) only when
// the class has a background colour and an invalidation asked for it.
#pragma once
#include <cstdint>

#include "platform/qx_dc.h"
#include "platform/qx_window.h"

struct PlatPaintInfo {
  PlatObj dc;
  PlatRect paint;  // the bounding box of the region painted
  bool erase;      // the background still needs erasing
};

// Null rect: the whole client area.  False for a window that does not exist.
bool PlatInvalidateRect(PlatWindow w, const PlatRect* rect, bool erase);
// Adds a region (client coordinates).
bool PlatInvalidateRgn(PlatWindow w, PlatObj rgn, bool erase);
// Invalidates the whole client area of the window and of every descendant
// window (children, their children and so on).
bool PlatInvalidateWithChildren(PlatWindow w, bool erase);
bool PlatValidateRect(PlatWindow w, const PlatRect* rect);
// The bounding box of the update region; false when it is empty.
bool PlatGetUpdateRect(PlatWindow w, PlatRect* box);
// Copies the update region into rgn; its kind (kPlatRgnError on failure).
int32_t PlatGetUpdateRgn(PlatWindow w, PlatObj rgn);

// 0 for a window that does not exist.
PlatObj PlatBeginPaint(PlatWindow w, PlatPaintInfo* info);
bool PlatEndPaint(PlatWindow w, const PlatPaintInfo* info);
// Called at the end of every paint of a window, before its context goes,
// so that child objects paint over what the window painted (null: none).
// The former hook.
typedef void (*PlatEndPaintHook)(PlatWindow w);
PlatEndPaintHook PlatSetEndPaintHook(PlatEndPaintHook hook);
// Paint goes to top-level windows first, then to shown child windows whose
// parents are all shown.
// Sends Paint at once when the window is shown and its region not empty.
bool PlatUpdateWindow(PlatWindow w);

// A context painting the whole client area; release it with PlatReleaseDc.
PlatObj PlatGetDc(PlatWindow w);
bool PlatReleaseDc(PlatWindow w, PlatObj dc);
// The retained client surface (valid while the window exists).
PlatSurface* PlatWindowSurface(PlatWindow w);

enum : uint32_t { kPlatScrollInvalidate = 0x1, kPlatScrollErase = 0x2 };
// Moves the pixels of rect ∩ clip (null: the client area) by (dx, dy),
// keeping the result inside clip, and the part of the update region inside
// rect with them.  Uncovered pixels keep their values; with
// kPlatScrollInvalidate they are invalidated.  Stores their bounding box in
// uncovered when given; returns the kind of the uncovered region.
int32_t PlatScrollWindowEx(PlatWindow w, int32_t dx, int32_t dy, const PlatRect* rect, const PlatRect* clip,
                           PlatRect* uncovered, uint32_t flags);
