#include "panel/valuedraw.h"

namespace {

bool gTracing = false;
std::vector<ValueDrawCall> gCalls;

}  // namespace

void NoteValueDraw(const char* routine, ObjHeap heap, int32 object, int32 mode) {
  if (gTracing) gCalls.push_back({routine, heap, object, mode});
}

const std::vector<ValueDrawCall>& ValueDrawCalls() { return gCalls; }
void ClearValueDrawCalls() {
  gTracing = true;
  gCalls.clear();
}
