#include "controls/graphindicator.h"

#include "panel/ctrlops.h"
#include "panel/objects.h"

namespace {
constexpr int16 kPartOwnControl = 8001;
}  // namespace

int32 GraphOSetIndicatorMethod(ObjHeap heap, int32 graph, int32 on) {
  const int32 parts = SetIndicatorOnParts(heap, graph, kPartOwnControl, on);
  return (BasicSetIndicator(heap, graph, on) | parts) != 0;
}

void ControlsJoinIndicatorSlot() {
  ObjJoinSlot(kMsgOSetIndicator, [](int32 cls) {
    return cls == kClsGraphChart ? reinterpret_cast<ObjMethodAddr>(&GraphOSetIndicatorMethod) : ObjMethodAddr(nullptr);
  });
}
