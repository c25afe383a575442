// What the shell does for the engine's VIs: the help window's target, the
// run-time menu records of running VIs, the invalid-library alert, and the
// start-up registration of the shell's services with the engine and the
// run-time function table.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// The object the help window describes (panel heap and object, 0 for none).
void HelpSetTarget(ObjHeap panel, int32 object);
void HelpGetTarget(ObjHeap* panel, int32* object);
// Clears the help window's target: any target for a null panel, else a
// target in that panel (and, with an object given, only that object).
QX_EXTERN_C void HelpClearTarget(ObjHeap panel, int32 object);

// The run-time menu records of VIs.
#include "shell/rtmenu.h"

// Fills the engine's shell hooks (the invalid-library alert among them);
// called at start-up.
void ShellInstallEngineHooks();
// Registers the shell's routines in the run-time function table.
MgErr QXRTRegisterShell();
