// The run-time function table.
//
// Compiled VI code and external code reach the run-time routines through
// QXRTTable, by index: the index of a routine is part of the contract with
// compiled code, so a routine keeps its index and an index this system does
// not serve holds the missing-routine stub.  engine/exec/rttable.list says
// what stands at each index.
//
// The table starts with the stub at every index.  At start-up, before the
// first VI loads, each library registers its routines with one call of
// QXRTRegister (the engine for itself, the managers and the platform layer,
// which lie below it; each higher library for its own), and the start-up code
// then closes registration.  From then on the entries never change.
// Registration runs on the start-up thread only.
#pragma once
#include "mgsource/extcode.h"

enum : int32 { kQXRTEntries = 1707 };

// An entry: the address of a routine.  Each routine keeps the calling form
// its own subsystem gives it (cdecl for most, the x87 register form for the
// extended-precision routines); the table holds the routines themselves.
typedef void (*QXRTRoutine)();

// kQXRTEntries addresses followed by a 0 word, exported as data.
QX_EXTERN_C QXRTRoutine QXRTTable[kQXRTEntries + 1];

// The missing-routine stub: writes "Call to non existant Quenlix routine!!!"
// to the debug output and reports an assertion failure.  It takes no
// arguments and returns, so a cdecl caller's stack stays balanced.
QX_EXTERN_C void MissingRoutine();

// One routine to register: the index, the name the table list gives that
// index, and the routine.
struct QXRTEntry {
  int32 index;
  const char* name;
  QXRTRoutine routine;
};
#define QX_RT_ENTRY(index, routine) \
  QXRTEntry { (index), #routine, reinterpret_cast<QXRTRoutine>(&(routine)) }

// Registers a library's routines.  An entry is refused, reported with
// DBAssert and skipped when its index is outside the table or holds the stub
// there, its name is not the one the list gives that index, its routine is
// null, the index was registered already, the same name was registered with
// another routine at another index, or registration is closed.  kArgErr when
// anything was refused, else 0.
MgErr QXRTRegister(const QXRTEntry* entries, int32 count);
// Closes registration for good.
void QXRTCloseRegistration();
Bool32 QXRTRegistrationClosed();

// The engine's one registration call: its own routines and those of the
// managers and the platform layer.  It also hands the table's address to the
// loader of external code.
MgErr QXRTRegisterEngine();
// The list that call registers, for the table's own checks.
const QXRTEntry* QXRTEngineEntries(int32* count);

// What the list gives an index: the exported name and the other names it is
// exported under (blank-separated, "" when none); both null for the stub and
// for an index kept for a routine not named yet.  Null outside the table.
const char* QXRTEntryName(int32 index);
const char* QXRTEntryOtherNames(int32 index);
// The library an index is kept for ("server"), or null.
const char* QXRTEntryKeptFor(int32 index);
