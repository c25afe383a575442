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

// The COM counter: each component-layer initialisation of an execution
// thread that answered "done" or "done already" adds 1; the shut-down of the
// component layer undoes that many on its own thread (ComCounterUndo), and
// the counter is 0 again.
void ComCounterAdd();
int32 ComCounter();
void ComCounterUndo();
