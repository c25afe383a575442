#include "panel/paneldisplay.h"

#include <atomic>

#include "panel/objects.h"
#include "panel/textparts.h"

namespace {
constexpr int32 kCtlDisplayWord = 5;
std::atomic<decltype(PanelDisplayObservers::display)> gDisplay{nullptr};
std::atomic<decltype(PanelDisplayObservers::property)> gProperty{nullptr};
}  // namespace

void SetPanelDisplayObservers(const PanelDisplayObservers& observers) {
  gDisplay.store(observers.display);
  gProperty.store(observers.property);
}

MgErr PanelDisplayValues(ObjHeap heap, int32 controller, const void* previous, const void* value) {
  if (auto observe = gDisplay.load()) observe(heap, controller, previous, value);
  if (!heap || !*heap || !controller) return kNoErr;
  const int32 display = ObjClass(heap, controller) == kClsFPDataController ? ObjWord(heap, controller, kCtlDisplayWord)
                                                                            : controller;
  if (display) OInval(heap, display, 0);
  return kNoErr;
}

MgErr DoDDOAttrCall(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                    int32 property, int32 data) {
  if (auto observe = gProperty.load()) observe(heap, object, types, typeOffset, read, last, property, data);
  return kNoErr;
}
