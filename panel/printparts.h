// What printing asks of the object system: the print layout's hooks (the
// VI's panel heap, its rectangles, the key focus, the part-list messages,
// the imaging mode panel objects read while they draw, panel/objdraw.h).
#pragma once
#include "mgsource/extcode.h"
#include "panel/objdraw.h"

// Fills the print layout's hooks (start-up).
void PanelInstallPrintHooks();

// The busy cursor (UpdateCursor) is in panel/osupport.h.
