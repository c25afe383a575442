// The local application's references ("ThisApp"): opening a reference on a
// loaded VI or a VI file, the VI's list of the references open on it, the
// reservation of a reference for calls, the release, the kill of a call,
// and the VI properties of table entry 4 (server/viprops.cpp).
// User-interface thread, but for the native call count and the reservation
// drop, which "gVIRefMutex" guards.
#pragma once
#include <vector>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "mgsource/objheap.h"
#include "server/appserve.h"
#include "server/protocol.h"

// ---- The VI's references ---------------------------------------------------------------
// True when the VI's reference list is not empty; their number in count
// (which may be null).
QX_EXTERN_C Bool32 VIHasRefs(UHandle vi, int32* count);
// The references open on the VI, in the order they were opened.
std::vector<VIRef> VIRefsOf(UHandle vi);
// Releases every reference of the VI's list, last first, then frees the
// list ("DisposeVIRefList: \"%p\" non-empty viRefList??" when references
// stay, their release deferred).  Called when the VI is disposed.
QX_EXTERN_C void DisposeVIRefList(UHandle vi);
// Reference records and the VI's list of references, for the remote
// application's own references.
VIRefRecord* NewVIRefRecord();
void FreeVIRefRecord(VIRefRecord* record);
MgErr VIRefListAdd(UHandle vi, VIRef ref);
Bool32 VIRefListRemove(UHandle vi, VIRef ref);
// Releases every VI reference, then stops the TCP server.  At exit.
QX_EXTERN_C void VIRefReleaseAll();
// Frees the records of released references the calling thread keeps for
// its next opens (at the end of shut-down).
void DropSpareVIRefRecords();

// ---- Reservation -------------------------------------------------------------------------
// Moves the reference to the mode: the current one at once; mode 1 is 1027
// (no edit reservations in the run-time); mode 2 needs a standard VI (1035),
// no edit holder (1030), a VI that is not busy (1000), not bad (1003) and not
// running top-level unless reentrant (1000); 2 when its call resources
// cannot be made.  Dropping mode 2 is 1027 while native calls run and 1000
// while a non-native call runs.
MgErr SetReservation(VIRefRecord* ref, int32 mode);

// ---- The local application's table -------------------------------------------------------
// Entry 0: a loaded VI (1004 otherwise), an untrusted caller passing the
// exported-VI list (1032), then the common open: a VI of kind 2, 6 or 4
// (1035), a new reference on the VI's list (2, everything undone, when
// memory is short), with a connector-pane type a loose match (1031) and
// mode 2, else mode 0; a failure after creation releases the reference.
MgErr ThisApp_OpenByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
// Entry 1: the file name of the path (its error), the exported-VI list
// (1032), a VI of that name loaded or the file loaded (7 when no VI comes of
// it), then the common open; a VI loaded here whose open fails goes to the
// user-interface thread for disposal.
MgErr ThisApp_OpenByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
// Entry 2: the reservation dropped, the reference's operations killed, the
// refnum off the VI's list and its cookie gone, the VI's
// panel-loaded-by-references mark cleared when no reference of it loaded the
// panel any more, the record freed, and a VI nothing holds any more handed
// to the user-interface thread for disposal.
MgErr ThisApp_ReleaseRef(VIRefRecord* ref);
// Entry 7, by operation: a non-native call is reset, which completes it as
// reset (1 for a record not on the list or whose reference is gone, 1000
// once it has ended); a pending "Run VI" is aborted and forgotten; the
// completion of an open, a vector or a remote call is forgotten (0); any
// other operation is a broken invariant (42).
MgErr ThisApp_KillAsyncRef(AppRecord* app, AsyncRef async);
// Entry 4 (server/viprops.cpp): a VI attribute vector.  The result is 0
// unless sets of properties that need a reservation meet an unreserved
// reference (1044) or one reserved for calls (1000), when nothing runs.
MgErr ThisApp_VIAttrVector(VIRefRecord* ref, int32 count, AttrEntry* vector, int32 options, MgErr* error,
                           int32* index, PStr text, AsyncCompletion completion, AsyncRef* async);
// One VI property of the reference: the table's outcome (1028 for a selector
// outside it, 1029 read-only, 1043 not in this run-time).  A get with a null
// value pointer does nothing.
MgErr ThisApp_GetAttribute(VIRefRecord* ref, int32 selector, void* value, PStr text);
MgErr ThisApp_SetAttribute(VIRefRecord* ref, int32 selector, void* value, PStr text);

// While a vector or a method runs through a reference: the VI's current
// reference is the reference (a stale one is reported with the runner's
// name: "YIKES!!! <who>: already has curRef set to ..."), and unless the
// reference was opened with kVIRefOptKeepOperatedMark the VI is marked
// operated through a reference, the mark cleared after when it was clear.
class OperatedByRef {
 public:
  OperatedByRef(VIRefRecord* ref, const char* who);
  ~OperatedByRef();
  OperatedByRef(const OperatedByRef&) = delete;
  OperatedByRef& operator=(const OperatedByRef&) = delete;

 private:
  UHandle vi_;
  uInt32 former_ = 0;
  bool clearMark_ = false;
};
// A member that needs the front panel: the panel is loaded when absent (its
// error), which marks the VI's panel loaded by references and the reference
// as the one that loaded it.
MgErr VIRefLoadPanel(VIRefRecord* ref);

// Entry 6 (server/vimethods.cpp): a VI method.  An unknown selector is
// 1036; a control VI needs the method's flag 0x40 and a global VI its flag
// 0x80 (1035); more parameters than the method has is 1.  "Run VI" answers
// 55 when it completes later through the completion and *async.
MgErr ThisApp_VIDoMethod(VIRefRecord* ref, int32 method, int32 count, AttrEntry* params, int32 options, PStr text,
                         AsyncCompletion completion, AsyncRef* async);
// Kills a pending "Run VI": off its list, both ends of the run forgotten,
// the record freed, then the VI aborted.  42 for any other record.
MgErr VIMethodKillRun(AsyncRef async);
// A set of a control's value keeps the value it replaced for the next set
// of a value of that type; this frees it (at the end of shut-down).
void DropKeptControlValue();
// Entry 5 (server/appprops.cpp): an application attribute vector.  The
// result is always 0; the first failing entry's code goes to *error and its
// 1-based position to *index (both 0 when none failed).  Entries without a
// value are skipped; an untrusted caller meets properties of flag 0x08 with
// 1032.
MgErr ThisApp_AppAttrVector(AppRecord* app, AppRef appRef, int32 count, AttrEntry* vector, int32 options,
                            MgErr* error, int32* index, PStr text, AsyncCompletion completion, AsyncRef* async);
// One application property: the table's outcome (1028 for a selector
// outside it and for a set of a read-only property, 1043 not in this
// run-time).  A get with a null value pointer does nothing.
MgErr AproGetAttribute(AppRecord* app, int32 selector, void* value, PStr text);
MgErr ThisApp_SetAttribute(AppRecord* app, int32 selector, void* value, PStr text);
// Entry 9 (server/appprops.cpp): an application method.  "Bring To Front"
// and "Convert Type and Data" are served, every other selector is 1036.
MgErr ThisApp_AppDoMethod(AppRecord* app, AppRef appRef, int32 method, int32 count, AttrEntry* params,
                          int32 options, PStr text, AsyncCompletion completion, AsyncRef* async);
// The name of the VI a menu launched, which "Application:Menu Launch VI"
// reads once (null clears it).
void SetMenuLaunchVIName(ConstPStr name);

// ---- Calls through a reference (the landed path of calling a VI by path) ----------------
// Runs the VI of a non-native reference reserved for calls as a top-level
// run; the completion gets the call's record when the run ends (done or
// reset).  1026 unknown or releasing, 1 for a native reference, 1027
// unreserved, 1000 while a call runs or the VI is not idle, else the run
// command's error.
MgErr VIRefStartCall(VIRef ref, AsyncCompletion completion, AsyncRef* out);
// The end of a call: off the local list, its completion told the state.
void VIRefNotifyCallDone(AsyncRef async, int32 state);
// The call table of a reference reserved for calls by a remote client:
// where each terminal's value lies for the call, none present yet.  1026
// unknown or releasing, 1 for a native reference or one of another
// application (or a table of another size), 1027 unreserved, 1000 while a
// call runs.
MgErr VIRefGetCallInfo(VIRef ref, CallTermSlot* table, int32 count);
// Where the value of a connector-pane terminal lies in the reference's call
// data space: the offset of the data-space entry named as the terminal, -1
// when none.
int32 VIRefTerminalOffset(VIRef ref, int32 terminal);
// The same for a VI: the offset in its data space of the entry named as
// connector-pane terminal `terminal` and of the same type; -1 when none, the
// terminal out of range, or the type map malformed.
int32 VITerminalOffset(UHandle vi, int32 terminal);

// Property 504 (the reservation mode), 546 (the call data space) and 547
// (the connector pane's descriptor) as the call path reads them.
enum : int32 { kVIRefReservationProp = 504, kVIRefCallDataProp = 546, kVIRefConnPaneProp = 547 };

// ---- What the VI properties ask of higher layers -----------------------------------------
// Filled at start-up; a null member does nothing.
struct VIPropPanelHooks {
  // Scrolls the panel's window by (dh, dv) pixels: the origin moves and the
  // panel is redrawn.
  void (*scrollPanelBy)(ObjHeap panel, int32 dh, int32 dv);
};
void SetVIPropPanelHooks(const VIPropPanelHooks& hooks);
const VIPropPanelHooks& VIPropPanel();

// Registers the run-time routines of the references at their indexes.
MgErr QXRTRegisterServer();
// Fills the engine's VI-server hooks and the refnum tests; called at start-up.
void ServerInstallEngineHooks();
// The refnum tests of the diagrams: automation refnums, application and VI
// references; part of the engine hooks.
void ServerInstallRefnumHooks();
