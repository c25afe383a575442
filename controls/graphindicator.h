// A graph or chart turned into an indicator or back (message 43): its own
// controls (parts 8001, the digital displays) follow it.
#pragma once
#include "mgsource/objheap.h"

// Sends OSetIndicator to every part 8001, then sets or clears the graph's
// own indicator bit; nonzero when any flag changed.
QX_EXTERN_C int32 GraphOSetIndicatorMethod(ObjHeap heap, int32 graph, int32 on);
// Enters the method in the class table (start-up, before the table closes).
void ControlsJoinIndicatorSlot();
