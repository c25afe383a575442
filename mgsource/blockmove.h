// Block moves and processor support.
#pragma once
#include "extcode.h"

QX_EXTERN_C void MoveBlock(const void* src, void* dst, int32 count);
QX_EXTERN_C void ClearMem(void* p, int32 count);
QX_EXTERN_C void SwapBlock(void* a, void* b, int32 count);
QX_EXTERN_C int32 TestAndSet(volatile int32* word);
QX_EXTERN_C int32 CheckFPStat();
QX_EXTERN_C int32 FPUSetNearest();
QX_EXTERN_C int32 LoadLibrary16Stub(int32 arg);

// The shell's invalid-library alert, filled at start-up; until then the call
// answers 15 (resource not found) and shows nothing.  The alert shows the
// text of the 'STR ' resource kInvalidLibraryStrId of the run-time resource
// file.
typedef MgErr (*InvalidLibraryAlertProc)();
void SetInvalidLibraryAlertHook(InvalidLibraryAlertProc proc);
InvalidLibraryAlertProc InvalidLibraryAlertHookInUse();
constexpr int32 kInvalidLibraryStrId = 2002;
constexpr const char* kInvalidLibraryStrName = "_invalid LoadLibrary call";
