// The memory manager, started once per test process whichever fixture
// comes first.  Starting it again would give new zones and leave every
// handle an earlier test cached (a type heap, loaded images, pens) foreign
// to the new ones.
#pragma once
#include <mutex>

#include "mgsource/memory.h"

namespace qxtest {

inline MgErr StartMemoryOnce() {
  static MgErr result = kNoErr;
  static std::once_flag once;
  std::call_once(once, [] { result = MemInit(); });
  return result;
}

}  // namespace qxtest
