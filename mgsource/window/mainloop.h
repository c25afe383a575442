// The user-interface thread's main loop, its idle wait, mouse tracking and
// the window timers.
//
// One turn of WMainLoop takes one host message, one event of the window
// manager's own queue, runs due occurrences and gives the engine a time
// slice; with nothing to do it sleeps until input arrives or another thread
// posts an event.  Loops nest (modal dialogs run one inside another); the
// nesting level decides which queued events are taken.  Everything here runs
// on the user-interface thread.
#pragma once
#include "mgsource/window/wevent.h"
#include "platform/qx_msgqueue.h"

// Runs turns until WQuit or WQuitNestedMainLoop ends it; with wait 0 exactly
// one turn.  The second argument is not used.  Whether the last turn had a
// message.
QX_EXTERN_C Bool32 WMainLoop(Bool32 wait, int32 reserved);
// Ends the innermost loop after its current turn.
QX_EXTERN_C void WQuitNestedMainLoop();
// Ends every loop: no event is delivered after it.
QX_EXTERN_C void WQuit();
// Posts the quit event -19 to the root window (outermost level, once).
QX_EXTERN_C void WPostQuitEvent();
// Runs a loop from the root level (nesting level and current window 0);
// event 48 ends it.
QX_EXTERN_C void WRunRootMainLoop();
// 1 when the nesting level plus the tracking flag is below 2.
QX_EXTERN_C Bool32 WIsAtRootLevel();
// Marks the begin (1) and end (0) of a host modal loop (moving or sizing a
// window, the system menu): while on, the frame is sent engine-time
// messages.
QX_EXTERN_C void WSetModalPump(Bool32 on);
// 0 when an eligible event waits; else 1 with the wait in *timeoutMs:
// infinite (0xFFFFFFFF) without a deadline, else the milliseconds left (one
// less when more than one), 0 when it passed.
QX_EXTERN_C Bool32 WIdleWaitTime(Bool32 hasDeadline, uInt32 deadline, uInt32* timeoutMs);
// Sets the application cursor override (0: the active window's own
// cursor); returns the previous one.
QX_EXTERN_C int32 WSetCursor(int32 cursor);
// The override in force, 0 for none.
int32 WCursorOverride();

// Mouse tracking: while it runs the mouse is captured for the current
// window, the child procedures ignore input and the queue's effective level
// is one higher.
QX_EXTERN_C void WStartTrack();
// The next tracking event of the current window: 3 move, 1 left press, 2
// release, 19 right press, 49 wheel, key events (the system ones with key
// code 36), 4 when the time-out (ms; -1 none) passed or the mouse did not
// move, 5 when tracking is over.
QX_EXTERN_C void WGetTrackEvent(WEventRecord* event, int32 timeout);
QX_EXTERN_C void WEndTrack();

// Window timers: each fires once, as event 29 to its window with the id in
// where.  WStartTimer: 1, or 0 when the window has a timer of that id
// already or the list cannot grow.  WKillTimer: 1 when one was removed.
// WCheckTimers: the number that fired.
QX_EXTERN_C int32 WStartTimer(WindowRef window, int32 interval, int32 id);
QX_EXTERN_C int32 WKillTimer(WindowRef window, int32 id);
QX_EXTERN_C int32 WCheckTimers();
QX_EXTERN_C void WKillWindowTimers(WindowRef window);
// Makes (start non-zero) or frees the timer list and its occurrence; 0 or
// the memory error.
MgErr WTimersInit(Bool32 start);

// The loop's state, for the procedures and tests.
int32 WNestingLevel();
Bool32 WQuitting();
Bool32 WTracking();
// 0 running, 1 ended, 2 cancelled by a change of activation.
int32 WTrackState();
void WSetTrackState(int32 state);
Bool32 WModalPumpOn();
// The engine state of the last slice: 0 no time wanted, 1 some, 2 run now.
int32 WEngineState();
// Raises (or lowers) the nesting level the queue sees.
void WAdjustNesting(int32 delta);
// Gives the engine its slice now (the frame's engine-time message); returns
// the new engine state.
int32 WGiveEngineSlice(Bool32 shortSlice);
// The "CheckWindowsQueueMsgTime" setting: slices also between messages.
void WSetCheckQueueMsgTime(Bool32 on);

// What the loop asks of the layers above, filled at start-up: the engine's
// time slice and state (none: state 0), the pop-up menu code's pending work,
// and the device layer's engine-time sender (turned on and off with the
// modal pump).
struct WMainLoopHooks {
  int32 (*background)(Bool32 shortSlice);
  int32 (*execState)();
  void (*popupMenuWork)();
  void (*modalPump)(Bool32 on);
};
// Installs the given (non-null) hooks; returns the former set.
WMainLoopHooks WSetMainLoopHooks(const WMainLoopHooks& hooks);
// Puts every hook back to none (tests).
void WResetMainLoopHooks();
// Clears the quit flag and the loop's state (start-up and tests).
void WResetMainLoop();
