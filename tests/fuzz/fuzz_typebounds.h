// The bytes that the default data of a type asks for beyond its DataSize:
// bounded and fixed strings and arrays are made whole, and cleared, when
// their data is made.  Fuzz targets whose inputs rewrite stored types skip
// the ones that would fill the address space.
#pragma once
#include <cstdint>
#include <cstring>

#include "engine/datatype.h"

// The type must have passed TDCheckBounds.  Nesting deeper than 16 counts
// as too much.
inline uint64_t FuzzBoundedBytes(const TypeDescriptor* td, int depth = 0) {
  constexpr uint64_t kTooMuch = uint64_t(1) << 40;
  const TypeDescriptor* t = td ? SkipTypedefs(td) : nullptr;
  if (!t || depth > 16) return kTooMuch;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(t);
  switch (t->code) {
    case kTDString:
    case kTDString33:
    case kTDString37:
    case kTDPath: {
      int32_t bound;
      std::memcpy(&bound, p + 4, 4);
      return bound == kTDVariable ? 0 : uint64_t(uint32_t(bound) & 0x7FFFFFFFu);
    }
    case kTDArray: {
      int16_t dims;
      std::memcpy(&dims, p + 4, 2);
      if (dims < 0 || dims > 64) return kTooMuch;
      const int32_t elts = ArrayTDBoundElts(t);
      if (elts == INT32_MIN) return kTooMuch;
      if (elts == kTDVariable) return 0;
      const TypeDescriptor* e = reinterpret_cast<const TypeDescriptor*>(p + 6 + 4 * dims);
      const int32_t size = DataSize(e);
      const uint64_t each = uint64_t(size > 0 ? size : 0) + FuzzBoundedBytes(e, depth + 1);
      return uint64_t(uint32_t(elts) & 0x7FFFFFFFu) * each;
    }
    case kTDCluster: {
      int16_t n;
      std::memcpy(&n, p + 4, 2);
      uint64_t sum = 0;
      for (int32_t i = 0; i < n && sum < kTooMuch; ++i) sum += FuzzBoundedBytes(ElemTD(t, i), depth + 1);
      return sum;
    }
    case kTDUnion: {
      // Its empty value is that of the first member.
      int16_t n;
      std::memcpy(&n, p + 4, 2);
      return n < 1 ? 0 : FuzzBoundedBytes(ElemTD(t, 0), depth + 1);
    }
    default:
      return 0;
  }
}
