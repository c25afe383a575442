// What the shell does for the engine's VIs: the run-time menu records of
// running VIs, the invalid-library alert, and the start-up registration of the shell's services with the engine and the
// run-time function table.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// The run-time menu records of VIs.
#include "shell/rtmenu.h"

// Fills the engine's shell hooks (the invalid-library alert among them);
// called at start-up.
void ShellInstallEngineHooks();
// Registers the shell's routines in the run-time function table.
MgErr QXRTRegisterShell();
