// The run-time resource file: the executable opened read-only as a resource
// file (the application file appended to it), which holds the run-time's
// texts and images and, in a built application, the application's own VI
// library.  The shell opens it at start-up and hands it to the engine here;
// until then it is 0 and lookups in it fail with 13.
#pragma once
#include "mgsource/rsrc.h"

void SetRunTimeRsrcFile(RsrcFileRef file);
RsrcFileRef RunTimeRsrcFile();
