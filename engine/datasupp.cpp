// Element counts and the core resize of array handles, and the array-handle
// layout shared by the data operations.
#include "datasupp.h"

#include "data_internal.h"

int32 BitLength(int32 v) {
  uInt32 m = v < 0 ? 0u - uInt32(v) : uInt32(v);
  return m ? 32 - __builtin_clz(m) : 0;
}

int32 NArrayElts(int32 n, const int32* sizes) {
  if (n < 0 || (n > 0 && !sizes)) return -1;
  int32 prod = 1;
  for (int32 k = 0; k < n; ++k) {
    int32 d = sizes[k];
    if (d < 0 || BitLength(prod) + BitLength(d) >= 31) return -1;
    prod *= d;
  }
  return prod;
}

namespace dm {

bool GetArrayShape(const TypeDescriptor* t, ArrayShape* a) {
  if (!t) {
    DATA_ASSERT("null array TD");
    return false;
  }
  const uChar* p = B(SkipTypedefs(t));
  if (p[2] != kTDArray && p[2] != kTDArrayView) {
    DATA_ASSERT("array operation on a TD that is no array");
    return false;
  }
  a->td = p;
  a->rank = LoadI16(p + 4);
  if (a->rank < 0) {
    DATA_ASSERT("array TD of negative rank");
    return false;
  }
  a->elem = T(p + 6 + 4 * a->rank);
  a->elemSize = DataSize(a->elem);
  a->header = AlignDatum(a->elem, 4 * a->rank);
  a->flat = DataShape(a->elem) == 0;
  return true;
}

int32 Capacity(UHandle h, int32 header, int32 elemSize) {
  if (!h) return 0;
  int32 size = DSGetHandleSize(h);
  if (size < header) return 0;
  if (elemSize <= 0) return -1;
  return (size - header) / elemSize;
}

bool CountElements(UHandle h, const ArrayShape& a, int32* count) {
  *count = 0;
  if (!h) return true;
  int32 size = DSGetHandleSize(h);
  if (size < a.header || size < 4 * a.rank) {
    DATA_ASSERT("array handle smaller than its header");
    return false;
  }
  int32 c = NArrayElts(a.rank, reinterpret_cast<const int32*>(*h));
  if (c < 0) {
    DATA_ASSERT("array sizes negative or too large");
    return false;
  }
  if (a.elemSize > 0 && c > (size - a.header) / a.elemSize) {
    DATA_ASSERT("array sizes claim more elements than the handle holds");
    return false;
  }
  *count = c;
  return true;
}

void RowMajorStrides(int32 rank, const int32* sizes, int32 unit, int32* strides) {
  bool empty = false;
  for (int32 k = 0; k < rank; ++k) empty = empty || sizes[k] <= 0;
  int64 s = unit;
  for (int32 k = rank - 1; k >= 0; --k) {
    strides[k] = empty ? 0 : int32(s);
    if (!empty) s = s * sizes[k] > INT32_MAX ? INT32_MAX : s * sizes[k];
  }
}

int32 LiveElements(UHandle h, const ArrayShape& a) {
  if (!h || a.elemSize <= 0) return 0;
  int32 cap = Capacity(h, a.header, a.elemSize);
  if (!a.AnyVariable()) return cap;
  int32 c = NArrayElts(a.rank, reinterpret_cast<const int32*>(*h));
  if (c < 0) {
    DATA_ASSERT("array sizes negative or too large");
    return 0;
  }
  return c < cap ? c : cap;
}

}  // namespace dm

using namespace dm;

MgErr ArrayResizeElts(const TypeDescriptor* elemTD, int32 n, UHandle* array, int32 count) {
  if (!elemTD || !array) {
    DATA_ASSERT("array resize without element TD or handle address");
    return kArgErr;
  }
  uChar code = td::Code(td::B(elemTD));
  // Numerics, the usual elements, are sized without walking the TD.
  bool numeric = IsNumericCode(code);
  if (code == kTDTypedef) code = SkipTypedefs(elemTD)->code;
  if (code == kTDArray || code == kTDArrayView) {
    DATA_ASSERT("array resize with an array as element TD");
    return kArgErr;
  }
  if (n < 0 || n > 0x7FFF) {
    DATA_ASSERT("array resize with a rank outside 0 to 0x7FFF");
    return kArgErr;
  }
  int32 es = numeric ? td::NumSizeOf(code) : DataSize(elemTD);
  int32 header = numeric && td::DataPacked() ? 4 * n : AlignDatum(elemTD, 4 * n);
  if (count == -1) count = 0;
  // count >= kMaxArrayBytes / es, without a division: (count + 1) * es > kMaxArrayBytes.
  uInt32 limitBytes;
  if (count < 0 || (es > 0 && (__builtin_mul_overflow(uInt32(count) + 1, uInt32(es), &limitBytes) ||
                               limitBytes > uInt32(kMaxArrayBytes))))
    return kMemFullErr;
  int32 newSize = header + count * es;

  UHandle h = *array;
  if (!h) {
    h = DSNewHClr(newSize);
    if (!h) return kMemFullErr;
    *array = h;
    return kNoErr;
  }
  int32 size = DSGetHandleSize(h);
  if (size < header) {
    DATA_ASSERT("array handle smaller than its header");
    return kArgErr;
  }
  // A corrupt header leaves the array as it is: its elements cannot be told.
  int32 old = n == 1 ? LoadI32(*h) : NArrayElts(n, reinterpret_cast<const int32*>(*h));
  if (old < 0) {
    DATA_ASSERT("array sizes negative or too large");
    return kArgErr;
  }
  uInt32 oldBytes;
  if (es > 0 && (__builtin_mul_overflow(uInt32(old), uInt32(es), &oldBytes) || oldBytes > uInt32(size - header))) {
    DATA_ASSERT("array sizes claim more elements than the handle holds");
    return kArgErr;
  }
  if (old >= count) {
    if (old == count) return kNoErr;
    if (numeric || DataShape(elemTD) == 0) return DSSetCheckedHandleSize(h, newSize, false);
    for (int32 i = count; i < old; ++i) {
      uChar* e = *h + header + i * es;
      Release(elemTD, e, e + es, true);
    }
    // The removed elements are gone: the array has its new count even when
    // the memory manager keeps the room it no longer needs.
    DSSetCheckedHandleSize(h, newSize, false);
    return kNoErr;
  }
  if (MgErr err = DSSetCheckedHandleSize(h, newSize, true)) return err;
  // New elements are zero bytes, also where the handle held bytes past the
  // old elements.
  int32 from = header + old * es;
  int32 to = size < newSize ? size : newSize;
  if (to > from) std::memset(*h + from, 0, size_t(to - from));
  return kNoErr;
}

MgErr ArrayResize(const TypeDescriptor* elemTD, int32 n, UHandle* array, int32** sizes) {
  if (!array || n < 0 || n > 0x7FFF) {
    DATA_ASSERT("array resize without handle address or with a rank outside 0 to 0x7FFF");
    return kArgErr;
  }
  const int32* list = sizes ? *sizes : nullptr;
  int32 count = 0;
  // The sizes may lie in the handle being resized: keep a copy.
  RankBuffer copy(n);
  if (!copy.ok()) return kMemFullErr;
  if (list) {
    std::memcpy(copy.get(), list, size_t(n) * 4);
    count = NArrayElts(n, copy.get());
    if (count < 0) return kMemFullErr;
  }
  if (MgErr err = ArrayResizeElts(elemTD, n, array, count)) return err;
  if (*array) {
    if (list)
      std::memcpy(**array, copy.get(), size_t(n) * 4);
    else
      std::memset(**array, 0, size_t(n) * 4);
  }
  return kNoErr;
}
