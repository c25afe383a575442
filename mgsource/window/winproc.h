// The host window procedures of the window manager and the translation of
// host input into event records: keys through the key table, the modifier
// word, mouse points and click counting.
//
// QXDChildWinProc serves every document, dialog and floating window,
// QXFrameProc the hidden frame window that carries the application-wide
// notifications, QXMenuWndProc the windows of the system's own menus.
// Start-up registers them; all of it runs on the user-interface thread.
#pragma once
#include "mgsource/window/wevent.h"
#include "platform/qx_msgqueue.h"

// Key codes of word 6.
enum : WKeyCode {
  vkClear = 1,
  vkEnter = 2,
  vkBreak = 3,
  vkUp = 4,
  vkDown = 5,
  vkLeft = 6,
  vkRight = 7,
  vkInsert = 8,
  vkDelete = 9,
  vkHome = 10,
  vkEnd = 11,
  vkPageUp = 12,
  vkPageDown = 13,
  vkHelp = 14,
  vkF1 = 15,
  vkF10 = 24,
  vkF12 = 26,
  vkAscii = 27,  // an ordinary character: the character word holds it
  vk2ByteChar = 28,
  vk4ByteChar = 29,
  vkCut = 30,
  vkCopy = 31,
  vkPaste = 32,
  vkRestore = 33,
  vkFinish = 34,
  vkPopupMenuBar = 36,  // the menu-bar key: Alt+letter, F10, Alt alone
};

// Modifier bits of word 4.
enum : WModifiers {
  kWModShift = 0x0002,
  kWModCapsLock = 0x0004,
  kWModCtrl = 0x0031,
  kWModLeftOrAlt = 0x0040,
  kWModMiddle = 0x0200,
  kWModRight = 0x0400,
  kWModExtendedKey = 0x0200,  // key events
  kWModRepeat = 0x0800,       // key events: a repeat count other than 1
  kWModSingleClick = 0x0040,  // mouse presses: the click count
  kWModDoubleClick = 0x0080,
  kWModTripleClick = 0x0180,
};

// Event codes the procedures and the main loop make.
enum : WEventCode {
  kWEvTrackOver = 5,
  kWEvAppDeactivated = 17,
  kWEvAppActivated = 18,
  kWEvClipboardChanged = 28,
  kWEvTimer = 29,
  kWEvLeaveRootLoop = 48,
  kWEvWheel = 49,
  kWEvQuit = -19,
};

// The three window procedures.
PlatResult QXDChildWinProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam);
PlatResult QXFrameProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam);
PlatResult QXMenuWndProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam);

// Fills the key table (512 entries of character and key code; the Shift
// half from 256) from the layer's US-layout key scan and the named keys.
QX_EXTERN_C void WBuildKeyTable();
// The entry of a table index (0 to 511): character in the low byte, key
// code in the high byte; 0 for an index outside the table.
uInt16 WKeyTableEntry(int32 index);
// Fill a key event from a key message (KeyDown/KeyUp) or a character
// message (Char/SysChar); 1 when the event is to be sent.
QX_EXTERN_C int32 WTranslateKeyDown(PlatLParam lParam, uInt32 virtualKey, WEventRecord* event);
QX_EXTERN_C int32 WTranslateChar(PlatLParam lParam, uInt32 character, WEventRecord* event);
// The modifier word from the key and button state.
QX_EXTERN_C WModifiers WGetModifiers();
// Sets the global mouse point from a client point of the window's host
// window (null: keeps it), stores it in globalWhere and, local to the
// window, in where, and records it as the last mouse point.
QX_EXTERN_C void WFillMousePoint(WindowRef window, WEventRecord* event, const Point* clientPoint);
// 0x40, 0x80 or 0x180 for a single, double or triple click of the button
// (1 left, 2 right) at the time and global point.
QX_EXTERN_C int32 WClickCount(uInt32 time, Point globalPoint, int32 button);
// Clears the main loop's per-message flag: a message re-addressed to a
// top-level window is not passed on to the window it was meant for.
QX_EXTERN_C void WMarkMsgHandled();

// The global mouse point as last recorded (by the main loop or
// WFillMousePoint); the last point a mouse event carried.
void WSetGlobalMousePoint(Point global);
Point WGlobalMousePoint();
Point WLastMousePoint();
// Packs a point into a word: vertical in the low half.
inline int32 WPackPoint(Point p) { return int32((uInt32(uInt16(p.h)) << 16) | uInt16(p.v)); }

// The settings the shell reads for the procedures: "useAllFKeys" (F10 is an
// ordinary key), "dropThroughClicks" (a click that activates a window is
// delivered too), "lazyUpdateClipboard" (clipboard changes are announced
// only when the application is activated).
struct WWinProcOptions {
  Bool32 useAllFKeys;
  Bool32 dropThroughClicks;
  Bool32 lazyUpdateClipboard;
};
void WSetWinProcOptions(const WWinProcOptions& options);
WWinProcOptions WGetWinProcOptions();

// The menu-key pass-on flag: a handler of the menu-bar key event (key code
// 36 from SysCommand KeyMenu) claims the key by clearing it, and the host's
// own menu handling is then skipped.
void WClaimMenuKey();
// The application is inactive (another application is in front).
Bool32 WAppInactive();

// What the procedures ask of the layers above, filled at start-up; each
// missing one does nothing (the engine state 0).
struct WWinProcHooks {
  void (*rebuildToolBar)();                        // after a change of colour depth
  void (*quitIfNoVIWindows)();                     // activation in automation mode
  void (*networkNotify)(PlatWParam, PlatLParam);   // frame message 1024
  void (*prodDriver)(uInt32 driver);               // frame message 1025
  void (*commNotify)(PlatWParam notifyId);         // a communication device's event
  void (*dropFiles)(WindowRef window, PlatWParam drop);
  PlatWindow (*openMenuWindow)();                  // the host window of the open menu, 0
};
// The window after the frame in the clipboard viewer chain (start-up joins
// the chain; the frame leaves it when destroyed).
void WSetNextClipboardViewer(PlatWindow next);

// Installs the given (non-null) hooks; returns the former set.
WWinProcHooks WSetWinProcHooks(const WWinProcHooks& hooks);

// Messages the frame window takes.
enum : uint32_t {
  kWFrameNetwork = kPlatMsgUser0,
  kWFrameProdDriver = kPlatMsgUser1,
  kWFrameOccurrence = kPlatMsgUser2,
  kWFrameEngineTime = kPlatMsgUser3,
  kWFrameActivation = kPlatMsgUser4,
};
