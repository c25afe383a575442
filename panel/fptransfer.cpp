#include "panel/fptransfer.h"

#include <atomic>

#include "engine/datamgr.h"
#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "panel/fppanel.h"
#include "panel/panel_internal.h"

namespace {

constexpr uInt32 kControlSkipsTransfer = 0x1;

int32 UpdateOne(ObjHeap heap, int32 object, void*) {
  if (ObjClass(heap, object) == kClsFPDataController && !(uInt32(ObjWord(heap, object, 0)) & kControlSkipsTransfer))
    FPUpdateTransferSlot(heap, object);
  return 0;
}

std::atomic<int32> gBlinkRunning{0};
std::atomic<int32> gBlinkStarts{0};

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

void BlinkStartTimer(int32 on) {
  if (!on) {
    gBlinkRunning.store(0);
    return;
  }
  if (gBlinkRunning.exchange(1) == 0) gBlinkStarts.fetch_add(1);
}

Bool32 BlinkTimerRunning() { return gBlinkRunning.load() != 0; }
int32 BlinkTimerStarts() { return gBlinkStarts.load(); }

Bool32 PanelBlinks(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  // The extension is kHeapExtensionSize bytes: the blink list's word is in it.
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0) return 0;
  const int32 list = int32(GetNative32(*heap + ext + kHeapExtBlinkList));
  return list > 0 && ObjListCount(heap, list) > 0;
}

void PanelInstallRunHooks() {
  RunCmdHooks h = RunCmd();
  h.updateTransferSlots = &FPUpdateTransferSlots;
  h.clearSelection = &FPEmptySelection;
  h.blinkStartTimer = &BlinkStartTimer;
  h.blinkingOn = [](UHandle vi) -> Bool32 {
    return vi && *vi && PanelBlinks(reinterpret_cast<VIRecord*>(*vi)->panelHeap);
  };
  SetRunCmdHooks(&h);
}
