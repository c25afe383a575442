// Pieces of the byte-stream read that the datalog functions share: arrays of
// one dimension in the data zone and the one-piece read of fixed-size
// elements.
#pragma once
#include "engine/datatype.h"
#include "mgsource/filemgr.h"

// The address of element i of a one-dimensional array handle.
uChar* FileArrayElement(UHandle a, const TypeDescriptor* elt, int32 i);
// Gives the array room for n elements and makes n its count.
MgErr FileArrayResize(const TypeDescriptor* elt, UHandle* a, int32 n);
// count elements of the flat size esize (above 0) from the file's position
// into the array, read in one piece: the count is cut to what the rest of
// the file holds when the bytes pass 31 bits, or 1 MB and the rest; a cut
// count or a short read gives 4 with the elements read.
MgErr FileReadFixedArray(FileRef f, const TypeDescriptor* elt, int32 esize, int32 count, UHandle* out,
                         int32 options);
