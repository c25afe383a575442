// Unit-access records: the arbitration record of a unit (a GPIB board, a
// VISA session, a loaded external subroutine) that one clump at a time may
// use.  Here the records are made and disposed; the load methods give each
// loaded subroutine and library function one.
#pragma once
#include "engine/exec/exec.h"
#include "mgsource/fourcc.h"
#include "mgsource/thread.h"

struct UnitAccessRec {
  uInt32 signature;   // "UACC" while alive, 0 after disposal
  ThMutex mutex;      // "UnitRights": guards owner and waiters; may be none
  int32 execSystem;   // where users of the unit are moved; -1 none
  void* owner;        // the queue element holding the unit, or null
  ExecQueue* waiters; // the clumps waiting for it, by priority
};
static_assert(sizeof(UnitAccessRec) == 20 && offsetof(UnitAccessRec, mutex) == 4 &&
                  offsetof(UnitAccessRec, execSystem) == 8 && offsetof(UnitAccessRec, owner) == 12 &&
                  offsetof(UnitAccessRec, waiters) == 16,
              "unit-access record");
constexpr uInt32 kUnitAccessSignature = FourCC("UACC");
constexpr int32 kUnitAccessLevels = 5;

// A zero-filled record of size bytes (at least the five fields) with a
// waiter queue of levels (at least 1) and, when withMutex, its mutex; null
// when anything could not be made (nothing is left behind).
QX_EXTERN_C UnitAccessRec* NewUnitAccessRec(int32 size, int32 levels, int32 execSystem, Bool32 withMutex);
// The standard record: five fields, 5 levels, a mutex.
QX_EXTERN_C UnitAccessRec* AllocStdUnitAccessRec(int32 execSystem);
// Frees a record, its queue and its mutex; a null or foreign record is
// reported and left alone.
QX_EXTERN_C void DisposeUnitAccessRec(UnitAccessRec* record);

// Ops of UnitAccess.
enum : int32 { kUnitCancel = 0, kUnitAcquire = 1, kUnitRelease = 2 };
// Results of UnitAccess: what the calling clump does next.
enum : int32 {
  kUnitGoOn = 0,      // the unit is held (or the clump aborts) and the clump is in the right thread
  kUnitYield = 1,     // parked as a waiter, or moved to the unit's execution system: yield
  kUnitYieldHome = 2, // released and sent back to its home run queue: yield
  kUnitNothing = 3,   // nothing further (release in place, cancel, misuse)
};
// Acquires, releases or cancels the wait of a clump for a unit.  One clump
// at a time owns the unit; the others wait in priority order and are handed
// it, and made runnable, by the clump that releases it.  Run queues are
// touched only after the record's mutex is released.
QX_EXTERN_C int32 UnitAccess(UnitAccessRec* record, QueueElement* qe, int32 op);
// Wakes every waiter of a unit that is going away: each goes back to the run
// queue of its home context, without the unit.
QX_EXTERN_C void ReleaseUnitWaiters(UnitAccessRec* record);
// Gives the load methods these records; called at start-up.
void IOInstallUnitAccessHooks();
