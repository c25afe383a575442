// Records of the execution systems: the run slots, their run records and
// priority queues, the per-thread contexts and the queue element that carries
// a clump from queue to thread.
//
// A QueueElement lives inside a data space at a place that compiled code
// knows, so its layout is part of the compiled-code interface.
#pragma once
#include <atomic>

#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/thread.h"

struct DataSpaceHeader;
// A data space is a handle of the data zone; its block starts with the header.
typedef DataSpaceHeader** DataSpace;

struct ExecContext;
struct ExecRunRecord;

// Record signatures.
constexpr uInt32 kExecRunRecordSig = FourCC("PREQ");
constexpr uInt32 kExecContextSig = FourCC("ECTX");
constexpr uInt32 kExecQueueSig = FourCC("EXEQ");
constexpr uInt32 kQueueElementSig = FourCC("QELM");

// Priorities and execution systems.
enum : int32 {
  kPriBackground = 0,
  kPriNormal = 1,
  kPriAboveNormal = 2,
  kPriHigh = 3,
  kPriTimeCritical = 4,
  kPriSubroutine = 5,
};
enum : int32 {
  kESysSameAsCaller = -1,
  kESysUserInterface = 0,
  kESysStandard = 1,
  kESysInstrument = 2,
  kESysDAQ = 3,
  kESysOther1 = 4,
  kESysOther2 = 5,
};
constexpr int32 kExecSlots = 26;
constexpr int32 kExecSystems = 6;
constexpr int32 kExecPriorities = 5;   // the priorities that select a slot
constexpr int32 kExecMaxLevels = 5;    // level count of a run queue

// Bits of the flag word of an element's flag record.
constexpr uInt32 kQECallBit = 0x800000;
constexpr uInt32 kQEWaitingForLockBit = 0x40000000;

// Call kinds of an element.
enum : int32 { kCallTopLevelStart = 0, kCallOwnElementForCaller = 2, kCallTopLevelEntered = 4 };

// A clump ready to run: 24 words.
struct QueueElement {
  QueueElement* next;         // next element of its queue; 0 while not queued
  DataSpace dataSpace;        // the owning data space
  int16 fireCount;            // inputs still to come
  int16 level;                // the data space's priority when last queued
  void* code;                 // the clump's entry, then its resume address
  int32 codeWord1;            // of the compiled code
  int32 work[2];              // cleared for a top-level run
  uInt32* flagRecord;         // its first word is the flag word
  uInt16 runState;
  int16 resetPending;         // 1 while the element's VI is being reset
  QueueElement* chain;        // next clump of the data space's chain
  ExecContext* runningContext;
  ExecContext* entryContext;  // the context it entered a subVI from
  uInt32 signature;           // "QELM"
  int32 qeIndex;              // its number in the data space's queue-element table
  int32 callKind;
  int32 codeWord3;            // of the compiled code
  int32 profileAccum;         // profiling accumulator
  int32 codeWords[7];         // of the compiled code
};
static_assert(sizeof(QueueElement) == 96, "queue element: 24 words");
static_assert(offsetof(QueueElement, next) == 0 && offsetof(QueueElement, dataSpace) == 4 &&
              offsetof(QueueElement, fireCount) == 8 && offsetof(QueueElement, level) == 10 &&
              offsetof(QueueElement, code) == 12 && offsetof(QueueElement, codeWord1) == 16 &&
              offsetof(QueueElement, work) == 20 && offsetof(QueueElement, flagRecord) == 28 &&
              offsetof(QueueElement, runState) == 32 && offsetof(QueueElement, resetPending) == 34 &&
              offsetof(QueueElement, chain) == 36 && offsetof(QueueElement, runningContext) == 40 &&
              offsetof(QueueElement, entryContext) == 44 && offsetof(QueueElement, signature) == 48 &&
              offsetof(QueueElement, qeIndex) == 52 && offsetof(QueueElement, callKind) == 56 &&
              offsetof(QueueElement, codeWord3) == 60 && offsetof(QueueElement, profileAccum) == 64 &&
              offsetof(QueueElement, codeWords) == 68,
              "queue element layout");

// The run state and the reset-pending flag of an element are written by the
// thread that runs it and by the user-interface thread that resets it, and
// read by both without a common lock; compiled code reads them in place, so
// they keep their plain 16-bit places.  The engine reads them with relaxed
// atomic loads and writes them with atomic exchanges (one locked instruction
// each, which the thread checkers see as atomic).
inline uInt16 QERunState(const QueueElement* e) { return __atomic_load_n(&e->runState, __ATOMIC_RELAXED); }
inline void QESetRunState(QueueElement* e, uInt16 state) {
  (void)__atomic_exchange_n(&e->runState, state, __ATOMIC_RELAXED);
}
inline int16 QEResetPending(const QueueElement* e) { return __atomic_load_n(&e->resetPending, __ATOMIC_RELAXED); }
inline void QESetResetPending(QueueElement* e, int16 pending) {
  (void)__atomic_exchange_n(&e->resetPending, pending, __ATOMIC_RELAXED);
}
// Run states 2, 3 and 4 are waits that a reset ends: a waiting element gets
// run state 0, once, whoever else tries at the same time.  True when this
// call ended the wait.
inline bool QEEndWait(QueueElement* e) {
  uInt16 s = QERunState(e);
  while (s == 2 || s == 3 || s == 4)
    if (__atomic_compare_exchange_n(&e->runState, &s, uInt16(0), false, __ATOMIC_RELAXED, __ATOMIC_RELAXED))
      return true;
  return false;
}

// A priority queue of 1 to 5 levels: a fixed block of L + 4 words.  The chain
// stands in descending level order, first in first out within a level.
// Tail k designates the link field after which an element of capped level k
// goes: the next field of the last element whose level is at least k, or the
// head field when there is none (next is an element's first word, so both
// are the same kind of slot).
struct ExecQueue {
  uInt32 signature;  // "EXEQ"
  int32 levels;      // L
  QueueElement* head;
  QueueElement** tail[1];  // tails 0..L follow
};
static_assert(offsetof(ExecQueue, head) == 8 && offsetof(ExecQueue, tail) == 12, "queue layout");

// One row of the slot table.
struct ExecSlot {
  int32 threads;       // 1, 0, or -1 for the processor count; the count in force after start-up
  int32 runRecord;     // index of the slot's run record (start-up)
  int32 firstContext;  // index of the slot's first context (start-up)
  int32 fallback;      // slot used when this one has no threads
  int32 systemFirst;   // first slot of the slot's execution system
  int32 priority;      // 0..4
};
static_assert(sizeof(ExecSlot) == 24, "slot row: six words");

// The run queue of one slot that has threads.
struct ExecRunRecord {
  uInt32 signature;  // "PREQ"
  int32 slot;
  ExecQueue* runQueue;   // 5 levels
  ThEvent event;         // "%s:qeAvail", or the user-interface thread's wake-up event
  ThMutex mutex;         // "%s:qRights"
  ExecQueue* restQueue;  // 1 level
  int32 restPending;     // the rest queue holds elements
  int32 restToggle;      // flips on each yield while elements rest
  int32 threads;
  ExecContext* firstContext;  // the contexts of one slot are consecutive
  Bool32 ownsEvent;           // false for the timer service's event
  int32 sleeping;             // threads of the slot waiting on the event (under the mutex)
};

// One per thread; context 0 is the user-interface thread's.  The alive,
// running and countdown words are written by one thread and polled by
// another, so they are atomic words.
typedef std::atomic<int32> ExecCountdown;
static_assert(sizeof(ExecCountdown) == 4 && ExecCountdown::is_always_lock_free, "atomic words");

struct ExecContext {
  uInt32 signature;  // "ECTX"
  ExecRunRecord* runRecord;
  int32 slot;        // 0: the user-interface thread
  int32 execSystem;  // 0..5
  std::atomic<QueueElement*> current;          // none between clumps
  std::atomic<QueueElement*> subroutineCaller;  // set while a subroutine VI runs in line
  ExecCountdown ownCountdown;                   // used when there are execution threads
  ThThread thread;
  std::atomic<int32> alive;    // set by the thread inside its loop
  std::atomic<int32> running;  // 1 from creation until shut-down
  ExecCountdown* countdown;    // the countdown register the thread uses
  int32 countdownSecond;       // the timer service's second word
  int32 profiling;             // non-zero: completion hands the profiling accumulator on
  int32 priority;              // the slot's priority 0..4
  int32 occurGroup;            // thread-table slot of the occurrence group's root
  void* info;                  // the information pointer of the run-time library
  int32 callChainOff;          // non-zero: errors raised on this thread name no call chain
};
