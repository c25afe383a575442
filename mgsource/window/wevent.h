// The window manager's event records and its own event queue.
//
// Events travel as records of ten 32-bit words.  The queue holds copies of
// posted records with a priority that ties each to a nesting level of the
// main loop; the user-interface thread takes them one at a time.  WPostEvent
// may be called from any thread; everything else runs on the user-interface
// thread.  All of it serialises on the queue's mutex "WEventQueueRights".
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/thread.h"

// A window reference: a window of the window manager (window.h), or one of
// these.
typedef int32 WindowRef;
enum : WindowRef {
  kWNoWindow = 0,        // no window
  kWCurrentWindow = -1,
  kWRootWindow = -2,     // the application's own events
  kWAllWindows = -3,
};

// Word 0, word 4 and word 6 of an event record.
typedef int32 WEventCode;
typedef int32 WModifiers;
typedef int32 WKeyCode;

struct WEventRecord {
  WEventCode code;       // word 0
  WindowRef window;      // word 1
  int32 where;           // word 2: a point (v low, h high), or a data word
  int32 globalWhere;     // word 3
  WModifiers modifiers;  // word 4
  int32 character;       // word 5
  WKeyCode keyCode;      // word 6
  int32 data[3];         // words 7 to 9
};
static_assert(sizeof(WEventRecord) == 40 && offsetof(WEventRecord, data) == 28, "event record: ten words");

// Event codes: those the system names, and the unnamed ones it posts itself.
enum : WEventCode {
  kWEvNull = 0,
  weMouseDown = 1,
  weMouseUp = 2,
  weMouseMove = 3,
  weMouseIdle = 4,
  weKey = 6,
  weKeyRepeat = 7,
  weWindActivate = 8,
  weWindDeactivate = 9,
  weWindSize = 10,   // where = 1 when sizing is finished
  weWindMove = 11,
  weWindShow = 12,
  weWindHide = 13,
  weWindDraw = 14,   // where and globalWhere: the update rectangle, local
  kWEvClose = 15,
  wePopupClick = 19,
  weMenuSelect = 20,
  kWEvDialogQuit = 37,
  weKillFocus = 39,  // where = the window becoming active
  weSetFocus = 40,   // where = the window that was active
  kWEvRestored = 47,  // after the first redraw of a window restored from its icon
  weWindCreate = -3,
  weMenuInit = -106,
  kWEvUser = -1000,
};

// Priority kinds of WPostEvent.
enum : int32 { kWPostAnyLevel = 0, kWPostTopLevel = 1, kWPostOuterLevel = 2 };
// Priorities stored with an entry.
constexpr int32 kWPriorityAnyLevel = 32767;

// Creates (start non-zero) or disposes the queue and its mutex; the mutex
// creation's error, 2 when the queue cannot be allocated.  Starting it also
// installs the window manager's input test (WInputWaiting, wservices.h)
// unless another is installed; disposing it removes that test.
QX_EXTERN_C MgErr WEventQueueInit(Bool32 start);
// Whether the queue exists (whoever made it disposes it).
Bool32 WEventQueueExists();
// Appends a copy of the event: 0, 2 without a queue, or the memory error
// when the queue cannot grow (nothing added).  With noDuplicate an equal
// queued event (same window and code; for user events words 2 to 7 too)
// makes the post do nothing.
QX_EXTERN_C MgErr WPostEvent(const WEventRecord* event, Bool32 noDuplicate, int32 priorityKind);
// Takes the first eligible event into *event: 1, or 0 when none is.
QX_EXTERN_C int32 WGetNextEvent(WEventRecord* event);
// The number of entries from the first eligible one to the end.
QX_EXTERN_C int32 WCountPendingEvents();
// Calls predicate(arg, copy of the record, data) for each queued event,
// without the mutex held; an event it accepts becomes a null event
// addressed to the disposal window (WEventSetDisposalWindow), which handles
// none.  Entries posted meanwhile are visited too.
typedef int32 (*WEventPredicate)(WindowRef arg, const WEventRecord* event, void* data);
QX_EXTERN_C void WPurgeEvents(WindowRef arg, WEventPredicate predicate, void* data);
// Purges the events addressed to the window.
QX_EXTERN_C void WPurgeWindowEvents(WindowRef window);
// The index of a queued event equal to the record (the duplicate rule), -1.
QX_EXTERN_C int32 WFindQueuedEvent(const WEventRecord* event);

// The main loop's side: the start-up gate (until it is opened only dialog
// quit events leave the queue), the nesting level and the tracking flag, and
// the wake-up event that a post signals.
void WEventSetGate(Bool32 open);
void WEventSetLoopState(int32 nestingLevel, Bool32 tracking);
Bool32 WEventTracking();
void WEventSetWakeUp(ThEvent event);
ThEvent WEventWakeUp();
// The window purged events are addressed to (no window until the window
// manager names its disposal window).
void WEventSetDisposalWindow(WindowRef window);
