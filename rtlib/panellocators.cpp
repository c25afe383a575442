#include "rtlib/panellocators.h"

#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

UPtr FPHeapDataPtr(ObjHeap heap, int32 offset) {
  if (offset == 0) return nullptr;
  UHandle vi = PanelHeapOwner(heap);
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (!ds || !*ds) {
    DBAssert(__FILE__, __LINE__, "FPHeapDataPtr: no front-panel heap with a data space");
    return nullptr;
  }
  if (offset < 0 || offset >= DSGetHandleSize(ds)) {
    DBAssert(__FILE__, __LINE__, "FPHeapDataPtr: offset outside the data space");
    return nullptr;
  }
  return *ds + offset;
}
