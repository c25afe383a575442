// The program's start-up and shut-down: the hooks between the layers, the
// managers, the engine with its run-time function table, and file refnums.
#pragma once
#include "mgsource/extcode.h"

// The hooks between the layers, filled before the managers start.
void AppInstallHooks();
// The shell's calls of VIs by path, through the VI server (part of the above).
void AppInstallCallHooks();
// After the managers and the shell's start: the run-time function table
// and the classes' slots closed; 0, or the error that stops start-up.
MgErr AppStartEngine();
// All of it with the managers, for programs that run without the entry:
// 0, or the error that stops start-up.
MgErr AppStartup(int argc, char** argv);
// AppStartup with the hooks already installed (a test driver may replace
// some of them in between).
MgErr AppStartInstalled(int argc, char** argv);
// Undoes AppStartup, the execution systems first.
void AppShutdown();
