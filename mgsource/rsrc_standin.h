// Stand-ins for the two resource-file calls the file manager makes, until the
// resource manager exists: no file has a resource header (13).  Tests install
// procedures that answer in their place.  Delete this file, and its .cpp,
// when the resource manager provides these functions.
#pragma once
#include "path.h"

// 0 and the file's type and creator when its resource header is valid, 13
// when there is none.  Both outputs are optional and cleared first.
QX_EXTERN_C MgErr RIsResFile(Path path, uInt32* fileType, uInt32* creator);
// Stores a new type and creator in the file's resource header; 13 when the
// file has none.
QX_EXTERN_C MgErr RSetFileTypeCreator(Path path, uInt32 fileType, uInt32 creator);

typedef MgErr (*RIsResFileProc)(Path path, uInt32* fileType, uInt32* creator);
typedef MgErr (*RSetFileTypeCreatorProc)(Path path, uInt32 fileType, uInt32 creator);
// Test hooks: procedures that answer in place of the stand-ins (null restores).
void RStandinSetProcs(RIsResFileProc isResFile, RSetFileTypeCreatorProc setTypeCreator);
