// Cursor-legend questions of the object system.
#include "controls/cursorlegend.h"

#include "controls/blinkdraw.h"
#include "controls/container.h"
#include "controls/ctlcolor.h"
#include "controls/ctlselect.h"
#include "controls/ctlsize.h"
#include "controls/graphattr.h"
#include "controls/graphdraw.h"
#include "controls/graphindicator.h"
#include "controls/listbox.h"
#include "controls/scaleattr.h"
#include "controls/scaleobj.h"
#include "controls/tableops.h"
#include "controls/graphzoom.h"
#include "controls/table.h"
#include "panel/objects.h"
#include "panel/objload.h"

namespace {

constexpr int16 kTextPartId = 11;
constexpr int16 kCursorLegendPartId = 8014;
constexpr int32 kClsStringId = 81, kClsClusterId = 83, kClsArrayId = 82;
constexpr int32 kPartIdEnd = kObjPartId + 2;

// True when offset names a used block of the heap that holds the leading words.
bool IsObject(ObjHeap heap, int32 offset) {
  if (offset <= 0) return false;
  struct Find {
    int32 offset;
    bool found;
  } f{offset, false};
  OHForEachBlockWith(
      heap,
      [](ObjHeap, int32 o, void* c) {
        auto* x = static_cast<Find*>(c);
        if (o == x->offset) x->found = true;
        return 0;
      },
      &f);
  return f.found && OHBlockSize(heap, offset) >= kPartIdEnd;
}

// The owner of an object of the heap when it is an object of the class; 0 otherwise.
int32 OwnerOfClass(ObjHeap heap, int32 object, int32 cls) {
  const int32 owner = ObjWord(heap, object, kObjOwner / 4);
  return IsObject(heap, owner) && ObjClass(heap, owner) == cls ? owner : 0;
}

}  // namespace

int32 IsCursorLegendString(ObjHeap heap, int32 object, int32* graph) {
  if (!heap || !*heap || !IsObject(heap, object)) return 0;
  if (ObjInt16(heap, object, kObjPartId) != kTextPartId) return 0;
  const int32 str = OwnerOfClass(heap, object, kClsStringId);
  const int32 cluster = str ? OwnerOfClass(heap, str, kClsClusterId) : 0;
  const int32 array = cluster ? OwnerOfClass(heap, cluster, kClsArrayId) : 0;
  if (!array || ObjInt16(heap, array, kObjPartId) != kCursorLegendPartId) return 0;
  if (graph) *graph = ObjWord(heap, array, kObjOwner / 4);
  return 1;
}

void ControlsInstallPanelHooks() {
  SetCursorLegendHook(&IsCursorLegendString);
  ControlsInstallBlinkHooks();
  ControlsJoinIndicatorSlot();
  ControlsJoinGraphDrawSlots();
  ControlsJoinSizeSlots();
  ControlsJoinScaleSlots();
  ControlsJoinListboxSlots();
  ControlsJoinContainerSlots();
  ControlsInstallListboxHooks();
  ControlsJoinTableSlots();
  ControlsJoinTableOpSlots();
  ControlsJoinColourSlot();
  ControlsJoinGraphClickSlots();
  ControlsInstallEditHooks();
  ControlsInstallScaleAttrHooks();
  ControlsInstallGraphAttr();
}
