#include "wevent.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/wservices.h"

namespace {

// The queue: a handle holding a count, then entries of a priority and the
// record.
struct QueueEntry {
  int32 priority;
  WEventRecord event;
};
static_assert(sizeof(QueueEntry) == 44, "queue entry");
constexpr int32 kInitialRoom = 65;
constexpr int32 kSpareRoom = 16;

UHandle gQueue = nullptr;
ThMutex gRights = nullptr;
// Written under the mutex.
bool gPurging = false;
int32 gGate = 0;
int32 gNesting = 1;
int32 gTracking = 0;
ThEvent gWakeUp = nullptr;
WindowRef gDisposal = kWNoWindow;

// Entries taken from the front are not moved out at once: the live entries
// start gHead entries into the handle, and its count word counts the taken
// ones too.  They are moved down when the queue empties or must grow, so
// that draining a burst moves nothing.  Written under the mutex.
int32 gHead = 0;

int32 RawCount() { return reinterpret_cast<int32*>(*gQueue)[0]; }
int32 Count() { return RawCount() - gHead; }
void SetCount(int32 n) { reinterpret_cast<int32*>(*gQueue)[0] = gHead + n; }
QueueEntry* Entries() { return reinterpret_cast<QueueEntry*>(*gQueue + 4) + gHead; }

// Moves the live entries to the front of the handle.
void Compact() {
  if (!gHead) return;
  const int32 n = Count();
  std::memmove(*gQueue + 4, Entries(), size_t(n) * sizeof(QueueEntry));
  gHead = 0;
  SetCount(n);
}

class Rights {
 public:
  Rights() { ThMutexAcquire(gRights); }
  ~Rights() { ThMutexRelease(gRights); }
  Rights(const Rights&) = delete;
  Rights& operator=(const Rights&) = delete;
};

bool SameEvent(const WEventRecord& a, const WEventRecord& b) {
  if (a.window != b.window || a.code != b.code) return false;
  if (a.code != kWEvUser && a.code != -kWEvUser) return true;
  return a.where == b.where && a.globalWhere == b.globalWhere && a.modifiers == b.modifiers &&
         a.character == b.character && a.keyCode == b.keyCode && a.data[0] == b.data[0];
}

bool Eligible(const QueueEntry& e) {
  return gNesting + gTracking <= e.priority && (gGate || e.event.code == kWEvDialogQuit);
}

int32 FirstEligible() {
  const int32 n = Count();
  for (int32 i = 0; i < n; ++i)
    if (Eligible(Entries()[i])) return i;
  return -1;
}

int32 FindEqual(const WEventRecord& event) {
  const int32 n = Count();
  for (int32 i = 0; i < n; ++i)
    if (SameEvent(Entries()[i].event, event)) return i;
  return -1;
}

}  // namespace

MgErr WEventQueueInit(Bool32 start) {
  if (start && !WGetInputWaitsProc()) WSetInputWaitsProc(&WInputWaiting);
  if (!start && WGetInputWaitsProc() == &WInputWaiting) WSetInputWaitsProc(nullptr);
  if (!start) {
    ThMutex m = gRights;
    {
      Rights r;
      if (gQueue) AZDisposeHandle(gQueue);
      gQueue = nullptr;
      gHead = 0;
      gPurging = false;
      gGate = 0;
    }
    gRights = nullptr;
    if (m) ThMutexDestroy(m);
    return kNoErr;
  }
  if (gQueue) return kNoErr;
  gHead = 0;
  gQueue = AZNewHClr(4 + kInitialRoom * int32(sizeof(QueueEntry)));
  if (!gQueue) return kMemFullErr;
  MgErr err = ThMutexCreate(&gRights, "WEventQueueRights");
  if (err) gRights = nullptr;
  return err;
}

Bool32 WEventQueueExists() {
  Rights r;
  return gQueue ? 1 : 0;
}

MgErr WPostEvent(const WEventRecord* event, Bool32 noDuplicate, int32 priorityKind) {
  if (!event) return kArgErr;
  Rights r;
  if (!gQueue) return kMemFullErr;
  WEventRecord copy = *event;
  if (copy.window == kWCurrentWindow) {
    DBAssert(__FILE__, __LINE__, "an event posted to the current window");
    return kArgErr;
  }
  if (copy.window == kWNoWindow) copy.window = kWRootWindow;
  int32 priority;
  switch (priorityKind) {
    case kWPostAnyLevel: priority = kWPriorityAnyLevel; break;
    case kWPostTopLevel: priority = 1; break;
    // The level below the current loop, but never below the outermost
    // one: a priority under 1 would never be taken by any loop.
    case kWPostOuterLevel: priority = gNesting - 1 < 1 ? 1 : gNesting - 1; break;
    default:
      DBAssert(__FILE__, __LINE__, "unknown event priority kind");
      return kArgErr;
  }
  if (noDuplicate && FindEqual(copy) >= 0) return kNoErr;
  const int32 n = Count();
  const int32 need = 4 + (n + 1 + kSpareRoom) * int32(sizeof(QueueEntry));
  if (AZGetHandleSize(gQueue) < need + gHead * int32(sizeof(QueueEntry))) {
    Compact();
    if (AZGetHandleSize(gQueue) < need)
      if (MgErr err = AZSetHandleSize(gQueue, need)) return err;
  }
  // Only an idle loop's wake-up needs to know whether this is the first
  // entry of its priority.
  bool samePriorityQueued = false;
  if (gWakeUp)
    for (int32 i = 0; i < n && !samePriorityQueued; ++i) samePriorityQueued = Entries()[i].priority == priority;
  Entries()[n] = QueueEntry{priority, copy};
  SetCount(n + 1);
  if (gWakeUp && !samePriorityQueued) ThEventSignal(gWakeUp);
  return kNoErr;
}

int32 WGetNextEvent(WEventRecord* event) {
  Rights r;
  if (!gQueue || gPurging || !event) return 0;
  const int32 i = FirstEligible();
  if (i < 0) return 0;
  *event = Entries()[i].event;
  const int32 n = Count();
  if (i == 0) {
    ++gHead;
  } else {
    std::memmove(Entries() + i, Entries() + i + 1, size_t(n - i - 1) * sizeof(QueueEntry));
    SetCount(n - 1);
  }
  if (Count() == 0) {
    gHead = 0;
    SetCount(0);
  }
  return 1;
}

int32 WCountPendingEvents() {
  Rights r;
  if (!gQueue) return 0;
  const int32 i = FirstEligible();
  return i < 0 ? 0 : Count() - i;
}

void WPurgeEvents(WindowRef arg, WEventPredicate predicate, void* data) {
  if (!predicate) return;
  ThMutexAcquire(gRights);
  if (!gQueue) {
    ThMutexRelease(gRights);
    return;
  }
  if (gPurging) {
    ThMutexRelease(gRights);
    DBAssert(__FILE__, __LINE__, "a purge of the event queue while another runs");
    return;
  }
  gPurging = true;
  for (int32 i = 0; gQueue && i < Count(); ++i) {
    const WEventRecord copy = Entries()[i].event;
    ThMutexRelease(gRights);
    const int32 accepted = predicate(arg, &copy, data);
    ThMutexAcquire(gRights);
    if (accepted && gQueue && i < Count()) {
      Entries()[i].event.code = kWEvNull;
      Entries()[i].event.window = gDisposal;
    }
  }
  gPurging = false;
  ThMutexRelease(gRights);
}

namespace {
int32 AddressedTo(WindowRef window, const WEventRecord* event, void*) { return event->window == window; }
}  // namespace

void WPurgeWindowEvents(WindowRef window) { WPurgeEvents(window, &AddressedTo, nullptr); }

int32 WFindQueuedEvent(const WEventRecord* event) {
  if (!event) return -1;
  Rights r;
  return gQueue ? FindEqual(*event) : -1;
}

void WEventSetGate(Bool32 open) {
  Rights r;
  gGate = open ? 1 : 0;
}

void WEventSetLoopState(int32 nestingLevel, Bool32 tracking) {
  Rights r;
  gNesting = nestingLevel;
  gTracking = tracking ? 1 : 0;
}

Bool32 WEventTracking() {
  Rights r;
  return gTracking;
}

void WEventSetDisposalWindow(WindowRef window) {
  Rights r;
  gDisposal = window;
}

void WEventSetWakeUp(ThEvent event) {
  Rights r;
  gWakeUp = event;
}

ThEvent WEventWakeUp() {
  Rights r;
  return gWakeUp;
}
