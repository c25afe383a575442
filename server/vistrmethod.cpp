#include "server/vistrmethod.h"

namespace {
ImportVIStringsProc gImport = nullptr;
}  // namespace

void SetImportVIStringsProc(ImportVIStringsProc proc) { gImport = proc; }
ImportVIStringsProc ImportVIStringsProcInUse() { return gImport; }

MgErr VIMethodImportStrings(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile) {
  return gImport ? gImport(vi, stringFile, showAlerts, logFile) : kArgErr;
}
