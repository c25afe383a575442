// Calls through a strictly typed VI reference and the reference nodes of
// diagrams.
//
// A native call runs in the caller's execution thread: CBRPrepareCall
// checks the reference and the caller's chain and fills the callee's
// parameter table, the caller enters the callee on the reference's call
// data space with that table in the data space's call word, and
// VIRefFinishNativeCall ends the call.  A release asked for meanwhile waits
// for the last call and is finished on the user-interface thread (user
// event 22, VIRefFinishRelease).
//
// The five reference nodes (open a VI reference, property node, close,
// invoke node, open an application reference) run as posted requests on the
// user-interface thread: done at once, or pending until their operation's
// completion writes the results and fires the node's occurrence.  A node
// aborted while pending kills its operation first, so that no completion
// reaches it.
#pragma once
#include <cstddef>

#include "engine/exec/callchain.h"
#include "mgsource/occur.h"
#include "server/appserve.h"
#include "server/protocol.h"

// ---- Native calls ---------------------------------------------------------------------------
// The connector flag of a terminal that takes the slot of another caller
// terminal, whose index is the flags' low byte.
constexpr uInt16 kConnTermFromCaller = 0x400;

// Prepares a native call: 0 with the callee's data space in *calleeDS and
// the callee's table filled from the caller's, else the error, also written
// into the caller table's error cluster.  1 for a caller table without its
// tag or a terminal taking a caller slot that is not there; 1026 for a
// reference unknown, releasing or without a call data space; 1027 unless
// reserved for calls; 1042 when the call would re-enter a VI of the caller's
// chain.  The callee's table must have room for a slot per terminal of the
// VI's connector pane.
QX_EXTERN_C MgErr CBRPrepareCall(VIRef ref, DataSpace* calleeDS, DataSpace callerDS, ParamTable* calleeTable,
                                 ParamTable* callerTable);
// Counts a native call of the reference, under "gVIRefMutex": 1026, 1027 as
// above; the VI and the call data space out.
MgErr VIRefBeginNativeCall(VIRef ref, UHandle* vi, DataSpace* callDS);
// Ends a native call: the last call of a releasing reference posts user
// event 22.  An unknown reference is a broken invariant (1).
QX_EXTERN_C MgErr VIRefFinishNativeCall(VIRef ref);
// User event 22 (user-interface thread): the deferred release, when the
// reference is still releasing and no native call is left.
void VIRefFinishRelease(int32 ref);
// The native calls of the reference in progress (-1 for an unknown one).
int32 VIRefNativeCalls(VIRef ref);

// ---- Reference nodes ------------------------------------------------------------------------
// The node kinds of the posted requests.
enum : int32 {
  kCBROpenVIRef = 3,
  kCBRPropertyNode = 4,
  kCBRCloseRef = 5,
  kCBRInvokeNode = 6,
  kCBROpenAppRef = 7,
};
// Node options: the low two bits go to the open's options.
constexpr int32 kCBRNodeOptionMask = 3;
// The open's options: a native, trusted local caller.
constexpr int32 kCBROpenOptions = kVIRefOptNative | kVIRefOptTrusted;

// A node's inputs, in the caller's data space.  The validity handle is a
// data-zone handle of one word, non-zero while the node waits: a completion
// writes nothing once the word is 0 or the handle is gone.
struct CBRNodeIn {
  Occurrence occurrence;           // fired once by a pending completion
  UHandle valid;                   // the node's validity handle
  DataSpace caller;                // the calling VI's data space
  AppRef app;                      // open, property and invoke: the application
  VIRef ref;                       // property, invoke and close: the VI reference (0 for the application's)
  ConstPStr name;                  // open: the VI's name (empty: by path); open application: the machine
  Path path;                       // open: the VI's path
  const TypeDescriptor* connType;  // open: the connector-pane type, or none
  ConstPStr password;              // open
  int32 options;                   // open: the node's options
  int32 port;                      // open application
  int32 selector;                  // invoke: the method
  int32 count;                     // property: entries; invoke: parameters
  AttrEntry* entries;
};
static_assert(sizeof(void*) != 4 || (sizeof(CBRNodeIn) == 56 && offsetof(CBRNodeIn, valid) == 4 &&
                                     offsetof(CBRNodeIn, caller) == 8 && offsetof(CBRNodeIn, app) == 12 &&
                                     offsetof(CBRNodeIn, ref) == 16 && offsetof(CBRNodeIn, name) == 20 &&
                                     offsetof(CBRNodeIn, path) == 24 && offsetof(CBRNodeIn, connType) == 28 &&
                                     offsetof(CBRNodeIn, password) == 32 && offsetof(CBRNodeIn, options) == 36 &&
                                     offsetof(CBRNodeIn, port) == 40 && offsetof(CBRNodeIn, selector) == 44 &&
                                     offsetof(CBRNodeIn, count) == 48 && offsetof(CBRNodeIn, entries) == 52),
              "reference node inputs: fields in order");
// A node's outputs.
struct CBRNodeOut {
  MgErr error;
  VIRef ref;       // open: the new reference
  AppRef app;      // open application: the new application reference
  int32 index;     // property: the failing entry (count + 1 when none)
  AsyncRef async;  // the pending operation, none once completed or aborted
};
static_assert(sizeof(void*) != 4 || (sizeof(CBRNodeOut) == 20 && offsetof(CBRNodeOut, async) == 16),
              "reference node outputs: fields in order");

// One step of a reference node (a posted request of kinds 3 to 7, on the
// user-interface thread): 0 done, 1 pending, or 1 for a bad request.
int32 CallByRefStep(int32 kind, void* data, void* result);
// The node is aborted: its pending operation is killed before anything else,
// its validity word cleared.  0, or the kill's error.
MgErr CBRAbortNode(CBRNodeIn* in, CBRNodeOut* out);
// The pending nodes (for shut-down and tests).
int32 CBRPendingNodes();
