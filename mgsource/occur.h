// Occurrences: named events that any thread fires and that handlers wait on.
//
// Firing never runs a procedure itself: it queues the armed handlers on the
// pending list of the thread group that armed them, and a thread of that
// group runs them from ChkOccurrences.  A timer thread fires occurrences at
// given millisecond times and times handlers out; code that may not lock
// fires through a lock-free queue that ChkOccurrences drains.
#pragma once
#include "extcode.h"
#include "thread.h"

// Both are cookies of the manager's two jars.
typedef uInt32 Occurrence;
typedef uInt32 OccurHdlr;

// A handler's procedure, called with its data word; the result is ignored.
typedef int32 (*OccurProc)(void* data);

// The information of an occurrence cookie.
struct OccurRec {
  uInt32 generation;      // 2 at creation; firing skips 2 when it wraps
  struct OccNode* chain;  // the handlers bound to it, newest first
};

// A node of a handler chain, of a pending list or of a timed list.
struct OccNode {
  uInt32 cookie;  // handler (chains, pending lists, time-outs) or occurrence (timed list)
  uInt32 word;    // time or deadline in the timed lists, else 0
  OccNode* next;
};

// The information of a handler cookie: seven 32-bit words.
struct OccurHdlrRec {
  int32 armed;       // 1 while it waits for its occurrence
  Occurrence occ;    // the bound occurrence, 0 when unbound
  uInt32 lastGen;    // the occurrence's generation last seen; 2 when new or rebound
  OccurProc proc;
  void* data;
  uInt32 flags;      // kOccTimed, kOccFiredOtherwise
  int32 group;       // the thread group that armed it
};

enum : uInt32 {
  kOccTimed = 1u << 0,          // has an entry in the list of handler time-outs
  kOccFiredOtherwise = 1u << 1, // last run caused by a time-out, deallocation or FireOccurHdlr
};

constexpr int32 kOccFunnyQEntries = 1023;
constexpr uInt32 kOccFirstGeneration = 2;

static_assert(sizeof(OccurRec) == 8 && offsetof(OccurRec, chain) == 4, "occurrence record");
static_assert(sizeof(OccNode) == 12 && offsetof(OccNode, word) == 4 && offsetof(OccNode, next) == 8,
              "occurrence node");
static_assert(sizeof(OccurHdlrRec) == 28 && offsetof(OccurHdlrRec, occ) == 4 &&
              offsetof(OccurHdlrRec, lastGen) == 8 && offsetof(OccurHdlrRec, proc) == 12 &&
              offsetof(OccurHdlrRec, data) == 16 && offsetof(OccurHdlrRec, flags) == 20 &&
              offsetof(OccurHdlrRec, group) == 24,
              "occurrence handler record");

// For external code.
QX_EXTERN_C Occurrence AllocOccur();
QX_EXTERN_C MgErr DeallocOccur(Occurrence occ);
QX_EXTERN_C MgErr Occur(Occurrence occ);
QX_EXTERN_C OccurHdlr AllocOccurHdlr(Occurrence occ, OccurProc proc, void* data);
QX_EXTERN_C MgErr BindOccurHdlr(OccurHdlr hdlr, Occurrence occ, OccurProc proc, void* data);
QX_EXTERN_C MgErr DeallocOccurHdlr(OccurHdlr hdlr);
QX_EXTERN_C MgErr OnOccurrence(OccurHdlr hdlr, Bool32 ignoreEarlier);
QX_EXTERN_C MgErr OnOccurrenceWithTimeout(OccurHdlr hdlr, Bool32 ignoreEarlier, int32 timeoutMs);
QX_EXTERN_C MgErr CancelOnOccur(OccurHdlr hdlr);
QX_EXTERN_C MgErr FireOccurHdlr(OccurHdlr hdlr);
QX_EXTERN_C Bool32 HandlerTimedOut(OccurHdlr hdlr);
QX_EXTERN_C MgErr OccurAtTime(Occurrence occ, uInt32 ms);
QX_EXTERN_C MgErr ChkOccurrences();
QX_EXTERN_C MgErr InterruptSafeOccur(Occurrence occ);

// Inside the system.
QX_EXTERN_C MgErr OccurInit();
// Once a shut-down has begun, and until the next start, every call answers
// as for a value that is not live and touches nothing; the shut-down waits
// for the calls already under way before it frees anything.
QX_EXTERN_C void OccurShutdown();
QX_EXTERN_C MgErr CancelOccurAtTime(Occurrence occ);
QX_EXTERN_C MgErr OccurSetThreadGroup(int32 slot, int32 leaderSlot);
QX_EXTERN_C MgErr OccurSetThreadEvent(int32 slot, ThEvent event);
QX_EXTERN_C Bool32 OccurPendingForGroup(int32 group);
QX_EXTERN_C Bool32 OccurIsValid(Occurrence value);
QX_EXTERN_C MgErr OccurIfValid(Occurrence value);
QX_EXTERN_C void ReleaseTimedHandler(OccurHdlr hdlr, OccurHdlrRec* rec);
QX_EXTERN_C void OccurTimerRearm();

// The "HardWaitTimeCritical" flag read at start-up, for the execution
// threads and the device layer.
Bool32 OccurHardWaitTimeCritical();

// The frame window's occurrence message (1026): the notification the
// manager posted, given its word; the fired handlers of the calling thread
// run.
void OccurFrameNotify(intptr_t word);

// Signals the user-interface thread's wake-up event.  The device timer
// start-up installs it; until then InterruptSafeOccur wakes nobody.
typedef void (*OccurWakeUpProc)();
void OccurSetWakeUpHook(OccurWakeUpProc proc);

// Test hooks: the timed lists in order, the busy entries of the lock-free
// queue and the timer thread.  Each list call fills at most max pairs and
// returns the entry count.
int32 OccurTestTimedList(Occurrence* occs, uInt32* times, int32 max);
int32 OccurTestTimeoutList(OccurHdlr* hdlrs, uInt32* deadlines, int32 max);
int32 OccurTestQueueBusy();
ThThread OccurTestTimerThread();
// Called by OccurShutdown once the timer thread has ended and before anything
// is freed, so that a test can stop the threads it let race the shut-down.
typedef void (*OccurStopHook)();
void OccurTestSetStopHook(OccurStopHook hook);
