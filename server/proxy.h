// The run of a VI for a remote caller (a VI of kind 8), as the run commands
// hand it over: its completion, its abort and its error reports go to the
// proxy, which keeps them for the remote caller to collect.
#pragma once
#include <string>

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

// Fills the run commands' proxy hooks; called at start-up.
void ServerInstallProxyHooks();
