// The shell's folders by role; here the temporary folder and the names of
// temporary files made in it.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// The temporary folder: the host's temporary folder until the shell's
// start-up sets another (a copy is kept; null goes back to the host's).
void SetTempDirPath(Path folder);
// Copies the temporary folder into out (an existing path): 0, or the error.
QX_EXTERN_C MgErr GetTempDirPath(Path out);
// A path in the temporary folder whose name is format with the process
// number modulo 10000 in place of its "%ld" (or "%d"): path is reused when
// given, a new path is made otherwise.  Null on failure (a path made here is
// disposed).
QX_EXTERN_C Path MakeTempFilePath(const char* format, Path path);
