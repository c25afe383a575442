// Locators of panel data: addresses inside the data space of a front-panel
// heap's VI, for the panel classes that keep private data there.
#pragma once
#include "mgsource/objheap.h"

// The address of the data offset inside the data space of the VI that owns
// the front-panel heap; null for offset 0 (the heap is then not looked at),
// and null, with an assertion, for a heap that is no front-panel heap, has no
// owner or data space, or an offset outside that data space.  The address is
// valid until the data space is next resized.
QX_EXTERN_C UPtr FPHeapDataPtr(ObjHeap heap, int32 offset);
