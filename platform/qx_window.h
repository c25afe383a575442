// Host windows of the platform layer.
//
// Headless, a window is a record in this process: its frame rectangle in
// screen coordinates, its title, whether it is shown, and its place in the
// z-order (front first).  The screen has one monitor whose work area is
// configurable (1024 x 768 at the origin by default).  The calls are safe
// from any thread; the window manager above uses them from the
// user-interface thread.
#pragma once
#include <cstdint>

// A rectangle in screen coordinates: top, left, bottom, right; bottom and
// right lie outside it.
struct PlatRect {
  int32_t top, left, bottom, right;
};

// A window id; 0 is none.
typedef int32_t PlatWindow;

// Frame kinds a window can carry around its content.
enum : uint32_t {
  kPlatFrameCaption = 0x1,  // a title bar and a fixed frame
  kPlatFrameSizable = 0x2,  // a thick, sizing frame
  kPlatFrameBorder = 0x4,   // a one-pixel border
  kPlatFrameEdge = 0x8,     // a sunken edge around the content
};

// Creates a hidden window in front of all others, with the content rectangle
// given; 0 when the host has no record left.
PlatWindow PlatWindowCreate(const PlatRect& content, const char* title, uint32_t frame);
// False for a window that does not exist.
bool PlatWindowDestroy(PlatWindow w);
bool PlatWindowExists(PlatWindow w);
// The content rectangle, in screen coordinates.
bool PlatWindowSetContent(PlatWindow w, const PlatRect& content);
bool PlatWindowGetContent(PlatWindow w, PlatRect* content);
// The title, cut to size - 1 characters and NUL-terminated; returns its
// full length, -1 for a window that does not exist.
bool PlatWindowSetTitle(PlatWindow w, const char* title);
int32_t PlatWindowGetTitle(PlatWindow w, char* out, int32_t size);
bool PlatWindowShow(PlatWindow w, bool shown);
bool PlatWindowIsShown(PlatWindow w);
// Moves the window in front of all others.
bool PlatWindowRaise(PlatWindow w);
// The windows front first; returns how many exist (at most max are stored).
int32_t PlatWindowZOrder(PlatWindow* out, int32_t max);
// The frame margins (top, left, bottom, right thicknesses) of a frame kind.
PlatRect PlatWindowFrameMargins(uint32_t frame);

// The work area of the screen.
void PlatSetWorkArea(const PlatRect& area);
PlatRect PlatGetWorkArea();
// Back to the default work area; destroys every window (tests).
void PlatWindowsReset();
