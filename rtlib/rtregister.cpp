// The run-time library's start-up: its tables built and its routines
// registered in the run-time function table.
#include "rtlib/rtregister.h"

#include "rtlib/strformat.h"
#include "rtlib/units.h"

const QXRTEntry* QXRTRTLibEntries(int32* count) {
  static const QXRTEntry entries[] = {
      QX_RT_ENTRY(795, FormatConcat),
      QX_RT_ENTRY(1513, DoPrintfNode),
  };
  if (count) *count = int32(sizeof entries / sizeof entries[0]);
  return entries;
}

MgErr QXRTRegisterRTLib() {
  // The units are needed before any format or label work.
  UnitsInit();
  int32 count = 0;
  const QXRTEntry* entries = QXRTRTLibEntries(&count);
  return QXRTRegister(entries, count);
}
