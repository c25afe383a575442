// Proxy VIs: small VIs made at run time whose code is not compiled but
// supplied here.
//
// A proxy caller (kind 8) runs a VI for a caller that is no diagram (the VI
// server): its only work is to call the target as a subVI, through the
// target's entrance, so that the target runs with the ordinary subVI
// machinery.  Its data space holds the call's terminal table (a "PTAB"
// table with one slot per terminal of the target's connector pane, each
// slot naming where the terminal's value lies in the data space the target
// runs on) and the call's AsyncRef in the header word pxCallAsync, which
// the reservation for calls sets and clears.
//
// A proxy callee (kind 9) is the local VI standing for a remote VI: its run
// procedure sends the call to the remote application and finishes when the
// reply arrives (FinishPxCallee queues its own element again).
#pragma once
#include "engine/datatype.h"
#include "engine/exec/execrec.h"
#include "engine/vi/dataspace.h"
#include "server/appserve.h"
#include "server/protocol.h"

// ---- Proxy callers ----------------------------------------------------------------------
// A proxy caller for a reference on the target: 0, 1 when the target is bad
// or needs compiling ("PxCallerNew: subVI (\"%p\") needs to be recompiled!!"),
// 2 when it cannot be made (everything made here disposed again).  The
// proxy VI is "<target>.ProxyCaller" (cut to 255 characters), found again
// among the target's callers and given a new data space for each further
// reference.  The data space's target data space is the target's first,
// or a clone of its own when the target is reentrant.
MgErr PxCallerNew(UHandle target, UHandle* proxyVI, DataSpace* proxyDS);
// Disposes the proxy data space (which must hold no call AsyncRef any
// more), and the proxy VI with its last data space.
void PxCallerDispose(UHandle proxyVI, DataSpace proxyDS);
// The end of a proxy caller's run (the done command): the call's AsyncRef
// is told 4 (aborted) or 2 through VIRefNotifyCallDone; then, unless
// another data space of the target still runs a call, the target is idle.
QX_EXTERN_C void PxCallerFinish(DataSpace proxyDS, Bool32 aborted);
// An error stop of the target during a call: the call's AsyncRef gets the
// error and its source, call state 3, and its completion is called.
QX_EXTERN_C void PxErrorNotify(DataSpace proxyDS, MgErr code, ConstPStr source);
// The abort of a proxy caller's run: the VI's first data space resets every
// other one whose call runs; another resets itself.
QX_EXTERN_C void PxResetCallers(DataSpace proxyDS);
// The call's terminal table of a proxy data space (null for any other data
// space) and its terminal count.
ParamTable* PxCallerTable(DataSpace proxyDS);
int32 PxCallerTerminals(DataSpace proxyDS);
// The data space the target runs on for the proxy data space.
DataSpace PxCallerTargetDS(DataSpace proxyDS);

// ---- Proxy callees ----------------------------------------------------------------------
// The proxy callee of that name (kind 9), found or made, with the given
// connector pane (a function type: else 1), and the data space its calls
// use (a new clone when the VI is reentrant).  A VI of that name of another
// kind is 1; a pane that differs is replaced unless a reference holds the
// VI for calls (1031).  A VI made here is disposed again on failure (2 when
// memory is short).
MgErr PxCalleeFindOrCreate(ConstPStr name, const TypeDescriptor* connType, UHandle* vi, DataSpace* ds);
// The code of a kind-9 VI (1 for any other): the shared code header, a data
// space (2 when memory is short) with the callee procedures, initialised.
QX_EXTERN_C MgErr PxCalleeInstallCode(UHandle vi);
// A clone data space of a reentrant callee (1 for one that is not); its
// disposal (never the first data space).
MgErr PxCalleeNewClone(UHandle vi, DataSpace* ds);
void PxCalleeDisposeClone(UHandle vi, DataSpace ds);
// Marks the callee reentrant (flag 0x20).
void PxCalleeMarkReentrant(UHandle vi);
// Hands an error stop of the remote VI to the callee's caller: the error
// (and the text, when given) into the call's error cluster, then the data
// space's error procedure, which forwards it to the caller.
void PxCalleeErrorNotify(DataSpace ds, MgErr error, ConstPStr text);
// Writes the error (status, code, and the text when given) into the error
// cluster of the callee's parameter table, when it has one.
void PxCalleeSetCallError(DataSpace ds, MgErr error, ConstPStr text);
// The element a callee's call resumes on when its remote call has ended.
QueueElement* PxCalleeCallElement(DataSpace ds);

// The callee's procedures.  The run procedure is entered with the callee's
// data space and the caller's element (state 1: it enters the VI), or with
// the data space's own element when the remote call has ended (it
// finishes).  It returns what compiled code returns: 0, or the resume
// address of the element that goes on on this thread.
QX_EXTERN_C int32 PxCalleeRunProc(DataSpace ds, QueueElement* element);
// The reset of a call: a caller taken out of the entrance has its remote
// call killed and the entrance released.
QX_EXTERN_C void PxCalleeResetProc(DataSpace ds, QueueElement* element);
// Clears the call fields and sets up both queue elements of the data space.
QX_EXTERN_C void PxCalleeInit(DataSpace ds);
// Fills the data space's procedure slots with the callee procedures.
QX_EXTERN_C void PxCalleeProcs(DataSpace ds);
// The callee data space's state word: 1 entering, 3 waiting for the remote
// call, 2 finishing.
enum : int32 { kPxCalleeEntering = 1, kPxCalleeFinishing = 2, kPxCalleeWaiting = 3 };
// The source text a failed remote send leaves in the caller's error cluster.
constexpr const char kPxSendFailedText[] = "Remote VI call could not be sent";

// Fills the run commands' proxy hooks; called at start-up.
void ServerInstallProxyHooks();
