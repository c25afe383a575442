// The completion step of a subVI call, the panel requests of a running
// subVI, run-time error reports, and the installation of the run commands.
#include <cstring>
#include <string>

#include "engine/datamgr.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/exec/runtexts.h"
#include "engine/link/linker.h"
#include "engine/shellsvc.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"

using namespace qxrun;

namespace {

// Bits of the upper half of the calling element's flag word.
enum : uInt32 {
  kUpperShowPanel = 0x9080,
  kUpperOpenOptions = 0x8040,
  kUpperClose = 0x1000,
};
enum : uInt16 {
  kOpenOptionsFromVI = 0x8000 | 0x40,
  kOpenShows = 0x8000,
  kOpenWhenClosed = 0x40,
};

void Alert(const char* text) { OneButtonAlert(kAlertCStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos); }

std::string Text(const uChar* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

}  // namespace

void SubVIStartUp(DataSpace ds) {
  if (!ds || !*ds) return;
  DataSpaceHeader* h = *ds;
  QueueElement* caller = h->entrance.owner;
  const uInt32 word = caller && caller->flagRecord ? *caller->flagRecord : 0;
  const uInt16 low = uInt16(word & 0xFFFF);
  const uInt32 upper = word >> 16;
  h->callFlags = low;
  if (!low) {
    h->showPanel = 1;
    h->openOptions = 0;
    h->closeOptions = 0;
  } else {
    h->showPanel = (h->panelFlag2 || (upper & kUpperShowPanel)) ? 1 : 0;
    h->openOptions = uInt16((h->viFlagsCopy & kOpenOptionsFromVI) | (upper & kUpperOpenOptions));
    h->closeOptions = uInt16(h->flagsBit12 | (upper & kUpperClose));
    if (h->closeOptions) h->openOptions |= kOpenWhenClosed;
    if ((h->openOptions & kOpenShows) || h->closeOptions) h->showPanel = 1;
  }
  h->completion = 0;
}

int32 SubVIFinish(DataSpace ds) {
  if (!ds || !*ds) return 1;
  DataSpaceHeader* h = *ds;
  const bool log = h->callFlags & kCallLogAtCompletion;
  const bool print = (h->callFlags & kCallPrintAtCompletion) && h->panelOpen;
  const bool reclaim = h->reclaimMemory || (RunCmd().reclaimMemoryOption && RunCmd().reclaimMemoryOption());
  if (!log && !print && !reclaim) return 1;
  ExecPostUserEvent(kUECompletion, Word(ds), Word(&h->entrance.ownElement), 0, 0, 0);
  return 0;
}

void DoCompletionCommand(DataSpace ds, QueueElement* element) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return;
  const RunCmdHooks& hk = RunCmd();
  const uInt16 flags = (*ds)->callFlags;
  ObjHeap panel = VIRec(vi)->panelHeap;
  if ((flags & (kCallLogAtCompletion | kCallPrintAtCompletion)) && panel && hk.updateIndicators)
    hk.updateIndicators(panel);
  if (flags & kCallLogAtCompletion) {
    const MgErr err = hk.writeDatalogRecord ? hk.writeDatalogRecord(vi, 1, 0) : kNoErr;
    if (err) {
      Str255 text;
      const bool listed = err == kLogIncompatibleErr
                              ? ListText(kLogIncompatibleListId, 7, text)
                              : ListText(kLogAlertListId, 5, text);
      if (listed) Alert(Text(text).c_str());
      if (hk.clearLogPath) hk.clearLogPath(vi);
    }
  }
  if ((flags & kCallPrintAtCompletion) && panel && (*ds)->panelOpen && hk.printVIPanel)
    hk.printVIPanel(vi, viinst::PanelWindow(panel), 0, 0, 0);
  if ((*ds)->reclaimMemory || (hk.reclaimMemoryOption && hk.reclaimMemoryOption())) {
    if (UHandle td = (*ds)->typeDesc; td && *td) {
      int32 end = (*ds)->size;
      if (end > DSGetHandleSize(viinst::AsHandle(ds))) end = DSGetHandleSize(viinst::AsHandle(ds));
      ReclaimDataMemory(reinterpret_cast<const TypeDescriptor*>(*td), *ds, reinterpret_cast<uChar*>(*ds) + end);
    }
    (*ds)->completion = 1;
  }
  if (element) {
    ExecContext* c = element->runningContext;
    ExecRunRecord* r = c && c->runRecord ? c->runRecord : ExecSlotRunRecord(0);
    if (r) EnQElm(r, element);
  }
}

// ---- Panels of a running subVI -------------------------------------------------------

int32 ExecOpenFP(void* /*node*/, DataSpace sub) {
  if (!sub || !*sub) return 0;
  DataSpaceHeader* h = *sub;
  ExecPostUserEvent(kUEOpenPanel, Word(h->owner), Word(h->entrance.owner), Word(sub), h->resetCount, 0);
  return h->panelOpen ? 0 : (h->openOptions & kOpenWhenClosed);
}

int32 ExecCloseFP(void* /*node*/, DataSpace sub) {
  if (!sub || !*sub) return 1;
  DataSpaceHeader* h = *sub;
  if (h->panelOpen)
    ExecPostUserEvent(kUEClosePanel, Word(h->owner), Word(h->entrance.owner), Word(sub), h->resetCount, 0);
  UHandle vi = h->owner;
  return vi && *vi && VIRec(vi)->panelHeap ? 0 : 1;
}

void OpenSubWindow(UHandle vi) {
  if (!vi || !*vi || (VIRec(vi)->flags & kVIFlagReentrant)) return;
  OpenFrontPanel(vi);
}

// ---- Errors --------------------------------------------------------------------------

void VIErrorNotify(UHandle vi, DataSpace ds, UHandle subVI, int32 location, MgErr error) {
  if (!vi || !*vi) return;
  Str255 kind, place, format, text;
  place[0] = 0;
  kind[0] = 0;
  bool found = false;
  if (location < 0) {
    // Control number -location of the subVI's panel; a number the panel
    // does not have is reported as a control without a panel.
    const int32 n = int32(0u - uInt32(location));
    ObjHeap panel = subVI && *subVI ? VIRec(subVI)->panelHeap : nullptr;
    if (panel && n > 0 && RunCmd().controlKindAndName) found = RunCmd().controlKindAndName(panel, n, kind, place);
    if (!found) {
      place[0] = 0;
      ListText(kErrNotifyListId, 1, kind);
    }
  } else {
    ListText(kErrNotifyListId, 2, kind);
  }
  static const uChar kNone[1] = {0};
  const uInt32 absolute = location < 0 ? 0u - uInt32(location) : uInt32(location);
  if (!ListText(kErrNotifyListId, 3, format)) return;
  PPrintfp(text, format, VIRec(vi)->name, kind, place, absolute, subVI && *subVI ? VIRec(subVI)->name : kNone);
  if (IsProxy(vi)) {
    if (RunCmd().pxErrorNotify) RunCmd().pxErrorNotify(ds, error, text);
    return;
  }
  if (error != kCancelErr) ErrDialog(error, text);
}

void VIDocMod(UHandle vi, UHandle h, uInt32 modMask) {
  DBPrintf("Doc Mod in RT!!!!! vi %lx  h %lx  modMask %lx", Word(vi), Word(h), modMask);
}

// ---- Installation --------------------------------------------------------------------

void InstallRunCommands() {
  VIRunHooks run = VIRun();
  run.abortVI = &AbortVI;
  run.doReserveCommand = &DoReserveCommand;
  run.resetDSRemove = &ResetDSRemove;
  run.exitRetrieveMode = &ExitRetrieveMode;
  run.updateVIMenuBar = &UpdateVIMenuBar;
  SetVIRunHooks(&run);
  ExecSetReserveProc(&DoReserveCommand);
  // Links made after a load mark callers bad and move priorities as the
  // loader's own do.
  LinkerServices link = LinkServices();
  link.setVIBad = &SetVIBad;
  link.propagatePriority = &PropagatePriority;
  link.reevalSubVIState = &ReevalSubVIState;
  SetLinkerServices(&link);
  // Window placement is the engine's own unless a later start-up step
  // installed another.
  if (!RunCmd().placePanelWindow) {
    RunCmdHooks h = RunCmd();
    h.placePanelWindow = &PlaceVIPanelWindow;
    SetRunCmdHooks(&h);
  }
}
