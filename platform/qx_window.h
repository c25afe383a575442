// Host windows of the platform layer.
//
// A window is a record in this process: a class (its procedure and
// background), styles, an owner, the frame rectangle in screen coordinates,
// a client area inside the frame, a title, a shown flag, a size state, one
// user word, the thread that owns it, and its place in the z-order (front
// first).  Topmost windows form a band in front of all others; an owned
// window stays directly in front of its owner and moves with it.  A window
// made with kPlatWsChild is a child of its owner (its parent): it lies on
// the parent's client area, stays out of the z-order of the top-level
// windows, is never activated, moves with its parent and is painted after
// the top-level windows of its thread.  The client
// area is drawn into a retained surface (qx_paint.h), so windows covering
// each other never need repainting.
//
// The calls are safe from any thread.  Procedures run on the window's own
// thread (qx_msgqueue.h).  Stale handles fail with kPlatErrInvalidHandle.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"

// A window id; 0 is none.
typedef int32_t PlatWindow;

// Window styles.
enum : uint32_t {
  kPlatWsVisible = 0x1,
  kPlatWsCaption = 0x2,      // a title bar (19 pixels) and a dialog frame
  kPlatWsThickFrame = 0x4,   // a sizing frame
  kPlatWsDlgFrame = 0x8,     // a dialog frame
  kPlatWsBorder = 0x10,      // a one-pixel border
  kPlatWsSysMenu = 0x20,
  kPlatWsMinimizeBox = 0x40,
  kPlatWsMaximizeBox = 0x80,
  kPlatWsPopup = 0x100,
  kPlatWsClipChildren = 0x200,
  kPlatWsDisabled = 0x400,
  kPlatWsChild = 0x800,      // a child of its owner; fixed at creation
};
// Extended styles.
enum : uint32_t {
  kPlatWsExTopmost = 0x1,
  kPlatWsExClientEdge = 0x2,     // a sunken edge of 2 pixels around the client area
  kPlatWsExWindowEdge = 0x4,
  kPlatWsExDlgModalFrame = 0x8,  // a dialog frame
  kPlatWsExToolWindow = 0x10,
  kPlatWsExAppWindow = 0x20,
  kPlatWsExAcceptFiles = 0x40,   // takes files dropped on it (qx_drop.h)
};
// Class styles.
enum : uint32_t { kPlatCsSaveBits = 0x1 };
constexpr uint32_t kPlatNoBrush = 0xFFFFFFFFu;

// Window procedure (qx_msgqueue.h has the message codes).
typedef intptr_t (*PlatWindowProc)(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct PlatWindowClass {
  const char* name;
  PlatWindowProc proc;  // null: the default procedure
  uint32_t style;
  uint32_t background;  // 0x00BBGGRR, or kPlatNoBrush (no EraseBackground then)
};
// False when the name is taken or missing; at most 64 classes.
bool PlatRegisterClass(const PlatWindowClass& cls);
bool PlatUnregisterClass(const char* name);

// Creates a window of a registered class (null: the default procedure, no
// background), with the frame rectangle in screen coordinates, in front of
// the others of its band (directly in front of its owner when it has one).
// With kPlatWsChild and an owner it is a child of the owner instead; a child
// without an owner fails.
// Sends Create (a result of -1 destroys it again and gives 0), then shows it
// when the style has kPlatWsVisible.  The title is cut to 255 characters.
// Its thread is the calling one.  0 on failure.
PlatWindow PlatCreateWindow(const char* className, const char* title, uint32_t style,
                            uint32_t exStyle, const PlatRect& frame, PlatWindow owner);
// Destroys the windows it owns, then it: hides it (activation passes to its
// owner), ends a capture it has, sends Destroy, and forgets it; its queued
// posts are dropped.  False for a window that does not exist.
bool PlatDestroyWindow(PlatWindow w);
bool PlatIsWindow(PlatWindow w);

// The frame thickness (left, top, right, bottom) of a style: thick frame 4,
// else a dialog frame (caption, dialog frame, modal frame) 3, else border 1;
// a client edge adds 2 and a caption 19 on top.
PlatRect PlatFrameInsets(uint32_t style, uint32_t exStyle);
// Turns a client rectangle into the frame rectangle for the styles.
void PlatAdjustWindowRect(PlatRect* rect, uint32_t style, uint32_t exStyle);

bool PlatGetWindowRect(PlatWindow w, PlatRect* frame);
// The client area at (0, 0).
bool PlatGetClientRect(PlatWindow w, PlatRect* client);
bool PlatClientToScreen(PlatWindow w, int32_t* x, int32_t* y);
bool PlatScreenToClient(PlatWindow w, int32_t* x, int32_t* y);
uint32_t PlatGetWindowStyle(PlatWindow w);
uint32_t PlatGetWindowExStyle(PlatWindow w);
// Set the style or the extended style and return the previous one (0 with
// kPlatErrInvalidHandle for a window that does not exist).  The shown and
// disabled bits stay as PlatShowWindow and PlatEnableWindow left them, the
// topmost bit as the z-order has it (PlatSetWindowPos).  When the frame
// changes, the client area follows at once: WindowPosChanging, then Move
// and Size as they changed.
uint32_t PlatSetWindowStyle(PlatWindow w, uint32_t style);
uint32_t PlatSetWindowExStyle(PlatWindow w, uint32_t exStyle);
PlatWindow PlatGetOwner(PlatWindow w);
// The parent of a child window; 0 for a top-level window or none.
PlatWindow PlatGetParent(PlatWindow w);
// The child windows of a window in the order they were made; returns how
// many it has (at most max are stored).
int32_t PlatGetChildWindows(PlatWindow w, PlatWindow* out, int32_t max);
// The thread that owns the window; 0 for none.
uint32_t PlatGetWindowThread(PlatWindow w);
bool PlatSetWindowWord(PlatWindow w, intptr_t value);
intptr_t PlatGetWindowWord(PlatWindow w);
bool PlatIsWindowVisible(PlatWindow w);
bool PlatIsIconic(PlatWindow w);
bool PlatIsZoomed(PlatWindow w);
bool PlatEnableWindow(PlatWindow w, bool enable);
bool PlatIsWindowEnabled(PlatWindow w);
// The Close command of the window's system menu: while disabled,
// SysCommand(Close) does nothing.  Enabled at creation.
bool PlatEnableClose(PlatWindow w, bool enable);
bool PlatIsCloseEnabled(PlatWindow w);
// The frame rectangle the window has when neither minimised nor maximised.
bool PlatGetRestoredRect(PlatWindow w, PlatRect* frame);
// The shown, enabled window in front at a screen point; 0 for the desktop.
PlatWindow PlatWindowFromPoint(int32_t x, int32_t y);

// What WindowPosChanging carries (its handler may change it) and
// SetWindowPos takes.
enum : uint32_t {
  kPlatSwpNoSize = 0x1,
  kPlatSwpNoMove = 0x2,
  kPlatSwpNoZOrder = 0x4,
  kPlatSwpNoActivate = 0x8,
  kPlatSwpShowWindow = 0x10,
  kPlatSwpHideWindow = 0x20,
};
// insertAfter: a window to go directly behind, or one of these.
constexpr PlatWindow kPlatInsertTop = 0;
constexpr PlatWindow kPlatInsertBottom = 1 << 30;
constexpr PlatWindow kPlatInsertTopmost = -1;
constexpr PlatWindow kPlatInsertNoTopmost = -2;
struct PlatWindowPos {
  PlatWindow window;
  PlatWindow insertAfter;
  int32_t x, y, cx, cy;  // frame position and size
  uint32_t flags;
};
struct PlatMinMaxInfo {
  int32_t minWidth, minHeight, maxWidth, maxHeight;  // frame sizes while sizing
};
// Sends WindowPosChanging, then applies what it left: z-order (a topmost
// insert moves the window into the topmost band, a no-topmost one out of it;
// owned windows follow their owner), frame rectangle, shown state, and
// activation unless kPlatSwpNoActivate (only when showing or raising).
// Child windows keep no z-order and are never activated; when the client
// area moves, the frames of all its descendants move by as much (without
// messages of their own).  Then sends Move and Size as they changed.
bool PlatSetWindowPos(PlatWindow w, PlatWindow insertAfter, int32_t x, int32_t y, int32_t cx,
                      int32_t cy, uint32_t flags);
bool PlatMoveWindow(PlatWindow w, const PlatRect& frame);

enum : int32_t {
  kPlatSwHide = 0,
  kPlatSwShowNormal = 1,     // shows and activates; restores a minimised or maximised one
  kPlatSwShowNoActivate = 2,
  kPlatSwShow = 3,           // shows and activates, keeping the size state
  kPlatSwMinimize = 4,
  kPlatSwMaximize = 5,
  kPlatSwRestore = 6,
};
// Returns whether the window was shown before.
bool PlatShowWindow(PlatWindow w, int32_t command);

// The windows front first; returns how many exist (at most max are stored).
int32_t PlatWindowZOrder(PlatWindow* out, int32_t max);

// The title, cut to 255 characters.  GetTitle copies at most size - 1
// characters, NUL-terminated, and returns the full length, -1 for a window
// that does not exist.
bool PlatWindowSetTitle(PlatWindow w, const char* title);
int32_t PlatWindowGetTitle(PlatWindow w, char* out, int32_t size);

// The work area: the whole screen (0, 0, display width, height), unless a
// test set another one (until PlatWindowsReset).
void PlatSetWorkArea(const PlatRect& area);
PlatRect PlatGetWorkArea();

// Simple windows by their content rectangle, for callers that keep their own
// records: no class, no messages of their own beyond the defaults.
enum : uint32_t {
  kPlatFrameCaption = 0x1,  // a title bar and a dialog frame
  kPlatFrameSizable = 0x2,  // a thick, sizing frame
  kPlatFrameBorder = 0x4,   // a one-pixel border
  kPlatFrameEdge = 0x8,     // a sunken edge around the content
};
// A hidden window in front of the others with that content rectangle.
PlatWindow PlatWindowCreate(const PlatRect& content, const char* title, uint32_t frame);
bool PlatWindowDestroy(PlatWindow w);
bool PlatWindowExists(PlatWindow w);
bool PlatWindowSetContent(PlatWindow w, const PlatRect& content);
// Gives the window another frame kind: the content rectangle stays and the
// frame rectangle is made around it again, as at creation.
bool PlatWindowSetFrame(PlatWindow w, uint32_t frame);
bool PlatWindowGetContent(PlatWindow w, PlatRect* content);
// Shows without activating, or hides.
bool PlatWindowShow(PlatWindow w, bool shown);
bool PlatWindowIsShown(PlatWindow w);
// Moves the window in front of the others of its band, without activating it.
bool PlatWindowRaise(PlatWindow w);
// The frame thickness of a frame kind, as PlatFrameInsets.
PlatRect PlatWindowFrameMargins(uint32_t frame);

// Destroys every window, forgets activation, capture, classes and the
// frame, and restores the default work area (tests).
void PlatWindowsReset();
