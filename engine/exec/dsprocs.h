// The code procedures of a data space: the 21 slots (5 to 25) of its header
// through which the engine asks the VI's compiled code for VI-specific work.
// The compiled initialisation (slot 22) fills them, most often by calling
// VINormalInitCProcsHelper first and installing its own procedures after.
// The engine calls each slot through a guarded caller that first looks at
// the VI's bad flag.
#pragma once
#include "engine/vi/dataspace.h"

// Slot numbers.
enum : int32 {
  kDSProcPrepareRun = 5,
  kDSProcResumeElement = 6,
  kDSProcContinueElement = 7,
  kDSProcResetClumps = 8,
  kDSProcDispose = 9,
  kDSProcInitDCOs = 10,
  kDSProcReset = 13,
  kDSProcChkRange = 15,
  kDSProcTransfer = 18,
  kDSProcDatalog = 20,
  kDSProcTopCode = 21,
  kDSProcInit = 22,
  kDSProcCompletion = 25,
};

// The controllers' table (dcoCount entries of 9 words at dcoTableOffset in
// the data space): word 4 is 0 for a controller whose data may be shrunk,
// word 1 the offset of its type descriptor in the data space's type handle.
enum : int32 { kDCOWords = 9, kDCOWordTD = 1, kDCOWordFifth = 4 };
// The versions whose saved controllers lost their no-shrink flag.
constexpr uInt32 kDCONoShrinkFixFirst = 0x05008009;
constexpr uInt32 kDCONoShrinkFixEnd = 0x05018001;

QX_EXTERN_C DataSpace VINormalInitCProcsHelper(DataSpace ds, Bool32 clone);
// The completion procedure (slot 25).
QX_EXTERN_C int32 DSCompletionProc(DataSpace ds, QueueElement* element);
QX_EXTERN_C void DSRunInitProc(DataSpace ds);
QX_EXTERN_C MgErr DSInitDCOs(DataSpace ds);

// Guarded callers.
QX_EXTERN_C void DSCallProc5(DataSpace ds);
QX_EXTERN_C QueueElement* DSGetResumeElement(DataSpace ds);
QX_EXTERN_C QueueElement* DSGetContinueElement(DataSpace ds);
QX_EXTERN_C void DSCallResetClumps(DataSpace ds, QueueElement* element);
QX_EXTERN_C void DSCallDisposeProc(DataSpace ds);
QX_EXTERN_C int32 DSCallProc11(DataSpace ds);
QX_EXTERN_C int32 DSCallResetProc(DataSpace ds, int32 code, int32 source, int32 kind);
QX_EXTERN_C int32 DSCallChkRangeProc(DataSpace ds, int32 a, int32 b, int32 c);
QX_EXTERN_C int32 DSCallProc17(DataSpace ds, int32 a);
QX_EXTERN_C int32 DSCallTransferProc(DataSpace ds, int32 a, int32 b, int32 c);
QX_EXTERN_C int32 DSCallProc19(DataSpace ds, int32 a, int32 b);
QX_EXTERN_C int32 DSCallDatalogProc(DataSpace ds, int32 a, int32 b);

// Posted to the user-interface thread.
QX_EXTERN_C int32 Done(DataSpace ds);
QX_EXTERN_C void Suspend(DataSpace ds);
QX_EXTERN_C void PostReset(DataSpace ds, int32 subVI, int32 location, int32 error);

// The step that allocation runs when a data space's block moved: the
// dispose procedure, then the controllers again when slot 10 is set.
void DSBlockMoved(UHandle ds);
// Installs the code procedures' hooks in the lower layers: the moved-block
// step of the data-space allocation, and the initialisation, controllers and
// dispose procedure that making VIs and disposing data spaces call (members
// of the VI instances' code hooks that are set already stay).
void InitDSProcs();
void InstallVICodeHooks();
