// Windows of the window manager, over the platform's host windows.
//
// A window is named by a WindowRef (wevent.h), a positive number; the
// record behind it holds the style word, the owner's reference word, the
// event handler, the visible flag and the origin of the window's drawing
// port.  A reference that names no live window is refused.  All of it runs
// on the user-interface thread.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"

// The event handler of a window: called with the event and the window's
// reference word.
typedef int32 (*WEventHandler)(WEventRecord* event, uInt32 refCon);

// Style bits.
enum : uInt32 {
  kWStyleModal = 0x0001,
  kWStyleFloating = 0x0002,
  kWStyleCaption = 0x0004,     // a captioned document window
  kWStyleCloseable = 0x0008,
  kWStyleResizable = 0x0010,
  kWStyleMinimisable = 0x0020,
  kWStyleBordered = 0x0100,    // a bordered pop-up, without 0x0004
  kWStyleNoHost = 0x2000,      // an event handler without a host window
  kWStyleRecordOnly = 0x4000,  // a record without a host window (the page window of printing)
};

// Creates a window whose content lies at rect (screen coordinates; an empty
// one becomes 0, 0, 5, 5), sends it event -3, and shows it when asked.
// Returns the window, 0 when no record can be had.
QX_EXTERN_C WindowRef WCreate(uInt32 style, ConstPStr title, WEventHandler handler, const Rect* rect,
                              int32 reserved, Bool32 show, uInt32 refCon);
// Hides and destroys a window; its queued events are purged.
QX_EXTERN_C void WDestroy(WindowRef window);
QX_EXTERN_C Bool32 WIsWindow(WindowRef window);
QX_EXTERN_C void WShow(WindowRef window);
QX_EXTERN_C void WHide(WindowRef window);
QX_EXTERN_C Bool32 WIsVisible(WindowRef window);
// The colour depth of the window's screen; that of the screen for 0 (and
// for windows without a record, the root window among them).
QX_EXTERN_C int32 WGetDepth(WindowRef window);
// True for a window that has a host window (styles 0x2000 and 0x4000 have none).
Bool32 WHasHostWindow(WindowRef window);
// Raises the window in front of the others and shows it.
QX_EXTERN_C void WBringToFront(WindowRef window);
// Enables or disables the Close command of the window's system menu.
QX_EXTERN_C void WSetCloseable(WindowRef window, Bool32 on);
QX_EXTERN_C void WSetTitle(WindowRef window, ConstPStr title);
QX_EXTERN_C void WGetTitle(WindowRef window, PStr title);
QX_EXTERN_C uInt32 WGetRefCon(WindowRef window);
QX_EXTERN_C void WSetRefCon(WindowRef window, uInt32 refCon);
// Replaces the window's event handler (null: events to it find no handler).
QX_EXTERN_C void WSetEventHandler(WindowRef window, WEventHandler handler);
QX_EXTERN_C uInt32 WGetStyle(WindowRef window);
// The port rectangle: the content at the origin, in local coordinates.
QX_EXTERN_C void WGetRect(WindowRef window, Rect* rect);
QX_EXTERN_C void WGetOrigin(WindowRef window, Point* origin);
// Moves the origin of the window's port; the content stays where it is.
QX_EXTERN_C void WSetOrigin(WindowRef window, Point origin);
// Moves the content's top-left to (v, h) in screen coordinates, keeping its
// size (event 11 when it moved).
QX_EXTERN_C void WMove(WindowRef window, int32 v, int32 h);
// The content rectangle in screen coordinates.
QX_EXTERN_C void WGetGlobalRect(WindowRef window, Rect* rect);
// Sets the content rectangle (screen coordinates); sends event 11 when the
// position changed and event 10 when the size changed.
QX_EXTERN_C void WSize(WindowRef window, const Rect* rect);
// The work area of the screen (the window is not used: one monitor).
QX_EXTERN_C void WGetWorkAreaRect(WindowRef window, Rect* rect);
// The thickness of the frame a window of the style has around its content:
// top, left, bottom and right margins.
QX_EXTERN_C void WGetShellRect(uInt32 style, Rect* margins);
// Delivers the event to its window's handler at once; 0 for a window
// without one.
QX_EXTERN_C int32 WSendEvent(WEventRecord* event);

// The idle region (local coordinates, copied; null: empty) and its flag:
// a mouse move is delivered only while "the point lies in the region"
// equals the flag.  Windows start with an empty region and flag 0.
QX_EXTERN_C void WSetIdleRgn(WindowRef window, uInt32 rgn, Bool32 flag);
// Whether a mouse move at the local point (vertical low, horizontal high)
// is delivered to the window.
Bool32 WMouseMoveWanted(WindowRef window, int32 where);

// The windows front first (at most max stored); the count of windows.
int32 WWindowsInOrder(WindowRef* out, int32 max);
// Destroys every window (tests and tear-down).
void WDestroyAllWindows();
