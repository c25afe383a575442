// Flattened data read from memory: from a handle, a counted string or any
// bytes.  Every count is checked against the bytes left before anything is
// read or allocated; the destination stays a valid datum throughout.
#include <climits>

#include "flat_internal.h"

namespace flat {

namespace {

class MemReader {
 public:
  MemReader(const uChar* src, int32 flags) : src_(src), flags_(flags) {}

  // Reads the datum of t at pos, with avail bytes left, into d (or nowhere).
  int64_t Read(const uChar* t, uChar* d, int64_t pos, int64_t avail);

 private:
  int64_t ReadString(const uChar* t, uChar* d, int64_t pos, int64_t avail);
  int64_t ReadHandle(uChar* d, int64_t pos, int64_t avail);
  int64_t ReadPath(uChar* d, int64_t pos, int64_t avail);
  int64_t ReadUnion(const uChar* t, uChar* d, int64_t pos, int64_t avail);
  int64_t ReadArray(const uChar* t, uChar* d, int64_t pos, int64_t avail);
  // The elements of a dense run: count of them at dst (or nowhere).
  int64_t ReadDense(const ArrayTD& a, const int32* sizes, int32 count, UHandle h, int64_t pos, int64_t avail);
  // The elements of the flat shape into a destination of another shape.
  int64_t ReadReshaped(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h, int64_t pos,
                       int64_t avail);

  const uChar* src_;
  int32 flags_;
};

// Bit j of a row of packed words (host order) at words.
inline bool PackedBit(const uChar* words, int64_t j) {
  return (GetBE16(words + 2 * (j >> 4)) & (0x8000u >> (j & 15))) != 0;
}

int64_t MemReader::Read(const uChar* t, uChar* d, int64_t pos, int64_t avail) {
  t = Skip(t);
  uChar c = Code(t);
  if (int32 s = ScalarFlatSize(c, flags_)) {
    if (avail < s) {
      // Short: the value reads as 0 and its size is still reported.
      if (d) std::memset(d, 0, size_t(DataSize(T(t))));
      return s;
    }
    if (d) {
      GetScalar(c, src_ + pos, d, flags_);
      if (IsEnumCode(c)) ClampEnum(t, d);
    }
    return s;
  }
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return 0;
    case kTDString: case kTDString33: case kTDString37:
      return ReadString(t, d, pos, avail);
    case kTDHandle:
      return ReadHandle(d, pos, avail);
    case kTDPath:
      return ReadPath(d, pos, avail);
    case kTDStringView:
    case kTDArrayView:
      // Views point into memory that flat data cannot give.
      return avail + 1;
    case kTDArray:
      return ReadArray(t, d, pos, avail);
    case kTDCluster: {
      int64_t total = 0;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        total += Read(B(el), d ? d + off : nullptr, pos + total, avail - total);
        return total <= avail;
      });
      return total;
    }
    case kTDUnion:
      return ReadUnion(t, d, pos, avail);
    case kTDVariant:
      if (avail < kVariantDataSize) return avail + 1;
      if (d) {
        EmptyData(T(t), d, d + kVariantDataSize);
        if (VariantTravels(src_ + pos)) std::memcpy(d, src_ + pos, kVariantDataSize);
      }
      return kVariantDataSize;
    case kTDFunction:
      DATA_ASSERT("unflattening a function TD");
      return 0;
    default: {
      int32 n = DataSize(T(t));
      if (n <= 0) return 0;
      if (d) {
        if (avail < n)
          std::memset(d, 0, size_t(n));
        else
          std::memcpy(d, src_ + pos, size_t(n));
      }
      return n;
    }
  }
}

int64_t MemReader::ReadString(const uChar* t, uChar* d, int64_t pos, int64_t avail) {
  if (avail < 4) return avail + 1;
  int32 c = int32(GetBE32(src_ + pos));
  if (c < 0 || c > avail - 4) return avail + 1;
  if (!d) return 4 + int64_t(c);
  int32 field = LoadI32(t + 4);
  LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (field == kTDVariable) {
    if (!h) {
      uh = DSNewHandle(4 + c);
      if (!uh) return avail + 1;
      StoreH(d, uh);
      h = reinterpret_cast<LStrHandle>(uh);
    } else if (DSSetHandleSize(uh, 4 + c) != kNoErr) {
      return avail + 1;
    }
    if (c) std::memcpy((*h)->str, src_ + pos + 4, size_t(c));
    (*h)->cnt = c;
    return 4 + int64_t(c);
  }
  // Bounded and fixed strings hold exactly 4 + bound bytes; a new element of a
  // variable array holds none yet.
  int32 bound = field & 0x7FFFFFFF;
  if (bound > INT32_MAX - 4) return avail + 1;
  if (!h) {
    h = dm::NewEmptyString(field);
    if (!h) return avail + 1;
    StoreH(d, h);
  } else if (DSGetHandleSize(uh) != 4 + bound && DSSetHSzClr(uh, 4 + bound) != kNoErr) {
    return avail + 1;
  }
  int32 m = c < bound ? c : bound;
  if (m) std::memcpy((*h)->str, src_ + pos + 4, size_t(m));
  dm::SetBoundedCount(h, field, m);
  return 4 + int64_t(c);
}

int64_t MemReader::ReadHandle(uChar* d, int64_t pos, int64_t avail) {
  if (avail < 4) return avail + 1;
  int32 c = int32(GetBE32(src_ + pos));
  if (c < 0 || c > avail - 4) return avail + 1;
  if (!d) return 4 + int64_t(c);
  UHandle h = LoadH(d);
  if (!h) {
    h = AZNewHandle(c);
    if (!h) return avail + 1;
    StoreH(d, h);
  } else if (AZSetHandleSize(h, c) != kNoErr) {
    return avail + 1;
  }
  if (c) std::memcpy(*h, src_ + pos + 4, size_t(c));
  return 4 + int64_t(c);
}

int64_t MemReader::ReadPath(uChar* d, int64_t pos, int64_t avail) {
  int32 room = avail > 0x7FFFFFFE ? 0x7FFFFFFE : int32(avail);
  const uChar* flat = src_ + pos;
  if (!d) return FUnFlattenPathData(flat, nullptr, room);
  Path p = reinterpret_cast<Path>(LoadH(d));
  bool given = p != nullptr;
  int32 used = FUnFlattenPathData(flat, &p, room);
  if (used <= room) {
    StoreH(d, p);
    return used;
  }
  if (given) {
    // The form of no path (a body shorter than a path's header) reads into an
    // existing path as the empty value, a null handle.
    int32 none = FUnFlattenPathData(flat, nullptr, room);
    if (none <= room) {
      FDisposePath(p);
      StoreH(d, nullptr);
      return none;
    }
  }
  return avail + 1;
}

int64_t MemReader::ReadUnion(const uChar* t, uChar* d, int64_t pos, int64_t avail) {
  if (avail < 2) return avail + 1;
  int32 sel = int16(GetBE16(src_ + pos));
  if (sel < 0 || sel >= LoadI16(t + 4)) return 0;
  // Another element with handles goes before the new one is made.
  if (d && dm::SwitchUnionElement(T(t), d, sel) != kNoErr) return avail + 1;
  return Read(B(ElemTD(T(t), sel)), d, pos, avail);
}

int64_t MemReader::ReadArray(const uChar* t, uChar* d, int64_t pos, int64_t avail) {
  ArrayTD a = ArrayOf(t, flags_);
  int32 n = a.rank;
  if (avail < 4 * int64_t(n)) return avail + 1;
  dm::RankBuffer buf(2 * n);
  if (!buf.ok()) return avail + 1;
  int32* sizes = buf.get();
  int32* dst = sizes + n;
  for (int32 k = 0; k < n; ++k) sizes[k] = int32(GetBE32(src_ + pos + 4 * k));
  int32 count = NArrayElts(n, sizes);
  if (count < 0) return avail + 1;
  pos += 4 * n;
  int64_t rem = avail - 4 * n;
  // No allocation before the bytes left could hold the elements, nor for
  // elements that would take more memory than their flat bytes justify.
  int64_t least = a.oldBools ? 2 * PackedOf(n, sizes).words : SatMul(count, LeastSize(a.elem, flags_));
  if (least > rem) return avail + 1;
  if (count > 0 && ArrayTDBoundElts(T(a.t)) == -1 && !ElementMemoryFits(a.elem, flags_)) return avail + 1;
  if (!d) {
    int64_t used = ReadDense(a, sizes, count, nullptr, pos, rem);
    return used > rem ? avail + 1 : 4 * n + used;
  }
  UHandle h = LoadH(d);
  int32 bound = ArrayTDBoundElts(T(a.t));
  if (bound != -1) {
    if (bound == INT32_MIN) return avail + 1;
    bool same;
    if (PrepareBoundArray(a, bound, sizes, d, dst, &same) != kNoErr) return avail + 1;
    h = LoadH(d);
    int64_t used = same ? ReadDense(a, sizes, count, h, pos, rem) : ReadReshaped(a, sizes, dst, h, pos, rem);
    return used > rem ? avail + 1 : 4 * n + used;
  }
  bool anySize = false;
  for (int32 k = 0; k < n; ++k) anySize = anySize || sizes[k] != 0;
  if (ArrayResizeElts(T(a.elem), n, &h, count == 0 && anySize ? -1 : count) != kNoErr) return avail + 1;
  StoreH(d, h);
  if (n) std::memcpy(*h, sizes, size_t(n) * 4);
  int64_t used = ReadDense(a, sizes, count, h, pos, rem);
  return used > rem ? avail + 1 : 4 * n + used;
}

int64_t MemReader::ReadDense(const ArrayTD& a, const int32* sizes, int32 count, UHandle h, int64_t pos,
                             int64_t avail) {
  if (count == 0) return 0;
  const uChar* s = src_ + pos;
  if (a.oldBools) {
    Packed g = PackedOf(a.rank, sizes);
    if (2 * g.words > avail) return avail + 1;
    if (h) {
      uChar* e = *h + a.header;
      for (int64_t r = 0; r < g.rows; ++r)
        for (int32 j = 0; j < g.last; ++j) *e++ = PackedBit(s + 2 * g.wpr * r, j);
    }
    return 2 * g.words;
  }
  int32 cls = EltClass(a.elem, flags_);
  int32 unit, parts;
  if (cls == 1 || (cls > 1 && NumericUnits(Code(a.base), &unit, &parts))) {
    int64_t bytes = int64_t(count) * ConstSize(a.elem, flags_);
    if (bytes > avail) return avail + 1;
    if (!h) return bytes;
    uChar* e = *h + a.header;
    if (cls == 1) {
      std::memcpy(e, s, size_t(count));
      if (IsEnumCode(Code(a.base)))
        for (int32 i = 0; i < count; ++i) ClampEnum(a.base, e + i);
    } else {
      GetElements(a, unit, parts, s, e, count);
    }
    return bytes;
  }
  int64_t total = 0;
  for (int32 i = 0; i < count; ++i) {
    uChar* e = h ? *h + a.header + int64_t(i) * a.elemSize : nullptr;
    int64_t used = Read(a.elem, e, pos + total, avail - total);
    total += used;
    if (total > avail) return total;
    // Elements without data and without flat bytes all read alike.
    if (used == 0 && a.elemSize == 0) break;
  }
  return total;
}

int64_t MemReader::ReadReshaped(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h,
                                int64_t pos, int64_t avail) {
  Packed g = PackedOf(a.rank, flatSizes);
  if (a.oldBools && 2 * g.words > avail) return avail + 1;
  int64_t total = 0;
  // The flat elements in order; those inside the destination's shape are kept.
  bool ok = ForFlatShape(a, flatSizes, dstSizes, h, [&](int32 i, uChar* e, int32 j) {
    if (a.oldBools) {
      if (e) *e = PackedBit(src_ + pos + 2 * g.wpr * (i / g.last), j);
      return true;
    }
    int64_t used = Read(a.elem, e, pos + total, avail - total);
    total += used;
    // Elements without data and without flat bytes all read alike.
    return total <= avail && !(used == 0 && a.elemSize == 0);
  });
  if (!ok || total > avail) return avail + 1;
  if (a.oldBools) total = 2 * g.words;
  return ResetOutside(a, flatSizes, dstSizes, h) == kNoErr ? total : avail + 1;
}

}  // namespace

MgErr PrepareBoundArray(const ArrayTD& a, int32 bound, const int32* sizes, uChar* d, int32* dst, bool* same) {
  UHandle h = LoadH(d);
  if (!h) {
    // A new element of a variable array: the room its type gives is made first.
    if (MgErr err = InitEmptyData(T(a.t), d)) {
      DisposeData(T(a.t), d, d + 4);
      return err;
    }
    h = LoadH(d);
  }
  int32 cap = dm::Capacity(h, a.header, a.elemSize);
  if (cap != -1 && cap != (bound & 0x7FFFFFFF)) return kArgErr;
  *same = true;
  for (int32 k = 0; k < a.rank; ++k) {
    int32 f = a.Field(k);
    dst[k] = TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : (f < sizes[k] ? f : sizes[k]);
    StoreI32(*h + 4 * k, dst[k]);
    *same = *same && dst[k] == sizes[k];
  }
  return kNoErr;
}

MgErr ResetOutside(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h) {
  // Elements of no bytes have nothing to reset, and a fixed shape may count
  // any number of them.
  if (a.elemSize == 0) return kNoErr;
  int32 n = a.rank;
  dm::RankBuffer buf(n);
  if (!buf.ok()) return kMemFullErr;
  int32* idx = buf.get();
  std::memset(idx, 0, size_t(n) * 4);
  int32 count = NArrayElts(n, dstSizes);
  for (int32 i = 0; i < count; ++i) {
    bool outside = false;
    for (int32 k = 0; k < n; ++k) outside = outside || idx[k] >= flatSizes[k];
    if (outside) {
      if (MgErr err = ResetData(T(a.elem), *h + a.header + int64_t(i) * a.elemSize)) return err;
    }
    for (int32 k = n - 1; k >= 0; --k) {
      if (++idx[k] < dstSizes[k]) break;
      idx[k] = 0;
    }
  }
  return kNoErr;
}

int64_t ReadMem(const uChar* src, const uChar* t, uChar* d, int64_t avail, int32 flags) {
  MemReader r(src, flags);
  return r.Read(t, d, 0, avail);
}

}  // namespace flat

using namespace flat;

namespace {

constexpr int32 kMostAvailable = 0x7FFFFFFE;

int32 Clip(int64_t used) { return used > INT32_MAX ? INT32_MAX : int32(used); }

}  // namespace

int32 UnFlattenData(UHandle src, int32 offset, const TypeDescriptor* td, void* dst, int32 available,
                    int32 flags) {
  if (!td) {
    DATA_ASSERT("unflattening without TD");
    return available < 0 ? 1 : Clip(int64_t(available) + 1);
  }
  int64_t avail = available < 0 ? 0 : available > kMostAvailable ? kMostAvailable : available;
  static const uChar kNothing = 0;
  const uChar* base = src && *src ? *src + offset : nullptr;
  if (!base) {
    // No bytes: only a datum whose flat form is empty can be read.
    if (avail > 0) return Clip(avail + 1);
    base = &kNothing;
  }
  return Clip(ReadMem(base, B(td), static_cast<uChar*>(dst), avail, flags));
}

int32 UnFlattenFromMem(UHandle src, int32 offset, const TypeDescriptor* td, void* dst, int32 length,
                       int32 flags) {
  int32 used = UnFlattenData(src, offset, td, dst, length, flags);
  int32 avail = length < 0 ? 0 : length > kMostAvailable ? kMostAvailable : length;
  if (used > avail && td && dst) {
    uChar* d = static_cast<uChar*>(dst);
    EmptyData(td, d, d + DataSize(td));
  }
  return used;
}

Bool32 UnFlattenFromString(LStrHandle str, const TypeDescriptor* td, void* dst, int32 flags) {
  int32 count = str && *str ? LStrLen(*str) : 0;
  int32 used = UnFlattenFromMem(reinterpret_cast<UHandle>(str), 4, td, dst, count, flags);
  return used > count;
}

int32 UnFlatten_Old(UHandle src, int32 offset, UHandle tdHandle, int32 tdOffset, void* dst, int32 length) {
  if (!tdHandle || !*tdHandle) return length < 0 ? 1 : Clip(int64_t(length) + 1);
  return UnFlattenFromMem(src, offset, T(*tdHandle + tdOffset), dst, length, 0);
}

Bool32 UnFlattenQXStr_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, void* dst) {
  if (!tdHandle || !*tdHandle) return 1;
  return UnFlattenFromString(str, T(*tdHandle + tdOffset), dst, 0);
}

Bool32 UnFlattenQXStrConvert_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, void* dst, int32 options) {
  if (!tdHandle || !*tdHandle) return 1;
  int32 flags = (options & kFlatOptionOldBooleans) ? kFlatOldBooleans : 0;
  return UnFlattenFromString(str, T(*tdHandle + tdOffset), dst, flags);
}
