// Values of the component layer: task memory, counted wide strings,
// variants (a type word and a value in 16 bytes) and safe arrays (a
// descriptor of dimensions, bounds, element size and lock count over a
// block of elements of one type).
//
// Values come from other objects too: every operation checks the type words,
// counts and bounds it is given and answers a failure result instead of
// reading or writing outside what the value holds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qx_com.h"

// ---- Task memory ---------------------------------------------------------------------
// Blocks that cross between objects: null when memory is short (a size of 0
// still gives a block).  Freeing null does nothing.
void* PlatTaskMemAlloc(uint32_t size);
void PlatTaskMemFree(void* block);

// ---- Wide strings -------------------------------------------------------------------
// A wide string is the address of its first 16-bit character; the 4 bytes
// before it hold its length in bytes and a zero character follows it.  Null
// is the empty string.
constexpr uint32_t kPlatBstrMaxChars = 0x3FFFFFF0u;
// A new string of length characters copied from chars (zeros when chars is
// null); null when memory is short or the length is beyond the maximum.
PlatBstr PlatBstrAlloc(const uint16_t* chars, uint32_t length);
void PlatBstrFree(PlatBstr s);
// Characters (0 for null).
uint32_t PlatBstrLength(const uint16_t* s);
// A new string of the code-page-1252 text; null when memory is short.
PlatBstr PlatBstrFromText(const char* text, uint32_t length);
// Writes the characters as code-page-1252 bytes (a character the code page
// lacks becomes '?'), at most max of them; gives the bytes written.
uint32_t PlatBstrToText(const uint16_t* chars, uint32_t length, char* out, uint32_t max);

// ---- Variants ----------------------------------------------------------------------
enum : uint16_t {
  kPlatVtEmpty = 0,
  kPlatVtNull = 1,
  kPlatVtI2 = 2,
  kPlatVtI4 = 3,
  kPlatVtR4 = 4,
  kPlatVtR8 = 5,
  kPlatVtCy = 6,
  kPlatVtDate = 7,
  kPlatVtBstr = 8,
  kPlatVtDispatch = 9,
  kPlatVtError = 10,
  kPlatVtBool = 11,
  kPlatVtVariant = 12,
  kPlatVtUnknown = 13,
  kPlatVtI1 = 16,
  kPlatVtUI1 = 17,
  kPlatVtUI2 = 18,
  kPlatVtUI4 = 19,
  kPlatVtI8 = 20,
  kPlatVtUI8 = 21,
  kPlatVtInt = 22,
  kPlatVtUInt = 23,
  kPlatVtArray = 0x2000,
  kPlatVtByRef = 0x4000,
  kPlatVtTypeMask = 0x0FFF,
};
constexpr int16_t kPlatVariantTrue = -1;
constexpr int16_t kPlatVariantFalse = 0;

struct PlatSafeArray;
struct PlatVariant {
  uint16_t vt;
  uint16_t reserved[3];
  union {
    int8_t i1;
    uint8_t ui1;
    int16_t i2;
    uint16_t ui2;
    int32_t i4;
    uint32_t ui4;
    int64_t i8;
    uint64_t ui8;
    float r4;
    double r8;
    int64_t cy;     // units of 1/10000
    double date;
    int16_t boolVal;
    int32_t scode;
    PlatBstr bstr;
    PlatComUnknown* unknown;
    PlatComDispatch* dispatch;
    PlatSafeArray* array;
    void* byRef;    // the storage of a by-reference value
  };
};
static_assert(sizeof(PlatVariant) == 16 && offsetof(PlatVariant, i4) == 8, "variant: type word, 16 bytes");

// The empty variant.
void PlatVariantInit(PlatVariant* v);
// Frees what the variant holds (strings, arrays and a reference of an
// interface; by-reference storage is the owner's) and leaves it empty.
// kPlatDispArrayLocked, nothing changed, for a locked array;
// kPlatDispBadVarType, nothing changed, for a type word the layer does not
// know.
PlatHResult PlatVariantClear(PlatVariant* v);
// Clears dst and copies src into it: strings and arrays as copies of their
// own, interfaces with a reference added, by-reference values as the same
// reference.  On failure dst is empty.
PlatHResult PlatVariantCopy(PlatVariant* dst, const PlatVariant* src);
// The same, but a by-reference src gives a copy of the value it refers to.
PlatHResult PlatVariantCopyInd(PlatVariant* dst, const PlatVariant* src);
// src converted to type vt in dst (dst may be src): numbers among
// themselves (kPlatDispOverflow out of the target's range; reals round half
// to even), numbers, Booleans, dates and currency to and from strings,
// Booleans to numbers (true is -1) and numbers to Booleans (non-zero is
// true), the dispatch and unknown interfaces into each other, an empty
// value to the zero of any type, a by-reference value through its storage.
// kPlatDispTypeMismatch for any other pairing, kPlatDispBadVarType for a
// target type the layer does not know (by-reference and array targets
// among them).  On failure dst is left as it was.  flags: none used.
PlatHResult PlatVariantChangeType(PlatVariant* dst, const PlatVariant* src, uint16_t flags, uint16_t vt);

// ---- Safe arrays ----------------------------------------------------------------
struct PlatSafeArrayBound {
  uint32_t count;
  int32_t lower;
};
// Dimensions count from 1; dimension 1 (bounds[0]) varies fastest in the
// element block.  The elements are dataBytes bytes at data.
struct PlatSafeArray {
  uint16_t dims;
  uint16_t vt;  // the element type
  uint32_t elemSize;
  uint32_t locks;
  void* data;
  uint32_t dataBytes;
  PlatSafeArrayBound bounds[1];
};
static_assert(offsetof(PlatSafeArray, bounds) == 20 && sizeof(PlatSafeArrayBound) == 8, "array descriptor");
constexpr uint32_t kPlatSafeArrayMaxDims = 60;
// Bytes of an element of the type: 1, 2, 4, 8 or 16 for the types an array
// may hold, 0 for any other.
uint32_t PlatSafeArrayElementSize(uint16_t vt);
// A new array of zeroed elements (empty variants); null for a type an array
// may not hold, no or too many dimensions, an element count or block size
// that overflows, bounds whose last index is beyond 32 bits, or memory
// short.
PlatSafeArray* PlatSafeArrayCreate(uint16_t vt, uint32_t dims, const PlatSafeArrayBound* bounds);
// Frees every element's value, the block and the descriptor.
// kPlatDispArrayLocked for a locked array; null does nothing.
PlatHResult PlatSafeArrayDestroy(PlatSafeArray* a);
PlatHResult PlatSafeArrayLock(PlatSafeArray* a);
PlatHResult PlatSafeArrayUnlock(PlatSafeArray* a);  // kPlatInvalidArg when not locked
// The bounds of dimension dim (from 1): kPlatDispBadIndex outside them.
PlatHResult PlatSafeArrayGetBounds(const PlatSafeArray* a, uint32_t dim, int32_t* lower, int32_t* upper);
// Checks the descriptor (dimensions, the element size of its type, the
// element count against the block, indexes within 32 bits) and gives the
// element count:
// kPlatInvalidArg for a bad descriptor, kPlatOutOfMemory when the count
// overflows 32 bits.
PlatHResult PlatSafeArrayCount(const PlatSafeArray* a, uint32_t* count);
// Element access; indexes[i] is the index in dimension i + 1.  The value is
// the element's own form (a string address for strings, a variant for
// variants, an interface address for interfaces).  Put stores a copy
// (strings and variants copied, interfaces with a reference added) and frees
// the element's former value; get gives a copy the caller owns.
// kPlatDispBadIndex for an index outside the bounds or the block,
// kPlatInvalidArg for a bad descriptor or a null argument, kPlatOutOfMemory.
PlatHResult PlatSafeArrayPutElement(PlatSafeArray* a, const int32_t* indexes, const void* value);
PlatHResult PlatSafeArrayGetElement(const PlatSafeArray* a, const int32_t* indexes, void* value);
// A copy with copies of every element's value.
PlatHResult PlatSafeArrayCopy(const PlatSafeArray* a, PlatSafeArray** out);
// Live arrays and strings (tests look for leaks with them).
int32_t PlatSafeArrayLiveCount();
int32_t PlatBstrLiveCount();
