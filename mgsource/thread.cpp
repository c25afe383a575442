// The thread manager over the platform layer's threads, events and
// re-entrant locks.
#include "thread.h"

#include <sched.h>

#include <algorithm>
#include <atomic>

#include "blockmove.h"
#include "config.h"
#include "cfgwords.h"
#include "datetime.h"
#include "debug.h"
#include "memory.h"
#include "platform/qx_event.h"
#include "platform/qx_thread.h"
#include "platform/qx_time.h"

#include <valgrind/helgrind.h>

namespace {
// The thread table; slot 0 is the thread that started the manager.
ThThread gThreads[kThMaxThreads];
ThMutex gCreateThread = nullptr;

// Host priorities of levels 0 to 4, ascending after start-up.
int32 gPriorities[5] = {-15, 0, 1, 2, 15};
// The fixed scheduling words handed out by ThGetThreadLimits.
int32 gLimits[3] = {1, 3, 1};

const char* const kPriorityKeys[5] = {"thpri_bgrnd", "thpri_normal", "thpri_high", "thpri_vhigh",
                                      "thpri_tcrit"};

// How long ThThreadKill waits for a running thread to end.
int32 gKillWaitMs = 10000;

// Test hooks: the processor count to report (0: the host's) and the
// countdown to an injected creation failure (0: none).
std::atomic<int32> gTestProcessors{0};
std::atomic<int32> gTestCreateFailure{0};

// A report about a bad signature may itself use a record with a bad
// signature (the debug output's mutex): report only the outer one.
thread_local bool tReportingSig = false;

void CheckSig(uInt32 found, uInt32 expected, const char* file, int32 line, const char* what) {
  if (found == expected || tReportingSig) return;
  tReportingSig = true;
  DBAssert(file, line, what);
  tReportingSig = false;
}
#define CHECK_SIG(rec, sig, what) CheckSig((rec)->signature, (sig), __FILE__, __LINE__, (what))

// Copies at most 255 characters of name and a NUL; NULL gives an empty name.
void CopyName(char* dst, const char* name) {
  int32 n = 0;
  if (name)
    while (n < kThNameSize - 1 && name[n]) {
      dst[n] = name[n];
      ++n;
    }
  dst[n] = 0;
}

// Reads a priority key into *value, which keeps its default when the key is absent.
void ReadPriorityKey(const char* key, int32* value) {
  Str255 pkey;
  int32 n = 0;
  while (key[n] && n < 255) {
    pkey[n + 1] = uChar(key[n]);
    ++n;
  }
  pkey[0] = uChar(n);
  CfgGetDefault(kCfgInt, pkey, value);
}

// A zero-filled record signed "Evnt" with an unnamed mutex and a host event,
// set or clear; NULL when any of them cannot be made.
template <typename Rec>
Rec* NewEventRecord(bool set) {
  Rec* e = reinterpret_cast<Rec*>(AZNewPClr(sizeof(Rec)));
  if (!e) return nullptr;
  e->signature = kThEventSig;
  if (ThMutexCreate(&e->mutex, nullptr) == kNoErr) {
    e->host = PlatEventCreate(set);
    if (e->host) return e;
    ThMutexDestroy(e->mutex);
  }
  AZDisposePtr(reinterpret_cast<UPtr>(e));
  return nullptr;
}

template <typename Rec>
void DisposeEventRecord(Rec* e) {
  ThMutexDestroy(e->mutex);
  PlatEventDestroy(e->host);
  e->signature = 0;
  AZDisposePtr(reinterpret_cast<UPtr>(e));
}

// The slot of the thread with that id, or kThMaxThreads; under the table mutex.
int32 SlotOfId(uInt32 id) {
  for (int32 i = 0; i < kThMaxThreads; ++i)
    if (gThreads[i] && gThreads[i]->id == id) return i;
  return kThMaxThreads;
}
}  // namespace

// Threads --------------------------------------------------------------------

MgErr ThInit() {
  for (ThThread& t : gThreads) t = nullptr;
  ThThread self = reinterpret_cast<ThThread>(AZNewPClr(sizeof(ThThreadRec)));
  if (!self) {
    DBAssert(__FILE__, __LINE__, "no memory for the starting thread's record");
  } else {
    self->signature = kThThreadSig;
    self->id = PlatThreadCurrentId();
    self->handle = PlatThreadOpenCurrent();
    QX_ASSERT_MSG(self->handle, "no handle for the starting thread");
    gThreads[0] = self;
  }
  PlatThreadRegisterInput();

  for (int32 i = 0; i < 5; ++i) {
    ReadPriorityKey(kPriorityKeys[i], CfgWordPtr(kCfgWordThPriBgrnd + i));
    gPriorities[i] = CfgWordGet(kCfgWordThPriBgrnd + i);
  }
  std::sort(gPriorities, gPriorities + 5);

  gLimits[0] = 1;
  gLimits[1] = 3;
  gLimits[2] = 1;
  return ThMutexCreate(&gCreateThread, "gCreateThread");
}

MgErr ThThreadCreate(ThThread* thread, ThThreadProc proc, void* context) {
  if (!thread) return kArgErr;
  int32 nth = gTestCreateFailure.load();
  while (nth > 0 && !gTestCreateFailure.compare_exchange_weak(nth, nth - 1)) {
  }
  if (nth == 1) {
    *thread = nullptr;
    return kMemFullErr;
  }
  ThThread rec = reinterpret_cast<ThThread>(AZNewPClr(sizeof(ThThreadRec)));
  if (!rec) {
    *thread = nullptr;
    return kMemFullErr;
  }
  // The slot is taken before the thread exists, so a full table never starts
  // a thread that would then have to be stopped.  The caller's word names
  // the signed record before the thread starts, so the new thread may read
  // it at once; its id and handle are filled under the table mutex, which
  // every reader of them takes.
  rec->signature = kThThreadSig;
  ThMutexAcquire(gCreateThread);
  int32 slot = 0;
  while (slot < kThMaxThreads && gThreads[slot]) ++slot;
  bool full = slot == kThMaxThreads;
  int err = 0;
  if (!full) {
    gThreads[slot] = rec;
    *thread = rec;
    PlatThread* handle = nullptr;
    uInt32 id = 0;
    err = PlatThreadCreate(proc, context, &handle, &id);
    if (err == 0) {
      rec->id = id;
      rec->handle = handle;
    } else {
      gThreads[slot] = nullptr;
    }
  }
  ThMutexRelease(gCreateThread);
  if (full || err != 0) {
    if (full) DBPrintf("Thread Array full!!");
    *thread = nullptr;
    rec->signature = 0;
    AZDisposePtr(reinterpret_cast<UPtr>(rec));
    return kMemFullErr;
  }
  return kNoErr;
}

void ThThreadDestroy(ThThread thread) {
  if (!thread) return;
  CHECK_SIG(thread, kThThreadSig, "bad thread record");
  bool found = false;
  ThMutexAcquire(gCreateThread);
  for (ThThread& t : gThreads) {
    if (t == thread) {
      t = nullptr;
      found = true;
      break;
    }
  }
  ThMutexRelease(gCreateThread);
  QX_ASSERT_MSG(found, "destroyed thread is not in the thread table");
  ThThreadKill(thread->handle);
  ClearMem(thread, sizeof(ThThreadRec));
  AZDisposePtr(reinterpret_cast<UPtr>(thread));
}

// A running thread is never terminated by force: that could leave mutexes
// held and heaps half-changed.  It is given the wait to end and otherwise
// left to end by itself; a thread ending its own record is not waited for.
void ThThreadKill(PlatThread* handle) {
  uInt32 code = 0;
  int err = PlatThreadExitCode(handle, &code);
  if (err != 0) {
    DBPrintf("GetExitCodeThread returns FALSE, LastError = 0x%lx", int32(err));
    DBAssert(__FILE__, __LINE__, "cannot read a thread's exit code");
  } else if (code == kPlatStillActive && !PlatThreadIsCurrent(handle)) {
    int32 wait = gKillWaitMs;
    if (PlatThreadWaitEnd(handle, uInt32(wait)) != 0)
      DBPrintf("thread 0x%lx still running after %ld ms: detached", int32(PlatThreadId(handle)), wait);
  }
  err = PlatThreadClose(handle);
  if (err != 0) {
    DBPrintf("CloseHandle returns FALSE, LastError = 0x%lx", int32(err));
    DBAssert(__FILE__, __LINE__, "cannot close a thread handle");
  }
}

MgErr ThThreadSetPriority(ThThread thread, int32 level) {
  if (!thread) return kNoErr;
  CHECK_SIG(thread, kThThreadSig, "bad thread record");
  QX_ASSERT_MSG(level <= 6, "thread priority level above 6");
  if (level < 0 || level > 4) {
    DBAssert(__FILE__, __LINE__, "thread priority level outside 0 to 4");
    level = 1;
  }
  ThMutexAcquire(gCreateThread);
  int err = PlatThreadSetPriority(thread->handle, gPriorities[level]);
  ThMutexRelease(gCreateThread);
  QX_ASSERT_MSG(err == 0, "the host refused a thread priority");
  return kNoErr;
}

ThThread ThThreadCurrent() {
  uInt32 id = PlatThreadCurrentId();
  ThMutexAcquire(gCreateThread);
  int32 slot = SlotOfId(id);
  ThThread t = slot < kThMaxThreads ? gThreads[slot] : nullptr;
  ThMutexRelease(gCreateThread);
  QX_ASSERT_MSG(t, "the calling thread is not in the thread table");
  return t;
}

int32 ThThreadIndex(ThThread thread) {
  if (thread) CHECK_SIG(thread, kThThreadSig, "bad thread record");
  ThMutexAcquire(gCreateThread);
  int32 slot = SlotOfId(thread ? thread->id : PlatThreadCurrentId());
  ThMutexRelease(gCreateThread);
  QX_ASSERT_MSG(slot < kThMaxThreads, "thread is not in the thread table");
  return slot;
}

void ThGetThreadLimits(int32* words) {
  if (!words) return;
  for (int32 i = 0; i < 3; ++i) words[i] = gLimits[i];
}

int32 ThProcessorCount() {
  int32 n = gTestProcessors.load();
  return n > 0 ? n : PlatProcessorCount();
}

int32 ThFreeThreadSlots() {
  ThMutexAcquire(gCreateThread);
  int32 n = 0;
  for (ThThread t : gThreads)
    if (!t) ++n;
  ThMutexRelease(gCreateThread);
  return n;
}

void WSleep(int32 ms) {
  if (ms > 0) PlatSleepMs(uInt32(ms));
}

uInt32 ThSleepUntil(uInt32 deadline, uInt32 now) {
  int32 diff = MillisecCmp(deadline, now);
  if (diff <= 0) return 0;
  // The host's sleeps run over by up to a tick: aim 1 ms short.
  if (diff >= 2) diff -= 1;
  PlatSleepMs(uInt32(diff));
  return MilliSecs();
}

void ThSetKillWait(int32 ms) { gKillWaitMs = ms < 0 ? 0 : ms; }

void ThSetTestProcessorCount(int32 count) { gTestProcessors.store(count > 0 ? count : 0); }

void ThSetTestCreateFailure(int32 nth) { gTestCreateFailure.store(nth > 0 ? nth : 0); }

// Mutexes --------------------------------------------------------------------

MgErr ThMutexCreate(ThMutex* mutex, const char* name) {
  if (!mutex) return kArgErr;
  ThMutex m = reinterpret_cast<ThMutex>(AZNewPClr(sizeof(ThMutexRec)));
  if (!m) {
    *mutex = nullptr;
    return kMemFullErr;
  }
  m->signature = kThMutexSig;
  PlatRecMutexInit(&m->section);
  CopyName(m->name, name);
  *mutex = m;
  return kNoErr;
}

void ThMutexReportBadSig() { CheckSig(0, kThMutexSig, __FILE__, __LINE__, "bad mutex record"); }

void ThMutexAcquire(ThMutex mutex) { ThMutexLock(mutex); }

void ThMutexRelease(ThMutex mutex) { ThMutexUnlock(mutex); }

void ThMutexDestroy(ThMutex mutex) {
  if (!mutex) return;
  CHECK_SIG(mutex, kThMutexSig, "bad mutex record");
  PlatRecMutexDestroy(&mutex->section);
  mutex->signature = 0;
  AZDisposePtr(reinterpret_cast<UPtr>(mutex));
}

// Events ---------------------------------------------------------------------

MgErr ThEventCreate(ThEvent* event, const char* name, Bool32 signalled) {
  if (!event) return kArgErr;
  ThEvent e = NewEventRecord<ThEventRec>(signalled != 0);
  *event = e;
  if (!e) return kMemFullErr;
  e->flag = signalled ? 0 : 1;
  CopyName(e->name, name);
  return kNoErr;
}

namespace {
std::atomic<int32> gHostSets{0};

// The flag rule: a signal stores 0, a wait's test-and-set consumes it.  The
// sleeper count decides whether the host event must be set too: a waiter
// raises it before its last test of the flag and the signaller reads it after
// its store, both sequentially consistent, so either the waiter sees the
// signal or the signaller sees the waiter.  A host event set for a waiter
// that then found the flag itself wakes a later wait once, which tests the
// flag again.
void RaiseSleepers(ThEvent event) { __atomic_add_fetch(&event->sleepers, 1, __ATOMIC_SEQ_CST); }
void LowerSleepers(ThEvent event) { __atomic_sub_fetch(&event->sleepers, 1, __ATOMIC_SEQ_CST); }

// Consumes a pending signal: true when there was one.
bool ConsumeSignal(ThEvent event) {
  if (TestAndSet(&event->flag) != 0) return false;
  // Whatever the signaller wrote before its signal is visible here.
  ANNOTATE_HAPPENS_AFTER(event);
  return true;
}
}  // namespace

void ThEventSignal(ThEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad event record");
  ANNOTATE_HAPPENS_BEFORE(event);
  __atomic_store_n(&event->flag, 0, __ATOMIC_SEQ_CST);
  if (__atomic_load_n(&event->sleepers, __ATOMIC_SEQ_CST) <= 0) return;
  gHostSets.fetch_add(1, std::memory_order_relaxed);
  QX_ASSERT_MSG(PlatEventSet(event->host), "cannot set a host event");
}

void ThEventWait(ThEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad event record");
  // The flag says whether a signal is pending; the host event only wakes the
  // waiter, and a wake-up left over from an earlier signal costs one round.
  while (!ConsumeSignal(event)) {
    RaiseSleepers(event);
    if (ConsumeSignal(event)) {
      LowerSleepers(event);
      return;
    }
    const int32 r = PlatEventWait(event->host, kPlatWaitForever);
    LowerSleepers(event);
    if (r == kPlatWaitFailed) {
      DBAssert(__FILE__, __LINE__, "waiting for a host event failed");
      return;
    }
  }
}

bool ThEventWaitAwake(ThEvent event, uInt32 microseconds) {
  if (!event || PlatUnderValgrind()) return false;
  CHECK_SIG(event, kThEventSig, "bad event record");
  // The flag is read until it shows a signal, the processor given up
  // between looks: the thread that will signal may be waiting for it (on a
  // busy machine a thread spinning in place would keep it out).
  const uint64_t until = PlatMonotonicUs() + microseconds;
  for (;;) {
    if (__atomic_load_n(&event->flag, __ATOMIC_RELAXED) == 0 && ConsumeSignal(event)) return true;
    if (PlatMonotonicUs() >= until) return false;
    sched_yield();
  }
}

int32 ThEventWaitPumping(ThEvent event, uInt32 timeoutMs) {
  if (!event) return kThWaitFailed;
  CHECK_SIG(event, kThEventSig, "bad event record");
  if (ConsumeSignal(event)) return kThWaitEvent;
  RaiseSleepers(event);
  if (ConsumeSignal(event)) {
    LowerSleepers(event);
    return kThWaitEvent;
  }
  // One wait only; a signal that ends it leaves the flag at 0 for the next wait.
  const int32 r = PlatWaitEventOrInput(event->host, timeoutMs);
  LowerSleepers(event);
  switch (r) {
    case kPlatWaitEvent: return kThWaitEvent;
    case kPlatWaitInput: return kThWaitInput;
    case kPlatWaitTimeout: return kThWaitTimeout;
    default:
      DBAssert(__FILE__, __LINE__, "waiting for a host event or input failed");
      return kThWaitFailed;
  }
}

bool ThEventSleepBegin(ThEvent event) {
  if (!event) return true;
  CHECK_SIG(event, kThEventSig, "bad event record");
  RaiseSleepers(event);
  return __atomic_load_n(&event->flag, __ATOMIC_SEQ_CST) == 0;
}

void ThEventSleepEnd(ThEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad event record");
  LowerSleepers(event);
}

int32 ThEventHostSetCount() { return gHostSets.load(std::memory_order_relaxed); }

void ThEventDestroy(ThEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad event record");
  DisposeEventRecord(event);
}

// Deadline events ------------------------------------------------------------

MgErr ThTimedEventCreate(ThTimedEvent* event, Bool32 set) {
  if (!event) return kArgErr;
  *event = NewEventRecord<ThTimedEventRec>(set != 0);
  return *event ? kNoErr : kMemFullErr;
}

void ThTimedEventSet(ThTimedEvent event, uInt32 deadline) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad deadline event record");
  ThMutexAcquire(event->mutex);
  bool changed = event->deadline != deadline;
  if (changed) event->deadline = deadline;
  ThMutexRelease(event->mutex);
  if (changed) QX_ASSERT_MSG(PlatEventSet(event->host), "cannot set a host event");
}

void ThTimedEventWait(ThTimedEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad deadline event record");
  ThMutexAcquire(event->mutex);
  uInt32 deadline = event->deadline;
  ThMutexRelease(event->mutex);
  for (;;) {
    uInt32 timeout = kPlatWaitForever;
    if (deadline != 0) {
      int32 left = MillisecCmp(deadline, MilliSecs());
      timeout = left < 0 ? 0 : uInt32(left);
      if (timeout >= 2) timeout -= 1;
      if (timeout == 0) return;
    }
    int32 r = PlatEventWait(event->host, timeout);
    if (r == kPlatWaitTimeout) return;
    if (r == kPlatWaitFailed) {
      DBAssert(__FILE__, __LINE__, "waiting for a host event failed");
      return;
    }
    ThMutexAcquire(event->mutex);
    deadline = event->deadline;
    ThMutexRelease(event->mutex);
  }
}

void ThTimedEventDestroy(ThTimedEvent event) {
  if (!event) return;
  CHECK_SIG(event, kThEventSig, "bad deadline event record");
  DisposeEventRecord(event);
}
