// A trace of the value drawing routines' calls, for the tests of their
// callers (blinking, the data-bounds update): off until a test clears it.
#pragma once
#include <vector>

#include "panel/objects.h"

// One recorded call: the routine's name, the object and the draw mode.
struct ValueDrawCall {
  const char* routine;
  ObjHeap heap;
  int32 object;
  int32 drawState;
};
// Records a call while the trace is on.
void NoteValueDraw(const char* routine, ObjHeap heap, int32 object, int32 mode);
// The calls since the last clear; clearing turns the trace on (user-interface
// thread only).
const std::vector<ValueDrawCall>& ValueDrawCalls();
void ClearValueDrawCalls();
