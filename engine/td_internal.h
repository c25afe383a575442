// Helpers shared by the type-descriptor walkers: field access at any
// address, the layout rules of each code, and the failure report.
#pragma once
#include <atomic>

#include "datatype.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"

namespace td {

// The maximum data alignment (SetMaxDataAlign); below 2 all data is packed
// and AlignDatum returns its offset.
extern std::atomic<int16> gMaxAlign;
inline bool DataPacked() { return gMaxAlign.load(std::memory_order_relaxed) < 2; }

// The walkers report in the name of one source file.
extern const char kSourceFile[];
#define TD_ASSERT(text) DBAssert(td::kSourceFile, __LINE__, (text))

inline uInt16 U16(const uChar* p) { return GetNative16(p); }
inline int16 I16(const uChar* p) { return int16(GetNative16(p)); }
inline int32 I32(const uChar* p) { return int32(GetNative32(p)); }
inline void Put16(uChar* p, uInt16 v) { PutNative16(p, v); }
inline void Put32(uChar* p, int32 v) { PutNative32(p, uInt32(v)); }

inline const uChar* B(const TypeDescriptor* t) { return reinterpret_cast<const uChar*>(t); }
inline uChar* B(TypeDescriptor* t) { return reinterpret_cast<uChar*>(t); }
inline TypeDescriptor* T(const uChar* p) {
  return reinterpret_cast<TypeDescriptor*>(const_cast<uChar*>(p));
}

inline uInt16 Size(const uChar* t) { return U16(t); }
inline uChar Code(const uChar* t) { return t[2]; }
inline uChar Flags(const uChar* t) { return t[3]; }

// Bytes taken by a Pascal string of len characters padded to an even length.
inline int32 PaddedStr(int32 len) { return (len + 2) & ~1; }

// The numerics of the table: 1-14, enumerations and numerics with units.
inline bool IsNumericCode(uChar c) {
  return (c >= 0x01 && c <= 0x0E) || (c >= 0x15 && c <= 0x17) || (c >= 0x19 && c <= 0x1E);
}
inline bool IsEnumCode(uChar c) { return c >= 0x15 && c <= 0x17; }
// The codes whose data is an LStr handle (strings and their two variants).
inline bool IsStringCode(uChar c) { return c == kTDString || c == kTDString33 || c == kTDString37; }
inline bool IsUnit(uChar c) { return c >= 0x19 && c <= 0x1E; }
// Strings, paths and their variants (the codes with a bound field).
inline bool HasBound(uChar c) {
  return c == kTDString || c == kTDPath || c == kTDString33 || c == kTDString37 || c == kTDStringView;
}
// The string-like codes that have an old, bound-less form.
inline bool IsStringLike(uChar c) {
  return c == kTDString || c == kTDPath || c == kTDString33 || c == kTDString37;
}
inline bool IsHeaderOnly(uChar c) {
  return c <= 0x0E || c == kTDBooleanOld || c == kTDBoolean || c == kTDOpaque34 ||
         c == kTDOpaque35 || c == kTDOpaque36;
}

// NumSize of the low four bits of a numeric code.
inline int32 NumSizeOf(uChar c) {
  static constexpr uChar kSizes[16] = {0, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 10, 8, 16, 20, 0};
  return kSizes[c & 15];
}

// Offset of the wrapped TD of a typedef.
inline int32 TypedefInner(const uChar* t) { return 8 + PaddedStr(t[8]); }
// Offset of the element TD of an array.
inline int32 ArrayElem(const uChar* t) { return 6 + 4 * I16(t + 4); }
// Offset of the first element of a cluster, union or function; -1 for other codes.
inline int32 FirstElem(const uChar* t) {
  switch (Code(t)) {
    case kTDCluster:
    case kTDUnion: return 6;
    case kTDFunction: return 8 + 2 * I16(t + 4);
    default: return -1;
  }
}
// Where the name of the TD starts (the end of its type part), or -1 for a
// code that has no known layout.
int32 NameOffset(const uChar* t);

// The TDs directly inside a TD, by kind of container.
enum ChildSet : uInt32 {
  kInArrays = 1,
  kInClusters = 2,
  kInUnions = 4,
  kInFunctions = 8,
  kInWrappers = 16,      // 0x61, 0x62, 0x83
  kInTypedefs = 32,
  kInDatalogs = 64,      // the record TD of kind-1 refnums
  kInObjectIds = 128,    // the TD of kind-8 subclass-2 refnums
  kInData = kInArrays | kInClusters | kInUnions | kInFunctions | kInWrappers | kInTypedefs,
  kInAll = 255,
};
// Calls fn(offset of child) for each child in order; stops early when fn
// returns false (and then returns false).  A child of size 0 is reported and
// ends the walk.
template <typename Fn>
bool ForEachChild(const uChar* t, uInt32 set, Fn&& fn) {
  switch (Code(t)) {
    case kTDArray:
    case kTDArrayView:
      return !(set & kInArrays) || fn(ArrayElem(t));
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      uInt32 need = Code(t) == kTDCluster ? kInClusters : Code(t) == kTDUnion ? kInUnions : kInFunctions;
      if (!(set & need)) return true;
      int32 n = I16(t + 4);
      int32 off = FirstElem(t);
      for (int32 i = 0; i < n; ++i) {
        uInt16 sz = Size(t + off);
        if (sz == 0) {
          TD_ASSERT("element TD of size 0");
          return false;
        }
        if (!fn(off)) return false;
        off += sz;
      }
      return true;
    }
    case kTDWrapper:
    case kTDTypeOnly:
    case kTDTypedRef:
      return !(set & kInWrappers) || fn(4);
    case kTDTypedef:
      return !(set & kInTypedefs) || fn(TypedefInner(t));
    case kTDRefnum:
      if (I16(t + 4) == kRefnumDatalog) return !(set & kInDatalogs) || fn(6);
      if (I16(t + 4) == kRefnumObject && I16(t + 6) == 2) return !(set & kInObjectIds) || fn(8);
      return true;
    default:
      return true;
  }
}

}  // namespace td
