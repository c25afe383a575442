// The values that properties and methods of references read and write in
// their callers' variables: strings and arrays are data-zone handles the
// writer makes or resizes (the variable holds the handle), paths are copied
// into the caller's path, Booleans are one byte, numbers and enumerations 32
// bits, rectangles four I16 in the order left, top, right, bottom.  Handles
// from a caller are checked against their blocks before they are read.
#pragma once
#include <string>
#include <vector>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"

namespace srvval {

void PutBool(void* value, bool on);
bool GetBool(const void* value);
void PutI32(void* value, int32 v);
int32 GetI32(const void* value);
void PutI16(uChar* at, int32 v);
int16 GetI16(const uChar* at);
// A rectangle {left, top, right, bottom} from and to a Rect.
void PutRect(void* value, const Rect& r);
Rect GetRect(const void* value);

// The string handle of the caller's variable made to hold the bytes: 0 or
// 2 (the variable then keeps what it held).
MgErr SetString(LStrHandle* slot, const uChar* bytes, int32 n);
MgErr SetPString(void* value, ConstPStr text);
MgErr SetPath(void* value, Path p);
// The size of a handle of either zone, -1 for anything else.
int32 HandleSize(UHandle h);
// The bytes a caller's string handle holds: false for a handle that is no
// live handle or whose count runs past its block.  A null handle
// is the empty string.
bool StringBytes(LStrHandle h, const uChar** bytes, int32* n);
// The elements of a caller's one-dimensional array handle of elemSize-byte
// elements: false when its count is negative or runs past its block.  A
// null handle has none.
bool ArrayElements(UHandle h, int32 elemSize, uChar** first, int32* count);

// A one-dimensional array of the element type in the caller's variable,
// count elements long (new elements cleared); the address of element 0, or
// null with *err.
uChar* SizeArray(UHandle* slot, const TypeDescriptor* element, int32 count, MgErr* err);
// The element descriptor of an array descriptor.
const TypeDescriptor* ArrayElement(const TypeDescriptor* array);
// The offsets of a cluster's elements in its data.
std::vector<int32> ElementOffsets(const TypeDescriptor* cluster);
// An array of strings holding the names.
MgErr SetNames(void* value, const std::vector<ConstPStr>& names);
// A type descriptor as a flattened type: its 16-bit words, the big-endian
// descriptor's words in host order (padded to a whole word).
std::vector<int16> TypeWords(const TypeDescriptor* td);
// An I16 array in the caller's variable holding the words.
MgErr SetWords(UHandle* slot, const std::vector<int16>& words);

}  // namespace srvval
