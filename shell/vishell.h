// What the shell does for the engine's VIs: the run-time menu records of
// running VIs, the invalid-library alert, and the start-up registration of the shell's services with the engine and the
// run-time function table.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// The run-time menu record of a VI: made when the VI starts running,
// disposed with its menu bar and refnum.  2 when memory is short.
QX_EXTERN_C MgErr RTMNewVIMenuRef(UHandle vi);
QX_EXTERN_C void RTMDisposeVIMenuRef(UHandle vi);
Bool32 RTMHasVIMenuRef(UHandle vi);

// Fills the engine's shell hooks (the invalid-library alert among them);
// called at start-up.
void ShellInstallEngineHooks();
// Registers the shell's routines in the run-time function table.
MgErr QXRTRegisterShell();
