// Calling a VI by its path with named parameters, for external code: the VI
// is opened through a VI reference, its inputs are set by name, it runs
// while the caller waits in a nested main loop, and its outputs are copied
// back by name.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "shell/progmenu.h"  // kLeaveNestedLoopEvent

// One parameter as the caller passes it: the name, the value's descriptor
// and the value (for an output, where the result goes).
struct CallInstrParam {
  ConstPStr name;
  const TypeDescriptor* td;
  void* value;
};
// The table of one output: the caller's descriptor and location, the
// parameter's index and its data offset.
struct CallInstrOutput {
  const TypeDescriptor* td;
  void* value;
  int32 index;
  int32 offset;
};
static_assert(sizeof(void*) != 4 || sizeof(CallInstrOutput) == 16, "16 bytes per output");

// The completion record of a run started through a VI reference: mode 2
// finished, 3 being abandoned, 4 aborted; the context given to the start.
struct CallInstrCompletion {
  int32 mode;
  void* context;
  void* async;  // the call's asynchronous record, which mode 3 kills
};
enum : int32 { kCallDone = 2, kCallAbandoned = 3, kCallAborted = 4 };
enum : int32 { kCallAbortedErr = 1024 };
enum : int32 { kParamIndicatorFlag = 0x100 };
enum : int32 { kVIPropReservation = 504, kVIPropCallData = 546, kVIPropConnectorPane = 547 };
enum : int32 { kOpenRefOptions = 512 };

// What the call asks of the VI server (the references) and of the engine,
// filled at start-up.  Null members answer 53 (nothing opened, nothing run);
// a null finder or panel loader uses FindVIByName and LoadFPHeap.
struct CallInstrHooks {
  MgErr (*openByName)(ConstPStr name, int32 options, int32* ref);
  MgErr (*openByPath)(Path path, int32 options, int32* ref);
  MgErr (*release)(int32 ref);
  // 504 an int32; 546 the call's data space (a handle); 547 the connector
  // pane's function descriptor.
  MgErr (*getAttribute)(int32 ref, int32 property, void* value);
  // Where a terminal's value lies in the call's data space, -1 for nowhere;
  // null: the terminals lie from the handle's start as a cluster of them.
  int32 (*paramOffset)(int32 ref, int32 terminal);
  MgErr (*setAttribute)(int32 ref, int32 property, const void* value);
  MgErr (*startCall)(int32 ref, void (*done)(const CallInstrCompletion* record), void* context);
  void (*killAsync)(void* async);
  UHandle (*findVI)(ConstPStr name);
  MgErr (*loadPanel)(UHandle vi);
  // The VI's 16-bit panel flag word, null when it has none.
  uInt16* (*panelFlags)(UHandle vi);
};
void SetCallInstrHooks(const CallInstrHooks& hooks);
const CallInstrHooks& CallInstrHooksInUse();

// CallInstrumentByPath(path, set panel flag, inputs, outputs, then per
// parameter a name, a descriptor and a value pointer, inputs first).  0, 1
// for a parameter problem (unknown, an indicator given as input, or a
// descriptor that differs from the parameter's), 1024 for an aborted run, or
// the error met.  The VI reference is released on every path.
QX_EXTERN_C MgErr CallInstrumentByPath(Path path, int32 setPanelFlag, int32 nIn, int32 nOut, ...);
MgErr CallInstrumentWithParams(int32 ref, int32 nIn, int32 nOut, const CallInstrParam* params);
// The parameter of the name in the connector pane's descriptor: its index,
// and its data offset through offset; -1 when none has the name.
int32 FindParamByName(const TypeDescriptor* pane, ConstPStr name, int32* offset);
void CallInstrumentDone(const CallInstrCompletion* record);
