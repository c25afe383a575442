// The memory manager: relocatable handles and fixed pointers in the
// application zone (AZ) and the data zone (DS), over the pool allocator.
#pragma once
#include "extcode.h"

typedef int32 (*MemFullProc)(int32 size);

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

#define QX_ZONE_OPS(Z)                                                         \
  QX_EXTERN_C UHandle Z##NewHandle(int32 size);                                \
  QX_EXTERN_C UHandle Z##NewHClr(int32 size);                                  \
  QX_EXTERN_C UPtr Z##NewPtr(int32 size);                                      \
  QX_EXTERN_C UPtr Z##NewPClr(int32 size);                                     \
  QX_EXTERN_C MgErr Z##DisposeHandle(UHandle h);                               \
  QX_EXTERN_C MgErr Z##DisposePtr(UPtr p);                                     \
  QX_EXTERN_C int32 Z##GetHandleSize(UHandle h);                               \
  QX_EXTERN_C MgErr Z##SetHandleSize(UHandle h, int32 size);                   \
  QX_EXTERN_C MgErr Z##SetHSzClr(UHandle h, int32 size);                       \
  QX_EXTERN_C MgErr Z##HandToHand(UHandle* hp);                                \
  QX_EXTERN_C MgErr Z##PtrToHand(const void* src, UHandle* hp, int32 count);   \
  QX_EXTERN_C MgErr Z##PtrToXHand(const void* src, UHandle h, int32 count);    \
  QX_EXTERN_C MgErr Z##PtrAndHand(const void* src, UHandle h, int32 count);    \
  QX_EXTERN_C MgErr Z##HandAndHand(UHandle src, UHandle dst);                  \
  QX_EXTERN_C UHandle Z##RecoverHandle(const void* p);                         \
  QX_EXTERN_C MgErr Z##CheckHandle(const void* h);                             \
  QX_EXTERN_C MgErr Z##CheckPtr(const void* p);                                \
  QX_EXTERN_C MemFullProc Z##SetMemFullProc(MemFullProc proc);                 \
  QX_EXTERN_C MgErr Z##MoreMasters();                                          \
  QX_EXTERN_C MgErr Z##HeapCheck(Bool32 print);                                \
  QX_EXTERN_C MgErr Z##MemStats(MemStatsRecord* stats);                        \
  QX_EXTERN_C int32 Z##MaxMem();

QX_ZONE_OPS(AZ)
QX_ZONE_OPS(DS)
#undef QX_ZONE_OPS

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

// Zone helpers inside the managers.
Bool32 MemIsDSHandle(const void* h);
Bool32 MemCheckingOn();
