// Makes an object heap unable to find room for any new block: the memory
// manager's pool may not grow past its present size, the handle takes every
// byte it can still take in place, and filler blocks take the heap's free
// space.  Undo with the returned value: PoolSetCeiling(PoolInitDefault(), old).
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/pool.h"

namespace heapexhaust {

// Fills every free block of the heap with a block of its exact size (first
// fit takes them in offset order), leaving `room` bytes free in the last one.
inline void FillFree(ObjHeap heap, int32 fillerClass, std::vector<int32>* fillers, uInt32 room = 0) {
  std::vector<uInt32> sizes;
  for (uInt32 f = OHWord(heap, kOHFreeHead); f; f = OHWord(heap, f + 4)) sizes.push_back(OHWord(heap, f) & ~3u);
  for (size_t i = 0; i < sizes.size(); ++i) {
    uInt32 total = sizes[i];
    if (i + 1 == sizes.size()) total = total > room ? total - room : 0;
    if (total < kOHBlockHeader) continue;
    int32 b = OHNewBlock(heap, int32(total - kOHBlockHeader), fillerClass);
    EXPECT_NE(b, 0);
    if (b) fillers->push_back(b);
  }
}

// The heap is first grown past the pool's small-block range, so that every
// further growth needs new pages from the pool.
inline uInt32 Exhaust(ObjHeap heap, int32 fillerClass, std::vector<int32>* fillers, uInt32 room = 0) {
  if (AZGetHandleSize(heap) < 65536) {
    EXPECT_EQ(OHGrowHeap(heap, 65536), kNoErr);
  }
  MemPool* pool = PoolInitDefault();
  uInt32 old = PoolSetCeiling(pool, PoolSize(pool));
  while (OHGrowHeap(heap, 4) == kNoErr) {
  }
  FillFree(heap, fillerClass, fillers, room);
  return old;
}

inline void Restore(uInt32 oldCeiling) {
  PoolSetCeiling(PoolInitDefault(), oldCeiling);
  MemFullReset();
}

}  // namespace heapexhaust
