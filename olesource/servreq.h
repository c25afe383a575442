// Automation requests: every automation operation on applications and VIs
// is a request that VIServRequestDispatch carries out on the user-interface
// thread, called directly or as the handler of user event 23 (posted by a
// VI object's thread, which waits on the request's completion event).  The
// dispatcher translates between automation variants and typed data by the
// member tables, and maps VI-server errors to automation codes and texts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mgsource/extcode.h"
#include "platform/qx_comvar.h"
#include "platform/qx_event.h"

// The operations and their argument counts.
enum : int32 {
  kServReqAppGet = 0,       // 4: app reference, selector, data, error text (Str255)
  kServReqAppSet = 1,       // 4: the same
  kServReqRelease = 2,      // 1: VI reference
  kServReqOpenByName = 3,   // 5: app reference, VI name (PStr), password (PStr or null), out VI reference, error text
  kServReqOpenByPath = 4,   // 5: app reference, VI path, password (PStr or null), out VI reference, error text
  kServReqVIGet = 5,        // 4: VI reference, selector, data, error text
  kServReqVISet = 6,        // 4: the same
  kServReqCallInfo = 7,     // 2: VI reference, out call information
  kServReqRun = 8,          // 2: VI reference, run record
  kServReqCall = 9,         // 2: VI reference, call record
  kServReqInvoke = 10,      // 7: class, reference, dispatch id, flags, arguments, result variant, error text slot
  kServReqGetControl = 11,  // 4: VI reference, control name (wide string), variant, error text slot
  kServReqSetControl = 12,  // 4: the same
  kServReqOpCount = 13,
};

// A request: fields in this order.  The outcome of ops 0 to 7 is the
// status (a VI-server error); ops 8 to 12 put theirs in the result (an
// HRESULT or a mapped code) and may set the status too.
struct VIServRequest {
  int32 op;
  PlatEvent* completion;  // set when the request is done (null: none)
  int32 argCount;
  uintptr_t* args;        // 32-bit words
  int32 status;
  int32 result;
};
static_assert(sizeof(void*) != 4 || (sizeof(VIServRequest) == 24 && offsetof(VIServRequest, status) == 16),
              "request: six words");

// The automation codes of the server's own failures (texts: items 1 to 15
// of list 18300) and the offset of mapped VI-server errors.
enum : int32 {
  kOleErrNamesType = 5001,
  kOleErrValuesType = 5002,
  kOleErrNoNames = 5003,
  kOleErrCountMismatch = 5004,
  kOleErrParamNotFound = 5005,
  kOleErrParamRequired = 5006,
  kOleErrParamType = 5007,
  kOleErrTerminated = 5010,
  kOleErrUnknownClass = 5011,
  kOleErrUnknownMethod = 5012,
  kOleErrUnknownProperty = 5013,
  kOleErrParamCount = 5014,
  kOleErrShuttingDown = 5015,
  kOleErrMapOffset = 5500,
};
constexpr int32 kOleServerTextsList = 18300;
// Item 8: the prefix of every message; item 9: the unknown error's text.
enum : int32 { kOleTextPrefix = 8, kOleTextUnknown = 9 };

// The call information of op 7: the count of the table's slots (the VI's
// connector-pane terminals) and the table, filled with where each
// terminal's value lies for the call.
struct CallTermSlot;
struct VIServCallInfo {
  int32 count;
  CallTermSlot* slots;
};

// The run record of op 8.  The waiter makes the event when it waits; it is
// set when the run has ended, or at once when the run could not start or
// the request failed, with the status and text filled.
struct VIServRunRecord {
  PlatEvent* done;
  int32 wait;
  int32 status;
  PlatBstr errorText;
};
// The call record of op 9, packed.  The event is set when the call has
// ended on every path: finished, reset or killed (status 1039), stopped by
// the server's stop (5010) or the server shutting down (5015).
struct VIServCallParam {
  int32 terminal;  // connector-pane terminal
  int32 offset;    // of the terminal's type inside the connector-pane type
  int32 output;    // the terminal's flag 0x100
};
#pragma pack(push, 1)
struct VIServCallRecord {
  PlatEvent* done;
  int32 paramCount;
  VIServCallParam* params;
  uInt16 namesVt;
  PlatSafeArray* names;
  PlatSafeArray* values;
  int32 status;
  PlatBstr errorText;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(VIServCallRecord) == 30, "call record: packed");

// Carries out the request: with the automation server disabled every op
// but 2 gets status 1032; while it shuts down every op gets 5015; a bad op
// or argument count is a debug assertion and status 1.  The completion
// event is set on every path.
QX_EXTERN_C void VIServRequestDispatch(VIServRequest* request);

// A VI-server error as an automation code: 0 for 0, a negative code (an
// HRESULT) unchanged, codes below 5001 plus 5500, others unchanged.  With a
// slot and a positive result the message (the given text when not empty,
// else the code's text: list 10001 below 90, list 10002 for 1000-1044, item
// 9 of list 18300 for other codes below 5001, item code - 5000 from 5001)
// replaces the slot's string, after item 8 of list 18300.
int32 OleMapVIServError(int32 code, ConstPStr text, PlatBstr* slot);

// What a server stop does to the runs and calls that wait: each is released
// with 5015 and its text.
void VIServReleaseWaiters();
// Runs and calls that wait for their end (for tests).
int32 VIServWaiterCount();
