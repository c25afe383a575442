// The main loop's idle procedure: the user-interface thread's slice of the
// user-interface execution system.
#pragma once
#include "mgsource/extcode.h"

// Runs the user-interface slot's clumps for one slice (short when asked):
// 0 when it is running already, when the caller is not the user-interface
// thread, or when no VI runs; while a VI runs, 2 when the user-interface
// thread holds an element or its run queue is not empty, else 1.
QX_EXTERN_C int32 WBackground(Bool32 shortSlice);
// The same answer without running anything: 0 when the user-interface
// context is busy (a slice runs), is not this thread's or no VI runs; 2 when
// it holds an element or its run queue is not empty; else 1.
QX_EXTERN_C int32 MainLoopExecState();
// Clears the flag that a VI runs (the engine-active flag both read).
void ShellClearEngineActive();
// Gives the window manager's main loop the shell's services (the time
// slice, the engine state); installed with the program's hooks.
void ShellInstallMainLoopHooks();
// Gives the window procedures and the main loop the settings "useAllFKeys",
// "dropThroughClicks", "lazyUpdateClipboard", "CheckWindowsQueueMsgTime" and
// "trackTimeout" of the configuration file.
void ShellReadMainLoopOptions();
// The input script's idle hook: one turn of the main loop without waiting;
// true when the loop would now block with nothing to do (the engine state
// 0, no event and no message waiting) or quits.  A turn that found nothing
// while work goes on elsewhere (a clump on an execution thread) sleeps 1 ms.
bool ShellIdleTurn();
