// Runs every type-descriptor walker over a TD that passed the bounds check:
// shared by the fuzz target and the tests of bad TDs.  The TD lies in a
// buffer of exactly len bytes, so AddressSanitizer sees any read past it.
#pragma once
#include <cstring>
#include <memory>

#include "engine/datatype.h"
#include "engine/omid.h"
#include "mgsource/memory.h"

namespace tdwalk {

inline void ConvertInHandle(const uChar* p, int32 len) {
  UHandle h = AZNewHandle(len);
  if (h) {
    std::memcpy(*h, p, size_t(len));
    MutateStringTDsInTM(h);
    AZDisposeHandle(h);
  }
  for (int32 direction = 0; direction < 2; ++direction) {
    UHandle c = DSNewHandle(len + 4);
    if (!c) continue;
    int32 words = len / 2;
    std::memcpy(*c, &words, 4);
    std::memcpy(*c + 4, p, size_t(len));
    ConvertStringTDsInHandle(c, direction);
    DSDisposeHandle(c);
  }
}

inline void Exercise(const uChar* p, int32 len) {
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(p);
  std::unique_ptr<uChar[]> copy(new uChar[size_t(len)]);
  std::memcpy(copy.get(), p, size_t(len));
  TypeDescriptor* other = reinterpret_cast<TypeDescriptor*>(copy.get());

  // Function TDs describe no data: asking for their size is a caller's fault.
  bool data = SkipTypedefs(td)->code != kTDFunction;
  int16 oldAlign = SetMaxDataAlign(4);
  if (data) {
    (void)DataSize(td);
    (void)AlignDatum(td, 3);
    SetMaxDataAlign(8);
    (void)AlignDatum(td, 1);
  }
  SetMaxDataAlign(1);
  if (data) (void)DataSize(td);
  (void)DataShape(td);
  (void)DataIsFixedSize(td);
  (void)TDIsValid(td);
  (void)TDNamePtr(td);
  (void)TDHasBoolean(td);
  (void)TDHasExtended(td);
  (void)CountStringTDs(td);
  (void)SkipTypedefs(td);
  for (int32 mode : {0, 1, 3, 4, 0x100, 0x200, 0x1000, 0x1307})
    (void)TDCompareWalk(td, other, mode);

  int32 stripped = StripTD(td, nullptr);
  if (stripped > 0) {
    std::unique_ptr<uChar[]> out(new uChar[size_t(stripped)]);
    StripTD(td, reinterpret_cast<TypeDescriptor*>(out.get()));
    (void)TDCompare(td, reinterpret_cast<TypeDescriptor*>(out.get()));
  }
  NormalizeTDPadding(other);
  SetBooleanTDCode(other, kTDBooleanOld);
  std::memcpy(copy.get(), p, size_t(len));
  StripTD(other, other);

  const TypeDescriptor* inner = SkipTypedefs(td);
  switch (inner->code) {
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      int16 n;
      std::memcpy(&n, reinterpret_cast<const uChar*>(inner) + 4, 2);
      for (int32 i = 0; i <= n && i < 64; ++i) (void)ElemTD(inner, i);
      break;
    }
    case kTDArray:
    case kTDArrayView:
      (void)ArrayTDFixedElts(inner);
      (void)ArrayTDBoundElts(inner);
      break;
    case kTDEnumU8:
    case kTDEnumU16:
    case kTDEnumU32: {
      int16 n;
      std::memcpy(&n, reinterpret_cast<const uChar*>(inner) + 4, 2);
      if (n > 0) (void)EnumItemIndex(reinterpret_cast<const uChar*>(inner) + 6, inner);
      std::memcpy(copy.get(), p, size_t(len));
      (void)EnumItemsDiffer(inner, SkipTypedefs(other));
      break;
    }
    case kTDRefnum:
      std::memcpy(copy.get(), p, size_t(len));
      if (td == inner) (void)OMIdCmp(TDGetOMId(td), TDGetOMId(other));
      break;
    default:
      break;
  }
  SetMaxDataAlign(oldAlign);
  ConvertInHandle(p, len);
}

// Classifiers take any bytes.
inline void Classify(const uChar* p, int32 len) {
  (void)ClassifyStringTDForm(p, len);
  (void)ClassifyFileStringTDs(p, len);
}

}  // namespace tdwalk
