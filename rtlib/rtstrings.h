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

// Sets *dst to n bytes whose contents the caller then writes at *text:
// created when null, sized to exactly 4 + n, the count set.  Returns 0, 2
// when n is negative, too large or memory is short, or the resize error
// (3 for a handle that is not a live data-zone handle); *dst is then as it
// was.
MgErr RTSizeString(LStrHandle* dst, int32 n, uChar** text);

// Results that are joined from up to two pieces of bytes each.
struct RTPiece {
  const uChar* bytes;  // null or a count of 0 or less: nothing
  int32 n;
};
struct RTStringOut {
  LStrHandle* slot;  // null: the result is not wanted
  RTPiece pieces[2];
};
// Sets every wanted result to its pieces joined, all or none: when a handle
// cannot be made or grown every output keeps its handle and contents.  The
// pieces may lie inside any of the outputs' blocks.  Returns 0, 2 when memory
// is short or a result would pass 2^31 bytes, 3 for an output that is not a
// live data-zone handle, or 1 when two outputs hold the same handle.
MgErr RTSetStrings(RTStringOut* outs, int32 count);
// One result of one or two pieces.
MgErr RTSetJoined(LStrHandle* dst, const uChar* a, int32 na, const uChar* b, int32 nb);

// A one-dimensional array of string handles as diagrams hand it over (an
// int32 count, then the handles).  Null is the empty array.  False for a
// handle that is not a live data-zone handle or a count that is negative or
// runs past its block; the elements are read with RTReadString.
struct LStrArray;
bool RTReadStringArray(LStrArray** h, int32* count);
