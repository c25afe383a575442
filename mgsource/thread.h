// The thread manager: a table of up to 128 registered threads, five priority
// levels mapped onto host priorities from the configuration, named re-entrant
// mutexes, auto-reset events and the deadline event of the occurrence timer.
#pragma once
#include "extcode.h"
#include "fourcc.h"
#include "platform/qx_mutex.h"

struct PlatThread;
struct PlatEvent;

// Record signatures.
constexpr uInt32 kThThreadSig = FourCC("Thrd");
constexpr uInt32 kThMutexSig = FourCC("Mutx");
constexpr uInt32 kThEventSig = FourCC("Evnt");

constexpr int32 kThMaxThreads = 128;
constexpr int32 kThNameSize = 256;  // up to 255 characters and a NUL
// Time-out of ThEventWaitPumping that never ends by itself.
constexpr uInt32 kThWaitForever = 0xFFFFFFFFu;

struct ThThreadRec {
  uInt32 signature;    // "Thrd"
  PlatThread* handle;  // the host thread handle
  uInt32 id;           // the host thread id
};
typedef ThThreadRec* ThThread;

struct ThMutexRec {
  uInt32 signature;      // "Mutx"
  PlatRecMutex section;  // re-entrant for its owner
  char name[kThNameSize];
};
typedef ThMutexRec* ThMutex;

struct ThEventRec {
  uInt32 signature;        // "Evnt"
  ThMutex mutex;           // unnamed, made with the event
  volatile int32 flag;     // 0 signalled, 1 not; changed by TestAndSet and ThEventSignal
  PlatEvent* host;         // auto-reset host event
  char name[kThNameSize];
  // The threads that may be blocked on the host event: each wait raises it
  // before its last test of the flag and lowers it after waking, and a
  // signal sets the host event only when it is above 0.
  volatile int32 sleepers;
};
typedef ThEventRec* ThEvent;

struct ThTimedEventRec {
  uInt32 signature;  // "Evnt"
  uInt32 deadline;   // a MilliSecs time; 0 means none
  ThMutex mutex;     // unnamed, guards the deadline
  PlatEvent* host;   // auto-reset host event
};
typedef ThTimedEventRec* ThTimedEvent;

static_assert(offsetof(ThThreadRec, handle) == 4 && offsetof(ThThreadRec, id) == 8, "thread record");
static_assert(offsetof(ThMutexRec, section) == 4 && offsetof(ThMutexRec, name) == 16 &&
              sizeof(ThMutexRec) == 272, "mutex record");
static_assert(offsetof(ThEventRec, mutex) == 4 && offsetof(ThEventRec, flag) == 8 &&
              offsetof(ThEventRec, host) == 12 && offsetof(ThEventRec, name) == 16, "event record");
static_assert(offsetof(ThTimedEventRec, deadline) == 4 && offsetof(ThTimedEventRec, mutex) == 8 &&
              offsetof(ThTimedEventRec, host) == 12, "deadline event record");

// A thread's routine; its result is the thread's exit code.
typedef int32 (*ThThreadProc)(void* context);

// Results of ThEventWaitPumping.
enum : int32 {
  kThWaitEvent = 0,    // the event was (or had been) signalled
  kThWaitInput = 1,    // window input arrived for the thread
  kThWaitTimeout = 2,  // the time-out passed
  kThWaitFailed = -1,
};

// Threads.
QX_EXTERN_C MgErr ThInit();
QX_EXTERN_C MgErr ThThreadCreate(ThThread* thread, ThThreadProc proc, void* context);
QX_EXTERN_C void ThThreadDestroy(ThThread thread);
QX_EXTERN_C void ThThreadKill(PlatThread* handle);
QX_EXTERN_C MgErr ThThreadSetPriority(ThThread thread, int32 level);
QX_EXTERN_C ThThread ThThreadCurrent();
QX_EXTERN_C int32 ThThreadIndex(ThThread thread);
QX_EXTERN_C void ThGetThreadLimits(int32* words);
QX_EXTERN_C int32 ThProcessorCount();
QX_EXTERN_C void WSleep(int32 ms);
QX_EXTERN_C uInt32 ThSleepUntil(uInt32 deadline, uInt32 now);

// Mutexes.
QX_EXTERN_C MgErr ThMutexCreate(ThMutex* mutex, const char* name);
QX_EXTERN_C void ThMutexAcquire(ThMutex mutex);
QX_EXTERN_C void ThMutexRelease(ThMutex mutex);
QX_EXTERN_C void ThMutexDestroy(ThMutex mutex);

// The same as ThMutexAcquire and ThMutexRelease, inline for the managers'
// hot paths (the memory manager takes its mutex on every handle).
void ThMutexReportBadSig();
inline void ThMutexLock(ThMutex mutex) {
  if (!mutex) return;
  if (__builtin_expect(mutex->signature != kThMutexSig, 0)) ThMutexReportBadSig();
  PlatRecMutexLock(&mutex->section);
}
inline void ThMutexUnlock(ThMutex mutex) {
  if (!mutex) return;
  if (__builtin_expect(mutex->signature != kThMutexSig, 0)) ThMutexReportBadSig();
  PlatRecMutexUnlock(&mutex->section);
}

// Events.
QX_EXTERN_C MgErr ThEventCreate(ThEvent* event, const char* name, Bool32 signalled);
QX_EXTERN_C void ThEventSignal(ThEvent event);
QX_EXTERN_C void ThEventWait(ThEvent event);
// Watches the event for a signal for up to the given microseconds without
// sleeping, giving the processor up between looks (a hand-off from another
// thread comes sooner than a sleeping thread wakes); true when it consumed
// one.  Never under Valgrind.
bool ThEventWaitAwake(ThEvent event, uInt32 microseconds);
QX_EXTERN_C int32 ThEventWaitPumping(ThEvent event, uInt32 timeoutMs);
QX_EXTERN_C void ThEventDestroy(ThEvent event);

// Deadline events.
QX_EXTERN_C MgErr ThTimedEventCreate(ThTimedEvent* event, Bool32 set);
QX_EXTERN_C void ThTimedEventSet(ThTimedEvent event, uInt32 deadline);
QX_EXTERN_C void ThTimedEventWait(ThTimedEvent event);
QX_EXTERN_C void ThTimedEventDestroy(ThTimedEvent event);

// The number of empty slots of the thread table.
int32 ThFreeThreadSlots();

// A wait on the event's descriptor made outside this manager (a poll() of
// several descriptors) brackets itself with these, so that a signal that
// finds the event's flag clear also sets the host event while it waits.
// Begin answers true when the event is signalled already (nothing to wait
// for; End must still be called).
bool ThEventSleepBegin(ThEvent event);
void ThEventSleepEnd(ThEvent event);

// Test hook: the number of times a signal has set a host event.
int32 ThEventHostSetCount();

// Test hook: how long ThThreadKill waits for a running thread to end
// (10,000 ms unless changed).
void ThSetKillWait(int32 ms);
// Test hooks: the count ThProcessorCount reports (0 gives the host's again),
// and a failure (2, nothing made) of the n-th next ThThreadCreate (0: none).
void ThSetTestProcessorCount(int32 count);
void ThSetTestCreateFailure(int32 nth);
