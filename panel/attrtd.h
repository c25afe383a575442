// The pieces the property tables' descriptors are built from (the classes'
// sets of properties are clusters of these), and the checks an output array
// gets before a property read resizes it.
#pragma once
#include <cstring>
#include <initializer_list>
#include <vector>

#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace attrtd {

using Bytes = std::vector<uChar>;

// The descriptor with its size word written (padded to an even size).
inline Bytes Sized(Bytes b) {
  if (b.size() & 1) b.push_back(0);
  const uInt16 n = uInt16(b.size());
  std::memcpy(b.data(), &n, 2);
  return b;
}
inline Bytes Num(uChar code) { return Sized({0, 0, code, 0}); }
inline Bytes Bool() { return Num(kTDBoolean); }
inline Bytes Str() { return Sized({0, 0, kTDString, 0, 0xFF, 0xFF, 0xFF, 0xFF}); }
// An array of variable sizes in each of its dimensions.
inline Bytes Arr(const Bytes& e, uChar dims = 1) {
  Bytes b{0, 0, kTDArray, 0, dims, 0};
  for (uChar d = 0; d < dims; ++d) b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  b.insert(b.end(), e.begin(), e.end());
  return Sized(b);
}
inline Bytes Clu(std::initializer_list<Bytes> members) {
  Bytes b{0, 0, kTDCluster, 0, uChar(members.size()), 0};
  for (const Bytes& m : members) b.insert(b.end(), m.begin(), m.end());
  return Sized(b);
}
// The descriptor carrying the property's name (flag 0x40, then the name as
// a Pascal string, padded to an even size).
inline Bytes N(Bytes b, const char* name) {
  b[3] |= kTDFlagName;
  const size_t n = std::strlen(name);
  b.push_back(uChar(n));
  b.insert(b.end(), name, name + n);
  return Sized(b);
}

// An output array handle about to be resized: its counts cleared (its
// elements are rewritten whole), so counts that overrun the handle never
// reach the resize.  False for a cell holding something other than a
// data-space handle of at least its counts.
inline bool ClearOutput(void* cell, int32 dims) {
  UHandle h;
  std::memcpy(&h, cell, sizeof h);
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4 * dims) return false;
  std::memset(*h, 0, size_t(4 * dims));
  return true;
}

// The element descriptor of an array descriptor (after its dimension sizes).
inline const TypeDescriptor* ArrayElem(const TypeDescriptor* array) {
  if (!array || array->code != kTDArray) return nullptr;
  const auto* p = reinterpret_cast<const uChar*>(array);
  const int32 rank = int16(GetNative16(p + 4));
  if (rank < 1 || rank > 64) return nullptr;
  return SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(p + 6 + 4 * rank));
}

}  // namespace attrtd
