// What the engine asks of the window manager: whether input waits, and the
// process-wide count of component-layer initialisations made by the
// execution threads.
#pragma once
#include "mgsource/extcode.h"

// Non-zero when a window event or message waits; runs ChkOccurrences first.
// The window system fills the test at start-up; until then no input waits.
QX_EXTERN_C int32 WEventAvail();
typedef Bool32 (*WInputWaitsProc)();
void WSetInputWaitsProc(WInputWaitsProc proc);
WInputWaitsProc WGetInputWaitsProc();
// The window manager's own test, which its start-up installs (the event
// queue's, WEventQueueInit): an eligible event of the own queue, mouse
// tracking, the application being inactive, or, on the window-system
// thread, a message or display input waiting for it.  A mouse move counts
// only over an active window whose idle region wants it; a first waiting
// move elsewhere is dropped and counts as nothing.
Bool32 WInputWaiting();

// The COM counter: each component-layer initialisation of an execution
// thread that answered "done" or "done already" adds 1.  The OLE shut-down of
// the process (WOleShutdown, on the thread that initialised OLE) undoes that
// many (ComCounterUndo) before it undoes the OLE initialisation of its own
// thread, and the counter is 0 again.
void ComCounterAdd();
int32 ComCounter();
// The counted initialisations were made on the execution threads, which have
// ended when OLE shuts down, and on this layer a thread's initialisations end
// with it.  Undoing them here on the calling thread would take that thread's
// own initialisations away instead, so the undo gives the count back and
// leaves every live thread's initialisations alone.
void ComCounterUndo();
void WOleShutdown();
