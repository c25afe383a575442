// Start-up and shut-down of the execution systems, routing of priorities and
// execution systems to run slots, the per-thread contexts and the tick
// procedure that runs their countdowns down.
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "exec_internal.h"
#include "exectimer.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "mgsource/blockmove.h"
#include "mgsource/config.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/printf.h"

using namespace qxexec;

namespace qxexec {
std::atomic<int32> gInitialised{0};
}

namespace {

// The slot table with the counts in force.
ExecSlot gSlots[kExecSlots];
bool gSlotsSet = false;
// Per slot: the slot whose threads serve it, its run record and first context.
int32 gEffSlot[kExecSlots];
ExecRunRecord* gEffRecord[kExecSlots];
ExecContext* gEffContext[kExecSlots];
// Rows: priority 0..4; columns: execution system 0..5.
int32 gRouting[kExecPriorities][kExecSystems];

ExecRunRecord* gRecords = nullptr;
int32 gNRecords = 0;
ExecContext* gContexts = nullptr;
int32 gNContexts = 0;
Bool32 gThreadsOn = 0;
int32 gStdNParallel = 0;
Bool32 gStdNParallelSet = 0;
Bool32 gConfigDiffers = 0;
std::atomic<int32> gTimeSlice{0};
ThMutex gExecSystemRights = nullptr;
ThMutex gCleanTblMutex = nullptr;
UHandle gResetList = nullptr;

int32 gResettingDlgDelay = 1100;
Bool32 gUseOldData = 1;
Bool32 gUseOldDataOnArrays = 1;

std::atomic<int32> gAbortInProgress{0};
// Shut-down's wait for each execution thread to leave its loop.
constexpr int32 kStopWaitMs = 10000;
std::atomic<int32> gStopWaitMs{kStopWaitMs};
// Set when shut-down left a thread running: its context and run record stay
// allocated for it.
bool gLeftRunning = false;
// The data spaces whose top-level run is in progress.
std::mutex gTopRunsLock;
std::vector<DataSpace> gTopRuns;
std::atomic<ExecTestRunProc> gTestRunProc{nullptr};

// The calling thread's context, set by each thread for itself.
thread_local ExecContext* tContext = nullptr;

const uChar kResettingDlgDelayKey[] = "\x11" "resettingDlgDelay";
const uChar kUseOldDataKey[] = "\x0a" "useOldData";
const uChar kUseOldDataOnArraysKey[] = "\x12" "useOldDataOnArrays";

constexpr int32 kNameSize = 256;

int32 SystemOfSlot(int32 slot) { return slot == 0 ? kESysUserInterface : (slot - 1) / 5 + 1; }

void EnsureSlots() {
  if (gSlotsSet) return;
  for (int32 s = 0; s < kExecSlots; ++s) gSlots[s] = kSlotDefaults[s];
  gSlotsSet = true;
}

// Formats a record name within kNameSize bytes.
void FormatName(char* out, const char* fmt, const char* name) {
  int32 n = SPrintf(nullptr, fmt, name);
  if (n < kNameSize) {
    SPrintf(out, fmt, name);
  } else {
    out[0] = 0;
  }
}

MgErr MakeRunRecord(ExecRunRecord* r, int32 slot, ThEvent uiEvent) {
  r->signature = kExecRunRecordSig;
  r->sleeping = 0;
  r->slot = slot;
  r->threads = gSlots[slot].threads;
  r->runQueue = NewExecQueue(kExecMaxLevels);
  r->restQueue = NewExecQueue(1);
  if (!r->runQueue || !r->restQueue) return kMemFullErr;
  char queueName[kNameSize], name[kNameSize];
  FormatName(queueName, "PrEQ for %s", kSlotNames[slot]);
  if (slot == 0 && uiEvent) {
    r->event = uiEvent;
    r->ownsEvent = 0;
  } else if (gThreadsOn) {
    FormatName(name, "%s:qeAvail", queueName);
    MgErr err = ThEventCreate(&r->event, name, 0);
    if (err) return err;
    r->ownsEvent = 1;
  }
  if (gThreadsOn) {
    FormatName(name, "%s:qRights", queueName);
    MgErr err = ThMutexCreate(&r->mutex, name);
    if (err) return err;
  }
  return kNoErr;
}

void DisposeRunRecord(ExecRunRecord* r) {
  ThMutexDestroy(r->mutex);
  if (r->ownsEvent) ThEventDestroy(r->event);
  DisposeExecQueue(r->runQueue);
  DisposeExecQueue(r->restQueue);
  ClearMem(r, sizeof(*r));
}

void InitContext(ExecContext* c, ExecRunRecord* r, int32 slot) {
  new (c) ExecContext();
  c->signature = kExecContextSig;
  c->runRecord = r;
  c->slot = slot;
  c->execSystem = SystemOfSlot(slot);
  c->running.store(1);
  c->priority = gSlots[slot].priority;
  ExecTimer().initContextCountdown(&c->countdown, &c->countdownSecond, &c->ownCountdown, !gThreadsOn);
}

// Each execution thread runs the execution loop with its context.
int32 ExecThreadLoop(void* arg) {
  ExecContext* ctx = static_cast<ExecContext*>(arg);
  tContext = ctx;
  ExecThreadProc(ctx);
  ctx->ownCountdown.store(0);
  tContext = nullptr;
  return 0;
}

// Follows the fallback column from the slot to a slot with threads.  A chain
// that reaches a slot of another execution system without threads goes on
// from the fallback of that system's slot of the starting priority.
int32 ResolveSlot(int32 slot) {
  int32 priority = gSlots[slot].priority;
  int32 system = SystemOfSlot(slot);
  int32 cur = slot;
  for (int32 steps = 0; steps < 4 * kExecSlots; ++steps) {
    if (gSlots[cur].threads > 0) return cur;
    int32 next = gSlots[cur].fallback;
    int32 nextSystem = SystemOfSlot(next);
    if (nextSystem != system && gSlots[next].threads <= 0) {
      system = nextSystem;
      next = gSlots[gSlots[next].systemFirst + priority].fallback;
    }
    cur = next;
  }
  return 0;
}

void BuildRouting() {
  for (int32 s = 0; s < kExecSlots; ++s) {
    int32 eff = ResolveSlot(s);
    gEffSlot[s] = eff;
    gEffRecord[s] = &gRecords[gSlots[eff].runRecord];
    gEffContext[s] = &gContexts[gSlots[eff].firstContext];
  }
  for (int32 p = 0; p < kExecPriorities; ++p) {
    gRouting[p][0] = 0;
    for (int32 sys = 1; sys < kExecSystems; ++sys) gRouting[p][sys] = gEffSlot[1 + (sys - 1) * 5 + p];
  }
}

void ClearRouting() {
  for (int32 s = 0; s < kExecSlots; ++s) {
    gEffSlot[s] = 0;
    gEffRecord[s] = nullptr;
    gEffContext[s] = nullptr;
  }
  for (auto& row : gRouting)
    for (int32& slot : row) slot = 0;
}

// Reads the per-slot keys and works out the thread counts.
MgErr PlanFromConfiguration(int32 processors, ThreadPlan* plan) {
  int32 stdN = processors;
  gStdNParallelSet = CfgGetDefault(kCfgInt, kStdNParallelKey, &stdN) == kNoErr;
  gStdNParallel = stdN;
  Bool32 present[kExecSlots] = {};
  int32 keys[kExecSlots] = {};
  for (int32 s = 1; s < kExecSlots; ++s) present[s] = CfgGetDefault(kCfgInt, kSlotKeys[s], &keys[s]) == kNoErr;
  int32 limits[3];
  ThGetThreadLimits(limits);
  int32 available = ThFreeThreadSlots() - kExecThreadReserve;
  MgErr err = PlanThreads(present, keys, stdN, processors, limits[1], available, plan);
  if (err) {
    DBPrintf("InitExec: the configured threads do not fit in the %ld free thread slots", available);
    return err;
  }
  if (plan->fitted)
    DBPrintf("InitExec: %ld threads per processor slot instead of %ld, keeping %ld thread slots free",
             plan->fitted, processors, int32(kExecThreadReserve));
  return kNoErr;
}

// Makes the contexts and starts the execution threads.
MgErr MakeContexts() {
  gContexts = reinterpret_cast<ExecContext*>(DSNewPClr(gNContexts * int32(sizeof(ExecContext))));
  int32 wanted = gNContexts;
  gNContexts = 0;
  if (!gContexts) return kMemFullErr;

  ExecContext* ui = &gContexts[0];
  InitContext(ui, &gRecords[0], 0);
  ui->thread = ThThreadCurrent();
  ui->occurGroup = ThThreadIndex(nullptr);
  gNContexts = 1;
  gRecords[0].firstContext = ui;
  gSlots[0].firstContext = 0;
  tContext = ui;
  OccurSetThreadGroup(ui->occurGroup, ui->occurGroup);
  OccurSetThreadEvent(ui->occurGroup, gRecords[0].event);

  int32 next = 1;
  for (int32 s = 1; s < kExecSlots; ++s) {
    int32 n = gSlots[s].threads;
    if (n <= 0) continue;
    ExecRunRecord* r = &gRecords[gSlots[s].runRecord];
    r->firstContext = &gContexts[next];
    gSlots[s].firstContext = next;
    int32 root = -1;
    for (int32 i = 0; i < n && next < wanted; ++i, ++next) {
      ExecContext* c = &gContexts[next];
      InitContext(c, r, s);
      gNContexts = next + 1;
      if (!gThreadsOn) continue;
      MgErr err = ThThreadCreate(&c->thread, ExecThreadLoop, c);
      if (err) return err;
      int32 index = ThThreadIndex(c->thread);
      if (root < 0) {
        root = index;
        OccurSetThreadGroup(index, index);
        OccurSetThreadEvent(index, r->event);
      } else {
        OccurSetThreadGroup(index, root);
      }
      c->occurGroup = root;
      while (!c->alive.load()) WSleep(1);
    }
  }
  return kNoErr;
}

// Tells every execution thread to stop and waits until each has left its
// loop.  Under "gExecSystemRights".
void StopThreads() {
  for (int32 i = 1; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    if (!c->thread) continue;
    c->running.store(0);
    // Its clump yields at once.
    c->ownCountdown.store(0);
    if (c->priority == kPriBackground) ThThreadSetPriority(c->thread, kPriNormal);
    ThEventSignal(c->runRecord->event);
  }
  WSleep(10);
  // All were told at once: one deadline for all of them.  A stopping thread
  // is not handed its element again (ExecThreadProc), so only a clump that
  // never returns keeps its thread; that thread is detached and left running
  // with its context.
  const uInt32 deadline = MilliSecs() + uInt32(gStopWaitMs.load());
  bool stuck[kThMaxThreads + 1] = {};
  for (int32 i = 1; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    if (!c->thread) continue;
    DBPrintf("FE: waiting for thread 0x%lx", int32(c->thread->id));
    int32 rounds = 0;
    while (c->alive.load()) {
      if (MillisecCmp(MilliSecs(), deadline) >= 0) {
        DBPrintf("FE: thread 0x%lx still running after %ld ms: detached", int32(c->thread->id),
                 gStopWaitMs.load());
        if (i <= kThMaxThreads) stuck[i] = true;
        gLeftRunning = true;
        break;
      }
      DBPrintf("  FE: set event %ld", ++rounds);
      ThEventSignal(c->runRecord->event);
      WSleep(10);
    }
  }
  // Out of their occurrence groups, members first, so that a thread made
  // later in one of these table slots starts in a group of its own.
  for (int32 i = 1; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    if (!c->thread) continue;
    int32 index = ThThreadIndex(c->thread);
    if (index != c->occurGroup) OccurSetThreadGroup(index, index);
  }
  for (int32 i = 1; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    if (c->thread && ThThreadIndex(c->thread) == c->occurGroup) OccurSetThreadEvent(c->occurGroup, nullptr);
  }
  DBPrintf("FINISH EXEC: Disposing Threads");
  for (int32 i = 1; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    if (!c->thread || (i <= kThMaxThreads && stuck[i])) continue;
    ThThreadDestroy(c->thread);
    c->thread = nullptr;
  }
  DBPrintf("FINISH EXEC: Disposing Threads");
}

// The absent timer service.
MgErr NoTimerStart() { return kCapabilityErr; }
void NoTimerShutdown() {}
ThEvent NoTimerEvent() { return nullptr; }
void NoTimerCountdown(ExecCountdown** countdown, int32* second, ExecCountdown* own, Bool32) {
  *countdown = own;
  *second = 0;
}
void NoTimerTickProc(ExecTickProc) {}
constexpr ExecTimerService kNoTimer = {NoTimerStart, NoTimerShutdown, NoTimerEvent, NoTimerCountdown,
                                       NoTimerTickProc};
ExecTimerService gTimer = kNoTimer;

}  // namespace

// The timer service -------------------------------------------------------------

namespace {
std::atomic<Bool32> gAltMode{0};
}  // namespace
Bool32 ExecAltModeFlag() { return gAltMode.load(); }
void ExecSetAltModeFlag(Bool32 on) { gAltMode.store(on ? 1 : 0); }

void ExecSetTimerService(const ExecTimerService* service) {
  gTimer = kNoTimer;
  if (!service) return;
  if (service->start) gTimer.start = service->start;
  if (service->shutdown) gTimer.shutdown = service->shutdown;
  if (service->wakeUpEvent) gTimer.wakeUpEvent = service->wakeUpEvent;
  if (service->initContextCountdown) gTimer.initContextCountdown = service->initContextCountdown;
  if (service->setTickProc) gTimer.setTickProc = service->setTickProc;
}

const ExecTimerService& ExecTimer() { return gTimer; }

// Start-up and shut-down -----------------------------------------------------------

MgErr InitExec() {
  if (gInitialised.load() || gRecords || gContexts) {
    DBAssert(__FILE__, __LINE__, "execution systems started twice");
    return kNoErr;
  }
  gResettingDlgDelay = 1100;
  CfgGetDefault(kCfgInt, kResettingDlgDelayKey, &gResettingDlgDelay);
  gUseOldData = 1;
  CfgGetDefault(kCfgBool, kUseOldDataKey, &gUseOldData);
  gUseOldDataOnArrays = 1;
  CfgGetDefault(kCfgBool, kUseOldDataOnArraysKey, &gUseOldDataOnArrays);

  // Nothing is made before the counts are known to fit.
  ThreadPlan plan;
  MgErr err = PlanFromConfiguration(ThProcessorCount(), &plan);
  if (err) return err;
  EnsureSlots();
  for (int32 s = 0; s < kExecSlots; ++s) {
    gSlots[s] = kSlotDefaults[s];
    gSlots[s].threads = plan.counts[s];
  }
  gConfigDiffers = plan.differs;
  gThreadsOn = plan.runRecords > 1;

  bool holdingRights = false;
  gResetList = DSNewHClr(4 + 4 * kResetListRoom);
  if (!gResetList) err = kMemFullErr;
  if (!err && gThreadsOn) {
    err = ThMutexCreate(&gExecSystemRights, "gExecSystemRights");
    if (!err) {
      ThMutexAcquire(gExecSystemRights);
      holdingRights = true;
    }
  }
  if (!err) {
    gRecords = reinterpret_cast<ExecRunRecord*>(DSNewPClr(plan.runRecords * int32(sizeof(ExecRunRecord))));
    if (!gRecords) err = kMemFullErr;
  }
  if (!err) {
    gTimeSlice = 2;
    if (gTimer.start() != kNoErr) gTimeSlice = 0;
    else if (gThreadsOn) gTimer.setTickProc(ExecTick);

    ThEvent uiEvent = gTimer.wakeUpEvent();
    for (int32 s = 0; s < kExecSlots && !err; ++s) {
      if (gSlots[s].threads <= 0) continue;
      gSlots[s].runRecord = gNRecords;
      err = MakeRunRecord(&gRecords[gNRecords], s, uiEvent);
      ++gNRecords;
    }
  }
  if (!err) {
    gNContexts = plan.contexts;
    err = MakeContexts();
  }
  if (holdingRights) ThMutexRelease(gExecSystemRights);
  if (!err) {
    BuildRouting();
    err = ThMutexCreate(&gCleanTblMutex, "gCleanTblMutex");
  }
  if (err) {
    FinishExec();
    return err;
  }
  InitDSProcs();
  InstallRunCommands();
  gInitialised.store(1);
  return kNoErr;
}

void FinishExec() {
  DBPrintf("FINISH EXEC: Start");
  gInitialised.store(0);
  // The user-interface thread's wake-up event leaves run record 0 when it is
  // the timer service's, and the occurrence manager in every case: an event
  // of the record's own is destroyed below.
  if (gNRecords > 0 && !gRecords[0].ownsEvent) gRecords[0].event = nullptr;
  if (gNContexts > 0) OccurSetThreadEvent(gContexts[0].occurGroup, nullptr);

  gTimer.setTickProc(nullptr);
  gTimer.shutdown();
  ThMutexAcquire(gExecSystemRights);
  if (gThreadsOn && gContexts) StopThreads();

  // A thread left running still uses its context and run record: they stay.
  if (!gLeftRunning) {
    for (int32 i = 0; i < gNRecords; ++i) DisposeRunRecord(&gRecords[i]);
    if (gRecords) DSDisposePtr(reinterpret_cast<UPtr>(gRecords));
    if (gContexts) DSDisposePtr(reinterpret_cast<UPtr>(gContexts));
  }
  gLeftRunning = false;
  gRecords = nullptr;
  gNRecords = 0;
  gContexts = nullptr;
  gNContexts = 0;
  tContext = nullptr;
  ClearRouting();
  gThreadsOn = 0;
  if (gResetList) DSDisposeHandle(gResetList);
  gResetList = nullptr;
  ThMutexDestroy(gCleanTblMutex);
  gCleanTblMutex = nullptr;
  {
    std::lock_guard<std::mutex> g(gTopRunsLock);
    gTopRuns.clear();
  }

  ThMutex rights = gExecSystemRights;
  gExecSystemRights = nullptr;
  ThMutexRelease(rights);
  ThMutexDestroy(rights);
  DBPrintf("FINISH EXEC: Completed");
}

// Routing ------------------------------------------------------------------------

int32 ExecSysSlot(int32 priority, int32 system) {
  if (priority == kPriSubroutine) return -1;
  if (priority < 0 || priority > kPriSubroutine || system < kESysSameAsCaller || system >= kExecSystems) {
    DBAssert(__FILE__, __LINE__, "priority or execution system out of range");
    return -1;
  }
  if (system == kESysSameAsCaller) system = kESysStandard;
  return gRouting[priority][system];
}

void EnqPrRunQ(int32 slot, QueueElement* element) {
  if (slot < 0 || slot >= kExecSlots) {
    DBAssert(__FILE__, __LINE__, "run slot outside 0 to 25");
    return;
  }
  if (!gEffRecord[slot]) {
    DBAssert(__FILE__, __LINE__, "element queued before the execution systems started");
    return;
  }
  EnQElm(gEffRecord[slot], element);
}

void EnQRunQ(QueueElement* element) {
  if (!CheckElement(element, "bad queue element (QELM)")) return;
  DataSpaceHeader* h = element->dataSpace ? *element->dataSpace : nullptr;
  if (!h) {
    DBAssert(__FILE__, __LINE__, "queue element without a data space");
    return;
  }
  EnqPrRunQ(RunSlotOf(h, kESysSameAsCaller), element);
}

namespace qxexec {

int32 RunSlotOf(DataSpaceHeader* h, int32 system) {
  int32 slot;
  if (system == kESysSameAsCaller)
    slot = h->execSystem != kESysSameAsCaller ? h->slot : ExecSysSlot(h->effPriority, kESysStandard);
  else
    slot = ExecSysSlot(h->effPriority, system);
  if (slot >= 0 && slot < kExecSlots) return slot;
  if (h->effPriority != kPriSubroutine) return slot;  // out of range: the queueing reports it
  // Subroutine priority selects no slot: the clump runs where its caller
  // runs, which is the thread that queues it.
  if (ExecContext* c = GetCurExecContext()) return c->slot;
  DBPrintf("a clump of subroutine priority was queued outside the execution threads: "
           "it runs at normal priority");
  return ExecSysSlot(kPriNormal, h->execSystem);
}

}  // namespace qxexec

ExecContext* GetCurExecContext() {
  if (!gContexts || gNContexts <= 0) return nullptr;
  if (!gThreadsOn) return &gContexts[0];
  ExecContext* c = tContext;
  return c >= gContexts && c < gContexts + gNContexts ? c : nullptr;
}

void WaitDataSpaceIdle(DataSpace ds) {
  if (!ds) return;
  // The calling thread's own element cannot end while it waits here.
  ExecContext* self = GetCurExecContext();
  const uChar* lo = *ds ? reinterpret_cast<const uChar*>(*ds) : nullptr;
  const uChar* hi = lo ? lo + DSGetHandleSize(reinterpret_cast<UHandle>(ds)) : nullptr;
  int32 dropped = 0;
  for (;;) {
    // Off the queues first: an element taken off a queue becomes a thread's
    // current element under the queue's mutex, so after this pass every
    // element of the data space is out of sight of the threads unless a
    // context holds it now.
    for (int32 i = 0; i < gNRecords; ++i) dropped += DropDataSpaceElements(&gRecords[i], ds);
    ExecContext* raised[kThMaxThreads];
    int32 nRaised = 0;
    bool busy = false;
    for (int32 i = 0; i < gNContexts; ++i) {
      ExecContext* c = &gContexts[i];
      if (c == self) continue;
      QueueElement* e = c->current.load();
      const uChar* at = reinterpret_cast<const uChar*>(e);
      if (!e || (e->dataSpace != ds && !(lo && at >= lo && at < hi))) continue;
      busy = true;
      if (gThreadsOn && c->thread && c->priority == kPriBackground && nRaised < kThMaxThreads) {
        ThThreadSetPriority(c->thread, kPriNormal);
        raised[nRaised++] = c;
      }
    }
    if (!busy) break;
    WSleep(10);
    for (int32 i = 0; i < nRaised; ++i) ThThreadSetPriority(raised[i]->thread, kPriBackground);
  }
  if (dropped) DBPrintf("WaitDataSpaceIdle: %ld queued elements of dsh 0x%lx dropped", dropped, int32(uintptr_t(ds)));
  ExecTopRunEnded(ds);
}

// Top-level runs -------------------------------------------------------------------

void ExecTopRunStarted(DataSpace ds) {
  if (!ds) return;
  std::lock_guard<std::mutex> g(gTopRunsLock);
  if (std::find(gTopRuns.begin(), gTopRuns.end(), ds) == gTopRuns.end()) gTopRuns.push_back(ds);
}

void ExecTopRunEnded(DataSpace ds) {
  std::lock_guard<std::mutex> g(gTopRunsLock);
  gTopRuns.erase(std::remove(gTopRuns.begin(), gTopRuns.end(), ds), gTopRuns.end());
}

Bool32 ExecTopRunActive(DataSpace ds) {
  std::lock_guard<std::mutex> g(gTopRunsLock);
  return std::find(gTopRuns.begin(), gTopRuns.end(), ds) != gTopRuns.end();
}

void ExecSetStopWait(int32 ms) { gStopWaitMs.store(ms > 0 ? ms : kStopWaitMs); }

// The tick procedure -------------------------------------------------------------

namespace {
// Whether anything but the thread's own clump wants its slot.
bool SomethingWaits(ExecContext* c) {
  ExecRunRecord* r = c->runRecord;
  ThMutexAcquire(r->mutex);
  bool queued = r->runQueue->head || r->restPending;
  ThMutexRelease(r->mutex);
  return queued || OccurPendingForGroup(c->occurGroup);
}
}  // namespace

void ExecTick() {
  if (!gInitialised.load()) return;
  bool aborting = gAbortInProgress.load() != 0;
  for (int32 i = 0; i < gNContexts; ++i) {
    ExecContext* c = &gContexts[i];
    ExecCountdown* cd = c->countdown;
    if (!cd) continue;
    int32 v = cd->load();
    if (v <= 0) continue;
    if (i != 0 && !aborting && (c->subroutineCaller.load() || !SomethingWaits(c))) continue;
    while (v > 0 && !cd->compare_exchange_weak(v, v - 1)) {
    }
  }
}

// State --------------------------------------------------------------------------

const ExecSlot* ExecSlotTable() {
  EnsureSlots();
  return gSlots;
}
const char* ExecSlotName(int32 slot) { return slot >= 0 && slot < kExecSlots ? kSlotNames[slot] : ""; }
int32 ExecEffectiveSlot(int32 slot) { return slot >= 0 && slot < kExecSlots ? gEffSlot[slot] : -1; }
ExecRunRecord* ExecSlotRunRecord(int32 slot) {
  return slot >= 0 && slot < kExecSlots ? gEffRecord[slot] : nullptr;
}
ExecContext* ExecSlotContext(int32 slot) { return slot >= 0 && slot < kExecSlots ? gEffContext[slot] : nullptr; }
const int32* ExecRoutingRow(int32 priority) {
  return priority >= 0 && priority < kExecPriorities ? gRouting[priority] : nullptr;
}
int32 ExecRunRecordCount() { return gNRecords; }
ExecRunRecord* ExecRunRecordAt(int32 index) {
  return index >= 0 && index < gNRecords ? &gRecords[index] : nullptr;
}
int32 ExecContextCount() { return gNContexts; }
ExecContext* ExecContextAt(int32 index) { return index >= 0 && index < gNContexts ? &gContexts[index] : nullptr; }
Bool32 ExecThreadsOn() { return gThreadsOn; }
Bool32 ExecInitialised() { return gInitialised.load(); }
Bool32 ExecConfigDiffers() { return gConfigDiffers; }
int32 ExecStdNParallel() { return gStdNParallelSet ? gStdNParallel : int32(kConfigExecUnset); }
int32 ExecTimeSlice() { return gTimeSlice.load(); }
int32 ExecResettingDlgDelay() { return gResettingDlgDelay; }
Bool32 ExecUseOldData() { return gUseOldData; }
Bool32 ExecUseOldDataOnArrays() { return gUseOldDataOnArrays; }
namespace {
std::atomic<Bool32> gExecBusy{0};
}
Bool32 ExecBusy() { return gExecBusy.load(); }
void ExecSetBusy(Bool32 on) { gExecBusy.store(on ? 1 : 0); }
ThMutex ExecCleanTblMutex() { return gCleanTblMutex; }
UHandle ExecResetList() { return gResetList; }
void ExecSetAbortInProgress(Bool32 on) { gAbortInProgress.store(on ? 1 : 0); }
Bool32 ExecAbortInProgress() { return gAbortInProgress.load(); }
void ExecSetTestRunProc(ExecTestRunProc proc) { gTestRunProc.store(proc); }
void ExecSetTimeSlice(int32 ticks) { gTimeSlice.store(ticks); }

namespace qxexec {
ExecTestRunProc TestRunProc() { return gTestRunProc.load(); }
void SetConfigDiffers(Bool32 on) { gConfigDiffers = on; }
}  // namespace qxexec
