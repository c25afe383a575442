// Handles alive in both memory zones, for tests and fuzz targets that check
// that they leave none behind.
#pragma once
#include <initializer_list>

#include "mgsource/memory.h"

inline int32 LiveHandleCount() {
  int32 total = 0;
  for (Bool32 ds : {0, 1}) {
    int32 blocks = 0, free = 0;
    MemZoneCounts(ds, &blocks, &free);
    total += blocks * 10000 - free;
  }
  return total;
}
