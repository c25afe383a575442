// What window placement needs of a window beyond its rectangles: the
// drawing port with its clip rectangle, the area waiting to be redrawn, the
// maximised and minimised states, the host style taken from an option word,
// and local to screen coordinates.  All of it runs on the user-interface thread.
#pragma once
#include "mgsource/window/window.h"


// Makes the window the drawing port of this thread under the drawing mutex,
// held until the matching WRestore (the pair nests): the screen image gets
// the window as its owner and is attached as the drawing target.  saved
// gets the port it replaces, for WRestore.
struct WPortState {
  WindowRef window;
};
QX_EXTERN_C void WSetup(WindowRef window, WPortState* saved);
// Sets the clip rectangle (local coordinates) of the current port; savedClip
// (may be null) gets the one it replaces, an empty rectangle for none.
// Nothing without a port.  The current window's device context is clipped
// to it (within the content).
QX_EXTERN_C void WSetClipRect(const Rect* rect, Rect* savedClip);
// Intersects the current port's clip (its port rectangle when none is set:
// the window's, or the bounds of a pixmap or picture opened in its place)
// with the rectangle; savedClip as above.
QX_EXTERN_C void WLimitClip(const Rect* rect, Rect* savedClip);
// Stores a window's content rectangle (local coordinates): drawing in the
// window is clipped to it until a clip is set again.  Any window, current
// or not.
QX_EXTERN_C void WSetContentRect(WindowRef window, const Rect* rect);
// A window record's clip region given an area (local coordinates), as the
// clip changes give it: see WindowRecord::clipRgn.
void WSetClipRgnArea(uInt32 rgn, const Rect* area);
// A window record's clip region is about to be destroyed.
void WClipRgnFreeing(uInt32 rgn);
// Puts back a clip saved by WSetClipRect or WLimitClip (empty: no clip).
QX_EXTERN_C void WRestoreClip(const Rect* savedClip);
// Makes the saved port current again and releases the drawing mutex.
QX_EXTERN_C void WRestore(const WPortState* saved);
// WRestoreClip(savedClip) and then WRestore(saved).
void WRestoreWithClip(const WPortState* saved, const Rect* savedClip);

// The screen image: the window image that windows draw through, made once
// for the root window; 0 or the image table's error.
MgErr WInitScreenImage();
int32 WScreenImage();
// The current window, 0 for none.
WindowRef WCurrentPort();
// Makes w the current window (0, or a reference that is no window: none)
// and returns the one that was; the drawing target follows.
WindowRef WExchangeCurrentPort(WindowRef w);
// The tear-down's two steps: the current window's setup count is cleared
// and the window forgotten, the drawing state staying as it is; later the
// device context the drawing state holds for it (obtained from its host
// window, or a memory context) is given back.
void WForgetCurrentPort();
void WReleasePortDc();
// The nesting of WSetup (all windows).
int32 WSetupDepth();
// The kept port: while the mode is on (the engine's time slice at the root
// level of the main loop), WRestore back to depth 0 keeps the window
// selected, and the next WSetup of it skips the switch.  Dropped at the
// next WSetup of another window, at a redraw, at WDestroy and when the mode
// ends.
void WSetKeptPortMode(Bool32 on);
void WDropKeptPort();
WindowRef WKeptPort();
// The current drawing state follows a window whose origin or size changed.
void WPortFollowOrigin(WindowRef window);
// The redraw of a window's host window (its Paint): under the drawing
// mutex, event 14 with the paint box in local coordinates, drawn through
// the paint context; event 47 after the first redraw of the window
// remembered from QueryOpen.
void WRedrawWindow(WindowRef window, PlatWindow hwnd);
Bool32 WUpdating();
// During a redraw of the current window, whether the rectangle (local)
// meets the box being redrawn; 1 otherwise (and outside a screen port).
QX_EXTERN_C Bool32 WNeedsDraw(const Rect* rect);
// During a redraw of the current window, 1 with the box being redrawn
// (local); else 0: every rectangle needs drawing.  For callers that test
// many rectangles in one redraw.
Bool32 WNeedsDrawBox(Rect* box);
// Redraws the window's waiting area now (window -3: every visible window
// but those of styles 0x2000 and 0x8000); nothing during a redraw.
QX_EXTERN_C void WUpdate(WindowRef window);
// Limits the region to the current port's rectangle, keeps it as the
// screen clip region and clips the port's context to it (offset by the
// origin).  Nothing while the screen clip region does not exist.
QX_EXTERN_C void WSetScreenClipRgn(uInt32 rgn);
// The screen clip region: made empty by the window start-up (false when it
// cannot be made), destroyed by the tear-down; 0 while none exists.
Bool32 WNewScreenClipRgn();
void WDisposeScreenClipRgn();
uInt32 WScreenClipRgn();
// altRect while a port other than the screen's is current, else portRect.
QX_EXTERN_C void WGetDrawRect(WindowRef window, Rect* rect);
void WRememberQueryOpen(WindowRef window);
// The window's clip rectangle; false when none was set.
Bool32 WGetClipRect(WindowRef window, Rect* clip);

// Adds the rectangle (local coordinates; null: the whole port rectangle;
// empty: nothing) to the window's area waiting to be redrawn; window -3
// invalidates every visible window but those of styles 0x2000 and 0x8000.
QX_EXTERN_C void WInvalRect(WindowRef window, const Rect* rect);
// The bounding rectangle of that area; false (an empty rectangle) when
// nothing waits.  WValidate empties it.
Bool32 WGetUpdateRect(WindowRef window, Rect* rect);
void WValidate(WindowRef window);

// Draws the size box into a rectangle (local coordinates) of the current
// window: a resizable window's in the button face with a grip of diagonal
// lines, any other's in grey framed black.  Nothing without a port.
QX_EXTERN_C void WDrawGrowIcon(const Rect* rect);

// Converts a point from the window's local coordinates to screen
// coordinates.
QX_EXTERN_C void WLocalToGlobal(WindowRef window, Point* point);
// The other way: screen coordinates to the window's local ones.
QX_EXTERN_C void WGlobalToLocal(WindowRef window, Point* point);

// Non-zero when the window is maximised: the host window's state, unless a
// procedure is installed that answers instead (tests).
QX_EXTERN_C Bool32 WIsZoomed(WindowRef window);
typedef Bool32 (*WZoomedProc)(WindowRef window);
void WSetZoomedProc(WZoomedProc proc);

// Non-zero when the window is minimised.
QX_EXTERN_C Bool32 WIsIconic(WindowRef window);


