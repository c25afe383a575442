// Whole-array operations of compiled code: transpose, rotate, reverse,
// reshape and initialise, and the lock of handle data into plain pointers
// for external code.
//
// Elements are moved in the widest units their size allows: elements of 1,
// 2 and 4 bytes as one unit; other sizes in bytes when odd, in 2-byte units
// when even but no multiple of 4, else in 4-byte units.
//
// Sizes follow the array sizing rules (rtlib/arraysize.h): element bytes stay
// below 0x40000000, counts are taken under the 31-bit guard, and 2 stands for
// a refused size as for memory full.
#pragma once
#include "rtlib/arraysize.h"

// ---- Transpose, rotate, reverse ---------------------------------------------
// Transposes a 2-D array in place through the scratch handle (made, or
// resized when its element count differs, with the header {columns, rows});
// the scratch is copied back over the array and kept for the next call
// unless it held more than 16384 element bytes, when it is cut to 8 cleared
// bytes.  An array of fewer than 2 rows or columns only has its sizes
// swapped.  2, the array unchanged, when the scratch cannot be had; 1,
// reported, for a header that claims more than the handle holds.
QX_EXTERN_C MgErr TransposeArray(ArrayHandle array, ArrayHandle* scratch, int32 elementSize, int32 firstOffset);
// Rotates count elements by shift (positive: element i moves to i + shift),
// taking shift modulo the count with its sign and turning a rotation of more
// than half the count the other way.  The smaller part goes through a
// temporary block: 2, the array unchanged, when none can be had.  An element
// size of 0 or less is reported and does nothing.
QX_EXTERN_C MgErr RotateArray(int32 shift, int32 count, void* data, int32 elementSize);
// Reverses count elements in place.
QX_EXTERN_C void ReverseArray(int32 count, void* data, int32 elementSize);

// ---- Reshape and initialise ---------------------------------------------------
// Gives the destination the n sizes (its rank is dstRank) and the elements of
// the source (of srcRank dimensions) in order: the first min(source, new)
// elements copied (deep for elements holding handles; moved within the
// handle when both are the same), the rest of the new elements empty; removed
// destination elements are disposed.  The destination grows first and is cut
// last.  1, reported, when a handle is missing or its header is corrupt;
// 2 for a refused count or when memory is short; otherwise the first error of
// the copies, with every element a valid datum.
QX_EXTERN_C MgErr ReshapeArray(UHandle tdHandle, int32 tdOffset, ArrayHandle* src, ArrayHandle* dst, int32 srcRank,
                               int32 dstRank, const int32* sizes);
// Sizes the array to the n sizes (a negative size counts and is stored as 0)
// and sets every element to the value: a deep copy each for elements holding
// handles, else the value's bytes spread by doubling copies.
QX_EXTERN_C MgErr InitArray(UHandle tdHandle, int32 tdOffset, const void* value, ArrayHandle* array, int32 n,
                            const int32* sizes);

// ---- Handle data as plain pointers ----------------------------------------------
// Walks the data of the TD and puts each string and array handle on the lock
// list (a handle: an int32 count, then the handles in walk order, the list
// growing as needed) in place of which the data holds the address of the
// string's characters or of the array's first element (null for a null or
// empty one); the elements of arrays that hold handles are walked in place.
// The copy, when given, receives the same words and the flat data.  Handles
// and paths are reported and left as they are.  When the list cannot grow
// the walk is reported and stops: the words not reached keep their handles.
QX_EXTERN_C void LockFlat(void* data, void* copy, UHandle tdHandle, int32 tdOffset, UHandle lockList);
// Walks the same way and puts the handles back from the list, from the slot
// after its count on (the caller sets the count back to 0), while the list
// has entries; flat data is copied back from the copy when one is given.
QX_EXTERN_C void UnlockUnflat(void* data, void* copy, UHandle tdHandle, int32 tdOffset, UHandle lockList);
