// The managers the I/O tests stand on, started once per test process.
#pragma once
#include <mutex>

#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"

inline void IOTestStartManagers() {
  static std::once_flag once;
  std::call_once(once, [] {
    MemInit();
    ThInit();
    OccurInit();
  });
}
