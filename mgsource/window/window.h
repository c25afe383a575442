// Windows of the window manager, over the platform's host windows.
//
// A window is named by a WindowRef (wevent.h): the handle of its
// WindowRecord, or -1 for the current window and -2 for the root window.
// Every operation resolves the reference first; one that names no live
// record (null, freed, foreign, interior) is reported as error 26 and the
// root window stands in.  Windows other than the root and disposal windows
// are host windows of class QXDChild (QXMenuWnd for menu windows), which
// keep the record handle in their user word.  All of it runs on the
// user-interface thread; other threads only draw, between WSetup and
// WRestore.
#pragma once
#include <cstddef>
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_window.h"

// The event handler of a window: called with the event and the window's
// reference word.
typedef int32 (*WEventHandler)(WEventRecord* event, uInt32 refCon);
typedef int32 (*WDropHandler)(WEventRecord* event, uInt32 refCon);

// The record of a window: a cleared relocatable handle of the application
// zone, its handle the window's reference.
struct WindowRecord {
  uInt32 visible;
  uInt32 heldBack;   // a floating window hidden by the window manager, shown again later
  uInt32 disposing;  // set by WDestroy
  uInt32 active;
  int16 depth;
  uInt16 setupCount;  // nesting of WSetup on this window
  WEventHandler eventHandler;
  WDropHandler dropHandler;
  void* dropTarget;
  Rect portRect;     // the content in local coordinates; its top-left is the origin
  Rect restoreRect;  // the last global rectangle given to the window
  Rect altRect;      // the content while a port other than the screen's is current
  int32 cursor;
  WindowRef next;       // the window list
  WindowRef nextModal;  // the modal stack
  uInt32 style;
  uInt32 refCon;
  PlatWindow hwnd;  // none for styles 0x2000 and 0x4000
  // The content, limited by clipRect while it is set; given its area through
  // WSetClipRgnArea, which a thread drawing (between WSetup and WRestore)
  // writes when it leaves the drawing mutex: read it outside drawing.
  uInt32 clipRgn;
  uInt32 idleRgn;
  uInt32 idleFlag;
  int16 screenPos[2];  // vertical, horizontal
  uInt32 drawImage;
  uInt32 paintDC;  // during a redraw
  Rect clipRect;   // local coordinates
  uInt32 clipRectSet;
  int16 minSize[2];  // height, width
  int16 maxSize[2];
};
static_assert(sizeof(void*) != 4 || (sizeof(WindowRecord) == 124 && offsetof(WindowRecord, portRect) == 32 &&
                                     offsetof(WindowRecord, hwnd) == 76 && offsetof(WindowRecord, minSize) == 116),
              "window record: 31 fields in their order");

// The record behind a reference (-1 the current window, -2 the root
// window); for one that names no live record, error 26 is reported and the
// root window stands in.  0 only when not even the root window can be had.
WindowRef WResolveWindow(WindowRef window);
// The record of a resolved reference, null for one that is no live record.
// Only the user-interface thread, or a thread inside WSetup, reads it.
WindowRecord* WRecord(WindowRef window);
// WResolveWindow into *resolved and WRecord of it, by one look-up.
WindowRecord* WResolveRecord(WindowRef window, WindowRef* resolved);
// The host window styles and class of a style word.
const char* WStyleToWin32(uInt32 style, uint32_t* hostStyle, uint32_t* hostExStyle);
// The window whose host window it is, 0 for none.
QX_EXTERN_C WindowRef WFindWindowByHwnd(PlatWindow hwnd);
// The window's host window, 0 for none (or a reference that is no window).
PlatWindow WHostWindow(WindowRef window);
// The root window and the disposal window (made at the first need).
WindowRef WRootWindow();
WindowRef WDisposalWindow();
// Registers QXDChild and QXMenuWnd unless start-up registered them: their
// procedure runs the redraw on Paint and leaves the rest to the default.
void WRegisterClasses();
// The redraw of a host window (its Paint message): event 14 with the
// update box in local coordinates.
void WRedraw(PlatWindow hwnd);
// The clean-up of objects embedded in a host window before it is destroyed
// (null: none).
typedef void (*WEmbeddedCleanupProc)(PlatWindow hwnd);
void WSetEmbeddedCleanup(WEmbeddedCleanupProc proc);
WEmbeddedCleanupProc WEmbeddedCleanupInUse();
// What follows a move of a window's origin, so that objects embedded in
// child windows of its host window move with the content: the host window
// and the new origin (horizontal, vertical) (null: nothing).
typedef void (*WEmbeddedScrollProc)(PlatWindow hwnd, int32 originH, int32 originV);
void WSetEmbeddedScroll(WEmbeddedScrollProc proc);
WEmbeddedScrollProc WEmbeddedScrollInUse();
// The main loop's quit flag: while it is set no event is delivered.
void WSetQuitting(Bool32 quitting);
// A native modal dialog is up (the floating windows are left as they are).
void WSetNativeModal(Bool32 up);
Bool32 WNativeModal();
// The host windows and port rectangles of the visible windows that
// invalidate-all and update-all reach (all but styles 0x2000 and 0x8000).
struct WVisibleWindow {
  PlatWindow hwnd;
  Rect portRect;
};
std::vector<WVisibleWindow> WVisibleHostWindows();
// Whether the application is inactive (another application in front).
void WSetAppInactive(Bool32 inactive);
// Takes the host window's client size into portRect (the origin stays) and
// its screen position into the record, with the clip region following;
// 1 when the size changed, plus 2 when the position did.  The colour depth
// of the screen is read again too: 4 when it changed.
uInt32 WTakeHostPlacement(WindowRef window);

// Style bits.
enum : uInt32 {
  kWStyleModal = 0x0001,
  kWStyleFloating = 0x0002,
  kWStyleCaption = 0x0004,     // a captioned document window
  kWStyleCloseable = 0x0008,
  kWStyleResizable = 0x0010,
  kWStyleMinimisable = 0x0020,
  kWStyleBordered = 0x0100,    // a bordered pop-up, without 0x0004
  kWStyleStaysOverModal = 0x0080,  // a floating window shown while a modal one is in front
  kWStyleNoHost = 0x2000,      // an event handler without a host window
  kWStyleRecordOnly = 0x4000,  // a record without a host window (the page window of printing)
  kWStyleSkipsRedraw = 0x8000,
};
// Event codes of the window manager's own.
enum : WEventCode { kWEvDispose = -124 };

// Creates a window whose content lies at rect (screen coordinates; an empty
// one becomes 0, 0, 5, 5), sends it event -3, and shows it when asked.
// Returns the window, 0 when no record can be had.
QX_EXTERN_C WindowRef WCreate(uInt32 style, ConstPStr title, WEventHandler handler, const Rect* rect,
                              int32 reserved, Bool32 show, uInt32 refCon);
// Hides a window and takes it out of the lists; the disposal window frees
// its record (and host window) once it is no longer current or set up.
QX_EXTERN_C void WDestroy(WindowRef window);
// Whether the reference names a live window that is not being destroyed
// (no report).
QX_EXTERN_C Bool32 WIsWindow(WindowRef window);
QX_EXTERN_C void WShow(WindowRef window);
QX_EXTERN_C void WHide(WindowRef window);
QX_EXTERN_C Bool32 WIsVisible(WindowRef window);
// Shows or hides the floating windows for the state: all hidden while the
// application is inactive; with a modal window in front only those of
// 0x0080; else all that the window manager hid.
QX_EXTERN_C void WShowFloaters(Bool32 appInactive, Bool32 modalInFront);
// The front modal window when it is not floating, else the first
// non-floating window of the list that is active, else 0.
QX_EXTERN_C WindowRef WActiveDocWind();
// The window list, newest first; 0 at its end.
QX_EXTERN_C WindowRef WFirstWindow();
QX_EXTERN_C WindowRef WNextWindow(WindowRef window);
// Sets the outer size limits (height, width; null leaves one) and clamps
// the content to them less the frame (WSize when it changed).
QX_EXTERN_C void WSetSizeLimits(WindowRef window, const Point* minSize, const Point* maxSize);
// The outer size limits (height, width) of the window; a null window (or
// one without a record) has the defaults 1 x 1 and 30000 x 30000.
QX_EXTERN_C void WGetSizeLimits(WindowRef window, Point* minSize, Point* maxSize);
// The global mouse point of the latest message.
QX_EXTERN_C void WGetGlobalMouse(Point* point);
// Maximises (remembering the global rectangle) or restores a resizable
// window whose state differs.
QX_EXTERN_C void WZoom(WindowRef window, Bool32 on);
// With a null window, the window under the global point; the point is made
// local to the window found (or given).  0 for none.
QX_EXTERN_C WindowRef WFindWindowAt(WindowRef window, Point* point);
// The front of the modal stack, 0 for none.
WindowRef WFrontModal();
// The colour depth of the window's screen; that of the screen for 0 (and
// for windows without a record, the root window among them).
QX_EXTERN_C int32 WGetDepth(WindowRef window);
// Sets the colour depth of the window's record (1 to 32), which WGetDepth
// then answers; printing gives its windows the printer's depth.
QX_EXTERN_C void WSetDepth(WindowRef window, int32 depth);
// The device context that a window without a host window draws into (0:
// none); the window's drawing port uses it.  The caller keeps it alive
// while the window draws and releases it.
void WSetPaintDc(WindowRef window, uInt32 dc);
uInt32 WGetPaintDc(WindowRef window);
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
// Changes the style word.  When more than the closeable bit changes, the
// host window is made again with the same title and global content
// rectangle (shown again when the old one was visible); then Close follows
// bit 0x0008.  Refused during a redraw.
QX_EXTERN_C void WSetStyle(WindowRef window, uInt32 style);
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
// Destroys every window but the root and disposal windows and frees the
// records that wait for it (tests and tear-down).
void WDestroyAllWindows();
