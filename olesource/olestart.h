// What the program's start-up does for the automation client and the
// variant type: the engine's hooks and the run-time table's entries.
#pragma once
#include "mgsource/extcode.h"

// The variant's data procedures and the type manager's comparison and
// byte-order conversion of automation refnum types.
void OleInstallEngineHooks();
// Registers the variant, argument and automation routines of the run-time
// function table.
MgErr QXRTRegisterOle();
