// Type casting: the bytes of a value of one type read as a value of another
// through the big-endian flat form, and the byte order of whole TDs.
#pragma once
#include "engine/flatten.h"

// Casts the source datum to the target type.  The data of a string (0x30,
// 0x33, 0x37), string view or array is passed as its handle (a view as the
// address of its record), any other data as the address of the value.
//
// The source's bytes are its flat form (a string-like source: its bytes as
// they stand; an array: its elements, without the sizes); flag bit 0
// (kFlatOldBooleans) casts booleans as 16-bit words and arrays of booleans as
// packed 16-bit words.  A string-like target gets those bytes; a scalar
// target of an integer, single, enumeration, boolean or refnum type is
// cleared when they are too few and then takes as many as it holds (an
// enumeration at most its last item); an array target is sized to as many
// elements as the bytes fill; other targets are read back from the flat
// form.  2 when a count or size is refused or memory is short; 1 when a
// target cannot be read back from the bytes (too few of them, or an element
// of flat size 0, which leaves the target empty) or an argument is bad.
QX_EXTERN_C MgErr TypeCast(UHandle srcTDHandle, int32 srcTDOffset, UHandle dstTDHandle, int32 dstTDOffset,
                           const void* src, void* dst, int32 flags);
// TypeCast with the old booleans selected by kFlatOptionOldBooleans of the
// option word.
QX_EXTERN_C MgErr TypeCastConvert(UHandle srcTDHandle, int32 srcTDOffset, UHandle dstTDHandle, int32 dstTDOffset,
                                  const void* src, void* dst, int32 options);

// TDByteSwap (engine/flatten.h) of a TD whose string TDs carry their bound.
QX_EXTERN_C void TDByteSwapToFile(TypeDescriptor* td, int32 direction);
