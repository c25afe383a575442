// Application and VI references: the one front door through which diagrams,
// the automation server and remote clients open, resolve, use and release
// references to applications and to their VIs.
//
// An application reference (AppRef) names an application record: the local
// application ("ThisApp"), or a remote one reached over TCP.  A VI
// reference (VIRef) names one VI of one application.  Every operation on a
// reference goes through the method table of its application record, so
// local and remote VIs are served alike.  References are cookies of two
// jars; a refnum from a diagram, an automation client or the wire is any
// 32-bit value, resolved only through its jar and never used as an address.
//
// Locking: "gVIRefMutex" guards the jars, the release-pending flag, the
// native call count and the drop of reservation mode 2.  It is never held
// across a call into an application record's method table.  Everything
// else of a reference is touched on the user-interface thread.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "engine/vi/dataspace.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "mgsource/thread.h"

typedef uInt32 AppRef;
typedef int32 VIRef;
constexpr AppRef kNoAppRef = 0;
constexpr AppRef kLocalAppRef = 0xFFFFFFFF;

// Options of the operations that take them; the open options are ORed into
// the reference's flags (bits other than these are carried unchanged).
enum : int32 {
  kVIRefOptKeepOperatedMark = 0x1,  // leaves the VI's operated-through-a-reference mark alone
  kVIRefOptNative = 0x100,          // the diagram calls the VI directly
  kVIRefOptTrusted = 0x200,         // a trusted local caller: the remote-client gate is skipped
};
// Flags of a reference beyond the open options.
enum : uInt32 {
  kVIRefReleasePending = 0x10000,
  kVIRefStrictlyTyped = 0x20000,
  kVIRefLoadedPanel = 0x80000,  // this reference loaded the VI's front panel
};
// Reservation modes.
enum : int32 { kVIRefModeNone = 0, kVIRefModeEdit = 1, kVIRefModeCall = 2 };

// The VI server's error codes (their texts are entries code - 999 of the
// application error list; 1043 and 1044 have none).
enum : MgErr {
  kVIRefNotIdleErr = 1000,
  kVIRefNotExecErr = 1003,
  kVIRefNotInMemoryErr = 1004,
  kAppRefInvalidErr = 1025,
  kVIRefInvalidErr = 1026,
  kVIRefReserveErr = 1027,
  kVIRefSelectorErr = 1028,
  kVIRefReadOnlyErr = 1029,
  kVIRefEditReservedErr = 1030,
  kVIRefTypeErr = 1031,
  kVIRefAccessErr = 1032,
  kVIRefKindErr = 1035,
  kVIRefMethodErr = 1036,
  kVIRefProtocolErr = 1037,
  kVIRefParamMissingErr = 1038,
  kVIRefAbortedErr = 1039,
  kVIRefRecursiveErr = 1042,
  kVIRefUnsupportedErr = 1043,
  kVIRefUnreservedErr = 1044,
};
// The manager codes the references use beyond 1, 2 and 7.
enum : MgErr { kVIRefGenericErr = 42, kVIRefPendingErr = 55, kVIRefPeerClosedErr = 66 };

// One entry of an attribute vector, or one parameter of a method: get flag
// (non-zero get, 0 set; for a parameter its direction), the selector (which
// methods ignore) and where the value lies.
struct AttrEntry {
  int32 get;
  int32 selector;
  void* value;
};
static_assert(sizeof(void*) != 4 || sizeof(AttrEntry) == 12, "attribute entry: three words");

// ---- Operations that complete later -----------------------------------------------------
struct AsyncRefRec;
typedef AsyncRefRec* AsyncRef;
typedef void (*AsyncCompletion)(AsyncRef);
enum : int32 {
  kAsyncGetAppRefOp = 0,
  kAsyncGetVIRefOp = 1,
  kAsyncAppAttrVectOp = 2,
  kAsyncVIAttrVectOp = 3,
  kAsyncNonNativeCallVIOp = 4,
  kAsyncAppDoMethodOp = 5,
  kAsyncVIDoMethodOp = 6,
  kAsyncCallVIPxCalleeOp = 7,
};
// Call states: 0 between calls, then running, done, stopped on an error,
// reset.
enum : int32 { kVIRefCallIdle = 0, kVIRefCallRunning = 1, kVIRefDoneSuccessful = 2, kVIRefDoneErrorStop = 3,
               kVIRefDoneReset = 4 };

struct AppRecord;
struct AsyncRefRec {
  int32 op;                    // kAsync*Op
  void* connection;            // remote operations: the connection record
  MgErr error;                 // handed to the completion
  PStr errorText;              // its source text, a counted string (or null)
  AsyncCompletion completion;  // null once forgotten
  VIRef ref;                   // the reference it concerns
  // Methods: selector, parameter count, parameter list; vectors: entry
  // count, vector, 0; kAsyncGetAppRefOp: the new AppRef in the first;
  // kAsyncNonNativeCallVIOp: the terminal count in the third (the first two
  // are the starter's own words for its completion).
  uInt32 param[3];
  UPtr terminals;              // kAsyncNonNativeCallVIOp: 8 bytes per connector-pane terminal
  int32 uniqueId;              // the request's id (server side)
  int32 callState;             // kVIRefCall* / kVIRefDone*
  AppRecord* app;              // the owning application record
  AsyncRef next;               // the record's list
};
static_assert(sizeof(void*) != 4 || (sizeof(AsyncRefRec) == 56 && offsetof(AsyncRefRec, completion) == 16 &&
                                     offsetof(AsyncRefRec, param) == 24 && offsetof(AsyncRefRec, terminals) == 36 &&
                                     offsetof(AsyncRefRec, callState) == 44 && offsetof(AsyncRefRec, next) == 52),
              "asynchronous reference: fields in order");
// The name of an operation code for diagnostics; "Unknown asyncOp" for others.
const char* AsyncOpName(int32 op);
// A cleared record of the operation owned by the application record (not yet
// on its list); null when memory is short.  Freeing an operation 4 record
// frees its terminal table too.  Known records only: KillQXObjAsyncRef and
// the list operations refuse any other address.
AsyncRef NewAsyncRef(int32 op, AppRecord* app);
void FreeAsyncRef(AsyncRef async);
Bool32 IsLiveAsyncRef(AsyncRef async);
// The record's list: appended at the tail; an unlink answers whether the
// record was on it.
void AppendAsyncRef(AppRecord* app, AsyncRef async);
Bool32 UnlinkAsyncRef(AppRecord* app, AsyncRef async);

// ---- Application records ---------------------------------------------------------------
struct VIRefRecord;
typedef MgErr (*AppOpenByNameProc)(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                                   ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion,
                                   AsyncRef* async);
typedef MgErr (*AppOpenByPathProc)(AppRef app, Path path, const TypeDescriptor* connType, int32 options,
                                   ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion,
                                   AsyncRef* async);
typedef MgErr (*AppReleaseRefProc)(VIRefRecord* ref);
typedef uInt32 (*AppIdentityProc)(uInt32 value);
typedef MgErr (*AppVIAttrVectorProc)(VIRefRecord* ref, int32 count, AttrEntry* vector, int32 options, MgErr* error,
                                     int32* index, PStr text, AsyncCompletion completion, AsyncRef* async);
typedef MgErr (*AppAppAttrVectorProc)(AppRecord* app, AppRef appRef, int32 count, AttrEntry* vector, int32 options,
                                      MgErr* error, int32* index, PStr text, AsyncCompletion completion,
                                      AsyncRef* async);
typedef MgErr (*AppVIMethodProc)(VIRefRecord* ref, int32 method, int32 count, AttrEntry* params, int32 options,
                                 PStr text, AsyncCompletion completion, AsyncRef* async);
typedef MgErr (*AppKillAsyncProc)(AppRecord* app, AsyncRef async);
typedef MgErr (*AppReleaseAppRefProc)(AppRecord* app, AppRef appRef);
typedef MgErr (*AppAppMethodProc)(AppRecord* app, AppRef appRef, int32 method, int32 count, AttrEntry* params,
                                  int32 options, PStr text, AsyncCompletion completion, AsyncRef* async);
// The ten operations, in this order.
struct AppMethodTable {
  AppOpenByNameProc openByName;        // 0
  AppOpenByPathProc openByPath;        // 1
  AppReleaseRefProc releaseRef;        // 2
  AppIdentityProc identity;            // 3: its argument unchanged
  AppVIAttrVectorProc viAttrVector;    // 4
  AppAppAttrVectorProc appAttrVector;  // 5
  AppVIMethodProc viMethod;            // 6
  AppKillAsyncProc killAsync;          // 7
  AppReleaseAppRefProc releaseAppRef;  // 8
  AppAppMethodProc appMethod;          // 9
};
struct AppRecord {
  AppMethodTable methods;  // first: a pointer to the record is one to its table
  ConstPStr name;          // "ThisApp" for the local record
  AsyncRef asyncList;
  uInt32 flags;            // local: kAppRecInitialised; remote: kAppRecReleased
  // Remote records only.
  int32 cookieCount;       // application refnums naming the record
  int32 viObjectCount;     // VI references opened through it
  void* connection;
  uChar machine[256];      // the machine's name
};
static_assert(sizeof(void*) != 4 || (sizeof(AppMethodTable) == 40 && offsetof(AppRecord, name) == 40 &&
                                     offsetof(AppRecord, asyncList) == 44 && offsetof(AppRecord, flags) == 48 &&
                                     offsetof(AppRecord, connection) == 60 && offsetof(AppRecord, machine) == 64),
              "application record: fields in order");
enum : uInt32 { kAppRecInitialised = 0x1, kAppRecReleased = 0x1 };
// The local application's record.
AppRecord* ThisAppRecord();

// ---- References --------------------------------------------------------------------------
// One open VI reference, allocated cleared.
struct VIRefRecord {
  AppRecord* app;
  AppRef appRef;       // the application reference it was opened through
  VIRef self;
  uInt32 flags;        // the open options, kVIRefReleasePending, kVIRefStrictlyTyped, kVIRefLoadedPanel
  int32 mode;          // kVIRefMode*
  int32 nativeCalls;   // native calls begun (those in progress: VIRefNativeCallsHeld)
  UHandle vi;
  DataSpace callDS;    // native calls: the VI's own data space or a reentrant clone
  UHandle proxyVI;     // non-native calls: the proxy caller VI
  DataSpace proxyDS;   // and its data space
  AsyncRef call;       // non-native calls in mode 2: the call's kAsyncNonNativeCallVIOp record
  // Native calls finished, counted without "gVIRefMutex"; the high bit is
  // set, under the mutex, when a release is asked (kVIRefDoneReleaseBit).
  uInt32 nativeDone;
};
constexpr uInt32 kVIRefDoneReleaseBit = 0x80000000u;
static_assert(sizeof(void*) != 4 || (offsetof(VIRefRecord, flags) == 12 && offsetof(VIRefRecord, vi) == 24 &&
                                     offsetof(VIRefRecord, proxyDS) == 36),
              "VI reference record: fields 1 to 10 in order");

// Creates the two jars and "gVIRefMutex" and marks the local record
// initialised: 0, or 2 when any cannot be made (nothing kept).  A second
// call finds them made and answers 0.
QX_EXTERN_C MgErr VIRefInit();
// The record of an application refnum: null for 0, the local record for
// 0xFFFFFFFF once VIRefInit has run, else the jar's (a debug line on a miss).
QX_EXTERN_C AppRecord* ResolveQXAppRef(AppRef app);
// The record of a VI refnum; null (with a debug line) when the jar has none.
QX_EXTERN_C VIRefRecord* ResolveVIRef(VIRef ref);
QX_EXTERN_C Bool32 IsAppRefnum(uInt32 value);
QX_EXTERN_C Bool32 IsVIRefnum(uInt32 value);
// A new cookie of the VI jar naming the record; 0 when memory is short.
VIRef NewVIRefCookie(VIRefRecord* record);
// Disposes the cookie: 0, or 1 when the jar has none of that value.
MgErr DisposeVIRefCookie(VIRef ref);
// A new cookie of the application jar naming a (remote) record, 0 when
// memory is short; its disposal.
AppRef NewAppRefCookie(AppRecord* record);
MgErr DisposeAppRefCookie(AppRef ref);
// Every live VI refnum (the jar's list, copied); an empty list without jars.
int32 VIRefList(VIRef* out, int32 max);
// Runs the procedure under "gVIRefMutex" (or plainly before VIRefInit).
void WithVIRefMutex(void (*proc)(void* context), void* context);
// The record of a VI refnum for a procedure WithVIRefMutex runs: null,
// without a debug line, when the jar has none.
VIRefRecord* ResolveVIRefHeld(VIRef ref);
// The same for the native calls' hot paths, without a procedure to call:
// takes "gVIRefMutex" and answers the record of the refnum (null, without a
// debug line, when the jar has none); the caller gives the mutex up with
// VIRefUnlock whatever the answer.
VIRefRecord* VIRefLockResolve(VIRef ref);
// "gVIRefMutex": held over every use of a VI refnum's record and of the jar;
// null before VIRefInit and after VIRefExit.
extern ThMutex gVIRefMutex;
inline void VIRefUnlock() { ThMutexUnlock(gVIRefMutex); }
// The native calls in progress on a record: those begun less those
// finished.  "gVIRefMutex" is held (no call can begin meanwhile).
inline int32 VIRefNativeCallsHeld(const VIRefRecord* r) {
  return r->nativeCalls - int32(__atomic_load_n(&r->nativeDone, __ATOMIC_ACQUIRE) & ~kVIRefDoneReleaseBit);
}
// Counts up, under "gVIRefMutex", whenever a release is asked of any VI
// refnum, a VI refnum's cookie goes, or the jars go: a native call trusts a
// record a thread remembers only while this has not moved.
extern uInt32 gVIRefReleaseEpoch;
// The end of shut-down: references left are released, then the jars, the
// mutex and the initialised flag go, as before VIRefInit.
QX_EXTERN_C void VIRefExit();

// 1 when unresolved; else entry 8 of the record.
QX_EXTERN_C MgErr QXAppRefRelease(AppRef app);
// Opens a VI reference: 1 for an empty name, 1025 for an unknown
// application, else entry 0 (1) of the record.  out is the new reference
// (0 on failure); text receives an error text (cleared first); an operation
// that completes later answers 55 and its record in async.
MgErr AppOpenVIRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
MgErr AppOpenVIRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
// Releases the reference: 1026 when unresolved or already releasing; 0 and
// the release left to the end of the last native call while calls run;
// else entry 2's answer.
QX_EXTERN_C MgErr VIRefRelease(VIRef ref);
// One VI property (a one-entry vector through entry 4): the vector's refusal
// or the entry's error.
MgErr VIRefSetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text,
                         AsyncCompletion completion, AsyncRef* async);
MgErr VIRefGetAttributes(VIRef ref, int32 selector, void* value, int32 options, PStr text,
                         AsyncCompletion completion, AsyncRef* async);
// A VI attribute vector through entry 4: the first failing entry's code in
// error, its 1-based position in index (count + 1 when none failed).  After
// a failure the values fetched from the failing entry on are freed and
// their handle words cleared.
MgErr VIRefAttrVector(VIRef ref, int32 count, AttrEntry* vector, int32 options, MgErr* error, int32* index,
                      PStr text, AsyncCompletion completion, AsyncRef* async);
// The same for application properties, through entry 5.
MgErr AppSetAttribute(AppRef app, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                      AsyncRef* async);
MgErr AppGetAttribute(AppRef app, int32 selector, void* value, int32 options, PStr text, AsyncCompletion completion,
                      AsyncRef* async);
MgErr AppAttrVector(AppRef app, int32 count, AttrEntry* vector, int32 options, MgErr* error, int32* index,
                    PStr text, AsyncCompletion completion, AsyncRef* async);
// A VI method (entry 6) and an application method (entry 9); parameter 0 is
// the return value.
MgErr VIRefDoMethod(VIRef ref, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                    AsyncCompletion completion, AsyncRef* async);
MgErr AppDoMethod(AppRef app, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                  AsyncCompletion completion, AsyncRef* async);
// Kills an operation that completes later through entry 7 of its own
// record: 1 for an address that is no live record of ours.
QX_EXTERN_C MgErr KillQXObjAsyncRef(AsyncRef async);

// The three server switches (start-up reads them from the configuration).
Bool32 ServerVICallsAllowed();
Bool32 ServerVIOpsAllowed();
Bool32 ServerAppOpsAllowed();
