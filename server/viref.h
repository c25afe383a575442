// VI references held by the VI server, as the engine sees them: each VI
// keeps a list of the references that hold it, which keeps it from being
// purged; and the set-up of VIs that run for remote callers.
#pragma once
#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// A new reference to the VI (a non-zero number), 0 when memory is short.
int32 NewVIRef(UHandle vi);
// Releases one reference: 0, or 1 for a number that names none.
MgErr DisposeVIRef(int32 ref);
// The number of references held on the VI (the second argument is 0).
QX_EXTERN_C int32 VIHasRefs(UHandle vi, int32 zero);
// Releases every reference in the VI's list.
QX_EXTERN_C void DisposeVIRefList(UHandle vi);
// Releases every reference of every VI.
QX_EXTERN_C void VIRefReleaseAll();
// Prepares a proxy-callee VI (kind 9): its data space is made when it has
// none.  1 for a VI of another kind, 2 when memory is short.
QX_EXTERN_C MgErr PxCalleeInstallCode(UHandle vi);

// ---- References opened on the local application -------------------------------
// A VI reference is one of the numbers above, with what the reference holds:
// its open options, its reservation mode and, for a call, its asynchronous
// record.  Only the local application exists here; remote ones are refused.
typedef uInt32 AppRef;
typedef int32 VIRef;
constexpr AppRef kLocalAppRef = 0xFFFFFFFF;
enum : int32 { kVIRefOptNative = 0x100, kVIRefOptTrusted = 0x200 };
enum : MgErr {
  kVIRefNotIdleErr = 1000,
  kVIRefNotExecErr = 1003,
  kVIRefNotInMemoryErr = 1004,
  kAppRefInvalidErr = 1025,
  kVIRefInvalidErr = 1026,
  kVIRefReserveErr = 1027,
  kVIRefSelectorErr = 1028,
  kVIRefTypeErr = 1031,
  kVIRefAccessErr = 1032,
  kVIRefKindErr = 1035,
  kVIRefUnsupportedErr = 1043,
};
// The properties served here: the reservation mode (an int32: 0 none, 2 run
// or call), the reference's call data space (a DataSpace) and the VI's
// connector pane (a const TypeDescriptor*).  Others answer 1043, or 1028
// outside the VI's properties.
enum : int32 { kVIRefReservationProp = 504, kVIRefCallDataProp = 546, kVIRefConnPaneProp = 547 };

// An operation that completes later: here only the call of a VI.
struct AsyncRefRec;
typedef AsyncRefRec* AsyncRef;
typedef void (*AsyncCompletion)(AsyncRef);
enum : int32 { kAsyncNonNativeCallVIOp = 4 };
enum : int32 { kVIRefCallRunning = 1, kVIRefDoneSuccessful = 2, kVIRefDoneErrorStop = 3, kVIRefDoneReset = 4 };
struct AsyncRefRec {
  int32 op;                   // kAsyncNonNativeCallVIOp
  void* caller[2];            // the starter's own words, for its completion
  MgErr error;
  AsyncCompletion completion;
  VIRef ref;
  int32 state;                // kVIRefCall* / kVIRefDone*, 0 between calls
  Bool32 busy;
  AsyncRef next;              // the local application's list of running calls
};

// Opens a reference on a loaded VI of the name (1 for an empty name, 1025 for
// an application other than the local one, 1004 when none is loaded, 1032
// when an untrusted caller is refused by the exported-VI list, 1035 for a VI
// of another kind, 1031 when connType differs from the VI's connector pane;
// with connType the reference is reserved for calls).  password, text,
// completion and async are accepted for the caller's sake: the local
// application completes at once.
MgErr AppOpenVIRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
// The same for a path: a VI of the path's file name already loaded is used,
// else the file is loaded (7 when no VI comes of it).
MgErr AppOpenVIRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
// Releases the reference: its reservation and running call go with it.
// 1026 for a reference released already or never made.
QX_EXTERN_C MgErr VIRefRelease(VIRef ref);
MgErr VIRefGetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                         AsyncRef* async);
MgErr VIRefSetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                         AsyncRef* async);
// Runs the VI of a reference reserved for calls as a top-level run; the
// completion gets the call's record when the run ends (done or reset).
// 1026 unknown or releasing, 1 for a native reference, 1027 unreserved, 1000
// while a call runs or the VI is not idle, else the run command's error.
MgErr VIRefStartCall(VIRef ref, AsyncCompletion completion, AsyncRef* out);
// Abandons a running call: its run is reset, which completes it with
// kVIRefDoneReset.  1 for a record that runs no call or names no reference,
// 1000 when the call has ended.
QX_EXTERN_C MgErr KillQXObjAsyncRef(AsyncRef async);
// Where the value of a connector-pane terminal lies in the reference's call
// data space: the offset of the data-space entry named as the terminal, -1
// when none.
int32 VIRefTerminalOffset(VIRef ref, int32 terminal);
// Registers the run-time routines above at their indexes.
MgErr QXRTRegisterServer();

// Fills the engine's VI-server hooks; called at start-up.
void ServerInstallEngineHooks();
// The refnum test of the diagrams (kind 7) asks the automation refnum jar;
// part of the engine hooks.
void ServerInstallRefnumHooks();
