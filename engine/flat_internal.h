// Helpers shared by the flat-data writer and its readers: the flat form of
// scalars, the size measures of a TD, element classes, the geometry of
// packed boolean arrays and the walk over the rows of an array.
#pragma once
#include <cstring>

#include "data_internal.h"
#include "flatten.h"
#include "mgsource/extmath.h"
#include "mgsource/path.h"

namespace flat {

using dm::B;
using dm::LoadH;
using dm::LoadI16;
using dm::LoadI32;
using dm::StoreH;
using dm::StoreI32;
using dm::T;

using td::IsEnumCode;
using td::IsStringCode;

// Sizes are summed in 64 bits and saturate here, far above any 31-bit size.
constexpr int64_t kHuge = int64_t(1) << 40;
inline int64_t SatAdd(int64_t a, int64_t b) { return a + b > kHuge ? kHuge : a + b; }
inline int64_t SatMul(int64_t a, int64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kHuge / b ? kHuge : a * b;
}

inline const uChar* Skip(const uChar* t) { return B(SkipTypedefs(T(t))); }
inline uChar Code(const uChar* t) { return t[2]; }
inline bool OldBooleans(int32 flags) { return (flags & kFlatOldBooleans) != 0; }

// Codes whose DataSize bytes are written and read as they lie in memory.
inline bool IsAsIs(uChar c) {
  return c == kTDOpaque34 || c == kTDOpaque35 || c == kTDOpaque36 || c == kTDBlock || c == kTDWrapper ||
         c == kTDInternal80 || c == kTDInternal81 || c == kTDTypedRef;
}

// The flat size of a numeric, boolean or refnum code; 0 for other codes.
int32 ScalarFlatSize(uChar code, int32 flags);
// Memory to flat and flat to memory for those codes (enumerations not clamped).
void PutScalar(uChar code, const uChar* d, uChar* p, int32 flags);
void GetScalar(uChar code, const uChar* s, uChar* d, int32 flags);
// A value at or beyond the item count of the enumeration TD becomes the last item.
void ClampEnum(const uChar* enumTD, uChar* d);

// The bytes of a bound field (-1 variable: 0; else its low 31 bits).
inline int32 BoundBytes(int32 field) { return field == kTDVariable ? 0 : (field & 0x7FFFFFFF); }

// The flat size of a datum (d null: what the type alone fixes); saturates at kHuge.
int64_t SizeWalk(const uChar* t, const uChar* d, int32 flags);
// The fewest bytes any datum of the type flattens to; saturates at kHuge.
int64_t LeastSize(const uChar* t, int32 flags);
// The most memory an element of a variable array may take per flat byte it
// consumes (a string bounded at 255 in a cluster takes 267 bytes for 4).
constexpr int64_t kElementMemoryPerByte = 256;
// The memory that the empty value of a TD takes (its own bytes and the
// handles made for it), or kHuge when data of it is not read from flat bytes
// of outside: function TDs, arrays of arrays, unions whose elements do not
// start with their selector, fixed sizes that overflow, and variable arrays
// whose elements fail ElementMemoryFits.
int64_t Footprint(const uChar* t, int32 flags);
// The rule that keeps the readers' memory in proportion to their input: each
// element of a variable array, made as it is read, takes at most
// kElementMemoryPerByte bytes per flat byte it consumes at least.
bool ElementMemoryFits(const uChar* elem, int32 flags);
// The flat size shared by every datum of the type, or -1 when it varies.
int32 ConstSize(const uChar* t, int32 flags);
// The size class of an element TD (see FlatEltSizeClass).
int32 EltClass(const uChar* elem, int32 flags);
// True for a scalar element type whose array of count elements is converted
// as count * parts units of unit bytes each (EXT: unit 10, flat 16).
bool NumericUnits(uChar code, int32* unit, int32* parts);

// The array TD's fields.
struct ArrayTD {
  const uChar* t = nullptr;     // the array TD, typedefs looked through
  int32 rank = 0;
  const uChar* elem = nullptr;  // the element TD as written
  const uChar* base = nullptr;  // the element TD, typedefs looked through
  int32 header = 0;             // AlignDatum of the element and 4 * rank
  int32 elemSize = 0;
  bool oldBools = false;        // packed booleans under the flags
  int32 Field(int32 k) const { return LoadI32(t + 6 + 4 * k); }
};
ArrayTD ArrayOf(const uChar* t, int32 flags);

// Packed booleans: each row of the last dimension in whole 16-bit words.
struct Packed {
  int64_t rows = 0;   // the product of the other dimensions (1 for rank 0)
  int32 last = 0;     // the last dimension's size (1 for rank 0)
  int64_t wpr = 0;    // words per row
  int64_t words = 0;
};
Packed PackedOf(int32 rank, const int32* sizes);

// Calls f(row) for each row of the last dimension, in storage order, of an
// array of n dimensions with these sizes and byte strides starting at base.
// Rows of no elements are skipped; rank 0 has one row of one element.
template <typename F>
void ForRows(const uChar* base, int32 n, const int32* sizes, const int32* strides, F&& f) {
  if (n == 0) {
    f(base);
    return;
  }
  for (int32 k = 0; k < n; ++k)
    if (sizes[k] <= 0) return;
  dm::RankBuffer idx(n);
  if (!idx.ok()) return;
  int32* i = idx.get();
  std::memset(i, 0, size_t(n) * 4);
  const uChar* row = base;
  for (;;) {
    f(row);
    int32 k = n - 2;
    while (k >= 0) {
      row += strides[k];
      if (++i[k] < sizes[k]) break;
      row -= int64_t(strides[k]) * sizes[k];
      i[k] = 0;
      --k;
    }
    if (k < 0) return;
  }
}

// Walks the elements of the flat shape in order into a destination array of
// another shape: f(i, the destination element or null when it lies outside
// the destination's shape, the index in the last dimension) until f returns
// false.  False when memory is short.
template <typename F>
bool ForFlatShape(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h, F&& f) {
  int32 n = a.rank;
  dm::RankBuffer buf(2 * n);
  if (!buf.ok()) return false;
  int32* idx = buf.get();
  int32* strides = idx + n;
  dm::RowMajorStrides(n, dstSizes, a.elemSize, strides);
  std::memset(idx, 0, size_t(n) * 4);
  int32 count = NArrayElts(n, flatSizes);
  for (int32 i = 0; i < count; ++i) {
    bool inside = true;
    int64_t off = 0;
    for (int32 k = 0; k < n; ++k) {
      inside = inside && idx[k] < dstSizes[k];
      off += int64_t(idx[k]) * strides[k];
    }
    if (!f(i, inside ? *h + a.header + off : nullptr, n > 0 ? idx[n - 1] : 0)) break;
    for (int32 k = n - 1; k >= 0; --k) {
      if (++idx[k] < flatSizes[k]) break;
      idx[k] = 0;
    }
  }
  return true;
}

// Variant records (the automation code's 16-byte OLE variants): a record
// whose kind holds no pointer travels as its bytes; every other record
// travels as the empty variant.
bool VariantTravels(const uChar* v);

// Converts n numeric units of unit bytes (2, 4, 8, or 10 for extended
// numbers, which take 16 flat bytes) between memory and flat order.
constexpr bool kToFlat = true, kFromFlat = false;
void SwapUnits(int32 unit, int32 n, const uChar* src, uChar* dst, bool toFlat);
// Elements of a dense array from flat form, enumerations clamped.
void GetElements(const ArrayTD& a, int32 unit, int32 parts, const uChar* s, uChar* d, int32 count);
// Makes a fixed or bounded array destination ready for flat sizes: the room
// of its type made for a null handle, the room checked, and the sizes it
// takes written to dst and its header; *same when they are the flat sizes.
// 1 when the handle does not hold the type's room, 2 when memory is short.
MgErr PrepareBoundArray(const ArrayTD& a, int32 bound, const int32* sizes, uChar* d, int32* dst, bool* same);
// Resets the destination elements that lie outside the flat shape.
MgErr ResetOutside(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h);

// The memory reader: reads the datum of t from the bytes at src + pos, of
// which avail may be read, into d (null: measure only).  Returns the bytes
// consumed, more than avail when the data ran short or was bad.
int64_t ReadMem(const uChar* src, const uChar* t, uChar* d, int64_t avail, int32 flags);

}  // namespace flat
