#include "panel/fptransfer.h"

#include "engine/datamgr.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "panel/blink.h"
#include "panel/fppanel.h"
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
  // Pending diagram data becomes the value first.
  if (!FPTransferDCOData(heap, control, nullptr)) return;
  DCORecordPlace at;
  if (!FindDCORecord(heap, control, &at)) return;
  uChar* data = reinterpret_cast<uChar*>(*at.ds);
  CopyData(ElemTD(at.rec, kRecTransfer), data + at.offsets[kRecOperate], data + at.offsets[kRecTransfer]);
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
