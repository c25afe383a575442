// String handles of diagrams as the run-time functions read and write them.
#pragma once
#include "mgsource/extcode.h"

// The bytes of a string handle handed in by a diagram.  Null is the empty
// string.  A handle that is not a live data-zone handle, or whose count is
// negative or runs past its block, is refused (false).
bool RTReadString(LStrHandle h, const uChar** bytes, int32* count);

// Sets *dst to the n bytes, creating the data-zone handle when it is null and
// sizing it to exactly 4 + n.  The bytes may lie inside *dst's own block.
// Returns 0, 2 when a handle cannot be made, or the resize error (3 for a
// handle that is not a live data-zone handle).
MgErr RTSetString(LStrHandle* dst, const uChar* bytes, int32 n);

// True when any of the n bytes at p lies inside the block of the handle.
bool RTBytesInHandle(const void* h, const uChar* p, int32 n);
