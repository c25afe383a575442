// Counting, sizing and resizing of array handles for compiled code and
// external code.
//
// An array handle of n dimensions holds n int32 sizes, outermost first, then
// the elements from AlignDatum(element TD, 4 * n) on, DataSize apart; a null
// handle is the empty array.  A flat array has the same layout described by
// an element size and a header size in bytes; its elements hold no handles.
//
// A dimension list is the address of a pointer to n int32 sizes (an array
// handle is one, reaching its own header); a count is passed by value or as
// the address of a pointer to an int32.  A null address, or a null pointer
// behind it, is no list or no count.
//
// The resize functions give 0; 2 when the count is refused (negative, or its
// elements reach 0x40000000 bytes) or memory is short; 1, reported, for an
// argument they cannot work with (no handle address, a rank outside 0 to
// 0x7FFF, an element TD of array type, a TD handle that holds no TD there,
// or sizes in a handle's header that are negative, overflow or claim more
// elements than the handle holds); or the memory manager's error.  On any
// failure the handle is as it was, save that SetArraySzAndInflateNewElt
// keeps the grown array when making an element's empty value fails.
//
// The engine keeps the core of the family with BitLength, NArrayElts,
// ArrayResizeElts and ArrayResize (engine/datasupp.h).
#pragma once
#include "engine/datamgr.h"
#include "engine/datasupp.h"

// A whole array seen as a pointer and {size, byte stride} per dimension,
// outermost first: the layout of an array view's data.
typedef ArrayViewData SubArrayDesc;

// ---- Counting ---------------------------------------------------------------
// The product of the size fields of n {size, stride} pairs, under the guard
// of NArrayElts: -1 for a negative size, a negative n, or when the bit
// lengths of the running product and the next size reach 31; 1 for n = 0.
QX_EXTERN_C int32 NSubArrayElts(int32 n, const ArrayViewDim* pairs);
// The 16-bit words of a packed boolean array of the old form: the product of
// the first n - 1 sizes times ((last size + 15) >> 4), -1 by the same guards;
// 1 for n = 0 (one boolean).
QX_EXTERN_C int32 NPackedBoolWords(int32 n, const int32* sizes);
// Describes the whole array: the pointer is the handle's block plus
// firstOffset; from the innermost dimension outward each pair holds the
// dimension's size and elementSize times the sizes of all inner dimensions
// (0 for a stride of an empty array that 32 bits cannot hold).  A null
// handle gives a null pointer and {0, 0} pairs, and so, reported, does a
// handle whose sizes are negative, overflow or claim more than it holds, or
// an offset inside the header or past the block.
QX_EXTERN_C void MakeSubArray(ArrayHandle array, SubArrayDesc* desc, int32 n, int32 firstOffset, int32 elementSize);

// ---- Resizing ---------------------------------------------------------------
// ArrayResizeElts with the element TD at a byte offset of a TD handle.
QX_EXTERN_C MgErr SetArraySize(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32 count);
// ArrayResizeElts with entry 1 to 30 of StdTDTable (1 to 14: the numeric
// types of those codes); another type is reported and gives 1.
QX_EXTERN_C MgErr NumericArrayResize(int32 type, int32 n, ArrayHandle* array, int32 count);
// A one-dimensional array resized to the count (none: 0; -1 counts as 0),
// which is then its dimension size.
QX_EXTERN_C MgErr VectorResize(const TypeDescriptor* elemTD, ArrayHandle* array, int32** count);
// A flat array resized to the product of the list (none: 0, header cleared)
// when that differs from its header's, then the n sizes written.
QX_EXTERN_C MgErr FlatArrayResize(int32 elementSize, int32 headerSize, int32 n, ArrayHandle* array, int32** sizes);
// FlatArrayResize with one dimension (the count under the same guard): a
// negative count gives 2; the count is then the handle's first word.
QX_EXTERN_C MgErr FlatVectorResize(int32 elementSize, int32 headerSize, ArrayHandle* array, int32** count);
// headerSize + count * elementSize bytes (-1 counts as 0), added bytes
// cleared; no header is written.
QX_EXTERN_C MgErr FlatHandleResize(int32 elementSize, int32 headerSize, ArrayHandle* array, int32 count);
// A byte string: an int32 count, then the bytes (FlatVectorResize of 1-byte
// elements after a 4-byte header).
QX_EXTERN_C MgErr HandleVectorResize(ArrayHandle* array, int32 count);
// The two-list and two-count forms: the element-wise minimum of both lists,
// the smaller count (the second when they are equal), or whichever is given.
QX_EXTERN_C MgErr ArrayResize2(const TypeDescriptor* elemTD, int32 n, ArrayHandle* array, int32** sizes1,
                               int32** sizes2);
QX_EXTERN_C MgErr VectorResize2(const TypeDescriptor* elemTD, ArrayHandle* array, int32** count1, int32** count2);
QX_EXTERN_C MgErr FlatArrayResize2(int32 elementSize, int32 headerSize, int32 n, ArrayHandle* array, int32** sizes1,
                                   int32** sizes2);
QX_EXTERN_C MgErr FlatVectorResize2(int32 elementSize, int32 headerSize, ArrayHandle* array, int32** count1,
                                    int32** count2);
// The forms that take the element TD at a byte offset of a TD handle.
QX_EXTERN_C MgErr ArrayResize_Old(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32** sizes);
QX_EXTERN_C MgErr VectorResize_Old(UHandle tdHandle, int32 tdOffset, ArrayHandle* array, int32** count);
QX_EXTERN_C MgErr ArrayResize2_Old(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32** sizes1,
                                   int32** sizes2);
QX_EXTERN_C MgErr VectorResize2_Old(UHandle tdHandle, int32 tdOffset, ArrayHandle* array, int32** count1,
                                    int32** count2);
// SetArraySize, then the empty value of each added element in index order
// (the dimension sizes stay the caller's).  A failed resize returns before
// any element is touched; otherwise the first error of the empty values.
QX_EXTERN_C MgErr SetArraySzAndInflateNewElt(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array,
                                             int32 count);

// ---- Handles in data --------------------------------------------------------
// Stores in *count the number of handles that data of the TD holds (data may
// be null: the TD alone is walked) and returns 1 when that number depends on
// the data (arrays of elements holding handles, unions), else 0.  A string,
// handle or path counts 1; an array 1 and, with data, what its elements
// hold; a cluster what its elements hold; a union what its selected element
// holds (element 0 without data, nothing for a selector out of range).
QX_EXTERN_C int32 CountDataHandles(const TypeDescriptor* td, const void* data, int32* count);
// CountDataHandles with the TD at a byte offset of a TD handle.
QX_EXTERN_C int32 CountDSHandles_Old(UHandle tdHandle, int32 tdOffset, const void* data, int32* count);
