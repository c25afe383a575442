// The shared start of the fuzz targets: the memory manager running, alerts
// answered with their default button (or by the given procedure), debug output
// dropped, and failure reports that let the run go on.
#pragma once
#include <cstdint>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

inline int32_t FuzzQuietAlert(const char*, const char*, int32_t buttons, int32_t) {
  return PlatAlertDefaultAnswer(buttons);
}
inline void FuzzDropDebug(const char*) {}

inline bool FuzzStartManagers(PlatAlertProc alert = FuzzQuietAlert) {
  PlatSetAlertProc(alert);
  PlatSetDebugSink(FuzzDropDebug);
  DBSetContinueAfterFailure(1);
  return MemInit() == kNoErr;
}
