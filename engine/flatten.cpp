// Flattened data: sizes, element classes and the writer.
#include <climits>

#include "flat_internal.h"

namespace flat {

// ---- Scalars ----------------------------------------------------------------------

int32 ScalarFlatSize(uChar c, int32 flags) {
  switch (c) {
    case kTDI8: case kTDU8: case kTDEnumU8:
      return 1;
    case kTDI16: case kTDU16: case kTDEnumU16: case kTDBooleanOld:
      return 2;
    case kTDI32: case kTDU32: case kTDSGL: case kTDEnumU32: case kTDUnitSGL: case kTDRefnum:
      return 4;
    case kTDI64: case kTDU64: case kTDDBL: case kTDUnitDBL: case kTDCSG: case kTDUnitCSG:
      return 8;
    case kTDCDB: case kTDUnitCDB: case kTDEXT: case kTDUnitEXT:
      return 16;
    case kTDCXT: case kTDUnitCXT:
      return 32;
    case kTDBoolean:
      return OldBooleans(flags) ? 2 : 1;
    default:
      return 0;
  }
}

namespace {
inline uInt64 GetNative64(const uChar* p) {
  uInt64 v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void PutNative64(uChar* p, uInt64 v) { std::memcpy(p, &v, 8); }
}  // namespace

void PutScalar(uChar c, const uChar* d, uChar* p, int32 flags) {
  int32 unit, parts;
  if (NumericUnits(c, &unit, &parts))
    SwapUnits(unit, parts, d, p, kToFlat);
  else if (c == kTDBoolean && OldBooleans(flags))
    PutBE16(p, d[0] ? 0x8000 : 0);
  else
    p[0] = d[0];  // 8-bit numerics and booleans
}

void GetScalar(uChar c, const uChar* s, uChar* d, int32 flags) {
  int32 unit, parts;
  if (NumericUnits(c, &unit, &parts))
    SwapUnits(unit, parts, s, d, kFromFlat);
  else if (c == kTDBoolean && OldBooleans(flags))
    d[0] = uChar((GetBE16(s) & 0x8000) != 0);
  else
    d[0] = s[0];
}

void ClampEnum(const uChar* t, uChar* d) {
  int32 n = LoadI16(t + 4);
  uInt32 count = n > 0 ? uInt32(n) : 0;
  uInt32 last = count > 0 ? count - 1 : 0;
  switch (Code(t)) {
    case kTDEnumU8:
      if (d[0] >= count) d[0] = uChar(last);
      break;
    case kTDEnumU16:
      if (GetNative16(d) >= count) PutNative16(d, uInt16(last));
      break;
    case kTDEnumU32:
      if (GetNative32(d) >= count) PutNative32(d, last);
      break;
    default:
      break;
  }
}

bool NumericUnits(uChar c, int32* unit, int32* parts) {
  *parts = 1;
  switch (c) {
    case kTDI16: case kTDU16: case kTDEnumU16: case kTDBooleanOld:
      *unit = 2;
      return true;
    case kTDI32: case kTDU32: case kTDSGL: case kTDEnumU32: case kTDUnitSGL: case kTDRefnum:
      *unit = 4;
      return true;
    case kTDI64: case kTDU64: case kTDDBL: case kTDUnitDBL:
      *unit = 8;
      return true;
    case kTDCSG: case kTDUnitCSG:
      *unit = 4;
      *parts = 2;
      return true;
    case kTDCDB: case kTDUnitCDB:
      *unit = 8;
      *parts = 2;
      return true;
    case kTDEXT: case kTDUnitEXT:
      *unit = 10;
      return true;
    case kTDCXT: case kTDUnitCXT:
      *unit = 10;
      *parts = 2;
      return true;
    default:
      return false;
  }
}

void SwapUnits(int32 unit, int32 n, const uChar* s, uChar* d, bool toFlat) {
  switch (unit) {
    case 2:
      for (int32 i = 0; i < n; ++i)
        if (toFlat) PutBE16(d + 2 * i, GetNative16(s + 2 * i));
        else PutNative16(d + 2 * i, GetBE16(s + 2 * i));
      break;
    case 4:
      for (int32 i = 0; i < n; ++i)
        if (toFlat) PutBE32(d + 4 * i, GetNative32(s + 4 * i));
        else PutNative32(d + 4 * i, GetBE32(s + 4 * i));
      break;
    case 8:
      for (int32 i = 0; i < n; ++i)
        if (toFlat) PutBE64(d + 8 * i, GetNative64(s + 8 * i));
        else PutNative64(d + 8 * i, GetBE64(s + 8 * i));
      break;
    case 10:
      for (int32 i = 0; i < n; ++i)
        if (toFlat) ExtNativeToBE(reinterpret_cast<const floatExt*>(s + 10 * i), d + kFlatExtendedSize * i);
        else ExtBEToNative(s + kFlatExtendedSize * i, reinterpret_cast<floatExt*>(d + 10 * i));
      break;
    default:
      break;
  }
}

void GetElements(const ArrayTD& a, int32 unit, int32 parts, const uChar* s, uChar* d, int32 count) {
  SwapUnits(unit, count * parts, s, d, kFromFlat);
  if (IsEnumCode(Code(a.base)))
    for (int32 i = 0; i < count; ++i) ClampEnum(a.base, d + i * a.elemSize);
}

// ---- Variants ---------------------------------------------------------------------

namespace {
// Kinds of the OLE variant record (its first 16-bit word) whose value is held
// inline: empty, null, 16- and 32-bit integers, single and double reals,
// currency, date, error code, boolean, and the 8-bit, 16-, 32- and 64-bit
// integers of both signs.  Strings, interfaces, arrays, records and anything
// by reference hold pointers.
constexpr uInt16 kInlineVariantKinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 16, 17, 18, 19, 20, 21, 22, 23};
}  // namespace

bool VariantTravels(const uChar* v) {
  uInt16 kind = GetNative16(v);
  for (uInt16 k : kInlineVariantKinds)
    if (k == kind) return true;
  return false;
}

// ---- Arrays -----------------------------------------------------------------------

ArrayTD ArrayOf(const uChar* t, int32 flags) {
  ArrayTD a;
  a.t = Skip(t);
  a.rank = LoadI16(a.t + 4);
  if (a.rank < 0) a.rank = 0;
  a.elem = a.t + 6 + 4 * a.rank;
  a.base = Skip(a.elem);
  a.elemSize = DataSize(T(a.elem));
  a.header = AlignDatum(T(a.elem), 4 * a.rank);
  a.oldBools = OldBooleans(flags) && Code(a.base) == kTDBoolean;
  return a;
}

Packed PackedOf(int32 n, const int32* sizes) {
  Packed g;
  g.rows = 1;
  g.last = 1;
  if (n > 0) {
    for (int32 k = 0; k + 1 < n; ++k) g.rows = SatMul(g.rows, sizes[k] < 0 ? 0 : sizes[k]);
    g.last = sizes[n - 1] < 0 ? 0 : sizes[n - 1];
  }
  g.wpr = (int64_t(g.last) + 15) / 16;
  g.words = SatMul(g.rows, g.wpr);
  return g;
}

// ---- Size measures ------------------------------------------------------------------

namespace {

// The element count of an array view's sizes, -1 when negative or 31 bits or more.
int32 ArrayViewElements(const uChar* d, int32 n) {
  int32 count = 1;
  for (int32 k = 0; k < n; ++k) {
    int32 s = LoadI32(d + 4 + 8 * k);
    if (s < 0 || BitLength(count) + BitLength(s) >= 31) return -1;
    count *= s;
  }
  return count;
}

// The element count of an array handle's sizes (0 with a report when they
// are bad).
int32 HandleCount(UHandle h, int32 n) {
  int32 c = NArrayElts(n, reinterpret_cast<const int32*>(*h));
  if (c < 0) {
    DATA_ASSERT("array sizes negative or too large");
    return 0;
  }
  return c;
}

int64_t ArraySize(const uChar* t, const uChar* d, int32 flags) {
  ArrayTD a = ArrayOf(t, flags);
  int32 n = a.rank;
  if (!d) {
    int32 bound = ArrayTDBoundElts(T(a.t));
    int32 count = (bound == -1 || bound == INT32_MIN) ? 0 : (bound & 0x7FFFFFFF);
    if (!DataIsFixedSize(T(a.elem))) return 0;
    return SatMul(count, SizeWalk(a.elem, nullptr, flags));
  }
  int64_t total = 4 * int64_t(n);
  int32 k = ConstSize(a.elem, flags);
  if (Code(a.t) == kTDArray) {
    UHandle h = LoadH(d);
    if (!h) return total;
    int32 count = HandleCount(h, n);
    if (a.oldBools) return SatAdd(total, 2 * PackedOf(n, reinterpret_cast<const int32*>(*h)).words);
    if (k >= 0) return SatAdd(total, SatMul(count, k));
    const uChar* e = *h + a.header;
    for (int32 i = 0; i < count; ++i) total = SatAdd(total, SizeWalk(a.elem, e + int64_t(i) * a.elemSize, flags));
    return total;
  }
  // An array view: the pointer, then per dimension its size and stride.
  int32 count = ArrayViewElements(d, n);
  if (count < 0) {
    DATA_ASSERT("array view sizes negative or too large");
    return total;
  }
  const uChar* ptr = reinterpret_cast<const uChar*>(LoadH(d));
  if (!ptr || count == 0) return total;
  dm::RankBuffer buf(2 * n);
  if (!buf.ok()) return kHuge;
  int32* sizes = buf.get();
  int32* strides = sizes + n;
  for (int32 j = 0; j < n; ++j) {
    sizes[j] = LoadI32(d + 4 + 8 * j);
    strides[j] = LoadI32(d + 8 + 8 * j);
  }
  if (a.oldBools) return SatAdd(total, 2 * PackedOf(n, sizes).words);
  if (k >= 0) return SatAdd(total, SatMul(count, k));
  int32 last = n > 0 ? sizes[n - 1] : 1;
  int32 lastStride = n > 0 ? strides[n - 1] : 0;
  ForRows(ptr, n, sizes, strides, [&](const uChar* row) {
    for (int32 j = 0; j < last; ++j) total = SatAdd(total, SizeWalk(a.elem, row + int64_t(j) * lastStride, flags));
  });
  return total;
}

}  // namespace

int64_t SizeWalk(const uChar* t, const uChar* d, int32 flags) {
  t = Skip(t);
  uChar c = Code(t);
  if (int32 s = ScalarFlatSize(c, flags)) return s;
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return 0;
    case kTDString: case kTDString33: case kTDString37: {
      if (!d) return 4 + int64_t(BoundBytes(LoadI32(t + 4)));
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
      return 4 + int64_t(h ? LStrLen(*h) : 0);
    }
    case kTDStringView: {
      if (!d) return 4 + int64_t(BoundBytes(LoadI32(t + 4)));
      int32 n = LoadI32(d + 4);
      return 4 + int64_t(LoadH(d) && n > 0 ? n : 0);
    }
    case kTDHandle: {
      if (!d) return 0;
      UHandle h = LoadH(d);
      return 4 + int64_t(h ? AZGetHandleSize(h) : 0);
    }
    case kTDPath:
      if (!d) return 4 + int64_t(BoundBytes(LoadI32(t + 4)));
      return FFlattenPath(reinterpret_cast<Path>(LoadH(d)), nullptr);
    case kTDArray:
    case kTDArrayView:
      return ArraySize(t, d, flags);
    case kTDCluster: {
      int64_t total = 0;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        total = SatAdd(total, SizeWalk(B(el), d ? d + off : nullptr, flags));
        return true;
      });
      return total;
    }
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      if (d) {
        int32 sel = LoadI16(d);
        return sel >= 0 && sel < n ? SizeWalk(B(ElemTD(T(t), sel)), d, flags) : 0;
      }
      int64_t most = 0;
      for (int32 i = 0; i < n; ++i) {
        int64_t s = SizeWalk(B(ElemTD(T(t), i)), nullptr, flags);
        if (s > most) most = s;
      }
      return most;
    }
    case kTDVariant:
      return kVariantDataSize;
    case kTDFunction:
      DATA_ASSERT("flat size of a function TD");
      return 0;
    default:
      return DataSize(T(t));
  }
}

int32 ConstSize(const uChar* t, int32 flags) {
  t = Skip(t);
  uChar c = Code(t);
  if (int32 s = ScalarFlatSize(c, flags)) return s;
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return 0;
    case kTDVariant:
      return kVariantDataSize;
    case kTDCluster: {
      int64_t total = 0;
      bool fixed = true;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32, int32) {
        int32 s = ConstSize(B(el), flags);
        if (s < 0) return fixed = false;
        total = SatAdd(total, s);
        return true;
      });
      return fixed && total <= INT32_MAX ? int32(total) : -1;
    }
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      int32 size = -1;
      for (int32 i = 0; i < n; ++i) {
        int32 s = ConstSize(B(ElemTD(T(t), i)), flags);
        if (s < 0 || (i > 0 && s != size)) return -1;
        size = s;
      }
      return size;
    }
    default:
      return IsAsIs(c) ? DataSize(T(t)) : -1;
  }
}

int64_t LeastSize(const uChar* t, int32 flags) {
  t = Skip(t);
  uChar c = Code(t);
  int64_t least;
  switch (c) {
    case kTDString: case kTDString33: case kTDString37: {
      int32 field = LoadI32(t + 4);
      least = 4 + int64_t(TDFieldIsFixed(field) ? (field & 0x7FFFFFFF) : 0);
      break;
    }
    case kTDStringView:
    case kTDHandle:
      least = 4;
      break;
    case kTDPath:
      least = kFlatPathHeader;
      break;
    case kTDArray:
    case kTDArrayView: {
      ArrayTD a = ArrayOf(t, flags);
      least = 4 * int64_t(a.rank);
      if (c == kTDArrayView) break;
      int32 fixed = ArrayTDFixedElts(T(a.t));
      if (fixed == -1) return kHuge;
      if (fixed == 0) break;
      if (a.oldBools) {
        dm::RankBuffer buf(a.rank);
        if (!buf.ok()) return kHuge;
        for (int32 k = 0; k < a.rank; ++k) buf.get()[k] = a.Field(k) & 0x7FFFFFFF;
        least = SatAdd(least, 2 * PackedOf(a.rank, buf.get()).words);
      } else {
        least = SatAdd(least, SatMul(fixed, LeastSize(a.elem, flags)));
      }
      break;
    }
    case kTDCluster: {
      least = 0;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32, int32) {
        least = SatAdd(least, LeastSize(B(el), flags));
        return true;
      });
      break;
    }
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      least = 0;
      for (int32 i = 0; i < n; ++i) {
        int64_t s = LeastSize(B(ElemTD(T(t), i)), flags);
        if (i == 0 || s < least) least = s;
      }
      break;
    }
    case kTDFunction:
      return 0;
    default: {
      int32 s = ConstSize(t, flags);
      least = s < 0 ? 0 : s;
      break;
    }
  }
  if (least == 0 && DataSize(T(t)) != 0) least = 1;
  return least;
}

namespace {
constexpr int64_t kFieldSlack = 16;  // alignment padding an element may add
}  // namespace

bool ElementMemoryFits(const uChar* e, int32 flags) {
  int64_t each = Footprint(e, flags);
  if (each >= kHuge || each > INT32_MAX / 2) return false;
  int64_t least = LeastSize(e, flags);
  return each <= kElementMemoryPerByte * (least > 0 ? least : 1);
}

int64_t Footprint(const uChar* t, int32 flags) {
  t = Skip(t);
  uChar c = Code(t);
  if (ScalarFlatSize(c, flags)) return DataSize(T(t));
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return 0;
    case kTDString: case kTDString33: case kTDString37:
      return 8 + int64_t(BoundBytes(LoadI32(t + 4)));
    case kTDStringView:
      return 12;
    case kTDPath:
      return 4 + 16;
    case kTDArray:
    case kTDArrayView: {
      int32 n = LoadI16(t + 4);
      const uChar* e = t + 6 + 4 * n;
      uChar ec = Code(Skip(e));
      if (ec == kTDArray || ec == kTDArrayView || ec == kTDFunction) return kHuge;
      int64_t each = Footprint(e, flags);
      if (each >= kHuge) return kHuge;
      if (c == kTDArrayView) return 4 + 8 * int64_t(n);
      int32 bound = ArrayTDBoundElts(T(t));
      if (bound == INT32_MIN) return kHuge;
      // The empty value's sizes (the fixed ones, 0 for the others) must count.
      int32 count = 1;
      for (int32 k = 0; k < n; ++k) {
        int32 f = LoadI32(t + 6 + 4 * k);
        int32 size = TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : 0;
        if (BitLength(count) + BitLength(size) >= 31) return kHuge;
        count *= size;
      }
      if (bound == -1) return ElementMemoryFits(e, flags) ? 4 + 4 * int64_t(n) + kFieldSlack : kHuge;
      return SatAdd(4 + 4 * int64_t(n) + kFieldSlack, SatMul(bound & 0x7FFFFFFF, each));
    }
    case kTDCluster:
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      // A union of no elements has no room for the selector its data starts with.
      if (c == kTDUnion && n < 1) return kHuge;
      int64_t total = 0;
      for (int32 i = 0; i < n; ++i) {
        const TypeDescriptor* e = ElemTD(T(t), i);
        if (c == kTDUnion && !dm::LeadsWithSelector(e)) return kHuge;
        int64_t s = SatAdd(Footprint(B(e), flags), kFieldSlack);
        total = c == kTDCluster ? SatAdd(total, s) : (s > total ? s : total);
      }
      return total;
    }
    case kTDBlock:
      return LoadI32(t + 4);
    case kTDWrapper:
      return Footprint(t + 4, flags);
    case kTDVariant:
      return kVariantDataSize;
    case kTDFunction:
      return kHuge;
    default:
      return 4;
  }
}

namespace {

// Codes found inside clusters and unions (through typedefs, not arrays).
template <typename Pred>
bool Holds(const uChar* t, Pred&& pred) {
  t = Skip(t);
  if (pred(Code(t))) return true;
  if (Code(t) != kTDCluster && Code(t) != kTDUnion) return false;
  int32 n = LoadI16(t + 4);
  for (int32 i = 0; i < n; ++i)
    if (Holds(B(ElemTD(T(t), i)), pred)) return true;
  return false;
}

}  // namespace

int32 EltClass(const uChar* e, int32 flags) {
  e = Skip(e);
  uChar c = Code(e);
  switch (c) {
    case kTDI8: case kTDU8: case kTDEnumU8:
      return 1;
    case kTDBoolean:
      return OldBooleans(flags) ? -1 : 1;
    case kTDI16: case kTDU16: case kTDEnumU16:
      return 2;
    case kTDI32: case kTDU32: case kTDSGL: case kTDEnumU32: case kTDUnitSGL: case kTDRefnum:
      return 4;
    case kTDI64: case kTDU64: case kTDDBL: case kTDUnitDBL: case kTDCSG: case kTDUnitCSG:
      return 8;
    case kTDCDB: case kTDUnitCDB:
      return 16;
    case kTDCluster:
    case kTDUnion: {
      if (DataShape(T(e)) != 0) return 0;
      bool bad = Holds(e, [&](uChar k) {
        return k == kTDEXT || k == kTDCXT || k == kTDUnitEXT || k == kTDUnitCXT || k == kTDBooleanOld ||
               (OldBooleans(flags) && k == kTDBoolean);
      });
      if (bad) return 0;
      int32 size = DataSize(T(e));
      if (size <= 0 || ConstSize(e, flags) != size) return 0;
      // One-byte clusters would be moved without their enumerations clamped.
      if (size == 1 && Holds(e, [](uChar k) { return IsEnumCode(k); })) return 0;
      return size;
    }
    default:
      return 0;
  }
}

}  // namespace flat

using namespace flat;

// ---- Public sizes -----------------------------------------------------------------

int32 FlatSizeWalk(const TypeDescriptor* td, const void* data, int32 flags) {
  if (!td) {
    DATA_ASSERT("flat size without TD");
    return 0;
  }
  int64_t s = SizeWalk(B(td), static_cast<const uChar*>(data), flags);
  if (s > INT32_MAX) {
    DATA_ASSERT("flat size needs 31 bits or more");
    return -1;
  }
  return int32(s);
}

int32 FlatSize(const TypeDescriptor* td, const void* data) { return FlatSizeWalk(td, data, 0); }

int32 FlatEltSizeClass(const TypeDescriptor* td, int32 flags) {
  if (!td) return 0;
  const uChar* t = Skip(B(td));
  switch (Code(t)) {
    case kTDString: case kTDString37: case kTDStringView:
      return 1;  // a string's own bytes
    case kTDArray:
      return EltClass(ArrayOf(t, flags).elem, flags);
    case kTDArrayView:
      return 0;
    default:
      return EltClass(t, flags);
  }
}

// ---- The writer -------------------------------------------------------------------

namespace {

uChar* Write(uChar* p, const uChar* t, const uChar* d, int32 flags);

// Packs the booleans of each row (at lastStride apart) into big-endian words.
uChar* PackRows(uChar* p, const uChar* base, int32 n, const int32* sizes, const int32* strides) {
  int32 last = n > 0 ? sizes[n - 1] : 1;
  int32 lastStride = n > 0 ? strides[n - 1] : 1;
  ForRows(base, n, sizes, strides, [&](const uChar* row) {
    for (int32 j = 0; j < last; j += 16) {
      uInt16 w = 0;
      int32 m = last - j < 16 ? last - j : 16;
      for (int32 b = 0; b < m; ++b)
        if (row[int64_t(j + b) * lastStride]) w = uInt16(w | (0x8000u >> b));
      PutBE16(p, w);
      p += 2;
    }
  });
  return p;
}

uChar* WriteArray(uChar* p, const uChar* t, const uChar* d, int32 flags) {
  ArrayTD a = ArrayOf(t, flags);
  int32 n = a.rank;
  dm::RankBuffer buf(2 * n);
  if (!buf.ok()) {
    DATA_ASSERT("no memory for the dimensions of an array");
    return p;
  }
  int32* sizes = buf.get();
  int32* strides = sizes + n;
  const uChar* base;
  int32 count;
  bool dense;
  if (Code(a.t) == kTDArray) {
    UHandle h = LoadH(d);
    if (!h) {
      std::memset(p, 0, size_t(n) * 4);
      return p + 4 * n;
    }
    for (int32 k = 0; k < n; ++k) sizes[k] = LoadI32(*h + 4 * k);
    count = HandleCount(h, n);
    base = *h + a.header;
    dm::RowMajorStrides(n, sizes, a.elemSize, strides);
    dense = true;
  } else {
    for (int32 k = 0; k < n; ++k) {
      sizes[k] = LoadI32(d + 4 + 8 * k);
      strides[k] = LoadI32(d + 8 + 8 * k);
    }
    count = ArrayViewElements(d, n);
    if (count < 0) DATA_ASSERT("array view sizes negative or too large");
    base = reinterpret_cast<const uChar*>(LoadH(d));
    if (!base) count = 0;
    dense = true;
    for (int32 k = 0; k < n && dense; ++k)
      dense = strides[k] == (k + 1 < n ? sizes[k + 1] * strides[k + 1] : a.elemSize);
  }
  for (int32 k = 0; k < n; ++k) PutBE32(p + 4 * k, uInt32(sizes[k]));
  p += 4 * n;
  // Elements of no flat bytes (empty clusters, voids) write nothing, however many.
  if (count <= 0 || ConstSize(a.elem, flags) == 0) return p;
  if (a.oldBools) return PackRows(p, base, n, sizes, strides);
  int32 cls = EltClass(a.elem, flags);
  if (dense) {
    if (cls == 1) {
      std::memcpy(p, base, size_t(count));
      return p + count;
    }
    int32 unit, parts;
    if (cls > 1 && NumericUnits(Code(a.base), &unit, &parts)) {
      SwapUnits(unit, count * parts, base, p, kToFlat);
      return p + int64_t(count) * ScalarFlatSize(Code(a.base), flags);
    }
    for (int32 i = 0; i < count; ++i) p = Write(p, a.elem, base + int64_t(i) * a.elemSize, flags);
    return p;
  }
  int32 last = n > 0 ? sizes[n - 1] : 1;
  int32 lastStride = n > 0 ? strides[n - 1] : 0;
  ForRows(base, n, sizes, strides, [&](const uChar* row) {
    for (int32 j = 0; j < last; ++j) p = Write(p, a.elem, row + int64_t(j) * lastStride, flags);
  });
  return p;
}

uChar* Write(uChar* p, const uChar* t, const uChar* d, int32 flags) {
  t = Skip(t);
  uChar c = Code(t);
  if (int32 s = ScalarFlatSize(c, flags)) {
    PutScalar(c, d, p, flags);
    return p + s;
  }
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return p;
    case kTDString: case kTDString33: case kTDString37: {
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
      int32 n = h ? LStrLen(*h) : 0;
      PutBE32(p, uInt32(n));
      if (n) std::memcpy(p + 4, (*h)->str, size_t(n));
      return p + 4 + n;
    }
    case kTDStringView: {
      const uChar* ptr = reinterpret_cast<const uChar*>(LoadH(d));
      int32 n = LoadI32(d + 4);
      if (!ptr || n < 0) n = 0;
      PutBE32(p, uInt32(n));
      if (n) std::memcpy(p + 4, ptr, size_t(n));
      return p + 4 + n;
    }
    case kTDHandle: {
      UHandle h = LoadH(d);
      int32 n = h ? AZGetHandleSize(h) : 0;
      PutBE32(p, uInt32(n));
      if (n > 0) std::memcpy(p + 4, *h, size_t(n));
      return p + 4 + (n > 0 ? n : 0);
    }
    case kTDPath:
      return p + FFlattenPath(reinterpret_cast<Path>(LoadH(d)), p);
    case kTDArray:
    case kTDArrayView:
      return WriteArray(p, t, d, flags);
    case kTDCluster:
      dm::ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        p = Write(p, B(el), d + off, flags);
        return true;
      });
      return p;
    case kTDUnion: {
      int32 sel = LoadI16(d);
      if (sel < 0 || sel >= LoadI16(t + 4)) return p;
      return Write(p, B(ElemTD(T(t), sel)), d, flags);
    }
    case kTDVariant:
      if (VariantTravels(d))
        std::memcpy(p, d, kVariantDataSize);
      else
        std::memset(p, 0, kVariantDataSize);
      return p + kVariantDataSize;
    case kTDFunction:
      DATA_ASSERT("flattening a function TD");
      return p;
    default: {
      int32 n = DataSize(T(t));
      if (n > 0) std::memcpy(p, d, size_t(n));
      return p + (n > 0 ? n : 0);
    }
  }
}

}  // namespace

UPtr FlattenDataWalk(UPtr dst, const TypeDescriptor* td, const void* data, int32 flags) {
  if (!td || !dst || !data) {
    DATA_ASSERT("flattening without TD, destination or data");
    return dst;
  }
  return Write(dst, B(td), static_cast<const uChar*>(data), flags);
}

UPtr FlattenData(const TypeDescriptor* td, const void* data, UPtr buffer) {
  return FlattenDataWalk(buffer, td, data, 0);
}

MgErr FlattenToLStr(LStrHandle str, const TypeDescriptor* td, const void* data, int32 flags) {
  if (!str || !td || !data) return kArgErr;
  int64_t size = SizeWalk(B(td), static_cast<const uChar*>(data), flags);
  if (size > INT32_MAX - 4) return kMemFullErr;
  if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(str), int32(4 + size))) return err;
  uChar* start = (*str)->str;
  uChar* end = Write(start, B(td), static_cast<const uChar*>(data), flags);
  if (end - start != size) DATA_ASSERT("flat size and flattened bytes differ");
  (*str)->cnt = int32(size);
  return kNoErr;
}

UHandle FlattenToNewHandle(UHandle h, const TypeDescriptor* td, const void* data, int32 flags) {
  if (!td || !data) return nullptr;
  int64_t size = SizeWalk(B(td), static_cast<const uChar*>(data), flags);
  if (size > INT32_MAX) return nullptr;
  if (h) {
    if (AZSetHandleSize(h, int32(size)) != kNoErr) return nullptr;
  } else {
    h = AZNewHClr(int32(size));
    if (!h) return nullptr;
  }
  uChar* end = Write(*h, B(td), static_cast<const uChar*>(data), flags);
  if (end - *h != size) DATA_ASSERT("flat size and flattened bytes differ");
  return h;
}

MgErr FlattenInQXStr_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, const void* data, int32 flags) {
  if (!tdHandle || !*tdHandle) return kArgErr;
  return FlattenToLStr(str, T(*tdHandle + tdOffset), data, flags);
}

UHandle Flatten_Old(UHandle h, UHandle tdHandle, int32 tdOffset, const void* data) {
  if (!tdHandle || !*tdHandle) return nullptr;
  return FlattenToNewHandle(h, T(*tdHandle + tdOffset), data, 0);
}
