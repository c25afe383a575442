#include "panel/valuedraw.h"

namespace {

std::vector<ValueDrawCall> gCalls;

void Note(const char* routine, ObjHeap heap, int32 object, int32 drawState) {
  gCalls.push_back({routine, heap, object, drawState});
}

}  // namespace

void DrawBooleanValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawBooleanValue", heap, object, drawState);
}
void DrawNumericValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawNumericValue", heap, object, drawState);
}
void DrawStringValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawStringValue", heap, object, drawState);
}
void DrawPathValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawPathValue", heap, object, drawState);
}
void DrawSlideValue(ObjHeap heap, int32 object, void*, int32 drawState, int32, int32) {
  Note("DrawSlideValue", heap, object, drawState);
}
void DrawColorRampValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawColorRampValue", heap, object, drawState);
}
void DrawRingValue(ObjHeap heap, int32 object, void*, int32 drawState, int32) {
  Note("DrawRingValue", heap, object, drawState);
}

const std::vector<ValueDrawCall>& ValueDrawCalls() { return gCalls; }
void ClearValueDrawCalls() { gCalls.clear(); }
