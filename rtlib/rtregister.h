// The run-time library's routines in the run-time function table.
#pragma once
#include "engine/exec/rttable.h"

// The library's one registration call, made at start-up after the engine's
// and before registration closes.
MgErr QXRTRegisterRTLib();
// The list that call registers, for the table's own checks.
const QXRTEntry* QXRTRTLibEntries(int32* count);
