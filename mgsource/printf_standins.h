// Stand-ins for the path and file routines that the printf dialect calls,
// until the path and file managers exist.  Delete this header and
// printf_standins.cpp when they land, and include their headers in printf.h.
#pragma once
#include "extcode.h"

// A path: a handle holding its type, its component count and the components.
struct PathData;
typedef PathData** Path;
// An open file of the file manager.
struct FileRefRec;
typedef FileRefRec* FileRef;

// The text form of a path: buffer->cnt negative asks only for the length;
// otherwise the text is written to buffer->str and its length stored.
QX_EXTERN_C MgErr FPathToText(Path p, LStrPtr buffer);
// Writes count bytes; *actual (when given) receives the number written.
QX_EXTERN_C MgErr FMWrite(FileRef ref, int32 count, int32* actual, const void* buffer);
