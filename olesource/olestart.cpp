// The automation client's and the variant type's part of the start-up.
#include "olesource/olestart.h"

#include "engine/exec/rttable.h"
#include "engine/omid.h"
#include "engine/stdize.h"
#include "olesource/oleautomgr.h"
#include "olesource/olevar.h"

void OleInstallEngineHooks() {
  OleInstallVariantProcs();
  SetAutoRefStandardize(&OleAutoRefStandardize);
  SetOMIdAutoCmpProc(&AutoRefOMIdCompare);
}

MgErr QXRTRegisterOle() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(1604, ConvertToOLEVariant),
      QX_RT_ENTRY(1605, ConvertToQXData),
      QX_RT_ENTRY(1606, SetOLEVariantErrorIOClust),
      QX_RT_ENTRY(1607, CopyOleVariant),
      QX_RT_ENTRY(1608, SetUpOLEVariantCleanUp),
      QX_RT_ENTRY(1620, AutoOpenRefnum),
      QX_RT_ENTRY(1621, AutoCloseRefnumCleanup),
      QX_RT_ENTRY(1622, AutoInvokeMethod),
      QX_RT_ENTRY(1623, AutoPropertyWrite),
      QX_RT_ENTRY(1624, AutoPropertyRead),
      QX_RT_ENTRY(1625, NewArgVariant),
      QX_RT_ENTRY(1633, FreeArgVariant),
      QX_RT_ENTRY(1699, ProcessEmptyOptVariantParam),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
