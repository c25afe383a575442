// The VI method "Import VI Strings" of VI references: it hands the VI, the
// string file, the show-alerts flag and the log file to the shell's import
// and answers its result.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

QX_EXTERN_C MgErr VIMethodImportStrings(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile);
// The shell's import, filled at start-up; without it the method answers 1.
typedef MgErr (*ImportVIStringsProc)(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile);
void SetImportVIStringsProc(ImportVIStringsProc proc);
ImportVIStringsProc ImportVIStringsProcInUse();
