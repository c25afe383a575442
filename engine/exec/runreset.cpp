// Suspend and resume, abort and reset of a VI's run, the reset list and the
// resetting dialog.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/exec/runtexts.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"

using namespace qxrun;

// ---- Suspend and resume --------------------------------------------------------------

void DoSuspendCommand(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return;
  const RunCmdHooks& h = RunCmd();
  DataSpaceHeader* hdr = *ds;
  VIEntranceRec* entrance = &hdr->entrance;
  QueueElement* own = &entrance->ownElement;
  bool takesEffect = false;
  ThMutexAcquire(entrance->dsRights);
  for (QueueElement* q = own->chain; q; q = q->chain) QESetResetPending(q, 0);
  if (!QEResetPending(own)) {
    hdr->suspendPending = 1;
    takesEffect = true;
  } else if (hdr->wholeReset) {
    QESetRunState(own, 0);
    hdr->suspendPending = 1;
    takesEffect = true;
  } else {
    // The suspension came too late: the VI goes on as a subVI.
    QESetRunState(own, 2);
  }
  ThMutexRelease(entrance->dsRights);
  if (!takesEffect) {
    SetState(vi, 12);
    if (h.refreshToolbar) h.refreshToolbar(vi);
    return;
  }
  SetState(vi, 7);
  if (h.refreshToolbar) h.refreshToolbar(vi);
  if (VIRec(vi)->panelHeap && h.markSuspendedControls) h.markSuspendedControls(VIRec(vi)->panelHeap, ds);
  ++(*ds)->resetCount;
  QESetResetPending(&(*ds)->entrance.ownElement, 0);
}

namespace {

void RunFromSlot(DataSpace ds, QueueElement* (*take)(DataSpace)) {
  QueueElement* e = take(ds);
  if (e) RequeueElement(e);
}

}  // namespace

void ResumeVI(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds || !*ds) return;
  SetState(vi, 9);
  if (RunCmd().refreshPanel) RunCmd().refreshPanel(vi);
  if (RunCmd().refreshToolbar) RunCmd().refreshToolbar(vi);
  auto transfer = GetEnginePanelHooks() ? GetEnginePanelHooks()->transferAllControls : nullptr;
  if (VIRec(vi)->viKind == kVIKindDatalog && VIRec(vi)->panelHeap && transfer) transfer(VIRec(vi)->panelHeap);
  RunFromSlot(ds, &DSGetResumeElement);
}

void ContinueVI(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds || !*ds) return;
  SetState(vi, 12);
  if (RunCmd().refreshToolbar) RunCmd().refreshToolbar(vi);
  RunFromSlot(ds, &DSGetContinueElement);
}

// ---- Abort ---------------------------------------------------------------------------

int32 DoAbortCommand(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return kRunCannotRun;
  const uInt32 s = State(vi);
  if (s != 2 && s != 6 && s != 9 && s != 14) return kRunCannotRun;
  if (IsProxy(vi)) {
    if (RunCmd().pxResetCallers) RunCmd().pxResetCallers(ds);
  } else {
    AbortVI(ds);
  }
  return 0;
}

int32 AbortTopVI(UHandle vi) {
  if (!vi || !*vi) return 0;
  ObjHeap panel = VIRec(vi)->panelHeap;
  DataSpace shown = panel ? viinst::PanelDataSpace(panel) : nullptr;
  if (!shown) shown = FirstDS(vi);
  DataSpace top = shown ? GetCallChainTop(shown, 1) : nullptr;
  // A run that was asked for but whose clump has not entered its code yet
  // holds no entrance, so its call chain has no top: the data space it runs
  // in is the one shown, and its queued run element is what is reset.
  if (!top && shown && RunningTop(State(vi))) top = shown;
  if (!top && (VIRec(vi)->flags2 & kVIFlags2RunContinuously)) top = FirstDS(vi);
  return top ? DoAbortCommand(top) : 0;
}

namespace {
// The data spaces whose aborted top-level run the resetting dialog waits
// for (user-interface thread only).
std::vector<DataSpace> gAwaitedRuns;
}  // namespace

void AbortVI(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) return;
  const uInt32 s = State(vi);
  QueueElement* start;
  if (s == 9) {
    start = nullptr;
  } else if (RunningTop(s)) {
    start = (*ds)->runElement;
  } else {
    DBAssert(__FILE__, __LINE__, "AbortVI: the VI does not run");
    return;
  }
  const bool marked = !ExecAbortInProgress();
  if (marked) ExecSetAbortInProgress(1);
  DSCallResetClumps(ds, start);
  // The reset list ends when the clumps have seen the reset; the run itself
  // ends when its element has taken its last step.  Until then its data
  // space is still in use, so the abort is complete only then: a close that
  // follows frees nothing a queue or a thread still holds.
  if (start && ExecTopRunActive(ds)) gAwaitedRuns.push_back(ds);
  if (marked) {
    RunResettingDialog(ds);
    ExecSetAbortInProgress(0);
  }
}

// ---- The reset list ------------------------------------------------------------------

namespace {

int32* ListWords() {
  UHandle list = ExecResetList();
  return list && *list ? reinterpret_cast<int32*>(*list) : nullptr;
}

void RemoveAt(int32* words, int32 i) {
  const int32 count = words[0];
  words[1 + i] = words[count];
  words[count] = 0;
  words[0] = count - 1;
}

// The run record an element goes back to so that it sees its reset.
ExecRunRecord* RecordOf(QueueElement* e) {
  ExecContext* c = e->runningContext ? e->runningContext : e->entryContext;
  return c && c->runRecord ? c->runRecord : ExecSlotRunRecord(0);
}

bool RunningOnAThread(const QueueElement* e) {
  for (int32 i = 0, n = ExecContextCount(); i < n; ++i)
    if (ExecContextAt(i)->current.load() == e) return true;
  return false;
}

// A wait (run state 2, 3 or 4) ends and the element goes back on its run
// record, so that it sees the reset.  An element that a thread still runs
// is about to park: it is woken on a later pass.
void EndWait(QueueElement* e) {
  if (RunningOnAThread(e) || !QEEndWait(e)) return;
  if (ExecRunRecord* r = RecordOf(e)) EnQElm(r, e);
}

// Walks a chain of clumps: true while one is still reset-pending; waiting
// clumps go back on their run records.
bool ChainPending(QueueElement* first) {
  bool pending = false;
  int32 guard = 0;
  for (QueueElement* e = first; e && guard < 1000000; e = e->chain, ++guard) {
    if (QEResetPending(e)) pending = true;
    EndWait(e);
  }
  return pending;
}

}  // namespace

namespace {
std::mutex gResetListLock;

// The entry at index i, none past the end.
DataSpace EntryAt(int32 i) {
  std::lock_guard<std::mutex> g(gResetListLock);
  int32* words = ListWords();
  return words && i < words[0] ? FromWord<DataSpace>(words[1 + i]) : nullptr;
}

// Removes the data space's entry; false when it has none.
bool RemoveEntry(DataSpace ds) {
  std::lock_guard<std::mutex> g(gResetListLock);
  int32* words = ListWords();
  if (!words) return false;
  for (int32 i = 0; i < words[0]; ++i)
    if (FromWord<DataSpace>(words[1 + i]) == ds) {
      RemoveAt(words, i);
      return true;
    }
  return false;
}

}  // namespace

void ExecLockResetList() { gResetListLock.lock(); }
void ExecUnlockResetList() { gResetListLock.unlock(); }

// Execution threads may enter data spaces meanwhile (under their "dsRights",
// then the list's lock): the list is read one entry at a time under its
// lock, and no data space's "dsRights" is taken while the lock is held.
// Only the user-interface thread removes entries and disposes data spaces.
int32 WorkResetList() {
  for (int32 i = 0;;) {
    DataSpace ds = EntryAt(i);
    if (!ds) break;
    bool pending = false;
    if (*ds) {
      DataSpaceHeader* h = *ds;
      ThMutexAcquire(h->entrance.dsRights);
      // The run element stays reset-pending until its run is done, and the
      // own element until the VI is let go: the list waits for their clumps
      // only.  A wait of either ends all the same, or the run could never
      // reach its end.
      if (QueueElement* run = h->runElement) {
        EndWait(run);
        pending = ChainPending(run->chain);
      }
      EndWait(&h->entrance.ownElement);
      pending = ChainPending(h->entrance.ownElement.chain) || pending;
      ThMutexRelease(h->entrance.dsRights);
    }
    if (pending || !RemoveEntry(ds)) ++i;
  }
  std::lock_guard<std::mutex> g(gResetListLock);
  int32* words = ListWords();
  return words ? words[0] : 0;
}

void ResetDSRemove(DataSpace ds) {
  if (!ds) return;
  UHandle vi = OwnerOf(ds);
  static const uChar kNone[1] = {0};
  if (RemoveEntry(ds))
    DBPrintf("ResetDSRemove: removing dsh 0x%lx from \"%p\"", Word(ds), vi && *vi ? VIRec(vi)->name : kNone);
}

// ---- The resetting dialog ------------------------------------------------------------

namespace {

std::string ResettingText(UHandle vi) {
  std::string text;
  UHandle h = nullptr;
  if (RGetString(RunTimeRsrcFile(), kResettingStrId, &h) == kNoErr && h && *h) {
    const int32 size = AZGetHandleSize(h) > 0 ? AZGetHandleSize(h) : DSGetHandleSize(h);
    const int32 n = size > 0 ? (**h < size ? **h : size - 1) : 0;
    text.assign(reinterpret_cast<const char*>(*h + 1), size_t(n > 0 ? n : 0));
    RRelease(h);
  } else {
    text = kResettingText;
  }
  if (vi && *vi) text += NameOf(vi);
  return text;
}

}  // namespace

void RunResettingDialog(DataSpace ds) {
  const RunCmdHooks& h = RunCmd();
  std::string text = ResettingText(OwnerOf(ds));
  UHandle dlg = h.dlgLoad ? h.dlgLoad(RunTimeRsrcFile(), kResettingDialogId, nullptr, kResettingDialogKind, nullptr, 0)
                          : nullptr;
  if (dlg) {
    Str255 p;
    p[0] = uChar(text.size() > 255 ? 255 : text.size());
    std::memcpy(p + 1, text.data(), p[0]);
    if (h.dlgSetCtrlVal) h.dlgSetCtrlVal(dlg, kResettingTextItem, 53, p);
    if (h.dlgMove) h.dlgMove(dlg, kDlgOffScreen, kDlgOffScreen);
    if (h.dlgShow) h.dlgShow(dlg, 1);
  }
  const uInt32 start = MilliSecs();
  const uInt32 delay = uInt32(ExecResettingDlgDelay() > 0 ? ExecResettingDlgDelay() : 0);
  bool moved = false;
  // An aborted run whose element waits ends its wait here too: its data
  // space is in the reset list only when its top-level code held the VI.
  // Data spaces are disposed on this thread only, and a disposed one's run
  // is over, so an active run's data space is alive.
  auto runsLeft = [] {
    auto& runs = gAwaitedRuns;
    runs.erase(std::remove_if(runs.begin(), runs.end(), [](DataSpace d) { return !ExecTopRunActive(d); }),
               runs.end());
    for (DataSpace d : runs) {
      ThMutexAcquire((*d)->entrance.dsRights);
      if (QueueElement* run = (*d)->runElement)
        if (QEResetPending(run)) EndWait(run);
      ThMutexRelease((*d)->entrance.dsRights);
    }
    return !runs.empty();
  };
  for (;;) {
    if (dlg && !moved && MilliSecs() - start >= delay) {
      if (h.dlgMove) h.dlgMove(dlg, kDlgCentred, kDlgCentred);
      moved = true;
    }
    if (dlg && h.dlgBoxStep) h.dlgBoxStep(dlg);
    // The user-interface slot is served by this thread alone (every slot is,
    // without execution threads): its clumps get their slice here, as the
    // main loop gives it, or a reset that needs one of them never ends.
    ExecUserInterfaceSlice(0);
    if (WorkResetList() == 0 && !runsLeft()) break;
    WSleep(1);
  }
  gAwaitedRuns.clear();
  if (dlg && h.dlgUnload) h.dlgUnload(dlg);
  if (h.handleQueuedUserEvents) h.handleQueuedUserEvents(kUEVIDone);
}

void DoResetCommand(DataSpace ds, int32 subVI, int32 location, MgErr error, int32 resetCount) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi || (*ds)->resetCount != resetCount) return;
  VIErrorNotify(vi, ds, FromWord<UHandle>(subVI), location, error);
  if (!IsProxy(vi)) DoAbortCommand(ds);
}
