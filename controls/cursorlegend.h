// The cursor legend of a graph as other parts of the system ask about it.
#pragma once
#include "mgsource/objheap.h"

// Nonzero when the object is the string of a graph's cursor legend: a text
// part (part id 11) of a String (class 81) inside a Cluster (83) inside an
// Array (82) of part id 8014; the graph (the array's owner) goes to *graph
// when given.  Owner words that name no object of the heap answer 0.
QX_EXTERN_C int32 IsCursorLegendString(ObjHeap heap, int32 object, int32* graph);

// Gives the object system the graph services it asks for; called at start-up.
void ControlsInstallPanelHooks();
