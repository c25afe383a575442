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
// Gives the load methods these records; called at start-up.
void IOInstallUnitAccessHooks();
