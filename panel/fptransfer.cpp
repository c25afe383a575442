#include "panel/fptransfer.h"

#include "engine/datamgr.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "panel/blink.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "mgsource/thread.h"
#include "panel/panel_internal.h"

namespace {

constexpr uInt32 kControlSkipsTransfer = 0x1;

int32 UpdateOne(ObjHeap heap, int32 object, void*) {
  if (ObjClass(heap, object) == kClsFPDataController && !(uInt32(ObjWord(heap, object, 0)) & kControlSkipsTransfer))
    FPUpdateTransferSlot(heap, object);
  return 0;
}

}  // namespace

void FPUpdateTransferSlot(ObjHeap heap, int32 control) {
  if (!heap || !*heap || !control || ObjClass(heap, control) != kClsFPDataController) return;
  UHandle vi = PanelHeapOwner(heap);
  if (!vi || !*vi || VIRec(vi)->viKind == 0) return;
  // Pending diagram data becomes the value first, so that none is lost.
  if (!FPTransferDCOData(heap, control, nullptr)) return;
  DCORecordPlace at;
  if (!FindDCORecord(heap, control, &at)) return;
  // The panel's write: the value into the transfer copy, new for the diagram.
  ThMutex m = DCORecordMutex(at);
  if (m) ThMutexAcquire(m);
  uChar* data = reinterpret_cast<uChar*>(*at.ds);
  CopyData(ElemTD(at.rec, kRecTransfer), data + at.offsets[kRecOperate], data + at.offsets[kRecTransfer]);
  const uInt32 flags = GetNative32(data + at.offsets[kRecFlags]);
  PutNative32(data + at.offsets[kRecFlags], (flags & ~uInt32(kDCOTransferPending)) | kDCONewForDiagram);
  if (m) ThMutexRelease(m);
}

void FPUpdateTransferSlots(ObjHeap heap) {
  if (!heap || !*heap) return;
  OHForEachBlockWith(heap, &UpdateOne, nullptr);
}

void PanelInstallRunHooks() {
  RunCmdHooks h = RunCmd();
  h.updateTransferSlots = &FPUpdateTransferSlots;
  h.clearSelection = &FPEmptySelection;
  h.blinkStartTimer = &BlinkStartTimer;
  h.blinkingOn = [](UHandle vi) -> Bool32 {
    return vi && *vi && HeapHasBlinkers(reinterpret_cast<VIRecord*>(*vi)->panelHeap);
  };
  SetRunCmdHooks(&h);
}
