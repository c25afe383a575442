// The program's start-up and shut-down: the hooks between the layers, the
// managers, the engine with its run-time function table, and file refnums.
#pragma once
#include "mgsource/extcode.h"

// 0, or the error that stops start-up.
MgErr AppStartup(int argc, char** argv);
// Undoes AppStartup, the execution systems first.
void AppShutdown();
