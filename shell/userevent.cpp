#include "shell/userevent.h"

#include "engine/exec/exec.h"
#include "engine/exec/postedcb.h"
#include "engine/vi/viinst.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "shell/eventfilter.h"
#include "shell/runshell.h"

namespace {

constexpr int32 kSubCodes = 28;
UserEventHandler gHandlers[kSubCodes] = {};

// Sub-code 0: VIs may have become unused.
void PurgeHandler(int32, int32, int32, int32, int32) {
  PurgeUnusedVIs(0);
  QuitIfNoVIWindowsLeft();
}

// Sub-code 2: a subVI whose panel must close before its caller goes on.
// Only for the data space's current generation and an element waiting in
// state 4: the element goes on in state 1 after the panel is closed
// (unless the element's mode word is 1).
void ClosePanelHandler(int32 a1, int32 a2, int32 a3, int32 a4, int32) {
  UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(a1)));
  QueueElement* element = reinterpret_cast<QueueElement*>(uintptr_t(uInt32(a2)));
  DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(uInt32(a3)));
  if (!vi || !element || !ds || !*ds || (*ds)->resetCount != a4 || QERunState(element) != 4) return;
  QESetRunState(element, 1);
  if (QEResetPending(element) != 1 && VIRec(vi)->panelHeap) {
    CloseFPAndUnload(vi);
    QuitIfNoVIWindowsLeft();
  }
  EnQRunQ(element);
}

// Sub-code 3: a posted callback.
void PostedCallbackHandler(int32 a1, int32, int32, int32, int32) {
  RunPostedCallback(reinterpret_cast<UHandle>(uintptr_t(uInt32(a1))));
}

// Sub-code 25: close a VI.
void CloseVIHandler(int32 a1, int32, int32, int32, int32) {
  UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(a1)));
  // The VI may have gone since the event was posted (a purge, another close).
  if (vi && IsVILoaded(vi)) CloseVI(vi, 0, 1, 0);
  PurgeUnusedVIs(1);
  QuitIfNoVIWindowsLeft();
}

// Sub-code 12: the data space's panel updates (the panel layer's).
void PanelUpdateHandler(int32 a1, int32 a2, int32, int32, int32) {
  if (ShellEventHooksInUse().processUpdateQueue) ShellEventHooksInUse().processUpdateQueue(a1, a2, 1);
}
void CallInUIThreadHandler(int32 a1, int32, int32, int32, int32) {
  if (ShellEventHooksInUse().viRefRunCallInUIThread) ShellEventHooksInUse().viRefRunCallInUIThread(a1);
}
void AutomationHandler(int32 a1, int32, int32, int32, int32) {
  if (ShellEventHooksInUse().viServRequestDispatch) ShellEventHooksInUse().viServRequestDispatch(a1);
}

UserEventHandler HandlerOf(int32 subCode) {
  if (subCode < 0 || subCode >= kSubCodes) return nullptr;
  if (gHandlers[subCode]) return gHandlers[subCode];
  switch (subCode) {
    case kUEPurgeVIs: return &PurgeHandler;
    case kUEClosePanel: return &ClosePanelHandler;
    case kUEPostedCallback: return &PostedCallbackHandler;
    case kUECloseVI: return &CloseVIHandler;
    case kUEPanelUpdate: return &PanelUpdateHandler;
    case kUECallInUIThread: return &CallInUIThreadHandler;
    case kUEAutomation: return &AutomationHandler;
    default: return RunCommandHandler(subCode);
  }
}

bool IsUserEvent(const WEventRecord* e) { return e && (e->code == kWEvUser || e->code == -kWEvUser); }

}  // namespace

int32 PostUserEvent(WindowRef window, int32 subCode, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5,
                    Bool32 noDuplicate, int32 priority) {
  WEventRecord e{};
  e.code = kWEvUser;
  e.window = window;
  e.where = subCode;
  e.globalWhere = a1;
  e.modifiers = a2;
  e.character = a3;
  e.keyCode = a4;
  e.data[0] = a5;
  return WPostEvent(&e, noDuplicate, priority);
}

namespace {
// The data space is the VI's own or one of its clones.
bool DataSpaceOf(UHandle vi, UHandle dataSpace) {
  for (DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); ds && *ds; ds = (*ds)->nextClone)
    if (reinterpret_cast<UHandle>(ds) == dataSpace) return true;
  return false;
}
// The record's target: no VI and a generation that holds (or none to
// compare); or a VI still loaded whose data space is set and still its
// own, with a generation that holds.
bool TargetValid(const PostedCallbackRec& r) {
  const bool generation = !r.generationCounter || *r.generationCounter == r.generation;
  if (!r.vi) return generation;
  if (!IsVILoaded(r.vi) || !r.dataSpace || !*r.dataSpace) return false;
  if (!DataSpaceOf(r.vi, r.dataSpace)) return false;
  return generation;
}
}  // namespace

void RunPostedCallback(UHandle record) {
  if (!record || !*record) return;
  if (AZGetHandleSize(record) < int32(sizeof(PostedCallbackRec))) {
    DBAssert(__FILE__, __LINE__, "RunPostedCallback: not a callback record");
    return;
  }
  PostedCallbackRec r = *reinterpret_cast<const PostedCallbackRec*>(*record);
  if (!TargetValid(r)) {
    AZDisposeHandle(record);
    return;
  }
  // A non-zero answer keeps the record: the procedure owns it now.
  if (r.proc && r.proc(r.arg) != 0) return;
  // The call may have disposed what the record names: tested again.
  if (TargetValid(r) && r.done && Occur(r.done) != kNoErr)
    DBAssert(__FILE__, __LINE__, "RunPostedCallback: the occurrence could not fire");
  AZDisposeHandle(record);
}

int32 UserEventArg(const WEventRecord* e, int32 n) {
  switch (n) {
    case 1: return e->globalWhere;
    case 2: return e->modifiers;
    case 3: return e->character;
    case 4: return e->keyCode;
    case 5: return e->data[0];
    default: return 0;
  }
}

void SetUserEventHandler(int32 subCode, UserEventHandler handler) {
  if (subCode >= 0 && subCode < kSubCodes) gHandlers[subCode] = handler;
}

int32 DispatchUserEvent(const WEventRecord* event) {
  if (!IsUserEvent(event)) return 0;
  // VI-server connection work takes the whole event.
  if (UserEventSubCode(event) == kUEServerWork && !gHandlers[kUEServerWork]) {
    if (!ShellEventHooksInUse().serverEvent) return 0;
    ShellEventHooksInUse().serverEvent(event);
    return 1;
  }
  UserEventHandler h = HandlerOf(UserEventSubCode(event));
  if (!h) return 0;
  h(UserEventArg(event, 1), UserEventArg(event, 2), UserEventArg(event, 3), UserEventArg(event, 4),
    UserEventArg(event, 5));
  return 1;
}

int32 FilterInstrUserEvents(WindowRef, const WEventRecord* event, void* vi) {
  if (!IsUserEvent(event)) return 0;
  const int32 word = int32(uintptr_t(vi));
  const int32 sub = UserEventSubCode(event);
  switch (sub) {
    case 1: case 2: case 9: case 10: case 13: case 14: case 21: case 25: case 27:
      return UserEventArg(event, 1) == word;
    case 8: case 12:
      if (UserEventArg(event, 2) != word) return 0;
      DBPrintf("FilterInstrHandleEvents: Got rid of user event %d", sub);
      return 1;
    default: return 0;
  }
}

int32 FilterDSUserEvents(WindowRef, const WEventRecord* event, void* dataSpace) {
  if (!IsUserEvent(event)) return 0;
  const int32 word = int32(uintptr_t(dataSpace));
  const int32 sub = UserEventSubCode(event);
  bool hit = false;
  switch (sub) {
    case 1: case 2: hit = UserEventArg(event, 3) == word; break;
    case 6: case 8: case 7: case 11: case 12: hit = UserEventArg(event, 1) == word; break;
    case 10: hit = UserEventArg(event, 2) == word || UserEventArg(event, 3) == word; break;
    default: return 0;
  }
  if (hit && sub != 12) DBPrintf("FilterDSHeaderEvents: Got rid of user event %d", sub);
  return hit;
}
