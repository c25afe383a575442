// The display code's legend-update flag: set while the graph's cursor code
// writes the displays of its legend, so that the writes are taken as the
// legend's own and not as the operator's.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"

Bool32 LegendUpdating();
// Sets the flag and answers what it was.
Bool32 SetLegendUpdating(Bool32 on);
