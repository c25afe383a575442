// The instrument I/O library's routines in the run-time function table.
#pragma once
#include "mgsource/extcode.h"

// Registers them; called at start-up with the other libraries'
// registrations, before registration closes.
MgErr QXRTRegisterIO();
