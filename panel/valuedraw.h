// The value-draw routines of the display classes: each draws the object's
// value in a draw state (1 the blink look, 2 normal).  Until the display
// classes draw, each routine keeps a record of its call for the callers'
// tests and draws nothing.
#pragma once
#include <vector>

#include "panel/objects.h"

QX_EXTERN_C void DrawBooleanValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);
QX_EXTERN_C void DrawNumericValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);
QX_EXTERN_C void DrawStringValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);
QX_EXTERN_C void DrawPathValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);
QX_EXTERN_C void DrawSlideValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero, int32 zero2);
QX_EXTERN_C void DrawColorRampValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);
QX_EXTERN_C void DrawRingValue(ObjHeap heap, int32 object, void* data, int32 drawState, int32 zero);

// One recorded call: the routine's name, the object and the draw state.
struct ValueDrawCall {
  const char* routine;
  ObjHeap heap;
  int32 object;
  int32 drawState;
};
// The calls since the last clear (user-interface thread only).
const std::vector<ValueDrawCall>& ValueDrawCalls();
void ClearValueDrawCalls();
