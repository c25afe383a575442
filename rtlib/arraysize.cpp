// Counting, sizing and resizing of array handles: the family built on the
// engine's core resize, the flat forms, the forms that take a TD handle and
// an offset, and the count of handles in data.
#include "rtlib/arraysize.h"

#include <climits>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "rtlib/datasupp_internal.h"

using dsupp::TDAt;

namespace {

#define ARRAY_ASSERT(text) DSUPP_ASSERT(text)

constexpr int32 kMaxRank = 0x7FFF;

int16 LoadI16(const void* p) { return int16(GetNative16(p)); }
void StoreI32(void* p, int32 v) { PutNative32(p, uInt32(v)); }

// The product of n sizes spaced step words apart, under the 31-bit guard.
int32 GuardedProduct(int32 n, const int32* words, int32 step) {
  if (n < 0 || (n > 0 && !words)) return -1;
  int32 prod = 1;
  for (int32 k = 0; k < n; ++k) {
    int32 d = words[k * step];
    if (d < 0 || BitLength(prod) + BitLength(d) >= 31) return -1;
    prod *= d;
  }
  return prod;
}

// True when count elements of es bytes reach the 1 GiB limit.
bool OverLimit(int32 count, int32 es) { return es > 0 && count >= kMaxArrayBytes / es; }

// What a list or count address points at; null for none.
const int32* Pointee(int32** ref) { return ref ? *ref : nullptr; }
int32 CountOf(int32** ref) {
  const int32* p = Pointee(ref);
  return p ? *p : 0;
}

// The reference of the two that the minimum rule picks for counts: the
// smaller, the second when they are equal, whichever is given.
int32** SmallerCount(int32** a, int32** b) {
  const int32* pa = Pointee(a);
  const int32* pb = Pointee(b);
  if (!pa) return b;
  if (!pb) return a;
  return *pa < *pb ? a : b;
}

// The element-wise minimum of two lists into buf, or whichever list is
// given; null when neither is.
const int32* SmallerSizes(int32** a, int32** b, int32 n, int32* buf) {
  const int32* pa = Pointee(a);
  const int32* pb = Pointee(b);
  if (!pa || !pb) return pa ? pa : pb;
  for (int32 k = 0; k < n; ++k) buf[k] = pa[k] < pb[k] ? pa[k] : pb[k];
  return buf;
}

bool RankOK(int32 n) {
  if (n >= 0 && n <= kMaxRank) return true;
  ARRAY_ASSERT("array rank outside 0 to 0x7FFF");
  return false;
}

// The flat resize: count elements of es bytes after a header of hs bytes,
// then the header's n words set from sizes (cleared when null).  The handle
// is resized only when count differs from its header's count.
MgErr FlatResize(int32 es, int32 hs, int32 n, ArrayHandle* array, const int32* sizes, int32 count) {
  if (count < 0 || OverLimit(count, es)) return kMemFullErr;
  int64 want = int64(hs) + int64(count) * es;
  if (want > INT32_MAX) return kMemFullErr;
  UHandle h = *array;
  if (!h) {
    h = DSNewHClr(int32(want));
    if (!h) return kMemFullErr;
    *array = h;
  } else {
    int32 size = DSGetHandleSize(h);
    if (size < hs) {
      ARRAY_ASSERT("flat array handle smaller than its header");
      return kArgErr;
    }
    int32 old = NArrayElts(n, reinterpret_cast<const int32*>(*h));
    if (old < 0) {
      ARRAY_ASSERT("flat array sizes negative or too large");
      return kArgErr;
    }
    if (int64(old) * es > size - hs) {
      ARRAY_ASSERT("flat array sizes claim more elements than the handle holds");
      return kArgErr;
    }
    if (old != count) {
      if (MgErr err = DSSetHSzClr(h, int32(want))) return err;
      // Added elements are zero bytes, also where the handle held bytes past
      // the old elements.
      int32 from = hs + old * es;
      int32 to = size < want ? size : int32(want);
      if (to > from) std::memset(*h + from, 0, size_t(to - from));
    }
  }
  if (sizes)
    std::memmove(*h, sizes, size_t(n) * 4);
  else
    std::memset(*h, 0, size_t(n) * 4);
  return kNoErr;
}

bool FlatArgsOK(ArrayHandle* array, int32 es, int32 hs, int32 n) {
  if (!RankOK(n)) return false;
  if (!array || es < 0 || hs < 4 * n) {
    ARRAY_ASSERT("flat resize without handle address, or with a negative element size or a short header");
    return false;
  }
  return true;
}

// ---- Handles in data ----------------------------------------------------------

// Adds the handles of the data at d (null: the TD alone) to *n; true when
// their number depends on the data.
bool CountWalk(const TypeDescriptor* td, const uChar* d, int64* n);

// The handles inside the elements of the array handle at d.
void CountElements(const TypeDescriptor* elem, int32 rank, const uChar* d, int64* n) {
  UHandle h;
  std::memcpy(&h, d, sizeof h);
  if (!h) return;
  int32 size = DSGetHandleSize(h);
  int32 header = AlignDatum(elem, 4 * rank);
  if (size < header || size < 4 * rank) {
    ARRAY_ASSERT("array handle smaller than its header");
    return;
  }
  int32 es = DataSize(elem);
  int32 count = NArrayElts(rank, reinterpret_cast<const int32*>(*h));
  if (count < 0) {
    ARRAY_ASSERT("array sizes negative or too large");
    return;
  }
  if (int64(count) * es > size - header) {
    ARRAY_ASSERT("array sizes claim more elements than the handle holds");
    return;
  }
  for (int32 i = 0; i < count; ++i) CountWalk(elem, *h + header + i * es, n);
}

bool CountWalk(const TypeDescriptor* td, const uChar* d, int64* n) {
  td = SkipTypedefs(td);
  const uChar* t = reinterpret_cast<const uChar*>(td);
  switch (td->code) {
    case kTDString:
    case kTDHandle:
    case kTDPath:
    case kTDString33:
    case kTDString37:
      ++*n;
      return false;
    case kTDArray: {
      ++*n;
      int32 rank = LoadI16(t + 4);
      const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(t + 6 + 4 * rank);
      if (DataShape(elem) == 0) return false;
      if (d) CountElements(elem, rank, d, n);
      return true;
    }
    case kTDCluster: {
      bool depends = false;
      int32 off = 0;
      for (int32 i = 0, count = LoadI16(t + 4); i < count; ++i) {
        const TypeDescriptor* el = ElemTD(td, i);
        off = AlignDatum(el, off);
        depends = CountWalk(el, d ? d + off : nullptr, n) || depends;
        off += DataSize(el);
      }
      return depends;
    }
    case kTDUnion: {
      int32 sel = d ? LoadI16(d) : 0;
      if (sel >= 0 && sel < LoadI16(t + 4)) CountWalk(ElemTD(td, sel), d, n);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

const TypeDescriptor* dsupp::TDAt(UHandle tdHandle, int32 tdOffset) {
  if (!tdHandle || !*tdHandle) {
    ARRAY_ASSERT("null TD handle");
    return nullptr;
  }
  int32 size = AZIsHandle(tdHandle) ? AZGetHandleSize(tdHandle)
               : MemIsDSHandle(tdHandle) ? DSGetHandleSize(tdHandle)
                                         : -1;
  if (size < 0) {
    ARRAY_ASSERT("TD handle that is no handle");
    return nullptr;
  }
  if (tdOffset < 0 || tdOffset > size - 4) {
    ARRAY_ASSERT("TD offset outside its handle");
    return nullptr;
  }
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*tdHandle + tdOffset);
  uInt16 tdSize = GetNative16(*tdHandle + tdOffset);
  if (tdSize < 4 || (tdSize != kTDSizeInHolder && tdSize > size - tdOffset)) {
    ARRAY_ASSERT("TD runs past its handle");
    return nullptr;
  }
  return td;
}

// ---- Counting -------------------------------------------------------------------

int32 NSubArrayElts(int32 n, const ArrayViewDim* pairs) {
  return GuardedProduct(n, pairs ? &pairs->size : nullptr, 2);
}

int32 NPackedBoolWords(int32 n, const int32* sizes) {
  if (n == 0) return 1;
  int32 rows = GuardedProduct(n - 1, sizes, 1);
  if (rows < 0 || !sizes) return -1;
  int32 last = sizes[n - 1];
  if (last < 0) return -1;
  int32 words = (last >> 4) + ((last & 15) != 0);
  if (BitLength(rows) + BitLength(words) >= 31) return -1;
  return rows * words;
}

void MakeSubArray(ArrayHandle array, SubArrayDesc* desc, int32 n, int32 firstOffset, int32 elementSize) {
  if (!desc) {
    ARRAY_ASSERT("sub-array without description");
    return;
  }
  desc->ptr = nullptr;
  if (!RankOK(n)) return;
  for (int32 k = 0; k < n; ++k) desc->dims[k] = {0, 0};
  if (!array) return;
  int32 size = DSGetHandleSize(array);
  if (size < 4 * n || elementSize < 0 || firstOffset < 4 * n || firstOffset > size) {
    ARRAY_ASSERT("sub-array of a short handle, a negative element size or an offset outside the elements");
    return;
  }
  const int32* sizes = reinterpret_cast<const int32*>(*array);
  int32 count = NArrayElts(n, sizes);
  if (count < 0 || int64(count) * elementSize > size - firstOffset) {
    ARRAY_ASSERT("sub-array sizes negative, too large or past the handle");
    return;
  }
  desc->ptr = *array + firstOffset;
  int64 stride = elementSize;
  for (int32 k = n - 1; k >= 0; --k) {
    desc->dims[k] = {sizes[k], stride <= INT32_MAX ? int32(stride) : 0};
    // Past 32 bits only an empty array's strides grow; keep them from
    // overflowing 64.
    stride = stride <= INT32_MAX ? stride * sizes[k] : stride;
  }
}

// ---- Resizing -------------------------------------------------------------------

MgErr SetArraySize(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32 count) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  return td ? ArrayResizeElts(td, n, array, count) : kArgErr;
}

MgErr NumericArrayResize(int32 type, int32 n, ArrayHandle* array, int32 count) {
  if (type < 1 || type > 30 || !StdTDTable[type]) {
    ARRAY_ASSERT("numeric array of a type outside 1 to 30");
    return kArgErr;
  }
  return ArrayResizeElts(StdTDTable[type], n, array, count);
}

MgErr VectorResize(const TypeDescriptor* elemTD, ArrayHandle* array, int32** count) {
  int32 c = CountOf(count);
  if (MgErr err = ArrayResizeElts(elemTD, 1, array, c)) return err;
  StoreI32(**array, c == -1 ? 0 : c);
  return kNoErr;
}

MgErr FlatArrayResize(int32 elementSize, int32 headerSize, int32 n, ArrayHandle* array, int32** sizes) {
  if (!FlatArgsOK(array, elementSize, headerSize, n)) return kArgErr;
  const int32* list = Pointee(sizes);
  if (!list) return FlatResize(elementSize, headerSize, n, array, nullptr, 0);
  // The sizes may lie in the handle being resized: keep a copy.
  dm::RankBuffer copy(n);
  if (!copy.ok()) return kMemFullErr;
  std::memcpy(copy.get(), list, size_t(n) * 4);
  return FlatResize(elementSize, headerSize, n, array, copy.get(), NArrayElts(n, copy.get()));
}

MgErr FlatVectorResize(int32 elementSize, int32 headerSize, ArrayHandle* array, int32** count) {
  if (!FlatArgsOK(array, elementSize, headerSize, 1)) return kArgErr;
  int32 c = CountOf(count);
  return FlatResize(elementSize, headerSize, 1, array, &c, NArrayElts(1, &c));
}

MgErr FlatHandleResize(int32 elementSize, int32 headerSize, ArrayHandle* array, int32 count) {
  if (!FlatArgsOK(array, elementSize, headerSize, 0)) return kArgErr;
  if (count == -1) count = 0;
  if (count < 0 || OverLimit(count, elementSize)) return kMemFullErr;
  int64 want = int64(headerSize) + int64(count) * elementSize;
  if (want > INT32_MAX) return kMemFullErr;
  if (*array) return DSSetHSzClr(*array, int32(want));
  UHandle h = DSNewHClr(int32(want));
  if (!h) return kMemFullErr;
  *array = h;
  return kNoErr;
}

MgErr HandleVectorResize(ArrayHandle* array, int32 count) {
  int32* c = &count;
  return FlatVectorResize(1, 4, array, &c);
}

MgErr ArrayResize2(const TypeDescriptor* elemTD, int32 n, ArrayHandle* array, int32** sizes1, int32** sizes2) {
  if (!RankOK(n)) return kArgErr;
  dm::RankBuffer buf(n);
  if (!buf.ok()) return kMemFullErr;
  int32* list = const_cast<int32*>(SmallerSizes(sizes1, sizes2, n, buf.get()));
  return ArrayResize(elemTD, n, array, list ? &list : nullptr);
}

MgErr VectorResize2(const TypeDescriptor* elemTD, ArrayHandle* array, int32** count1, int32** count2) {
  return VectorResize(elemTD, array, SmallerCount(count1, count2));
}

MgErr FlatArrayResize2(int32 elementSize, int32 headerSize, int32 n, ArrayHandle* array, int32** sizes1,
                       int32** sizes2) {
  if (!RankOK(n)) return kArgErr;
  dm::RankBuffer buf(n);
  if (!buf.ok()) return kMemFullErr;
  int32* list = const_cast<int32*>(SmallerSizes(sizes1, sizes2, n, buf.get()));
  return FlatArrayResize(elementSize, headerSize, n, array, list ? &list : nullptr);
}

MgErr FlatVectorResize2(int32 elementSize, int32 headerSize, ArrayHandle* array, int32** count1, int32** count2) {
  return FlatVectorResize(elementSize, headerSize, array, SmallerCount(count1, count2));
}

MgErr ArrayResize_Old(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32** sizes) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  return td ? ArrayResize(td, n, array, sizes) : kArgErr;
}

MgErr VectorResize_Old(UHandle tdHandle, int32 tdOffset, ArrayHandle* array, int32** count) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  return td ? VectorResize(td, array, count) : kArgErr;
}

MgErr ArrayResize2_Old(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32** sizes1,
                       int32** sizes2) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  return td ? ArrayResize2(td, n, array, sizes1, sizes2) : kArgErr;
}

MgErr VectorResize2_Old(UHandle tdHandle, int32 tdOffset, ArrayHandle* array, int32** count1, int32** count2) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  return td ? VectorResize2(td, array, count1, count2) : kArgErr;
}

MgErr SetArraySzAndInflateNewElt(UHandle tdHandle, int32 tdOffset, int32 n, ArrayHandle* array, int32 count) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  if (!td) return kArgErr;
  bool fresh = array && !*array;
  if (MgErr err = ArrayResizeElts(td, n, array, count)) return err;
  // The core checked the header and left it as it was: it still gives the
  // old count.
  const int32* sizes = reinterpret_cast<const int32*>(**array);
  int32 old = fresh ? 0 : n == 1 ? sizes[0] : NArrayElts(n, sizes);
  if (count == -1) count = 0;
  int32 es = DataSize(td);
  int32 header = AlignDatum(td, 4 * n);
  MgErr first = kNoErr;
  for (int32 i = old; i < count; ++i) {
    MgErr err = InitEmptyData(td, **array + header + i * es);
    if (!first) first = err;
  }
  return first;
}

// ---- Handles in data --------------------------------------------------------------

int32 CountDataHandles(const TypeDescriptor* td, const void* data, int32* count) {
  if (!td || !count) {
    ARRAY_ASSERT("handle count without TD or count address");
    if (count) *count = 0;
    return 0;
  }
  int64 n = 0;
  bool depends = CountWalk(td, static_cast<const uChar*>(data), &n);
  *count = n > INT32_MAX ? INT32_MAX : int32(n);
  return depends ? 1 : 0;
}

int32 CountDSHandles_Old(UHandle tdHandle, int32 tdOffset, const void* data, int32* count) {
  const TypeDescriptor* td = TDAt(tdHandle, tdOffset);
  if (!td) {
    if (count) *count = 0;
    return 0;
  }
  return CountDataHandles(td, data, count);
}
