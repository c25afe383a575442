// Element counts of array handles and the core array resize, which keeps the
// handles inside the elements consistent.
//
// An array handle holds one int32 size per dimension, outermost first, then
// the elements from AlignDatum(element TD, 4 * rank) on, DataSize apart.
#pragma once
#include "engine/datatype.h"

// The number of significant bits of |v| (0 for 0).
QX_EXTERN_C int32 BitLength(int32 v);
// The product of n sizes (1 for n = 0); -1 for a negative size or when the
// bit lengths of the running product and the next size reach 31.
QX_EXTERN_C int32 NArrayElts(int32 n, const int32* sizes);
// Gives the handle room for count elements (-1 counts as 0): removed
// elements are disposed, added ones are zero bytes; a null handle gets a new
// cleared one.  The dimension sizes are left alone.  2 when the count is
// refused or memory is short, 1 (reported) when the handle's sizes are
// negative, overflow or claim more elements than it holds; the handle is
// then unchanged.
QX_EXTERN_C MgErr ArrayResizeElts(const TypeDescriptor* elemTD, int32 n, UHandle* array, int32 count);
// Resizes to the product of the n sizes and writes them into the header
// (clears the header when sizes is null).  2, nothing changed, when the sizes
// hold a negative size or their product overflows.
QX_EXTERN_C MgErr ArrayResize(const TypeDescriptor* elemTD, int32 n, UHandle* array, const int32* sizes);
