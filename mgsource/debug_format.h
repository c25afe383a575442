// The formatter of debug lines and failure reports: the C conversions over
// vsnprintf, with "%p" taking a Pascal string.  Debug output formats only
// through these two calls, which the printf dialect's SPrintfv and PPrintf
// replace once it exists.
#pragma once
#include <cstdarg>

#include "extcode.h"

// Formats into buf, at most capacity - 1 characters and a NUL; returns the
// number of characters written.
int32 DBFormatv(char* buf, int32 capacity, const char* fmt, va_list ap);
// Formats into a Pascal string of at most 255 characters; returns the length.
int32 DBPFormat(PStr dst, const char* fmt, ...);
