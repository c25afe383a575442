// The type-descriptor walkers: stepping, elements, data size, alignment,
// shape, fixed size, validity and names.
#include "datatype.h"

#include <atomic>

#include "datasupp.h"
#include "td_internal.h"

namespace td {
const char kSourceFile[] = "datatype";
// The maximum alignment: 1 from start-up on, so all data is packed.
std::atomic<int16> gMaxAlign{1};
}
using namespace td;

namespace {

inline uInt32 LowBit(uInt32 v) { return v ? (v & (0u - v)) : 1u; }

inline uInt32 RoundUp(uInt32 off, uInt32 a) {
  if ((a & (a - 1)) == 0) return (off + a - 1) & ~(a - 1);
  return ((off + a - 1) / a) * a;
}

inline int32 Clamp31(uInt32 v) { return v > 0x7FFFFFFFu ? 0x7FFFFFFF : int32(v); }

// AlignDatum for a maximum alignment of 2 or more.
uInt32 AlignIn(const uChar* p, uInt32 off, uInt32 ma) {
  uInt32 a;
  uChar c = Code(p);
  switch (c) {
    case kTDVoid:
    case kTDBoolean:
    case kTDBlock:
    case kTDTypeOnly:
      a = 1;
      break;
    case kTDI64:
    case kTDU64:
      a = 4;  // as a 32-bit integer
      break;
    case kTDCSG: case kTDCDB: case kTDCXT:
    case kTDUnitCSG: case kTDUnitCDB: case kTDUnitCXT:
      a = LowBit(uInt32(NumSizeOf(uChar(c - 3))));  // the component real
      break;
    case kTDBooleanOld:
      a = 2;
      break;
    case kTDString: case kTDHandle: case kTDPath: case kTDString33:
    case kTDOpaque34: case kTDOpaque35: case kTDOpaque36: case kTDString37:
    case kTDStringView: case kTDArray: case kTDArrayView: case kTDRefnum: case kTDTypedRef:
      a = 4;
      break;
    case kTDCluster:
    case kTDUnion: {
      // The largest element alignment, found without looking further once
      // it reaches the maximum.
      uInt32 limit = RoundUp(off, ma);
      uInt32 best = off;
      int32 n = I16(p + 4);
      const uChar* e = p + 6;
      for (int32 i = 0; i < n && best < limit; ++i) {
        uInt16 sz = Size(e);
        if (sz == 0) {
          TD_ASSERT("element TD of size 0");
          break;
        }
        uInt32 r = AlignIn(e, off, ma);
        if (r > best) best = r;
        e += sz;
      }
      return best;
    }
    case kTDWrapper:
      return AlignIn(p + 4, off, ma);
    case kTDTypedef:
      return AlignIn(p + TypedefInner(p), off, ma);
    case kTDVariant:
      a = ma;
      break;
    case kTDFunction:
      TD_ASSERT("alignment of a function TD");
      a = 4;
      break;
    case kTDInternal80:
    case kTDInternal81:
      TD_ASSERT("alignment of an internal TD code");
      a = 4;
      break;
    default:
      if (!IsNumericCode(c)) TD_ASSERT("unexpected TD code");
      a = LowBit(uInt32(NumSizeOf(c)));
      break;
  }
  if (a > ma) a = ma;
  return RoundUp(off, a);
}

int32 SizeOf(const uChar* p, uInt32 ma);

int32 ClusterSize(const uChar* p, uInt32 ma) {
  uInt32 off = 0;
  int32 n = I16(p + 4);
  const uChar* e = p + 6;
  for (int32 i = 0; i < n; ++i) {
    uInt16 sz = Size(e);
    if (sz == 0) {
      TD_ASSERT("element TD of size 0");
      break;
    }
    if (ma >= 2) off = AlignIn(e, off, ma);
    off += uInt32(SizeOf(e, ma));
    if (off > 0x7FFFFFFFu) return 0x7FFFFFFF;  // more than any datum can hold
    e += sz;
  }
  if (ma >= 2) off = AlignIn(p, off, ma);
  return Clamp31(off);
}

int32 SizeOf(const uChar* p, uInt32 ma) {
  uChar c = Code(p);
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return 0;
    case kTDBooleanOld:
      return 2;
    case kTDBoolean:
      return 1;
    case kTDString: case kTDHandle: case kTDPath: case kTDString33:
    case kTDOpaque34: case kTDOpaque35: case kTDOpaque36: case kTDString37:
    case kTDArray: case kTDRefnum: case kTDInternal80: case kTDInternal81: case kTDTypedRef:
      return 4;
    case kTDStringView:
      return 12;
    case kTDArrayView:
      return 4 + 8 * I16(p + 4);
    case kTDCluster:
      return ClusterSize(p, ma);
    case kTDUnion: {
      int32 best = 0;
      int32 n = I16(p + 4);
      const uChar* e = p + 6;
      for (int32 i = 0; i < n; ++i) {
        uInt16 sz = Size(e);
        if (sz == 0) {
          TD_ASSERT("element TD of size 0");
          break;
        }
        int32 s = SizeOf(e, ma);
        if (s > best) best = s;
        e += sz;
      }
      return best;
    }
    case kTDBlock: {
      int32 n = I32(p + 4);
      return n > 0 ? n : 0;
    }
    case kTDWrapper:
      return SizeOf(p + 4, ma);
    case kTDTypedef:
      return SizeOf(p + TypedefInner(p), ma);
    case kTDVariant:
      if (I16(p + 4) != kVariantOle) TD_ASSERT("variant of an unknown kind");
      return 16;
    case kTDFunction:
      TD_ASSERT("data size of a function TD");
      return 4;
    default:
      if (!IsNumericCode(c)) TD_ASSERT("unexpected TD code");
      return NumSizeOf(c);
  }
}

int32 ShapeOf(const uChar* p) {
  uChar c = Code(p);
  if (IsNumericCode(c)) return 0;
  switch (c) {
    case kTDVoid: case kTDBooleanOld: case kTDBoolean: case kTDBlock: case kTDWrapper:
    case kTDTypeOnly: case kTDRefnum: case kTDInternal80: case kTDInternal81: case kTDTypedRef:
    case kTDFunction:
      return 0;
    case kTDString: case kTDHandle: case kTDPath: case kTDString33: case kTDOpaque34:
    case kTDOpaque35: case kTDOpaque36: case kTDString37: case kTDStringView:
      return 2;
    case kTDArray:
    case kTDArrayView:
    case kTDVariant:
      return 1;
    case kTDCluster:
    case kTDUnion: {
      bool deep = false;
      ForEachChild(p, kInClusters | kInUnions, [&](int32 off) {
        deep = ShapeOf(p + off) != 0;
        return !deep;
      });
      return deep ? 1 : 0;
    }
    case kTDTypedef:
      return ShapeOf(p + TypedefInner(p));
    default:
      TD_ASSERT("unexpected TD code");
      return 0;
  }
}

// The dimension fields of an array TD, or null (with an assertion) for
// another code.
const uChar* ArrayFields(const TypeDescriptor* t, int32* n) {
  if (!t) {
    TD_ASSERT("null TD");
    return nullptr;
  }
  const uChar* p = B(SkipTypedefs(t));
  if (Code(p) != kTDArray && Code(p) != kTDArrayView) {
    TD_ASSERT("array element count of a TD that is no array");
    return nullptr;
  }
  *n = I16(p + 4);
  return p + 6;
}

bool FixedOf(const uChar* p) {
  uChar c = Code(p);
  if (IsNumericCode(c)) return true;
  switch (c) {
    case kTDVoid: case kTDBooleanOld: case kTDBoolean: case kTDRefnum:
      return true;
    case kTDVariant:
      return I16(p + 4) == kVariantOle;
    case kTDString: case kTDPath: case kTDString33: case kTDString37: case kTDStringView:
      return TDFieldIsFixed(I32(p + 4));
    case kTDArray:
    case kTDArrayView:
      return ArrayTDFixedElts(T(p)) != 0 && FixedOf(p + ArrayElem(p));
    case kTDCluster:
    case kTDUnion: {
      bool fixed = true;
      ForEachChild(p, kInClusters | kInUnions, [&](int32 off) {
        fixed = FixedOf(p + off);
        return fixed;
      });
      return fixed;
    }
    case kTDTypedef:
      return FixedOf(p + TypedefInner(p));
    case kTDHandle: case kTDOpaque34: case kTDOpaque35: case kTDOpaque36: case kTDBlock:
    case kTDWrapper: case kTDTypeOnly: case kTDInternal80: case kTDInternal81: case kTDTypedRef:
    case kTDFunction:
      return false;
    default:
      TD_ASSERT("unexpected TD code");
      return false;
  }
}

bool ValidOf(const uChar* p) {
  uChar c = Code(p);
  if (IsNumericCode(c)) return true;
  switch (c) {
    case kTDVoid:
      return false;
    case kTDBoolean: case kTDBooleanOld: case kTDString: case kTDHandle: case kTDPath:
    case kTDString33: case kTDOpaque34: case kTDOpaque35: case kTDOpaque36: case kTDString37:
    case kTDStringView: case kTDBlock: case kTDWrapper: case kTDTypeOnly: case kTDTypedRef:
      return true;
    case kTDArray:
    case kTDArrayView:
      return ValidOf(p + ArrayElem(p));
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      if (c != kTDFunction && I16(p + 4) < 1) return false;
      bool valid = true;
      ForEachChild(p, kInClusters | kInUnions | kInFunctions, [&](int32 off) {
        valid = ValidOf(p + off);
        return valid;
      });
      return valid;
    }
    case kTDRefnum: {
      int32 kind = I16(p + 4);
      if (kind < 0 || kind > kRefnumKindMax) return false;
      return kind != kRefnumDatalog || ValidOf(p + 6);
    }
    case kTDVariant:
      return I16(p + 4) == kVariantOle;
    case kTDTypedef:
      return ValidOf(p + TypedefInner(p));
    default:
      TD_ASSERT("unexpected TD code");
      return true;
  }
}

}  // namespace

int32 td::NameOffset(const uChar* t) {
  uChar c = Code(t);
  if (IsHeaderOnly(c)) return 4;
  if (IsEnumCode(c)) {
    int32 n = I16(t + 4);
    int32 limit = Size(t);
    int32 off = 6;
    for (int32 i = 0; i < n && off < limit; ++i) off += 1 + t[off];
    return off + ((off - 6) & 1);
  }
  if (IsUnit(c)) return 6 + 4 * I16(t + 4);
  switch (c) {
    case kTDString: case kTDPath: case kTDString33: case kTDString37: case kTDStringView:
    case kTDBlock:
      return 8;
    case kTDHandle:
    case kTDVariant:
      return 6;
    case kTDArray:
    case kTDArrayView: {
      int32 e = ArrayElem(t);
      return e + Size(t + e);
    }
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      int32 end = FirstElem(t);
      ForEachChild(t, kInAll, [&](int32 off) {
        end = off + Size(t + off);
        return true;
      });
      return end;
    }
    case kTDWrapper:
    case kTDTypeOnly:
    case kTDTypedRef:
      return 4 + Size(t + 4);
    case kTDTypedef: {
      int32 e = TypedefInner(t);
      return e + Size(t + e);
    }
    case kTDRefnum:
      switch (I16(t + 4)) {
        case kRefnumDatalog: return 6 + Size(t + 6);
        case kRefnumNamed6:
        case kRefnumAutomation:
        case kRefnumNamed10: return 6 + PaddedStr(t[6]);
        case kRefnumObject: return I16(t + 6) == 2 ? 8 + Size(t + 8) : 10;
        default: return 6;
      }
    default:
      return -1;
  }
}

int16 SetMaxDataAlign(int16 align) { return gMaxAlign.exchange(align, std::memory_order_relaxed); }
int16 MaxDataAlign() { return gMaxAlign.load(std::memory_order_relaxed); }

TypeDescriptor* NextTD(const TypeDescriptor* t) {
  const uChar* p = B(t);
  uInt16 sz = Size(p);
  if (sz == 0) TD_ASSERT("TD of size 0");
  return T(p + sz);
}

TypeDescriptor* SkipTypedefs(const TypeDescriptor* t) {
  const uChar* p = B(t);
  if (!p) return nullptr;
  while (Code(p) == kTDTypedef) p += TypedefInner(p);
  return T(p);
}

TypeDescriptor* ElemTD(const TypeDescriptor* t, int32 i) {
  if (!t) {
    TD_ASSERT("null TD");
    return nullptr;
  }
  const uChar* p = B(SkipTypedefs(t));
  int32 off = FirstElem(p);
  if (off < 0) {
    TD_ASSERT("element of a TD without elements");
    return nullptr;
  }
  int32 n = I16(p + 4);
  if (i < 0 || i > n) {
    TD_ASSERT("element index out of range");
    return nullptr;
  }
  for (int32 k = 0; k < i; ++k) {
    uInt16 sz = Size(p + off);
    if (sz == 0) {
      TD_ASSERT("element TD of size 0");
      return nullptr;
    }
    off += sz;
  }
  return T(p + off);
}

int32 ClustElemTDOffset(UHandle h, int32 tdOffset, int32 i) {
  if (!h || !*h) {
    TD_ASSERT("null TD handle");
    return -1;
  }
  TypeDescriptor* e = ElemTD(T(*h + tdOffset), i);
  return e ? int32(B(e) - *h) : -1;
}

int32 DataShape(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return 0;
  }
  return ShapeOf(B(t));
}

int32 DataSize(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return 0;
  }
  int16 ma = gMaxAlign.load(std::memory_order_relaxed);
  return SizeOf(B(t), ma < 2 ? 1u : uInt32(ma));
}

int32 AlignDatum(const TypeDescriptor* t, int32 offset) {
  int16 ma = gMaxAlign.load(std::memory_order_relaxed);
  if (ma < 2) return offset;
  if (!t) {
    TD_ASSERT("null TD");
    return offset;
  }
  return int32(AlignIn(B(t), uInt32(offset), uInt32(ma)));
}

Bool32 DataIsFixedSize(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return 0;
  }
  return FixedOf(B(t));
}

int32 ArrayTDFixedElts(const TypeDescriptor* t) {
  int32 n = 0;
  const uChar* f = ArrayFields(t, &n);
  if (!f) return 0;
  for (int32 k = 0; k < n; ++k)
    if (!TDFieldIsFixed(I32(f + 4 * k))) return 0;
  uInt32 prod = 1;
  for (int32 k = 0; k < n; ++k) {
    uInt32 d = uInt32(I32(f + 4 * k)) & 0x7FFFFFFFu;
    if (BitLength(int32(prod)) + BitLength(int32(d)) >= 31) return -1;
    prod *= d;
  }
  return int32(prod);
}

int32 ArrayTDBoundElts(const TypeDescriptor* t) {
  int32 n = 0;
  const uChar* f = ArrayFields(t, &n);
  if (!f) return 0;
  for (int32 k = 0; k < n; ++k)
    if (I32(f + 4 * k) == kTDVariable) return -1;
  bool allFixed = true;
  uInt32 prod = 1;
  for (int32 k = 0; k < n; ++k) {
    int32 field = I32(f + 4 * k);
    if (!TDFieldIsFixed(field)) allFixed = false;
    uInt32 d = uInt32(field) & 0x7FFFFFFFu;
    if (BitLength(int32(prod)) + BitLength(int32(d)) >= 30) return int32(0x80000000u);
    prod *= d;
  }
  if (prod == 0) return 0;
  return int32(allFixed ? (prod | 0x80000000u) : prod);
}

Bool32 TDIsValid(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return 0;
  }
  return ValidOf(B(t));
}

PStr TDNamePtr(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return nullptr;
  }
  const uChar* p = B(t);
  if (!(Flags(p) & kTDFlagName)) return nullptr;
  int32 off = NameOffset(p);
  if (off < 0) {
    TD_ASSERT("name of a TD of an unexpected code");
    return nullptr;
  }
  if (off >= Size(p)) {
    TD_ASSERT("TD name outside its TD");
    return nullptr;
  }
  // A name flag over an empty name (as some standard TDs carry) means no name.
  if (p[off] == 0) return nullptr;
  return const_cast<PStr>(p + off);
}

TypeID DCOTypeID(UHandle heap, int32 offset) {
  if (!heap || !*heap) return 0;
  return TypeID(I32(*heap + offset + 3 * 4));
}

TypeID DDOTypeID(UHandle heap, int32 offset) {
  if (!heap || !*heap) return 0;
  return TypeID(I32(*heap + offset + 9 * 4));
}
