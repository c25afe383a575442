// The managers' start-up and tear-down, in their fixed order: the live
// configuration words take their compiled-in defaults, the
// configuration file is chosen, the memory manager starts (and nothing else
// when it fails), then the debug output, threads, the support constants
// (which stop start-up when they fail), resources, files and occurrences.
// Tear-down stops the occurrences first, then resources, files, the
// support state and the debug output, and the memory manager last.
#pragma once
#include "extcode.h"

// 0, or the error of the step that stopped start-up.
QX_EXTERN_C MgErr MgStartup(int32 argc, const char* const* argv);
QX_EXTERN_C void MgTeardown();
