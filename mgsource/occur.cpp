// The occurrence manager.
//
// Locks, always taken in this order: "TimerOccMutex" (the timed occurrences,
// and every re-arm of the timer), "OccMutex" (both jars, the handler chains,
// the group tables and the pending lists), "gTimedHdlrMutex" (the handler
// time-outs).  Procedures run with none of them held.
#include "occur.h"

#include <atomic>
#include <cstring>

#include <valgrind/helgrind.h>

#include "blockmove.h"
#include "config.h"
#include "cfgwords.h"
#include "cookie.h"
#include "datetime.h"
#include "debug.h"
#include "memory.h"

namespace {

constexpr int32 kGroups = kThMaxThreads;
constexpr int32 kTimerPriority = 4;
constexpr int32 kShutdownPollMs = 10;

ThMutex gOccMutex = nullptr;
ThMutex gTimerOccMutex = nullptr;
ThMutex gTimedHdlrMutex = nullptr;

CookieJar gOccJar = nullptr;
CookieJar gHdlrJar = nullptr;

// The lock-free queue.  An entry is taken in two steps: the test-and-set
// claims it (busy word 1), the occurrence is stored, and the busy word
// becomes 3 to publish it.  The drain takes only published entries, moving
// them to 5 while it reads the occurrence so that no producer can reuse the
// entry under it, then frees it (0).  Producers see every non-zero word as
// busy.
struct FunnyEntry {
  int32 busy;
  uInt32 occ;
};
static_assert(sizeof(FunnyEntry) == 8, "queue entry");
enum : int32 { kEntryFree = 0, kEntryClaimed = 1, kEntryPublished = 3, kEntryTaking = 5 };

FunnyEntry* gFunnyQ = nullptr;
// Entries claimed or published and not yet taken: the drain scans only
// while it is not 0.
int32 gFunnyCount = 0;

OccNode* gTimedOccs = nullptr;   // (occurrence, time), ascending; "TimerOccMutex"
OccNode* gTimedHdlrs = nullptr;  // (handler, deadline), ascending; "gTimedHdlrMutex"

// Thread groups, indexed by thread slot.  A group's root is the slot whose
// link is its own index; its event and pending list are the group's.
int32 gGroupLink[kGroups];
ThEvent gGroupEvent[kGroups];
OccNode* gPending[kGroups];
// Nodes on all pending lists, so that an idle check needs no lock.
int32 gPendingCount = 0;

struct TimerRec {
  ThThread thread;
  ThTimedEvent event;
  int32 stop;
  int32 running;
};
TimerRec gTimer = {};
std::atomic<OccurStopHook> gStopHook{nullptr};  // a test's, see OccurTestSetStopHook

Bool32 gHardWaitTimeCritical = 0;
int32 gStarted = 0;
std::atomic<OccurWakeUpProc> gWakeUp{nullptr};

const uChar kHardWaitKey[] = "\x14HardWaitTimeCritical";

// Calls under way in the manager, and the shut-down's mark.  Every entry
// point counts itself in before it touches a mutex, a jar, a list or the
// queue, and gives up once a shut-down has begun (until the next start);
// the shut-down marks itself and waits for the count to reach 0 before it
// frees anything.  Before the first start, calls go on as they always did
// (a mutex that does not exist yet is not taken).
int32 gCalls = 0;
int32 gStopping = 0;

class Gate {
 public:
  Gate() {
    __atomic_add_fetch(&gCalls, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&gStopping, __ATOMIC_SEQ_CST))
      Leave();
    else
      ANNOTATE_HAPPENS_AFTER(&gStopping);  // what the start made
  }
  ~Gate() { Leave(); }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;
  explicit operator bool() const { return in_; }
  // Leaves before the call is over: procedures run outside the gate, so
  // that a shut-down never waits on a handler's own work.
  void Leave() {
    if (in_) {
      ANNOTATE_HAPPENS_BEFORE(&gCalls);
      __atomic_sub_fetch(&gCalls, 1, __ATOMIC_RELEASE);
    }
    in_ = false;
  }

 private:
  bool in_ = true;
};

inline int32 LoadAcq(const int32* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline void StoreRel(int32* p, int32 v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }

// Records, under "OccMutex".  Cookie information is packed, so it is copied.
inline bool GetOcc(Occurrence o, OccurRec* r) { return MCGetCookieInfo(gOccJar, o, r) == kNoErr; }
inline void PutOcc(Occurrence o, const OccurRec& r) { MCSetCookieInfo(gOccJar, o, &r); }
inline bool GetHdlr(OccurHdlr h, OccurHdlrRec* r) { return MCGetCookieInfo(gHdlrJar, h, r) == kNoErr; }
inline void PutHdlr(OccurHdlr h, const OccurHdlrRec& r) { MCSetCookieInfo(gHdlrJar, h, &r); }

inline void CallProc(const OccurHdlrRec& r) {
  if (r.proc) r.proc(r.data);
}

OccNode* NewNode(uInt32 cookie, uInt32 word) {
  OccNode* n = reinterpret_cast<OccNode*>(AZNewPtr(sizeof(OccNode)));
  if (n) {
    n->cookie = cookie;
    n->word = word;
    n->next = nullptr;
  }
  return n;
}
inline void FreeNode(OccNode* n) { AZDisposePtr(reinterpret_cast<UPtr>(n)); }
void FreeList(OccNode* n) {
  while (n) {
    OccNode* next = n->next;
    FreeNode(n);
    n = next;
  }
}

// Unlinks and returns the first node of the list holding cookie, or NULL.
OccNode* Unlink(OccNode** list, uInt32 cookie) {
  for (OccNode** p = list; *p; p = &(*p)->next) {
    if ((*p)->cookie == cookie) {
      OccNode* n = *p;
      *p = n->next;
      n->next = nullptr;
      return n;
    }
  }
  return nullptr;
}

bool ListHas(const OccNode* n, uInt32 cookie) {
  for (; n; n = n->next)
    if (n->cookie == cookie) return true;
  return false;
}

// The root of a slot's group.  Links always end at a root, so the walk is
// short; the bound only guards against a table broken by other code.
int32 RootOf(int32 slot) {
  if (slot < 0 || slot >= kGroups) return 0;
  for (int32 steps = 0; steps < kGroups; ++steps) {
    int32 next = __atomic_load_n(&gGroupLink[slot], __ATOMIC_RELAXED);
    if (next == slot || next < 0 || next >= kGroups) return slot;
    slot = next;
  }
  return slot;
}

inline OccNode* PendingHead(int32 root) { return __atomic_load_n(&gPending[root], __ATOMIC_ACQUIRE); }
inline void SetPendingHead(int32 root, OccNode* n) { __atomic_store_n(&gPending[root], n, __ATOMIC_RELEASE); }

// Under "OccMutex": pushes a node on the pending list of a group and wakes it.
void PushPending(int32 group, OccNode* n) {
  int32 root = RootOf(group);
  n->next = gPending[root];
  SetPendingHead(root, n);
  __atomic_add_fetch(&gPendingCount, 1, __ATOMIC_RELEASE);
  if (ThEvent e = gGroupEvent[root]) ThEventSignal(e);
}

// Removes a handler's time-out entry; the caller holds "OccMutex" and has
// cleared the timed bit in its copy of the record.
void DropTimeout(OccurHdlr h) {
  ThMutexAcquire(gTimedHdlrMutex);
  OccNode* n = Unlink(&gTimedHdlrs, h);
  ThMutexRelease(gTimedHdlrMutex);
  if (n)
    FreeNode(n);
  else
    DBPrintf("ReleaseTimedHandler: handler not in list");
}

inline void ReleaseTimeoutIfTimed(OccurHdlr h, OccurHdlrRec* r) {
  if (r->flags & kOccTimed) ReleaseTimedHandler(h, r);
}

// Under "OccMutex": queues an armed, bound handler on its group's pending
// list, with the fired-otherwise mark when asked.  node, when given, becomes
// the pending node; it is the timer's own time-out entry when out is given
// too.  *queued tells whether the handler was queued.
MgErr QueueHdlr(OccurHdlr h, OccurHdlrRec* out, OccNode* node, bool mark, bool* queued) {
  *queued = false;
  OccurHdlrRec r;
  if (!GetHdlr(h, &r) || r.occ == 0 || !r.armed) return kNoErr;
  bool fromTimer = node && out && mark;
  if (!node) {
    node = NewNode(h, 0);
    if (!node) return kMemFullErr;
  } else {
    node->cookie = h;
    node->word = 0;
  }
  r.armed = 0;
  if (fromTimer || !(r.flags & kOccTimed))
    r.flags &= ~kOccTimed;
  else
    ReleaseTimedHandler(h, &r);
  if (mark) r.flags |= kOccFiredOtherwise;
  PutHdlr(h, r);
  PushPending(r.group, node);
  if (out) *out = r;
  *queued = true;
  return kNoErr;
}

// Under "OccMutex": one firing of a live occurrence.  Every handler of the
// chain is tried; the first error is returned.
MgErr FireLocked(Occurrence occ, bool mark) {
  OccurRec o;
  if (!GetOcc(occ, &o)) return kArgErr;
  o.generation += 1;
  if (o.generation == kOccFirstGeneration) o.generation += 1;
  PutOcc(occ, o);
  MgErr err = kNoErr;
  for (OccNode* n = o.chain; n; n = n->next) {
    bool queued;
    MgErr e = QueueHdlr(n->cookie, nullptr, nullptr, mark, &queued);
    if (e != kNoErr && err == kNoErr) err = e;
  }
  return err;
}

// Under "OccMutex": removes the handler's node from its occurrence's chain.
void UnbindLocked(OccurHdlr h, Occurrence occ) {
  OccurRec o;
  if (!occ || !GetOcc(occ, &o)) return;
  if (OccNode* n = Unlink(&o.chain, h)) {
    FreeNode(n);
    PutOcc(occ, o);
  }
}

MgErr BindLocked(OccurHdlr h, Occurrence occ, OccurProc proc, void* data) {
  OccurHdlrRec r;
  if (!GetHdlr(h, &r)) return kArgErr;
  ReleaseTimeoutIfTimed(h, &r);
  Occurrence former = r.occ;
  r.proc = proc;
  r.data = data;
  r.group = 0;
  OccurRec o;
  if (occ != 0 && former == occ && GetOcc(occ, &o) && ListHas(o.chain, h)) {
    PutHdlr(h, r);
    return kNoErr;
  }
  UnbindLocked(h, former);
  r.occ = 0;
  MgErr err = kNoErr;
  if (occ != 0) {
    if (!GetOcc(occ, &o)) {
      err = kBadOccurrenceErr;
    } else if (OccNode* n = NewNode(h, 0)) {
      n->next = o.chain;
      o.chain = n;
      PutOcc(occ, o);
      r.occ = occ;
      if (occ != former) r.lastGen = kOccFirstGeneration;
    } else {
      err = kMemFullErr;
    }
  }
  PutHdlr(h, r);
  return err;
}

// Inserts a time-out entry after every entry whose deadline is not later;
// under "gTimedHdlrMutex".  Returns whether it became the first entry.
bool InsertTimeout(OccNode* n) {
  OccNode** p = &gTimedHdlrs;
  while (*p && MillisecCmp((*p)->word, n->word) <= 0) p = &(*p)->next;
  n->next = *p;
  *p = n;
  return p == &gTimedHdlrs;
}

// Inserts a timed entry before the first entry whose time is not earlier;
// under "TimerOccMutex".
void InsertTimed(OccNode* n) {
  OccNode** p = &gTimedOccs;
  while (*p && MillisecCmp((*p)->word, n->word) < 0) p = &(*p)->next;
  n->next = *p;
  *p = n;
}

inline uInt32 FirstTime(const OccNode* head) { return head ? head->word : 0; }

// Removes an occurrence's timed entry, under "TimerOccMutex"; true when the
// first time changed, so that the timer must be re-armed.
bool DropTimedEntry(Occurrence occ) {
  uInt32 before = FirstTime(gTimedOccs);
  if (OccNode* n = Unlink(&gTimedOccs, occ)) FreeNode(n);
  return FirstTime(gTimedOccs) != before;
}

void RearmTimer();

MgErr Arm(OccurHdlr hdlr, Bool32 ignoreEarlier, bool withTimeout, int32 timeoutMs) {
  if (!hdlr) return kArgErr;
  Gate gate;
  if (!gate) return kArgErr;
  // Only registered threads have a group; the look-up reports any other.
  int32 slot = ThThreadIndex(nullptr);
  ThMutexAcquire(gOccMutex);
  OccurHdlrRec r;
  if (!GetHdlr(hdlr, &r)) {
    ThMutexRelease(gOccMutex);
    return kArgErr;
  }
  if (withTimeout) r.flags &= ~kOccFiredOtherwise;
  OccurRec o;
  if (!GetOcc(r.occ, &o)) {
    r.flags |= kOccFiredOtherwise;
    PutHdlr(hdlr, r);
    ThMutexRelease(gOccMutex);
    gate.Leave();
    CallProc(r);
    return kHandlerUnboundErr;
  }
  if (slot < 0 || slot >= kGroups) {
    ThMutexRelease(gOccMutex);
    return kArgErr;
  }
  r.group = RootOf(slot);
  if (ignoreEarlier) r.lastGen = o.generation;
  if (o.generation != r.lastGen) {
    r.lastGen = o.generation;
    r.armed = 0;
    ReleaseTimeoutIfTimed(hdlr, &r);
    PutHdlr(hdlr, r);
    ThMutexRelease(gOccMutex);
    gate.Leave();
    DBPrintf("Handler called Immediately in OnOccurrence");
    CallProc(r);
    return kNoErr;
  }
  MgErr err = kNoErr;
  bool rearm = false;
  if (withTimeout && timeoutMs >= 0) {
    // One time-out per handler: a new arming replaces the old deadline.
    ReleaseTimeoutIfTimed(hdlr, &r);
    OccNode* n = NewNode(hdlr, 0);
    ThMutexAcquire(gTimedHdlrMutex);
    r.armed = 1;
    if (n) {
      n->word = MilliSecs() + uInt32(timeoutMs);
      if (n->word == 0) n->word = 1;
      r.flags |= kOccTimed;
      // A new first deadline moves the timer; a time-out of 0 is due now
      // and is queued before this call returns.
      rearm = InsertTimeout(n) || timeoutMs == 0;
    } else {
      err = kMemFullErr;
    }
    ThMutexRelease(gTimedHdlrMutex);
  } else {
    r.armed = 1;
  }
  PutHdlr(hdlr, r);
  ThMutexRelease(gOccMutex);
  if (rearm) RearmTimer();
  return err;
}

// Takes every published entry of the lock-free queue and fires it.
void DrainQueue() {
  FunnyEntry* q = __atomic_load_n(&gFunnyQ, __ATOMIC_ACQUIRE);
  if (!q || LoadAcq(&gFunnyCount) == 0) return;
  for (int32 i = 0; i < kOccFunnyQEntries; ++i) {
    FunnyEntry* e = &q[i];
    int32 expected = kEntryPublished;
    if (LoadAcq(&e->busy) != kEntryPublished ||
        !__atomic_compare_exchange_n(&e->busy, &expected, kEntryTaking, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_RELAXED))
      continue;
    Occurrence occ = __atomic_load_n(&e->occ, __ATOMIC_RELAXED);
    StoreRel(&e->busy, kEntryFree);
    __atomic_sub_fetch(&gFunnyCount, 1, __ATOMIC_RELEASE);
    Occur(occ);
  }
}

int32 OccurTimerThread(void*) {
  // The deadline is 0 from the event's creation on; setting it here could
  // wipe out a deadline that a re-arm made before this thread ran.
  ThThreadSetPriority(ThThreadCurrent(), kTimerPriority);
  while (!LoadAcq(&gTimer.stop)) {
    ThTimedEventWait(gTimer.event);
    if (!LoadAcq(&gTimer.stop)) RearmTimer();
  }
  StoreRel(&gTimer.running, 0);
  return 0;
}

// Frees every node the manager still holds: timed lists, pending lists and
// the occurrences' handler chains.
void FreeAllNodes() {
  FreeList(gTimedOccs);
  gTimedOccs = nullptr;
  FreeList(gTimedHdlrs);
  gTimedHdlrs = nullptr;
  for (int32 g = 0; g < kGroups; ++g) {
    FreeList(gPending[g]);
    gPending[g] = nullptr;
  }
  gPendingCount = 0;
  UHandle list = nullptr;
  if (gOccJar && MCGetCookieList(gOccJar, &list) == kNoErr) {
    int32 count;
    std::memcpy(&count, *list, sizeof count);
    for (int32 i = 0; i < count; ++i) {
      Occurrence occ;
      std::memcpy(&occ, *list + sizeof count + i * sizeof occ, sizeof occ);
      OccurRec o;
      if (GetOcc(occ, &o)) FreeList(o.chain);
    }
  }
  if (list) AZDisposeHandle(list);
}

// Words read outside "OccMutex" as hints, or polled; every such read is
// atomic, and a hint is checked again under the mutex.
void AnnotateLockFreeWords() {
  ANNOTATE_BENIGN_RACE_SIZED(gGroupLink, sizeof gGroupLink, "group links read by the idle check");
  ANNOTATE_BENIGN_RACE_SIZED(gPending, sizeof gPending, "pending heads read by the idle check");
  ANNOTATE_BENIGN_RACE_SIZED(&gPendingCount, sizeof gPendingCount, "pending count read by the idle check");
  ANNOTATE_BENIGN_RACE_SIZED(&gFunnyCount, sizeof gFunnyCount, "queue count");
  ANNOTATE_BENIGN_RACE_SIZED(&gFunnyQ, sizeof gFunnyQ, "queue address");
  ANNOTATE_BENIGN_RACE_SIZED(&gStarted, sizeof gStarted, "started flag");
  ANNOTATE_BENIGN_RACE_SIZED(&gTimer.stop, sizeof gTimer.stop, "timer stop flag");
  ANNOTATE_BENIGN_RACE_SIZED(&gTimer.running, sizeof gTimer.running, "timer running flag");
}

// Runs f on a copy of a live handler's record under "OccMutex"; 1 for any
// other value.
template <typename F>
MgErr WithHdlr(OccurHdlr h, F f) {
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gOccMutex);
  OccurHdlrRec r;
  MgErr err = GetHdlr(h, &r) ? f(r) : MgErr(kArgErr);
  ThMutexRelease(gOccMutex);
  return err;
}

void ResetGroups() {
  for (int32 g = 0; g < kGroups; ++g) {
    gGroupLink[g] = g;
    gGroupEvent[g] = nullptr;
    gPending[g] = nullptr;
  }
  gPendingCount = 0;
}

}  // namespace

// Occurrences ----------------------------------------------------------------

Occurrence AllocOccur() {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(gOccMutex);
  OccurRec o = {kOccFirstGeneration, nullptr};
  Occurrence occ = MCNewCookie(gOccJar, &o);
  ThMutexRelease(gOccMutex);
  return occ;
}

MgErr DeallocOccur(Occurrence occ) {
  Gate gate;
  if (!gate) return kArgErr;
  // Its timed entry goes too, so that it can never fire a later occurrence
  // that happens to get the same cookie.
  ThMutexAcquire(gTimerOccMutex);
  ThMutexAcquire(gOccMutex);
  if (!MCIsACookie(gOccJar, occ)) {
    ThMutexRelease(gOccMutex);
    ThMutexRelease(gTimerOccMutex);
    return kArgErr;
  }
  bool changed = DropTimedEntry(occ);
  FireLocked(occ, true);
  OccurRec o;
  GetOcc(occ, &o);
  for (OccNode* n = o.chain; n; n = n->next) {
    OccurHdlrRec r;
    if (GetHdlr(n->cookie, &r) && r.occ == occ) {
      r.occ = 0;
      r.lastGen = kOccFirstGeneration;
      PutHdlr(n->cookie, r);
    }
  }
  FreeList(o.chain);
  MCDisposeCookie(gOccJar, occ, nullptr);
  ThMutexRelease(gOccMutex);
  ThMutexRelease(gTimerOccMutex);
  if (changed) RearmTimer();
  return kNoErr;
}

MgErr Occur(Occurrence occ) {
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gOccMutex);
  MgErr err = FireLocked(occ, false);
  ThMutexRelease(gOccMutex);
  return err;
}

Bool32 OccurIsValid(Occurrence value) {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(gOccMutex);
  Bool32 live = MCIsACookie(gOccJar, value);
  ThMutexRelease(gOccMutex);
  return live;
}

MgErr OccurIfValid(Occurrence value) {
  Gate gate;
  if (!gate) return kNoErr;
  ThMutexAcquire(gOccMutex);
  MgErr err = MCIsACookie(gOccJar, value) ? FireLocked(value, false) : kNoErr;
  ThMutexRelease(gOccMutex);
  return err;
}

// Handlers -------------------------------------------------------------------

OccurHdlr AllocOccurHdlr(Occurrence occ, OccurProc proc, void* data) {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(gOccMutex);
  OccurHdlrRec r = {0, 0, kOccFirstGeneration, proc, data, 0, 0};
  OccurHdlr h = MCNewCookie(gHdlrJar, &r);
  if (h && occ != 0 && BindLocked(h, occ, proc, data) != kNoErr) {
    MCDisposeCookie(gHdlrJar, h, nullptr);
    h = 0;
  }
  ThMutexRelease(gOccMutex);
  return h;
}

MgErr BindOccurHdlr(OccurHdlr hdlr, Occurrence occ, OccurProc proc, void* data) {
  if (!hdlr) return kArgErr;
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gOccMutex);
  MgErr err = BindLocked(hdlr, occ, proc, data);
  ThMutexRelease(gOccMutex);
  return err;
}

MgErr DeallocOccurHdlr(OccurHdlr hdlr) {
  return WithHdlr(hdlr, [hdlr](OccurHdlrRec& r) {
    ReleaseTimeoutIfTimed(hdlr, &r);
    UnbindLocked(hdlr, r.occ);
    MCDisposeCookie(gHdlrJar, hdlr, nullptr);
    return kNoErr;
  });
}

MgErr OnOccurrence(OccurHdlr hdlr, Bool32 ignoreEarlier) { return Arm(hdlr, ignoreEarlier, false, -1); }

MgErr OnOccurrenceWithTimeout(OccurHdlr hdlr, Bool32 ignoreEarlier, int32 timeoutMs) {
  return Arm(hdlr, ignoreEarlier, true, timeoutMs);
}

MgErr CancelOnOccur(OccurHdlr hdlr) {
  return WithHdlr(hdlr, [hdlr](OccurHdlrRec& r) {
    r.armed = 0;
    OccurRec o;
    if (GetOcc(r.occ, &o)) r.lastGen = o.generation;
    ReleaseTimeoutIfTimed(hdlr, &r);
    PutHdlr(hdlr, r);
    return kNoErr;
  });
}

MgErr FireOccurHdlr(OccurHdlr hdlr) {
  return WithHdlr(hdlr, [hdlr](OccurHdlrRec&) {
    bool queued;
    return QueueHdlr(hdlr, nullptr, nullptr, true, &queued);
  });
}

Bool32 HandlerTimedOut(OccurHdlr hdlr) {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(gOccMutex);
  OccurHdlrRec r;
  Bool32 out = GetHdlr(hdlr, &r) && (r.flags & kOccFiredOtherwise) ? 1 : 0;
  ThMutexRelease(gOccMutex);
  return out;
}

void ReleaseTimedHandler(OccurHdlr hdlr, OccurHdlrRec* rec) {
  Gate gate;
  if (!gate) return ;
  ThMutexAcquire(gOccMutex);
  OccurHdlrRec own;
  bool store = false;
  if (!rec && GetHdlr(hdlr, &own)) {
    rec = &own;
    store = true;
  }
  if (rec) rec->flags &= ~kOccTimed;
  if (store) PutHdlr(hdlr, own);
  DropTimeout(hdlr);
  ThMutexRelease(gOccMutex);
}

MgErr ChkOccurrences() {
  if (!LoadAcq(&gStarted)) return kNoErr;
  int32 slot = -1;
  // One handler per turn: its procedure runs outside the gate.
  for (;;) {
    OccurHdlrRec r;
    bool found = false;
    {
      Gate gate;
      if (!gate) return kNoErr;
      if (slot < 0) {
        DrainQueue();
        if (LoadAcq(&gPendingCount) == 0) return kNoErr;
        slot = ThThreadIndex(nullptr);
        if (slot < 0 || slot >= kGroups || !PendingHead(RootOf(slot))) return kNoErr;
      }
      ThMutexAcquire(gOccMutex);
      // Procedures may change groups, so the root is found again on every turn.
      while (OccNode* n = gPending[RootOf(slot)]) {
        SetPendingHead(RootOf(slot), n->next);
        __atomic_sub_fetch(&gPendingCount, 1, __ATOMIC_RELEASE);
        OccurHdlr h = n->cookie;
        FreeNode(n);
        if (!GetHdlr(h, &r)) continue;
        ReleaseTimeoutIfTimed(h, &r);
        r.armed = 0;
        OccurRec o;
        if (GetOcc(r.occ, &o)) r.lastGen = o.generation;
        PutHdlr(h, r);
        found = true;
        break;
      }
      ThMutexRelease(gOccMutex);
    }
    if (!found) return kNoErr;
    CallProc(r);
  }
}

// Timed firing ---------------------------------------------------------------

MgErr OccurAtTime(Occurrence occ, uInt32 ms) {
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gTimerOccMutex);
  uInt32 before = FirstTime(gTimedOccs);
  if (!OccurIsValid(occ)) {
    ThMutexRelease(gTimerOccMutex);
    return kArgErr;
  }
  if (ms == 0) ms = 1;
  OccNode* prev = nullptr;
  OccNode* e = gTimedOccs;
  while (e && e->cookie != occ) {
    prev = e;
    e = e->next;
  }
  if (e) {
    if (e->word != ms) {
      bool afterPrev = !prev || MillisecCmp(prev->word, ms) <= 0;
      bool beforeNext = !e->next || MillisecCmp(ms, e->next->word) < 0;
      if (afterPrev && beforeNext) {
        e->word = ms;
      } else {
        (prev ? prev->next : gTimedOccs) = e->next;
        e->word = ms;
        InsertTimed(e);
      }
    }
  } else {
    e = NewNode(occ, ms);
    if (!e) {
      ThMutexRelease(gTimerOccMutex);
      return kMemFullErr;
    }
    InsertTimed(e);
  }
  bool changed = FirstTime(gTimedOccs) != before;
  ThMutexRelease(gTimerOccMutex);
  if (changed) RearmTimer();
  return kNoErr;
}

MgErr CancelOccurAtTime(Occurrence occ) {
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gTimerOccMutex);
  if (!OccurIsValid(occ)) {
    ThMutexRelease(gTimerOccMutex);
    return kArgErr;
  }
  bool changed = DropTimedEntry(occ);
  ThMutexRelease(gTimerOccMutex);
  if (changed) RearmTimer();
  return kNoErr;
}

void OccurTimerRearm() {
  Gate gate;
  if (gate) RearmTimer();
}

namespace {
void RearmTimer() {
  ThMutexAcquire(gTimerOccMutex);
  uInt32 now = MilliSecs();
  while (gTimedOccs && MillisecCmp(gTimedOccs->word, now) <= 0) {
    OccNode* n = gTimedOccs;
    gTimedOccs = n->next;
    Occurrence occ = n->cookie;
    FreeNode(n);
    Occur(occ);
  }
  uInt32 nextTime = FirstTime(gTimedOccs);

  // "OccMutex" is held from the unlinking of a due entry to the queuing of
  // its handler, so no other thread can disarm and re-arm the handler in
  // between and have this old deadline applied to the new arming.
  ThMutexAcquire(gOccMutex);
  ThMutexAcquire(gTimedHdlrMutex);
  while (gTimedHdlrs && MillisecCmp(gTimedHdlrs->word, now) <= 0) {
    OccNode* n = gTimedHdlrs;
    gTimedHdlrs = n->next;
    n->next = nullptr;
    ThMutexRelease(gTimedHdlrMutex);
    OccurHdlrRec r;
    bool queued;
    QueueHdlr(n->cookie, &r, n, true, &queued);
    if (!queued) {
      DBPrintf("Bad occhandler in timeout list");
      FreeNode(n);
    }
    ThMutexAcquire(gTimedHdlrMutex);
  }
  uInt32 nextDeadline = FirstTime(gTimedHdlrs);
  ThMutexRelease(gTimedHdlrMutex);
  ThMutexRelease(gOccMutex);

  uInt32 deadline;
  if (nextTime && nextDeadline)
    deadline = MillisecCmp(nextTime, nextDeadline) <= 0 ? nextTime : nextDeadline;
  else
    deadline = nextTime ? nextTime : nextDeadline;
  // Once stopping, only the shut-down sets the timer's deadline.
  if (!LoadAcq(&gTimer.stop)) ThTimedEventSet(gTimer.event, deadline);
  ThMutexRelease(gTimerOccMutex);
}
}  // namespace

// The lock-free queue --------------------------------------------------------

MgErr InterruptSafeOccur(Occurrence occ) {
  if (occ == 0) return kArgErr;
  Gate gate;
  if (!gate) return kOccurQueueFullErr;
  FunnyEntry* q = __atomic_load_n(&gFunnyQ, __ATOMIC_ACQUIRE);
  if (!q) return kOccurQueueFullErr;
  for (int32 i = 0; i < kOccFunnyQEntries; ++i) {
    FunnyEntry* e = &q[i];
    if (TestAndSet(&e->busy) == 0) {
      __atomic_add_fetch(&gFunnyCount, 1, __ATOMIC_RELEASE);
      __atomic_store_n(&e->occ, occ, __ATOMIC_RELAXED);
      StoreRel(&e->busy, kEntryPublished);
      if (OccurWakeUpProc wake = gWakeUp.load(std::memory_order_acquire)) wake();
      return kNoErr;
    }
    if (LoadAcq(&e->busy) == kEntryPublished && __atomic_load_n(&e->occ, __ATOMIC_RELAXED) == occ)
      return kNoErr;
  }
  return kOccurQueueFullErr;
}

void OccurSetWakeUpHook(OccurWakeUpProc proc) { gWakeUp.store(proc, std::memory_order_release); }

// Thread groups --------------------------------------------------------------

MgErr OccurSetThreadGroup(int32 slot, int32 leaderSlot) {
  if (uInt32(slot) >= uInt32(kGroups) || uInt32(leaderSlot) >= uInt32(kGroups)) return kArgErr;
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gOccMutex);
  int32 root = RootOf(leaderSlot);
  int32 oldRoot = RootOf(slot);
  __atomic_store_n(&gGroupLink[slot], root, __ATOMIC_RELAXED);
  // A root that joins another group hands its pending handlers over, so that
  // the threads that check them now find them.
  if (oldRoot == slot && slot != root && gPending[slot]) {
    OccNode* tail = gPending[slot];
    while (tail->next) tail = tail->next;
    tail->next = gPending[root];
    SetPendingHead(root, gPending[slot]);
    SetPendingHead(slot, nullptr);
    if (ThEvent e = gGroupEvent[root]) ThEventSignal(e);
  }
  ThMutexRelease(gOccMutex);
  return kNoErr;
}

MgErr OccurSetThreadEvent(int32 slot, ThEvent event) {
  if (uInt32(slot) >= uInt32(kGroups)) return kArgErr;
  Gate gate;
  if (!gate) return kArgErr;
  ThMutexAcquire(gOccMutex);
  gGroupEvent[RootOf(slot)] = event;
  ThMutexRelease(gOccMutex);
  return kNoErr;
}

Bool32 OccurPendingForGroup(int32 group) {
  if (LoadAcq(&gFunnyCount) != 0) return 1;
  if (uInt32(group) >= uInt32(kGroups)) return 0;
  return PendingHead(RootOf(group)) ? 1 : 0;
}

Bool32 OccurHardWaitTimeCritical() { return gHardWaitTimeCritical; }

// Start and stop -------------------------------------------------------------

MgErr OccurInit() {
  if (LoadAcq(&gStarted)) {
    DBAssert(__FILE__, __LINE__, "occurrence manager started twice");
    return kNoErr;
  }
  MgErr err = ThMutexCreate(&gOccMutex, "OccMutex");
  MgErr e = ThMutexCreate(&gTimerOccMutex, "TimerOccMutex");
  if (err == kNoErr) err = e;
  e = ThMutexCreate(&gTimedHdlrMutex, "gTimedHdlrMutex");
  if (err == kNoErr) err = e;

  gOccJar = MCNewBigJar(sizeof(OccurRec));
  gHdlrJar = MCNewBigJar(sizeof(OccurHdlrRec));
  if ((!gOccJar || !gHdlrJar) && err == kNoErr) err = kMemFullErr;
  FunnyEntry* q = reinterpret_cast<FunnyEntry*>(AZNewPClr(kOccFunnyQEntries * int32(sizeof(FunnyEntry))));
  if (!q) {
    DBAssert(__FILE__, __LINE__, "no memory for the occurrence queue");
    if (err == kNoErr) err = kMemFullErr;
  } else {
    // Its words are changed only by atomic operations, outside any lock.
    ANNOTATE_BENIGN_RACE_SIZED(q, kOccFunnyQEntries * sizeof(FunnyEntry), "lock-free occurrence queue");
  }
  gFunnyCount = 0;
  __atomic_store_n(&gFunnyQ, q, __ATOMIC_RELEASE);

  gTimedOccs = nullptr;
  gTimedHdlrs = nullptr;
  ResetGroups();
  AnnotateLockFreeWords();

  CfgGetDefault(kCfgBool, kHardWaitKey, CfgWordPtr(kCfgWordHardWaitTimeCritical));
  gHardWaitTimeCritical = CfgWordGet(kCfgWordHardWaitTimeCritical);

  gTimer.stop = 0;
  gTimer.running = 1;
  gTimer.thread = nullptr;
  // Calls are let in once everything they use is made.
  e = ThTimedEventCreate(&gTimer.event, 0);
  if (err == kNoErr) err = e;
  e = ThThreadCreate(&gTimer.thread, OccurTimerThread, nullptr);
  if (err == kNoErr) err = e;
  if (!gTimer.thread) gTimer.running = 0;
  StoreRel(&gStarted, 1);
  ANNOTATE_HAPPENS_BEFORE(&gStopping);
  __atomic_store_n(&gStopping, 0, __ATOMIC_SEQ_CST);
  return err;
}

void OccurShutdown() {
  if (!LoadAcq(&gStarted)) return;
  StoreRel(&gStarted, 0);
  // From here every call answers as for a value that is not live; the calls
  // already inside end before anything they use goes.
  __atomic_store_n(&gStopping, 1, __ATOMIC_SEQ_CST);
  while (__atomic_load_n(&gCalls, __ATOMIC_SEQ_CST) != 0) WSleep(1);
  ANNOTATE_HAPPENS_AFTER(&gCalls);
  // The stop flag and the wake-up deadline are set together under
  // "TimerOccMutex", where every re-arm reads the flag before it sets a
  // deadline: a re-arm either finishes first (and the wake-up replaces its
  // deadline) or sees the flag and leaves the deadline alone.
  ThMutexAcquire(gTimerOccMutex);
  StoreRel(&gTimer.stop, 1);
  uInt32 wake = MilliSecs() + 1;
  ThTimedEventSet(gTimer.event, wake ? wake : 1);
  ThMutexRelease(gTimerOccMutex);
  while (LoadAcq(&gTimer.running)) WSleep(kShutdownPollMs);
  if (OccurStopHook hook = gStopHook.load()) hook();
  ThThreadDestroy(gTimer.thread);
  gTimer.thread = nullptr;
  ThTimedEventDestroy(gTimer.event);
  gTimer.event = nullptr;

  FreeAllNodes();
  ResetGroups();
  ThMutexDestroy(gOccMutex);
  ThMutexDestroy(gTimerOccMutex);
  ThMutexDestroy(gTimedHdlrMutex);
  gOccMutex = gTimerOccMutex = gTimedHdlrMutex = nullptr;
  MCDisposeJar(gOccJar);
  MCDisposeJar(gHdlrJar);
  gOccJar = gHdlrJar = nullptr;
  FunnyEntry* q = __atomic_exchange_n(&gFunnyQ, nullptr, __ATOMIC_ACQ_REL);
  if (q) AZDisposePtr(reinterpret_cast<UPtr>(q));
  gFunnyCount = 0;
}

// Test hooks -----------------------------------------------------------------

namespace {
int32 CopyList(ThMutex m, OccNode* const* head, uInt32* cookies, uInt32* words, int32 max) {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(m);
  int32 n = 0;
  for (const OccNode* e = *head; e; e = e->next, ++n) {
    if (n < max) {
      if (cookies) cookies[n] = e->cookie;
      if (words) words[n] = e->word;
    }
  }
  ThMutexRelease(m);
  return n;
}
}  // namespace

int32 OccurTestTimedList(Occurrence* occs, uInt32* times, int32 max) {
  return CopyList(gTimerOccMutex, &gTimedOccs, occs, times, max);
}

int32 OccurTestTimeoutList(OccurHdlr* hdlrs, uInt32* deadlines, int32 max) {
  Gate gate;
  if (!gate) return 0;
  ThMutexAcquire(gOccMutex);
  int32 n = CopyList(gTimedHdlrMutex, &gTimedHdlrs, hdlrs, deadlines, max);
  ThMutexRelease(gOccMutex);
  return n;
}

int32 OccurTestQueueBusy() {
  Gate gate;
  if (!gate) return 0;
  FunnyEntry* q = __atomic_load_n(&gFunnyQ, __ATOMIC_ACQUIRE);
  int32 n = 0;
  if (q)
    for (int32 i = 0; i < kOccFunnyQEntries; ++i)
      if (LoadAcq(&q[i].busy) != kEntryFree) ++n;
  return n;
}

ThThread OccurTestTimerThread() { return gTimer.thread; }

void OccurTestSetStopHook(OccurStopHook hook) { gStopHook.store(hook); }

void OccurFrameNotify(intptr_t word) {
  // The notification names an occurrence to fire; anything else only runs
  // what is pending.
  if (word && OccurIsValid(Occurrence(word))) Occur(Occurrence(word));
  ChkOccurrences();
}
