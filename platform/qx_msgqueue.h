// Message queues of the window system.
//
// Every thread gets a queue the first time it posts, sends or retrieves.  A
// queue holds, in the order retrieval takes them:
//   1. sends from other threads: they run inside every retrieval and inside
//      every blocked send of the receiving thread, never returned;
//   2. posted messages, first in first out;
//   3. the quit request of PlatPostQuitMessage;
//   4. input (mouse and keys; only the thread that started the window system
//      gets it), cooked into messages as it is taken: first in first out,
//      and two pending moves over one window merge into the later one;
//   5. one Paint, for the topmost shown window of the thread whose update
//      region is not empty (it stays until the region is emptied).
// Every post, send, quit, input and invalidation raises the receiving
// thread's input signal (PlatThreadRaiseInput), so a thread waiting in
// ThEventWaitPumping / PlatWaitEventOrInput wakes.
#pragma once
#include <cstdint>

#include "platform/qx_window.h"

typedef uintptr_t PlatWParam;
typedef intptr_t PlatLParam;
typedef intptr_t PlatResult;

// Message codes.  User0..User4 and Quit have fixed values; the key codes
// (KeyDown..SysChar) and the mouse codes (MouseMove..MouseWheel) are
// consecutive, so callers can test ranges.
enum PlatMsgCode : uint32_t {
  kPlatMsgNull = 0,
  kPlatMsgCreate = 1,
  kPlatMsgDestroy = 2,
  kPlatMsgClose = 3,
  kPlatMsgShowWindow = 4,        // wParam 1 shown, 0 hidden
  kPlatMsgMove = 5,              // lParam: client left (low 16), top (high 16)
  kPlatMsgSize = 6,              // wParam kPlatSize*; lParam width (low 16), height (high 16)
  kPlatMsgPaint = 7,
  kPlatMsgEraseBackground = 8,   // wParam the paint DC; nonzero result: erased
  kPlatMsgActivate = 9,          // wParam kPlatWa*; lParam the other window
  kPlatMsgNcActivate = 10,       // wParam 1 on, 0 off
  kPlatMsgActivateApp = 11,      // wParam 1 active, 0 inactive
  kPlatMsgSetFocus = 12,         // wParam the window losing focus
  kPlatMsgKillFocus = 13,        // wParam the window gaining focus
  kPlatMsgMouseActivate = 14,    // wParam top-level window; lParam hit (low 16), message (high 16); result kPlatMa*
  kPlatMsgSetCursor = 15,        // wParam the window; lParam hit (low 16), message (high 16)
  kPlatMsgNcHitTest = 16,        // lParam screen x (low 16), y (high 16); result kPlatHt*
  kPlatMsgWindowPosChanging = 17,  // lParam PlatWindowPos*, which the handler may change
  kPlatMsgQuit = 0x12,           // wParam the exit code
  kPlatMsgGetMinMaxInfo = 20,    // lParam PlatMinMaxInfo*
  kPlatMsgQueryOpen = 21,        // nonzero result: the window may be restored
  kPlatMsgCancelMode = 22,
  kPlatMsgSysCommand = 23,       // wParam kPlatSc*; lParam the character for KeyMenu
  kPlatMsgNcLButtonDown = 24,    // wParam the hit code; lParam screen x (low 16), y (high 16)
  kPlatMsgDropFiles = 25,        // wParam the drop
  kPlatMsgDrawClipboard = 26,
  kPlatMsgChangeCbChain = 27,    // wParam the viewer leaving; lParam the one after it
  kPlatMsgQueryNewPalette = 28,
  kPlatMsgPaletteChanged = 29,   // wParam the window that changed it
  kPlatMsgSysColorChange = 30,
  kPlatMsgEnterMenuLoop = 31,
  kPlatMsgCaptureChanged = 32,   // lParam the window taking the capture (0: none)
  kPlatMsgQueryEndSession = 33,  // the session ends: nonzero result lets it
  kPlatMsgIconEraseBackground = 34,  // EraseBackground of a minimised window
  kPlatMsgCommNotify = 35,       // a communication device's event: wParam the device's notify id

  kPlatMsgKeyDown = 64,  // wParam virtual key; lParam repeat, scan, extended, Alt, previous, release
  kPlatMsgKeyUp = 65,
  kPlatMsgChar = 66,     // wParam the character
  kPlatMsgSysKeyDown = 67,
  kPlatMsgSysKeyUp = 68,
  kPlatMsgSysChar = 69,
  kPlatMsgKeyFirst = kPlatMsgKeyDown,
  kPlatMsgKeyLast = kPlatMsgSysChar,

  kPlatMsgMouseMove = 80,  // wParam kPlatMk* bits; lParam client x (low 16), y (high 16)
  kPlatMsgLButtonDown = 81,
  kPlatMsgLButtonUp = 82,
  kPlatMsgRButtonDown = 83,
  kPlatMsgRButtonUp = 84,
  kPlatMsgMButtonDown = 85,
  kPlatMsgMButtonUp = 86,
  kPlatMsgMouseWheel = 87,  // wParam bits low, signed delta (multiples of 120) high
  kPlatMsgMouseFirst = kPlatMsgMouseMove,
  kPlatMsgMouseLast = kPlatMsgMouseWheel,

  kPlatMsgComCall = 0x3F0,  // windowless; lParam a call of the component layer's apartments

  kPlatMsgUser0 = 1024,
  kPlatMsgUser1 = 1025,
  kPlatMsgUser2 = 1026,
  kPlatMsgUser3 = 1027,
  kPlatMsgUser4 = 1028,
};

// Activate's wParam.
enum : uint32_t { kPlatWaInactive = 0, kPlatWaActive = 1, kPlatWaClickActive = 2 };
// MouseActivate's answers.
enum : int32_t {
  kPlatMaActivate = 1,
  kPlatMaActivateAndEat = 2,
  kPlatMaNoActivate = 3,
  kPlatMaNoActivateAndEat = 4,
};
// Hit-test answers.
enum : int32_t {
  kPlatHtNowhere = 0,
  kPlatHtClient = 1,
  kPlatHtCaption = 2,
  kPlatHtBorder = 3,
  kPlatHtBottomRight = 4,
};
// Size's wParam.
enum : uint32_t { kPlatSizeRestored = 0, kPlatSizeMinimized = 1, kPlatSizeMaximized = 2 };
// SysCommand's wParam.
enum : uint32_t {
  kPlatScClose = 1,
  kPlatScMinimize = 2,
  kPlatScMaximize = 3,
  kPlatScRestore = 4,
  kPlatScKeyMenu = 5,
};
// Mouse wParam bits: the buttons and keys held.
enum : uint32_t {
  kPlatMkLButton = 0x01,
  kPlatMkRButton = 0x02,
  kPlatMkShift = 0x04,
  kPlatMkControl = 0x08,
  kPlatMkMButton = 0x10,
};
constexpr int32_t kPlatWheelStep = 120;

inline PlatLParam PlatMakeLParam(int32_t low, int32_t high) {
  return PlatLParam(int32_t((uint32_t(high) << 16) | (uint32_t(low) & 0xFFFFu)));
}
inline int32_t PlatLowWord(intptr_t v) { return int16_t(uint32_t(v) & 0xFFFFu); }
inline int32_t PlatHighWord(intptr_t v) { return int16_t(uint32_t(v) >> 16); }

// A retrieved message: the window (0 for a thread message), the code, its
// parameters, and the time (ms) and screen point of the input that made it
// (for other messages the latest ones known when it was posted).
struct PlatMsg {
  PlatWindow window;
  uint32_t message;
  PlatWParam wParam;
  PlatLParam lParam;
  uint32_t time;
  int32_t x, y;
};

// Posts to the window's thread; window 0 posts to the calling thread.  False
// with kPlatErrInvalidHandle (PlatLastError) for a window that does not exist.
bool PlatPostMessage(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam);
// Posts a message without window to a thread that has a queue; false with
// kPlatErrInvalidParam when it has none.
bool PlatPostThreadMessage(uint32_t threadId, uint32_t message, PlatWParam wParam, PlatLParam lParam);
// Calls the window's procedure and returns its result: directly on the
// window's own thread; otherwise the call is queued for that thread and the
// caller waits, serving the sends made to itself meanwhile.  0 with
// kPlatErrInvalidHandle for a window that does not exist; 0 when the
// window's thread ends before answering.
PlatResult PlatSendMessage(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam);
// Inside a send from another thread: answers it now (the sender goes on;
// what the procedure returns later is dropped).  False when there is no
// such send or it was answered already.
bool PlatReplyMessage(PlatResult result);
// True while the calling thread runs a send from another thread.
bool PlatInSendMessage();
// Answers with 0 and drops the sends from other threads waiting for the
// calling thread, for that window (0: any) and message; returns how many.
int32_t PlatAnswerPendingSends(PlatWindow w, uint32_t message);

enum : uint32_t { kPlatPeekNoRemove = 0, kPlatPeekRemove = 1 };
// Takes the next message for the calling thread, in the order above, whose
// window is w (0: any) and whose code lies in first..last (both 0: any).
// Without kPlatPeekRemove the message stays (input is not cooked then: the
// raw event is reported as the message it will become, for the window under
// the pointer).  False when there is none.
bool PlatPeekMessage(PlatMsg* msg, PlatWindow w, uint32_t first, uint32_t last, uint32_t flags);
// Waits for and takes the next message; false for Quit (the message is
// still stored) and for a null msg.
bool PlatGetMessage(PlatMsg* msg, PlatWindow w, uint32_t first, uint32_t last);
// Runs the procedure of the message's window with it; 0 for no window.  A
// windowless ComCall goes to the component layer's call procedure.
PlatResult PlatDispatchMessage(const PlatMsg* msg);
// The procedure that runs windowless ComCall messages (null: none).
void PlatSetComCallProc(void (*proc)(PlatLParam call));
// Puts the character message that a key-down message makes (Char, or
// SysChar while Alt is held) in front of the calling thread's input;
// false when the message makes none.
bool PlatTranslateMessage(const PlatMsg* msg);
// The calling thread's queue ends its get loop once posts are drained.
void PlatPostQuitMessage(int32_t exitCode);
// Time and screen point of the message last retrieved by the calling thread.
uint32_t PlatGetMessageTime();
void PlatGetMessagePos(int32_t* x, int32_t* y);
// True when the calling thread has something to retrieve (a message of any
// kind, or a paint).
bool PlatQueueHasWork();
