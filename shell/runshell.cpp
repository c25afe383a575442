#include "shell/runshell.h"
#include "shell/statepnl.h"

#include <map>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/panelplace.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "mgsource/window/wport.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "engine/vi/rtrsrc.h"
#include "shell/dialog.h"
#include "shell/vishell.h"

namespace {

template <class T>
T FromWord(int32 w) {
  return reinterpret_cast<T>(uintptr_t(uInt32(w)));
}
DataSpace DS(int32 w) { return FromWord<DataSpace>(w); }
UHandle VI(int32 w) { return FromWord<UHandle>(w); }

// Sub-code 1: a subVI whose panel must open before it goes on: for the data
// space's current generation and an element waiting in state 3 only, the
// element goes on in state 1; unless its mode word is 1 the panel opens
// and is drawn at once.
void OpenPanelHandler(int32 a1, int32 a2, int32 a3, int32 a4, int32) {
  UHandle vi = VI(a1);
  QueueElement* element = FromWord<QueueElement*>(a2);
  DataSpace ds = DS(a3);
  if (!vi || !*vi || !element || !ds || !*ds || (*ds)->resetCount != a4 || QERunState(element) != 3) return;
  QESetRunState(element, 1);
  if (QEResetPending(element) != 1 && OpenFrontPanel(vi)) {
    ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
    if (panel && viinst::PanelWindow(panel) != kWNoWindow) WUpdate(viinst::PanelWindow(panel));
  }
  EnQRunQ(element);
}
void ReachabilityHandler(int32, int32, int32, int32, int32) {
  MarkReachableVIs();
  PurgeUnusedVIs(0);
}
void DoneHandler(int32 a1, int32, int32, int32, int32) { DoDoneCommand(DS(a1)); }
void SuspendHandler(int32 a1, int32, int32, int32, int32) { DoSuspendCommand(DS(a1)); }
void ResetHandler(int32 a1, int32 a2, int32 a3, int32 a4, int32 a5) { DoResetCommand(DS(a1), a2, a3, a4, a5); }
void ReserveHandler(int32 a1, int32, int32, int32, int32) { DoReserveCommand(VI(a1)); }
void CompletionHandler(int32 a1, int32 a2, int32, int32, int32) {
  DoCompletionCommand(DS(a1), FromWord<QueueElement*>(a2));
}
// Sub-code 27: only for a VI with a run-time menu record whose execution
// state has bit 0 set; a panel window showing the menu bar chooses its bar
// again first.
void RTMenuHandler(int32 a1, int32, int32, int32, int32) {
  UHandle vi = VI(a1);
  if (!vi || !*vi || !RTMHasVIMenuRef(vi) || !(VIRec(vi)->eState & 1)) return;
  ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
  if (panel && *panel && viinst::PanelWindow(panel) != kWNoWindow) UpdateVIMenuBar(panel);
  RTMDisposeVIMenuRef(vi);
}

// Collects the queued user events of one sub-code (the purge calls it
// without the queue's mutex; the events are handled after the purge).
struct Collected {
  int32 subCode;
  std::vector<WEventRecord> events;
};
int32 Collect(WindowRef, const WEventRecord* e, void* data) {
  auto* c = static_cast<Collected*>(data);
  if (!e || (e->code != kWEvUser && e->code != -kWEvUser) || UserEventSubCode(e) != c->subCode) return 0;
  c->events.push_back(*e);
  return 1;
}

int32 PanelFlags(UHandle vi) {
  if (!vi || !*vi) return 0;
  ObjHeap panel = VIRec(vi)->panelHeap;
  return panel && *panel ? int32(OHWord(panel, kOHFlags)) : 0;
}

}  // namespace

UserEventHandler RunCommandHandler(int32 subCode) {
  switch (subCode) {
    case kUEOpenPanel: return &OpenPanelHandler;
    case kUEReachability: return &ReachabilityHandler;
    case kUEVIDone: return &DoneHandler;
    case kUESuspend: return &SuspendHandler;
    case kUEReset: return &ResetHandler;
    case kUEReserve: return &ReserveHandler;
    case kUECompletion: return &CompletionHandler;
    case kUEDisposeRTMenu: return &RTMenuHandler;
    default: return nullptr;
  }
}

void HandleQueuedUserEvents(int32 subCode) {
  Collected c{subCode, {}};
  WPurgeEvents(kWRootWindow, &Collect, &c);
  for (const WEventRecord& e : c.events) DispatchUserEvent(&e);
}

int32 FPHeapFlag17(UHandle vi) { return (PanelFlags(vi) & kPanelControlErrorBit) ? 1 : 0; }
int32 FPHeapFlag18(UHandle vi) { return (PanelFlags(vi) & kPanelFlag18Bit) ? 1 : 0; }


namespace {
MgErr PrintAtCompletion(UHandle vi, WindowRef window, int32 usePanelRect, int32, int32 showDialog) {
  return PrintVIPanel(vi, window, usePanelRect, nullptr, showDialog);
}
UHandle LoadForEngine(RsrcFileRef file, int32 id, ConstPStr title, int32 kind, void* filter, int32 userData) {
  return DlgLoad(file ? file : RunTimeRsrcFile(), id, title, kind, reinterpret_cast<DlgFilterProc>(filter), userData);
}
}  // namespace

void ShellInstallRunCommandHooks() {
  RunCmdHooks h = RunCmd();
  h.printVIPanel = &PrintAtCompletion;
  h.fpHeapFlag17 = &FPHeapFlag17;
  h.fpHeapFlag18 = &FPHeapFlag18;
  h.refreshToolbar = &StatePnlInval;
  h.rtmNewVIMenuRef = &RTMNewVIMenuRef;
  h.rtmHasVIMenuRef = &RTMHasVIMenuRef;
  h.dlgLoad = &LoadForEngine;
  h.dlgSetCtrlVal = &DlgSetCtrlVal;
  h.dlgMove = &DlgMove;
  h.dlgShow = &DlgShow;
  h.dlgBoxStep = &DlgBoxStep;
  h.dlgUnload = &DlgUnload;
  h.handleQueuedUserEvents = &HandleQueuedUserEvents;
  SetRunCmdHooks(&h);
}
