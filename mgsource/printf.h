// The system's printf dialect.
//
// One re-entrant engine, SPrintfv, formats every message, debug line, title
// and number display.  Beyond the C conversions it has Pascal strings ("%p"),
// counted strings ("%P"), long-string handles ("%H"), paths ("%z"), points
// ("%Q", "%q"), rectangles ("%R", "%r"), four-character codes ("%4c"),
// numbers of any NumType passed by address ("{iB}" ... "{cX}", "{*}"),
// positional arguments "n$" (1 to 10), backslash codes inside the format and
// a decimal separator that the format switches ("%,;" ... "%;").
#pragma once
#include <cstdarg>

#include "extcode.h"
#include "filemgr.h"
#include "path.h"

// Formats into out (none: count only), writing at most capacity bytes and no
// NUL.  The format is fmtLen bytes and need not be NUL-terminated.  Returns
// the number of bytes written (the capacity when it was reached), or with no
// output the number the format would produce.  Arguments are 32-bit words as
// a variadic call lays them down; a double takes two.
QX_EXTERN_C int32 SPrintfv(char* out, int32 capacity, const char* fmt, int32 fmtLen, va_list args);

// C string into a buffer of no stated size, NUL appended; no buffer: count.
QX_EXTERN_C int32 SPrintf(char* out, const char* fmt, ...);
// The same with a Pascal-string format.
QX_EXTERN_C int32 SPrintfp(char* out, ConstPStr fmt, ...);
// Into a Pascal string of at most 255 characters; returns the length byte.
QX_EXTERN_C int32 PPrintf(PStr out, const char* fmt, ...);
QX_EXTERN_C int32 PPrintfp(PStr out, ConstPStr fmt, ...);
// Replaces the contents of a long-string handle of the data zone; the
// handle is resized to the text's length + 4.  Returns the resize error and
// leaves the handle unchanged on failure.
QX_EXTERN_C MgErr LStrPrintf(LStrHandle h, const char* fmt, ...);
// Appends to a long-string handle of either zone, resized in its own zone.
QX_EXTERN_C MgErr LStrAppendPrintf(LStrHandle h, const char* fmt, ...);
// Writes a C string into the given handle of the application zone (resized)
// or a new one; returns the handle, the given one unchanged when it cannot
// grow, none when a new one cannot be made.
QX_EXTERN_C UHandle HPrintf(UHandle h, const char* fmt, ...);
// Writes the text to an open file; returns its length, -1 when it could not
// all be written (nothing allocated or a short write).
QX_EXTERN_C int32 FPrintf(FileRef ref, const char* fmt, ...);

// The character that the backslash code at *cursor stands for; advances the
// cursor past the code.  The text ends at end.
QX_EXTERN_C int32 ScanForBackslash(const uChar** cursor, const uChar* end);
// Writes the backslash form of c at *cursor (when cursor and *cursor are
// given) and advances it; returns the number of characters (1, 2 or 3).
QX_EXTERN_C int32 ExpandToBackslash(uChar** cursor, int32 c);
// True when the number at value fits the fixed form of "%f" under a width
// (0: no width): the count of its integer digits (and sign) is at most
// width - 1, or 18 without a width.
QX_EXTERN_C Bool32 FFmtOK(int32 width, int32 type, const void* value);

// The text that "%z" writes for a path longer than 252 characters: "<path
// too long>" until the file manager's strings are loaded.
void SPrintfSetPathTooLongText(ConstPStr text);

// Test seams: the path-to-text and file-write routines that "%z" and FPrintf
// call (null restores FPathToText and FMWrite).
typedef MgErr (*SPrintfPathToTextProc)(Path p, LStrPtr buffer);
typedef MgErr (*SPrintfWriteProc)(FileRef ref, int32 count, int32* actual, const void* buffer);
void SPrintfSetFileProcs(SPrintfPathToTextProc pathToText, SPrintfWriteProc write);
