// The run of a VI for a remote caller (a VI of kind 8), as the run commands
// hand it over: its completion, its abort and its error reports go to the
// proxy, which keeps them for the remote caller to collect.
#pragma once
#include <string>

#include "engine/datatype.h"
#include "engine/vi/dataspace.h"

// The completion of such a VI's run: the VI becomes idle and the result is
// kept for the remote caller.
QX_EXTERN_C void PxCallerFinish(DataSpace ds, Bool32 aborted);
// The abort of such a VI's run: its clumps are reset (the message lock that
// the reset leaves held is released) and the caller learns of the abort.
QX_EXTERN_C void PxResetCallers(DataSpace ds);

// What the remote caller collects of the run of a data space.
enum : int32 { kPxRunning = 0, kPxDone = 1, kPxAborted = 2 };
struct PxCallResult {
  int32 state;       // kPx*
  MgErr error;       // the last error reported, 0 for none
  std::string text;  // its text
};
// Takes the result kept for the data space (a run still going, or one of
// which nothing is known, gives kPxRunning and no error); the next run
// starts afresh.
PxCallResult PxTakeCallResult(DataSpace ds);

// ---- Proxy callees: the local VIs that stand for remote VIs -------------------------------------
// The proxy callee of that name (kind 9), found or made, with the given
// connector pane (a function type: else 1), and the data space its calls
// use.  A VI of that name of another kind is 1; a pane that differs is
// replaced unless a reference holds the VI for calls (1031).  A VI made
// here is disposed again on failure (2 when memory is short).
MgErr PxCalleeFindOrCreate(ConstPStr name, const TypeDescriptor* connType, UHandle* vi, DataSpace* ds);
// Marks the proxy callee reentrant (flag 0x20).
void PxCalleeMarkReentrant(UHandle vi);
// A data space of its own for a reference of a reentrant callee (1 for a
// callee that is not reentrant); its disposal (never the first).  Until
// clones of callees are made, the first data space serves every reference.
MgErr PxCalleeNewClone(UHandle vi, DataSpace* ds);
void PxCalleeDisposeClone(UHandle vi, DataSpace ds);
// The element a callee's call resumes on when its remote call has ended.
QueueElement* PxCalleeCallElement(DataSpace ds);
// Hands an error stop of the remote VI to the callee's caller: the error
// and its text into the call's error cluster, then the data space's error
// procedure when it has one.
void PxCalleeErrorNotify(DataSpace ds, MgErr error, ConstPStr text);
// Writes the error (status, code, and the text when given) into the error
// cluster of the callee's parameter table, when it has one.
void PxCalleeSetCallError(DataSpace ds, MgErr error, ConstPStr text);

// Fills the run commands' proxy hooks; called at start-up.
void ServerInstallProxyHooks();
