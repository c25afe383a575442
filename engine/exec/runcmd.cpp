// The run command, the top-level completion, reserve and release of a VI
// hierarchy, the bad state and priority propagation.
#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/exec/runtexts.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"

using namespace qxrun;
using viinst::ListAt;
using viinst::ListCount;

namespace qxrun {

bool AnyBusy(UHandle vi) {
  for (DataSpace ds = FirstDS(vi); ds && *ds; ds = NextDS(ds))
    if ((*ds)->busy) return true;
  return false;
}

std::string NameOf(UHandle vi) {
  const uChar* n = VIRec(vi)->name;
  return std::string(reinterpret_cast<const char*>(n + 1), n[0]);
}

bool ListText(int32 listId, int32 index, Str255 out) {
  if (RGetIndString(RunTimeRsrcFile(), out, listId, index) == kNoErr) return true;
  if (index < 1 || index > RunTextCount(listId)) return false;
  const char* text = RunTextOf(listId, index);
  if (!text) text = "";
  const size_t n = std::strlen(text);
  out[0] = uChar(n > 255 ? 255 : n);
  std::memcpy(out + 1, text, out[0]);
  return true;
}

namespace {
void ClearElement(QueueElement* e) {
  e->next = nullptr;
  QESetRunState(e, 0);
  e->work[0] = e->work[1] = 0;
  e->fireCount = 0;
}
}  // namespace

void RequeueElement(QueueElement* e) {
  ClearElement(e);
  EnQRunQ(e);
}

void QueueRunElement(DataSpace ds) {
  QueueElement* e = (*ds)->runElement;
  if (!e) {
    DBAssert(__FILE__, __LINE__, "StartVIRun: the data space has no run element");
    return;
  }
  UHandle vi = (*ds)->owner;
  e->level = vi ? VIRec(vi)->priority : 0;
  ClearElement(e);
  e->flagRecord = (*ds)->flagRecord;
  DSCallProc5(ds);
  ExecTopRunStarted(ds);
  EnQRunQ(e);
}

namespace {

enum class WalkStart {
  kNonReentrant,  // a reentrant start has no hierarchy of callers to walk
  kAny,           // the start is walked whatever its reentrancy
};

// Walks up the callers of `vi`: each caller that `step` accepts (and
// changes) is walked in turn; one it refuses ends that branch. A caller
// already accepted, or the start itself, is not offered again, so cycles and
// callers shared by many subVIs cost one visit each.
template <class Step>
void WalkCallers(UHandle vi, Step step, WalkStart start = WalkStart::kNonReentrant) {
  if (start == WalkStart::kNonReentrant && Reentrant(vi)) return;
  std::vector<UHandle> work{vi};
  std::unordered_set<UHandle> seen{vi};
  while (!work.empty()) {
    UHandle v = work.back();
    work.pop_back();
    UHandle callers = VIRec(v)->callers;
    for (int32 i = 0, n = ListCount(callers); i < n; ++i) {
      UHandle c = ListAt(callers, i);
      if (!c || !*c || seen.count(c) || !step(c)) continue;
      seen.insert(c);
      work.push_back(c);
    }
  }
}

// A caller whose marking stays: one of its subVIs still holds it.
bool SubVIHolds(UHandle caller) {
  UHandle subs = VIRec(caller)->subVIs;
  for (int32 i = 0, n = ListCount(subs); i < n; ++i) {
    UHandle s = ListAt(subs, i);
    if (!s || !*s) continue;
    const VIRecord* r = VIRec(s);
    if ((r->flags & kVIFlagSubVIRunning) || State(s) == 2 ||
        (r->flags2 & (uInt32(kVIFlags2RetrievalMode) | uInt32(kVIFlags2LogRetrieval400000))))
      return true;
  }
  return false;
}

// A bad VI becomes idle again (reserved when a hierarchy holds it).
void MakeIdle(UHandle vi) {
  if (State(vi) == kVIStateBroken) SetState(vi, VIRec(vi)->reservations ? 5 : int32(kVIStateIdle));
  if (RunCmd().refreshToolbar) RunCmd().refreshToolbar(vi);
}

}  // namespace

void MarkCallersBad(UHandle vi) {
  WalkCallers(vi, [](UHandle c) {
    if (VIRec(c)->flags & kVIFlagSubVIRunning) return false;
    VIRec(c)->flags |= kVIFlagSubVIRunning;
    if (State(c) != kVIStateBroken) SetVIBad(c);
    return true;
  });
}

void UndoCallersBad(UHandle vi) {
  WalkCallers(vi, [](UHandle c) {
    if (!(VIRec(c)->flags & kVIFlagSubVIRunning) || SubVIHolds(c)) return false;
    VIRec(c)->flags &= ~kVIFlagSubVIRunning;
    if (!(VIRec(c)->flags & kVIFlagsNotRunnable)) MakeIdle(c);
    return true;
  });
}

void ReleaseHierarchy(UHandle vi) {
  if (!vi || !*vi) return;
  VIRecord* r = VIRec(vi);
  if (r->reservations > 0) --r->reservations;
  if (r->reservations) return;
  if (!(State(vi) & 2)) SetVIIdle(vi, FirstDS(vi));
  SetState(vi, State(vi) & ~(4u | 8u));
  if (RunCmd().placePanelWindow) RunCmd().placePanelWindow(vi);
  UHandle subs = VIRec(vi)->subVIs;
  for (int32 i = ListCount(subs) - 1; i >= 0; --i) ReleaseHierarchy(ListAt(VIRec(vi)->subVIs, i));
}

}  // namespace qxrun

// ---- The run command -----------------------------------------------------------------

int32 BrokenAlertEntry(uInt32 flags) {
  if (flags & kVIFlagsBrokenByVI) return 1;
  if (flags & kVIFlagSubVINotExec) return 2;
  if (flags & kVIFlagSubVIMissing) return 3;
  if (flags & kVIFlagSubVIRunning) return 4;
  return 5;
}

void ShowVIBrokenAlert(UHandle vi) {
  if (!vi || !*vi || State(vi) != kVIStateBroken) return;
  const uInt32 flags = VIRec(vi)->flags;
  Str255 format, text;
  if (!ListText(kROVIErrorsListId, BrokenAlertEntry(flags), format)) return;
  PPrintfp(text, format, flags);
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

int32 DoRunCommand(UHandle vi, Bool32 allowResume) {
  if (!vi || !*vi) return kRunCannotRun;
  const uInt32 s = State(vi);
  switch (s) {
    case 2: case 4: case 6: case 8: case 9: case 14:
      DBPrintf("DoRunCommand: \"%p\" can not be run. eState=0x%lx", VIRec(vi)->name, s);
      return kRunCannotRun;
    default: break;
  }
  if (!VIRec(vi)->panelHeap) {
    DBPrintf("DoRunCommand: \"%p\" can not be run. fpHeap not open", VIRec(vi)->name);
    return kRunNoPanelHeap;
  }
  if (RunCmd().endTextEdit) RunCmd().endTextEdit(vi);
  if (RunCmd().fpHeapFlag17 && RunCmd().fpHeapFlag17(vi)) {
    DBPrintf("DoRunCommand: \"%p\" can not be run. fp control error", VIRec(vi)->name);
    return kRunControlError;
  }
  switch (s) {
    case 0:
      if (RunCmd().placePanelWindow) RunCmd().placePanelWindow(vi);
      ShowVIBrokenAlert(vi);
      return kRunBroken;
    case 1: case 5: case 13:
      if (VIRec(vi)->viKind == kVIKindDatalog && FirstDS(vi)) StartVIRun(FirstDS(vi));
      return 0;
    case 7:
      if (!allowResume) return kRunCannotRun;
      ResumeVI(vi, FirstDS(vi));
      return 0;
    default:
      DBPrintf("DoRunCommand: \"%p\" unknown eState=0x%lx", VIRec(vi)->name, s);
      return kRunCannotRun;
  }
}

namespace {

// The panel shows this data space: a reentrant VI's panel moves over to it
// from the one it showed.
void PreparePanel(UHandle vi, DataSpace ds) {
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return;
  const RunCmdHooks& h = RunCmd();
  if (h.clearSelection) h.clearSelection(panel);
  auto transfer = GetEnginePanelHooks() ? GetEnginePanelHooks()->transferAllControls : nullptr;
  DataSpace shown = viinst::PanelDataSpace(panel);
  const bool open = viinst::PanelWindow(panel) != 0;
  if (shown == ds) {
    if (!open && transfer) transfer(panel);
    return;
  }
  if (!shown || !*shown) return;
  viinst::SetPanelDataSpace(panel, ds);
  (*ds)->panelOpen = (*shown)->panelOpen;
  (*ds)->panelFlag1 = (*shown)->panelFlag1;
  (*ds)->panelFlag2 = (*shown)->panelFlag2;
  (*shown)->panelOpen = 0;
  (*shown)->panelFlag1 = (*shown)->panelFlag2 = 0;
  if (transfer) transfer(panel);
  if (open) {
    if (h.beep) h.beep();
    if (h.refreshPanel) h.refreshPanel(vi);
  }
}

// The log file of each VI of the hierarchy that logs at completion must
// open: 1 (after the alert, when asked for) when one cannot.
int32 CheckLogFiles(UHandle top, bool alerts) {
  std::vector<UHandle> work{top}, seen;
  while (!work.empty()) {
    UHandle vi = work.back();
    work.pop_back();
    bool dup = false;
    for (UHandle s : seen) dup = dup || s == vi;
    if (dup) continue;
    seen.push_back(vi);
    VIRecord* r = VIRec(vi);
    if ((r->flags2 & kVIFlags2LogAtCompletion) && RunCmd().writeDatalogRecord &&
        RunCmd().writeDatalogRecord(vi, alerts, 1) != kNoErr) {
      if (alerts) {
        Str255 first, second, text;
        Path path = RunCmd().logPath ? RunCmd().logPath(vi) : nullptr;
        std::string message;
        if (ListText(kLogAlertListId, 2, first)) {
          PPrintfp(text, first, r->name);
          message.assign(reinterpret_cast<const char*>(text + 1), text[0]);
        }
        if (ListText(kLogAlertListId, path ? 9 : 10, second)) {
          PPrintfp(text, second, path);
          message.append(reinterpret_cast<const char*>(text + 1), text[0]);
        }
        OneButtonAlert(kAlertCStr, message.c_str(), nullptr, kAlertDefaultPos, kAlertDefaultPos);
      }
      return 1;
    }
    UHandle subs = r->subVIs;
    for (int32 i = ListCount(subs) - 1; i >= 0; --i) {
      UHandle s = ListAt(subs, i);
      if (s && *s && VIRec(s)->reservations == 0) work.push_back(s);
    }
  }
  return 0;
}

}  // namespace

int32 StartVIRun(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return kArgErr;
  const bool top = VIRec(vi)->viKind == kVIKindDatalog;
  if (top) PreparePanel(vi, ds);
  if (CheckLogFiles(vi, top)) return 1;
  const uInt32 s = State(vi);
  // Nor can a VI whose code was never entered (no code, or a data-space
  // header its code was not made for): it has no run element to queue.
  if ((top && (s == 2 || s == 4 || s == 6 || s == 8 || s == 9 || s == 14)) ||
      (VIRec(vi)->flags2 & kVIFlags2CodeNotEntered) || !(*ds)->runElement) {
    DBPrintf("LocalGoRights: \"%p\" can not be run. eState=0x%lx", VIRec(vi)->name, s);
    return kRunCannotRun;
  }
  const RunCmdHooks& h = RunCmd();
  ExecSetVIRunning(1);
  SetState(vi, (s & ~1u) | 2u);
  if (h.refreshToolbar) h.refreshToolbar(vi);
  if (top) {
    if ((*ds)->flagRecord) *(*ds)->flagRecord = 0;
    (*ds)->execSystem = VIRec(vi)->execSystem;
    (*ds)->basePriority = VIRec(vi)->priority;
    PropagatePriority(vi);
    MarkCallersBad(vi);
    UHandle subs = VIRec(vi)->subVIs;
    for (int32 i = ListCount(subs) - 1; i >= 0; --i) SetVIReserved(ListAt(VIRec(vi)->subVIs, i), 0);
    if (h.rtmNewVIMenuRef) h.rtmNewVIMenuRef(vi);
    if (h.placePanelWindow) h.placePanelWindow(vi);
  }
  if (h.blinkingOn && h.blinkingOn(vi) && h.blinkStartTimer) h.blinkStartTimer(1);
  if (top && VIRec(vi)->panelHeap && h.updateTransferSlots) h.updateTransferSlots(VIRec(vi)->panelHeap);
  QueueRunElement(ds);
  return 0;
}

void DoRunButton(UHandle vi) {
  if (!vi || !*vi) return;
  const uInt32 s = State(vi);
  const RunCmdHooks& h = RunCmd();
  VIRecord* r = VIRec(vi);
  if (s == 0 || s == 4) return;
  if (s == 7 && h.fpHeapFlag18 && h.fpHeapFlag18(vi)) return;
  if (s != 7 && h.fpHeapFlag17 && h.fpHeapFlag17(vi) && !(r->flags2 & kVIFlags2RunContinuously)) return;
  switch (s) {
    case 1: case 5: case 13:
      r->flags2 |= kVIFlags2RunContinuously;
      if (h.refreshToolbar) h.refreshToolbar(vi);
      if (FirstDS(vi)) StartVIRun(FirstDS(vi));
      break;
    case 2: case 6: case 14:
      r->flags2 ^= kVIFlags2RunContinuously;
      if (h.refreshToolbar) h.refreshToolbar(vi);
      break;
    case 7: case 9:
      r->flags2 &= ~kVIFlags2RunContinuously;
      if (s == 9) AbortTopVI(vi);
      else ContinueVI(vi, FirstDS(vi));
      break;
    default:
      r->flags2 &= ~kVIFlags2RunContinuously;
      break;
  }
}

// ---- Completion ----------------------------------------------------------------------

namespace {

const uChar kReadOnlyLockKey[] = "\x0c" "readOnlyLock";
// flags2: the owner mode, whose window keeps its placement after a run.
constexpr uInt32 kVIFlags2KeepPlacement = 0x80000;

// Whether the end of a top-level run places the VI's window again: its
// options may have been the running VI's own.
bool PlacedAfterRun(UHandle vi) {
  const VIRecord* r = VIRec(vi);
  if (r->flags2 & kVIFlags2KeepPlacement) return false;
  ObjHeap panel = r->panelHeap;
  if (!panel || !*panel || !viinst::PanelWindow(panel)) return false;
  if ((r->flags2 & kVIFlags2SetAtLoad) || (r->flags & kVIFlagRoot) || r->reservations > 0) return true;
  Bool32 readOnlyLock = 0;
  CfgGetDefault(kCfgBool, kReadOnlyLockKey, &readOnlyLock);
  return readOnlyLock && (r->marks & kVIMarkReadOnly);
}

}  // namespace

void SetVIIdle(UHandle vi, DataSpace ds) {
  if (!vi || !*vi) return;
  const RunCmdHooks& h = RunCmd();
  const uInt32 prev = State(vi);
  SetState(vi, (prev & ~2u) | 1u);
  if (VIRec(vi)->flags2 & kVIFlags2ResetRunnable) VIRec(vi)->flags2 |= kVIFlags2Runnable;
  if (RunningTop(prev)) {
    if (ds) RunCleanupProcs(ds);
    if (h.refreshPanel) h.refreshPanel(vi);
    if (PlacedAfterRun(vi) && h.placePanelWindow) h.placePanelWindow(vi);
    bool anyRunning = false;
    for (UHandle v = FirstLoadedVI(); v && !anyRunning; v = VIRec(v)->next) anyRunning = (State(v) & 2) != 0;
    if (!anyRunning) {
      ExecSetVIRunning(0);
      if (h.placePanelWindow) h.placePanelWindow(nullptr);
    }
  }
  if (h.rtmHasVIMenuRef && h.rtmHasVIMenuRef(vi)) ExecPostUserEvent(kUEDisposeRTMenu, Word(vi), 0, 0, 0, 0);
  if (VIRec(vi)->viKind == kVIKindDatalog && h.logFileOpen && h.logFileOpen(vi) && h.closeLogFile) h.closeLogFile(vi);
}

void DoDoneCommand(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return;
  const RunCmdHooks& h = RunCmd();
  QueueElement* run = (*ds)->runElement;
  QueueElement* own = &(*ds)->entrance.ownElement;
  if (IsProxy(vi)) {
    const bool aborted = (run && QEResetPending(run)) || QEResetPending(own);
    if (h.pxCallerFinish) h.pxCallerFinish(ds, aborted);
    if (aborted) {
      RunAbortCleanupProcs(ds);
      for (QueueElement* e : {run, own})
        if (e) QESetResetPending(e, 0), QESetRunState(e, 0);
    }
    return;
  }
  VIRecord* r = VIRec(vi);
  const bool aborted = run && QEResetPending(run);
  if (!aborted && (r->flags2 & kVIFlags2RunContinuously) && !(h.fpHeapFlag17 && h.fpHeapFlag17(vi))) {
    auto transfer = GetEnginePanelHooks() ? GetEnginePanelHooks()->transferAllControls : nullptr;
    if (r->panelHeap && transfer) transfer(r->panelHeap);
    RunCleanupProcs(ds);
    QueueRunElement(ds);
    return;
  }
  r->flags2 &= ~kVIFlags2RunContinuously;
  if (aborted) {
    RunAbortCleanupProcs(ds);
    QESetResetPending(run, 0);
    QESetRunState(run, 0);
  }
  SetVIIdle(vi, ds);
  UHandle subs = VIRec(vi)->subVIs;
  for (int32 i = ListCount(subs) - 1; i >= 0; --i) ReleaseHierarchy(ListAt(VIRec(vi)->subVIs, i));
  UndoCallersBad(vi);
  if (h.refreshToolbar) h.refreshToolbar(vi);
  if (h.refreshPanel) h.refreshPanel(vi);
}

// ---- Reserve, release and the bad state ----------------------------------------------

void SetVIReserved(UHandle vi, Bool32 release) {
  if (!vi || !*vi) return;
  const RunCmdHooks& h = RunCmd();
  VIRecord* r = VIRec(vi);
  const uInt32 s = State(vi);
  if (!release) {
    uInt32 n = s;
    if (s != 7 && s != 9 && !Reentrant(vi)) n &= ~1u;
    SetState(vi, n | 4u);
    ++r->reservations;
    if (h.endTextEdit) h.endTextEdit(vi);
    if (h.refreshToolbar) h.refreshToolbar(vi);
    if (h.placePanelWindow) h.placePanelWindow(vi);
    if (VIRec(vi)->reservations == 1) {
      UHandle subs = VIRec(vi)->subVIs;
      for (int32 i = 0; i < ListCount(subs); ++i) SetVIReserved(ListAt(VIRec(vi)->subVIs, i), 0);
    }
    return;
  }
  const bool busy = AnyBusy(vi);
  if (r->flags & kVIFlagFollowsDataSpaces) {
    if (busy) return;
    SetState(vi, s & (1u | 2u | 4u));
  } else {
    uInt32 n = s;
    if (s == 7 && !Reentrant(vi)) n = 12;
    if (!busy) n &= ~8u;
    SetState(vi, n);
  }
  if (h.refreshToolbar) h.refreshToolbar(vi);
}

void DoReserveCommand(UHandle vi) {
  if (!vi || !*vi) return;
  if (AnyBusy(vi)) {
    SetState(vi, State(vi) | 8u);
    if (RunCmd().refreshToolbar) RunCmd().refreshToolbar(vi);
    return;
  }
  SetVIReserved(vi, 1);
}

void ReleaseVIReservation(UHandle vi) { ReleaseHierarchy(vi); }

void SetVIBad(UHandle vi) {
  if (!vi || !*vi) return;
  SetState(vi, kVIStateBroken);
  VIRec(vi)->flags2 &= ~kVIFlags2RunContinuously;
  if (RunCmd().refreshToolbar) RunCmd().refreshToolbar(vi);
}

void PropagateVIBad(UHandle vi, Bool32 bad) {
  if (!vi || !*vi) return;
  if (bad) SetVIBad(vi);
  else MakeIdle(vi);
  if (bad) {
    WalkCallers(
        vi,
        [](UHandle c) {
          VIRec(c)->flags |= kVIFlagSubVINotExec;
          if (State(c) != kVIStateBroken) SetVIBad(c);
          return true;
        },
        WalkStart::kAny);
    return;
  }
  WalkCallers(
      vi,
      [](UHandle c) {
        UHandle subs = VIRec(c)->subVIs;
        for (int32 k = 0, m = ListCount(subs); k < m; ++k) {
          UHandle s = ListAt(subs, k);
          if (s && *s && (VIRec(s)->flags & kVIFlagsSubVIBad)) return false;
        }
        VIRec(c)->flags &= ~kVIFlagSubVINotExec;
        if (!(VIRec(c)->flags & kVIFlagsNotRunnable)) MakeIdle(c);
        return true;
      },
      WalkStart::kAny);
}

void ReevalSubVIState(UHandle caller) {
  if (!caller || !*caller) return;
  VIRecord* r = VIRec(caller);
  bool notExecutable = false;
  UHandle subs = r->subVIs;
  for (int32 i = 0, n = ListCount(subs); i < n; ++i) {
    UHandle s = ListAt(subs, i);
    if (s && *s && (State(s) == kVIStateBroken || (VIRec(s)->flags & kVIFlagsSubVIBad))) notExecutable = true;
  }
  const uInt32 before = r->flags;
  if (!notExecutable) r->flags &= ~uInt32(kVIFlagSubVINotExec);
  if (!SubVIHolds(caller)) r->flags &= ~uInt32(kVIFlagSubVIRunning);
  // Good again: idle, and its callers are looked at in turn.
  if (r->flags != before && !(r->flags & kVIFlagsNotRunnable)) PropagateVIBad(caller, 0);
}

// ---- Priorities ----------------------------------------------------------------------

namespace {

void RouteDataSpace(DataSpaceHeader* h, int32 effective) {
  h->slot = ExecSysSlot(effective, h->execSystem);
  h->routingRow = effective < kPriSubroutine ? ExecRoutingRow(effective) : nullptr;
}

void PropagateInto(UHandle vi, int32 depth) {
  if (!vi || !*vi || depth > 10000) return;
  VIRecord* r = VIRec(vi);
  bool changedAny = false;
  for (DataSpace ds = FirstDS(vi); ds && *ds; ds = NextDS(ds)) {
    DataSpaceHeader* h = *ds;
    h->basePriority = r->priority;
    h->execSystem = r->execSystem;
    RouteDataSpace(h, h->effPriority);
    int32 eff = h->basePriority;
    bool hasCaller = false;
    auto consider = [&](DataSpace c) {
      if (!c || !*c) return;
      hasCaller = true;
      const int32 p = (*c)->effPriority;
      if (p < kPriSubroutine && p > eff) eff = p;
    };
    if (Reentrant(vi)) {
      consider(h->cloneCaller && h->cloneCaller != ds ? h->cloneCaller : nullptr);
    } else {
      UHandle callers = r->callers;
      for (int32 i = 0, n = ListCount(callers); i < n; ++i) {
        UHandle c = ListAt(callers, i);
        if (!c || !*c) continue;
        for (DataSpace cd = FirstDS(c); cd && *cd; cd = NextDS(cd)) consider(cd);
      }
    }
    if (!hasCaller || eff != h->effPriority) {
      h->effPriority = int16(eff);
      RouteDataSpace(h, eff);
      changedAny = true;
    }
  }
  if (!changedAny) return;
  UHandle subs = VIRec(vi)->subVIs;
  for (int32 i = ListCount(subs) - 1; i >= 0; --i) PropagateInto(ListAt(VIRec(vi)->subVIs, i), depth + 1);
}

}  // namespace

void PropagatePriority(UHandle vi) { PropagateInto(vi, 0); }
