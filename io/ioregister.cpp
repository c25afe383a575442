#include "io/ioregister.h"

#include "engine/exec/rttable.h"
#include "io/device.h"
#include "io/unitaccess.h"

MgErr QXRTRegisterIO() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(1090, GetCDReg),
      QX_RT_ENTRY(1598, AllocStdUnitAccessRec),
      QX_RT_ENTRY(1599, DisposeUnitAccessRec),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
