// Transpose, rotate, reverse, reshape and initialise whole arrays, and the
// lock of handle data into plain pointers for external code.
#include "rtlib/arrayxform.h"

#include <algorithm>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "rtlib/datasupp_internal.h"

namespace {

int32 LoadI32(const void* p) { return int32(GetNative32(p)); }
void StoreI32(void* p, int32 v) { PutNative32(p, uInt32(v)); }

// Scratch blocks of a transpose up to this many element bytes are kept.
constexpr int32 kKeepScratchBytes = 16384;

// The unit in which elements of es bytes are moved: 1 when odd, 2 when even
// but no multiple of 4, else 4; smaller when the data is not aligned to it.
int32 MoveUnit(int32 es, const void* a, const void* b) {
  int32 unit = (es & 1) ? 1 : (es & 3) ? 2 : 4;
  uintptr_t bits = reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b);
  while (unit > 1 && (bits & uintptr_t(unit - 1))) unit >>= 1;
  return unit;
}

// Element (i, j) of the r x c source goes to (j, i) of the destination, in
// tiles so that both sides stay in the cache; w units per element.
template <class U>
void TransposeUnits(const U* src, U* dst, size_t r, size_t c, size_t w) {
  constexpr size_t kTile = 32;
  for (size_t i0 = 0; i0 < r; i0 += kTile) {
    size_t i1 = std::min(i0 + kTile, r);
    for (size_t j0 = 0; j0 < c; j0 += kTile) {
      size_t j1 = std::min(j0 + kTile, c);
      if (w == 1) {
        for (size_t i = i0; i < i1; ++i)
          for (size_t j = j0; j < j1; ++j) dst[j * r + i] = src[i * c + j];
      } else if (w == 2) {
        // Eight-byte elements (DBL, I64) in two units, without an inner loop.
        for (size_t i = i0; i < i1; ++i)
          for (size_t j = j0; j < j1; ++j) {
            const U* s = src + (i * c + j) * 2;
            U* d = dst + (j * r + i) * 2;
            d[0] = s[0];
            d[1] = s[1];
          }
      } else {
        for (size_t i = i0; i < i1; ++i)
          for (size_t j = j0; j < j1; ++j)
            for (size_t k = 0; k < w; ++k) dst[(j * r + i) * w + k] = src[(i * c + j) * w + k];
      }
    }
  }
}

template <class U>
void ReverseUnits(U* p, size_t count, size_t w) {
  if (w == 1) {
    std::reverse(p, p + count);
    return;
  }
  U* a = p;
  U* b = p + (count - 1) * w;
  while (a < b) {
    for (size_t k = 0; k < w; ++k) std::swap(a[k], b[k]);
    a += w;
    b -= w;
  }
}

// The element count of an array handle of rank n whose elements of es bytes
// start at header; -1, reported, when its sizes are negative, overflow or
// claim more than the handle holds.  A null handle holds 0.
int32 HeldCount(UHandle h, int32 n, int32 header, int32 es) {
  if (!h) return 0;
  int32 size = DSGetHandleSize(h);
  if (size < header || size < 4 * n) {
    DSUPP_ASSERT("array handle smaller than its header");
    return -1;
  }
  int32 count = NArrayElts(n, reinterpret_cast<const int32*>(*h));
  if (count < 0 || int64(count) * es > size - header) {
    DSUPP_ASSERT("array sizes negative, too large or past the handle");
    return -1;
  }
  return count;
}

bool RankOK(int32 n) {
  if (n >= 0 && n <= 0x7FFF) return true;
  DSUPP_ASSERT("array rank outside 0 to 0x7FFF");
  return false;
}

}  // namespace

// ---- Transpose, rotate, reverse ---------------------------------------------------

MgErr TransposeArray(ArrayHandle array, ArrayHandle* scratch, int32 elementSize, int32 firstOffset) {
  if (!array) return kNoErr;
  int32 size = DSGetHandleSize(array);
  if (size < 8) {
    DSUPP_ASSERT("transpose of a handle without two sizes");
    return kArgErr;
  }
  int32 r = LoadI32(*array);
  int32 c = LoadI32(*array + 4);
  if (r < 0 || c < 0) {
    DSUPP_ASSERT("transpose of negative sizes");
    return kArgErr;
  }
  if (r < 2 || c < 2) {
    StoreI32(*array, c);
    StoreI32(*array + 4, r);
    return kNoErr;
  }
  if (!scratch || elementSize <= 0 || firstOffset < 8) {
    DSUPP_ASSERT("transpose without scratch, with no element size or an offset inside the sizes");
    return kArgErr;
  }
  int32 n = HeldCount(array, 2, firstOffset, elementSize);
  if (n < 0) return kArgErr;
  int32 bytes = firstOffset + n * elementSize;
  // The scratch is the caller's: made or resized when its count differs (or
  // it could not hold the elements).
  UHandle s = *scratch;
  if (!s) {
    s = DSNewHandle(bytes);
    if (!s) return kMemFullErr;
    *scratch = s;
  } else {
    int32 have = DSGetHandleSize(s);
    if (have < 0) return kArgErr;
    int32 held = have >= 8 ? NArrayElts(2, reinterpret_cast<const int32*>(*s)) : -1;
    if (held != n || have < bytes) {
      if (DSSetHandleSize(s, bytes)) return kMemFullErr;
    }
  }
  std::memcpy(*s, *array, size_t(firstOffset));
  StoreI32(*s, c);
  StoreI32(*s + 4, r);
  const uChar* from = *array + firstOffset;
  uChar* to = *s + firstOffset;
  int32 unit = MoveUnit(elementSize, from, to);
  size_t w = size_t(elementSize / unit);
  switch (unit) {
    case 4:
      TransposeUnits(reinterpret_cast<const uInt32*>(from), reinterpret_cast<uInt32*>(to), size_t(r), size_t(c), w);
      break;
    case 2:
      TransposeUnits(reinterpret_cast<const uInt16*>(from), reinterpret_cast<uInt16*>(to), size_t(r), size_t(c), w);
      break;
    default:
      TransposeUnits(from, to, size_t(r), size_t(c), w);
      break;
  }
  std::memcpy(*array, *s, size_t(bytes));
  if (bytes - firstOffset > kKeepScratchBytes) {
    // An empty 2-D array; the room goes back.
    DSSetHandleSize(s, 8);
    std::memset(*s, 0, 8);
  }
  return kNoErr;
}

namespace {

// A saved part of more bytes would be a large block, whose pages come fresh
// from the host at every call: such a part is rotated in place instead, in
// the units of the size rule, and needs no block at all.
constexpr int64 kRotateScratchMax = 16383;

template <class U>
void RotateUnits(void* data, size_t n, size_t first) {
  U* p = static_cast<U*>(data);
  std::rotate(p, p + first, p + n);
}

// Rotates count elements of es bytes so that element first comes first.
void RotateInPlace(void* data, int32 count, int32 first, int32 es) {
  int32 unit = MoveUnit(es, data, data);
  size_t w = size_t(es / unit);
  size_t n = size_t(count) * w, f = size_t(first) * w;
  switch (unit) {
    case 4: RotateUnits<uInt32>(data, n, f); break;
    case 2: RotateUnits<uInt16>(data, n, f); break;
    default: RotateUnits<uChar>(data, n, f); break;
  }
}

}  // namespace

MgErr RotateArray(int32 shift, int32 count, void* data, int32 elementSize) {
  if (count < 2) return kNoErr;
  if (elementSize <= 0 || !data) {
    DSUPP_ASSERT("rotate without data or with no element size");
    return kNoErr;
  }
  int32 k = shift % count;
  if (k == 0) return kNoErr;
  // More than half the count one way is the rest the other way.
  if (k > count / 2)
    k -= count;
  else if (-k > count / 2)
    k += count;
  int32 m = k < 0 ? -k : k;
  int64 part = int64(m) * elementSize;
  int64 rest = int64(count - m) * elementSize;
  if (part > kRotateScratchMax) {
    RotateInPlace(data, count, k > 0 ? count - m : m, elementSize);
    return kNoErr;
  }
  UHandle tmp = DSNewHandle(int32(part));
  if (!tmp) return kMemFullErr;
  uChar* p = static_cast<uChar*>(data);
  if (k > 0) {
    std::memcpy(*tmp, p + rest, size_t(part));
    std::memmove(p + part, p, size_t(rest));
    std::memcpy(p, *tmp, size_t(part));
  } else {
    std::memcpy(*tmp, p, size_t(part));
    std::memmove(p, p + part, size_t(rest));
    std::memcpy(p + rest, *tmp, size_t(part));
  }
  return DSDisposeHandle(tmp);
}

void ReverseArray(int32 count, void* data, int32 elementSize) {
  if (count < 2) return;
  if (elementSize <= 0 || !data) {
    DSUPP_ASSERT("reverse without data or with no element size");
    return;
  }
  int32 unit = MoveUnit(elementSize, data, data);
  size_t w = size_t(elementSize / unit);
  switch (unit) {
    case 4: ReverseUnits(static_cast<uInt32*>(data), size_t(count), w); break;
    case 2: ReverseUnits(static_cast<uInt16*>(data), size_t(count), w); break;
    default: ReverseUnits(static_cast<uChar*>(data), size_t(count), w); break;
  }
}

// ---- Reshape and initialise ---------------------------------------------------------

MgErr ReshapeArray(UHandle tdHandle, int32 tdOffset, ArrayHandle* src, ArrayHandle* dst, int32 srcRank,
                   int32 dstRank, const int32* sizes) {
  if (!src || !*src || !dst || !*dst) {
    DSUPP_ASSERT("reshape without source or destination handle");
    return kArgErr;
  }
  const TypeDescriptor* elem = dsupp::TDAt(tdHandle, tdOffset);
  if (!elem || !RankOK(srcRank) || !RankOK(dstRank)) return kArgErr;
  uChar code = SkipTypedefs(elem)->code;
  if (code == kTDArray || code == kTDArrayView) {
    DSUPP_ASSERT("reshape with an array as element TD");
    return kArgErr;
  }
  if (dstRank > 0 && !sizes) {
    DSUPP_ASSERT("reshape without sizes");
    return kArgErr;
  }
  int32 es = DataSize(elem);
  int32 sh = AlignDatum(elem, 4 * srcRank);
  int32 dh = AlignDatum(elem, 4 * dstRank);
  bool same = *src == *dst;
  int32 srcCount = HeldCount(*src, srcRank, sh, es);
  int32 oldCount = same ? srcCount : HeldCount(*dst, dstRank, dh, es);
  if (srcCount < 0 || oldCount < 0) return kArgErr;
  // The sizes may lie in either handle: keep a copy.
  dm::RankBuffer copy(dstRank);
  if (!copy.ok()) return kMemFullErr;
  if (dstRank) std::memcpy(copy.get(), sizes, size_t(dstRank) * 4);
  int32 count = NArrayElts(dstRank, copy.get());
  if (count < 0 || (es > 0 && count >= kMaxArrayBytes / es)) return kMemFullErr;
  int32 newSize = dh + count * es;
  UHandle h = *dst;
  int32 oldSize = DSGetHandleSize(h);
  if (newSize > oldSize) {
    if (MgErr err = DSSetHSzClr(h, newSize)) return err;
  }
  const UHandle s = *src;
  int32 keep = std::min(srcCount, count);
  bool flat = DataShape(elem) == 0;
  MgErr first = kNoErr;
  // Bytes the grown handle did not clear: [from, end) past what stays.
  auto clearFrom = [&](int32 from) {
    int32 end = std::min(newSize, oldSize);
    if (end > from) std::memset(*h + from, 0, size_t(end - from));
  };
  if (same) {
    // The kept elements move to the new header's end; dropped ones go.
    if (!flat)
      for (int32 i = keep; i < srcCount; ++i) DisposeData(elem, *h + sh + i * es, *h + sh + (i + 1) * es);
    if (sh != dh && keep > 0) std::memmove(*h + dh, *h + sh, size_t(keep) * size_t(es));
    clearFrom(dh + keep * es);
  } else if (flat) {
    if (keep > 0) std::memmove(*h + dh, *s + sh, size_t(keep) * size_t(es));
    clearFrom(dh + keep * es);
  } else {
    // Room past the old elements holds no datum yet.
    clearFrom(dh + oldCount * es);
    for (int32 i = 0; i < keep && !first; ++i) first = CopyData(elem, *s + sh + i * es, *h + dh + i * es);
    for (int32 i = keep; i < oldCount; ++i) DisposeData(elem, *h + dh + i * es, *h + dh + (i + 1) * es);
  }
  std::memcpy(*h, copy.get(), size_t(dstRank) * 4);
  if (!flat)
    for (int32 i = keep; i < count; ++i) {
      MgErr err = InitEmptyData(elem, *h + dh + i * es);
      if (!first) first = err;
    }
  // Shrinking cannot fail in a way that loses data: the elements past the
  // new count are already gone.
  if (newSize < oldSize) DSSetHandleSize(h, newSize);
  return first;
}

MgErr InitArray(UHandle tdHandle, int32 tdOffset, const void* value, ArrayHandle* array, int32 n,
                const int32* sizes) {
  const TypeDescriptor* elem = dsupp::TDAt(tdHandle, tdOffset);
  if (!elem || !RankOK(n)) return kArgErr;
  if (!value || !array || (n > 0 && !sizes)) {
    DSUPP_ASSERT("array initialisation without value, handle address or sizes");
    return kArgErr;
  }
  dm::RankBuffer dims(n);
  if (!dims.ok()) return kMemFullErr;
  for (int32 k = 0; k < n; ++k) dims.get()[k] = sizes[k] < 0 ? 0 : sizes[k];
  int32 count = NArrayElts(n, dims.get());
  if (count < 0) return kMemFullErr;
  int32 es = DataSize(elem);
  bool flat = DataShape(elem) == 0;
  // The value may lie in the array, which the resize may move: keep its
  // bytes.
  dm::RankBuffer bytes(flat ? (es + 3) / 4 : 0);
  if (!bytes.ok()) return kMemFullErr;
  if (flat) std::memcpy(bytes.get(), value, size_t(es));
  if (MgErr err = SetArraySize(tdHandle, tdOffset, n, array, count)) return err;
  std::memcpy(**array, dims.get(), size_t(n) * 4);
  int32 header = AlignDatum(elem, 4 * n);
  if (!flat) {
    // Each copy may move the block: its address is taken anew.
    for (int32 i = 0; i < count; ++i)
      if (MgErr err = CopyData(elem, value, **array + header + i * es)) return err;
    return kNoErr;
  }
  if (count == 0 || es == 0) return kNoErr;
  uChar* base = **array + header;
  std::memcpy(base, bytes.get(), size_t(es));
  size_t total = size_t(count) * size_t(es);
  size_t filled = size_t(es);
  while (filled <= total - filled) {
    std::memcpy(base + filled, base, filled);
    filled *= 2;
  }
  if (filled < total) std::memcpy(base + filled, base, total - filled);
  return kNoErr;
}

// ---- Handle data as plain pointers ----------------------------------------------------

namespace {

// One walk of LockFlat (lock) or UnlockUnflat (unlock) over data and its copy.
class LockWalk {
 public:
  LockWalk(UHandle list, bool lock) : list_(list), lock_(lock) {}

  void Walk(const TypeDescriptor* td, uChar* d, uChar* c) {
    if (stopped_) return;
    td = SkipTypedefs(td);
    const uChar* t = reinterpret_cast<const uChar*>(td);
    if (DataShape(td) == 0) {
      // Flat data travels through the copy.
      if (c) lock_ ? std::memcpy(c, d, size_t(DataSize(td))) : std::memcpy(d, c, size_t(DataSize(td)));
      return;
    }
    switch (td->code) {
      case kTDString:
      case kTDString37:
        Handle(d, c, [](UHandle h) { return h && LoadI32(*h) > 0 ? *h + 4 : nullptr; });
        return;
      case kTDArray: {
        int32 rank = int16(GetNative16(t + 4));
        const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(t + 6 + 4 * rank);
        int32 header = AlignDatum(elem, 4 * rank);
        int32 es = DataSize(elem);
        Handle(d, c, [&](UHandle h) -> uChar* {
          int32 count = HeldCount(h, rank, header, es);
          if (count <= 0) return nullptr;
          if (DataShape(elem) != 0)
            for (int32 i = 0; i < count && !stopped_; ++i) Walk(elem, *h + header + i * es, nullptr);
          return *h + header;
        });
        return;
      }
      case kTDCluster: {
        int32 off = 0;
        for (int32 i = 0, n = int16(GetNative16(t + 4)); i < n && !stopped_; ++i) {
          const TypeDescriptor* el = ElemTD(td, i);
          off = AlignDatum(el, off);
          Walk(el, d + off, c ? c + off : nullptr);
          off += DataSize(el);
        }
        return;
      }
      case kTDUnion: {
        int32 sel = int16(GetNative16(d));
        if (sel >= 0 && sel < int16(GetNative16(t + 4))) Walk(ElemTD(td, sel), d, c);
        return;
      }
      case kTDHandle:
      case kTDPath:
      case kTDString33:
        DSUPP_ASSERT("handle or path in data locked for external code");
        return;
      default:
        // Other data holding handles (views, variants) stays as it is.
        return;
    }
  }

 private:
  // A string or array word: on lock its handle goes on the list and the word
  // (and the copy's) becomes what address() gives; on unlock the handle
  // comes back from the list, then address() walks what it holds.
  template <class Address>
  void Handle(uChar* d, uChar* c, Address address) {
    UHandle h;
    if (lock_) {
      std::memcpy(&h, d, sizeof h);
      if (!Push(h)) return;
      uChar* p = address(h);
      std::memcpy(d, &p, sizeof p);
      if (c) std::memcpy(c, &p, sizeof p);
    } else {
      if (!Pop(&h)) return;
      std::memcpy(d, &h, sizeof h);
      address(h);
    }
  }

  bool Push(UHandle h) {
    int32 n = Count();
    if (n < 0) return false;
    int32 need = 4 + 4 * (n + 1);
    if (need > DSGetHandleSize(list_) && DSSetHandleSize(list_, need) != kNoErr) {
      DSUPP_ASSERT("lock list cannot grow");
      stopped_ = true;
      return false;
    }
    std::memcpy(*list_ + 4 + 4 * n, &h, sizeof h);
    StoreI32(*list_, n + 1);
    return true;
  }

  bool Pop(UHandle* h) {
    int32 n = Count();
    if (n < 0) return false;
    if (4 + 4 * int64(n + 1) > DSGetHandleSize(list_)) {
      // A lock that stopped early: what it did not reach was never replaced.
      stopped_ = true;
      return false;
    }
    std::memcpy(h, *list_ + 4 + 4 * n, sizeof *h);
    StoreI32(*list_, n + 1);
    return true;
  }

  // The list's count; -1, reported, when the list is no handle or its count
  // lies outside it.
  int32 Count() {
    int32 size = DSGetHandleSize(list_);
    int32 n = size >= 4 ? LoadI32(*list_) : -1;
    if (n < 0 || n > (size - 4) / 4 || n >= 0x1FFFFFFE) {
      DSUPP_ASSERT("lock list count outside the list");
      stopped_ = true;
      return -1;
    }
    return n;
  }

  UHandle list_;
  bool lock_;
  bool stopped_ = false;
};

void LockOrUnlock(void* data, void* copy, UHandle tdHandle, int32 tdOffset, UHandle list, bool lock) {
  const TypeDescriptor* td = dsupp::TDAt(tdHandle, tdOffset);
  if (!td) return;
  if (!data || !list) {
    DSUPP_ASSERT("lock without data or lock list");
    return;
  }
  LockWalk(list, lock).Walk(td, static_cast<uChar*>(data), static_cast<uChar*>(copy));
}

}  // namespace

void LockFlat(void* data, void* copy, UHandle tdHandle, int32 tdOffset, UHandle lockList) {
  LockOrUnlock(data, copy, tdHandle, tdOffset, lockList, true);
}

void UnlockUnflat(void* data, void* copy, UHandle tdHandle, int32 tdOffset, UHandle lockList) {
  LockOrUnlock(data, copy, tdHandle, tdOffset, lockList, false);
}
