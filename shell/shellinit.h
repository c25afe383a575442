// The shell's part of start-up and shut-down for the engine: the run-time
// resource file (the executable itself, opened read-only through its
// trailer), the temporary resource file, the linker with its load methods,
// the execution systems and the type heap, the memory-full texts; and the
// services the search for VI files asks of the shell.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Reads the VI search path from the configuration ("viSearchPath", a list
// of paths); 0, or the configuration's error (the search path is then empty).
MgErr ShellReadSearchPath();
// Fills the search's shell services (alerts, folders); called at start-up.
void ShellInstallFindHooks();
// Hands the engine's posted user events to the event queue; called with
// the other hooks before start-up.
void ShellInstallExecEvents();
// After the managers: 0, or the error that stops start-up.
MgErr ShellInitEngine();
// Before the managers stop: the execution systems first.
void ShellFinishEngine();
