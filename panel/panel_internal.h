// Shared inside the object system.
#pragma once
#include "panel/objects.h"

typedef int32 (*OAllocateMethod)(ObjHeap heap, int32 object);
// The allocation method (message 55) of a class that has one of its own.
OAllocateMethod OAllocateMethodFor(int32 cls);
