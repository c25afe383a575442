// Helpers shared by the data operations, the array kernels and the array
// resize: unaligned access to data words, the layout of an array handle and
// the checks that keep every walk inside its handle.
#pragma once
#include <cstring>

#include "datamgr.h"
#include "datasupp.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "td_internal.h"

namespace dm {

// Every report of the data operations, the array kernels and the flat-data
// code names this source.
inline constexpr char kDataSource[] = "data";
#define DATA_ASSERT(text) DBAssert(dm::kDataSource, __LINE__, (text))

using td::IsEnumCode;
using td::IsNumericCode;
using td::IsStringCode;

// Data are packed: a handle or number may sit at any address.
inline UHandle LoadH(const void* p) {
  UHandle h;
  std::memcpy(&h, p, sizeof h);
  return h;
}
inline void StoreH(void* p, const void* h) { std::memcpy(p, &h, sizeof h); }
inline int32 LoadI32(const void* p) { return int32(GetNative32(static_cast<const uChar*>(p))); }
inline void StoreI32(void* p, int32 v) { PutNative32(static_cast<uChar*>(p), uInt32(v)); }
inline int16 LoadI16(const void* p) { return int16(GetNative16(static_cast<const uChar*>(p))); }

inline const uChar* B(const TypeDescriptor* t) { return reinterpret_cast<const uChar*>(t); }
inline const TypeDescriptor* T(const uChar* p) { return reinterpret_cast<const TypeDescriptor*>(p); }
inline uChar CodeOf(const TypeDescriptor* t) { return t->code; }

// The layout of the data of an array TD (code 0x40 or 0x4F, typedefs looked
// through).
struct ArrayShape {
  const uChar* td = nullptr;
  int32 rank = 0;
  const TypeDescriptor* elem = nullptr;
  int32 header = 0;    // bytes before the first element
  int32 elemSize = 0;  // DataSize of the element
  bool flat = true;    // the elements hold no handles

  int32 Field(int32 k) const { return int32(GetNative32(td + 6 + 4 * k)); }
  bool AllFixed() const {
    for (int32 k = 0; k < rank; ++k)
      if (!TDFieldIsFixed(Field(k))) return false;
    return true;
  }
  bool AnyVariable() const {
    for (int32 k = 0; k < rank; ++k)
      if (Field(k) == kTDVariable) return true;
    return false;
  }
};
// Fills the shape; false, with a report, when the TD is no array or its rank
// is negative.
bool GetArrayShape(const TypeDescriptor* t, ArrayShape* a);

// The elements the handle has room for after its header (0 for null; -1 for
// elements of size 0, of which any number fits).
int32 Capacity(UHandle h, int32 header, int32 elemSize);
// The element count that the handle's sizes give; false (with a report) when
// the sizes are negative, overflow or claim more elements than the handle holds.
bool CountElements(UHandle h, const ArrayShape& a, int32* count);
// Elements that hold live data in an array handle: for an array whose every
// dimension is fixed or bounded all that its handle holds, for others the
// count of its sizes (kept inside the handle).
int32 LiveElements(UHandle h, const ArrayShape& a);

// Row-major strides of a dense array of these sizes, in units of `unit`
// (an element's bytes, or 1 for strides counted in elements); all 0 when the
// array has no elements, as no element is then ever addressed.  Strides that
// would pass 31 bits stop at INT32_MAX.
void RowMajorStrides(int32 rank, const int32* sizes, int32 unit, int32* strides);

// Calls fn(element TD, data offset, data size) for each element of a cluster
// TD in order, at the offsets AlignDatum gives; stops when fn returns false.
template <typename Fn>
void ForFields(const uChar* t, Fn&& fn) {
  int32 n = LoadI16(t + 4);
  const uChar* e = t + 6;
  int32 off = 0;
  for (int32 i = 0; i < n; ++i) {
    uInt16 sz = GetNative16(e);
    if (sz == 0) {
      DATA_ASSERT("element TD of size 0");
      return;
    }
    const TypeDescriptor* el = T(e);
    off = AlignDatum(el, off);
    int32 size = DataSize(el);
    if (!fn(el, off, size)) return;
    off += size;
    e += sz;
  }
}

// The element of a union TD that the selector at the start of its data
// names; null when fewer than 2 bytes are there or the selector is out of range.
inline const TypeDescriptor* UnionElement(const uChar* t, const uChar* d, ptrdiff_t avail) {
  if (avail < 2) return nullptr;
  int32 sel = LoadI16(d);
  if (sel < 0 || sel >= LoadI16(t + 4)) return nullptr;
  return ElemTD(T(t), sel);
}

// A new empty string of the bound field: a cleared handle of 4 bytes, or for
// a bounded or fixed string of 4 + bound (its room).  Null when memory is
// short or the room does not fit 31 bits.
LStrHandle NewEmptyString(int32 field);
// A bounded or fixed string whose first m bytes (m at most its bound) are in
// place: its count becomes m, or for a fixed string the bound, with the bytes
// after m cleared.
void SetBoundedCount(LStrHandle h, int32 field, int32 m);
// Copies a string into the string slot of a datum of the bound field:
// CopyString for a variable string, else CopyBndFixString, the room of a null
// slot made first.  The copy of a null source flattens as the source: a null
// bounded or fixed slot stays null, an existing one gets count 0.
MgErr CopyStringToSlot(LStrHandle src, uChar* slot, int32 field);
// True when the element TD starts with the 16-bit selector of its union.
bool LeadsWithSelector(const TypeDescriptor* elem);
// Makes element sel the element of the union datum at d: when another
// element is there, it is disposed and sel's empty value made, its selector
// set.  On failure the datum's bytes are cleared (element 0 with null
// handles).
MgErr SwitchUnionElement(const TypeDescriptor* unionTD, uChar* d, int32 sel);
// The empty value of an array of the shape's dimension fields with elements
// of elem (the shape's own element, or one laid out in the other boolean
// form).  *out holds the handle as soon as it exists, so that a failure while
// the elements are made leaves it to be disposed.
MgErr NewEmptyArray(const ArrayShape& a, const TypeDescriptor* elem, UHandle* out);

// The walk behind the release operations on the element at [s, e).
int32 Release(const TypeDescriptor* t, uChar* s, uChar* e, bool dispose);
// InitEmptyData over bytes already cleared.
MgErr FillEmpty(const TypeDescriptor* t, uChar* d);

// How the walks over array elements treat each part of one element, worked
// out once per array instead of once per element: runs of flat bytes,
// unbounded strings, and parts walked by their TD.
struct ElementPlan {
  enum Kind : uChar { kBytes, kString, kWalk };
  struct Part {
    int32 off;
    int32 size;
    const TypeDescriptor* td;
    Kind kind;
  };
  static constexpr int32 kMaxParts = 16;
  explicit ElementPlan(const TypeDescriptor* elem);
  const TypeDescriptor* elem;
  int32 size = 0;
  int32 count = 0;
  bool usable = true;  // false: each element is walked whole
  Part parts[kMaxParts];

 private:
  void Add(const TypeDescriptor* td, int32 off, int32 size);
};
// Deep copies of n elements, elemSize apart on both sides; the first failure
// ends the copy.
MgErr CopyElements(const ElementPlan& plan, const uChar* src, uChar* dst, int32 n);
// Disposes the handles of n elements; the bytes released.
int32 DisposeElements(const ElementPlan& plan, uChar* base, int32 n);

}  // namespace dm
