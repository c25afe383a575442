// Attributes of an instrument driver session through a driver library the
// caller names.  The driver's entries are loaded on the first call that
// needs one and kept in the session record; the VISA library is not used.
#pragma once
#include "io/visamgr.h"

// driver: four NUL-ended strings one behind the other: one not used here,
// the library's file name, its get entry's name, its set entry's name.
// channel: a pointer to a string handle, or null for no channel.  value
// points to the caller's value of the type code (for 0x30 a string handle).
QX_EXTERN_C int32 IVISetAttribute(Cookie session, const LStrHandle* channel, const char* driver, uInt32 attribute,
                                  const void* value, int32 type);
QX_EXTERN_C int32 IVIGetAttribute(Cookie session, const LStrHandle* channel, const char* driver, uInt32 attribute,
                                  void* value, int32 type);
