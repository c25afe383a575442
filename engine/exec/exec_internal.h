// Shared inside the execution systems.
#pragma once
#include "exec.h"

namespace qxexec {

// The built-in slot table and the slot names.
extern const ExecSlot kSlotDefaults[kExecSlots];
extern const char* const kSlotNames[kExecSlots];
// The configuration keys of slots 1..25 (entry 0 is unused), Pascal strings.
extern const uChar* const kSlotKeys[kExecSlots];
extern const uChar kStdNParallelKey[];

// The thread counts that start-up uses, worked out from what the
// configuration holds.
struct ThreadPlan {
  int32 counts[kExecSlots];  // slot 0 is 1
  int32 runRecords;          // 1 + the slots 1..25 with threads
  int32 contexts;            // 1 + the threads
  int32 fitted;              // the count each processor slot got when the
                             // processor count did not fit; 0 otherwise
  Bool32 differs;            // a per-slot key differs from the built-in count
};
// present/keys: the per-slot keys of slots 1..25 (index 0 unused); stdN the
// "ESys.StdNParallel" value (the processor count when absent); limit the
// second thread-limit word; available the threads that may be made.  2 when
// the explicit counts cannot fit, with one thread for each processor slot.
MgErr PlanThreads(const Bool32* present, const int32* keys, int32 stdN, int32 processors, int32 limit,
                  int32 available, ThreadPlan* plan);

// The element's level as it would be queued now: its data space's effective
// priority (the level it has when it has no data space).
int32 ElementLevel(const QueueElement* e);
// Asserts "QELM"; false for none or a bad signature.
bool CheckElement(const QueueElement* e, const char* what);

// WaitDeQElm and SwitchQElm for an execution thread: the element returned
// (when claim is set, for TakeElement) becomes the context's current element
// while the record's mutex is held, so that an element is at every moment on
// a queue or some thread's current element.  A thread that has just run an
// element (awake set) watches for the next one a short while before it
// sleeps: the element its clump handed on often comes straight back.
QueueElement* TakeElement(ExecRunRecord* record, Bool32 wait, ExecContext* context, bool claim, bool awake = false);
QueueElement* SwitchElement(ExecRunRecord* record, QueueElement* element, ExecContext* context);
// Takes every element of the data space (its dataSpace word names it, or it
// lies inside the data space's block) off the record's run and rest queues,
// under the record's mutex; the number taken.
int32 DropDataSpaceElements(ExecRunRecord* record, DataSpace ds);
// The run slot for an element of the data space queued for the execution
// system given (-1: the data space's own routing).  A data space of
// subroutine priority has no slot of its own: it runs where its caller runs.
int32 RunSlotOf(DataSpaceHeader* h, int32 system);

// The test procedure of ExecSetTestRunProc, or none.
ExecTestRunProc TestRunProc();
// The reserve-state update of the VI of a data space: on the user-interface
// thread directly, else by a posted user event.
void UpdateReserveState(DataSpaceHeader* h);

// Set once start-up has finished; cleared first by shut-down.
extern std::atomic<int32> gInitialised;
// Written by ConfigExec mode 2.
void SetConfigDiffers(Bool32 on);

}  // namespace qxexec
