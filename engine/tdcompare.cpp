// Comparison of type descriptors, and the item lists of enumerations.
#include <cstring>

#include "datatype.h"
#include "omid.h"
#include "td_internal.h"

using namespace td;

namespace {

bool SamePStr(const uChar* p, const uChar* q) {
  return p[0] == q[0] && std::memcmp(p + 1, q + 1, p[0]) == 0;
}

bool SameName(const uChar* p, const uChar* q) {
  if (!p || !q) return p == q;
  return SamePStr(p, q);
}

// The mode for the TDs one level down: names there when asked for below.
inline int32 ChildMode(int32 mode) {
  return (mode & ~kTDCmpNames) | ((mode & kTDCmpNamesBelow) ? kTDCmpNames : 0);
}

int32 CompareFields(int32 fa, int32 fb) {
  if (fa == fb) return 0;
  return (TDFieldIsFixed(fa) && TDFieldIsFixed(fb)) ? kTDDiffFixedBound : kTDDiffVariant;
}

inline bool IsRealOrComplex(uChar c) { return c >= kTDSGL && c <= kTDCXT; }

// Calls fn(item) for each item name of an enumeration, within the TD.
template <typename Fn>
void ForEachItem(const uChar* t, Fn&& fn) {
  int32 n = I16(t + 4);
  int32 limit = Size(t);
  int32 off = 6;
  for (int32 i = 0; i < n && off < limit; ++i) {
    if (!fn(i, t + off)) return;
    off += 1 + t[off];
  }
}

// 0 when the lists agree, kTDDiffEnumNames when a name differs within the
// shorter list, kTDDiffRepr when one list is a prefix of the other.
int32 CompareItems(const uChar* a, const uChar* b) {
  int32 na = I16(a + 4), nb = I16(b + 4);
  int32 shorter = na < nb ? na : nb;
  // Item offsets of b, walked alongside a's.
  int32 offB = 6;
  int32 limitB = Size(b);
  int32 result = 0;
  ForEachItem(a, [&](int32 i, const uChar* item) {
    if (i >= shorter || offB >= limitB) return false;
    if (!SamePStr(item, b + offB)) {
      result = kTDDiffEnumNames;
      return false;
    }
    offB += 1 + b[offB];
    return true;
  });
  if (result == 0 && na != nb) result = kTDDiffRepr;
  return result;
}

bool UnitsEqual(const uChar* a, const uChar* b) {
  int32 n = I16(a + 4);
  return n == I16(b + 4) && (n <= 0 || std::memcmp(a + 6, b + 6, size_t(4) * size_t(n)) == 0);
}

int32 CompareNumeric(const uChar* a, const uChar* b, uChar ca, uChar cb, int32 mode) {
  if (!IsNumericCode(cb)) {
    if (ca == kTDU32 && cb == kTDRefnum && (mode & kTDCmpRefnumU32)) return 0;
    return kTDDiffCode;
  }
  int32 mask = 0;
  bool ua = IsUnit(ca), ub = IsUnit(cb);
  if (ua && ub) {
    if (!UnitsEqual(a, b)) mask |= kTDDiffUnits;
  } else if (ua != ub) {
    mask |= kTDDiffUnits;
  }
  bool ea = IsEnumCode(ca), eb = IsEnumCode(cb);
  if (ea && eb)
    mask |= CompareItems(a, b);
  else if (ea != eb)
    mask |= kTDDiffRepr;
  uChar pa = uChar(ca & ~0x10), pb = uChar(cb & ~0x10);
  if (pa != pb) {
    if (IsRealOrComplex(pa) || IsRealOrComplex(pb))
      mask |= kTDDiffRepr;
    else if (NumSizeOf(pa) == NumSizeOf(pb))
      mask |= kTDDiffTypedef;  // same width, other signedness
    else
      mask |= kTDDiffRepr;
  }
  return mask;
}

// The relation of two codes of strings, paths and their variants.
int32 CompareStringCodes(uChar ca, uChar cb) {
  if (ca == cb) return 0;
  bool sa = ca == kTDString || ca == kTDStringView, sb = cb == kTDString || cb == kTDStringView;
  if ((sa && cb == kTDString37) || (sb && ca == kTDString37)) return kTDDiffString37;
  if (sa && sb) return kTDDiffVariant;
  return kTDDiffCode;
}

int32 Walk(const uChar* a, const uChar* b, int32 mode);

int32 CompareElements(const uChar* a, const uChar* b, int32 offA, int32 offB, int32 n, int32 mode,
                      int32 mask) {
  for (int32 i = 0; i < n; ++i) {
    uInt16 sa = Size(a + offA), sb = Size(b + offB);
    if (sa == 0 || sb == 0) {
      TD_ASSERT("element TD of size 0");
      break;
    }
    mask |= Walk(a + offA, b + offB, mode);
    if (mask & (kTDDiffCount | kTDDiffDims | kTDDiffCode)) break;
    offA += sa;
    offB += sb;
  }
  return mask;
}

int32 CompareRefnums(const uChar* a, const uChar* b, int32 mode, int32 mask) {
  int32 ka = I16(a + 4), kb = I16(b + 4);
  if (ka != kb) {
    if (ka != 0 && kb != 0) return mask | kTDDiffRefnum;
    const uChar* other = ka == 0 ? b : a;
    if (I16(other + 4) == kRefnumDatalog && !TDIsValid(T(other + 6))) return mask | kTDDiffRefnum;
    return mask | kTDDiffTypedef;
  }
  switch (ka) {
    case kRefnumDatalog:
      if (Walk(a + 6, b + 6, ChildMode(mode)) != 0) mask |= kTDDiffRefnum;
      break;
    case kRefnumNamed6:
    case kRefnumObject:
    case kRefnumNamed10:
      mask |= OMIdCmp(a + 4, b + 4);
      break;
    case kRefnumAutomation:
      if (OMIdCmp(a + 4, b + 4) != 0 && (b[7] & 0x0F) == 0) mask |= kTDDiffAutoRef;
      break;
    default:
      break;
  }
  return mask;
}

int32 CompareFunctions(const uChar* a, const uChar* b, int32 mode, int32 mask) {
  int32 n = I16(a + 4);
  if (n != I16(b + 4)) return mask | kTDDiffCount;
  if (!(mode & kTDCmpLoose) && Flags(a) != Flags(b)) mask |= kTDDiffConnectors;
  if (U16(a + 6) != U16(b + 6)) mask |= kTDDiffConnectors;
  uInt16 keep = (mode & kTDCmpLoose) ? 0x1100 : 0xFFFF;
  for (int32 k = 0; k < n; ++k)
    if ((U16(a + 8 + 2 * k) & keep) != (U16(b + 8 + 2 * k) & keep)) mask |= kTDDiffConnectors;
  return CompareElements(a, b, 8 + 2 * n, 8 + 2 * n, n, ChildMode(mode), mask);
}

int32 Walk(const uChar* a, const uChar* b, int32 mode) {
  if (a == b) return 0;
  int32 mask = 0;
  if ((mode & kTDCmpNames) && !SameName(TDNamePtr(T(a)), TDNamePtr(T(b)))) mask |= kTDDiffName;
  uChar ca = Code(a), cb = Code(b);

  // Typedef wrappers are looked through; their own names were compared above.
  if (!(mode & kTDCmpTypedefCode)) {
    int32 inner = mode & ~kTDCmpNames;
    if (ca == kTDTypedef && cb == kTDTypedef) {
      if (I32(a + 4) != I32(b + 4) || !SamePStr(a + 8, b + 8)) mask |= kTDDiffTypedef;
      return mask | Walk(a + TypedefInner(a), b + TypedefInner(b), inner);
    }
    if (ca == kTDTypedef) return mask | kTDDiffTypedef | Walk(a + TypedefInner(a), b, inner);
    if (cb == kTDTypedef) return mask | kTDDiffTypedef | Walk(a, b + TypedefInner(b), inner);
  }

  if (mode & kTDCmpBoolAsU8) {
    if (ca == kTDBoolean) ca = kTDU8;
    if (cb == kTDBoolean) cb = kTDU8;
  }
  if (IsNumericCode(ca)) return mask | CompareNumeric(a, b, ca, cb, mode);

  int32 sub = ChildMode(mode);
  switch (ca) {
    case kTDVoid: case kTDBooleanOld: case kTDBoolean:
    case kTDOpaque34: case kTDOpaque35: case kTDOpaque36:
      return mask | (ca == cb ? 0 : kTDDiffCode);
    case kTDString: case kTDPath: case kTDString33: case kTDString37: case kTDStringView: {
      int32 codes = CompareStringCodes(ca, cb);
      if (codes & kTDDiffCode) return mask | codes;
      return mask | codes | CompareFields(I32(a + 4), I32(b + 4));
    }
    case kTDHandle:
      return mask | ((cb == kTDHandle && I16(a + 4) == I16(b + 4)) ? 0 : kTDDiffCode);
    case kTDArray:
    case kTDArrayView: {
      if (cb != kTDArray && cb != kTDArrayView) return mask | kTDDiffCode;
      if (ca != cb) mask |= kTDDiffVariant;
      int32 na = I16(a + 4), nb = I16(b + 4);
      if (na != nb) mask |= kTDDiffDims;
      int32 shorter = na < nb ? na : nb;
      for (int32 k = 0; k < shorter; ++k) mask |= CompareFields(I32(a + 6 + 4 * k), I32(b + 6 + 4 * k));
      return mask | Walk(a + ArrayElem(a), b + ArrayElem(b), sub);
    }
    case kTDCluster:
    case kTDUnion: {
      if (ca != cb) return mask | kTDDiffCode;
      int32 n = I16(a + 4);
      if (n != I16(b + 4)) return mask | kTDDiffCount;
      return CompareElements(a, b, 6, 6, n, sub, mask);
    }
    case kTDBlock:
      if (cb != kTDBlock) return mask | kTDDiffCode;
      return mask | (I32(a + 4) == I32(b + 4) ? 0 : kTDDiffFixedBound);
    case kTDWrapper:
    case kTDTypeOnly:
    case kTDTypedRef:
      if (ca != cb) return mask | kTDDiffCode;
      return mask | Walk(a + 4, b + 4, sub);
    case kTDRefnum:
      if (cb != kTDRefnum) {
        if (cb == kTDU32 && (mode & kTDCmpRefnumU32)) return mask;
        return mask | kTDDiffCode;
      }
      return CompareRefnums(a, b, mode, mask);
    case kTDVariant:
      return mask | ((cb == kTDVariant && I16(a + 4) == I16(b + 4)) ? 0 : kTDDiffCode);
    case kTDFunction:
      if (cb != kTDFunction) return mask | kTDDiffCode;
      return CompareFunctions(a, b, mode, mask);
    case kTDTypedef:  // compared as an ordinary code
      if (cb != kTDTypedef || !SamePStr(a + 8, b + 8)) return mask | kTDDiffCode;
      if (I32(a + 4) != I32(b + 4)) mask |= kTDDiffTypedef;
      return mask | Walk(a + TypedefInner(a), b + TypedefInner(b), sub);
    default:
      TD_ASSERT("unexpected TD code");
      return mask | (ca == cb ? 0 : kTDDiffCode);
  }
}

const uChar* EnumOf(const TypeDescriptor* t) {
  if (!t) {
    TD_ASSERT("null TD");
    return nullptr;
  }
  const uChar* p = B(SkipTypedefs(t));
  if (!IsEnumCode(Code(p))) {
    TD_ASSERT("item list of a TD that is no enumeration");
    return nullptr;
  }
  return p;
}

}  // namespace

int32 TDCompareWalk(const TypeDescriptor* a, const TypeDescriptor* b, int32 mode) {
  if (!a || !b) {
    if (a == b) return 0;
    TD_ASSERT("null TD");
    return kTDDiffCode;
  }
  return Walk(B(a), B(b), mode & 0xFFFF);
}

int32 TDCompare(const TypeDescriptor* a, const TypeDescriptor* b) { return TDCompareWalk(a, b, 0); }

int32 TDCompareLoose(const TypeDescriptor* a, const TypeDescriptor* b) {
  return TDCompareWalk(a, b, kTDCmpLoose);
}

Bool32 EnumItemsDiffer(const TypeDescriptor* a, const TypeDescriptor* b) {
  const uChar* pa = EnumOf(a);
  const uChar* pb = EnumOf(b);
  if (!pa || !pb) return 0;
  return CompareItems(pa, pb) == kTDDiffEnumNames;
}

int32 EnumItemIndex(ConstPStr name, const TypeDescriptor* t) {
  const uChar* p = EnumOf(t);
  if (!p || !name) return -1;
  int32 found = -1;
  ForEachItem(p, [&](int32 i, const uChar* item) {
    if (SamePStr(item, name)) found = i;
    return found < 0;
  });
  return found;
}
