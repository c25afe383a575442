// Execution systems and run queues.
//
// Clumps ready to run wait as queue elements on the run queue of one of 26
// run slots: the user-interface slot, served by the user-interface thread,
// and five execution systems times five priorities, served by execution
// threads.  InitExec reads the thread counts from the configuration, makes a
// run record per slot with threads and a context per thread, and routes
// every (priority, execution system) pair to the slot that serves it.
//
// Locks, always taken in this order: "dsRights" of a data space, then
// "gExecSystemRights", then a run record's "%s:qRights".  No path holds two
// run records' mutexes at once.
#pragma once
#include "engine/vi/dataspace.h"
#include "execrec.h"

// Start-up and shut-down.
QX_EXTERN_C MgErr InitExec();
QX_EXTERN_C void FinishExec();

// The configuration record: a handle of 112 bytes, a count 27 and 27 words:
// the thread counts of slots 1..25, "ESys.StdNParallel" and the processor
// count; -2 for a key that is not set.  Mode 0 fills it with the counts in
// force, 1 from the configuration file, 2 writes it to the file.
enum : int32 { kConfigExecWords = 27, kConfigExecSize = 4 + 4 * kConfigExecWords, kConfigExecUnset = -2 };
QX_EXTERN_C MgErr ConfigExec(UHandle record, int32 mode);

// Routing.
QX_EXTERN_C int32 ExecSysSlot(int32 priority, int32 system);
QX_EXTERN_C void EnqPrRunQ(int32 slot, QueueElement* element);
QX_EXTERN_C void EnQRunQ(QueueElement* element);
QX_EXTERN_C ExecContext* GetCurExecContext();

// Queues without locks.
QX_EXTERN_C ExecQueue* NewExecQueue(int32 levels);
QX_EXTERN_C void DisposeExecQueue(ExecQueue* queue);
QX_EXTERN_C void InsertQElm(ExecQueue* queue, QueueElement* element);
QX_EXTERN_C QueueElement* DeQElm(ExecQueue* queue);
QX_EXTERN_C Bool32 RemQElm(ExecQueue* queue, QueueElement* element);

// Run-record operations under the record's mutex.
QX_EXTERN_C void EnQElm(ExecRunRecord* record, QueueElement* element);
QX_EXTERN_C QueueElement* WaitDeQElm(ExecRunRecord* record, Bool32 wait, ExecContext* context);
QX_EXTERN_C QueueElement* SwitchQElm(ExecRunRecord* record, QueueElement* element);
QX_EXTERN_C void Rest(QueueElement* element);
QX_EXTERN_C void WakeUpRest();

// Before a data space is disposed: takes its elements off every run and
// rest queue and waits until no context runs one of them.
QX_EXTERN_C void WaitDataSpaceIdle(DataSpace ds);

// One slice of the user-interface execution system on the user-interface
// thread: its clumps run until none is left or input waits (WEventAvail).
// False, with nothing run, on another thread or while a slice runs on this
// thread already (a loop nested inside a clump).
Bool32 ExecUserInterfaceSlice(Bool32 shortSlice);
// True while such a slice runs (its clumps may open a nested loop).
Bool32 ExecUserInterfaceSliceRunning();

// Top-level runs in progress: a run is entered when its run element is
// queued for it, and leaves when its last step (Done) has been taken or its
// data space is disposed.
void ExecTopRunStarted(DataSpace ds);
void ExecTopRunEnded(DataSpace ds);
Bool32 ExecTopRunActive(DataSpace ds);

// How long shut-down waits for an execution thread to leave its loop before
// it detaches it (milliseconds; 10 s unless a test sets less).
void ExecSetStopWait(int32 ms);

// State read by the other execution Parts.
const ExecSlot* ExecSlotTable();                   // 26 rows
const char* ExecSlotName(int32 slot);              // "" outside 0..25
int32 ExecEffectiveSlot(int32 slot);               // -1 outside 0..25
ExecRunRecord* ExecSlotRunRecord(int32 slot);      // the record serving the slot
ExecContext* ExecSlotContext(int32 slot);          // the first context of that record
const int32* ExecRoutingRow(int32 priority);       // 6 slots, none outside 0..4
int32 ExecRunRecordCount();
ExecRunRecord* ExecRunRecordAt(int32 index);
int32 ExecContextCount();                          // threads + 1
ExecContext* ExecContextAt(int32 index);
Bool32 ExecThreadsOn();
Bool32 ExecInitialised();
Bool32 ExecConfigDiffers();
int32 ExecStdNParallel();                          // -2 when the key was not set
int32 ExecTimeSlice();                             // 2 ticks; 0 without the timer service
int32 ExecResettingDlgDelay();
Bool32 ExecUseOldData();
Bool32 ExecUseOldDataOnArrays();
// The execution systems' busy flag: while it is set, strip charts keep their
// pending points (nothing in the engine sets it yet).
Bool32 ExecBusy();
void ExecSetBusy(Bool32 on);
ThMutex ExecCleanTblMutex();
// The reset list: a handle of the data zone holding a count and the handles
// of the data spaces whose reset has not finished; room for 512 at start.
enum : int32 { kResetListRoom = 512 };
UHandle ExecResetList();
// Guards the reset list's count and entries; taken after a data space's
// "dsRights", never before it.
void ExecLockResetList();
void ExecUnlockResetList();
// Set while an abort is in progress: every thread's countdown runs down.
void ExecSetAbortInProgress(Bool32 on);
Bool32 ExecAbortInProgress();

// The procedure the timer service calls on every tick while threads are on.
void ExecTick();

// Spare thread-table slots kept for threads made after start-up.
constexpr int32 kExecThreadReserve = 16;

// Test hook: the procedure that the execution threads call for each element
// they take, with the element set as their current one (none: the element
// is only taken).
typedef void (*ExecTestRunProc)(ExecContext* context, QueueElement* element);
void ExecSetTestRunProc(ExecTestRunProc proc);
// Whether the shell's poster of user events is installed (its setter is
// ExecSetPostUserEventProc of the code-entry header).
Bool32 ExecPostUserEventProcInstalled();

// The block of run-time globals whose address compiled code is patched
// with (its word 0 is the run-time information word): 0 the address of the
// loaded-VI list's head, 1 and 2 the execution systems', 3 the shell's font
// record, 4 cleared, 5 the application version.
enum : int32 { kQXRTGlobalWords = 6 };
uInt32* QXRTGlobals();
