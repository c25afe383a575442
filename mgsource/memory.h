// The memory manager: relocatable handles and fixed pointers in the
// application zone (AZ) and the data zone (DS), over the pool allocator.
#pragma once
#include "extcode.h"

// The memory-full procedure of a zone (zone, mode): the bytes it freed.
typedef int32 (*MemFullProc)(int32 zone, int32 mode);

// Statistics of a heap check: only the allocated total size carries a value.
struct MemStatsRecord {
  int32 freeTotal;
  int32 freeLargest;
  int32 freeBlocks;
  int32 allocTotal;
  int32 allocLargest;
  int32 nPointers;
  int32 nUnlockedHandles;
  int32 nLockedHandles;
  int32 minusOne;
  void* zone;
};

// The application zone.
QX_EXTERN_C UHandle AZNewHandle(int32 size);
QX_EXTERN_C UHandle AZNewHClr(int32 size);
QX_EXTERN_C UPtr AZNewPtr(int32 size);
QX_EXTERN_C UPtr AZNewPClr(int32 size);
QX_EXTERN_C MgErr AZDisposeHandle(UHandle h);
QX_EXTERN_C MgErr AZDisposePtr(UPtr p);
QX_EXTERN_C int32 AZGetHandleSize(UHandle h);
QX_EXTERN_C MgErr AZSetHandleSize(UHandle h, int32 size);
QX_EXTERN_C MgErr AZSetHSzClr(UHandle h, int32 size);
QX_EXTERN_C MgErr AZHandToHand(UHandle* hp);
QX_EXTERN_C MgErr AZPtrToHand(const void* src, UHandle* hp, int32 count);
QX_EXTERN_C MgErr AZPtrToXHand(const void* src, UHandle h, int32 count);
QX_EXTERN_C MgErr AZPtrAndHand(const void* src, UHandle h, int32 count);
QX_EXTERN_C MgErr AZHandAndHand(UHandle src, UHandle dst);
QX_EXTERN_C UHandle AZRecoverHandle(const void* p);
QX_EXTERN_C MgErr AZCheckHandle(const void* h);
QX_EXTERN_C MgErr AZCheckPtr(const void* p);
QX_EXTERN_C MemFullProc AZSetMemFullProc(MemFullProc proc);
// The application zone's memory-full procedure as stored (null: none).
MemFullProc AZMemFullProc();
QX_EXTERN_C MgErr AZMoreMasters();
QX_EXTERN_C MgErr AZHeapCheck(Bool32 print);
QX_EXTERN_C MgErr AZMemStats(MemStatsRecord* stats);
QX_EXTERN_C int32 AZMaxMem();

// The data zone.
QX_EXTERN_C UHandle DSNewHandle(int32 size);
QX_EXTERN_C UHandle DSNewHClr(int32 size);
QX_EXTERN_C UPtr DSNewPtr(int32 size);
QX_EXTERN_C UPtr DSNewPClr(int32 size);
QX_EXTERN_C MgErr DSDisposeHandle(UHandle h);
QX_EXTERN_C MgErr DSDisposePtr(UPtr p);
QX_EXTERN_C int32 DSGetHandleSize(UHandle h);
QX_EXTERN_C MgErr DSSetHandleSize(UHandle h, int32 size);
QX_EXTERN_C MgErr DSSetHSzClr(UHandle h, int32 size);
QX_EXTERN_C MgErr DSHandToHand(UHandle* hp);
QX_EXTERN_C MgErr DSPtrToHand(const void* src, UHandle* hp, int32 count);
QX_EXTERN_C MgErr DSPtrToXHand(const void* src, UHandle h, int32 count);
QX_EXTERN_C MgErr DSPtrAndHand(const void* src, UHandle h, int32 count);
QX_EXTERN_C MgErr DSHandAndHand(UHandle src, UHandle dst);
QX_EXTERN_C UHandle DSRecoverHandle(const void* p);
QX_EXTERN_C MgErr DSCheckHandle(const void* h);
QX_EXTERN_C MgErr DSCheckPtr(const void* p);
QX_EXTERN_C MemFullProc DSSetMemFullProc(MemFullProc proc);
QX_EXTERN_C MgErr DSMoreMasters();
QX_EXTERN_C MgErr DSHeapCheck(Bool32 print);
QX_EXTERN_C MgErr DSMemStats(MemStatsRecord* stats);
QX_EXTERN_C int32 DSMaxMem();


QX_EXTERN_C MgErr AZHLock(UHandle h);
QX_EXTERN_C MgErr AZHUnlock(UHandle h);
QX_EXTERN_C int32 AZHGetState(UHandle h);
QX_EXTERN_C void AZHSetState(UHandle h, int32 state);
QX_EXTERN_C void AZHPurge(UHandle h);
QX_EXTERN_C void AZHNoPurge(UHandle h);
QX_EXTERN_C MgErr AZCompact();

// Used inside the system.
QX_EXTERN_C MgErr MemInit();
QX_EXTERN_C void MemShutdown();
QX_EXTERN_C MgErr AZHandToDSHand(UHandle* hp);
QX_EXTERN_C Bool32 AZIsHandle(const void* h);
QX_EXTERN_C void AZRequestCompact();
QX_EXTERN_C Bool32 MemCompactRequested();  // read and clear by the main loop
QX_EXTERN_C int32 MemNoteFailure(int32 size);
QX_EXTERN_C Bool32 MemFullPending(int32* record);
QX_EXTERN_C void MemFullAlert(int32 index, int32 flags);
QX_EXTERN_C void MemFullReset();
QX_EXTERN_C void MemSetFullTexts(CPStrHandle list);
QX_EXTERN_C void MemToggleChecking();

// The data-space allocator's fixed blocks are made at the end of MemInit
// through this hook, set by the engine.
typedef void (*MemInitHook)();
void MemSetDataSpaceInitHook(MemInitHook hook);
MemInitHook MemDataSpaceInitHookInUse();

// Test tooling: the n-th next handle or pointer allocation or handle resize
// (of either zone, counted from 1) fails as if memory were full; 0 disarms.
void MemFailNthAllocation(int32 n);
// Test tooling: from the n-th next allocation or resize on, `count` of them
// fail (count < 0: every one until disarmed); n <= 0 or count 0 disarms.
// Heap primitives that retry with smaller sizes fail only under a run.
void MemFailAllocations(int32 n, int32 count);

// Resizes a data-zone handle that the caller has just checked (its
// DSGetHandleSize answered a size), without checking it again: the engine's
// array resize reads the size first and resizes right after.  Clears the
// added bytes when clear is set; answers as DSSetHandleSize does.
MgErr DSSetCheckedHandleSize(UHandle h, int32 size, Bool32 clear);
// The size of a data-zone handle, or -1 without a report when it is none:
// one check for readers that walk many handles from untrusted data.
int32 DSHandleSizeOrNone(const void* h);

// Zone helpers inside the managers.
Bool32 MemIsDSHandle(const void* h);
Bool32 MemCheckingOn();
void MemSetChecking(Bool32 on);
// The number of master-pointer blocks and of free master pointers of a zone.
void MemZoneCounts(Bool32 ds, int32* nBlocks, int32* nFree);
