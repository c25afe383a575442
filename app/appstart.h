// The program's start-up and shut-down: the hooks between the layers, the
// managers, the engine with its run-time function table, and file refnums.
#pragma once
#include "mgsource/extcode.h"

// Every hook between the layers, filled before the managers start: the one
// start-up routine of the program (and of the tests that check the hooks).
void AppInstallHooks();
// The run commands' panel refresh at a change of the VI's run state.
void AppRefreshPanel(UHandle vi);
// The status of the input script run before the main loop (0: none, or it
// ran to its end).
int AppScriptStatus();
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
